#pragma once

// The compressor's processing, written once as inline templates over the
// vector width so that it can be compiled for several instruction sets and
// picked at run time. Internal to the dsp library.

#include "dsp/gain_computer.h"
#include "dsp/level_sample.h"
#include "dsp/vector_math.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quellora::compressor_kernel {

inline constexpr std::int64_t maxLookaheadSamples = 960;
// Frames per pass over the scratch arrays: small enough for the first-level
// cache, large enough that the per-pass set-up does not matter.
inline constexpr int chunkFrames = 256;
// Padding lets whole vectors run past a short tail.
inline constexpr int paddedChunkFrames = chunkFrames + 8;

inline constexpr float dbPerNeper = 8.685889f;    // 20 / ln(10)
inline constexpr float nepersPerDb = 0.11512925f; // ln(10) / 20
inline constexpr float detectorFloor = 1e-10f;    // -200 dB
inline constexpr float denormalFloor = 1e-20f;

// Everything derived from the parameters, read once per buffer.
struct Coefficients {
    GainComputer curve;
    float mix = 1.0f;
    float attackCoeff = 0.0f;
    float releaseCoeff = 0.0f;
    float secondaryCoeff = 0.0f;
    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;
    std::int64_t holdSamples = 960;
    float makeupDb = 0.0f;
    float bypassTarget = 0.0f;
    float bypassRampStep = 1.0f / 480.0f;
    std::int64_t lookaheadSamples = 240;
};

struct BiquadState {
    float z1 = 0.0f;
    float z2 = 0.0f;
};

// The signal history, owned by the processing thread.
struct SignalState {
    BiquadState hpfState_L;
    BiquadState hpfState_R;
    float smoothedGainDb = 0.0f;
    float heldGainDb = 0.0f;
    std::int64_t holdCounter = 0;
    float finalGainDb = 0.0f;
    float smoothedMakeupDb = 0.0f;
    float smoothedMix = 1.0f;
    float bypassRamp = 0.0f;
    // Lookahead delay lines, kept linear: the first `lookaheadSamples`
    // entries hold the most recent input, oldest first; a chunk's sanitised
    // input is appended behind them, so frame i of the chunk is delayed by
    // reading entry i. After the chunk the newest `lookaheadSamples` entries
    // move back to the front.
    std::array<float, maxLookaheadSamples + paddedChunkFrames> delayBuffer_L{};
    std::array<float, maxLookaheadSamples + paddedChunkFrames> delayBuffer_R{};
};

struct Scratch {
    alignas(32) std::array<float, paddedChunkFrames> outputL{};
    alignas(32) std::array<float, paddedChunkFrames> outputR{};
    alignas(32) std::array<float, paddedChunkFrames> detector{}; // peak, then gain reduction
    alignas(32) std::array<float, paddedChunkFrames> gainDb{};   // final gain plus makeup
    alignas(32) std::array<float, paddedChunkFrames> mix{};
    alignas(32) std::array<float, paddedChunkFrames> bypass{};
};

enum class Layout { interleaved, planar, mono };

// Where the caller's samples are: frame i of the left channel at
// left[i * stride], of the right at right[i * stride].
struct Channels {
    Layout layout;
    float* left;
    float* right;
    std::int64_t stride;
};

struct Meters {
    float inputPeak = 0.0f;
    float outputPeak = 0.0f;
    float minimumGain = 1.0f;
};

#define QUELLORA_KERNEL_INLINE inline __attribute__((always_inline))

QUELLORA_KERNEL_INLINE float flushed(float value) {
    return std::fabs(value) < denormalFloor ? 0.0f : value;
}

// Non-finite samples (NaN, infinities) become silence before anything sees them.
QUELLORA_KERNEL_INLINE float finiteOrZero(float sample) {
    return (std::bit_cast<std::uint32_t>(sample) & 0x7f800000u) == 0x7f800000u ? 0.0f : sample;
}

template <int Lanes>
QUELLORA_KERNEL_INLINE typename vector_math::Vector<Lanes>::Float
finiteOrZero(typename vector_math::Vector<Lanes>::Float samples) {
    using V = vector_math::Vector<Lanes>;
    const auto bits = std::bit_cast<typename V::Int>(samples);
    return (bits & 0x7f800000) == 0x7f800000 ? typename V::Float{} : samples;
}

