#include "cli/loudness_meter.h"

#include "cli/command_error.h"

#include <ebur128.h>
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quellora {

LoudnessMeter::LoudnessMeter(int channels_, int sampleRate)
    : channels(channels_) {
    if (channels_ < 1 || sampleRate < 1) {
        throw CommandError::badInput(
            fmt::format("cannot measure {} channel(s) at {} Hz", channels_, sampleRate));
    }
    state = ebur128_init(static_cast<unsigned>(channels_), static_cast<unsigned long>(sampleRate),
                         EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    if (state == nullptr) {
        throw CommandError::badInput(fmt::format("cannot measure loudness at {} Hz", sampleRate));
    }
}

LoudnessMeter::~LoudnessMeter() {
    ebur128_destroy(&state);
}

void LoudnessMeter::add(const float* frames, std::int64_t frameCount) {
    if (frameCount > 0 &&
        ebur128_add_frames_float(state, frames, static_cast<std::size_t>(frameCount)) !=
            EBUR128_SUCCESS) {
        throw CommandError::failure("out of memory while measuring loudness");
    }
}

LoudnessMeasurement LoudnessMeter::measurement() const {
    LoudnessMeasurement result;
    if (ebur128_loudness_global(state, &result.integratedLufs) != EBUR128_SUCCESS) {
        result.integratedLufs = -std::numeric_limits<double>::infinity();
    }
    if (ebur128_loudness_range(state, &result.rangeLu) != EBUR128_SUCCESS) {
        result.rangeLu = 0.0;
    }
    double peak = 0.0;
    for (int channel = 0; channel < channels; ++channel) {
        double channelPeak = 0.0;
        if (ebur128_true_peak(state, static_cast<unsigned>(channel), &channelPeak) ==
            EBUR128_SUCCESS) {
            peak = std::max(peak, channelPeak);
        }
    }
    result.truePeakDbtp = 20.0 * std::log10(peak);
    return result;
}

} // namespace quellora
