// The plug-in's application object: one per run of the user interface
// (the About window for the host's About, or the dialog's main window),
// made and run by RunPluginUI, which the plug-in's assembly registers with
// the shell. Besides running its window it serves every window of the
// plug-in with the Help menu (fixed items and the links read from the
// resource record "InfoM") and the status tips of every control.
//
// Cost: the help items are parsed once a run from a small text. Limits:
// at most 20 item markers of each kind; pairs of items beyond the tenth
// show in the menu under commands the dispatcher does not take.
#pragma once

#include "CKLF_App.h"
#include "CKLF_Array.h"
#include "CPluginUIRun.h"
#include "CWnd_About.h"
#include "CWnd_Main.h"

class CKLF_PlatformPopupMenu;
class CPluginMain;

class CApp : public CKLF_App {
 public:
  static constexpr const char* kResourceFile = "resource_ts30_d.kls4";
  static constexpr const char* kHelpDocument = "Kelvanos Tessarette 3.0 Help.pdf";
  // Help menu commands: 1 About, 2 the help document, 5 + k link k.
  enum : u16 { kCmdAbout = 1, kCmdHelp = 2, kCmdFirstLink = 5, kLinkCommands = 10 };

  explicit CApp(CPluginMain& plugin);
  ~CApp() override;

  // The window to run: the embedded About window (about 1) or main window.
  // 0 without memory for the window's name.
  [[nodiscard]] u8 SetWindowToRun(u8 about);
  void SetStartPosition(i32 x, i32 y) {
    m_x = x;
    m_y = y;
  }
  // Opens the window to run, then the event loop; -1 when the window could
  // not be created.
  i32 Run() override;

  CWnd_Main& GetMainWindow() { return m_main; }
  CWnd_About& GetAboutWindow() { return m_about; }
  CPluginMain& GetPlugin() { return *m_plugin; }

  // ---- Help menu
  // 0 with the code when the items cannot be read.
  [[nodiscard]] u8 InitHelpMenuItems();
  // Titles and links, in pairs; a separator is the pair "---", "---".
  const CKLF_StringArray& GetHelpItems() const { return m_help; }
  // The items of a text of "{|...|}" markers. Every search stays inside
  // length; unequal marker counts, or a pair out of order, give no items.
  // 0 without memory for the items.
  [[nodiscard]] static u8 ParseHelpItems(const u8* text, u32 length, CKLF_StringArray& out);
  void FillHelpMenu(CKLF_PlatformPopupMenu* menu, u8 flag);
  // 1 when command was a Help-menu command.
  u8 HelpMenuDispatcher(u16 command, CKLF_Window* parent);
  u8 ShowHelp();
  u8 GoToURL(const char* url);
  void DoAboutWindow_UI(CKLF_Window* parent);

  // ---- Status tips: a fixed text for a control (or zone) of a window, by
  // the window's name, the control's name and type (255 a zone, 128 none)
  // and the window's state; names match whatever their case.
  static const char* GetStatusTip(const CKLF_String& control, const CKLF_String& window, u8 state, u8 type);

  // The run of the plug-in's user interface that the shell asks for: the
  // application made on the plug-in object, its resource store opened from
  // the plug-in's folder (an alert when it cannot be), the main window at
  // its stored place, the loop, and the outcome read from the main window.
  static CPluginUIRun* RunPluginUI(CPluginMain& plugin, u8 about);

 private:
  [[nodiscard]] i32 i_CreationFailed();

  CKLF_Window* m_run;
  CKLF_String m_runName;
  i32 m_x;
  i32 m_y;
  CWnd_About m_about;
  CWnd_Main m_main;
  CPluginMain* m_plugin;
  CKLF_StringArray m_help;
};
