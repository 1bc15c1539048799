#pragma once

#include "base/manual_dispatcher.h"
#include "engine/hal/simulated/simulated_hal.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace quellora {

// Names parameterised cases after their `name` field, in test names and in
// failure messages.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& test) const {
        return test.param.name;
    }
};

// In the unnamed namespace of each test file, where the cases live, so that
// argument-dependent lookup finds it.
namespace {
template <typename Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* stream) {
    *stream << c.name;
}
} // namespace

// An aggregate of a tap over the speakers, as the engine describes it.
inline AggregateDeviceDescription aggregateDescription(const std::string& uid,
                                                       const TapDescription& tap) {
    AggregateDeviceDescription description;
    description.uid = uid;
    description.mainSubDevice = "speakers";
    description.clockDevice = "speakers";
    description.subDevices = {{"speakers", false}};
    description.taps = {{tap.uuid.uppercaseString(), true}};
    return description;
}

// A simulated server with speakers (the default output), headphones and one
// other application, on virtual time.
class SimulatedHalTest : public ::testing::Test {
protected:
    static constexpr AudioObjectPropertyAddress address(FourCharCode selector,
                                                        FourCharCode scope = AudioScope::global) {
        return {selector, scope, 0};
    }

    // Counts deliveries into `count`.
    AudioObjectPropertyListenerID listen(AudioObjectID object, FourCharCode selector, int& count,
                                         FourCharCode scope = AudioScope::global) {
        AudioObjectPropertyListenerID listener = 0;
        EXPECT_EQ(hal.addPropertyListener(
                      object, address(selector, scope), [&count] { ++count; }, listener),
                  kAudioHardwareNoError);
        return listener;
    }

    std::uint32_t readUInt32(AudioObjectID object, FourCharCode selector) {
        std::uint32_t value = 0;
        std::uint32_t size = sizeof value;
        EXPECT_EQ(hal.getPropertyData(object, address(selector), size, &value),
                  kAudioHardwareNoError);
        return value;
    }

    // A tap and an aggregate of it over the speakers, as the engine builds them.
    AudioObjectID buildAggregate(const std::string& uid = "aggregate-1") {
        TapDescription tapDescription;
        tapDescription.uuid = Uuid::random();
        EXPECT_EQ(hal.createProcessTap(tapDescription, tap), kAudioHardwareNoError);
        AudioObjectID aggregate = 0;
        EXPECT_EQ(hal.createAggregateDevice(aggregateDescription(uid, tapDescription), aggregate),
                  kAudioHardwareNoError);
        return aggregate;
    }

    ManualDispatcher dispatcher;
    SimulatedHal hal{dispatcher};
    AudioObjectID speakers = hal.addOutputDevice({.uid = "speakers"});
    AudioObjectID headphones = hal.addOutputDevice({.uid = "headphones",
                                                    .nominalSampleRate = 44100,
                                                    .transportType = AudioTransport::bluetooth});
    AudioObjectID player = hal.addProcess(1001);
    AudioObjectID tap = kAudioObjectUnknown;

    void SetUp() override {
        hal.setDefaultOutput(speakers);
        dispatcher.runUntilIdle();
    }
};

} // namespace quellora
