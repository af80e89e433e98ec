// The Cutter's grid controls: what the main window hears of rows, columns,
// thickness and knob size, and when.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CutterTestUtil.h"

namespace {

// A main window over a 3:2 document that logs the Cutter's calls.
struct GridMain : cuttest::Main {
  void OnCutterUpdateRowsCols(u32 r, u32 c) override { Log("grid", r, c); }
  void OnCutterUpdateRowsCols_ShowLines(u32 r, u32 c) override { Log("lines", r, c); }
  u32 icGetIdealColumnsForRows(u32 r) override { return r * 3 / 2; }
  u32 icGetIdealRowsForColumns(u32 c) override { return c * 2 / 3; }
  void OnCutterUpdateKnifeThickness(u32 t, u8 thin) override { Log("thickness", t, thin); }
  void OnCutterUpdateKnifeSize(u32 s) override { Log("knob", s, 0); }
  void Log(const char* what, u32 a, u32 b) {
    calls.push_back(std::string(what) + " " + std::to_string(static_cast<i32>(a)) + "," + std::to_string(static_cast<i32>(b)));
  }
  std::string Take() {
    std::string out;
    for (const std::string& c : calls) out += (out.empty() ? "" : "; ") + c;
    calls.clear();
    return out;
  }
  std::vector<std::string> calls;
};

struct Grid {
  cuttest::Window window;
  GridMain main;
  CCutterModel m;
  Grid() {
    m.SetPorts(&window, &main);
    EXPECT_EQ(m.OnCreate(200, 225), 1);
    m.ExtSetRows(4);
    m.ExtSetColumns(6);
  }
};

}  // namespace

TEST(CutterGrid, RowsAndColumnsReachTheMainWindowOnReleaseAndFocusLoss) {
  Grid t;
  // Unlinked, a drag previews the lines of the dragged count alone; the
  // release sets both counts.
  t.m.OnSldrRows(7, 1, 0);
  t.m.OnSldrRows(8, 1, 0);
  EXPECT_EQ(t.main.Take(), "lines 7,6; lines 8,6");
  t.m.OnSldrRows(8, 0, 0);
  EXPECT_EQ(t.main.Take(), "grid 8,6");
  // Shift while dragging makes the columns follow, link or not; so does the
  // link without Shift. Nothing follows on a release alone.
  t.m.OnSldrRows(10, 1, CCutterModel::kShift);
  EXPECT_EQ(t.m.columns, 15);
  t.m.OnSldrRows(10, 0, 0);
  EXPECT_EQ(t.main.Take(), "lines 10,15; grid 10,15");
  t.m.linkRC = 1;
  t.m.OnSldrColumns(30, 1, 0);
  t.m.OnSldrColumns(90, 1, 0);
  EXPECT_EQ(t.m.rows, 60);
  t.m.OnSldrColumns(90, 0, 0);
  EXPECT_EQ(t.main.Take(), "lines 20,30; lines 60,90; grid 60,90");
  // The followers are clamped to 1..100.
  t.m.OnSldrRows(80, 1, 0);
  EXPECT_EQ(t.m.columns, 100);
  t.main.Take();

  // Typing moves the field's count only; the main window hears on focus
  // loss, the other count kept, the link not applied: 150 is 100, junk 1.
  t.m.OnEditRows("150");
  EXPECT_EQ(t.m.rows, 100);
  EXPECT_EQ(t.main.Take(), "");
  t.m.OnEditRowsLF("150");
  t.m.OnEditColumnsLF("x7");
  t.m.OnEditColumnsLF("-3");
  EXPECT_EQ(t.main.Take(), "grid 100,-1; grid -1,1; grid -1,1");
  EXPECT_EQ(t.m.rows * 1000 + t.m.columns, 100001);
  // The main window setting the counts calls nothing back.
  t.m.ExtSetRows(0);
  t.m.ExtSetColumns(555);
  EXPECT_EQ(t.m.rows * 1000 + t.m.columns, 1100);
  EXPECT_EQ(t.main.Take(), "");
}

TEST(CutterGrid, ThicknessKnobSizeAndRazorCut) {
  Grid t;
  // Mixed values from the main window show " ???" until the user sets one;
  // a " ???" left untouched on focus loss changes no knife.
  t.m.NotifiedByMain_NewThickness(0, 1, 0);
  t.m.NotifiedByMain_NewKnobSize(250, 1);
  EXPECT_EQ(t.m.thickness * 1000 + t.m.knobSize, 1100);
  t.m.OnEditKnifeThLF(" ???");
  t.m.OnEditKnobSizeLF(" ???");
  EXPECT_EQ(t.main.Take(), "");
  EXPECT_EQ(t.m.thicknessMixed + t.m.knobSizeMixed, 2);
  // Dragging stores; the release and the focus loss tell the main window.
  t.m.OnSldrKnifeTh(12, 1);
  EXPECT_EQ(t.m.thicknessMixed, 0);
  t.m.OnSldrKnifeTh(14, 0);
  t.m.OnSldrKnobSize(70, 1);
  t.m.OnSldrKnobSize(60, 0);
  EXPECT_EQ(t.main.Take(), "thickness 14,0; knob 60,0");
  t.m.OnEditKnifeTh("0");
  t.m.OnEditKnobSize("-5");
  EXPECT_EQ(t.m.thickness * 1000 + t.m.knobSize, 1000);
  EXPECT_EQ(t.main.Take(), "");
  t.m.OnEditKnifeThLF("250");
  t.m.OnEditKnobSizeLF("99");
  EXPECT_EQ(t.main.Take(), "thickness 100,0; knob 99,0");
  // Razor cut sends the thickness again with its flag.
  t.m.OnRazorCut(1);
  t.m.OnRazorCut(0);
  EXPECT_EQ(t.main.Take(), "thickness 100,1; thickness 100,0");
  EXPECT_EQ(t.m.IsCloningOn(), 1);
  t.m.OnCloneModeChanged(0);
  EXPECT_EQ(t.m.IsCloningOn(), 0);
}
