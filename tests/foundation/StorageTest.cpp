#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "CKLF_MD5Block.h"
#include "CKLF_Storage.h"
#include "StorageBytes.h"
#include "support/TestSupport.h"

using klftest::RawStore;

namespace {

std::vector<std::pair<std::string, u32>> IndexOf(CKLF_Storage& s) {
  std::vector<std::pair<std::string, u32>> out;
  CKLF_StringArray& ix = s.GetAllRecordsArray();
  for (u32 i = 0; i < ix.GetSize(); ++i) out.push_back({ix.GetPtrAt(i)->GetStr(), ix.GetPtrAt(i)->GetUserValue()});
  return out;
}

std::vector<std::string> Keys(CKLF_Storage& s) {
  std::vector<std::string> out;
  for (auto& e : IndexOf(s)) out.push_back(e.first);
  return out;
}

// The plain recursive walk over a trusted container: one pass over all
// records per folder, children added in file order, then sorted.
void SlowWalk(const std::vector<u8>& f, u32 parent, const std::string& prefix,
              std::vector<std::pair<std::string, u32>>& out) {
  u32 count = klftest::GetBE32(f, 24);
  size_t at = 32;
  for (u32 i = 0; i < count; ++i) {
    u32 body = klftest::GetBE32(f, at);
    u8 type = f[at + 4];
    u32 par = klftest::GetBE32(f, at + 5);
    u32 id = klftest::GetBE32(f, at + 9);
    u32 n = (u32(f[at + 13]) << 8) | f[at + 14];
    if (par == parent && type != 0x63) {
      std::string name(reinterpret_cast<const char*>(&f[at + 15]), n);
      std::string key = prefix.empty() ? name : prefix + ">" + name;
      out.push_back({key, static_cast<u32>(at)});
      if (type == 0) SlowWalk(f, id, key, out);
    }
    at += 4 + body;
  }
}

std::vector<std::pair<std::string, u32>> SlowIndex(const std::vector<u8>& f) {
  std::vector<std::pair<std::string, u32>> out;
  SlowWalk(f, 0xFFFFFFFF, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

// Opens bytes both ways (memory image and file); both must agree.
u16 OpenError(const std::vector<u8>& bytes, const klftest::TempDir& dir) {
  CKLF_Storage mem;
  u8 okMem = mem.Open(bytes.data(), static_cast<u32>(bytes.size()));
  std::string path = dir.File("probe.kls");
  klftest::WriteFileBytes(path, bytes);
  CKLF_Storage file;
  u8 okFile = file.Open(path.c_str(), 1);
  EXPECT_EQ(okMem, okFile);
  EXPECT_EQ(mem.GetError(), file.GetError());
  return okMem ? 0 : mem.GetError();
}

}  // namespace

TEST(Storage, EmptyContainerAndItsDigest) {
  klftest::TempDir dir;
  std::string path = dir.File("new.kls");
  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 2), 1);
  EXPECT_EQ(s.GetPhysicalSize(), 40u);
  EXPECT_EQ(s.IsChanged(), 1);
  ASSERT_EQ(s.Close(), 1);
  std::vector<u8> f = klftest::ReadFileBytes(path);
  ASSERT_EQ(f.size(), 40u);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "KLCPSv40");
  EXPECT_EQ(std::string(f.begin() + 32, f.end()), "KLCPSv40");
  for (int i = 24; i < 32; ++i) EXPECT_EQ(f[i], 0);
  // The digest covers count, last id and the closing magic.
  CKLF_MD5Block m;
  u8 d[16];
  m.Update(f.data() + 24, 16);
  m.Final(d);
  EXPECT_EQ(std::memcmp(d, f.data() + 8, 16), 0);
  EXPECT_EQ(s.CheckMD5(path.c_str()), 1);

  // Mode 3 on an empty file makes the same; mode 1 refuses it.
  klftest::WriteFileBytes(path, {});
  ASSERT_EQ(s.Open(path.c_str(), 3), 1);
  s.Close();
  EXPECT_EQ(klftest::ReadFileBytes(path), f);
  klftest::WriteFileBytes(path, {});
  EXPECT_EQ(s.Open(path.c_str(), 1), 0);
  EXPECT_EQ(s.GetError(), klErrBadArg);
  EXPECT_EQ(s.IsOpened(), 0);
  EXPECT_EQ(s.Open(dir.File("missing").c_str(), 3), 0);
  EXPECT_EQ(s.GetError(), klErrFileOpen);
}

TEST(Storage, RecordLayoutIdsAndParents) {
  klftest::TempDir dir;
  std::string path = dir.File("a.kls");
  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 2), 1);
  EXPECT_EQ(s.SetRecord("A>B", static_cast<u32>(7)), 0);
  EXPECT_EQ(s.GetError(), klErrStoreNotFolder);
  ASSERT_EQ(s.AddFolder("A"), 1);
  ASSERT_EQ(s.SetRecord("A>B", static_cast<u32>(0x01020304)), 1);
  EXPECT_EQ(s.AddFolder("A"), 0);
  EXPECT_EQ(s.GetError(), klErrStoreKeyExists);
  // Under a value, not a folder.
  EXPECT_EQ(s.SetRecord("A>B>C", static_cast<u8>(1)), 0);
  EXPECT_EQ(s.GetError(), klErrStoreNotFolder);
  // Empty names.
  EXPECT_EQ(s.SetRecord("A>", static_cast<u8>(1)), 0);
  EXPECT_EQ(s.GetError(), klErrBadArg);
  EXPECT_EQ(s.SetRecord(">A", static_cast<u8>(1)), 0);
  EXPECT_EQ(s.AddFolder(""), 0);
  ASSERT_EQ(s.Close(), 1);

  std::vector<u8> want;
  const char* magic = "KLCPSv40";
  std::vector<u8> f = klftest::ReadFileBytes(path);
  // count 2, last id 2
  EXPECT_EQ(klftest::GetBE32(f, 24), 2u);
  EXPECT_EQ(klftest::GetBE32(f, 28), 2u);
  std::vector<u8> recs = {0, 0, 0, 12, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 0, 1, 'A',
                          0, 0, 0, 16, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 1, 'B', 1, 2, 3, 4};
  ASSERT_EQ(f.size(), 32 + recs.size() + 8);
  EXPECT_EQ(std::vector<u8>(f.begin() + 32, f.end() - 8), recs);
  EXPECT_EQ(std::string(f.end() - 8, f.end()), magic);
}

