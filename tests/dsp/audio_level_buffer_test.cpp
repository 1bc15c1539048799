#include "dsp/audio_level_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace quellora {
namespace {

LevelSample numbered(int n) {
    return {static_cast<float>(n), -static_cast<float>(n), -1.0f};
}

TEST(AudioLevelBufferTest, ReturnsRecentSamplesOldestFirst) {
    AudioLevelBuffer history;
    EXPECT_TRUE(history.recentSamples(96).empty());
    for (int n = 0; n < 3; ++n) {
        history.push(numbered(n));
    }
    const auto three = history.recentSamples(96);
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(three.front(), numbered(0));
    EXPECT_EQ(three.back(), numbered(2));
    EXPECT_TRUE(history.recentSamples(0).empty());
}

TEST(AudioLevelBufferTest, KeepsTheLast512InOrderAfterLappingTheRing) {
    AudioLevelBuffer history;
    for (int n = 0; n < 600; ++n) {
        history.push(numbered(n));
    }
    const auto samples = history.recentSamples(1000);
    ASSERT_EQ(samples.size(), 512u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(samples[i], numbered(88 + static_cast<int>(i))) << i;
    }
    EXPECT_EQ(history.recentSamples(2).front(), numbered(598));
}

TEST(AudioLevelBufferTest, ClearRestartsAtSlotZeroWithDefaultSamples) {
    AudioLevelBuffer history;
    for (int n = 0; n < 700; ++n) {
        history.push(numbered(n));
    }
    history.clear();
    EXPECT_EQ(history.writeCount(), 0);
    EXPECT_TRUE(history.recentSamples(512).empty());
    history.push(numbered(5));
    const auto samples = history.recentSamples(512);
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0], numbered(5));
}

// One writer at full speed and a reader: the reader never sees a count ahead
// of the samples, so every sample it reads is one that was pushed.
TEST(AudioLevelBufferThreadedTest, ReaderSeesOnlyPushedSamples) {
    AudioLevelBuffer history;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int n = 1; n <= 200000; ++n) {
            history.push({static_cast<float>(n % 1000), 0.0f, 0.0f});
        }
        done.store(true);
    });
    int reads = 0;
    while (!done.load() || reads == 0) {
        for (const auto& sample : history.recentSamples(96)) {
            ASSERT_GE(sample.inputPeak, 0.0f);
            ASSERT_LT(sample.inputPeak, 1000.0f);
            ASSERT_EQ(sample.outputPeak, 0.0f);
        }
        ++reads;
    }
    writer.join();
    EXPECT_EQ(history.writeCount(), 200000);
}

} // namespace
} // namespace quellora
