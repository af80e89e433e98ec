#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "RandomLayout.h"

namespace {

typedef std::vector<u8> Bytes;
typedef CLayoutModel::KNIFESTRUCT Knife;

void Be16(Bytes& b, u32 v) {
  b.push_back(static_cast<u8>(v >> 8));
  b.push_back(static_cast<u8>(v));
}
void Be32(Bytes& b, u32 v) {
  Be16(b, v >> 16);
  Be16(b, v & 0xFFFF);
}
void BeF(Bytes& b, f32 f) {
  u8 x[4];
  klPlatformFLOATtoMac(f, x);
  b.insert(b.end(), x, x + 4);
}
void PutBe32(Bytes& b, size_t at, u32 v) {
  b[at] = static_cast<u8>(v >> 24);
  b[at + 1] = static_cast<u8>(v >> 16);
  b[at + 2] = static_cast<u8>(v >> 8);
  b[at + 3] = static_cast<u8>(v);
}

// Knife values inside the ranges a layout keeps.
void RandomLayout(std::mt19937& rng, CLayoutModel& m, u32 extras) {
  layouttest::RandomLayout(rng, m, 7, extras, layouttest::KnifeRange{0.0f, 1.0f, 0.5f});
}

Bytes WriteBlock(const CLayoutModel& m, u8 puzzle = 0, const Bytes& records = Bytes()) {
  CSettingsBlock codec;
  CKLF_Mem block;
  u32 len = 0;
  EXPECT_EQ(codec.Write(m, puzzle, records.empty() ? nullptr : records.data(),
                        static_cast<u32>(records.size() / 92), &block, len),
            1);
  EXPECT_LE(len, CSettingsBlock::UpperBound(m, puzzle, static_cast<u32>(records.size() / 92)));
  return Bytes(block.GetPtr(), block.GetPtr() + len);
}

void ExpectKnifeEqual(const Knife& a, const Knife& b) {
  EXPECT_EQ(a.flipH, b.flipH);
  EXPECT_EQ(a.flipU, b.flipU);
  EXPECT_EQ(a.hidden, b.hidden);
  EXPECT_EQ(a.selected, b.selected);
  EXPECT_EQ(a.knobSize, b.knobSize);
  EXPECT_EQ(a.thickness, b.thickness);
  ASSERT_EQ(a.pointCount, b.pointCount);
  for (u32 j = 0; j < a.pointCount; ++j) {
    EXPECT_EQ(a.pointU[j], b.pointU[j]);
    EXPECT_EQ(a.pointH[j], b.pointH[j]);
    EXPECT_EQ(a.pointS[j], b.pointS[j]);
  }
  EXPECT_EQ(a.centre, b.centre);
}

void ExpectLayoutEqual(const CLayoutModel& a, const CLayoutModel& b) {
  ASSERT_EQ(a.verticalLineCount, b.verticalLineCount);
  ASSERT_EQ(a.horizontalLineCount, b.horizontalLineCount);
  for (u32 i = 0; i < a.verticalLineCount; ++i) EXPECT_EQ(a.verticalLines[i], b.verticalLines[i]);
  for (u32 i = 0; i < a.horizontalLineCount; ++i) EXPECT_EQ(a.horizontalLines[i], b.horizontalLines[i]);
  ASSERT_EQ(a.knotCount, b.knotCount);
  for (u32 i = 0; i < a.knotCount; ++i) {
    EXPECT_EQ(a.knots[i].dx, b.knots[i].dx);
    EXPECT_EQ(a.knots[i].dy, b.knots[i].dy);
  }
  ASSERT_EQ(a.vKnifeCount, b.vKnifeCount);
  ASSERT_EQ(a.hKnifeCount, b.hKnifeCount);
  ASSERT_EQ(a.xKnifeCount, b.xKnifeCount);
  for (u32 i = 0; i < a.vKnifeCount; ++i) ExpectKnifeEqual(a.vKnives[i], b.vKnives[i]);
  for (u32 i = 0; i < a.hKnifeCount; ++i) ExpectKnifeEqual(a.hKnives[i], b.hKnives[i]);
  for (u32 i = 0; i < a.xKnifeCount; ++i) {
    ExpectKnifeEqual(a.xKnives[i], b.xKnives[i]);
    EXPECT_EQ(a.xKnives[i].knotA, b.xKnives[i].knotA);
    EXPECT_EQ(a.xKnives[i].knotB, b.xKnives[i].knotB);
  }
  EXPECT_EQ(a.thinKnives, b.thinKnives);
  EXPECT_EQ(a.antiAliasing, b.antiAliasing);
}

// Reads a block into a model that starts with a different layout.
u8 ReadBlock(CLayoutModel& m, const Bytes& b, const u8** rec, u32& count, u8& usedDefaults) {
  CSettingsBlock codec;
  return codec.Read(m, b.empty() ? nullptr : b.data(), static_cast<u32>(b.size()), rec, count, &usedDefaults);
}

// A well-formed Layout-mode block of straight knives for any counts.
Bytes StraightBlock(u32 H, u32 V) {
  Bytes b = {0, 0};
  Be16(b, H);
  Be16(b, V);
  Be32(b, 0);
  for (u32 i = 0; i < H; ++i) BeF(b, (i + 1.0f) / (H + 1.0f));
  for (u32 i = 0; i < V; ++i) BeF(b, (i + 1.0f) / (V + 1.0f));
  u32 K = (H + 2) * (V + 2);
  Be32(b, K);
  b.resize(b.size() + 8 * K, 0);
  const u32 lists[2] = {V * (H + 1), (V + 1) * H};
  for (u32 n : lists) {
    Be32(b, n);
    for (u32 i = 0; i < n; ++i) {
      b.push_back(0);
      Be16(b, 0);
      b.push_back(100);
      b.push_back(3);
    }
  }
  Be32(b, 0);
  b.push_back(1);
  b.push_back(1);
  return b;
}

}  // namespace

