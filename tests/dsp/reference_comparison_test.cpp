// The production compressor against a plain frame-by-frame evaluation of the
// same steps: every compiled form, every buffer layout, awkward block sizes.

#include "dsp/audio_compressor.h"
#include "support/reference_compressor.h"
#include "support/test_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace quellora {
namespace {

enum class Layout { stereo, mono, planar, sixChannels };

enum class Scenario { standard, hardKneeExtreme, bypassAndParameterChanges };

constexpr float sampleRate = 48000.0f;
constexpr std::int64_t totalFrames = 72000; // 1.5 s
constexpr float tolerance = 1e-4f;
constexpr float meterToleranceDb = 0.01f;

CompressorParams paramsFor(Scenario scenario) {
    if (scenario == Scenario::hardKneeExtreme) {
        return {-50.0f, 8.0f, 1.0f, 150.0f, 0.0f, 1.0f, 20.0f};
    }
    return CompressorParams::defaults();
}

// Drives either compressor through the same calls.
template <typename Compressor>
std::vector<float> run(Compressor& compressor, Layout layout, Scenario scenario,
                       std::int64_t blockFrames, const std::vector<float>& stereo) {
    compressor.updateParams(paramsFor(scenario), sampleRate);
    const std::int64_t channels = layout == Layout::mono          ? 1
                                  : layout == Layout::sixChannels ? 6
                                                                  : 2;
    std::vector<float> output;
    output.reserve(static_cast<std::size_t>(totalFrames * channels));
    std::vector<float> block;
    std::vector<float> planarRight;
    for (std::int64_t start = 0; start < totalFrames; start += blockFrames) {
        if (scenario == Scenario::bypassAndParameterChanges) {
            if (start >= 20000 && start - blockFrames < 20000) {
                compressor.setBypassed(true);
            }
            if (start >= 20600 && start - blockFrames < 20600) {
                compressor.setBypassed(false);
                compressor.updateParams({-40.0f, 4.0f, 2.0f, 200.0f, 6.0f, 0.7f, 300.0f},
                                        sampleRate);
            }
        }
        const auto frames = std::min(blockFrames, totalFrames - start);
        block.assign(static_cast<std::size_t>(frames * channels), 0.25f);
        planarRight.assign(static_cast<std::size_t>(frames), 0.0f);
        for (std::int64_t i = 0; i < frames; ++i) {
            const float left = stereo[static_cast<std::size_t>((start + i) * 2)];
            const float right = stereo[static_cast<std::size_t>((start + i) * 2 + 1)];
            if (layout == Layout::mono) {
                block[static_cast<std::size_t>(i)] = left;
            } else if (layout == Layout::planar) {
                block[static_cast<std::size_t>(i)] = left;
                planarRight[static_cast<std::size_t>(i)] = right;
            } else {
                block[static_cast<std::size_t>(i * channels)] = left;
                block[static_cast<std::size_t>(i * channels + 1)] = right;
            }
            if (layout == Layout::sixChannels) {
                // 5.1: a centre, a louder low-frequency channel that must not
                // drive the detector, and surrounds.
                float* rest = block.data() + i * channels + 2;
                rest[0] = 0.5f * (left + right);
                rest[1] = std::clamp(2.0f * right, -1.0f, 1.0f);
                rest[2] = -0.5f * left;
                rest[3] = 0.7f * right;
            }
        }
        if constexpr (std::is_same_v<Compressor, AudioCompressor>) {
            if (layout == Layout::planar) {
                compressor.processNonInterleaved(block.data(), planarRight.data(), frames);
            } else {
                compressor.processInterleaved(block.data(), frames, channels);
            }
        } else {
            // The reference has no planar form: the same frames interleaved.
            if (layout == Layout::planar) {
                std::vector<float> interleaved(static_cast<std::size_t>(frames * 2));
                for (std::int64_t i = 0; i < frames; ++i) {
                    interleaved[static_cast<std::size_t>(i * 2)] =
                        block[static_cast<std::size_t>(i)];
                    interleaved[static_cast<std::size_t>(i * 2 + 1)] =
                        planarRight[static_cast<std::size_t>(i)];
                }
                compressor.processInterleaved(interleaved.data(), frames, 2);
                for (std::int64_t i = 0; i < frames; ++i) {
                    block[static_cast<std::size_t>(i)] =
                        interleaved[static_cast<std::size_t>(i * 2)];
                    planarRight[static_cast<std::size_t>(i)] =
                        interleaved[static_cast<std::size_t>(i * 2 + 1)];
                }
            } else {
                compressor.processInterleaved(block.data(), frames, channels);
            }
        }
        output.insert(output.end(), block.begin(), block.end());
        if (layout == Layout::planar) {
            output.insert(output.end(), planarRight.begin(), planarRight.end());
        }
    }
    return output;
}

using Case = std::tuple<InstructionSet, Layout, Scenario, std::int64_t>;

class ReferenceComparisonTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReferenceComparisonTest, OutputAndMetersMatchTheFrameByFrameEvaluation) {
    const auto [instructionSet, layout, scenario, blockFrames] = GetParam();
    if (instructionSet == InstructionSet::avx2 && bestInstructionSet() != InstructionSet::avx2) {
        GTEST_SKIP() << "this processor has no AVX2";
    }
    const auto stereo = testing::programmeSignal(totalFrames, sampleRate);

