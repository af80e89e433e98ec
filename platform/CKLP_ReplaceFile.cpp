#include "CKLP_ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Bytes of the target's name kept in the temporary one, so that "." + name +
// ".XXXXXX" stays within a folder entry's 255 bytes.
constexpr size_t kNameKept = 255 - 8;

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes all bytes to fd, again after interruptions; errno on failure.
bool WriteFd(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t k = write(fd, p, n);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

// The process's file creation mask. Setting it to read it back races
// with files made on other threads meanwhile: it is read from the process
// status where the system tells it, else set and put back under a lock.
mode_t CreationMask() {
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[128];
    unsigned value = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof(line), f)) found = std::sscanf(line, "Umask: %o", &value) == 1;
    std::fclose(f);
    if (found) return static_cast<mode_t>(value);
  }
  static std::mutex lock;
  std::lock_guard<std::mutex> hold(lock);
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

bool SyncPath(const std::string& path, int flags) {
  int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync folders
  int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

}  // namespace

bool CKLP_ReplaceFile::Begin(const std::string& target, std::string& reason) {
  Abandon();
  char real[PATH_MAX];
  m_target = realpath(target.c_str(), real) ? std::string(real) : target;
  struct stat st;
  if (stat(m_target.c_str(), &st) == 0) {
    m_mode = st.st_mode & 07777;
  } else {
    m_mode = 0666 & ~CreationMask();
  }
  const size_t slash = m_target.rfind('/');
  const std::string name = (slash == std::string::npos ? m_target : m_target.substr(slash + 1)).substr(0, kNameKept);
  const std::string pattern = FolderOf(m_target) + "/." + name + ".XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  int fd = mkstemp(buf.data());
  if (fd < 0) return reason = std::strerror(errno), false;
  close(fd);
  m_temp = buf.data();
  return true;
}

bool CKLP_ReplaceFile::Commit(std::string& reason) {
  if (m_temp.empty()) return reason = "nothing was written", false;
  bool ok =
      SyncPath(m_temp, O_RDONLY) && chmod(m_temp.c_str(), m_mode) == 0 && rename(m_temp.c_str(), m_target.c_str()) == 0;
  if (!ok) {
    reason = std::strerror(errno);
    Abandon();
    return false;
  }
  m_temp.clear();
  SyncPath(FolderOf(m_target), O_RDONLY | O_DIRECTORY);
  return true;
}

void CKLP_ReplaceFile::Abandon() {
  if (!m_temp.empty()) unlink(m_temp.c_str());
  m_temp.clear();
}

bool CKLP_ReplaceFile::WriteAll(const std::string& target, const std::vector<uint8_t>& bytes, std::string& reason) {
  CKLP_ReplaceFile file;
  if (!file.Begin(target, reason)) return false;
  int fd = open(file.TempPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  bool ok = fd >= 0 && WriteFd(fd, bytes.data(), bytes.size());
  int saved = errno;
  if (fd >= 0 && close(fd) != 0 && ok) ok = false, saved = errno;
  if (!ok) return reason = std::strerror(saved), false;
  return file.Commit(reason);
}
