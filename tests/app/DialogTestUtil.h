// The main window's dialogs on the headless platform over the built UI
// resource file: a recording main window at the screen's corner, the
// stand-in port of the main window (tips "group/name/state/type", a Help
// menu of two items, the message box's answers, alerts, the plug-in
// object), and a plug-in object with its configuration store in a
// temporary folder and an RGB document of 48 x 32 pixels. Tests act as a
// user does: clicks and keys at window points, also from inside a modal
// loop through the platform's script.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CKLF_App.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLP_HeadlessUI.h"
#include "CPluginMain.h"
#include "CWnd_Dialog.h"
#include "app/PuzzleTestUtil.h"
#include "support/TestSupport.h"
#include "ui/UITestWindow.h"

namespace dlgtest {

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KLP_SetUI(&ui);
    m_App = &app;
    ASSERT_EQ(app.InitStorgaeResource(KLF_UI_RESOURCE_FILE, 1), 1);
    main.log = &mainLog;
    ASSERT_EQ(main.Create("Main", 0, 0, 900, 700, 1, nullptr, 0, 0), 1);
    KLP_FileRef folder;
    ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
    plugin.SetPluginFolder(folder);
    ASSERT_EQ(plugin.ConfStorage_Open("plugin.conf"), 1);
    kltPLUGINDATA_s& d = *plugin.GetPluginDataPtr();
    d.colorKind = 1;
    d.planes = 3;
    d.filterRect = {0, 0, 48, 32};
    d.filterArea = {0, 0, 48, 32};
    d.wholeSize = {48, 32};
    d.resolutionH = d.resolutionV = 72;
    port.plugin = &plugin;
    port.mainWindow = &main;
  }
  void TearDown() override {
    m_App = nullptr;
    KLP_SetUI(nullptr);
  }

  CKLF_Storage* Conf() { return plugin.ConfStorage_GetStorage(); }

  // Window-local mouse and keys on a window.
  void Mouse(CKLF_Window& w, u16 kind, i32 x, i32 y) {
    const kltRECT_s r = w.GetWindowRect();
    ui.PostMouse(kind, r.left + x, r.top + y);
    ui.Pump();
  }
  void Click(CKLF_Window& w, i32 x, i32 y) {
    Mouse(w, klpMouseDown, x, y);
    Mouse(w, klpMouseUp, x, y);
  }
  kltPOS Centre(CWnd_Dialog& w, u32 c) {
    const kltRECT_s r = w.GetCtrl(c)->GetRenderRect();
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  // Where a user points at the control of table entry c: its middle, or
  // the box at the left of a radio button or check box.
  kltPOS Box(CWnd_Dialog& w, u32 c) {
    const kltRECT_s r = w.GetCtrl(c)->GetRenderRect();
    const u8 type = w.GetCtrl(c)->GetType();
    const u8 box = type == klCtrlRadioButton || type == klCtrlCheckBox;
    return {box ? r.left + 8 : (r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  void Press(CWnd_Dialog& w, u32 c) {
    const kltPOS p = Box(w, c);
    Click(w, p.x, p.y);
  }
  void Hover(CWnd_Dialog& w, i32 x, i32 y) { Mouse(w, klpMouseMoved, x, y); }
  void Key(u8 vk, u8 ch = 0) {
    ui.PostKey(klpKeyDown, vk, ch);
    ui.PostKey(klpKeyUp, vk, ch);
    ui.Pump();
  }
  // The text a static text of a dialog shows.
  static std::string Text(CWnd_Dialog& w, u32 c) {
    return static_cast<CKLF_CtrlStaticText*>(w.GetCtrl(c))->GetText().GetStr();
  }
  // The status line once its fade has run.
  std::string Status(CWnd_Dialog& w, u32 status) {
    ui.AdvanceClock(600);
    return Text(w, status);
  }
  // The dialog of a type that runs the innermost modal loop.
  template <class W>
  W* Running() {
    return dynamic_cast<W*>(ui.GetWindowClient(ui.GetActiveWindow()));
  }
  // Runs step inside the next modal loop, then nothing more.
  void InLoop(std::function<void()> step) { ui.Script(std::move(step)); }

  CKLP_HeadlessUI ui;
  CKLF_App app;
  UITestLog mainLog;
  CKLT_RecordingWindow main;
  klftest::TempDir dir;
  CPluginMain plugin;
  puzzletest::FakePort port;
};

}  // namespace dlgtest
