#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "CKLF_MD5Block.h"
#include "CKLF_Storage.h"
#include "StorageBytes.h"
#include "support/TestSupport.h"

using klftest::GetBE32;
using klftest::RawStore;

namespace {

const u32 kRoot = 0xFFFFFFFF;
typedef std::vector<std::pair<std::string, u32>> Index;

Index IndexOf(CKLF_Storage& s) {
  Index out;
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
void SlowWalk(const std::vector<u8>& f, u32 parent, const std::string& prefix, Index& out) {
  for (size_t i = 0, at = 32; i < GetBE32(f, 24); ++i, at += 4 + GetBE32(f, at)) {
    if (GetBE32(f, at + 5) != parent || f[at + 4] == 0x63) continue;
    std::string name(reinterpret_cast<const char*>(&f[at + 15]), (f[at + 13] << 8) | f[at + 14]);
    std::string key = prefix.empty() ? name : prefix + ">" + name;
    out.push_back({key, static_cast<u32>(at)});
    if (f[at + 4] == 0) SlowWalk(f, GetBE32(f, at + 9), key, out);
  }
}

Index SlowIndex(const std::vector<u8>& f) {
  Index out;
  SlowWalk(f, kRoot, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

// f holds want's bytes, with the digest of everything after byte 24.
void ExpectContainer(const std::vector<u8>& f, const RawStore& want) {
  std::vector<u8> w = want.Bytes();
  ASSERT_EQ(f.size(), w.size());
  std::copy(f.begin() + 8, f.begin() + 24, w.begin() + 8);
  EXPECT_EQ(f, w);
  CKLF_MD5Block m;
  u8 d[16];
  m.Update(f.data() + 24, static_cast<u32>(f.size() - 24));
  m.Final(d);
  EXPECT_EQ(std::memcmp(d, f.data() + 8, 16), 0);
}

// Opens bytes both ways (memory image and file); both must agree.
u16 OpenError(const std::vector<u8>& bytes, const klftest::TempDir& dir) {
  CKLF_Storage mem, file;
  u8 okMem = mem.Open(bytes.data(), static_cast<u32>(bytes.size()));
  klftest::WriteFileBytes(dir.File("probe.kls"), bytes);
  EXPECT_EQ(okMem, file.Open(dir.File("probe.kls").c_str(), 1));
  EXPECT_EQ(mem.GetError(), file.GetError());
  return okMem ? 0 : mem.GetError();
}

}  // namespace

TEST(Storage, EveryChangeWritesTheBytesTheFormatFixes) {
  klftest::TempDir dir;
  std::string path = dir.File("x.kls");
  CKLF_Storage s;
  EXPECT_FAILS(s, s.Open(path.c_str(), 3), klErrFileOpen);
  // An empty file becomes an empty container, except read-only.
  klftest::WriteFileBytes(path, {});
  EXPECT_FAILS(s, s.Open(path.c_str(), 1), klErrBadArg);
  ASSERT_TRUE(s.Open(path.c_str(), 3) && s.Close());
  ExpectContainer(klftest::ReadFileBytes(path), RawStore());
  ASSERT_EQ(s.Open(path.c_str(), 2), 1);
  EXPECT_FAILS(s, s.SetRecord("F>s", static_cast<u8>(1)), klErrStoreNotFolder);
  const u8 two[2] = {9, 8}, three[3] = {1, 2, 3};
  ASSERT_EQ(s.AddFolder("F"), 1);                              // id 1
  ASSERT_EQ(s.SetRecord("F>s", CKLF_String("abc")), 1);        // id 2
  ASSERT_EQ(s.SetRecord("F>b", two, 2), 1);                    // id 3
  ASSERT_EQ(s.SetRecord("u8", static_cast<u8>(7)), 1);         // id 4
  ASSERT_EQ(s.SetRecord("u16", static_cast<u16>(0x1234)), 1);  // id 5
  ASSERT_EQ(s.SetRecord("d", 1.5), 1);                         // id 6
  // Refused writes leave no bytes behind.
  EXPECT_FAILS(s, s.AddFolder("F"), klErrStoreKeyExists);
  EXPECT_FAILS(s, s.SetRecord("u8>x", static_cast<u8>(1)), klErrStoreNotFolder);
  for (const char* bad : {"F>", ">F", ""}) EXPECT_FAILS(s, s.SetRecord(bad, static_cast<u8>(1)), klErrBadArg);
  EXPECT_FAILS(s, s.AddFolder(""), klErrBadArg);
  ASSERT_EQ(s.SetRecord("F>s", CKLF_String("x")), 1);     // shorter: in place
  ASSERT_EQ(s.SetRecord("F>b", two, 1), 1);               // shorter: in place
  ASSERT_EQ(s.Rename("u8", "F>v"), 1);                    // keeps id 4
  ASSERT_EQ(s.SetRecord("u16", static_cast<u32>(5)), 1);  // another type: id 7
  ASSERT_EQ(s.SetRecord("F>b", three, 3), 1);             // longer: id 8
  ASSERT_EQ(s.KillRec("F"), 1);
  ASSERT_EQ(s.Close(), 1);

  const u8 dead = CKLF_Storage::klRecDeleted;
  RawStore want;
  want.Add(dead, kRoot, 1, "F", {});
  // New lengths and bytes, the old tails left behind.
  want.Add(dead, 1, 2, "s", {0, 0, 0, 2, 'x', 0, 'c', 0});
  want.Add(dead, 1, 3, "b", {0, 0, 0, 1, 9, 8});
  want.Add(dead, kRoot, 4, "u8", {7});
  want.Add(dead, kRoot, 5, "u16", {0x12, 0x34});
  want.Add(6, kRoot, 6, "d", {0x3F, 0xF8, 0, 0, 0, 0, 0, 0});
  want.Add(dead, 1, 4, "v", {7});
  want.Add(3, kRoot, 7, "u16", {0, 0, 0, 5});
  want.Add(dead, 1, 8, "b", {0, 0, 0, 3, 1, 2, 3});
  ExpectContainer(klftest::ReadFileBytes(path), want);
}

TEST(Storage, EveryTypeRoundTripsAndReadersCheckTypeAndCapacity) {
  klftest::TempDir dir;
  std::string path = dir.File("all.kls");
  std::mt19937 rng(5);
  std::vector<u8> blob = klftest::RandomBytes(rng, 3000);
  CKLF_Storage s;
  ASSERT_TRUE(s.Open(path.c_str(), 2) && s.AddFolder("P") && s.AddFolder("P>Deep") &&
              s.SetRecord("P>u8", static_cast<u8>(200)) && s.SetRecord("P>u16", static_cast<u16>(0xBEEF)) &&
              s.SetRecord("P>u32", static_cast<u32>(0xDEADBEEF)) && s.SetRecord("P>Deep>dbl", -1234.5e-7) &&
              s.SetRecord("P>text", CKLF_String("Pi\u00e8ce")) && s.SetRecord("P>empty", CKLF_String("")) &&
              s.SetRecord("blob", blob.data(), 3000) && s.SetRecord("none", blob.data(), 0) && s.Close());
  ASSERT_EQ(s.Open(path.c_str(), 1), 1);
  EXPECT_EQ(s.GetTotalRecords(), 10u);
  u8 b = 0;
  u16 w = 0;
  u32 dw = 0;
  f64 d = 0;
  CKLF_String t, e;
  CKLF_Mem m, none;
  ASSERT_TRUE(s.GetRec("P>u8", b) && s.GetRec("P>u16", w) && s.GetRec("P>u32", dw) && s.GetRec("P>Deep>dbl", d) &&
              s.GetRec("P>text", t) && s.GetRec("P>empty", e) && s.GetRec("blob", m) && s.GetRec("none", none));
  EXPECT_EQ(std::vector<f64>({f64(b), f64(w), f64(dw), d, f64(e.GetLength() + none.GetSize())}),
            std::vector<f64>({200, 0xBEEF, 0xDEADBEEF, -1234.5e-7, 0}));
  EXPECT_STREQ(t.GetStr(), "Pi\u00e8ce");
  EXPECT_EQ(std::vector<u8>(m.GetPtr(), m.GetPtr() + m.GetSize()), blob);
  EXPECT_EQ(std::vector<u8>({s.GetRecType("P"), s.GetRecType("nope")}),
            std::vector<u8>({CKLF_Storage::klRecFolder, CKLF_Storage::klRecMissing}));

  EXPECT_FAILS(s, s.GetRec("P>u16", dw), klErrStoreType);
  EXPECT_FAILS(s, s.GetRec("P>text", m), klErrStoreType);
  EXPECT_FAILS(s, s.GetRec("P>nope", b), klErrStoreNoKey);
  // Writes are refused read-only.
  EXPECT_FAILS(s, s.KillRec("P") + s.Rename("blob", "b2") + s.AddFolder("X"), klErrStoreReadOnly);
  EXPECT_EQ(s.CreateNewFileStructure(), 0);
  EXPECT_EQ(s.IsChanged(), 0);

  // The caller's capacity bounds every copy; the length counts the NUL.
  u8 buf[16];
  std::memset(buf, 0xEE, sizeof(buf));
  u32 len = 0, asked = 6;
  ASSERT_EQ(s.GetRec("P>text", nullptr, len), 1);
  EXPECT_FAILS(s, s.GetRec("P>text", buf, asked), klErrBadArg);
  EXPECT_EQ(std::vector<u32>({len, asked, buf[0]}), std::vector<u32>({7, 7, 0xEE}));  // nothing copied
  len = 16;
  ASSERT_EQ(s.GetRec("P>text", buf, len), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 8), std::string("Pi\u00e8ce\0\xEE", 8));
  EXPECT_FAILS(s, s.GetRec("P>u32", buf, len), klErrStoreType);
  // The general reader: a pointer needs a capacity; numbers come in place.
  _KLSTORAGEDATA g;
  g.ptr = buf;
  EXPECT_EQ(s.GetRec("P>text", g), CKLF_Storage::klRecMissing);
  EXPECT_EQ(s.GetError(), klErrBadArg);
  len = 6;
  EXPECT_EQ(s.GetRec("P>text", g, &len), CKLF_Storage::klRecMissing);
  EXPECT_EQ(len, 7u);
  EXPECT_EQ(s.GetRec("P>text", g, &len), CKLF_Storage::klRecString);
  g.ptr = nullptr;
  EXPECT_EQ(s.GetRec("P>u16", g), CKLF_Storage::klRecU16);
  EXPECT_EQ(g.word, 0xBEEF);
}

TEST(Storage, RenameKeepsIdsAndMovesTheSubtree) {
  klftest::TempDir dir;
  std::string path = dir.File("r.kls");
  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 2), 1);
  ASSERT_TRUE(s.AddFolder("A") && s.AddFolder("A>S") && s.SetRecord("A>S>v", CKLF_String("deep")) &&
              s.SetRecord("A>B", static_cast<u32>(5)) && s.AddFolder("D") &&
              s.SetRecord("t", CKLF_String("shrunk text")) && s.SetRecord("t", CKLF_String("x")));
  EXPECT_FAILS(s, s.Rename("none", "X") + s.KillRec("none"), klErrStoreNoKey);
  // Onto a key in use, under no folder or a value, into its own subtree, an empty name.
  for (const char* to : {"D", "Z>A", "t>A", "A>S>A", "A>"}) EXPECT_FAILS(s, s.Rename("A", to), klErrBadArg);
  EXPECT_EQ(s.Rename("A", "A"), 1);
  ASSERT_EQ(s.Rename("A", "D>C"), 1);
  ASSERT_EQ(s.Rename("t", "u"), 1);
  EXPECT_EQ(Keys(s), (std::vector<std::string>{"D", "D>C", "D>C>B", "D>C>S", "D>C>S>v", "u"}));
  Index session = IndexOf(s);
  ASSERT_EQ(s.Close(), 1);

