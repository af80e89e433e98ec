// The ruler's alpha plane: tick lengths and labels of pixel and unit
// rulers, the lead and trail, the marker, vertical digits.
#include <gtest/gtest.h>

#include <cstring>

#include "CKLF_CtrlRuler.h"
#include "ui/UITestUtil.h"

namespace {

using Data = CKLF_CtrlRuler::KLF_RulerData;

// Digits 2 x 3 pixels, one line of 4, each of coverage 100 + digit, so a
// label reads back from the alpha plane.
std::vector<u8> DigitFont() {
  std::vector<u8> f = {'K', 'L', 'F', '2', '0', '9'};
  for (u8 d = 0; d < 10; ++d) {
    f.insert(f.end(), {0, 0, 0, 2, 3});
    f.insert(f.end(), 6, static_cast<u8>(100 + d));
  }
  return f;
}

Data Record(u8 unit, i8 shift, u32 first, f64 resolution = 0) {
  return {unit, 0, 0, 1, 0, shift, first, 0, 65535, resolution};
}

}  // namespace

class RulerTest : public UIToolkitTest {
 protected:
  CKLF_Font font;
  CKLF_CtrlRuler* h = nullptr;  // 200 x 20 along the top
  CKLF_CtrlRuler* v = nullptr;  // 20 x 80 down the left

  void SetUp() override {
    UIToolkitTest::SetUp();
    st.Put("UIResources>Static Images>RH>Normal", Pack(Picture(0, 0, 200, 20, {255, 255, 255, 0})));
    st.Put("UIResources>Static Images>RV>Normal", Pack(Picture(0, 20, 20, 100, {255, 255, 255, 0})));
    Open();
    CKLT_RecordingWindow* w = Window();
    h = Real<CKLF_CtrlRuler>(w, "RH", klCtrlRuler);
    v = Real<CKLF_CtrlRuler>(w, "RV", klCtrlRuler);
    const std::vector<u8> f = DigitFont();
    ASSERT_EQ(font.OpenRecord(f.data(), static_cast<u32>(f.size())), 1);
    ASSERT_TRUE(h && v);
    h->SetFont(&font);
    v->SetFont(&font);
  }
  u8 Alpha(CKLF_CtrlRuler* r, u32 along, u32 across) {
    CKLF_Layer* l = r->GetControlLayer();
    const u32 w = l->GetImageWidth(), hh = l->GetImageHeight();
    const u32 x = r == v ? across : along, y = r == v ? along : across;
    return l->GetMemObj()->GetPtr()[3u * w * hh + y * w + x];
  }
  // Opaque pixels up from the far edge.
  u32 Tick(CKLF_CtrlRuler* r, u32 along) {
    u32 n = 0;
    while (n < 20 && Alpha(r, along, 19 - n) == 255) ++n;
    return n;
  }
  std::vector<u8> Plane(CKLF_CtrlRuler* r) {
    CKLF_Layer* l = r->GetControlLayer();
    const u8* p = l->GetMemObj()->GetPtr() + 3u * l->GetImageWidth() * l->GetImageHeight();
    return std::vector<u8>(p, p + l->GetImageWidth() * l->GetImageHeight());
  }
  // The digits from along + 2 on the glyphs' middle row.
  std::string Label(CKLF_CtrlRuler* r, u32 along) {
    std::string s;
    for (u32 p = along + 2; p < (r == v ? 80u : 200u); p += 3) {
      const u8 a = Alpha(r, p, r == v ? 4 : 2);
      if (a < 100 || a > 109) break;
      s += static_cast<char>('0' + a - 100);
    }
    return s;
  }
};

