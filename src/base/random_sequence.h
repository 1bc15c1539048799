#pragma once

#include <cstdint>

namespace quellora {

// A seeded 32-bit xorshift sequence: the same numbers on every machine and in
// every build, for generated test and demonstration audio. Not for anything
// that has to be unpredictable.
class RandomSequence {
public:
    // A seed of 0 would stay 0 for ever; it starts from 1 instead.
    explicit RandomSequence(std::uint32_t seed)
        : state(seed ? seed : 1u) {}

    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 8) / 16777216.0; }
    // Uniform in [-1, 1).
    double bipolar() { return 2.0 * unit() - 1.0; }
    double between(double low, double high) { return low + (high - low) * unit(); }

private:
    std::uint32_t state;
};

} // namespace quellora
