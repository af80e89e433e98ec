// Static image, static text and progress bar on the headless platform,
// probed through the window's pixels and recorded messages.
#include <gtest/gtest.h>

#include "CKLF_CtrlStaticImage.h"
#include "ui/UITestUtil.h"

namespace {
const kltRGBA8 kPaint = {210, 220, 230, 255};
}

class StaticControlsTest : public UIToolkitTest {
 protected:
  void SetUp() override {
    UIToolkitTest::SetUp();
    st.Put("UIResources>Static Images>S>Normal", Pack(Picture(20, 10, 60, 30, kPaint)));
    st.Put("UIResources>Static Images>S>Disabled", Pack(Picture(20, 10, 40, 30, {100, 0, 0, 255})));
    st.Put("UIResources>Static Images>N>Normal", Pack(Picture(80, 10, 120, 30, kPaint)));
  }
};

TEST_F(StaticControlsTest, StaticImageShowsItsStatePictures) {
  Open();
  CKLT_RecordingWindow* w = Window();
  auto* s = Real<CKLF_CtrlStaticImage>(w, "S", klCtrlStaticImage);
  auto* n = Real<CKLF_CtrlStaticImage>(w, "N", klCtrlStaticImage);
  ASSERT_TRUE(s && n);
  struct Case {
    CKLF_CtrlStaticImage* c;
    u8 enabled;
    i16 x;
    u32 pixel;
    u8 above;
  } cases[] = {
      {s, 1, 30, 0xD2DCE6, 1}, {s, 1, 50, 0xD2DCE6, 1}, {s, 0, 30, 0x640101, 1},
      {s, 0, 50, 0x0A141E, 0},  // the disabled picture is smaller: the rest is cleared and not hit
      {n, 0, 90, 0x49535D, 1},  // no disabled picture: the normal one at opacity 80
  };
  for (const Case& k : cases) {
    k.c->Enable(k.enabled);
    ui.Pump();
    EXPECT_EQ(Pixel(w, k.x, 20), k.pixel) << k.c->GetName().GetStr() << int{k.enabled} << " " << k.x;
    EXPECT_EQ(k.c->PtInControl(k.x, 20), k.above) << k.x;
  }
  kltRECT_s r;
  ASSERT_NE(n->GetStateMemPtr(8, &r), nullptr);
  EXPECT_EQ(r.right, 120);  // the normal picture stands in
  EXPECT_EQ(s->SetState(3, 0), 0);
}

TEST_F(StaticControlsTest, StaticImageForwardsTheMouseToItsMaster) {
  Open();
  CKLT_RecordingWindow* w = Window();
  auto* s = Real<CKLF_CtrlStaticImage>(w, "S", klCtrlStaticImage);
  w->nextControl = new CKLT_TestControl;
  CKLT_TestControl* master = Control(w, "A", {0, 0, 0, 0});
  ASSERT_TRUE(s && master);
  s->SetFocusMaster(master);
  s->EnableMessageForwardingToFocusMaster(1);
  ui.PostMouse(klpMouseMoved, 130, 120);
  ui.PostClick(130, 121);
  ui.PostWheel(131, 120, -3);
  ui.Pump();
  EXPECT_EQ(log.Take(),
            "above 0, c1 got 0x150 from 0 =30,20, c1 got 0x151 from 0 =30,21, down 30,21, c1 got 0x152 from 0 =30,21, up, "
            "c1 got 0x153 from 0 =31,20,-3");
  // Without a master nothing is consumed: the window has the press.
  s->SetFocusMaster(nullptr);
  ui.AdvanceClock(1000);
  ui.PostClick(130, 120);
  ui.Pump();
  EXPECT_EQ(log.Take(), "down 30,20, up");
}
