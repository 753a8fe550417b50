// CPU dispatch of the vector kernels: which instruction sets the kernels were
// built for on this target, and which of them this processor runs. The one
// place that uses the compiler's processor checks.
#pragma once

// Kernels for AVX2 and AVX-512 exist on x86 (64 and 32 bits, Linux and
// Windows alike) with GCC or Clang; elsewhere the portable ones only.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define TOLVEX_KERNELS_X86 1
#include <cpuid.h>
#else
#define TOLVEX_KERNELS_X86 0
#endif

namespace tolvex::kernels {

enum class Isa { Portable, Avx2, Avx512 };

#if TOLVEX_KERNELS_X86
// The register state the operating system saves on a thread switch (XCR0):
// what it allows of the wider registers, whatever the processor has.
inline unsigned long long enabledRegisterState() {
    unsigned lo = 0;
    unsigned hi = 0;
    __asm__ __volatile__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<unsigned long long>(hi) << 32) | lo;
}
#endif

// The widest instruction set that this processor runs, the operating system
// supports and the kernels were built for: CPUID says what the processor has,
// XGETBV whether the system saves the 256-bit (AVX2) and the 512-bit and mask
// registers (AVX-512).
inline Isa detectIsa() {
#if TOLVEX_KERNELS_X86
    unsigned a = 0;
    unsigned b = 0;
    unsigned c = 0;
    unsigned d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return Isa::Portable;
    const bool osSaves = (c & (1u << 27)) != 0; // OSXSAVE: XGETBV may be used
    const bool avx = (c & (1u << 28)) != 0;
    if (!osSaves || !avx)
        return Isa::Portable;
    const unsigned long long state = enabledRegisterState();
    const bool ymm = (state & 0x6u) == 0x6u;   // SSE and AVX state
    const bool zmm = (state & 0xE6u) == 0xE6u; // and mask, upper ZMM, ZMM16-31
    if (!ymm || !__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return Isa::Portable;
    const bool avx2 = (b & (1u << 5)) != 0;
    const bool avx512 = (b & (1u << 16)) != 0 && (b & (1u << 17)) != 0 && // F, DQ
                        (b & (1u << 30)) != 0 && (b & (1u << 31)) != 0;   // BW, VL
    if (avx2 && avx512 && zmm)
        return Isa::Avx512;
    if (avx2)
        return Isa::Avx2;
#endif
    return Isa::Portable;
}

} // namespace tolvex::kernels
