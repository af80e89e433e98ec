#include "CKLF_8BFPluginVirtual.h"

#include <cstdint>
#include <cstring>

#include "CKLF_App.h"
#include "CKLF_StdFile.h"
#include "CKLP_UIPlatform.h"

namespace {

// Longest channel name taken from the host.
constexpr i32 kMaxChannelName = 255;

bool NonZeroSize(const KLP_Point32& p) { return p.h != 0 && p.v != 0; }

bool FitsI32(i64 v) { return v >= INT32_MIN && v <= INT32_MAX; }

// A host's colour component as a byte.
u8 Sample(i16 v) { return static_cast<u8>(v < 0 ? 0 : v > 255 ? 255 : v); }

kltRGBA8 OpaqueRGB(const KLP_ColorServicesInfo& info) {
  return kltRGBA8{Sample(info.colorComponents[0]), Sample(info.colorComponents[1]), Sample(info.colorComponents[2]),
                  255};
}

// A request of colour services for one colour (a conversion unless the
// caller changes the selector).
KLP_ColorServicesInfo Conversion(i16 from, i16 to, const u8* components, int count) {
  KLP_ColorServicesInfo info;
  std::memset(&info, 0, sizeof(info));
  info.selector = klpColorConvert;
  info.sourceSpace = from;
  info.resultSpace = to;
  for (int i = 0; i < count; ++i) info.colorComponents[i] = components[i];
  return info;
}

}  // namespace

CKLF_8BFPluginVirtual::CKLF_8BFPluginVirtual()
    : m_filterRecord(nullptr),
      m_data(nullptr),
      m_resultCopy(nullptr),
      m_result(nullptr),
      m_confOpen(0),
      m_portsSuite(nullptr),
      m_suiteOwner(nullptr),
      m_suiteContext(nullptr),
      m_layers(nullptr),
      m_layerCount(0),
      m_dialogRequest(0) {
  std::memset(&m_pluginData, 0, sizeof(m_pluginData));
}

CKLF_8BFPluginVirtual::~CKLF_8BFPluginVirtual() {
  // The run closed it and read the result; here it is only let go.
  (void)ConfStorage_Close();
  i_ReleaseSuites();
}

void CKLF_8BFPluginVirtual::SetHostPointers(KLP_FilterRecord* record, intptr_t* data, i16* result) {
  // A suite belongs to the record it was acquired through.
  if (record != m_filterRecord) i_ReleaseSuites();
  m_filterRecord = record;
  m_data = data;
  m_resultCopy = result;
  m_result = result;
}

u8 CKLF_8BFPluginVirtual::DoParameters() {
  m_dialogRequest = 1;
  return 1;
}

u8 CKLF_8BFPluginVirtual::DoContinue() {
  EmptyRects();
  return 1;
}

u8 CKLF_8BFPluginVirtual::DoFinish() {
  EmptyRects();
  m_dialogRequest = 0;
  return 1;
}

i16 CKLF_8BFPluginVirtual::HostGetRetCode() const { return m_result ? *m_result : 0; }

void CKLF_8BFPluginVirtual::HostSetRetCode(i16 code) {
  if (m_result) *m_result = code;
}

u8 CKLF_8BFPluginVirtual::HostCancel() {
  if (!m_filterRecord || !m_filterRecord->abortProc) return 0;
  return m_filterRecord->abortProc(m_filterRecord->hostContext) ? 1 : 0;
}

u8 CKLF_8BFPluginVirtual::HostProgress(i32 total, i32 done) {
  if (!m_filterRecord || !m_filterRecord->progressProc) return 0;
  m_filterRecord->progressProc(m_filterRecord->hostContext, done, total);
  return 1;
}

void CKLF_8BFPluginVirtual::EmptyRects() {
  if (!m_filterRecord) return;
  m_filterRecord->inRect = KLP_Rect32{0, 0, 0, 0};
  m_filterRecord->outRect = m_filterRecord->inRect;
  m_filterRecord->maskRect = m_filterRecord->inRect;
}

