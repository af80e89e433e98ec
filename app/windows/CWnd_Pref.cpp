#include "CWnd_Pref.h"

#include <cstring>

#include "CKLF_CtrlEditLine.h"
#include "CLayoutView.h"
#include "CMainWindowPort.h"
#include "CPluginMain.h"

const char* const CWnd_Pref::kName = "Pref";
const char* const CWnd_Pref::kTips = "Preferences";

const kltRGBA8 CWnd_Pref::kEditColors[10] = {
    {0xE1, 0xE3, 0xCB, 0xFF}, {0xFA, 0xF7, 0xC1, 0xFF}, {0xF5, 0xF7, 0xE4, 0xFF}, {0xBA, 0x6C, 0x0A, 0xFF},
    {0xE1, 0xE3, 0xCB, 0xFF}, {0xB1, 0x03, 0x03, 0xFF}, {0xB1, 0x03, 0x03, 0xFF}, {0x00, 0x00, 0x00, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFF}, {0xBF, 0xC1, 0xAA, 0xFF}};

namespace {

typedef CWnd_Dialog D;
typedef CWnd_Pref W;

const D::CONTROLENTRY kControls[W::kControlCount] = {
    {"Pref_DisOpacity", klCtrlEditLine, D::kOwn},
    {"Pref_CloseX", klCtrlButton, D::kEnds},
    {"Pref_Cancel", klCtrlButton, D::kEnds},
    {"Pref_Ok", klCtrlButton, D::kOwn},
    {"Pref_Help", klCtrlButton, D::kHelpMenu},
    {"Pref_FCB", klCtrlRadioButton, D::kOwn},
    {"Pref_FSolid", klCtrlRadioButton, D::kOwn},
    {"Pref_TCB", klCtrlRadioButton, D::kOwn},
    {"Pref_TSolid", klCtrlRadioButton, D::kOwn},
    {"Pref_Status", klCtrlStaticText, D::kOwn},
    {"Pref_FitOnLoad", klCtrlCheckBox, D::kOwn},
};

// The pictures' rectangles, and the zone each is a tip of.
const char* const kRects[W::kPictures] = {"Pref_Preview", "Pref_TCB1", "Pref_TCB2", "Pref_TSolid",
                                          "Pref_FCB1",    "Pref_FCB2", "Pref_FSolid"};
const char* const kZones[W::kPictures] = {"Zone_Preview", "Zone_SwatchT", "Zone_SwatchT", "Zone_SwatchTS",
                                          "Zone_SwatchF", "Zone_SwatchF", "Zone_SwatchFS"};

}  // namespace

CWnd_Pref::CWnd_Pref(CMainWindowPort& port, const CPreferences& values)
    : CWnd_Dialog(port, kTips, kltPOS{416, 30}), m_values(values), m_rects(), m_zone("") {}

CWnd_Pref::~CWnd_Pref() {}

// ---- Creation.

u8 CWnd_Pref::i_CreatePictures() {
  for (u32 p = 0; p < kPictures; ++p) {
    if (!GetResourceRect(kRects[p], m_rects[p])) return Fail(klErrUIResource);
    if (!m_layers[p].Create(m_rects[p], 1)) return FailFrom(m_layers[p], klErrNoMemory);
    if (LSAddLayer(&m_layers[p]) < 0) return Fail(klErrNoMemory);
  }
  RedrawColors();
  DoRedrawPreview();
  return 1;
}

void CWnd_Pref::i_SetUpControls(i32 editFont) {
  auto* edit = static_cast<CKLF_CtrlEditLine*>(GetCtrl(kDisOpacity));
  edit->SetColors(kEditColors);
  edit->SetFont(GetFont(static_cast<u32>(editFont)));
  edit->SetOptions(1, 0, 0, 0, -1, 1);
  CKLF_String text;
  // Without memory for the text the field stays empty.
  if (CPreferences::OpacityText(m_values.delKnifeOpacity, text)) edit->SetText(text.GetStr(), 0);
  GetCtrl(kTCB)->SetCheck(!m_values.alphaSolid, 0);
  GetCtrl(kTSolid)->SetCheck(m_values.alphaSolid, 0);
  GetCtrl(kFCB)->SetCheck(!m_values.extAlphaSolid, 0);
  GetCtrl(kFSolid)->SetCheck(m_values.extAlphaSolid, 0);
  GetCtrl(kFitOnLoad)->SetCheck(m_values.onLoadZoom, 0);
}

u8 CWnd_Pref::OnCreate(CKLF_LayerSet*, u16, u16) {
  const i32 editFont = AddFont("Edit Font");
  const i32 infoFont = AddFont("Info Font");
  if (editFont < 0 || infoFont < 0 || !i_CreatePictures()) return 0;
  if (!i_AddControls(kControls, kControlCount, kStatus, infoFont)) return 0;
  i_SetUpControls(editFont);
  if (!i_StartStatus()) return 0;
  // Digits typed at once go to the opacity.
  FocusFirstEditLine();
  return 1;
}

