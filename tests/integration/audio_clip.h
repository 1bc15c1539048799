#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace quellora::integration {

// Interleaved float samples with their rate and channel count: what the
// tests play into the server and what they record from it.
struct AudioClip {
    int sampleRate = 48000;
    int channels = 2;
    std::vector<float> samples;

    std::int64_t frames() const {
        return static_cast<std::int64_t>(samples.size()) / std::max(channels, 1);
    }
    double seconds() const { return static_cast<double>(frames()) / sampleRate; }
    // Frames from `fromSeconds` to `toSeconds` (clamped to the clip).
    AudioClip slice(double fromSeconds, double toSeconds) const;
    // One channel as a mono clip.
    AudioClip channel(int index) const;
};

// Mono clips as the channels of one clip, the shorter ones padded with silence.
AudioClip interleaved(const std::vector<AudioClip>& channels);

// Test signals. Levels are sine peaks in dBFS (a sine's RMS is 3.01 dB lower);
// every channel carries the same signal.
AudioClip tone(double levelDb, double seconds, double frequencyHz = 1000.0, int sampleRate = 48000,
               int channels = 2);
// One tone whose level steps through `levelsDb`, `stepSeconds` per step,
// each step starting at a zero crossing.
AudioClip steppedTone(const std::vector<double>& levelsDb, double stepSeconds,
                      double frequencyHz = 1000.0, int sampleRate = 48000, int channels = 2);
// Silence, then a tone that starts at full level on its first sample:
// the onset marks a known instant for latency measurements.
AudioClip onsetTone(double silenceSeconds, double toneSeconds, double levelDb,
                    double frequencyHz = 1000.0, int sampleRate = 48000, int channels = 2);

// 32-bit float WAV. Both throw std::runtime_error with libsndfile's message.
void writeWav(const std::filesystem::path& path, const AudioClip& clip);
AudioClip readAudioFile(const std::filesystem::path& path);

// Levels over all channels together, in dBFS; silence reads as -200 dB.
double rmsDb(const AudioClip& clip);
double peakDb(const AudioClip& clip);
struct LevelWindow {
    double startSeconds;
    double rmsDb;
    double peakDb;
};
// Consecutive windows of `windowSeconds`; a last, shorter window is left out.
std::vector<LevelWindow> levelWindows(const AudioClip& clip, double windowSeconds);
// A sine gliding from `startHz` by `hzPerSecond`, phase-continuous: the
// frequency it has tells how far into it a moment is.
AudioClip glide(double levelDb, double seconds, double startHz, double hzPerSecond,
                int sampleRate = 48000, int channels = 2);

// One tone among others a few window bins away (25 Hz bins for 40 ms), seen
// through Hann windows of channel 0: its peak level and its frequency in
// each window (from the phase advance to the next window; within half of
// 1 / hop of the probe's frequency).
struct ToneWindow {
    double centreSeconds;
    double levelDb;
    double frequencyHz;
    // The level at the probe's frequency as measured, without the correction
    // for a tone off it: what the band holds even where two copies of a tone
    // overlap and make the frequency (so `levelDb`) meaningless.
    double bandLevelDb;
};
std::vector<ToneWindow> toneWindows(const AudioClip& clip, double probeHz, double windowSeconds,
                                    double hopSeconds);
// When the first sample at or above `thresholdDb` comes, in seconds.
std::optional<double> onsetSeconds(const AudioClip& clip, double thresholdDb);

} // namespace quellora::integration
