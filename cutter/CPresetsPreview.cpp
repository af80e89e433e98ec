#include "CPresetsPreview.h"

#include <cmath>

#include "CShapeSetFile.h"

namespace {

const kltRGBA8 kFrame = {153, 192, 229, 255};
const kltRGBA8 kCard = {238, 254, 255, 255};
// Nodes nearer than this (squared pixels) to the last knot kept add nothing.
const f64 kMinKnotDistance2 = 0.0002;

bool Holds(const kltRECT_s& r, i32 x, i32 y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

}  // namespace

kltRECT_s CPresetsPreview::CellRect(u32 k) const {
  if (k >= PageSize()) return {0, 0, 0, 0};
  return m_small ? m_geo.small[k] : m_geo.big[k];
}

kltRECT_s CPresetsPreview::SelectionRect(u32 k) const {
  if (k >= PageSize()) return {0, 0, 0, 0};
  return m_small ? m_geo.smallSel[k] : m_geo.bigSel[k];
}

void CPresetsPreview::ClampFirst(u32 count) {
  if (count && m_first > count - 1) m_first = count - 1;
}

void CPresetsPreview::ScrollTo(u32 value, u32 count) {
  m_first = value;
  ClampFirst(count);
}

void CPresetsPreview::FollowSelection(i32 firstSelected, u32 count) {
  const u32 s = static_cast<u32>(firstSelected);
  if (firstSelected >= 0 && (s < m_first || s - m_first >= PageSize())) m_first = s;
  ClampFirst(count);
}

void CPresetsPreview::GetScrollInfo(u32 count, u32& total, u32& visible) const {
  visible = PageSize();
  total = count > visible ? count : visible;
}

i32 CPresetsPreview::RecordAt(i32 x, i32 y, u32 count) const {
  for (u32 k = 0; k < PageSize(); ++k)
    if (Holds(CellRect(k), x, y) && m_first + k < count) return static_cast<i32>(m_first + k);
  return -1;
}

kltRECT_s CPresetsPreview::i_Local(const kltRECT_s& r) const {
  const kltRECT_s& p = m_geo.preview;
  return {r.left - p.left, r.top - p.top, r.right - p.left, r.bottom - p.top};
}

// A light card inside a 2-pixel blue frame.
void CPresetsPreview::i_Mark(CKLF_Image& highlight, u32 k) {
  const kltRECT_s sel = i_Local(SelectionRect(k));
  highlight.Set(kFrame, 15, sel);
  highlight.Set(kltRGBA8{0, 0, 0, 0}, 8, {sel.left + 2, sel.top + 2, sel.right - 2, sel.bottom - 2});
  highlight.Set(kCard, 15, i_Local(CellRect(k)));
}

u8 CPresetsPreview::Draw(const CPresetsLibrary& library, CKLF_Image& shapes, CKLF_Image& highlight) {
  shapes.Set(kltRGBA8{0, 0, 0, 0}, 8);
  highlight.Set(kltRGBA8{0, 0, 0, 0}, 8);
  const u32 count = library.GetCount();
  ClampFirst(count);
  u8 ok = 1;
  for (u32 k = 0; k < PageSize() && m_first + k < count; ++k) {
    const u32 i = m_first + k;
    ok &= DrawSpline(shapes, i_Local(CellRect(k)), library.GetRecord(i));
    if (library.IsSelected(i)) i_Mark(highlight, k);
  }
  return ok;
}

u8 CPresetsPreview::DrawSpline(CKLF_Image& shapes, kltRECT_s cell, const u8* record) {
  if (!record || !m_drawing.SetDestination(&shapes)) return Fail(klErrBadArg);
  const i32 half = (cell.right - cell.left) / 2, height = cell.bottom - cell.top;
  const u32 n = CShapeSetFile::RecordNodeCount(record);
  f64 widest = 0.51;
  for (u32 i = 0; i < n; ++i) widest = std::max(widest, std::fabs(static_cast<f64>(CShapeSetFile::RecordH(record, i))));
  const f64 length = half / widest;
  const f64 x = cell.left + half;
  const kltFPOS a = {x, static_cast<f64>(cell.top + static_cast<i32>((height - length) / 2))};
  const kltFPOS b = {x, static_cast<f64>(cell.top + static_cast<i32>((height + length) / 2))};

  CKLF_2DMath::KLSPLINEPOINT knots[CCutterServices::kMaxNodes + 2] = {};
  u32 kept = 0;
  knots[kept++] = {a.x, a.y, 0.0f, 0};
  for (u32 i = 0; i < n; ++i) {
    kltFPOS p = a;
    m_math.HU2Coors(a, b, CShapeSetFile::RecordH(record, i), CShapeSetFile::RecordU(record, i), p);
    const f64 dx = p.x - knots[kept - 1].x, dy = p.y - knots[kept - 1].y;
    if (dx * dx + dy * dy > kMinKnotDistance2) knots[kept++] = {p.x, p.y, CShapeSetFile::RecordS(record, i), 0};
  }
  knots[kept++] = {b.x, b.y, 0.0f, 0};
  if (kept == 2) {
    const kltFPOS line[2] = {a, b};
    return m_drawing.DrawHQPolyLine(line, 2, 1.0, 1, 1, 1, 1.0) ? 1 : FailFrom(m_drawing, klErrBadArg);
  }
  if (!m_math.CalcPointSpline(knots, kept, 2.0, &m_points, m_pointCount)) return FailFrom(m_math, klErrBadArg);
  if (!m_drawing.DrawHQPolyLine(reinterpret_cast<const kltFPOS*>(m_points.GetPtr()), m_pointCount, 1.0, 1, 1, 1, 1.0))
    return FailFrom(m_drawing, klErrBadArg);
  return 1;
}
