#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "CTessarette.h"
#include "CTessaretteFill.h"
#include "CTessaretteRecordCodec.h"
#include "EngineTestUtil.h"

using engtest::Coverage;
using engtest::Doc;
using engtest::SetGrid;

namespace {

struct ModeCase {
  u8 thin, aa;
};
const ModeCase kModes[] = {{1, 1}, {1, 0}, {0, 0}, {0, 1}};

class CancelAt : public CKLF_Progress {
 public:
  explicit CancelAt(int n) : m_n(n) {}
  u8 IsCanceled() override { return --m_n < 0 ? 1 : 0; }

 private:
  int m_n;
};

}  // namespace

TEST(TessaretteCut, NoKnivesGivesOnePiece) {
  for (const ModeCase& m : kModes) {
    CTessarette e;
    SetGrid(e, 1, 1, false);
    e.m_thinKnife = m.thin;
    e.m_antiAlias = m.aa;
    Doc d(37, 23, 3, 1);
    ASSERT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 3, 0, 100, 0), 1);
    // Thin knife off: the (empty) knife area comes first.
    const u32 first = m.thin ? 0 : 1;
    ASSERT_EQ(e.GetPieceCount(), first + 1);
    EXPECT_EQ(e.HasSplitterPiece(), m.thin ? 0 : 1);
    const CTessarette::SPLITEDCELL* c = e.GetPiece(first);
    EXPECT_EQ(c->rect.left, 0);
    EXPECT_EQ(c->rect.top, 0);
    EXPECT_EQ(c->rect.right, 37);
    EXPECT_EQ(c->rect.bottom, 23);
    EXPECT_EQ(c->column, 1u);
    EXPECT_EQ(c->row, 1u);
    EXPECT_EQ(c->pixelCount, 37u * 23u);
    EXPECT_EQ(c->visible, 1);
    EXPECT_EQ(c->selected, 0);
    // Every pixel fully covered; in the four-times mask 16 sub-pixels make 255.
    EXPECT_EQ(std::vector<u8>(c->maskBlock->GetPtr(), c->maskBlock->GetPtr() + 37 * 23),
              std::vector<u8>(37 * 23, 255));
    EXPECT_EQ(c->srcPlanes[0], d.ptrs[0]);
    EXPECT_EQ(c->srcPlanes[3], c->maskBlock->GetPtr());
  }
}

// Thick knife, no outer mask: the knife area is the first piece over the
// whole image, and knife and regions partition the image.
TEST(TessaretteCut, SplitterPieceAndPartition) {
  CTessarette e;
  SetGrid(e, 3, 2, true, 4);
  e.m_thinKnife = 0;
  e.m_antiAlias = 0;
  Doc d(120, 80, 3, 2);
  ASSERT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 3, 0, 100, 0), 1);
  ASSERT_EQ(e.GetPieceCount(), 7u);
  const CTessarette::SPLITEDCELL* s = e.GetPiece(0);
  EXPECT_EQ(s->rect.right - s->rect.left, 120);
  EXPECT_EQ(s->rect.bottom - s->rect.top, 80);
  EXPECT_GT(s->pixelCount, 0u);
  std::vector<int> sum, owners;
  Coverage(e, d.w, d.h, sum, owners);
  for (size_t i = 0; i < sum.size(); i++) {
    ASSERT_EQ(owners[i], 1) << "pixel " << i;
    ASSERT_EQ(sum[i], 255) << "pixel " << i;
  }
}

// Thin plain knife: knife lines are shared out, every pixel owned once.
TEST(TessaretteCut, ThinKnifePixelsOwnedOnce) {
  for (bool knob : {false, true}) {
    CTessarette e;
    SetGrid(e, 4, 3, knob);
    e.m_antiAlias = 0;
    Doc d(160, 110, 3, 3);
    ASSERT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 3, 0, 100, 0), 1);
    EXPECT_EQ(e.GetPieceCount(), 12u);
    std::vector<int> sum, owners;
    Coverage(e, d.w, d.h, sum, owners);
    for (size_t i = 0; i < sum.size(); i++) {
      ASSERT_EQ(owners[i], 1) << "pixel " << i << " knob " << knob;
      ASSERT_EQ(sum[i], 255);
    }
  }
}

