#pragma once

#include "dsp/loudness_meter.h"

#include <string>

namespace quellora {

// The before-and-after table `quellora process` prints: integrated loudness,
// loudness range and true peak of input and output, one decimal, columns
// aligned, "-inf" for silence.
std::string formatLoudnessReport(const LoudnessMeasurement& input,
                                 const LoudnessMeasurement& output);

} // namespace quellora
