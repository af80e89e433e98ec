// Area-weighted resize, integer zoom-out, tiling and convolution masks.
#include <cmath>
#include <cstring>

#include "CKLF_Array.h"
#include "CKLF_ImageFX.h"

namespace {

// One cut of a source interval at whole pixels: the pixel and its weight.
struct Piece {
  u32 pixel;
  f64 weight;
};

// Cuts [start, start + span) at whole pixels; weights are the piece widths,
// times scale when shrinking. Returns the number of pieces written.
u32 CutInterval(f64 start, f64 span, u8 shrinking, f64 scale, u32 size, Piece* out) {
  u32 n = 0;
  f64 pos = start;
  const f64 end = start + span;
  while (pos < end) {
    const f64 f = std::floor(pos);
    const f64 next = f + 1.0;
    const f64 pe = next < end ? next : end;
    const f64 w = pe - pos;
    u32 px = f <= 0.0 ? 0 : (f >= static_cast<f64>(size - 1) ? size - 1 : static_cast<u32>(f));
    if (out) out[n] = {px, shrinking ? w * scale : w};
    ++n;
    pos = pe;
  }
  return n;
}

}  // namespace

void CKLF_ImageFX::i_ResizePlacement(u32& pw, u32& ph, u32& ox, u32& oy, f64& sx, f64& sy, u8 keepAspect) const {
  const u32 sw = m_src.width, sh = m_src.height, dw = m_dst.width, dh = m_dst.height;
  sx = static_cast<f64>(dw) / sw;
  sy = static_cast<f64>(dh) / sh;
  if (!keepAspect) {
    pw = dw;
    ph = dh;
    ox = oy = 0;
    return;
  }
  sx = sy = sx < sy ? sx : sy;
  const kltRECT_s r = FitRect(sw, sh, dw, dh);
  pw = static_cast<u32>(r.right - r.left);
  ph = static_cast<u32>(r.bottom - r.top);
  ox = static_cast<u32>(r.left);
  oy = static_cast<u32>(r.top);
}

kltRECT_s CKLF_ImageFX::FitRect(u32 sw, u32 sh, u32 dw, u32 dh) {
  const f64 sx = static_cast<f64>(dw) / sw, sy = static_cast<f64>(dh) / sh, s = sx < sy ? sx : sy;
  const f64 fw = std::trunc(s * sw), fh = std::trunc(s * sh);
  const u32 pw = fw < 1.0 ? 1 : (fw > dw ? dw : static_cast<u32>(fw));
  const u32 ph = fh < 1.0 ? 1 : (fh > dh ? dh : static_cast<u32>(fh));
  const i32 ox = static_cast<i32>((dw - pw) / 2), oy = static_cast<i32>((dh - ph) / 2);
  return {ox, oy, ox + static_cast<i32>(pw), oy + static_cast<i32>(ph)};
}

void CKLF_ImageFX::i_FillBorder(u8 p, u32 pw, u32 ph, u32 ox, u32 oy) {
  u8* d = m_dst.planes[p];
  const u32 dw = m_dst.width, dh = m_dst.height;
  for (u32 y = 0; y < dh; ++y) {
    u8* row = d + static_cast<u64>(y) * m_dst.stride;
    if (y < oy || y >= oy + ph) {
      std::memset(row, m_fillValue, dw);
    } else {
      std::memset(row, m_fillValue, ox);
      std::memset(row + ox + pw, m_fillValue, dw - ox - pw);
    }
  }
}