u8 CKLF_8BFPluginVirtual::FillPluginData() {
  KLP_FilterRecord* fr = m_filterRecord;
  if (!fr) return Fail(klErrBadArg);
  ResetError();
  kltPLUGINDATA_s& pd = m_pluginData;
  std::memset(&pd, 0, sizeof(pd));
  m_channelNames.Empty();
  if (!i_FillGeometry() || !i_FillModeAndCase()) return 0;
  std::memcpy(pd.foreColor, fr->foreColor, 4);
  std::memcpy(pd.backColor, fr->backColor, 4);
  pd.resolutionH = fr->imageHRes / 65536.0;
  pd.resolutionV = fr->imageVRes / 65536.0;
  if (pd.resolutionH <= 0 && pd.resolutionV > 0) pd.resolutionH = pd.resolutionV;
  if (pd.resolutionV <= 0 && pd.resolutionH > 0) pd.resolutionV = pd.resolutionH;
  const KLP_PropertyProcs* props = fr->propertyProcs;
  if (props && props->getPropertyProc) {
    intptr_t v = 0;
    if (props->getPropertyProc(fr->hostContext, KLP_SIG_8BIM, KLP_PROP_RULER_UNITS, 0, &v, nullptr) == 0) {
      if (v >= 0 && v <= 3)
        pd.rulerUnits = static_cast<u8>(v);
      else if (v == 6)
        pd.rulerUnits = 4;
    }
    v = 0;
    if (props->getPropertyProc(fr->hostContext, KLP_SIG_8BIM, KLP_PROP_THREADS, 0, &v, nullptr) == 0 && v > 0)
      pd.threads = static_cast<u16>(v > 256 ? 256 : v);
  }
  if (!i_FillChannelNames() || !i_FillICCProfile()) return 0;
  const KLP_DocumentInfo* doc = fr->documentInfo;
  if (fr->basicSuite && doc && doc->maxVersion >= 2 && doc->layers && InitPSSuites()) pd.layerAccess = 1;
  return 1;
}

// Filter rectangle, whole and image sizes, origin and the filter area in
// the document.
u8 CKLF_8BFPluginVirtual::i_FillGeometry() {
  const KLP_FilterRecord* fr = m_filterRecord;
  kltPLUGINDATA_s& pd = m_pluginData;
  pd.filterRect = kltRECT_s{fr->filterRect.left, fr->filterRect.top, fr->filterRect.right, fr->filterRect.bottom};
  const i64 fw64 = static_cast<i64>(pd.filterRect.right) - pd.filterRect.left;
  const i64 fh64 = static_cast<i64>(pd.filterRect.bottom) - pd.filterRect.top;
  const bool wholeGiven = NonZeroSize(fr->wholeSize);
  const i64 areaLeft = static_cast<i64>(wholeGiven ? fr->floatCoord.h : 0) + pd.filterRect.left;
  const i64 areaTop = static_cast<i64>(wholeGiven ? fr->floatCoord.v : 0) + pd.filterRect.top;
  // Every size and place below is a 32-bit field.
  if (!FitsI32(fw64) || !FitsI32(fh64) || !FitsI32(areaLeft) || !FitsI32(areaTop) || !FitsI32(areaLeft + fw64) ||
      !FitsI32(areaTop + fh64))
    return Fail(klErrBadArg);
  const i32 fw = static_cast<i32>(fw64), fh = static_cast<i32>(fh64);
  if (wholeGiven) {
    pd.wholeSize = kltSIZE_s{fr->wholeSize.h, fr->wholeSize.v};
    pd.imageSize = kltSIZE_s{fr->imageSize.h, fr->imageSize.v};
    pd.origin = kltPOS{fr->floatCoord.h, fr->floatCoord.v};
  } else if (NonZeroSize(fr->imageSize)) {
    // No document around the image: the image is the whole document.
    pd.wholeSize = pd.imageSize = kltSIZE_s{fr->imageSize.h, fr->imageSize.v};
  } else {
    pd.wholeSize = pd.imageSize = kltSIZE_s{fw, fh};
  }
  // The filter rectangle lies at its own place inside the image, and the
  // image at origin inside the document: plane reads use filterRect, so the
  // area in the document must keep filterRect's offset as well.
  pd.filterArea.left = pd.origin.x + pd.filterRect.left;
  pd.filterArea.top = pd.origin.y + pd.filterRect.top;
  pd.filterArea.right = pd.filterArea.left + fw;
  pd.filterArea.bottom = pd.filterArea.top + fh;
  return 1;
}

