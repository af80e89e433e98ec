#include "CKLT_PluginLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const char kLibraryName[] = "libtessarette_plugin.so";

bool Exists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// The loader's reasons when the library found no room: its mappings
// failed, or its allocations, or the system said ENOMEM.
bool NoRoom(const char* why) {
  for (const char* said : {"failed to map segment", "cannot map zero-fill pages", "cannot allocate", "out of memory"})
    if (std::strstr(why, said)) return true;
  return std::strstr(why, std::strerror(ENOMEM)) != nullptr;
}

}  // namespace

bool CKLT_PluginLibrary::Load(const std::string& path, std::string& error, bool* noMemory) {
  Unload();
  if (noMemory) *noMemory = false;
  // A name without a slash is a file here, not one for dlopen to search.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  m_handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) {
    const char* why = dlerror();
    const bool room = why && NoRoom(why);
    if (noMemory) *noMemory = room;
    error = "cannot load the plug-in " + path + (room ? ": out of memory" : "") +
            (why ? std::string(": ") + why : std::string());
    return false;
  }
  void* sym = dlsym(m_handle, KLP_PLUGIN_ENTRY_NAME);
  if (!sym) {
    error = path + " has no entry " KLP_PLUGIN_ENTRY_NAME;
    Unload();
    return false;
  }
  m_entry = reinterpret_cast<KLP_PluginMainProc>(sym);
  return true;
}

void CKLT_PluginLibrary::Unload() {
  if (m_handle) dlclose(m_handle);
  m_handle = nullptr;
  m_entry = nullptr;
}

std::string CKLT_PluginLibrary::DefaultPath() {
  const char* env = std::getenv("TESSARETTE_PLUGIN");
  if (env && *env) return env;
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  std::string dir = ".";
  if (n > 0) {
    buf[n] = 0;
    dir = buf;
    size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
  }
  std::string beside = dir + "/" + kLibraryName;
  if (Exists(beside)) return beside;
  std::string tree = dir + "/../plugin/" + kLibraryName;
  if (Exists(tree)) return tree;
  return beside;
}
