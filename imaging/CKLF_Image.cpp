#include "CKLF_Image.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

inline u8 Component(kltRGBA8 c, int plane) {
  switch (plane) {
    case 0: return c.red;
    case 1: return c.green;
    case 2: return c.blue;
    default: return c.alpha;
  }
}

// Plane pointers and size of an image, for the pixel helpers below.
struct PlaneView {
  u8* p[4];
  int colours;    // 3
  bool hasAlpha;  // RGBA
  i32 w, h;
  size_t Off(i32 x, i32 y) const { return static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x); }
};

inline bool InRect(const kltRECT_s& r, i32 x, i32 y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// Blends one pixel of a 1-pixel drawing operation; clip is already cut to
// the image.
void internal_BlendPixel(const PlaneView& v, i32 x, i32 y, kltRGBA8 c, const kltRECT_s& clip) {
  if (!InRect(clip, x, y)) return;
  const u32 a = c.alpha;
  if (a == 0) return;
  const size_t o = v.Off(x, y);
  if (a == 255) {
    v.p[0][o] = c.red;
    v.p[1][o] = c.green;
    v.p[2][o] = c.blue;
    if (v.hasAlpha) v.p[3][o] = 255;
    return;
  }
  for (int k = 0; k < 3; ++k) {
    u8& d = v.p[k][o];
    d = static_cast<u8>((a * Component(c, k) + (255 - a) * d) >> 8);
  }
  if (v.hasAlpha) {
    u8& d = v.p[3][o];
    d = static_cast<u8>(255 - (((255 - d) * (255 - a)) >> 8));
  }
}

void internal_BlendAlphaPixel(const PlaneView& v, i32 x, i32 y, u8 value, const kltRECT_s& clip) {
  if (!InRect(clip, x, y)) return;
  v.p[3][v.Off(x, y)] = value;
}

// Coverage-weighted pixel of DrawAALine.
void internal_BlendAAPixel(const PlaneView& v, i32 x, i32 y, kltRGBA8 c, double dist, u8 unionAlpha,
                           const kltRECT_s& clip) {
  if (!InRect(clip, x, y)) return;
  double f = 1.0 - 2.0 * std::fabs(dist) / 3.0;
  if (f <= 0.0) return;  // beyond 1.5 pixels the filter has no weight
  const u32 i = static_cast<u32>(f * f * 255.0);
  const u32 e = (i * c.alpha) >> 8;
  if (e == 0) return;
  const size_t o = v.Off(x, y);
  if (e >= 255) {
    v.p[0][o] = c.red;
    v.p[1][o] = c.green;
    v.p[2][o] = c.blue;
    if (v.hasAlpha) v.p[3][o] = 255;
    return;
  }
  for (int k = 0; k < 3; ++k) {
    u8& d = v.p[k][o];
    d = static_cast<u8>((Component(c, k) * e + d * (255 - e)) >> 8);
  }
  if (v.hasAlpha) {
    u8& d = v.p[3][o];
    if (unionAlpha)
      d = static_cast<u8>(255 - (((255 - e) * (255 - d)) >> 8));
    else
      d = static_cast<u8>(std::max<u32>(d, e));
  }
}

// Walks the 1-pixel line of DrawLine: the minor coordinate in 16.16 fixed
// point, starting half a pixel in.
template <class Plot>
void WalkLine(i32 x1, i32 y1, i32 x2, i32 y2, Plot plot) {
  const i32 dx = x2 - x1, dy = y2 - y1;
  const bool xMajor = std::abs(dy) <= std::abs(dx);
  const i32 majStart = xMajor ? x1 : y1;
  const i32 majEnd = xMajor ? x2 : y2;
  const i32 majDelta = majEnd - majStart;
  const i64 minStart = xMajor ? y1 : x1;
  const i64 minDelta = xMajor ? dy : dx;
  i64 acc = minStart * 65536 + 0x8000;
  if (majDelta == 0) {  // a single point
    plot(x1, y1);
    return;
  }
  // Per step of one pixel along the major axis, whichever way it runs.
  const i64 inc = (minDelta * 65536) / std::abs(majDelta);
  const i32 step = majDelta > 0 ? 1 : -1;
  for (i32 m = majStart;; m += step) {
    const i32 minor = static_cast<i32>(acc >> 16);
    if (xMajor)
      plot(m, minor);
    else
      plot(minor, m);
    if (m == majEnd) break;
    acc += inc;
  }
}

}  // namespace

