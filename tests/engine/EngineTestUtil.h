// Layouts and documents shared by the engine tests.
#pragma once

#include <cstring>
#include <random>
#include <vector>

#include "CTessarette.h"

namespace engtest {

// The four knife kinds: thin or thick, plain or anti-aliased.
struct Mode {
  u8 thin, aa;
};
const Mode kModes[] = {{1, 1}, {1, 0}, {0, 0}, {0, 1}};

inline void SetMode(CTessarette& e, const Mode& m) {
  e.m_thinKnife = m.thin;
  e.m_antiAlias = m.aa;
}

// The knob shape a new knife gets; scale -1 turns the knob the other way.
inline void SetKnob(CTessarette::KNIFESTRUCT_RENDERER* k, f32 scale = 1.0f) {
  static const f32 pos[5] = {0.434f, 0.3515f, 0.5f, 0.6485f, 0.566f};
  static const f32 off[5] = {0.0f, -0.165f, -0.297f, -0.165f, 0.0f};
  std::memset(k, 0, sizeof(*k));
  k->thickness = 3;
  k->count = 5;
  for (int i = 0; i < 5; i++) {
    k->position[i] = pos[i];
    k->offset[i] = off[i] * scale;
    k->smoothness[i] = 0.5f;
  }
}

// An even grid of columns x rows cells; knob knives, or straight ones of
// the given thickness. Knob orientation alternates so knobs point both ways.
// Extra knives stay zeroed: between the first knot and itself, not drawn.
inline void SetGrid(CTessarette& e, u32 columns, u32 rows, bool knob, u32 thickness = 3, u32 extras = 0) {
  ASSERT_TRUE(e.Init(columns, rows, extras));
  for (u32 i = 0; i < e.m_vCount; i++) e.m_vPos[i] = static_cast<f32>(i + 1) / columns;
  for (u32 i = 0; i < e.m_hCount; i++) e.m_hPos[i] = static_cast<f32>(i + 1) / rows;
  auto set = [&](CTessarette::KNIFESTRUCT_RENDERER* k, u32 n) {
    if (knob) {
      SetKnob(k, n % 2 ? 1.0f : -1.0f);
    } else {
      std::memset(k, 0, sizeof(*k));
    }
    k->thickness = thickness;
  };
  for (u32 i = 0; i < e.m_vKnifeCount; i++) set(e.m_vKnives + i, i);
  for (u32 i = 0; i < e.m_hKnifeCount; i++) set(e.m_hKnives + i, i + 1);
}

// A document of colour planes with random content.
struct Doc {
  i32 w, h;
  u8 count;
  std::vector<std::vector<u8>> planes;
  u8* ptrs[4];

  Doc(i32 width, i32 height, u8 planeCount, u32 seed) : w(width), h(height), count(planeCount) {
    std::mt19937 rng(seed);
    planes.resize(planeCount);
    for (u8 p = 0; p < planeCount; p++) {
      planes[p].resize(static_cast<size_t>(w) * h);
      for (u8& v : planes[p]) v = static_cast<u8>(rng());
      ptrs[p] = planes[p].data();
    }
  }
};

// Cuts the whole document, with an outer mask of the document's width.
inline u8 Cut(CTessarette& e, Doc& d, u8* outer = nullptr, u8 render = 0) {
  return e.SplitCells(d.w, d.h, outer, d.w, d.ptrs, d.w, d.count, 0, 100, render);
}

// Sum of the piece masks at every pixel, and the number of pieces there.
inline void Coverage(const CTessarette& e, i32 w, i32 h, std::vector<int>& sum, std::vector<int>& owners) {
  sum.assign(static_cast<size_t>(w) * h, 0);
  owners.assign(static_cast<size_t>(w) * h, 0);
  for (u32 i = 0; i < e.GetPieceCount(); i++) {
    const CTessarette::SPLITEDCELL* c = e.GetPiece(i);
    const i32 rw = c->rect.right - c->rect.left;
    const u8* m = c->maskBlock->GetPtr();
    for (i32 y = c->rect.top; y < c->rect.bottom; y++)
      for (i32 x = c->rect.left; x < c->rect.right; x++) {
        const u8 v = m[(y - c->rect.top) * rw + (x - c->rect.left)];
        sum[static_cast<size_t>(y) * w + x] += v;
        owners[static_cast<size_t>(y) * w + x] += v != 0;
      }
  }
}

}  // namespace engtest