TEST(Storage, EveryChangeWritesTheBytesTheFormatFixes) {
  klftest::TempDir dir;
  std::string path = dir.File("x.kls");
  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 2), 1);
  ASSERT_EQ(s.AddFolder("F"), 1);                                // id 1
  ASSERT_EQ(s.SetRecord("F>s", CKLF_String("abc")), 1);          // id 2
  const u8 two[2] = {9, 8};
  ASSERT_EQ(s.SetRecord("F>b", two, 2), 1);                      // id 3
  ASSERT_EQ(s.SetRecord("u8", static_cast<u8>(7)), 1);           // id 4
  ASSERT_EQ(s.SetRecord("u16", static_cast<u16>(0x1234)), 1);    // id 5
  ASSERT_EQ(s.SetRecord("d", 1.5), 1);                           // id 6
  ASSERT_EQ(s.SetRecord("F>s", CKLF_String("x")), 1);            // in place
  ASSERT_EQ(s.Rename("u8", "F>v"), 1);                           // keeps id 4
  ASSERT_EQ(s.SetRecord("u16", static_cast<u32>(5)), 1);         // id 7
  ASSERT_EQ(s.KillRec("F"), 1);
  ASSERT_EQ(s.Close(), 1);

  RawStore want;
  want.Add(0x63, 0xFFFFFFFF, 1, "F", {});
  // The shorter text: new length and bytes, the old tail left behind.
  want.Add(0x63, 1, 2, "s", {0, 0, 0, 2, 'x', 0, 'c', 0});
  want.Add(0x63, 1, 3, "b", {0, 0, 0, 2, 9, 8});
  want.Add(0x63, 0xFFFFFFFF, 4, "u8", {7});
  want.Add(0x63, 0xFFFFFFFF, 5, "u16", {0x12, 0x34});
  want.Add(6, 0xFFFFFFFF, 6, "d", {0x3F, 0xF8, 0, 0, 0, 0, 0, 0});
  want.Add(0x63, 1, 4, "v", {7});
  want.Add(3, 0xFFFFFFFF, 7, "u16", {0, 0, 0, 5});
  std::vector<u8> f = klftest::ReadFileBytes(path);
  std::vector<u8> w = want.Bytes();
  ASSERT_EQ(f.size(), w.size());
  EXPECT_EQ(std::vector<u8>(f.begin() + 24, f.end()), std::vector<u8>(w.begin() + 24, w.end()));
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "KLCPSv40");
  CKLF_MD5Block m;
  u8 d[16];
  m.Update(f.data() + 24, static_cast<u32>(f.size() - 24));
  m.Final(d);
  EXPECT_EQ(std::memcmp(d, f.data() + 8, 16), 0);
}

