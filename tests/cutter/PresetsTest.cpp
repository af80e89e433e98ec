#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstring>

#include "CDefaultShapeSet.h"
#include "CPluginFolderFiles.h"
#include "CPresetsLibrary.h"
#include "CShapeSetFile.h"
#include "CutterTestUtil.h"
#include "KLF_BigEndian.h"
#include "KLF_LittleEndian.h"

using cuttest::Container;
using cuttest::Files;

namespace {

const u32 R = CShapeSetFile::kRecordSize;
typedef CShapeSetFile::SHAPE SHAPE;

struct Window : CPresetsWindowPort {
  void Alert(const char* text, const char*) override { alerts.push_back(text); }
  void SetStatus(const char* text) override { status.push_back(text); }
  std::vector<std::string> alerts, status;
};

SHAPE Shape(std::vector<std::array<f64, 3>> hus) {
  SHAPE s = {};
  s.nodeCount = static_cast<u8>(hus.size());
  for (size_t i = 0; i < hus.size(); ++i) {
    s.nodes[i] = {hus[i][0], hus[i][1]};
    s.S[i] = hus[i][2];
  }
  return s;
}

// Library records named by the letters of names, node i of record k at
// U = k / 10.
std::vector<u8> Records(const std::string& names) {
  std::vector<u8> b(names.size() * R);
  for (size_t k = 0; k < names.size(); ++k)
    CShapeSetFile::PutRecord(b.data() + k * R, std::string(1, names[k]).c_str(), Shape({{-0.25, k / 10.0, 0.5}}));
  return b;
}

std::string Names(const CPresetsLibrary& lib) {
  std::string s;
  for (u32 i = 0; i < lib.GetCount(); ++i) s += static_cast<char>(lib.GetRecord(i)[0]);
  return s;
}

// A set image of the given shape records (binary), with the version and
// count given.
std::vector<u8> Set(const std::vector<std::vector<u8>>& shapes, const char* version = CShapeSetFile::kVersion,
                    i64 total = -1) {
  return Container([&](CKLF_Storage& st) {
    ASSERT_TRUE(st.SetRecord("Version", CKLF_String(version)));
    CKLF_String key;
    for (size_t k = 0; k < shapes.size(); ++k)
      ASSERT_TRUE(st.SetRecord(key.Format("Shape_%zu", k), shapes[k].data(), static_cast<u32>(shapes[k].size())));
    if (total != -2) {
      ASSERT_TRUE(st.SetRecord("TotalShapes", static_cast<u32>(total < 0 ? shapes.size() : total)));
    }
  });
}

std::vector<u8> ShapeRecord(const char* name, u32 n, u32 length, f32 value = 0.5f) {
  std::vector<u8> b(length);
  std::strncpy(reinterpret_cast<char*>(b.data()), name, 63);
  KLF_PutLE32(b.data() + 64, n);
  for (u32 o = 68; o + 4 <= length; o += 4) KLF_PutLEF32(b.data() + o, value);
  return b;
}

struct Lib {
  Files files;
  Window window;
  CPresetsLibrary lib{&files, &window};
  explicit Lib(const std::string& names = "") {
    if (!names.empty()) files.files[CPresetsLibrary::kFileName] = Records(names);
    lib.Open(nullptr);
  }
};

}  // namespace

