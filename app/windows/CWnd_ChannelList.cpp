#include "CWnd_ChannelList.h"

#include "CKLF_App.h"
#include "CKLF_CtrlList.h"
#include "CKLF_CtrlScrollBar.h"
#include "CKLF_ImageFX.h"

const char* const CWnd_ChannelList::kName = "ChannelList";
const char* const CWnd_ChannelList::kTips = "ChannelsList";

namespace {

typedef CWnd_Dialog D;
typedef CWnd_ChannelList W;

const D::CONTROLENTRY kControls[W::kControlCount] = {
    {"ChannelList_CloseX", klCtrlButton, D::kEnds},
    {"ChannelList_Cancel", klCtrlButton, D::kEnds},
    {"ChannelList_Ok", klCtrlButton, D::kOwn},
    {"ChannelList_Help", klCtrlButton, D::kHelpMenu},
    {"ChannelList_List", klCtrlList, D::kOwn},
    {"ChannelList_ScrollV_Bottom", klCtrlButton, D::kOwn},
    {"ChannelList_ScrollV_TopMAC", klCtrlButton, D::kOwn},
    {"ChannelList_ScrollV_MA", klCtrlScrollBar, D::kOwn},
    {"ChannelList_SelNew", klCtrlRadioButton, D::kOwn},
    {"ChannelList_SelAdd", klCtrlRadioButton, D::kOwn},
    {"ChannelList_SelSub", klCtrlRadioButton, D::kOwn},
    {"ChannelList_SelInter", klCtrlRadioButton, D::kOwn},
    {"ChannelList_Status", klCtrlStaticText, D::kOwn},
    {"ChannelList_Invert", klCtrlCheckBox, D::kOwn},
};

// What shows under the map without a document.
const kltRGBA8 kPlainGrey = {150, 150, 150, 255};

}  // namespace

CWnd_ChannelList::CWnd_ChannelList(CMainWindowPort& port, CChannelListModel::Source& source)
    : CWnd_Dialog(port, kTips, kltPOS{376, 30}),
      combineAllowed(0),
      knives(0),
      thumbnail(nullptr),
      m_model(source),
      m_previewRect{0, 0, 0, 0},
      m_list(nullptr),
      m_inPreview(0) {
  for (u32 c = 0; c < kControlCount; ++c) m_entries[c] = kControls[c];
}

CWnd_ChannelList::~CWnd_ChannelList() {}

// ---- Creation.

// The document (or grey) under a black layer that covers what selects
// nothing (CChannelListModel::PreviewAlpha).
u8 CWnd_ChannelList::i_CreatePreview() {
  if (!GetResourceRect("ChannelList_Preview", m_previewRect)) return Fail(klErrUIResource);
  if (!m_backLayer.Create(m_previewRect, 1) || !m_mapLayer.Create(m_previewRect, 2))
    return FailFrom(m_backLayer.GetError() ? m_backLayer : m_mapLayer, klErrNoMemory);
  m_backLayer.Set(kPlainGrey, 7);
  i_DrawThumbnail();
  m_mapLayer.Set(kltRGBA8{0, 0, 0, 0}, 15);
  if (LSAddLayer(&m_backLayer) < 0 || LSAddLayer(&m_mapLayer) < 0) return Fail(klErrNoMemory);
  return 1;
}

// The document stretched over the preview as the map is, so that each
// part of the map lies over its part of the document.
void CWnd_ChannelList::i_DrawThumbnail() {
  CKLF_Image* doc = const_cast<CKLF_Image*>(thumbnail);
  if (!doc || !doc->GetMemObj() || !doc->GetMemObj()->GetPtr()) return;
  CKLF_Image scaled;
  CKLF_ImageFX fx;
  if (scaled.Create(m_backLayer.GetImageWidth(), m_backLayer.GetImageHeight(), doc->GetImageMode()) &&
      fx.SetSource(doc) && fx.SetDestination(&scaled) && fx.Resize_Int_ZO(0))
    m_backLayer.Set(&scaled, 0, 0, klNullRect);
}

u8 CWnd_ChannelList::i_SetUpList() {
  m_list = static_cast<CKLF_CtrlList*>(GetCtrl(kList));
  const i32 font = AddFont("List Font");
  if (font < 0) return 0;
  m_list->SetFont(GetFont(static_cast<u32>(font)));
  m_list->SetOptions(0, 1, 16, 6, 2, static_cast<u32>(GetCtrl(kScrollBar)->GetControlID()));
  auto* bar = static_cast<CKLF_CtrlScrollBar*>(GetCtrl(kScrollBar));
  return bar->SetButtons(GetCtrl(kScrollTop)->GetControlID(), GetCtrl(kScrollBottom)->GetControlID()) ? 1
                                                                                                      : Fail(klErrUIResource);
}

