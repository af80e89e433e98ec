#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CKLF_WindowResource.h"
#include "ui/UITestUtil.h"

// Records that do not hold what their header says are absent (192).
TEST(UIResources, MalformedImagesAndMasksAreAbsent) {
  Store st;
  st.Put("I>Good", Pack(Rec(10, 20, 30, 25, 4 * 20 * 5)));  // 408 bytes
  st.Put("I>Raw", Rec(10, 20, 30, 25, 4 * 20 * 5));          // not a compressed block
  st.Put("I>Short", Pack(std::vector<u8>(7, 0)));
  st.Put("I>Inverted", Pack(Rec(30, 20, 10, 25, 0)));
  st.Put("I>Less", Pack(Rec(10, 20, 30, 25, 4 * 20 * 5 - 1)));
  st.Put("I>More", Pack(Rec(10, 20, 30, 25, 4 * 20 * 5 + 1)));
  st.Put("M>Short", Pack(Rec(0, 0, 4, 4, 15)));
  CKLF_UIResources res(&st.s);
  CKLF_Mem m;
  kltRECT_s r = klNullRect;
  u8* data = res.LoadImageData("I>Good", &r, &m);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data, m.GetPtr() + 8);
  EXPECT_EQ(m.GetSize(), 408u);
  EXPECT_EQ(r.right, 30);
  for (const char* key : {"I>Raw", "I>Short", "I>Inverted", "I>Less", "I>More", "I>Missing"}) {
    EXPECT_EQ(res.LoadImageData(key, &r, &m), nullptr) << key;
    EXPECT_EQ(res.GetError(), klErrUIResource) << key;
  }
  EXPECT_NE(res.LoadMaskData("I>More", &r, &m), nullptr);  // a mask needs at least W x H bytes
  EXPECT_EQ(res.LoadMaskData("M>Short", &r, &m), nullptr);
  EXPECT_EQ(CKLF_UIResources(nullptr).LoadImageData("I>Good", &r, &m), nullptr);
}

TEST(UIResources, StringsRectsAndFontKeys) {
  Store st;
  ASSERT_TRUE(st.s.AddFolder("UIResources"));
  ASSERT_TRUE(st.s.AddFolder("UIResources>Rects"));
  ASSERT_TRUE(st.s.AddFolder("UIResources>Rects>Half"));
  ASSERT_TRUE(st.s.SetRecord("UIResources>Rects>Half>Rect Bottom", static_cast<u16>(9)));
  ASSERT_TRUE(st.s.SetRecord("UIResources>Rects>Half>Rect Left", static_cast<u16>(4)));
  ASSERT_TRUE(st.s.SetRecord("UIResources>Rects>Half>Rect Top", static_cast<u16>(2)));
  ASSERT_TRUE(st.s.AddFolder("UIResources>Strings"));
  ASSERT_TRUE(st.s.SetRecord("UIResources>Strings>Hello", CKLF_String("Hi")));
  ASSERT_TRUE(st.s.AddFolder("UIResources>Fonts"));
  ASSERT_TRUE(st.s.SetRecord("UIResources>Fonts>Text", CKLF_String("not a font")));
  CKLF_UIResources res(&st.s);
  kltRECT_s r = {0, 0, 0, 0};
  EXPECT_EQ(res.GetResourceRect("Half", r), 0);  // no ">Rect Right": bottom and left are filled
  EXPECT_EQ(r.bottom, 9);
  EXPECT_EQ(r.left, 4);
  EXPECT_EQ(r.top, 0);
  EXPECT_FAILS(res, res.GetRectRecords("UIResources>Rects>Half", r), klErrUIResource);
  CKLF_String s;
  EXPECT_EQ(res.GetResourceString("Hello", s), 1);
  EXPECT_EQ(s, "Hi");
  EXPECT_EQ(res.GetResourceString("Bye", s), 0);
  CKLF_Font f;
  EXPECT_FAILS(res, res.OpenFont("Text", f), klErrBadArg);
}

