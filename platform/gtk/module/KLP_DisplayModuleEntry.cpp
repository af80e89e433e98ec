// The display backend as a module of its own: its one exported entry opens
// the display once (null when none opens). The module keeps the platform:
// it stays loaded while the plug-in that asked for it may come and go.
#include <type_traits>

#include "CKLP_UIPlatform.h"

extern "C" __attribute__((visibility("default"))) CKLP_UIPlatform* KLP_DisplayModuleOpen() {
  static CKLP_UIPlatform* const display = KLP_OpenDisplayUI();
  return display;
}

static_assert(std::is_same<decltype(&KLP_DisplayModuleOpen), KLP_DisplayModuleEntry>::value,
              "the entry must have the loader's type");
