#include "CKLT_LayoutShaper.h"

#include <cerrno>
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
  static const char* const kTaking[] = {"--random-knots", "--seed", "--flip", "--knob-size",
                                        "--thickness",    "--triangles", "--hexagons"};
  bool takes = false;
  for (const char* t : kTaking) takes = takes || a == t;
  if (!takes) {
    if (a != "--regular") return 0;
    o.regular = true;
    return 1;
  }
  if (i + 1 >= args.size()) return error = a + " needs a value", -1;
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
    const bool tri = a == "--triangles";
    ok = tri ? Pair(v, 98, 97, o.shapeRows, o.shapeCount) : Pair(v, 97, 48, o.shapeRows, o.shapeCount);
    o.shape = tri ? kTriangles : kHexagons;
  }
  if (!ok) return error = "bad " + a + " " + v + " (see --help)", -1;
  return 1;
}

bool CKLT_LayoutShaper::Check(const Options& o, bool ownSettings, bool grid, std::string& error) {
  if (ownSettings && o.Any()) {
    error = "the layout options shape the default layout: they go with neither --settings nor --last";
    return false;
  }
  if (grid && o.shape != kGrid) {
    error = "--triangles and --hexagons lay their own grid: they do not go with --grid";
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
  return true;
}

const char* CKLT_LayoutShaper::Usage() {
  return "  --triangles RxN        a layout of R rows of N triangles (98 x 97 at most)\n"
         "  --hexagons RxC         a layout of R rows of C hexagon columns (97 x 48)\n"
         "  --regular              triangles or hexagons with equal sides, centred\n"
         "  --random-knots PERCENT move the knots at random by up to PERCENT (0..100)\n"
         "  --flip random|alternate  turn knobs the other way at random, or every\n"
         "                         other grid knife\n"
         "  --knob-size PERCENT    knob size (1..100; 100 the full knob)\n"
         "  --thickness N          knives N pixels wide (1..100), cut out of the image\n"
         "  --seed N               the random seed (default 1): the same command gives\n"
         "                         the same puzzle\n";
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
  if (ok && o.knobSize > 0) {
    cutter.knobSize = static_cast<u16>(o.knobSize);
    e.shapes.OnCutterUpdateKnifeSize(static_cast<u32>(o.knobSize));
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
