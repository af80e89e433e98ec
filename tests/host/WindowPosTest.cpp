#include <gtest/gtest.h>

#include "CKLF_Storage.h"
#include "HostTestSupport.h"
#include "support/TestSupport.h"

namespace {

struct Store {
  klftest::TempDir dir;
  CPluginMain plugin;
  Store() {
    KLP_FileRef folder;
    folder.SetPath(dir.Path().c_str());
    plugin.SetPluginFolder(folder);
  }
};

TEST(WindowPositions, StoredUnderTrimmedUpperCaseNames) {
  Store s;
  EXPECT_TRUE(klIsNullSize(s.plugin.WindowPosFromConf("Main", "ROOT", kltSIZE_s{1, 2}, 1)));  // closed
  s.plugin.PutWindowPosToConf("Main", "ROOT", kltPOS{5, 6});  // closed: nothing, no crash
  ASSERT_TRUE(s.plugin.ConfStorage_Open("plugin.conf"));
  s.plugin.PutWindowPosToConf("  main ", "", kltPOS{120, -7});
  CKLF_Storage* st = s.plugin.ConfStorage_GetStorage();
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->GetRecType("Windows Positions>MAIN>--"), 0);
  u32 v = 0;
  ASSERT_TRUE(st->GetRec("Windows Positions>MAIN>-->Left", v));
  EXPECT_EQ(v, 120u);
  ASSERT_TRUE(st->GetRec("Windows Positions>MAIN>-->Top", v));
  EXPECT_EQ(static_cast<i32>(v), -7);
  kltSIZE_s p = s.plugin.WindowPosFromConf("MAIN", " ", klNullSize, 0);
  EXPECT_EQ(p.horizontal, 120);
  EXPECT_EQ(p.vertical, -7);
  // A second window beside it, and an update in place.
  s.plugin.PutWindowPosToConf("Cutter", "Main", kltPOS{1, 2});
  s.plugin.PutWindowPosToConf("main", "", kltPOS{300, 400});
  p = s.plugin.WindowPosFromConf("main", "", klNullSize, 0);
  EXPECT_EQ(p.horizontal, 300);
  EXPECT_EQ(p.vertical, 400);
  p = s.plugin.WindowPosFromConf("CUTTER", "MAIN", klNullSize, 0);
  EXPECT_EQ(p.horizontal, 1);
  ASSERT_TRUE(s.plugin.ConfStorage_Close());
  EXPECT_EQ(s.plugin.ConfStorage_GetStorage(), nullptr);
  // Kept in the file.
  ASSERT_TRUE(s.plugin.ConfStorage_Open("plugin.conf"));
  p = s.plugin.WindowPosFromConf("Cutter", "Main", klNullSize, 0);
  EXPECT_EQ(p.vertical, 2);
}

TEST(WindowPositions, ReadingClampsAndNeedsBothRecords) {
  Store s;
  ASSERT_TRUE(s.plugin.ConfStorage_Open("plugin.conf"));
  s.plugin.PutWindowPosToConf("Far", "", kltPOS{9000, -50});
  kltSIZE_s p = s.plugin.WindowPosFromConf("Far", "", klNullSize, 0);
  EXPECT_EQ(p.horizontal, 7000);
  EXPECT_EQ(p.vertical, -10);
  s.plugin.PutWindowPosToConf("Near", "", kltPOS{-5000, 7000});
  p = s.plugin.WindowPosFromConf("Near", "", klNullSize, 0);
  EXPECT_EQ(p.horizontal, -100);
  EXPECT_EQ(p.vertical, 6000);
  CKLF_Storage* st = s.plugin.ConfStorage_GetStorage();
  ASSERT_TRUE(st->AddFolder("Windows Positions>HALF"));
  ASSERT_TRUE(st->AddFolder("Windows Positions>HALF>--"));
  ASSERT_TRUE(st->SetRecord("Windows Positions>HALF>-->Left", static_cast<u32>(10)));
  EXPECT_TRUE(klIsNullSize(s.plugin.WindowPosFromConf("half", "", klNullSize, 0)));
  // A record of another type is not a position either.
  ASSERT_TRUE(st->SetRecord("Windows Positions>HALF>-->Top", static_cast<u8>(3)));
  EXPECT_TRUE(klIsNullSize(s.plugin.WindowPosFromConf("half", "", klNullSize, 0)));
}

TEST(WindowPositions, StartOpensTheStoreInThePluginFolder) {
  Store s;
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 4, 4, false);
  hosttest::ObjectEntry::target = &s.plugin;
  hosttest::ObjectEntry::folder = s.plugin.GetPluginFolder();
  EXPECT_EQ(host.RunFilter(hosttest::ObjectEntry::Entry, false), klpResUserCanceled);
  EXPECT_EQ(s.plugin.ConfStorage_GetStorage(), nullptr);  // closed after Start
  std::vector<uint8_t> conf = klftest::ReadFileBytes(s.dir.File("plugin.conf"));
  ASSERT_GE(conf.size(), 40u);
  EXPECT_EQ(std::string(conf.begin(), conf.begin() + 8), "KLCPSv40");
  // A damaged store is made anew rather than stopping the run.
  klftest::WriteFileBytes(s.dir.File("plugin.conf"), {1, 2, 3});
  EXPECT_EQ(host.RunFilter(hosttest::ObjectEntry::Entry, false), klpResUserCanceled);
  conf = klftest::ReadFileBytes(s.dir.File("plugin.conf"));
  ASSERT_GE(conf.size(), 40u);
  EXPECT_EQ(std::string(conf.begin(), conf.begin() + 8), "KLCPSv40");
}

}  // namespace
