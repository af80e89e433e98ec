// File and folder references on the host platform (Linux paths here).
// A reference holds the absolute path of an existing file or folder; names
// inside a folder are UTF-8, at most 255 bytes, without "/" and neither "."
// nor "..". Opening a document in the desktop's default application goes
// through a replaceable hook (xdg-open by default) so tests never launch
// anything. Every operation costs a few system calls; nothing is cached.
//
// Status values follow the platform convention: 0 success, negative codes
// below on failure.
#pragma once

#include <cstdint>
#include <string>

enum KLP_Status : int32_t {
  klpNoErr = 0,
  klpErrIO = -36,        // the system refused the operation
  klpErrBadName = -37,   // empty, too long, "/" inside, ".", "..", not UTF-8
  klpErrNotFound = -43,  // no such file or folder
  klpErrExists = -48,    // the file to create exists already
  klpErrParam = -50,     // missing or unusable argument
  klpErrLaunch = -10810  // the launcher could not be started or failed
};

// Longest name inside a folder, in bytes.
constexpr uint32_t klpMaxNameBytes = 255;

struct KLP_FileName;

class KLP_FileRef {
 public:
  KLP_FileRef() {}

  // False for an empty reference.
  bool IsSet() const { return !m_path.empty(); }
  const std::string& Path() const { return m_path; }

  // Takes an absolute path of an existing file or folder (no check that it
  // still exists later). klpErrParam for a relative path, klpErrNotFound when
  // nothing is there.
  [[nodiscard]] int32_t SetPath(const char* absolutePath);
  void Clear() { m_path.clear(); }

 private:
  friend int32_t KLP_CreateFile(const KLP_FileRef& parent, const KLP_FileName& name, KLP_FileRef* out);
  std::string m_path;
};

// A converted file name: UTF-8 bytes, not NUL-terminated inside the record.
struct KLP_FileName {
  uint32_t length;
  char bytes[klpMaxNameBytes];
};

// Checks a folder entry name (see the head comment) and copies it into out.
// An empty name gives length 0 and klpNoErr so callers can tell "nothing
// given" from a bad name; the reference operations refuse it.
[[nodiscard]] int32_t KLP_ConvertFileName(const char* name, KLP_FileName* out);

// The path of ref into buf of max bytes including the NUL: klpErrParam when
// it does not fit or ref is empty.
[[nodiscard]] int32_t KLP_RefMakePath(const KLP_FileRef& ref, char* buf, uint32_t max);

// A reference to an existing entry of a folder (klpErrNotFound when missing).
[[nodiscard]] int32_t KLP_MakeChildRef(const KLP_FileRef& parent, const KLP_FileName& name, KLP_FileRef* out);

// The path of a name inside a folder, whether or not the folder holds it:
// klpErrParam for an empty folder, klpErrBadName for an empty name.
[[nodiscard]] int32_t KLP_ChildPath(const KLP_FileRef& parent, const KLP_FileName& name, std::string* out);

// Splits an absolute path into its folder (which must exist) and its last
// name, checked as above.
[[nodiscard]] int32_t KLP_SplitPath(const char* path, KLP_FileRef* folder, KLP_FileName* name);

// Whether the reference names a folder (false when empty or missing).
bool KLP_IsFolder(const KLP_FileRef& ref);

// Creates an empty file in a folder, exclusively: klpErrExists when an entry
// of that name is there. out (may be null) receives the new file.
[[nodiscard]] int32_t KLP_CreateFile(const KLP_FileRef& parent, const KLP_FileName& name, KLP_FileRef* out);

// Opens the file in the desktop's default application. The default
// launcher runs detached and is never waited for: klpErrLaunch only when it
// cannot start.
[[nodiscard]] int32_t KLP_LaunchFile(const KLP_FileRef& ref);

// Opens a web or mail link in the desktop's default application through
// the same launcher. Only "http://", "https://", "ftp://" and "mailto:"
// links of printable ASCII without blanks are taken (klpErrParam for any
// other), so a link can never read as an option or name a local program.
[[nodiscard]] int32_t KLP_LaunchURL(const char* url);

// The launcher: given the absolute path (or a link), returns a status. Setting null
// restores the default (xdg-open); the previous hook is returned.
typedef int32_t (*KLP_LaunchHook)(const char* path);
KLP_LaunchHook KLP_SetLaunchHook(KLP_LaunchHook hook);
