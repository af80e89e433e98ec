#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CKLF_MD5Block.h"
#include "CKLF_SecureBlock.h"
#include "CKLF_ZipBlock.h"
#include "support/TestSupport.h"

namespace {

std::string Hex(const u8* p, u32 n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (u32 i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

u32 BE32(const u8* p) { return (u32(p[0]) << 24) | (u32(p[1]) << 16) | (u32(p[2]) << 8) | p[3]; }

void PutBE32(u8* p, u32 v) {
  p[0] = u8(v >> 24);
  p[1] = u8(v >> 16);
  p[2] = u8(v >> 8);
  p[3] = u8(v);
}

std::vector<u8> Bytes(const CKLF_Mem* m) { return std::vector<u8>(m->GetPtr(), m->GetPtr() + m->GetSize()); }

std::vector<u8> Pack(const std::vector<u8>& src, u8 mode) {
  CKLF_ZipBlock z;
  z.SetMode(mode);
  z.SetSourceBlock(src.data(), static_cast<u32>(src.size()));
  EXPECT_EQ(z.Process(), 1);
  return Bytes(z.GetDestBlock());
}

// Unpacks; returns the error code (0 on success) and the content.
u16 Unpack(const std::vector<u8>& block, std::vector<u8>* out) {
  CKLF_ZipBlock z;
  z.SetMode(0);
  z.SetSourceBlock(block.data(), static_cast<u32>(block.size()));
  u8 ok = z.Process();
  EXPECT_EQ(ok != 0, z.GetError() == 0);
  if (ok && out) *out = Bytes(z.GetDestBlock());
  return z.GetError();
}

}  // namespace

TEST(BlockProcessor, BaseCopiesAndOwnsItsDestination) {
  CKLF_BlockProcessor p;
  ASSERT_NE(p.GetDestBlock(), nullptr);
  EXPECT_EQ(p.Process(), 0);  // no source
  p.SetSourceBlock(CKLF_String("hello"));
  ASSERT_EQ(p.Process(), 1);
  EXPECT_EQ(p.GetDestBlock()->GetSize(), 5u);  // no NUL
  EXPECT_EQ(std::memcmp(p.GetDestBlock()->GetPtr(), "hello", 5), 0);

  // The caller's destination is used and left alone by Clean.
  CKLF_Mem mine;
  p.SetDestBlock(&mine);
  ASSERT_EQ(p.Process(), 1);
  EXPECT_EQ(mine.GetSize(), 5u);
  p.Clean();
  EXPECT_EQ(p.GetDestBlock(), nullptr);
  EXPECT_EQ(mine.GetSize(), 5u);
  EXPECT_EQ(p.Process(), 0);  // no destination
  ASSERT_NE(p.SetDestBlock(), nullptr);
  EXPECT_EQ(p.Process(), 1);
}

TEST(ZipBlock, HundredZerosAtEveryModeAndTheHead) {
  std::vector<u8> zeros(100, 0);
  const int levels[4] = {0, 9, 6, 1};
  for (u8 mode = 1; mode <= 3; ++mode) {
    std::vector<u8> b = Pack(zeros, mode);
    ASSERT_GE(b.size(), 16u);
    EXPECT_EQ(std::memcmp(b.data(), "KLCV2-01", 8), 0);
    EXPECT_EQ(b[8], 0);
    EXPECT_EQ(b[9], 0);
    EXPECT_EQ(b[10], 0);
    EXPECT_EQ(b[11], 100);
    EXPECT_EQ(BE32(b.data() + 12) + 16u, b.size());
    // The stream is exactly what zlib makes at the mode's level.
    std::vector<u8> ref(compressBound(100));
    uLongf n = ref.size();
    ASSERT_EQ(compress2(ref.data(), &n, zeros.data(), 100, levels[mode]), Z_OK);
    EXPECT_EQ(std::vector<u8>(b.begin() + 16, b.end()), std::vector<u8>(ref.begin(), ref.begin() + n));

    std::vector<u8> back;
    EXPECT_EQ(Unpack(b, &back), 0);
    EXPECT_EQ(back, zeros);
  }
}

TEST(ZipBlock, RoundTripOfRandomAndRepetitiveData) {
  std::mt19937 rng(7);
  for (int t = 0; t < 60; ++t) {
    size_t n = 1 + rng() % (t < 30 ? 300 : 70000);
    std::vector<u8> src = klftest::RandomBytes(rng, n);
    if (t % 3 == 1)
      for (auto& c : src) c &= 3;  // compressible
    std::vector<u8> back;
    std::vector<u8> b = Pack(src, static_cast<u8>(1 + t % 3));
    ASSERT_EQ(Unpack(b, &back), 0) << n;
    ASSERT_EQ(back, src);
    // Trailing bytes after the stream are tolerated.
    b.push_back(0x55);
    ASSERT_EQ(Unpack(b, &back), 0);
  }
}

TEST(ZipBlock, MalformedBlocksAreRefused) {
  std::vector<u8> good = Pack(std::vector<u8>(1000, 'x'), 1);

  EXPECT_EQ(Unpack(std::vector<u8>(good.begin(), good.begin() + 15), nullptr), klErrZipMalformed);
  std::vector<u8> b = good;
  b[7] = '2';
  EXPECT_EQ(Unpack(b, nullptr), klErrZipMalformed);
  // Packed size beyond the bytes present, and one that would wrap in 32 bits.
  b = good;
  b.pop_back();
  EXPECT_EQ(Unpack(b, nullptr), klErrZipMalformed);
  b = good;
  PutBE32(b.data() + 12, 0xFFFFFFF8u);
  EXPECT_EQ(Unpack(b, nullptr), klErrZipMalformed);
  // An unpacked size larger or smaller than the stream gives.
  b = good;
  PutBE32(b.data() + 8, 1001);
  EXPECT_EQ(Unpack(b, nullptr), klErrZipMalformed);
  PutBE32(b.data() + 8, 999);
  EXPECT_EQ(Unpack(b, nullptr), klErrZipMalformed);
  // A 4 GiB claim from a 20-byte block, and one just above the cap with a
  // packed size that could hold it: refused before any allocation.
  std::vector<u8> tiny = {'K', 'L', 'C', 'V', '2', '-', '0', '1', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 4, 1, 2, 3, 4};
  EXPECT_EQ(Unpack(tiny, nullptr), klErrZipMalformed);
  std::vector<u8> big(16 + 70000, 0);
  std::memcpy(big.data(), "KLCV2-01", 8);
  PutBE32(big.data() + 8, CKLF_ZipBlock::klZipMaxUnpacked + 1);
  PutBE32(big.data() + 12, 70000);
  EXPECT_EQ(Unpack(big, nullptr), klErrZipMalformed);
  // A damaged stream.
  b = good;
  for (size_t i = 16; i < b.size(); ++i) b[i] ^= 0x5A;
  EXPECT_EQ(Unpack(b, nullptr), klErrZipMalformed);
}

TEST(ZipBlock, TheCapIsInclusiveAndTheRatioGuardPassesRealData) {
  // All zeros at level 9 is the densest block zlib can make.
  std::vector<u8> zeros(CKLF_ZipBlock::klZipMaxUnpacked + 1, 0);
  CKLF_ZipBlock z;
  z.SetSourceBlock(zeros.data(), static_cast<u32>(zeros.size()));
  EXPECT_EQ(z.Process(), 0);  // one byte over: refused, never made
  EXPECT_EQ(z.GetError(), klErrZipArgs);
  z.SetSourceBlock(zeros.data(), CKLF_ZipBlock::klZipMaxUnpacked);
  ASSERT_EQ(z.Process(), 1);
  std::vector<u8> b = Bytes(z.GetDestBlock());
  std::vector<u8>().swap(zeros);
  std::vector<u8> back;
  ASSERT_EQ(Unpack(b, &back), 0);
  EXPECT_EQ(back.size(), CKLF_ZipBlock::klZipMaxUnpacked);
  EXPECT_EQ(std::count(back.begin(), back.end(), 0), static_cast<long>(back.size()));
}

TEST(ZipBlock, ModeAndProgressErrors) {
  u8 data[10] = {};
  CKLF_ZipBlock z;
  EXPECT_EQ(z.GetMode(), 1);
  z.SetSourceBlock(data, 10);
  z.SetMode(4);
  EXPECT_EQ(z.Process(), 0);
  EXPECT_EQ(z.GetError(), klErrZipArgs);
  z.SetMode(1);
  CKLF_Progress progress;
  z.SetProgress(progress);
  EXPECT_EQ(z.Process(), 0);
  EXPECT_EQ(z.GetError(), klErrZipProgress);
  z.ClearProgress();
  EXPECT_EQ(z.Process(), 1);
  EXPECT_EQ(z.GetError(), 0);
  // An empty source cannot be packed.
  z.SetSourceBlock(data, 0);
  EXPECT_EQ(z.Process(), 0);
  EXPECT_EQ(z.GetError(), klErrZipArgs);
}

TEST(ZipBlock, SourceInsideTheDestinationAndOwnDestinationMadeOnDemand) {
  std::vector<u8> text(5000);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<u8>("puzzle"[i % 6]);
  CKLF_Mem m;
  ASSERT_NE(m.alloc(5000), nullptr);
  std::memcpy(m.GetPtr(), text.data(), 5000);
  CKLF_ZipBlock z;
  z.SetDestBlock(&m);
  z.SetSourceBlock(m);  // packs a block into itself
  ASSERT_EQ(z.Process(), 1);
  std::vector<u8> packed = Bytes(&m);
  z.SetMode(0);
  z.SetSourceBlock(m);
  ASSERT_EQ(z.Process(), 1);
  EXPECT_EQ(Bytes(&m), text);

  // Without a destination Process makes one.
  CKLF_ZipBlock y;
  y.Clean();
  y.SetMode(0);
  y.SetSourceBlock(packed.data(), static_cast<u32>(packed.size()));
  ASSERT_EQ(y.Process(), 1);
  ASSERT_NE(y.GetDestBlock(), nullptr);
  EXPECT_EQ(Bytes(y.GetDestBlock()), text);
}

TEST(MD5Block, Rfc1321TestSuite) {
  const char* cases[][2] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  // One object, many sources: each Process starts afresh.
  CKLF_MD5Block md5;
  for (auto& c : cases) {
    u8 d[16];
    CKLF_MD5Block s;
    s.Update(reinterpret_cast<const u8*>(c[0]), static_cast<u32>(std::strlen(c[0])));
    s.Final(d);
    EXPECT_EQ(Hex(d, 16), c[1]) << '"' << c[0] << '"';
    if (!c[0][0]) continue;
    md5.SetSourceBlock(CKLF_String(c[0]));
    ASSERT_EQ(md5.Process(), 1);
    ASSERT_EQ(md5.GetDestBlock()->GetSize(), 16u);
    EXPECT_EQ(Hex(md5.GetDestBlock()->GetPtr(), 16), c[1]) << '"' << c[0] << '"';
  }
}

TEST(MD5Block, PiecewiseUpdatesMatchOneShotAtEveryBoundary) {
  std::mt19937 rng(3);
  std::vector<u8> data = klftest::RandomBytes(rng, 300);
  // Lengths around the 56/64-byte padding edges, split at random points.
  for (u32 n = 0; n <= 200; ++n) {
    CKLF_MD5Block one;
    u8 a[16], b[16];
    one.Update(data.data(), n);
    one.Final(a);
    CKLF_MD5Block parts;
    u32 at = 0;
    while (at < n) {
      u32 step = 1 + rng() % 70;
      if (step > n - at) step = n - at;
      parts.Update(data.data() + at, step);
      at += step;
    }
    parts.Final(b);
    ASSERT_EQ(Hex(a, 16), Hex(b, 16)) << n;
  }
  // The well-known digest of a million "a".
  std::vector<u8> ms(1000000, 'a');
  CKLF_MD5Block m;
  m.SetSourceBlock(ms.data(), static_cast<u32>(ms.size()));
  ASSERT_EQ(m.Process(), 1);
  EXPECT_EQ(Hex(m.GetDestBlock()->GetPtr(), 16), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(MD5Block, Errors) {
  CKLF_MD5Block m;
  EXPECT_EQ(m.Process(), 0);
  EXPECT_EQ(m.GetError(), klErrMD5NoSource);
  m.SetSourceBlock(CKLF_String(""));
  EXPECT_EQ(m.Process(), 0);
  EXPECT_EQ(m.GetError(), klErrMD5NoSource);
  CKLF_Progress progress;
  m.SetSourceBlock(CKLF_String("x"));
  m.SetProgress(progress);
  EXPECT_EQ(m.Process(), 0);
  EXPECT_EQ(m.GetError(), klErrMD5Progress);
}

TEST(SecureBlock, XteaBlockVectors) {
  // Published XTEA vectors: key bytes, plain and cipher as big-endian words.
  struct V {
    u32 key[4];
    u32 plain[2];
    u32 cipher[2];
  } vs[] = {
      {{0x00010203, 0x04050607, 0x08090A0B, 0x0C0D0E0F}, {0x41424344, 0x45464748}, {0x497DF3D0, 0x72612CB5}},
      {{0x00010203, 0x04050607, 0x08090A0B, 0x0C0D0E0F}, {0x41414141, 0x41414141}, {0xE78F2D13, 0x744341D8}},
      {{0, 0, 0, 0}, {0x41424344, 0x45464748}, {0xA0390589, 0xF8B8EFA5}},
      {{0, 0, 0, 0}, {0x41414141, 0x41414141}, {0xED23375A, 0x821A8C2D}},
      {{0, 0, 0, 0}, {0, 0}, {0xDEE9D4D8, 0xF7131ED9}},
  };
  for (auto& v : vs) {
    u8 key[16];
    for (int i = 0; i < 4; ++i) PutBE32(key + 4 * i, v.key[i]);
    CKLF_SecureBlock s;
    s.SetKey(key);
    u32 w[2] = {v.plain[0], v.plain[1]};
    s.encipher(w);
    EXPECT_EQ(w[0], v.cipher[0]);
    EXPECT_EQ(w[1], v.cipher[1]);
    s.decipher(w);
    EXPECT_EQ(w[0], v.plain[0]);
    EXPECT_EQ(w[1], v.plain[1]);
  }
}

TEST(SecureBlock, EveryLengthRoundTripsAndTheLayoutHolds) {
  std::mt19937 rng(11);
  for (u32 n = 1; n <= 70; ++n) {
    std::vector<u8> src = klftest::RandomBytes(rng, n);
    CKLF_SecureBlock enc;
    enc.SetPassword(CKLF_String("knife"));
    enc.SetSourceBlock(src.data(), n);
    ASSERT_EQ(enc.Process(), 1) << n;
    std::vector<u8> c = Bytes(enc.GetDestBlock());
    ASSERT_EQ(c.size(), 17u + ((n + 7) / 8) * 8) << n;
    EXPECT_EQ(c[0], n % 8);

    // The first block deciphers to the first 8 digest bytes of the source.
    CKLF_SecureBlock dec;
    dec.SetPassword(CKLF_String("knife"));
    u32 w[2] = {BE32(c.data() + 1), BE32(c.data() + 5)};
    dec.decipher(w);
    CKLF_MD5Block md5;
    u8 d[16];
    md5.Update(src.data(), n);
    md5.Final(d);
    EXPECT_EQ(w[0], BE32(d));
    EXPECT_EQ(w[1], BE32(d + 4));

    dec.SetMode(1);
    dec.SetSourceBlock(c.data(), static_cast<u32>(c.size()));
    ASSERT_EQ(dec.Process(), 1) << n;
    EXPECT_EQ(Bytes(dec.GetDestBlock()), src);

    // Wrong password, or one flipped bit anywhere: the digest catches it.
    CKLF_SecureBlock bad;
    bad.SetMode(1);
    bad.SetPassword(CKLF_String("knifE"));
    bad.SetSourceBlock(c.data(), static_cast<u32>(c.size()));
    EXPECT_EQ(bad.Process(), 0);
    EXPECT_EQ(bad.GetError(), klErrSecureDigest);
    std::vector<u8> flip = c;
    flip[1 + rng() % (flip.size() - 1)] ^= 0x10;
    dec.SetSourceBlock(flip.data(), static_cast<u32>(flip.size()));
    EXPECT_EQ(dec.Process(), 0);
    EXPECT_EQ(dec.GetError(), klErrSecureDigest);
  }
}

TEST(SecureBlock, Errors) {
  u8 small[24] = {};
  CKLF_SecureBlock s;
  s.SetMode(1);
  s.SetSourceBlock(small, 24);
  EXPECT_EQ(s.Process(), 0);
  EXPECT_EQ(s.GetError(), klErrSecureShort);
  u8 odd[26] = {};
  s.SetSourceBlock(odd, 26);  // not whole blocks
  EXPECT_EQ(s.Process(), 0);
  EXPECT_EQ(s.GetError(), klErrSecureShort);
  u8 badCount[25] = {9};
  s.SetSourceBlock(badCount, 25);
  EXPECT_EQ(s.Process(), 0);
  EXPECT_EQ(s.GetError(), klErrSecureShort);
  s.SetSourceBlock(small, 0);
  EXPECT_EQ(s.Process(), 0);
  EXPECT_EQ(s.GetError(), klErrSecureArgs);
  s.SetSourceBlock(small, 8);
  s.SetMode(2);
  EXPECT_EQ(s.Process(), 0);
  EXPECT_EQ(s.GetError(), klErrSecureArgs);
  CKLF_Progress progress;
  s.SetMode(0);
  s.SetProgress(progress);
  EXPECT_EQ(s.Process(), 0);
  EXPECT_EQ(s.GetError(), klErrSecureProgress);
}
