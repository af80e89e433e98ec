// The main window's drags: a split line along its ruler, a knot between
// its neighbouring lines (only what moved is redrawn), and in Puzzle mode
// the rectangle or lasso outline over the preview with the selection it
// makes on release.
#include <cmath>

#include "CWnd_Main.h"

namespace {

const kltRGBA8 kNoAlpha = {0, 0, 0, 0};
const kltRGBA8 kFullAlpha = {0, 0, 0, 255};
const u8 kAlphaPlane = 8;

kltRECT_s Union(kltRECT_s a, kltRECT_s b) {
  if (klIsNullRect(a)) return b;
  if (klIsNullRect(b)) return a;
  return {a.left < b.left ? a.left : b.left, a.top < b.top ? a.top : b.top, a.right > b.right ? a.right : b.right,
          a.bottom > b.bottom ? a.bottom : b.bottom};
}

kltRECT_s Intersect(kltRECT_s a, kltRECT_s b) {
  return {a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top, a.right < b.right ? a.right : b.right,
          a.bottom < b.bottom ? a.bottom : b.bottom};
}

bool Empty(kltRECT_s r) { return r.left >= r.right || r.top >= r.bottom; }

// A knot's offset for a pointer at `at` along its ruler: toward the next
// line (or the border) when at or past its own line, else toward the
// previous one, as a share of that gap within -1..1.
f32 KnotOffset(i32 at, u32 c, u32 n, const f32* P, f64 scale, i32 origin) {
  const f64 L = P[c - 1] * scale - origin;
  const i32 d = static_cast<i32>(at - L);
  if (d >= 0) {
    const f64 gap = scale * ((c < n - 2 ? P[c] : 1.0) - P[c - 1]);
    return gap < 0.0001 ? 0.0f : static_cast<f32>(d / gap > 1.0 ? 1.0 : d / gap);
  }
  const f64 gap = scale * (P[c - 1] - (c > 1 ? P[c - 2] : 0.0));
  return gap < 0.0001 ? 0.0f : static_cast<f32>(d / gap < -1.0 ? -1.0 : d / gap);
}

u32 Pack(i32 x, i32 y) { return static_cast<u32>(x) * 65536u + (static_cast<u32>(y) & 0xFFFFu); }
i32 PackedX(u32 p) { return static_cast<i16>(p >> 16); }
i32 PackedY(u32 p) { return static_cast<i16>(p & 0xFFFFu); }

}  // namespace

void CWnd_Main::i_RenderPreviewPart(kltRECT_s local) {
  if (klIsNullRect(local)) return;
  const kltRECT_s r = Intersect({local.left + m_previewRect.left, local.top + m_previewRect.top,
                                 local.right + m_previewRect.left, local.bottom + m_previewRect.top},
                                m_previewRect);
  if (Empty(r)) return;
  RenderRect(r);
  UpdateRect(r);
}

void CWnd_Main::i_ShowOverlays() {
  if (!m_puzzle.layoutMode) return;
  m_movingKnivesLayer.SetVisible(m_editor.drawing.selectedVisible);
  m_knotHandlesLayer.SetVisible(m_editor.drawing.handlesVisible);
}

// ---------------------------------------------------------------------------
// A split line

void CWnd_Main::i_StartLineDrag(u8 left, u32 handle, i16 x, i16 y) {
  const CLayoutDrawing& d = m_editor.drawing;
  const kltRECT_s r = m_splitRulerRect[left];
  m_editor.undo.uncm_PreSave(CLayoutUndo::kLines);
  m_drag.lineDragRow = left;
  m_drag.lineDragHandle = static_cast<u16>(handle);
  m_drag.lineDragLine = d.markerLines[left][handle];
  m_drag.lineDragGrab = static_cast<i16>((left ? y - r.top : x - r.left) - d.markers[left][handle].position);
  m_drag.lineStart = (left ? m_editor.model.horizontalLines : m_editor.model.verticalLines)[m_drag.lineDragLine];
  m_drag.lineDrag = 1;
  UpdateInfoPanel(klNullPOS, 1);
}

