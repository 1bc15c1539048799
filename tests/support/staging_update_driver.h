#pragma once

#include "distribution/update_driver.h"

namespace quellora {

// An update driver that only keeps the events, so a test can stage an update
// or begin and end the updater's user-interface session.
struct StagingUpdateDriver final : UpdateDriver {
    void setEvents(Events newEvents) override { events = std::move(newEvents); }
    void start() override {}
    bool automaticallyChecksForUpdates() const override { return false; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    void setAutomaticallyDownloadsUpdates(bool) override {}
    void checkForUpdatesInBackground() override {}

    Events events;
};

} // namespace quellora
