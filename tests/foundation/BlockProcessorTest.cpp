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
#include "StorageBytes.h"
#include "support/TestSupport.h"

using klftest::GetBE32;

namespace {

std::string Hex(const u8* p) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < 16; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

void PutBE32(u8* p, u32 v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<u8>(v >> (24 - 8 * i));
}

std::vector<u8> Bytes(const CKLF_Mem* m) { return std::vector<u8>(m->GetPtr(), m->GetPtr() + m->GetSize()); }

std::vector<u8> Pack(const std::vector<u8>& src, u8 mode) {
  CKLF_ZipBlock z;
  z.SetMode(mode);
  z.SetSourceBlock(src.data(), static_cast<u32>(src.size()));
  EXPECT_EQ(z.Process(), 1);
  return Bytes(z.GetDestBlock());
}

// Process's error code: 0 exactly when it succeeds.
u16 ErrorOf(CKLF_BlockProcessor& p) {
  u8 ok = p.Process();
  EXPECT_EQ(ok != 0, p.GetError() == 0);
  return p.GetError();
}

// Unpacks; returns the error code (0 on success) and the content.
u16 Unpack(const std::vector<u8>& block, std::vector<u8>* out) {
  CKLF_ZipBlock z;
  z.SetMode(0);
  z.SetSourceBlock(block.data(), static_cast<u32>(block.size()));
  u16 err = ErrorOf(z);
  if (!err && out) *out = Bytes(z.GetDestBlock());
  return err;
}

}  // namespace

TEST(ZipBlock, RoundTripsWithTheHeadAndStreamOfEveryMode) {
  std::mt19937 rng(7);
  const int levels[4] = {0, 9, 6, 1};
  for (int t = 0; t < 40; ++t) {
    u8 mode = static_cast<u8>(1 + t % 3);
    std::vector<u8> src = klftest::RandomBytes(rng, 1 + rng() % (t < 20 ? 300 : 70000));
    if (t % 4 < 2)
      for (auto& c : src) c &= 3;  // compressible
    std::vector<u8> back, b = Pack(src, mode);
    ASSERT_GE(b.size(), 16u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 8), "KLCV2-01");
    EXPECT_EQ(GetBE32(b, 8), src.size());
    EXPECT_EQ(GetBE32(b, 12) + 16u, b.size());
    // The stream is exactly what zlib makes at the mode's level.
    std::vector<u8> ref(compressBound(src.size()));
    uLongf n = ref.size();
    ASSERT_EQ(compress2(ref.data(), &n, src.data(), src.size(), levels[mode]), Z_OK);
    EXPECT_EQ(std::vector<u8>(b.begin() + 16, b.end()), std::vector<u8>(ref.begin(), ref.begin() + n));
    ASSERT_EQ(Unpack(b, &back), 0) << src.size();
    ASSERT_EQ(back, src);
    b.push_back(0x55);  // trailing bytes after the stream are tolerated
    ASSERT_EQ(Unpack(b, &back), 0);
  }
}

// A pack limit keeps the very block made without one when it fits, at
// every level, and refuses one byte less or far less with 65.
TEST(ZipBlock, APackLimitKeepsWhatFitsAndRefusesTheRest) {
  std::mt19937 rng(3);
  for (const std::vector<u8>& src : {klftest::RandomBytes(rng, 70000), std::vector<u8>(300000, 'k')})
    for (u8 mode : {1, 2, 3}) {
      const std::vector<u8> free = Pack(src, mode);
      const u32 n = static_cast<u32>(free.size());
      for (u32 limit : {n, n + 1, n - 1, n / 4, CKLF_ZipBlock::klZipHeadSize}) {
        CKLF_ZipBlock z;
        z.SetMode(mode);
        z.SetPackLimit(limit);
        z.SetSourceBlock(src.data(), static_cast<u32>(src.size()));
        EXPECT_EQ(ErrorOf(z), limit >= n ? 0 : klErrZipCompress) << int(mode) << " " << limit << " of " << n;
        EXPECT_TRUE(limit < n || Bytes(z.GetDestBlock()) == free);
      }
    }
}

