#pragma once

#include "cli/preset_options.h"

#include <string>
#include <vector>

namespace quellora {

// What `quellora run` was asked to do.
struct RunOptions {
    PresetOptions presets; // nothing given: the presets the application restores
    bool verbose = false;
    bool showHelp = false;
};

// Throws CommandError (bad input) naming the argument at fault.
RunOptions parseRunOptions(const std::vector<std::string>& args);

} // namespace quellora
