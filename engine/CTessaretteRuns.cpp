#include "CTessaretteRuns.h"

#include <cstring>

#include "KLF_Parallel.h"

namespace {

// Bit 63 of a word is the leftmost point of its 64.
inline u64 LoadWord(const u8* p) {
  u64 w;
  std::memcpy(&w, p, 8);
  return __builtin_bswap64(w);
}

// Calls word(k, free) for the 64-point words k of scan row y, left to
// right, free holding their free points with the row's pinholes closed: a
// free point whose four neighbours are knife (outside counts as knife) is
// knife. Rows only change by closing, and a closed point's neighbour below
// is knife, so the rows above read as drawn give what the closing row by
// row gives. Of a stretch of words without knife only the first is given:
// the others, all free after a free point, neither start nor end a run.
template <class Word>
void RowWords(const u8* knife, u32 stride, i32 scanH, i32 y, Word&& word) {
  const u8* row = knife + static_cast<size_t>(y) * stride;
  const u8* up = y > 0 ? row - stride : nullptr;
  const u8* down = y + 1 < scanH ? row + stride : nullptr;
  const i32 words = static_cast<i32>(stride / 8);
  auto raw = [row](i32 k) {
    u64 w;
    std::memcpy(&w, row + 8 * static_cast<size_t>(k), 8);
    return w;
  };
  u64 prev = ~0ull;
  for (i32 k = 0; k < words;) {
    const u64 cur = LoadWord(row + 8 * static_cast<size_t>(k));
    if (cur == 0) {
      word(k, ~0ull);
      for (k++; k < words && raw(k) == 0;) k++;
      prev = 0;
      continue;
    }
    const u64 next = k + 1 < words ? LoadWord(row + 8 * static_cast<size_t>(k + 1)) : ~0ull;
    const u64 left = (cur >> 1) | (prev << 63), right = (cur << 1) | (next >> 63);
    const u64 u = up ? LoadWord(up + 8 * static_cast<size_t>(k)) : ~0ull;
    const u64 d = down ? LoadWord(down + 8 * static_cast<size_t>(k)) : ~0ull;
    word(k, ~cur & ~(left & right & u & d));
    prev = cur;
    k++;
  }
}

// Calls emit(first, last) for every run of scan row y, left to right.
template <class Emit>
void RowRuns(const u8* knife, u32 stride, i32 scanW, i32 scanH, i32 y, Emit&& emit) {
  i32 start = -1;
  RowWords(knife, stride, scanH, y, [&](i32 k, u64 free) {
    i32 pos = 0;
    for (;;) {
      if (start < 0) {
        const u64 m = free & (~0ull >> pos);
        if (!m) break;
        pos = __builtin_clzll(m);
        start = 64 * k + pos;
      }
      const u64 m = ~free & (~0ull >> pos);
      if (!m) break;
      pos = __builtin_clzll(m);
      emit(start, 64 * k + pos - 1);
      start = -1;
    }
  });
  if (start >= 0) emit(start, scanW - 1);
}

// The number of runs of scan row y: the free points whose left neighbour
// is not free. Few words hold a run's start, so they are counted a bit at
// a time (the baseline instruction set has no population count).
u32 RowRunCount(const u8* knife, u32 stride, i32 scanH, i32 y) {
  u32 n = 0;
  u64 before = 0;
  RowWords(knife, stride, scanH, y, [&](i32, u64 free) {
    for (u64 starts = free & ~((free >> 1) | (before << 63)); starts; starts &= starts - 1) n++;
    before = free;
  });
  return n;
}

// The same for a row of an 8-bit mask, whose free points are 0 (pinholes
// already closed): runs are found eight bytes at a time.
template <class Emit>
void ByteRowRuns(const u8* knife, u32 stride, i32 scanW, i32, i32 y, Emit&& emit) {
  const u8* row = knife + static_cast<size_t>(y) * stride;
  i32 x = 0;
  while (x < scanW) {
    const void* z = std::memchr(row + x, 0, static_cast<size_t>(scanW - x));
    if (!z) return;
    const i32 first = static_cast<i32>(static_cast<const u8*>(z) - row);
    x = first + 1;
    while (x + 8 <= scanW) {
      u64 v;
      std::memcpy(&v, row + x, 8);
      if (v) break;
      x += 8;
    }
    while (x < scanW && row[x] == 0) x++;
    emit(first, x - 1);
  }
}

}  // namespace

