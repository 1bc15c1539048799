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
