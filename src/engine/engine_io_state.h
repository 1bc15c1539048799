#pragma once

#include "dsp/audio_compressor.h"
#include "dsp/channel_layout.h"
#include "dsp/processing_chain.h"
#include "engine/audio_ring_buffer.h"
#include "engine/engine_switches.h"
#include "engine/hal/audio_hal.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace quellora {

// Everything the two IO callbacks touch, shared by the main thread (which
// owns it, resets it while IO is stopped and reads the counters), the capture
// and output IO threads and the diagnostics queue. Counters are relaxed
// atomics: they carry no data between threads. Plain fields are written only
// by the main thread while both callbacks are stopped.
struct EngineIOState {
    static constexpr std::int64_t maxCallbackFrames = 8192;
    static constexpr std::int64_t maxChannels = ChannelLayout::maxChannels;
    static constexpr std::int64_t scratchFloats = maxChannels * maxCallbackFrames;
    // The fade-in after an idle resume (50 ms at 48 kHz): long enough to
    // hide a click and the detector settling, short enough that a short
    // sound after a pause (a notification) is heard whole.
    static constexpr std::int64_t fadeInFrames = 2400;

    explicit EngineIOState(const EngineSwitchValues& switchValues)
        : switches(switchValues) {}

    const EngineSwitchValues switches;
    // Frames of the pipeline's channels; storage for up to 7.1.
    AudioRingBuffer ring{16384, 2, maxChannels};
    // Processes every captured buffer; its compressor stage is also reached
    // directly, for its meters and the idle suspend.
    ProcessingChain chain;
    AudioCompressor& compressor = chain.compressor();

    // The channels the pipeline carries from the tap to the output, as the
    // output lays them out; written with the ring's channel count while both
    // callbacks are stopped.
    ChannelLayout _channelLayout = ChannelLayout::stereo();

    // Interleaved scratch of the pipeline's channels, one per callback;
    // allocated when the callbacks are installed, freed after they are
    // destroyed.
    std::unique_ptr<float[]> _captureScratch;
    std::unique_ptr<float[]> _outputScratch;

    std::atomic<bool> _ringStarted{false};
    std::atomic<std::int64_t> _fadeInRemaining{0};
    // Set with a resume's fade-in: the fade starts with the tap's first
    // sound, not during the cycles an aggregate runs before its links and
    // the player's first buffers reach it, or that sound would play unfaded.
    std::atomic<bool> _fadeInWaitsForTap{false};
    std::atomic<std::uint32_t> _keepAliveRng{0x9e3779b9u};
    std::atomic<float> _clickLastOut{0.0f};
    // Read by the diagnostics queue.
    std::atomic<float> _sampleRate{48000.0f};
    std::atomic<bool> ioSuspended{false};

    std::atomic<std::int64_t> _ringUnderflowFrames{0};
    std::atomic<std::int64_t> _ringDroppedFrames{0};
    std::atomic<std::int64_t> _ringSkippedFrames{0};
    std::atomic<std::int64_t> _ioProcMaxTicks{0};
    std::atomic<std::int64_t> _ioProcSumTicks{0};
    std::atomic<std::int64_t> _ioProcCalls{0};
    std::atomic<std::int64_t> _ioProcFrames{0};
    std::atomic<std::int64_t> _overloadCount{0};
    std::atomic<std::int64_t> _clickMaxStepMicro{0};
    std::atomic<std::int64_t> _clickCode{0};
    std::atomic<std::int64_t> _clickInputCount{0};
    std::atomic<std::int64_t> _clickOutputCount{0};
    std::atomic<std::int64_t> _clickFade{0};
    std::atomic<std::int64_t> _zeroInputBuffers{0};

    // Main thread, with both callbacks stopped: the layout from now on, and
    // an empty ring for it.
    void setChannelLayout(const ChannelLayout& layout) {
        _channelLayout = layout;
        ring.reset(layout.count);
    }
};

// The capture IOProc's body: the tap's audio in, compressed into the ring.
void runCaptureCallback(EngineIOState& io, const AudioBufferList& input,
                        AudioBufferList& output) noexcept;

// The output IOProc's body: the ring out to the device's buffers.
void runOutputCallback(EngineIOState& io, AudioBufferList& output) noexcept;

} // namespace quellora
