// Suspending IO while nothing plays, and resuming it.

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
};

TEST_F(AudioEngineIdleTest, SuspendsAfterTwoIdleTicksAndResumesWhenTheOutputRuns) {
    advance(1.0);
    EXPECT_TRUE(ioRunning());
    advance(1.0);
    EXPECT_TRUE(engine->ioSuspended().get());
    EXPECT_EQ(hal.startedIOProcCount(aggregate()), 0u);
    EXPECT_EQ(hal.startedIOProcCount(speakers), 0u);
    EXPECT_EQ(hal.listenerCount(speakers, AudioProperty::deviceIsRunningSomewhere), 1u);
    EXPECT_TRUE(logged("IO suspended (no audio sources) — coreaudiod idle until playback resumes"));
    // The generation stays built.
    EXPECT_EQ(hal.ioProcCount(aggregate()), 1u);

    // Playback elsewhere does not wake it; playback on the speakers does.
    hal.startPlayback(player, headphones);
    mainQueue.runUntilIdle();
    advance(3.0);
    EXPECT_TRUE(engine->ioSuspended().get());
    hal.stopPlayback(player);
    hal.startPlayback(player, speakers);
    mainQueue.runUntilIdle();
    EXPECT_FALSE(engine->ioSuspended().get());
    EXPECT_TRUE(ioRunning());
    EXPECT_EQ(engine->ioState()._fadeInRemaining.load(), 24000);
    EXPECT_EQ(hal.listenerCount(speakers, AudioProperty::deviceIsRunningSomewhere), 0u);
    EXPECT_TRUE(logged("IO resumed (audio source active)"));

    // While a source plays, IO stays live.
    advance(10.0);
    EXPECT_FALSE(engine->ioSuspended().get());
}

TEST_F(AudioEngineIdleTest, OneActiveTickRestartsTheIdleCount) {
    advance(1.0);
    hal.startPlayback(player, speakers);
    advance(1.0);
    hal.stopPlayback(player);
    advance(1.0);
    EXPECT_FALSE(engine->ioSuspended().get());
    advance(1.0);
    EXPECT_TRUE(engine->ioSuspended().get());
}

TEST_F(AudioEngineIdleTest, AnUnreadableProcessListCountsAsSilence) {
    hal.injectFailure(HalOperation::getPropertyDataSize, 1, SimulatedFailurePlan::always,
                      AudioProperty::processObjectList);
    hal.startPlayback(player, speakers);
    advance(2.0);
    EXPECT_TRUE(engine->ioSuspended().get());
}

TEST_F(AudioEngineIdleTest, PollsWhenTheRunningListenerCannotBeInstalled) {
    hal.injectFailure(HalOperation::addPropertyListener, 560947818, 1,
                      AudioProperty::deviceIsRunningSomewhere);
    advance(2.0);
    ASSERT_TRUE(engine->ioSuspended().get());
    EXPECT_TRUE(logged("DeviceIsRunningSomewhere listener install failed, OSStatus=560947818; "
                       "falling back to poll"));
    hal.startPlayback(player, headphones); // the poll sees any source
    advance(1.0);
    EXPECT_FALSE(engine->ioSuspended().get());
    EXPECT_TRUE(ioRunning());
}

TEST_F(AudioEngineIdleTest, AFailedStopStaysLiveAndTriesAgain) {
    hal.injectFailure(HalOperation::deviceStop, 1852797029, 1);
    advance(2.0);
    EXPECT_FALSE(engine->ioSuspended().get());
    EXPECT_TRUE(logged("Idle suspend AudioDeviceStop failed, OSStatus=1852797029; staying live"));
    advance(1.0);
    EXPECT_TRUE(engine->ioSuspended().get());
}

TEST_F(AudioEngineIdleTest, AFailedResumeRebuildsThePipeline) {
    advance(2.0);
    ASSERT_TRUE(engine->ioSuspended().get());
    hal.injectFailure(HalOperation::deviceStart, 1937010544, 1);
    hal.startPlayback(player, speakers);
    mainQueue.runUntilIdle();
    EXPECT_TRUE(logged("Idle resume AudioDeviceStart failed, OSStatus=1937010544; rebuilding"));
    EXPECT_TRUE(logged("Audio pipeline generation 2 disposed; waiting for stable output "
                       "(reason=idle resume failure)"));
    EXPECT_FALSE(engine->ioSuspended().get());
    advance(0.4);
    EXPECT_EQ(runningReports.size(), 2u);
    EXPECT_TRUE(ioRunning());
}

TEST_F(AudioEngineIdleTest, StopWhileSuspendedRemovesTheListener) {
    advance(2.0);
    engine->stop();
    EXPECT_FALSE(engine->ioSuspended().get());
    EXPECT_EQ(hal.listenerCount(), 0u);
}

} // namespace
} // namespace quellora
