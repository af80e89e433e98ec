#include "CKLT_HostDocument.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "CKLF_ImagePNG.h"
#include "CKLF_ImagePSD.h"
#include "CKLF_StdFile.h"
#include "CKLT_FilterHost.h"

namespace {

const int32_t kMaxSide = 65535;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

bool EndsWith(const std::string& s, const char* tail) {
  size_t n = std::strlen(tail);
  return s.size() >= n && Lower(s.substr(s.size() - n)) == tail;
}

std::string Reason(const char* what, u16 code) {
  return std::string(what) + " (" + KLF_ErrorText(code) + ")";
}

size_t Area(int32_t w, int32_t h) { return static_cast<size_t>(w) * static_cast<size_t>(h); }

int16_t SpaceOf(int16_t mode) {
  return mode == klpModeRGB ? klpSpaceRGB : mode == klpModeCMYK ? klpSpaceCMYK : klpSpaceGray;
}

}  // namespace

bool CKLT_HostDocument::Read(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() > 0x7FFFFFFFu) {
    error = path + " is too large";
    return false;
  }
  static const uint8_t kPng[4] = {0x89, 'P', 'N', 'G'};
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), kPng, 4) == 0) return i_ReadPNG(bytes, error);
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), "8BPS", 4) == 0) return i_ReadPSD(bytes, error);
  error = path + " is neither a PNG nor a PSD file";
  return false;
}

bool CKLT_HostDocument::i_ReadPNG(const std::vector<uint8_t>& bytes, std::string& error) {
  CKLF_ImagePNG png;
  if (!png.ParseImageByPtr(bytes.data(), static_cast<u32>(bytes.size()))) {
    error = Reason("the PNG file cannot be read", png.CKLF_ImageReader::GetError());
    return false;
  }
  u16 w = 0, h = 0;
  png.GetMainImageSize(w, h);
  mode = png.GetImageMode() == CKLF_ImageFormat::kModeGrey ? klpModeGray : klpModeRGB;
  width = w;
  height = h;
  layers.clear();
  Layer l;
  l.name = "Layer 1";
  l.width = w;
  l.height = h;
  for (int c = 0; c < ColourPlanes(); ++c) {
    const u8* p = png.GetImageDataPtr(c);
    if (!p) {
      error = "the PNG file has no pixels";
      return false;
    }
    l.planes.emplace_back(p, p + Area(w, h));
  }
  const u8* a = png.GetImageDataPtr(-1);
  if (a && std::any_of(a, a + Area(w, h), [](u8 v) { return v != 255; })) l.alpha.assign(a, a + Area(w, h));
  layers.push_back(std::move(l));
  return true;
}

bool CKLT_HostDocument::i_ReadPSD(const std::vector<uint8_t>& bytes, std::string& error) {
  CKLF_ImagePSD psd;
  u32 size = static_cast<u32>(bytes.size());
  if (!psd.GetImageInfoByPtr(bytes.data(), size)) {
    error = Reason("the PSD file cannot be read", psd.CKLF_ImageReader::GetError());
    return false;
  }
  if (!psd.LParseByPtr(bytes.data(), size)) {
    error = Reason("the PSD file cannot be read", psd.CKLF_ImageReader::GetError());
    return false;
  }
  u16 w = 0, h = 0;
  psd.GetMainImageSize(w, h);
  u8 m = psd.GetImageMode();
  mode = m == CKLF_ImageFormat::kModeCMYK ? klpModeCMYK : m == CKLF_ImageFormat::kModeGrey ? klpModeGray : klpModeRGB;
  width = w;
  height = h;
  layers.clear();
  for (u32 i = 0; i < psd.GetLayersCount(); ++i) {
    CKLF_ImagePSD::PSDLayerInfoExt_s info;
    if (!psd.GetLayerInfo(i, info)) continue;
    if (info.groupOpen || info.groupEnd || info.width <= 0 || info.height <= 0) continue;
    Layer l;
    l.name = info.name ? info.name : "";
    l.left = info.left;
    l.top = info.top;
    l.width = info.width;
    l.height = info.height;
    l.visible = info.visible != 0;
    l.opacity = info.opacity;
    size_t n = Area(info.width, info.height);
    for (int c = 0; c < ColourPlanes(); ++c) {
      CKLF_Mem* p = info.planes[c + 1];
      if (p && p->GetSize() >= n)
        l.planes.emplace_back(p->GetPtr(), p->GetPtr() + n);
      else
        l.planes.emplace_back(n, 0);
    }
    CKLF_Mem* a = info.planes[0];
    if (a && a->GetSize() >= n) l.alpha.assign(a->GetPtr(), a->GetPtr() + n);
    layers.push_back(std::move(l));
  }
  if (layers.empty()) {
    if (!psd.ParseImageByPtr(bytes.data(), size)) {
      error = Reason("the PSD file cannot be read", psd.CKLF_ImageReader::GetError());
      return false;
    }
    Layer l;
    l.name = "Background";
    l.width = w;
    l.height = h;
    for (int c = 0; c < ColourPlanes(); ++c) {
      const u8* p = psd.GetImageDataPtr(c);
      if (p)
        l.planes.emplace_back(p, p + Area(w, h));
      else
        l.planes.emplace_back(Area(w, h), 0);
    }
    layers.push_back(std::move(l));
  }
  return true;
}

