// The main window's construction and creation: preferences, resource
// rectangles, fonts, every control, the split rulers, the document and its
// thumbnail, the preview with its start zoom, the overlay layers, the last
// settings, the window timer and the Cutter.
#include "CWnd_Main.h"

#include <cstring>

#include "CCutterServices.h"
#include "CKLF_App.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlRuler.h"
#include "CKLF_CtrlScrollBar.h"
#include "CKLF_CtrlStaticImage.h"
#include "CPluginMain.h"

namespace {

struct CONTROLDEF {
  const char* name;
  u8 type;
};

// The kept controls by resource name and type, in the order of
// CWnd_Main::Control (the scroll bars' arrow style is chosen at creation).
const CONTROLDEF kControls[CWnd_Main::kControlCount] = {
    {"Main_Info", klCtrlStaticText},      {"Main_Status", klCtrlStaticText},
    {"Main_RulerTop", klCtrlRuler},       {"Main_RulerLeft", klCtrlRuler},
    {"Main_RulerCover_Top", klCtrlStaticImage}, {"Main_RulerCover_Left", klCtrlStaticImage},
    {"Main_ModeL", klCtrlStaticImage},    {"Main_ModeP", klCtrlStaticImage},
    {"Main_Show", klCtrlButton},          {"Main_Hide", klCtrlButton},
    {"Main_RevShowHide", klCtrlButton},   {"Main_ShowExtras", klCtrlButton},
    {"Main_HideExtras", klCtrlButton},    {"Main_Apply", klCtrlButton},
    {"Main_ApplyLM", klCtrlButton},       {"Main_Cancel", klCtrlButton},
    {"Main_Export", klCtrlButton},        {"Main_Relayout", klCtrlButton},
    {"Main_Help", klCtrlButton},          {"Main_CloseX", klCtrlButton},
    {"Main_Main", klCtrlButton},          {"Main_Select", klCtrlButton},
    {"Main_Adjust", klCtrlButton},        {"Main_Ruler", klCtrlButton},
    {"Main_AddKnives", klCtrlButton},     {"Main_DelKnives", klCtrlButton},
    {"Main_ResetKnots", klCtrlButton},    {"Main_RndKnots", klCtrlButton},
    {"Main_Zoom", klCtrlSlider},          {"Main_RndKnots", klCtrlSlider},
    {"Main_RndKnots", klCtrlEditLine},    {"Main_ScrollV_Bottom", klCtrlButton},
    {"Main_ScrollV_Top", klCtrlButton},   {"Main_ScrollV_", klCtrlScrollBar},
    {"Main_ScrollH_Right", klCtrlButton}, {"Main_ScrollH_Left", klCtrlButton},
    {"Main_ScrollH_", klCtrlScrollBar},   {"Main_Navigator", klCtrlStaticImage}};

// The effects' buttons and switches, in the window's order; the engine's
// effect index of each.
const char* const kEffectNames[CWnd_Main::kEffectCount] = {
    "Main_FXBevel", "Main_FXHSL", "Main_FXBC", "Main_FXBlur", "Main_FXMBlur",
    "Main_FXOpacity", "Main_FXCOver", "Main_FXIOver", "Main_FXStroke"};

}  // namespace

CWnd_Main::CWnd_Main(CPluginMain& plugin)
    : m_plugin(&plugin),
      m_cutter(nullptr),
      applied(0),
      m_created(0),
      m_failedResult(0),
      m_smallFont(-1),
      m_infoFont(-1),
      m_editFont(-1),
      m_info(nullptr),
      m_status(nullptr),
      m_zoomSlider(nullptr),
      m_rndKnotsEdit(nullptr),
      m_cutterFailed(0),
      m_making(0),
      m_heldText(nullptr),
      m_heldTitle(nullptr),
      m_previewId(-1),
      m_previewRect(klNullRect),
      m_zoom(4),
      m_viewOffset{0, 0},
      m_pieceUnderMouse(-1),
      m_lastMouseImagePos(klNullPOS),
      m_infoUnits(1),
      m_infoPos{-1, -1},
      m_tick(0),
      m_lastMouse{0, 0},
      m_mouseSeen(0),
      m_prefs(CPreferences::Defaults()),
      m_pluginData(nullptr),
      m_zone(-2),
      m_zoneState(0),
      m_puzzle(plugin.GetEngine(), *this),
      m_settings(m_editor.model, m_puzzle, *this),
      m_progress(this),
      m_progressDepth(0) {
  for (i32& id : m_ids) id = -1;
  for (u32 i = 0; i < kEffectCount; ++i) m_fxButtons[i] = m_fxSwitches[i] = -1;
  for (u32 i = 0; i < 3; ++i) m_overlayIndex[i] = -1;
  for (u32 i = 0; i < 2; ++i) {
    m_splitRulerIndex[i] = -1;
    m_splitRulerRect[i] = klNullRect;
  }
  m_editor.model.SetView(this);
  m_editor.model.thinKnives = 1;
  m_editor.model.antiAliasing = 1;
}

