#include "CWnd_LayersList.h"

#include <cstdint>

#include "CFXValues.h"
#include "CKLF_App.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CPluginMain.h"

namespace {

const char kGroup[] = "Layers";
const u32 kNone = 0xFFFFFFFFu;
// The Help menu's place in the window.
const i16 kHelpX = 441, kHelpY = 30;
const kltRGBA8 kBlack = {0, 0, 0, 255};

}  // namespace

CWnd_LayersList::CWnd_LayersList()
    : m_owner(nullptr),
      m_plugin(nullptr),
      m_listFont(kNone),
      m_infoFont(kNone),
      m_help(nullptr),
      m_closeBox(nullptr),
      m_ok(nullptr),
      m_okId(kNone),
      m_cancel(nullptr),
      m_scroll(nullptr),
      m_list(nullptr),
      m_showAll(nullptr),
      m_showFiltered(nullptr),
      m_status(nullptr),
      m_previewRect{0, 0, 0, 0},
      m_fade(m_statusLine),
      m_chosen(CFXLayerList::kNone),
      m_filtered(1),
      m_remembered(0),
      m_inPreview(0) {}

CWnd_LayersList::~CWnd_LayersList() {}

// ---------------------------------------------------------------------------
// Creation

namespace {

template <class C>
C* Named(CKLF_Window& w, const char* name, u8 type, u32* id = nullptr) {
  const i32 i = w.AddControl(name, type);
  if (i < 0) return nullptr;
  if (id) *id = static_cast<u32>(i);
  return static_cast<C*>(w.GetControl(static_cast<u32>(i)));
}

}  // namespace

u8 CWnd_LayersList::OnCreate(CKLF_LayerSet*, u16, u16) {
  if (!m_owner || !m_plugin || !GetResourceRect("Layers_Preview", m_previewRect)) return Fail(klErrUIResource);
  const i32 list = AddFont("List Font"), info = AddFont("Info Font");
  if (list < 0 || info < 0) return 0;
  m_listFont = static_cast<u32>(list);
  m_infoFont = static_cast<u32>(info);
  if (!i_AddControls() || !i_CreateLayers()) return 0;
  const u32 pw = static_cast<u32>(m_previewRect.right - m_previewRect.left);
  const u32 ph = static_cast<u32>(m_previewRect.bottom - m_previewRect.top);
  if (!m_model.Pixels().Create(static_cast<u16>(pw), static_cast<u16>(ph), 2))
    return FailFrom(m_model.Pixels(), klErrNoMemory);
  if (!m_plugin->PS_FillRealLayerBounds(m_plugin->GetPluginDataPtr()->filterArea, 0))
    return FailFrom(*m_plugin, klErrEmpty);
  FillList();
  if (!SetTimer(CFXStatusFade::kTickMs, kTimerStatus) || !SetTimer(kBlinkMs, kTimerBlink)) return 0;
  OnAboveControl(kNone);
  return 1;
}

u8 CWnd_LayersList::i_AddControls() {
  if (!(m_closeBox = Named<CKLF_CtrlButton>(*this, "Layers_CloseX", klCtrlButton)) ||
      !(m_cancel = Named<CKLF_CtrlButton>(*this, "Layers_Cancel", klCtrlButton)) ||
      !(m_ok = Named<CKLF_CtrlButton>(*this, "Layers_Ok", klCtrlButton, &m_okId)) ||
      !(m_help = Named<CKLF_CtrlButton>(*this, "Layers_Help", klCtrlButton)) ||
      !(m_list = Named<CKLF_CtrlList>(*this, "Layers_List", klCtrlList)) || !i_AddScrollBar())
    return 0;
  m_help->SetMenuMode(1);
  m_list->SetFont(GetFont(m_listFont));
  m_list->SetOptions(0, 1, 16, 6, 2, m_scroll->GetControlID());
  if (!m_list->GetTextLayer()->AddTab(20)) return FailFrom(*m_list->GetTextLayer(), klErrNoMemory);
  if (!(m_showAll = Named<CKLF_CtrlRadioButton>(*this, "Layers_ShowAll", klCtrlRadioButton)) ||
      !(m_showFiltered = Named<CKLF_CtrlRadioButton>(*this, "Layers_ShowFiltered", klCtrlRadioButton)) ||
      !(m_status = Named<CKLF_CtrlStaticText>(*this, "Layers_Status", klCtrlStaticText)))
    return 0;
  (m_filtered ? m_showFiltered : m_showAll)->SetCheck(1, 0);
  m_statusLine.Attach(m_status, GetFont(m_infoFont));
  return 1;
}

