#include "CKLP_ReplaceFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>

namespace {

const char kMark[] = ".tsr-tmp.";

// Bytes of the target's name kept in the temporary one, so that "." +
// name + mark + pid (at most 7 digits) + ".XXXXXX" stays within a folder
// entry's 255 bytes.
constexpr size_t kNameKept = 255 - 1 - (sizeof(kMark) - 1) - 7 - 7;

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LastName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string KeptName(const std::string& name) { return name.substr(0, kNameKept); }

// The six characters ending a temporary's name: a base-62 number of 20
// random bits and a 15-bit check of the name before them.
constexpr size_t kSix = 6;
const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

uint32_t NameCheck(const char* head, size_t n, uint32_t random) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(head[i])) * 16777619u;
  for (int i = 0; i < 3; ++i) h = (h ^ ((random >> (8 * i)) & 0xFF)) * 16777619u;
  return (h ^ (h >> 15) ^ (h >> 30)) & 0x7FFF;
}

uint32_t Random20() {
  static std::atomic<uint64_t> counter{0};
  struct timespec t = {0, 0};
  clock_gettime(CLOCK_REALTIME, &t);
  uint64_t z = counter.fetch_add(0x9E3779B97F4A7C15ull) ^ (static_cast<uint64_t>(getpid()) << 40) ^
               (static_cast<uint64_t>(t.tv_nsec) << 8) ^ static_cast<uint64_t>(t.tv_sec);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint32_t>(z ^ (z >> 31)) & 0xFFFFF;
}

// Chooses the last six characters of the path (of length n).
void NameTemporary(char* path, size_t n) {
  const char* slash = std::strrchr(path, '/');
  const char* head = slash ? slash + 1 : path;
  const uint32_t random = Random20();
  const size_t headBytes = static_cast<size_t>(path + n - kSix - head);
  uint64_t v = (static_cast<uint64_t>(random) << 15) | NameCheck(head, headBytes, random);
  for (size_t i = kSix; i-- > 0; v /= 62) path[n - kSix + i] = kDigits[v % 62];
}

// Whether the last six characters of entry (of length n) were chosen so.
bool NameChecks(const char* entry, size_t n) {
  uint64_t v = 0;
  for (size_t i = n - kSix; i < n; ++i) {
    const char* d = std::strchr(kDigits, entry[i]);
    if (!d || !entry[i]) return false;
    v = v * 62 + static_cast<uint64_t>(d - kDigits);
  }
  if (v >> 35) return false;
  return NameCheck(entry, n - kSix, static_cast<uint32_t>(v >> 15)) == (v & 0x7FFF);
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether descriptors after fd are left for the writers' own files (a
// quarter of the limit, at most 32), once the soft limit is raised to the
// hard one when needed.
bool RoomAfter(int fd) {
  const auto room = [fd](rlim_t limit) {
    return limit == RLIM_INFINITY || static_cast<rlim_t>(fd) + std::min<rlim_t>(32, limit / 4) < limit;
  };
  struct rlimit r;
  if (getrlimit(RLIMIT_NOFILE, &r) != 0 || room(r.rlim_cur)) return true;
  if (r.rlim_cur == r.rlim_max) return false;
  r.rlim_cur = r.rlim_max;
  return setrlimit(RLIMIT_NOFILE, &r) == 0 && room(r.rlim_cur);
}

// Makes a new file of the path (n bytes, its last six characters chosen
// here) and locks it for as long as the descriptor stays open. A remover
// may lock and remove it in the moment before it is locked, so the name
// is kept only once locked and still naming the file. A file system that
// cannot lock leaves it unlocked. The descriptor, or -1 with errno.
int MakeLocked(char* path, size_t n) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    NameTemporary(path, n);
    const int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return -1;
    if (!RoomAfter(fd)) {
      unlink(path);
      close(fd);
      return errno = EMFILE, -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) return fd;
      close(fd);  // a remover has it and removes it
      continue;
    }
    struct stat mine, named;
    if (fstat(fd, &mine) == 0 && lstat(path, &named) == 0 && SameFile(mine, named)) return fd;
    close(fd);
  }
  return errno = EEXIST, -1;
}

