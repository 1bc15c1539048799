#pragma once

#include "cli/console_streams.h"
#include "cli/preset_selection.h"
#include "cli/process_options.h"
#include "dsp/loudness_meter.h"

namespace quellora {

struct LoudnessComparison {
    LoudnessMeasurement input;
    LoudnessMeasurement output;
    int sampleRate = 0; // of both
};

// Compresses options.input into options.output (and the meter log, if
// asked for) with the selected chain and parameters, measuring the loudness of both sides on the
// way. Notes about the output's form go to console.out, progress to
// console.err. Throws CommandError; nothing at the output paths changes
// unless the whole job succeeds.
LoudnessComparison runProcessJob(const ProcessOptions& options, const PresetSelection& preset,
                                 const ConsoleStreams& console);

} // namespace quellora
