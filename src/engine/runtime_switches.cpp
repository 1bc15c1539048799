#include "engine/runtime_switches.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace quellora::EngineSwitches {
namespace {

std::optional<std::string_view> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string_view>(value) : std::nullopt;
}

// std::from_chars takes no leading '+', which these values allow.
std::string_view withoutPlusSign(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

template <typename Number, typename... Format>
std::optional<Number> parseWhole(std::string_view text, Format... format) {
    text = withoutPlusSign(text);
    Number number{};
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number, format...);
    if (error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return number;
}

} // namespace

std::int64_t parseBufferFrames(std::optional<std::string_view> value) {
    if (!value || value->empty()) {
        return 0;
    }
    return parseWhole<std::int64_t>(*value).value_or(0);
}

bool parseTapDriftCompensation(std::optional<std::string_view> value) {
    return value != "0";
}

bool parseExactlyOne(std::optional<std::string_view> value) {
    return value == "1";
}

float parseKeepAliveAmp(std::optional<std::string_view> value) {
    if (!value || value->empty()) {
        return defaultKeepAliveAmp;
    }
    const auto amplitude = parseWhole<float>(*value, std::chars_format::general);
    // An infinite or NaN amplitude would turn the output into garbage.
    return amplitude && std::isfinite(*amplitude) ? *amplitude : defaultKeepAliveAmp;
}

std::int64_t desiredBufferFrames() {
    static const std::int64_t value = parseBufferFrames(environmentValue("QUELLORA_BUFFER_FRAMES"));
    return value;
}

bool tapDriftCompensation() {
    static const bool value = parseTapDriftCompensation(environmentValue("QUELLORA_TAP_DRIFTCOMP"));
    return value;
}

bool keepAlive() {
    static const bool value = parseExactlyOne(environmentValue("QUELLORA_KEEPALIVE"));
    return value;
}

float keepAliveAmp() {
    static const float value = parseKeepAliveAmp(environmentValue("QUELLORA_KEEPALIVE_AMP"));
    return value;
}

bool clickDebug() {
    static const bool value = parseExactlyOne(environmentValue("QUELLORA_CLICK_DEBUG"));
    return value;
}

} // namespace quellora::EngineSwitches
