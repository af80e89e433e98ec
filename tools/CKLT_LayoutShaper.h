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
  // The knob size triangles and hexagons take unless one is given: their
  // knobs stay apart where the pieces keep about their regular shape (the
  // Cutter's own default, 100, crosses there).
  static const int kShapeKnobSize = 60;
  // Random knot offsets up to this keep the knives of a grid apart at any
  // seed; more can make neighbouring knives cross.
  static const int kSafeKnots = 10;

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
  static int ParseOption(const std::vector<std::string>& args, size_t& i, Options& o, std::string& error);
  // The options against each other and a grid given on the command line:
  // no grid with an auto layout; knives in turn are grid knives; a seed
  // needs something random. false with the reason in error.
  static bool Check(const Options& o, bool grid, std::string& error);
  // The names of the shaping options given.
  static std::vector<std::string> Given(const Options& o);
  // What may keep the knives of the default layout so shaped apart
  // ("lower --knob-size", "add --regular"...).
  static std::vector<std::string> Advice(const Options& o);
  // The options' lines of the help text.
  static std::string Usage();

  // Shapes the editor's layout, a grid already laid with its knives.
  // false with the reason in error (memory).
  static bool Shape(const Options& o, CLayoutEditor& editor, std::string& error);
};
