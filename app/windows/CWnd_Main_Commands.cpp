// The main window's single entry for commands: accelerators, pop-up menu
// choices and the messages of its controls. Controls meet their handlers
// in one table; the accelerator and menu command tables join it with the
// window's commands (the help items are the application's own).
#include "CApp.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CWnd_Main.h"

const CWnd_Main::COMMAND CWnd_Main::kCommands[] = {
    {kApply, &CWnd_Main::i_OnApplyButton},   {kApplyLM, &CWnd_Main::i_OnApplyButton},
    {kCancel, &CWnd_Main::i_OnCancelButton}, {kCloseX, &CWnd_Main::i_OnCancelButton},
    {kHelp, &CWnd_Main::i_OnHelpButton},     {kZoom, &CWnd_Main::i_OnZoomSlider},
};

u32 CWnd_Main::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  (void)name;
  if (type == klCtrlPreview) return i_OnPreviewMessage(msg, data);
  // Nothing else runs while pieces render (the render pumps events).
  if (m_puzzle.IsRerenderBusy()) return 0;
  // Accelerators: the window's commands 0 to 45 pass until their table
  // joins this one.
  if (msg == klMsgAccelerator) return 1;
  if (type == 255) {
    if (msg != klMsgMenu) return 1;
    const u16 command = data ? *static_cast<const u16*>(data) : 0;
    CApp* app = static_cast<CApp*>(m_App);
    if (app && app->HelpMenuDispatcher(command, this)) return 1;
    return 1;  // the window's menu commands join here
  }
  for (const COMMAND& c : kCommands)
    if (m_ids[c.control] >= 0 && static_cast<u32>(m_ids[c.control]) == id) return (this->*c.handler)(msg, data);
  return 1;
}

u32 CWnd_Main::i_OnApplyButton(u16, void*) {
  if (m_puzzle.effectWindowOpen) return 0;
  applied = 1;
  localClose();
  return 1;
}

u32 CWnd_Main::i_OnCancelButton(u16, void*) {
  if (m_puzzle.effectWindowOpen) return 0;
  localClose();
  return 1;
}

u32 CWnd_Main::i_OnHelpButton(u16, void*) {
  CApp* app = static_cast<CApp*>(m_App);
  CKLF_PlatformPopupMenu menu;
  if (!app || !menu.Create()) return 1;
  app->FillHelpMenu(&menu, 1);
  // Below the button; the choice comes back as a menu message.
  const kltRECT_s r = GetNamedControl(kHelp)->GetRenderRect();
  menu.DoPopup(this, static_cast<i16>(r.left), static_cast<i16>(r.bottom - 5), 0);
  return 1;
}

u32 CWnd_Main::i_OnZoomSlider(u16 msg, void* data) {
  if (!data || (msg != klMsgValueSet && msg != klMsgValueDragging)) return 1;
  const u32 value = *static_cast<const u32*>(data);
  m_zoom = static_cast<u8>(value > 8 ? 8 : value);
  const u8 full = msg == klMsgValueDragging ? 0 : 1;
  m_preview.SetZoom(m_zoom, -1, -1, full, full);
  return 1;
}

u32 CWnd_Main::i_OnPreviewMessage(u16 msg, void* data) {
  if (!data) return 1;
  switch (msg) {
    case klMsgPreviewZoom:
      m_zoom = *static_cast<const u8*>(data);
      m_zoomSlider->SetValue(m_zoom, 0);
      m_lastMouseImagePos = klNullPOS;
      return 1;
    case klMsgPreviewMouse:
      UpdateInfoPanel(*static_cast<const kltPOS*>(data), 0);
      return 1;
    case klMsgPreviewRedrawn:
    case klMsgPreviewRedrawn2:
      m_viewOffset = *static_cast<const kltPOS*>(data);
      m_lastMouseImagePos = klNullPOS;
      i_BindDrawing();
      if (msg == klMsgPreviewRedrawn)
        m_editor.drawing.DoRedrawOverlay();
      else
        m_editor.drawing.spl_DoRedrawHVSplitRulers();
      i_ShowSplitRulers();
      return 1;
    default:
      return 1;
  }
}
