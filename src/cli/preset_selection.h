#pragma once

#include "cli/process_options.h"
#include "dsp/compressor_params.h"

namespace quellora {

// The parameters to process with: the chosen preset (the standard one unless
// a saved preset is named), then every parameter option given explicitly.
// Reads the preset file if there is one; throws CommandError (bad input) for
// an unreadable or broken file, an unknown name or a value out of range.
CompressorParams selectCompressorParams(const ProcessOptions& options);

} // namespace quellora
