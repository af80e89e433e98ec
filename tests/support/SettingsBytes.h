// Settings blocks built field by field, big-endian, independently of the
// codecs that read and write them: H x V even lines, every grid knife
// alike (or varied by the test), extra knives joining knot pairs, piece
// records in Puzzle mode.
#pragma once

#include <array>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "KLF_Types.h"

namespace klftest {

inline void Be32(std::vector<u8>& b, u32 v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<u8>(v >> s));
}
inline void BeF(std::vector<u8>& b, f32 f) {
  u32 v;
  std::memcpy(&v, &f, 4);
  Be32(b, v);
}
inline void Put32(std::vector<u8>& b, size_t at, u32 v) {
  for (int i = 0; i < 4; i++) b[at + i] = static_cast<u8>(v >> (24 - 8 * i));
}

// Points are (position, offset, smoothness); stored as three arrays.
struct KnifeDesc {
  u8 flags = 0;
  u8 knob = 100;
  u8 thickness = 3;
  std::vector<std::array<f32, 3>> points;
};

// The knob every new knife gets.
inline KnifeDesc KnobKnife() {
  KnifeDesc k;
  const f32 u[5] = {0.434f, 0.3515f, 0.5f, 0.6485f, 0.566f}, h[5] = {0.0f, -0.165f, -0.297f, -0.165f, 0.0f};
  for (int i = 0; i < 5; ++i) k.points.push_back({u[i], h[i], 0.5f});
  return k;
}

struct BlockDesc {
  u32 H = 0, V = 0;
  u8 puzzle = 0;
  KnifeDesc knife;
  // Changes knife i of grid list 0 (vertical) or 1 (horizontal) before it
  // is stored.
  std::function<void(u32, u32, KnifeDesc&)> vary;
  std::vector<std::pair<u32, u32>> extras;
  std::vector<std::array<f32, 3>> knots;  // (index, dx, dy) of moved knots
  u8 thin = 1, aa = 1;
  u32 records = 0;               // records of counting bytes...
  std::vector<u8> recordBytes;   // ...or these, 92 bytes each
};

inline void Knife(std::vector<u8>& b, const KnifeDesc& k) {
  const size_t n = k.points.size();
  b.insert(b.end(), {k.flags, static_cast<u8>(n >> 8), static_cast<u8>(n), k.knob, k.thickness});
  for (int a = 0; a < 3; a++)
    for (const auto& p : k.points) BeF(b, p[a]);
}

inline std::vector<u8> Block(const BlockDesc& s) {
  std::vector<u8> b = {s.puzzle, s.puzzle, static_cast<u8>(s.H >> 8), static_cast<u8>(s.H),
                       static_cast<u8>(s.V >> 8), static_cast<u8>(s.V)};
  Be32(b, static_cast<u32>(s.extras.size()));
  for (u32 i = 0; i < s.H; ++i) BeF(b, (i + 1.0f) / (s.H + 1.0f));
  for (u32 i = 0; i < s.V; ++i) BeF(b, (i + 1.0f) / (s.V + 1.0f));
  const u32 K = (s.H + 2) * (s.V + 2);
  Be32(b, K);
  std::vector<f32> knots(2 * K, 0.0f);
  for (const auto& k : s.knots) knots[2 * static_cast<u32>(k[0])] = k[1], knots[2 * static_cast<u32>(k[0]) + 1] = k[2];
  for (f32 v : knots) BeF(b, v);
  for (u32 list = 0; list < 2; ++list) {
    const u32 n = list ? (s.V + 1) * s.H : s.V * (s.H + 1);
    Be32(b, n);
    for (u32 i = 0; i < n; ++i) {
      KnifeDesc k = s.knife;
      if (s.vary) s.vary(list, i, k);
      Knife(b, k);
    }
  }
  Be32(b, static_cast<u32>(s.extras.size()));
  for (auto& x : s.extras) {
    Knife(b, s.knife);
    Be32(b, x.first);
    Be32(b, x.second);
  }
  b.insert(b.end(), {s.thin, s.aa});
  if (s.puzzle) {
    const u32 n = s.recordBytes.empty() ? s.records : static_cast<u32>(s.recordBytes.size() / 92);
    Be32(b, n);
    if (!s.recordBytes.empty()) b.insert(b.end(), s.recordBytes.begin(), s.recordBytes.end());
    for (u32 i = 0; s.recordBytes.empty() && i < n * 92; ++i) b.push_back(static_cast<u8>(i));
  }
  return b;
}

}  // namespace klftest
