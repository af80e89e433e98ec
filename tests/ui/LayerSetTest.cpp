#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "CKLF_LayerSet.h"
#include "CKLF_OffscreenBitmap.h"
#include "support/TestSupport.h"

namespace {

// One-pixel layer of colour v (all planes) and alpha a (a < 0: RGB).
std::unique_ptr<CKLF_Layer> Pixel(u8 v, int a, u8 opacity) {
  auto l = std::make_unique<CKLF_Layer>();
  EXPECT_TRUE(l->Create(0, 0, 1, 1, a < 0 ? 1 : 2));
  l->Set(kltRGBA8{v, v, v, static_cast<u8>(a < 0 ? 255 : a)}, 15);
  l->SetOpacity(opacity);
  return l;
}

// The formulas applied one pixel at a time. The lowest layer present in a
// canvas row (within the rendered columns) is copied over its own columns;
// every further one blends over what the canvas holds.
int Slow(const std::vector<CKLF_Layer*>& layers, int x, int y, int plane, kltRECT_s cols, int d) {
  bool first = true;
  for (CKLF_Layer* l : layers) {
    kltRECT_s r = l->GetRect();
    const kltRECT_s c = l->GetClipRect();
    if (!klIsNullRect(c)) r = {std::max(r.left, c.left), std::max(r.top, c.top), std::min(r.right, c.right),
                               std::min(r.bottom, c.bottom)};
    const int a = std::max(r.left, cols.left), b = std::min(r.right, cols.right);
    if (!l->GetVisible() || !l->GetOpacity() || y < r.top || y >= r.bottom || a >= b) continue;
    const bool copy = first;
    first = false;
    if (x < a || x >= b) continue;
    const kltRECT_s at = l->GetRect();
    const kltRGBA8 p = l->GetPixel(static_cast<u16>(x - at.left), static_cast<u16>(y - at.top));
    const int s = plane == 0 ? p.red : plane == 1 ? p.green : p.blue, o = l->GetOpacity();
    const bool alpha = l->GetImageMode() == 2;
    if (copy)
      d = s;
    else if (alpha && o < 255)
      d -= static_cast<int>(std::floor(o * p.alpha * (d - s) / 65536.0));
    else if (alpha)
      d -= static_cast<int>(std::floor(p.alpha * (d - s) / 256.0));
    else if (o < 255)
      d = (d * (255 - o) + s * o) / 256;
    else
      d = s;
  }
  return d;
}

}  // namespace

TEST(LayerSet, BlendFormulasAtChosenValues) {
  struct Case {
    int alpha;
    u8 opacity;
    u8 top;
    u8 want;
  } cases[] = {
      {128, 255, 100, 150},  // 200 - floor(128 * 100 / 256)
      {128, 255, 250, 225},  // 200 - floor(128 * -50 / 256)
      {128, 128, 100, 175},  // 200 - floor(128 * 128 * 100 / 65536)
      {128, 128, 250, 213},  // 200 - floor(-12.5)
      {-1, 128, 100, 149},   // (200 * 127 + 100 * 128) / 256
      {-1, 255, 100, 100},
      {0, 255, 100, 200},
  };
  for (const Case& c : cases) {
    CKLF_LayerSet set;
    ASSERT_EQ(set.Create(1, 1), 1);
    auto bottom = Pixel(200, 10, 40);  // copied unblended, whatever its alpha and opacity
    auto top = Pixel(c.top, c.alpha, c.opacity);
    ASSERT_GE(set.AddLayer(bottom.get()), 0);
    ASSERT_GE(set.AddLayer(top.get()), 0);
    ASSERT_EQ(set.Render(klNullRect), 1);
    EXPECT_EQ(set.GetCanvas()->GetPixel(0, 0).green, c.want) << c.alpha << " " << int(c.opacity) << " " << int(c.top);
  }
  CKLF_LayerSet empty;
  EXPECT_FAILS(empty, empty.Render(klNullRect), klErrEmpty);
}