TEST(Storage, EveryTypeRoundTripsThroughCloseAndReopen) {
  klftest::TempDir dir;
  std::string path = dir.File("all.kls");
  std::vector<u8> blob(3000);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<u8>(i * 31);
  {
    CKLF_Storage s;
    ASSERT_EQ(s.Open(path.c_str(), 2), 1);
    ASSERT_EQ(s.AddFolder("Prefs"), 1);
    ASSERT_EQ(s.AddFolder("Prefs>Deep"), 1);
    ASSERT_EQ(s.SetRecord("Prefs>u8", static_cast<u8>(200)), 1);
    ASSERT_EQ(s.SetRecord("Prefs>u16", static_cast<u16>(0xBEEF)), 1);
    ASSERT_EQ(s.SetRecord("Prefs>u32", static_cast<u32>(0xDEADBEEF)), 1);
    ASSERT_EQ(s.SetRecord("Prefs>Deep>dbl", -1234.5e-7), 1);
    ASSERT_EQ(s.SetRecord("Prefs>text", CKLF_String("Pi\xC3\xA8" "ce")), 1);
    ASSERT_EQ(s.SetRecord("Prefs>empty", CKLF_String("")), 1);
    ASSERT_EQ(s.SetRecord("blob", blob.data(), static_cast<u32>(blob.size())), 1);
    ASSERT_EQ(s.SetRecord("none", blob.data(), 0), 1);
    ASSERT_EQ(s.Close(), 1);
  }
  CKLF_Storage s;
  ASSERT_EQ(s.CheckMD5(path.c_str()), 1);
  ASSERT_EQ(s.Open(path.c_str(), 1), 1);
  EXPECT_EQ(s.GetTotalRecords(), 10u);
  u8 b;
  u16 w;
  u32 dw;
  f64 d;
  CKLF_String t;
  CKLF_Mem m;
  ASSERT_EQ(s.GetRec("Prefs>u8", b), 1);
  EXPECT_EQ(b, 200);
  ASSERT_EQ(s.GetRec("Prefs>u16", w), 1);
  EXPECT_EQ(w, 0xBEEF);
  ASSERT_EQ(s.GetRec("Prefs>u32", dw), 1);
  EXPECT_EQ(dw, 0xDEADBEEFu);
  ASSERT_EQ(s.GetRec("Prefs>Deep>dbl", d), 1);
  EXPECT_EQ(d, -1234.5e-7);
  ASSERT_EQ(s.GetRec("Prefs>text", t), 1);
  EXPECT_STREQ(t.GetStr(), "Pi\xC3\xA8" "ce");
  EXPECT_EQ(t.GetLength(), 6u);
  ASSERT_EQ(s.GetRec("Prefs>empty", t), 1);
  EXPECT_EQ(t.GetLength(), 0u);
  ASSERT_EQ(s.GetRec("blob", m), 1);
  ASSERT_EQ(m.GetSize(), blob.size());
  EXPECT_EQ(std::memcmp(m.GetPtr(), blob.data(), blob.size()), 0);
  ASSERT_EQ(s.GetRec("none", m), 1);
  EXPECT_EQ(m.GetSize(), 0u);
  EXPECT_EQ(s.GetRecType("Prefs"), CKLF_Storage::klRecFolder);
  EXPECT_EQ(s.GetRecType("Prefs>text"), CKLF_Storage::klRecString);

  // Typed readers refuse other types and missing keys.
  EXPECT_EQ(s.GetRec("Prefs>u16", dw), 0);
  EXPECT_EQ(s.GetError(), klErrStoreType);
  EXPECT_EQ(s.GetRec("Prefs>text", m), 0);
  EXPECT_EQ(s.GetError(), klErrStoreType);
  EXPECT_EQ(s.GetRec("Prefs>nope", b), 0);
  EXPECT_EQ(s.GetError(), klErrStoreNoKey);
  EXPECT_EQ(s.GetRecType("nope"), CKLF_Storage::klRecMissing);

  // The general reader: numbers in place, lengths with a null pointer.
  _KLSTORAGEDATA g;
  g.ptr = nullptr;
  EXPECT_EQ(s.GetRec("Prefs>u16", g), CKLF_Storage::klRecU16);
  EXPECT_EQ(g.word, 0xBEEF);
  g.ptr = nullptr;
  u32 len = 0;
  EXPECT_EQ(s.GetRec("Prefs>text", g, &len), CKLF_Storage::klRecString);
  EXPECT_EQ(len, 7u);  // with the NUL
  EXPECT_EQ(g.dword, 7u);
  EXPECT_EQ(s.GetRec("Prefs", g), CKLF_Storage::klRecFolder);
  EXPECT_EQ(g.byte, 0);
  EXPECT_EQ(s.GetRec("missing", g), CKLF_Storage::klRecMissing);
  EXPECT_EQ(s.GetError(), klErrStoreNoKey);

  // Writes are refused read-only.
  EXPECT_EQ(s.KillRec("Prefs") + s.Rename("blob", "blob2") + s.AddFolder("X"), 0);
  EXPECT_EQ(s.GetError(), klErrStoreReadOnly);
  EXPECT_EQ(s.CreateNewFileStructure(), 0);
  EXPECT_EQ(s.IsChanged(), 0);
}

TEST(Storage, CallersCapacityBoundsEveryCopy) {
  klftest::TempDir dir;
  CKLF_Storage s;
  ASSERT_EQ(s.Open(dir.File("c.kls").c_str(), 2), 1);
  ASSERT_EQ(s.SetRecord("s", CKLF_String("hello")), 1);
  u8 bytes[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(s.SetRecord("b", bytes, 5), 1);

  u8 buf[16];
  std::memset(buf, 0xEE, sizeof(buf));
  u32 len = 0;
  ASSERT_EQ(s.GetRec("s", nullptr, len), 1);
  EXPECT_EQ(len, 6u);
  len = 5;  // one short of the NUL
  EXPECT_EQ(s.GetRec("s", buf, len), 0);
  EXPECT_EQ(s.GetError(), klErrBadArg);
  EXPECT_EQ(len, 6u);
  EXPECT_EQ(buf[0], 0xEE);  // nothing copied
  len = 6;
  ASSERT_EQ(s.GetRec("s", buf, len), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "hello");
  EXPECT_EQ(buf[6], 0xEE);
  len = 16;
  ASSERT_EQ(s.GetRec("b", buf, len), 1);
  EXPECT_EQ(len, 5u);
  u32 n32 = 1;
  EXPECT_EQ(s.SetRecord("n", n32), 1);
  EXPECT_EQ(s.GetRec("n", buf, len), 0);
  EXPECT_EQ(s.GetError(), klErrStoreType);

  // The general reader with a pointer needs a capacity.
  _KLSTORAGEDATA g;
  g.ptr = buf;
  EXPECT_EQ(s.GetRec("b", g), CKLF_Storage::klRecMissing);
  EXPECT_EQ(s.GetError(), klErrBadArg);
  len = 4;
  EXPECT_EQ(s.GetRec("b", g, &len), CKLF_Storage::klRecMissing);
  EXPECT_EQ(len, 5u);
  EXPECT_EQ(s.GetRec("b", g, &len), CKLF_Storage::klRecBlock);
}

TEST(Storage, OverwriteInPlaceOrAppend) {
  klftest::TempDir dir;
  std::string path = dir.File("o.kls");
  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 2), 1);
  ASSERT_EQ(s.SetRecord("n", static_cast<u32>(1)), 1);
  ASSERT_EQ(s.SetRecord("t", CKLF_String("a longer text")), 1);
  std::vector<u8> big(40, 9), small(10, 7);
  ASSERT_EQ(s.SetRecord("b", big.data(), 40), 1);
  u32 size = s.GetPhysicalSize();
  u32 tOffset = IndexOf(s)[2].second;

  // Same size, shorter string, shorter block: in place.
  ASSERT_EQ(s.SetRecord("n", static_cast<u32>(2)), 1);
  ASSERT_EQ(s.SetRecord("t", CKLF_String("short")), 1);
  ASSERT_EQ(s.SetRecord("b", small.data(), 10), 1);
  EXPECT_EQ(s.GetPhysicalSize(), size);
  EXPECT_EQ(IndexOf(s)[2].second, tOffset);
  CKLF_String t;
  ASSERT_EQ(s.GetRec("t", t), 1);
  EXPECT_STREQ(t.GetStr(), "short");
  CKLF_Mem m;
  ASSERT_EQ(s.GetRec("b", m), 1);
  EXPECT_EQ(m.GetSize(), 10u);

  // Longer: a new record at the end, the old one marked deleted.
  ASSERT_EQ(s.SetRecord("t", CKLF_String("a text longer than ever")), 1);
  EXPECT_GT(s.GetPhysicalSize(), size);
  EXPECT_NE(IndexOf(s)[2].second, tOffset);
  // Another type: replaced as well.
  ASSERT_EQ(s.SetRecord("n", 2.5), 1);
  EXPECT_EQ(s.GetRecType("n"), CKLF_Storage::klRecDouble);
  ASSERT_EQ(s.Close(), 1);

  std::vector<u8> f = klftest::ReadFileBytes(path);
  EXPECT_EQ(klftest::GetBE32(f, 24), 5u);  // every record ever written
  EXPECT_EQ(f[tOffset + 4], 0x63);
  ASSERT_EQ(s.Open(path.c_str(), 1), 1);
  ASSERT_EQ(s.GetRec("t", t), 1);
  EXPECT_STREQ(t.GetStr(), "a text longer than ever");
  f64 d;
  ASSERT_EQ(s.GetRec("n", d), 1);
  EXPECT_EQ(d, 2.5);
  ASSERT_EQ(s.GetRec("b", m), 1);
  EXPECT_EQ(m.GetSize(), 10u);
  EXPECT_EQ(m.GetPtr()[9], 7);
  EXPECT_EQ(s.CheckMD5(path.c_str()), 1);
}