CKLF_Image::CKLF_Image() : m_pixels(nullptr), m_mode(0), m_width(0), m_height(0) {}

CKLF_Image::~CKLF_Image() { Clean(); }

u8 CKLF_Image::PlaneCount(u8 mode) {
  switch (mode) {
    case 1: return 3;
    case 2:
    case 3: return 4;
    case 4: return 5;
    case 5: return 1;
    case 6: return 2;
    default: return 0;
  }
}

void CKLF_Image::Clean() {
  delete m_pixels;
  m_pixels = nullptr;
  m_mode = 0;
  m_width = 0;
  m_height = 0;
  ResetError();
}

u8 CKLF_Image::i_NewBlock(CKLF_Mem*& block, u64 bytes) {
  block = nullptr;
  if (!klFits32(bytes)) return Fail(klErrNoMemory);
  CKLF_Mem* m = new (std::nothrow) CKLF_Mem();
  if (!m) return Fail(klErrNoMemory);
  if (!m->alloc(static_cast<u32>(bytes))) {
    FailFrom(*m, klErrNoMemory);
    delete m;
    return 0;
  }
  block = m;
  return 1;
}

void CKLF_Image::i_ReplaceBlock(CKLF_Mem* block, u16 w, u16 h) {
  delete m_pixels;
  m_pixels = block;
  m_width = w;
  m_height = h;
}

u8 CKLF_Image::Create(u16 w, u16 h, u8 mode) {
  Clean();
  if (w == 0 || h == 0) return 0;
  if (mode != 1 && mode != 2) return Fail(klErrBadArg);
  CKLF_Mem* block;
  if (!i_NewBlock(block, static_cast<u64>(w) * h * PlaneCount(mode))) return 0;
  m_pixels = block;
  m_mode = mode;
  m_width = w;
  m_height = h;
  return 1;
}

u8 CKLF_Image::Create(CKLF_Image* src, u8 mode) {
  if (!src) return Fail(klErrBadArg);
  if (mode == 0) mode = src->m_mode;
  if (mode != 1 && mode != 2) return Fail(klErrBadArg);
  if (src == this) return ChangeImageMode(mode);
  if (!src->m_pixels) {
    Clean();
    return Fail(klErrEmpty);
  }
  if (!Create(src->m_width, src->m_height, mode)) return 0;
  const size_t plane = static_cast<size_t>(m_width) * m_height;
  u8* d = m_pixels->GetPtr();
  const u8* s = src->m_pixels->GetPtr();
  if (mode == src->m_mode) {
    std::memcpy(d, s, plane * PlaneCount(mode));
  } else {
    std::memcpy(d, s, plane * 3);
    if (mode == 2) std::memset(d + 3 * plane, 255, plane);
  }
  return 1;
}

u8 CKLF_Image::ChangeImageMode(u8 mode) {
  if (!m_pixels) return Fail(klErrEmpty);
  if (mode == m_mode) return 1;
  const u64 plane = static_cast<u64>(m_width) * m_height;
  if (m_mode == 2 && mode == 1) {
    if (!m_pixels->Resize(static_cast<u32>(plane * 3))) return FailFrom(*m_pixels, klErrNoMemory);
    m_mode = 1;
    return 1;
  }
  if (m_mode == 1 && mode == 2) {
    if (!klFits32(plane * 4)) return Fail(klErrNoMemory);
    if (!m_pixels->Resize(static_cast<u32>(plane * 4))) return FailFrom(*m_pixels, klErrNoMemory);
    std::memset(m_pixels->GetPtr() + plane * 3, 255, static_cast<size_t>(plane));
    m_mode = 2;
    return 1;
  }
  return Fail(klErrBadArg);
}

