#include "dsp/gain_ramp.h"

#include "dsp/compressor_kernel.h"
#include "dsp/vector_math.h"

#include <algorithm>

namespace quellora {

void GainRamp::apply(float* frames, std::int64_t count, std::int64_t stride, int channels,
                     float step, float bypassTarget) noexcept {
    using compressor_kernel::finiteOrZero;
    if (bypass != bypassTarget) {
        for (std::int64_t i = 0; i < count; ++i, frames += stride) {
            bypass = bypass < bypassTarget ? std::min(bypassTarget, bypass + bypassStep)
                                           : std::max(bypassTarget, bypass - bypassStep);
            gain += step;
            const float applied = bypass + (1.0f - bypass) * gain;
            for (int c = 0; c < channels; ++c) {
                frames[c] = finiteOrZero(frames[c]) * applied;
            }
        }
        return;
    }
    const float start = gain;
    const float scale = 1.0f - bypass;
    std::int64_t i = 0;
    if (channels == 2 && stride == 2) {
        using F = vector_math::Vector<4>::Float;
        namespace vm = vector_math;
        const F pairOffsets{1.0f, 1.0f, 2.0f, 2.0f};
        for (; i + 2 <= count; i += 2) {
            const F frameGain = start + step * (static_cast<float>(i) + pairOffsets);
            const F samples = finiteOrZero<4>(vm::load<F>(frames + 2 * i));
            vm::store(frames + 2 * i, samples * (bypass + scale * frameGain));
        }
    }
    for (; i < count; ++i) {
        const float applied = bypass + scale * (start + step * static_cast<float>(i + 1));
        for (int c = 0; c < channels; ++c) {
            frames[i * stride + c] = finiteOrZero(frames[i * stride + c]) * applied;
        }
    }
    gain = start + step * static_cast<float>(count);
}

} // namespace quellora
