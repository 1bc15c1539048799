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

// Every parameter inside its range, whatever a file, a caller or a bug handed
// over: out-of-range values are clamped and a value that is not a number
// takes the standard preset's value. Values already in range are returned
// bit for bit.
constexpr CompressorParams clampedToRanges(const CompressorParams& params) {
    constexpr auto standard = CompressorParams::defaults();
    CompressorParams result;
    for (const auto& field : compressorParamFields) {
        const float value = params.*field.member;
        const bool isNumber = value == value; // false only for NaN
        result.*field.member = isNumber ? clamped(value, field.range) : standard.*field.member;
    }
    return result;
}

} // namespace quellora
