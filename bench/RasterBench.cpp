// Knife rasterisation and region fill at production sizes: 1,150 knob-shaped
// knife polylines into a 6000 x 4000 8-bit mask (anti-aliased, width 2.5)
// and into a 24000 x 16000 one-bit mask (1-pixel plain lines at four times
// the size), then every region of each mask seed-filled. Rates are mask
// megapixels per second.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CKLF_2DMath.h"
#include "CKLF_ImageDrawing.h"

namespace {

const int kW = 6000, kH = 4000, kKnives = 1150;
const double kWidth = 2.5;

typedef std::vector<kltFPOS> Polyline;

// A grid of 25 x 24 cells; each knife between neighbouring knots carries a
// knob on a random side, sampled like the engine does (step 2).
std::vector<Polyline> MakeKnives(double scale) {
  static const double kHU[][3] = {{0.00, 0.36, 0.3}, {0.04, 0.42, 0.5}, {0.13, 0.38, 0.6}, {0.22, 0.44, 0.6},
                                  {0.24, 0.56, 0.6}, {0.13, 0.62, 0.6}, {0.04, 0.58, 0.5}, {0.00, 0.64, 0.3}};
  const int cols = 25, rows = 24;
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> jitter(-0.08, 0.08);
  std::vector<kltFPOS> knots((cols + 1) * (rows + 1));
  for (int r = 0; r <= rows; ++r)
    for (int c = 0; c <= cols; ++c) {
      const bool inner = c > 0 && c < cols && r > 0 && r < rows;
      knots[r * (cols + 1) + c] = kltFPOS{(c + (inner ? jitter(rng) : 0)) * kW / cols * scale,
                                          (r + (inner ? jitter(rng) : 0)) * kH / rows * scale};
    }
  std::vector<std::pair<int, int>> ends;
  for (int c = 1; c < cols; ++c)
    for (int r = 0; r < rows; ++r) ends.emplace_back(r * (cols + 1) + c, (r + 1) * (cols + 1) + c);
  for (int r = 1; r < rows; ++r)
    for (int c = 0; c < cols; ++c) ends.emplace_back(r * (cols + 1) + c, r * (cols + 1) + c + 1);
  ends.resize(kKnives);

  CKLF_2DMath math;
  CKLF_Mem block;
  std::vector<Polyline> out;
  for (auto& e : ends) {
    const kltFPOS a = knots[e.first], b = knots[e.second];
    const double side = (rng() & 1) ? 1.0 : -1.0;
    CKLF_2DMath::KLSPLINEPOINT k[10];
    k[0] = {a.x, a.y, 0.0f, 0};
    for (int i = 0; i < 8; ++i) {
      kltFPOS p;
      math.HU2Coors(a, b, side * kHU[i][0], kHU[i][1], p);
      k[i + 1] = {p.x, p.y, static_cast<f32>(kHU[i][2]), 0};
    }
    k[9] = {b.x, b.y, 0.0f, 0};
    u32 n = 0;
    EXPECT_TRUE(math.CalcPointSpline(k, 10, 2.0, &block, n, nullptr));
    const kltFPOS* p = reinterpret_cast<const kltFPOS*>(block.GetPtr());
    out.emplace_back(p, p + n);
  }
  return out;
}

const std::vector<Polyline>& Knives() {
  static const std::vector<Polyline> k = MakeKnives(1.0);
  return k;
}
const std::vector<Polyline>& Knives4() {
  static const std::vector<Polyline> k = MakeKnives(4.0);
  return k;
}

void DrawKnives8(std::vector<u8>& mask) {
  CKLF_ImageDrawing d;
  d.SetDestination(mask.data(), kW, kW, kH);
  for (const Polyline& p : Knives())
    EXPECT_TRUE(d.DrawHQPolyLine(p.data(), static_cast<u32>(p.size()), kWidth, 1, 1, 0, std::max(1.0, kWidth * 0.25)));
}

const u32 kBitStride = 4 * kW / 8;

void DrawKnives1(std::vector<u8>& mask) {
  CKLF_ImageDrawing d;
  d.SetDestination(mask.data(), 4 * kW, kBitStride, 4 * kH);
  d.SetAntiAlias(0);
  d.SetOneBit(1);
  for (const Polyline& p : Knives4()) {
    EXPECT_TRUE(d.DrawHQPolyLine(p.data(), static_cast<u32>(p.size()), 1.0, 1, 1, 0, 1.0));
  }
}

void BM_KnivesInto8BitMask(benchmark::State& state) {
  std::vector<u8> mask(static_cast<size_t>(kW) * kH);
  Knives();
  for (auto _ : state) {
    state.PauseTiming();
    std::fill(mask.begin(), mask.end(), 0);
    state.ResumeTiming();
    DrawKnives8(mask);
    benchmark::DoNotOptimize(mask.data());
  }
  state.counters["MP/s"] = benchmark::Counter(kW * kH / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_KnivesInto8BitMask)->Unit(benchmark::kMillisecond);

void BM_KnivesInto1BitMask(benchmark::State& state) {
  std::vector<u8> mask(static_cast<size_t>(kBitStride) * 4 * kH);
  Knives4();
  for (auto _ : state) {
    state.PauseTiming();
    std::fill(mask.begin(), mask.end(), 0);
    state.ResumeTiming();
    DrawKnives1(mask);
    benchmark::DoNotOptimize(mask.data());
  }
  state.counters["MP/s"] =
      benchmark::Counter(16.0 * kW * kH / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_KnivesInto1BitMask)->Unit(benchmark::kMillisecond);

// ---- region fill ----

struct ByteScanner {
  u8* m;
  i32 w, h;
  u32 Test(i32 x, i32 y) const {
    return (x < 0 || y < 0 || x >= w || y >= h || m[static_cast<size_t>(y) * w + x] != 0) ? 1 : 0;
  }
  void Fill(i32 x, i32 y, i32 n) { std::memset(m + static_cast<size_t>(y) * w + x, 1, static_cast<size_t>(n)); }
};

u32 ByteTest(i32 x, i32 y, void* u) { return static_cast<ByteScanner*>(u)->Test(x, y); }
void ByteFill(i32 x, i32 y, i32 n, void* u) { static_cast<ByteScanner*>(u)->Fill(x, y, n); }

struct BitScanner {
  u8* m;
  i32 w, h;
  u32 stride;
  u32 Test(i32 x, i32 y) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return 1;
    return (m[static_cast<size_t>(y) * stride + (x >> 3)] >> (7 - (x & 7))) & 1;
  }
  void Fill(i32 x, i32 y, i32 n) {
    u8* row = m + static_cast<size_t>(y) * stride;
    i32 e = x + n;
    for (; x < e && (x & 7); ++x) row[x >> 3] |= static_cast<u8>(0x80 >> (x & 7));
    if (x + 8 <= e) {
      std::memset(row + (x >> 3), 0xFF, static_cast<size_t>((e - x) >> 3));
      x += (e - x) & ~7;
    }
    for (; x < e; ++x) row[x >> 3] |= static_cast<u8>(0x80 >> (x & 7));
  }
};

template <bool kCallbacks>
void BM_SeedFill8BitRegions(benchmark::State& state) {
  std::vector<u8> knives(static_cast<size_t>(kW) * kH, 0), work;
  DrawKnives8(knives);
  CKLF_2DMath math;
  math.SetFillCallbacks(ByteTest, ByteFill);
  size_t regions = 0;
  for (auto _ : state) {
    state.PauseTiming();
    work = knives;
    state.ResumeTiming();
    ByteScanner s = {work.data(), kW, kH};
    regions = 0;
    for (i32 y = 0; y < kH; ++y) {
      const u8* row = work.data() + static_cast<size_t>(y) * kW;
      for (i32 x = 0; x < kW; ++x) {
        if (row[x]) continue;
        if (kCallbacks)
          EXPECT_TRUE(math.FillBounds(&s, kltPOS{x, y}));
        else
          EXPECT_TRUE(math.FillBoundsWith(s, kltPOS{x, y}));
        ++regions;
      }
    }
  }
  state.counters["regions"] = static_cast<double>(regions);
  state.counters["MP/s"] = benchmark::Counter(kW * kH / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK_TEMPLATE(BM_SeedFill8BitRegions, false)->Name("BM_SeedFill8BitRegions/inlined")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_SeedFill8BitRegions, true)->Name("BM_SeedFill8BitRegions/callbacks")->Unit(benchmark::kMillisecond);

void BM_SeedFill1BitRegions(benchmark::State& state) {
  const i32 W = 4 * kW, H = 4 * kH;
  std::vector<u8> knives(static_cast<size_t>(kBitStride) * H, 0), work;
  DrawKnives1(knives);
  CKLF_2DMath math;
  size_t regions = 0;
  for (auto _ : state) {
    state.PauseTiming();
    work = knives;
    state.ResumeTiming();
    BitScanner s = {work.data(), W, H, kBitStride};
    regions = 0;
    for (i32 y = 0; y < H; ++y) {
      const u8* row = work.data() + static_cast<size_t>(y) * kBitStride;
      for (u32 b = 0; b < kBitStride; ++b) {
        while (row[b] != 0xFF) {  // a free bit left in this byte
          const i32 x = static_cast<i32>(b * 8) + __builtin_clz(static_cast<u32>(~row[b] & 0xFF) << 24);
          EXPECT_TRUE(math.FillBoundsWith(s, kltPOS{x, y}));
          ++regions;
        }
      }
    }
  }
  state.counters["regions"] = static_cast<double>(regions);
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(W) * H / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SeedFill1BitRegions)->Unit(benchmark::kMillisecond);

// ---- one long diagonal knife: row ranges against the whole bounding box ----

void BM_LongDiagonalKnife(benchmark::State& state) {
  std::vector<u8> mask(static_cast<size_t>(kW) * kH, 0);
  CKLF_ImageDrawing d;
  d.SetDestination(mask.data(), kW, kW, kH);
  for (auto _ : state) {
    EXPECT_TRUE(d.DrawHQLine(10.3, 20.7, kW - 15.2, kH - 9.9, kWidth, 1, 1, 0));
    benchmark::DoNotOptimize(mask.data());
  }
  // Bounding-box pixels a whole-box scan would test.
  state.counters["box MP/s"] = benchmark::Counter(kW * 1.0 * kH / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LongDiagonalKnife)->Unit(benchmark::kMillisecond);

}  // namespace
