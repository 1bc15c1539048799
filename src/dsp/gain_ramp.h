#pragma once

#include <cstdint>

namespace quellora {

// A stage's gain as it moves in equal steps from frame to frame, mixed with
// the stage's bypass, which glides toward its target at `bypassStep` per
// frame: each frame is multiplied by bypass + (1 - bypass) * gain.
struct GainRamp {
    float gain = 1.0f;
    float bypass = 0.0f;
    float bypassStep = 1.0f / 480.0f;

    // Applies the ramp in place to the first `channels` of each of `count`
    // frames, the gain moving by `step` per frame; samples that are no finite
    // number become silence. With the bypass settled the gain is written in
    // closed form, so interleaved stereo, the usual case, takes two frames
    // per vector.
    void apply(float* frames, std::int64_t count, std::int64_t stride, int channels, float step,
               float bypassTarget) noexcept;
};

} // namespace quellora
