// Helpers of the PNG tests: files of any variant made by libpng itself,
// and the chunks of a file found by walking them.
#pragma once

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "IccTestUtil.h"

namespace pngtest {

typedef std::vector<uint8_t> Bytes;

struct PngParams {
  uint32_t width = 5, height = 4;
  int depth = 8, type = PNG_COLOR_TYPE_RGB;
  int interlace = PNG_INTERLACE_NONE;
  std::vector<png_color> palette;
  Bytes trns;            // palette alphas
  bool greyKey = false;  // tRNS with grey sample 0 (or RGB 0,0,0)
};

inline void ToVector(png_structp png, png_bytep data, size_t n) {
  Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

// A file of any variant through libpng itself; rows hold the packed samples
// as stored in the file.
inline Bytes EncodePng(const PngParams& s, const std::vector<Bytes>& rows) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, ToVector, nullptr);
  png_set_IHDR(png, info, s.width, s.height, s.depth, s.type, s.interlace, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
  png_color_16 key{};
  if (!s.trns.empty() || s.greyKey)
    png_set_tRNS(png, info, s.trns.empty() ? nullptr : s.trns.data(), static_cast<int>(s.trns.size()), &key);
  png_write_info(png, info);
  std::vector<png_bytep> ptrs;
  for (const Bytes& r : rows) ptrs.push_back(const_cast<png_bytep>(r.data()));
  png_write_image(png, ptrs.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

inline uint32_t Be32(const Bytes& b, size_t o) {
  return uint32_t(b[o]) << 24 | uint32_t(b[o + 1]) << 16 | uint32_t(b[o + 2]) << 8 | b[o + 3];
}

// Appends a chunk: length, type, data and CRC.
inline void PutChunk(Bytes& out, const char* type, const Bytes& data) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  const uint8_t head[8] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n),
                           uint8_t(type[0]), uint8_t(type[1]), uint8_t(type[2]), uint8_t(type[3])};
  out.insert(out.end(), head, head + 8);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0, head + 4, 4);
  if (n) crc = crc32(crc, data.data(), static_cast<uInt>(n));  // a null buffer restarts the CRC
  const uint8_t tail[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
  out.insert(out.end(), tail, tail + 4);
}

// The signature and the header chunk of a file of this shape.
inline Bytes Start(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace = 0) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(out, "IHDR", {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w), uint8_t(h >> 24),
                         uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h), depth, type, 0, 0, interlace});
  return out;
}

// bytes deflated as one zlib stream at the given level.
inline Bytes Deflated(const Bytes& bytes, int level = Z_DEFAULT_COMPRESSION) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  Bytes z(size);
  compress2(z.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), level);
  z.resize(size);
  return z;
}

// A 16 x 16 RGB or palette picture with a chunk of the given type before or
// after its image data (none when type is null), into out, whose memory is
// kept for it.
inline void Picture(Bytes& out, uint8_t colourType, const char* type, const Bytes& data, bool afterImage) {
  const Bytes start = Start(16, 16, 8, colourType);
  out.assign(start.begin(), start.end());
  const uint32_t samples = colourType == PNG_COLOR_TYPE_PALETTE ? 1 : 3;
  if (samples == 1) {
    Bytes palette(48);
    for (uint32_t i = 0; i < 48; ++i) palette[i] = static_cast<uint8_t>(5 * i + 1);
    PutChunk(out, "PLTE", palette);
  }
  if (type && !afterImage) PutChunk(out, type, data);
  Bytes rows;
  for (uint32_t y = 0; y < 16; ++y) {
    rows.push_back(0);
    for (uint32_t x = 0; x < 16 * samples; ++x) rows.push_back(static_cast<uint8_t>((x ^ y) & 15));
  }
  PutChunk(out, "IDAT", Deflated(rows));
  if (type && afterImage) PutChunk(out, type, data);
  PutChunk(out, "IEND", {});
}

// iCCP data of exactly length bytes: a name, then an RGB profile padded to
// fit (returned in profile) as a zlib stream of stored blocks.
inline Bytes ProfileChunkData(uint32_t length, Bytes& profile) {
  const uint32_t kFixed = 5 + 2 + 4, kStored = 65535;  // name and method, zlib header, Adler-32
  uint32_t blocks = 1, size = 0;
  for (;; ++blocks)
    if ((size = length - kFixed - 5 * blocks) <= static_cast<uint64_t>(blocks) * kStored) break;
  profile = icctest::Profile("RGB ", 3);
  profile.resize(size, 0x5A);
  for (int i = 0; i < 4; ++i) profile[i] = static_cast<uint8_t>(size >> (24 - 8 * i));
  Bytes data = {'I', 'C', 'C', 0, 0, 0x78, 0x01};
  data.reserve(length);
  const uint32_t each = (size + blocks - 1) / blocks;
  for (uint32_t b = 0, at = 0; b < blocks; ++b) {
    const uint32_t n = size - at < each ? size - at : each;
    const uint8_t head[5] = {uint8_t(b + 1 == blocks), uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)};
    data.insert(data.end(), head, head + 5);
    data.insert(data.end(), profile.begin() + at, profile.begin() + at + n);
    at += n;
  }
  const uLong adler = adler32(adler32(0, nullptr, 0), profile.data(), static_cast<uInt>(size));
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(adler >> (24 - 8 * i)));
  return data;
}

// The data of the first chunk of a type, by walking the chunks.
inline Bytes Chunk(const Bytes& file, const char* type, size_t skip = 0) {
  for (size_t p = 8; p + 12 <= file.size(); p += 12 + Be32(file, p))
    if (std::memcmp(&file[p + 4], type, 4) == 0 && skip-- == 0)
      return Bytes(file.begin() + p + 8, file.begin() + p + 8 + Be32(file, p));
  return {};
}

// The file with a chunk of type put right before its first chunk of
// another type (before: "IDAT" or "IEND").
inline Bytes Inserted(const Bytes& file, const char* before, const char* type, const Bytes& data) {
  size_t p = 8;
  while (p + 12 <= file.size() && std::memcmp(&file[p + 4], before, 4) != 0) p += 12 + Be32(file, p);
  Bytes out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(p)), chunk;
  PutChunk(chunk, type, data);
  out.insert(out.end(), chunk.begin(), chunk.end());
  out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(p), file.end());
  return out;
}

}  // namespace pngtest
