#include "CCutterSession.h"

#include "CWnd_Cutter.h"

CCutterSession::CCutterSession() : m_wnd(nullptr) {}

CCutterSession::~CCutterSession() {
  SetPorts(nullptr, mainWindow);
  delete m_wnd;
}

u8 CCutterSession::CreateCutterWindow(kltSIZE_s position, CKLF_Window* parent) {
  if (m_wnd) return Fail(klErrWindowExists);
  m_wnd = new CWnd_Cutter(*this);
  SetConfStore(mainWindow ? mainWindow->GetConfStore() : nullptr);
  if (m_wnd->CreateFromResource("Cutter", static_cast<i16>(position.horizontal),
                                static_cast<i16>(position.vertical), parent, 0))
    return 1;
  const u16 error = m_wnd->GetError();
  SetPorts(nullptr, mainWindow);
  delete m_wnd;
  m_wnd = nullptr;
  return Fail(error ? error : static_cast<u16>(klErrWindowCreate));
}

void CCutterSession::ShowCutterWindow() {
  if (!m_wnd) return;
  m_wnd->RenderRect(klNullRect);
  m_wnd->Show();
}

CCutterServices* KLF_NewCutterWindow() { return new CCutterSession(); }
