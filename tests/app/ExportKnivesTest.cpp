#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "CExportKnives.h"
#include "CKLF_ImagePNG.h"
#include "CKLF_ImageDrawing.h"
#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"
#include "support/SettingsBytes.h"
#include "support/TestSupport.h"

namespace {

typedef CExportLMDialogModel K;

// A 4 x 3 grid of knob knives over 300 x 200 pixels, one knife straight,
// one extra knife; some knives selected, one hidden.
struct Layout {
  CLayoutModel m;
  Layout() {
    klftest::BlockDesc d;
    d.H = 2, d.V = 3;
    d.knife = klftest::KnobKnife();
    d.vary = [](u32 list, u32 i, klftest::KnifeDesc& k) {
      if (list == 1 && i == 2) k.points.clear();
      if (i % 2) k.flags = 1;
    };
    d.extras = {{6, 12}};
    const std::vector<u8> block = klftest::Block(d);
    m.SetImageSize(300, 200);
    const u8* records = nullptr;
    u32 count = 0;
    CSettingsBlock reader;
    u8 usedDefaults = 1;
    EXPECT_EQ(reader.Read(m, block.data(), static_cast<u32>(block.size()), &records, count, &usedDefaults), 1);
    EXPECT_EQ(usedDefaults, 0);
    EXPECT_EQ(m.TotalKnifeCount(), 18u);
    m.NthKnife(1)->selected = m.NthKnife(4)->selected = m.NthKnife(m.TotalKnifeCount() - 1)->selected = 1;
    m.NthKnife(4)->hidden = 1;
  }
};

kltFPOS Cubic(kltFPOS a, kltFPOS b, kltFPOS c, kltFPOS d, f64 t) {
  const f64 u = 1 - t;
  return {u * u * u * a.x + 3 * u * u * t * b.x + 3 * u * t * t * c.x + t * t * t * d.x,
          u * u * u * a.y + 3 * u * u * t * b.y + 3 * u * t * t * c.y + t * t * t * d.y};
}

}  // namespace

// Each knife's exported curve is the path the engine samples when it cuts:
// every sample lies on the cubic spans at the sampler's own parameter; a
// knife of no length (a knot moved onto the border above it) has every
// point at its end.
TEST(ExportKnives, PathIsTheCutsPath) {
  Layout lay;
  lay.m.knots[lay.m.knotColumns + 1].dy = -1.0f;
  CTessarette e;
  ASSERT_EQ(lay.m.engine_PutLayoutToPuzzleEngine(e), 1);
  CKLF_ImageDrawing drawing;
  CKLF_2DMath math;
  CKLF_2DMath::KLSPLINEPOINT knots[66];
  CKLF_Mem sampled, points, controls;
  CTessarette::KnifePen pen = {&drawing, &math, knots, &sampled, 0, 0};
  u32 shaped = 0, empty = 0;
  for (u32 i = 0; i < lay.m.TotalKnifeCount(); ++i) {
    u32 n = 0, nc = 0;
    ASSERT_EQ(CExportKnives::KnifePath(e, i, 300, 200, points, controls, n, nc), 1);
    const CTessarette::KNIFESTRUCT_RENDERER* knife = nullptr;
    kltFPOS a, b;
    e.i_KnifeAt(i, 300, 200, knife, a, b);
    if (lay.m.NthKnife(i)->hidden) {
      EXPECT_EQ(n, 0u);
      continue;
    }
    const kltFPOS* p = reinterpret_cast<const kltFPOS*>(points.GetPtr());
    ASSERT_GE(n, 2u);
    EXPECT_TRUE(p[0].x == a.x && p[0].y == a.y && p[n - 1].x == b.x && p[n - 1].y == b.y);
    if (a.x == b.x && a.y == b.y) {
      ++empty;
      for (u32 j = 0; j < n; ++j) EXPECT_TRUE(p[j].x == a.x && p[j].y == a.y) << "knife " << i << " point " << j;
      continue;
    }
    if (knife->count == 0) {
      EXPECT_EQ(std::vector<u32>({n, nc}), std::vector<u32>({2, 0}));
      continue;
    }
    ++shaped;
    ASSERT_EQ(nc, 2 * (n - 1));
    f64 extent[2];
    ASSERT_EQ(e.i_DrawKnifeWith(pen, knife, a, b, extent), 1);
    const kltFPOS* s = reinterpret_cast<const kltFPOS*>(sampled.GetPtr());
    const kltFPOS* c = reinterpret_cast<const kltFPOS*>(controls.GetPtr());
    u32 k = 0;
    for (u32 span = 0; span + 1 < n; ++span) {
      const f64 len = std::hypot(p[span + 1].x - p[span].x, p[span + 1].y - p[span].y);
      const u32 m = std::max<u32>(3, static_cast<u32>(3 * len / 2.0));
      for (f64 t = 0; t < 1; t += 1.0 / m, ++k) {
        const kltFPOS q = Cubic(p[span], c[2 * span], c[2 * span + 1], p[span + 1], t);
        ASSERT_NEAR(q.x, s[k].x, 1e-9) << "knife " << i << " span " << span << " t " << t;
        ASSERT_NEAR(q.y, s[k].y, 1e-9) << "knife " << i << " span " << span << " t " << t;
      }
    }
    EXPECT_EQ(k + 1, pen.pointCount);
  }
  EXPECT_EQ(shaped * 10 + empty, 151u);
}

