#pragma once

#include <functional>
#include <optional>
#include <string_view>

namespace quellora {

// Whether this user may capture what the system plays.
enum class SystemAudioAuthStatus { authorized, denied, undetermined };

std::string_view rawValue(SystemAudioAuthStatus status);
// Exactly "authorized", "denied" or "undetermined"; anything else gives none.
std::optional<SystemAudioAuthStatus> systemAudioAuthStatusFromRawValue(std::string_view text);

// Where the capture permission comes from. Main thread, except that a
// request's completion may arrive on any thread, exactly once.
class PermissionSource {
public:
    virtual ~PermissionSource() = default;
    virtual SystemAudioAuthStatus status() = 0;
    // Asks the user; `completion` receives whether it was granted. By the
    // time it runs, status() reflects the answer.
    virtual void request(std::function<void(bool granted)> completion) = 0;
    // Shows the user where the permission is changed, for an answer the
    // system will not ask again.
    virtual void openSystemSettings() = 0;
};

// Linux desktops keep no consent record for capturing the system's output:
// any program of the user may, so the permission is always granted.
class LinuxPermissionSource final : public PermissionSource {
public:
    SystemAudioAuthStatus status() override { return SystemAudioAuthStatus::authorized; }
    void request(std::function<void(bool granted)> completion) override { completion(true); }
    void openSystemSettings() override {}
};

} // namespace quellora
