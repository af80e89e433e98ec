// Colour effects: HLS correction and colorizing, brightness/contrast,
// colour overlay, invert and the weighted combination of two images.
#include <cstring>

#include "CKLF_ImageFX.h"

namespace {

inline u8 TruncByte(f64 v) {
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<u8>(v);
}

inline u8 ClampInt(i32 v) { return static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Results of a per-pixel colour function, remembered by pixel value; photos
// repeat colours a lot and the HLS round trip is costly.
struct ColourCache {
  static constexpr u32 kSize = 1u << 15;
  CKLF_Mem mem;
  u32* keys = nullptr;
  u32* values = nullptr;
  void Init() {
    u8* p = mem.Zalloc(kSize * 2 * sizeof(u32));
    if (p) {
      keys = reinterpret_cast<u32*>(p);
      values = keys + kSize;
    }
  }
  static u32 Slot(u32 rgb) { return ((rgb * 2654435761u) >> 17) & (kSize - 1); }
};

}  // namespace

void CKLF_ImageFX::Color_RGB2HLS(u8 r8, u8 g8, u8 b8, f64& h, f64& l, f64& s) {
  const f64 r = r8 / 255.0, g = g8 / 255.0, b = b8 / 255.0;
  f64 mx = r, mn = r;
  if (g > mx) mx = g;
  if (b > mx) mx = b;
  if (g < mn) mn = g;
  if (b < mn) mn = b;
  l = (mx + mn) / 2.0;
  if (r8 == g8 && g8 == b8) {
    s = 0.0;
    h = 0.0;
    return;
  }
  const f64 d = mx - mn;
  s = l <= 0.5 ? d / (mx + mn) : d / (2.0 - mx - mn);
  if (b == mx)
    h = 4.0 + (r - g) / d;
  else if (g == mx)
    h = 2.0 + (b - r) / d;
  else
    h = (g - b) / d;
  h *= 60.0;
  if (h < 0.0) h += 360.0;
}

f64 CKLF_ImageFX::Color_HLS2RGBhelper(f64 m1, f64 m2, f64 hue) {
  if (hue > 360.0)
    hue -= 360.0;
  else if (hue < 0.0)
    hue += 360.0;
  if (hue < 60.0) return m1 + (m2 - m1) * hue / 60.0;
  if (hue < 180.0) return m2;
  if (hue < 240.0) return m1 + (m2 - m1) * (240.0 - hue) / 60.0;
  return m1;
}

void CKLF_ImageFX::Color_HLS2RGB(f64 h, f64 l, f64 s, u8& r, u8& g, u8& b) {
  if (s > 1.0) s = 1.0;
  if (s <= 0.0) {
    r = g = b = TruncByte(l * 255.0);
    return;
  }
  if (h > 360.0)
    h -= 360.0;
  else if (h < 0.0)
    h += 360.0;
  const f64 m2 = l <= 0.5 ? l * (1.0 + s) : l + s - l * s;
  const f64 m1 = 2.0 * l - m2;
  r = TruncByte(Color_HLS2RGBhelper(m1, m2, h + 120.0) * 255.0);
  g = TruncByte(Color_HLS2RGBhelper(m1, m2, h) * 255.0);
  b = TruncByte(Color_HLS2RGBhelper(m1, m2, h - 120.0) * 255.0);
}

void CKLF_ImageFX::Color_CorrectLightness(u8* r, u8* g, u8* b, i32 lightness) {
  if (lightness == 0) return;
  u8* c[3] = {r, g, b};
  for (u8* p : c) {
    if (!p) continue;
    const i32 v = *p;
    *p = ClampInt(lightness < 0 ? v + (lightness * v) / 100 : v + (lightness * (255 - v)) / 100);
  }
}

u8 CKLF_ImageFX::HSLCorrection(i16 hue, i16 saturation, i16 lightness, u8 lightnessFirst) {
  if (!i_CheckPair()) return 0;
  if (i_ColourPlanes() != 3 || hue < -180 || hue > 180 || saturation < -100 || saturation > 100 ||
      lightness < -100 || lightness > 100) {
    return Fail(klErrBadArg);
  }
  if (hue == 0 && saturation == 0 && lightness == 0) {
    i_CopyAll();
    return 1;
  }
  if (m_src.hasAlpha) i_CopyPlane(3);
  const f64 k = saturation / 100.0;
  ColourCache cache;
  cache.Init();
  for (u32 y = 0; y < m_src.height; ++y) {
    const u64 so = static_cast<u64>(y) * m_src.stride, dO = static_cast<u64>(y) * m_dst.stride;
    const u8 *sr = m_src.planes[0] + so, *sg = m_src.planes[1] + so, *sb = m_src.planes[2] + so;
    u8 *dr = m_dst.planes[0] + dO, *dg = m_dst.planes[1] + dO, *db = m_dst.planes[2] + dO;
    for (u32 x = 0; x < m_src.width; ++x) {
      const u32 key = (1u << 24) | (static_cast<u32>(sr[x]) << 16) | (static_cast<u32>(sg[x]) << 8) | sb[x];
      const u32 slot = ColourCache::Slot(key);
      if (cache.keys && cache.keys[slot] == key) {
        const u32 v = cache.values[slot];
        dr[x] = static_cast<u8>(v >> 16);
        dg[x] = static_cast<u8>(v >> 8);
        db[x] = static_cast<u8>(v);
        continue;
      }
      u8 r = sr[x], g = sg[x], b = sb[x];
      if (lightnessFirst) Color_CorrectLightness(&r, &g, &b, lightness);
      f64 h, l, s;
      Color_RGB2HLS(r, g, b, h, l, s);
      h += hue;
      if (k <= 0.0)
        s = s * (1.0 + k);
      else if (k < 1.0)
        s = s / (1.0 - k);
      else
        s = 1.0;
      Color_HLS2RGB(h, l, s, r, g, b);
      if (!lightnessFirst) Color_CorrectLightness(&r, &g, &b, lightness);
      dr[x] = r;
      dg[x] = g;
      db[x] = b;
      if (cache.keys) {
        cache.keys[slot] = key;
        cache.values[slot] = (static_cast<u32>(r) << 16) | (static_cast<u32>(g) << 8) | b;
      }
    }
  }
  return 1;
}

u8 CKLF_ImageFX::HSLColorize(i16 hue, i16 saturation, i16 lightness, u8 lightnessFirst) {
  if (!i_CheckPair()) return 0;
  if (i_ColourPlanes() != 3 || hue < 0 || hue > 360 || saturation < 0 || saturation > 100 || lightness < -100 ||
      lightness > 100) {
    return Fail(klErrBadArg);
  }
  if (m_src.hasAlpha) i_CopyPlane(3);
  const f64 s = saturation / 100.0;
  for (u32 y = 0; y < m_src.height; ++y) {
    const u64 so = static_cast<u64>(y) * m_src.stride, dO = static_cast<u64>(y) * m_dst.stride;
    for (u32 x = 0; x < m_src.width; ++x) {
      u8 r = m_src.planes[0][so + x], g = m_src.planes[1][so + x], b = m_src.planes[2][so + x];
      if (lightnessFirst) Color_CorrectLightness(&r, &g, &b, lightness);
      u8 mx = r, mn = r;
      if (g > mx) mx = g;
      if (b > mx) mx = b;
      if (g < mn) mn = g;
      if (b < mn) mn = b;
      const f64 l = (mx + mn) / 510.0;
      Color_HLS2RGB(hue, l, s, r, g, b);
      if (!lightnessFirst) Color_CorrectLightness(&r, &g, &b, lightness);
      m_dst.planes[0][dO + x] = r;
      m_dst.planes[1][dO + x] = g;
      m_dst.planes[2][dO + x] = b;
    }
  }
  return 1;
}

u8 CKLF_ImageFX::BrightnessContrast(i8 brightness, i8 contrast, u8 pivot) {
  if (!i_CheckPair()) return 0;
  const i32 c = contrast, pv = pivot;
  i32 k = 0;
  if (c >= 1 && c <= 99) {
    const f32 q = static_cast<f32>(c) / 100.0f;
    k = static_cast<i32>(q / (1.0f - q) * 10000.0f);
  }
  u8 table[256 * 5];
  for (i32 sv = 0; sv < 256; ++sv) {
    i32 v = sv + brightness;
    v = v < 0 ? 0 : (v > 255 ? 255 : v);
    if (c < 0)
      v = v + ((v - pv) * c) / 100;
    else if (c >= 100)
      v = v < pv ? 0 : 255;
    else if (c > 0)
      v = v + (k * (v - pv)) / 10000;
    table[sv] = ClampInt(v);
  }
  for (u32 p = 1; p < 5; ++p) std::memcpy(table + 256 * p, table, 256);
  i_ApplyTables(table);
  return 1;
}

u8 CKLF_ImageFX::ColorOverlay(const u8* colour, u8 opacity) {
  if (!i_CheckPair()) return 0;
  if (!colour) return Fail(klErrBadArg);
  u8 table[256 * 5];
  const u8 colours = i_ColourPlanes();
  for (u8 p = 0; p < colours; ++p)
    for (u32 sv = 0; sv < 256; ++sv)
      table[256 * p + sv] =
          opacity == 255 ? colour[p] : static_cast<u8>((sv * (255u - opacity) + opacity * static_cast<u32>(colour[p])) >> 8);
  i_ApplyTables(table);
  return 1;
}

u8 CKLF_ImageFX::Invert() {
  if (!i_CheckPair()) return 0;
  u8 table[256 * 5];
  for (u32 p = 0; p < 5; ++p)
    for (u32 sv = 0; sv < 256; ++sv) table[256 * p + sv] = static_cast<u8>(255 - sv);
  i_ApplyTables(table);
  return 1;
}

u8 CKLF_ImageFX::Combine_DonStoD(u8 amount) {
  if (!i_CheckPair()) return 0;
  const u8 colours = i_ColourPlanes();
  const u8 alpha = m_src.hasAlpha;
  const u8 last = static_cast<u8>(m_src.count - 1);
  for (u32 y = 0; y < m_src.height; ++y) {
    const u64 so = static_cast<u64>(y) * m_src.stride, dO = static_cast<u64>(y) * m_dst.stride;
    for (u32 x = 0; x < m_src.width; ++x) {
      const u32 w = alpha ? (m_dst.planes[last][dO + x] * static_cast<u32>(amount)) / 255 : amount;
      for (u8 p = 0; p < colours; ++p) {
        u8& d = m_dst.planes[p][dO + x];
        d = static_cast<u8>((d * w + m_src.planes[p][so + x] * (255 - w)) / 255);
      }
      if (alpha) m_dst.planes[last][dO + x] = m_src.planes[last][so + x];
    }
  }
  return 1;
}
