#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "CKnifeShapeFile.h"
#include "CutterTestUtil.h"
#include "KLF_LittleEndian.h"
#include "support/TestSupport.h"

namespace {

typedef CKnifeShapeFile::SHAPE SHAPE;
using cuttest::Container;

void Nodes(CKLF_Storage& st, u8 n) {
  ASSERT_TRUE(st.SetRecord("Version", CKLF_String(CKnifeShapeFile::kVersion)));
  ASSERT_TRUE(st.SetRecord("Nodes", n));
  CKLF_String key;
  for (u32 i = 0; i < n; ++i) {
    ASSERT_TRUE(st.SetRecord(key.Format("Node_U_%u", i), 0.25));
    ASSERT_TRUE(st.SetRecord(key.Format("Node_H_%u", i), -0.5));
    ASSERT_TRUE(st.SetRecord(key.Format("Node_S_%u", i), 0.75));
  }
}

std::vector<u8> Legacy(std::vector<i32> v, char first = 'K') {
  std::vector<u8> b(CKnifeShapeFile::kLegacyTextSize + 24);
  std::memcpy(b.data(), CKnifeShapeFile::kLegacyText, CKnifeShapeFile::kLegacyTextSize);
  b[0] = static_cast<u8>(first);
  for (u32 i = 0; i < 6; ++i) KLF_PutLE32(b.data() + CKnifeShapeFile::kLegacyTextSize + 4 * i, static_cast<u32>(v[i]));
  return b;
}

}  // namespace

TEST(KnifeShapeFile, SixtyFourNodesRoundTripThroughTheCutter) {
  klftest::TempDir dir;
  std::vector<std::pair<f64, f64>> hu;
  for (int i = 0; i < 64; ++i) hu.push_back({std::sin(i) * 0.4, i / 63.0});
  cuttest::Model a(hu), b;
  a.m.nodeS[7] = 0.125;
  CKLF_StdFile out(dir.File("k.klph").c_str(), 4);
  ASSERT_EQ(a.m.opSaveShapeToFile(&out), 1);
  ASSERT_TRUE(out.Close());
  b.m.opUnSelectAllNodes();
  CKLF_StdFile in(dir.File("k.klph").c_str(), 1);
  ASSERT_EQ(b.m.opLoadShapeFromFile(&in), 1);
  ASSERT_EQ(b.m.nodeCount, 64);
  for (u32 i = 0; i < 64; ++i) {
    EXPECT_EQ(b.m.nodes[i].H, a.m.nodes[i].H);
    EXPECT_EQ(b.m.nodes[i].U, a.m.nodes[i].U);
    EXPECT_EQ(b.m.nodeS[i], a.m.nodeS[i]);
  }
  EXPECT_EQ(b.m.GetSelectedNodesCount(), 64u);
  EXPECT_EQ(b.main.shapeCalls.back(), 1);
}

TEST(KnifeShapeFile, LegacyFormConverts) {
  // k = 200 x 0.33 / 200 = 0.33.
  CKnifeShapeFile f;
  SHAPE s = {};
  std::vector<u8> b = Legacy({200, 20, 10, 30, 40, 50});
  ASSERT_EQ(f.Read(b.data(), static_cast<u32>(b.size()), s), 1);
  const f64 want[5][2] = {{0, 0.434}, {-0.198, 0.467}, {-0.264, 0.5}, {-0.198, 0.533}, {0, 0.566}};
  ASSERT_EQ(s.nodeCount, 5);
  for (u32 i = 0; i < 5; ++i) {
    EXPECT_NEAR(s.nodes[i].H, want[i][0], 1e-12);
    EXPECT_NEAR(s.nodes[i].U, want[i][1], 1e-12);
    EXPECT_EQ(s.S[i], 0.5);
  }
  // Out of range: S clamped to 1, H to -3, U to 0..1.
  b = Legacy({200, 1000000, 10, 30, 100000, 250});
  ASSERT_EQ(f.Read(b.data(), static_cast<u32>(b.size()), s), 1);
  EXPECT_EQ(s.S[0], 1.0);
  EXPECT_EQ(s.nodes[2].H, -3.0);
  EXPECT_EQ(s.nodes[0].U, 0.0);
  EXPECT_EQ(s.nodes[4].U, 1.0);
}

TEST(KnifeShapeFile, MalformedFilesAreRefusedWithTheirAlert) {
  const char* corrupt = "Unknow file format or file corrupt...";
  std::vector<u8> good = Container([](CKLF_Storage& st) { Nodes(st, 3); });
  std::vector<u8> flipped = good;
  flipped[flipped.size() / 2] ^= 1;
  struct Case {
    const char* name;
    std::vector<u8> bytes;
    const char* alert;
  } cases[] = {
      {"empty", {}, "File corrupt... (0-length file)"},
      {"digest", flipped, corrupt},
      {"truncated", std::vector<u8>(good.begin(), good.end() - 9), corrupt},
      {"65 nodes", Container([](CKLF_Storage& st) { Nodes(st, 65); }), corrupt},
      {"no S of node 2", Container([](CKLF_Storage& st) {
         Nodes(st, 3);
         ASSERT_TRUE(st.KillRec("Node_S_2"));
       }),
       corrupt},
      {"not a number", Container([](CKLF_Storage& st) {
         Nodes(st, 3);
         ASSERT_TRUE(st.SetRecord("Node_H_1", static_cast<f64>(INFINITY)));
       }),
       corrupt},
      {"shape set version", Container([](CKLF_Storage& st) {
         Nodes(st, 1);
         ASSERT_TRUE(st.SetRecord("Version", CKLF_String("Kelvanos Tessarette Shape Set 2.0")));
       }),
       corrupt},
      {"1.2 text differs", Legacy({200, 20, 10, 30, 40, 50}, 'k'), corrupt},
  };
  klftest::TempDir dir;
  for (const Case& c : cases) {
    cuttest::Model t;
    klftest::WriteFileBytes(dir.File("x.klph"), c.bytes);
    CKLF_StdFile in(dir.File("x.klph").c_str(), 1);
    EXPECT_EQ(t.m.opLoadShapeFromFile(&in), 0) << c.name;
    ASSERT_EQ(t.window.alerts.size(), 1u) << c.name;
    EXPECT_EQ(t.window.alerts[0], c.alert) << c.name;
    EXPECT_EQ(t.m.nodeCount, 5) << c.name;
    EXPECT_EQ(t.m.nodes[2].H, -0.297) << c.name;
  }
  // The good one reads, with H clamped to -3..3 on the way.
  CKnifeShapeFile f;
  SHAPE s = {};
  std::vector<u8> wide = Container([](CKLF_Storage& st) {
    Nodes(st, 2);
    ASSERT_TRUE(st.SetRecord("Node_H_1", 7.5));
  });
  ASSERT_EQ(f.Read(wide.data(), static_cast<u32>(wide.size()), s), 1);
  EXPECT_EQ(s.nodes[0].H, -0.5);
  EXPECT_EQ(s.nodes[1].H, 3.0);
  std::vector<u8> zero = Container([](CKLF_Storage& st) { Nodes(st, 0); });
  ASSERT_EQ(f.Read(zero.data(), static_cast<u32>(zero.size()), s), 1);
  EXPECT_EQ(s.nodeCount, 0);
}
