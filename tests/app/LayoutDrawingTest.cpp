#include <gtest/gtest.h>

#include <algorithm>

#include "LayoutTestSupport.h"

using namespace laytest;

namespace {

// A 40 x 30 image in a view of its size: layers, rulers and a grid.
struct Scene : Editor {
  Scene(u16 columns, u16 rows) {
    model.SetCutter(nullptr);
    for (CKLF_Image* img : {&knives, &selected, &handles}) EXPECT_TRUE(img->Create(40, 30, 2));
    EXPECT_TRUE(top.Create(40, 8, 2));
    EXPECT_TRUE(left.Create(8, 30, 2));
    for (CKLF_Image* img : {&knives, &selected, &handles, &top, &left}) img->Set(kltRGBA8{255, 255, 255, 9}, 15);
    model.SetImageSize(40, 30);
    model.antiAliasing = 0;
    EXPECT_EQ(model.spl_SplitEvenParts(columns, rows, 1, 1), 1);
    drawing.SetLayers(&knives, &selected, &handles);
    drawing.SetRulers(&top, &left);
    drawing.SetView(4, 0, 0, 40, 30);
  }
  u8 Alpha(CKLF_Image& img, u16 x, u16 y) { return img.GetPixel(x, y).alpha; }
  // Pixels of a row whose alpha is not 0.
  u32 Covered(CKLF_Image& img, u16 y) {
    u32 n = 0;
    for (u16 x = 0; x < img.GetImageWidth(); ++x) n += Alpha(img, x, y) != 0;
    return n;
  }
  Values Hits(i32 x, i32 y) {
    CKLF_DWordArray ids;
    drawing.spl_GetKnifeByXY(x, y, &ids);
    Values v;
    for (u32 i = 0; i < ids.GetSize(); ++i) v.push_back(ids[i]);
    return v;
  }
  CKLF_Image knives, selected, handles, top, left;
};

}  // namespace

TEST(LayoutDrawing, KnivesOnTheirLayers) {
  Scene s(2, 1);  // one vertical knife at x = 20
  Knife& k = s.model.vKnives[0];
  // Width by zoom and thin mode: 3 pixels at 1:1, 1 at zoom 2 (3 >> 2 is
  // raised to 1), 1 in thin mode; knives clear what was there.
  const struct { u8 thin, zoom; i32 origin; u32 covered; } widths[] = {
      {0, 4, 0, 3}, {0, 2, 0, 1}, {1, 4, 0, 1}, {0, 5, 20, 6}};
  for (const auto& w : widths) {
    s.model.thinKnives = w.thin;
    s.drawing.SetView(w.zoom, w.origin, 0, 40, 30);
    ASSERT_EQ(s.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 1), 1);
    EXPECT_EQ(s.Covered(s.knives, 3), w.covered) << int(w.zoom);
  }
  s.drawing.SetView(4, 0, 0, 40, 30);
  EXPECT_EQ(std::vector<i32>(s.view.progress.end() - 1, s.view.progress.end()), std::vector<i32>({-1}));
  EXPECT_EQ(std::vector<i32>(s.view.progress.begin(), s.view.progress.begin() + 2), std::vector<i32>({100, -1}));
  // Hidden knives are faint; selected ones go to their own layer, which
  // shows from then on.
  k.hidden = 1;
  s.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 0);
  EXPECT_EQ(s.Alpha(s.knives, 20, 10), 70);
  k.selected = 1;
  s.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 0);
  EXPECT_EQ(Values({s.Alpha(s.knives, 20, 10), s.Alpha(s.selected, 20, 10), s.drawing.selectedVisible}),
            Values({0, 70, 1}));
  // A knob: span and a sampled polyline from knot to knot.
  CLayoutModel::settings_SetDefaultKnife(&k);
  s.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 0);
  const kltFPOS* pts = reinterpret_cast<const kltFPOS*>(k.polyline->GetPtr());
  EXPECT_EQ(k.span, 30.0f);
  EXPECT_GT(k.polylineCount, 5u);
  EXPECT_EQ(std::vector<f64>({pts[0].x, pts[0].y, pts[k.polylineCount - 1].y}), std::vector<f64>({20, 0, 30}));
  // The Cutter's counts being edited: current columns kept, new rows even.
  s.model.verticalLines[0] = 0.3f;
  s.drawing.OnCutterUpdateRowsCols_ShowLines(3, 0xFFFFFFFF);
  EXPECT_EQ(Values({s.Alpha(s.knives, 12, 5) > 0, s.Alpha(s.knives, 20, 5) > 0, s.Covered(s.knives, 10) == 40,
                    s.Covered(s.knives, 15) <= 2, s.Alpha(s.top, 12, 2), s.drawing.handlesVisible}),
            Values({1, 0, 1, 1, 0, 0}));
}

