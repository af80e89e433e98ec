// Windows on the headless platform: creation from resources, placement,
// mouse routing, hover, click counting, timers, modal loops, queue probes,
// the names the desktop shows.
#include <gtest/gtest.h>

#include "ui/UITestUtil.h"

TEST_F(UIToolkitTest, WindowFromResourceTakesSizeShapeAndPixels) {
  std::vector<u8> bg = Background(3, 2, 103, 52);
  for (size_t i = 0; i < 100 * 50; ++i) bg[8 + 3 * 5000 + i] = (i % 100) < 50 ? 129 : 128;
  st.Put("UIResources>Windows>Off>Background", Pack(bg));
  st.Put("UIResources>Windows>Short>Background", Pack(Rec(0, 0, 10, 10, 4 * 100 - 1)));
  Open();
  CKLT_RecordingWindow w;
  ASSERT_EQ(w.CreateFromResource("Off", 10, 20, nullptr, 0), 1);
  const kltRECT_s r = w.GetWindowRect();
  EXPECT_EQ(r.right - r.left, 106);
  EXPECT_EQ(r.bottom - r.top, 54);
  w.Show();
  ui.Pump();
  // The picture at (3, 2); alpha 128 or less is outside the shape.
  EXPECT_EQ(CKLF_Window::WindowFromPoint({10 + 3, 20 + 2}), &w);
  EXPECT_EQ(CKLF_Window::WindowFromPoint({10 + 52, 20 + 51}), &w);
  EXPECT_EQ(CKLF_Window::WindowFromPoint({10 + 53, 20 + 2}), nullptr);
  EXPECT_EQ(CKLF_Window::WindowFromPoint({10 + 2, 20 + 2}), nullptr);
  u8 rgb[3] = {};
  ASSERT_TRUE(ui.GetPixel(w.GetWindowHandle(), 3, 2, rgb));
  EXPECT_EQ(rgb[0] * 10000 + rgb[1] * 100 + rgb[2], 102030);
  for (const char* name : {"Short", "Missing"}) {
    CKLT_RecordingWindow v;
    EXPECT_EQ(v.CreateFromResource(name, 0, 0, nullptr, 0), 0) << name;
    EXPECT_EQ(v.GetError(), klErrUIResource) << name;
  }
  EXPECT_FAILS(w, w.CreateFromResource("Off", 0, 0, nullptr, 0), klErrWindowExists);
  // A refused second creation leaves the window as it was.
  EXPECT_FAILS(w, w.Create("Other", 0, 0, 300, 300, 1, &w, 0, 0), klErrWindowExists);
  EXPECT_STREQ(w.GetName().GetStr(), "Off");
  EXPECT_EQ(w.GetParent(), nullptr);
}

TEST_F(UIToolkitTest, PlacementCentresKeepsOrClamps) {
  const std::vector<KLP_Rect> one = {{0, 22, 1280, 1024}};
  const std::vector<KLP_Rect> two = {{0, 0, 1280, 1024}, {1280, 0, 2560, 1024}};
  const std::vector<KLP_Rect> narrow = {{0, 0, 100, 100}};
  struct Case {
    const std::vector<KLP_Rect>* screens;
    i16 x, y;
    u16 w;
    i32 wantX, wantY;
  } cases[] = {
      {&one, klNotSet, klNotSet, 200, 540, 22 + 451},
      {&narrow, klNotSet, klNotSet, 201, -50, 0},  // halves truncated toward zero
      {&two, 1500, 300, 200, 1500, 300},           // kept on the second screen
      {&two, 5000, 2000, 200, 1260, 1004},         // clamped to the main screen
      {&two, -170, 10, 200, -170, 10},
      {&two, -181, -5, 200, -180, 0},
  };
  for (const Case& c : cases) {
    ui.SetScreens(*c.screens);
    CKLF_Window w;
    ASSERT_EQ(w.Create("P", c.x, c.y, c.w, 100, 1, nullptr, 0, 0), 1);
    EXPECT_EQ(w.GetWindowRect().left, c.wantX) << c.x << "," << c.y;
    EXPECT_EQ(w.GetWindowRect().top, c.wantY) << c.x << "," << c.y;
  }
}

