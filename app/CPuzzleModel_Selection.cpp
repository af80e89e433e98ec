// Piece selection (selected bytes and the selection map in step) and the
// pieces' visibility.
#include <cstdlib>
#include <cstring>

#include "CKLF_2DMath.h"
#include "CPuzzleModel.h"

namespace {

typedef CTessarette::SPLITEDCELL Cell;

const char kSelecting[] = "Selecting is in progress:";

kltRECT_s Intersect(kltRECT_s a, kltRECT_s b) {
  return {a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top, a.right < b.right ? a.right : b.right,
          a.bottom < b.bottom ? a.bottom : b.bottom};
}

bool Empty(kltRECT_s r) { return r.left >= r.right || r.top >= r.bottom; }

// The piece's mask byte at an image point inside its rectangle.
u8 MaskAt(const Cell& c, i32 x, i32 y) {
  const u32 w = static_cast<u32>(c.rect.right - c.rect.left);
  return c.maskBlock->GetPtr()[static_cast<size_t>(y - c.rect.top) * w + static_cast<u32>(x - c.rect.left)];
}

}  // namespace

i32 CPuzzleModel::GetPieceByXY(kltPOS p) const {
  for (u32 i = 0; i < i_Count(); ++i) {
    const Cell& c = *m_engine.GetPiece(i);
    if (p.x >= c.rect.left && p.x < c.rect.right && p.y >= c.rect.top && p.y < c.rect.bottom && MaskAt(c, p.x, p.y))
      return static_cast<i32>(i);
  }
  return -1;
}

void CPuzzleModel::i_SelectionRedraw() {
  pmop_Extras(1, 0);
  m_port.RedrawPreview(1);
  OnCommonFXChanged();
}

void CPuzzleModel::i_PaintPiece(u32 index, u8 value) {
  const Cell& c = *m_engine.GetPiece(index);
  const kltRECT_s r = Intersect(c.rect, {0, 0, static_cast<i32>(m_width), static_cast<i32>(m_height)});
  for (i32 y = r.top; y < r.bottom; ++y) {
    u8* row = selectionMap + static_cast<size_t>(y) * m_width;
    for (i32 x = r.left; x < r.right; ++x)
      if (MaskAt(c, x, y)) row[x] = value;
  }
}

void CPuzzleModel::pmop_Sel_SelectAllPieces(u8 redraw) {
  if (!selectionMap || !i_Count()) return;
  const size_t area = static_cast<size_t>(m_width) * m_height;
  for (size_t i = 0; i < area; ++i) selectionMap[i] = !m_alpha || m_alpha[i] ? 255 : 0;
  for (u32 i = 0; i < i_Count(); ++i) m_engine.GetPiece(i)->selected = 1;
  pieceAnchor = -1;
  if (redraw) i_SelectionRedraw();
}

void CPuzzleModel::pmop_Sel_DeselectAllPieces(u8 redraw) {
  if (!selectionMap || !i_Count()) return;
  std::memset(selectionMap, 0, static_cast<size_t>(m_width) * m_height);
  for (u32 i = 0; i < i_Count(); ++i) m_engine.GetPiece(i)->selected = 0;
  pieceAnchor = -1;
  if (redraw) i_SelectionRedraw();
}

void CPuzzleModel::pmop_Sel_SetSelectionToPiece(i32 piece, u8 add, u8 remove, u8 redraw) {
  if (!selectionMap || !i_Valid(piece)) return;
  if (!add && !remove) {
    std::memset(selectionMap, 0, static_cast<size_t>(m_width) * m_height);
    for (u32 i = 0; i < i_Count(); ++i) m_engine.GetPiece(i)->selected = 0;
  }
  m_engine.GetPiece(static_cast<u32>(piece))->selected = remove ? 0 : 1;
  i_PaintPiece(static_cast<u32>(piece), remove ? 0 : 255);
  if (redraw) i_SelectionRedraw();
}

void CPuzzleModel::pmop_Sel_SelectSplitter(u8 add, u8 redraw) {
  if (layoutMode || !m_engine.HasSplitterPiece() || !i_Count()) return;
  pmop_Sel_SetSelectionToPiece(0, add, add ? 0 : 1, redraw);
}

