#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "CKLF_2DMath.h"
#include "CTessarette.h"
#include "CTessaretteFill.h"
#include "CTessaretteRuns.h"

namespace {

typedef CTessaretteFill::Mode Mode;
const Mode kModes[] = {CTessaretteFill::MODE_BIT4, CTessaretteFill::MODE_8BIT_THIN,
                       CTessaretteFill::MODE_8BIT_THICK, CTessaretteFill::MODE_8BIT_AA};

// A knife mask and a work mask for one mode.
struct Masks {
  Mode mode;
  i32 w, h;
  u32 stride;
  std::vector<u8> knife, work;
  CTessaretteFill fill;

  Masks(Mode m, i32 width, i32 height) : mode(m), w(width), h(height) {
    const bool bits = m == CTessaretteFill::MODE_BIT4;
    stride = bits ? CTessaretteFill::BitRowBytes(w) : static_cast<u32>(w);
    knife.assign(static_cast<size_t>(stride) * (bits ? 4 * h : h), 0);
    work.assign(static_cast<size_t>(w) * h, 0);
  }
  void Attach() {
    fill.Setup(mode, knife.data(), stride, work.data(), w, h);
    fill.SealPadding();
  }
  void SetKnife(i32 x, i32 y, u8 v) {
    if (mode == CTessaretteFill::MODE_BIT4)
      knife[static_cast<size_t>(y) * stride + x / 8] |= static_cast<u8>(0x80 >> (x % 8));
    else
      knife[static_cast<size_t>(y) * stride + x] = v;
  }
  // density: chance in 256 that a point is knife.
  void Randomise(std::mt19937& rng, int density) {
    const i32 s = mode == CTessaretteFill::MODE_BIT4 ? 4 : 1;
    for (i32 y = 0; y < s * h; y++)
      for (i32 x = 0; x < s * w; x++)
        if (static_cast<int>(rng() % 256) < density)
          SetKnife(x, y, mode == CTessaretteFill::MODE_8BIT_AA ? static_cast<u8>(1 + rng() % 255) : 255);
    Attach();
  }
};

// Fills every region in scan order, as the cut does; returns the bounds.
std::vector<i32> FillAll(Masks& m, CKLF_2DMath* pointwise) {
  std::vector<i32> bounds;
  CTessaretteFill& f = m.fill;
  for (i32 y = 0; y < f.GetScanHeight(); y++) {
    for (i32 x = f.FindFree(y, 0); x >= 0; x = f.FindFree(y, x + 1)) {
      f.ResetBounds();
      EXPECT_EQ(pointwise ? pointwise->FillBounds(&f, kltPOS{x, y}) : f.SeedFill(x, y), 1);
      bounds.insert(bounds.end(), {f.m_minX, f.m_minY, f.m_maxX, f.m_maxY});
    }
  }
  return bounds;
}

}  // namespace

// The word-based run painter against the point-by-point rules, in every mode,
// on random masks, random runs and work masks already partly painted.
TEST(TessaretteFill, FillLineMatchesPointwiseRules) {
  std::mt19937 rng(11);
  for (Mode mode : kModes) {
    for (int trial = 0; trial < 100; trial++) {
      const i32 w = 1 + static_cast<i32>(rng() % 40), h = 1 + static_cast<i32>(rng() % 6);
      Masks a(mode, w, h), b(mode, w, h);
      a.Randomise(rng, static_cast<int>(rng() % 200));
      // Work values reachable during a fill: multiples of 16 and 255.
      for (u8& v : a.work) v = rng() % 3 == 0 ? 0 : (rng() % 5 == 0 ? 255 : static_cast<u8>(16 * (rng() % 16)));
      b.knife = a.knife;
      b.work = a.work;
      b.Attach();
      const i32 sw = a.fill.GetScanWidth(), sh = a.fill.GetScanHeight();
      for (int k = 0; k < 4; k++) {
        const i32 x = static_cast<i32>(rng() % (sw + 4)) - 2, y = static_cast<i32>(rng() % (sh + 2)) - 1;
        const i32 n = static_cast<i32>(rng() % (sw + 3)) - 1;
        a.fill.FillLine(x, y, n);
        b.fill.FillLineReference(x, y, n);
      }
      ASSERT_EQ(a.knife, b.knife) << "mode " << mode << " trial " << trial;
      ASSERT_EQ(a.work, b.work) << "mode " << mode << " trial " << trial;
      ASSERT_EQ(std::vector<i32>({a.fill.m_minX, a.fill.m_minY, a.fill.m_maxX, a.fill.m_maxY}),
                std::vector<i32>({b.fill.m_minX, b.fill.m_minY, b.fill.m_maxX, b.fill.m_maxY}));
    }
  }
}

