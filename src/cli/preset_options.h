#pragma once

#include "dsp/compressor_param_fields.h"
#include "dsp/param_range.h"
#include "dsp/processing_chain.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

// A preset from a file of saved presets, as the application stores them.
struct SavedPresetChoice {
    std::filesystem::path file;
    std::optional<std::string> name; // absent: the user has to be told the choices
};

// The compressor settings a subcommand was asked for: a preset, then single
// parameters overriding it. Shared by every subcommand that compresses.
struct PresetOptions {
    std::optional<SavedPresetChoice> savedPreset; // absent: a built-in preset
    // "--preset standard" or "--preset night" said explicitly; standard when absent.
    std::optional<ChainKind> builtInPreset;
    // Indexed like compressorParamFields; set where the user gave the option.
    std::array<std::optional<float>, compressorParamFields.size()> parameterOverrides{};
    // "--target LUFS": every programme evened out to that loudness first.
    std::optional<float> programmeTarget;

    // Whether any preset or parameter option was given at all.
    bool anyGiven() const;
};

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

// Collects --preset, --preset-file, --preset-name, --target and the parameter options
// (all of which take a value) for a subcommand's own option parser.
class PresetOptionsParser {
public:
    static bool accepts(std::string_view name);
    // Throws CommandError (bad input) for a value of the wrong form or range.
    void add(std::string_view name, std::string_view value);
    // Throws CommandError (bad input) for options that do not go together.
    PresetOptions finish() const;

private:
    PresetOptions options;
    std::optional<std::filesystem::path> presetFile;
    std::optional<std::string> presetName;
};

// The whole text as a finite number, or nothing ("12x", "nan", "inf" fail).
std::optional<float> parseFiniteNumber(std::string_view text);
std::optional<std::int64_t> parseWholeNumber(std::string_view text);

} // namespace quellora
