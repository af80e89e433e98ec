#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "CTessarette.h"

namespace {

typedef std::vector<u8> Bytes;

void Be16(Bytes& b, u32 v) {
  b.push_back(static_cast<u8>(v >> 8));
  b.push_back(static_cast<u8>(v));
}
void Be32(Bytes& b, u32 v) {
  Be16(b, v >> 16);
  Be16(b, v & 0xFFFF);
}
void BeF(Bytes& b, f32 f) {
  u32 v;
  std::memcpy(&v, &f, 4);
  Be32(b, v);
}

struct KnifeDesc {
  u8 flags = 0;
  u8 knob = 100;
  u8 thickness = 3;
  std::vector<f32> u, h, s;
};

void Knife(Bytes& b, const KnifeDesc& k) {
  b.push_back(k.flags);
  Be16(b, static_cast<u32>(k.u.size()));
  b.push_back(k.knob);
  b.push_back(k.thickness);
  for (f32 v : k.u) BeF(b, v);
  for (f32 v : k.h) BeF(b, v);
  for (f32 v : k.s) BeF(b, v);
}

// A block of H x V even lines; every grid knife is `knife`; extra knives
// join the given knot pairs; piece records follow in Puzzle mode.
struct BlockDesc {
  u32 H = 0, V = 0;
  u8 puzzle = 0;
  KnifeDesc knife;
  std::vector<std::pair<u32, u32>> extras;
  u8 thin = 1, aa = 1;
  u32 records = 0;
};

Bytes Block(const BlockDesc& s) {
  Bytes b = {s.puzzle, s.puzzle};
  Be16(b, s.H);
  Be16(b, s.V);
  Be32(b, static_cast<u32>(s.extras.size()));
  for (u32 i = 0; i < s.H; ++i) BeF(b, (i + 1.0f) / (s.H + 1.0f));
  for (u32 i = 0; i < s.V; ++i) BeF(b, (i + 1.0f) / (s.V + 1.0f));
  u32 K = (s.H + 2) * (s.V + 2);
  Be32(b, K);
  for (u32 i = 0; i < K; ++i) {
    BeF(b, i == 5 ? 0.125f : 0.0f);
    BeF(b, i == 5 ? -0.25f : 0.0f);
  }
  const u32 lists[2] = {s.V * (s.H + 1), (s.V + 1) * s.H};
  for (u32 n : lists) {
    Be32(b, n);
    for (u32 i = 0; i < n; ++i) Knife(b, s.knife);
  }
  Be32(b, static_cast<u32>(s.extras.size()));
  for (auto& x : s.extras) {
    Knife(b, s.knife);
    Be32(b, x.first);
    Be32(b, x.second);
  }
  b.push_back(s.thin);
  b.push_back(s.aa);
  if (s.puzzle) {
    Be32(b, s.records);
    for (u32 i = 0; i < s.records * 92; ++i) b.push_back(static_cast<u8>(i));
  }
  return b;
}

u8 Read(CTessarette& e, const Bytes& b, u8& layout, u32& count, const u8*& records, CKLF_Mem& mem) {
  mem.free();
  if (!b.empty()) {
    mem.alloc(static_cast<u32>(b.size()));
    std::memcpy(mem.GetPtr(), b.data(), b.size());
  }
  return e.InitFromLastSettingsBinary(&mem, layout, count, records);
}

// The engine's layout after a good read of a 2 x 2 grid, to see that a
// refused block leaves it alone.
void ExpectUntouched(const CTessarette& e) {
  EXPECT_EQ(e.m_vCount, 2);
  EXPECT_EQ(e.m_hCount, 2);
  EXPECT_EQ(e.m_knots[5].dx, 0.125f);
  EXPECT_EQ(e.m_xKnifeCount, 1u);
}

}  // namespace