  std::vector<u8> f = klftest::ReadFileBytes(path);
  EXPECT_EQ(SlowIndex(f), session);
  EXPECT_EQ(GetBE32(f, session[1].second + 9), 1u);  // the moved folder's id
  EXPECT_EQ(GetBE32(f, 28), 6u);                     // no new ids
  ASSERT_EQ(s.Open(path.c_str(), 3), 1);
  EXPECT_EQ(IndexOf(s), session);
  CKLF_String v, u;
  ASSERT_TRUE(s.GetRec("D>C>S>v", v) && s.GetRec("u", u));
  EXPECT_STREQ(v.GetStr(), "deep");
  EXPECT_STREQ(u.GetStr(), "x");
  EXPECT_EQ(s.SetRecord("D>C>new", static_cast<u8>(1)), 1);  // still a working folder
}

namespace {
// " name type" per child, or "fail".
std::string Children(CKLF_Storage& s, const char* folder) {
  CKLF_StringArray out;
  std::string r = s.GetAllRecords(folder, out) ? "" : "fail";
  for (u32 i = 0; i < out.GetSize(); ++i)
    r += " " + std::string(out.GetPtrAt(i)->GetStr()) + std::to_string(out.GetPtrAt(i)->GetUserValue());
  return r;
}
}  // namespace

