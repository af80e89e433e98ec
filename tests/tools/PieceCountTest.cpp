// The pieces a layout cuts against the cells it was laid out for, and the
// host program's defaults that keep the knives of its layouts apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CKLT_HostOptions.h"
#include "CKLT_LayoutShaper.h"
#include "CKLT_PieceCount.h"
#include "CKLT_SettingsSource.h"
#include "CTessarette.h"
#include "ProgramRun.h"
#include "SettingsAtLimits.h"
#include "support/TestSupport.h"

namespace {

// The default layout of a width x height area shaped by the command line
// (columns x rows a grid of its own when both are above 0), counted.
std::vector<uint8_t> Block(int32_t w, int32_t h, const std::string& line, int columns = 0, int rows = 0,
                           bool layoutMode = false) {
  std::istringstream in(line + " in.png -o out.png");
  std::vector<std::string> args;
  for (std::string a; in >> a;) args.push_back(a);
  CKLT_HostOptions o;
  std::string error;
  EXPECT_EQ(CKLT_HostOptions::Parse(args, o, error), 0) << line << ": " << error;
  std::vector<uint8_t> block;
  EXPECT_TRUE(CKLT_SettingsSource::DefaultBlock(w, h, columns, rows, layoutMode, block, error, &o.shape)) << error;
  return block;
}

CKLT_PieceCount::Counts Counted(int32_t w, int32_t h, const std::string& line, int columns = 0, int rows = 0,
                                bool layoutMode = false) {
  std::string error;
  CKLT_PieceCount::Counts counts;
  EXPECT_TRUE(CKLT_PieceCount::Count(Block(w, h, line, columns, rows, layoutMode), w, h, 2, counts, error)) << error;
  return counts;
}

// The engine holding a block's layout.
void Load(CTessarette& e, const std::vector<uint8_t>& block) {
  CKLF_Mem mem;
  ASSERT_TRUE(mem.alloc(static_cast<u32>(block.size())));
  std::copy(block.begin(), block.end(), mem.GetPtr());
  u8 layout = 0;
  u32 count = 0;
  const u8* records = nullptr;
  ASSERT_EQ(e.InitFromLastSettingsBinary(&mem, layout, count, records), 1);
}

// The pieces of a whole cut of the engine's layout on one thread.
uint32_t CutPieces(CTessarette& e, int32_t w, int32_t h) {
  std::vector<u8> plane(static_cast<size_t>(w) * h, 128);
  u8* planes[1] = {plane.data()};
  e.SetThreads(1);
  e.SetImagesOnRender(1);
  EXPECT_EQ(e.SplitCells(w, h, nullptr, 0, planes, static_cast<u32>(w), 1, 0, 100, 0), 1);
  return e.GetPieceCount();
}

typedef std::vector<uint32_t> Values;

}  // namespace

TEST(PieceCount, CellsAndPiecesOfGrids) {
  CKLT_PieceCount::Counts c = Counted(300, 200, "", 3, 2);
  EXPECT_EQ(Values({c.pieces, c.cells, c.layoutMode, c.cellsUnderKnives}), Values({6, 6, 0, 0}));
  // Knives 5 pixels wide: their band is one more piece, in both counts.
  c = Counted(300, 200, "--thickness 5", 3, 2);
  EXPECT_EQ(Values({c.pieces, c.cells}), Values({7, 7}));
  // Cells four and a half times as tall as wide: the full knobs cross.
  c = Counted(300, 200, "", 2, 6);
  EXPECT_EQ(c.cells, 12u);
  EXPECT_GT(c.pieces, c.cells);
  // Knives drawn alone are not cut.
  c = Counted(300, 200, "--layout-mode", 3, 2, true);
  EXPECT_EQ(Values({c.pieces, c.cells, c.layoutMode}), Values({0, 0, 1}));
  // A block the engine refuses is said.
  CKLT_PieceCount::Counts none;
  std::string error;
  EXPECT_FALSE(CKLT_PieceCount::Count({1, 1, 0, 200}, 300, 200, 1, none, error));
  EXPECT_FALSE(error.empty());
  // 100 x 100 lines on 64 x 48 pixels: cells under a pixel, narrower than
  // the knives, which join them; the layout still has its 101 x 101 cells.
  c = Counted(64, 48, "", 101, 101);
  EXPECT_EQ(c.cells, 101u * 101u);
  EXPECT_TRUE(c.cellsUnderKnives);
}

