// Launch at login: the user's toggle, and one automatic registration during
// the first setup.

#include "app/app_state.h"

namespace quellora {
namespace {

constexpr std::string_view autoRegisteredKey = "didAutoRegisterLoginItem";
constexpr auto deferredRegistrationDelay = seconds(0.75);

} // namespace

void AppState::setLaunchAtLogin(bool enabled) {
    try {
        if (enabled) {
            services.loginItem->registerItem();
        } else {
            services.loginItem->unregisterItem();
        }
    } catch (const LoginItemError& error) {
        log.error("Launch at login: %s", error.what());
    }
    // Whatever happened, show what the system now says.
    refreshLaunchAtLoginStatus();
}

void AppState::refreshLaunchAtLoginStatus() {
    launchAtLoginStatus_.set(services.loginItem->status());
}

void AppState::registerLoginItemOnFirstSetup(bool deferred) {
    auto& settings = *services.settings;
    if (settings.boolValue(autoRegisteredKey)) {
        return;
    }
    // Attempted at most once per user, whatever the outcome.
    settings.setValue(autoRegisteredKey, true);
    if (services.loginItem->status() == LoginItemStatus::enabled) {
        log.notice("Login item already enabled — skipping auto-register.");
        return;
    }
    if (!deferred) {
        try {
            services.loginItem->registerItem();
            log.notice("Login item registered (immediate, permission screen).");
        } catch (const LoginItemError& error) {
            log.error("Login item registration failed: %s", error.what());
        }
        refreshLaunchAtLoginStatus();
        return;
    }
    // Registers even if the model is gone by then; only the refresh needs it.
    auto refresh = lifetime.guard([this] { refreshLaunchAtLoginStatus(); });
    services.mainQueue.postAfter(
        deferredRegistrationDelay, [loginItem = services.loginItem, logger = log, refresh] {
            try {
                loginItem->registerItem();
                logger.notice("Login item registered (deferred, post-setup).");
            } catch (const LoginItemError& error) {
                logger.error("Login item registration failed: %s", error.what());
            }
            refresh();
        });
}

} // namespace quellora
