#pragma once

#include "dsp/channel_layout.h"
#include "dsp/compressor_params.h"
#include "dsp/level_sample.h"

#include <array>
#include <cstdint>
#include <vector>

namespace quellora::testing {

// A straightforward scalar evaluation of the compressor's per-frame steps:
// one logarithm and one exponential per frame, everything in frame order,
// every channel delayed and the detected ones filtered one by one.
// It is the yardstick the production compressor is checked against and the
// baseline it is benchmarked against.
class ReferenceCompressor {
public:
    void updateParams(const CompressorParams& params, float sampleRate);
    void processInterleaved(float* buffer, std::int64_t frameCount, std::int64_t channelCount);
    void setBypassed(bool bypassed) { bypassTarget = bypassed ? 1.0f : 0.0f; }

    std::vector<LevelSample> meters;

private:
    void processFrames(float* frames, int channels, std::uint32_t detected,
                       std::int64_t frameCount);

    float threshold = 0.0f, ratio = 1.0f, kneeWidth = 10.0f, mix = 1.0f;
    float attackCoeff = 0.0f, releaseCoeff = 0.0f, secondaryCoeff = 0.0f;
    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;
    struct FilterState {
        float z1 = 0.0f, z2 = 0.0f;
    };
    std::array<FilterState, ChannelLayout::maxChannels> filterStates{};
    float smoothedGainDb = 0.0f, heldGainDb = 0.0f, finalGainDb = 0.0f;
    std::int64_t holdCounter = 0, holdSamples = 960;
    float makeupDb = 0.0f, smoothedMakeupDb = 0.0f, smoothedMix = 1.0f;
    bool paramInitialized = false;
    float bypassRamp = 0.0f, bypassTarget = 0.0f, bypassRampStep = 1.0f / 480.0f;
    std::array<std::array<float, 960>, ChannelLayout::maxChannels> delays{};
    std::int64_t delayWriteIndex = 0, lookaheadSamples = 240;
};

} // namespace quellora::testing
