// The main window's dialogs opened from the running main window: its
// export button opens the piece export in Puzzle mode (PNG files written
// into a folder) and the knife export in Layout mode; the preferences it
// takes back show in its preview and its knives; the channel selection
// selects knives in Layout mode and pieces in Puzzle mode.
#include <filesystem>

#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlList.h"
#include "CPluginChannelSource.h"
#include "CWnd_ChannelList.h"
#include "CWnd_Export.h"
#include "CWnd_ExportLM.h"
#include "CWnd_MessageBox.h"
#include "CWnd_Pref.h"
#include "KLF_PluginAssembly.h"
#include "PluginRunSupport.h"

using namespace plugintest;

namespace {

constexpr int32_t kW = 240, kH = 160;

// The dialog of a type that runs the innermost modal loop.
template <class W>
W* Running(PluginRun& r) {
  return dynamic_cast<W*>(r.ui.GetWindowClient(r.ui.GetActiveWindow()));
}

// A click on a dialog's control: a radio button or check box on its box.
void Press(PluginRun& r, CWnd_Dialog& d, u32 c) {
  CKLF_Control* ctrl = d.GetCtrl(c);
  ASSERT_TRUE(ctrl);
  const kltRECT_s rc = ctrl->GetRenderRect();
  const u8 box = ctrl->GetType() == klCtrlRadioButton || ctrl->GetType() == klCtrlCheckBox;
  r.ClickAt(d, box ? rc.left + 8 : (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
  r.ui.Pump();
}

size_t FileCount(const std::string& folder) {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) n += e.path().extension() == ".png";
  return n;
}

// "Left": dark (selecting) on the left third of the document.
std::vector<uint8_t> LeftThird() {
  std::vector<uint8_t> plane(static_cast<size_t>(kW) * kH);
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<int32_t>(i % kW) < kW / 3 ? 0 : 255;
  return plane;
}

}  // namespace

// Puzzle mode: the export button opens the piece export; PNG files of the
// cut's pieces go into the chosen folder. Layout mode: the knife export.
TEST(MainDialogs, TheExportButtonOpensTheExportOfTheMode) {
  PluginRun r;
  r.Document(klpModeRGB, kW, kH);
  const std::string folder = r.dir.File("pieces");
  std::filesystem::create_directory(folder);
  r.ui.AnswerFile({true, r.dir.File("knives.eps")});
  r.ui.AnswerFile({true, folder + "/cut.png"});
  u32 pieces = 0;
  r.Then([&] {
    // Layout mode: the knives, all of them as none is selected.
    r.Then([&] {
      CWnd_ExportLM* d = Running<CWnd_ExportLM>(r);
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(d->GetCtrl(CWnd_ExportLM::kAll)->GetCheck(), 1);
      Press(r, *d, CWnd_ExportLM::kExport);
    });
    r.Then([&] {
      EXPECT_GT(klftest::ReadFileBytes(r.dir.File("knives.eps")).size(), 100u);
      r.Cut();
      pieces = r.Main()->GetEngine()->GetPieceCount();
      // Puzzle mode: the pieces as PNG files.
      r.Then([&] {
        CWnd_Export* d = Running<CWnd_Export>(r);
        ASSERT_NE(d, nullptr);
        Press(r, *d, CWnd_Export::kToPNG);
        Press(r, *d, CWnd_Export::kExport);
      });
      r.Then([&] { r.Click(CWnd_Main::kCancel); });
      r.Click(CWnd_Main::kExport);
    });
    r.Click(CWnd_Main::kExport);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
  EXPECT_GT(pieces, 1u);
  EXPECT_EQ(FileCount(folder), pieces);
}

// The question the export dialog asks (more than 100 layers) is a dialog
// of the export dialog, not of the main window behind it.
TEST(MainDialogs, TheExportsQuestionSitsOverTheExportDialog) {
  PluginRun r;
  r.Document(klpModeRGB, kW, kH);
  CWnd_Export* d = nullptr;
  bool asked = false;
  r.Then([&] {
    r.Type(*r.CutterWindow(), r.CutterWindow()->GetCtrl(CWnd_Cutter::kRowsEdit), "11");
    r.Type(*r.CutterWindow(), r.CutterWindow()->GetCtrl(CWnd_Cutter::kColumnsEdit), "11");
    r.Cut();
    ASSERT_GT(r.Main()->GetEngine()->GetPieceCount(), 100u);
    r.Then([&] {
      d = Running<CWnd_Export>(r);
      ASSERT_NE(d, nullptr);
      r.Then([&] {
        auto* box = dynamic_cast<CWnd_MessageBox*>(r.ui.GetWindowClient(r.ui.GetModalWindow()));
        ASSERT_NE(box, nullptr);
        asked = true;
        EXPECT_EQ(box->GetParent(), d);
        r.ui.PostClose(box->GetWindowHandle());  // its Cancel: the export dialog stays
        r.ui.Pump();
      });
      r.Then([&] {
        EXPECT_EQ(r.ui.GetModalWindow(), d->GetWindowHandle());
        r.Then([&] { r.Click(CWnd_Main::kCancel); });
        Press(r, *d, CWnd_Export::kCancel);
      });
      Press(r, *d, CWnd_Export::kExport);
    });
    r.Click(CWnd_Main::kExport);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
  EXPECT_TRUE(asked);
}

// The preferences the dialog ends with: the main window keeps them, its
// preview shows transparency in the chosen solid colour, its hidden
// knives take the opacity, and the store has them for the next run.
TEST(MainDialogs, TheMainWindowTakesTheNewPreferences) {
  PluginRun r;
  r.Document(klpModeRGB, kW, kH);
  r.host.SetPickedColour(true, 12, 34, 56);
  r.Then([&] {
    CWnd_Main& w = *r.Main();
    r.Then([&] {
      CWnd_Pref* d = Running<CWnd_Pref>(r);
      ASSERT_NE(d, nullptr);
      const kltRECT_s s = d->GetPictureRect(static_cast<CWnd_Pref::PICTURE>(CWnd_Pref::kSwatch0 + CPreferences::kTSolid));
      r.ClickAt(*d, (s.left + s.right) / 2, (s.top + s.bottom) / 2);
      r.ui.Pump();
      static_cast<CKLF_CtrlEditLine*>(d->GetCtrl(CWnd_Pref::kDisOpacity))->SetText("40", 1);
      Press(r, *d, CWnd_Pref::kOk);
    });
    w.DoPrefDialog();
    const CPreferences& p = w.GetPreferences();
    EXPECT_EQ(std::vector<int>({p.alphaSolid, p.alphaColorSolid.red, p.alphaColorSolid.green, p.alphaColorSolid.blue}),
              std::vector<int>({1, 12, 34, 56}));
    kltRGBA8 a, b;
    w.GetTransparencyColors(a, b);
    EXPECT_EQ(std::vector<int>({a.red, a.green, a.blue, b.red, b.green, b.blue}),
              std::vector<int>({12, 34, 56, 12, 34, 56}));
    EXPECT_EQ(w.Editor().model.hiddenKnifeOpacity, 102);
    EXPECT_EQ(p.delKnifeOpacity, 102);
    // Cancel keeps them.
    r.Then([&] { Press(r, *Running<CWnd_Pref>(r), CWnd_Pref::kCancel); });
    w.DoPrefDialog();
    EXPECT_EQ(w.GetPreferences().delKnifeOpacity, 102);
    r.Click(CWnd_Main::kCancel);
  });
  r.Dialog();
  CKLF_Storage conf;
  ASSERT_EQ(conf.Open(CKLF_String(r.dir.File("plugin.conf").c_str()), 1), 1);
  CPreferences stored;
  ASSERT_EQ(CPreferences::Read(&conf, stored), 1);
  EXPECT_EQ(std::vector<int>({stored.alphaSolid, stored.alphaColorSolid.blue, stored.delKnifeOpacity}),
            std::vector<int>({1, 56, 102}));
}

// The document's alpha channel, chosen in the channel dialog, selects the
// knives that end at the knots it marks in Layout mode and the pieces it
// marks in Puzzle mode.
TEST(MainDialogs, ChannelSelectionOfKnivesAndPieces) {
  PluginRun r;
  r.Document(klpModeRGB, kW, kH);
  ASSERT_TRUE(r.host.AddAlphaChannel(LeftThird()));
  r.host.SetChannelNames({"Red", "Green", "Blue", "Left"}, true);
  auto chooseLeft = [&] {
    CWnd_ChannelList* d = Running<CWnd_ChannelList>(r);
    ASSERT_NE(d, nullptr);
    const kltRECT_s l = d->GetCtrl(CWnd_ChannelList::kList)->GetRenderRect();
    r.ClickAt(*d, l.left + 30, l.top + 2 + 16 * 3 + 8);
    r.ui.Pump();
    Press(r, *d, CWnd_ChannelList::kOk);
  };
  r.Then([&] {
    CWnd_Main& w = *r.Main();
    r.Then(chooseLeft);
    ASSERT_EQ(w.Editor().selection.op_LoadSelection(), 1);
    u32 selected = 0;
    const u32 knives = w.Editor().model.TotalKnifeCount();
    for (u32 i = 0; i < knives; ++i) selected += w.Editor().model.NthKnife(i)->selected;
    EXPECT_GT(selected, 0u);
    EXPECT_LT(selected, knives);
    // Puzzle mode: the pieces with a pixel on the left third.
    r.Cut();
    r.Then(chooseLeft);
    w.pmop_LoadSelection(1);
    const CTessarette& e = *w.GetEngine();
    u32 matched = 0;
    for (u32 i = 0; i < e.GetPieceCount(); ++i) {
      const CTessarette::SPLITEDCELL& c = *e.GetPiece(i);
      bool left = false;
      const i32 rw = c.rect.right - c.rect.left;
      for (i32 y = c.rect.top; y < c.rect.bottom && !left; ++y)
        for (i32 x = c.rect.left; x < std::min(c.rect.right, kW / 3) && !left; ++x)
          left = c.maskBlock->GetPtr()[(y - c.rect.top) * rw + x - c.rect.left] != 0;
      EXPECT_EQ(c.selected != 0, left) << "piece " << i;
      matched += left;
    }
    EXPECT_GT(matched, 0u);
    EXPECT_LT(matched, e.GetPieceCount());
    r.Click(CWnd_Main::kCancel);
  });
  r.Dialog();
}

// Every tip of each dialog (its controls' in each state the dialog asks
// with, its zones' and its own) fits the dialog's status line.
TEST(MainDialogs, EveryTipFitsTheDialogsStatusLine) {
  PluginRun r;
  r.Document(klpModeRGB, kW, kH);
  r.Then([&] {
    CWnd_Main& w = *r.Main();
    auto status = [](CWnd_Dialog& d, u32 c) { return static_cast<CKLF_CtrlStaticText*>(d.GetCtrl(c)); };
    CWnd_Export e(w, {1, 1, 1, 1, 10, 4, 1, 3}, CExportDialogModel::Defaults());
    ASSERT_EQ(e.CreateFromResource(CWnd_Export::kName, 10, 10, &w, 1), 1);
    ExpectTipsFit(e, status(e, CWnd_Export::kStatus), "Export", {0, 1}, {"Zone_Display", "Zone_DisplayNaming"});
    CWnd_ExportLM k(w, {1, 1, 1, 1, 10, 4, 1, 3}, CExportLMDialogModel::Defaults());
    ASSERT_EQ(k.CreateFromResource(CWnd_ExportLM::kName, 10, 10, &w, 1), 1);
    ExpectTipsFit(k, status(k, CWnd_ExportLM::kStatus), "ExportLM", {0, 1}, {"Zone_Display"});
    CPluginChannelSource source(*w.GetPluginObject());
    CWnd_ChannelList c(w, source);
    ASSERT_EQ(c.CreateFromResource(CWnd_ChannelList::kName, 10, 10, &w, 1), 1);
    ExpectTipsFit(c, status(c, CWnd_ChannelList::kStatus), CWnd_ChannelList::kTips, {1, 2}, {"Zone_Preview"});
    CWnd_Pref p(w, w.GetPreferences());
    ASSERT_EQ(p.CreateFromResource(CWnd_Pref::kName, 10, 10, &w, 1), 1);
    ExpectTipsFit(p, status(p, CWnd_Pref::kStatus), CWnd_Pref::kTips, {1},
                  {"Zone_Preview", "Zone_SwatchT", "Zone_SwatchTS", "Zone_SwatchF", "Zone_SwatchFS"});
    for (CWnd_Dialog* d : std::initializer_list<CWnd_Dialog*>{&e, &k, &c, &p}) d->Close();
    r.Click(CWnd_Main::kCancel);
  });
  r.Dialog();
}
