// An image host that runs a filter plug-in through the filter host
// interface (KLP_FilterHost.h), kept in memory: the document's planes,
// transparency and selection, document layers behind the channel-ports
// suite, handles, properties, colour services and a scripting descriptor.
// It serves the plug-in's plane requests band by band through advanceState:
// a single plane (and the selection) is lent in place, with the document's
// row bytes; a range of planes is interleaved into a buffer of its own, and
// it commits every band it handed out before it serves the next one and
// when the plug-in's call returns.
//
// Callbacks never let an exception unwind into the plug-in: an allocation
// that fails is the callback's failure.
//
// Cost: a request for a range of planes copies its band once in and once
// out; one for a single plane copies nothing. The document is held as
// whole planes (width x height bytes each), its layers at their own sizes. Limits: 8-bit planes, at most 4 colour planes, sizes that fit
// 32-bit byte counts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "KLP_FilterHost.h"

class CKLP_UIPlatform;

class CKLT_FilterHost {
 public:
  // A document layer held at its own bounds: its planes cover rect (an
  // empty rect: the whole document, or nothing when the planes are empty);
  // outside it the layer is transparent.
  struct Layer {
    int32_t id = 0;
    std::string name;
    bool pixelBased = true;
    KLP_Rect32 bounds = {0, 0, 0, 0};          // content bounds in the document
    KLP_Rect32 rect = {0, 0, 0, 0};            // where the planes lie; may reach beyond the document
    std::vector<std::vector<uint8_t>> planes;  // colour planes of rect's size
    std::vector<uint8_t> transparency;         // rect's size; empty: opaque inside rect
    // The layer being filtered, whose planes were lent as the document's:
    // its pixels are read from the document planes (planes stay empty).
    bool document = false;
  };

  struct DescRecord {
    uint32_t key = 0;
    uint32_t type = 0;
    int32_t integer = 0;
    std::string text;  // bytes of a text record, as the plug-in put them
  };

  // What the host offers; tests switch services off to see how the
  // plug-in copes with a poorer host.
  struct Services {
    bool advanceState = true;
    bool abort = true;
    bool progress = true;
    bool colorServices = true;
    bool handleProcs = true;
    bool propertyProcs = true;
    bool descriptor = true;
    bool basicSuite = true;
    bool documentInfo = true;
    bool supportsAbsolute = true;
  };

  CKLT_FilterHost();
  ~CKLT_FilterHost();
  CKLT_FilterHost(const CKLT_FilterHost&) = delete;
  CKLT_FilterHost& operator=(const CKLT_FilterHost&) = delete;

  // The document being filtered: mode klpModeGray, klpModeRGB or
  // klpModeCMYK (others are accepted to test refusals: one plane). Planes
  // start at 0, a transparency plane at 255; unless blank is false: then
  // they are left empty for the caller to put whole planes in.
  [[nodiscard]] bool SetDocument(int16_t imageMode, int32_t width, int32_t height, bool transparency,
                                 bool blank = true);
  int32_t Width() const { return m_width; }
  int32_t Height() const { return m_height; }
  int ColourPlanes() const { return m_colourPlanes; }
  bool HasTransparency() const { return m_hasTransparency; }
  // Colour planes 0.. then the transparency plane.
  std::vector<uint8_t>& Plane(int index) { return m_planes[index]; }
  const std::vector<uint8_t>& Plane(int index) const { return m_planes[index]; }
  int PlaneCount() const { return static_cast<int>(m_planes.size()); }

  // A document alpha channel (the document's size; false for another).
  // Read with absolute plane numbers, which count the colour planes, the
  // transparency plane when there is one, then the alpha channels in the
  // order added; the channel names should follow the same order.
  [[nodiscard]] bool AddAlphaChannel(std::vector<uint8_t> plane);
  size_t AlphaChannelCount() const { return m_alphaChannels.size(); }