TEST_F(UIToolkitTest, MouseGoesToTheLastAddedControlWithCaptureAndFilter) {
  Open();
  CKLT_RecordingWindow* w = Window();
  w->acceptHover = 0;
  CKLT_TestControl* a = Control(w, "A", {10, 10, 60, 60});
  CKLT_TestControl* b = Control(w, "B", {30, 30, 80, 80});
  ASSERT_TRUE(a && b);
  auto click = [&](i32 x, i32 y) {
    ui.AdvanceClock(1000);  // no double clicks here
    ui.PostClick(x, y);
    ui.Pump();
    return log.Take();
  };
  EXPECT_EQ(click(140, 140), "c1 down, down 40,40, c1 up, msg 0x110 1 B =0, up");
  // Press on B, leave the window, release: the release goes to B alone; the
  // window declines it as the control under the mouse.
  ui.PostMouse(klpMouseDown, 170, 170);
  ui.PostMouse(klpMouseDragged, 400, 400);
  ui.PostMouse(klpMouseUp, 400, 400);
  ui.Pump();
  EXPECT_EQ(log.Take(), "c1 down, down 70,70, above 1, above -1, c1 up, up");
  b->consume = 0;
  EXPECT_EQ(click(140, 140), "c1 down, c0 down, down 40,40, c0 up, msg 0x110 0 A =0, up");
  w->FilterControl(1, 0);
  EXPECT_EQ(click(140, 140), "c1 down, down 40,40, c1 up, msg 0x110 1 B =0, up");
  w->FilterControl(1, 0xFFFFFFFFu);
  EXPECT_EQ(click(140, 140), "down 40,40, up");
}

TEST_F(UIToolkitTest, HoverFollowsTheMouseAndLeaves) {
  Open();
  CKLT_RecordingWindow* w = Window();
  Control(w, "A", {10, 10, 60, 60});
  CKLT_TestControl* b = Control(w, "B", {70, 10, 120, 60});
  struct Step {
    i32 x, y;
    const char* log;
    u32 hover;
  } steps[] = {
      {20, 20, "above 0", 0},  {25, 25, "", 0}, {80, 20, "above 1", 1},
      {150, 80, "above -1", 0xFFFFFFFFu}, {80, 20, "above 1", 1},
  };
  for (const Step& s : steps) {
    ui.PostMouse(klpMouseMoved, 100 + s.x, 100 + s.y);
    ui.Pump();
    EXPECT_EQ(log.Take(), s.log) << s.x;
    EXPECT_EQ(w->GetHoverControl(), s.hover) << s.x;
  }
  // A disabled control drawn at opacity 0 is never offered.
  b->Enable(0);
  b->SetDisabledOpacity(0);
  ui.PostMouse(klpMouseMoved, 181, 121);
  ui.Pump();
  EXPECT_EQ(log.Take(), "above -1");
}

TEST_F(UIToolkitTest, FourQuickPressesArePressDoubleTriplePress) {
  Open();
  Window();
  const char* want[] = {"down 5,5, up", "down 5,5, double, up", "down 5,5, triple, up", "down 5,5, up",
                        "down 5,8, double, up"};
  for (const char* w : want) {
    ui.AdvanceClock(100);
    ui.PostClick(105, w == want[4] ? 108 : 105);
    ui.PostMouse(klpMouseMoved, 200, 50);  // off the window: no hover line
    ui.Pump();
    EXPECT_EQ(log.Take(), w);
  }
  ui.AdvanceClock(501);
  ui.PostClick(105, 105);
  ui.Pump();
  EXPECT_EQ(log.Take(), "down 5,5, up");
  // Presses count by when they were made: a second press that waited in
  // the queue while something long ran still makes a double click.
  ui.AdvanceClock(1000);
  ui.PostClick(105, 105);
  ui.Pump();
  ui.AdvanceClock(100);
  ui.PostClick(105, 105);
  ui.PostMouse(klpMouseMoved, 200, 50);
  ui.AdvanceClock(2000);
  ui.Pump();
  EXPECT_EQ(log.Take(), "down 5,5, up, down 5,5, double, up");
}