// A redraw gathers the knives and draws them a layer and an opacity at a
// time: the layers each knife drawn alone gives, knives wide and thin,
// anti-aliased or not, shown, hidden and selected, crossing.
TEST(LayoutDrawing, GatheredKnivesEqualKnivesDrawnAlone) {
  for (const u8 aa : {1, 0})
    for (const u8 zoom : {4, 8}) {
      Scene s(5, 4);
      s.model.antiAliasing = aa;
      auto each = [&](auto f) {
        for (u32 i = 0; i < s.model.vKnifeCount; ++i) f(s.model.vKnives[i], i);
        for (u32 i = 0; i < s.model.hKnifeCount; ++i) f(s.model.hKnives[i], i + 1);
      };
      each([](Knife& k, u32 i) {
        CLayoutModel::settings_SetDefaultKnife(&k);
        k.hidden = i % 3 == 0;
        k.selected = i % 4 == 1;
      });
      // At 16 times, around the crossing of the first knives.
      s.drawing.SetView(zoom, zoom == 8 ? 108 : 0, zoom == 8 ? 105 : 0, 40, 30);
      ASSERT_EQ(s.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 1), 1);
      auto alphas = [&](CKLF_Image& img) {
        std::vector<u8> a;
        for (u16 y = 0; y < 30; ++y)
          for (u16 x = 0; x < 40; ++x) a.push_back(s.Alpha(img, x, y));
        return a;
      };
      const std::vector<u8> knives = alphas(s.knives), selected = alphas(s.selected);
      for (CKLF_Image* img : {&s.knives, &s.selected}) img->Set(kltRGBA8{0, 0, 0, 0}, 8);
      each([&](Knife& k, u32) {
        const kltFPOS* p = reinterpret_cast<const kltFPOS*>(k.polyline->GetPtr());
        ASSERT_EQ(s.drawing.i_spl_DrawKnife(&k, p[0], p[k.polylineCount - 1]), 1);
      });
      EXPECT_EQ(knives, alphas(s.knives)) << "aa " << int(aa) << " zoom " << int(zoom);
      EXPECT_EQ(selected, alphas(s.selected)) << "aa " << int(aa) << " zoom " << int(zoom);
      for (const std::vector<u8>* layer : {&knives, &selected})
        EXPECT_LT(std::count(layer->begin(), layer->end(), 0), 1200) << "aa " << int(aa) << " zoom " << int(zoom);
    }
}

TEST(LayoutDrawing, HandlesAndRulers) {
  Scene s(2, 1);  // knots (0, 0), (20, 0), (40, 0), (0, 30), (20, 30), (40, 30)
  s.model.i_cmop_KnotClickToSelect(1);
  s.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 0);
  std::vector<i32> rects;
  for (u32 i = 0; i < s.model.knotHandleCount; ++i) {
    const CLayoutModel::KNOTHANDLE& h = s.model.knotHandles[i];
    rects.insert(rects.end(), {h.left, h.top, h.right, h.bottom, static_cast<i32>(h.knotId), h.corner});
  }
  EXPECT_EQ(rects, std::vector<i32>({17, 0,  24, 4,  1, 0, 17, 27, 24, 30, 4, 0, 0,  0,  4,  4,  0, 1,
                                     37, 0,  40, 4,  2, 1, 37, 27, 40, 30, 5, 1, 0, 27, 4, 30, 3, 1}));
  // A corner handle is faint inside; the selected knot has a blue circle.
  EXPECT_EQ(Values({s.Alpha(s.handles, 3, 3), s.Alpha(s.handles, 2, 2), s.Alpha(s.handles, 4, 4),
                    s.handles.GetPixel(26, 0).red, s.handles.GetPixel(26, 0).blue, s.drawing.handlesVisible}),
            Values({255, 50, 0, 0, 255, 1}));
  s.drawing.cmop_Extras(0, 1);
  EXPECT_EQ(Values({s.model.knotHandleCount, s.drawing.handlesVisible}), Values({0, 0}));

  // A marker narrows to a point at the image; the rulers are orange.
  s.drawing.spl_DoRedrawHVSplitRulers();
  EXPECT_EQ(Values({s.Covered(s.top, 0), s.Covered(s.top, 1), s.Covered(s.top, 4), s.Covered(s.top, 5),
                    s.Covered(s.top, 6), s.Alpha(s.top, 22, 4), s.Alpha(s.top, 20, 6), s.Covered(s.left, 10),
                    s.top.GetPixel(0, 0).green, s.drawing.markerCount[0], static_cast<u32>(s.drawing.markers[0][0].position)}),
            Values({0, 5, 5, 3, 1, 255, 255, 0, 142, 1, 20}));
  s.drawing.SetView(4, 15, 0, 40, 30);  // scrolled: the marker moves left
  s.drawing.DoRedrawOverlay();
  EXPECT_EQ(Values({static_cast<u32>(s.drawing.markers[0][0].position), static_cast<u32>(s.drawing.splitClip.right)}),
            Values({5, 25}));
  EXPECT_EQ(s.drawing.RulerOffsetToPosition(1, 5), 0.5);
}

TEST(LayoutDrawing, HitTestsAtTheirReach) {
  Scene s(2, 2);  // vertical knives at x = 20, a horizontal line at y = 15
  s.model.thinKnives = 1;
  s.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 0);
  // Thin knives are hit within 5 pixels, of a segment or of an end.
  EXPECT_EQ(s.Hits(25, 8), Values({0}));
  EXPECT_EQ(s.Hits(26, 8), Values());
  EXPECT_EQ(s.Hits(20, 15), Values({0, 1, 1000000, 1000001}));
  EXPECT_EQ(s.Hits(23, -4), Values({0}));  // 5 from the end knot (20, 0)
  EXPECT_EQ(s.Hits(24, -4), Values());
  // At zoom 6 a knife of thickness 12 reaches 24 pixels.
  s.model.thinKnives = 0;
  s.model.vKnives[0].thickness = 12;
  s.drawing.SetView(6, 0, 0, 160, 120);
  s.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 0);
  EXPECT_EQ(s.Hits(104, 20), Values({0}));
  EXPECT_EQ(s.Hits(105, 20), Values());
  // A knife whose knots meet is not drawn again: it keeps its old polyline.
  s.model.knots[4].dy = -1.0f;  // knot (1, 1) up onto the top border
  s.drawing.spl_DoRedrawSplitting(klNullRect, klNullRect, 0);
  EXPECT_EQ(s.Hits(80, 40), Values({0, 1}));
}
