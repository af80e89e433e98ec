// The blur's choice of instruction set.
#include "CKLF_ImageFX_BlurIsa.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

KLF_BlurIsa Best() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return klBlurAvx2;
  if (__builtin_cpu_supports("sse2")) return klBlurSse;
#endif
  return klBlurBaseline;
}

// The best, or what KLF_ISA names when the processor has it.
KLF_BlurIsa FromEnvironment() {
  const KLF_BlurIsa best = Best();
  const char* name = std::getenv("KLF_ISA");
  if (!name) return best;
  KLF_BlurIsa want = best;
  if (!std::strcmp(name, "baseline")) want = klBlurBaseline;
  if (!std::strcmp(name, "sse")) want = klBlurSse;
  if (!std::strcmp(name, "avx2")) want = klBlurAvx2;
  return want <= best ? want : best;
}

// 255 until the first blur reads the environment.
std::atomic<u8> g_isa{255};

}  // namespace

u8 KLF_BlurIsaAvailable(KLF_BlurIsa isa) { return isa <= Best(); }

KLF_BlurIsa KLF_BlurIsaInUse() {
  u8 isa = g_isa.load(std::memory_order_relaxed);
  if (isa == 255) {
    isa = FromEnvironment();
    g_isa.store(isa, std::memory_order_relaxed);
  }
  return static_cast<KLF_BlurIsa>(isa);
}

u8 KLF_SetBlurIsa(KLF_BlurIsa isa) {
  if (!KLF_BlurIsaAvailable(isa)) return 0;
  g_isa.store(isa, std::memory_order_relaxed);
  return 1;
}