TEST(Presets, RecordLayoutsByHand) {
  // Library record: name, count, then U, H, S arrays big-endian; the shape
  // record of a set: name, count and each node's U, H, S little-endian.
  std::vector<u8> rec(R, 0xEE);
  CShapeSetFile::PutRecord(rec.data(), "Knob", Shape({{-0.25, 0.5, 1}, {0, 0.75, 0}}));
  const u8 head[] = {'K', 'n', 'o', 'b', 0, 0};
  EXPECT_EQ(std::memcmp(rec.data(), head, 6), 0);
  EXPECT_EQ(rec[63], 0);
  EXPECT_EQ(std::vector<u8>(rec.begin() + 64, rec.begin() + 76), (std::vector<u8>{2, 0, 0, 0, 0x3F, 0, 0, 0, 0x3F, 0x40, 0, 0}));
  EXPECT_EQ(std::vector<u8>(rec.begin() + 324, rec.begin() + 328), (std::vector<u8>{0xBE, 0x80, 0, 0}));
  EXPECT_EQ(std::vector<u8>(rec.begin() + 580, rec.begin() + 584), (std::vector<u8>{0x3F, 0x80, 0, 0}));
  EXPECT_EQ(rec[72 + 4 * 62], 0);  // unused entries zero
  std::vector<u8> shape(CShapeSetFile::ShapeRecordSize(2));
  CShapeSetFile::PutShapeRecord(shape.data(), rec.data());
  EXPECT_EQ(shape.size(), 92u);
  EXPECT_EQ(std::vector<u8>(shape.begin() + 64, shape.end()),
            (std::vector<u8>{2, 0, 0, 0, 0, 0, 0, 0x3F, 0, 0, 0x80, 0xBE, 0, 0, 0x80, 0x3F,  //
                             0, 0, 0x40, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0}));
  std::vector<u8> five = ShapeRecord("x", 5, 128);
  EXPECT_EQ(std::vector<u8>(five.begin() + 64, five.begin() + 72), (std::vector<u8>{5, 0, 0, 0, 0, 0, 0, 0x3F}));
  std::vector<u8> back(R);
  ASSERT_EQ(CShapeSetFile::ShapeRecordToRecord(shape.data(), 92, back.data()), 1);
  EXPECT_EQ(std::vector<u8>(back.begin(), back.begin() + 64 + 1 + 3 + 8), std::vector<u8>(rec.begin(), rec.begin() + 76));
  EXPECT_EQ(CShapeSetFile::ShapeRecordSize(0), 68u);
}

TEST(Presets, SelectedShapesMakeASet) {
  klftest::TempDir dir;
  // The second and third of three selected: Shape_0 and Shape_1, count 2.
  Lib t("abc");
  t.lib.SetSelected(1, 1);
  t.lib.SetSelected(2, 1);
  CKLF_StdFile sel(dir.File("s.klpk").c_str(), 4);
  ASSERT_EQ(t.lib.stSaveSetToFile(&sel), 1);
  ASSERT_TRUE(sel.Close());
  EXPECT_EQ(t.window.status, (std::vector<std::string>{"Writing shape 1 of 2", "Writing shape 2 of 2", "Writing complete"}));
  CKLF_Storage st;
  ASSERT_EQ(st.Open(dir.File("s.klpk").c_str(), 1), 1);
  u32 total = 0;
  CKLF_Mem s1;
  EXPECT_TRUE(st.GetRec("TotalShapes", total) && total == 2);
  EXPECT_TRUE(st.GetRec("Shape_1", s1) && s1.GetSize() == 80 && s1.GetPtr()[0] == 'c');
  EXPECT_EQ(st.GetRecType("Shape_2"), CKLF_Storage::klRecMissing);
}

