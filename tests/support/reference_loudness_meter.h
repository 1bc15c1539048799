#pragma once

#include "dsp/loudness_meter.h"

#include <ebur128.h>

#include <cstdint>

namespace quellora::testing {

// The same measurement through libebur128, the established implementation
// that Quellora's own meter is held against.
class ReferenceLoudnessMeter {
public:
    ReferenceLoudnessMeter(int channels, int sampleRate);
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
