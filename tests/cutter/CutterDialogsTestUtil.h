// The Cutter's dialogs on the headless platform: a plain window standing in
// for the Cutter's own, the real Cutter model beside a main window that
// works on the real layout model, the configuration store in a temporary
// folder, and the input a user gives while a dialog's modal loop runs
// (scripted steps that click, type and look). Every dialog opens at
// (kX, kY), the position the main window's stand-in hands out.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "CCutterDialog.h"
#include "CCutterModel.h"
#include "CKLF_App.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlSlider.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CKLP_HeadlessUI.h"
#include "CLayoutEditor.h"
#include "CSettingsBlock.h"
#include "CutterTestUtil.h"
#include "KLF_BigEndian.h"
#include "support/TestSupport.h"

namespace cutdlg {

constexpr i32 kX = 120, kY = 90;  // where every dialog opens
constexpr u16 kHelpCommand = 901;

// The main window as the Cutter and its dialogs see it: the layout editor
// over a width x height document, whose knives follow the Cutter's shape.
struct LayoutMain : CCutterMainPort {
  LayoutMain(u32 width, u32 height) {
    e.model.SetImageSize(width, height);
    EXPECT_EQ(e.model.settings_LoadDefaults(), 1);
    EXPECT_EQ(conf.Open(dir.File("plugin.conf").c_str(), 2), 1);
  }
  void OnCutterUpdateShape(f32 s, f32 h, f32 u, u8 refill, u8 undo) override {
    e.shapes.OnCutterUpdateShape(s, h, u, refill, undo);
    ++shapeCalls;
  }
  void AutoLayout_Triangles(u32 rows, u32 perRow, u8 regular) override {
    EXPECT_EQ(e.autoLayout.AutoLayout_Triangles(rows, perRow, regular), 1);
    layouts.push_back("triangles " + std::to_string(rows) + "x" + std::to_string(perRow) + (regular ? " regular" : ""));
  }
  void AutoLayout_Hexagons(u32 rows, u32 columns, u8 regular) override {
    EXPECT_EQ(e.autoLayout.AutoLayout_Hexagons(rows, columns, regular), 1);
    layouts.push_back("hexagons " + std::to_string(rows) + "x" + std::to_string(columns) + (regular ? " regular" : ""));
  }
  CKLF_Storage* GetConfStore() override { return confOpen ? &conf : nullptr; }
  // With positionNoMemory set, memory runs out reading a position.
  u8 GetWindowPosition(const char* name, const char* parent, kltSIZE_s& at) override {
    asked.push_back(std::string(name) + ">" + parent);
    at = positionNoMemory ? klNullSize : kltSIZE_s{kX, kY};
    return !positionNoMemory;
  }
  void PutWindowPosition(const char* name, const char* parent, kltPOS p) override {
    stored.push_back(std::string(name) + ">" + parent + " " + std::to_string(p.x) + "," + std::to_string(p.y));
  }
  void GetStatusTip(const char* control, const char* group, u8 enabled, u8 type, CKLF_String& tip) override {
    ASSERT_TRUE(tip.Format("%s/%s %u %u", group, control, enabled, type));
  }
  void FillHelpMenu(CKLF_PlatformPopupMenu* menu, u8) override { menu->AddItem("Help", kHelpCommand, 0, 0); }
  u8 HelpMenuDispatcher(u16 command, CKLF_Window*) override {
    helps.push_back(command);
    return command == kHelpCommand;
  }
  // The layout as a settings block (Puzzle mode, no piece records).
  std::vector<u8> Block() {
    CSettingsBlock codec;
    CKLF_Mem mem;
    u32 length = 0;
    EXPECT_EQ(codec.Write(e.model, 1, nullptr, 0, &mem, length), 1);
    return std::vector<u8>(mem.GetPtr(), mem.GetPtr() + length);
  }

  klftest::TempDir dir;
  CLayoutEditor e;
  CKLF_Storage conf;
  u8 confOpen = 1;
  u8 positionNoMemory = 0;
  int shapeCalls = 0;
  std::vector<std::string> layouts, asked, stored;
  std::vector<u16> helps;
};

// The Cutter's own window, a plain one the dialogs open over.
struct CutterWindow : CKLF_Window {};

class CutterDialogTest : public ::testing::Test {
 protected:
  explicit CutterDialogTest(u32 width = 300, u32 height = 200) : main(width, height) {}