// The run-based seed fill gives the bytes of the geometry object's seed fill
// driven by the point-wise callbacks (the order of runs matters in the
// one-bit mode, where a pixel first marked from a knife neighbour keeps 16).
TEST(TessaretteFill, SeedFillMatchesPointwiseFill) {
  std::mt19937 rng(5);
  CKLF_2DMath math;
  math.SetFillCallbacks(CTessarette::fTestBounds, CTessarette::fFillLine);
  for (Mode mode : kModes) {
    for (int trial = 0; trial < 25; trial++) {
      const i32 w = 1 + static_cast<i32>(rng() % 70), h = 1 + static_cast<i32>(rng() % 40);
      Masks a(mode, w, h), b(mode, w, h);
      a.Randomise(rng, static_cast<int>(rng() % 120));
      b.knife = a.knife;
      b.Attach();
      ASSERT_EQ(FillAll(a, nullptr), FillAll(b, &math)) << "mode " << mode << " trial " << trial;
      ASSERT_EQ(a.knife, b.knife) << "mode " << mode << " trial " << trial;
      ASSERT_EQ(a.work, b.work) << "mode " << mode << " trial " << trial;
    }
  }
}

// Pinholes and the search for free points against plain loops: a free
// point whose four neighbours are knife (outside counts as knife) closes,
// in the anti-aliased mode to the mean of its neighbours inside the image.
TEST(TessaretteFill, PinholesAndFreeSearchMatchPlainLoops) {
  std::mt19937 rng(3);
  for (Mode mode : kModes) {
    for (int trial = 0; trial < 60; trial++) {
      Masks a(mode, 1 + static_cast<i32>(rng() % 50), 1 + static_cast<i32>(rng() % 8));
      a.Randomise(rng, 100 + static_cast<int>(rng() % 150));
      const CTessaretteFill& f = a.fill;
      const i32 sw = f.GetScanWidth(), sh = f.GetScanHeight();
      Masks want(mode, a.w, a.h);
      want.knife = a.knife;
      for (i32 y = 0; y < sh; y++)
        for (i32 x = 0; x <= sw; x++) {
          i32 next = x;
          while (next < sw && f.Test(next, y)) next++;
          ASSERT_EQ(f.FindFree(y, x), next < sw ? next : -1);
          if (x == sw || f.Test(x, y) || !f.Test(x - 1, y) || !f.Test(x + 1, y) || !f.Test(x, y - 1) ||
              !f.Test(x, y + 1))
            continue;
          int sum = 0, n = 0;
          for (const kltPOS& p : {kltPOS{x - 1, y}, kltPOS{x + 1, y}, kltPOS{x, y - 1}, kltPOS{x, y + 1}})
            if (p.x >= 0 && p.y >= 0 && p.x < sw && p.y < sh && mode != CTessaretteFill::MODE_BIT4)
              sum += a.knife[static_cast<size_t>(p.y) * a.stride + p.x], n++;
          want.SetKnife(x, y, mode == CTessaretteFill::MODE_8BIT_AA && n ? static_cast<u8>(sum / n) : 255);
        }
      for (i32 y = 0; y < sh; y++) a.fill.ClosePinholes(y);
      ASSERT_EQ(a.knife, want.knife) << "mode " << mode << " trial " << trial;
    }
  }
}

