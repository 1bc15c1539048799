#include "simulated_hal_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quellora {
namespace {

struct World {
    AudioObjectID speakers;
    AudioObjectID headphones;
    AudioObjectID player;
    AudioObjectID aggregate;
};

struct ChangeCase {
    const char* name;
    FourCharCode selector;
    std::function<AudioObjectID(const World&)> announcedOn;
    std::function<void(SimulatedHal&, const World&)> change;
};

class SimulatedListenerDeliveryTest : public SimulatedHalTest,
                                      public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(SimulatedListenerDeliveryTest, ChangeIsDeliveredOnTheDispatcherToMatchingListenersOnly) {
    const World world{speakers, headphones, player, buildAggregate()};
    const auto& param = GetParam();
    const auto object = param.announcedOn(world);
    int matching = 0;
    int otherScope = 0;
    int otherObject = 0;
    listen(object, param.selector, matching);
    listen(object, param.selector, otherScope, AudioScope::output);
    listen(hal.addOutputDevice({.uid = "bystander"}), param.selector, otherObject);
    dispatcher.runUntilIdle();

    param.change(hal, world);
    EXPECT_EQ(matching, 0) << "delivered before the dispatcher ran";
    dispatcher.runUntilIdle();
    EXPECT_EQ(matching, 1);
    EXPECT_EQ(otherScope, 0);
    EXPECT_EQ(otherObject, 0);
}

const ChangeCase changeCases[] = {
    {"DefaultOutput", AudioProperty::defaultOutputDevice,
     [](const World&) { return kAudioObjectSystemObject; },
     [](SimulatedHal& hal, const World& w) {
         hal.setDefaultOutput(w.headphones);
     }},
    {"DefaultOutputUnplugged", AudioProperty::defaultOutputDevice,
     [](const World&) { return kAudioObjectSystemObject; },
     [](SimulatedHal& hal, const World& w) {
         hal.removeDevice(w.speakers);
     }},
    {"NominalRate", AudioProperty::nominalSampleRate, [](const World& w) { return w.speakers; },
     [](SimulatedHal& hal, const World& w) {
         hal.setNominalSampleRate(w.speakers, 44100);
     }},
    {"AggregateFollowsMainRate", AudioProperty::nominalSampleRate,
     [](const World& w) { return w.aggregate; },
     [](SimulatedHal& hal, const World& w) {
         hal.setNominalSampleRate(w.speakers, 96000);
     }},
    {"PlaybackStarts", AudioProperty::deviceIsRunningSomewhere,
     [](const World& w) { return w.speakers; },
     [](SimulatedHal& hal, const World& w) {
         hal.startPlayback(w.player, w.speakers);
     }},
    {"ProcessStartsOutput", AudioProperty::processIsRunningOutput,
     [](const World& w) { return w.player; },
     [](SimulatedHal& hal, const World& w) {
         hal.startPlayback(w.player, w.headphones);
     }},
    {"OurProcStarts", AudioProperty::deviceIsRunningSomewhere,
     [](const World& w) { return w.aggregate; },
     [](SimulatedHal& hal, const World& w) {
         AudioDeviceIOProcID proc = 0;
         hal.createIOProcID(
             w.aggregate, [](const AudioBufferList&, AudioBufferList&) {}, proc);
         hal.deviceStart(w.aggregate, proc);
     }},
    {"Overload", AudioProperty::processorOverload, [](const World& w) { return w.speakers; },
     [](SimulatedHal& hal, const World& w) {
         hal.reportOverload(w.speakers);
     }},
    {"DeviceDies", AudioProperty::deviceIsAlive, [](const World& w) { return w.speakers; },
     [](SimulatedHal& hal, const World& w) {
         hal.setDeviceAlive(w.speakers, false);
     }},
    {"DeviceUnplugged", AudioProperty::deviceIsAlive, [](const World& w) { return w.headphones; },
     [](SimulatedHal& hal, const World& w) {
         hal.removeDevice(w.headphones);
     }},
    {"AggregateLosesMainDevice", AudioProperty::deviceIsAlive,
     [](const World& w) { return w.aggregate; },
     [](SimulatedHal& hal, const World& w) {
         hal.removeDevice(w.speakers);
     }},
    {"ProcessAppears", AudioProperty::processObjectList,
     [](const World&) { return kAudioObjectSystemObject; },
     [](SimulatedHal& hal, const World&) {
         hal.addProcess(2002);
     }},
};

INSTANTIATE_TEST_SUITE_P(Changes, SimulatedListenerDeliveryTest, ::testing::ValuesIn(changeCases),
                         CaseName());

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