// The handle follows the pointer inside the preview; its line stays 3
// image pixels from its neighbours.
void CWnd_Main::i_MoveLine(i16 x, i16 y) {
  CLayoutModel& m = m_editor.model;
  const u8 left = m_drag.lineDragRow;
  const kltRECT_s r = m_splitRulerRect[left];
  i32 p = (left ? y - r.top : x - r.left) - m_drag.lineDragGrab;
  const i32 lo = left ? m_previewRect.top - r.top : m_previewRect.left - r.left;
  const i32 hi = (left ? m_previewRect.bottom - r.top : m_previewRect.right - r.left) - 1;
  p = p < lo ? lo : p > hi ? hi : p;
  const f64 f = m_editor.drawing.RulerOffsetToPosition(left ? 0 : 1, p);
  const u32 size = left ? m.imageHeight : m.imageWidth, n = left ? m.horizontalLineCount : m.verticalLineCount;
  f32* P = left ? m.horizontalLines : m.verticalLines;
  const u32 j = m_drag.lineDragLine;
  if (j >= n || size == 0) return;
  const f64 gap = 3.0 / size;
  const f64 lower = j == 0 ? 0.0 : P[j - 1] + gap, upper = j + 1 == n ? 1.0 : P[j + 1] - gap;
  f64 v = f > upper ? upper : f;
  v = v < lower ? lower : v;
  P[j] = static_cast<f32>(v);
  CLayoutDrawing& d = m_editor.drawing;
  d.spl_DoRedrawBySimpleLines(m.verticalLineCount, m.horizontalLineCount, m.verticalLines, m.horizontalLines,
                              d.splitClip, d.splitArea);
  RedrawRulers();
  i_ShowOverlays();
  i_RedrawPreviewRect();
  UpdateInfoPanel(klNullPOS, 1);
}

void CWnd_Main::i_EndLineDrag() {
  m_drag.lineDrag = 0;
  RedrawSplitting();
  RedrawRulers();
  m_editor.undo.uncm_SaveState(CLayoutUndo::kLines, CLayoutUndo::kSubNone);
  UpdateInfoPanel(klNullPOS, 1);
}

// ---------------------------------------------------------------------------
// A knot

// The grid knives that end at the knot and the extra knives joined to it;
// 0 without memory for the list (none is marked).
u8 CWnd_Main::i_MarkMovingKnives(u32 knot) {
  CLayoutModel& m = m_editor.model;
  m_movingKnives.Empty();
  for (u32 i = 0; i < m.TotalKnifeCount(); ++i) m.NthKnife(i)->moving = 0;
  const u32 n = m.knotColumns, V = m.verticalLineCount, H = m.horizontalLineCount;
  const u32 c = knot % n, r = knot / n;
  u8 listed = 1;
  const auto add = [&](u32 id) { listed = listed && m_movingKnives.Add(id) >= 0; };
  if (c >= 1 && c <= V && r >= 1) add((c - 1) + (r - 1) * V);
  if (c >= 1 && c <= V && r <= H) add((c - 1) + r * V);
  if (r >= 1 && r <= H && c >= 1) add(CLayoutModel::kHorizontalIdBase + (c - 1) + (r - 1) * (V + 1));
  if (r >= 1 && r <= H && c <= V) add(CLayoutModel::kHorizontalIdBase + c + (r - 1) * (V + 1));
  for (u32 i = 0; i < m.xKnifeCount; ++i)
    if (m.xKnives[i].knotA == knot || m.xKnives[i].knotB == knot) add(CLayoutModel::kExtraIdBase + i);
  if (!listed) {
    m_movingKnives.Empty();
    return 0;
  }
  for (u32 i = 0; i < m_movingKnives.GetSize(); ++i)
    if (CLayoutModel::KNIFESTRUCT* k = m.GetKnife(m_movingKnives[i])) k->moving = 1;
  return 1;
}

// Where a moving knife is drawn (preview-local, with the line's width);
// the whole view when its curve is not known.
kltRECT_s CWnd_Main::i_KnifeBox(u32 id) {
  const CLayoutModel::KNIFESTRUCT* k = m_editor.model.GetKnife(id);
  const kltRECT_s view = {0, 0, m_previewRect.right - m_previewRect.left, m_previewRect.bottom - m_previewRect.top};
  if (!k || k->polylineCount == 0) return view;
  const f64 l = std::floor(k->polylineMin.x) - 2, t = std::floor(k->polylineMin.y) - 2;
  const f64 r = std::ceil(k->polylineMax.x) + 3, b = std::ceil(k->polylineMax.y) + 3;
  if (!(std::fabs(l) < 1e9 && std::fabs(t) < 1e9 && std::fabs(r) < 1e9 && std::fabs(b) < 1e9)) return view;
  return {static_cast<i32>(l), static_cast<i32>(t), static_cast<i32>(r), static_cast<i32>(b)};
}

