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

namespace {

// Steps 2 and 4 the compiler turns into vector packs as written.
template <u32 Step>
void TakeEvery(const u8* __restrict s, u8* __restrict dst, u32 n) {
  for (u32 x = 0; x < n; ++x) dst[x] = s[static_cast<u64>(x) * Step];
}

// Step 3 it leaves a byte at a time: eight gathered, then stored at once.
template <>
void TakeEvery<3>(const u8* __restrict s, u8* __restrict dst, u32 n) {
  u32 x = 0;
  for (; x + 8 <= n; x += 8, s += 24) {
    u8 eight[8];
    for (u32 i = 0; i < 8; ++i) eight[i] = s[3 * i];
    std::memcpy(dst + x, eight, sizeof(eight));
  }
  for (; x < n; ++x, s += 3) dst[x] = *s;
}

}  // namespace

void CKLF_ImageFormat::i_TakeChannel(const u8* samples, u32 step, u8* plane, u32 count) {
  switch (step) {
    case 1: return static_cast<void>(std::memcpy(plane, samples, count));
    case 2: return TakeEvery<2>(samples, plane, count);
    case 3: return TakeEvery<3>(samples, plane, count);
    default: return TakeEvery<4>(samples, plane, count);
  }
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
