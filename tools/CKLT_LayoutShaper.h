// The host program's layout shaping: the default layout handed to the
// plug-in shaped with the layout editor's own operations, as a user shapes
// it in the dialog: random knot offsets, knob directions flipped at random
// or in turn, knob size and knife thickness, triangle and hexagon layouts.
// The random source is seeded, so the same command gives the same puzzle
// on every machine. A Cutter stand-in holds the default knob shape that new
// knives take.
//
// Cost: linear in the knives, except the auto layouts, whose extra knives
// are checked against each other (quadratic; about 14000 at the limits).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CLayoutEditor;

class CKLT_LayoutShaper {
 public:
  enum Flips { kNoFlips = 0, kRandomFlips = 1, kAlternateFlips = 2 };
  enum Shape { kGrid = 0, kTriangles = 1, kHexagons = 2 };
  // What keeps knives apart, measured by cutting photographs of several
  // shapes (3:2, 1:1, portraits) on three to seven seeds; outside these,
  // knives cross or meet at narrow angles and cut slivers on some pictures.
  // Grids: cells under kLongestCell:1, random knots up to kSafeKnots per
  // cent, knobs flipped (at random or in turn) no larger than
  // kShapeKnobSize, thin knives (thick ones cut slivers on small cells); or
  // cells of any length (up to 6:1 measured) with knobs as laid, random
  // knots up to kLongCellKnots and knob sizes up to kLongCellKnob.
  // Hexagons: --regular with margins of none or 1/kLeastMargin of a side
  // or more, knob sizes kLeastShapeKnob to kShapeKnobSize, knots as laid,
  // thin knives. Triangles: nothing tried keeps them apart on every
  // picture (six knives meet at a knot).
  static constexpr int kShapeKnobSize = 60;  // also the knob size of triangles and hexagons unless given
  static constexpr int kLeastShapeKnob = 30;
  static constexpr int kSafeKnots = 10;
  static constexpr int kLongestCell = 2;
  static constexpr int kLeastMargin = 5;
  static constexpr int kLongCellKnob = 30;
  static constexpr int kLongCellKnots = 5;

  struct Options {
    int knots = -1;  // random knot offsets in per cent (0..100); -1 leaves them
    uint64_t seed = 1;
    int flips = kNoFlips;
    int knobSize = 0;   // 1..100; 0 keeps a grid's knives' own, kShapeKnobSize for the others
    int thickness = 0;  // 1..100 pixels, the band a piece of its own; 0 keeps thin knives
    int shape = kGrid;
    int shapeRows = 0;
    int shapeCount = 0;  // triangles a row, or hexagon columns
    bool regular = false;
    bool seedGiven = false;

    bool Any() const {
      return knots >= 0 || flips != kNoFlips || knobSize > 0 || thickness > 0 || shape != kGrid || regular ||
             seedGiven;
    }
  };

  // Takes args[i] when it is a shaping option (and its value, moving i on
  // to it): 1; 0 when it is none; -1 with the reason in error.
  [[nodiscard]] static int ParseOption(const std::vector<std::string>& args, size_t& i, Options& o, std::string& error);
  // The options against each other and a grid given on the command line:
  // no grid with an auto layout; knives in turn are grid knives; a seed
  // other than the default needs something random. false with the reason in error.
  [[nodiscard]] static bool Check(const Options& o, bool grid, std::string& error);
  // The names of the shaping options given.
  static std::vector<std::string> Given(const Options& o);
  // What brings the default layout so shaped to where its knives were
  // measured apart ("lower --knob-size to 60", "add --regular"...), for a
  // grid whose most elongated cell is cellRatio:1. Empty when nothing is
  // known to (triangles, or a layout already there). width x height: the
  // area the layout is laid on.
  static std::vector<std::string> Advice(const Options& o, int32_t width, int32_t height, double cellRatio);
  // The words after a note of slivers or joined cells: the advice, or that
  // no option is known to keep the knives apart.
  static std::string Remedy(const Options& o, int32_t width, int32_t height, double cellRatio);
  // A note when a regular layout on a width x height area leaves a margin
  // on either side larger than one of its shapes; empty otherwise.
  static std::string MarginNote(const Options& o, int32_t width, int32_t height);
  // The options' lines of the help text.
  static std::string Usage();

  // Shapes the editor's layout, a grid already laid with its knives.
  // false with the reason in error (memory).
  [[nodiscard]] static bool Shape(const Options& o, CLayoutEditor& editor, std::string& error);
};
