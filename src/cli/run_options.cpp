#include "cli/run_options.h"

#include "cli/command_error.h"
#include "cli/option_scanner.h"

#include <fmt/format.h>

namespace quellora {
namespace {

class RunOptionsParser final : public OptionScanner {
public:
    RunOptions finish() const {
        RunOptions options;
        options.showHelp = showHelp;
        if (showHelp) {
            return options;
        }
        if (unexpected) {
            throw CommandError::badInput(fmt::format("unexpected argument \"{}\"", *unexpected));
        }
        options.presets = presets.finish();
        options.verbose = verbose;
        return options;
    }

protected:
    std::optional<bool> takesValue(std::string_view name) const override {
        if (name == "-h" || name == "--help" || name == "-v" || name == "--verbose") {
            return false;
        }
        if (PresetOptionsParser::accepts(name)) {
            return true;
        }
        return std::nullopt;
    }

    void addOption(std::string_view name, std::string_view value) override {
        if (name == "-h" || name == "--help") {
            showHelp = true;
        } else if (name == "-v" || name == "--verbose") {
            verbose = true;
        } else {
            presets.add(name, value);
        }
    }

    void addOperand(std::string_view argument) override {
        if (!unexpected) {
            unexpected = std::string(argument);
        }
    }

private:
    PresetOptionsParser presets;
    std::optional<std::string> unexpected;
    bool verbose = false;
    bool showHelp = false;
};

} // namespace

RunOptions parseRunOptions(const std::vector<std::string>& args) {
    RunOptionsParser parser;
    parser.scan(args);
    return parser.finish();
}

} // namespace quellora
