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

// Stereo programme material with known character, interleaved: quiet speech
// level noise, loud passages, a steady tone, silence and a full-scale burst,
// so that the detector attacks, holds, releases and idles.
std::vector<float> programmeSignal(std::int64_t frames, float sampleRate, std::uint32_t seed = 7);

// Stereo, centred, speech-like: syllables of 120 to 260 ms of a gliding
// harmonic voice lifted around two formants, short gaps and a pause for
// breath every seventh syllable; RMS over the whole at `rmsDb`.
std::vector<float> speechLike(std::int64_t frames, float sampleRate, float rmsDb,
                              std::uint32_t seed = 3);

// Stereo, steady and dense, music-like: sustained four-note chords with
// harmonics, a kick every half second and noise hats every quarter; RMS at
// `rmsDb`.
std::vector<float> denseMusicLike(std::int64_t frames, float sampleRate, float rmsDb,
                                  std::uint32_t seed = 5);

} // namespace quellora::testing