TEST(Presets, MalformedSetsLeaveTheLibraryUnchanged) {
  const char* corrupt = "Unknow file format or file corrupt...";
  std::vector<u8> good = Set({ShapeRecord("a", 1, 80)});
  std::vector<u8> flipped = good;
  flipped[flipped.size() - 3] ^= 4;
  struct Case {
    const char* name;
    std::vector<u8> image;
    const char* alert;  // null: refused without a message
  } cases[] = {
      {"digest", flipped, corrupt},
      {"not a container", std::vector<u8>(40, 7), corrupt},
      {"knife shape version", Set({ShapeRecord("a", 1, 80)}, "Kelvanos Tessarette Shape 2.0"), nullptr},
      {"no count", Set({ShapeRecord("a", 1, 80)}, CShapeSetFile::kVersion, -2), nullptr},
      {"a shape missing", Set({ShapeRecord("a", 1, 80)}, CShapeSetFile::kVersion, 2), "Error reading data file..."},
      // More shapes counted than the file holds is a shape missing, told as such.
      {"count beyond the records", Set({ShapeRecord("a", 1, 80)}, CShapeSetFile::kVersion, 4000000000),
       "Error reading data file..."},
      {"65 nodes", Set({ShapeRecord("a", 65, 68 + 12 * 65)}), corrupt},
      {"record too short", Set({ShapeRecord("a", 1, 80), ShapeRecord("b", 3, 100)}), corrupt},
      {"not a number", Set({ShapeRecord("a", 2, 92, NAN)}), corrupt},
  };
  for (const Case& c : cases) {
    for (u8 replace = 0; replace < 2; ++replace) {
      Lib t("abcd");
      EXPECT_EQ(t.lib.sub_opLoadSetFromMemBlock(c.image.data(), static_cast<u32>(c.image.size()), replace), 0) << c.name;
      EXPECT_EQ(Names(t.lib), "abcd") << c.name;
      EXPECT_EQ(t.files.writes, 0) << c.name;
      EXPECT_EQ(t.window.alerts, c.alert ? std::vector<std::string>{c.alert} : std::vector<std::string>{}) << c.name;
    }
  }
  // An empty set is taken and changes nothing.
  Lib t("ab");
  std::vector<u8> empty = Set({});
  EXPECT_EQ(t.lib.sub_opLoadSetFromMemBlock(empty.data(), static_cast<u32>(empty.size()), 1), 1);
  EXPECT_EQ(Names(t.lib) + std::to_string(t.files.writes), "ab0");
}

TEST(Presets, LoadingSetsAppendOrReplace) {
  std::vector<u8> set = Set({ShapeRecord("x", 1, 80), ShapeRecord("y", 1, 80), ShapeRecord("z", 0, 68)});
  Lib t("abcd");
  t.lib.opRenameShape(0, "A");  // an unsaved edit travels along
  t.lib.SetSelected(1, 1);
  ASSERT_EQ(t.lib.sub_opLoadSetFromMemBlock(set.data(), static_cast<u32>(set.size()), 0), 1);
  EXPECT_EQ(Names(t.lib), "Abcdxyz");
  EXPECT_EQ(t.lib.GetSelectedCount(), 0u);
  EXPECT_EQ(t.files.files[CPresetsLibrary::kFileName].size(), 7 * R);

  // A failed write leaves library and file as they were.
  t.files.failWrites = true;
  EXPECT_EQ(t.lib.sub_opLoadSetFromMemBlock(set.data(), static_cast<u32>(set.size()), 0), 0);
  EXPECT_EQ(Names(t.lib), "Abcdxyz");
  EXPECT_EQ(t.window.alerts.back(), "Cannot update presets file...");
  t.files.failWrites = false;
  ASSERT_EQ(t.lib.sub_opLoadSetFromMemBlock(set.data(), static_cast<u32>(set.size()), 1), 1);
  EXPECT_EQ(Names(t.lib), "xyz");
}

