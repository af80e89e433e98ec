// The regions of the four-times knife mask, painted side by side: the fill
// has found each region's runs in order (or m_runs has found the regions,
// and each is traced where it is painted); each region is painted from its
// own runs into its own piece mask (on any thread), multiplied by the outer
// mask, and the pieces are stored in the order the regions were found.
#include <atomic>
#include <cstring>
#include <new>

#include "CTessarette.h"

u8 CTessarette::i_KeepRegion(u32 firstRun) {
  const u64 need = (static_cast<u64>(m_regionCount) + 1) * sizeof(Region);
  if (m_regionBlock.GetSize() < need) {
    const u64 bytes = need * 2 > 4096 ? need * 2 : 4096;
    if (!klFits32(bytes) || !m_regionBlock.Resize(static_cast<u32>(bytes))) return 0;
  }
  Region& r = reinterpret_cast<Region*>(m_regionBlock.GetPtr())[m_regionCount++];
  r.firstRun = firstRun;
  r.runCount = m_fill.GetRunCount() - firstRun;
  r.bounds = {m_fill.m_minX, m_fill.m_minY, m_fill.m_maxX + 1, m_fill.m_maxY + 1};
  return 1;
}

u8 CTessarette::i_PaintRegion(const CTessaretteFill::Run* runs, u32 runCount, kltRECT_s bounds, PieceBlocks& b,
                              CKLF_Mem& painted, CKLF_Mem& bits, i32 width, i32 height, const u8* outer,
                              u32 outerStride, u32 imagePlanes) const {
  kltRECT_s r = bounds;
  if (r.left < 0) r.left = 0;
  if (r.top < 0) r.top = 0;
  if (r.right > width) r.right = width;
  if (r.bottom > height) r.bottom = height;
  if (r.left >= r.right || r.top >= r.bottom) return 1;
  const u32 w = static_cast<u32>(r.right - r.left);
  const u64 area = static_cast<u64>(w) * static_cast<u32>(r.bottom - r.top);
  if (!klFits32(area) || (painted.GetSize() < area && !painted.alloc(static_cast<u32>(area)))) return 0;
  if (!CTessaretteFill::PaintRuns(runs, runCount, m_fill.GetScanWidth(), m_fill.GetScanHeight(), r,
                                  painted.GetPtr(), w, bits))
    return 0;
  u8* p = painted.GetPtr();
  const kltRECT_s k = outer ? i_MultiplyByOuter(p, p, w, {r.left, r.top}, outer, outerStride, r) : r;
  if (k.left >= k.right || k.top >= k.bottom) return 1;
  if (!b.Make(k, imagePlanes)) return 0;
  const u32 kw = static_cast<u32>(k.right - k.left);
  for (i32 y = k.top; y < k.bottom; y++) {
    const u8* src = p + static_cast<size_t>(y - r.top) * w + (k.left - r.left);
    u8* dst = b.mask->GetPtr() + static_cast<size_t>(y - k.top) * kw;
    std::memcpy(dst, src, kw);
    for (u32 x = 0; x < kw; x++) b.pixels += dst[x] != 0;
  }
  return 1;
}

u8 CTessarette::i_PaintRegions(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes,
                               u32 planeStride, u8 planeCount, u32 centreCount, u8 traced) {
  const u32 n = traced ? m_runs.GetRegionCount() : m_regionCount;
  if (n == 0) return 1;
  PieceBlocks* blocks = new (std::nothrow) PieceBlocks[n];
  if (!blocks) return i_MemoryFailure();
  const u32 threads = KLF_Parallel::Resolve(m_threads);
  struct Job : KLF_ParallelJob {
    CTessarette* e;
    const Region* regions;
    PieceBlocks* blocks;
    i32 width, height;
    const u8* outer;
    u32 outerStride, imagePlanes;
    u8 traced;
    u32 seedLimit;
    // A worker's painted mask, the fill's bit planes, and with traced the
    // seed stack and the runs.
    CKLF_Mem scratch[4 * KLF_Parallel::kMaxThreads];
    std::atomic<u8> failed{0};
    void RunTask(u32 i, u32 worker) override {
      CKLF_Mem* s = scratch + 4 * worker;
      const CTessaretteFill::Run* runs;
      u32 count;
      kltRECT_s bounds;
      if (traced) {
        // A seed stack that cannot grow fails the region, as in the fill.
        if (!e->m_runs.Trace(i, seedLimit, s[2], s[3], count, bounds)) {
          failed.store(1);
          return;
        }
        runs = reinterpret_cast<const CTessaretteFill::Run*>(s[3].GetPtr());
      } else {
        runs = e->m_fill.GetRuns() + regions[i].firstRun;
        count = regions[i].runCount;
        bounds = regions[i].bounds;
      }
      if (!e->i_PaintRegion(runs, count, bounds, blocks[i], s[0], s[1], width, height, outer, outerStride,
                            imagePlanes))
        failed.store(1);
    }
    u8 Poll(u32) override { return failed.load() || e->i_Cancelled() ? 0 : 1; }
  };
  Job* job = new (std::nothrow) Job();
  if (!job) {
    delete[] blocks;
    return i_MemoryFailure();
  }
  job->e = this;
  job->regions = reinterpret_cast<const Region*>(m_regionBlock.GetPtr());
  job->blocks = blocks;
  job->width = width;
  job->height = height;
  job->outer = outerMask;
  job->outerStride = outerStride;
  job->imagePlanes = m_imagesOnRender ? 0u : planeCount + 1u;
  job->traced = traced;
  job->seedLimit = m_fill.GetSeedLimit();
  const u8 ran = KLF_Parallel::Run(threads, n, *job);
  const u8 failed = job->failed.load();
  delete job;
  u8 ok = ran && !failed;
  // Stored in the order found; what is not stored is freed.
  const kltFPOS* centres = reinterpret_cast<const kltFPOS*>(m_centreBlock.GetPtr());
  const u32* pairs = reinterpret_cast<const u32*>(m_pairBlock.GetPtr());
  for (u32 i = 0; i < n; i++) {
    if (ok && blocks[i].mask) {
      ok = i_AppendPiece(blocks[i], planes, planeStride, planeCount, outerMask, outerStride, centres, pairs,
                         centreCount);
      if (ok && m_cellCount > kMaxPieces) ok = i_TooManyPieces();
    }
    blocks[i].Free();
  }
  delete[] blocks;
  if (!ran && !failed) return 0;  // cancelled
  return failed ? i_MemoryFailure() : ok;
}
