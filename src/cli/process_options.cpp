#include "cli/process_options.h"

#include "cli/command_error.h"
#include "cli/option_scanner.h"

#include <fmt/format.h>

namespace quellora {
namespace {

// Collects the arguments in order, so that the checks spanning several of
// them run once at the end.
class ProcessOptionsParser final : public OptionScanner {
public:
    ProcessOptions finish() {
        if (showHelp) {
            ProcessOptions help;
            help.showHelp = true;
            return help;
        }
        if (operands.empty()) {
            throw CommandError::badInput("missing INPUT and OUTPUT");
        }
        if (operands.size() == 1) {
            throw CommandError::badInput("missing OUTPUT");
        }
        if (operands.size() > 2) {
            throw CommandError::badInput(fmt::format("unexpected argument \"{}\"", operands[2]));
        }
        ProcessOptions options;
        static_cast<PresetOptions&>(options) = presets.finish();
        options.input = operands[0];
        options.output = operands[1];
        options.blockFrames = blockFrames;
        options.metersPath = metersPath;
        options.align = align;
        return options;
    }

protected:
    std::optional<bool> takesValue(std::string_view name) const override {
        if (name == "-h" || name == "--help" || name == "--no-align") {
            return false;
        }
        if (name == "--block" || name == "--meters" || PresetOptionsParser::accepts(name)) {
            return true;
        }
        return std::nullopt;
    }

    void addOption(std::string_view name, std::string_view value) override {
        if (name == "-h" || name == "--help") {
            showHelp = true;
        } else if (name == "--no-align") {
            align = false;
        } else if (name == "--block") {
            blockFrames = parseBlockFrames(name, value);
        } else if (name == "--meters") {
            metersPath = std::filesystem::path(value);
        } else {
            presets.add(name, value);
        }
    }

    void addOperand(std::string_view argument) override { operands.emplace_back(argument); }

private:
    static std::int64_t parseBlockFrames(std::string_view name, std::string_view text) {
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

    PresetOptionsParser presets;
    std::vector<std::string> operands;
    std::int64_t blockFrames = 512;
    std::optional<std::filesystem::path> metersPath;
    bool align = true;
    bool showHelp = false;
};

} // namespace

ProcessOptions parseProcessOptions(const std::vector<std::string>& args) {
    ProcessOptionsParser parser;
    parser.scan(args);
    return parser.finish();
}

} // namespace quellora