CWnd_Main::~CWnd_Main() {
  delete m_cutter;
  m_cutter = nullptr;
  m_editor.model.SetCutter(nullptr);
  // The platform window goes while the preview and the layers it shows
  // still exist.
  if (GetWindowHandle()) CKLF_Window::Close();
}

CKLF_Control* CWnd_Main::GetNamedControl(Control c) const {
  return c < kControlCount && m_ids[c] >= 0 ? GetControl(static_cast<u32>(m_ids[c])) : nullptr;
}

CKLF_Control* CWnd_Main::GetEffectControl(u32 effect, u8 type) const {
  if (effect >= kEffectCount) return nullptr;
  const i32 id = type == klCtrlCheckBox ? m_fxSwitches[effect] : m_fxButtons[effect];
  return id >= 0 ? GetControl(static_cast<u32>(id)) : nullptr;
}

u8 CWnd_Main::StartZoom(u32 imageWidth, u32 imageHeight, u32 viewWidth, u32 viewHeight, u8 fit) {
  if (!fit) return 4;
  for (u32 k = 0; k <= 4; ++k)
    if ((imageWidth >> k) <= viewWidth && (imageHeight >> k) <= viewHeight) return static_cast<u8>(4 - k);
  return 0;
}

// ---------------------------------------------------------------------------
// Creation

u8 CWnd_Main::OnCreate(CKLF_LayerSet*, u16, u16) {
  m_heldText = m_heldTitle = nullptr;
  m_making = 1;
  const u8 made = i_Make();
  m_making = 0;
  return made;
}

void CWnd_Main::ShowMade() {
  Show();
  if (m_cutter) m_cutter->ShowCutterWindow();
  const char *text = nullptr, *title = nullptr;
  if (!HeldAlert(text, title)) return;
  m_heldText = m_heldTitle = nullptr;
  Alert(text, title);
}

u8 CWnd_Main::i_Make() {
  u16 unread = 0;
  if (!CPreferences::Read(m_plugin->ConfStorage_GetStorage(), m_prefs, &unread)) return Fail(unread);
  if (!i_ReadRects()) return 0;
  m_pluginData = m_plugin->GetPluginDataPtr();
  const u8 units = m_pluginData->rulerUnits;
  m_infoUnits = units <= 4 ? static_cast<u8>(units + 1) : 1;
  if (!i_AddFonts() || !i_AddControls()) return 0;
  if (!i_SetUpControls()) return Fail(klErrNoMemory);
  if (!i_AddSplitRulers()) return 0;
  m_zoomSlider->SetValue(4, 0);
  if (!i_CheckDocumentSize() || !GetSourceDataInRGBA() || !SetSourceToNavigator()) return 0;
  if (!i_BindPreview() || !i_AddOverlayLayers()) return 0;
  i32 alphaW = 0, alphaH = 0;
  const u8* alpha = m_plugin->GetCompositeAlpha(alphaW, alphaH);
  m_puzzle.SetDocument(alpha, m_sourceImage.GetImageWidth(), m_sourceImage.GetImageHeight(),
                       m_plugin->GetEngineLayerAccess());
  m_puzzle.SetSourceImage(&m_sourceImage);
  m_editor.model.SetImageSize(m_sourceImage.GetImageWidth(), m_sourceImage.GetImageHeight());
  m_editor.model.hiddenKnifeOpacity = m_prefs.delKnifeOpacity;
  i_BindDrawing();
  if (!m_settings.settings_LoadCurLayoutAndCellSettings()) return FailFrom(m_settings, klErrNoMemory);
  if (!SetTimer(kTimerMs, kTimerId)) return 0;
  i_StartRandomKnots();
  m_created = 1;
  // A Cutter that could not be opened ends the run before it starts.
  return i_OpenCutter();
}

