// Inside stroke. The coverage of a pixel is the largest value any edge
// pixel's disc stamps on it. Instead of stamping whole windows, every disc
// is kept as rows of equal-value runs, one table per alpha value that
// occurs; each output row then gathers the runs of the edge pixels within
// reach: fully covered runs go through a difference row (constant cost per
// run), the anti-aliased rim pixels through a running maximum.
#include <cstring>

#include "CKLF_ImageFX.h"

namespace {

struct DiscRun {
  i16 c0;  // first and last matrix column of the run
  i16 c1;
  u8 v;
};

struct RowRef {
  u32 first;
  u32 count;
};

inline u8 DiscValue(const u8* m0, const u8* m1, u32 i, u32 a) {
  const i32 o = m0[i], n = m1[i];
  return static_cast<u8>(o - (static_cast<i32>(a) * (o - n)) / 255);
}

// Runs of equal non-zero values in one matrix row; writes them when out is
// given; returns their count.
u32 RowRuns(const u8* m0, const u8* m1, u32 d, u32 r, u32 a, DiscRun* out) {
  u32 n = 0;
  u32 c = 0;
  while (c < d) {
    const u8 v = DiscValue(m0, m1, r * d + c, a);
    u32 e = c + 1;
    while (e < d && DiscValue(m0, m1, r * d + e, a) == v) ++e;
    if (v != 0) {
      if (out) out[n] = {static_cast<i16>(c), static_cast<i16>(e - 1), v};
      ++n;
    }
    c = e;
  }
  return n;
}

// The discs of a stroke of width w >= 2 over an alpha plane A (W x H):
// the outer and inner disc matrices, the edge pixels that stamp (row by
// row, with their alpha) and, per alpha value in use, the disc as rows of
// runs.
struct StrokeDiscs {
  const u8* A;
  u64 stride;
  u32 W, H, w, d;
  u32* rowStart;  // H + 1 entries: the first stamp of each row
  const u8* m0 = nullptr;
  const u8* m1 = nullptr;
  const u16* sx = nullptr;
  const u8* sa = nullptr;
  const RowRef* index = nullptr;
  const DiscRun* runs = nullptr;
  u8 used[256] = {};
  u8 slot[256] = {};
  u32 usedCount = 0;

