// JPEG data held in memory, decoded through libjpeg (interface 62) fed by a
// memory source of our own: baseline and progressive, Huffman or
// arithmetic coded, grey into channel 0, RGB into 0..2, CMYK into 0..3
// (samples as stored, with Adobe's marker or without); there is never an
// alpha plane. The JFIF density, an ICC profile (APP2) and the EXIF block
// (APP1) are kept. Data that ends early is completed with an end-of-image
// marker, as libjpeg's own sources do, so a truncated file decodes to a
// finished (grey-filled) image or fails, and never hangs; such an image,
// and one whose entropy-coded data is corrupt, is marked damaged with the
// decoder's reason, for callers that would rather refuse it. A caller that
// will refuse it asks the decode to stop at the first damage instead.
//
// Cost: the planes, one scanline, and libjpeg's own buffers (a progressive
// file keeps all its coefficients: about twice the planes; each scan of a
// multi-scan file passes over the blocks of its components), and a walk
// over the file's marker segments before the decode. Of the APP1
// and APP2 segments only the Exif block and the profile's parts are kept;
// the others are skipped by their lengths.
// Limits: sizes up to 65500 (the format's); the planes together below 4 GiB.
// Before a scan is decoded or anything allocated for the image, the file's
// scans are read: Huffman-coded scans with fewer bits than the image has
// 8 x 8 blocks (over all components) are refused as damaged (arithmetic
// coding may take less than a bit a block: only the caller's budget bounds
// such a file), and so is a file of more than 500 scans, or whose scans
// pass over its blocks more than 64 times or over its coefficients more
// than 16 times (work of up to 4 Mi blocks, 256 Mi coefficients, is let
// through at any count), or, when asked to stop at damage, whose scans
// refine a coefficient out of order.
#pragma once

#include "CKLF_ImageReader.h"

struct jpeg_decompress_struct;

// Makes cinfo read the size bytes at data (not copied; they must outlive
// the decompressor).
void jpeg_frommem_src(jpeg_decompress_struct* cinfo, const void* data, u32 size);

class CKLF_ImageJPEG : public CKLF_ImageReader {
 public:
  CKLF_ImageJPEG();
  ~CKLF_ImageJPEG() override;

  // Header: 49 for one byte or less, 48 for data that does not start as a
  // JPEG, an unsupported colour space or a feature libjpeg does not
  // implement (GetDecoderMessage names it: "lossless coding (SOF3)", "12
  // bits a sample", "2 colour components"), 49 for a header libjpeg finds
  // damaged, 17 when memory runs out (libjpeg's or the kept segments').
  [[nodiscard]] u8 GetImageInfoByPtr(const void* data, u32 size) override;
  // Decode: as above, then 49 for a libjpeg error, an empty image, scans
  // past the bounds above or (when stopping there) damage, and 17 when the
  // planes or libjpeg's own memory cannot be had; a cancel returns 0
  // without a code.
  [[nodiscard]] u8 ParseImageByPtr(const void* data, u32 size) override;
  // 1 when the file carries Adobe's marker (CMYK samples are kept as
  // stored either way: 255 no ink, as other readers take them).
  u8 SawAdobeMarker() const { return m_adobe; }
  // 1 when the last decode met corrupt or missing data and made up for it
  // (grey where the data ended), or stopped there when asked to.
  u8 IsDamaged() const { return m_damaged; }
  // 1: a decode stops at the first damage and fails (49) with the
  // decoder's reason, IsDamaged 1, rather than making up the rest.
  void SetStopAtDamage(u8 stop) { m_stopAtDamage = stop; }
  // The entropy-coded bytes of the scans in data (stuffed zeros and
  // restart markers left out), up to its end-of-image marker; marker
  // segments are passed by their lengths. arithmetic, when given, is set
  // to 1 when a frame header there says arithmetic coding.
  static u32 ScanDataBytes(const void* data, u32 size, u8* arithmetic = nullptr);
  // libjpeg's text for the last failure, or for the first damage met
  // (empty when neither).
  const char* GetDecoderMessage() const { return m_message; }
  // 1 when the last header had profile parts that do not make a whole
  // profile (a part missing, twice or past the count): it is left out.
  u8 ProfileIncomplete() const { return m_profileIncomplete; }
  // The EXIF block of the last header read: the TIFF structure after
  // APP1's "Exif" name, empty when the file has none.
  const CKLF_Mem& GetExifData() const { return m_exifData; }

 private:
  [[nodiscard]] u8 i_CheckStart(const u8* data, u32 size);
  // Reads the header and takes size, bits and mode: the channel count, or
  // 0 with error 48 for a colour space without planes here.
  u32 i_ReadHeader(jpeg_decompress_struct* cinfo);
  void i_KeepMessage(const char* text, u8 damaged);
  [[nodiscard]] u8 i_Decode(jpeg_decompress_struct* cinfo, const void* data, u32 size);
  [[nodiscard]] u8 i_CheckScans(const jpeg_decompress_struct* cinfo, const void* data, u32 size);

  u8 m_adobe;
  u8 m_damaged;
  u8 m_stopAtDamage;
  char m_message[200];
  CKLF_Mem m_exifData;
  u8 m_profileIncomplete;
};