TEST(TessaretteSettings, ReadsLayoutAndPuzzleBlocks) {
  CTessarette e;
  CKLF_Mem mem;
  u8 layout = 9;
  u32 count = 9;
  const u8* rec = reinterpret_cast<const u8*>(1);

  BlockDesc s;
  s.H = 1;
  s.V = 2;
  s.knife.u = {0.2f, 0.7f};
  s.knife.h = {0.1f, -0.2f};
  s.knife.s = {0.5f, 0.25f};
  s.extras = {{0, 11}};
  s.thin = 0;
  s.aa = 7;  // only 1 means on
  ASSERT_EQ(Read(e, Block(s), layout, count, rec, mem), 1);
  EXPECT_EQ(layout, 1);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(rec, nullptr);
  EXPECT_EQ(e.m_vCount, 2);
  EXPECT_EQ(e.m_hCount, 1);
  EXPECT_EQ(e.m_vPos[1], 2.0f / 3.0f);
  EXPECT_EQ(e.m_hPos[0], 0.5f);
  EXPECT_EQ(e.GetKnot(1, 1)->dx, 0.125f);
  EXPECT_EQ(e.GetKnot(1, 1)->dy, -0.25f);
  EXPECT_EQ(e.m_vKnifeCount, 4u);
  EXPECT_EQ(e.m_hKnifeCount, 3u);
  const CTessarette::KNIFESTRUCT_RENDERER* k = e.GetHorizontalKnife(2, 0);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->count, 2);
  EXPECT_EQ(k->thickness, 3u);
  EXPECT_EQ(k->position[1], 0.7f);
  EXPECT_EQ(k->offset[1], -0.2f);
  EXPECT_EQ(k->smoothness[1], 0.25f);
  ASSERT_EQ(e.m_xKnifeCount, 1u);
  EXPECT_EQ(e.m_xKnives[0].firstKnot, 0u);
  EXPECT_EQ(e.m_xKnives[0].secondKnot, 11u);
  EXPECT_EQ(e.m_thinKnife, 0);
  EXPECT_EQ(e.m_antiAlias, 0);

  s.puzzle = 1;
  s.records = 3;
  Bytes p = Block(s);
  ASSERT_EQ(Read(e, p, layout, count, rec, mem), 1);
  EXPECT_EQ(layout, 0);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(rec, mem.GetPtr() + p.size() - 3 * 92);

  // Puzzle mode with no pieces: no records.
  s.records = 0;
  ASSERT_EQ(Read(e, Block(s), layout, count, rec, mem), 1);
  EXPECT_EQ(layout, 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(rec, nullptr);
}

TEST(TessaretteSettings, FlipsKnobSizeAndHiddenKnives) {
  CTessarette e;
  CKLF_Mem mem;
  u8 layout;
  u32 count;
  const u8* rec;
  BlockDesc s;
  s.V = 1;
  s.knife.u = {0.4f, 0.6f};
  s.knife.h = {0.2f, -0.1f};
  s.knife.s = {0.1f, 0.3f};
  s.knife.knob = 50;
  ASSERT_EQ(Read(e, Block(s), layout, count, rec, mem), 1);
  const CTessarette::KNIFESTRUCT_RENDERER* k = e.GetVerticalKnife(0, 0);
  EXPECT_FLOAT_EQ(k->position[0], 0.45f);
  EXPECT_FLOAT_EQ(k->position[1], 0.55f);
  EXPECT_FLOAT_EQ(k->offset[0], 0.1f);
  EXPECT_FLOAT_EQ(k->offset[1], -0.05f);

  // Both flips at full size: order reversed, positions mirrored, offsets
  // negated; out-of-range values clamped first.
  s.knife.knob = 100;
  s.knife.flags = 3;
  s.knife.u = {-0.5f, 0.25f, 0.5f};
  s.knife.h = {4.0f, 0.5f, -0.25f};
  s.knife.s = {3.0f, 0.5f, -9.0f};
  ASSERT_EQ(Read(e, Block(s), layout, count, rec, mem), 1);
  k = e.GetVerticalKnife(0, 0);
  ASSERT_EQ(k->count, 3);
  EXPECT_EQ(k->position[0], 0.5f);
  EXPECT_EQ(k->position[1], 0.75f);
  EXPECT_EQ(k->position[2], 1.0f);
  EXPECT_EQ(k->offset[0], 0.25f);
  EXPECT_EQ(k->offset[2], -3.0f);
  EXPECT_EQ(k->smoothness[0], -2.0f);
  EXPECT_EQ(k->smoothness[2], 2.0f);

  s.knife.flags = 4;  // hidden
  ASSERT_EQ(Read(e, Block(s), layout, count, rec, mem), 1);
  EXPECT_EQ(e.GetVerticalKnife(0, 0)->count, -1);
}

