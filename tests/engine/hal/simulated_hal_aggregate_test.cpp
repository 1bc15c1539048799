#include "engine/device_queries.h"
#include "simulated_hal_fixture.h"

#include <gtest/gtest.h>

#include <functional>

namespace quellora {
namespace {

struct DescriptionCase {
    const char* name;
    std::function<void(AggregateDeviceDescription&)> alter;
    OSStatus status;
};

class SimulatedAggregateCreationTest : public SimulatedHalTest,
                                       public ::testing::WithParamInterface<DescriptionCase> {};

TEST_P(SimulatedAggregateCreationTest, CreationChecksWhatTheDescriptionNames) {
    TapDescription tapDescription;
    tapDescription.uuid = Uuid::random();
    ASSERT_EQ(hal.createProcessTap(tapDescription, tap), kAudioHardwareNoError);
    auto description = aggregateDescription("aggregate", tapDescription);
    GetParam().alter(description);

    AudioObjectID aggregate = kAudioObjectUnknown;
    EXPECT_EQ(hal.createAggregateDevice(description, aggregate), GetParam().status);
    EXPECT_EQ(hal.aggregateDevices().size(), GetParam().status == kAudioHardwareNoError ? 1u : 0u);
}

const DescriptionCase descriptionCases[] = {
    {"Valid", [](AggregateDeviceDescription&) {}, kAudioHardwareNoError},
    {"UnknownMainDevice", [](auto& d) { d.mainSubDevice = "unplugged"; },
     kAudioHardwareBadDeviceError},
    {"UnknownTap", [](auto& d) { d.taps[0].uid = Uuid::random().uppercaseString(); },
     kAudioHardwareBadDeviceError},
    {"TapInLowerCase",
     [](auto& d) {
         for (auto& character : d.taps[0].uid) {
             character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
         }
     },
     kAudioHardwareBadDeviceError},
    {"UIDTaken", [](auto& d) { d.uid = "headphones"; }, kAudioHardwareIllegalOperationError},
};

INSTANTIATE_TEST_SUITE_P(Descriptions, SimulatedAggregateCreationTest,
                         ::testing::ValuesIn(descriptionCases), CaseName());

TEST_F(SimulatedHalTest, AggregateComesAliveAfterTheDelayWhileTheEnginePolls) {
    hal.setAggregateAliveDelay(seconds(0.045));
    const auto aggregate = buildAggregate();
    int announced = 0;
    listen(aggregate, AudioProperty::deviceIsAlive, announced);
    AudioDeviceIOProcID proc = 0;
    ASSERT_EQ(hal.createIOProcID(
                  aggregate, [](const AudioBufferList&, AudioBufferList&) {}, proc),
              kAudioHardwareNoError);
    EXPECT_EQ(hal.deviceStart(aggregate, proc), kAudioHardwareNotRunningError);

    int polls = 0;
    while (readUInt32(aggregate, AudioProperty::deviceIsAlive) == 0 && polls < 100) {
        EXPECT_EQ(announced, 0);
        dispatcher.runFor(seconds(0.01));
        ++polls;
    }
    EXPECT_EQ(polls, 5);
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(hal.deviceStart(aggregate, proc), kAudioHardwareNoError);
}

TEST_F(SimulatedHalTest, AggregateTakesItsClockFromTheMainDeviceUntilToldOtherwise) {
    const auto aggregate = buildAggregate("uid-of-aggregate");
    std::optional<std::string> uid;
    EXPECT_EQ(hal.getPropertyString(aggregate, address(AudioProperty::deviceUID), uid),
              kAudioHardwareNoError);
    EXPECT_EQ(uid, "uid-of-aggregate");
    EXPECT_EQ(hal.deviceWithUID("uid-of-aggregate"), aggregate);
    EXPECT_EQ(queryTransportType(hal, aggregate), AudioTransport::aggregate);
    EXPECT_EQ(deviceInputStreamCount(hal, aggregate), 1);
    EXPECT_EQ(hal.aggregateDescription(aggregate)->taps.at(0).uid,
              hal.tapDescription(tap)->uuid.uppercaseString());

    hal.setNominalSampleRate(speakers, 44100);
    EXPECT_EQ(deviceNominalSampleRate(hal, aggregate), 44100.0);
    hal.setNominalSampleRate(aggregate, 96000);
    hal.setNominalSampleRate(speakers, 48000);
    EXPECT_EQ(deviceNominalSampleRate(hal, aggregate), 96000.0);

    EXPECT_EQ(queryBufferFrameSize(hal, aggregate), 512);
    EXPECT_EQ(applyBufferFrameSize(hal, aggregate, 128), 128);
    EXPECT_EQ(queryBufferFrameSize(hal, speakers), 512);
}

TEST_F(SimulatedHalTest, DestroyedAggregateIsGoneWithItsProcs) {
    const auto aggregate = buildAggregate();
    int calls = 0;
    AudioDeviceIOProcID proc = 0;
    ASSERT_EQ(hal.createIOProcID(
                  aggregate, [&](const AudioBufferList&, AudioBufferList&) { ++calls; }, proc),
              kAudioHardwareNoError);
    ASSERT_EQ(hal.deviceStart(aggregate, proc), kAudioHardwareNoError);
    EXPECT_EQ(hal.destroyAggregateDevice(speakers), kAudioHardwareBadDeviceError);
    EXPECT_EQ(hal.destroyAggregateDevice(aggregate), kAudioHardwareNoError);

    auto output = SimulatedBufferList::interleaved(2, 16);
    EXPECT_EQ(hal.runIOCycle(aggregate, SimulatedBufferList::empty().list(), output.list()), 0);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(hal.aggregateDevices().empty());
    EXPECT_FALSE(hal.hasProperty(aggregate, address(AudioProperty::deviceIsAlive)));
    double rate = 0;
    std::uint32_t size = sizeof rate;
    EXPECT_EQ(
        hal.getPropertyData(aggregate, address(AudioProperty::nominalSampleRate), size, &rate),
        kAudioHardwareBadObjectError);
    EXPECT_EQ(hal.deviceStart(aggregate, proc), kAudioHardwareBadObjectError);
    EXPECT_EQ(hal.createIOProcID(
                  aggregate, [](const AudioBufferList&, AudioBufferList&) {}, proc),
              kAudioHardwareBadObjectError);
    EXPECT_EQ(hal.destroyAggregateDevice(aggregate), kAudioHardwareBadObjectError);
}

} // namespace
} // namespace quellora
