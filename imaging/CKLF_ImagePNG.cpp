#include "CKLF_ImagePNG.h"

#include <libdeflate.h>
#include <png.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CKLF_PNGDecoder.h"
#include "CKLF_PNGEncoder.h"
#include "CKLF_StdFile.h"
#include "KLF_BigEndian.h"
#include "KLF_Parallel.h"

// libpng reports errors by longjmp back to the setjmp in the function that
// drives it. Those functions and every callback below keep only plain
// locals, so no destructor is skipped by a jump.

namespace {

struct MemorySource {
  const u8* data;
  u32 size;
  u32 pos;
  u32 next;            // where the next chunk's header starts
  u8 profileDropped;   // a colour profile beyond the chunk limit was stepped over
  u8 profileSeen;      // one was handed to libpng
  u8 inImageData;      // the chunk handed last was image data
  u8 rowsRead;         // every row is read: what follows is the end
  u8 imageDataEnded;   // a chunk other than image data followed it
  u8 palette;          // a PLTE came before the image data
  CKLF_ImagePNG* reader;
  void (*leaveOut)(CKLF_ImagePNG* reader, const char* why);  // a chunk stepped over is damaged
};

// The chunks libpng is handed, image data apart, are held whole by it: up
// to this size. Image data streams through, bounded by the image size.
const u32 kChunkLimit = 8u << 20;
const u32 kIHDR = 0x49484452;  // "IHDR"
const u32 kIDAT = 0x49444154;  // "IDAT"
const u32 kIEND = 0x49454E44;  // "IEND"
const u32 kPLTE = 0x504C5445;  // "PLTE"
const u32 kiCCP = 0x69434350;  // "iCCP"
const u32 kpHYs = 0x70485973;  // "pHYs"
const u32 ktRNS = 0x74524E53;  // "tRNS"
const u32 keXIf = 0x65584966;  // "eXIf"
const u32 kAncillary = 0x20000000;  // the first letter in lower case
const u32 kSignatureBytes = 8;

// Deflate yields at most 1032 bytes a byte: no symbol takes less than a
// bit, a literal gives one byte, and a match (length and distance codes,
// a bit each at least) at most 258 bytes for two bits.
const u64 kMaxInflateRatio = 1032;

const u32 kChunkBytes = 1u << 20;

// Planes are made as soon as the first rows decode when they take at most
// this, and a few KiB a byte of image data beyond it; a file whose planes
// outweigh its data is first read through without them.
const u64 kFreePlaneBytes = 64ull << 20;
const u64 kPlaneBytesPerDataByte = 2048;

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// While writing, the first warning (a profile left out) is kept in the
// error pointer's 96 bytes.
void KeepFirstWarning(png_structp png, png_const_charp message) {
  char* kept = static_cast<char*>(png_get_error_ptr(png));
  if (kept && !kept[0] && message) std::snprintf(kept, 96, "%s", message);
}

const size_t kBlockHead = 16;  // keeps the blocks' alignment

}  // namespace

// libpng's own allocations while reading, counted so that the most it held
// at once is known. Each block carries its size in front.
void* CKLF_ImagePNG::i_LibraryAlloc(png_struct* png, size_t n) {
  CKLF_ImagePNG* self = static_cast<CKLF_ImagePNG*>(png_get_mem_ptr(png));
  u8* block = n > SIZE_MAX - kBlockHead ? nullptr : static_cast<u8*>(std::malloc(n + kBlockHead));
  if (!block) return self->m_libraryFailed = 1, nullptr;
  std::memcpy(block, &n, sizeof(n));
  self->m_libraryHeld += n;
  if (self->m_libraryHeld > self->m_libraryPeak) self->m_libraryPeak = self->m_libraryHeld;
  return block + kBlockHead;
}

void CKLF_ImagePNG::i_LibraryFree(png_struct* png, void* p) {
  if (!p) return;
  CKLF_ImagePNG* self = static_cast<CKLF_ImagePNG*>(png_get_mem_ptr(png));
  u8* block = static_cast<u8*>(p) - kBlockHead;
  size_t n = 0;
  std::memcpy(&n, block, sizeof(n));
  self->m_libraryHeld -= n;
  std::free(block);
}

