#include "distribution/updater.h"

namespace quellora {

Updater::Updater(std::shared_ptr<UpdateDriver> driver, Dispatcher& mainQueue, bool isDevBuild)
    : driver_(std::move(driver))
    , mainQueue_(mainQueue) {
    if (isDevBuild) {
        log_.notice("Update checks disabled for dev build (no auto-update).");
        return;
    }
    driver_->setEvents({
        .willInstallOnQuit = lifetime_.guard([this](UpdateDriver::InstallNow installNow) {
            updateReadyToInstall(std::move(installNow));
        }),
        .installDidNotComplete = lifetime_.guard([this] { installDidNotComplete(); }),
    });
    driver_->setAutomaticallyChecksForUpdates(true);
    driver_->setAutomaticallyDownloadsUpdates(true);
    driver_->start();
    if (driver_->automaticallyChecksForUpdates()) {
        driver_->checkForUpdatesInBackground();
    }
}

void Updater::updateReadyToInstall(UpdateDriver::InstallNow installNow) {
    installNow_ = std::move(installNow);
    updateAvailable_.set(true);
    log_.notice("Update staged and ready; showing 'Update available' banner.");
}

void Updater::installAvailableUpdate() {
    if (isInstalling_.get() || !installNow_) {
        return;
    }
    isInstalling_.set(true);
    // Taken before the block runs: installing may end the application, and
    // the closing of the panel must not touch an Updater that is gone.
    auto& queue = mainQueue_;
    auto dismiss = lifetime_.guard([this] {
        if (dismissMenu_) {
            dismissMenu_();
        }
    });
    const auto block = installNow_;
    block();
    queue.postAfter(seconds(dismissMenuDelaySeconds), std::move(dismiss));
}

void Updater::installDidNotComplete() {
    isInstalling_.set(false);
    log_.notice("Update did not install; it stays available to install again.");
}

} // namespace quellora
