#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"
#include "RandomLayout.h"

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;

// The engine must end up with the knife that the layout model hands over:
// effective points after flips and knob size, from the values as read back
// (clamped); hidden knives do not cut.
void ExpectEngineKnife(const Knife& modelKnife, const CTessarette::KNIFESTRUCT_RENDERER& e) {
  // The model's view of the knife after a read: clamped values.
  Knife k = modelKnife;
  for (u32 j = 0; j < k.pointCount; ++j) {
    k.pointU[j] = std::min(1.0f, std::max(0.0f, k.pointU[j]));
    k.pointH[j] = std::min(3.0f, std::max(-3.0f, k.pointH[j]));
    k.pointS[j] = std::min(2.0f, std::max(-2.0f, k.pointS[j]));
  }
  CLayoutModel::UpdateCentre(k);
  if (k.hidden) {
    EXPECT_EQ(e.count, -1);
    return;
  }
  ASSERT_EQ(e.count, static_cast<i32>(k.pointCount));
  EXPECT_EQ(e.thickness, k.thickness & 0xFF);
  f64 u[64], h[64], s[64];
  u32 n = CLayoutModel::GetEffectivePoints(k, u, h, s);
  for (u32 j = 0; j < n; ++j) {
    EXPECT_NEAR(e.position[j], u[j], 2e-6) << j;
    EXPECT_NEAR(e.offset[j], h[j], 2e-6) << j;
    EXPECT_EQ(e.smoothness[j], static_cast<f32>(s[j])) << j;
  }
}

}  // namespace

TEST(SettingsEngine, EngineReadsWhatTheLayoutWrites) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 25; ++round) {
    CLayoutModel m;
    // Knife values beyond the reader's clamps too.
    const u32 extras = rng() % 5;
    layouttest::RandomLayout(rng, m, 6, extras, layouttest::KnifeRange{-0.2f, 1.2f, 4.0f});

    CSettingsBlock codec;
    CKLF_Mem block;
    u32 len = 0;
    ASSERT_EQ(codec.Write(m, 0, nullptr, 0, &block, len), 1);
    ASSERT_EQ(block.Resize(len), 1);

    CTessarette e;
    u8 layout = 0;
    u32 count = 9;
    const u8* rec = nullptr;
    ASSERT_EQ(e.InitFromLastSettingsBinary(&block, layout, count, rec), 1);
    EXPECT_EQ(layout, 1);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(e.m_vCount, m.verticalLineCount);
    ASSERT_EQ(e.m_hCount, m.horizontalLineCount);
    for (u32 i = 0; i < m.verticalLineCount; ++i) EXPECT_EQ(e.m_vPos[i], m.verticalLines[i]);
    for (u32 i = 0; i < m.horizontalLineCount; ++i) EXPECT_EQ(e.m_hPos[i], m.horizontalLines[i]);
    ASSERT_EQ(e.m_knotCount, m.knotCount);
    for (u32 i = 0; i < m.knotCount; ++i) {
      EXPECT_EQ(e.m_knots[i].dx, m.knots[i].dx);
      EXPECT_EQ(e.m_knots[i].dy, m.knots[i].dy);
    }
    // Knot positions agree between the model and the engine.
    for (u32 i = 0; i < m.knotCount; ++i) {
      kltFPOS a = m.i_spl_ConvertKnot(i, 600.0, 400.0, kltFPOS{0.0, 0.0});
      kltFPOS b = e.i_ConvertKnot(i, 600, 400);
      EXPECT_NEAR(a.x, b.x, 1e-3) << i;
      EXPECT_NEAR(a.y, b.y, 1e-3) << i;
    }
    ASSERT_EQ(e.m_vKnifeCount, m.vKnifeCount);
    ASSERT_EQ(e.m_hKnifeCount, m.hKnifeCount);
    ASSERT_EQ(e.m_xKnifeCount, m.xKnifeCount);
    for (u32 i = 0; i < m.vKnifeCount; ++i) ExpectEngineKnife(m.vKnives[i], e.m_vKnives[i]);
    for (u32 i = 0; i < m.hKnifeCount; ++i) ExpectEngineKnife(m.hKnives[i], e.m_hKnives[i]);
    for (u32 i = 0; i < extras; ++i) {
      ExpectEngineKnife(m.xKnives[i], e.m_xKnives[i].knife);
      EXPECT_EQ(e.m_xKnives[i].firstKnot, m.xKnives[i].knotA);
      EXPECT_EQ(e.m_xKnives[i].secondKnot, m.xKnives[i].knotB);
    }
    EXPECT_EQ(e.m_thinKnife, m.thinKnives);
    EXPECT_EQ(e.m_antiAlias, m.antiAliasing);
  }
}

