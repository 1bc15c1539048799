#pragma once

// The compressor's processing, written once as inline templates over the
// vector width so that it can be compiled for several instruction sets and
// picked at run time. Internal to the dsp library.

#include "dsp/channel_layout.h"
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
inline constexpr int maxChannels = ChannelLayout::maxChannels;
// Frames per pass over the scratch arrays: small enough for the first-level
// cache, large enough that the per-pass set-up does not matter.
inline constexpr int chunkFrames = 256;
// Padding lets whole vectors run past a short tail.
inline constexpr int paddedChunkFrames = chunkFrames + 8;

inline constexpr float dbPerNeper = 8.685889f;    // 20 / ln(10)
inline constexpr float nepersPerDb = 0.11512925f; // ln(10) / 20
inline constexpr float detectorFloor = 1e-10f;    // -200 dB
inline constexpr float denormalFloor = 1e-20f;

// Everything derived from the parameters, taken as one set per buffer.
struct Coefficients {
    bool fromParams = false; // false until the first parameters arrive
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
    using DelayLine = std::array<float, maxLookaheadSamples + paddedChunkFrames>;

    std::array<BiquadState, maxChannels> hpfStates{}; // sidechain filter per channel
    float smoothedGainDb = 0.0f;
    float heldGainDb = 0.0f;
    std::int64_t holdCounter = 0;
    // The lookahead the delay lines hold, and whether the makeup and mix
    // smoothers have been set to their first parameters.
    std::int64_t appliedLookaheadSamples = 240;
    bool smoothersPrimed = false;
    float finalGainDb = 0.0f;
    float smoothedMakeupDb = 0.0f;
    float smoothedMix = 1.0f;
    float bypassRamp = 0.0f;
    // Lookahead delay lines, one per channel, kept linear: the first
    // `lookaheadSamples` entries hold the most recent input, oldest first; a
    // chunk's sanitised input is appended behind them, so frame i of the
    // chunk is delayed by reading entry i. After the chunk the newest
    // `lookaheadSamples` entries move back to the front.
    std::array<DelayLine, maxChannels> delayLines{};
};

struct Scratch {
    using Block = std::array<float, paddedChunkFrames>;

    alignas(32) std::array<Block, maxChannels> outputs{};
    alignas(32) Block detector{}; // peak, then gain reduction
    alignas(32) Block gainDb{};   // final gain plus makeup
    alignas(32) Block mix{};
    alignas(32) Block bypass{};
    alignas(32) Block gain{}; // the total gain: makeup, mix and bypass applied
};

// Where the caller's samples are: frame i of channel c at
// samples[c][i * stride]. The channels in `detected` (bit c for channel c)
// drive the detector and the meters; every channel gets the same gain.
struct Channels {
    std::array<float*, maxChannels> samples{};
    int count = 0;
    std::int64_t stride = 1;
    std::uint32_t detected = 0;

