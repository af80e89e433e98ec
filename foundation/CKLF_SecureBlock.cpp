#include "CKLF_SecureBlock.h"

#include <cstring>

#include "CKLF_MD5Block.h"
#include "KLF_BigEndian.h"

namespace {

const u32 kDelta = 0x9E3779B9;
const u32 kHead = 17;

void Digest(const u8* p, u32 n, u8 out[16]) {
  CKLF_MD5Block md5;
  md5.Update(p, n);
  md5.Final(out);
}

}  // namespace

CKLF_SecureBlock::CKLF_SecureBlock() : m_mode(0) { std::memset(m_key, 0, sizeof(m_key)); }

void CKLF_SecureBlock::SetPassword(const void* p, u32 n) {
  u8 d[16];
  Digest(static_cast<const u8*>(p), p ? n : 0, d);
  SetKey(d);
}

void CKLF_SecureBlock::SetKey(const u8 key[16]) {
  for (int i = 0; i < 4; ++i) m_key[i] = KLF_GetBE32(key + 4 * i);
}

void CKLF_SecureBlock::SetPassword(CKLF_Mem& m) { SetPassword(m.GetPtr(), m.GetSize()); }

void CKLF_SecureBlock::SetPassword(CKLF_String s) { SetPassword(s.GetStr(), s.GetLength()); }

void CKLF_SecureBlock::encipher(u32 v[2]) const {
  u32 v0 = v[0], v1 = v[1], sum = 0;
  for (int i = 0; i < 32; ++i) {
    v0 += (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + m_key[sum & 3]);
    sum += kDelta;
    v1 += (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + m_key[(sum >> 11) & 3]);
  }
  v[0] = v0;
  v[1] = v1;
}

void CKLF_SecureBlock::decipher(u32 v[2]) const {
  u32 v0 = v[0], v1 = v[1], sum = kDelta * 32;
  for (int i = 0; i < 32; ++i) {
    v1 -= (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + m_key[(sum >> 11) & 3]);
    sum -= kDelta;
    v0 -= (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + m_key[sum & 3]);
  }
  v[0] = v0;
  v[1] = v1;
}

u8 CKLF_SecureBlock::Process() {
  if (m_progress) return Fail(klErrSecureProgress);
  ResetError();
  if (!m_source || m_sourceSize == 0) return Fail(klErrSecureArgs);
  if (m_mode == 0) return Encipher();
  if (m_mode == 1) return Decipher();
  return Fail(klErrSecureArgs);
}

u8 CKLF_SecureBlock::Encipher() {
  if (!m_source || m_sourceSize == 0) return Fail(klErrSecureArgs);
  u64 total = kHead + ((static_cast<u64>(m_sourceSize) + 7) & ~7ull);
  if (!klFits32(total)) return Fail(klErrNoMemory);
  CKLF_Mem* dest = i_Dest();
  if (!dest || !i_DetachSource()) return 0;
  // Resize keeps old bytes: clear so the padding is zero.
  if (!dest->Resize(0) || !dest->Resize(static_cast<u32>(total))) return FailFrom(*dest, klErrNoMemory);
  u8* out = dest->GetPtr();
  out[0] = static_cast<u8>(m_sourceSize % 8);
  Digest(m_source, m_sourceSize, out + 1);
  std::memcpy(out + kHead, m_source, m_sourceSize);
  for (u64 at = 1; at < total; at += 8) {
    u32 v[2] = {KLF_GetBE32(out + at), KLF_GetBE32(out + at + 4)};
    encipher(v);
    KLF_PutBE32(out + at, v[0]);
    KLF_PutBE32(out + at + 4, v[1]);
  }
  ResetError();
  return 1;
}

u8 CKLF_SecureBlock::Decipher() {
  if (!m_source || m_sourceSize <= 24 || (m_sourceSize - 1) % 8 != 0 || m_source[0] >= 8) return Fail(klErrSecureShort);
  CKLF_Mem plain;
  if (!plain.alloc(m_sourceSize - 1)) return FailFrom(plain, klErrNoMemory);
  u8* p = plain.GetPtr();
  std::memcpy(p, m_source + 1, m_sourceSize - 1);
  for (u32 at = 0; at < m_sourceSize - 1; at += 8) {
    u32 v[2] = {KLF_GetBE32(p + at), KLF_GetBE32(p + at + 4)};
    decipher(v);
    KLF_PutBE32(p + at, v[0]);
    KLF_PutBE32(p + at + 4, v[1]);
  }
  u32 padded = m_sourceSize - kHead;
  u32 pad = (8 - m_source[0]) % 8;
  u32 size = padded - pad;
  u8 check[16];
  Digest(p + 16, size, check);
  if (std::memcmp(check, p, 16) != 0) return Fail(klErrSecureDigest);
  // The source has been read into plain: the destination may be resized
  // even when the source lies inside it.
  CKLF_Mem* dest = i_Dest();
  if (!dest) return 0;
  if (!dest->Resize(size)) return FailFrom(*dest, klErrNoMemory);
  std::memcpy(dest->GetPtr(), p + 16, size);
  ResetError();
  return 1;
}
