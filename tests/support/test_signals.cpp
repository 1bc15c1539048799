#include "support/test_signals.h"

#include <cmath>
#include <numbers>

namespace quellora::testing {

std::vector<float> stereoNoise(std::int64_t frames, float amplitude, std::uint32_t seed) {
    std::vector<float> samples(static_cast<std::size_t>(frames * 2));
    std::uint32_t state = seed ? seed : 1;
    for (auto& sample : samples) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        sample = amplitude * (static_cast<float>(state >> 8) / 8388608.0f - 1.0f);
    }
    return samples;
}

std::vector<float> sineTone(std::int64_t frames, std::int64_t channels, float amplitude,
                            float frequencyHz, float sampleRate) {
    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    for (std::int64_t i = 0; i < frames; ++i) {
        const double phase = 2.0 * std::numbers::pi * static_cast<double>(frequencyHz) *
                             static_cast<double>(i) / static_cast<double>(sampleRate);
        const auto value = static_cast<float>(static_cast<double>(amplitude) * std::sin(phase));
        for (std::int64_t c = 0; c < channels; ++c) {
            samples[static_cast<std::size_t>(i * channels + c)] = value;
        }
    }
    return samples;
}

float decibelsToAmplitude(float decibels) {
    return std::pow(10.0f, decibels / 20.0f);
}

} // namespace quellora::testing

namespace quellora::testing {

std::vector<float> programmeSignal(std::int64_t frames, float sampleRate, std::uint32_t seed) {
    const auto noise = stereoNoise(frames, 1.0f, seed);
    const auto tone = sineTone(frames, 2, 1.0f, 997.0f, sampleRate);
    std::vector<float> samples(static_cast<std::size_t>(frames * 2));
    const auto segment = static_cast<std::int64_t>(sampleRate * 0.15f);
    for (std::int64_t i = 0; i < frames; ++i) {
        const auto index = static_cast<std::size_t>(i * 2);
        float left = 0.0f;
        float right = 0.0f;
        switch ((i / segment) % 5) {
        case 0: // dialogue level
            left = 0.02f * noise[index];
            right = 0.015f * noise[index + 1];
            break;
        case 1: // loud scene
            left = 0.5f * noise[index];
            right = 0.45f * noise[index + 1];
            break;
        case 2: { // tone around -9 dBFS with a slow tremolo, left louder
            // The tremolo keeps the detector moving: a perfectly steady tone
            // leaves the hold stage deciding on rounding noise, where no two
            // correct evaluations need agree.
            const float tremolo =
                0.75f + 0.25f * std::sin(static_cast<float>(i) * 6.2831853f * 5.0f / sampleRate);
            left = 0.355f * tremolo * tone[index];
            right = 0.2f * tremolo * tone[index + 1];
            break;
        }
        case 3: // silence
            break;
        default: // full-scale burst
            left = noise[index];
            right = -noise[index];
            break;
        }
        samples[index] = left;
        samples[index + 1] = right;
    }
    return samples;
}

} // namespace quellora::testing