// Holds SIGINT, SIGTERM and SIGHUP back on this thread while alive.
class HoldEnding {
 public:
  HoldEnding() {
    sigset_t ending;
    sigemptyset(&ending);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, s);
    pthread_sigmask(SIG_BLOCK, &ending, &m_old);
  }
  ~HoldEnding() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }

 private:
  sigset_t m_old;
};

}  // namespace

// An entry of the temporaries that exist. Nodes are linked once, at the
// head, and never unlinked or freed, so a signal handler walks the list
// without a lock; one no longer used waits on the free list for reuse. A
// node is free (0), claimed by a writer that has made no file yet (3),
// being made into a file (1: its name is not read; only system calls run
// in this state, which take no lock, so a handler may wait for it), or
// names a file that exists (2).
struct CKLP_TempNode {
  enum : int { kFree = 0, kMaking = 1, kListed = 2, kClaimed = 3 };
  std::atomic<int> state{kClaimed};
  char* name = nullptr;
  size_t room = 0;
  CKLP_TempNode* next = nullptr;      // fixed once linked
  CKLP_TempNode* nextFree = nullptr;  // under the free list's lock
};

namespace {

std::atomic<CKLP_TempNode*> g_head{nullptr};
std::mutex g_freeLock;  // never taken by the handler
CKLP_TempNode* g_free = nullptr;
std::atomic<int> g_ending{0};      // the handler has run
std::atomic<int> g_committing{0};  // sets being renamed into place
std::atomic<int> g_placing{0};     // a set's renames began, not yet told (PlacingTold)
std::atomic<int> g_asked{0};       // the ending signal a handler asked to keep

// Frees the list when the library is unloaded or the process ends, with
// the ending signals held back; a temporary still listed then can no
// longer be finished by anyone, so its file goes too.
struct NodeOwner {
  ~NodeOwner() {
    HoldEnding hold;
    CKLP_TempNode* n = g_head.exchange(nullptr);
    {
      std::lock_guard<std::mutex> lock(g_freeLock);
      g_free = nullptr;
    }
    while (n) {
      CKLP_TempNode* next = n->next;
      if (n->state.load() == CKLP_TempNode::kListed) unlink(n->name);
      delete[] n->name;
      delete n;
      n = next;
    }
  }
} g_owner;

CKLP_TempNode* Claim() {
  {
    std::lock_guard<std::mutex> hold(g_freeLock);
    if (CKLP_TempNode* n = g_free) {
      g_free = n->nextFree;
      n->state.store(CKLP_TempNode::kClaimed);
      return n;
    }
  }
  CKLP_TempNode* n = new (std::nothrow) CKLP_TempNode;
  if (!n) return nullptr;
  n->next = g_head.load();
  while (!g_head.compare_exchange_weak(n->next, n)) {
  }
  return n;
}

void Release(CKLP_TempNode* n) {
  n->state.store(CKLP_TempNode::kFree);
  std::lock_guard<std::mutex> hold(g_freeLock);
  n->nextFree = g_free;
  g_free = n;
}

// Makes the file of the pattern in buf (its name put there) and lists it,
// with the ending signals held back on this thread, so that a handler
// never runs here between the file's making and its listing; a handler on
// another thread waits for the listing. A node claimed after the handler
// has run makes no file. The descriptor, or -1 with errno.
int MakeListed(std::vector<char>& buf, CKLP_TempNode*& node) {
  HoldEnding hold;
  node = Claim();
  if (!node) return errno = ENOMEM, -1;
  int fd = -1, saved = EINTR;
  if (g_ending.load()) {
    Release(node);
    node = nullptr;
    return errno = saved, -1;
  }
  // The name's room is made before the node says it is being made: a
  // handler that interrupted an allocation on another thread must not wait
  // for one here.
  if (node->room < buf.size()) {
    delete[] node->name;
    node->name = new (std::nothrow) char[buf.size()];
    node->room = node->name ? buf.size() : 0;
  }
  if (!node->name) {
    saved = ENOMEM;
  } else {
    std::memcpy(node->name, buf.data(), buf.size());
    // A handler that ran before this check is seen here; one that runs
    // after it sees the node being made and waits for its listing.
    node->state.store(CKLP_TempNode::kMaking);
    if (!g_ending.load()) {
      fd = MakeLocked(node->name, buf.size() - 1);
      saved = errno;
      if (fd >= 0) std::memcpy(buf.data(), node->name, buf.size());
    }
  }
  if (fd >= 0) {
    node->state.store(CKLP_TempNode::kListed);
  } else {
    Release(node);
    node = nullptr;
  }
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

// The target's name kept in a temporary's name ("." name mark pid "." six
// characters whose check holds); false for any other name.
bool ParseTemporary(const char* entry, std::string& name) {
  const size_t n = std::strlen(entry), mark = sizeof(kMark) - 1;
  if (n < 1 + 1 + mark + 1 + 1 + kSix || entry[0] != '.' || entry[n - kSix - 1] != '.') return false;
  const size_t end = n - kSix - 1;
  size_t digits = end;
  while (digits > 0 && entry[digits - 1] >= '0' && entry[digits - 1] <= '9') --digits;
  if (digits == end || end - digits > 7 || entry[digits] == '0' || digits < 2 + mark) return false;
  if (std::memcmp(entry + digits - mark, kMark, mark) != 0 || !NameChecks(entry, n)) return false;
  name.assign(entry + 1, digits - mark - 1);
  return true;
}

// Removes the regular file entry of the folder when its lock can be taken
// and the name still names the locked file: its writer has ended.
void RemoveIfAbandoned(int folder, const char* entry) {
  struct stat named, opened;
  if (fstatat(folder, entry, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)) return;
  // Some network file systems lock only files open for writing.
  const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = openat(folder, entry, O_RDWR | flags);
  if (fd < 0 && errno == EACCES) fd = openat(folder, entry, O_RDONLY | flags);
  if (fd < 0) return;
  if (fstat(fd, &opened) == 0 && SameFile(opened, named) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      fstatat(folder, entry, &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(opened, named))
    unlinkat(folder, entry, 0);
  close(fd);
}

std::atomic<void (*)(void*, const char*)> g_waitNotice{nullptr};
std::atomic<void*> g_waitUser{nullptr};

// How long a set waits for another's folder lock before the notice: tries
// a hundredth of a second apart for a second, then a tenth apart.
const int kNoticeSteps = 100;
const long kStepNanoseconds = 10000000, kLongStepNanoseconds = 100000000;

// Takes the lock of the folder open as fd, telling the notice (when set)
// once it has waited a moment for another set. Tried rather than waited
// for, so an ending signal is taken between tries. A folder that cannot be
// locked is passed as locked.
void LockFolder(int fd, const char* folder) {
  for (int i = 0;; ++i) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR)) return;
    if (i == kNoticeSteps)
      if (void (*notice)(void*, const char*) = g_waitNotice.load()) notice(g_waitUser.load(), folder);
    const struct timespec step = {0, i < kNoticeSteps ? kStepNanoseconds : kLongStepNanoseconds};
    nanosleep(&step, nullptr);
  }
}