kltRGBA8 CKLF_Image::GetPixel(u16 x, u16 y) {
  kltRGBA8 c = {0, 0, 0, 0};
  if (!m_pixels) return Fail(klErrEmpty, c);
  if (x >= m_width || y >= m_height) return Fail(klErrBadArg, c);
  const size_t plane = static_cast<size_t>(m_width) * m_height;
  const u8* p = m_pixels->GetPtr() + static_cast<size_t>(y) * m_width + x;
  c.red = p[0];
  c.green = p[plane];
  c.blue = p[2 * plane];
  c.alpha = m_mode == 2 ? p[3 * plane] : 255;
  return c;
}

kltRGBA8 CKLF_Image::GetPixel(kltPOS p) {
  if (m_pixels && (p.x < 0 || p.y < 0 || p.x >= m_width || p.y >= m_height)) {
    return Fail(klErrBadArg, kltRGBA8{0, 0, 0, 0});
  }
  return GetPixel(static_cast<u16>(p.x), static_cast<u16>(p.y));
}

kltRGBA8 CKLF_Image::SetPixel(u16 x, u16 y, kltRGBA8 c) {
  kltRGBA8 old = GetPixel(x, y);
  if (!m_pixels || x >= m_width || y >= m_height) return old;
  const size_t plane = static_cast<size_t>(m_width) * m_height;
  u8* p = m_pixels->GetPtr() + static_cast<size_t>(y) * m_width + x;
  p[0] = c.red;
  p[plane] = c.green;
  p[2 * plane] = c.blue;
  if (m_mode == 2) p[3 * plane] = c.alpha;
  return old;
}

kltRGBA8 CKLF_Image::SetPixel(kltPOS p, kltRGBA8 c) {
  if (m_pixels && (p.x < 0 || p.y < 0 || p.x >= m_width || p.y >= m_height)) {
    return Fail(klErrBadArg, kltRGBA8{0, 0, 0, 0});
  }
  return SetPixel(static_cast<u16>(p.x), static_cast<u16>(p.y), c);
}

u8* CKLF_Image::GetPixelPtr(u16 x, u16 y) {
  if (!m_pixels) return Fail(klErrEmpty, nullptr);
  if (x >= m_width || y >= m_height) return Fail(klErrBadArg, nullptr);
  return m_pixels->GetPtr() + static_cast<size_t>(y) * m_width + x;
}

u8 CKLF_Image::GetImageChannels(u8** planes, u32& stride) {
  const u8 n = PlaneCount(m_mode);
  if (n == 0 || !m_pixels || !planes) return Fail(klErrBadArg);
  const size_t plane = static_cast<size_t>(m_width) * m_height;
  for (u8 i = 0; i < n; ++i) planes[i] = m_pixels->GetPtr() + i * plane;
  stride = m_width;
  return n;
}

u8 CKLF_Image::i_ClipRect(kltRECT_s r, kltRECT_s& out) const {
  if (klIsNullRect(r)) {
    out = {0, 0, m_width, m_height};
  } else {
    out.left = std::max<i32>(r.left, 0);
    out.top = std::max<i32>(r.top, 0);
    out.right = std::min<i32>(r.right, m_width);
    out.bottom = std::min<i32>(r.bottom, m_height);
  }
  return out.left < out.right && out.top < out.bottom ? 1 : 0;
}

