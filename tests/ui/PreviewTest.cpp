// The preview on the headless platform: coordinates at every zoom, the
// wheel, the mouse, panning, refining, its composition against a slow
// reference, and its companions (scroll bars, rulers, navigator).
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "CKLF_CtrlPreview.h"
#include "ui/UITestUtil.h"

namespace {

// x, y, x ^ y, opaque: a pixel tells where it came from.
void Pattern(CKLF_Image& img, u16 w, u16 h) {
  ASSERT_EQ(img.Create(w, h, 2), 1);
  u8* p[5];
  u32 s;
  img.GetImageChannels(p, s);
  for (u32 y = 0; y < h; ++y)
    for (u32 x = 0; x < w; ++x) {
      const u32 at = y * s + x;
      p[0][at] = static_cast<u8>(x), p[1][at] = static_cast<u8>(y), p[2][at] = static_cast<u8>(x ^ y), p[3][at] = 255;
    }
}

u32 Rgb(u32 r, u32 g, u32 b) { return (r & 255) << 16 | (g & 255) << 8 | (b & 255); }

struct Shown {
  u8 zoom, washed, refine;
  const u8* mask;
  u32 stride;
  kltRGBA8 colours[4];  // image A, B, margin A, B
  kltRGBA8 mark;
};

// One view pixel composed the obvious way, from displayed coordinates.
kltRGBA8 Reference(CKLF_Image& img, const Shown& v, i32 dx, i32 dy) {
  const i32 dw = v.zoom >= 4 ? img.GetImageWidth() << (v.zoom - 4) : img.GetImageWidth() >> (4 - v.zoom);
  const i32 dh = v.zoom >= 4 ? img.GetImageHeight() << (v.zoom - 4) : img.GetImageHeight() >> (4 - v.zoom);
  const i32 square = ((dx >> 3) + (dy >> 3)) & 1;
  if (dx < 0 || dy < 0 || dx >= dw || dy >= dh) return v.colours[2 + square];
  const i32 shift = v.zoom - 4, b = shift < 0 ? 1 << -shift : 1;
  const i32 ix = shift >= 0 ? dx >> shift : dx * b, iy = shift >= 0 ? dy >> shift : dy * b;
  const bool mean = v.refine && v.zoom < 4;
  u32 sum[4] = {};
  for (i32 y = 0; y < (mean ? b : 1); ++y)
    for (i32 x = 0; x < (mean ? b : 1); ++x) {
      const kltRGBA8 p = img.GetPixel(static_cast<u16>(ix + x), static_cast<u16>(iy + y));
      sum[0] += p.red, sum[1] += p.green, sum[2] += p.blue, sum[3] += p.alpha;
    }
  const u32 div = mean ? 2 * static_cast<u32>(-shift) : 0;
  const u8 m = v.mask ? v.mask[iy * v.stride + ix] : 0;
  const kltRGBA8 k = v.colours[square];
  const u8 ks[3] = {k.red, k.green, k.blue}, marks[3] = {v.mark.red, v.mark.green, v.mark.blue};
  const i32 a = static_cast<i32>(sum[3] >> div);
  u8 out[3];
  for (int c = 0; c < 3; ++c) {
    i32 col = static_cast<i32>(sum[c] >> div);
    if (v.washed || m) col = (col >> 1) + 128;
    out[c] = static_cast<u8>(a == 0 ? ks[c] : a == 255 ? col : ks[c] - (((ks[c] - col) * a) >> 8));
    if (m && ((dx + dy) & 3) == 0) out[c] = marks[c];
  }
  return {out[0], out[1], out[2], 255};
}

}  // namespace

