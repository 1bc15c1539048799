#pragma once

#include "dsp/compressor_params.h"
#include "dsp/gain_computer.h"

namespace quellora::integration {

// Peak level in dBFS that the standard preset gives a steady tone of
// `inputDb` peak: what the speakers play while Quellora compresses it.
inline double compressedPeakDb(double inputDb) {
    return steadyStateOutputDb(CompressorParams::defaults(), static_cast<float>(inputDb));
}

} // namespace quellora::integration