TEST(Storage, ChildrenInFileOrderWithTheirTypes) {
  klftest::TempDir dir;
  CKLF_Storage s;
  ASSERT_EQ(s.Open(dir.File("g.kls").c_str(), 2), 1);
  ASSERT_TRUE(s.AddFolder("F") && s.SetRecord("F>zeta", static_cast<u8>(1)) && s.SetRecord("F>mid", CKLF_String("m")) &&
              s.AddFolder("F>alpha") && s.SetRecord("F>alpha>inner", static_cast<u8>(1)) &&
              s.SetRecord("top", static_cast<u16>(1)) && s.SetRecord("F>zeta", static_cast<u16>(2)));
  EXPECT_EQ(Children(s, "F"), " mid4 alpha0 zeta2");  // zeta was written again last
  EXPECT_EQ(Children(s, ""), " F0 top2");
  EXPECT_EQ(Children(s, "top"), "fail");
  EXPECT_EQ(s.GetError(), klErrStoreNotFolder);
  EXPECT_EQ(Children(s, "nothing"), "fail");
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
    return parent.empty() ? std::string(names[rng() % 6]) : parent + ">" + names[rng() % 6];
  };
  auto isUnder = [](const std::string& k, const std::string& root) {
    return k == root || k.compare(0, root.size() + 1, root + ">") == 0;
  };
  auto drop = [&](const std::string& root) {
    for (auto it = model.begin(); it != model.end();) it = isUnder(it->first, root) ? model.erase(it) : std::next(it);
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
      drop(key);  // a value over a folder drops the folder's contents
      model[key] = "V" + text;
    } else if (!model.empty()) {
      std::string from = std::next(model.begin(), rng() % model.size())->first;
      if (op < 8) {
        ASSERT_EQ(s.KillRec(from.c_str()), 1);
        drop(from);
      } else if (s.Rename(from.c_str(), key.c_str())) {
        EXPECT_TRUE(key == from || (!model.count(key) && !isUnder(key, from))) << from << " -> " << key;
        std::map<std::string, std::string> next;
        for (auto& e : model) next[isUnder(e.first, from) ? key + e.first.substr(from.size()) : e.first] = e.second;
        model.swap(next);
      } else {
        EXPECT_TRUE(key != from && (model.count(key) || isUnder(key, from))) << from << " -> " << key;
      }
    }
    if (step % 100 != 99) continue;
    std::vector<std::string> want;
    for (auto& e : model) want.push_back(e.first);
    ASSERT_EQ(Keys(s), want) << step;
    Index session = IndexOf(s);
    ASSERT_EQ(s.Close(), 1);
    ASSERT_EQ(SlowIndex(klftest::ReadFileBytes(path)), session);
    ASSERT_EQ(s.CheckMD5(path.c_str()), 1);
    ASSERT_EQ(s.Open(path.c_str(), 3), 1);
    ASSERT_EQ(IndexOf(s), session);
    for (auto& e : model) {
      if (e.second == "F") {
        EXPECT_EQ(s.GetRecType(e.first.c_str()), CKLF_Storage::klRecFolder);
        continue;
      }
      CKLF_String v;
      ASSERT_EQ(s.GetRec(e.first.c_str(), v), 1) << e.first;
      EXPECT_EQ(std::string(v.GetStr()), e.second.substr(1));
    }
  }
}