namespace {

// Critical chunks, and of the others those the reader uses (transparency,
// resolution, profile) within the chunk limit: libpng would ignore the
// first two as damaged beyond it, and the profile is left out.
u8 ForLibrary(u32 type, u32 length) {
  if (!(type & kAncillary)) return 1;
  return (type == ktRNS || type == kpHYs || type == kiCCP) && length <= kChunkLimit;
}

// The CRC of the whole chunk at chunk (its length field) holds.
inline u8 CrcHolds(const u8* chunk, u32 length) {
  return libdeflate_crc32(0, chunk + 4, static_cast<size_t>(length) + 4) == KLF_GetBE32(chunk + 8 + length);
}

// A chunk type of four letters, as libpng wants every chunk's.
u8 LetterType(const u8* type) {
  for (int i = 0; i < 4; ++i)
    if (!((type[i] | 0x20) >= 'a' && (type[i] | 0x20) <= 'z')) return 0;
  return 1;
}

// Why the chunk header at p is unsound as libpng would say it (not all
// there, the chunk longer than the data, a type not of letters), or null.
const char* HeaderFault(const u8* data, u32 size, u32 p) {
  if (p > size || size - p < 12) return "data ends early";
  if (KLF_GetBE32(data + p) > size - p - 12) return "chunk longer than the data left";
  return LetterType(data + p + 4) ? nullptr : "invalid chunk type";
}

// The ancillary chunks libpng knows that must come before the image data.
u8 BeforeImageData(const u8* type) {
  static const char kTypes[] = "cHRMgAMAiCCPsBITsRGBbKGDhISTpHYssPLToFFspCALsCALtRNS";
  for (u32 i = 0; i + 4 < sizeof(kTypes); i += 4)
    if (std::memcmp(type, kTypes + i, 4) == 0) return 1;
  return 0;
}

enum Verdict : u8 { kInPlace, kLeftOut, kRefused };

// A whole chunk after the image data (at, its type of letters) judged as
// libpng judges it once the rows are read, with its reason in why: a
// critical chunk too large, damaged or out of place (IHDR, image data after
// another chunk, a second palette, one libpng does not know) refuses the
// file; an ancillary chunk whose CRC fails or that belongs before the image
// data, or a palette the image has none of, is left out.
Verdict AfterImageData(const u8* at, u32 length, u8 palette, char (&why)[40]) {
  const u32 type = KLF_GetBE32(at + 4);
  const u8 critical = !(type & kAncillary);
  if (critical && type != kIDAT && length > kChunkLimit) {
    std::snprintf(why, sizeof(why), "chunk too large");
    return kRefused;
  }
  const char* says = nullptr;
  if (type == kIHDR) says = "out of place";
  else if (!CrcHolds(at, length)) says = "CRC error";
  else if (type == kIDAT) says = "Too many IDATs found";
  else if (type == kPLTE) says = palette ? "duplicate" : "out of place";
  else if (critical && type != kIEND) says = "unhandled critical chunk";
  else if (BeforeImageData(at + 4)) says = "out of place";
  if (!says) return kInPlace;
  std::snprintf(why, sizeof(why), "%.4s: %s", reinterpret_cast<const char*>(at + 4), says);
  return critical && !(type == kPLTE && !palette) ? kRefused : kLeftOut;
}

// At a chunk's start, before libpng sees its length and allocates for it:
// every chunk must lie whole within the data; those not for libpng are
// stepped over unread but for their CRC, whatever their length (one that
// fails is left out); one for libpng must be within the chunk limit unless
// it is image data. Image data ends at the first other chunk: one met
// while rows are still wanted ends them, as libpng ends them. What follows
// it is judged here, as the reader's own decoder judges it; libpng, which
// ignores it, is handed only the end.
void NextChunk(png_structp png, MemorySource* src) {
  for (;;) {
    if (const char* fault = HeaderFault(src->data, src->size, src->pos)) png_error(png, fault);
    const u8* at = src->data + src->pos;
    const u32 length = KLF_GetBE32(at), type = KLF_GetBE32(at + 4);
    const u8 endsImageData = src->inImageData && type != kIDAT;
    src->inImageData = type == kIDAT;
    if (endsImageData && !src->rowsRead) png_error(png, "Not enough image data");
    if (endsImageData) src->imageDataEnded = 1;
    if (src->imageDataEnded) {
      char why[40];
      const Verdict verdict = AfterImageData(at, length, src->palette, why);
      if (verdict == kRefused) png_error(png, why);
      if (verdict == kLeftOut) src->leaveOut(src->reader, why);
      if (type == kIEND) {
        src->next = src->pos + 12 + length;
        return;
      }
      src->pos += 12 + length;
      continue;
    }
    if (ForLibrary(type, length)) {
      if (length > kChunkLimit && type != kIDAT) png_error(png, "chunk too large");
      src->next = src->pos + 12 + length;
      if (type == kiCCP) src->profileSeen = 1;
      if (type == kPLTE) src->palette = 1;
      return;
    }
    if (type == kiCCP) src->profileDropped = 1;
    if (!CrcHolds(at, length)) {
      char why[16];
      std::snprintf(why, sizeof(why), "%.4s: CRC error", reinterpret_cast<const char*>(at + 4));
      src->leaveOut(src->reader, why);
    }
    src->pos += 12 + length;
  }
}

// The image data bytes present from the chunk at p on: each IDAT chunk's
// data as far as the data holds it.
u64 ImageDataPresent(const u8* data, u32 size, u64 p) {
  u64 total = 0;
  while (p + 8 <= size) {
    const u32 length = KLF_GetBE32(data + p), type = KLF_GetBE32(data + p + 4);
    const u64 held = size - p - 8;
    if (type == kIDAT) total += length < held ? length : held;
    if (type == kIEND) break;
    p += 12 + static_cast<u64>(length);
  }
  return total;
}

// The first eXIf chunk of the file, wherever it lies, when its CRC holds
// (one that fails is left out with the other chunks stepped over): its
// data, or null. Only the chunks' headers are read, each within the data;
// the walk ends at IEND or at a chunk the data does not hold.
const u8* FindExif(const u8* data, u32 size, u32& length) {
  for (u64 p = kSignatureBytes; p + 12 <= size;) {
    const u32 n = KLF_GetBE32(data + p), type = KLF_GetBE32(data + p + 4);
    if (n > size - p - 12 || type == kIEND) return nullptr;
    if (type == keXIf) {
      if (!CrcHolds(data + p, n)) return nullptr;
      length = n;
      return data + p + 8;
    }
    p += 12 + static_cast<u64>(n);
  }
  return nullptr;
}

// Dots per inch of pixels a metre: writers round or cut dots per inch to
// whole dots per metre, so within one dot per metre of a whole number it
// was that number.
f64 DpiOf(u32 perMetre) {
  const f64 dpi = perMetre * 0.0254;
  return std::fabs(dpi - std::round(dpi)) < 0.0254 ? std::round(dpi) : dpi;
}

// Pixels a metre for pHYs: given, else made from dots per inch (2.54 as a
// float, as written before), held to the field's range.
png_uint_32 PerMetreOf(f64 dpi, u32 given) {
  if (given) return given < 2147483647u ? given : 2147483647u;
  const f64 ppm = dpi * 100.0 / static_cast<f64>(2.54f);
  return !(ppm > 0) ? 0 : (ppm >= 2147483647.0 ? 2147483647u : static_cast<png_uint_32>(ppm));
}

}  // namespace

