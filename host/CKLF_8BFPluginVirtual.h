// The adapter between the plug-in and the host's filter interface
// (KLP_FilterHost.h). It keeps the pointers the host passes at each call,
// turns the filter record into kltPLUGINDATA_s, moves planes in bands
// through advanceState, and wraps the host services: result codes,
// progress and abort, colour services, document layers through the
// channel-ports suite, channel names and ruler units through the property
// callbacks, the scripting descriptor, and the plug-in's own files; and
// the user interface's run: the application's resource store from the
// plug-in folder, its event loop, the colour picker and the launcher of
// help documents and links.
//
// Cost: plane transfers copy each byte once, in bands of at most
// maxSpace / width rows; the layer table scans transparency in 1 MiB
// bands. Limits: 8-bit planes; a scripting block compresses to at most
// 325000 bytes; names of the layer table are cut to 99 bytes.
#pragma once

#include <cstdint>

#include "CKLF_Array.h"
#include "CKLF_Mem.h"
#include "CKLF_Storage.h"
#include "CKLF_String.h"
#include "KLF_PluginData.h"
#include "KLP_File.h"
#include "KLP_FilterHost.h"

class CKLF_App;
class CKLF_Image;

class CKLF_8BFPluginVirtual : public CKLF_FrameWork {
 public:
  // Host result codes.
  static constexpr i16 klResNoError = 0;
  static constexpr i16 klResCancel = -128;
  static constexpr i16 klResMemFull = -108;
  static constexpr i16 klResBadParam = -30100;
  static constexpr i16 klResBadMode = -30101;

  // Scripting descriptor limits.
  static constexpr u32 klScriptMaxHex = 650000;
  static constexpr u32 klScriptLargeChunk = 65000;
  static constexpr u32 klScriptLargeChunks = 10;
  static constexpr u32 klScriptSmallChunk = 1000;
  // The record that gives the text's length, written once every chunk is
  // in: above klScriptSmallBase when the settings are there.
  static constexpr u32 klScriptLengthKey = KLP_FOURCC('k', 'l', 'a', 'S');
  static constexpr i32 klScriptSmallBase = 10000000;
  static constexpr u32 klScriptSmallChunks = 200;
  // Blocks up to this size are compressed at zlib level 9, larger ones at
  // level 6 (within a few per cent of level 9's size at a fraction of its
  // time), and at level 9 again only when level 6 just misses the limit.
  static constexpr u32 klScriptDenseLargest = 64u << 10;

  CKLF_8BFPluginVirtual();
  ~CKLF_8BFPluginVirtual() override;
  CKLF_8BFPluginVirtual(const CKLF_8BFPluginVirtual&) = delete;
  CKLF_8BFPluginVirtual& operator=(const CKLF_8BFPluginVirtual&) = delete;

  // ---- What the entry stores at every call.
  void SetHostPointers(KLP_FilterRecord* record, intptr_t* data, i16* result);
  void SetPluginFolder(const KLP_FileRef& folder) { m_pluginFolder = folder; }
  const KLP_FileRef& GetPluginFolder() const { return m_pluginFolder; }

  // ---- Selector steps. The adapter's About, Prepare and Start do nothing.
  [[nodiscard]] virtual u8 DoAbout() { return 1; }
  [[nodiscard]] virtual u8 DoParameters();
  [[nodiscard]] virtual u8 DoPrepare() { return 1; }
  [[nodiscard]] virtual u8 DoStart() { return 1; }
  [[nodiscard]] virtual u8 DoContinue();
  [[nodiscard]] virtual u8 DoFinish();
  u8 GetDialogRequest() const { return m_dialogRequest; }

  // ---- Results, progress and abort.
  i16 HostGetRetCode() const;
  void HostSetRetCode(i16 code);
  void HostSetRetCode_Cancel() { HostSetRetCode(klResCancel); }
  void HostSetRetCode_NoError() { HostSetRetCode(klResNoError); }
  void HostSetRetCode_BadParam() { HostSetRetCode(klResBadParam); }
  void HostSetRetCode_MemFull() { HostSetRetCode(klResMemFull); }
  // The host's abort answer (0 without one).
  u8 HostCancel();
  // progressProc(done, total): 1, or 0 without one.
  u8 HostProgress(i32 total, i32 done);
  KLP_FilterRecord* GetFilterRecord() const { return m_filterRecord; }
  kltPLUGINDATA_s* GetPluginDataPtr() { return &m_pluginData; }
  // inRect becomes empty; outRect and maskRect are set equal to it.
  void EmptyRects();

  // ---- Plug-in data (Start). Error 1 without a filter record or for a
  // filter rectangle whose size or place in the document overflows 32 bits,
  // 48 for an unsupported image mode or filter case.
  [[nodiscard]] u8 FillPluginData();
  CKLF_StringArray& GetChannelNames() { return m_channelNames; }

