// Packs and unpacks the framework's compressed block with zlib:
//   "KLCV2-01", u32 unpacked size, u32 packed size (big-endian), then the
//   zlib stream of packed size bytes.
// Mode 0 unpacks; modes 1, 2, 3 pack at zlib level 9, 6, 1. Cost: one zlib
// pass; the destination is sized up front (source * 1.2 + 30 when packing,
// the unpacked size when unpacking). Limit: at most klZipMaxUnpacked bytes
// unpacked either way, and an unpacked size no stream of that packed size
// can reach is refused before anything is allocated. With a pack limit
// set, packing stops as soon as the stream outgrows it: the work spent is
// what the limit's bytes took, not the whole source's.
#pragma once

#include "CKLF_BlockProcessor.h"

class CKLF_ZipBlock : public CKLF_BlockProcessor {
 public:
  // Largest unpacked content (the biggest block the system makes is ~41 MB).
  static constexpr u32 klZipMaxUnpacked = 64u << 20;
  static constexpr u32 klZipHeadSize = 16;

  CKLF_ZipBlock() : m_mode(1), m_packLimit(0), m_packedIn(0) {}

  // Errors: 64 malformed block (short, other magic, sizes that do not match
  // the bytes, unpacked size above the cap), 65 compression failed or the
  // block would pass the pack limit, 66 no source or bad mode, 67 progress
  // set, 17 no memory.
  [[nodiscard]] u8 Process() override;

  void SetMode(u8 mode) { m_mode = mode; }
  u8 GetMode() const { return m_mode; }
  // The largest packed block (head included) packing may make; 0: none.
  // A block that fits is the same bytes as without a limit.
  void SetPackLimit(u32 bytes) { m_packLimit = bytes; }
  u32 GetPackLimit() const { return m_packLimit; }
  // The source bytes the last packing took in: all of them when it made
  // its block, fewer when it stopped at the limit.
  u32 GetPackedIn() const { return m_packedIn; }

  [[nodiscard]] u8 Compress(u8 level);
  [[nodiscard]] u8 Decompress();

 private:
  u8 m_mode;
  u32 m_packLimit;
  u32 m_packedIn;
};
