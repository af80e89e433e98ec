#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CKLP_ReplaceFile.h"
#include "support/TestSupport.h"

// New files made on several threads at once get the mode a plain creation
// gives, and the process's creation mask stays as it was.
TEST(ReplaceFile, NewFilesOnManyThreadsKeepTheCreationMask) {
  klftest::TempDir dir;
  const mode_t before = umask(027);
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        std::string reason;
        const std::string path = dir.File("f" + std::to_string(t) + "_" + std::to_string(i));
        if (!CKLP_ReplaceFile::WriteAll(path, {1, 2, 3}, reason)) ++failures[t];
      }
    });
  for (std::thread& t : threads) t.join();
  const mode_t after = umask(before);
  EXPECT_EQ(after, 027u);
  EXPECT_EQ(failures, std::vector<int>(8, 0));
  for (int t = 0; t < 8; ++t)
    for (int i = 0; i < 40; ++i) {
      struct stat st;
      ASSERT_EQ(stat(dir.File("f" + std::to_string(t) + "_" + std::to_string(i)).c_str(), &st), 0);
      ASSERT_EQ(st.st_mode & 0777, 0640u) << t << " " << i;
    }
}

namespace {

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// The id of a process that has ended.
pid_t DeadProcess() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status = 0;
  waitpid(pid, &status, 0);
  return pid;
}

// Runs body in a child process (whose signal state it may change) and
// returns its exit code.
template <class F>
int InChild(F body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

}  // namespace

// Temporaries a killed run left beside a target are removed by the next
// write of that target (or of a set holding it); those of a live process,
// of this one and of other targets stay.
TEST(ReplaceFile, StaleTemporariesOfEndedRunsAreRemoved) {
  klftest::TempDir dir;
  const std::string dead = std::to_string(DeadProcess()), self = std::to_string(getpid());
  const std::vector<std::string> kept = {".t.png.tsr-tmp." + self + ".Ab12Cd", ".t.png.tsr-tmp.1.Ab12Cd",
                                         ".u.png.tsr-tmp." + dead + ".Ab12Cd", ".t.png.tmp." + dead + ".Ab12Cd"};
  const std::vector<std::string> stale = {".t.png.tsr-tmp." + dead + ".Ab12Cd", ".t.png.tsr-tmp." + dead + ".zzzzzz"};
  for (const std::string& n : kept) ASSERT_TRUE(klftest::WriteFileBytes(dir.File(n), {1}));
  for (const std::string& n : stale) ASSERT_TRUE(klftest::WriteFileBytes(dir.File(n), {2}));
  std::string reason;
  ASSERT_TRUE(CKLP_ReplaceFile::WriteAll(dir.File("t.png"), {3}, reason)) << reason;
  std::vector<std::string> want = kept;
  want.push_back("t.png");
  std::sort(want.begin(), want.end());
  EXPECT_EQ(Names(dir.Path()), want);

  // A set sweeps its folder once for all its names.
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File(".v.png.tsr-tmp." + dead + ".Ab12Cd"), {2}));
  CKLP_ReplaceFile::RemoveStale(dir.Path(), {"v.png", "u.png"});
  want.erase(std::find(want.begin(), want.end(), ".u.png.tsr-tmp." + dead + ".Ab12Cd"));
  EXPECT_EQ(Names(dir.Path()), want);
}

// The handler's cleanup removes every temporary that exists, however many
// threads made them, and no temporary is made after it.
TEST(ReplaceFile, CleanupRemovesEveryTemporaryAndStopsNewOnes) {
  klftest::TempDir dir;
  const int code = InChild([&] {
    std::vector<std::thread> threads;
    std::vector<CKLP_ReplaceFile> files(64 * 8);
    std::atomic<int> made{0};
    for (int t = 0; t < 64; ++t)
      threads.emplace_back([&, t] {
        std::string reason;
        for (int i = 0; i < 8; ++i) made += files[t * 8 + i].Begin(dir.File("f" + std::to_string(t * 8 + i)), reason);
      });
    for (std::thread& t : threads) t.join();
    if (made != 512 || Names(dir.Path()).size() != 512) return 1;
    CKLP_ReplaceFile::RemoveTemporaries();
    if (!Names(dir.Path()).empty()) return 2;
    CKLP_ReplaceFile late;
    std::string reason;
    if (late.Begin(dir.File("late"), reason) || !Names(dir.Path()).empty()) return 3;
    return 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(Names(dir.Path()).empty());
}
