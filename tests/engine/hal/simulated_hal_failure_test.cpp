#include "engine/device_queries.h"
#include "simulated_hal_fixture.h"

#include <gtest/gtest.h>

#include <functional>

namespace quellora {
namespace {

constexpr OSStatus kInjected = fourCharCode("fail");

// Objects the operations work on; every operation succeeds on them once.
struct Targets {
    AudioObjectID device;
    AudioObjectID tap;
    TapDescription tapDescription;
    AudioObjectID aggregate;
    AudioDeviceIOProcID startedProc;
    AudioDeviceIOProcID stoppedProc;
    AudioObjectPropertyListenerID listener;
};

struct OperationCase {
    HalOperation operation;
    std::function<OSStatus(SimulatedHal&, const Targets&)> call;
    // What the call leaves behind when it succeeds, to prove a failed one
    // did nothing; none for reads.
    std::function<int(SimulatedHal&, const Targets&)> effect;
};

class SimulatedFailureInjectionTest : public SimulatedHalTest,
                                      public ::testing::WithParamInterface<OperationCase> {
protected:
    Targets targets() {
        Targets result{};
        result.device = speakers;
        result.aggregate = buildAggregate();
        result.tap = tap;
        result.tapDescription = *hal.tapDescription(tap);
        const auto block = [](const AudioBufferList&, AudioBufferList&) {
        };
        EXPECT_EQ(hal.createIOProcID(speakers, block, result.startedProc), kAudioHardwareNoError);
        EXPECT_EQ(hal.deviceStart(speakers, result.startedProc), kAudioHardwareNoError);
        EXPECT_EQ(hal.createIOProcID(speakers, block, result.stoppedProc), kAudioHardwareNoError);
        EXPECT_EQ(hal.addPropertyListener(
                      speakers, address(AudioProperty::nominalSampleRate), [] {}, result.listener),
                  kAudioHardwareNoError);
        return result;
    }
};

TEST_P(SimulatedFailureInjectionTest, InjectedOnceFailsTheNextCallWithoutEffectThenRecovers) {
    const auto& param = GetParam();
    const auto world = targets();
    const auto effect = [&] {
        return param.effect ? param.effect(hal, world) : 0;
    };
    const auto before = effect();
    hal.injectFailure(param.operation, kInjected);

    EXPECT_EQ(param.call(hal, world), kInjected);
    EXPECT_EQ(effect(), before);
    EXPECT_EQ(param.call(hal, world), kAudioHardwareNoError);
    if (param.effect) {
        EXPECT_NE(effect(), before);
    }
}

void PrintTo(const OperationCase& c, std::ostream* stream) {
    *stream << halOperationName(c.operation);
}

using Effect = int (*)(SimulatedHal&, const Targets&);
const Effect frameSizeSet = [](SimulatedHal& hal, const Targets& t) {
    return static_cast<int>(hal.lastBufferFrameSizeSet(t.device).value_or(0));
};
const Effect tapCount = [](SimulatedHal& hal, const Targets&) {
    return static_cast<int>(hal.taps().size());
};
const Effect aggregateCount = [](SimulatedHal& hal, const Targets&) {
    return static_cast<int>(hal.aggregateDevices().size());
};
const Effect procCount = [](SimulatedHal& hal, const Targets& t) {
    return static_cast<int>(hal.ioProcCount(t.device));
};
const Effect startedCount = [](SimulatedHal& hal, const Targets& t) {
    return static_cast<int>(hal.startedIOProcCount(t.device));
};
const Effect rateListenerCount = [](SimulatedHal& hal, const Targets& t) {
    return static_cast<int>(hal.listenerCount(t.device, AudioProperty::nominalSampleRate));
};

const OperationCase operationCases[] = {
    {HalOperation::getPropertyDataSize,
     [](SimulatedHal& hal, const Targets& t) {
         std::uint32_t size = 0;
         return hal.getPropertyDataSize(t.device, {AudioProperty::streams, AudioScope::input},
                                        size);
     },
     nullptr},
    {HalOperation::getPropertyData,
     [](SimulatedHal& hal, const Targets& t) {
         double rate = 0;
         std::uint32_t size = sizeof rate;
         return hal.getPropertyData(t.device, {AudioProperty::nominalSampleRate}, size, &rate);
     },
     nullptr},
    {HalOperation::getPropertyString,
     [](SimulatedHal& hal, const Targets& t) {
         std::optional<std::string> uid;
         return hal.getPropertyString(t.device, {AudioProperty::deviceUID}, uid);
     },
     nullptr},
    {HalOperation::setPropertyData,
     [](SimulatedHal& hal, const Targets& t) {
         const std::uint32_t frames = 256;
         return hal.setPropertyData(t.device, {AudioProperty::bufferFrameSize}, sizeof frames,
                                    &frames);
     },
     frameSizeSet},
    {HalOperation::createProcessTap,
     [](SimulatedHal& hal, const Targets&) {
         AudioObjectID created = 0;
         return hal.createProcessTap({}, created);
     },
     tapCount},
    {HalOperation::destroyProcessTap,
     [](SimulatedHal& hal, const Targets& t) { return hal.destroyProcessTap(t.tap); }, tapCount},
    {HalOperation::createAggregateDevice,
     [](SimulatedHal& hal, const Targets& t) {
         AudioObjectID created = 0;
         return hal.createAggregateDevice(aggregateDescription("aggregate-2", t.tapDescription),
                                          created);
     },
     aggregateCount},
    {HalOperation::destroyAggregateDevice,
     [](SimulatedHal& hal, const Targets& t) { return hal.destroyAggregateDevice(t.aggregate); },
     aggregateCount},
    {HalOperation::createIOProcID,
     [](SimulatedHal& hal, const Targets& t) {
         AudioDeviceIOProcID proc = 0;
         return hal.createIOProcID(
             t.device, [](const AudioBufferList&, AudioBufferList&) {}, proc);
     },
     procCount},
    {HalOperation::destroyIOProcID,
     [](SimulatedHal& hal, const Targets& t) {
         return hal.destroyIOProcID(t.device, t.stoppedProc);
     },
     procCount},
    {HalOperation::deviceStart,
     [](SimulatedHal& hal, const Targets& t) { return hal.deviceStart(t.device, t.stoppedProc); },
     startedCount},
    {HalOperation::deviceStop,
     [](SimulatedHal& hal, const Targets& t) { return hal.deviceStop(t.device, t.startedProc); },
     startedCount},
    {HalOperation::addPropertyListener,
     [](SimulatedHal& hal, const Targets& t) {
         AudioObjectPropertyListenerID listener = 0;
         return hal.addPropertyListener(
             t.device, {AudioProperty::nominalSampleRate}, [] {}, listener);
     },
     rateListenerCount},
    {HalOperation::removePropertyListener,
     [](SimulatedHal& hal, const Targets& t) {
         return hal.removePropertyListener(t.device, {AudioProperty::nominalSampleRate},
                                           t.listener);
     },
     rateListenerCount},
};

INSTANTIATE_TEST_SUITE_P(Operations, SimulatedFailureInjectionTest,
                         ::testing::ValuesIn(operationCases), [](const auto& test) {
                             return std::string(halOperationName(test.param.operation));
                         });

TEST_F(SimulatedHalTest, FailuresMatchBySelectorAndObjectAndLastAsLongAsAsked) {
    hal.injectFailure(HalOperation::getPropertyData, kInjected, SimulatedFailurePlan::always,
                      AudioProperty::bufferFrameSizeRange);
    hal.injectFailure(HalOperation::getPropertyData, kInjected, 2, AudioProperty::nominalSampleRate,
                      headphones);
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(queryBufferFrameSizeRange(hal, speakers), std::nullopt);
        EXPECT_EQ(queryBufferFrameSize(hal, speakers), 512) << "other selectors still read";
        EXPECT_EQ(deviceNominalSampleRate(hal, speakers), 48000.0) << "other objects still read";
    }
    EXPECT_EQ(deviceNominalSampleRate(hal, headphones), 0.0);
    EXPECT_EQ(deviceNominalSampleRate(hal, headphones), 0.0);
    EXPECT_EQ(deviceNominalSampleRate(hal, headphones), 44100.0);

    hal.clearFailures();
    ASSERT_TRUE(queryBufferFrameSizeRange(hal, speakers).has_value());
    EXPECT_EQ(queryBufferFrameSizeRange(hal, speakers)->max, 4096);
}

} // namespace
} // namespace quellora
