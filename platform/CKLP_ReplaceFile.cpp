#include "CKLP_ReplaceFile.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

// The temporary files that exist, for RemoveTemporaries: a fixed table, so
// that a signal handler reads it without a lock or an allocation. A slot
// is free (0), being made into a file (1), or names a file that exists (2).
constexpr int kSlots = 16;
char g_names[kSlots][PATH_MAX];
std::atomic<int> g_state[kSlots];

int ClaimSlot() {
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (g_state[i].compare_exchange_strong(expected, 1)) return i;
  }
  return -1;  // more writers at once than slots: their files go unlisted
}

// Makes the file of the pattern in buf (its name put there) and lists it
// in a slot (-1 when none is free), with the ending signals held back in
// this thread, so that a handler never runs here between the file's
// making and its listing; a handler on another thread waits for the
// listing. The descriptor, or -1 with errno.
int MakeListed(std::vector<char>& buf, int& slot) {
  sigset_t ending, old;
  sigemptyset(&ending);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, s);
  pthread_sigmask(SIG_BLOCK, &ending, &old);
  slot = buf.size() <= PATH_MAX ? ClaimSlot() : -1;
  char* name = slot >= 0 ? g_names[slot] : buf.data();
  if (slot >= 0) std::memcpy(name, buf.data(), buf.size());
  const int fd = mkstemp(name);
  const int saved = errno;
  if (slot >= 0) {
    if (fd >= 0) std::memcpy(buf.data(), name, buf.size());
    g_state[slot].store(fd >= 0 ? 2 : 0, std::memory_order_release);
    if (fd < 0) slot = -1;
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = saved;
  return fd;
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
  int slot = -1;
  const int fd = MakeListed(buf, slot);
  if (fd < 0) return reason = std::strerror(errno), false;
  close(fd);
  m_temp = buf.data();
  m_slot = slot;
  return true;
}

void CKLP_ReplaceFile::i_Forget() {
  if (m_slot >= 0) g_state[m_slot].store(0, std::memory_order_release);
  m_slot = -1;
  m_temp.clear();
}

void CKLP_ReplaceFile::RemoveTemporaries() {
  for (int i = 0; i < kSlots; ++i) {
    // A file being made on another thread is listed within moments.
    const struct timespec pause = {0, 1000000};
    for (int wait = 0; wait < 1000 && g_state[i].load(std::memory_order_acquire) == 1; ++wait)
      nanosleep(&pause, nullptr);
    if (g_state[i].load(std::memory_order_acquire) == 2) unlink(g_names[i]);
  }
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
  i_Forget();
  SyncPath(FolderOf(m_target), O_RDONLY | O_DIRECTORY);
  return true;
}

void CKLP_ReplaceFile::Abandon() {
  if (!m_temp.empty()) unlink(m_temp.c_str());
  i_Forget();
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
