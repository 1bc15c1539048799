// Building, rebuilding and retrying pipeline generations, in virtual time.

#include "engine/audio_engine_test_peer.h"
#include "engine_test_fixture.h"

namespace quellora {
namespace {

using AudioEngineLifecycleTest = EngineTest;

TEST_F(AudioEngineLifecycleTest, StartBuildsOneGenerationAfterTheOutputIsSeenStable) {
    auto& audio = makeEngine();
    audio.start();
    audio.start(); // a second start does nothing
    EXPECT_TRUE(audio.isRunning().get());
    EXPECT_TRUE(logged(
        "Audio pipeline generation 1 disposed; waiting for stable output (reason=engine start)"));
    advance(0.39);
    EXPECT_TRUE(hal.aggregateDevices().empty());
    advance(0.01);
    ASSERT_EQ(runningReports, std::vector<double>{0.4});
    EXPECT_EQ(logCount("Starting audio engine"), 1u);
    EXPECT_TRUE(logged("Audio pipeline generation 1 started on stable output speakers"));

    // One tap excluding only this process, one aggregate around the speakers.
    ASSERT_EQ(hal.taps().size(), 1u);
    const auto tap = *hal.tapDescription(hal.taps().front());
    EXPECT_EQ(tap.excludedProcesses, std::vector<AudioObjectID>{ownProcess});
    EXPECT_EQ(tap.name, "Quellora");
    EXPECT_EQ(tap.muteBehavior, TapDescription::MuteBehavior::mutedWhenTapped);
    const auto description = *hal.aggregateDescription(aggregate());
    EXPECT_EQ(description.name, "QuelloraAgg");
    EXPECT_EQ(description.mainSubDevice, "speakers");
    EXPECT_EQ(description.clockDevice, "speakers");
    ASSERT_EQ(description.taps.size(), 1u);
    EXPECT_EQ(description.taps[0].uid, tap.uuid.uppercaseString());
    EXPECT_TRUE(description.taps[0].driftCompensation);
    EXPECT_EQ(hal.startedIOProcCount(aggregate()), 1u);
    EXPECT_EQ(hal.startedIOProcCount(speakers), 1u);
    EXPECT_EQ(AudioEngineTestPeer(audio).outputBufferFrames(), 512);
}

TEST_F(AudioEngineLifecycleTest, StopTearsEverythingDownAndIsSafeToRepeat) {
    auto& audio = startedEngine();
    audio.stop();
    EXPECT_FALSE(audio.isRunning().get());
    EXPECT_TRUE(hal.taps().empty());
    EXPECT_TRUE(hal.aggregateDevices().empty());
    EXPECT_EQ(hal.ioProcCount(speakers), 0u);
    EXPECT_EQ(hal.listenerCount(), 0u);
    audio.stop();
    EXPECT_EQ(logCount("Stopping audio engine"), 2u);

    // Before the scheduled start: nothing is left for it to do.
    audio.start();
    advance(0.2);
    audio.stop();
    advance(2.0);
    EXPECT_EQ(runningReports.size(), 1u);
    EXPECT_TRUE(hal.aggregateDevices().empty());
}

TEST_F(AudioEngineLifecycleTest, OutputSwitchColdRestartsOnTheNewOutputAndOnlyTheLast) {
    startedEngine().updateCompressorParams(CompressorParams::defaults());
    const auto firstAggregate = aggregate();
    hal.setDefaultOutput(headphones);
    mainQueue.runUntilIdle();
    EXPECT_TRUE(logged("Output device changed, cold-restarting audio pipeline"));
    EXPECT_TRUE(logged("Audio pipeline generation 2 disposed; waiting for stable output "
                       "(reason=output device change)"));
    EXPECT_FALSE(hal.deviceExists(firstAggregate));
    EXPECT_TRUE(hal.taps().empty());
    EXPECT_EQ(hal.ioProcCount(speakers), 0u);

    advance(0.4);
    ASSERT_EQ(runningReports.size(), 2u);
    EXPECT_EQ(hal.aggregateDescription(aggregate())->mainSubDevice, "headphones");
    EXPECT_EQ(hal.startedIOProcCount(headphones), 1u);
    EXPECT_EQ(engine->processingSampleRate(), 44100.0f);
    EXPECT_EQ(engine->compressor().lookaheadSamples(), 220);

    // Two switches within the settle time build only the last.
    hal.setDefaultOutput(speakers);
    mainQueue.runUntilIdle();
    advance(0.2);
    hal.setDefaultOutput(headphones);
    mainQueue.runUntilIdle();
    advance(0.4);
    EXPECT_EQ(runningReports.size(), 3u);
    EXPECT_EQ(hal.aggregateDevices().size(), 1u);
    EXPECT_EQ(hal.aggregateDescription(aggregate())->mainSubDevice, "headphones");
    EXPECT_TRUE(logged("Audio pipeline generation 4 started on stable output headphones"));
    EXPECT_EQ(logCountStartingWith("Aggregate device created"), 3u);
}

TEST_F(AudioEngineLifecycleTest, AnOutputChangingWhileSettlingNeedsASecondLook) {
    // Without the change listener (its install failed), only the stability
    // check notices the switch.
    hal.injectFailure(HalOperation::addPropertyListener, 1, 1, AudioProperty::defaultOutputDevice);
    auto& audio = makeEngine();
    audio.start();
    EXPECT_TRUE(logged("Default output listener install failed, OSStatus=1"));
    advance(0.2);
    hal.setDefaultOutput(headphones);
    advance(0.2);
    EXPECT_TRUE(logged("Default output still changing while settling generation 1; waiting"));
    EXPECT_TRUE(runningReports.empty());
    advance(0.4);
    ASSERT_EQ(runningReports.size(), 1u);
    EXPECT_EQ(hal.aggregateDescription(aggregate())->mainSubDevice, "headphones");

    // The next start installs it after all: switches rebuild again.
    audio.stop();
    audio.start();
    advance(0.4);
    hal.setDefaultOutput(speakers);
    advance(0.4);
    ASSERT_EQ(runningReports.size(), 3u);
    EXPECT_EQ(hal.aggregateDescription(aggregate())->mainSubDevice, "speakers");
}

TEST_F(AudioEngineLifecycleTest, WaitsWithoutAttemptsWhileNoLiveOutputExists) {
    hal.setDefaultOutput(kAudioObjectUnknown);
    mainQueue.runUntilIdle();
    auto& audio = makeEngine();
    audio.start();
    advance(10.0);
    EXPECT_TRUE(runningReports.empty());
    EXPECT_TRUE(failureReports.empty());
    EXPECT_TRUE(hal.taps().empty());
    EXPECT_GE(logCount("No live default output while settling generation 1; waiting"), 20u);
    EXPECT_EQ(logCountStartingWith("Audio pipeline generation 1 start attempt"), 0u);

    // A dead device is no better than none.
    hal.setDeviceAlive(speakers, false);
    hal.setDefaultOutput(speakers);
    mainQueue.runUntilIdle();
    advance(2.0);
    EXPECT_TRUE(runningReports.empty());

    hal.setDeviceAlive(speakers, true);
    advance(0.8);
    EXPECT_EQ(runningReports.size(), 1u);
    EXPECT_TRUE(failureReports.empty());
}

struct BuildFailure {
    const char* name;
    HalOperation operation;
    FourCharCode selector;
    const char* message;
};

class FailingBuildTest : public EngineTest, public ::testing::WithParamInterface<BuildFailure> {};

// Attempts 1 and 2 fail quietly 0.4 s apart; from attempt 3 every failure is
// reported, then retried every 5 s.
TEST_P(FailingBuildTest, RetriesForeverAndReportsFromTheThirdAttempt) {
    hal.injectFailure(GetParam().operation, 1852797029, ScriptedHal::always, GetParam().selector);
    makeEngine().start();
    advance(16.3);
    ASSERT_EQ(failureReports.size(), 4u);
    const double expectedTimes[] = {1.2, 6.2, 11.2, 16.2};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(failureReports[i].atSeconds, expectedTimes[i], 1e-6);
        EXPECT_EQ(failureReports[i].message, GetParam().message);
    }
    EXPECT_TRUE(logged(std::string("Audio pipeline generation 1 start attempt 2 failed: ") +
                       GetParam().message));
    EXPECT_TRUE(runningReports.empty());
    // Each failure disposed its partial pipeline.
    EXPECT_TRUE(hal.taps().empty());
    EXPECT_TRUE(hal.aggregateDevices().empty());
    EXPECT_EQ(hal.ioProcCount(speakers), 0u);

