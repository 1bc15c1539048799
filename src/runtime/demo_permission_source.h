#pragma once

#include "app/system_audio_permission.h"
#include "base/dispatcher.h"

namespace quellora {

// The permission in the demo mode, starting from a status the person giving
// the demo picks. Asking grants it (on the next turn of the main queue, as
// a system prompt would answer), and so does a visit to the settings page,
// which the model notices at its next check, as it would a real change.
class DemoPermissionSource final : public PermissionSource {
public:
    DemoPermissionSource(SystemAudioAuthStatus status, Dispatcher& mainQueue)
        : status_(status)
        , mainQueue_(mainQueue) {}

    SystemAudioAuthStatus status() override { return status_; }
    void request(std::function<void(bool granted)> completion) override {
        status_ = SystemAudioAuthStatus::authorized;
        mainQueue_.post([completion = std::move(completion)] { completion(true); });
    }
    void openSystemSettings() override { status_ = SystemAudioAuthStatus::authorized; }

private:
    SystemAudioAuthStatus status_;
    Dispatcher& mainQueue_;
};

} // namespace quellora
