#include "CKLF_ImageFormat.h"

#include <cstring>

CKLF_ImageFormat::CKLF_ImageFormat()
    : m_progress(nullptr), m_width(0), m_height(0), m_mode(0), m_bits(0), m_resolution(0), m_verticalResolution(0) {}

CKLF_ImageFormat::~CKLF_ImageFormat() {}

u8 CKLF_ImageFormat::GetMainImageSize(u16& width, u16& height) {
  width = m_width;
  height = m_height;
  return 1;
}

u8 CKLF_ImageFormat::GetImageMode() { return m_mode; }

u8 CKLF_ImageFormat::GetImageBPP() { return m_bits; }

CKLF_Mem* CKLF_ImageFormat::GetImageDataMem(i32 channel) {
  if (channel < -1 || channel > 3) return nullptr;
  CKLF_Mem* m = i_Plane(channel);
  return m->GetPtr() ? m : nullptr;
}

u8* CKLF_ImageFormat::GetImageDataPtr(i32 channel) {
  CKLF_Mem* m = GetImageDataMem(channel);
  return m ? m->GetPtr() : nullptr;
}

CKLF_String CKLF_ImageFormat::GetComments() { return m_comments; }

CKLF_String CKLF_ImageFormat::GetEXIF() { return m_exif; }

u8 CKLF_ImageFormat::i_Canceled(u32 percent) {
  if (!m_progress) return 0;
  if (m_progress->IsCanceled()) return 1;
  m_progress->Progress(static_cast<u8>(percent > 100 ? 100 : percent), nullptr);
  return 0;
}

CKLF_Mem* CKLF_ImageFormat::i_Plane(i32 channel) { return &m_planes[channel + 1]; }

void CKLF_ImageFormat::i_FreePlanes() {
  for (CKLF_Mem& m : m_planes) m.free();
}

u8 CKLF_ImageFormat::i_AllocPlanes(i32 first, i32 last, u32 area) {
  i_FreePlanes();
  for (i32 c = first; c <= last; ++c)
    if (!i_Plane(c)->alloc(area)) {
      i_FreePlanes();
      return Fail(klErrNoMemory);
    }
  return 1;
}

void CKLF_ImageFormat::i_ClearExtras() {
  m_resolution = 0;
  m_verticalResolution = 0;
  m_icc.free();
}

u8 CKLF_ImageFormat::i_SetICCProfile(const u8* data, u32 size) {
  if (!size) return 1;
  if (!m_icc.alloc(size)) return FailFrom(m_icc, klErrNoMemory);
  std::memcpy(m_icc.GetPtr(), data, size);
  return 1;
}
