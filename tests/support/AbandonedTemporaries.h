// Temporaries of the replace-file writer left behind by a process that
// ended while writing.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "CKLP_ReplaceFile.h"

namespace klftest {

// The names (sorted) of the temporaries that a child process, ending
// while it wrote the targets (names in dir), left in dir.
inline std::vector<std::string> AbandonedTemporaries(const std::string& dir, const std::vector<std::string>& targets) {
  const auto names = [&dir] {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  };
  const std::vector<std::string> before = names();
  const pid_t pid = fork();
  if (pid == 0) {
    std::string reason;
    for (const std::string& t : targets)
      if (!(new CKLP_ReplaceFile)->Begin(dir + "/" + t, reason, false)) _exit(1);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  std::vector<std::string> made;
  for (const std::string& n : names())
    if (!std::binary_search(before.begin(), before.end(), n)) made.push_back(n);
  return made;
}

}  // namespace klftest
