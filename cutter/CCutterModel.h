// The Cutter's model: the one knife shape that every knife of the grid
// follows (up to 64 nodes of a smooth path across a vertical base line),
// its 200-step undo, the node editing of the preview (hit tests, drags,
// box handles, rotation, rubber band, align, distribute, flips,
// smoothness), the preview's geometry and its two layers drawn as planes,
// the grid counts and knife values it mirrors for the main window, its
// configuration records ("Cutter Settings>LinkRC", "LastShape>...") and the
// cutting run that carries the pieces' effects over to the new pieces.
//
// The Cutter window owns one, routes its events here and shows the two
// layers; everything the model needs of a window goes through the ports of
// CCutterPorts.h. Coordinates of the mouse operations are preview pixels
// from the preview's top-left corner. The values the controls show (rows,
// columns, thickness, knob size, smoothness, check boxes, clone mode) are
// fields here that the window shows when told the controls changed; slider
// moves and typed texts come back through the On... operations. Left to
// that window: the status line and its tips, the menus, the file dialogs
// and the dialogs it opens.
//
// Shape coordinates: U along the base line (0 start knot, 1 end knot), H
// across it in base-line lengths, positive to the left; S the smoothness.
// Every load keeps U and S in 0..1 and H in -3..3 (KLF_ShapeValues.h) and
// refuses values that are not numbers; editing keeps |H| within Hmax of
// the current preview.
//
// Cost: a redraw samples the path (about 3 points per 4 preview pixels)
// and clears two preview-sized RGBA layers; both are kept and reused.
// Limits: 64 nodes; the preview must be more than 25 pixels each way.
#pragma once

#include "CCutterPorts.h"
#include "CCutterServices.h"
#include "CCutterUndo.h"
#include "CKLF_2DMath.h"
#include "CKLF_Image.h"
#include "CKLF_ImageDrawing.h"
#include "CKLF_Storage.h"

class CTessarette;

class CCutterModel : public CKLF_FrameWork, public CCutterServices {
 public:
  typedef SPLINE_STRUCT SHAPE;

  // Modifier and live key bits.
  enum : u8 { kOption = 1, kShift = 2, kControl = 4, kCommand = 8, kSpace = 16 };
  // Cursors of the preview (0: the window's own).
  enum : i32 { kCursorAdd = 136, kCursorSizeWE = 138, kCursorSizeNS = 139, kCursorMove = 143, kCursorRotate = 144 };
  // Clone modes 0..6; 6 takes the custom amounts.
  static constexpr u32 kCloneModes = 7;
  static constexpr i32 kMinPreviewSide = 26;

  // One entry of the preview's context menu (command 0: a separator).
  // Shortcut bits as the modifiers above; they are only shown.
  struct SHAPERMENUITEM {
    const char* text;
    u16 command;
    u8 disabled;
    u8 ticked;
    u8 shortcut;
    char key;
  };
  static constexpr u32 kShaperMenuItems = 21;

  // The mouse drag under way: at most one of node, band and handle.
  struct DRAG {
    u8 node;          // nodes follow the pointer
    u8 band;          // rubber band
    u8 handle;        // box handle: scaling, or rotating with rotate
    u8 rotate;
    u8 handleIndex;   // 0 top-left, clockwise to 7 left
    u8 nodeIndex;     // the node under the pointer
    kltPOS grab;      // pointer minus the node's centre
    kltPOS bandStart;
    kltPOS bandCur;
    u8 bandSel[kMaxNodes];  // selection at the press
    kltPOS press;
    kltRECT_s box;          // selected centres at the press
    f64 pos[kMaxNodes][2];  // per selected node: place in the box, or centre
    f64 cx;                 // rotation centre
    f64 cy;
    i16 radius;
    kltPOS rotHandle;
  };

  CCutterModel();
  ~CCutterModel() override;

  void SetPorts(CCutterWindowPort* window, CCutterMainPort* main);
  CCutterWindowPort* GetWindowPort() const { return m_window; }
  // The main window's port (one that does nothing when none was given).
  CCutterMainPort* GetMainPort() const { return m_main; }
  // The configuration store; null when it is not open.
  void SetConfStore(CKLF_Storage* store) { m_conf = store; }

  // ---- Services to the main window.
  void opSetShapeFromData(SHAPE* shape, u8 notify) override;
  i32 ExtSetRows(u16 n) override;
  i32 ExtSetColumns(u16 n) override;
  void NotifiedByMain_NewThickness(u16 t, u8 mixed, u8 thin) override;
  void NotifiedByMain_NewKnobSize(u16 size, u8 mixed) override;
  void SetInitialStatesToControls() override;
  void settings_SaveWindowPosition() override;
  u8 settings_SaveLastKnife() override;