u8 CKLF_Image::Set(kltRGBA8 c, u8 planeMask, kltRECT_s r) {
  if (!m_pixels) return Fail(klErrEmpty);
  kltRECT_s cr;
  if (!i_ClipRect(r, cr)) return 1;
  const size_t plane = static_cast<size_t>(m_width) * m_height;
  const u8 n = PlaneCount(m_mode);
  const size_t run = static_cast<size_t>(cr.right - cr.left);
  for (u8 k = 0; k < n && k < 4; ++k) {
    if (!(planeMask & (1u << k))) continue;
    const u8 v = Component(c, k);
    u8* base = m_pixels->GetPtr() + k * plane;
    for (i32 y = cr.top; y < cr.bottom; ++y)
      std::memset(base + static_cast<size_t>(y) * m_width + cr.left, v, run);
  }
  return 1;
}

u8 CKLF_Image::Set(u16 w, u16 h, kltRGBA8 c1, kltRGBA8 c2, kltRECT_s r) {
  if (!m_pixels) return Fail(klErrEmpty);
  if (w == 0 || h == 0) return Fail(klErrBadArg);
  kltRECT_s cr;
  if (!i_ClipRect(r, cr)) return 1;
  const size_t plane = static_cast<size_t>(m_width) * m_height;
  const u8 n = PlaneCount(m_mode);
  for (u8 k = 0; k < n; ++k) {
    const u8 v1 = Component(c1, k), v2 = Component(c2, k);
    u8* base = m_pixels->GetPtr() + k * plane;
    for (i32 y = cr.top; y < cr.bottom; ++y) {
      u8* row = base + static_cast<size_t>(y) * m_width;
      const bool oddRow = ((y - cr.top) / h) & 1;
      for (i32 x = cr.left; x < cr.right;) {
        const i32 cell = (x - cr.left) / w;
        const i32 end = std::min<i32>(cr.right, cr.left + (cell + 1) * w);
        const bool useC2 = ((cell & 1) != 0) == oddRow;
        std::memset(row + x, useC2 ? v2 : v1, static_cast<size_t>(end - x));
        x = end;
      }
    }
  }
  return 1;
}

u8 CKLF_Image::Tile(CKLF_Image* src, kltRECT_s srcRect, kltRECT_s dstRect) {
  if (!m_pixels) return Fail(klErrEmpty);
  if (!src || !src->m_pixels || src == this) return Fail(klErrBadArg);
  kltRECT_s dr, sr;
  if (!i_ClipRect(dstRect, dr) || !src->i_ClipRect(srcRect, sr)) return 1;
  const size_t dPlane = static_cast<size_t>(m_width) * m_height;
  const size_t sPlane = static_cast<size_t>(src->m_width) * src->m_height;
  const u8 dn = PlaneCount(m_mode), sn = PlaneCount(src->m_mode);
  const i32 sw = sr.right - sr.left, sh = sr.bottom - sr.top;
  const i32 dw = dr.right - dr.left;
  for (u8 k = 0; k < dn; ++k) {
    u8* dBase = m_pixels->GetPtr() + k * dPlane;
    if (k < sn) {
      const u8* sBase = src->m_pixels->GetPtr() + k * sPlane;
      for (i32 y = dr.top; y < dr.bottom; ++y) {
        const i32 sy = sr.top + (y - dr.top) % sh;
        const u8* sRow = sBase + static_cast<size_t>(sy) * src->m_width + sr.left;
        u8* dRow = dBase + static_cast<size_t>(y) * m_width + dr.left;
        for (i32 x = 0; x < dw; x += sw)
          std::memcpy(dRow + x, sRow, static_cast<size_t>(std::min(sw, dw - x)));
      }
    } else if (k == 3 && m_mode == 2) {
      for (i32 y = dr.top; y < dr.bottom; ++y)
        std::memset(dBase + static_cast<size_t>(y) * m_width + dr.left, 255, static_cast<size_t>(dw));
    }
  }
  return 1;
}