TEST(SettingsBlock, BigEndianFloats) {
  u8 x[4];
  klPlatformFLOATtoMac(1.0f, x);
  EXPECT_EQ(x[0], 0x3F);
  EXPECT_EQ(x[1], 0x80);
  EXPECT_EQ(x[2], 0x00);
  EXPECT_EQ(x[3], 0x00);
  klPlatformFLOATtoMac(-0.165f, x);
  EXPECT_EQ(klPlatformMacToFLOAT(x), -0.165f);
}

TEST(SettingsBlock, HandCheckedLayouts) {
  CLayoutModel m;
  ASSERT_EQ(m.spl_SplitEvenParts(1, 1, 1, 1), 1);
  Bytes b = WriteBlock(m);
  Bytes expect = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4};
  expect.resize(14 + 32, 0);
  for (int i = 0; i < 12; ++i) expect.push_back(0);  // three empty knife lists
  expect.push_back(1);                               // thin knives
  expect.push_back(1);                               // anti-aliasing
  ASSERT_EQ(b.size(), 60u);
  EXPECT_EQ(b, expect);

  // One vertical line: two knives of five points, 65 bytes each.
  ASSERT_EQ(m.spl_SplitEvenParts(2, 1, 1, 1), 1);
  CLayoutModel::settings_SetDefaultKnife(&m.vKnives[0]);
  m.vKnives[0].flipU = 1;
  m.vKnives[0].selected = 1;
  m.vKnives[0].knobSize = 0x150;  // only the low byte is stored
  Bytes one = WriteBlock(m);
  EXPECT_EQ(one.size(), 60u + 4 + 8 * 2 + 65);
  // Head of the knife record: after 10 + 4 + 4 + 8 x 6 + 4 bytes.
  size_t at = 10 + 4 + 4 + 48 + 4;
  EXPECT_EQ(one[at], 0x0A);  // flipU | selected
  EXPECT_EQ(one[at + 1], 0);
  EXPECT_EQ(one[at + 2], 5);
  EXPECT_EQ(one[at + 3], 0x50);
  EXPECT_EQ(one[at + 4], 3);
  EXPECT_EQ(klPlatformMacToFLOAT(&one[at + 5 + 20 + 8]), -0.297f);  // third offset

  // An extra knife of five points takes 73 bytes.
  ASSERT_EQ(m.spl_InitAuxKnivesMem(1), 1);
  CLayoutModel::settings_SetDefaultKnife(&m.xKnives[0]);
  m.xKnives[0].knotA = 0;
  m.xKnives[0].knotB = 5;
  m.xKnifeCount = 1;
  Bytes two = WriteBlock(m);
  EXPECT_EQ(two.size(), one.size() + 73);
  EXPECT_EQ(two[9], 1);  // E in the head
}

