// The scroll bar on the headless platform: sizes and positions, the thumb
// assembled from its parts, page repeat, dragging, arrows and the wheel.
#include <gtest/gtest.h>

#include "CKLF_CtrlScrollBar.h"
#include "ui/UITestUtil.h"

namespace {

// A vertical thumb picture w wide at (l, t): head rows red, tile rows blue,
// tail rows green, which is also how ">Thumb_Data" marks the parts.
std::vector<u8> Thumb(u16 l, u16 t, u16 w, u16 head, u16 tile, u16 tail) {
  const u16 h = head + tile + tail;
  std::vector<u8> v = Rec(l, t, l + w, t + h, 4u * w * h, 0);
  const size_t plane = static_cast<size_t>(w) * h;
  for (u16 y = 0; y < h; ++y)
    for (u16 x = 0; x < w; ++x) {
      const size_t at = 8 + static_cast<size_t>(y) * w + x;
      v[at + (y < head ? 0 : y < head + tile ? 2 : 1) * plane] = 255;
      v[at + 3 * plane] = 255;
    }
  return v;
}

}  // namespace

class ScrollBarTest : public UIToolkitTest {
 protected:
  // Bars in window "T" (100 x 260): "V" vertical over (10, 10, 26, 210)
  // with a 4 + 2 + 4 thumb, so 100 items with 10 visible give a 20 pixel
  // thumb moving 2 pixels an item.
  void SetUp() override {
    UIToolkitTest::SetUp();
    st.Put("UIResources>Windows>T>Background", Pack(Background(0, 0, 100, 260)));
    Bar("V", {10, 10, 26, 210}, 4, 2, 4);
    Bar("NoTile", {30, 10, 46, 210}, 4, 0, 4);
    Bar("Full", {50, 10, 66, 18}, 4, 2, 4);   // head and tail fill the track
    Bar("Long", {70, 10, 86, 210}, 4, 2, 4);  // parts longer than the thumb picture
    st.Put("UIResources>Scroll Bars>Long>Thumb_Normal", Pack(Thumb(70, 10, 16, 4, 2, 3)));
    // "H" lies along the bottom, right of the arrow buttons.
    st.Value("UIResources>Scroll Bars>H>Is Vertical", u8{0});
    st.Put("UIResources>Scroll Bars>H>Thumb_Data", Pack(Picture(30, 220, 34, 236, {255, 255, 255, 255})));
    st.Rect("UIResources>Scroll Bars>H", {30, 220, 90, 236});
    st.Folder("UIResources>Scroll Bars>NoData");
    st.Rect("UIResources>Scroll Bars>NoData", {0, 0, 10, 10});
    for (const std::string b : {"Less", "More"}) {
      const u16 top = b == "Less" ? 220 : 240;
      st.Put("UIResources>Buttons>" + b + ">Normal", Pack(Picture(10, top, 26, top + 16, {9, 9, 9, 255})));
      st.Put("UIResources>Buttons>" + b + ">Data", Pack(Rec(10, top, 26, top + 16, 256)));
    }
  }
  void Bar(const std::string& name, kltRECT_s r, u16 head, u16 tile, u16 tail) {
    const std::string f = "UIResources>Scroll Bars>" + name;
    st.Value(f + ">Is Vertical", u8{1});
    st.Put(f + ">Background_Normal", Pack(Picture(r, {0, 0, 0, 255})));
    st.Put(f + ">Background_Highlighted", Pack(Picture(r, {64, 64, 64, 255})));
    st.Put(f + ">Background_Pressed", Pack(Picture(r, {128, 128, 128, 255})));
    const std::vector<u8> thumb = Pack(Thumb(static_cast<u16>(r.left), static_cast<u16>(r.top), 16, head, tile, tail));
    st.Put(f + ">Thumb_Normal", thumb);
    st.Put(f + ">Thumb_Data", thumb);
    st.Rect(f, r);
  }
  CKLT_RecordingWindow* w = nullptr;
  CKLF_CtrlScrollBar* Open(const char* name = "V") {
    UIToolkitTest::Open();
    w = Window(100, 100, nullptr, "T");
    auto* bar = Real<CKLF_CtrlScrollBar>(w, name, klCtrlScrollBar);
    ui.Pump();
    Msgs();
    return bar;
  }
  std::string Msgs() { return log.Take("msg"); }
};

