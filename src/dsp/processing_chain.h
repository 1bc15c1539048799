#pragma once

#include "dsp/audio_compressor.h"
#include "dsp/audio_level_buffer.h"
#include "dsp/compressor_params.h"
#include "dsp/loudness_compensator.h"
#include "dsp/programme_leveller.h"
#include "dsp/true_peak_limiter.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>

namespace quellora {

// Which stages run. `standard` is the compressor alone, exactly, unless a
// programme target is set; `night` levels speech before it and limits true
// peaks after it.
enum class ChainKind { standard, night };

// The compressor's settings inside the Night chain: it only catches what
// is fast and well above the levelled programme (the leveller sets the
// level, so no makeup).
constexpr CompressorParams nightCompressorParams() {
    return {-10.0f, 3.0f, 5.0f, 250.0f, 12.0f, 1.0f, 120.0f};
}

// The steady output level, in dB, of a steady input level through the
// chain's static stages: the compressor's curve, capped by the limiter's
// ceiling in Night. (The leveller has no static curve: it moves slowly.)
float chainSteadyStateOutputDb(ChainKind kind, const CompressorParams& params, float inputDb);

// Everything that processes the captured audio, in order: the engine and
// `quellora process` both own one and call it the same way. With a
// programme target, the standard kind runs leveller, compressor, loudness
// compensator and true-peak limiter: the leveller brings every programme to
// the target before the compressor, and the compensator undoes what the
// compressor then did to its loudness, so the output lands on the target.
//
// Threads: the process calls run on one real-time thread and never
// allocate, lock or make a system call. updateParams, selectKind and the
// bypass switch come from the main thread at any time, and so does the
// programme target; a change of kind, or switching the target on or off,
// takes effect at a block boundary behind a 5 ms fade out and in, since the
// chains differ in delay (a new target value needs none: the leveller moves
// to it). reset(), prepareForResume() and an updateParams
// with a new rate must only run while no process call can run.
class ProcessingChain {
public:
    explicit ProcessingChain(InstructionSet instructionSet = bestInstructionSet());
    ProcessingChain(const ProcessingChain&) = delete;
    ProcessingChain& operator=(const ProcessingChain&) = delete;

    void updateParams(const CompressorParams& params, float sampleRate);
    void selectKind(ChainKind kind);
    ChainKind kind() const { return requestedKind.load(std::memory_order_relaxed); }
    // "Even out programmes" at `targetLufs` (clamped into its range); none:
    // off. Night keeps its own aim either way.
    void setProgrammeTarget(std::optional<float> targetLufs);
    std::optional<float> programmeTarget() const;

    // Frames of delay the selected chain adds: what players are told.
    std::int64_t lookaheadSamples() const;

    // Interleaved frames in place, in the layout given or, by count, in the
    // conventional one: every stage links all channels. Channels beyond the
    // eighth are left untouched.
    void processInterleaved(float* buffer, std::int64_t frameCount,
                            std::int64_t channelCount) noexcept;
    void processInterleaved(float* buffer, std::int64_t frameCount,
                            const ChannelLayout& layout) noexcept;
    void processMono(float* buffer, std::int64_t frameCount) noexcept;

    // All stages' signal history and the meter history; the selected kind
    // takes over at once and the bypass glides jump to their end.
    void reset() noexcept;
    // After an idle pause: the compressor starts afresh and the limiter's
    // delay holds no audio from before the pause, while the leveller keeps
    // its slow gain, so a paused film resumes at the level it had.
    void prepareForResume() noexcept;

    void setBypassed(bool bypassed) { compressor_.setBypassed(bypassed); }
    bool bypassed() const { return compressor_.bypassed(); }

    // The compressor stage, whose meter history the displays read: they
    // show what that stage sees.
    AudioCompressor& compressor() { return compressor_; }
    const AudioCompressor& compressor() const { return compressor_; }
    // What the applications send, before any stage: one sample per process
    // call, its input peak in both peak fields.
    AudioLevelBuffer& sourceLevels() { return sourceLevels_; }
    const AudioLevelBuffer& sourceLevels() const { return sourceLevels_; }
    const ProgrammeLeveller& leveller() const { return leveller_; }

private:
    // The stages that run, and the leveller's aim.
    enum class Shape { compressorOnly, night, programmes };
    Shape requestedShape() const noexcept;
    bool levels(Shape shape) const noexcept { return shape != Shape::compressorOnly; }

    void process(float* buffer, std::int64_t frameCount, std::int64_t stride,
                 const ChannelLayout& layout) noexcept;
    void processLevelled(float* buffer, std::int64_t frameCount, std::int64_t stride,
                         const ChannelLayout& layout) noexcept;
    void fade(float* buffer, std::int64_t frameCount, std::int64_t stride, int channels) noexcept;
    void noteSourcePeak(const float* buffer, std::int64_t frameCount, std::int64_t stride,
                        int channels) noexcept;

    AudioCompressor compressor_;
    ProgrammeLeveller leveller_;
    LoudnessCompensator compensator;
    TruePeakLimiter limiter;
    AudioLevelBuffer sourceLevels_;
    std::atomic<ChainKind> requestedKind{ChainKind::standard};
    static constexpr float noTarget = std::numeric_limits<float>::quiet_NaN();
    std::atomic<float> programmeTarget_{noTarget};
    float preparedRate = 0.0f; // main thread only

    // Owned by the processing thread.
    Shape activeShape = Shape::compressorOnly;
    bool fadingOut = false;
    std::int64_t silentFrames = 0; // before the fade in
    float switchGain = 1.0f;
    float switchStep = 1.0f / 240.0f;
};

} // namespace quellora
