// How many pieces a settings block cuts an area into, against the cells its
// layout was laid out for. Knives that cross or touch cut slivers (more
// pieces) or join cells (fewer); the host program says so after a run.
//
// Both counts are the engine's own cut of the area without an outer mask:
// the pieces with the knives as they are; the cells with every shown knife
// straight between knots that have not moved, on the same knife width,
// over the area scaled up as far as the grid's cells need to be wider than
// the knives on the whole (a 100 x 100 grid on a picture of 64 x 48 pixels
// still has 10201 cells).
//
// Cost: two counts of the area's regions (a knife mask of one or two bytes
// a pixel and the runs of its rows, no piece), on the given threads; a
// scaled count of the cells takes at most 16 Mi pixels (larger: the cells
// are not counted).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CTessarette;

class CKLT_PieceCount {
 public:
  struct Counts {
    uint32_t pieces = 0;
    uint32_t cells = 0;  // 0: not counted (cells too small for a count)
    // The cut gives more pieces than the engine takes (pieces holds how
    // many), and Count fails.
    bool tooMany = false;
    // The grid's cells are narrower than its knives on the area: the cut
    // joins them.
    bool cellsUnderKnives = false;
    bool layoutMode = false;  // the block draws the knives: nothing is cut
    // The grid's most elongated cell, its long side over its short one
    // (1 for square cells; 0 when the block is not cut).
    double cellRatio = 0;
  };

  // Counts for a block handed to the plug-in over an area of width x
  // height. false with the reason in error (a block the engine refuses,
  // memory).
  [[nodiscard]] static bool Count(const std::vector<uint8_t>& block, int32_t width, int32_t height, uint32_t threads,
                                  Counts& counts, std::string& error);
  // The same for the layout an engine holds (a Puzzle-mode one); it is
  // left straightened.
  [[nodiscard]] static bool Count(CTessarette& e, int32_t width, int32_t height, Counts& counts, std::string& error);
  // Every shown knife straight and every knot back on its splitter
  // crossing: the cells the layout was laid out for.
  static void Straighten(CTessarette& e);
  // The most elongated cell of the engine's grid over width x height.
  static double CellRatio(const CTessarette& e, int32_t width, int32_t height);
};
