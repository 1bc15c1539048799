#include "base/log.h"
#include "base/log_format.h"
#include "base/log_sinks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace quellora {
namespace {

struct Rendering {
    const char* format;
    std::vector<LogArgument> arguments;
    const char* expected;
};

class LogFormatTest : public ::testing::TestWithParam<Rendering> {};

TEST_P(LogFormatTest, RendersTheSystemLogSpecifiers) {
    const auto& rendering = GetParam();
    EXPECT_EQ(renderLogMessage(rendering.format, rendering.arguments), rendering.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Specifiers, LogFormatTest,
    ::testing::Values(
        Rendering{"Tap creation failed, OSStatus=%{public}d",
                  {-10877},
                  "Tap creation failed, OSStatus=-10877"},
        Rendering{"tapID=%{public}u", {std::uint32_t{4000000000u}}, "tapID=4000000000"},
        Rendering{"range=[%{public}ld…%{public}ld]",
                  {std::int64_t{-1}, std::int64_t{4096}},
                  "range=[-1…4096]"},
        Rendering{"buffer=%{public}ldf", {std::int64_t{512}}, "buffer=512f"},
        Rendering{"output=%{public}s", {"BuiltInSpeakerDevice"}, "output=BuiltInSpeakerDevice"},
        Rendering{"Processing rate %{public}fHz", {48000.0}, "Processing rate 48000.000000Hz"},
        Rendering{"mean=%{public}.*f%%", {1, 12.345}, "mean=12.3%"},
        Rendering{"maxStep=%{public}.*f", {4, 0.5f}, "maxStep=0.5000"},
        Rendering{"tapDriftComp=%{bool,public}d", {true}, "tapDriftComp=true"},
        Rendering{"suspended=%{bool,public}d", {false}, "suspended=false"},
        Rendering{"Launch at login: %s", {"denied"}, "Launch at login: denied"},
        Rendering{"100%% done, %{public}d left", {3}, "100% done, 3 left"},
        Rendering{"missing %{public}d and %{public}s", {7}, "missing 7 and <?>"},
        Rendering{"trailing %", {}, "trailing %"}));

TEST(LoggerTest, DeliversCategoryLevelAndRenderedMessageToEverySink) {
    auto first = std::make_shared<MemoryLogSink>();
    auto second = std::make_shared<MemoryLogSink>();
    Log::setSinks({first, second});
    const Logger logger("AudioEngine");
    logger.notice("Buffer frame size: leaving system default (%{public}ld frames)",
                  std::int64_t{256});
    logger.error("AudioDeviceStart failed, OSStatus=%{public}d", -50);

    const auto records = first->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].category, "AudioEngine");
    EXPECT_EQ(records[0].level, LogLevel::notice);
    EXPECT_EQ(records[0].message, "Buffer frame size: leaving system default (256 frames)");
    EXPECT_EQ(records[1].level, LogLevel::error);
    EXPECT_TRUE(second->contains("AudioDeviceStart failed, OSStatus=-50"));
    Log::setSinks(Log::defaultSinks());
}

TEST(LoggerTest, StderrLevelNamesParse) {
    EXPECT_EQ(StderrLogSink::parseLevel("default"), LogLevel::notice);
    EXPECT_EQ(StderrLogSink::parseLevel("debug"), LogLevel::debug);
    EXPECT_FALSE(StderrLogSink::parseLevel("verbose"));
}

} // namespace
} // namespace quellora
