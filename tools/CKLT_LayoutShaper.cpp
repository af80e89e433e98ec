#include "CKLT_LayoutShaper.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "CCutterServices.h"
#include "CKLT_HostOptions.h"
#include "CLayoutEditor.h"
#include "CLayoutRandom.h"

namespace {

// The Cutter of a run without a window: it holds the default knob shape and
// answers every call without showing anything.
class HeadlessCutter : public CCutterServices {
 public:
  HeadlessCutter() {
    CLayoutModel::KNIFESTRUCT knob = {};
    CLayoutModel::settings_SetDefaultKnife(&knob);
    nodeCount = static_cast<u8>(knob.pointCount);
    for (u32 j = 0; j < knob.pointCount; ++j) {
      nodes[j] = {knob.pointH[j], knob.pointU[j]};
      nodeS[j] = knob.pointS[j];
      nodeSelected[j] = 1;
    }
  }
  void opSetShapeFromData(SPLINE_STRUCT*, u8) override {}
  i32 ExtSetRows(u16 r) override { return rows = BringInto1to100(r), 0; }
  i32 ExtSetColumns(u16 c) override { return columns = BringInto1to100(c), 0; }
  void NotifiedByMain_NewThickness(u16, u8, u8) override {}
  void NotifiedByMain_NewKnobSize(u16, u8) override {}
  void SetInitialStatesToControls() override {}
  void settings_SaveWindowPosition() override {}
  u8 settings_SaveLastKnife() override { return 1; }
};

bool Int(const std::string& s, int64_t low, int64_t high, int64_t& out) {
  uint64_t v = 0;
  if (!CKLT_HostOptions::ParseNumber(s.c_str(), static_cast<uint64_t>(low), static_cast<uint64_t>(high), v))
    return false;
  out = static_cast<int64_t>(v);
  return true;
}

// "RxC" with R in 1..maxRows and C in 1..maxCount.
bool Pair(const std::string& v, int64_t maxRows, int64_t maxCount, int& rows, int& count) {
  const size_t x = v.find_first_of("xX");
  int64_t r = 0, c = 0;
  if (x == std::string::npos || !Int(v.substr(0, x), 1, maxRows, r) || !Int(v.substr(x + 1), 1, maxCount, c))
    return false;
  rows = static_cast<int>(r);
  count = static_cast<int>(c);
  return true;
}

}  // namespace

int CKLT_LayoutShaper::ParseOption(const std::vector<std::string>& args, size_t& i, Options& o, std::string& error) {
  const std::string& a = args[i];
  static const struct {
    const char* name;
    const char* value;  // the value's name; null for a flag
    const char* range;  // what bad values are told
  } kOptions[] = {{"--random-knots", "PERCENT", "0..100"},
                  {"--seed", "N", "0..9223372036854775807"},
                  {"--flip", "random|alternate", "random or alternate"},
                  {"--knob-size", "PERCENT", "1..100"},
                  {"--thickness", "N", "1..100"},
                  {"--triangles", "RxN", "rows x triangles a row, 1..98 x 1..97"},
                  {"--hexagons", "RxC", "rows x columns, 1..97 x 1..48"},
                  {"--regular", nullptr, nullptr}};
  const auto* option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                    [&](const decltype(kOptions[0])& k) { return a == k.name; });
  if (option == std::end(kOptions)) return 0;
  if (!option->value) return o.regular = true, 1;
  if (i + 1 >= args.size()) return error = a + " needs a value (" + option->value + ")", -1;
  const std::string& v = args[++i];
  int64_t n = 0;
  bool ok = true;
  if (a == "--random-knots") {
    ok = Int(v, 0, 100, n), o.knots = static_cast<int>(n);
  } else if (a == "--seed") {
    ok = Int(v, 0, INT64_MAX, n), o.seed = static_cast<uint64_t>(n), o.seedGiven = true;
  } else if (a == "--flip") {
    ok = v == "random" || v == "alternate";
    o.flips = v == "random" ? kRandomFlips : kAlternateFlips;
  } else if (a == "--knob-size" || a == "--thickness") {
    ok = Int(v, 1, 100, n);
    (a == "--knob-size" ? o.knobSize : o.thickness) = static_cast<int>(n);
  } else {
    const int shape = a == "--triangles" ? kTriangles : kHexagons;
    if (o.shape != kGrid && o.shape != shape)
      return error = "--triangles and --hexagons lay different layouts: give one of them", -1;
    ok = shape == kTriangles ? Pair(v, 98, 97, o.shapeRows, o.shapeCount) : Pair(v, 97, 48, o.shapeRows, o.shapeCount);
    o.shape = shape;
  }
  if (!ok) return error = "bad " + a + " " + v + " (" + option->range + ")", -1;
  return 1;
}