void KLF_IMAGEFORMAT_PNG_Writer_Flush(png_structp png) {
  CKLF_ImagePNG* writer = static_cast<CKLF_ImagePNG*>(png_get_io_ptr(png));
  if (!writer->Write_Flush()) png_error(png, "flush failed");
}

// Copies the next n bytes; data that ends early is a libpng error rather
// than bytes the decoder never had.
void KLF_IMAGEFORMAT_PNG_Reader(png_structp png, png_bytep out, size_t n) {
  MemorySource* src = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (src->pos == src->next) NextChunk(png, src);
  size_t left = src->size - src->pos;
  size_t k = n < left ? n : left;
  std::memcpy(out, src->data + src->pos, k);
  src->pos += static_cast<u32>(k);
  if (k < n) png_error(png, "data ends early");
}

CKLF_ImagePNG::CKLF_ImagePNG()
    : m_sourceBits(0),
      m_perMetre(0),
      m_perMetreDown(0),
      m_exif(nullptr),
      m_exifSize(0),
      m_hasAlpha(0),
      m_dataCanHold(0),
      m_profileDropped(0),
      m_profileWhy{},
      m_profileWarning{},
      m_damage{},
      m_leftOut{},
      m_leftOutCount(0),
      m_target{nullptr, nullptr, nullptr, nullptr},
      m_targetWidth(0),
      m_targetHeight(0),
      m_source(nullptr),
      m_planesTaken(0),
      m_imageData(0),
      m_proving(0),
      m_proven(0),
      m_direct(0),
      m_declined(0),
      m_libraryHeld(0),
      m_libraryPeak(0),
      m_libraryFailed(0),
      m_compression(CKLF_PNGEncoder::DefaultSettings()),
      m_threads(1),
      m_placement(nullptr),
      m_placedWidth(0),
      m_placedHeight(0),
      m_systemError(0) {}

CKLF_ImagePNG::~CKLF_ImagePNG() {}

void CKLF_ImagePNG::i_PngWrite(png_struct* png, u8* data, size_t size) {
  CKLF_ImagePNG* self = static_cast<CKLF_ImagePNG*>(png_get_io_ptr(png));
  if (!klFits32(size) || !self->i_Put(data, static_cast<u32>(size))) png_error(png, "write failed");
}

// Any thread's write: a failure keeps the system's reason, which that
// thread alone holds.
u8 CKLF_ImagePNG::i_Put(const u8* data, u32 size) {
  errno = 0;
  if (Write_Buffer(data, size)) return 1;
  if (!m_systemError) m_systemError = errno;
  return 0;
}

namespace {

u32 ChannelsOf(u8 mode) {
  switch (mode) {
    case CKLF_ImagePNG::kWriteRGBA: return 4;
    case CKLF_ImagePNG::kWriteGreyAlpha: return 2;
    case CKLF_ImagePNG::kWriteRGB: return 3;
    case CKLF_ImagePNG::kWriteGrey: return 1;
    default: return 0;
  }
}

int ColourTypeOf(u8 mode) {
  switch (mode) {
    case CKLF_ImagePNG::kWriteRGBA: return PNG_COLOR_TYPE_RGB_ALPHA;
    case CKLF_ImagePNG::kWriteGreyAlpha: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case CKLF_ImagePNG::kWriteRGB: return PNG_COLOR_TYPE_RGB;
    default: return PNG_COLOR_TYPE_GRAY;
  }
}

}  // namespace

u8 CKLF_ImagePNG::WritePNGPlaced(const PNGWRITE_PARAMS* params, u16 canvasWidth, u16 canvasHeight, i32 x, i32 y,
                                 const u8* background) {
  ResetError();
  m_systemError = 0;
  if (!params || !background || canvasWidth == 0 || canvasHeight == 0 || params->stride < params->width)
    return Fail(klErrBadArg);
  const CKLF_PNGEncoder::Placement at = {canvasWidth, canvasHeight, x, y, background};
  PNGWRITE_PARAMS canvas = *params;
  canvas.width = canvasWidth;
  canvas.height = canvasHeight;
  canvas.stride = canvasWidth;
  m_placement = &at;
  m_placedWidth = params->width;
  m_placedHeight = params->height;
  const u8 ok = i_Write(canvas, params->stride);
  m_placement = nullptr;
  return ok ? 1 : i_SystemReason();
}

u8 CKLF_ImagePNG::WritePNG(const PNGWRITE_PARAMS* params) {
  ResetError();
  m_systemError = 0;
  if (!params || params->stride < params->width) return Fail(klErrBadArg);
  return i_Write(*params, params->stride) ? 1 : i_SystemReason();
}

u8 CKLF_ImagePNG::i_SystemReason() {
  if (m_systemError) errno = m_systemError;
  return 0;
}

// stride is the planes' own (a placed image's, not the canvas's).
u8 CKLF_ImagePNG::i_Write(const PNGWRITE_PARAMS& p, u32 stride) {
  const PNGWRITE_PARAMS* params = &p;
  if (!m_file) return Fail(klErrBadArg);
  const u32 channels = ChannelsOf(params->mode);
  if (!channels) return Fail(klErrUnsupported);
  if (params->width == 0 || params->height == 0) return Fail(klErrBadArg);
  for (u32 c = 0; c < channels; ++c)
    if (!params->planes[c]) return Fail(klErrBadArg);
  if (i_Canceled(1)) return 0;

  m_libraryFailed = 0;
  m_libraryHeld = m_libraryPeak = 0;
  m_profileWhy[0] = 0;
  m_profileWarning[0] = 0;
  png_structp png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, m_profileWarning, PngError, KeepFirstWarning,
                                              this, i_LibraryAlloc, i_LibraryFree);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return Fail(klErrNoMemory);
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    // A failed write has left the file's code already.
    return GetError() ? 0 : Fail(klErrNoMemory);
  }
  const u8 written = i_WriteImage(png, info, *params, channels, stride);
  png_destroy_write_struct(&png, &info);
  // Buffered bytes that cannot be written must not pass for a file.
  if (!written) return 0;
  errno = 0;
  if (!Write_Flush()) return m_systemError = errno, 0;
  if (i_Canceled(98) || i_Canceled(100)) return 0;
  return 1;
}

