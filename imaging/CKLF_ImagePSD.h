// Photoshop documents, 8 bits per channel.
//
// Writer: collects layers (positioned pictures, each with its own alpha) and
// writes them in one pass as a layered file with PackBits channel data,
// followed by a composite of the visible layers over white. Layer planes are
// not copied: they must stay valid until WritePSD returns.
// Reader: the composite into the format's planes (ParseImage*), or every
// layer with its bounds, name, visibility, opacity, group markers and planes
// into a layer table (LParse*), each layer at its own size. Raw and
// PackBits data, normal blend mode; the resolution and the ICC profile of
// the image resources. Layers are read only when the composite after them
// has the bytes the canvas needs, so a declared size is never trusted
// beyond the data.
//
// Cost: writing streams row by row (memory: a few rows and the row counts);
// the composite costs rows x layers range checks plus one blend per covered
// pixel and channel. On more than one thread (SetThreads) layers are packed
// and bands of composite rows made side by side into buffers written in
// order (a few per thread at a time); the bytes do not depend on it.
// Reading holds the file and the decoded planes.
// Limits: at most 32767 layers (the format's signed count); dimensions up to
// 65535 (rows wider than 49150 are stored raw: their packed size could
// overflow the 16-bit row counts); layer names up to 63 bytes (the Pascal name keeps 55), cut between
// UTF-8 characters; files below 2 GiB (the standard file's limit).
#pragma once

#include "CKLF_Array.h"
#include "CKLF_ImageReader.h"
#include "CKLF_ImageWriter.h"

class CKLF_Image;
struct KLF_BEReader;

class CKLF_ImagePSD : public CKLF_ImageReader, public CKLF_ImageWriter {
 public:
  static constexpr u32 kMaxLayers = 32767;
  static constexpr u32 kMaxChannels = 100;
  // The bytes of a layer's name a written file keeps: in its Unicode name,
  // and in its Pascal name, which older readers and this one read. Both
  // end on a whole character (CKLF_String::WholeCharacters).
  static constexpr u32 kNameBytes = 63;
  static constexpr u32 kPascalNameBytes = 55;

  // The document to write; mode 1 RGB, 2 grey, 3 CMYK.
  struct PSDMLWRITE_INITPARAMS {
    u16 width;
    u16 height;
    u8 mode;
    f64 resolution;     // dots per inch across
    u16 globalAngle;    // degrees
    const u8* iccProfile;  // not owned; null or iccSize 0: none
    u32 iccSize;
    f64 verticalResolution;  // dots per inch down; 0: as across
  };

  // One layer to write.
  struct PSDMLWRITE_LAYERPARAMS {
    u16 width;
    u16 height;
    i32 x;  // top-left corner in the document (the format's rectangles are 32-bit)
    i32 y;
    u8 visible;
    u8 opacity;  // 0..255
    char name[kNameBytes + 1];  // NUL-terminated
  };

  // One layer read; the planes and the name stay owned by the reader.
  struct PSDLayerInfoExt_s {
    i32 left;
    i32 top;
    i32 width;
    i32 height;
    u16 channels;
    char* name;
    // The bytes of the file's name field: more than name holds when the
    // field has a zero byte (a name in UTF-16, say), where name ends.
    u8 nameBytes;
    u8 groupOpen;
    u8 groupEnd;
    u8 visible;
    u8 opacity;
    CKLF_Mem* planes[5];  // channel ids -1 (alpha), 0, 1, 2, 3; null where absent
  };

  CKLF_ImagePSD();
  ~CKLF_ImagePSD() override;

  // Reading. All return 1, or 0 with the error code set: 48 unsupported
  // variant, 49 not a PSD or truncated, 17 out of memory. A refusal of a
  // file that starts as a PSD says why (GetReason).
  [[nodiscard]] u8 GetImageInfoByPtr(const void* data, u32 size) override;
  [[nodiscard]] virtual u8 LParseByPtr(const void* data, u32 size);
  // The layer records alone, with every check LParseByPtr makes but no
  // channel decoded (nothing is allocated for the pixels): sizes, names and
  // flags as it gives them, the planes null, and GetLayerPlaneMask telling
  // which planes it would decode. A file without layers gives none.
  [[nodiscard]] u8 LParseRecordsByPtr(const void* data, u32 size);
  [[nodiscard]] virtual u8 LParseByMem(CKLF_Mem& m);
  [[nodiscard]] virtual u8 LParseByFile(CKLF_StdFile& f);
  [[nodiscard]] virtual u8 LParseLocal();
  [[nodiscard]] u8 ParseImageByPtr(const void* data, u32 size) override;