TEST(Presets, SeedingAndUnreadablePresetsFiles) {
  // A missing presets file is seeded from "DefSet" of the UI resource
  // file; a present one, even empty, is not; with neither, closing writes
  // an empty file.
  CKLF_Storage resources;
  ASSERT_EQ(resources.Open(CKLF_String(KLF_UI_RESOURCE_FILE), 1), 1);
  {
    Files files;
    CPresetsLibrary lib(&files, nullptr);
    lib.Open(&resources);
    CKLF_Mem want;
    u32 count = 0;
    ASSERT_EQ(CDefaultShapeSet::MakeRecords(want, count), 1);
    ASSERT_EQ(lib.GetCount(), count);
    EXPECT_EQ(std::memcmp(lib.GetRecord(0), want.GetPtr(), count * R), 0);
    EXPECT_EQ(files.files.count(CPresetsLibrary::kFileName), 1u);
    files.files[CPresetsLibrary::kFileName].clear();
    lib.Open(&resources);
    EXPECT_EQ(lib.GetCount(), 0u);
  }
  Lib none;
  EXPECT_EQ(none.lib.Close(), 1);
  EXPECT_EQ(none.files.files[CPresetsLibrary::kFileName].size(), 0u);

  // Present but unreadable, or holding values that are not numbers: not
  // seeded, not written over by closing, importing, appending or adding;
  // replacing it with a set is the user's explicit choice.
  std::vector<u8> bad = Records("ab");
  KLF_PutBEF32(bad.data() + R + 68, NAN);
  for (int unreadable = 0; unreadable < 2; ++unreadable) {
    Files files;
    Window window;
    files.files[CPresetsLibrary::kFileName] = bad;
    if (unreadable) files.unreadable[CPresetsLibrary::kFileName] = 1;
    CPresetsLibrary lib(&files, &window);
    lib.Open(&resources);
    EXPECT_TRUE(lib.IsLoadFailed() && lib.GetCount() == 0);
    EXPECT_EQ(window.alerts.back(), unreadable ? "Error reading data file..." : "Unknow file format or file corrupt...");
    std::vector<u8> set = Set({ShapeRecord("x", 1, 80)});
    EXPECT_EQ(lib.sub_opLoadSetFromMemBlock(set.data(), static_cast<u32>(set.size()), 0), 0);
    EXPECT_EQ(lib.ShapeMng_AddShape("n", Shape({})), unreadable ? 0 : 1);
    EXPECT_EQ(lib.Close(), 0);
    EXPECT_EQ(files.writes, unreadable ? 0 : 1);
    EXPECT_EQ(files.files[CPresetsLibrary::kFileName].size(), (unreadable ? 2u : 3u) * R);
    EXPECT_EQ(lib.sub_opLoadSetFromMemBlock(set.data(), static_cast<u32>(set.size()), 1), 1);
    EXPECT_EQ(Names(lib), "x");
  }
}

TEST(Presets, LibraryOperations) {
  // Sorting b, B, a gives B, a, b with the selection along; a trailing
  // part record is ignored.
  Lib t;
  std::vector<u8> file = Records("bBa");
  file.resize(file.size() + 100, 9);
  t.files.files[CPresetsLibrary::kFileName] = file;
  t.lib.FillIn();
  t.lib.SetSelected(0, 1);
  ASSERT_EQ(t.lib.opSort(), 1);
  EXPECT_EQ(Names(t.lib), "Bab");
  EXPECT_EQ(t.lib.GetFirstSelected(), 2);

  // Rename keeps 63 bytes; delete takes every selected record and clears
  // the selection; closing writes the library whole.
  ASSERT_EQ(t.lib.opRenameShape(-1, std::string(70, 'q').c_str()), 1);
  char name[64];
  CShapeSetFile::GetRecordName(t.lib.GetRecord(2), name);
  EXPECT_EQ(std::string(name), std::string(63, 'q'));
  t.lib.opSelectAll();
  t.lib.SetSelected(1, 0);
  ASSERT_EQ(t.lib.opDeleteShape(), 1);
  EXPECT_EQ(Names(t.lib), "a");
  EXPECT_EQ(t.lib.GetSelectedCount(), 0u);
  ASSERT_EQ(t.lib.Close(), 1);
  EXPECT_EQ(t.files.files[CPresetsLibrary::kFileName], std::vector<u8>(t.lib.GetRecord(0), t.lib.GetRecord(0) + R));

  // Adding a shape appends one record to the file; sending the first
  // selected to the Cutter makes it the live shape, values in range.
  ASSERT_EQ(t.lib.ShapeMng_AddShape("new", Shape({{-5, 0.25, 0.5}, {0, 2, 0.25}})), 1);
  t.lib.FillIn();
  ASSERT_EQ(t.lib.GetCount(), 2u);
  t.lib.SetSelected(1, 1);
  cuttest::Model cutter;
  ASSERT_EQ(t.lib.opToCutter(&cutter.m), 1);
  ASSERT_EQ(cutter.m.nodeCount, 2);
  EXPECT_EQ(cutter.m.nodes[0].H, -3.0);
  EXPECT_EQ(cutter.m.nodes[1].U, 1.0);
  EXPECT_EQ(cutter.m.nodeS[1], 0.25);
  EXPECT_EQ(cutter.main.shapeCalls.back(), 1);

  // Importing a knife shape file adds it under the given name.
  klftest::TempDir dir;
  CKLF_StdFile k(dir.File("k.klph").c_str(), 4);
  ASSERT_EQ(cutter.m.opSaveShapeToFile(&k), 1);
  CKLF_StdFile in(dir.File("k.klph").c_str(), 1);
  ASSERT_EQ(t.lib.opLoadShape(&in, "Imported"), 1);
  ASSERT_EQ(t.lib.GetCount(), 3u);
  CShapeSetFile::GetRecordName(t.lib.GetRecord(2), name);
  EXPECT_STREQ(name, "Imported");
  EXPECT_EQ(CShapeSetFile::RecordH(t.lib.GetRecord(2), 0), -3.0f);
}

