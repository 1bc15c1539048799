#pragma once

#include "dsp/channel_layout.h"
#include "dsp/gain_ramp.h"
#include "dsp/loudness_meter.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace quellora {

// A programme leveller: it measures loudness (K-weighted, in 20 ms blocks)
// and moves one gain for all channels so that each programme (a podcast, a
// song, an advert, a film's dialogue) plays at the loudness its aim names.
//
// Inside a programme the gain is slow: it follows a loudness averaged over
// several seconds and only once that has left a dead band, so music does not
// breathe. A programme's start is quick: after a pause, or when the level
// jumps far from the programme's and stays there, the loudness is
// re-estimated from the new programme's first second. A pause (silence, or
// room tone far below the programme) freezes the estimate and brings a gain
// above unity back to unity, so a pause is never lifted and the next
// programme never starts with a lift meant for the last one; a cut is held.
// Sound that resumes at the level the last programme had takes that
// programme's gain back at once. A fast guard pulls the gain down when
// something much louder than the aim starts. No lookahead.
//
// The aim is either one target for everything or, for Night, a higher
// target for speech than for the rest, with what does not sound like speech
// lifted a little at most: dialogue comes up, effects and music go down.
// Speech is told by its syllabic level modulation and by how much of its
// energy lies in the voice band.
//
// Threads: process() runs on one real-time thread and never allocates,
// locks or makes a system call; reset() runs on that thread or while no
// process call can run, prepare() only while none can.
class ProgrammeLeveller {
public:
    static constexpr float maxBoostDb = 15.0f;
    static constexpr float maxCutDb = 20.0f;
    static constexpr std::int64_t lookaheadSamples = 0;

    // The loudness, LUFS, each programme is brought to.
    struct Aim {
        float speechLufs;
        float otherLufs;
        float otherMaxBoostDb; // for what does not sound like speech
        float maxBoostDb = ProgrammeLeveller::maxBoostDb;

        // Every programme to `lufs`, whatever it is, lifted by at most
        // `maxBoost` dB.
        static constexpr Aim uniform(float lufs, float maxBoost = ProgrammeLeveller::maxBoostDb) {
            return {lufs, lufs, maxBoost, maxBoost};
        }
        // Night's: speech first.
        static constexpr Aim speechFirst() { return {-17.0f, -22.0f, 3.0f}; }

        friend bool operator==(const Aim&, const Aim&) = default;
    };

    ProgrammeLeveller();

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
                 const ChannelLayout& layout, const Aim& aim, float bypassTarget) noexcept;

    // The gain being applied, for meters and tests.
    float gainDb() const { return gainDb_.load(std::memory_order_relaxed); }
    bool hearsSpeech() const { return hearsSpeech_.load(std::memory_order_relaxed); }
    // Share of the recent energy in the voice band, 0 to 1.
    float voiceBandShare() const { return voiceBandShare_.load(std::memory_order_relaxed); }
    // Whether the stage hears a pause (and holds its estimate).
    bool inPause() const { return inPause_.load(std::memory_order_relaxed); }
    // Where the programme stands. `starting`: its loudness is being
    // estimated from its first second; `inside`: it is known and followed
    // slowly; `paused`: a pause is heard and everything holds.
    enum class Phase { starting, inside, paused };
    // Processing thread only.
    Phase phase() const noexcept { return state.currentPhase; }

private:
    static constexpr int historyBlocks = 150; // 3 s of 20 ms blocks
    // A programme's loudness is averaged over its last 6 s of blocks.
    static constexpr int programmeBlocks = 300;

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
    void analyseBlock(float meanSquare, float voiceShare, const Aim& aim) noexcept;
    bool hearsSpeechIn(float longLufs) noexcept;
    bool isQuiet(float level) const noexcept;
    bool quietRunIsModulated() const noexcept;
    void followPause() noexcept;
    void startProgramme(int seedBlocks) noexcept;
    float startEnergy() const noexcept;
    void hear(float energy, float momentaryEnergy) noexcept;
    void followStart(const Aim& aim, bool speech) noexcept;
    void followProgramme(const Aim& aim, bool speech) noexcept;
    // The ring slot of the block `age` blocks before the newest.
    std::size_t slotOf(int age) const noexcept {
        return static_cast<std::size_t>((state.blockCount - 1 - age) % historyBlocks);
    }
    float windowEnergy(int blocks) const noexcept;
    float recentLufs(float otherwise) const noexcept;
    float allowedDb(float programmeLufs, const Aim& aim, bool speech) const noexcept;

    // Rate-derived, written by prepare() only.
    std::array<LaneBiquad, 2> detectorStages{};
    float topWeight = 1.0f;
    std::int64_t blockFrames = 960;

    // What was heard since the last reset, owned by the processing thread;
    // a reset is a fresh value.
    struct State {
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

        Phase currentPhase = Phase::starting;
        int quietBlocks = 0;          // in a row
        int louderBlocks = 0;         // in a row, well above the programme's loudness
        int quieterBlocks = 0;        // in a row, well below it
        int lowerBlocks = 0;          // in a row, under the relative gate
        int startSpan = 0;            // blocks since the start, up to the history's length
        bool programmeKnown = false;  // past its start
        float programmeEnergy = 0.0f; // mean of the programme's blocks heard
        int heardBlocks = 0;          // since its start, counted into its loudness
        float programmeDb = 0.0f;     // the gain the programme plays at, kept through pauses
        // The programme before this start, until the start is found to be new.
        bool hasPrevious = false;
        float previousEnergy = 0.0f;
        float previousDb = 0.0f;
        int previousHeard = 0;
        bool moving = false;
        float currentDb = 0.0f;
        float gainStep = 0.0f; // per frame, toward the current block's target
    };
    State state;
    GainRamp ramp; // as applied to the current frame

    std::atomic<float> gainDb_{0.0f};
    std::atomic<bool> hearsSpeech_{false};
    std::atomic<float> voiceBandShare_{0.0f};
    std::atomic<bool> inPause_{false};
};

} // namespace quellora
