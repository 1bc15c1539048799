#include "engine/device_queries.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quellora {
namespace {

template <typename Value>
std::optional<Value> readValue(AudioHal& hal, AudioObjectID object, FourCharCode selector,
                               FourCharCode scope) {
    const AudioObjectPropertyAddress address{selector, scope, 0};
    if (!hal.hasProperty(object, address)) {
        return std::nullopt;
    }
    Value value{};
    std::uint32_t size = sizeof value;
    if (hal.getPropertyData(object, address, size, &value) != kAudioHardwareNoError ||
        size != sizeof value) {
        return std::nullopt;
    }
    return value;
}

// A bound that is not finite or does not fit counts as unavailable.
std::optional<std::int64_t> truncatedBound(double value) {
    if (!std::isfinite(value) || value >= 9.2e18 || value <= -9.2e18) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

} // namespace

std::string transportTypeName(std::uint32_t code) {
    switch (code) {
    case AudioTransport::unknown:
        return "Unknown";
    case AudioTransport::builtIn:
        return "Built-in";
    case AudioTransport::aggregate:
        return "Aggregate";
    case AudioTransport::virtualDevice:
        return "Virtual";
    case AudioTransport::pci:
        return "PCI";
    case AudioTransport::usb:
        return "USB";
    case AudioTransport::fireWire:
        return "FireWire";
    case AudioTransport::bluetooth:
        return "Bluetooth";
    case AudioTransport::bluetoothLE:
        return "Bluetooth LE";
    case AudioTransport::hdmi:
        return "HDMI";
    case AudioTransport::displayPort:
        return "DisplayPort";
    case AudioTransport::airPlay:
        return "AirPlay";
    case AudioTransport::thunderbolt:
        return "Thunderbolt";
    default:
        return "Other(" + std::to_string(code) + ")";
    }
}

bool isBluetoothTransport(std::uint32_t code) {
    return code == AudioTransport::bluetooth || code == AudioTransport::bluetoothLE;
}

std::string bluetoothProfileName(double sampleRate, std::int64_t inputStreamCount) {
    if (sampleRate > 0 && sampleRate < 32000) {
        return "HFP/call mode (degraded — mic forced the link down)";
    }
    if (inputStreamCount >= 1) {
        return "HFP-capable (mic input present)";
    }
    return "A2DP (high quality)";
}

std::int64_t clampBufferFrames(std::int64_t desired, std::int64_t min, std::int64_t max) {
    if (desired > 0 && min > 0 && max >= min) {
        return std::clamp(desired, min, max);
    }
    return desired;
}

SpeakerPosition speakerPositionOf(std::uint32_t channelLabel) {
    using enum SpeakerPosition;
    namespace Label = AudioChannelLabel;
    switch (channelLabel) {
    case Label::mono:
        return mono;
    case Label::left:
        return frontLeft;
    case Label::right:
        return frontRight;
    case Label::center:
        return frontCentre;
    case Label::lfeScreen:
    case Label::lfe2:
        return lowFrequency;
    case Label::leftSurround:
    case Label::leftSurroundDirect:
    case Label::leftWide:
        return sideLeft;
    case Label::rightSurround:
    case Label::rightSurroundDirect:
    case Label::rightWide:
        return sideRight;
    case Label::rearSurroundLeft:
        return rearLeft;
    case Label::rearSurroundRight:
        return rearRight;
    case Label::leftCenter:
        return frontLeftOfCentre;
    case Label::rightCenter:
        return frontRightOfCentre;
    case Label::centerSurround:
        return rearCentre;
    case Label::topCenterSurround:
        return topCentre;
    case Label::verticalHeightLeft:
        return topFrontLeft;
    case Label::verticalHeightCenter:
        return topFrontCentre;
    case Label::verticalHeightRight:
        return topFrontRight;
    case Label::topBackLeft:
        return topRearLeft;
    case Label::topBackCenter:
        return topRearCentre;
    case Label::topBackRight:
        return topRearRight;
    default:
        return unknown;
    }
}

ChannelLayout pipelineLayout(std::uint32_t channels,
                             const std::vector<std::uint32_t>& outputLabels) {
    auto layout = ChannelLayout::conventional(
        static_cast<int>(std::clamp<std::uint32_t>(channels, 1, ChannelLayout::maxChannels)));
    if (outputLabels.size() == static_cast<std::size_t>(layout.count)) {
        std::transform(outputLabels.begin(), outputLabels.end(), layout.positions.begin(),
                       speakerPositionOf);
    }
    return layout;
}

std::vector<AudioObjectID> readProcessObjectList(AudioHal& hal) {
    const AudioObjectPropertyAddress address{AudioProperty::processObjectList, AudioScope::global,
                                             0};
    std::uint32_t size = 0;
    if (hal.getPropertyDataSize(kAudioObjectSystemObject, address, size) != kAudioHardwareNoError) {
        return {};
    }
    std::vector<AudioObjectID> processes(size / sizeof(AudioObjectID));
    size = static_cast<std::uint32_t>(processes.size() * sizeof(AudioObjectID));
    if (processes.empty() || hal.getPropertyData(kAudioObjectSystemObject, address, size,
                                                 processes.data()) != kAudioHardwareNoError) {
        return {};
    }
    processes.resize(size / sizeof(AudioObjectID));
    return processes;
}

std::optional<std::uint32_t> audioObjectUInt32(AudioHal& hal, AudioObjectID object,
                                               FourCharCode selector, FourCharCode scope) {
    return readValue<std::uint32_t>(hal, object, selector, scope);
}

std::optional<std::string> audioObjectString(AudioHal& hal, AudioObjectID object,
                                             FourCharCode selector) {
    std::optional<std::string> value;
    if (hal.getPropertyString(object, {selector, AudioScope::global, 0}, value) !=
            kAudioHardwareNoError ||
        (value && value->empty())) {
        return std::nullopt;
    }
    return value;
}

std::uint32_t queryTransportType(AudioHal& hal, AudioObjectID device) {
    return audioObjectUInt32(hal, device, AudioProperty::transportType, AudioScope::global)
        .value_or(0);
}

double deviceNominalSampleRate(AudioHal& hal, AudioObjectID device) {
    return readValue<double>(hal, device, AudioProperty::nominalSampleRate, AudioScope::global)
        .value_or(0.0);
}

std::optional<std::vector<std::uint32_t>> queryOutputChannelLabels(AudioHal& hal,
                                                                   AudioObjectID device) {
    const AudioObjectPropertyAddress address{AudioProperty::preferredChannelLayout,
                                             AudioScope::output, 0};
    if (!hal.hasProperty(device, address)) {
        return std::nullopt;
    }
    AudioChannelLayout layout;
    std::uint32_t size = sizeof layout;
    if (hal.getPropertyData(device, address, size, &layout) != kAudioHardwareNoError ||
        size < AudioChannelLayout::headerSize ||
        layout.mChannelLayoutTag != AudioChannelLayout::useChannelDescriptions) {
        return std::nullopt;
    }
    const auto count = layout.mNumberChannelDescriptions;
    if (count < 1 || count > AudioChannelLayout::maxChannelDescriptions ||
        size < AudioChannelLayout::sizeFor(count)) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> labels;
    for (std::uint32_t c = 0; c < count; ++c) {
        labels.push_back(layout.mChannelDescriptions[c].mChannelLabel);
    }
    return labels;
}

std::int64_t deviceInputStreamCount(AudioHal& hal, AudioObjectID device) {
    const AudioObjectPropertyAddress address{AudioProperty::streams, AudioScope::input, 0};
    if (!hal.hasProperty(device, address)) {
        return 0;
    }
    std::uint32_t size = 0;
    if (hal.getPropertyDataSize(device, address, size) != kAudioHardwareNoError) {
        return 0;
    }
    return size / sizeof(AudioObjectID);
}

std::optional<std::int64_t> queryBufferFrameSize(AudioHal& hal, AudioObjectID device) {
    const auto frames =
        audioObjectUInt32(hal, device, AudioProperty::bufferFrameSize, AudioScope::global);
    return frames ? std::optional<std::int64_t>(*frames) : std::nullopt;
}

std::optional<BufferFrameRange> queryBufferFrameSizeRange(AudioHal& hal, AudioObjectID device) {
    struct Range {
        double minimum;
        double maximum;
    };
    const auto range =
        readValue<Range>(hal, device, AudioProperty::bufferFrameSizeRange, AudioScope::global);
    if (!range) {
        return std::nullopt;
    }
    const auto min = truncatedBound(range->minimum);
    const auto max = truncatedBound(range->maximum);
    if (!min || !max) {
        return std::nullopt;
    }
    return BufferFrameRange{*min, *max};
}

std::optional<std::int64_t> applyBufferFrameSize(AudioHal& hal, AudioObjectID device,
                                                 std::int64_t desired) {
    const auto range =
        queryBufferFrameSizeRange(hal, device).value_or(BufferFrameRange{desired, desired});
    const auto frames = clampBufferFrames(desired, range.min, range.max);
    if (frames < 1 || frames > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    const AudioObjectPropertyAddress address{AudioProperty::bufferFrameSize, AudioScope::global, 0};
    if (!hal.hasProperty(device, address)) {
        return std::nullopt;
    }
    const auto value = static_cast<std::uint32_t>(frames);
    if (hal.setPropertyData(device, address, sizeof value, &value) != kAudioHardwareNoError) {
        return std::nullopt;
    }
    const auto readBack =
        audioObjectUInt32(hal, device, AudioProperty::bufferFrameSize, AudioScope::global);
    return readBack ? static_cast<std::int64_t>(*readBack) : frames;
}

LatencyBreakdown queryAddedLatency(AudioHal& hal, AudioObjectID aggregate, AudioObjectID output,
                                   std::int64_t lookaheadFrames) {
    const auto read = [&](AudioObjectID device, FourCharCode selector,
                          FourCharCode scope) -> std::int64_t {
        return audioObjectUInt32(hal, device, selector, scope).value_or(0);
    };
    return {lookaheadFrames, read(aggregate, AudioProperty::bufferFrameSize, AudioScope::global),
            read(aggregate, AudioProperty::bufferFrameSize, AudioScope::input),
            read(output, AudioProperty::latency, AudioScope::output),
            read(output, AudioProperty::safetyOffset, AudioScope::output)};
}

} // namespace quellora
