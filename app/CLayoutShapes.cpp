#include "CLayoutShapes.h"

#include "CCutterServices.h"
#include "CLayoutUndo.h"
#include "CLayoutView.h"

namespace {

const f32 kTwoPowMinus31 = 1.0f / 2147483648.0f;

f32 Clamp01(f32 v) { return v >= 1.0f ? 1.0f : (v < 0.0f ? 0.0f : v); }

// Mirrors a knife's own points: across (offsets negated) or along (u
// becomes 1 - u and the order is reversed).
void Mirror(CLayoutModel::KNIFESTRUCT& k, u32 n, u8 across) {
  if (across) {
    for (u32 j = 0; j < n; ++j) k.pointH[j] = -k.pointH[j];
    return;
  }
  for (u32 j = 0; j < n; ++j) k.pointU[j] = 1.0f - k.pointU[j];
  for (u32 j = 0; j < n / 2; ++j) {
    const u32 o = n - 1 - j;
    f32 t = k.pointU[j]; k.pointU[j] = k.pointU[o]; k.pointU[o] = t;
    t = k.pointH[j]; k.pointH[j] = k.pointH[o]; k.pointH[o] = t;
    t = k.pointS[j]; k.pointS[j] = k.pointS[o]; k.pointS[o] = t;
  }
}

}  // namespace

void CLayoutShapes::i_spl_SetKnife(KNIFESTRUCT* k, f32 mutS, f32 mutH, f32 mutU, u8 selectedNodesOnly, u8 flip,
                                   u8 flipAcross, u8 takeSizeAndThickness) {
  const CCutterServices* c = m.cutter;
  if (!k || !c) return;
  const u32 n = c->nodeCount > CLayoutModel::kMaxPoints ? CLayoutModel::kMaxPoints : c->nodeCount;
  if (k->pointCount != n) {
    k->pointCount = n;
    for (u32 j = 0; j < n; ++j) {
      k->pointU[j] = static_cast<f32>(c->nodes[j].U);
      k->pointH[j] = static_cast<f32>(c->nodes[j].H);
      k->pointS[j] = static_cast<f32>(c->nodeS[j]);
    }
    flip = 0;
  }
  if (takeSizeAndThickness) {
    k->knobSize = c->knobSize;
    k->thickness = c->thickness;
  }
  k->span = 0;
  k->centre = 0;
  if (n == 0) return;
  if (flip) Mirror(*k, n, flipAcross);
  const f32 s2 = mutS * mutS, h2 = mutH * mutH, u2 = mutU * mutU;
  for (u32 j = 0; j < n; ++j) {
    if (selectedNodesOnly && !c->nodeSelected[j]) continue;
    const f32 r1 = static_cast<f32>(m.Rand()), r2 = static_cast<f32>(m.Rand()), r3 = static_cast<f32>(m.Rand());
    k->pointS[j] = Clamp01(static_cast<f32>(c->nodeS[j]) + (2.0f * r1 * s2 * kTwoPowMinus31 - s2));
    k->pointH[j] = static_cast<f32>(c->nodes[j].H) + (h2 * r2 * kTwoPowMinus31 - h2 / 2.0f);
    k->pointU[j] = Clamp01(static_cast<f32>(c->nodes[j].U) + (u2 * r3 * kTwoPowMinus31 - u2 / 2.0f));
  }
  CLayoutModel::UpdateCentre(*k);
}

void CLayoutShapes::SetFreshKnife(KNIFESTRUCT* knife) {
  const CCutterServices* c = m.cutter;
  if (c) i_spl_SetKnife(knife, c->mutS, c->mutH, c->mutU, 0, 0, 0, 1);
}

void CLayoutShapes::i_ReFill(u8 selectedKnivesOnly, f32 mutS, f32 mutH, f32 mutU, u8 selectedNodesOnly, u8 flip,
                             u8 across) {
  const bool onlySelected = selectedKnivesOnly && m.AnyKnifeSelected();
  const u32 n = m.TotalKnifeCount();
  for (u32 i = 0; i < n; ++i) {
    KNIFESTRUCT* k = m.NthKnife(i);
    if (!onlySelected || k->selected) i_spl_SetKnife(k, mutS, mutH, mutU, selectedNodesOnly, flip, across, 0);
  }
}

void CLayoutShapes::spl_DoReFillKnivesFromCutter(u8 selectedKnivesOnly, f32 mutS, f32 mutH, f32 mutU,
                                                 u8 selectedNodesOnly) {
  i_ReFill(selectedKnivesOnly, mutS, mutH, mutU, selectedNodesOnly, 0, 0);
}

void CLayoutShapes::spl_DoReFillKnivesFromCutter_FlipU(u8 selectedKnivesOnly, f32 mutS, f32 mutH, f32 mutU) {
  i_ReFill(selectedKnivesOnly, mutS, mutH, mutU, 1, 1, 0);
}

void CLayoutShapes::spl_DoReFillKnivesFromCutter_FlipH(u8 selectedKnivesOnly, f32 mutS, f32 mutH, f32 mutU) {
  i_ReFill(selectedKnivesOnly, mutS, mutH, mutU, 1, 1, 1);
}

namespace {

void Redraw(const CLayoutModel& m) {
  if (m.view) m.view->RedrawSplitting();
}

}  // namespace

void CLayoutShapes::OnCutterUpdateShape(f32 mutS, f32 mutH, f32 mutU, u8 selectedNodesOnly, u8 undo) {
  if (undo) u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubShape);
  spl_DoReFillKnivesFromCutter(1, mutS, mutH, mutU, selectedNodesOnly);
  Redraw(m);
}

void CLayoutShapes::OnCutterUpdateShape_FlipU(f32 mutS, f32 mutH, f32 mutU) {
  u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubShape);
  spl_DoReFillKnivesFromCutter_FlipU(1, mutS, mutH, mutU);
  Redraw(m);
}

void CLayoutShapes::OnCutterUpdateShape_FlipH(f32 mutS, f32 mutH, f32 mutU) {
  u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubShape);
  spl_DoReFillKnivesFromCutter_FlipH(1, mutS, mutH, mutU);
  Redraw(m);
}

void CLayoutShapes::OnCutterUpdateKnifeSize(u32 size) {
  u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubKnobSize);
  m.spl_DoSetKnobSize(size, 1);
  Redraw(m);
}

void CLayoutShapes::OnCutterUpdateKnifeThickness(u32 thickness, u8 thin) {
  u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubThickness);
  m.spl_DoSetKnifeTh(thickness, thin, 1);
  Redraw(m);
}

void CLayoutShapes::OnCutterUpdateAntiAliasing(u8 on) {
  m.antiAliasing = on;
  Redraw(m);
}