// Thin anti-aliased knife: no pixel is left out, edge pixels are shared,
// and composing with union 0 gives full alpha everywhere.
TEST(TessaretteCut, AntiAliasedCoverageAddsUp) {
  CTessarette e;
  SetGrid(e, 4, 3, true, 3);
  Doc d(160, 110, 3, 4);
  ASSERT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 3, 0, 100, 1), 1);
  EXPECT_EQ(e.GetPieceCount(), 12u);
  std::vector<int> sum, owners;
  Coverage(e, d.w, d.h, sum, owners);
  int shared = 0;
  for (size_t i = 0; i < sum.size(); i++) {
    ASSERT_GT(owners[i], 0) << "pixel " << i;
    if (owners[i] == 1) {
      ASSERT_EQ(sum[i], 255) << "pixel " << i;
    }
    shared += owners[i] > 1;
  }
  EXPECT_GT(shared, 0);
  std::vector<u8> out(static_cast<size_t>(d.w) * d.h * 4, 0);
  u8* planes[4];
  for (int p = 0; p < 4; p++) planes[p] = out.data() + static_cast<size_t>(p) * d.w * d.h;
  ASSERT_EQ(e.CombineSplitedCells(d.w, d.h, planes, d.w, 4, nullptr, 0, klNullRect, 0, 0, 100), 1);
  for (i32 i = 0; i < d.w * d.h; i++) ASSERT_EQ(planes[3][i], 255) << "pixel " << i;
}

// Thick anti-aliased knife: the knife piece keeps the knife's values and a
// region reaching an edge pixel of value v gets 255 - v there.
TEST(TessaretteCut, ThickAntiAliasedEdgesShared) {
  CTessarette e;
  SetGrid(e, 3, 2, true, 3);
  e.m_thinKnife = 0;
  Doc d(240, 160, 3, 12);
  ASSERT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 3, 0, 100, 0), 1);
  ASSERT_EQ(e.GetPieceCount(), 7u);
  std::vector<int> sum, owners;
  Coverage(e, d.w, d.h, sum, owners, 1);
  const CTessarette::SPLITEDCELL* knife = e.GetPiece(0);
  const u8* k = knife->maskBlock->GetPtr();
  int edges = 0;
  for (size_t i = 0; i < sum.size(); i++) {
    ASSERT_TRUE(owners[i] > 0 || k[i] > 0) << "pixel " << i;
    if (k[i] == 0) {
      ASSERT_EQ(sum[i], 255);
    }
    if (k[i] > 0 && k[i] < 255 && owners[i] == 1) {
      ASSERT_EQ(sum[i] + k[i], 255) << "pixel " << i;
      edges++;
    }
  }
  EXPECT_GT(edges, 100);
}

// Sub-pixel coverage of the four-times mask, on a hand-made knife: a band
// four sub-pixels high over the whole of image row 1.
TEST(TessaretteCut, FourTimesMaskSubPixelCoverage) {
  const i32 w = 3, h = 3;
  const u32 stride = CTessaretteFill::BitRowBytes(w);
  std::vector<u8> knife(stride * 4 * h, 0), work(w * h, 0);
  for (i32 y = 4; y < 8; y++)
    for (u32 b = 0; b < stride; b++) knife[y * stride + b] = 0xFF;
  CTessaretteFill f;
  f.Setup(CTessaretteFill::MODE_BIT4, knife.data(), stride, work.data(), w, h);
  f.SealPadding();
  ASSERT_EQ(f.SeedFill(0, 0), 1);
  EXPECT_EQ(work, (std::vector<u8>{255, 255, 255, 16, 16, 16, 0, 0, 0}));
  EXPECT_EQ(f.m_minY, 0);
  EXPECT_EQ(f.m_maxY, 1);
  std::fill(work.begin(), work.end(), 0);
  f.ResetBounds();
  ASSERT_EQ(f.SeedFill(5, 9), 1);
  EXPECT_EQ(work, (std::vector<u8>{0, 0, 0, 16, 16, 16, 255, 255, 255}));
  EXPECT_EQ(f.m_minY, 1);
  EXPECT_EQ(f.m_maxY, 2);
}

