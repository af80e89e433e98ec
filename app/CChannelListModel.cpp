#include "CChannelListModel.h"

#include <cstring>

#include "CKLF_ImageFX.h"

namespace {

const char* const kGray[] = {"Gray"};
const char* const kRGB[] = {"Red", "Green", "Blue"};
const char* const kCMYK[] = {"Cyan", "Magenta", "Yellow", "Black"};

}  // namespace

u8 CChannelListModel::Open() {
  m_facts = m_source.Facts();
  m_items.Empty();
  const u64 area = static_cast<u64>(m_facts.width) * m_facts.height;
  if (area == 0) return Fail(klErrEmpty);
  if (!klFits32(area) || !m_map.alloc(static_cast<u32>(area))) return FailFrom(m_map, klErrNoMemory);
  std::memset(m_map.GetPtr(), 255, m_map.GetSize());
  // A value is stored as its u32 image: -1 for the current selection.
  if (m_facts.selection && m_items.Add(CKLF_String("- Current Selection"), static_cast<u32>(kCurrentSelection)) < 0)
    return FailFrom(m_items, klErrNoMemory);
  const u32 names = m_source.NameCount();
  if (names) {
    for (u32 i = 0; i < names; ++i)
      if (m_items.Add(CKLF_String(m_source.Name(i)), i) < 0) return FailFrom(m_items, klErrNoMemory);
    return 1;
  }
  const char* const* colours = m_facts.colorKind == 1 ? kRGB : m_facts.colorKind == 2 ? kCMYK : kGray;
  const u32 count = m_facts.colorKind == 1 ? 3 : m_facts.colorKind == 2 ? 4 : 1;
  for (u32 i = 0; i < count; ++i)
    if (m_items.Add(CKLF_String(colours[i]), i) < 0) return FailFrom(m_items, klErrNoMemory);
  if (m_facts.transparency && m_items.Add(CKLF_String("Layer Transparency"), m_facts.planes - 1u) < 0)
    return FailFrom(m_items, klErrNoMemory);
  return 1;
}

const char* CChannelListModel::Item(u32 index) const {
  const CKLF_String* s = index < m_items.GetSize() ? m_items.GetPtrAt(index) : nullptr;
  return s ? s->GetStr() : nullptr;
}

i32 CChannelListModel::Value(u32 index) const {
  const CKLF_String* s = index < m_items.GetSize() ? m_items.GetPtrAt(index) : nullptr;
  return s ? static_cast<i32>(s->GetUserValue()) : kCurrentSelection;
}

u8 CChannelListModel::Select(u32 index) {
  if (index >= m_items.GetSize() || !m_map.GetPtr()) return Fail(klErrBadArg);
  const i32 value = Value(index);
  const u32 w = m_facts.width;
  if (value == kCurrentSelection && !m_facts.hostMask) {
    std::memset(m_map.GetPtr(), 255, m_map.GetSize());
    return 1;
  }
  if (value != kCurrentSelection && !m_source.NameCount() && value >= m_facts.planes) return 0;
  if (m_read.GetSize() < m_map.GetSize() && !m_read.alloc(m_map.GetSize())) return FailFrom(m_read, klErrNoMemory);
  const u8 ok = value == kCurrentSelection ? m_source.ReadPlane(255, m_read.GetPtr(), w)
                : m_source.NameCount()     ? m_source.ReadChannel(static_cast<u8>(value), m_read.GetPtr(), w)
                                           : m_source.ReadPlane(static_cast<u8>(value), m_read.GetPtr(), w);
  if (!ok) return 0;
  std::memcpy(m_map.GetPtr(), m_read.GetPtr(), m_map.GetSize());
  return 1;
}

u8 CChannelListModel::PreviewAlpha(u8* alpha, u32 stride, u16 width, u16 height) {
  if (!alpha || !m_map.GetPtr() || stride < width || m_facts.width > 65535 || m_facts.height > 65535)
    return Fail(klErrBadArg);
  CKLF_ImageFX fx;
  u8* src[1] = {m_map.GetPtr()};
  u8* dst[1] = {alpha};
  if (!fx.SetSource(src, m_facts.width, 1, 0, static_cast<u16>(m_facts.width), static_cast<u16>(m_facts.height)) ||
      !fx.SetDestination(dst, stride, 1, 0, width, height) || !fx.Resize_Int_ZO(0))
    return FailFrom(fx, klErrBadArg);
  for (u32 y = 0; y < height; ++y) {
    u8* row = alpha + static_cast<u64>(y) * stride;
    for (u32 x = 0; x < width; ++x) row[x] = Selects(row[x], invert) ? 0 : 255;
  }
  return 1;
}
