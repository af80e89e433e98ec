// The Cutter window: the knife shape editor beside the main window while it
// is in Layout mode, built from the UI resource window "Cutter". A thin
// layer over CCutterModel: its controls come from a table, the mouse, keys
// and control messages go to the model, the model's two preview layers are
// shown over the rectangle "Cutter_Preview" and its values in the
// controls; the window fades its status line (timer 1, every 30 ms), pops
// up the help, save, clone and shape menus, runs the knife shape file
// dialogs and the EPS and AI exports, and opens its modal dialogs: the
// preset manager, the shape name (a shape added to the presets), the auto
// layout and the custom mutations.
//
// Cost: a preview redraw copies the model's two preview layers (four bytes
// a preview pixel each) and composes the preview rectangle. While cutting,
// input goes to the abort button and Escape alone, and every progress test
// runs the windows' pending events.
#pragma once

#include "CCutterModel.h"
#include "CKLF_Layer.h"
#include "CKLF_StatusFade.h"
#include "CKLF_Window.h"

class CKLF_StdFile;

class CWnd_Cutter : public CKLF_Window, private CCutterWindowPort {
 public:
  // The controls, in the order they are created (their ids).
  enum CONTROL : u32 {
    kHelp, kCloseX, kFlipH, kFlipU, kSave, kLoad, kPresets, kAddToPM, kReClone, kClone, kCut, kCancel, kReset,
    kRedo, kUndo, kAutoLayout, kZoom1, kZoom2, kZoom4,
    kSmoothSlider, kRowsSlider, kColumnsSlider, kThickSlider, kKnobSlider,
    kStatus, kCloneDisp,
    kSmoothEdit, kRowsEdit, kColumnsEdit, kThickEdit, kKnobEdit,
    kAntiAliasing, kRazorCut, kLinkRC,
    kCover, kAbort, kProgress,
    kControlCount
  };
  // Pop-up commands of the save menu and the custom clone mode.
  enum : u16 { kCmdSaveShape = 32, kCmdExportEPS = 33, kCmdExportAI = 34, kCmdCustomMutation = 22 };
  static const char* const kGroup;  // "Cutter", the status tips' group

  explicit CWnd_Cutter(CCutterModel& model);
  ~CWnd_Cutter() override;

  // ---- Window operations.
  // The model decides: without pieces yet, or after a stopped cut, the
  // window stays open until a cut succeeds.
  void Close() override;
  // Preview layers, fonts and controls, then the model's own creation, the
  // status timer and the first tip. 0 with error 192 when a resource is
  // missing, or the model's error.
  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  void OnTimer(u16 id) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  u8 OnRMouseDown(i16, i16, u8) override { return 0; }
  u8 OnRMouseUp(i16, i16, u8) override { return 0; }
  u8 OnContextMenu(i16 x, i16 y, u8 mods) override;
  // Escape as the model says, Delete deletes the selected nodes, Return
  // presses Cut (also from a field, whose value it commits first).
  u8 OnKeyDown(u8 key, u8 mods) override;
  u8 OnKeyUp(u8, u8) override { return 0; }
  u8 OnKeyChar(u8, u8) override { return 0; }
  u8 OnSetCursor(i16 x, i16 y) override;
  u8 OnAboveControl(u32 id) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  void OnCtrlLostFocus(u32 id) override;

  // ---- Menus, files and exports.
  // The shape's context menu at a window point.
  void DoShaperMenu(kltPOS at);
  void DoHelpMenu();
  void DoSaveMenu();
  void DoCloneMenu();
  // "Save as Kelvanos Knife Shape 2.0...", "Cutter_Load" and the two
  // exports; 1 when a file was written or loaded.
  u8 opSaveShapeKLPH();
  u8 opLoadShape();
  u8 opExportShape(u8 ai);
  // The modal dialogs: "Cutter_Presets", "Cutter_AddToPM",
  // "Cutter_AutoLayout" and the custom clone mode (menu command 22), which
  // on OK switches to clone mode 6 with the dialog's amounts.
  void DoPresMngWindow();
  void DoAddShapeToPresets();
  void DoAutoLayoutWindow();
  void SetCustomMutationsMode();
  // Writers the save dialog calls with the model.
  static u8 stSaveShapeToFile(CKLF_StdFile* file, void* model);
  static u8 stExportEPS(CKLF_StdFile* file, void* model);
  static u8 stExportAI(CKLF_StdFile* file, void* model);

  CKLF_Control* GetCtrl(CONTROL c) const { return m_ids[c] < 0 ? nullptr : GetControl(static_cast<u32>(m_ids[c])); }
  const kltRECT_s& GetPreviewRect() const { return m_preview; }
  CCutterModel& GetModel() { return m; }
  const CKLF_StatusFade& GetStatusFade() const { return m_fade; }

 private:
  // CCutterWindowPort
  void Beep() override;
  void Alert(const char* text, const char* title) override;
  void PreviewChanged() override;
  void ControlsChanged() override { i_Sync(); }
  void CuttingState(u8 on) override;
  void CuttingProgress(u8 percent) override;
  void ProcessEvents() override;
  void SaveWindowPosition() override;
  void CloseWindow() override { CKLF_Window::Close(); }

  u8 i_CreateLayers();
  u8 i_CreateControls();
  void i_SetupControls();
  // Every control shows the model's values; an edit line being typed in
  // keeps its text.
  void i_Sync();
  void i_SyncValue(CONTROL slider, CONTROL edit, u32 value, u8 mixed);
  void i_Enable(CONTROL c, u8 on);
  void UpdateStatus(const char* text);
  void i_Tip(const char* name, u8 enabled, u8 type);
  void i_StatusTick();
  i32 i_ControlOf(u32 id) const;
  kltPOS i_MenuPoint(CONTROL c) const;
  kltPOS i_InPreview(i16 x, i16 y) const { return {x - m_preview.left, y - m_preview.top}; }
  u8 i_PreviewHolds(i16 x, i16 y) const;
  u32 i_OnClick(CONTROL c, void* data);
  u32 i_OnSlider(CONTROL c, u32 value, u8 dragging);
  u32 i_OnEdit(CONTROL c, const char* text);
  u32 i_OnMenu(u16 command);
  u32 i_OnAccelerator(u16 msg, u32 command, const char* name, u8 type, void* data);
  u8 i_SaveDialog(const char* filter, const char* extension, u32 fileType, const char* title, const char* name,
                  u8 (*writer)(CKLF_StdFile*, void*));

  CCutterModel& m;
  i32 m_ids[kControlCount];
  i32 m_fonts[3];  // "Small Font", "Info Font", "Edit Font"
  kltRECT_s m_preview;
  CKLF_Layer m_splineLayer;
  CKLF_Layer m_extrasLayer;
  CKLF_StatusFade m_fade;
  u8 m_tick;
};
