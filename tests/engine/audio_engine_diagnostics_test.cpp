// What the engine logs about the running pipeline, as rendered text.

#include "engine/audio_engine_test_peer.h"
#include "engine_test_fixture.h"

#include <gmock/gmock.h>

#include <regex>

namespace quellora {
namespace {

using ::testing::HasSubstr;

using AudioEngineDiagnosticsTest = EngineTest;

TEST_F(AudioEngineDiagnosticsTest, LatencySummaryAfterEveryBuild) {
    hal.removeDevice(headphones);
    const auto usb = hal.addOutputDevice({.uid = "usb",
                                          .bufferFrameSize = 256,
                                          .transportType = AudioTransport::usb,
                                          .latencyFrames = 32,
                                          .safetyOffsetFrames = 16});
    hal.setDefaultOutput(usb);
    mainQueue.runUntilIdle();
    startedEngine();
    EXPECT_TRUE(logged("Buffer frame size: leaving system default (256 frames)"));
    // The device's own latency, not the lookahead we report to the server
    // as the aggregate's.
    const auto messages = log.messages();
    const auto line = std::find_if(messages.begin(), messages.end(), [](const std::string& m) {
        return m.starts_with("Audio path: transport=USB ");
    });
    ASSERT_NE(line, messages.end());
    EXPECT_THAT(*line, HasSubstr("[lookahead=240 buf=256 inBuf=256 ring=256 frames]"));
    EXPECT_THAT(*line, HasSubstr("tapPathOverhead≈1.000000ms+slack"));
    EXPECT_THAT(*line, HasSubstr("[dev=32 safety=16 frames]"));
    EXPECT_EQ(logCountStartingWith("Bluetooth output"), 0u);

    // A headset in call mode names its profile.
    const auto headset = hal.addOutputDevice({.uid = "headset",
                                              .nominalSampleRate = 16000,
                                              .transportType = AudioTransport::bluetooth,
                                              .inputStreamCount = 1});
    hal.setDefaultOutput(headset);
    advance(0.8);
    EXPECT_EQ(logCountStartingWith("Bluetooth output: profile=HFP/call mode (degraded — mic forced "
                                   "the link down) inputStreams=1"),
              1u);
}

TEST_F(AudioEngineDiagnosticsTest, OverloadsAreCountedAndLogged) {
    EngineSwitchValues switches;
    switches.desiredBufferFrames = 128;
    startedEngine(switches);
    hal.reportOverload(aggregate());
    hal.reportOverload(aggregate());
    mainQueue.runUntilIdle();
    EXPECT_TRUE(logged("IO overload (dropout) #1 at buffer=128 frames"));
    EXPECT_TRUE(logged("IO overload (dropout) #2 at buffer=128 frames"));
    EXPECT_EQ(AudioEngineTestPeer(*engine).ioState()._overloadCount.load(), 2);
    engine->stop();
    EXPECT_EQ(hal.listenerCount(), 0u);
}

TEST_F(AudioEngineDiagnosticsTest, LoadLineEveryFiveSecondsOnlyWhileCallsHappen) {
    startedEngine({.meteringEnabled = true});
    diagnosticsQueue.advance(seconds(5.0));
    EXPECT_EQ(logCountStartingWith("IO load:"), 0u); // no calls, no line

    auto tap = SimulatedBufferList::interleaved(2, 512);
    auto output = SimulatedBufferList::interleaved(2, 512);
    for (int i = 0; i < 10; ++i) {
        runPeriod(tap, output);
    }
    diagnosticsQueue.advance(seconds(5.0));
    const auto messages = log.messages();
    const std::regex line(
        R"(IO load: buffer=512f mean=\d+\.\d% peak=\d+\.\d% \(mean=\d+\.\dµs peak=\d+\.\dµs budget=10666\.7µs\) calls=10 overloads=0 ring\(fill=\d+f under=\d+f drop=0f skip=0f\))");
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [&](const std::string& m) { return std::regex_match(m, line); }),
              1)
        << (messages.empty() ? "" : messages.back());
    EXPECT_EQ(AudioEngineTestPeer(*engine).ioState()._ioProcCalls.load(), 0);
}

TEST_F(AudioEngineDiagnosticsTest, ClickDebugReportsJumpsAndInputlessCallbacks) {
    startedEngine({.clickDebug = true});
    EXPECT_TRUE(logged(
        "Click debug ENABLED (QUELLORA_CLICK_DEBUG=1) — watching for output discontinuities"));
    diagnosticsQueue.advance(seconds(0.25));
    EXPECT_EQ(logCountStartingWith("CLICK"), 0u);

    auto output = SimulatedBufferList::interleaved(2, 512);
    runPeriod(SimulatedBufferList({{2, false}}, 512), output);
    diagnosticsQueue.advance(seconds(0.25));
    EXPECT_TRUE(
        logged("CLICK maxStep=0.0000 branch=processed ringFill=0 outputCount=0 fadeRemaining=0 "
               "zeroInputBuffers=1 suspended=false"));
}

} // namespace
} // namespace quellora
