// The layout the user edits in Layout mode, without any window: the grid of
// split lines, the knots where they cross or meet the border, and the three
// knife lists (vertical, horizontal, extra) with their flags and shapes.
// The main window holds one and draws it; the settings block stores it;
// the engine receives its effective points.
//
// Positions and knot offsets are fractions of the image (0 left/top edge,
// 1 right/bottom edge). Knife ids: vertical i, horizontal 1000000 + i,
// extra 2000000 + i. Knot id = row x knotColumns + column.
//
// Limits: at most 100 lines a direction (so 10404 knots and about 10100
// knives of each grid list), at most 19999 extra knives, 64 points a knife.
// Cost: a knife record is about 800 bytes; laying a grid is linear in the
// knife count; blocks grow and are never shrunk while the model lives.
#pragma once

#include "CKLF_Mem.h"

class CCutterServices;
class CLayoutRandom;
class CLayoutView;
class CTessarette;

class CLayoutModel : public CKLF_FrameWork {
 public:
  static constexpr u32 kMaxLines = 100;
  static constexpr u32 kMaxPoints = 64;
  static constexpr u32 kMaxExtraKnives = 19999;
  static constexpr u32 kHorizontalIdBase = 1000000;
  static constexpr u32 kExtraIdBase = 2000000;
  static constexpr u32 kNoAnchor = 0xFFFFFFFF;

  // One knife.
  struct KNIFESTRUCT {
    u8 flipH;      // mirrored across the base line (offsets negated)
    u8 flipU;      // mirrored along it (u becomes 1 - u, order reversed)
    u8 hidden;     // turned off: drawn faintly, does not cut
    u8 selected;
    u32 knobSize;  // per cent, 1..100; 100 uses the points as stored
    u32 thickness; // cutting width in image pixels, 1..100
    u32 pointCount;  // 0..64; 0 is a straight knife
    f32 pointU[kMaxPoints];  // along the base line, 0 start knot .. 1 end knot
    f32 pointH[kMaxPoints];  // across it, in base-line lengths
    f32 pointS[kMaxPoints];  // smoothness 0..1
    f32 centre;    // the knob-size pivot (CTessarette::KnobPivot of pointU)
    f32 span;      // end-knot distance in preview pixels (0 until drawn)
    CKLF_Mem* polyline;  // sampled curve (kltFPOS points), owned
    u32 polylineCount;
    kltFPOS polylineMin;  // the polyline's bounds, made with it
    kltFPOS polylineMax;
    u8 moving;     // drawn thin while a knot or line is dragged
  };

  // An extra knife: any two knots joined.
  struct AUXKNIFESTRUCT : KNIFESTRUCT {
    u32 knotA;
    u32 knotB;
    u8 deleteMark;
  };

  struct KNOT {
    f32 dx;  // offset as a fraction of the neighbouring column gap
    f32 dy;
    f64 x;   // preview pixels, written by each redraw
    f64 y;
  };

  struct KNOTHANDLE {
    i32 left;
    i32 top;
    i32 right;
    i32 bottom;
    u32 knotId;
    u8 corner;
  };

  CLayoutModel();
  ~CLayoutModel() override;

  CLayoutModel(const CLayoutModel&) = delete;
  CLayoutModel& operator=(const CLayoutModel&) = delete;

  // Size of the document image the layout lies over (ideal counts, defaults).
  void SetImageSize(u32 width, u32 height) {
    imageWidth = width;
    imageHeight = height;
  }
  // The Cutter to notify of selection changes, or null when it is closed.
  void SetCutter(CCutterServices* c) { cutter = c; }
  // The window that shows the layout, or null (nothing is redrawn).
  void SetView(CLayoutView* v) { view = v; }
  // The random source, or null for the C library's rand().
  void SetRandom(CLayoutRandom* r) { random = r; }
  // One draw, 0..2147483647.
  u32 Rand();
  // The largest block the layout's operations may grow (default 1 GiB).
  void SetBlockLimit(u64 bytes) { blockLimit = bytes; }
  // Grows block to bytes, keeping its contents; 0 with error 17 in the
  // block beyond the limit or when memory runs out.
  u8 GrowBlock(CKLF_Mem& block, u64 bytes) const;
  // The alert "Memory allocation problem..." titled "Error!" in the view.
  void AlertNoMemory() const;