  // The composite's alpha channels (width x height each): its channels
  // after the colours, but for the merged transparency that a negative
  // layer count puts first. Named by the file's alpha channel names
  // (resource 1006), "Alpha n" where it gives none. Error 17 when they
  // do not fit 32-bit sizes or memory; the reading errors as ParseImage*.
  [[nodiscard]] u8 ParseAlphaChannelsByPtr(const void* data, u32 size);
  u32 GetAlphaChannelCount() const { return m_alphaNames.GetSize(); }
  // Null for an index at or beyond the count.
  const u8* GetAlphaChannel(u32 index) const;
  const char* GetAlphaChannelName(u32 index) const;

  // Why the last read refused the file (48 or 49), in a few words ("a
  // channel's packed rows end early", "a layer of blend mode 'mul '");
  // empty when it did not start as a PSD or nothing was refused.
  const char* GetReason() const { return m_reason; }

  // 1 when the last parse met damaged image resources: those from the
  // damage on (a resolution, a profile, alpha channel names) were not read.
  u8 ResourcesDamaged() const { return m_resourcesDamaged; }

  u32 GetLayersCount() const { return m_layerCount; }
  // 1 when the last layer parse stopped at ZIP-compressed channel data
  // (error 48), which this reader does not decode; the composite may
  // still be readable.
  u8 LayersZipCompressed() const { return m_zipLayers; }
  // 0 for an index at or beyond the count.
  [[nodiscard]] u8 GetLayerInfo(u32 index, PSDLayerInfoExt_s& out);
  // Bit id + 1 for each channel id -1..3 of the layer that has (or, after
  // LParseRecordsByPtr, would have) a decoded plane; 0 past the count.
  u8 GetLayerPlaneMask(u32 index) const;
  // Frees every layer's planes and the table.
  void Clean();

  // Channel decoding. UnpackMacPack: PackBits into exactly dstLen bytes;
  // 1 with used = input consumed, 0 when the input ends first.
  [[nodiscard]] static u8 UnpackMacPack(const u8* src, u32 srcLen, u8* dst, u32 dstLen, u32* used);
  // Compression 0 raw (srcLen must be width x height), 1 PackBits rows (the
  // row count table skipped first unless countsSkipped); used = the channel
  // bytes consumed, without the table.
  [[nodiscard]] u8 ExpandChanelPixels(u8 compression, const u8* src, u32 srcLen, u8* dst, u32 width, u32 height,
                                      u32* used, u8 countsSkipped);

  // Threads WritePSD packs on (1, the default; 0 the machine's).
  void SetThreads(u32 threads) { m_threads = threads; }

  // Writing: Create, Write_Init, Write_AddLayer per layer, WritePSD.
  [[nodiscard]] u8 Write_Init(const PSDMLWRITE_INITPARAMS* params);
  // Planes: the mode's colour planes in order, then alpha. 0 with error 1
  // for a missing plane, a stride below the width, a layer beyond the
  // limit or no Write_Init; 0 without a code when memory runs out.
  [[nodiscard]] u8 Write_AddLayer(const PSDMLWRITE_LAYERPARAMS* params, u8* const* planes, u32 stride);
  // Planes from an image with alpha that holds enough of them and covers
  // the layer's size: the document's colour planes first, the image's last
  // plane as the alpha (an RGBA image gives red and alpha to a grey one).
  [[nodiscard]] u8 Write_AddLayer(const PSDMLWRITE_LAYERPARAMS* params, CKLF_Image* image);
  // 1, or 0 on a write error (the file's code), an unsupported mode or too
  // many layers (1), a size beyond the format (17), or a cancel (no code).
  [[nodiscard]] u8 WritePSD();
  void WriteClean() override;
  u32 GetLayersToWrite() const { return m_toWrite.GetSize(); }

