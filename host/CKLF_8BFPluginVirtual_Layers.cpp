// Document layers through the host's channel-ports suite.
#include <cstring>

#include "CKLF_8BFPluginVirtual.h"
#include "CKLF_Image.h"
#include "CKLF_String.h"

namespace {

constexpr u32 kScanBytes = 1u << 20;

bool EmptyRect(const kltRECT_s& r) { return r.right <= r.left || r.bottom <= r.top; }

kltRECT_s FromHost(const KLP_Rect32& r) { return kltRECT_s{r.left, r.top, r.right, r.bottom}; }

// The rectangle is width x height (in 64 bits: any 32-bit corners).
bool SizeIs(const kltRECT_s& r, i32 width, i32 height) {
  return static_cast<i64>(r.right) - r.left == width && static_cast<i64>(r.bottom) - r.top == height;
}

}  // namespace

u8 CKLF_8BFPluginVirtual::InitPSSuites() {
  if (m_portsSuite) return 1;
  KLP_FilterRecord* fr = m_filterRecord;
  if (!fr || !fr->basicSuite || !fr->basicSuite->acquireSuite) return 0;
  const void* suite = nullptr;
  if (fr->basicSuite->acquireSuite(fr->hostContext, KLP_CHANNELPORTS_SUITE, KLP_CHANNELPORTS_VERSION, &suite) != 0 ||
      !suite)
    return 0;
  m_portsSuite = static_cast<const KLP_ChannelPortsSuite*>(suite);
  m_suiteOwner = fr->basicSuite;
  m_suiteContext = fr->hostContext;
  return 1;
}

void CKLF_8BFPluginVirtual::i_ReleaseSuites() {
  if (m_portsSuite && m_suiteOwner && m_suiteOwner->releaseSuite)
    m_suiteOwner->releaseSuite(m_suiteContext, KLP_CHANNELPORTS_SUITE, KLP_CHANNELPORTS_VERSION);
  m_portsSuite = nullptr;
  m_suiteOwner = nullptr;
  m_suiteContext = nullptr;
  // The table described the document of that host.
  m_layerTable.free();
  m_layers = nullptr;
  m_layerCount = 0;
}

u8 CKLF_8BFPluginVirtual::i_LayerChannels(i32 layerId, const KLP_ChannelDesc*& first,
                                           const KLP_ChannelDesc*& transparency) const {
  first = transparency = nullptr;
  if (!m_filterRecord || !m_filterRecord->documentInfo) return 0;
  const KLP_DocumentInfo* doc = m_filterRecord->documentInfo;
  if (layerId == -1) {
    first = doc->mergedCompositeChannels;
    transparency = doc->mergedTransparency;
    return 1;
  }
  u32 guard = 0;
  for (const KLP_LayerDesc* l = doc->layers; l && guard < 1000000; l = l->next, ++guard)
    if (l->layerID == layerId) {
      first = l->compositeChannels;
      transparency = l->transparency;
      return 1;
    }
  return 0;
}

kltRECT_s CKLF_8BFPluginVirtual::PS_GetLayerBounds(i32 layerId) {
  const KLP_ChannelDesc *c = nullptr, *transparency = nullptr;
  i_LayerChannels(layerId, c, transparency);
  return c ? FromHost(c->bounds) : klNullRect;
}

u8 CKLF_8BFPluginVirtual::i_ReadChannel(const KLP_ChannelDesc* channel, u8* plane, i32 stride, const kltRECT_s& rect) {
  if (!m_portsSuite || !m_portsSuite->readPixelsFromLevel || !channel || !plane) return Fail(klErrBadArg);
  KLP_Rect32 r = {rect.left, rect.top, rect.right, rect.bottom};
  KLP_PixelMemoryDesc dest = {plane, stride, 1, 8};
  const i16 result = m_portsSuite->readPixelsFromLevel(m_suiteContext, channel->port, 0, &r, &dest);
  return result == 0 ? 1 : Fail(result == klpResMemFull ? klErrNoMemory : klErrBadArg);
}