TEST(ZipBlock, MalformedBlocksAreRefusedBeforeAnyAllocation) {
  const std::vector<u8> good = Pack(std::vector<u8>(1000, 'x'), 1);
  auto with = [&](size_t at, u32 v) {
    std::vector<u8> b = good;
    PutBE32(b.data() + at, v);
    return b;
  };
  std::vector<u8> damaged = good, magic = good;
  for (size_t i = 16; i < damaged.size(); ++i) damaged[i] ^= 0x5A;
  magic[7] = '2';
  // Just above the cap, with a packed size that could hold it.
  std::vector<u8> big = with(8, CKLF_ZipBlock::klZipMaxUnpacked + 1);
  PutBE32(big.data() + 12, 70000);
  big.resize(16 + 70000);
  std::pair<const char*, std::vector<u8>> cases[] = {
      {"short head", std::vector<u8>(good.begin(), good.begin() + 15)},
      {"magic", magic},
      {"packed size beyond the bytes", std::vector<u8>(good.begin(), good.end() - 1)},
      {"packed size wrapping 32 bits", with(12, 0xFFFFFFF8u)},
      {"unpacked size too large", with(8, 1001)},
      {"unpacked size too small", with(8, 999)},
      {"4 GiB claim", with(8, 0xFFFFFFFF)},
      {"above the cap", big},
      {"damaged stream", damaged},
  };
  for (auto& c : cases) EXPECT_EQ(Unpack(c.second, nullptr), klErrZipMalformed) << c.first;
}

TEST(ZipBlock, TheCapIsInclusive) {
  std::vector<u8> zeros(CKLF_ZipBlock::klZipMaxUnpacked + 1, 0);
  CKLF_ZipBlock z;
  z.SetSourceBlock(zeros.data(), static_cast<u32>(zeros.size()));
  EXPECT_EQ(ErrorOf(z), klErrZipArgs);  // one byte over: refused, never made
  // All zeros at level 9 is the densest block zlib makes: the ratio guard
  // must let it pass.
  z.SetSourceBlock(zeros.data(), CKLF_ZipBlock::klZipMaxUnpacked);
  ASSERT_EQ(z.Process(), 1);
  std::vector<u8> b = Bytes(z.GetDestBlock()), back;
  std::vector<u8>().swap(zeros);
  ASSERT_EQ(Unpack(b, &back), 0);
  EXPECT_EQ(back.size(), CKLF_ZipBlock::klZipMaxUnpacked);
  EXPECT_EQ(std::count(back.begin(), back.end(), 0), static_cast<long>(back.size()));
}

TEST(BlockProcessors, ArgumentAndProgressErrors) {
  u8 data[32] = {9};
  CKLF_Progress progress;
  CKLF_ZipBlock z;
  z.SetSourceBlock(data, 10);
  z.SetMode(4);
  EXPECT_EQ(ErrorOf(z), klErrZipArgs);
  z.SetMode(1);
  z.SetProgress(progress);
  EXPECT_EQ(ErrorOf(z), klErrZipProgress);
  z.ClearProgress();
  EXPECT_EQ(ErrorOf(z), 0);
  z.SetSourceBlock(data, 0);  // an empty source cannot be packed
  EXPECT_EQ(ErrorOf(z), klErrZipArgs);

  CKLF_MD5Block m;
  EXPECT_EQ(ErrorOf(m), klErrMD5NoSource);
  ASSERT_TRUE(m.SetSourceBlock(CKLF_String("")));
  EXPECT_EQ(ErrorOf(m), klErrMD5NoSource);
  ASSERT_TRUE(m.SetSourceBlock(CKLF_String("x")));
  m.SetProgress(progress);
  EXPECT_EQ(ErrorOf(m), klErrMD5Progress);

  // Deciphering too short a block, not whole blocks, a tail count above 7;
  // no source, a bad mode, a progress.
  const struct {
    u8 mode;
    u32 size;
    u16 err;
  } secure[] = {{1, 24, klErrSecureShort}, {1, 26, klErrSecureShort}, {1, 25, klErrSecureShort},
                {1, 0, klErrSecureArgs},   {2, 8, klErrSecureArgs},   {0, 8, klErrSecureProgress}};
  for (auto& c : secure) {
    CKLF_SecureBlock s;
    s.SetMode(c.mode);
    s.SetSourceBlock(data, c.size);
    if (c.err == klErrSecureProgress) s.SetProgress(progress);
    EXPECT_EQ(ErrorOf(s), c.err) << c.size;
  }
}