TEST(TessaretteCut, OuterMaskLimitsPieces) {
  CTessarette e;
  SetGrid(e, 2, 1, false);  // one straight knife at x = 20
  e.m_antiAlias = 0;
  Doc d(40, 10, 1, 5);
  std::vector<u8> outer(40 * 10, 0);
  for (i32 y = 0; y < 10; y++)
    for (i32 x = 25; x < 40; x++) outer[y * 40 + x] = x < 30 ? 128 : 255;
  ASSERT_EQ(e.SplitCells(40, 10, outer.data(), 40, d.ptrs, 40, 1, 0, 100, 0), 1);
  ASSERT_EQ(e.GetPieceCount(), 1u);  // the left region lies outside the mask
  const CTessarette::SPLITEDCELL* c = e.GetPiece(0);
  EXPECT_EQ(c->rect.left, 25);
  EXPECT_EQ(c->rect.right, 40);
  EXPECT_EQ(c->column, 2u);
  EXPECT_EQ(c->maskBlock->GetPtr()[0], 128);  // 255 x 128 / 255
  EXPECT_EQ(c->maskBlock->GetPtr()[5], 255);
  EXPECT_EQ(c->outerMask, outer.data() + 25);
  EXPECT_EQ(c->pixelCount, 15u * 10u);

  // Thick knife with an outer mask: the knife area is cut by it too.
  CTessarette t;
  SetGrid(t, 2, 1, false, 3);
  t.m_thinKnife = 0;
  t.m_antiAlias = 0;
  ASSERT_EQ(t.SplitCells(40, 10, outer.data(), 40, d.ptrs, 40, 1, 0, 100, 0), 1);
  ASSERT_EQ(t.GetPieceCount(), 1u);  // the knife at x = 20 lies outside as well
  EXPECT_EQ(t.HasSplitterPiece(), 1);
}

// Thick plain knife under a random outer mask: the knife piece and the
// regions share every pixel out exactly as the mask gives it.
TEST(TessaretteCut, OuterMaskSharedOutByAllPieces) {
  std::mt19937 rng(23);
  CTessarette e;
  SetGrid(e, 3, 3, true, 4);
  e.m_thinKnife = 0;
  e.m_antiAlias = 0;
  Doc d(120, 90, 1, 20);
  std::vector<u8> outer(static_cast<size_t>(d.w) * d.h);
  for (u8& v : outer) v = rng() % 3 ? static_cast<u8>(rng()) : 0;
  ASSERT_EQ(e.SplitCells(d.w, d.h, outer.data(), d.w, d.ptrs, d.w, 1, 0, 100, 0), 1);
  ASSERT_EQ(e.HasSplitterPiece(), 1);
  std::vector<int> sum, owners;
  Coverage(e, d.w, d.h, sum, owners);
  for (size_t i = 0; i < sum.size(); i++) {
    ASSERT_EQ(sum[i], outer[i]) << "pixel " << i;
    ASSERT_LE(owners[i], 1) << "pixel " << i;
  }
}

// Pieces take the column and row of the nearest cell centre; equal
// distances keep the first cell.
TEST(TessaretteCut, NearestCellCentre) {
  CTessarette e;
  e.Init(3, 2, 0);
  e.m_vPos[0] = 0.2f;
  e.m_vPos[1] = 0.7f;
  e.m_hPos[0] = 0.4f;
  e.GetKnot(1, 1)->dx = 0.3f;  // a skewed cell
  e.m_antiAlias = 0;
  Doc d(200, 100, 3, 6);
  ASSERT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 3, 0, 100, 0), 1);
  ASSERT_EQ(e.GetPieceCount(), 6u);
  std::vector<std::pair<u32, u32>> seen;
  for (u32 i = 0; i < 6; i++) seen.push_back({e.GetPiece(i)->column, e.GetPiece(i)->row});
  // Scan order: the top row of cells first, left to right.
  EXPECT_EQ(seen, (std::vector<std::pair<u32, u32>>{{1, 1}, {2, 1}, {3, 1}, {1, 2}, {2, 2}, {3, 2}}));

  CTessarette t;
  SetGrid(t, 2, 1, false, 2);
  t.m_thinKnife = 0;
  t.m_antiAlias = 0;
  Doc d2(40, 10, 1, 7);
  ASSERT_EQ(t.SplitCells(40, 10, nullptr, 0, d2.ptrs, 40, 1, 0, 100, 0), 1);
  ASSERT_EQ(t.GetPieceCount(), 3u);
  EXPECT_EQ(t.GetPiece(0)->column, 1u);  // centre (20, 5): both cells at 10
  EXPECT_EQ(t.GetPiece(2)->column, 2u);
}

