#include "CFXWindowFactory.h"

#include "CWndFX_BC.h"
#include "CWndFX_Bevel.h"
#include "CWndFX_Blur.h"
#include "CWndFX_ColorOverlay.h"
#include "CWndFX_HSL.h"
#include "CWndFX_ImageOverlay.h"
#include "CWndFX_MBlur.h"
#include "CWndFX_Opacity.h"
#include "CWndFX_Stroke.h"

CEffectWindowServices* CFXWindowFactory::New(u8 effect) {
  switch (effect) {
    case 0: return new CWndFX_Blur();
    case 1: return new CWndFX_Bevel();
    case 2: return new CWndFX_HSL();
    case 3: return new CWndFX_ColorOverlay();
    case 4: return new CWndFX_BC();
    case 5: return new CWndFX_MBlur();
    case 6: return new CWndFX_Opacity();
    case 8: return new CWndFX_Stroke();
    case 9: return new CWndFX_ImageOverlay();
    default: return nullptr;
  }
}
