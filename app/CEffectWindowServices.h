// What the main window requires of the nine effect windows (one for each
// piece effect but invert). The main window has one built by its factory,
// sets the window's main-window pointer, creates it from the resource named
// after its effect at the position stored for that name and shows it; it
// owns the object and may delete it at any time through the virtual
// destructor, also while it is shown and before OK or Cancel ran.
//
// While shown, the window writes the working effect records of the pieces
// it edits and asks the main window to re-render them live (after each
// change, and from its OK and Cancel, during which it takes no input).
// While a re-render runs its OK does nothing and its Cancel stops the
// re-render; otherwise it runs OK or Cancel (Cancel re-renders the pieces
// it edited) and ends with ExitFXMode. What else it needs of the main
// window (the engine, the plug-in object, the current piece, the checker
// colours of transparency and of the frame, the command handler for
// accelerators, the application's tips and Help menu) it asks of its Owner.
#pragma once

#include "KLF_Types.h"

class CKLF_DWordArray;
class CKLF_PlatformPopupMenu;
class CKLF_String;
class CKLF_Window;
class CPluginMain;
class CTessarette;

class CEffectWindowServices {
 public:
  // The main window as an effect window calls it and reads it.
  class Owner {
   public:
    virtual ~Owner() {}
    // Renders the listed pieces whose working records changed and
    // recombines their area; 0 when a piece failed to render.
    virtual u8 pmop_RerenderPieces(CKLF_DWordArray* pieces, u8 redraw, u8 live) = 0;
    virtual void ExitFXMode() = 0;
    // Set while a re-render runs.
    virtual u8 IsRerenderBusy() const = 0;
    // The running re-render stops at its next look at the events; what it
    // rendered is recombined by the next one. Nothing when none runs.
    virtual void StopRerender() = 0;
    // The engine whose piece array the window edits (its pieces' three
    // copies of every effect record and the default records).
    virtual CTessarette& GetEngine() const = 0;
    // The plug-in object: the configuration store (the window's position
    // and its main-preview switch) and the plug-in data (the document's
    // colour kind); null without one, when nothing is read or stored.
    virtual CPluginMain* GetPluginObject() = 0;
    // The main window's current piece: a piece index, or any index at or
    // above the piece count when there is none.
    virtual u32 GetCurrentPiece() = 0;
    // The two checker colours the main window shows transparency in (its
    // solid transparency colour twice when it shows transparency solid).
    virtual void GetTransparencyColors(kltRGBA8& first, kltRGBA8& second) = 0;
    // The two checker colours the main window shows the area around the
    // image in (its solid frame colour twice when it shows the frame
    // solid); the document layer picker frames its thumbnail with them.
    virtual void GetFrameColors(kltRGBA8& first, kltRGBA8& second) = 0;
    // The main window itself: the effect window's parent, and the command
    // handler the accelerators 1, 8 and 12 to 17 are passed on to (its
    // OnCtrlMessage). Null without a window.
    virtual CKLF_Window* GetMainWindow() = 0;
    // A window's stored position in at (-32000, -32000: centred, also when
    // none is stored); 0 when memory ran out reading it.
    [[nodiscard]] virtual u8 GetWindowPosition(const char* name, const char* parent, kltSIZE_s& at) = 0;
    // The application object's status tip for a control (by resource name,
    // in the group "Effect", with its enabled state and type; an empty name
    // with type 128 for the group's own tip).
    virtual void GetStatusTip(const char* name, const char* group, u8 enabled, u8 type, CKLF_String& tip) = 0;
    // The application object's Help menu, and the commands chosen in it
    // (nonzero when the command was one and was handled).
    virtual void FillHelpMenu(CKLF_PlatformPopupMenu* menu) = 0;
    virtual u8 HelpMenuDispatcher(u16 command, CKLF_Window* window) = 0;
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
  // parent, at position (-32000, -32000: centred), not movable-modal; 0
  // when it cannot be created.
  virtual u8 CreateEffectWindow(const char* resource, kltSIZE_s position) = 0;
  // Renders the whole window and shows it.
  virtual void ShowEffectWindow() = 0;

  Owner* mainWindow;
};