// Colour kind and planes by the image mode; transparency, selection and
// editable transparency by the filter case. Error 48 for others.
u8 CKLF_8BFPluginVirtual::i_FillModeAndCase() {
  const KLP_FilterRecord* fr = m_filterRecord;
  kltPLUGINDATA_s& pd = m_pluginData;
  switch (fr->imageMode) {
    case klpModeGray:
      pd.colorKind = 0;
      pd.planes = 1;
      break;
    case klpModeRGB:
      pd.colorKind = 1;
      pd.planes = 3;
      break;
    case klpModeCMYK:
      pd.colorKind = 2;
      pd.planes = 4;
      break;
    default:
      return Fail(klErrUnsupported);
  }
  pd.bits = 8;
  pd.hostMask = fr->haveMask ? 1 : 0;
  static const u8 kCases[8][3] = {
      // transparency, selection, editable
      {0, 0, 0}, {0, 0, 0}, {0, 1, 0}, {1, 1, 1}, {1, 0, 1}, {1, 1, 1}, {1, 0, 0}, {1, 1, 0},
  };
  if (fr->filterCase == 0) {
    pd.selection = pd.hostMask;
    return 1;
  }
  if (fr->filterCase < 1 || fr->filterCase > 7) return Fail(klErrUnsupported);
  pd.transparency = kCases[fr->filterCase][0];
  pd.selection = kCases[fr->filterCase][1];
  pd.editableTransparency = kCases[fr->filterCase][2];
  if (fr->hostSig != KLP_SIG_8BIM) {
    if (!pd.transparency && fr->inTransparencyMask > 0) pd.transparency = 1;
    // Writable only when there is a transparency plane to write.
    if (pd.transparency && fr->outTransparencyMask > 0) pd.editableTransparency = 1;
  }
  if (pd.transparency) pd.planes++;
  return 1;
}

// Names of the document's channels when the host tells them; "Channel %d"
// for a name it does not give. 0 with error 17 without memory for them.
u8 CKLF_8BFPluginVirtual::i_FillChannelNames() {
  const KLP_FilterRecord* fr = m_filterRecord;
  const KLP_PropertyProcs* props = fr->propertyProcs;
  intptr_t count = 0;
  if (!fr->supportsAbsolute || !props || !props->getPropertyProc ||
      props->getPropertyProc(fr->hostContext, KLP_SIG_8BIM, KLP_PROP_CHANNEL_COUNT, 0, &count, nullptr) != 0 ||
      count <= 0)
    return 1;
  if (count > 65535) count = 65535;
  m_pluginData.channelNamesGiven = 1;
  m_pluginData.channelCount = static_cast<u16>(count);
  const KLP_HandleProcs* hp = fr->handleProcs;
  for (i32 i = 0; i < static_cast<i32>(count); ++i) {
    CKLF_String name;
    u8 got = 0;
    KLP_Handle h = nullptr;
    if (hp && hp->getSizeProc && hp->lockProc && hp->unlockProc && hp->disposeProc &&
        props->getPropertyProc(fr->hostContext, KLP_SIG_8BIM, KLP_PROP_CHANNEL_NAME, i, nullptr, &h) == 0 && h) {
      i32 size = hp->getSizeProc(fr->hostContext, h);
      char* p = hp->lockProc(fr->hostContext, h, 0);
      if (p && size >= 0) {
        i32 n = 0;
        while (n < size && n < kMaxChannelName && p[n]) ++n;
        char buf[kMaxChannelName + 1];
        std::memcpy(buf, p, static_cast<size_t>(n));
        buf[n] = 0;
        got = (name = buf).IsError() ? 2 : 1;
      }
      if (p) hp->unlockProc(fr->hostContext, h);
      hp->disposeProc(fr->hostContext, h);
    }
    if (got == 2 || (!got && !name.Format("Channel %d", i + 1)) || m_channelNames.Add(name, static_cast<u32>(i)) < 0)
      return Fail(klErrNoMemory);
  }
  return 1;
}