  // ---- Lifecycle.
  // The window was created with a preview of this size: layers, last
  // knife, undo, the layout snapshot for a reset, the options. 0 with
  // error 1 for a preview of 25 pixels or less either way, 17 on memory.
  u8 OnCreate(u16 previewWidth, u16 previewHeight);
  // Closes unless the window must stay (no pieces yet, or a cut started,
  // and no cut made); without a cut a restoring close resets the layout
  // first. 1 when closed (position saved, window closed, main told).
  u8 Close();
  // "Cutter_Cancel", "Cutter_CloseX": no cut counts, then Close.
  u8 OnCancel();
  // "Cutter_Cut": the cutting run; on success the last knife and options
  // are saved and the window closes.
  u8 OnCut();
  // Escape: aborts a cut, puts back the shape of a drag, or closes.
  void DoEsc();
  // "Cutter_Reset": the layout, the last knife and the clone mode as they
  // were at opening; the loaded document's records are forgotten.
  void OnBtnReset();

  // ---- Knife shape files, on the file the window's dialog opened: the
  // live shape written ("Save as Kelvanos Knife Shape 2.0..."), or a file
  // read and made the live shape ("Cutter_Load"). Failures are alerted.
  u8 opSaveShapeToFile(CKLF_StdFile* file);
  u8 opLoadShapeFromFile(CKLF_StdFile* file);

  // ---- Undo.
  // 0 with 17 when the first snapshot cannot be had.
  [[nodiscard]] u8 UndoInit();
  void OnNewOperation(u8 check);
  void UndoRestore();
  void opUndo();
  void opRedo();
  u8 CanUndo() const { return m_undo.CanUndo(); }
  u8 CanRedo() const { return m_undo.CanRedo(); }
  const CCutterUndo& GetUndo() const { return m_undo; }

  // ---- Settings.
  void settings_SetDefaultKnife();
  // 0 when memory runs out or the store cannot be read; a shape or an
  // option not stored gives the default.
  [[nodiscard]] u8 settings_LoadLastKnife();
  [[nodiscard]] u8 settings_LoadCutterOptions();
  u8 settings_SaveCutterOptions();

  // ---- Node editing.
  u8 opAddNode(kltFPOS position, u8 keepSelection, u32 index);
  void opDelSelectedNodes();
  void opSelectAllNodes();
  void opUnSelectAllNodes();
  void opInvertSelection();
  void opAlign(u8 kind);
  void opDistribute(u8 kind);
  void opFlipH();
  void opFlipU();
  void opSetSmoothness(f64 s, u8 commit);
  void OnSldrSmoothness(u32 value, u8 dragging);
  void OnEditSmoothness(const char* text);
  void OnEditSmoothnessLF(const char* text);
  void OnChangeNodeSelection();
  void DoHideNodes();
  void DoHideExtras();
  u32 GetSelectedNodesCount() const;

  // ---- Mouse, cursor, commands. modifiers come with the event, keys is
  // the live key state; both use the bits above.
  u8 OnLMouseDown(i32 x, i32 y, u8 modifiers, u8 keys);
  u8 OnMouseMove(i32 x, i32 y, u8 modifiers, u8 keys);
  u8 OnLMouseUp();
  i32 GetCursorId(i32 x, i32 y, u8 keys) const;
  u32 GetShaperMenu(SHAPERMENUITEM* items) const;
  // Pop-up commands 16..21 (clone modes) and 48..63; 1 when handled.
  u8 OnShaperCommand(u16 command);
  // Accelerator commands of the preview; 0 for the others (the parent's).
  u8 OnAccelerator(u32 command);
  void OnAntiAliasing(u8 on);
  void SetZoom(u8 zoom);
  // Clone mode 0..5 with its amounts (mode 6 keeps them), the re-clone
  // state, and the main window told.
  void OnCloneModeChanged(u32 mode);
  void NotifyMain_ShapeChanged(u8 flag);

  // ---- Grid controls. Slider values (dragging while the thumb moves, keys
  // the live key state) and the texts of the edit lines as typed; "LF":
  // the edit line lost the focus. The main window hears of rows and
  // columns on a release or a focus loss (lines previewed while dragging),
  // of thickness and knob size likewise, never under the notify guard.
  void OnSldrRows(u32 value, u8 dragging, u8 keys);
  void OnSldrColumns(u32 value, u8 dragging, u8 keys);
  void OnEditRows(const char* text);
  void OnEditColumns(const char* text);
  void OnEditRowsLF(const char* text);
  void OnEditColumnsLF(const char* text);
  void OnSldrKnifeTh(u32 value, u8 dragging);
  void OnEditKnifeTh(const char* text);
  void OnEditKnifeThLF(const char* text);
  void OnSldrKnobSize(u32 value, u8 dragging);
  void OnEditKnobSize(const char* text);
  void OnEditKnobSizeLF(const char* text);
  void OnRazorCut(u8 on);
  u8 IsCloningOn() const { return cloneMode > 0 ? 1 : 0; }

