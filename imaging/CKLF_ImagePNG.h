// PNG files through libpng. The writer makes 8-bit RGB or grey files, with
// or without alpha, from planes (with "Generator" and "Product" texts, the
// resolution and an optional ICC profile); the reader decodes any common
// variant (palette, 1 to 16 bits, grey, alpha, tRNS, interlaced) into
// 8-bit planes (16-bit samples rounded to the nearest): channel 0 or 0..2
// and an alpha plane (255 where the file has none), and keeps the file's
// resolution (pHYs, across and down), profile (iCCP) and EXIF block
// (eXIf, found by the chunks' headers wherever it lies). A profile libpng
// finds unfit for the written image is left out. Damage in the image data
// (its check, data past the image, no end, image data again after another
// chunk) and in critical chunks (one libpng does not know, a second
// palette) is refused in libpng's words; a damaged or malformed ancillary
// chunk, or one after the image data that belongs before it, and a palette
// after the image data of an image without one, are left out and named
// (LeftOut).
//
// Cost: writing streams row by row. Reading 8-bit files without interlace
// or key colour (CKLF_PNGDecoder) holds the whole inflated image, a byte a
// row more than the decoded image (the image data joined when it comes in
// several chunks), then the planes, made once the image data and what
// follows it have proved sound: damage costs no planes, whatever follows
// the image data. Other variants hold one row, or the whole
// decoded image when interlaced, and the planes, made once the first rows
// have decoded (nothing for data that fails at once); a file whose planes,
// with an interlaced file's decoded image, take more than 64 MiB and 2 KiB
// a byte of its image data is read through without them first, and so
// decoded twice. Every image data chunk's CRC is checked before anything
// is inflated.
// Limits: width and height up to 65535 (larger files give error 48); the
// planes of one image together below 4 GiB (else error 17); image data too
// short to hold the image it declares gives error 49 before anything is
// allocated, as does a chunk longer than the data left, or a critical one
// other than image data longer than 8 MiB. Other chunks are skipped unread
// but for their CRC, whatever their length, when the reader has no use for
// them (texts and the like; eXIf is only found) or they are longer than
// 8 MiB (a profile so large is left out, see ProfileDropped).
#pragma once

#include "CKLF_ImageReader.h"
#include "CKLF_PNGEncoder.h"
#include "CKLF_ImageWriter.h"

struct png_struct_def;
struct png_info_def;

class CKLF_ImagePNG : public CKLF_ImageReader, public CKLF_ImageWriter {
 public:
  enum { kWriteRGBA = 1, kWriteGreyAlpha = 2, kWriteRGB = 3, kWriteGrey = 4 };

  struct PNGWRITE_PARAMS {
    u16 width;
    u16 height;
    u8 mode;         // 1 RGBA: red, green, blue, alpha; 2: grey, alpha; 3 RGB; 4 grey
    u8* planes[4];
    u32 stride;      // row stride of the planes in bytes
    const char* product;  // NUL-terminated; null writes an empty text
    f64 resolution;  // dots per inch across
    u32 pixelsPerMetre;  // written as it is when not 0, else made from the resolution
    f64 verticalResolution;  // dots per inch down; 0: as across
    u32 verticalPixelsPerMetre;  // written as it is when not 0, else made from the one down
    const u8* icc;   // ICC profile (not owned); null or iccSize 0: none
    u32 iccSize;
  };

  CKLF_ImagePNG();
  ~CKLF_ImagePNG() override;

  // How the image data is compressed (CKLF_PNGEncoder's default unless
  // set) and on how many threads it is compressed, and read when it is in
  // bands (1 unless set; 0 the machine's). The file's bytes and the planes
  // read do not depend on the threads.
  void SetCompression(const CKLF_PNGEncoder::Settings& s) { m_compression = s; }
  const CKLF_PNGEncoder::Settings& GetCompression() const { return m_compression; }
  void SetThreads(u32 threads) { m_threads = threads; }

  // Writes the file to the attached standard file: 1, or 0 with error 48
  // (mode), 1 (no file, empty size, missing plane or short stride), the
  // file's code on a write error, 17 for another libpng failure (memory
  // for the profile among them; one unfit for the image is left out, see
  // ProfileUnreadable); a cancel
  // returns 0 without a code. A failed write leaves the system's reason in
  // errno on the calling thread, whichever thread wrote (SystemError).
  [[nodiscard]] u8 WritePNG(const PNGWRITE_PARAMS* params);
  // A file of a canvas of canvasWidth x canvasHeight filled with
  // background (a byte a channel of the mode) with the image of params
  // placed at (x, y), written without drawing the canvas: its cost follows
  // the rows the image covers. Errors as WritePNG; a canvas side of 0 is
  // error 1.
  [[nodiscard]] u8 WritePNGPlaced(const PNGWRITE_PARAMS* params, u16 canvasWidth, u16 canvasHeight, i32 x, i32 y,
                                  const u8* background);