TEST(Storage, KillRecTakesTheSubtreeButNotLookalikes) {
  klftest::TempDir dir;
  std::string path = dir.File("k.kls");
  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 2), 1);
  ASSERT_EQ(s.AddFolder("A"), 1);
  ASSERT_EQ(s.AddFolder("A>F"), 1);
  ASSERT_EQ(s.SetRecord("A>F>x", static_cast<u8>(1)), 1);
  ASSERT_EQ(s.SetRecord("A>B", static_cast<u8>(1)), 1);
  ASSERT_EQ(s.SetRecord("AB", static_cast<u8>(2)), 1);
  ASSERT_EQ(s.SetRecord("A!", static_cast<u8>(3)), 1);
  EXPECT_EQ(s.KillRec("Q"), 0);
  EXPECT_EQ(s.GetError(), klErrStoreNoKey);
  ASSERT_EQ(s.KillRec("A"), 1);
  std::vector<std::string> want = {"A!", "AB"};
  EXPECT_EQ(Keys(s), want);
  // A folder of the same name again gets a fresh id: the old children
  // stay gone.
  ASSERT_EQ(s.AddFolder("A"), 1);
  ASSERT_EQ(s.Close(), 1);
  ASSERT_EQ(s.Open(path.c_str(), 1), 1);
  want = {"A", "A!", "AB"};
  EXPECT_EQ(Keys(s), want);
}

TEST(Storage, RenameKeepsIdsAndMovesTheSubtree) {
  klftest::TempDir dir;
  std::string path = dir.File("r.kls");
  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 2), 1);
  ASSERT_EQ(s.AddFolder("A"), 1);
  ASSERT_EQ(s.AddFolder("A>S"), 1);
  ASSERT_EQ(s.SetRecord("A>S>v", CKLF_String("deep")), 1);
  ASSERT_EQ(s.SetRecord("A>B", static_cast<u32>(5)), 1);
  ASSERT_EQ(s.AddFolder("D"), 1);
  ASSERT_EQ(s.SetRecord("t", CKLF_String("shrunk text")), 1);
  ASSERT_EQ(s.SetRecord("t", CKLF_String("x")), 1);  // in place, slack after it

  EXPECT_EQ(s.Rename("none", "X"), 0);
  EXPECT_EQ(s.GetError(), klErrStoreNoKey);
  EXPECT_EQ(s.Rename("A", "D"), 0);
  EXPECT_EQ(s.GetError(), klErrBadArg);
  EXPECT_EQ(s.Rename("A", "Z>A"), 0);  // no folder Z
  EXPECT_EQ(s.GetError(), klErrBadArg);
  EXPECT_EQ(s.Rename("A", "A>B>C"), 0);  // parent is a value
  EXPECT_EQ(s.Rename("A", "A>S>A"), 0);  // into its own subtree
  EXPECT_EQ(s.GetError(), klErrBadArg);
  EXPECT_EQ(s.Rename("A", "A>"), 0);
  EXPECT_EQ(s.Rename("A", "A"), 1);

  ASSERT_EQ(s.Rename("A", "D>C"), 1);
  ASSERT_EQ(s.Rename("t", "u"), 1);
  std::vector<std::string> want = {"D", "D>C", "D>C>B", "D>C>S", "D>C>S>v", "u"};
  EXPECT_EQ(Keys(s), want);
  auto session = IndexOf(s);
  ASSERT_EQ(s.Close(), 1);

  std::vector<u8> f = klftest::ReadFileBytes(path);
  EXPECT_EQ(SlowIndex(f), session);
  ASSERT_EQ(s.Open(path.c_str(), 3), 1);
  EXPECT_EQ(IndexOf(s), session);
  CKLF_String v;
  ASSERT_EQ(s.GetRec("D>C>S>v", v), 1);
  EXPECT_STREQ(v.GetStr(), "deep");
  ASSERT_EQ(s.GetRec("u", v), 1);
  EXPECT_STREQ(v.GetStr(), "x");
  // The moved folder kept its id (1): its new record says so.
  u32 off = session[1].second;
  EXPECT_EQ(klftest::GetBE32(f, off + 9), 1u);
  EXPECT_EQ(klftest::GetBE32(f, 28), 6u);  // no new ids
  // Still a working folder.
  ASSERT_EQ(s.SetRecord("D>C>new", static_cast<u8>(1)), 1);
  EXPECT_EQ(s.GetRecType("D>C>new"), CKLF_Storage::klRecU8);
}