class PreviewTest : public UIToolkitTest {
 protected:
  // Window "P" (560 x 360) at (100, 100): the view (20, 20, 420, 320), a
  // scroll bar below and one right of it, rulers above and left, the
  // navigator (450, 20, 546, 86).
  const kltRECT_s kView = {20, 20, 420, 320};
  CKLT_RecordingWindow* w = nullptr;
  std::unique_ptr<CKLF_CtrlPreview> pv;  // outlives the windows
  CKLF_CtrlScrollBar* hb = nullptr;
  CKLF_CtrlScrollBar* vb = nullptr;
  CKLF_CtrlRuler* hr = nullptr;
  CKLF_CtrlRuler* vr = nullptr;
  CKLF_CtrlStaticImage* nav = nullptr;
  CKLF_Image img;
  std::string id;  // the preview's id in messages

  void SetUp() override {
    UIToolkitTest::SetUp();
    st.Put("UIResources>Windows>P>Background", Pack(Background(0, 0, 560, 360)));
    Bar("PH", {20, 330, 420, 346}, 0);
    Bar("PV", {430, 20, 446, 320}, 1);
    st.Put("UIResources>Static Images>RH>Normal", Pack(Picture(20, 0, 420, 16, {255, 255, 255, 0})));
    st.Put("UIResources>Static Images>RV>Normal", Pack(Picture(0, 20, 16, 320, {255, 255, 255, 0})));
    st.Put("UIResources>Static Images>Nav>Normal", Pack(Picture(450, 20, 546, 86, {200, 200, 200, 0})));
    Open();
    w = Window(100, 100, nullptr, "P");
    hb = Real<CKLF_CtrlScrollBar>(w, "PH", klCtrlScrollBar);
    vb = Real<CKLF_CtrlScrollBar>(w, "PV", klCtrlScrollBar);
    hr = Real<CKLF_CtrlRuler>(w, "RH", klCtrlRuler);
    vr = Real<CKLF_CtrlRuler>(w, "RV", klCtrlRuler);
    nav = Real<CKLF_CtrlStaticImage>(w, "Nav", klCtrlStaticImage);
    ASSERT_TRUE(hb && vb && hr && vr && nav);
    pv = std::make_unique<CKLF_CtrlPreview>();
    id = std::to_string(w->AddControl_External(pv.get())) + " ";
  }
  void TearDown() override {
    UIToolkitTest::TearDown();
    pv.reset();
  }
  void Bar(const std::string& name, kltRECT_s r, u8 vertical) {
    const std::string f = "UIResources>Scroll Bars>" + name;
    st.Value(f + ">Is Vertical", vertical);
    const u16 l = static_cast<u16>(r.left), t = static_cast<u16>(r.top);
    st.Put(f + ">Thumb_Data", Pack(Picture(l, t, l + 4, t + 4, {255, 255, 255, 255})));
    st.Rect(f, r);
  }
  // A pattern image of w x h bound at the zoom and drawn; the log emptied.
  void Bind(u16 iw, u16 ih, u8 zoom) {
    Pattern(img, iw, ih);
    ASSERT_EQ(pv->SetData(kView, &img, vb, hb, hr, vr, nav), 1);
    pv->SetZoom(zoom, -1, -1, 1, 1);
    pv->DoRedraw(1, 0);
    ui.Pump();
    log.Take();
  }
  void Mouse(u16 kind, i32 x, i32 y, u32 mods = 0) {
    ui.PostMouse(kind, 100 + x, 100 + y, 1, mods);
    ui.Pump();
  }
  std::string Msgs(const char* prefix = "msg 0x14") { return log.Take(prefix); }
  std::string M(const char* code, const std::string& data) { return std::string("msg ") + code + " " + id + " =" + data; }
};

