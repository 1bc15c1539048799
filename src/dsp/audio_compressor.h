#pragma once

#include "base/triple_buffer.h"
#include "dsp/audio_level_buffer.h"
#include "dsp/channel_layout.h"
#include "dsp/compressor_params.h"
#include "dsp/instruction_set.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace quellora {

namespace compressor_kernel {
struct Coefficients;
struct Channels;
struct Workspace;
} // namespace compressor_kernel

// Linked feed-forward compressor: 5 ms lookahead, high-passed sidechain,
// soft knee, hold, automatic makeup, dry/wet mix and a 10 ms bypass
// crossfade. One detector listens to every channel but the low-frequency
// effects and one gain goes to all of them, mono to 7.1, so the image stays
// where the mix put it. Each process call pushes one meter sample of the
// detected channels.
//
// Threads: the process calls run on one real-time thread and never allocate,
// lock or make a system call. updateParams and the bypass switch come from
// the main thread at any time and publish every coefficient together; each
// process call takes the newest set once, at its start, so no buffer mixes
// old and new values. A new lookahead (a new sample rate) is applied by the
// process call that first sees it. reset() and prepareForResume() rewrite
// the signal history and must only run while no process call can run.
class AudioCompressor final {
public:
    // The sidechain high-pass corner never exceeds this fraction of the rate.
    static constexpr float maxSidechainCornerOfRate = 0.45f;

    explicit AudioCompressor(InstructionSet instructionSet = bestInstructionSet());
    ~AudioCompressor();
    AudioCompressor(const AudioCompressor&) = delete;
    AudioCompressor& operator=(const AudioCompressor&) = delete;

    // Parameters outside their ranges are clamped into them; one that is not
    // a number takes the standard preset's value.
    void updateParams(const CompressorParams& params, float sampleRate);

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
    void processNonInterleaved(float* left, float* right, std::int64_t frameCount) noexcept;

    // Clears all signal history and the meter history; the bypass crossfade
    // jumps to its end.
    void reset() noexcept;
    // Clears the detector but keeps the delay lines, for restarting IO after
    // an idle suspend: the first frames start at unity gain and glide into
    // compression over 2 ms.
    void prepareForResume() noexcept;

    bool bypassed() const { return bypassed_.load(std::memory_order_relaxed); }
    // Takes effect through the crossfade, never instantly.
    void setBypassed(bool bypassed);

    AudioLevelBuffer& levelBuffer() { return levelBuffer_; }
    const AudioLevelBuffer& levelBuffer() const { return levelBuffer_; }

    // The lookahead the next process call applies, for latency reports.
    std::int64_t lookaheadSamples() const;

private:
    using BlockProcessor = LevelSample (*)(const compressor_kernel::Coefficients&,
                                           compressor_kernel::Workspace&,
                                           const compressor_kernel::Channels&, std::int64_t);

    void process(const compressor_kernel::Channels& channels, std::int64_t frameCount) noexcept;
    void publish(const compressor_kernel::Coefficients& coefficients);
    void clearDelayLines() noexcept;

    BlockProcessor processBlock;
    std::atomic<bool> bypassed_{false};
    AudioLevelBuffer levelBuffer_;

    // The newest coefficients, main thread only, and their way to the
    // processing thread.
    std::unique_ptr<compressor_kernel::Coefficients> current;
    std::unique_ptr<TripleBuffer<compressor_kernel::Coefficients>> published;

    // Signal history and scratch, owned by the processing thread; allocated
    // with the compressor so that processing never allocates.
    std::unique_ptr<compressor_kernel::Workspace> workspace;
};

} // namespace quellora
