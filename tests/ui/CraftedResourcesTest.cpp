// UI resource records a damaged or hand-edited resource file can hold,
// read through the toolkit's readers on the headless platform: a window
// larger than a screen, control pictures and rectangles outside their
// window, a slider path whose ends lie far apart. Each is refused as a
// malformed record (192) or read soundly, never allocated for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlSlider.h"
#include "CKLF_CtrlStaticImage.h"
#include "CKLF_WindowResource.h"
#include "ui/UITestUtil.h"

namespace {

const kltRGBA8 kGrey = {90, 90, 90, 255};

// A slider folder with the points given and every other record sound,
// inside window "W" (200 x 100).
void Slider(Store& st, const std::string& name, const std::vector<kltPOS>& points, kltRECT_s zone) {
  const std::string f = "UIResources>Sliders>" + name;
  std::vector<u8> coors(5 * points.size());
  for (size_t j = 0; j < points.size(); ++j) {
    KLF_PutBE16(&coors[5 * j], static_cast<u16>(points[j].x));
    KLF_PutBE16(&coors[5 * j + 2], static_cast<u16>(points[j].y));
  }
  st.Value(f + ">Data_NumPoints", static_cast<u16>(points.size()));
  st.Put(f + ">Data_Coors", coors);
  st.Value(f + ">Data_ValueStart", u32{0});
  st.Value(f + ">Data_ValueEnd", u32{10});
  st.Put(f + ">Data_HotZone", Pack(Picture(zone, kGrey)));
  st.Value(f + ">HotSpot_X", u16{20});
  st.Value(f + ">HotSpot_Y", u16{50});
}

void Button(Store& st, const std::string& name, kltRECT_s normal, kltRECT_s mask) {
  const std::string f = "UIResources>Buttons>" + name;
  st.Put(f + ">Normal", Pack(Picture(normal, kGrey)));
  st.Put(f + ">Data", Pack(Picture(mask, kGrey)));
}

}  // namespace

// Window "W" is 200 x 100: a control's pictures, masks and rectangles lie
// in it or the control is refused; an optional picture outside it is no
// picture.
TEST_F(UIToolkitTest, ControlRecordsOutsideTheWindowAreRefused) {
  const kltRECT_s inside = {10, 10, 60, 30}, far = {32766, 32766, 32767, 32767};
  Button(st, "FarNormal", far, inside);  // a 1 x 1 picture whose union with nothing asks for a 4 GB layer
  Button(st, "FarMask", inside, far);
  Button(st, "PastEdge", {150, 80, 201, 100}, inside);
  Button(st, "FarHighlight", inside, inside);
  st.Put("UIResources>Buttons>FarHighlight>Highlighted", Pack(Picture(far, kGrey)));
  st.Rect("UIResources>Edits>FarEdit", {10, 10, 300, 30});
  const std::string list = "UIResources>Lists>FarList";
  st.Put(list + ">Background_Selected", Pack(Picture(inside, kGrey)));
  st.Put(list + ">Foreground_Selected", Pack(Picture(inside, kGrey)));
  st.Rect(list, {10, 10, 60, 101});
  const std::string bar = "UIResources>Scroll Bars>FarBar";
  st.Put(bar + ">Thumb_Data", Pack(Picture(10, 10, 14, 14, kGrey)));
  st.Rect(bar, {10, 10, 16, 40000});
  Slider(st, "FarZone", {{20, 50}, {40, 50}}, {0, 0, 250, 100});
  st.Put("UIResources>Progresses>FarBar>Normal", Pack(Picture(far, kGrey)));
  st.Put("UIResources>Progresses>FarBar>Data", Pack(Picture(inside, kGrey)));
  st.Put("UIResources>Static Images>FarImage>Normal", Pack(Picture(far, kGrey)));
  Open();
  CKLT_RecordingWindow* w = Window();
  w->realControls = 1;
  const struct {
    const char* name;
    u8 type;
  } refused[] = {{"FarNormal", klCtrlButton},   {"FarMask", klCtrlButton},   {"PastEdge", klCtrlButton},
                 {"FarEdit", klCtrlEditLine},   {"FarList", klCtrlList},     {"FarBar", klCtrlScrollBar},
                 {"FarZone", klCtrlSlider},     {"FarBar", klCtrlProgress}};
  for (const auto& r : refused) {
    EXPECT_EQ(w->AddControl(r.name, r.type), -1) << r.name;
    EXPECT_EQ(w->GetError(), klErrUIResource) << r.name;
  }
  EXPECT_EQ(w->GetControlCount(), 0u);
  // Optional pictures outside: the button comes up over its normal picture
  // alone, the image with nothing to show.
  auto* b = Real<CKLF_CtrlButton>(w, "FarHighlight", klCtrlButton);
  ASSERT_NE(b, nullptr);
  const kltRECT_s r = b->GetRenderRect();
  EXPECT_EQ(std::vector<i32>({r.left, r.top, r.right, r.bottom}), std::vector<i32>({10, 10, 60, 30}));
  auto* image = Real<CKLF_CtrlStaticImage>(w, "FarImage", klCtrlStaticImage);
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(klIsNullRect(image->GetRenderRect()));
}

// A window is at most klMaxWindowSide a side, and its captions lie in it.
TEST(UIResources, WindowsAreAtMostAScreenWithTheirPicturesInside) {
  Store st;
  const std::string w = "UIResources>Windows>";
  st.Put(w + "Far>Background", Pack(Background(16383, 16383, 16384, 16384)));  // 32767 x 32767
  st.Put(w + "Wide>Background", Pack(Background(0, 0, 4097, 1)));
  st.Put(w + "Widest>Background", Pack(Background(0, 0, 4096, 1)));
  st.Put(w + "Caption>Background", Pack(Background(0, 0, 100, 50)));
  st.Put(w + "Caption>Caption_Active", Pack(Background(0, 0, 101, 20)));
  st.Put(w + "Drag>Background", Pack(Background(0, 0, 100, 50)));
  st.Put(w + "Drag>Drag_Area", Pack(Rec(0, 0, 100, 51, 100 * 51)));
  CKLF_WindowResource res;
  for (const char* name : {"Far", "Wide", "Caption"}) {
    SCOPED_TRACE(name);
    EXPECT_FAILS(res, res.Load(&st.s, name), klErrUIResource);
  }
  ASSERT_EQ(res.Load(&st.s, "Widest"), 1);
  EXPECT_EQ(res.GetWidth(), CKLF_WindowResource::klMaxWindowSide);
  ASSERT_EQ(res.Load(&st.s, "Drag"), 1);  // a drag area that leaves the window is none
  EXPECT_EQ(res.HasDragArea(), 0);
}

// A path whose first and last points lie 46341 pixels apart: the squared
// distance does not fit 32 bits, and the path is no ring.
TEST_F(UIToolkitTest, SliderEndsFarApartMakeNoRing) {
  Slider(st, "Long", {{10, 50}, {30, 50}, {46351, 50}}, {0, 0, 200, 100});
  Slider(st, "Ring", {{10, 50}, {30, 50}, {11, 51}}, {0, 0, 200, 100});
  Open();
  CKLT_RecordingWindow* w = Window();
  auto* open = Real<CKLF_CtrlSlider>(w, "Long", klCtrlSlider);
  auto* ring = Real<CKLF_CtrlSlider>(w, "Ring", klCtrlSlider);
  ASSERT_TRUE(open && ring);
  EXPECT_EQ(open->GetCircularity(), 0);
  EXPECT_EQ(ring->GetCircularity(), 1);
}
