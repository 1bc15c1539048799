#include "audio_clip.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <string>

namespace quellora::integration {
namespace {

constexpr double silenceDb = -200.0;

std::runtime_error soundFileError(const std::filesystem::path& path, SNDFILE* file) {
    return std::runtime_error(path.string() + ": " + sf_strerror(file));
}

// Appends `frames` of a sine continuing from `phase` (in cycles).
void appendSine(AudioClip& clip, std::int64_t frames, double peak, double frequencyHz,
                double& phase) {
    const double step = frequencyHz / clip.sampleRate;
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        const auto value = static_cast<float>(peak * std::sin(2.0 * std::numbers::pi * phase));
        clip.samples.insert(clip.samples.end(), static_cast<std::size_t>(clip.channels), value);
        phase = std::fmod(phase + step, 1.0);
    }
}

std::int64_t framesFor(double seconds, int sampleRate) {
    return std::llround(seconds * sampleRate);
}

double decibels(double value) {
    return value > 0.0 ? std::max(20.0 * std::log10(value), silenceDb) : silenceDb;
}

double amplitude(double decibelsValue) {
    return std::pow(10.0, decibelsValue / 20.0);
}

} // namespace

AudioClip AudioClip::slice(double fromSeconds, double toSeconds) const {
    const auto from = std::clamp<std::int64_t>(framesFor(fromSeconds, sampleRate), 0, frames());
    const auto to = std::clamp<std::int64_t>(framesFor(toSeconds, sampleRate), from, frames());
    AudioClip part{sampleRate, channels, {}};
    part.samples.assign(samples.begin() + from * channels, samples.begin() + to * channels);
    return part;
}

AudioClip tone(double levelDb, double seconds, double frequencyHz, int sampleRate, int channels) {
    return steppedTone({levelDb}, seconds, frequencyHz, sampleRate, channels);
}

AudioClip steppedTone(const std::vector<double>& levelsDb, double stepSeconds, double frequencyHz,
                      int sampleRate, int channels) {
    AudioClip clip{sampleRate, channels, {}};
    // Whole cycles per step keep every step starting at a zero crossing.
    const double cycles = std::max(1.0, std::round(stepSeconds * frequencyHz));
    const auto stepFrames = framesFor(cycles / frequencyHz, sampleRate);
    for (const double level : levelsDb) {
        double phase = 0.0;
        appendSine(clip, stepFrames, amplitude(level), frequencyHz, phase);
    }
    return clip;
}

AudioClip interleaved(const std::vector<AudioClip>& channels) {
    AudioClip clip{channels.empty() ? 48000 : channels.front().sampleRate,
                   static_cast<int>(channels.size()),
                   {}};
    std::int64_t frames = 0;
    for (const auto& channel : channels) {
        frames = std::max(frames, channel.frames());
    }
    clip.samples.assign(static_cast<std::size_t>(frames * clip.channels), 0.0f);
    for (std::size_t c = 0; c < channels.size(); ++c) {
        for (std::int64_t frame = 0; frame < channels[c].frames(); ++frame) {
            clip.samples[static_cast<std::size_t>(frame * clip.channels) + c] =
                channels[c].samples[static_cast<std::size_t>(frame * channels[c].channels)];
        }
    }
    return clip;
}

AudioClip AudioClip::channel(int index) const {
    AudioClip mono{sampleRate, 1, {}};
    mono.samples.reserve(static_cast<std::size_t>(frames()));
    for (std::int64_t frame = 0; frame < frames(); ++frame) {
        mono.samples.push_back(samples[static_cast<std::size_t>(frame * channels + index)]);
    }
    return mono;
}

AudioClip glide(double levelDb, double seconds, double startHz, double hzPerSecond, int sampleRate,
                int channels) {
    AudioClip clip{sampleRate, channels, {}};
    const auto frames = framesFor(seconds, sampleRate);
    const double peak = amplitude(levelDb);
    clip.samples.reserve(static_cast<std::size_t>(frames * channels));
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        const double t = static_cast<double>(frame) / sampleRate;
        const auto cycles = startHz * t + hzPerSecond * t * t / 2.0;
        const auto value = static_cast<float>(
            peak * std::sin(2.0 * std::numbers::pi * (cycles - std::floor(cycles))));
        clip.samples.insert(clip.samples.end(), static_cast<std::size_t>(channels), value);
    }
    return clip;
}

AudioClip onsetTone(double silenceSeconds, double toneSeconds, double levelDb, double frequencyHz,
                    int sampleRate, int channels) {
    AudioClip clip{sampleRate, channels, {}};
    clip.samples.assign(static_cast<std::size_t>(framesFor(silenceSeconds, sampleRate) * channels),
                        0.0f);
    // A quarter cycle in, so the first sample of the tone is already at its peak.
    double phase = 0.25;
    appendSine(clip, framesFor(toneSeconds, sampleRate), amplitude(levelDb), frequencyHz, phase);
    return clip;
}

