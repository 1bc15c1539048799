#pragma once

#include "dsp/channel_layout.h"
#include "engine/hal/audio_hal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quellora {

// Frame counts that make up the latency of the pipeline.
struct LatencyBreakdown {
    std::int64_t lookaheadFrames = 0;
    std::int64_t bufferFrames = 0;
    std::int64_t inputBufferFrames = 0;
    std::int64_t deviceLatencyFrames = 0;
    std::int64_t safetyOffsetFrames = 0;

    std::int64_t addedFrames() const { return lookaheadFrames + bufferFrames + inputBufferFrames; }
    std::int64_t deviceCompensatedFrames() const {
        return deviceLatencyFrames + safetyOffsetFrames;
    }
    double addedMs(double sampleRate) const {
        return sampleRate > 0 ? static_cast<double>(addedFrames()) / sampleRate * 1000.0 : 0.0;
    }
    double deviceCompensatedMs(double sampleRate) const {
        return sampleRate > 0 ? static_cast<double>(deviceCompensatedFrames()) / sampleRate * 1000.0
                              : 0.0;
    }

    friend bool operator==(const LatencyBreakdown&, const LatencyBreakdown&) = default;
};

struct BufferFrameRange {
    std::int64_t min = 0;
    std::int64_t max = 0;
};

// Pure decisions.
std::string transportTypeName(std::uint32_t code);
bool isBluetoothTransport(std::uint32_t code);
std::string bluetoothProfileName(double sampleRate, std::int64_t inputStreamCount);
std::int64_t clampBufferFrames(std::int64_t desired, std::int64_t min, std::int64_t max);
// Where a channel of this label plays, for the processing.
SpeakerPosition speakerPositionOf(std::uint32_t channelLabel);
// The layout the pipeline processes when its tap carries `channels` mixed
// for an output labelled `outputLabels`: the output's, where the counts
// agree, else the conventional one for the count (1 to 8).
ChannelLayout pipelineLayout(std::uint32_t channels,
                             const std::vector<std::uint32_t>& outputLabels);

// Single-property reads and writes. They keep no state, never throw and never
// log; a property a device lacks or cannot deliver gives the neutral value.
// The server's process objects; empty when the list cannot be read.
std::vector<AudioObjectID> readProcessObjectList(AudioHal& hal);
std::optional<std::uint32_t> audioObjectUInt32(AudioHal& hal, AudioObjectID object,
                                               FourCharCode selector, FourCharCode scope);
// A string property at global scope; nothing when absent, empty or unreadable.
std::optional<std::string> audioObjectString(AudioHal& hal, AudioObjectID object,
                                             FourCharCode selector);
std::uint32_t queryTransportType(AudioHal& hal, AudioObjectID device);
double deviceNominalSampleRate(AudioHal& hal, AudioObjectID device);
// The labels of the device's output channels, in order; nothing when it
// cannot tell, or has none or more than AudioChannelLayout holds.
std::optional<std::vector<std::uint32_t>> queryOutputChannelLabels(AudioHal& hal,
                                                                   AudioObjectID device);
std::int64_t deviceInputStreamCount(AudioHal& hal, AudioObjectID device);
std::optional<std::int64_t> queryBufferFrameSize(AudioHal& hal, AudioObjectID device);
std::optional<BufferFrameRange> queryBufferFrameSizeRange(AudioHal& hal, AudioObjectID device);
// Sets the device's IO buffer size, clamped to its range; the size it reports
// afterwards, or nothing when it cannot be set.
std::optional<std::int64_t> applyBufferFrameSize(AudioHal& hal, AudioObjectID device,
                                                 std::int64_t desired);
// The aggregate's buffers with the output device's own latency and safety
// offset: the aggregate's latency is the delay we report for ourselves.
LatencyBreakdown queryAddedLatency(AudioHal& hal, AudioObjectID aggregate, AudioObjectID output,
                                   std::int64_t lookaheadFrames);

} // namespace quellora
