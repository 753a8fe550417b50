// The kernels built for AVX2.
#include "CpuDispatch.h"

#if TOLVEX_KERNELS_X86
#define TOLVEX_KERNEL_NS avx2
#define TOLVEX_NOISE_LANES 32
#include "KernelBodies.h"
#endif
