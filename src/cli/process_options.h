#pragma once

#include "dsp/compressor_param_fields.h"
#include "dsp/param_range.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellora {

// A preset from a file of saved presets, as the application stores them.
struct SavedPresetChoice {
    std::filesystem::path file;
    std::optional<std::string> name; // absent: the user has to be told the choices
};

// What `quellora process` was asked to do, checked for form and range but
// not yet against the files.
struct ProcessOptions {
    std::filesystem::path input;
    std::filesystem::path output;
    std::optional<SavedPresetChoice> savedPreset; // absent: the standard preset
    // Indexed like compressorParamFields; set where the user gave the option.
    std::array<std::optional<float>, compressorParamFields.size()> parameterOverrides{};
    std::int64_t blockFrames = 512;
    std::optional<std::filesystem::path> metersPath;
    bool align = true;
    bool showHelp = false;
};

inline constexpr ClosedRange<std::int64_t> blockFramesRange{1, 8192};

// The command-line spelling of each compressor parameter, tied to its row of
// compressorParamFields by key.
struct ParameterOption {
    std::string_view name;
    std::string_view fieldKey;
    std::string_view valueName;
    std::string_view meaning;
};

inline constexpr std::array<ParameterOption, compressorParamFields.size()> parameterOptions{{
    {"--threshold", "threshold", "DB", "threshold, dBFS"},
    {"--ratio", "ratio", "N", "ratio, N:1"},
    {"--attack", "attackMs", "MS", "attack, ms"},
    {"--release", "releaseMs", "MS", "release, ms"},
    {"--knee", "kneeWidth", "DB", "knee width, dB"},
    {"--mix", "mix", "X", "mix, 0 dry to 1 wet"},
    {"--sc-hpf", "scHpfFreq", "HZ", "sidechain high-pass, Hz"},
}};

// The option for row `fieldIndex` of compressorParamFields.
const ParameterOption& parameterOptionFor(std::size_t fieldIndex);

// Throws CommandError (bad input) naming the argument at fault.
ProcessOptions parseProcessOptions(const std::vector<std::string>& args);

// The whole text as a finite number, or nothing ("12x", "nan", "inf" fail).
std::optional<float> parseFiniteNumber(std::string_view text);
std::optional<std::int64_t> parseWholeNumber(std::string_view text);

} // namespace quellora
