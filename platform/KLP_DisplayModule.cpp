// Loading the display backend from its own module, so that only a run that
// opens windows brings the windowing toolkit into the process.
#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "CKLP_UIPlatform.h"

namespace {
CKLP_UIPlatform* g_display = nullptr;
}

bool KLP_DisplayNamed() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

CKLP_UIPlatform* KLP_LoadDisplayModule(const char* path) {
  if (g_display) return g_display;
  if (!path || !*path) return nullptr;
  // Kept loaded: the toolkit inside registers types and threads that
  // outlive any unloading.
  errno = 0;
  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!module) {
    // The loader says why in words, and not always that memory ran out
    // ("cannot create shared object descriptor"); the allocation that
    // failed left its errno.
    const int failed = errno;
    const char* why = dlerror();
    const bool memory = failed == ENOMEM || (why && std::strstr(why, std::strerror(ENOMEM)));
    return errno = memory ? ENOMEM : ENOENT, nullptr;
  }
  KLP_DisplayModuleEntry open = reinterpret_cast<KLP_DisplayModuleEntry>(dlsym(module, KLP_DISPLAY_MODULE_ENTRY));
  if (!open) return errno = ENOENT, nullptr;
  g_display = open();
  return g_display;
}
