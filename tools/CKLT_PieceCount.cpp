#include "CKLT_PieceCount.h"

#include <algorithm>
#include <cmath>

#include "CTessarette.h"

namespace {

// The most pixels a scaled count of the cells may take.
const uint64_t kMaxCellCountArea = uint64_t(1) << 24;

// pieces gets the engine's count, also when it is beyond the engine's
// limit.
bool CountOf(CTessarette& e, int32_t width, int32_t height, uint32_t& pieces, std::string& error) {
  u32 n = 0;
  const bool ok = e.CountPieces(width, height, n) != 0;
  pieces = n;
  if (ok) return true;
  error = n > CTessarette::kMaxPieces
              ? "the cut gives more than " + std::to_string(CTessarette::kMaxPieces) + " pieces"
              : std::string("the layout cannot be cut (") + KLF_ErrorText(e.GetError()) + ")";
  return false;
}

// How many times width x height the straight layout is drawn at for its
// cells to be wider than its knives, on the whole (a single narrow column
// or row, such as a margin, is the layout's own): 1 where they are; 0
// where the area that takes would be too large.
uint32_t CellScale(const CTessarette& e, int32_t width, int32_t height) {
  u32 knife = 1;
  auto thickest = [&](const CTessarette::KNIFESTRUCT_RENDERER& k) {
    if (k.count >= 0) knife = std::max(knife, k.thickness);
  };
  for (u32 i = 0; !e.m_thinKnife && i < e.m_vKnifeCount; ++i) thickest(e.m_vKnives[i]);
  for (u32 i = 0; !e.m_thinKnife && i < e.m_hKnifeCount; ++i) thickest(e.m_hKnives[i]);
  for (u32 i = 0; !e.m_thinKnife && i < e.m_xKnifeCount; ++i) thickest(e.m_xKnives[i].knife);
  const double need = knife + 2.0;
  const double side = std::min(static_cast<double>(width) / (e.m_vCount + 1.0), height / (e.m_hCount + 1.0));
  if (side >= need) return 1;
  const double scale = side > 0 ? std::ceil(need / side) : 0;
  const double w = width * scale, h = height * scale;
  if (!(scale > 0) || w > CTessarette::kMaxSide || h > CTessarette::kMaxSide || w * h > kMaxCellCountArea) return 0;
  return static_cast<uint32_t>(scale);
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
  if (!CountOf(e, width, height, counts.pieces, error)) {
    counts.tooMany = counts.pieces > CTessarette::kMaxPieces;
    return false;
  }
  // Cells narrower than the knives are counted on a larger area, where
  // they stay apart.
  Straighten(e);
  const uint32_t scale = CellScale(e, width, height);
  counts.cellsUnderKnives = scale != 1;
  if (scale == 0) return true;
  return CountOf(e, width * static_cast<int32_t>(scale), height * static_cast<int32_t>(scale), counts.cells, error);
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
    return error = e.GetError() == klErrNoMemory ? "out of memory" : "the engine refuses the settings block", false;
  counts.layoutMode = layout != 0;
  if (counts.layoutMode) return true;
  e.SetThreads(threads);
  return Count(e, width, height, counts, error);
}
