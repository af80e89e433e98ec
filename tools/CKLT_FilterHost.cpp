#include "CKLT_FilterHost.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "CKLP_UIPlatform.h"
#include "KLF_BigEndian.h"

struct CKLT_FilterHost::Handle {
  std::vector<char> bytes;
  int locks = 0;
  bool live = true;
  bool hostOwned = false;
};

// One channel of a layer: its plane covers area (document pixels); outside
// it the channel reads 0. A null plane reads 255 inside (an opaque layer's
// transparency).
struct CKLT_FilterHost::Port {
  const std::vector<uint8_t>* plane = nullptr;
  KLP_Rect32 area = {0, 0, 0, 0};
  int32_t docWidth = 0;
  int32_t docHeight = 0;
};

struct CKLT_FilterHost::ReadDesc {
  std::vector<DescRecord> records;
  int64_t pos = -1;
};

struct CKLT_FilterHost::WriteDesc {
  std::vector<DescRecord> records;
};

namespace {

CKLT_FilterHost* Host(void* ctx) { return static_cast<CKLT_FilterHost*>(ctx); }

// Nothing unwinds into the plug-in through a callback: what throws here is
// an allocation, answered as the callback's failure and noted by the host.
template <class R, class F>
R Guarded(void* ctx, R failure, F&& f) {
  try {
    return f();
  } catch (...) {
    Host(ctx)->NoteMemoryFailure();
    return failure;
  }
}

bool RectEmpty(const KLP_Rect32& r) { return r.right <= r.left || r.bottom <= r.top; }

bool RectInside(const KLP_Rect32& r, int32_t w, int32_t h) {
  return r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h && !RectEmpty(r);
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  out.resize(out.size() + 4);
  KLF_PutBE32(out.data() + out.size() - 4, v);
}

const char kDescMagic[8] = {'K', 'L', 'P', 'D', 'S', 'C', '0', '1'};

// Colour conversions of this host. CMYK samples are stored as in the
// document's planes: 255 is no ink.
void ToRGB(int16_t space, const int16_t in[4], int out[3], bool& ok) {
  ok = true;
  auto c = [&](int i) { return std::clamp<int>(in[i], 0, 255); };
  switch (space) {
    case klpSpaceRGB: out[0] = c(0), out[1] = c(1), out[2] = c(2); break;
    case klpSpaceGray: out[0] = out[1] = out[2] = c(0); break;
    case klpSpaceCMYK:
      for (int i = 0; i < 3; ++i) out[i] = c(i) * c(3) / 255;
      break;
    default: ok = false;
  }
}

void FromRGB(int16_t space, const int rgb[3], int16_t out[4], bool& ok) {
  ok = true;
  switch (space) {
    case klpSpaceRGB:
      out[0] = static_cast<int16_t>(rgb[0]), out[1] = static_cast<int16_t>(rgb[1]);
      out[2] = static_cast<int16_t>(rgb[2]), out[3] = 0;
      break;
    case klpSpaceGray:
      out[0] = static_cast<int16_t>((rgb[0] * 299 + rgb[1] * 587 + rgb[2] * 114 + 500) / 1000);
      out[1] = out[2] = out[3] = 0;
      break;
    case klpSpaceCMYK: {
      int k = std::max(rgb[0], std::max(rgb[1], rgb[2]));
      for (int i = 0; i < 3; ++i) out[i] = static_cast<int16_t>(k == 0 ? 255 : rgb[i] * 255 / k);
      out[3] = static_cast<int16_t>(k);
      break;
    }
    default: ok = false;
  }
}

}  // namespace

bool CKLT_FilterHost::ConvertColour(int16_t from, const int16_t in[4], int16_t to, int16_t out[4]) {
  bool ok = false;
  int rgb[3];
  ToRGB(from, in, rgb, ok);
  if (!ok) return false;
  FromRGB(to, rgb, out, ok);
  return ok;
}

CKLT_FilterHost::CKLT_FilterHost() {
  std::memset(&m_record, 0, sizeof(m_record));
  std::memset(&m_descParams, 0, sizeof(m_descParams));
  std::memset(&m_docInfo, 0, sizeof(m_docInfo));
  m_handleProcs = {s_NewHandle, s_DisposeHandle, s_GetHandleSize, s_SetHandleSize, s_LockHandle, s_UnlockHandle};
  m_propertyProcs = {s_GetProperty, s_SetProperty};
  m_readProcs = {s_OpenRead, s_CloseRead, s_GetKey, s_GetInteger, s_GetText};
  m_writeProcs = {s_OpenWrite, s_CloseWrite, s_PutInteger, s_PutText};
  m_basicSuite = {s_AcquireSuite, s_ReleaseSuite};
  m_portsSuite = {s_ReadPixels};
}

CKLT_FilterHost::~CKLT_FilterHost() {
  for (Port* p : m_ports) delete p;
  for (Handle* h : m_handles) delete h;
}

bool CKLT_FilterHost::SetDocument(int16_t imageMode, int32_t width, int32_t height, bool transparency,
                                  bool blank) {
  if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > 0x7FFFFFFF) return false;
  m_mode = imageMode;
  m_width = width;
  m_height = height;
  m_colourPlanes = imageMode == klpModeRGB ? 3 : imageMode == klpModeCMYK ? 4 : 1;
  m_hasTransparency = transparency;
  size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (!blank) n = 0;
  m_planes.assign(m_colourPlanes, std::vector<uint8_t>(n, 0));
  if (transparency) m_planes.emplace_back(n, 255);
  m_alphaChannels.clear();
  m_selection.clear();
  m_filterRect = {0, 0, width, height};
  m_wholeWidth = m_wholeHeight = m_originX = m_originY = 0;
  m_recordBuilt = false;
  return true;
}

