#include "dsp/audio_compressor.h"

#include "dsp/compressor_kernel.h"
#include "dsp/compressor_param_fields.h"
#include "dsp/gain_computer.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace quellora {

namespace kernel = compressor_kernel;

namespace {

LevelSample processBlockPortable(const kernel::Coefficients& coefficients,
                                 kernel::Workspace& workspace, const kernel::Channels& channels,
                                 std::int64_t frameCount) {
    return kernel::processBlock<4>(coefficients, workspace, channels, frameCount);
}

#if QUELLORA_HAS_AVX2_KERNELS
QUELLORA_TARGET_AVX2 LevelSample processBlockAvx2(const kernel::Coefficients& coefficients,
                                                  kernel::Workspace& workspace,
                                                  const kernel::Channels& channels,
                                                  std::int64_t frameCount) {
    return kernel::processBlock<8>(coefficients, workspace, channels, frameCount);
}
#endif

std::int64_t truncatedSamples(float samples) {
    // A rate this large is a caller error; clamp rather than overflow the conversion.
    assert(samples < 9.2e18f);
    return static_cast<std::int64_t>(std::min(samples, 9.2e18f));
}

} // namespace

AudioCompressor::AudioCompressor(InstructionSet instructionSet)
    : processBlock(processBlockPortable)
    , workspace(std::make_unique<kernel::Workspace>()) {
#if QUELLORA_HAS_AVX2_KERNELS
    if (instructionSet == InstructionSet::avx2) {
        processBlock = processBlockAvx2;
    }
#else
    (void)instructionSet;
#endif
}

AudioCompressor::~AudioCompressor() = default;

void AudioCompressor::setBypassed(bool bypassed) {
    bypassed_.store(bypassed, std::memory_order_relaxed);
    bypassTarget.store(bypassed ? 1.0f : 0.0f, std::memory_order_relaxed);
}

void AudioCompressor::updateParams(const CompressorParams& requested, float sampleRate) {
    // Also catches a NaN rate.
    const float sr = sampleRate > 1.0f ? sampleRate : 1.0f;
    // A ratio below 1 turns the curve into an expander with full-scale output,
    // and a ratio of 0 makes the makeup NaN until a reset: nothing outside
    // the ranges reaches the coefficients.
    const auto params = clampedToRanges(requested);
    threshold_.store(params.threshold, std::memory_order_relaxed);
    ratio_.store(params.ratio, std::memory_order_relaxed);
    kneeWidth_.store(params.kneeWidth, std::memory_order_relaxed);
    mix_.store(params.mix, std::memory_order_relaxed);

    attackCoeff_.store(1.0f - std::exp(-1.0f / (sr * params.attackMs / 1000.0f)),
                       std::memory_order_relaxed);
    releaseCoeff_.store(1.0f - std::exp(-1.0f / (sr * params.releaseMs / 1000.0f)),
                        std::memory_order_relaxed);
    secondaryCoeff_.store(1.0f - std::exp(-1.0f / (2.0f * sr / 1000.0f)),
                          std::memory_order_relaxed);
    holdSamples_.store(truncatedSamples(sr * 0.02f), std::memory_order_relaxed);
    bypassRampStep_.store(1.0f / (sr * 0.01f), std::memory_order_relaxed);

    const auto lookahead = std::min(truncatedSamples(sr * 0.005f), maxLookaheadSamples);
    if (lookahead != lookaheadSamples_.load(std::memory_order_relaxed)) {
        lookaheadSamples_.store(lookahead, std::memory_order_relaxed);
        clearDelayLines();
    }

    // Sidechain high-pass: the audio-EQ cookbook's, Q = 1/sqrt(2), a0 normalised to 1.
    // At and above half the rate its poles leave the unit circle, so the
    // corner stays below that at low rates.
    const float cornerHz = std::min(params.scHpfFreq, maxSidechainCorner * sr);
    const float w0 = 6.283185f * cornerHz / sr;
    const float sn = std::sin(w0);
    const float cs = std::cos(w0);
    const float alpha = sn / 1.4142f;
    const float a0 = 1.0f + alpha;
    hpf_b0.store(((1.0f + cs) * 0.5f) / a0, std::memory_order_relaxed);
    hpf_b1.store(-(1.0f + cs) / a0, std::memory_order_relaxed);
    hpf_b2.store(((1.0f + cs) * 0.5f) / a0, std::memory_order_relaxed);
    hpf_a1.store((-2.0f * cs) / a0, std::memory_order_relaxed);
    hpf_a2.store((1.0f - alpha) / a0, std::memory_order_relaxed);

    const GainComputer curve{params.threshold, params.ratio, params.kneeWidth};
    makeupDb_.store(curve.makeupDb(), std::memory_order_relaxed);

    if (!paramInitialized) {
        workspace->state.smoothedMakeupDb = makeupDb_.load(std::memory_order_relaxed);
        workspace->state.smoothedMix = params.mix;
        paramInitialized = true;
    }
}

