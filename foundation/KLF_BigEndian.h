// Big-endian reads and writes of the framework's byte formats (compressed
// blocks, cipher blocks, storage containers, settings blocks, PSD files),
// field by field, whatever the machine's own byte order.
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

// Sequential big-endian reading of a byte block that never reads past its
// end: a read that does not fit yields zeros, leaves the position where it
// was and marks the reader failed, so callers may check Ok() once after a
// group of reads. Has(n) tells whether n more bytes are present.
struct KLF_BEReader {
  const u8* d;
  u64 len;
  u64 pos;
  bool failed = false;

  bool Ok() const { return !failed; }
  bool Has(u64 n) const { return !failed && pos <= len && n <= len - pos; }
  u64 Left() const { return pos <= len ? len - pos : 0; }
  // The next n bytes, or null (and failed) when fewer are left.
  const u8* Take(u64 n) {
    if (!Has(n)) {
      failed = true;
      return nullptr;
    }
    pos += n;
    return d + pos - n;
  }
  bool Skip(u64 n) { return Take(n) != nullptr; }
  u8 U8() {
    const u8* p = Take(1);
    return p ? p[0] : 0;
  }
  u16 U16() {
    const u8* p = Take(2);
    return p ? KLF_GetBE16(p) : 0;
  }
  u32 U32() {
    const u8* p = Take(4);
    return p ? KLF_GetBE32(p) : 0;
  }
  f32 F32() {
    const u8* p = Take(4);
    return p ? KLF_GetBEF32(p) : 0.0f;
  }
  // A reader of the next n bytes alone (positions stay those of the
  // block); this one moves past them. A failed one when fewer are left.
  KLF_BEReader Sub(u64 n) {
    KLF_BEReader r = {d, pos, pos};
    if (Take(n))
      r.len = pos;
    else
      r.failed = true;
    return r;
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