void CWnd_Main::i_StartKnotDrag(u32 knot, i16 x, i16 y, kltRECT_s handle) {
  CLayoutModel& m = m_editor.model;
  m_editor.undo.uncm_PreSave(CLayoutUndo::kKnots);
  m_drag.knotMoved = 0;
  m_drag.knotDrag = 1;
  m_drag.knotDragId = knot;
  m_drag.knotDragGrab = {handle.left - (x - m_previewRect.left), handle.top - (y - m_previewRect.top)};
  m_drag.knotStart[0] = m.knots[knot].dx;
  m_drag.knotStart[1] = m.knots[knot].dy;
  if (!i_MarkMovingKnives(knot)) {
    m_drag.knotDrag = 0;
    Alert(kMemoryProblem, kErrorTitle);
    return;
  }
  CLayoutDrawing& d = m_editor.drawing;
  d.spl_DoRedrawSplitting(d.splitClip, d.splitArea, 0);
  // The handle layer holds only the moving knives while the knot moves.
  m_knotHandlesLayer.Set(kNoAlpha, kAlphaPlane);
  d.spl_DoRedrawOnKnotMoving(knot);
  i_ShowOverlays();
  i_RedrawPreviewRect();
}

void CWnd_Main::i_MoveKnot(i16 x, i16 y) {
  CLayoutModel& m = m_editor.model;
  const u32 id = m_drag.knotDragId;
  if (m.knotColumns == 0 || id >= m.knotCount) return;
  m_drag.knotMoved = 1;
  CLayoutDrawing& d = m_editor.drawing;
  // Each knife's place before and after is rendered on its own: around a
  // knot they span two cells each way, their union much more.
  const u32 count = m_movingKnives.GetSize();
  m_movingBoxes.resize(count);
  for (u32 i = 0; i < count; ++i) m_movingBoxes[i] = i_KnifeBox(m_movingKnives[i]);
  const u32 n = m.knotColumns, rows = m.knotRows, c = id % n, r = id / n;
  CLayoutModel::KNOT& k = m.knots[id];
  if (c > 0 && c + 1 < n)
    k.dx = KnotOffset(x - m_splitRulerRect[0].left, c, n, m.verticalLines, d.AreaWidth(), m_viewOffset.x);
  if (r > 0 && r + 1 < rows)
    k.dy = KnotOffset(y - m_splitRulerRect[1].top, r, rows, m.horizontalLines, d.AreaHeight(), m_viewOffset.y);
  d.spl_DoRedrawOnKnotMoving(id);
  m_drag.knotRenderArea = 0;
  const kltRECT_s view = {0, 0, m_previewRect.right - m_previewRect.left, m_previewRect.bottom - m_previewRect.top};
  for (u32 i = 0; i < count; ++i) {
    const kltRECT_s changed = Intersect(Union(m_movingBoxes[i], i_KnifeBox(m_movingKnives[i])), view);
    if (Empty(changed)) continue;
    m_drag.knotRenderArea += static_cast<u64>(changed.right - changed.left) * static_cast<u64>(changed.bottom - changed.top);
    i_RenderPreviewPart(changed);
  }
}

void CWnd_Main::i_EndKnotDrag() {
  CLayoutModel& m = m_editor.model;
  m_drag.knotDrag = 0;
  for (u32 i = 0; i < m_movingKnives.GetSize(); ++i)
    if (CLayoutModel::KNIFESTRUCT* k = m.GetKnife(m_movingKnives[i])) k->moving = 0;
  m_movingKnives.Empty();
  // A press and release without a move is a click on the knot.
  if (!m_drag.knotMoved) m.i_cmop_KnotClickToSelect(m_drag.knotDragId);
  RedrawSplitting();
  m_editor.undo.uncm_SaveState(CLayoutUndo::kKnots, CLayoutUndo::kSubNone);
}

