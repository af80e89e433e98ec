#include "CKLT_PieceCount.h"

#include <algorithm>

#include "CTessarette.h"

namespace {

// Every shown knife straight and every knot back on its splitter crossing:
// the cells the layout was laid out for.
void Straighten(CTessarette& e) {
  for (u32 i = 0; i < e.m_knotCount; ++i) e.m_knots[i] = {0.0f, 0.0f};
  auto straight = [](CTessarette::KNIFESTRUCT_RENDERER& k) {
    if (k.count > 0) k.count = 0;
  };
  for (u32 i = 0; i < e.m_vKnifeCount; ++i) straight(e.m_vKnives[i]);
  for (u32 i = 0; i < e.m_hKnifeCount; ++i) straight(e.m_hKnives[i]);
  for (u32 i = 0; i < e.m_xKnifeCount; ++i) straight(e.m_xKnives[i].knife);
}

bool Cut(CTessarette& e, int32_t width, int32_t height, u8* plane, uint32_t& pieces, std::string& error) {
  u8* planes[1] = {plane};
  if (!e.SplitCells(width, height, nullptr, 0, planes, static_cast<u32>(width), 1, 0, 100, 0)) {
    error = std::string("the layout cannot be cut (") + KLF_ErrorText(e.GetError()) + ")";
    return false;
  }
  pieces = e.GetPieceCount();
  e.FreeSpliting();
  return true;
}

}  // namespace

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
  // The pieces get no images: only their count is wanted. The plane is
  // where their images would be read from, never read here.
  e.SetImagesOnRender(1);
  e.SetThreads(threads);
  CKLF_Mem plane;
  const u64 area = static_cast<u64>(width > 0 ? width : 0) * static_cast<u64>(height > 0 ? height : 0);
  if (area == 0 || !klFits32(area) || !plane.alloc(static_cast<u32>(area))) return error = "out of memory", false;
  if (!Cut(e, width, height, plane.GetPtr(), counts.pieces, error)) return false;
  Straighten(e);
  return Cut(e, width, height, plane.GetPtr(), counts.cells, error);
}