// Both arrows at the bottom, or one at each end, as the system has them.
u8 CWnd_LayersList::i_AddScrollBar() {
  u32 bottom = kNone, top = kNone;
  const u8 twoSides = CKLF_App::GetScrollStyle_TwoSideArrows();
  if (!Named<CKLF_CtrlButton>(*this, "Layers_ScrollV_Bottom", klCtrlButton, &bottom) ||
      !Named<CKLF_CtrlButton>(*this, twoSides ? "Layers_ScrollV_TopNR" : "Layers_ScrollV_TopMAC", klCtrlButton, &top) ||
      !(m_scroll =
            Named<CKLF_CtrlScrollBar>(*this, twoSides ? "Layers_ScrollV_NR" : "Layers_ScrollV_MAC", klCtrlScrollBar)))
    return 0;
  return m_scroll->SetButtons(top, bottom) ? 1 : Fail(klErrUIResource);
}

u8 CWnd_LayersList::i_CreateLayers() {
  for (CKLF_Layer* l : {&m_thumbLayer, &m_markerLayer}) {
    if (!l->Create(m_previewRect, 2)) return FailFrom(*l, klErrNoMemory);
    l->Set(kltRGBA8{0, 0, 0, 0}, 255);
    if (LSAddLayer(l) < 0) return Fail(klErrNoMemory);
  }
  return 1;
}

// ---------------------------------------------------------------------------
// The list and the thumbnail

void CWnd_LayersList::FillList() {
  m_list->RemoveAllItems(0, 0);
  const i32 found = m_model.Build(*m_plugin, m_filtered, m_chosen);
  for (u32 row = 0; row < m_model.GetRowCount(); ++row) {
    const u32 index = m_model.RowIndex(row);
    CKLF_String text;
    // A row whose text cannot be made or kept (no memory) is told, and the list ends there.
    if (!CFXLayerList::RowText(*m_plugin->GetLayerInfo(index), m_model.IsAcceptable(*m_plugin, index), text) ||
        m_list->AddItem(text.GetStr(), 0, reinterpret_cast<void*>(static_cast<uintptr_t>(index)), 1) < 0) {
      if (m_App) m_App->PlatformMessageBox("Memory allocation problem...", "Error!", this);
      break;
    }
  }
  m_list->UpdateAfterChanges();
  if (m_model.GetRowCount() == 0) {
    // Nothing to choose: OK must not hand back the caller's layer.
    i_ShowNothing();
  } else {
    if (found < 0) m_chosen = CFXLayerList::kNone;
    const u32 row = found < 0 ? 0 : static_cast<u32>(found);
    m_list->SelectItems(row, row, 1, 0, 1, 1, 1);
  }
  m_remembered = 0;
}

void CWnd_LayersList::DoRedrawPreview() {
  const i32 row = m_list->GetSelectedItem();
  if (row < 0) return i_ShowNothing();
  void* user = nullptr;
  m_list->GetItem(static_cast<u32>(row), nullptr, nullptr, &user);
  const u32 index = static_cast<u32>(reinterpret_cast<uintptr_t>(user));
  const kltLAYERINFO_s* e = m_plugin->GetLayerInfo(index);
  if (!e) return;
  const u8 acceptable = m_model.IsAcceptable(*m_plugin, index);
  m_ok->Enable(acceptable);
  m_chosen = acceptable ? e->layerId : CFXLayerList::kNone;
  const u32 pw = static_cast<u32>(m_previewRect.right - m_previewRect.left);
  const u32 ph = static_cast<u32>(m_previewRect.bottom - m_previewRect.top);
  kltRGBA8 frame[2], alpha[2];
  m_owner->GetFrameColors(frame[0], frame[1]);
  m_owner->GetTransparencyColors(alpha[0], alpha[1]);
  if (!m_model.ReadThumbnail(*m_plugin, index, pw, ph) || !m_model.Compose(m_thumbLayer, frame, alpha)) {
    m_ok->Enable(0);
    m_thumbLayer.Set(kBlack, 255);
    m_markerLayer.Set(kltRGBA8{255, 255, 255, 0}, 255);
    return i_RedrawPreviewRect();
  }
  i_DrawMarker(acceptable);
}

void CWnd_LayersList::i_ShowNothing() {
  m_chosen = CFXLayerList::kNone;
  m_ok->Enable(0);
  m_thumbLayer.Set(kBlack, 255);
  m_markerLayer.Set(kltRGBA8{255, 255, 255, 0}, 255);
  i_RedrawPreviewRect();
}

