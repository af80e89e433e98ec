// The fuzz targets' seed inputs are made here from the real writers. The
// test fails when a committed seed differs from what the writers make now;
// KLF_UPDATE_SEEDS=1 rewrites them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "CKLF_SecureBlock.h"
#include "CKLF_ZipBlock.h"
#include "FuzzSeeds.h"
#include "support/TestSupport.h"

namespace {

std::vector<u8> Unpacked(const std::vector<u8>& b) {
  CKLF_ZipBlock z;
  z.SetMode(0);
  z.SetSourceBlock(b.data(), static_cast<u32>(b.size()));
  if (!z.Process()) return {};
  return std::vector<u8>(z.GetDestBlock()->GetPtr(), z.GetDestBlock()->GetPtr() + z.GetDestBlock()->GetSize());
}

void CheckOrWrite(const std::string& target, const std::vector<std::pair<std::string, std::vector<u8>>>& seeds) {
  std::string dir = std::string(KLF_TEST_DATA_DIR) + "/fuzz/corpus/" + target;
  const char* update = std::getenv("KLF_UPDATE_SEEDS");
  bool write = update && std::string(update) == "1";
  if (write) mkdir(dir.c_str(), 0755);
  for (auto& s : seeds) {
    std::string path = dir + "/" + s.first;
    if (write) {
      ASSERT_TRUE(klftest::WriteFileBytes(path, s.second)) << path;
    } else {
      std::vector<u8> kept = klftest::ReadFileBytes(path);
      // Another zlib may pack differently; the content is what counts.
      EXPECT_TRUE(kept == s.second || (!kept.empty() && Unpacked(kept) == Unpacked(s.second) &&
                                       !Unpacked(kept).empty()))
          << path << " is stale: run with KLF_UPDATE_SEEDS=1";
    }
  }
}

}  // namespace

TEST(FuzzSeeds, ZipBlockSeedsAreCurrentAndUnpack) {
  auto seeds = klftest::ZipBlockSeeds();
  ASSERT_FALSE(seeds.empty());
  for (auto& s : seeds) {
    if (s.first.rfind("zip", 0) != 0) continue;
    CKLF_ZipBlock z;
    z.SetMode(0);
    z.SetSourceBlock(s.second.data(), static_cast<u32>(s.second.size()));
    EXPECT_EQ(z.Process(), 1) << s.first;
  }
  CheckOrWrite("fuzz_zipblock", seeds);
}
