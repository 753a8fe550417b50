// The kernels built for AVX-512 (F, DQ, VL, BW), 512-bit vectors.
#include "CpuDispatch.h"

#if TOLVEX_KERNELS_X86
#define TOLVEX_KERNEL_NS avx512
#define TOLVEX_NOISE_LANES 32
#include "KernelBodies.h"
#endif
