#include "dsp/processing_chain.h"

#include "dsp/gain_computer.h"

#include <algorithm>

namespace quellora {
namespace {

constexpr float switchFadeSeconds = 0.005f;

} // namespace

float chainSteadyStateOutputDb(ChainKind kind, const CompressorParams& params, float inputDb) {
    const float compressed = steadyStateOutputDb(params, inputDb);
    return kind == ChainKind::night ? std::min(compressed, TruePeakLimiter::ceilingDbtp)
                                    : compressed;
}

ProcessingChain::ProcessingChain(InstructionSet instructionSet)
    : compressor_(instructionSet)
    , limiter(instructionSet) {}

void ProcessingChain::updateParams(const CompressorParams& params, float sampleRate) {
    compressor_.updateParams(params, sampleRate);
    const float rate = sampleRate > 1.0f ? sampleRate : 1.0f;
    if (rate != preparedRate) {
        preparedRate = rate;
        leveller.prepare(rate);
        limiter.prepare(rate);
        switchStep = 1.0f / std::max(1.0f, rate * switchFadeSeconds);
    }
}

void ProcessingChain::selectKind(ChainKind kind) {
    requestedKind.store(kind, std::memory_order_relaxed);
}

std::int64_t ProcessingChain::lookaheadSamples() const {
    const auto compressorDelay = compressor_.lookaheadSamples();
    return kind() == ChainKind::night
               ? compressorDelay + SpeechLeveller::lookaheadSamples + limiter.lookaheadSamples()
               : compressorDelay;
}

void ProcessingChain::processInterleaved(float* buffer, std::int64_t frameCount,
                                         std::int64_t channelCount) noexcept {
    process(buffer, frameCount, std::max<std::int64_t>(channelCount, 1),
            ChannelLayout::conventional(static_cast<int>(
                std::min<std::int64_t>(channelCount, ChannelLayout::maxChannels))));
}

void ProcessingChain::processInterleaved(float* buffer, std::int64_t frameCount,
                                         const ChannelLayout& layout) noexcept {
    process(buffer, frameCount, layout.count, layout);
}

void ProcessingChain::processMono(float* buffer, std::int64_t frameCount) noexcept {
    process(buffer, frameCount, 1, ChannelLayout::mono());
}

void ProcessingChain::process(float* buffer, std::int64_t frameCount, std::int64_t stride,
                              const ChannelLayout& layout) noexcept {
    const auto requested = requestedKind.load(std::memory_order_relaxed);
    if (requested != activeKind) {
        fadingOut = true;
    }
    const int channels = std::clamp(layout.count, 1, ChannelLayout::maxChannels);
    if (activeKind == ChainKind::standard) {
        compressor_.processInterleaved(buffer, frameCount, stride, layout);
    } else {
        const float bypass = compressor_.bypassed() ? 1.0f : 0.0f;
        leveller.process(buffer, frameCount, stride, layout, bypass);
        compressor_.processInterleaved(buffer, frameCount, stride, layout);
        limiter.process(buffer, frameCount, stride, channels, bypass);
    }
    if (fadingOut || switchGain < 1.0f) {
        fade(buffer, frameCount, stride, channels);
    }
}

// Out to silence, switch the chain, back in: the new chain's delay differs,
// so splicing the two without the fade would click. A longer chain first
// plays the silence its fresh delay line holds; the fade in waits for it.
void ProcessingChain::fade(float* buffer, std::int64_t frameCount, std::int64_t stride,
                           int channels) noexcept {
    for (std::int64_t i = 0; i < frameCount; ++i) {
        if (fadingOut) {
            switchGain = std::max(0.0f, switchGain - switchStep);
        } else if (silentFrames > 0) {
            --silentFrames;
        } else {
            switchGain = std::min(1.0f, switchGain + switchStep);
        }
        for (int c = 0; c < channels; ++c) {
            buffer[i * stride + c] *= switchGain;
        }
    }
    if (fadingOut && switchGain == 0.0f) {
        activeKind = requestedKind.load(std::memory_order_relaxed);
        fadingOut = false;
        silentFrames = activeKind == ChainKind::night ? limiter.lookaheadSamples() : 0;
        const float bypass = compressor_.bypassed() ? 1.0f : 0.0f;
        leveller.reset(bypass);
        limiter.reset(bypass);
    }
}

void ProcessingChain::reset() noexcept {
    compressor_.reset();
    const float bypass = compressor_.bypassed() ? 1.0f : 0.0f;
    leveller.reset(bypass);
    limiter.reset(bypass);
    activeKind = requestedKind.load(std::memory_order_relaxed);
    fadingOut = false;
    silentFrames = 0;
    switchGain = 1.0f;
}

void ProcessingChain::prepareForResume() noexcept {
    compressor_.prepareForResume();
    limiter.reset(compressor_.bypassed() ? 1.0f : 0.0f);
}

} // namespace quellora
