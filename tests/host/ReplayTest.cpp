#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "HostTestSupport.h"
#include "support/TestSupport.h"

namespace {

// A plug-in whose replay step is scripted by the test: it records the block
// it was given, may write into the planes, then succeeds or fails.
class ScriptedPlugin : public CPluginMain {
 public:
  std::vector<uint8_t> seen;
  int calls = 0;
  bool writeFirst = false;
  u8 writePlane = 0;
  bool succeed = false;
  int16_t failWith = 0;  // a result the step leaves on failure
  i32 uiResult = -1;     // what the dialog run answers

 protected:
  i32 i_RunUI(u8) override { return uiResult; }
  u8 i_ReplaySettings(CKLF_Mem& block) override {
    ++calls;
    seen.assign(block.GetPtr(), block.GetPtr() + block.GetSize());
    if (writeFirst) {
      kltRECT_s r = GetPluginDataPtr()->filterRect;
      if (!HostPutChanel(writePlane, r, static_cast<u8>(42))) return 0;
    }
    if (succeed) return 1;
    if (failWith) HostSetRetCode(failWith);
    return 0;
  }
};

struct ReplayFixture {
  klftest::TempDir dir;
  CKLP_FilterHost host;
  ScriptedPlugin plugin;
  std::vector<uint8_t> before;
  ReplayFixture() {
    std::mt19937 rng(21);
    hosttest::RandomDocument(host, klpModeRGB, 30, 20, false, rng);
    before = host.Plane(0);
    hosttest::ObjectEntry::target = &plugin;
    hosttest::ObjectEntry::folder.SetPath(dir.Path().c_str());
  }
  int16_t Run(bool dialog = false) { return host.RunFilter(hosttest::ObjectEntry::Entry, dialog); }
  void StoreInDescriptor(const std::vector<uint8_t>& block) {
    host.ResetRun();
    int16_t r = 0;
    plugin.SetHostPointers(&host.Record(), nullptr, &r);
    ASSERT_TRUE(plugin.WriteEncryptedScriptParameter_V2(block.data(), static_cast<u32>(block.size())));
    host.TakeDescriptor();
  }
};

TEST(Replay, FindsTheBlockInTheDescriptorElseInLastData) {
  {
    ReplayFixture f;
    EXPECT_EQ(f.Run(), klpResUserCanceled);  // nothing anywhere
    EXPECT_EQ(f.plugin.calls, 0);
  }
  {
    ReplayFixture f;
    klftest::WriteFileBytes(f.dir.File("last.data"), {1, 2, 3, 4});
    f.plugin.succeed = true;
    EXPECT_EQ(f.Run(), 0);
    EXPECT_EQ(f.plugin.seen, (std::vector<uint8_t>{1, 2, 3, 4}));
  }
  {
    ReplayFixture f;
    klftest::WriteFileBytes(f.dir.File("last.data"), {1, 2, 3, 4});
    f.StoreInDescriptor({9, 8, 7});
    f.plugin.succeed = true;
    EXPECT_EQ(f.Run(), 0);
    EXPECT_EQ(f.plugin.seen, (std::vector<uint8_t>{9, 8, 7}));  // the descriptor wins
  }
  {
    ReplayFixture f;  // an empty last.data is no settings
    klftest::WriteFileBytes(f.dir.File("last.data"), {});
    f.plugin.succeed = true;
    EXPECT_EQ(f.Run(), klpResUserCanceled);
    EXPECT_EQ(f.plugin.calls, 0);
  }
  {
    ReplayFixture f;  // broken settings in the descriptor: no fall-back
    klftest::WriteFileBytes(f.dir.File("last.data"), {1, 2, 3, 4});
    f.StoreInDescriptor(std::vector<uint8_t>(50, 3));
    auto records = f.host.Descriptor();
    for (auto& r : records)
      if (r.type == KLP_TYPE_TEXT) r.text[5] = 'x';
    f.host.SetDescriptor(records);
    f.plugin.succeed = true;
    EXPECT_EQ(f.Run(), klpResBadParameters);
    EXPECT_EQ(f.plugin.calls, 0);
  }
}

TEST(Replay, AFailureAfterPlaneTransfersIsNotReportedAsSuccess) {
  {
    ReplayFixture f;
    klftest::WriteFileBytes(f.dir.File("last.data"), {5});
    f.plugin.writeFirst = true;  // the transfers set the result to 0 on their way
    EXPECT_EQ(f.Run(), klpResUserCanceled);
    EXPECT_EQ(f.plugin.calls, 1);
  }
  {
    ReplayFixture f;
    klftest::WriteFileBytes(f.dir.File("last.data"), {5});
    f.plugin.writeFirst = true;
    f.plugin.failWith = klpResMemFull;  // a code already set stays
    EXPECT_EQ(f.Run(), klpResMemFull);
  }
  {
    ReplayFixture f;
    klftest::WriteFileBytes(f.dir.File("last.data"), {5});
    f.plugin.failWith = klpResBadParameters;
    EXPECT_EQ(f.Run(), klpResBadParameters);
  }
  {
    ReplayFixture f;
    klftest::WriteFileBytes(f.dir.File("last.data"), {5});
    f.plugin.writeFirst = true;
    f.plugin.succeed = true;
    EXPECT_EQ(f.Run(), 0);
    EXPECT_EQ(f.host.Plane(0), std::vector<uint8_t>(600, 42));  // committed after the call
  }
  {
    // A host that cannot serve planes: its bad parameter, not success.
    ReplayFixture f;
    klftest::WriteFileBytes(f.dir.File("last.data"), {5});
    f.plugin.writeFirst = true;
    f.plugin.succeed = true;
    f.host.GetServices().advanceState = false;
    EXPECT_EQ(f.Run(), klpResBadParameters);
    EXPECT_EQ(f.host.Plane(0), f.before);
  }
  {
    // A host whose advanceState refuses the request: cancelled.
    ReplayFixture f;
    klftest::WriteFileBytes(f.dir.File("last.data"), {5});
    f.plugin.writeFirst = true;
    f.plugin.writePlane = 3;  // an RGB document without transparency has no plane 3
    f.plugin.succeed = true;
    EXPECT_EQ(f.Run(), klpResUserCanceled);
    EXPECT_EQ(f.host.Plane(0), f.before);
  }
}

TEST(Replay, AFailedDialogRunDoesNotTurnTheNextRepeatIntoADialog) {
  // A host calls Finish only after a run that succeeded: the dialog asked
  // for in a failed run must not outlive it.
  ReplayFixture f;
  klftest::WriteFileBytes(f.dir.File("last.data"), {5});
  f.plugin.succeed = true;
  f.host.ResetRun();
  EXPECT_EQ(f.host.Call(hosttest::ObjectEntry::Entry, klpSelectorParameters), 0);
  EXPECT_EQ(f.host.Call(hosttest::ObjectEntry::Entry, klpSelectorPrepare), 0);
  EXPECT_EQ(f.host.Call(hosttest::ObjectEntry::Entry, klpSelectorStart), klpResUserCanceled);
  EXPECT_EQ(f.plugin.calls, 0);
  // The repeat: no Parameters, no Finish in between.
  EXPECT_EQ(f.Run(false), 0);
  EXPECT_EQ(f.plugin.calls, 1);

  // A dialog run that succeeds keeps the request until Finish.
  f.plugin.uiResult = 0;
  f.host.ResetRun();
  EXPECT_EQ(f.host.Call(hosttest::ObjectEntry::Entry, klpSelectorParameters), 0);
  EXPECT_EQ(f.host.Call(hosttest::ObjectEntry::Entry, klpSelectorStart), 0);
  EXPECT_EQ(f.plugin.calls, 1);
  EXPECT_EQ(f.plugin.GetDialogRequest(), 1);
  EXPECT_EQ(f.host.Call(hosttest::ObjectEntry::Entry, klpSelectorFinish), 0);
  EXPECT_EQ(f.plugin.GetDialogRequest(), 0);
  // Then Start alone is a replay.
  EXPECT_EQ(f.host.Call(hosttest::ObjectEntry::Entry, klpSelectorStart), 0);
  EXPECT_EQ(f.plugin.calls, 2);
}

TEST(Replay, DialogRunPreparesTheCompositeAlphaThenReportsNoDialog) {
  ReplayFixture f;
  std::vector<uint8_t> mask(600, 0);
  for (int y = 5; y < 15; ++y)
    for (int x = 10; x < 25; ++x) mask[y * 30 + x] = static_cast<uint8_t>(x * 10);
  ASSERT_TRUE(f.host.SetSelection(mask));
  EXPECT_EQ(f.Run(true), klpResUserCanceled);
  i32 w = 0, h = 0;
  const u8* a = f.plugin.GetCompositeAlpha(w, h);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(w, 15);
  ASSERT_EQ(h, 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 15; ++x) ASSERT_EQ(a[y * 15 + x], mask[(y + 5) * 30 + x + 10]);
  EXPECT_EQ(f.plugin.calls, 0);
  EXPECT_EQ(f.host.Plane(0), f.before);
}

TEST(CompositeAlpha, TransparencyTimesMaskAndTrimming) {
  std::mt19937 rng(4);
  {
    // Transparency and a selection: alpha = t * m / 255.
    CKLP_FilterHost host;
    hosttest::RandomDocument(host, klpModeGray, 12, 9, true, rng);
    std::vector<uint8_t> mask(108);
    for (auto& v : mask) v = static_cast<uint8_t>(rng() | 1);
    ASSERT_TRUE(host.SetSelection(mask));
    CPluginMain p;
    int16_t r = 0;
    p.SetHostPointers(&host.Record(), nullptr, &r);
    ASSERT_TRUE(p.FillPluginData());
    ASSERT_TRUE(p.PrepareCompositeAlpha(1));
    i32 w, h;
    const u8* a = p.GetCompositeAlpha(w, h);
    ASSERT_EQ(w * h, 108);
    for (int i = 0; i < 108; ++i) ASSERT_EQ(a[i], host.Plane(1)[i] * mask[i] / 255);
  }
  {
    // Transparency alone: the rectangle shrinks to the visible content and
    // the area in the document moves with it.
    CKLP_FilterHost host;
    host.SetDocument(klpModeRGB, 40, 30, true);
    std::fill(host.Plane(3).begin(), host.Plane(3).end(), 0);
    host.Plane(3)[7 * 40 + 5] = 9;
    host.Plane(3)[20 * 40 + 33] = 200;
    host.SetPlacement(100, 100, 3, 4);
    CPluginMain p;
    int16_t r = 0;
    p.SetHostPointers(&host.Record(), nullptr, &r);
    ASSERT_TRUE(p.FillPluginData());
    ASSERT_TRUE(p.PrepareCompositeAlpha(0));
    const kltPLUGINDATA_s* d = p.GetPluginDataPtr();
    EXPECT_EQ(d->filterRect.left, 5);
    EXPECT_EQ(d->filterRect.top, 7);
    EXPECT_EQ(d->filterRect.right, 34);
    EXPECT_EQ(d->filterRect.bottom, 21);
    EXPECT_EQ(d->filterArea.left, 8);
    EXPECT_EQ(d->filterArea.top, 11);
    EXPECT_EQ(d->filterArea.right, 37);
    EXPECT_EQ(d->filterArea.bottom, 25);
    i32 w, h;
    EXPECT_EQ(p.GetCompositeAlpha(w, h), nullptr);  // not built without full
    EXPECT_EQ(w, 29);
    EXPECT_EQ(h, 14);
    ASSERT_TRUE(p.PrepareCompositeAlpha(1));
    const u8* a = p.GetCompositeAlpha(w, h);
    EXPECT_EQ(a[0], 9);
    EXPECT_EQ(a[13 * 29 + 28], 200);
    EXPECT_EQ(a[1], 0);

    // Visible content wider than 30000 pixels is refused; 30000 is not.
    for (int32_t wide : {30001, 40000, 30000}) {
      CKLP_FilterHost big;
      big.SetDocument(klpModeGray, wide + 4, 2, true);
      std::fill(big.Plane(1).begin(), big.Plane(1).end(), 0);
      std::fill(big.Plane(1).begin() + 2, big.Plane(1).begin() + 2 + wide, 255);
      CPluginMain q;
      q.SetHostPointers(&big.Record(), nullptr, &r);
      ASSERT_TRUE(q.FillPluginData());
      EXPECT_EQ(q.PrepareCompositeAlpha(1), wide <= 30000 ? 1 : 0) << wide;
    }

    // Fully transparent: nothing to cut.
    std::fill(host.Plane(3).begin(), host.Plane(3).end(), 0);
    host.ResetRun();
    p.SetHostPointers(&host.Record(), nullptr, &r);
    ASSERT_TRUE(p.FillPluginData());
    EXPECT_FALSE(p.PrepareCompositeAlpha(1));
  }
  {
    // Opaque without a selection: all 255.
    CKLP_FilterHost host;
    host.SetDocument(klpModeCMYK, 6, 5, false);
    CPluginMain p;
    int16_t r = 0;
    p.SetHostPointers(&host.Record(), nullptr, &r);
    ASSERT_TRUE(p.FillPluginData());
    ASSERT_TRUE(p.PrepareCompositeAlpha(1));
    i32 w, h;
    const u8* a = p.GetCompositeAlpha(w, h);
    EXPECT_EQ(std::vector<uint8_t>(a, a + 30), std::vector<uint8_t>(30, 255));
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
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
  ASSERT_TRUE(p.ConfFile_Write(data.data(), 5000, "last.data", ""));
  ASSERT_TRUE(p.ConfFile_Read(block, "last.data", ""));
  EXPECT_EQ(std::vector<uint8_t>(block.GetPtr(), block.GetPtr() + block.GetSize()), data);
  // A shorter file replaces it entirely.
  CKLF_Mem small(3);
  small.Set(static_cast<u8>(1));
  ASSERT_TRUE(p.ConfFile_Write(small, "last.data", ""));
  EXPECT_EQ(klftest::ReadFileBytes(dir.File("last.data")), (std::vector<uint8_t>{1, 1, 1}));
  // An empty file reads as an empty block.
  klftest::WriteFileBytes(dir.File("last.data"), {});
  ASSERT_TRUE(p.ConfFile_Read(block, "last.data", ""));
  EXPECT_EQ(block.GetSize(), 0u);
  // Names that are not plain file names are refused.
  EXPECT_FALSE(p.ConfFile_Write(data.data(), 10, "../escape", ""));
  EXPECT_FALSE(p.ConfFile_Read(block, "a/b", ""));
}

}  // namespace
