// The effect window base: creation, the common controls and their
// messages, closing, the timers and the status line.
#include "CWndFX_Base.h"

#include <algorithm>

#include "CKLF_App.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CPluginMain.h"

namespace {

const char kGroup[] = "Effect";
const char kParent[] = "MAIN";
const u32 kNone = 0xFFFFFFFFu;
// The Help menu's place in the window: under its button, 3 pixels in from
// the button's left edge (229 when the button has no place).
const i16 kHelpX = 229, kHelpY = 30, kHelpInset = 3;
// The direction buttons in the order GetAAMode tests them, and the code
// each one gives OnChangeAAMode.
const char* const kDirections[8] = {"_AT", "_ATL", "_AL", "_ABL", "_AB", "_ABR", "_AR", "_ATR"};
const u8 kDirectionCodes[8] = {CFXSpread::kTop,    CFXSpread::kTopLeft,     CFXSpread::kLeft,  CFXSpread::kBottomLeft,
                               CFXSpread::kBottom, CFXSpread::kBottomRight, CFXSpread::kRight, CFXSpread::kTopRight};
// The accelerator commands the main window handles for an effect window.
u8 PassedOn(u32 command) { return command == 1 || command == 8 || (command >= 12 && command <= 17); }

}  // namespace

CWndFX_Base::CWndFX_Base(const char* name, u8 effect)
    : m_name(name),
      m_closedByOk(0),
      m_closePending(0),
      m_closing(0),
      m_colorKind(1),
      m_created(0),
      m_mode(0),
      m_initNotifies(0),
      m_alpha{{192, 192, 192, 255}, {255, 255, 255, 255}},
      m_editFont(kNone),
      m_infoFont(kNone),
      m_help(nullptr),
      m_closeBox(nullptr),
      m_ok(nullptr),
      m_cancel(nullptr),
      m_reset(nullptr),
      m_previewButton(nullptr),
      m_object(nullptr),
      m_frame(nullptr),
      m_random(nullptr),
      m_direction{},
      m_mainPreview(nullptr),
      m_auto(nullptr),
      m_status(nullptr),
      m_checkerLayerId(kNone),
      m_previewRect{0, 0, 0, 0},
      m_resultLayerId(kNone),
      m_sets{},
      m_fields{},
      m_setCount(0),
      m_randomSource(nullptr),
      m_records(effect),
      m_schedule(*this, m_statusLine) {}

CWndFX_Base::~CWndFX_Base() {}

// A name that cannot be made is returned failed (IsError).
CKLF_String CWndFX_Base::ResName(const char* suffix) const {
  CKLF_String s("FX");
  if (!(s += m_name).IsError()) (void)(s += suffix);
  return s;
}

CKLF_CtrlEditLine* CWndFX_Base::AddEdit(const char* name, u8 negatives, u32* id) {
  CKLF_CtrlEditLine* e = AddNamed<CKLF_CtrlEditLine>(name, klCtrlEditLine, id);
  if (!e) return nullptr;
  e->SetFont(GetFont(m_editFont));
  e->SetOptions(1, negatives, 0, 0, -1, 0);
  e->SetColors(CKLF_CtrlEditLine::kLightColours);
  return e;
}

u8 CWndFX_Base::AddRectLayer(const char* name, kltRECT_s& rect, CKLF_Layer& layer, kltRGBA8 colour, u8 mode) {
  if (!GetResourceRect(name, rect)) return Fail(klErrUIResource);
  if (!layer.Create(rect, mode)) return FailFrom(layer, klErrNoMemory);
  colour.alpha = 0;
  layer.Set(colour, 255);
  return LSAddLayer(&layer) < 0 ? Fail(klErrNoMemory) : 1;
}

void CWndFX_Base::AddParamSet(CFXParamSet* set) {
  if (set && m_setCount < kMaxParamSets) m_sets[m_setCount++] = set;
}

// ---------------------------------------------------------------------------
// The main window's side

u8 CWndFX_Base::CreateEffectWindow(const char* resource, kltSIZE_s position) {
  CKLF_Window* parent = mainWindow ? mainWindow->GetMainWindow() : nullptr;
  // The desktop keeps it over the main window with the keys (Alt+Tab, a
  // click on the main window); the main window still takes the mouse.
  SetModalHint(1);
  return CreateFromResource(resource, static_cast<i16>(position.horizontal), static_cast<i16>(position.vertical),
                            parent, 0);
}

void CWndFX_Base::ShowEffectWindow() {
  RenderRect(klNullRect);
  Show();
  m_schedule.SetShown(1);
}

// ---------------------------------------------------------------------------
// Creation

