#include "ui/views/curve_plot.h"
#include "ui/views/idle_noise.h"
#include "ui/views/tracking_dot.h"
#include "ui/views/waveform_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace quellora {
namespace {

double outputDb(const CompressorParams& params, float inputDb) {
    return curveLevel(params, inputDb).y();
}

LevelSample input(float peakDb) {
    return {peakDb, peakDb, 0.0f};
}

TEST(TransferCurve, StandardPresetLiftsQuietInputsAndLeavesDialogueOnTheUnityLine) {
    const auto params = CompressorParams::defaults();
    EXPECT_NEAR(outputDb(params, -27.0f), -27.0, 1e-3) << "the makeup reference";
    EXPECT_NEAR(outputDb(params, -50.0f), -47.94, 0.01);
    EXPECT_NEAR(outputDb(params, -39.0f) + 39.0, 2.06, 0.01) << "below the knee";
    EXPECT_NEAR(outputDb(params, -3.0f), -14.97, 0.01);
}

TEST(TransferCurve, NightPassesBelowItsKneeAtUnityAndNeverAboveTheCeiling) {
    EXPECT_NEAR(curveLevel(nightCompressorParams(), -31.0f, ChainKind::night).y(), -31.0, 0.01);
    EXPECT_LE(
        curveLevel({-50.0f, 1.0f, 1.0f, 150.0f, 0.0f, 1.0f, 20.0f}, 0.0f, ChainKind::night).y(),
        static_cast<double>(TruePeakLimiter::ceilingDbtp));
}

TEST(TransferCurve, UnityRatioAtFullMixIsTheUnityLineAndAHardKneeHasNoBand) {
    auto params = CompressorParams::defaults();
    params.ratio = 1.0f;
    params.mix = 1.0f;
    const auto curve = transferCurve(params);
    ASSERT_EQ(curve.size(), 101u) << "every half dB from -50 to 0";
    for (const auto& point : curve) {
        EXPECT_DOUBLE_EQ(point.y(), point.x());
    }

    ASSERT_TRUE(kneeSpan(params).has_value());
    EXPECT_FLOAT_EQ(kneeSpan(params)->lowDb, -39.0f);
    params.kneeWidth = 0.0f;
    EXPECT_FALSE(kneeSpan(params).has_value());
}

TEST(CurvePlot, MapsTheLevelRangeOntoTheInsetPlot) {
    const auto plot = CurvePlot::inView({268.0, 150.0});
    EXPECT_EQ(plot.point(-50.0, -50.0), QPointF(26.0, 134.0));
    EXPECT_EQ(plot.point(0.0, 0.0), QPointF(262.0, 6.0));
    EXPECT_EQ(plot.point(-25.0, -25.0), QPointF(144.0, 70.0));
}

TEST(DotTarget, FollowsTheNewestAudibleInputWithinThePlot) {
    struct Case {
        const char* name;
        std::vector<LevelSample> recent;
        bool enabled;
        DotState state;
        float inputDb;
    };
    const Case cases[] = {
        {"off", {input(-10.0f)}, false, DotState::disabled, -50.0f},
        {"empty history", {}, true, DotState::idle, -50.0f},
        {"silence up to -60 dB", {input(-80.0f), input(-60.0f)}, true, DotState::idle, -50.0f},
        {"playing", {input(-70.0f), input(-20.0f)}, true, DotState::active, -20.0f},
        {"fading out", {input(-20.0f), input(-75.0f)}, true, DotState::active, -50.0f},
        {"above full scale", {input(3.0f)}, true, DotState::active, 0.0f},
    };
    for (const auto& c : cases) {
        const auto target = dotTarget(c.recent, c.enabled);
        EXPECT_EQ(target.state, c.state) << c.name;
        EXPECT_FLOAT_EQ(target.inputDb, c.inputDb) << c.name;
    }
}

TEST(DotSpring, SettlesOnItsTargetWithALittleOvershootWhateverTheFrameRate) {
    const QPointF start{-50.0, -47.94};
    const QPointF target{0.0, -14.97};
    DotSpring fast;
    DotSpring slow;
    for (auto* spring : {&fast, &slow}) {
        spring->place(start);
        spring->setTarget(target);
    }
    double overshoot = 0.0;
    for (int frame = 1; frame <= 120; ++frame) {
        fast.advance(1.0 / 60.0);
        overshoot = std::max(overshoot, fast.position().x() - target.x());
        if (frame % 2 == 0) {
            slow.advance(1.0 / 30.0);
            EXPECT_NEAR(slow.position().x(), fast.position().x(), 1e-9) << frame;
        }
    }
    EXPECT_GT(overshoot, 0.0) << "an underdamped spring";
    EXPECT_LT(overshoot, 0.1 * (target.x() - start.x()));
    EXPECT_FALSE(fast.isMoving());
    EXPECT_EQ(fast.position(), target);
}

std::vector<LevelSample> steady(std::size_t count, float inputDb, float gainReductionDb = 0.0f) {
    return std::vector<LevelSample>(count, LevelSample{inputDb, inputDb, gainReductionDb});
}

TEST(IdleNoise, RepeatsAndStaysBoundedForAnyClock) {
    EXPECT_DOUBLE_EQ(idleNoise(17.0), 0.0);
    EXPECT_NEAR(idleNoise(3.25), idleNoise(3.25 + 256.0), 1e-9);
    for (const double p : {0.5, 255.9, -3.7, -1e12, 1e30, std::nan("")}) {
        EXPECT_FALSE(std::fabs(idleLineValue(p)) > 1.0) << p;
    }
}

TEST(WaveformActivity, RisesFromTheFloorToHalfWayUp) {
    EXPECT_DOUBLE_EQ(waveformActivity({}), 0.0);
    EXPECT_DOUBLE_EQ(waveformActivity(steady(5, -80.0f)), 0.0);
    EXPECT_DOUBLE_EQ(waveformActivity(steady(5, -12.0f)), 1.0);
    auto mixed = steady(5, -80.0f);
    mixed[2].inputPeak = -45.0f;
    EXPECT_DOUBLE_EQ(waveformActivity(mixed), 0.5) << "the loudest sample counts";
}

TEST(WaveformLayers, CrossfadeLevelsAndIdleLineWithActivity) {
    struct Case {
        bool enabled;
        double activity;
        bool disabledLine;
        bool levels;
        double noiseOpacity;
    };
    const Case cases[] = {
        {false, 1.0, true, false, 0.0},
        {true, 0.0, false, false, 1.0},
        {true, 0.5, false, true, 0.5},
        {true, 0.995, false, true, 0.0},
    };
    for (const auto& c : cases) {
        const auto layers = waveformLayers(c.enabled, c.activity);
        EXPECT_EQ(layers.disabledLine, c.disabledLine) << c.activity;
        EXPECT_EQ(layers.levels, c.levels) << c.activity;
        EXPECT_DOUBLE_EQ(layers.noiseOpacity, c.noiseOpacity) << c.activity;
    }
}

TEST(WaveformShapes, ShortHistoryIsRightAlignedAndScaled) {
    const auto samples = steady(10, -30.0f, -12.0f);
    const auto envelope =
        envelopeShape(samples, &LevelSample::inputPeak, WaveformLayout::waveBand(268.0));
    EXPECT_EQ(envelope.boundingRect(), QRectF(258.0, 14.0, 9.0, 28.0)) << "half deflection";
    const QRectF strip = WaveformLayout::gainReductionStrip(268.0);
    const auto reduction = gainReductionShape(samples, strip);
    EXPECT_EQ(reduction.boundingRect(), QRectF(258.0, 58.0, 9.0, 12.0))
        << "12 dB of reduction fills half the strip";
    EXPECT_EQ(reduction.back().x(), reduction[reduction.size() - 2].x()) << "closed straight up";
    EXPECT_TRUE(gainReductionShape({}, strip).isEmpty());

    EXPECT_NEAR(envelopeDeflection(3.0f), 1.05, 1e-6) << "not limited above";
    EXPECT_DOUBLE_EQ(gainReductionDepth(-30.0f), 1.0);
}

} // namespace
} // namespace quellora
