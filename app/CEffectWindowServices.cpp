#include "CEffectWindowServices.h"

const char* CEffectWindowServices::ResourceName(u8 effect) {
  static const char* const kNames[10] = {"FXblur", "FXbevel", "FXhsl", "FXcovr",   "FXbc",
                                         "FXmblur", "FXopac", nullptr, "FXstroke", "FXiovr"};
  return effect < 10 ? kNames[effect] : nullptr;
}

namespace {
CEffectWindowServices::Factory g_factory = nullptr;
}

void CEffectWindowServices::SetFactory(Factory factory) { g_factory = factory; }

CEffectWindowServices* CEffectWindowServices::New(u8 effect) {
  return g_factory && ResourceName(effect) ? g_factory(effect) : nullptr;
}