// Runs inside WritePNG's setjmp frame: plain locals only. 0 on a cancel.
u8 CKLF_ImagePNG::i_WriteImage(png_struct* png, png_info* info, const PNGWRITE_PARAMS& params, u32 channels,
                                u32 stride) {
  if (i_Canceled(2)) return 0;
  png_set_write_fn(png, this, i_PngWrite,
                   KLF_IMAGEFORMAT_PNG_Writer_Flush);
  png_set_IHDR(png, info, params.width, params.height, 8, ColourTypeOf(params.mode), PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_text texts[2];
  std::memset(texts, 0, sizeof(texts));
  texts[0].compression = PNG_TEXT_COMPRESSION_NONE;
  texts[0].key = const_cast<char*>("Generator");
  texts[0].text = const_cast<char*>("Kelvanos FrameWork");
  texts[1].compression = PNG_TEXT_COMPRESSION_NONE;
  texts[1].key = const_cast<char*>("Product");
  texts[1].text = const_cast<char*>(params.product ? params.product : "");
  png_set_text(png, info, texts, 2);
  const png_uint_32 across = PerMetreOf(params.resolution, params.pixelsPerMetre);
  const png_uint_32 down = params.verticalPixelsPerMetre || params.verticalResolution > 0
                               ? PerMetreOf(params.verticalResolution, params.verticalPixelsPerMetre)
                               : across;
  png_set_pHYs(png, info, across, down, PNG_RESOLUTION_METER);
  // A profile libpng finds unfit for the image is left out, not fatal,
  // and its reason kept; one it has no memory for ends the write.
  png_set_benign_errors(png, 1);
  if (params.icc && params.iccSize) {
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, params.icc, params.iccSize);
    if (m_libraryFailed) png_error(png, "out of memory");
    if (!png_get_valid(png, info, PNG_INFO_iCCP))
      std::snprintf(m_profileWhy, sizeof(m_profileWhy), "iCCP: %.89s",
                    m_profileWarning[0] ? m_profileWarning : "unfit");
  }
  png_write_info(png, info);
  if (i_Canceled(10) || i_Canceled(12)) return 0;
  // The image data and the end are written here, past libpng: no libpng
  // call (and so no jump) happens inside the encoder.
  return i_WriteImageData(params, channels, stride) && i_WriteChunk("IEND", nullptr, 0);
}

u8 CKLF_ImagePNG::i_WriteChunk(const char* type, const u8* data, u32 size) {
  u8 head[8];
  KLF_PutBE32(head, size);
  std::memcpy(head + 4, type, 4);
  u32 crc = libdeflate_crc32(0, head + 4, 4);
  if (size) crc = libdeflate_crc32(crc, data, size);
  u8 tail[4];
  KLF_PutBE32(tail, crc);
  return i_Put(head, 8) && (!size || i_Put(data, size)) && i_Put(tail, 4);
}

// The encoder's stream gathered into IDAT chunks of about 1 MiB.
u8 CKLF_ImagePNG::i_WriteImageData(const PNGWRITE_PARAMS& params, u32 channels, u32 stride) {
  struct Out {
    CKLF_ImagePNG* self;
    u32 pending;
    u32 height;
    static u8 Sink(void* user, const u8* data, u32 size) {
      Out* o = static_cast<Out*>(user);
      CKLF_Mem& buf = o->self->m_work;
      if (o->pending + static_cast<u64>(size) > buf.GetSize() && !o->Flush()) return 0;
      if (size >= buf.GetSize()) return o->self->i_WriteChunk("IDAT", data, size);
      std::memcpy(buf.GetPtr() + o->pending, data, size);
      o->pending += size;
      return 1;
    }
    u8 Flush() {
      const u32 n = pending;
      pending = 0;
      return !n || self->i_WriteChunk("IDAT", self->m_work.GetPtr(), n);
    }
    static u8 Poll(void* user, u32 rows) {
      Out* o = static_cast<Out*>(user);
      return o->self->i_Canceled(12 + 83 * rows / o->height) ? 0 : 1;
    }
  } out = {this, 0, params.height};
  if (m_work.GetSize() < kChunkBytes && !m_work.alloc(kChunkBytes)) return FailFrom(m_work, klErrNoMemory);
  const u8* planes[4] = {params.planes[0], params.planes[1], params.planes[2], params.planes[3]};
  CKLF_PNGEncoder encoder;
  const u8 encoded =
      m_placement ? encoder.EncodePlaced(planes, channels, m_placedWidth, m_placedHeight, stride, *m_placement,
                                         m_compression, m_threads, Out::Sink, Out::Poll, &out)
                  : encoder.Encode(planes, channels, params.width, params.height, stride, m_compression, m_threads,
                                   Out::Sink, Out::Poll, &out);
  if (!encoded) {
    // A cancel or a failed write has its code (or none) already.
    return GetError() || !encoder.GetError() ? 0 : Fail(encoder.GetError());
  }
  return out.Flush() && !i_Canceled(95);
}

u8 CKLF_ImagePNG::GetImageInfoByPtr(const void* data, u32 size) {
  return i_Read(static_cast<const u8*>(data), size, 0);
}