// Locks the folders of a set while alive: each once, however named, and
// in the order of their identities, so that two sets never wait on each
// other. Nothing allocates once a lock is taken; without memory for the
// list none is taken (Taken false).
class FolderLocks {
 public:
  explicit FolderLocks(const std::vector<std::string>& folders) {
    struct Opened {
      std::pair<dev_t, ino_t> id;
      int fd;
      const char* name;
      bool operator<(const Opened& o) const { return id < o.id; }
    };
    std::vector<Opened> opened;
    try {
      opened.reserve(folders.size());
      m_fds.reserve(folders.size());
    } catch (const std::bad_alloc&) {
      return;
    }
    for (const std::string& f : folders) {
      const int fd = open(f.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      struct stat st;
      if (fd >= 0 && fstat(fd, &st) == 0)
        opened.push_back({{st.st_dev, st.st_ino}, fd, f.c_str()});
      else if (fd >= 0)
        close(fd);
    }
    std::sort(opened.begin(), opened.end());
    for (size_t i = 0; i < opened.size(); ++i) {
      if (i > 0 && opened[i].id == opened[i - 1].id) {
        close(opened[i].fd);
        continue;
      }
      LockFolder(opened[i].fd, opened[i].name);
      m_fds.push_back(opened[i].fd);
    }
    m_taken = true;
  }
  ~FolderLocks() {
    for (int fd : m_fds) close(fd);
  }
  FolderLocks(const FolderLocks&) = delete;
  FolderLocks& operator=(const FolderLocks&) = delete;
  bool Taken() const { return m_taken; }

 private:
  std::vector<int> m_fds;
  bool m_taken = false;
};

// Sets reason to the system's text of the error, or leaves it empty when
// memory runs out.
void TellError(std::string& reason, int error) noexcept {
  try {
    reason = std::strerror(error);
  } catch (...) {
    reason.clear();
  }
}

// Room for ": " and the system's text of an error.
constexpr size_t kReasonRoom = 96;

// Sets reason to the target's last name (when given), ": " and the
// system's text of the error; within the room reserved it allocates
// nothing, else it may give the text alone.
void TellFailure(std::string& reason, const std::string* target, int error) noexcept {
  try {
    reason.clear();
    if (target) reason.append(*target, target->rfind('/') + 1, std::string::npos).append(": ");
    reason.append(std::strerror(error));
  } catch (...) {
    TellError(reason, error);
  }
}

}  // namespace