TEST(SettingsBlock, RoundTripsInBothModes) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 30; ++round) {
    CLayoutModel a;
    RandomLayout(rng, a, round % 4 == 0 ? 0 : rng() % 20);
    u8 puzzle = round & 1;
    Bytes records;
    if (puzzle) {
      u32 n = rng() % 6;
      for (u32 i = 0; i < 92 * n; ++i) records.push_back(static_cast<u8>(rng()));
    }
    Bytes block = WriteBlock(a, puzzle, records);
    EXPECT_EQ(block[0], puzzle);
    EXPECT_EQ(block[1], puzzle);

    CLayoutModel b;
    b.SetImageSize(640, 480);
    ASSERT_EQ(b.settings_LoadDefaults(), 1);
    const u8* rec = nullptr;
    u32 count = 99;
    u8 usedDefaults = 9;
    ASSERT_EQ(ReadBlock(b, block, &rec, count, usedDefaults), 1);
    EXPECT_EQ(usedDefaults, 0);
    ExpectLayoutEqual(a, b);
    ASSERT_EQ(count, records.size() / 92);
    if (count) {
      EXPECT_EQ(rec, block.data() + block.size() - records.size());
      EXPECT_EQ(std::memcmp(rec, records.data(), records.size()), 0);
    } else {
      EXPECT_EQ(rec, nullptr);
    }
    // Writing again gives the same bytes.
    EXPECT_EQ(WriteBlock(b, puzzle, records), block);
    // Selection state is refreshed from the flags read.
    bool any = false;
    for (u32 i = 0; i < b.TotalKnifeCount(); ++i) {
      u32 id = i < b.vKnifeCount ? i
               : i < b.vKnifeCount + b.hKnifeCount ? CLayoutModel::kHorizontalIdBase + i - b.vKnifeCount
                                                     : CLayoutModel::kExtraIdBase + i - b.vKnifeCount - b.hKnifeCount;
      any = any || b.GetKnife(id)->selected;
    }
    EXPECT_EQ(b.anyKnifeSelected, any ? 1 : 0);
  }
}

TEST(SettingsBlock, ReadingFreesTheCurvesOfTheKnivesItReplaces) {
  // Every knife, extra ones included, carries a drawn curve; a read over
  // the same grid (which is not laid again) and over another grid must free
  // them all (the leak checker fails this test otherwise).
  std::mt19937 rng(8);
  CLayoutModel a;
  RandomLayout(rng, a, 4);
  const Bytes same = WriteBlock(a);
  CLayoutModel other;
  RandomLayout(rng, other, 2);
  ASSERT_NE(other.knotCount, a.knotCount);
  const Bytes different = WriteBlock(other);
  for (const Bytes* block : {&same, &different}) {
    for (u32 i = 0; i < a.TotalKnifeCount(); ++i) {
      u32 id = i < a.vKnifeCount ? i
               : i < a.vKnifeCount + a.hKnifeCount ? CLayoutModel::kHorizontalIdBase + i - a.vKnifeCount
                                                     : CLayoutModel::kExtraIdBase + i - a.vKnifeCount - a.hKnifeCount;
      Knife* k = a.GetKnife(id);
      ASSERT_NE(k, nullptr);
      k->polyline = new CKLF_Mem(64);
      k->polylineCount = 4;
    }
    const u8* rec;
    u32 count;
    u8 usedDefaults;
    ASSERT_EQ(ReadBlock(a, *block, &rec, count, usedDefaults), 1);
    EXPECT_EQ(usedDefaults, 0);
    EXPECT_EQ(WriteBlock(a), *block);
    for (u32 i = 0; i < a.vKnifeCount; ++i) EXPECT_EQ(a.vKnives[i].polyline, nullptr);
    for (u32 i = 0; i < a.xKnifeCount; ++i) EXPECT_EQ(a.xKnives[i].polylineCount, 0u);
  }
}