u8 CWndFX_Base::OnCreate(CKLF_LayerSet*, u16, u16) {
  if (!i_TakeOwner()) return 0;
  const i32 info = AddFont("Info Font"), edit = AddFont("Edit Font");
  if (info < 0 || edit < 0) return 0;
  m_infoFont = static_cast<u32>(info);
  m_editFont = static_cast<u32>(edit);
  if (!i_CreatePreviewLayers() || !i_AddCommonControls() || !i_SetSampleSource()) return 0;
  if (m_colorKind == 0) {
    if (!m_fx.ConvertSourceToGray()) return Fail(klErrBadArg);
    m_object->DoRedraw();
  }
  if (!OnPreparePieces() || m_records.GetPieceCount() == 0) return FailFrom(m_records, klErrEmpty);
  if (m_records.GetPieceCount() == 1) m_auto->Enable(0);
  i_ReadMainPreview();
  if (!m_schedule.Start()) return 0;
  OnAboveControl(kNone);
  if (!OnCreateControls()) return 0;
  EnableAutoAdjustments(0);
  m_created = 1;
  OnCreated();
  Init();
  FocusFirstEditLine();
  return 1;
}

u8 CWndFX_Base::i_TakeOwner() {
  if (!mainWindow) return Fail(klErrBadArg);
  CPluginMain* plugin = mainWindow->GetPluginObject();
  // Without a plug-in object the engine knows the document's colour kind.
  m_colorKind = plugin ? plugin->GetPluginDataPtr()->colorKind : mainWindow->GetEngine().m_colorKind;
  mainWindow->GetTransparencyColors(m_alpha[0], m_alpha[1]);
  return 1;
}

u8 CWndFX_Base::i_CreatePreviewLayers() {
  if (!GetResourceRect(ResName("_Preview").GetStr(), m_previewRect)) return Fail(klErrUIResource);
  if (!m_checkerLayer.Create(m_previewRect, 2)) return FailFrom(m_checkerLayer, klErrNoMemory);
  m_checkerLayer.Set(4, 4, m_alpha[0], m_alpha[1]);
  const i32 checker = LSAddLayer(&m_checkerLayer);
  if (!m_resultLayer.Create(m_previewRect, 2)) return FailFrom(m_resultLayer, klErrNoMemory);
  const i32 result = LSAddLayer(&m_resultLayer);
  if (checker < 0 || result < 0) return Fail(klErrNoMemory);
  m_checkerLayerId = static_cast<u32>(checker);
  m_resultLayerId = static_cast<u32>(result);
  m_resultLayer.Set(kltRGBA8{0, 0, 0, 0}, 8);
  return 1;
}

template <class C>
u8 CWndFX_Base::i_Add(const char* suffix, u8 type, C*& control) {
  return (control = AddNamed<C>(ResName(suffix).GetStr(), type)) ? 1 : 0;
}

u8 CWndFX_Base::i_AddCommonControls() {
  if (!i_Add("_GFrm", klCtrlStaticImage, m_frame) || !i_Add("_Object", klCtrlStaticImage, m_object) ||
      !i_Add("_CloseX", klCtrlButton, m_closeBox) || !i_Add("_Cancel", klCtrlButton, m_cancel) ||
      !i_Add("_Ok", klCtrlButton, m_ok) || !i_Add("_Help", klCtrlButton, m_help) ||
      !i_Add("_Reset", klCtrlButton, m_reset) || !i_Add("_Preview", klCtrlButton, m_previewButton) ||
      !i_Add("_ARND", klCtrlButton, m_random))
    return 0;
  for (u32 k = 0; k < 8; ++k)
    if (!i_Add(kDirections[k], klCtrlRadioButton, m_direction[k])) return 0;
  if (!i_Add("_Preview", klCtrlCheckBox, m_mainPreview) || !i_Add("_AAdjust", klCtrlCheckBox, m_auto) ||
      !i_Add("_Status", klCtrlStaticText, m_status))
    return 0;
  m_frame->GetControlLayer()->SetVisible(0);
  m_object->GetControlLayer()->SetVisible(0);
  m_help->SetMenuMode(1);
  m_statusLine.Attach(m_status, GetFont(m_infoFont));
  return 1;
}

