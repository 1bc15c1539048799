#include "dsp/loudness_compensator.h"

#include "dsp/block_statistics.h"
#include "dsp/decibels.h"

#include <algorithm>
#include <cmath>

namespace quellora {
namespace {

// A programme's start is measured over about this long, its inside over
// this: long enough that a loud bar or a shout does not move the gain.
constexpr float startSeconds = 0.5f;
constexpr float programmeSeconds = 6.0f;
constexpr float pauseSeconds = 0.25f;
// Stretches this far (energy ratio, 20 dB) below the programme say nothing
// about it.
constexpr float quietRatio = 0.01f;
constexpr float dbPerSecond = 40.0f;

} // namespace

void LoudnessCompensator::Averages::follow(float inEnergy, float outEnergy, float weight) noexcept {
    in += (inEnergy - in) * weight;
    out += (outEnergy - out) * weight;
}

float LoudnessCompensator::Averages::undoingDb() const noexcept {
    if (!(in > 0.0f && out > 0.0f)) {
        return 0.0f;
    }
    return std::clamp(10.0f * std::log10(in / out), -maxDb, maxDb);
}

void LoudnessCompensator::prepare(float sampleRate) {
    framesPerSecond = std::max(sampleRate, 1.0f);
    ramp.bypassStep = 1.0f / std::max(1.0f, framesPerSecond * 0.01f);
    reset();
}

void LoudnessCompensator::reset(float bypassPosition) noexcept {
    inputEnergy = 0.0f;
    programme = {};
    pause = {};
    currentDb = 0.0f;
    ramp.gain = 1.0f;
    ramp.bypass = bypassPosition;
}

void LoudnessCompensator::noteInput(const float* samples, std::int64_t frameCount,
                                    std::int64_t stride, int channels) noexcept {
    inputEnergy = block_statistics::energyOf(samples, frameCount, stride, channels);
}

void LoudnessCompensator::process(float* samples, std::int64_t frameCount, std::int64_t stride,
                                  int channels, ProgrammeLeveller::Phase phase,
                                  float bypassTarget) noexcept {
    if (frameCount <= 0) {
        return;
    }
    const float outputEnergy = block_statistics::energyOf(samples, frameCount, stride, channels);
    const float seconds = static_cast<float>(frameCount) / framesPerSecond;
    const auto weight = [seconds](float averagedSeconds) {
        return std::min(1.0f, seconds / averagedSeconds);
    };
    float goalDb = 0.0f;
    if (phase == ProgrammeLeveller::Phase::paused) {
        pause.follow(inputEnergy, outputEnergy, weight(pauseSeconds));
        goalDb = std::min(programme.undoingDb(), pause.undoingDb());
    } else {
        pause = {};
        if (inputEnergy >= programme.in * quietRatio) {
            programme.follow(inputEnergy, outputEnergy,
                             weight(phase == ProgrammeLeveller::Phase::starting
                                        ? startSeconds
                                        : programmeSeconds));
        }
        goalDb = programme.undoingDb();
    }
    const float travel = dbPerSecond * seconds;
    currentDb = std::clamp(goalDb, currentDb - travel, currentDb + travel);

    const float next = gainFromDecibels(currentDb);
    ramp.apply(samples, frameCount, stride, std::clamp(channels, 1, ChannelLayout::maxChannels),
               (next - ramp.gain) / static_cast<float>(frameCount), bypassTarget);
    ramp.gain = next;
}

} // namespace quellora
