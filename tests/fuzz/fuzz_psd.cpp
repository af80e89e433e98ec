// Reads untrusted bytes as a PSD file: header, composite, layers and alpha
// channels. Every
// failure must carry a reader error code; every success must leave planes
// of the sizes it reports.
#include <cstdlib>

#include "CKLF_ImagePSD.h"

namespace {

bool ReaderCode(u16 e) { return e == klErrUnsupported || e == klErrNotFormat || e == klErrNoMemory; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  const u32 n = static_cast<u32>(size);
  CKLF_ImagePSD psd;
  if (!psd.GetImageInfoByPtr(data, n)) {
    if (!ReaderCode(psd.GetError())) abort();
    return 0;
  }
  u16 w = 0, h = 0;
  if (!psd.GetMainImageSize(w, h)) abort();
  if (psd.ParseImageByPtr(data, n)) {
    const i32 channels = psd.GetImageMode() == 1 ? 3 : (psd.GetImageMode() == 2 ? 1 : 4);
    for (i32 c = 0; c < channels; ++c) {
      CKLF_Mem* m = psd.GetImageDataMem(c);
      if (!m || m->GetSize() != static_cast<u32>(w) * h) abort();
    }
  } else if (!ReaderCode(psd.GetError())) {
    abort();
  }
  if (psd.LParseByPtr(data, n)) {
    for (u32 i = 0; i < psd.GetLayersCount(); ++i) {
      CKLF_ImagePSD::PSDLayerInfoExt_s info{};
      if (!psd.GetLayerInfo(i, info) || info.width < 0 || info.height < 0) abort();
      for (CKLF_Mem* m : info.planes)
        if (m && m->GetSize() != static_cast<u32>(info.width) * static_cast<u32>(info.height)) abort();
    }
  } else if (!ReaderCode(psd.GetError())) {
    abort();
  }
  if (psd.ParseAlphaChannelsByPtr(data, n)) {
    for (u32 i = 0; i < psd.GetAlphaChannelCount(); ++i)
      if (!psd.GetAlphaChannel(i) || !psd.GetAlphaChannelName(i)) abort();
  } else if (!ReaderCode(psd.GetError()) || psd.GetAlphaChannelCount() != 0) {
    abort();
  }
  return 0;
}
