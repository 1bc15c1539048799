#pragma once

#include "cli/preset_options.h"
#include "dsp/param_range.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quellora {

// What `quellora process` was asked to do, checked for form and range but
// not yet against the files.
struct ProcessOptions : PresetOptions {
    std::filesystem::path input;
    std::filesystem::path output;
    std::int64_t blockFrames = 512;
    std::optional<std::filesystem::path> metersPath;
    bool align = true;
    bool showHelp = false;
};

inline constexpr ClosedRange<std::int64_t> blockFramesRange{1, 8192};

// Throws CommandError (bad input) naming the argument at fault.
ProcessOptions parseProcessOptions(const std::vector<std::string>& args);

} // namespace quellora
