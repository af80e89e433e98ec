#include <gtest/gtest.h>

#include <cerrno>
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
