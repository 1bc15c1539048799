#include "dsp/processing_chain.h"

#include "dsp/block_statistics.h"
#include "dsp/gain_computer.h"
#include "dsp/param_range.h"

#include <algorithm>
#include <cmath>

namespace quellora {
namespace {

constexpr float switchFadeSeconds = 0.005f;
// A user's target lifts quiet programmes further than Night lifts speech:
// a podcast mixed at -36 LUFS still reaches -14.
constexpr float maxProgrammeBoostDb = 22.0f;

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
        leveller_.prepare(rate);
        limiter.prepare(rate);
        switchStep = 1.0f / std::max(1.0f, rate * switchFadeSeconds);
        compensator.prepare(rate);
    }
}

void ProcessingChain::selectKind(ChainKind kind) {
    requestedKind.store(kind, std::memory_order_relaxed);
}

void ProcessingChain::setProgrammeTarget(std::optional<float> targetLufs) {
    programmeTarget_.store(targetLufs && !std::isnan(*targetLufs)
                               ? clamped(*targetLufs, ParamRange::programmeTarget)
                               : noTarget,
                           std::memory_order_relaxed);
}

std::optional<float> ProcessingChain::programmeTarget() const {
    const float target = programmeTarget_.load(std::memory_order_relaxed);
    return std::isnan(target) ? std::nullopt : std::optional<float>(target);
}

ProcessingChain::Shape ProcessingChain::requestedShape() const noexcept {
    if (requestedKind.load(std::memory_order_relaxed) == ChainKind::night) {
        return Shape::night;
    }
    return std::isnan(programmeTarget_.load(std::memory_order_relaxed)) ? Shape::compressorOnly
                                                                        : Shape::programmes;
}

std::int64_t ProcessingChain::lookaheadSamples() const {
    const auto compressorDelay = compressor_.lookaheadSamples();
    return levels(requestedShape())
               ? compressorDelay + ProgrammeLeveller::lookaheadSamples + limiter.lookaheadSamples()
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
    if (requestedShape() != activeShape) {
        fadingOut = true;
    }
    const int channels = std::clamp(layout.count, 1, ChannelLayout::maxChannels);
    noteSourcePeak(buffer, frameCount, stride, channels);
    if (activeShape == Shape::compressorOnly) {
        compressor_.processInterleaved(buffer, frameCount, stride, layout);
    } else {
        processLevelled(buffer, frameCount, stride, layout);
    }
    if (fadingOut || switchGain < 1.0f) {
        fade(buffer, frameCount, stride, channels);
    }
}

void ProcessingChain::processLevelled(float* buffer, std::int64_t frameCount, std::int64_t stride,
                                      const ChannelLayout& layout) noexcept {
    const int channels = std::clamp(layout.count, 1, ChannelLayout::maxChannels);
    const float bypass = compressor_.bypassed() ? 1.0f : 0.0f;
    if (activeShape == Shape::night) {
        leveller_.process(buffer, frameCount, stride, layout, ProgrammeLeveller::Aim::speechFirst(),
                          bypass);
        compressor_.processInterleaved(buffer, frameCount, stride, layout);
        limiter.process(buffer, frameCount, stride, channels, bypass);
        return;
    }
    const float target = programmeTarget_.load(std::memory_order_relaxed);
    const float aimLufs = std::isnan(target) ? ParamRange::defaultProgrammeTargetLufs : target;
    leveller_.process(buffer, frameCount, stride, layout,
                      ProgrammeLeveller::Aim::uniform(aimLufs, maxProgrammeBoostDb), bypass);
    compensator.noteInput(buffer, frameCount, stride, channels);
    compressor_.processInterleaved(buffer, frameCount, stride, layout);
    compensator.process(buffer, frameCount, stride, channels, leveller_.phase(), bypass);
    limiter.process(buffer, frameCount, stride, channels, bypass);
}

void ProcessingChain::noteSourcePeak(const float* buffer, std::int64_t frameCount,
                                     std::int64_t stride, int channels) noexcept {
    const float peak = block_statistics::peakOf(buffer, frameCount, stride, channels);
    const float db = peak > 1e-4f ? 20.0f * std::log10(peak) : -80.0f;
    sourceLevels_.push({db, db, 0.0f});
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
        activeShape = requestedShape();
        fadingOut = false;
        silentFrames = levels(activeShape) ? limiter.lookaheadSamples() : 0;
        const float bypass = compressor_.bypassed() ? 1.0f : 0.0f;
        leveller_.reset(bypass);
        compensator.reset(bypass);
        limiter.reset(bypass);
    }
}

void ProcessingChain::reset() noexcept {
    compressor_.reset();
    const float bypass = compressor_.bypassed() ? 1.0f : 0.0f;
    leveller_.reset(bypass);
    compensator.reset(bypass);
    limiter.reset(bypass);
    sourceLevels_.clear();
    activeShape = requestedShape();
    fadingOut = false;
    silentFrames = 0;
    switchGain = 1.0f;
}

void ProcessingChain::prepareForResume() noexcept {
    compressor_.prepareForResume();
    limiter.reset(compressor_.bypassed() ? 1.0f : 0.0f);
}

} // namespace quellora
