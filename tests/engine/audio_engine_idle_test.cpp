// Suspending IO while nothing plays, and resuming it from what the tap
// receives: whatever plays into the tap must come out.

#include "engine/audio_engine_test_peer.h"
#include "engine_test_fixture.h"

namespace quellora {
namespace {

class AudioEngineIdleTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        startedEngine();
        // This process playing is not a source (on the headphones, so that
        // it does not keep the speakers running).
        hal.startPlayback(ownProcess, headphones);
        mainQueue.runUntilIdle();
    }

    bool ioRunning() const {
        return hal.startedIOProcCount(aggregate()) == 1 && hal.startedIOProcCount(speakers) == 1;
    }
    bool suspended() const { return engine->ioSuspended().get(); }
    AudioObjectID tap() const { return hal.taps().front(); }

    // Lets the two idle ticks pass that suspend IO.
    void suspend() {
        advance(2.0);
        ASSERT_TRUE(suspended());
    }
};

TEST_F(AudioEngineIdleTest, SuspendsAfterTwoIdleTicksAndResumesWhenTheTapReceives) {
    advance(1.0);
    EXPECT_TRUE(ioRunning());
    advance(1.0);
    EXPECT_TRUE(suspended());
    EXPECT_EQ(hal.startedIOProcCount(aggregate()), 0u);
    EXPECT_EQ(hal.startedIOProcCount(speakers), 0u);
    EXPECT_EQ(hal.listenerCount(tap(), AudioProperty::tapHasRunningSource), 1u);
    EXPECT_TRUE(
        logged("IO suspended (no audio sources) — the output can idle until playback resumes"));
    // The generation stays built.
    EXPECT_EQ(hal.ioProcCount(aggregate()), 1u);

    // Playback that does not reach the tap (a stream the user sent to the
    // headphones) does not wake it, however long it plays; nor do the
    // checks while suspended start any IO.
    hal.startPlayback(player, headphones);
    for (int second = 0; second < 10; ++second) {
        advance(1.0);
        EXPECT_TRUE(suspended());
        EXPECT_EQ(hal.startedIOProcCount(aggregate()) + hal.startedIOProcCount(speakers), 0u);
    }
    hal.stopPlayback(player);
    hal.startPlayback(player, speakers);
    mainQueue.runUntilIdle();
    EXPECT_FALSE(suspended());
    EXPECT_TRUE(ioRunning());
    EXPECT_EQ(AudioEngineTestPeer(*engine).ioState()._fadeInRemaining.load(),
              EngineIOState::fadeInFrames);
    EXPECT_EQ(hal.listenerCount(tap(), AudioProperty::tapHasRunningSource), 0u);
    EXPECT_TRUE(logged("IO resumed (audio source active)"));

    // While a source plays, IO stays live.
    advance(10.0);
    EXPECT_FALSE(suspended());
}

// Something else keeps the output running all along (a level meter or a
// recorder on its monitor): its running flag never changes, yet playback
// into the tap must resume IO.
TEST_F(AudioEngineIdleTest, ResumesWhileSomethingElseKeepsTheOutputRunning) {
    AudioDeviceIOProcID meter = 0;
    ASSERT_EQ(hal.createIOProcID(
                  speakers, [](const AudioBufferList&, AudioBufferList&) {}, meter),
              kAudioHardwareNoError);
    ASSERT_EQ(hal.deviceStart(speakers, meter), kAudioHardwareNoError);
    for (int play = 0; play < 3; ++play) {
        suspend();
        hal.startPlayback(player, speakers);
        mainQueue.runUntilIdle();
        EXPECT_FALSE(suspended()) << "play " << play;
        advance(1.0);
        hal.stopPlayback(player);
    }
}

// A source that starts while IO is being stopped changes the tap before
// the listener is armed: the engine looks once more right after arming it.
TEST_F(AudioEngineIdleTest, PlaybackStartingWhileIOStopsResumesAtOnce) {
    advance(1.0);
    hal.runDuringNextCall(HalOperation::deviceStop,
                          [this] { hal.startPlayback(player, speakers); });
    advance(1.0);
    EXPECT_TRUE(
        logged("IO suspended (no audio sources) — the output can idle until playback resumes"));
    EXPECT_FALSE(suspended());
    EXPECT_TRUE(ioRunning());
}

// The last line of defence: a notification the server never sends.
TEST_F(AudioEngineIdleTest, ALostNotificationIsMadeUpForWithinASecond) {
    suspend();
    hal.loseNotifications(AudioProperty::tapHasRunningSource);
    hal.startPlayback(player, speakers);
    mainQueue.runUntilIdle();
    EXPECT_TRUE(suspended());
    advance(1.0);
    EXPECT_FALSE(suspended());
    EXPECT_TRUE(ioRunning());
}

