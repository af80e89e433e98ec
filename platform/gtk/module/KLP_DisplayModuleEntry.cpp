// The display backend as a module of its own: its one exported entry opens
// the display (null when none opens).
#include <type_traits>

#include "CKLP_UIPlatform.h"

extern "C" __attribute__((visibility("default"))) CKLP_UIPlatform* KLP_DisplayModuleOpen() { return KLP_OpenDisplayUI(); }

static_assert(std::is_same<decltype(&KLP_DisplayModuleOpen), KLP_DisplayModuleEntry>::value,
              "the entry must have the loader's type");
