// Screenshots of real windows for the real-display tests: PNG pictures
// read and written, X window dumps (xwd) read, and a screenshot compared
// with a window's headless picture inside the window's shape.
#pragma once

#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "KLF_BigEndian.h"

namespace klt_screenshot {

struct Picture {
  std::vector<u8> rgba;
  u32 width = 0, height = 0;
};

inline bool ReadPNG(const char* path, Picture& p) {
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path)) return false;
  img.format = PNG_FORMAT_RGBA;
  p.width = img.width;
  p.height = img.height;
  p.rgba.resize(PNG_IMAGE_SIZE(img));
  return png_image_finish_read(&img, nullptr, p.rgba.data(), 0, nullptr) != 0;
}

inline bool WritePNG(const char* path, const Picture& p) {
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  img.width = p.width;
  img.height = p.height;
  img.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&img, path, 0, p.rgba.data(), 0, nullptr) != 0;
}

inline u32 Shift(u32 mask) {
  u32 s = 0;
  while (mask && !(mask & 1)) mask >>= 1, ++s;
  return s;
}

// An xwd dump of a 24-bit TrueColor screen (ZPixmap, 3 or 4 bytes a pixel),
// read field by field: a 100-byte big-endian header, the window name, the
// colour table, then the rows.
inline bool ReadXWD(const char* path, Picture& p) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::vector<u8> b;
  u8 chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) b.insert(b.end(), chunk, chunk + n);
  std::fclose(f);
  if (b.size() < 100) return false;
  auto field = [&](int i) { return KLF_GetBE32(&b[4 * static_cast<size_t>(i)]); };
  const u32 headerSize = field(0), version = field(1), format = field(2), width = field(4), height = field(5);
  const u32 byteOrder = field(7), bpp = field(11), lineBytes = field(12), red = field(14), green = field(15),
            blue = field(16), colours = field(19);
  const u64 start = u64{headerSize} + u64{colours} * 12;
  const u32 step = bpp / 8;
  if (version != 7 || format != 2 || (bpp != 24 && bpp != 32) || lineBytes < u64{width} * step ||
      start + u64{lineBytes} * height > b.size())
    return false;
  p.width = width;
  p.height = height;
  p.rgba.assign(size_t{width} * height * 4, 255);
  for (u32 y = 0; y < height; ++y)
    for (u32 x = 0; x < width; ++x) {
      const u8* s = &b[start + u64{y} * lineBytes + u64{x} * step];
      u32 v = 0;
      for (u32 k = 0; k < step; ++k) v |= u32{s[byteOrder ? step - 1 - k : k]} << (8 * k);
      u8* d = &p.rgba[(size_t{y} * width + x) * 4];
      d[0] = static_cast<u8>((v & red) >> Shift(red));
      d[1] = static_cast<u8>((v & green) >> Shift(green));
      d[2] = static_cast<u8>((v & blue) >> Shift(blue));
    }
  return true;
}

inline int Compare(const char* shotPath, const char* windowPath, int x0, int y0, const char* cropPath) {
  Picture shot, win;
  if (!ReadXWD(shotPath, shot) || !ReadPNG(windowPath, win)) {
    std::fprintf(stderr, "cannot read %s or %s\n", shotPath, windowPath);
    return 1;
  }
  if (x0 < 0 || y0 < 0 || x0 + win.width > shot.width || y0 + win.height > shot.height) {
    std::fprintf(stderr, "the window lies off the screen\n");
    return 1;
  }
  Picture crop;
  crop.rgba.resize(win.rgba.size());
  u64 inside = 0, differ = 0;
  for (u32 y = 0; y < win.height; ++y)
    for (u32 x = 0; x < win.width; ++x) {
      const u8* s = &shot.rgba[((size_t{y} + y0) * shot.width + x + x0) * 4];
      const u8* w = &win.rgba[(size_t{y} * win.width + x) * 4];
      std::memcpy(&crop.rgba[(size_t{y} * win.width + x) * 4], s, 4);
      if (w[3] != 255) continue;
      ++inside;
      if (std::memcmp(s, w, 3) != 0) ++differ;
    }
  crop.width = win.width;
  crop.height = win.height;
  WritePNG(cropPath, crop);
  std::printf("compare: %llu pixels inside the shape, %llu differ\n", static_cast<unsigned long long>(inside),
              static_cast<unsigned long long>(differ));
  return inside > 0 && differ == 0 ? 0 : 1;
}

}  // namespace klt_screenshot
