// Bevel: the alpha plane as a height field, blurred into slopes, lit by a
// directional light and painted as highlight and shadow.
#include <cmath>
#include <cstring>

#include "CKLF_ImageFX.h"

u8 CKLF_ImageFX::Bevel(u16 size, u16 depth, f64 soften, klt3D_VECTOR light, const u8* highlightColour,
                       u8 highlightOpacity, const u8* shadowColour, u8 shadowOpacity) {
  if (!i_CheckPair()) return 0;
  const f32 x = light.x, y = light.y, z = light.z;
  const f32 len = std::sqrt(x * x + y * y + z * z);
  // A zero (or non-finite) light has no direction to shade by.
  if (!highlightColour || !shadowColour || !std::isfinite(soften) || !(len > 0.0f) || !std::isfinite(len))
    return Fail(klErrBadArg);
  const u32 W = m_src.width, H = m_src.height;
  const u32 MW = W + 2, MH = H + 2;
  const u64 mapBytes = static_cast<u64>(W) * H;

  STRUCT_Blur_VectorData slope, soft;
  Blur_PrepareBlurData(size / 3.32, &slope, &m_padBuffer, 1, 0);
  Blur_PrepareBlurData(soften, &soft, &m_padBuffer, 1, 0);
  f32* hm = reinterpret_cast<f32*>(i_Grow(m_heightMap, static_cast<u64>(MW) * MH * sizeof(f32)));
  u8* hl = hm ? i_Grow(m_highlightMap, mapBytes) : nullptr;
  u8* sh = hl ? i_Grow(m_shadowMap, mapBytes) : nullptr;
  if (!sh) return 0;
  if (size > 0 && !i_GrowBlurLines(slope, MW > MH ? MW : MH)) return 0;
  if (soften > 0.0 && !i_GrowBlurLines(soft, W > H ? W : H)) return 0;

  const u8 last = static_cast<u8>(m_src.count - 1);
  const u8* alpha = m_src.hasAlpha ? m_src.planes[last] : nullptr;
  std::memset(hm, 0, static_cast<u64>(MW) * sizeof(f32));
  std::memset(hm + static_cast<u64>(MH - 1) * MW, 0, static_cast<u64>(MW) * sizeof(f32));
  i_RowBands(H, [&](u32 j) {
    f32* row = hm + static_cast<u64>(j + 1) * MW;
    row[0] = 0.0f;
    row[MW - 1] = 0.0f;
    const u8* a = alpha ? alpha + static_cast<u64>(j) * m_src.stride : nullptr;
    for (u32 i = 0; i < W; ++i) row[i + 1] = a ? a[i] : 255.0f;
  });
  if (size > 0) {
    const Lines rows = {1, hm, 1, MW};
    const Lines cols = {1, hm, MW, 1};
    if (!i_BlurLines(slope, rows, rows, nullptr, MH, MW) || !i_BlurLines(slope, cols, cols, nullptr, MW, MH))
      return 0;
  }

  i_BevelLighting(depth, light, highlightOpacity, shadowOpacity);

  if (soften > 0.0) {
    const Lines hRows = {0, hl, 1, W}, hCols = {0, hl, W, 1};
    const Lines sRows = {0, sh, 1, W}, sCols = {0, sh, W, 1};
    if (!i_BlurLines(soft, hRows, hRows, nullptr, H, W) || !i_BlurLines(soft, hCols, hCols, nullptr, W, H) ||
        !i_BlurLines(soft, sRows, sRows, nullptr, H, W) || !i_BlurLines(soft, sCols, sCols, nullptr, W, H))
      return 0;
  }

  i_BevelPaint(highlightColour, shadowColour);
  if (m_src.hasAlpha) i_CopyPlane(last);
  return 1;
}

