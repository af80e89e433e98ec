// Stand-ins for the Cutter, the window and the random source of the layout
// operations, shared by the layout tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CCutterServices.h"
#include "CKLF_Array.h"
#include "CLayoutEditor.h"
#include "CLayoutRandom.h"
#include "CLayoutView.h"
#include "CSettingsBlock.h"

namespace laytest {

typedef std::vector<u32> Values;

// A Cutter that keeps what the main window tells it; its shape is the
// default knob unless a test sets another.
struct FakeCutter : CCutterServices {
  FakeCutter() {
    const f64 u[5] = {0.434, 0.3515, 0.5, 0.6485, 0.566}, h[5] = {0, -0.165, -0.297, -0.165, 0};
    nodeCount = 5;
    for (int j = 0; j < 5; ++j) nodes[j] = {h[j], u[j]}, nodeS[j] = 0.5, nodeSelected[j] = 1;
  }
  void opSetShapeFromData(SPLINE_STRUCT* s, u8 notify) override { sent.push_back(*s), sentNotify = notify; }
  i32 ExtSetRows(u16 r) override { return rows = BringInto1to100(r), 0; }
  i32 ExtSetColumns(u16 c) override { return columns = BringInto1to100(c), 0; }
  void NotifiedByMain_NewThickness(u16 t, u8 mixed, u8 thin) override { thick = {t, mixed, thin}; }
  void NotifiedByMain_NewKnobSize(u16 s, u8 mixed) override { knob = {s, mixed}; }
  void SetInitialStatesToControls() override { ++refreshed; }
  void settings_SaveWindowPosition() override {}
  u8 settings_SaveLastKnife() override { return 0; }
  std::vector<SPLINE_STRUCT> sent;
  u8 sentNotify = 0;
  Values knob, thick;
  int refreshed = 0;
};

// A window that counts what it was asked to do.
struct RecordingView : CLayoutView {
  void RedrawSplitting() override { ++redraws; }
  void RedrawRulers() override { ++rulerRedraws; }
  void Alert(const char* text, const char* title) override { alerts.push_back(std::string(title) + " " + text); }
  void StatusProgress(i32 p) override { progress.push_back(p); }
  void ShowKnotRandomAmount(u32 p) override { amount = static_cast<i32>(p); }
  u8 AskChannelMap(u8, CHANNELMAP& c) override { return channel.map ? (c = channel, 1) : 0; }
  void OnKnifeSelectionChanged() override { ++selectionChanges; }
  int redraws = 0, rulerRedraws = 0, selectionChanges = 0;
  i32 amount = -1;
  std::vector<std::string> alerts;
  std::vector<i32> progress;
  CHANNELMAP channel = {};
};

// Answers the scripted values in turn, then starts over.
struct ScriptedRandom : CLayoutRandom {
  explicit ScriptedRandom(Values v) : values(v) {}
  u32 Rand() override { return ++draws, values[(draws - 1) % values.size()]; }
  Values values;
  u32 draws = 0;
};

typedef CLayoutModel::KNIFESTRUCT Knife;
typedef std::vector<u8> Bytes;

// The editor with a Cutter and a window of its own, on a grid of columns
// x rows (none for 0).
struct Editor : CLayoutEditor {
  explicit Editor(u16 columns = 0, u16 rows = 0) {
    model.SetCutter(&cutter);
    model.SetView(&view);
    if (columns) {
      EXPECT_EQ(model.spl_SplitEvenParts(columns, rows, 1, 1), 1);
    }
  }
  // One flag a knife over the three lists.
  Values Flags(u8 Knife::*flag) const {
    Values v;
    for (u32 i = 0; i < model.TotalKnifeCount(); ++i) v.push_back(model.NthKnife(i)->*flag);
    return v;
  }
  Values Selected() const { return Flags(&Knife::selected); }
  // The layout as the settings block holds it.
  Bytes State() const {
    CSettingsBlock codec;
    CKLF_Mem block;
    u32 length = 0;
    EXPECT_EQ(codec.Write(model, 0, nullptr, 0, &block, length), 1);
    return Bytes(block.GetPtr(), block.GetPtr() + length);
  }
  FakeCutter cutter;
  RecordingView view;
};

inline CKLF_DWordArray* Ids(CKLF_DWordArray& a, const Values& ids) {
  a.Empty();
  for (u32 id : ids) EXPECT_GE(a.Add(id), 0);
  return &a;
}

}  // namespace laytest
