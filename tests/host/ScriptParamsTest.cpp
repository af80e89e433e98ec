#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "CKLF_ZipBlock.h"
#include "HostTestSupport.h"

namespace {

using Records = std::vector<CKLP_FilterHost::DescRecord>;

uint32_t Key(const char* k) { return KLP_FOURCC(k[0], k[1], k[2], k[3]); }

const CKLP_FilterHost::DescRecord* Find(const Records& r, const char* key) {
  for (const auto& rec : r)
    if (rec.key == Key(key)) return &rec;
  return nullptr;
}

u32 PackedSize(const std::vector<uint8_t>& data) {
  CKLF_ZipBlock zip;
  zip.SetSourceBlock(data.data(), static_cast<u32>(data.size()));
  EXPECT_TRUE(zip.Process());
  return zip.GetDestBlock()->GetSize();
}

struct Fixture {
  CKLP_FilterHost host;
  CPluginMain plugin;
  int16_t result = 0;
  Fixture() { host.SetDocument(klpModeRGB, 4, 4, false); }
  void Bind() { plugin.SetHostPointers(&host.Record(), nullptr, &result); }
  bool Write(const std::vector<uint8_t>& data) {
    host.ResetRun();
    Bind();
    bool ok = plugin.WriteEncryptedScriptParameter_V2(data.data(), static_cast<u32>(data.size()));
    host.TakeDescriptor();
    return ok;
  }
  // Reads into a block that starts as 3 marker bytes.
  bool Read(std::vector<uint8_t>& out, u8& display) {
    host.ResetRun();
    Bind();
    result = -128;
    CKLF_Mem block;
    block.alloc(3);
    block.Set(static_cast<u8>(0xAB));
    bool ok = plugin.ReadEncryptedScriptParameter_V2(block, display);
    out.assign(block.GetPtr(), block.GetPtr() + block.GetSize());
    return ok;
  }
  void ExpectClean() {
    EXPECT_EQ(host.LiveHandles(), 0);
    EXPECT_EQ(host.LockedHandles(), 0);
    EXPECT_EQ(host.OpenDescriptors(), 0);
  }
};

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

TEST(ScriptParams, LargeChunksRoundTrip) {
  for (size_t n : {size_t(1), size_t(100), size_t(32000), size_t(40000), size_t(200000)}) {
    Fixture f;
    std::vector<uint8_t> data = Noise(n, static_cast<uint32_t>(n));
    ASSERT_TRUE(f.Write(data)) << n;
    const Records& d = f.host.Descriptor();
    u32 L = 2 * PackedSize(data);
    u32 chunks = (L - 1) / 65000 + 1;
    ASSERT_EQ(d.size(), chunks + 1);
    const auto* size = Find(d, "klaS");
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->integer, static_cast<int32_t>(20000000 + L));
    for (u32 i = 0; i < chunks; ++i) {
      char key[5] = {'k', 'l', 'e', static_cast<char>('0' + i), 0};
      const auto* c = Find(d, key);
      ASSERT_NE(c, nullptr) << key;
      u32 chars = i + 1 < chunks ? 65000 : L - i * 65000;
      ASSERT_EQ(c->text.size(), chars + 4);
      EXPECT_EQ(c->text[0], 'A');
      EXPECT_EQ(c->text[1], 'A');
      EXPECT_EQ(c->text[2], static_cast<char>('A' + i));
      EXPECT_EQ(c->text.back(), '\0');
      for (u32 k = 3; k < chars + 3; ++k)
        ASSERT_TRUE((c->text[k] >= '0' && c->text[k] <= '9') || (c->text[k] >= 'A' && c->text[k] <= 'F'));
    }
    std::vector<uint8_t> back;
    u8 display = 9;
    ASSERT_TRUE(f.Read(back, display));
    EXPECT_EQ(back, data);
    EXPECT_EQ(display, 0);
    f.ExpectClean();
  }
}

TEST(ScriptParams, SmallChunksWhenTheHostRefusesLargeTexts) {
  Fixture f;
  f.host.SetMaxDescriptorText(1004);  // 1000 characters, three letters and the NUL
  std::vector<uint8_t> data = Noise(30000, 5);
  ASSERT_TRUE(f.Write(data));
  const Records& d = f.host.Descriptor();
  u32 L = 2 * PackedSize(data);
  u32 chunks = (L - 1) / 1000 + 1;
  ASSERT_EQ(d.size(), chunks + 1);
  EXPECT_EQ(Find(d, "klaS")->integer, static_cast<int32_t>(10000000 + L));
  EXPECT_EQ(Find(d, "kle0"), nullptr);
  ASSERT_NE(Find(d, "klaa"), nullptr);
  ASSERT_NE(Find(d, "klbz"), nullptr);
  const auto* c = Find(d, "klcb");  // chunk 53
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->text.substr(0, 3), "ACB");
  std::vector<uint8_t> back;
  u8 display = 0;
  f.host.SetPlayInfo(klpDialogDisplay);
  ASSERT_TRUE(f.Read(back, display));
  EXPECT_EQ(back, data);
  EXPECT_EQ(display, 1);
  f.ExpectClean();

  // More than 200 small chunks do not fit the keys: the write fails.
  Fixture g;
  g.host.SetMaxDescriptorText(1004);
  EXPECT_FALSE(g.Write(Noise(110000, 6)));
  g.ExpectClean();
  // A host that refuses even small texts.
  Fixture h;
  h.host.SetMaxDescriptorText(500);
  EXPECT_FALSE(h.Write(Noise(1000, 7)));
  h.ExpectClean();
  // A block too large for the descriptor at all writes nothing.
  Fixture k;
  EXPECT_FALSE(k.Write(Noise(400000, 8)));
  EXPECT_FALSE(k.host.HasDescriptor());
  k.ExpectClean();
}

