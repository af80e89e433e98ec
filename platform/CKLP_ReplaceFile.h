// Replaces a file all or nothing: the new content goes to a temporary file
// beside the target, which is flushed to the disk and renamed over the
// target only once complete; otherwise it is removed and the old file
// stays as it was, byte for byte. A symbolic link is followed, so the file
// it names is replaced and the link kept. A replaced file keeps its mode;
// a new one gets the mode a plain creation would give. Reasons are the
// system's texts.
//
// A set of files is replaced together: each is written and finished, then
// CommitSet renames them into place one after another with the ending
// signals held back, so an interrupt either finds no file renamed or lets
// the renames finish first.
//
// Temporary names are "." + the target's name + ".tsr-tmp." + the writing
// process's id + "." + six random characters. Every temporary that exists
// is listed where a signal handler can remove it, without limit on their
// number; once the handler has run, no new temporary is made. Temporaries
// a killed run left behind (their process no longer alive) are removed by
// the next run that writes their target.
//
// Cost: a node of about the name's length a temporary that exists at once
// (kept for reuse); Begin reads the target's folder once.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CKLP_TempNode;

class CKLP_ReplaceFile {
 public:
  CKLP_ReplaceFile() {}
  ~CKLP_ReplaceFile() { Abandon(); }
  CKLP_ReplaceFile(const CKLP_ReplaceFile&) = delete;
  CKLP_ReplaceFile& operator=(const CKLP_ReplaceFile&) = delete;

  // Makes the temporary file (empty, in the target's folder), first
  // removing the target's stale temporaries unless removeStale is false
  // (RemoveStale did it for a whole set). False with the reason and errno
  // (ENOMEM when memory ran out); throws nothing.
  bool Begin(const std::string& target, std::string& reason, bool removeStale = true);
  // Where to write the new content (empty before Begin). Open it without
  // creating it ("r+b", O_WRONLY without O_CREAT): once an interrupt has
  // removed it, a writer still running must not make it again.
  const std::string& TempPath() const { return m_temp; }
  // The file that Commit replaces, links resolved.
  const std::string& Target() const { return m_target; }
  // Flushes the temporary file to the disk and gives it the target's mode,
  // ready to be renamed. False with the reason (the temporary is removed).
  bool Finish(std::string& reason);
  // Finish, then renames the temporary file over the target. False with
  // the reason (the temporary file is then removed).
  bool Commit(std::string& reason);
  // Whether Commit or CommitSet put this file in place.
  bool Committed() const { return m_committed; }
  // Removes the temporary file (nothing when there is none).
  void Abandon();

  // Renames the finished temporaries of files[0..count) over their targets
  // in order (objects without one are passed over). An ending signal seen
  // before the first rename gives up: nothing is replaced. False with the
  // reason; after a failed rename the files renamed before stay in place
  // (Committed) and every other temporary is removed.
  static bool CommitSet(CKLP_ReplaceFile* files, size_t count, std::string& reason);

  // Begin, the bytes, Commit; false with the reason and errno.
  static bool WriteAll(const std::string& target, const std::vector<uint8_t>& bytes, std::string& reason);

  // Removes, in folder, the temporaries of the named files (last names)
  // whose process is no longer alive. A process id in use again keeps its
  // file until a later run.
  static void RemoveStale(const std::string& folder, const std::vector<std::string>& names);

  // Removes every temporary file that is being written, of every object,
  // and makes every later Begin fail (EINTR). Safe in a signal handler (no
  // lock, no allocation): a program that ends on a signal calls it so that
  // no hidden file is left behind. It waits for a set being renamed into
  // place to be complete.
  static void RemoveTemporaries();

 private:
  bool i_Begin(const std::string& target, std::string& reason, bool removeStale);
  void i_Forget();

  std::string m_target;
  std::string m_temp;
  mode_t m_mode = 0;
  bool m_committed = false;
  CKLP_TempNode* m_node = nullptr;  // the object's entry among the temporaries that exist
};
