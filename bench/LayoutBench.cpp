// The layout drawing on every mouse move: a full redraw of a 30 x 20 grid
// of knob knives with random knots and extra knives into a 1000 x 700 view
// (three RGBA layers), and a hit test over a 100 x 100 grid in the same
// view; thick knives seen close. Rates are view megapixels per second for the redraw; the hit test
// reports its time per test (it must stay well under a millisecond). And
// the largest triangle and hexagon layouts laid without a view (thousands
// of extra knives joined, shaped, and the undo point before them).
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include "CKLF_Array.h"
#include "CLayoutEditor.h"
#include "CLayoutRandom.h"

namespace {

const int kW = 1000, kH = 700;

struct Scene {
  Scene(u16 columns, u16 rows, u8 layers, u32 imageW = kW, u32 imageH = kH) : random(3) {
    CLayoutModel& m = editor.model;
    m.SetRandom(&random);
    m.SetImageSize(imageW, imageH);
    m.spl_SplitEvenParts(columns, rows, 1, 1);
    for (u32 i = 0; i < m.vKnifeCount; ++i) CLayoutModel::settings_SetDefaultKnife(&m.vKnives[i]);
    for (u32 i = 0; i < m.hKnifeCount; ++i) CLayoutModel::settings_SetDefaultKnife(&m.hKnives[i]);
    m.knotRandomAmount = 0.3f;
    m.spl_AutoFillKnots(1);
    editor.selection.op_RandFlip(1, 0, 0, 0);
    for (CKLF_Image* img : {&knives, &selected, &handles}) {
      EXPECT_TRUE(img->Create(kW, kH, 2));
    }
    if (layers) editor.drawing.SetLayers(&knives, &selected, &handles);
    editor.drawing.SetView(4, 0, 0, kW, kH);
  }
  // Every knife hidden and drawn at that opacity; 255: all shown.
  void Hide(u8 opacity) {
    CLayoutModel& m = editor.model;
    m.hiddenKnifeOpacity = opacity;
    for (u32 i = 0; i < m.vKnifeCount; ++i) m.vKnives[i].hidden = opacity != 255;
    for (u32 i = 0; i < m.hKnifeCount; ++i) m.hKnives[i].hidden = opacity != 255;
  }
  CLayoutSeededRandom random;
  CLayoutEditor editor;
  CKLF_Image knives, selected, handles;
};

void BM_LayoutRedraw30x20(benchmark::State& state) {
  Scene s(30, 20, 1);
  for (auto _ : state) benchmark::DoNotOptimize(s.editor.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 1));
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(kW) * kH * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LayoutRedraw30x20)->Unit(benchmark::kMillisecond);

// Thick knives seen close: a 4 x 3 grid of knob knives 30 pixels thick at
// 16 times, each drawn about 480 pixels wide over the view; anti-aliased
// or not (arg).
void BM_LayoutRedrawThickZoomed(benchmark::State& state) {
  Scene s(4, 3, 1);
  s.editor.model.spl_DoSetKnifeTh(30, 0, 0);
  s.editor.model.antiAliasing = static_cast<u8>(state.range(0));
  s.editor.drawing.SetView(8, 3500, 3300, kW, kH);
  for (auto _ : state) benchmark::DoNotOptimize(s.editor.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 1));
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(kW) * kH * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LayoutRedrawThickZoomed)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The segments a redraw hands the rasteriser: each knife's polyline walked
// as the drawing walks it (a new segment past half the width, squared).
u64 SegmentsDrawn(CLayoutModel& m, f64 width) {
  u64 n = 0;
  const f64 minDist2 = width * 0.5 > 1.0 ? width * 0.5 : 1.0;
  auto walk = [&](const CLayoutModel::KNIFESTRUCT& k) {
    if (!k.polyline || k.polylineCount < 2) return;
    const kltFPOS* p = reinterpret_cast<const kltFPOS*>(k.polyline->GetPtr());
    for (u32 cur = 0, next; cur + 1 < k.polylineCount; cur = next, ++n) {
      next = cur + 1;
      while (next + 1 < k.polylineCount && (p[next].x - p[cur].x) * (p[next].x - p[cur].x) +
                                                   (p[next].y - p[cur].y) * (p[next].y - p[cur].y) <= minDist2)
        ++next;
    }
  };
  for (u32 i = 0; i < m.vKnifeCount; ++i) walk(m.vKnives[i]);
  for (u32 i = 0; i < m.hKnifeCount; ++i) walk(m.hKnives[i]);
  return n;
}