// A red box in a blue frame where the target lies on the whole layer, or
// a red veil over it all when the target lies off the layer.
void CWnd_LayersList::i_DrawMarker(u8 acceptable) {
  m_markerLayer.Set(kltRGBA8{255, 255, 255, 0}, 255);
  if (!acceptable) {
    const u32 pw = static_cast<u32>(m_previewRect.right - m_previewRect.left);
    const u32 ph = static_cast<u32>(m_previewRect.bottom - m_previewRect.top);
    kltRECT_s marker, border;
    if (!CFXLayerList::Marker(m_model.GetThumb(), m_model.GetArea(), m_model.GetTarget(), pw, ph, marker, border)) {
      m_markerLayer.Set(kltRGBA8{255, 0, 0, 128}, 255);
    } else {
      m_markerLayer.Set(kltRGBA8{0, 0, 255, 255}, 255, border);
      m_markerLayer.Set(kltRGBA8{255, 0, 0, 255}, 255, marker);
    }
  }
  i_RedrawPreviewRect();
}

void CWnd_LayersList::i_RedrawPreviewRect() {
  RenderRect(m_previewRect);
  UpdateRect(m_previewRect);
}

// ---------------------------------------------------------------------------
// Messages, keys, timers and the status line

u32 CWnd_LayersList::OnCtrlMessage(u16 msg, u32 id, const char*, u8 type, void* data) {
  const CKLF_Control* c = type == 255 ? nullptr : GetControl(id);
  switch (type) {
    case klCtrlButton:
      if (c == m_cancel || c == m_closeBox) {
        EndModal(0);
      } else if (c == m_ok) {
        const kltRECT_s r = GetWindowRect();
        if (!m_plugin->PutWindowPosToConf("Layers", "IOVR", kltPOS{r.left, r.top}) && m_App)
          m_App->PlatformMessageBox("Memory allocation problem...", "Error!", this);
        EndModal(1);
      } else if (c == m_help) {
        CKLF_PlatformPopupMenu menu;
        menu.Create();
        m_owner->FillHelpMenu(&menu);
        menu.DoPopup(this, kHelpX, kHelpY, 0);
      } else {
        return 0;
      }
      return 1;
    case klCtrlList: return i_OnList(), 1;
    case klCtrlCheckBox: return 1;
    case klCtrlRadioButton:
      if (m_showFiltered->GetCheck())
        m_filtered = 1;
      else if (m_showAll->GetCheck())
        m_filtered = 0;
      FillList();
      DoRedrawPreview();
      return 1;
    case 255:
      return msg == klMsgMenu && data && m_owner->HelpMenuDispatcher(*static_cast<const u16*>(data), this) ? 1 : 0;
    default: return 0;
  }
}

// A click that leaves the list without a selection selects the last row
// chosen again.
void CWnd_LayersList::i_OnList() {
  const i32 row = m_list->GetSelectedItem();
  if (row < 0) {
    if (m_list->GetItemsCount() == 0) return;
    m_list->SelectItems(m_remembered, m_remembered, 1, 0, 1, 1, 0);
  } else {
    m_remembered = static_cast<u32>(row);
  }
  DoRedrawPreview();
}

u8 CWnd_LayersList::OnKeyDown(u8 key, u8) {
  if (key == klKeyReturn) return OnCtrlMessage(0, m_okId, "", klCtrlButton, nullptr), 1;
  if (key == klKeyEscape) return EndModal(0), 1;
  return 0;
}

void CWnd_LayersList::Close() {
  KillTimer(kTimerStatus);
  KillTimer(kTimerBlink);
  CKLF_Window::Close();
}

void CWnd_LayersList::OnTimer(u16 id) {
  if (id == kTimerStatus) return m_fade.Tick();
  if (id != kTimerBlink || m_ok->IsEnabled()) return;
  m_markerLayer.SetOpacity(static_cast<u8>(255 - m_markerLayer.GetOpacity()));
  i_RedrawPreviewRect();
}

u8 CWnd_LayersList::OnAboveControl(u32 id) {
  CKLF_String tip;
  CFXStatusLine::ControlTip(m_owner, kGroup, id == kNone ? nullptr : GetControl(id), tip);
  UpdateStatus(tip.GetStr());
  return 1;
}

// Over no control, the preview has a tip of its own.
u8 CWnd_LayersList::OnMouseMove(i16 x, i16 y, u8) {
  if (GetHoverControl() != kNone) {
    m_inPreview = 0;
    return 0;
  }
  const u8 inside = CFXValues::InRect(m_previewRect, x, y);
  if (inside != m_inPreview && m_owner) {
    CKLF_String tip;
    m_owner->GetStatusTip(inside ? "Zone_Preview" : "", kGroup, 1, 255, tip);
    UpdateStatus(tip.GetStr());
  }
  m_inPreview = inside;
  return 0;
}
