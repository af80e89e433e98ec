// Image effects on large pictures, in megapixels per second: blurs on a
// 6000 x 4000 RGBA photo-like image (on one thread, and on all: threads 0)
// and on a real photograph, bevel and inside stroke on one large jigsaw
// piece, the stroke on the pieces of a 2,700-piece puzzle, resize down by
// 7.3. The photograph is the PNG named by KLF_PHOTO
// (bench/photo/make_photos.sh makes some); without it those runs skip.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "CKLF_ImageFX.h"
#include "CKLF_ImagePNG.h"

namespace {

struct Picture {
  u32 w, h;
  std::vector<u8> data;  // four planes, stride = width
  Picture(u32 w_, u32 h_) : w(w_), h(h_), data(static_cast<size_t>(w_) * h_ * 4) {}
  u8* Plane(u32 p) { return data.data() + static_cast<size_t>(p) * w * h; }
};

// Smooth gradients with noise, fully opaque.
Picture& Photo() {
  static Picture pic = [] {
    Picture p(6000, 4000);
    std::mt19937 rng(1);
    for (u32 c = 0; c < 3; ++c)
      for (u32 y = 0; y < p.h; ++y) {
        u8* row = p.Plane(c) + static_cast<size_t>(y) * p.w;
        for (u32 x = 0; x < p.w; ++x)
          row[x] = static_cast<u8>((x * (c + 1) / 31 + y * (3 - c) / 23 + (rng() & 15)) & 255);
      }
    std::memset(p.Plane(3), 255, static_cast<size_t>(p.w) * p.h);
    return p;
  }();
  return pic;
}

// The photograph named by KLF_PHOTO, its colour planes, fully opaque;
// empty when there is none or it cannot be read.
Picture& RealPhoto() {
  static Picture pic = [] {
    const char* path = std::getenv("KLF_PHOTO");
    std::FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f) return Picture(0, 0);
    std::vector<u8> bytes;
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<u8>(c));
    std::fclose(f);
    CKLF_ImagePNG png;
    u16 w = 0, h = 0;
    if (!png.ParseImageByPtr(bytes.data(), static_cast<u32>(bytes.size()))) return Picture(0, 0);
    EXPECT_TRUE(png.GetMainImageSize(w, h));
    Picture p(w, h);
    for (u32 c = 0; c < 3; ++c) {
      // A grey photograph has one plane.
      const u8* s = png.GetImageDataPtr(static_cast<i32>(c));
      if (!s) s = png.GetImageDataPtr(0);
      if (!s) return Picture(0, 0);
      std::memcpy(p.Plane(c), s, static_cast<size_t>(w) * h);
    }
    std::memset(p.Plane(3), 255, static_cast<size_t>(w) * h);
    return p;
  }();
  return pic;
}

// The alpha of a jigsaw piece in a side x side box: a square body of cell
// pixels with two knobs out and two holes in, anti-aliased by 4 x 4
// samples, on transparent ground.
void PieceAlpha(u8* a, u32 side, u32 cell) {
  const f64 lo = (side - cell) / 2.0, hi = lo + cell, mid = side / 2.0, r = cell * 0.15;
  auto inside = [&](f64 x, f64 y) {
    auto in = [&](f64 cx, f64 cy) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r; };
    if (in(mid, lo - r * 0.8) || in(hi + r * 0.8, mid)) return true;  // knobs out
    if (in(lo + r * 0.8, mid) || in(mid, hi - r * 0.8)) return false;  // holes in
    return x >= lo && x < hi && y >= lo && y < hi;
  };
  for (u32 y = 0; y < side; ++y)
    for (u32 x = 0; x < side; ++x) {
      int n = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) n += inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4);
      a[static_cast<size_t>(y) * side + x] = static_cast<u8>(n == 16 ? 255 : n * 16);
    }
}