u8 CKLF_8BFPluginVirtual::PS_GetLayer(i32 layerId, u8** planes, i32 width, i32 height, u8 planeCount,
                                      kltRECT_s rect) {
  const KLP_ChannelDesc *first = nullptr, *transparency = nullptr;
  if (!planes || !m_portsSuite || width <= 0 || height <= 0 || !SizeIs(rect, width, height) ||
      !i_LayerChannels(layerId, first, transparency)) {
    return Fail(klErrBadArg);
  }
  u32 channels = 0;
  for (const KLP_ChannelDesc* c = first; c && channels < 5; c = c->next) ++channels;
  if (channels > 4 || channels + 1 != planeCount) return Fail(klErrBadArg);
  u32 i = 0;
  for (const KLP_ChannelDesc* c = first; c && i < channels; c = c->next, ++i)
    if (!i_ReadChannel(c, planes[i], width, rect)) return 0;
  u8* alpha = planes[planeCount - 1];
  if (transparency) return i_ReadChannel(transparency, alpha, width, rect);
  std::memset(alpha, 255, static_cast<size_t>(width) * static_cast<size_t>(height));
  return 1;
}

u8 CKLF_8BFPluginVirtual::PS_GetLayerWithColorConversionIfNeeded(i32 layerId, u8** planes, i32 width, i32 height,
                                                                  u8 planeCount, kltRECT_s rect) {
  if (planeCount != 4 || !planes) return PS_GetLayer(layerId, planes, width, height, planeCount, rect);
  const KLP_ChannelDesc *first = nullptr, *transparency = nullptr;
  if (!i_LayerChannels(layerId, first, transparency)) return Fail(klErrBadArg);
  u32 channels = 0;
  for (const KLP_ChannelDesc* c = first; c && channels < 5; c = c->next) ++channels;
  if (channels == 3) return PS_GetLayer(layerId, planes, width, height, planeCount, rect);
  if ((channels != 1 && channels != 4) || !m_portsSuite || width <= 0 || height <= 0 ||
      !SizeIs(rect, width, height)) {
    return Fail(klErrBadArg);
  }
  size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  u32 i = 0;
  for (const KLP_ChannelDesc* c = first; c && i < channels; c = c->next, ++i)
    if (!i_ReadChannel(c, planes[i], width, rect)) return 0;
  if (channels == 1) {
    std::memcpy(planes[1], planes[0], n);
    std::memcpy(planes[2], planes[0], n);
  } else {
    for (size_t p = 0; p < n; ++p) {
      u32 k = planes[3][p];
      for (int c = 0; c < 3; ++c) planes[c][p] = static_cast<u8>((planes[c][p] * k) >> 8);
    }
  }
  if (transparency) return i_ReadChannel(transparency, planes[3], width, rect);
  std::memset(planes[3], 255, n);
  return 1;
}

