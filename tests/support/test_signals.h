#pragma once

#include <cstdint>
#include <vector>

namespace quellora::testing {

// Interleaved stereo white noise, uniform in [-amplitude, amplitude),
// reproducible for a given seed.
std::vector<float> stereoNoise(std::int64_t frames, float amplitude, std::uint32_t seed = 1);

// A sine of the given peak amplitude, `channels` identical channels interleaved.
std::vector<float> sineTone(std::int64_t frames, std::int64_t channels, float amplitude,
                            float frequencyHz, float sampleRate);

float decibelsToAmplitude(float decibels);

} // namespace quellora::testing
