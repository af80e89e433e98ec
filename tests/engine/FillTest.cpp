#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "CKLF_2DMath.h"
#include "CTessarette.h"
#include "CTessaretteFill.h"

namespace {

typedef CTessaretteFill::Mode Mode;
const Mode kModes[] = {CTessaretteFill::MODE_BIT4, CTessaretteFill::MODE_8BIT_THIN,
                       CTessaretteFill::MODE_8BIT_THICK, CTessaretteFill::MODE_8BIT_AA};

// A knife mask and a work mask for one mode, filled at random.
struct Masks {
  Mode mode;
  i32 w, h;
  u32 stride;
  std::vector<u8> knife, work;
  CTessaretteFill fill;

  Masks(Mode m, i32 width, i32 height) : mode(m), w(width), h(height) {
    stride = m == CTessaretteFill::MODE_BIT4 ? CTessaretteFill::BitRowBytes(w) : static_cast<u32>(w);
    knife.assign(static_cast<size_t>(stride) * (m == CTessaretteFill::MODE_BIT4 ? 4 * h : h), 0);
    work.assign(static_cast<size_t>(w) * h, 0);
  }
  void Attach() {
    fill.Setup(mode, knife.data(), stride, work.data(), w, h);
    fill.SealPadding();
  }
  // density: chance in 256 that a point is knife.
  void Randomise(std::mt19937& rng, int density) {
    std::uniform_int_distribution<int> d(0, 255);
    const bool bits = mode == CTessaretteFill::MODE_BIT4;
    const i32 sw = bits ? 4 * w : w, sh = bits ? 4 * h : h;
    for (i32 y = 0; y < sh; y++)
      for (i32 x = 0; x < sw; x++) {
        if (d(rng) >= density) continue;
        if (bits)
          knife[static_cast<size_t>(y) * stride + x / 8] |= static_cast<u8>(0x80 >> (x % 8));
        else
          knife[static_cast<size_t>(y) * stride + x] = mode == CTessaretteFill::MODE_8BIT_AA ? 1 + d(rng) % 255 : 255;
      }
    Attach();
  }
};

// Fills every region in scan order, as the cut does; returns the bounds.
std::vector<i32> FillAll(Masks& m, bool runs, CKLF_2DMath* math) {
  std::vector<i32> bounds;
  CTessaretteFill& f = m.fill;
  for (i32 y = 0; y < f.GetScanHeight(); y++) {
    for (i32 x = f.FindFree(y, 0); x >= 0; x = f.FindFree(y, x + 1)) {
      f.ResetBounds();
      if (runs) {
        EXPECT_EQ(f.SeedFill(x, y), 1);
      } else {
        math->FillBounds(&f, kltPOS{x, y});
      }
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
    for (int trial = 0; trial < 300; trial++) {
      const i32 w = 1 + static_cast<i32>(rng() % 40), h = 1 + static_cast<i32>(rng() % 6);
      Masks a(mode, w, h);
      a.Randomise(rng, static_cast<int>(rng() % 200));
      // Work values reachable during a fill: multiples of 16 and 255.
      for (u8& v : a.work) v = rng() % 3 == 0 ? 0 : (rng() % 5 == 0 ? 255 : static_cast<u8>(16 * (rng() % 16)));
      Masks b(mode, w, h);
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
      ASSERT_EQ(a.fill.m_minX, b.fill.m_minX);
      ASSERT_EQ(a.fill.m_minY, b.fill.m_minY);
      ASSERT_EQ(a.fill.m_maxX, b.fill.m_maxX);
      ASSERT_EQ(a.fill.m_maxY, b.fill.m_maxY);
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
    for (int trial = 0; trial < 60; trial++) {
      const i32 w = 1 + static_cast<i32>(rng() % 70), h = 1 + static_cast<i32>(rng() % 40);
      const int density = static_cast<int>(rng() % 120);
      Masks a(mode, w, h);
      a.Randomise(rng, density);
      Masks b(mode, w, h);
      b.knife = a.knife;
      b.Attach();
      std::vector<i32> ba = FillAll(a, true, nullptr);
      std::vector<i32> bb = FillAll(b, false, &math);
      ASSERT_EQ(ba, bb) << "mode " << mode << " trial " << trial;
      ASSERT_EQ(a.knife, b.knife) << "mode " << mode << " trial " << trial;
      ASSERT_EQ(a.work, b.work) << "mode " << mode << " trial " << trial;
    }
  }
}

// Pinholes and the search for free points against plain loops.
TEST(TessaretteFill, PinholesAndFreeSearchMatchPlainLoops) {
  std::mt19937 rng(3);
  for (Mode mode : kModes) {
    for (int trial = 0; trial < 200; trial++) {
      const i32 w = 1 + static_cast<i32>(rng() % 50), h = 1 + static_cast<i32>(rng() % 8);
      Masks a(mode, w, h);
      a.Randomise(rng, 100 + static_cast<int>(rng() % 150));
      Masks ref(mode, w, h);
      ref.knife = a.knife;
      ref.Attach();
      const i32 sw = a.fill.GetScanWidth(), sh = a.fill.GetScanHeight();
      for (i32 y = 0; y < sh; y++)
        for (i32 x = 0; x <= sw; x++) {
          i32 expect = -1;
          for (i32 i = x; i < sw && expect < 0; i++)
            if (!a.fill.Test(i, y)) expect = i;
          ASSERT_EQ(a.fill.FindFree(y, x), expect);
        }
      // Reference: decide every point from the mask before the pass.
      std::vector<std::pair<i32, i32>> pins;
      for (i32 y = 0; y < sh; y++)
        for (i32 x = 0; x < sw; x++)
          if (!ref.fill.Test(x, y) && ref.fill.Test(x - 1, y) && ref.fill.Test(x + 1, y) &&
              ref.fill.Test(x, y - 1) && ref.fill.Test(x, y + 1))
            pins.push_back({x, y});
      for (auto& p : pins) {
        if (mode == CTessaretteFill::MODE_BIT4) {
          ref.knife[static_cast<size_t>(p.second) * ref.stride + p.first / 8] |= static_cast<u8>(0x80 >> (p.first % 8));
        } else {
          int sum = 0, n = 0;
          const int dx[] = {-1, 1, 0, 0}, dy[] = {0, 0, -1, 1};
          for (int k = 0; k < 4; k++) {
            i32 x = p.first + dx[k], y = p.second + dy[k];
            if (x < 0 || y < 0 || x >= sw || y >= sh) continue;
            sum += ref.knife[static_cast<size_t>(y) * ref.stride + x];
            n++;
          }
          ref.knife[static_cast<size_t>(p.second) * ref.stride + p.first] =
              mode == CTessaretteFill::MODE_8BIT_AA ? static_cast<u8>(n ? sum / n : 255) : 255;
        }
      }
      for (i32 y = 0; y < sh; y++) a.fill.ClosePinholes(y);
      ASSERT_EQ(a.knife, ref.knife) << "mode " << mode << " trial " << trial;
    }
  }
}

TEST(TessaretteFill, SinglePinholeClosesTwoPixelHoleStays) {
  Masks m(CTessaretteFill::MODE_8BIT_THIN, 6, 4);
  for (u8& v : m.knife) v = 255;
  m.knife[1 * 6 + 1] = 0;                         // single hole
  m.knife[2 * 6 + 3] = m.knife[2 * 6 + 4] = 0;    // two-pixel hole
  m.Attach();
  for (i32 y = 0; y < 4; y++) m.fill.ClosePinholes(y);
  EXPECT_EQ(m.knife[1 * 6 + 1], 255);
  EXPECT_EQ(m.knife[2 * 6 + 3], 0);
  EXPECT_EQ(m.knife[2 * 6 + 4], 0);

  // A free corner point has the outside on two sides: it closes too.
  Masks c(CTessaretteFill::MODE_BIT4, 2, 1);
  for (u8& v : c.knife) v = 0xFF;
  c.knife[0] = 0x7F;  // point (0, 0) free
  c.Attach();
  for (i32 y = 0; y < 4; y++) c.fill.ClosePinholes(y);
  EXPECT_EQ(c.knife[0], 0xFF);
}