TEST_F(AudioEngineIdleTest, PollsWhenTheTapListenerCannotBeInstalled) {
    hal.injectFailure(HalOperation::addPropertyListener, 560947818, 1,
                      AudioProperty::tapHasRunningSource);
    suspend();
    EXPECT_TRUE(logged("Tap source listener install failed, OSStatus=560947818; falling back to "
                       "poll"));
    hal.startPlayback(player, speakers);
    advance(1.0);
    EXPECT_FALSE(suspended());
    EXPECT_TRUE(ioRunning());
}

// Without word from the tap nothing could tell when to resume: IO stays
// live, and a tap that stops telling while suspended resumes it.
TEST_F(AudioEngineIdleTest, StaysLiveWhileTheTapCannotTell) {
    hal.removeProperty(tap(), AudioProperty::tapHasRunningSource);
    advance(10.0);
    EXPECT_FALSE(suspended());
    EXPECT_TRUE(ioRunning());

    engine->stop();
    engine->start();
    advance(0.4);
    suspend();
    hal.removeProperty(tap(), AudioProperty::tapHasRunningSource);
    advance(1.0);
    EXPECT_FALSE(suspended());
    EXPECT_TRUE(ioRunning());
}

TEST_F(AudioEngineIdleTest, OneActiveTickRestartsTheIdleCount) {
    advance(1.0);
    hal.startPlayback(player, speakers);
    advance(1.0);
    hal.stopPlayback(player);
    advance(1.0);
    EXPECT_FALSE(suspended());
    advance(1.0);
    EXPECT_TRUE(suspended());
}

// After a resume the idle count starts from it: two whole seconds of
// silence before IO stops again, whatever the phase of the ticks.
TEST_F(AudioEngineIdleTest, AfterAResumeTwoWholeSecondsOfSilenceSuspendAgain) {
    suspend();
    advance(0.5);
    hal.startPlayback(player, speakers);
    mainQueue.runUntilIdle();
    ASSERT_FALSE(suspended());
    hal.stopPlayback(player);
    advance(1.9);
    EXPECT_FALSE(suspended());
    advance(0.2);
    EXPECT_TRUE(suspended());
}

// A notification whose news cannot be read resumes IO at once: a second of
// idle IO costs less than the start of a sound.
TEST_F(AudioEngineIdleTest, ANotificationThatCannotBeReadResumesAtOnce) {
    suspend();
    hal.injectFailure(HalOperation::getPropertyData, 1852797029, 1,
                      AudioProperty::tapHasRunningSource);
    hal.startPlayback(player, speakers);
    mainQueue.runUntilIdle();
    EXPECT_FALSE(suspended());
    EXPECT_TRUE(ioRunning());
}

TEST_F(AudioEngineIdleTest, AnUnreadableProcessListCountsAsSilenceUnlessTheTapReceives) {
    hal.injectFailure(HalOperation::getPropertyDataSize, 1, ScriptedHal::always,
                      AudioProperty::processObjectList);
    hal.startPlayback(player, speakers);
    advance(3.0);
    EXPECT_FALSE(suspended());
    hal.stopPlayback(player);
    advance(2.0);
    EXPECT_TRUE(suspended());
}

TEST_F(AudioEngineIdleTest, AFailedStopStaysLiveAndTriesAgain) {
    hal.injectFailure(HalOperation::deviceStop, 1852797029, 1);
    advance(2.0);
    EXPECT_FALSE(suspended());
    EXPECT_TRUE(logged("Idle suspend AudioDeviceStop failed, OSStatus=1852797029; staying live"));
    advance(1.0);
    EXPECT_TRUE(suspended());
}

TEST_F(AudioEngineIdleTest, AFailedResumeRebuildsThePipeline) {
    suspend();
    hal.injectFailure(HalOperation::deviceStart, 1937010544, 1);
    hal.startPlayback(player, speakers);
    mainQueue.runUntilIdle();
    EXPECT_TRUE(logged("Idle resume AudioDeviceStart failed, OSStatus=1937010544; rebuilding"));
    EXPECT_TRUE(logged("Audio pipeline generation 2 disposed; waiting for stable output "
                       "(reason=idle resume failure)"));
    EXPECT_FALSE(suspended());
    advance(0.4);
    EXPECT_EQ(runningReports.size(), 2u);
    EXPECT_TRUE(ioRunning());
}

TEST_F(AudioEngineIdleTest, StopWhileSuspendedRemovesTheListener) {
    suspend();
    engine->stop();
    EXPECT_FALSE(suspended());
    EXPECT_EQ(hal.listenerCount(), 0u);
}

} // namespace
} // namespace quellora
