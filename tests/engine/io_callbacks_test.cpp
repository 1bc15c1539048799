// The two IO callback bodies on hand-built buffer lists: every tap layout in,
// every device layout out, and the ring's prefill, underflow, latency cap,
// fade-in and keep-alive behaviour between them.

#include "engine/engine_io_state.h"
#include "engine/hal/simulated/simulated_buffer_list.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quellora {
namespace {

class IOCallbacksTest : public ::testing::Test {
protected:
    explicit IOCallbacksTest(EngineSwitchValues switches = {})
        : io(switches) {
        // Fully dry: the callbacks then pass audio through, delayed by the lookahead.
        auto params = CompressorParams::defaults();
        params.mix = 0.0f;
        io.compressor.updateParams(params, 48000.0f);
        io._captureScratch = std::make_unique<float[]>(EngineIOState::scratchFloats);
        io._outputScratch = std::make_unique<float[]>(EngineIOState::scratchFloats);
    }

    void capture(const SimulatedBufferList& input, std::uint32_t outputFrames = 512) {
        auto aggregateOutput = SimulatedBufferList::interleaved(2, outputFrames);
        aggregateOutput.samples(0)[0] = 1.0f;
        runCaptureCallback(io, input.list(), aggregateOutput.list());
        // The aggregate's own output is always silenced.
        ASSERT_EQ(aggregateOutput.samples(0)[0], 0.0f);
    }

    // Stereo frames whose left channel counts up from `first` and whose right is its negative.
    static SimulatedBufferList numberedStereo(std::uint32_t frames, float first) {
        auto list = SimulatedBufferList::interleaved(2, frames);
        for (std::uint32_t i = 0; i < frames; ++i) {
            list.at(0, i, 0) = (first + static_cast<float>(i)) / 65536.0f;
            list.at(0, i, 1) = -(first + static_cast<float>(i)) / 65536.0f;
        }
        return list;
    }

