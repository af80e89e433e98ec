#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"
#include "support/SettingsBytes.h"

namespace {

typedef std::vector<u8> Bytes;
typedef std::vector<u32> Values;
typedef CLayoutModel::KNIFESTRUCT Knife;

using klftest::Be32;
using klftest::BeF;

// The i-th knife over the three lists, found through its id.
Knife* NthKnife(CLayoutModel& m, u32 i) {
  u32 v = m.vKnifeCount, h = m.hKnifeCount;
  return m.GetKnife(i < v ? i : i < v + h ? CLayoutModel::kHorizontalIdBase + i - v : CLayoutModel::kExtraIdBase + i - v - h);
}

// Up to 6 x 6 cells, knives of every shape and flag, extra knives joining
// random knots. Knife positions and offsets reach past what a reader keeps.
void RandomLayout(std::mt19937& rng, CLayoutModel& m, u32 extras) {
  ASSERT_EQ(m.spl_SplitEvenParts(static_cast<u16>(1 + rng() % 6), static_cast<u16>(1 + rng() % 6), 1, 1), 1);
  std::uniform_real_distribution<f32> unit(-0.2f, 1.2f), off(-4.0f, 4.0f);
  for (u32 i = 0; i < m.knotCount; ++i) m.knots[i] = {unit(rng) - 0.5f, off(rng), 0, 0};
  ASSERT_EQ(m.spl_InitAuxKnivesMem(extras), 1);
  for (; m.xKnifeCount < extras; ++m.xKnifeCount) {
    m.xKnives[m.xKnifeCount].knotA = rng() % m.knotCount;
    m.xKnives[m.xKnifeCount].knotB = rng() % m.knotCount;
  }
  for (u32 i = 0; i < m.TotalKnifeCount(); ++i) {
    Knife& k = *NthKnife(m, i);
    u32 f = static_cast<u32>(rng());
    k.flipH = f & 1;
    k.flipU = f >> 1 & 1;
    k.hidden = (f >> 2 & 3) == 0;
    k.selected = (f >> 4 & 3) == 0;
    k.knobSize = 1 + (f >> 8) % 100;
    k.thickness = 1 + (f >> 16) % 100;
    k.pointCount = rng() % 9 == 0 ? 0 : 1 + rng() % 64;
    for (u32 j = 0; j < k.pointCount; ++j) {
      k.pointU[j] = unit(rng);
      k.pointH[j] = off(rng);
      k.pointS[j] = unit(rng);
    }
    CLayoutModel::UpdateCentre(k);
  }
  m.thinKnives = rng() & 1;
  m.antiAliasing = rng() & 1;
}

// The knife as a reader keeps it.
Knife Clamped(Knife k) {
  for (u32 j = 0; j < k.pointCount; ++j) {
    k.pointU[j] = std::min(1.0f, std::max(0.0f, k.pointU[j]));
    k.pointH[j] = std::min(3.0f, std::max(-3.0f, k.pointH[j]));
    k.pointS[j] = std::min(2.0f, std::max(-2.0f, k.pointS[j]));
  }
  CLayoutModel::UpdateCentre(k);
  return k;
}

Bytes WriteBlock(const CLayoutModel& m, u8 puzzle = 0, const Bytes& records = Bytes()) {
  CSettingsBlock codec;
  CKLF_Mem block;
  u32 len = 0, n = static_cast<u32>(records.size() / 92);
  EXPECT_EQ(codec.Write(m, puzzle, records.data(), n, &block, len), 1);
  EXPECT_LE(len, CSettingsBlock::UpperBound(m, puzzle, n));
  return Bytes(block.GetPtr(), block.GetPtr() + len);
}

// {result, used defaults, record count}; rec gets the first record.
Values ReadBlock(CLayoutModel& m, const Bytes& b, const u8** rec = nullptr) {
  CSettingsBlock codec;
  const u8* first = b.data();
  u32 count = 99;
  u8 usedDefaults = 9;
  u8 ok = codec.Read(m, b.empty() ? nullptr : b.data(), static_cast<u32>(b.size()), &first, count, &usedDefaults);
  if (rec) *rec = first;
  EXPECT_EQ(first == nullptr, count == 0);
  return Values({ok, usedDefaults, count});
}

// A Layout-mode block of H x V lines and straight knives, but for the
// first vertical knife, which has firstPoints points.
Bytes StraightBlock(u32 H, u32 V, u32 firstPoints = 0) {
  klftest::BlockDesc d;
  d.H = H;
  d.V = V;
  d.vary = [firstPoints](u32 list, u32 i, klftest::KnifeDesc& k) {
    if (list == 0 && i == 0) k.points.assign(firstPoints, {0.0f, 0.0f, 0.0f});
  };
  return klftest::Block(d);
}

void Fill(CKLF_Mem& mem, const Bytes& b) {
  ASSERT_NE(mem.alloc(static_cast<u32>(b.size())), nullptr);
  std::copy(b.begin(), b.end(), mem.GetPtr());
}

}  // namespace

