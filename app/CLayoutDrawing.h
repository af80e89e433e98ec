// The layout drawn over the document preview in Layout mode: every knife as
// a curve on the knives layer (selected ones on a layer of their own), knot
// handles, and markers for the split lines on the two split rulers. The
// drawing also measures what the mouse handling tests against: every
// knot's position in preview pixels, every knife's span and sampled
// polyline, the knot handle rectangles and the ruler markers. The hit
// tests find the knives under a point.
//
// The layers and rulers are RGBA images the window owns; their alpha
// planes are drawn into. Without layers the drawing still measures.
// Cost: a full redraw samples every knife (one point every 8 preview
// pixels) and draws inside the clip rectangle only; the hit test visits
// every polyline segment near the point. Polyline blocks are kept with the
// knives and reused.
#pragma once

#include "CKLF_2DMath.h"
#include "CKLF_Image.h"
#include "CKLF_ImageDrawing.h"
#include "CLayoutModel.h"

class CKLF_DWordArray;

class CLayoutDrawing : public CKLF_FrameWork {
 public:
  typedef CLayoutModel::KNIFESTRUCT KNIFESTRUCT;

  static constexpr u32 kMaxWidth = 1600;
  static constexpr f64 kMinReach = 5.0;
  static constexpr f64 kSampleStep = 8.0;

  // A split ruler's marker: its position along the ruler and its size.
  struct MARKER {
    i32 position;
    u32 size;
  };

  explicit CLayoutDrawing(CLayoutModel& model);
  ~CLayoutDrawing() override;

  CLayoutDrawing(const CLayoutDrawing&) = delete;
  CLayoutDrawing& operator=(const CLayoutDrawing&) = delete;

  // The three overlay layers (RGBA, the preview's size; any may be null).
  void SetLayers(CKLF_Image* knives, CKLF_Image* selected, CKLF_Image* handles);
  // The top and left split rulers (RGBA, at least 7 pixels thick).
  void SetRulers(CKLF_Image* top, CKLF_Image* left);
  // Zoom 0..8 (4 is 1:1), the preview pixel at the view's top-left, and
  // the view's size.
  void SetView(u8 zoom, i32 originX, i32 originY, i32 width, i32 height);
  void SetLayoutMode(u8 on) { layoutMode = on; }

  // A length in image pixels at the current zoom.
  u64 Zoomed(u64 length) const;
  // The drawing area: the image's size at the current zoom.
  f64 AreaWidth() const { return static_cast<f64>(Zoomed(m.imageWidth)); }
  f64 AreaHeight() const { return static_cast<f64>(Zoomed(m.imageHeight)); }

  // The full redraw. 0 when a knife could not be drawn (its error kept;
  // the other knives are drawn).
  u8 spl_DoRedrawSplitting(kltRECT_s clip, kltRECT_s area, u8 full);
  // The rulers and, in Layout mode, the splitting of the visible part.
  u8 DoRedrawOverlay();
  // One knife between two knot positions; rebuilds its polyline.
  u8 i_spl_DrawKnife(KNIFESTRUCT* knife, kltFPOS start, kltFPOS end);
  // During a knot drag: the knives of that knot into the handle layer.
  u8 spl_DoRedrawOnKnotMoving(u32 knotId);
  // A grid of other counts as plain lines (the Cutter's fields being set).
  void spl_DoShowFurtherSplitting(u16 columns, u16 rows, kltRECT_s clip, kltRECT_s area);
  void spl_DoRedrawBySimpleLines(u16 vCount, u16 hCount, const f32* vPositions, const f32* hPositions,
                                 kltRECT_s clip, kltRECT_s area);
  // The preview of the Cutter's counts in the last clip; clears the rulers.
  void OnCutterUpdateRowsCols_ShowLines(u32 rows, u32 columns);
  void spl_DoRedrawHVSplitRulers();
  // Knot handles shown or hidden.
  void cmop_Extras(u8 show, u8 redraw);

  // The knives whose polylines pass within reach of (x, y), vertical, then
  // horizontal, then extra; 1 when any.
  u8 spl_GetKnifeByXY(i32 x, i32 y, CKLF_DWordArray* ids);
  u8 i_spl_XYInKnife(const KNIFESTRUCT* knife, i32 x, i32 y);
  // A pointer offset along a ruler as a line position (a fraction).
  f64 RulerOffsetToPosition(u8 vertical, i32 offset) const;

  // After a redraw: which layers show, the clip rectangles, the markers.
  u8 selectedVisible = 0;
  u8 handlesVisible = 0;
  kltRECT_s splitClip = klNullRect;
  kltRECT_s splitArea = klNullRect;
  MARKER markers[2][CLayoutModel::kMaxLines]{};  // top (vertical lines), left
  u16 markerLines[2][CLayoutModel::kMaxLines]{};
  u16 markerCount[2]{};

 private:
  f64 i_Width(const KNIFESTRUCT& k) const;
  void i_Handle(u32 knotId, u8 corner);
  void i_KnotPosition(u32 column, u32 row, kltFPOS& p);
  u8 i_DrawGrid(kltRECT_s clear, f64 step, f64& running);
  u8 i_Advance(f64 step, f64& running);
  void i_ClearAlpha(CKLF_Image* layer, kltRECT_s r);
  void i_Markers(u8 left);
  // A full redraw gathers the knives of the knives' and the selected
  // layers, shown and hidden (group: 2 selected + 1 hidden), and draws
  // them after the grid.
  u8 i_Gather(u32 group, const kltFPOS* pts, u32 count, f64 width, f64 minDist2);
  u8 i_DrawGathered();

  CLayoutModel& m;
  CKLF_ImageDrawing draw;
  CKLF_2DMath math;
  CKLF_2DMath::KLSPLINEPOINT splineKnots[CLayoutModel::kMaxPoints + 2]{};
  CKLF_Image* layers[3]{};  // knives, selected, handles
  CKLF_Image* rulers[2]{};  // top, left
  u8 zoom = 4;
  i32 originX = 0, originY = 0, viewWidth = 0, viewHeight = 0;
  u8 layoutMode = 1;
  u8 progress = 0;
  u8 gathering = 0;
  CKLF_Mem gathered[4];  // HQPOLYLINE entries pointing into the knives' polylines
  u32 gatheredCount[4]{};
};
