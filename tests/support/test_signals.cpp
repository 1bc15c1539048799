#include "support/test_signals.h"

#include "base/random_sequence.h"

#include <cmath>
#include <numbers>

namespace quellora::testing {

std::vector<float> stereoNoise(std::int64_t frames, float amplitude, std::uint32_t seed) {
    std::vector<float> samples(static_cast<std::size_t>(frames * 2));
    RandomSequence random(seed);
    for (auto& sample : samples) {
        sample = amplitude * (static_cast<float>(random.next() >> 8) / 8388608.0f - 1.0f);
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

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

// Scales interleaved samples so that their RMS is `rmsDb`.
void scaleToRms(std::vector<float>& samples, float rmsDb) {
    double sum = 0.0;
    for (const float sample : samples) {
        sum += static_cast<double>(sample) * static_cast<double>(sample);
    }
    const double rms = samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
    const double gain = rms > 0.0 ? static_cast<double>(decibelsToAmplitude(rmsDb)) / rms : 0.0;
    for (auto& sample : samples) {
        sample = static_cast<float>(static_cast<double>(sample) * gain);
    }
}

} // namespace

std::vector<float> speechLike(std::int64_t frames, float sampleRate, float rmsDb,
                              std::uint32_t seed) {
    std::vector<float> samples(static_cast<std::size_t>(frames * 2), 0.0f);
    RandomSequence random(seed);
    const double rate = sampleRate;
    double phase = 0.0;
    int syllable = 0;
    for (std::int64_t start = 0; start < frames; ++syllable) {
        const auto length = static_cast<std::int64_t>((0.12 + 0.14 * random.unit()) * rate);
        const double f0 = 110.0 + 60.0 * random.unit();
        const double formant1 = 450.0 + 300.0 * random.unit();
        const double formant2 = 1200.0 + 900.0 * random.unit();
        for (std::int64_t n = 0; n < length && start + n < frames; ++n) {
            const double t = static_cast<double>(n) / static_cast<double>(length);
            phase = std::fmod(phase + twoPi * f0 * (1.0 + 0.1 * t) / rate, twoPi);
            double voice = 0.0;
            for (int k = 1; k * f0 < 4000.0; ++k) {
                const double f = k * f0;
                const double lift = 0.3 + std::exp(-std::pow((f - formant1) / 200.0, 2.0)) +
                                    0.7 * std::exp(-std::pow((f - formant2) / 300.0, 2.0));
                voice += lift * std::sin(k * phase) / std::sqrt(static_cast<double>(k));
            }
            const auto value =
                static_cast<float>(std::pow(std::sin(std::numbers::pi * t), 2.0) * voice);
            samples[static_cast<std::size_t>(2 * (start + n))] = value;
            samples[static_cast<std::size_t>(2 * (start + n) + 1)] = value;
        }
        const double gap = syllable % 7 == 6 ? 0.4 : 0.04 + 0.1 * random.unit();
        start += length + static_cast<std::int64_t>(gap * rate);
    }
    scaleToRms(samples, rmsDb);
    return samples;
}

std::vector<float> denseMusicLike(std::int64_t frames, float sampleRate, float rmsDb,
                                  std::uint32_t seed) {
    std::vector<float> samples(static_cast<std::size_t>(frames * 2), 0.0f);
    RandomSequence random(seed);
    const double rate = sampleRate;
    constexpr double chords[2][4] = {{130.8, 164.8, 196.0, 261.6}, {110.0, 146.8, 174.6, 220.0}};
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const auto& chord = chords[static_cast<int>(t / 2.0) % 2];
        double left = 0.0;
        double right = 0.0;
        for (int voice = 0; voice < 4; ++voice) {
            double tone = 0.0;
            for (int k = 1; k <= 5; ++k) {
                tone += std::sin(twoPi * chord[voice] * k * t) / k;
            }
            left += tone * (voice % 2 ? 0.6 : 1.0);
            right += tone * (voice % 2 ? 1.0 : 0.6);
        }
        const double beat = std::fmod(t, 0.5);
        const double kick = 3.0 * std::exp(-beat * 12.0) *
                            std::sin(twoPi * (50.0 + 60.0 * std::exp(-beat * 30.0)) * beat);
        const double hat = 0.4 * std::exp(-std::fmod(t, 0.25) * 40.0) * (2.0 * random.unit() - 1.0);
        samples[static_cast<std::size_t>(2 * i)] = static_cast<float>(left + kick + hat);
        samples[static_cast<std::size_t>(2 * i + 1)] = static_cast<float>(right + kick - hat);
    }
    scaleToRms(samples, rmsDb);
    return samples;
}

} // namespace quellora::testing