bool CKLT_HostDocument::Write(const std::string& path, std::string& error) const {
  if (EndsWith(path, ".png")) return WritePNG(path, error);
  if (EndsWith(path, ".psd")) return WritePSD(path, error);
  error = "the output must be a .png or .psd file";
  return false;
}

bool CKLT_HostDocument::WritePNG(const std::string& path, std::string& error) const {
  if (mode == klpModeCMYK) {
    error = "PNG holds RGB and gray documents only: write the CMYK document as .psd";
    return false;
  }
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
    error = "the document is empty or too large for PNG";
    return false;
  }
  std::vector<std::vector<uint8_t>> planes;
  std::vector<uint8_t> alpha;
  Flatten(planes, alpha);
  CKLF_StdFile file;
  if (!file.Open(path.c_str(), 2)) {
    error = Reason(("cannot create " + path).c_str(), file.GetError());
    return false;
  }
  CKLF_ImagePNG png;
  png.Create(file);
  CKLF_ImagePNG::PNGWRITE_PARAMS p;
  std::memset(&p, 0, sizeof(p));
  p.width = static_cast<u16>(width);
  p.height = static_cast<u16>(height);
  if (mode == klpModeRGB) {
    p.mode = CKLF_ImagePNG::kWriteRGBA;
    for (int c = 0; c < 3; ++c) p.planes[c] = planes[c].data();
    p.planes[3] = alpha.data();
  } else {
    p.mode = CKLF_ImagePNG::kWriteGreyAlpha;
    p.planes[0] = planes[0].data();
    p.planes[1] = alpha.data();
  }
  p.stride = static_cast<u32>(width);
  p.product = "Tessarette host";
  p.resolution = resolution;
  bool ok = png.WritePNG(&p) != 0;
  u16 code = png.CKLF_ImageWriter::GetError();
  if (!file.Close()) ok = false;
  if (!ok) error = Reason(("cannot write " + path).c_str(), code ? code : file.GetError());
  return ok;
}

bool CKLT_HostDocument::WritePSD(const std::string& path, std::string& error) const {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || layers.empty()) {
    error = "the document is empty or too large for PSD";
    return false;
  }
  CKLF_StdFile file;
  if (!file.Open(path.c_str(), 2)) {
    error = Reason(("cannot create " + path).c_str(), file.GetError());
    return false;
  }
  CKLF_ImagePSD psd;
  psd.Create(file);
  CKLF_ImagePSD::PSDMLWRITE_INITPARAMS init;
  std::memset(&init, 0, sizeof(init));
  init.width = static_cast<u16>(width);
  init.height = static_cast<u16>(height);
  init.mode = mode == klpModeRGB ? 1 : mode == klpModeGray ? 2 : 3;
  init.resolution = resolution;
  init.globalAngle = 30;
  psd.Write_Init(&init);
  std::vector<std::vector<uint8_t>> opaque(layers.size());
  for (size_t i = 0; i < layers.size(); ++i) {
    const Layer& l = layers[i];
    if (l.left < -32768 || l.left > 32767 || l.top < -32768 || l.top > 32767 || l.width > kMaxSide ||
        l.height > kMaxSide) {
      error = "a layer lies beyond what PSD can place";
      return false;
    }
    CKLF_ImagePSD::PSDMLWRITE_LAYERPARAMS lp;
    std::memset(&lp, 0, sizeof(lp));
    lp.width = static_cast<u16>(l.width);
    lp.height = static_cast<u16>(l.height);
    lp.x = static_cast<i16>(l.left);
    lp.y = static_cast<i16>(l.top);
    lp.visible = l.visible ? 1 : 0;
    lp.opacity = l.opacity;
    std::strncpy(lp.name, l.name.c_str(), sizeof(lp.name) - 1);
    u8* planes[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    int n = ColourPlanes();
    for (int c = 0; c < n; ++c) planes[c] = const_cast<u8*>(l.planes[c].data());
    if (l.alpha.empty()) opaque[i].assign(Area(l.width, l.height), 255);
    planes[n] = const_cast<u8*>(l.alpha.empty() ? opaque[i].data() : l.alpha.data());
    if (!psd.Write_AddLayer(&lp, planes, static_cast<u32>(l.width))) {
      error = "out of memory while collecting the layers";
      return false;
    }
  }
  bool ok = psd.WritePSD() != 0;
  u16 code = psd.CKLF_ImageWriter::GetError();
  psd.WriteClean();
  if (!file.Close()) ok = false;
  if (!ok) error = Reason(("cannot write " + path).c_str(), code ? code : file.GetError());
  return ok;
}

