// Inside stroke. The coverage of a pixel is the largest value any edge
// pixel's disc stamps on it. Instead of stamping whole windows, every disc
// is kept as rows of equal-value runs, one table per alpha value that
// occurs (CKLF_StrokeDiscs, kept from piece to piece); each output row then
// gathers the runs of the edge pixels within reach: fully covered runs go
// through a difference row (constant cost per run), the anti-aliased rim
// pixels through a running maximum.
#include <cmath>
#include <cstring>

#include "CKLF_ImageFX.h"

namespace {

inline u64 Align8(u64 n) { return (n + 7) & ~7ull; }

// The discs of a stroke of width w >= 2 over an alpha plane A (W x H):
// the edge pixels that stamp (row by row, with their alpha) and, per alpha
// value in use, the disc as rows of runs (kept by the effect object).
struct StrokeDiscs {
  const u8* A;
  u64 stride;
  u32 W, H, w, d;
  u32* rowStart;  // H + 1 entries: the first stamp of each row
  const u16* sx = nullptr;
  const u8* sa = nullptr;
  const CKLF_StrokeDiscs::Row* rows[256] = {};  // per alpha in use: its d rows
  const CKLF_StrokeDiscs::Run* runs[256] = {};  // and the runs they index
  u8 used[256] = {};

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

  // Counts the stamps per row and notes their alpha values; returns the
  // stamp count.
  u64 Count() {
    u64 total = 0;
    for (u32 y = 0; y < H; ++y) {
      rowStart[y] = static_cast<u32>(total);
      ForEachStamp(y, [&](u32, u8 a) {
        used[a] = 1;
        ++total;
      });
    }
    rowStart[H] = static_cast<u32>(total);
    return total;
  }

  static u64 StampBytes(u64 stamps) { return Align8(stamps * sizeof(u16)) + Align8(stamps); }

  // Lays the stamp lists out in sb (StampBytes long).
  void Fill(u8* sb, u64 stamps) {
    u16* stampX = reinterpret_cast<u16*>(sb);
    u8* stampA = sb + Align8(stamps * sizeof(u16));
    u64 k = 0;
    for (u32 y = 0; y < H; ++y)
      ForEachStamp(y, [&](u32 x, u8 a) {
        stampX[k] = static_cast<u16>(x);
        stampA[k] = a;
        ++k;
      });
    sx = stampX;
    sa = stampA;
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
        const u8 a = sa[s];
        const CKLF_StrokeDiscs::Row& ref = rows[a][r];
        const CKLF_StrokeDiscs::Run* run = runs[a] + ref.first;
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

// The top-left quadrant a row of samples at a time: in sample row sy the
// samples inside the circle are those with |sx| <= m, m the largest integer
// with m^2 < R^2 - sy^2, so the row adds to whole pixels at once. The sums
// are capped at 255 as each sample's share would cap them one by one.
void CKLF_ImageFX::Stroke_FillCircleMatrix(u8 shift, u8* matrix, i32 radius) {
  if (!matrix || radius < 0 || radius > 4096 || shift > 8) return;
  const i64 S = 1 << shift, R = radius * S, d = 2 * radius + 1;
  const i64 add = 256 >> (2 * shift);
  std::memset(matrix, 0, static_cast<size_t>(d) * d);
  auto put = [](u8& p, i64 v) { p = static_cast<u8>(p + v > 255 ? 255 : p + v); };
  for (i64 sy = -R; sy < S; ++sy) {
    const i64 lim = R * R - sy * sy;
    if (lim <= 0 || add == 0) continue;
    i64 m = static_cast<i64>(std::sqrt(static_cast<f64>(lim - 1)));
    while (m * m > lim - 1) --m;
    while ((m + 1) * (m + 1) <= lim - 1) ++m;
    // Samples -m .. min(m, S - 1), counted from the quadrant's left edge.
    const i64 a = R - m, b = R + (m < S - 1 ? m : S - 1);
    u8* row = matrix + ((sy + R) / S) * d;
    const i64 ca = a / S, cb = b / S;
    if (ca == cb) {
      put(row[ca], add * (b - a + 1));
      continue;
    }
    put(row[ca], add * ((ca + 1) * S - a));
    for (i64 c = ca + 1; c < cb; ++c) put(row[c], add * S);
    put(row[cb], add * (b - cb * S + 1));
  }
  for (i64 r = 0; r <= radius; ++r)
    for (i64 c = 0; c <= radius; ++c) {
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
  if (width >= 2) {
    if (!m_strokeDiscs.Use(width)) return FailFrom(m_strokeDiscs, klErrNoMemory);
    const u64 stamps = discs.Count();
    if (stamps > 0xFFFFFFFFull) return Fail(klErrNoMemory);
    for (u32 a = 0; a < 256; ++a)
      if (discs.used[a] && !m_strokeDiscs.MakeRuns(static_cast<u8>(a))) return FailFrom(m_strokeDiscs, klErrNoMemory);
    for (u32 a = 0; a < 256; ++a) {
      if (!discs.used[a]) continue;
      discs.rows[a] = m_strokeDiscs.Rows(static_cast<u8>(a));
      discs.runs[a] = m_strokeDiscs.Runs(static_cast<u8>(a));
    }
    u8* sb = i_Grow(m_strokeTables, StrokeDiscs::StampBytes(stamps));
    if (!sb) return 0;
    discs.Fill(sb, stamps);
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