bool CKLT_FilterHost::AddAlphaChannel(std::vector<uint8_t> plane) {
  if (plane.size() != static_cast<size_t>(m_width) * static_cast<size_t>(m_height)) return false;
  m_alphaChannels.push_back(std::move(plane));
  return true;
}

bool CKLT_FilterHost::SetSelection(const std::vector<uint8_t>& mask) {
  if (mask.empty()) {
    m_selection.clear();
    m_filterRect = {0, 0, m_width, m_height};
    return true;
  }
  if (mask.size() != static_cast<size_t>(m_width) * static_cast<size_t>(m_height)) return false;
  KLP_Rect32 b = {m_width, m_height, 0, 0};
  for (int32_t y = 0; y < m_height; ++y) {
    const uint8_t* row = mask.data() + static_cast<size_t>(y) * m_width;
    for (int32_t x = 0; x < m_width; ++x) {
      if (!row[x]) continue;
      b.left = std::min(b.left, x);
      b.right = std::max(b.right, x + 1);
      b.top = std::min(b.top, y);
      b.bottom = std::max(b.bottom, y + 1);
    }
  }
  if (RectEmpty(b)) return false;  // an empty selection leaves nothing to filter
  m_selection = mask;
  m_filterRect = b;
  return true;
}

void CKLT_FilterHost::SetPlacement(int32_t wholeWidth, int32_t wholeHeight, int32_t x, int32_t y) {
  m_wholeWidth = wholeWidth;
  m_wholeHeight = wholeHeight;
  m_originX = x;
  m_originY = y;
}

void CKLT_FilterHost::SetColours(const uint8_t fore[4], const uint8_t back[4]) {
  std::memcpy(m_fore, fore, 4);
  std::memcpy(m_back, back, 4);
}

void CKLT_FilterHost::SetResolution(double horizontal, double vertical) {
  m_hres = horizontal;
  m_vres = vertical;
}

void CKLT_FilterHost::SetChannelNames(const std::vector<std::string>& names, bool answerNames) {
  m_channelNames = names;
  m_answerNames = answerNames;
}

void CKLT_FilterHost::SetMergedComposite(std::vector<std::vector<uint8_t>> planes, std::vector<uint8_t> transparency) {
  m_mergedPlanes = std::move(planes);
  m_mergedTransparency = std::move(transparency);
}

void CKLT_FilterHost::SetPickedColour(bool chosen, uint8_t r, uint8_t g, uint8_t b) {
  m_colourScripted = true;
  m_colourChosen = chosen;
  m_picked[0] = r;
  m_picked[1] = g;
  m_picked[2] = b;
}

void CKLT_FilterHost::SetDescriptor(const std::vector<DescRecord>& records) {
  m_descriptor = records;
  m_hasDescriptor = true;
  m_recordBuilt = false;
}

void CKLT_FilterHost::ClearDescriptor() {
  m_descriptor.clear();
  m_hasDescriptor = false;
  m_recordBuilt = false;
}

std::vector<uint8_t> CKLT_FilterHost::EncodeDescriptor(const std::vector<DescRecord>& records) {
  std::vector<uint8_t> out(kDescMagic, kDescMagic + 8);
  PutU32(out, static_cast<uint32_t>(records.size()));
  for (const DescRecord& r : records) {
    PutU32(out, r.key);
    PutU32(out, r.type);
    if (r.type == KLP_TYPE_INTEGER) {
      PutU32(out, 4);
      PutU32(out, static_cast<uint32_t>(r.integer));
    } else {
      PutU32(out, static_cast<uint32_t>(r.text.size()));
      out.insert(out.end(), r.text.begin(), r.text.end());
    }
  }
  return out;
}

bool CKLT_FilterHost::DecodeDescriptor(const uint8_t* data, size_t size, std::vector<DescRecord>& out) {
  out.clear();
  KLF_BEReader r = {data, data ? size : 0, 0};
  const u8* magic = r.Take(8);
  if (!magic || std::memcmp(magic, kDescMagic, 8) != 0) return false;
  const uint32_t count = r.U32();
  for (uint32_t i = 0; i < count && r.Ok(); ++i) {
    DescRecord rec;
    rec.key = r.U32();
    rec.type = r.U32();
    const uint32_t len = r.U32();
    const u8* value = r.Take(len);
    if (!value || (rec.type != KLP_TYPE_INTEGER && rec.type != KLP_TYPE_TEXT)) return false;
    if (rec.type == KLP_TYPE_INTEGER) {
      if (len != 4) return false;
      rec.integer = static_cast<int32_t>(KLF_GetBE32(value));
    } else {
      rec.text.assign(reinterpret_cast<const char*>(value), len);
    }
    out.push_back(std::move(rec));
  }
  return r.Ok() && r.Left() == 0;
}

int16_t CKLT_FilterHost::i_FilterCase() const {
  if (m_forcedCase >= 0) return m_forcedCase;
  bool sel = HasSelection();
  if (!m_hasTransparency) return sel ? klpCaseFlatWithSelection : klpCaseFlatNoSelection;
  if (m_transparencyLocked)
    return sel ? klpCaseProtectedTransparencyWithSelection : klpCaseProtectedTransparencyNoSelection;
  return sel ? klpCaseEditableTransparencyWithSelection : klpCaseEditableTransparencyNoSelection;
}

void CKLT_FilterHost::ResetRun() {
  m_recordBuilt = false;
  m_memoryFailed = false;
  m_descriptorBroken = false;
  m_outPending = false;
}

