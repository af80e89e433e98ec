// What the models ask of the main window: the preview and its overlays
// redrawn, the mode-dependent controls, the mode's window side, the main
// progress, alerts and questions, and the plug-in's stored settings.
#include <cstring>

#include "CApp.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlRuler.h"
#include "CKLF_CtrlScrollBar.h"
#include "CKLF_CtrlStaticImage.h"
#include "CPluginMain.h"
#include "CWnd_Main.h"
#include "CWnd_MessageBox.h"
#include "KLP_Alert.h"

// ---------------------------------------------------------------------------
// Preview

u8 CWnd_Main::i_SetPreviewImage(CKLF_Image* image) {
  return m_preview.SetData(m_previewRect, image, static_cast<CKLF_CtrlScrollBar*>(GetNamedControl(kScrollV)),
                           static_cast<CKLF_CtrlScrollBar*>(GetNamedControl(kScrollH)),
                           static_cast<CKLF_CtrlRuler*>(GetNamedControl(kRulerTop)),
                           static_cast<CKLF_CtrlRuler*>(GetNamedControl(kRulerLeft)),
                           static_cast<CKLF_CtrlStaticImage*>(GetNamedControl(kNavigator)));
}

void CWnd_Main::SetPreviewData() {
  // Puzzle mode shows the composed pieces, Layout mode the document.
  const u8 pieces = !m_puzzle.layoutMode && m_puzzle.resultImage.GetMemObj();
  if (!i_SetPreviewImage(pieces ? &m_puzzle.resultImage : &m_sourceImage) && m_preview.GetError() == klErrNoMemory)
    Alert(kMemoryProblem, kErrorTitle);
}

void CWnd_Main::RedrawPreview(u8 navigator) {
  (void)navigator;  // the navigator's frame follows every redraw
  m_preview.DoRedraw(1, 0);
}

void CWnd_Main::SetPreviewMask(const u8* map, u32 rowLength) { m_preview.SetMaskChannel(map, rowLength); }

void CWnd_Main::i_RedrawPreviewRect() {
  RenderRect(m_previewRect);
  UpdateRect(m_previewRect);
}

void CWnd_Main::RedrawLayout() {
  m_editor.drawing.DoRedrawOverlay();
  i_ShowOverlays();
  i_RedrawPreviewRect();
  RedrawRulers();
  OnKnotSelectionChanged();
}

void CWnd_Main::RedrawSplitting() {
  const CLayoutDrawing& d = m_editor.drawing;
  m_editor.drawing.spl_DoRedrawSplitting(d.splitClip, d.splitArea, 0);
  i_ShowOverlays();
  i_RedrawPreviewRect();
}

void CWnd_Main::RedrawRulers() {
  m_editor.drawing.spl_DoRedrawHVSplitRulers();
  i_ShowSplitRulers();
}

void CWnd_Main::i_ShowSplitRulers() {
  for (const kltRECT_s& r : m_splitRulerRect) {
    RenderRect(r);
    UpdateRect(r);
  }
}

// ---------------------------------------------------------------------------
// Controls and modes

void CWnd_Main::SetControlState(const CModeControls::CONTROLSTATE& s) {
  for (u32 i = 0; i < GetControlCount(); ++i) {
    CKLF_Control* c = GetControl(i);
    if (c->GetType() != s.type || std::strcmp(c->GetName().GetStr(), s.name) != 0) continue;
    if (s.disabledOpacity != CModeControls::kKeep) c->SetDisabledOpacity(s.disabledOpacity);
    if (s.enabled != CModeControls::kKeep) c->Enable(s.enabled);
    if (s.visible != CModeControls::kKeep && s.type == klCtrlEditLine)
      static_cast<CKLF_CtrlEditLine*>(c)->Visible(s.visible);
  }
}

void CWnd_Main::SetControlCheck(const char* name, u8 on) {
  for (u32 i = 0; i < GetControlCount(); ++i) {
    CKLF_Control* c = GetControl(i);
    if (c->GetType() == klCtrlCheckBox && std::strcmp(c->GetName().GetStr(), name) == 0) c->SetCheck(on, 0);
  }
}

