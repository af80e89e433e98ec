#include <gtest/gtest.h>

#include <random>

#include "HostTestSupport.h"
#include "KLF_PluginEntry.h"
#include "support/TestSupport.h"

namespace {

bool Empty(const KLP_Rect32& r) { return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0; }

class PluginEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    KLF_SetPluginFolderOverride(dir.Path().c_str());
    std::mt19937 rng(7);
    hosttest::RandomDocument(host, klpModeRGB, 40, 30, false, rng);
    before = host.Plane(0);
  }
  void TearDown() override {
    // Leave the static object as a fresh load would find it.
    host.Call(PluginMain, klpSelectorFinish);
    KLF_SetPluginFolderOverride(nullptr);
  }
  klftest::TempDir dir;
  CKLP_FilterHost host;
  std::vector<uint8_t> before;
};

TEST_F(PluginEntry, SelectorsAnswerTheirResultCodes) {
  // Unknown selectors are bad parameters and change nothing.
  for (int16_t sel : {6, 7, -1, 255, 32767}) {
    EXPECT_EQ(host.Call(PluginMain, sel), klpResBadParameters) << sel;
    EXPECT_EQ(KLF_GetPluginObject().GetDialogRequest(), 0);
  }
  EXPECT_EQ(host.Call(PluginMain, klpSelectorParameters), 0);
  EXPECT_EQ(KLF_GetPluginObject().GetDialogRequest(), 1);

  host.Record().bufferSpace = 12345;
  EXPECT_EQ(host.Call(PluginMain, klpSelectorPrepare), 0);
  EXPECT_EQ(host.Record().bufferSpace, 0);

  // Continue empties whatever rectangles were left.
  host.Record().inRect = {1, 2, 3, 4};
  host.Record().outRect = {5, 6, 7, 8};
  host.Record().maskRect = {1, 1, 9, 9};
  EXPECT_EQ(host.Call(PluginMain, klpSelectorContinue), 0);
  EXPECT_TRUE(Empty(host.Record().inRect));
  EXPECT_TRUE(Empty(host.Record().outRect));
  EXPECT_TRUE(Empty(host.Record().maskRect));

  host.Record().outRect = {5, 6, 7, 8};
  EXPECT_EQ(host.Call(PluginMain, klpSelectorFinish), 0);
  EXPECT_EQ(KLF_GetPluginObject().GetDialogRequest(), 0);
  EXPECT_TRUE(Empty(host.Record().outRect));
  EXPECT_EQ(host.Plane(0), before);
}

TEST_F(PluginEntry, AboutSaysNoDialogYetAsCancelled) {
  EXPECT_EQ(host.Call(PluginMain, klpSelectorAbout), klpResUserCanceled);
  EXPECT_EQ(host.Plane(0), before);
}

TEST_F(PluginEntry, StartWithoutSettingsLeavesTheDocumentAndCancels) {
  // A replay with nothing to replay.
  EXPECT_EQ(host.RunFilter(PluginMain, false), klpResUserCanceled);
  EXPECT_EQ(host.Plane(0), before);
  EXPECT_TRUE(Empty(host.Record().inRect));
  EXPECT_TRUE(Empty(host.Record().outRect));
  EXPECT_TRUE(Empty(host.Record().maskRect));

  // The dialog run is not available yet: cancelled, nothing written.
  EXPECT_EQ(host.RunFilter(PluginMain, true), klpResUserCanceled);
  EXPECT_EQ(host.Plane(0), before);
}

TEST_F(PluginEntry, UnsupportedModesAndCasesAreBadMode) {
  for (int16_t mode : {klpModeBitmap, klpModeIndexed, klpModeLab, klpModeMultichannel, klpModeDuotone}) {
    CKLP_FilterHost other;
    other.SetDocument(mode, 8, 8, false);
    EXPECT_EQ(other.Call(PluginMain, klpSelectorStart), klpResBadMode) << mode;
  }
  for (int16_t filterCase : {8, 9, -1, 100}) {
    CKLP_FilterHost other;
    other.SetDocument(klpModeRGB, 8, 8, false);
    other.ForceFilterCase(filterCase);
    EXPECT_EQ(other.Call(PluginMain, klpSelectorStart), filterCase < 0 ? klpResUserCanceled : klpResBadMode)
        << filterCase;
  }
  // No filter record at all: bad parameters, and no crash.
  int16_t result = 1;
  PluginMain(klpSelectorStart, nullptr, nullptr, &result);
  EXPECT_EQ(result, klpResBadParameters);
  PluginMain(klpSelectorContinue, nullptr, nullptr, &result);
  EXPECT_EQ(result, 0);
  PluginMain(klpSelectorAbout, nullptr, nullptr, nullptr);
}

TEST(PluginFolder, FollowsTheOverrideAndKeepsTheLastGoodFolder) {
  klftest::TempDir a;
  KLF_SetPluginFolderOverride(a.Path().c_str());
  EXPECT_EQ(PrepareAppInfo(), 0);
  CKLP_FilterHost host;
  host.SetDocument(klpModeGray, 4, 4, false);
  host.Call(PluginMain, klpSelectorFinish);
  EXPECT_EQ(KLF_GetPluginObject().GetPluginFolder().Path(), a.Path());
  // A folder that does not exist leaves the previous one.
  KLF_SetPluginFolderOverride((a.Path() + "/missing").c_str());
  EXPECT_NE(PrepareAppInfo(), 0);
  host.Call(PluginMain, klpSelectorFinish);
  EXPECT_EQ(KLF_GetPluginObject().GetPluginFolder().Path(), a.Path());
  // Without an override: the folder of the program the entry lives in.
  KLF_SetPluginFolderOverride(nullptr);
  EXPECT_EQ(PrepareAppInfo(), 0);
  host.Call(PluginMain, klpSelectorFinish);
  EXPECT_NE(KLF_GetPluginObject().GetPluginFolder().Path(), a.Path());
  EXPECT_FALSE(KLF_GetPluginObject().GetPluginFolder().Path().empty());
}

}  // namespace