TEST_F(PreviewTest, MarginsOffsetRangeAndScrollBarsAtEachZoom) {
  struct Case {
    u16 w, h;
    u8 zoom;
    kltRECT_s margins, range;
    u32 hTotal;
    u8 hEnabled;
  } cases[] = {
      {100, 80, 4, {150, 110, 150, 110}, {-150, -110, -150, -110}, 400, 0},  // centred and pinned
      {100, 80, 8, {50, 50, 50, 50}, {-50, -50, 1250, 1030}, 1700, 1},     // 1600 x 1280
      {15, 15, 0, {200, 150, 200, 150}, {-200, -150, -200, -150}, 400, 0},  // 0 x 0 displayed
      {1000, 800, 3, {50, 50, 50, 50}, {-50, -50, 150, 150}, 600, 1},
  };
  for (const Case& c : cases) {
    Bind(c.w, c.h, c.zoom);
    const kltRECT_s m = pv->GetMargins(), r = pv->GetOffsetRange();
    EXPECT_EQ(std::vector<i32>({m.left, m.top, m.right, m.bottom}),
              std::vector<i32>({c.margins.left, c.margins.top, c.margins.right, c.margins.bottom}));
    EXPECT_EQ(std::vector<i32>({r.left, r.top, r.right, r.bottom}),
              std::vector<i32>({c.range.left, c.range.top, c.range.right, c.range.bottom}));
    for (i32 far : {-100000, 100000}) {
      pv->SetOffset(far, far, 1);
      EXPECT_EQ(pv->GetOffset().x, far < 0 ? c.range.left : c.range.right);
      EXPECT_EQ(pv->GetOffset().y, far < 0 ? c.range.top : c.range.bottom);
      EXPECT_EQ(hb->GetPosition(), static_cast<u32>(m.left + pv->GetOffset().x));
    }
    u32 total = 0, visible = 0;
    hb->GetInfo(total, visible);
    EXPECT_EQ(total, c.hTotal);
    EXPECT_EQ(visible, 400u);
    EXPECT_EQ(hb->IsEnabled(), c.hEnabled);
  }
}

TEST_F(PreviewTest, WheelZoomsAtTheMouseAndStopsAtTheEnds) {
  Bind(1000, 800, 4);
  const kltPOS under = pv->GetImageCoorsByPreviewCoors({100, 50});
  ui.PostWheel(100 + 120, 100 + 70, 1);
  ui.Pump();
  EXPECT_EQ(pv->GetZoom(), 5);
  EXPECT_EQ(pv->GetImageCoorsByPreviewCoors({100, 50}).x, under.x);
  EXPECT_EQ(pv->GetImageCoorsByPreviewCoors({100, 50}).y, under.y);
  struct Case {
    u8 from;
    i32 delta;
    u8 to;
    std::vector<const char*> zooms;
  } cases[] = {{7, 3, 8, {"8"}}, {1, -5, 0, {"0"}}, {4, 2, 6, {"5", "6"}}, {8, 1, 8, {}}};
  for (const Case& c : cases) {
    pv->SetZoom(c.from, -1, -1, 1, 0);
    Msgs();
    ui.PostWheel(300, 250, c.delta);
    ui.Pump();
    std::string want;
    for (const char* z : c.zooms) want += (want.empty() ? "" : ", ") + M("0x140", z);
    EXPECT_EQ(Msgs("msg 0x140"), want) << int{c.from} << " " << c.delta;
    EXPECT_EQ(pv->GetZoom(), c.to);
  }
  EXPECT_FAILS(*pv, pv->SetZoom(9, -1, -1, 1, 0), klErrBadArg);
}

TEST_F(PreviewTest, MousePositionsInImageCoordinates) {
  Bind(100, 80, 4);  // at view (150, 110)
  struct Case {
    i32 x, y;
    const char* at;
  } cases[] = {{10, 150, "-1,40"}, {300, 150, "65535,40"}, {160, 120, "10,10"}, {160, 5, "10,-1"}, {249, 189, "99,79"}};
  for (const Case& c : cases) {
    Mouse(klpMouseMoved, kView.left + c.x, kView.top + c.y);
    EXPECT_EQ(Msgs(), M("0x141", c.at)) << c.x;
  }
  // A click without the space bar is the window's; the view stays.
  ui.PostClick(100 + 180, 100 + 140);
  ui.Pump();
  EXPECT_EQ(log.Take(), "down 180,140, up");
  EXPECT_EQ(pv->GetOffset().x, -150);
}

