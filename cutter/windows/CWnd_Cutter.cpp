// The Cutter window's creation, its controls kept in step with the model,
// the status line, the ports the model calls and the routing of the mouse
// and keys.
#include "CWnd_Cutter.h"

#include <cstdio>
#include <cstring>

#include "CKLF_App.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlProgress.h"
#include "CKLF_CtrlSlider.h"
#include "CKLF_CtrlStaticText.h"

const char* const CWnd_Cutter::kGroup = "Cutter";

namespace {

enum : u8 { kMenuMode = 1, kDisabledAtStart = 2, kHidden = 4 };

struct CONTROLENTRY {
  const char* name;
  u8 type;
  u8 flags;
};

// Resource name, kind and setup of every control, by CWnd_Cutter::CONTROL.
const CONTROLENTRY kControls[CWnd_Cutter::kControlCount] = {
    {"Cutter_Help", klCtrlButton, kMenuMode},
    {"Cutter_CloseX", klCtrlButton, 0},
    {"Cutter_FlipH", klCtrlButton, 0},
    {"Cutter_FlipU", klCtrlButton, 0},
    {"Cutter_Save", klCtrlButton, kMenuMode},
    {"Cutter_Load", klCtrlButton, 0},
    {"Cutter_Presets", klCtrlButton, 0},
    {"Cutter_AddToPM", klCtrlButton, 0},
    {"Cutter_ReClone", klCtrlButton, 0},
    {"Cutter_Clone", klCtrlButton, kMenuMode},
    {"Cutter_Cut", klCtrlButton, 0},
    {"Cutter_Cancel", klCtrlButton, 0},
    {"Cutter_Reset", klCtrlButton, 0},
    {"Cutter_Redo", klCtrlButton, 0},
    {"Cutter_Undo", klCtrlButton, 0},
    {"Cutter_AutoLayout", klCtrlButton, 0},
    {"Cutter_1x1", klCtrlRadioButton, 0},
    {"Cutter_1x2", klCtrlRadioButton, 0},
    {"Cutter_1x4", klCtrlRadioButton, 0},
    {"Cutter_Smoothness", klCtrlSlider, kDisabledAtStart},
    {"Cutter_Rows", klCtrlSlider, 0},
    {"Cutter_Columns", klCtrlSlider, 0},
    {"Cutter_KnifeTh", klCtrlSlider, 0},
    {"Cutter_TipsSize", klCtrlSlider, 0},
    {"Cutter_Status", klCtrlStaticText, 0},
    {"Cutter_CloneDisp", klCtrlStaticText, 0},
    {"Cutter_Smoothness", klCtrlEditLine, kDisabledAtStart},
    {"Cutter_Rows", klCtrlEditLine, 0},
    {"Cutter_Columns", klCtrlEditLine, 0},
    {"Cutter_KnifeTh", klCtrlEditLine, 0},
    {"Cutter_TipsSize", klCtrlEditLine, 0},
    {"Cutter_AntiAliasing", klCtrlCheckBox, 0},
    {"Cutter_RazorCut", klCtrlCheckBox, 0},
    {"Cutter_LinkRC", klCtrlCheckBox, 0},
    {"Cutter_CuttingCover", klCtrlStaticImage, kHidden},
    {"Cutter_CuttingAbort", klCtrlButton, kHidden},
    {"Cutter_CuttingProgress", klCtrlProgress, 0},
};

const char* const kFontNames[3] = {"Small Font", "Info Font", "Edit Font"};

// Display texts of the clone modes 0..6.
const char* const kCloneDisplay[CCutterModel::kCloneModes] = {
    "No Cloning",
    "Cloning WITHOUT mutation",
    "Cloning with LOW mutation",
    "Cloning with MEDIUM mutation",
    "Cloning with HIGH mutation",
    "Cloning with EXTREME mutation",
    "Cloning with CUSTOM mutation"};

const char kMixed[] = " ???";
const u32 kAllOnes = 0xFFFFFFFFu;

}  // namespace

CWnd_Cutter::CWnd_Cutter(CCutterModel& model)
    : m(model), m_fonts{-1, -1, -1}, m_preview{0, 0, 0, 0}, m_tick(0) {
  for (i32& id : m_ids) id = -1;
  m.SetPorts(this, m.mainWindow);
}

CWnd_Cutter::~CWnd_Cutter() { KillTimer(1); }

// ---- Creation.

