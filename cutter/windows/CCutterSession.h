// The Cutter as the main window holds it through CCutterServices: the
// model, and its window once CreateCutterWindow has made it. Deleting the
// session deletes the window (closing it when it is still open).
#pragma once

#include "CCutterModel.h"

class CWnd_Cutter;

class CCutterSession : public CCutterModel {
 public:
  CCutterSession();
  ~CCutterSession() override;

  // The window from the resource "Cutter" at the position, with parent;
  // the model's ports are the window and the main window set before
  // (mainWindow), its store the main window's. 0 with the window's error
  // (the window is then gone), or error 145 when one exists already.
  u8 CreateCutterWindow(kltSIZE_s position, CKLF_Window* parent) override;
  void ShowCutterWindow() override;
  CWnd_Cutter* GetWindow() const { return m_wnd; }

 private:
  CWnd_Cutter* m_wnd;
};

// A new Cutter, not created: the factory the plug-in's assembly registers
// with CCutterServices::SetFactory.
CCutterServices* KLF_NewCutterWindow();