  // The errno of the last write's failed file write; 0 when none failed.
  int SystemError() const { return m_systemError; }

  // Header only: size, bits 8, mode 2 for grey files, else 1.
  [[nodiscard]] u8 GetImageInfoByPtr(const void* data, u32 size) override;
  // The file's own bits per sample (1 to 16; the planes hold 8).
  u8 GetSourceBits() const { return m_sourceBits; }
  // The file's pixels a metre across and down (pHYs in metres), 0 when it
  // gives none.
  u32 GetPixelsPerMetre() const { return m_perMetre; }
  u32 GetVerticalPixelsPerMetre() const { return m_perMetreDown; }
  // Known once the header is read: the data of the file's first eXIf chunk
  // (an EXIF block: the TIFF structure, byte-order mark first), wherever it
  // lies, when its CRC holds; null when there is none. It points into the
  // data read and lives as long as they do. One whose CRC fails is left
  // out (LeftOut, once the image is read).
  const u8* GetExifData(u32& size) const { return size = m_exifSize, m_exif; }
  // 49 for data that is not a PNG, is truncated or damaged (GetDamage
  // says why); 48 for sizes beyond 65535; 17 when memory runs out.
  [[nodiscard]] u8 ParseImageByPtr(const void* data, u32 size) override;
  // Why the last read refused a file that starts as a PNG, in libpng's
  // words ("IDAT: CRC error", "bad adaptive filter value", "PLTE:
  // duplicate"...); empty when the data is not a PNG or nothing failed.
  const char* GetDamage() const { return m_damage; }
  // Whether the file read last has alpha (an alpha channel or tRNS); known
  // once the header is read.
  u8 HasAlpha() const { return m_hasAlpha; }
  // Known once the header is read: whether the image data present can
  // inflate to the image the header declares (deflate gives at most 1032
  // bytes a byte); a parse refuses a file that cannot (49) before it
  // allocates anything, and so should a caller that allocates planes.
  u8 DataCanHoldImage() const { return m_dataCanHold; }
  // Whether the file's colour profile was left out for its size (a chunk
  // beyond 8 MiB); the image is read without it.
  u8 ProfileDropped() const { return m_profileDropped; }
  // Whether the file's colour profile was left out because libpng cannot
  // read it or finds it unfit for the image, and its reason; the image is
  // read without it. After a write: whether the profile given was left out
  // of the file so.
  u8 ProfileUnreadable() const { return m_profileWhy[0] != 0; }
  const char* ProfileProblem() const { return m_profileWhy; }
  // The chunks the last read left out as damaged or malformed (a tRNS or
  // pHYs whose CRC fails or that does not fit the image, a second one, any
  // chunk whose CRC fails), each with its reason in libpng's words ("tRNS:
  // CRC error", "pHYs: duplicate"): the image is read without them. The
  // first kLeftOutKept reasons are kept, the rest only counted. Damage in
  // the image data, and any other warning of libpng's, refuses the file.
  enum { kLeftOutKept = 8 };
  u32 LeftOutCount() const { return m_leftOutCount; }
  const char* LeftOut(u32 i) const { return i < m_leftOutCount && i < kLeftOutKept ? m_leftOut[i] : ""; }
  // As ParseImageByPtr, but into the caller's planes of width x height
  // bytes (planes[0] or planes[0..2], planes[3] the alpha) rather than
  // planes of its own; 1 (bad argument) when the file has another size or
  // a colour plane is missing. A null alpha leaves the file's alpha out;
  // one of a file without alpha is filled with 255. On failure the planes
  // hold whatever was decoded.
  [[nodiscard]] u8 ParseImageInto(const void* data, u32 size, u8* const planes[4], u16 width, u16 height);
  // The caller's planes made when they are first written to: once the
  // first rows of the image have decoded, so that data failing at once
  // costs none of them.
  class PlaneSource {
   public:
    virtual ~PlaneSource() {}
    // Fills planes as ParseImageInto takes them: 0, or the error code that
    // ends the read. Called once a read, on any thread.
    virtual u16 MakePlanes(u8* planes[4]) = 0;
  };
  [[nodiscard]] u8 ParseImageInto(const void* data, u32 size, PlaneSource& source, u16 width, u16 height);
  // The most memory libpng held at once during the last read (its
  // structures, row and chunk buffers; not the planes) or write.
  u64 GetLibraryPeak() const { return m_libraryPeak; }