void CPuzzleModel::pmop_Sel_InvertPiecesSelection(u8 redraw) {
  const u32 n = i_Count();
  if (!selectionMap || !n) return;
  std::memset(selectionMap, 0, static_cast<size_t>(m_width) * m_height);
  u32 selected = 0;
  for (u32 i = 0; i < n; ++i) {
    Cell& c = *m_engine.GetPiece(i);
    c.selected = c.selected ? 0 : 1;
    selected += c.selected;
  }
  pieceAnchor = -1;
  if (selected == n) return pmop_Sel_SelectAllPieces(redraw);
  if (selected == 0) {
    if (redraw) m_port.RedrawPreview(0);
    return;
  }
  for (u32 i = 0; i < n; ++i)
    if (m_engine.GetPiece(i)->selected) i_PaintPiece(i, 255);
  if (redraw) i_SelectionRedraw();
}

void CPuzzleModel::pmop_Sel_RandomSelection(u8 select, u8 redraw) {
  const u32 n = i_Count();
  if (!selectionMap || !n) return;
  select = select ? 1 : 0;
  Progress progress(m_port, kSelecting);
  progress.Report(0);
  CKLF_DWordArray candidates;
  for (u32 i = 0; i < n; ++i)
    if (m_engine.GetPiece(i)->selected != select && candidates.Add(i) < 0) {
      progress.Report(100);
      return (void)i_NoMemoryForList(candidates);
    }
  progress.Report(5);
  pieceAnchor = -1;
  const u32 count = candidates.GetSize();
  CKLF_Mem used;
  if (count == 0) return progress.Report(100);
  if (!used.Zalloc(count)) {
    progress.Report(100);
    return (void)i_NoMemoryForList(candidates);
  }
  const u32 wanted = n < 20 ? 1 : n / 20;
  const u32 picks = count < wanted ? count : wanted;
  for (u32 k = 1; k <= picks; ++k) {
    progress.Report(5 + static_cast<u32>(80ull * k / picks));
    u32 at = (static_cast<u32>(std::rand()) * static_cast<u32>(std::rand())) % count;
    u32 probes = 0;
    while (used.GetPtr()[at] && probes++ < count) at = at + 1 < count ? at + 1 : 0;
    if (used.GetPtr()[at]) break;
    pmop_Sel_SetSelectionToPiece(static_cast<i32>(candidates[at]), select, select ? 0 : 1, 0);
    used.GetPtr()[at] = 1;
  }
  progress.Report(85);
  if (redraw) i_SelectionRedraw();
  progress.Report(100);
}

kltRECT_s CPuzzleModel::i_pmop_GetPieceRealRect(i32 piece) const {
  if (!i_Valid(piece)) return klNullRect;
  const Cell& c = *m_engine.GetPiece(static_cast<u32>(piece));
  kltRECT_s r = {1000000, 1000000, -1000000, -1000000};
  for (i32 y = c.rect.top; y < c.rect.bottom; ++y)
    for (i32 x = c.rect.left; x < c.rect.right; ++x) {
      if (!MaskAt(c, x, y)) continue;
      if (x < r.left) r.left = x;
      if (x >= r.right) r.right = x + 1;
      if (y < r.top) r.top = y;
      if (y >= r.bottom) r.bottom = y + 1;
    }
  return r;
}

void CPuzzleModel::pmop_Sel_PieceBlockSelection(u8 add, u8 remove, i32 a, i32 b, u8 redraw) {
  if (!selectionMap || !i_Valid(a) || !i_Valid(b)) return;
  const kltRECT_s ra = i_pmop_GetPieceRealRect(a), rb = i_pmop_GetPieceRealRect(b);
  const kltRECT_s box = {ra.left < rb.left ? ra.left : rb.left, ra.top < rb.top ? ra.top : rb.top,
                         ra.right > rb.right ? ra.right : rb.right, ra.bottom > rb.bottom ? ra.bottom : rb.bottom};
  if (Empty(box)) return;
  const u8 target = add ? 1 : 0;
  for (u32 i = i_FirstSelectable(); i < i_Count(); ++i) {
    const Cell& c = *m_engine.GetPiece(i);
    if (c.selected == target) continue;
    const kltRECT_s r = Intersect(c.rect, box);
    u64 inside = 0;
    for (i32 y = r.top; y < r.bottom; ++y)
      for (i32 x = r.left; x < r.right; ++x) inside += MaskAt(c, x, y) ? 1 : 0;
    if (2 * inside > c.pixelCount) pmop_Sel_SetSelectionToPiece(static_cast<i32>(i), add, remove, 0);
  }
  if (redraw) i_SelectionRedraw();
}