u8 CKLF_Image::Set(CKLF_Image* src, i32 sx, i32 sy, kltRECT_s dstRect) {
  if (!m_pixels) return Fail(klErrEmpty);
  if (!src || !src->m_pixels) return Fail(klErrBadArg);
  kltRECT_s s, d;
  if (!i_SourceRegion(src, sx, sy, dstRect, s, d)) return 1;
  return Tile(src, s, d);
}

u8 CKLF_Image::i_SourceRegion(const CKLF_Image* src, i32 sx, i32 sy, kltRECT_s dstRect, kltRECT_s& s,
                              kltRECT_s& d) const {
  kltRECT_s dr;
  if (klIsNullRect(dstRect)) dstRect = {0, 0, m_width, m_height};
  if (!i_ClipRect(dstRect, dr)) return 0;
  // The source start moves as far as clipping moved the corner.
  i64 x0 = static_cast<i64>(sx) + (dr.left - static_cast<i64>(dstRect.left));
  i64 y0 = static_cast<i64>(sy) + (dr.top - static_cast<i64>(dstRect.top));
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x0 >= src->m_width || y0 >= src->m_height) return 0;
  const i32 w = static_cast<i32>(std::min<i64>(dr.right - dr.left, src->m_width - x0));
  const i32 h = static_cast<i32>(std::min<i64>(dr.bottom - dr.top, src->m_height - y0));
  s = {static_cast<i32>(x0), static_cast<i32>(y0), static_cast<i32>(x0) + w, static_cast<i32>(y0) + h};
  d = {dr.left, dr.top, dr.left + w, dr.top + h};
  return 1;
}

u8 CKLF_Image::Blend(CKLF_Image* src, i32 sx, i32 sy, kltRECT_s dstRect, u8 opacity) {
  if (!m_pixels) return Fail(klErrEmpty);
  if (!src || !src->m_pixels || src == this) return Fail(klErrBadArg);
  if (src->m_mode != 2) return Set(src, sx, sy, dstRect);
  if (m_mode != 1 && m_mode != 2) return Fail(klErrBadArg);
  kltRECT_s sr, dr;
  if (!i_SourceRegion(src, sx, sy, dstRect, sr, dr)) return 1;
  const i32 x0 = sr.left, y0 = sr.top;
  const i32 w = dr.right - dr.left, h = dr.bottom - dr.top;

  const size_t dPlane = static_cast<size_t>(m_width) * m_height;
  const size_t sPlane = static_cast<size_t>(src->m_width) * src->m_height;
  u8* dBase = m_pixels->GetPtr();
  const u8* sBase = src->m_pixels->GetPtr();
  const i32 op = opacity;
  for (i32 j = 0; j < h; ++j) {
    const size_t dOff = static_cast<size_t>(dr.top + j) * m_width + dr.left;
    const size_t sOff = static_cast<size_t>(y0 + j) * src->m_width + static_cast<size_t>(x0);
    const u8* sa = sBase + 3 * sPlane + sOff;
    for (int k = 0; k < 3; ++k) {
      u8* d = dBase + k * dPlane + dOff;
      const u8* s = sBase + k * sPlane + sOff;
      if (op > 99) {
        for (i32 i = 0; i < w; ++i) {
          const i32 a = sa[i];
          d[i] = static_cast<u8>((d[i] * (255 - a) + a * s[i]) >> 8);
        }
      } else {
        for (i32 i = 0; i < w; ++i) {
          const i32 a = sa[i];
          d[i] = static_cast<u8>(d[i] - (d[i] - s[i]) * a * op / 25500);
        }
      }
    }
    if (m_mode == 2) {
      u8* d = dBase + 3 * dPlane + dOff;
      for (i32 i = 0; i < w; ++i) d[i] = static_cast<u8>(d[i] * sa[i] / 255);
    }
  }
  return 1;
}

// ---- geometry ----

