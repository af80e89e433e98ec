#include "CKLT_FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "KLF_Parallel.h"

namespace {

const off_t kMaxFileBytes = 0x7FFFFFFF;

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// An open regular file below the size limit and its size; -1 with the
// reason otherwise. A FIFO or a device is refused without waiting for a
// writer (O_NONBLOCK does nothing to a regular file).
int OpenRegular(const std::string& path, size_t& size, std::string& reason) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int saved = errno;
    reason = CKLT_FileAccess::Reason(saved);
    return errno = saved, -1;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) reason = CKLT_FileAccess::Reason(errno);
  if (ok && S_ISDIR(st.st_mode)) ok = false, reason = "is a folder, not a file";
  if (ok && !S_ISREG(st.st_mode)) ok = false, reason = CKLT_FileAccess::KindOf(st.st_mode);
  if (ok && st.st_size > kMaxFileBytes) ok = false, reason = "is larger than 2 GiB";
  if (!ok) return close(fd), errno = 0, -1;
  size = static_cast<size_t>(st.st_size);
  return fd;
}

// Reads bytes at..end of the file into out + at; 0, errno or kShorter.
const int kShorter = -1;
int ReadRange(int fd, uint8_t* out, size_t at, size_t end) {
  while (at < end) {
    const ssize_t k = pread(fd, out + at, end - at, static_cast<off_t>(at));
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) return errno;
    if (k == 0) return kShorter;
    at += static_cast<size_t>(k);
  }
  return 0;
}

// The name a dangling link points at, resolved beside the link.
std::string LinkTarget(const std::string& link) {
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof(buf) - 1);
  if (n <= 0) return std::string();
  const std::string to(buf, static_cast<size_t>(n));
  return to[0] == '/' ? to : FolderOf(link) + "/" + to;
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReasonFor(int failure) {
  return failure == kShorter ? "became shorter while being read" : CKLT_FileAccess::Reason(failure);
}

}  // namespace

std::string CKLT_FileAccess::Reason(int error) { return std::strerror(error); }

bool CKLT_FileAccess::Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool CKLT_FileAccess::ReadAll(const std::string& path, std::vector<uint8_t>& out, std::string& reason) {
  out.clear();
  size_t size = 0;
  const int fd = OpenRegular(path, size, reason);
  if (fd < 0) return false;
  out.resize(size);
  const int failure = ReadRange(fd, out.data(), 0, size);
  close(fd);
  if (failure) out.clear(), reason = ReasonFor(failure);
  return !failure;
}

bool CKLT_FileAccess::ReadAllSideBySide(const std::string& path, uint32_t threads, Bytes& out,
                                        std::string& reason) {
  out = Bytes();
  size_t size = 0;
  const int fd = OpenRegular(path, size, reason);
  if (fd < 0) return false;
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size ? size : 1]);
  if (!bytes) return close(fd), reason = Reason(ENOMEM), errno = ENOMEM, false;
  // Chunks of a few megabytes: enough to share a photograph's file out.
  const size_t kChunk = size_t(4) << 20;
  const uint32_t chunks = static_cast<uint32_t>((size + kChunk - 1) / kChunk);
  std::atomic<int> failure{0};
  KLF_Parallel::ForEach(threads, chunks, [&](u32 c, u32) noexcept {
    if (failure.load(std::memory_order_relaxed)) return;
    const size_t at = c * kChunk, end = at + kChunk < size ? at + kChunk : size;
    int expected = 0;
    if (const int f = ReadRange(fd, bytes.get(), at, end)) failure.compare_exchange_strong(expected, f);
  });
  close(fd);
  if (const int f = failure.load()) return reason = ReasonFor(f), errno = f == kShorter ? 0 : f, false;
  out.m_own = std::move(bytes);
  out.m_data = out.m_own.get();
  out.m_size = size;
  return true;
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

bool CKLT_FileAccess::Identify(const std::string& path, Identity& out) {
  out = Identity();
  std::string p = path;
  struct stat st;
  // A dangling link creates its target: the target is what is named.
  for (int hops = 0; hops < 40; ++hops) {
    if (stat(p.c_str(), &st) == 0) {
      out.device = st.st_dev;
      out.inode = st.st_ino;
      return true;
    }
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    const std::string target = LinkTarget(p);
    if (target.empty()) break;
    p = target;
  }
  if (stat(FolderOf(p).c_str(), &st) != 0) return false;
  out.device = st.st_dev;
  out.inode = st.st_ino;
  out.name = NameOf(p);
  return true;
}

std::string CKLT_FileAccess::KindOf(mode_t mode) {
  return S_ISDIR(mode)    ? "is a folder"
         : S_ISFIFO(mode) ? "is a FIFO"
         : S_ISSOCK(mode) ? "is a socket"
         : S_ISCHR(mode)  ? "is a character device"
         : S_ISBLK(mode)  ? "is a block device"
                          : "is not a regular file";
}

bool CKLT_FileAccess::RegularOrAbsent(const std::string& path, std::string& reason) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return true;
  reason = KindOf(st.st_mode);
  return false;
}

bool CKLT_FileAccess::Replaceable(const std::string& path, std::string& reason) {
  if (!RegularOrAbsent(path, reason)) return reason += ": only a regular file is replaced", false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0 || lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
  const std::string to = LinkTarget(path);
  reason = "is a symbolic link to " + (to.empty() ? std::string("nothing") : to) +
           ", which does not exist: it is not written through";
  return false;
}
