#include "CKLT_FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

const off_t kMaxFileBytes = 0x7FFFFFFF;

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

std::string CKLT_FileAccess::Reason(int error) { return std::strerror(error); }

bool CKLT_FileAccess::Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool CKLT_FileAccess::ReadAll(const std::string& path, std::vector<uint8_t>& out, std::string& reason) {
  out.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return reason = CKLT_FileAccess::Reason(errno), false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) reason = Reason(errno);
  if (ok && S_ISDIR(st.st_mode)) ok = false, reason = "is a folder, not a file";
  if (ok && !S_ISREG(st.st_mode)) ok = false, reason = "is not a regular file";
  if (ok && st.st_size > kMaxFileBytes) ok = false, reason = "is larger than 2 GiB";
  if (ok) out.resize(static_cast<size_t>(st.st_size));
  for (size_t at = 0; ok && at < out.size();) {
    ssize_t k = read(fd, out.data() + at, out.size() - at);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) ok = false, reason = Reason(errno);
    if (k == 0) ok = false, reason = "became shorter while being read";
    if (k > 0) at += static_cast<size_t>(k);
  }
  close(fd);
  if (!ok) out.clear();
  return ok;
}

bool CKLT_FileAccess::CanWrite(const std::string& path, std::string& reason) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return reason = "is a folder", false;
  const std::string folder = FolderOf(path);
  if (stat(folder.c_str(), &st) != 0) return reason = "its folder " + folder + ": " + Reason(errno), false;
  if (!S_ISDIR(st.st_mode)) return reason = folder + " is not a folder", false;
  if (access(folder.c_str(), W_OK) != 0) return reason = "its folder " + folder + ": " + Reason(errno), false;
  return true;
}

bool CKLT_ReplaceFile::Begin(const std::string& target, std::string& reason) {
  Abandon();
  char real[PATH_MAX];
  m_target = realpath(target.c_str(), real) ? std::string(real) : target;
  struct stat st;
  if (stat(m_target.c_str(), &st) == 0) {
    m_mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    m_mode = 0666 & ~mask;
  }
  const size_t slash = m_target.rfind('/');
  const std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
  const std::string pattern = FolderOf(m_target) + "/." + name + ".XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  int fd = mkstemp(buf.data());
  if (fd < 0) return reason = CKLT_FileAccess::Reason(errno), false;
  close(fd);
  m_temp = buf.data();
  return true;
}

bool CKLT_ReplaceFile::Commit(std::string& reason) {
  if (m_temp.empty()) return reason = "nothing was written", false;
  bool ok =
      SyncPath(m_temp, O_RDONLY) && chmod(m_temp.c_str(), m_mode) == 0 && rename(m_temp.c_str(), m_target.c_str()) == 0;
  if (!ok) {
    reason = CKLT_FileAccess::Reason(errno);
    Abandon();
    return false;
  }
  m_temp.clear();
  SyncPath(FolderOf(m_target), O_RDONLY | O_DIRECTORY);
  return true;
}

void CKLT_ReplaceFile::Abandon() {
  if (!m_temp.empty()) unlink(m_temp.c_str());
  m_temp.clear();
}

bool CKLT_ReplaceFile::WriteAll(const std::string& target, const std::vector<uint8_t>& bytes, std::string& reason) {
  CKLT_ReplaceFile file;
  if (!file.Begin(target, reason)) return false;
  int fd = open(file.TempPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  bool ok = fd >= 0 && WriteFd(fd, bytes.data(), bytes.size());
  int saved = errno;
  if (fd >= 0 && close(fd) != 0 && ok) ok = false, saved = errno;
  if (!ok) return reason = CKLT_FileAccess::Reason(saved), false;
  return file.Commit(reason);
}