// The run-based fill and the point-wise reference give the same pieces on
// random layouts in every mode, with and without an outer mask.
TEST(TessaretteCut, RunFillMatchesPointwiseFill) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<f32> u(-0.6f, 0.6f);
  for (int trial = 0; trial < 8; trial++) {
    for (const ModeCase& m : kModes) {
      CTessarette a, b;
      for (CTessarette* e : {&a, &b}) {
        std::mt19937 r2(trial);
        std::uniform_real_distribution<f32> u2(-0.6f, 0.6f);
        SetGrid(*e, 3 + trial % 3, 2 + trial % 2, true, 1 + trial % 4);
        for (u32 k = 0; k < e->m_knotCount; k++) e->m_knots[k] = {u2(r2), u2(r2)};
        for (u32 k = 0; k < e->m_vKnifeCount; k++) e->m_vKnives[k].offset[2] = u2(r2);
        e->m_thinKnife = m.thin;
        e->m_antiAlias = m.aa;
      }
      b.SetRunFill(0);
      Doc d(90 + trial * 7, 60 + trial * 5, 3, trial);
      std::vector<u8> outer(static_cast<size_t>(d.w) * d.h);
      for (u8& v : outer) v = rng() % 4 ? 255 : static_cast<u8>(rng());
      u8* om = trial % 2 ? outer.data() : nullptr;
      ASSERT_EQ(a.SplitCells(d.w, d.h, om, d.w, d.ptrs, d.w, 3, 0, 100, 0), 1);
      ASSERT_EQ(b.SplitCells(d.w, d.h, om, d.w, d.ptrs, d.w, 3, 0, 100, 0), 1);
      ASSERT_EQ(a.GetPieceCount(), b.GetPieceCount());
      for (u32 i = 0; i < a.GetPieceCount(); i++) {
        const CTessarette::SPLITEDCELL *pa = a.GetPiece(i), *pb = b.GetPiece(i);
        ASSERT_EQ(0, std::memcmp(&pa->rect, &pb->rect, sizeof(kltRECT_s)));
        ASSERT_EQ(pa->column, pb->column);
        ASSERT_EQ(pa->row, pb->row);
        ASSERT_EQ(pa->pixelCount, pb->pixelCount);
        ASSERT_EQ(pa->maskBlock->GetSize(), pb->maskBlock->GetSize());
        ASSERT_EQ(0, std::memcmp(pa->maskBlock->GetPtr(), pb->maskBlock->GetPtr(), pa->maskBlock->GetSize()));
      }
    }
  }
}

// A second cut drops the first pieces and points only into the new planes.
TEST(TessaretteCut, SecondCutAfterFirst) {
  CTessarette e;
  SetGrid(e, 3, 3, true);
  {
    Doc first(90, 90, 3, 8);
    ASSERT_EQ(e.SplitCells(first.w, first.h, nullptr, 0, first.ptrs, first.w, 3, 0, 100, 1), 1);
    EXPECT_EQ(e.GetPieceCount(), 9u);
  }  // the first document's planes are gone
  SetGrid(e, 2, 1, false);
  e.m_antiAlias = 0;
  Doc second(50, 30, 3, 9);
  ASSERT_EQ(e.SplitCells(second.w, second.h, nullptr, 0, second.ptrs, second.w, 3, 0, 100, 0), 1);
  ASSERT_EQ(e.GetPieceCount(), 2u);
  engtest::AllEffectsOff(e);
  for (u32 i = 0; i < 2; i++) ASSERT_EQ(e.RenderPiece(i), 1);
  std::vector<u8> out(50 * 30 * 4, 0);
  u8* planes[4];
  for (int p = 0; p < 4; p++) planes[p] = out.data() + p * 50 * 30;
  ASSERT_EQ(e.CombineSplitedCells(50, 30, planes, 50, 4, nullptr, 0, klNullRect, 0, 0, 100), 1);
  for (int p = 0; p < 3; p++)
    EXPECT_EQ(std::vector<u8>(planes[p], planes[p] + 1500), second.planes[p]) << "plane " << p;
  EXPECT_EQ(std::vector<u8>(planes[3], planes[3] + 1500), std::vector<u8>(1500, 255));
}