void CKLT_FilterHost::i_FreeRunHandles() {
  for (Handle* h : m_handles) {
    if (h->live && h->hostOwned) {
      h->live = false;
      h->bytes.clear();
      h->bytes.shrink_to_fit();
    }
  }
  m_iccHandle = nullptr;
}

void CKLT_FilterHost::i_BuildRecord() {
  i_FreeRunHandles();
  KLP_FilterRecord& r = m_record;
  std::memset(&r, 0, sizeof(r));
  r.hostContext = this;
  r.hostSig = m_hostSig;
  r.abortProc = m_services.abort ? s_Abort : nullptr;
  r.progressProc = m_services.progress ? s_Progress : nullptr;
  r.advanceState = m_services.advanceState ? s_Advance : nullptr;
  r.colorServices = m_services.colorServices ? s_Color : nullptr;
  r.processEvent = s_Event;
  r.handleProcs = m_services.handleProcs ? &m_handleProcs : nullptr;
  r.propertyProcs = m_services.propertyProcs ? &m_propertyProcs : nullptr;

  r.imageMode = m_mode;
  r.depth = 8;
  r.imageSize = {m_width, m_height};
  if (m_wholeWidth > 0 && m_wholeHeight > 0) {
    r.wholeSize = {m_wholeWidth, m_wholeHeight};
    r.floatCoord = {m_originX, m_originY};
  } else {
    r.wholeSize = {m_width, m_height};
  }
  r.imageHRes = static_cast<int32_t>(m_hres * 65536.0 + 0.5);
  r.imageVRes = static_cast<int32_t>(m_vres * 65536.0 + 0.5);
  r.planes = static_cast<int16_t>(m_planes.size());
  r.filterCase = i_FilterCase();
  r.inLayerPlanes = static_cast<int16_t>(m_colourPlanes);
  r.outLayerPlanes = static_cast<int16_t>(m_colourPlanes);
  if (m_transparencyFieldsForced) {
    r.inTransparencyMask = m_inTransparencyMask;
    r.outTransparencyMask = m_outTransparencyMask;
  } else {
    r.inTransparencyMask = m_hasTransparency ? 1 : 0;
    r.outTransparencyMask = (m_hasTransparency && !m_transparencyLocked) ? 1 : 0;
  }
  r.haveMask = HasSelection() ? 1 : 0;
  r.supportsAbsolute = m_services.supportsAbsolute ? 1 : 0;
  if (!m_icc.empty() && m_services.handleProcs) {
    m_iccHandle = i_NewHandle(m_icc.data(), m_icc.size());
    m_iccHandle->hostOwned = true;
    r.canUseICCProfiles = 1;
    r.iCCprofileData = reinterpret_cast<KLP_Handle>(m_iccHandle);
    r.iCCprofileSize = static_cast<int32_t>(m_icc.size());
  }
  r.filterRect = m_filterRect;
  std::memcpy(r.foreColor, m_fore, 4);
  std::memcpy(r.backColor, m_back, 4);
  r.maxSpace = m_maxSpace;

  if (m_services.descriptor) {
    std::memset(&m_descParams, 0, sizeof(m_descParams));
    m_descParams.playInfo = m_playInfo;
    m_descParams.recordInfo = klpDialogDontDisplay;
    m_descParams.readDescriptorProcs = &m_readProcs;
    m_descParams.writeDescriptorProcs = &m_writeProcs;
    if (m_hasDescriptor) {
      std::vector<uint8_t> bytes = EncodeDescriptor(m_descriptor);
      Handle* h = i_NewHandle(bytes.data(), bytes.size());
      h->hostOwned = true;
      m_descParams.descriptor = reinterpret_cast<KLP_Handle>(h);
    }
    r.descriptorParameters = &m_descParams;
  }
  i_BuildDocumentInfo();
  if (m_services.basicSuite) r.basicSuite = &m_basicSuite;
  if (m_services.documentInfo && (!m_layers.empty() || !m_mergedPlanes.empty() || m_mergedIsDocument))
    r.documentInfo = &m_docInfo;
  m_outPending = false;
  m_recordBuilt = true;
}

