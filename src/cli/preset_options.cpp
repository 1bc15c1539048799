#include "cli/preset_options.h"

#include "cli/command_error.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace quellora {
namespace {

constexpr bool everyFieldHasOneOption() {
    for (const auto& field : compressorParamFields) {
        int matches = 0;
        for (const auto& option : parameterOptions) {
            matches += option.fieldKey == field.key ? 1 : 0;
        }
        if (matches != 1) {
            return false;
        }
    }
    return true;
}
static_assert(everyFieldHasOneOption(), "each compressor parameter needs exactly one option");

std::optional<std::size_t> parameterIndex(std::string_view name) {
    for (std::size_t index = 0; index < compressorParamFields.size(); ++index) {
        if (parameterOptionFor(index).name == name) {
            return index;
        }
    }
    return std::nullopt;
}

float rangedValue(std::string_view name, std::string_view text, const ClosedRange<float>& range) {
    const auto value = parseFiniteNumber(text);
    if (!value) {
        throw CommandError::badInput(fmt::format("{}: \"{}\" is not a number", name, text));
    }
    if (!range.contains(*value)) {
        throw CommandError::badInput(fmt::format("{} {} is outside {} to {}", name, text,
                                                 range.lowerBound, range.upperBound));
    }
    return *value;
}

} // namespace

bool PresetOptions::anyGiven() const {
    return savedPreset || builtInPreset || programmeTarget ||
           std::any_of(parameterOverrides.begin(), parameterOverrides.end(),
                       [](const auto& value) { return value.has_value(); });
}

const ParameterOption& parameterOptionFor(std::size_t fieldIndex) {
    const auto key = compressorParamFields.at(fieldIndex).key;
    for (const auto& option : parameterOptions) {
        if (option.fieldKey == key) {
            return option;
        }
    }
    // everyFieldHasOneOption() rules this out at compile time.
    throw std::logic_error("compressor parameter without an option");
}

bool PresetOptionsParser::accepts(std::string_view name) {
    return name == "--preset" || name == "--preset-file" || name == "--preset-name" ||
           name == "--target" || parameterIndex(name).has_value();
}

void PresetOptionsParser::add(std::string_view name, std::string_view value) {
    if (name == "--preset") {
        if (value == "standard") {
            options.builtInPreset = ChainKind::standard;
        } else if (value == "night") {
            options.builtInPreset = ChainKind::night;
        } else {
            throw CommandError::badInput(
                fmt::format("unknown preset \"{}\": the built-in ones are \"standard\" and "
                            "\"night\"; saved presets come with --preset-file and --preset-name",
                            value));
        }
    } else if (name == "--preset-file") {
        presetFile = std::filesystem::path(value);
    } else if (name == "--preset-name") {
        presetName = std::string(value);
    } else if (name == "--target") {
        options.programmeTarget = rangedValue(name, value, ParamRange::programmeTarget);
    } else if (const auto index = parameterIndex(name)) {
        options.parameterOverrides[*index] =
            rangedValue(name, value, compressorParamFields[*index].range);
    } else {
        throw std::logic_error("not a preset option");
    }
}

PresetOptions PresetOptionsParser::finish() const {
    if (presetName && !presetFile) {
        throw CommandError::badInput("--preset-name needs --preset-file");
    }
    if (presetFile && options.builtInPreset) {
        throw CommandError::badInput("--preset and --preset-file exclude each other");
    }
    auto finished = options;
    if (presetFile) {
        finished.savedPreset = SavedPresetChoice{*presetFile, presetName};
    }
    return finished;
}

std::optional<float> parseFiniteNumber(std::string_view text) {
    float value = 0.0f;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> parseWholeNumber(std::string_view text) {
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace quellora