TEST(SettingsBlock, KnifeValuesAreClampedLinesAndKnotsAreNot) {
  CLayoutModel a;
  ASSERT_EQ(a.spl_SplitEvenParts(2, 2, 1, 1), 1);
  a.verticalLines[0] = 1.5f;
  a.knots[4].dx = -2.5f;
  Knife& k = a.vKnives[0];
  k.pointCount = 3;
  k.pointU[0] = -0.5f;
  k.pointU[1] = 0.5f;
  k.pointU[2] = 1.75f;
  k.pointH[0] = 4.0f;
  k.pointH[1] = -3.5f;
  k.pointS[2] = -2.5f;
  Bytes block = WriteBlock(a);
  CLayoutModel b;
  const u8* rec;
  u32 count;
  u8 usedDefaults;
  ASSERT_EQ(ReadBlock(b, block, &rec, count, usedDefaults), 1);
  ASSERT_EQ(usedDefaults, 0);
  EXPECT_EQ(b.verticalLines[0], 1.5f);
  EXPECT_EQ(b.knots[4].dx, -2.5f);
  EXPECT_EQ(b.vKnives[0].pointU[0], 0.0f);
  EXPECT_EQ(b.vKnives[0].pointU[2], 1.0f);
  EXPECT_EQ(b.vKnives[0].pointH[0], 3.0f);
  EXPECT_EQ(b.vKnives[0].pointH[1], -3.0f);
  EXPECT_EQ(b.vKnives[0].pointS[2], -2.0f);
  EXPECT_FLOAT_EQ(b.vKnives[0].centre, 0.5f);  // mean of the clamped positions
}

