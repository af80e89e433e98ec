// The preview's composition of its view into the window's first layer, row
// by row: margin checker outside the displayed image, the image over the
// image checker inside, wash-out and the mask's hatch.
#include <algorithm>
#include <cstring>

#include "CKLF_CtrlPreview.h"

namespace {

// Kept buffers grow and never shrink.
u8 Grow(CKLF_Mem& m, u64 bytes) {
  if (m.GetSize() >= bytes) return 1;
  return klFits32(bytes) && m.alloc(static_cast<u32>(bytes)) ? 1 : 0;
}

// Each colour channel over the checker: alpha 0 the checker, 255 the
// colour, else k - ((k - c) a >> 8) (flooring shift).
void BlendRun(u8* __restrict d, const u8* __restrict c, const u8* __restrict a, const u8* __restrict k, i32 n) {
  for (i32 i = 0; i < n; ++i) {
    const i32 mixed = k[i] - (((k[i] - c[i]) * a[i]) >> 8);
    d[i] = static_cast<u8>(a[i] == 255 ? c[i] : mixed);
  }
}

void WashRun(u8* c, i32 n) {
  for (i32 i = 0; i < n; ++i) c[i] = static_cast<u8>((c[i] >> 1) + 128);
}

}  // namespace

// Checker rows: 4 (image and margin, two phases) x 3 planes; sampled row:
// R, G, B, A, mask; one image column per view column; the refining sums of
// one plane, up to 16 image columns per view column.
u8 CKLF_CtrlPreview::i_Buffers() {
  const u64 vw = static_cast<u64>(i_ViewW());
  if (!Grow(m_checker, 12 * vw) || !Grow(m_row, 5 * vw) || !Grow(m_columns, 4 * vw) ||
      !Grow(m_sums, 16 * vw * sizeof(u16)))
    return Fail(klErrNoMemory);
  return 1;
}

// Squares of 8 x 8 displayed pixels fixed to the displayed image's grid:
// colour A where column plus row index is even.
void CKLF_CtrlPreview::i_BuildCheckers() {
  const i32 vw = i_ViewW();
  const kltRGBA8 colours[4][2] = {{m_imageA, m_imageB}, {m_imageB, m_imageA}, {m_outsideA, m_outsideB},
                                  {m_outsideB, m_outsideA}};
  for (u32 row = 0; row < 4; ++row)
    for (i32 i = 0; i < vw; ++i) {
      const kltRGBA8& c = colours[row][((i + m_offX) >> 3) & 1];
      u8* p = m_checker.GetPtr() + static_cast<u64>(row) * 3 * vw + i;
      p[0] = c.red;
      p[vw] = c.green;
      p[2 * vw] = c.blue;
    }
}

void CKLF_CtrlPreview::i_BuildColumns(i32 xa, i32 n) {
  u32* cols = reinterpret_cast<u32*>(m_columns.GetPtr());
  const i32 shift = 4 - m_zoom;
  for (i32 i = 0; i < n; ++i) {
    const i32 dx = xa + i + m_offX;
    cols[i] = static_cast<u32>(shift >= 0 ? dx << shift : dx >> -shift);
  }
}

// The nearest image pixel of every view column of image row iy.
void CKLF_CtrlPreview::i_SampleRow(i32 iy, i32 n) {
  u8* planes[5];
  u32 w = 0;
  m_image->GetImageChannels(planes, w);
  const i32 vw = i_ViewW();
  const u32* cols = reinterpret_cast<const u32*>(m_columns.GetPtr());
  const u64 at = static_cast<u64>(iy) * w;
  for (u32 p = 0; p < 4; ++p) {
    const u8* src = planes[p] + at;
    u8* dst = m_row.GetPtr() + static_cast<u64>(p) * vw;
    if (m_zoom == 4) std::memcpy(dst, src + cols[0], static_cast<size_t>(n));
    else
      for (i32 i = 0; i < n; ++i) dst[i] = src[cols[i]];
  }
  if (!m_mask) return;
  const u8* src = m_mask + static_cast<u64>(iy) * m_maskStride;
  u8* dst = m_row.GetPtr() + 4 * static_cast<u64>(vw);
  for (i32 i = 0; i < n; ++i) dst[i] = src[cols[i]];
}

