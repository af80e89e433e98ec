// What the shell offers the user interface's run: the older scripting
// form, the colour picker without colour services, the launcher of links,
// the application's store and loop, and the runner's outcome written back.
#include <gtest/gtest.h>

#include <random>

#include "CKLF_App.h"
#include "CKLF_Image.h"
#include "CKLP_HeadlessUI.h"
#include "CKLF_ZipBlock.h"
#include "HostTestSupport.h"
#include "KLP_File.h"
#include "support/TestSupport.h"

namespace {

using hosttest::Bytes;
using hosttest::Noise;
using Records = std::vector<CKLT_FilterHost::DescRecord>;

uint32_t Key(const char* k) { return KLP_FOURCC(k[0], k[1], k[2], k[3]); }

struct OldForm {
  CKLT_FilterHost host;
  hosttest::Bound<> b{host};
  OldForm() { EXPECT_TRUE(host.SetDocument(klpModeRGB, 4, 4, false)); }
  bool Write(const Bytes& data) {
    host.ResetRun();
    b.Bind(host);
    const bool ok = b.plugin.WriteEncryptedScriptParameter(data.data(), static_cast<u32>(data.size()));
    const bool taken = host.TakeDescriptor();
    return ok && taken;
  }
  bool Read(Bytes& out) {
    host.ResetRun();
    b.Bind(host);
    CKLF_Mem block;
    u8 display = 0;
    const bool ok = b.plugin.ReadEncryptedScriptParameter(block, display);
    out.assign(block.GetPtr(), block.GetPtr() + block.GetSize());
    return ok;
  }
};

}  // namespace

TEST(OlderScriptForm, ChunksOf250UnderKleaToKlezRoundTrip) {
  OldForm f;
  const Bytes data = Noise(2000, 3);  // about 4000 hex characters: 17 chunks
  ASSERT_TRUE(f.Write(data));
  const Records& r = f.host.Descriptor();
  ASSERT_GE(r.size(), 16u);
  for (size_t i = 0; i < r.size(); ++i) {
    EXPECT_EQ(r[i].key, Key("klea") + i);
    const std::string& t = r[i].text;
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(static_cast<u8>(t[0]), t.size() - 1);  // the length byte counts the letter and the characters
    EXPECT_EQ(t[1], static_cast<char>('A' + i));
    EXPECT_EQ(t.size(), i + 1 < r.size() ? 252u : t.size());
  }
  Bytes back;
  ASSERT_TRUE(f.Read(back));
  EXPECT_EQ(back, data);
}

TEST(OlderScriptForm, TooLargeOrDamagedBlocksAreRefused) {
  OldForm f;
  EXPECT_FALSE(f.Write(Noise(3300, 4)));  // compresses above 3250 bytes: beyond 6500 hex characters
  EXPECT_TRUE(f.host.Descriptor().empty());
  ASSERT_TRUE(f.Write(Noise(1500, 5)));
  Records damaged = f.host.Descriptor();
  damaged.erase(damaged.begin() + 1);  // a missing chunk leaves a gap
  f.host.SetDescriptor(damaged);
  Bytes back;
  EXPECT_FALSE(f.Read(back));
  damaged = f.host.Descriptor();
  ASSERT_TRUE(f.Write(Noise(1500, 5)));
  damaged = f.host.Descriptor();
  damaged[0].text[0] = static_cast<char>(250);  // a length beyond its text
  f.host.SetDescriptor(damaged);
  EXPECT_FALSE(f.Read(back));
  f.host.ClearDescriptor();
  EXPECT_FALSE(f.Read(back));
}

TEST(UIServices, ThePlatformsColourPickerWithoutColourServices) {
  CKLP_HeadlessUI ui;
  KLP_SetUI(&ui);
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeRGB, 4, 4, false));
  host.GetServices().colorServices = false;
  hosttest::Bound<> b(host);
  kltRGBA8 c = {10, 20, 30, 7};
  ui.AnswerColor(0xFFFF, 0x8080, 0x0000);
  EXPECT_EQ(b.plugin.SelectColor_RGB(c), 1);
  EXPECT_EQ(std::vector<u8>({c.red, c.green, c.blue, c.alpha}), std::vector<u8>({255, 128, 0, 255}));
  // Without memory for the chooser: error 17; cancelled: no error. The
  // colour stays both times.
  ui.FailColor();
  EXPECT_FAILS(b.plugin, b.plugin.SelectColor_RGB(c), klErrNoMemory);
  EXPECT_FAILS(b.plugin, b.plugin.SelectColor_RGB(c), klErrNone);
  EXPECT_EQ(c.red, 255);
  EXPECT_EQ(ui.Log().colourTitles.size(), 3u);
  KLP_SetUI(nullptr);
  EXPECT_EQ(b.plugin.SelectColor_RGB(c), 0);  // no platform at all
}

