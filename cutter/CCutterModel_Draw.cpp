// The Cutter preview: the base line and its scale, the knife path drawn
// into the spline layer's alpha, and the extras layer (node marks, the
// selection box with its handles, the rotation gauge, the rubber band and
// the zoom guides).
#include <algorithm>
#include <cstring>

#include "CCutterModel.h"

namespace {

const kltRGBA8 kNodeColour = {4, 58, 138, 255};
const kltRGBA8 kBoxColour = {12, 135, 6, 90};
const kltRGBA8 kBandBorder = {137, 132, 4, 220};
const kltRGBA8 kBandInside = {241, 236, 98, 80};
const kltRGBA8 kGuideColour = {0, 0, 180, 200};

// Line width and the polyline's minimum point spacing of each zoom.
const f64 kLineWidth[3] = {1.5, 1.2, 1.0};
const f64 kPointSpacing[3] = {4.0, 2.0, 1.0};

// Fills a rectangle (right and bottom exclusive) with the colour as it is,
// alpha included; clipped to the layer.
void Fill(CKLF_Image& layer, i32 l, i32 t, i32 r, i32 b, kltRGBA8 c) { layer.Set(c, 255, kltRECT_s{l, t, r, b}); }

}  // namespace

u8 CCutterModel::DoRedrawSpline() {
  const i32 w = m_splineLayer.GetImageWidth(), h = m_splineLayer.GetImageHeight();
  if (w < kMinPreviewSide || h < kMinPreviewSide) return Fail(klErrEmpty);
  m_splineLayer.Set(kltRGBA8{0, 0, 0, 0}, 8);
  m_drawing.SetDestination(&m_splineLayer);
  // The base line takes the height less a margin, shorter by the zoom's
  // scale; Hmax lets a node reach 12.5 pixels from the layer's side.
  const f64 scale = static_cast<f64>(1u << zoom);
  const f64 len = (h - 25.0) / scale;
  const f64 y0 = std::max(0.0, (h - len) / 2);
  const f64 y1 = std::min(y0 + len, h - 1.0);
  m_p0 = kltFPOS{static_cast<f64>(w / 2), y0};
  m_p1 = kltFPOS{static_cast<f64>(w / 2), y1};
  m_hMax = ((w - 25.0) / 2) / len;

  const f64 width = kLineWidth[zoom], spacing = kPointSpacing[zoom];
  if (nodeCount == 0) {
    const kltFPOS line[2] = {m_p0, m_p1};
    m_pointCount = 0;
    if (!m_drawing.DrawHQPolyLine(line, 2, width, 1, 1, 1, 1.0)) return FailFrom(m_drawing, klErrNoMemory);
  } else {
    CKLF_2DMath::KLSPLINEPOINT knots[kMaxNodes + 2];
    std::memset(knots, 0, sizeof(knots));
    knots[0] = {m_p0.x, m_p0.y, 0.0f, 0};
    for (u32 i = 0; i < nodeCount; ++i) {
      kltFPOS p = {0, 0};
      m_math.HU2Coors(m_p0, m_p1, nodes[i].H, nodes[i].U, p);
      knots[i + 1] = {p.x, p.y, static_cast<f32>(nodeS[i]), 0};
    }
    knots[nodeCount + 1] = {m_p1.x, m_p1.y, 0.0f, 0};
    if (!m_math.CalcPointSpline(knots, nodeCount + 2u, 4.0, &m_points, m_pointCount, &m_spans)) {
      m_pointCount = 0;
      return FailFrom(m_math, klErrBadArg);
    }
    if (!m_drawing.DrawHQPolyLine(reinterpret_cast<const kltFPOS*>(m_points.GetPtr()), m_pointCount, width, 1, 1, 1,
                                  spacing))
      return FailFrom(m_drawing, klErrNoMemory);
  }
  DoRedrawExtras(0);
  return 1;
}

void CCutterModel::DoRedrawExtras(u8 show) {
  if (m_extrasLayer.GetImageWidth() == 0) return;
  m_extrasLayer.Set(kltRGBA8{0, 0, 0, 0}, 255);
  i_DrawNodes();
  if (m_drag.band) {
    i_DrawBand();
  } else {
    kltRECT_s box = {0, 0, 0, 0};
    u32 selected = 0;
    for (u32 i = 0; i < nodeCount; ++i) {
      if (!nodeSelected[i]) continue;
      const kltRECT_s& r = m_nodeRects[i];
      box = selected ? kltRECT_s{std::min(box.left, r.left), std::min(box.top, r.top), std::max(box.right, r.right),
                                 std::max(box.bottom, r.bottom)}
                     : r;
      ++selected;
    }
    if (selected < 2)
      std::memset(m_handlePresent, 0, sizeof(m_handlePresent));
    else if (m_drag.handle && m_drag.rotate)
      i_DrawRotation();
    else
      i_DrawBox(box);
  }
  if (zoom != 0) {
    const i32 w = m_extrasLayer.GetImageWidth();
    Fill(m_extrasLayer, 0, static_cast<i32>(m_p0.y), w, static_cast<i32>(m_p0.y) + 1, kGuideColour);
    Fill(m_extrasLayer, 0, static_cast<i32>(m_p1.y), w, static_cast<i32>(m_p1.y) + 1, kGuideColour);
  }
  if (show) extrasVisible = 1;
  m_window->PreviewChanged();
}