void CWnd_Main::i_CancelLayoutDrag() {
  CLayoutModel& m = m_editor.model;
  if (m_drag.lineDrag) {
    f32* P = m_drag.lineDragRow ? m.horizontalLines : m.verticalLines;
    P[m_drag.lineDragLine] = m_drag.lineStart;
    i_EndLineDrag();
    return;
  }
  if (!m_drag.knotDrag || m_drag.knotDragId >= m.knotCount) return;
  m.knots[m_drag.knotDragId].dx = m_drag.knotStart[0];
  m.knots[m_drag.knotDragId].dy = m_drag.knotStart[1];
  // Not a click either: the knot's selection stays.
  m_drag.knotMoved = 1;
  i_EndKnotDrag();
}

// ---------------------------------------------------------------------------
// The outline of a drag selection (Puzzle mode)

// The outline's colour is the preview's picture in two levels, inverted:
// dark where the picture is light, so the frame shows on any piece. The
// outline itself is drawn again on a clear layer.
void CWnd_Main::i_pmop_PrepareSelLayer() {
  CKLF_Layer* picture = GetLayer(0u);
  if (!picture) return;
  m_movingKnivesLayer.Set(picture, m_previewRect.left, m_previewRect.top, klNullRect);
  m_movingKnivesLayer.Set(kNoAlpha, kAlphaPlane);
  m_drag.outline = klNullRect;
  u8* planes[5];
  u32 stride = 0;
  if (!m_movingKnivesLayer.GetImageChannels(planes, stride)) return;
  const u32 w = m_movingKnivesLayer.GetImageWidth(), h = m_movingKnivesLayer.GetImageHeight();
  for (u32 p = 0; p < 3; ++p)
    for (u32 y = 0; y < h; ++y) {
      u8* row = planes[p] + static_cast<size_t>(y) * stride;
      for (u32 x = 0; x < w; ++x) row[x] = row[x] < 128 ? 255 : 0;
    }
}

void CWnd_Main::i_pmop_RedrawDragSelection(i16 x, i16 y) {
  CKLF_Layer& layer = m_movingKnivesLayer;
  const kltRECT_s old = m_drag.outline;
  layer.Set(kNoAlpha, kAlphaPlane, old);
  const kltRECT_s view = m_previewRect;
  const i32 ox = view.left, oy = view.top;
  kltRECT_s box = klNullRect;
  if (m_drag.dragRectMode) {
    const kltPOS a = m_drag.piecePressPos;
    const kltRECT_s r = Intersect({a.x < x ? a.x : x, a.y < y ? a.y : y, (a.x > x ? a.x : x) + 1, (a.y > y ? a.y : y) + 1},
                                  view);
    if (!Empty(r)) {
      box = {r.left - ox, r.top - oy, r.right - ox, r.bottom - oy};
      const kltRECT_s sides[4] = {{box.left, box.top, box.right, box.top + 1},
                                  {box.left, box.bottom - 1, box.right, box.bottom},
                                  {box.left, box.top, box.left + 1, box.bottom},
                                  {box.right - 1, box.top, box.right, box.bottom}};
      for (const kltRECT_s& s : sides) layer.Set(kFullAlpha, kAlphaPlane, s);
    }
  } else {
    // The lasso stays on the preview.
    const i32 px = x < view.left ? view.left : x >= view.right ? view.right - 1 : x;
    const i32 py = y < view.top ? view.top : y >= view.bottom ? view.bottom - 1 : y;
    const u32 n = m_lassoPoints.GetSize();
    const u32 last = n ? m_lassoPoints[n - 1] : 0;
    if ((!n || std::abs(PackedX(last) - px) > 1 || std::abs(PackedY(last) - py) > 1) &&
        m_lassoPoints.Add(Pack(px, py)) < 0) {
      i_CancelDragSelection();
      Alert(kMemoryProblem, kErrorTitle);
      return;
    }
    m_outlineDraw.SetDestination(&layer);
    m_outlineDraw.SetClipRect(klNullRect);
    m_outlineDraw.SetAntiAlias(0);
    m_outlineDraw.SetValue(255);
    const u32 count = m_lassoPoints.GetSize();
    for (u32 i = 0; i < count; ++i) {
      const u32 a = m_lassoPoints[i], b = m_lassoPoints[(i + 1) % count];
      const i32 ax = PackedX(a) - ox, ay = PackedY(a) - oy, bx = PackedX(b) - ox, by = PackedY(b) - oy;
      // A side that cannot be drawn (no memory) is left out of the outline.
      if (ax == bx && ay == by) layer.Set(kFullAlpha, kAlphaPlane, {ax, ay, ax + 1, ay + 1});
      else if (!m_outlineDraw.DrawHQLine(ax + 0.5, ay + 0.5, bx + 0.5, by + 0.5, 1.0, 0, 1, 0)) continue;
      box = Union(box, {ax - 1, ay - 1, ax + 2, ay + 2});
    }
  }
  m_drag.outline = box;
  i_RenderPreviewPart(Union(old, box));
}