void writeWav(const std::filesystem::path& path, const AudioClip& clip) {
    SF_INFO info{};
    info.samplerate = clip.sampleRate;
    info.channels = clip.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        throw soundFileError(path, nullptr);
    }
    const auto written = sf_writef_float(file, clip.samples.data(), clip.frames());
    const bool complete = written == clip.frames();
    sf_close(file);
    if (!complete) {
        throw std::runtime_error(path.string() + ": short write");
    }
}

AudioClip readAudioFile(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw soundFileError(path, nullptr);
    }
    AudioClip clip{info.samplerate, info.channels, {}};
    clip.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    const auto frames = sf_readf_float(file, clip.samples.data(), info.frames);
    sf_close(file);
    clip.samples.resize(static_cast<std::size_t>(frames * info.channels));
    return clip;
}

double rmsDb(const AudioClip& clip) {
    if (clip.samples.empty()) {
        return silenceDb;
    }
    double sum = 0.0;
    for (const float sample : clip.samples) {
        const auto value = static_cast<double>(sample);
        sum += value * value;
    }
    return decibels(std::sqrt(sum / static_cast<double>(clip.samples.size())));
}

double peakDb(const AudioClip& clip) {
    float peak = 0.0f;
    for (const float sample : clip.samples) {
        peak = std::max(peak, std::abs(sample));
    }
    return decibels(peak);
}

std::vector<LevelWindow> levelWindows(const AudioClip& clip, double windowSeconds) {
    std::vector<LevelWindow> windows;
    const auto windowFrames = std::max<std::int64_t>(1, framesFor(windowSeconds, clip.sampleRate));
    for (std::int64_t start = 0; start + windowFrames <= clip.frames(); start += windowFrames) {
        const double startSeconds = static_cast<double>(start) / clip.sampleRate;
        const auto window = clip.slice(startSeconds, startSeconds + windowSeconds);
        windows.push_back({startSeconds, rmsDb(window), peakDb(window)});
    }
    return windows;
}

std::vector<ToneWindow> toneWindows(const AudioClip& clip, double probeHz, double windowSeconds,
                                    double hopSeconds) {
    const auto size = std::max<std::int64_t>(2, framesFor(windowSeconds, clip.sampleRate));
    const auto hop = std::max<std::int64_t>(1, framesFor(hopSeconds, clip.sampleRate));
    std::vector<double> weights(static_cast<std::size_t>(size));
    double weightSum = 0.0;
    for (std::int64_t n = 0; n < size; ++n) {
        weights[static_cast<std::size_t>(n)] =
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) /
                                 static_cast<double>(size - 1));
        weightSum += weights[static_cast<std::size_t>(n)];
    }
    // Each window against the probe, its phase counted from the clip's start.
    std::vector<std::complex<double>> values;
    const auto stride = static_cast<std::size_t>(clip.channels);
    const double step = 2.0 * std::numbers::pi * probeHz / clip.sampleRate;
    for (std::int64_t start = 0; start + size <= clip.frames(); start += hop) {
        const float* samples = clip.samples.data() + static_cast<std::size_t>(start) * stride;
        std::complex<double> sum;
        const auto turn = std::polar(1.0, -step);
        auto probe = std::polar(1.0, -step * static_cast<double>(start));
        for (std::size_t n = 0; n < static_cast<std::size_t>(size); ++n) {
            sum += static_cast<double>(samples[n * stride]) * weights[n] * probe;
            probe *= turn;
        }
        values.push_back(sum);
    }
    // The window passes a tone off the probe's frequency less: its response
    // there restores the tone's own level.
    const auto response = [&](double offsetHz) {
        std::complex<double> sum;
        const auto turn = std::polar(1.0, -2.0 * std::numbers::pi * offsetHz / clip.sampleRate);
        std::complex<double> phase(1.0, 0.0);
        for (const double weight : weights) {
            sum += weight * phase;
            phase *= turn;
        }
        return std::abs(sum) / weightSum;
    };
    std::vector<ToneWindow> windows;
    const double hopTime = static_cast<double>(hop) / clip.sampleRate;
    for (std::size_t index = 0; index < values.size(); ++index) {
        const auto& next = values[std::min(index + 1, values.size() - 1)];
        const double offset =
            std::arg(next * std::conj(values[index])) / (2.0 * std::numbers::pi * hopTime);
        const double level = 2.0 * std::abs(values[index]) / weightSum;
        windows.push_back({static_cast<double>(index) * hopTime + windowSeconds / 2,
                           decibels(level / std::max(response(offset), 1e-3)), probeHz + offset,
                           decibels(level)});
    }
    return windows;
}

std::optional<double> onsetSeconds(const AudioClip& clip, double thresholdDb) {
    const auto threshold = static_cast<float>(amplitude(thresholdDb));
    for (std::size_t index = 0; index < clip.samples.size(); ++index) {
        if (std::abs(clip.samples[index]) >= threshold) {
            const auto frame = static_cast<std::int64_t>(index) / clip.channels;
            return static_cast<double>(frame) / clip.sampleRate;
        }
    }
    return std::nullopt;
}

} // namespace quellora::integration