std::vector<std::string> CKLT_LayoutShaper::Given(const Options& o) {
  std::vector<std::string> names;
  if (o.shape == kTriangles) names.push_back("--triangles");
  if (o.shape == kHexagons) names.push_back("--hexagons");
  if (o.regular) names.push_back("--regular");
  if (o.knots >= 0) names.push_back("--random-knots");
  if (o.flips != kNoFlips) names.push_back("--flip");
  if (o.knobSize > 0) names.push_back("--knob-size");
  if (o.thickness > 0) names.push_back("--thickness");
  if (o.seedGiven) names.push_back("--seed");
  return names;
}

bool CKLT_LayoutShaper::Check(const Options& o, bool grid, std::string& error) {
  if (grid && o.shape != kGrid) {
    error = std::string(o.shape == kTriangles ? "--triangles" : "--hexagons") +
            " lays its own grid: it does not go with --grid";
    return false;
  }
  if (o.flips == kAlternateFlips && o.shape != kGrid) {
    error = "--flip alternate turns grid knives in turn; triangles and hexagons take --flip random";
    return false;
  }
  if (o.regular && o.shape == kGrid) {
    error = "--regular goes with --triangles or --hexagons";
    return false;
  }
  if (o.seedGiven && o.seed != Options().seed && o.knots <= 0 && o.flips != kRandomFlips) {
    error = "--seed seeds --random-knots and --flip random: without them it changes nothing";
    return false;
  }
  return true;
}

namespace {

typedef CKLT_LayoutShaper S;

// A regular layout on an area, in pixels: the side of its shapes, how many
// are whole, the area of one, and the margin on either side of the band
// they are laid in (0 when they fill the area).
struct Regular {
  double side = 0, shapeArea = 0, margin = 0, marginWidth = 0;
  uint32_t whole = 0;
  bool marginColumns = false;
};

Regular RegularOf(const S::Options& o, int32_t width, int32_t height) {
  Regular g;
  const double s60 = std::sin(3.14159265358979323846 / 3.0), W = width, H = height;
  const uint32_t rows = static_cast<uint32_t>(o.shapeRows), count = static_cast<uint32_t>(o.shapeCount);
  const bool triangles = o.shape == S::kTriangles;
  // The band's width and height in sides.
  const double across = triangles ? count * 0.5 + 0.5 : count * 1.5 + 0.5;
  const double down = (triangles ? rows : rows + 1) * s60;
  if (W <= 0 || H <= 0) return g;
  g.side = std::min(W / across, H / down);
  g.shapeArea = g.side * g.side * (triangles ? s60 / 2 : 3 * s60);
  // Hexagon columns from the first take the top half-row, the others start
  // half a hexagon lower.
  g.whole = triangles ? rows * count : (count + 1) / 2 * ((rows + 1) / 2) + count / 2 * (rows / 2);
  g.marginColumns = W / across > H / down;
  g.marginWidth = g.marginColumns ? (W - g.side * across) / 2 : (H - g.side * down) / 2;
  g.margin = g.marginWidth * (g.marginColumns ? H : W);
  return g;
}

std::string Percent(double part, double whole) {
  char text[32];
  const double p = 100.0 * part / whole;
  std::snprintf(text, sizeof text, p < 9.95 ? "%.1f %%" : "%.0f %%", p);
  return text;
}

// One decimal, rounded down, so that a value short of a limit never reads
// as the limit.
std::string Ratio(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", std::floor(v * 10) / 10);
  return text;
}

}  // namespace

