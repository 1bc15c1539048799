#include "app/output_presets.h"

#include "dsp/compressor_param_fields.h"

#include <cstdint>
#include <nlohmann/json.hpp>

namespace quellora {
namespace {

// Floats, so that values print in their shortest single-precision form.
using Json = nlohmann::basic_json<std::map, std::vector, std::string, bool, std::int64_t,
                                  std::uint64_t, float>;

std::optional<CompressorParams> decodeParams(const Json& values) {
    if (!values.is_object()) {
        return std::nullopt;
    }
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

// The preset named by `name`: "On", "Night", or a saved preset's UUID.
std::optional<PresetChoice> namedChoice(const std::string& name) {
    if (const auto preset = presetFromRawValue(name); preset && preset != Preset::custom) {
        return PresetChoice{*preset, std::nullopt, std::nullopt, {}};
    }
    if (const auto id = Uuid::parse(name)) {
        return PresetChoice{Preset::custom, *id, std::nullopt, {}};
    }
    return std::nullopt;
}

std::optional<PresetChoice> decodeChoice(const Json& entry) {
    if (entry.is_string()) {
        return namedChoice(entry.get_ref<const std::string&>());
    }
    if (!entry.is_object() || !entry.contains("preset") || !entry["preset"].is_string()) {
        return std::nullopt;
    }
    const auto& name = entry["preset"].get_ref<const std::string&>();
    const auto params = entry.contains("params") ? decodeParams(entry["params"]) : std::nullopt;
    auto choice = name == rawValue(Preset::custom)
                      ? std::optional(PresetChoice{Preset::custom, std::nullopt, params, {}})
                      : namedChoice(name);
    if (!choice || (choice->preset == Preset::custom && !choice->savedPresetID && !params)) {
        return std::nullopt;
    }
    if (choice->savedPresetID) {
        choice->customParams = params;
    }
    if (const auto evenOut = entry.find("evenOut");
        evenOut != entry.end() && evenOut->is_boolean()) {
        choice->programmes.enabled = evenOut->get<bool>();
    }
    if (const auto target = entry.find("targetLufs");
        target != entry.end() && target->is_number()) {
        const auto lufs = target->get<float>();
        if (lufs == lufs) {
            choice->programmes.targetLufs = clamped(lufs, ParamRange::programmeTarget);
        }
    }
    return choice;
}

} // namespace

std::string encodeOutputPresets(const OutputPresets& presets) {
    auto json = Json::object();
    for (const auto& [uid, choice] : presets) {
        auto entry = Json::object();
        entry["preset"] = choice.savedPresetID ? choice.savedPresetID->uppercaseString()
                                               : std::string(rawValue(choice.preset));
        if (choice.preset == Preset::custom && (choice.customParams || !choice.savedPresetID)) {
            const auto params = clampedToRanges(choice.customParams.value_or(CompressorParams{}));
            auto values = Json::object();
            for (const auto& field : compressorParamFields) {
                values[std::string(field.key)] = params.*field.member;
            }
            entry["params"] = std::move(values);
        }
        entry["evenOut"] = choice.programmes.enabled;
        entry["targetLufs"] = choice.programmes.targetLufs;
        json[uid] = std::move(entry);
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
        if (const auto choice = decodeChoice(value)) {
            presets[uid] = *choice;
        }
    }
    return presets;
}

} // namespace quellora
