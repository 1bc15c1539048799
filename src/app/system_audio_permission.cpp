#include "app/system_audio_permission.h"

#include <array>

namespace quellora {
namespace {

constexpr std::array<std::pair<SystemAudioAuthStatus, std::string_view>, 3> rawValues{{
    {SystemAudioAuthStatus::authorized, "authorized"},
    {SystemAudioAuthStatus::denied, "denied"},
    {SystemAudioAuthStatus::undetermined, "undetermined"},
}};

} // namespace

std::string_view rawValue(SystemAudioAuthStatus status) {
    for (const auto& [candidate, text] : rawValues) {
        if (candidate == status) {
            return text;
        }
    }
    return "undetermined";
}

std::optional<SystemAudioAuthStatus> systemAudioAuthStatusFromRawValue(std::string_view text) {
    for (const auto& [status, candidate] : rawValues) {
        if (candidate == text) {
            return status;
        }
    }
    return std::nullopt;
}

} // namespace quellora
