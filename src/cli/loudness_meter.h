#pragma once

#include <ebur128.h>

#include <cstdint>

namespace quellora {

// Loudness of a whole programme after EBU R 128 / ITU-R BS.1770.
struct LoudnessMeasurement {
    double integratedLufs = 0.0; // -inf when everything is gated away (silence)
    double rangeLu = 0.0;
    double truePeakDbtp = 0.0; // loudest channel; -inf for digital silence
};

// Measures interleaved float frames as they stream past.
class LoudnessMeter {
public:
    // Throws CommandError: bad input for a channel count or rate the
    // measurement does not cover, failure when memory runs out.
    LoudnessMeter(int channels, int sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Throws CommandError (failure) when memory runs out.
    void add(const float* frames, std::int64_t frameCount);

    LoudnessMeasurement measurement() const;

private:
    ebur128_state* state = nullptr;
    int channels;
};

} // namespace quellora
