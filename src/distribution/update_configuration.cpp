#include "distribution/update_configuration.h"

#include "base/file_system.h"

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
    return xdgBaseFolder("XDG_CACHE_HOME", ".cache") / "quellora" / "updates";
}

} // namespace quellora
