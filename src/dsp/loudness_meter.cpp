#include "dsp/loudness_meter.h"

#include "dsp/decibels.h"
#include "dsp/vector_math.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>
#include <stdexcept>

namespace quellora {
namespace {

constexpr double absoluteGateLufs = -70.0;
constexpr double integratedRelativeGateLu = -10.0;
constexpr double rangeRelativeGateLu = -20.0;
constexpr int stepsPerBlock = 4;      // 400 ms gating blocks
constexpr int stepsPerShortTerm = 30; // 3 s short-term blocks
constexpr int history = LoudnessMeter::interpolatorHistory;

double loudnessOf(double meanSquare) {
    return loudnessFromMeanSquare(meanSquare);
}
double meanSquareOf(double lufs) {
    return std::pow(10.0, (lufs + 0.691) / 10.0);
}

// Mean squares of the blocks of `length` steps ending at every step.
std::vector<double> blockMeanSquares(const std::vector<double>& steps, int length) {
    std::vector<double> blocks;
    double sum = 0.0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        sum += steps[i];
        if (i >= static_cast<std::size_t>(length)) {
            sum -= steps[i - static_cast<std::size_t>(length)];
        }
        if (i + 1 >= static_cast<std::size_t>(length)) {
            blocks.push_back(std::max(sum, 0.0) / length);
        }
    }
    return blocks;
}

// Blocks above the absolute gate and no more than `relativeGateLu` below the
// mean of those.
std::vector<double> gated(const std::vector<double>& blocks, double relativeGateLu) {
    const double absoluteGate = meanSquareOf(absoluteGateLufs);
    std::vector<double> loud;
    std::copy_if(blocks.begin(), blocks.end(), std::back_inserter(loud),
                 [&](double block) { return block > absoluteGate; });
    if (loud.empty()) {
        return loud;
    }
    const double mean =
        std::accumulate(loud.begin(), loud.end(), 0.0) / static_cast<double>(loud.size());
    const double relativeGate = mean * std::pow(10.0, relativeGateLu / 10.0);
    std::vector<double> passed;
    std::copy_if(loud.begin(), loud.end(), std::back_inserter(passed),
                 [&](double block) { return block >= relativeGate; });
    return passed;
}

double integratedLoudness(const std::vector<double>& steps) {
    const auto blocks = gated(blockMeanSquares(steps, stepsPerBlock), integratedRelativeGateLu);
    if (blocks.empty()) {
        return -std::numeric_limits<double>::infinity();
    }
    return loudnessOf(std::accumulate(blocks.begin(), blocks.end(), 0.0) /
                      static_cast<double>(blocks.size()));
}

double loudnessRange(const std::vector<double>& steps) {
    const auto blocks = gated(blockMeanSquares(steps, stepsPerShortTerm), rangeRelativeGateLu);
    if (blocks.empty()) {
        return 0.0;
    }
    std::vector<double> levels(blocks.size());
    std::transform(blocks.begin(), blocks.end(), levels.begin(), loudnessOf);
    std::sort(levels.begin(), levels.end());
    const auto percentile = [&](double fraction) {
        const auto rank = std::lround(fraction * static_cast<double>(levels.size() - 1));
        return levels[static_cast<std::size_t>(rank)];
    };
    return percentile(0.95) - percentile(0.10);
}

LoudnessMeter::InterpolatorTaps designInterpolator(int sampleRate) {
    // A Blackman-windowed sinc, `history` input samples wide per phase, each
    // phase normalised to unity gain at DC. Phase 0 passes the samples
    // themselves, so the sample peak is always included.
    const int factor = LoudnessMeter::oversamplingFactor(sampleRate);
    const int length = history * factor + 1;
    const double centre = (length - 1) / 2.0;
    LoudnessMeter::InterpolatorTaps taps{};
    for (int n = 0; n < length; ++n) {
        const double t = (n - centre) / factor;
        const double sinc =
            t == 0.0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
        const double x = 2.0 * std::numbers::pi * n / (length - 1);
        const double window = length == 1 ? 1.0 : 0.5 - 0.5 * std::cos(x);
        taps[static_cast<std::size_t>(n % factor)][static_cast<std::size_t>(n / factor)] =
            static_cast<float>(sinc * window);
    }
    for (int phase = 0; phase < factor; ++phase) {
        auto& phaseTaps = taps[static_cast<std::size_t>(phase)];
        const float sum = std::accumulate(phaseTaps.begin(), phaseTaps.end(), 0.0f);
        for (auto& tap : phaseTaps) {
            tap /= sum;
        }
    }
    return taps;
}

#define QUELLORA_METER_INLINE inline __attribute__((always_inline))

QUELLORA_METER_INLINE double kWeighted(const LoudnessMeter::Filters& f,
                                       LoudnessMeter::ChannelState& s, double x) {
    const auto stage = [](const LoudnessMeter::Biquad& b, LoudnessMeter::BiquadState& z,
                          double in) {
        const double out = b.b0 * in + z.z1;
        z.z1 = (b.b1 * in + z.z2) - b.a1 * out;
        z.z2 = b.b2 * in - b.a2 * out;
        return out;
    };
    return stage(f.highPass, s.highPass, stage(f.shelf, s.shelf, x));
}

// Output phase p at input i is the sum over j of taps[p][j] * x[i - j]. Each
// input vector is loaded once and feeds all four phases.
template <int Lanes>
QUELLORA_METER_INLINE float truePeak(const LoudnessMeter::InterpolatorTaps& taps,
                                     const float* current, int frames, float peak) {
    using F = typename vector_math::Vector<Lanes>::Float;
    namespace vm = vector_math;
    F peaks = vm::broadcast<F>(peak);
    int i = 0;
    for (; i + Lanes <= frames; i += Lanes) {
        F sums[LoudnessMeter::maxOversampling] = {};
        for (int j = 0; j <= history; ++j) {
            const F x = vm::load<F>(current + i - j);
            for (int p = 0; p < LoudnessMeter::maxOversampling; ++p) {
                sums[p] += taps[static_cast<std::size_t>(p)][static_cast<std::size_t>(j)] * x;
            }
        }
        for (const F& sum : sums) {
            peaks = vm::maximum(peaks, vm::absolute(sum));
        }
    }
    peak = vm::horizontalMaximum(peaks);
    for (; i < frames; ++i) {
        for (const auto& phase : taps) {
            float sum = 0.0f;
            for (int j = 0; j <= history; ++j) {
                sum += phase[static_cast<std::size_t>(j)] * current[i - j];
            }
            peak = std::max(peak, std::fabs(sum));
        }
    }
    return peak;
}

// One chunk of at most chunkFrames frames: returns the weighted sum of the
// squared K-weighted samples over all channels, and updates each channel's
// peak.
template <int Lanes>
QUELLORA_METER_INLINE double
meterChunk(const LoudnessMeter::Filters& filters,
           std::array<LoudnessMeter::ChannelState, LoudnessMeter::maxChannels>& states,
           const std::array<double, LoudnessMeter::maxChannels>& weights, int channels,
           const float* frames, int frameCount) {
    for (int c = 0; c < channels; ++c) {
        auto& state = states[static_cast<std::size_t>(c)];
        float* current = state.samples.data() + history;
        for (int i = 0; i < frameCount; ++i) {
            current[i] = frames[i * channels + c];
        }
        state.peak = truePeak<Lanes>(filters.taps, current, frameCount, state.peak);
        std::copy_n(current + frameCount - history, history, state.samples.data());
    }
    // Two channels' filters in one loop, so that their serial recurrences overlap.
    if (channels == 2) {
        auto& left = states[0];
        auto& right = states[1];
        double leftEnergy = 0.0;
        double rightEnergy = 0.0;
        for (int i = 0; i < frameCount; ++i) {
            const double l = kWeighted(filters, left, frames[i * 2]);
            const double r = kWeighted(filters, right, frames[i * 2 + 1]);
            leftEnergy += l * l;
            rightEnergy += r * r;
        }
        return weights[0] * leftEnergy + weights[1] * rightEnergy;
    }
    double energy = 0.0;
    for (int c = 0; c < channels; ++c) {
        const double weight = weights[static_cast<std::size_t>(c)];
        if (weight == 0.0) {
            continue;
        }
        auto& state = states[static_cast<std::size_t>(c)];
        double channelEnergy = 0.0;
        for (int i = 0; i < frameCount; ++i) {
            const double y = kWeighted(filters, state, frames[i * channels + c]);
            channelEnergy += y * y;
        }
        energy += weight * channelEnergy;
    }
    return energy;
}

double
meterChunkPortable(const LoudnessMeter::Filters& filters,
                   std::array<LoudnessMeter::ChannelState, LoudnessMeter::maxChannels>& states,
                   const std::array<double, LoudnessMeter::maxChannels>& weights, int channels,
                   const float* frames, int frameCount) {
    return meterChunk<4>(filters, states, weights, channels, frames, frameCount);
}

#if QUELLORA_HAS_AVX2_KERNELS
QUELLORA_TARGET_AVX2 double
meterChunkAvx2(const LoudnessMeter::Filters& filters,
               std::array<LoudnessMeter::ChannelState, LoudnessMeter::maxChannels>& states,
               const std::array<double, LoudnessMeter::maxChannels>& weights, int channels,
               const float* frames, int frameCount) {
    return meterChunk<8>(filters, states, weights, channels, frames, frameCount);
}
#endif

} // namespace