  // The outer disc (radius w) and the inner one (radius w - 1, centred in
  // a d x d matrix) in a block of 3 d^2 bytes.
  void MakeMatrices(u8* mm) {
    u8* outer = mm;
    u8* inner = mm + d * d;
    u8* small = mm + 2 * d * d;
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, outer, static_cast<i32>(w));
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, small, static_cast<i32>(w - 1));
    std::memset(inner, 0, d * d);
    for (u32 r = 0; r + 2 < d; ++r) std::memcpy(inner + (r + 1) * d + 1, small + r * (d - 2), d - 2);
    m0 = outer;
    m1 = inner;
  }

  // Edge pixels that stamp: not fully opaque or on the image border, with
  // a fully opaque direct neighbour; visit(x, alpha) for each in row y.
  template <class Visit>
  void ForEachStamp(u32 y, Visit visit) const {
    const u8* a = A + y * stride;
    const u8* up = y > 0 ? a - stride : nullptr;
    const u8* dn = y + 1 < H ? a + stride : nullptr;
    const u8 edgeRow = y == 0 || y + 1 == H;
    for (u32 x = 0; x < W; ++x) {
      if (a[x] == 255 && !edgeRow && x != 0 && x + 1 != W) continue;
      if ((x > 0 && a[x - 1] == 255) || (x + 1 < W && a[x + 1] == 255) || (up && up[x] == 255) ||
          (dn && dn[x] == 255))
        visit(x, a[x]);
    }
  }

  // Counts the stamps per row, notes their alpha values and gives each
  // value its table; returns the stamp count, runCount the runs of all
  // tables.
  u64 Count(u64& runCount) {
    u64 total = 0;
    for (u32 y = 0; y < H; ++y) {
      rowStart[y] = static_cast<u32>(total);
      ForEachStamp(y, [&](u32, u8 a) {
        used[a] = 1;
        ++total;
      });
    }
    rowStart[H] = static_cast<u32>(total);
    runCount = 0;
    for (u32 a = 0; a < 256; ++a) {
      if (!used[a]) continue;
      slot[a] = static_cast<u8>(usedCount++);
      for (u32 r = 0; r < d; ++r) runCount += RowRuns(m0, m1, d, r, a, nullptr);
    }
    return total;
  }

  static u64 Align8(u64 n) { return (n + 7) & ~7ull; }
  u64 TableBytes(u64 stamps, u64 runCount) const {
    return Align8(stamps * sizeof(u16)) + Align8(stamps) + static_cast<u64>(usedCount) * d * sizeof(RowRef) +
           runCount * sizeof(DiscRun);
  }

  // Lays the stamp lists and the run tables out in tb (TableBytes long).
  void Fill(u8* tb, u64 stamps) {
    u16* stampX = reinterpret_cast<u16*>(tb);
    u8* stampA = tb + Align8(stamps * sizeof(u16));
    RowRef* idx = reinterpret_cast<RowRef*>(stampA + Align8(stamps));
    const u64 indexBytes = static_cast<u64>(usedCount) * d * sizeof(RowRef);
    DiscRun* rr = reinterpret_cast<DiscRun*>(reinterpret_cast<u8*>(idx) + indexBytes);
    u32 fill = 0;
    for (u32 a = 0; a < 256; ++a) {
      if (!used[a]) continue;
      for (u32 r = 0; r < d; ++r) {
        RowRef& ref = idx[slot[a] * d + r];
        ref.first = fill;
        ref.count = RowRuns(m0, m1, d, r, a, rr + fill);
        fill += ref.count;
      }
    }
    u64 k = 0;
    for (u32 y = 0; y < H; ++y)
      ForEachStamp(y, [&](u32 x, u8 a) {
        stampX[k] = static_cast<u16>(x);
        stampA[k] = a;
        ++k;
      });
    sx = stampX;
    sa = stampA;
    index = idx;
    runs = rr;
  }

  // Coverage of row v: the largest value of the discs stamped within
  // reach. Fully covered runs go through the difference row diff (W + 1).
  void CoverRow(u32 v, u8* cov, i32* diff) const {
    std::memset(cov, 0, W);
    std::memset(diff, 0, (W + 1) * sizeof(i32));
    const u32 y0 = v >= w ? v - w : 0;
    const u32 y1 = v + w < H ? v + w : H - 1;
    u8 anyRun = 0;
    for (u32 y = y0; y <= y1; ++y) {
      const u32 r = v + w - y;
      for (u32 s = rowStart[y]; s < rowStart[y + 1]; ++s) {
        const i32 x = sx[s];
        const RowRef& ref = index[slot[sa[s]] * d + r];
        const DiscRun* run = runs + ref.first;
        for (u32 q = 0; q < ref.count; ++q) {
          i32 u0 = x + run[q].c0 - static_cast<i32>(w);
          i32 u1 = x + run[q].c1 - static_cast<i32>(w);
          if (u1 < 0 || u0 >= static_cast<i32>(W)) continue;
          if (u0 < 0) u0 = 0;
          if (u1 >= static_cast<i32>(W)) u1 = static_cast<i32>(W) - 1;
          const u8 val = run[q].v;
          if (val == 255) {
            ++diff[u0];
            --diff[u1 + 1];
            anyRun = 1;
          } else {
            for (i32 u = u0; u <= u1; ++u)
              if (cov[u] < val) cov[u] = val;
          }
        }
      }
    }
    if (anyRun) {
      i32 depth = 0;
      for (u32 u = 0; u < W; ++u) {
        depth += diff[u];
        if (depth > 0) cov[u] = 255;
      }
    }
  }
};

// Coverage of row v for width 1: 255 off the opaque inside, else 255 minus
// the smallest alpha of the eight neighbours.
void CoverRowThin(const u8* A, u64 stride, u32 W, u32 H, u32 v, u8* cov) {
  const u8* a = A + v * stride;
  const u8 edgeRow = v == 0 || v + 1 == H;
  for (u32 x = 0; x < W; ++x) {
    if (a[x] != 255 || edgeRow || x == 0 || x + 1 == W) {
      cov[x] = 255;
      continue;
    }
    u8 mn = 255;
    for (i32 dy = -1; dy <= 1; ++dy)
      for (i32 dx = -1; dx <= 1; ++dx) {
        if (dx == 0 && dy == 0) continue;
        const u8 n = A[(v + dy) * stride + x + dx];
        if (n < mn) mn = n;
      }
    cov[x] = static_cast<u8>(255 - mn);
  }
}

}  // namespace

