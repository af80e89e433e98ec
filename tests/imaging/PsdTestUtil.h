// Helpers of the PSD tests: a layer set to write, a composite computed the
// slow obvious way, and a structure walker that checks every length and
// packed row of a file independently of the reader.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CKLF_ImagePSD.h"
#include "CKLF_StdFile.h"
#include "support/TestSupport.h"

namespace psdtest {

struct Layer {
  CKLF_ImagePSD::PSDMLWRITE_LAYERPARAMS params{};
  std::vector<std::vector<u8>> planes;  // colour planes, then alpha
  u32 stride = 0;
};

inline Layer RandomLayer(std::mt19937& rng, u32 colours, u16 w, u16 h, i16 x, i16 y, const char* name) {
  Layer L;
  L.params.width = w;
  L.params.height = h;
  L.params.x = x;
  L.params.y = y;
  L.params.visible = 1;
  L.params.opacity = 255;
  std::strncpy(L.params.name, name, 63);
  L.stride = w + static_cast<u32>(rng() % 3);
  for (u32 k = 0; k <= colours; ++k) {
    std::vector<u8> p = klftest::RandomBytes(rng, static_cast<size_t>(L.stride) * h + 1);
    // Runs as well as noise, so both packet kinds occur.
    for (size_t i = 0; i + 1 < p.size(); i += 7 + rng() % 50) {
      size_t n = std::min<size_t>(p.size() - i, rng() % 200);
      std::memset(&p[i], p[i], n);
    }
    L.planes.push_back(p);
  }
  return L;
}

inline u32 Colours(u8 mode) { return mode == 1 ? 3 : (mode == 2 ? 1 : 4); }

// Writes the layers with a fresh writer; returns the file's bytes (empty on failure).
inline std::vector<u8> WritePsd(const std::string& path, const CKLF_ImagePSD::PSDMLWRITE_INITPARAMS& doc,
                                std::vector<Layer>& layers) {
  CKLF_StdFile f;
  if (!f.Open(path.c_str(), 2)) return {};
  CKLF_ImagePSD psd;
  if (!psd.Create(f) || !psd.Write_Init(&doc)) return {};
  for (Layer& L : layers) {
    u8* planes[5] = {};
    for (size_t k = 0; k < L.planes.size(); ++k) planes[k] = L.planes[k].data();
    if (!psd.Write_AddLayer(&L.params, planes, L.stride)) return {};
  }
  if (!psd.WritePSD()) return {};
  f.Close();
  return klftest::ReadFileBytes(path);
}

// The flat image over white, pixel by pixel: colour channel c at (x, y).
inline std::vector<u8> ReferenceComposite(const CKLF_ImagePSD::PSDMLWRITE_INITPARAMS& doc,
                                          const std::vector<Layer>& layers, u32 c) {
  std::vector<u8> out(static_cast<size_t>(doc.width) * doc.height);
  for (u32 y = 0; y < doc.height; ++y)
    for (u32 x = 0; x < doc.width; ++x) {
      u32 v = 255;
      for (const Layer& L : layers) {
        const auto& P = L.params;
        i32 lx = static_cast<i32>(x) - P.x, ly = static_cast<i32>(y) - P.y;
        if (!P.visible || lx < 0 || ly < 0 || lx >= P.width || ly >= P.height) continue;
        size_t i = static_cast<size_t>(ly) * L.stride + lx;
        u32 a = L.planes.back()[i] * P.opacity / 255;
        if (a > 0) v = (v * (255 - a) + a * L.planes[c][i]) / 255;
      }
      out[static_cast<size_t>(y) * doc.width + x] = static_cast<u8>(v);
    }
  return out;
}

inline u32 Be16(const std::vector<u8>& b, size_t o) { return (b.at(o) << 8) | b.at(o + 1); }
inline u32 Be32(const std::vector<u8>& b, size_t o) { return (Be16(b, o) << 16) | Be16(b, o + 2); }

// PackBits decoding of one row that must give exactly width bytes from
// exactly n input bytes.
inline bool RowDecodes(const std::vector<u8>& b, size_t at, u32 n, u32 width) {
  size_t in = at, end = at + n;
  u32 out = 0;
  while (in < end) {
    int h = static_cast<int8_t>(b.at(in++));
    if (h >= 0) {
      in += h + 1;
      out += h + 1;
    } else if (h != -128) {
      in += 1;
      out += 1 - h;
    }
  }
  return in == end && out == width;
}

// Channel data of one channel: compression 1, the row counts, rows that
// decode to width bytes each. Returns the bytes it took, 0 on a fault.
inline size_t CheckPackedChannel(const std::vector<u8>& b, size_t at, u32 width, u32 height, u32 tableRows) {
  if (Be16(b, at) != 1) return 0;
  size_t row = at + 2 + 2 * tableRows;
  for (u32 y = 0; y < height; ++y) {
    u32 n = Be16(b, at + 2 + 2 * y);
    if (!RowDecodes(b, row, n, width)) return 0;
    row += n;
  }
  return row - at;
}

struct Walk {
  u32 resourcesLength = 0;
  u32 layerCount = 0;
  std::vector<size_t> recordAt;  // offset of each layer record
  size_t compositeAt = 0;
};

// Walks the whole file by its own lengths; any inconsistency fails the test.
inline Walk WalkPsd(const std::vector<u8>& b) {
  Walk w;
  EXPECT_EQ(0, std::memcmp(b.data(), "8BPS", 4));
  const u32 channels = Be16(b, 12), height = Be32(b, 14), width = Be32(b, 18);
  EXPECT_EQ(0u, Be32(b, 26));
  w.resourcesLength = Be32(b, 30);
  size_t p = 34, end = p + w.resourcesLength;
  while (p < end) {
    EXPECT_EQ(0, std::memcmp(&b[p], "8BIM", 4));
    EXPECT_EQ(0u, Be16(b, p + 6));
    u32 n = Be32(b, p + 8);
    p += 12 + n + (n & 1);
  }
  EXPECT_EQ(p, end) << "resource blocks do not fill their section";
  const u32 section = Be32(b, p), info = Be32(b, p + 4);
  EXPECT_EQ(0u, info % 2) << "layer info length must be even";
  EXPECT_EQ(section, info + 8) << "section = info length field + info + global mask length";
  size_t infoStart = p + 8;
  w.layerCount = Be16(b, infoStart);
  p = infoStart + 2;
  std::vector<std::vector<std::pair<u32, u32>>> chans;  // per layer: (length, id)
  std::vector<std::pair<u32, u32>> sizes;
  for (u32 i = 0; i < w.layerCount; ++i) {
    w.recordAt.push_back(p);
    u32 t = Be32(b, p), l = Be32(b, p + 4), bo = Be32(b, p + 8), r = Be32(b, p + 12);
    sizes.push_back({r - l, bo - t});
    u32 nc = Be16(b, p + 16);
    p += 18;
    chans.emplace_back();
    for (u32 k = 0; k < nc; ++k, p += 6) chans.back().push_back({Be32(b, p + 2), Be16(b, p)});
    EXPECT_EQ(0, std::memcmp(&b[p], "8BIMnorm", 8));
    u32 extra = Be32(b, p + 12);
    size_t x = p + 16;
    EXPECT_EQ(0u, Be32(b, x));
    EXPECT_EQ(0u, Be32(b, x + 4));
    x += 8;
    u32 field = (b[x] & ~3u) + 4;
    EXPECT_EQ(0u, (b[x] + 1u + 3u) / 4 * 4 - field) << "Pascal name field padded to 4";
    x += field;
    EXPECT_EQ(0, std::memcmp(&b[x], "8BIMluni", 8));
    u32 luni = Be32(b, x + 8), units = Be32(b, x + 12);
    EXPECT_EQ(2 * units + 6, luni);
    EXPECT_EQ(0u, Be16(b, x + 16 + 2 * units)) << "name terminator";
    x += 12 + luni;
    EXPECT_EQ(x, p + 16 + extra) << "extra data length";
    p = p + 16 + extra;
  }
  for (u32 i = 0; i < w.layerCount; ++i)
    for (auto [length, id] : chans[i]) {
      (void)id;
      size_t used = CheckPackedChannel(b, p, sizes[i].first, sizes[i].second, sizes[i].second);
      EXPECT_EQ(length, used) << "layer " << i;
      p += length;
    }
  if ((p - infoStart) & 1) {
    EXPECT_EQ(0, b[p]);
    ++p;
  }
  EXPECT_EQ(infoStart + info, p);
  EXPECT_EQ(0u, Be32(b, p));
  w.compositeAt = p + 4;
  p = w.compositeAt;
  EXPECT_EQ(1u, Be16(b, p));
  size_t row = p + 2 + 2 * channels * height;
  for (u32 i = 0; i < channels * height; ++i) {
    u32 n = Be16(b, p + 2 + 2 * i);
    EXPECT_TRUE(RowDecodes(b, row, n, width)) << "composite row " << i;
    row += n;
  }
  EXPECT_EQ(b.size(), row) << "file ends after the composite";
  return w;
}

}  // namespace psdtest
