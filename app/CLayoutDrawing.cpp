#include "CLayoutDrawing.h"

#include <cmath>
#include <cstring>
#include <new>

#include "CLayoutView.h"

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;

const kltRGBA8 kNoAlpha = {0, 0, 0, 0};
const kltRGBA8 kFullAlpha = {0, 0, 0, 255};
const kltRGBA8 kKnotCircle = {0, 0, 255, 255};
const u8 kAlphaPlane = 8;

kltRECT_s Intersect(kltRECT_s a, kltRECT_s b) {
  return {a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top, a.right < b.right ? a.right : b.right,
          a.bottom < b.bottom ? a.bottom : b.bottom};
}

bool Empty(kltRECT_s r) { return r.left >= r.right || r.top >= r.bottom; }

}  // namespace

CLayoutDrawing::CLayoutDrawing(CLayoutModel& model) : m(model) {}

CLayoutDrawing::~CLayoutDrawing() {}

void CLayoutDrawing::SetLayers(CKLF_Image* knives, CKLF_Image* selected, CKLF_Image* handles) {
  layers[0] = knives;
  layers[1] = selected;
  layers[2] = handles;
}

void CLayoutDrawing::SetRulers(CKLF_Image* top, CKLF_Image* left) {
  rulers[0] = top;
  rulers[1] = left;
}

void CLayoutDrawing::SetView(u8 z, i32 ox, i32 oy, i32 width, i32 height) {
  zoom = z > 8 ? 8 : z;
  originX = ox;
  originY = oy;
  viewWidth = width < 0 ? 0 : width;
  viewHeight = height < 0 ? 0 : height;
}

u64 CLayoutDrawing::Zoomed(u64 length) const { return zoom < 4 ? length >> (4 - zoom) : length << (zoom - 4); }

f64 CLayoutDrawing::i_Width(const Knife& k) const {
  if (m.thinKnives) return 1.0;
  const u64 w = Zoomed(k.thickness);
  return static_cast<f64>(w > kMaxWidth ? kMaxWidth : (w < 1 ? 1 : w));
}

void CLayoutDrawing::i_ClearAlpha(CKLF_Image* layer, kltRECT_s r) {
  if (layer) layer->Set(kNoAlpha, kAlphaPlane, r);
}

void CLayoutDrawing::i_KnotPosition(u32 column, u32 row, kltFPOS& p) {
  p = m.i_spl_ConvertKnot(column, row, AreaWidth(), AreaHeight(), kltFPOS{static_cast<f64>(originX),
                                                                          static_cast<f64>(originY)});
  const u32 id = column + row * m.knotColumns;
  if (id < m.knotCount) {
    m.knots[id].x = p.x;
    m.knots[id].y = p.y;
  }
}

void CLayoutDrawing::i_Handle(u32 id, u8 corner) {
  if (id >= m.knotCount) return;
  kltFPOS p;
  i_KnotPosition(id % m.knotColumns, id / m.knotColumns, p);
  if (!(std::fabs(p.x) < 1e9 && std::fabs(p.y) < 1e9)) return;
  const i32 cx = static_cast<i32>(p.x + 0.5), cy = static_cast<i32>(p.y + 0.5);
  const kltRECT_s view = {0, 0, viewWidth, viewHeight};
  const kltRECT_s r = Intersect({cx - 3, cy - 3, cx + 4, cy + 4}, view);
  if (Empty(r)) return;
  if (CKLF_Image* layer = layers[2]) {
    layer->Set(kFullAlpha, kAlphaPlane, r);
    if (corner) layer->Set(kltRGBA8{0, 0, 0, 50}, kAlphaPlane, Intersect({cx - 2, cy - 2, cx + 3, cy + 3}, view));
    for (u32 i = 0; i < m.selectedKnotCount && i < 2; ++i)
      if (m.selectedKnots[i] == id) layer->DrawCircle(static_cast<i16>(cx), static_cast<i16>(cy), 6, kKnotCircle);
  }
  if (static_cast<u64>(m.knotHandleCount + 1) * sizeof(CLayoutModel::KNOTHANDLE) > m.knotHandlesMem.GetSize()) return;
  m.knotHandles = reinterpret_cast<CLayoutModel::KNOTHANDLE*>(m.knotHandlesMem.GetPtr());
  m.knotHandles[m.knotHandleCount++] = {r.left, r.top, r.right, r.bottom, id, corner};
}

