// Files of the host program. Reads take whole regular files and say the
// system's reason when they cannot; writes replace a file all or nothing
// through CKLP_ReplaceFile. Nothing here throws but an allocation.
//
// Limits: files below 2 GiB (the image readers' limit).
#pragma once

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
  // Whether path can be created or replaced: it is no folder, no file that
  // may not be written (or has no write permission at all), and its folder
  // exists and may be written. False with the reason.
  static bool CanWrite(const std::string& path, std::string& reason);
  // The system's text for an errno value.
  static std::string Reason(int error);
};
