// The Cutter model's mouse: hit tests, node drags, box handles (scaling and
// rotating the selection), the rubber band and the cursor of the preview.
#include <cmath>
#include <cstring>

#include "CCutterModel.h"
#include "KLF_ShapeValues.h"

namespace {

const f64 kPi = 3.14159265358979323846;
const f64 kPathTolerance = 3.0;
const i32 kMinBox = 14;

u8 PtIn(const kltRECT_s& r, i32 x, i32 y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

u8 Overlap(const kltRECT_s& a, const kltRECT_s& b) {
  return std::max(a.left, b.left) < std::min(a.right, b.right) &&
         std::max(a.top, b.top) < std::min(a.bottom, b.bottom);
}

i32 RoundHalfUp(f64 v) { return static_cast<i32>(std::floor(v + 0.5)); }

// Edges a box handle moves: 0 top-left, clockwise to 7 left.
u8 MovesLeft(u32 h) { return h == 0 || h == 6 || h == 7; }
u8 MovesRight(u32 h) { return h == 2 || h == 3 || h == 4; }
u8 MovesTop(u32 h) { return h <= 2; }
u8 MovesBottom(u32 h) { return h >= 4 && h <= 6; }

// A moved edge that passed the opposite one by d sits on it inside the dead
// zone and is pulled back by the zone beyond it, so the box mirrors.
void Uncross(i32& moved, i32 other, i32 d, i32 zone, i32 towards) {
  if (d <= 0) return;
  moved = d < zone ? other : moved - towards * zone;
}

}  // namespace

kltPOS CCutterModel::i_Centre(u32 i) const { return kltPOS{m_nodeRects[i].left + 3, m_nodeRects[i].top + 3}; }

u8 CCutterModel::i_SelectionBox(kltRECT_s& box) const {
  u8 any = 0;
  for (u32 i = 0; i < nodeCount; ++i) {
    if (!nodeSelected[i]) continue;
    kltPOS c = i_Centre(i);
    if (!any) box = kltRECT_s{c.x, c.y, c.x, c.y};
    box.left = std::min(box.left, c.x);
    box.top = std::min(box.top, c.y);
    box.right = std::max(box.right, c.x);
    box.bottom = std::max(box.bottom, c.y);
    any = 1;
  }
  return any;
}

u8 CCutterModel::i_InPreview(i32 x, i32 y) const {
  return x >= 0 && y >= 0 && x < m_splineLayer.GetImageWidth() && y < m_splineLayer.GetImageHeight();
}

u8 CCutterModel::GetHandle(u32 i, kltRECT_s& r) const {
  if (i >= 8) return 0;
  r = m_handleRects[i];
  return m_handlePresent[i];
}

void CCutterModel::i_PlaceNode(u32 i, f64 x, f64 y) {
  f64 h = 0, u = 0;
  if (!m_math.Coors2HU(m_p0, m_p1, kltFPOS{x, y}, h, u)) return;
  nodes[i].H = klClampShapeValue(h, -m_hMax, m_hMax);
  nodes[i].U = klClampShapeValue(u, 0, 1);
}

// ---- Press.

u8 CCutterModel::OnLMouseDown(i32 x, i32 y, u8 modifiers, u8 keys) {
  if (cutting || !i_InPreview(x, y)) return 0;
  if (!extrasVisible) {
    DoHideExtras();
    return 1;
  }
  if (nodesShown) {
    for (u32 i = 0; i < nodeCount; ++i) {
      if (!PtIn(m_nodeRects[i], x, y)) continue;
      kltPOS c = i_Centre(i);
      m_drag.node = 1;
      m_drag.nodeIndex = static_cast<u8>(i);
      m_drag.grab = kltPOS{x - c.x, y - c.y};
      if (!nodeSelected[i]) {
        if (!(modifiers & kCommand)) std::memset(nodeSelected, 0, sizeof(nodeSelected));
        nodeSelected[i] = 1;
      } else if (modifiers & kCommand) {
        nodeSelected[i] = 0;
        m_drag.node = 0;
      }
      OnChangeNodeSelection();
      DoRedrawSpline();
      return 1;
    }
  }
  kltRECT_s box = {0, 0, 0, 0};
  const u8 anySelected = i_SelectionBox(box);
  for (u32 h = 0; h < 8; ++h) {
    if (m_handlePresent[h] && PtIn(m_handleRects[h], x, y)) {
      i_StartHandleDrag(h, x, y, modifiers, box);
      return 1;
    }
  }
  const kltFPOS p = {static_cast<f64>(x), static_cast<f64>(y)};
  if ((nodesShown && !(keys & kSpace)) || !anySelected) {
    if (i_AddOnPath(p, modifiers)) return 1;
    if (!(modifiers & (kCommand | kShift)) && !(keys & kOption)) std::memset(nodeSelected, 0, sizeof(nodeSelected));
    m_drag.band = 1;
    m_drag.bandStart = m_drag.bandCur = kltPOS{x, y};
    std::memcpy(m_drag.bandSel, nodeSelected, sizeof(nodeSelected));
    OnChangeNodeSelection();
    DoRedrawExtras(0);
    return 1;
  }
  if (x >= box.left - 3 && x <= box.right + 3 && y >= box.top && y <= box.bottom) {
    u32 anchor = 0;
    for (u32 i = 0; i < nodeCount; ++i)
      if (nodeSelected[i]) anchor = i;
    kltPOS c = i_Centre(anchor);
    m_drag.node = 1;
    m_drag.nodeIndex = static_cast<u8>(anchor);
    m_drag.grab = kltPOS{x - c.x, y - c.y};
  } else if (!nodesShown) {
    DoHideNodes();
  }
  return 1;
}

// A press on the path (or on the base line of a shape without nodes) adds
// a node there and drags it.
u8 CCutterModel::i_AddOnPath(kltFPOS p, u8 modifiers) {
  f64 dist = 0, t = 0;
  u32 index = 0;
  u8 keep = 0;
  if (nodeCount == 0) {
    if (!m_math.PointToLineDistance(m_p0, m_p1, p, dist, t) || !(dist < kPathTolerance)) return 0;
  } else {
    const kltFPOS* pts = reinterpret_cast<const kltFPOS*>(m_points.GetPtr());
    const u32* spans = reinterpret_cast<const u32*>(m_spans.GetPtr());
    u32 k = 0;
    for (; k + 1 < m_pointCount; ++k)
      if (m_math.PointToLineDistance(pts[k], pts[k + 1], p, dist, t) && dist < kPathTolerance) break;
    if (k + 1 >= m_pointCount) return 0;
    index = spans[k] > nodeCount ? nodeCount : spans[k];
    keep = modifiers & kCommand ? 1 : 0;
  }
  m_drag.node = opAddNode(p, keep, index);
  if (m_drag.node) {
    kltPOS c = i_Centre(index);
    m_drag.nodeIndex = static_cast<u8>(index);
    m_drag.grab = kltPOS{static_cast<i32>(p.x) - c.x, static_cast<i32>(p.y) - c.y};
  }
  return 1;
}

void CCutterModel::i_StartHandleDrag(u32 handle, i32 x, i32 y, u8 modifiers, const kltRECT_s& box) {
  m_drag.handle = 1;
  m_drag.handleIndex = static_cast<u8>(handle);
  m_drag.press = kltPOS{x, y};
  m_drag.box = box;
  m_drag.rotate = modifiers & kCommand ? 1 : 0;
  const f64 w = box.right - box.left, h = box.bottom - box.top;
  m_drag.cx = (box.left + box.right) / 2.0;
  m_drag.cy = (box.top + box.bottom) / 2.0;
  f64 far = 0;
  for (u32 i = 0; i < nodeCount; ++i) {
    if (!nodeSelected[i]) continue;
    kltPOS c = i_Centre(i);
    if (m_drag.rotate) {
      m_drag.pos[i][0] = c.x;
      m_drag.pos[i][1] = c.y;
      far = std::fmax(far, std::hypot(c.x - m_drag.cx, c.y - m_drag.cy));
    } else {
      m_drag.pos[i][0] = w > 0 ? (c.x - box.left) / w : 0;
      m_drag.pos[i][1] = h > 0 ? (c.y - box.top) / h : 0;
    }
  }
  if (!m_drag.rotate) return;
  m_drag.radius = static_cast<i16>(std::max(RoundHalfUp(far), 10) + 8);
  const f64 a = std::atan2(y - m_drag.cy, x - m_drag.cx);
  m_drag.rotHandle = kltPOS{RoundHalfUp(m_drag.cx + m_drag.radius * std::cos(a)),
                            RoundHalfUp(m_drag.cy + m_drag.radius * std::sin(a))};
}

// ---- Move.

u8 CCutterModel::OnMouseMove(i32 x, i32 y, u8 modifiers, u8 keys) {
  if (m_drag.node) {
    i_DragNodes(x, y);
  } else if (m_drag.band) {
    i_DragBand(x, y, keys);
  } else if (m_drag.handle) {
    if (m_drag.rotate)
      i_DragRotate(x, y, modifiers, keys);
    else
      i_DragScale(x, y, modifiers, keys);
  } else {
    return 0;
  }
  return 1;
}

void CCutterModel::i_DragNodes(i32 x, i32 y) {
  f64 ht = 0, ut = 0;
  const kltFPOS target = {static_cast<f64>(x - m_drag.grab.x), static_cast<f64>(y - m_drag.grab.y)};
  if (m_drag.nodeIndex >= nodeCount || !m_math.Coors2HU(m_p0, m_p1, target, ht, ut)) return;
  ut = klClampShapeValue(ut, 0, 1);
  f64 dH = nodes[m_drag.nodeIndex].H - ht, dU = nodes[m_drag.nodeIndex].U - ut;
  // The selection moves as one and stops where its first node meets a border.
  for (u32 i = 0; i < nodeCount; ++i) {
    if (!nodeSelected[i]) continue;
    const f64 h = nodes[i].H, u = nodes[i].U;
    if (h - dH > m_hMax)
      dH = h - m_hMax;
    else if (h - dH < -m_hMax)
      dH = h + m_hMax;
    if (u - dU > 1)
      dU = u - 1;
    else if (u - dU < 0)
      dU = u;
  }
  for (u32 i = 0; i < nodeCount; ++i) {
    if (!nodeSelected[i]) continue;
    nodes[i].H -= dH;
    nodes[i].U -= dU;
  }
  DoRedrawSpline();
}

void CCutterModel::i_DragBand(i32 x, i32 y, u8 keys) {
  const i32 w = m_extrasLayer.GetImageWidth(), h = m_extrasLayer.GetImageHeight();
  m_drag.bandCur = kltPOS{std::min(std::max(x, 0), w), std::min(std::max(y, 0), h)};
  const kltRECT_s band = {std::min(m_drag.bandStart.x, m_drag.bandCur.x), std::min(m_drag.bandStart.y, m_drag.bandCur.y),
                          std::max(m_drag.bandStart.x, m_drag.bandCur.x), std::max(m_drag.bandStart.y, m_drag.bandCur.y)};
  std::memcpy(nodeSelected, m_drag.bandSel, sizeof(nodeSelected));
  const u8 subtract = keys & kOption ? 1 : 0;
  for (u32 i = 0; i < nodeCount; ++i)
    if ((nodeSelected[i] != 0) == (subtract != 0) && Overlap(m_nodeRects[i], band)) nodeSelected[i] = !subtract;
  DoRedrawExtras(0);
  OnChangeNodeSelection();
}

void CCutterModel::i_DragRotate(i32 x, i32 y, u8 modifiers, u8 keys) {
  const f64 cx = m_drag.cx, cy = m_drag.cy, r = m_drag.radius;
  const f64 a0 = std::atan2(cy - m_drag.press.y, cx - m_drag.press.x);
  const f64 a1 = std::atan2(cy - y, cx - x);
  m_drag.rotHandle = kltPOS{RoundHalfUp(cx - r * std::cos(a1)), RoundHalfUp(cy - r * std::sin(a1))};
  f64 d = a0 - a1;
  if (modifiers & kShift) {
    const i32 step = keys & kOption ? 45 : 15;
    const i32 degrees = static_cast<i32>(std::trunc(d * 180 / kPi));
    d = (degrees / step) * step * kPi / 180;
  }
  const f64 c = std::cos(d), s = std::sin(d);
  for (u32 i = 0; i < nodeCount; ++i) {
    if (!nodeSelected[i]) continue;
    const f64 x0 = m_drag.pos[i][0] - cx, y0 = m_drag.pos[i][1] - cy;
    i_PlaceNode(i, cx + x0 * c + y0 * s, cy + y0 * c - x0 * s);
  }
  DoRedrawSpline();
}

void CCutterModel::i_DragScale(i32 x, i32 y, u8 modifiers, u8 keys) {
  const u32 hd = m_drag.handleIndex;
  i32 L = m_drag.box.left, T = m_drag.box.top, R = m_drag.box.right, B = m_drag.box.bottom;
  i64 dx = x - m_drag.press.x, dy = y - m_drag.press.y;
  i32 minW = kMinBox, minH = kMinBox;
  const i64 W = R - L, H = B - T;
  if ((modifiers & kShift) && hd % 2 == 0 && (W > 0 || H > 0)) {
    // Corners keep the box's proportions: the shorter side follows.
    const i64 sign = hd == 0 || hd == 4 ? 1 : -1;
    if (W <= H) {
      dx = sign * (W * dy / H);
      minW = static_cast<i32>(kMinBox * W / H);
    } else {
      dy = sign * (H * dx / W);
      minH = static_cast<i32>(kMinBox * H / W);
    }
  }
  const i32 ex = static_cast<i32>(dx), ey = static_cast<i32>(dy);
  const u8 centred = keys & kOption ? 1 : 0;
  if (MovesLeft(hd)) L += ex, R -= centred ? ex : 0;
  if (MovesRight(hd)) R += ex, L -= centred ? ex : 0;
  if (MovesTop(hd)) T += ey, B -= centred ? ey : 0;
  if (MovesBottom(hd)) B += ey, T -= centred ? ey : 0;
  if (MovesLeft(hd)) Uncross(L, R, L - R, minW, 1);
  if (MovesRight(hd)) Uncross(R, L, L - R, minW, -1);
  if (MovesTop(hd)) Uncross(T, B, T - B, minH, 1);
  if (MovesBottom(hd)) Uncross(B, T, T - B, minH, -1);
  for (u32 i = 0; i < nodeCount; ++i)
    if (nodeSelected[i]) i_PlaceNode(i, L + (R - L) * m_drag.pos[i][0], T + (B - T) * m_drag.pos[i][1]);
  DoRedrawSpline();
}

// ---- Release.

u8 CCutterModel::OnLMouseUp() {
  if (m_drag.node || m_drag.handle) NotifyMain_ShapeChanged(1);
  m_drag.node = m_drag.band = m_drag.handle = m_drag.rotate = 0;
  DoRedrawExtras(0);
  OnNewOperation(1);
  return 1;
}

// ---- Cursor.

i32 CCutterModel::i_HandleCursor(u32 handle) const {
  if (handle == 3 || handle == 7) return kCursorSizeWE;
  if (handle == 1 || handle == 5) return kCursorSizeNS;
  return kCursorMove;
}

i32 CCutterModel::GetCursorId(i32 x, i32 y, u8 keys) const {
  if (!i_InPreview(x, y)) return 0;
  if (m_drag.handle) return m_drag.rotate ? kCursorRotate : i_HandleCursor(m_drag.handleIndex);
  if (m_drag.node) return kCursorMove;
  if (nodesShown)
    for (u32 i = 0; i < nodeCount; ++i)
      if (PtIn(m_nodeRects[i], x, y)) return kCursorMove;
  for (u32 h = 0; h < 8; ++h)
    if (m_handlePresent[h] && PtIn(m_handleRects[h], x, y)) return keys & kCommand ? kCursorRotate : i_HandleCursor(h);
  if (nodesShown && !(keys & kSpace)) return kCursorAdd;
  kltRECT_s box;
  if (i_SelectionBox(box) && x >= box.left - 3 && x <= box.right + 3 && y >= box.top && y <= box.bottom)
    return kCursorMove;
  return kCursorAdd;
}