void AudioCompressor::reset() noexcept {
    levelBuffer_.clear();
    workspace->state.finalGainDb = 0.0f;
    workspace->state.smoothedGainDb = 0.0f;
    workspace->state.heldGainDb = 0.0f;
    workspace->state.holdCounter = 0;
    workspace->state.smoothedMakeupDb = makeupDb_.load(std::memory_order_relaxed);
    workspace->state.smoothedMix = mix_.load(std::memory_order_relaxed);
    paramInitialized = true;
    workspace->state.bypassRamp = bypassTarget.load(std::memory_order_relaxed);
    workspace->state.hpfStates = {};
    clearDelayLines();
}

void AudioCompressor::prepareForResume() noexcept {
    workspace->state.finalGainDb = -makeupDb_.load(std::memory_order_relaxed);
    workspace->state.smoothedMakeupDb = makeupDb_.load(std::memory_order_relaxed);
    workspace->state.smoothedMix = mix_.load(std::memory_order_relaxed);
    workspace->state.hpfStates = {};
    workspace->state.smoothedGainDb = 0.0f;
    workspace->state.heldGainDb = 0.0f;
    workspace->state.holdCounter = 0;
}

void AudioCompressor::clearDelayLines() noexcept {
    for (auto& line : workspace->state.delayLines) {
        line.fill(0.0f);
    }
}

void AudioCompressor::processInterleaved(float* buffer, std::int64_t frameCount,
                                         std::int64_t channelCount) noexcept {
    processInterleaved(buffer, frameCount, channelCount,
                       ChannelLayout::conventional(static_cast<int>(
                           std::min<std::int64_t>(channelCount, ChannelLayout::maxChannels))));
}

void AudioCompressor::processInterleaved(float* buffer, std::int64_t frameCount,
                                         const ChannelLayout& layout) noexcept {
    processInterleaved(buffer, frameCount, layout.count, layout);
}

void AudioCompressor::processInterleaved(float* buffer, std::int64_t frameCount,
                                         std::int64_t stride,
                                         const ChannelLayout& layout) noexcept {
    kernel::Channels channels;
    channels.count = std::clamp(layout.count, 1, ChannelLayout::maxChannels);
    channels.stride = std::max<std::int64_t>(stride, channels.count);
    channels.detected = channels.count == 1 ? 1u : layout.detectorMask();
    for (int c = 0; c < channels.count; ++c) {
        channels.samples[static_cast<std::size_t>(c)] = buffer + c;
    }
    process(channels, frameCount);
}

void AudioCompressor::processMono(float* buffer, std::int64_t frameCount) noexcept {
    process({{buffer}, 1, 1, 1u}, frameCount);
}

void AudioCompressor::processNonInterleaved(float* left, float* right,
                                            std::int64_t frameCount) noexcept {
    process({{left, right}, 2, 1, 3u}, frameCount);
}

kernel::Coefficients AudioCompressor::loadCoefficients() const noexcept {
    kernel::Coefficients c;
    c.curve = {threshold_.load(std::memory_order_relaxed), ratio_.load(std::memory_order_relaxed),
               kneeWidth_.load(std::memory_order_relaxed)};
    c.mix = mix_.load(std::memory_order_relaxed);
    c.attackCoeff = attackCoeff_.load(std::memory_order_relaxed);
    c.releaseCoeff = releaseCoeff_.load(std::memory_order_relaxed);
    c.secondaryCoeff = secondaryCoeff_.load(std::memory_order_relaxed);
    c.b0 = hpf_b0.load(std::memory_order_relaxed);
    c.b1 = hpf_b1.load(std::memory_order_relaxed);
    c.b2 = hpf_b2.load(std::memory_order_relaxed);
    c.a1 = hpf_a1.load(std::memory_order_relaxed);
    c.a2 = hpf_a2.load(std::memory_order_relaxed);
    c.holdSamples = holdSamples_.load(std::memory_order_relaxed);
    c.makeupDb = makeupDb_.load(std::memory_order_relaxed);
    c.bypassTarget = bypassTarget.load(std::memory_order_relaxed);
    c.bypassRampStep = bypassRampStep_.load(std::memory_order_relaxed);
    c.lookaheadSamples = lookaheadSamples_.load(std::memory_order_relaxed);
    return c;
}

void AudioCompressor::process(const kernel::Channels& channels, std::int64_t frameCount) noexcept {
    const auto coefficients = loadCoefficients();
    const auto lookahead = coefficients.lookaheadSamples;
    if (lookahead < 1 || lookahead > maxLookaheadSamples) {
        return;
    }
    levelBuffer_.push(processBlock(coefficients, *workspace, channels, frameCount));
}

} // namespace quellora
