// Ending the run: Apply stores the settings and hands the layout to the
// engine before the window closes; Cancel closes without applying. Closing
// stores the window's position and leaves the host result.
#include "CCutterServices.h"
#include "CPluginMain.h"
#include "CWnd_Main.h"

namespace {

const char kHandOverFailed[] = "The layout could not be handed to the puzzle engine.";

}  // namespace

u8 CWnd_Main::OnApply() {
  applied = 0;
  // Stored whatever the hand-over gives; a store that fails was told by
  // its alert.
  static_cast<void>(m_settings.settings_SaveCurLayoutAndCellSettings());
  CKLF_Storage* store = GetConfStore();
  if (m_puzzle.layoutMode && m_cutter && store && !m_cutter->settings_SaveLastKnife())
    i_TellStoreFailure(store->GetError());
  // The result image applied is the pieces' as their effects say.
  if (!m_puzzle.layoutMode && !m_puzzle.pmop_CompleteResult()) {
    m_failedResult = CPluginMain::klResMemFull;
    return 0;
  }
  if (!engine_PutLayoutToPuzzleEngine()) {
    // A failure, not the user's cancel: said, and the run ends with it.
    const u8 memory = m_editor.model.GetError() == klErrNoMemory;
    Alert(memory ? kMemoryProblem : kHandOverFailed, kErrorTitle);
    m_failedResult = memory ? CPluginMain::klResMemFull : CPluginMain::klResBadParam;
    return 0;
  }
  applied = 1;
  return 1;
}

void CWnd_Main::localClose() {
  if (m_puzzle.layoutMode && m_cutter) m_cutter->settings_SaveWindowPosition();
  if (applied) OnApply();
  Close();
}

void CWnd_Main::Close() {
  // The window stays while an effect window is open or a render runs.
  if (m_puzzle.effectWindowOpen || m_puzzle.IsRerenderBusy() || !GetWindowHandle()) return;
  const kltRECT_s r = GetWindowRect();
  if (!m_plugin->PutWindowPosToConf("Main", "ROOT", kltPOS{r.left, r.top})) i_TellStoreFailure(m_plugin->GetError());
  if (m_failedResult)
    m_plugin->HostSetRetCode(m_failedResult);
  else if (applied)
    m_plugin->HostSetRetCode_NoError();
  else
    m_plugin->HostSetRetCode_Cancel();
  CKLF_Window::Close();
}