u8 CWnd_Cutter::i_CreateLayers() {
  if (!GetResourceRect("Cutter_Preview", m_preview)) return FailLookup(*this, klErrUIResource);
  if (!m_splineLayer.Create(m_preview, 2) || !m_extrasLayer.Create(m_preview, 2))
    return FailFrom(m_splineLayer.GetError() ? m_splineLayer : m_extrasLayer, klErrNoMemory);
  m_splineLayer.Set(kltRGBA8{255, 145, 25, 0}, 255);
  m_extrasLayer.Set(kltRGBA8{0, 0, 0, 0}, 255);
  if (LSAddLayer(&m_splineLayer) < 0 || LSAddLayer(&m_extrasLayer) < 0) return Fail(klErrNoMemory);
  return 1;
}

u8 CWnd_Cutter::i_CreateControls() {
  for (u32 k = 0; k < 3; ++k)
    if ((m_fonts[k] = AddFont(kFontNames[k])) < 0) return 0;
  for (u32 c = 0; c < kControlCount; ++c)
    if ((m_ids[c] = AddControl(kControls[c].name, kControls[c].type)) < 0) return FailFrom(*this, klErrUIResource);
  return 1;
}

void CWnd_Cutter::i_SetupControls() {
  CKLF_Font* info = GetFont(static_cast<u32>(m_fonts[1]));
  CKLF_Font* edit = GetFont(static_cast<u32>(m_fonts[2]));
  for (u32 c = 0; c < kControlCount; ++c) {
    CKLF_Control* ctrl = GetCtrl(static_cast<CONTROL>(c));
    if (kControls[c].flags & kMenuMode) static_cast<CKLF_CtrlButton*>(ctrl)->SetMenuMode(1);
    if (kControls[c].flags & kHidden) ctrl->SetDisabledOpacity(0);
    if (kControls[c].flags & (kHidden | kDisabledAtStart)) ctrl->Enable(0);
    if (kControls[c].type == klCtrlEditLine) {
      auto* e = static_cast<CKLF_CtrlEditLine*>(ctrl);
      e->SetColors(CKLF_CtrlEditLine::kDarkColours);
      e->SetFont(edit);
      e->SetOptions(1, 0, 0, 0, 1, 1);
      e->SetEndKeysToWindow(1);
    }
  }
  for (CONTROL t : {kStatus, kCloneDisp}) {
    auto* text = static_cast<CKLF_CtrlStaticText*>(GetCtrl(t));
    text->SetFont(info);
    text->SetText("", 0, 2, 16);
    text->SetFlow(t == kStatus);
    text->Redraw();
  }
  auto* progress = static_cast<CKLF_CtrlProgress*>(GetCtrl(kProgress));
  progress->SetMinMax(0, 100);
  progress->Visible(0);
  GetCtrl(kZoom1)->SetCheck(1, 0);
}

u8 CWnd_Cutter::OnCreate(CKLF_LayerSet*, u16, u16) {
  if (!i_CreateLayers() || !i_CreateControls()) return 0;
  i_SetupControls();
  const u16 w = static_cast<u16>(m_preview.right - m_preview.left), h = static_cast<u16>(m_preview.bottom - m_preview.top);
  if (!m.OnCreate(w, h)) return FailFrom(m, klErrUIResource);
  if (!SetTimer(30, 1)) return 0;
  i_Sync();
  // Typed digits go to the rows at once, and Tab on from there.
  if (GetCtrl(kRowsEdit)->IsEnabled()) GetCtrl(kRowsEdit)->SetFocus(1);
  OnAboveControl(kAllOnes);
  return RenderRect(klNullRect);
}

void CWnd_Cutter::Close() { m.Close(); }

// ---- Controls from the model.

void CWnd_Cutter::i_Enable(CONTROL c, u8 on) {
  CKLF_Control* ctrl = GetCtrl(c);
  if (ctrl && ctrl->IsEnabled() != (on ? 1 : 0)) ctrl->Enable(on ? 1 : 0);
}

void CWnd_Cutter::i_SyncValue(CONTROL slider, CONTROL edit, u32 value, u8 mixed) {
  auto* s = static_cast<CKLF_CtrlSlider*>(GetCtrl(slider));
  auto* e = static_cast<CKLF_CtrlEditLine*>(GetCtrl(edit));
  if (!s || !e) return;
  if (s->GetValue() != value) s->SetValue(value, 0);
  char text[16];
  std::snprintf(text, sizeof(text), "%u", value);
  const char* want = mixed ? kMixed : text;
  if (!e->GetFocus() && !(e->GetText() == want)) e->SetText(want, 0);
}