    AudioCompressor production(instructionSet);
    testing::ReferenceCompressor reference;
    const auto produced = run(production, layout, scenario, blockFrames, stereo);
    const auto expected = run(reference, layout, scenario, blockFrames, stereo);

    ASSERT_EQ(produced.size(), expected.size());
    float worst = 0.0f;
    std::size_t worstIndex = 0;
    for (std::size_t i = 0; i < produced.size(); ++i) {
        const float difference = std::fabs(produced[i] - expected[i]);
        if (!(difference <= worst)) {
            worst = difference;
            worstIndex = i;
        }
    }
    EXPECT_LE(worst, tolerance) << "at sample " << worstIndex;

    const auto meters = production.levelBuffer().recentSamples(AudioLevelBuffer::capacity);
    const auto expectedMeters = std::vector<LevelSample>(
        reference.meters.end() - static_cast<std::ptrdiff_t>(meters.size()),
        reference.meters.end());
    // Meters in dB: a hold that ends one frame apart (its decision can turn
    // on the last bit of the smoothed gain) shifts a release by a frame.
    for (std::size_t i = 0; i < meters.size(); ++i) {
        EXPECT_FLOAT_EQ(meters[i].inputPeak, expectedMeters[i].inputPeak) << i;
        if (expectedMeters[i].outputPeak > -60.0f) {
            EXPECT_NEAR(meters[i].outputPeak, expectedMeters[i].outputPeak, meterToleranceDb) << i;
        }
        EXPECT_NEAR(meters[i].gainReduction, expectedMeters[i].gainReduction, meterToleranceDb)
            << i;
    }
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    const auto [instructionSet, layout, scenario, blockFrames] = info.param;
    const char* layouts[] = {"Stereo", "Mono", "Planar", "SixChannels"};
    const char* scenarios[] = {"Standard", "HardKnee", "BypassAndChanges"};
    return std::string(instructionSet == InstructionSet::avx2 ? "Avx2" : "Portable") +
           layouts[static_cast<int>(layout)] + scenarios[static_cast<int>(scenario)] +
           std::to_string(blockFrames);
}

INSTANTIATE_TEST_SUITE_P(
    AllForms, ReferenceComparisonTest,
    ::testing::Combine(::testing::Values(InstructionSet::portable, InstructionSet::avx2),
                       ::testing::Values(Layout::stereo, Layout::mono, Layout::planar,
                                         Layout::sixChannels),
                       ::testing::Values(Scenario::standard, Scenario::hardKneeExtreme,
                                         Scenario::bypassAndParameterChanges),
                       ::testing::Values<std::int64_t>(1, 7, 256, 1000)),
    caseName);

} // namespace
} // namespace quellora
