#include <gtest/gtest.h>

#include "CKLF_StdFile.h"
#include "CLayoutModel.h"
#include "CSettingsPersistence.h"
#include "PuzzleTestUtil.h"
#include "support/TestSupport.h"

using puzzletest::Bytes;
using puzzletest::Puzzle;
using puzzletest::Records;

namespace {

// The default layout of a 48 x 32 image (3 x 2 knob knives), two knives
// flipped.
void KnobLayout(CLayoutModel& m) {
  m.SetImageSize(48, 32);
  EXPECT_EQ(m.settings_LoadDefaults(), 1);
  EXPECT_EQ(m.verticalLineCount * 10 + m.horizontalLineCount, 21);
  m.vKnives[1].flipH = m.hKnives[0].flipU = 1;
}

// The layout's block, or with an engine the Puzzle-mode block of its pieces.
Bytes Block(const CLayoutModel& m, const CTessarette* pieces = nullptr) {
  CSettingsBlock codec;
  CKLF_Mem mem;
  u32 length = 0;
  EXPECT_EQ(pieces ? codec.WritePuzzle(m, *pieces, &mem, length) : codec.Write(m, 0, nullptr, 0, &mem, length), 1);
  return Bytes(mem.GetPtr(), mem.GetPtr() + length);
}

Bytes Knobs() {
  CLayoutModel m;
  KnobLayout(m);
  return Block(m);
}

// The main window's models over a cut of a layout, with its persistence.
struct Main {
  CLayoutModel layout;
  Puzzle puzzle;
  CSettingsPersistence settings;
  // The knob layout, cut.
  Main() : Main(Knobs()) { KnobLayout(layout); }
  explicit Main(const Bytes& block) : puzzle(block), settings(layout, puzzle.model, puzzle.port) {
    layout.SetImageSize(48, 32);
    // The Cutter opens with the records of the pieces there are.
    puzzle.port.openCutter = [this] {
      layout.cutter = &puzzle.cutter;
      puzzle.model.layoutMode = 1;
      const Bytes own = Records(puzzle.engine);
      puzzle.cutter.SetPendingRecords(own.data(), puzzle.engine.GetPieceCount());
    };
  }
};

}  // namespace

// Save Document in Puzzle mode, then Load Document elsewhere: the same
// layout, and the Cutter's next cut gives the same pieces with the same
// effects, visibility and selection. The records of the pieces the Cutter
// was opened with stay beside the document's (its reset goes back to them).
TEST(SettingsPersistence, SaveThenLoadDocument) {
  klftest::TempDir dir;
  const std::string path = dir.File("puzzle.klpd");
  Main a;
  a.puzzle.model.contextPiece = 2;
  a.puzzle.model.pmfx_SwitchFX(CPuzzleModel::kBlur, 1, 1);
  a.puzzle.model.pmop_ShowHidePiece(3, 0, 0);
  a.puzzle.model.pmop_Sel_SetSelectionToPiece(1, 1, 0, 0);
  a.puzzle.port.save = [&](CMainWindowPort::WriterProc writer, void* data) {
    CKLF_StdFile file;
    return static_cast<u8>(file.Open(path.c_str(), 4) && writer(&file, data) && file.Close());
  };
  ASSERT_EQ(a.settings.OnSaveDocument(), 1);

  // The Cutter there holds the records it was opened with; the document's
  // go beside them (a reset forgets them again).
  Main b(Bytes(100, 0));  // any other layout
  const Bytes own = Records(b.puzzle.engine);
  b.puzzle.port.openPath = path;
  ASSERT_EQ(b.settings.OnLoadDocument(), 1);
  EXPECT_EQ(b.puzzle.port.cutterOpens + b.puzzle.port.undoPoints, 2);
  EXPECT_EQ(Block(b.layout), Knobs());
  const laytest::FakeCutter& cutter = b.puzzle.cutter;
  EXPECT_EQ(cutter.columns * 100 + cutter.rows * 10 + cutter.thick[0], 323);
  const Bytes records = Records(a.puzzle.engine);
  ASSERT_EQ(cutter.documentRecordCount, a.puzzle.engine.GetPieceCount());
  EXPECT_EQ(Bytes(cutter.documentRecords, cutter.documentRecords + records.size()), records);
  EXPECT_EQ(Bytes(cutter.pendingRecords, cutter.pendingRecords + 92 * cutter.pendingRecordCount), own);
  Puzzle cut(Block(b.layout));
  for (u32 i = 0; i < cut.engine.GetPieceCount(); ++i) {
    CTessarette::SFX_ONEPIECE rec;
    ASSERT_EQ(CTessaretteRecordCodec::Decode(cutter.documentRecords + 92 * i, 92, rec), 1);
    cut.engine.RecordToPiece(rec, i, 1, 1);
    ASSERT_TRUE(cut.engine.RenderPiece(i));
  }
  EXPECT_EQ(Records(cut.engine), records);
}

