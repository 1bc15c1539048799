// The low-volume warning and launch at login.

#include "app_test_fixture.h"

#include <cmath>
#include <optional>

namespace quellora {
namespace {

TEST(LowVolumeDetectorTest, QuietTimeAddsUpAcrossSilenceAndResetsOnAHealthyPeak) {
    LowVolumeDetector detector;
    for (int tick = 0; tick < 120; ++tick) {
        ASSERT_EQ(detector.update(-30.0f, 0.5, false), LowVolumeVerdict::noChange);
    }
    for (int tick = 0; tick < 60; ++tick) { // silence pauses the clock
        ASSERT_EQ(detector.update(-60.0f, 0.5, false), LowVolumeVerdict::noChange);
    }
    for (int tick = 0; tick < 59; ++tick) {
        ASSERT_EQ(detector.update(-30.0f, 0.5, false), LowVolumeVerdict::noChange);
    }
    EXPECT_EQ(detector.update(-30.0f, 0.5, false), LowVolumeVerdict::showWarning);
    EXPECT_EQ(detector.update(-16.0f, 0.5, true), LowVolumeVerdict::clearWarning);
    EXPECT_EQ(detector.secondsSinceHealthyPeak, 0.0);
    EXPECT_EQ(detector.update(std::nanf(""), 0.5, false), LowVolumeVerdict::noChange);
    EXPECT_EQ(detector.secondsSinceHealthyPeak, 0.5); // a NaN peak counts as quiet
}

TEST(LowVolumeDetectorTest, ThreeTicksOfSilenceClearAShownWarning) {
    LowVolumeDetector detector;
    EXPECT_EQ(detector.update(-60.0f, 0.5, true), LowVolumeVerdict::noChange);
    EXPECT_EQ(detector.update(-60.0f, 0.5, true), LowVolumeVerdict::noChange);
    EXPECT_EQ(detector.update(-60.0f, 0.5, true), LowVolumeVerdict::clearWarning);
}

class LowVolumeMonitorTest : public AppStateTest {
protected:
    // What the capture side would meter: 512-frame buffers at 48 kHz give
    // about 48 samples per half-second tick, so the 96-sample window spans two.
    // The compressor stage sees `sentPeakDb` unless a stage before it lifted
    // it to `levelledPeakDb`.
    void feed(float sentPeakDb, int ticks, std::optional<float> levelledPeakDb = std::nullopt) {
        auto& chain = model->engine().processingChain();
        const float seen = levelledPeakDb.value_or(sentPeakDb);
        for (int tick = 0; tick < ticks; ++tick) {
            for (int buffer = 0; buffer < 48; ++buffer) {
                chain.sourceLevels().push({sentPeakDb, sentPeakDb, 0.0f});
                chain.compressor().levelBuffer().push({seen, seen, 0.0f});
            }
            advance(0.5);
        }
    }
};

TEST_F(LowVolumeMonitorTest, NinetySecondsOfQuietRaiseTheWarningUntilDismissed) {
    runningModel();
    feed(-30.0f, 179);
    EXPECT_FALSE(model->lowVolumeWarning().get());
    feed(-30.0f, 1);
    EXPECT_TRUE(model->lowVolumeWarning().get());
    EXPECT_TRUE(logged("Low volume warning shown, quietFor=90.000000s"));

    model->dismissLowVolumeWarning();
    feed(-30.0f, 400);
    EXPECT_FALSE(model->lowVolumeWarning().get());

    // A new start of processing forgets the dismissal and the quiet time.
    model->send(AppEvent::Kind::userDisabled);
    model->send(AppEvent::Kind::userEnabled);
    advance(0.5);
    feed(-30.0f, 1);
    EXPECT_FALSE(model->lowVolumeWarning().get());
    feed(-30.0f, 179);
    EXPECT_TRUE(model->lowVolumeWarning().get());
    feed(-60.0f, 3); // the first tick's window still holds the quiet signal
    EXPECT_TRUE(model->lowVolumeWarning().get());
    feed(-60.0f, 1);
    EXPECT_FALSE(model->lowVolumeWarning().get());
    EXPECT_TRUE(logged("Low volume warning cleared"));
}

TEST_F(LowVolumeMonitorTest, ListensToWhatApplicationsSendNotToTheLevelledSignal) {
    runningModel().selectNight();
    feed(-30.0f, 180, -12.0f); // Night lifts the quiet application to a healthy level
    EXPECT_TRUE(model->lowVolumeWarning().get());
}

TEST_F(LowVolumeMonitorTest, NothingHappensOutsideProcessing) {
    runningModel();
    model->send(AppEvent::Kind::userDisabled);
    feed(-30.0f, 400);
    EXPECT_FALSE(model->lowVolumeWarning().get());
}

using LoginItemTest = AppStateTest;

TEST_F(LoginItemTest, RegistersOnceAfterTheFirstStart) {
    auto& app = makeModel();
    EXPECT_EQ(loginItem->registrations, 0);
    advance(0.75);
    EXPECT_EQ(loginItem->registrations, 1);
    EXPECT_TRUE(logged("Login item registered (deferred, post-setup)."));
    EXPECT_TRUE(app.launchAtLogin());
    EXPECT_TRUE(settings->boolValue("didAutoRegisterLoginItem"));

    app.setLaunchAtLogin(false);
    app.send(AppEvent::Kind::userDisabled);
    app.send(AppEvent::Kind::userEnabled);
    advance(1.0);
    EXPECT_EQ(loginItem->registrations, 1); // only the user's toggle from now on
    EXPECT_FALSE(app.launchAtLogin());
}

TEST_F(LoginItemTest, DeferredRegistrationHappensEvenIfTheModelIsGone) {
    makeModel();
    model.reset();
    advance(0.75);
    EXPECT_EQ(loginItem->registrations, 1);
}

TEST_F(LoginItemTest, AlreadyEnabledIsLeftAlone) {
    loginItem->status_ = LoginItemStatus::enabled;
    makeModel();
    advance(1.0);
    EXPECT_EQ(loginItem->registrations, 0);
    EXPECT_TRUE(logged("Login item already enabled — skipping auto-register."));
}

TEST_F(LoginItemTest, ApprovalAndFailuresShowWhatTheSystemSays) {
    loginItem->answerToRegister = LoginItemStatus::requiresApproval;
    settings->setValue("didAutoRegisterLoginItem", true);
    auto& app = makeModel();
    app.setLaunchAtLogin(true);
    EXPECT_FALSE(app.launchAtLogin());
    EXPECT_TRUE(app.launchAtLoginNeedsApproval());

    loginItem->failure = "Cannot write the autostart entry: Read-only file system.";
    app.setLaunchAtLogin(false);
    EXPECT_TRUE(
        logged("Launch at login: Cannot write the autostart entry: Read-only file system."));
    EXPECT_TRUE(app.launchAtLoginNeedsApproval()); // unchanged, as the system reports
}

} // namespace
} // namespace quellora
