#include "dsp/programme_leveller.h"

#include "dsp/compressor_kernel.h"
#include "dsp/decibels.h"
#include "dsp/vector_math.h"

#include <algorithm>
#include <cmath>

namespace quellora {
namespace {

constexpr float blockSeconds = 0.02f;
constexpr int momentaryBlocks = 20; // 400 ms
constexpr int speechBlocks = 60;    // 1.2 s
constexpr float absoluteGateLufs = -70.0f;
// Blocks this far below the programme's level are gaps and do not count
// toward its loudness (as in BS.1770's relative gate).
constexpr float relativeGateLu = -10.0f;
// Syllables and the pauses between them: the spread of 20 ms block levels
// over 1.2 s is 6 to 12 dB for speech, 1 to 4 dB for dense music and noise.
constexpr float speechSpreadDb = 5.0f;
// Speech puts most of its energy between its first formants; explosions sit
// below, gunfire and hiss spread far above, music has its bass.
constexpr float voiceBandHz = 1000.0f;
constexpr float voiceBandQ = 0.6f;
constexpr float speechVoiceShare = 0.28f;
// Boosting goes on through the pauses between sentences.
constexpr int speechHoldLength = 75; // 1.5 s, in blocks

// A block is quiet below this loudness, or this far below the programme:
// silence, room tone, the hiss of a pause.
constexpr float quietFloorLufs = -58.0f;
constexpr float quietDepthLu = 20.0f;
// Sound far below the last programme ends a pause when at least this many
// of its blocks (half a second) move as a programme does.
constexpr int modulatedBlocks = 25;
// Quiet this long is a pause; shorter gaps between sentences and notes
// change nothing.
constexpr int pauseBlocks = 30; // 600 ms
// In a pause a lift goes back to unity at this rate, so that the room tone
// is not lifted for long.
constexpr float pauseReleaseDbPerSecond = 40.0f;
// A programme's loudness comes from its first second of sound, quickly...
constexpr int startingBlocks = 50;
// Once this much of a new start is heard, sound back within continuationLu
// of the last programme is that programme going on (after a pause, or a
// quiet passage in a piece of music): its estimate and gain come back.
constexpr int continuationBlocks = 8;
constexpr float continuationLu = 3.0f;
// Early estimates are rough: a lift stays this far short of them at first,
// shrinking to nothing over the first second.
constexpr float startMarginDb = 4.0f;
constexpr float startCutDbPerSecond = 60.0f;
constexpr float startBoostDbPerSecond = 40.0f;
// ...then from all of it, up to the last this many blocks (6 s), the gain
// following the estimate as it settles. Once settled the gain moves slowly,
// and only once out of the dead band.
constexpr float settlingDbPerSecond = 6.0f;
constexpr float deadBandDb = 1.0f;
constexpr float settledDb = 0.3f;
constexpr float programmeDbPerSecond = 2.0f;
// Over half a second, a level this far from the programme's, held this
// long, is a new programme (sooner when louder: that one would be too loud).
// A quieter passage inside a piece of music is no new programme: a drop
// must be larger than a rise, or, below the relative gate, last as long as
// the programme's loudness is averaged over.
constexpr int shortTermBlocks = 25;
constexpr float louderJumpLu = 8.0f;
constexpr float quieterJumpLu = 12.0f;
constexpr int louderJumpBlocks = 10;
constexpr int quieterJumpBlocks = 20;
// Momentary loudness this far above the aim pulls the gain down fast:
// after a jump up with no pause before it, the lift of the quieter
// programme plays for a tenth of a second, not a third.
constexpr float guardMarginLu = 6.0f;
constexpr float guardDbPerSecond = 120.0f;
constexpr float energyFloor = 1e-12f;

using compressor_kernel::finiteOrZero;

float lufsOf(float meanSquare) {
    return loudnessFromMeanSquare(std::max(meanSquare, energyFloor));
}

} // namespace

ProgrammeLeveller::ProgrammeLeveller() {
    prepare(48000.0f);
}

void ProgrammeLeveller::prepare(float sampleRate) {
    const float sr = sampleRate > 100.0f ? sampleRate : 100.0f;
    // The detectors run on frame pairs, at half the rate.
    const float detectorRate = 0.5f * sr;
    const auto filters = LoudnessMeter::designFilters(detectorRate);
    // The audio-EQ cookbook's band-pass with 0 dB at its centre.
    const double w0 = 6.283185307 * static_cast<double>(std::min(voiceBandHz, 0.4f * detectorRate) /
                                                        detectorRate);
    const double alpha = std::sin(w0) / (2.0 * static_cast<double>(voiceBandQ));
    const double a0 = 1.0 + alpha;
    const LoudnessMeter::Biquad voiceBand{alpha / a0, 0.0, -alpha / a0, -2.0 * std::cos(w0) / a0,
                                          (1.0 - alpha) / a0};
    const auto setLane = [this](int stage, int lane, const LoudnessMeter::Biquad& b) {
        auto& s = detectorStages[static_cast<std::size_t>(stage)];
        const auto l = static_cast<std::size_t>(lane);
        s.b0[l] = static_cast<float>(b.b0);
        s.b1[l] = static_cast<float>(b.b1);
        s.b2[l] = static_cast<float>(b.b2);
        s.a1[l] = static_cast<float>(b.a1);
        s.a2[l] = static_cast<float>(b.a2);
    };
    for (int lane = 0; lane < 2; ++lane) {
        setLane(0, lane, filters.shelf);
        setLane(1, lane, filters.highPass);
    }
    // The voice band's second stage and the mid lane stay pass-through.
    setLane(0, 2, voiceBand);
    // What the pair means leave out, the top octave, gets the weighting's
    // gain at the detector's highest frequency: the shelf's lift.
    const auto atNyquist = [](const LoudnessMeter::Biquad& b) {
        return (b.b0 - b.b1 + b.b2) / (1.0 - b.a1 + b.a2);
    };
    topWeight =
        static_cast<float>(std::pow(atNyquist(filters.shelf) * atNyquist(filters.highPass), 2));
    blockFrames = std::max<std::int64_t>(1, std::lround(sr * blockSeconds));
    ramp.bypassStep = 1.0f / (sr * 0.01f);
    reset();
}

void ProgrammeLeveller::reset(float bypassPosition) noexcept {
    state = {};
    ramp.gain = 1.0f;
    ramp.bypass = bypassPosition;
    gainDb_.store(0.0f, std::memory_order_relaxed);
    hearsSpeech_.store(false, std::memory_order_relaxed);
    voiceBandShare_.store(0.0f, std::memory_order_relaxed);
    inPause_.store(false, std::memory_order_relaxed);
}

void ProgrammeLeveller::process(float* samples, std::int64_t frameCount, std::int64_t stride,
                                const ChannelLayout& layout, const Aim& aim,
                                float bypassTarget) noexcept {
    const int channels = std::clamp(layout.count, 1, ChannelLayout::maxChannels);
    const auto input = DetectorInput::of(layout);
    for (std::int64_t done = 0; done < frameCount;) {
        const auto run = std::min(frameCount - done, blockFrames - state.blockFramesDone);
        float* frames = samples + done * stride;
        detect(frames, run, stride, input);
        ramp.apply(frames, run, stride, channels, state.gainStep, bypassTarget);
        state.blockFramesDone += run;
        done += run;
        if (state.blockFramesDone == blockFrames) {
            const float detected = std::max(1.0f, static_cast<float>(state.blockDetectorSamples));
            analyseBlock(state.blockEnergy / detected,
                         state.blockMidEnergy > 0.0f ? state.blockVoiceEnergy / state.blockMidEnergy
                                                     : 0.0f,
                         aim);
            state.blockEnergy = 0.0f;
            state.blockMidEnergy = 0.0f;
            state.blockVoiceEnergy = 0.0f;
            state.blockDetectorSamples = 0;
            state.blockFramesDone = 0;
        }
    }
    // A filter driven to overflow starts afresh rather than carry NaN for good.
    for (auto& lanes : state.detectorStates) {
        for (std::size_t lane = 0; lane < 4; ++lane) {
            if (!std::isfinite(lanes.z1[lane]) || !std::isfinite(lanes.z2[lane]) ||
                std::fabs(lanes.z1[lane]) < 1e-20f) {
                lanes.z1[lane] = 0.0f;
                lanes.z2[lane] = 0.0f;
            }
        }
    }
}

// Loudness and the voice band are measured at half the rate, on the means
// of frame pairs: the filters are most of the stage's cost. The halves of
// each pair's difference hold the top octave the means lose; their energy
// is added with the weighting's lift, so bright programmes (cymbals, hiss)
// are not heard as quieter than they are.
ProgrammeLeveller::DetectorInput ProgrammeLeveller::DetectorInput::of(const ChannelLayout& layout) {
    DetectorInput input;
    const auto detected = layout.detectorMask();
    if (layout.count <= 1) {
        input.mode = Mode::mono;
    } else if (layout.count == 2 && detected == 3u) {
        input.mode = Mode::stereo;
    } else {
        // Heard as its stereo downmix: each side to its own channel, the
        // centre to both at -3 dB, so its energy counts once.
        input.mode = Mode::folded;
        input.channels = std::min(layout.count, ChannelLayout::maxChannels);
        for (int c = 0; c < input.channels; ++c) {
            const auto i = static_cast<std::size_t>(c);
            const auto side = sideOf(layout.positions[i]);
            if (((detected >> c) & 1u) == 0) {
                continue;
            }
            input.left[i] = side == ChannelSide::left    ? 1.0f
                            : side == ChannelSide::right ? 0.0f
                                                         : 0.70710678f;
            input.right[i] = side == ChannelSide::right  ? 1.0f
                             : side == ChannelSide::left ? 0.0f
                                                         : 0.70710678f;
        }
    }
    return input;
}

void ProgrammeLeveller::detect(const float* frames, std::int64_t count, std::int64_t stride,
                               const DetectorInput& input) noexcept {
    const bool stereo = input.mode != DetectorInput::Mode::mono;
    using F = vector_math::Vector<4>::Float;
    namespace vm = vector_math;
    const auto lanes = [](const std::array<float, 4>& values) {
        return vm::load<F>(values.data());
    };
    const auto& first = detectorStages[0];
    const auto& second = detectorStages[1];
    const F b0a = lanes(first.b0), b1a = lanes(first.b1), b2a = lanes(first.b2);
    const F a1a = lanes(first.a1), a2a = lanes(first.a2);
    const F b0b = lanes(second.b0), b1b = lanes(second.b1), b2b = lanes(second.b2);
    const F a1b = lanes(second.a1), a2b = lanes(second.a2);
    F z1a = lanes(state.detectorStates[0].z1), z2a = lanes(state.detectorStates[0].z2);
    F z1b = lanes(state.detectorStates[1].z1), z2b = lanes(state.detectorStates[1].z2);
    F energy{};
    float topEnergy = 0.0f;
    int detected = 0;
    const auto pair = [&](float left0, float left1, float right0, float right1) {
        const float left = 0.5f * (left0 + left1);
        const float right = 0.5f * (right0 + right1);
        const float leftTop = 0.5f * (left0 - left1);
        const float rightTop = 0.5f * (right0 - right1);
        topEnergy += leftTop * leftTop + rightTop * rightTop;
        const float mid = stereo ? 0.5f * (left + right) : left;
        const F x{left, stereo ? right : 0.0f, mid, mid};
        const F y = x * b0a + z1a;
        z1a = (z2a + x * b1a) - y * a1a;
        z2a = x * b2a - y * a2a;
        const F w = y * b0b + z1b;
        z1b = (z2b + y * b1b) - w * a1b;
        z2b = y * b2b - w * a2b;
        energy += w * w;
        ++detected;
    };
    const auto folded = [&](std::int64_t i,
                            const std::array<float, ChannelLayout::maxChannels>& weights) {
        float sum = 0.0f;
        for (int c = 0; c < input.channels; ++c) {
            sum += weights[static_cast<std::size_t>(c)] * finiteOrZero(frames[i * stride + c]);
        }
        return sum;
    };
    const auto leftAt = [&](std::int64_t i) {
        return input.mode == DetectorInput::Mode::folded ? folded(i, input.left)
                                                         : finiteOrZero(frames[i * stride]);
    };
    const auto rightAt = [&](std::int64_t i) {
        return input.mode == DetectorInput::Mode::folded ? folded(i, input.right)
               : stereo                                  ? finiteOrZero(frames[i * stride + 1])
                                                         : 0.0f;
    };
    std::int64_t i = 0;
    if (state.hasPending && count > 0) {
        pair(state.pendingLeft, leftAt(0), state.pendingRight, rightAt(0));
        state.hasPending = false;
        i = 1;
    }
    for (; i + 1 < count; i += 2) {
        pair(leftAt(i), leftAt(i + 1), rightAt(i), rightAt(i + 1));
    }
    if (i < count) {
        state.pendingLeft = leftAt(i);
        state.pendingRight = rightAt(i);
        state.hasPending = true;
    }
    vm::store(state.detectorStates[0].z1.data(), z1a);
    vm::store(state.detectorStates[0].z2.data(), z2a);
    vm::store(state.detectorStates[1].z1.data(), z1b);
    vm::store(state.detectorStates[1].z2.data(), z2b);
    state.blockEnergy += energy[0] + energy[1] + topWeight * topEnergy;
    state.blockVoiceEnergy += energy[2];
    state.blockMidEnergy += energy[3];
    state.blockDetectorSamples += detected;
}

void ProgrammeLeveller::analyseBlock(float meanSquare, float voiceShare, const Aim& aim) noexcept {
    const float level = lufsOf(meanSquare);
    const auto newestSlot = static_cast<std::size_t>(state.blockCount % historyBlocks);
    state.blockLufs[newestSlot] = level;
    state.blockMeanSquares[newestSlot] = std::max(meanSquare, energyFloor);
    state.blockVoiceShare[newestSlot] = std::isfinite(voiceShare) ? voiceShare : 0.0f;
    ++state.blockCount;

    const float momentaryEnergy = windowEnergy(momentaryBlocks);

    // Quiet only beside a much louder programme, yet state.moving as speech or
    // music does rather than lying still as room tone: a quieter programme.
    const bool quiet = isQuiet(level) && !(state.currentPhase == Phase::paused &&
                                           level >= quietFloorLufs && quietRunIsModulated());
    state.quietBlocks = quiet ? state.quietBlocks + 1 : 0;
    if (state.quietBlocks >= pauseBlocks) {
        state.currentPhase = Phase::paused;
    }
    if (state.currentPhase == Phase::paused) {
        if (quiet) {
            followPause();
        } else {
            startProgramme(0);
        }
    }
    if (state.currentPhase == Phase::starting) {
        state.startSpan = std::min(state.startSpan + 1, historyBlocks);
    }
    const bool speech = hearsSpeechIn(state.programmeKnown ? lufsOf(state.programmeEnergy) : level);
    if (!quiet && state.currentPhase == Phase::starting) {
        ++state.heardBlocks;
        state.programmeEnergy = startEnergy();
        followStart(aim, speech);
    } else if (state.currentPhase == Phase::inside) {
        hear(meanSquare, momentaryEnergy);
        if (!quiet) {
            followProgramme(aim, speech);
        }
    }
    if (state.currentPhase != Phase::paused) {
        // The guard: whatever the phase, nothing much louder than the aim
        // plays for long.
        const float guardDb =
            std::max(aim.speechLufs, aim.otherLufs) + guardMarginLu - lufsOf(momentaryEnergy);
        if (state.currentDb > guardDb) {
            state.currentDb = std::max(guardDb, state.currentDb - guardDbPerSecond * blockSeconds);
            state.programmeDb = std::min(state.programmeDb, state.currentDb);
        }
    }
    inPause_.store(state.currentPhase == Phase::paused, std::memory_order_relaxed);
    const float next = gainFromDecibels(state.currentDb);
    state.gainStep = (next - ramp.gain) / static_cast<float>(blockFrames);
    gainDb_.store(state.currentDb, std::memory_order_relaxed);
}

// Speech: enough recent blocks that are not silence, a wide spread of their
// levels (syllables) and a good share of the voice band.
bool ProgrammeLeveller::hearsSpeechIn(float longLufs) noexcept {
    const int available = static_cast<int>(std::min<std::int64_t>(state.blockCount, historyBlocks));
    float sum = 0.0f;
    float sumSquares = 0.0f;
    float shareSum = 0.0f;
    float weightSum = 0.0f;
    int active = 0;
    // At a start only the new programme counts: the pause or the other
    // programme before it would read as a syllable's rise.
    const int window = state.currentPhase == Phase::starting
                           ? std::min(state.startSpan, speechBlocks)
                           : speechBlocks;
    for (int age = 0; age < std::min(available, window); ++age) {
        const auto slot = slotOf(age);
        if (state.blockLufs[slot] > absoluteGateLufs) {
            const float level = std::max(state.blockLufs[slot], longLufs - 30.0f);
            sum += level;
            sumSquares += level * level;
            ++active;
            shareSum += state.blockMeanSquares[slot] * state.blockVoiceShare[slot];
            weightSum += state.blockMeanSquares[slot];
        }
    }
    const float share = weightSum > 0.0f ? shareSum / weightSum : 0.0f;
    voiceBandShare_.store(share, std::memory_order_relaxed);
    const float mean = active > 0 ? sum / static_cast<float>(active) : 0.0f;
    const float spread = std::sqrt(
        std::max(sumSquares / static_cast<float>(std::max(active, 1)) - mean * mean, 0.0f));
    if (active >= speechBlocks / 3 && spread >= speechSpreadDb && share >= speechVoiceShare) {
        state.speechHoldBlocks = speechHoldLength;
    } else if (state.speechHoldBlocks > 0) {
        --state.speechHoldBlocks;
    }
    const bool speech = state.speechHoldBlocks > 0;
    hearsSpeech_.store(speech, std::memory_order_relaxed);
    return speech;
}

bool ProgrammeLeveller::isQuiet(float level) const noexcept {
    return level < quietFloorLufs ||
           (state.programmeKnown && level < lufsOf(state.programmeEnergy) - quietDepthLu);
}

// Over the quiet run (its last 1.2 s), the blocks above the floor of
// silence: enough of them, and their levels spread as syllables and notes
// spread. Silence before steady hiss does not count: it lies below.
bool ProgrammeLeveller::quietRunIsModulated() const noexcept {
    const int available = static_cast<int>(std::min<std::int64_t>(state.blockCount, historyBlocks));
    float sum = 0.0f;
    float sumSquares = 0.0f;
    int heard = 0;
    for (int age = 0; age < std::min({available, state.quietBlocks + 1, speechBlocks}); ++age) {
        const float level = state.blockLufs[slotOf(age)];
        if (level >= quietFloorLufs) {
            sum += level;
            sumSquares += level * level;
            ++heard;
        }
    }
    if (heard < modulatedBlocks) {
        return false;
    }
    const float mean = sum / static_cast<float>(heard);
    return sumSquares / static_cast<float>(heard) - mean * mean >= speechSpreadDb * speechSpreadDb;
}

// A lift goes back to unity; a cut and the estimate hold.
void ProgrammeLeveller::followPause() noexcept {
    const float unityOrCut = std::min(state.programmeDb, 0.0f);
    if (state.currentDb > unityOrCut) {
        state.currentDb =
            std::max(unityOrCut, state.currentDb - pauseReleaseDbPerSecond * blockSeconds);
    }
}

// A new programme, its loudness estimated afresh from its first blocks: the
// newest `seedBlocks` heard, and those to come. The last programme known is
// kept, in case this turns out to be that one going on.
void ProgrammeLeveller::startProgramme(int seedBlocks) noexcept {
    if (state.programmeKnown) {
        state.hasPrevious = true;
        state.previousEnergy = state.programmeEnergy;
        state.previousDb = state.programmeDb;
        state.previousHeard = state.heardBlocks;
    }
    state.currentPhase = Phase::starting;
    state.programmeKnown = false;
    state.startSpan = seedBlocks;
    state.speechHoldBlocks = 0;
    state.heardBlocks = 0;
    for (int age = 0; age < seedBlocks; ++age) {
        state.heardBlocks += isQuiet(state.blockLufs[slotOf(age)]) ? 0 : 1;
    }
    state.programmeEnergy = startEnergy();
    state.louderBlocks = 0;
    state.quieterBlocks = 0;
    state.lowerBlocks = 0;
    state.moving = false;
}

// The mean energy of what was heard since the start, gated as loudness is:
// over 400 ms windows (within the start), those far below the rest left
// out, the gaps inside the rest kept.
float ProgrammeLeveller::startEnergy() const noexcept {
    const int span = std::min<int>(
        state.startSpan, static_cast<int>(std::min<std::int64_t>(state.blockCount, historyBlocks)));
    const auto momentaryAt = [&](int age) {
        float sum = 0.0f;
        const int last = std::min(span, age + momentaryBlocks);
        for (int a = age; a < last; ++a) {
            sum += state.blockMeanSquares[slotOf(a)];
        }
        return sum / static_cast<float>(last - age);
    };
    const auto gatedMean = [&](float gateLufs) {
        float sum = 0.0f;
        int count = 0;
        for (int age = 0; age < span; ++age) {
            const auto slot = slotOf(age);
            if (lufsOf(momentaryAt(age)) >= gateLufs) {
                sum += state.blockMeanSquares[slot];
                ++count;
            }
        }
        return count > 0 ? sum / static_cast<float>(count) : 0.0f;
    };
    return gatedMean(lufsOf(gatedMean(absoluteGateLufs)) + relativeGateLu);
}

// Inside a programme its loudness is the mean energy of its blocks, over
// its last several seconds, leaving out those whose 400 ms window lies far
// below the rest (BS.1770's relative gate). The quiet gaps between words
// count, as they do for a meter: without them speech reads louder than it
// is, and lands under the aim.
void ProgrammeLeveller::hear(float energy, float momentaryEnergy) noexcept {
    if (lufsOf(momentaryEnergy) >= lufsOf(state.programmeEnergy) + relativeGateLu) {
        ++state.heardBlocks;
        state.programmeEnergy += (energy - state.programmeEnergy) /
                                 static_cast<float>(std::min(state.heardBlocks, programmeBlocks));
    }
}

void ProgrammeLeveller::followStart(const Aim& aim, bool speech) noexcept {
    if (state.hasPrevious && state.heardBlocks >= continuationBlocks &&
        std::fabs(recentLufs(lufsOf(state.previousEnergy)) - lufsOf(state.previousEnergy)) <=
            continuationLu) {
        state.currentPhase = Phase::inside;
        state.programmeKnown = true;
        state.programmeEnergy = state.previousEnergy;
        state.heardBlocks = state.previousHeard;
        state.programmeDb = state.previousDb;
        state.currentDb = state.previousDb;
        state.hasPrevious = false;
        return;
    }
    const float allowed = allowedDb(lufsOf(state.programmeEnergy), aim, speech);
    const float confidence =
        std::min(1.0f, static_cast<float>(state.heardBlocks) / static_cast<float>(startingBlocks));
    const float goal =
        allowed > state.currentDb ? allowed - startMarginDb * (1.0f - confidence) : allowed;
    if (goal < state.currentDb) {
        state.currentDb = std::max(goal, state.currentDb - startCutDbPerSecond * blockSeconds);
    } else {
        state.currentDb = std::min(goal, state.currentDb + startBoostDbPerSecond * blockSeconds);
    }
    state.programmeDb = state.currentDb;
    if (state.heardBlocks >= startingBlocks) {
        state.programmeKnown = true;
        state.hasPrevious = false;
        state.currentPhase = Phase::inside;
    }
}

// The mean energy of the newest `blocks` blocks, as a meter's window holds
// them: blocks before the first count as silence.
float ProgrammeLeveller::windowEnergy(int blocks) const noexcept {
    float sum = 0.0f;
    const int available = static_cast<int>(std::min<std::int64_t>(state.blockCount, historyBlocks));
    for (int age = 0; age < std::min(available, blocks); ++age) {
        sum += state.blockMeanSquares[slotOf(age)];
    }
    return sum / static_cast<float>(blocks);
}

// The loudness of the last half second, leaving out what is quiet; `otherwise`
// when all of it is.
float ProgrammeLeveller::recentLufs(float otherwise) const noexcept {
    float energy = 0.0f;
    int heard = 0;
    const int available = static_cast<int>(std::min<std::int64_t>(state.blockCount, historyBlocks));
    for (int age = 0; age < std::min(available, shortTermBlocks); ++age) {
        const auto slot = slotOf(age);
        if (!isQuiet(state.blockLufs[slot])) {
            energy += state.blockMeanSquares[slot];
            ++heard;
        }
    }
    return heard > 0 ? lufsOf(energy / static_cast<float>(heard)) : otherwise;
}

void ProgrammeLeveller::followProgramme(const Aim& aim, bool speech) noexcept {
    const float programmeLufs = lufsOf(state.programmeEnergy);
    const float shortTermLufs = recentLufs(programmeLufs);
    state.louderBlocks = shortTermLufs > programmeLufs + louderJumpLu ? state.louderBlocks + 1 : 0;
    // A quieter programme is told as the meter hears it, gaps and all: its
    // loudest syllables alone may lie close to the last programme's level.
    state.quieterBlocks = lufsOf(windowEnergy(shortTermBlocks)) < programmeLufs - quieterJumpLu
                              ? state.quieterBlocks + 1
                              : 0;
    state.lowerBlocks = shortTermLufs < programmeLufs + relativeGateLu ? state.lowerBlocks + 1 : 0;
    if (state.louderBlocks >= louderJumpBlocks || state.quieterBlocks >= quieterJumpBlocks ||
        state.lowerBlocks >= programmeBlocks) {
        startProgramme(std::min(
            historyBlocks, std::max({state.louderBlocks, state.quieterBlocks, state.lowerBlocks})));
        return;
    }

    const float allowed = allowedDb(programmeLufs, aim, speech);
    const float step = programmeDbPerSecond * blockSeconds;
    if (state.heardBlocks < programmeBlocks) {
        // Still settling: the estimate gains seconds, the gain follows it.
        const float settling = settlingDbPerSecond * blockSeconds;
        state.currentDb =
            std::clamp(allowed, state.currentDb - settling, state.currentDb + settling);
    } else {
        if (!state.moving && std::fabs(allowed - state.currentDb) > deadBandDb) {
            state.moving = true;
        }
        if (state.moving) {
            state.currentDb = std::clamp(allowed, state.currentDb - step, state.currentDb + step);
            if (std::fabs(allowed - state.currentDb) < settledDb) {
                state.moving = false;
            }
        }
    }
    state.programmeDb = state.currentDb;
}

// The gain that brings a programme at `programmeLufs` to the aim; what does
// not sound like speech is lifted a little at most, unless it already is.
float ProgrammeLeveller::allowedDb(float programmeLufs, const Aim& aim,
                                   bool speech) const noexcept {
    const float target = speech ? aim.speechLufs : aim.otherLufs;
    const float desired = std::clamp(target - programmeLufs, -maxCutDb, aim.maxBoostDb);
    return speech ? desired : std::min(desired, std::max(state.currentDb, aim.otherMaxBoostDb));
}

} // namespace quellora
