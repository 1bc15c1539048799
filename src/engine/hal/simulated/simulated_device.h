#pragma once

#include "base/dispatcher.h"
#include "engine/hal/audio_hal.h"
#include "engine/hal/simulated/simulated_device_clock.h"
#include "engine/hal/simulated/simulated_io_proc_table.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quellora {

// The 'fsz#' value: the smallest and largest IO buffer, in frames.
struct FrameSizeRange {
    double minimum = 0;
    double maximum = 0;
};

// What the server knows about one device, an output device or an aggregate.
// Main thread only, except the proc table, which the device's IO thread shares.
struct SimulatedDevice {
    std::optional<std::string> uid;
    std::optional<std::string> name;
    bool aliveFlag = true;
    // Until then an aggregate is not alive yet (its server takes a while).
    Dispatcher::TimePoint aliveFrom{};
    double nominalRate = 0;
    std::uint32_t bufferFrameSize = 0;
    // What the engine last told an aggregate its processing delays, in
    // frames; it reads back as the aggregate's latency, as on the server.
    std::optional<std::uint32_t> reportedProcessingLatency;
    std::optional<FrameSizeRange> bufferFrameSizeRange;
    std::uint32_t transportType = AudioTransport::unknown;
    std::vector<AudioObjectID> inputStreams;
    std::uint32_t latencyFrames = 0;
    std::uint32_t safetyOffsetFrames = 0;
    std::uint32_t outputChannelCount = 2;
    // Output devices: where each output channel plays ('srnd').
    std::vector<std::uint32_t> channelLabels;
    // Aggregates: the channels of their tap, the input their procs get.
    std::uint32_t tapChannelCount = 2;

    // Aggregates only.
    std::optional<AggregateDeviceDescription> aggregate;
    AudioObjectID mainDevice = kAudioObjectUnknown;
    bool followsMainRate = false;

    std::shared_ptr<SimulatedIoProcTable> procs = std::make_shared<SimulatedIoProcTable>();
    // While the device runs on its own thread.
    std::unique_ptr<SimulatedDeviceClock> clock;
};

} // namespace quellora
