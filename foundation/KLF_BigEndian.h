// Big-endian reads and writes of the framework's byte formats (compressed
// blocks, cipher blocks, storage containers), field by field, whatever the
// machine's own byte order.
#pragma once

#include "KLF_Types.h"

inline u16 KLF_GetBE16(const u8* p) { return static_cast<u16>((p[0] << 8) | p[1]); }

inline u32 KLF_GetBE32(const u8* p) {
  return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) | (static_cast<u32>(p[2]) << 8) | p[3];
}

inline void KLF_PutBE16(u8* p, u16 v) {
  p[0] = static_cast<u8>(v >> 8);
  p[1] = static_cast<u8>(v);
}

inline void KLF_PutBE32(u8* p, u32 v) {
  p[0] = static_cast<u8>(v >> 24);
  p[1] = static_cast<u8>(v >> 16);
  p[2] = static_cast<u8>(v >> 8);
  p[3] = static_cast<u8>(v);
}

// IEEE 754 single-precision floats, stored big-endian.
inline f32 KLF_GetBEF32(const u8* p) {
  u32 v = KLF_GetBE32(p);
  f32 f;
  __builtin_memcpy(&f, &v, 4);
  return f;
}

inline void KLF_PutBEF32(u8* p, f32 f) {
  u32 v;
  __builtin_memcpy(&v, &f, 4);
  KLF_PutBE32(p, v);
}

// Sequential big-endian reading of a byte block. Has(n) tells whether n more
// bytes are present; the readers themselves do not check.
struct KLF_BEReader {
  const u8* d;
  u64 len;
  u64 pos;

  bool Has(u64 n) const { return pos <= len && n <= len - pos; }
  u8 U8() { return d[pos++]; }
  u16 U16() {
    pos += 2;
    return KLF_GetBE16(d + pos - 2);
  }
  u32 U32() {
    pos += 4;
    return KLF_GetBE32(d + pos - 4);
  }
  f32 F32() {
    pos += 4;
    return KLF_GetBEF32(d + pos - 4);
  }
};

// Sequential big-endian writing into a block known to be large enough.
struct KLF_BEWriter {
  u8* d;
  u64 pos;

  void U8(u8 v) { d[pos++] = v; }
  void U16(u16 v) {
    KLF_PutBE16(d + pos, v);
    pos += 2;
  }
  void U32(u32 v) {
    KLF_PutBE32(d + pos, v);
    pos += 4;
  }
  void F32(f32 v) {
    KLF_PutBEF32(d + pos, v);
    pos += 4;
  }
};
