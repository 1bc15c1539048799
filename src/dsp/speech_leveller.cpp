#include "dsp/speech_leveller.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace quellora {
namespace {

constexpr float blockSeconds = 0.02f;
constexpr int momentaryBlocks = 20; // 400 ms
constexpr int speechBlocks = 60;    // 1.2 s
constexpr float absoluteGateLufs = -70.0f;
// Blocks this far below the window's level are pauses and do not count.
constexpr float relativeGateLu = -15.0f;
// Fewer passing blocks than this in 3 s is silence: the gain holds.
constexpr int minimumValidBlocks = 10;
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
// For 2 s after a reset the gain follows its goal directly, from the first
// block on: cuts at once, lifts at acquireBoostDbPerSecond.
constexpr int acquiringBlocks = 100;
constexpr float acquireBoostDbPerSecond = 12.0f;
constexpr float deadBandDb = 1.5f; // steady material never moves the gain
constexpr float settledDb = 0.3f;  // a move ends this close to its goal
constexpr float cutDbPerSecond = 8.0f;
constexpr float releaseDbPerSecond = 5.0f; // a cut going back toward 0 dB
constexpr float boostDbPerSecond = 3.0f;   // above 0 dB, speech only
// Momentary loudness this far above the target pulls the gain down fast.
constexpr float guardMarginLu = 6.0f;
constexpr float guardDbPerSecond = 40.0f;
constexpr float energyFloor = 1e-12f;

float finiteOrZero(float sample) {
    return (std::bit_cast<std::uint32_t>(sample) & 0x7f800000u) == 0x7f800000u ? 0.0f : sample;
}

float lufsOf(float meanSquare) {
    return -0.691f + 10.0f * std::log10(std::max(meanSquare, energyFloor));
}

float decibelsToGain(float db) {
    return std::pow(10.0f, db / 20.0f);
}

} // namespace

SpeechLeveller::SpeechLeveller() {
    prepare(48000.0f);
}

void SpeechLeveller::prepare(float sampleRate) {
    const float sr = sampleRate > 100.0f ? sampleRate : 100.0f;
    const auto filters = LoudnessMeter::designFilters(sr);
    const auto toFloat = [](const LoudnessMeter::Biquad& b) {
        return BiquadF{static_cast<float>(b.b0), static_cast<float>(b.b1), static_cast<float>(b.b2),
                       static_cast<float>(b.a1), static_cast<float>(b.a2)};
    };
    shelf = toFloat(filters.shelf);
    highPass = toFloat(filters.highPass);
    {
        // The audio-EQ cookbook's band-pass with 0 dB at its centre.
        const float w0 = 6.283185f * std::min(voiceBandHz, 0.4f * sr) / sr;
        const float alpha = std::sin(w0) / (2.0f * voiceBandQ);
        const float a0 = 1.0f + alpha;
        voiceBand = {alpha / a0, 0.0f, -alpha / a0, -2.0f * std::cos(w0) / a0, (1.0f - alpha) / a0};
    }
    blockFrames = std::max<std::int64_t>(1, std::lround(sr * blockSeconds));
    bypassStep = 1.0f / (sr * 0.01f);
    reset();
}

void SpeechLeveller::reset(float bypassPosition) noexcept {
    shelfState = {};
    highPassState = {};
    voiceBandState = {};
    blockEnergy = 0.0f;
    blockMidEnergy = 0.0f;
    blockVoiceEnergy = 0.0f;
    blockVoiceShare.fill(0.0f);
    blockFramesDone = 0;
    blockLufs.fill(absoluteGateLufs - 10.0f);
    blockCount = 0;
    speechHoldBlocks = 0;
    acquireBlocks = acquiringBlocks;
    moving = false;
    currentDb = 0.0f;
    gain = 1.0f;
    gainStep = 0.0f;
    bypassRamp = bypassPosition;
    gainDb_.store(0.0f, std::memory_order_relaxed);
    hearsSpeech_.store(false, std::memory_order_relaxed);
    voiceBandShare_.store(0.0f, std::memory_order_relaxed);
}

