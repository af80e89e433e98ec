// Little-endian reads and writes of the few fields that their formats fix
// that way (the legacy knife shape, the shape records of a shape set),
// whatever the machine's own byte order.
#pragma once

#include "KLF_Types.h"

inline u32 KLF_GetLE32(const u8* p) {
  return (static_cast<u32>(p[3]) << 24) | (static_cast<u32>(p[2]) << 16) | (static_cast<u32>(p[1]) << 8) | p[0];
}

inline void KLF_PutLE32(u8* p, u32 v) {
  p[0] = static_cast<u8>(v);
  p[1] = static_cast<u8>(v >> 8);
  p[2] = static_cast<u8>(v >> 16);
  p[3] = static_cast<u8>(v >> 24);
}

inline f32 KLF_GetLEF32(const u8* p) {
  u32 v = KLF_GetLE32(p);
  f32 f;
  __builtin_memcpy(&f, &v, 4);
  return f;
}

inline void KLF_PutLEF32(u8* p, f32 f) {
  u32 v;
  __builtin_memcpy(&v, &f, 4);
  KLF_PutLE32(p, v);
}