TEST(UIServices, TheStoreOpensFromThePluginFolderAndTheLoopRunsOnlyTheCurrentApplication) {
  klftest::TempDir dir;
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeRGB, 4, 4, false));
  hosttest::Bound<> b(host);
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  b.plugin.SetPluginFolder(folder);
  CKLF_App app;
  EXPECT_EQ(b.plugin.InitAppStorage(&app, "missing.kls4"), 0);
  EXPECT_EQ(b.plugin.GetError(), app.GetError());  // the store's own reason
  EXPECT_NE(app.GetError(), 0);
  {
    CKLF_Storage s;
    ASSERT_EQ(s.Open(CKLF_String(dir.File("ui.kls4").c_str()), 2), 1);
    ASSERT_EQ(s.Close(), 1);
  }
  EXPECT_EQ(b.plugin.InitAppStorage(&app, "ui.kls4"), 1);
  EXPECT_NE(app.GetStorage(), nullptr);
  EXPECT_EQ(b.plugin.RunApp(&app), -1);  // not the current application
  CKLP_HeadlessUI ui;
  KLP_SetUI(&ui);
  m_App = &app;
  EXPECT_EQ(b.plugin.RunApp(&app), 0);
  m_App = nullptr;
  KLP_SetUI(nullptr);
}

namespace {

// A runner that answers a scripted outcome and records its life.
struct ScriptedRun : CPluginUIRun {
  static int alive;
  static int freed;
  CKLF_Image image;
  ScriptedRun() { ++alive; }
  ~ScriptedRun() override { --alive; }
  void FreeDisplayImages() override { ++freed; }
};
int ScriptedRun::alive = 0;
int ScriptedRun::freed = 0;
CPluginUIRun* (*g_make)(CPluginMain&) = nullptr;
CPluginUIRun* Runner(CPluginMain& plugin, u8) { return g_make ? g_make(plugin) : nullptr; }

}  // namespace

TEST(UIRun, TheOutcomeDecidesWhatIsWrittenBack) {
  CPluginMain::SetUIRunner(Runner);
  std::mt19937 rng(8);
  struct Row {
    const char* what;
    int16_t mode;
    CPluginUIRun* (*make)(CPluginMain&);
    int16_t result;
    int written;  // -1: either
    int freed;
  } rows[] = {
      {"no runner's run", klpModeRGB, [](CPluginMain&) -> CPluginUIRun* { return nullptr; }, klpResUserCanceled, 0, 0},
      {"the loop failed", klpModeRGB,
       [](CPluginMain&) -> CPluginUIRun* { return new ScriptedRun(); }, klpResUserCanceled, 0, 0},
      {"closed without applying", klpModeRGB,
       [](CPluginMain& p) -> CPluginUIRun* {
         auto* r = new ScriptedRun();
         r->loop = 0;
         p.HostSetRetCode_Cancel();  // as the main window's close leaves it
         return r;
       },
       klpResUserCanceled, 0, 0},
      {"applied in Puzzle mode with no image", klpModeRGB,
       [](CPluginMain&) -> CPluginUIRun* {
         auto* r = new ScriptedRun();
         r->loop = 0, r->applied = 1;
         return r;
       },
       klpResMemFull, 0, 0},
      {"applied in Puzzle mode, RGB", klpModeRGB,
       [](CPluginMain& p) -> CPluginUIRun* {
         auto* r = new ScriptedRun();
         const kltRECT_s f = p.GetPluginDataPtr()->filterRect;
         EXPECT_TRUE(r->image.Create(static_cast<u16>(f.right - f.left), static_cast<u16>(f.bottom - f.top), 2));
         r->image.Set(kltRGBA8{1, 2, 3, 255}, 15);
         r->loop = 0, r->applied = 1, r->resultImage = &r->image;
         return r;
       },
       klpResNoErr, 1, 0},
      {"applied in Puzzle mode, grey: the pieces anew, the images freed first", klpModeGray,
       [](CPluginMain& p) -> CPluginUIRun* {
         EXPECT_TRUE(p.GetEngine().Init(2, 2, 0));
         auto* r = new ScriptedRun();
         r->loop = 0, r->applied = 1;
         return r;
       },
       klpResNoErr, -1, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScriptedRun::freed = 0;
    g_make = row.make;
    CKLT_FilterHost host;
    hosttest::RandomDocument(host, row.mode, 20, 12, false, rng);
    const auto before = hosttest::Planes(host);
    CPluginMain plugin;
    hosttest::ObjectEntry::target = &plugin;
    EXPECT_EQ(host.RunFilter(hosttest::ObjectEntry::Entry, true), row.result);
    if (row.written >= 0) {
      EXPECT_EQ(hosttest::Planes(host) != before, row.written != 0);
    }
    EXPECT_EQ(ScriptedRun::alive, 0);
    EXPECT_EQ(ScriptedRun::freed, row.freed);
  }
  CPluginMain::SetUIRunner(nullptr);
}
