// The export dialogs as a user works them: the choices clicked, what the
// controls, the statistics and the naming example then show, the
// questions before very large exports, the settings kept in the
// configuration store, the status tips, and the exports the dialogs run
// (PNG files of a real cut into a folder, knives into an EPS file).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "CExportRun.h"
#include "CMainDialogs.h"
#include "CWnd_Export.h"
#include "CWnd_ExportLM.h"
#include "DialogTestUtil.h"
#include "LayoutTestSupport.h"

namespace {

typedef CWnd_Export W;
typedef CExportDialogModel M;

std::string Result(const std::string& statistics) {
  const size_t at = statistics.rfind("Result: ");
  return at == std::string::npos ? "" : statistics.substr(at + 8);
}

// The names in a folder, sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ExportWindowTest : public dlgtest::DialogTest {
 protected:
  // The dialog over facts and settings, shown at (100, 80).
  W& Open(const M::FACTS& facts, const M::SETTINGS& settings) {
    w = std::make_unique<W>(port, facts, settings);
    EXPECT_EQ(w->CreateFromResource(W::kName, 100, 80, &main, 1), 1);
    w->RenderRect(klNullRect);
    w->Show();
    w->SetFocus();
    ui.Pump();
    return *w;
  }
  // Enabled flags of the controls whose state depends on the choices.
  std::vector<u8> Enabled() {
    std::vector<u8> e;
    for (u32 c : {W::kSelected, W::kComposite, W::kWOBevel, W::kHidden, W::kFullCanvas, W::kNamingSimple,
                  W::kNamingExtended, W::kExport})
      e.push_back(w->GetCtrl(c)->IsEnabled());
    return e;
  }
  std::vector<u8> Checked() {
    std::vector<u8> e;
    for (u32 c = W::kMerged; c <= W::kFullCanvas; ++c) e.push_back(w->GetCtrl(c)->GetCheck());
    return e;
  }
  std::unique_ptr<W> w;
};

// 10 pieces: 4 selected (1 of them hidden), 3 hidden in all.
const M::FACTS kTen = {1, 1, 1, 1, 10, 4, 1, 3};

}  // namespace

