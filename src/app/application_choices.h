#pragma once

#include "app/settings_coding_error.h"
#include "engine/audio_applications.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellora {

// What the user chose for applications, by bundle ID: direct (around the
// tap) or levelled. Applications without a choice follow their default.
class ApplicationChoices {
public:
    std::optional<bool> isDirect(const std::string& bundleID) const;
    void set(const std::string& bundleID, bool direct) { direct_[bundleID] = direct; }
    // Whether there was a choice to forget.
    bool forget(const std::string& bundleID) { return direct_.erase(bundleID) > 0; }
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

// Choices stored while applications were known by their binary ("pacat")
// rather than their name go over, each once, to the applications that run
// that binary (or are called so) the first time one of them has a stream,
// unless the user chose for them since; then the former choice is dropped.
// Whether anything went over.
bool carryOverFormerChoices(ApplicationChoices& former, ApplicationChoices& choices,
                            const std::vector<AudioApplication>& applications);

} // namespace quellora
