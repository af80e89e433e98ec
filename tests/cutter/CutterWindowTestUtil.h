// The Cutter window on the headless platform beside a stand-in for the main
// window that works on the real layout model: the layout editor (whose
// Cutter is the one under test), the engine, a working image, the settings
// block for the Cutter's reset, and a plain parent window that records the
// accelerators the Cutter passes on. Layout mode opens as the main window
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
#include "CLayoutEditor.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"
#include "CWnd_Cutter.h"
#include "KLF_BigEndian.h"
#include "support/TestSupport.h"

namespace cutwin {

typedef CWnd_Cutter W;

// The main window's side of the Cutter, forwarding to the layout model.
struct LayoutMain : CCutterMainPort {
  LayoutMain() {
    image.Create(240, 160, 1);
    for (u32 p = 0; p < 3; ++p)
      for (u32 i = 0; i < 240u * 160u; ++i) image.GetMemObj()->GetPtr()[p * 240u * 160u + i] = static_cast<u8>(i * (p + 3));
    e.model.SetImageSize(240, 160);
    EXPECT_EQ(e.model.settings_LoadDefaults(), 1);
    EXPECT_EQ(conf.Open(dir.File("plugin.conf").c_str(), 2), 1);
  }
  void OnCutterUpdateShape(f32 s, f32 h, f32 u, u8 refill, u8 undo) override {
    e.shapes.OnCutterUpdateShape(s, h, u, refill, undo);
  }
  void OnCutterUpdateShape_FlipH(f32 s, f32 h, f32 u) override { e.shapes.OnCutterUpdateShape_FlipH(s, h, u); }
  void OnCutterUpdateShape_FlipU(f32 s, f32 h, f32 u) override { e.shapes.OnCutterUpdateShape_FlipU(s, h, u); }
  void OnCutterUpdateAntiAliasing(u8 on) override { e.shapes.OnCutterUpdateAntiAliasing(on); }
  void OnCutterUpdateRowsCols(u32 r, u32 c) override { e.grid.OnCutterUpdateRowsCols(r, c); }
  void OnCutterUpdateRowsCols_ShowLines(u32 r, u32 c) override { lines.push_back({r, c}); }
  u32 icGetIdealColumnsForRows(u32 r) override { return e.model.icGetIdealColumnsForRows(r); }
  u32 icGetIdealRowsForColumns(u32 c) override { return e.model.icGetIdealRowsForColumns(c); }
  void OnCutterUpdateKnifeThickness(u32 t, u8 thin) override { e.shapes.OnCutterUpdateKnifeThickness(t, thin); }
  void OnCutterUpdateKnifeSize(u32 s) override { e.shapes.OnCutterUpdateKnifeSize(s); }
  void uncm_SaveState(u32 kind, u32 sub) override { e.undo.uncm_SaveState(kind, sub); }
  u8 settings_SaveCurLayoutAndCellSettingsToMem(CKLF_Mem* block, u32& length) override {
    CSettingsBlock codec;
    return codec.Write(e.model, 0, nullptr, 0, block, length);
  }
  u8 settings_LoadCurLayoutAndCellSettingsFromMem(const u8* data, u32 length, u8) override {
    CSettingsBlock codec;
    const u8* records = nullptr;
    u32 count = 0;
    return codec.Read(e.model, data, length, &records, count);
  }
  void GetLayoutState(u16& v, u16& h, u8& razor, u8& aa) override {
    v = e.model.verticalLineCount;
    h = e.model.horizontalLineCount;
    razor = e.model.thinKnives;
    aa = e.model.antiAliasing;
  }
  u8 engine_PutLayoutToPuzzleEngine() override { return e.model.engine_PutLayoutToPuzzleEngine(engine); }
  CTessarette* GetEngine() override { return &engine; }
  CKLF_Image* GetWorkingImage() override { return &image; }
  void SetCutDone(u8 done) override { cutDone = done; }
  void OnCutterClose() override { ++closes; }
  CKLF_Storage* GetConfStore() override { return &conf; }
  void PutWindowPosition(const char* name, const char* parent, kltPOS p) override {
    positions.push_back(std::string(name) + ">" + parent + " " + std::to_string(p.x) + "," + std::to_string(p.y));
  }
  void GetStatusTip(const char* control, const char* group, u8 enabled, u8 type, CKLF_String& tip) override {
    tip.Format("%s/%s %u %u", group, control, enabled, type);
  }

  klftest::TempDir dir;
  CLayoutEditor e;
  CTessarette engine;
  CKLF_Image image;
  CKLF_Storage conf;
  u8 cutDone = 0;
  int closes = 0;
  std::vector<std::pair<u32, u32>> lines;
  std::vector<std::string> positions;
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
    main.e.model.SetCutter(nullptr);
    delete cutter;
    CCutterServices::SetFactory(nullptr);
    m_App = nullptr;
    KLP_SetUI(nullptr);
  }

  // Layout mode as the main window opens it; the piece records are those
  // of the engine's pieces.
  void Open() {
    cutter = CCutterServices::New();
    ASSERT_NE(cutter, nullptr);
    cutter->mainWindow = &main;
    CLayoutModel& lm = main.e.model;
    lm.SetCutter(cutter);
    cutter->columns = static_cast<u16>(lm.verticalLineCount + 1);
    cutter->rows = static_cast<u16>(lm.horizontalLineCount + 1);
    u8 mixed = 0;
    const u32 t = lm.spl_DoGetKnifeThickness(1, mixed);
    cutter->NotifiedByMain_NewThickness(static_cast<u16>(t), mixed, lm.thinKnives);
    const u32 k = lm.spl_DoGetKnobSize(1, mixed);
    cutter->NotifiedByMain_NewKnobSize(static_cast<u16>(k), mixed);
    cutter->antiAliasing = lm.antiAliasing;
    std::vector<u8> records(92u * main.engine.GetPieceCount());
    for (u32 i = 0; i < main.engine.GetPieceCount(); ++i) {
      CTessarette::SFX_ONEPIECE r;
      main.engine.PieceToRecord(i, r);
      CTessaretteRecordCodec::Encode(r, records.data() + 92u * i);
    }
    ASSERT_EQ(cutter->SetPendingRecords(records.data(), main.engine.GetPieceCount()), 1);
    ASSERT_EQ(cutter->CreateCutterWindow({kX, kY}, &parent), 1);
    cutter->ShowCutterWindow();
    main.e.undo.uncm_MarkEmpty();
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