TEST(Storage, AcceleratedVariantOpensFromItsIndex) {
  klftest::TempDir dir;
  RawStore raw;
  u32 f = raw.Add(0, kRoot, 1, "Img", {});
  u32 a = raw.Add(5, 1, 2, "a", {0, 0, 0, 2, 7, 8});
  u32 b = raw.Add(3, 1, 3, "b", RawStore::U32(9));
  // Keys given out of order are sorted on opening.
  std::vector<u8> bytes = raw.Accelerated({{"Img>b", b}, {"Img", f}, {"Img>a", a}}, false);
  std::string path = dir.File("ui.kls4");
  klftest::WriteFileBytes(path, bytes);

  CKLF_Storage s;
  ASSERT_EQ(s.Open(path.c_str(), 1), 1);
  EXPECT_EQ(s.IsAccelerated(), 1);
  EXPECT_EQ(Keys(s), (std::vector<std::string>{"Img", "Img>a", "Img>b"}));
  CKLF_Mem m;
  u32 v = 0;
  ASSERT_TRUE(s.GetRec("Img>a", m) && s.GetRec("Img>b", v));
  ASSERT_EQ(m.GetSize(), 2u);
  EXPECT_EQ(m.GetPtr()[1], 8);
  EXPECT_EQ(v, 9u);

  // Writing would bury the index under new records: refused.
  ASSERT_EQ(s.Open(path.c_str(), 3), 1);
  EXPECT_FAILS(s, s.SetRecord("Img>b", static_cast<u32>(1)), klErrStoreReadOnly);
  ASSERT_EQ(s.Close(), 1);
  EXPECT_EQ(klftest::ReadFileBytes(path), bytes);

  std::vector<u8> badSize = bytes, badZip = bytes;
  badSize[bytes.size() - 12] = 0x7F;
  badZip[bytes.size() - 14] ^= 0xFF;
  std::pair<const char*, std::vector<u8>> bad[] = {
      {"index size beyond the file", badSize},
      {"packed index damaged", badZip},
      {"offset inside a record", raw.Accelerated({{"Img", 33}})},
      {"offset beyond the records", raw.Accelerated({{"Img", 9999}})},
      {"empty key", raw.Accelerated({{"", f}})},
      {"offset in the head", raw.Accelerated({{"x", 4}})},
  };
  for (auto& c : bad) {
    SCOPED_TRACE(c.first);
    klftest::WriteFileBytes(path, c.second);
    EXPECT_FAILS(s, s.Open(path.c_str(), 1), klErrStoreMagic);
  }
}