// The part of the sample picture under the preview is the effect's source,
// the same part of the result layer its destination. A picture beside the
// preview would leave the effect without planes: the resource is malformed.
u8 CWndFX_Base::i_SetSampleSource() {
  kltRECT_s pr = {0, 0, 0, 0};
  const u8* pixels = m_object->GetStateMemPtr(1, &pr);
  const kltRECT_s& v = m_previewRect;
  const kltRECT_s in = {std::max(pr.left, v.left), std::max(pr.top, v.top), std::min(pr.right, v.right),
                        std::min(pr.bottom, v.bottom)};
  if (!pixels || in.left >= in.right || in.top >= in.bottom) return Fail(klErrUIResource);
  const u32 pw = static_cast<u32>(pr.right - pr.left), ph = static_cast<u32>(pr.bottom - pr.top);
  u8* dst[5] = {};
  u32 stride = 0;
  if (!m_resultLayer.GetImageChannels(dst, stride)) return FailFrom(m_resultLayer, klErrEmpty);
  u8* src[4];
  // The picture's own pixels: the grey conversion works on them in place.
  u8* picture = const_cast<u8*>(pixels);
  for (u32 p = 0; p < 4; ++p) {
    src[p] = picture + p * pw * ph + static_cast<u32>(in.top - pr.top) * pw + static_cast<u32>(in.left - pr.left);
    dst[p] += static_cast<u32>(in.top - v.top) * stride + static_cast<u32>(in.left - v.left);
  }
  const u16 w = static_cast<u16>(in.right - in.left), h = static_cast<u16>(in.bottom - in.top);
  if (!m_fx.SetSource(src, pw, 4, 1, w, h) || !m_fx.SetDestination(dst, stride, 4, 1, w, h))
    return FailFrom(m_fx, klErrBadArg);
  return 1;
}

namespace {
const char kMemoryProblem[] = "Memory allocation problem...";
}  // namespace

void CWndFX_Base::Previewed(u8 ok) {
  if (!ok && m_fx.GetError() == klErrNoMemory) TellNoMemory();
}

void CWndFX_Base::TellNoMemory() {
  if (m_App) m_App->PlatformMessageBox(kMemoryProblem, "Error!", this);
}

void CWndFX_Base::i_ReadMainPreview() {
  u8 on = 1;
  CPluginMain* plugin = mainWindow->GetPluginObject();
  CKLF_Storage* store = plugin ? plugin->ConfStorage_GetStorage() : nullptr;
  // Without memory to read it the main preview stays on.
  if (store && !store->GetOptional(ResName("_MainPreview"), on)) on = 1;
  if (on == 1) m_mainPreview->SetCheck(1, 0);
  m_previewButton->Enable(on == 1 ? 0 : 1);
}

u8 CWndFX_Base::OnCreateControls() {
  for (u32 i = 0; i < m_setCount; ++i)
    if (!m_sets[i]->CreateRange(*this)) return 0;
  for (u32 i = 0; i < m_setCount; ++i)
    if (!m_sets[i]->AddBox(*this)) return 0;
  for (u32 i = 0; i < m_setCount; ++i)
    if (!m_sets[i]->AddEdit(*this)) return 0;
  for (u32 i = 0; i < m_setCount; ++i)
    if (!m_sets[i]->AddSliders(*this)) return 0;
  return 1;
}

u8 CWndFX_Base::OnPreparePieces() { return mainWindow ? m_records.PreparePieces(mainWindow->GetEngine()) : 0; }

// ---------------------------------------------------------------------------
// Messages

u32 CWndFX_Base::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (!m_created) return 0;
  if ((type == klCtrlCheckBox || type == klCtrlButton || type == klCtrlRadioButton) &&
      i_OnCommonControl(id, type, data))
    return 1;
  if (type == 255 && msg == klMsgMenu)
    return data && mainWindow && mainWindow->HelpMenuDispatcher(*static_cast<const u16*>(data), this) ? 1 : 0;
  if (msg == klMsgAccelerator && type == 0 && PassedOn(id)) {
    CKLF_Window* main = mainWindow ? mainWindow->GetMainWindow() : nullptr;
    return main ? main->OnCtrlMessage(msg, id, name, type, data) : 0;
  }
  for (u32 i = 0; i < m_setCount; ++i)
    if (m_sets[i]->OnMessage(msg, id, type, data)) return 1;
  return 0;
}

u8 CWndFX_Base::i_OnCommonControl(u32 id, u8 type, void*) {
  const CKLF_Control* c = GetControl(id);
  if (!c) return 0;
  if (type == klCtrlCheckBox) {
    if (c == m_auto) return OnAutoAdjustments(m_auto->GetCheck()), 1;
    if (c != m_mainPreview) return 0;
    const u8 on = m_mainPreview->GetCheck();
    m_previewButton->Enable(on ? 0 : 1);
    OnMainPreview(on);
    DoUpdateMainWindow(0);
    return 1;
  }
  if (type == klCtrlRadioButton) {
    for (u32 k = 0; k < 8; ++k)
      if (c == m_direction[k]) return OnChangeAAMode(kDirectionCodes[k]), 1;
    return 0;
  }
  if (c == m_closeBox || c == m_cancel || c == m_ok) {
    i_CloseAs(c == m_ok ? 1 : 0);
  } else if (c == m_help) {
    i_HelpMenu();
  } else if (c == m_reset) {
    OnReset();
  } else if (c == m_previewButton) {
    DoUpdateMainWindow(1);
  } else if (c == m_random) {
    ResetAADirection();
    OnChangeAAMode(CFXSpread::kRandom);
  } else {
    return 0;
  }
  return 1;
}

