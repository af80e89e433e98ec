#include "CKLF_ImagePNG.h"

#include <png.h>

#include <cstring>

#include "CKLF_StdFile.h"

// libpng reports errors by longjmp back to the setjmp in the function that
// drives it. Those functions and every callback below keep only plain
// locals, so no destructor is skipped by a jump.

namespace {

struct MemorySource {
  const u8* data;
  u32 size;
  u32 pos;
};

// Deflate expands at most about 1032 times; data that could not hold the
// image it declares is refused before any allocation.
const u64 kMaxInflateRatio = 1100;

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void PngWarning(png_structp, png_const_charp) {}

}  // namespace

void KLF_IMAGEFORMAT_PNG_Writer_Write(png_structp png, png_bytep data, size_t size) {
  CKLF_ImageWriter* writer = static_cast<CKLF_ImageWriter*>(png_get_io_ptr(png));
  if (!klFits32(size) || !writer->Write_Buffer(data, static_cast<u32>(size))) png_error(png, "write failed");
}

void KLF_IMAGEFORMAT_PNG_Writer_Flush(png_structp png) {
  CKLF_ImageWriter* writer = static_cast<CKLF_ImageWriter*>(png_get_io_ptr(png));
  writer->Write_Flush();
}

// Copies the next n bytes; data that ends early is a libpng error rather
// than bytes the decoder never had.
void KLF_IMAGEFORMAT_PNG_Reader(png_structp png, png_bytep out, size_t n) {
  MemorySource* src = static_cast<MemorySource*>(png_get_io_ptr(png));
  size_t left = src->size - src->pos;
  size_t k = n < left ? n : left;
  std::memcpy(out, src->data + src->pos, k);
  src->pos += static_cast<u32>(k);
  if (k < n) png_error(png, "data ends early");
}

CKLF_ImagePNG::CKLF_ImagePNG() {}

CKLF_ImagePNG::~CKLF_ImagePNG() {}

u8 CKLF_ImagePNG::WritePNG(const PNGWRITE_PARAMS* params) {
  ResetError();
  if (!params || !m_file) {
    SetError(klErrBadArg);
    return 0;
  }
  if (params->mode != kWriteRGBA && params->mode != kWriteGreyAlpha) {
    SetError(klErrUnsupported);
    return 0;
  }
  const u32 needed = params->mode == kWriteRGBA ? 4 : 2;
  if (params->width == 0 || params->height == 0 || params->stride < params->width) {
    SetError(klErrBadArg);
    return 0;
  }
  for (u32 c = 0; c < needed; ++c)
    if (!params->planes[c]) {
      SetError(klErrBadArg);
      return 0;
    }
  if (i_Canceled(1)) return 0;
  const u32 rowBytes = needed * params->width;
  if (m_work.GetSize() < rowBytes && !m_work.alloc(rowBytes)) {
    SetError(m_work.GetError() ? m_work.GetError() : static_cast<u16>(klErrNoMemory));
    return 0;
  }

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    SetError(klErrNoMemory);
    return 0;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    // A failed write has left the file's code already.
    if (!GetError()) SetError(klErrNoMemory);
    return 0;
  }
  if (i_Canceled(2)) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  const u32 channels = params->mode == kWriteRGBA ? 4 : 2;
  png_set_write_fn(png, static_cast<CKLF_ImageWriter*>(this), KLF_IMAGEFORMAT_PNG_Writer_Write,
                   KLF_IMAGEFORMAT_PNG_Writer_Flush);
  png_set_IHDR(png, info, params->width, params->height, 8,
               params->mode == kWriteRGBA ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_GRAY_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_text texts[2];
  std::memset(texts, 0, sizeof(texts));
  texts[0].compression = PNG_TEXT_COMPRESSION_NONE;
  texts[0].key = const_cast<char*>("Generator");
  texts[0].text = const_cast<char*>("Kelvanos FrameWork");
  texts[1].compression = PNG_TEXT_COMPRESSION_NONE;
  texts[1].key = const_cast<char*>("Product");
  texts[1].text = const_cast<char*>(params->product ? params->product : "");
  png_set_text(png, info, texts, 2);
  f64 ppm = params->resolution * 100.0 / static_cast<f64>(2.54f);
  png_uint_32 perMetre = !(ppm > 0) ? 0 : (ppm >= 2147483647.0 ? 2147483647u : static_cast<png_uint_32>(ppm));
  png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  if (i_Canceled(10) || i_Canceled(12)) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  u8* row = m_work.GetPtr();
  for (u32 y = 0; y < params->height; ++y) {
    const u64 offset = static_cast<u64>(y) * params->stride;
    for (u32 c = 0; c < channels; ++c) {
      const u8* src = params->planes[c] + offset;
      u8* dst = row + c;
      for (u32 x = 0; x < params->width; ++x, dst += channels) *dst = src[x];
    }
    png_write_row(png, row);
    if (i_Canceled(12 + 83 * (y + 1) / params->height)) {
      png_destroy_write_struct(&png, &info);
      return 0;
    }
  }
  if (i_Canceled(95)) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  // Buffered bytes that cannot be written must not pass for a file.
  if (!Write_Flush()) return 0;
  if (i_Canceled(98) || i_Canceled(100)) return 0;
  return 1;
}

u8 CKLF_ImagePNG::GetImageInfoByPtr(const void* data, u32 size) { return i_Read(static_cast<const u8*>(data), size, 0); }

u8 CKLF_ImagePNG::ParseImageByPtr(const void* data, u32 size) { return i_Read(static_cast<const u8*>(data), size, 1); }