void CKLT_FilterHost::i_BuildDocumentInfo() {
  for (Port* p : m_ports) delete p;
  m_ports.clear();
  m_channelDescs.clear();
  m_layerDescs.clear();
  int32_t dw = m_wholeWidth > 0 ? m_wholeWidth : m_width;
  int32_t dh = m_wholeHeight > 0 ? m_wholeHeight : m_height;
  // Reserve first: the descriptors point at each other.
  // The document's own planes may serve a layer and the merged composite.
  const size_t documentPlanes = static_cast<size_t>(m_colourPlanes);
  size_t channels = (m_mergedIsDocument ? documentPlanes : m_mergedPlanes.size()) + 1;
  for (const Layer& l : m_layers) channels += (l.document ? documentPlanes : l.planes.size()) + 1;
  m_channelDescs.reserve(channels);
  m_layerDescs.reserve(m_layers.size());
  const KLP_Rect32 whole = {0, 0, dw, dh};
  auto addPort = [&](const std::vector<uint8_t>* plane, const KLP_Rect32& area, const KLP_Rect32& bounds,
                     const char* name) {
    std::unique_ptr<Port> port(new Port{plane, area, dw, dh});
    m_ports.push_back(port.get());
    const KLP_ChannelPort ref = reinterpret_cast<KLP_ChannelPort>(port.release());
    m_channelDescs.push_back(KLP_ChannelDesc{nullptr, ref, bounds, 8, name});
    return &m_channelDescs.back();
  };
  // Colour planes only: the document's list ends with its transparency.
  auto addChannels = [&](const std::vector<std::vector<uint8_t>>& planes, const KLP_Rect32& area,
                         const KLP_Rect32& bounds, const char* name) -> const KLP_ChannelDesc* {
    const KLP_ChannelDesc* first = nullptr;
    KLP_ChannelDesc* prev = nullptr;
    const size_t n = &planes == &m_planes ? static_cast<size_t>(m_colourPlanes) : planes.size();
    for (size_t i = 0; i < n; ++i) {
      KLP_ChannelDesc* d = addPort(&planes[i], area, bounds, name);
      if (prev) prev->next = d;
      if (!first) first = d;
      prev = d;
    }
    return first;
  };
  KLP_LayerDesc* prevLayer = nullptr;
  for (const Layer& l : m_layers) {
    KLP_LayerDesc d;
    d.next = nullptr;
    d.layerID = l.id;
    d.name = l.name.c_str();
    d.isPixelBased = l.pixelBased ? 1 : 0;
    // No rect: the whole document, unless the layer holds no pixels at all.
    const bool empty = !l.document && (l.planes.empty() || l.planes[0].empty());
    const KLP_Rect32 area = !RectEmpty(l.rect) ? l.rect : empty ? KLP_Rect32{0, 0, 0, 0} : whole;
    d.compositeChannels = addChannels(l.document ? m_planes : l.planes, area, l.bounds, l.name.c_str());
    // A layer that leaves part of the document uncovered is transparent there.
    const bool covers = area.left <= 0 && area.top <= 0 && area.right >= dw && area.bottom >= dh;
    const std::vector<uint8_t>* alpha =
        l.document ? (m_hasTransparency ? &m_planes[m_colourPlanes] : nullptr)
                   : (l.transparency.empty() ? nullptr : &l.transparency);
    d.transparency = alpha                   ? addPort(alpha, area, l.bounds, "Transparency")
                     : covers                ? nullptr
                                             : addPort(nullptr, area, l.bounds, "Transparency");
    m_layerDescs.push_back(d);
    if (prevLayer) prevLayer->next = &m_layerDescs.back();
    prevLayer = &m_layerDescs.back();
  }
  m_docInfo.minVersion = 0;
  m_docInfo.maxVersion = m_docInfoVersion;
  m_docInfo.imageMode = m_mode;
  m_docInfo.depth = 8;
  m_docInfo.bounds = whole;
  m_docInfo.layers = m_layerDescs.empty() ? nullptr : &m_layerDescs.front();
  m_docInfo.mergedCompositeChannels =
      addChannels(m_mergedIsDocument ? m_planes : m_mergedPlanes, whole, whole, "Composite");
  m_docInfo.mergedTransparency =
      m_mergedTransparency.empty() ? nullptr : addPort(&m_mergedTransparency, whole, whole, "Transparency");
}

const std::vector<uint8_t>* CKLT_FilterHost::i_PlaneFor(int32_t plane, bool absolute, bool forWriting) const {
  // Absolute numbering: the layer's planes are the document's first
  // channels here, the alpha channels follow them.
  const int32_t planes = static_cast<int32_t>(m_planes.size());
  if (absolute && !forWriting && plane >= planes && plane - planes < static_cast<int32_t>(m_alphaChannels.size()))
    return &m_alphaChannels[static_cast<size_t>(plane - planes)];
  if (plane < 0 || plane >= planes) return nullptr;
  if (forWriting && m_hasTransparency && plane == m_colourPlanes && m_transparencyLocked) return nullptr;
  return &m_planes[plane];
}

void CKLT_FilterHost::i_CommitOut() {
  if (!m_outPending) return;
  m_outPending = false;
  int n = m_outHi - m_outLo + 1;
  int32_t w = m_outServed.right - m_outServed.left;
  for (int32_t y = m_outServed.top; y < m_outServed.bottom; ++y) {
    const uint8_t* src = m_outBuffer.data() + static_cast<size_t>(y - m_outServed.top) * m_outRowBytes;
    for (int p = 0; p < n; ++p) {
      uint8_t* dst = m_planes[m_outLo + p].data() + static_cast<size_t>(y) * m_width + m_outServed.left;
      for (int32_t x = 0; x < w; ++x) dst[x] = src[static_cast<size_t>(x) * n + p];
    }
  }
}