// Random stacks of RGB and RGBA layers with positions off the canvas,
// clips, hidden and zero-opacity layers, rendered in random rectangles
// over a canvas that already holds something: against the per-pixel
// formulas.
TEST(LayerSet, RandomStacksMatchThePerPixelFormulas) {
  std::mt19937 rng(7);
  auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int trial = 0; trial < 40; ++trial) {
    const u16 w = static_cast<u16>(in(1, 40)), h = static_cast<u16>(in(1, 30));
    CKLF_LayerSet set;
    ASSERT_EQ(set.Create(w, h), 1);
    std::vector<std::unique_ptr<CKLF_Layer>> owned;
    std::vector<CKLF_Layer*> layers;
    for (int n = in(0, 6); n > 0; --n) {
      auto l = std::make_unique<CKLF_Layer>();
      ASSERT_EQ(l->Create(static_cast<i16>(in(-10, w)), static_cast<i16>(in(-10, h)), static_cast<u16>(in(1, 30)),
                          static_cast<u16>(in(1, 25)), static_cast<u8>(in(1, 2))),
                1);
      u8* p = l->GetMemObj()->GetPtr();
      for (u32 i = 0; i < l->GetMemObj()->GetSize(); ++i) p[i] = static_cast<u8>(in(0, 255));
      const int o = in(0, 5);  // often 0 or 255, the formulas' edges
      l->SetOpacity(static_cast<u8>(o == 0 ? 0 : o == 1 ? 255 : in(1, 255)));
      l->SetVisible(in(0, 7) != 0);
      if (in(0, 3) == 0) l->SetClipRect({in(-5, w), in(-5, h), in(0, w + 5), in(0, h + 5)});
      layers.push_back(l.get());
      ASSERT_GE(set.AddLayer(l.get()), 0);
      owned.push_back(std::move(l));
    }
    std::vector<u8> before(static_cast<size_t>(w) * h * 3);
    for (u8& b : before) b = static_cast<u8>(in(0, 255));
    std::memcpy(set.GetCanvas()->GetMemObj()->GetPtr(), before.data(), before.size());
    const kltRECT_s r = in(0, 2) == 0 ? klNullRect : kltRECT_s{in(-5, w), in(-5, h), in(0, w + 5), in(0, h + 5)};
    ASSERT_EQ(set.Render(r), 1);
    kltRECT_s all = klIsNullRect(r) ? kltRECT_s{0, 0, w, h} : r;
    all = {std::max(all.left, 0), std::max(all.top, 0), std::min<int>(all.right, w), std::min<int>(all.bottom, h)};
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const size_t i = static_cast<size_t>(c) * w * h + static_cast<size_t>(y) * w + x;
          const bool inside = x >= all.left && x < all.right && y >= all.top && y < all.bottom;
          const int want = inside ? Slow(layers, x, y, c, all, before[i]) : before[i];
          ASSERT_EQ(set.GetCanvas()->GetMemObj()->GetPtr()[i], want)
              << "trial " << trial << " at " << x << "," << y << " plane " << c;
        }
  }
}

TEST(OffscreenBitmap, SetCopiesClippedRectanglesAsZeroRGB) {
  CKLF_OffscreenBitmap bm;
  EXPECT_FAILS(bm, bm.Set(nullptr, 0, 0, klNullRect), klErrEmpty);
  EXPECT_FAILS(bm, bm.Create(0, 4), klErrBadArg);
  ASSERT_EQ(bm.Create(4, 3), 1);
  CKLF_Image img;
  ASSERT_EQ(img.Create(3, 3, 1), 1);
  for (u16 y = 0; y < 3; ++y)
    for (u16 x = 0; x < 3; ++x) img.SetPixel(x, y, kltRGBA8{static_cast<u8>(10 * x + y), 1, 2, 255});
  // The rectangle starts left of the bitmap: the source shifts with it.
  ASSERT_EQ(bm.Set(&img, 0, 0, {-1, 1, 3, 9}), 1);
  const u8* p = bm.GetPixels();
  EXPECT_EQ(std::vector<u8>(p + 16, p + 32), (std::vector<u8>{0, 10, 1, 2, 0, 20, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(p[2 * 16 + 1], 11);  // the next row reads the next source row
  EXPECT_EQ(std::vector<u8>(p, p + 16), std::vector<u8>(16, 0));
}
