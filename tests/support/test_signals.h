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

namespace quellora::testing {

// Stereo programme material with known character, interleaved: quiet speech
// level noise, loud passages, a steady tone, silence and a full-scale burst,
// so that the detector attacks, holds, releases and idles.
std::vector<float> programmeSignal(std::int64_t frames, float sampleRate, std::uint32_t seed = 7);

} // namespace quellora::testing