// The chosen knives as EPS and as AI: Ghostscript reads both, and their
// marks fill the box of the knives placed in the document and measured in
// points at its resolution, across and down, moved to the page's origin;
// hidden knives are never written.
TEST(ExportKnives, EPSAndAIReadByGhostscriptWithTheKnivesBox) {
  klftest::TempDir dir;
  Layout lay;
  CTessarette e;
  ASSERT_EQ(lay.m.engine_PutLayoutToPuzzleEngine(e), 1);
  CExportKnives ex(lay.m);
  const f64 across = 144.0, down = 96.0;
  ex.SetDocument({20, 40, across, down});
  const bool gs = std::system("gs --version > /dev/null 2>&1") == 0;
  for (u8 what : {K::kSelected, K::kAll})
    for (u8 to : {K::kToEPS, K::kToAI}) {
      SCOPED_TRACE(testing::Message() << "what " << int(what) << " to " << int(to));
      const std::string path = dir.File(to == K::kToAI ? "knives.ai" : "knives.eps");
      ASSERT_EQ(ex.ExportKnives({what, to}, path.c_str()), 1);
      EXPECT_STREQ(ex.Written(), path.c_str());
      klftest::PSBox want{1e9, 1e9, -1e9, -1e9};
      u32 expected = 0;
      CKLF_Mem points, controls;
      for (u32 i = 0; i < lay.m.TotalKnifeCount(); ++i) {
        const CLayoutModel::KNIFESTRUCT& k = *lay.m.NthKnife(i);
        if (k.hidden || (what == K::kSelected && !k.selected)) continue;
        ++expected;
        u32 n = 0, nc = 0;
        ASSERT_EQ(CExportKnives::KnifePath(e, i, 300, 200, points, controls, n, nc), 1);
        const kltFPOS* p = reinterpret_cast<const kltFPOS*>(points.GetPtr());
        const kltFPOS* c = reinterpret_cast<const kltFPOS*>(controls.GetPtr());
        for (u32 span = 0; span + 1 < n; ++span)
          for (int j = 0; j <= 2000; ++j) {
            const f64 t = j / 2000.0;
            kltFPOS q = nc ? Cubic(p[span], c[2 * span], c[2 * span + 1], p[span + 1], t)
                           : kltFPOS{p[0].x + t * (p[1].x - p[0].x), p[0].y + t * (p[1].y - p[0].y)};
            q = {(q.x + 20) * 72.0 / across, -(q.y + 40) * 72.0 / down};
            want = {std::fmin(want.l, q.x), std::fmin(want.b, q.y), std::fmax(want.r, q.x), std::fmax(want.t, q.y)};
          }
      }
      EXPECT_EQ(ex.Exported(), expected);
      EXPECT_EQ(expected, what == K::kAll ? lay.m.TotalKnifeCount() - 1 : 2u);
      const std::vector<u8> bytes = klftest::ReadFileBytes(path);
      const std::string text(bytes.begin(), bytes.end());
      size_t strokes = 0;
      for (size_t at = 0; (at = text.find(to == K::kToAI ? "\nS\n" : "\nstroke\n", at)) != std::string::npos; ++at)
        ++strokes;
      EXPECT_EQ(strokes, expected);
      if (!gs) continue;
      klftest::PSBox got{};
      ASSERT_TRUE(klftest::GhostscriptBox(path, got)) << text.substr(0, 400);
      EXPECT_NEAR(got.l, 0.0, 0.05);
      EXPECT_NEAR(got.b, 0.0, 0.05);
      EXPECT_NEAR(got.r, want.r - want.l + 1.0, 0.05);
      EXPECT_NEAR(got.t, want.t - want.b + 1.0, 0.05);
    }
  if (!gs) GTEST_SKIP() << "Ghostscript (gs) is not installed";
  // Nothing chosen: no file.
  for (u32 i = 0; i < lay.m.TotalKnifeCount(); ++i) lay.m.NthKnife(i)->hidden = 1;
  EXPECT_FAILS(ex, ex.ExportKnives({K::kAll, K::kToEPS}, dir.File("none.eps").c_str()), klErrEmpty);
  EXPECT_NE(std::system(("test -e '" + dir.File("none.eps") + "'").c_str()), 0);
}