u8 CPuzzleModel::i_PieceTouchesRect(u32 index, kltRECT_s r) const {
  const Cell& c = *m_engine.GetPiece(index);
  const kltRECT_s s = Intersect(c.rect, r);
  for (i32 y = s.top; y < s.bottom; ++y)
    for (i32 x = s.left; x < s.right; ++x)
      if (MaskAt(c, x, y)) return 1;
  return 0;
}

void CPuzzleModel::pmop_Sel_SelectRect(kltRECT_s rect, u8 add, u8 remove, u8 redraw) {
  if (!selectionMap || !i_Count()) return;
  pieceAnchor = -1;
  const kltRECT_s r = Intersect(rect, {0, 0, static_cast<i32>(m_width), static_cast<i32>(m_height)});
  if (Empty(r)) return;
  const u8 target = remove ? 0 : 1;
  for (u32 i = i_FirstSelectable(); i < i_Count(); ++i)
    if (m_engine.GetPiece(i)->selected != target && i_PieceTouchesRect(i, r))
      pmop_Sel_SetSelectionToPiece(static_cast<i32>(i), add, remove, 0);
  if (redraw) i_SelectionRedraw();
}

u8 CPuzzleModel::i_pmop_PtInRgn(i32 x, i32 y, const i32* xs, const i32* ys, u32 count) {
  u8 inside = 0;
  for (u32 i = 0, j = count - 1; i < count; j = i++) {
    const i64 xi = xs[i], yi = ys[i], xj = xs[j], yj = ys[j];
    if ((yi <= y && y < yj) || (yi > y && y >= yj)) {
      const i64 xc = xi + (xj - xi) * (y - yi) / (yj - yi);
      if (xc > x) inside ^= 1;
    }
  }
  return inside;
}

u8 CPuzzleModel::i_pmop_RectRgnIntersection(kltRECT_s r, const i32* xs, const i32* ys, u32 count) {
  const f64 l = r.left, t = r.top, rt = r.right - 1.0, b = r.bottom - 1.0;
  const CKLF_2DMath::KLLINESEGMENT sides[4] = {{l, t, rt, t}, {rt, t, rt, b}, {rt, b, l, b}, {l, b, l, t}};
  CKLF_2DMath math;
  for (u32 i = 0, j = count - 1; i < count; j = i++) {
    const CKLF_2DMath::KLLINESEGMENT edge = {static_cast<f64>(xs[j]), static_cast<f64>(ys[j]), static_cast<f64>(xs[i]),
                                             static_cast<f64>(ys[i])};
    for (const CKLF_2DMath::KLLINESEGMENT& side : sides)
      if (math.IntersectLineSegments(edge, side)) return 1;
  }
  return 0;
}

// Whether a piece has a pixel inside the polygon whose box (clipped to the
// image) is given. A piece rectangle's part in the box that no edge
// crosses lies wholly inside or outside the polygon, so one corner tells.
u8 CPuzzleModel::i_PieceTouchesPolygon(u32 index, kltRECT_s box, const i32* xs, const i32* ys, u32 count) const {
  const Cell& c = *m_engine.GetPiece(index);
  const kltRECT_s s = Intersect(c.rect, box);
  if (Empty(s)) return 0;
  const bool whole = s.left == box.left && s.top == box.top && s.right == box.right && s.bottom == box.bottom;
  if (!whole && !i_pmop_RectRgnIntersection(s, xs, ys, count))
    return i_pmop_PtInRgn(s.left, s.top, xs, ys, count);
  for (i32 y = s.top; y < s.bottom; ++y)
    for (i32 x = s.left; x < s.right; ++x)
      if (MaskAt(c, x, y) && i_pmop_PtInRgn(x, y, xs, ys, count)) return 1;
  return 0;
}

