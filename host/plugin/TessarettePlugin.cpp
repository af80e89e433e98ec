// The plug-in as a shared library: the shell's objects are linked in whole
// and only the entry is exported (see exports.map).
#include <type_traits>

#include "KLF_PluginEntry.h"

static_assert(std::is_same<decltype(&PluginMain), KLP_PluginMainProc>::value,
              "the entry must have the host interface's type");
