#include "CLayoutGrid.h"

#include <cstring>

#include "CCutterServices.h"
#include "CLayoutKnifeEdit.h"
#include "CLayoutShapes.h"
#include "CLayoutUndo.h"
#include "CLayoutView.h"

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;
typedef CLayoutModel::KNOT Knot;

// The old index along the changed axis of new index i, or -1 for the new
// band of an insertion.
i64 OldAlong(u32 i, u32 at, u8 insert) {
  if (insert) return i == at ? -1 : (i < at ? static_cast<i64>(i) : static_cast<i64>(i) - 1);
  return i < at ? static_cast<i64>(i) : static_cast<i64>(i) + 1;
}

// Calls f(new index, old index or -1) over a list of nx x ny records whose
// old rows held oldNx, the changed axis being x (column) or y.
template <typename F>
void ForMapped(u32 nx, u32 ny, u32 oldNx, u8 column, u8 insert, u32 at, F f) {
  for (u32 y = 0; y < ny; ++y) {
    for (u32 x = 0; x < nx; ++x) {
      const i64 ox = column ? OldAlong(x, at, insert) : x;
      const i64 oy = column ? y : OldAlong(y, at, insert);
      f(x + y * nx, ox < 0 || oy < 0 ? -1 : ox + oy * static_cast<i64>(oldNx));
    }
  }
}

}  // namespace

u8 CLayoutGrid::op_TestAllowRCInsertion(u8 column, f64 p) const {
  const u32 n = column ? m.verticalLineCount : m.horizontalLineCount;
  const f32* P = column ? m.verticalLines : m.horizontalLines;
  if (n >= kMaxInsertLines || !(p > 0.0 && p < 1.0)) return 0;
  // The stored position: a line on the border or on another line would
  // make a band of no width.
  const f32 pf = static_cast<f32>(p);
  if (pf <= 0.0f || pf >= 1.0f) return 0;
  for (u32 i = 0; i < n; ++i)
    if (P[i] == pf) return 0;
  return 1;
}

u8 CLayoutGrid::op_InsertRC(u8 column, f64 p) {
  if (!op_TestAllowRCInsertion(column, p)) return 0;
  const f32 pf = static_cast<f32>(p);
  const u32 n = column ? m.verticalLineCount : m.horizontalLineCount;
  const f32* P = column ? m.verticalLines : m.horizontalLines;
  u32 k = 0;
  while (k < n && P[k] <= pf) ++k;
  return i_ChangeLine(column, 1, k, pf);
}

u8 CLayoutGrid::op_DeleteRC(u8 column, u16 line) {
  if (line >= (column ? m.verticalLineCount : m.horizontalLineCount) || !m.cutter) return 0;
  return i_ChangeLine(column, 0, line, 0.0f);
}

u8 CLayoutGrid::i_KeepAside() {
  oldCounts[0] = m.verticalLineCount;
  oldCounts[1] = m.horizontalLineCount;
  std::memcpy(oldLines[0], m.verticalLines, sizeof(oldLines[0]));
  std::memcpy(oldLines[1], m.horizontalLines, sizeof(oldLines[1]));
  const u64 sizes[3] = {static_cast<u64>(m.knotCount) * sizeof(Knot), static_cast<u64>(m.vKnifeCount) * sizeof(Knife),
                        static_cast<u64>(m.hKnifeCount) * sizeof(Knife)};
  CKLF_Mem* blocks[3] = {&oldKnots, &oldV, &oldH};
  const void* from[3] = {m.knots, m.vKnives, m.hKnives};
  for (int i = 0; i < 3; ++i) {
    if (!m.GrowBlock(*blocks[i], sizes[i])) return 0;
    if (sizes[i]) std::memcpy(blocks[i]->GetPtr(), from[i], static_cast<size_t>(sizes[i]));
  }
  return 1;
}

u8 CLayoutGrid::i_ChangeLine(u8 column, u8 insert, u32 at, f32 p) {
  const u32 oldColumns = m.knotColumns, oldKnotCount = m.knotCount;
  // Everything that can fail comes first: the old layout aside, then the
  // new grid, which grows all its blocks before it changes anything.
  if (!i_KeepAside()) {
    m.AlertNoMemory();
    return 0;
  }
  const u32 V = m.verticalLineCount + (column ? (insert ? 1 : -1) : 0);
  const u32 H = m.horizontalLineCount + (column ? 0 : (insert ? 1 : -1));
  if (!m.spl_SplitEvenParts(static_cast<u16>(V + 1), static_cast<u16>(H + 1), 0, 0)) {
    m.AlertNoMemory();
    return 0;
  }
  std::memcpy(m.verticalLines, oldLines[0], sizeof(oldLines[0]));
  std::memcpy(m.horizontalLines, oldLines[1], sizeof(oldLines[1]));
  f32* P = column ? m.verticalLines : m.horizontalLines;
  const f32* old = oldLines[column ? 0 : 1];
  const u32 oldN = oldCounts[column ? 0 : 1];
  for (u32 i = 0, j = 0; i <= oldN; ++i) {
    if (insert && i == at) P[j++] = p;
    if (i < oldN && (insert || i != at)) P[j++] = old[i];
  }
  i_Rebuild(column, insert, at);
  i_RemapExtra(column, insert, at, oldColumns, oldKnotCount);
  i_Finish(column);
  return 1;
}

