#pragma once

namespace quellora {

// Meter values of one processed IO buffer, in dB.
struct LevelSample {
    float inputPeak = -80.0f;   // dBFS of the compressor's input
    float outputPeak = -80.0f;  // dBFS of its output
    float gainReduction = 0.0f; // net gain below unity, 0 or negative

    friend bool operator==(const LevelSample&, const LevelSample&) = default;
};

} // namespace quellora
