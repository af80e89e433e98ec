#include "CKLT_UIArt.h"

#include <algorithm>

#include "KLF_BigEndian.h"

CKLT_UIArt::CKLT_UIArt(kltRECT_s rect) : m_rect(rect) {
  const int w = std::max(1, rect.right - rect.left), h = std::max(1, rect.bottom - rect.top);
  m_surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  m_cr = cairo_create(m_surface);
}

CKLT_UIArt::~CKLT_UIArt() {
  cairo_destroy(m_cr);
  cairo_surface_destroy(m_surface);
}

kltRECT_s CKLT_UIArt::Local(kltRECT_s r) const {
  return {r.left - m_rect.left, r.top - m_rect.top, r.right - m_rect.left, r.bottom - m_rect.top};
}

void CKLT_UIArt::Fill(u8 r, u8 g, u8 b, u8 a) {
  cairo_save(m_cr);
  cairo_set_operator(m_cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgba(m_cr, r / 255.0, g / 255.0, b / 255.0, a / 255.0);
  cairo_paint(m_cr);
  cairo_restore(m_cr);
  if (a == 0) m_clear[0] = r, m_clear[1] = g, m_clear[2] = b;
}

void CKLT_UIArt::Poke(int x, int y, int plane, u8 v) {
  cairo_surface_flush(m_surface);
  u32* px = reinterpret_cast<u32*>(cairo_image_surface_get_data(m_surface) +
                                   y * cairo_image_surface_get_stride(m_surface)) + x;
  const int shift = plane == 3 ? 24 : 16 - 8 * plane;  // cairo words are 0xAARRGGBB
  *px = (*px & ~(0xFFu << shift)) | (static_cast<u32>(v) << shift);
  cairo_surface_mark_dirty(m_surface);
}

std::vector<u8> CKLT_UIArt::ImageRecord() {
  cairo_surface_flush(m_surface);
  const int w = W(), h = H(), stride = cairo_image_surface_get_stride(m_surface);
  const u8* data = cairo_image_surface_get_data(m_surface);
  std::vector<u8> out(8 + 4 * static_cast<size_t>(w) * h);
  KLF_PutBE16(&out[0], static_cast<u16>(m_rect.left));
  KLF_PutBE16(&out[2], static_cast<u16>(m_rect.top));
  KLF_PutBE16(&out[4], static_cast<u16>(m_rect.right));
  KLF_PutBE16(&out[6], static_cast<u16>(m_rect.bottom));
  const size_t plane = static_cast<size_t>(w) * h;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const u32 p = reinterpret_cast<const u32*>(data + y * stride)[x];
      const u32 a = p >> 24;
      const size_t i = 8 + static_cast<size_t>(y) * w + x;
      for (int c = 0; c < 3; ++c) {
        const u32 v = (p >> (16 - 8 * c)) & 255;  // premultiplied
        out[i + c * plane] = static_cast<u8>(a ? std::min<u32>(255, (v * 255 + a / 2) / a) : m_clear[c]);
      }
      out[i + 3 * plane] = static_cast<u8>(a);
    }
  return out;
}

std::vector<u8> CKLT_UIArt::MaskRecord() {
  std::vector<u8> img = ImageRecord();
  const size_t plane = (img.size() - 8) / 4;
  std::vector<u8> out(8 + plane);
  std::copy(img.begin(), img.begin() + 8, out.begin());
  std::copy(img.begin() + 8 + 3 * plane, img.end(), out.begin() + 8);
  return out;
}
