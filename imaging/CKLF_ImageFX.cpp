// Descriptors, common checks and buffers of the effect engine. The effects
// themselves live in CKLF_ImageFX_*.cpp.
#include "CKLF_ImageFX.h"

#include <cstring>

#include "CKLF_Image.h"

CKLF_ImageFX::CKLF_ImageFX() : m_fillValue(0), m_threads(1), m_progress(nullptr) {
  std::memset(&m_src, 0, sizeof(m_src));
  std::memset(&m_dst, 0, sizeof(m_dst));
}

CKLF_ImageFX::~CKLF_ImageFX() {}

void CKLF_ImageFX::i_SetDesc(Desc& d, u8** planes, u32 stride, u8 count, u8 hasAlpha, u16 width, u16 height) {
  for (u32 k = 0; k < 5; ++k) d.planes[k] = (planes && k < count) ? planes[k] : nullptr;
  d.stride = stride;
  d.width = width;
  d.height = height;
  d.count = count;
  d.hasAlpha = hasAlpha ? 1 : 0;
}

u8 CKLF_ImageFX::i_SetDescBlock(Desc& d, u8* base, u32 stride, u8 count, u8 hasAlpha, u16 width, u16 height) {
  if (!base) return Fail(klErrBadArg);
  u8* planes[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
  const u64 planeBytes = static_cast<u64>(stride) * height;
  for (u32 k = 0; k < 5 && k < count; ++k) planes[k] = base + k * planeBytes;
  i_SetDesc(d, planes, stride, count, hasAlpha, width, height);
  return 1;
}

u8 CKLF_ImageFX::SetSource(u8** planes, u32 stride, u8 planeCount, u8 hasAlpha, u16 width, u16 height) {
  i_SetDesc(m_src, planes, stride, planeCount, hasAlpha, width, height);
  return 1;
}

u8 CKLF_ImageFX::SetDestination(u8** planes, u32 stride, u8 planeCount, u8 hasAlpha, u16 width, u16 height) {
  i_SetDesc(m_dst, planes, stride, planeCount, hasAlpha, width, height);
  return 1;
}

u8 CKLF_ImageFX::SetSource(u8* base, u32 stride, u8 planeCount, u8 hasAlpha, u16 width, u16 height) {
  return i_SetDescBlock(m_src, base, stride, planeCount, hasAlpha, width, height);
}

u8 CKLF_ImageFX::SetDestination(u8* base, u32 stride, u8 planeCount, u8 hasAlpha, u16 width, u16 height) {
  return i_SetDescBlock(m_dst, base, stride, planeCount, hasAlpha, width, height);
}

u8 CKLF_ImageFX::i_SetDescImage(Desc& d, CKLF_Image* image) {
  static const u8 kPlanes[7] = {0, 3, 4, 4, 5, 1, 2};
  const u8 mode = image ? image->GetImageMode() : 0;
  CKLF_Mem* block = image ? image->GetMemObj() : nullptr;
  if (!image || mode < 1 || mode > 6 || !block || !block->GetPtr()) return Fail(klErrBadArg);
  const u16 w = image->GetImageWidth(), h = image->GetImageHeight();
  const u8 count = kPlanes[mode];
  if (static_cast<u64>(w) * h * count > block->GetSize()) return Fail(klErrBadArg);
  return i_SetDescBlock(d, block->GetPtr(), w, count, mode == 2 || mode == 4, w, h);
}

u8 CKLF_ImageFX::SetSource(CKLF_Image* image) { return i_SetDescImage(m_src, image); }

u8 CKLF_ImageFX::SetDestination(CKLF_Image* image) { return i_SetDescImage(m_dst, image); }

u8 CKLF_ImageFX::GetDestination(u8** planes, u32& stride, u8& planeCount, u8& hasAlpha, i32& width,
                                i32& height) {
  if (planes)
    for (u32 k = 0; k < 5; ++k) planes[k] = m_dst.planes[k];
  stride = m_dst.stride;
  planeCount = m_dst.count;
  hasAlpha = m_dst.hasAlpha;
  width = static_cast<i32>(m_dst.width);
  height = static_cast<i32>(m_dst.height);
  return 1;
}

u8 CKLF_ImageFX::i_DescValid(const Desc& d) {
  if (d.count < 1 || d.count > 5) return 0;
  if (d.height > 1 && d.stride < d.width) return 0;
  for (u32 k = 0; k < d.count; ++k)
    if (!d.planes[k]) return 0;
  return 1;
}

u8 CKLF_ImageFX::i_CheckPair() {
  if (!i_DescValid(m_src) || !i_DescValid(m_dst) || m_src.count != m_dst.count || m_src.width != m_dst.width ||
      m_src.height != m_dst.height) {
    return Fail(klErrBadArg);
  }
  return 1;
}

void CKLF_ImageFX::i_CopyPlane(u8 p) {
  const u8* s = m_src.planes[p];
  u8* d = m_dst.planes[p];
  const u32 w = m_src.width < m_dst.width ? m_src.width : m_dst.width;
  const u32 h = m_src.height < m_dst.height ? m_src.height : m_dst.height;
  // Source and destination are different buffers or the same rows.
  i_RowBands(h, [&](u32 y) {
    std::memmove(d + static_cast<u64>(y) * m_dst.stride, s + static_cast<u64>(y) * m_src.stride, w);
  });
}

void CKLF_ImageFX::i_CopyAll() {
  for (u8 p = 0; p < m_src.count; ++p) i_CopyPlane(p);
}

u8* CKLF_ImageFX::i_Grow(CKLF_Mem& m, u64 n) {
  if (n == 0) n = 1;
  if (!klFits32(n)) return Fail(klErrNoMemory, nullptr);
  u8* p = m.Grow(static_cast<u32>(n));
  return p ? p : FailFrom(m, klErrNoMemory, nullptr);
}

void CKLF_ImageFX::i_ApplyTables(const u8* tables) {
  const u8 colours = i_ColourPlanes();
  for (u8 p = 0; p < colours; ++p) {
    const u8* t = tables + 256 * p;
    for (u32 y = 0; y < m_src.height; ++y) {
      const u8* s = m_src.planes[p] + static_cast<u64>(y) * m_src.stride;
      u8* d = m_dst.planes[p] + static_cast<u64>(y) * m_dst.stride;
      for (u32 x = 0; x < m_src.width; ++x) d[x] = t[s[x]];
    }
  }
  if (m_src.hasAlpha) i_CopyPlane(static_cast<u8>(m_src.count - 1));
}

u8 CKLF_ImageFX::i_ReportProgress(f64 percent) {
  if (!m_progress) return 1;
  if (percent > 100.0) percent = 100.0;
  if (percent < 0.0) percent = 0.0;
  m_progress->Progress(static_cast<u8>(percent), m_progress->GetUserDataPtr());
  return m_progress->IsCanceled() ? 0 : 1;
}

u8 CKLF_ImageFX::ConvertSourceToGray() {
  if (!i_DescValid(m_src) || i_ColourPlanes() != 3) return 0;
  for (u32 y = 0; y < m_src.height; ++y) {
    const u64 o = static_cast<u64>(y) * m_src.stride;
    u8* r = m_src.planes[0] + o;
    u8* g = m_src.planes[1] + o;
    u8* b = m_src.planes[2] + o;
    for (u32 x = 0; x < m_src.width; ++x) {
      const u8 v = static_cast<u8>((r[x] + g[x] + b[x]) / 3);
      r[x] = v;
      g[x] = v;
      b[x] = v;
    }
  }
  return 1;
}
