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
        delayL.fill(0.0f);
        delayR.fill(0.0f);
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

void ReferenceCompressor::reset() {
    meters.clear();
    finalGainDb = smoothedGainDb = heldGainDb = 0.0f;
    holdCounter = 0;
    smoothedMakeupDb = makeupDb;
    smoothedMix = mix;
    paramInitialized = true;
    bypassRamp = bypassTarget;
    z1L = z2L = z1R = z2R = 0.0f;
    delayL.fill(0.0f);
    delayR.fill(0.0f);
    delayWriteIndex = 0;
}

void ReferenceCompressor::processInterleaved(float* buffer, std::int64_t frameCount,
                                             std::int64_t channelCount) {
    if (channelCount < 2) {
        processMono(buffer, frameCount);
        return;
    }
    processFrames(buffer, buffer + 1, channelCount, frameCount, false);
}

void ReferenceCompressor::processMono(float* buffer, std::int64_t frameCount) {
    processFrames(buffer, buffer, 1, frameCount, true);
}

void ReferenceCompressor::processFrames(float* left, float* right, std::int64_t stride,
                                        std::int64_t frameCount, bool mono) {
    if (lookaheadSamples < 1) {
        return;
    }
    float inputPeak = 0.0f, outputPeak = 0.0f, minimumGain = 1.0f;
    for (std::int64_t i = 0; i < frameCount; ++i) {
        float xl = left[i * stride];
        float xr = mono ? xl : right[i * stride];
        if (!std::isfinite(xl)) {
            xl = 0.0f;
        }
        if (!std::isfinite(xr)) {
            xr = 0.0f;
        }
        const float dl = delayL[static_cast<std::size_t>(delayWriteIndex)];
        const float dr = delayR[static_cast<std::size_t>(delayWriteIndex)];
        delayL[static_cast<std::size_t>(delayWriteIndex)] = xl;
        delayR[static_cast<std::size_t>(delayWriteIndex)] = xr;
        delayWriteIndex = (delayWriteIndex + 1) % lookaheadSamples;

        if (bypassRamp < bypassTarget) {
            bypassRamp = std::min(bypassTarget, bypassRamp + bypassRampStep);
        } else if (bypassRamp > bypassTarget) {
            bypassRamp = std::max(bypassTarget, bypassRamp - bypassRampStep);
        }
        const float r = bypassRamp;

        const float yl = xl * b0 + z1L;
        z1L = flushed(z2L + (xl * b1 - yl * a1));
        z2L = flushed(xl * b2 - yl * a2);
        const float yr = xr * b0 + z1R;
        z1R = flushed(z2R + (xr * b1 - yr * a1));
        z2R = flushed(xr * b2 - yr * a2);

        float p = std::max(std::fabs(yl), std::fabs(yr));
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
        const float outL = std::clamp(dl * gain, -1.0f, 1.0f);
        const float outR = std::clamp(dr * gain, -1.0f, 1.0f);
        left[i * stride] = outL;
        if (!mono) {
            right[i * stride] = outR;
        }
        inputPeak = std::max({inputPeak, std::fabs(xl), std::fabs(xr)});
        outputPeak = std::max({outputPeak, std::fabs(outL), mono ? 0.0f : std::fabs(outR)});
        minimumGain = std::min(minimumGain, gain);
    }
    meters.push_back({inputPeak > 0.0f ? 20.0f * std::log10(inputPeak) : -80.0f,
                      outputPeak > 0.0f ? 20.0f * std::log10(outputPeak) : -80.0f,
                      minimumGain < 1.0f ? 20.0f * std::log10(minimumGain) : 0.0f});
}

} // namespace quellora::testing
