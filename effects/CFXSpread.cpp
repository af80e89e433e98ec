#include "CFXSpread.h"

#include <cmath>
#include <cstring>

u8 CFXSpread::GetAAMode(const u8 checkedInTestOrder[8]) {
  // The codes of "_AT", "_ATL", "_AL", "_ABL", "_AB", "_ABR", "_AR", "_ATR".
  static const u8 kCodes[8] = {kTop, kTopLeft, kLeft, kBottomLeft, kBottom, kBottomRight, kRight, kTopRight};
  for (u8 i = 0; i < 8; ++i)
    if (checkedInTestOrder[i]) return kCodes[i];
  return kRandom;
}

u8 CFXSpread::Segment(u8 direction, const CENTREBOX& box, kltFPOS& a, kltFPOS& b) {
  switch (direction) {
    case kTopLeft: a = {box.maxX, box.maxY}, b = {box.minX, box.minY}; return 1;
    case kTop: a = {0, box.maxY}, b = {0, box.minY}; return 1;
    case kTopRight: a = {box.minX, box.maxY}, b = {box.maxX, box.minY}; return 1;
    case kRight: a = {box.minX, 0}, b = {box.maxX, 0}; return 1;
    case kBottomRight: a = {box.minX, box.minY}, b = {box.maxX, box.maxY}; return 1;
    case kBottom: a = {0, box.minY}, b = {0, box.maxY}; return 1;
    case kBottomLeft: a = {box.maxX, box.minY}, b = {box.minX, box.maxY}; return 1;
    case kLeft: a = {box.maxX, 0}, b = {box.minX, 0}; return 1;
    default: return 0;
  }
}

f64 CFXSpread::DirectionT(CKLF_2DMath& math, kltFPOS a, kltFPOS b, kltFPOS p) {
  f64 h = 0, t = 0;
  if (!math.Coors2HU(a, b, p, h, t)) return 0;
  if (t < 0) return 0;
  return t >= 1 ? 1 : t;
}

f64 CFXSpread::RandomT(int r) {
  const f64 t = r / 2147483646.0;
  return t > 1 ? 1 : t;
}

i32 CFXSpread::Interpolate(i32 first, i32 second, f64 t) { return RoundHalfUp(first + t * (second - first)); }

i32 CFXSpread::RoundHalfUp(f64 v) {
  const f64 r = std::trunc(v + 0.5);
  // Beyond every field's range either way; the caller clamps.
  if (r > 2147483647.0) return 2147483647;
  if (r < -2147483647.0) return -2147483647;
  return static_cast<i32>(r);
}

i32 CFXSpread::GetField(const u8* record, const FIELD& f) {
  const u8* p = record + f.offset;
  switch (f.type) {
    case kI8: return static_cast<i8>(p[0]);
    case kU16: {
      u16 v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case kI16: {
      i16 v;
      std::memcpy(&v, p, 2);
      return v;
    }
    default: return p[0];
  }
}

void CFXSpread::SetField(u8* record, const FIELD& f, i32 v) {
  u8* p = record + f.offset;
  if (f.type == kU16 || f.type == kI16) {
    const u16 w = static_cast<u16>(v);
    std::memcpy(p, &w, 2);
  } else {
    p[0] = static_cast<u8>(v);
  }
}

void CFXSpread::BuildResult(const u8* value1, const u8* value2, const u8* backup, u32 size, const FIELDSTATE* fields,
                            u32 count, f64 t, u8* out) {
  std::memcpy(out, value1, size);
  for (u32 i = 0; i < count; ++i) {
    const FIELD& f = fields[i].field;
    if (fields[i].hasBox && !fields[i].checked) {
      SetField(out, f, GetField(backup, f));
      continue;
    }
    SetField(out, f, Clamp(Interpolate(GetField(value1, f), GetField(value2, f), t), f.low, f.high));
  }
  out[0] = 1;
}

void CFXSpread::BuildPreview(const u8* edited, const u8* defaults, u32 size, const FIELDSTATE* fields, u32 count,
                             u8 spreadOn, u8* out) {
  std::memcpy(out, edited, size);
  if (!spreadOn) return;
  for (u32 i = 0; i < count; ++i)
    if (fields[i].hasBox && !fields[i].checked) SetField(out, fields[i].field, GetField(defaults, fields[i].field));
}
