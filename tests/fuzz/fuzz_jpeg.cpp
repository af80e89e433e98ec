// Decodes untrusted bytes as JPEG data from memory. Every failure must carry
// a reader error code; a success leaves one plane per colour channel and no
// alpha. Truncated data must end (the run's timeout catches a loop).
#include <cstdlib>

#include "CKLF_ImageJPEG.h"

namespace {

bool ReaderCode(u16 e) { return e == klErrUnsupported || e == klErrNotFormat || e == klErrNoMemory; }

// Larger images are valid but only slow the search down.
const u64 kMaxFuzzPixels = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  const u32 n = static_cast<u32>(size);
  CKLF_ImageJPEG jpeg;
  if (!jpeg.GetImageInfoByPtr(data, n)) {
    if (!ReaderCode(jpeg.GetError())) abort();
    return 0;
  }
  u16 w = 0, h = 0;
  if (!jpeg.GetMainImageSize(w, h)) abort();
  if (static_cast<u64>(w) * h > kMaxFuzzPixels) return 0;
  if (jpeg.ParseImageByPtr(data, n)) {
    const i32 channels = jpeg.GetImageMode() == 1 ? 3 : (jpeg.GetImageMode() == 2 ? 1 : 4);
    if (!jpeg.GetMainImageSize(w, h)) abort();
    for (i32 c = 0; c < channels; ++c) {
      CKLF_Mem* m = jpeg.GetImageDataMem(c);
      if (!m || m->GetSize() != static_cast<u32>(w) * h) abort();
    }
    if (jpeg.GetImageDataMem(-1)) abort();
  } else if (!ReaderCode(jpeg.GetError())) {
    abort();
  }
  return 0;
}