TEST(Storage, MalformedContainersAreRefusedNeverTrusted) {
  klftest::TempDir dir;
  RawStore base;
  base.Add(0, kRoot, 1, "F", {});
  base.Add(4, 1, 2, "s", RawStore::Str("ok"));
  std::vector<u8> good = base.Bytes();
  ASSERT_EQ(OpenError(good, dir), 0);
  // A memory image is read-only and never the accelerated variant.
  CKLF_Mem m;
  ASSERT_TRUE(m.alloc(static_cast<u32>(good.size())));
  std::memcpy(m.GetPtr(), good.data(), good.size());
  CKLF_Storage s;
  CKLF_String v;
  ASSERT_TRUE(s.Open(&m) && s.GetRec("F>s", v));
  EXPECT_STREQ(v.GetStr(), "ok");
  EXPECT_FAILS(s, s.SetRecord("F>s", CKLF_String("x")), klErrStoreReadOnly);
  std::vector<u8> accel = base.Accelerated({{"F", 32}});
  EXPECT_FAILS(s, s.Open(accel.data(), static_cast<u32>(accel.size())), klErrStoreMagic);
  EXPECT_EQ(s.Open(static_cast<const u8*>(nullptr), 100) + s.Open(static_cast<CKLF_Mem*>(nullptr)), 0);

  auto patched = [&](size_t at, u8 byte) {
    std::vector<u8> b = good;
    b[at] = byte;
    return b;
  };
  auto plus = [&](u8 type, u32 parent, u32 id, const std::string& name, const std::vector<u8>& value) {
    RawStore r = base;
    r.Add(type, parent, id, name, value);
    return r.Bytes();
  };
  std::vector<u8> truncated = good;
  truncated.erase(truncated.begin() + 50, truncated.begin() + 52);
  RawStore cycle;
  cycle.Add(0, kRoot, 1, "A", {});
  cycle.Add(0, 1, 2, "B", {});
  cycle.Add(0, 2, 1, "C", {});
  const std::pair<const char*, std::vector<u8>> cases[] = {
      {"count beyond the records", base.Bytes(3, 2)},
      {"count short of the records", base.Bytes(1, 2)},
      {"huge count", base.Bytes(0xFFFFFFFF, 2)},
      {"last id below a live id", base.Bytes(2, 1)},
      {"truncated", truncated},
      {"shorter than the empty container", std::vector<u8>(good.begin(), good.begin() + 39)},
      {"cycle below the root", cycle.Bytes()},
      {"head magic", patched(3, 'X')},
      {"variant byte", patched(7, '1')},
      {"tail magic", patched(good.size() - 1, '1')},
      {"body length beyond the file", patched(32, 0x7F)},
      {"body length below its fields", patched(35, 5)},
      {"name beyond the body", patched(46, 200)},
      {"string length 0", plus(4, 1, 3, "z", RawStore::U32(0))},
      {"string length beyond", plus(4, 1, 3, "z", {0, 0, 0, 9, 'a', 0})},
      {"block length beyond", plus(5, 1, 3, "z", {0xFF, 0xFF, 0xFF, 0xFF})},
      {"short u32", plus(3, 1, 3, "z", {1, 2})},
      {"empty name", plus(1, 1, 3, "", {1})},
      {"name with >", plus(1, 1, 3, "a>b", {1})},
      {"name with NUL", plus(1, 1, 3, std::string("a\0b", 3), {1})},
      {"undefined type", plus(7, 1, 3, "z", {1})},
      {"type that reads as missing", plus(199, 1, 3, "z", {})},
      {"id 0", plus(1, 1, 0, "z", {1})},
      // Its parent would be the next folder made, which would adopt it.
      {"parent id never given", plus(1, 4, 3, "z", {1})},
      {"folder with the root's id", plus(0, kRoot, kRoot, "R", {})},
      {"folder inside itself", plus(0, 1, 1, "G", {})},
      {"two folders, one id", plus(0, kRoot, 1, "G", {})},
  };
  for (auto& c : cases) EXPECT_EQ(OpenError(c.second, dir), klErrStoreMagic) << c.first;

  // A cycle no path from the root reaches is just unreachable, and deleted
  // records are not checked beyond their bounds.
  RawStore r = base;
  r.Add(0, 9, 8, "X", {});
  r.Add(0, 8, 9, "Y", {});
  r.Add(0x63, 77, 0, "", {0, 0, 0, 0});
  std::vector<u8> b = r.Bytes();
  ASSERT_EQ(s.Open(b.data(), static_cast<u32>(b.size())), 1);
  EXPECT_EQ(s.GetTotalRecords(), 2u);
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
  EXPECT_FAILS(s, s.Open(dir.File("c").c_str(), 1), klErrStoreMagic);
}