TEST(TessaretteCut, RefusalsAndCancel) {
  CTessarette e;
  SetGrid(e, 2, 2, false);
  Doc d(8, 8, 1, 10);
  EXPECT_EQ(e.SplitCells(0, 8, nullptr, 0, d.ptrs, 8, 1, 0, 100, 0), 0);
  EXPECT_EQ(e.GetError(), klErrBadArg);
  // Beyond the 16-bit sizes of the effects: refused, not truncated.
  EXPECT_EQ(e.SplitCells(70000, 8, nullptr, 0, d.ptrs, 70000, 1, 0, 100, 0), 0);
  EXPECT_EQ(e.GetError(), klErrBadArg);
  // A piece of the whole image would not fit a 32-bit block.
  EXPECT_EQ(e.SplitCells(65535, 65535, nullptr, 0, d.ptrs, 65535, 1, 0, 100, 0), 0);
  EXPECT_EQ(e.GetError(), klErrNoMemory);
  EXPECT_EQ(e.SplitCells(8, 8, nullptr, 0, d.ptrs, 4, 1, 0, 100, 0), 0);  // stride
  EXPECT_EQ(e.GetPieceCount(), 0u);

  for (int at : {0, 3, 30}) {
    CancelAt p(at);
    e.SetProgress(&p);
    EXPECT_EQ(e.SplitCells(8, 8, nullptr, 0, d.ptrs, 8, 1, 0, 100, 0), 0) << at;
    EXPECT_EQ(e.GetError(), 0);
    EXPECT_STREQ(e.GetLastAlertText(), "");
  }
}

// A record written from a piece and read back into a piece of a new cut
// restores its working copies exactly.
TEST(TessaretteCut, PieceRecordRoundTrip) {
  CTessarette e;
  SetGrid(e, 2, 2, true);
  Doc d(60, 60, 3, 11);
  ASSERT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 3, 0, 100, 0), 1);
  CTessarette::SPLITEDCELL* c = e.GetPiece(3);
  c->hsl[CTessarette::FX_WORKING] = {1, -33, 12, -7};
  c->stroke[CTessarette::FX_WORKING].enabled = 1;
  c->stroke[CTessarette::FX_WORKING].size = 9;
  c->invert[CTessarette::FX_WORKING] = 1;
  c->selected = 1;
  ASSERT_EQ(e.RenderPiece(3), 1);  // working -> as rendered
  CTessarette::SFX_ONEPIECE rec;
  ASSERT_EQ(e.PieceToRecord(3, rec), 1);
  EXPECT_EQ(rec.row, c->row);
  EXPECT_EQ(rec.column, c->column);
  EXPECT_EQ(rec.selected, 1);
  EXPECT_EQ(rec.hsl.hue, -33);  // from the as-rendered copies
  u8 bytes[92] = {0};
  CTessaretteRecordCodec::Encode(rec, bytes);

  ASSERT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 3, 0, 100, 0), 1);
  CTessarette::SFX_ONEPIECE back;
  ASSERT_EQ(CTessaretteRecordCodec::Decode(bytes, 92, back), 1);
  ASSERT_EQ(e.RecordToPiece(back, 3, 1, 0), 1);
  const CTessarette::SPLITEDCELL* n = e.GetPiece(3);
  EXPECT_EQ(n->hsl[CTessarette::FX_WORKING].hue, -33);
  EXPECT_EQ(n->hsl[CTessarette::FX_WORKING].lightness, -7);
  EXPECT_EQ(n->stroke[CTessarette::FX_WORKING].size, 9);
  EXPECT_EQ(n->invert[CTessarette::FX_WORKING], 1);
  EXPECT_EQ(n->selected, 0);
  EXPECT_EQ(n->bevel[CTessarette::FX_WORKING].size, e.m_defBevel.size);
  EXPECT_EQ(n->bevel[CTessarette::FX_WORKING].light[1], e.m_defBevel.light[1]);
  EXPECT_EQ(e.RecordToPiece(back, 4, 1, 1), 0);
}

