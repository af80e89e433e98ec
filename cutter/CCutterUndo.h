// The Cutter's undo list: snapshots of the knife shape, the one at the
// cursor equal to the live shape, those up to top reachable by redo. It
// keeps at most 201 snapshots, so 200 steps can be undone; beyond that the
// oldest is recycled. Snapshots above top stay allocated for reuse.
//
// Cost: a snapshot is about 1.6 KB; a push copies one, or compares one
// when asked to skip an unchanged shape. A push that cannot allocate
// leaves the list as it was (error 17).
#pragma once

#include "CCutterServices.h"
#include "CKLF_Array.h"

class CCutterUndo : public CKLF_FrameWork {
 public:
  typedef CCutterServices::SPLINE_STRUCT SHAPE;
  static constexpr u32 kMaxSteps = 200;

  CCutterUndo();
  ~CCutterUndo() override;

  CCutterUndo(const CCutterUndo&) = delete;
  CCutterUndo& operator=(const CCutterUndo&) = delete;

  // Cursor and top 0, snapshot 0 := shape. 0 when it cannot be allocated.
  u8 Init(const SHAPE& shape);
  // A new step holding shape; with check, nothing when it equals the
  // snapshot at the cursor (count, H, U, S and selected flags). 1 pushed,
  // 0 not (unchanged, or error 17).
  u8 Push(const SHAPE& shape, u8 check);
  // Moves the cursor and copies the snapshot there into shape; 0 at the
  // oldest (undo) or newest (redo) step.
  u8 Undo(SHAPE& shape);
  u8 Redo(SHAPE& shape);
  // The snapshot at the cursor into shape; 0 when the list is empty.
  u8 Current(SHAPE& shape) const;

  u8 CanUndo() const { return m_cursor > 0; }
  u8 CanRedo() const { return m_cursor < m_top; }
  u32 GetCursor() const { return m_cursor; }
  u32 GetTop() const { return m_top; }
  u32 GetSnapshotCount() const { return m_list.GetSize(); }

  static u8 Equal(const SHAPE& a, const SHAPE& b);
  static void Copy(const SHAPE& from, SHAPE& to);

 private:
  SHAPE* i_At(u32 i) const { return static_cast<SHAPE*>(m_list[i]); }
  void i_Free();

  CKLF_PtrArray m_list;
  u32 m_cursor;
  u32 m_top;
};
