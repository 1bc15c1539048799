#pragma once

#include "cli/console_streams.h"

#include <string>
#include <string_view>
#include <vector>

namespace quellora {

// `quellora toggle|on|off|status`: commands for the tray application running
// in this session, over the session bus. `command` is one isControlCommand
// accepts; `args` are the arguments after it. Returns 0 when it answered, 1 when it is not running
// or did not answer, 2 for unusable arguments.
int runControlCommand(std::string_view command, const std::vector<std::string>& args,
                      const ConsoleStreams& console);

bool isControlCommand(std::string_view command);

} // namespace quellora
