#include "dsp/compressor_params.h"
#include "dsp/gain_computer.h"
#include "dsp/param_range.h"
#include "dsp/preset.h"

#include <gtest/gtest.h>

namespace quellora {
namespace {

TEST(ParamRangeTest, ClampsToTheClosedRange) {
    EXPECT_EQ(clamped(-60.0f, ParamRange::threshold), -50.0f);
    EXPECT_EQ(clamped(12.0f, ParamRange::ratio), 8.0f);
    EXPECT_EQ(clamped(500.0f, ParamRange::scHpf), 500.0f);
    EXPECT_EQ(clamped(0.0f, ParamRange::knee), 0.0f);
    EXPECT_EQ(clamped(149.0f, ParamRange::release), 150.0f);
}

TEST(PresetTest, OnlyExactRawValuesAreRecognised) {
    EXPECT_EQ(presetFromRawValue("On"), Preset::on);
    EXPECT_EQ(presetFromRawValue("Custom"), Preset::custom);
    EXPECT_FALSE(presetFromRawValue("on"));
    EXPECT_FALSE(presetFromRawValue("custom"));
    EXPECT_FALSE(presetFromRawValue(""));
}

struct CurvePoint {
    float thresholdDb, ratio, kneeWidthDb, levelDb, expectedReductionDb;
};

class GainComputerCurveTest : public ::testing::TestWithParam<CurvePoint> {};

TEST_P(GainComputerCurveTest, KnownPoints) {
    const auto p = GetParam();
    const GainComputer curve{p.thresholdDb, p.ratio, p.kneeWidthDb};
    EXPECT_NEAR(curve.gainReductionDb(p.levelDb), p.expectedReductionDb, 1e-4f);
}

INSTANTIATE_TEST_SUITE_P(StandardAndHardKnee, GainComputerCurveTest,
                         ::testing::Values(
                             // Standard preset: knee from -39 to -19 dB.
                             CurvePoint{-29, 2.5f, 20, -50, 0}, // below the knee
                             CurvePoint{-29, 2.5f, 20, -39, 0}, // knee start
                             CurvePoint{-29, 2.5f, 20, -27,
                                        -2.16f}, // makeup reference, inside the knee
                             CurvePoint{-29, 2.5f, 20, -9, -12}, // above the knee
                             CurvePoint{-29, 2.5f, 20, -19, -6}, // knee end meets the straight line
                             CurvePoint{-20, 4, 0, -20, 0},      // hard knee at the threshold
                             CurvePoint{-20, 4, 0, -8, -9},      // hard knee above
                             CurvePoint{-20, 1, 10, 0, 0}));     // ratio 1 never reduces

TEST(GainComputerTest, MakeupIsTheReductionAtMinus27) {
    EXPECT_NEAR((GainComputer{-29, 2.5f, 20}.makeupDb()), 2.16f, 1e-5f);
    EXPECT_EQ((GainComputer{-10, 4, 6}.makeupDb()), 0.0f); // reference below the knee
    EXPECT_NEAR((GainComputer{-50, 8, 0}.makeupDb()), 23.0f * 0.875f, 1e-4f);
}

// The points the panel's curve is known to pass through with the standard preset.
TEST(SteadyStateOutputTest, StandardPresetReferencePoints) {
    const auto standard = CompressorParams::defaults();
    EXPECT_NEAR(steadyStateOutputDb(standard, -27.0f), -27.0f,
                1e-4f); // "Dialogue" on the unity line
    EXPECT_NEAR(steadyStateOutputDb(standard, -50.0f), -47.94f, 0.01f);
    EXPECT_NEAR(steadyStateOutputDb(standard, -3.0f), -14.97f, 0.01f); // "Explosion"
    const CompressorParams transparent{-29.0f, 1.0f, 8.0f, 600.0f, 20.0f, 1.0f, 120.0f};
    EXPECT_NEAR(steadyStateOutputDb(transparent, -12.0f), -12.0f, 1e-5f);
}

} // namespace
} // namespace quellora