TEST(SettingsBlock, OlderBlockSetsOneKnobAndThicknessForAll) {
  // H = 1, V = 1 with hand-made bytes: 9 knots, 2 + 2 knives.
  Bytes b = {0xAA, 0xBB};
  Be16(b, 1);
  Be16(b, 1);
  BeF(b, 0.4f);  // horizontal
  BeF(b, 0.6f);  // vertical
  Be32(b, 9);
  for (int i = 0; i < 9; ++i) {
    BeF(b, i == 4 ? 0.25f : 0.0f);
    BeF(b, 0.0f);
  }
  Be32(b, 2);
  b.push_back(0x05);  // flipH | hidden
  Be16(b, 2);
  BeF(b, 0.3f);
  BeF(b, 0.7f);
  BeF(b, 0.1f);
  BeF(b, -0.1f);
  BeF(b, 0.5f);
  BeF(b, 0.5f);
  b.push_back(0);
  Be16(b, 0);
  Be32(b, 2);
  for (int i = 0; i < 2; ++i) {
    b.push_back(0);
    Be16(b, 0);
  }
  Be16(b, 0);   // thickness 0: thin knives
  Be16(b, 60);  // knob size
  b.push_back(1);

  Bytes doc(CSettingsBlock::kOldMagic, CSettingsBlock::kOldMagic + 6);
  doc.insert(doc.end(), b.begin(), b.end());

  CLayoutModel m;
  ASSERT_EQ(m.spl_SplitEvenParts(3, 3, 1, 1), 1);
  ASSERT_EQ(m.spl_InitAuxKnivesMem(2), 1);
  m.xKnifeCount = 2;
  m.thinKnives = 0;
  m.antiAliasing = 0;
  CSettingsBlock codec;
  const u8* rec = reinterpret_cast<const u8*>(1);
  u32 count = 5;
  u8 usedDefaults = 9;
  ASSERT_EQ(codec.ReadDocument(m, doc.data(), static_cast<u32>(doc.size()), &rec, count, &usedDefaults), 1);
  EXPECT_EQ(usedDefaults, 0);
  EXPECT_EQ(rec, nullptr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(m.horizontalLines[0], 0.4f);
  EXPECT_EQ(m.verticalLines[0], 0.6f);
  EXPECT_EQ(m.knots[4].dx, 0.25f);
  EXPECT_EQ(m.xKnifeCount, 0u);
  EXPECT_EQ(m.thinKnives, 1);
  EXPECT_EQ(m.antiAliasing, 1);
  EXPECT_EQ(m.vKnives[0].flipH, 1);
  EXPECT_EQ(m.vKnives[0].hidden, 1);
  EXPECT_EQ(m.vKnives[0].pointCount, 2u);
  EXPECT_EQ(m.vKnives[0].pointH[1], -0.1f);
  for (u32 i = 0; i < 2; ++i) {
    EXPECT_EQ(m.vKnives[i].knobSize, 60u);
    EXPECT_EQ(m.hKnives[i].knobSize, 60u);
    EXPECT_EQ(m.hKnives[i].thickness, 0u);
  }

  // A thickness other than 0 leaves thin mode off; a short tail refuses.
  b[b.size() - 4] = 4;  // low byte of the thickness
  ASSERT_EQ(codec.ReadOld(m, b.data(), static_cast<u32>(b.size()), &usedDefaults), 1);
  EXPECT_EQ(usedDefaults, 0);
  EXPECT_EQ(m.thinKnives, 0);
  EXPECT_EQ(m.vKnives[1].thickness, 4u);
  EXPECT_EQ(CSettingsBlock::IsValid(b.data(), static_cast<u32>(b.size() - 1), 1), 0);
  EXPECT_EQ(CSettingsBlock::IsValid(b.data(), 5, 1), 0);
}

TEST(SettingsBlock, DocumentsAndUnknownMagic) {
  std::mt19937 rng(5);
  CLayoutModel a;
  RandomLayout(rng, a, 3);
  CSettingsBlock codec;
  CKLF_Mem doc;
  u32 len = 0;
  Bytes records(92 * 2, 0x5A);
  ASSERT_EQ(codec.WriteDocument(a, 1, records.data(), 2, &doc, len), 1);
  EXPECT_EQ(std::memcmp(doc.GetPtr(), "KLTS30", 6), 0);
  Bytes body = WriteBlock(a, 1, records);
  ASSERT_EQ(len, body.size() + 6);
  EXPECT_EQ(std::memcmp(doc.GetPtr() + 6, body.data(), body.size()), 0);

  CLayoutModel b;
  const u8* rec;
  u32 count;
  ASSERT_EQ(codec.ReadDocument(b, doc.GetPtr(), len, &rec, count), 1);
  ExpectLayoutEqual(a, b);
  EXPECT_EQ(count, 2u);

  // Unknown magic or too short: error 49, the layout untouched.
  Bytes bad(doc.GetPtr(), doc.GetPtr() + len);
  bad[5] = '1';
  CLayoutModel c;
  ASSERT_EQ(c.spl_SplitEvenParts(5, 5, 1, 1), 1);
  EXPECT_EQ(codec.ReadDocument(c, bad.data(), static_cast<u32>(bad.size()), &rec, count), 0);
  EXPECT_EQ(codec.GetError(), klErrNotFormat);
  EXPECT_EQ(c.verticalLineCount, 4);
  EXPECT_EQ(codec.ReadDocument(c, doc.GetPtr(), 9, &rec, count), 0);
  EXPECT_EQ(codec.GetError(), klErrNotFormat);
}

TEST(SettingsBlock, MalformedBlocksFallBackToDefaults) {
  std::mt19937 rng(99);
  CLayoutModel a;
  ASSERT_EQ(a.spl_SplitEvenParts(3, 3, 1, 1), 1);
  for (u32 i = 0; i < a.vKnifeCount; ++i) CLayoutModel::settings_SetDefaultKnife(&a.vKnives[i]);
  ASSERT_EQ(a.spl_InitAuxKnivesMem(1), 1);
  CLayoutModel::settings_SetDefaultKnife(&a.xKnives[0]);
  a.xKnives[0].knotA = 0;
  a.xKnives[0].knotB = 15;
  a.xKnifeCount = 1;
  Bytes records(92 * 3, 7);
  const Bytes good = WriteBlock(a, 1, records);

  // Offsets in the block of a 3 x 3 grid.
  const size_t knotCountAt = 10 + 4 * 4;
  const size_t vCountAt = knotCountAt + 4 + 8 * 16;
  const size_t firstKnife = vCountAt + 4;
  const size_t piecesAt = good.size() - records.size() - 4;

  auto expectRefused = [&](const Bytes& b, const char* what) {
    CLayoutModel m;
    m.SetImageSize(800, 400);
    const u8* rec = nullptr;
    u32 count = 0;
    u8 usedDefaults = 0;
    ASSERT_EQ(ReadBlock(m, b, &rec, count, usedDefaults), 1) << what;
    EXPECT_EQ(usedDefaults, 1) << what;
    EXPECT_EQ(count, 0u) << what;
    EXPECT_EQ(rec, nullptr) << what;
    // The default layout: two rows, four columns, default knobs.
    EXPECT_EQ(m.horizontalLineCount, 1) << what;
    EXPECT_EQ(m.verticalLineCount, 3) << what;
    EXPECT_EQ(m.xKnifeCount, 0u) << what;
    EXPECT_EQ(CSettingsBlock::IsValid(b.data(), static_cast<u32>(b.size()), 0), 0) << what;
  };

  // 100 lines a direction are taken; 101, although every byte of them is
  // there, would run past the grid's arrays.
  Bytes b = StraightBlock(100, 3);
  EXPECT_EQ(CSettingsBlock::IsValid(b.data(), static_cast<u32>(b.size()), 0), 1);
  {
    CLayoutModel m;
    const u8* rec;
    u32 count;
    u8 usedDefaults;
    ASSERT_EQ(ReadBlock(m, b, &rec, count, usedDefaults), 1);
    EXPECT_EQ(usedDefaults, 0);
    EXPECT_EQ(m.horizontalLineCount, 100);
    EXPECT_EQ(m.hKnifeCount, 400u);
  }
  expectRefused(StraightBlock(101, 3), "101 horizontal lines");
  expectRefused(StraightBlock(2, 101), "101 vertical lines");
  b = good;
  b[4] = 0xFF;  // huge vertical count
  expectRefused(b, "huge line count");
  b = good;
  PutBe32(b, 6, 0xFFFFFFFF);
  expectRefused(b, "huge extra count in the head");
  b = good;
  PutBe32(b, knotCountAt, 17);
  expectRefused(b, "knot count");
  b = good;
  PutBe32(b, vCountAt, 7);
  expectRefused(b, "vertical knife count");
  b = good;
  b[firstKnife + 1] = 0;
  b[firstKnife + 2] = 65;  // 65 points would overflow the knife's 64 slots
  expectRefused(b, "65 points");
  b = good;
  b[firstKnife + 1] = 0xFF;
  b[firstKnife + 2] = 0xFF;
  expectRefused(b, "65535 points");

  // A well-formed knife of 65 points (all its bytes present, the rest of the
  // block aligned) is refused too: the knife holds 64.
  {
    CLayoutModel w;
    ASSERT_EQ(w.spl_SplitEvenParts(2, 1, 1, 1), 1);
    w.vKnives[0].pointCount = 64;
    for (u32 j = 0; j < 64; ++j) w.vKnives[0].pointU[j] = j / 64.0f;
    Bytes b64 = WriteBlock(w);
    const size_t head = 10 + 4 + 4 + 8 * 6 + 4;
    ASSERT_EQ(b64[head + 2], 64);
    b64[head + 2] = 65;
    Bytes extra(4, 0);
    for (int arr = 2; arr >= 0; --arr)
      b64.insert(b64.begin() + static_cast<long>(head + 5 + 4 * 64 * (arr + 1)), extra.begin(), extra.end());
    expectRefused(b64, "65 points present");
  }

  // Knot ids of the extra knife: after its knife record.
  const size_t extraIds = piecesAt - 2 - 8;
  b = good;
  PutBe32(b, extraIds, 16);
  expectRefused(b, "knot id A out of range");
  b = good;
  PutBe32(b, extraIds + 4, 0xFFFFFFFF);
  expectRefused(b, "knot id B out of range");

  const f32 nan = std::numeric_limits<f32>::quiet_NaN();
  const f32 inf = std::numeric_limits<f32>::infinity();
  b = good;
  klPlatformFLOATtoMac(nan, &b[10]);
  expectRefused(b, "NaN line position");
  b = good;
  klPlatformFLOATtoMac(inf, &b[knotCountAt + 4 + 8 * 5 + 4]);
  expectRefused(b, "infinite knot offset");
  b = good;
  klPlatformFLOATtoMac(128.0f, &b[14]);  // knives many images long: a cut that never ends
  expectRefused(b, "line far outside the image");
  b = good;
  klPlatformFLOATtoMac(nan, &b[firstKnife + 5 + 4]);
  expectRefused(b, "NaN knife position");
  b = good;
  klPlatformFLOATtoMac(-inf, &b[firstKnife + 5 + 40 + 4]);
  expectRefused(b, "infinite smoothness");

  // Every cut before the piece section refuses the block; a cut inside the
  // piece section keeps the layout and drops the pieces.
  for (size_t n = 0; n < good.size(); ++n) {
    Bytes cut(good.begin(), good.begin() + static_cast<long>(n));
    CLayoutModel m;
    m.SetImageSize(800, 400);
    const u8* rec = nullptr;
    u32 count = 0;
    u8 usedDefaults = 0;
    ASSERT_EQ(ReadBlock(m, cut, &rec, count, usedDefaults), 1);
    EXPECT_EQ(usedDefaults, n < piecesAt ? 1 : 0) << n;
    EXPECT_EQ(count, 0u) << n;
    if (n >= piecesAt) {
      EXPECT_EQ(m.xKnifeCount, 1u) << n;
    }
  }

  // A piece count whose records would run past the block (and whose
  // product overflows 32 bits) drops the pieces only.
  b = good;
  PutBe32(b, piecesAt, 0x02C8590C);  // x 92 > 2^32
  CLayoutModel m;
  const u8* rec = nullptr;
  u32 count = 0;
  u8 usedDefaults = 0;
  ASSERT_EQ(ReadBlock(m, b, &rec, count, usedDefaults), 1);
  EXPECT_EQ(usedDefaults, 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(rec, nullptr);

  // Random damage never crashes and always gives a usable layout.
  for (int round = 0; round < 3000; ++round) {
    Bytes d = good;
    int edits = 1 + rng() % 4;
    for (int e = 0; e < edits; ++e) d[rng() % d.size()] = static_cast<u8>(rng());
    if (rng() % 4 == 0) d.resize(rng() % d.size());
    CLayoutModel x;
    x.SetImageSize(100, 100);
    ASSERT_EQ(ReadBlock(x, d, &rec, count, usedDefaults), 1);
    EXPECT_EQ(x.knotCount, static_cast<u32>(x.knotColumns) * x.knotRows);
    EXPECT_EQ(x.vKnifeCount, static_cast<u32>(x.verticalLineCount) * (x.horizontalLineCount + 1u));
    for (u32 i = 0; i < x.xKnifeCount; ++i) {
      EXPECT_LT(x.xKnives[i].knotA, x.knotCount);
      EXPECT_LT(x.xKnives[i].knotB, x.knotCount);
    }
    if (count) {
      EXPECT_LE(rec + 92ull * count, d.data() + d.size());
    }
  }
}