TEST(SettingsBlock, HandCheckedLayoutsAndDocuments) {
  CLayoutModel m, back;
  ASSERT_EQ(m.spl_SplitEvenParts(1, 1, 1, 1), 1);
  Bytes expect(60, 0);
  expect[13] = 4;               // four knots
  expect[58] = expect[59] = 1;  // thin knives, anti-aliasing
  EXPECT_EQ(WriteBlock(m), expect);

  // One vertical line: a knife of five points takes 65 bytes, an extra
  // knife 73.
  ASSERT_EQ(m.spl_SplitEvenParts(2, 1, 1, 1), 1);
  CLayoutModel::settings_SetDefaultKnife(&m.vKnives[0]);
  m.vKnives[0].flipU = m.vKnives[0].selected = 1;
  m.vKnives[0].knobSize = 0x150;  // only the low byte is stored
  m.knots[1].dy = 1.0f;
  ASSERT_EQ(m.spl_InitAuxKnivesMem(1), 1);
  CLayoutModel::settings_SetDefaultKnife(&m.xKnives[0]);
  m.xKnives[0].knotB = 5;
  m.xKnifeCount = 1;
  Bytes b = WriteBlock(m);
  ASSERT_EQ(b.size(), 60u + 4 + 8 * 2 + 65 + 73);
  EXPECT_EQ(b[9], 1);  // the extra count in the head
  EXPECT_EQ(Bytes(b.begin() + 26, b.begin() + 34), Bytes({0, 0, 0, 0, 0x3F, 0x80, 0, 0}));  // knot 1
  const size_t at = 10 + 4 + 4 + 48 + 4;  // head of the first knife
  EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 5), Bytes({0x0A, 0, 5, 0x50, 3}));
  EXPECT_EQ(klPlatformMacToFLOAT(&b[at + 5 + 20 + 8]), -0.297f);  // third offset
  EXPECT_EQ(Bytes(b.end() - 10, b.end()), Bytes({0, 0, 0, 0, 0, 0, 0, 5, 1, 1}));

  // A document is the magic and the block; an unknown magic or 9 bytes
  // fail with error 49 and leave the layout alone.
  CSettingsBlock codec;
  CKLF_Mem doc;
  u32 len = 0, count = 9;
  const u8* rec;
  Bytes records(92 * 2, 0x5A), body = WriteBlock(m, 1, records);
  ASSERT_EQ(codec.WriteDocument(m, 1, records.data(), 2, &doc, len), 1);
  Bytes d(doc.GetPtr(), doc.GetPtr() + len);
  EXPECT_EQ(Bytes(d.begin(), d.begin() + 8), Bytes({'K', 'L', 'T', 'S', '3', '0', 1, 1}));  // Puzzle mode, twice
  EXPECT_EQ(Bytes(d.begin() + 6, d.end()), body);
  ASSERT_EQ(codec.ReadDocument(back, d.data(), len, &rec, count) * 10 + count, 12u);
  d[5] = '1';
  EXPECT_EQ(codec.ReadDocument(back, d.data(), len, &rec, count) * 100 + codec.GetError(), klErrNotFormat);
  EXPECT_EQ(codec.ReadDocument(back, doc.GetPtr(), 9, &rec, count) * 100 + codec.GetError(), klErrNotFormat);
  EXPECT_EQ(WriteBlock(back, 1, records), body);
}