int LoudnessMeter::oversamplingFactor(int sampleRate) {
    return sampleRate <= 96000 ? 4 : sampleRate < 192000 ? 2 : 1;
}

LoudnessMeter::Filters LoudnessMeter::designFilters(double rate) {
    Filters result{};
    {
        // Stage 1: the head's acoustic effect, a high shelf of about +4 dB.
        const double f0 = shelfCornerHz;
        const double gainDb = 3.999843853973347;
        const double q = 0.7071752369554196;
        const double k = std::tan(std::numbers::pi * f0 / rate);
        const double vh = gainFromDecibels(gainDb);
        const double vb = std::pow(vh, 0.4996667741545416);
        const double a0 = 1.0 + k / q + k * k;
        result.shelf = {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0,
                        (vh - vb * k / q + k * k) / a0, 2.0 * (k * k - 1.0) / a0,
                        (1.0 - k / q + k * k) / a0};
    }
    {
        // Stage 2: the revised low-frequency B-curve, a high-pass near 38 Hz.
        const double f0 = 38.13547087602444;
        const double q = 0.5003270373238773;
        const double k = std::tan(std::numbers::pi * f0 / rate);
        const double a0 = 1.0 + k / q + k * k;
        result.highPass = {1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    }
    result.taps = designInterpolator(static_cast<int>(rate));
    return result;
}

LoudnessMeter::LoudnessMeter(int channelCount, int sampleRate, InstructionSet instructionSet)
    : LoudnessMeter(channelCount >= 1 && channelCount <= maxChannels
                        ? ChannelLayout::conventional(channelCount)
                        : ChannelLayout{channelCount, {}},
                    sampleRate, instructionSet) {}

LoudnessMeter::LoudnessMeter(const ChannelLayout& layout, int sampleRate,
                             InstructionSet instructionSet)
    : meterChunk(meterChunkPortable)
    , channels(layout.count)
    , measuresLoudness(measuresLoudnessAt(sampleRate))
    , stepFrames((sampleRate + 5) / 10) {
    if (channels < 1 || channels > maxChannels) {
        throw std::invalid_argument("loudness is measured for one to eight channels");
    }
    if (sampleRate < 100) {
        throw std::invalid_argument("sample rate too low to measure loudness");
    }
#if QUELLORA_HAS_AVX2_KERNELS
    if (instructionSet == InstructionSet::avx2) {
        meterChunk = meterChunkAvx2;
    }
#else
    (void)instructionSet;
#endif
    for (int c = 0; c < channels; ++c) {
        weights[static_cast<std::size_t>(c)] = layout.loudnessWeight(c);
    }
    filters = designFilters(sampleRate);
}

void LoudnessMeter::add(const float* frames, std::int64_t frameCount) {
    for (std::int64_t done = 0; done < frameCount;) {
        // Chunks end at step boundaries, so each step's energy is one sum.
        const auto run = static_cast<int>(
            std::min({frameCount - done, stepFrames - stepFramesDone, std::int64_t{chunkFrames}}));
        stepEnergy +=
            meterChunk(filters, channelStates, weights, channels, frames + done * channels, run);
        stepFramesDone += run;
        done += run;
        if (stepFramesDone == stepFrames) {
            stepMeanSquares_.push_back(stepEnergy / static_cast<double>(stepFrames));
            stepEnergy = 0.0;
            stepFramesDone = 0;
        }
    }
}

LoudnessMeasurement LoudnessMeter::measurement() const {
    LoudnessMeasurement result;
    // A sample that is no finite number spoils the weighting filters' state
    // for good; gating would then throw every block away and read silence.
    const bool finite = std::all_of(stepMeanSquares_.begin(), stepMeanSquares_.end(),
                                    [](double step) { return std::isfinite(step); });
    if (measuresLoudness && finite) {
        result.integratedLufs = integratedLoudness(stepMeanSquares_);
        result.rangeLu = loudnessRange(stepMeanSquares_);
    } else {
        result.integratedLufs = std::numeric_limits<double>::quiet_NaN();
        result.rangeLu = std::numeric_limits<double>::quiet_NaN();
    }
    float peak = 0.0f;
    for (int c = 0; c < channels; ++c) {
        peak = std::max(peak, channelStates[static_cast<std::size_t>(c)].peak);
    }
    result.truePeakDbtp = 20.0 * std::log10(static_cast<double>(peak));
    return result;
}

} // namespace quellora
