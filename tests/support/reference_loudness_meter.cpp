#include "support/reference_loudness_meter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace quellora::testing {

ReferenceLoudnessMeter::ReferenceLoudnessMeter(int channelCount, int sampleRate)
    : channels(channelCount) {
    state =
        ebur128_init(static_cast<unsigned>(channelCount), static_cast<unsigned long>(sampleRate),
                     EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    if (state == nullptr) {
        throw std::runtime_error("libebur128 refused the format");
    }
}

ReferenceLoudnessMeter::~ReferenceLoudnessMeter() {
    ebur128_destroy(&state);
}

void ReferenceLoudnessMeter::add(const float* frames, std::int64_t frameCount) {
    if (frameCount > 0 &&
        ebur128_add_frames_float(state, frames, static_cast<std::size_t>(frameCount)) !=
            EBUR128_SUCCESS) {
        throw std::runtime_error("libebur128 failed");
    }
}

LoudnessMeasurement ReferenceLoudnessMeter::measurement() const {
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

} // namespace quellora::testing