namespace {
// Quarter-turn copy in 64 x 64 tiles so that both sides stay in cache.
// dst(nx, ny) = src(map(nx, ny)) in every plane; the source planes are
// srcW x srcH, the new ones srcH x srcW.
template <class Map>
void TurnPlanes(u8* dst, const u8* src, u8 planes, i32 srcW, i32 srcH, Map map) {
  const i32 T = 64, nw = srcH, nh = srcW;
  const size_t plane = static_cast<size_t>(srcW) * srcH;
  for (u8 k = 0; k < planes; ++k, dst += plane, src += plane)
    for (i32 by = 0; by < nh; by += T)
      for (i32 bx = 0; bx < nw; bx += T) {
        const i32 ey = std::min(nh, by + T), ex = std::min(nw, bx + T);
        for (i32 ny = by; ny < ey; ++ny) {
          u8* d = dst + static_cast<size_t>(ny) * nw;
          for (i32 nx = bx; nx < ex; ++nx) {
            i32 ox, oy;
            map(nx, ny, ox, oy);
            d[nx] = src[static_cast<size_t>(oy) * srcW + ox];
          }
        }
      }
}
}  // namespace

u8 CKLF_Image::i_NewPixelBlock(CKLF_Mem*& block) {
  block = nullptr;
  if (!m_pixels) return Fail(klErrEmpty);
  return i_NewBlock(block, static_cast<u64>(m_width) * m_height * PlaneCount(m_mode));
}

u8 CKLF_Image::Rotate90() {
  CKLF_Mem* block;
  if (!i_NewPixelBlock(block)) return 0;
  const i32 W = m_width, H = m_height;
  TurnPlanes(block->GetPtr(), m_pixels->GetPtr(), PlaneCount(m_mode), W, H, [W](i32 nx, i32 ny, i32& ox, i32& oy) {
    ox = W - 1 - ny;
    oy = nx;
  });
  i_ReplaceBlock(block, m_height, m_width);
  return 1;
}

u8 CKLF_Image::Rotate270() {
  CKLF_Mem* block;
  if (!i_NewPixelBlock(block)) return 0;
  const i32 W = m_width, H = m_height;
  TurnPlanes(block->GetPtr(), m_pixels->GetPtr(), PlaneCount(m_mode), W, H, [H](i32 nx, i32 ny, i32& ox, i32& oy) {
    ox = ny;
    oy = H - 1 - nx;
  });
  i_ReplaceBlock(block, m_height, m_width);
  return 1;
}

u8 CKLF_Image::Rotate180() {
  CKLF_Mem* block;
  if (!i_NewPixelBlock(block)) return 0;
  const size_t plane = static_cast<size_t>(m_width) * m_height;
  for (u8 k = 0; k < PlaneCount(m_mode); ++k) {
    const u8* s = m_pixels->GetPtr() + k * plane;
    u8* d = block->GetPtr() + k * plane;
    for (size_t i = 0; i < plane; ++i) d[i] = s[plane - 1 - i];
  }
  i_ReplaceBlock(block, m_width, m_height);
  return 1;
}

u8 CKLF_Image::FlipVert() {
  CKLF_Mem* block;
  if (!i_NewPixelBlock(block)) return 0;
  const size_t plane = static_cast<size_t>(m_width) * m_height;
  for (u8 k = 0; k < PlaneCount(m_mode); ++k) {
    const u8* s = m_pixels->GetPtr() + k * plane;
    u8* d = block->GetPtr() + k * plane;
    for (i32 y = 0; y < m_height; ++y)
      std::memcpy(d + static_cast<size_t>(y) * m_width, s + static_cast<size_t>(m_height - 1 - y) * m_width,
                  m_width);
  }
  i_ReplaceBlock(block, m_width, m_height);
  return 1;
}

u8 CKLF_Image::FlipHor() {
  if (!m_pixels) return Fail(klErrEmpty);
  const u8 n = PlaneCount(m_mode);
  u8* p = m_pixels->GetPtr();
  for (size_t r = 0; r < static_cast<size_t>(n) * m_height; ++r) std::reverse(p + r * m_width, p + (r + 1) * m_width);
  return 1;
}

