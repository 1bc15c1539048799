#pragma once

namespace quellora {

// The seven user parameters of the compressor.
struct CompressorParams {
    float threshold = -29.0f; // dBFS, centre of the knee
    float ratio = 2.5f;       // n:1
    float attackMs = 8.0f;    // smoother time constant while reduction grows
    float releaseMs = 600.0f; // smoother time constant while reduction shrinks
    float kneeWidth = 20.0f;  // dB, full width centred on the threshold
    float mix = 0.95f;        // 0 fully dry, 1 fully wet
    float scHpfFreq = 120.0f; // Hz, sidechain high-pass corner

    // The standard preset.
    static constexpr CompressorParams defaults() { return {}; }

    // IEEE comparison of all seven fields (so -0.0 equals 0.0).
    friend constexpr bool operator==(const CompressorParams&, const CompressorParams&) = default;
};

} // namespace quellora
