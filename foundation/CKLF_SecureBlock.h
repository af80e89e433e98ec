// Enciphers a block with XTEA (32 cycles, 64-bit blocks as two big-endian
// words) under a 128-bit key, the MD5 of a password. Mode 0 enciphers,
// mode 1 deciphers. Enciphered form:
//   byte 0      source size mod 8
//   bytes 1-16  MD5 of the plain source
//   bytes 17-   the plain source, zero-padded to a whole number of blocks
// with everything from byte 1 enciphered block by block (ECB): 17 bytes
// plus the size rounded up to a multiple of 8. Deciphering checks the
// digest. Cost: one pass over the data, plus one MD5 pass each way.
#pragma once

#include "CKLF_BlockProcessor.h"

class CKLF_SecureBlock : public CKLF_BlockProcessor {
 public:
  CKLF_SecureBlock();

  // Errors: 96 no source or bad mode, 97 the digest does not match (wrong
  // password or damaged block), 98 the block is too short or not whole
  // blocks, 99 progress set, 17 no memory.
  [[nodiscard]] u8 Process() override;

  void SetMode(u8 mode) { m_mode = mode; }
  u8 GetMode() const { return m_mode; }

  void SetPassword(const void* p, u32 n);
  void SetPassword(CKLF_Mem& m);
  void SetPassword(CKLF_String s);
  // The key itself, 16 bytes read as four big-endian words.
  void SetKey(const u8 key[16]);

  [[nodiscard]] u8 Encipher();
  [[nodiscard]] u8 Decipher();

  // One 64-bit block in place, v[0] the high word.
  void encipher(u32 v[2]) const;
  void decipher(u32 v[2]) const;

 private:
  u8 m_mode;
  u32 m_key[4];
};