u8 CWnd_Main::i_ReadRects() {
  return GetResourceRect("Main_Preview", m_previewRect) && GetResourceRect("Main_HSplitRuler", m_splitRulerRect[0]) &&
                 GetResourceRect("Main_VSplitRuler", m_splitRulerRect[1])
             ? 1
             : 0;
}

// Each add resets the code: the first that fails ends with its own.
u8 CWnd_Main::i_AddFonts() {
  return (m_smallFont = AddFont("Small Font")) >= 0 && (m_infoFont = AddFont("Info Font")) >= 0 &&
                 (m_editFont = AddFont("Edit Font")) >= 0
             ? 1
             : 0;
}

u8 CWnd_Main::i_AddControls() {
  // The platform shows both scroll arrows together ("MAC") or one at each end.
  const char* style = CKLF_App::GetScrollStyle_TwoSideArrows() ? "NR" : "MAC";
  auto add = [&](Control c) -> u8 {
    CKLF_String name = kControls[c].name;
    const u8 scroll = c == kScrollVTop || c == kScrollHLeft || c == kScrollV || c == kScrollH;
    if (name.IsError() || (scroll && (name += style).IsError())) return FailFrom(name, klErrNoMemory);
    m_ids[c] = AddControl(name, kControls[c].type);
    return m_ids[c] >= 0 ? 1 : 0;
  };
  for (u32 c = kInfo; c <= kRndKnotsButton; ++c)
    if (!add(static_cast<Control>(c))) return 0;
  for (u32 e = 0; e < kEffectCount; ++e)
    if ((m_fxSwitches[e] = AddControl(kEffectNames[e], klCtrlCheckBox)) < 0 ||
        (m_fxButtons[e] = AddControl(kEffectNames[e], klCtrlButton)) < 0)
      return 0;
  for (u32 c = kZoom; c < kControlCount; ++c)
    if (!add(static_cast<Control>(c))) return 0;
  m_info = static_cast<CKLF_CtrlStaticText*>(GetNamedControl(kInfo));
  m_status = static_cast<CKLF_CtrlStaticText*>(GetNamedControl(kStatus));
  m_zoomSlider = static_cast<CKLF_CtrlSlider*>(GetNamedControl(kZoom));
  m_rndKnotsEdit = static_cast<CKLF_CtrlEditLine*>(GetNamedControl(kRndKnotsEdit));
  return 1;
}

u8 CWnd_Main::i_SetUpControls() {
  m_info->SetFont(GetFont(static_cast<u32>(m_infoFont)));
  m_info->SetText("", 1, 0, 15);
  if (!m_info->AddTab(140) || !m_info->AddTab(300)) return 0;
  m_status->SetFont(GetFont(static_cast<u32>(m_infoFont)));
  m_status->SetText("", 1, 2, 15);
  m_status->SetFlow(1);
  if (!m_status->AddTab(265)) return 0;
  for (Control c : {kRulerTop, kRulerLeft})
    static_cast<CKLF_CtrlRuler*>(GetNamedControl(c))->SetFont(GetFont(static_cast<u32>(m_smallFont)));
  static_cast<CKLF_CtrlStaticImage*>(GetNamedControl(kModeL))->GetControlLayer()->SetVisible(0);
  static_cast<CKLF_CtrlStaticImage*>(GetNamedControl(kModeP))->GetControlLayer()->SetVisible(1);
  for (Control c : {kHelp, kRuler, kMain, kSelect, kAdjust})
    static_cast<CKLF_CtrlButton*>(GetNamedControl(c))->SetMenuMode(1);
  for (Control c : {kApply, kApplyLM, kShowExtras, kHideExtras}) GetNamedControl(c)->SetDisabledOpacity(0);
  GetNamedControl(kApply)->Enable(0);
  GetNamedControl(kShowExtras)->Enable(0);
  m_rndKnotsEdit->SetFont(GetFont(static_cast<u32>(m_editFont)));
  m_rndKnotsEdit->SetOptions(1, 0, 0, 0, -1, 0);
  m_rndKnotsEdit->SetColors(CKLF_CtrlEditLine::kLightColours);
  auto* vBar = static_cast<CKLF_CtrlScrollBar*>(GetNamedControl(kScrollV));
  auto* hBar = static_cast<CKLF_CtrlScrollBar*>(GetNamedControl(kScrollH));
  vBar->SetButtons(static_cast<u32>(m_ids[kScrollVTop]), static_cast<u32>(m_ids[kScrollVBottom]));
  hBar->SetButtons(static_cast<u32>(m_ids[kScrollHLeft]), static_cast<u32>(m_ids[kScrollHRight]));
  hBar->InvertWheel(1);
  return 1;
}

