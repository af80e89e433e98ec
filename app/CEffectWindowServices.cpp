#include "CEffectWindowServices.h"

const char* CEffectWindowServices::ResourceName(u8 effect) {
  static const char* const kNames[10] = {"FXblur", "FXbevel", "FXhsl", "FXcovr",   "FXbc",
                                         "FXmblur", "FXopac", nullptr, "FXstroke", "FXiovr"};
  return effect < 10 ? kNames[effect] : nullptr;
}
