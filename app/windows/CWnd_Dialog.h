// The common part of the main window's modal dialogs (piece and knife
// export, channel selection, preferences): the road to the main window
// (its port: the application's status tips and Help menu, questions, the
// plug-in object), the controls made from a table of resource names and
// types, the status line of two lines that flows each new tip to its width
// and fades it out and in on a 30 ms timer (id 1), the Help menu under its button, and the window's stored
// position.
//
// Cost: a tick redraws the status text only while it fades. Limits: 32
// controls.
#pragma once

#include "CKLF_StatusFade.h"
#include "CKLF_Window.h"

class CKLF_CtrlStaticText;
class CMainWindowPort;
class CPluginMain;

class CWnd_Dialog : public CKLF_Window {
 public:
  // What a control does for every dialog alike: nothing, open the Help
  // menu on its press, or end the dialog with 0 (cancel and close box).
  enum ROLE : u8 { kOwn = 0, kHelpMenu = 1, kEnds = 2 };
  // A control of the dialog: its resource name, type and role.
  struct CONTROLENTRY {
    const char* name;
    u8 type;
    u8 role;
  };
  static constexpr u32 kMaxControls = 32;
  static constexpr u16 kStatusTimer = 1;
  static constexpr u32 kStatusMs = 30;

  // group: the window name the status tips are asked with; helpAt: where
  // the Help menu opens in the window.
  CWnd_Dialog(CMainWindowPort& port, const char* group, kltPOS helpAt);
  ~CWnd_Dialog() override;

  // The timer stops, then the window closes.
  void Close() override;
  void OnTimer(u16 id) override;
  u8 OnLMouseDown(i16, i16, u8) override { return 0; }
  // The tip of the control under the mouse, or the window's own (an empty
  // name of type 128) when none is.
  u8 OnAboveControl(u32 id) override;
  // Escape ends the dialog with 0; Return runs OnReturn.
  u8 OnKeyDown(u8 key, u8 mods) override;
  // The Help menu's choices and the controls of the common roles; 0 for
  // the dialog's own controls.
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;

  // A new text fades in after the shown one fades out.
  void UpdateStatus(const char* text);
  const CKLF_StatusFade& GetStatusFade() const { return m_fade; }
  // The control of table entry c; null when it was not made.
  CKLF_Control* GetCtrl(u32 c) const;
  CMainWindowPort& GetPort() const { return m_port; }

 protected:
  // Adds the table's controls in order (ids follow the table) and the
  // status text at index status; 0 with error 192 when one is missing.
  u8 i_AddControls(const CONTROLENTRY* table, u32 count, u32 status, i32 font);
  // The status timer started and the window's own tip asked; 0 when the
  // timer cannot run.
  u8 i_StartStatus();
  // The table entry of a control id; -1 when none.
  i32 i_EntryOf(u32 id) const;
  // The button, radio button or check box named follows a model: enabled
  // or not, checked or not (radio buttons and check boxes); nothing for a
  // name the table lacks.
  void i_FollowControl(const char* name, u8 enabled, u8 checked);
  // Return: what OK does in the dialogs that take it (1 when handled).
  virtual u8 OnReturn() { return 0; }
  // The state the tips are asked with for a control (its enabled flag;
  // 1 for none).
  virtual u8 i_TipState(const CKLF_Control* c) const { return c ? c->IsEnabled() : 1; }
  void i_Tip(const char* name, u8 state, u8 type);
  // The Help menu filled by the application, popped up at helpAt.
  void i_HelpMenu();
  // A text control with a font, one line per lineHeight, no text yet.
  static void i_SetUpText(CKLF_CtrlStaticText* text, CKLF_Font* font, u16 lineHeight);
  // The export dialogs' statistics: lines of 14 pixels, the numbers at a
  // tab stop past the longest label (" ...selected :") in the info font.
  static constexpr u16 kStatisticsTab = 92;
  // 0 without memory for its tab.
  [[nodiscard]] static u8 i_SetUpStatistics(CKLF_CtrlStaticText* text, CKLF_Font* font);
  // The text control of entry c shows text at full opacity.
  void i_ShowText(u32 c, const CKLF_String& text);
  // Whether the window point lies on the control of entry c.
  u8 i_Over(u32 c, i16 x, i16 y) const;
  // The plug-in object of the main window: its configuration store and
  // the windows' positions (null without one).
  CPluginMain* i_Plugin() const;
  // The window's position stored under name and parent.
  void i_StorePosition(const char* name, const char* parent);

 private:
  void i_StatusTick();

  CMainWindowPort& m_port;
  const char* m_group;
  kltPOS m_helpAt;
  const CONTROLENTRY* m_table;
  i32 m_ids[kMaxControls];
  u32 m_count;
  u32 m_status;
  CKLF_StatusFade m_fade;
};
