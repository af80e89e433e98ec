// Grid operations on the layout: a split line inserted where the user
// clicks a ruler or deleted, keeping every knife, knot offset and extra
// knife that survives (renumbered); one line centred between its
// neighbours or all lines of a direction spaced evenly; and the Cutter's
// row and column callbacks. The even grid, random knot offsets and ideal
// counts are the model's own.
//
// Insert and delete grow every block they need before changing anything:
// when memory runs out the layout stays as it was (after the alert).
// Cost: linear in the knots and knives; a copy of the old knots and grid
// knives is kept between calls (grown, never shrunk).
#pragma once

#include "CLayoutModel.h"

class CLayoutKnifeEdit;
class CLayoutShapes;
class CLayoutUndo;

class CLayoutGrid {
 public:
  static constexpr u32 kMaxInsertLines = 99;

  CLayoutGrid(CLayoutModel& model, CLayoutShapes& knifeShapes, CLayoutKnifeEdit& knives, CLayoutUndo& undo)
      : m(model), shapes(knifeShapes), edit(knives), u(undo) {}

  // 1 when a line of that direction (vertical when column is set) may be
  // inserted at position p (a fraction of the image): fewer than 99 lines,
  // p strictly inside the image and not on an existing line. The window
  // checks that the pointer lies inside the preview and converts it with
  // CLayoutDrawing::RulerOffsetToPosition.
  u8 op_TestAllowRCInsertion(u8 column, f64 p) const;
  // Inserts the line; its new band of knives gets the Cutter's shape.
  // 0 when refused or on memory.
  u8 op_InsertRC(u8 column, f64 p);
  // Deletes line `line` of the direction (needs the Cutter open). Extra
  // knives that lose a knot, or that would join neighbours, go.
  u8 op_DeleteRC(u8 column, u16 line);
  // Line positions, bracketed by the line-position undo. 0 when the line
  // index is out of range.
  u8 op_CenterSplitingHandle(u8 horizontal, u16 line, u8 redraw);
  void op_ArrangeSplitingHandles(u8 horizontal, u8 redraw);
  // The Cutter's row and column fields were set; 0xFFFFFFFF keeps a count.
  u8 OnCutterUpdateRowsCols(u32 rows, u32 columns);

 private:
  u8 i_ChangeLine(u8 column, u8 insert, u32 at, f32 p);
  u8 i_KeepAside();
  void i_Rebuild(u8 column, u8 insert, u32 at);
  void i_RemapExtra(u8 column, u8 insert, u32 at, u32 oldColumns, u32 oldKnotCount);
  void i_Finish(u8 column);

  CLayoutModel& m;
  CLayoutShapes& shapes;
  CLayoutKnifeEdit& edit;
  CLayoutUndo& u;
  // The layout before an insert or delete.
  CKLF_Mem oldKnots, oldV, oldH;
  f32 oldLines[2][CLayoutModel::kMaxLines];
  u32 oldCounts[2];  // vertical, horizontal line counts
};
