#pragma once

#include "dsp/channel_layout.h"
#include "dsp/instruction_set.h"
#include "dsp/loudness_meter.h"

#include <array>
#include <cstdint>
#include <memory>

namespace quellora {

// The last stage of the Night chain: a lookahead limiter that keeps the true
// peak (the 4x oversampled waveform a converter reconstructs, not just the
// samples) at or below `ceilingDbtp`. Each frame's required gain comes from
// its oversampled peak; a sliding minimum over the lookahead, a release
// smoother and a moving average over the lookahead turn it into a gain that
// is already down when the peak leaves the delay line and never changes
// faster than one lookahead ramp. A final clamp at `safetyDbfs` guards the
// samples against anything the estimate missed.
//
// Threads: process() runs on one real-time thread and never allocates,
// locks or makes a system call; reset() runs on that thread or while no
// process call can run, prepare() only while none can.
class TruePeakLimiter {
public:
    static constexpr float ceilingDbtp = -1.5f;
    static constexpr float safetyDbfs = -1.0f;
    static constexpr float lookaheadMs = 2.0f;
    static constexpr float releaseMs = 80.0f;
    static constexpr int maxWindowFrames = 512;
    static constexpr int chunkFrames = 256;

    explicit TruePeakLimiter(InstructionSet instructionSet = bestInstructionSet());
    ~TruePeakLimiter();
    TruePeakLimiter(const TruePeakLimiter&) = delete;
    TruePeakLimiter& operator=(const TruePeakLimiter&) = delete;

    void prepare(float sampleRate);
    // Clears the signal history; the bypass glide jumps to `bypassPosition`.
    void reset(float bypassPosition = 0.0f) noexcept;
    // As ProgrammeLeveller::process: the first `channels` (1 to 8) of each
    // frame of `stride` floats, in place; bypass glides over 10 ms. While
    // bypassed the samples are only kept within -1...1. Every channel counts
    // toward the peak, the low-frequency effects too: a limiter that let
    // them through would leave the bass to the hard clamp.
    void process(float* samples, std::int64_t frameCount, std::int64_t stride, int channels,
                 float bypassTarget) noexcept;

    // Frames between a sample going in and coming out.
    std::int64_t lookaheadSamples() const { return delayFrames; }

    struct Workspace;
    using PeakFinder = void (*)(const LoudnessMeter::InterpolatorTaps&, Workspace&, int channels,
                                int frames);

private:
    bool atRest(const Workspace& w, int frames, float ceiling) const noexcept;
    void passDelayed(Workspace& w, float* chunk, int frames, std::int64_t stride, int channels,
                     float bypassTarget) const noexcept;
    static void keepHistory(Workspace& w, int channels, int frames) noexcept;
    // Whether every sample the chunk's interpolations read is at most `level`.
    static bool quietBelow(const Workspace& w, int channels, int frames, float level) noexcept;

    PeakFinder findPeaks;
    LoudnessMeter::InterpolatorTaps taps{};
    float interpolatorGain = 1.0f; // largest sum of absolute taps of a phase
    std::int64_t windowFrames = 96;
    std::int64_t delayFrames = 102;
    float releaseCoeff = 0.0f;
    float bypassStep = 1.0f / 480.0f;
    std::unique_ptr<Workspace> workspace;
};

} // namespace quellora
