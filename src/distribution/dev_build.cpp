#include "distribution/dev_build.h"

#include <cstdlib>
#include <system_error>

namespace quellora::DevBuild {
namespace {

bool liesInBuildFolder(const std::filesystem::path& executable) {
    if (executable.empty()) {
        return false;
    }
    std::error_code error;
    const auto resolved = std::filesystem::canonical(executable, error);
    const std::string text = error ? executable.string() : resolved.string();
    return text.find("/.build/") != std::string::npos;
}

} // namespace

bool isActive(const Signs& signs) {
    if (signs.devVariable == "1") {
        return true;
    }
    if (signs.buildMarked) {
        return true;
    }
    return liesInBuildFolder(signs.executablePath);
}

Signs currentSigns() {
    Signs signs;
    if (const char* value = std::getenv("QUELLORA_DEV")) {
        signs.devVariable = value;
    }
    signs.buildMarked = QUELLORA_DEV_BUILD_MARK != 0;
    signs.executablePath = "/proc/self/exe";
    return signs;
}

bool isActive() {
    return isActive(currentSigns());
}

} // namespace quellora::DevBuild