TEST(Storage, DigestCheckOfImagesFilesAndEmbeddedContainers) {
  klftest::TempDir dir;
  std::string path = dir.File("d.kls");
  CKLF_Storage s;
  ASSERT_TRUE(s.Open(path.c_str(), 2) && s.SetRecord("k", CKLF_String("v")) && s.Close());
  std::vector<u8> f = klftest::ReadFileBytes(path);
  EXPECT_EQ(s.CheckMD5(f.data(), static_cast<u32>(f.size())), 1);
  std::vector<u8> bad = f;
  bad[40] ^= 1;
  EXPECT_FAILS(s, s.CheckMD5(bad.data(), static_cast<u32>(bad.size())), klErrStoreDigest);
  EXPECT_FAILS(s, s.CheckMD5(f.data(), 24), klErrStoreMagic);

  // From a file's current position, as when a container is embedded.
  std::vector<u8> embedded = {1, 2, 3};
  embedded.insert(embedded.end(), f.begin(), f.end());
  klftest::WriteFileBytes(dir.File("e.bin"), embedded);
  CKLF_StdFile file(dir.File("e.bin").c_str(), 1);
  ASSERT_GE(file.SetPos(3), 0);
  EXPECT_EQ(s.CheckMD5(&file), 1);
  ASSERT_GE(file.SetPos(2), 0);
  EXPECT_FAILS(s, s.CheckMD5(&file), klErrStoreDigest);

  klftest::WriteFileBytes(dir.File("empty"), {});
  EXPECT_EQ(s.CheckMD5(dir.File("empty").c_str()), 1);
  EXPECT_FAILS(s, s.CheckMD5(dir.File("missing").c_str()), klErrFileOpen);
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  EXPECT_EQ(s.CheckMD5("d.kls", &folder), 1);
  klftest::WriteFileBytes(path, bad);
  EXPECT_FAILS(s, s.CheckMD5("d.kls", &folder), klErrStoreDigest);
}

