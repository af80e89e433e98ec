// The preset manager's preview: a page of the library's shapes drawn in
// cells, eight small ones (small-icon view) or two big ones, starting at
// the first visible record; the marks of the selected cells; the scroll
// position that follows the selection; and the cell under a point.
//
// It draws into two RGBA images the size of the preview rectangle, which
// the window shows as layers: the shapes in the alpha of the shape image
// (whose colour planes the window fills once), the selected cells' light
// cards in their blue frames on the highlight image. Cell rectangles are
// in window coordinates, as the UI resources give them.
//
// Cost: a page draws each shown shape's path (about one point every 2
// pixels) and clears both images' alpha planes.
#pragma once

#include "CKLF_2DMath.h"
#include "CKLF_Image.h"
#include "CKLF_ImageDrawing.h"
#include "CPresetsLibrary.h"

class CPresetsPreview : public CKLF_FrameWork {
 public:
  static constexpr u32 kSmallCells = 8;
  static constexpr u32 kBigCells = 2;

  // The preview rectangle and the cells of both views with their selection
  // frames, window coordinates.
  struct GEOMETRY {
    kltRECT_s preview;
    kltRECT_s small[kSmallCells];
    kltRECT_s smallSel[kSmallCells];
    kltRECT_s big[kBigCells];
    kltRECT_s bigSel[kBigCells];
  };

  void SetGeometry(const GEOMETRY& g) { m_geo = g; }
  const GEOMETRY& GetGeometry() const { return m_geo; }

  // 1 small-icon view (eight cells a page), 0 big-icon view (two).
  u8 IsSmallView() const { return m_small; }
  void SetSmallView(u8 small) { m_small = small ? 1 : 0; }
  u32 PageSize() const { return m_small ? kSmallCells : kBigCells; }
  // Cell k of the current view and its selection frame; an empty
  // rectangle past the page.
  kltRECT_s CellRect(u32 k) const;
  kltRECT_s SelectionRect(u32 k) const;

  // The record shown in the first cell.
  u32 GetFirst() const { return m_first; }
  // At most count - 1 (kept with no records).
  void ClampFirst(u32 count);
  // The horizontal bar moved: its value, at most count - 1.
  void ScrollTo(u32 value, u32 count);
  // A first selected record (-1: none) off the page becomes the first one.
  void FollowSelection(i32 firstSelected, u32 count);
  // The horizontal bar's total and visible items.
  void GetScrollInfo(u32 count, u32& total, u32& visible) const;

  // The record shown in the cell under a window point, or -1.
  i32 RecordAt(i32 x, i32 y, u32 count) const;

  // The page: both images' alpha cleared, each shown record drawn in its
  // cell and each selected one marked. 0 when a path could not be sampled
  // (that cell stays empty, the others are drawn).
  u8 Draw(const CPresetsLibrary& library, CKLF_Image& shapes, CKLF_Image& highlight);
  // One record's path into the shape image's alpha, fitted to the cell
  // (given relative to the image): the base line runs down the cell's
  // middle, scaled so that the widest node just fits half the cell's width.
  u8 DrawSpline(CKLF_Image& shapes, kltRECT_s cell, const u8* record);

 private:
  kltRECT_s i_Local(const kltRECT_s& r) const;
  void i_Mark(CKLF_Image& highlight, u32 k);

  GEOMETRY m_geo{};
  u8 m_small = 1;
  u32 m_first = 0;
  CKLF_2DMath m_math;
  CKLF_ImageDrawing m_drawing;
  CKLF_Mem m_points;
  u32 m_pointCount = 0;
};