void CCutterModel::i_DrawNodes() {
  for (u32 i = 0; i < nodeCount; ++i) {
    kltFPOS p = {0, 0};
    m_math.HU2Coors(m_p0, m_p1, nodes[i].H, nodes[i].U, p);
    // Cut toward zero; a node far outside keeps a rectangle on the border.
    const f64 lim = 1e9;
    const i32 x = static_cast<i32>(std::max(-lim, std::min(lim, p.x)));
    const i32 y = static_cast<i32>(std::max(-lim, std::min(lim, p.y)));
    m_nodeRects[i] = kltRECT_s{x - 3, y - 3, x + 4, y + 4};
    if (!nodesShown) continue;
    if (nodeSelected[i])
      m_extrasLayer.Set(kNodeColour, 255, m_nodeRects[i]);
    else
      m_extrasLayer.DrawRect(m_nodeRects[i], kNodeColour);
  }
}

void CCutterModel::i_DrawBox(const kltRECT_s& box) {
  const i32 L = box.left, T = box.top, R = box.right, B = box.bottom;
  Fill(m_extrasLayer, L - 1, T - 1, R + 1, T, kBoxColour);
  Fill(m_extrasLayer, L - 1, B, R + 1, B + 1, kBoxColour);
  Fill(m_extrasLayer, L - 1, T, L, B, kBoxColour);
  Fill(m_extrasLayer, R, T, R + 1, B, kBoxColour);
  const i32 mx = (L + R) / 2, my = (T + B) / 2;
  const kltRECT_s handles[8] = {{L - 6, T - 6, L - 1, T - 1},     {mx - 2, T - 6, mx + 3, T - 1},
                                {R + 1, T - 6, R + 6, T - 1},     {R + 1, my - 2, R + 6, my + 3},
                                {R + 1, B + 1, R + 6, B + 6},     {mx - 2, B + 1, mx + 3, B + 6},
                                {L - 6, B + 1, L - 1, B + 6},     {L - 6, my - 2, L - 1, my + 3}};
  // Selected nodes in one column leave only the middle handles of the
  // top and bottom edges; in one row, those of the sides.
  const u8 column = R - L == 7, row = B - T == 7;
  for (u32 h = 0; h < 8; ++h) {
    m_handleRects[h] = handles[h];
    m_handlePresent[h] = !(column && h != 1 && h != 5) && !(row && h != 3 && h != 7);
    if (m_handlePresent[h]) m_extrasLayer.Set(kBoxColour, 255, handles[h]);
  }
}

void CCutterModel::i_DrawRotation() {
  const i32 cx = static_cast<i32>(m_drag.cx), cy = static_cast<i32>(m_drag.cy);
  const i16 r = m_drag.radius;
  m_extrasLayer.DrawCircle(static_cast<i16>(cx), static_cast<i16>(cy), r, kBoxColour);
  m_extrasLayer.DrawCircle(static_cast<i16>(cx), static_cast<i16>(cy), static_cast<i16>(r - 8), kBoxColour);
  const kltPOS hp = m_drag.rotHandle;
  Fill(m_extrasLayer, hp.x - 3, hp.y - 3, hp.x + 3, hp.y + 3, kBoxColour);
  m_extrasLayer.DrawCircle(static_cast<i16>(cx), static_cast<i16>(cy), 4, kBoxColour);
  Fill(m_extrasLayer, cx - 6, cy, cx + 7, cy + 1, kBoxColour);
  Fill(m_extrasLayer, cx, cy - 6, cx + 1, cy + 7, kBoxColour);
}

void CCutterModel::i_DrawBand() {
  const i32 w = m_extrasLayer.GetImageWidth(), h = m_extrasLayer.GetImageHeight();
  i32 l = std::min(m_drag.bandStart.x, m_drag.bandCur.x), t = std::min(m_drag.bandStart.y, m_drag.bandCur.y);
  i32 r = std::max(m_drag.bandStart.x, m_drag.bandCur.x), b = std::max(m_drag.bandStart.y, m_drag.bandCur.y);
  l = l < 1 ? 0 : l;
  t = t < 1 ? 0 : t;
  r = std::min(r + 1, w);
  b = std::min(b + 1, h);
  u8* planes[5];
  u32 stride = 0;
  if (!m_extrasLayer.GetImageChannels(planes, stride)) return;
  for (i32 y = t; y < b; ++y) {
    for (i32 x = l; x < r; ++x) {
      const size_t o = static_cast<size_t>(y) * stride + static_cast<size_t>(x);
      if (planes[3][o] != 0) continue;
      const kltRGBA8 c = (y == t || y == b - 1 || x == l || x == r - 1) ? kBandBorder : kBandInside;
      planes[0][o] = c.red;
      planes[1][o] = c.green;
      planes[2][o] = c.blue;
      planes[3][o] = c.alpha;
    }
  }
}
