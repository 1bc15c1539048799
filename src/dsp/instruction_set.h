#pragma once

namespace quellora {

// Which compiled form of a processing kernel runs: every kernel is built
// once for the portable baseline and once for AVX2 with fused multiply-add,
// and the best the processor supports is picked at run time. Both give the
// same results within float rounding.
enum class InstructionSet { portable, avx2 };

InstructionSet bestInstructionSet();

} // namespace quellora

// Marks a function compiled for AVX2 and FMA on x86-64; the kernels it
// inlines are compiled for that target with it.
#if defined(__x86_64__)
#define QUELLORA_HAS_AVX2_KERNELS 1
#define QUELLORA_TARGET_AVX2 __attribute__((target("avx2,fma")))
#else
#define QUELLORA_HAS_AVX2_KERNELS 0
#define QUELLORA_TARGET_AVX2
#endif