TEST(TessaretteSettings, HiddenKnivesDoNotCut) {
  const i32 w = 40, h = 20;
  std::vector<u8> plane(static_cast<size_t>(w) * h, 128);
  u8* planes[1] = {plane.data()};
  for (u8 flags : {0, 4}) {
    CTessarette e;
    CKLF_Mem mem;
    u8 layout;
    u32 count;
    const u8* rec;
    BlockDesc s;
    s.V = 1;
    s.knife.flags = flags;
    ASSERT_EQ(Read(e, Block(s), layout, count, rec, mem), 1);
    ASSERT_EQ(e.SplitCells(w, h, nullptr, 0, planes, w, 1, 0, 100, 0), 1);
    EXPECT_EQ(e.GetPieceCount(), flags ? 1u : 2u);
  }
}

TEST(TessaretteSettings, RefusesMalformedBlocksWhole) {
  CTessarette e;
  CKLF_Mem mem;
  u8 layout;
  u32 count;
  const u8* rec;
  BlockDesc good;
  good.H = 2;
  good.V = 2;
  good.puzzle = 1;
  good.records = 2;
  good.knife.u = {0.5f};
  good.knife.h = {0.1f};
  good.knife.s = {0.5f};
  good.extras = {{0, 15}};
  const Bytes g = Block(good);

  auto refused = [&](const Bytes& b, const char* what) {
    ASSERT_EQ(Read(e, g, layout, count, rec, mem), 1) << what;
    EXPECT_EQ(Read(e, b, layout, count, rec, mem), 0) << what;
    EXPECT_EQ(e.GetError(), klErrNotFormat) << what;
    EXPECT_EQ(count, 0u) << what;
    EXPECT_EQ(rec, nullptr) << what;
    ExpectUntouched(e);
  };

  refused(Bytes(), "empty");
  refused(Bytes(g.begin(), g.begin() + 5), "five bytes");
  // Every cut fails, the piece records included.
  for (size_t n = 0; n < g.size(); n += 7) refused(Bytes(g.begin(), g.begin() + static_cast<long>(n)), "cut");
  refused(Bytes(g.begin(), g.end() - 1), "one record byte short");

  // 101 lines with every byte present.
  BlockDesc s = good;
  s.H = 101;
  refused(Block(s), "101 lines");
  s = good;
  s.extras.assign(20001, {0, 5});
  refused(Block(s), "20001 extra knives");
  // 65 points with every byte present: would overflow the knife.
  s = good;
  s.knife.u.assign(65, 0.5f);
  s.knife.h.assign(65, 0.0f);
  s.knife.s.assign(65, 0.5f);
  refused(Block(s), "65 points");
  s = good;
  s.extras = {{0, 16}};
  refused(Block(s), "knot id past the grid");
  s = good;
  s.extras = {{0xFFFFFFFF, 3}};
  refused(Block(s), "huge knot id");
  s = good;
  s.knife.h = {std::numeric_limits<f32>::quiet_NaN()};
  refused(Block(s), "NaN offset");

  Bytes b = g;
  f32 nan = std::numeric_limits<f32>::quiet_NaN();
  u32 bits;
  std::memcpy(&bits, &nan, 4);
  b[10] = static_cast<u8>(bits >> 24);
  b[11] = static_cast<u8>(bits >> 16);
  b[12] = static_cast<u8>(bits >> 8);
  b[13] = static_cast<u8>(bits);
  refused(b, "NaN line position");
  b = g;
  b[10] = 0x7F;  // 3.4e38
  refused(b, "absurd line position");
  b = g;
  b[10] = 0x43;  // 128.0: knives many images long, a cut that never ends
  b[11] = b[12] = b[13] = 0;
  refused(b, "line far outside the image");

  // A record count whose byte size wraps in 32 bits to less than the
  // records present.
  b = g;
  size_t at = g.size() - 2 * 92 - 4;
  const u32 n = 46684428u;  // x 92 = 2^32 + 80
  b[at] = static_cast<u8>(n >> 24);
  b[at + 1] = static_cast<u8>(n >> 16);
  b[at + 2] = static_cast<u8>(n >> 8);
  b[at + 3] = static_cast<u8>(n);
  refused(b, "wrapping record count");
  b = g;
  b[at + 3] = 3;
  refused(b, "one record too many");
  // Counts that disagree with the grid.
  b = g;
  b[10 + 16 + 3] = 15;
  refused(b, "knot count");
}
