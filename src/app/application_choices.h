#pragma once

#include "app/settings_coding_error.h"
#include "engine/audio_applications.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

// What the user chose for applications, by bundle ID: direct (around the
// tap) or levelled. Applications without a choice follow their default.
class ApplicationChoices {
public:
    std::optional<bool> isDirect(const std::string& bundleID) const;
    void set(const std::string& bundleID, bool direct) { direct_[bundleID] = direct; }
    const std::map<std::string, bool>& entries() const { return direct_; }
    // What the engine's taps need: the direct ones, and the levelled ones,
    // which matter where the default would be direct.
    ApplicationRouting routing() const;

    // The stored form: one JSON object, bundle ID to "direct" or "levelled".
    std::string encode() const;
    // Throws SettingsCodingError unless `json` is such an object; entries
    // with another value (from a later version) are skipped.
    static ApplicationChoices decode(std::string_view json);

private:
    std::map<std::string, bool> direct_;
};

} // namespace quellora
