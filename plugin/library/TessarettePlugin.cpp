// The plug-in as a shared library: the shell and the assembly linked in,
// only the entry exported (see exports.map). Loading it registers the
// user interface and the windows' factories.
#include <type_traits>

#include "KLF_PluginAssembly.h"
#include "KLF_PluginEntry.h"

static_assert(std::is_same<decltype(&PluginMain), KLP_PluginMainProc>::value,
              "the entry must have the host interface's type");

namespace {

// Assembles the plug-in once it is loaded.
struct Assembly {
  Assembly() { KLF_AssemblePlugin(); }
} g_assembly;

}  // namespace