// A copy of the document's colour profile, when the host offers one; 0
// with error 17 without memory for it.
u8 CKLF_8BFPluginVirtual::i_FillICCProfile() {
  const KLP_FilterRecord* fr = m_filterRecord;
  const KLP_HandleProcs* hp = fr->handleProcs;
  if (!hp || !hp->lockProc || !hp->unlockProc || !fr->canUseICCProfiles || !fr->iCCprofileData ||
      fr->iCCprofileSize <= 0)
    return 1;
  u32 size = static_cast<u32>(fr->iCCprofileSize);
  // Never read past the handle when the host can tell its size.
  if (hp->getSizeProc) {
    i32 real = hp->getSizeProc(fr->hostContext, fr->iCCprofileData);
    if (real >= 0 && static_cast<u32>(real) < size) size = static_cast<u32>(real);
  }
  char* p = hp->lockProc(fr->hostContext, fr->iCCprofileData, 0);
  const u8 room = !p || size == 0 || m_iccProfile.GetSize() >= size || m_iccProfile.Resize(size);
  if (p && size > 0 && room) {
    std::memcpy(m_iccProfile.GetPtr(), p, size);
    m_pluginData.iccProfile = m_iccProfile.GetPtr();
    m_pluginData.iccProfileSize = size;
  }
  if (p) hp->unlockProc(fr->hostContext, fr->iCCprofileData);
  return room ? 1 : FailFrom(m_iccProfile, klErrNoMemory);
}

// ---- Colours

u8 CKLF_8BFPluginVirtual::i_HostColorServices(KLP_ColorServicesInfo& info) {
  if (!m_filterRecord || !m_filterRecord->colorServices) return 0;
  return m_filterRecord->colorServices(m_filterRecord->hostContext, &info) == 0 ? 1 : 0;
}

u8 CKLF_8BFPluginVirtual::GetForeColor_RGB(kltRGBA8& rgba) {
  if (m_pluginData.colorKind == 1) {
    rgba = kltRGBA8{m_pluginData.foreColor[0], m_pluginData.foreColor[1], m_pluginData.foreColor[2], 255};
    return 1;
  }
  return ConvertFilterColorToRGB(m_pluginData.foreColor, rgba);
}

u8 CKLF_8BFPluginVirtual::GetBgColor_RGB(kltRGBA8& rgba) {
  if (m_pluginData.colorKind == 1) {
    rgba = kltRGBA8{m_pluginData.backColor[0], m_pluginData.backColor[1], m_pluginData.backColor[2], 255};
    return 1;
  }
  return ConvertFilterColorToRGB(m_pluginData.backColor, rgba);
}

u8 CKLF_8BFPluginVirtual::ConvertFilterColorToRGB(const u8 colour[4], kltRGBA8& rgba) {
  if (!m_filterRecord) return Fail(klErrBadArg);
  i16 space;
  switch (m_filterRecord->imageMode) {
    case klpModeRGB:
      space = klpSpaceRGB;
      break;
    case klpModeCMYK:
      space = klpSpaceCMYK;
      break;
    case klpModeGray:
      space = klpSpaceGray;
      break;
    default:
      return Fail(klErrBadArg);
  }
  KLP_ColorServicesInfo info = Conversion(space, klpSpaceRGB, colour, 4);
  if (!i_HostColorServices(info)) return 0;
  rgba = OpaqueRGB(info);
  return 1;
}

u8 CKLF_8BFPluginVirtual::SelectColor_RGB(kltRGBA8& rgba) {
  ResetError();
  if (!m_filterRecord || !m_filterRecord->colorServices) {
    // The platform's own chooser, over the window in front.
    CKLP_UIPlatform* ui = KLP_GetUI();
    u16 rgb16[3] = {static_cast<u16>(rgba.red * 257), static_cast<u16>(rgba.green * 257),
                    static_cast<u16>(rgba.blue * 257)};
    const KLP_Picked picked = ui ? ui->PickColor(ui->GetActiveWindow(), "Select Color", rgb16) : KLP_Picked::kCancelled;
    if (picked == KLP_Picked::kFailed) return Fail(klErrNoMemory);
    if (picked != KLP_Picked::kChosen) return 0;
    rgba = {static_cast<u8>((rgb16[0] + 128) / 257), static_cast<u8>((rgb16[1] + 128) / 257),
            static_cast<u8>((rgb16[2] + 128) / 257), 255};
    return 1;
  }
  const u8 rgb[3] = {rgba.red, rgba.green, rgba.blue};
  KLP_ColorServicesInfo info = Conversion(klpSpaceRGB, klpSpaceRGB, rgb, 3);
  info.selector = klpColorChoose;
  const int16_t result = m_filterRecord->colorServices(m_filterRecord->hostContext, &info);
  if (result == klpResMemFull) return Fail(klErrNoMemory);
  if (result != 0) return 0;
  rgba = OpaqueRGB(info);
  return 1;
}

