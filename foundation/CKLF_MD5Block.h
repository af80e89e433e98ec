// MD5 digest (RFC 1321) of the source block into a 16-byte destination.
// Cost: one pass, about 64 bytes per compression step. Each Process starts
// from the initial state, so one object may digest many sources in turn;
// Init/Update/Final digest a stream given in pieces. Bit counts are 64-bit,
// so any source the 32-bit sizes allow is fine.
#pragma once

#include "CKLF_BlockProcessor.h"

class CKLF_MD5Block : public CKLF_BlockProcessor {
 public:
  CKLF_MD5Block();

  // 1, or 0 with error 80 (no source), 81 (progress set) or 17.
  [[nodiscard]] u8 Process() override;

  // Streaming use: Init, any number of Update, then Final writes 16 bytes.
  void Init();
  void Update(const u8* input, u32 n);
  void Final(u8 digest[16]);
  // One 64-byte block into the state.
  void Transform(const u8* block);

  // Little-endian packing of n bytes from/to u32 words (n a multiple of 4).
  static void DWordToByte(u8* out, const u32* in, u32 n);
  static void ByteToDWord(u32* out, const u8* in, u32 n);

 private:
  u8 m_buffer[64];
  u8 m_padding[64];
  u32 m_count[2];  // bit count, low word first
  u32 m_state[4];
};