TEST_F(RulerTest, TicksAndLabelsOfPixelAndUnitRulers) {
  struct Probe {
    u32 along, tick;
    const char* label;
  };
  struct Case {
    u8 unit;
    f64 resolution;
    i8 shift;
    u32 first;
    u8 phase;
    u16 lead, trail;
    std::vector<Probe> probes;
  } cases[] = {
      {1, 0, 0, 0, 0, 0, 0, {{0, 15, "0"}, {3, 0, ""}, {5, 4, ""}, {10, 7, ""}, {50, 15, "50"}, {100, 15, "100"}}},
      {1, 0, 1, 0, 0, 0, 0, {{3, 0, ""}, {2, 4, ""}, {20, 7, ""}, {50, 4, ""}, {100, 15, "50"}}},
      {1, 0, 3, 0, 0, 0, 0, {{4, 0, ""}, {8, 4, ""}, {40, 4, ""}, {80, 15, "10"}, {160, 15, "20"}}},
      {1, 0, 2, 3, 1, 0, 0, {{3, 4, ""}, {5, 0, ""}, {27, 7, ""}, {67, 15, "20"}}},  // displayed 13 at the start
      {1, 0, 0, 37, 0, 0, 0, {{0, 0, ""}, {3, 7, ""}, {13, 15, "50"}}},
      {1, 0, -2, 0, 0, 0, 0, {{25, 4, ""}, {50, 15, "200"}, {55, 4, ""}}},  // 4 image pixels a ruler pixel
      {1, 0, 0, 0, 0, 10, 20, {{0, 0, ""}, {10, 15, "0"}, {60, 15, "50"}, {160, 15, "150"}, {180, 0, ""}}},
      // 72 dpi: 0.03528 cm a pixel, ticks every 0.5 cm, labels every 2 cm.
      {3, 72, 0, 0, 0, 0, 0, {{0, 15, "0"}, {14, 0, ""}, {15, 5, ""}, {29, 7, ""}, {43, 5, ""}, {57, 15, "2"}, {114, 15, "4"}}},
      // Ticks every 1/8 inch (9 pixels), a label every inch.
      {2, 72, 0, 0, 0, 0, 0, {{9, 4, ""}, {18, 5, ""}, {36, 6, ""}, {72, 15, "1"}, {144, 15, "2"}}},
      // Half a percent a pixel: ticks every 5 %, labels every 25 %.
      {5, 200, 0, 0, 0, 0, 0, {{10, 7, ""}, {50, 15, "25"}, {100, 15, "50"}}},
      // Millimetres at 300 dpi: ticks every 0.5 mm, labels every 10 mm.
      {4, 300, 0, 0, 0, 0, 0, {{0, 15, "0"}, {6, 3, ""}, {12, 5, ""}, {60, 6, ""}, {119, 15, "10"}}},
  };
  for (const Case& c : cases) {
    Data d = Record(c.unit, c.shift, c.first, c.resolution);
    d.phase = c.phase;
    d.lead = c.lead;
    d.trail = c.trail;
    h->SetData(&d, 1);
    for (const Probe& p : c.probes) {
      EXPECT_EQ(Tick(h, p.along), p.tick) << int{c.unit} << " " << int{c.shift} << " at " << p.along;
      EXPECT_EQ(Label(h, p.along), p.label) << int{c.unit} << " " << int{c.shift} << " at " << p.along;
    }
  }
}

TEST_F(RulerTest, MarkerFallbackAndVerticalDigits) {
  Data d = Record(1, 0, 0);
  h->SetData(&d, 1);
  const std::vector<u8> pixels = Plane(h);
  d.marker = 30;
  h->SetData(&d, 1);
  for (u32 c = 0; c < 20; ++c) EXPECT_EQ(Alpha(h, 30, c), c & 1 ? 255 : 0) << c;
  // A marker at or past the length draws no line; centimetres without a
  // resolution, and percent of nothing, are the pixel ruler.
  const Data same[] = {Record(1, 0, 0), Record(3, 0, 0), Record(5, 0, 0)};
  for (Data s : same) {
    s.marker = 200;
    h->SetData(&s, 1);
    EXPECT_EQ(Plane(h), pixels) << int{s.unit};
  }
  // Vertical: near inset 2, the glyphs turned clockwise (their top row
  // toward the ticks).
  Data dv = Record(1, 0, 0);
  dv.nearInset = 2;
  dv.lead = 5;
  v->SetData(&dv, 1);
  EXPECT_EQ(std::vector<u32>({Tick(v, 4), Tick(v, 5), Tick(v, 55)}), std::vector<u32>({0, 15, 15}));
  EXPECT_EQ(Label(v, 55), "50");
  EXPECT_EQ(Alpha(v, 57, 5), 105);  // glyph row 0 of "5"
  EXPECT_EQ(Alpha(v, 57, 2), 0);
}

TEST(RulerData, ComparesFieldByField) {
  Data a, b;
  std::memset(&a, 0xAA, sizeof a);  // the padding differs
  std::memset(&b, 0, sizeof b);
  for (Data* d : {&a, &b}) {
    d->unit = 3;
    d->lead = d->trail = d->farInset = 0;
    d->nearInset = 2;
    d->zoomShift = -2;
    d->firstPixel = 40;
    d->phase = 0;
    d->marker = 65535;
    d->resolution = 72;
  }
  EXPECT_TRUE(a == b);
  b.resolution = 300;
  EXPECT_TRUE(a != b);
}