TEST(BlockProcessor, DestinationsOwnTheCallersOrMadeOnDemand) {
  CKLF_BlockProcessor p;
  EXPECT_EQ(p.Process(), 0);  // no source
  ASSERT_TRUE(p.SetSourceBlock(CKLF_String("hello")));
  ASSERT_EQ(p.Process(), 1);
  EXPECT_EQ(Bytes(p.GetDestBlock()), std::vector<u8>({'h', 'e', 'l', 'l', 'o'}));  // no NUL
  CKLF_Mem mine;
  p.SetDestBlock(&mine);
  ASSERT_EQ(p.Process(), 1);
  p.Clean();  // leaves the caller's block alone
  EXPECT_EQ(mine.GetSize(), 5u);
  EXPECT_EQ(p.Process(), 0);  // no destination
  ASSERT_NE(p.SetDestBlock(), nullptr);
  EXPECT_EQ(p.Process(), 1);

  // A block packed into itself and back.
  std::vector<u8> text(5000);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<u8>("puzzle"[i % 6]);
  ASSERT_NE(mine.alloc(5000), nullptr);
  std::memcpy(mine.GetPtr(), text.data(), 5000);
  CKLF_ZipBlock z, y;
  z.SetDestBlock(&mine);
  z.SetSourceBlock(mine);
  ASSERT_EQ(z.Process(), 1);
  std::vector<u8> packed = Bytes(&mine);
  z.SetMode(0);
  z.SetSourceBlock(mine);
  ASSERT_EQ(z.Process(), 1);
  EXPECT_EQ(Bytes(&mine), text);
  // A processor left without a destination makes one.
  y.Clean();
  y.SetMode(0);
  y.SetSourceBlock(packed.data(), static_cast<u32>(packed.size()));
  ASSERT_EQ(y.Process(), 1);
  EXPECT_EQ(Bytes(y.GetDestBlock()), text);
}