  // Knot position in an area of width x height, minus origin; (0, 0) for a
  // knot id outside an empty grid.
  kltFPOS i_spl_ConvertKnot(u32 column, u32 row, f64 width, f64 height, kltFPOS origin) const;
  kltFPOS i_spl_ConvertKnot(u32 knotId, f64 width, f64 height, kltFPOS origin) const;
  // The id a knot will have after a line is inserted (insert 1) or deleted
  // at index line, vertical when column is set; -1 when it goes away or the
  // id is out of range. Call with the old counts.
  i32 i_CovertKnotID(u32 knotId, u8 insert, u8 column, u16 line) const;
  // The same for a grid of knotColumns columns and knotCount knots.
  static i32 CovertKnotID(u32 knotId, u32 knotColumns, u32 knotCount, u8 insert, u8 column, u16 line);

  // Room for count extra knives, records past the current count zeroed.
  u8 spl_InitAuxKnivesMem(u32 count);
  static void settings_SetDefaultKnife(KNIFESTRUCT* knife);
  void spl_CleanKnives();

  // Knob size and thickness of the considered knives (the selected ones
  // when selectedOnly and some knife is selected, else all).
  u32 spl_DoGetKnobSize(u8 selectedOnly, u8& mixed) const;
  u32 spl_DoGetKnifeThickness(u8 selectedOnly, u8& mixed) const;
  void spl_DoSetKnobSize(u32 size, u8 selectedOnly);
  void spl_DoSetKnifeTh(u32 thickness, u8 thin, u8 selectedOnly);
  // Recomputes the selection flags and tells an open Cutter the knob size
  // and thickness of the selection.
  void spl_OnKnifeSelChanged();
  // Writes what the Cutter mirrors into its fields: rows and columns (the
  // line counts + 1), the selected knives' thickness with the razor-cut
  // flag and their knob size, and the anti-aliasing flag.
  void TellCutterLayout(CCutterServices& c) const;
  // The three Layout-mode button states over the considered knives:
  // some is an extra knife, some is hidden, some is shown.
  void GetConsideredKnifeStates(u8& anyExtra, u8& anyHidden, u8& anyShown) const;

  void i_cmop_KnotClickToSelect(u32 knotId);
  // Whether an extra knife may join a and b: two knots of the grid, not
  // neighbours, and (unless joinedBefore is 0: the caller knows) not
  // joined by an extra knife already, which costs a search of the list.
  u8 i_cmop_IsPossibleKnotsForAuxKnife(u32 a, u32 b, u8 joinedBefore = 1) const;
  // Two knots selected that an extra knife may join.
  u8 CanAddExtraKnife() const;

  // Effective points after flips and knob size, in double precision, as
  // the engine reads them from a settings block; the result is the point
  // count (at most 64).
  static u32 GetEffectivePoints(const KNIFESTRUCT& knife, f64* u, f64* h, f64* s);
  static void UpdateCentre(KNIFESTRUCT& knife);
  // The lines of a count of columns or rows: count - 1, at most 100; 0 for 0.
  static u32 LinesFor(u32 count) { return count == 0 ? 0 : (count - 1 > kMaxLines ? kMaxLines : count - 1); }
  // n evenly spaced line positions, the step accumulated in single precision.
  static void EvenLinePositions(f32* positions, u32 n);

  // An even grid of columns x rows (at most 101 each); without force an
  // unchanged grid stays. 0 when a block cannot grow (the layout is then
  // unchanged).
  u8 spl_SplitEvenParts(u16 columns, u16 rows, u8 force, u8 clearExtra);
  void spl_AutoFillKnots(u8 all);
  u32 icGetIdealColumnsForRows(u32 rows) const;
  u32 icGetIdealRowsForColumns(u32 columns) const;
  // The layout of a new document: a grid of near-square cells with two rows
  // (wide image) or two columns, every knife the default knob. 0 on memory.
  u8 settings_LoadDefaults();

