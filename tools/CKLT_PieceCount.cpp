#include "CKLT_PieceCount.h"

#include <algorithm>

#include "CTessarette.h"

namespace {

bool CountOf(CTessarette& e, int32_t width, int32_t height, uint32_t& pieces, std::string& error) {
  u32 n = 0;
  if (!e.CountPieces(width, height, n)) {
    error = std::string("the layout cannot be cut (") + KLF_ErrorText(e.GetError()) + ")";
    return false;
  }
  pieces = n;
  return true;
}

}  // namespace

void CKLT_PieceCount::Straighten(CTessarette& e) {
  for (u32 i = 0; i < e.m_knotCount; ++i) e.m_knots[i] = {0.0f, 0.0f};
  auto straight = [](CTessarette::KNIFESTRUCT_RENDERER& k) {
    if (k.count > 0) k.count = 0;
  };
  for (u32 i = 0; i < e.m_vKnifeCount; ++i) straight(e.m_vKnives[i]);
  for (u32 i = 0; i < e.m_hKnifeCount; ++i) straight(e.m_hKnives[i]);
  for (u32 i = 0; i < e.m_xKnifeCount; ++i) straight(e.m_xKnives[i].knife);
}

double CKLT_PieceCount::CellRatio(const CTessarette& e, int32_t width, int32_t height) {
  // The widest column against the lowest row, and the highest row against
  // the narrowest column.
  auto extremes = [](const f32* pos, u32 count, double size, double& low, double& high) {
    double from = 0;
    low = size, high = 0;
    for (u32 i = 0; i <= count; ++i) {
      const double to = i < count ? pos[i] * size : size;
      low = std::min(low, to - from), high = std::max(high, to - from);
      from = to;
    }
  };
  double narrowest, widest, lowest, highest;
  extremes(e.m_vPos, e.m_vCount, width, narrowest, widest);
  extremes(e.m_hPos, e.m_hCount, height, lowest, highest);
  if (narrowest <= 0 || lowest <= 0) return 0;
  return std::max({widest / lowest, highest / narrowest, 1.0});
}

bool CKLT_PieceCount::Count(CTessarette& e, int32_t width, int32_t height, Counts& counts, std::string& error) {
  counts.cellRatio = CellRatio(e, width, height);
  if (!CountOf(e, width, height, counts.pieces, error)) return false;
  Straighten(e);
  return CountOf(e, width, height, counts.cells, error);
}

bool CKLT_PieceCount::Count(const std::vector<uint8_t>& block, int32_t width, int32_t height, uint32_t threads,
                            Counts& counts, std::string& error) {
  counts = Counts();
  CTessarette e;
  CKLF_Mem mem;
  if (!mem.alloc(static_cast<u32>(block.size()))) return error = "out of memory", false;
  std::copy(block.begin(), block.end(), mem.GetPtr());
  u8 layout = 0;
  u32 count = 0;
  const u8* records = nullptr;
  if (!e.InitFromLastSettingsBinary(&mem, layout, count, records))
    return error = "the engine refuses the settings block", false;
  counts.layoutMode = layout != 0;
  if (counts.layoutMode) return true;
  e.SetThreads(threads);
  return Count(e, width, height, counts, error);
}