TEST_F(UIToolkitTest, TimersTickOnTheVirtualClockAndReplaceTheirId) {
  Open();
  CKLT_RecordingWindow* w = Window();
  ASSERT_EQ(w->SetTimer(30, 5), 1);
  ui.AdvanceClock(95);
  EXPECT_EQ(log.Take(), "timer 5, timer 5, timer 5");
  ASSERT_EQ(w->SetTimer(30, 5), 1);  // restarts, never doubles
  ui.AdvanceClock(30);
  EXPECT_EQ(log.Take(), "timer 5");
  w->KillTimer(5);
  ui.AdvanceClock(100);
  EXPECT_EQ(log.Take(), "");
  EXPECT_EQ(w->SetTimer(0, 6), 0);
  CKLT_TestControl* c = nullptr;
  for (int i = 0; i < 6; ++i) c = Control(w, "A", {0, 0, 0, 0});
  ASSERT_EQ(c->SetTimer(50, 2), 1);  // id 32000 + 20000 + 5
  ui.AdvanceClock(50);
  EXPECT_EQ(log.Take(), "c5 timer 2");
  ASSERT_EQ(c->KillTimer(2), 1);
  for (u16 kind : {4, 9, 10}) {
    EXPECT_EQ(c->SetTimer(50, kind), 0) << kind;
    EXPECT_EQ(c->GetError(), klErrBadArg);
  }
  ui.AdvanceClock(200);
  EXPECT_EQ(log.Take(), "");
}

TEST_F(UIToolkitTest, ModalLoopEndsWithItsCodeAndBlocksOtherWindows) {
  Open();
  CKLT_RecordingWindow* main = Window(100, 100);
  CKLT_RecordingWindow* dlg = Window(400, 400);
  app.SetMainWindow(main);
  int hostEvents = 0;  // the host hears of window events while the loop runs
  app.SetHostEventProc([](void* n, void*) { ++*static_cast<int*>(n); }, &hostEvents);
  ui.Script([&] {
    ui.Script([&] { ui.PostClick(110, 110); });  // on the main window: dropped
    ui.Script([&] { dlg->EndModal(5); });
    EXPECT_EQ(dlg->DoModal(), 5);
    EXPECT_EQ(log.Take(), "");
    // A dialog closed without EndModal, or before it, ends its own loop only.
    CKLT_RecordingWindow* closing = Window(400, 400);
    ui.Script([&] { closing->Close(); });
    EXPECT_EQ(closing->DoModal(), 0);
    CKLT_RecordingWindow* late = Window(400, 400);
    ui.Script([&] {
      late->Close();
      late->EndModal(4);
    });
    EXPECT_EQ(late->DoModal(), 4);
    EXPECT_EQ(ui.GetLoopDepth(), 1u);
    ui.Script([&] {
      // A parentless dialog closing without a modal loop only closes.
      Window(300, 300)->EndModal(3);
      EXPECT_EQ(ui.GetLoopDepth(), 1u);
      main->Close();  // ends the application run
    });
    ui.Script([&] { ADD_FAILURE() << "the application loop outlived its main window"; });
  });
  EXPECT_EQ(app.Run(), 0);
  EXPECT_EQ(ui.Log().stalls, 0u);
  EXPECT_GT(hostEvents, 0);
  EXPECT_EQ(dlg->GetWindowHandle(), 0u);
}

TEST_F(UIToolkitTest, QueueProbesKeepAnOuterTimerSuspension) {
  Open();
  CKLT_RecordingWindow* w = Window();
  ASSERT_EQ(w->SetTimer(10, 1), 1);
  ui.PostMouse(klpMouseMoved, 150, 150);
  ui.PostKey(klpKeyDown, 0x00, 'a');
  ui.PostKey(klpKeyDown, klpVKEscape, 27);
  EXPECT_EQ(w->CheckForInputMessagesInQueue(), 1);
  EXPECT_EQ(w->ESCIsInMessageQueue(), 1);
  EXPECT_EQ(w->ESCIsInMessageQueue(), 0);
  EXPECT_EQ(w->CheckForInputMessagesInQueue(), 1);  // the mouse event stays
  w->CleanMessageQueue();
  EXPECT_EQ(w->CheckForInputMessagesInQueue(), 0);
  // Timers stay suspended through a probe made while events are pumped.
  w->onKey = [&] {
    w->CheckForInputMessagesInQueue();
    ui.AdvanceClock(10);
  };
  ui.PostKey(klpKeyDown, klpVKEscape, 27);
  w->SubProcessMessages(nullptr, 0, 1, 1, 1);
  EXPECT_EQ(log.Take(), "key 7 0");
  ui.AdvanceClock(10);
  EXPECT_EQ(log.Take(), "timer 1");
}

