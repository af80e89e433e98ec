// What the knife shape editor's models ask of the windows around them: the
// Cutter window, the main window (CCutterMainPort, which the main window
// implements), the preset manager window and the plug-in's folder. The
// models never draw on screen, pump events or talk to the user themselves;
// the windows implement these ports and route their events to the models. Notifications have empty defaults, queries
// answer "nothing there".
#pragma once

#include "CCutterMainPort.h"
#include "CKLF_Mem.h"

class CKLF_Image;
class CTessarette;

// The Cutter window.
class CCutterWindowPort {
 public:
  virtual ~CCutterWindowPort() {}

  virtual void Beep() {}
  // A modal alert with one OK button.
  virtual void Alert(const char* text, const char* title) {
    (void)text;
    (void)title;
  }
  // The preview's two layers were drawn again: compose and show them.
  virtual void PreviewChanged() {}
  // Values the controls show changed (undo and redo, smoothness, re-clone,
  // rows, columns, thickness, knob size, check boxes, clone display).
  virtual void ControlsChanged() {}
  // Cutting: on filters input to the abort button and shows the cover,
  // the abort button and the progress bar; off gives everything back.
  virtual void CuttingState(u8 on) { (void)on; }
  virtual void CuttingProgress(u8 percent) { (void)percent; }
  // Runs the pending events of the main window and of the Cutter.
  virtual void ProcessEvents() {}
  // Stores the window's left and top under "Cutter", "Main".
  virtual void SaveWindowPosition() {}
  // The base close of the platform window.
  virtual void CloseWindow() {}
};

// The preset manager window.
class CPresetsWindowPort {
 public:
  virtual ~CPresetsWindowPort() {}

  virtual void Alert(const char* text, const char* title) {
    (void)text;
    (void)title;
  }
  // A status text shown at once ("Writing shape 2 of 5").
  virtual void SetStatus(const char* text) { (void)text; }
  // Records, names or selection changed: list and preview follow.
  virtual void LibraryChanged() {}
};

// Whole files of the plug-in's folder ("ckss.data").
class CCutterFilesPort {
 public:
  virtual ~CCutterFilesPort() {}

  // 1 with the whole file in block (an empty file gives an empty block),
  // 0 when there is no such file, -1 when it is there but cannot be read.
  virtual i32 ReadWhole(const char* name, CKLF_Mem& block) = 0;
  // Replaces the file by the bytes; 0 unless every byte was written.
  virtual u8 WriteWhole(const char* name, const u8* data, u32 size) = 0;
};