u8 CKLF_ImagePNG::ParseImageByPtr(const void* data, u32 size) {
  return i_Read(static_cast<const u8*>(data), size, 1);
}

u8 CKLF_ImagePNG::ParseImageInto(const void* data, u32 size, u8* const planes[4], u16 width, u16 height) {
  if (!planes || !planes[0]) return Fail(klErrBadArg);
  for (int c = 0; c < 4; ++c) m_target[c] = planes[c];
  m_targetWidth = width;
  m_targetHeight = height;
  const u8 ok = i_Read(static_cast<const u8*>(data), size, 1);
  for (u8*& t : m_target) t = nullptr;
  return ok;
}

u8 CKLF_ImagePNG::ParseImageInto(const void* data, u32 size, PlaneSource& source, u16 width, u16 height) {
  m_source = &source;
  m_targetWidth = width;
  m_targetHeight = height;
  const u8 ok = i_Read(static_cast<const u8*>(data), size, 1);
  m_source = nullptr;
  for (u8*& t : m_target) t = nullptr;
  return ok;
}

u8 CKLF_ImagePNG::i_Read(const u8* data, u32 size, u8 decode) {
  m_libraryHeld = 0;
  m_libraryPeak = 0;
  m_direct = decode;
  m_declined = 0;
  m_dataCanHold = 0;
  m_profileDropped = 0;
  m_planesTaken = 0;
  m_proven = 0;
  for (;;) {
    m_proving = 0;
    const u8 ok = i_ReadOnce(data, size, decode);
    // Read through without planes: now into them.
    if (ok && m_proving) {
      m_proven = 1;
      continue;
    }
    if (ok || !m_declined || !m_direct) return ok;
    // The direct decode found something it leaves to libpng, whose checks
    // then decide.
    m_direct = 0;
  }
}

// libpng's error: its text kept as the damage (the first one of a read).
void CKLF_ImagePNG::i_LibraryError(png_struct* png, const char* message) {
  CKLF_ImagePNG* self = static_cast<CKLF_ImagePNG*>(png_get_error_ptr(png));
  if (!self->m_damage[0]) std::snprintf(self->m_damage, sizeof(self->m_damage), "%s", message ? message : "");
  png_longjmp(png, 1);
}

namespace {

// A warning about one chunk, which libpng then goes on without: "tRNS: CRC
// error", "pHYs: duplicate".
u8 AboutAChunk(const char* m) {
  return std::strlen(m) > 5 && LetterType(reinterpret_cast<const u8*>(m)) && m[4] == ':' && m[5] == ' ';
}

}  // namespace

// libpng's warnings: damage in the image data (a failed check, more data
// than the image) and any warning not about one chunk refuse the file;
// a chunk libpng leaves out is named. Of those about a colour profile the
// first is kept: the reason a profile it took in was left out (one it
// keeps, such as a known sRGB profile with a known flaw, is read as it is).
void CKLF_ImagePNG::i_LibraryWarning(png_struct* png, const char* message) {
  CKLF_ImagePNG* self = static_cast<CKLF_ImagePNG*>(png_get_error_ptr(png));
  const char* m = message ? message : "";
  if (std::strncmp(m, "iCCP", 4) == 0) {
    if (!self->m_profileWarning[0]) std::snprintf(self->m_profileWarning, sizeof(self->m_profileWarning), "%s", m);
    return;
  }
  if (!AboutAChunk(m) || std::strncmp(m, "IDAT", 4) == 0) png_error(png, m);
  i_LeaveOut(self, m);
}

void CKLF_ImagePNG::i_LeaveOut(CKLF_ImagePNG* self, const char* why) {
  if (self->m_leftOutCount < kLeftOutKept)
    std::snprintf(self->m_leftOut[self->m_leftOutCount], sizeof(self->m_leftOut[0]), "%s", why);
  ++self->m_leftOutCount;
}

u8 CKLF_ImagePNG::i_Damaged(const char* why) {
  std::snprintf(m_damage, sizeof(m_damage), "%s", why);
  return Fail(klErrNotFormat);
}

u8 CKLF_ImagePNG::i_ReadOnce(const u8* data, u32 size, u8 decode) {
  ResetError();
  m_libraryFailed = 0;
  m_damage[0] = 0;
  m_profileWhy[0] = 0;
  m_profileWarning[0] = 0;
  m_leftOutCount = 0;
  if (!data || size < 4 || png_sig_cmp(data, 0, 4) != 0) return Fail(klErrNotFormat);
  if (decode && i_Canceled(1)) return 0;
  png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, this, i_LibraryError, i_LibraryWarning, this,
                                             i_LibraryAlloc, i_LibraryFree);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return Fail(klErrNoMemory);
  }
  MemorySource src = {data, size, 0, kSignatureBytes, 0, 0, 0, 0, 0, 0, this, i_LeaveOut};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    if (decode) i_FreePlanes();
    // libpng gives up on the file when an allocation of its fails.
    return Fail(m_libraryFailed ? klErrNoMemory : klErrNotFormat);
  }
  png_set_read_fn(png, &src, KLF_IMAGEFORMAT_PNG_Reader);
  i_SetReadLimits(png);
  u8 ok = decode && i_Canceled(2) ? 0 : i_ReadHeader(png, info);
  if (ok && decode) ok = i_Decode(png, info);
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok && decode) i_FreePlanes();
  if (ok && decode && i_Canceled(100)) return 0;
  return ok;
}

// libpng holds a chunk whole: its own limit agrees with the one the data
// source refuses at. The chunks the reader has no use for (texts, EXIF,
// suggested palettes, times and the like, some of them compressed) never
// reach it, and it would ignore them unread if they did.
void CKLF_ImagePNG::i_SetReadLimits(png_struct* png) {
  png_set_chunk_malloc_max(png, kChunkLimit);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  static const png_byte kUsed[] = "pHYs\0iCCP";
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kUsed, 2);
}