TEST_F(UIToolkitTest, KeysReachTheFocusedControlThenTheWindow) {
  Open();
  CKLT_RecordingWindow* w = Window();
  Control(w, "A", {10, 10, 60, 60});
  ui.PostClick(120, 120);  // focuses control 0
  ui.Pump();
  log.Take();
  ui.PostKey(klpKeyDown, 0x7E, 0);
  ui.PostKey(klpKeyUp, 0x7E, 0);
  ui.PostKey(klpKeyDown, 0x7A, 0, klpShiftKey);  // F1
  ui.Pump();
  EXPECT_EQ(log.Take(), "c0 key 1, key 1 0, c0 keyup 1, keyup 1, c0 key 220, key 220 2");
  // A wheel event handed to one window over another reaches the other.
  CKLT_RecordingWindow* other = Window(400, 100);
  KLP_Event e;
  e.eventClass = klpClassMouse;
  e.kind = klpMouseWheel;
  e.where = {450, 150};
  e.wheelDelta = -2;
  e.window = w->GetWindowHandle();
  ui.DispatchEvent(e, 0);
  EXPECT_EQ(log.Take(), "wheel -2");
  EXPECT_EQ(CKLF_Window::WindowFromPoint({450, 150}), other);
}

TEST_F(UIToolkitTest, AddControlRefusals) {
  CKLT_RecordingWindow early;
  ASSERT_EQ(early.Create("X", 0, 0, 10, 10, 1, nullptr, 0, 0), 1);
  EXPECT_FAILS_WITH(early, early.AddControl("A", klCtrlButton), -1, klErrEmpty);  // no store
  Open();
  CKLT_RecordingWindow* w = Window();
  struct Case {
    const char* name;
    u8 type;
  } refused[] = {{"A", 13}, {"A", klCtrlPreview}, {"Nope", klCtrlButton}, {"A", klCtrlEditLine}};
  for (const Case& c : refused) {
    EXPECT_EQ(w->AddControl(c.name, c.type), -1) << c.name;
    EXPECT_EQ(w->GetError(), klErrBadArg) << c.name;
  }
  w->nextControl = new CKLT_TestControl;
  w->nextControl->failInit = 1;
  EXPECT_FAILS_WITH(*w, w->AddControl("A", klCtrlButton), -1, klErrUIResource);
  EXPECT_EQ(w->GetControlCount(), 0u);
  CKLT_TestControl outside;
  EXPECT_EQ(w->AddControl_External(&outside), 0);
  EXPECT_EQ(outside.IsExternal(), 1);
  outside.EnableMessageForwardingToFocusMaster(1);
  EXPECT_EQ(outside.SendMessage(klMsgClick, nullptr), 0u);  // no master: nobody hears it
  // An external control may go before its window (a member of a derived
  // window does): the window's destruction does not read it.
  auto* gone = new CKLT_TestControl;
  EXPECT_EQ(w->AddControl_External(gone), 1);
  delete gone;
  windows.clear();  // the window leaves its external controls alone
  EXPECT_EQ(outside.GetControlID(), 0u);
}

TEST_F(UIToolkitTest, VirtualKeysMapToToolkitKeys) {
  Open();
  Window();
  // A sample of the table: both return keys, escape, delete, the last function key.
  const u8 table[][2] = {{0x24, 6}, {0x4C, 6}, {0x35, 7}, {0x33, 5}, {0x6F, 231}};
  for (const auto& k : table) {
    ui.PostKey(klpKeyDown, k[0], 0);
    ui.Pump();
    EXPECT_EQ(log.Take(), "key " + std::to_string(k[1]) + " 0") << int{k[0]};
  }
  ui.PostKey(klpKeyDown, 0x31, ' ');  // no toolkit key: the character
  ui.Pump();
  EXPECT_EQ(log.Take(), "char 32");
  EXPECT_EQ(CKLF_Window::GetKeysStatus(), klModSpace);
  // Keys without a character (a modifier alone, an unmapped key) deliver
  // nothing, pressed, held or released, Command held or not; an arrow
  // delivers its key and no character.
  for (u16 kind : {u16{klpKeyDown}, u16{klpKeyRepeat}, u16{klpKeyUp}})
    for (u32 mods : {u32{0}, u32{klpCmdKey}, u32{klpShiftKey}}) ui.PostKey(kind, klpVKNone, 0, mods);
  ui.PostKey(klpKeyDown, 0x7B, 0, klpShiftKey);
  ui.PostKey(klpKeyRepeat, 0x7B, 0, klpShiftKey);
  ui.PostKey(klpKeyUp, 0x7B, 0, klpShiftKey);
  ui.Pump();
  EXPECT_EQ(log.Take(), "key 3 2, key 3 2, keyup 3");
}

