#include "base/log_sinks.h"
#include "base/manual_dispatcher.h"
#include "distribution/updater.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quellora {
namespace {

using ::testing::ElementsAre;

struct ScriptedDriver final : UpdateDriver {
    void setEvents(Events newEvents) override { events = std::move(newEvents); }
    void start() override { calls.push_back("start"); }
    bool automaticallyChecksForUpdates() const override { return checks && !refusesChecks; }
    void setAutomaticallyChecksForUpdates(bool on) override {
        checks = on;
        calls.push_back("checks " + std::to_string(on));
    }
    void setAutomaticallyDownloadsUpdates(bool on) override {
        calls.push_back("downloads " + std::to_string(on));
    }
    void checkForUpdatesInBackground() override { calls.push_back("check"); }

    Events events;
    std::vector<std::string> calls;
    bool checks = false, refusesChecks = false;
};

class UpdaterTest : public ::testing::Test {
protected:
    UpdaterTest() { Log::setSinks({sink}); }
    ~UpdaterTest() override { Log::setSinks(Log::defaultSinks()); }

    Updater& makeUpdater(bool isDevBuild = false) {
        updater = std::make_unique<Updater>(driver, mainQueue, isDevBuild);
        updater->setDismissMenu([this] { ++dismissals; });
        return *updater;
    }
    // The driver stages an update whose block counts its runs in `runs`.
    void stage(int& runs) {
        driver->events.willInstallOnQuit([&runs] { ++runs; });
    }
    std::size_t logged(const std::string& message) const {
        std::size_t count = 0;
        for (const auto& record : sink->records()) {
            count += record.message == message && record.level == LogLevel::notice &&
                     record.category == "Updater";
        }
        return count;
    }

    std::shared_ptr<MemoryLogSink> sink = std::make_shared<MemoryLogSink>();
    ManualDispatcher mainQueue;
    std::shared_ptr<ScriptedDriver> driver = std::make_shared<ScriptedDriver>();
    std::unique_ptr<Updater> updater;
    int dismissals = 0;
};

TEST_F(UpdaterTest, DevelopmentBuildNeverStartsTheDriver) {
    makeUpdater(true);
    EXPECT_TRUE(driver->calls.empty());
    EXPECT_EQ(logged("Update checks disabled for dev build (no auto-update)."), 1u);
}

TEST_F(UpdaterTest, StartsWithAutomaticChecksAndDownloadsAndChecksAtOnceWhenChecksStayOn) {
    makeUpdater();
    EXPECT_THAT(driver->calls, ElementsAre("checks 1", "downloads 1", "start", "check"));

    driver = std::make_shared<ScriptedDriver>();
    driver->refusesChecks = true;
    makeUpdater();
    EXPECT_THAT(driver->calls, ElementsAre("checks 1", "downloads 1", "start"));
}

TEST_F(UpdaterTest, ALaterStagedUpdateReplacesTheBlockAndKeepsTheBanner) {
    makeUpdater();
    std::vector<bool> banner;
    const auto subscription =
        const_cast<Observable<bool>&>(updater->updateAvailable()).subscribe([&](bool available) {
            banner.push_back(available);
        });
    int firstRuns = 0;
    int secondRuns = 0;
    stage(firstRuns);
    stage(secondRuns);
    EXPECT_THAT(banner, ElementsAre(true));
    EXPECT_EQ(logged("Update staged and ready; showing 'Update available' banner."), 2u);

    updater->installAvailableUpdate();
    updater->installAvailableUpdate();
    EXPECT_EQ(firstRuns, 0);
    EXPECT_EQ(secondRuns, 1) << "a second install while installing does nothing";
    EXPECT_TRUE(updater->isInstalling().get());
}

TEST_F(UpdaterTest, TheMenuClosesOneSecondAfterInstallingStartsUnlessTheUpdaterIsGone) {
    for (const bool keepUpdater : {true, false}) {
        makeUpdater();
        int runs = 0;
        stage(runs);
        updater->installAvailableUpdate();
        mainQueue.advance(seconds(0.999));
        EXPECT_EQ(dismissals, 0);
        if (!keepUpdater) {
            updater.reset();
        }
        mainQueue.advance(seconds(0.001));
        EXPECT_EQ(dismissals, keepUpdater ? 1 : 0);
        EXPECT_EQ(runs, 1);
        dismissals = 0;
    }
}

TEST_F(UpdaterTest, AnInstallationThatDidNotCompleteCanBeTriedAgain) {
    makeUpdater();
    updater->installAvailableUpdate(); // nothing staged yet: nothing to do
    EXPECT_FALSE(updater->isInstalling().get());
    int runs = 0;
    stage(runs);
    updater->installAvailableUpdate();
    driver->events.installDidNotComplete();
    EXPECT_FALSE(updater->isInstalling().get());
    EXPECT_TRUE(updater->updateAvailable().get());
    updater->installAvailableUpdate();
    EXPECT_EQ(runs, 2);
}

} // namespace
} // namespace quellora