void CTessaretteRuns::Release() {
  m_rowStart.free();
  m_runs.free();
  m_parent.free();
  m_filled.free();
  m_regions.free();
  m_label.free();
  m_runCount = m_regionCount = 0;
}

u32 CTessaretteRuns::i_Find(u32 i) {
  u32* parent = reinterpret_cast<u32*>(m_parent.GetPtr());
  while (parent[i] != i) {
    parent[i] = parent[parent[i]];
    i = parent[i];
  }
  return i;
}

// The smaller root becomes the region's: a root is its region's first run.
void CTessaretteRuns::i_Join(u32 a, u32 b) {
  a = i_Find(a);
  b = i_Find(b);
  if (a == b) return;
  u32* parent = reinterpret_cast<u32*>(m_parent.GetPtr());
  if (a < b)
    parent[b] = a;
  else
    parent[a] = b;
}

void CTessaretteRuns::i_JoinRows(i32 y) {
  const u32* rowStart = reinterpret_cast<const u32*>(m_rowStart.GetPtr());
  const Run* runs = reinterpret_cast<const Run*>(m_runs.GetPtr());
  u32 i = rowStart[y - 1], j = rowStart[y];
  const u32 iEnd = rowStart[y], jEnd = rowStart[y + 1];
  while (i < iEnd && j < jEnd) {
    const i32 ie = runs[i].x + runs[i].count - 1, je = runs[j].x + runs[j].count - 1;
    if (runs[i].x <= je && runs[j].x <= ie) i_Join(i, j);
    if (ie < je)
      i++;
    else
      j++;
  }
}

u8 CTessaretteRuns::Find(const u8* knife, u32 stride, i32 scanW, i32 scanH, u32 threads, StopProc stop,
                         void* user) {
  if (stride < 8) {
    Release();
    m_scanW = scanW;
    m_scanH = scanH;
    return kFound;
  }
  return i_FindRuns(
      knife, stride, scanW, scanH, threads, stop, user,
      [](const u8* k, u32 s, i32 w, i32 h, i32 y, auto&& e) { RowRuns(k, s, w, h, y, e); },
      [](const u8* k, u32 s, i32, i32 h, i32 y) { return RowRunCount(k, s, h, y); });
}

u8 CTessaretteRuns::FindBytes(const u8* knife, u32 stride, i32 scanW, i32 scanH, u32 threads, StopProc stop,
                              void* user) {
  auto scan = [](const u8* k, u32 s, i32 w, i32 h, i32 y, auto&& e) { ByteRowRuns(k, s, w, h, y, e); };
  return i_FindRuns(knife, stride, scanW, scanH, threads, stop, user, scan,
                    [&scan](const u8* k, u32 s, i32 w, i32 h, i32 y) {
                      u32 n = 0;
                      scan(k, s, w, h, y, [&n](i32, i32) { n++; });
                      return n;
                    });
}