TEST(Storage, ChildrenInFileOrder) {
  klftest::TempDir dir;
  CKLF_Storage s;
  ASSERT_EQ(s.Open(dir.File("g.kls").c_str(), 2), 1);
  ASSERT_EQ(s.AddFolder("F"), 1);
  ASSERT_EQ(s.SetRecord("F>zeta", static_cast<u8>(1)), 1);
  ASSERT_EQ(s.AddFolder("F>alpha"), 1);
  ASSERT_EQ(s.SetRecord("F>alpha>inner", static_cast<u8>(1)), 1);
  ASSERT_EQ(s.SetRecord("F>mid", CKLF_String("m")), 1);
  ASSERT_EQ(s.SetRecord("top", static_cast<u16>(1)), 1);
  ASSERT_EQ(s.SetRecord("F>zeta", static_cast<u16>(2)), 1);  // re-added at the end

  CKLF_StringArray out;
  ASSERT_EQ(s.GetAllRecords("F", out), 1);
  ASSERT_EQ(out.GetSize(), 3u);
  EXPECT_STREQ(out.GetPtrAt(0)->GetStr(), "alpha");
  EXPECT_EQ(out.GetPtrAt(0)->GetUserValue(), 0u);
  EXPECT_STREQ(out.GetPtrAt(1)->GetStr(), "mid");
  EXPECT_EQ(out.GetPtrAt(1)->GetUserValue(), 4u);
  EXPECT_STREQ(out.GetPtrAt(2)->GetStr(), "zeta");
  EXPECT_EQ(out.GetPtrAt(2)->GetUserValue(), 2u);
  ASSERT_EQ(s.GetAllRecords("", out), 1);
  ASSERT_EQ(out.GetSize(), 2u);
  EXPECT_STREQ(out.GetPtrAt(0)->GetStr(), "F");
  EXPECT_STREQ(out.GetPtrAt(1)->GetStr(), "top");
  EXPECT_EQ(s.GetAllRecords("top", out), 0);
  EXPECT_EQ(s.GetError(), klErrStoreNotFolder);
  EXPECT_EQ(out.GetSize(), 0u);
  EXPECT_EQ(s.GetAllRecords("nothing", out), 0);
  EXPECT_EQ(s.GetError(), klErrStoreNotFolder);
}

TEST(Storage, RandomOperationsAgreeWithAModelAndTheSlowWalk) {
  klftest::TempDir dir;
  std::string path = dir.File("rand.kls");
  std::mt19937 rng(2024);
  std::map<std::string, std::string> model;  // key -> "F" folder or "V<value>"
  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 2), 1);
  const char* names[] = {"a", "b", "ab", "c", "a!", "zz"};
  auto randomKey = [&]() {
    std::vector<std::string> folders = {""};
    for (auto& e : model)
      if (e.second == "F") folders.push_back(e.first);
    std::string parent = folders[rng() % folders.size()];
    std::string name = names[rng() % 6];
    return parent.empty() ? name : parent + ">" + name;
  };
  auto isUnder = [](const std::string& k, const std::string& root) {
    return k == root || k.compare(0, root.size() + 1, root + ">") == 0;
  };
  for (int step = 0; step < 600; ++step) {
    int op = rng() % 10;
    std::string key = randomKey();
    if (op < 3) {
      u8 ok = s.AddFolder(key.c_str());
      EXPECT_EQ(ok, model.count(key) ? 0 : 1) << key;
      if (ok) model[key] = "F";
    } else if (op < 7) {
      std::string text(rng() % 40, static_cast<char>('a' + rng() % 26));
      ASSERT_EQ(s.SetRecord(key.c_str(), CKLF_String(text.c_str())), 1) << key;
      // A value over a folder drops the folder's contents.
      for (auto it = model.begin(); it != model.end();)
        it = isUnder(it->first, key) ? model.erase(it) : std::next(it);
      model[key] = "V" + text;
    } else if (op < 8 && !model.empty()) {
      auto it = std::next(model.begin(), rng() % model.size());
      std::string k = it->first;
      ASSERT_EQ(s.KillRec(k.c_str()), 1);
      for (auto jt = model.begin(); jt != model.end();)
        jt = isUnder(jt->first, k) ? model.erase(jt) : std::next(jt);
    } else if (!model.empty()) {
      auto it = std::next(model.begin(), rng() % model.size());
      std::string from = it->first;
      std::string to = randomKey();
      bool legal = to == from || (!model.count(to) && !isUnder(to, from));
      u8 ok = s.Rename(from.c_str(), to.c_str());
      EXPECT_EQ(ok, legal ? 1 : 0) << from << " -> " << to;
      if (ok) {
        std::map<std::string, std::string> next;
        for (auto& e : model) next[isUnder(e.first, from) ? to + e.first.substr(from.size()) : e.first] = e.second;
        model.swap(next);
      }
    }
    if (step % 100 == 99) {
      std::vector<std::string> want;
      for (auto& e : model) want.push_back(e.first);
      ASSERT_EQ(Keys(s), want) << step;
      auto session = IndexOf(s);
      ASSERT_EQ(s.Close(), 1);
      std::vector<u8> f = klftest::ReadFileBytes(path);
      ASSERT_EQ(SlowIndex(f), session);
      ASSERT_EQ(s.CheckMD5(path.c_str()), 1);
      ASSERT_EQ(s.Open(path.c_str(), 3), 1);
      ASSERT_EQ(IndexOf(s), session);
      for (auto& e : model) {
        if (e.second == "F") {
          EXPECT_EQ(s.GetRecType(e.first.c_str()), CKLF_Storage::klRecFolder);
        } else {
          CKLF_String v;
          ASSERT_EQ(s.GetRec(e.first.c_str(), v), 1) << e.first;
          EXPECT_EQ(std::string(v.GetStr()), e.second.substr(1));
        }
      }
    }
  }
}

