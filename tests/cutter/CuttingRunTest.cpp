#include <gtest/gtest.h>

#include <cstring>

#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"
#include "CutterTestUtil.h"

namespace {

typedef CTessarette::SFX_ONEPIECE Record;

// The main window of a cut: its layout, the engine and a working image of
// 12 x 404 pixels, four per row of a 101-row grid.
struct CutMain : cuttest::Main {
  CutMain() {
    EXPECT_TRUE(image.Create(12, 404, 1));
    image.Set(kltRGBA8{90, 120, 150, 255}, 255);
  }
  void Grid(u16 columns, u16 rows) {
    ASSERT_EQ(layout.spl_SplitEvenParts(columns, rows, 1, 1), 1);
    layout.thinKnives = 1;
    layout.antiAliasing = 0;
  }
  u8 engine_PutLayoutToPuzzleEngine() override { return !refuse && layout.engine_PutLayoutToPuzzleEngine(engine); }
  u8 refuse = 0;  // the engine does not take the layout
  CTessarette* GetEngine() override { return &engine; }
  CKLF_Image* GetWorkingImage() override { return &image; }
  void SetCutDone(u8 done) override { cutDone = done; }
  // The Cutter's reset state as a Layout-mode settings block.
  u8 settings_SaveCurLayoutAndCellSettingsToMem(CKLF_Mem* block, u32& length) override {
    CSettingsBlock codec;
    return codec.Write(layout, 0, nullptr, 0, block, length);
  }
  u8 settings_LoadCurLayoutAndCellSettingsFromMem(const u8* data, u32 length, u8) override {
    CSettingsBlock codec;
    const u8* records = nullptr;
    u32 count = 0;
    return codec.Read(layout, data, length, &records, count);
  }
  void GetLayoutState(u16& v, u16& h, u8& razor, u8& aa) override {
    v = layout.verticalLineCount;
    h = layout.horizontalLineCount;
    razor = layout.thinKnives;
    aa = layout.antiAliasing;
  }
  void uncm_SaveState(u32 mode, u32 sub) override { undo.push_back(mode * 10 + sub); }
  std::vector<u32> undo;
  CLayoutModel layout;
  CTessarette engine;
  CKLF_Image image;
  u8 cutDone = 0;
};

struct Cutter {
  cuttest::Window window;
  CutMain main;
  CCutterModel m;
  Cutter() {
    m.SetPorts(&window, &main);
    EXPECT_EQ(m.OnCreate(200, 225), 1);
  }

  // Every piece's record, its effects marking its cell: hue = row + shift,
  // stroke size = column; the piece at (101, 2) hidden.
  std::vector<u8> Records(int shift) {
    std::vector<u8> out(main.engine.GetPieceCount() * 92);
    for (u32 i = 0; i < main.engine.GetPieceCount(); ++i) {
      Record r;
      main.engine.PieceToRecord(i, r);
      r.hsl.hue = static_cast<i16>(r.row + shift);
      r.stroke.size = r.column;
      r.visible = !(r.row == 101 && r.column == 2);
      CTessaretteRecordCodec::Encode(r, out.data() + 92 * i);
    }
    return out;
  }
};

}  // namespace

