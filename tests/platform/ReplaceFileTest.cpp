#include <gtest/gtest.h>
#include <sys/stat.h>

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
