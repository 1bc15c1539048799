#include "dsp/gain_computer.h"

#include "dsp/compressor_params.h"
#include "dsp/decibels.h"

#include <algorithm>
#include <cmath>

namespace quellora {

float GainComputer::makeupDb() const {
    return std::fabs(gainReductionDb(makeupReferenceDb));
}

} // namespace quellora

namespace quellora {

float steadyStateOutputDb(const CompressorParams& params, float inputDb) {
    const GainComputer curve{params.threshold, params.ratio, params.kneeWidth};
    const float wet = gainFromDecibels(curve.gainReductionDb(inputDb) + curve.makeupDb());
    const float gain = std::max((1.0f - params.mix) + params.mix * wet, 1e-10f);
    return inputDb + 20.0f * std::log10(gain);
}

} // namespace quellora
