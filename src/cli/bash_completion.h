#pragma once

#include "cli/command_reference.h"

#include <string>

namespace quellora {

// A bash completion script for `program`, for bash-completion's
// completions folder: commands first, then each command's options, the
// words an option takes, and paths where a command or option wants files.
// Throws std::invalid_argument for a name a shell word cannot hold as it is.
std::string formatBashCompletion(const ProgramHelp& program);

} // namespace quellora
