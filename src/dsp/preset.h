#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace quellora {

// The built-in preset selection: `on` is the standard preset, `custom` the
// user's own slider values, `night` the Night chain.
enum class Preset { on, custom, night };

inline constexpr std::array<Preset, 3> allPresets{Preset::on, Preset::custom, Preset::night};

// The raw value, which is also the preset's identifier and the text shown.
constexpr std::string_view rawValue(Preset preset) {
    switch (preset) {
    case Preset::on:
        return "On";
    case Preset::custom:
        return "Custom";
    case Preset::night:
        return "Night";
    }
    return "";
}

// Only "On", "Custom" and "Night" are recognised, in exactly that case.
constexpr std::optional<Preset> presetFromRawValue(std::string_view text) {
    for (const auto preset : allPresets) {
        if (rawValue(preset) == text) {
            return preset;
        }
    }
    return std::nullopt;
}

} // namespace quellora
