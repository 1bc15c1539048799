#include "support/reference_loudness_meter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace quellora::testing {

namespace {

// Where BS.1770 puts our speakers: the rear pair of 5.1 is its surround
// pair at 110 degrees, that of 7.1 sits behind at 135 with the side pair
// at 90.
int ebur128Channel(const ChannelLayout& layout, int channel) {
    using enum SpeakerPosition;
    const auto begin = layout.positions.begin();
    const bool sevenOne = std::find(begin, begin + layout.count, sideLeft) != begin + layout.count;
    switch (layout.positions[static_cast<std::size_t>(channel)]) {
    case frontLeft:
        return EBUR128_LEFT;
    case frontRight:
        return EBUR128_RIGHT;
    case lowFrequency:
        return EBUR128_UNUSED;
    case rearLeft:
        return sevenOne ? EBUR128_Mp135 : EBUR128_LEFT_SURROUND;
    case rearRight:
        return sevenOne ? EBUR128_Mm135 : EBUR128_RIGHT_SURROUND;
    case sideLeft:
        return EBUR128_Mp090;
    case sideRight:
        return EBUR128_Mm090;
    default:
        return EBUR128_CENTER;
    }
}

} // namespace

ReferenceLoudnessMeter::ReferenceLoudnessMeter(int channelCount, int sampleRate)
    : ReferenceLoudnessMeter(ChannelLayout::conventional(channelCount), sampleRate) {}

ReferenceLoudnessMeter::ReferenceLoudnessMeter(const ChannelLayout& layout, int sampleRate)
    : channels(layout.count) {
    state = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                         EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    if (state == nullptr) {
        throw std::runtime_error("libebur128 refused the format");
    }
    if (channels > 2) {
        for (int c = 0; c < channels; ++c) {
            ebur128_set_channel(state, static_cast<unsigned>(c), ebur128Channel(layout, c));
        }
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