u8 CKLF_8BFPluginVirtual::PS_GetScaledLayerRGB(i32 layerId, CKLF_Image* image, kltRECT_s rect) {
  const KLP_ChannelDesc *first = nullptr, *transparency = nullptr;
  if (!image || image->GetImageMode() != 2 || !m_portsSuite || rect.right <= rect.left || rect.bottom <= rect.top ||
      !i_LayerChannels(layerId, first, transparency)) {
    return Fail(klErrBadArg);
  }
  const KLP_ChannelDesc* channels[4] = {nullptr, nullptr, nullptr, nullptr};
  u32 count = 0;
  for (const KLP_ChannelDesc* c = first; c && count < 5; c = c->next) {
    if (count < 4) channels[count] = c;
    ++count;
  }
  if (count != 1 && count != 3 && count != 4) return Fail(klErrBadArg);
  if (!image->Set(kltRGBA8{255, 255, 255, 255}, 0x0F, klNullRect)) return FailFrom(*image, klErrEmpty);
  u8* planes[4];
  u32 stride = 0;
  if (!image->GetImageChannels(planes, stride)) return FailFrom(*image, klErrEmpty);
  const i64 dw = image->GetImageWidth(), dh = image->GetImageHeight();
  const i64 sw = static_cast<i64>(rect.right) - rect.left, sh = static_cast<i64>(rect.bottom) - rect.top;
  if (dw <= 0 || dh <= 0) return 1;
  // One source row per destination row, each channel read once per row.
  CKLF_Mem rowMem, columnMem;
  const u64 rowBytes = static_cast<u64>(sw) * 5, columnBytes = static_cast<u64>(dw) * sizeof(i64);
  if (sw <= 0 || !klFits32(rowBytes) || !rowMem.alloc(static_cast<u32>(rowBytes)))
    return FailFrom(rowMem, klErrNoMemory);
  if (!columnMem.alloc(static_cast<u32>(columnBytes))) return FailFrom(columnMem, klErrNoMemory);
  u8* row = rowMem.GetPtr();
  i64* column = reinterpret_cast<i64*>(columnMem.GetPtr());
  for (i64 x = 0; x < dw; ++x) column[x] = x * sw / dw;
  for (i64 y = 0; y < dh; ++y) {
    i32 sy = static_cast<i32>(rect.top + y * sh / dh);
    kltRECT_s r = {rect.left, sy, rect.right, sy + 1};
    u32 n = count < 4 ? count : 4;
    for (u32 c = 0; c < n; ++c)
      if (!i_ReadChannel(channels[c], row + c * sw, static_cast<i32>(sw), r)) return 0;
    u8 hasAlpha = transparency ? 1 : 0;
    if (hasAlpha && !i_ReadChannel(transparency, row + 4 * sw, static_cast<i32>(sw), r)) return 0;
    u8* out[4];
    for (int c = 0; c < 4; ++c) out[c] = planes[c] + static_cast<u64>(y) * stride;
    for (i64 x = 0; x < dw; ++x) {
      const i64 s = column[x];
      if (count == 1) {
        out[0][x] = out[1][x] = out[2][x] = row[s];
      } else if (count == 3) {
        for (int c = 0; c < 3; ++c) out[c][x] = row[c * sw + s];
      } else {
        const u32 k = row[3 * sw + s];
        for (int c = 0; c < 3; ++c) out[c][x] = static_cast<u8>((row[c * sw + s] * k) >> 8);
      }
      if (hasAlpha) out[3][x] = row[4 * sw + s];
    }
  }
  return 1;
}

const kltLAYERINFO_s* CKLF_8BFPluginVirtual::GetLayerInfo(u32 index) const {
  return index < m_layerCount ? &m_layers[index] : nullptr;
}

