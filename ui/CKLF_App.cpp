#include "CKLF_App.h"

#include <climits>
#include <cstdlib>
#include <string>

#include "CKLF_Window.h"
#include "CKLF_ZipBlock.h"

CKLF_App* m_App = nullptr;

namespace {
constexpr u32 kAccelEntry = 108;
constexpr u32 kAlertChars = 250;

// The platform in use; the toolkit is never run without one.
CKLP_UIPlatform* UI() { return KLP_GetUI(); }
}  // namespace

CKLF_App::CKLF_App()
    : m_hostProc(nullptr), m_hostContext(nullptr), m_main(nullptr), m_storeOpen(0), m_accelTable(nullptr),
      m_accelCount(0) {}

CKLF_App::~CKLF_App() {}

i32 CKLF_App::Run() {
  CKLP_UIPlatform* ui = UI();
  if (!ui) return 0;
  if (m_main) {
    m_main->SetAppLoop(1);
    m_main->SetNormalCursor();
  }
  // The host hears of the application's window events while the loop runs.
  if (m_hostProc && m_main) {
    HostEventProc proc = m_hostProc;
    void* context = m_hostContext;
    ui->SetEventObserver([proc, context](const KLP_Event& e) {
      if (e.eventClass == klpClassWindow) proc(context, const_cast<KLP_Event*>(&e));
    });
  }
  ui->RunLoop(0);
  ui->SetEventObserver(nullptr);
  if (m_main) m_main->SetAppLoop(0);
  return 0;
}

i32 CKLF_App::DoAppSpecialModal() { return m_App ? m_App->Run() : 0; }

// A store whose accelerators cannot be read is not kept open.
u8 CKLF_App::i_OpenStore(u8 ok, const KLP_FileRef& folder) {
  if (!ok) return FailFrom(m_store, klErrNoResources);
  m_storeOpen = 1;
  m_storeFolder = folder;
  if (LoadAcceleratorsFromStorage()) return 1;
  const u16 error = GetError();
  i_CloseStore();
  return Fail(error);
}

u8 CKLF_App::InitStorgaeResource(u8) {
  ResetError();
  return Fail(klErrNoResources);
}

// The open store and everything read from it go before another is opened.
void CKLF_App::i_CloseStore() {
  // The store is only read: a close that fails loses nothing.
  (void)m_store.Close();
  m_storeOpen = 0;
  m_storeFolder.Clear();
  m_accelBlock.free();
  m_accelTable = nullptr;
  m_accelCount = 0;
}

u8 CKLF_App::InitStorgaeResource(const char* name, const KLP_FileRef* folder, u8 checkMD5) {
  ResetError();
  i_CloseStore();
  if (checkMD5 && !m_store.CheckMD5(name, folder)) return FailFrom(m_store, klErrStoreDigest);
  return i_OpenStore(m_store.Open(name, folder, 1), folder ? *folder : KLP_FileRef());
}

u8 CKLF_App::InitStorgaeResource(const char* path, u8 checkMD5) {
  ResetError();
  i_CloseStore();
  if (checkMD5 && !m_store.CheckMD5(path)) return FailFrom(m_store, klErrStoreDigest);
  KLP_FileRef where;
  char real[PATH_MAX];
  if (path && realpath(path, real)) {
    std::string folder(real);
    folder.resize(folder.rfind('/') > 0 ? folder.rfind('/') : 1);
    if (where.SetPath(folder.c_str()) != klpNoErr) return Fail(klErrNoResources);
  }
  return i_OpenStore(m_store.Open(path, 1), where);
}

u8 CKLF_App::LoadAcceleratorsFromStorage() {
  ResetError();
  m_accelCount = 0;
  m_accelTable = nullptr;
  CKLF_Mem packed;
  if (!m_storeOpen) return 1;
  if (!m_store.GetRec("UIResources>Accelerators", packed))
    return m_store.IsRecordAbsent() ? 1 : FailFrom(m_store, klErrNoResources);
  CKLF_ZipBlock zip;
  zip.SetMode(0);
  zip.SetSourceBlock(packed);
  zip.SetDestBlock(&m_accelBlock);
  if (!zip.Process()) return FailFrom(zip, klErrZipMalformed);
  if (!m_accelBlock.GetPtr()) return 1;
  m_accelTable = m_accelBlock.GetPtr();
  m_accelCount = m_accelBlock.GetSize() / kAccelEntry;
  return 1;
}

u16 CKLF_App::GetAcceleratorCmd(u8 key, u8 control, u8 option, u8 shift, u8 command) const {
  if (key >= 'a' && key <= 'z') key = static_cast<u8>(key - 'a' + 'A');
  for (u32 i = 0; i < m_accelCount; ++i) {
    const u8* e = m_accelTable + i * kAccelEntry;
    if (e[4] != key || e[1] != option || e[2] != shift) continue;
    const bool primary = e[3] != 0 ? e[0] == command && control == 0 : e[0] == control && command == 0;
    if (primary) return static_cast<u16>(e[6] | e[7] << 8);  // stored little-endian
  }
  return 65535;
}

u32 CKLF_App::TranslateAccelerator(u8 key, CKLF_Window* window) {
  return TranslateAccelerator(key, CKLF_Window::GetKeysStatus(), window);
}

u32 CKLF_App::TranslateAccelerator(u8 key, u8 modifiers, CKLF_Window* window) {
  if (!m_accelCount || !window) return 65535;
  const u16 cmd = GetAcceleratorCmd(key, (modifiers & klModControl) ? 1 : 0, (modifiers & klModOption) ? 1 : 0,
                                    (modifiers & klModShift) ? 1 : 0, (modifiers & klModCommand) ? 1 : 0);
  if (cmd == 65535) return 65535;
  return window->OnCtrlMessage(klMsgAccelerator, cmd, nullptr, 0, nullptr);
}

u8 CKLF_App::Clipboard_IsTextDataAvailable() { return UI() && UI()->HasClipboardText() ? 1 : 0; }

u8 CKLF_App::Clipboard_GetText(CKLF_String& out) {
  std::string text;
  if (!UI() || !UI()->GetClipboardText(text) || text.empty()) return 0;
  return !(out = text.c_str()).IsError();
}

u8 CKLF_App::Clipboard_SetText(const CKLF_String& text) {
  if (text.IsError()) return 0;
  return UI() && UI()->SetClipboardText(std::string(text.GetStr(), text.GetLength())) ? 1 : 0;
}

void CKLF_App::SystemBeep() {
  if (UI()) UI()->Beep();
}

void CKLF_App::PlatformMessageBox(const char* text, const char* title, CKLF_Window* over) {
  if (!UI()) return;
  const std::string t = title ? std::string(title).substr(0, kAlertChars) : std::string();
  const std::string x = text ? std::string(text).substr(0, kAlertChars) : std::string();
  UI()->Alert(t, x, over ? over->GetWindowHandle() : 0);
}

u32 CKLF_App::GetDoubleClickTime() { return UI() ? UI()->GetDoubleClickMs() : 500; }

u32 CKLF_App::GetCaretDelay() { return UI() ? UI()->GetCaretBlinkMs() : 500; }

u32 CKLF_App::GetPeriodicCounter() { return UI() ? UI()->GetTickMs() : 0; }

u8 CKLF_App::GetScrollStyle_TwoSideArrows() { return UI() && UI()->GetScrollArrowStyle() == 1 ? 1 : 0; }
