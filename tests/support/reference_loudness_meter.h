#pragma once

#include "dsp/loudness_meter.h"

#include <ebur128.h>

#include <cstdint>

namespace quellora::testing {

// The same measurement through libebur128, the established implementation
// that Quellora's own meter is held against.
class ReferenceLoudnessMeter {
public:
    // Channels in their conventional layout, or in the one given, each
    // placed where libebur128 knows the speaker.
    ReferenceLoudnessMeter(int channels, int sampleRate);
    ReferenceLoudnessMeter(const ChannelLayout& layout, int sampleRate);
    ~ReferenceLoudnessMeter();
    ReferenceLoudnessMeter(const ReferenceLoudnessMeter&) = delete;
    ReferenceLoudnessMeter& operator=(const ReferenceLoudnessMeter&) = delete;

    void add(const float* frames, std::int64_t frameCount);
    LoudnessMeasurement measurement() const;

private:
    ebur128_state* state = nullptr;
    int channels;
};

} // namespace quellora::testing