TEST(Storage, MemoryImagesAreReadOnlyAndPlainOnly) {
  RawStore raw;
  raw.Add(0, 0xFFFFFFFF, 1, "F", {});
  raw.Add(4, 1, 2, "s", RawStore::Str("txt"));
  std::vector<u8> bytes = raw.Bytes();
  CKLF_Storage s;
  ASSERT_EQ(s.Open(bytes.data(), static_cast<u32>(bytes.size())), 1);
  EXPECT_EQ(s.GetPhysicalSize(), bytes.size());
  CKLF_String v;
  ASSERT_EQ(s.GetRec("F>s", v), 1);
  EXPECT_STREQ(v.GetStr(), "txt");
  EXPECT_EQ(s.SetRecord("F>s", CKLF_String("x")), 0);
  EXPECT_EQ(s.GetError(), klErrStoreReadOnly);
  EXPECT_EQ(s.Close(), 1);
  EXPECT_EQ(s.IsOpened(), 0);

  CKLF_Mem m;
  m.alloc(static_cast<u32>(bytes.size()));
  std::memcpy(m.GetPtr(), bytes.data(), bytes.size());
  ASSERT_EQ(s.Open(&m), 1);
  EXPECT_EQ(s.GetTotalRecords(), 2u);
  EXPECT_EQ(s.Open(static_cast<CKLF_Mem*>(nullptr)), 0);

  EXPECT_EQ(s.Open(bytes.data(), 39), 0);
  EXPECT_EQ(s.GetError(), klErrStoreMagic);
  std::vector<u8> accel = raw.Accelerated({{"F", 32}, {"F>s", 45}});
  EXPECT_EQ(s.Open(accel.data(), static_cast<u32>(accel.size())), 0);
  EXPECT_EQ(s.GetError(), klErrStoreMagic);
  EXPECT_EQ(s.Open(static_cast<const u8*>(nullptr), 100), 0);
}

TEST(Storage, AcceleratedVariantOpensFromItsIndex) {
  klftest::TempDir dir;
  RawStore raw;
  u32 f = raw.Add(0, 0xFFFFFFFF, 1, "Img", {});
  u32 a = raw.Add(5, 1, 2, "a", {0, 0, 0, 2, 7, 8});
  u32 b = raw.Add(3, 1, 3, "b", RawStore::U32(9));
  // Keys given out of order are sorted on opening.
  std::vector<u8> bytes = raw.Accelerated({{"Img>b", b}, {"Img", f}, {"Img>a", a}}, false);
  std::string path = dir.File("ui.kls4");
  klftest::WriteFileBytes(path, bytes);

  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 1), 1);
  EXPECT_EQ(s.IsAccelerated(), 1);
  std::vector<std::string> want = {"Img", "Img>a", "Img>b"};
  EXPECT_EQ(Keys(s), want);
  CKLF_Mem m;
  ASSERT_EQ(s.GetRec("Img>a", m), 1);
  ASSERT_EQ(m.GetSize(), 2u);
  EXPECT_EQ(m.GetPtr()[1], 8);
  u32 v;
  ASSERT_EQ(s.GetRec("Img>b", v), 1);
  EXPECT_EQ(v, 9u);
  s.Close();

  // Writing would bury the index under new records: refused.
  ASSERT_EQ(s.Open(path.c_str(), 3), 1);
  EXPECT_EQ(s.SetRecord("Img>b", static_cast<u32>(1)), 0);
  EXPECT_EQ(s.GetError(), klErrStoreReadOnly);
  ASSERT_EQ(s.Close(), 1);
  EXPECT_EQ(klftest::ReadFileBytes(path), bytes);

  // Damaged index blocks, sizes and offsets.
  auto fails = [&](std::vector<u8> bad) {
    klftest::WriteFileBytes(path, bad);
    CKLF_Storage t;
    EXPECT_EQ(t.Open(path.c_str(), 1), 0);
    EXPECT_EQ(t.GetError(), klErrStoreMagic);
  };
  std::vector<u8> bad = bytes;
  bad[bad.size() - 12] = 0x7F;  // index size beyond the file
  fails(bad);
  bad = bytes;
  bad[bad.size() - 14] ^= 0xFF;  // packed index damaged
  fails(bad);
  fails(raw.Accelerated({{"Img", 33}}));     // offset inside a record
  fails(raw.Accelerated({{"Img", 9999}}));   // offset beyond the records
  fails(raw.Accelerated({{"", f}}));         // empty key
  fails(raw.Accelerated({{"x", 4}}));        // offset in the head
}

