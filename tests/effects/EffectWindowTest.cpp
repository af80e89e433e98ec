// The brightness/contrast, blur and opacity windows on the headless
// platform over a real cut, opened by the Puzzle-mode model and driven by
// scripted input on the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "CKLF_CtrlStaticText.h"
#include "effects/FXTestUtil.h"
#include "ui/UITestUtil.h"

namespace {

using namespace fxtest;

class EffectWindow : public FXWindowTest {
 protected:
  // The pieces' rendered blur radii.
  std::vector<int> Radii() {
    std::vector<int> r;
    for (u32 i = 0; i < scene->Count(); ++i) r.push_back(scene->Piece(i).blur[R].enabled ? scene->Piece(i).blur[R].radius : -1);
    return r;
  }
  u8 Stored(const std::string& key, u32& v) { return scene->plugin.ConfStorage_GetStorage()->GetRec(key.c_str(), v); }
  u8 StoredU8(const std::string& key, u8& v) { return scene->plugin.ConfStorage_GetStorage()->GetRec(key.c_str(), v); }
  // A click whose press is held while the clock runs on (a person's click
  // lasts a tenth of a second or so; the main window's update is due 50 ms
  // after an edit).
  void HeldClick(CKLF_Control* c, u32 heldMs) {
    const kltRECT_s r = c->GetRenderRect();
    const KLP_Point p = Global((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ui.PostMouse(klpMouseDown, p.x, p.y);
    ui.Pump();
    ui.AdvanceClock(heldMs);
    ui.PostMouse(klpMouseUp, p.x, p.y);
    ui.Pump();
  }
  // The open window's focused control; null when none has the focus.
  CKLF_Control* Focused() {
    for (u32 i = 0; i < Window()->GetControlCount(); ++i)
      if (Window()->GetControl(i)->GetFocus()) return Window()->GetControl(i);
    return nullptr;
  }
  Bytes ResultImage() {
    const CKLF_Mem* m = Model().resultImage.GetMemObj();
    return Bytes(m->GetPtr(), m->GetPtr() + m->GetSize());
  }
  // A new scene whose pieces have the blur on already (so opening its
  // window renders nothing), the blur window open over it.
  CWndFX_Base* OpenOverBlurredPieces(u32 columns, u32 rows) {
    scene = std::make_unique<Scene>(columns, rows);
    scene->puzzle.port.mainWindow = mainWindow.get();
    Model().pmfx_SwitchFX(kBlur, 1, 1);
    CWndFX_Base* w = Reopen(kBlur);
    ui.AdvanceClock(100);
    return w;
  }
};

// Opening: the model is in its effect mode, value 1 shows in the edit
// lines, the spread is off and the main window shows the effect on the
// pieces 50 ms later.
TEST_F(EffectWindow, OpensOverTheCutWithValueOne) {
  struct Case {
    u8 effect;
    const char* edit;
    const char* text;
  } const cases[] = {{kBlur, "_Radius", "9"}, {kBC, "_Bright", "-30"}, {kOpacity, "_Opacity", "50"}};
  for (const Case& c : cases) {
    scene = std::make_unique<fxtest::Scene>(3, 2);
    scene->puzzle.port.mainWindow = mainWindow.get();
    for (u32 i = 0; i < scene->Count(); ++i) {
      scene->Piece(i).blur[R].radius = 9;
      scene->Piece(i).bc[R].brightness = -30;
      scene->Piece(i).opacity[R].opacity = 128;
    }
    Model().renders = 0;
    CWndFX_Base* w = Reopen(c.effect);
    ASSERT_NE(w, nullptr) << int(c.effect);
    EXPECT_EQ(Model().effectWindowOpen, 1);
    EXPECT_EQ(Text(Edit(c.edit)), c.text);
    EXPECT_FALSE(w->IsAutoOn());
    EXPECT_FALSE(Radio("_AT")->IsEnabled());
    EXPECT_FALSE(Button("_ARND")->IsEnabled());
    EXPECT_EQ(w->GetMode(), 0);
    EXPECT_TRUE(w->IsMainPreviewOn());
    EXPECT_EQ(Model().renders, 0);  // nothing before the main window marked its undo point
    ui.AdvanceClock(60);
    EXPECT_EQ(Model().renders, static_cast<int>(scene->Count())) << int(c.effect);
    EXPECT_TRUE(scene->puzzle.Consistent());
  }
  EXPECT_EQ(scene->Piece(0).opacity[R].opacity, 127);  // 128 shows as 50 %, which stores 127
  EXPECT_EQ(scene->Piece(0).opacity[R].enabled, 1);
}

// Cancel, the close box and Escape bring back the records the pieces had,
// byte for byte, and store nothing; OK and Return keep the results and
// store the position and the main-preview switch.
TEST_F(EffectWindow, OkConfirmsCancelRestores) {
  ASSERT_NE(Open(kBlur), nullptr);
  const Bytes before = puzzletest::Records(scene->Engine());
  for (int road = 0; road < 3; ++road) {
    Enter(Edit("_Radius"), "7");
    ui.AdvanceClock(110);  // the update, and timer 6 enabling the buttons after it
    EXPECT_EQ(Radii(), std::vector<int>(scene->Count(), 7)) << road;
    if (road == 0) ClickButton("_Cancel");
    if (road == 1) ClickButton("_CloseX");
    if (road == 2) Key(klpVKEscape);
    EXPECT_EQ(Window()->GetWindowHandle(), 0u) << road;
    EXPECT_EQ(Model().effectWindowOpen, 0);
    EXPECT_EQ(puzzletest::Records(scene->Engine()), before) << road;
    EXPECT_TRUE(scene->puzzle.Consistent());
    u32 v = 0;
    EXPECT_FALSE(Stored("Windows Positions>FXBLUR>MAIN>Left", v));
    // A closed window closes once: no second Cancel, no second end of the effect mode.
    Model().renders = 0;
    Model().EnterFXMode();
    Window()->Close();
    EXPECT_EQ(Model().effectWindowOpen, 1);
    EXPECT_EQ(Model().renders, 0);
    ASSERT_NE(Reopen(kBlur), nullptr);
  }
  Enter(Edit("_Radius"), "12");
  ClickButton("_Ok");  // at once, before the main window's update
  EXPECT_EQ(Radii(), std::vector<int>(scene->Count(), 12));
  EXPECT_TRUE(scene->puzzle.Consistent());
  u8 on = 0;
  EXPECT_TRUE(StoredU8("FXblur_MainPreview", on));
  EXPECT_EQ(on, 1);
  // Return closes as OK; the position is stored where the window stood.
  ASSERT_NE(Reopen(kBlur), nullptr);
  Window()->MoveWindow(333, 222);
  Enter(Edit("_Radius"), "4");
  Key(0x24);
  EXPECT_EQ(Window()->GetWindowHandle(), 0u);
  EXPECT_EQ(Radii(), std::vector<int>(scene->Count(), 4));
  const kltSIZE_s at = scene->plugin.WindowPosFromConf("FXblur", "MAIN", klNullSize, 1);
  EXPECT_EQ(at.horizontal, 333);
  EXPECT_EQ(at.vertical, 222);
}

// OK waits for the main window's render: its button is disabled by timer 6
// while it runs and Return does nothing; afterwards they work again.
TEST_F(EffectWindow, OkIsRefusedWhileTheMainWindowRenders) {
  ASSERT_NE(Open(kBlur), nullptr);
  int pumps = 0;
  u8 okEnabledDuringRender = 1;
  scene->puzzle.port.pump = [&] {
    if (pumps++ != 0) return;
    ui.AdvanceClock(60);  // timer 6 sees the render
    okEnabledDuringRender = Button("_Ok")->IsEnabled();
    ClickButton("_Ok");
    Key(kVKReturn);
  };
  Enter(Edit("_Radius"), "5");
  ui.AdvanceClock(60);
  EXPECT_GT(pumps, 0);
  EXPECT_EQ(okEnabledDuringRender, 0);
  ASSERT_NE(Window()->GetWindowHandle(), 0u);
  EXPECT_EQ(Model().effectWindowOpen, 1);
  scene->puzzle.port.pump = nullptr;
  ui.AdvanceClock(60);
  EXPECT_TRUE(Button("_Ok")->IsEnabled());
  ClickButton("_Ok");
  EXPECT_EQ(Window()->GetWindowHandle(), 0u);
  EXPECT_EQ(Radii(), std::vector<int>(scene->Count(), 5));
}

// A burst of finished edits within 50 ms re-renders the pieces once; a
// drag updates only the sample until it ends.
TEST_F(EffectWindow, BurstOfEditsGivesOneRerender) {
  ASSERT_NE(Open(kBlur), nullptr);
  ui.AdvanceClock(100);
  Model().renders = 0;
  Drag(Slider("_Radius"), 0, 20);
  Drag(Slider("_Radius"), 20, 30);
  Enter(Edit("_Radius"), "33");
  EXPECT_EQ(Model().renders, 0);
  ui.AdvanceClock(49);
  EXPECT_EQ(Model().renders, 0);
  ui.AdvanceClock(10);
  EXPECT_EQ(Model().renders, static_cast<int>(scene->Count()));
  EXPECT_EQ(Radii(), std::vector<int>(scene->Count(), 33));
  ui.AdvanceClock(500);
  EXPECT_EQ(Model().renders, static_cast<int>(scene->Count()));
}

// An update asked for while the main window renders makes it start again
// over the records as they then stand.
TEST_F(EffectWindow, RequestDuringARenderRestartsIt) {
  ASSERT_NE(Open(kBlur, 4, 3), nullptr);
  scene->Engine().SetThreads(1);  // events are pumped before each piece
  ui.AdvanceClock(100);
  int pumps = 0;
  scene->puzzle.port.pump = [&] {
    if (++pumps != 3) return;
    Slider("_Radius")->SetValue(40, 1);  // a released slider
    ui.AdvanceClock(60);                 // its update comes while the first runs
  };
  Model().renders = 0;
  Slider("_Radius")->SetValue(10, 1);
  ui.AdvanceClock(60);
  scene->puzzle.port.pump = nullptr;
  const int n = static_cast<int>(scene->Count());
  EXPECT_EQ(Model().renders, 2 + n);  // two pieces at 10, then every piece at 40
  EXPECT_EQ(Radii(), std::vector<int>(scene->Count(), 40));
  EXPECT_TRUE(scene->puzzle.Consistent());
  EXPECT_EQ(Model().IsRerenderBusy(), 0);
}

// The main-preview box: off shows the pieces as they were and enables the
// update button, which shows the results without checking the box; on
// again shows the results and disables the button. Off, an at-once update
// (the opacity slider) changes nothing.
TEST_F(EffectWindow, MainPreviewSwitch) {
  ASSERT_NE(Open(kOpacity), nullptr);
  ui.AdvanceClock(100);
  const Bytes original = Copies(scene->Engine(), kOpacity, B);
  Slider("_Opacity")->SetValue(30, 1);
  EXPECT_EQ(scene->Piece(0).opacity[R].opacity, 76);  // at once, no 50 ms wait
  ClickBox("_Preview");
  EXPECT_FALSE(Window()->IsMainPreviewOn());
  EXPECT_TRUE(Button("_Preview")->IsEnabled());
  EXPECT_EQ(Copies(scene->Engine(), kOpacity, R), original);
  Model().renders = 0;
  Slider("_Opacity")->SetValue(60, 1);
  ui.AdvanceClock(100);
  EXPECT_EQ(Model().renders, 0);
  ClickButton("_Preview");
  EXPECT_EQ(scene->Piece(0).opacity[R].opacity, 153);
  EXPECT_FALSE(Window()->IsMainPreviewOn());
  ClickBox("_Preview");
  EXPECT_FALSE(Button("_Preview")->IsEnabled());
  ClickButton("_Ok");
  u8 on = 9;
  ASSERT_TRUE(StoredU8("FXopac_MainPreview", on));
  EXPECT_EQ(on, 1);
  // Stored off, the next window opens with the box off.
  ASSERT_TRUE(scene->plugin.ConfStorage_GetStorage()->SetRecord("FXopac_MainPreview", static_cast<u8>(0)));
  ASSERT_NE(Reopen(kOpacity), nullptr);
  EXPECT_FALSE(Window()->IsMainPreviewOn());
  EXPECT_TRUE(Button("_Preview")->IsEnabled());
}

// The spread through the window: value 1 from the pieces, value 2 dragged,
// a direction chosen; OK gives each piece its own radius.
TEST_F(EffectWindow, SpreadToTheRight) {
  ASSERT_NE(Open(kBlur, 4, 2), nullptr);
  Enter(Edit("_Radius"), "0");
  ClickBox("_AAdjust");
  EXPECT_TRUE(Window()->IsAutoOn());
  EXPECT_TRUE(Slider("_Radius2")->IsEnabled());
  Drag(Slider("_Radius2"), 0, 100);
  EXPECT_EQ(Window()->GetMode(), 1);
  EXPECT_EQ(Text(Edit("_Radius")), "100");
  Click(Radio("_AR"));
  EXPECT_EQ(Window()->GetAAMode(), CFXSpread::kRight);
  ClickButton("_Ok");
  // Left to right by the centres (which the knobs move a little).
  const std::vector<int> r = Radii();
  for (i32 row = 0; row < 2; ++row) {
    EXPECT_LE(r[scene->At(row * 4, 4)], 5);
    EXPECT_LT(r[scene->At(row * 4, 4)], r[scene->At(row * 4 + 1, 4)]);
    EXPECT_LT(r[scene->At(row * 4 + 1, 4)], r[scene->At(row * 4 + 2, 4)]);
    EXPECT_LT(r[scene->At(row * 4 + 2, 4)], r[scene->At(row * 4 + 3, 4)]);
    EXPECT_GE(r[scene->At(row * 4 + 3, 4)], 95);
  }
  EXPECT_EQ(*std::min_element(r.begin(), r.end()), 0);
  EXPECT_EQ(*std::max_element(r.begin(), r.end()), 100);
  EXPECT_TRUE(scene->puzzle.Consistent());
}

// Reset while spreading: the spread goes off (directions cleared, mode 0),
// value 1 comes from the current piece and value 2 from the default.
TEST_F(EffectWindow, ResetTurnsTheSpreadOff) {
  ASSERT_NE(Open(kBC), nullptr);
  const u32 current = scene->At(4, 3);
  scene->Piece(current).bc[B] = {1, 44, -12};  // read by Init only from a listed piece
  scene->puzzle.port.currentPiece = current;
  ClickBox("_AAdjust");
  Click(Radio("_ABL"));
  Drag(Slider("_Contrast2"), 100, 180);
  ASSERT_EQ(Window()->GetMode(), 1);
  ClickButton("_Reset");
  EXPECT_FALSE(Window()->IsAutoOn());
  EXPECT_EQ(Window()->GetAAMode(), CFXSpread::kRandom);
  EXPECT_FALSE(Radio("_ABL")->GetCheck());
  EXPECT_EQ(Window()->GetMode(), 0);
  EXPECT_EQ(Text(Edit("_Bright")), "44");
  EXPECT_EQ(Text(Edit("_Contrast")), "-12");
  EXPECT_EQ(Slider("_Contrast2")->GetValue(), static_cast<u32>(scene->Engine().m_defBc.contrast + 100));
  EXPECT_FALSE(Slider("_Contrast2")->IsEnabled());
}

// Typed numbers: clamped to the range while typing (the slider follows at
// once) and written back clamped when the line is left.
TEST_F(EffectWindow, TypedValuesAreClamped) {
  ASSERT_NE(Open(kBlur), nullptr);
  CKLF_CtrlEditLine* e = Edit("_Radius");
  Click(e);
  Type("150");
  EXPECT_EQ(Slider("_Radius")->GetValue(), 100u);
  EXPECT_EQ(Text(e), "150");
  Key(kVKTab);
  EXPECT_EQ(Text(e), "100");
  e->SetText("abc", 1);
  EXPECT_EQ(Slider("_Radius")->GetValue(), 0u);

  ASSERT_NE(Open(kBC), nullptr);
  CKLF_CtrlEditLine* b = Edit("_Bright");
  Click(b);
  Type("-");
  EXPECT_EQ(Slider("_Bright1")->GetValue(), 100u);  // "-" reads as 0
  Type("150");
  EXPECT_EQ(Slider("_Bright1")->GetValue(), 0u);  // -150 is kept at -100
  Key(kVKTab);
  EXPECT_EQ(Text(b), "-100");

  ASSERT_NE(Open(kOpacity), nullptr);
  Enter(Edit("_Opacity"), "150");
  EXPECT_EQ(Text(Edit("_Opacity")), "100");
  ClickButton("_Ok");
  EXPECT_EQ(scene->Piece(0).opacity[R].opacity, 255);
}

// Opening the opacity window renders nothing before the main window marks
// its undo point: Cancel then leaves nothing to undo, and the records as
// they were.
TEST_F(EffectWindow, OpacityOpeningLeavesTheUndoAlone) {
  scene = std::make_unique<fxtest::Scene>(3, 2);
  scene->puzzle.port.mainWindow = mainWindow.get();
  for (u32 i = 0; i < scene->Count(); ++i) scene->Piece(i).opacity[R] = scene->Piece(i).opacity[W] = {0, 128};
  const Bytes before = puzzletest::Records(scene->Engine());
  ASSERT_EQ(Model().IsUndoEmpty(), 1);
  ASSERT_NE(Reopen(kOpacity), nullptr);
  ui.AdvanceClock(100);
  EXPECT_EQ(scene->Piece(0).opacity[R].opacity, 127);
  ClickButton("_Cancel");
  EXPECT_EQ(puzzletest::Records(scene->Engine()), before);
  EXPECT_EQ(Model().IsUndoEmpty(), 1);
  // OK leaves one undo point, which brings the records back.
  ASSERT_NE(Reopen(kOpacity), nullptr);
  ClickButton("_Ok");
  ASSERT_EQ(Model().IsUndoEmpty(), 0);
  EXPECT_EQ(Model().unpm_Restore(), 1);
  EXPECT_EQ(puzzletest::Records(scene->Engine()), before);
}

// With one piece the spread cannot be switched on; an engine without pieces
// and a sample picture beside the preview refuse the window.
TEST_F(EffectWindow, RefusedOrLimitedCreation) {
  ASSERT_NE(Open(kBC, 1, 1), nullptr);
  EXPECT_FALSE(Box("_AAdjust")->IsEnabled());

  scene = std::make_unique<fxtest::Scene>(2, 1);
  scene->Engine().FreeSpliting();
  EXPECT_EQ(Reopen(kBlur), nullptr);
  EXPECT_EQ(scene->puzzle.model.effectWindowOpen, 0);

  // A resource file whose sample lies beside the preview.
  klftest::TempDir dir;
  const std::string copy = dir.File("r.kls4");
  ASSERT_TRUE(klftest::WriteFileBytes(copy, klftest::ReadFileBytes(KLF_UI_RESOURCE_FILE)));
  {
    CKLF_Storage s;
    ASSERT_EQ(s.Open(CKLF_String(copy.c_str()), 3), 1);
    const std::vector<u8> beside = Pack(Picture(150, 151, 166, 167, {200, 200, 200, 200}));
    ASSERT_EQ(s.SetRecord("UIResources>Static Images>FXblur_Object>Normal", beside.data(), static_cast<u32>(beside.size())), 1);
    ASSERT_EQ(s.Close(), 1);
  }
  ASSERT_EQ(app.InitStorgaeResource(copy.c_str(), 1), 1);
  scene = std::make_unique<fxtest::Scene>(2, 1);
  EXPECT_EQ(Reopen(kBlur), nullptr);
  EXPECT_EQ(scene->puzzle.model.effectWindowOpen, 0);
  EXPECT_EQ(scene->puzzle.model.effectWindow, nullptr);
}

// In every effect window, the wide Bevel window among them, the Help menu
// opens under the Help button.
TEST_F(EffectWindow, HelpMenuOpensUnderItsButton) {
  for (u8 effect : {kBevel, kBC, kStroke}) {
    SCOPED_TRACE(static_cast<int>(effect));
    CWndFX_Base* w = Open(effect);
    ASSERT_NE(w, nullptr);
    const size_t menus = ui.Log().menuPoints.size();
    ui.AnswerMenu(0);
    ClickButton("_Help");
    ASSERT_EQ(ui.Log().menuPoints.size(), menus + 1);
    const kltRECT_s b = Button("_Help")->GetRenderRect();
    const i32 x = ui.Log().menuPoints.back().x - w->GetWindowRect().left;
    EXPECT_GE(x, b.left);
    EXPECT_LT(x, b.right);
  }
}

// The Help button's menu opens under it and its choice goes to the
// application object; accelerators 1, 8 and 12 to 17 go to the main
// window's command handler, other commands nowhere.
TEST_F(EffectWindow, HelpMenuAndAccelerators) {
  CWndFX_Base* w = Open(kBC);
  ASSERT_NE(w, nullptr);
  ui.AnswerMenu(0);
  ClickButton("_Help");
  ASSERT_EQ(ui.Log().menus.size(), 1u);
  EXPECT_EQ(ui.Log().menus[0][0].text, "Help Topics");
  EXPECT_EQ(ui.Log().menuPoints[0].x, w->GetWindowRect().left + 229);
  EXPECT_EQ(ui.Log().menuPoints[0].y, w->GetWindowRect().top + 35);
  EXPECT_EQ(scene->puzzle.port.helpCommands, std::vector<u16>{300});
  mainLog.Take();
  for (u32 command : {1u, 8u, 12u, 17u}) EXPECT_EQ(w->OnCtrlMessage(klMsgAccelerator, command, nullptr, 0, nullptr), 1u);
  for (u32 command : {0u, 2u, 11u, 18u}) EXPECT_EQ(w->OnCtrlMessage(klMsgAccelerator, command, nullptr, 0, nullptr), 0u);
  EXPECT_EQ(mainLog.Take(), "msg 0x150 1 -, msg 0x150 8 -, msg 0x150 12 -, msg 0x150 17 -");
}

// A new tip fades the status text out in four ticks of 30 ms, comes in at
// the fifth and fades in over seven more; the same tip changes nothing.
TEST_F(EffectWindow, StatusTipFades) {
  ASSERT_NE(Open(kBlur), nullptr);
  ui.AdvanceClock(30 * 20);
  auto* status = Find<CKLF_CtrlStaticText>(Name("_Status"), klCtrlStaticText);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(std::string(status->GetText().GetStr()), "Effect//1/128");
  EXPECT_EQ(status->GetOpacity(), 255);
  CKLF_Control* ok = Button("_Ok");
  const kltRECT_s r = ok->GetRenderRect();
  const KLP_Point p = Global((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  ui.PostMouse(klpMouseMoved, p.x, p.y);
  ui.Pump();
  std::vector<int> seen;
  for (int tick = 0; tick < 13; ++tick) {
    ui.AdvanceClock(30);
    seen.push_back(status->GetOpacity());
  }
  EXPECT_EQ(seen, (std::vector<int>{190, 125, 60, 0, 0, 40, 80, 120, 160, 200, 240, 255, 255}));
  EXPECT_EQ(std::string(status->GetText().GetStr()), "Effect/FXblur_Ok/1/5");
  EXPECT_EQ(Window()->Schedule().GetFadeState(), CFXSchedule::kFadeIdle);
  Window()->UpdateStatus("Effect/FXblur_Ok/1/5");
  EXPECT_EQ(Window()->Schedule().GetFadeState(), CFXSchedule::kFadeIdle);
}

// Dragging value 2 switches to mode 1 (the frame shows, the edit line shows
// value 2); the main window follows only when the drag ends. The "A" boxes
// take a parameter in and out of the spread.
TEST_F(EffectWindow, ValueTwoModeAndTheBoxes) {
  CWndFX_Base* w = Open(kBC);
  ASSERT_NE(w, nullptr);
  ClickBox("_AAdjust");
  EXPECT_TRUE(Box("_ABrightness")->GetCheck());
  EXPECT_TRUE(Slider("_Bright2")->IsEnabled());
  ui.AdvanceClock(100);
  Model().renders = 0;
  const kltRECT_s frame = ResourceRect("UIResources>Static Images>FXbc_GFrm>Normal");
  const u32 before = Pixel(frame.left + 1, (frame.top + frame.bottom) / 2);
  Drag(Slider("_Bright2"), 100, 170);
  EXPECT_EQ(w->GetMode(), 1);
  EXPECT_EQ(Text(Edit("_Bright")), "70");
  EXPECT_EQ(Text(Edit("_Contrast")), std::to_string(scene->Engine().m_defBc.contrast));
  EXPECT_NE(Pixel(frame.left + 1, (frame.top + frame.bottom) / 2), before);
  EXPECT_EQ(Model().renders, 0);
  ui.AdvanceClock(60);
  EXPECT_GT(Model().renders, 0);
  // Back to value 1 through its slider.
  Drag(Slider("_Bright1"), 100, 110);
  EXPECT_EQ(w->GetMode(), 0);
  EXPECT_EQ(Text(Edit("_Bright")), "10");
  EXPECT_EQ(Pixel(frame.left + 1, (frame.top + frame.bottom) / 2), before);
  // Unchecking a box disables its sliders; switching the spread off disables the boxes.
  ClickBox("_AContrast");
  EXPECT_FALSE(Slider("_Contrast1")->IsEnabled());
  EXPECT_FALSE(Slider("_Contrast2")->IsEnabled());
  ClickBox("_AAdjust");
  EXPECT_FALSE(Box("_ABrightness")->IsEnabled());
  EXPECT_FALSE(Box("_ABrightness")->GetCheck());
  EXPECT_TRUE(Slider("_Contrast1")->IsEnabled());
  EXPECT_FALSE(Slider("_Bright2")->IsEnabled());
}

// The main window drops an open window (another effect is opened) without
// OK or Cancel: the pieces keep what the last update gave them.
TEST_F(EffectWindow, DroppedWhileOpen) {
  ASSERT_NE(Open(kBlur), nullptr);
  Enter(Edit("_Radius"), "6");
  ui.AdvanceClock(60);
  ASSERT_NE(Reopen(kOpacity), nullptr);
  EXPECT_EQ(Radii(), std::vector<int>(scene->Count(), 6));
  EXPECT_EQ(Copies(scene->Engine(), kBlur, W), Copies(scene->Engine(), kBlur, R));
  ui.AdvanceClock(500);  // no timer of the dropped window is left
  EXPECT_TRUE(scene->puzzle.Consistent());
}

// Every window opens with its first field focused: digits typed at once
// land there, Tab goes on to a field, and one Return closes the window as
// OK with the typed value (the field's edit ends first).
TEST_F(EffectWindow, TypingAtOnceAndOneReturn) {
  for (u8 effect : {kBlur, kBevel, kHSL, kCovr, kBC, kMBlur, kOpacity, kStroke, kIovr}) {
    ASSERT_NE(Open(effect), nullptr) << int(effect);
    ui.AdvanceClock(100);
    auto* first = dynamic_cast<CKLF_CtrlEditLine*>(Focused());
    ASSERT_NE(first, nullptr) << int(effect);
    for (u32 i = 0; i < Window()->GetControlCount(); ++i)
      if (Window()->GetControl(i)->GetType() == klCtrlEditLine) {
        EXPECT_EQ(Window()->GetControl(i), first) << int(effect) << ": not the first field";
        break;
      }
    const Bytes before = Copies(scene->Engine(), effect, R);
    Type("3");
    EXPECT_EQ(Text(first), "3") << int(effect);
    Key(kVKTab);
    EXPECT_EQ(Text(first), "3") << int(effect);
    ASSERT_NE(dynamic_cast<CKLF_CtrlEditLine*>(Focused()), nullptr) << int(effect);
    Key(kVKReturn);
    EXPECT_EQ(Window()->GetWindowHandle(), 0u) << int(effect);
    EXPECT_EQ(Model().effectWindowOpen, 0) << int(effect);
    EXPECT_NE(Copies(scene->Engine(), effect, R), before) << int(effect);
    EXPECT_TRUE(scene->puzzle.Consistent()) << int(effect);
  }
}

// After a value is typed, the first press on OK or Cancel acts, though it is
// held past the time the main window's update falls due; so do the first
// Return and Escape. OK and Return keep the value, Cancel and Escape bring
// back the records the pieces had.
TEST_F(EffectWindow, FirstClickOrKeyActsAfterTyping) {
  enum { kOkClick, kCancelClick, kReturnKey, kEscapeKey };
  for (int road : {kOkClick, kCancelClick, kReturnKey, kEscapeKey}) {
    ASSERT_NE(OpenOverBlurredPieces(3, 2), nullptr);
    const Bytes before = puzzletest::Records(scene->Engine());
    Type("7");
    if (road == kOkClick || road == kCancelClick) HeldClick(Button(road == kOkClick ? "_Ok" : "_Cancel"), 120);
    if (road == kReturnKey || road == kEscapeKey) Key(road == kReturnKey ? kVKReturn : static_cast<u8>(klpVKEscape));
    EXPECT_EQ(Window()->GetWindowHandle(), 0u) << road;
    EXPECT_EQ(Model().effectWindowOpen, 0) << road;
    if (road == kOkClick || road == kReturnKey)
      EXPECT_EQ(Radii(), std::vector<int>(scene->Count(), 7)) << road;
    else
      EXPECT_EQ(puzzletest::Records(scene->Engine()), before) << road;
    EXPECT_TRUE(scene->puzzle.Consistent()) << road;
  }
}

// A long update of the main window (one piece a batch, the window's events
// run before each): OK is off, Cancel on. Cancel, Escape and the window
// manager's close, given while it runs, stop it after the piece under way
// and close the window as Cancel does: the records and the picture are as
// before the window opened. While Cancel renders the pieces back the events
// run too, and the closing window takes none: it has gone already.
TEST_F(EffectWindow, CancelStopsALongUpdate) {
  for (int road = 0; road < 3; ++road) {
    ASSERT_NE(OpenOverBlurredPieces(8, 6), nullptr);
    scene->Engine().SetThreads(1);
    const Bytes before = puzzletest::Records(scene->Engine()), picture = ResultImage();
    int pumps = 0;
    u8 okOn = 1, cancelOn = 0, shownWhileRenderingBack = 0;
    scene->puzzle.port.pump = [&] {
      if (pumps >= 4 && Model().renders > 3 && Window()->IsVisible()) shownWhileRenderingBack = 1;
      if (++pumps == 6) Key(klpVKEscape), Click(Slider("_Radius"));  // Cancel renders the first piece back
      if (pumps != 4) return;  // three pieces rendered
      okOn = Button("_Ok")->IsEnabled();
      cancelOn = Button("_Cancel")->IsEnabled() && Button("_CloseX")->IsEnabled();
      if (road == 0) ClickButton("_Cancel");
      if (road == 1) Key(klpVKEscape);
      if (road == 2) ui.PostClose(Window()->GetWindowHandle()), ui.Pump();
    };
    Enter(Edit("_Radius"), "9");
    Model().renders = 0;
    ui.AdvanceClock(60);  // the update begins
    scene->puzzle.port.pump = nullptr;
    EXPECT_GE(pumps, 6) << road;
    EXPECT_EQ(okOn, 0) << road;
    EXPECT_EQ(cancelOn, 1) << road;
    EXPECT_EQ(shownWhileRenderingBack, 0) << road;
    // Three pieces rendered before the stop, and rendered back by Cancel.
    EXPECT_EQ(Model().renders, 6) << road;
    EXPECT_EQ(Window()->GetWindowHandle(), 0u) << road;
    EXPECT_EQ(Model().effectWindowOpen, 0) << road;
    EXPECT_EQ(Model().IsRerenderBusy(), 0) << road;
    EXPECT_EQ(puzzletest::Records(scene->Engine()), before) << road;
    EXPECT_EQ(ResultImage(), picture) << road;
    EXPECT_TRUE(scene->puzzle.Consistent()) << road;
  }
}

}  // namespace