  // Transparency that the plug-in may not write (cases 6 and 7).
  void LockTransparency(bool locked) { m_transparencyLocked = locked; }
  // A selection mask of the document's size; the filter rectangle becomes
  // the bounds of its non-zero pixels. An empty vector removes it.
  [[nodiscard]] bool SetSelection(const std::vector<uint8_t>& mask);
  bool HasSelection() const { return !m_selection.empty(); }
  // Overrides the filter rectangle (within the image).
  void SetFilterRect(const KLP_Rect32& r) { m_filterRect = r; }
  const KLP_Rect32& FilterRect() const { return m_filterRect; }
  // The filtered image inside a larger document.
  void SetPlacement(int32_t wholeWidth, int32_t wholeHeight, int32_t x, int32_t y);
  // -1: the case follows from transparency, lock and selection.
  void ForceFilterCase(int16_t filterCase) { m_forcedCase = filterCase; }
  void SetHostSignature(uint32_t sig) { m_hostSig = sig; }
  void SetTransparencyMaskFields(int16_t inMask, int16_t outMask) {
    m_inTransparencyMask = inMask;
    m_outTransparencyMask = outMask;
    m_transparencyFieldsForced = true;
  }
  void SetColours(const uint8_t fore[4], const uint8_t back[4]);
  void SetResolution(double horizontal, double vertical);  // 0 stays 0
  void SetMaxSpace(int32_t bytes) { m_maxSpace = bytes; }
  // Refuse requests larger than maxSpace (to check that bands respect it).
  void SetStrictSpace(bool strict) { m_strictSpace = strict; }
  void SetRulerUnits(int32_t units) { m_rulerUnits = units; }  // -1: no answer
  // Threads the plug-in may run (the threads property); 0: no answer.
  void SetThreads(int32_t threads) { m_threads = threads; }
  void SetChannelNames(const std::vector<std::string>& names, bool answerNames);
  void SetICCProfile(const std::vector<uint8_t>& profile) { m_icc = profile; }
  Services& GetServices() { return m_services; }

  // Document layers for the channel-ports suite; merged composite planes
  // (and optional transparency) for the document as a whole.
  void AddLayer(Layer layer) { m_layers.push_back(std::move(layer)); }
  std::vector<Layer>& Layers() { return m_layers; }
  void SetMergedComposite(std::vector<std::vector<uint8_t>> planes, std::vector<uint8_t> transparency);
  // The merged composite is the document's planes themselves (one opaque
  // layer over the whole canvas): nothing is copied.
  void SetMergedIsDocument() { m_mergedIsDocument = true; }

  // Abort answers yes from the (n+1)-th poll on; -1 never.
  void CancelAfterPolls(int64_t n) { m_cancelAfter = n; }
  // A scripted answer of the colour picker (RGB), which then answers
  // every choice; not chosen cancels.
  void SetPickedColour(bool chosen, uint8_t r, uint8_t g, uint8_t b);
  // Drops the scripted answer: the chooser answers again.
  void ForgetPickedColour() { m_colourScripted = false; }
  // Without a scripted answer the picker is the chooser of the UI platform
  // this answers, found when a choice is asked (on a display, the system's
  // chooser over the plug-in's front window); none cancels.
  void SetColourChooser(std::function<CKLP_UIPlatform*()> chooser) { m_chooser = std::move(chooser); }
  // Texts longer than this are refused by putText (0: no limit).
  void SetMaxDescriptorText(size_t n) { m_maxText = n; }
  void SetProgressSink(std::function<void(int32_t done, int32_t total)> sink) { m_progressSink = std::move(sink); }

  // This host's colour conversion between klpSpaceRGB, klpSpaceGray and
  // klpSpaceCMYK (CMYK samples as in the planes: 255 is no ink). False for
  // other spaces.
  static bool ConvertColour(int16_t from, const int16_t in[4], int16_t to, int16_t out[4]);

  // Scripting descriptor kept between runs.
  const std::vector<DescRecord>& Descriptor() const { return m_descriptor; }
  bool HasDescriptor() const { return m_hasDescriptor; }
  void SetDescriptor(const std::vector<DescRecord>& records);
  void ClearDescriptor();
  // Byte form of a descriptor ("KLPDSC01", big-endian records); the reader
  // checks every length against the bytes present.
  static std::vector<uint8_t> EncodeDescriptor(const std::vector<DescRecord>& records);
  [[nodiscard]] static bool DecodeDescriptor(const uint8_t* data, size_t size, std::vector<DescRecord>& out);
  void SetPlayInfo(int16_t playInfo) { m_playInfo = playInfo; }