// Sub-pixel coverage of the four-times mask, on a hand-made knife: a band
// four sub-pixels high over the whole of image row 1.
TEST(TessaretteFill, FourTimesMaskSubPixelCoverage) {
  Masks m(CTessaretteFill::MODE_BIT4, 3, 3);
  for (i32 y = 4; y < 8; y++)
    for (i32 x = 0; x < 12; x++) m.SetKnife(x, y, 255);
  m.Attach();
  ASSERT_EQ(m.fill.SeedFill(0, 0), 1);
  EXPECT_EQ(m.work, (std::vector<u8>{255, 255, 255, 16, 16, 16, 0, 0, 0}));
  EXPECT_EQ(std::vector<i32>({m.fill.m_minY, m.fill.m_maxY}), std::vector<i32>({0, 1}));
  std::fill(m.work.begin(), m.work.end(), 0);
  m.fill.ResetBounds();
  ASSERT_EQ(m.fill.SeedFill(5, 9), 1);
  EXPECT_EQ(m.work, (std::vector<u8>{0, 0, 0, 16, 16, 16, 255, 255, 255}));
  EXPECT_EQ(std::vector<i32>({m.fill.m_minY, m.fill.m_maxY}), std::vector<i32>({1, 2}));
}

// Regions found side by side, on any thread count, are the recording fill's
// after the pinhole pass: the same regions in the same order, each with the
// same runs in the same order and the same bounds. Random masks make
// regions that wind across many bands and pinholes on band borders.
TEST(TessaretteFill, SideBySideRegionsAreTheRecordingFills) {
  std::mt19937 rng(12);
  for (int trial = 0; trial < 8; trial++) {
    Masks m(CTessaretteFill::MODE_BIT4, 5 + static_cast<i32>(rng() % 40), 3 + static_cast<i32>(rng() % 30));
    m.Randomise(rng, trial == 0 ? 0 : 40 + 25 * (trial % 4));
    const std::vector<u8> drawn = m.knife;
    std::vector<i32> want;
    CTessaretteFill& f = m.fill;
    for (i32 y = 0; y < f.GetScanHeight(); y++) f.ClosePinholes(y);
    f.SetRecording(1);
    for (i32 y = 0; y < f.GetScanHeight(); y++) {
      for (i32 x = f.FindFree(y, 0); x >= 0; x = f.FindFree(y, x + 1)) {
        f.ResetBounds();
        f.ClearRuns();
        ASSERT_EQ(f.SeedFill(x, y), 1);
        for (u32 i = 0; i < f.GetRunCount(); i++)
          want.insert(want.end(), {f.GetRuns()[i].x, f.GetRuns()[i].y, f.GetRuns()[i].count});
        want.insert(want.end(), {-1, f.m_minX, f.m_minY, f.m_maxX + 1, f.m_maxY + 1});
      }
    }
    for (u32 threads : {1u, 2u, 5u, 16u}) {
      CTessaretteRuns runs;
      ASSERT_EQ(runs.Find(drawn.data(), m.stride, f.GetScanWidth(), f.GetScanHeight(), threads, nullptr, nullptr),
                CTessaretteRuns::kFound);
      std::vector<i32> got;
      CKLF_Mem stack, list;
      for (u32 r = 0; r < runs.GetRegionCount(); r++) {
        u32 count = 0;
        kltRECT_s b;
        ASSERT_EQ(runs.Trace(r, 1u << 28, stack, list, count, b), 1);
        const CTessaretteFill::Run* p = reinterpret_cast<const CTessaretteFill::Run*>(list.GetPtr());
        for (u32 i = 0; i < count; i++) got.insert(got.end(), {p[i].x, p[i].y, p[i].count});
        got.insert(got.end(), {-1, b.left, b.top, b.right, b.bottom});
      }
      ASSERT_EQ(got, want) << "trial " << trial << " threads " << threads;
    }
  }
}