TEST(Storage, MalformedContainersAreRefusedNeverTrusted) {
  klftest::TempDir dir;
  auto base = [] {
    RawStore r;
    r.Add(0, 0xFFFFFFFF, 1, "F", {});
    r.Add(4, 1, 2, "s", RawStore::Str("ok"));
    return r;
  };
  EXPECT_EQ(OpenError(base().Bytes(), dir), 0);

  struct Case {
    const char* what;
    std::function<std::vector<u8>()> make;
  } cases[] = {
      {"count beyond the records", [&] { return base().Bytes(3, 2); }},
      {"count short of the records", [&] { return base().Bytes(1, 2); }},
      {"huge count", [&] { return base().Bytes(0xFFFFFFFF, 2); }},
      {"last id below a live id", [&] { return base().Bytes(2, 1); }},
      {"head magic", [&] { auto b = base().Bytes(); b[3] = 'X'; return b; }},
      {"variant byte", [&] { auto b = base().Bytes(); b[7] = '1'; return b; }},
      {"tail magic", [&] { auto b = base().Bytes(); b.back() = '1'; return b; }},
      {"body length beyond the file", [&] { auto b = base().Bytes(); b[32] = 0x7F; return b; }},
      {"body length below its fields", [&] { auto b = base().Bytes(); b[35] = 5; return b; }},
      {"name beyond the body", [&] { auto b = base().Bytes(); b[46] = 200; return b; }},
      {"string length 0", [&] { RawStore r = base(); r.Add(4, 1, 3, "z", RawStore::U32(0)); return r.Bytes(); }},
      {"string length beyond", [&] { RawStore r = base(); r.Add(4, 1, 3, "z", {0, 0, 0, 9, 'a', 0}); return r.Bytes(); }},
      {"block length beyond", [&] { RawStore r = base(); r.Add(5, 1, 3, "z", {0xFF, 0xFF, 0xFF, 0xFF}); return r.Bytes(); }},
      {"short u32", [&] { RawStore r = base(); r.Add(3, 1, 3, "z", {1, 2}); return r.Bytes(); }},
      {"empty name", [&] { RawStore r = base(); r.Add(1, 1, 3, "", {1}); return r.Bytes(); }},
      {"name with >", [&] { RawStore r = base(); r.Add(1, 1, 3, "a>b", {1}); return r.Bytes(); }},
      {"name with NUL", [&] { RawStore r = base(); r.Add(1, 1, 3, std::string("a\0b", 3), {1}); return r.Bytes(); }},
      {"undefined type", [&] { RawStore r = base(); r.Add(7, 1, 3, "z", {1}); return r.Bytes(); }},
      {"type that reads as missing", [&] { RawStore r = base(); r.Add(199, 1, 3, "z", {}); return r.Bytes(); }},
      {"id 0", [&] { RawStore r = base(); r.Add(1, 1, 0, "z", {1}); return r.Bytes(); }},
      // Its parent would be the next folder made: an orphan that a later
      // write adopts, or that turns the container unreadable.
      {"parent id never given", [&] { RawStore r = base(); r.Add(1, 4, 3, "z", {1}); return r.Bytes(); }},
      {"folder with the root's id", [&] {
         RawStore r = base();
         r.Add(0, 0xFFFFFFFF, 0xFFFFFFFF, "R", {});
         return r.Bytes();
       }},
      {"folder inside itself", [&] { RawStore r = base(); r.Add(0, 1, 1, "G", {}); return r.Bytes(); }},
      {"two folders, one id", [&] { RawStore r = base(); r.Add(0, 0xFFFFFFFF, 1, "G", {}); return r.Bytes(); }},
      {"cycle below the root", [&] {
         RawStore r;
         r.Add(0, 0xFFFFFFFF, 1, "A", {});
         r.Add(0, 1, 2, "B", {});
         r.Add(0, 2, 1, "C", {});
         return r.Bytes();
       }},
      {"truncated", [&] { auto b = base().Bytes(); b.erase(b.begin() + 50, b.begin() + 52); return b; }},
  };
  for (auto& c : cases) {
    std::vector<u8> b = c.make();
    EXPECT_EQ(OpenError(b, dir), klErrStoreMagic) << c.what;
  }

  // A cycle no path from the root reaches is just unreachable.
  RawStore r = base();
  r.Add(0, 9, 8, "X", {});
  r.Add(0, 8, 9, "Y", {});
  std::vector<u8> b = r.Bytes();
  CKLF_Storage s;
  ASSERT_EQ(s.Open(b.data(), static_cast<u32>(b.size())), 1);
  EXPECT_EQ(s.GetTotalRecords(), 2u);
  // Deleted records are not checked beyond their bounds.
  RawStore d = base();
  d.Add(0x63, 77, 0, "", {0, 0, 0, 0});
  b = d.Bytes();
  ASSERT_EQ(s.Open(b.data(), static_cast<u32>(b.size())), 1);
}

TEST(Storage, FuzzerFindingsStayFixed) {
  klftest::TempDir dir;
  std::string crashers = std::string(KLF_TEST_DATA_DIR) + "/foundation/crashers/";
  // A read-mostly container indexing a record of type 199, which its
  // reader took for a missing key.
  std::vector<u8> b = klftest::ReadFileBytes(crashers + "storage_type199_reads_as_missing");
  ASSERT_FALSE(b.empty());
  klftest::WriteFileBytes(dir.File("c"), b);
  CKLF_Storage s;
  EXPECT_EQ(s.Open(dir.File("c").c_str(), 1), 0);
  EXPECT_EQ(s.GetError(), klErrStoreMagic);
}

TEST(Storage, DigestCheck) {
  klftest::TempDir dir;
  std::string path = dir.File("d.kls");
  {
    CKLF_Storage s;
    ASSERT_EQ(s.Open(path.c_str(), 2), 1);
    ASSERT_EQ(s.SetRecord("k", CKLF_String("v")), 1);
    ASSERT_EQ(s.Close(), 1);
  }
  std::vector<u8> f = klftest::ReadFileBytes(path);
  CKLF_Storage s;
  EXPECT_EQ(s.CheckMD5(f.data(), static_cast<u32>(f.size())), 1);
  std::vector<u8> bad = f;
  bad[40] ^= 1;
  EXPECT_EQ(s.CheckMD5(bad.data(), static_cast<u32>(bad.size())), 0);
  EXPECT_EQ(s.GetError(), klErrStoreDigest);
  EXPECT_EQ(s.CheckMD5(f.data(), 24), 0);
  EXPECT_EQ(s.GetError(), klErrStoreMagic);

  // From a file's current position, as when a container is embedded.
  std::vector<u8> embedded = {1, 2, 3};
  embedded.insert(embedded.end(), f.begin(), f.end());
  klftest::WriteFileBytes(dir.File("e.bin"), embedded);
  CKLF_StdFile file(dir.File("e.bin").c_str(), 1);
  file.SetPos(3);
  EXPECT_EQ(s.CheckMD5(&file), 1);
  file.SetPos(2);
  EXPECT_EQ(s.CheckMD5(&file), 0);
  EXPECT_EQ(s.GetError(), klErrStoreDigest);

  klftest::WriteFileBytes(dir.File("empty"), {});
  EXPECT_EQ(s.CheckMD5(dir.File("empty").c_str()), 1);
  EXPECT_EQ(s.CheckMD5(dir.File("missing").c_str()), 0);
  EXPECT_EQ(s.GetError(), klErrFileOpen);
  KLP_FileRef folder;
  folder.SetPath(dir.Path().c_str());
  EXPECT_EQ(s.CheckMD5("d.kls", &folder), 1);
  klftest::WriteFileBytes(path, bad);
  EXPECT_EQ(s.CheckMD5("d.kls", &folder), 0);
  EXPECT_EQ(s.GetError(), klErrStoreDigest);
}

