#pragma once

#include "base/dispatcher.h"
#include "base/lifetime.h"
#include "base/log.h"
#include "base/observable.h"
#include "distribution/update_driver.h"

#include <functional>
#include <memory>

namespace quellora {

// What the tray shows about updates: a banner once an update is staged, and
// the "install now" action. Wraps the platform's update driver. Main thread
// only.
class Updater {
public:
    // `isDevBuild` is read once: a development build never starts the driver.
    Updater(std::shared_ptr<UpdateDriver> driver, Dispatcher& mainQueue, bool isDevBuild);
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    // Becomes true when an update is staged and stays true for the process.
    const Observable<bool>& updateAvailable() const { return updateAvailable_; }
    // True once the user started installing; false again only when the
    // installation did not complete, so that it can be tried again.
    const Observable<bool>& isInstalling() const { return isInstalling_; }
    // The driver's block that installs the staged update; empty until one is staged.
    const UpdateDriver::InstallNow& installNow() const { return installNow_; }

    // The tray closes its panel with this once an installation is under way.
    void setDismissMenu(std::function<void()> dismissMenu) {
        dismissMenu_ = std::move(dismissMenu);
    }

    // The driver staged an update; a later one replaces the earlier block.
    void updateReadyToInstall(UpdateDriver::InstallNow installNow);
    void installAvailableUpdate();
    void installDidNotComplete();

    static constexpr double dismissMenuDelaySeconds = 1.0;

private:
    std::shared_ptr<UpdateDriver> driver_;
    Dispatcher& mainQueue_;
    Logger log_{"Updater"};
    Observable<bool> updateAvailable_{false};
    Observable<bool> isInstalling_{false};
    UpdateDriver::InstallNow installNow_;
    std::function<void()> dismissMenu_;
    Lifetime lifetime_; // last: closures stop working before anything else goes
};

} // namespace quellora