TEST(Storage, CallersFileAndNameInFolder) {
  klftest::TempDir dir;
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  CKLF_Storage s;
  EXPECT_EQ(s.Open("plugin.conf", &folder, 1), 0);
  ASSERT_TRUE(s.Open("plugin.conf", &folder, 2) && s.SetRecord("x", static_cast<u8>(4)) && s.Close());
  u8 x = 0;
  ASSERT_TRUE(s.Open("plugin.conf", &folder, 3) && s.GetRec("x", x));
  EXPECT_EQ(x, 4);

  // The caller's file is closed, not deleted.
  CKLF_StdFile file(dir.File("plugin.conf").c_str(), 3);
  ASSERT_TRUE(s.Open(&file, 3) && s.SetRecord("y", static_cast<u8>(5)) && s.Close());
  EXPECT_EQ(file.IsOpened(), 0);
  EXPECT_EQ(s.CheckMD5(dir.File("plugin.conf").c_str()), 1);
  EXPECT_EQ(s.Open(static_cast<CKLF_StdFile*>(nullptr), 3), 0);
  // A file that fails to open as a container stays the caller's, open.
  klftest::WriteFileBytes(dir.File("junk"), std::vector<u8>(50, 'j'));
  CKLF_StdFile junk(dir.File("junk").c_str(), 1);
  EXPECT_EQ(s.Open(&junk, 1), 0);
  EXPECT_EQ(junk.IsOpened(), 1);

  // Mode 2 creates over any file: a container or junk starts empty.
  for (const char* name : {"plugin.conf", "junk"}) {
    CKLF_StdFile f(dir.File(name).c_str(), 3);
    ASSERT_EQ(s.Open(&f, 2), 1) << name;
    EXPECT_EQ(s.GetTotalRecords(), 0u);
    EXPECT_EQ(s.GetPhysicalSize(), 40u);
    ASSERT_TRUE(s.Close());
  }
  // A file the storage cannot read back (or write, to change) is refused.
  CKLF_StdFile writeOnly(dir.File("w").c_str(), 2), readOnly(dir.File("plugin.conf").c_str(), 1);
  EXPECT_FAILS(s, s.Open(&writeOnly, 2), klErrFileAccess);
  EXPECT_FAILS(s, s.Open(&readOnly, 3), klErrFileAccess);
  EXPECT_EQ(s.IsOpened(), 0);
  EXPECT_EQ(s.Open(&readOnly, 1), 1);
  ASSERT_TRUE(s.Close());
}

