#include "dsp/vector_math.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quellora::vector_math {
namespace {

using F = Vector<4>::Float;

// Relative error over the whole range the compressor uses: detector peaks
// from the -200 dB floor up past full scale, gains from deep reduction to makeup.
TEST(VectorMathTest, LogarithmMatchesTheLibraryAcrossTheDetectorRange) {
    float worst = 0.0f;
    for (float x = 1e-10f; x < 1e6f; x *= 1.0137f) {
        const F result = logarithm<4>(F{x, x * 1.001f, x * 1.3f, x * 1.7f});
        for (int lane = 0; lane < 4; ++lane) {
            const float input = lane == 0 ? x : x * (lane == 1 ? 1.001f : lane == 2 ? 1.3f : 1.7f);
            const float exact = std::log(input);
            worst =
                std::max(worst, std::fabs(result[lane] - exact) / std::max(1.0f, std::fabs(exact)));
        }
    }
    EXPECT_LT(worst, 5e-7f);
}

TEST(VectorMathTest, ExponentialMatchesTheLibraryAndSaturates) {
    float worst = 0.0f;
    for (float x = -80.0f; x < 80.0f; x += 0.0173f) {
        const float exact = std::exp(x);
        worst = std::max(worst, std::fabs(exponential<4>(broadcast<F>(x))[0] - exact) / exact);
    }
    EXPECT_LT(worst, 5e-7f);
    EXPECT_LT(exponential<4>(broadcast<F>(-1000.0f))[0], 1e-37f);
    EXPECT_TRUE(std::isfinite(exponential<4>(broadcast<F>(1000.0f))[0]));
}

TEST(VectorMathTest, StereoLanesSplitAndJoin) {
    const F a{0, 1, 2, 3};
    const F b{4, 5, 6, 7};
    const F left = Vector<4>::evenLanes(a, b);
    const F right = Vector<4>::oddLanes(a, b);
    EXPECT_EQ(left[3], 6.0f);
    EXPECT_EQ(right[0], 1.0f);
    const F low = Vector<4>::interleavedLow(left, right);
    const F high = Vector<4>::interleavedHigh(left, right);
    for (int lane = 0; lane < 4; ++lane) {
        EXPECT_EQ(low[lane], a[lane]);
        EXPECT_EQ(high[lane], b[lane]);
    }
}

} // namespace
} // namespace quellora::vector_math
