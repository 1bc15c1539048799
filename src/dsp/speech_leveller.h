#pragma once

#include "dsp/channel_layout.h"
#include "dsp/loudness_meter.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace quellora {

// A slow, speech-aware levelling stage: it measures loudness (K-weighted, in
// 20 ms blocks, gated over 3 s) and moves one gain for all channels toward
// the gain that brings speech to `targetLufs` and everything else to
// `otherTargetLufs`, below it: dialogue comes up, effects and music go down.
// Speech is told by its syllabic level modulation and by how much of its
// energy lies in the voice band. Quiet passages are lifted far only while
// they sound like speech, so room tone and quiet beds are not dragged up
// between lines. A dead band keeps the gain still on steady material, so
// music does not pump; a fast guard pulls the gain down when something much
// louder than the target starts. No lookahead.
//
// Threads: process() runs on one real-time thread and never allocates,
// locks or makes a system call; reset() runs on that thread or while no
// process call can run, prepare() only while none can.
class SpeechLeveller {
public:
    static constexpr float targetLufs = -17.0f;
    static constexpr float otherTargetLufs = -22.0f;
    static constexpr float maxBoostDb = 15.0f;
    static constexpr float otherMaxBoostDb = 3.0f; // for what does not sound like speech
    static constexpr float maxCutDb = 20.0f;
    static constexpr std::int64_t lookaheadSamples = 0;

    SpeechLeveller();

    // Derives the block length and filters from the rate, and resets.
    void prepare(float sampleRate);
    // Clears the signal history and the gain; the bypass glide jumps to
    // `bypassPosition`.
    void reset(float bypassPosition = 0.0f) noexcept;
    // `samples` holds `frameCount` frames of `stride` floats; the first
    // `layout.count` of each frame are levelled in place. A surround layout
    // is measured as its stereo downmix would be heard, without its
    // low-frequency effects. `bypassTarget` 1 passes the signal unchanged,
    // 0 levels it; the stage glides between them over 10 ms.
    void process(float* samples, std::int64_t frameCount, std::int64_t stride,
                 const ChannelLayout& layout, float bypassTarget) noexcept;

    // The gain being applied, for meters and tests.
    float gainDb() const { return gainDb_.load(std::memory_order_relaxed); }
    bool hearsSpeech() const { return hearsSpeech_.load(std::memory_order_relaxed); }
    // Share of the recent energy in the voice band, 0 to 1.
    float voiceBandShare() const { return voiceBandShare_.load(std::memory_order_relaxed); }

private:
    static constexpr int historyBlocks = 150; // 3 s of 20 ms blocks

    // The detector's filters, four lanes at a time: left and right
    // K-weighted (shelf, then high-pass), the mid through the voice band-pass,
    // and the mid as it is. Each stage holds one coefficient per lane.
    struct LaneBiquad {
        std::array<float, 4> b0{1, 1, 1, 1}, b1{}, b2{}, a1{}, a2{};
    };
    struct LaneState {
        std::array<float, 4> z1{}, z2{};
    };

    // What the detector hears of a layout: a mono or stereo signal as it
    // is, any other folded to stereo with these weights per channel.
    struct DetectorInput {
        enum class Mode { mono, stereo, folded };
        Mode mode = Mode::stereo;
        int channels = 0;
        std::array<float, ChannelLayout::maxChannels> left{};
        std::array<float, ChannelLayout::maxChannels> right{};

        static DetectorInput of(const ChannelLayout& layout);
    };

    void detect(const float* frames, std::int64_t count, std::int64_t stride,
                const DetectorInput& input) noexcept;
    void applyGain(float* frames, std::int64_t count, std::int64_t stride, int channels,
                   float bypassTarget) noexcept;
    void applySteadyGainToStereo(float* frames, std::int64_t count) noexcept;
    void analyseBlock(float meanSquare, float voiceShare) noexcept;
    void updateGain(float longLufs, float momentaryLufs, bool speech) noexcept;

    // Rate-derived, written by prepare() only.
    std::array<LaneBiquad, 2> detectorStages{};
    std::int64_t blockFrames = 960;
    float bypassStep = 1.0f / 480.0f;

    // Signal history, owned by the processing thread.
    std::array<LaneState, 2> detectorStates{};
    float blockEnergy = 0.0f;
    float blockMidEnergy = 0.0f;
    float blockVoiceEnergy = 0.0f;
    int blockDetectorSamples = 0;
    // The first frame of a pair whose second is still to come.
    bool hasPending = false;
    float pendingLeft = 0.0f;
    float pendingRight = 0.0f;
    std::int64_t blockFramesDone = 0;
    std::array<float, historyBlocks> blockLufs{}; // ring, newest at blockCount - 1
    std::array<float, historyBlocks> blockVoiceShare{};
    std::array<float, historyBlocks> blockMeanSquares{};
    std::int64_t blockCount = 0;
    std::int64_t speechHoldBlocks = 0;
    std::int64_t acquireBlocks = 0;
    bool moving = false;
    float currentDb = 0.0f;
    float gain = 1.0f;     // linear, as applied to the current frame
    float gainStep = 0.0f; // per frame, toward the current block's target
    float bypassRamp = 0.0f;

    std::atomic<float> gainDb_{0.0f};
    std::atomic<bool> hearsSpeech_{false};
    std::atomic<float> voiceBandShare_{0.0f};
};

} // namespace quellora
