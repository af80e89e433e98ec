// Makes the whole-job benchmark's photograph: the bundled sample picture
// enlarged (bilinear) to the size asked for, with the grain of a camera
// sensor (deterministic noise) so that it compresses as a photograph does.
// Usage: make_photo IN.png OUT.png WIDTH HEIGHT
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "CKLF_ImagePNG.h"
#include "CKLF_StdFile.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: make_photo IN.png OUT.png WIDTH HEIGHT\n");
    return 64;
  }
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 10;
  std::vector<u8> bytes;
  for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<u8>(c));
  std::fclose(f);
  CKLF_ImagePNG in;
  if (!in.ParseImageByPtr(bytes.data(), static_cast<u32>(bytes.size()))) return 10;
  u16 sw = 0, sh = 0;
  if (!in.GetMainImageSize(sw, sh)) return 10;
  const u32 w = static_cast<u32>(std::atoi(argv[3])), h = static_cast<u32>(std::atoi(argv[4]));
  if (w == 0 || h == 0 || w > 65535 || h > 65535) return 64;
  std::vector<u8> out(static_cast<size_t>(w) * h * 3);
  std::mt19937 rng(7);
  std::normal_distribution<double> grain(0.0, 3.0);
  for (u32 c = 0; c < 3; ++c) {
    const u8* s = in.GetImageDataPtr(static_cast<i32>(c));
    u8* d = out.data() + static_cast<size_t>(c) * w * h;
    for (u32 y = 0; y < h; ++y) {
      const double fy = (y + 0.5) * sh / h - 0.5;
      const u32 y0 = fy < 0 ? 0 : static_cast<u32>(fy), y1 = y0 + 1 < sh ? y0 + 1 : y0;
      const double ty = fy < 0 ? 0 : fy - y0;
      for (u32 x = 0; x < w; ++x) {
        const double fx = (x + 0.5) * sw / w - 0.5;
        const u32 x0 = fx < 0 ? 0 : static_cast<u32>(fx), x1 = x0 + 1 < sw ? x0 + 1 : x0;
        const double tx = fx < 0 ? 0 : fx - x0;
        const double top = s[y0 * sw + x0] * (1 - tx) + s[y0 * sw + x1] * tx;
        const double bottom = s[y1 * sw + x0] * (1 - tx) + s[y1 * sw + x1] * tx;
        const double v = top * (1 - ty) + bottom * ty + grain(rng);
        d[static_cast<size_t>(y) * w + x] = static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v + 0.5));
      }
    }
  }
  CKLF_StdFile file;
  if (!file.Open(argv[2], 2)) return 10;
  CKLF_ImagePNG png;
  if (!png.Create(file)) return 10;
  CKLF_ImagePNG::PNGWRITE_PARAMS p = {};
  p.width = static_cast<u16>(w);
  p.height = static_cast<u16>(h);
  p.mode = CKLF_ImagePNG::kWriteRGB;
  for (u32 c = 0; c < 3; ++c) p.planes[c] = out.data() + static_cast<size_t>(c) * w * h;
  p.stride = w;
  p.resolution = 300;
  const bool ok = png.WritePNG(&p) && file.Close();
  return ok ? 0 : 10;
}
