// What the main window requires of the knife shape editor (the Cutter
// window): the fields it writes before the Cutter opens or after a document
// load, the shape and cut state it reads back, and the notifications it
// sends without expecting a callback. The Cutter window derives from this
// class and supplies the operations; the main window and the layout model
// only ever talk to a Cutter through it.
//
// Cost: the two stores of piece records are copies (92 bytes a record);
// nothing else allocates. Limits: a shape has at most 64 nodes; rows and columns
// are 1..100.
#pragma once

#include "CKLF_Mem.h"

class CCutterMainPort;
class CKLF_Window;

class CCutterServices {
 public:
  static constexpr u32 kMaxNodes = 64;
  static constexpr u32 kPieceRecordSize = 92;

  // One knife shape handed to the Cutter.
  struct SPLINE_STRUCT {
    struct HU {
      f64 H;
      f64 U;
    };
    u8 nodeCount;  // at most 64
    HU nodes[kMaxNodes];
    u8 selected[kMaxNodes];
    f64 S[kMaxNodes];
  };

  // Makes a new Cutter, not yet created; null when no factory was
  // registered. The plug-in's assembly registers the Cutter window's.
  typedef CCutterServices* (*Factory)();
  static void SetFactory(Factory factory);
  static CCutterServices* New();

  CCutterServices();
  virtual ~CCutterServices();

  // Creates the platform window from the resource "Cutter" at position
  // (-32000, -32000: centred) with parent as its parent window; 1 or 0.
  // mainWindow is set before. A Cutter without a window (its model alone)
  // cannot be created: 0.
  virtual u8 CreateCutterWindow(kltSIZE_s position, CKLF_Window* parent) {
    (void)position, (void)parent;
    return 0;
  }
  // Renders the created window whole and shows it; nothing without one.
  virtual void ShowCutterWindow() {}

  CCutterServices(const CCutterServices&) = delete;
  CCutterServices& operator=(const CCutterServices&) = delete;

  // Replaces the edited shape (node count capped at 64), selects every node
  // and records an undo step; calls the main window back only with notify.
  virtual void opSetShapeFromData(SPLINE_STRUCT* shape, u8 notify) = 0;
  // Row and column fields: the count brought into 1..100, no callback; 0.
  virtual i32 ExtSetRows(u16 rows) = 0;
  virtual i32 ExtSetColumns(u16 columns) = 0;
  virtual void NotifiedByMain_NewThickness(u16 thickness, u8 mixed, u8 thin) = 0;
  virtual void NotifiedByMain_NewKnobSize(u16 size, u8 mixed) = 0;
  // Sets every control from the fields below after the main window wrote them.
  virtual void SetInitialStatesToControls() = 0;
  virtual void settings_SaveWindowPosition() = 0;
  // The shape under "LastShape" (count as u16, then H, U, S per node);
  // 0 when the configuration store is not open, else 1.
  virtual u8 settings_SaveLastKnife() = 0;

  // 1..100: 0 gives 1, above 100 gives 100 (rows, columns, thickness).
  static u16 BringInto1to100(u32 v) { return static_cast<u16>(v == 0 ? 1 : (v > 100 ? 100 : v)); }
  // The knob size rule: above 100 gives 100.
  static u16 CapAt100(u32 v) { return static_cast<u16>(v > 100 ? 100 : v); }

  // Copies count 92-byte piece records into the pending store, the records
  // of the pieces there were when the Cutter opened (they apply to the
  // pieces of the next cut); null or 0 empties it. 0 when the copy cannot
  // be made (error 17 in the store; the old records are dropped).
  u8 SetPendingRecords(const u8* records, u32 count);
  // The same for the records of a document loaded while the Cutter is open:
  // they win over the pending records, and the Cutter's reset forgets them.
  u8 SetDocumentRecords(const u8* records, u32 count);
  // The current edited shape as a spline record (count capped at 64).
  void GetShape(SPLINE_STRUCT& out) const;

  // Written by the main window, without any callback.
  CCutterMainPort* mainWindow = nullptr;  // the main window the Cutter calls back
  u16 rows = 1;  // horizontal line count + 1
  u16 columns = 1;  // vertical line count + 1
  u8 antiAliasing = 1;
  CKLF_Mem pendingRecordsMem;
  u8* pendingRecords = nullptr;  // first 92-byte record, or null
  u32 pendingRecordCount = 0;
  CKLF_Mem documentRecordsMem;
  u8* documentRecords = nullptr;  // first 92-byte record, or null
  u32 documentRecordCount = 0;

  // Read by the main window while the Cutter is open.
  u8 nodeCount = 0;  // at most 64
  SPLINE_STRUCT::HU nodes[kMaxNodes]{};
  u8 nodeSelected[kMaxNodes]{};
  f64 nodeS[kMaxNodes]{};
  u16 knobSize = 100;
  u16 thickness = 3;
  f32 mutS = 0;
  f32 mutU = 0;
  f32 mutH = 0;

  // Read by the main window after the Cutter closed.
  u8 cutMade = 0;  // a cut was made since the Cutter opened
  // The cut changed the layout: its piece count, or a piece's row or column,
  // differs from the records carried over. Never cleared by a later cut.
  u8 cutCountDiffers = 0;

  // Set to 1 by Escape while cutting; the cutting progress answers it.
  u8 abortCut = 0;

 private:
  static u8 i_CopyRecords(CKLF_Mem& mem, u8*& first, u32& count, const u8* records, u32 n);
};
