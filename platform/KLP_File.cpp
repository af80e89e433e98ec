#include "KLP_File.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const unsigned char* s, size_t n) {
  size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char t = s[i + k];
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return false;
    if (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string ChildPath(const KLP_FileRef& parent, const KLP_FileName& name) {
  std::string p = parent.Path();
  if (p.empty() || p.back() != '/') p += '/';
  p.append(name.bytes, name.length);
  return p;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Detached: a short-lived child starts the launcher and leaves at once, so
// the launcher never holds up the caller's event loop and is reaped by the
// system. Only a launcher that cannot start is a failure.
int32_t DefaultLaunch(const char* path) {
  char prog[] = "xdg-open";
  std::string arg(path);
  char* argv[] = {prog, &arg[0], nullptr};
  const pid_t child = fork();
  if (child < 0) return klpErrLaunch;
  if (child == 0) {
    setsid();
    pid_t launcher;
    _exit(posix_spawnp(&launcher, prog, nullptr, nullptr, argv, environ) == 0 ? 0 : 127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return klpErrLaunch;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? klpNoErr : klpErrLaunch;
}

KLP_LaunchHook g_launch = DefaultLaunch;

}  // namespace

int32_t KLP_FileRef::SetPath(const char* absolutePath) {
  if (!absolutePath || absolutePath[0] != '/') return klpErrParam;
  struct stat st;
  if (stat(absolutePath, &st) != 0) return klpErrNotFound;
  m_path = absolutePath;
  return klpNoErr;
}

int32_t KLP_ConvertFileName(const char* name, KLP_FileName* out) {
  if (!out) return klpErrParam;
  out->length = 0;
  if (!name || !name[0]) return klpNoErr;
  size_t n = std::strlen(name);
  if (n > klpMaxNameBytes) return klpErrBadName;
  if (std::memchr(name, '/', n)) return klpErrBadName;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return klpErrBadName;
  if (!IsValidUtf8(reinterpret_cast<const unsigned char*>(name), n)) return klpErrBadName;
  std::memcpy(out->bytes, name, n);
  out->length = static_cast<uint32_t>(n);
  return klpNoErr;
}

int32_t KLP_RefMakePath(const KLP_FileRef& ref, char* buf, uint32_t max) {
  if (!buf || !ref.IsSet()) return klpErrParam;
  const std::string& p = ref.Path();
  if (p.size() + 1 > max) return klpErrParam;
  std::memcpy(buf, p.c_str(), p.size() + 1);
  return klpNoErr;
}

int32_t KLP_MakeChildRef(const KLP_FileRef& parent, const KLP_FileName& name, KLP_FileRef* out) {
  if (!out || !parent.IsSet()) return klpErrParam;
  if (name.length == 0 || name.length > klpMaxNameBytes) return klpErrBadName;
  if (!IsFolder(parent.Path())) return klpErrNotFound;
  std::string path = ChildPath(parent, name);
  return out->SetPath(path.c_str());
}

int32_t KLP_ChildPath(const KLP_FileRef& parent, const KLP_FileName& name, std::string* out) {
  if (!out || !parent.IsSet()) return klpErrParam;
  if (name.length == 0 || name.length > klpMaxNameBytes) return klpErrBadName;
  *out = ChildPath(parent, name);
  return klpNoErr;
}

int32_t KLP_SplitPath(const char* path, KLP_FileRef* folder, KLP_FileName* name) {
  if (!path || path[0] != '/' || !folder || !name) return klpErrParam;
  const std::string p(path);
  const size_t slash = p.rfind('/');
  const int32_t checked = KLP_ConvertFileName(p.c_str() + slash + 1, name);
  if (checked != klpNoErr) return checked;
  if (name->length == 0) return klpErrBadName;
  return folder->SetPath(slash == 0 ? "/" : p.substr(0, slash).c_str());
}

bool KLP_IsFolder(const KLP_FileRef& ref) { return ref.IsSet() && IsFolder(ref.Path()); }

int32_t KLP_CreateFile(const KLP_FileRef& parent, const KLP_FileName& name, KLP_FileRef* out) {
  if (!parent.IsSet()) return klpErrParam;
  if (name.length == 0 || name.length > klpMaxNameBytes) return klpErrBadName;
  if (!IsFolder(parent.Path())) return klpErrNotFound;
  std::string path = ChildPath(parent, name);
  // The reference's copy is made first: an allocation that fails leaves
  // no file behind.
  std::string kept(out ? path : std::string());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? klpErrExists : klpErrIO;
  if (close(fd) != 0) return klpErrIO;
  if (out) out->m_path.swap(kept);
  return klpNoErr;
}

int32_t KLP_LaunchFile(const KLP_FileRef& ref) {
  if (!ref.IsSet()) return klpErrParam;
  return g_launch(ref.Path().c_str());
}

int32_t KLP_LaunchURL(const char* url) {
  if (!url) return klpErrParam;
  static const char* const kSchemes[] = {"http://", "https://", "ftp://", "mailto:"};
  size_t scheme = 0;
  for (const char* s : kSchemes)
    if (strncasecmp(url, s, std::strlen(s)) == 0) scheme = std::strlen(s);
  const size_t n = std::strlen(url);
  if (!scheme || n == scheme) return klpErrParam;
  for (size_t i = 0; i < n; ++i)
    if (url[i] <= ' ' || url[i] > '~') return klpErrParam;
  return g_launch(url);
}

KLP_LaunchHook KLP_SetLaunchHook(KLP_LaunchHook hook) {
  KLP_LaunchHook old = g_launch;
  g_launch = hook ? hook : DefaultLaunch;
  return old;
}
