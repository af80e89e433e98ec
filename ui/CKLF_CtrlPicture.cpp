#include "CKLF_CtrlPicture.h"

#include <algorithm>

u8 CKLF_CtrlPicture::Load(CKLF_UIResources& res, const CKLF_String& key) {
  Free();
  kltRECT_s r;
  u8* data = res.LoadImageData(key, &r, &m_mem);
  if (!data) return 0;
  m_rect = r;
  m_data = data;
  return 1;
}

void CKLF_CtrlPicture::Free() {
  m_mem.free();
  m_data = nullptr;
  m_rect = {0, 0, 0, 0};
}

u8 CKLF_CtrlPicture::Contains(i32 x, i32 y) const {
  return m_data && x >= m_rect.left && x < m_rect.right && y >= m_rect.top && y < m_rect.bottom ? 1 : 0;
}

void CKLF_CtrlPicture::CopyTo(CKLF_Layer& layer, kltPOS origin) const {
  if (!m_data) {
    layer.Set(kltRGBA8{0, 0, 0, 0}, 15);
    return;
  }
  CKLF_UIResources::SetDataToImage(&layer, static_cast<i16>(m_rect.left - origin.x),
                                   static_cast<i16>(m_rect.top - origin.y), m_data, m_rect, 0, 0);
}

u8 CKLF_StatePictures::Load(CKLF_UIResources& res, const CKLF_String& prefix) {
  static const char* const kStates[] = {"Normal", "Highlighted", "Pressed", "Disabled"};
  for (u8 i = 0; i < 4; ++i)
    if (!m_pictures[i].LoadOptional(res, prefix + kStates[i])) return 0;
  return 1;
}

u8 CKLF_StatePictures::HasAny() const { return !klIsNullRect(GetUnion()); }

kltRECT_s CKLF_StatePictures::GetUnion() const {
  kltRECT_s u = klNullRect;
  for (const CKLF_CtrlPicture& p : m_pictures)
    if (p.IsPresent()) u = KLF_UnionRect(u, p.GetRect());
  return u;
}

const CKLF_CtrlPicture* CKLF_StatePictures::Pick(u8 state, u8& dimmed) const {
  // Pictures: 0 normal, 1 highlighted, 2 pressed, 3 disabled.
  static const i8 kChains[4][3] = {{0, -1, -1}, {1, 0, -1}, {2, 1, 0}, {3, 0, -1}};
  const u8 look = state == 2 ? 1 : state == 4 ? 2 : state == 8 ? 3 : 0;
  dimmed = 0;
  for (i8 p : kChains[look]) {
    if (p < 0) break;
    if (!m_pictures[p].IsPresent()) continue;
    dimmed = look == 3 && p != 3;
    return &m_pictures[p];
  }
  return nullptr;
}

kltRECT_s KLF_UnionRect(kltRECT_s a, kltRECT_s b) {
  if (klIsNullRect(a)) return b;
  if (klIsNullRect(b)) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}
