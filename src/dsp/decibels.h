#pragma once

#include <cmath>
#include <concepts>

namespace quellora {

// The amplitude factor of a level change of `db` decibels.
template <std::floating_point T>
T gainFromDecibels(T db) {
    return std::pow(T(10), db / T(20));
}

// The loudness in LUFS of a K-weighted, channel-weighted mean square.
template <std::floating_point T>
T loudnessFromMeanSquare(T meanSquare) {
    return T(-0.691) + T(10) * std::log10(meanSquare);
}

} // namespace quellora