u8 CKLF_ImagePNG::i_Read(const u8* data, u32 size, u8 decode) {
  ResetError();
  if (!data || size < 4 || png_sig_cmp(data, 0, 4) != 0) {
    SetError(klErrNotFormat);
    return 0;
  }
  if (decode && i_Canceled(1)) return 0;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    SetError(klErrNoMemory);
    return 0;
  }
  MemorySource src = {data, size, 0};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    if (decode) i_FreePlanes();
    SetError(klErrNotFormat);
    return 0;
  }
  png_set_read_fn(png, &src, KLF_IMAGEFORMAT_PNG_Reader);
  if (decode && i_Canceled(2)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
  }
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int colourType = png_get_color_type(png, info);
  const int depth = png_get_bit_depth(png, info);
  if (width > 0xFFFF || height > 0xFFFF) {
    png_destroy_read_struct(&png, &info, nullptr);
    SetError(klErrUnsupported);
    return 0;
  }
  const u8 grey = colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA;
  m_width = static_cast<u16>(width);
  m_height = static_cast<u16>(height);
  m_bits = 8;
  m_mode = grey ? kModeGrey : kModeRGB;
  if (!decode) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 1;
  }

  // Refuse before allocating: planes beyond 32 bits, or data too short for
  // the pixels it declares.
  const u64 area = static_cast<u64>(width) * height;
  const u64 planeBytes = area * (grey ? 2 : 4);
  const u64 packedBytes = (static_cast<u64>(png_get_rowbytes(png, info))) * height;
  if (static_cast<u64>(size) * kMaxInflateRatio < packedBytes) {
    png_destroy_read_struct(&png, &info, nullptr);
    SetError(klErrNotFormat);
    return 0;
  }
  if (!klFits32(planeBytes)) {
    png_destroy_read_struct(&png, &info, nullptr);
    SetError(klErrNoMemory);
    return 0;
  }
  if (i_Canceled(5)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
  }

  i_FreePlanes();
  const i32 lastColour = grey ? 0 : 2;
  for (i32 c = -1; c <= lastColour; ++c) {
    CKLF_Mem* m = i_Plane(c);
    if (!m->alloc(static_cast<u32>(area))) {
      png_destroy_read_struct(&png, &info, nullptr);
      i_FreePlanes();
      SetError(m->GetError() ? m->GetError() : static_cast<u16>(klErrNoMemory));
      return 0;
    }
  }
  i_Plane(-1)->Set(static_cast<u8>(255));

  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_expand(png);
  if (grey && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const u32 channels = png_get_channels(png, info);
  const u32 rowBytes = static_cast<u32>(png_get_rowbytes(png, info));
  if (channels < 1 || channels > 4 || rowBytes != channels * width) png_error(png, "unexpected row layout");
  if (i_Canceled(10)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
  }

  // Interlaced files need the whole image between passes; others one row.
  const u64 workBytes = passes > 1 ? static_cast<u64>(rowBytes) * height : rowBytes;
  if (!klFits32(workBytes) || (m_work.GetSize() < workBytes && !m_work.alloc(static_cast<u32>(workBytes))) ||
      (passes > 1 && m_rows.GetSize() < height * sizeof(u8*) && !m_rows.alloc(height * sizeof(u8*)))) {
    png_destroy_read_struct(&png, &info, nullptr);
    i_FreePlanes();
    SetError(klErrNoMemory);
    return 0;
  }
  u8* work = m_work.GetPtr();
  u8* planes[4] = {i_Plane(0)->GetPtr(), i_Plane(1)->GetPtr(), i_Plane(2)->GetPtr(), i_Plane(-1)->GetPtr()};
  const u32 colours = grey ? 1 : 3;
  const u8 hasAlpha = channels == 2 || channels == 4;
  if (i_Canceled(20)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
  }

  const f64 totalRows = static_cast<f64>(passes) * height;
  f64 rowsDone = 0;
  if (passes > 1) {
    u8** rows = reinterpret_cast<u8**>(m_rows.GetPtr());
    for (u32 y = 0; y < height; ++y) rows[y] = work + static_cast<u64>(y) * rowBytes;
    for (int pass = 0; pass < passes; ++pass)
      for (u32 y = 0; y < height; ++y) {
        png_read_row(png, rows[y], nullptr);
        rowsDone += 1;
        if (i_Canceled(static_cast<u32>(20 + 70 * rowsDone / totalRows))) {
          png_destroy_read_struct(&png, &info, nullptr);
          return 0;
        }
      }
  }
  for (u32 y = 0; y < height; ++y) {
    const u8* row = work + (passes > 1 ? static_cast<u64>(y) * rowBytes : 0);
    if (passes == 1) {
      png_read_row(png, work, nullptr);
      rowsDone += 1;
    }
    const u64 offset = static_cast<u64>(y) * width;
    for (u32 c = 0; c < colours; ++c) {
      u8* dst = planes[c] + offset;
      const u8* s = row + c;
      for (u32 x = 0; x < width; ++x, s += channels) dst[x] = *s;
    }
    if (hasAlpha) {
      u8* dst = planes[3] + offset;
      const u8* s = row + colours;
      for (u32 x = 0; x < width; ++x, s += channels) dst[x] = *s;
    }
    u32 percent = passes > 1 ? 90 + 9 * (y + 1) / height : static_cast<u32>(20 + 79 * rowsDone / totalRows);
    if (i_Canceled(percent)) {
      png_destroy_read_struct(&png, &info, nullptr);
      return 0;
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  if (i_Canceled(100)) return 0;
  return 1;
}
