#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quellora {

// Where updates come from, as installed with the package in
// <prefix>/share/quellora/update.json:
//   {"feed": "<url or empty>", "publicKey": "<base64 Ed25519 key or empty>"}
// An empty feed means the build has no updater.
struct UpdateConfiguration {
    std::string feed;
    std::string publicKey;

    // Throws UpdateConfigurationError for anything but an object with two strings.
    static UpdateConfiguration decode(std::string_view json);

    // Found beside the running executable, so that a relocated prefix keeps
    // its own: <prefix>/bin/quellora -> <prefix>/share/quellora/update.json.
    static std::filesystem::path locationFor(const std::filesystem::path& executable);
};

class UpdateConfigurationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// $XDG_CACHE_HOME/quellora/updates when XDG_CACHE_HOME is an absolute path,
// otherwise ~/.cache/quellora/updates. Throws std::runtime_error without a home.
std::filesystem::path defaultUpdateCacheDirectory();

} // namespace quellora
