#include "dsp/processing_chain.h"

#include "dsp/gain_computer.h"
#include "dsp/param_range.h"
#include "dsp/vector_math.h"

#include <algorithm>
#include <cmath>

namespace quellora {
namespace {

constexpr float switchFadeSeconds = 0.005f;
// The makeup the leveller adds for the stages after it follows their effect
// on the loudness over about this long, and never exceeds this.
constexpr float downstreamSeconds = 3.0f;
constexpr float maxDownstreamDb = 24.0f;
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
        downstreamCoeff = 1.0f / std::max(1.0f, rate * downstreamSeconds);
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

namespace {

using F = vector_math::Vector<4>::Float;

// Calls `lanes` with the samples of the first `channels` of each frame, four
// at a time where the frames are packed, and `single` with the rest.
template <typename Lanes, typename Single>
void forEachSample(const float* buffer, std::int64_t frameCount, std::int64_t stride, int channels,
                   Lanes&& lanes, Single&& single) {
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

float energyOf(const float* buffer, std::int64_t frameCount, std::int64_t stride, int channels) {
    F sums{};
    float rest = 0.0f;
    forEachSample(
        buffer, frameCount, stride, channels, [&](F x) { sums += x * x; },
        [&](float x) { rest += x * x; });
    const float sum = sums[0] + sums[1] + sums[2] + sums[3] + rest;
    return std::isfinite(sum) ? sum : 0.0f;
}

float peakOf(const float* buffer, std::int64_t frameCount, std::int64_t stride, int channels) {
    F peaks{};
    float rest = 0.0f;
    forEachSample(
        buffer, frameCount, stride, channels,
        [&](F x) { peaks = vector_math::maximum(peaks, vector_math::absolute(x)); },
        [&](float x) { rest = std::max(rest, std::fabs(x)); });
    return std::max(rest, vector_math::horizontalMaximum(peaks));
}

} // namespace

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
    // What the compressor takes away or adds, the leveller makes up for; the
    // leveller may lift that much beyond its own range.
    leveller_.process(
        buffer, frameCount, stride, layout,
        ProgrammeLeveller::Aim::uniform(aimLufs - downstreamDb,
                                        maxProgrammeBoostDb + std::max(0.0f, -downstreamDb)),
        bypass);
    const float levelled = energyOf(buffer, frameCount, stride, channels);
    compressor_.processInterleaved(buffer, frameCount, stride, layout);
    const float compressed = energyOf(buffer, frameCount, stride, channels);
    limiter.process(buffer, frameCount, stride, channels, bypass);
    // Energy-weighted, as loudness is, and only while the leveller follows a
    // programme it knows: at a programme's start its gain is still on the
    // way, and the compressor's answer to that says nothing about later.
    if (leveller_.followsProgramme()) {
        const float weight = std::min(1.0f, downstreamCoeff * static_cast<float>(frameCount));
        downstreamIn += (levelled - downstreamIn) * weight;
        downstreamOut += (compressed - downstreamOut) * weight;
        if (downstreamIn > 0.0f && downstreamOut > 0.0f) {
            downstreamDb = std::clamp(10.0f * std::log10(downstreamOut / downstreamIn),
                                      -maxDownstreamDb, maxDownstreamDb);
        }
    }
}

void ProcessingChain::noteSourcePeak(const float* buffer, std::int64_t frameCount,
                                     std::int64_t stride, int channels) noexcept {
    const float peak = peakOf(buffer, frameCount, stride, channels);
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
        limiter.reset(bypass);
        downstreamDb = 0.0f;
        downstreamIn = 0.0f;
        downstreamOut = 0.0f;
    }
}

void ProcessingChain::reset() noexcept {
    compressor_.reset();
    const float bypass = compressor_.bypassed() ? 1.0f : 0.0f;
    leveller_.reset(bypass);
    limiter.reset(bypass);
    sourceLevels_.clear();
    activeShape = requestedShape();
    fadingOut = false;
    silentFrames = 0;
    switchGain = 1.0f;
    downstreamDb = 0.0f;
    downstreamIn = 0.0f;
    downstreamOut = 0.0f;
}

void ProcessingChain::prepareForResume() noexcept {
    compressor_.prepareForResume();
    limiter.reset(compressor_.bypassed() ? 1.0f : 0.0f);
}

} // namespace quellora