// ---- drawing ----

u8 CKLF_Image::DrawLine(i16 x1, i16 y1, i16 x2, i16 y2, kltRGBA8 c, kltRECT_s clip) {
  if (!m_pixels) return Fail(klErrEmpty);
  kltRECT_s cr;
  if (!i_ClipRect(clip, cr)) return 1;
  u8* planes[5];
  u32 stride;
  if (!GetImageChannels(planes, stride)) return 0;
  const PlaneView v = {{planes[0], planes[1], planes[2], planes[3]}, 3, m_mode == 2, m_width, m_height};
  WalkLine(x1, y1, x2, y2, [&](i32 x, i32 y) { internal_BlendPixel(v, x, y, c, cr); });
  return 1;
}

u8 CKLF_Image::DrawLine(kltPOS p1, kltPOS p2, kltRGBA8 c, kltRECT_s clip) {
  return DrawLine(static_cast<i16>(p1.x), static_cast<i16>(p1.y), static_cast<i16>(p2.x), static_cast<i16>(p2.y), c,
                  clip);
}

u8 CKLF_Image::DrawAlphaLine(i16 x1, i16 y1, i16 x2, i16 y2, u8 value, kltRECT_s clip) {
  if (!m_pixels) return Fail(klErrEmpty);
  if (m_mode != 2) return 1;
  kltRECT_s cr;
  if (!i_ClipRect(clip, cr)) return 1;
  u8* planes[5];
  u32 stride;
  if (!GetImageChannels(planes, stride)) return 0;
  const PlaneView v = {{planes[0], planes[1], planes[2], planes[3]}, 3, true, m_width, m_height};
  WalkLine(x1, y1, x2, y2, [&](i32 x, i32 y) { internal_BlendAlphaPixel(v, x, y, value, cr); });
  return 1;
}

u8 CKLF_Image::DrawRect(kltPOS p1, kltPOS p2, kltRGBA8 c, kltRECT_s clip) {
  if (!m_pixels) return Fail(klErrEmpty);
  if (!DrawLine(p1, kltPOS{p2.x, p1.y}, c, clip) || !DrawLine(kltPOS{p2.x, p1.y}, p2, c, clip) ||
      !DrawLine(p2, kltPOS{p1.x, p2.y}, c, clip) || !DrawLine(kltPOS{p1.x, p2.y}, p1, c, clip))
    return 0;
  return 1;
}

u8 CKLF_Image::DrawRect(kltRECT_s r, kltRGBA8 c, kltRECT_s clip) {
  // Right and bottom are exclusive: the outline runs on the last pixels
  // inside. Coordinates are cut to 16 bits anyway, so wrap instead of
  // overflowing.
  const i32 right = static_cast<i32>(static_cast<u32>(r.right) - 1u);
  const i32 bottom = static_cast<i32>(static_cast<u32>(r.bottom) - 1u);
  return DrawRect(kltPOS{r.left, r.top}, kltPOS{right, bottom}, c, clip);
}

u8 CKLF_Image::DrawCircle(i16 cx, i16 cy, i16 r, kltRGBA8 c, kltRECT_s clip) {
  if (!m_pixels) return Fail(klErrEmpty);
  kltRECT_s cr;
  if (!i_ClipRect(clip, cr)) return 1;
  u8* planes[5];
  u32 stride;
  if (!GetImageChannels(planes, stride)) return 0;
  const PlaneView v = {{planes[0], planes[1], planes[2], planes[3]}, 3, m_mode == 2, m_width, m_height};
  i32 d = 3 - 2 * static_cast<i32>(r);
  i32 x = 0, y = r;
  while (x <= y) {
    internal_BlendPixel(v, cx + x, cy + y, c, cr);
    internal_BlendPixel(v, cx - x, cy + y, c, cr);
    internal_BlendPixel(v, cx + x, cy - y, c, cr);
    internal_BlendPixel(v, cx - x, cy - y, c, cr);
    internal_BlendPixel(v, cx + y, cy + x, c, cr);
    internal_BlendPixel(v, cx - y, cy + x, c, cr);
    internal_BlendPixel(v, cx + y, cy - x, c, cr);
    internal_BlendPixel(v, cx - y, cy - x, c, cr);
    if (d >= 0) {
      d += 4 * (x - y) + 10;
      --y;
    } else {
      d += 4 * x + 6;
    }
    ++x;
  }
  return 1;
}

