#include <gtest/gtest.h>

#include <map>
#include <string>

#include "CExportDialogModel.h"
#include "CExportLMDialogModel.h"
#include "CKLF_Storage.h"
#include "LayoutTestSupport.h"
#include "PuzzleTestUtil.h"
#include "support/TestSupport.h"

namespace {

typedef CExportDialogModel M;
typedef CExportLMDialogModel K;

// pieces, selected, selected hidden, hidden; the flags follow from them
// (every unselected piece is shown unless all hidden pieces are unselected).
M::FACTS Facts(u32 pieces, u32 selected, u32 selectedHidden, u32 hidden) {
  M::FACTS f = {};
  f.pieces = pieces, f.selected = selected, f.selectedHidden = selectedHidden, f.hidden = hidden;
  f.anySelected = selected > 0;
  f.notAllSelected = selected < pieces;
  f.unselectedShown = pieces - selected > hidden - selectedHidden;
  f.anyHidden = hidden > 0;
  return f;
}

M::SETTINGS With(u8 what, u8 to, u8 naming = M::kExtended, u8 composite = 0, u8 hidden = 0) {
  M::SETTINGS s = M::Defaults();
  s.what = what, s.to = to, s.naming = naming, s.composite = composite, s.hidden = hidden;
  return s;
}

std::map<std::string, std::pair<int, int>> States(const M& m) {
  std::map<std::string, std::pair<int, int>> out;
  for (u32 i = 0; i < M::kControls; ++i) out[m.Controls()[i].name] = {m.Controls()[i].enabled, m.Controls()[i].checked};
  return out;
}

std::string Example(const M& m) {
  CKLF_String s;
  EXPECT_TRUE(m.NamingExample(s));
  return s.GetStr();
}

}  // namespace

// Each choice: what the export makes, which controls are enabled and the
// naming example the dialog shows.
TEST(ExportDialog, CountsEnablingAndNamingForEachChoice) {
  // 10 pieces, 4 selected (1 of them hidden), 3 hidden.
  const M::FACTS f = Facts(10, 4, 1, 3);
  struct Row {
    M::SETTINGS s;
    u32 result;
    const char* example;
  } rows[] = {
      {With(M::kAll, M::kToPSD), 7, "L112 - Piece: 95 (R: 8 / C: 12)"},
      {With(M::kAll, M::kToPSD, M::kSimple, 0, 1), 10, "Layer 112"},
      {With(M::kAll, M::kToPNG, M::kExtended, 0, 1), 7, "[file]_F0112-Piece95_R8_C12"},
      {With(M::kAll, M::kToPNG, M::kSimple), 7, "[file]_0112"},
      {With(M::kSelected, M::kToPSD), 3, "L112 - Piece: 95 (R: 8 / C: 12)"},
      {With(M::kSelected, M::kToPSD, M::kExtended, 0, 1), 4, "L112 - Piece: 95 (R: 8 / C: 12)"},
      {With(M::kSelected, M::kToPSD, M::kExtended, 1, 1), 5, "L112 - Piece: 95 (R: 8 / C: 12)"},
      {With(M::kSelected, M::kToPNG, M::kSimple, 1, 1), 4, "[file]_0112"},
      {With(M::kMerged, M::kToPSD, M::kSimple, 1, 1), 1, "Merged"},
      {With(M::kMerged, M::kToPNG), 1, "[file]"},
  };
  for (const Row& r : rows) {
    M m(f, r.s);
    SCOPED_TRACE(testing::Message() << int(r.s.what) << "/" << int(r.s.to) << "/" << int(r.s.naming));
    EXPECT_EQ(m.Result(), r.result);
    EXPECT_EQ(Example(m), r.example);
    auto st = States(m);
    const bool merged = r.s.what == M::kMerged, psd = r.s.to == M::kToPSD;
    EXPECT_EQ(st["Export_Export"], std::make_pair(1, 0));
    EXPECT_EQ(st["Export_Selected"].first, 1);
    EXPECT_EQ(st["Export_NamingSimple"], std::make_pair(merged ? 0 : 1, r.s.naming == M::kSimple ? 1 : 0));
    EXPECT_EQ(st["Export_WOBevel"].first, merged ? 0 : 1);
    EXPECT_EQ(st["Export_Composite"].first, r.s.what == M::kSelected ? 1 : 0);
    EXPECT_EQ(st["Export_Hidden"].first, psd && !merged ? 1 : 0);
    EXPECT_EQ(st["Export_FullCanvas"].first, !psd && !merged ? 1 : 0);
    EXPECT_EQ(st["Export_ToPSD"], std::make_pair(1, psd ? 1 : 0));
    // Disabled choices do not reach the export.
    const M::SETTINGS e = m.Effective();
    EXPECT_EQ(e.hidden, psd && !merged && r.s.hidden ? 1 : 0);
    EXPECT_EQ(e.composite, r.s.what == M::kSelected && r.s.composite ? 1 : 0);
  }
  // No piece selected: "Selected" turns to "All", the button is disabled.
  M none(Facts(10, 0, 0, 3), With(M::kSelected, M::kToPNG));
  EXPECT_EQ(none.Settings().what, M::kAll);
  EXPECT_EQ(States(none)["Export_Selected"], std::make_pair(0, 0));
  EXPECT_EQ(States(none)["Export_All"], std::make_pair(1, 1));
  // Every selected piece hidden and PNG: nothing to export.
  M zero(Facts(10, 2, 2, 2), With(M::kSelected, M::kToPNG));
  EXPECT_EQ(zero.Result(), 0u);
  EXPECT_EQ(Example(zero), " ---");
  EXPECT_EQ(States(zero)["Export_Export"].first, 0);
  EXPECT_EQ(States(zero)["Export_NamingExtended"].first, 0);
  // Hidden pieces only count for "Selected" when a selected one is hidden;
  // the composite needs an unselected piece that is shown.
  EXPECT_EQ(States(M(Facts(10, 4, 0, 3), With(M::kSelected, M::kToPSD)))["Export_Hidden"].first, 0);
  EXPECT_EQ(States(M(Facts(10, 4, 0, 6), With(M::kSelected, M::kToPSD)))["Export_Composite"].first, 0);
}

