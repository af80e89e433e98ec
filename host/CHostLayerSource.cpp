#include "CHostLayerSource.h"

#include <cstring>

#include "CKLF_8BFPluginVirtual.h"

u8 CHostLayerSource::FillLayerTable(kltRECT_s area, u8 force) {
  m_lastError = klErrBadArg;
  if (!m_plugin) return 0;
  if (m_plugin->PS_FillRealLayerBounds(area, force)) return 1;
  m_lastError = m_plugin->GetError();
  return 0;
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
  m_lastError = klErrBadArg;
  if (!i_Read(id, planes, stride, width, height, planeCount, rect)) return 0;
  m_lastError = klErrNone;
  return 1;
}

u8 CHostLayerSource::i_Read(i32 id, u8** planes, u32 stride, i32 width, i32 height, u8 planeCount,
                            kltRECT_s rect) {
  if (!m_plugin || !planes || width <= 0 || height <= 0 || planeCount == 0 || planeCount > 5 ||
      stride < static_cast<u32>(width))
    return 0;
  const auto read = [&](u8** to) {
    if (m_plugin->PS_GetLayerWithColorConversionIfNeeded(id, to, width, height, planeCount, rect)) return 1;
    m_lastError = m_plugin->GetError();
    return 0;
  };
  if (stride == static_cast<u32>(width)) return read(planes);
  // The adapter reads planes whose rows are packed; spread them to the stride.
  u64 plane = static_cast<u64>(width) * static_cast<u64>(height);
  u64 bytes = plane * planeCount;
  if (!klFits32(bytes) || (m_buffer.GetSize() < bytes && !m_buffer.alloc(static_cast<u32>(bytes))))
    return m_lastError = klErrNoMemory, 0;
  u8* packed[5];
  for (u8 p = 0; p < planeCount; ++p) packed[p] = m_buffer.GetPtr() + plane * p;
  if (!read(packed)) return 0;
  for (u8 p = 0; p < planeCount; ++p)
    for (i32 y = 0; y < height; ++y)
      std::memcpy(planes[p] + static_cast<size_t>(y) * stride, packed[p] + static_cast<size_t>(y) * width,
                  static_cast<size_t>(width));
  return 1;
}