TEST(SettingsEngine, PieceRecordsRoundTripThroughTheEngineCodec) {
  // Cut a small image on the default layout, give some pieces effects,
  // store the block in Puzzle mode and read it back into a second engine.
  const i32 w = 120, h = 80;
  std::vector<u8> planesData(3 * static_cast<size_t>(w) * h);
  for (size_t i = 0; i < planesData.size(); ++i) planesData[i] = static_cast<u8>(i * 7);
  u8* planes[3] = {planesData.data(), planesData.data() + w * h, planesData.data() + 2 * w * h};

  CLayoutModel m;
  m.SetImageSize(w, h);
  ASSERT_EQ(m.settings_LoadDefaults(), 1);
  CSettingsBlock codec;
  CKLF_Mem block;
  u32 len = 0;
  ASSERT_EQ(codec.Write(m, 0, nullptr, 0, &block, len), 1);
  ASSERT_EQ(block.Resize(len), 1);

  CTessarette e;
  u8 layout;
  u32 count;
  const u8* rec;
  ASSERT_EQ(e.InitFromLastSettingsBinary(&block, layout, count, rec), 1);
  ASSERT_EQ(e.SplitCells(w, h, nullptr, 0, planes, w, 3, 0, 100, 0), 1);
  const u32 n = e.GetPieceCount();
  ASSERT_EQ(n, 6u);  // 3 columns x 2 rows
  for (u32 i = 0; i < n; i += 2) {
    CTessarette::SFX_ONEPIECE r;
    e.GetDefaultRecord(r);
    r.blur.enabled = 1;
    r.blur.radius = static_cast<u8>(2 + i);
    r.hsl.enabled = 1;
    r.hsl.hue = static_cast<i16>(-120 + 40 * static_cast<i32>(i));
    r.visible = i != 2;
    r.selected = 1;
    ASSERT_EQ(e.RecordToPiece(r, i, 1, 1), 1);
    ASSERT_EQ(e.RenderPiece(i), 1);
  }

  CKLF_Mem puzzle;
  ASSERT_EQ(codec.WritePuzzle(m, e, &puzzle, len), 1);
  ASSERT_EQ(puzzle.Resize(len), 1);
  // Head and 3 lines, 12 knots, 4 + 3 knives of 5 points, the flags, N.
  EXPECT_EQ(len, 10u + 12u + 4u + 96u + 4u + 4u * 65u + 4u + 3u * 65u + 4u + 2u + 4u + 92u * n);
  CTessarette e2;
  ASSERT_EQ(e2.InitFromLastSettingsBinary(&puzzle, layout, count, rec), 1);
  EXPECT_EQ(layout, 0);
  ASSERT_EQ(count, n);
  for (u32 i = 0; i < n; ++i) {
    const u8* bytes = rec + 92 * i;
    EXPECT_EQ(bytes[3], 0);
    EXPECT_EQ(bytes[75], 0);
    CTessarette::SFX_ONEPIECE got, want;
    ASSERT_EQ(CTessaretteRecordCodec::Decode(bytes, 92, got), 1);
    ASSERT_EQ(e.PieceToRecord(i, want), 1);
    u8 a[92] = {}, b[92] = {};
    CTessaretteRecordCodec::Encode(got, a);
    CTessaretteRecordCodec::Encode(want, b);
    EXPECT_EQ(std::memcmp(a, b, 92), 0) << i;
    EXPECT_EQ(got.blur.enabled, i % 2 == 0 ? 1 : 0);
    EXPECT_EQ(got.visible, i == 2 ? 0 : 1);
    EXPECT_EQ(got.column, e.GetPiece(i)->column);
    EXPECT_EQ(got.row, e.GetPiece(i)->row);
  }

  // The layout reader of the main window hands back the same records.
  CLayoutModel m2;
  const u8* rec2 = nullptr;
  u32 count2 = 0;
  ASSERT_EQ(codec.Read(m2, puzzle.GetPtr(), len, &rec2, count2), 1);
  EXPECT_EQ(count2, n);
  EXPECT_EQ(rec2, rec);
}
