#include "app/output_presets.h"

#include "dsp/compressor_param_fields.h"

#include <cstdint>
#include <nlohmann/json.hpp>

namespace quellora {
namespace {

// Floats, so that values print in their shortest single-precision form.
using Json = nlohmann::basic_json<std::map, std::vector, std::string, bool, std::int64_t,
                                  std::uint64_t, float>;

std::optional<CompressorParams> decodeCustom(const Json& entry) {
    if (!entry.is_object() || entry.value("preset", std::string()) != rawValue(Preset::custom) ||
        !entry.contains("params") || !entry["params"].is_object()) {
        return std::nullopt;
    }
    const auto& values = entry["params"];
    CompressorParams params;
    for (const auto& field : compressorParamFields) {
        const auto value = values.find(field.key);
        if (value == values.end() || !value->is_number()) {
            return std::nullopt;
        }
        params.*field.member = value->get<float>();
    }
    return clampedToRanges(params);
}

} // namespace

std::string encodeOutputPresets(const OutputPresets& presets) {
    auto json = Json::object();
    for (const auto& [uid, choice] : presets) {
        if (choice.savedPresetID) {
            json[uid] = choice.savedPresetID->uppercaseString();
        } else if (choice.preset == Preset::custom) {
            const auto params = clampedToRanges(choice.customParams.value_or(CompressorParams{}));
            auto values = Json::object();
            for (const auto& field : compressorParamFields) {
                values[std::string(field.key)] = params.*field.member;
            }
            json[uid] = {{"preset", std::string(rawValue(Preset::custom))},
                         {"params", std::move(values)}};
        } else {
            json[uid] = std::string(rawValue(choice.preset));
        }
    }
    // Device names come from the server; one that is not UTF-8 must not make
    // every other output forget its preset.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

OutputPresets decodeOutputPresets(std::string_view text) {
    const auto json = Json::parse(text, nullptr, false);
    if (!json.is_object()) {
        throw SettingsCodingError("the presets of the outputs are not a JSON object");
    }
    OutputPresets presets;
    for (const auto& [uid, value] : json.items()) {
        if (const auto params = decodeCustom(value)) {
            presets[uid] = {Preset::custom, std::nullopt, *params};
            continue;
        }
        if (!value.is_string()) {
            continue;
        }
        const auto& name = value.get_ref<const std::string&>();
        if (const auto preset = presetFromRawValue(name); preset && preset != Preset::custom) {
            presets[uid] = {*preset, std::nullopt, std::nullopt};
        } else if (const auto id = Uuid::parse(name)) {
            presets[uid] = {Preset::custom, *id, std::nullopt};
        }
    }
    return presets;
}

} // namespace quellora