TEST(SettingsBlock, RoundTripsThroughTheModelAndTheEngine) {
  // The model reads knife values back clamped, line positions and knot
  // offsets as they were. The writer is checked byte by byte above, so
  // equal blocks mean equal layouts; the knob pivots are compared apart.
  // The layout the engine reads from a block is the hand-over test's
  // reference.
  std::mt19937 rng(1234);
  for (int round = 0; round < 16; ++round) {
    CLayoutModel a, b;
    RandomLayout(rng, a, round % 4 == 0 ? 0 : rng() % 20);
    a.verticalLines[0] = 1.5f;
    u32 puzzle = round & 1, n = puzzle ? rng() % 6 : 0;
    Bytes records(92 * n);
    for (u8& x : records) x = static_cast<u8>(rng());
    Bytes block = WriteBlock(a, static_cast<u8>(puzzle), records);
    // Twice over knives that carry drawn curves, the second time over the
    // same grid, which is not laid again: the leak checker sees a curve
    // left behind.
    b.SetImageSize(640, 480);
    ASSERT_EQ(b.settings_LoadDefaults(), 1);
    const u8* rec;
    for (int pass = 0; pass < 2; ++pass) {
      for (u32 i = 0; i < b.TotalKnifeCount(); ++i) NthKnife(b, i)->polyline = new CKLF_Mem(64);
      ASSERT_EQ(ReadBlock(b, block, &rec), Values({1, 0, n}));
    }
    EXPECT_EQ(rec, n ? block.data() + block.size() - records.size() : nullptr);
    EXPECT_TRUE(std::equal(records.begin(), records.end(), block.end() - records.size()));
    bool any = false;
    for (u32 i = 0; i < a.TotalKnifeCount(); ++i) {
      *NthKnife(a, i) = Clamped(*NthKnife(a, i));
      EXPECT_EQ(NthKnife(a, i)->centre, NthKnife(b, i)->centre) << i;
      any = any || NthKnife(b, i)->selected;
    }
    EXPECT_EQ(WriteBlock(a), WriteBlock(b));
    EXPECT_EQ(b.anyKnifeSelected, any ? 1 : 0);  // selection state refreshed

    // The engine's reader takes the same block: its mode and piece records.
    CKLF_Mem mem;
    Fill(mem, block);
    CTessarette e;
    u8 layout = 9;
    u32 count = 99;
    ASSERT_EQ(e.InitFromLastSettingsBinary(&mem, layout, count, rec), 1);
    EXPECT_EQ(Values({layout, count, e.m_xKnifeCount}), Values({1 - puzzle, n, a.xKnifeCount}));
  }
}

TEST(SettingsBlock, OlderBlockSetsOneKnobAndThicknessForAll) {
  // H = 1, V = 1: 9 knots, 2 + 2 knives with 3-byte heads, then thickness,
  // knob size and anti-aliasing for all.
  Bytes b = {0xAA, 0xBB, 0, 1, 0, 1};
  for (f32 f : {0.4f, 0.6f}) BeF(b, f);
  Be32(b, 9);
  for (int i = 0; i < 18; ++i) BeF(b, i == 8 ? 0.25f : 0.0f);  // knot 4, dx
  b.insert(b.end(), {0, 0, 0, 2, 0x05, 0, 2});                  // flipH | hidden, two points
  for (f32 f : {0.3f, 0.7f, 0.1f, -0.1f, 0.5f, 0.5f}) BeF(b, f);
  b.insert(b.end(), {0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0});
  b.insert(b.end(), {0, 0, 0, 60, 1});  // thickness 0 (thin knives), knob size 60
  Bytes doc = {'K', 'L', 'T', 'S', '2', '0'};
  doc.insert(doc.end(), b.begin(), b.end());

  CLayoutModel m;
  ASSERT_EQ(m.spl_SplitEvenParts(3, 3, 1, 1), 1);
  ASSERT_EQ(m.spl_InitAuxKnivesMem(2), 1);
  m.xKnifeCount = 2;
  m.thinKnives = m.antiAliasing = 0;
  CSettingsBlock codec;
  const u8* rec = doc.data();
  u32 count = 5;
  u8 usedDefaults = 9;
  ASSERT_EQ(codec.ReadDocument(m, doc.data(), static_cast<u32>(doc.size()), &rec, count, &usedDefaults), 1);
  EXPECT_EQ(usedDefaults + count + m.xKnifeCount, 0u);
  EXPECT_EQ(rec, nullptr);
  EXPECT_EQ(std::vector<f32>({m.horizontalLines[0], m.verticalLines[0], m.knots[4].dx, m.vKnives[0].pointH[1]}),
            std::vector<f32>({0.4f, 0.6f, 0.25f, -0.1f}));
  EXPECT_EQ(Values({m.thinKnives, m.antiAliasing, m.vKnives[0].flipH, m.vKnives[0].hidden, m.vKnives[0].pointCount,
                    m.vKnives[1].knobSize, m.hKnives[1].knobSize, m.hKnives[1].thickness}),
            Values({1, 1, 1, 1, 2, 60, 60, 0}));
  // A thickness other than 0 leaves thin mode off; a short tail refuses.
  b[b.size() - 4] = 4;
  ASSERT_EQ(codec.ReadOld(m, b.data(), static_cast<u32>(b.size()), &usedDefaults), 1);
  EXPECT_EQ(Values({usedDefaults, m.thinKnives, m.vKnives[1].thickness}), Values({0, 0, 4}));
  EXPECT_EQ(CSettingsBlock::IsValid(b.data(), static_cast<u32>(b.size() - 1), 1), 0);
}