u8 CKLF_8BFPluginVirtual::PS_FillRealLayerBounds(kltRECT_s rect, u8 force) {
  if (!m_portsSuite || !m_filterRecord || !m_filterRecord->documentInfo) return Fail(klErrBadArg);
  if (m_layers && !force) return 1;
  m_layerTable.free();
  m_layers = nullptr;
  m_layerCount = 0;

  const KLP_DocumentInfo* doc = m_filterRecord->documentInfo;
  u32 count = 0;
  for (const KLP_LayerDesc* l = doc->layers; l && count < 1000000; l = l->next)
    if (l->isPixelBased) ++count;
  ++count;
  u64 bytes = static_cast<u64>(count) * sizeof(kltLAYERINFO_s);
  if (!klFits32(bytes) || !m_layerTable.Zalloc(static_cast<u32>(bytes))) return FailFrom(m_layerTable, klErrNoMemory);
  CKLF_Mem scan, transparencyMem;
  if (!scan.alloc(kScanBytes) || !transparencyMem.Zalloc(count * static_cast<u32>(sizeof(KLP_ChannelDesc*)))) {
    m_layerTable.free();
    return Fail(klErrNoMemory);
  }
  kltLAYERINFO_s* table = reinterpret_cast<kltLAYERINFO_s*>(m_layerTable.GetPtr());
  const KLP_ChannelDesc** transparencies = reinterpret_cast<const KLP_ChannelDesc**>(transparencyMem.GetPtr());
  u32 n = 0;
  for (const KLP_LayerDesc* l = doc->layers; l && n + 1 < count; l = l->next) {
    if (!l->isPixelBased) continue;
    kltLAYERINFO_s& e = table[n];
    e.layerId = l->layerID;
    const char* name = l->name ? l->name : "";
    const u32 most = static_cast<u32>(sizeof(e.name) - 1);
    std::memcpy(e.name, name, CKLF_String::WholeCharacters(name, static_cast<u32>(strnlen(name, most + 4)), most));
    e.bounds = l->compositeChannels ? FromHost(l->compositeChannels->bounds) : klNullRect;
    transparencies[n] = l->transparency;
    ++n;
  }
  kltLAYERINFO_s& merged = table[n];
  merged.layerId = -1;
  std::strncpy(merged.name, "--COMPOSITE--", sizeof(merged.name) - 1);
  merged.bounds = doc->mergedCompositeChannels ? FromHost(doc->mergedCompositeChannels->bounds) : klNullRect;
  transparencies[n] = doc->mergedTransparency;
  ++n;

  for (u32 i = 0; i < n; ++i) {
    kltLAYERINFO_s& e = table[i];
    if (!klIsNullRect(rect) && !klIsNullRect(e.bounds)) {
      kltRECT_s b = e.bounds;
      if (b.left < rect.left) b.left = rect.left;
      if (b.top < rect.top) b.top = rect.top;
      if (b.right > rect.right) b.right = rect.right;
      if (b.bottom > rect.bottom) b.bottom = rect.bottom;
      e.bounds = EmptyRect(b) ? klNullRect : b;
    }
    if (klIsNullRect(e.bounds) || EmptyRect(e.bounds) || !transparencies[i]) continue;
    i64 width = static_cast<i64>(e.bounds.right) - e.bounds.left;
    i64 band = static_cast<i64>(kScanBytes) / width - 1;
    if (band < 1) {
      m_layerTable.free();
      return Fail(klErrBadArg);
    }
    kltRECT_s found = {e.bounds.right, e.bounds.bottom, e.bounds.left, e.bounds.top};
    for (i32 top = e.bounds.top; top < e.bounds.bottom; top += static_cast<i32>(band)) {
      i32 bottom = static_cast<i32>(top + band < e.bounds.bottom ? top + band : e.bounds.bottom);
      kltRECT_s r = {e.bounds.left, top, e.bounds.right, bottom};
      if (!i_ReadChannel(transparencies[i], scan.GetPtr(), static_cast<i32>(width), r)) {
        m_layerTable.free();
        return Fail(klErrBadArg);
      }
      for (i32 y = top; y < bottom; ++y) {
        const u8* row = scan.GetPtr() + static_cast<u64>(y - top) * static_cast<u64>(width);
        i64 x0 = 0;
        while (x0 < width && !row[x0]) ++x0;
        if (x0 == width) continue;
        i64 x1 = width - 1;
        while (!row[x1]) --x1;
        if (e.bounds.left + x0 < found.left) found.left = static_cast<i32>(e.bounds.left + x0);
        if (e.bounds.left + x1 + 1 > found.right) found.right = static_cast<i32>(e.bounds.left + x1 + 1);
        if (y < found.top) found.top = y;
        if (y + 1 > found.bottom) found.bottom = y + 1;
      }
    }
    e.bounds = EmptyRect(found) ? klNullRect : found;
  }
  m_layers = table;
  m_layerCount = n;
  return 1;
}
