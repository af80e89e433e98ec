// The slider on the headless platform: values along its path, the value
// mappings, dragging and the wheel.
#include <gtest/gtest.h>

#include <cmath>

#include "CKLF_CtrlSlider.h"
#include "ui/UITestUtil.h"

class SliderTest : public UIToolkitTest {
 protected:
  // "L": 11 points (20 + 10 j, 50), values 0..100, an 8 x 8 knob; "D": a
  // closed ring of 12 points; the rest as their names say.
  void SetUp() override {
    UIToolkitTest::SetUp();
    std::vector<kltPOS> line, ring;
    for (int j = 0; j <= 10; ++j) line.push_back({20 + 10 * j, 50});
    for (int j = 0; j < 12; ++j)
      ring.push_back({static_cast<i32>(std::lround(150 + 20 * std::sin(j * 2 * M_PI / 11))),
                      static_cast<i32>(std::lround(50 - 20 * std::cos(j * 2 * M_PI / 11)))});
    Slider("L", line, {}, 0, 100);
    Slider("D", ring, {}, 1, 12, {126, 26, 174, 74});
    Slider("Half", {{10, 10}, {20, 10}, {30, 10}}, {}, 0, 1);
    Slider("Flags", {{10, 10}, {20, 10}, {30, 10}, {40, 10}, {50, 10}}, {2}, 0, 10);
    st.Value("UIResources>Sliders>Flags>Data_Value_0", u32{1000});
    Slider("Unvalued", {{10, 10}, {20, 10}, {30, 10}}, {1}, 0, 10);
    Slider("Empty", {}, {}, 0, 10);
    Slider("Short", {{10, 10}, {20, 10}}, {}, 0, 10);
    st.Put("UIResources>Sliders>Short>Data_Coors", std::vector<u8>(9));
  }
  void Slider(const std::string& name, const std::vector<kltPOS>& points, const std::vector<size_t>& flagged, u32 first,
              u32 last, kltRECT_s area = {10, 40, 130, 60}) {
    const std::string f = "UIResources>Sliders>" + name;
    std::vector<u8> coors;
    for (size_t j = 0; j < points.size(); ++j) {
      coors.insert(coors.end(), {0, 0, 0, 0, 0});
      KLF_PutBE16(&coors[5 * j], static_cast<u16>(points[j].x));
      KLF_PutBE16(&coors[5 * j + 2], static_cast<u16>(points[j].y));
      for (size_t k : flagged) coors[5 * j + 4] |= k == j;
    }
    st.Value(f + ">Data_NumPoints", static_cast<u16>(points.size()));
    st.Put(f + ">Data_Coors", coors);
    st.Value(f + ">Data_ValueStart", first);
    st.Value(f + ">Data_ValueEnd", last);
    st.Put(f + ">Background_Normal", Pack(Picture(area, {60, 60, 60, 255})));
    st.Put(f + ">Thumb_Normal", Pack(Picture(16, 46, 24, 54, {250, 250, 250, 255})));
    st.Put(f + ">Thumb_Pressed", Pack(Picture(16, 46, 24, 54, {250, 0, 0, 255})));
    st.Put(f + ">Data_HotZone", Pack(Picture(area, {255, 255, 255, 255})));
    st.Value(f + ">HotSpot_X", u16{20});
    st.Value(f + ">HotSpot_Y", u16{50});
  }
  CKLT_RecordingWindow* w = nullptr;
  CKLF_CtrlSlider* Add(const char* name) {
    if (!w) {
      Open();
      w = Window();
    }
    return Real<CKLF_CtrlSlider>(w, name, klCtrlSlider);
  }
  std::vector<u32> Values(CKLF_CtrlSlider* s) {
    std::vector<u32> v;
    for (u16 j = 0; s->SetPtPos(j, 0); ++j) v.push_back(s->GetValue());
    return v;
  }
};