// One large jigsaw piece with random colours.
Picture& Piece() {
  static Picture pic = [] {
    const u32 side = 1600;
    Picture p(side, side);
    std::mt19937 rng(2);
    for (u32 c = 0; c < 3; ++c)
      for (size_t i = 0; i < static_cast<size_t>(side) * side; ++i) p.Plane(c)[i] = static_cast<u8>(rng());
    PieceAlpha(p.Plane(3), side, 1000);
    return p;
  }();
  return pic;
}

// The picture a run names: 0 the synthetic photo, 1 the piece, 2 the
// real photograph.
Picture& PictureOf(i64 which) { return which == 2 ? RealPhoto() : which == 1 ? Piece() : Photo(); }

void SetRate(benchmark::State& state, u64 pixels) {
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<f64>(pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void Bind(CKLF_ImageFX& fx, Picture& src, Picture& dst) {
  EXPECT_TRUE(fx.SetSource(src.data.data(), src.w, 4, 1, static_cast<u16>(src.w), static_cast<u16>(src.h)));
  EXPECT_TRUE(fx.SetDestination(dst.data.data(), dst.w, 4, 1, static_cast<u16>(dst.w), static_cast<u16>(dst.h)));
}

// On the photo, on one large piece with transparent surroundings
// (recovery then works on every row), and on the real photograph.
void BM_GaussianBlur(benchmark::State& state) {
  Picture& src = PictureOf(state.range(1));
  if (src.w == 0) return state.SkipWithError("no photograph: set KLF_PHOTO");
  Picture dst(src.w, src.h);
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  fx.SetThreads(static_cast<u32>(state.range(2)));
  for (auto _ : state) {
    if (!fx.GaussianBlur(static_cast<f64>(state.range(0)), 0, 1)) state.SkipWithError("blur failed");
    benchmark::DoNotOptimize(dst.data.data());
  }
  SetRate(state, static_cast<u64>(src.w) * src.h);
}
BENCHMARK(BM_GaussianBlur)
    ->ArgNames({"radius", "piece", "threads"})
    ->Args({1, 0, 1})
    ->Args({2, 0, 1})
    ->Args({10, 0, 1})
    ->Args({50, 0, 1})
    ->Args({10, 1, 1})
    ->Args({1, 1, 1})
    ->Args({1, 0, 0})
    ->Args({10, 0, 0})
    ->Args({1, 2, 1})
    ->Args({2, 2, 1})
    ->Args({10, 2, 1})
    ->Args({1, 2, 0})
    ->Args({2, 2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_MotionBlur(benchmark::State& state) {
  Picture& src = PictureOf(state.range(2));
  if (src.w == 0) return state.SkipWithError("no photograph: set KLF_PHOTO");
  Picture dst(src.w, src.h);
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  fx.SetThreads(static_cast<u32>(state.range(3)));
  for (auto _ : state) {
    if (!fx.MotionBlur(static_cast<f64>(state.range(1)), static_cast<f64>(state.range(0)), 0, 1))
      state.SkipWithError("motion blur failed");
    benchmark::DoNotOptimize(dst.data.data());
  }
  SetRate(state, static_cast<u64>(src.w) * src.h);
}
BENCHMARK(BM_MotionBlur)
    ->ArgNames({"radius", "angle", "piece", "threads"})
    ->Args({20, 0, 0, 1})
    ->Args({20, 30, 0, 1})
    ->Args({20, 90, 0, 1})
    ->Args({20, 30, 1, 1})
    ->Args({20, 0, 0, 0})
    ->Args({20, 30, 2, 1})
    ->Args({20, 0, 2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Bevel(benchmark::State& state) {
  Picture& src = Piece();
  Picture dst(src.w, src.h);
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  const u8 white[3] = {255, 255, 255}, black[3] = {0, 0, 0};
  const klt3D_VECTOR light = {-1.0f, -1.0f, 1.0f};
  for (auto _ : state) {
    if (!fx.Bevel(static_cast<u16>(state.range(0)), 100, 1.0, light, white, 200, black, 200))
      state.SkipWithError("bevel failed");
    benchmark::DoNotOptimize(dst.data.data());
  }
  SetRate(state, static_cast<u64>(src.w) * src.h);
}
BENCHMARK(BM_Bevel)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StrokeInside(benchmark::State& state) {
  Picture& src = Piece();
  Picture dst(src.w, src.h);
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  const u8 colour[3] = {250, 200, 10};
  for (auto _ : state) {
    if (!fx.StrokeInside(colour, static_cast<u8>(state.range(0)), 255)) state.SkipWithError("stroke failed");
    benchmark::DoNotOptimize(dst.data.data());
  }
  SetRate(state, static_cast<u64>(src.w) * src.h);
}
BENCHMARK(BM_StrokeInside)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// The pieces of one row of a 2,700-piece puzzle of the synthetic photo (0)
// or the real photograph (2): cells of 94 pixels (60 x 45 of them on
// 6000 x 4000), each piece a box of 1.6 cells with knobs out and holes in,
// its colours cut from the picture, stroked one after another by one
// effect object as a renderer does. Rates count the cells' pixels, so 24
// MP over the rate is the stroke's part of a whole redraw. Cells of 8
// pixels (749 pieces a row, as a puzzle of many pieces on a small
// picture) show the cost that comes with each piece.
struct PuzzleRow {
  u32 cell, box;
  std::vector<Picture> pieces;
  PuzzleRow(Picture& pic, u32 cell_) : cell(cell_), box(cell_ * 16 / 10) {
    if (pic.w < box || pic.h < box) return;
    Picture shape(box, box);
    PieceAlpha(shape.Plane(3), box, cell);
    for (u32 x = 0; x + box <= pic.w; x += cell) {
      pieces.emplace_back(box, box);
      Picture& p = pieces.back();
      for (u32 c = 0; c < 3; ++c)
        for (u32 y = 0; y < box; ++y)
          std::memcpy(p.Plane(c) + y * box, pic.Plane(c) + (static_cast<size_t>(pic.h / 2) + y) * pic.w + x, box);
      std::memcpy(p.Plane(3), shape.Plane(3), static_cast<size_t>(box) * box);
    }
  }
};

void BM_StrokePuzzlePieces(benchmark::State& state) {
  Picture& pic = PictureOf(state.range(1));
  if (pic.w == 0) return state.SkipWithError("no photograph: set KLF_PHOTO");
  PuzzleRow row(pic, static_cast<u32>(state.range(2)));
  Picture dst(row.box, row.box);
  CKLF_ImageFX fx;
  const u8 colour[3] = {250, 200, 10};
  for (auto _ : state) {
    for (Picture& p : row.pieces) {
      Bind(fx, p, dst);
      if (!fx.StrokeInside(colour, static_cast<u8>(state.range(0)), 200)) state.SkipWithError("stroke failed");
    }
    benchmark::DoNotOptimize(dst.data.data());
  }
  SetRate(state, static_cast<u64>(row.pieces.size()) * row.cell * row.cell);
}
BENCHMARK(BM_StrokePuzzlePieces)
    ->ArgNames({"size", "picture", "cell"})
    ->ArgsProduct({{10, 50, 100}, {0, 2}, {94}})
    ->ArgsProduct({{100}, {0}, {8}})
    ->Unit(benchmark::kMillisecond);

// Down by 7.3: 6000 x 4000 into 821 x 547. Rates count source pixels.
void BM_ResizeDown(benchmark::State& state) {
  Picture& src = Photo();
  Picture dst(821, 547);
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  for (auto _ : state) {
    const u8 ok = state.range(0) ? fx.Resize_Int_ZO(1) : fx.Resize(1);
    if (!ok) state.SkipWithError("resize failed");
    benchmark::DoNotOptimize(dst.data.data());
  }
  SetRate(state, static_cast<u64>(src.w) * src.h);
}
BENCHMARK(BM_ResizeDown)->ArgName("integer")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
