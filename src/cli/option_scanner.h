#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellora {

// Reads a subcommand's arguments the way every subcommand takes them:
// options anywhere among the operands, values as "--opt value" or
// "--opt=value" (long options only), and "--" ending the options. A
// subcommand says which options it knows and collects what they say.
class OptionScanner {
public:
    virtual ~OptionScanner() = default;

    // Throws CommandError (bad input) for an unknown option, a value missing
    // or given to a flag, and whatever the collecting calls throw.
    void scan(const std::vector<std::string>& args);

protected:
    // Nothing for an option this command does not know; otherwise whether it
    // takes a value.
    virtual std::optional<bool> takesValue(std::string_view name) const = 0;
    // `value` is empty for a flag and never empty otherwise.
    virtual void addOption(std::string_view name, std::string_view value) = 0;
    virtual void addOperand(std::string_view argument) = 0;
};

} // namespace quellora
