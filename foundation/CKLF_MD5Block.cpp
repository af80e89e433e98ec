#include "CKLF_MD5Block.h"

#include <cstring>

namespace {

inline u32 RotL(u32 x, u32 n) { return (x << n) | (x >> (32 - n)); }
inline u32 F(u32 x, u32 y, u32 z) { return (x & y) | (~x & z); }
inline u32 G(u32 x, u32 y, u32 z) { return (x & z) | (y & ~z); }
inline u32 H(u32 x, u32 y, u32 z) { return x ^ y ^ z; }
inline u32 I(u32 x, u32 y, u32 z) { return y ^ (x | ~z); }
inline void FF(u32& a, u32 b, u32 c, u32 d, u32 x, u32 s, u32 ac) { a = RotL(a + F(b, c, d) + x + ac, s) + b; }
inline void GG(u32& a, u32 b, u32 c, u32 d, u32 x, u32 s, u32 ac) { a = RotL(a + G(b, c, d) + x + ac, s) + b; }
inline void HH(u32& a, u32 b, u32 c, u32 d, u32 x, u32 s, u32 ac) { a = RotL(a + H(b, c, d) + x + ac, s) + b; }
inline void II(u32& a, u32 b, u32 c, u32 d, u32 x, u32 s, u32 ac) { a = RotL(a + I(b, c, d) + x + ac, s) + b; }

}  // namespace

CKLF_MD5Block::CKLF_MD5Block() {
  std::memset(m_padding, 0, sizeof(m_padding));
  m_padding[0] = 0x80;
  Init();
}

void CKLF_MD5Block::Init() {
  std::memset(m_buffer, 0, sizeof(m_buffer));
  m_count[0] = m_count[1] = 0;
  m_state[0] = 0x67452301;
  m_state[1] = 0xefcdab89;
  m_state[2] = 0x98badcfe;
  m_state[3] = 0x10325476;
}

void CKLF_MD5Block::DWordToByte(u8* out, const u32* in, u32 n) {
  for (u32 i = 0, j = 0; j < n; ++i, j += 4) {
    out[j] = static_cast<u8>(in[i]);
    out[j + 1] = static_cast<u8>(in[i] >> 8);
    out[j + 2] = static_cast<u8>(in[i] >> 16);
    out[j + 3] = static_cast<u8>(in[i] >> 24);
  }
}

void CKLF_MD5Block::ByteToDWord(u32* out, const u8* in, u32 n) {
  for (u32 i = 0, j = 0; j < n; ++i, j += 4)
    out[i] = static_cast<u32>(in[j]) | (static_cast<u32>(in[j + 1]) << 8) | (static_cast<u32>(in[j + 2]) << 16) |
             (static_cast<u32>(in[j + 3]) << 24);
}