TEST_F(ScrollBarTest, SizesPositionsAndTheAssembledThumb) {
  CKLF_CtrlScrollBar* bar = Open();
  ASSERT_NE(bar, nullptr);
  // Head red, the tile (blue) repeated over the middle, tail green.
  const std::pair<i32, u32> probes[] = {{10, 0xFF0101}, {13, 0xFF0101}, {14, 0x0101FF}, {25, 0x0101FF},
                                        {26, 0x01FF01}, {29, 0x01FF01}, {30, 0x010101}};
  for (const auto& [y, pixel] : probes) EXPECT_EQ(Pixel(w, 18, y), pixel) << y;
  struct Case {
    u32 total, visible, position;
    u32 wantTotal, wantPosition;
    i32 thumbTop, thumbBottom;
  } cases[] = {
      {5, 10, 0, 10, 0, 10, 210},  // the thumb fills the track
      {100, 10, 1000, 100, 90, 190, 210},   {100, 10, 45, 100, 45, 100, 120},
      {0, 0, 7, 0, 0, 10, 18},  // an empty list: head and tail only
      {1000, 1, 999, 1000, 999, 202, 210},
  };
  for (const Case& c : cases) {
    bar->SetInfo(c.total, c.visible);
    bar->SetPosition(c.position);
    u32 total = 0, visible = 0;
    bar->GetInfo(total, visible);
    EXPECT_EQ(total, c.wantTotal) << c.total;
    const std::string msgs = Msgs();  // the last placement's message
    EXPECT_EQ(msgs.substr(msgs.rfind(", ") + 2), "msg 0x100 0 V =" + std::to_string(c.wantPosition));
    EXPECT_EQ(bar->GetThumbRect().top, c.thumbTop) << c.total;
    EXPECT_EQ(bar->GetThumbRect().bottom, c.thumbBottom) << c.total;
  }
  for (u32 visible : {10u, 1u}) {  // a page is visible - 1 items, at least one
    bar->SetInfo(100, visible);
    bar->SetPosition(0);
    EXPECT_EQ(bar->PageMore(), 0u);
    EXPECT_EQ(bar->GetPosition(), visible == 10 ? 9u : 1u);
  }
}

TEST_F(ScrollBarTest, ThumbPartsAreCheckedAtInit) {
  CKLF_CtrlScrollBar* bar = Open("NoTile");
  ASSERT_NE(bar, nullptr);  // no tile: the thumb is head and tail
  EXPECT_EQ(bar->GetThumbRect().bottom - bar->GetThumbRect().top, 8);
  for (const char* refused : {"Long", "NoData"}) {
    EXPECT_EQ(w->AddControl(refused, klCtrlScrollBar), -1) << refused;
    EXPECT_EQ(w->GetError(), klErrUIResource) << refused;
  }
  // Head and tail fill the track: dragging cannot move, the position stays.
  ASSERT_NE(Real<CKLF_CtrlScrollBar>(w, "Full", klCtrlScrollBar), nullptr);
  Msgs();
  Mouse(klpMouseDown, 55, 12);
  EXPECT_EQ(Mouse(klpMouseDragged, 55, 30), "");
  EXPECT_EQ(Mouse(klpMouseUp, 55, 30), "msg 0x100 1 Full =0");
}

TEST_F(ScrollBarTest, APressBesideTheThumbPagesUntilTheThumbIsUnderTheMouse) {
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(Mouse(klpMouseDown, 18, 150), "msg 0x100 0 V =9");
  ui.AdvanceClock(500);
  EXPECT_EQ(Msgs(), "");
  ui.AdvanceClock(500);  // every 50 ms until the thumb covers y 150 (136..156 at 63)
  EXPECT_EQ(Msgs(), "msg 0x100 0 V =18, msg 0x100 0 V =27, msg 0x100 0 V =36, msg 0x100 0 V =45, "
                    "msg 0x100 0 V =54, msg 0x100 0 V =63");
  Mouse(klpMouseUp, 18, 150);
  ui.AdvanceClock(500);
  EXPECT_EQ(Msgs(), "");
}