u8 CWnd_Main::i_AddSplitRulers() {
  for (u32 i = 0; i < 2; ++i) {
    if (!m_splitRulers[i].Create(m_splitRulerRect[i], 2)) return FailFrom(m_splitRulers[i], klErrNoMemory);
    m_splitRulers[i].Set(kltRGBA8{200, 200, 200, 0}, 15);
    m_splitRulerIndex[i] = LSAddLayer(&m_splitRulers[i]);
    if (m_splitRulerIndex[i] < 0) return Fail(klErrNoMemory);
  }
  return 1;
}

// The window's images hold 16-bit sizes: a larger filter rectangle is
// refused, never cut short (the host would be read into a short plane).
u8 CWnd_Main::i_CheckDocumentSize() {
  const kltRECT_s r = m_pluginData->filterRect;
  const i64 w = static_cast<i64>(r.right) - r.left, h = static_cast<i64>(r.bottom) - r.top;
  if (w > 0 && h > 0 && w <= 65535 && h <= 65535) return 1;
  Alert(w > 0 && h > 0 ? "The filtered area is too large for the plug-in's window: at most 65535 pixels a side."
                       : "There is nothing to filter: the filtered area is empty.",
        kErrorTitle);
  return Fail(klErrBadArg);
}

u8 CWnd_Main::i_BindPreview() {
  m_previewId = AddControl_External(&m_preview);
  if (m_previewId < 0) return 0;
  i_ShowPreferenceColours();
  if (!i_SetPreviewImage(&m_sourceImage)) return FailFrom(m_preview, klErrNoMemory);
  const f64 resH = m_pluginData->resolutionH, resV = m_pluginData->resolutionV;
  m_preview.SetResolution(resH, resV);
  m_preview.SetRulerUnit(m_infoUnits);
  m_preview.DoRedraw(1, 0);
  const u32 w = static_cast<u32>(m_previewRect.right - m_previewRect.left);
  const u32 h = static_cast<u32>(m_previewRect.bottom - m_previewRect.top);
  m_zoomSlider->SetValue(StartZoom(m_sourceImage.GetImageWidth(), m_sourceImage.GetImageHeight(), w, h,
                                   m_prefs.onLoadZoom),
                         1);
  return 1;
}

u8 CWnd_Main::i_AddOverlayLayers() {
  CKLF_Layer* layers[3] = {&m_knivesLayer, &m_movingKnivesLayer, &m_knotHandlesLayer};
  const kltRGBA8 colours[3] = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 0, 255, 0}};
  for (u32 i = 0; i < 3; ++i) {
    if (!layers[i]->Create(m_previewRect, 2)) return FailFrom(*layers[i], klErrNoMemory);
    layers[i]->SetVisible(0);
    layers[i]->Set(colours[i], 15);
    m_overlayIndex[i] = LSAddLayer(layers[i]);
    if (m_overlayIndex[i] < 0) return Fail(klErrNoMemory);
  }
  return 1;
}

void CWnd_Main::i_BindDrawing() {
  CLayoutDrawing& d = m_editor.drawing;
  d.SetLayers(&m_knivesLayer, &m_movingKnivesLayer, &m_knotHandlesLayer);
  d.SetRulers(&m_splitRulers[0], &m_splitRulers[1]);
  d.SetView(m_zoom, m_viewOffset.x, m_viewOffset.y, m_previewRect.right - m_previewRect.left,
            m_previewRect.bottom - m_previewRect.top);
}

void CWnd_Main::i_StartRandomKnots() {
  static_cast<CKLF_CtrlSlider*>(GetNamedControl(kRndKnotsSlider))->SetValue(0, 0);
  m_rndKnotsEdit->SetText("0", 0);
  m_puzzle.randomKnotsAmount = 0;
  GetNamedControl(kRndKnotsButton)->Enable(0);
}
