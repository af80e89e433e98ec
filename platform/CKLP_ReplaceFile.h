// Replaces a file all or nothing: the new content goes to a temporary file
// beside the target, which is flushed to the disk and renamed over the
// target only once complete; otherwise it is removed and the old file
// stays as it was, byte for byte. A symbolic link is followed, so the file
// it names is replaced and the link kept. A replaced file keeps its mode;
// a new one gets the mode a plain creation would give. Reasons are the
// system's texts. The temporary files that exist are listed where a signal
// handler can remove them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class CKLP_ReplaceFile {
 public:
  CKLP_ReplaceFile() {}
  ~CKLP_ReplaceFile() { Abandon(); }
  CKLP_ReplaceFile(const CKLP_ReplaceFile&) = delete;
  CKLP_ReplaceFile& operator=(const CKLP_ReplaceFile&) = delete;

  // Makes the temporary file (empty, in the target's folder). False with
  // the reason.
  bool Begin(const std::string& target, std::string& reason);
  // Where to write the new content (empty before Begin).
  const std::string& TempPath() const { return m_temp; }
  // The file that Commit replaces, links resolved.
  const std::string& Target() const { return m_target; }
  // Flushes the temporary file to the disk and renames it over the target.
  // False with the reason (the temporary file is then removed).
  bool Commit(std::string& reason);
  // Removes the temporary file (nothing when there is none).
  void Abandon();

  // Begin, the bytes, Commit.
  static bool WriteAll(const std::string& target, const std::vector<uint8_t>& bytes, std::string& reason);

  // Removes every temporary file that is being written, of every object.
  // Safe in a signal handler (no lock, no allocation): a program that ends
  // on a signal calls it so that no hidden file is left behind.
  static void RemoveTemporaries();

 private:
  void i_Forget();

  std::string m_target;
  std::string m_temp;
  mode_t m_mode = 0;
  int m_slot = -1;  // the object's entry among the temporaries that exist
};
