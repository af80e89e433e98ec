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
