// The split rulers, the plain-line preview of other counts and the partial
// redraws of the layout drawing.
#include "CLayoutDrawing.h"
#include "CLayoutView.h"

namespace {

const kltRGBA8 kLayoutRuler = {213, 142, 31, 0};
const kltRGBA8 kPuzzleRuler = {200, 200, 200, 0};
const kltRGBA8 kFullAlpha = {0, 0, 0, 255};

}  // namespace

void CLayoutDrawing::i_Markers(u8 left) {
  CKLF_Image* ruler = rulers[left];
  const u32 n = left ? m.horizontalLineCount : m.verticalLineCount;
  const f32* P = left ? m.horizontalLines : m.verticalLines;
  const f64 size = left ? AreaHeight() : AreaWidth();
  const i32 origin = left ? originY : originX, extent = left ? viewHeight : viewWidth;
  markerCount[left] = 0;
  for (u32 i = 0; i < n && i < CLayoutModel::kMaxLines; ++i) {
    const f64 at = size * P[i] - origin;
    if (!(at >= 0 && at < extent)) continue;
    const i32 x = static_cast<i32>(at);
    markers[left][markerCount[left]] = {x, 3};
    markerLines[left][markerCount[left]++] = static_cast<u16>(i);
    if (!ruler) continue;
    // Rows 1 to 6 from the far side narrow to a point at the image.
    const i32 rows[3][3] = {{1, 5, 2}, {5, 6, 1}, {6, 7, 0}};
    for (const auto& r : rows) {
      const kltRECT_s band = left ? kltRECT_s{r[0], x - r[2], r[1], x + r[2] + 1} : kltRECT_s{x - r[2], r[0], x + r[2] + 1, r[1]};
      ruler->Set(kFullAlpha, 8, band);
    }
  }
}

void CLayoutDrawing::spl_DoRedrawHVSplitRulers() {
  for (u8 r = 0; r < 2; ++r) {
    if (rulers[r]) rulers[r]->Set(layoutMode ? kLayoutRuler : kPuzzleRuler, 15, klNullRect);
    i_Markers(r);
  }
}

u8 CLayoutDrawing::DoRedrawOverlay() {
  spl_DoRedrawHVSplitRulers();
  if (!layoutMode) return 1;
  const i32 W = static_cast<i32>(AreaWidth()), Ht = static_cast<i32>(AreaHeight());
  kltRECT_s clip = {originX < 0 ? -originX : 0, originY < 0 ? -originY : 0,
                    viewWidth < W - originX ? viewWidth : W - originX, viewHeight < Ht - originY ? viewHeight : Ht - originY};
  kltRECT_s area = klNullRect;
  if (clip.left >= clip.right || clip.top >= clip.bottom) {
    clip = klNullRect;
  } else {
    // The same rectangle in image pixels.
    auto image = [&](i32 v) -> i32 { return zoom < 4 ? v * (1 << (4 - zoom)) : v >> (zoom - 4); };
    area = {image(clip.left + originX), image(clip.top + originY), image(clip.right + originX),
            image(clip.bottom + originY)};
  }
  return spl_DoRedrawSplitting(clip, area, 0);
}

u8 CLayoutDrawing::spl_DoRedrawOnKnotMoving(u32 id) {
  if (id >= m.knotCount) return 0;
  if (layers[2]) layers[2]->Set(kltRGBA8{0, 0, 0, 0}, 8, splitClip);
  draw.SetClipRect(splitClip);
  const u32 n = m.knotColumns, V = m.verticalLineCount, H = m.horizontalLineCount;
  const u32 c = id % n, r = id / n;
  kltFPOS at, other;
  i_KnotPosition(c, r, at);
  auto knife = [&](KNIFESTRUCT& k, u32 oc, u32 orow, u8 otherFirst) {
    i_KnotPosition(oc, orow, other);
    i_spl_DrawKnife(&k, otherFirst ? other : at, otherFirst ? at : other);
  };
  if (c >= 1 && c <= V && r >= 1) knife(m.vKnives[(c - 1) + (r - 1) * V], c, r - 1, 1);
  if (c >= 1 && c <= V && r <= H) knife(m.vKnives[(c - 1) + r * V], c, r + 1, 0);
  if (r >= 1 && r <= H && c >= 1) knife(m.hKnives[(c - 1) + (r - 1) * (V + 1)], c - 1, r, 1);
  if (r >= 1 && r <= H && c <= V) knife(m.hKnives[c + (r - 1) * (V + 1)], c + 1, r, 0);
  for (u32 i = 0; i < m.xKnifeCount; ++i) {
    CLayoutModel::AUXKNIFESTRUCT& x = m.xKnives[i];
    if ((x.knotA != id && x.knotB != id) || x.knotA >= m.knotCount || x.knotB >= m.knotCount) continue;
    kltFPOS a, b;
    i_KnotPosition(x.knotA % n, x.knotA / n, a);
    i_KnotPosition(x.knotB % n, x.knotB / n, b);
    i_spl_DrawKnife(&x, a, b);
  }
  return 1;
}