u8 CKLF_ImageFX::Resize(u8 keepAspect) {
  if (!i_DescValid(m_src) || !i_DescValid(m_dst) || m_src.count != m_dst.count || m_src.width == 0 ||
      m_src.height == 0 || m_dst.width == 0 || m_dst.height == 0) {
    return Fail(klErrBadArg);
  }
  const u32 planes = m_src.count;
  f64 done = 0.0;
  if (!i_ReportProgress(0.0)) return 0;
  if (m_src.width == m_dst.width && m_src.height == m_dst.height) {
    for (u8 p = 0; p < planes; ++p) {
      i_CopyPlane(p);
      done += 100.0 / planes;
      if (!i_ReportProgress(done)) return 0;
    }
    return 1;
  }
  u32 pw, ph, ox, oy;
  f64 sx, sy;
  i_ResizePlacement(pw, ph, ox, oy, sx, sy, keepAspect);
  const u32 sw = m_src.width, sh = m_src.height, dh = m_dst.height;
  const f64 stepX = 1.0 / sx, stepY = 1.0 / sy;
  const u8 shrinkX = sx < 1.0, shrinkY = sy < 1.0;
  const f64 spanX = shrinkX ? 1.0 / sx : 1.0;
  const f64 spanY = shrinkY ? 1.0 / sy : 1.0;

  // The column cuts are the same on every row: cut them once.
  u64 xCount = 0;
  for (u32 i = 0; i < pw; ++i) xCount += CutInterval(i * stepX, spanX, shrinkX, sx, sw, nullptr);
  const u64 yMax = static_cast<u64>(std::ceil(spanY)) + 2;
  CKLF_Mem work;
  const u64 bytes = (xCount + yMax) * sizeof(Piece) + (pw + 1ull) * sizeof(u32);
  if (!klFits32(bytes) || !work.alloc(static_cast<u32>(bytes))) return Fail(klErrNoMemory);
  Piece* xp = reinterpret_cast<Piece*>(work.GetPtr());
  Piece* yp = xp + xCount;
  u32* xStart = reinterpret_cast<u32*>(yp + yMax);
  u32 fill = 0;
  for (u32 i = 0; i < pw; ++i) {
    xStart[i] = fill;
    fill += CutInterval(i * stepX, spanX, shrinkX, sx, sw, xp + fill);
  }
  xStart[pw] = fill;

  const f64 tick = 100.0 / (static_cast<f64>(planes) * (ph + dh));
  for (u8 p = 0; p < planes; ++p) {
    const u8* src = m_src.planes[p];
    u8* dst = m_dst.planes[p];
    i_FillBorder(p, pw, ph, ox, oy);
    for (u32 b = 0; b < dh - ph; ++b) {
      done += tick;
      if (!i_ReportProgress(done)) return 0;
    }
    f64 y0 = 0.0;
    for (u32 j = 0; j < ph; ++j) {
      // At most ceil(span) + 2 cells meet the interval: yp holds them.
      const u32 yn = CutInterval(y0, spanY, shrinkY, sy, sh, yp);
      u8* drow = dst + static_cast<u64>(oy + j) * m_dst.stride + ox;
      for (u32 i = 0; i < pw; ++i) {
        f64 sum = 0.0;
        for (u32 a = 0; a < yn; ++a) {
          const u8* srow = src + static_cast<u64>(yp[a].pixel) * m_src.stride;
          const f64 wy = yp[a].weight;
          for (u32 q = xStart[i]; q < xStart[i + 1]; ++q) sum += xp[q].weight * wy * srow[xp[q].pixel];
        }
        drow[i] = sum >= 255.0 ? 255 : (sum > 0.0 ? static_cast<u8>(sum) : 0);
      }
      y0 += stepY;
      done += tick;
      if (!i_ReportProgress(done)) return 0;
    }
  }
  if (!i_ReportProgress(100.0)) return 0;
  return 1;
}

u8 CKLF_ImageFX::Resize_Int_ZO(u8 keepAspect) {
  if (!i_DescValid(m_src) || !i_DescValid(m_dst) || m_src.count != m_dst.count || m_src.width == 0 ||
      m_src.height == 0 || m_dst.width == 0 || m_dst.height == 0) {
    return Fail(klErrBadArg);
  }
  if (m_src.width == m_dst.width && m_src.height == m_dst.height) {
    i_CopyAll();
    return 1;
  }
  u32 pw, ph, ox, oy;
  f64 sx, sy;
  i_ResizePlacement(pw, ph, ox, oy, sx, sy, keepAspect);
  if (sx >= 1.0 || sy >= 1.0) return Resize(keepAspect);
  const u32 sw = m_src.width, sh = m_src.height;
  const u64 bw = (sw + pw - 1) / pw, bh = (sh + ph - 1) / ph;
  if (bw * bh >= 6250001ull) return Fail(klErrBadArg);
  // Block bounds; entry 0 is the start of the first block. The ratio is
  // accumulated in doubles and each bound truncated, clamped to the source.
  CKLF_DWordArray X, Y;
  const f64 rx = static_cast<f64>(sw) / pw, ry = static_cast<f64>(sh) / ph;
  auto bounds = [this](CKLF_DWordArray& out, u32 count, f64 ratio, u32 size) -> u8 {
    f64 acc = 0.0;
    for (u32 i = 0; i <= count; ++i) {
      const u32 b = i == 0 ? 0 : (acc >= size ? size : static_cast<u32>(acc));
      if (out.Add(b) < 0) return FailFrom(out, klErrNoMemory);
      acc += ratio;
    }
    return 1;
  };
  if (!bounds(X, pw, rx, sw) || !bounds(Y, ph, ry, sh)) return 0;
  u32 nx = 1, ny = 1;
  while (rx / nx > 32.0) ++nx;
  while (ry / ny > 32.0) ++ny;

  for (u8 p = 0; p < m_src.count; ++p) {
    const u8* src = m_src.planes[p];
    u8* dst = m_dst.planes[p];
    for (u32 j = 0; j < ph; ++j) {
      const u32 r0 = Y[j], r1 = Y[j + 1];
      u8* drow = dst + static_cast<u64>(oy + j) * m_dst.stride + ox;
      for (u32 i = 0; i < pw; ++i) {
        const u32 c0 = X[i], c1 = X[i + 1];
        u64 sum = 0, count = 0;
        for (u32 r = r0; r < r1; r += ny) {
          const u8* srow = src + static_cast<u64>(r) * m_src.stride;
          for (u32 c = c0; c < c1; c += nx) {
            sum += srow[c];
            ++count;
          }
        }
        drow[i] = count ? static_cast<u8>(sum / count) : 0;
      }
    }
    i_FillBorder(p, pw, ph, ox, oy);
  }
  return 1;
}

