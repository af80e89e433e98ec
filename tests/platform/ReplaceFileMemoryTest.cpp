#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CKLP_ReplaceFile.h"
#include "FailingAllocations.h"
#include "support/TestSupport.h"

namespace {

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
  return out;
}

}  // namespace

// Every allocation of Begin failing in turn, the first, then the second
// and so on until none is left to fail: Begin answers ENOMEM without
// throwing and leaves no temporary behind, or makes its file as usual.
TEST(ReplaceFileMemory, BeginOutOfMemoryAtEveryAllocationFailsAndLeavesNoFile) {
  klftest::TempDir dir;
  const std::string target = dir.File("a-file-with-a-name-longer-than-a-short-string.png");
  ASSERT_TRUE(klftest::WriteFileBytes(target, {1, 2, 3}));
  // A temporary's list entry, kept for reuse, is made beforehand: the
  // allocations counted are Begin's own each time.
  {
    CKLP_ReplaceFile warm;
    std::string reason;
    ASSERT_TRUE(warm.Begin(target, reason));
  }
  uint32_t failures = 0;
  for (uint64_t after = 0;; ++after) {
    SCOPED_TRACE(after);
    CKLP_ReplaceFile file;
    std::string reason;
    bool made = false, threw = false;
    int error = 0;
    uint64_t failed = 0;
    {
      klftest::FailingAllocations failing(klftest::FailingAllocations::kAnyThread, after);
      try {
        made = file.Begin(target, reason);
        error = errno;
      } catch (...) {
        threw = true;
      }
      failed = failing.Failed();
    }
    ASSERT_FALSE(threw);
    if (made) {
      EXPECT_EQ(Names(dir.Path()).size(), 2u);
      file.Abandon();
    } else {
      ++failures;
      EXPECT_EQ(error, ENOMEM);
    }
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"a-file-with-a-name-longer-than-a-short-string.png"});
    if (failed == 0) break;
    ASSERT_LT(after, 1000u);
  }
  EXPECT_GT(failures, 3u);
  EXPECT_EQ(klftest::ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
}

namespace {

// Three files in two folders, each begun and finished with new content.
struct Set {
  const klftest::TempDir &a, &b;
  std::vector<std::string> targets{a.File("one.png"), a.File("two.png"), b.File("three.png")};
  CKLP_ReplaceFile files[3];
  Set(const klftest::TempDir& first, const klftest::TempDir& second) : a(first), b(second) {
    for (const std::string& t : targets) EXPECT_TRUE(klftest::WriteFileBytes(t, {1}));
    std::string reason;
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(files[i].Begin(targets[i], reason));
      EXPECT_TRUE(klftest::WriteFileBytes(files[i].TempPath(), {2}));
      EXPECT_TRUE(files[i].Finish(reason));
    }
  }
  // 1 or 2 when every target holds it, 0 when they differ.
  uint8_t Held() const {
    const std::vector<uint8_t> first = klftest::ReadFileBytes(targets[0]);
    for (const std::string& t : targets)
      if (klftest::ReadFileBytes(t) != first) return 0;
    return first.size() == 1 ? first[0] : 0;
  }
};

// Whether another writer could lock the folder now.
bool Unlocked(const klftest::TempDir& dir) {
  const int fd = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (fd >= 0) close(fd);
  return free;
}

}  // namespace

// Renaming into place (one file, or a set) with every allocation failing
// in turn: what throws has renamed nothing; once a rename is made the call
// answers, and the files renamed stay so. A set answers without throwing
// and leaves its folders unlocked for the next set.
TEST(ReplaceFileMemory, RenamesIntoPlaceNeverThrowOnceMade) {
  klftest::TempDir a, b;
  for (int single = 0; single < 2; ++single) {
    for (uint64_t after = 0;; ++after) {
      SCOPED_TRACE(std::to_string(single) + " " + std::to_string(after));
      Set set(a, b);
      bool threw = false, placed = false;
      uint64_t failed = 0;
      {
        std::string reason;
        klftest::FailingAllocations failing(klftest::FailingAllocations::kAnyThread, after);
        try {
          placed = single ? set.files[0].Commit(reason) : CKLP_ReplaceFile::CommitSet(set.files, 3, reason);
        } catch (...) {
          threw = true;
        }
        failed = failing.Failed();
      }
      const uint8_t now = single ? klftest::ReadFileBytes(set.targets[0]).at(0) : set.Held();
      EXPECT_EQ(now, placed && !threw ? 2 : 1) << threw;
      EXPECT_FALSE(threw && !single);
      ASSERT_TRUE(Unlocked(a) && Unlocked(b));
      for (CKLP_ReplaceFile& f : set.files) f.Abandon();
      EXPECT_EQ(Names(set.a.Path()).size(), 2u);
      EXPECT_EQ(Names(set.b.Path()).size(), 1u);
      if (failed == 0) break;
      ASSERT_LT(after, 1000u);
    }
  }
}

// A set whose last rename fails after two were made, with every allocation
// failing in turn: the call answers the failure with the renames standing.
TEST(ReplaceFileMemory, SetFailingAfterRenamesAnswersWithoutMemory) {
  klftest::TempDir a, b;
  for (uint64_t after = 0;; ++after) {
    SCOPED_TRACE(after);
    Set set(a, b);
    ASSERT_EQ(unlink(set.files[2].TempPath().c_str()), 0);
    bool threw = false, placed = true;
    uint64_t failed = 0;
    std::string reason;
    {
      klftest::FailingAllocations failing(klftest::FailingAllocations::kAnyThread, after);
      try {
        placed = CKLP_ReplaceFile::CommitSet(set.files, 3, reason);
      } catch (...) {
        threw = true;
      }
      failed = failing.Failed();
    }
    ASSERT_FALSE(threw);
    EXPECT_FALSE(placed);
    if (set.files[0].Committed()) {
      EXPECT_TRUE(set.files[1].Committed());
      EXPECT_EQ(klftest::ReadFileBytes(set.targets[1]), std::vector<uint8_t>{2});
      EXPECT_EQ(reason, std::string("three.png: ") + std::strerror(ENOENT));
    }
    EXPECT_EQ(klftest::ReadFileBytes(set.targets[2]), std::vector<uint8_t>{1});
    ASSERT_TRUE(Unlocked(a) && Unlocked(b));
    if (failed == 0) break;
    ASSERT_LT(after, 1000u);
  }
}
