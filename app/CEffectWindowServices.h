// What the main window requires of the nine effect windows (one for each
// piece effect but invert). The main window has one built by its factory,
// sets the window's main-window pointer, creates it from the resource named
// after its effect at the position stored for that name and shows it; it
// owns the object and may delete it at any time through the virtual
// destructor, also while it is shown and before OK or Cancel ran.
//
// While shown, the window writes the working effect records of the pieces
// it edits and asks the main window to re-render them (live 1 after each
// change, 0 from its OK and Cancel). Its close does nothing while a
// re-render runs; otherwise it runs OK or Cancel (Cancel re-renders the
// pieces it edited) and ends with ExitFXMode. Accelerators go to the main
// window's command handler through the window's parent.
#pragma once

#include "KLF_Types.h"

class CKLF_DWordArray;

class CEffectWindowServices {
 public:
  // The main window as an effect window calls it.
  class Owner {
   public:
    virtual ~Owner() {}
    // Renders the listed pieces whose working records changed and
    // recombines their area; 0 when a piece failed to render.
    virtual u8 pmop_RerenderPieces(CKLF_DWordArray* pieces, u8 redraw, u8 live) = 0;
    virtual void ExitFXMode() = 0;
    // Set while a re-render runs.
    virtual u8 IsRerenderBusy() const = 0;
  };

  // The resource and position name of an effect's window ("FXblur" for
  // effect 0 ...); null for invert, which has no window, and past 9.
  static const char* ResourceName(u8 effect);

  // Makes a new, not yet created window for an effect index; null when no
  // factory was registered or the effect has no window. The plug-in's
  // assembly registers the effect windows' factory.
  typedef CEffectWindowServices* (*Factory)(u8 effect);
  static void SetFactory(Factory factory);
  static CEffectWindowServices* New(u8 effect);

  CEffectWindowServices() : mainWindow(nullptr) {}
  virtual ~CEffectWindowServices() {}

  CEffectWindowServices(const CEffectWindowServices&) = delete;
  CEffectWindowServices& operator=(const CEffectWindowServices&) = delete;

  // Creates the platform window from the resource with the main window as
  // parent, at position (-32000, -32000: centred), not movable-modal.
  virtual u8 CreateEffectWindow(const char* resource, kltSIZE_s position) = 0;
  // Renders the whole window and shows it.
  virtual void ShowEffectWindow() = 0;

  Owner* mainWindow;
};