    // Interleaved stereo with both channels detected: the usual case, with
    // vector paths of its own.
    bool interleavedStereo() const {
        return count == 2 && stride == 2 && samples[1] == samples[0] + 1 && detected == 3u;
    }
    bool isDetected(int channel) const { return ((detected >> channel) & 1u) != 0; }
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
// returns the input peak, raised by the detected channels'.
template <int Lanes>
QUELLORA_KERNEL_INLINE float gatherInput(const Channels& channels, std::int64_t offset, int frames,
                                         std::int64_t lookahead, SignalState& state,
                                         float inputPeak) {
    using V = vector_math::Vector<Lanes>;
    using F = typename V::Float;
    namespace vm = vector_math;
    if (channels.interleavedStereo()) {
        const float* source = channels.samples[0] + offset * 2;
        float* __restrict lineL = state.delayLines[0].data() + lookahead;
        float* __restrict lineR = state.delayLines[1].data() + lookahead;
        F peak = F{};
        int i = 0;
        for (; i + Lanes <= frames; i += Lanes) {
            const F a = vm::load<F>(source + 2 * i);
            const F b = vm::load<F>(source + 2 * i + Lanes);
            const F l = finiteOrZero<Lanes>(V::evenLanes(a, b));
            const F r = finiteOrZero<Lanes>(V::oddLanes(a, b));
            vm::store(lineL + i, l);
            vm::store(lineR + i, r);
            peak = vm::maximum(peak, vm::maximum(vm::absolute(l), vm::absolute(r)));
        }
        inputPeak = std::max(inputPeak, vm::horizontalMaximum(peak));
        for (; i < frames; ++i) {
            const float l = finiteOrZero(source[2 * i]);
            const float r = finiteOrZero(source[2 * i + 1]);
            lineL[i] = l;
            lineR[i] = r;
            inputPeak = std::max(inputPeak, std::max(std::fabs(l), std::fabs(r)));
        }
        return inputPeak;
    }
    const auto stride = channels.stride;
    for (int c = 0; c < channels.count; ++c) {
        const auto index = static_cast<std::size_t>(c);
        const float* source = channels.samples[index] + offset * stride;
        float* __restrict line = state.delayLines[index].data() + lookahead;
        F vectorPeak = F{};
        int i = 0;
        if (stride == 1) {
            for (; i + Lanes <= frames; i += Lanes) {
                const F x = finiteOrZero<Lanes>(vm::load<F>(source + i));
                vm::store(line + i, x);
                vectorPeak = vm::maximum(vectorPeak, vm::absolute(x));
            }
        }
        float peak = vm::horizontalMaximum(vectorPeak);
        for (; i < frames; ++i) {
            const float x = finiteOrZero(source[i * stride]);
            line[i] = x;
            peak = std::max(peak, std::fabs(x));
        }
        if (channels.isDetected(c)) {
            inputPeak = std::max(inputPeak, peak);
        }
    }
    return inputPeak;
}

template <int Lanes>
QUELLORA_KERNEL_INLINE void scatterOutput(const Channels& channels, std::int64_t offset, int frames,
                                          const Scratch& scratch) {
    using V = vector_math::Vector<Lanes>;
    using F = typename V::Float;
    namespace vm = vector_math;
    const auto stride = channels.stride;
    int i = 0;
    if (channels.interleavedStereo()) {
        float* destination = channels.samples[0] + offset * 2;
        const float* outL = scratch.outputs[0].data();
        const float* outR = scratch.outputs[1].data();
        for (; i + Lanes <= frames; i += Lanes) {
            const F l = vm::load<F>(outL + i);
            const F r = vm::load<F>(outR + i);
            vm::store(destination + 2 * i, V::interleavedLow(l, r));
            vm::store(destination + 2 * i + Lanes, V::interleavedHigh(l, r));
        }
    }
    for (int c = 0; c < channels.count; ++c) {
        const auto index = static_cast<std::size_t>(c);
        float* destination = channels.samples[index] + offset * stride;
        const float* output = scratch.outputs[index].data();
        for (int j = i; j < frames; ++j) {
            destination[j * stride] = output[j];
        }
    }
}

// After a chunk, the newest `lookahead` samples become the delay history.
QUELLORA_KERNEL_INLINE void advanceDelayLines(int frames, std::int64_t lookahead, int channels,
                                              SignalState& state) {
    const auto bytes = static_cast<std::size_t>(lookahead) * sizeof(float);
    for (int c = 0; c < channels; ++c) {
        auto& line = state.delayLines[static_cast<std::size_t>(c)];
        std::memmove(line.data(), line.data() + frames, bytes);
    }
}

// Samples near the float limit can overflow a filter; it starts afresh
// rather than carry NaN in its state for good.
QUELLORA_KERNEL_INLINE BiquadState settled(BiquadState s) {
    return std::isfinite(s.z1) && std::isfinite(s.z2) ? BiquadState{flushed(s.z1), flushed(s.z2)}
                                                      : BiquadState{};
}

// The sidechain high-pass (transposed direct form II) of the detected
// channels, all in one loop so that their serial recurrences overlap, and
// their largest magnitude, frame by frame: the linked detector's input.
// Denormal protection is applied once per chunk: a state decays far less
// than the 1e-20 margin over 256 frames.
template <int Count>
QUELLORA_KERNEL_INLINE void filterChannels(const Coefficients& c, int frames,
                                           const std::array<int, maxChannels>& detected,
                                           SignalState& state, Scratch& scratch) {
    const auto lookahead = c.lookaheadSamples;
    const float b0 = c.b0, b1 = c.b1, b2 = c.b2, a1 = c.a1, a2 = c.a2;
    std::array<BiquadState, Count> filters;
    std::array<const float*, Count> inputs;
    for (int k = 0; k < Count; ++k) {
        const auto channel = static_cast<std::size_t>(detected[static_cast<std::size_t>(k)]);
        filters[static_cast<std::size_t>(k)] = state.hpfStates[channel];
        inputs[static_cast<std::size_t>(k)] = state.delayLines[channel].data() + lookahead;
    }
    float* __restrict peak = scratch.detector.data();
    for (int i = 0; i < frames; ++i) {
        std::array<float, Count> y;
        for (std::size_t k = 0; k < Count; ++k) {
            auto& f = filters[k];
            const float x = inputs[k][i];
            y[k] = x * b0 + f.z1;
            f.z1 = (f.z2 + x * b1) - y[k] * a1;
            f.z2 = x * b2 - y[k] * a2;
        }
        float p = std::fabs(y[0]);
        for (std::size_t k = 1; k < Count; ++k) {
            p = std::max(p, std::fabs(y[k]));
        }
        peak[i] = p;
    }
    for (int k = 0; k < Count; ++k) {
        const auto channel = static_cast<std::size_t>(detected[static_cast<std::size_t>(k)]);
        state.hpfStates[channel] = settled(filters[static_cast<std::size_t>(k)]);
    }
}

QUELLORA_KERNEL_INLINE void filterSidechain(const Coefficients& c, int frames,
                                            const Channels& channels, SignalState& state,
                                            Scratch& scratch) {
    std::array<int, maxChannels> detected{};
    int count = 0;
    for (int channel = 0; channel < channels.count; ++channel) {
        if (channels.isDetected(channel)) {
            detected[static_cast<std::size_t>(count++)] = channel;
        }
    }
    switch (count) {
    case 1:
        return filterChannels<1>(c, frames, detected, state, scratch);
    case 2:
        return filterChannels<2>(c, frames, detected, state, scratch);
    case 3:
        return filterChannels<3>(c, frames, detected, state, scratch);
    case 4:
        return filterChannels<4>(c, frames, detected, state, scratch);
    case 5:
        return filterChannels<5>(c, frames, detected, state, scratch);
    case 6:
        return filterChannels<6>(c, frames, detected, state, scratch);
    case 7:
        return filterChannels<7>(c, frames, detected, state, scratch);
    case 8:
        return filterChannels<8>(c, frames, detected, state, scratch);
    default:
        std::fill_n(scratch.detector.data(), frames, 0.0f);
    }
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

// The total gain of every frame: makeup, mix and bypass around the smoothed
// gain, with its minimum for the meter. Lanes past a short tail are masked
// out of the meter.
template <int Lanes>
QUELLORA_KERNEL_INLINE void computeTotalGain(int frames, Scratch& scratch, Meters& meters) {
    using V = vector_math::Vector<Lanes>;
    using F = typename V::Float;
    using I = typename V::Int;
    namespace vm = vector_math;
    const float* gainDb = scratch.gainDb.data();
    const float* mix = scratch.mix.data();
    const float* bypass = scratch.bypass.data();
    float* total = scratch.gain.data();
    const F one = vm::broadcast<F>(1.0f);
    F minimumGain = one;
    for (int i = 0; i < frames; i += Lanes) {
        const F lin = vm::exponential<Lanes>(vm::load<F>(gainDb + i) * nepersPerDb);
        const F m = vm::load<F>(mix + i);
        const F r = vm::load<F>(bypass + i);
        const F wetDry = (one - m) + lin * m;
        const F gain = r + (one - r) * wetDry;
        vm::store(total + i, gain);
        const I valid = V::laneIndex < (frames - i);
        minimumGain = vm::minimum(minimumGain, valid ? gain : one);
    }
    meters.minimumGain = std::min(meters.minimumGain, vm::horizontalMinimum(minimumGain));
}

// One channel's delayed signal times the total gain, hard-limited to
// -1...1, with its peak for the meter when the channel is detected.
template <int Lanes>
QUELLORA_KERNEL_INLINE void applyGain(int frames, const float* delayed, bool metered,
                                      Scratch& scratch, float* output, Meters& meters) {
    using V = vector_math::Vector<Lanes>;
    using F = typename V::Float;
    using I = typename V::Int;
    namespace vm = vector_math;
    const float* total = scratch.gain.data();
    const F one = vm::broadcast<F>(1.0f);
    const F minusOne = vm::broadcast<F>(-1.0f);
    const F zero = vm::broadcast<F>(0.0f);
    F outputPeak = zero;
    for (int i = 0; i < frames; i += Lanes) {
        const F scaled = vm::load<F>(delayed + i) * vm::load<F>(total + i);
        // A NaN would pass the comparisons of the clamp as -1, a full-scale
        // sample; it becomes silence instead.
        const F clamped = scaled == scaled ? vm::minimum(vm::maximum(scaled, minusOne), one) : zero;
        vm::store(output + i, clamped);
        const I valid = V::laneIndex < (frames - i);
        outputPeak = vm::maximum(outputPeak, valid ? vm::absolute(clamped) : zero);
    }
    if (metered) {
        meters.outputPeak = std::max(meters.outputPeak, vm::horizontalMaximum(outputPeak));
    }
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
        filterSidechain(c, frames, channels, state, scratch);
        computeGainReduction<Lanes>(c, frames, scratch);
        smoothGain(c, frames, state, scratch);
        computeTotalGain<Lanes>(frames, scratch, meters);
        for (int channel = 0; channel < channels.count; ++channel) {
            const auto index = static_cast<std::size_t>(channel);
            applyGain<Lanes>(frames, state.delayLines[index].data(), channels.isDetected(channel),
                             scratch, scratch.outputs[index].data(), meters);
        }
        scatterOutput<Lanes>(channels, done, frames, scratch);
        advanceDelayLines(frames, c.lookaheadSamples, channels.count, state);
        done += frames;
    }
    return meterSample(meters);
}

} // namespace quellora::compressor_kernel