void CKLF_MD5Block::Transform(const u8* block) {
  u32 a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
  u32 x[16];
  ByteToDWord(x, block, 64);

  FF(a, b, c, d, x[0], 7, 0xd76aa478);
  FF(d, a, b, c, x[1], 12, 0xe8c7b756);
  FF(c, d, a, b, x[2], 17, 0x242070db);
  FF(b, c, d, a, x[3], 22, 0xc1bdceee);
  FF(a, b, c, d, x[4], 7, 0xf57c0faf);
  FF(d, a, b, c, x[5], 12, 0x4787c62a);
  FF(c, d, a, b, x[6], 17, 0xa8304613);
  FF(b, c, d, a, x[7], 22, 0xfd469501);
  FF(a, b, c, d, x[8], 7, 0x698098d8);
  FF(d, a, b, c, x[9], 12, 0x8b44f7af);
  FF(c, d, a, b, x[10], 17, 0xffff5bb1);
  FF(b, c, d, a, x[11], 22, 0x895cd7be);
  FF(a, b, c, d, x[12], 7, 0x6b901122);
  FF(d, a, b, c, x[13], 12, 0xfd987193);
  FF(c, d, a, b, x[14], 17, 0xa679438e);
  FF(b, c, d, a, x[15], 22, 0x49b40821);

  GG(a, b, c, d, x[1], 5, 0xf61e2562);
  GG(d, a, b, c, x[6], 9, 0xc040b340);
  GG(c, d, a, b, x[11], 14, 0x265e5a51);
  GG(b, c, d, a, x[0], 20, 0xe9b6c7aa);
  GG(a, b, c, d, x[5], 5, 0xd62f105d);
  GG(d, a, b, c, x[10], 9, 0x02441453);
  GG(c, d, a, b, x[15], 14, 0xd8a1e681);
  GG(b, c, d, a, x[4], 20, 0xe7d3fbc8);
  GG(a, b, c, d, x[9], 5, 0x21e1cde6);
  GG(d, a, b, c, x[14], 9, 0xc33707d6);
  GG(c, d, a, b, x[3], 14, 0xf4d50d87);
  GG(b, c, d, a, x[8], 20, 0x455a14ed);
  GG(a, b, c, d, x[13], 5, 0xa9e3e905);
  GG(d, a, b, c, x[2], 9, 0xfcefa3f8);
  GG(c, d, a, b, x[7], 14, 0x676f02d9);
  GG(b, c, d, a, x[12], 20, 0x8d2a4c8a);

  HH(a, b, c, d, x[5], 4, 0xfffa3942);
  HH(d, a, b, c, x[8], 11, 0x8771f681);
  HH(c, d, a, b, x[11], 16, 0x6d9d6122);
  HH(b, c, d, a, x[14], 23, 0xfde5380c);
  HH(a, b, c, d, x[1], 4, 0xa4beea44);
  HH(d, a, b, c, x[4], 11, 0x4bdecfa9);
  HH(c, d, a, b, x[7], 16, 0xf6bb4b60);
  HH(b, c, d, a, x[10], 23, 0xbebfbc70);
  HH(a, b, c, d, x[13], 4, 0x289b7ec6);
  HH(d, a, b, c, x[0], 11, 0xeaa127fa);
  HH(c, d, a, b, x[3], 16, 0xd4ef3085);
  HH(b, c, d, a, x[6], 23, 0x04881d05);
  HH(a, b, c, d, x[9], 4, 0xd9d4d039);
  HH(d, a, b, c, x[12], 11, 0xe6db99e5);
  HH(c, d, a, b, x[15], 16, 0x1fa27cf8);
  HH(b, c, d, a, x[2], 23, 0xc4ac5665);

  II(a, b, c, d, x[0], 6, 0xf4292244);
  II(d, a, b, c, x[7], 10, 0x432aff97);
  II(c, d, a, b, x[14], 15, 0xab9423a7);
  II(b, c, d, a, x[5], 21, 0xfc93a039);
  II(a, b, c, d, x[12], 6, 0x655b59c3);
  II(d, a, b, c, x[3], 10, 0x8f0ccc92);
  II(c, d, a, b, x[10], 15, 0xffeff47d);
  II(b, c, d, a, x[1], 21, 0x85845dd1);
  II(a, b, c, d, x[8], 6, 0x6fa87e4f);
  II(d, a, b, c, x[15], 10, 0xfe2ce6e0);
  II(c, d, a, b, x[6], 15, 0xa3014314);
  II(b, c, d, a, x[13], 21, 0x4e0811a1);
  II(a, b, c, d, x[4], 6, 0xf7537e82);
  II(d, a, b, c, x[11], 10, 0xbd3af235);
  II(c, d, a, b, x[2], 15, 0x2ad7d2bb);
  II(b, c, d, a, x[9], 21, 0xeb86d391);

  m_state[0] += a;
  m_state[1] += b;
  m_state[2] += c;
  m_state[3] += d;
}

void CKLF_MD5Block::Update(const u8* input, u32 n) {
  if (!input || n == 0) return;
  u32 index = (m_count[0] >> 3) & 0x3F;
  u64 bits = (static_cast<u64>(m_count[1]) << 32 | m_count[0]) + (static_cast<u64>(n) << 3);
  m_count[0] = static_cast<u32>(bits);
  m_count[1] = static_cast<u32>(bits >> 32);
  u32 partLen = 64 - index;
  u32 i = 0;
  if (n >= partLen) {
    std::memcpy(m_buffer + index, input, partLen);
    Transform(m_buffer);
    for (i = partLen; n - i >= 64; i += 64) Transform(input + i);
    index = 0;
  }
  std::memcpy(m_buffer + index, input + i, n - i);
}

void CKLF_MD5Block::Final(u8 digest[16]) {
  u8 bits[8];
  DWordToByte(bits, m_count, 8);
  u32 index = (m_count[0] >> 3) & 0x3F;
  u32 padLen = index < 56 ? 56 - index : 120 - index;
  Update(m_padding, padLen);
  Update(bits, 8);
  DWordToByte(digest, m_state, 16);
}

u8 CKLF_MD5Block::Process() {
  if (m_progress) return Fail(klErrMD5Progress);
  if (!m_source || m_sourceSize == 0) return Fail(klErrMD5NoSource);
  CKLF_Mem* dest = i_Dest();
  if (!dest || !i_DetachSource()) return 0;
  if (!dest->Resize(16)) return FailFrom(*dest, klErrNoMemory);
  Init();
  Update(m_source, m_sourceSize);
  Final(dest->GetPtr());
  ResetError();
  return 1;
}
