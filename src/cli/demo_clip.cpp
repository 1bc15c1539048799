#include "cli/demo_clip.h"

#include "base/random_sequence.h"
#include "cli/command_error.h"
#include "cli/replacement_file.h"
#include "cli/sound_file_writer.h"
#include "dsp/decibels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <span>

namespace quellora {
namespace {

constexpr double rate = demoClipSampleRate;
constexpr double twoPi = 2.0 * std::numbers::pi;
constexpr double quietSeconds = 3.5;
constexpr double loudSeconds = 3.0;
constexpr double speechRmsDb = -35.0;
constexpr double musicPeakDb = -8.0;
constexpr double fadeSeconds = 0.01;

// A fixed seed, so the clip never changes between builds.
constexpr std::uint32_t noiseSeed = 0x2545f491u;

// sum over k of weights[k] * sin((k + 1) * phase), by the Chebyshev
// recurrence: one sine and one cosine per sample whatever the harmonic count.
double harmonicSum(double phase, std::span<const double> weights) {
    const double twoCos = 2.0 * std::cos(phase);
    double previous = 0.0;
    double current = std::sin(phase);
    double sum = 0.0;
    for (const double weight : weights) {
        sum += weight * current;
        const double next = twoCos * current - previous;
        previous = current;
        current = next;
    }
    return sum;
}

// A vowel's harmonic amplitudes: a falling source spectrum lifted around two
// formants.
std::vector<double> vowelWeights(double f0, double formant1, double formant2) {
    std::vector<double> weights;
    for (int k = 1; k * f0 < 3500.0; ++k) {
        const double f = k * f0;
        const double lift = 1.0 + 4.0 * std::exp(-std::pow((f - formant1) / 150.0, 2.0)) +
                            2.5 * std::exp(-std::pow((f - formant2) / 250.0, 2.0));
        weights.push_back(lift / k);
    }
    return weights;
}

// Syllables of 120 to 280 ms on a gliding pitch, some with a hissed onset,
// separated by short gaps and now and then a pause for breath.
void renderSpeech(std::span<float> stereo, RandomSequence& noise) {
    constexpr std::array<std::array<double, 2>, 4> formants{
        {{700.0, 1200.0}, {400.0, 2000.0}, {320.0, 850.0}, {600.0, 1700.0}}};
    const auto frames = static_cast<std::int64_t>(stereo.size() / 2);
    double phase = 0.0;
    int syllable = 0;
    for (std::int64_t start = 0; start < frames; ++syllable) {
        const auto length = static_cast<std::int64_t>(noise.between(0.12, 0.28) * rate);
        const double f0Start = noise.between(100.0, 170.0);
        const double f0End = f0Start * noise.between(0.85, 1.15);
        const double level = noise.between(0.6, 1.0);
        const auto& vowel = formants[static_cast<std::size_t>(noise.unit() * formants.size())];
        const auto weights = vowelWeights(0.5 * (f0Start + f0End), vowel[0], vowel[1]);
        const auto hiss = noise.unit() < 0.3 ? static_cast<std::int64_t>(0.04 * rate) : 0;
        double previousNoise = 0.0;
        for (std::int64_t n = 0; n < length && start + n < frames; ++n) {
            const double t = static_cast<double>(n) / static_cast<double>(length);
            const double envelope = std::pow(std::sin(std::numbers::pi * t), 2.0);
            phase = std::fmod(phase + twoPi * (f0Start + (f0End - f0Start) * t) / rate, twoPi);
            double sample = level * envelope * harmonicSum(phase, weights);
            if (n < hiss) {
                // Differenced noise: a crude high-pass, enough for an "s".
                const double white = noise.bipolar();
                sample += 0.3 * (white - previousNoise);
                previousNoise = white;
            }
            const auto index = static_cast<std::size_t>(2 * (start + n));
            stereo[index] = static_cast<float>(sample);
            stereo[index + 1] = static_cast<float>(sample);
        }
        const double gap = syllable % 7 == 6 ? 0.35 : noise.between(0.04, 0.14);
        start += length + static_cast<std::int64_t>(gap * rate);
    }
}

double midiToHz(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// Four chords a bar at 120 beats per minute over kick and snare, each chord
// tone with a few harmonics and spread across the stereo field.
void renderMusic(std::span<float> stereo, RandomSequence& noise) {
    constexpr std::array<std::array<int, 4>, 4> chords{
        {{48, 52, 55, 60}, {43, 50, 55, 59}, {45, 52, 57, 60}, {41, 48, 53, 57}}};
    constexpr std::array<double, 4> pans{-0.6, -0.2, 0.2, 0.6};
    constexpr std::array<double, 6> harmonics{1.0, 0.5, 0.33, 0.25, 0.2, 0.16};
    constexpr double beatSeconds = 0.5;
    const auto frames = static_cast<std::int64_t>(stereo.size() / 2);
    std::array<double, 4> phases{};
    for (std::int64_t n = 0; n < frames; ++n) {
        const double seconds = static_cast<double>(n) / rate;
        const auto beat = static_cast<int>(seconds / beatSeconds);
        const double sinceBeat = seconds - beat * beatSeconds;
        const auto& chord = chords[static_cast<std::size_t>((beat / 2) % 4)];
        const double swell = 0.6 + 0.4 * std::exp(-sinceBeat * 6.0);
        const double attack = std::min(1.0, sinceBeat / 0.015);
        double left = 0.0;
        double right = 0.0;
        for (std::size_t voice = 0; voice < chord.size(); ++voice) {
            phases[voice] = std::fmod(phases[voice] + twoPi * midiToHz(chord[voice]) / rate, twoPi);
            const double tone = attack * swell * harmonicSum(phases[voice], harmonics);
            left += tone * (1.0 - pans[voice]);
            right += tone * (1.0 + pans[voice]);
        }
        // Kick on every beat, a falling thump; snare noise on the off-beats.
        const double kickHz = 50.0 + 70.0 * std::exp(-sinceBeat * 30.0);
        const double kick = 3.0 * std::exp(-sinceBeat * 9.0) * std::sin(twoPi * kickHz * sinceBeat);
        const double snare =
            beat % 2 == 1 ? 1.5 * std::exp(-sinceBeat * 20.0) * noise.bipolar() : 0.0;
        const auto index = static_cast<std::size_t>(2 * n);
        stereo[index] = static_cast<float>(left + kick + snare);
        stereo[index + 1] = static_cast<float>(right + kick + snare);
    }
}

void scale(std::span<float> samples, double gain) {
    for (auto& sample : samples) {
        sample = static_cast<float>(static_cast<double>(sample) * gain);
    }
}

double rms(std::span<const float> samples) {
    double sum = 0.0;
    for (const float sample : samples) {
        sum += static_cast<double>(sample) * static_cast<double>(sample);
    }
    return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

double peak(std::span<const float> samples) {
    double maximum = 0.0;
    for (const float sample : samples) {
        maximum = std::max(maximum, std::fabs(static_cast<double>(sample)));
    }
    return maximum;
}

// Short fades at the passage boundaries, so the switch is not a click.
void fadeEdges(std::span<float> stereo) {
    const auto frames = static_cast<std::int64_t>(stereo.size() / 2);
    const auto fadeFrames = std::min(frames / 2, static_cast<std::int64_t>(fadeSeconds * rate));
    for (std::int64_t n = 0; n < fadeFrames; ++n) {
        const double gain = static_cast<double>(n) / static_cast<double>(fadeFrames);
        for (const auto frame : {n, frames - 1 - n}) {
            const auto index = static_cast<std::size_t>(2 * frame);
            stereo[index] = static_cast<float>(static_cast<double>(stereo[index]) * gain);
            stereo[index + 1] = static_cast<float>(static_cast<double>(stereo[index + 1]) * gain);
        }
    }
}

} // namespace

std::vector<float> renderDemoClip(std::int64_t frames) {
    std::vector<float> samples(static_cast<std::size_t>(std::max<std::int64_t>(frames, 0) * 2));
    RandomSequence noise(noiseSeed);
    bool loud = false;
    for (std::int64_t start = 0; start < frames; loud = !loud) {
        const auto length = std::min(
            frames - start, static_cast<std::int64_t>((loud ? loudSeconds : quietSeconds) * rate));
        const std::span<float> passage(samples.data() + 2 * start,
                                       static_cast<std::size_t>(2 * length));
        if (loud) {
            renderMusic(passage, noise);
            const double level = peak(passage);
            scale(passage, level > 0.0 ? gainFromDecibels(musicPeakDb) / level : 0.0);
        } else {
            renderSpeech(passage, noise);
            const double level = rms(passage);
            scale(passage, level > 0.0 ? gainFromDecibels(speechRmsDb) / level : 0.0);
        }
        fadeEdges(passage);
        start += length;
    }
    return samples;
}

void writeDemoClip(const std::filesystem::path& path, double seconds) {
    const auto frames = static_cast<std::int64_t>(std::llround(seconds * rate));
    const auto samples = renderDemoClip(frames);
    ReplacementFile file(path);
    SoundFileWriter writer(file.descriptor(),
                           {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, demoClipSampleRate, frames},
                           path.string());
    writer.write(samples.data(), frames);
    writer.close();
    file.commit();
}

} // namespace quellora