void CLayoutGrid::i_Rebuild(u8 column, u8 insert, u32 at) {
  const u32 V = m.verticalLineCount, H = m.horizontalLineCount, wasV = oldCounts[0];
  const Knot* knots = reinterpret_cast<const Knot*>(oldKnots.GetPtr());
  ForMapped(V + 2, H + 2, wasV + 2, column, insert, at + 1, [&](u32 i, i64 o) {
    m.knots[i].dx = o < 0 ? 0.0f : knots[o].dx;
    m.knots[i].dy = o < 0 ? 0.0f : knots[o].dy;
  });
  auto knife = [&](Knife& k, const Knife* from, i64 o) {
    if (o < 0) {
      shapes.SetFreshKnife(&k);
      return;
    }
    k = from[o];
    k.span = 0;
    k.polyline = nullptr;  // freed with the old grid; the next redraw makes one
    k.polylineCount = 0;
    k.moving = 0;
  };
  const Knife* v = reinterpret_cast<const Knife*>(oldV.GetPtr());
  ForMapped(V, H + 1, wasV, column, insert, at, [&](u32 i, i64 o) { knife(m.vKnives[i], v, o); });
  const Knife* h = reinterpret_cast<const Knife*>(oldH.GetPtr());
  ForMapped(V + 1, H, wasV + 1, column, insert, at, [&](u32 i, i64 o) { knife(m.hKnives[i], h, o); });
}

void CLayoutGrid::i_RemapExtra(u8 column, u8 insert, u32 at, u32 oldColumns, u32 oldKnotCount) {
  u32 marked = 0;
  const i64 n = m.knotColumns;
  for (u32 i = 0; i < m.xKnifeCount; ++i) {
    CLayoutModel::AUXKNIFESTRUCT& x = m.xKnives[i];
    const i32 a = CLayoutModel::CovertKnotID(x.knotA, oldColumns, oldKnotCount, insert, column, static_cast<u16>(at));
    const i32 b = CLayoutModel::CovertKnotID(x.knotB, oldColumns, oldKnotCount, insert, column, static_cast<u16>(at));
    // A knife that lost a knot goes, and so does one that now joins
    // neighbours (it would double a grid knife).
    const i64 d = static_cast<i64>(a) - b;
    x.deleteMark = a < 0 || b < 0 || d == 0 || d == 1 || d == -1 || d == n || d == -n;
    if (x.deleteMark) {
      ++marked;
      continue;
    }
    x.knotA = static_cast<u32>(a);
    x.knotB = static_cast<u32>(b);
  }
  if (marked) edit.op_DelAuxKnives(0, nullptr, 1, 0);
}

void CLayoutGrid::i_Finish(u8 column) {
  if (m.cutter) {
    if (column) m.cutter->ExtSetColumns(static_cast<u16>(m.verticalLineCount + 1));
    else m.cutter->ExtSetRows(static_cast<u16>(m.horizontalLineCount + 1));
  }
  m.spl_OnKnifeSelChanged();
  if (m.view) {
    m.view->RedrawSplitting();
    m.view->RedrawRulers();
  }
}

u8 CLayoutGrid::op_CenterSplitingHandle(u8 horizontal, u16 line, u8 redraw) {
  u.uncm_PreSave(CLayoutUndo::kLines);
  f32* P = horizontal ? m.horizontalLines : m.verticalLines;
  const u32 n = horizontal ? m.horizontalLineCount : m.verticalLineCount;
  if (line >= n) return 0;
  if (n < 2) P[0] = 0.5f;
  else if (line == 0) P[0] = P[1] / 2;
  else if (line == n - 1) P[line] = (P[line - 1] + 1.0f) / 2;
  else P[line] = (P[line - 1] + P[line + 1]) / 2;
  u.uncm_SaveState(CLayoutUndo::kLines, CLayoutUndo::kSubNone);
  if (redraw && m.view) {
    m.view->RedrawRulers();
    m.view->RedrawSplitting();
  }
  return 1;
}

void CLayoutGrid::op_ArrangeSplitingHandles(u8 horizontal, u8 redraw) {
  u.uncm_PreSave(CLayoutUndo::kLines);
  if (horizontal) CLayoutModel::EvenLinePositions(m.horizontalLines, m.horizontalLineCount);
  else CLayoutModel::EvenLinePositions(m.verticalLines, m.verticalLineCount);
  u.uncm_SaveState(CLayoutUndo::kLines, CLayoutUndo::kSubNone);
  if (redraw && m.view) {
    m.view->RedrawRulers();
    m.view->RedrawSplitting();
  }
}

u8 CLayoutGrid::OnCutterUpdateRowsCols(u32 rows, u32 columns) {
  if (rows == 0xFFFFFFFF) rows = m.horizontalLineCount + 1u;
  if (columns == 0xFFFFFFFF) columns = m.verticalLineCount + 1u;
  const u32 V = CLayoutModel::LinesFor(columns), H = CLayoutModel::LinesFor(rows);
  if (V != m.verticalLineCount || H != m.horizontalLineCount)
    u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubGrid);
  if (!m.spl_SplitEvenParts(static_cast<u16>(columns == 0 ? 0 : V + 1), static_cast<u16>(rows == 0 ? 0 : H + 1), 0,
                            1)) {
    m.AlertNoMemory();
    return 0;
  }
  const CCutterServices* c = m.cutter;
  if (c) shapes.OnCutterUpdateShape(c->mutS, c->mutH, c->mutU, 0, 0);
  if (m.view) m.view->RedrawRulers();
  m.spl_OnKnifeSelChanged();
  return 1;
}
