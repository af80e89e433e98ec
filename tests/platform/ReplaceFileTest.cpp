#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "CKLP_ReplaceFile.h"
#include "support/AbandonedTemporaries.h"
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

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

// Temporaries a killed run left beside a target are removed by the next
// write of that target (or of a set holding it); those of a live writer,
// of other targets, and names a writer does not make stay.
TEST(ReplaceFile, StaleTemporariesOfEndedRunsAreRemoved) {
  klftest::TempDir dir;
  const std::vector<std::string> stale = klftest::AbandonedTemporaries(dir.Path(), {"t.png", "t.png", "t.png"});
  ASSERT_EQ(stale.size(), 3u);
  const std::vector<std::string> u = klftest::AbandonedTemporaries(dir.Path(), {"u.png"});
  std::vector<std::string> kept = u;
  CKLP_ReplaceFile live;
  std::string reason;
  ASSERT_TRUE(live.Begin(dir.File("t.png"), reason, false)) << reason;
  kept.push_back(live.TempPath().substr(dir.Path().size() + 1));
  for (const std::string& n : std::vector<std::string>{".t.png.tmp.999999.Ab12Cd", ".t.png.tsr-tmp.999999.Ab12Cd",
                               ".t.png.tsr-tmp.999999.zzzzzz", ".t.png.tsr-tmp.999999.backup", stale[0] + ".backup"}) {
    ASSERT_TRUE(klftest::WriteFileBytes(dir.File(n), {1}));
    kept.push_back(n);
  }
  // Only a regular file is taken for a temporary.
  ASSERT_EQ(unlink(dir.File(stale[2]).c_str()), 0);
  ASSERT_EQ(mkfifo(dir.File(stale[2]).c_str(), 0600), 0);
  kept.push_back(stale[2]);
  ASSERT_TRUE(CKLP_ReplaceFile::WriteAll(dir.File("t.png"), {3}, reason)) << reason;
  kept.push_back("t.png");
  EXPECT_EQ(Names(dir.Path()), Sorted(kept));

  // A set sweeps its folder once for all its names.
  ASSERT_EQ(klftest::AbandonedTemporaries(dir.Path(), {"v.png"}).size(), 1u);
  CKLP_ReplaceFile::RemoveStale(dir.Path(), {"v.png", "u.png"});
  kept.erase(std::find(kept.begin(), kept.end(), u[0]));
  EXPECT_EQ(Names(dir.Path()), Sorted(kept));
  // Names beyond the part a temporary's name keeps are told to be cut.
  const std::string longName(240, 'n');
  const std::vector<std::string> more = klftest::AbandonedTemporaries(dir.Path(), {longName, "w.png"});
  ASSERT_EQ(more.size(), 2u);
  std::map<std::string, bool> asked;
  CKLP_ReplaceFile::RemoveStale(dir.Path(), [&](const std::string& name, bool cut) { return asked[name] = cut; });
  EXPECT_EQ(asked, (std::map<std::string, bool>{{longName.substr(0, 231), true}, {"t.png", false}, {"w.png", false}}));
  kept.push_back(more[0].rfind(".w.png", 0) == 0 ? more[0] : more[1]);
  EXPECT_EQ(Names(dir.Path()), Sorted(kept));
}

// A writer whose process id is unknown here (another process id namespace,
// another machine) keeps its temporary while it lives, and places it.
TEST(ReplaceFile, ALiveWriterKeepsItsTemporaryWhateverItsProcessId) {
  klftest::TempDir dir;
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  // The writer begins in a process that ends at once; its child carries on
  // with the writer's descriptors and places the file when told.
  const int started = InChild([&] {
    CKLP_ReplaceFile* file = new CKLP_ReplaceFile;
    std::string reason;
    if (!file->Begin(dir.File("w.png"), reason) || !klftest::WriteFileBytes(file->TempPath(), {7})) return 1;
    if (fork() == 0) {
      close(go[1]);
      char c = 0;
      _exit(read(go[0], &c, 1) == 0 && file->Commit(reason) ? 0 : 2);
    }
    return 0;
  });
  ASSERT_EQ(started, 0);
  close(go[0]);
  const std::vector<std::string> writing = Names(dir.Path());
  ASSERT_EQ(writing.size(), 1u);
  std::string reason;
  ASSERT_TRUE(CKLP_ReplaceFile::WriteAll(dir.File("w.png"), {1}, reason)) << reason;
  EXPECT_EQ(Names(dir.Path()), Sorted({writing[0], "w.png"}));
  close(go[1]);
  // The carrier is no child of this process: its file tells how it ended.
  for (int i = 0; i < 20000 && Names(dir.Path()).size() > 1; ++i) usleep(100);
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>({"w.png"}));
  EXPECT_EQ(klftest::ReadFileBytes(dir.File("w.png")), std::vector<uint8_t>({7}));
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

