// The stored form of a piece's settings: 92 bytes, multi-byte fields
// big-endian, at fixed offsets (settings block, saved documents, undo,
// replay). Records live in memory in native order; every place that
// stores or reads them goes through Encode and Decode, field by field.
//
// Decoding clamps every value to the range its effect accepts, so a stored
// record can never make an effect refuse to run. Cost: constant per record.
#pragma once

#include "CTessarette.h"

class CTessaretteRecordCodec {
 public:
  static const u32 kSize = 92;

  // Writes the 92 bytes; bytes 3 and 75 are not written.
  static void Encode(const CTessarette::SFX_ONEPIECE& rec, u8* out);
  // Reads 92 bytes (0 when fewer are available or in is null) and clamps.
  [[nodiscard]] static u8 Decode(const u8* in, u32 available, CTessarette::SFX_ONEPIECE& rec);
  // Brings every field into its effect's range; flags become 0 or 1. A
  // light vector that is not finite or has no length becomes the default.
  static void Clamp(CTessarette::SFX_ONEPIECE& rec);
};
