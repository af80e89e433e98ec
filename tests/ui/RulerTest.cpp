// The ruler's alpha plane: tick lengths and labels of pixel and unit
// rulers, the lead and trail, the marker, vertical digits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "CKLF_CtrlRuler.h"
#include "CKLF_UIResources.h"
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
  // toward the ticks, their foot on the near inset).
  Data dv = Record(1, 0, 0);
  dv.nearInset = 2;
  dv.lead = 5;
  v->SetData(&dv, 1);
  EXPECT_EQ(std::vector<u32>({Tick(v, 4), Tick(v, 5), Tick(v, 55)}), std::vector<u32>({0, 15, 15}));
  EXPECT_EQ(Label(v, 55), "50");
  EXPECT_EQ(std::vector<u8>({Alpha(v, 57, 1), Alpha(v, 57, 2), Alpha(v, 57, 4), Alpha(v, 57, 5)}),
            std::vector<u8>({0, 105, 105, 0}));  // the three rows of "5"
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

namespace {

// WCAG relative luminance of an sRGB colour.
double Luminance(u32 rgb) {
  double l = 0;
  const double weight[] = {0.2126, 0.7152, 0.0722};
  for (int c = 0; c < 3; ++c) {
    const double v = ((rgb >> (16 - 8 * c)) & 255) / 255.0;
    l += weight[c] * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
  }
  return l;
}

double Contrast(u32 a, u32 b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

// The demo's rulers as the resource builder makes them: the ink in the
// record's colour planes reads on the dark strip, and the digits and the
// ticks between labels keep apart across the ruler, thin as it is.
TEST(RulerOnTheDemo, InkReadsOnTheStripAndDigitsKeepTheirColumn) {
  CKLP_HeadlessUI ui;
  KLP_SetUI(&ui);
  CKLF_App app;
  m_App = &app;
  ASSERT_EQ(app.InitStorgaeResource(KLF_UI_RESOURCE_FILE, 1), 1);
  {
    CKLT_RecordingWindow w;
    ASSERT_EQ(w.CreateFromResource("Demo", 0, 0, nullptr, 0), 1);
    w.Show();
    const i32 fontIndex = w.AddFont("Small 7 Normal");
    ASSERT_GE(fontIndex, 0);
    for (const char* name : {"Demo_RulerH", "Demo_RulerV"}) {
      SCOPED_TRACE(name);
      CKLF_UIResources res(app.GetStorage());
      CKLF_Mem block;
      kltRECT_s rr;
      const u8* record = res.LoadImageData((std::string("UIResources>Static Images>") + name + ">Normal").c_str(), &rr,
                                           &block);
      ASSERT_NE(record, nullptr);
      const size_t plane = static_cast<size_t>(rr.right - rr.left) * (rr.bottom - rr.top);
      const u32 ink = static_cast<u32>(record[0]) << 16 | record[plane] << 8 | record[2 * plane];

      w.realControls = 1;
      const i32 id = w.AddControl(name, klCtrlRuler);
      ASSERT_GE(id, 0);
      auto* ruler = static_cast<CKLF_CtrlRuler*>(w.GetControl(static_cast<u32>(id)));
      ruler->SetFont(w.GetFont(static_cast<u32>(fontIndex)));
      const bool vertical = rr.bottom - rr.top > rr.right - rr.left;
      Data d = Record(1, 0, 0);
      d.nearInset = vertical ? 2 : 1;
      ruler->SetData(&d, 1);
      ui.Pump();

      // Labelled ticks at 0, 50, 100 ... stand across the whole band.
      const u32 length = static_cast<u32>(vertical ? rr.bottom - rr.top : rr.right - rr.left);
      const u32 thickness = static_cast<u32>(vertical ? rr.right - rr.left : rr.bottom - rr.top);
      CKLF_Layer* l = ruler->GetControlLayer();
      const u8* alpha = l->GetMemObj()->GetPtr() + 3 * plane;
      auto at = [&](u32 along, u32 across) {
        return alpha[vertical ? along * thickness + across : across * length + along];
      };
      auto screen = [&](u32 along, u32 across) {
        u8 rgb[3] = {};
        EXPECT_TRUE(ui.GetPixel(w.GetWindowHandle(), rr.left + static_cast<i32>(vertical ? across : along),
                                rr.top + static_cast<i32>(vertical ? along : across), rgb));
        return static_cast<u32>(rgb[0]) << 16 | rgb[1] << 8 | rgb[2];
      };
      ASSERT_EQ(at(50, thickness - 1), 255);
      const u32 inked = screen(50, thickness - 1), strip = screen(51, d.nearInset);
      EXPECT_EQ(inked, ink);
      EXPECT_GE(Contrast(inked, strip), 4.5) << std::hex << inked << " on " << strip;

      // Each position along: its tick is the run from the far edge; every
      // other covered pixel is a digit's.
      u32 digitsEnd = 0, ticksStart = thickness, digitPixels = 0;
      for (u32 a = 0; a < length; ++a) {
        u32 run = 0;
        while (run < thickness && at(a, thickness - 1 - run) == 255) ++run;
        const bool labelled = run >= thickness - d.nearInset;
        if (run && !labelled) ticksStart = std::min(ticksStart, thickness - run);
        for (u32 c = 0; !labelled && c < thickness - run; ++c)
          if (at(a, c)) digitsEnd = std::max(digitsEnd, c + 1), ++digitPixels;
      }
      EXPECT_GT(digitPixels, 20u);
      EXPECT_LT(ticksStart, thickness - 3);  // short ticks show
      EXPECT_LE(digitsEnd, ticksStart) << "digits reach column " << digitsEnd - 1;
    }
  }
  m_App = nullptr;
  KLP_SetUI(nullptr);
}