// Knives are drawn keeping the larger value: a knife drawn later never
// erases one drawn before it inside its box.
TEST(TessaretteCut, KnivesKeepTheLargerValue) {
  CTessarette e;
  SetGrid(e, 2, 2, false, 3);
  e.m_thinKnife = 0;
  std::vector<u8> plane(64 * 64, 0);
  ASSERT_EQ(e.DrawSplitting(64, 64, plane.data(), 64, 0, 100), 1);
  for (i32 y = 0; y < 64; y++) ASSERT_EQ(plane[y * 64 + 32], 255) << "row " << y;
  for (i32 x = 0; x < 64; x++) ASSERT_EQ(plane[32 * 64 + x], 255) << "column " << x;
}

namespace {
// Cancels as soon as the engine holds a piece.
class CancelAfterFirstPiece : public CKLF_Progress {
 public:
  explicit CancelAfterFirstPiece(const CTessarette* e) : m_e(e) {}
  u8 IsCanceled() override { return m_e->GetPieceCount() >= 1 ? 1 : 0; }

 private:
  const CTessarette* m_e;
};
}  // namespace

// Pieces of a cut that stopped early still render, into a work image laid
// out for them rather than for an earlier cut's pieces: smaller ones, or
// ones of the same size with fewer planes.
TEST(TessaretteCut, PiecesOfACancelledCutRender) {
  struct Case {
    i32 w, h;
    u8 planes;
    u32 rows;
  };
  for (const Case& k : {Case{30, 60, 3, 2}, Case{40, 20, 4, 1}}) {
    CTessarette e;
    SetGrid(e, 1, 1, false);
    Doc first(40, 20, 3, 13);
    ASSERT_EQ(e.SplitCells(40, 20, nullptr, 0, first.ptrs, 40, 3, 0, 100, 1), 1);
    SetGrid(e, 1, k.rows, false);
    e.m_antiAlias = 0;
    Doc second(k.w, k.h, k.planes, 14);
    CancelAfterFirstPiece stop(&e);
    e.SetProgress(&stop);
    ASSERT_EQ(e.SplitCells(k.w, k.h, nullptr, 0, second.ptrs, k.w, k.planes, 0, 100, 0), 0);
    ASSERT_EQ(e.GetPieceCount(), 1u);
    engtest::AllEffectsOff(e);
    ASSERT_EQ(e.RenderPiece(0), 1);
    const CTessarette::SPLITEDCELL* c = e.GetPiece(0);
    const i32 rw = c->rect.right - c->rect.left, rh = c->rect.bottom - c->rect.top;
    EXPECT_EQ(rw, k.w);
    EXPECT_GE(rh, k.h / static_cast<i32>(k.rows));
    for (u8 p = 0; p < k.planes; p++)
      for (i32 y = 0; y < rh; y++)
        for (i32 x = 0; x < rw; x++) ASSERT_EQ(c->imgPlanes[p][y * rw + x], second.planes[p][y * k.w + x]);
    EXPECT_EQ(0, std::memcmp(c->imgPlanes[k.planes], c->maskBlock->GetPtr(), static_cast<size_t>(rw) * rh));
  }
}

// More than a thousand pieces: the piece array grows and keeps them.
TEST(TessaretteCut, ManyPiecesGrowTheArray) {
  CTessarette e;
  SetGrid(e, 41, 31, false);
  e.m_antiAlias = 0;
  Doc d(410, 310, 1, 15);
  ASSERT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 1, 0, 100, 0), 1);
  ASSERT_EQ(e.GetPieceCount(), 41u * 31u);
  const CTessarette::SPLITEDCELL* last = e.GetPiece(41 * 31 - 1);
  EXPECT_EQ(last->column, 41u);
  EXPECT_EQ(last->row, 31u);
  EXPECT_EQ(last->rect.right, 410);
  std::vector<int> sum, owners;
  Coverage(e, d.w, d.h, sum, owners);
  for (size_t i = 0; i < sum.size(); i++) ASSERT_EQ(owners[i], 1) << i;
}

