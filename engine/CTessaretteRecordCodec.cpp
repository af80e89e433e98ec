#include "CTessaretteRecordCodec.h"

#include <cmath>
#include <cstring>

#include "KLF_BigEndian.h"

namespace {

// Offsets of the records inside the 92 bytes.
enum {
  kOffBC = 0,
  kOffBevel = 4,
  kOffBlur = 44,
  kOffColorOverlay = 46,
  kOffImageOverlay = 56,
  kOffStroke = 64,
  kOffHsl = 76,
  kOffMblur = 82,
  kOffOpacity = 85,
  kOffInvert = 87,
  kOffSelected = 88,
  kOffVisible = 89,
  kOffRow = 90,
  kOffColumn = 91
};

template <typename T>
T ClampTo(T v, T lo, T hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}
u8 Flag(u8 v) { return v ? 1 : 0; }

}  // namespace

void CTessaretteRecordCodec::Encode(const CTessarette::SFX_ONEPIECE& r, u8* out) {
  u8* p = out + kOffBC;
  p[0] = r.bc.enabled;
  p[1] = static_cast<u8>(r.bc.brightness);
  p[2] = static_cast<u8>(r.bc.contrast);

  p = out + kOffBevel;
  p[0] = r.bevel.enabled;
  p[1] = p[2] = p[3] = 0;
  KLF_PutBEF32(p + 4, r.bevel.light[0]);
  KLF_PutBEF32(p + 8, r.bevel.light[1]);
  KLF_PutBEF32(p + 12, r.bevel.light[2]);
  p[16] = r.bevel.highlightOpacity;
  std::memcpy(p + 17, r.bevel.highlightColor, 8);
  p[25] = r.bevel.shadowOpacity;
  std::memcpy(p + 26, r.bevel.shadowColor, 8);
  p[34] = r.bevel.size;
  p[35] = 0;
  KLF_PutBE16(p + 36, r.bevel.depth);
  p[38] = r.bevel.soften;
  p[39] = 0;

  p = out + kOffBlur;
  p[0] = r.blur.enabled;
  p[1] = r.blur.radius;

  p = out + kOffColorOverlay;
  p[0] = r.colorOverlay.enabled;
  p[1] = r.colorOverlay.opacity;
  std::memcpy(p + 2, r.colorOverlay.color, 8);

  p = out + kOffImageOverlay;
  p[0] = r.imageOverlay.enabled;
  p[1] = r.imageOverlay.opacity;
  p[2] = r.imageOverlay.sourceMode;
  p[3] = 0;
  KLF_PutBE32(p + 4, static_cast<u32>(r.imageOverlay.layerId));

  p = out + kOffStroke;
  p[0] = r.stroke.enabled;
  p[1] = r.stroke.opacity;
  p[2] = r.stroke.size;
  std::memcpy(p + 3, r.stroke.color, 8);

  p = out + kOffHsl;
  p[0] = r.hsl.enabled;
  p[1] = 0;
  KLF_PutBE16(p + 2, static_cast<u16>(r.hsl.hue));
  p[4] = static_cast<u8>(r.hsl.saturation);
  p[5] = static_cast<u8>(r.hsl.lightness);

  p = out + kOffMblur;
  p[0] = r.mblur.enabled;
  p[1] = static_cast<u8>(r.mblur.angle);
  p[2] = r.mblur.radius;

  p = out + kOffOpacity;
  p[0] = r.opacity.enabled;
  p[1] = r.opacity.opacity;

  out[kOffInvert] = r.invert;
  out[kOffSelected] = r.selected;
  out[kOffVisible] = r.visible;
  out[kOffRow] = r.row;
  out[kOffColumn] = r.column;
}

