#include "cli/option_scanner.h"

#include "cli/command_error.h"

#include <fmt/format.h>

namespace quellora {

void OptionScanner::scan(const std::vector<std::string>& args) {
    bool optionsEnded = false;
    for (std::size_t index = 0; index < args.size(); ++index) {
        const std::string_view argument = args[index];
        if (optionsEnded || argument.size() < 2 || argument.front() != '-') {
            addOperand(argument);
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
        const auto hasValue = takesValue(name);
        if (!hasValue) {
            throw CommandError::badInput(fmt::format("unknown option \"{}\"", name));
        }
        std::string_view value;
        if (equals != std::string_view::npos) {
            if (!*hasValue) {
                throw CommandError::badInput(fmt::format("{} takes no value", name));
            }
            value = argument.substr(equals + 1);
        } else if (*hasValue) {
            if (index + 1 == args.size()) {
                throw CommandError::badInput(fmt::format("{} needs a value", name));
            }
            value = args[++index];
        }
        if (*hasValue && value.empty()) {
            throw CommandError::badInput(fmt::format("{} needs a value", name));
        }
        addOption(name, value);
    }
}

} // namespace quellora
