#pragma once

#include "app/instance_control.h"
#include "cli/console_streams.h"

#include <string>
#include <string_view>
#include <vector>

namespace quellora {

// `quellora toggle|on|off|status|apps|direct NAME|level NAME`: commands for
// the Quellora running in this session (the tray application or `quellora
// run`), over the session bus. `command` is one isControlCommand accepts;
// `args` are the arguments after it. Returns 0 when it answered, 1 when it
// is not running or did not answer, 2 for unusable arguments or an
// application name it does not know.
int runControlCommand(std::string_view command, const std::vector<std::string>& args,
                      const ConsoleStreams& console);

bool isControlCommand(std::string_view command);

// What `quellora apps` prints: one line per application, name, ID and how
// it plays, under a heading; or that none has an output stream. For a
// terminal, the control characters in names and IDs are escaped.
std::string formatApplicationList(const std::vector<ListedApplication>& applications,
                                  bool forTerminal);

} // namespace quellora
