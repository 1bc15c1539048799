#include "base/utf8.h"

#include <fmt/format.h>

#include <cstddef>
#include <cstdint>

namespace quellora {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// The length of the well-formed sequence at `at`, or 0 when there is none.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t index) {
        return static_cast<std::uint8_t>(text[at + index]);
    };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    // The allowed range of the second byte rules out overlong forms,
    // surrogates and code points beyond U+10FFFF.
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - at < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t index = 2; index < length; ++index) {
        if (byte(index) < 0x80 || byte(index) > 0xBF) {
            return 0;
        }
    }
    return length;
}

} // namespace

std::string validUtf8(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const auto length = sequenceLength(text, at);
        if (length == 0) {
            valid += replacement;
            ++at;
        } else {
            valid += text.substr(at, length);
            at += length;
        }
    }
    return valid;
}

std::string escapedControls(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[at]);
        const auto length = sequenceLength(text, at);
        if (length == 0 || lead < 0x20 || lead == 0x7F) {
            shown += fmt::format("\\x{:02X}", lead);
            ++at;
            continue;
        }
        const auto second = length == 2 ? static_cast<std::uint8_t>(text[at + 1]) : 0;
        if (lead == 0xC2 && second <= 0x9F) { // U+0080 to U+009F
            shown += fmt::format("\\u{:04X}", second);
        } else {
            shown += text.substr(at, length);
        }
        at += length;
    }
    return shown;
}

} // namespace quellora