u8 CLayoutDrawing::i_spl_DrawKnife(Knife* k, kltFPOS a, kltFPOS b) {
  if (!k) return Fail(klErrBadArg);
  const f64 dx = b.x - a.x, dy = b.y - a.y;
  if (dx * dx + dy * dy < 1e-7) return 1;
  f64 width = i_Width(*k);
  CKLF_Image* target = k->selected ? layers[1] : layers[0];
  if (k->moving) target = layers[2], width = 1.0;
  if (!k->polyline && !(k->polyline = new (std::nothrow) CKLF_Mem)) return Fail(klErrNoMemory);

  f64 u[CLayoutModel::kMaxPoints], h[CLayoutModel::kMaxPoints], s[CLayoutModel::kMaxPoints];
  const u32 n = CLayoutModel::GetEffectivePoints(*k, u, h, s);
  u32 count = 2;
  if (n == 0) {
    if (!m.GrowBlock(*k->polyline, 2 * sizeof(kltFPOS))) return FailFrom(*k->polyline, klErrNoMemory);
    kltFPOS* pts = reinterpret_cast<kltFPOS*>(k->polyline->GetPtr());
    pts[0] = a;
    pts[1] = b;
  } else {
    splineKnots[0] = {a.x, a.y, 0.0f, 0};
    for (u32 j = 0; j < n; ++j) {
      kltFPOS p;
      math.HU2Coors(a, b, h[j], u[j], p);
      splineKnots[j + 1] = {p.x, p.y, static_cast<f32>(s[j]), 0};
    }
    splineKnots[n + 1] = {b.x, b.y, 0.0f, 0};
    if (!math.CalcPointSpline(splineKnots, n + 2, kSampleStep, k->polyline, count)) {
      k->polylineCount = 0;
      return FailFrom(math, klErrNoMemory);
    }
  }
  k->polylineCount = count;
  const kltFPOS* pts = reinterpret_cast<const kltFPOS*>(k->polyline->GetPtr());
  k->polylineMin = k->polylineMax = pts[0];
  for (u32 i = 1; i < count; ++i) {
    k->polylineMin = {std::fmin(k->polylineMin.x, pts[i].x), std::fmin(k->polylineMin.y, pts[i].y)};
    k->polylineMax = {std::fmax(k->polylineMax.x, pts[i].x), std::fmax(k->polylineMax.y, pts[i].y)};
  }
  if (!target) return 1;
  const f64 minDist2 = width * 0.5 > 1.0 ? width * 0.5 : 1.0;
  if (gathering && target != layers[2])
    return i_Gather((k->selected ? 2 : 0) + (k->hidden ? 1 : 0), pts, count, width, minDist2);
  draw.SetDestination(target);
  draw.SetValue(k->hidden ? m.hiddenKnifeOpacity : 255);
  draw.SetAntiAlias(m.antiAliasing ? 1 : 0);
  const u8 drawn = n == 0 ? draw.DrawHQLine(a, b, width, 1, 1, 0)
                          : draw.DrawHQPolyLine(pts, count, width, 1, 1, 0, minDist2);
  return drawn ? 1 : FailFrom(draw, klErrBadArg);
}

u8 CLayoutDrawing::i_Gather(u32 group, const kltFPOS* pts, u32 count, f64 width, f64 minDist2) {
  CKLF_Mem& block = gathered[group];
  u32& n = gatheredCount[group];
  const u64 want = static_cast<u64>(n) + 1;
  if (want * sizeof(CKLF_ImageDrawing::HQPOLYLINE) > block.GetSize() &&
      !m.GrowBlock(block, (want < 64 ? 64 : 2 * want) * sizeof(CKLF_ImageDrawing::HQPOLYLINE)))
    return FailFrom(block, klErrNoMemory);
  reinterpret_cast<CKLF_ImageDrawing::HQPOLYLINE*>(block.GetPtr())[n++] = {pts, count, width, minDist2};
  return 1;
}