// ---- Pictures.

void CWnd_Pref::i_ShowPicture(u32 p) {
  RenderRect(m_rects[p]);
  UpdateRect(m_rects[p]);
}

void CWnd_Pref::RedrawColors() {
  for (u32 s = 0; s < CPreferences::kSwatches; ++s) {
    m_layers[kSwatch0 + s].Set(m_values.SwatchColour(static_cast<CPreferences::Swatch>(s)), 7);
    i_ShowPicture(kSwatch0 + s);
  }
}

void CWnd_Pref::DoRedrawPreview() {
  m_values.DrawSample(m_layers[kSample]);
  i_ShowPicture(kSample);
}

u32 CWnd_Pref::i_PictureAt(i16 x, i16 y) const {
  for (u32 p = 0; p < kPictures; ++p) {
    const kltRECT_s& r = m_rects[p];
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return p;
  }
  return kPictures;
}

// ---- Swatches and the opacity.

void CWnd_Pref::OnSwatch(CPreferences::Swatch swatch) {
  CPluginMain* plugin = i_Plugin();
  kltRGBA8 colour = m_values.SwatchColour(swatch);
  if (!plugin) return;
  if (!plugin->SelectColor_RGB(colour)) {
    if (plugin->GetError() == klErrNoMemory) GetPort().Alert(CLayoutView::kMemoryProblem, CLayoutView::kErrorTitle);
    return;
  }
  m_values.ChooseSwatchColour(swatch, colour);
  RedrawColors();
  // The swatch's group shows its kind: the radio button is set and tells
  // its group (its message redraws the sample).
  const u8 solid = swatch == CPreferences::kTSolid || swatch == CPreferences::kFSolid;
  const CONTROL radio = swatch < CPreferences::kFCB1 ? (solid ? kTSolid : kTCB) : (solid ? kFSolid : kFCB);
  GetCtrl(radio)->SetCheck(1, 1);
  DoRedrawPreview();
}

u8 CWnd_Pref::OnLMouseDown(i16 x, i16 y, u8) {
  const u32 p = i_PictureAt(x, y);
  if (p < kSwatch0 || p >= kPictures) return 0;
  OnSwatch(static_cast<CPreferences::Swatch>(p - kSwatch0));
  return 1;
}

void CWnd_Pref::OnEdit(const char* text) { m_values.delKnifeOpacity = CPreferences::OpacityFromText(text); }

void CWnd_Pref::OnEdit_LF() {
  auto* edit = static_cast<CKLF_CtrlEditLine*>(GetCtrl(kDisOpacity));
  CKLF_String text;
  // Without memory for the text the field keeps what was typed.
  if (CPreferences::OpacityTextOnLeave(edit->GetText().GetStr(), text)) edit->SetText(text.GetStr(), 1);
}

void CWnd_Pref::OnCtrlLostFocus(u32 id) {
  CWnd_Dialog::OnCtrlLostFocus(id);
  if (i_EntryOf(id) == kDisOpacity) OnEdit_LF();
}

// ---- Messages.

u8 CWnd_Pref::OnReturn() {
  EndModal(1);
  return 1;
}

u32 CWnd_Pref::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (CWnd_Dialog::OnCtrlMessage(msg, id, name, type, data)) return 1;
  const i32 c = i_EntryOf(id);
  if (c == kDisOpacity && msg == klMsgEditChanged && data) {
    OnEdit(static_cast<const CKLF_String*>(data)->GetStr());
  } else if (c == kOk && msg == klMsgClick) {
    EndModal(1);
  } else if (c == kFitOnLoad && msg == klMsgClick) {
    m_values.onLoadZoom = GetCtrl(kFitOnLoad)->GetCheck();
  } else if (type == klCtrlRadioButton && msg == klMsgClick) {
    m_values.extAlphaSolid = GetCtrl(kFSolid)->GetCheck();
    m_values.alphaSolid = GetCtrl(kTSolid)->GetCheck();
    DoRedrawPreview();
  } else {
    return 0;
  }
  return 1;
}

u8 CWnd_Pref::OnAboveControl(u32 id) {
  m_zone = "";
  return CWnd_Dialog::OnAboveControl(id);
}

// The tip is asked again only when the zone changes.
u8 CWnd_Pref::OnMouseMove(i16 x, i16 y, u8) {
  if (GetHoverControl() != 0xFFFFFFFFu) return 0;
  const u32 p = i_PictureAt(x, y);
  const char* zone = p < kPictures ? kZones[p] : "";
  if (std::strcmp(zone, m_zone) == 0) return 0;
  m_zone = zone;
  i_Tip(zone, 1, 255);
  return 0;
}
