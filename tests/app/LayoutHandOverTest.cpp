#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;
typedef std::vector<f32> Floats;

// Every piece's rectangle, cell and mask bytes in one list.
std::vector<i32> Pieces(const CTessarette& e) {
  std::vector<i32> out;
  for (u32 i = 0; i < e.GetPieceCount(); ++i) {
    const CTessarette::SPLITEDCELL* c = e.GetPiece(i);
    out.insert(out.end(), {c->rect.left, c->rect.top, c->rect.right, c->rect.bottom, static_cast<i32>(c->column),
                           static_cast<i32>(c->row)});
    out.insert(out.end(), c->maskBlock->GetPtr(), c->maskBlock->GetPtr() + c->maskBlock->GetSize());
  }
  return out;
}

std::vector<i32> Cut(CTessarette& e, i32 w, i32 h) {
  std::vector<u8> plane(static_cast<size_t>(w) * h, 128);
  u8* planes[1] = {plane.data()};
  EXPECT_EQ(e.SplitCells(w, h, nullptr, 0, planes, static_cast<u32>(w), 1, 0, 100, 0), 1);
  return Pieces(e);
}

Floats Points(const CTessarette::KNIFESTRUCT_RENDERER& k) {
  Floats f;
  for (i32 j = 0; j < k.count; ++j) f.insert(f.end(), {k.position[j], k.offset[j], k.smoothness[j]});
  return f;
}

}  // namespace

TEST(LayoutHandOver, KnivesReachTheEngineAsDrawn) {
  CLayoutModel m;
  CTessarette e;
  EXPECT_EQ(m.engine_PutLayoutToPuzzleEngine(e), 0);  // no grid laid: the counts differ
  EXPECT_EQ(m.GetError(), klErrBadArg);

  ASSERT_EQ(m.spl_SplitEvenParts(1, 1, 1, 1), 1);
  ASSERT_EQ(m.engine_PutLayoutToPuzzleEngine(e), 1);
  EXPECT_EQ(std::vector<u32>({e.m_vCount, e.m_hCount, e.m_knotCount, e.m_vKnifeCount + e.m_hKnifeCount}),
            std::vector<u32>({0, 0, 4, 0}));

  ASSERT_EQ(m.spl_SplitEvenParts(2, 2, 1, 1), 1);
  m.knots[4].dx = 0.25f;
  m.thinKnives = 0;
  Knife& v = m.vKnives[1];
  CLayoutModel::settings_SetDefaultKnife(&v);
  v.flipU = v.flipH = 1;
  v.pointS[4] = 0.25f;
  Knife& h = m.hKnives[0];
  CLayoutModel::settings_SetDefaultKnife(&h);
  h.pointU[0] = 0.25f;
  h.pointU[4] = 0.75f;
  h.knobSize = 50;
  h.thickness = 7;
  CLayoutModel::UpdateCentre(h);
  m.vKnives[0].hidden = 1;
  ASSERT_EQ(m.spl_InitAuxKnivesMem(2), 1);
  m.xKnifeCount = 2;
  m.xKnives[0].knotA = 0;
  m.xKnives[0].knotB = 8;
  m.xKnives[1].knotA = 2;
  m.xKnives[1].knotB = 6;
  m.xKnives[1].hidden = 1;
  ASSERT_EQ(m.engine_PutLayoutToPuzzleEngine(e), 1);

  EXPECT_EQ(e.m_knots[4].dx, 0.25f);
  EXPECT_EQ(Floats({e.m_vPos[0], e.m_hPos[0], static_cast<f32>(e.m_thinKnife), static_cast<f32>(e.m_antiAlias)}),
            Floats({0.5f, 0.5f, 0, 1}));
  // Reversed order, 1 - u, negated offsets.
  EXPECT_EQ(Points(e.m_vKnives[1]), Floats({1 - 0.566f, 0.0f, 0.25f, 1 - 0.6485f, 0.165f, 0.5f, 0.5f, 0.297f, 0.5f,
                                            1 - 0.3515f, 0.165f, 0.5f, 1 - 0.434f, 0.0f, 0.5f}));
  // Knob size 50 around the centre 0.4343: u halfway there, h halved.
  const CTessarette::KNIFESTRUCT_RENDERER& eh = e.m_hKnives[0];
  EXPECT_EQ(eh.thickness, 7u);
  const f64 c = h.centre;
  EXPECT_EQ(eh.position[0], static_cast<f32>(c + 0.5 * (0.25 - c)));
  EXPECT_EQ(eh.position[2], static_cast<f32>(c + 0.5 * (0.5 - c)));
  EXPECT_EQ(eh.offset[2], static_cast<f32>(-0.297f * 0.5));
  EXPECT_EQ(std::vector<i32>({e.m_vKnives[0].count, e.m_hKnives[1].count, e.m_xKnives[0].knife.count,
                              static_cast<i32>(e.m_xKnives[0].secondKnot), e.m_xKnives[1].knife.count,
                              static_cast<i32>(e.m_xKnives[1].firstKnot)}),
            std::vector<i32>({-1, 0, 0, 8, -1, 0}));
  // The model keeps its own points.
  EXPECT_EQ(Floats({v.pointU[0], h.pointH[2]}), Floats({0.434f, -0.297f}));
}

