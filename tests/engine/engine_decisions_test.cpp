// The engine's pure decisions: the idle gate, device naming,
// buffer clamping, latency arithmetic and the user-facing failure texts.

#include "engine/audio_activity_gate.h"
#include "engine/device_queries.h"
#include "engine/engine_error.h"

#include <gtest/gtest.h>

namespace quellora {
namespace {

TEST(AudioActivityGateTest, SuspendsAfterTwoIdleSecondsAndResumesOnActivity) {
    AudioActivityGate gate;
    EXPECT_EQ(gate.update(false, 1.0, false), AudioActivityAction::none);
    EXPECT_EQ(gate.update(true, 1.0, false), AudioActivityAction::none); // one active tick restarts
    EXPECT_EQ(gate.update(false, 1.0, false), AudioActivityAction::none);
    EXPECT_EQ(gate.update(false, 1.0, false), AudioActivityAction::suspend);
    EXPECT_EQ(gate.update(false, 1.0, false),
              AudioActivityAction::suspend); // not cleared by suspending
    EXPECT_EQ(gate.update(false, 1.0, true), AudioActivityAction::none); // nothing accumulates
    EXPECT_DOUBLE_EQ(gate.idleDurationS, 3.0);
    EXPECT_EQ(gate.update(true, 1.0, true), AudioActivityAction::resume);
    EXPECT_DOUBLE_EQ(gate.idleDurationS, 0.0);
}

TEST(DeviceQueriesTest, TransportNames) {
    EXPECT_EQ(transportTypeName(0), "Unknown");
    EXPECT_EQ(transportTypeName(AudioTransport::builtIn), "Built-in");
    EXPECT_EQ(transportTypeName(AudioTransport::bluetoothLE), "Bluetooth LE");
    EXPECT_EQ(transportTypeName(fourCharCode("eavb")), "Other(1700886114)");
    EXPECT_TRUE(isBluetoothTransport(AudioTransport::bluetooth));
    EXPECT_TRUE(isBluetoothTransport(AudioTransport::bluetoothLE));
    EXPECT_FALSE(isBluetoothTransport(AudioTransport::usb));
}

TEST(DeviceQueriesTest, BluetoothProfileFromRateAndMicrophone) {
    EXPECT_EQ(bluetoothProfileName(0, 0), "A2DP (high quality)");
    EXPECT_EQ(bluetoothProfileName(24000, 0),
              "HFP/call mode (degraded — mic forced the link down)");
    EXPECT_EQ(bluetoothProfileName(16000, 1),
              "HFP/call mode (degraded — mic forced the link down)");
    EXPECT_EQ(bluetoothProfileName(48000, 1), "HFP-capable (mic input present)");
}

TEST(DeviceQueriesTest, ClampBufferFramesOnlyWithinAValidRange) {
    EXPECT_EQ(clampBufferFrames(64, 128, 4096), 128);
    EXPECT_EQ(clampBufferFrames(8192, 128, 4096), 4096);
    EXPECT_EQ(clampBufferFrames(64, 128, 0), 64);
    EXPECT_EQ(clampBufferFrames(0, 128, 4096), 0);
}

TEST(DeviceQueriesTest, LatencyBreakdownArithmetic) {
    const LatencyBreakdown breakdown{240, 512, 512, 30, 16};
    EXPECT_EQ(breakdown.addedFrames(), 1264);
    EXPECT_EQ(breakdown.deviceCompensatedFrames(), 46);
    EXPECT_DOUBLE_EQ(breakdown.addedMs(48000), 1264.0 / 48.0);
    EXPECT_DOUBLE_EQ(breakdown.addedMs(0), 0.0);
    EXPECT_DOUBLE_EQ(breakdown.deviceCompensatedMs(-1), 0.0);
}

// The build failures' texts are checked where the engine reports them.
TEST(EngineErrorTest, NoOutputAndMissingPiecesHaveTheirTexts) {
    EXPECT_EQ(EngineError(EngineError::Kind::noOutputDevice, -1).errorDescription(),
              "Can't find your speakers or headphones. Make sure they're connected.");
    for (const auto kind : {EngineError::Kind::noTap, EngineError::Kind::noIOProc}) {
        EXPECT_EQ(EngineError(kind).errorDescription(), "Reconnecting to your audio…");
    }
    EXPECT_EQ(EngineError(EngineError::Kind::startFailed, 7).status(), 7);
}

} // namespace
} // namespace quellora