u8 CKLF_Image::DrawCircle(kltPOS centre, i16 r, kltRGBA8 c, kltRECT_s clip) {
  return DrawCircle(static_cast<i16>(centre.x), static_cast<i16>(centre.y), r, c, clip);
}

u8 CKLF_Image::DrawAALine(i16 x1, i16 y1, i16 x2, i16 y2, kltRGBA8 c, kltRECT_s clip, u8 unionAlpha) {
  if (!m_pixels) return Fail(klErrEmpty);
  kltRECT_s cr;
  if (!i_ClipRect(clip, cr)) return 1;
  u8* planes[5];
  u32 stride;
  if (!GetImageChannels(planes, stride)) return 0;
  const PlaneView v = {{planes[0], planes[1], planes[2], planes[3]}, 3, m_mode == 2, m_width, m_height};

  i32 dx = x2 - x1, dy = y2 - y1;
  if (dx == 0 && dy == 0) {  // one point: the centre pixel alone
    internal_BlendAAPixel(v, x1, y1, c, 0.0, unionAlpha, cr);
    return 1;
  }
  const bool xMajor = std::abs(dy) <= std::abs(dx);
  i32 ma0 = xMajor ? x1 : y1, ma1 = xMajor ? x2 : y2;
  i32 mi0 = xMajor ? y1 : x1, mi1 = xMajor ? y2 : x2;
  if (ma1 < ma0) {  // walk forward along the major axis
    std::swap(ma0, ma1);
    std::swap(mi0, mi1);
  }
  const i32 du = ma1 - ma0;            // major delta, > 0
  const i32 dm = std::abs(mi1 - mi0);  // minor delta
  const i32 s = mi1 >= mi0 ? 1 : -1;
  const double k = 1.0 / (2.0 * std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy));
  const double twoDuK = 2.0 * du * k;
  auto plot3 = [&](i32 ma, i32 mi, double D) {
    if (xMajor) {
      internal_BlendAAPixel(v, ma, mi, c, D, unionAlpha, cr);
      internal_BlendAAPixel(v, ma, mi + 1, c, twoDuK - D, unionAlpha, cr);
      internal_BlendAAPixel(v, ma, mi - 1, c, twoDuK + D, unionAlpha, cr);
    } else {
      internal_BlendAAPixel(v, mi, ma, c, D, unionAlpha, cr);
      internal_BlendAAPixel(v, mi + 1, ma, c, twoDuK - D, unionAlpha, cr);
      internal_BlendAAPixel(v, mi - 1, ma, c, twoDuK + D, unionAlpha, cr);
    }
  };
  i32 d = 2 * dm - du;
  i32 ma = ma0, mi = mi0;
  plot3(ma, mi, 0.0);
  while (ma < ma1) {
    i32 twoVdu;
    if (d < 0) {
      twoVdu = d + du;
      d += 2 * dm;
    } else {
      twoVdu = d - du;
      d += 2 * (dm - du);
      mi += s;
    }
    ++ma;
    plot3(ma, mi, s * twoVdu * k);
  }
  return 1;
}

u8 CKLF_Image::DrawAALine(kltPOS p1, kltPOS p2, kltRGBA8 c, kltRECT_s clip, u8 unionAlpha) {
  return DrawAALine(static_cast<i16>(p1.x), static_cast<i16>(p1.y), static_cast<i16>(p2.x), static_cast<i16>(p2.y), c,
                    clip, unionAlpha);
}