TEST_F(UIToolkitTest, CaptionDragsAndAnInactiveFloatingWindowOnlyActivates) {
  st.Put("UIResources>Windows>D>Background", Pack(Background(0, 0, 100, 50)));
  st.Put("UIResources>Windows>D>Drag_Area", Pack(Rec(0, 0, 100, 10, 1000, 200)));
  Open();
  CKLT_RecordingWindow floating;
  floating.log = &log;
  floating.SetFloating(1);
  ASSERT_EQ(floating.CreateFromResource("D", 500, 500, nullptr, 0), 1);
  floating.Show();
  Window();  // now the active window
  ui.PostClick(550, 520);
  ui.Pump();
  EXPECT_EQ(log.Take(), "up");  // the press only activated it
  EXPECT_EQ(ui.GetActiveWindow(), floating.GetWindowHandle());
  ui.AdvanceClock(1000);
  ui.PostClick(550, 520);
  ui.PostMouse(klpMouseDown, 550, 505);  // in the drag area, held: the platform moves the window
  ui.Pump();
  EXPECT_EQ(ui.Log().drags, 1u);
  ui.PostMouse(klpMouseUp, 550, 505);
  ui.Pump();
  EXPECT_EQ(log.Take(), "down 50,20, up, up");
  EXPECT_EQ(ui.Log().drags, 1u);
}

// The window under a going window (its loop ended, hidden) takes the keys
// at once: a press queued on it behind is its own, not an activation, even
// on a floating window. A window going with its owner still open hands
// them past it, to the front window.
TEST_F(UIToolkitTest, TheWindowUnderAGoingWindowTakesTheNextPress) {
  Open();
  for (int how = 0; how < 3; ++how) {  // loop ended, hidden; its owner closes
    SCOPED_TRACE(how);
    CKLT_RecordingWindow* other = Window(100, 600);
    CKLT_RecordingWindow main;
    main.log = &log;
    main.SetFloating(1);
    ASSERT_EQ(main.CreateFromResource("W", 500, 500, nullptr, 0), 1);
    main.Show();
    CKLT_RecordingWindow box;
    ASSERT_EQ(box.CreateFromResource("W", 100, 100, &main, 1), 1);
    box.Show();
    // The click is sent with the press that ends the box.
    if (how == 0) ui.Script([&] { ui.PostClick(550, 550), box.EndModal(1); }), box.DoModal();
    if (how == 1) ui.PostClick(550, 550), box.Hide();
    if (how == 2) main.SetFocus(), main.Close();
    ui.Pump();
    EXPECT_EQ(ui.GetActiveWindow(), (how < 2 ? main : *other).GetWindowHandle());
    EXPECT_EQ(log.Take(), how < 2 ? "down 50,50, up" : "");
    windows.clear();
  }
}

// A click that hides the hovered control and shows another in its place
// moves the hover to it while the pointer rests.
TEST_F(UIToolkitTest, HoverFollowsAControlSwappedUnderARestingPointer) {
  Open();
  CKLT_RecordingWindow* w = Window();
  CKLT_TestControl* hide = Control(w, "A", {10, 10, 60, 60});
  CKLT_TestControl* show = Control(w, "B", {10, 10, 60, 60});
  ASSERT_TRUE(hide && show);
  for (CKLT_TestControl* c : {hide, show}) c->SetDisabledOpacity(0);
  show->Enable(0);
  ui.PostMouse(klpMouseMoved, 120, 120);
  ui.Pump();
  EXPECT_EQ(w->GetHoverControl(), 0u);
  // The window swaps the two when "Hide" is clicked.
  w->onClick = [&](u32 id) {
    if (id != 0) return;
    hide->Enable(0);
    show->Enable(1);
  };
  log.Take();
  ui.PostClick(120, 120);
  ui.Pump();
  EXPECT_EQ(w->GetHoverControl(), 1u);
  EXPECT_NE(log.Take().find("above 1"), std::string::npos);
  // A click that swaps nothing leaves the hover alone.
  ui.AdvanceClock(1000);
  ui.PostClick(120, 120);
  ui.Pump();
  EXPECT_EQ(log.Take().find("above"), std::string::npos);
}

