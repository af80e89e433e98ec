// Exporting the pieces of a 2000 x 1500 image cut into 10 x 8 pieces, each
// cropped to its own bounds (its cell plus room for the knobs) with an alpha
// mask: as one layered PSD file, and as 80 PNG files.
// MP/s counts the document's pixels; layerMP/s the pixels of all pieces.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CKLF_ImagePNG.h"
#include "CKLF_ImagePSD.h"
#include "CKLF_StdFile.h"

namespace {

const u32 kWidth = 2000, kHeight = 1500, kCols = 10, kRows = 8;

struct Piece {
  i32 x, y;
  u32 w, h;
  std::vector<u8> planes[4];
};

struct Job {
  std::vector<Piece> pieces;
  u64 piecePixels = 0;
  std::string dir;

  Job() {
    char tmpl[] = "/tmp/klfbench-XXXXXX";
    dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    // A smooth picture with some grain, as photographs have.
    std::vector<u8> image[3];
    u32 seed = 1;
    for (u32 c = 0; c < 3; ++c) {
      image[c].resize(static_cast<size_t>(kWidth) * kHeight);
      for (u32 y = 0; y < kHeight; ++y)
        for (u32 x = 0; x < kWidth; ++x) {
          seed = seed * 1103515245u + 12345u;
          image[c][static_cast<size_t>(y) * kWidth + x] = static_cast<u8>((x * (c + 1) + y * (3 - c)) / 14 + (seed >> 28));
        }
    }
    const u32 cw = kWidth / kCols, ch = kHeight / kRows, knob = cw / 4;
    for (u32 r = 0; r < kRows; ++r)
      for (u32 q = 0; q < kCols; ++q) {
        i32 x0 = static_cast<i32>(q * cw) - static_cast<i32>(knob), y0 = static_cast<i32>(r * ch) - static_cast<i32>(knob);
        i32 x1 = static_cast<i32>((q + 1) * cw + knob), y1 = static_cast<i32>((r + 1) * ch + knob);
        if (x0 < 0) x0 = 0;
        if (y0 < 0) y0 = 0;
        if (x1 > static_cast<i32>(kWidth)) x1 = kWidth;
        if (y1 > static_cast<i32>(kHeight)) y1 = kHeight;
        Piece p{x0, y0, static_cast<u32>(x1 - x0), static_cast<u32>(y1 - y0), {}};
        for (auto& pl : p.planes) pl.resize(static_cast<size_t>(p.w) * p.h);
        const i32 cx = static_cast<i32>(q * cw + cw / 2), cy = static_cast<i32>(r * ch + ch / 2);
        for (u32 y = 0; y < p.h; ++y)
          for (u32 x = 0; x < p.w; ++x) {
            i32 ix = x0 + static_cast<i32>(x), iy = y0 + static_cast<i32>(y);
            size_t s = static_cast<size_t>(iy) * kWidth + ix, d = static_cast<size_t>(y) * p.w + x;
            for (u32 c = 0; c < 3; ++c) p.planes[c][d] = image[c][s];
            // The cell, with a round knob on its right and bottom sides.
            i32 dx = ix - cx, dy = iy - cy;
            bool inCell = std::abs(dx) * 2 < static_cast<i32>(cw) && std::abs(dy) * 2 < static_cast<i32>(ch);
            i32 kx = dx - static_cast<i32>(cw / 2), ky = dy - static_cast<i32>(ch / 2);
            bool inKnob = kx * kx + dy * dy < static_cast<i32>(knob * knob) || dx * dx + ky * ky < static_cast<i32>(knob * knob);
            p.planes[3][d] = inCell || inKnob ? 255 : 0;
          }
        piecePixels += static_cast<u64>(p.w) * p.h;
        pieces.push_back(std::move(p));
      }
  }
  ~Job() {
    for (u32 i = 0; i < pieces.size(); ++i) std::remove((dir + "/p" + std::to_string(i) + ".png").c_str());
    std::remove((dir + "/pieces.psd").c_str());
    rmdir(dir.c_str());
  }
};

Job& TheJob() {
  static Job job;
  return job;
}

void Rates(benchmark::State& state, const Job& job) {
  state.counters["MP/s"] = benchmark::Counter(kWidth * kHeight / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["layerMP/s"] = benchmark::Counter(job.piecePixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PiecesAsLayeredPSD(benchmark::State& state) {
  Job& job = TheJob();
  const std::string path = job.dir + "/pieces.psd";
  CKLF_ImagePSD psd;  // kept across runs: its buffers are grown once
  for (auto _ : state) {
    CKLF_StdFile f(path.c_str(), 2);
    CKLF_ImagePSD::PSDMLWRITE_INITPARAMS doc{};
    doc.width = kWidth;
    doc.height = kHeight;
    doc.mode = 1;
    doc.resolution = 72;
    doc.globalAngle = 130;
    EXPECT_TRUE(psd.Create(f));
    EXPECT_TRUE(psd.Write_Init(&doc));
    for (u32 i = 0; i < job.pieces.size(); ++i) {
      Piece& p = job.pieces[i];
      CKLF_ImagePSD::PSDMLWRITE_LAYERPARAMS lp{};
      lp.width = static_cast<u16>(p.w);
      lp.height = static_cast<u16>(p.h);
      lp.x = static_cast<i16>(p.x);
      lp.y = static_cast<i16>(p.y);
      lp.visible = 1;
      lp.opacity = 255;
      std::snprintf(lp.name, sizeof(lp.name), "Layer %u", i + 1);
      u8* planes[5] = {p.planes[0].data(), p.planes[1].data(), p.planes[2].data(), p.planes[3].data()};
      EXPECT_TRUE(psd.Write_AddLayer(&lp, planes, p.w));
    }
    if (!psd.WritePSD()) state.SkipWithError("PSD write failed");
    psd.WriteClean();
  }
  Rates(state, job);
}
BENCHMARK(BM_PiecesAsLayeredPSD)->Unit(benchmark::kMillisecond);

void BM_PiecesAsPNGFiles(benchmark::State& state) {
  Job& job = TheJob();
  CKLF_ImagePNG png;
  for (auto _ : state) {
    for (u32 i = 0; i < job.pieces.size(); ++i) {
      Piece& p = job.pieces[i];
      CKLF_StdFile f((job.dir + "/p" + std::to_string(i) + ".png").c_str(), 2);
      CKLF_ImagePNG::PNGWRITE_PARAMS params{};
      params.width = static_cast<u16>(p.w);
      params.height = static_cast<u16>(p.h);
      params.mode = 1;
      for (u32 c = 0; c < 4; ++c) params.planes[c] = p.planes[c].data();
      params.stride = p.w;
      params.product = "Kelvanos Tessarette 3.0";
      params.resolution = 72;
      EXPECT_TRUE(png.Create(f));
      if (!png.WritePNG(&params)) state.SkipWithError("PNG write failed");
    }
  }
  Rates(state, job);
}
BENCHMARK(BM_PiecesAsPNGFiles)->Unit(benchmark::kMillisecond);

}  // namespace
