// The main window's mode-dependent controls: their enabled state, disabled
// opacity and visibility as one pure function of the mode state (Layout or
// Puzzle mode, an effect window open, layer access, the random-knots
// amount). The window applies the table by resource name and control type;
// a field of kKeep leaves that property of the control as it is.
//
// Cost: a constant table of 36 entries; no allocation.
#pragma once

#include "KLF_Types.h"

class CModeControls {
 public:
  static constexpr u8 kKeep = 255;
  // Disabled opacities: a dimmed control shows faintly, a hidden one not at all.
  static constexpr u8 kDimmed = 80;
  static constexpr u8 kHidden = 0;
  // Control types of the toolkit.
  enum : u8 { kSlider = 1, kButton = 5, kCheckBox = 7, kEditLine = 8 };

  struct CONTROLSTATE {
    const char* name;  // resource name
    u8 type;
    u8 enabled;          // 0, 1 or kKeep
    u8 disabledOpacity;  // kDimmed, kHidden or kKeep
    u8 visible;          // 0, 1 or kKeep
  };

  static constexpr u32 kCount = 36;

  // Fills out with the state of every mode-dependent control.
  static void GetStates(u8 layoutMode, u8 effectWindowOpen, u8 layerAccess, f32 randomKnotsAmount,
                        CONTROLSTATE out[kCount]);
};