template <class Scan, class Count>
u8 CTessaretteRuns::i_FindRuns(const u8* knife, u32 stride, i32 scanW, i32 scanH, u32 threads, StopProc stop,
                               void* user, Scan&& scan, Count&& countRow) {
  Release();
  m_scanW = scanW;
  m_scanH = scanH;
  if (scanW <= 0 || scanH <= 0) return kFound;
  threads = KLF_Parallel::Resolve(threads);
  // A few bands a thread, so that uneven bands even out.
  const u32 bandCount = static_cast<u32>(scanH) < 4 * threads ? static_cast<u32>(scanH) : 4 * threads;
  const i32 bandRows = static_cast<i32>((static_cast<u32>(scanH) + bandCount - 1) / bandCount);
  const u32 bands = static_cast<u32>((scanH + bandRows - 1) / bandRows);
  if (!m_rowStart.alloc(4 * (static_cast<u32>(scanH) + 1))) return kNoMemory;
  u32* rowStart = reinterpret_cast<u32*>(m_rowStart.GetPtr());

  // Runs counted a row, then placed.
  rowStart[0] = 0;
  KLF_Parallel::ForEach(threads, bands, [&](u32 b, u32) noexcept {
    const i32 y0 = static_cast<i32>(b) * bandRows, y1 = y0 + bandRows < scanH ? y0 + bandRows : scanH;
    for (i32 y = y0; y < y1; y++) rowStart[y + 1] = countRow(knife, stride, scanW, scanH, y);
  });
  u64 total = 0;
  for (i32 y = 0; y < scanH; y++) {
    if (stop && stop(user, y)) return kStopped;
    total += rowStart[y + 1];
    if (total > 0xFFFFFFFFull) return kNoMemory;
    rowStart[y + 1] = static_cast<u32>(total);
  }
  if (total == 0) return kFound;
  if (!klFits32(total * sizeof(Run)) || !m_runs.alloc(static_cast<u32>(total * sizeof(Run))) ||
      !m_parent.alloc(static_cast<u32>(total * 4)) || !m_filled.Zalloc(static_cast<u32>(total)))
    return kNoMemory;
  m_runCount = static_cast<u32>(total);
  Run* runs = reinterpret_cast<Run*>(m_runs.GetPtr());
  u32* parent = reinterpret_cast<u32*>(m_parent.GetPtr());
  // A band joins its own rows; only its own runs change.
  KLF_Parallel::ForEach(threads, bands, [&](u32 b, u32) noexcept {
    const i32 y0 = static_cast<i32>(b) * bandRows, y1 = y0 + bandRows < scanH ? y0 + bandRows : scanH;
    for (i32 y = y0; y < y1; y++) {
      u32 i = rowStart[y];
      scan(knife, stride, scanW, scanH, y, [&](i32 first, i32 last) {
        runs[i] = Run{first, y, last - first + 1};
        parent[i] = i;
        i++;
      });
      if (y > y0) i_JoinRows(y);
    }
  });
  for (u32 b = 1; b < bands; b++) i_JoinRows(static_cast<i32>(b) * bandRows);

  // The roots in scan order are the regions.
  u32 regions = 0;
  for (u32 i = 0; i < m_runCount; i++) regions += parent[i] == i;
  if (!m_regions.alloc(4 * regions)) return kNoMemory;
  u32* first = reinterpret_cast<u32*>(m_regions.GetPtr());
  for (u32 i = 0; i < m_runCount; i++)
    if (parent[i] == i) *first++ = i;
  m_regionCount = regions;
  return kFound;
}

