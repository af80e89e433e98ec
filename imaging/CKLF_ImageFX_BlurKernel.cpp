// The sampled small-sigma kernel's passes: the buffers, the tasks, and
// the choice between its builds; the baseline build of its bodies.
#define KLF_KERNEL_ISA base
#include "CKLF_ImageFX_BlurKernelBody.h"
#undef KLF_KERNEL_ISA

#include <cstring>

#include "CKLF_ImageFX_BlurIsa.h"
#include "KLF_Parallel.h"

namespace klf_kernel {

void TaskBase(const Job& j, u32 task, Scratch s) { base::TaskUpTo<kMaxTaps>(j, task, s); }

}  // namespace klf_kernel

namespace {

using namespace klf_kernel;

Weights WeightsOf(const CKLF_ImageFX::STRUCT_Blur_VectorData& rec) {
  Weights k;
  k.n = rec.kernelLength;
  k.whole = 0.0;
  for (u32 i = 0; i < k.n; ++i) k.w[i] = rec.kernel[i];
  for (u32 i = 0; i < k.n; ++i) k.whole += k.w[i];
  for (u32 i = 1; i < k.n; ++i) k.whole += k.w[i];
  for (u32 i = 0; i < k.n; ++i) k.v[i] = static_cast<f32>(k.w[i] / k.whole);
  for (u32 i = 0; i < k.n; ++i)
    for (u32 c = 0; c < 8; ++c) k.v8[i][c] = k.v[i];
  k.borderFlag = rec.borderFlag;
  k.border = rec.borderValue;
  for (u32 p = 0; p < 256; ++p)
    k.flat[p] = base::ExactSample(
        k, [p](i64) { return static_cast<f64>(p); }, k.n, 2 * k.n);
  std::memset(k.flatDown, 0, sizeof k.flatDown);
  for (u32 p = 0; p < 256; ++p)
    if (k.flat[p] != p) k.flatDown[p / 8] |= static_cast<u8>(1u << (p % 8));
  return k;
}

typedef void (*TaskFn)(const Job&, u32, Scratch);

// The SSE2 body serves the baseline too.
TaskFn TaskFor(KLF_BlurIsa isa) { return isa == klBlurAvx2 ? TaskAvx2 : TaskBase; }

u64 CacheLines(u64 bytes) { return (bytes + 63) & ~u64(63); }

// A worker's buffers for lines up to length long: a row, its recovery and
// its equal neighbours, or the ring of a strip and its runs; then the
// samples left to decide on a line.
struct Layout {
  u64 rec, eq, runs, nearAt, nearAcc, bytes;
};

Layout LayoutOf(u32 n, u32 length) {
  Layout l;
  const u64 room = (length > kStrip ? length : kStrip) + 8;
  l.rec = CacheLines((length + 2ull * base::kPad) * sizeof(f32));
  l.eq = l.rec + CacheLines(length * sizeof(f64));
  const u64 row = l.eq + CacheLines(length / 8 + 16);
  l.runs = CacheLines((2ull * n - 1) * kStrip * sizeof(f32));
  const u64 ring = l.runs + kStrip;
  l.nearAt = CacheLines(row > ring ? row : ring);
  l.nearAcc = l.nearAt + CacheLines(room * sizeof(u32));
  l.bytes = l.nearAcc + CacheLines(room * sizeof(f32));
  return l;
}

}  // namespace

u8 CKLF_ImageFX::i_KernelLinesFit(const STRUCT_Blur_VectorData& rec, const Lines& in, const Lines& out,
                                  const Lines* alpha, u32 length) {
  if (!rec.smallSigma || !(rec.sigma >= 0.1) || in.isFloat || out.isFloat) return 0;
  if (rec.kernelLength < 2 || rec.kernelLength > kMaxTaps || length < 2u * rec.kernelLength - 1) return 0;
  const u8 rows = in.step == 1 && out.step == 1 && (!alpha || alpha->step == 1);
  const u8 columns = in.lineStep == 1 && out.lineStep == 1 && !alpha;
  return rows || columns;
}

u8 CKLF_ImageFX::i_GrowKernelLines(const STRUCT_Blur_VectorData& rec, u32 length) {
  if (!rec.smallSigma) return 1;
  const u64 workers = KLF_Parallel::Resolve(m_threads);
  return i_Grow(m_kernelBuffer, workers * LayoutOf(rec.kernelLength, length).bytes) ? 1 : 0;
}

u8 CKLF_ImageFX::i_KernelLines(const STRUCT_Blur_VectorData& rec, const Lines& in, const Lines& out, const Lines* alpha,
                               u32 lineCount, u32 length) {
  if (!i_GrowKernelLines(rec, length)) return 0;
  Job j = {WeightsOf(rec), in, out, alpha, lineCount, length, kStrip, 0};
  j.rows = in.step == 1 && out.step == 1 && (!alpha || alpha->step == 1);
  // Narrow planes are cut into narrower strips so that every thread works.
  const u32 workers = KLF_Parallel::Resolve(m_threads);
  if (!j.rows) {
    const u32 want = (lineCount + 2 * workers - 1) / (2 * workers);
    j.strip = want >= kStrip ? kStrip : (want < 32 ? 32 : (want + 7) & ~7u);
  }
  const u32 tasks = j.rows ? (lineCount + kRowsPerTask - 1) / kRowsPerTask : (lineCount + j.strip - 1) / j.strip;
  u8* base = m_kernelBuffer.GetPtr();
  const Layout l = LayoutOf(rec.kernelLength, length);
  const TaskFn task = TaskFor(KLF_BlurIsaInUse());
  KLF_Parallel::ForEach(m_threads, tasks, [&](u32 t, u32 worker) noexcept {
    u8* mine = base + worker * l.bytes;
    const Scratch s = {reinterpret_cast<f32*>(mine),
                       reinterpret_cast<f64*>(mine + l.rec),
                       reinterpret_cast<f32*>(mine),
                       mine + l.eq,
                       mine + l.runs,
                       reinterpret_cast<u32*>(mine + l.nearAt),
                       reinterpret_cast<f32*>(mine + l.nearAcc)};
    task(j, t, s);
  });
  return 1;
}
