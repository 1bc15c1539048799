#include "dsp/true_peak_limiter.h"

#include "dsp/block_statistics.h"
#include "dsp/compressor_kernel.h"
#include "dsp/decibels.h"
#include "dsp/vector_math.h"

#include <algorithm>
#include <cmath>

namespace quellora {
namespace {

constexpr int history = LoudnessMeter::interpolatorHistory;
// Phase 0 of the interpolator is the input itself, this many frames back.
constexpr int interpolatorDelay = history / 2;
constexpr int ringFrames = 1024; // a power of two above the longest delay
constexpr std::int64_t ringMask = ringFrames - 1;
constexpr int paddedChunk = TruePeakLimiter::chunkFrames + 8;
constexpr int maxChannels = ChannelLayout::maxChannels;

using compressor_kernel::finiteOrZero;

} // namespace

struct TruePeakLimiter::Workspace {
    // Per channel: the last `history` inputs of the previous chunk, then this chunk.
    std::array<std::array<float, history + paddedChunk>, maxChannels> input{};
    // Per frame of the chunk: the largest oversampled magnitude around the
    // input `interpolatorDelay` frames back, over all channels.
    std::array<float, paddedChunk> peaks{};
    std::array<std::array<float, ringFrames>, maxChannels> delay{};
    // Sliding minimum of the required gain: a queue of (gain, frame) with
    // rising gains, as ring positions counted from the start.
    std::array<float, ringFrames> minimumGains{};
    std::array<std::int64_t, ringFrames> minimumFrames{};
    std::int64_t minimumHead = 0;
    std::int64_t minimumTail = 0;
    // Moving average of the smoothed gain over the window.
    std::array<float, maxWindowFrames> box{};
    double boxSum = 0.0;
    std::int64_t boxPosition = 0;
    float smoothedGain = 1.0f;
    // Frames since the smoothed gain was last below 1; from windowFrames on,
    // the whole moving average is 1.
    std::int64_t framesAtUnity = 0;
    float bypassRamp = 0.0f;
    std::int64_t frameIndex = 0;
};

namespace {

#define QUELLORA_LIMITER_INLINE inline __attribute__((always_inline))

template <int Lanes>
QUELLORA_LIMITER_INLINE void findPeaksWith(const LoudnessMeter::InterpolatorTaps& taps,
                                           TruePeakLimiter::Workspace& w, int channels,
                                           int frames) {
    using F = typename vector_math::Vector<Lanes>::Float;
    namespace vm = vector_math;
    float* peaks = w.peaks.data();
    std::fill(peaks, peaks + paddedChunk, 0.0f);
    for (int c = 0; c < channels; ++c) {
        const float* current = w.input[static_cast<std::size_t>(c)].data() + history;
        for (int i = 0; i < frames; i += Lanes) {
            F sums[LoudnessMeter::maxOversampling - 1] = {};
            for (int j = 0; j <= history; ++j) {
                const F x = vm::load<F>(current + i - j);
                for (int p = 1; p < LoudnessMeter::maxOversampling; ++p) {
                    sums[p - 1] +=
                        taps[static_cast<std::size_t>(p)][static_cast<std::size_t>(j)] * x;
                }
            }
            F peak = vm::maximum(vm::load<F>(peaks + i),
                                 vm::absolute(vm::load<F>(current + i - interpolatorDelay)));
            for (const F& sum : sums) {
                peak = vm::maximum(peak, vm::absolute(sum));
            }
            vm::store(peaks + i, peak);
        }
    }
}

void findPeaksPortable(const LoudnessMeter::InterpolatorTaps& taps, TruePeakLimiter::Workspace& w,
                       int channels, int frames) {
    findPeaksWith<4>(taps, w, channels, frames);
}

#if QUELLORA_HAS_AVX2_KERNELS
QUELLORA_TARGET_AVX2 void findPeaksAvx2(const LoudnessMeter::InterpolatorTaps& taps,
                                        TruePeakLimiter::Workspace& w, int channels, int frames) {
    findPeaksWith<8>(taps, w, channels, frames);
}
#endif

} // namespace

TruePeakLimiter::TruePeakLimiter(InstructionSet instructionSet)
    : findPeaks(findPeaksPortable)
    , workspace(std::make_unique<Workspace>()) {
#if QUELLORA_HAS_AVX2_KERNELS
    if (instructionSet == InstructionSet::avx2) {
        findPeaks = findPeaksAvx2;
    }
#else
    (void)instructionSet;
#endif
    prepare(48000.0f);
}

TruePeakLimiter::~TruePeakLimiter() = default;

void TruePeakLimiter::prepare(float sampleRate) {
    const float sr = sampleRate > 100.0f ? sampleRate : 100.0f;
    taps = LoudnessMeter::designFilters(sr).taps;
    // The most any interpolated value can exceed the largest sample by.
    interpolatorGain = 1.0f;
    for (const auto& phase : taps) {
        float sum = 0.0f;
        for (const float tap : phase) {
            sum += std::fabs(tap);
        }
        interpolatorGain = std::max(interpolatorGain, sum);
    }
    windowFrames =
        std::clamp<std::int64_t>(std::lround(sr * lookaheadMs / 1000.0f), 1, maxWindowFrames);
    // The peak estimate of frame n stands for the input around n - 6, give or
    // take one frame; the minimum looks two frames wider to cover that.
    delayFrames = windowFrames + interpolatorDelay;
    releaseCoeff = 1.0f - std::exp(-1.0f / (sr * releaseMs / 1000.0f));
    bypassStep = 1.0f / (sr * 0.01f);
    reset();
}

// In place: the chain resets the limiter on the audio thread when it
// switches to Night.
void TruePeakLimiter::reset(float bypassPosition) noexcept {
    auto& w = *workspace;
    for (auto& line : w.input) {
        line.fill(0.0f);
    }
    for (auto& line : w.delay) {
        line.fill(0.0f);
    }
    w.minimumHead = 0;
    w.minimumTail = 0;
    w.box.fill(1.0f);
    w.boxSum = static_cast<double>(windowFrames);
    w.boxPosition = 0;
    w.smoothedGain = 1.0f;
    w.framesAtUnity = windowFrames;
    w.bypassRamp = bypassPosition;
    w.frameIndex = 0;
}

void TruePeakLimiter::process(float* samples, std::int64_t frameCount, std::int64_t stride,
                              int channels, float bypassTarget) noexcept {
    auto& w = *workspace;
    const int used = std::clamp(channels, 1, maxChannels);
    const float ceiling = gainFromDecibels(ceilingDbtp);
    const float safety = gainFromDecibels(safetyDbfs);
    const std::int64_t window = windowFrames + 2;
    const float boxScale = 1.0f / static_cast<float>(windowFrames);
    for (std::int64_t done = 0; done < frameCount;) {
        const int frames = static_cast<int>(std::min<std::int64_t>(chunkFrames, frameCount - done));
        float* chunk = samples + done * stride;
        for (int c = 0; c < used; ++c) {
            float* current = w.input[static_cast<std::size_t>(c)].data() + history;
            for (int i = 0; i < frames; ++i) {
                current[i] = finiteOrZero(chunk[i * stride + c]);
            }
        }
        if (quietBelow(w, used, frames, ceiling / interpolatorGain)) {
            // No interpolated value can reach the ceiling: the samples
            // themselves stand in for the peaks.
            std::fill(w.peaks.begin(), w.peaks.end(), 0.0f);
        } else {
            findPeaks(taps, w, used, frames);
        }
        if (atRest(w, frames, ceiling)) {
            passDelayed(w, chunk, frames, stride, used, bypassTarget);
            done += frames;
            continue;
        }

        for (int i = 0; i < frames; ++i) {
            const float peak = w.peaks[static_cast<std::size_t>(i)];
            const float required = peak > ceiling ? ceiling / peak : 1.0f;
            const auto n = w.frameIndex;
            while (w.minimumTail > w.minimumHead &&
                   w.minimumGains[static_cast<std::size_t>((w.minimumTail - 1) & ringMask)] >=
                       required) {
                --w.minimumTail;
            }
            w.minimumGains[static_cast<std::size_t>(w.minimumTail & ringMask)] = required;
            w.minimumFrames[static_cast<std::size_t>(w.minimumTail & ringMask)] = n;
            ++w.minimumTail;
            if (w.minimumFrames[static_cast<std::size_t>(w.minimumHead & ringMask)] <= n - window) {
                ++w.minimumHead;
            }
            const float minimum =
                w.minimumGains[static_cast<std::size_t>(w.minimumHead & ringMask)];

            // Down at once, back up with the release: never above the minimum.
            w.smoothedGain = minimum < w.smoothedGain
                                 ? minimum
                                 : w.smoothedGain + (minimum - w.smoothedGain) * releaseCoeff;
            w.framesAtUnity = w.smoothedGain < 1.0f ? 0 : w.framesAtUnity + 1;
            auto& slot = w.box[static_cast<std::size_t>(w.boxPosition)];
            w.boxSum += static_cast<double>(w.smoothedGain) - static_cast<double>(slot);
            slot = w.smoothedGain;
            if (++w.boxPosition == windowFrames) {
                // Start the running sum afresh so rounding never accumulates.
                w.boxPosition = 0;
                w.boxSum = 0.0;
                for (std::int64_t k = 0; k < windowFrames; ++k) {
                    w.boxSum += static_cast<double>(w.box[static_cast<std::size_t>(k)]);
                }
            }
            const float limiting = static_cast<float>(w.boxSum) * boxScale;

            if (w.bypassRamp < bypassTarget) {
                w.bypassRamp = std::min(bypassTarget, w.bypassRamp + bypassStep);
            } else if (w.bypassRamp > bypassTarget) {
                w.bypassRamp = std::max(bypassTarget, w.bypassRamp - bypassStep);
            }
            const float gain = w.bypassRamp + (1.0f - w.bypassRamp) * limiting;
            const float bound = w.bypassRamp > 0.0f ? 1.0f : safety;

            const auto writeAt = static_cast<std::size_t>(n & ringMask);
            const auto readAt = static_cast<std::size_t>((n - delayFrames) & ringMask);
            for (int c = 0; c < used; ++c) {
                auto& line = w.delay[static_cast<std::size_t>(c)];
                const float delayed = line[readAt];
                line[writeAt] =
                    w.input[static_cast<std::size_t>(c)][static_cast<std::size_t>(history + i)];
                chunk[i * stride + c] = std::clamp(delayed * gain, -bound, bound);
            }
            ++w.frameIndex;
        }
        keepHistory(w, used, frames);
        done += frames;
    }
}

// Nothing in the window needs limiting and the gain has come all the way
// back: the chunk passes at unity, as most programme does.
bool TruePeakLimiter::atRest(const Workspace& w, int frames, float ceiling) const noexcept {
    if (w.framesAtUnity < windowFrames ||
        (w.minimumTail > w.minimumHead &&
         w.minimumGains[static_cast<std::size_t>(w.minimumHead & ringMask)] < 1.0f)) {
        return false;
    }
    return std::all_of(w.peaks.begin(), w.peaks.begin() + frames,
                       [ceiling](float peak) { return peak <= ceiling; });
}

// The at-rest path: the state advances as the frame-by-frame path would
// leave it with a gain of 1 throughout.
void TruePeakLimiter::passDelayed(Workspace& w, float* chunk, int frames, std::int64_t stride,
                                  int channels, float bypassTarget) const noexcept {
    // In runs that wrap neither the read nor the write position.
    for (int i = 0; i < frames;) {
        const auto writeAt = static_cast<int>((w.frameIndex + i) & ringMask);
        const auto readAt = static_cast<int>((w.frameIndex + i - delayFrames) & ringMask);
        const int run = std::min(frames - i, ringFrames - std::max(writeAt, readAt));
        for (int c = 0; c < channels; ++c) {
            auto& line = w.delay[static_cast<std::size_t>(c)];
            const float* input = w.input[static_cast<std::size_t>(c)].data() + history + i;
            float* output = chunk + i * stride + c;
            // At rest every sample is below the ceiling already.
            for (int k = 0; k < run; ++k) {
                output[k * stride] = line[static_cast<std::size_t>(readAt + k)];
                line[static_cast<std::size_t>(writeAt + k)] = input[k];
            }
        }
        i += run;
    }
    w.frameIndex += frames;
    // One entry of 1 stands for the window's minimum.
    w.minimumHead = 0;
    w.minimumTail = 1;
    w.minimumGains[0] = 1.0f;
    w.minimumFrames[0] = w.frameIndex - 1;
    w.boxPosition = (w.boxPosition + frames) % windowFrames;
    w.framesAtUnity += frames;
    const float travel = bypassStep * static_cast<float>(frames);
    w.bypassRamp = w.bypassRamp < bypassTarget ? std::min(bypassTarget, w.bypassRamp + travel)
                                               : std::max(bypassTarget, w.bypassRamp - travel);
    keepHistory(w, channels, frames);
}

bool TruePeakLimiter::quietBelow(const Workspace& w, int channels, int frames,
                                 float level) noexcept {
    for (int c = 0; c < channels; ++c) {
        // This chunk and the history its first interpolations reach back into.
        if (block_statistics::peakOf(w.input[static_cast<std::size_t>(c)].data(), history + frames,
                                     1, 1) > level) {
            return false;
        }
    }
    return true;
}

void TruePeakLimiter::keepHistory(Workspace& w, int channels, int frames) noexcept {
    for (int c = 0; c < channels; ++c) {
        auto& line = w.input[static_cast<std::size_t>(c)];
        std::copy_n(line.begin() + frames, history, line.begin());
    }
}

} // namespace quellora