// A knife that cannot be drawn (its path too long to sample, its line beyond
// the rasteriser's range) fails the drawing and the cut: left out, it would
// silently merge the pieces on both sides.
TEST(TessaretteCut, UndrawableKnifeFailsTheCut) {
  CTessarette e;
  CTessarette::KNIFESTRUCT_RENDERER k;
  engtest::SetKnob(&k);
  std::vector<u8> plane(64 * 64, 0);
  e.m_antiAlias = 0;
  ASSERT_EQ(e.DrawSplitting(64, 64, plane.data(), 64, 0, 100), 1);  // destination set
  EXPECT_EQ(e.i_DrawKnife(&k, kltFPOS{0.0, 0.0}, kltFPOS{2e9, 0.0}), 0);
  EXPECT_EQ(e.GetError(), klErrNoMemory);
  k.count = 0;
  e.ResetError();
  EXPECT_EQ(e.i_DrawKnife(&k, kltFPOS{0.0, 0.0}, kltFPOS{2e9, 0.0}), 0);
  EXPECT_NE(e.GetError(), 0);

  for (const ModeCase& m : kModes) {
    CTessarette t;
    SetGrid(t, 2, 1, true);
    t.m_thinKnife = m.thin;
    t.m_antiAlias = m.aa;
    t.GetKnot(1, 0)->dx = 1e7f;  // the knife's first knot far off to the right
    Doc d(40, 20, 1, 16);
    EXPECT_EQ(t.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 1, 0, 100, 0), 0);
    EXPECT_EQ(t.GetError(), klErrNoMemory);
    EXPECT_STREQ(t.GetLastAlertText(), "Memory allocation problem...");
  }
}

// Straight knives: the thin knife is one pixel wide, a thick plain one as
// wide as its thickness; a knife whose knots coincide draws nothing.
TEST(TessaretteCut, StraightKnifeWidths) {
  for (u32 thickness : {1u, 4u, 6u}) {
    for (u8 thin : {1, 0}) {
      CTessarette e;
      SetGrid(e, 2, 1, false, thickness);
      e.m_thinKnife = thin;
      e.m_antiAlias = 0;
      std::vector<u8> plane(64 * 16, 0);
      ASSERT_EQ(e.DrawSplitting(64, 16, plane.data(), 64, 0, 100), 1);
      const u32 want = thin ? 1u : thickness;
      for (i32 y = 2; y < 14; y++) {
        u32 n = 0;
        for (i32 x = 0; x < 64; x++) n += plane[y * 64 + x] == 255;
        ASSERT_EQ(n, want) << "thickness " << thickness << " thin " << int(thin) << " row " << y;
      }
    }
  }
  CTessarette e;
  SetGrid(e, 1, 1, false);
  std::vector<u8> plane(32 * 32, 0);
  ASSERT_EQ(e.DrawSplitting(32, 32, plane.data(), 32, 0, 100), 1);
  CTessarette::KNIFESTRUCT_RENDERER k;
  engtest::SetKnob(&k);
  EXPECT_EQ(e.i_DrawKnife(&k, kltFPOS{10.0, 10.0}, kltFPOS{10.0, 10.0001}), 1);
  EXPECT_EQ(plane, std::vector<u8>(32 * 32, 0));
}

// A region whose fill runs out of seed room fails the cut: stored half
// filled, its rest would come out as a piece of its own.
TEST(TessaretteCut, SeedStackFailureFailsTheCut) {
  for (const ModeCase& m : kModes) {
    CTessarette e;
    SetGrid(e, 3, 3, true);
    e.m_thinKnife = m.thin;
    e.m_antiAlias = m.aa;
    e.SetFillSeedLimit(2);
    Doc d(90, 90, 1, 17);
    EXPECT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 1, 0, 100, 0), 0);
    EXPECT_EQ(e.GetError(), klErrNoMemory);
    EXPECT_STREQ(e.GetLastAlertText(), "Memory allocation problem...");
    e.SetFillSeedLimit(1u << 28);
    EXPECT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, 1, 0, 100, 0), 1);
    EXPECT_GE(e.GetPieceCount(), 9u);
  }
}