namespace {

void GridAdvice(const S::Options& o, double cellRatio, std::vector<std::string>& ways) {
  const bool flipped = o.flips != S::kNoFlips;
  const int knob = o.knobSize > 0 ? o.knobSize : 100;
  if (o.knots > S::kSafeKnots)
    ways.push_back("lower --random-knots (to " + std::to_string(S::kSafeKnots) + " at most)");
  if (cellRatio >= S::kLongestCell) {
    std::string way = "give --grid cells under " + std::to_string(S::kLongestCell) + ":1 (these are " +
                      Ratio(cellRatio) + ":1)";
    // Long cells keep apart too with small knobs, as laid or nearly.
    if (!flipped && o.thickness == 0 && o.knots <= S::kLongCellKnots && knob > S::kLongCellKnob)
      way += " or lower --knob-size to " + std::to_string(S::kLongCellKnob);
    ways.push_back(way);
  }
  if (flipped && knob > S::kShapeKnobSize) ways.push_back("lower --knob-size to " + std::to_string(S::kShapeKnobSize));
  if (o.thickness > 0) ways.push_back("leave out --thickness");
}

void HexagonAdvice(const S::Options& o, int32_t width, int32_t height, std::vector<std::string>& ways) {
  if (!o.regular) ways.push_back("add --regular");
  const Regular g = RegularOf(o, width, height);
  if (o.regular && g.marginWidth > 0 && g.marginWidth * S::kLeastMargin < g.side)
    ways.push_back("give --hexagons counts that leave margins of a fifth of a side or more (these leave " +
                   Ratio(g.marginWidth) + " pixels, the side is " + Ratio(g.side) + ")");
  if (o.knobSize > S::kShapeKnobSize) ways.push_back("lower --knob-size to " + std::to_string(S::kShapeKnobSize));
  if (o.knobSize > 0 && o.knobSize < S::kLeastShapeKnob)
    ways.push_back("raise --knob-size to " + std::to_string(S::kLeastShapeKnob));
  if (o.knots > 0) ways.push_back("leave out --random-knots");
  if (o.thickness > 0) ways.push_back("leave out --thickness");
}

}  // namespace

std::vector<std::string> CKLT_LayoutShaper::Advice(const Options& o, int32_t width, int32_t height,
                                                   double cellRatio) {
  std::vector<std::string> ways;
  if (o.shape == kGrid) GridAdvice(o, cellRatio, ways);
  if (o.shape == kHexagons) HexagonAdvice(o, width, height, ways);
  return ways;
}

std::string CKLT_LayoutShaper::Remedy(const Options& o, int32_t width, int32_t height, double cellRatio) {
  const std::vector<std::string> ways = Advice(o, width, height, cellRatio);
  if (ways.empty())
    return o.shape == kTriangles ? "no option is known to keep the knives of triangles apart"
                                 : "no option is known to keep these knives apart";
  std::string text = "to keep them apart, ";
  for (size_t i = 0; i < ways.size(); ++i) text += (i == 0 ? "" : i + 1 == ways.size() ? " and " : ", ") + ways[i];
  return text;
}

std::string CKLT_LayoutShaper::MarginNote(const Options& o, int32_t width, int32_t height) {
  if (!o.regular || o.shape == kGrid) return std::string();
  const Regular g = RegularOf(o, width, height);
  if (g.margin <= g.shapeArea) return std::string();
  const char* shape = o.shape == kTriangles ? "triangle" : "hexagon";
  const double all = static_cast<double>(width) * height;
  return "the " + std::to_string(g.whole) + " whole " + shape + "s of --regular cover " +
         Percent(g.whole * g.shapeArea, all) + " of the picture; the margins " +
         (g.marginColumns ? "left and right of them, " : "above and below them, ") + Percent(g.margin, all) +
         " each, are larger than a " + shape + " (" + Percent(g.shapeArea, all) +
         ") and go to the pieces along them";
}