u8 CTessaretteRecordCodec::Decode(const u8* in, u32 available, CTessarette::SFX_ONEPIECE& r) {
  if (!in || available < kSize) return 0;
  r = CTessarette::SFX_ONEPIECE{};  // reserved bytes zero
  const u8* p = in + kOffBC;
  r.bc.enabled = p[0];
  r.bc.brightness = static_cast<i8>(p[1]);
  r.bc.contrast = static_cast<i8>(p[2]);

  p = in + kOffBevel;
  r.bevel.enabled = p[0];
  r.bevel.light[0] = KLF_GetBEF32(p + 4);
  r.bevel.light[1] = KLF_GetBEF32(p + 8);
  r.bevel.light[2] = KLF_GetBEF32(p + 12);
  r.bevel.highlightOpacity = p[16];
  std::memcpy(r.bevel.highlightColor, p + 17, 8);
  r.bevel.shadowOpacity = p[25];
  std::memcpy(r.bevel.shadowColor, p + 26, 8);
  r.bevel.size = p[34];
  r.bevel.depth = KLF_GetBE16(p + 36);
  r.bevel.soften = p[38];

  p = in + kOffBlur;
  r.blur.enabled = p[0];
  r.blur.radius = p[1];

  p = in + kOffColorOverlay;
  r.colorOverlay.enabled = p[0];
  r.colorOverlay.opacity = p[1];
  std::memcpy(r.colorOverlay.color, p + 2, 8);

  p = in + kOffImageOverlay;
  r.imageOverlay.enabled = p[0];
  r.imageOverlay.opacity = p[1];
  r.imageOverlay.sourceMode = p[2];
  r.imageOverlay.layerId = static_cast<i32>(KLF_GetBE32(p + 4));

  p = in + kOffStroke;
  r.stroke.enabled = p[0];
  r.stroke.opacity = p[1];
  r.stroke.size = p[2];
  std::memcpy(r.stroke.color, p + 3, 8);

  p = in + kOffHsl;
  r.hsl.enabled = p[0];
  r.hsl.hue = static_cast<i16>(KLF_GetBE16(p + 2));
  r.hsl.saturation = static_cast<i8>(p[4]);
  r.hsl.lightness = static_cast<i8>(p[5]);

  p = in + kOffMblur;
  r.mblur.enabled = p[0];
  r.mblur.angle = static_cast<i8>(p[1]);
  r.mblur.radius = p[2];

  p = in + kOffOpacity;
  r.opacity.enabled = p[0];
  r.opacity.opacity = p[1];

  r.invert = in[kOffInvert];
  r.selected = in[kOffSelected];
  r.visible = in[kOffVisible];
  r.row = in[kOffRow];
  r.column = in[kOffColumn];
  Clamp(r);
  return 1;
}

void CTessaretteRecordCodec::Clamp(CTessarette::SFX_ONEPIECE& r) {
  r.bc.enabled = Flag(r.bc.enabled);
  r.bc.brightness = ClampTo<i8>(r.bc.brightness, -100, 100);
  r.bc.contrast = ClampTo<i8>(r.bc.contrast, -100, 100);

  r.bevel.enabled = Flag(r.bevel.enabled);
  f64 x = r.bevel.light[0], y = r.bevel.light[1], z = r.bevel.light[2];
  f64 len = std::sqrt(x * x + y * y + z * z);
  if (!std::isfinite(len) || len == 0.0) {
    CTessarette::DefaultLight(r.bevel.light);
  } else {
    // The effect measures the vector in single precision; keep its length
    // where that cannot overflow or vanish.
    f32 lx = r.bevel.light[0], ly = r.bevel.light[1], lz = r.bevel.light[2];
    f32 l2 = lx * lx + ly * ly + lz * lz;
    if (!std::isfinite(l2) || !std::isnormal(l2)) {
      r.bevel.light[0] = static_cast<f32>(x / len);
      r.bevel.light[1] = static_cast<f32>(y / len);
      r.bevel.light[2] = static_cast<f32>(z / len);
    }
  }
  r.bevel.size = ClampTo<u8>(r.bevel.size, 0, 200);
  r.bevel.depth = ClampTo<u16>(r.bevel.depth, 0, 999);
  r.bevel.soften = ClampTo<u8>(r.bevel.soften, 0, 20);

  r.blur.enabled = Flag(r.blur.enabled);
  r.blur.radius = ClampTo<u8>(r.blur.radius, 0, 100);

  r.colorOverlay.enabled = Flag(r.colorOverlay.enabled);

  r.imageOverlay.enabled = Flag(r.imageOverlay.enabled);
  r.imageOverlay.sourceMode = Flag(r.imageOverlay.sourceMode);

  r.stroke.enabled = Flag(r.stroke.enabled);
  r.stroke.size = ClampTo<u8>(r.stroke.size, 0, 100);

  r.hsl.enabled = Flag(r.hsl.enabled);
  r.hsl.hue = ClampTo<i16>(r.hsl.hue, -180, 180);
  r.hsl.saturation = ClampTo<i8>(r.hsl.saturation, -100, 100);
  r.hsl.lightness = ClampTo<i8>(r.hsl.lightness, -100, 100);

  r.mblur.enabled = Flag(r.mblur.enabled);
  r.mblur.angle = ClampTo<i8>(r.mblur.angle, -90, 90);
  r.mblur.radius = ClampTo<u8>(r.mblur.radius, 0, 100);

  r.opacity.enabled = Flag(r.opacity.enabled);
  r.invert = Flag(r.invert);
  r.selected = Flag(r.selected);
  r.visible = Flag(r.visible);
}
