#include "CFXColorPair.h"

#include <cstring>

#include "CFXValues.h"
#include "CPluginMain.h"
#include "CWndFX_Base.h"

namespace {

const u8 kDisabledOpacity = 50;

}  // namespace

CFXColorPair::CFXColorPair(const CKLF_String& box, const CKLF_String& swatch1, const CKLF_String& swatch2, u8 offset)
    : m_window(nullptr),
      m_boxName(box),
      m_names{swatch1, swatch2},
      m_offset(offset),
      m_box(nullptr),
      m_boxId(0xFFFFFFFFu),
      m_swatch{nullptr, nullptr},
      m_rect{} {}

CFXColorPair::~CFXColorPair() {}

u8 CFXColorPair::AddControls(CWndFX_Base& w) {
  m_window = &w;
  if (!(m_box = w.AddNamed<CKLF_CtrlCheckBox>(m_boxName.GetStr(), klCtrlCheckBox, &m_boxId))) return 0;
  for (u8 k = 0; k < 2; ++k) {
    if (!(m_swatch[k] = w.AddNamed<CKLF_CtrlStaticImage>(m_names[k].GetStr(), klCtrlStaticImage))) return 0;
    m_swatch[k]->SetDisabledOpacity(kDisabledOpacity);
  }
  return 1;
}

u8 CFXColorPair::AddLayers(CWndFX_Base& w) {
  m_window = &w;
  for (u8 k = 0; k < 2; ++k)
    if (!w.AddRectLayer(m_names[k].GetStr(), m_rect[k], m_layer[k], kltRGBA8{0, 0, 0, 0}, 1)) return 0;
  return 1;
}

u8 CFXColorPair::OnMessage(u32 id, u8 type) {
  if (!m_window || type != klCtrlCheckBox || id != m_boxId) return 0;
  i_OnBox(m_box->GetCheck());
  return 1;
}

void CFXColorPair::i_OnBox(u8 checked) {
  for (u8 k = 0; k < 2; ++k) {
    m_layer[k].SetVisible(checked);
    m_swatch[k]->Enable(checked);
  }
  for (const kltRECT_s& r : m_rect) {
    m_window->RenderRect(r);
    m_window->UpdateRect(r);
  }
  m_window->UpdatePreview();
  m_window->Changes(CFXSchedule::kDeferred);
}

u8 CFXColorPair::OnMouseDown(i16 x, i16 y) {
  if (!m_window) return 0;
  for (u8 k = 0; k < 2; ++k)
    if (CFXValues::InRect(m_rect[k], x, y) && m_swatch[k]->IsEnabled()) {
      if (Pick(*m_window, m_window->Records().GetValue(k) + m_offset)) {
        Redraw();
        m_window->UpdatePreview();
        m_window->Changes(CFXSchedule::kDeferred);
      }
      m_window->ChangeMode(k);
      return 1;
    }
  return 0;
}

u8 CFXColorPair::Pick(CWndFX_Base& w, u8* colour) {
  // The picker starts from the colour the swatch shows: the grey in a grey
  // document.
  u8 line[8] = {};
  CFXValues::RenderColour(colour, w.GetColorKind(), line + 1);
  CPluginMain* plugin = w.mainWindow ? w.mainWindow->GetPluginObject() : nullptr;
  if (!plugin) return 0;
  if (!plugin->SelectColor_ALL(line)) {
    if (plugin->GetError() == klErrNoMemory) w.TellNoMemory();
    return 0;
  }
  std::memcpy(colour, line, 8);
  return 1;
}

void CFXColorPair::Fill(CWndFX_Base& w, CKLF_Layer& layer, kltRECT_s rect, const u8* colour) {
  if (!layer.GetMemObj() || !layer.GetMemObj()->GetPtr()) return;
  u8 rgb[3];
  CFXValues::RenderColour(colour, w.GetColorKind(), rgb);
  layer.Set(kltRGBA8{rgb[0], rgb[1], rgb[2], 255}, 255);
  w.RenderRect(rect);
  w.UpdateRect(rect);
}

void CFXColorPair::EnableSpread(u8 on) {
  if (!m_window) return;
  if (on) {
    m_box->Enable(1);
    m_box->SetCheck(1, 1);
  } else {
    m_box->SetCheck(0, 0);
    m_swatch[0]->Enable(1);
    m_swatch[1]->Enable(0);
    m_box->Enable(0);
  }
  i_ShowEnabled();
  Redraw();
}

void CFXColorPair::i_ShowEnabled() {
  for (u8 k = 0; k < 2; ++k) m_layer[k].SetVisible(m_swatch[k]->IsEnabled());
}

void CFXColorPair::Redraw() {
  if (!m_window) return;
  for (u8 k = 0; k < 2; ++k) Fill(*m_window, m_layer[k], m_rect[k], m_window->Records().GetValue(k) + m_offset);
}

u32 CFXColorPair::Fields(CFXSpread::FIELDSTATE* out, u32 room) const {
  const u8 checked = m_box && m_box->GetCheck() ? 1 : 0;
  u32 n = 0;
  for (u8 i = 0; i < 8 && n < room; ++i)
    out[n++] = {{static_cast<u8>(m_offset + i), CFXSpread::kU8, 0, 255}, 1, checked};
  return n;
}
