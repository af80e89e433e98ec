// The Cutter window on the headless platform beside a stand-in for the main
// window that works on the real layout model (CutterLayoutMain.h), and a
// plain parent window that records the accelerators the Cutter passes on. Layout mode opens as the main window
// opens it: counts, knife values and piece records handed over, the window
// made through the registered factory, the Layout-mode undo marked empty.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CCutterSession.h"
#include "CKLF_App.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlSlider.h"
#include "CKLF_Storage.h"
#include "CKLP_HeadlessUI.h"
#include "CTessaretteRecordCodec.h"
#include "CutterLayoutMain.h"
#include "CWnd_Cutter.h"
#include "KLF_BigEndian.h"
#include "support/TestSupport.h"

namespace cutwin {

typedef CWnd_Cutter W;

// The layout main window over a 240 x 160 pattern, its store in a
// temporary folder.
struct LayoutMain : CCutterLayoutMain {
  LayoutMain() {
    CKLF_Image pattern;
    EXPECT_TRUE(pattern.Create(240, 160, 1));
    u8* p = pattern.GetMemObj()->GetPtr();
    for (u32 i = 0; i < 3u * 240u * 160u; ++i) p[i] = static_cast<u8>(i * (i / (240u * 160u) + 3));
    EXPECT_EQ(SetImage(pattern), 1);
    EXPECT_EQ(conf.Open(dir.File("plugin.conf").c_str(), 2), 1);
    confOpen = 1;
  }
  klftest::TempDir dir;
};

// The headless platform with a hook on every look into the event queue:
// a test acts there as a user would while a long operation pumps events.
struct HookedUI : CKLP_HeadlessUI {
  bool TakeEvent(uint32_t mask, KLP_Event& out) override {
    if (onTake) onTake();
    return CKLP_HeadlessUI::TakeEvent(mask, out);
  }
  std::function<void()> onTake;
};

// The main window's own window: it records what reaches it.
struct ParentWindow : CKLF_Window {
  u32 OnCtrlMessage(u16 msg, u32 id, const char*, u8, void*) override {
    messages.push_back(msg * 1000 + id);
    return 1;
  }
  std::vector<u32> messages;
};

class CutterWindowTest : public ::testing::Test {
 protected:
  static constexpr i32 kX = 300, kY = 200;  // where the Cutter opens

  void SetUp() override {
    KLP_SetUI(&ui);
    m_App = &app;
    ASSERT_EQ(app.InitStorgaeResource(KLF_UI_RESOURCE_FILE, 1), 1);
    ASSERT_EQ(parent.Create("Main", 0, 0, 200, 100, 1, nullptr, 0, 1), 1);
    CCutterServices::SetFactory(KLF_NewCutterWindow);
  }
  void TearDown() override {
    main.CloseCutter();
    CCutterServices::SetFactory(nullptr);
    m_App = nullptr;
    KLP_SetUI(nullptr);
  }

  void Open() {
    cutter = main.OpenCutter({kX, kY}, &parent);
    ASSERT_NE(cutter, nullptr);
    w = static_cast<CCutterSession*>(cutter)->GetWindow();
    m = static_cast<CCutterModel*>(static_cast<CCutterSession*>(cutter));
    w->SetFocus();
    ui.Pump();
  }

  // Window-local mouse and keys.
  void Mouse(u16 kind, i32 x, i32 y, u32 mods = 0) {
    ui.PostMouse(kind, kX + x, kY + y, 1, mods);
    ui.Pump();
  }
  void Click(i32 x, i32 y, u32 mods = 0) {
    Mouse(klpMouseDown, x, y, mods);
    Mouse(klpMouseUp, x, y, mods);
  }
  void Drag(i32 x0, i32 y0, i32 x1, i32 y1, u32 mods = 0) {
    Mouse(klpMouseDown, x0, y0, mods);
    Mouse(klpMouseDragged, (x0 + x1) / 2, (y0 + y1) / 2, mods);
    Mouse(klpMouseDragged, x1, y1, mods);
    Mouse(klpMouseUp, x1, y1, mods);
  }
  kltPOS Centre(W::CONTROL c) {
    const kltRECT_s r = w->GetCtrl(c)->GetRenderRect();
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  void Press(W::CONTROL c, u32 mods = 0) {
    const kltPOS p = Centre(c);
    Click(p.x, p.y, mods);
  }
  // A press on a button with a key typed right after it, before the
  // button's work looks at the queue.
  void PressThenKey(W::CONTROL c, u8 vk, u8 ch) {
    const kltPOS p = Centre(c);
    ui.PostMouse(klpMouseDown, kX + p.x, kY + p.y, 1, 0);
    ui.PostMouse(klpMouseUp, kX + p.x, kY + p.y, 1, 0);
    ui.PostKey(klpKeyDown, vk, ch, 0);
    ui.Pump();
  }
  void Key(u8 vk, u8 ch = 0, u32 mods = 0) {
    ui.PostKey(klpKeyDown, vk, ch, mods);
    ui.PostKey(klpKeyUp, vk, ch, mods);
    ui.Pump();
  }
  // Clicks into an edit line, types the text over what it held, leaves it
  // with Tab.
  void Type(W::CONTROL edit, const std::string& text) {
    Press(edit);
    for (char ch : text) Key(klpVKNone, static_cast<u8>(ch));
    Key(0x30, '\t');
  }
  // The window point of a slider's point k, from its resource.
  kltPOS SliderPoint(const char* name, u32 k) {
    CKLF_Mem coors;
    EXPECT_EQ(app.GetStorage()->GetRec(CKLF_String("UIResources>Sliders>") + name + ">Data_Coors", coors), 1);
    if (coors.GetSize() < 5 * (k + 1)) return {0, 0};
    return {KLF_GetBE16(coors.GetPtr() + 5 * k), KLF_GetBE16(coors.GetPtr() + 5 * k + 2)};
  }
  std::string Text(W::CONTROL edit) { return static_cast<CKLF_CtrlEditLine*>(w->GetCtrl(edit))->GetText().GetStr(); }
  u32 Value(W::CONTROL slider) { return static_cast<CKLF_CtrlSlider*>(w->GetCtrl(slider))->GetValue(); }
  // A node's centre in window pixels.
  kltPOS NodeAt(u32 i) {
    const kltRECT_s r = m->GetNodeRect(i);
    return {w->GetPreviewRect().left + r.left + 3, w->GetPreviewRect().top + r.top + 3};
  }

  HookedUI ui;
  CKLF_App app;
  ParentWindow parent;
  LayoutMain main;
  CCutterServices* cutter = nullptr;
  CWnd_Cutter* w = nullptr;
  CCutterModel* m = nullptr;
};

}  // namespace cutwin
