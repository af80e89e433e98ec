#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "HostTestSupport.h"
#include "support/TestSupport.h"

namespace {

using hosttest::Bytes;

// A plug-in whose replay step is scripted by the test: it records the block
// it was given, may write into the planes, then succeeds or fails.
class ScriptedPlugin : public CPluginMain {
 public:
  Bytes seen;
  int calls = 0;
  bool writeFirst = false;
  u8 writePlane = 0;
  bool succeed = true;
  int16_t failWith = 0;  // a result the step leaves on failure
  i32 uiResult = -1;     // what the dialog run answers
  kltRECT_s uiEngineArea = {}, uiDataArea = {};

 protected:
  i32 i_RunUI(u8) override {
    uiEngineArea = m_engine.GetDocument().filterArea;
    uiDataArea = GetPluginDataPtr()->filterArea;
    return uiResult;
  }
  u8 i_ReplaySettings(CKLF_Mem& block) override {
    ++calls;
    seen.assign(block.GetPtr(), block.GetPtr() + block.GetSize());
    if (writeFirst && !HostPutChanel(writePlane, GetPluginDataPtr()->filterRect, static_cast<u8>(42))) return 0;
    if (succeed) return 1;
    if (failWith) HostSetRetCode(failWith);
    return 0;
  }
};

struct Fixture {
  klftest::TempDir dir;
  CKLT_FilterHost host;
  ScriptedPlugin plugin;
  Bytes before;
  Fixture() {
    std::mt19937 rng(21);
    hosttest::RandomDocument(host, klpModeRGB, 30, 20, false, rng);
    before = host.Plane(0);
    hosttest::ObjectEntry::target = &plugin;
    EXPECT_EQ(hosttest::ObjectEntry::folder.SetPath(dir.Path().c_str()), klpNoErr);
  }
  int16_t Run(bool dialog = false) { return host.RunFilter(hosttest::ObjectEntry::Entry, dialog); }
  int16_t Call(int16_t selector) { return host.Call(hosttest::ObjectEntry::Entry, selector); }
  void Last(const Bytes& block) { klftest::WriteFileBytes(dir.File("last.data"), block); }
  void StoreInDescriptor(const Bytes& block) {
    hosttest::Bound<> writer(host);
    ASSERT_TRUE(writer.plugin.WriteEncryptedScriptParameter_V2(block.data(), static_cast<u32>(block.size())));
    ASSERT_TRUE(host.TakeDescriptor());
  }
};

TEST(Replay, FindsTheBlockInTheDescriptorElseInLastData) {
  const Bytes last = {1, 2, 3, 4};
  const struct {
    const char* what;
    bool lastFile;
    Bytes lastData, descriptor;  // empty descriptor: none
    bool damaged;
    int16_t result;
    Bytes seen;  // empty: the replay step is not called
  } rows[] = {
      {"nothing anywhere", false, {}, {}, false, klpResUserCanceled, {}},
      {"last.data", true, last, {}, false, 0, last},
      {"an empty last.data", true, {}, {}, false, klpResUserCanceled, {}},
      {"the descriptor wins", true, last, {9, 8, 7}, false, 0, {9, 8, 7}},
      {"broken settings in the descriptor: no fall-back", true, last, Bytes(50, 3), true, klpResBadParameters, {}},
  };
  for (const auto& row : rows) {
    Fixture f;
    if (row.lastFile) f.Last(row.lastData);
    if (!row.descriptor.empty()) f.StoreInDescriptor(row.descriptor);
    auto records = f.host.Descriptor();
    for (auto& r : records)
      if (row.damaged && r.type == KLP_TYPE_TEXT) r.text[5] = 'x';
    if (row.damaged) f.host.SetDescriptor(records);
    EXPECT_EQ(f.Run(), row.result) << row.what;
    EXPECT_EQ(f.plugin.seen, row.seen) << row.what;
    EXPECT_EQ(f.plugin.calls, row.seen.empty() ? 0 : 1) << row.what;
  }
}

TEST(Replay, AFailureIsNeverReportedAsSuccess) {
  const struct {
    const char* what;
    bool writeFirst;
    u8 writePlane;
    bool succeed;
    int16_t failWith;
    bool advanceState;
    int16_t result;
    bool written;  // the host took the band
  } rows[] = {
      {"plane transfers set the result to 0 on their way", true, 0, false, 0, true, klpResUserCanceled, true},
      {"a code already set stays", true, 0, false, klpResMemFull, true, klpResMemFull, true},
      {"bad parameters stay", false, 0, false, klpResBadParameters, true, klpResBadParameters, false},
      {"success", true, 0, true, 0, true, klpResNoErr, true},
      {"a host that cannot serve planes", true, 0, true, 0, false, klpResBadParameters, false},
      {"a host that refuses the request", true, 3, true, 0, true, klpResUserCanceled, false},  // no plane 3
  };
  for (const auto& row : rows) {
    Fixture f;
    f.Last({5});
    f.plugin.writeFirst = row.writeFirst;
    f.plugin.writePlane = row.writePlane;
    f.plugin.succeed = row.succeed;
    f.plugin.failWith = row.failWith;
    f.host.GetServices().advanceState = row.advanceState;
    EXPECT_EQ(f.Run(), row.result) << row.what;
    EXPECT_EQ(f.plugin.calls, 1) << row.what;
    EXPECT_EQ(f.host.Plane(0), row.written ? Bytes(600, 42) : f.before) << row.what;
  }
}

TEST(Replay, AFailedDialogRunDoesNotTurnTheNextRepeatIntoADialog) {
  // A host calls Finish only after a run that succeeded: the dialog asked
  // for in a failed run must not outlive it.
  Fixture f;
  f.Last({5});
  EXPECT_EQ(f.Call(klpSelectorParameters), 0);
  EXPECT_EQ(f.Call(klpSelectorStart), klpResUserCanceled);
  EXPECT_EQ(f.plugin.calls, 0);
  i32 w, h;
  EXPECT_NE(f.plugin.GetCompositeAlpha(w, h), nullptr);  // prepared for the dialog
  EXPECT_EQ(f.Run(false), 0);  // the repeat: no Parameters, no Finish in between
  EXPECT_EQ(f.plugin.calls, 1);

  // A dialog run that succeeds keeps the request until Finish; then Start
  // alone is a replay.
  f.plugin.uiResult = 0;
  f.host.ResetRun();
  EXPECT_EQ(f.Call(klpSelectorParameters), 0);
  EXPECT_EQ(f.Call(klpSelectorStart), 0);
  EXPECT_EQ(f.plugin.GetDialogRequest(), 1);
  EXPECT_EQ(f.Call(klpSelectorFinish), 0);
  EXPECT_EQ(f.Call(klpSelectorStart), 0);
  EXPECT_EQ(f.plugin.calls, 2);
}

// The engine reads layers for image overlays at the trimmed area, in the
// dialog as in the replay.
TEST(Replay, TheDialogRunsEngineSeesTheTrimmedArea) {
  Fixture f;
  ASSERT_TRUE(f.host.SetDocument(klpModeRGB, 40, 30, true));
  f.host.Plane(3).assign(1200, 0);
  f.host.Plane(3)[7 * 40 + 5] = 9;
  f.host.Plane(3)[20 * 40 + 33] = 200;
  f.host.SetPlacement(100, 100, 3, 4);
  EXPECT_EQ(f.Call(klpSelectorParameters), 0);
  EXPECT_EQ(f.Call(klpSelectorStart), klpResUserCanceled);
  const kltRECT_s& e = f.plugin.uiEngineArea;
  EXPECT_EQ(std::vector<int>({e.left, e.top, e.right, e.bottom}), std::vector<int>({8, 11, 37, 25}));
  EXPECT_EQ(std::memcmp(&e, &f.plugin.uiDataArea, sizeof(e)), 0);
}

TEST(CompositeAlpha, SelectionTimesTransparencyAndTrimming) {
  // A selection over x 10..24, y 5..14: alpha = m, or t * m / 255.
  std::mt19937 rng(4);
  i32 w, h;
  for (bool transparency : {false, true}) {
    CKLT_FilterHost host;
    hosttest::RandomDocument(host, klpModeGray, 30, 20, transparency, rng);
    Bytes mask(600, 0);
    for (int i = 0; i < 600; ++i)
      if (i % 30 >= 10 && i % 30 < 25 && i / 30 >= 5 && i / 30 < 15) mask[i] = static_cast<uint8_t>(rng() | 1);
    ASSERT_TRUE(host.SetSelection(mask));
    hosttest::Bound<> b(host);
    ASSERT_TRUE(b.plugin.FillPluginData() && b.plugin.PrepareCompositeAlpha(1));
    const u8* a = b.plugin.GetCompositeAlpha(w, h);
    ASSERT_EQ(w * 100 + h, 1510);
    for (int i = 0; i < 150; ++i) {
      int j = (i / 15 + 5) * 30 + i % 15 + 10;
      ASSERT_EQ(a[i], transparency ? host.Plane(1)[j] * mask[j] / 255 : mask[j]) << i;
    }
  }
  // Transparency alone: the rectangle shrinks to the visible content and
  // the area in the document moves with it.
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeRGB, 40, 30, true));
  host.Plane(3).assign(1200, 0);
  host.Plane(3)[7 * 40 + 5] = 9;
  host.Plane(3)[20 * 40 + 33] = 200;
  host.SetPlacement(100, 100, 3, 4);
  hosttest::Bound<> b(host);
  ASSERT_TRUE(b.plugin.FillPluginData() && b.plugin.PrepareCompositeAlpha(0));
  const kltPLUGINDATA_s* d = b.plugin.GetPluginDataPtr();
  EXPECT_EQ(std::vector<int>({d->filterRect.left, d->filterRect.top, d->filterRect.right, d->filterRect.bottom}),
            std::vector<int>({5, 7, 34, 21}));
  EXPECT_EQ(std::vector<int>({d->filterArea.left, d->filterArea.top, d->filterArea.right, d->filterArea.bottom}),
            std::vector<int>({8, 11, 37, 25}));
  EXPECT_EQ(b.plugin.GetCompositeAlpha(w, h), nullptr);  // not built without full
  EXPECT_EQ(w * 100 + h, 2914);
  ASSERT_TRUE(b.plugin.PrepareCompositeAlpha(1));
  const u8* a = b.plugin.GetCompositeAlpha(w, h);
  EXPECT_EQ(Bytes(a, a + 2), (Bytes{9, 0}));
  EXPECT_EQ(a[13 * 29 + 28], 200);
  // Fully transparent: nothing to cut.
  host.Plane(3).assign(1200, 0);
  ASSERT_TRUE(b.Fill(host));
  EXPECT_FALSE(b.plugin.PrepareCompositeAlpha(1));

  // Visible content wider than 30000 pixels is refused; 30000 is not.
  for (int32_t wide : {30001, 40000, 30000}) {
    CKLT_FilterHost big;
    ASSERT_TRUE(big.SetDocument(klpModeGray, wide + 4, 2, true));
    std::fill(big.Plane(1).begin(), big.Plane(1).end(), 0);
    std::fill(big.Plane(1).begin() + 2, big.Plane(1).begin() + 2 + wide, 255);
    hosttest::Bound<> q(big);
    ASSERT_TRUE(q.plugin.FillPluginData());
    EXPECT_EQ(q.plugin.PrepareCompositeAlpha(1), wide <= 30000 ? 1 : 0) << wide;
  }
}

TEST(PluginFiles, WholeFilesInThePluginFolder) {
  klftest::TempDir dir;
  CPluginMain p;
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), 0);
  p.SetPluginFolder(folder);
  CKLF_Mem block;
  EXPECT_FALSE(p.ConfFile_Read(block, "last.data", ""));
  std::mt19937 rng(6);
  const Bytes data = klftest::RandomBytes(rng, 5000);
  // A shorter file replaces a longer one entirely; an empty one reads as
  // an empty block.
  for (size_t n : {size_t(5000), size_t(3), size_t(0)}) {
    ASSERT_TRUE(p.ConfFile_Write(data.data(), static_cast<u32>(n), "last.data", ""));
    ASSERT_TRUE(p.ConfFile_Read(block, "last.data", ""));
    EXPECT_EQ(Bytes(block.GetPtr(), block.GetPtr() + block.GetSize()), Bytes(data.begin(), data.begin() + n));
  }
  EXPECT_FALSE(p.ConfFile_Write(data.data(), 10, "../escape", ""));
}

}  // namespace