TEST(PieceCount, SettingsAtTheLimitsCutNothingOrTooMuch) {
  const std::vector<uint8_t> block = SettingsAtLimits(1);
  CKLT_PieceCount::Counts c;
  std::string error;
  // On a small picture the knives cover every pixel: no piece.
  ASSERT_TRUE(CKLT_PieceCount::Count(block, 32, 24, 2, c, error)) << error;
  EXPECT_EQ(c.pieces, 0u);
  // On a larger one the extra knives cross into more pieces than the
  // engine takes: said as that.
  EXPECT_FALSE(CKLT_PieceCount::Count(block, 1000, 750, 2, c, error));
  EXPECT_TRUE(c.tooMany);
  EXPECT_GT(c.pieces, 99999u);
  EXPECT_EQ(error, "the cut gives more than 99999 pieces");
}

TEST(PieceCount, TheDefaultKnobSizeKeepsTrianglesAndHexagonsApart) {
  // Pieces of about their regular shape: the default knob size cuts as
  // many pieces as cells, where the Cutter's full knob crosses.
  const struct {
    int32_t w, h;
    const char* layout;
  } rows[] = {{600, 400, "--hexagons 3x5"},           {600, 400, "--hexagons 3x5 --regular"},
              {400, 600, "--hexagons 2x3 --regular"}, {600, 400, "--triangles 4x7 --regular"},
              {400, 600, "--triangles 4x7 --regular"}, {400, 600, "--triangles 3x3"}};
  uint32_t crossAtFull = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.layout);
    const CKLT_PieceCount::Counts c = Counted(row.w, row.h, row.layout);
    EXPECT_EQ(c.pieces, c.cells);
    const CKLT_PieceCount::Counts full = Counted(row.w, row.h, std::string(row.layout) + " --knob-size 100");
    EXPECT_EQ(full.cells, c.cells);
    crossAtFull += full.pieces != full.cells;
  }
  EXPECT_GE(crossAtFull, 3u);
}

TEST(PieceCount, RandomKnotsUpToTheSafeAmountKeepGridKnivesApart) {
  const std::string safe = "--random-knots " + std::to_string(CKLT_LayoutShaper::kSafeKnots);
  uint32_t crossed = 0;
  const int grids[][2] = {{3, 2}, {4, 3}, {6, 4}, {8, 5}};
  for (const auto& g : grids)
    for (int seed = 1; seed <= 8; ++seed) {
      SCOPED_TRACE(std::to_string(g[0]) + "x" + std::to_string(g[1]) + " seed " + std::to_string(seed));
      const std::string s = " --seed " + std::to_string(seed);
      const CKLT_PieceCount::Counts c = Counted(600, 400, safe + s, g[0], g[1]);
      EXPECT_EQ(c.pieces, c.cells);
      const CKLT_PieceCount::Counts more = Counted(600, 400, "--random-knots 30" + s, g[0], g[1]);
      crossed += more.pieces != more.cells;
    }
  EXPECT_GE(crossed, 4u) << "thirty per cent crosses on some seeds";
}

// The counts are those of whole cuts of the layout and of its straightened
// knives, in the four knife modes, over the host's layouts: grids with
// knots moved at random (knives that cross and touch), triangles, hexagons,
// thin knives and thick ones.
TEST(PieceCount, CountsAreThoseOfWholeCuts) {
  const struct {
    int32_t w, h;
    int columns, rows;
    const char* line;
  } layouts[] = {{300, 200, 4, 3, "--random-knots 60 --seed 3"},
                 {300, 200, 5, 2, "--random-knots 90 --seed 8 --knob-size 100"},
                 {240, 260, 0, 0, "--triangles 4x5 --thickness 4"},
                 {240, 260, 0, 0, "--triangles 3x3 --knob-size 100"},
                 {300, 200, 0, 0, "--hexagons 3x4 --regular --knob-size 100"},
                 {300, 200, 0, 0, "--hexagons 2x3 --thickness 9 --random-knots 40 --seed 5"},
                 {300, 200, 3, 2, "--thickness 12 --knob-size 100"}};
  const u8 modes[][2] = {{1, 1}, {1, 0}, {0, 0}, {0, 1}};
  uint32_t differ = 0;
  for (const auto& l : layouts) {
    const std::vector<uint8_t> block = Block(l.w, l.h, l.line, l.columns, l.rows);
    for (const auto& m : modes) {
      SCOPED_TRACE(std::string(l.line) + " thin " + std::to_string(m[0]) + " aa " + std::to_string(m[1]));
      CTessarette counted, cut;
      for (CTessarette* e : {&counted, &cut}) {
        Load(*e, block);
        e->m_thinKnife = m[0];
        e->m_antiAlias = m[1];
      }
      counted.SetThreads(3);
      CKLT_PieceCount::Counts c;
      std::string error;
      ASSERT_TRUE(CKLT_PieceCount::Count(counted, l.w, l.h, c, error)) << error;
      EXPECT_EQ(c.pieces, CutPieces(cut, l.w, l.h));
      CKLT_PieceCount::Straighten(cut);
      EXPECT_EQ(c.cells, CutPieces(cut, l.w, l.h));
      differ += c.pieces != c.cells;
    }
  }
  EXPECT_GE(differ, 8u) << "knives that cross or touch";
}