TEST(Storage, CallersFileAndNameInFolder) {
  klftest::TempDir dir;
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  CKLF_Storage s;
  EXPECT_EQ(s.Open("plugin.conf", &folder, 1), 0);
  ASSERT_EQ(s.Open("plugin.conf", &folder, 2), 1);
  ASSERT_EQ(s.SetRecord("x", static_cast<u8>(4)), 1);
  ASSERT_EQ(s.Close(), 1);
  ASSERT_EQ(s.Open("plugin.conf", &folder, 3), 1);
  u8 x = 0;
  ASSERT_EQ(s.GetRec("x", x), 1);
  EXPECT_EQ(x, 4);
  s.Close();

  CKLF_StdFile file(dir.File("plugin.conf").c_str(), 3);
  ASSERT_EQ(s.Open(&file, 3), 1);
  ASSERT_EQ(s.SetRecord("y", static_cast<u8>(5)), 1);
  ASSERT_EQ(s.Close(), 1);
  EXPECT_EQ(file.IsOpened(), 0);  // closed, not deleted
  EXPECT_EQ(s.CheckMD5(dir.File("plugin.conf").c_str()), 1);
  EXPECT_EQ(s.Open(static_cast<CKLF_StdFile*>(nullptr), 3), 0);
  // A file that fails to open as a container stays the caller's, open.
  klftest::WriteFileBytes(dir.File("junk"), std::vector<u8>(50, 'j'));
  CKLF_StdFile junk(dir.File("junk").c_str(), 1);
  EXPECT_EQ(s.Open(&junk, 1), 0);
  EXPECT_EQ(junk.IsOpened(), 1);
}

TEST(Storage, CloseReportsWhyTheDigestCouldNotBeMade) {
  klftest::TempDir dir;
  std::string path = dir.File("gone.kls");
  CKLF_StdFile file(path.c_str(), 4);
  CKLF_Storage s;
  ASSERT_EQ(s.Open(&file, 2), 1);
  ASSERT_EQ(s.SetRecord("k", static_cast<u8>(1)), 1);
  file.Close();  // behind the storage's back
  EXPECT_EQ(s.Close(), 0);
  EXPECT_EQ(s.GetError(), klErrFileNotOpen);
}

namespace {

// Writes beyond limit bytes fail with EFBIG while the object lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit r = m_old;
    r.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &r);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_old);
    signal(SIGXFSZ, m_oldHandler);
  }

 private:
  rlimit m_old;
  sighandler_t m_oldHandler;
};

}  // namespace

TEST(Storage, FailedWritesLeaveTheContainerAsItWas) {
  klftest::TempDir dir;
  std::string path = dir.File("full.kls");
  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 2), 1);
  ASSERT_EQ(s.AddFolder("F"), 1);
  ASSERT_EQ(s.SetRecord("F>keep", CKLF_String("kept")), 1);
  ASSERT_EQ(s.SetRecord("F>grow", CKLF_String("a")), 1);
  ASSERT_EQ(s.Close(), 1);
  std::vector<u8> before = klftest::ReadFileBytes(path);

  ASSERT_EQ(s.Open(path.c_str(), 3), 1);
  auto index = IndexOf(s);
  std::vector<u8> big(5000, 1);
  {
    FileSizeLimit limit(before.size() + 100);
    // A record that does not fit: the append is cut off part way.
    EXPECT_EQ(s.SetRecord("F>big", big.data(), 5000), 0);
    EXPECT_EQ(s.GetError(), klErrFileWrite);
    // Replacing a value by a bigger one marks the old record first: that
    // mark must be undone too.
    EXPECT_EQ(s.SetRecord("F>grow", CKLF_String(std::string(3000, 'g').c_str())), 0);
    EXPECT_EQ(s.GetError(), klErrFileWrite);
    EXPECT_EQ(s.Rename("F", std::string(6000, 'R').c_str()), 0);
    EXPECT_EQ(klftest::ReadFileBytes(path), before);
    EXPECT_EQ(IndexOf(s), index);
    // Small changes still fit.
    ASSERT_EQ(s.SetRecord("F>small", static_cast<u8>(3)), 1);
  }
  ASSERT_EQ(s.Close(), 1);
  ASSERT_EQ(s.CheckMD5(path.c_str()), 1);
  ASSERT_EQ(s.Open(path.c_str(), 1), 1);
  CKLF_String v;
  ASSERT_EQ(s.GetRec("F>grow", v), 1);
  EXPECT_STREQ(v.GetStr(), "a");
  EXPECT_EQ(s.GetRecType("F>big"), CKLF_Storage::klRecMissing);
  EXPECT_EQ(s.GetRecType("F>small"), CKLF_Storage::klRecU8);
}

TEST(Storage, WritesToAFullDeviceAreReported) {
  CKLF_StdFile probe;
  if (!probe.Open("/dev/full", 3)) GTEST_SKIP() << "no /dev/full";
  probe.Close();
  CKLF_Storage s;
  EXPECT_EQ(s.Open("/dev/full", 3), 0);
  EXPECT_EQ(s.GetError(), klErrFileWrite);
  EXPECT_EQ(s.IsOpened(), 0);
}