std::string CKLT_LayoutShaper::Usage() {
  std::string u =
      "  --triangles RxN        a layout of R rows of N triangles (1..98 x 1..97);\n"
      "                         six knives meet at each inner knot, and on some\n"
      "                         pictures they cut slivers there at every knob size\n"
      "  --hexagons RxC         R rows of C hexagon columns (1..97 x 1..48)\n"
      "  --regular              triangles or hexagons with equal sides, centred: the\n"
      "                         rest of the picture is a margin on two sides, which\n"
      "                         goes to the pieces along it (said when larger than\n"
      "                         a shape); hexagons need it to keep their knives apart,\n"
      "                         with margins of none or a fifth of a side or more\n"
      "  --random-knots PERCENT move the knots at random by up to PERCENT (0..100);\n"
      "                         up to {KNOTS} keeps a grid's knives apart on cells under\n"
      "                         {LONG}:1 (with --flip, at --knob-size {SHAPEKNOB} or less); more,\n"
      "                         or longer cells, can cut slivers\n"
      "  --flip random|alternate  turn knobs the other way at random, or every\n"
      "                         other grid knife; flipped full knobs can cross\n"
      "  --knob-size PERCENT    knob size (1..100; 100 the full knob, the grid's\n"
      "                         default); triangles and hexagons take {SHAPEKNOB}.\n"
      "                         Regular hexagons keep knives apart from {LEASTKNOB} to {SHAPEKNOB},\n"
      "                         flipped grid knobs at {SHAPEKNOB} or less, grid cells of {LONG}:1\n"
      "                         or longer at {LONGKNOB} or less with knobs as laid and\n"
      "                         --random-knots {LONGKNOTS} or less; no size keeps the\n"
      "                         knives of triangles apart\n"
      "  --thickness N          knives N pixels wide (1..100) instead of thin ones:\n"
      "                         the band a knife covers becomes a piece of its own, a\n"
      "                         strip between the pieces with their effects (bevelled\n"
      "                         by default), which takes the band's pixels from them;\n"
      "                         it can cut slivers with random knots, flips, hexagons\n"
      "                         or small cells\n"
      "  --seed N               the random seed of --random-knots and --flip random\n"
      "                         (default 1): the same command gives the same puzzle\n";
  const std::pair<const char*, int> values[] = {
      {"{KNOTS}", kSafeKnots},          {"{LONG}", kLongestCell},       {"{SHAPEKNOB}", kShapeKnobSize},
      {"{LEASTKNOB}", kLeastShapeKnob}, {"{LONGKNOB}", kLongCellKnob}, {"{LONGKNOTS}", kLongCellKnots}};
  for (const auto& v : values)
    for (size_t at; (at = u.find(v.first)) != std::string::npos;)
      u.replace(at, std::strlen(v.first), std::to_string(v.second));
  return u;
}

bool CKLT_LayoutShaper::Shape(const Options& o, CLayoutEditor& e, std::string& error) {
  CLayoutModel& m = e.model;
  HeadlessCutter cutter;
  CLayoutSeededRandom random(o.seed);
  m.SetCutter(&cutter);
  m.SetRandom(&random);
  bool ok = true;
  if (o.shape == kTriangles) ok = e.autoLayout.AutoLayout_Triangles(o.shapeRows, o.shapeCount, o.regular) != 0;
  if (o.shape == kHexagons) ok = e.autoLayout.AutoLayout_Hexagons(o.shapeRows, o.shapeCount, o.regular) != 0;
  // The auto layouts leave their visible knives selected: what follows acts
  // on them, as it would in the dialog.
  const int knobSize = o.knobSize > 0 ? o.knobSize : o.shape != kGrid ? kShapeKnobSize : 0;
  if (ok && knobSize > 0) {
    cutter.knobSize = static_cast<u16>(knobSize);
    e.shapes.OnCutterUpdateKnifeSize(static_cast<u32>(knobSize));
  }
  if (ok && o.thickness > 0) {
    cutter.thickness = static_cast<u16>(o.thickness);
    e.shapes.OnCutterUpdateKnifeThickness(static_cast<u32>(o.thickness), 0);
  }
  if (ok && o.knots >= 0) {
    m.knotRandomAmount = static_cast<f32>(o.knots / 100.0);
    m.spl_AutoFillKnots(0);
  }
  if (ok && o.flips == kRandomFlips) e.selection.op_RandFlip(1, 0, 1, 0);
  if (ok && o.flips == kAlternateFlips) e.selection.op_Interleaved(1, 0, 1, 0);
  if (ok) e.selection.op_SetSelToAllKnives(0, 0, 1, 1, 1);
  m.SetCutter(nullptr);
  m.SetRandom(nullptr);
  if (!ok) error = "cannot lay the grid (out of memory)";
  return ok;
}
