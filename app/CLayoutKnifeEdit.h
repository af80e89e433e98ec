// Knives changed as a whole: copy and paste of a knife's shape, a knife's
// shape sent to the Cutter, extra knives added between two knots and
// deleted, and equal knobs (every knife's knob size set so that the knobs
// look alike on knives of different lengths).
//
// Cost: each operation is one pass over the knives. Limits: at most 19999
// extra knives.
#pragma once

#include "CLayoutModel.h"

class CKLF_DWordArray;
class CLayoutShapes;
class CLayoutUndo;

class CLayoutKnifeEdit {
 public:
  typedef CLayoutModel::KNIFESTRUCT KNIFESTRUCT;

  CLayoutKnifeEdit(CLayoutModel& model, CLayoutShapes& shapes, CLayoutUndo& undo);

  // Copies a knife into the clipboard: index 0xFFFFFFFF takes the first
  // selected knife (or the very first one); otherwise the knife of the
  // list chosen by extra, then vertical, else horizontal. 1 when copied.
  u8 op_CopyKnife(u32 index, u8 vertical, u8 extra);
  // The clipboard's flips, knob size, thickness and points into one knife;
  // its hidden and selected flags and its knots stay. 1 when pasted.
  u8 i_op_PasteKnife(u32 index, u8 vertical, u8 extra);
  // Pastes into the listed knives (ids), or into the considered knives.
  void op_PasteKnife(CKLF_DWordArray* ids);
  u8 IsClipboardEmpty() const { return clipboardEmpty; }
  const KNIFESTRUCT& Clipboard() const { return clipboard; }

  // Shows the knife's stored points in an open Cutter, without a callback.
  void op_SendKnifeToCutter(const KNIFESTRUCT* knife);

  // An extra knife between the two selected knots.
  u8 op_AddAuxKnifeToSelectedKnots(u8 redraw);
  // One extra knife from a to b, shaped fresh from the Cutter. 0 when the
  // list is full or the knots may not be joined (nothing changes), or when
  // memory runs out (after the alert; the list stays as it was). fresh: the
  // caller joins no pair twice, so the list is not searched for the pair
  // (a layout of thousands of knives would search it thousands of times).
  u8 i_op_AddAuxKnifeToKnots(u32 knotA, u32 knotB, u8 fresh = 0);
  // Deletes extra knives: those marked by the caller (marked), the listed
  // ids, or all (with selectedOnly and a selection, the selected ones).
  // Returns the number deleted.
  u32 op_DelAuxKnives(u8 selectedOnly, CKLF_DWordArray* ids, u8 marked, u8 redraw);

  // At least two considered knives are drawn (span above 0) and shaped.
  u8 check_IsAvail_EqualizeKnobs(u8 selectedOnly) const;
  // Equal knobs over the considered knives, measured against the shortest
  // drawn one. 0 when there is no such reference (nothing changes).
  u8 op_EqualizeKnobs(u8 selectedOnly, u8 redraw);
  static void i_op_EqualizeKnobs_SetKnobSize(KNIFESTRUCT* knife, f64 uRange, f64 hRange, f64 referenceSpan);

 private:
  KNIFESTRUCT* i_ListKnife(u32 index, u8 vertical, u8 extra);

  CLayoutModel& m;
  CLayoutShapes& shapes;
  CLayoutUndo& u;
  KNIFESTRUCT clipboard{};
  u8 clipboardEmpty = 1;
};