bool CKLT_HostDocument::ConvertTo(int16_t newMode) {
  if (newMode != klpModeGray && newMode != klpModeRGB && newMode != klpModeCMYK) return false;
  if (newMode == mode) return true;
  int from = ColourPlanes(), to = ColourPlanesOf(newMode);
  for (Layer& l : layers) {
    size_t n = Area(l.width, l.height);
    std::vector<std::vector<uint8_t>> out(to, std::vector<uint8_t>(n));
    int16_t in[4] = {0, 0, 0, 0}, res[4];
    for (size_t i = 0; i < n; ++i) {
      for (int c = 0; c < from; ++c) in[c] = l.planes[c][i];
      CKLT_FilterHost::ConvertColour(SpaceOf(mode), in, SpaceOf(newMode), res);
      for (int c = 0; c < to; ++c) out[c][i] = static_cast<uint8_t>(res[c]);
    }
    l.planes.swap(out);
  }
  mode = newMode;
  return true;
}

void CKLT_HostDocument::LayerToCanvas(const Layer& layer, std::vector<std::vector<uint8_t>>& planes,
                                      std::vector<uint8_t>& alpha) const {
  size_t n = Area(width, height);
  planes.assign(ColourPlanes(), std::vector<uint8_t>(n, 0));
  alpha.assign(n, 0);
  int32_t x0 = std::max(0, layer.left), x1 = std::min(width, layer.left + layer.width);
  int32_t y0 = std::max(0, layer.top), y1 = std::min(height, layer.top + layer.height);
  if (x1 <= x0 || y1 <= y0) return;
  for (int32_t y = y0; y < y1; ++y) {
    size_t src = static_cast<size_t>(y - layer.top) * layer.width + (x0 - layer.left);
    size_t dst = static_cast<size_t>(y) * width + x0;
    for (int c = 0; c < ColourPlanes(); ++c)
      std::memcpy(planes[c].data() + dst, layer.planes[c].data() + src, static_cast<size_t>(x1 - x0));
    if (layer.alpha.empty())
      std::memset(alpha.data() + dst, 255, static_cast<size_t>(x1 - x0));
    else
      std::memcpy(alpha.data() + dst, layer.alpha.data() + src, static_cast<size_t>(x1 - x0));
  }
}

void CKLT_HostDocument::CanvasToLayer(Layer& layer, const std::vector<std::vector<uint8_t>>& planes,
                                      const std::vector<uint8_t>& alpha) const {
  layer.left = layer.top = 0;
  layer.width = width;
  layer.height = height;
  layer.planes = planes;
  layer.alpha = alpha;
}

bool CKLT_HostDocument::LayerHasTransparency(const Layer& layer) const {
  return !layer.alpha.empty() || layer.left > 0 || layer.top > 0 || layer.left + layer.width < width ||
         layer.top + layer.height < height;
}

void CKLT_HostDocument::Flatten(std::vector<std::vector<uint8_t>>& planes, std::vector<uint8_t>& alpha) const {
  size_t n = Area(width, height);
  int nc = ColourPlanes();
  planes.assign(nc, std::vector<uint8_t>(n, 0));
  alpha.assign(n, 0);
  std::vector<std::vector<uint8_t>> lp;
  std::vector<uint8_t> la;
  for (const Layer& l : layers) {
    if (!l.visible || l.opacity == 0) continue;
    LayerToCanvas(l, lp, la);
    for (size_t i = 0; i < n; ++i) {
      uint32_t a = la[i] * l.opacity / 255u;
      if (a == 0) continue;
      uint32_t below = alpha[i] * (255u - a) / 255u;
      uint32_t out = a + below;
      for (int c = 0; c < nc; ++c)
        planes[c][i] = static_cast<uint8_t>((lp[c][i] * a + planes[c][i] * below + out / 2) / out);
      alpha[i] = static_cast<uint8_t>(out);
    }
  }
}