// The controls the user sets change the settings, and the rules follow.
TEST(ExportDialog, ControlsChangeSettings) {
  M m(Facts(10, 4, 1, 3), With(M::kAll, M::kToPSD));
  EXPECT_EQ(m.OnControl("Export_ToPNG", 1), 1);
  EXPECT_EQ(m.Settings().to, M::kToPNG);
  EXPECT_EQ(m.IsEnabled("Export_FullCanvas"), 1);
  EXPECT_EQ(m.IsEnabled("Export_Hidden"), 0);
  m.OnControl("Export_Selected", 1);
  m.OnControl("Export_Composite", 1);
  EXPECT_EQ(m.Result(), 4u);
  m.OnControl("Export_Composite", 0);
  EXPECT_EQ(m.Result(), 3u);
  m.OnControl("Export_Merged", 1);
  EXPECT_EQ(m.IsEnabled("Export_WOBevel"), 0);
  EXPECT_EQ(m.Effective().withoutBevel, 0);
  EXPECT_EQ(m.OnControl("Export_Nothing", 1), 0);
}

// The statistics text, line by line.
TEST(ExportDialog, StatisticsText) {
  CKLF_String text;
  ASSERT_TRUE(M(Facts(10, 4, 1, 3), With(M::kAll, M::kToPNG)).DisplayText(text));
  const std::string dash(33, '-');
  EXPECT_EQ(std::string(text.GetStr()), "Pieces' Statistics:\n" + dash + "\n Total :\t10\n Selected :\t4\n" + dash +
                                            "\n Shown...\n ...total :\t7\n ...selected :\t3\n\n Hidden...\n"
                                            " ...total :\t3\n ...selected :\t1\n" +
                                            dash + "\n" + dash + "\nResult: 7 files");
  ASSERT_TRUE(M(Facts(10, 4, 1, 3), With(M::kMerged, M::kToPSD)).DisplayText(text));
  EXPECT_NE(std::string(text.GetStr()).find("Result: 1 layer"), std::string::npos);
  ASSERT_TRUE(M(Facts(10, 2, 2, 2), With(M::kSelected, M::kToPNG)).DisplayText(text));
  EXPECT_NE(std::string(text.GetStr()).find("Result:  --- "), std::string::npos);
  ASSERT_TRUE(K(Facts(3, 1, 0, 0), K::Defaults()).DisplayText(text));
  EXPECT_EQ(std::string(text.GetStr()).rfind("Knives' Statistics:\n", 0), 0u);
  EXPECT_NE(std::string(text.GetStr()).find("Result: 1 knife"), std::string::npos);
}