void CKLF_ImageFX::Stroke_FillCircleMatrix(u8 shift, u8* matrix, i32 radius) {
  if (!matrix || radius < 0 || radius > 4096 || shift > 8) return;
  const i32 S = 1 << shift;
  const i32 R = radius * S;
  const i32 d = 2 * radius + 1;
  const i32 add = 256 >> (2 * shift);
  std::memset(matrix, 0, static_cast<size_t>(d) * d);
  const i64 R2 = static_cast<i64>(R) * R;
  for (i32 sy = -R; sy < S; ++sy) {
    u8* row = matrix + static_cast<i64>((sy + R) / S) * d;
    const i64 sy2 = static_cast<i64>(sy) * sy;
    for (i32 sx = -R; sx < S; ++sx) {
      if (sy2 + static_cast<i64>(sx) * sx < R2) {
        u8& p = row[(sx + R) / S];
        const i32 v = p + add;
        p = static_cast<u8>(v > 255 ? 255 : v);
      }
    }
  }
  for (i32 r = 0; r <= radius; ++r)
    for (i32 c = 0; c <= radius; ++c) {
      const u8 v = matrix[r * d + c];
      matrix[r * d + (d - 1 - c)] = v;
      matrix[(d - 1 - r) * d + c] = v;
      matrix[(d - 1 - r) * d + (d - 1 - c)] = v;
    }
}

u8 CKLF_ImageFX::StrokeInside(const u8* colour, u8 width, u8 opacity) {
  if (!i_CheckPair()) return 0;
  const u32 W = m_src.width, H = m_src.height;
  if (!m_src.hasAlpha || W == 0 || H == 0 || !colour) return Fail(klErrBadArg);
  if (width == 0) {
    i_CopyAll();
    return 1;
  }
  const u8 last = static_cast<u8>(m_src.count - 1);
  const u8* A = m_src.planes[last];
  const u64 sStride = m_src.stride;

  // Row work: coverage row, difference row, stamper row starts.
  const u64 covBytes = (static_cast<u64>(W) + 7) & ~7ull;
  u8* rows = i_Grow(m_strokeRows, covBytes + (W + 1ull) * sizeof(i32) + (H + 1ull) * sizeof(u32));
  if (!rows) return 0;
  u8* cov = rows;
  i32* diff = reinterpret_cast<i32*>(rows + covBytes);
  StrokeDiscs discs{A, sStride, W, H, width, 2u * width + 1, reinterpret_cast<u32*>(diff + W + 1)};
  CKLF_Mem matrices;
  if (width >= 2) {
    const u32 d = discs.d;
    if (!matrices.alloc(3 * d * d)) return FailFrom(matrices, klErrNoMemory);
    discs.MakeMatrices(matrices.GetPtr());
    u64 runCount = 0;
    const u64 stamps = discs.Count(runCount);
    if (stamps > 0xFFFFFFFFull) return Fail(klErrNoMemory);
    u8* tb = i_Grow(m_strokeTables, discs.TableBytes(stamps, runCount));
    if (!tb) return 0;
    discs.Fill(tb, stamps);
  }

  for (u32 v = 0; v < H; ++v) {
    const u8* a = A + v * sStride;
    if (width == 1) {
      CoverRowThin(A, sStride, W, H, v, cov);
    } else {
      discs.CoverRow(v, cov, diff);
      if (v == 0 || v + 1 == H) {
        std::memset(cov, 255, W);
      } else {
        cov[0] = 255;
        cov[W - 1] = 255;
        for (u32 u = 1; u + 1 < W; ++u)
          if (a[u] != 255) cov[u] = 255;
      }
    }
    i_StrokeBlendRow(v, cov, colour, opacity);
  }
  return 1;
}

// Row v of every colour plane blended with the colour by the coverage; the
// alpha row copied.
void CKLF_ImageFX::i_StrokeBlendRow(u32 v, const u8* cov, const u8* colour, u8 opacity) {
  const u32 W = m_src.width;
  const u8 last = static_cast<u8>(m_src.count - 1);
  const u64 so = static_cast<u64>(v) * m_src.stride, dO = static_cast<u64>(v) * m_dst.stride;
  for (u8 p = 0; p < last; ++p) {
    const u8* s = m_src.planes[p] + so;
    u8* o = m_dst.planes[p] + dO;
    const i32 c = colour[p];
    if (opacity == 255) {
      for (u32 x = 0; x < W; ++x) o[x] = static_cast<u8>(s[x] + (cov[x] * (c - s[x])) / 255);
    } else {
      const i32 op = opacity;
      for (u32 x = 0; x < W; ++x) o[x] = static_cast<u8>(s[x] + (cov[x] * op * (c - s[x])) / 65025);
    }
  }
  std::memcpy(m_dst.planes[last] + dO, m_src.planes[last] + so, W);
}