  // Big-endian 2 or 4 bytes through Write_Buffer; 0 without a file.
  [[nodiscard]] u8 Write_MACWord(u16 value, u32 pos = kNoPos);
  [[nodiscard]] u8 Write_MACDWord(u32 value, u32 pos = kNoPos);

  // PackBits of one row; dst must hold count + count / 3 + 1 bytes.
  static void PackBits(const u8* src, i32 count, u8* dst, i32* outCount);

 private:
  struct LayerRecord;

  // Fails with code, the reason formatted as printf does.
  u8 i_Refuse(u16 code, const char* format, ...) __attribute__((format(printf, 3, 4)));
  [[nodiscard]] u8 i_StartParse(const void* data, u32 size);
  // Colour mode data (must be empty) and image resources (resolution and
  // profile kept); leaves c at the layer and mask section.
  [[nodiscard]] u8 i_ReadSections(KLF_BEReader& c);
  [[nodiscard]] u8 i_ReadResources(KLF_BEReader r);
  [[nodiscard]] u8 i_CheckComposite(KLF_BEReader c);
  [[nodiscard]] u8 i_ParseComposite(KLF_BEReader& c);
  [[nodiscard]] u8 i_LParse(const void* data, u32 size, u8 decode);
  [[nodiscard]] u8 i_ParseLayers(KLF_BEReader& c, u8 decode);
  [[nodiscard]] u8 i_ReadLayerRecord(KLF_BEReader& c, LayerRecord& L);
  [[nodiscard]] u8 i_ReadLayerExtra(KLF_BEReader& x, LayerRecord& L);
  [[nodiscard]] u8 i_ReadLayerChannels(KLF_BEReader& c, LayerRecord& L, u8 decode);
  [[nodiscard]] u8 i_ReadAlphaNames(KLF_BEReader r);
  [[nodiscard]] u8 i_ParseAlphaChannels(KLF_BEReader& c, u8 mergedTransparency);

  [[nodiscard]] u8 i_WriteAll();
  [[nodiscard]] u8 i_WriteLayerSection();
  [[nodiscard]] u8 i_WriteLayerChannels(u32 layer);
  [[nodiscard]] u8 i_WriteLayersData(f64& progress);
  [[nodiscard]] u8 i_WriteLayersSideBySide(f64& progress, u32 threads);
  [[nodiscard]] u8 i_WriteComposite(f64& progress);
  [[nodiscard]] u8 i_WriteCompositeSideBySide(f64& progress, u32 threads);
  // Row y of colour channel c of the composite: white, then the layers
  // first..end-1 of list (all layers when list is null) blended in order.
  void i_ComposeRow(u32 c, u32 y, u8* row, const u32* list, u32 count) const;
  // Sticky: after a failure every later put fails too (m_writeFailed),
  // so a run of puts is checked once.
  u8 i_Put(const void* data, u32 n);
  u8 i_Put16(u16 v);
  u8 i_Put32(u32 v);
  u8 i_PutZeros(u32 n);
  // One axis of the resolution record: 16.16 dots per inch, then its
  // units (pixels per inch, shown in inches).
  u8 i_PutResolution(f64 dpi);
  [[nodiscard]] u8 i_FlushOut();
  [[nodiscard]] u8 i_Patch(u64 pos, const u8* data, u32 n);
  [[nodiscard]] u8 i_Reserve(CKLF_Mem& m, u32 n);

  // Reading.
  CKLF_Mem m_layerTable;
  u32 m_layerCount;
  u16 m_fileChannels;
  u8 m_zipLayers;
  u8 m_resourcesDamaged;
  char m_reason[120];
  CKLF_StringArray m_alphaGiven;  // the names the file gives
  CKLF_StringArray m_alphaNames;  // those of the channels read
  CKLF_Mem m_alphaChannels;

  // Writing.
  PSDMLWRITE_INITPARAMS m_doc;
  u8 m_docSet;
  CKLF_PtrArray m_toWrite;
  CKLF_Mem m_out;      // staging for small writes
  u32 m_outUsed;
  u64 m_pos;           // file position of the next byte
  u8 m_writeFailed;
  CKLF_Mem m_chan;     // one packed row
  CKLF_Mem m_row;      // composite row
  CKLF_Mem m_counts;   // row byte counts of a channel (of all, composite)
  u32 m_threads;
};
