// What the main window's models ask of the window itself: redraws of the
// preview and of controls by resource name, the main progress on the status
// line, pumping pending events, alerts and questions, the file dialogs,
// closing the run, the effect windows and the Cutter, and the plug-in's
// stored settings. The models never draw, wait for the user or touch the
// host themselves. The main window implements every operation; the bodies
// here do nothing (and answer "no" or "cancelled"), which is what a model
// without a window gets.
#pragma once

#include "CKLF_ErrorManager.h"
#include "CModeControls.h"

class CEffectWindowServices;
class CKLF_Mem;
class CKLF_PlatformPopupMenu;
class CKLF_Progress;
class CKLF_StdFile;
class CKLF_String;
class CKLF_Window;
class CPluginMain;

class CMainWindowPort {
 public:
  // One question of the platform's open or save dialog.
  struct FILEQUESTION {
    const char* filterText;   // "Kelvanos Tessarette Document (.klpd)"
    const char* extension;    // without the dot
    u32 fileType;             // Mac file type
    const char* title;
    const char* defaultName;  // save only
  };
  // Writes the chosen file, opened for reading and writing; 1 when written.
  typedef u8 (*WriterProc)(CKLF_StdFile* file, void* data);

  virtual ~CMainWindowPort() {}

  // ---- Preview
  // Redraws the preview, with its navigator when asked.
  virtual void RedrawPreview(u8 /*navigator*/) {}
  // The preview's mask overlay, rows of rowLength bytes; null removes it.
  virtual void SetPreviewMask(const u8* /*map*/, u32 /*rowLength*/) {}
  // Hands the preview its rectangle, the result image and the view state.
  virtual void SetPreviewData() {}
  // After a layout was read: the split overlay, the preview and the knot
  // selection state redrawn.
  virtual void RedrawLayout() {}

  // ---- Controls
  virtual void SetControlState(const CModeControls::CONTROLSTATE& /*state*/) {}
  // A check box's state, without its message.
  virtual void SetControlCheck(const char* /*name*/, u8 /*on*/) {}
  // The Show/Hide-extras buttons after the extras flag changed.
  virtual void OnChangeExtrasState() {}
  // The window's own part of a mode change, after the control states: the
  // layout overlays hidden in Puzzle mode, the knife overlay and the knot
  // and knife selection state in Layout mode, and the mode images.
  virtual void OnModeChanged(u8 /*layoutMode*/) {}

  // ---- Progress and events
  // The main progress on the status line with its caption; it never
  // cancels, and asked for a cancel it pumps pending events. Null reports
  // nothing. Begins may nest (a re-render recombines inside its own); each
  // has its end.
  virtual CKLF_Progress* BeginProgress(const char* /*caption*/) { return nullptr; }
  // The status line back to its text.
  virtual void EndProgress() {}
  // Runs pending window, keyboard and mouse events and timers.
  virtual void PumpEvents() {}

  // ---- Alerts, questions, files
  virtual void Alert(const char* /*text*/, const char* /*title*/) {}
  // The modal message box; its result (1 Yes).
  virtual i32 AskMessageBox(const char* /*header*/, const char* /*text*/, u8 /*buttons*/, u8 /*icon*/) { return 0; }
  // The save dialog: creates the chosen file and calls writer; 1 when the
  // file was written.
  virtual u8 AskSaveFile(const FILEQUESTION& /*q*/, WriterProc /*writer*/, void* /*data*/) { return 0; }
  // The open dialog: 1 with the chosen file's path, 0 when cancelled.
  virtual u8 AskOpenFile(const FILEQUESTION& /*q*/, CKLF_String& /*path*/) { return 0; }

  // ---- Window
  // Ends the run without applying.
  virtual void CloseWindow() {}
  // A window's stored position in at (-32000, -32000: centred, also when
  // none is stored); 0 when memory ran out reading it.
  [[nodiscard]] virtual u8 GetWindowPosition(const char* /*name*/, const char* /*parent*/, kltSIZE_s& at) {
    at = klNullSize;
    return 1;
  }
  // A new, not yet created window for an effect index; null when none.
  virtual CEffectWindowServices* NewEffectWindow(u8 /*effect*/) { return nullptr; }
  // Opens the Cutter and so enters Layout mode.
  virtual void DoCutterWindow() {}
  // Seam for the Layout-mode undo: records the global undo point of the
  // whole layout (sub-kind 1) before a document replaces it.
  virtual void RecordLayoutUndoPoint() {}

  // ---- What an open effect window reads of the main window and of the
  // application object (CEffectWindowServices::Owner tells each one).
  virtual CPluginMain* GetPluginObject() { return nullptr; }
  virtual u32 GetCurrentPiece() { return 0xFFFFFFFFu; }
  // The preferences' default checker colours.
  virtual void GetTransparencyColors(kltRGBA8& first, kltRGBA8& second) {
    first = {192, 192, 192, 255};
    second = {255, 255, 255, 255};
  }
  // The preferences' default checker colours of the area around the image.
  virtual void GetFrameColors(kltRGBA8& first, kltRGBA8& second) {
    first = {200, 200, 200, 255};
    second = {204, 204, 204, 255};
  }
  virtual CKLF_Window* GetMainWindow() { return nullptr; }
  virtual void GetStatusTip(const char* /*name*/, const char* /*group*/, u8 /*enabled*/, u8 /*type*/,
                            CKLF_String& /*tip*/) {}
  virtual void FillHelpMenu(CKLF_PlatformPopupMenu* /*menu*/) {}
  virtual u8 HelpMenuDispatcher(u16 /*command*/, CKLF_Window* /*window*/) { return 0; }

  // ---- The plug-in's stored settings
  // Each answers 0 with the reason in error when it fails; a read that
  // finds nothing stored (none, or not a settings block) answers 1 with
  // block left empty.
  // The settings block of the host's scripting parameters.
  [[nodiscard]] virtual u8 ReadScriptParameters(CKLF_Mem& /*block*/, u16& /*error*/) { return 1; }
  // 1 also when the host keeps no scripting parameters.
  [[nodiscard]] virtual u8 WriteScriptParameters(const u8* /*data*/, u32 /*size*/, u16& /*error*/) { return 1; }
  // A file of the plug-in's folder; empty when there is none.
  [[nodiscard]] virtual u8 ReadPluginFile(CKLF_Mem& /*block*/, const char* /*name*/, u16& /*error*/) { return 1; }
  [[nodiscard]] virtual u8 WritePluginFile(const u8* /*data*/, u32 /*size*/, const char* /*name*/, u16& error) {
    error = klErrFileWrite;
    return 0;
  }
};