// Writes a valid descriptor, lets the test damage it, and reads it back.
struct Damaged : Fixture {
  std::vector<uint8_t> data = Noise(3000, 11);
  Records records;
  Damaged() {
    EXPECT_TRUE(Write(data));
    records = host.Descriptor();
  }
  CKLP_FilterHost::DescRecord& Get(const char* key) {
    for (auto& r : records)
      if (r.key == Key(key)) return r;
    ADD_FAILURE() << key;
    return records[0];
  }
  // Reads the damaged descriptor: it must fail, leave the block alone and
  // leave the expected host result.
  void ExpectRefused(int16_t expectedResult) {
    host.SetDescriptor(records);
    std::vector<uint8_t> back;
    u8 display = 0;
    EXPECT_FALSE(Read(back, display));
    EXPECT_EQ(back, std::vector<uint8_t>(3, 0xAB));
    EXPECT_EQ(result, expectedResult);
    ExpectClean();
  }
};

TEST(ScriptParams, MalformedDescriptorsFailCleanly) {
  {  // lower-case hex digit
    Damaged d;
    std::string& t = d.Get("kle0").text;
    size_t pos = t.find_first_of("ABCDEF", 3);
    ASSERT_NE(pos, std::string::npos);
    t[pos] = static_cast<char>(t[pos] - 'A' + 'a');
    d.ExpectRefused(klpResBadParameters);
  }
  {  // the short form claiming 650 chunks where only 200 keys exist
    Damaged d;
    d.Get("klaS").integer = 10000000 + 650000;
    d.ExpectRefused(klpResBadParameters);
  }
  {  // a length beyond the limit
    Damaged d;
    d.Get("klaS").integer = 20000000 + 650002;
    d.ExpectRefused(klpResBadParameters);
  }
  {  // odd length
    Damaged d;
    d.Get("klaS").integer -= 1;
    d.ExpectRefused(klpResBadParameters);
  }
  {  // a length longer than the text: missing characters stay zero
    Damaged d;
    d.Get("klaS").integer += 2;
    d.ExpectRefused(klpResBadParameters);
  }
  {  // a chunk without its NUL
    Damaged d;
    d.Get("kle0").text.pop_back();
    d.ExpectRefused(klpResBadParameters);
  }
  {  // a chunk index beyond the chunk count
    Damaged d;
    d.Get("kle0").text[2] = 'B';
    d.ExpectRefused(klpResBadParameters);
  }
  {  // a chunk index that is not letters
    Damaged d;
    d.Get("kle0").text[0] = '#';
    d.ExpectRefused(klpResBadParameters);
  }
  {  // a chunk too short to hold the index
    Damaged d;
    d.Get("kle0").text = std::string("AA\0", 3);
    d.ExpectRefused(klpResBadParameters);
  }
  {  // a compressed head that claims 4 GiB unpacked
    Damaged d;
    std::string& t = d.Get("kle0").text;
    for (int i = 0; i < 8; ++i) t[3 + 16 + i] = 'F';
    d.ExpectRefused(klpResBadParameters);
  }
  {  // not a compressed block at all
    Damaged d;
    d.Get("kle0").text[3] = '0';
    d.ExpectRefused(klpResBadParameters);
  }
  // Nothing stored: a plain miss, the result is not touched.
  {
    Damaged d;
    d.Get("klaS").integer = 10000000;
    d.ExpectRefused(klpResUserCanceled);
  }
  {
    Damaged d;
    d.Get("klaS").key = Key("klaT");
    d.ExpectRefused(klpResUserCanceled);
  }
  {  // the size record is text, not an integer
    Damaged d;
    d.Get("klaS").type = KLP_TYPE_TEXT;
    d.Get("klaS").text = "20000100";
    d.ExpectRefused(klpResUserCanceled);
  }
}

TEST(ScriptParams, MissingServicesFailWithoutCalls) {
  Fixture f;
  std::vector<uint8_t> data = Noise(100, 1);
  f.host.GetServices().descriptor = false;
  EXPECT_FALSE(f.Write(data));
  std::vector<uint8_t> back;
  u8 display = 0;
  EXPECT_FALSE(f.Read(back, display));
  Fixture g;
  g.host.GetServices().handleProcs = false;
  EXPECT_FALSE(g.Write(data));
  EXPECT_FALSE(g.Read(back, display));
  Fixture h;
  EXPECT_FALSE(h.Read(back, display));  // no descriptor yet
  EXPECT_EQ(h.result, klpResUserCanceled);
  CPluginMain none;
  CKLF_Mem block;
  EXPECT_FALSE(none.WriteEncryptedScriptParameter_V2(data.data(), 100));
  EXPECT_FALSE(none.ReadEncryptedScriptParameter_V2(block, display));
}

}  // namespace
