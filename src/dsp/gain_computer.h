#pragma once

namespace quellora {

// The static soft-knee curve of the compressor: gain reduction in dB (0 or
// negative) for an input level in dB. One implementation for the processor's
// detector, its makeup computation and the curve drawn in the panel, so that
// the picture cannot drift from what is heard.
//
// `Level` is a float or a vector of floats (GCC vector extensions), which is
// how the processor evaluates a whole block at once.
struct GainComputer {
    float thresholdDb = 0.0f; // centre of the knee
    float ratio = 1.0f;
    float kneeWidthDb = 10.0f; // full width

    template <typename Level>
    Level gainReductionDb(Level level) const {
        const float kneeStart = thresholdDb - kneeWidthDb / 2.0f;
        const float kneeEnd = thresholdDb + kneeWidthDb / 2.0f;
        const float slope = 1.0f / ratio - 1.0f;
        const Level d = level - kneeStart;
        const Level above = slope * (level - thresholdDb);
        const Level inKnee = d * (slope * d) / (kneeWidthDb + kneeWidthDb);
        // With a knee width of 0 the knee branch is never taken (its value
        // would divide by zero but is not selected).
        const Level upper = kneeEnd <= level ? above : inKnee;
        return level <= kneeStart ? Level{} : upper;
    }

    // The level the standard makeup is computed at.
    static constexpr float makeupReferenceDb = -27.0f;

    // Makeup gain in dB: the reduction at the reference level, as a positive number.
    float makeupDb() const;
};

} // namespace quellora

namespace quellora {

struct CompressorParams;

// The steady-state output level, in dB, of a steady input level: the
// compressor's own curve, makeup and dry/wet mix, as the panel draws it.
float steadyStateOutputDb(const CompressorParams& params, float inputDb);

} // namespace quellora