void CLayoutDrawing::spl_DoShowFurtherSplitting(u16 columns, u16 rows, kltRECT_s clip, kltRECT_s area) {
  const u32 V = CLayoutModel::LinesFor(columns), H = CLayoutModel::LinesFor(rows);
  f32 v[CLayoutModel::kMaxLines], h[CLayoutModel::kMaxLines];
  if (V == m.verticalLineCount) {
    for (u32 i = 0; i < V; ++i) v[i] = m.verticalLines[i];
  } else {
    CLayoutModel::EvenLinePositions(v, V);
  }
  if (H == m.horizontalLineCount) {
    for (u32 i = 0; i < H; ++i) h[i] = m.horizontalLines[i];
  } else {
    CLayoutModel::EvenLinePositions(h, H);
  }
  spl_DoRedrawBySimpleLines(static_cast<u16>(V), static_cast<u16>(H), v, h, clip, area);
}

void CLayoutDrawing::spl_DoRedrawBySimpleLines(u16 vCount, u16 hCount, const f32* v, const f32* h, kltRECT_s clip,
                                               kltRECT_s) {
  handlesVisible = 0;
  selectedVisible = 0;
  CKLF_Image* layer = layers[0];
  if (!layer) return;
  layer->Set(kltRGBA8{0, 0, 0, 0}, 8, clip);
  const kltRECT_s c = klIsNullRect(clip) ? kltRECT_s{0, 0, layer->GetImageWidth(), layer->GetImageHeight()} : clip;
  draw.SetDestination(layer);
  draw.SetClipRect(c);
  draw.SetValue(255);
  draw.SetAntiAlias(1);
  // A line that cannot be drawn ends the drawing (the code stays in draw).
  for (u32 i = 0; i < vCount && v; ++i) {
    const f64 x = AreaWidth() * v[i] - originX;
    if (x >= c.left && x < c.right && !draw.DrawHQLine(x, c.top, x, c.bottom, 1.0, 0, 1, 0)) return;
  }
  for (u32 i = 0; i < hCount && h; ++i) {
    const f64 y = AreaHeight() * h[i] - originY;
    if (y >= c.top && y < c.bottom && !draw.DrawHQLine(c.left, y, c.right, y, 1.0, 0, 1, 0)) return;
  }
}

void CLayoutDrawing::OnCutterUpdateRowsCols_ShowLines(u32 rows, u32 columns) {
  if (rows == 0xFFFFFFFF) rows = m.horizontalLineCount + 1u;
  if (columns == 0xFFFFFFFF) columns = m.verticalLineCount + 1u;
  spl_DoShowFurtherSplitting(static_cast<u16>(columns > 101 ? 101 : columns), static_cast<u16>(rows > 101 ? 101 : rows),
                             splitClip, splitArea);
  for (CKLF_Image* r : rulers)
    if (r) r->Set(kltRGBA8{0, 0, 0, 0}, 8, klNullRect);
}

void CLayoutDrawing::cmop_Extras(u8 show, u8 redraw) {
  m.showKnots = show ? 1 : 0;
  if (redraw) spl_DoRedrawSplitting(splitClip, splitArea, 0);
}