  // ---- Colours. Host colours are 4 bytes in the document's space.
  [[nodiscard]] u8 GetForeColor_RGB(kltRGBA8& rgba);
  [[nodiscard]] u8 GetBgColor_RGB(kltRGBA8& rgba);
  [[nodiscard]] u8 ConvertFilterColorToRGB(const u8 colour[4], kltRGBA8& rgba);
  // The host's colour picker, or without colour services the platform's
  // (16-bit components, each byte x 257); 0 when the user cancels or there
  // is neither, 0 with error 17 when the picker had no memory to show. The
  // chosen colour comes back opaque.
  [[nodiscard]] u8 SelectColor_RGB(kltRGBA8& rgba);
  // An 8-byte colour line: gray, red, green, blue, then four CMYK bytes.
  void Fill8ByteColorLineFromRGB(u8 line[8]);
  [[nodiscard]] u8 SelectColor_ALL(u8 line[8]);
  // count pixels of the document's planes into three RGB planes.
  [[nodiscard]] u8 ConvertArrayToRGB(u8** src, u8** dst, u32 count);
  [[nodiscard]] u8 ConvertArrayToRGB_Internal(u8** src, u8** dst, u32 count);

  // ---- Document layers through the channel-ports suite.
  [[nodiscard]] u8 InitPSSuites();
  // Bounds (whole-document) of the layer's first composite channel; -1 the
  // merged document; klNullRect when not found.
  kltRECT_s PS_GetLayerBounds(i32 layerId);
  // The layer's colour channels, then its transparency (255 without one),
  // over rect (whole-document, width x height).
  [[nodiscard]] u8 PS_GetLayer(i32 layerId, u8** planes, i32 width, i32 height, u8 planeCount, kltRECT_s rect);
  // As PS_GetLayer; a four-plane request turns a gray or CMYK layer to RGB.
  [[nodiscard]] u8 PS_GetLayerWithColorConversionIfNeeded(i32 layerId, u8** planes, i32 width, i32 height,
                                                          u8 planeCount, kltRECT_s rect);
  // The layer's rect (whole-document) scaled by nearest sampling into an
  // RGBA image (filled white and opaque first); gray copied to the three
  // colours, CMYK turned to RGB, the transparency scaled into the alpha.
  [[nodiscard]] u8 PS_GetScaledLayerRGB(i32 layerId, CKLF_Image* image, kltRECT_s rect);
  // The layer table with bounds trimmed to non-zero transparency, cut to
  // rect when one is given. Kept until forced.
  [[nodiscard]] u8 PS_FillRealLayerBounds(kltRECT_s rect, u8 force);
  u32 GetLayerCount() const { return m_layerCount; }
  const kltLAYERINFO_s* GetLayerInfo(u32 index) const;

  // ---- Planes (rectangles in the filtered image's coordinates).
  [[nodiscard]] u8 HostDoIt();
  // plane 255 reads the selection mask.
  [[nodiscard]] u8 HostGetChanel(u8 plane, kltRECT_s rect, u8* buffer, u32 rowBytes);
  [[nodiscard]] u8 HostGetAlphaChanel(u8 plane, kltRECT_s rect, u8* buffer, u32 rowBytes);
  [[nodiscard]] u8 HostPutChanel(u8 plane, kltRECT_s rect, const u8* buffer, u32 rowBytes);
  [[nodiscard]] u8 HostPutChanel(u8 plane, kltRECT_s rect, u8 value);
  // Writes plane of rect with rows made straight into the host's bands:
  // make(user, row, rows, dst, dstRowBytes) fills rows row.. (counted from
  // the rectangle's top), each row width bytes at dst + k x dstRowBytes.
  // It is called for parts of a band side by side and must only write
  // them.
  typedef void (*RowMaker)(void* user, u32 row, u32 rows, u8* dst, i64 dstRowBytes);
  [[nodiscard]] u8 HostPutChanelRows(u8 plane, kltRECT_s rect, RowMaker make, void* user);

  // ---- Scripting descriptor.
  // Settings whose compressed block would pass klScriptMaxHex / 2 bytes
  // fail with error 65 as soon as the compression gets there, and the
  // descriptor is written empty; so do those of more than 200 small
  // chunks for a host that takes no large text.
  [[nodiscard]] u8 WriteEncryptedScriptParameter_V2(const void* data, u32 size);
  // Whether the writer above would take the block: 1; else 0 with error
  // 65 (too large), 17 (memory) or 1 (no block).
  [[nodiscard]] u8 FitsScriptParameter(const void* data, u32 size);
  // A malformed descriptor also sets the host result to -30100.
  [[nodiscard]] u8 ReadEncryptedScriptParameter_V2(CKLF_Mem& block, u8& display);
  // The older form, which the system no longer calls: at most 6500 hex
  // characters (a block that compresses below 3251 bytes) in chunks of 250
  // under "klea" .. "klez", each a length byte, the letter 'A' + its index,
  // then its characters.
  [[nodiscard]] u8 WriteEncryptedScriptParameter(const void* data, u32 size);
  [[nodiscard]] u8 ReadEncryptedScriptParameter(CKLF_Mem& block, u8& display);

