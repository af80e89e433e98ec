// The main window's dialogs: the piece and knife exports, the selection of
// pieces or knives from a document channel, and the preferences, each
// opened through CMainDialogs over this window; the window then takes
// what they chose.
#include "CMainDialogs.h"
#include "CPluginMain.h"
#include "CWnd_Main.h"

void CWnd_Main::DoExportDialog() { CMainDialogs::DoExportDialog(*this, m_plugin->GetEngine()); }

void CWnd_Main::DoExportLMDialog() { CMainDialogs::DoExportLMDialog(*this, m_editor.model); }

// The layout's selection from a channel (op_LoadSelection) asks here; the
// map stays the window's until the next question.
u8 CWnd_Main::AskChannelMap(u8 anyKnifeSelected, CHANNELMAP& choice) {
  return CMainDialogs::DoChannelDialog(*this, &m_sourceImage, anyKnifeSelected, 1, m_channelMap, choice);
}

void CWnd_Main::pmop_LoadSelection(u8 redraw) {
  const CTessarette& engine = m_plugin->GetEngine();
  u8 anySelected = 0;
  for (u32 i = 0; i < engine.GetPieceCount() && !anySelected; ++i) anySelected = engine.GetPiece(i)->selected;
  CHANNELMAP choice = {};
  if (!CMainDialogs::DoChannelDialog(*this, &m_sourceImage, anySelected, 0, m_channelMap, choice)) return;
  m_puzzle.pmop_LoadSelection(choice.mode, choice.invert, choice.map, redraw);
}

void CWnd_Main::i_ShowPreferenceColours() {
  kltRGBA8 a, b;
  m_prefs.CheckerColours(a, b);
  m_preview.SetImageCheckerColors(a, b);
  m_prefs.MarginColours(a, b);
  m_preview.SetMarginCheckerColors(a, b);
}

void CWnd_Main::DoPrefDialog() {
  CPreferences chosen = m_prefs;
  if (!CMainDialogs::DoPrefDialog(*this, chosen)) return;
  const u8 opacityChanged = chosen.delKnifeOpacity != m_prefs.delKnifeOpacity;
  m_prefs = chosen;
  i_ShowPreferenceColours();
  if (!SetSourceToNavigator() && GetError() == klErrNoMemory) Alert(kMemoryProblem, kErrorTitle);
  m_preview.DoRedraw(1, 1);
  m_editor.model.hiddenKnifeOpacity = m_prefs.delKnifeOpacity;
  if (opacityChanged && m_puzzle.layoutMode) {
    m_editor.drawing.DoRedrawOverlay();
    i_RedrawPreviewRect();
  }
}