  // Hands the whole layout to the engine: lines, knot offsets and every
  // knife's effective points (flips and knob size applied; hidden knives do
  // not cut). 0 when the engine cannot be sized (its error kept) or its
  // counts differ from the model's after sizing (error 1); the engine's
  // layout is then partly written and must not be cut.
  u8 engine_PutLayoutToPuzzleEngine(CTessarette& engine);

  // Knife by id across the three lists, or null.
  KNIFESTRUCT* GetKnife(u32 id);
  // The i-th knife over the three lists in list order (vertical,
  // horizontal, extra), or null; extra is set for an extra knife.
  KNIFESTRUCT* NthKnife(u32 i, u8* extra = nullptr);
  const KNIFESTRUCT* NthKnife(u32 i) const { return const_cast<CLayoutModel*>(this)->NthKnife(i); }
  // The id of the i-th knife over the three lists.
  u32 NthKnifeId(u32 i) const;
  u8 AnyKnifeSelected() const { return i_AnySelected(); }
  u32 TotalKnifeCount() const { return vKnifeCount + hKnifeCount + xKnifeCount; }

  // Grid.
  f32 verticalLines[kMaxLines]{};
  f32 horizontalLines[kMaxLines]{};
  u16 verticalLineCount = 0;
  u16 horizontalLineCount = 0;
  f32 knotRandomAmount = 0;

  // Knots.
  CKLF_Mem knotsMem;
  KNOT* knots = nullptr;
  u32 knotCount = 0;
  u16 knotColumns = 0;
  u16 knotRows = 0;
  CKLF_Mem knotHandlesMem;
  KNOTHANDLE* knotHandles = nullptr;
  u32 knotHandleCount = 0;
  u32 selectedKnots[2]{};
  u8 selectedKnotCount = 0;

  // Knife lists.
  CKLF_Mem vKnivesMem;
  KNIFESTRUCT* vKnives = nullptr;
  u32 vKnifeCount = 0;
  u16 vKnivesPerBand = 0;  // V
  u16 vBands = 0;  // H + 1
  CKLF_Mem hKnivesMem;
  KNIFESTRUCT* hKnives = nullptr;
  u32 hKnifeCount = 0;
  u16 hKnivesPerLine = 0;  // V + 1
  u16 hLines = 0;  // H
  CKLF_Mem xKnivesMem;
  AUXKNIFESTRUCT* xKnives = nullptr;
  u32 xKnifeCount = 0;

  // Flags.
  u8 anyKnifeSelected = 0;
  u8 onlyExtraSelected = 0;
  u8 thinKnives = 1;
  u8 antiAliasing = 1;
  u8 showKnots = 1;
  u8 hiddenKnifeOpacity = 70;

  // Selection anchor: the last knife clicked.
  u32 anchorIndex = kNoAnchor;
  u8 anchorVertical = 0;
  u8 anchorExtra = 0;

  u32 imageWidth = 0;
  u32 imageHeight = 0;
  CCutterServices* cutter = nullptr;
  CLayoutView* view = nullptr;
  CLayoutRandom* random = nullptr;

 private:
  // One byte a knot, sized with the knot grid: the ends of the selected
  // extra knives while knots are dealt again.
  CKLF_Mem knotMarksMem;

  u8 i_AnySelected() const;
  template <typename F>
  void i_ForConsidered(u8 selectedOnly, F f) const;
  // A field over the considered knives: the common value, or the integer
  // mean capped at 100 when they differ (mixed); considered gets their count.
  u32 i_ConsideredValue(u8 selectedOnly, u32 KNIFESTRUCT::*field, u8& mixed, u32& considered) const;

  u64 blockLimit = 1ull << 30;
};
