// The plug-in object: one lives as long as the plug-in is loaded and
// serves every call of the entry. It dispatches the selectors, runs Start
// (the run with the user interface after Parameters, else the silent
// replay of the last settings), keeps the composite alpha (selection times
// transparency) and the windows' positions in the configuration store.
//
// Two seams are left for later work, each named in one virtual operation:
// i_RunUI creates the application object of the user interface, and
// i_ReplaySettings hands a settings block to the engine. Until they are
// filled a dialog run and a replay end as cancelled (-128) with the
// document untouched.
//
// Cost: the composite alpha is one byte per pixel of the filter rectangle.
#pragma once

#include "CHostProgress.h"
#include "CKLF_8BFPluginVirtual.h"

class CPluginMain : public CKLF_8BFPluginVirtual {
 public:
  CPluginMain();
  ~CPluginMain() override;

  // Step 5 of the entry: the selector's action (the pointers are stored).
  void HandleSelector(i16 selector);

  u8 DoAbout() override;
  u8 DoStart() override;
  u8 DoFinish() override;

  // Trims the filter rectangle to the layer's content (transparency without
  // a selection) and, when full is 1, builds the composite alpha.
  u8 PrepareCompositeAlpha(u8 full);
  const u8* GetCompositeAlpha(i32& width, i32& height) const {
    width = m_alphaWidth;
    height = m_alphaHeight;
    return m_alphaPtr;
  }

  // A window's saved position: x clamped to -100..7000, y to -10..6000;
  // -32000, -32000 (centred) when the store is closed or a record is
  // missing. def and flag do not change the result.
  kltSIZE_s WindowPosFromConf(CKLF_String name, CKLF_String parent, kltSIZE_s def, u8 flag);
  // Stores a window's position when the store is open.
  void PutWindowPosToConf(CKLF_String name, CKLF_String parent, kltPOS position);

  CHostProgress& GetHostProgress() { return m_hostProgress; }
  // Whether image overlays may read document layers (set at Start).
  u8 GetEngineLayerAccess() const { return m_engineLayerAccess; }

 protected:
  // UI seam: creates the application object with its main window ("Main")
  // or About window ("About"), opens the UI resource store
  // "resource_ts30_d.kls4", places the main window and runs the event loop.
  // The user-interface work fills it; until then no dialog is available and
  // it answers -1 as a failed run loop does.
  virtual i32 i_RunUI(u8 about);
  // Replay seam: the engine rebuilds the layout from the settings block and
  // writes the result into the host's planes; 1 on success. The replay
  // work fills it; until then it fails and the replay ends as cancelled.
  virtual u8 i_ReplaySettings(CKLF_Mem& block);

  u8 i_DialogRun();
  u8 i_Replay();

  CHostProgress m_hostProgress;
  CKLF_Mem m_alpha;
  u8* m_alphaPtr;
  i32 m_alphaWidth;
  i32 m_alphaHeight;
  u8 m_engineLayerAccess;
};
