#include "CFXWindowFactory.h"

#include "CWndFX_BC.h"
#include "CWndFX_Blur.h"
#include "CWndFX_Opacity.h"

CEffectWindowServices* CFXWindowFactory::New(u8 effect) {
  switch (effect) {
    case 0: return new CWndFX_Blur();
    case 4: return new CWndFX_BC();
    case 6: return new CWndFX_Opacity();
    // Bevel, hue/saturation, colour overlay, motion blur, stroke and image
    // overlay have no window yet.
    default: return nullptr;
  }
}