// Sets of many files committed into one folder by several processes at
// once are placed one after the other: every file of the folder ends up
// from one writer.
TEST(ReplaceFile, SetsCommittedAtOnceDoNotInterleave) {
  klftest::TempDir dir;
  const int writers = 4, files = 20;
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> pids;
  for (int w = 0; w < writers; ++w) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(go[1]);
      std::vector<CKLP_ReplaceFile> set(files);
      std::string reason;
      // The folder named two ways: one lock all the same.
      if (chdir(dir.Path().c_str()) != 0) _exit(1);
      for (int i = 0; i < files; ++i)
        if (!set[i].Begin((i % 2 ? "" : dir.Path() + "/") + "p_" + std::to_string(i) + ".png", reason, false) ||
            !klftest::WriteFileBytes(set[i].TempPath(), {static_cast<uint8_t>(w)}))
          _exit(1);
      char c = 0;
      // Every writer ready, then all commit at once.
      if (write(ready[1], "r", 1) != 1 || read(go[0], &c, 1) != 0) _exit(2);
      _exit(CKLP_ReplaceFile::CommitSet(set.data(), set.size(), reason) ? 0 : 3);
    }
    pids.push_back(pid);
  }
  close(ready[1]);
  close(go[0]);
  char c = 0;
  for (int w = 0; w < writers; ++w) ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(go[1]);
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  close(ready[0]);
  const std::vector<std::string> names = Names(dir.Path());
  ASSERT_EQ(names.size(), static_cast<size_t>(files)) << "no temporary left";
  const std::vector<uint8_t> first = klftest::ReadFileBytes(dir.File(names[0]));
  for (const std::string& n : names) EXPECT_EQ(klftest::ReadFileBytes(dir.File(n)), first) << n;
}

// A temporary holds a descriptor until it is placed: a set larger than the
// soft limit of open files raises it; one larger than the hard limit fails
// with the system's reason and leaves no temporary.
TEST(ReplaceFile, SetsBeyondTheDescriptorLimit) {
  // Without privilege the hard limit can only be lowered.
  struct rlimit now;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &now), 0);
  const rlim_t most = std::min<rlim_t>(4096, now.rlim_max);
  std::vector<rlim_t> hards;
  if (most >= 400) hards.push_back(most);  // room for the whole set
  if (most >= 128) hards.push_back(128);
  if (hards.empty()) GTEST_SKIP() << "a hard limit of " << most << " open files";
  klftest::TempDir dir;
  for (const rlim_t hard : hards) {
    SCOPED_TRACE(hard);
    const int code = InChild([&] {
      const struct rlimit low = {64, hard};
      if (setrlimit(RLIMIT_NOFILE, &low) != 0) return 1;
      std::vector<CKLP_ReplaceFile> set(200);
      std::string reason;
      for (size_t i = 0; i < set.size(); ++i)
        if (!set[i].Begin(dir.File(std::to_string(i)), reason)) {
          if (hard > 200 || reason != std::strerror(EMFILE) || i + 16 > hard || i < hard / 2) return 2;
          set.clear();
          // Descriptors left for the writers, and free again.
          return !Names(dir.Path()).empty() || !CKLP_ReplaceFile::WriteAll(dir.File("late"), {1}, reason) ? 3 : 10;
        }
      return CKLP_ReplaceFile::CommitSet(set.data(), set.size(), reason) ? 0 : 4;
    });
    EXPECT_EQ(code, hard > 200 ? 0 : 10);
    EXPECT_EQ(Names(dir.Path()).size(), hard > 200 ? 200u : 1u);
    std::filesystem::remove_all(dir.Path());
    std::filesystem::create_directory(dir.Path());
  }
}
