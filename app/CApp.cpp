#include "CApp.h"

#include <cstring>
#include <memory>
#include <string>

#include "CKLF_PlatformPopupMenu.h"
#include "CKLF_ZipBlock.h"
#include "CPluginMain.h"

namespace {

const char kNoResources[] =
    "Cannot load the resource file.\nPlease, try to reinstall plug-in and if the problem persists, contact Kelvanos";
const char kNoResourcesTitle[] = "Kelvanos Tessarette 3.0 Error";
const char kNoHelp[] = "Cannot show \"Kelvanos Tessarette 3.0 Help.pdf\" file.";
const char kNoURL[] = "Cannot show URL.";
const char kErrorTitle[] = "Error!";
const char kSeparator[] = "---";
const u32 kMaxMarkers = 20;

// The positions of at most kMaxMarkers occurrences of a two-byte marker,
// each search starting 2 bytes after the previous hit.
u32 FindMarkers(const u8* text, u32 length, char a, char b, u32* at) {
  u32 n = 0;
  for (u32 i = 0; i + 1 < length && n < kMaxMarkers; ++i)
    if (text[i] == a && text[i + 1] == b) {
      at[n++] = i;
      ++i;
    }
  return n;
}

// The application of a run, kept with its outcome until the shell has
// written back what the user applied.
class CAppRun : public CPluginUIRun {
 public:
  explicit CAppRun(CPluginMain& plugin) : app(plugin) {}
  ~CAppRun() override {}
  void FreeDisplayImages() override { app.GetMainWindow().FreeDisplayImages(); }
  CApp app;
};

}  // namespace

CApp::CApp(CPluginMain& plugin) : m_run(nullptr), m_x(klNotSet), m_y(klNotSet), m_main(plugin), m_plugin(&plugin) {
  m_about.SetPlugin(&plugin);
  // A name that fails fails Run.
  (void)SetWindowToRun(0);
}

CApp::~CApp() {
  // The windows go while the application they reach through m_App is whole.
  if (m_main.GetWindowHandle()) m_main.CKLF_Window::Close();
  if (m_about.GetWindowHandle()) m_about.CKLF_Window::Close();
  if (m_App == this) m_App = nullptr;
}

u8 CApp::SetWindowToRun(u8 about) {
  m_run = about ? static_cast<CKLF_Window*>(&m_about) : &m_main;
  return !(m_runName = about ? "About" : "Main").IsError();
}

i32 CApp::Run() {
  SetMainWindow(m_run);
  m_run->SetFloating(1);
  if (!InitHelpMenuItems()) return -1;
  KLP_FilterRecord* fr = m_plugin->GetFilterRecord();
  if (fr && fr->processEvent) SetHostEventProc(fr->processEvent, fr->hostContext);
  const i16 x = static_cast<i16>(m_x < -32768 ? klNotSet : m_x > 32767 ? 32767 : m_x);
  const i16 y = static_cast<i16>(m_y < -32768 ? klNotSet : m_y > 32767 ? 32767 : m_y);
  if (m_runName.IsError()) return Fail(klErrNoMemory, -1);
  // Nothing shows before every window of the run is made whole.
  if (!m_run->CreateFromResource(m_runName, x, y, nullptr, 0)) return i_CreationFailed();
  m_run->RenderRect(klNullRect);
  if (m_run == &m_main)
    m_main.ShowMade();
  else
    m_run->Show();
  return CKLF_App::Run();
}

// What was made goes before anything is said: no alert over a window half
// made. Out of memory is the host's to say (memory full); another failure
// is said in the alert the window asked for, if any. -1 with the code.
i32 CApp::i_CreationFailed() {
  const u16 code = m_run->GetError() ? m_run->GetError() : static_cast<u16>(klErrWindowCreate);
  m_run->CKLF_Window::Close();
  const char *text = nullptr, *title = nullptr;
  if (code != klErrNoMemory && m_run == &m_main && m_main.HeldAlert(text, title)) PlatformMessageBox(text, title, nullptr);
  return Fail(code, -1);
}

// ---------------------------------------------------------------------------
// Help menu

u8 CApp::ParseHelpItems(const u8* text, u32 length, CKLF_StringArray& out) {
  out.Empty();
  if (!text) return 1;
  u32 open[kMaxMarkers], close[kMaxMarkers];
  const u32 opens = FindMarkers(text, length, '{', '|', open);
  const u32 closes = FindMarkers(text, length, '|', '}', close);
  if (opens != closes) return 1;
  // Every segment must lie after its opening marker and before the next
  // one; otherwise the text is not a list of items at all.
  for (u32 i = 0; i < opens; ++i)
    if (close[i] < open[i] + 2 || (i + 1 < opens && open[i + 1] < close[i] + 2)) return 1;
  auto segment = [&](u32 i) {
    return CKLF_String(std::string(reinterpret_cast<const char*>(text + open[i] + 2), close[i] - open[i] - 2).c_str());
  };
  for (u32 i = 0; i < opens; ++i) {
    const CKLF_String title = segment(i);
    if (title.IsError()) return 0;
    if (title == CKLF_String(kSeparator)) {
      if (out.Add(kSeparator, 0) < 0 || out.Add(kSeparator, 0) < 0) return 0;
      continue;
    }
    // A title with no segment after it is dropped.
    if (i + 1 >= opens) break;
    if (out.Add(title, 0) < 0 || out.Add(segment(++i), 0) < 0) return 0;
  }
  return 1;
}

