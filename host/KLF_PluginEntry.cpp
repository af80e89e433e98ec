#include "KLF_PluginEntry.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <string>

namespace {

CPluginMain g_plugin;
KLP_FilterRecord* g_filterRecord = nullptr;
intptr_t* g_data = nullptr;
i16* g_result = nullptr;
KLP_FileRef g_pluginFolder;
std::string g_folderOverride;

}  // namespace

void KLF_SetPluginFolderOverride(const char* folder) { g_folderOverride = folder ? folder : ""; }

CPluginMain& KLF_GetPluginObject() { return g_plugin; }

i32 PrepareAppInfo() {
  std::string folder = g_folderOverride;
  if (folder.empty()) {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&PluginMain), &info) || !info.dli_fname) return klpErrNotFound;
    char real[PATH_MAX];
    if (!realpath(info.dli_fname, real)) return klpErrNotFound;
    folder = real;
    size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return klpErrNotFound;
    folder.resize(slash == 0 ? 1 : slash);
  }
  KLP_FileRef ref;
  i32 status = ref.SetPath(folder.c_str());
  if (status != klpNoErr) return status;
  g_pluginFolder = ref;
  return klpNoErr;
}

extern "C" void PluginMain(int16_t selector, KLP_FilterRecord* record, intptr_t* data, int16_t* result) {
  // Nothing may unwind into the host. What can throw here is an allocation
  // (a standard container or string, here or in a host callback): the host
  // hears memory full.
  try {
    g_filterRecord = record;
    g_data = data;
    g_result = result;
    g_plugin.SetHostPointers(record, data, result);
    // Without its folder the plug-in runs without its files, unless memory
    // ran out for the folder's name.
    errno = 0;
    if (PrepareAppInfo() != klpNoErr && errno == ENOMEM) {
      if (result) *result = klpResMemFull;
      return;
    }
    if (result) *result = 0;
    g_plugin.SetPluginFolder(g_pluginFolder);
    g_plugin.HandleSelector(selector);
  } catch (...) {
    if (result) *result = klpResMemFull;
  }
}