void CWnd_Cutter::i_Sync() {
  if (!m.built) return;
  i_Enable(kUndo, m.CanUndo());
  i_Enable(kRedo, m.CanRedo());
  i_Enable(kReClone, m.recloneEnabled);
  i_Enable(kSmoothSlider, m.smoothEnabled);
  i_Enable(kSmoothEdit, m.smoothEnabled);
  i_Enable(kThickSlider, !m.razorCut);
  i_Enable(kThickEdit, !m.razorCut);
  i_Enable(kCancel, m.closingRestores && !m.cutting);
  i_Enable(kCloseX, m.closingRestores && !m.cutting);
  i_SyncValue(kSmoothSlider, kSmoothEdit, m.smoothValue, m.smoothMixed);
  i_SyncValue(kRowsSlider, kRowsEdit, m.rows, 0);
  i_SyncValue(kColumnsSlider, kColumnsEdit, m.columns, 0);
  i_SyncValue(kThickSlider, kThickEdit, m.thickness, m.thicknessMixed);
  i_SyncValue(kKnobSlider, kKnobEdit, m.knobSize, m.knobSizeMixed);
  GetCtrl(kAntiAliasing)->SetCheck(m.antiAliasing, 0);
  GetCtrl(kRazorCut)->SetCheck(m.razorCut, 0);
  GetCtrl(kLinkRC)->SetCheck(m.linkRC, 0);
  for (u32 z = 0; z < 3; ++z) GetCtrl(static_cast<CONTROL>(kZoom1 + z))->SetCheck(m.zoom == z, 0);
  auto* display = static_cast<CKLF_CtrlStaticText*>(GetCtrl(kCloneDisp));
  const char* mode = kCloneDisplay[m.cloneMode < CCutterModel::kCloneModes ? m.cloneMode : 0];
  if (!(display->GetText() == mode)) {
    display->SetText(mode);
    display->Redraw();
  }
}

// ---- Status line.

void CWnd_Cutter::UpdateStatus(const char* text) { m_fade.SetText(text); }

void CWnd_Cutter::i_Tip(const char* name, u8 enabled, u8 type) {
  CKLF_String tip;
  m.GetMainPort()->GetStatusTip(name, kGroup, enabled, type, tip);
  UpdateStatus(tip.GetStr());
}

u8 CWnd_Cutter::OnAboveControl(u32 id) {
  const i32 c = i_ControlOf(id);
  if (c == kCover || c == kAbort || c == kProgress) return 0;
  if (c < 0) {
    i_Tip("", 1, 128);
    return 1;
  }
  CKLF_Control* ctrl = GetControl(id);
  i_Tip(ctrl->GetName().GetStr(), ctrl->IsEnabled(), ctrl->GetType());
  return 1;
}

// Every fifth tick the cursor follows a state that changed under a still
// mouse; every tick the status text fades.
void CWnd_Cutter::i_StatusTick() {
  if (m_tick++ % 5 == 0) {
    const kltPOS at = GetMousePos();
    const kltRECT_s r = GetWindowRect();
    if (WindowFromPoint({at.x + r.left, at.y + r.top}) == this) OnSetCursor(static_cast<i16>(at.x), static_cast<i16>(at.y));
  }
  m_tick %= 5;
  m_fade.Tick(*static_cast<CKLF_CtrlStaticText*>(GetCtrl(kStatus)));
}

void CWnd_Cutter::OnTimer(u16 id) {
  if (id == 1 && m.built) i_StatusTick();
}

// ---- Ports the model calls.

void CWnd_Cutter::Beep() {
  if (m_App) m_App->SystemBeep();
}

void CWnd_Cutter::Alert(const char* text, const char* title) {
  if (m_App) m_App->PlatformMessageBox(text, title, this);
}

