// The fuzz targets' seed inputs are made here from the real writers. The
// test fails when a committed seed differs from what the writers make now;
// KLF_UPDATE_SEEDS=1 rewrites them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "CKLF_Storage.h"
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

// "opened" and the container's keys, or nothing when it does not open.
std::vector<std::string> StoreKeys(const std::vector<u8>& b) {
  klftest::TempDir dir;
  klftest::WriteFileBytes(dir.File("s"), b);  // the accelerated variant opens from a file only
  CKLF_Storage s;
  if (!s.Open(dir.File("s").c_str(), 1)) return {};
  std::vector<std::string> keys = {"opened"};
  for (u32 i = 0; i < s.GetTotalRecords(); ++i) keys.push_back(s.GetAllRecordsArray().GetPtrAt(i)->GetStr());
  return keys;
}

// Another zlib may pack differently: a kept seed is current when it equals
// the new one or means the same.
typedef std::function<bool(const std::vector<u8>&, const std::vector<u8>&)> Same;

bool SameContent(const std::vector<u8>& a, const std::vector<u8>& b) {
  return a == b || (!Unpacked(a).empty() && Unpacked(a) == Unpacked(b));
}

bool SameStore(const std::vector<u8>& a, const std::vector<u8>& b) {
  return a == b || (!StoreKeys(a).empty() && StoreKeys(a) == StoreKeys(b));
}

void CheckOrWrite(const std::string& target, const klftest::SeedList& seeds, const Same& same) {
  std::string dir = std::string(KLF_TEST_DATA_DIR) + "/fuzz/corpus/" + target;
  const char* update = std::getenv("KLF_UPDATE_SEEDS");
  bool write = update && std::string(update) == "1";
  if (write) mkdir(dir.c_str(), 0755);
  for (auto& s : seeds) {
    std::string path = dir + "/" + s.first;
    if (write) {
      ASSERT_TRUE(klftest::WriteFileBytes(path, s.second)) << path;
    } else {
      EXPECT_TRUE(same(klftest::ReadFileBytes(path), s.second)) << path << " is stale: run with KLF_UPDATE_SEEDS=1";
    }
  }
}

}  // namespace

TEST(FuzzSeeds, ZipBlockSeedsAreCurrentAndUnpack) {
  auto seeds = klftest::ZipBlockSeeds();
  ASSERT_EQ(seeds.size(), 4u);
  for (auto& s : seeds) {
    if (s.first.rfind("zip", 0) != 0) continue;
    EXPECT_FALSE(Unpacked(s.second).empty()) << s.first;
  }
  CheckOrWrite("fuzz_zipblock", seeds, SameContent);
}

TEST(FuzzSeeds, StorageSeedsAreCurrentAndOpen) {
  auto seeds = klftest::StorageSeeds();
  for (auto& s : seeds) EXPECT_GT(StoreKeys(s.second).size(), s.first == "store_empty" ? 0u : 1u) << s.first;
  CheckOrWrite("fuzz_storage", seeds, SameStore);
}
