#include "engine/device_queries.h"
#include "simulated_hal_fixture.h"

#include <gtest/gtest.h>

#include <functional>

namespace quellora {
namespace {

constexpr OSStatus kInjected = fourCharCode("fail");

TEST_F(SimulatedHalTest, FailuresMatchBySelectorAndObjectAndLastAsLongAsAsked) {
    hal.injectFailure(HalOperation::getPropertyData, kInjected, ScriptedHal::always,
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
