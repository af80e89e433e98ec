#include <gtest/gtest.h>

#include "HostTestSupport.h"
#include "KLF_PluginEntry.h"
#include "KLP_Alert.h"
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
    ASSERT_EQ(host.Call(PluginMain, klpSelectorFinish), 0);
    KLF_SetPluginFolderOverride(nullptr);
  }
  klftest::TempDir dir;
  CKLT_FilterHost host;
  hosttest::Bytes before;
};

TEST_F(PluginEntry, SelectorsAnswerTheirResultCodes) {
  for (int16_t sel : {6, -1, 32767}) EXPECT_EQ(host.Call(PluginMain, sel), klpResBadParameters) << sel;
  EXPECT_EQ(KLF_GetPluginObject().GetDialogRequest(), 0);
  // No dialog yet and no settings to replay: cancelled, nothing written.
  EXPECT_EQ(host.Call(PluginMain, klpSelectorAbout), klpResUserCanceled);
  EXPECT_EQ(host.RunFilter(PluginMain, false), klpResUserCanceled);
  EXPECT_EQ(host.RunFilter(PluginMain, true), klpResUserCanceled);
  EXPECT_EQ(host.Plane(0), before);

  EXPECT_EQ(host.Call(PluginMain, klpSelectorParameters), 0);
  EXPECT_EQ(KLF_GetPluginObject().GetDialogRequest(), 1);
  host.Record().bufferSpace = 12345;
  EXPECT_EQ(host.Call(PluginMain, klpSelectorPrepare), 0);
  EXPECT_EQ(host.Record().bufferSpace, 0);
  // Continue and Finish empty whatever rectangles were left.
  for (int16_t sel : {klpSelectorContinue, klpSelectorFinish}) {
    host.Record().inRect = {1, 2, 3, 4};
    host.Record().outRect = {5, 6, 7, 8};
    host.Record().maskRect = {1, 1, 9, 9};
    EXPECT_EQ(host.Call(PluginMain, sel), 0);
    EXPECT_TRUE(Empty(host.Record().inRect) && Empty(host.Record().outRect) && Empty(host.Record().maskRect));
  }
  EXPECT_EQ(KLF_GetPluginObject().GetDialogRequest(), 0);
}

TEST_F(PluginEntry, UnsupportedModesAndCasesAreBadMode) {
  const struct {
    int16_t mode, filterCase;
  } rows[] = {{klpModeBitmap, -1}, {klpModeIndexed, -1}, {klpModeHSL, -1}, {klpModeLab, -1},
              {klpModeDuotone, -1}, {99, -1},            {klpModeRGB, 8},   {klpModeRGB, 100}};
  for (const auto& row : rows) {
    CKLT_FilterHost other;
    ASSERT_TRUE(other.SetDocument(row.mode, 8, 8, false));
    other.ForceFilterCase(row.filterCase);
    EXPECT_EQ(other.Call(PluginMain, klpSelectorStart), klpResBadMode) << row.mode << " " << row.filterCase;
  }
  // No filter record at all: bad parameters, and no crash.
  int16_t result = 1;
  PluginMain(klpSelectorStart, nullptr, nullptr, &result);
  EXPECT_EQ(result, klpResBadParameters);
  PluginMain(klpSelectorAbout, nullptr, nullptr, nullptr);
}

TEST(PluginFolder, FollowsTheOverrideAndKeepsTheLastGoodFolder) {
  // (The folder of the library the entry lives in: the host program's tests.)
  klftest::TempDir a;
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeGray, 4, 4, false));
  KLF_SetPluginFolderOverride(a.Path().c_str());
  EXPECT_EQ(PrepareAppInfo(), 0);
  // A folder that does not exist leaves the previous one.
  KLF_SetPluginFolderOverride((a.Path() + "/missing").c_str());
  EXPECT_NE(PrepareAppInfo(), 0);
  ASSERT_EQ(host.Call(PluginMain, klpSelectorFinish), 0);
  EXPECT_EQ(KLF_GetPluginObject().GetPluginFolder().Path(), a.Path());
  KLF_SetPluginFolderOverride(nullptr);
}

}  // namespace

namespace {

int16_t ThrowingProperty(void*, uint32_t, uint32_t, int32_t, intptr_t*, KLP_Handle*) { throw std::bad_alloc(); }

TEST(PluginEntryBoundary, NothingUnwindsIntoTheHost) {
  // A host callback that throws (as an allocation does) reaches the entry
  // and comes back as memory full, the document untouched.
  CKLT_FilterHost host;
  std::mt19937 rng(3);
  hosttest::RandomDocument(host, klpModeRGB, 8, 8, false, rng);
  const hosttest::Bytes before = host.Plane(0);
  const KLP_PropertyProcs throwing = {ThrowingProperty, nullptr};
  host.Record().propertyProcs = &throwing;
  EXPECT_EQ(host.Call(PluginMain, klpSelectorStart), klpResMemFull);
  EXPECT_EQ(host.Plane(0), before);
  ASSERT_EQ(host.Call(PluginMain, klpSelectorFinish), 0);
}

}  // namespace

namespace {

std::string g_alert;

TEST(PluginEntryBoundary, EngineAlertsArePlatformAlerts) {
  KLP_SetAlertHook([](const char* title, const char* text) { g_alert = std::string(title) + " " + text; });
  CPluginMain plugin;
  plugin.GetEngine().PlatformMessageBox("Too many (>100'000!) pieces...", "Error!");
  KLP_SetAlertHook(nullptr);
  EXPECT_EQ(g_alert, "Error! Too many (>100'000!) pieces...");
}

}  // namespace
