#pragma once

#include "dsp/channel_layout.h"
#include "dsp/instruction_set.h"

#include <array>
#include <cstdint>
#include <vector>

namespace quellora {

// Loudness of a whole programme after ITU-R BS.1770 and EBU R 128.
struct LoudnessMeasurement {
    // -inf when everything is gated away (silence); NaN, like the range,
    // when the rate is too low to weigh loudness at all or a sample is no
    // finite number.
    double integratedLufs = 0.0;
    double rangeLu = 0.0; // loudness range; 0 for less than 3 s above the gates
    double truePeakDbtp =
        0.0; // loudest channel; -inf for digital silence, +inf for an infinite sample
};

// Measures interleaved float frames of one to eight channels as they stream
// past: K-weighted energy per 100 ms step, each channel weighted by its
// position, 400 ms gated blocks for the integrated loudness, 3 s blocks for
// the loudness range, and the true peak from 4x oversampling (2x from
// 96 kHz, none from 192 kHz).
class LoudnessMeter {
public:
    static constexpr int maxChannels = ChannelLayout::maxChannels;
    static constexpr int interpolatorHistory = 12; // input samples each output looks back
    static constexpr int maxOversampling = 4;
    static constexpr int chunkFrames = 2048;
    // The loudness weighting lifts what lies above its shelf's corner; a rate
    // whose highest frequency lies below the corner has no such band, and
    // the filter designed for it is no weighting at all.
    static constexpr double shelfCornerHz = 1681.974450955533;
    static constexpr int minLoudnessRate = 3364;
    static_assert(minLoudnessRate > 2.0 * shelfCornerHz &&
                  minLoudnessRate - 1 < 2.0 * shelfCornerHz);
    static constexpr bool measuresLoudnessAt(int sampleRate) {
        return sampleRate >= minLoudnessRate;
    }

    // Channels in their conventional layout. Throws std::invalid_argument for
    // other channel counts or rates below 100 Hz.
    LoudnessMeter(int channels, int sampleRate,
                  InstructionSet instructionSet = bestInstructionSet());
    LoudnessMeter(const ChannelLayout& layout, int sampleRate,
                  InstructionSet instructionSet = bestInstructionSet());

    void add(const float* frames, std::int64_t frameCount);
    LoudnessMeasurement measurement() const;
    // Mean square of the K-weighted signal, summed over channels, of every
    // completed 100 ms step: the raw material of momentary (4 steps) and
    // short-term (30 steps) loudness.
    const std::vector<double>& stepMeanSquares() const { return stepMeanSquares_; }

    // The K-weighting stages (high shelf, then high-pass) and their state,
    // in double precision: the high-pass pole sits very close to 1, where
    // single precision would drown the low end in rounding.
    struct Biquad {
        double b0, b1, b2, a1, a2;
    };
    struct BiquadState {
        double z1 = 0.0, z2 = 0.0;
    };
    // Interpolator taps per output phase; unused phases and taps are 0.
    using InterpolatorTaps =
        std::array<std::array<float, interpolatorHistory + 1>, maxOversampling>;

    // Everything one chunk of audio updates.
    struct ChannelState {
        BiquadState shelf;
        BiquadState highPass;
        float peak = 0.0f;
        // The last samples of the previous chunk, then the current chunk.
        std::array<float, interpolatorHistory + chunkFrames> samples{};
    };
    struct Filters {
        Biquad shelf;
        Biquad highPass;
        InterpolatorTaps taps;
    };
    // The K-weighting stages and the true-peak interpolator at `sampleRate`;
    // shared with the processing stages that weigh loudness or true peaks.
    static Filters designFilters(double sampleRate);
    // 4x oversampling up to 96 kHz, 2x below 192 kHz, none from there.
    static int oversamplingFactor(int sampleRate);

private:
    using ChannelWeights = std::array<double, maxChannels>;
    using ChunkMeter = double (*)(const Filters&, std::array<ChannelState, maxChannels>&,
                                  const ChannelWeights&, int channels, const float* frames,
                                  int frameCount);

    ChunkMeter meterChunk;
    int channels;
    ChannelWeights weights{};
    bool measuresLoudness;
    std::int64_t stepFrames;
    Filters filters{};
    std::array<ChannelState, maxChannels> channelStates{};
    double stepEnergy = 0.0; // sum over channels of squared K-weighted samples
    std::int64_t stepFramesDone = 0;
    std::vector<double> stepMeanSquares_; // one per completed 100 ms step
};

} // namespace quellora
