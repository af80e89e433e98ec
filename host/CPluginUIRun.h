// One run of the plug-in's user interface as the shell sees it: the About
// window or the dialog, made by the runner that the plug-in's assembly
// registers (the shell itself knows no window). The runner shows the
// windows and returns when they closed; the run it hands back says whether
// the user applied, in which mode, and holds the composed result image.
// Deleting it ends the run: the application object and its windows go.
#pragma once

#include "KLF_Types.h"

class CKLF_Image;
class CPluginMain;

class CPluginUIRun {
 public:
  CPluginUIRun() : loop(-1), applied(0), layoutMode(0), resultImage(nullptr) {}
  virtual ~CPluginUIRun() {}

  CPluginUIRun(const CPluginUIRun&) = delete;
  CPluginUIRun& operator=(const CPluginUIRun&) = delete;

  // Empties the main window's full-size display images, whose memory the
  // apply of a grey or CMYK document needs for cutting anew.
  virtual void FreeDisplayImages() {}

  // The event loop's result; -1 when the windows could not run (no
  // resource store, no window, no display).
  i32 loop;
  u8 applied;     // the user applied; the settings were stored
  u8 layoutMode;  // applied in Layout mode: the knives are drawn
  CKLF_Image* resultImage;  // RGBA, the filter rectangle's size; the run's

  // Runs the About window (about 1) or the dialog on the plug-in's
  // document; null when no run could be made at all.
  typedef CPluginUIRun* (*Runner)(CPluginMain& plugin, u8 about);
};