    EngineIOState io;
};

TEST_F(IOCallbacksTest, OutputWaitsForOneBufferThenReadsABufferPerCallback) {
    auto output = SimulatedBufferList::interleaved(2, 512);
    capture(numberedStereo(300, 1));
    runOutputCallback(io, output.list());
    EXPECT_FALSE(io._ringStarted.load());
    EXPECT_EQ(io.ring.fillFrames(), 300);

    capture(numberedStereo(300, 301));
    runOutputCallback(io, output.list());
    EXPECT_TRUE(io._ringStarted.load());
    EXPECT_EQ(io.ring.fillFrames(), 88);
    // The lookahead: the first 240 frames are the delay line's silence.
    EXPECT_EQ(output.at(0, 239, 0), 0.0f);
    EXPECT_FLOAT_EQ(output.at(0, 240, 0), 1.0f / 65536.0f);
    EXPECT_FLOAT_EQ(output.at(0, 511, 1), -272.0f / 65536.0f);
}

TEST_F(IOCallbacksTest, UnderflowPlaysSilenceWithoutANewPrefill) {
    auto output = SimulatedBufferList::interleaved(2, 512);
    capture(numberedStereo(512, 1));
    runOutputCallback(io, output.list());
    runOutputCallback(io, output.list()); // the capture side stalled
    EXPECT_EQ(io._ringUnderflowFrames.load(), 512);
    EXPECT_EQ(output.at(0, 100, 0), 0.0f);
    capture(numberedStereo(100, 513));
    runOutputCallback(io, output.list());
    EXPECT_EQ(io._ringUnderflowFrames.load(), 512 + 412);
    EXPECT_NE(output.at(0, 99, 0), 0.0f);
}

TEST_F(IOCallbacksTest, MoreThanThreeBuffersQueuedGoBackToOne) {
    for (int i = 0; i < 4; ++i) {
        capture(numberedStereo(528, 1));
    }
    ASSERT_EQ(io.ring.fillFrames(), 2112);
    auto output = SimulatedBufferList::interleaved(2, 512);
    runOutputCallback(io, output.list());
    EXPECT_EQ(io._ringSkippedFrames.load(), 1088);
    EXPECT_EQ(io.ring.fillFrames(), 512);
}

TEST_F(IOCallbacksTest, AFullRingCountsTheFramesItDrops) {
    for (int i = 0; i < 4; ++i) {
        capture(numberedStereo(4096, 1));
    }
    capture(numberedStereo(100, 1));
    EXPECT_EQ(io.ring.fillFrames(), 16384);
    EXPECT_EQ(io._ringDroppedFrames.load(), 100);
}

struct TapLayout {
    const char* name;
    std::vector<SimulatedBufferLayout> buffers;
    std::uint32_t frames;
    std::int64_t expectedFrames; // reaching the ring
    float expectedLeft;          // at a frame past the lookahead
    float expectedRight;
};

class TapLayoutTest : public IOCallbacksTest, public ::testing::WithParamInterface<TapLayout> {};

TEST_P(TapLayoutTest, BecomesInterleavedStereoFromTheFirstTwoChannels) {
    SimulatedBufferList input(GetParam().buffers, GetParam().frames);
    for (std::size_t b = 0; b < input.bufferCount(); ++b) {
        for (std::uint32_t f = 0; f < input.frames(); ++f) {
            for (std::uint32_t c = 0; c < input.channels(b) && !input.samples(b).empty(); ++c) {
                // Channel k of the stream carries (k + 1) / 8.
                input.at(b, f, c) = static_cast<float>(b + c + 1) / 8.0f;
            }
        }
    }
    capture(input);
    EXPECT_EQ(io.ring.fillFrames(), GetParam().expectedFrames);
    std::vector<float> frames(static_cast<std::size_t>(GetParam().expectedFrames * 2));
    io.ring.read(frames.data(), GetParam().expectedFrames);
    EXPECT_FLOAT_EQ(frames[250 * 2], GetParam().expectedLeft);
    EXPECT_FLOAT_EQ(frames[250 * 2 + 1], GetParam().expectedRight);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TapLayoutTest,
    ::testing::Values(TapLayout{"stereo", {{2, true}}, 480, 480, 0.125f, 0.25f},
                      TapLayout{"mono", {{1, true}}, 480, 480, 0.125f, 0.125f},
                      TapLayout{"sixChannels", {{6, true}}, 480, 480, 0.125f, 0.25f},
                      TapLayout{"planar", {{1, true}, {1, true}}, 480, 480, 0.125f, 0.25f},
                      TapLayout{
                          "planarWithoutRight", {{1, true}, {1, false}}, 480, 480, 0.125f, 0.125f},
                      // No tap data: silence sized from the aggregate's 512-frame output.
                      TapLayout{"missingData", {{2, false}}, 480, 512, 0.0f, 0.0f},
                      TapLayout{"oversized", {{2, true}}, 10000, 8192, 0.125f, 0.25f}),
    [](const auto& test) { return std::string(test.param.name); });

// The pipeline carries the output's own channels, mono to 7.1: whether the
// server hands them over interleaved or one buffer per channel, each channel
// of the tap arrives on its own channel of the device.
struct PipelineLayout {
    const char* name;
    int channels;
    bool planarTap;
    bool planarDevice;
};

class PipelineLayoutTest : public IOCallbacksTest,
                           public ::testing::WithParamInterface<PipelineLayout> {};

TEST_P(PipelineLayoutTest, EveryChannelArrivesOnItsOwnChannel) {
    const auto [name, count, planarTap, planarDevice] = GetParam();
    const auto channels = static_cast<std::uint32_t>(count);
    io.setChannelLayout(ChannelLayout::conventional(count));
    auto tap = planarTap ? SimulatedBufferList::planar(channels, 512)
                         : SimulatedBufferList::interleaved(channels, 512);
    auto device = planarDevice ? SimulatedBufferList::planar(channels, 512)
                               : SimulatedBufferList::interleaved(channels, 512);
    // Channel c carries (c + 1) / 16, each sample marked by its frame.
    const auto value = [](std::uint32_t c, std::uint32_t frame) {
        return static_cast<float>(c + 1) / 16.0f + static_cast<float>(frame) / 65536.0f;
    };
    const auto at = [&](SimulatedBufferList& list, bool planar, std::uint32_t frame,
                        std::uint32_t c) -> float& {
        return planar ? list.at(c, frame, 0) : list.at(0, frame, c);
    };
    for (std::uint32_t f = 0; f < 512; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            at(tap, planarTap, f, c) = value(c, f);
        }
    }
    capture(tap);
    capture(tap);
    runOutputCallback(io, device.list());
    runOutputCallback(io, device.list());
    // The second output buffer holds tap frames 272 to 511 of the first
    // capture after the 240-frame lookahead.
    for (std::uint32_t f = 0; f < 512 - 272; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            ASSERT_FLOAT_EQ(at(device, planarDevice, f, c), value(c, f + 272))
                << "frame " << f << " channel " << c;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PipelineLayoutTest,
                         ::testing::Values(PipelineLayout{"mono", 1, false, false},
                                           PipelineLayout{"stereo", 2, false, false},
                                           PipelineLayout{"stereoPlanar", 2, true, true},
                                           PipelineLayout{"fivePointOne", 6, false, false},
                                           PipelineLayout{"fivePointOnePlanar", 6, true, true},
                                           PipelineLayout{"fivePointOnePlanarIn", 6, true, false},
                                           PipelineLayout{"sevenPointOne", 8, false, false},
                                           PipelineLayout{"sevenPointOnePlanarOut", 8, false,
                                                          true}),
                         [](const auto& test) { return std::string(test.param.name); });

// What the tap or the device hands over is fitted to the pipeline's channels:
// a stereo pipeline's left and right land where the device has its channels,
// and a format change racing a rebuild is fitted to 5.1 rather than misread.
struct MismatchCase {
    const char* name;
    int pipelineChannels;
    std::vector<SimulatedBufferLayout> tap;
    std::vector<SimulatedBufferLayout> device;
    // Channel c of the tap carries (c + 1) / 8; expected per device channel.
    std::vector<float> expected;
};

class MismatchedBuffersTest : public IOCallbacksTest,
                              public ::testing::WithParamInterface<MismatchCase> {};

TEST_P(MismatchedBuffersTest, AreFittedToThePipelinesChannels) {
    io.setChannelLayout(ChannelLayout::conventional(GetParam().pipelineChannels));
    SimulatedBufferList tap(GetParam().tap, 1024);
    std::uint32_t channel = 0;
    for (std::size_t b = 0; b < tap.bufferCount(); ++b) {
        for (std::uint32_t c = 0; c < tap.channels(b); ++c, ++channel) {
            for (std::uint32_t f = 0; f < 1024; ++f) {
                tap.at(b, f, c) = static_cast<float>(channel + 1) / 8.0f;
            }
        }
    }
    capture(tap);
    SimulatedBufferList device(GetParam().device, 512);
    for (std::size_t b = 0; b < device.bufferCount(); ++b) {
        std::ranges::fill(device.samples(b), 9.0f); // every channel must be written
    }
    runOutputCallback(io, device.list());
    runOutputCallback(io, device.list());
    std::vector<float> heard;
    for (std::size_t b = 0; b < device.bufferCount(); ++b) {
        for (std::uint32_t c = 0; c < device.channels(b) && !device.samples(b).empty(); ++c) {
            heard.push_back(device.at(b, 300, c));
        }
    }
    EXPECT_EQ(heard, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MismatchedBuffersTest,
    ::testing::Values(
        MismatchCase{"stereoToMono", 2, {{2, true}}, {{1, true}}, {0.1875f}},
        MismatchCase{"stereoToFour", 2, {{2, true}}, {{4, true}}, {0.125f, 0.25f, 0, 0}},
        MismatchCase{"stereoToPlanarThree",
                     2,
                     {{2, true}},
                     {{1, true}, {1, true}, {1, true}},
                     {0.125f, 0.25f, 0}},
        MismatchCase{"stereoToPlanarThirdMissing",
                     2,
                     {{2, true}},
                     {{1, true}, {1, true}, {1, false}},
                     {0.125f, 0.25f}},
        MismatchCase{"stereoTap", 6, {{2, true}}, {{6, true}}, {0.125f, 0.25f, 0, 0, 0, 0}},
        MismatchCase{"monoTap", 6, {{1, true}}, {{6, true}}, {0.125f, 0.125f, 0, 0, 0, 0}},
        MismatchCase{"eightChannelTap",
                     6,
                     {{8, true}},
                     {{6, true}},
                     {0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f}},
        MismatchCase{"stereoDevice", 6, {{6, true}}, {{2, true}}, {0.125f, 0.25f}},
        MismatchCase{"monoDevice", 6, {{6, true}}, {{1, true}}, {0.1875f}},
        MismatchCase{"sevenPointOneDevice",
                     6,
                     {{6, true}},
                     {{8, true}},
                     {0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f, 0, 0}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(IOCallbacksTest, OutputWithoutDataIsLeftAlone) {
    auto output = SimulatedBufferList({{2, false}}, 512);
    capture(numberedStereo(1024, 1));
    runOutputCallback(io, output.list());
    EXPECT_FALSE(io._ringStarted.load());
    EXPECT_EQ(io.ring.fillFrames(), 1024);
}

TEST_F(IOCallbacksTest, FadeInRampsOverFiftyMillisecondsAcrossCallbacks) {
    auto input = SimulatedBufferList::interleaved(2, 512);
    std::fill(input.samples(0).begin(), input.samples(0).end(), 0.5f);
    io._fadeInRemaining.store(EngineIOState::fadeInFrames);
    auto output = SimulatedBufferList::interleaved(2, 512);
    capture(input);
    capture(input);
    runOutputCallback(io, output.list());
    // Frame i of the fade gets i / 2400 of the signal.
    EXPECT_FLOAT_EQ(output.at(0, 300, 0), 0.5f * 300.0f / 2400.0f);
    capture(input);
    runOutputCallback(io, output.list());
    EXPECT_FLOAT_EQ(output.at(0, 10, 1), 0.5f * 522.0f / 2400.0f);
    EXPECT_EQ(io._fadeInRemaining.load(), 2400 - 1024);
}

// An aggregate's first cycles after a resume may come before its links, or
// the player's first buffers, reach it: the fade waits for sound instead of
// passing on silence.
TEST_F(IOCallbacksTest, FadeInAfterAResumeWaitsForTheTapsFirstSound) {
    io._fadeInRemaining.store(EngineIOState::fadeInFrames);
    io._fadeInWaitsForTap.store(true);
    const auto missing = SimulatedBufferList({{2, false}}, 512);
    const auto silent = SimulatedBufferList::interleaved(2, 512);
    auto output = SimulatedBufferList::interleaved(2, 512);
    for (int cycle = 0; cycle < 8; ++cycle) {
        capture(cycle % 2 ? missing : silent);
        runOutputCallback(io, output.list());
    }
    EXPECT_EQ(io._fadeInRemaining.load(), EngineIOState::fadeInFrames);

    auto input = SimulatedBufferList::interleaved(2, 512);
    std::fill(input.samples(0).begin(), input.samples(0).end(), 0.5f);
    capture(input);
    runOutputCallback(io, output.list());
    EXPECT_FLOAT_EQ(output.at(0, 300, 0), 0.5f * 300.0f / 2400.0f);
}

class KeepAliveTest : public IOCallbacksTest {
protected:
    KeepAliveTest()
        : IOCallbacksTest({.keepAlive = true}) {}
};

TEST_F(KeepAliveTest, SilenceCarriesAFaintNoiseThatChangesEveryCallback) {
    auto silence = SimulatedBufferList::interleaved(2, 512);
    auto first = SimulatedBufferList::interleaved(2, 512);
    auto second = SimulatedBufferList::interleaved(2, 512);
    capture(silence);
    capture(silence);
    runOutputCallback(io, first.list());
    runOutputCallback(io, second.list());
    int nonZero = 0;
    for (std::uint32_t f = 0; f < 512; ++f) {
        for (std::uint32_t c = 0; c < 2; ++c) {
            EXPECT_LE(std::fabs(first.at(0, f, c)), 0.0001f);
            nonZero += first.at(0, f, c) != 0.0f;
        }
    }
    EXPECT_GT(nonZero, 1000);
    EXPECT_NE(first.at(0, 7, 0), second.at(0, 7, 0));
}

TEST_F(KeepAliveTest, AndTheFadeInReachEveryChannel) {
    io.setChannelLayout(ChannelLayout::conventional(6));
    io._fadeInRemaining.store(EngineIOState::fadeInFrames);
    auto input = SimulatedBufferList::interleaved(6, 512);
    std::ranges::fill(input.samples(0), 0.5f);
    capture(input);
    capture(input);
    auto output = SimulatedBufferList::interleaved(6, 512);
    runOutputCallback(io, output.list());
    bool noisy = false;
    for (std::uint32_t c = 0; c < 6; ++c) {
        // Frame 300 of the fade, with the keep-alive noise on top.
        EXPECT_NEAR(output.at(0, 300, c), 0.5f * 300.0f / 2400.0f, 0.0001f) << "channel " << c;
        noisy = noisy || output.at(0, 300, c) != 0.5f * 300.0f / 2400.0f;
        EXPECT_NE(output.at(0, 100, c), 0.0f) << "channel " << c;
    }
    EXPECT_TRUE(noisy);
}

class ClickDebugTest : public IOCallbacksTest {
protected:
    ClickDebugTest()
        : IOCallbacksTest({.clickDebug = true}) {}
};

TEST_F(ClickDebugTest, RecordsTheLargestStepAndInputlessCallbacks) {
    auto input = SimulatedBufferList::interleaved(2, 1024);
    input.at(0, 600, 0) = 0.8f;
    capture(input);
    capture(SimulatedBufferList({{2, false}}, 512));
    EXPECT_EQ(io._zeroInputBuffers.load(), 1);
    auto output = SimulatedBufferList::interleaved(2, 1024);
    runOutputCallback(io, output.list());
    // 0 -> 0.8 -> 0 on the left, in interleaved order: the largest step is 0.8.
    EXPECT_EQ(io._clickMaxStepMicro.load(), 800000);
    EXPECT_EQ(io._clickCode.load(), 1);
    EXPECT_EQ(io._clickOutputCount.load(), 1);
}

} // namespace
} // namespace quellora
