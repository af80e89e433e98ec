// Files of the host program. Reads take whole regular files and say the
// system's reason when they cannot; writes replace a file all or nothing
// (CKLT_ReplaceFile). Nothing here throws but an allocation.
//
// Limits: files below 2 GiB (the image readers' limit).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class CKLT_FileAccess {
 public:
  // Reads a whole regular file. False with the reason ("No such file or
  // directory", "is a folder", ...) in reason.
  static bool ReadAll(const std::string& path, std::vector<uint8_t>& out, std::string& reason);
  // True when path names something (a file, a folder, a link).
  static bool Exists(const std::string& path);
  // Whether path can be created or replaced: it is no folder and its
  // folder exists and may be written. False with the reason.
  static bool CanWrite(const std::string& path, std::string& reason);
  // The system's text for an errno value.
  static std::string Reason(int error);
};

// Replaces a file all or nothing: the new content goes to a temporary file
// beside the target, which is flushed to the disk and renamed over the
// target only once complete; otherwise it is removed and the old file
// stays as it was, byte for byte. A symbolic link is followed, so the file
// it names is replaced and the link kept. A replaced file keeps its mode;
// a new one gets the mode a plain creation would give.
class CKLT_ReplaceFile {
 public:
  CKLT_ReplaceFile() {}
  ~CKLT_ReplaceFile() { Abandon(); }
  CKLT_ReplaceFile(const CKLT_ReplaceFile&) = delete;
  CKLT_ReplaceFile& operator=(const CKLT_ReplaceFile&) = delete;

  // Makes the temporary file. False with the reason.
  bool Begin(const std::string& target, std::string& reason);
  // Where to write the new content (empty before Begin).
  const std::string& TempPath() const { return m_temp; }
  // Flushes the temporary file to the disk and renames it over the target.
  // False with the reason (the temporary file is then removed).
  bool Commit(std::string& reason);
  // Removes the temporary file (nothing when there is none).
  void Abandon();

  // Begin, the bytes, Commit.
  static bool WriteAll(const std::string& target, const std::vector<uint8_t>& bytes, std::string& reason);

 private:
  std::string m_target;
  std::string m_temp;
  mode_t m_mode = 0;
};
