#include "CLayoutKnifeEdit.h"

#include <cmath>
#include <cstring>

#include "CCutterServices.h"
#include "CKLF_Array.h"
#include "CLayoutShapes.h"
#include "CLayoutUndo.h"
#include "CLayoutView.h"

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;

void Ranges(const Knife& k, f64& du, f64& dh) {
  f64 minU = k.pointU[0], maxU = minU, minH = k.pointH[0], maxH = minH;
  for (u32 j = 1; j < k.pointCount && j < CLayoutModel::kMaxPoints; ++j) {
    minU = std::fmin(minU, k.pointU[j]), maxU = std::fmax(maxU, k.pointU[j]);
    minH = std::fmin(minH, k.pointH[j]), maxH = std::fmax(maxH, k.pointH[j]);
  }
  du = maxU - minU;
  dh = maxH - minH;
}

bool Drawn(const Knife& k) { return k.span > 0 && k.pointCount > 1; }

}  // namespace

CLayoutKnifeEdit::CLayoutKnifeEdit(CLayoutModel& model, CLayoutShapes& s, CLayoutUndo& undo)
    : m(model), shapes(s), u(undo) {}

Knife* CLayoutKnifeEdit::i_ListKnife(u32 index, u8 vertical, u8 extra) {
  if (extra) return index < m.xKnifeCount ? &m.xKnives[index] : nullptr;
  if (vertical) return index < m.vKnifeCount ? &m.vKnives[index] : nullptr;
  return index < m.hKnifeCount ? &m.hKnives[index] : nullptr;
}

u8 CLayoutKnifeEdit::op_CopyKnife(u32 index, u8 vertical, u8 extra) {
  const Knife* k = nullptr;
  if (index == 0xFFFFFFFF) {
    const u32 n = m.TotalKnifeCount();
    for (u32 i = 0; i < n && !k; ++i)
      if (m.NthKnife(i)->selected) k = m.NthKnife(i);
    if (!k) k = m.NthKnife(0);
  } else {
    k = i_ListKnife(index, vertical, extra);
  }
  if (!k) return 0;
  clipboard = *k;  // the knife part only; the polyline stays the knife's
  clipboard.polyline = nullptr;
  clipboard.polylineCount = 0;
  clipboardEmpty = 0;
  return 1;
}

u8 CLayoutKnifeEdit::i_op_PasteKnife(u32 index, u8 vertical, u8 extra) {
  Knife* k = i_ListKnife(index, vertical, extra);
  if (clipboardEmpty || !k) return 0;
  const Knife& c = clipboard;
  k->flipH = c.flipH;
  k->flipU = c.flipU;
  k->knobSize = c.knobSize;
  k->thickness = c.thickness;
  k->pointCount = c.pointCount > CLayoutModel::kMaxPoints ? CLayoutModel::kMaxPoints : c.pointCount;
  for (u32 j = 0; j < k->pointCount; ++j) {
    k->pointU[j] = c.pointU[j];
    k->pointH[j] = c.pointH[j];
    k->pointS[j] = c.pointS[j];
  }
  k->centre = c.centre;
  k->span = 0;
  return 1;
}

void CLayoutKnifeEdit::op_PasteKnife(CKLF_DWordArray* ids) {
  if (clipboardEmpty) return;
  if (ids) {
    for (u32 i = 0; i < ids->GetSize(); ++i) {
      const u32 id = (*ids)[i];
      if (id >= CLayoutModel::kExtraIdBase) i_op_PasteKnife(id - CLayoutModel::kExtraIdBase, 0, 1);
      else if (id >= CLayoutModel::kHorizontalIdBase) i_op_PasteKnife(id - CLayoutModel::kHorizontalIdBase, 0, 0);
      else i_op_PasteKnife(id, 1, 0);
    }
  } else {
    const bool onlySelected = m.AnyKnifeSelected();
    for (u32 i = 0; i < m.vKnifeCount; ++i)
      if (!onlySelected || m.vKnives[i].selected) i_op_PasteKnife(i, 1, 0);
    for (u32 i = 0; i < m.hKnifeCount; ++i)
      if (!onlySelected || m.hKnives[i].selected) i_op_PasteKnife(i, 0, 0);
    for (u32 i = 0; i < m.xKnifeCount; ++i)
      if (!onlySelected || m.xKnives[i].selected) i_op_PasteKnife(i, 0, 1);
  }
  if (m.view) m.view->RedrawSplitting();
  m.spl_OnKnifeSelChanged();  // also tells the Cutter the new sizes
}

void CLayoutKnifeEdit::op_SendKnifeToCutter(const Knife* k) {
  if (!m.cutter || !k) return;
  CCutterServices::SPLINE_STRUCT shape;
  std::memset(&shape, 0, sizeof(shape));
  const u32 n = k->pointCount > CLayoutModel::kMaxPoints ? CLayoutModel::kMaxPoints : k->pointCount;
  shape.nodeCount = static_cast<u8>(n);
  for (u32 j = 0; j < n; ++j) {
    shape.nodes[j].H = k->pointH[j];
    shape.nodes[j].U = k->pointU[j];
    shape.S[j] = k->pointS[j];
  }
  m.cutter->opSetShapeFromData(&shape, 0);
}

