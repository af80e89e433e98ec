#include "CKLF_PlatformPopupMenu.h"

#include "CKLF_App.h"
#include "CKLF_Window.h"

CKLF_PlatformPopupMenu::CKLF_PlatformPopupMenu() : m_created(0), m_incomplete(0) {}

CKLF_PlatformPopupMenu::~CKLF_PlatformPopupMenu() {}

u8 CKLF_PlatformPopupMenu::Create() {
  if (m_created) return Fail(klErrBadArg);
  m_created = 1;
  return 1;
}

CKLF_PlatformPopupMenu::MENUSHORTCUT CKLF_PlatformPopupMenu::CreateShortcut(u8 cmdKey, u8 option, u8 shift,
                                                                             const char* key) {
  MENUSHORTCUT s = {cmdKey, shift, option, {0, 0, 0, 0}, 0};
  for (u32 i = 0; key && i < sizeof s.key && key[i]; ++i) s.key[i] = key[i];
  return s;
}

u8 CKLF_PlatformPopupMenu::AddItem(const char* text, u16 command, u8 checked, u8 disabled,
                                   const MENUSHORTCUT* shortcut) {
  if (!m_created) return Fail(klErrEmpty);
  KLP_MenuItem item;
  item.text = text ? text : "";
  item.checked = checked != 0;
  item.disabled = disabled != 0;
  if (shortcut && shortcut->key[0]) {
    item.shortcutKey = shortcut->key[0];
    item.shortcutCommand = shortcut->command != 0;
    item.shortcutShift = shortcut->shift != 0;
    item.shortcutOption = shortcut->option != 0;
  }
  if (m_commands.Add(command) < 0) return m_incomplete = 1, FailFrom(m_commands, klErrNoMemory);
  m_items.push_back(item);
  return 1;
}

u8 CKLF_PlatformPopupMenu::AddItem(const char* text, u16 command, u8 checked, u8 disabled, u8 cmdKey, u8 shift,
                                   u8 option, const char* key) {
  const MENUSHORTCUT s = CreateShortcut(cmdKey, option, shift, key);
  return AddItem(text, command, checked, disabled, &s);
}

u8 CKLF_PlatformPopupMenu::AddSeparator() {
  if (!m_created) return Fail(klErrEmpty);
  if (m_commands.Add(klSeparatorCommand) < 0) return m_incomplete = 1, FailFrom(m_commands, klErrNoMemory);
  KLP_MenuItem item;
  item.separator = true;
  m_items.push_back(item);
  return 1;
}

u8 CKLF_PlatformPopupMenu::i_NoMemory(CKLF_Window* window) {
  if (m_App) m_App->PlatformMessageBox("Memory allocation problem...", "Error!", window);
  return Fail(klErrNoMemory);
}

u8 CKLF_PlatformPopupMenu::DoPopup(CKLF_Window* window, i16 x, i16 y, u8) {
  if (!m_created) return Fail(klErrEmpty);
  CKLP_UIPlatform* ui = KLP_GetUI();
  if (!window || !ui) return Fail(klErrBadArg);
  // A menu that lost an item for want of memory is not shown.
  if (m_incomplete) return i_NoMemory(window);
  const kltRECT_s r = window->GetWindowRect();
  const i32 chosen = ui->PopupMenu(window->GetWindowHandle(), m_items, {r.left + x, r.top + y + 5});
  if (chosen == klpMenuFailed) return i_NoMemory(window);
  if (chosen < 0 || static_cast<u32>(chosen) >= m_commands.GetSize()) return 1;
  u16 command = m_commands[chosen];
  window->OnCtrlMessage(klMsgMenu, 0xFFFFFFFFu, "Menu", 255, &command);
  return 1;
}