TEST_F(SliderTest, PointValuesComeFromTheEndsFlagsAndInterpolation) {
  CKLF_CtrlSlider* l = Add("L");
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(log.Take(), "msg 0x100 0 L =0");  // Init places the knob on point 0
  EXPECT_EQ(Values(l), (std::vector<u32>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
  EXPECT_EQ(Values(Add("Half")), (std::vector<u32>{0, 0, 1}));  // 0.5 is not above 0 + 0.5
  EXPECT_EQ(Values(Add("Flags")), (std::vector<u32>{0, 500, 1000, 505, 10}));
  EXPECT_EQ(l->GetCircularity(), 0);
  EXPECT_EQ(Add("D")->GetCircularity(), 1);
  for (const char* refused : {"Unvalued", "Empty", "Short"}) {
    EXPECT_EQ(w->AddControl(refused, klCtrlSlider), -1) << refused;
    EXPECT_EQ(w->GetError(), klErrUIResource) << refused;
  }
}

TEST_F(SliderTest, ValuesMapOntoThePoints) {
  CKLF_CtrlSlider* l = Add("L");
  ASSERT_NE(l, nullptr);
  log.Take();
  struct Case {
    double value, minimum, maximum;  // minimum = maximum: SetValue(value)
    u32 want;
  } cases[] = {
      {37, 0, 0, 40}, {35, 0, 0, 30},  // the first of two equally near
      {1000, 0, 0, 100}, {5, 0, 10, 50}, {0.24, 0, 1, 20}, {3, 3, 3, 0},  // an empty range: the first point
      {1e30, 0, 1, 100}, {-7, 0, 1, 0}, {std::nan(""), 0, 1, 0},
  };
  for (const Case& c : cases) {
    if (c.minimum == c.maximum && c.minimum == 0) l->SetValue(static_cast<u32>(c.value), 1);
    else l->SetValueD(c.value, c.minimum, c.maximum, 1);
    EXPECT_EQ(l->GetValue(), c.want) << c.value;
    EXPECT_EQ(log.Take(), "msg 0x100 0 L =" + std::to_string(c.want)) << c.value;
  }
  l->SetValue(50, 0);
  EXPECT_EQ(l->GetValueD(0, 10), 5);
  EXPECT_EQ(l->GetValueD(0, 1), 1);  // rounded: 0.5 goes up
  EXPECT_EQ(l->GetValueD(4, 4), 4);
  EXPECT_EQ(log.Take(), "");
}

TEST_F(SliderTest, DraggingAndTheWheel) {
  CKLF_CtrlSlider* l = Add("L");
  CKLF_CtrlSlider* d = Add("D");
  ASSERT_TRUE(l && d);
  log.Take();
  struct Step {
    u16 kind;
    i32 x;
    const char* msgs;
    u32 knob;  // the pixel at point 3
  } steps[] = {
      {klpMouseDown, 31, "msg 0x105 0 L =10", 0x3C3C3C},
      {klpMouseDragged, 49, "msg 0x105 0 L =30", 0xFA0101},  // the pressed knob
      {klpMouseDragged, 51, "msg 0x105 0 L =30", 0xFA0101},  // every move reports
      {klpMouseUp, 52, "msg 0x100 0 L =30", 0xFAFAFA},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(Mouse(s.kind, s.x, 50), s.msgs) << s.x;
    EXPECT_EQ(Pixel(w, 50, 50), s.knob) << s.x;
  }
  struct Wheel {
    CKLF_CtrlSlider* s;
    u8 circular;
    i16 delta;
    u32 mods;
    u16 want;
  } wheels[] = {
      {d, 1, 3, 0, 1}, {d, 0, 3, 0, 11}, {d, 1, -3, 0, 7}, {d, 1, 12, 0, 10},  // a whole turn or more: nothing
      {d, 1, 1, klpShiftKey, 8},                                                 // Shift: ten points
      {l, 0, -100, 0, 10},
  };
  for (const Wheel& k : wheels) {
    k.s->SetPtPos(10, 0);
    k.s->SetCircularity(k.circular);
    ui.PostWheel(k.s == d ? 250 : 150, 150, k.delta, k.mods);
    ui.Pump();
    EXPECT_EQ(k.s->GetPoint(), k.want) << k.delta;
  }
}
