// Buttons, check boxes and radio buttons on the headless platform, through
// injected events, the window's recorded messages and its pixels.
#include <gtest/gtest.h>

#include "CKLF_CtrlCheckBox.h"
#include "CKLF_CtrlRadioButton.h"
#include "ui/UITestUtil.h"

namespace {
kltRGBA8 Grey(u8 v) { return {v, v, v, 255}; }
}  // namespace

class ButtonsTest : public UIToolkitTest {
 protected:
  // Buttons P (every picture, grey 100 normal, 150 highlighted, 200
  // pressed, 250 pressed outside, a red disabled), F (normal only) and H
  // (normal and highlighted) in row 10..30; check box K and radio buttons
  // R1, R2 (group 1) and R3 (no group) in row 40..60.
  void SetUp() override {
    UIToolkitTest::SetUp();
    const char* const looks[] = {"Normal", "Highlighted", "Pressed", "Pressed Mouse Out"};
    for (int i = 0; i < 4; ++i) Put("Buttons>P>" + std::string(looks[i]), 10, 10, Grey(static_cast<u8>(100 + 50 * i)));
    Put("Buttons>P>Disabled", 10, 10, {120, 60, 60, 255});
    Put("Buttons>F>Normal", 60, 10, Grey(100));
    Put("Buttons>H>Normal", 110, 10, Grey(100));
    Put("Buttons>H>Highlighted", 110, 10, Grey(150));
    // The check box: "On" pictures 40 brighter than the "Off" ones.
    for (int i = 0; i < 4; ++i)
      for (int on = 0; on < 2; ++on)
        Put("Check Boxes>K>" + std::string(looks[i]) + (on ? " On" : " Off"), 10, 40,
            Grey(static_cast<u8>(60 + 50 * i + 40 * on)));
    Put("Check Boxes>K>Disabled On", 10, 40, {200, 60, 60, 255});
    for (const char* r : {"R1", "R2", "R3"}) {
      const u16 x = static_cast<u16>(r[1] == '1' ? 60 : r[1] == '2' ? 110 : 160);
      Put("Radio Buttons>" + std::string(r) + ">Normal On", x, 40, Grey(220));
      Put("Radio Buttons>" + std::string(r) + ">Normal Off", x, 40, Grey(100));
      if (r[1] != '3') st.Value("UIResources>Radio Buttons>" + std::string(r) + ">Group ID", u8{1});
    }
  }
  // A 40 x 20 picture at (x, y), and the hit mask of its folder.
  void Put(const std::string& key, u16 x, u16 y, kltRGBA8 c) {
    st.Put("UIResources>" + key, Pack(Picture(x, y, x + 40, y + 20, c)));
    st.Put("UIResources>" + key.substr(0, key.rfind('>')) + ">Data", Pack(Rec(x, y, x + 40, y + 20, 800)));
  }
  CKLT_RecordingWindow* w = nullptr;
  template <class C = CKLF_CtrlButton>
  C* Add(const char* name, u8 type = klCtrlButton) {
    if (!w) {
      Open();
      w = Window();
    }
    C* c = Real<C>(w, name, type);
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  std::string Click(i32 x, i32 y) {
    ui.AdvanceClock(1000);
    ui.PostClick(100 + x, 100 + y);
    ui.Pump();
    return log.Take("msg");
  }
};

TEST_F(ButtonsTest, PicturesFollowThePressAndOneClickIsOneMessage) {
  Add("P");
  struct Step {
    u16 kind;
    i32 x, y;
    u32 mods;
    const char* msgs;
    u32 pixel;
  } steps[] = {
      {klpMouseMoved, 20, 20, 0, "", 0x969696},         {klpMouseDown, 20, 20, 0, "", 0xC8C8C8},
      {klpMouseDragged, 20, 50, 0, "", 0xFAFAFA},       {klpMouseUp, 20, 50, 0, "", 0x646464},  // released outside
      {klpMouseMoved, 21, 20, 0, "", 0x969696},         {klpMouseDown, 21, 20, 0, "", 0xC8C8C8},
      {klpMouseUp, 21, 20, klpShiftKey, "msg 0x110 0 P =2", 0x969696},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(Mouse(s.kind, s.x, s.y, s.mods), s.msgs) << s.kind << " " << s.y;
    EXPECT_EQ(Pixel(w, 30, 20), s.pixel) << s.kind << " " << s.y;
  }
  // The mouse leaves without a move reaching the button: the hover check
  // puts it back to normal.
  ui.PostMouse(klpMouseMoved, 600, 600);
  ui.Pump();
  EXPECT_EQ(Pixel(w, 30, 20), 0x969696u);
  ui.AdvanceClock(50);
  EXPECT_EQ(Pixel(w, 30, 20), 0x646464u);
}

TEST_F(ButtonsTest, MissingPicturesFallBack) {
  CKLF_CtrlButton* p = Add("P");
  CKLF_CtrlButton* f = Add("F");
  CKLF_CtrlButton* h = Add("H");
  struct Case {
    CKLF_CtrlButton* b;
    u8 state;
    i32 x;
    u32 pixel;
  } cases[] = {
      {h, 4, 120, 0x969696},   // pressed: highlighted
      {f, 4, 70, 0x646464},    // pressed: normal when there is no highlighted either
      {h, 16, 120, 0x646464},  // pressed outside: normal
      {f, 8, 70, 0x272D34},    // disabled: normal at opacity 80
      {p, 8, 20, 0x783C3C},    // its own disabled picture
      {p, 77, 20, 0x646464},   // any other state: normal
  };
  for (const Case& c : cases) {
    c.b->SetState(c.state);
    EXPECT_EQ(Pixel(w, c.x, 20), c.pixel) << c.b->GetName().GetStr() << int{c.state};
  }
  f->Enable(0);
  f->SetDisabledOpacity(0);  // a disabled opacity set while disabled shows at once
  EXPECT_EQ(Pixel(w, 70, 20), 0x0A141Eu);
  // Opacity 0 hides a disabled control with a disabled picture of its own;
  // enabled again it shows.
  p->SetDisabledOpacity(0);
  p->Enable(0);
  EXPECT_EQ(Pixel(w, 20, 20), 0x0A141Eu);
  p->Enable(1);
  EXPECT_EQ(Pixel(w, 20, 20), 0x646464u);
}

TEST_F(ButtonsTest, PeriodicButtonRepeatsAndMenuButtonReportsAtOnce) {
  CKLF_CtrlButton* p = Add("P");
  p->SetPeriodicMode(1);
  Mouse(klpMouseDown, 20, 20);
  ui.AdvanceClock(1000);
  const std::string tick = "msg 0x110 0 P =0";
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += (i ? ", " : "") + tick;
  EXPECT_EQ(log.Take("msg"), ten);
  EXPECT_EQ(Mouse(klpMouseUp, 20, 20), tick);
  ui.AdvanceClock(1000);
  EXPECT_EQ(log.Take(), "");
  // Disabled while held: no more repeats, and the release leaves it disabled.
  Mouse(klpMouseDown, 20, 20);
  ui.AdvanceClock(550);
  p->Enable(0);
  ui.AdvanceClock(500);
  EXPECT_EQ(Mouse(klpMouseUp, 20, 20), tick);
  EXPECT_EQ(Pixel(w, 30, 20), 0x783C3Cu);
  p->Enable(1);
  // Menu mode: the press is the click, and the window gets the mouse back.
  p->SetPeriodicMode(0);
  p->SetMenuMode(1);
  ui.PostMouse(klpMouseDown, 120, 120, 1, klpCmdKey);
  ui.Pump();
  EXPECT_EQ(log.Take(), "msg 0x110 0 P =8, up, down 20,20");
  EXPECT_EQ(Mouse(klpMouseUp, 20, 20), "");
}

// A double click on a check box flips it once, a triple click too (their
// later presses do not flip it back); clicks apart flip it each time, and
// so does a click made quickly after one on another box beside it.
TEST_F(ButtonsTest, CheckBoxFlipsOncePerDoubleClick) {
  for (const char* look : {"Normal On", "Normal Off"}) Put(std::string("Check Boxes>L>") + look, 10, 62, Grey(90));
  auto* k = Add<CKLF_CtrlCheckBox>("K", klCtrlCheckBox);
  auto* l = Add<CKLF_CtrlCheckBox>("L", klCtrlCheckBox);
  const auto clicks = [&](int n, i32 y) {
    ui.AdvanceClock(1000);
    for (int i = 0; i < n; ++i) ui.PostClick(120, 100 + y);
    ui.Pump();
    return log.Take("msg");
  };
  EXPECT_EQ(clicks(2, 50), "msg 0x110 0 K =1");
  EXPECT_EQ(k->GetCheck(), 1);
  EXPECT_EQ(clicks(3, 50), "msg 0x110 0 K =0");
  EXPECT_EQ(clicks(1, 50), "msg 0x110 0 K =1");
  EXPECT_EQ(clicks(1, 50), "msg 0x110 0 K =0");
  // K at 58, L 4 pixels below at once: two boxes, two flips.
  ui.AdvanceClock(1000);
  ui.PostClick(120, 158);
  ui.PostClick(120, 162);
  ui.Pump();
  EXPECT_EQ(log.Take("msg"), "msg 0x110 0 K =1, msg 0x110 1 L =1");
  EXPECT_EQ(k->GetCheck() + l->GetCheck(), 2);
}

TEST_F(ButtonsTest, CheckBoxAndRadioGroups) {
  auto* k = Add<CKLF_CtrlCheckBox>("K", klCtrlCheckBox);
  auto* r1 = Add<CKLF_CtrlRadioButton>("R1", klCtrlRadioButton);
  auto* r2 = Add<CKLF_CtrlRadioButton>("R2", klCtrlRadioButton);
  auto* r3 = Add<CKLF_CtrlRadioButton>("R3", klCtrlRadioButton);
  EXPECT_EQ(Pixel(w, 20, 50), 0x3C3C3Cu);  // normal off
  EXPECT_EQ(Click(20, 50), "msg 0x110 0 K =1");
  EXPECT_EQ(Pixel(w, 20, 50), 0x969696u);  // highlighted on
  k->SetCheck(1, 1);
  EXPECT_EQ(log.Take(), "");
  k->SetCheck(0, 1);
  EXPECT_EQ(log.Take(), "msg 0x110 0 K =0");
  k->Enable(0);
  k->SetCheck(1, 0);  // stays disabled, now on
  EXPECT_EQ(Pixel(w, 20, 50), 0xC83C3Cu);
  EXPECT_EQ(Click(70, 50), "msg 0x110 1 R1 =0");
  EXPECT_EQ(r1->GetCheck(), 1);
  EXPECT_EQ(Click(70, 50), "");  // a checked radio button ignores the mouse
  r2->SetCheck(1, 1);
  EXPECT_EQ(log.Take(), "msg 0x110 2 R2 =0");
  EXPECT_EQ(r1->GetCheck(), 0);
  EXPECT_EQ(Pixel(w, 70, 50), 0x646464u);
  EXPECT_EQ(Pixel(w, 120, 50), 0xDCDCDCu);
  // A radio button without a group leaves every other control alone.
  EXPECT_EQ(Click(170, 50), "msg 0x110 3 R3 =0");
  EXPECT_EQ(k->GetCheck() + r2->GetCheck() + r3->GetCheck(), 3);
  EXPECT_EQ(KLF_ClickModifiers(nullptr), 0u);  // what a receiver makes of a click without data
}
