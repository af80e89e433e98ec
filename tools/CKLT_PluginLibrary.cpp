#include "CKLT_PluginLibrary.h"

#include <dlfcn.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "CKLT_FileAccess.h"

namespace {

const char kLibraryName[] = "libtessarette_plugin.so";

bool Exists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// Whether the file's file system is mounted noexec (nothing on it is
// mapped to run).
bool OnNoExecMount(const std::string& file) {
  struct statvfs fs;
  return statvfs(file.c_str(), &fs) == 0 && (fs.f_flag & ST_NOEXEC) != 0;
}

}  // namespace

CKLT_PluginLibrary::Refusal CKLT_PluginLibrary::Classify(const char* why, bool noExecMount) {
  if (!why) return kFileRefused;
  // A segment that could not be mapped: a mount that runs nothing, else no room.
  if (std::strstr(why, "failed to map segment")) return noExecMount ? kNoExecMount : kNoRoom;
  // The loader's own words when an allocation of its fails.
  // (Static TLS that is full is the library's own doing, not a lack of memory.)
  const char* const room[] = {"cannot map zero-fill pages",
                              "out of memory",
                              std::strerror(ENOMEM),
                              "cannot create shared object descriptor",
                              "cannot allocate name record",
                              "cannot allocate dependency",
                              "cannot allocate symbol search list",
                              "cannot allocate version reference table",
                              "cannot create searchlist",
                              "cannot create cache for search path",
                              "cannot create RUNPATH/RPATH copy"};
  for (const char* said : room)
    if (std::strstr(why, said)) return kNoRoom;
  return kFileRefused;
}

bool CKLT_PluginLibrary::Load(const std::string& path, std::string& error, bool* noMemory) {
  Unload();
  if (noMemory) *noMemory = false;
  // A name without a slash is a file here, not one for dlopen to search.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  // Looked at first: dlopen would wait on a FIFO for a writer.
  std::string kind;
  if (!CKLT_FileAccess::RegularOrAbsent(file, kind))
    return error = "cannot load the plug-in " + path + ": it " + kind + ", not a regular file", false;
  m_handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) {
    const char* why = dlerror();
    Refusal refusal = Classify(why, OnNoExecMount(file));
    // A file the loader says is not there while it is: the loader ran out
    // of room on its way to it.
    if (refusal == kFileRefused && why && std::strstr(why, std::strerror(ENOENT)) && Exists(file)) refusal = kNoRoom;
    if (noMemory) *noMemory = refusal == kNoRoom;
    error = "cannot load the plug-in " + path +
            (refusal == kNoRoom         ? ": out of memory"
             : refusal == kNoExecMount ? ": its file system is mounted noexec, nothing on it is run"
                                        : "") +
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
