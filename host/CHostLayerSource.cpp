#include "CHostLayerSource.h"

#include <cstring>

#include "CKLF_8BFPluginVirtual.h"

u8 CHostLayerSource::FillLayerTable(kltRECT_s area, u8 force) {
  return m_plugin ? m_plugin->PS_FillRealLayerBounds(area, force) : 0;
}

u32 CHostLayerSource::GetLayerCount() { return m_plugin ? m_plugin->GetLayerCount() : 0; }

u8 CHostLayerSource::GetLayerInfo(u32 index, LAYERINFO& info) {
  const kltLAYERINFO_s* l = m_plugin ? m_plugin->GetLayerInfo(index) : nullptr;
  if (!l) return 0;
  info.id = l->layerId;
  info.bounds = l->bounds;
  return 1;
}

u8 CHostLayerSource::ReadLayer(i32 id, u8** planes, u32 stride, i32 width, i32 height, u8 planeCount,
                               kltRECT_s rect) {
  if (!m_plugin || !planes || width <= 0 || height <= 0 || planeCount == 0 || planeCount > 5 ||
      stride < static_cast<u32>(width))
    return 0;
  if (stride == static_cast<u32>(width))
    return m_plugin->PS_GetLayerWithColorConversionIfNeeded(id, planes, width, height, planeCount, rect);
  // The adapter reads planes whose rows are packed; spread them to the stride.
  u64 plane = static_cast<u64>(width) * static_cast<u64>(height);
  u64 bytes = plane * planeCount;
  if (!klFits32(bytes)) return 0;
  if (m_buffer.GetSize() < bytes && !m_buffer.alloc(static_cast<u32>(bytes))) return 0;
  u8* packed[5];
  for (u8 p = 0; p < planeCount; ++p) packed[p] = m_buffer.GetPtr() + plane * p;
  if (!m_plugin->PS_GetLayerWithColorConversionIfNeeded(id, packed, width, height, planeCount, rect)) return 0;
  for (u8 p = 0; p < planeCount; ++p)
    for (i32 y = 0; y < height; ++y)
      std::memcpy(planes[p] + static_cast<size_t>(y) * stride, packed[p] + static_cast<size_t>(y) * width,
                  static_cast<size_t>(width));
  return 1;
}
