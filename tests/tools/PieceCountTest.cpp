// The pieces a layout cuts against the cells it was laid out for, and the
// host program's defaults that keep the knives of its layouts apart.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "CKLT_HostOptions.h"
#include "CKLT_LayoutShaper.h"
#include "CKLT_PieceCount.h"
#include "CKLT_SettingsSource.h"

namespace {

// The default layout of a width x height area shaped by the command line
// (columns x rows a grid of its own when both are above 0), counted.
CKLT_PieceCount::Counts Counted(int32_t w, int32_t h, const std::string& line, int columns = 0, int rows = 0,
                                bool layoutMode = false) {
  std::istringstream in(line + " in.png -o out.png");
  std::vector<std::string> args;
  for (std::string a; in >> a;) args.push_back(a);
  CKLT_HostOptions o;
  std::string error;
  EXPECT_EQ(CKLT_HostOptions::Parse(args, o, error), 0) << line << ": " << error;
  std::vector<uint8_t> block;
  EXPECT_TRUE(CKLT_SettingsSource::DefaultBlock(w, h, columns, rows, layoutMode, block, error, &o.shape)) << error;
  CKLT_PieceCount::Counts counts;
  EXPECT_TRUE(CKLT_PieceCount::Count(block, w, h, 2, counts, error)) << error;
  return counts;
}

typedef std::vector<uint32_t> Values;

}  // namespace

TEST(PieceCount, CellsAndPiecesOfGrids) {
  CKLT_PieceCount::Counts c = Counted(300, 200, "", 3, 2);
  EXPECT_EQ(Values({c.pieces, c.cells, c.layoutMode}), Values({6, 6, 0}));
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