// Copies the caller's frames, sanitised, behind the delay lines' history and
// returns the input peak including them.
template <int Lanes>
QUELLORA_KERNEL_INLINE float gatherInput(const Channels& channels, std::int64_t offset, int frames,
                                         std::int64_t lookahead, SignalState& state,
                                         float inputPeak) {
    using V = vector_math::Vector<Lanes>;
    using F = typename V::Float;
    namespace vm = vector_math;
    const float* left = channels.left + offset * channels.stride;
    const float* right = channels.right + offset * channels.stride;
    float* __restrict lineL = state.delayBuffer_L.data() + lookahead;
    float* __restrict lineR = state.delayBuffer_R.data() + lookahead;
    F peak = F{};
    int i = 0;
    if (channels.layout == Layout::interleaved && channels.stride == 2) {
        for (; i + Lanes <= frames; i += Lanes) {
            const F a = vm::load<F>(left + 2 * i);
            const F b = vm::load<F>(left + 2 * i + Lanes);
            const F l = finiteOrZero<Lanes>(V::evenLanes(a, b));
            const F r = finiteOrZero<Lanes>(V::oddLanes(a, b));
            vm::store(lineL + i, l);
            vm::store(lineR + i, r);
            peak = vm::maximum(peak, vm::maximum(vm::absolute(l), vm::absolute(r)));
        }
    } else if (channels.layout != Layout::interleaved) {
        for (; i + Lanes <= frames; i += Lanes) {
            const F l = finiteOrZero<Lanes>(vm::load<F>(left + i));
            const F r =
                channels.layout == Layout::mono ? l : finiteOrZero<Lanes>(vm::load<F>(right + i));
            vm::store(lineL + i, l);
            vm::store(lineR + i, r);
            peak = vm::maximum(peak, vm::maximum(vm::absolute(l), vm::absolute(r)));
        }
    }
    inputPeak = std::max(inputPeak, vm::horizontalMaximum(peak));
    const auto stride = channels.stride;
    for (; i < frames; ++i) {
        const float l = finiteOrZero(left[i * stride]);
        const float r = channels.layout == Layout::mono ? l : finiteOrZero(right[i * stride]);
        lineL[i] = l;
        lineR[i] = r;
        inputPeak = std::max(inputPeak, std::max(std::fabs(l), std::fabs(r)));
    }
    return inputPeak;
}

template <int Lanes>
QUELLORA_KERNEL_INLINE void scatterOutput(const Channels& channels, std::int64_t offset, int frames,
                                          const Scratch& scratch) {
    using V = vector_math::Vector<Lanes>;
    using F = typename V::Float;
    namespace vm = vector_math;
    float* left = channels.left + offset * channels.stride;
    float* right = channels.right + offset * channels.stride;
    const float* outL = scratch.outputL.data();
    const float* outR = scratch.outputR.data();
    int i = 0;
    if (channels.layout == Layout::interleaved && channels.stride == 2) {
        for (; i + Lanes <= frames; i += Lanes) {
            const F l = vm::load<F>(outL + i);
            const F r = vm::load<F>(outR + i);
            vm::store(left + 2 * i, V::interleavedLow(l, r));
            vm::store(left + 2 * i + Lanes, V::interleavedHigh(l, r));
        }
    }
    const auto stride = channels.stride;
    for (int j = i; j < frames; ++j) {
        left[j * stride] = outL[j];
    }
    if (channels.layout != Layout::mono) {
        for (int j = i; j < frames; ++j) {
            right[j * stride] = outR[j];
        }
    }
}

// After a chunk, the newest `lookahead` samples become the delay history.
QUELLORA_KERNEL_INLINE void advanceDelayLines(int frames, std::int64_t lookahead,
                                              SignalState& state) {
    const auto bytes = static_cast<std::size_t>(lookahead) * sizeof(float);
    std::memmove(state.delayBuffer_L.data(), state.delayBuffer_L.data() + frames, bytes);
    std::memmove(state.delayBuffer_R.data(), state.delayBuffer_R.data() + frames, bytes);
}