void CWndFX_Base::i_HelpMenu() {
  CKLF_PlatformPopupMenu menu;
  menu.Create();
  if (mainWindow) mainWindow->FillHelpMenu(&menu);
  const kltRECT_s r = m_help->GetRenderRect();
  menu.DoPopup(this, klIsNullRect(r) ? kHelpX : static_cast<i16>(r.left + kHelpInset), kHelpY, 0);
}

void CWndFX_Base::OnCtrlLostFocus(u32 id) {
  CKLF_Window::OnCtrlLostFocus(id);
  if (!m_created) return;
  for (u32 i = 0; i < m_setCount; ++i)
    if (m_sets[i]->OnLostFocus(id)) return;
}

u8 CWndFX_Base::OnKeyDown(u8 key, u8) {
  if (key != klKeyReturn && key != klKeyEscape) return 0;
  i_CloseAs(key == klKeyReturn ? 1 : 0);
  return 1;
}

u8 CWndFX_Base::OnAboveControl(u32 id) {
  CKLF_String tip;
  CFXStatusLine::ControlTip(mainWindow, kGroup, id == kNone ? nullptr : GetControl(id), tip);
  UpdateStatus(tip.GetStr());
  return 1;
}

// ---------------------------------------------------------------------------
// Closing

void CWndFX_Base::i_CloseAs(u8 ok) {
  // A Cancel that waits for the render to stop stays a Cancel.
  if (m_closePending) return;
  m_closedByOk = ok;
  Close();
}

void CWndFX_Base::Close() {
  // A closed window (its platform window gone) closes once.
  if (!GetWindowHandle() || m_closing) return;
  if (mainWindow && mainWindow->IsRerenderBusy()) {
    // OK waits for the render to end. Cancel stops it and closes as soon
    // as it has stopped (DoUpdateMainWindow).
    if (!m_closedByOk) {
      m_closePending = 1;
      mainWindow->StopRerender();
    }
    return;
  }
  m_closePending = 0;
  m_closing = 1;
  m_schedule.Stop();
  i_EnableButtons(0, 0);
  if (m_closedByOk) {
    OnOk();
  } else {
    // Cancel's render back runs on the main window's progress, after the
    // window has gone.
    Hide();
    OnCancel();
  }
  if (mainWindow) mainWindow->ExitFXMode();
  CKLF_Window::Close();
}

int32_t CWndFX_Base::OnPlatformEvent(const KLP_Event& event) {
  if (m_closing && (event.eventClass == klpClassMouse || event.eventClass == klpClassKeyboard)) return 1;
  return CKLF_Window::OnPlatformEvent(event);
}

void CWndFX_Base::OnOk() {
  if (!mainWindow) return;
  CFXEffectRecords::SPREAD spread;
  GetSpread(spread);
  m_records.Confirm(*mainWindow, spread);
  i_StoreSettings();
}

void CWndFX_Base::OnCancel() {
  if (mainWindow) m_records.Restore(*mainWindow);
}

void CWndFX_Base::i_StoreSettings() {
  CPluginMain* plugin = mainWindow->GetPluginObject();
  if (!plugin) return;
  const kltRECT_s r = GetWindowRect();
  CKLF_Storage* store = plugin->ConfStorage_GetStorage();
  if (!plugin->PutWindowPosToConf(ResName(""), kParent, kltPOS{r.left, r.top}) ||
      (store && !store->SetRecord(ResName("_MainPreview"), static_cast<u8>(IsMainPreviewOn() ? 1 : 0))))
    TellNoMemory();
}

// Cancel and the close box stay enabled while the main window renders: they
// stop the render.
void CWndFX_Base::EnableModalityButtons(u8 on) {
  if (GetWindowHandle()) i_EnableButtons(on, 1);
}

void CWndFX_Base::i_EnableButtons(u8 ok, u8 cancel) {
  for (CKLF_CtrlButton* b : {m_ok, m_cancel, m_closeBox}) {
    const u8 on = b == m_ok ? ok : cancel;
    if (!b || b->IsEnabled() == on) continue;
    b->Enable(on);
    ForceRedrawRect(b->GetRenderRect());
  }
}

// ---------------------------------------------------------------------------
// Timers

void CWndFX_Base::OnTimer(u16 id) { m_schedule.OnTimer(id); }