void CPuzzleModel::pmop_Sel_SelectFreeRgn(const i32* xs, const i32* ys, u32 count, u8 add, u8 remove, u8 redraw) {
  const u32 n = i_Count();
  if (!selectionMap || !n || !xs || !ys || count == 0) return;
  pieceAnchor = -1;
  Progress progress(m_port, kSelecting);
  progress.Report(0);
  i64 x0 = xs[0], y0 = ys[0], x1 = xs[0], y1 = ys[0];
  for (u32 i = 1; i < count; ++i) {
    if (xs[i] < x0) x0 = xs[i];
    if (xs[i] > x1) x1 = xs[i];
    if (ys[i] < y0) y0 = ys[i];
    if (ys[i] > y1) y1 = ys[i];
  }
  kltRECT_s box = {0, 0, static_cast<i32>(m_width), static_cast<i32>(m_height)};
  if (x0 > box.left) box.left = static_cast<i32>(x0);
  if (y0 > box.top) box.top = static_cast<i32>(y0);
  if (x1 + 1 < box.right) box.right = static_cast<i32>(x1 + 1);
  if (y1 + 1 < box.bottom) box.bottom = static_cast<i32>(y1 + 1);
  if (Empty(box)) return;
  progress.Report(5);
  const u8 target = remove ? 0 : 1;
  for (u32 i = i_FirstSelectable(); i < n; ++i) {
    progress.Report(5 + static_cast<u32>(95ull * (i - i_FirstSelectable()) / n));
    if (m_engine.GetPiece(i)->selected != target && i_PieceTouchesPolygon(i, box, xs, ys, count))
      pmop_Sel_SetSelectionToPiece(static_cast<i32>(i), add, remove, 0);
  }
  if (redraw) i_SelectionRedraw();
}

void CPuzzleModel::pmop_Sel_AllHidenOrShown(u8 hidden, u8 redraw) {
  if (!selectionMap || !i_Count()) return;
  pmop_Sel_DeselectAllPieces(0);
  for (u32 i = 0; i < i_Count(); ++i)
    if (m_engine.GetPiece(i)->visible == (hidden ? 0 : 1)) pmop_Sel_SetSelectionToPiece(static_cast<i32>(i), 1, 0, 0);
  if (redraw) i_SelectionRedraw();
}

u8 CPuzzleModel::i_pmop_CheckPieceByMap(i32 piece, const u8* map, u32 width, u32 height, u8 threshold,
                                        u8 invert) const {
  if (!i_Valid(piece) || !map) return 0;
  const Cell& c = *m_engine.GetPiece(static_cast<u32>(piece));
  const kltRECT_s r = Intersect(c.rect, {0, 0, static_cast<i32>(width), static_cast<i32>(height)});
  for (i32 y = r.top; y < r.bottom; ++y)
    for (i32 x = r.left; x < r.right; ++x) {
      const u8 v = map[static_cast<size_t>(y) * width + x];
      if (MaskAt(c, x, y) && (invert ? 255 - v : v) < threshold) return 1;
    }
  return 0;
}

void CPuzzleModel::pmop_LoadSelection(u8 mode, u8 invert, const u8* map, u8 redraw) {
  const u32 n = i_Count();
  if (!selectionMap || !n || !map || mode > kMapIntersect) return;
  Progress progress(m_port, kSelecting);
  progress.Report(0);
  if (mode == kMapNew) pmop_Sel_DeselectAllPieces(0);
  for (u32 i = 0; i < n; ++i) {
    progress.Report(static_cast<u32>(100ull * i / n));
    const u8 selected = m_engine.GetPiece(i)->selected;
    if ((mode == kMapAdd && selected) || (mode >= kMapSubtract && !selected)) continue;
    const u8 match = i_pmop_CheckPieceByMap(static_cast<i32>(i), map, m_width, m_height, 128, invert);
    if (mode <= kMapAdd && match) pmop_Sel_SetSelectionToPiece(static_cast<i32>(i), 1, 0, 0);
    if ((mode == kMapSubtract && match) || (mode == kMapIntersect && !match))
      pmop_Sel_SetSelectionToPiece(static_cast<i32>(i), 0, 1, 0);
  }
  if (redraw) i_SelectionRedraw();
}