u8 CWnd_ChannelList::OnCreate(CKLF_LayerSet*, u16, u16) {
  // The platform shows one scroll arrow at each end, or both together.
  const u8 twoSided = CKLF_App::GetScrollStyle_TwoSideArrows();
  m_entries[kScrollTop].name = twoSided ? "ChannelList_ScrollV_TopNR" : "ChannelList_ScrollV_TopMAC";
  m_entries[kScrollBar].name = twoSided ? "ChannelList_ScrollV_NR" : "ChannelList_ScrollV_MA";
  const i32 font = AddFont("Info Font");
  if (font < 0 || !i_CreatePreview() || !i_AddControls(m_entries, kControlCount, kStatus, font) || !i_SetUpList())
    return 0;
  GetCtrl(kInvert)->SetCheck(m_model.invert, 1);
  GetCtrl(kSelNew)->SetCheck(1, 0);
  for (CONTROL c : {kSelAdd, kSelSub, kSelInter}) GetCtrl(c)->Enable(combineAllowed);
  m_model.combineAllowed = combineAllowed;
  if (!FillList()) return 0;
  m_list->SelectItems(0, 0, 1, 0, 1, 1, 1);
  return i_StartStatus();
}

u8 CWnd_ChannelList::FillList() {
  if (!m_model.Open()) return FailFrom(m_model, klErrNoMemory);
  m_list->RemoveAllItems(0, 0);
  for (u32 i = 0; i < m_model.Count(); ++i)
    if (m_list->AddItem(m_model.Item(i), 0, nullptr, 1) < 0) return Fail(klErrNoMemory);
  m_list->UpdateAfterChanges();
  return m_list->GetItemsCount() > 0 ? 1 : Fail(klErrEmpty);
}

// ---- The preview.

void CWnd_ChannelList::DoRedrawPreview() {
  const i32 item = m_list ? m_list->GetSelectedItem() : -1;
  if (item < 0 || !m_model.Select(static_cast<u32>(item))) return;
  u8* planes[5] = {};
  u32 stride = 0;
  if (!m_mapLayer.GetImageChannels(planes, stride) ||
      !m_model.PreviewAlpha(planes[3], stride, m_mapLayer.GetImageWidth(), m_mapLayer.GetImageHeight()))
    return;
  RenderRect(m_previewRect);
  UpdateRect(m_previewRect);
}

// ---- Messages.

void CWnd_ChannelList::i_ReadModes() {
  const CONTROL radios[] = {kSelNew, kSelAdd, kSelSub, kSelInter};
  for (u8 m = 0; m < 4; ++m)
    if (GetCtrl(radios[m])->GetCheck()) {
      m_model.mode = m;
      return;
    }
}

void CWnd_ChannelList::OnOK() {
  i_StorePosition(kName, "MAIN");
  EndModal(1);
}

u8 CWnd_ChannelList::OnReturn() {
  OnOK();
  return 1;
}

u32 CWnd_ChannelList::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (CWnd_Dialog::OnCtrlMessage(msg, id, name, type, data)) return 1;
  const i32 c = i_EntryOf(id);
  if (c == kList && msg == klMsgListSelection) {
    DoRedrawPreview();
  } else if (c == kInvert && msg == klMsgClick) {
    m_model.invert = GetCtrl(kInvert)->GetCheck();
    DoRedrawPreview();
  } else if (type == klCtrlRadioButton && msg == klMsgClick) {
    i_ReadModes();
  } else if (c == kOk && msg == klMsgClick) {
    OnOK();
  } else {
    return 0;
  }
  return 1;
}

u8 CWnd_ChannelList::OnAboveControl(u32 id) {
  m_inPreview = 0;
  return CWnd_Dialog::OnAboveControl(id);
}

// The tip changes only as the mouse enters or leaves the preview.
u8 CWnd_ChannelList::OnMouseMove(i16 x, i16 y, u8) {
  if (GetHoverControl() != 0xFFFFFFFFu) return 0;
  const u8 in = x >= m_previewRect.left && x < m_previewRect.right && y >= m_previewRect.top && y < m_previewRect.bottom;
  if (in == m_inPreview) return 0;
  m_inPreview = in;
  i_Tip(in ? "Zone_Preview" : "", i_TipState(nullptr), in ? 255 : 128);
  return 0;
}
