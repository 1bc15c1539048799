#include "engine/audio_ring_buffer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace quellora {
namespace {

// Stereo frames whose samples encode the frame number, so that a misplaced
// or repeated frame shows as a wrong value.
std::vector<float> numberedFrames(std::int64_t first, std::int64_t count) {
    std::vector<float> frames(static_cast<std::size_t>(count * 2));
    for (std::int64_t i = 0; i < count; ++i) {
        frames[static_cast<std::size_t>(i * 2)] = static_cast<float>(first + i);
        frames[static_cast<std::size_t>(i * 2 + 1)] = -static_cast<float>(first + i);
    }
    return frames;
}

TEST(AudioRingBufferTest, CapacityIsThePowerOfTwoAtOrAboveTheRequest) {
    EXPECT_EQ(AudioRingBuffer(1000, 2).capacityFrames(), 1024);
    EXPECT_EQ(AudioRingBuffer(1024, 2).capacityFrames(), 1024);
    EXPECT_EQ(AudioRingBuffer(1, 2).capacityFrames(), 1);
    EXPECT_EQ(AudioRingBuffer(0, 2).capacityFrames(), 1);
    EXPECT_EQ(AudioRingBuffer().capacityFrames(), 16384);
    EXPECT_THROW(AudioRingBuffer(16, 0), std::invalid_argument);
    EXPECT_THROW(AudioRingBuffer(std::int64_t{1} << 62, 4), std::invalid_argument);
}

TEST(AudioRingBufferTest, AFullRingRefusesMoreAndChangesNothing) {
    AudioRingBuffer ring(1024, 2);
    const auto frames = numberedFrames(0, 1024);
    EXPECT_EQ(ring.write(frames.data(), 1024), 1024);
    EXPECT_EQ(ring.write(frames.data(), 10), 0);
    EXPECT_EQ(ring.writeSilence(10), 0);
    EXPECT_EQ(ring.fillFrames(), 1024);
    std::vector<float> out(2048);
    EXPECT_EQ(ring.read(out.data(), 1024), 1024);
    EXPECT_EQ(out, frames);
}

TEST(AudioRingBufferTest, WritesAndReadsAcrossTheWrapInOrder) {
    AudioRingBuffer ring(1024, 2);
    std::vector<float> out(1200);
    ring.write(numberedFrames(0, 600).data(), 600);
    EXPECT_EQ(ring.read(out.data(), 600), 600);
    // 424 frames to the end of the storage, 176 from its start.
    const auto second = numberedFrames(600, 600);
    EXPECT_EQ(ring.write(second.data(), 600), 600);
    EXPECT_EQ(ring.read(out.data(), 600), 600);
    EXPECT_EQ(out, second);
    // A single frame, as an IO cycle of one frame hands over; and mono.
    EXPECT_EQ(ring.write(second.data(), 1), 1);
    EXPECT_EQ(ring.read(out.data(), 1), 1);
    EXPECT_EQ(out[0], 600.0f);
    AudioRingBuffer mono(4, 1);
    const float samples[] = {1.0f, 2.0f, 3.0f};
    EXPECT_EQ(mono.write(samples, 3), 3);
    EXPECT_EQ(mono.read(out.data(), 3), 3);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 3),
              std::vector<float>(samples, samples + 3));
}

TEST(AudioRingBufferTest, AShortReadIsZeroFilledAndLeavesTheRingEmpty) {
    AudioRingBuffer ring(1024, 2);
    ring.write(numberedFrames(1, 100).data(), 100);
    std::vector<float> out(512, 7.0f);
    EXPECT_EQ(ring.read(out.data(), 256), 100);
    EXPECT_EQ(out[198], 100.0f);
    for (std::size_t i = 200; i < 512; ++i) {
        ASSERT_EQ(out[i], 0.0f) << i;
    }
    EXPECT_EQ(ring.fillFrames(), 0);
}

TEST(AudioRingBufferTest, SkipSilenceAndReset) {
    AudioRingBuffer ring(64, 2);
    EXPECT_EQ(ring.skip(50), 0);
    ring.write(numberedFrames(0, 30).data(), 30);
    EXPECT_EQ(ring.skip(50), 30);
    EXPECT_EQ(ring.writeSilence(8), 8);
    std::vector<float> out(16, 1.0f);
    EXPECT_EQ(ring.read(out.data(), 8), 8);
    EXPECT_EQ(out, std::vector<float>(16, 0.0f));

    ring.write(numberedFrames(0, 20).data(), 20);
    ring.reset();
    EXPECT_EQ(ring.fillFrames(), 0);
    EXPECT_EQ(ring.read(out.data(), 8), 0);
}

// One producer and one consumer at full speed, with a ring much smaller than
// the stream: every frame arrives once, in order, complete.
TEST(AudioRingBufferThreadedTest, ProducerAndConsumerHandOverEveryFrameInOrder) {
    constexpr std::int64_t total = 400000;
    AudioRingBuffer ring(256, 2);
    std::thread producer([&] {
        std::int64_t next = 0;
        while (next < total) {
            const auto block = numberedFrames(next, std::min<std::int64_t>(37, total - next));
            next += ring.write(block.data(), static_cast<std::int64_t>(block.size() / 2));
        }
    });
    std::vector<float> out(2 * 53);
    std::int64_t expected = 0;
    while (expected < total) {
        const auto got = ring.read(out.data(), 53);
        for (std::int64_t i = 0; i < got; ++i) {
            ASSERT_EQ(out[static_cast<std::size_t>(i * 2)], static_cast<float>(expected));
            ASSERT_EQ(out[static_cast<std::size_t>(i * 2 + 1)], -static_cast<float>(expected));
            ++expected;
        }
        ASSERT_LE(ring.fillFrames(), 256);
    }
    producer.join();
}

} // namespace
} // namespace quellora