TEST(LayoutHandOver, CutsAsTheSettingsBlockDoes) {
  // Random layouts of every knife kind: the hand-over and the settings
  // block read by the engine give the same pieces.
  std::mt19937 rng(11);
  std::uniform_real_distribution<f32> unit(0.0f, 1.0f), off(-0.4f, 0.4f), knot(-0.45f, 0.45f);
  const u32 sizes[] = {100, 100, 50, 25, 80};
  for (int round = 0; round < 12; ++round) {
    CLayoutModel m;
    ASSERT_EQ(m.spl_SplitEvenParts(static_cast<u16>(1 + rng() % 4), static_cast<u16>(1 + rng() % 4), 1, 1), 1);
    for (u32 i = 0; i < m.knotCount; ++i) m.knots[i].dx = knot(rng), m.knots[i].dy = knot(rng);
    const u32 extras = rng() % 4;
    ASSERT_EQ(m.spl_InitAuxKnivesMem(extras), 1);
    for (; m.xKnifeCount < extras; ++m.xKnifeCount) {
      m.xKnives[m.xKnifeCount].knotA = rng() % m.knotCount;
      m.xKnives[m.xKnifeCount].knotB = rng() % m.knotCount;
    }
    for (u32 i = 0; i < m.TotalKnifeCount(); ++i) {
      u32 v = m.vKnifeCount, hc = m.hKnifeCount;
      Knife& k = *m.GetKnife(i < v ? i : i < v + hc ? 1000000 + i - v : 2000000 + i - v - hc);
      const u32 f = static_cast<u32>(rng());
      k.flipH = f & 1;
      k.flipU = f >> 1 & 1;
      k.hidden = (f >> 2 & 7) == 0;
      k.knobSize = sizes[(f >> 5) % 5];
      k.thickness = 1 + (f >> 8) % 6;
      k.pointCount = rng() % 5 == 0 ? 0 : 1 + rng() % 8;
      for (u32 j = 0; j < k.pointCount; ++j) k.pointU[j] = unit(rng), k.pointH[j] = off(rng), k.pointS[j] = unit(rng);
      CLayoutModel::UpdateCentre(k);
    }
    m.thinKnives = round % 3 != 0;
    m.antiAliasing = round % 2;

    CTessarette direct, viaBlock;
    ASSERT_EQ(m.engine_PutLayoutToPuzzleEngine(direct), 1);
    CSettingsBlock codec;
    CKLF_Mem block;
    u32 length = 0;
    ASSERT_EQ(codec.Write(m, 0, nullptr, 0, &block, length), 1);
    ASSERT_EQ(block.Resize(length), 1);
    u8 layout = 0;
    u32 count = 0;
    const u8* records = nullptr;
    ASSERT_EQ(viaBlock.InitFromLastSettingsBinary(&block, layout, count, records), 1);
    EXPECT_EQ(Cut(direct, 96, 72), Cut(viaBlock, 96, 72)) << "round " << round;
    EXPECT_GT(direct.GetPieceCount(), 0u);
  }
}