  // ---- The user interface's run.
  // The application's event loop (CKLF_App::DoAppSpecialModal) for app,
  // which must be the current application; its result, -1 for another.
  [[nodiscard]] i32 RunApp(CKLF_App* app);
  // Opens the application's UI resource store from the named file of the
  // plug-in folder, or from the resource variant when name is null.
  [[nodiscard]] u8 InitAppStorage(CKLF_App* app, const char* name);

  // ---- The plug-in's files, in the plug-in folder. folder is not used.
  // The configuration store: opened for reading and writing, else created.
  [[nodiscard]] u8 ConfStorage_Open(CKLF_String name);
  CKLF_Storage* ConfStorage_GetStorage() { return m_confOpen ? &m_conf : nullptr; }
  [[nodiscard]] u8 ConfStorage_Close();
  [[nodiscard]] u8 ConfFile_Read(CKLF_Mem& block, CKLF_String name, CKLF_String folder);
  [[nodiscard]] u8 ConfFile_Write(const void* data, u32 size, CKLF_String name, CKLF_String folder);
  [[nodiscard]] u8 ConfFile_Write(CKLF_Mem& block, CKLF_String name, CKLF_String folder);
  [[nodiscard]] u8 LaunchFile(CKLF_String name);
  // Opens a web or mail link (ASCII) with the desktop's launcher; 1 on success.
  [[nodiscard]] u8 LaunchURL(const char* text);

 protected:
  // One band-wise transfer; mode 0 read, 1 write, 2 fill, 3 rows made by
  // make. The rows of a band are moved side by side on the plug-in's
  // threads.
  [[nodiscard]] u8 i_Transfer(u8 plane, const kltRECT_s& rect, u8* buffer, u32 rowBytes, u8 mode, u8 value, u8 absolute,
                              RowMaker make = nullptr, void* user = nullptr);
  [[nodiscard]] u8 i_HostColorServices(KLP_ColorServicesInfo& info);
  // The steps of FillPluginData.
  [[nodiscard]] u8 i_FillGeometry();
  [[nodiscard]] u8 i_FillModeAndCase();
  [[nodiscard]] u8 i_FillChannelNames();
  [[nodiscard]] u8 i_FillICCProfile();
  [[nodiscard]] u8 i_ReadChannel(const KLP_ChannelDesc* channel, u8* plane, i32 stride, const kltRECT_s& rect);
  // The composite channels and transparency of a layer (-1: the merged
  // document); 0 when the layer is not there.
  u8 i_LayerChannels(i32 layerId, const KLP_ChannelDesc*& first, const KLP_ChannelDesc*& transparency) const;
  [[nodiscard]] u8 i_WESP_SetText(const char* text, u32 length, u32 key, KLP_WriteDescriptorRef writer, u32 index);
  [[nodiscard]] u8 i_WESP_GetText(u8* buffer, u32 bufferSize, u32 chunkSize, KLP_ReadDescriptorRef reader,
                                  u32 chunkCount);
  // The descriptor's procedures that writing and reading need; 0 (error 1)
  // when one is missing.
  [[nodiscard]] u8 i_CanWriteDescriptor();
  [[nodiscard]] u8 i_CanReadDescriptor();
  // Puts one text record (the bytes as given) under key.
  [[nodiscard]] u8 i_PutText(const char* bytes, u32 length, u32 key, KLP_WriteDescriptorRef writer);
  // The old descriptor handed back and the writer closed into a new one;
  // 0 when the host gives none back.
  [[nodiscard]] u8 i_CloseDescriptor(KLP_WriteDescriptorRef writer);
  // hex text (upper-case, two characters a byte) into the decompressed block.
  [[nodiscard]] u8 i_DecodeHexBlock(const u8* hex, u32 length, CKLF_Mem& block);
  void i_ReleaseSuites();

  KLP_FileRef m_pluginFolder;
  CKLF_String m_folderName;
  KLP_FilterRecord* m_filterRecord;
  intptr_t* m_data;
  i16* m_resultCopy;
  CKLF_Mem m_iccProfile;
  kltPLUGINDATA_s m_pluginData;
  CKLF_StringArray m_channelNames;
  i16* m_result;
  CKLF_Storage m_conf;
  u8 m_confOpen;
  const KLP_ChannelPortsSuite* m_portsSuite;
  const KLP_BasicSuite* m_suiteOwner;  // the basic suite it was acquired from
  void* m_suiteContext;
  CKLF_Mem m_layerTable;
  kltLAYERINFO_s* m_layers;
  u32 m_layerCount;
  u8 m_dialogRequest;
};
