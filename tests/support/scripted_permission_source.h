#pragma once

#include "app/system_audio_permission.h"

#include <functional>
#include <utility>

namespace quellora {

// A permission source a test sets up: a status, and requests that complete
// when the test says so.
class ScriptedPermissionSource final : public PermissionSource {
public:
    explicit ScriptedPermissionSource(
        SystemAudioAuthStatus status = SystemAudioAuthStatus::authorized)
        : status_(status) {}

    SystemAudioAuthStatus status() override { return status_; }
    void request(std::function<void(bool granted)> completion) override {
        ++requests_;
        pending_ = std::move(completion);
    }
    void openSystemSettings() override { ++settingsOpened_; }

    void setStatus(SystemAudioAuthStatus status) { status_ = status; }
    // Answers the pending request (if any) as the user would, on this thread.
    void answer(bool granted) {
        status_ = granted ? SystemAudioAuthStatus::authorized : SystemAudioAuthStatus::denied;
        if (auto completion = std::exchange(pending_, {})) {
            completion(granted);
        }
    }
    bool hasPendingRequest() const { return static_cast<bool>(pending_); }
    int requests() const { return requests_; }
    int settingsOpened() const { return settingsOpened_; }

private:
    SystemAudioAuthStatus status_;
    std::function<void(bool)> pending_;
    int requests_ = 0;
    int settingsOpened_ = 0;
};

} // namespace quellora
