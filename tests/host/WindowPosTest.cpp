#include <gtest/gtest.h>

#include "CKLF_Storage.h"
#include "CPluginMain.h"
#include "support/TestSupport.h"

namespace {

struct Store {
  klftest::TempDir dir;
  CPluginMain plugin;
  Store() {
    KLP_FileRef folder;
    EXPECT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
    plugin.SetPluginFolder(folder);
  }
  std::pair<int, int> Get(const char* name, const char* parent) {
    kltSIZE_s p = plugin.WindowPosFromConf(name, parent, kltSIZE_s{1, 2}, 1);
    return {p.horizontal, p.vertical};
  }
};

const std::pair<int, int> kCentred = {-32000, -32000};

TEST(WindowPositions, StoredUnderTrimmedUpperCaseNamesAndClamped) {
  Store s;
  EXPECT_EQ(s.Get("Main", "ROOT"), kCentred);  // closed
  ASSERT_TRUE(s.plugin.PutWindowPosToConf("Main", "ROOT", kltPOS{5, 6}));  // closed: nothing, no crash
  ASSERT_TRUE(s.plugin.ConfStorage_Open("plugin.conf"));
  ASSERT_TRUE(s.plugin.PutWindowPosToConf("  main ", "", kltPOS{120, -7}));
  CKLF_Storage* st = s.plugin.ConfStorage_GetStorage();
  u32 v = 0;
  ASSERT_TRUE(st->GetRec("Windows Positions>MAIN>-->Left", v));
  EXPECT_EQ(v, 120u);
  EXPECT_EQ(s.Get("MAIN", " "), std::make_pair(120, -7));
  // A second window beside it, and an update in place.
  ASSERT_TRUE(s.plugin.PutWindowPosToConf("Cutter", "Main", kltPOS{1, 2}));
  ASSERT_TRUE(s.plugin.PutWindowPosToConf("main", "", kltPOS{300, 400}));
  EXPECT_EQ(s.Get("main", ""), std::make_pair(300, 400));
  // x is kept within -100..7000, y within -10..6000.
  ASSERT_TRUE(s.plugin.PutWindowPosToConf("Far", "", kltPOS{9000, -50}));
  EXPECT_EQ(s.Get("Far", ""), std::make_pair(7000, -10));
  ASSERT_TRUE(s.plugin.PutWindowPosToConf("Near", "", kltPOS{-5000, 7000}));
  EXPECT_EQ(s.Get("Near", ""), std::make_pair(-100, 6000));
  // Both records of the right type are needed.
  ASSERT_TRUE(st->AddFolder("Windows Positions>HALF"));
  ASSERT_TRUE(st->AddFolder("Windows Positions>HALF>--"));
  ASSERT_TRUE(st->SetRecord("Windows Positions>HALF>-->Left", static_cast<u32>(10)));
  EXPECT_EQ(s.Get("half", ""), kCentred);
  ASSERT_TRUE(st->SetRecord("Windows Positions>HALF>-->Top", static_cast<u8>(3)));
  EXPECT_EQ(s.Get("half", ""), kCentred);
  ASSERT_TRUE(s.plugin.ConfStorage_Close());
  EXPECT_EQ(s.plugin.ConfStorage_GetStorage(), nullptr);
  // Kept in the file.
  ASSERT_TRUE(s.plugin.ConfStorage_Open("plugin.conf"));
  EXPECT_EQ(s.Get("CUTTER", "MAIN"), std::make_pair(1, 2));
}

}  // namespace
