// Reads untrusted bytes as a PNG file. Every failure must carry a reader
// error code; a success leaves the planes of its mode, alpha included.
// Read again on two threads, it gives the same answer and planes.
// The mutator recomputes every chunk's checksum after libFuzzer's change
// (FuzzPngChunks.h).
#include <cstdlib>
#include <cstring>

#include "CKLF_ImagePNG.h"
#include "FuzzPngChunks.h"

namespace {

bool ReaderCode(u16 e) { return e == klErrUnsupported || e == klErrNotFormat || e == klErrNoMemory; }

// Larger images are valid but only slow the search down.
const u64 kMaxFuzzPixels = 1u << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  const u32 n = static_cast<u32>(size);
  CKLF_ImagePNG png;
  if (!png.GetImageInfoByPtr(data, n)) {
    if (!ReaderCode(png.GetError())) abort();
    return 0;
  }
  u16 w = 0, h = 0;
  if (!png.GetMainImageSize(w, h)) abort();
  if (static_cast<u64>(w) * h > kMaxFuzzPixels) return 0;
  const u8 ok = png.ParseImageByPtr(data, n);
  if (ok) {
    const i32 last = png.GetImageMode() == 2 ? 0 : 2;
    for (i32 c = -1; c <= last; ++c) {
      CKLF_Mem* m = png.GetImageDataMem(c);
      if (!m || m->GetSize() != static_cast<u32>(w) * h) abort();
    }
  } else if (!ReaderCode(png.GetError())) {
    abort();
  }
  // Read on two threads (bands side by side where the data is in bands):
  // the same answer and the same planes.
  CKLF_ImagePNG two;
  two.SetThreads(2);
  if (two.ParseImageByPtr(data, n) != ok || (!ok && two.GetError() != png.GetError())) abort();
  for (i32 c = -1; ok && c <= (png.GetImageMode() == 2 ? 0 : 2); ++c)
    if (std::memcmp(png.GetImageDataPtr(c), two.GetImageDataPtr(c), static_cast<size_t>(w) * h) != 0) abort();
  return 0;
}
