#include "cli/process_options.h"

#include "cli/command_error.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>

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

enum class OptionKind { help, preset, presetFile, presetName, block, meters, noAlign, parameter };

struct KnownOption {
    OptionKind kind;
    bool takesValue;
    std::size_t fieldIndex = 0;
};

std::optional<KnownOption> findOption(std::string_view name) {
    if (name == "-h" || name == "--help") {
        return KnownOption{OptionKind::help, false};
    }
    if (name == "--no-align") {
        return KnownOption{OptionKind::noAlign, false};
    }
    if (name == "--preset") {
        return KnownOption{OptionKind::preset, true};
    }
    if (name == "--preset-file") {
        return KnownOption{OptionKind::presetFile, true};
    }
    if (name == "--preset-name") {
        return KnownOption{OptionKind::presetName, true};
    }
    if (name == "--block") {
        return KnownOption{OptionKind::block, true};
    }
    if (name == "--meters") {
        return KnownOption{OptionKind::meters, true};
    }
    for (std::size_t index = 0; index < compressorParamFields.size(); ++index) {
        if (parameterOptionFor(index).name == name) {
            return KnownOption{OptionKind::parameter, true, index};
        }
    }
    return std::nullopt;
}

// Collects the arguments in order, so that the checks spanning several of
// them run once at the end.
class ProcessOptionsParser {
public:
    void add(const KnownOption& known, std::string_view name, std::string_view value) {
        switch (known.kind) {
        case OptionKind::help:
            options.showHelp = true;
            break;
        case OptionKind::noAlign:
            options.align = false;
            break;
        case OptionKind::preset:
            if (value != "standard") {
                throw CommandError::badInput(fmt::format(
                    "unknown preset \"{}\": the built-in one is \"standard\"; saved presets "
                    "come with --preset-file and --preset-name",
                    value));
            }
            builtInPresetGiven = true;
            break;
        case OptionKind::presetFile:
            presetFile = std::filesystem::path(value);
            break;
        case OptionKind::presetName:
            presetName = std::string(value);
            break;
        case OptionKind::block:
            options.blockFrames = blockFrames(name, value);
            break;
        case OptionKind::meters:
            options.metersPath = std::filesystem::path(value);
            break;
        case OptionKind::parameter:
            options.parameterOverrides[known.fieldIndex] = parameter(known.fieldIndex, name, value);
            break;
        }
    }

    void addPositional(std::string_view argument) { positional.emplace_back(argument); }

    ProcessOptions finish() {
        if (options.showHelp) {
            return options;
        }
        if (positional.empty()) {
            throw CommandError::badInput("missing INPUT and OUTPUT");
        }
        if (positional.size() == 1) {
            throw CommandError::badInput("missing OUTPUT");
        }
        if (positional.size() > 2) {
            throw CommandError::badInput(fmt::format("unexpected argument \"{}\"", positional[2]));
        }
        options.input = positional[0];
        options.output = positional[1];
        if (presetName && !presetFile) {
            throw CommandError::badInput("--preset-name needs --preset-file");
        }
        if (presetFile && builtInPresetGiven) {
            throw CommandError::badInput("--preset and --preset-file exclude each other");
        }
        if (presetFile) {
            options.savedPreset = SavedPresetChoice{*presetFile, presetName};
        }
        return options;
    }

private:
    static std::int64_t blockFrames(std::string_view name, std::string_view text) {
        const auto value = parseWholeNumber(text);
        if (!value) {
            throw CommandError::badInput(
                fmt::format("{}: \"{}\" is not a whole number", name, text));
        }
        if (!blockFramesRange.contains(*value)) {
            throw CommandError::badInput(fmt::format("{} {} is outside {} to {}", name, text,
                                                     blockFramesRange.lowerBound,
                                                     blockFramesRange.upperBound));
        }
        return *value;
    }

    static float parameter(std::size_t fieldIndex, std::string_view name, std::string_view text) {
        const auto value = parseFiniteNumber(text);
        if (!value) {
            throw CommandError::badInput(fmt::format("{}: \"{}\" is not a number", name, text));
        }
        const auto& range = compressorParamFields[fieldIndex].range;
        if (!range.contains(*value)) {
            throw CommandError::badInput(fmt::format("{} {} is outside {} to {}", name, text,
                                                     range.lowerBound, range.upperBound));
        }
        return *value;
    }

    ProcessOptions options;
    std::vector<std::string> positional;
    std::optional<std::filesystem::path> presetFile;
    std::optional<std::string> presetName;
    bool builtInPresetGiven = false;
};

} // namespace

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

ProcessOptions parseProcessOptions(const std::vector<std::string>& args) {
    ProcessOptionsParser parser;
    bool optionsEnded = false;
    for (std::size_t index = 0; index < args.size(); ++index) {
        const std::string_view argument = args[index];
        if (optionsEnded || argument.size() < 2 || argument.front() != '-') {
            parser.addPositional(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        // --name=value is accepted for long options only.
        const auto equals =
            argument.starts_with("--") ? argument.find('=') : std::string_view::npos;
        const auto name = argument.substr(0, equals);
        const auto known = findOption(name);
        if (!known) {
            throw CommandError::badInput(fmt::format("unknown option \"{}\"", name));
        }
        std::string_view value;
        if (equals != std::string_view::npos) {
            if (!known->takesValue) {
                throw CommandError::badInput(fmt::format("{} takes no value", name));
            }
            value = argument.substr(equals + 1);
        } else if (known->takesValue) {
            if (index + 1 == args.size()) {
                throw CommandError::badInput(fmt::format("{} needs a value", name));
            }
            value = args[++index];
        }
        if (known->takesValue && value.empty()) {
            throw CommandError::badInput(fmt::format("{} needs a value", name));
        }
        parser.add(*known, name, value);
    }
    return parser.finish();
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