void CKLP_ReplaceFile::RemoveStale(const std::string& folder, const std::vector<std::string>& names) {
  std::vector<std::string> kept;
  for (const std::string& n : names) kept.push_back(KeptName(n));
  std::sort(kept.begin(), kept.end());
  RemoveStale(folder,
              [&](const std::string& name, bool) { return std::binary_search(kept.begin(), kept.end(), name); });
}

void CKLP_ReplaceFile::RemoveStale(const std::string& folder,
                                   const std::function<bool(const std::string& name, bool cut)>& wanted) {
  // Closed too when a name's allocation throws.
  const std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(folder.c_str()), closedir);
  if (!d) return;
  std::string name;
  while (dirent* e = readdir(d.get()))
    if (ParseTemporary(e->d_name, name) && wanted(name, name.size() == kNameKept))
      RemoveIfAbandoned(dirfd(d.get()), e->d_name);
}

// What throws in Begin is an allocation: it fails as the system's calls
// fail when memory runs out, and no file is left.
bool CKLP_ReplaceFile::Begin(const std::string& target, std::string& reason, bool removeStale) {
  try {
    return i_Begin(target, reason, removeStale);
  } catch (...) {
    Abandon();
    TellError(reason, ENOMEM);
    errno = ENOMEM;
    return false;
  }
}

