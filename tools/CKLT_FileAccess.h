// Files of the host program. Reads take whole regular files and say the
// system's reason when they cannot; writes replace a file all or nothing
// through CKLP_ReplaceFile. Nothing here throws but an allocation.
//
// Cost: ReadAllSideBySide reads chunks on several threads into memory that
// is not cleared first (an image file is read once, and its pages are first
// touched by the threads that fill them).
// Limits: files below 2 GiB (the image readers' limit).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CKLT_FileAccess {
 public:
  // Bytes read by ReadAllSideBySide, or a view of bytes held elsewhere.
  class Bytes {
   public:
    Bytes() = default;
    Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    const uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }
    uint8_t operator[](size_t i) const { return m_data[i]; }

   private:
    friend class CKLT_FileAccess;
    std::unique_ptr<uint8_t[]> m_own;
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
  };

  // Reads a whole regular file. False with the reason ("No such file or
  // directory", "is a folder", ...) in reason.
  [[nodiscard]] static bool ReadAll(const std::string& path, std::vector<uint8_t>& out, std::string& reason);
  // The same in chunks read side by side on threads (0: the machine's);
  // the bytes do not depend on the threads. A file that becomes shorter
  // meanwhile fails as with ReadAll. errno is ENOMEM on a failure for
  // lack of memory.
  [[nodiscard]] static bool ReadAllSideBySide(const std::string& path, uint32_t threads, Bytes& out,
                                              std::string& reason);
  // True when path names something (a file, a folder, a link).
  static bool Exists(const std::string& path);
  // Whether path can be created or replaced: it is no folder, no file that
  // may not be written (or has no write permission at all), and its folder
  // exists and may be written. False with the reason.
  static bool CanWrite(const std::string& path, std::string& reason);
  // What a path names once resolved (links followed, "..", hard links):
  // the file's device and inode when it exists, else its folder's and the
  // name it would be created under. Two paths name one file when their
  // identities are equal.
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;  // empty for a file that exists
    bool operator==(const Identity& o) const { return device == o.device && inode == o.inode && name == o.name; }
  };
  // False when neither the path nor its folder can be looked at.
  [[nodiscard]] static bool Identify(const std::string& path, Identity& out);
  // Whether path, links followed, is a regular file or names nothing.
  // False with what it is ("is a FIFO", "is a folder"...).
  [[nodiscard]] static bool RegularOrAbsent(const std::string& path, std::string& reason);
  // Whether path may be replaced by a regular file: it is absent or one
  // (through links). A link to nothing is refused, as cp refuses to write
  // through it. False with what it is and why it is not replaced.
  [[nodiscard]] static bool Replaceable(const std::string& path, std::string& reason);
  // What a file of this mode is, for a refusal ("is a FIFO", "is a folder"...).
  static std::string KindOf(mode_t mode);
  // The system's text for an errno value.
  static std::string Reason(int error);
};