  // ---- Drawing.
  // The path into the spline layer's alpha, then the extras. 0 when the
  // path cannot be sampled (nothing drawn).
  u8 DoRedrawSpline();
  void DoRedrawExtras(u8 show);
  CKLF_Image& GetSplineLayer() { return m_splineLayer; }
  CKLF_Image& GetExtrasLayer() { return m_extrasLayer; }
  kltFPOS GetP0() const { return m_p0; }
  kltFPOS GetP1() const { return m_p1; }
  f64 GetHmax() const { return m_hMax; }
  kltRECT_s GetNodeRect(u32 i) const { return m_nodeRects[i < kMaxNodes ? i : 0]; }
  u8 GetHandle(u32 i, kltRECT_s& r) const;
  const DRAG& GetDrag() const { return m_drag; }

  // ---- Cutting run.
  // The old pieces stay until the engine has the new layout: a refused
  // hand-over or an abort before the cut keeps them and Cancel restores.
  // The row and column table of the carry-over is held within the block
  // limit (default 1 GiB); beyond it, or when memory runs out, the alert
  // "Memory allocation problem..." and the new pieces keep the defaults.
  u8 DoCutting();
  void SetBlockLimit(u64 bytes) { m_blockLimit = bytes; }
  void DoStopCutting();
  // The record at (row, column) of count records, through a table built on
  // first use (table empty: built now). 1 and the 92 bytes copied to
  // destination when found.
  static u8 i_DoCuttingSetFXByRC(u8* destination, const u8* records, u32 count, u32 row, u32 column,
                                 CKLF_Mem& table);

  // ---- State the window shows and sets.
  u8 zoom = 0;  // 0 1x1, 1 1x2, 2 1x4
  u8 nodesShown = 1;
  u8 extrasVisible = 1;
  u8 razorCut = 1;
  u8 thicknessMixed = 0;
  u8 knobSizeMixed = 0;
  u8 linkRC = 0;  // "Cutter_LinkRC"
  u32 cloneMode = 1;
  f64 newNodeSmoothness = 0.5;
  // Smoothness controls: enabled, slider 0..100, edit line " ???" when mixed.
  u8 smoothEnabled = 0;
  u32 smoothValue = 0;
  u8 smoothMixed = 0;
  u8 recloneEnabled = 0;
  u8 built = 0;
  u8 selectionSettled = 1;
  u8 cutting = 0;
  u8 closingRestores = 1;  // Cancel and close put the old layout back
  u8 notifyGuard = 0;  // held while the main window pushes values in

 private:
  class CNodesSorterIDS;

  void i_GetLive(SHAPE& s) const;
  void i_SetLive(const SHAPE& s);
  void i_Controls();
  void i_Step(u8 redo);
  void i_SelectNodes(u8 how);
  kltPOS i_Centre(u32 i) const;
  u8 i_SelectionBox(kltRECT_s& box) const;
  void i_ClampNode(u32 i);
  u8 i_InPreview(i32 x, i32 y) const;
  u8 i_AddOnPath(kltFPOS p, u8 modifiers);
  void i_StartHandleDrag(u32 handle, i32 x, i32 y, u8 modifiers, const kltRECT_s& box);
  void i_DragNodes(i32 x, i32 y);
  void i_DragBand(i32 x, i32 y, u8 keys);
  void i_DragRotate(i32 x, i32 y, u8 modifiers, u8 keys);
  void i_DragScale(i32 x, i32 y, u8 modifiers, u8 keys);
  void i_PlaceNode(u32 i, f64 x, f64 y);
  i32 i_HandleCursor(u32 handle) const;
  void i_DrawNodes();
  void i_DrawBox(const kltRECT_s& box);
  void i_DrawRotation();
  void i_DrawBand();
  u8 i_CarryOver(CTessarette& engine, const u8* records, u32 count, u8 changed, u8& byCell, CKLF_Mem& table);
  u8 i_LayoutChanged(const CTessarette& engine, const u8* records, u32 count) const;
  void i_SldrCount(u8 isRows, u32 value, u8 dragging, u8 keys);
  void i_EditCountLF(u8 isRows, const char* text);
  void i_TellThickness();

  CCutterWindowPort* m_window;
  CCutterMainPort* m_main;
  CKLF_Storage* m_conf = nullptr;
  CCutterUndo m_undo;

  // Preview geometry and layers.
  CKLF_Image m_splineLayer;
  CKLF_Image m_extrasLayer;
  CKLF_2DMath m_math;
  CKLF_ImageDrawing m_drawing;
  kltFPOS m_p0{};
  kltFPOS m_p1{};
  f64 m_hMax = 1.0;
  kltRECT_s m_nodeRects[kMaxNodes]{};
  kltRECT_s m_handleRects[8]{};
  u8 m_handlePresent[8]{};
  CKLF_Mem m_points;  // kltFPOS samples of the path
  CKLF_Mem m_spans;   // u32 span index of each sample
  u32 m_pointCount = 0;

  DRAG m_drag{};

  CKLF_Mem m_layoutSnapshot;
  u32 m_layoutSnapshotLength = 0;
  u64 m_blockLimit = 1ull << 30;
};