    hal.clearFailures();
    advance(5.0);
    EXPECT_EQ(runningReports.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, FailingBuildTest,
    ::testing::Values(
        BuildFailure{"tap", HalOperation::createProcessTap, 0,
                     "Quellora can't route your audio through itself. Check that PipeWire runs: "
                     "systemctl --user status pipewire wireplumber. Quellora keeps trying."},
        BuildFailure{"aggregate", HalOperation::createAggregateDevice, 0,
                     "Reconnecting to your audio…"},
        BuildFailure{"ioproc", HalOperation::createIOProcID, 0, "Reconnecting to your audio…"},
        BuildFailure{"start", HalOperation::deviceStart, 0, "Reconnecting to your audio…"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(AudioEngineLifecycleTest, FailedStepsLeaveNothingBehind) {
    // The output IOProc cannot be created: no IOProc and no scratch remain.
    hal.injectFailure(HalOperation::createIOProcID, 560226676, 1, 0, speakers);
    makeEngine().start();
    advance(0.4);
    EXPECT_TRUE(logged("Output IOProc creation failed, OSStatus=560226676"));
    EXPECT_EQ(hal.ioProcCount(speakers), 0u);
    EXPECT_EQ(AudioEngineTestPeer(*engine).ioState()._captureScratch, nullptr);
    EXPECT_EQ(AudioEngineTestPeer(*engine).ioState()._outputScratch, nullptr);

    // The capture side cannot start (the failure is aimed at the aggregate
    // while the build waits for it to come alive): the output side, started
    // first, is stopped again and the retry builds cleanly.
    advance(0.4);
    EXPECT_EQ(runningReports.size(), 1u);
    engine->stop();
    hal.setAggregateAliveDelay(seconds(0.1));
    engine->start();
    mainQueue.postAfter(seconds(0.45), [&] {
        ASSERT_EQ(hal.aggregateDevices().size(), 1u);
        hal.injectFailure(HalOperation::deviceStart, 1937010544, 1, 0,
                          hal.aggregateDevices().front());
    });
    // Built at 0.4 s, alive at 0.5 s.
    advance(0.5);
    EXPECT_TRUE(logged("AudioDeviceStart failed, OSStatus=1937010544"));
    EXPECT_FALSE(logged("Output AudioDeviceStart failed, OSStatus=1937010544"));
    EXPECT_EQ(hal.startedIOProcCount(speakers), 0u);
    EXPECT_EQ(runningReports.size(), 1u);
    advance(1.0);
    EXPECT_EQ(runningReports.size(), 2u);
    EXPECT_EQ(hal.startedIOProcCount(speakers), 1u);
}

TEST_F(AudioEngineLifecycleTest, NoOutputDeviceTextWhenTheUIDCannotBeRead) {
    auto& audio = makeEngine();
    audio.start();
    hal.setDeviceUID(speakers, std::nullopt);
    advance(20.0);
    // Without a UID the default output never counts as settled: no attempts.
    EXPECT_TRUE(failureReports.empty());
    EXPECT_TRUE(runningReports.empty());
}

TEST_F(AudioEngineLifecycleTest, RebuildDuringTheAggregateWaitAbandonsTheOldBuild) {
    hal.setAggregateAliveDelay(seconds(1.5));
    makeEngine().start();
    // 0.5 s into the first build's wait for its aggregate, the output changes.
    mainQueue.postAfter(seconds(0.9), [&] { hal.setDefaultOutput(headphones); });
    advance(0.4);
    advance(5.0);
    ASSERT_EQ(runningReports.size(), 1u);
    EXPECT_EQ(hal.aggregateDevices().size(), 1u);
    EXPECT_EQ(hal.aggregateDescription(aggregate())->mainSubDevice, "headphones");
    EXPECT_EQ(hal.ioProcCount(aggregate()), 1u);
    EXPECT_EQ(hal.ioProcCount(headphones), 1u);
    EXPECT_EQ(hal.ioProcCount(speakers), 0u);
    EXPECT_EQ(hal.taps().size(), 1u);
    EXPECT_TRUE(failureReports.empty());
}

// The build waits for its aggregate on the queue, not in a loop of its own:
// it returns at once, other work runs on time meanwhile, and the build goes
// on once the aggregate is alive, polled every 0.01 s.
TEST_F(AudioEngineLifecycleTest, TheQueueKeepsServingWhileTheBuildWaits) {
    hal.setAggregateAliveDelay(seconds(1.5));
    makeEngine().start();
    std::optional<double> otherWorkRanAt;
    bool builtByThen = true;
    mainQueue.postAfter(seconds(1.0), [&] {
        otherWorkRanAt = secondsSinceStart();
        builtByThen = engine->hasLivePipeline();
    });
    advance(0.4);
    EXPECT_DOUBLE_EQ(secondsSinceStart(), 0.4);
    EXPECT_EQ(hal.aggregateDevices().size(), 1u);
    EXPECT_FALSE(engine->hasLivePipeline());

    advance(3.0);
    EXPECT_EQ(otherWorkRanAt, 1.0);
    EXPECT_FALSE(builtByThen);
    ASSERT_EQ(runningReports.size(), 1u);
    EXPECT_NEAR(runningReports[0], 1.9, 0.0101);
}

// After 2 s the build goes on and meets the dead device's own failure.
TEST_F(AudioEngineLifecycleTest, AnAggregateNotAliveAfterTwoSecondsIsStartedAnyway) {
    hal.setAggregateAliveDelay(seconds(3.0));
    makeEngine().start();
    advance(0.4 + 1.99);
    EXPECT_FALSE(logged("AudioDeviceStart failed, OSStatus=1937010544"));
    advance(0.02);
    EXPECT_TRUE(logged("AudioDeviceStart failed, OSStatus=1937010544"));
    EXPECT_TRUE(logged("Audio pipeline generation 1 start attempt 1 failed: Reconnecting to your "
                       "audio…"));
}

TEST_F(AudioEngineLifecycleTest, StopDuringTheAggregateWaitLeavesNothing) {
    hal.setAggregateAliveDelay(seconds(1.5));
    makeEngine().start();
    mainQueue.postAfter(seconds(0.9), [&] { engine->stop(); });
    advance(0.4);
    advance(5.0);
    EXPECT_FALSE(engine->isRunning().get());
    EXPECT_TRUE(runningReports.empty());
    EXPECT_TRUE(hal.aggregateDevices().empty());
    EXPECT_TRUE(hal.taps().empty());
    EXPECT_EQ(hal.ioProcCount(speakers), 0u);
}

TEST_F(AudioEngineLifecycleTest, SampleRateBurstsAreDebounced) {
    startedEngine();
    // A burst that returns to the built rate: no rebuild.
    hal.setNominalSampleRate(speakers, 44100);
    mainQueue.runUntilIdle();
    advance(0.2);
    hal.setNominalSampleRate(speakers, 48000);
    mainQueue.runUntilIdle();
    advance(0.4);
    EXPECT_TRUE(logged("Sample-rate notification settled with no net change; skipping rebuild"));
    EXPECT_EQ(runningReports.size(), 1u);

    // A change that holds: one rebuild at the new rate.
    hal.setNominalSampleRate(speakers, 96000);
    mainQueue.runUntilIdle();
    advance(0.4);
    EXPECT_TRUE(logged(
        "Output sample-rate changed 48000.000000→96000.000000 Hz, cold-restarting audio pipeline"));
    advance(0.4);
    ASSERT_EQ(runningReports.size(), 2u);
    EXPECT_EQ(engine->processingSampleRate(), 96000.0f);
    EXPECT_EQ(AudioEngineTestPeer(*engine).builtOutputRate(), 96000.0);
}

// Requests are clamped to the device's range, or applied as they are without one.
TEST_F(AudioEngineLifecycleTest, BufferSizeRequestsAreAppliedAndLogged) {
    auto& audio = startedEngine({.desiredBufferFrames = 8});
    EXPECT_TRUE(logged("Buffer frame size: requested=8 applied=15 frames range=[15…4096]"));
    EXPECT_TRUE(logged("Output client buffer frame size: applied=15 frames (= ring fill target)"));
    EXPECT_EQ(AudioEngineTestPeer(audio).outputBufferFrames(), 15);

    engine.reset();
    runningReports.clear();
    hal.setDefaultOutput(
        hal.addOutputDevice({.uid = "no-range", .bufferFrameSizeRange = std::nullopt}));
    mainQueue.runUntilIdle();
    startedEngine({.desiredBufferFrames = 64});
    EXPECT_TRUE(logged("Buffer frame size: requested=64 applied=64 frames range=[-1…-1]"));
    EXPECT_EQ(AudioEngineTestPeer(*engine).outputBufferFrames(), 64);
}

TEST_F(AudioEngineLifecycleTest, TheAggregateRateOverridesTheTapFormat) {
    hal.overrideTapSampleRate(44100.0);
    startedEngine();
    EXPECT_TRUE(
        logged("Processing rate 48000.000000Hz (aggregate) overrides tap format 44100.000000Hz — "
               "DSP time constants follow the aggregate"));
    EXPECT_EQ(engine->compressor().lookaheadSamples(), 240);
}

TEST_F(AudioEngineLifecycleTest, ParametersFollowTheProcessingRate) {
    auto& audio = makeEngine();
    auto params = CompressorParams::defaults();
    params.ratio = 4.0f;
    audio.updateCompressorParams(params);
    EXPECT_EQ(AudioEngineTestPeer(audio).lastParams().get(), params);
    hal.setDefaultOutput(headphones);
    mainQueue.runUntilIdle();
    audio.start();
    advance(0.4);
    // Re-applied at the 44.1 kHz rate the generation was built at.
    EXPECT_EQ(audio.compressor().lookaheadSamples(), 220);
}

} // namespace
} // namespace quellora
