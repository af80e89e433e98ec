// The regions of the knife mask, painted side by side. For the four-times
// mask the fill has found each region's runs in order (or m_runs has found
// the regions, and each is traced where it is painted); for the 8-bit mask
// m_runs has found and grouped them. Each region is painted from its own
// runs into its own piece mask (on any thread), multiplied by the outer
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
  if (!CTessaretteFill::GrowScratch(painted, area)) return 0;
  if (!CTessaretteFill::PaintRuns(runs, runCount, m_fill.GetScanWidth(), m_fill.GetScanHeight(), r,
                                  painted.GetPtr(), w, bits))
    return 0;
  return i_KeepPainted(painted.GetPtr(), r, b, outer, outerStride, imagePlanes);
}

u8 CTessarette::i_KeepPainted(u8* p, kltRECT_s r, PieceBlocks& b, const u8* outer, u32 outerStride,
                              u32 imagePlanes) {
  const u32 w = static_cast<u32>(r.right - r.left);
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

// The knife points beside a region's runs that it paints, into painted
// (rect area, which holds the runs grown by a point each way; runs painted
// already), bounds grown to hold them: with the thin knife a point of 255
// whose first region in scan order among its free neighbours is this one
// (a knife line goes whole to the first region that reaches it, as the
// row-by-row fill gives it); with the anti-aliased thick knife every point
// of 1..254, as 255 minus it (the regions on both sides of an edge each get
// their share). Beside a run: the rows above and below from one left of it
// to one right of it, and the points just left and right of it.
void CTessarette::i_ShareKnife(u32 region, const CTessaretteRuns::Run* runs, u32 count, u8* painted,
                               const kltRECT_s& area, kltRECT_s& bounds) const {
  const CTessaretteFill::Mode mode = m_fill.GetMode();
  if (mode != CTessaretteFill::MODE_8BIT_THIN && mode != CTessaretteFill::MODE_8BIT_AA) return;
  const u8* knife = m_knifeBlock.GetPtr();
  const u32 stride = m_fill.GetKnifeStride(), pw = static_cast<u32>(area.right - area.left);
  const i32 w = m_fill.GetScanWidth(), h = m_fill.GetScanHeight();
  const u8 thin = mode == CTessaretteFill::MODE_8BIT_THIN;
  auto touch = [&](i32 x, i32 y) {
    u8& p = painted[static_cast<size_t>(y - area.top) * pw + (x - area.left)];
    const u8 v = knife[static_cast<size_t>(y) * stride + x];
    if (p || v == 0) return;  // painted already, or free
    if (thin) {
      if (v != 255 || m_runs.LowestRegionAround(x, y) < region) return;
      p = 255;
    } else {
      if (v == 255) return;
      p = static_cast<u8>(255 - v);
    }
    if (x < bounds.left) bounds.left = x;
    if (y < bounds.top) bounds.top = y;
    if (x >= bounds.right) bounds.right = x + 1;
    if (y >= bounds.bottom) bounds.bottom = y + 1;
  };
  for (u32 i = 0; i < count; i++) {
    const i32 x = runs[i].x, y = runs[i].y, end = x + runs[i].count;
    const i32 a = x > 0 ? x - 1 : 0, b = end < w ? end : w - 1;
    for (i32 ty = y - 1; ty <= y + 1; ty += 2) {
      if (ty < 0 || ty >= h) continue;
      const u8* row = knife + static_cast<size_t>(ty) * stride;
      for (i32 tx = a; tx <= b; tx++)
        if (row[tx]) touch(tx, ty);
    }
    if (x > 0) touch(x - 1, y);
    if (end < w) touch(end, y);
  }
}

// One region of the 8-bit mask: its runs paint 255, its knife share what
// i_ShareKnife gives.
u8 CTessarette::i_PaintByteRegion(u32 region, const CTessaretteRuns::Run* runs, u32 count, PieceBlocks& b,
                                  CKLF_Mem& painted, const u8* outer, u32 outerStride, u32 imagePlanes) const {
  if (count == 0) return 1;
  kltRECT_s r = {runs[0].x, runs[0].y, runs[0].x + runs[0].count, runs[0].y + 1};
  for (u32 i = 1; i < count; i++) {
    if (runs[i].x < r.left) r.left = runs[i].x;
    if (runs[i].y < r.top) r.top = runs[i].y;
    if (runs[i].x + runs[i].count > r.right) r.right = runs[i].x + runs[i].count;
    if (runs[i].y + 1 > r.bottom) r.bottom = runs[i].y + 1;
  }
  // Painted over the runs' box grown by a point, where the knife share can
  // reach; then packed to the region's own box.
  const kltRECT_s g = {r.left > 0 ? r.left - 1 : 0, r.top > 0 ? r.top - 1 : 0,
                       r.right < m_fill.GetScanWidth() ? r.right + 1 : r.right,
                       r.bottom < m_fill.GetScanHeight() ? r.bottom + 1 : r.bottom};
  const u32 gw = static_cast<u32>(g.right - g.left);
  const u64 area = static_cast<u64>(gw) * static_cast<u32>(g.bottom - g.top);
  if (!CTessaretteFill::GrowScratch(painted, area)) return 0;
  u8* p = painted.GetPtr();
  std::memset(p, 0, static_cast<size_t>(area));
  for (u32 i = 0; i < count; i++)
    std::memset(p + static_cast<size_t>(runs[i].y - g.top) * gw + (runs[i].x - g.left), 255,
                static_cast<size_t>(runs[i].count));
  i_ShareKnife(region, runs, count, p, g, r);
  const u32 w = static_cast<u32>(r.right - r.left);
  for (i32 y = r.top; y < r.bottom; y++)
    std::memmove(p + static_cast<size_t>(y - r.top) * w, p + static_cast<size_t>(y - g.top) * gw + (r.left - g.left), w);
  return i_KeepPainted(p, r, b, outer, outerStride, imagePlanes);
}

u8 CTessarette::i_PaintRegions(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes,
                               u32 planeStride, u8 planeCount, u32 centreCount, u8 source) {
  const u8 traced = source != kRecordedRegions;
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
    u8 source;
    u32 seedLimit;
    // A worker's painted mask, the fill's bit planes, and for m_runs'
    // regions the seed stack and the runs.
    CKLF_Mem scratch[4 * KLF_Parallel::kMaxThreads];
    std::atomic<u8> failed{0};
    void RunTask(u32 i, u32 worker) override {
      CKLF_Mem* s = scratch + 4 * worker;
      const CTessaretteFill::Run* runs;
      u32 count;
      kltRECT_s bounds;
      if (source != kRecordedRegions) {
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
      const u8 painted =
          source == kByteRegions
              ? e->i_PaintByteRegion(i, runs, count, blocks[i], s[0], outer, outerStride, imagePlanes)
              : e->i_PaintRegion(runs, count, bounds, blocks[i], s[0], s[1], width, height, outer, outerStride,
                                 imagePlanes);
      if (!painted) failed.store(1);
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
  job->source = source;
  job->seedLimit = m_fill.GetSeedLimit();
  const u8 ran = KLF_Parallel::Run(threads, n, *job);
  const u8 failed = job->failed.load();
  const u16 thrown = job->GetError();
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
  if (thrown) return Fail(thrown);
  if (!ran && !failed) return 0;  // cancelled
  return failed ? i_MemoryFailure() : ok;
}
