// PNG files of a 6000 x 4000 RGB photograph (smooth light with the grain of
// a camera sensor, so that it compresses as a photograph does): reading it
// into planes, and writing it with the default compression, on one thread,
// on four (and eight, reading) and on all (0); and reading the PNG named
// by KLF_PHOTO (another writer's, such as vips's) into planes made as the
// host program makes them. Reports megapixels per second; CPU is the
// process's, every thread's time, to which threads that wait must not add.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "CKLF_ImagePNG.h"
#include "CKLF_StdFile.h"

namespace {

const u32 kW = 6000, kH = 4000;

struct Photo {
  std::vector<u8> planes;  // three planes, stride = width
  std::vector<u8> file;    // the same as a PNG file
  Photo() : planes(static_cast<size_t>(kW) * kH * 3) {
    std::mt19937 rng(7);
    std::normal_distribution<double> grain(0.0, 3.0);
    for (u32 c = 0; c < 3; ++c)
      for (u32 y = 0; y < kH; ++y)
        for (u32 x = 0; x < kW; ++x) {
          const double v = 40 + 60 * c + 0.02 * x + 0.015 * y + 30 * ((x / 700 + y / 500) % 2) + grain(rng);
          planes[(static_cast<size_t>(c) * kH + y) * kW + x] = static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    const std::string path = std::string(P_tmpdir) + "/klf-png-bench.png";
    if (Write(path.c_str(), 0)) {
      std::FILE* f = std::fopen(path.c_str(), "rb");
      for (int ch; f && (ch = std::fgetc(f)) != EOF;) file.push_back(static_cast<u8>(ch));
      if (f) std::fclose(f);
    }
    std::remove(path.c_str());
  }
  bool Write(const char* path, u32 threads) {
    CKLF_StdFile f;
    if (!f.Open(path, 2)) return false;
    CKLF_ImagePNG png;
    EXPECT_TRUE(png.Create(f));
    png.SetThreads(threads);
    CKLF_ImagePNG::PNGWRITE_PARAMS p = {};
    p.width = static_cast<u16>(kW);
    p.height = static_cast<u16>(kH);
    p.mode = CKLF_ImagePNG::kWriteRGB;
    for (u32 c = 0; c < 3; ++c) p.planes[c] = planes.data() + static_cast<size_t>(c) * kW * kH;
    p.stride = kW;
    p.resolution = 300;
    return png.WritePNG(&p) != 0;
  }
};

Photo& Picture() {
  static Photo photo;
  return photo;
}

void SetRate(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(kW) * kH / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ReadPNG(benchmark::State& state) {
  Photo& photo = Picture();
  std::vector<u8> out(static_cast<size_t>(kW) * kH * 3, 1);
  u8* planes[4] = {out.data(), out.data() + static_cast<size_t>(kW) * kH, out.data() + 2 * static_cast<size_t>(kW) * kH,
                   nullptr};
  CKLF_ImagePNG png;
  png.SetThreads(static_cast<u32>(state.range(0)));
  for (auto _ : state)
    if (!png.ParseImageInto(photo.file.data(), static_cast<u32>(photo.file.size()), planes, kW, kH))
      state.SkipWithError("read failed");
  SetRate(state);
}
BENCHMARK(BM_ReadPNG)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(4)
    ->Arg(8)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// Planes made when the reader asks for them, fresh each read.
struct FreshPlanes : CKLF_ImagePNG::PlaneSource {
  std::vector<u8> planes[4];
  u32 count = 3, area = 0;
  u16 MakePlanes(u8* out[4]) override {
    for (u32 c = 0; c < count; ++c) {
      planes[c].resize(area);
      out[c < 3 ? c : 3] = planes[c].data();
    }
    return 0;
  }
};

void BM_ReadPhoto(benchmark::State& state) {
  static std::vector<u8> file;
  const char* path = std::getenv("KLF_PHOTO");
  if (file.empty() && path)
    if (std::FILE* f = std::fopen(path, "rb")) {
      for (int ch; (ch = std::fgetc(f)) != EOF;) file.push_back(static_cast<u8>(ch));
      std::fclose(f);
    }
  CKLF_ImagePNG png;
  u16 w = 0, h = 0;
  const u32 size = static_cast<u32>(file.size());
  if (file.empty() || !png.GetImageInfoByPtr(file.data(), size) || !png.GetMainImageSize(w, h))
    return state.SkipWithError("no photograph: set KLF_PHOTO to a PNG file");
  png.SetThreads(static_cast<u32>(state.range(0)));
  for (auto _ : state) {
    FreshPlanes planes;
    planes.count = (png.GetImageMode() == CKLF_ImageFormat::kModeGrey ? 1 : 3) + (png.HasAlpha() ? 1 : 0);
    planes.area = static_cast<u32>(w) * h;
    if (!png.ParseImageInto(file.data(), size, planes, w, h)) state.SkipWithError("read failed");
  }
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(w) * h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReadPhoto)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(4)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_WritePNG(benchmark::State& state) {
  Photo& photo = Picture();
  for (auto _ : state)
    if (!photo.Write("/dev/null", static_cast<u32>(state.range(0)))) state.SkipWithError("write failed");
  SetRate(state);
}
BENCHMARK(BM_WritePNG)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(4)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
