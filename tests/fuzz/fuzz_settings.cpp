// Reads untrusted bytes as a settings block, both as the engine reads it
// for a replay and as the layout model reads it, in the current and the
// older form. Whatever the engine takes must stay inside its limits and
// draw without fault; the two readers must agree on what they take; and a
// block the model read (either form) writes back to a block that reads to
// the same bytes.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"

namespace {

u32 Be32(const uint8_t* p) {
  return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) | (static_cast<u32>(p[2]) << 8) | p[3];
}

std::vector<u8> Write(const CLayoutModel& m, u8 puzzle) {
  CSettingsBlock codec;
  CKLF_Mem block;
  u32 length = 0;
  if (!codec.Write(m, puzzle, nullptr, 0, &block, length)) abort();
  return std::vector<u8>(block.GetPtr(), block.GetPtr() + length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 24)) return 0;
  CKLF_Mem mem;
  if (size > 0) {
    if (!mem.alloc(static_cast<u32>(size))) return 0;
    std::memcpy(mem.GetPtr(), data, size);
  }

  // The engine's replay reader.
  CTessarette engine;
  u8 layout = 0;
  u32 count = 0;
  const u8* records = nullptr;
  const bool engineTook = engine.InitFromLastSettingsBinary(&mem, layout, count, records) == 1;
  if (engineTook) {
    if (engine.m_vCount > 100 || engine.m_hCount > 100 || engine.m_xKnifeCount > 20000) abort();
    if (count > 0 && (records < mem.GetPtr() || records + 92ull * count > mem.GetPtr() + size)) abort();
    for (u32 i = 0; i < engine.m_xKnifeCount; ++i)
      if (engine.m_xKnives[i].firstKnot >= engine.m_knotCount || engine.m_xKnives[i].secondKnot >= engine.m_knotCount)
        abort();
    // Draw small layouts: every accepted knife must rasterise cleanly.
    if (engine.m_vKnifeCount + engine.m_hKnifeCount + engine.m_xKnifeCount <= 400) {
      std::vector<u8> plane(64 * 48);
      (void)engine.DrawSplitting(64, 48, plane.data(), 64, 0, 100);
    }
  } else if (count != 0 || records) {
    abort();
  }

  // The layout model's reader: always a usable layout.
  CLayoutModel model;
  model.SetImageSize(64, 48);
  CSettingsBlock codec;
  const u8* modelRecords = nullptr;
  u32 modelCount = 0;
  u8 usedDefaults = 0;
  if (!codec.Read(model, size ? mem.GetPtr() : nullptr, static_cast<u32>(size), &modelRecords, modelCount,
                  &usedDefaults))
    return 0;
  if (model.knotCount != static_cast<u32>(model.knotColumns) * model.knotRows) abort();
  for (u32 i = 0; i < model.xKnifeCount; ++i)
    if (model.xKnives[i].knotA >= model.knotCount || model.xKnives[i].knotB >= model.knotCount) abort();

  // The two readers agree: a block the engine takes the model takes, and a
  // Layout-mode block the model takes (with fewer than 20000 extra knives)
  // the engine takes.
  const bool modelTook = !usedDefaults;
  if (engineTook && size >= 10 && Be32(data + 6) < 20000 && !modelTook) abort();
  if (modelTook && data[0] != 1 && !engineTook) abort();

  // Written back and read again, the layout gives the same block.
  std::vector<u8> first = Write(model, 0);
  CLayoutModel again;
  again.SetImageSize(64, 48);
  u8 againDefaults = 1;
  if (!codec.Read(again, first.data(), static_cast<u32>(first.size()), &modelRecords, modelCount, &againDefaults))
    abort();
  if (againDefaults || Write(again, 0) != first) abort();

  // The older form: a block it takes becomes a current block that reads
  // back to itself.
  CLayoutModel old;
  old.SetImageSize(64, 48);
  if (!codec.ReadOld(old, size ? mem.GetPtr() : nullptr, static_cast<u32>(size), &usedDefaults)) return 0;
  if (usedDefaults == CSettingsBlock::IsValid(size ? mem.GetPtr() : nullptr, static_cast<u32>(size), 1)) abort();
  if (!usedDefaults) {
    std::vector<u8> converted = Write(old, 0);
    CLayoutModel back;
    if (!codec.Read(back, converted.data(), static_cast<u32>(converted.size()), &modelRecords, modelCount,
                    &againDefaults))
      abort();
    if (againDefaults || Write(back, 0) != converted) abort();
  }
  return 0;
}
