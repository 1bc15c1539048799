#pragma once

#include "distribution/command_runner.h"

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quellora {

// The command a quitting instance asks to be started in its place.
using RelaunchRequest = std::optional<std::vector<std::string>>;

// Runs `session`, which holds the bus name while it runs, and once it has
// returned starts what it put in the request. Started while this instance
// still owned the name, the new one would hand over to it and exit, and then
// this one would quit as well. Returns the session's exit status.
int runSessionThenRelaunch(const std::function<int(RelaunchRequest& relaunch)>& session,
                           CommandRunner& runner, std::ostream& err);

} // namespace quellora
