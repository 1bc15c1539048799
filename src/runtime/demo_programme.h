#pragma once

#include <cstdint>

namespace quellora {

// What the simulated audio server plays in the demo mode, on a loop of
// `loopSeconds`: quiet, speech-like passages (a voiced tone with a pitch
// contour, in syllables and phrases, around -30 dBFS) and loud passages of
// a sustained chord with impacts twice a second (around -12 dBFS), faded
// into each other over 50 ms. Deterministic; mono, on every channel.
class DemoProgramme {
public:
    static constexpr double loopSeconds = 16.0;

    explicit DemoProgramme(double sampleRate = 48000.0)
        : sampleRate_(sampleRate) {}

    // Fills `frames` interleaved frames of `channels` samples. Runs on the
    // IO thread: never allocates, locks or blocks.
    void fill(float* samples, std::uint32_t frames, std::uint32_t channels) noexcept;

    // How loud the programme is `secondsIntoLoop` into the loop: 0 in the
    // quiet passages, 1 in the loud ones, in between while they fade.
    static double loudWeight(double secondsIntoLoop) noexcept;

private:
    float nextSample() noexcept;
    double dialogue(double t) noexcept;
    double action(double t) noexcept;
    double noise() noexcept;

    double sampleRate_;
    std::uint64_t frame_ = 0;
    double voicePhase_ = 0.0;
    std::uint32_t noiseState_ = 0x2545f491u;
};

} // namespace quellora
