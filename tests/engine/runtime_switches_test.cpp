#include "engine/runtime_switches.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace quellora {
namespace {

using Value = std::optional<std::string_view>;

TEST(EngineSwitchesTest, BufferFramesAreAWholeSignedDecimal) {
    const std::pair<Value, std::int64_t> cases[] = {{std::nullopt, 0},
                                                    {"", 0},
                                                    {"256", 256},
                                                    {"+256", 256},
                                                    {"-5", -5},
                                                    {" 256", 0},
                                                    {"256 ", 0},
                                                    {"abc", 0},
                                                    {"25x", 0},
                                                    {"+-5", 0},
                                                    {"9223372036854775807", 9223372036854775807},
                                                    {"9223372036854775808", 0}};
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(EngineSwitches::parseBufferFrames(value), expected) << value.value_or("(absent)");
    }
}

TEST(EngineSwitchesTest, DriftCompensationIsOffOnlyForZero) {
    EXPECT_FALSE(EngineSwitches::parseTapDriftCompensation("0"));
    for (const Value value : {Value{}, Value{""}, Value{"00"}, Value{"no"}, Value{"false"}}) {
        EXPECT_TRUE(EngineSwitches::parseTapDriftCompensation(value));
    }
}

TEST(EngineSwitchesTest, FlagsAreOnOnlyForExactlyOne) {
    EXPECT_TRUE(EngineSwitches::parseExactlyOne("1"));
    for (const Value value : {Value{}, Value{"true"}, Value{"yes"}, Value{"2"}, Value{" 1"}}) {
        EXPECT_FALSE(EngineSwitches::parseExactlyOne(value));
    }
}

TEST(EngineSwitchesTest, KeepAliveAmplitudeIsAWholeDecimalNumber) {
    const std::pair<Value, float> cases[] = {
        {"0.001", 0.001f},   {"1e-3", 0.001f},    {"2", 2.0f},   {"+0.5", 0.5f},
        {" 0.001", 0.0001f}, {"0.001a", 0.0001f}, {"", 0.0001f}, {std::nullopt, 0.0001f},
        {"nan", 0.0001f},    {"inf", 0.0001f}};
    for (const auto& [value, expected] : cases) {
        EXPECT_FLOAT_EQ(EngineSwitches::parseKeepAliveAmp(value), expected)
            << value.value_or("(absent)");
    }
}

} // namespace
} // namespace quellora
