// Reads untrusted bytes as a PNG file. Every failure must carry a reader
// error code; a success leaves the planes of its mode, alpha included.
// Read again on two threads, it gives the same answer and planes.
// A file read as sound (nothing left out) must be one a strict libpng
// decode reads too, pixel for pixel and up to its end (what follows the
// image data judged): every warning, benign error and CRC
// error of libpng's an error, over the chunks the reader uses (the others
// ignored but for their CRC and type, whatever their length), the profile
// not compared with known sRGB profiles (a known one that libpng keeps is
// read as it is).
// The mutator recomputes every chunk's checksum after libFuzzer's change
// (FuzzPngChunks.h).
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "CKLF_ImagePNG.h"
#include "FuzzPngChunks.h"

namespace {

bool ReaderCode(u16 e) { return e == klErrUnsupported || e == klErrNotFormat || e == klErrNoMemory; }

// Larger images are valid but only slow the search down.
const u64 kMaxFuzzPixels = 1u << 22;

struct Source {
  const uint8_t* data;
  size_t size, pos;
};

void StrictRead(png_structp png, png_bytep out, size_t n) {
  Source* s = static_cast<Source*>(png_get_io_ptr(png));
  if (n > s->size - s->pos) png_error(png, "data ends early");
  std::memcpy(out, s->data + s->pos, n);
  s->pos += n;
}

void StrictError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void StrictWarning(png_structp png, png_const_charp message) { png_error(png, message); }

// The file decoded strictly into planes as the reader's: colour planes,
// then the alpha (255 without one). False when libpng finds any fault.
bool StrictDecode(const uint8_t* data, size_t size, std::vector<std::vector<u8>>& planes) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, StrictError, StrictWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  png_infop end = info ? png_create_info_struct(png) : nullptr;  // what follows the image data is judged
  if (!end) abort();
  Source src = {data, size, 0};
  std::vector<u8>* image = new std::vector<u8>();  // outlives a jump
  std::vector<png_bytep>* rows = new std::vector<png_bytep>();
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, &end);
    delete image;
    delete rows;
    return false;
  }
  png_set_read_fn(png, &src, StrictRead);
  png_set_benign_errors(png, 0);
  png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
  png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
  png_set_chunk_malloc_max(png, 0);  // chunks the reader steps over may be of any length
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  static const png_byte kUsed[] = "pHYs\0iCCP";
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kUsed, 2);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_scale_16(png);
  (void)png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  const size_t channels = png_get_channels(png, info), colours = channels >= 3 ? 3 : 1;
  image->resize(w * h * channels);
  rows->resize(h);
  for (size_t y = 0; y < h; ++y) (*rows)[y] = image->data() + y * w * channels;
  png_read_image(png, rows->data());
  png_read_end(png, end);
  png_destroy_read_struct(&png, &info, &end);
  planes.assign(colours + 1, std::vector<u8>(w * h, 255));
  for (size_t c = 0; c < channels; ++c)
    for (size_t i = 0; i < w * h; ++i) planes[c][i] = (*image)[i * channels + c];
  delete image;
  delete rows;
  return true;
}

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
  const i32 last = png.GetImageMode() == 2 ? 0 : 2;
  if (ok) {
    for (i32 c = -1; c <= last; ++c) {
      CKLF_Mem* m = png.GetImageDataMem(c);
      if (!m || m->GetSize() != static_cast<u32>(w) * h) abort();
    }
  } else if (!ReaderCode(png.GetError())) {
    abort();
  }
  // Read as sound: as strict libpng reads it.
  if (ok && !png.LeftOutCount() && !png.ProfileDropped() && !png.ProfileUnreadable()) {
    std::vector<std::vector<u8>> strict;
    if (!StrictDecode(data, size, strict) || strict.size() != static_cast<size_t>(last) + 2) abort();
    for (i32 c = -1; c <= last; ++c)
      if (std::memcmp(png.GetImageDataPtr(c), strict[c < 0 ? last + 1 : c].data(), static_cast<size_t>(w) * h) != 0)
        abort();
  }
  // Read on two threads (bands side by side where the data is in bands):
  // the same answer and the same planes.
  CKLF_ImagePNG two;
  two.SetThreads(2);
  if (two.ParseImageByPtr(data, n) != ok || (!ok && two.GetError() != png.GetError())) abort();
  for (i32 c = -1; ok && c <= last; ++c)
    if (std::memcmp(png.GetImageDataPtr(c), two.GetImageDataPtr(c), static_cast<size_t>(w) * h) != 0) abort();
  return 0;
}