TEST(CuttingRun, EffectsFollowTheirCellsWhenTheGridChanges) {
  Cutter t;
  t.main.Grid(2, 101);
  ASSERT_EQ(t.m.DoCutting(), 1);
  ASSERT_EQ(t.main.engine.GetPieceCount(), 202u);
  EXPECT_EQ(t.main.cutDone, 1);
  EXPECT_EQ(t.m.cutCountDiffers, 0);
  EXPECT_EQ(t.window.progress.front(), 0);
  EXPECT_EQ(t.window.progress.back(), 100);

  // One more column: cells that were there keep their effects, rows 100
  // and 101 included; the new column gets the defaults.
  std::vector<u8> old = t.Records(0);
  ASSERT_EQ(t.m.SetPendingRecords(old.data(), 202), 1);
  t.main.Grid(3, 101);
  ASSERT_EQ(t.m.DoCutting(), 1);
  ASSERT_EQ(t.main.engine.GetPieceCount(), 303u);
  EXPECT_EQ(t.m.cutCountDiffers, 1);
  u32 kept = 0;
  for (u32 i = 0; i < 303; ++i) {
    const CTessarette::SPLITEDCELL* c = t.main.engine.GetPiece(i);
    Record r;
    t.main.engine.PieceToRecord(i, r);
    const bool was = c->column <= 2;
    kept += was;
    EXPECT_EQ(r.hsl.hue, was ? static_cast<i16>(c->row) : 0) << c->row << "," << c->column;
    EXPECT_EQ(r.stroke.size, was ? c->column : t.main.engine.m_defStroke.size);
    EXPECT_EQ(r.visible, c->row == 101 && c->column == 2 ? 0 : 1);
  }
  EXPECT_EQ(kept, 202u);

  // A loaded document's records win; the same grid again keeps effects by
  // index and does not count as a change.
  Cutter u;
  u.main.Grid(3, 101);
  ASSERT_EQ(u.m.DoCutting(), 1);
  std::vector<u8> pending = u.Records(0), document = u.Records(5);
  u.m.SetPendingRecords(pending.data(), 303);
  u.m.SetDocumentRecords(document.data(), 303);
  ASSERT_EQ(u.m.DoCutting(), 1);
  EXPECT_EQ(u.m.cutCountDiffers, 0);
  for (u32 i = 0; i < 303; ++i) {
    Record r;
    u.main.engine.PieceToRecord(i, r);
    EXPECT_EQ(r.hsl.hue, static_cast<i16>(u.main.engine.GetPiece(i)->row + 5));
  }
}

TEST(CuttingRun, RecordsByCellAndAbortedCuts) {
  // The later of two records of one cell wins; cells up to (101, 101) are
  // found, beyond that nothing.
  u8 records[4 * 92] = {};
  const u8 cells[4][2] = {{5, 2}, {5, 2}, {101, 101}, {102, 1}};
  for (u32 k = 0; k < 4; ++k) {
    records[92 * k + 90] = cells[k][0];
    records[92 * k + 91] = cells[k][1];
    records[92 * k] = static_cast<u8>(k + 1);
  }
  CKLF_Mem table;
  u8 out[92] = {};
  ASSERT_EQ(CCutterModel::i_DoCuttingSetFXByRC(out, records, 4, 5, 2, table), 1);
  EXPECT_EQ(out[0], 2);
  ASSERT_EQ(CCutterModel::i_DoCuttingSetFXByRC(out, records, 4, 101, 101, table), 1);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(CCutterModel::i_DoCuttingSetFXByRC(out, records, 4, 102, 1, table), 0);
  EXPECT_EQ(CCutterModel::i_DoCuttingSetFXByRC(out, records, 4, 1, 1, table), 0);

  // Escape while cutting aborts, in the cut or in the render: the Cutter
  // stays open with Cancel disabled; the next cut closes it.
  for (int atRender = 0; atRender < 2; ++atRender) {
    Cutter t;
    t.main.Grid(3, 20);
    // One thread: the render's cancel checks come after every piece.
    t.main.engine.SetThreads(1);
    t.window.onEvents = [&] {
      // In the cut after its first steps; in the render once past the cut's 80.
      const std::vector<int>& p = t.window.progress;
      if (atRender ? !p.empty() && p.back() > 80 : p.size() > 2) t.m.DoEsc();
    };
    EXPECT_EQ(t.m.OnCut(), 0) << atRender;
    EXPECT_EQ(t.m.cutting + t.m.closingRestores + t.m.cutMade, 0);
    EXPECT_EQ(t.m.OnCancel() + t.window.closed, 0);
    EXPECT_TRUE(atRender ? t.main.engine.GetPieceCount() == 60 : t.window.progress.back() < 80);
    t.window.onEvents = nullptr;
    EXPECT_EQ(t.m.OnCut(), 1);
    EXPECT_EQ(t.window.closed + t.main.closes, 2);
  }
}