TEST_F(PreviewTest, SpaceDragPansWithFastRedrawsAndOneFullRedraw) {
  Bind(1000, 800, 4);
  ui.PostKey(klpKeyDown, klpVKSpace, ' ');
  ui.Pump();
  Mouse(klpMouseDown, 220, 170);
  Mouse(klpMouseDragged, 170, 140);
  EXPECT_EQ(Pixel(w, kView.left, kView.top), Rgb(50, 30, 50 ^ 30));  // on screen at once
  Mouse(klpMouseDragged, 120, 120);
  EXPECT_EQ(pv->IsInPanningMode(), 1);
  Mouse(klpMouseUp, 120, 120);
  EXPECT_EQ(Msgs(), M("0x143", "0,0") + ", " + M("0x143", "50,30") + ", " + M("0x143", "100,50") + ", " +
                        M("0x142", "100,50"));
  EXPECT_EQ(pv->IsInPanningMode(), 0);
  EXPECT_EQ(Pixel(w, kView.left + 10, kView.top), Rgb(110, 50, 110 ^ 50));
  // Space with Command zooms in at the mouse, with Option out.
  Mouse(klpMouseDown, 120, 120, klpCmdKey);
  Mouse(klpMouseUp, 120, 120, klpCmdKey);
  Mouse(klpMouseDown, 120, 120, klpOptionKey);
  Mouse(klpMouseUp, 120, 120, klpOptionKey);
  EXPECT_EQ(Msgs("msg 0x140"), M("0x140", "5") + ", " + M("0x140", "4"));
}

TEST_F(PreviewTest, ReducedViewsAreRefined200MsAfterTheLastChange) {
  Bind(64, 64, 3);  // 1:2, at view (184, 134)
  const u8 block[4] = {0, 100, 200, 40};  // image (10, 6), (11, 6), (10, 7), (11, 7)
  for (u16 i = 0; i < 4; ++i) img.SetPixel(10 + i % 2, 6 + i / 2, {block[i], block[i], block[i], 255});
  const i32 x = kView.left + 184 + 5, y = kView.top + 134 + 3;
  pv->DoRedraw(1, 0);
  EXPECT_EQ(Pixel(w, x, y), 0u);  // the nearest sample first
  ui.AdvanceClock(150);
  pv->DoRedraw(1, 0);  // a change restarts the wait
  ui.AdvanceClock(199);
  EXPECT_EQ(Pixel(w, x, y), 0u);
  ui.AdvanceClock(1);
  EXPECT_EQ(Pixel(w, x, y), Rgb(85, 85, 85));  // (0 + 100 + 200 + 40) / 4
  const std::string done = M("0x142", "-184,-134");
  EXPECT_EQ(Msgs(), done + ", " + done + ", " + done);
  ui.AdvanceClock(1000);  // once
  EXPECT_EQ(Msgs(), "");
}

