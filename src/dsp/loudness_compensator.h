#pragma once

#include "dsp/gain_ramp.h"
#include "dsp/programme_leveller.h"

#include <cstdint>

namespace quellora {

// After the compressor, when "Even out programmes" is on: undoes what the
// compressor did to the programme's loudness (its makeup, its reduction), as
// measured on the programme playing, so that the output lands where the
// leveller aimed whatever the compressor's settings. The leveller keeps
// aiming at the compressor's input, so every programme is compressed alike;
// this stage sits outside that loop and so never fights it.
//
// It follows the programme as the leveller sees it: measured afresh within
// about a second at a programme's start, averaged over seconds inside it,
// held through quiet stretches. In a pause it only ever lowers: what the
// compressor's makeup adds to room tone is taken back, and the pause is not
// lifted.
//
// Threads: as ProgrammeLeveller.
class LoudnessCompensator {
public:
    static constexpr float maxDb = 24.0f;

    void prepare(float sampleRate);
    void reset(float bypassPosition = 0.0f) noexcept;
    // The frames as they go into the stages to undo.
    void noteInput(const float* samples, std::int64_t frameCount, std::int64_t stride,
                   int channels) noexcept;
    // The same frames as they come out of those stages, in place, while the
    // leveller is in `phase`. `bypassTarget` as ProgrammeLeveller::process.
    void process(float* samples, std::int64_t frameCount, std::int64_t stride, int channels,
                 ProgrammeLeveller::Phase phase, float bypassTarget) noexcept;

    // The gain being applied, dB.
    float gainDb() const noexcept { return currentDb; }

private:
    // Energy-weighted averages of what went in and what came out.
    struct Averages {
        float in = 0.0f;
        float out = 0.0f;
        void follow(float inEnergy, float outEnergy, float weight) noexcept;
        // What makes `out` into `in`, dB; 0 while nothing has been heard.
        float undoingDb() const noexcept;
    };

    float framesPerSecond = 48000.0f;
    float inputEnergy = 0.0f; // of the frames noted last
    Averages programme;
    Averages pause;
    float currentDb = 0.0f;
    GainRamp ramp;
};

} // namespace quellora