TEST(Presets, PluginFolderFiles) {
  klftest::TempDir dir;
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  CPluginFolderFiles files(folder);
  CKLF_Mem block;
  EXPECT_EQ(files.ReadWhole("ckss.data", block), 0);
  const u8 bytes[3] = {1, 2, 3};
  ASSERT_EQ(files.WriteWhole("ckss.data", bytes, 3), 1);
  ASSERT_EQ(files.WriteWhole("ckss.data", bytes, 2), 1);
  ASSERT_EQ(files.ReadWhole("ckss.data", block), 1);
  EXPECT_EQ(block.GetSize(), 2u);
  mkdir(dir.File("x.data").c_str(), 0755);
  EXPECT_EQ(files.ReadWhole("x.data", block), -1);
  EXPECT_EQ(files.WriteWhole("x.data", bytes, 3), 0);
  EXPECT_EQ(block.GetSize(), 2u);
}

TEST(Presets, SortingFollowsTheShownNames) {
  // Ascending, bytes unsigned, a prefix first: a sort running the other way
  // would give the reverse. Selection travels with the records.
  Lib t("baBab");
  t.lib.SetSelected(2, 1);
  ASSERT_EQ(t.lib.opSort(), 1);
  EXPECT_EQ(Names(t.lib), "Baabb");
  EXPECT_EQ(t.lib.GetFirstSelected(), 0);

  // Two names alike in their first 63 bytes: the records keep 63 bytes,
  // the list shows the whole names, and the sort orders what it shows.
  const std::string stem(63, 'q');
  ASSERT_EQ(t.lib.opRenameShape(3, (stem + "z").c_str()), 1);
  ASSERT_EQ(t.lib.opRenameShape(1, (stem + "y").c_str()), 1);
  ASSERT_EQ(t.lib.opRenameShape(0, (stem + "x").c_str()), 1);
  ASSERT_EQ(t.lib.opSort(), 1);
  EXPECT_EQ(std::string(t.lib.GetName(0)) + std::string(t.lib.GetName(1)), "ab");
  EXPECT_EQ(std::string(t.lib.GetName(2)), stem + "x");
  EXPECT_EQ(std::string(t.lib.GetName(3)), stem + "y");
  EXPECT_EQ(std::string(t.lib.GetName(4)), stem + "z");
  EXPECT_EQ(t.lib.GetFirstSelected(), 2);
  char name[64];
  CShapeSetFile::GetRecordName(t.lib.GetRecord(4), name);
  EXPECT_EQ(std::string(name), stem);
  // Deleting keeps the shown names with their records; a reload shows the
  // stored ones.
  t.lib.SetSelected(2, 0);
  t.lib.SetSelected(3, 1);
  ASSERT_EQ(t.lib.opDeleteShape(), 1);
  EXPECT_EQ(std::string(t.lib.GetName(3)), stem + "z");
  ASSERT_EQ(t.lib.Close(), 1);
  t.lib.FillIn();
  EXPECT_EQ(std::string(t.lib.GetName(3)), stem);
}