TEST_F(PreviewTest, ComposesAsTheSlowReference) {
  std::mt19937 rng(18);
  auto r = [&](i32 lo, i32 hi) { return std::uniform_int_distribution<i32>(lo, hi)(rng); };
  std::vector<u8> mask;
  CKLF_Layer* layer = w->GetLayer(0u);
  for (int round = 0; round < 60; ++round) {
    ASSERT_EQ(img.Create(static_cast<u16>(r(1, 120)), static_cast<u16>(r(1, 90)), 2), 1);
    const u32 iw = img.GetImageWidth(), ih = img.GetImageHeight();
    u8* p = img.GetMemObj()->GetPtr();
    for (u32 i = 0; i < 4 * iw * ih; ++i) p[i] = static_cast<u8>(r(0, 5) == 0 ? 0 : r(0, 5) == 0 ? 255 : r(0, 255));
    Shown v = {static_cast<u8>(r(0, 8)), static_cast<u8>(r(0, 1)), static_cast<u8>(r(0, 1)), nullptr, iw + 3, {}, {255, 0, 0, 255}};
    for (kltRGBA8& c : v.colours) c = {static_cast<u8>(r(0, 255)), static_cast<u8>(r(0, 255)), static_cast<u8>(r(0, 255)), 255};
    if (r(0, 1)) {
      mask.assign(v.stride * ih, 0);
      for (u8& m : mask) m = static_cast<u8>(r(0, 2) ? 0 : r(1, 255));
      v.mask = mask.data();
    }
    const u8 full = static_cast<u8>(r(0, 1));
    const kltRECT_s view = {r(0, 200), r(0, 150), 0, 0};
    const kltRECT_s rect = {view.left, view.top, view.left + r(1, 150), view.top + r(1, 100)};
    pv->SetImageCheckerColors(v.colours[0], v.colours[1]);
    pv->SetMarginCheckerColors(v.colours[2], v.colours[3]);
    pv->SetMaskChannel(v.mask, v.stride);
    pv->SetWashedOut(v.washed);
    ASSERT_EQ(pv->SetData(rect, &img, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    pv->SetZoom(v.zoom, -1, -1, 0, 1);
    const kltRECT_s range = pv->GetOffsetRange();
    pv->SetOffset(r(range.left - 5, range.right + 5), r(range.top - 5, range.bottom + 5), 0);
    pv->DoRedraw(full, v.refine);
    v.washed &= full;
    const kltPOS off = pv->GetOffset();
    u32 wrong = 0;
    for (i32 y = rect.top; y < rect.bottom; ++y)
      for (i32 x = rect.left; x < rect.right; ++x) {
        const kltRGBA8 want = Reference(img, v, x - rect.left + off.x, y - rect.top + off.y);
        const kltRGBA8 got = layer->GetPixel(static_cast<u16>(x), static_cast<u16>(y));
        wrong += got.red != want.red || got.green != want.green || got.blue != want.blue;
      }
    EXPECT_EQ(wrong, 0u) << "round " << round << " zoom " << int{v.zoom} << " refine " << int{v.refine};
  }
}

TEST_F(PreviewTest, NavigatorShowsTheFrameAndMovesTheView) {
  Bind(800, 600, 4);  // thumbnail 80 x 60 at (8, 3), 0.1 navigator pixels a displayed pixel
  struct Probe {
    i32 x, y;
    u8 alpha, grey;
  } probes[] = {{8, 10, 255, 0}, {49, 10, 255, 0}, {20, 3, 255, 0},    {20, 34, 255, 0},
                {20, 10, 0, 0},  {60, 10, 100, 200}, {20, 40, 100, 200}, {8, 1, 255, 0}};
  CKLF_Layer* l = nav->GetControlLayer();
  // The frame stays through the navigator's states: disabled (the normal
  // picture dimmed), enabled again.
  for (u8 enabled : {1, 0, 1}) {
    nav->Enable(enabled);
    for (const Probe& p : probes) {
      const kltRGBA8 c = l->GetPixel(static_cast<u16>(p.x), static_cast<u16>(p.y));
      EXPECT_EQ(c.alpha, p.alpha) << p.x << "," << p.y << " enabled " << int{enabled};
      EXPECT_EQ(c.red, p.grey) << p.x << "," << p.y << " enabled " << int{enabled};
    }
    EXPECT_EQ(l->GetOpacity(), enabled ? 255 : nav->GetDisabledOpacity());
  }
  // A press at (45, 33) centres the frame there: x = -50 + (45 - 8 - 20) * 500 / 40.
  Mouse(klpMouseDown, 450 + 45, 20 + 33);
  EXPECT_EQ(pv->GetOffset().x, 162);
  EXPECT_EQ(pv->GetOffset().y, 150);
  Mouse(klpMouseDragged, 450 + 50, 20 + 33);
  Mouse(klpMouseUp, 450 + 50, 20 + 33);
  EXPECT_EQ(Msgs(), M("0x143", "162,150") + ", " + M("0x143", "225,150") + ", " + M("0x142", "225,150"));
  ui.PostWheel(100 + 460, 100 + 30, -2);  // the wheel zooms at the view's centre
  ui.Pump();
  EXPECT_EQ(pv->GetZoom(), 2);
  // The wheel's delta is a 32-bit value after x and y.
  i32 data[3] = {460, 30, 65536};
  pv->OnCtrlMessage(klMsgImageWheel, nav->GetControlID(), "Nav", klCtrlStaticImage, data);
  EXPECT_EQ(pv->GetZoom(), 8);
}

TEST_F(PreviewTest, RulersFollowTheViewAndTheMouse) {
  Bind(100, 80, 4);
  struct Want {
    CKLF_CtrlRuler* ruler;
    u16 lead, trail, nearInset;
  } wants[] = {{hr, 150, 150, 1}, {vr, 110, 110, 2}};
  for (const Want& x : wants) {
    const CKLF_CtrlRuler::KLF_RulerData* d = x.ruler->GetData();
    EXPECT_EQ(std::vector<u32>({d->lead, d->trail, d->nearInset, d->firstPixel, d->marker}),
              std::vector<u32>({x.lead, x.trail, x.nearInset, 0, 65535 - 20}));  // out of sight
  }
  Mouse(klpMouseMoved, 70, 60);
  EXPECT_EQ(hr->GetData()->marker, 50);
  EXPECT_EQ(vr->GetData()->marker, 40);
  Mouse(klpMouseMoved, 500, 200);  // off the view: the markers go at the next check
  ui.AdvanceClock(200);
  EXPECT_EQ(hr->GetData()->marker, 65535 - 20);
  pv->SetRulerUnit(CKLF_CtrlRuler::klUnitPercent);
  Bind(1000, 800, 6);
  pv->SetOffset(101, 0, 1);
  pv->DoRedraw(1, 0);
  const CKLF_CtrlRuler::KLF_RulerData* d = hr->GetData();
  EXPECT_EQ(std::vector<f64>({f64(d->unit), f64(d->zoomShift), f64(d->firstPixel), f64(d->phase), d->resolution}),
            std::vector<f64>({5, 2, 25, 1, 1000}));
}

TEST_F(PreviewTest, ScrollBarsMoveTheViewAndABadImageLeavesItUnbound) {
  Bind(1000, 800, 4);  // 900 rows, 300 seen: a 100-pixel thumb, 3 rows a pixel
  const kltRECT_s t = vb->GetThumbRect();
  Mouse(klpMouseDown, 438, (t.top + t.bottom) / 2);
  Mouse(klpMouseDragged, 438, (t.top + t.bottom) / 2 + 10);
  Mouse(klpMouseUp, 438, (t.top + t.bottom) / 2 + 10);
  const std::string at = "0," + std::to_string(static_cast<i32>(vb->GetPosition()) - 50);
  EXPECT_GT(vb->GetPosition(), 70u);
  EXPECT_EQ(Msgs(), M("0x143", at) + ", " + M("0x142", at));
  hb->SetPosition(300);
  EXPECT_EQ(Msgs(), M("0x142", "250" + at.substr(1)));
  CKLF_Image rgb;
  ASSERT_EQ(rgb.Create(10, 10, 1), 1);
  EXPECT_FAILS(*pv, pv->SetData(kView, &rgb, vb, hb, hr, vr, nav), klErrBadArg);
  EXPECT_FAILS(*pv, pv->SetData({500, 300, 600, 400}, &img, vb, hb, hr, vr, nav), klErrBadArg);  // past the layer
  pv->DoRedraw(1, 0);
  pv->UpdateScrollbars(1);
  Mouse(klpMouseMoved, 100, 100);
  EXPECT_EQ(Msgs(), "");
}
