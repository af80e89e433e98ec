// Plane transfers with the host, in horizontal bands of at most
// maxSpace / width rows.
#include <cstring>

#include "CKLF_8BFPluginVirtual.h"
#include "KLF_Parallel.h"

namespace {

enum { kRead = 0, kWrite = 1, kFill = 2, kMake = 3 };

KLP_Rect32 ToHost(const kltRECT_s& r) { return KLP_Rect32{r.left, r.top, r.right, r.bottom}; }

// Rows of a band moved as one task: about 256 KiB.
const i64 kTaskBytes = 1 << 18;

// The rows of one band between the host's buffer and the caller's.
struct BandMove {
  u8 mode, value;
  i64 width, top;
  u8* buffer;
  u32 rowBytes;
  const u8* src;
  u8* dst;
  i64 hostRowBytes;
  CKLF_8BFPluginVirtual::RowMaker make;
  void* user;
  void Rows(i64 r0, i64 r1) const {
    if (mode == kMake) {
      make(user, static_cast<u32>(top + r0), static_cast<u32>(r1 - r0), dst + r0 * hostRowBytes, hostRowBytes);
      return;
    }
    for (i64 r = r0; r < r1; ++r) {
      u8* mine = buffer ? buffer + static_cast<u64>(top + r) * rowBytes : nullptr;
      if (mode == kRead)
        std::memcpy(mine, src + r * hostRowBytes, static_cast<size_t>(width));
      else if (mode == kWrite)
        std::memcpy(dst + r * hostRowBytes, mine, static_cast<size_t>(width));
      else
        std::memset(dst + r * hostRowBytes, value, static_cast<size_t>(width));
    }
  }
  // 0, or the code of a row maker that threw.
  u16 Band(i64 rows, u32 threads) const {
    const i64 per = kTaskBytes / width > 0 ? kTaskBytes / width : 1;
    const u32 tasks = static_cast<u32>((rows + per - 1) / per);
    u16 error = 0;
    if (!KLF_Parallel::For(
            threads, tasks, [&](u32 t, u32) { Rows(t * per, t * per + per < rows ? t * per + per : rows); }, &error))
      return error;
    return 0;
  }
};

}  // namespace

u8 CKLF_8BFPluginVirtual::HostDoIt() {
  HostSetRetCode_NoError();
  if (!m_filterRecord || !m_filterRecord->advanceState) {
    HostSetRetCode_BadParam();
    return 0;
  }
  if (m_filterRecord->advanceState(m_filterRecord->hostContext) != 0) {
    HostSetRetCode_Cancel();
    return 0;
  }
  return 1;
}

u8 CKLF_8BFPluginVirtual::HostGetChanel(u8 plane, kltRECT_s rect, u8* buffer, u32 rowBytes) {
  return i_Transfer(plane, rect, buffer, rowBytes, kRead, 0, 0);
}

u8 CKLF_8BFPluginVirtual::HostGetAlphaChanel(u8 plane, kltRECT_s rect, u8* buffer, u32 rowBytes) {
  return i_Transfer(plane, rect, buffer, rowBytes, kRead, 0, 1);
}

u8 CKLF_8BFPluginVirtual::HostPutChanel(u8 plane, kltRECT_s rect, const u8* buffer, u32 rowBytes) {
  return i_Transfer(plane, rect, const_cast<u8*>(buffer), rowBytes, kWrite, 0, 0);
}

u8 CKLF_8BFPluginVirtual::HostPutChanel(u8 plane, kltRECT_s rect, u8 value) {
  return i_Transfer(plane, rect, nullptr, 0, kFill, value, 0);
}

u8 CKLF_8BFPluginVirtual::HostPutChanelRows(u8 plane, kltRECT_s rect, RowMaker make, void* user) {
  if (!make) return Fail(klErrBadArg);
  return i_Transfer(plane, rect, nullptr, 0, kMake, 0, 0, make, user);
}

u8 CKLF_8BFPluginVirtual::i_Transfer(u8 plane, const kltRECT_s& rect, u8* buffer, u32 rowBytes, u8 mode, u8 value,
                                     u8 absolute, RowMaker make, void* user) {
  ResetError();
  HostSetRetCode_NoError();
  KLP_FilterRecord* fr = m_filterRecord;
  if (!fr) return Fail(klErrBadArg);
  EmptyRects();
  if (mode == kRead) fr->wantsAbsolute = 0;
  const bool mask = (mode == kRead && plane == 255 && !absolute);
  if (absolute) {
    if (!fr->supportsAbsolute) return Fail(klErrBadArg);
    fr->wantsAbsolute = 1;
  }
  if (fr->maxSpace <= 0) {
    HostSetRetCode_BadParam();
    return 0;
  }
  i64 width = static_cast<i64>(rect.right) - rect.left;
  i64 height = static_cast<i64>(rect.bottom) - rect.top;
  // The plane 255 only exists for reading; a buffer must hold a row.
  if (width <= 0 || height <= 0 || ((mode == kRead || mode == kWrite) && (!buffer || rowBytes < width)) ||
      (mode != kRead && plane == 255)) {
    return Fail(klErrBadArg);
  }
  i64 band = fr->maxSpace / width;
  if (band > height) band = height;
  if (band <= 0) {
    HostSetRetCode_BadParam();
    return Fail(klErrBadArg);
  }

  for (i64 top = 0; top < height; top += band) {
    i64 rows = height - top < band ? height - top : band;
    kltRECT_s b = {rect.left, static_cast<i32>(rect.top + top), rect.right, static_cast<i32>(rect.top + top + rows)};
    if (mode == kRead) {
      fr->inLoPlane = fr->inHiPlane = plane;
      if (mask)
        fr->maskRect = ToHost(b);
      else
        fr->inRect = ToHost(b);
    } else {
      fr->outLoPlane = fr->outHiPlane = plane;
      fr->outRect = ToHost(b);
    }
    if (!HostDoIt()) {
      EmptyRects();
      return 0;
    }
    const u8* src = nullptr;
    u8* dst = nullptr;
    i64 hostRowBytes = 0;
    if (mode == kRead) {
      src = static_cast<const u8*>(mask ? fr->maskData : fr->inData);
      hostRowBytes = mask ? fr->maskRowBytes : fr->inRowBytes;
    } else {
      dst = static_cast<u8*>(fr->outData);
      hostRowBytes = fr->outRowBytes;
    }
    if ((!src && !dst) || hostRowBytes < width) {
      HostSetRetCode_BadParam();
      EmptyRects();
      return 0;
    }
    const BandMove move = {mode, value, width, top, buffer, rowBytes, src, dst, hostRowBytes, make, user};
    if (const u16 error = move.Band(rows, m_pluginData.threads)) {
      EmptyRects();
      return Fail(error);
    }
  }
  EmptyRects();
  return 1;
}