void CWnd_Cutter::PreviewChanged() {
  CKLF_Image& spline = m.GetSplineLayer();
  CKLF_Image& extras = m.GetExtrasLayer();
  const u32 area = static_cast<u32>(m_preview.right - m_preview.left) * static_cast<u32>(m_preview.bottom - m_preview.top);
  if (spline.GetMemObj()->GetSize() != 4 * area || extras.GetMemObj()->GetSize() != 4 * area) return;
  // Only the spline's alpha is drawn; its colour planes stay the orange.
  // Both layers are the preview's size (checked above): the copies are whole.
  CKLF_Mem* splineTo = m_splineLayer.GetMemObj();
  CKLF_Mem* extrasTo = m_extrasLayer.GetMemObj();
  if (splineTo->GetSize() != 4 * area || extrasTo->GetSize() != 4 * area) return;
  std::memcpy(splineTo->GetPtr() + 3 * area, spline.GetMemObj()->GetPtr() + 3 * area, area);
  std::memcpy(extrasTo->GetPtr(), extras.GetMemObj()->GetPtr(), 4 * static_cast<size_t>(area));
  m_extrasLayer.SetVisible(m.extrasVisible);
  RenderRect(m_preview);
  UpdateRect(m_preview);
}

void CWnd_Cutter::CuttingState(u8 on) {
  FilterControl(on, kAllOnes);
  if (on) FilterControl(0, static_cast<u32>(m_ids[kAbort]));
  for (CONTROL c : {kCover, kAbort}) GetCtrl(c)->Enable(on);
  auto* progress = static_cast<CKLF_CtrlProgress*>(GetCtrl(kProgress));
  progress->Visible(on);
  progress->SetValue(0);
  i_Sync();
  RenderRect(klNullRect);
  UpdateRect(klNullRect);
}

void CWnd_Cutter::CuttingProgress(u8 percent) { static_cast<CKLF_CtrlProgress*>(GetCtrl(kProgress))->SetValue(percent); }

// The windows redraw; input goes to the Cutter alone, where only the abort
// button and Escape act.
void CWnd_Cutter::ProcessEvents() {
  SubProcessMessages(nullptr, 0, 1, 0, 0);
  SubProcessMessages(this, 0, 0, 1, 1);
}

void CWnd_Cutter::SaveWindowPosition() {
  const kltRECT_s r = GetWindowRect();
  m.GetMainPort()->PutWindowPosition(kGroup, "Main", kltPOS{r.left, r.top});
}

// ---- Mouse and keys.

u8 CWnd_Cutter::i_PreviewHolds(i16 x, i16 y) const {
  return x >= m_preview.left && x < m_preview.right && y >= m_preview.top && y < m_preview.bottom;
}

u8 CWnd_Cutter::OnMouseMove(i16 x, i16 y, u8 mods) {
  if (GetHoverControl() == kAllOnes) i_Tip(i_PreviewHolds(x, y) ? "Zone_Preview" : "", 1, 255);
  const kltPOS p = i_InPreview(x, y);
  return m.OnMouseMove(p.x, p.y, mods, GetKeysStatus());
}

u8 CWnd_Cutter::OnLMouseDown(i16 x, i16 y, u8 mods) {
  const kltPOS p = i_InPreview(x, y);
  return m.OnLMouseDown(p.x, p.y, mods, GetKeysStatus());
}

u8 CWnd_Cutter::OnLMouseUp(i16, i16, u8) { return m.cutting ? 0 : m.OnLMouseUp(); }

u8 CWnd_Cutter::OnContextMenu(i16 x, i16 y, u8) {
  if (m.cutting || !i_PreviewHolds(x, y)) return 0;
  DoShaperMenu({x, y});
  return 1;
}

u8 CWnd_Cutter::OnSetCursor(i16 x, i16 y) {
  const kltPOS p = i_InPreview(x, y);
  const i32 id = m.cutting ? 0 : m.GetCursorId(p.x, p.y, GetKeysStatus());
  if (id == 0) return CKLF_Window::OnSetCursor(x, y);
  SetCursorByID(id);
  return 1;
}

u8 CWnd_Cutter::OnKeyDown(u8 key, u8) {
  if (key == klKeyEscape) {
    m.DoEsc();
    return 1;
  }
  if (key == klKeyReturn) {
    // Cut is the window's default button: Return presses it.
    CKLF_Control* cut = GetCtrl(kCut);
    if (m.cutting || !cut->IsEnabled()) return 0;
    u32 mods = 0;
    cut->SendMessage(klMsgClick, &mods);
    return 1;
  }
  if (key != klKeyDelete || m.cutting) return 0;
  m.opDelSelectedNodes();
  return 1;
}

i32 CWnd_Cutter::i_ControlOf(u32 id) const {
  for (u32 c = 0; c < kControlCount; ++c)
    if (m_ids[c] >= 0 && static_cast<u32>(m_ids[c]) == id) return static_cast<i32>(c);
  return -1;
}
