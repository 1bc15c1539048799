#pragma once

#include "base/manual_dispatcher.h"
#include "support/scripted_hal.h"

#include <gtest/gtest.h>

#include <string>

namespace quellora {

// A simulated server with speakers (the default output) and headphones, on
// virtual time.
class SimulatedHalTest : public ::testing::Test {
protected:
    static constexpr AudioObjectPropertyAddress address(FourCharCode selector,
                                                        FourCharCode scope = AudioScope::global) {
        return {selector, scope, 0};
    }

    // A tap and an aggregate of it over the speakers, as the engine builds them.
    AudioObjectID buildAggregate() {
        TapDescription tap;
        tap.uuid = Uuid::random();
        AudioObjectID tapID = 0;
        EXPECT_EQ(hal.createProcessTap(tap, tapID), kAudioHardwareNoError);
        AggregateDeviceDescription description;
        description.uid = "aggregate-1";
        description.mainSubDevice = description.clockDevice = "speakers";
        description.subDevices = {{"speakers", false}};
        description.taps = {{tap.uuid.uppercaseString(), true}};
        AudioObjectID aggregate = 0;
        EXPECT_EQ(hal.createAggregateDevice(description, aggregate), kAudioHardwareNoError);
        return aggregate;
    }

    ManualDispatcher dispatcher;
    ScriptedHal hal{dispatcher};
    AudioObjectID speakers = hal.addOutputDevice({.uid = "speakers"});
    AudioObjectID headphones = hal.addOutputDevice({.uid = "headphones",
                                                    .nominalSampleRate = 44100,
                                                    .transportType = AudioTransport::bluetooth});

    void SetUp() override {
        hal.setDefaultOutput(speakers);
        dispatcher.runUntilIdle();
    }
};

} // namespace quellora
