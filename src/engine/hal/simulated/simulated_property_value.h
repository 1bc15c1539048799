#pragma once

#include "engine/hal/audio_hal.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace quellora {

// A property's current value in the server's wire form, and the rules for
// handing it to a caller: fixed-size values need a buffer that holds them
// whole, arrays are copied as far as the caller's buffer goes, and strings
// are only readable as strings.
class SimulatedPropertyValue {
public:
    template <typename Value>
    static SimulatedPropertyValue fixed(const Value& value) {
        static_assert(std::is_trivially_copyable_v<Value>);
        SimulatedPropertyValue result;
        result.bytes_.resize(sizeof value);
        std::memcpy(result.bytes_.data(), &value, sizeof value);
        return result;
    }

    template <typename Element>
    static SimulatedPropertyValue array(const std::vector<Element>& elements) {
        static_assert(std::is_trivially_copyable_v<Element>);
        SimulatedPropertyValue result;
        result.isArray_ = true;
        result.bytes_.resize(elements.size() * sizeof(Element));
        if (!elements.empty()) {
            std::memcpy(result.bytes_.data(), elements.data(), result.bytes_.size());
        }
        return result;
    }

    static SimulatedPropertyValue string(std::optional<std::string> text);
    // A record of variable length (a channel layout): read whole, like a
    // fixed-size value.
    static SimulatedPropertyValue record(std::vector<std::byte> bytes);

    bool isString() const { return isString_; }
    const std::optional<std::string>& text() const { return text_; }

    std::uint32_t byteSize() const { return static_cast<std::uint32_t>(bytes_.size()); }
    // Copies into `data` (capacity `size`) and sets `size` to the bytes written.
    OSStatus copyTo(std::uint32_t& size, void* data) const;

private:
    std::vector<std::byte> bytes_;
    bool isArray_ = false;
    bool isString_ = false;
    std::optional<std::string> text_;
};

} // namespace quellora
