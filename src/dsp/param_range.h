#pragma once

#include <algorithm>

namespace quellora {

template <typename T>
struct ClosedRange {
    T lowerBound;
    T upperBound;

    constexpr bool contains(T value) const { return lowerBound <= value && value <= upperBound; }
};

// The larger of the value and the lower bound, limited from above by the upper bound.
template <typename T>
constexpr T clamped(T value, const ClosedRange<T>& range) {
    return std::min(std::max(value, range.lowerBound), range.upperBound);
}

// Permitted values of the seven parameters, both bounds inclusive. Stored
// values are clamped to them and the sliders take their bounds from them.
namespace ParamRange {
inline constexpr ClosedRange<float> threshold{-50.0f, 0.0f};
inline constexpr ClosedRange<float> ratio{1.0f, 8.0f};
inline constexpr ClosedRange<float> attack{1.0f, 80.0f};
inline constexpr ClosedRange<float> release{150.0f, 2000.0f};
inline constexpr ClosedRange<float> knee{0.0f, 24.0f};
inline constexpr ClosedRange<float> mix{0.0f, 1.0f};
inline constexpr ClosedRange<float> scHpf{20.0f, 500.0f};
// The loudness, LUFS, that "Even out programmes" brings every programme to.
inline constexpr ClosedRange<float> programmeTarget{-24.0f, -14.0f};
inline constexpr float defaultProgrammeTargetLufs = -18.0f;
} // namespace ParamRange

} // namespace quellora
