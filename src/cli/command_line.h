#pragma once

#include "cli/console_streams.h"

#include <string>
#include <vector>

namespace quellora {

// Entry of the `quellora` executable: dispatches to the subcommands, or
// starts the tray application when there is none.
// Returns the process exit status.
int runCommandLine(int argc, char** argv);

// The same, for arguments already collected (without the program name).
int runCommandLine(const std::vector<std::string>& args, const ConsoleStreams& console);

} // namespace quellora
