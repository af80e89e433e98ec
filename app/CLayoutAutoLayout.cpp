#include "CLayoutAutoLayout.h"

#include <cmath>

#include "CCutterServices.h"
#include "CLayoutKnifeEdit.h"
#include "CLayoutSelection.h"
#include "CLayoutShapes.h"
#include "CLayoutUndo.h"
#include "CLayoutView.h"

namespace {

const f64 kSin60 = std::sin(3.14159265358979323846 / 3.0);

// Lines from m to 1 - m: the first at m, then step by step, the last at
// 1 - m whatever the steps added up to.
void MarginLines(f32* P, u32 n, f64 m, f64 step) {
  f64 p = m;
  for (u32 k = 0; k < n; ++k, p += step) P[k] = static_cast<f32>(k + 1 == n ? 1.0 - m : p);
}

}  // namespace

template <typename F>
u8 CLayoutAutoLayout::i_Lay(const FRAME& f, F walk) {
  u32 count = 0;
  walk(0, [&](u32, u32) { ++count; });
  u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubGrid);
  // The extra knives' room before the grid changes: a failure leaves the
  // layout as it was.
  if (!m.spl_InitAuxKnivesMem(count) ||
      !m.spl_SplitEvenParts(static_cast<u16>(f.columns), static_cast<u16>(f.rows), 1, 1)) {
    m.AlertNoMemory();
    return 0;
  }
  sel.op_SetSelToAllKnives(1, 0, 1, 1, 1);
  sel.op_ShowHideSelectedKnives(0, 0);
  sel.op_SetSelToAllKnives(0, 0, 1, 1, 1);
  // Knots that may not be joined (a degenerate grid's) are left unjoined;
  // memory, reserved above, leaves its error in the model. The walk joins
  // each pair once, into a list the grid emptied.
  m.ResetError();
  walk(1, [&](u32 a, u32 b) { static_cast<void>(edit.i_op_AddAuxKnifeToKnots(a, b, 1)); });
  return m.IsError() ? 0 : 1;
}

void CLayoutAutoLayout::i_Finish() {
  const CCutterServices* c = m.cutter;
  if (c) shapes.OnCutterUpdateShape(c->mutS, c->mutH, c->mutU, 0, 0);
  if (m.view) m.view->RedrawRulers();
  m.spl_OnKnifeSelChanged();
  if (m.cutter) {
    m.cutter->ExtSetColumns(static_cast<u16>(m.verticalLineCount + 1));
    m.cutter->ExtSetRows(static_cast<u16>(m.horizontalLineCount + 1));
  }
}

template <typename F>
void CLayoutAutoLayout::i_Triangles(const FRAME& f, F add) {
  const u32 n = f.KnotColumns(), last = f.KnotRows() - 1u;
  const u32 R = f.KnotRows() - (f.marginRows ? 1u : 0u), C = n - (f.marginColumns ? 1u : 0u);
  const u32 cmin = f.marginColumns ? 1 : 0;
  u32 first = 1;
  for (u32 r = f.marginRows ? 1 : 0; r < R; ++r, first ^= 1) {
    for (u32 c = first + cmin; c < C; c += 2) {
      if (r != 0 && r != last && c + 2 < C) add(c + r * n, c + 2 + r * n);
      if (c > 0 && c - 1 >= cmin && r + 1 < R) add(c + r * n, c - 1 + (r + 1) * n);
      if (c + 1 < C && r + 1 < R) add(c + r * n, c + 1 + (r + 1) * n);
    }
  }
}