void CWnd_Main::OnChangeExtrasState() {
  const u8 shown = m_puzzle.layoutMode ? m_editor.model.showKnots : m_puzzle.showPieceExtras;
  GetNamedControl(kShowExtras)->Enable(shown ? 0 : 1);
  GetNamedControl(kHideExtras)->Enable(shown ? 1 : 0);
}

void CWnd_Main::OnModeChanged(u8 layoutMode) {
  m_editor.drawing.SetLayoutMode(layoutMode);
  if (layoutMode) {
    // The knives and knot handles show; the redraw follows the preview's.
    m_editor.drawing.cmop_Extras(1, 0);
    OnChangeExtrasState();
    m_editor.model.spl_OnKnifeSelChanged();
    OnKnotSelectionChanged();
  } else {
    for (CKLF_Layer* l : {&m_knivesLayer, &m_movingKnivesLayer, &m_knotHandlesLayer}) l->SetVisible(0);
  }
  i_ShowModeImages();
}

void CWnd_Main::i_ShowModeImages() {
  auto* layout = static_cast<CKLF_CtrlStaticImage*>(GetNamedControl(kModeL));
  auto* puzzle = static_cast<CKLF_CtrlStaticImage*>(GetNamedControl(kModeP));
  layout->GetControlLayer()->SetVisible(m_puzzle.layoutMode);
  puzzle->GetControlLayer()->SetVisible(!m_puzzle.layoutMode);
  const kltRECT_s a = layout->GetRenderRect(), b = puzzle->GetRenderRect();
  const kltRECT_s u = {a.left < b.left ? a.left : b.left, a.top < b.top ? a.top : b.top,
                       a.right > b.right ? a.right : b.right, a.bottom > b.bottom ? a.bottom : b.bottom};
  RenderRect(u);
  if (IsVisible() && m_created) UpdateRect(u);
}

// ---------------------------------------------------------------------------
// Progress and events

// The window's own clicks, keys and close requests wait while a long
// operation runs (it would refuse them, or run them inside itself) and
// act, in order, once it ends.
CKLF_Progress* CWnd_Main::BeginProgress(const char* caption) {
  if (m_progressDepth++ == 0) {
    m_progress.SetCaption(caption);
    HoldInput(1);
  }
  return &m_progress;
}

void CWnd_Main::EndProgress() {
  if (m_progressDepth == 0 || --m_progressDepth > 0) return;
  HoldInput(0);
  // The status line shows its tip again.
  m_fade.Stop(255);
  i_SetStatusNow(m_fade.GetPending().GetStr(), 255);
}

void CWnd_Main::PumpEvents() {
  // Every window's events, this window's timers too (the status line and
  // the mouse poll go on while pieces render).
  SubProcessMessages(nullptr, 1, 1, 1, 1);
}

void CWnd_Main::StatusProgress(i32 percent) {
  if (percent >= 0) {
    UpdateStatusProgress(kSplitterProgress, static_cast<u8>(percent > 100 ? 100 : percent));
    return;
  }
  m_fade.SetNow("", 255);
  i_SetStatusNow("", 255);
}

// ---------------------------------------------------------------------------
// Alerts and questions

void CWnd_Main::Alert(const char* text, const char* title) {
  // Not over a window half made: shown with the window (ShowMade), or once
  // what was made is gone. Memory that ran out while the window is made
  // fails the making, which then ends out of memory without the alert.
  if (m_making) {
    if (text && std::strcmp(text, kMemoryProblem) == 0) NoteFailure(klErrNoMemory);
    if (!m_heldText) m_heldText = text, m_heldTitle = title;
    return;
  }
  if (m_App)
    m_App->PlatformMessageBox(text, title, this);
  else
    KLP_ShowAlert(title, text);
}

