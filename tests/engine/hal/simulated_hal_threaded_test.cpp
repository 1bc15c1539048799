#include "simulated_hal_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace quellora {
namespace {

// What one proc saw of the IO threads.
class ProcProbe {
public:
    AudioDeviceIOBlock block() {
        return [this](const AudioBufferList&, AudioBufferList&) {
            calls.fetch_add(1);
            const std::scoped_lock lock(mutex_);
            threads_.insert(std::this_thread::get_id());
        };
    }

    std::set<std::thread::id> threads() {
        const std::scoped_lock lock(mutex_);
        return threads_;
    }

    std::atomic<int> calls{0};

private:
    std::mutex mutex_;
    std::set<std::thread::id> threads_;
};

class SimulatedHalThreadedTest : public SimulatedHalTest {
protected:
    // The probes are members so that they outlive the IO threads.
    void TearDown() override { hal.stopDeviceThreads(); }

    AudioDeviceIOProcID startProc(AudioObjectID device, AudioDeviceIOBlock block) {
        AudioDeviceIOProcID proc = 0;
        EXPECT_EQ(hal.createIOProcID(device, std::move(block), proc), kAudioHardwareNoError);
        EXPECT_EQ(hal.deviceStart(device, proc), kAudioHardwareNoError);
        return proc;
    }

    // Waits for `more` cycles beyond what the device has completed.
    void waitForMoreCycles(AudioObjectID device, std::uint64_t more) {
        ASSERT_TRUE(hal.waitForCycles(device, hal.cycleCount(device) + more));
    }