// Below 1:1: the mean of the b x b block of image pixels whose top-left
// corner is the sample point (b = 2^(4 - z)), all four planes; the columns
// of the b rows are summed first, then b sums a view pixel. The mask is
// taken at the sample point.
void CKLF_CtrlPreview::i_RefineRow(i32 iy, i32 n) {
  u8* planes[5];
  u32 w = 0;
  m_image->GetImageChannels(planes, w);
  const i32 vw = i_ViewW(), shift = 4 - m_zoom, b = 1 << shift, span = n << shift;
  const u32 first = reinterpret_cast<const u32*>(m_columns.GetPtr())[0];
  u16* sums = reinterpret_cast<u16*>(m_sums.GetPtr());
  for (u32 p = 0; p < 4; ++p) {
    std::fill(sums, sums + span, u16{0});
    for (i32 r = 0; r < b; ++r) {
      const u8* src = planes[p] + static_cast<u64>(iy + r) * w + first;
      for (i32 j = 0; j < span; ++j) sums[j] = static_cast<u16>(sums[j] + src[j]);
    }
    u8* dst = m_row.GetPtr() + static_cast<u64>(p) * vw;
    for (i32 i = 0; i < n; ++i) {
      u32 total = 0;
      for (i32 t = 0; t < b; ++t) total += sums[i * b + t];
      dst[i] = static_cast<u8>(total >> (2 * shift));
    }
  }
  if (!m_mask) return;
  const u32* cols = reinterpret_cast<const u32*>(m_columns.GetPtr());
  const u8* src = m_mask + static_cast<u64>(iy) * m_maskStride;
  u8* dst = m_row.GetPtr() + 4 * static_cast<u64>(vw);
  for (i32 i = 0; i < n; ++i) dst[i] = src[cols[i]];
}

// The sampled row over the image checker into the view columns xa..xa+n;
// masked pixels are washed out and every fourth one along a diagonal,
// fixed to the displayed image, takes the mark colour.
void CKLF_CtrlPreview::i_BlendRow(u8* const* dst, i32 dy, i32 xa, i32 n, u8 parity, u8 washed) {
  const i32 vw = i_ViewW();
  u8* row[5];
  for (u32 p = 0; p < 5; ++p) row[p] = m_row.GetPtr() + static_cast<u64>(p) * vw;
  if (washed) {
    for (u32 c = 0; c < 3; ++c) WashRun(row[c], n);
  } else if (m_mask) {
    for (i32 i = 0; i < n; ++i)
      if (row[4][i])
        for (u32 c = 0; c < 3; ++c) row[c][i] = static_cast<u8>((row[c][i] >> 1) + 128);
  }
  const u8* checker = m_checker.GetPtr() + static_cast<u64>(parity) * 3 * vw + xa;
  for (u32 c = 0; c < 3; ++c) BlendRun(dst[c] + xa, row[c], row[3], checker + static_cast<u64>(c) * vw, n);
  if (!m_mask) return;
  const u8 mark[3] = {m_mark.red, m_mark.green, m_mark.blue};
  for (i32 i = 0; i < n; ++i)
    if (row[4][i] && ((xa + i + m_offX + dy) & 3) == 0)
      for (u32 c = 0; c < 3; ++c) dst[c][xa + i] = mark[c];
}

// Every view pixel once. A row that shows the same image row, checker phase
// and hatch phase as the one above it (magnified views) is copied.
void CKLF_CtrlPreview::i_Compose(u8 washed) {
  u8* planes[5];
  u32 stride = 0;
  if (!m_layer->GetImageChannels(planes, stride)) return;
  const i32 vw = i_ViewW(), vh = i_ViewH();
  const kltPOS lp = m_layer->GetPos();
  const u64 base = static_cast<u64>(m_view.top - lp.y) * stride + static_cast<u32>(m_view.left - lp.x);
  const i32 xa = std::clamp(-m_offX, 0, vw), xb = std::clamp(m_dw - m_offX, 0, vw), n = std::max(0, xb - xa);
  const bool refine = m_refine && m_zoom < 4;
  i_BuildCheckers();
  i_BuildColumns(xa, n);
  i64 lastKey = -1;
  u8* last[3] = {nullptr, nullptr, nullptr};
  for (i32 vy = 0; vy < vh; ++vy) {
    const i32 dy = vy + m_offY;
    const u8 parity = static_cast<u8>((dy >> 3) & 1);
    u8* dst[3];
    for (u32 c = 0; c < 3; ++c) dst[c] = planes[c] + base + static_cast<u64>(vy) * stride;
    const u8* margin = m_checker.GetPtr() + static_cast<u64>(2 + parity) * 3 * vw;
    const bool inside = dy >= 0 && dy < m_dh && n > 0;
    for (u32 c = 0; c < 3; ++c) {
      const u8* m = margin + static_cast<u64>(c) * vw;
      if (!inside) {
        std::memcpy(dst[c], m, static_cast<size_t>(vw));
        continue;
      }
      std::memcpy(dst[c], m, static_cast<size_t>(xa));
      std::memcpy(dst[c] + xb, m + xb, static_cast<size_t>(vw - xb));
    }
    if (!inside) continue;
    const i32 iy = m_zoom >= 4 ? dy >> (m_zoom - 4) : dy << (4 - m_zoom);
    const i64 key = (static_cast<i64>(iy) << 3) | (parity << 2) | (m_mask ? dy & 3 : 0);
    if (key == lastKey) {
      for (u32 c = 0; c < 3; ++c) std::memcpy(dst[c] + xa, last[c] + xa, static_cast<size_t>(n));
    } else {
      if (refine) i_RefineRow(iy, n);
      else i_SampleRow(iy, n);
      i_BlendRow(dst, dy, xa, n, parity, washed);
      lastKey = key;
    }
    for (u32 c = 0; c < 3; ++c) last[c] = dst[c];
  }
}