// Runs inside i_Read's setjmp frame (so do the functions below): plain
// locals only. Size, mode, the file's sample depth, its resolution and
// its colour profile.
u8 CKLF_ImagePNG::i_ReadHeader(png_struct* png, png_info* info) {
  i_ClearExtras();
  m_exif = nullptr;
  m_exifSize = 0;
  png_read_info(png, info);
  // libpng goes on without a chunk it has no memory for (a profile): that
  // is out of memory, not a file without the chunk.
  if (m_libraryFailed) return Fail(klErrNoMemory);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int colourType = png_get_color_type(png, info);
  if (width > 0xFFFF || height > 0xFFFF) return Fail(klErrUnsupported);
  m_width = static_cast<u16>(width);
  m_height = static_cast<u16>(height);
  m_bits = 8;
  m_sourceBits = static_cast<u8>(png_get_bit_depth(png, info));
  m_perMetre = m_perMetreDown = 0;
  m_mode = colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? kModeGrey : kModeRGB;
  m_hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS) ? 1 : 0;
  // libpng stops just past the first image data chunk's type. Every image
  // row inflates to its packed bytes at least (interlaced or not).
  const MemorySource* src = static_cast<const MemorySource*>(png_get_io_ptr(png));
  const u64 packedBytes = static_cast<u64>(png_get_rowbytes(png, info)) * height;
  m_imageData = ImageDataPresent(src->data, src->size, src->pos - 8);
  m_dataCanHold = m_imageData * kMaxInflateRatio >= packedBytes;
  m_profileDropped = src->profileDropped;
  png_uint_32 xPerUnit = 0, yPerUnit = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &xPerUnit, &yPerUnit, &unit) && unit == PNG_RESOLUTION_METER) {
    m_perMetre = xPerUnit;
    m_perMetreDown = yPerUnit;
    m_resolution = DpiOf(xPerUnit);
    m_verticalResolution = DpiOf(yPerUnit);
  }
  u32 exifSize = 0;
  if (const u8* exif = FindExif(src->data, src->size, exifSize)) m_exif = exif, m_exifSize = exifSize;
  png_charp name = nullptr;
  png_bytep profile = nullptr;
  png_uint_32 profileSize = 0;
  int compression = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize))
    return i_SetICCProfile(profile, profileSize);
  if (src->profileSeen)
    std::snprintf(m_profileWhy, sizeof(m_profileWhy), "%s", m_profileWarning[0] ? m_profileWarning : "iCCP");
  return 1;
}

