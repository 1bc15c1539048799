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
    , current(std::make_unique<kernel::Coefficients>())
    , published(std::make_unique<TripleBuffer<kernel::Coefficients>>())
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
    auto next = *current;
    next.bypassTarget = bypassed ? 1.0f : 0.0f;
    publish(next);
}

void AudioCompressor::publish(const kernel::Coefficients& coefficients) {
    *current = coefficients;
    published->publish(coefficients);
}

std::int64_t AudioCompressor::lookaheadSamples() const {
    return current->lookaheadSamples;
}

void AudioCompressor::updateParams(const CompressorParams& requested, float sampleRate) {
    // Also catches a NaN rate.
    const float sr = sampleRate > 1.0f ? sampleRate : 1.0f;
    // A ratio below 1 turns the curve into an expander with full-scale output,
    // and a ratio of 0 makes the makeup NaN until a reset: nothing outside
    // the ranges reaches the coefficients.
    const auto params = clampedToRanges(requested);
    auto next = *current;
    next.fromParams = true;
    next.curve = {params.threshold, params.ratio, params.kneeWidth};
    next.mix = params.mix;
    next.attackCoeff = 1.0f - std::exp(-1.0f / (sr * params.attackMs / 1000.0f));
    next.releaseCoeff = 1.0f - std::exp(-1.0f / (sr * params.releaseMs / 1000.0f));
    next.secondaryCoeff = 1.0f - std::exp(-1.0f / (2.0f * sr / 1000.0f));
    next.holdSamples = truncatedSamples(sr * 0.02f);
    next.bypassRampStep = 1.0f / (sr * 0.01f);
    next.lookaheadSamples = std::min(truncatedSamples(sr * 0.005f), kernel::maxLookaheadSamples);

    // Sidechain high-pass: the audio-EQ cookbook's, Q = 1/sqrt(2), a0 normalised to 1.
    // At and above half the rate its poles leave the unit circle, so the
    // corner stays below that at low rates.
    const float cornerHz = std::min(params.scHpfFreq, maxSidechainCornerOfRate * sr);
    const float w0 = 6.283185f * cornerHz / sr;
    const float sn = std::sin(w0);
    const float cs = std::cos(w0);
    const float alpha = sn / 1.4142f;
    const float a0 = 1.0f + alpha;
    next.b0 = ((1.0f + cs) * 0.5f) / a0;
    next.b1 = -(1.0f + cs) / a0;
    next.b2 = ((1.0f + cs) * 0.5f) / a0;
    next.a1 = (-2.0f * cs) / a0;
    next.a2 = (1.0f - alpha) / a0;

    next.makeupDb = next.curve.makeupDb();
    publish(next);
}

void AudioCompressor::reset() noexcept {
    levelBuffer_.clear();
    workspace->state.finalGainDb = 0.0f;
    workspace->state.smoothedGainDb = 0.0f;
    workspace->state.heldGainDb = 0.0f;
    workspace->state.holdCounter = 0;
    workspace->state.smoothedMakeupDb = current->makeupDb;
    workspace->state.smoothedMix = current->mix;
    workspace->state.smoothersPrimed = true;
    workspace->state.bypassRamp = current->bypassTarget;
    workspace->state.hpfStates = {};
    clearDelayLines();
}

void AudioCompressor::prepareForResume() noexcept {
    workspace->state.finalGainDb = -current->makeupDb;
    workspace->state.smoothedMakeupDb = current->makeupDb;
    workspace->state.smoothedMix = current->mix;
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

void AudioCompressor::process(const kernel::Channels& channels, std::int64_t frameCount) noexcept {
    // A copy: the kernel keeps its values in registers, which it could not
    // do for a reference that the sample stores might alias.
    const auto coefficients = published->read();
    const auto lookahead = coefficients.lookaheadSamples;
    if (lookahead < 1 || lookahead > kernel::maxLookaheadSamples) {
        return;
    }
    auto& state = workspace->state;
    // The history was delayed for another rate; silence is better than a jump.
    if (lookahead != state.appliedLookaheadSamples) {
        clearDelayLines();
        state.appliedLookaheadSamples = lookahead;
    }
    // The smoothers start where the first parameters put them, not glide there.
    if (!state.smoothersPrimed && coefficients.fromParams) {
        state.smoothedMakeupDb = coefficients.makeupDb;
        state.smoothedMix = coefficients.mix;
        state.smoothersPrimed = true;
    }
    levelBuffer_.push(processBlock(coefficients, *workspace, channels, frameCount));
}

} // namespace quellora
