// A settings block as the Cutter's clone with mutation leaves a layout,
// written by the project's own writer: columns x rows of knives of the
// given point count, each point moved at random (seeded), in Puzzle mode with one default record a cell when records is
// set (none otherwise). Its floats hardly compress: 100 x 100 knives of 7
// points do not fit the scripting descriptor, nor do 20 x 20 of 64.
#pragma once

#include <algorithm>
#include <random>
#include <vector>

#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"

inline std::vector<uint8_t> MutatedSettings(u32 columns, u32 rows, u32 points, bool records) {
  CLayoutModel m;
  m.SetImageSize(6000, 4000);
  if (!m.settings_LoadDefaults() || !m.spl_SplitEvenParts(static_cast<u16>(columns), static_cast<u16>(rows), 1, 1))
    return {};
  // As the Cutter's mutation leaves them: points moved along and across,
  // smoothness often cut to 0.
  std::mt19937 rng(columns * 1000 + rows);
  std::uniform_real_distribution<f32> along(-0.6f / static_cast<f32>(points), 0.6f / static_cast<f32>(points));
  std::uniform_real_distribution<f32> across(-0.17f, 0.17f), smooth(-0.4f, 0.7f);
  for (u32 list = 0; list < 2; ++list) {
    CLayoutModel::KNIFESTRUCT* knives = list ? m.hKnives : m.vKnives;
    for (u32 i = 0; i < (list ? m.hKnifeCount : m.vKnifeCount); ++i) {
      CLayoutModel::KNIFESTRUCT& k = knives[i];
      k.pointCount = points;
      for (u32 p = 0; p < points; ++p) {
        const f32 t = static_cast<f32>(p) / static_cast<f32>(points - 1);
        k.pointU[p] = 0.1f + 0.8f * t + along(rng);
        k.pointH[p] = across(rng);
        k.pointS[p] = std::max(0.0f, smooth(rng));
      }
    }
  }
  std::vector<u8> bytes;
  if (records) {
    CTessarette engine;
    CTessarette::SFX_ONEPIECE rec;
    engine.GetDefaultRecord(rec);
    bytes.resize(static_cast<size_t>(columns) * rows * CTessaretteRecordCodec::kSize);
    for (u32 i = 0; i < columns * rows; ++i) {
      rec.row = static_cast<u8>(i / columns);
      rec.column = static_cast<u8>(i % columns);
      CTessaretteRecordCodec::Encode(rec, &bytes[i * CTessaretteRecordCodec::kSize]);
    }
  }
  CSettingsBlock writer;
  CKLF_Mem block;
  u32 length = 0;
  const u32 count = records ? columns * rows : 0;
  if (!writer.Write(m, 1, bytes.data(), count, &block, length)) return {};
  return std::vector<uint8_t>(block.GetPtr(), block.GetPtr() + length);
}
