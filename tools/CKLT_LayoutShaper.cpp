#include "CKLT_LayoutShaper.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdlib>

#include "CCutterServices.h"
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
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 10);
  if (errno || *end || v < static_cast<unsigned long long>(low) || v > static_cast<unsigned long long>(high))
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
  if (o.seedGiven && o.knots <= 0 && o.flips != kRandomFlips) {
    error = "--seed seeds --random-knots and --flip random: without them it changes nothing";
    return false;
  }
  return true;
}

std::vector<std::string> CKLT_LayoutShaper::Advice(const Options& o) {
  std::vector<std::string> ways;
  if (o.knots > kSafeKnots) ways.push_back("lower --random-knots (to " + std::to_string(kSafeKnots) + " at most)");
  ways.push_back("lower --knob-size");
  if (o.shape == kGrid) ways.push_back("give --grid cells closer to square");
  if (o.shape != kGrid && !o.regular) ways.push_back("add --regular");
  return ways;
}

std::string CKLT_LayoutShaper::Usage() {
  std::string u =
      "  --triangles RxN        a layout of R rows of N triangles (1..98 x 1..97)\n"
         "  --hexagons RxC         a layout of R rows of C hexagon columns (1..97 x 1..48)\n"
         "  --regular              triangles or hexagons with equal sides, centred\n"
         "  --random-knots PERCENT move the knots at random by up to PERCENT (0..100);\n"
         "                         above KNOTS the knives of neighbouring knots can cross\n"
         "                         and cut slivers\n"
         "  --flip random|alternate  turn knobs the other way at random, or every\n"
         "                         other grid knife\n"
         "  --knob-size PERCENT    knob size (1..100; 100 the full knob, the grid's\n"
         "                         default); triangles and hexagons take KNOB, at which\n"
         "                         knobs of pieces of about their regular shape stay\n"
         "                         apart: larger knobs, and stretched shapes, can cross\n"
         "  --thickness N          knives N pixels wide (1..100) instead of thin ones:\n"
         "                         the band a knife covers becomes a piece of its own, a\n"
         "                         strip between the pieces with their effects (bevelled\n"
         "                         by default), which takes the band's pixels from them\n"
         "  --seed N               the random seed of --random-knots and --flip random\n"
         "                         (default 1): the same command gives the same puzzle\n";
  u.replace(u.find("KNOTS"), 5, std::to_string(kSafeKnots));
  u.replace(u.find("KNOB"), 4, std::to_string(kShapeKnobSize));
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