bool CKLP_ReplaceFile::i_Begin(const std::string& target, std::string& reason, bool removeStale) {
  Abandon();
  m_committed = false;
  char real[PATH_MAX];
  m_target = realpath(target.c_str(), real) ? std::string(real) : target;
  struct stat st;
  // A link to nothing is not written through (as cp refuses), nor replaced.
  if (lstat(m_target.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    return reason = "it is a symbolic link to a file that does not exist", false;
  if (stat(m_target.c_str(), &st) == 0) {
    m_mode = st.st_mode & 07777;
  } else {
    m_mode = 0666 & ~CreationMask();
  }
  const std::string folder = FolderOf(m_target), name = LastName(m_target);
  if (removeStale) RemoveStale(folder, {name});
  const std::string pattern =
      folder + "/." + KeptName(name) + kMark + std::to_string(static_cast<long>(getpid())) + ".XXXXXX";
  // The file's name is kept without an allocation once the file exists.
  m_temp.reserve(pattern.size());
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  m_fd = MakeListed(buf, m_node);
  if (m_fd < 0) return reason = std::strerror(errno), false;
  m_temp = buf.data();
  return true;
}

void CKLP_ReplaceFile::i_Forget() {
  if (m_node) Release(m_node);
  m_node = nullptr;
  m_temp.clear();
  // After the rename or the removal: the lock guarded the name until then.
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

bool CKLP_ReplaceFile::KeepEnding(int signal) {
  // Asked before it looks, as CommitSet marks before it looks: one of the
  // two sees the other.
  g_asked.store(signal);
  return g_placing.load() != 0;
}

int CKLP_ReplaceFile::PlacingTold() {
  g_placing.store(0);
  return g_asked.load();
}

void CKLP_ReplaceFile::RemoveTemporaries() {
  g_ending.store(1);
  const struct timespec pause = {0, 1000000};
  // A set being renamed into place takes a few renames to finish.
  for (int wait = 0; wait < 5000 && g_committing.load() > 0; ++wait) nanosleep(&pause, nullptr);
  for (CKLP_TempNode* n = g_head.load(); n; n = n->next) {
    // A file being made on another thread is listed within moments, but a
    // thread among hundreds on a loaded machine may wait long for its turn.
    for (int wait = 0; wait < 20000 && n->state.load() == CKLP_TempNode::kMaking; ++wait) nanosleep(&pause, nullptr);
    if (n->state.load() == CKLP_TempNode::kListed) unlink(n->name);
  }
}

bool CKLP_ReplaceFile::Finish(std::string& reason) {
  if (m_temp.empty()) return reason = "nothing was written", false;
  if ((fsync(m_fd) != 0 && errno != EINVAL) || fchmod(m_fd, m_mode) != 0) {
    reason = std::strerror(errno);
    Abandon();
    return false;
  }
  return true;
}

bool CKLP_ReplaceFile::Commit(std::string& reason) {
  if (!Finish(reason)) return false;
  if (rename(m_temp.c_str(), m_target.c_str()) != 0) {
    reason = std::strerror(errno);
    Abandon();
    return false;
  }
  m_committed = true;
  i_Forget();
  try {
    SyncPath(FolderOf(m_target), O_RDONLY | O_DIRECTORY);
  } catch (...) {  // the folder's name: it stays unsynced, as when its sync fails
  }
  return true;
}

void CKLP_ReplaceFile::SetWaitNotice(void (*notice)(void* user, const char* folder), void* user) {
  g_waitNotice.store(nullptr);
  g_waitUser.store(user);
  g_waitNotice.store(notice);
}

// A target no rename can replace (a folder) is found before any rename.
bool CKLP_ReplaceFile::CommitSet(CKLP_ReplaceFile* files, size_t count, std::string& reason,
                                 const std::function<void()>& placed) {
  int failure = 0;
  size_t failedAt = count;
  for (size_t i = 0; i < count && !failure; ++i) {
    struct stat st;
    if (!files[i].m_temp.empty() && stat(files[i].m_target.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      failure = EISDIR, failedAt = i;
  }
  std::vector<std::string> folders;
  try {
    size_t longest = 0;
    for (size_t i = 0; i < count && !failure; ++i) {
      std::string f = FolderOf(files[i].m_target);
      if (files[i].m_temp.empty()) continue;
      longest = std::max(longest, files[i].m_target.size());
      if (folders.empty() || folders.back() != f) folders.push_back(std::move(f));
    }
    // The reason is made without an allocation once a rename is made.
    reason.reserve(longest + kReasonRoom);
  } catch (const std::bad_alloc&) {
    failure = ENOMEM;
    folders.clear();
  }
  {
    // Taken before the signals are held back: an interrupt may end a wait.
    const FolderLocks locks(folders);
    if (!failure && !locks.Taken()) failure = ENOMEM;
    {
      HoldEnding hold;
      g_committing.fetch_add(1);
      // From here an ending signal is kept (KeepEnding) until the run has
      // told what it placed. One asked for before gives up: a handler that
      // ran already has removed temporaries of the set.
      g_placing.store(1);
      if (!failure && (g_ending.load() || g_asked.load())) failure = EINTR;
      for (size_t i = 0; i < count && !failure; ++i) {
        CKLP_ReplaceFile& f = files[i];
        if (f.m_temp.empty()) continue;
        if (rename(f.m_temp.c_str(), f.m_target.c_str()) != 0) {
          failure = errno, failedAt = i;
          break;
        }
        f.m_committed = true;
        f.i_Forget();
      }
      g_committing.fetch_sub(1);
    }
    if (!failure && placed) placed();
  }
  if (failure) TellFailure(reason, failedAt < count ? &files[failedAt].m_target : nullptr, failure);
  for (size_t i = 0; i < count; ++i) files[i].Abandon();
  // Once renamed the set stands: a folder whose name finds no memory stays
  // unsynced, as one whose sync fails.
  try {
    std::string synced;
    for (size_t i = 0; i < count; ++i) {
      const std::string folder = FolderOf(files[i].m_target);
      if (files[i].m_committed && folder != synced) SyncPath(synced = folder, O_RDONLY | O_DIRECTORY);
    }
  } catch (...) {
  }
  return failure == 0;
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
  if (!ok) return reason = std::strerror(saved), errno = saved, false;
  return file.Commit(reason);
}