void CWnd_Main::i_StartDragSelection(u8 rectangle, i16 x, i16 y) {
  i_pmop_PrepareSelLayer();
  m_drag.dragRectMode = rectangle;
  m_drag.dragSelecting = 1;
  m_lassoPoints.Empty();
  if (!rectangle &&
      (m_lassoPoints.Add(Pack(m_drag.piecePressPos.x, m_drag.piecePressPos.y)) < 0 || m_lassoPoints.Add(Pack(x, y)) < 0)) {
    i_CancelDragSelection();
    Alert(kMemoryProblem, kErrorTitle);
    return;
  }
  m_movingKnivesLayer.SetVisible(1);
  i_pmop_RedrawDragSelection(x, y);
}

void CWnd_Main::i_EndDragSelection(i16 x, i16 y, u8 option) {
  // The outline goes first: the selection's redraw would draw it again.
  m_drag.dragSelecting = 0;
  m_movingKnivesLayer.SetVisible(0);
  const kltPOS a = m_drag.piecePressPos;
  if (!m_drag.dragRectMode) {
    i_PreUndo(kUndoPieces);
    pmop_Sel_SelectFreeRgnLocal(&m_lassoPoints, !option, option, 1);
    i_PostUndo(kUndoPieces);
  } else {
    const kltRECT_s r = Intersect({a.x < x ? a.x : x, a.y < y ? a.y : y, (a.x > x ? a.x : x) + 1, (a.y > y ? a.y : y) + 1},
                                  m_previewRect);
    if (!Empty(r)) {
      i_PreUndo(kUndoPieces);
      pmop_Sel_SelectRectLocal({r.left - m_previewRect.left, r.top - m_previewRect.top, r.right - m_previewRect.left,
                                r.bottom - m_previewRect.top},
                               !option, option, 1);
      i_PostUndo(kUndoPieces);
    }
  }
  i_RedrawPreviewRect();
}

void CWnd_Main::i_CancelDragSelection() {
  m_drag.dragSelecting = 0;
  m_drag.piecePressed = 0;
  m_movingKnivesLayer.SetVisible(0);
  i_RedrawPreviewRect();
}

// ---------------------------------------------------------------------------
// Selections in preview coordinates

void CWnd_Main::pmop_Sel_SelectRectLocal(kltRECT_s rect, u8 add, u8 remove, u8 redraw) {
  const kltPOS a = m_preview.GetImageCoorsByPreviewCoorsNoOverflowCheck({rect.left, rect.top});
  kltPOS b = m_preview.GetImageCoorsByPreviewCoorsNoOverflowCheck({rect.right, rect.bottom});
  // Magnified, the last preview pixel's image pixel is inside too.
  const kltPOS last = m_preview.GetImageCoorsByPreviewCoorsNoOverflowCheck({rect.right - 1, rect.bottom - 1});
  if (b.x <= last.x) b.x = last.x + 1;
  if (b.y <= last.y) b.y = last.y + 1;
  m_puzzle.pmop_Sel_SelectRect({a.x, a.y, b.x, b.y}, add, remove, redraw);
}

void CWnd_Main::pmop_Sel_SelectFreeRgnLocal(const CKLF_DWordArray* points, u8 add, u8 remove, u8 redraw) {
  const u32 n = points ? points->GetSize() : 0;
  if (n == 0) return;
  CKLF_SDWordArray xs, ys;
  if (!xs.SetArraySize(n) || !ys.SetArraySize(n)) return Alert(kMemoryProblem, kErrorTitle);
  for (u32 i = 0; i < n; ++i) {
    const u32 p = (*points)[i];
    const kltPOS at = m_preview.GetImageCoorsByPreviewCoorsNoOverflowCheck(
        {PackedX(p) - m_previewRect.left, PackedY(p) - m_previewRect.top});
    xs[i] = at.x;
    ys[i] = at.y;
  }
  m_puzzle.pmop_Sel_SelectFreeRgn(&xs[0], &ys[0], n, add, remove, redraw);
}