TEST_F(ScrollBarTest, DraggingTheThumbAndTheHoverStates) {
  CKLF_CtrlScrollBar* bar = Open();
  ASSERT_NE(bar, nullptr);
  struct Step {
    u16 kind;
    i32 y;
    const char* msgs;
    u32 track;  // the background below the thumb
  } steps[] = {
      {klpMouseMoved, 15, "", 0x404040},  // highlighted
      {klpMouseDown, 15, "", 0x808080},   // pressed on the thumb
      {klpMouseDragged, 25, "msg 0x105 0 V =5", 0x808080},  // 10 pixels, 2 an item
      {klpMouseDragged, 26, "", 0x808080},                  // the same position: no message
      {klpMouseDragged, 400, "msg 0x105 0 V =90", 0x808080},
      {klpMouseUp, 400, "msg 0x100 0 V =90", 0x010101},  // released outside: normal
  };
  for (const Step& s : steps) {
    EXPECT_EQ(Mouse(s.kind, 18, s.y), s.msgs) << s.y;
    EXPECT_EQ(Pixel(w, 18, 60), s.track) << s.y;
  }
  EXPECT_EQ(bar->GetThumbRect().top, 190);
  // Highlighted until the hover check finds the mouse gone.
  Mouse(klpMouseMoved, 18, 60);
  ui.PostMouse(klpMouseMoved, 600, 600);
  ui.AdvanceClock(50);
  EXPECT_EQ(Pixel(w, 18, 60), 0x010101u);
  // Disabled while a page press is held: the paging stops and the release
  // leaves the bar disabled (no disabled picture: normal at opacity 80).
  EXPECT_EQ(Mouse(klpMouseDown, 18, 150), "msg 0x100 0 V =81");
  bar->Enable(0);
  ui.AdvanceClock(1000);
  EXPECT_EQ(Mouse(klpMouseUp, 18, 150), "");
  EXPECT_EQ(Pixel(w, 18, 60), 0x070E15u);
}

TEST_F(ScrollBarTest, ArrowButtonsStepAndRepeatTheWheelSteps) {
  CKLF_CtrlScrollBar* bar = Open();
  Real<CKLF_CtrlButton>(w, "Less", klCtrlButton);
  auto* more = Real<CKLF_CtrlButton>(w, "More", klCtrlButton);
  ASSERT_TRUE(bar && more);
  EXPECT_EQ(bar->SetButtons(1, 2), 1);
  Mouse(klpMouseDown, 18, 248);
  EXPECT_EQ(Mouse(klpMouseUp, 18, 248), "msg 0x100 0 V =1");
  Mouse(klpMouseDown, 18, 248);
  ui.AdvanceClock(600);  // the held button repeats at 550 and 600
  EXPECT_EQ(Mouse(klpMouseUp, 18, 248), "msg 0x100 0 V =2, msg 0x100 0 V =3, msg 0x100 0 V =4");
  ui.AdvanceClock(1000);
  ui.PostClick(118, 328);
  ui.PostWheel(118, 150, 2);  // a vertical bar turns the wheel's sign: up is less
  ui.PostWheel(118, 150, -2);
  ui.Pump();
  EXPECT_EQ(Msgs(), "msg 0x100 0 V =3, msg 0x100 0 V =2, msg 0x100 0 V =1, msg 0x100 0 V =2, msg 0x100 0 V =3");
  ui.PostWheel(118, 150, -30000);  // steps stop at the scroll range
  ui.Pump();
  EXPECT_EQ(log.lines.size(), 90u);
  EXPECT_EQ(bar->GetPosition(), 90u);
  bar->Enable(0);
  EXPECT_EQ(more->IsEnabled(), 0);
  EXPECT_EQ(bar->SetButtons(0, 5), 0);  // the bar itself is no button, 5 no control
}

// The wheel turned down (a negative delta) moves either bar toward its end:
// a vertical one down, a horizontal one right.
TEST_F(ScrollBarTest, TheWheelDownMovesTowardTheEndOnBothAxes) {
  CKLF_CtrlScrollBar* v = Open();
  auto* h = Real<CKLF_CtrlScrollBar>(w, "H", klCtrlScrollBar);
  ASSERT_TRUE(v && h);
  Msgs();
  ui.PostWheel(100 + 60, 100 + 228, -3);
  ui.PostWheel(100 + 60, 100 + 228, 1);
  ui.PostWheel(100 + 18, 100 + 150, -2);
  ui.Pump();
  EXPECT_EQ(Msgs(), "msg 0x100 1 H =1, msg 0x100 1 H =2, msg 0x100 1 H =3, msg 0x100 1 H =2, "
                    "msg 0x100 0 V =1, msg 0x100 0 V =2");
}