void SpeechLeveller::process(float* samples, std::int64_t frameCount, std::int64_t stride,
                             int channels, float bypassTarget) noexcept {
    const BiquadF s = shelf;
    const BiquadF h = highPass;
    const BiquadF v = voiceBand;
    const auto weigh = [&](float x, StateF& a, StateF& b) {
        const float y = x * s.b0 + a.z1;
        a.z1 = (a.z2 + x * s.b1) - y * s.a1;
        a.z2 = x * s.b2 - y * s.a2;
        const float z = y * h.b0 + b.z1;
        b.z1 = (b.z2 + y * h.b1) - z * h.a1;
        b.z2 = y * h.b2 - z * h.a2;
        return z;
    };
    const bool stereo = channels >= 2;
    for (std::int64_t done = 0; done < frameCount;) {
        const auto run = std::min(frameCount - done, blockFrames - blockFramesDone);
        float energy = 0.0f;
        float midEnergy = 0.0f;
        float voiceEnergy = 0.0f;
        StateF voice = voiceBandState;
        float* frame = samples + done * stride;
        for (std::int64_t i = 0; i < run; ++i, frame += stride) {
            const float left = finiteOrZero(frame[0]);
            const float right = stereo ? finiteOrZero(frame[1]) : 0.0f;
            const float wl = weigh(left, shelfState[0], highPassState[0]);
            energy += wl * wl;
            if (stereo) {
                const float wr = weigh(right, shelfState[1], highPassState[1]);
                energy += wr * wr;
            }
            const float mid = stereo ? 0.5f * (left + right) : left;
            const float band = mid * v.b0 + voice.z1;
            voice.z1 = (voice.z2 + mid * v.b1) - band * v.a1;
            voice.z2 = mid * v.b2 - band * v.a2;
            midEnergy += mid * mid;
            voiceEnergy += band * band;
            if (bypassRamp < bypassTarget) {
                bypassRamp = std::min(bypassTarget, bypassRamp + bypassStep);
            } else if (bypassRamp > bypassTarget) {
                bypassRamp = std::max(bypassTarget, bypassRamp - bypassStep);
            }
            gain += gainStep;
            const float applied = bypassRamp + (1.0f - bypassRamp) * gain;
            frame[0] = left * applied;
            if (stereo) {
                frame[1] = right * applied;
            }
        }
        voiceBandState = voice;
        blockEnergy += energy;
        blockMidEnergy += midEnergy;
        blockVoiceEnergy += voiceEnergy;
        blockFramesDone += run;
        done += run;
        if (blockFramesDone == blockFrames) {
            analyseBlock(blockEnergy / static_cast<float>(blockFrames),
                         blockMidEnergy > 0.0f ? blockVoiceEnergy / blockMidEnergy : 0.0f);
            blockEnergy = 0.0f;
            blockMidEnergy = 0.0f;
            blockVoiceEnergy = 0.0f;
            blockFramesDone = 0;
        }
    }
    // A filter driven to overflow starts afresh rather than carry NaN for good.
    const auto settle = [](StateF& z) {
        if (!std::isfinite(z.z1) || !std::isfinite(z.z2) || std::fabs(z.z1) < 1e-20f) {
            z = {};
        }
    };
    for (auto* state : {&shelfState, &highPassState}) {
        for (auto& z : *state) {
            settle(z);
        }
    }
    settle(voiceBandState);
}

