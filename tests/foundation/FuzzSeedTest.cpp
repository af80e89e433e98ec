// The fuzz targets' seed inputs are made here from the real writers. The
// test fails when a committed seed differs from what the writers make now;
// KLF_UPDATE_SEEDS=1 rewrites them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "CKLF_SecureBlock.h"
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

// Another zlib may pack differently: a kept seed is current when it equals
// the new one or means the same.
typedef std::function<bool(const std::vector<u8>&, const std::vector<u8>&)> Same;

bool SameContent(const std::vector<u8>& a, const std::vector<u8>& b) {
  return a == b || (!Unpacked(a).empty() && Unpacked(a) == Unpacked(b));
}

std::vector<std::string> StoreKeys(const std::vector<u8>& b) {
  klftest::TempDir dir;
  klftest::WriteFileBytes(dir.File("s"), b);
  CKLF_Storage s;
  std::vector<std::string> keys;
  if (!s.Open(dir.File("s").c_str(), 1)) return keys;
  for (u32 i = 0; i < s.GetTotalRecords(); ++i) keys.push_back(s.GetAllRecordsArray().GetPtrAt(i)->GetStr());
  return keys;
}

bool SameStore(const std::vector<u8>& a, const std::vector<u8>& b) {
  return a == b || (!StoreKeys(a).empty() && StoreKeys(a) == StoreKeys(b));
}

void CheckOrWrite(const std::string& target, const std::vector<std::pair<std::string, std::vector<u8>>>& seeds,
                  const Same& same) {
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
  ASSERT_FALSE(seeds.empty());
  for (auto& s : seeds) {
    if (s.first.rfind("zip", 0) != 0) continue;
    CKLF_ZipBlock z;
    z.SetMode(0);
    z.SetSourceBlock(s.second.data(), static_cast<u32>(s.second.size()));
    EXPECT_EQ(z.Process(), 1) << s.first;
  }
  CheckOrWrite("fuzz_zipblock", seeds, SameContent);
}

TEST(FuzzSeeds, StorageSeedsAreCurrentAndOpen) {
  klftest::TempDir dir;
  auto seeds = klftest::StorageSeeds();
  for (auto& s : seeds) {
    // The accelerated variant opens from a file only.
    std::string path = dir.File(s.first);
    ASSERT_TRUE(klftest::WriteFileBytes(path, s.second));
    CKLF_Storage st;
    EXPECT_EQ(st.Open(path.c_str(), 1), 1) << s.first;
    EXPECT_GT(st.GetTotalRecords() + (s.first == "store_empty"), 0u) << s.first;
  }
  CheckOrWrite("fuzz_storage", seeds, SameStore);
}