 private:
  typedef png_struct_def png_struct;
  typedef png_info_def png_info;

  [[nodiscard]] u8 i_Write(const PNGWRITE_PARAMS& params, u32 stride);
  [[nodiscard]] u8 i_WriteImage(png_struct* png, png_info* info, const PNGWRITE_PARAMS& params, u32 channels,
                                u32 stride);
  [[nodiscard]] u8 i_WriteImageData(const PNGWRITE_PARAMS& params, u32 channels, u32 stride);
  [[nodiscard]] u8 i_WriteChunk(const char* type, const u8* data, u32 size);
  static void i_PngWrite(png_struct* png, u8* data, size_t size);
  [[nodiscard]] u8 i_Put(const u8* data, u32 size);
  [[nodiscard]] u8 i_SystemReason();
  [[nodiscard]] u8 i_Read(const u8* data, u32 size, u8 decode);
  [[nodiscard]] u8 i_ReadOnce(const u8* data, u32 size, u8 decode);
  [[nodiscard]] u8 i_ReadHeader(png_struct* png, png_info* info);
  void i_SetReadLimits(png_struct* png);
  static void* i_LibraryAlloc(png_struct* png, size_t n);
  static void i_LibraryError(png_struct* png, const char* message);
  static void i_LibraryWarning(png_struct* png, const char* message);
  static void i_LeaveOut(CKLF_ImagePNG* self, const char* why);
  u8 i_Damaged(const char* why);
  void i_ReadEnd(png_struct* png);
  u8 i_ImageDataSound(const u8* data, u32 size, u32 pos);
  u8 i_TakePlanes();
  static void i_LibraryFree(png_struct* png, void* p);
  [[nodiscard]] u8 i_PrepareDecode(png_struct* png, png_info* info, int& passes);
  [[nodiscard]] u8 i_Decode(png_struct* png, png_info* info);
  [[nodiscard]] u8 i_ReadPasses(png_struct* png, int passes, u32 rowBytes);
  void i_SplitRow(const u8* row, u32 y, u32 channels);
  // 8-bit files without interlace or transparency key: the image data
  // gathered from the IDAT chunks in a row at pos (just past the first
  // one's type) and decoded by CKLF_PNGDecoder straight into the planes,
  // whatever follows it; what follows is judged once the image data has
  // proved sound, before the planes are made. Damage is refused as libpng
  // refuses it; a sound stream that libpng may judge otherwise (bytes
  // after its end) sets m_declined and returns 0, and the file is read
  // again through libpng.
  [[nodiscard]] u8 i_DecodeDirect(const u8* data, u32 size, u32 pos, u32 channels, u8 palette);
  [[nodiscard]] u8 i_GatherImageData(const u8* data, u32 size, u32 pos, const u8*& stream, u32& streamSize,
                                     u32& ending);
  [[nodiscard]] u8 i_JudgeEnding(const u8* data, u32 size, u32 p, u8 palette);

  CKLF_Mem m_work;  // rows being written or decoded
  CKLF_Mem m_rows;  // row pointers of an interlaced decode, and its first row
  u8 m_sourceBits;
  u32 m_perMetre;
  u32 m_perMetreDown;
  const u8* m_exif;  // in the caller's data
  u32 m_exifSize;
  u8 m_hasAlpha;
  u8 m_dataCanHold;
  u8 m_profileDropped;
  char m_profileWhy[96];
  char m_profileWarning[96];  // libpng's first about a profile
  char m_damage[96];
  char m_leftOut[kLeftOutKept][96];
  u32 m_leftOutCount;
  u8* m_target[4];  // the caller's planes of ParseImageInto; null: own planes
  u16 m_targetWidth;
  u16 m_targetHeight;
  PlaneSource* m_source;  // makes m_target, when given
  u8 m_planesTaken;       // the caller's, once a read
  u64 m_imageData;        // bytes of image data present
  u8 m_proving;           // the data read through without planes
  u8 m_proven;            // and it held
  u8 m_direct;    // the direct decode may be tried
  u8 m_declined;  // it was, and left the file to libpng
  u64 m_libraryHeld;  // what libpng holds while reading, and its most
  u64 m_libraryPeak;
  u8 m_libraryFailed;  // an allocation of libpng's failed
  CKLF_Mem m_stream;  // the image data of several IDAT chunks, joined
  CKLF_PNGEncoder::Settings m_compression;
  u32 m_threads;
  // While WritePNGPlaced writes: the placement and the placed image's size.
  const CKLF_PNGEncoder::Placement* m_placement;
  u16 m_placedWidth;
  u16 m_placedHeight;
  int m_systemError;  // of the write that failed, on whichever thread
};