u8 CTessaretteRuns::Trace(u32 region, u32 seedLimit, CKLF_Mem& stack, CKLF_Mem& out, u32& count,
                          kltRECT_s& bounds) {
  count = 0;
  bounds = {0, 0, 0, 0};
  if (region >= m_regionCount) return 1;
  const u32* rowStart = reinterpret_cast<const u32*>(m_rowStart.GetPtr());
  const Run* runs = reinterpret_cast<const Run*>(m_runs.GetPtr());
  u8* filled = m_filled.GetPtr();
  u32 depth = 0, capacity = stack.GetSize() / 4, outCapacity = out.GetSize() / sizeof(Run);
  // Seeds pend as the fill's do: one a free stretch met, its run here.
  auto push = [&](u32 r) -> u8 {
    if (depth >= seedLimit) return 0;
    if (depth == capacity) {
      u64 cap = capacity ? 2ull * capacity : 512;
      if (cap > seedLimit) cap = seedLimit;
      if (!klFits32(cap * 4) || !stack.Resize(static_cast<u32>(cap * 4))) return 0;
      capacity = static_cast<u32>(cap);
    }
    reinterpret_cast<u32*>(stack.GetPtr())[depth++] = r;
    return 1;
  };
  // The unfilled runs of row y that touch left..right, right to left.
  auto pushRow = [&](i32 y, i32 left, i32 right) -> u8 {
    if (y < 0 || y >= m_scanH) return 1;
    const u32 lo = rowStart[y];
    u32 a = lo, b = rowStart[y + 1];
    while (a < b) {
      const u32 mid = a + (b - a) / 2;
      if (runs[mid].x <= right)
        a = mid + 1;
      else
        b = mid;
    }
    for (u32 j = a; j-- > lo && runs[j].x + runs[j].count - 1 >= left;)
      if (!filled[j] && !push(j)) return 0;
    return 1;
  };
  i32 minX = 1000000, minY = 1000000, maxX = -1000000, maxY = -1000000;
  if (!push(reinterpret_cast<const u32*>(m_regions.GetPtr())[region])) return 0;
  while (depth > 0) {
    const u32 r = reinterpret_cast<const u32*>(stack.GetPtr())[--depth];
    if (filled[r]) continue;
    filled[r] = 1;
    if (count == outCapacity) {
      const u64 cap = outCapacity ? 2ull * outCapacity : 4096;
      if (!klFits32(cap * sizeof(Run)) || !out.Resize(static_cast<u32>(cap * sizeof(Run)))) return 0;
      outCapacity = static_cast<u32>(cap);
    }
    const Run& run = runs[r];
    reinterpret_cast<Run*>(out.GetPtr())[count++] = run;
    const i32 xa = run.x > 0 ? run.x - 1 : 0, xb = run.x + run.count < m_scanW ? run.x + run.count : m_scanW - 1;
    const i32 ya = run.y > 0 ? run.y - 1 : 0, yb = run.y + 1 < m_scanH ? run.y + 1 : m_scanH - 1;
    if (xa / 4 < minX) minX = xa / 4;
    if (ya / 4 < minY) minY = ya / 4;
    if (xb / 4 > maxX) maxX = xb / 4;
    if (yb / 4 > maxY) maxY = yb / 4;
    if (!pushRow(run.y - 1, run.x, run.x + run.count - 1) || !pushRow(run.y + 1, run.x, run.x + run.count - 1))
      return 0;
  }
  bounds = {minX, minY, maxX + 1, maxY + 1};
  return 1;
}

u8 CTessaretteRuns::Label() {
  if (m_runCount == 0) return 1;
  if (!m_label.alloc(4 * m_runCount)) return 0;
  const u32* parent = reinterpret_cast<const u32*>(m_parent.GetPtr());
  u32* label = reinterpret_cast<u32*>(m_label.GetPtr());
  // A run's parent comes before it and is of its region, so its label is
  // known; roots are numbered in scan order.
  u32 regions = 0;
  for (u32 i = 0; i < m_runCount; i++) label[i] = parent[i] == i ? regions++ : label[parent[i]];
  return 1;
}

u32 CTessaretteRuns::LowestRegionAround(i32 x, i32 y) const {
  const u32* rowStart = reinterpret_cast<const u32*>(m_rowStart.GetPtr());
  const Run* runs = reinterpret_cast<const Run*>(m_runs.GetPtr());
  const u32* label = reinterpret_cast<const u32*>(m_label.GetPtr());
  u32 lowest = kNoRegion;
  for (i32 ny = y - 1; ny <= y + 1; ny++) {
    if (ny < 0 || ny >= m_scanH) continue;
    // The first run of the row that ends at or after x - 1, and those after
    // it that start by x + 1.
    u32 a = rowStart[ny], b = rowStart[ny + 1];
    while (a < b) {
      const u32 mid = a + (b - a) / 2;
      if (runs[mid].x + runs[mid].count - 1 < x - 1)
        a = mid + 1;
      else
        b = mid;
    }
    for (; a < rowStart[ny + 1] && runs[a].x <= x + 1; a++)
      if (label[a] < lowest) lowest = label[a];
  }
  return lowest;
}