u8 CLayoutKnifeEdit::op_AddAuxKnifeToSelectedKnots(u8 redraw) {
  if (m.selectedKnotCount != 2) return 0;
  const u8 added = i_op_AddAuxKnifeToKnots(m.selectedKnots[0], m.selectedKnots[1]);
  if (redraw) {
    if (m.view) m.view->RedrawSplitting();
    if (m.view) m.view->OnKnotSelectionChanged();
    m.spl_OnKnifeSelChanged();
  }
  return added;
}

u8 CLayoutKnifeEdit::i_op_AddAuxKnifeToKnots(u32 a, u32 b, u8 fresh) {
  if (m.xKnifeCount >= CLayoutModel::kMaxExtraKnives || !m.i_cmop_IsPossibleKnotsForAuxKnife(a, b, !fresh)) return 0;
  if (!m.spl_InitAuxKnivesMem(m.xKnifeCount + 1)) {
    m.AlertNoMemory();
    return 0;
  }
  CLayoutModel::AUXKNIFESTRUCT& x = m.xKnives[m.xKnifeCount];
  std::memset(static_cast<void*>(&x), 0, sizeof(x));
  x.knobSize = 100;
  x.thickness = 3;
  x.knotA = a;
  x.knotB = b;
  shapes.SetFreshKnife(&x);
  ++m.xKnifeCount;
  return 1;
}

u32 CLayoutKnifeEdit::op_DelAuxKnives(u8 selectedOnly, CKLF_DWordArray* ids, u8 marked, u8 redraw) {
  if (!marked) {
    const bool spare = !ids && selectedOnly && m.AnyKnifeSelected();
    for (u32 i = 0; i < m.xKnifeCount; ++i) m.xKnives[i].deleteMark = !ids && (!spare || m.xKnives[i].selected);
    for (u32 i = 0; ids && i < ids->GetSize(); ++i) {
      const u32 id = (*ids)[i];
      if (id >= CLayoutModel::kExtraIdBase && id - CLayoutModel::kExtraIdBase < m.xKnifeCount)
        m.xKnives[id - CLayoutModel::kExtraIdBase].deleteMark = 1;
    }
  }
  u32 kept = 0;
  for (u32 i = 0; i < m.xKnifeCount; ++i) {
    CLayoutModel::AUXKNIFESTRUCT& x = m.xKnives[i];
    if (x.deleteMark) {
      delete x.polyline;
      x.polyline = nullptr;
      x.polylineCount = 0;
      continue;
    }
    if (kept != i) std::memcpy(static_cast<void*>(&m.xKnives[kept]), &x, sizeof(x));
    ++kept;
  }
  const u32 deleted = m.xKnifeCount - kept;
  m.xKnifeCount = kept;
  if (redraw) {
    if (m.view) m.view->RedrawSplitting();
    if (m.view) m.view->OnKnotSelectionChanged();
    m.spl_OnKnifeSelChanged();
  }
  return deleted;
}

u8 CLayoutKnifeEdit::check_IsAvail_EqualizeKnobs(u8 selectedOnly) const {
  const bool onlySelected = selectedOnly && m.AnyKnifeSelected();
  const u32 n = m.TotalKnifeCount();
  u32 drawn = 0;
  for (u32 i = 0; i < n && drawn < 2; ++i) {
    const Knife* k = m.NthKnife(i);
    if ((!onlySelected || k->selected) && Drawn(*k)) ++drawn;
  }
  return drawn >= 2 ? 1 : 0;
}

void CLayoutKnifeEdit::i_op_EqualizeKnobs_SetKnobSize(Knife* k, f64 uRange, f64 hRange, f64 referenceSpan) {
  if (!k || k->pointCount < 2) return;
  f64 du, dh;
  Ranges(*k, du, dh);
  const f64 q = k->span / referenceSpan;
  const f64 a = dh * q / hRange, b = du * q / uRange;
  // Not a number on either side counts as too large, as does a size that
  // does not fit 32 bits.
  const f64 size = (std::isnan(a) || std::isnan(b)) ? NAN : 100.0 / (a > b ? a : b) + 0.5;
  if (!std::isfinite(size) || size >= 4294967296.0) {
    k->knobSize = 100;
    return;
  }
  const u32 s = static_cast<u32>(size);
  k->knobSize = s > 99 ? 100 : (s == 0 ? 1 : s);
}

u8 CLayoutKnifeEdit::op_EqualizeKnobs(u8 selectedOnly, u8 redraw) {
  const bool onlySelected = selectedOnly && m.AnyKnifeSelected();
  const u32 n = m.TotalKnifeCount();
  Knife* ref = nullptr;
  for (u32 i = 0; i < n; ++i) {
    Knife* k = m.NthKnife(i);
    if ((!onlySelected || k->selected) && Drawn(*k) && (!ref || k->span < ref->span)) ref = k;
  }
  if (!ref) return 0;
  u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubKnobSize);
  f64 du, dh;
  Ranges(*ref, du, dh);
  const f64 uRange = du * ref->knobSize / 100.0, hRange = dh * ref->knobSize / 100.0, span = ref->span;
  for (u32 i = 0; i < n; ++i) {
    Knife* k = m.NthKnife(i);
    if (k != ref && (!onlySelected || k->selected)) i_op_EqualizeKnobs_SetKnobSize(k, uRange, hRange, span);
  }
  if (redraw && m.view) m.view->RedrawSplitting();
  return 1;
}