// The help menu's items from the resources; a resource file without them
// gives none. 0 with the code when they cannot be read (no memory, a
// damaged block).
u8 CApp::InitHelpMenuItems() {
  m_help.Empty();
  CKLF_Storage* store = GetStorage();
  CKLF_Mem packed, text;
  if (!store) return 1;
  if (!store->GetRec("InfoM", packed))
    return store->GetError() == klErrStoreNoKey ? 1 : FailFrom(*store, klErrNoMemory);
  CKLF_ZipBlock zip;
  zip.SetMode(0);
  zip.SetSourceBlock(packed);
  zip.SetDestBlock(&text);
  if (!zip.Process()) return FailFrom(zip, klErrZipMalformed);
  return ParseHelpItems(text.GetPtr(), text.GetSize(), m_help) ? 1 : Fail(klErrNoMemory);
}

void CApp::FillHelpMenu(CKLF_PlatformPopupMenu* menu, u8) {
  if (!menu) return;
  menu->AddItem("Help...", kCmdHelp, 0, 0);
  menu->AddSeparator();
  for (u32 k = 0; 2 * k + 1 < m_help.GetSize(); ++k) {
    const char* title = m_help.GetPtrAt(2 * k)->GetStr();
    if (std::strcmp(title, kSeparator) == 0)
      menu->AddSeparator();
    else
      menu->AddItem(title, static_cast<u16>(kCmdFirstLink + k), 0, 0);
  }
  menu->AddSeparator();
  menu->AddItem("About Plug-in...", kCmdAbout, 0, 0);
}

u8 CApp::HelpMenuDispatcher(u16 command, CKLF_Window* parent) {
  if (command == kCmdAbout) {
    DoAboutWindow_UI(parent);
    return 1;
  }
  if (command == kCmdHelp) {
    ShowHelp();
    return 1;
  }
  if (command < kCmdFirstLink || command >= kCmdFirstLink + kLinkCommands) return 0;
  const u32 k = command - kCmdFirstLink;
  if (2 * k + 1 >= m_help.GetSize()) return 1;
  GoToURL(m_help.GetPtrAt(2 * k + 1)->GetStr());
  return 1;
}

u8 CApp::ShowHelp() {
  if (m_plugin->LaunchFile(kHelpDocument)) return 1;
  PlatformMessageBox(kNoHelp, kErrorTitle, nullptr);
  return 0;
}

u8 CApp::GoToURL(const char* url) {
  if (url && m_plugin->LaunchURL(url)) return 1;
  PlatformMessageBox(kNoURL, kErrorTitle, nullptr);
  return 0;
}

void CApp::DoAboutWindow_UI(CKLF_Window* parent) {
  CWnd_About about;
  about.SetPlugin(m_plugin);
  if (about.CreateFromResource("About", klNotSet, klNotSet, parent, 1)) about.DoModal();
}

// ---------------------------------------------------------------------------
// The run

CPluginUIRun* CApp::RunPluginUI(CPluginMain& plugin, u8 about) {
  // Owned until handed back: what throws (an allocation) leaves nothing.
  std::unique_ptr<CAppRun> run(new CAppRun(plugin));
  CApp& app = run->app;
  m_App = &app;
  if (!app.SetWindowToRun(about)) {
    plugin.HostSetRetCode_MemFull();
    return run.release();
  }
  if (!plugin.InitAppStorage(&app, kResourceFile)) {
    // Out of memory is no fault of the installation: the host says it.
    if (plugin.GetError() == klErrNoMemory) {
      plugin.HostSetRetCode_MemFull();
      return run.release();
    }
    app.PlatformMessageBox(kNoResources, kNoResourcesTitle, nullptr);
    plugin.HostSetRetCode_Cancel();
    return run.release();
  }
  plugin.HostSetRetCode_NoError();
  if (!about) {
    const kltSIZE_s at = plugin.WindowPosFromConf("Main", "ROOT", klNullSize, 1);
    if (plugin.GetError() == klErrNoMemory) {
      plugin.HostSetRetCode_MemFull();
      return run.release();
    }
    app.SetStartPosition(at.horizontal, at.vertical);
  }
  run->loop = plugin.RunApp(&app);
  if (run->loop == -1 && app.GetError() == klErrNoMemory) plugin.HostSetRetCode_MemFull();
  CWnd_Main& main = app.GetMainWindow();
  run->applied = main.IsApplied();
  run->layoutMode = main.IsLayoutMode();
  run->resultImage = main.GetResultImage();
  return run.release();
}
