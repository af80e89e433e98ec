#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "CKLF_ZipBlock.h"
#include "HostTestSupport.h"

namespace {

using hosttest::Bytes;
using hosttest::Noise;
using Records = std::vector<CKLT_FilterHost::DescRecord>;

uint32_t Key(const char* k) { return KLP_FOURCC(k[0], k[1], k[2], k[3]); }

CKLT_FilterHost::DescRecord* Find(Records& r, const char* key) {
  for (auto& rec : r)
    if (rec.key == Key(key)) return &rec;
  return nullptr;
}

// Twice the compressed size at mode (by default the level of the block's
// size): the length of the hex text.
u32 HexLength(const Bytes& data, u8 mode = 0) {
  CKLF_ZipBlock zip;
  zip.SetMode(mode ? mode : data.size() <= CKLF_8BFPluginVirtual::klScriptDenseLargest ? 1 : 2);
  zip.SetSourceBlock(data.data(), static_cast<u32>(data.size()));
  EXPECT_TRUE(zip.Process());
  return 2 * zip.GetDestBlock()->GetSize();
}

// Noise, then tail, whose compressed block at mode is packed bytes: noise
// packs to its size and a little more, so its length is walked there.
Bytes NoisePackedTo(u32 packed, u8 mode = 2, const Bytes& tail = Bytes()) {
  int64_t n = packed - static_cast<int64_t>(tail.size()) / 2;
  for (int step = 0; step < 40; ++step) {
    Bytes data = Noise(static_cast<size_t>(n), 1);
    data.insert(data.end(), tail.begin(), tail.end());
    const int64_t diff = static_cast<int64_t>(packed) - HexLength(data, mode) / 2;
    if (diff == 0) return data;
    n += diff / 2 + (diff > 0) - (diff < 0);
  }
  ADD_FAILURE() << "no noise packs to " << packed << " bytes";
  return Bytes();
}

struct Fixture {
  CKLT_FilterHost host;
  hosttest::Bound<> b{host};
  Records records;  // the descriptor after Write
  Fixture() { EXPECT_TRUE(host.SetDocument(klpModeRGB, 4, 4, false)); }
  bool Write(const Bytes& data) {
    host.ResetRun();
    b.Bind(host);
    bool ok = b.plugin.WriteEncryptedScriptParameter_V2(data.data(), static_cast<u32>(data.size()));
    const bool taken = host.TakeDescriptor();
    records = host.Descriptor();
    return ok && taken;
  }
  // Reads into a block that starts as 3 marker bytes.
  bool Read(Bytes& out, u8& display) {
    host.ResetRun();
    b.Bind(host);
    b.result = -128;
    CKLF_Mem block;
    if (!block.alloc(3) || !block.Set(static_cast<u8>(0xAB))) return false;
    bool ok = b.plugin.ReadEncryptedScriptParameter_V2(block, display);
    out.assign(block.GetPtr(), block.GetPtr() + block.GetSize());
    return ok;
  }
  void ExpectClean() {
    EXPECT_EQ(host.LiveHandles(), 0);
    EXPECT_EQ(host.LockedHandles(), 0);
    EXPECT_EQ(host.OpenDescriptors(), 0);
  }
  // Every chunk: its key, its three-letter index, upper-case hex, the NUL.
  void ExpectChunks(u32 L, u32 chunkSize, const std::function<std::string(u32)>& key) {
    u32 chunks = (L - 1) / chunkSize + 1;
    ASSERT_EQ(records.size(), chunks + 1);
    for (u32 i = 0; i < chunks; ++i) {
      const auto* c = Find(records, key(i).c_str());
      ASSERT_NE(c, nullptr) << key(i);
      u32 chars = i + 1 < chunks ? chunkSize : L - i * chunkSize;
      ASSERT_EQ(c->text.size(), chars + 4);
      const char index[3] = {static_cast<char>('A' + i / 676), static_cast<char>('A' + i / 26 % 26),
                             static_cast<char>('A' + i % 26)};
      EXPECT_EQ(c->text.substr(0, 3), std::string(index, 3));
      EXPECT_EQ(c->text.find_first_not_of("0123456789ABCDEF", 3), chars + 3);
      EXPECT_EQ(c->text.back(), '\0');
    }
  }
};

TEST(ScriptParams, ChunksOfBothFormsRoundTrip) {
  for (size_t n : {size_t(1), size_t(40000), size_t(200000)}) {
    Fixture f;
    const Bytes data = Noise(n, static_cast<uint32_t>(n));
    ASSERT_TRUE(f.Write(data)) << n;
    const u32 L = HexLength(data);
    EXPECT_EQ(Find(f.records, "klaS")->integer, static_cast<int32_t>(20000000 + L));
    f.ExpectChunks(L, 65000, [](u32 i) { return std::string("kle") + static_cast<char>('0' + i); });
    Bytes back;
    u8 display = 9;
    ASSERT_TRUE(f.Read(back, display));
    EXPECT_EQ(back, data);
    EXPECT_EQ(display, 0);
    f.ExpectClean();
  }

  // A host that refuses large texts gets chunks of 1000 characters.
  Fixture f;
  f.host.SetMaxDescriptorText(1004);  // 1000 characters, three letters and the NUL
  const Bytes data = Noise(30000, 5);
  ASSERT_TRUE(f.Write(data));
  const u32 L = HexLength(data);
  EXPECT_EQ(Find(f.records, "klaS")->integer, static_cast<int32_t>(10000000 + L));
  f.ExpectChunks(L, 1000, [](u32 i) {
    return std::string("kl") + static_cast<char>('a' + i / 26) + static_cast<char>('a' + i % 26);
  });
  Bytes back;
  u8 display = 0;
  f.host.SetPlayInfo(klpDialogDisplay);
  ASSERT_TRUE(f.Read(back, display));
  EXPECT_EQ(back, data);
  EXPECT_EQ(display, 1);
  f.ExpectClean();
}

TEST(ScriptParams, MalformedDescriptorsFailCleanly) {
  typedef std::function<void(Records&)> Damage;
  auto text = [](Records& r) -> std::string& { return Find(r, "kle0")->text; };
  auto size = [](Records& r) -> int32_t& { return Find(r, "klaS")->integer; };
  const struct {
    const char* what;
    Damage damage;
    int16_t result;  // a plain miss leaves the result alone
  } rows[] = {
      {"lower-case hex digit",
       [&](Records& r) {
         std::string& t = text(r);
         size_t pos = t.find_first_of("ABCDEF", 3);
         t[pos] = static_cast<char>(t[pos] - 'A' + 'a');
       },
       klpResBadParameters},
      {"short form claiming 650 chunks", [&](Records& r) { size(r) = 10000000 + 650000; }, klpResBadParameters},
      {"length beyond the limit", [&](Records& r) { size(r) = 20000000 + 650002; }, klpResBadParameters},
      {"odd length", [&](Records& r) { size(r) -= 1; }, klpResBadParameters},
      {"length longer than the text", [&](Records& r) { size(r) += 2; }, klpResBadParameters},
      {"chunk without its NUL", [&](Records& r) { text(r).pop_back(); }, klpResBadParameters},
      {"chunk index beyond the count", [&](Records& r) { text(r)[2] = 'B'; }, klpResBadParameters},
      {"chunk index not letters", [&](Records& r) { text(r)[0] = '#'; }, klpResBadParameters},
      {"chunk too short for its index", [&](Records& r) { text(r) = std::string("AA\0", 3); }, klpResBadParameters},
      {"compressed head claiming 4 GiB", [&](Records& r) { text(r).replace(3 + 16, 8, "FFFFFFFF"); },
       klpResBadParameters},
      {"not a compressed block", [&](Records& r) { text(r)[3] = '0'; }, klpResBadParameters},
      {"nothing stored", [&](Records& r) { size(r) = 10000000; }, klpResUserCanceled},
      {"no size record", [](Records& r) { Find(r, "klaS")->key = Key("klaT"); }, klpResUserCanceled},
      {"size record of text",
       [](Records& r) {
         Find(r, "klaS")->type = KLP_TYPE_TEXT;
         Find(r, "klaS")->text = "20000100";
       },
       klpResUserCanceled},
  };
  for (const auto& row : rows) {
    Fixture f;
    ASSERT_TRUE(f.Write(Noise(3000, 11)));
    row.damage(f.records);
    f.host.SetDescriptor(f.records);
    Bytes back;
    u8 display = 0;
    EXPECT_FALSE(f.Read(back, display)) << row.what;
    EXPECT_EQ(back, Bytes(3, 0xAB)) << row.what;
    EXPECT_EQ(f.b.result, row.result) << row.what;
    f.ExpectClean();
  }
}

// The descriptor's limits: a compressed block of at most 325000 bytes in
// chunks of 65000 characters, or 100000 bytes in 200 chunks of 1000 for a
// host that refuses large texts. What fits reads back, packed at level 9
// (mode 1) up to 64 KiB and where level 6 (mode 2) just misses; what does
// not is refused (65: the compression stopped), the descriptor left empty.
TEST(ScriptParams, BlocksAtTheDescriptorsLimits) {
  std::mt19937 rng(8);
  Bytes letters(200000);  // level 9 packs them a little tighter
  for (auto& c : letters) c = static_cast<uint8_t>("tessarette"[rng() % 10]);
  const Bytes justIn = NoisePackedTo(325000, 1, letters);
  ASSERT_GT(HexLength(justIn, 2), 650000u);
  const struct {
    const char* what;
    Bytes data;
    size_t maxText;
    int32_t layout;  // "klaS" less the hex length; 0: refused
    u8 mode;
  } rows[] = {
      {"well inside", Noise(1000, 2), 0, 20000000, 1},
      {"at the limit", NoisePackedTo(325000), 0, 20000000, 2},
      {"one byte over", NoisePackedTo(325001), 0, 0, 0},
      {"in at level 9 only", justIn, 0, 20000000, 1},
      {"far over", Noise(3000000, 4), 0, 0, 0},
      {"small chunks at their limit", NoisePackedTo(100000), 1004, 10000000, 2},
      {"one small chunk too many", NoisePackedTo(100001), 1004, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Fixture f;
    f.host.SetMaxDescriptorText(row.maxText);
    EXPECT_EQ(f.Write(row.data), row.layout != 0);
    EXPECT_EQ(f.b.plugin.GetError(), row.layout ? 0 : klErrZipCompress);
    const auto* size = Find(f.records, "klaS");
    const int32_t L = static_cast<int32_t>(HexLength(row.data, row.mode));
    EXPECT_EQ(size ? size->integer : 0, row.layout ? row.layout + L : 0);
    Bytes back;
    u8 display = 0;
    EXPECT_EQ(f.Read(back, display), row.layout != 0);
    EXPECT_TRUE(!row.layout || back == row.data);
    f.ExpectClean();
  }
}

TEST(ScriptParams, WritesThatDoNotFitAndPoorHostsFail) {
  typedef bool CKLT_FilterHost::Services::*Service;
  const struct {
    size_t maxText, size;
    Service missing;
  } rows[] = {
      {1004, 110000, nullptr},  // more than 200 small chunks
      {500, 1000, nullptr},     // not even small texts
      {0, 400000, nullptr},     // too large for the descriptor at all
      {0, 100, &CKLT_FilterHost::Services::descriptor},
      {0, 100, &CKLT_FilterHost::Services::handleProcs},
  };
  Bytes back;
  u8 display = 0;
  for (const auto& row : rows) {
    Fixture f;
    f.host.SetMaxDescriptorText(row.maxText);
    if (row.missing) f.host.GetServices().*row.missing = false;
    EXPECT_FALSE(f.Write(Noise(row.size, 6))) << row.size;
    EXPECT_EQ(Find(f.records, "klaS"), nullptr) << row.size;
    EXPECT_FALSE(f.Read(back, display));
    EXPECT_EQ(f.b.result, -128) << row.size;  // nothing stored: the result is left alone
    f.ExpectClean();
  }
  // An earlier run's settings do not stand for a later one's that did not
  // fit: the replay finds none and reads the last run's file instead.
  Fixture f;
  ASSERT_TRUE(f.Write(Noise(100, 7)));
  EXPECT_FALSE(f.Write(Noise(400000, 6)));
  EXPECT_EQ(Find(f.records, "klaS"), nullptr);
  EXPECT_FALSE(f.Read(back, display));
  EXPECT_EQ(f.b.result, -128);
  f.ExpectClean();
  CPluginMain none;
  CKLF_Mem block;
  EXPECT_FALSE(none.WriteEncryptedScriptParameter_V2(&display, 1));
  EXPECT_FALSE(none.ReadEncryptedScriptParameter_V2(block, display));
}

}  // namespace
