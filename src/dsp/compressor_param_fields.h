#pragma once

#include "dsp/compressor_params.h"
#include "dsp/param_range.h"

#include <array>
#include <string_view>

namespace quellora {

// One row per parameter: its record key, where it lives and its permitted
// range. Codecs, persistence and front ends walk this table instead of
// spelling the seven fields out again.
struct CompressorParamField {
    std::string_view key;
    float CompressorParams::*member;
    ClosedRange<float> range;
};

inline constexpr std::array<CompressorParamField, 7> compressorParamFields{{
    {"threshold", &CompressorParams::threshold, ParamRange::threshold},
    {"ratio", &CompressorParams::ratio, ParamRange::ratio},
    {"attackMs", &CompressorParams::attackMs, ParamRange::attack},
    {"releaseMs", &CompressorParams::releaseMs, ParamRange::release},
    {"kneeWidth", &CompressorParams::kneeWidth, ParamRange::knee},
    {"mix", &CompressorParams::mix, ParamRange::mix},
    {"scHpfFreq", &CompressorParams::scHpfFreq, ParamRange::scHpf},
}};

} // namespace quellora