// Sidechain high-pass per channel (transposed direct form II) and the linked
// peak detector input. Denormal protection is applied once per chunk: a state
// decays far less than the 1e-20 margin over 256 frames.
QUELLORA_KERNEL_INLINE void filterSidechain(const Coefficients& c, int frames, SignalState& state,
                                            Scratch& scratch) {
    const auto lookahead = c.lookaheadSamples;
    const float b0 = c.b0, b1 = c.b1, b2 = c.b2, a1 = c.a1, a2 = c.a2;
    BiquadState left = state.hpfState_L;
    BiquadState right = state.hpfState_R;
    const float* __restrict inL = state.delayBuffer_L.data() + lookahead;
    const float* __restrict inR = state.delayBuffer_R.data() + lookahead;
    float* __restrict peak = scratch.detector.data();
    for (int i = 0; i < frames; ++i) {
        const float xl = inL[i];
        const float xr = inR[i];
        const float yl = xl * b0 + left.z1;
        const float yr = xr * b0 + right.z1;
        left.z1 = (left.z2 + xl * b1) - yl * a1;
        right.z1 = (right.z2 + xr * b1) - yr * a1;
        left.z2 = xl * b2 - yl * a2;
        right.z2 = xr * b2 - yr * a2;
        peak[i] = std::max(std::fabs(yl), std::fabs(yr));
    }
    // Samples near the float limit can overflow the filter; start it afresh
    // rather than carry NaN in its state for good.
    const auto settled = [](BiquadState s) {
        return std::isfinite(s.z1) && std::isfinite(s.z2)
                   ? BiquadState{flushed(s.z1), flushed(s.z2)}
                   : BiquadState{};
    };
    state.hpfState_L = settled(left);
    state.hpfState_R = settled(right);
}

// Detector level in dB and the static curve, a vector of frames at a time.
// The floor also maps a NaN peak (an overflowed filter) to silence.
template <int Lanes>
QUELLORA_KERNEL_INLINE void computeGainReduction(const Coefficients& c, int frames,
                                                 Scratch& scratch) {
    using F = typename vector_math::Vector<Lanes>::Float;
    const GainComputer curve = c.curve;
    const auto floor = vector_math::broadcast<F>(detectorFloor);
    float* detector = scratch.detector.data();
    for (int i = 0; i < frames; i += Lanes) {
        const F peak = vector_math::maximum(vector_math::load<F>(detector + i), floor);
        const F level = vector_math::logarithm<Lanes>(peak) * dbPerNeper;
        vector_math::store(detector + i, curve.gainReductionDb(level));
    }
}

// The serial part: bypass ramp, attack/release smoother, hold, the 2 ms
// final-gain, makeup and mix smoothers.
QUELLORA_KERNEL_INLINE void smoothGain(const Coefficients& c, int frames, SignalState& state,
                                       Scratch& scratch) {
    const float* __restrict reduction = scratch.detector.data();
    float* __restrict gainDb = scratch.gainDb.data();
    float* __restrict mix = scratch.mix.data();
    float* __restrict bypass = scratch.bypass.data();
    float smoothed = state.smoothedGainDb;
    float held = state.heldGainDb;
    auto counter = state.holdCounter;
    float finalGain = state.finalGainDb;
    float makeup = state.smoothedMakeupDb;
    float mixNow = state.smoothedMix;
    float ramp = state.bypassRamp;
    const float attack = c.attackCoeff, release = c.releaseCoeff, k2 = c.secondaryCoeff;
    const float target = c.bypassTarget, step = c.bypassRampStep;
    const float makeupTarget = c.makeupDb, mixTarget = c.mix;
    const auto holdSamples = c.holdSamples;

    for (int i = 0; i < frames; ++i) {
        if (ramp < target) {
            ramp = std::min(target, ramp + step);
        } else if (ramp > target) {
            ramp = std::max(target, ramp - step);
        }
        const float gr = reduction[i];
        const float k = gr < smoothed ? attack : release;
        smoothed = smoothed + (gr - smoothed) * k;
        float g;
        if (smoothed < held) {
            held = smoothed;
            counter = holdSamples;
            g = smoothed;
        } else if (counter > 0) {
            --counter;
            g = held;
        } else {
            held = smoothed;
            g = smoothed;
        }
        finalGain = finalGain + k2 * (g - finalGain);
        makeup = makeup + (makeupTarget - makeup) * k2;
        mixNow = mixNow + (mixTarget - mixNow) * k2;
        gainDb[i] = finalGain + makeup;
        mix[i] = mixNow;
        bypass[i] = ramp;
    }

    state.smoothedGainDb = flushed(smoothed);
    state.heldGainDb = held;
    state.holdCounter = counter;
    state.finalGainDb = flushed(finalGain);
    state.smoothedMakeupDb = makeup;
    state.smoothedMix = mixNow;
    state.bypassRamp = ramp;
}

