#include "distribution/update_configuration.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

namespace quellora {

namespace fs = std::filesystem;

UpdateConfiguration UpdateConfiguration::decode(std::string_view json) {
    const auto document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        throw UpdateConfigurationError("update.json is not a JSON object");
    }
    UpdateConfiguration configuration;
    for (auto [name, value] : {std::pair{"feed", &configuration.feed},
                               std::pair{"publicKey", &configuration.publicKey}}) {
        const auto found = document.find(name);
        if (found == document.end() || !found->is_string()) {
            throw UpdateConfigurationError(std::string("update.json needs the string \"") + name +
                                           "\"");
        }
        *value = found->get<std::string>();
    }
    return configuration;
}

fs::path UpdateConfiguration::locationFor(const fs::path& executable) {
    return executable.parent_path().parent_path() / "share" / "quellora" / "update.json";
}

fs::path defaultUpdateCacheDirectory() {
    fs::path cache;
    if (const char* cacheHome = std::getenv("XDG_CACHE_HOME");
        cacheHome != nullptr && fs::path(cacheHome).is_absolute()) {
        cache = cacheHome;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        cache = fs::path(home) / ".cache";
    } else if (const passwd* entry = ::getpwuid(::getuid());
               entry != nullptr && entry->pw_dir != nullptr) {
        cache = fs::path(entry->pw_dir) / ".cache";
    } else {
        throw std::runtime_error("Cannot find the home folder for the update cache");
    }
    return cache / "quellora" / "updates";
}

} // namespace quellora
