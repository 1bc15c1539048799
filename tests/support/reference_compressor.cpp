#include "support/reference_compressor.h"

#include <algorithm>
#include <cmath>

namespace quellora::testing {
namespace {

float flushed(float value) {
    return std::fabs(value) < 1e-20f ? 0.0f : value;
}

float staticGain(float level, float t, float w, float r) {
    if (level <= t - w / 2.0f) {
        return 0.0f;
    }
    if (t + w / 2.0f <= level) {
        return (1.0f / r - 1.0f) * (level - t);
    }
    const float d = level - (t - w / 2.0f);
    return d * ((1.0f / r - 1.0f) * d) / (w + w);
}

} // namespace

void ReferenceCompressor::updateParams(const CompressorParams& p, float sampleRate) {
    const float sr = sampleRate <= 1.0f ? 1.0f : sampleRate;
    threshold = p.threshold;
    ratio = p.ratio;
    kneeWidth = p.kneeWidth;
    mix = p.mix;
    attackCoeff = 1.0f - std::exp(-1.0f / (sr * p.attackMs / 1000.0f));
    releaseCoeff = 1.0f - std::exp(-1.0f / (sr * p.releaseMs / 1000.0f));
    secondaryCoeff = 1.0f - std::exp(-1.0f / (2.0f * sr / 1000.0f));
    holdSamples = static_cast<std::int64_t>(sr * 0.02f);
    bypassRampStep = 1.0f / (sr * 0.01f);
    const auto lookahead = std::min<std::int64_t>(static_cast<std::int64_t>(sr * 0.005f), 960);
    if (lookahead != lookaheadSamples) {
        lookaheadSamples = lookahead;
        delays = {};
        delayWriteIndex = 0;
    }
    const float w0 = 6.283185f * p.scHpfFreq / sr;
    const float sn = std::sin(w0), cs = std::cos(w0);
    const float alpha = sn / 1.4142f;
    const float a0 = 1.0f + alpha;
    b0 = ((1.0f + cs) * 0.5f) / a0;
    b1 = -(1.0f + cs) / a0;
    b2 = ((1.0f + cs) * 0.5f) / a0;
    a1 = (-2.0f * cs) / a0;
    a2 = (1.0f - alpha) / a0;
    makeupDb = std::fabs(staticGain(-27.0f, threshold, kneeWidth, ratio));
    if (!paramInitialized) {
        smoothedMakeupDb = makeupDb;
        smoothedMix = mix;
        paramInitialized = true;
    }
}

void ReferenceCompressor::processInterleaved(float* buffer, std::int64_t frameCount,
                                             std::int64_t channelCount) {
    const auto layout = ChannelLayout::conventional(static_cast<int>(channelCount));
    processFrames(buffer, layout.count, layout.count < 2 ? 1u : layout.detectorMask(), frameCount);
}

void ReferenceCompressor::processFrames(float* frames, int channels, std::uint32_t detected,
                                        std::int64_t frameCount) {
    if (lookaheadSamples < 1) {
        return;
    }
    const auto isDetected = [&](int c) {
        return ((detected >> c) & 1u) != 0;
    };
    float inputPeak = 0.0f, outputPeak = 0.0f, minimumGain = 1.0f;
    std::array<float, ChannelLayout::maxChannels> delayed{};
    for (std::int64_t i = 0; i < frameCount; ++i) {
        float* frame = frames + i * channels;
        float p = 0.0f;
        for (int c = 0; c < channels; ++c) {
            const auto index = static_cast<std::size_t>(c);
            const float x = std::isfinite(frame[c]) ? frame[c] : 0.0f;
            auto& line = delays[index];
            delayed[index] = line[static_cast<std::size_t>(delayWriteIndex)];
            line[static_cast<std::size_t>(delayWriteIndex)] = x;
            if (!isDetected(c)) {
                continue;
            }
            auto& [z1, z2] = filterStates[index];
            const float y = x * b0 + z1;
            z1 = flushed(z2 + (x * b1 - y * a1));
            z2 = flushed(x * b2 - y * a2);
            p = std::max(p, std::fabs(y));
            inputPeak = std::max(inputPeak, std::fabs(x));
        }
        delayWriteIndex = (delayWriteIndex + 1) % lookaheadSamples;

        if (bypassRamp < bypassTarget) {
            bypassRamp = std::min(bypassTarget, bypassRamp + bypassRampStep);
        } else if (bypassRamp > bypassTarget) {
            bypassRamp = std::max(bypassTarget, bypassRamp - bypassRampStep);
        }
        const float r = bypassRamp;

        if (p < 1e-10f) {
            p = 1e-10f;
        }
        const float level = std::log(p) * 8.685889f;
        const float gr = staticGain(level, threshold, kneeWidth, ratio);

        const float k = gr < smoothedGainDb ? attackCoeff : releaseCoeff;
        smoothedGainDb = flushed(smoothedGainDb + (gr - smoothedGainDb) * k);
        const float s = smoothedGainDb;
        float g;
        if (s < heldGainDb) {
            heldGainDb = s;
            holdCounter = holdSamples;
            g = s;
        } else if (holdCounter > 0) {
            --holdCounter;
            g = heldGainDb;
        } else {
            heldGainDb = s;
            g = s;
        }
        finalGainDb = flushed(finalGainDb + secondaryCoeff * (g - finalGainDb));
        smoothedMakeupDb += (makeupDb - smoothedMakeupDb) * secondaryCoeff;
        smoothedMix += (mix - smoothedMix) * secondaryCoeff;

        const float lin = std::exp((finalGainDb + smoothedMakeupDb) * 0.11512925f);
        const float m = smoothedMix;
        const float w = (1.0f - m) + lin * m;
        const float gain = r + (1.0f - r) * w;
        for (int c = 0; c < channels; ++c) {
            frame[c] = std::clamp(delayed[static_cast<std::size_t>(c)] * gain, -1.0f, 1.0f);
            if (isDetected(c)) {
                outputPeak = std::max(outputPeak, std::fabs(frame[c]));
            }
        }
        minimumGain = std::min(minimumGain, gain);
    }
    meters.push_back({inputPeak > 0.0f ? 20.0f * std::log10(inputPeak) : -80.0f,
                      outputPeak > 0.0f ? 20.0f * std::log10(outputPeak) : -80.0f,
                      minimumGain < 1.0f ? 20.0f * std::log10(minimumGain) : 0.0f});
}

} // namespace quellora::testing