// Makeup, mix and bypass applied to the delayed signal, hard-limited to
// -1...1, with the output meters. Lanes past a short tail are masked out of
// the meters.
template <int Lanes>
QUELLORA_KERNEL_INLINE void applyGain(int frames, bool rightIsOutput, const SignalState& state,
                                      Scratch& scratch, Meters& meters) {
    using V = vector_math::Vector<Lanes>;
    using F = typename V::Float;
    using I = typename V::Int;
    namespace vm = vector_math;
    const float* delayedL = state.delayBuffer_L.data();
    const float* delayedR = state.delayBuffer_R.data();
    float* outL = scratch.outputL.data();
    float* outR = scratch.outputR.data();
    const float* gainDb = scratch.gainDb.data();
    const float* mix = scratch.mix.data();
    const float* bypass = scratch.bypass.data();
    const F one = vm::broadcast<F>(1.0f);
    const F minusOne = vm::broadcast<F>(-1.0f);
    const F zero = vm::broadcast<F>(0.0f);
    const F rightWeight = vm::broadcast<F>(rightIsOutput ? 1.0f : 0.0f);
    F outputPeak = zero;
    F minimumGain = one;

    for (int i = 0; i < frames; i += Lanes) {
        const F lin = vm::exponential<Lanes>(vm::load<F>(gainDb + i) * nepersPerDb);
        const F m = vm::load<F>(mix + i);
        const F r = vm::load<F>(bypass + i);
        const F wetDry = (one - m) + lin * m;
        const F gain = r + (one - r) * wetDry;
        const F scaledL = vm::load<F>(delayedL + i) * gain;
        const F scaledR = vm::load<F>(delayedR + i) * gain;
        // A NaN would pass the comparisons of the clamp as -1, a full-scale
        // sample; it becomes silence instead.
        const F left = scaledL == scaledL ? vm::minimum(vm::maximum(scaledL, minusOne), one) : zero;
        const F right =
            scaledR == scaledR ? vm::minimum(vm::maximum(scaledR, minusOne), one) : zero;
        vm::store(outL + i, left);
        vm::store(outR + i, right);

        const I valid = V::laneIndex < (frames - i);
        const F absLeft = vm::absolute(left);
        const F absRight = vm::absolute(right) * rightWeight;
        outputPeak = vm::maximum(outputPeak, valid ? vm::maximum(absLeft, absRight) : zero);
        minimumGain = vm::minimum(minimumGain, valid ? gain : one);
    }
    meters.outputPeak = std::max(meters.outputPeak, vm::horizontalMaximum(outputPeak));
    meters.minimumGain = std::min(meters.minimumGain, vm::horizontalMinimum(minimumGain));
}

struct Workspace {
    SignalState state;
    Scratch scratch;
};

QUELLORA_KERNEL_INLINE LevelSample meterSample(const Meters& meters) {
    return {meters.inputPeak > 0.0f ? 20.0f * std::log10(meters.inputPeak) : -80.0f,
            meters.outputPeak > 0.0f ? 20.0f * std::log10(meters.outputPeak) : -80.0f,
            meters.minimumGain < 1.0f ? 20.0f * std::log10(meters.minimumGain) : 0.0f};
}

// One process call: the caller's frames in chunks through every stage, and
// the meter sample of the whole call.
template <int Lanes>
QUELLORA_KERNEL_INLINE LevelSample processBlock(const Coefficients& c, Workspace& workspace,
                                                const Channels& channels, std::int64_t frameCount) {
    auto& state = workspace.state;
    auto& scratch = workspace.scratch;
    Meters meters;
    for (std::int64_t done = 0; done < frameCount;) {
        const int frames = static_cast<int>(std::min<std::int64_t>(chunkFrames, frameCount - done));
        meters.inputPeak =
            gatherInput<Lanes>(channels, done, frames, c.lookaheadSamples, state, meters.inputPeak);
        filterSidechain(c, frames, state, scratch);
        computeGainReduction<Lanes>(c, frames, scratch);
        smoothGain(c, frames, state, scratch);
        applyGain<Lanes>(frames, channels.layout != Layout::mono, state, scratch, meters);
        scatterOutput<Lanes>(channels, done, frames, scratch);
        advanceDelayLines(frames, c.lookaheadSamples, state);
        done += frames;
    }
    return meterSample(meters);
}

} // namespace quellora::compressor_kernel