int16_t CKLT_FilterHost::i_Advance() {
  ++m_advanceCalls;
  i_CommitOut();
  KLP_FilterRecord& r = m_record;
  r.inData = nullptr;
  r.outData = nullptr;
  r.maskData = nullptr;
  r.inRowBytes = r.outRowBytes = r.maskRowBytes = 0;
  bool wantIn = !RectEmpty(r.inRect);
  bool wantOut = !RectEmpty(r.outRect);
  bool wantMask = !RectEmpty(r.maskRect) && HasSelection();
  int64_t total = 0;
  int inCount = 0, outCount = 0;
  if (wantIn) {
    if (!RectInside(r.inRect, m_width, m_height) || r.inHiPlane < r.inLoPlane) return klpResBadParameters;
    inCount = r.inHiPlane - r.inLoPlane + 1;
    for (int p = r.inLoPlane; p <= r.inHiPlane; ++p)
      if (!i_PlaneFor(p, r.wantsAbsolute != 0, false)) return klpResBadParameters;
    total += static_cast<int64_t>(r.inRect.right - r.inRect.left) * (r.inRect.bottom - r.inRect.top) * inCount;
  }
  if (wantMask) {
    if (!RectInside(r.maskRect, m_width, m_height)) return klpResBadParameters;
    total += static_cast<int64_t>(r.maskRect.right - r.maskRect.left) * (r.maskRect.bottom - r.maskRect.top);
  }
  if (wantOut) {
    if (!RectInside(r.outRect, m_width, m_height) || r.outHiPlane < r.outLoPlane) return klpResBadParameters;
    outCount = r.outHiPlane - r.outLoPlane + 1;
    for (int p = r.outLoPlane; p <= r.outHiPlane; ++p)
      if (!i_PlaneFor(p, false, true)) return klpResBadParameters;
    total += static_cast<int64_t>(r.outRect.right - r.outRect.left) * (r.outRect.bottom - r.outRect.top) * outCount;
  }
  m_largestRequest = std::max(m_largestRequest, total);
  if (m_strictSpace && total > m_maxSpace) return klpResMemFull;

  // One plane is lent in place, rows of the document's width; a range of
  // planes is interleaved into a buffer of the host's.
  if (wantIn && inCount == 1) {
    const std::vector<uint8_t>* plane = i_PlaneFor(r.inLoPlane, true, false);
    r.inRowBytes = m_width;
    r.inData = const_cast<uint8_t*>(plane->data()) + static_cast<size_t>(r.inRect.top) * m_width + r.inRect.left;
  } else if (wantIn) {
    int32_t w = r.inRect.right - r.inRect.left;
    r.inRowBytes = w * inCount;
    m_inBuffer.assign(static_cast<size_t>(r.inRowBytes) * (r.inRect.bottom - r.inRect.top), 0);
    for (int32_t y = r.inRect.top; y < r.inRect.bottom; ++y) {
      uint8_t* dst = m_inBuffer.data() + static_cast<size_t>(y - r.inRect.top) * r.inRowBytes;
      for (int p = 0; p < inCount; ++p) {
        const uint8_t* src =
            i_PlaneFor(r.inLoPlane + p, r.wantsAbsolute != 0, false)->data() + static_cast<size_t>(y) * m_width + r.inRect.left;
        for (int32_t x = 0; x < w; ++x) dst[static_cast<size_t>(x) * inCount + p] = src[x];
      }
    }
    r.inData = m_inBuffer.data();
  }
  if (wantMask) {
    r.maskRowBytes = m_width;
    r.maskData = m_selection.data() + static_cast<size_t>(r.maskRect.top) * m_width + r.maskRect.left;
  }
  if (wantOut && outCount == 1) {
    r.outRowBytes = m_width;
    r.outData = m_planes[r.outLoPlane].data() + static_cast<size_t>(r.outRect.top) * m_width + r.outRect.left;
  } else if (wantOut) {
    int32_t w = r.outRect.right - r.outRect.left;
    m_outRowBytes = w * outCount;
    r.outRowBytes = m_outRowBytes;
    m_outBuffer.assign(static_cast<size_t>(m_outRowBytes) * (r.outRect.bottom - r.outRect.top), 0);
    for (int32_t y = r.outRect.top; y < r.outRect.bottom; ++y) {
      uint8_t* dst = m_outBuffer.data() + static_cast<size_t>(y - r.outRect.top) * m_outRowBytes;
      for (int p = 0; p < outCount; ++p) {
        const uint8_t* src = m_planes[r.outLoPlane + p].data() + static_cast<size_t>(y) * m_width + r.outRect.left;
        for (int32_t x = 0; x < w; ++x) dst[static_cast<size_t>(x) * outCount + p] = src[x];
      }
    }
    r.outData = m_outBuffer.data();
    m_outServed = r.outRect;
    m_outLo = r.outLoPlane;
    m_outHi = r.outHiPlane;
    m_outPending = true;
  }
  return klpResNoErr;
}

int16_t CKLT_FilterHost::Call(KLP_PluginMainProc entry, int16_t selector) {
  if (!m_recordBuilt) i_BuildRecord();
  int16_t result = 0;
  entry(selector, &m_record, &m_pluginData, &result);
  i_CommitOut();
  if (!TakeDescriptor()) m_descriptorBroken = true;
  return result;
}

bool CKLT_FilterHost::TakeDescriptor() {
  KLP_Handle d = m_descParams.descriptor;
  if (!m_services.descriptor || !d || !i_IsHandle(d)) return true;
  Handle* h = reinterpret_cast<Handle*>(d);
  h->hostOwned = true;
  std::vector<DescRecord> records;
  if (!DecodeDescriptor(reinterpret_cast<const uint8_t*>(h->bytes.data()), h->bytes.size(), records)) return false;
  m_descriptor = records;
  m_hasDescriptor = true;
  return true;
}

int16_t CKLT_FilterHost::RunFilter(KLP_PluginMainProc entry, bool showDialog) {
  m_playInfo = showDialog ? klpDialogDisplay : klpDialogDontDisplay;
  ResetRun();
  // As an image host does, the filter's result reaches the document only
  // through the selection: what lies outside it stays, soft edges blend.
  std::vector<std::vector<uint8_t>> before;
  if (HasSelection()) before = m_planes;
  int16_t r;
  if (showDialog && (r = Call(entry, klpSelectorParameters)) != 0) return r;
  if ((r = Call(entry, klpSelectorPrepare)) != 0) return r;
  if ((r = Call(entry, klpSelectorStart)) != 0) return r;
  for (int guard = 0; guard < 1000000; ++guard) {
    if (RectEmpty(m_record.inRect) && RectEmpty(m_record.outRect) && RectEmpty(m_record.maskRect)) break;
    if ((r = i_Advance()) != 0) return r;
    if ((r = Call(entry, klpSelectorContinue)) != 0) return r;
  }
  r = Call(entry, klpSelectorFinish);
  if (!before.empty() && before.size() == m_planes.size()) {
    for (size_t p = 0; p < m_planes.size(); ++p)
      for (size_t i = 0; i < m_selection.size(); ++i) {
        uint32_t m = m_selection[i];
        m_planes[p][i] = static_cast<uint8_t>((before[p][i] * (255 - m) + m_planes[p][i] * m + 127) / 255);
      }
  }
  return r;
}