namespace {

// The host program run on a picture of width x height (made once in dir).
hostprogram::Outcome Cut(const klftest::TempDir& dir, int32_t w, int32_t h, const std::string& options) {
  const std::string in = dir.File(std::to_string(w) + "x" + std::to_string(h) + ".png");
  if (!std::filesystem::exists(in))
    hostprogram::Write(hostprogram::OneLayer(klpModeRGB, w, h, [](int c, int32_t i) { return uint8_t(i * (c + 1)); }),
                       in);
  return hostprogram::RunProgram(std::string("-q --threads 2 --plugin ") + KLF_PLUGIN_LIBRARY + " " + options + " " +
                                 in + " -o " + dir.File("out.png"));
}

bool Says(const hostprogram::Outcome& o, const std::string& text) { return o.out.find(text) != std::string::npos; }

const char kSlivers[] = "cut slivers off";

}  // namespace

// A note of slivers says what brings the layout to where its knives were
// measured apart, and following it keeps them apart; where nothing is
// known (triangles) it says so instead of a remedy that does not work.
TEST(PieceCount, TheNoteAfterTheCutGivesARemedyThatWorks) {
  klftest::TempDir dir;
  const struct {
    int32_t w, h;
    const char* layout;
    const char* advice;  // the note's words after "cut slivers off; "
    const char* remedied;  // the layout with the advice followed: no slivers
  } cases[] = {
      {512, 512, "--triangles 4x7 --regular", "no option is known to keep the knives of triangles apart", nullptr},
      {512, 512, "--triangles 4x7 --regular --knob-size 1", "no option is known", nullptr},
      {300, 451, "--grid 8x5 --random-knots 10 --flip random",
       "to keep them apart, give --grid cells under 2:1 (these are 2.4:1) and lower --knob-size to 60",
       "--grid 5x5 --random-knots 10 --flip random --knob-size 60"},
      {600, 400, "--grid 3x8", "give --grid cells under 2:1 (these are 4.0:1) or lower --knob-size to 30",
       "--grid 3x8 --knob-size 30"},
      {600, 400, "--grid 8x5 --random-knots 40 --seed 3", "lower --random-knots (to 10 at most)",
       "--grid 8x5 --random-knots 10 --seed 3"},
      {300, 451, "--grid 12x18 --thickness 3", "to keep them apart, leave out --thickness", "--grid 12x18"},
      {600, 400, "--hexagons 3x5 --knob-size 100", "to keep them apart, add --regular and lower --knob-size to 60",
       "--hexagons 3x5 --regular --knob-size 60"},
      {600, 400, "--hexagons 4x4 --regular",
       "give --hexagons counts that leave margins of a fifth of a side or more (these leave 0.1 pixels, the side is "
       "92.3)",
       "--hexagons 4x5 --regular"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    const hostprogram::Outcome o = Cut(dir, c.w, c.h, c.layout);
    ASSERT_EQ(o.code, 0) << o.out;
    EXPECT_TRUE(Says(o, std::string(kSlivers) + "; ") && Says(o, c.advice)) << o.out;
    if (c.remedied) {
      EXPECT_FALSE(Says(Cut(dir, c.w, c.h, c.remedied), "the cut gave")) << c.remedied;
    } else {
      EXPECT_FALSE(Says(o, "--knob-size")) << o.out;
    }
  }
}

// A regular layout whose margin on either side is larger than one of its
// shapes says so, with figures worked out here from the shapes' geometry.
TEST(PieceCount, LargeMarginsOfRegularLayoutsAreSaid) {
  klftest::TempDir dir;
  // 600 x 400, 3 rows of 5 hexagon columns: the width sets the side,
  // 600 / (5 x 1.5 + 0.5) = 75; 8 whole hexagons of 3 sqrt(3) / 2 x 75^2
  // each (6.1 % of the picture, 49 % together); above and below them
  // (400 - 4 x sin 60 x 75) / 2 = 70.1 rows, 17.5 % each.
  hostprogram::Outcome o = Cut(dir, 600, 400, "--hexagons 3x5 --regular");
  EXPECT_TRUE(Says(o, "note: the 8 whole hexagons of --regular cover 49 % of the picture; the margins above and below "
                     "them, 18 % each, are larger than a hexagon (6.1 %)"))
      << o.out;
  EXPECT_FALSE(Says(o, "the cut gave")) << o.out;
  // 1200 x 800, 4 rows of 7 triangles: the height sets the side,
  // 800 / (4 sin 60) = 230.9; the band is 4 x 230.9 wide, leaving 138.2
  // columns a side (11.5 %) against a triangle's 2.4 %; 28 of them, 67 %.
  o = Cut(dir, 1200, 800, "--triangles 4x7 --regular --layout-mode");
  EXPECT_TRUE(Says(o, "the 28 whole triangles of --regular cover 67 % of the picture; the margins left and right of "
                     "them, 12 % each, are larger than a triangle (2.4 %)"))
      << o.out;
  // Margins smaller than a shape, none at all, and layouts not regular
  // are not said.
  for (const char* quiet :
       {"--hexagons 2x3 --regular", "--hexagons 3x5", "--triangles 4x7 --layout-mode", "--grid 3x2"}) {
    o = Cut(dir, 300, 200, quiet);
    EXPECT_FALSE(Says(o, "margins")) << quiet << "\n" << o.out;
  }
}

// What the help says keeps knives apart does, on the sizes of the
// photographs it was measured on; and what it says nothing does for
// triangles holds: at every knob size some of them cut slivers.
TEST(PieceCount, TheHelpsClaimsHoldOnPhotographSizes) {
  typedef CKLT_LayoutShaper S;
  const int32_t sizes[][2] = {{512, 512}, {300, 451}, {600, 400}, {872, 1000}};
  const std::string knots = " --random-knots " + std::to_string(S::kSafeKnots);
  const std::string flippedKnob = " --flip random --knob-size " + std::to_string(S::kShapeKnobSize);
  for (const auto& size : sizes)
    for (int seed = 1; seed <= 2; ++seed) {
      const std::string s = " --seed " + std::to_string(seed);
      SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]) + s);
      // The default grid, cells under 2:1: random knots, flipped knobs.
      CKLT_PieceCount::Counts c = Counted(size[0], size[1], knots + flippedKnob + s);
      EXPECT_LT(c.cellRatio, S::kLongestCell);
      EXPECT_EQ(c.pieces, c.cells);
      // Cells of 4:1 and longer with small knobs as laid.
      const bool wide = size[0] > size[1];
      c = Counted(size[0], size[1],
                  "--random-knots " + std::to_string(S::kLongCellKnots) + " --knob-size " +
                      std::to_string(S::kLongCellKnob) + s,
                  wide ? 3 : 16, wide ? 8 : 4);
      EXPECT_GE(c.cellRatio, 4.0);
      EXPECT_EQ(c.pieces, c.cells);
    }
  // Regular hexagons with margins of a fifth of a side or more, at both
  // ends of their knob sizes, flipped.
  for (const auto& size : sizes)
    for (const char* counts : {"2x3", "3x5", "5x8"})
      for (int knob : {S::kLeastShapeKnob, S::kShapeKnobSize}) {
        const std::string line =
            std::string("--hexagons ") + counts + " --regular --flip random --knob-size " + std::to_string(knob);
        SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]) + " " + line);
        const CKLT_PieceCount::Counts c = Counted(size[0], size[1], line);
        EXPECT_EQ(c.pieces, c.cells);
      }
  for (int knob : {1, 30, 60, 100}) {
    uint32_t slivered = 0;
    for (const auto& size : sizes)
      for (const char* regular : {"", " --regular"}) {
        const CKLT_PieceCount::Counts c =
            Counted(size[0], size[1], std::string("--triangles 4x7 --knob-size ") + std::to_string(knob) + regular);
        slivered += c.pieces > c.cells;
      }
    EXPECT_GT(slivered, 0u) << "triangles at knob size " << knob;
  }
}