u8 CLayoutAutoLayout::AutoLayout_Triangles(u32 rows, u32 perRow, u8 regular) {
  if (rows > kMaxTriangleRows) rows = kMaxTriangleRows;
  if (perRow > kMaxTrianglesPerRow) perRow = kMaxTrianglesPerRow;
  FRAME f = {perRow + 1, rows, 0, 0, 0.0};
  const f64 W = m.imageWidth, Ht = m.imageHeight;
  if (regular && W > 0 && Ht > 0) {
    const f64 sh = Ht / (rows * kSin60), sw = W / (perRow * 0.5 + 0.5);
    if (sh < sw) {
      f = {perRow + 3, rows, 1, 0, (W - sh * (perRow * 0.5 + 0.5)) / 2.0 / W};
    } else if (sw < sh) {
      f = {perRow + 1, rows + 2, 0, 1, (Ht - rows * sw * kSin60) / 2.0 / Ht};
    }
  }
  if (!i_Lay(f, [&](u8, auto add) { i_Triangles(f, add); })) return 0;
  if (f.marginColumns) MarginLines(m.verticalLines, m.verticalLineCount, f.margin, (1 - 2 * f.margin) / (perRow + 1));
  if (f.marginRows) MarginLines(m.horizontalLines, m.horizontalLineCount, f.margin, (1 - 2 * f.margin) / rows);
  sel.op_SetSelToAllKnives(1, 0, 0, 0, 1);
  i_Finish();
  return 1;
}

template <typename F>
void CLayoutAutoLayout::i_Hexagons(const FRAME& f, u8 second, F add) {
  const i64 n = f.KnotColumns(), last = static_cast<i64>(f.KnotRows()) - 1;
  const i64 R = static_cast<i64>(f.KnotRows()) - (f.marginRows ? 1 : 0), C = n - (f.marginColumns ? 1 : 0);
  const i64 r0 = f.marginRows ? 1 : 0;
  for (i64 r = r0; r < R; ++r) {
    const i64 start = ((r - r0) % 2 == 0 ? 1 : -1) + (f.marginColumns ? 1 : 0);
    for (i64 c = start; c < C; c += 4) {
      if (c - 1 >= 0 && c < n && r + 1 < R) add(static_cast<u32>(c + r * n), static_cast<u32>(c - 1 + (r + 1) * n));
      if (c + 1 >= 0 && c + 2 < n && r + 1 < R)
        add(static_cast<u32>(c + 1 + r * n), static_cast<u32>(c + 2 + (r + 1) * n));
      if (second && r != 0 && r != last && c > 0 && c < C - 1)
        m.hKnives[c + (r - 1) * m.hKnivesPerLine].hidden = 0;  // a flat edge
    }
  }
}

u8 CLayoutAutoLayout::AutoLayout_Hexagons(u32 rows, u32 columns, u8 regular) {
  if (rows > kMaxHexagonRows) rows = kMaxHexagonRows;
  if (columns > kMaxHexagonColumns) columns = kMaxHexagonColumns;
  FRAME f = {2 * columns + 1, rows + 1, 0, 0, 0.0};
  const f64 W = m.imageWidth, Ht = m.imageHeight, across = columns * 1.5 + 0.5;
  if (regular && W > 0 && Ht > 0) {
    const f64 sh = Ht / ((rows + 1) * kSin60), sw = W / across;
    if (sh < sw) {
      f = {2 * columns + 3, rows + 1, 1, 0, (W - sh * across) / 2.0 / W};
    } else if (sw < sh) {
      f = {2 * columns + 1, rows + 3, 0, 1, (Ht - (rows + 1) * sw * kSin60) / 2.0 / Ht};
    }
  }
  if (!i_Lay(f, [&](u8 second, auto add) { i_Hexagons(f, second, add); })) return 0;
  // Lines in pairs, half a side and then a side apart.
  const f64 d = (f.marginColumns ? 1 - 2 * f.margin : 1.0) / across;
  const u32 V = m.verticalLineCount, from = f.marginColumns ? 1 : 0, to = f.marginColumns ? V - 1 : V;
  f64 p = f.marginColumns ? f.margin : 0.0;
  for (u32 k = from; k < to; ++k) m.verticalLines[k] = static_cast<f32>(p += (k - from) % 2 == 0 ? d / 2 : d);
  if (f.marginColumns) {
    m.verticalLines[0] = static_cast<f32>(f.margin);
    m.verticalLines[V - 1] = static_cast<f32>(1 - f.margin);
  }
  if (f.marginRows) MarginLines(m.horizontalLines, m.horizontalLineCount, f.margin, (1 - 2 * f.margin) / (rows + 1));
  sel.op_SetSelToHiddenOrShownKnives(0, 0);
  i_Finish();
  return 1;
}
