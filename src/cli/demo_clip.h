#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace quellora {

inline constexpr int demoClipSampleRate = 48000;

// A recording that shows what the compressor is for: quiet dialogue-like
// passages (voiced syllables around -35 dBFS RMS) alternating with loud
// music-like ones (chords and drums peaking near -8 dBFS), interleaved
// stereo at demoClipSampleRate. The same samples every time.
std::vector<float> renderDemoClip(std::int64_t frames);

// renderDemoClip as a 24-bit WAV file of about `seconds`. Throws
// CommandError.
void writeDemoClip(const std::filesystem::path& path, double seconds);

} // namespace quellora