  // Calls the plug-in once with a selector; the record persists between
  // calls of one run. Returns the plug-in's result.
  [[nodiscard]] int16_t Call(KLP_PluginMainProc entry, int16_t selector);
  // A whole run: [Parameters,] Prepare, Start, Continue while the plug-in
  // asks for data, Finish when everything succeeded. With a selection the
  // planes written reach the document through it (blended by the mask), as
  // an image host applies a filter. Returns the first non-zero result, else 0.
  [[nodiscard]] int16_t RunFilter(KLP_PluginMainProc entry, bool showDialog);
  // Starts a new run: the record is rebuilt from the document at the next call.
  void ResetRun();
  // Whether a callback of this run failed for want of memory (whatever the
  // plug-in then made of it).
  bool MemoryFailed() const { return m_memoryFailed; }
  void NoteMemoryFailure() { m_memoryFailed = true; }
  // Takes back the last band handed out (what the host does when a call of
  // the plug-in returns); for code that drives an adapter directly.
  void CommitPending() { i_CommitOut(); }
  // Takes the descriptor the plug-in left in the record as the kept one
  // (done after every call): false when it cannot be read, the kept one
  // left as it was.
  [[nodiscard]] bool TakeDescriptor();
  // Whether a descriptor the plug-in left in a call of this run could not
  // be read (a script of the run would lose it).
  bool DescriptorBroken() const { return m_descriptorBroken; }
  // The record of the current run (built from the document when needed).
  KLP_FilterRecord& Record() {
    if (!m_recordBuilt) i_BuildRecord();
    return m_record;
  }

  // Observations.
  int64_t AdvanceCalls() const { return m_advanceCalls; }
  int64_t LargestRequest() const { return m_largestRequest; }
  int64_t AbortPolls() const { return m_abortPolls; }
  const std::vector<std::pair<int32_t, int32_t>>& ProgressCalls() const { return m_progress; }
  int64_t LiveHandles() const;
  int64_t LockedHandles() const;
  int64_t EventCalls() const { return m_eventCalls; }
  int64_t OpenDescriptors() const { return m_openDescs; }
  int64_t AcquiredSuites() const { return m_acquired; }
  void SetDocumentInfoVersion(int32_t maxVersion) { m_docInfoVersion = maxVersion; }
  void ClearObservations();

 private:
  struct Port;
  struct Handle;
  struct ReadDesc;
  struct WriteDesc;

  void i_BuildRecord();
  void i_BuildDocumentInfo();
  void i_CommitOut();
  [[nodiscard]] int16_t i_Advance();
  int16_t i_FilterCase() const;
  const std::vector<uint8_t>* i_PlaneFor(int32_t plane, bool absolute, bool forWriting) const;
  void i_FreeRunHandles();

  [[nodiscard]] Handle* i_NewHandle(const void* data, size_t size);
  bool i_IsHandle(KLP_Handle h) const;

  // C callbacks.
  [[nodiscard]] static uint8_t s_Abort(void* ctx);
  static void s_Progress(void* ctx, int32_t done, int32_t total);
  [[nodiscard]] static int16_t s_Advance(void* ctx);
  [[nodiscard]] static int16_t s_Color(void* ctx, KLP_ColorServicesInfo* info);
  // The picker's answer into rgb: klpResNoErr, klpResUserCanceled, or
  // klpResMemFull when the picker had no memory to show.
  [[nodiscard]] int16_t i_ChooseColour(const KLP_ColorServicesInfo* info, int rgb[3]);
  static void s_Event(void* ctx, void* event);
  static KLP_Handle s_NewHandle(void* ctx, int32_t size);
  static void s_DisposeHandle(void* ctx, KLP_Handle h);
  [[nodiscard]] static int32_t s_GetHandleSize(void* ctx, KLP_Handle h);
  [[nodiscard]] static int16_t s_SetHandleSize(void* ctx, KLP_Handle h, int32_t size);
  [[nodiscard]] static char* s_LockHandle(void* ctx, KLP_Handle h, uint8_t moveHigh);
  static void s_UnlockHandle(void* ctx, KLP_Handle h);
  [[nodiscard]] static int16_t s_GetProperty(void* ctx, uint32_t sig, uint32_t key, int32_t index, intptr_t* simple,
                                             KLP_Handle* complex);
  [[nodiscard]] static int16_t s_SetProperty(void* ctx, uint32_t sig, uint32_t key, int32_t index, intptr_t simple,
                                             KLP_Handle complex);
  static KLP_ReadDescriptorRef s_OpenRead(void* ctx, KLP_Handle descriptor, const uint32_t* keys);
  [[nodiscard]] static int16_t s_CloseRead(void* ctx, KLP_ReadDescriptorRef ref);
  [[nodiscard]] static uint8_t s_GetKey(void* ctx, KLP_ReadDescriptorRef ref, uint32_t* key, uint32_t* type,
                                        int32_t* flags);
  [[nodiscard]] static int16_t s_GetInteger(void* ctx, KLP_ReadDescriptorRef ref, int32_t* value);
  [[nodiscard]] static int16_t s_GetText(void* ctx, KLP_ReadDescriptorRef ref, KLP_Handle* text);
  static KLP_WriteDescriptorRef s_OpenWrite(void* ctx);
  [[nodiscard]] static int16_t s_CloseWrite(void* ctx, KLP_WriteDescriptorRef ref, KLP_Handle* descriptor);
  [[nodiscard]] static int16_t s_PutInteger(void* ctx, KLP_WriteDescriptorRef ref, uint32_t key, int32_t value);
  [[nodiscard]] static int16_t s_PutText(void* ctx, KLP_WriteDescriptorRef ref, uint32_t key, KLP_Handle text);
  [[nodiscard]] static int32_t s_AcquireSuite(void* ctx, const char* name, int32_t version, const void** suite);
  [[nodiscard]] static int32_t s_ReleaseSuite(void* ctx, const char* name, int32_t version);
  [[nodiscard]] static int16_t s_ReadPixels(void* ctx, KLP_ChannelPort port, int32_t level, const KLP_Rect32* rect,
                                            const KLP_PixelMemoryDesc* dest);

