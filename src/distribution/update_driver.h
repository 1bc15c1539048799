#pragma once

#include <functional>

namespace quellora {

// The platform's update machinery: checks a feed, downloads and verifies a
// newer release, and hands it over ready to install. Main thread only; every
// event arrives on the main queue.
class UpdateDriver {
public:
    using InstallNow = std::function<void()>;

    struct Events {
        // A verified update is staged to install when the application quits
        // (where the platform does that); `installNow` installs it at once.
        std::function<void(InstallNow installNow)> willInstallOnQuit;
        // An `installNow` that was started did not install (cancelled or
        // failed); the staged update is still there to try again.
        std::function<void()> installDidNotComplete;
    };

    virtual ~UpdateDriver() = default;

    // Set before start().
    virtual void setEvents(Events events) = 0;
    virtual void start() = 0;

    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
    virtual void setAutomaticallyDownloadsUpdates(bool enabled) = 0;
    // A check that shows nothing unless an update gets staged.
    virtual void checkForUpdatesInBackground() = 0;
};

} // namespace quellora