    ProcProbe first;
    ProcProbe second;
    ProcProbe onAggregate;
};

TEST_F(SimulatedHalThreadedTest, DevicesRunOnTheirOwnThreadsAtTheirRatesUntilStopped) {
    const std::uint32_t frames = 480;
    ASSERT_EQ(hal.setPropertyData(speakers, address(AudioProperty::bufferFrameSize), sizeof frames,
                                  &frames),
              kAudioHardwareNoError);
    const auto aggregate = buildAggregate();
    // Speakers every 10 ms, the aggregate 1.5 times as often; ten times real time.
    hal.runDevicesOnThreads({.timeScale = 10, .aggregateDrift = 0.5});
    const auto firstProc = startProc(speakers, first.block());
    const auto secondProc = startProc(speakers, second.block());
    startProc(aggregate, onAggregate.block());
    EXPECT_TRUE(hal.isRunningOnThread(speakers));
    EXPECT_TRUE(hal.isRunningOnThread(aggregate));

    ASSERT_TRUE(hal.waitForCycles(aggregate, 50));
    const auto speakersBefore = hal.cycleCount(speakers);
    const auto aggregateBefore = hal.cycleCount(aggregate);
    ASSERT_TRUE(hal.waitForCycles(aggregate, aggregateBefore + 600));
    const auto speakerCycles = hal.cycleCount(speakers) - speakersBefore;
    const auto aggregateCycles = hal.cycleCount(aggregate) - aggregateBefore;
    EXPECT_NEAR(static_cast<double>(aggregateCycles) / static_cast<double>(speakerCycles), 1.5,
                0.15);

    const auto speakerThreads = first.threads();
    EXPECT_EQ(speakerThreads.size(), 1u);
    EXPECT_EQ(second.threads(), speakerThreads);
    EXPECT_EQ(onAggregate.threads().size(), 1u);
    EXPECT_NE(onAggregate.threads(), speakerThreads);
    EXPECT_FALSE(speakerThreads.contains(std::this_thread::get_id()));

    // One proc stops while the other keeps the device running.
    ASSERT_EQ(hal.deviceStop(speakers, firstProc), kAudioHardwareNoError);
    const auto firstCallsAtStop = first.calls.load();
    const auto secondCallsAtStop = second.calls.load();
    waitForMoreCycles(speakers, 100);
    EXPECT_EQ(first.calls.load(), firstCallsAtStop);
    EXPECT_GE(second.calls.load(), secondCallsAtStop + 100);
    EXPECT_TRUE(hal.isRunningOnThread(speakers));

    // The last one stops the device's clock.
    ASSERT_EQ(hal.deviceStop(speakers, secondProc), kAudioHardwareNoError);
    EXPECT_FALSE(hal.isRunningOnThread(speakers));
    const auto secondCallsAtLastStop = second.calls.load();
    const auto speakerCyclesAtStop = hal.cycleCount(speakers);
    waitForMoreCycles(aggregate, 100);
    EXPECT_EQ(second.calls.load(), secondCallsAtLastStop);
    EXPECT_EQ(hal.cycleCount(speakers), speakerCyclesAtStop);
}

TEST_F(SimulatedHalThreadedTest, AggregateHearsTheTapAndOutputReachesTheSink) {
    constexpr float left = 0.5f;
    constexpr float right = -0.25f;
    constexpr float written = 0.125f;
    const auto aggregate = buildAggregate();
    const auto surround =
        hal.addOutputDevice({.uid = "surround", .bufferFrameSize = 256, .outputChannelCount = 6});
    // Shared with the IO threads, which may outlive this scope if an assertion fails.
    struct Seen {
        std::atomic<int> aggregateCycles{0};
        std::atomic<int> aggregateMismatches{0};
        std::atomic<int> sinkCycles{0};
        std::atomic<int> sinkMismatches{0};
    };
    const auto seen = std::make_shared<Seen>();

    ThreadedClockOptions options{.timeScale = 20};
    options.tapSource = [](float* samples, std::uint32_t frames, std::uint32_t channels) {
        for (std::uint32_t i = 0; i < frames * channels; ++i) {
            samples[i] = i % channels == 0 ? left : right;
        }
    };
    options.outputSink = [seen, surround](AudioObjectID device, const AudioBufferList& output) {
        if (device != surround) {
            return;
        }
        const auto& buffer = output.mBuffers[0];
        const auto* samples = static_cast<const float*>(buffer.mData);
        bool matches = output.mNumberBuffers == 1 && buffer.mNumberChannels == 6 &&
                       buffer.mDataByteSize == 256 * 6 * 4;
        for (std::uint32_t i = 0; matches && i < 256 * 6; ++i) {
            matches = samples[i] == written;
        }
        seen->sinkMismatches.fetch_add(matches ? 0 : 1);
        seen->sinkCycles.fetch_add(1);
    };
    hal.runDevicesOnThreads(std::move(options));

    startProc(aggregate, [seen](const AudioBufferList& input, AudioBufferList& output) {
        const auto& in = input.mBuffers[0];
        const auto& out = output.mBuffers[0];
        const auto* tapped = static_cast<const float*>(in.mData);
        auto* played = static_cast<float*>(out.mData);
        bool matches = input.mNumberBuffers == 1 && in.mNumberChannels == 2 &&
                       in.mDataByteSize == 512 * 2 * 4 && output.mNumberBuffers == 1 &&
                       out.mNumberChannels == 2 && out.mDataByteSize == 512 * 2 * 4;
        for (std::uint32_t frame = 0; matches && frame < 512; ++frame) {
            // The output starts silent every cycle.
            matches = tapped[2 * frame] == left && tapped[2 * frame + 1] == right &&
                      played[2 * frame] == 0.0f;
            played[2 * frame] = 1.0f;
        }
        seen->aggregateMismatches.fetch_add(matches ? 0 : 1);
        seen->aggregateCycles.fetch_add(1);
    });
    startProc(surround, [written](const AudioBufferList&, AudioBufferList& output) {
        auto* samples = static_cast<float*>(output.mBuffers[0].mData);
        std::fill(samples, samples + 256 * 6, written);
    });
    startProc(speakers, first.block()); // keeps time once the others are gone

    ASSERT_TRUE(hal.waitForCycles(aggregate, 20));
    ASSERT_TRUE(hal.waitForCycles(surround, 20));
    hal.removeDevice(surround);
    EXPECT_EQ(hal.destroyAggregateDevice(aggregate), kAudioHardwareNoError);
    const auto aggregateCycles = seen->aggregateCycles.load();
    const auto sinkCycles = seen->sinkCycles.load();
    waitForMoreCycles(speakers, 50);

    EXPECT_GE(aggregateCycles, 20);
    EXPECT_GE(sinkCycles, 20);
    EXPECT_EQ(seen->aggregateMismatches.load(), 0);
    EXPECT_EQ(seen->sinkMismatches.load(), 0);
    EXPECT_EQ(seen->aggregateCycles.load(), aggregateCycles) << "ran after its device went";
    EXPECT_EQ(seen->sinkCycles.load(), sinkCycles);
}

} // namespace
} // namespace quellora
