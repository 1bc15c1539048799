#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quellora {

// Diagnostic and tuning switches of the audio pipeline, read from the
// environment once, on first use, from any thread; fixed for the life of the
// process afterwards.
namespace EngineSwitches {

// "QUELLORA_BUFFER_FRAMES": requested IO buffer size; below 1 keeps the device default.
std::int64_t desiredBufferFrames();
// "QUELLORA_TAP_DRIFTCOMP": drift compensation of the tap; off only for "0".
// Only a Core Audio aggregate acts on it, so the help does not list it.
bool tapDriftCompensation();
// "QUELLORA_KEEPALIVE": a faint noise floor on the output; on only for "1".
bool keepAlive();
// "QUELLORA_KEEPALIVE_AMP": peak amplitude of that noise.
float keepAliveAmp();
// "QUELLORA_CLICK_DEBUG": click measurement in the output callback; on only for "1".
bool clickDebug();

// The parsing rules, for an absent (nullopt) or present value.
std::int64_t parseBufferFrames(std::optional<std::string_view> value);
bool parseTapDriftCompensation(std::optional<std::string_view> value);
bool parseExactlyOne(std::optional<std::string_view> value);
float parseKeepAliveAmp(std::optional<std::string_view> value);

inline constexpr float defaultKeepAliveAmp = 0.0001f;

} // namespace EngineSwitches

} // namespace quellora