  void SetUp() override {
    KLP_SetUI(&ui);
    m_App = &app;
    ASSERT_EQ(app.InitStorgaeResource(KLF_UI_RESOURCE_FILE, 1), 1);
    ASSERT_EQ(cutterWindow.Create("Cutter", 0, 0, 100, 60, 1, nullptr, 0, 1), 1);
    cutter.SetPorts(&cutterPort, &main);
    ASSERT_EQ(cutter.OnCreate(200, 225), 1);
    main.e.model.SetCutter(&cutter);
  }
  void TearDown() override {
    main.e.model.SetCutter(nullptr);
    m_App = nullptr;
    KLP_SetUI(nullptr);
  }

  // The dialog on top at (kX, kY), or null.
  template <class W>
  W* Top() {
    return dynamic_cast<W*>(CKLF_Window::WindowFromPoint({kX + 4, kY + 30}));
  }
  // A step the next modal loop runs when its queue is empty.
  void Then(std::function<void()> step) { ui.Script(std::move(step)); }

  // Input in the coordinates of the dialog at (kX, kY).
  void Mouse(u16 kind, i32 x, i32 y, u32 mods = 0) {
    ui.PostMouse(kind, kX + x, kY + y, 1, mods);
    ui.Pump();
  }
  // A click of its own: the clock moves on first, so that clicks in a row
  // do not make a double click.
  void Click(i32 x, i32 y, u32 mods = 0) {
    ui.AdvanceClock(1000);
    Mouse(klpMouseDown, x, y, mods);
    Mouse(klpMouseUp, x, y, mods);
  }
  void DoubleClick(i32 x, i32 y, u32 mods = 0) {
    Click(x, y, mods);
    Mouse(klpMouseDown, x, y, mods);
    Mouse(klpMouseUp, x, y, mods);
  }
  void Press(CKLF_Control* c, u32 mods = 0) {
    ASSERT_NE(c, nullptr);
    const kltRECT_s r = c->GetRenderRect();
    Click((r.left + r.right) / 2, (r.top + r.bottom) / 2, mods);
  }
  // The buttons on a caption strip take the mouse once the caption leaves
  // holes under them; till then their press is sent as the button sends it.
  void PressOnCaption(CKLF_Window* w, u32 c) {
    CKLF_Control* ctrl = static_cast<CCutterDialog*>(w)->GetCtrl(c);
    u32 mods = 0;
    w->OnCtrlMessage(klMsgClick, ctrl->GetControlID(), ctrl->GetName().GetStr(), ctrl->GetType(), &mods);
  }
  void Key(u8 vk, u8 ch = 0, u32 mods = 0) {
    ui.PostKey(klpKeyDown, vk, ch, mods);
    ui.PostKey(klpKeyUp, vk, ch, mods);
    ui.Pump();
  }
  // Clicks into an edit line, types over what it held (the first click
  // selects all).
  void Type(CKLF_Control* edit, const std::string& text) {
    Press(edit);
    for (char ch : text) Key(klpVKNone, static_cast<u8>(ch));
  }
  // The window point of a slider's point k, from its resource.
  kltPOS SliderPoint(const char* name, u32 k) {
    CKLF_Mem coors;
    EXPECT_EQ(app.GetStorage()->GetRec(CKLF_String("UIResources>Sliders>") + name + ">Data_Coors", coors), 1);
    if (coors.GetSize() < 5 * (k + 1)) return {0, 0};
    return {KLF_GetBE16(coors.GetPtr() + 5 * k), KLF_GetBE16(coors.GetPtr() + 5 * k + 2)};
  }
  static std::string Text(CKLF_Control* edit) {
    return static_cast<CKLF_CtrlEditLine*>(edit)->GetText().GetStr();
  }
  static u32 Value(CKLF_Control* slider) { return static_cast<CKLF_CtrlSlider*>(slider)->GetValue(); }
  // A pixel of a window as 0xRRGGBB.
  u32 Pixel(CKLF_Window* w, i32 x, i32 y) {
    u8 rgb[3] = {};
    EXPECT_TRUE(ui.GetPixel(w->GetWindowHandle(), x, y, rgb)) << x << "," << y;
    return static_cast<u32>(rgb[0]) << 16 | rgb[1] << 8 | rgb[2];
  }

  CKLP_HeadlessUI ui;
  CKLF_App app;
  CutterWindow cutterWindow;
  LayoutMain main;
  cuttest::Window cutterPort;
  CCutterModel cutter;
};

}  // namespace cutdlg