void CKLF_8BFPluginVirtual::Fill8ByteColorLineFromRGB(u8 line[8]) {
  u8 r = line[1], g = line[2], b = line[3];
  u8 gray = static_cast<u8>((r + g + b) / 3);
  u8 cmyk[4] = {static_cast<u8>(255 - r), static_cast<u8>(255 - g), static_cast<u8>(255 - b), 0};
  if (m_filterRecord && m_filterRecord->colorServices) {
    KLP_ColorServicesInfo info = Conversion(klpSpaceRGB, klpSpaceGray, line + 1, 3);
    if (i_HostColorServices(info)) gray = Sample(info.colorComponents[0]);
    info = Conversion(klpSpaceRGB, klpSpaceCMYK, line + 1, 3);
    if (i_HostColorServices(info))
      for (int i = 0; i < 4; ++i) cmyk[i] = Sample(info.colorComponents[i]);
  }
  line[0] = gray;
  std::memcpy(line + 4, cmyk, 4);
}

u8 CKLF_8BFPluginVirtual::SelectColor_ALL(u8 line[8]) {
  kltRGBA8 c = {line[1], line[2], line[3], 255};
  if (!SelectColor_RGB(c)) return 0;
  line[1] = c.red;
  line[2] = c.green;
  line[3] = c.blue;
  Fill8ByteColorLineFromRGB(line);
  return 1;
}

u8 CKLF_8BFPluginVirtual::ConvertArrayToRGB(u8** src, u8** dst, u32 count) {
  if (!src || !dst || !m_filterRecord) return Fail(klErrBadArg);
  if (!m_filterRecord->colorServices) return 0;
  u8 kind = m_pluginData.colorKind;
  if (kind == 1) {
    for (int c = 0; c < 3; ++c)
      if (dst[c] != src[c]) std::memmove(dst[c], src[c], count);
    return 1;
  }
  if (kind != 0 && kind != 2) return Fail(klErrBadArg);
  const i16 space = kind == 0 ? klpSpaceGray : klpSpaceCMYK;
  const int n = kind == 0 ? 1 : 4;
  for (u32 i = 0; i < count; ++i) {
    u8 pixel[4];
    for (int c = 0; c < n; ++c) pixel[c] = src[c][i];
    KLP_ColorServicesInfo info = Conversion(space, klpSpaceRGB, pixel, n);
    if (!i_HostColorServices(info)) return 0;
    for (int c = 0; c < 3; ++c) dst[c][i] = Sample(info.colorComponents[c]);
  }
  return 1;
}

u8 CKLF_8BFPluginVirtual::ConvertArrayToRGB_Internal(u8** src, u8** dst, u32 count) {
  if (!src || !dst) return Fail(klErrBadArg);
  switch (m_pluginData.colorKind) {
    case 1:
      for (int c = 0; c < 3; ++c)
        if (dst[c] != src[c]) std::memmove(dst[c], src[c], count);
      return 1;
    case 2:
      // Computed per pixel into all three before writing: dst may alias src.
      for (u32 i = 0; i < count; ++i) {
        u32 k = src[3][i];
        u8 r = static_cast<u8>((src[0][i] * k) >> 8);
        u8 g = static_cast<u8>((src[1][i] * k) >> 8);
        u8 b = static_cast<u8>((src[2][i] * k) >> 8);
        dst[0][i] = r;
        dst[1][i] = g;
        dst[2][i] = b;
      }
      return 1;
    case 0:
      for (int c = 0; c < 3; ++c)
        if (dst[c] != src[0]) std::memmove(dst[c], src[0], count);
      return 1;
    default:
      return Fail(klErrBadArg);
  }
}

u8 CKLF_8BFPluginVirtual::LaunchURL(const char* text) { return KLP_LaunchURL(text) == klpNoErr ? 1 : 0; }

i32 CKLF_8BFPluginVirtual::RunApp(CKLF_App* app) {
  if (!app || app != m_App) return Fail(klErrBadArg, -1);
  return CKLF_App::DoAppSpecialModal();
}

u8 CKLF_8BFPluginVirtual::InitAppStorage(CKLF_App* app, const char* name) {
  if (!app) return Fail(klErrBadArg);
  const u8 ok = name ? app->InitStorgaeResource(name, &m_pluginFolder, 0) : app->InitStorgaeResource(0);
  return ok ? 1 : FailFrom(*app, klErrNoResources);
}

u8 CKLF_8BFPluginVirtual::LaunchFile(CKLF_String name) {
  return CKLF_StdFile::LaunchFile(name, &m_pluginFolder);
}