void SpeechLeveller::analyseBlock(float meanSquare, float voiceShare) noexcept {
    blockLufs[static_cast<std::size_t>(blockCount % historyBlocks)] = lufsOf(meanSquare);
    blockVoiceShare[static_cast<std::size_t>(blockCount % historyBlocks)] =
        std::isfinite(voiceShare) ? voiceShare : 0.0f;
    ++blockCount;
    const auto newest = [&](int age) {
        return blockLufs[static_cast<std::size_t>((blockCount - 1 - age) % historyBlocks)];
    };
    const int available = static_cast<int>(std::min<std::int64_t>(blockCount, historyBlocks));

    float momentaryEnergy = 0.0f;
    const int momentary = std::min(available, momentaryBlocks);
    for (int age = 0; age < momentary; ++age) {
        momentaryEnergy += std::pow(10.0f, (newest(age) + 0.691f) / 10.0f);
    }
    const float momentaryLufs = lufsOf(momentaryEnergy / static_cast<float>(momentaryBlocks));

    // The level of the window's loud part: blocks above the absolute gate,
    // then those within relativeGateLu of their mean.
    const auto gatedMean = [&](int blocks, float gateLufs, int& count) {
        float sum = 0.0f;
        count = 0;
        for (int age = 0; age < blocks; ++age) {
            const float level = newest(age);
            if (level > gateLufs) {
                sum += std::pow(10.0f, (level + 0.691f) / 10.0f);
                ++count;
            }
        }
        return count > 0 ? lufsOf(sum / static_cast<float>(count)) : absoluteGateLufs;
    };
    int count = 0;
    const float ungated = gatedMean(available, absoluteGateLufs, count);
    const float longLufs =
        gatedMean(available, std::max(absoluteGateLufs, ungated + relativeGateLu), count);
    const bool valid = count >= (acquireBlocks > 0 ? 1 : minimumValidBlocks);

    // Spread of the recent block levels that are not silence.
    // and the energy-weighted share of the voice band over the same blocks.
    float sum = 0.0f;
    float sumSquares = 0.0f;
    float shareSum = 0.0f;
    float weightSum = 0.0f;
    int active = 0;
    for (int age = 0; age < std::min(available, speechBlocks); ++age) {
        const float level = std::max(newest(age), longLufs - 30.0f);
        if (newest(age) > absoluteGateLufs) {
            sum += level;
            sumSquares += level * level;
            ++active;
            const float weight = std::pow(10.0f, newest(age) / 10.0f);
            shareSum +=
                weight *
                blockVoiceShare[static_cast<std::size_t>((blockCount - 1 - age) % historyBlocks)];
            weightSum += weight;
        }
    }
    const float share = weightSum > 0.0f ? shareSum / weightSum : 0.0f;
    voiceBandShare_.store(share, std::memory_order_relaxed);
    const float mean = active > 0 ? sum / static_cast<float>(active) : 0.0f;
    const float spread =
        active > 1
            ? std::sqrt(std::max(sumSquares / static_cast<float>(active) - mean * mean, 0.0f))
            : 0.0f;
    if (valid && active >= speechBlocks / 3 && spread >= speechSpreadDb &&
        share >= speechVoiceShare) {
        speechHoldBlocks = speechHoldLength;
    } else if (speechHoldBlocks > 0) {
        --speechHoldBlocks;
    }
    const bool speech = speechHoldBlocks > 0;
    hearsSpeech_.store(speech, std::memory_order_relaxed);

    if (valid) {
        updateGain(longLufs, momentaryLufs, speech);
    }
    const float next = decibelsToGain(currentDb);
    gainStep = (next - gain) / static_cast<float>(blockFrames);
    gainDb_.store(currentDb, std::memory_order_relaxed);
}

void SpeechLeveller::updateGain(float longLufs, float momentaryLufs, bool speech) noexcept {
    const float perBlock = blockSeconds;
    const float target = speech ? targetLufs : otherTargetLufs;
    const float desired = std::clamp(target - longLufs, -maxCutDb, maxBoostDb);
    // Lifting far needs speech; anything else is lifted a little at most, so
    // that room tone stays in the background between lines.
    const float allowed =
        speech ? desired : std::min(desired, std::max(currentDb, otherMaxBoostDb));
    if (acquireBlocks > 0) {
        --acquireBlocks;
        currentDb = std::min(allowed, currentDb + acquireBoostDbPerSecond * perBlock);
    } else {
        if (!moving && std::fabs(desired - currentDb) > deadBandDb) {
            moving = true;
        }
        if (moving) {
            if (allowed < currentDb) {
                currentDb = std::max(allowed, currentDb - cutDbPerSecond * perBlock);
            } else {
                const float rate = currentDb < 0.0f ? releaseDbPerSecond : boostDbPerSecond;
                currentDb = std::min(allowed, currentDb + rate * perBlock);
            }
            if (std::fabs(desired - currentDb) < settledDb || allowed == currentDb) {
                moving = false;
            }
        }
    }
    const float guardDb = targetLufs + guardMarginLu - momentaryLufs;
    if (currentDb > guardDb) {
        currentDb = std::max(guardDb, currentDb - guardDbPerSecond * perBlock);
    }
}

} // namespace quellora
