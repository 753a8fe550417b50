// CPU dispatch of the vector kernels: which instruction sets the kernels were
// built for on this target, and which of them this processor runs. The one
// place that uses the compiler's processor checks.
#pragma once

// Kernels for AVX2 and AVX-512 exist on x86-64 with GCC or Clang, outside
// Windows (whose 32-bit build keeps the portable kernels only).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define TOLVEX_KERNELS_X86 1
#else
#define TOLVEX_KERNELS_X86 0
#endif

namespace tolvex::kernels {

enum class Isa { Portable, Avx2, Avx512 };

// The widest instruction set this processor runs and the kernels were built for.
inline Isa detectIsa() {
#if TOLVEX_KERNELS_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
        return Isa::Avx512;
    if (__builtin_cpu_supports("avx2"))
        return Isa::Avx2;
#endif
    return Isa::Portable;
}

} // namespace tolvex::kernels