// More than 100 layers or 500 files asks first; exactly that many does not.
TEST(ExportDialog, LargeExportsAsk) {
  CKLF_String header, text;
  const auto asks = [&](const M& m) {
    u8 ask = 2;
    EXPECT_TRUE(m.Question(header, text, ask));
    return ask;
  };
  EXPECT_EQ(asks(M(Facts(100, 0, 0, 0), With(M::kAll, M::kToPSD))), 0);
  EXPECT_EQ(asks(M(Facts(101, 0, 0, 0), With(M::kAll, M::kToPSD))), 1);
  EXPECT_STREQ(header.GetStr(), "You are about to save more than 100 layers!");
  EXPECT_EQ(asks(M(Facts(500, 0, 0, 0), With(M::kAll, M::kToPNG))), 0);
  EXPECT_EQ(asks(M(Facts(600, 0, 0, 99), With(M::kAll, M::kToPNG))), 1);
  EXPECT_STREQ(header.GetStr(), "You are about to save very many files (501)!");
  EXPECT_STREQ(text.GetStr(), "Please, make sure you know what you do...");
}

// Both dialogs' settings go to their folders of the configuration store
// and come back; a store without them gives the defaults.
TEST(ExportDialog, SettingsKeptInTheStore) {
  klftest::TempDir dir;
  CKLF_Storage conf;
  ASSERT_EQ(conf.Open(dir.File("plugin.conf").c_str(), 2), 1);
  const M::SETTINGS d = M::Read(&conf);
  EXPECT_EQ(std::vector<int>({d.what, d.to, d.naming, d.composite, d.withoutBevel, d.hidden, d.fullCanvas}),
            std::vector<int>({2, 1, 2, 1, 0, 0, 1}));
  const M::SETTINGS s = {M::kMerged, M::kToPNG, M::kSimple, 0, 1, 1, 0};
  ASSERT_EQ(M::Write(&conf, s), 1);
  ASSERT_EQ(K::Write(&conf, {K::kAll, K::kToAI}), 1);
  ASSERT_EQ(conf.Close(), 1);
  CKLF_Storage again;
  ASSERT_EQ(again.Open(dir.File("plugin.conf").c_str(), 3), 1);
  const M::SETTINGS r = M::Read(&again);
  EXPECT_EQ(std::vector<int>({r.what, r.to, r.naming, r.composite, r.withoutBevel, r.hidden, r.fullCanvas}),
            std::vector<int>({1, 2, 1, 0, 1, 1, 0}));
  u8 v = 0;
  EXPECT_TRUE(again.GetRec("Export Settings>PreservePosition", v) && v == 0);
  EXPECT_TRUE(again.GetRec("Export LM Settings>ExportTo", v) && v == K::kToAI);
  EXPECT_EQ(K::Read(&again).what, K::kAll);
  EXPECT_EQ(K::Read(nullptr).what, K::kSelected);
}

// The facts of a real cut and of a real layout, and the knife dialog's
// rules.
TEST(ExportDialog, FactsOfPiecesAndKnives) {
  puzzletest::Puzzle p(3, 2);
  const u32 n = p.engine.GetPieceCount();
  p.Piece(0).selected = 1, p.Piece(1).selected = 1, p.Piece(1).visible = 0, p.Piece(2).visible = 0;
  const M::FACTS f = M::Count(p.engine);
  EXPECT_EQ(std::vector<u32>({f.pieces, f.selected, f.selectedHidden, f.hidden}), std::vector<u32>({n, 2, 1, 2}));
  EXPECT_EQ(std::vector<int>({f.anySelected, f.notAllSelected, f.unselectedShown, f.anyHidden}),
            std::vector<int>({1, 1, 1, 1}));

  laytest::Editor ed(3, 2);
  CLayoutModel& lm = ed.model;
  const u32 knives = lm.TotalKnifeCount();
  lm.NthKnife(0)->selected = 1;
  lm.NthKnife(1)->selected = 1, lm.NthKnife(1)->hidden = 1;
  lm.NthKnife(2)->hidden = 1;
  const K::FACTS kf = K::Count(lm);
  EXPECT_EQ(std::vector<u32>({kf.pieces, kf.selected, kf.selectedHidden, kf.hidden}),
            std::vector<u32>({knives, 2, 1, 2}));
  K k(kf, K::Defaults());
  EXPECT_EQ(k.Result(), 1u);
  k.OnControl("ExportLM_All", 1);
  EXPECT_EQ(k.Result(), knives - 2);
  K none(Facts(5, 0, 0, 5), K::Defaults());
  EXPECT_EQ(none.Settings().what, K::kAll);
  EXPECT_EQ(none.IsEnabled("ExportLM_Selected"), 0);
  EXPECT_EQ(none.IsEnabled("ExportLM_Export"), 0);
}