int64_t CKLT_FilterHost::LiveHandles() const {
  int64_t n = 0;
  for (const Handle* h : m_handles) n += (h->live && !h->hostOwned) ? 1 : 0;
  return n;
}

int64_t CKLT_FilterHost::LockedHandles() const {
  int64_t n = 0;
  for (const Handle* h : m_handles) n += (h->live && h->locks > 0) ? 1 : 0;
  return n;
}

void CKLT_FilterHost::ClearObservations() {
  m_advanceCalls = m_largestRequest = m_abortPolls = m_eventCalls = 0;
  m_progress.clear();
}

CKLT_FilterHost::Handle* CKLT_FilterHost::i_NewHandle(const void* data, size_t size) {
  std::unique_ptr<Handle> h(new Handle);
  h->bytes.resize(size);
  if (size && data) std::memcpy(h->bytes.data(), data, size);
  m_handles.push_back(h.get());
  return h.release();
}

bool CKLT_FilterHost::i_IsHandle(KLP_Handle h) const {
  const Handle* p = reinterpret_cast<const Handle*>(h);
  for (const Handle* q : m_handles)
    if (q == p) return q->live;
  return false;
}

// ---- callbacks ----

uint8_t CKLT_FilterHost::s_Abort(void* ctx) {
  CKLT_FilterHost* self = Host(ctx);
  ++self->m_abortPolls;
  return (self->m_cancelAfter >= 0 && self->m_abortPolls > self->m_cancelAfter) ? 1 : 0;
}

void CKLT_FilterHost::s_Progress(void* ctx, int32_t done, int32_t total) {
  Guarded<int>(ctx, 0, [&] {
    CKLT_FilterHost* self = Host(ctx);
    self->m_progress.emplace_back(done, total);
    if (self->m_progressSink) self->m_progressSink(done, total);
    return 0;
  });
}

int16_t CKLT_FilterHost::s_Advance(void* ctx) {
  return Guarded<int16_t>(ctx, klpResMemFull, [&] { return Host(ctx)->i_Advance(); });
}

int16_t CKLT_FilterHost::i_ChooseColour(const KLP_ColorServicesInfo* info, int rgb[3]) {
  if (m_colourScripted) {
    for (int i = 0; i < 3; ++i) rgb[i] = m_picked[i];
    return m_colourChosen ? klpResNoErr : klpResUserCanceled;
  }
  CKLP_UIPlatform* ui = m_chooser ? m_chooser() : nullptr;
  if (!ui) return klpResUserCanceled;
  // The chooser starts at the request's colour (black when unreadable).
  int start[3] = {0, 0, 0};
  bool ok = false;
  ToRGB(info->sourceSpace, info->colorComponents, start, ok);
  uint16_t rgb16[3];
  for (int i = 0; i < 3; ++i) rgb16[i] = static_cast<uint16_t>(ok ? std::clamp(start[i], 0, 255) * 257 : 0);
  const KLP_Picked picked = ui->PickColor(0, info->prompt ? info->prompt : "Select Color", rgb16);
  if (picked == KLP_Picked::kFailed) return klpResMemFull;
  if (picked != KLP_Picked::kChosen) return klpResUserCanceled;
  for (int i = 0; i < 3; ++i) rgb[i] = (rgb16[i] + 128) / 257;
  return klpResNoErr;
}

int16_t CKLT_FilterHost::s_Color(void* ctx, KLP_ColorServicesInfo* info) {
  CKLT_FilterHost* self = Host(ctx);
  if (!info) return klpResBadParameters;
  bool ok = false;
  int rgb[3];
  if (info->selector == klpColorConvert) {
    ToRGB(info->sourceSpace, info->colorComponents, rgb, ok);
    if (!ok) return klpResBadParameters;
  } else if (info->selector == klpColorChoose) {
    const int16_t chosen = self->i_ChooseColour(info, rgb);
    if (chosen != klpResNoErr) return chosen;
  } else {
    return klpResBadParameters;
  }
  FromRGB(info->resultSpace, rgb, info->colorComponents, ok);
  if (!ok) return klpResBadParameters;
  info->resultGamutInfoValid = 1;
  info->resultInGamut = 1;
  return klpResNoErr;
}

void CKLT_FilterHost::s_Event(void* ctx, void*) { ++Host(ctx)->m_eventCalls; }

KLP_Handle CKLT_FilterHost::s_NewHandle(void* ctx, int32_t size) {
  return Guarded<KLP_Handle>(ctx, nullptr, [&]() -> KLP_Handle {
    if (size < 0) return nullptr;
    return reinterpret_cast<KLP_Handle>(Host(ctx)->i_NewHandle(nullptr, static_cast<size_t>(size)));
  });
}

void CKLT_FilterHost::s_DisposeHandle(void* ctx, KLP_Handle h) {
  if (!h || !Host(ctx)->i_IsHandle(h)) return;
  Handle* p = reinterpret_cast<Handle*>(h);
  p->live = false;
  p->locks = 0;
  p->bytes.clear();
  p->bytes.shrink_to_fit();
}

