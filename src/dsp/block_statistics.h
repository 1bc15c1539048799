#pragma once

#include "dsp/vector_math.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quellora::block_statistics {

using F = vector_math::Vector<4>::Float;

// Calls `lanes` with the samples of the first `channels` of each frame, four
// at a time where the frames are packed, and `single` with the rest.
template <typename Lanes, typename Single>
inline void forEachSample(const float* buffer, std::int64_t frameCount, std::int64_t stride,
                          int channels, Lanes&& lanes, Single&& single) {
    if (stride == channels) {
        const std::int64_t count = frameCount * channels;
        std::int64_t i = 0;
        for (; i + 4 <= count; i += 4) {
            lanes(vector_math::load<F>(buffer + i));
        }
        for (; i < count; ++i) {
            single(buffer[i]);
        }
        return;
    }
    for (std::int64_t i = 0; i < frameCount; ++i) {
        for (int c = 0; c < channels; ++c) {
            single(buffer[i * stride + c]);
        }
    }
}

// The sum of squares of the first `channels` of each frame; 0 when it is no
// finite number.
inline float energyOf(const float* buffer, std::int64_t frameCount, std::int64_t stride,
                      int channels) {
    F sums{};
    float rest = 0.0f;
    forEachSample(
        buffer, frameCount, stride, channels, [&](F x) { sums += x * x; },
        [&](float x) { rest += x * x; });
    const float sum = sums[0] + sums[1] + sums[2] + sums[3] + rest;
    return std::isfinite(sum) ? sum : 0.0f;
}

inline float peakOf(const float* buffer, std::int64_t frameCount, std::int64_t stride,
                    int channels) {
    F peaks{};
    float rest = 0.0f;
    forEachSample(
        buffer, frameCount, stride, channels,
        [&](F x) { peaks = vector_math::maximum(peaks, vector_math::absolute(x)); },
        [&](float x) { rest = std::max(rest, std::fabs(x)); });
    return std::max(rest, vector_math::horizontalMaximum(peaks));
}

} // namespace quellora::block_statistics
