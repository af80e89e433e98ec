// Static image, static text and progress bar on the headless platform,
// probed through the window's pixels and recorded messages; the status
// line's fade.
#include <gtest/gtest.h>

#include <cmath>

#include "CKLF_CtrlProgress.h"
#include "CKLF_CtrlStaticImage.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLF_StatusFade.h"
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
    st.Put("UIResources>Static Texts>T>Normal", Pack(Picture(20, 40, 80, 60, kPaint)));
    // A bar over (20, 70, 120, 80) whose ramp rises from 1 to 255 along it.
    std::vector<u8> ramp = Picture(20, 70, 120, 80, {0, 0, 0, 255});
    for (size_t i = 0; i < 1000; ++i) ramp[8 + i] = static_cast<u8>(1 + i % 100 * 254 / 99);
    st.Put("UIResources>Progresses>G>Normal", Pack(Picture(20, 70, 120, 80, kPaint)));
    st.Put("UIResources>Progresses>G>Data", Pack(ramp));
    st.Put("UIResources>Progresses>NoRamp>Normal", Pack(Picture(20, 70, 120, 80, kPaint)));
  }
  // Pixels of the rectangle that have that colour.
  int Count(CKLF_Window* w, kltRECT_s r, u32 colour) {
    int n = 0;
    for (i32 y = r.top; y < r.bottom; ++y)
      for (i32 x = r.left; x < r.right; ++x) n += Pixel(w, x, y) == colour;
    return n;
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

TEST_F(StaticControlsTest, StaticTextCutsItsPaintWithTheGlyphs) {
  Open();
  CKLT_RecordingWindow* w = Window();
  auto* t = Real<CKLF_CtrlStaticText>(w, "T", klCtrlStaticText);
  ASSERT_NE(t, nullptr);
  // One glyph, "I": a solid 2 x 10 bar.
  std::vector<u8> record = {'K', 'L', 'F', '2', 'I', 'I', 0, 1, 0, 2, 10};
  record.insert(record.end(), 20, 255);
  CKLF_Font font;
  ASSERT_EQ(font.OpenRecord(record.data(), static_cast<u32>(record.size())), 1);
  const kltRECT_s r = {20, 40, 80, 60};
  t->SetText("II", 3, 2, 12);
  t->Redraw();
  ui.Pump();
  EXPECT_EQ(Count(w, r, 0x0A141E), 60 * 20);  // no font: nothing shows
  t->SetFont(&font);
  t->Redraw();
  ui.Pump();
  EXPECT_EQ(Count(w, r, 0xD2DCE6), 40);
  EXPECT_EQ(Pixel(w, 23, 42), 0xD2DCE6u);  // at the offset
  t->Enable(0);  // no disabled paint: the normal one at opacity 80
  ui.Pump();
  EXPECT_EQ(Count(w, r, 0x49535D), 40);
  t->SetText(nullptr);
  EXPECT_STREQ(t->GetText().GetStr(), "II");
}

// A flowing text breaks between words to the control's width, joins the
// lines it was given, keeps its leading blanks, gives a longer word a line
// of its own and leaves a text with tabs as it is.
TEST_F(StaticControlsTest, StaticTextFlowsToItsWidth) {
  Open();
  auto* t = Real<CKLF_CtrlStaticText>(Window(), "T", klCtrlStaticText);
  ASSERT_NE(t, nullptr);
  // Glyphs from ' ' to 'z', 4 pixels wide and 1 apart: n characters span
  // 5n - 1 pixels, so 11 fit the 57 pixels right of the offset.
  std::vector<u8> record = {'K', 'L', 'F', '2', ' ', 'z'};
  for (int code = ' '; code <= 'z'; ++code) {
    record.insert(record.end(), {0, 1, 0, 4, 2});
    record.insert(record.end(), 8, code == ' ' ? 0 : 255);
  }
  CKLF_Font font;
  ASSERT_EQ(font.OpenRecord(record.data(), static_cast<u32>(record.size())), 1);
  t->SetFont(&font);
  t->SetText("", 3, 2, 12);
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"aaaa\nbbbb cccc dddd", "aaaa bbbb\ncccc dddd"},
      {"  aaaa bbbb cccc", "  aaaa bbbb\ncccc"},
      {"aaaaaaaaaaaaaaa bb", "aaaaaaaaaaaaaaa\nbb"},
      {"aa\tbb cccc dddd eeee", "aa\tbb cccc dddd eeee"},
      {"\nReady...", "Ready..."},
  };
  t->SetText("aaaa bbbb cccc dddd");
  EXPECT_FALSE(t->TextFits());  // one line, too wide, until it flows
  t->SetFlow(1);
  EXPECT_STREQ(t->GetShownText().GetStr(), "aaaa bbbb\ncccc dddd");
  EXPECT_TRUE(t->TextFits());
  for (const auto& c : cases) {
    t->SetText(c.text);
    EXPECT_STREQ(t->GetShownText().GetStr(), c.shown) << c.text;
    EXPECT_STREQ(t->GetText().GetStr(), c.text);
  }
  // Three lines are taller than the control.
  t->SetText("aaaa bbbb cccc dddd eeee ffff");
  EXPECT_FALSE(t->TextFits());
  t->SetFlow(0);
  EXPECT_STREQ(t->GetShownText().GetStr(), "aaaa bbbb cccc dddd eeee ffff");
}