int32_t CKLT_FilterHost::s_GetHandleSize(void* ctx, KLP_Handle h) {
  if (!Host(ctx)->i_IsHandle(h)) return 0;
  return static_cast<int32_t>(reinterpret_cast<Handle*>(h)->bytes.size());
}

int16_t CKLT_FilterHost::s_SetHandleSize(void* ctx, KLP_Handle h, int32_t size) {
  return Guarded<int16_t>(ctx, klpResMemFull, [&]() -> int16_t {
    if (!Host(ctx)->i_IsHandle(h) || size < 0) return klpResBadParameters;
    Handle* p = reinterpret_cast<Handle*>(h);
    if (p->locks > 0) return klpResBadParameters;
    p->bytes.resize(static_cast<size_t>(size));
    return klpResNoErr;
  });
}

char* CKLT_FilterHost::s_LockHandle(void* ctx, KLP_Handle h, uint8_t) {
  if (!Host(ctx)->i_IsHandle(h)) return nullptr;
  Handle* p = reinterpret_cast<Handle*>(h);
  ++p->locks;
  static char empty[1] = {0};
  return p->bytes.empty() ? empty : p->bytes.data();
}

void CKLT_FilterHost::s_UnlockHandle(void* ctx, KLP_Handle h) {
  if (!Host(ctx)->i_IsHandle(h)) return;
  Handle* p = reinterpret_cast<Handle*>(h);
  if (p->locks > 0) --p->locks;
}

int16_t CKLT_FilterHost::s_GetProperty(void* ctx, uint32_t sig, uint32_t key, int32_t index, intptr_t* simple,
                                       KLP_Handle* complex) {
  return Guarded<int16_t>(ctx, klpResMemFull, [&]() -> int16_t {
    CKLT_FilterHost* self = Host(ctx);
    if (sig != KLP_SIG_8BIM) return klpResBadParameters;
    if (key == KLP_PROP_THREADS) {
      if (self->m_threads <= 0 || !simple) return klpResBadParameters;
      *simple = self->m_threads;
      return klpResNoErr;
    }
    if (key == KLP_PROP_RULER_UNITS) {
      if (self->m_rulerUnits < 0 || !simple) return klpResBadParameters;
      *simple = self->m_rulerUnits;
      return klpResNoErr;
    }
    if (key == KLP_PROP_CHANNEL_COUNT) {
      if (self->m_channelNames.empty() || !simple) return klpResBadParameters;
      *simple = static_cast<intptr_t>(self->m_channelNames.size());
      return klpResNoErr;
    }
    if (key == KLP_PROP_CHANNEL_NAME) {
      if (!self->m_answerNames || !complex || index < 0 || index >= static_cast<int32_t>(self->m_channelNames.size()))
        return klpResBadParameters;
      const std::string& n = self->m_channelNames[index];
      *complex = reinterpret_cast<KLP_Handle>(self->i_NewHandle(n.data(), n.size()));
      return klpResNoErr;
    }
    return klpResBadParameters;
  });
}

int16_t CKLT_FilterHost::s_SetProperty(void*, uint32_t, uint32_t, int32_t, intptr_t, KLP_Handle) {
  return klpResBadParameters;
}

KLP_ReadDescriptorRef CKLT_FilterHost::s_OpenRead(void* ctx, KLP_Handle descriptor, const uint32_t*) {
  return Guarded<KLP_ReadDescriptorRef>(ctx, nullptr, [&]() -> KLP_ReadDescriptorRef {
    CKLT_FilterHost* self = Host(ctx);
    if (!descriptor || !self->i_IsHandle(descriptor)) return nullptr;
    Handle* h = reinterpret_cast<Handle*>(descriptor);
    std::unique_ptr<ReadDesc> r(new ReadDesc);
    if (!DecodeDescriptor(reinterpret_cast<const uint8_t*>(h->bytes.data()), h->bytes.size(), r->records))
      return nullptr;
    ++self->m_openDescs;
    return reinterpret_cast<KLP_ReadDescriptorRef>(r.release());
  });
}

int16_t CKLT_FilterHost::s_CloseRead(void* ctx, KLP_ReadDescriptorRef ref) {
  if (!ref) return klpResBadParameters;
  delete reinterpret_cast<ReadDesc*>(ref);
  --Host(ctx)->m_openDescs;
  return klpResNoErr;
}

uint8_t CKLT_FilterHost::s_GetKey(void*, KLP_ReadDescriptorRef ref, uint32_t* key, uint32_t* type, int32_t* flags) {
  ReadDesc* r = reinterpret_cast<ReadDesc*>(ref);
  if (!r) return 0;
  if (r->pos + 1 >= static_cast<int64_t>(r->records.size())) {
    r->pos = static_cast<int64_t>(r->records.size());
    return 0;
  }
  ++r->pos;
  if (key) *key = r->records[r->pos].key;
  if (type) *type = r->records[r->pos].type;
  if (flags) *flags = 0;
  return 1;
}

int16_t CKLT_FilterHost::s_GetInteger(void*, KLP_ReadDescriptorRef ref, int32_t* value) {
  ReadDesc* r = reinterpret_cast<ReadDesc*>(ref);
  if (!r || !value || r->pos < 0 || r->pos >= static_cast<int64_t>(r->records.size())) return klpResBadParameters;
  const DescRecord& rec = r->records[r->pos];
  if (rec.type != KLP_TYPE_INTEGER) return klpResBadParameters;
  *value = rec.integer;
  return klpResNoErr;
}

