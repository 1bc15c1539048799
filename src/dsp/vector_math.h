#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace quellora::vector_math {

// Float and integer vectors of 4 or 8 lanes, in GCC's vector extensions:
// SSE, AVX or NEON as the target allows, no intrinsics. The helpers are
// always inlined so that a caller compiled for a wider target (AVX2) gets
// them in its own instruction set.
template <int Lanes>
struct Vector;

#define QUELLORA_VECTOR_INLINE inline __attribute__((always_inline))

// Each width also knows how to split interleaved stereo (l0 r0 l1 r1 ...) held
// in two vectors into a left and a right vector, and how to join them again.
template <>
struct Vector<4> {
    typedef float Float __attribute__((vector_size(16)));
    typedef std::int32_t Int __attribute__((vector_size(16)));
    static constexpr Int laneIndex{0, 1, 2, 3};

    static QUELLORA_VECTOR_INLINE Float evenLanes(Float a, Float b) {
        return __builtin_shufflevector(a, b, 0, 2, 4, 6);
    }
    static QUELLORA_VECTOR_INLINE Float oddLanes(Float a, Float b) {
        return __builtin_shufflevector(a, b, 1, 3, 5, 7);
    }
    static QUELLORA_VECTOR_INLINE Float interleavedLow(Float l, Float r) {
        return __builtin_shufflevector(l, r, 0, 4, 1, 5);
    }
    static QUELLORA_VECTOR_INLINE Float interleavedHigh(Float l, Float r) {
        return __builtin_shufflevector(l, r, 2, 6, 3, 7);
    }
};

template <>
struct Vector<8> {
    typedef float Float __attribute__((vector_size(32)));
    typedef std::int32_t Int __attribute__((vector_size(32)));
    static constexpr Int laneIndex{0, 1, 2, 3, 4, 5, 6, 7};

    static QUELLORA_VECTOR_INLINE Float evenLanes(Float a, Float b) {
        return __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14);
    }
    static QUELLORA_VECTOR_INLINE Float oddLanes(Float a, Float b) {
        return __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15);
    }
    static QUELLORA_VECTOR_INLINE Float interleavedLow(Float l, Float r) {
        return __builtin_shufflevector(l, r, 0, 8, 1, 9, 2, 10, 3, 11);
    }
    static QUELLORA_VECTOR_INLINE Float interleavedHigh(Float l, Float r) {
        return __builtin_shufflevector(l, r, 4, 12, 5, 13, 6, 14, 7, 15);
    }
};

template <typename V>
QUELLORA_VECTOR_INLINE V load(const float* source) {
    V value;
    std::memcpy(&value, source, sizeof value);
    return value;
}

template <typename V>
QUELLORA_VECTOR_INLINE void store(float* destination, V value) {
    std::memcpy(destination, &value, sizeof value);
}

template <typename V>
QUELLORA_VECTOR_INLINE V broadcast(float value) {
    return V{} + value;
}

template <typename V>
QUELLORA_VECTOR_INLINE V absolute(V value) {
    return value < 0.0f ? -value : value;
}

template <typename V>
QUELLORA_VECTOR_INLINE V maximum(V a, V b) {
    return a > b ? a : b;
}

template <typename V>
QUELLORA_VECTOR_INLINE V minimum(V a, V b) {
    return a < b ? a : b;
}

template <typename V>
QUELLORA_VECTOR_INLINE float horizontalMaximum(V value) {
    float result = value[0];
    for (unsigned lane = 1; lane < sizeof value / sizeof(float); ++lane) {
        result = value[lane] > result ? value[lane] : result;
    }
    return result;
}

template <typename V>
QUELLORA_VECTOR_INLINE float horizontalMinimum(V value) {
    float result = value[0];
    for (unsigned lane = 1; lane < sizeof value / sizeof(float); ++lane) {
        result = value[lane] < result ? value[lane] : result;
    }
    return result;
}

// Natural logarithm of positive, normal inputs, within a few units in the
// last place (Cephes' single-precision polynomial).
template <int Lanes>
QUELLORA_VECTOR_INLINE typename Vector<Lanes>::Float logarithm(typename Vector<Lanes>::Float x) {
    using F = typename Vector<Lanes>::Float;
    using I = typename Vector<Lanes>::Int;
    const I bits = std::bit_cast<I>(x);
    I exponent = (bits >> 23) - 126;
    F mantissa = std::bit_cast<F>((bits & 0x007fffff) | 0x3f000000); // [0.5, 1)
    const I small = mantissa < 0.707106781186547524f;
    exponent += small;                                          // true lanes hold -1
    mantissa = (small ? mantissa + mantissa : mantissa) - 1.0f; // now in [sqrt(1/2), sqrt(2)) - 1
    const F e = __builtin_convertvector(exponent, F);
    const F z = mantissa * mantissa;
    F y = broadcast<F>(7.0376836292e-2f);
    y = y * mantissa - 1.1514610310e-1f;
    y = y * mantissa + 1.1676998740e-1f;
    y = y * mantissa - 1.2420140846e-1f;
    y = y * mantissa + 1.4249322787e-1f;
    y = y * mantissa - 1.6668057665e-1f;
    y = y * mantissa + 2.0000714765e-1f;
    y = y * mantissa - 2.4999993993e-1f;
    y = y * mantissa + 3.3333331174e-1f;
    y = y * mantissa * z;
    y += e * -2.12194440e-4f;
    y += -0.5f * z;
    return mantissa + y + e * 0.693359375f;
}

// e^x within a few units in the last place; below -87.3 the result is the
// smallest normal float or less, above 88.3 it saturates (Cephes' polynomial).
template <int Lanes>
QUELLORA_VECTOR_INLINE typename Vector<Lanes>::Float exponential(typename Vector<Lanes>::Float x) {
    using F = typename Vector<Lanes>::Float;
    using I = typename Vector<Lanes>::Int;
    x = minimum(maximum(x, broadcast<F>(-87.3365447504f)), broadcast<F>(88.3762626647949f));
    F n = x * 1.44269504088896341f + 0.5f;
    const F truncated = __builtin_convertvector(__builtin_convertvector(n, I), F);
    n = truncated > n ? truncated - 1.0f : truncated; // floor
    x = x - n * 0.693359375f - n * -2.12194440e-4f;
    const F z = x * x;
    F y = broadcast<F>(1.9875691500e-4f);
    y = y * x + 1.3981999507e-3f;
    y = y * x + 8.3334519073e-3f;
    y = y * x + 4.1665795894e-2f;
    y = y * x + 1.6666665459e-1f;
    y = y * x + 5.0000001201e-1f;
    y = y * z + x + 1.0f;
    const I powerOfTwo = (__builtin_convertvector(n, I) + 127) << 23;
    return y * std::bit_cast<F>(powerOfTwo);
}

} // namespace quellora::vector_math
