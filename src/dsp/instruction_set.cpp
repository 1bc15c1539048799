#include "dsp/instruction_set.h"

namespace quellora {

InstructionSet bestInstructionSet() {
#if QUELLORA_HAS_AVX2_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return InstructionSet::avx2;
    }
#endif
    return InstructionSet::portable;
}

} // namespace quellora
