#include "CKLF_CtrlPicture.h"

#include <algorithm>

u8 CKLF_CtrlPicture::Load(CKLF_Storage* store, const CKLF_String& key) {
  Free();
  CKLF_UIResources res(store);
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

void CKLF_CtrlPicture::CopyTo(CKLF_Layer& layer) const {
  if (!m_data) {
    layer.Set(kltRGBA8{0, 0, 0, 0}, 15);
    return;
  }
  const kltPOS at = layer.GetPos();
  CKLF_UIResources::SetDataToImage(&layer, static_cast<i16>(m_rect.left - at.x), static_cast<i16>(m_rect.top - at.y),
                                   m_data, m_rect, 0, 0);
}

kltRECT_s KLF_UnionRect(kltRECT_s a, kltRECT_s b) {
  if (klIsNullRect(a)) return b;
  if (klIsNullRect(b)) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}