// The thickest knives seen closest: a 59 x 59 or 100 x 100 grid of knob
// knives (6,844 or 19,800 segments) 50 or 100 pixels thick on a 56 x 40
// picture at 16 times (800 or 1,600 pixels wide, each over most of the
// view), the whole picture in view; without anti-aliasing (the disc brush)
// and with it; shown, or hidden at the default opacity and at a low one.
void BM_LayoutRedrawThickestKnives(benchmark::State& state) {
  const u16 grid = static_cast<u16>(state.range(3));
  Scene s(grid, grid, 1, 56, 40);
  s.editor.model.spl_DoSetKnifeTh(static_cast<u32>(state.range(0)), 0, 0);
  s.editor.model.antiAliasing = static_cast<u8>(state.range(1));
  s.Hide(static_cast<u8>(state.range(2)));
  s.editor.drawing.SetView(8, 0, 0, kW, kH);
  for (auto _ : state) benchmark::DoNotOptimize(s.editor.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 1));
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(kW) * kH * state.iterations() / 1e6, benchmark::Counter::kIsRate);
  state.SetLabel(std::to_string(SegmentsDrawn(s.editor.model, static_cast<f64>(state.range(0) * 16))) + " segments");
}
BENCHMARK(BM_LayoutRedrawThickestKnives)
    ->ArgNames({"thickness", "aa", "opacity", "grid"})
    ->ArgsProduct({{50, 100}, {0, 1}, {255, 70, 25}, {59, 100}})
    ->Unit(benchmark::kMillisecond);

// The thickest knives, hidden, at every zoom: a 30 x 20 grid 100 pixels
// thick on a 1000 x 700 picture, the view on its middle (6 to 1,600
// pixels wide); anti-aliased or not.
void BM_LayoutRedrawHiddenKnivesAtZoom(benchmark::State& state) {
  Scene s(30, 20, 1);
  s.editor.model.spl_DoSetKnifeTh(100, 0, 0);
  s.editor.model.antiAliasing = static_cast<u8>(state.range(1));
  s.Hide(70);
  const u8 zoom = static_cast<u8>(state.range(0));
  s.editor.drawing.SetView(zoom, 0, 0, kW, kH);
  const i32 ox = static_cast<i32>((s.editor.drawing.Zoomed(kW) - kW) / 2);
  const i32 oy = static_cast<i32>((s.editor.drawing.Zoomed(kH) - kH) / 2);
  s.editor.drawing.SetView(zoom, zoom > 4 ? ox : 0, zoom > 4 ? oy : 0, kW, kH);
  for (auto _ : state) benchmark::DoNotOptimize(s.editor.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 1));
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(kW) * kH * state.iterations() / 1e6, benchmark::Counter::kIsRate);
  state.SetLabel(std::to_string(SegmentsDrawn(s.editor.model, static_cast<f64>(s.editor.drawing.Zoomed(100)))) +
                 " segments");
}
BENCHMARK(BM_LayoutRedrawHiddenKnivesAtZoom)
    ->ArgNames({"zoom", "aa"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7, 8}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

void BM_LayoutHitTest100x100(benchmark::State& state) {
  Scene s(100, 100, 0);
  s.editor.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 1);
  CKLF_DWordArray ids;
  i32 x = 0, y = 0;
  for (auto _ : state) {
    x = (x + 37) % kW;
    y = (y + 23) % kH;
    benchmark::DoNotOptimize(s.editor.drawing.spl_GetKnifeByXY(x, y, &ids));
  }
  state.SetLabel(std::to_string(s.editor.model.TotalKnifeCount()) + " knives");
}
BENCHMARK(BM_LayoutHitTest100x100)->Unit(benchmark::kMicrosecond);

}  // namespace

void BM_AutoLayoutLargest(benchmark::State& state) {
  Scene scene(2, 2, 0);
  CLayoutEditor& e = scene.editor;
  for (auto _ : state) {
    const u8 laid = state.range(0) ? e.autoLayout.AutoLayout_Hexagons(97, 48, 0)
                                   : e.autoLayout.AutoLayout_Triangles(98, 97, 0);
    if (!laid) return state.SkipWithError("not laid");
  }
  state.counters["extra knives"] = e.model.xKnifeCount;
}
BENCHMARK(BM_AutoLayoutLargest)->ArgName("hexagons")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