TEST(MD5Block, Rfc1321TestSuite) {
  const char* cases[][2] = {
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  // One object, many sources: each Process starts afresh.
  CKLF_MD5Block md5, stream;
  for (auto& c : cases) {
    ASSERT_TRUE(md5.SetSourceBlock(CKLF_String(c[0])));
    ASSERT_EQ(md5.Process(), 1);
    EXPECT_EQ(Hex(md5.GetDestBlock()->GetPtr()), c[1]) << c[0];
  }
  u8 d[16];
  stream.Final(d);  // nothing at all
  EXPECT_EQ(Hex(d), "d41d8cd98f00b204e9800998ecf8427e");
  // The well-known digest of a million "a".
  std::vector<u8> ms(1000000, 'a');
  md5.SetSourceBlock(ms.data(), static_cast<u32>(ms.size()));
  ASSERT_EQ(md5.Process(), 1);
  EXPECT_EQ(Hex(md5.GetDestBlock()->GetPtr()), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(MD5Block, EveryLengthAroundThePaddingEdgesInRandomPieces) {
  // The digests of the first n bytes of 0, 7, 14, ... for n = 0..200, each
  // streamed in random pieces; the digest of them all made by another MD5.
  std::mt19937 rng(3);
  std::vector<u8> data(200), all;
  for (u32 i = 0; i < 200; ++i) data[i] = static_cast<u8>(i * 7);
  for (u32 n = 0; n <= 200; ++n) {
    CKLF_MD5Block parts;
    for (u32 at = 0, step; at < n; at += step) {
      step = std::min<u32>(1 + rng() % 70, n - at);
      parts.Update(data.data() + at, step);
    }
    all.resize(all.size() + 16);
    parts.Final(all.data() + all.size() - 16);
  }
  CKLF_MD5Block md5;
  md5.SetSourceBlock(all.data(), static_cast<u32>(all.size()));
  ASSERT_EQ(md5.Process(), 1);
  EXPECT_EQ(Hex(md5.GetDestBlock()->GetPtr()), "eb350bfbf075326c945ddb60048458ac");
}

TEST(SecureBlock, XteaBlockVectors) {
  // Published XTEA vectors as big-endian words: key, plain, cipher.
  const u32 vs[][8] = {
      {0x00010203, 0x04050607, 0x08090A0B, 0x0C0D0E0F, 0x41424344, 0x45464748, 0x497DF3D0, 0x72612CB5},
      {0, 0, 0, 0, 0x41424344, 0x45464748, 0xA0390589, 0xF8B8EFA5},
      {0, 0, 0, 0, 0, 0, 0xDEE9D4D8, 0xF7131ED9},
  };
  for (auto& v : vs) {
    u8 key[16];
    for (int i = 0; i < 4; ++i) PutBE32(key + 4 * i, v[i]);
    CKLF_SecureBlock s;
    s.SetKey(key);
    u32 w[2] = {v[4], v[5]};
    s.encipher(w);
    EXPECT_EQ(std::vector<u32>(w, w + 2), std::vector<u32>(v + 6, v + 8));
    s.decipher(w);
    EXPECT_EQ(std::vector<u32>(w, w + 2), std::vector<u32>(v + 4, v + 6));
  }
}

TEST(SecureBlock, EveryLengthRoundTripsAndTheLayoutHolds) {
  // The key is the password's MD5.
  u8 key[16];
  CKLF_MD5Block md5;
  md5.Update(reinterpret_cast<const u8*>("knife"), 5);
  md5.Final(key);
  std::mt19937 rng(11);
  CKLF_SecureBlock enc;  // one object: its destination keeps old bytes
  enc.SetPassword(CKLF_String("knife"));
  for (u32 n = 1; n <= 40; ++n) {
    std::vector<u8> src = klftest::RandomBytes(rng, n);
    enc.SetSourceBlock(src.data(), n);
    ASSERT_EQ(enc.Process(), 1) << n;
    std::vector<u8> c = Bytes(enc.GetDestBlock());
    ASSERT_EQ(c.size(), 17u + ((n + 7) / 8) * 8) << n;
    EXPECT_EQ(c[0], n % 8);

    // Block by block the rest deciphers to the source's digest, the source
    // and zeros.
    md5.SetSourceBlock(src.data(), n);
    ASSERT_EQ(md5.Process(), 1);
    std::vector<u8> plain = Bytes(md5.GetDestBlock());
    plain.insert(plain.end(), src.begin(), src.end());
    plain.resize(c.size() - 1, 0);
    CKLF_SecureBlock dec;
    dec.SetKey(key);
    for (size_t at = 0; at < plain.size(); at += 8) {
      u32 w[2] = {GetBE32(c, at + 1), GetBE32(c, at + 5)};
      dec.decipher(w);
      ASSERT_EQ(std::vector<u32>(w, w + 2), std::vector<u32>({GetBE32(plain, at), GetBE32(plain, at + 4)})) << n;
    }

    dec.SetMode(1);
    dec.SetSourceBlock(c.data(), static_cast<u32>(c.size()));
    ASSERT_EQ(dec.Process(), 1) << n;
    EXPECT_EQ(Bytes(dec.GetDestBlock()), src);

    // Wrong password, or one flipped bit anywhere: the digest catches it.
    std::vector<u8> flip = c;
    flip[1 + rng() % (flip.size() - 1)] ^= 0x10;
    dec.SetSourceBlock(flip.data(), static_cast<u32>(flip.size()));
    EXPECT_EQ(ErrorOf(dec), klErrSecureDigest);
    dec.SetPassword(CKLF_String("knifE"));
    dec.SetSourceBlock(c.data(), static_cast<u32>(c.size()));
    EXPECT_EQ(ErrorOf(dec), klErrSecureDigest);
  }
}