// A background that does not start at (0, 0): the window grows by its left
// and top, and the outline lies where the picture is.
TEST(WindowResource, OutlineFollowsAnOffsetBackground) {
  Store st;
  const std::string w = "UIResources>Windows>W";
  std::vector<u8> bg = Rec(3, 2, 103, 52, 4 * 100 * 50);
  const size_t alpha = 8 + 3 * 100 * 50;
  for (size_t i = 0; i < 100 * 50; ++i) bg[alpha + i] = (i % 100) < 50 ? 255 : 128;  // right half outside
  st.Put(w + ">Background", Pack(bg));
  st.Put(w + ">Caption_Inactive", Pack(Rec(0, 0, 5, 5, 1)));  // malformed, and unread without an active one
  st.Put(w + ">Drag_Area", Pack(Rec(10, 10, 12, 11, 2, 0)));
  CKLF_WindowResource win;
  ASSERT_EQ(win.Load(&st.s, "W"), 1);
  EXPECT_EQ(win.GetWidth(), 106);
  EXPECT_EQ(win.GetHeight(), 54);
  EXPECT_EQ(win.GetBackground().GetPos().x, 3);
  EXPECT_EQ(win.HasInactiveCaption(), 0);
  EXPECT_EQ(win.HasDragArea(), 1);
  EXPECT_EQ(win.PtInDragArea(10, 10), 0);  // mask bytes 0
  CKLF_Mem bits;
  u32 rowBytes = 0;
  ASSERT_EQ(win.MakeShape(bits, rowBytes), 1);
  EXPECT_EQ(rowBytes, 106u / 8 + 1);
  auto in = [&](u32 x, u32 y) { return (bits.GetPtr()[y * rowBytes + x / 8] >> (7 - x % 8)) & 1; };
  EXPECT_EQ(in(3, 2), 1);
  EXPECT_EQ(in(52, 51), 1);
  EXPECT_EQ(in(2, 2), 0);
  EXPECT_EQ(in(3, 1), 0);
  EXPECT_EQ(in(53, 2), 0);  // alpha 128 is outside
  st.Put(w + ">Caption_Active", Pack(Rec(0, 0, 5, 5, 4 * 25 - 1)));
  EXPECT_FAILS(win, win.Load(&st.s, "W"), klErrUIResource);  // a present caption must be whole
  EXPECT_FAILS(win, win.Load(&st.s, "Missing"), klErrUIResource);
}

// Record data into a layer: whole, offset and cut at the layer's edges, or
// a band of rows (the layer then keeps what it held elsewhere).
TEST(UIResources, SetDataToImageCopiesAndClips) {
  std::vector<u8> rec = Rec(0, 0, 4, 3, 4 * 12);
  for (size_t i = 0; i < 48; ++i) rec[8 + i] = static_cast<u8>(i + 1);  // red 1..12, green 13..24, ...
  const kltRECT_s r = {0, 0, 4, 3};
  CKLF_Layer l;
  ASSERT_EQ(l.Create(0, 0, 4, 3, 2), 1);
  auto red = [&](u16 x, u16 y) { return l.GetPixel(x, y).red; };
  CKLF_UIResources::SetDataToImage(&l, 0, 0, rec.data() + 8, r, 0, 0);
  EXPECT_EQ(l.GetPixel(3, 2).alpha, 48);
  l.Set(kltRGBA8{99, 99, 99, 99}, 15);
  CKLF_UIResources::SetDataToImage(&l, 0, 1, rec.data() + 8, r, 2, 5);  // the last row, once
  EXPECT_EQ(red(0, 0), 99);
  EXPECT_EQ(red(0, 1), 9);
  EXPECT_EQ(red(0, 2), 99);
  CKLF_UIResources::SetDataToImage(&l, 2, -1, rec.data() + 8, r, 0, 0);  // cleared, then cut
  EXPECT_EQ(red(0, 0), 0);
  EXPECT_EQ(red(2, 0), 5);
  EXPECT_EQ(red(3, 1), 10);
  EXPECT_EQ(l.GetPixel(3, 2).alpha, 0);
}
