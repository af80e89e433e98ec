#include <gtest/gtest.h>

#include <random>

#include "CKLT_FileAccess.h"
#include "support/TestSupport.h"

namespace {

std::vector<uint8_t> Copy(const CKLT_FileAccess::Bytes& b) { return std::vector<uint8_t>(b.data(), b.data() + b.size()); }

// Files of a few chunks with a ragged tail, one of exactly one chunk, a
// small and an empty one: read side by side on any thread count, the bytes
// are those of the file, as the one-piece read gives them.
TEST(FileAccess, SideBySideReadGivesTheFilesBytesOnAnyThreadCount) {
  klftest::TempDir dir;
  std::mt19937 rng(3);
  for (size_t size : {size_t(0), size_t(5), size_t(4) << 20, (size_t(9) << 20) + 12345}) {
    std::vector<uint8_t> want(size);
    for (uint8_t& v : want) v = static_cast<uint8_t>(rng());
    const std::string path = dir.File("f" + std::to_string(size));
    ASSERT_TRUE(klftest::WriteFileBytes(path, want));
    std::string reason;
    std::vector<uint8_t> whole;
    ASSERT_TRUE(CKLT_FileAccess::ReadAll(path, whole, reason)) << reason;
    EXPECT_EQ(whole, want);
    for (uint32_t threads : {1u, 2u, 3u, 8u}) {
      CKLT_FileAccess::Bytes got;
      ASSERT_TRUE(CKLT_FileAccess::ReadAllSideBySide(path, threads, got, reason)) << reason;
      EXPECT_EQ(got.size(), size);
      EXPECT_TRUE(Copy(got) == want) << size << " bytes on " << threads << " threads";
    }
  }
}

// What cannot be read is refused with the system's reason, and what was
// held before is let go, on one thread and on several.
TEST(FileAccess, SideBySideReadRefusesWhatTheOnePieceReadRefuses) {
  klftest::TempDir dir;
  const std::string old = dir.File("old");
  ASSERT_TRUE(klftest::WriteFileBytes(old, {1, 2, 3}));
  const std::pair<std::string, std::string> cases[] = {{dir.File("missing"), "No such file or directory"},
                                                       {dir.Path(), "is a folder, not a file"},
                                                       {"/dev/null", "is a character device"}};
  for (uint32_t threads : {1u, 4u}) {
    for (const auto& c : cases) {
      std::string reason;
      CKLT_FileAccess::Bytes got;
      ASSERT_TRUE(CKLT_FileAccess::ReadAllSideBySide(old, threads, got, reason));
      EXPECT_FALSE(CKLT_FileAccess::ReadAllSideBySide(c.first, threads, got, reason));
      EXPECT_EQ(reason, c.second);
      EXPECT_EQ(got.size(), 0u);
      std::vector<uint8_t> whole = {9};
      std::string wholeReason;
      EXPECT_FALSE(CKLT_FileAccess::ReadAll(c.first, whole, wholeReason));
      EXPECT_EQ(wholeReason, reason);
      EXPECT_TRUE(whole.empty());
    }
  }
}

}  // namespace
