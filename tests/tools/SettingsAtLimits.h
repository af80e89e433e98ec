// A well-formed settings block at the counts' limits, written by the
// project's own writer: 100 x 100 lines of knobbed knives and 19999 extra
// knives between knots drawn at random (seeded), thin knives, Puzzle mode
// without piece records. Its knives cover a small picture whole, and cut
// a large one into more pieces than the engine takes.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "CLayoutEditor.h"
#include "CSettingsBlock.h"

inline std::vector<uint8_t> SettingsAtLimits(uint32_t seed) {
  CLayoutEditor editor;
  CLayoutModel& m = editor.model;
  m.SetImageSize(2000, 1500);
  EXPECT_TRUE(m.settings_LoadDefaults() && m.spl_SplitEvenParts(101, 101, 1, 1));
  for (u32 i = 0; i < m.vKnifeCount; ++i) CLayoutModel::settings_SetDefaultKnife(&m.vKnives[i]);
  for (u32 i = 0; i < m.hKnifeCount; ++i) CLayoutModel::settings_SetDefaultKnife(&m.hKnives[i]);
  EXPECT_TRUE(m.spl_InitAuxKnivesMem(CLayoutModel::kMaxExtraKnives));
  std::mt19937 rng(seed);
  while (m.xKnifeCount < CLayoutModel::kMaxExtraKnives) {
    const u32 a = rng() % m.knotCount, b = rng() % m.knotCount;
    const u32 d = a > b ? a - b : b - a;
    if (d == 0 || d == 1 || d == m.knotColumns) continue;  // the same or neighbouring knots
    CLayoutModel::AUXKNIFESTRUCT& x = m.xKnives[m.xKnifeCount++];
    x.knobSize = 100;
    x.thickness = 3;
    x.knotA = a;
    x.knotB = b;
    editor.shapes.SetFreshKnife(&x);
  }
  CSettingsBlock writer;
  CKLF_Mem block;
  u32 length = 0;
  EXPECT_TRUE(writer.Write(m, 1, nullptr, 0, &block, length));
  return std::vector<uint8_t>(block.GetPtr(), block.GetPtr() + length);
}