namespace {

// What lights a pixel: the light, the depth factor and the opacities.
struct Lighting {
  f32 x, y, z, len, k, flat, rise, so, ho;
  i32 shadowOpacity;
};

// One row of highlight and shadow strengths from the height map's row of
// the pixels (here) and the row above. Its values come by value, so that
// the byte stores do not make them reread.
void LightRow(const f32* above, const f32* here, u8* hrow, u8* srow, u32 W, const Lighting L) {
  for (u32 i = 0; i < W; ++i) {
    const f32 a = L.k * (here[i + 1] - above[i + 1]);
    const f32 b = L.k * (above[i + 1] - above[i]);
    const f32 n = std::sqrt(a * a + b * b + 1.0f);
    f32 lighting = ((-L.x) * b + L.y * a + L.z) / (L.len * n);
    if (lighting < 0.0f) lighting = 0.0f;
    if (lighting <= L.flat) {
      i32 s = L.shadowOpacity - static_cast<i32>(lighting * L.so / L.flat);
      srow[i] = static_cast<u8>(s < 0 ? 0 : s);
      hrow[i] = 0;
    } else {
      f32 v = L.rise > 0.0f ? L.ho / L.rise * (lighting - L.flat) : 0.0f;
      if (!(v > 0.0f)) v = 0.0f;
      if (v > L.ho) v = L.ho;
      hrow[i] = static_cast<u8>(v);
      srow[i] = 0;
    }
  }
}

// One row of a colour plane towards the highlight colour hc where the
// highlight wins, towards the shadow colour sc where the shadow does.
void PaintRow(const u8* s, u8* o, const u8* hrow, const u8* srow, u32 W, const i32 hc, const i32 sc) {
  for (u32 i = 0; i < W; ++i) {
    const i32 e = static_cast<i32>(hrow[i]) - srow[i];
    const i32 v = s[i];
    if (e > 0)
      o[i] = static_cast<u8>(v + ((e * (hc - v)) >> 8));
    else if (e < 0)
      o[i] = static_cast<u8>(v + ((-e * (sc - v)) >> 8));
    else
      o[i] = static_cast<u8>(v);
  }
}

}  // namespace

// Highlight and shadow strength of every pixel from the slopes of the
// blurred height map (bordered, (W + 2) x (H + 2)).
void CKLF_ImageFX::i_BevelLighting(u16 depth, klt3D_VECTOR light, u8 highlightOpacity, u8 shadowOpacity) {
  const u32 W = m_src.width, H = m_src.height, MW = W + 2;
  const f32* hm = reinterpret_cast<const f32*>(m_heightMap.GetPtr());
  u8* hl = m_highlightMap.GetPtr();
  u8* sh = m_shadowMap.GetPtr();
  Lighting L;
  L.x = light.x;
  L.y = light.y;
  L.z = light.z;
  L.len = std::sqrt(L.x * L.x + L.y * L.y + L.z * L.z);
  L.k = static_cast<f32>(depth) / 100.0f;
  L.flat = L.z / L.len;
  if (L.flat < 1e-6f) L.flat = 1e-6f;
  L.so = shadowOpacity;
  L.ho = highlightOpacity;
  L.rise = 1.0f - L.flat;  // room above level ground; none when the light is overhead
  L.shadowOpacity = shadowOpacity;
  i_RowBands(H, [&](u32 j) {
    const f32* above = hm + static_cast<u64>(j) * MW;
    LightRow(above, above + MW, hl + static_cast<u64>(j) * W, sh + static_cast<u64>(j) * W, W, L);
  });
}

// Colour planes: towards the highlight colour where the highlight wins,
// towards the shadow colour where the shadow does.
void CKLF_ImageFX::i_BevelPaint(const u8* highlightColour, const u8* shadowColour) {
  const u32 W = m_src.width, H = m_src.height;
  const u8* hl = m_highlightMap.GetPtr();
  const u8* sh = m_shadowMap.GetPtr();
  const u8 colours = i_ColourPlanes();
  i_RowBands(H, [&](u32 j) {
    for (u8 p = 0; p < colours; ++p) {
      const u8* s = m_src.planes[p] + static_cast<u64>(j) * m_src.stride;
      u8* o = m_dst.planes[p] + static_cast<u64>(j) * m_dst.stride;
      PaintRow(s, o, hl + static_cast<u64>(j) * W, sh + static_cast<u64>(j) * W, W, highlightColour[p],
               shadowColour[p]);
    }
  });
}
