#include "simulated_hal_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quellora {
namespace {

TEST_F(SimulatedHalTest, UnchangedValuesAreNotAnnounced) {
    int announced = 0;
    listen(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice, announced);
    listen(speakers, AudioProperty::nominalSampleRate, announced);
    listen(speakers, AudioProperty::deviceIsAlive, announced);
    listen(speakers, AudioProperty::deviceIsRunningSomewhere, announced);
    listen(player, AudioProperty::processIsRunningOutput, announced);

    hal.setDefaultOutput(speakers);
    hal.setNominalSampleRate(speakers, 48000);
    hal.setDeviceAlive(speakers, true);
    hal.stopPlayback(player);
    dispatcher.runUntilIdle();
    EXPECT_EQ(announced, 0);
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST_F(SimulatedHalTest, ListenerRemovedBeforeDeliveryIsNeverCalled) {
    int first = 0;
    int second = 0;
    int removedByFirst = 0;
    const auto dOut = address(AudioProperty::defaultOutputDevice);
    AudioObjectPropertyListenerID victim = 0;
    AudioObjectPropertyListenerID self = 0;
    ASSERT_EQ(hal.addPropertyListener(
                  kAudioObjectSystemObject, dOut,
                  [&] {
                      ++first;
                      EXPECT_EQ(hal.removePropertyListener(kAudioObjectSystemObject, dOut, self),
                                kAudioHardwareNoError);
                      EXPECT_EQ(hal.removePropertyListener(kAudioObjectSystemObject, dOut, victim),
                                kAudioHardwareNoError);
                  },
                  self),
              kAudioHardwareNoError);
    victim = listen(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice, removedByFirst);
    const auto removedByTest =
        listen(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice, second);

    hal.setDefaultOutput(headphones);
    EXPECT_EQ(hal.removePropertyListener(kAudioObjectSystemObject, dOut, removedByTest),
              kAudioHardwareNoError);
    dispatcher.runUntilIdle();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(removedByFirst, 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(hal.listenerCount(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice), 0u);

    hal.setDefaultOutput(speakers);
    dispatcher.runUntilIdle();
    EXPECT_EQ(first, 1);
}

TEST_F(SimulatedHalTest, DeliveriesPendingWhenTheServerGoesAwayAreDropped) {
    auto server = std::make_unique<SimulatedHal>(dispatcher);
    const auto device = server->addOutputDevice();
    int calls = 0;
    AudioObjectPropertyListenerID listener = 0;
    ASSERT_EQ(server->addPropertyListener(
                  device, address(AudioProperty::nominalSampleRate), [&] { ++calls; }, listener),
              kAudioHardwareNoError);
    server->setNominalSampleRate(device, 44100);
    server.reset();
    dispatcher.runUntilIdle();
    EXPECT_EQ(calls, 0);
}

TEST_F(SimulatedHalTest, ListenerBookkeepingSurvivesTheObject) {
    int calls = 0;
    const auto listener = listen(headphones, AudioProperty::deviceIsAlive, calls);
    EXPECT_EQ(
        hal.removePropertyListener(headphones, address(AudioProperty::nominalSampleRate), listener),
        kAudioHardwareIllegalOperationError);
    hal.removeDevice(headphones);
    AudioObjectPropertyListenerID another = 0;
    EXPECT_EQ(hal.addPropertyListener(
                  headphones, address(AudioProperty::deviceIsAlive), [] {}, another),
              kAudioHardwareBadObjectError);
    // The engine learns of the unplugging, and may clean up afterwards.
    dispatcher.runUntilIdle();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(hal.listenerCount(headphones, AudioProperty::deviceIsAlive), 1u);
    EXPECT_EQ(
        hal.removePropertyListener(headphones, address(AudioProperty::deviceIsAlive), listener),
        kAudioHardwareNoError);
    EXPECT_EQ(
        hal.removePropertyListener(headphones, address(AudioProperty::deviceIsAlive), listener),
        kAudioHardwareBadObjectError);
}

TEST_F(SimulatedHalTest, RunningSomewhereFollowsPlaybackAndOurStartedProcs) {
    int speakerChanges = 0;
    int headphoneChanges = 0;
    listen(speakers, AudioProperty::deviceIsRunningSomewhere, speakerChanges);
    listen(headphones, AudioProperty::deviceIsRunningSomewhere, headphoneChanges);
    const auto running = [&](AudioObjectID device) {
        return readUInt32(device, AudioProperty::deviceIsRunningSomewhere);
    };
    AudioDeviceIOProcID proc = 0;
    ASSERT_EQ(hal.createIOProcID(
                  speakers, [](const AudioBufferList&, AudioBufferList&) {}, proc),
              kAudioHardwareNoError);
    EXPECT_EQ(running(speakers), 0u) << "a proc that is not started runs nothing";

    hal.startPlayback(player, speakers);
    EXPECT_EQ(readUInt32(player, AudioProperty::processIsRunningOutput), 1u);
    EXPECT_EQ(hal.deviceStart(speakers, proc), kAudioHardwareNoError);
    hal.startPlayback(player, headphones); // moves: speakers stay running for our proc
    EXPECT_EQ(running(speakers), 1u);
    EXPECT_EQ(running(headphones), 1u);
    EXPECT_EQ(hal.deviceStop(speakers, proc), kAudioHardwareNoError);
    EXPECT_EQ(running(speakers), 0u);
    hal.removeProcess(player);
    EXPECT_EQ(running(headphones), 0u);

    dispatcher.runUntilIdle();
    EXPECT_EQ(speakerChanges, 2);
    EXPECT_EQ(headphoneChanges, 2);

    EXPECT_EQ(hal.deviceStart(speakers, proc), kAudioHardwareNoError);
    EXPECT_EQ(hal.destroyIOProcID(speakers, proc), kAudioHardwareNoError);
    EXPECT_EQ(running(speakers), 0u);
}

} // namespace
} // namespace quellora