u8 CKLF_ImageFX::Tile() {
  if (!i_DescValid(m_src) || !i_DescValid(m_dst) || m_src.count != m_dst.count || m_src.width == 0 ||
      m_src.height == 0) {
    return Fail(klErrBadArg);
  }
  const u32 planes = m_src.count, sw = m_src.width, sh = m_src.height, dw = m_dst.width, dh = m_dst.height;
  if (!i_ReportProgress(0.0)) return 0;
  const f64 tick = dh ? 100.0 / (static_cast<f64>(planes) * dh) : 0.0;
  f64 done = 0.0;
  for (u8 p = 0; p < planes; ++p) {
    for (u32 y = 0; y < dh; ++y) {
      const u8* srow = m_src.planes[p] + static_cast<u64>(y % sh) * m_src.stride;
      u8* drow = m_dst.planes[p] + static_cast<u64>(y) * m_dst.stride;
      for (u32 x = 0; x < dw;) {
        const u32 chunk = sw < dw - x ? sw : dw - x;
        std::memmove(drow + x, srow, chunk);
        x += chunk;
      }
      done += tick;
      if (!i_ReportProgress(done)) return 0;
    }
  }
  if (!i_ReportProgress(100.0)) return 0;
  return 1;
}

u8 CKLF_ImageFX::ApplyConvolutionMask(KLFFX_CONVOLUTIONMASK mask, u8 filterAlpha) {
  if (!i_CheckPair()) return 0;
  if (!mask.weights || mask.columns == 0 || mask.rows == 0) return Fail(klErrBadArg);
  u8 planes = m_src.count;
  if (m_src.hasAlpha && !filterAlpha) {
    --planes;
    i_CopyPlane(planes);
  }
  const i64 W = m_src.width, H = m_src.height;
  const i64 cols = mask.columns, rows = mask.rows;
  const i64 hx = cols / 2, hy = rows / 2;
  for (u8 p = 0; p < planes; ++p) {
    const u8* src = m_src.planes[p];
    for (i64 y = 0; y < H; ++y) {
      const i64 r0 = hy - y > 0 ? hy - y : 0;
      const i64 r1 = H - y + hy < rows ? H - y + hy : rows;  // exclusive
      u8* drow = m_dst.planes[p] + y * static_cast<i64>(m_dst.stride);
      for (i64 x = 0; x < W; ++x) {
        const i64 cA = hx - x > 0 ? hx - x : 0;
        const i64 cB = W - x + hx < cols ? W - x + hx : cols;
        i64 ws = 0, vs = 0;
        for (i64 r = r0; r < r1; ++r) {
          const u8* srow = src + (y - hy + r) * static_cast<i64>(m_src.stride) + (x - hx);
          const i16* wrow = mask.weights + r * cols;
          for (i64 c = cA; c < cB; ++c) {
            ws += wrow[c];
            vs += static_cast<i64>(wrow[c]) * srow[c];
          }
        }
        i64 v = ws == 0 ? 0 : vs / ws;
        drow[x] = static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
    }
  }
  return 1;
}

namespace {

u8 Unsharp(CKLF_ImageFX& fx, i16 centre, u8 filterAlpha) {
  i16 w[9] = {-1, -2, -1, -2, centre, -2, -1, -2, -1};
  KLFFX_CONVOLUTIONMASK m = {w, 3, 3};
  return fx.ApplyConvolutionMask(m, filterAlpha);
}

}  // namespace

u8 CKLF_ImageFX::filter_UnsharpenMaskDelicate(u8 filterAlpha) { return Unsharp(*this, 70, filterAlpha); }
u8 CKLF_ImageFX::filter_UnsharpenMaskNormal(u8 filterAlpha) { return Unsharp(*this, 40, filterAlpha); }
u8 CKLF_ImageFX::filter_UnsharpenMaskMore(u8 filterAlpha) { return Unsharp(*this, 20, filterAlpha); }
