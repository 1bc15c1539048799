#include "dsp/audio_compressor.h"
#include "dsp/compressor_kernel.h"
#include "dsp/compressor_param_fields.h"
#include "support/test_signals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace quellora {
namespace {

constexpr float sampleRate = 48000.0f;

// Interleaved stereo helpers.
float& left(std::vector<float>& frames, std::int64_t i) {
    return frames[static_cast<std::size_t>(i * 2)];
}
float& right(std::vector<float>& frames, std::int64_t i) {
    return frames[static_cast<std::size_t>(i * 2 + 1)];
}

std::vector<float> constant(std::int64_t frames, float value) {
    return std::vector<float>(static_cast<std::size_t>(frames * 2), value);
}

class AudioCompressorTest : public ::testing::Test {
protected:
    void SetUp() override { compressor.updateParams(CompressorParams::defaults(), sampleRate); }

    std::vector<float> process(std::vector<float> frames, std::int64_t blockFrames = 256) {
        const auto total = static_cast<std::int64_t>(frames.size() / 2);
        for (std::int64_t start = 0; start < total; start += blockFrames) {
            compressor.processInterleaved(frames.data() + start * 2,
                                          std::min(blockFrames, total - start), 2);
        }
        return frames;
    }

    AudioCompressor compressor;
};

TEST_F(AudioCompressorTest, LookaheadFollowsTheRate) {
    compressor.updateParams(CompressorParams::defaults(), 44100.0f);
    EXPECT_EQ(compressor.lookaheadSamples(), 220);
    compressor.updateParams(CompressorParams::defaults(), 384000.0f);
    EXPECT_EQ(compressor.lookaheadSamples(), 960);
    compressor.updateParams(CompressorParams::defaults(), 0.5f);
    EXPECT_EQ(compressor.lookaheadSamples(), 0);
}

// A tone at the Nyquist frequency has a constant magnitude and passes the
// sidechain high-pass at unity, so the detector sees a steady -9 dBFS.
TEST_F(AudioCompressorTest, SteadyToneAboveTheKneeSettlesAtMinus12dB) {
    const float peak = testing::decibelsToAmplitude(-9.0f);
    auto input = constant(48000, peak);
    for (std::int64_t i = 1; i < 48000; i += 2) {
        left(input, i) = right(input, i) = -peak;
    }
    for (const float mix : {1.0f, 0.95f}) {
        auto params = CompressorParams::defaults();
        params.mix = mix;
        AudioCompressor fresh;
        fresh.updateParams(params, sampleRate);
        auto output = input;
        fresh.processInterleaved(output.data(), 48000, 2);
        // -12 dB from the curve, 2.16 dB of makeup back, then the mix.
        const float wet = std::pow(10.0f, (-12.0f + 2.16f) / 20.0f);
        const float expectedGain = (1.0f - mix) + wet * mix;
        EXPECT_NEAR(std::fabs(left(output, 47999)) / peak, expectedGain, 1e-4f) << mix;
    }
}

TEST_F(AudioCompressorTest, NonFiniteInputBecomesSilenceWithoutDisturbingTheDetector) {
    const auto noise = testing::stereoNoise(4096, 0.3f);
    auto poisoned = noise;
    auto zeroed = noise;
    left(poisoned, 1000) = std::numeric_limits<float>::quiet_NaN();
    right(poisoned, 2000) = std::numeric_limits<float>::infinity();
    left(zeroed, 1000) = 0.0f;
    right(zeroed, 2000) = 0.0f;

    const auto fromPoisoned = process(poisoned);
    compressor.reset();
    const auto fromZeroed = process(zeroed);

    EXPECT_EQ(fromPoisoned, fromZeroed);
    EXPECT_EQ(fromPoisoned[static_cast<std::size_t>(1240 * 2)], 0.0f);
}

TEST_F(AudioCompressorTest, SamplesNearTheFloatLimitDoNotPoisonTheState) {
    auto input = testing::stereoNoise(8192, 0.3f);
    for (std::int64_t i = 1000; i < 1100; ++i) {
        left(input, i) = (i % 2 ? 1.0f : -1.0f) * 3.0e38f;
    }
    const auto output = process(input);
    for (float sample : output) {
        ASSERT_TRUE(std::isfinite(sample));
        ASSERT_LE(std::fabs(sample), 1.0f);
    }
    EXPECT_GT(std::fabs(left(const_cast<std::vector<float>&>(output), 8000)), 0.0f);
}

TEST_F(AudioCompressorTest, ResetClearsHistoryAndCompletesTheCrossfade) {
    process(testing::stereoNoise(4096, 0.5f));
    compressor.setBypassed(true);
    compressor.reset();
    EXPECT_TRUE(compressor.levelBuffer().recentSamples(512).empty());

    auto input = testing::stereoNoise(1024, 0.5f, 3);
    const auto output = process(input);
    for (std::int64_t i = 0; i < 240; ++i) {
        ASSERT_EQ(left(const_cast<std::vector<float>&>(output), i), 0.0f);
    }
    // Fully bypassed from the first frame: the delayed input, unchanged.
    EXPECT_EQ(output[240 * 2], input[0]);
    EXPECT_EQ(output[1000 * 2 + 1], input[760 * 2 + 1]);
}

TEST_F(AudioCompressorTest, ResumeStartsAtUnityAndKeepsTheDelayedAudio) {
    auto params = CompressorParams::defaults();
    params.mix = 1.0f;
    compressor.updateParams(params, sampleRate);
    const auto loud = testing::stereoNoise(48000, 0.9f);
    process(loud);
    compressor.prepareForResume();

    const auto output = process(constant(480, 0.0f));
    // The first resumed frames play the delayed audio at about unity gain
    // (the 2 ms smoother has taken its first step), not at the deep reduction
    // the loud passage had reached.
    const float firstGain = output[0] / loud[static_cast<std::size_t>((48000 - 240) * 2)];
    EXPECT_GE(firstGain, 1.0f);
    EXPECT_LT(firstGain, 1.003f);
}

TEST_F(AudioCompressorTest, NewLookaheadStartsWithSilence) {
    process(testing::stereoNoise(4096, 0.5f));
    compressor.updateParams(CompressorParams::defaults(), 44100.0f);
    const auto output = process(testing::stereoNoise(1024, 0.5f, 9));
    for (std::int64_t i = 0; i < 220; ++i) {
        ASSERT_EQ(output[static_cast<std::size_t>(i * 2)], 0.0f) << i;
    }
    EXPECT_NE(output[220 * 2], 0.0f);
}

TEST_F(AudioCompressorTest, EmptyBuffersAndMissingLookahead) {
    compressor.processInterleaved(nullptr, 0, 2);
    EXPECT_EQ(compressor.levelBuffer().recentSamples(1).at(0), LevelSample{});

    AudioCompressor unconfigured;
    unconfigured.updateParams(CompressorParams::defaults(), 1.0f);
    auto input = testing::stereoNoise(64, 0.5f);
    auto output = input;
    unconfigured.processInterleaved(output.data(), 64, 2);
    EXPECT_EQ(output, input);
    EXPECT_TRUE(unconfigured.levelBuffer().recentSamples(1).empty());
}

TEST_F(AudioCompressorTest, MonoMetersItsOneChannel) {
    std::vector<float> mono(480, 0.5f);
    compressor.processMono(mono.data(), 480);
    const auto sample = compressor.levelBuffer().recentSamples(1)[0];
    EXPECT_NEAR(sample.inputPeak, 20.0f * std::log10(0.5f), 1e-5f);
    EXPECT_GT(sample.outputPeak, -80.0f);
}

// --- Parameters from files the user or another program wrote ---------------

struct HostileParams {
    const char* name;
    CompressorParams params;
    float rate = 48000.0f;
};
void PrintTo(const HostileParams& row, std::ostream* out) {
    *out << row.name;
}

constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float infinity = std::numeric_limits<float>::infinity();

class HostileParamsTest : public ::testing::TestWithParam<HostileParams> {
protected:
    static std::vector<float> processed(const CompressorParams& params, float rate) {
        AudioCompressor compressor;
        compressor.updateParams(params, rate);
        // Quiet programme, as at -60 dBFS, then a loud burst.
        auto frames = testing::stereoNoise(24000, testing::decibelsToAmplitude(-60.0f));
        const auto loud = testing::stereoNoise(24000, 0.8f, 2);
        frames.insert(frames.end(), loud.begin(), loud.end());
        for (std::size_t start = 0; start < frames.size(); start += 2 * 512) {
            const auto count = std::min<std::size_t>(512, (frames.size() - start) / 2);
            compressor.processInterleaved(frames.data() + start, static_cast<std::int64_t>(count),
                                          2);
        }
        return frames;
    }
};

TEST_P(HostileParamsTest, SoundExactlyLikeTheirValuesClampedIntoRange) {
    const auto& row = GetParam();
    auto expected = clampedToRanges(row.params);
    expected.scHpfFreq = std::min(expected.scHpfFreq, 0.45f * row.rate);
    const auto output = processed(row.params, row.rate);
    EXPECT_EQ(output, processed(expected, row.rate));
    const auto quiet =
        std::max_element(output.begin(), output.begin() + 2 * 24000,
                         [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    EXPECT_LT(std::fabs(*quiet), testing::decibelsToAmplitude(-30.0f))
        << "no amount of makeup lifts -60 dBFS this far";
    for (const float sample : output) {
        ASSERT_TRUE(std::isfinite(sample));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stored, HostileParamsTest,
    ::testing::Values(
        HostileParams{"RatioBelowOne", {-29, 0.01f, 8, 600, 20, 0.95f, 120}},
        HostileParams{"RatioZero", {-29, 0, 8, 600, 20, 0.95f, 120}},
        HostileParams{"NegativeKneeAndMixAboveOne", {-29, 2.5f, 8, 600, -5, 7, 120}},
        HostileParams{"NotANumberEverywhere", {nan, nan, nan, nan, nan, nan, nan}},
        HostileParams{"Infinities", {-infinity, infinity, infinity, -infinity, infinity, 1, 0}},
        HostileParams{"CornerAboveTheNyquistRate", {-29, 2.5f, 8, 600, 20, 0.95f, 250}, 400.0f}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(CompressorParamsClampTest, NotANumberTakesTheStandardValueAndInRangeValuesStay) {
    const CompressorParams edges{-50, 8, 1, 2000, 0, 1, 20};
    EXPECT_EQ(clampedToRanges(edges), edges);
    auto withNan = edges;
    withNan.mix = nan;
    EXPECT_EQ(clampedToRanges(withNan).mix, CompressorParams::defaults().mix);
}

// Reached only if a NaN got into the mix or gain state: the limiter must
// then output silence, not a full-scale -1.
TEST(OutputLimiterTest, MapsNotANumberToSilence) {
    namespace kernel = compressor_kernel;
    kernel::Coefficients coefficients;
    coefficients.mix = nan;
    kernel::Workspace workspace;
    workspace.state.smoothedMix = nan;
    std::vector<float> frames(2 * 512, 0.5f);
    kernel::processBlock<4>(coefficients, workspace, {{frames.data(), frames.data() + 1}, 2, 2, 3u},
                            512);
    for (const float sample : frames) {
        ASSERT_EQ(sample, 0.0f);
    }
}

// The main thread changes parameters, and with a new rate the lookahead,
// while audio runs; every block is processed with one whole set. On a steady
// -6 dBFS tone set A reduces by 12 dB (1.5 dB makeup) and set B by 3.5 dB (no
// makeup), so no sequence of whole sets ever reduces by more than 12 dB. A
// block taking A's threshold with B's ratio would aim at 21 dB.
TEST(AudioCompressorThreadedTest, EveryBlockUsesOneWholeParameterSet) {
    auto a = CompressorParams::defaults();
    a.threshold = -30.0f;
    a.ratio = 2.0f;
    a.kneeWidth = 0.0f;
    a.attackMs = 1.0f;
    a.mix = 1.0f;
    auto b = a;
    b.threshold = -10.0f;
    b.ratio = 8.0f;

    AudioCompressor compressor;
    compressor.updateParams(a, sampleRate);
    std::atomic<bool> done{false};
    int deepBlocks = 0;
    std::thread audio([&] {
        const float peak = testing::decibelsToAmplitude(-6.0f);
        std::vector<float> block(256 * 2);
        for (int call = 0; call < 3000; ++call) {
            for (std::size_t i = 0; i < block.size(); ++i) {
                block[i] = (i / 2) % 2 == 0 ? peak : -peak;
            }
            compressor.processInterleaved(block.data(), 256, 2);
            if (compressor.levelBuffer().recentSamples(1).at(0).gainReduction < -12.05f) {
                ++deepBlocks;
            }
        }
        done.store(true);
    });
    std::int64_t changes = 0;
    for (; !done.load(); ++changes) {
        const bool useA = changes % 2 == 0;
        compressor.updateParams(useA ? a : b, useA ? sampleRate : 44100.0f);
    }
    audio.join();
    EXPECT_EQ(deepBlocks, 0);
    EXPECT_GT(changes, 100);
}

} // namespace
} // namespace quellora
