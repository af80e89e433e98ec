// Knife selection, visibility and flips: clicks with modifier keys, blocks
// of grid knives, rows and columns, all, none, the inverse, the hidden or
// shown ones, a random share and the knives a document channel marks;
// showing and hiding; the flip commands. The dispatch brackets each with
// the undo of knife flags.
//
// Cost: one pass over the knives; a click also one over the knives under
// the pointer, and a Shift-click one over the cells of the doubled grid
// (four a grid knife). The random share, the channel and Shift's blocks
// keep a work block of one entry a knife, knot or cell, grown within the
// model's block limit.
#pragma once

#include "CLayoutModel.h"
#include "CLayoutView.h"

class CKLF_DWordArray;
class CLayoutKnifeEdit;

class CLayoutSelection {
 public:
  typedef CLayoutModel::KNIFESTRUCT KNIFESTRUCT;

  CLayoutSelection(CLayoutModel& model, CLayoutKnifeEdit& knives) : m(model), edit(knives) {}

  // A click on the knives under the pointer (ids) with the Command, Shift
  // and Option keys; the first knife goes to the Cutter unless keepCutter.
  // 0 when a Shift-click finds no memory for its blocks (after the alert;
  // nothing changed).
  u8 op_SetSelToKnives(u8 cmd, u8 shift, u8 option, CKLF_DWordArray* ids, u8 keepCutter, u8 value, u8 redraw);
  // Every grid knife between two grid knives (cells of the doubled grid).
  void op_SetSelToKnivesBlock(u8 value, u32 anchorIndex, u8 anchorVertical, u32 index, u8 vertical);
  void op_SetSelToAllKnives(u8 value, u8 redraw, u8 vertical, u8 horizontal, u8 extra);
  void op_InvertSelToAllKnives(u8 redraw);
  void op_SetSelToHiddenOrShownKnives(u8 hidden, u8 redraw);
  void op_AddRemoveRowColumnToSelection(u32 line, u8 horizontal, u8 value, u8 redraw);
  // Selects (select 1) or deselects a twentieth of the knives at random.
  // 0 when there is nothing to pick, or on memory (after the alert).
  u8 op_SelRandom(u8 select, u8 redraw);
  // Asks the view for a channel, then selects from it.
  u8 op_LoadSelection();
  // The knives that end at the knots the map marks (below 128, inverted
  // with invert). 0 on memory (after the alert).
  u8 SelectFromChannel(const CLayoutView::CHANNELMAP& map);

  void op_ShowHideSelectedKnives(u8 show, u8 redraw);
  void op_ReverseShownHidden(u8 redraw);
  void op_ShowHideListOfKnives(u8 show, CKLF_DWordArray* ids, u8 redraw);

  void op_Flip(u8 flipH, u8 flipU, u8 selectedOnly, u8 redraw);
  // As op_Flip, each requested flag of each knife toggled one time in two.
  void op_RandFlip(u8 flipH, u8 flipU, u8 selectedOnly, u8 redraw);
  // Grid knives only: the requested flags cleared, or set 0, 1, 0, 1 ...
  void op_NonInterleaved(u8 flipH, u8 flipU, u8 selectedOnly, u8 redraw);
  void op_Interleaved(u8 flipH, u8 flipU, u8 selectedOnly, u8 redraw);

 private:
  template <typename F>
  void i_ForKnives(u8 consideredOnly, u8 gridOnly, F f);
  void i_Click(u8 cmd, u8 shift, u8 option, u32 id, u8 keepCutter, u8 value);
  // A Shift-click's blocks: a count a cell of the doubled grid in the work
  // block, each block added at its corners, then summed and set at once.
  u8 i_StartBlocks();
  void i_AddBlock(u32 anchorIndex, u8 anchorVertical, u32 index, u8 vertical);
  void i_FillBlocks(u8 value);
  void i_Done(u8 redraw, u8 selectionChanged = 1);
  u8 i_KnotIn(const CLayoutView::CHANNELMAP& map, u32 knotId) const;

  CLayoutModel& m;
  CLayoutKnifeEdit& edit;
  CKLF_Mem work;
  u32 blockColumns = 0;
  u32 blockRows = 0;
};