  // Document.
  int16_t m_mode = klpModeRGB;
  int32_t m_width = 0;
  int32_t m_height = 0;
  int m_colourPlanes = 0;
  bool m_hasTransparency = false;
  bool m_transparencyLocked = false;
  std::vector<std::vector<uint8_t>> m_planes;
  std::vector<std::vector<uint8_t>> m_alphaChannels;
  std::vector<uint8_t> m_selection;
  KLP_Rect32 m_filterRect = {0, 0, 0, 0};
  int32_t m_wholeWidth = 0;
  int32_t m_wholeHeight = 0;
  int32_t m_originX = 0;
  int32_t m_originY = 0;
  int16_t m_forcedCase = -1;
  uint32_t m_hostSig = KLP_SIG_8BIM;
  bool m_transparencyFieldsForced = false;
  int16_t m_inTransparencyMask = 0;
  int16_t m_outTransparencyMask = 0;
  uint8_t m_fore[4] = {0, 0, 0, 0};
  uint8_t m_back[4] = {255, 255, 255, 255};
  double m_hres = 72.0;
  double m_vres = 72.0;
  int32_t m_maxSpace = 1 << 20;
  bool m_strictSpace = false;
  int32_t m_rulerUnits = 0;
  int32_t m_threads = 0;
  std::vector<std::string> m_channelNames;
  bool m_answerNames = true;
  std::vector<uint8_t> m_icc;
  Services m_services;
  std::vector<Layer> m_layers;
  std::vector<std::vector<uint8_t>> m_mergedPlanes;
  std::vector<uint8_t> m_mergedTransparency;
  bool m_mergedIsDocument = false;
  int64_t m_cancelAfter = -1;
  bool m_colourScripted = false;
  bool m_colourChosen = false;
  std::function<CKLP_UIPlatform*()> m_chooser;
  uint8_t m_picked[3] = {0, 0, 0};
  size_t m_maxText = 0;
  std::function<void(int32_t, int32_t)> m_progressSink;
  std::vector<DescRecord> m_descriptor;
  bool m_hasDescriptor = false;
  int16_t m_playInfo = klpDialogDontDisplay;

  // Run state.
  bool m_recordBuilt = false;
  KLP_FilterRecord m_record;
  KLP_HandleProcs m_handleProcs;
  KLP_PropertyProcs m_propertyProcs;
  KLP_ReadDescriptorProcs m_readProcs;
  KLP_WriteDescriptorProcs m_writeProcs;
  KLP_DescriptorParameters m_descParams;
  KLP_BasicSuite m_basicSuite;
  KLP_ChannelPortsSuite m_portsSuite;
  KLP_DocumentInfo m_docInfo;
  std::vector<Port*> m_ports;
  std::vector<KLP_ChannelDesc> m_channelDescs;
  std::vector<KLP_LayerDesc> m_layerDescs;
  std::vector<Handle*> m_handles;
  Handle* m_iccHandle = nullptr;
  std::vector<uint8_t> m_inBuffer;
  std::vector<uint8_t> m_outBuffer;
  bool m_outPending = false;
  bool m_memoryFailed = false;
  bool m_descriptorBroken = false;
  KLP_Rect32 m_outServed = {0, 0, 0, 0};
  int16_t m_outLo = 0;
  int16_t m_outHi = 0;
  int32_t m_outRowBytes = 0;

  // Observations.
  int64_t m_advanceCalls = 0;
  int64_t m_largestRequest = 0;
  int64_t m_abortPolls = 0;
  int64_t m_eventCalls = 0;
  int64_t m_openDescs = 0;
  int64_t m_acquired = 0;
  int32_t m_docInfoVersion = 2;
  intptr_t m_pluginData = 0;
  std::vector<std::pair<int32_t, int32_t>> m_progress;
};