TEST(CuttingRun, CancelPutsTheLayoutBack) {
  // Without pieces, Cancel and Escape keep the window. Over pieces, Cancel
  // restores the layout of the opening (one undo point first), forgets a
  // loaded document's records and closes.
  Cutter t;
  EXPECT_EQ(t.m.closingRestores + t.m.OnCancel(), 0);
  t.m.DoEsc();
  EXPECT_EQ(t.window.closed + t.main.closes, 0);
  t.main.Grid(3, 4);
  ASSERT_EQ(t.m.DoCutting(), 1);
  CCutterModel m;
  m.SetPorts(&t.window, &t.main);
  ASSERT_EQ(m.OnCreate(200, 225), 1);
  EXPECT_EQ(m.closingRestores, 1);
  std::vector<u8> document = t.Records(0);
  m.SetDocumentRecords(document.data(), 12);
  t.main.Grid(6, 2);
  m.ExtSetRows(2);
  m.OnCloneModeChanged(4);
  ASSERT_EQ(m.OnCancel(), 1);
  EXPECT_EQ(t.main.undo, std::vector<u32>{4});
  EXPECT_EQ(t.main.layout.verticalLineCount + 10 * t.main.layout.horizontalLineCount, 32);
  EXPECT_EQ(m.rows * 10 + m.columns, 43);
  EXPECT_EQ(m.cloneMode, 1u);
  EXPECT_EQ(m.mutS, 0.0f);
  EXPECT_EQ(m.documentRecordCount, 0u);
  EXPECT_EQ(t.window.closed + t.main.closes, 2);
}

TEST(CuttingRun, OldPiecesStayUntilTheEngineHasTheLayout) {
  // Over pieces, a refused hand-over and an abort before the cut leave the
  // old pieces, and Cancel still brings the old layout back.
  for (int abort = 0; abort < 2; ++abort) {
    Cutter t;
    t.main.Grid(3, 4);
    ASSERT_EQ(t.m.DoCutting(), 1);
    CCutterModel m;
    m.SetPorts(&t.window, &t.main);
    ASSERT_EQ(m.OnCreate(200, 225), 1);
    t.main.Grid(5, 5);
    t.main.refuse = !abort;
    t.window.onEvents = [&] {
      if (abort) m.DoEsc();
    };
    EXPECT_EQ(m.OnCut(), 0);
    EXPECT_EQ(m.closingRestores * 100 + m.cutting * 10 + m.cutMade, 100);
    EXPECT_EQ(t.main.engine.GetPieceCount(), 12u);
    t.window.onEvents = nullptr;
    ASSERT_EQ(m.OnCancel(), 1);
    EXPECT_EQ(t.main.layout.verticalLineCount * 10 + t.main.layout.horizontalLineCount, 23);
  }
}

TEST(CuttingRun, ATableBeyondMemoryIsAlertedAndLeavesTheDefaults) {
  Cutter t;
  t.main.Grid(2, 3);
  ASSERT_EQ(t.m.DoCutting(), 1);
  std::vector<u8> old = t.Records(0);
  t.m.SetPendingRecords(old.data(), 6);
  // The same grid copies by index without a table; a changed one needs it.
  t.m.SetBlockLimit(1000);
  ASSERT_EQ(t.m.DoCutting(), 1);
  EXPECT_TRUE(t.window.alerts.empty());
  t.main.Grid(3, 3);
  ASSERT_EQ(t.m.DoCutting(), 1);
  EXPECT_EQ(t.window.alerts, std::vector<std::string>{"Memory allocation problem..."});
  for (u32 i = 0; i < 9; ++i) {
    Record r;
    t.main.engine.PieceToRecord(i, r);
    EXPECT_EQ(r.hsl.hue, 0) << i;
  }
}
