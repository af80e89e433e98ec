#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;

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

// The layout handed to one engine directly, and to another through the
// settings block written from it.
void HandOverBothWays(CLayoutModel& m, CTessarette& direct, CTessarette& viaBlock) {
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
}

}  // namespace

TEST(LayoutHandOver, GridsAndHiddenKnives) {
  CLayoutModel m;
  CTessarette e;
  EXPECT_EQ(m.engine_PutLayoutToPuzzleEngine(e), 0);  // no grid laid: the counts differ
  EXPECT_EQ(m.GetError(), klErrBadArg);
  ASSERT_EQ(m.spl_SplitEvenParts(1, 1, 1, 1), 1);
  ASSERT_EQ(m.engine_PutLayoutToPuzzleEngine(e), 1);
  EXPECT_EQ(std::vector<u32>({e.m_vCount, e.m_hCount, e.m_knotCount, e.m_vKnifeCount + e.m_hKnifeCount}),
            std::vector<u32>({0, 0, 4, 0}));
  // A hidden extra knife does not cut and brings no knots; the model keeps
  // its own points.
  ASSERT_EQ(m.spl_SplitEvenParts(3, 3, 1, 1), 1);
  ASSERT_EQ(m.spl_InitAuxKnivesMem(1), 1);
  m.xKnifeCount = 1;
  CLayoutModel::settings_SetDefaultKnife(&m.xKnives[0]);
  m.xKnives[0].knotA = 5, m.xKnives[0].knotB = 15, m.xKnives[0].hidden = 1, m.xKnives[0].flipU = 1;
  ASSERT_EQ(m.engine_PutLayoutToPuzzleEngine(e), 1);
  EXPECT_EQ(std::vector<i32>({e.m_xKnives[0].knife.count, static_cast<i32>(e.m_xKnives[0].secondKnot)}),
            std::vector<i32>({-1, 0}));
  EXPECT_EQ(m.xKnives[0].pointU[0], 0.434f);
}

TEST(LayoutHandOver, CutsAsTheSettingsBlockDoes) {
  // Random layouts of every knife kind: the hand-over and the settings
  // block read by the engine give the same pieces, and the engine places
  // the knots where the model draws them.
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
    ASSERT_NO_FATAL_FAILURE(HandOverBothWays(m, direct, viaBlock));
    EXPECT_EQ(Cut(direct, 96, 72), Cut(viaBlock, 96, 72)) << "round " << round;
    for (u32 i = 0; i < m.knotCount; ++i) {
      const kltFPOS p = m.i_spl_ConvertKnot(i, 600.0, 400.0, kltFPOS{5.0, 7.0}), q = direct.i_ConvertKnot(i, 600, 400);
      EXPECT_NEAR(p.x + 5.0, q.x, 1e-3) << i;
      EXPECT_NEAR(p.y + 7.0, q.y, 1e-3) << i;
    }
    EXPECT_GT(direct.GetPieceCount(), 0u);
  }
}

TEST(LayoutHandOver, KnobScaledKnivesMatchTheStoredBlockBitForBit) {
  // Knob sizes other than 100 scale toward the knife's pivot: the hand-over
  // and the engine's reading of the block written from the same layout
  // must give the very same floats, or an apply from the dialog and a
  // later replay would cut different masks.
  std::mt19937 rng(601);
  std::uniform_real_distribution<f32> unit(0.0f, 1.0f), off(-0.5f, 0.5f);
  u32 scaled = 0;
  for (int round = 0; round < 300; ++round) {
    CLayoutModel m;
    ASSERT_EQ(m.spl_SplitEvenParts(static_cast<u16>(2 + rng() % 5), static_cast<u16>(2 + rng() % 5), 1, 1), 1);
    for (u32 i = 0; i < m.TotalKnifeCount(); ++i) {
      Knife& k = *m.NthKnife(i);
      k.flipH = rng() & 1;
      k.flipU = rng() & 1;
      k.knobSize = 1 + rng() % 99;
      k.pointCount = 1 + rng() % 64;
      for (u32 j = 0; j < k.pointCount; ++j) k.pointU[j] = unit(rng), k.pointH[j] = off(rng), k.pointS[j] = unit(rng);
      CLayoutModel::UpdateCentre(k);
      ++scaled;
    }
    CTessarette direct, viaBlock;
    ASSERT_NO_FATAL_FAILURE(HandOverBothWays(m, direct, viaBlock));
    const CTessarette::KNIFESTRUCT_RENDERER* lists[2][2] = {{direct.m_vKnives, viaBlock.m_vKnives},
                                                            {direct.m_hKnives, viaBlock.m_hKnives}};
    const u32 counts[2] = {direct.m_vKnifeCount, direct.m_hKnifeCount};
    for (int l = 0; l < 2; ++l)
      for (u32 i = 0; i < counts[l]; ++i) {
        const CTessarette::KNIFESTRUCT_RENDERER &a = lists[l][0][i], &b = lists[l][1][i];
        ASSERT_EQ(a.count, b.count);
        ASSERT_EQ(std::memcmp(a.position, b.position, 4u * a.count), 0) << "round " << round << " knife " << i;
        ASSERT_EQ(std::memcmp(a.offset, b.offset, 4u * a.count), 0) << "round " << round << " knife " << i;
      }
    if (round % 25 == 0) {
      EXPECT_EQ(Cut(direct, 120, 90), Cut(viaBlock, 120, 90)) << "round " << round;
    }
  }
  EXPECT_GT(scaled, 5000u);
}
