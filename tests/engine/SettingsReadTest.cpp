#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "CTessarette.h"

namespace {

typedef std::vector<u8> Bytes;

void Be32(Bytes& b, u32 v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<u8>(v >> s));
}
void BeF(Bytes& b, f32 f) {
  u32 v;
  std::memcpy(&v, &f, 4);
  Be32(b, v);
}
void Put32(Bytes& b, size_t at, u32 v) {
  for (int i = 0; i < 4; i++) b[at + i] = static_cast<u8>(v >> (24 - 8 * i));
}

// Points are (position, offset, smoothness); stored as three arrays.
struct KnifeDesc {
  u8 flags = 0;
  u8 knob = 100;
  u8 thickness = 3;
  std::vector<std::array<f32, 3>> points;
};

void Knife(Bytes& b, const KnifeDesc& k) {
  const size_t n = k.points.size();
  b.insert(b.end(), {k.flags, static_cast<u8>(n >> 8), static_cast<u8>(n), k.knob, k.thickness});
  for (int a = 0; a < 3; a++)
    for (const auto& p : k.points) BeF(b, p[a]);
}

// A block of H x V even lines; knot 5 is moved by (0.125, -0.25); every
// grid knife is `knife`; extra knives join the given knot pairs; piece
// records follow in Puzzle mode.
struct BlockDesc {
  u32 H = 0, V = 0;
  u8 puzzle = 0;
  KnifeDesc knife;
  std::vector<std::pair<u32, u32>> extras;
  u8 thin = 1, aa = 1;
  u32 records = 0;
};

Bytes Block(const BlockDesc& s) {
  Bytes b = {s.puzzle, s.puzzle, static_cast<u8>(s.H >> 8), static_cast<u8>(s.H), static_cast<u8>(s.V >> 8),
             static_cast<u8>(s.V)};
  Be32(b, static_cast<u32>(s.extras.size()));
  for (u32 i = 0; i < s.H; ++i) BeF(b, (i + 1.0f) / (s.H + 1.0f));
  for (u32 i = 0; i < s.V; ++i) BeF(b, (i + 1.0f) / (s.V + 1.0f));
  const u32 K = (s.H + 2) * (s.V + 2);
  Be32(b, K);
  for (u32 i = 0; i < K; ++i) {
    BeF(b, i == 5 ? 0.125f : 0.0f);
    BeF(b, i == 5 ? -0.25f : 0.0f);
  }
  for (u32 n : {s.V * (s.H + 1), (s.V + 1) * s.H}) {
    Be32(b, n);
    for (u32 i = 0; i < n; ++i) Knife(b, s.knife);
  }
  Be32(b, static_cast<u32>(s.extras.size()));
  for (auto& x : s.extras) {
    Knife(b, s.knife);
    Be32(b, x.first);
    Be32(b, x.second);
  }
  b.insert(b.end(), {s.thin, s.aa});
  if (s.puzzle) {
    Be32(b, s.records);
    for (u32 i = 0; i < s.records * 92; ++i) b.push_back(static_cast<u8>(i));
  }
  return b;
}

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
      mem.alloc(static_cast<u32>(b.size()));
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
