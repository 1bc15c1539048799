// Surround through the processing: one gain and one delay for every channel
// of a layout, a detector deaf to the low-frequency effects, and the Night
// stages on 5.1 as they are on stereo.

#include "dsp/audio_compressor.h"
#include "dsp/channel_layout.h"
#include "dsp/loudness_meter.h"
#include "dsp/processing_chain.h"
#include "support/test_signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace quellora::testing {
namespace {

constexpr float rate = 48000.0f;
constexpr std::int64_t lookahead = 240;

using Generator = std::function<float(int channel, std::int64_t frame)>;

std::vector<float> interleaved(const ChannelLayout& layout, std::int64_t frames,
                               const Generator& sample) {
    std::vector<float> samples(static_cast<std::size_t>(frames * layout.count));
    for (std::int64_t i = 0; i < frames; ++i) {
        for (int c = 0; c < layout.count; ++c) {
            samples[static_cast<std::size_t>(i * layout.count + c)] = sample(c, i);
        }
    }
    return samples;
}

float sine(double amplitude, double hz, std::int64_t frame) {
    return static_cast<float>(amplitude *
                              std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(frame) /
                                       static_cast<double>(rate)));
}

template <typename Processor>
void runBlocks(Processor& processor, std::vector<float>& samples, const ChannelLayout& layout,
               std::int64_t block = 512) {
    const auto frames = static_cast<std::int64_t>(samples.size()) / layout.count;
    for (std::int64_t at = 0; at < frames; at += block) {
        processor.processInterleaved(samples.data() + at * layout.count,
                                     std::min(block, frames - at), layout);
    }
}

TEST(ChannelLayoutTest, DetectorsHearEverythingButTheLowFrequencyEffects) {
    EXPECT_EQ(ChannelLayout::stereo().detectorMask(), 0b11u);
    EXPECT_EQ(ChannelLayout::conventional(6).detectorMask(), 0b110111u);
    EXPECT_EQ(ChannelLayout::conventional(8).detectorMask(), 0b11110111u);
    // 2.1 as a sound server lays it out.
    const ChannelLayout twoPointOne{
        3,
        {SpeakerPosition::frontLeft, SpeakerPosition::frontRight, SpeakerPosition::lowFrequency}};
    EXPECT_EQ(twoPointOne.detectorMask(), 0b011u);
    // A subwoofer alone still has something to listen to.
    const ChannelLayout subwoofer{1, {SpeakerPosition::lowFrequency}};
    EXPECT_EQ(subwoofer.detectorMask(), 0b1u);
}

TEST(ChannelLayoutTest, LoudnessWeighsSurroundsBesideTheListenerUp) {
    const auto fivePointOne = ChannelLayout::conventional(6);
    const double expected51[] = {1.0, 1.0, 1.0, 0.0, 1.41, 1.41};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(fivePointOne.loudnessWeight(c), expected51[c]) << c;
    }
    // 7.1: the side pair is beside the listener, the rear pair behind.
    const auto sevenPointOne = ChannelLayout::conventional(8);
    EXPECT_EQ(sevenPointOne.loudnessWeight(4), 1.0);
    EXPECT_EQ(sevenPointOne.loudnessWeight(6), 1.41);
}

struct LayoutCase {
    const char* name;
    ChannelLayout layout;
};

class LinkedGainTest : public ::testing::TestWithParam<LayoutCase> {};