// Each choice clicked: the controls it enables, the count of layers or
// files in the statistics and the naming example it shows.
TEST_F(ExportWindowTest, CountsEnablingAndNamingForEachChoice) {
  Open(kTen, M::Defaults());
  EXPECT_EQ(Text(*w, W::kDisplay),
            "Pieces' Statistics:\n---------------------------------\n Total :\t10\n Selected :\t4\n"
            "---------------------------------\n Shown...\n ...total :\t7\n ...selected :\t3\n\n Hidden...\n"
            " ...total :\t3\n ...selected :\t1\n---------------------------------\n"
            "---------------------------------\nResult: 4 layers");
  const struct {
    u32 press;
    const char* result;
    const char* example;
    std::vector<u8> enabled;  // Selected, Composite, WOBevel, Hidden, FullCanvas, Simple, Extended, Export
  } steps[] = {
      // Selected to PSD: the 3 shown selected pieces and the composite.
      {W::kControlCount, "4 layers", "L112 - Piece: 95 (R: 8 / C: 12)", {1, 1, 1, 1, 0, 1, 1, 1}},
      {W::kHidden, "5 layers", "L112 - Piece: 95 (R: 8 / C: 12)", {1, 1, 1, 1, 0, 1, 1, 1}},
      {W::kComposite, "4 layers", "L112 - Piece: 95 (R: 8 / C: 12)", {1, 1, 1, 1, 0, 1, 1, 1}},
      {W::kNamingSimple, "4 layers", "Layer 112", {1, 1, 1, 1, 0, 1, 1, 1}},
      // PNG leaves the hidden pieces out whatever the check box says.
      {W::kToPNG, "3 files", "[file]_0112", {1, 1, 1, 0, 1, 1, 1, 1}},
      {W::kNamingExtended, "3 files", "[file]_F0112-Piece95_R8_C12", {1, 1, 1, 0, 1, 1, 1, 1}},
      {W::kAll, "7 files", "[file]_F0112-Piece95_R8_C12", {1, 0, 1, 0, 1, 1, 1, 1}},
      {W::kToPSD, "10 layers", "L112 - Piece: 95 (R: 8 / C: 12)", {1, 0, 1, 1, 0, 1, 1, 1}},
      {W::kHidden, "7 layers", "L112 - Piece: 95 (R: 8 / C: 12)", {1, 0, 1, 1, 0, 1, 1, 1}},
      // Merged is one image: no naming choice, no bevel choice.
      {W::kMerged, "1 layer", "Merged", {1, 0, 0, 0, 0, 0, 0, 1}},
      {W::kToPNG, "1 file", "[file]", {1, 0, 0, 0, 0, 0, 0, 1}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.result + std::string(" / ") + s.example);
    if (s.press != W::kControlCount) Press(*w, s.press);
    EXPECT_EQ(Result(Text(*w, W::kDisplay)), s.result);
    EXPECT_EQ(Text(*w, W::kNamingDisp), s.example);
    EXPECT_EQ(Enabled(), s.enabled);
    EXPECT_EQ(w->GetModel().Result(), static_cast<u32>(std::stoi(s.result)));
  }
  // The radio buttons and check boxes show the settings the clicks made.
  EXPECT_EQ(Checked(), std::vector<u8>({1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(w->GetModel().Settings().to, M::kToPNG);
}

// With no piece selected the dialog opens on All although the store says
// Selected; with every piece hidden nothing can be exported to PNG files.
TEST_F(ExportWindowTest, NothingSelectedOrNothingToWrite) {
  Open({0, 1, 1, 1, 6, 0, 0, 2}, M::Defaults());
  EXPECT_EQ(Checked()[W::kAll - W::kMerged], 1);
  EXPECT_EQ(Enabled(), std::vector<u8>({0, 0, 1, 1, 0, 1, 1, 1}));
  EXPECT_EQ(Result(Text(*w, W::kDisplay)), "4 layers");
  w.reset();
  M::SETTINGS png = M::Defaults();
  png.to = M::kToPNG;
  Open({0, 1, 0, 1, 5, 0, 0, 5}, png);
  EXPECT_EQ(Result(Text(*w, W::kDisplay)), " --- ");
  EXPECT_EQ(Text(*w, W::kNamingDisp), " ---");
  EXPECT_EQ(w->GetCtrl(W::kExport)->IsEnabled(), 0);
  EXPECT_EQ(w->GetCtrl(W::kNamingSimple)->IsEnabled(), 0);
  // Export, even sent, ends nothing.
  w->OnOK();
  EXPECT_TRUE(w->IsVisible());
}

// More than 100 layers or 500 files asks first; any answer but yes keeps
// the dialog open; 100 layers and 500 files do not ask. Export stores the
// window's place.
TEST_F(ExportWindowTest, VeryLargeExportsAskFirst) {
  M::SETTINGS all = M::Defaults();
  all.what = M::kAll;
  const struct {
    u32 pieces;
    u8 to;
    const char* box;
  } cases[] = {
      {101, M::kToPSD,
       "You are about to save more than 100 layers!|An old versions of Adobe Photoshop and some over hosts,\n"
       "may not open such PSD document.|1|4"},
      {100, M::kToPSD, nullptr},
      {501, M::kToPNG, "You are about to save very many files (501)!|Please, make sure you know what you do...|1|4"},
      {500, M::kToPNG, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pieces);
    port.boxes.clear();
    port.answer = 0;
    all.to = c.to;
    Open({0, 1, 1, 0, c.pieces, 0, 0, 0}, all);
    i32 result = -1;
    InLoop([&] {
      Press(*w, W::kExport);
      if (c.box) {
        EXPECT_TRUE(w->IsVisible());
        port.answer = 1;
        Press(*w, W::kExport);
      }
    });
    result = w->DoModal();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(port.boxes, c.box ? std::vector<std::string>(2, c.box) : std::vector<std::string>());
    const kltSIZE_s at = plugin.WindowPosFromConf("Export", "Main", klNullSize, 1);
    EXPECT_EQ(at.horizontal, 100);
    EXPECT_EQ(at.vertical, 80);
  }
}

// The tips of the controls (with their enabled state and type) and of the
// two texts fade in on the status line; the Help menu opens under its
// button and its choice goes to the application; Escape cancels.
TEST_F(ExportWindowTest, StatusTipsHelpAndEscape) {
  Open(kTen, M::Defaults());
  EXPECT_EQ(Status(*w, W::kStatus), "Export//1/128");
  Hover(*w, Box(*w, W::kToPNG).x, Box(*w, W::kToPNG).y);
  EXPECT_EQ(Status(*w, W::kStatus), "Export/Export_ToPNG/1/6");
  Hover(*w, Box(*w, W::kFullCanvas).x, Box(*w, W::kFullCanvas).y);
  EXPECT_EQ(Status(*w, W::kStatus), "Export/Export_FullCanvas/0/7");
  Hover(*w, Centre(*w, W::kDisplay).x, Centre(*w, W::kDisplay).y);
  EXPECT_EQ(Status(*w, W::kStatus), "Export/Zone_Display/1/255");
  Hover(*w, Centre(*w, W::kNamingDisp).x, Centre(*w, W::kNamingDisp).y);
  EXPECT_EQ(Status(*w, W::kStatus), "Export/Zone_DisplayNaming/1/255");
  // The text fades out before the next one fades in.
  Hover(*w, 5, 200);
  ui.AdvanceClock(60);
  EXPECT_EQ(Text(*w, W::kStatus), "Export/Zone_DisplayNaming/1/255");
  EXPECT_LT(static_cast<CKLF_CtrlStaticText*>(w->GetCtrl(W::kStatus))->GetOpacity(), 255);
  EXPECT_EQ(Status(*w, W::kStatus), "Export//1/128");
  ui.AnswerMenu(0);
  Press(*w, W::kHelp);
  ASSERT_EQ(ui.Log().menus.size(), 1u);
  EXPECT_EQ(ui.Log().menuPoints.back().x, 100 + 306);
  EXPECT_EQ(port.helpCommands, std::vector<u16>({300}));
  InLoop([&] { Key(klpVKEscape, 27); });
  EXPECT_EQ(w->DoModal(), 0);
  EXPECT_FALSE(w->IsVisible());
  EXPECT_EQ(plugin.WindowPosFromConf("Export", "Main", klNullSize, 1).horizontal, -32000);
}

// Return presses Export, the dialogs' default button: the piece dialog
// ends with 1 and keeps its place, the knife dialog too; with nothing to
// export it stays open, as Export does.
TEST_F(ExportWindowTest, ReturnPressesExport) {
  Open(kTen, M::Defaults());
  InLoop([&] { Key(0x24, 13); });
  EXPECT_EQ(w->DoModal(), 1);
  EXPECT_EQ(plugin.WindowPosFromConf("Export", "Main", klNullSize, 1).horizontal, 100);
  M::SETTINGS png = M::Defaults();
  png.to = M::kToPNG;
  Open({0, 1, 0, 1, 5, 0, 0, 5}, png);
  InLoop([&] {
    Key(0x24, 13);
    EXPECT_TRUE(w->IsVisible());
    Key(klpVKEscape, 27);
  });
  EXPECT_EQ(w->DoModal(), 0);
  typedef CWnd_ExportLM K;
  K k(port, {1, 1, 1, 1, 12, 3, 1, 2}, CExportLMDialogModel::Defaults());
  ASSERT_EQ(k.CreateFromResource(K::kName, 60, 40, &main, 1), 1);
  k.Show();
  k.SetFocus();
  InLoop([&] { Key(0x24, 13); });
  EXPECT_EQ(k.DoModal(), 1);
}

// The settings come from the store and go back only when the dialog ends
// with Export; the export then writes one PNG file a piece of a real cut
// into the chosen folder, named after the typed name.
TEST_F(ExportWindowTest, SettingsKeptAndPNGFilesExported) {
  puzzletest::Puzzle puzzle(3, 2);
  const u32 pieces = puzzle.engine.GetPieceCount();
  ASSERT_EQ(Conf()->AddFolder("Export Settings"), 1);
  ASSERT_EQ(Conf()->SetRecord("Export Settings>ExportTo", static_cast<u8>(M::kToPNG)), 1);
  ASSERT_EQ(Conf()->SetRecord("Export Settings>NamingMode", static_cast<u8>(M::kSimple)), 1);
  // Cancel: the choices are not kept.
  InLoop([&] {
    W* d = Running<W>();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->GetCtrl(W::kToPNG)->GetCheck(), 1);
    EXPECT_EQ(d->GetCtrl(W::kNamingSimple)->GetCheck(), 1);
    EXPECT_EQ(d->GetCtrl(W::kAll)->GetCheck(), 1);  // nothing is selected
    Press(*d, W::kToPSD);
    Press(*d, W::kCancel);
  });
  EXPECT_EQ(CMainDialogs::DoExportDialog(port, puzzle.engine).outcome, CMainDialogs::kCancelled);
  u8 to = 0;
  EXPECT_TRUE(Conf()->GetRec("Export Settings>ExportTo", to) && to == M::kToPNG);
  // Export, and the save question cancelled: the choices are kept, nothing
  // is written.
  InLoop([&] {
    W* d = Running<W>();
    Press(*d, W::kNamingExtended);
    Press(*d, W::kExport);
  });
  EXPECT_EQ(CMainDialogs::DoExportDialog(port, puzzle.engine).outcome, CMainDialogs::kCancelled);
  u8 naming = 0;
  EXPECT_TRUE(Conf()->GetRec("Export Settings>NamingMode", naming) && naming == M::kExtended);
  EXPECT_TRUE(ui.Log().questions.back().save);
  EXPECT_FALSE(ui.Log().questions.back().confirmReplace);  // the typed name itself is not written
  // Export into a folder: a file a piece, named by the typed name (its
  // extension added) and the Extended pattern.
  const std::string folder = dir.File("out");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ui.AnswerFile({true, folder + "/lake"});
  InLoop([&] { Press(*Running<W>(), W::kExport); });
  const CMainDialogs::EXPORTED e = CMainDialogs::DoExportDialog(port, puzzle.engine);
  EXPECT_EQ(e.outcome, CMainDialogs::kExported);
  EXPECT_EQ(e.files, pieces);
  EXPECT_EQ(e.skipped, 0u);
  const std::vector<std::string> names = Names(folder);
  ASSERT_EQ(names.size(), pieces);
  for (u32 i = 0; i < pieces; ++i) {
    const std::string want = "lake_F000" + std::to_string(i + 1) + "-Piece";
    EXPECT_EQ(names[i].substr(0, want.size()), want) << names[i];
    EXPECT_EQ(names[i].substr(names[i].size() - 4), ".png") << names[i];
  }
  EXPECT_TRUE(port.alerts.empty());
}

// A document that is not RGB is refused before any dialog opens.
TEST_F(ExportWindowTest, OnlyRGBDocumentsExport) {
  puzzletest::Puzzle puzzle(2, 2);
  plugin.GetPluginDataPtr()->colorKind = 0;
  EXPECT_EQ(CMainDialogs::DoExportDialog(port, puzzle.engine).outcome, CMainDialogs::kRefused);
  EXPECT_EQ(port.boxes, std::vector<std::string>({"Unsupported Color mode for Export!|Export feature is supported "
                                                  "ONLY for \ndocuments in the RGB color mode.|0|1"}));
  EXPECT_EQ(ui.Log().stalls, 0u);  // no modal loop ran
}

// The knife dialog: its counts and enabling, its tips, and the EPS file
// it writes of a real layout, its settings kept.
TEST_F(ExportWindowTest, KnifeExport) {
  typedef CWnd_ExportLM K;
  typedef CExportLMDialogModel KM;
  K k(port, {1, 1, 1, 1, 12, 3, 1, 2}, KM::Defaults());
  ASSERT_EQ(k.CreateFromResource(K::kName, 60, 40, &main, 1), 1);
  k.RenderRect(klNullRect);
  k.Show();
  EXPECT_EQ(Result(Text(k, K::kDisplay)), "2 knives");
  EXPECT_EQ(Text(k, K::kDisplay).substr(0, 20), "Knives' Statistics:\n");
  Press(k, K::kAll);
  EXPECT_EQ(Result(Text(k, K::kDisplay)), "10 knives");
  Press(k, K::kToAI);
  EXPECT_EQ(k.GetModel().Settings().to, KM::kToAI);
  Hover(k, Centre(k, K::kDisplay).x, Centre(k, K::kDisplay).y);
  EXPECT_EQ(Status(k, K::kStatus), "ExportLM/Zone_Display/1/255");
  k.Close();
  // No knife selected: All, Selected disabled.
  K none(port, {0, 1, 1, 0, 12, 0, 0, 0}, KM::Defaults());
  ASSERT_EQ(none.CreateFromResource(K::kName, 60, 40, &main, 1), 1);
  EXPECT_EQ(none.GetCtrl(K::kAll)->GetCheck(), 1);
  EXPECT_EQ(none.GetCtrl(K::kSelected)->IsEnabled(), 0);
  none.Close();

  laytest::Editor editor(4, 3);
  editor.model.NthKnife(0)->selected = editor.model.NthKnife(5)->selected = 1;
  ui.AnswerFile({true, dir.File("knives")});
  InLoop([&] {
    K* d = Running<K>();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Result(Text(*d, K::kDisplay)), "2 knives");
    Press(*d, K::kExport);
  });
  const CMainDialogs::EXPORTED e = CMainDialogs::DoExportLMDialog(port, editor.model);
  EXPECT_EQ(e.outcome, CMainDialogs::kExported);
  const std::vector<u8> eps = klftest::ReadFileBytes(dir.File("knives.eps"));
  EXPECT_EQ(std::string(eps.begin(), eps.begin() + std::min<size_t>(eps.size(), 10)), "%!PS-Adobe");
  u8 what = 0, to = 0;
  EXPECT_TRUE(Conf()->GetRec("Export LM Settings>ExportWhat", what) && what == KM::kSelected);
  EXPECT_TRUE(Conf()->GetRec("Export LM Settings>ExportTo", to) && to == KM::kToEPS);
  EXPECT_EQ(plugin.WindowPosFromConf("ExportLM", "Main", klNullSize, 1).horizontal != -32000, true);
  // A save question without memory: the export fails, told once.
  ui.AnswerFile({false, "", true});
  InLoop([&] { Press(*Running<K>(), K::kExport); });
  EXPECT_EQ(CMainDialogs::DoExportLMDialog(port, editor.model).outcome, CMainDialogs::kFailed);
  EXPECT_EQ(ui.Log().alerts.size() + port.alerts.size(), 1u);
}

// A chosen name gets its extension unless it has it, in any case.
TEST(MainDialogs, SavePathsGetTheirExtension) {
  const struct {
    const char* path;
    const char* ext;
    const char* want;
  } cases[] = {{"/a/pieces", "psd", "/a/pieces.psd"},   {"/a/pieces.PSD", "psd", "/a/pieces.PSD"},
               {"/a/p.psd.png", "psd", "/a/p.psd.png.psd"}, {"/a/x.jpg", "png", "/a/x.jpg.png"},
               {"/a/k.eps", "eps", "/a/k.eps"}};
  for (const auto& c : cases) {
    CKLF_String out;
    ASSERT_TRUE(CMainDialogs::WithExtension(c.path, c.ext, out));
    EXPECT_STREQ(out.GetStr(), c.want) << c.path;
  }
}