TEST_F(UIToolkitTest, CloseRequestActsAsTheCloseBoxOrEscape) {
  for (const char* n : {"W_Ok", "W_CloseX", "W_CloseXLabel"}) st.Folder(std::string("UIResources>Buttons>") + n);
  st.Folder("UIResources>Check Boxes>P_CloseX");
  Open();
  CKLT_RecordingWindow* w = Window();
  Control(w, "W_Ok", {10, 10, 30, 30});
  CKLT_TestControl* box = Control(w, "W_CloseX", {40, 10, 60, 30});
  Control(w, "W_CloseXLabel", {70, 10, 90, 30});
  ui.PostClose(w->GetWindowHandle());
  ui.Pump();
  EXPECT_EQ(log.Take(), "msg 0x110 1 W_CloseX =0");
  // A disabled close box refuses the close, as a click on it would.
  box->Enable(0);
  ui.PostClose(w->GetWindowHandle());
  ui.Pump();
  EXPECT_EQ(log.Take(), "");
  // A window without a close box takes it as Escape; a close box of
  // another type is none.
  CKLT_RecordingWindow* plain = Window(400, 100);
  Control(plain, "P_CloseX", {10, 10, 30, 30}, klCtrlCheckBox);
  ui.PostClose(plain->GetWindowHandle());
  ui.Pump();
  EXPECT_EQ(log.Take(), "key 7 0");
}

TEST_F(UIToolkitTest, CloseRequestOutsideTheModalLoopIsDropped) {
  for (const char* n : {"Main_CloseX", "Dlg_CloseX"}) st.Folder(std::string("UIResources>Buttons>") + n);
  Open();
  CKLT_RecordingWindow* main = Window(100, 100);
  Control(main, "Main_CloseX", {10, 10, 30, 30});
  CKLT_RecordingWindow* dlg = Window(400, 400, main);
  Control(dlg, "Dlg_CloseX", {10, 10, 30, 30});
  dlg->onClick = [&](u32) { dlg->EndModal(2); };
  ui.Script([&] { ui.PostClose(main->GetWindowHandle()); });
  ui.Script([&] { ui.PostClose(dlg->GetWindowHandle()); });
  EXPECT_EQ(dlg->DoModal(), 2);
  EXPECT_EQ(log.Take("msg"), "msg 0x110 0 Dlg_CloseX =0");
}

// The desktop (task bar, window list, Alt+Tab) names a window by the title
// its caption shows, else by its resource name.
TEST_F(UIToolkitTest, TheDesktopNamesAWindowByItsCaptionsTitle) {
  st.Put("UIResources>Windows>T>Background", Pack(Background(0, 0, 80, 40)));
  st.Value("UIResources>Windows>T>Title", CKLF_String("Knife Preview"));
  Open();
  EXPECT_EQ(ui.GetWindowTitle(Window(100, 100, nullptr, "T")->GetWindowHandle()), "Knife Preview");
  EXPECT_EQ(ui.GetWindowTitle(Window(400, 100)->GetWindowHandle()), "W");
}

TEST(WindowTitles, ThePlugInsWindowsAreNamedByTheirCaptions) {
  CKLP_HeadlessUI ui;
  KLP_SetUI(&ui);
  CKLF_App app;
  m_App = &app;
  ASSERT_EQ(app.InitStorgaeResource(KLF_UI_RESOURCE_FILE, 1), 1);
  const std::pair<const char*, const char*> windows[] = {
      {"Main", "Kelvanos Tessarette 3.0"}, {"Cutter", "Cutter"},           {"FXbevel", "Bevel"},
      {"Pref", "Preferences"},             {"PresMng", "Presets Manager"}, {"CMuts", "Custom Mutations"},
      {"MessageBox", "Kelvanos Tessarette"}};
  for (const auto& [name, caption] : windows) {
    CKLF_Window w;
    ASSERT_EQ(w.CreateFromResource(name, 0, 0, nullptr, 0), 1) << name;
    EXPECT_EQ(ui.GetWindowTitle(w.GetWindowHandle()), caption) << name;
  }
  m_App = nullptr;
  KLP_SetUI(nullptr);
}
