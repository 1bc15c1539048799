#include "engine/hal/simulated/simulated_property_value.h"

#include <algorithm>

namespace quellora {

SimulatedPropertyValue SimulatedPropertyValue::string(std::optional<std::string> text) {
    SimulatedPropertyValue result;
    result.isString_ = true;
    result.text_ = std::move(text);
    return result;
}

SimulatedPropertyValue SimulatedPropertyValue::record(std::vector<std::byte> bytes) {
    SimulatedPropertyValue result;
    result.bytes_ = std::move(bytes);
    return result;
}

OSStatus SimulatedPropertyValue::copyTo(std::uint32_t& size, void* data) const {
    if (isString_) {
        return kAudioHardwareIllegalOperationError;
    }
    if (!isArray_ && size < byteSize()) {
        return kAudioHardwareBadPropertySizeError;
    }
    const auto written = std::min(size, byteSize());
    if (written > 0 && data == nullptr) {
        return kAudioHardwareIllegalOperationError;
    }
    if (written > 0) {
        std::memcpy(data, bytes_.data(), written);
    }
    size = written;
    return kAudioHardwareNoError;
}

} // namespace quellora