// Refuses sizes the data or 32-bit planes cannot hold and sets the
// transformations to 8-bit samples; the planes come with the first rows.
u8 CKLF_ImagePNG::i_PrepareDecode(png_struct* png, png_info* info, int& passes) {
  const u64 area = static_cast<u64>(m_width) * m_height;
  const u8 grey = m_mode == kModeGrey;
  if (!m_dataCanHold) return i_Damaged("too little image data for the image's size");
  if (!klFits32(area * (grey ? 2 : 4))) return Fail(klErrNoMemory);
  if (i_Canceled(5)) return 0;
  i_FreePlanes();
  if ((m_target[0] || m_source) && (m_width != m_targetWidth || m_height != m_targetHeight))
    return Fail(klErrBadArg);
  for (u32 c = 1; c < 3 && m_target[0] && !grey; ++c)
    if (!m_target[c]) return Fail(klErrBadArg);
  if (png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE) png_set_expand(png);
  if (grey && m_sourceBits < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  // Rounded to the nearest 8-bit value, as other readers read them.
  if (m_sourceBits == 16) png_set_scale_16(png);
  passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const u32 channels = png_get_channels(png, info);
  if (channels < 1 || channels > 4 || png_get_rowbytes(png, info) != channels * m_width)
    png_error(png, "unexpected row layout");
  return i_Canceled(10) ? 0 : 1;
}

// The planes written from now on: the caller's, made by its source or
// given, or the reader's own; an alpha plane of a file without alpha is
// filled with 255. Once a read.
u8 CKLF_ImagePNG::i_TakePlanes() {
  if (m_proving) return 1;
  const u32 area = static_cast<u32>(m_width) * m_height;
  const u8 grey = m_mode == kModeGrey;
  if (m_source && !m_target[0]) {
    u8* planes[4] = {nullptr, nullptr, nullptr, nullptr};
    if (const u16 code = m_source->MakePlanes(planes)) return Fail(code);
    for (u32 c = 0; c < (grey ? 1u : 3u); ++c)
      if (!planes[c]) return Fail(klErrBadArg);
    for (int c = 0; c < 4; ++c) m_target[c] = planes[c];
  }
  if (m_target[0]) {
    if (m_planesTaken) return 1;
    m_planesTaken = 1;
    if (m_target[3] && !m_hasAlpha) std::memset(m_target[3], 255, area);
    return 1;
  }
  if (i_Plane(0)->GetPtr()) return 1;
  if (!i_AllocPlanes(-1, grey ? 0 : 2, area)) return 0;
  return i_Plane(-1)->Set(static_cast<u8>(255));
}

u8 CKLF_ImagePNG::i_Decode(png_struct* png, png_info* info) {
  // The file's own layout: the transformations change what libpng says.
  const u8 plain = png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE && m_sourceBits == 8 &&
                   !png_get_valid(png, info, PNG_INFO_tRNS);
  int passes = 1;
  if (!i_PrepareDecode(png, info, passes)) return 0;
  const u32 width = m_width, height = m_height;
  const u32 channels = png_get_channels(png, info);
  const MemorySource* src = static_cast<const MemorySource*>(png_get_io_ptr(png));
  if (!i_ImageDataSound(src->data, src->size, src->pos)) return 0;
  // The direct decode finds any damage before it makes the planes.
  if (m_direct && passes == 1 && plain) return i_DecodeDirect(src->data, src->size, src->pos, channels, src->palette);
  const u32 rowBytes = channels * width;
  // What a damage found late would have cost: the planes, and the whole
  // decoded image between an interlaced file's passes.
  u64 heldBytes = static_cast<u64>(width) * height * ((m_mode == kModeGrey ? 1 : 3) + m_hasAlpha);
  if (passes > 1) heldBytes += static_cast<u64>(rowBytes) * height + sizeof(u8*) * static_cast<u64>(height);
  if (!m_proven && heldBytes > kFreePlaneBytes + kPlaneBytesPerDataByte * m_imageData) m_proving = 1;
  if (passes == 1 && m_work.GetSize() < rowBytes && !m_work.alloc(rowBytes)) return Fail(klErrNoMemory);
  if (i_Canceled(20) || (passes > 1 && !i_ReadPasses(png, passes, rowBytes))) return 0;
  if (passes > 1 && m_proving) {
    i_ReadEnd(png);
    return 1;
  }
  u8* work = m_work.GetPtr();
  const f64 totalRows = static_cast<f64>(passes) * height;
  f64 rowsDone = 0;
  for (u32 y = 0; y < height; ++y) {
    if (passes == 1) {
      png_read_row(png, work, nullptr);
      rowsDone += 1;
      if (!i_TakePlanes()) return 0;
    }
    i_SplitRow(work + (passes > 1 ? static_cast<u64>(y) * rowBytes : 0), y, channels);
    u32 percent = passes > 1 ? 90 + 9 * (y + 1) / height : static_cast<u32>(20 + 79 * rowsDone / totalRows);
    if (i_Canceled(percent)) return 0;
  }
  i_ReadEnd(png);
  return 1;
}

// What follows the rows, up to the end, through libpng.
void CKLF_ImagePNG::i_ReadEnd(png_struct* png) {
  static_cast<MemorySource*>(png_get_io_ptr(png))->rowsRead = 1;
  png_read_end(png, nullptr);
}

// Interlaced files need the whole image between passes: it is made once
// the first row of the first pass has decoded (into the room after the row
// pointers). Progress from 20 to 90.
u8 CKLF_ImagePNG::i_ReadPasses(png_struct* png, int passes, u32 rowBytes) {
  const u32 height = m_height;
  const u64 pointers = static_cast<u64>(height) * sizeof(u8*), imageBytes = static_cast<u64>(rowBytes) * height;
  if (!klFits32(imageBytes) || !klFits32(pointers + rowBytes) ||
      (m_rows.GetSize() < pointers + rowBytes && !m_rows.alloc(static_cast<u32>(pointers + rowBytes))))
    return Fail(klErrNoMemory);
  u8** rows = reinterpret_cast<u8**>(m_rows.GetPtr());
  u8* first = m_rows.GetPtr() + pointers;
  const f64 total = static_cast<f64>(passes) * height;
  f64 done = 0;
  for (int pass = 0; pass < passes; ++pass)
    for (u32 y = 0; y < height; ++y) {
      png_read_row(png, done > 0 && !m_proving ? rows[y] : first, nullptr);
      if (done == 0 && !m_proving) {
        if (m_work.GetSize() < imageBytes && !m_work.alloc(static_cast<u32>(imageBytes))) return Fail(klErrNoMemory);
        for (u32 r = 0; r < height; ++r) rows[r] = m_work.GetPtr() + static_cast<u64>(r) * rowBytes;
        std::memcpy(rows[0], first, rowBytes);
      }
      done += 1;
      if (!i_TakePlanes() || i_Canceled(static_cast<u32>(20 + 70 * done / total))) return 0;
    }
  return 1;
}

// One decoded row into the planes: grey or red, green, blue, then the
// alpha when the decoded row has one.
void CKLF_ImagePNG::i_SplitRow(const u8* row, u32 y, u32 channels) {
  if (m_proving) return;
  const u32 colours = m_mode == kModeGrey ? 1 : 3;
  const u64 offset = static_cast<u64>(y) * m_width;
  for (u32 c = 0; c <= colours; ++c) {
    if (c == colours && channels == colours) break;
    const i32 channel = c == colours ? -1 : static_cast<i32>(c);
    u8* plane = m_target[0] ? m_target[channel < 0 ? 3 : channel] : i_Plane(channel)->GetPtr();
    if (!plane) continue;
    i_TakeChannel(row + c, channels, plane + offset, m_width);
  }
}

namespace {

// The chunk at p (length, type, data, CRC) lies within size.
inline u8 ChunkAt(const u8* data, u32 size, u32 p, u32& length, u32& type) {
  if (p > size || size - p < 12) return 0;
  length = KLF_GetBE32(data + p);
  type = KLF_GetBE32(data + p + 4);
  return length <= size - p - 12;
}

// Where each of the whole IDAT chunks from first on starts, in at; their
// count and data bytes.
u8 ImageDataChunks(const u8* data, u32 size, u32 first, CKLF_Mem& at, u32& chunks, u64& total) {
  u32 length = 0, type = 0;
  chunks = 0;
  total = 0;
  for (u32 p = first; ChunkAt(data, size, p, length, type) && type == kIDAT; p += 12 + length) {
    if ((chunks + 1u) * 4u > at.GetSize() && !at.Resize(chunks ? 8 * chunks : 64)) return 0;
    reinterpret_cast<u32*>(at.GetPtr())[chunks++] = p;
    total += length;
  }
  return 1;
}

}  // namespace

// Every whole image data chunk from the one whose type ends at pos has a
// sound CRC, checked side by side before anything is inflated (libpng
// checks a chunk's only once it has inflated it all).
u8 CKLF_ImagePNG::i_ImageDataSound(const u8* data, u32 size, u32 pos) {
  CKLF_Mem at;
  u32 chunks = 0;
  u64 total = 0;
  if (pos < 8) return 1;
  if (!ImageDataChunks(data, size, pos - 8, at, chunks, total)) return Fail(klErrNoMemory);
  const u32* place = reinterpret_cast<const u32*>(at.GetPtr());
  std::atomic<u8> sound{1};
  KLF_Parallel::ForEach(m_threads, chunks, [&](u32 i, u32) noexcept {
    const u32 q = place[i], n = KLF_GetBE32(data + q);
    if (!CrcHolds(data + q, n)) sound.store(0);
  });
  return sound.load() ? 1 : i_Damaged("IDAT: CRC error");
}

// The IDAT chunks in a row from the one whose type ends at pos, and where
// the chunks after them start (ending). Several are joined into m_stream.
u8 CKLF_ImagePNG::i_GatherImageData(const u8* data, u32 size, u32 pos, const u8*& stream, u32& streamSize,
                                    u32& ending) {
  if (pos < 8 || KLF_GetBE32(data + pos - 4) != kIDAT) return 0;
  CKLF_Mem at;
  u32 chunks = 0;
  u64 total = 0;
  if (!ImageDataChunks(data, size, pos - 8, at, chunks, total) || chunks == 0 || !klFits32(total)) return 0;
  const u32* place = reinterpret_cast<const u32*>(at.GetPtr());
  ending = place[chunks - 1] + 12 + KLF_GetBE32(data + place[chunks - 1]);
  streamSize = static_cast<u32>(total);
  if (chunks == 1) {
    stream = data + place[0] + 8;
    return 1;
  }
  // Joined side by side.
  CKLF_Mem offsets;
  if (!m_stream.alloc(streamSize) || !offsets.alloc(4 * chunks)) return 0;
  u32* out = reinterpret_cast<u32*>(offsets.GetPtr());
  for (u32 i = 0, o = 0; i < chunks; o += KLF_GetBE32(data + place[i]), ++i) out[i] = o;
  u8* joined = m_stream.GetPtr();
  KLF_Parallel::ForEach(m_threads, chunks, [&](u32 i, u32) noexcept {
    std::memcpy(joined + out[i], data + place[i] + 8, KLF_GetBE32(data + place[i]));
  });
  stream = joined;
  return 1;
}

// The chunks after the image data from p on, judged as libpng judges them
// once the rows are read (every chunk whole and judged by AfterImageData,
// up to IEND): 1, or 0 with the damage. An IEND that is not empty is left
// out.
u8 CKLF_ImagePNG::i_JudgeEnding(const u8* data, u32 size, u32 p, u8 palette) {
  for (u32 length = 0;; p += 12 + length) {
    if (const char* fault = HeaderFault(data, size, p)) return i_Damaged(fault);
    length = KLF_GetBE32(data + p);
    const u32 type = KLF_GetBE32(data + p + 4);
    char why[40];
    const Verdict verdict = AfterImageData(data + p, length, palette, why);
    if (verdict == kRefused) return i_Damaged(why);
    if (verdict == kLeftOut) i_LeaveOut(this, why);
    if (type != kIEND) continue;
    if (length) i_LeaveOut(this, "IEND: invalid");
    return 1;
  }
}

u8 CKLF_ImagePNG::i_DecodeDirect(const u8* data, u32 size, u32 pos, u32 channels, u8 palette) {
  const u8* stream = nullptr;
  u32 streamSize = 0, ending = 0;
  if (!i_GatherImageData(data, size, pos, stream, streamSize, ending)) {
    m_stream.free();
    m_declined = 1;
    return 0;
  }
  if (i_Canceled(20)) return 0;
  // What follows the image data judged and the planes made once the image
  // data has inflated and proved sound; the rows split into them, progress
  // from 20 to 99.
  struct Receiver {
    CKLF_ImagePNG* self;
    u32 channels;
    const u8* data;
    u32 size, ending;
    u8 palette;
    static u16 Start(void* user) {
      const Receiver* r = static_cast<Receiver*>(user);
      CKLF_ImagePNG* s = r->self;
      s->m_stream.free();  // inflated: not read again
      if (!s->i_JudgeEnding(r->data, r->size, r->ending, r->palette)) return s->GetError();
      return s->i_TakePlanes() ? 0 : (s->GetError() ? s->GetError() : u16(klErrNoMemory));
    }
    static void Rows(void* user, const u8* rows, u32 stride, u32 first, u32 count) {
      const Receiver* r = static_cast<Receiver*>(user);
      for (u32 i = 0; i < count; ++i) r->self->i_SplitRow(rows + static_cast<u64>(i) * stride, first + i, r->channels);
    }
    static u8 Poll(void* user, u32 rowsDone) {
      CKLF_ImagePNG* s = static_cast<Receiver*>(user)->self;
      return !s->i_Canceled(20 + 79 * rowsDone / s->m_height);
    }
  } receiver = {this, channels, data, size, ending, palette};
  CKLF_PNGDecoder decoder;
  const u8 ok = decoder.Decode(stream, streamSize, channels, m_width, m_height, m_threads, Receiver::Start,
                               Receiver::Rows, Receiver::Poll, &receiver);
  m_stream.free();
  if (ok) return 1;
  if (*decoder.GetDamage()) return i_Damaged(decoder.GetDamage());
  if (GetError()) return 0;  // Start's: what follows the image data, or the planes
  if (decoder.GetError() == klErrNotFormat) m_declined = 1;
  return decoder.GetError() ? Fail(decoder.GetError()) : 0;
}
