#include "dsp/saved_preset.h"

#include "dsp/compressor_param_fields.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>

namespace quellora {
namespace {

// Numbers are held as 32-bit floats so that they print in their shortest
// single-precision form (0.95, not 0.949999988079071) and values that do not
// fit a float fail to decode.
using Json = nlohmann::basic_json<std::map, std::vector, std::string, bool, std::int64_t,
                                  std::uint64_t, float>;

const Json& requireMember(const Json& object, std::string_view key, std::string_view where) {
    const auto found = object.find(key);
    if (found == object.end()) {
        throw PresetCodingError(fmt::format("{} lacks \"{}\"", where, key));
    }
    return *found;
}

CompressorParams decodeParams(const Json& object, std::string_view where) {
    if (!object.is_object()) {
        throw PresetCodingError(fmt::format("{}: \"params\" is not an object", where));
    }
    CompressorParams params;
    for (const auto& field : compressorParamFields) {
        const auto& value = requireMember(object, field.key, where);
        if (!value.is_number()) {
            throw PresetCodingError(fmt::format("{}: \"{}\" is not a number", where, field.key));
        }
        params.*field.member = value.get<float>();
    }
    // A hand-edited or foreign file must not reach the compressor out of range.
    return clampedToRanges(params);
}

SavedPreset decodeRecord(const Json& record, std::size_t index) {
    const auto where = fmt::format("saved preset {}", index + 1);
    if (!record.is_object()) {
        throw PresetCodingError(fmt::format("{} is not an object", where));
    }
    const auto& id = requireMember(record, "id", where);
    const auto& name = requireMember(record, "name", where);
    const auto& params = requireMember(record, "params", where);
    if (!id.is_string()) {
        throw PresetCodingError(fmt::format("{}: \"id\" is not a string", where));
    }
    const auto uuid = Uuid::parse(id.get<std::string>());
    if (!uuid) {
        throw PresetCodingError(fmt::format("{}: \"id\" is not a UUID", where));
    }
    if (!name.is_string()) {
        throw PresetCodingError(fmt::format("{}: \"name\" is not a string", where));
    }
    return SavedPreset{*uuid, name.get<std::string>(), decodeParams(params, where)};
}

} // namespace

std::string encodeSavedPresets(std::span<const SavedPreset> presets) {
    Json array = Json::array();
    for (const auto& preset : presets) {
        Json params = Json::object();
        for (const auto& field : compressorParamFields) {
            const float value = preset.params.*field.member;
            if (!std::isfinite(value)) {
                throw PresetCodingError(fmt::format("preset \"{}\": \"{}\" is not a finite number",
                                                    preset.name, field.key));
            }
            params[std::string(field.key)] = value;
        }
        array.push_back(Json{{"id", preset.id.uppercaseString()},
                             {"name", preset.name},
                             {"params", std::move(params)}});
    }
    try {
        return array.dump(-1, ' ', false, Json::error_handler_t::strict);
    } catch (const nlohmann::json::exception&) {
        throw PresetCodingError("a preset name is not valid UTF-8 text");
    }
}

std::vector<SavedPreset> decodeSavedPresets(std::string_view json) {
    Json document;
    try {
        document = Json::parse(json);
    } catch (const nlohmann::json::exception& error) {
        throw PresetCodingError(fmt::format("not valid JSON ({})", error.what()));
    }
    if (!document.is_array()) {
        throw PresetCodingError("not a JSON array of saved presets");
    }
    std::vector<SavedPreset> presets;
    presets.reserve(document.size());
    for (std::size_t index = 0; index < document.size(); ++index) {
        presets.push_back(decodeRecord(document[index], index));
    }
    return presets;
}

} // namespace quellora