// Each channel plays its own tone at its own level, loud enough to compress;
// at every frame each output sample is its input of one lookahead earlier
// times the same gain.
TEST_P(LinkedGainTest, EveryChannelGetsTheSameGainOneLookaheadLater) {
    const auto& layout = GetParam().layout;
    const auto input = interleaved(layout, 48000, [](int c, std::int64_t i) {
        return sine(0.15 + 0.1 * c, 150.0 + 110.0 * c, i);
    });
    auto output = input;
    AudioCompressor compressor;
    compressor.updateParams(CompressorParams::defaults(), rate);
    runBlocks(compressor, output, layout, 333);

    const auto n = layout.count;
    int compared = 0;
    for (std::int64_t i = 12000; i < 48000; ++i) {
        const auto at = [&](const std::vector<float>& s, std::int64_t frame, int c) {
            return s[static_cast<std::size_t>(frame * n + c)];
        };
        // The gain of this frame, from the channel that is farthest from zero.
        int widest = 0;
        for (int c = 1; c < n; ++c) {
            if (std::fabs(at(input, i - lookahead, c)) >
                std::fabs(at(input, i - lookahead, widest))) {
                widest = c;
            }
        }
        const float gain = at(output, i, widest) / at(input, i - lookahead, widest);
        for (int c = 0; c < n; ++c) {
            ASSERT_NEAR(at(output, i, c), at(input, i - lookahead, c) * gain, 2e-6f)
                << "frame " << i << " channel " << c;
        }
        ++compared;
    }
    EXPECT_EQ(compared, 36000);
    EXPECT_LT(compressor.levelBuffer().recentSamples(1)[0].gainReduction, -3.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LinkedGainTest,
    ::testing::Values(LayoutCase{"threeZero", ChannelLayout::conventional(3)},
                      LayoutCase{"fivePointOne", ChannelLayout::conventional(6)},
                      LayoutCase{"sevenPointOne", ChannelLayout::conventional(8)},
                      LayoutCase{"twoPointOne",
                                 {3,
                                  {SpeakerPosition::frontLeft, SpeakerPosition::frontRight,
                                   SpeakerPosition::lowFrequency}}}),
    [](const auto& row) { return std::string(row.param.name); });

struct DetectionCase {
    const char* name;
    int loudChannel; // of 5.1; the others play a quiet tone
    bool compresses;
};

class LowFrequencyDetectionTest : public ::testing::TestWithParam<DetectionCase> {};

// A film's bass channel can be far louder than its dialogue; it must not set
// the gain. The meters show the level the detector hears.
TEST_P(LowFrequencyDetectionTest, OnlyTheChannelsHeardByTheDetectorSetTheGain) {
    const auto layout = ChannelLayout::conventional(6);
    const int loud = GetParam().loudChannel;
    auto samples = interleaved(layout, 24000, [&](int c, std::int64_t i) {
        return sine(c == loud ? 0.9 : 0.003, 460.0, i);
    });
    AudioCompressor compressor;
    compressor.updateParams(CompressorParams::defaults(), rate);
    runBlocks(compressor, samples, layout);

    const auto meter = compressor.levelBuffer().recentSamples(1)[0];
    if (GetParam().compresses) {
        EXPECT_LT(meter.gainReduction, -6.0f);
        EXPECT_NEAR(meter.inputPeak, 20.0f * std::log10(0.9f), 0.1f);
    } else {
        EXPECT_EQ(meter.gainReduction, 0.0f);
        EXPECT_NEAR(meter.inputPeak, 20.0f * std::log10(0.003f), 0.1f);
    }
}

INSTANTIATE_TEST_SUITE_P(FivePointOne, LowFrequencyDetectionTest,
                         ::testing::Values(DetectionCase{"lowFrequencyEffects", 3, false},
                                           DetectionCase{"centre", 2, true},
                                           DetectionCase{"rearRight", 5, true}),
                         [](const auto& row) { return std::string(row.param.name); });

// Dialogue lives in the centre of a film mix: alone there it is compressed
// exactly as the same signal on both channels of a stereo mix.
TEST(LinkedDetectionTest, TheCentreAloneIsCompressedAsStereoIs) {
    const auto quietThenLoud = [](std::int64_t i) {
        return sine(i < 24000 ? 0.02 : 0.5, 440.0, i);
    };
    auto stereo = interleaved(ChannelLayout::stereo(), 48000,
                              [&](int, std::int64_t i) { return quietThenLoud(i); });
    const auto layout = ChannelLayout::conventional(6);
    auto surround = interleaved(
        layout, 48000, [&](int c, std::int64_t i) { return c == 2 ? quietThenLoud(i) : 0.0f; });
    AudioCompressor stereoCompressor;
    AudioCompressor surroundCompressor;
    stereoCompressor.updateParams(CompressorParams::defaults(), rate);
    surroundCompressor.updateParams(CompressorParams::defaults(), rate);
    runBlocks(stereoCompressor, stereo, ChannelLayout::stereo());
    runBlocks(surroundCompressor, surround, layout);

    for (std::size_t i = 0; i < 48000; ++i) {
        ASSERT_EQ(surround[i * 6 + 2], stereo[i * 2]) << "frame " << i;
        ASSERT_EQ(surround[i * 6], 0.0f);
    }
}

// Night on 5.1: the leveller hears the dialogue in the centre as it would
// hear it in a stereo downmix, and is deaf to the bass channel; the limiter
// keeps every channel, the bass channel too, below its ceiling.
class SurroundNightTest : public ::testing::Test {
protected:
    SurroundNightTest() {
        chain.selectKind(ChainKind::night);
        chain.updateParams(nightCompressorParams(), rate);
        chain.reset();
    }

    ProcessingChain chain;
    const ChannelLayout layout = ChannelLayout::conventional(6);
    const std::vector<float> speech = speechLike(6 * 48000, rate, -32.0f);
};

TEST_F(SurroundNightTest, DialogueInTheCentreIsLevelledAsInAStereoDownmix) {
    auto surround = interleaved(layout, 6 * 48000, [&](int c, std::int64_t i) {
        return c == 2 ? speech[static_cast<std::size_t>(i * 2)] : 0.0f;
    });
    // The downmix puts the centre on both sides at -3 dB.
    auto downmix = interleaved(ChannelLayout::stereo(), 6 * 48000, [&](int, std::int64_t i) {
        return 0.70710678f * speech[static_cast<std::size_t>(i * 2)];
    });
    ProcessingChain stereoChain;
    stereoChain.selectKind(ChainKind::night);
    stereoChain.updateParams(nightCompressorParams(), rate);
    stereoChain.reset();
    runBlocks(chain, surround, layout);
    runBlocks(stereoChain, downmix, ChannelLayout::stereo());

    const auto tail = [](const std::vector<float>& samples, const ChannelLayout& l) {
        LoudnessMeter meter(l, static_cast<int>(rate));
        const auto frames = static_cast<std::int64_t>(samples.size()) / l.count;
        meter.add(samples.data() + (frames - 2 * 48000) * l.count, 2 * 48000);
        return meter.measurement().integratedLufs;
    };
    const double surroundLufs = tail(surround, layout);
    EXPECT_GT(surroundLufs, -26.0) << "the dialogue was not lifted";
    EXPECT_NEAR(surroundLufs, tail(downmix, ChannelLayout::stereo()), 1.0);
}

TEST_F(SurroundNightTest, ALoudBassChannelNeitherMovesTheLevellerNorEscapesTheLimiter) {
    const auto withBass = [&](float bassAmplitude) {
        auto samples = interleaved(layout, 6 * 48000, [&](int c, std::int64_t i) {
            return c == 2   ? speech[static_cast<std::size_t>(i * 2)]
                   : c == 3 ? sine(bassAmplitude, 45.0, i)
                            : 0.0f;
        });
        ProcessingChain night;
        night.selectKind(ChainKind::night);
        night.updateParams(nightCompressorParams(), rate);
        night.reset();
        runBlocks(night, samples, layout);
        return samples;
    };
    const auto quiet = withBass(0.0f);
    const auto loud = withBass(1.0f);

    float bassPeak = 0.0f;
    float largestCentreRatio = 0.0f;
    for (std::size_t i = 48000; i < quiet.size() / 6; ++i) {
        bassPeak = std::max(bassPeak, std::fabs(loud[i * 6 + 3]));
        if (std::fabs(quiet[i * 6 + 2]) > 0.01f) {
            largestCentreRatio =
                std::max(largestCentreRatio, std::fabs(loud[i * 6 + 2] / quiet[i * 6 + 2]));
        }
    }
    // Limited, not clamped: the bass stays below the true-peak ceiling.
    EXPECT_LE(20.0f * std::log10(bassPeak), TruePeakLimiter::ceilingDbtp + 0.1f);
    EXPECT_GT(20.0f * std::log10(bassPeak), TruePeakLimiter::ceilingDbtp - 1.0f);
    // The dialogue is no louder with the bass playing: the leveller did not
    // take the bass for programme (the limiter may duck it a little).
    EXPECT_LE(largestCentreRatio, 1.0001f);
}

} // namespace
} // namespace quellora::testing
