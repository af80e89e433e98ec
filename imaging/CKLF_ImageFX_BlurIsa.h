// Which instruction set the blur's line passes run on: the best the
// processor has, unless the environment variable KLF_ISA (baseline, sse or
// avx2; read once, at the first blur) names another that it has. Tests and
// measurements choose with KLF_SetBlurIsa. All give the same bytes.
//   baseline  plain C++, no intrinsics (what processors without SSE2 run)
//   sse       SSE2 intrinsics (every x86-64 processor)
//   avx2      the SSE2 code built for AVX2, and the small-sigma kernel's
//             AVX2 and FMA bodies
// The small-sigma kernel on lines of bytes has no plain body: baseline runs
// its SSE2 body.
#pragma once

#include "KLF_Types.h"

enum KLF_BlurIsa : u8 { klBlurBaseline = 0, klBlurSse = 1, klBlurAvx2 = 2 };

// Whether the processor runs isa.
u8 KLF_BlurIsaAvailable(KLF_BlurIsa isa);
// The instruction set blurs started from now on use.
KLF_BlurIsa KLF_BlurIsaInUse();
// Makes later blurs use isa: 1, or 0 (and nothing changes) when the
// processor lacks it. Not to be called while a blur runs.
[[nodiscard]] u8 KLF_SetBlurIsa(KLF_BlurIsa isa);
