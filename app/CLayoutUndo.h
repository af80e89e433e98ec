// One level of undo for Layout mode. Line positions, knot offsets and knife
// flags are saved alone (a pre-save before the edit, a commit after it that
// keeps the point only when something changed); anything else saves the
// whole layout as a settings block before the change. Undoing swaps the
// stored state with the current one, so a second undo is a redo.
//
// Cost: a partial point is 8 bytes a line, knot or knife flag set; a global
// point is a settings block (about 800 bytes a knife at 64 points). Two
// stores are kept and swapped, never copied; they grow within the model's
// block limit and are never shrunk.
#pragma once

#include "CKLF_Mem.h"

class CLayoutModel;

class CLayoutUndo : public CKLF_FrameWork {
 public:
  // The kind of an undo point.
  enum CMUNDOMODE : u32 { kGlobal = 0, kLines = 1, kKnots = 2, kFlags = 3 };
  // What a global point saved before.
  enum CMUNDOMODE_GLOBALSUB : u32 {
    kSubNone = 0,
    kSubGrid = 1,       // rows or columns, an auto layout, a loaded document
    kSubLine = 2,       // a line inserted or deleted
    kSubShape = 3,      // the knife shape from the Cutter
    kSubReset = 4,      // the Cutter's reset
    kSubPaste = 5,      // a knife pasted
    kSubKnobSize = 6,
    kSubThickness = 7,
    kSubAddExtra = 8,   // an extra knife added
    kSubDelExtra = 9    // extra knives deleted
  };

  explicit CLayoutUndo(CLayoutModel& model);
  ~CLayoutUndo() override;

  CLayoutUndo(const CLayoutUndo&) = delete;
  CLayoutUndo& operator=(const CLayoutUndo&) = delete;

  // Keeps the part of the layout that kind names before a partial edit.
  // 0 with error 17 after the alert when memory runs out: the edit then
  // goes on without an undo point. Kind 0 does nothing.
  u8 uncm_PreSave(u32 kind);
  // Commits a point: kind 0 before a change, kinds 1 to 3 after it. A run
  // of global points of one sub-kind keeps the state before the first. 0
  // with error 17 after the alert when memory runs out (the old point
  // stays); 1 also when nothing needed keeping.
  u8 uncm_SaveState(u32 kind, u32 sub);
  // The undo command. 0 when there is nothing to undo, when the stored
  // point no longer fits the layout, or on memory (after the alert).
  u8 uncm_Restore();

  // Layout mode begins (the Cutter opens): a point kept from before is
  // forgotten, so the next commit of any kind snapshots and undo does
  // nothing until then.
  void uncm_MarkEmpty() {
    undoEmpty = 1;
    preKind = 0;
  }
  u8 IsEmpty() const { return undoEmpty; }
  u32 StoredKind() const { return storedKind; }
  u32 StoredSubKind() const { return storedSub; }

 private:
  u64 i_PartSize(u32 kind) const;
  void i_PartRead(u32 kind, u8* out) const;
  void i_PartWrite(u32 kind, const u8* in);
  u8 i_WriteBlock(CKLF_Mem& block, u32& length);
  u8 i_RestoreGlobal();
  void i_TellCutter();
  void i_Swap() { undoSlot ^= 1; }
  CKLF_Mem& i_Undo() { return stores[undoSlot]; }
  CKLF_Mem& i_Pre() { return stores[undoSlot ^ 1]; }

  CLayoutModel& m;
  CKLF_Mem stores[2];  // the undo store and the pre-save store, swapped
  u8 undoSlot;
  u32 undoLength;
  u32 preLength;
  u8 preKind;     // kind of the pending pre-save, 0 when none
  u8 undoEmpty;
  u32 storedKind;
  u32 storedSub;
  u8 undoNoMerge;
  f32 preRandomAmount;
  f32 storedRandomAmount;
  u32 preAnchor, storedAnchor;
  u8 preAnchorVertical, storedAnchorVertical;
  u8 preAnchorExtra, storedAnchorExtra;
};
