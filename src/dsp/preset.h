#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace quellora {

// The built-in preset selection: `on` is the standard preset, `custom` the
// user's own slider values.
enum class Preset { on, custom };

inline constexpr std::array<Preset, 2> allPresets{Preset::on, Preset::custom};

// The raw value, which is also the preset's identifier and the text shown.
constexpr std::string_view rawValue(Preset preset) {
    return preset == Preset::on ? "On" : "Custom";
}

// Only "On" and "Custom" are recognised, in exactly that case.
constexpr std::optional<Preset> presetFromRawValue(std::string_view text) {
    for (const auto preset : allPresets) {
        if (rawValue(preset) == text) {
            return preset;
        }
    }
    return std::nullopt;
}

} // namespace quellora