i32 CWnd_Main::AskMessageBox(const char* header, const char* text, u8 buttons, u8 icon) {
  (void)icon;  // the box has no icon of its own
  // Kind 1 OK and Cancel, 2 Yes and No, else OK alone.
  const u8 left = buttons == 1 ? 1 : buttons == 2 ? 2 : 0;
  const u8 right = buttons == 1 ? 4 : buttons == 2 ? 3 : 1;
  // A dialog of the window that asked: the one whose modal loop runs (a
  // question from a dialog), else this window.
  CKLF_Window* over = this;
  if (CKLP_UIPlatform* ui = KLP_GetUI())
    if (auto* w = dynamic_cast<CKLF_Window*>(ui->GetWindowClient(ui->GetModalWindow()))) over = w;
  CWnd_MessageBox box;
  if (!box.Init(header, text, left, right)) return 0;
  if (!box.CreateFromResource("MessageBox", klNotSet, klNotSet, over, 1)) return 0;
  box.RenderRect(klNullRect);
  const i32 r = box.DoModal();
  return r < 0 ? 0 : r;
}

// The Cutter's dialogs ask here too.
u8 CWnd_Main::GetWindowPosition(const char* name, const char* parent, kltSIZE_s& at) {
  at = m_plugin->WindowPosFromConf(name, parent, klNullSize, 1);
  return m_plugin->GetError() != klErrNoMemory;
}

// Made by the factory the plug-in's assembly registers (none: no window);
// the Puzzle-mode model that asked becomes its owner.
CEffectWindowServices* CWnd_Main::NewEffectWindow(u8 effect) { return CEffectWindowServices::New(effect); }

void CWnd_Main::GetTransparencyColors(kltRGBA8& first, kltRGBA8& second) { m_prefs.CheckerColours(first, second); }

void CWnd_Main::GetFrameColors(kltRGBA8& first, kltRGBA8& second) { m_prefs.MarginColours(first, second); }

// ---------------------------------------------------------------------------
// The application's tips and Help menu, for the Cutter and the effect
// windows

// A tip that cannot be made stays failed in tip (IsError).
void CWnd_Main::GetStatusTip(const char* name, const char* group, u8 enabled, u8 type, CKLF_String& tip) {
  (void)(tip = CApp::GetStatusTip(name, group, enabled, type));
}

void CWnd_Main::FillHelpMenu(CKLF_PlatformPopupMenu* menu) { FillHelpMenu(menu, 0); }

void CWnd_Main::FillHelpMenu(CKLF_PlatformPopupMenu* menu, u8 flag) {
  if (CApp* app = static_cast<CApp*>(m_App)) app->FillHelpMenu(menu, flag);
}

u8 CWnd_Main::HelpMenuDispatcher(u16 command, CKLF_Window* window) {
  CApp* app = static_cast<CApp*>(m_App);
  return app ? app->HelpMenuDispatcher(command, window) : 0;
}

void CWnd_Main::RecordLayoutUndoPoint() { m_editor.undo.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubGrid); }

// ---------------------------------------------------------------------------
// Stored settings

// Settings missing from the descriptor, or not settings, are none here;
// memory is a failure.
u8 CWnd_Main::ReadScriptParameters(CKLF_Mem& block, u16& error) {
  u8 display = 0;
  if (m_plugin->ReadEncryptedScriptParameter_V2(block, display)) return 1;
  block.free();
  error = m_plugin->GetError();
  return error == klErrNoMemory ? 0 : 1;
}

u8 CWnd_Main::WriteScriptParameters(const u8* data, u32 size, u16& error) {
  if (m_plugin->WriteEncryptedScriptParameter_V2(data, size)) return 1;
  error = m_plugin->GetError();
  return 0;
}

// A file that is not there (or cannot be opened) is none; one that cannot
// be read is a failure.
u8 CWnd_Main::ReadPluginFile(CKLF_Mem& block, const char* name, u16& error) {
  if (m_plugin->ConfFile_Read(block, name, "")) return 1;
  block.free();
  error = m_plugin->GetError();
  return error == klErrFileOpen ? 1 : 0;
}

u8 CWnd_Main::WritePluginFile(const u8* data, u32 size, const char* name, u16& error) {
  if (m_plugin->ConfFile_Write(data, size, name, "")) return 1;
  error = m_plugin->GetError();
  return 0;
}
