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
  L.params = {w, h, x, y, 1, 255, {}};
  std::strncpy(L.params.name, name, 63);
  L.stride = w + static_cast<u32>(rng() % 3);
  for (u32 k = 0; k <= colours; ++k) {
    std::vector<u8> p = klftest::RandomBytes(rng, static_cast<size_t>(L.stride) * h + 1);
    // Runs as well as noise, so both packet kinds occur.
    for (size_t i = 0; i + 1 < p.size(); i += 7 + rng() % 50) std::memset(&p[i], p[i], std::min<size_t>(p.size() - i, rng() % 200));
    L.planes.push_back(p);
  }
  return L;
}

inline u32 Colours(u8 mode) { return mode == 1 ? 3 : (mode == 2 ? 1 : 4); }

// Writes the layers with a fresh writer; returns the file's bytes (empty on failure).
inline std::vector<u8> WritePsd(const std::string& path, const CKLF_ImagePSD::PSDMLWRITE_INITPARAMS& doc,
                                std::vector<Layer>& layers, u32 threads = 1) {
  CKLF_StdFile f;
  CKLF_ImagePSD psd;
  psd.SetThreads(threads);
  if (!f.Open(path.c_str(), 2) || !psd.Create(f) || !psd.Write_Init(&doc)) return {};
  for (Layer& L : layers) {
    u8* planes[5] = {};
    for (size_t k = 0; k < L.planes.size(); ++k) planes[k] = L.planes[k].data();
    if (!psd.Write_AddLayer(&L.params, planes, L.stride)) return {};
  }
  if (!psd.WritePSD()) return {};
  if (!f.Close()) return {};
  return klftest::ReadFileBytes(path);
}

// The flat image over white, pixel by pixel: colour channel c.
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

// Checks PackBits channel data at p: compression 1, a table of row counts,
// rows that decode to exactly width bytes each. Returns the end.
inline size_t CheckPacked(const std::vector<u8>& b, size_t p, u32 width, u32 rows) {
  EXPECT_EQ(1u, Be16(b, p)) << "compression at " << p;
  size_t in = p + 2 + 2 * rows;
  for (u32 r = 0; r < rows; ++r) {
    const size_t end = in + Be16(b, p + 2 + 2 * r);
    u32 out = 0;
    while (in < end) {
      const int h = static_cast<int8_t>(b.at(in++));
      if (h >= 0) in += h + 1, out += h + 1;
      else if (h != -128) in += 1, out += 1 - h;
    }
    EXPECT_TRUE(in == end && out == width) << "row " << r << " at " << p;
  }
  return in;
}

struct Walk {
  u32 layerCount = 0;
  std::vector<size_t> recordAt;  // offset of each layer record
  size_t channelsAt = 0;         // of the first layer's channel data
  size_t compositeAt = 0;
};

// Walks the whole file by its own lengths; any inconsistency fails the test.
inline Walk WalkPsd(const std::vector<u8>& b) {
  Walk w;
  EXPECT_EQ(0, std::memcmp(b.data(), "8BPS", 4));
  const u32 channels = Be16(b, 12), height = Be32(b, 14), width = Be32(b, 18);
  EXPECT_EQ(0u, Be32(b, 26));
  size_t p = 34, end = p + Be32(b, 30);
  while (p < end) {
    EXPECT_EQ(0, std::memcmp(&b[p], "8BIM", 4));
    EXPECT_EQ(0u, Be16(b, p + 6));
    p += 12 + Be32(b, p + 8) + (Be32(b, p + 8) & 1);
  }
  EXPECT_EQ(p, end) << "resource blocks do not fill their section";
  const u32 section = Be32(b, p), info = Be32(b, p + 4);
  const size_t infoStart = p + 8;
  if (section) {
    EXPECT_EQ(0u, info % 2) << "layer info length must be even";
    EXPECT_EQ(section, info + 8) << "section = info length field + info + global mask length";
    w.layerCount = Be16(b, infoStart);
    p = infoStart + 2;
  }
  std::vector<std::vector<u32>> lengths(w.layerCount);
  std::vector<std::pair<u32, u32>> sizes;
  for (u32 i = 0; i < w.layerCount; ++i) {
    w.recordAt.push_back(p);
    sizes.push_back({Be32(b, p + 12) - Be32(b, p + 4), Be32(b, p + 8) - Be32(b, p)});
    const u32 nc = Be16(b, p + 16);
    for (u32 k = 0; k < nc; ++k) lengths[i].push_back(Be32(b, p + 18 + 6 * k + 2));
    p += 18 + 6 * nc;
    EXPECT_EQ(0, std::memcmp(&b[p], "8BIMnorm", 8));
    const size_t extraEnd = p + 16 + Be32(b, p + 12), names = p + 24;
    EXPECT_EQ(0u, Be32(b, p + 16) | Be32(b, p + 20)) << "no mask, no blending ranges";
    const size_t luni = names + (b[names] + 1u + 3u) / 4 * 4;  // Pascal name padded to 4
    EXPECT_EQ(0, std::memcmp(&b[luni], "8BIMluni", 8));
    const u32 units = Be32(b, luni + 12);
    EXPECT_EQ(2 * units + 6, Be32(b, luni + 8));
    EXPECT_EQ(0u, Be16(b, luni + 16 + 2 * units)) << "name terminator";
    EXPECT_EQ(luni + 12 + Be32(b, luni + 8), extraEnd) << "extra data length";
    p = extraEnd;
  }
  w.channelsAt = p;
  for (u32 i = 0; i < w.layerCount; ++i)
    for (u32 length : lengths[i]) {
      EXPECT_EQ(p + length, CheckPacked(b, p, sizes[i].first, sizes[i].second)) << "layer " << i;
      p += length;
    }
  if (section) {
    if ((p - infoStart) & 1) {
      EXPECT_EQ(0, b[p++]);
    }
    EXPECT_EQ(infoStart + info, p);
    EXPECT_EQ(0u, Be32(b, p));
  }
  p += 4;  // the global mask length, or the empty section's length
  w.compositeAt = p;
  EXPECT_EQ(b.size(), CheckPacked(b, p, width, channels * height)) << "file ends after the composite";
  return w;
}

}  // namespace psdtest
