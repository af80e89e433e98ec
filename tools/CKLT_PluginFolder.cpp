#include "CKLT_PluginFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "CKLT_FileAccess.h"

namespace {

// What RemoveOnSignal removes, set once the folder exists: the files it
// may hold, then the folder.
const int kFiles = 3;
char g_paths[kFiles + 1][PATH_MAX];
volatile sig_atomic_t g_armed = 0;

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes bytes as a new file; 0 or errno.
int WriteNew(const std::string& path, const uint8_t* bytes, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  size_t at = 0;
  while (at < size) {
    const ssize_t k = write(fd, bytes + at, size - at);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) {
      const int saved = k < 0 ? errno : EIO;
      close(fd);
      return saved;
    }
    at += static_cast<size_t>(k);
  }
  return close(fd) == 0 ? 0 : errno;
}

}  // namespace

bool CKLT_PluginFolder::Make(const std::string& plugin, const std::vector<uint8_t>& block, std::string& error,
                             bool* noMemory) {
  Remove();
  if (noMemory) *noMemory = false;
  // What was made is taken down; a folder that stays is said too.
  const auto takeDown = [&] {
    std::string left;
    if (!Remove(&left)) error += "; " + left;
    return false;
  };
  const auto fail = [&](const std::string& what, int code) {
    if (noMemory) *noMemory = code == ENOMEM;
    error = what + ": " + CKLT_FileAccess::Reason(code);
    return takeDown();
  };
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessarette-host-XXXXXX";
  const std::string name = BaseName(plugin);
  if (folder.size() + 1 + std::max(name.size(), sizeof("plugin.conf")) >= PATH_MAX)
    return fail("cannot make a folder for the plug-in in " + folder.substr(0, folder.rfind('/')), ENAMETOOLONG);
  std::vector<char> templ(folder.begin(), folder.end());
  templ.push_back(0);
  if (!mkdtemp(templ.data()))
    return fail("cannot make a folder for the plug-in in " + folder.substr(0, folder.rfind('/')), errno);
  m_folder = templ.data();
  const std::string files[kFiles] = {m_folder + "/" + name, m_folder + "/last.data", m_folder + "/plugin.conf"};
  for (int i = 0; i < kFiles; ++i) std::strcpy(g_paths[i], files[i].c_str());
  std::strcpy(g_paths[kFiles], m_folder.c_str());
  g_armed = 1;
  std::vector<uint8_t> library;
  std::string reason;
  if (!CKLT_FileAccess::ReadAll(plugin, library, reason)) {
    error = "cannot read the plug-in " + plugin + ": " + reason;
    return takeDown();
  }
  if (const int code = WriteNew(files[0], library.data(), library.size()))
    return fail("cannot copy the plug-in into " + m_folder, code);
  if (const int code = WriteNew(files[1], block.data(), block.size()))
    return fail("cannot write the settings into " + m_folder, code);
  m_plugin = files[0];
  return true;
}

bool CKLT_PluginFolder::Remove(std::string* reason) {
  if (m_folder.empty()) return true;
  g_armed = 0;
  // Whatever the plug-in put there is ours too.
  int failed = 0;
  if (DIR* d = opendir(m_folder.c_str())) {
    while (const dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 &&
          unlink((m_folder + "/" + e->d_name).c_str()) != 0 && !failed)
        failed = errno;
    closedir(d);
  }
  if (rmdir(m_folder.c_str()) != 0 && !failed) failed = errno;
  if (failed && reason) *reason = "cannot remove " + m_folder + ": " + CKLT_FileAccess::Reason(failed);
  m_folder.clear();
  m_plugin.clear();
  return !failed;
}

void CKLT_PluginFolder::RemoveOnSignal() {
  if (!g_armed) return;
  for (int i = 0; i < kFiles; ++i) unlink(g_paths[i]);
  rmdir(g_paths[kFiles]);
}