// A document that cannot be read, or whose block does not fit the layout
// it describes, is refused with its alert and the layout stays as it was;
// an older document is read by the older reader.
TEST(SettingsPersistence, LoadDocumentRefusesAndKeepsTheLayout) {
  klftest::TempDir dir;
  Main main;
  const Bytes puzzle = Block(main.layout, &main.puzzle.engine), layout = Knobs();
  auto doc = [](const char* magic, Bytes body) {
    body.insert(body.begin(), magic, magic + 6);
    return body;
  };
  Bytes badKnots = layout;
  badKnots[25] ^= 1;  // the knot count's low byte, after 3 line positions
  // H = V = 0, 4 knots, no knives, thickness 0, knob size 50, anti-aliasing.
  Bytes old = {0, 0, 0, 0, 0, 0, 0, 0, 0, 4};
  old.resize(old.size() + 32 + 8);
  old.insert(old.end(), {0, 0, 0, 50, 1});
  const char* unknown = "Unknow file format or file corrupt...";
  struct Case {
    Bytes file;
    const char* alert;  // null: read
  } cases[] = {
      {Bytes({'K', 'L', 'T', 'S', '3', '0', 0, 0, 0}), unknown},
      {doc("KLTS31", layout), unknown},
      {doc("KLTS30", badKnots), unknown},
      {doc("KLTS30", Bytes(puzzle.begin(), puzzle.end() - 10)), unknown},
      {doc("KLTS30", Bytes(layout.begin(), layout.begin() + 4)), unknown},
      {Bytes(), "Error reading data file..."},  // no file
      {doc("KLTS20", old), nullptr},
  };
  for (const Case& c : cases) {
    const std::string path = dir.File("doc.klpd");
    std::remove(path.c_str());
    if (!c.file.empty()) {
      ASSERT_TRUE(klftest::WriteFileBytes(path, c.file));
    }
    main.puzzle.port.openPath = path;
    main.puzzle.port.alerts.clear();
    EXPECT_EQ(main.settings.OnLoadDocument(), c.alert ? 0 : 1);
    if (!c.alert) break;
    ASSERT_EQ(main.puzzle.port.alerts.size(), 1u);
    EXPECT_EQ(main.puzzle.port.alerts[0], c.alert);
    EXPECT_EQ(Block(main.layout), layout);
    EXPECT_EQ(main.puzzle.port.cutterOpens + main.puzzle.port.undoPoints, 0);
  }
  EXPECT_EQ(main.layout.knotCount, 4u);
  EXPECT_EQ(main.layout.thinKnives, 1);
  EXPECT_EQ(main.puzzle.cutter.documentRecordCount, 0u);
}

// Start-up: the scripting parameters before "last.data", a block that does
// not fit gives the defaults without a word, piece records wait for the
// Cutter; memory or a file that cannot be read fails the start, the layout
// as it was. Apply stores the block in both places, and tells a store that
// fails for memory or the file (the host's own refusal is not ours to tell).
TEST(SettingsPersistence, StartUpAndApply) {
  Main main;
  const Bytes puzzle = Block(main.layout, &main.puzzle.engine);
  std::map<std::string, Bytes>& files = main.puzzle.port.files;
  std::map<std::string, u16>& failing = main.puzzle.port.failing;
  const char* last = CSettingsPersistence::kLastData;
  CLayoutModel one;
  one.spl_SplitEvenParts(1, 1, 1, 1);
  struct Case {
    Bytes script, last;
    u32 records;
    u16 lines;  // horizontal and vertical line counts, x 10
    std::map<std::string, u16> failing = {};
    u16 error = 0;
  } cases[] = {{{}, puzzle, 6, 12},
               {Block(one), puzzle, 0, 0},
               {{}, Bytes(20, 1), 0, 12},
               {{}, {}, 0, 12},
               {{}, puzzle, 0, 0, {{"script", klErrNoMemory}}, klErrNoMemory},
               {{}, puzzle, 0, 0, {{last, klErrNoMemory}}, klErrNoMemory},
               {{}, puzzle, 0, 0, {{last, klErrFileRead}}, klErrFileRead}};
  for (const Case& c : cases) {
    files.clear();
    failing = c.failing;
    if (!c.script.empty()) files["script"] = c.script;
    if (!c.last.empty()) files[last] = c.last;
    main.layout.spl_SplitEvenParts(1, 1, 1, 1);
    ASSERT_EQ(main.settings.settings_LoadCurLayoutAndCellSettings(), c.error ? 0 : 1) << c.error;
    if (c.error) {
      EXPECT_EQ(main.settings.GetError(), c.error);
    }
    EXPECT_EQ(main.settings.pendingRecordCount, c.records);
    EXPECT_EQ(main.layout.horizontalLineCount * 10 + main.layout.verticalLineCount, c.lines);
    if (c.records) {
      EXPECT_EQ(Bytes(main.settings.pendingRecords, main.settings.pendingRecords + 92 * c.records),
                Bytes(puzzle.end() - 92 * c.records, puzzle.end()));
    }
  }
  EXPECT_TRUE(main.puzzle.port.alerts.empty());
  KnobLayout(main.layout);
  const struct {
    std::map<std::string, u16> failing;
    std::vector<std::string> alerts;
  } kApply[] = {{{}, {}},
                {{{"script", klErrBadArg}}, {}},
                {{{"script", klErrNoMemory}}, {"Memory allocation problem..."}},
                {{{last, klErrFileWrite}}, {"Cannot write file..."}}};
  for (const auto& a : kApply) {
    files.clear();
    failing = a.failing;
    main.puzzle.port.alerts.clear();
    EXPECT_EQ(main.settings.settings_SaveCurLayoutAndCellSettings(), a.alerts.empty() ? 1 : 0);
    EXPECT_EQ(main.puzzle.port.alerts, a.alerts);
    if (!failing.count(last)) {
      EXPECT_EQ(files[last], puzzle);
    }
  }
  EXPECT_EQ(files["script"], puzzle);
}
