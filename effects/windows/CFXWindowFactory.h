// Makes the effect windows: the factory the plug-in's assembly registers
// with CEffectWindowServices::SetFactory(CFXWindowFactory::New).
#pragma once

#include "CEffectWindowServices.h"

class CFXWindowFactory {
 public:
  // A new, not yet created window for an effect index; null for invert,
  // which has no window, and past 9. The window is the caller's.
  static CEffectWindowServices* New(u8 effect);
};
