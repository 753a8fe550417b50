// The kernels built for the target's baseline instruction set.
#include "CpuDispatch.h"

#if 1
#define TOLVEX_KERNEL_NS portable
#define TOLVEX_NOISE_LANES 16
#include "KernelBodies.h"
#endif