namespace {

// The dark pixels (below half grey) of a plane, and their box.
struct Marks {
  i32 w = 0, h = 0;
  std::vector<u8> dark;
  i32 x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  Marks(const u8* plane, i32 width, i32 height, bool inked) : w(width), h(height), dark(size_t(width) * height) {
    for (i32 y = 0; y < h; ++y)
      for (i32 x = 0; x < w; ++x)
        if ((plane[size_t(y) * w + x] >= 128) == inked) {
          dark[size_t(y) * w + x] = 1;
          x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        }
  }
  bool Near(i32 x, i32 y, i32 r) const {
    for (i32 v = std::max(0, y - r); v <= std::min(h - 1, y + r); ++v)
      for (i32 u = std::max(0, x - r); u <= std::min(w - 1, x + r); ++u)
        if (dark[size_t(v) * w + u]) return true;
    return false;
  }
  // Marks of this with no mark of other within r, other shifted by (dx, dy).
  u32 Strays(const Marks& other, i32 dx, i32 dy, i32 r) const {
    u32 n = 0;
    for (i32 y = 0; y < h; ++y)
      for (i32 x = 0; x < w; ++x) n += dark[size_t(y) * w + x] && !other.Near(x - dx, y - dy, r);
    return n;
  }
};

}  // namespace

// Rendered by a plain Ghostscript (no cropping flag) at 72 dpi, the EPS and
// the AI show on the page the knives the cut draws, at their own scale, in
// the page's lower left corner.
TEST(ExportKnives, PlainGhostscriptShowsTheCutsKnives) {
  if (std::system("gs --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "Ghostscript (gs) is not installed";
  klftest::TempDir dir;
  Layout lay;
  CTessarette e;
  ASSERT_EQ(lay.m.engine_PutLayoutToPuzzleEngine(e), 1);
  std::vector<u8> knives(300 * 200);
  ASSERT_EQ(e.DrawSplitting(300, 200, knives.data(), 300, 0, 100), 1);
  const Marks cut(knives.data(), 300, 200, true);
  ASSERT_GT(cut.x1 - cut.x0, 250);
  CExportKnives ex(lay.m);
  ex.SetDocument({0, 0, 72.0, 0.0});
  for (u8 to : {K::kToEPS, K::kToAI}) {
    SCOPED_TRACE(to == K::kToAI ? "AI" : "EPS");
    const std::string path = dir.File(to == K::kToAI ? "knives.ai" : "knives.eps"), shown = dir.File("shown.png");
    ASSERT_EQ(ex.ExportKnives({K::kAll, to}, path.c_str()), 1);
    ASSERT_EQ(std::system(("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r72 -sOutputFile='" + shown + "' '" +
                           path + "' > /dev/null 2>&1")
                              .c_str()),
              0);
    const std::vector<u8> file = klftest::ReadFileBytes(shown);
    CKLF_ImagePNG png;
    ASSERT_EQ(png.ParseImageByPtr(file.data(), static_cast<u32>(file.size())), 1);
    u16 w = 0, h = 0;
    ASSERT_TRUE(png.GetMainImageSize(w, h));
    const Marks page(png.GetImageDataPtr(0), w, h, false);
    ASSERT_GE(page.x1, 0) << "a blank page";
    EXPECT_LE(page.x0, 1);
    EXPECT_GE(page.y1, h - 2);
    EXPECT_NEAR(page.x1 - page.x0, cut.x1 - cut.x0, 2);
    EXPECT_NEAR(page.y1 - page.y0, cut.y1 - cut.y0, 2);
    // Every mark of either near one of the other, the cut's moved to where
    // the page's are; a stroke a point wide covers one or two pixels.
    const i32 dx = page.x0 - cut.x0, dy = page.y1 - cut.y1;
    EXPECT_EQ(page.Strays(cut, dx, dy, 2), 0u);
    EXPECT_EQ(cut.Strays(page, -dx, -dy, 2), 0u);
  }
}
