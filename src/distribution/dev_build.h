#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quellora::DevBuild {

// The three signs of a development build, as read from this process.
struct Signs {
    std::optional<std::string> devVariable; // "QUELLORA_DEV"
    bool buildMarked = false;               // configured with QUELLORA_DEV_BUILD=ON
    std::filesystem::path executablePath;   // as the process knows it, links not yet resolved
};

// Whether this is a development build: no updater, no relocation, engine
// metering on. Computed afresh at every call.
bool isActive();

// The rule itself: "QUELLORA_DEV" exactly "1", or the build mark, or an
// executable whose resolved path contains "/.build/".
bool isActive(const Signs& signs);

Signs currentSigns();

} // namespace quellora::DevBuild
