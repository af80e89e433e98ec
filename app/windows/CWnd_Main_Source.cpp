// The document as the window shows it: read from the host into an RGBA
// image (grey and CMYK turned to RGB, the composite alpha as its alpha),
// and its thumbnail in the navigator.
#include <cstring>

#include "CKLF_CtrlStaticImage.h"
#include "CKLF_ImageFX.h"
#include "CPluginMain.h"
#include "CWnd_Main.h"

u8 CWnd_Main::GetSourceDataInRGBA() {
  const kltRECT_s r = m_pluginData->filterRect;
  const u16 w = static_cast<u16>(r.right - r.left), h = static_cast<u16>(r.bottom - r.top);
  if (!m_sourceImage.Create(w, h, 2)) {
    Alert(kMemoryProblem, kErrorTitle);
    return FailFrom(m_sourceImage, klErrNoMemory);
  }
  u8* planes[5] = {};
  u32 stride = 0;
  if (!m_sourceImage.GetImageChannels(planes, stride)) return FailFrom(m_sourceImage, klErrNoMemory);
  const u8 kind = m_pluginData->colorKind;
  if (kind > 2) {
    m_plugin->HostSetRetCode_BadParam();
    return Fail(klErrUnsupported);
  }
  const u8 channels = kind == 0 ? 1 : kind == 1 ? 3 : 4;
  for (u8 c = 0; c < channels; ++c)
    if (!m_plugin->HostGetChanel(c, r, planes[c], stride)) return FailFrom(*m_plugin, klErrFileRead);
  if (kind != 1 && !m_plugin->ConvertArrayToRGB_Internal(planes, planes, static_cast<u32>(w) * h))
    return FailFrom(*m_plugin, klErrUnsupported);
  i32 aw = 0, ah = 0;
  const u8* alpha = m_plugin->GetCompositeAlpha(aw, ah);
  if (alpha && aw == w && ah == h)
    std::memcpy(planes[3], alpha, static_cast<size_t>(w) * h);
  else
    std::memset(planes[3], 255, static_cast<size_t>(w) * h);
  return 1;
}

u8 CWnd_Main::SetSourceToNavigator() {
  auto* navigator = static_cast<CKLF_CtrlStaticImage*>(GetNamedControl(kNavigator));
  if (!navigator) return Fail(klErrEmpty);
  const kltRECT_s r = navigator->GetRenderRect();
  const i32 w = r.right - r.left - 5, h = r.bottom - r.top - 5;
  CKLF_Image thumb, sharp;
  if (w <= 0 || h <= 0 || !thumb.Create(static_cast<u16>(w), static_cast<u16>(h), 2) ||
      !sharp.Create(static_cast<u16>(w), static_cast<u16>(h), 2))
    return Fail(klErrNoMemory);
  CKLF_ImageFX fx;
  fx.SetFillValue(0);
  if (!fx.SetSource(&m_sourceImage) || !fx.SetDestination(&thumb) || !fx.Resize_Int_ZO(1))
    return FailFrom(fx, klErrNoMemory);
  CKLF_ImageFX sharpen;
  if (!sharpen.SetSource(&thumb) || !sharpen.SetDestination(&sharp) || !sharpen.filter_UnsharpenMaskNormal(0))
    return FailFrom(sharpen, klErrNoMemory);
  // Shown as the preview shows it: transparency over its checker (or
  // solid colour), anchored at the image's corner, and around a picture of
  // another shape the colours of the area outside the image.
  CKLF_Image shown;
  kltRGBA8 a, b, outA, outB;
  m_prefs.CheckerColours(a, b);
  m_prefs.MarginColours(outA, outB);
  const kltRECT_s all = {0, 0, w, h};
  const kltRECT_s picture = CKLF_ImageFX::FitRect(m_sourceImage.GetImageWidth(), m_sourceImage.GetImageHeight(),
                                                  static_cast<u32>(w), static_cast<u32>(h));
  if (!shown.Create(static_cast<u16>(w), static_cast<u16>(h), 2) || !shown.Set(8, 8, outB, outA, all) ||
      !shown.Set(8, 8, b, a, picture) || !shown.Blend(&sharp, 0, 0, all, 100) ||
      !shown.Set(kltRGBA8{0, 0, 0, 255}, 8, all))
    return FailFrom(shown, klErrNoMemory);
  CKLF_Layer* back = GetLayer(0u);
  if (!back) return 0;
  const kltRECT_s at = {r.left + 3, r.top + 3, r.left + 3 + w, r.top + 3 + h};
  return back->Set(&shown, 0, 0, at) ? 1 : FailFrom(*back, klErrBadArg);
}

void CWnd_Main::FreeDisplayImages() {
  // The preview must not show what goes.
  m_preview.SetMaskChannel(nullptr, 0);
  m_sourceImage.Clean();
  m_puzzle.resultImage.Clean();
}