TEST_F(StaticControlsTest, ProgressShowsTheRampUpToItsLevel) {
  Open();
  CKLT_RecordingWindow* w = Window();
  auto* g = Real<CKLF_CtrlProgress>(w, "G", klCtrlProgress);
  ASSERT_NE(g, nullptr);
  EXPECT_FAILS_WITH(*w, w->AddControl("NoRamp", klCtrlProgress), -1, klErrUIResource);
  struct Case {
    double minimum, maximum, value;
    const char* msg;
    int shown;  // columns of the bar shown
  } cases[] = {
      {0, 100, 0, "msg 0x100 0 G =0", 0},          {0, 100, 100, "msg 0x100 0 G =100", 100},
      {0, 100, 50, "msg 0x100 0 G =50", 50},        {0, 100, 150, "msg 0x100 0 G =100", 100},
      {0, 100, -5, "msg 0x100 0 G =0", 0},          {5, 5, 5, "msg 0x100 0 G =0", 0},  // an empty range
      {5, 5, 6, "msg 0x100 0 G =0", 0},             {0, std::nan(""), 1, "msg 0x100 0 G =0", 0},
  };
  for (const Case& c : cases) {
    g->SetMinMax(c.minimum, c.maximum);
    g->SetValue(c.value);
    ui.Pump();
    EXPECT_EQ(log.Take(), c.msg) << c.value;
    EXPECT_EQ(Count(w, {20, 75, 120, 76}, 0xD2DCE6), c.shown) << c.value;
  }
}

// Out by 65 a tick (255, 190, 125, 60, 0: swapped), in by 40 to 255; the
// same pending text again restarts nothing, a new one mid-way fades out
// from where it stands.
TEST(StatusFade, FadesOutSwapsAndFadesIn) {
  CKLF_StatusFade f;
  u8 opacity = 0, swap = 0;
  EXPECT_EQ(f.Tick(opacity, swap), 0);
  ASSERT_EQ(f.SetText("Ready"), 1);
  EXPECT_EQ(f.SetText("Ready"), 0);
  std::vector<int> seen;
  int swappedAt = -1;
  while (f.Tick(opacity, swap)) {
    if (swap) swappedAt = static_cast<int>(seen.size());
    seen.push_back(opacity);
  }
  EXPECT_EQ(seen, (std::vector<int>{190, 125, 60, 0, 40, 80, 120, 160, 200, 240, 255}));
  EXPECT_EQ(swappedAt, 3);
  EXPECT_EQ(f.GetState(), CKLF_StatusFade::kIdle);
  f.SetText("Cut");
  f.Tick(opacity, swap);
  f.Tick(opacity, swap);
  f.SetText("Undo");
  EXPECT_EQ(f.Tick(opacity, swap), 1);
  EXPECT_EQ(opacity, 60);
  EXPECT_EQ(f.GetPending(), "Undo");
  // A progress text stops the fade where it stands and shows at 255; the
  // pending text stays, so the same tip again starts nothing.
  f.Stop(255);
  EXPECT_EQ(f.Tick(opacity, swap), 0);
  EXPECT_EQ(f.SetText("Undo"), 0);
  f.SetNow("", 255);
  EXPECT_EQ(f.GetPending(), "");
  EXPECT_EQ(f.GetState(), CKLF_StatusFade::kIdle);
  EXPECT_EQ(f.SetText("Undo"), 1);
}

// Turning on a tick of its own: the text goes in on the tick after the
// opacity reached 0, the fade ends on the tick after it reached 255.
TEST(StatusFade, TurningOnATickOfItsOwn) {
  CKLF_StatusFade f(CKLF_StatusFade::kTurnNextTick);
  u8 opacity = 0, swap = 0;
  ASSERT_EQ(f.SetText("Ready"), 1);
  std::vector<int> seen;
  int swappedAt = -1, ticks = 0;
  for (; ticks < 20 && f.GetState() != CKLF_StatusFade::kIdle; ++ticks) {
    if (!f.Tick(opacity, swap)) continue;
    if (swap) swappedAt = static_cast<int>(seen.size());
    seen.push_back(opacity);
  }
  EXPECT_EQ(seen, (std::vector<int>{190, 125, 60, 0, 0, 40, 80, 120, 160, 200, 240, 255}));
  EXPECT_EQ(swappedAt, 4);
  EXPECT_EQ(ticks, 13);
}