TEST(SettingsBlock, MalformedBlocksFallBackToDefaults) {
  // A 3 x 3 grid, default vertical knives, one extra knife, three records.
  CLayoutModel a;
  ASSERT_EQ(a.spl_SplitEvenParts(3, 3, 1, 1), 1);
  ASSERT_EQ(a.spl_InitAuxKnivesMem(1), 1);
  a.xKnives[0].knotB = 15;
  a.xKnifeCount = 1;
  for (u32 i = 0; i < a.vKnifeCount; ++i) CLayoutModel::settings_SetDefaultKnife(&a.vKnives[i]);
  const Bytes records(92 * 3, 7), good = WriteBlock(a, 1, records);
  const u32 knots = 10 + 4 * 4, vList = knots + 4 + 8 * 16, knife = vList + 4;
  const u32 pieces = static_cast<u32>(good.size() - records.size() - 4), ids = pieces - 2 - 8;

  // 100 lines a direction and 64 points a knife are taken; more, although
  // every byte of them is there, would run past the model's arrays.
  const std::pair<Bytes, u32> taken[] = {{StraightBlock(100, 3), 100}, {StraightBlock(0, 1, 64), 64}};
  for (const auto& t : taken) {
    CLayoutModel m;
    EXPECT_EQ(ReadBlock(m, t.first), Values({1, 0, 0}));
    EXPECT_EQ(m.horizontalLineCount + m.vKnives[0].pointCount, t.second);
  }
  std::vector<std::pair<Bytes, const char*>> cases = {{StraightBlock(101, 3), "101 horizontal lines"},
                                                       {StraightBlock(2, 101), "101 vertical lines"},
                                                       {StraightBlock(0, 1, 65), "65 points present"}};
  const struct {
    u32 at, width, value;
    const char* what;
  } edits[] = {{4, 1, 0xFF, "huge vertical line count"},   {6, 4, 0xFFFFFFFF, "huge extra count in the head"},
               {knots, 4, 17, "knot count"},               {vList, 4, 7, "vertical knife count"},
               {knife + 1, 2, 65, "65 points"},            {knife + 1, 2, 0xFFFF, "65535 points"},
               {ids, 4, 16, "knot id A out of range"},     {ids + 4, 4, 0xFFFFFFFF, "knot id B out of range"},
               {10, 4, 0x7FC00000, "NaN line position"},   {14, 4, 0x43000000, "line 128 images away"},
               {knife + 9, 4, 0x7FC00000, "NaN position"}, {knife + 49, 4, 0xFF800000, "infinite smoothness"},
               {knots + 48, 4, 0x7F800000, "infinite knot offset"}};
  for (const auto& e : edits) {
    Bytes b = good;
    for (u32 i = 0; i < e.width; ++i) b[e.at + i] = static_cast<u8>(e.value >> 8 * (e.width - 1 - i));
    cases.push_back({b, e.what});
  }
  for (const auto& c : cases) {
    CLayoutModel m;
    m.SetImageSize(800, 400);  // defaults: two rows, four columns
    EXPECT_EQ(ReadBlock(m, c.first), Values({1, 1, 0})) << c.second;
    EXPECT_EQ(Values({m.horizontalLineCount, m.verticalLineCount, m.xKnifeCount}), Values({1, 3, 0})) << c.second;
    EXPECT_EQ(CSettingsBlock::IsValid(c.first.data(), static_cast<u32>(c.first.size()), 0), 0) << c.second;
  }

  // Every cut before the piece section refuses the block; a cut inside it,
  // or a piece count whose bytes overflow 32 bits, drops only the pieces.
  Bytes huge = good;
  const u8 n92[4] = {0x02, 0xC8, 0x59, 0x0C};  // x 92 > 2^32
  std::copy(n92, n92 + 4, huge.begin() + pieces);
  for (size_t n = 0; n <= good.size(); ++n) {
    CLayoutModel m;
    EXPECT_EQ(ReadBlock(m, n < good.size() ? Bytes(good.begin(), good.begin() + n) : huge), Values({1, n < pieces, 0}))
        << n;
    EXPECT_EQ(m.xKnifeCount, n < pieces ? 0u : 1u) << n;
  }
}
