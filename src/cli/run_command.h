#pragma once

#include "cli/console_streams.h"

#include <string>
#include <vector>

namespace quellora {

// `quellora run [options]`: the application without a window. Levels what
// every other application plays until SIGINT or SIGTERM, printing its state
// as it changes. `args` are the arguments after "run". Returns the exit
// status: 0 after a clean shutdown, 1 when it could not start, 2 for
// unusable arguments.
int runRunCommand(const std::vector<std::string>& args, const ConsoleStreams& console);

} // namespace quellora
