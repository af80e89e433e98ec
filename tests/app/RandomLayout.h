// Random layouts for the settings block tests: line counts, knot offsets,
// knives of every shape and flag, extra knives and the two layout flags.
#pragma once

#include <gtest/gtest.h>

#include <random>

#include "CLayoutModel.h"

namespace layouttest {

// The ranges the knife values are drawn from: positions uLo..uHi, offsets
// -h..h, smoothness uLo..uHi (beyond 0..1 to reach the reader's clamps).
struct KnifeRange {
  f32 uLo;
  f32 uHi;
  f32 h;
};

inline void RandomKnife(std::mt19937& rng, CLayoutModel::KNIFESTRUCT& k, const KnifeRange& range) {
  std::uniform_real_distribution<f32> unit(range.uLo, range.uHi), off(-range.h, range.h);
  k.flipH = rng() & 1;
  k.flipU = rng() & 1;
  k.hidden = (rng() % 5) == 0;
  k.selected = (rng() % 3) == 0;
  k.knobSize = 1 + rng() % 100;
  k.thickness = 1 + rng() % 100;
  k.pointCount = rng() % 9 == 0 ? 0 : 1 + rng() % 64;
  for (u32 j = 0; j < k.pointCount; ++j) {
    k.pointU[j] = unit(rng);
    k.pointH[j] = off(rng);
    k.pointS[j] = unit(rng);
  }
  CLayoutModel::UpdateCentre(k);
}

// A grid of 1..maxCells columns and rows with the given number of extra
// knives joining random knots.
inline void RandomLayout(std::mt19937& rng, CLayoutModel& m, u32 maxCells, u32 extras, const KnifeRange& range) {
  ASSERT_EQ(m.spl_SplitEvenParts(static_cast<u16>(1 + rng() % maxCells), static_cast<u16>(1 + rng() % maxCells), 1, 1),
            1);
  std::uniform_real_distribution<f32> off(-1.0f, 1.0f);
  for (u32 i = 0; i < m.knotCount; ++i) {
    m.knots[i].dx = off(rng);
    m.knots[i].dy = off(rng);
  }
  for (u32 i = 0; i < m.vKnifeCount; ++i) RandomKnife(rng, m.vKnives[i], range);
  for (u32 i = 0; i < m.hKnifeCount; ++i) RandomKnife(rng, m.hKnives[i], range);
  ASSERT_EQ(m.spl_InitAuxKnivesMem(extras), 1);
  for (u32 i = 0; i < extras; ++i) {
    RandomKnife(rng, m.xKnives[i], range);
    m.xKnives[i].knotA = rng() % m.knotCount;
    m.xKnives[i].knotB = rng() % m.knotCount;
  }
  m.xKnifeCount = extras;
  m.thinKnives = rng() & 1;
  m.antiAliasing = rng() & 1;
}

}  // namespace layouttest