void CPuzzleModel::OnPieceClick(kltPOS image, u8 mods) {
  if (layoutMode || effectWindowOpen || !selectionMap) return;
  const i32 piece = GetPieceByXY(image);
  const u8 option = mods & kModOption, shift = mods & kModShift, command = mods & kModCommand;
  const bool splitter = piece == 0 && m_engine.HasSplitterPiece();
  auto bracket = [&](auto operation) {
    unpm_PreSave();
    operation();
    unpm_SaveState(1);
  };
  if (!shift) {
    if (option || (command && piece < 0)) return;
    if (command) {
      const u8 was = m_engine.GetPiece(static_cast<u32>(piece))->selected;
      bracket([&] { pmop_Sel_SetSelectionToPiece(piece, was ? 0 : 1, was, 1); });
      if (!was) pieceAnchor = piece;
    } else if (piece < 0) {
      bracket([&] { pmop_Sel_DeselectAllPieces(1); });
    } else {
      bracket([&] { pmop_Sel_SetSelectionToPiece(piece, 0, 0, 1); });
      pieceAnchor = piece;
    }
    return;
  }
  if (command || piece < 0) return;
  if (pieceAnchor < 0 || (pieceAnchor == 0 && m_engine.HasSplitterPiece())) {
    bracket([&] { pmop_Sel_SetSelectionToPiece(piece, 1, 0, 1); });
  } else {
    if (splitter) return;
    const i32 anchor = pieceAnchor;
    bracket([&] { pmop_Sel_PieceBlockSelection(option ? 0 : 1, option, anchor, piece, 1); });
  }
  pieceAnchor = piece;
}

// ---------------------------------------------------------------------------
// Visibility

void CPuzzleModel::i_RecombineChanged(kltRECT_s area, u8 redraw) {
  if (klIsNullRect(area)) return;
  static_cast<void>(i_Recombine(area, redraw, 0, 100));  // one that fails is done again later
  OnCommonFXChanged();
}

void CPuzzleModel::pmop_ShowHidePiece(i32 piece, u8 visible, u8 redraw) {
  if (!selectionMap || !i_Valid(piece)) return;
  Cell& c = *m_engine.GetPiece(static_cast<u32>(piece));
  if (c.visible == (visible ? 1 : 0)) return;
  c.visible = visible ? 1 : 0;
  kltRECT_s area = klNullRect;
  i_GrowUnion(area, c.rect);
  i_RecombineChanged(area, redraw);
}

void CPuzzleModel::pmop_ShowHideSelectedPieces(u8 visible, u8 redraw) {
  CKLF_DWordArray targets;
  if (!selectionMap || !i_Targets(kSelection, targets)) return;
  kltRECT_s area = klNullRect;
  for (u32 i = 0; i < targets.GetSize(); ++i) {
    Cell& c = *m_engine.GetPiece(targets[i]);
    if (c.visible == (visible ? 1 : 0)) continue;
    c.visible = visible ? 1 : 0;
    i_GrowUnion(area, c.rect);
  }
  i_RecombineChanged(area, redraw);
}

void CPuzzleModel::pmop_ReverseShownHidden(u8 redraw) {
  CKLF_DWordArray targets;
  if (!selectionMap || !i_Targets(kSelection, targets)) return;
  kltRECT_s area = klNullRect;
  for (u32 i = 0; i < targets.GetSize(); ++i) {
    Cell& c = *m_engine.GetPiece(targets[i]);
    c.visible = c.visible ? 0 : 1;
    i_GrowUnion(area, c.rect);
  }
  i_RecombineChanged(area, redraw);
}

void CPuzzleModel::pmop_Extras(u8 show, u8 redraw) {
  show = show ? 1 : 0;
  if (showPieceExtras == show) return;
  showPieceExtras = show;
  m_port.OnChangeExtrasState();
  m_port.SetPreviewMask(show ? selectionMap : nullptr, m_width);
  if (redraw) m_port.RedrawPreview(1);
}
