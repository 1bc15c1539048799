#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellora::night {

// What a stretch of a clip is, for the measurements.
enum class SegmentKind { dialogue, action, music, advert, pause };

std::string_view labelOf(SegmentKind kind);
std::optional<SegmentKind> segmentKindFromLabel(std::string_view label);

struct Segment {
    SegmentKind kind;
    double startSeconds;
    double endSeconds;
    std::string what; // "whisper", "gunfire", ...: for people reading the timeline
};

// A film- or TV-like clip: interleaved stereo at `sampleRate` and its
// labelled timeline.
struct Clip {
    std::string name;
    int sampleRate = 48000;
    std::vector<float> stereo;
    std::vector<Segment> segments;
};

// The clip set, synthesised from scratch with speech from espeak-ng: quiet
// talk, whispers, shouting over a crowd, explosions and gunfire, music beds,
// hard-limited adverts, and two music-only clips. The same samples every
// time. Throws std::runtime_error when espeak-ng cannot be run.
std::vector<Clip> generateClipSet();

// A clip as NAME.wav (24-bit) with NAME.labels beside it: one line per
// segment, "start end label what", seconds. readClip reads the same pair,
// so other material can be judged the same way.
void writeClip(const Clip& clip, const std::filesystem::path& directory);
Clip readClip(const std::filesystem::path& wavPath);

// Mono samples at `inputRate` brought to 48 kHz (windowed sinc).
std::vector<double> resampledTo48k(const std::vector<float>& input, int inputRate);

} // namespace quellora::night
