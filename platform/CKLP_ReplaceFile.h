// Replaces a file all or nothing: the new content goes to a temporary file
// beside the target, which is flushed to the disk and renamed over the
// target only once complete; otherwise it is removed and the old file
// stays as it was, byte for byte. A symbolic link is followed, so the file
// it names is replaced and the link kept; a link to nothing is refused. A replaced file keeps its mode;
// a new one gets the mode a plain creation would give. Reasons are the
// system's texts.
//
// A set of files is replaced together: each is written and finished, then
// CommitSet renames them into place one after another with the ending
// signals held back, so an interrupt either finds no file renamed or lets
// the renames finish first (and, through KeepEnding, lets the program tell
// what it placed). CommitSet locks the set's folders across its
// renames: sets committed into one folder at once are placed one after
// the other, the later one whole; a set that waits a second for another
// says so through the wait notice, and an ending signal still ends the
// wait. A folder the file system cannot lock (some network folders) is
// not kept apart so.
//
// Temporary names are "." + the target's name + ".tsr-tmp." + the writing
// process's id + "." + six characters: random bits and a check of the name
// before them, so a file a person named alike is not taken for a
// temporary (its check fails but for one name in 32768). Every temporary
// that exists is listed where a signal handler can remove it, without
// limit on their number; once the handler has run, no new temporary is
// made. The writer
// holds a lock on its temporary from Begin until it is renamed or removed;
// a temporary is stale only when its lock can be taken: a writer in
// another process id namespace, or on another machine sharing the folder,
// keeps its temporaries whatever its process id says here. Stale ones are
// removed by the next run that writes their target. A file system that
// cannot lock keeps every temporary.
//
// Cost: a node of about the name's length a temporary that exists at once
// (kept for reuse), and an open descriptor a temporary until it is renamed
// or removed; Begin reads the target's folder once. When descriptors run
// short, Begin raises the process's soft limit of open files to its hard
// limit; past that, Begin fails ("Too many open files") with a few
// descriptors still free, so a set larger than the limit fails cleanly.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
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
  [[nodiscard]] bool Begin(const std::string& target, std::string& reason, bool removeStale = true);
  // Where to write the new content (empty before Begin). Open it without
  // creating it ("r+b", O_WRONLY without O_CREAT): once an interrupt has
  // removed it, a writer still running must not make it again.
  const std::string& TempPath() const { return m_temp; }
  // The file that Commit replaces, links resolved.
  const std::string& Target() const { return m_target; }
  // Flushes the temporary file to the disk and gives it the target's mode,
  // ready to be renamed. False with the reason (the temporary is removed).
  [[nodiscard]] bool Finish(std::string& reason);
  // Finish, then renames the temporary file over the target. False with
  // the reason (the temporary file is then removed).
  [[nodiscard]] bool Commit(std::string& reason);
  // Whether Commit or CommitSet put this file in place.
  bool Committed() const { return m_committed; }
  // Removes the temporary file (nothing when there is none).
  void Abandon();

  // Renames the finished temporaries of files[0..count) over their targets
  // in order (objects without one are passed over). An ending signal seen
  // before the first rename gives up: nothing is replaced. False with the
  // reason; after a failed rename the files renamed before stay in place
  // (Committed) and every other temporary is removed. Throws nothing
  // (ENOMEM before any rename when memory runs out). placed, when given,
  // runs once every file is renamed, before the folders' locks are
  // released: what it sees of them is this set placed over what earlier
  // sets left, before any later set; it must throw nothing.
  [[nodiscard]] static bool CommitSet(CKLP_ReplaceFile* files, size_t count, std::string& reason,
                        const std::function<void()>& placed = std::function<void()>());
  // Called on the committing thread, with user and the folder's name,
  // when CommitSet has waited a second for another set's lock on a folder;
  // it waits on. Null (the default) says nothing. Process-wide.
  static void SetWaitNotice(void (*notice)(void* user, const char* folder), void* user);

  // Begin, the bytes, Commit; false with the reason and errno.
  [[nodiscard]] static bool WriteAll(const std::string& target, const std::vector<uint8_t>& bytes, std::string& reason);

  // Removes, in folder, the stale temporaries of the named files (last
  // names).
  static void RemoveStale(const std::string& folder, const std::vector<std::string>& names);
  // The same for the targets wanted says yes to. It is given the name kept
  // in the temporary's, and whether that may be the start of a longer name
  // (the first 231 bytes are kept).
  static void RemoveStale(const std::string& folder,
                          const std::function<bool(const std::string& name, bool cut)>& wanted);

  // Removes every temporary file that is being written, of every object,
  // and makes every later Begin fail (EINTR). Safe in a signal handler (no
  // lock, no allocation): a program that ends on a signal calls it so that
  // no hidden file is left behind. It waits for a set being renamed into
  // place to be complete.
  static void RemoveTemporaries();

  // For a program's handler of the ending signals: true when a set's
  // renames have begun (CommitSet) and the run has not yet told what it
  // placed (PlacingTold): the signal is kept and the handler returns, so
  // the run can name the files placed before it ends on the signal. False
  // otherwise: the handler removes the temporaries and ends. Safe in a
  // signal handler. A program whose handler keeps signals calls
  // PlacingTold after each CommitSet, placed or not.
  static bool KeepEnding(int signal);
  // Ends what KeepEnding keeps for; the signal kept (0 for none).
  static int PlacingTold();

 private:
  [[nodiscard]] bool i_Begin(const std::string& target, std::string& reason, bool removeStale);
  void i_Forget();

  std::string m_target;
  std::string m_temp;
  mode_t m_mode = 0;
  int m_fd = -1;  // the temporary, locked while open
  bool m_committed = false;
  CKLP_TempNode* m_node = nullptr;  // the object's entry among the temporaries that exist
};
