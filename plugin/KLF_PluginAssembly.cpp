#include "KLF_PluginAssembly.h"

#include <cerrno>
#include <new>
#include <string>

#include "CApp.h"
#include "CCutterServices.h"
#include "CCutterSession.h"
#include "CEffectWindowServices.h"
#include "CFXWindowFactory.h"
#include "CKLP_UIPlatform.h"
#include "CPluginMain.h"
#include "KLP_Alert.h"

namespace {

const char kNoDisplayTitle[] = "Kelvanos Tessarette 3.0 Error";
const char kNoDisplay[] = "The plug-in's window cannot open: no display is available.";

// The display module beside the plug-in, loaded for the first run with
// windows on a named display; null with errno ENOMEM when memory ran out.
CKLP_UIPlatform* OpenDisplay(CPluginMain& plugin) {
  errno = 0;
  if (!KLP_DisplayNamed()) return nullptr;
  const KLP_FileRef& folder = plugin.GetPluginFolder();
  if (!folder.IsSet()) return nullptr;
  std::string path;
  try {
    path = folder.Path() + "/" + KLP_DISPLAY_MODULE_FILE;
  } catch (const std::bad_alloc&) {
    return errno = ENOMEM, nullptr;
  }
  return KLP_LoadDisplayModule(path.c_str());
}

}  // namespace

CPluginUIRun* KLF_RunPluginUI(CPluginMain& plugin, u8 about) {
  if (!KLP_GetUI()) {
    CKLP_UIPlatform* display = OpenDisplay(plugin);
    // Without memory for the display the host hears memory full: there is
    // nothing to show the user.
    if (!display && errno == ENOMEM) {
      plugin.HostSetRetCode_MemFull();
      return nullptr;
    }
    if (!display) {
      KLP_ShowAlert(kNoDisplayTitle, kNoDisplay);
      return nullptr;
    }
    KLP_SetUI(display);
  }
  return CApp::RunPluginUI(plugin, about);
}

void KLF_AssemblePlugin() {
  CPluginMain::SetUIRunner(KLF_RunPluginUI);
  CCutterServices::SetFactory(KLF_NewCutterWindow);
  CEffectWindowServices::SetFactory(CFXWindowFactory::New);
}
