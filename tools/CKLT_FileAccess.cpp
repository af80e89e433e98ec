#include "CKLT_FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const off_t kMaxFileBytes = 0x7FFFFFFF;

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
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
  // A file that may not be written is not replaced behind its back, though
  // its folder would let a new one take its place; one without any write
  // permission counts as read-only even for the superuser.
  if (stat(path.c_str(), &st) == 0) {
    const bool denied = access(path.c_str(), W_OK) != 0;
    if (denied || (st.st_mode & 0222) == 0)
      return reason = "the file is read-only (" + Reason(denied ? errno : EACCES) + ")", false;
  }
  const std::string folder = FolderOf(path);
  if (stat(folder.c_str(), &st) != 0) return reason = "its folder " + folder + ": " + Reason(errno), false;
  if (!S_ISDIR(st.st_mode)) return reason = folder + " is not a folder", false;
  if (access(folder.c_str(), W_OK) != 0) return reason = "its folder " + folder + ": " + Reason(errno), false;
  return true;
}
