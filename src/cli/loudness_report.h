#pragma once

#include "dsp/loudness_meter.h"

#include <string>

namespace quellora {

// The before-and-after table `quellora process` prints for audio at
// `sampleRate`: integrated loudness, loudness range and true peak of input
// and output, one decimal, columns aligned, "-inf" for silence. What cannot
// be measured reads "n/a", with a line that says why; never "inf" or "nan".
std::string formatLoudnessReport(const LoudnessMeasurement& input,
                                 const LoudnessMeasurement& output, int sampleRate);

} // namespace quellora
