// The sampled small-sigma kernel's bodies built for AVX2 with fused
// multiply-adds (this file alone is compiled for them; the caller checks
// the processor first).
#define KLF_KERNEL_ISA avx2
#include "CKLF_ImageFX_BlurKernelBody.h"

namespace klf_kernel {

void TaskAvx2(const Job& j, u32 task, Scratch s) { avx2::TaskUpTo<kMaxTaps>(j, task, s); }

}  // namespace klf_kernel
