#include <gtest/gtest.h>

#include <vector>

#include "CKLF_TextLayer.h"
#include "CKLF_UIResources.h"
#include "support/TestSupport.h"

namespace {

struct Glyph {
  i8 a, c, y;
  u8 w, h;
};

// A font record whose glyphs are solid boxes of coverage 200.
std::vector<u8> Record(u8 first, const std::vector<Glyph>& glyphs) {
  std::vector<u8> r = {'K', 'L', 'F', '2', first, static_cast<u8>(first + glyphs.size() - 1)};
  for (const Glyph& g : glyphs) {
    r.insert(r.end(), {static_cast<u8>(g.a), static_cast<u8>(g.c), static_cast<u8>(g.y), g.w, g.h});
    r.insert(r.end(), static_cast<size_t>(g.w) * g.h, 200);
  }
  return r;
}

// Columns of row y that hold coverage.
std::vector<int> Inked(CKLF_Layer& l, u16 y) {
  std::vector<int> xs;
  for (u16 x = 0; x < l.GetImageWidth(); ++x)
    if (l.GetPixel(x, y).alpha) xs.push_back(x);
  return xs;
}

}  // namespace

TEST(Font, MalformedRecordsAreRefused) {
  std::vector<u8> good = Record(32, std::vector<Glyph>(95, Glyph{0, 1, 2, 3, 4}));
  std::vector<u8> cutLast(good.begin(), good.end() - 1), cutHead(good.begin(), good.begin() + 6 + 17 * 94 + 3);
  std::vector<u8> badMagic = good, reversed = good;
  badMagic[3] = '1';
  reversed[4] = 127;  // first above last
  const std::vector<std::vector<u8>> bad = {{}, {'K', 'L', 'F', '2', 32}, badMagic, reversed, cutLast, cutHead};
  for (const auto& r : bad) {
    CKLF_Font f;
    EXPECT_EQ(f.OpenRecord(r.data(), static_cast<u32>(r.size())), 0) << r.size();
    EXPECT_EQ(f.GetError(), klErrFontRecord);
    EXPECT_EQ(f.IsOpen(), 0);
  }
  CKLF_Font f;
  u32 w, h;
  EXPECT_FAILS(f, f.GetTextSize("A", 15, w, h), klErrEmpty);
  // A last code of 255 ends the glyph walk.
  std::vector<u8> top = Record(250, std::vector<Glyph>(6, Glyph{0, 0, 0, 1, 1}));
  ASSERT_EQ(f.OpenRecord(top.data(), static_cast<u32>(top.size())), 1);
  i16 a, c, y;
  EXPECT_NE(f.GetChar(255, a, c, y, w, h), nullptr);
  EXPECT_FAILS_WITH(f, f.GetChar(249, a, c, y, w, h), nullptr, klErrFontChar);
}

// The six fonts the windows name, as the builder made them.
TEST(Font, BuiltFontsMeasureAsTheirGlyphsSay) {
  CKLF_Storage store;
  ASSERT_EQ(store.Open(CKLF_String(KLF_UI_RESOURCE_FILE), 1), 1);
  CKLF_UIResources res(&store);
  for (const char* name : {"Small Font", "Info Font", "Edit Font", "List Font", "Message Font", "Small 7 Normal"}) {
    CKLF_Font f;
    ASSERT_EQ(res.OpenFont(name, f), 1) << name;
    EXPECT_EQ(f.GetFirstCharCode(), 32);
    EXPECT_EQ(f.GetLastCharCode(), 126);
    i16 a[2], c[2], y[2], asc, desc;
    u32 w[2], h[2];
    const u8* cov = f.GetChar('A', a[0], c[0], y[0], w[0], h[0]);
    ASSERT_NE(cov, nullptr);
    ASSERT_NE(f.GetChar('B', a[1], c[1], y[1], w[1], h[1]), nullptr);
    bool partial = false;  // anti-aliased edges, not a 1-bit font
    for (u32 i = 0; i < w[0] * h[0]; ++i) partial = partial || (cov[i] > 0 && cov[i] < 255);
    EXPECT_TRUE(partial) << name;
    f.GetMaxAB(asc, desc);
    const i32 penA = a[0] < 0 ? -a[0] : 0, penB = penA + a[0] + w[0] + c[0];
    u32 tw, th, bw, bh;
    ASSERT_EQ(f.GetTextSize("AB", 15, tw, th), 1);
    EXPECT_EQ(tw, static_cast<u32>(penB + a[1] + w[1])) << name;
    EXPECT_EQ(th, static_cast<u32>(asc + std::max(y[0] + h[0], y[1] + h[1]))) << name;
    ASSERT_EQ(f.GetTextSize("B", 15, bw, bh), 1);
    ASSERT_EQ(f.GetTextSize("A\nB", 15, tw, th), 1);
    EXPECT_GE(th, bh + 15);
    EXPECT_EQ(res.OpenFont("No Such Font", f), 0);
  }
  CKLF_Font none;
  CKLF_UIResources closed(nullptr);
  EXPECT_FAILS(closed, closed.OpenFont("Small Font", none), klErrEmpty);
}

// Glyph 'a' (97): a box 3 wide with A = -2; 'b': 2 wide, A = 1, C = 1.
TEST(TextLayer, TabsLineFeedsAndNegativeAAtLineStart) {
  std::vector<Glyph> g(2);
  g[0] = {-2, 0, 0, 3, 2};
  g[1] = {1, 1, 1, 2, 2};
  std::vector<u8> rec = Record('a', g);
  CKLF_Font f;
  ASSERT_EQ(f.OpenRecord(rec.data(), static_cast<u32>(rec.size())), 1);
  CKLF_TextLayer t;
  ASSERT_EQ(t.Create(0, 0, 1, 30, 12), 1);
  EXPECT_FAILS(t, t.DrawText(), klErrBadArg);  // no font yet
  ASSERT_TRUE(t.SetFont(&f));
  ASSERT_EQ(t.SetText("ab\ta", kltRGBA8{1, 2, 3, 255}, 5, 0, 0), 1);
  // 'a' moved right by 2 at the line start: 0..2; 'b' at 3 + 1, one row
  // lower; the tab without stops leaves the pen at 7, so the second 'a'
  // (not at a line start) begins at 5.
  EXPECT_EQ(Inked(t, 0), (std::vector<int>{0, 1, 2, 5, 6, 7}));
  EXPECT_EQ(Inked(t, 1), (std::vector<int>{0, 1, 2, 4, 5, 6, 7}));
  EXPECT_EQ(t.GetPixel(4, 1).red, 1);
  ASSERT_TRUE(t.AddTab(20));
  ASSERT_EQ(t.SetText("b\tb\na"), 1);
  EXPECT_EQ(Inked(t, 1), (std::vector<int>{1, 2, 21, 22}));
  EXPECT_EQ(Inked(t, 5), (std::vector<int>{0, 1, 2}));  // the next line, 5 lower, starts anew
  // A growing layer fits the text and never shrinks.
  CKLF_TextLayer grow;
  ASSERT_EQ(grow.Create(7, 8, 0, 0, 0), 1);
  ASSERT_TRUE(grow.SetFont(&f));
  ASSERT_EQ(grow.SetText("bbbbbbbb"), 1);
  EXPECT_EQ(grow.GetImageWidth(), 31);
  EXPECT_EQ(grow.GetPos().x, 7);
  ASSERT_EQ(grow.SetText("a\na\na\na\na"), 1);
  EXPECT_EQ(grow.GetImageWidth(), 31);
  EXPECT_EQ(grow.GetImageHeight(), 4 * 15 + 2);
}
