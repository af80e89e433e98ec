#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "CTessarette.h"
#include "support/SettingsBytes.h"

namespace {

typedef std::vector<u8> Bytes;
using klftest::Block;
using klftest::BlockDesc;
using klftest::Put32;

// An engine and what its settings reader hands back.
struct Reader {
  CTessarette e;
  CKLF_Mem mem;
  u8 layout = 9;
  u32 count = 9;
  const u8* records = reinterpret_cast<const u8*>(1);

  u8 Read(const Bytes& b) {
    mem.free();
    if (!b.empty()) {
      EXPECT_TRUE(mem.alloc(static_cast<u32>(b.size())));
      std::memcpy(mem.GetPtr(), b.data(), b.size());
    }
    return e.InitFromLastSettingsBinary(&mem, layout, count, records);
  }
};

}  // namespace

TEST(TessaretteSettings, ReadsLayoutAndPuzzleBlocks) {
  Reader r;
  BlockDesc s;
  s.H = 1;
  s.V = 2;
  s.knots = {{5, 0.125f, -0.25f}};
  s.knife.points = {{0.2f, 0.1f, 0.5f}, {0.7f, -0.2f, 0.25f}};
  s.extras = {{0, 11}};
  s.thin = 0;
  s.aa = 7;  // only 1 means on
  ASSERT_EQ(r.Read(Block(s)), 1);
  EXPECT_TRUE(r.layout == 1 && r.count == 0 && r.records == nullptr);
  CTessarette& e = r.e;
  EXPECT_EQ(std::vector<u32>({e.m_vCount, e.m_hCount, e.m_vKnifeCount, e.m_hKnifeCount, e.m_xKnifeCount}),
            std::vector<u32>({2, 1, 4, 3, 1}));
  EXPECT_EQ(std::vector<f32>({e.m_vPos[1], e.m_hPos[0], e.GetKnot(1, 1)->dx, e.GetKnot(1, 1)->dy}),
            std::vector<f32>({2.0f / 3.0f, 0.5f, 0.125f, -0.25f}));
  const CTessarette::KNIFESTRUCT_RENDERER* k = e.GetHorizontalKnife(2, 0);
  ASSERT_NE(k, nullptr);
  EXPECT_TRUE(k->count == 2 && k->thickness == 3);
  EXPECT_EQ(std::vector<f32>({k->position[1], k->offset[1], k->smoothness[1]}), std::vector<f32>({0.7f, -0.2f, 0.25f}));
  EXPECT_EQ(std::vector<u32>({e.m_xKnives[0].firstKnot, e.m_xKnives[0].secondKnot, e.m_thinKnife, e.m_antiAlias}),
            std::vector<u32>({0, 11, 0, 0}));

  s.puzzle = 1;
  s.records = 3;
  const Bytes p = Block(s);
  ASSERT_EQ(r.Read(p), 1);
  EXPECT_TRUE(r.layout == 0 && r.count == 3 && r.records == r.mem.GetPtr() + p.size() - 3 * 92);
  s.records = 0;  // Puzzle mode with no pieces: no records
  ASSERT_EQ(r.Read(Block(s)), 1);
  EXPECT_TRUE(r.count == 0 && r.records == nullptr);
}

