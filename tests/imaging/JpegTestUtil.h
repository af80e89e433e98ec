// Helper of the JPEG tests: files made by libjpeg itself.
#pragma once

#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace jpegtest {

typedef std::vector<uint8_t> Bytes;

// A JPEG of random blocks, made by libjpeg itself, with a JFIF density in
// the given unit (1 dots an inch, 2 a centimetre) and an optional profile.
inline Bytes Encode(uint32_t w, uint32_t h, J_COLOR_SPACE space, int components, bool progressive, std::mt19937& rng,
                    uint8_t unit = 0, uint16_t density = 1, const Bytes& icc = {}) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = components;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  c.density_unit = unit;
  c.X_density = c.Y_density = density;
  jpeg_start_compress(&c, TRUE);
  if (!icc.empty()) jpeg_write_icc_profile(&c, icc.data(), static_cast<unsigned>(icc.size()));
  Bytes row(w * components);
  while (c.next_scanline < h) {
    for (size_t i = 0; i < row.size(); ++i)
      row[i] = static_cast<uint8_t>((i / components / 8 + c.next_scanline / 8) * 40 + rng() % 20);
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  Bytes file(out, out + size);
  jpeg_destroy_compress(&c);
  free(out);
  return file;
}

}  // namespace jpegtest