int16_t CKLT_FilterHost::s_GetText(void* ctx, KLP_ReadDescriptorRef ref, KLP_Handle* text) {
  return Guarded<int16_t>(ctx, klpResMemFull, [&]() -> int16_t {
    ReadDesc* r = reinterpret_cast<ReadDesc*>(ref);
    if (!r || !text || r->pos < 0 || r->pos >= static_cast<int64_t>(r->records.size())) return klpResBadParameters;
    const DescRecord& rec = r->records[r->pos];
    if (rec.type != KLP_TYPE_TEXT) return klpResBadParameters;
    *text = reinterpret_cast<KLP_Handle>(Host(ctx)->i_NewHandle(rec.text.data(), rec.text.size()));
    return klpResNoErr;
  });
}

KLP_WriteDescriptorRef CKLT_FilterHost::s_OpenWrite(void* ctx) {
  return Guarded<KLP_WriteDescriptorRef>(ctx, nullptr, [&]() -> KLP_WriteDescriptorRef {
    ++Host(ctx)->m_openDescs;
    return reinterpret_cast<KLP_WriteDescriptorRef>(new WriteDesc);
  });
}

int16_t CKLT_FilterHost::s_CloseWrite(void* ctx, KLP_WriteDescriptorRef ref, KLP_Handle* descriptor) {
  return Guarded<int16_t>(ctx, klpResMemFull, [&]() -> int16_t {
    CKLT_FilterHost* self = Host(ctx);
    // Closed even when its bytes find no memory.
    std::unique_ptr<WriteDesc> w(reinterpret_cast<WriteDesc*>(ref));
    if (!w) return klpResBadParameters;
    --self->m_openDescs;
    std::vector<uint8_t> bytes = EncodeDescriptor(w->records);
    w.reset();
    if (descriptor) *descriptor = reinterpret_cast<KLP_Handle>(self->i_NewHandle(bytes.data(), bytes.size()));
    return klpResNoErr;
  });
}

int16_t CKLT_FilterHost::s_PutInteger(void* ctx, KLP_WriteDescriptorRef ref, uint32_t key, int32_t value) {
  return Guarded<int16_t>(ctx, klpResMemFull, [&]() -> int16_t {
    WriteDesc* w = reinterpret_cast<WriteDesc*>(ref);
    if (!w) return klpResBadParameters;
    DescRecord r;
    r.key = key;
    r.type = KLP_TYPE_INTEGER;
    r.integer = value;
    w->records.push_back(r);
    return klpResNoErr;
  });
}

int16_t CKLT_FilterHost::s_PutText(void* ctx, KLP_WriteDescriptorRef ref, uint32_t key, KLP_Handle text) {
  return Guarded<int16_t>(ctx, klpResMemFull, [&]() -> int16_t {
    CKLT_FilterHost* self = Host(ctx);
    WriteDesc* w = reinterpret_cast<WriteDesc*>(ref);
    if (!w || !self->i_IsHandle(text)) return klpResBadParameters;
    Handle* h = reinterpret_cast<Handle*>(text);
    if (self->m_maxText && h->bytes.size() > self->m_maxText) return klpResMemFull;
    DescRecord r;
    r.key = key;
    r.type = KLP_TYPE_TEXT;
    r.text.assign(h->bytes.begin(), h->bytes.end());
    w->records.push_back(r);
    return klpResNoErr;
  });
}

int32_t CKLT_FilterHost::s_AcquireSuite(void* ctx, const char* name, int32_t version, const void** suite) {
  CKLT_FilterHost* self = Host(ctx);
  if (!name || !suite || std::strcmp(name, KLP_CHANNELPORTS_SUITE) != 0 || version > KLP_CHANNELPORTS_VERSION ||
      !self->m_record.documentInfo)
    return -1;
  *suite = &self->m_portsSuite;
  ++self->m_acquired;
  return 0;
}

int32_t CKLT_FilterHost::s_ReleaseSuite(void* ctx, const char* name, int32_t) {
  CKLT_FilterHost* self = Host(ctx);
  if (!name || std::strcmp(name, KLP_CHANNELPORTS_SUITE) != 0 || self->m_acquired <= 0) return -1;
  --self->m_acquired;
  return 0;
}

int16_t CKLT_FilterHost::s_ReadPixels(void* ctx, KLP_ChannelPort port, int32_t level, const KLP_Rect32* rect,
                                      const KLP_PixelMemoryDesc* dest) {
  CKLT_FilterHost* self = Host(ctx);
  const Port* p = reinterpret_cast<const Port*>(port);
  if (std::find(self->m_ports.begin(), self->m_ports.end(), p) == self->m_ports.end()) return klpResBadParameters;
  if (level != 0 || !rect || !dest || !dest->data || dest->depth != 8 || dest->colBytes < 1) return klpResBadParameters;
  if (!RectInside(*rect, p->docWidth, p->docHeight)) return klpResBadParameters;
  const KLP_Rect32& a = p->area;
  const size_t aw = static_cast<size_t>(a.right - a.left);
  if (p->plane && p->plane->size() < aw * static_cast<size_t>(a.bottom - a.top)) return klpResBadParameters;
  uint8_t* base = static_cast<uint8_t*>(dest->data);
  for (int32_t y = rect->top; y < rect->bottom; ++y) {
    uint8_t* dst = base + static_cast<size_t>(y - rect->top) * dest->rowBytes;
    const bool rowInside = y >= a.top && y < a.bottom;
    for (int32_t x = rect->left; x < rect->right; ++x, dst += dest->colBytes) {
      if (!rowInside || x < a.left || x >= a.right)
        *dst = 0;
      else
        *dst = p->plane ? (*p->plane)[static_cast<size_t>(y - a.top) * aw + static_cast<size_t>(x - a.left)] : 255;
    }
  }
  return klpResNoErr;
}