TEST(Storage, CloseReportsWhyTheDigestCouldNotBeMade) {
  klftest::TempDir dir;
  CKLF_StdFile file(dir.File("gone.kls").c_str(), 4);
  CKLF_Storage s;
  ASSERT_TRUE(s.Open(&file, 2) && s.SetRecord("k", static_cast<u8>(1)));
  ASSERT_TRUE(file.Close());  // behind the storage's back
  EXPECT_FAILS(s, s.Close(), klErrFileNotOpen);
}

namespace {

// Writes beyond limit bytes fail with EFBIG while the object lives.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t limit) : oldHandler(signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit r = {limit, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &r);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
  }
  rlimit old;
  sighandler_t oldHandler;
};

}  // namespace

TEST(Storage, FailedWritesLeaveTheContainerAsItWas) {
  klftest::TempDir dir;
  std::string path = dir.File("full.kls");
  CKLF_Storage s;
  ASSERT_TRUE(s.Open(path.c_str(), 2) && s.AddFolder("F") && s.SetRecord("F>keep", CKLF_String("kept")) &&
              s.SetRecord("F>grow", CKLF_String("a")) && s.Close());
  std::vector<u8> before = klftest::ReadFileBytes(path);

  ASSERT_EQ(s.Open(path.c_str(), 3), 1);
  Index index = IndexOf(s);
  std::vector<u8> big(5000, 1);
  {
    FileSizeLimit limit(before.size() + 100);
    // The append is cut off part way.
    EXPECT_FAILS(s, s.SetRecord("F>big", big.data(), 5000), klErrFileWrite);
    // A bigger value marks the old record first: that mark is undone too.
    EXPECT_FAILS(s, s.SetRecord("F>grow", CKLF_String(std::string(3000, 'g').c_str())), klErrFileWrite);
    EXPECT_EQ(s.Rename("F", std::string(6000, 'R').c_str()), 0);
    EXPECT_EQ(klftest::ReadFileBytes(path), before);
    EXPECT_EQ(IndexOf(s), index);
    ASSERT_EQ(s.SetRecord("F>small", static_cast<u8>(3)), 1);  // small changes still fit
  }
  ASSERT_EQ(s.Close(), 1);
  ASSERT_EQ(s.CheckMD5(path.c_str()), 1);
  ASSERT_EQ(s.Open(path.c_str(), 1), 1);
  CKLF_String v;
  ASSERT_EQ(s.GetRec("F>grow", v), 1);
  EXPECT_STREQ(v.GetStr(), "a");
  EXPECT_EQ(s.GetRecType("F>big"), CKLF_Storage::klRecMissing);
  EXPECT_EQ(s.GetRecType("F>small"), CKLF_Storage::klRecU8);

  // A device that takes nothing: the new container cannot be made.
  CKLF_StdFile probe;
  if (!probe.Open("/dev/full", 3)) return;
  ASSERT_TRUE(probe.Close());
  EXPECT_FAILS(s, s.Open("/dev/full", 3), klErrFileWrite);
  EXPECT_EQ(s.IsOpened(), 0);
}
