// A pop-up menu of text items, each bound to a 16-bit command, optionally
// checked, disabled or showing a keyboard shortcut (shown only), popped up
// at a point of a window by the platform. The choice reaches that window as
// OnCtrlMessage(0x130, -1, "Menu", 255, pointer to the u16 command).
// Separators hold the command 65535, so positions stay aligned with the
// commands. Texts are the toolkit's Latin-1 bytes.
#pragma once

#include <vector>

#include "CKLF_Array.h"
#include "CKLP_UIPlatform.h"

class CKLF_Window;

class CKLF_PlatformPopupMenu : public CKLF_FrameWork {
 public:
  // Command, Shift and Option flags and the key: its first character is the
  // shortcut key; the terminator keeps it a string.
  struct MENUSHORTCUT {
    u8 command;
    u8 shift;
    u8 option;
    char key[4];
    u8 terminator;
  };
  static constexpr u16 klSeparatorCommand = 65535;

  CKLF_PlatformPopupMenu();
  ~CKLF_PlatformPopupMenu() override;

  // 1, or 0 with error 1 when the menu exists already.
  u8 Create();
  // Each appends at the end; 0 with error 2 before Create, or with error
  // 17 when memory ran out (the menu then is not shown: see DoPopup).
  u8 AddItem(const char* text, u16 command, u8 checked, u8 disabled, const MENUSHORTCUT* shortcut = nullptr);
  u8 AddItem(const char* text, u16 command, u8 checked, u8 disabled, u8 cmdKey, u8 shift, u8 option,
             const char* key);
  u8 AddSeparator();
  // Note the order: Option before Shift. The key's characters up to its
  // terminator, four at most.
  static MENUSHORTCUT CreateShortcut(u8 cmdKey, u8 option, u8 shift, const char* key);

  // Pops the menu up at the window point (x, y + 5) and sends the choice;
  // dismissing it sends nothing. 1, or 0 with error 2 before Create and 1
  // without a window. A menu that lost an item is not shown, nor one the
  // platform has no memory to show: the user is told memory ran short,
  // and 0 with error 17. The flag has no effect.
  u8 DoPopup(CKLF_Window* window, i16 x, i16 y, u8 flag);

  u32 GetItemCount() const { return m_commands.GetSize(); }
  u16 GetCommand(u32 index) const { return index < m_commands.GetSize() ? m_commands[index] : klSeparatorCommand; }

 private:
  // Tells the user memory ran short; 0 with error 17.
  u8 i_NoMemory(CKLF_Window* window);

  u8 m_created;
  u8 m_incomplete;  // an item could not be added
  std::vector<KLP_MenuItem> m_items;
  CKLF_WordArray m_commands;
};
