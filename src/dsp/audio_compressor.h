#pragma once

#include "dsp/audio_level_buffer.h"
#include "dsp/channel_layout.h"
#include "dsp/compressor_params.h"
#include "dsp/instruction_set.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace quellora {

namespace compressor_kernel {
struct Coefficients;
struct Channels;
struct Workspace;
} // namespace compressor_kernel

class DynamicsProcessor {
public:
    virtual ~DynamicsProcessor() = default;
    virtual void updateParams(const CompressorParams& params, float sampleRate) = 0;
    virtual void processNonInterleaved(float* left, float* right,
                                       std::int64_t frameCount) noexcept = 0;
    virtual void reset() noexcept = 0;
};

// Linked feed-forward compressor: 5 ms lookahead, high-passed sidechain,
// soft knee, hold, automatic makeup, dry/wet mix and a 10 ms bypass
// crossfade. One detector listens to every channel but the low-frequency
// effects and one gain goes to all of them, mono to 7.1, so the image stays
// where the mix put it. Each process call pushes one meter sample of the
// detected channels.
//
// Threads: the process calls run on one real-time thread and never allocate,
// lock or make a system call. updateParams and the bypass switch come from
// the main thread at any time; their values are relaxed atomics read once per
// buffer, so one buffer may mix old and new coefficients. reset(),
// prepareForResume() and an updateParams that changes the lookahead (a new
// sample rate) rewrite the signal history and must only run while no process
// call can run.
class AudioCompressor final : public DynamicsProcessor {
public:
    static constexpr std::int64_t maxLookaheadSamples = 960;
    // The sidechain high-pass corner never exceeds this fraction of the rate.
    static constexpr float maxSidechainCorner = 0.45f;

    explicit AudioCompressor(InstructionSet instructionSet = bestInstructionSet());
    ~AudioCompressor() override;
    AudioCompressor(const AudioCompressor&) = delete;
    AudioCompressor& operator=(const AudioCompressor&) = delete;

    // Parameters outside their ranges are clamped into them; one that is not
    // a number takes the standard preset's value.
    void updateParams(const CompressorParams& params, float sampleRate) override;

    // Interleaved frames in place, in the layout given or, by count, in the
    // conventional one. A single channel goes to processMono; channels
    // beyond the eighth are left untouched.
    void processInterleaved(float* buffer, std::int64_t frameCount,
                            std::int64_t channelCount) noexcept;
    void processInterleaved(float* buffer, std::int64_t frameCount,
                            const ChannelLayout& layout) noexcept;
    // Frames of `stride` floats whose first `layout.count` are processed.
    void processInterleaved(float* buffer, std::int64_t frameCount, std::int64_t stride,
                            const ChannelLayout& layout) noexcept;
    void processMono(float* buffer, std::int64_t frameCount) noexcept;
    void processNonInterleaved(float* left, float* right,
                               std::int64_t frameCount) noexcept override;

    // Clears all signal history and the meter history; the bypass crossfade
    // jumps to its end.
    void reset() noexcept override;
    // Clears the detector but keeps the delay lines, for restarting IO after
    // an idle suspend: the first frames start at unity gain and glide into
    // compression over 2 ms.
    void prepareForResume() noexcept;

    bool bypassed() const { return bypassed_.load(std::memory_order_relaxed); }
    // Takes effect through the crossfade, never instantly.
    void setBypassed(bool bypassed);

    AudioLevelBuffer& levelBuffer() { return levelBuffer_; }
    const AudioLevelBuffer& levelBuffer() const { return levelBuffer_; }

    // Derived values, for diagnostics and tests.
    float attackCoeff() const { return attackCoeff_.load(std::memory_order_relaxed); }
    float releaseCoeff() const { return releaseCoeff_.load(std::memory_order_relaxed); }
    float secondaryCoeff() const { return secondaryCoeff_.load(std::memory_order_relaxed); }
    float makeupDb() const { return makeupDb_.load(std::memory_order_relaxed); }
    float bypassRampStep() const { return bypassRampStep_.load(std::memory_order_relaxed); }
    std::int64_t holdSamples() const { return holdSamples_.load(std::memory_order_relaxed); }
    std::int64_t lookaheadSamples() const {
        return lookaheadSamples_.load(std::memory_order_relaxed);
    }

private:
    using BlockProcessor = LevelSample (*)(const compressor_kernel::Coefficients&,
                                           compressor_kernel::Workspace&,
                                           const compressor_kernel::Channels&, std::int64_t);

    void process(const compressor_kernel::Channels& channels, std::int64_t frameCount) noexcept;
    compressor_kernel::Coefficients loadCoefficients() const noexcept;
    void clearDelayLines() noexcept;

    BlockProcessor processBlock;
    std::atomic<bool> bypassed_{false};
    AudioLevelBuffer levelBuffer_;

    // Written by the main thread, read once per buffer by the processing thread.
    std::atomic<float> threshold_{0.0f};
    std::atomic<float> ratio_{1.0f};
    std::atomic<float> kneeWidth_{10.0f};
    std::atomic<float> mix_{1.0f};
    std::atomic<float> attackCoeff_{0.0f};
    std::atomic<float> releaseCoeff_{0.0f};
    std::atomic<float> secondaryCoeff_{0.0f};
    std::atomic<float> hpf_b0{1.0f};
    std::atomic<float> hpf_b1{0.0f};
    std::atomic<float> hpf_b2{0.0f};
    std::atomic<float> hpf_a1{0.0f};
    std::atomic<float> hpf_a2{0.0f};
    std::atomic<std::int64_t> holdSamples_{960};
    std::atomic<float> makeupDb_{0.0f};
    std::atomic<float> bypassTarget{0.0f};
    std::atomic<float> bypassRampStep_{1.0f / 480.0f};
    std::atomic<std::int64_t> lookaheadSamples_{240};
    bool paramInitialized = false; // main thread only

    // Signal history and scratch, owned by the processing thread; allocated
    // with the compressor so that processing never allocates.
    std::unique_ptr<compressor_kernel::Workspace> workspace;
};

} // namespace quellora