TEST(TessaretteSettings, FlipsKnobSizeAndHiddenKnives) {
  Reader r;
  BlockDesc s;
  s.V = 1;
  s.knife.points = {{0.4f, 0.2f, 0.1f}, {0.6f, -0.1f, 0.3f}};
  s.knife.knob = 50;  // half size about the mean position
  ASSERT_EQ(r.Read(Block(s)), 1);
  const CTessarette::KNIFESTRUCT_RENDERER* k = r.e.GetVerticalKnife(0, 0);
  EXPECT_FLOAT_EQ(k->position[0], 0.45f);
  EXPECT_FLOAT_EQ(k->position[1], 0.55f);
  EXPECT_FLOAT_EQ(k->offset[1], -0.05f);

  // Both flips at full size: order reversed, positions mirrored, offsets
  // negated; out-of-range values clamped first.
  s.knife.knob = 100;
  s.knife.flags = 3;
  s.knife.points = {{-0.5f, 4.0f, 3.0f}, {0.25f, 0.5f, 0.5f}, {0.5f, -0.25f, -9.0f}};
  ASSERT_EQ(r.Read(Block(s)), 1);
  k = r.e.GetVerticalKnife(0, 0);
  ASSERT_EQ(k->count, 3);
  EXPECT_EQ(std::vector<f32>(k->position, k->position + 3), std::vector<f32>({0.5f, 0.75f, 1.0f}));
  EXPECT_EQ(std::vector<f32>(k->offset, k->offset + 3), std::vector<f32>({0.25f, -0.5f, -3.0f}));
  EXPECT_EQ(std::vector<f32>(k->smoothness, k->smoothness + 3), std::vector<f32>({-2.0f, 0.5f, 2.0f}));

  s.knife.flags = 2;  // reversed and mirrored only
  ASSERT_EQ(r.Read(Block(s)), 1);
  k = r.e.GetVerticalKnife(0, 0);
  EXPECT_EQ(std::vector<f32>(k->offset, k->offset + 3), std::vector<f32>({-0.25f, 0.5f, 3.0f}));
  s.knife.flags = 4;  // hidden
  ASSERT_EQ(r.Read(Block(s)), 1);
  EXPECT_EQ(r.e.GetVerticalKnife(0, 0)->count, -1);
}

// A block that fails any check is refused whole: the layout read before
// stays as it was.
TEST(TessaretteSettings, RefusesMalformedBlocksWhole) {
  BlockDesc good;
  good.H = 2;
  good.V = 2;
  good.knots = {{5, 0.125f, -0.25f}};
  good.puzzle = 1;
  good.records = 2;
  good.knife.points = {{0.5f, 0.1f, 0.5f}};
  good.extras = {{0, 15}};
  const Bytes g = Block(good);

  std::vector<std::pair<std::string, Bytes>> bad;
  for (size_t n = 0; n < g.size(); n += 7)
    bad.push_back({"cut at " + std::to_string(n), Bytes(g.begin(), g.begin() + n)});
  bad.push_back({"one record byte short", Bytes(g.begin(), g.end() - 1)});
  auto variant = [&](const char* what, void (*change)(BlockDesc&)) {
    BlockDesc s = good;
    change(s);
    bad.push_back({what, Block(s)});
  };
  variant("101 lines", [](BlockDesc& s) { s.H = 101; });
  variant("20001 extra knives", [](BlockDesc& s) { s.extras.assign(20001, {0, 5}); });
  variant("65 points", [](BlockDesc& s) { s.knife.points.assign(65, {0.5f, 0.0f, 0.5f}); });  // overflow
  variant("knot id past the grid", [](BlockDesc& s) { s.extras = {{0, 16}}; });
  variant("huge knot id", [](BlockDesc& s) { s.extras = {{0xFFFFFFFF, 3}}; });
  variant("NaN offset", [](BlockDesc& s) { s.knife.points[0][1] = std::numeric_limits<f32>::quiet_NaN(); });
  auto patched = [&](const char* what, size_t at, u32 v) {
    Bytes b = g;
    Put32(b, at, v);
    bad.push_back({what, b});
  };
  patched("NaN line position", 10, 0x7FC00000u);
  patched("line far outside the image", 10, 0x43000000u);  // 128: knives many images long
  patched("knot far off", 10 + 16 + 4, 0xC3000000u);       // dx -128
  patched("knot count", 10 + 16, 15);
  const size_t records = g.size() - 2 * 92 - 4;
  patched("wrapping record count", records, 46684428u);  // x 92 = 2^32 + 80
  patched("one record too many", records, 3);

  Reader r;
  for (const auto& b : bad) {
    ASSERT_EQ(r.Read(g), 1) << b.first;
    EXPECT_EQ(r.Read(b.second), 0) << b.first;
    EXPECT_EQ(r.e.GetError(), klErrNotFormat) << b.first;
    EXPECT_EQ(r.count, 0u) << b.first;
    EXPECT_EQ(r.records, nullptr) << b.first;
    EXPECT_TRUE(r.e.m_vCount == 2 && r.e.m_hCount == 2 && r.e.m_knots[5].dx == 0.125f && r.e.m_xKnifeCount == 1)
        << b.first << ": the layout changed";
  }
}