// Knives blend into their layer, whatever the order: the ones gathered
// are drawn a layer and an opacity at a time, where they overlap worked
// on once.
u8 CLayoutDrawing::i_DrawGathered() {
  u8 ok = 1;
  for (u32 group = 0; group < 4; ++group) {
    const u32 n = gatheredCount[group];
    gatheredCount[group] = 0;
    if (n == 0) continue;
    draw.SetDestination(layers[group >> 1]);
    draw.SetValue(group & 1 ? m.hiddenKnifeOpacity : 255);
    draw.SetAntiAlias(m.antiAliasing ? 1 : 0);
    if (!draw.DrawHQPolyLines(reinterpret_cast<const CKLF_ImageDrawing::HQPOLYLINE*>(gathered[group].GetPtr()), n, 1,
                              1, 0))
      ok = FailFrom(draw, klErrBadArg);
  }
  return ok;
}

u8 CLayoutDrawing::i_Advance(f64 step, f64& running) {
  if (!progress) return 1;
  const i32 before = static_cast<i32>(running);
  running += step;
  if (static_cast<i32>(running) != before) m.view->StatusProgress(static_cast<i32>(running));
  return 1;
}

// The grid knives in drawing order, with the handles of their knots.
u8 CLayoutDrawing::i_DrawGrid(kltRECT_s clear, f64 step, f64& running) {
  const u32 V = m.verticalLineCount, H = m.horizontalLineCount;
  u8 ok = 1;
  auto knife = [&](Knife& k, u32 c0, u32 r0, u32 c1, u32 r1) {
    kltFPOS a, b;
    i_KnotPosition(c0, r0, a);
    i_KnotPosition(c1, r1, b);
    k.span = static_cast<f32>(std::hypot(b.x - a.x, b.y - a.y));
    if (k.selected && !selectedVisible) {
      selectedVisible = 1;
      i_ClearAlpha(layers[1], clear);
    }
    if (!i_spl_DrawKnife(&k, a, b)) ok = 0;
    i_Advance(step, running);
  };
  const u32 n = m.knotColumns;
  for (u32 r = 0; r <= H && V > 0; ++r) {
    for (u32 l = 0; l < V; ++l) {
      if (m.showKnots) i_Handle(l + 1 + r * n, 0);
      if (m.showKnots && r == H) i_Handle(l + 1 + (r + 1) * n, 0);
      knife(m.vKnives[l + r * V], l + 1, r, l + 1, r + 1);
    }
  }
  for (u32 j = 0; j < H; ++j) {
    for (u32 c = 0; c <= V; ++c) {
      if (m.showKnots && c == 0) i_Handle((j + 1) * n, 0);
      if (m.showKnots && c == V) i_Handle(V + 1 + (j + 1) * n, 0);
      knife(m.hKnives[c + j * (V + 1)], c, j + 1, c + 1, j + 1);
    }
  }
  for (u32 i = 0; i < m.xKnifeCount; ++i) {
    CLayoutModel::AUXKNIFESTRUCT& x = m.xKnives[i];
    if (x.knotA >= m.knotCount || x.knotB >= m.knotCount) continue;
    knife(x, x.knotA % n, x.knotA / n, x.knotB % n, x.knotB / n);
  }
  return ok;
}

u8 CLayoutDrawing::spl_DoRedrawSplitting(kltRECT_s clip, kltRECT_s area, u8 full) {
  splitClip = clip;
  splitArea = area;
  const kltRECT_s clear = full ? klNullRect : clip;
  i_ClearAlpha(layers[0], clear);
  handlesVisible = m.showKnots ? 1 : 0;
  if (m.showKnots) i_ClearAlpha(layers[2], klNullRect);
  draw.SetClipRect(clip);
  selectedVisible = 0;
  m.knotHandleCount = 0;
  if (m.knotCount == 0) return 1;
  const u32 total = m.TotalKnifeCount();
  progress = m.view && (total > 100 || !m.thinKnives);
  f64 running = 0;
  ResetError();
  gathering = 1;
  u8 ok = i_DrawGrid(clear, total ? 100.0 / total : 0.0, running);
  gathering = 0;
  if (!i_DrawGathered()) ok = 0;
  if (progress) m.view->StatusProgress(-1);
  if (m.showKnots) {
    const u32 V = m.verticalLineCount, H = m.horizontalLineCount;
    const u32 corners[4] = {0, V + 1, (V + 2) * (H + 2) - 1, (H + 1) * (V + 2)};
    for (u32 c : corners) i_Handle(c, 1);
  }
  return ok;
}
