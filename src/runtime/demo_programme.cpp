#include "runtime/demo_programme.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quellora {
namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;
constexpr double fadeSeconds = 0.05;

// The loud passages within the loop, in seconds; the rest is dialogue.
struct Passage {
    double start;
    double end;
};
constexpr Passage loudPassages[] = {{5.0, 8.0}, {13.0, 16.0}};

// Dialogue: syllables of a quarter second, in phrases of two seconds whose
// last 0.4 s are a pause.
constexpr double syllableHz = 4.0;
constexpr double phraseSeconds = 2.0;
constexpr double pauseSeconds = 0.4;
constexpr double voiceAmplitude = 0.06;
constexpr int voiceHarmonics = 6;

// Action: an A-minor chord under impacts every half second.
constexpr double chordHz[] = {110.0, 130.81, 164.81, 220.0};
constexpr double chordAmplitude = 0.16;
constexpr double impactSeconds = 0.5;
constexpr double impactDecaySeconds = 0.08;
constexpr double impactAmplitude = 0.3;

} // namespace

double DemoProgramme::loudWeight(double secondsIntoLoop) noexcept {
    for (const auto& passage : loudPassages) {
        if (secondsIntoLoop >= passage.start && secondsIntoLoop < passage.end) {
            return std::min({1.0, (secondsIntoLoop - passage.start) / fadeSeconds,
                             (passage.end - secondsIntoLoop) / fadeSeconds});
        }
    }
    return 0.0;
}

void DemoProgramme::fill(float* samples, std::uint32_t frames, std::uint32_t channels) noexcept {
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
        const float sample = nextSample();
        std::fill_n(samples + static_cast<std::size_t>(frame) * channels, channels, sample);
    }
}

float DemoProgramme::nextSample() noexcept {
    const auto loopFrames = static_cast<std::uint64_t>(loopSeconds * sampleRate_);
    const double t = static_cast<double>(frame_ % loopFrames) / sampleRate_;
    ++frame_;
    const double loud = loudWeight(t);
    // Both run all the time, so that the voice's phase stays continuous.
    const double quiet = dialogue(t);
    return static_cast<float>((1.0 - loud) * quiet + loud * action(t));
}

double DemoProgramme::dialogue(double t) noexcept {
    const double pitchHz = 140.0 + 25.0 * std::sin(twoPi * 0.7 * t);
    voicePhase_ = std::fmod(voicePhase_ + twoPi * pitchHz / sampleRate_, twoPi);
    double voiced = 0.0;
    for (int harmonic = 1; harmonic <= voiceHarmonics; ++harmonic) {
        voiced += std::sin(harmonic * voicePhase_) / harmonic;
    }
    const double syllable = std::pow(std::sin(std::numbers::pi * syllableHz * t), 2.0);
    const bool inPause = std::fmod(t, phraseSeconds) >= phraseSeconds - pauseSeconds;
    const double breath = 0.05 * noise();
    return inPause ? 0.0 : voiceAmplitude * syllable * (voiced + breath);
}

double DemoProgramme::action(double t) noexcept {
    double chord = 0.0;
    for (const double hz : chordHz) {
        chord += std::sin(twoPi * hz * t);
    }
    const double sinceImpact = std::fmod(t, impactSeconds);
    const double impact = impactAmplitude * std::exp(-sinceImpact / impactDecaySeconds) * noise();
    return chordAmplitude * chord + impact;
}

// xorshift32, scaled to [-1, 1).
double DemoProgramme::noise() noexcept {
    noiseState_ ^= noiseState_ << 13;
    noiseState_ ^= noiseState_ >> 17;
    noiseState_ ^= noiseState_ << 5;
    return static_cast<double>(noiseState_) / 2147483648.0 - 1.0;
}

} // namespace quellora
