// The application object's Help menu and status tips, and the message box.
#include <cstring>

#include "CKLF_PlatformPopupMenu.h"
#include "CKLF_ZipBlock.h"
#include "CWnd_MessageBox.h"
#include "KLP_File.h"
#include "PluginRunSupport.h"

using namespace plugintest;

namespace {

std::vector<std::string> Items(const std::string& text) {
  CKLF_StringArray out;
  // A copy of exactly the text's bytes: a search past its end is an error
  // the address sanitizer sees.
  std::vector<u8> bytes(text.begin(), text.end());
  EXPECT_TRUE(CApp::ParseHelpItems(bytes.data(), static_cast<u32>(bytes.size()), out));
  std::vector<std::string> v;
  for (u32 i = 0; i < out.GetSize(); ++i) v.push_back(out[i].GetStr());
  return v;
}

typedef std::vector<std::string> Strings;

std::string g_launched;
int32_t RecordLaunch(const char* what) {
  g_launched = what;
  return klpNoErr;
}
int32_t RefuseLaunch(const char*) { return klpErrLaunch; }

// A control of a window by resource name.
CKLF_Control* Named(CKLF_Window& w, const char* name) {
  for (u32 i = 0; i < w.GetControlCount(); ++i)
    if (std::strcmp(w.GetControl(i)->GetName().GetStr(), name) == 0) return w.GetControl(i);
  return nullptr;
}

}  // namespace

TEST(HelpItems, PairsOfTitlesAndLinksWithSeparators) {
  EXPECT_EQ(Items("{|Home|}{|https://a/|}{|---|}{|Guide|}{|https://b/|}"),
            (Strings{"Home", "https://a/", "---", "---", "Guide", "https://b/"}));
  // A title with no link after it is dropped.
  EXPECT_EQ(Items("{|Home|}{|https://a/|}{|Lonely|}"), (Strings{"Home", "https://a/"}));
  EXPECT_EQ(Items("no markers at all"), Strings{});
  EXPECT_EQ(Items(""), Strings{});
}

TEST(HelpItems, MalformedTextGivesNoItemsAndNoReadPastItsEnd) {
  EXPECT_EQ(Items("{|a|}{|b|}{|c"), Strings{});           // three openings, two closings
  EXPECT_EQ(Items("|}{|a|}{|b"), Strings{});              // a closing before its opening
  EXPECT_EQ(Items("{|a{|b|}c|}"), Strings{});             // pairs overlapping
  EXPECT_EQ(Items("{||}{|x|}"), (Strings{"", "x"}));       // an empty title is still a title
  EXPECT_EQ(Items("{|a|}{|b|"), Strings{});               // the last marker cut short
  std::string many;
  for (int i = 0; i < 30; ++i) many += "{|t" + std::to_string(i) + "|}";
  EXPECT_EQ(Items(many).size(), 20u);  // at most 20 markers of each kind
}

TEST(HelpMenu, FixedItemsAroundTheLinksAndTheDispatcher) {
  PluginRun r;
  r.Document(klpModeRGB, 40, 30);
  ASSERT_TRUE(klftest::WriteFileBytes(r.dir.File(CApp::kHelpDocument), {'%', 'P', 'D', 'F'}));
  KLP_LaunchHook old = KLP_SetLaunchHook(RecordLaunch);
  r.Then([&r] {
    CApp& app = *r.App();
    // The built resource file's links: three items and a separator.
    ASSERT_EQ(app.GetHelpItems().GetSize(), 8u);
    CKLF_PlatformPopupMenu menu;
    ASSERT_EQ(menu.Create(), 1);
    app.FillHelpMenu(&menu, 1);
    std::vector<u16> commands;
    for (u32 i = 0; i < menu.GetItemCount(); ++i) commands.push_back(menu.GetCommand(i));
    const u16 s = CKLF_PlatformPopupMenu::klSeparatorCommand;
    EXPECT_EQ(commands, (std::vector<u16>{2, s, 5, 6, s, 8, s, 1}));
    EXPECT_EQ(app.HelpMenuDispatcher(5, r.Main()), 1);
    EXPECT_EQ(g_launched, "https://www.kelvanos.com/tessarette/");
    EXPECT_EQ(app.HelpMenuDispatcher(2, r.Main()), 1);
    EXPECT_EQ(g_launched, r.dir.File("Kelvanos Tessarette 3.0 Help.pdf"));
    EXPECT_EQ(app.HelpMenuDispatcher(15, r.Main()), 0);  // past the tenth link
    EXPECT_EQ(app.HelpMenuDispatcher(90, r.Main()), 0);
    KLP_SetLaunchHook(RefuseLaunch);
    EXPECT_EQ(app.HelpMenuDispatcher(8, r.Main()), 1);
    EXPECT_EQ(app.HelpMenuDispatcher(2, r.Main()), 1);
    r.Click(CWnd_Main::kCancel);
  });
  r.Dialog();
  KLP_SetLaunchHook(old);
  const auto& alerts = r.ui.Log().alerts;
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0], std::make_pair(std::string("Error!"), std::string("Cannot show URL.")));
  EXPECT_EQ(alerts[1].second, "Cannot show \"Kelvanos Tessarette 3.0 Help.pdf\" file.");
}

TEST(HelpMenu, AboutFromTheMenuRunsModallyOverTheMainWindow) {
  PluginRun r;
  r.Document(klpModeRGB, 40, 30);
  bool aboutShown = false;
  r.Then([&r] {
    r.App()->HelpMenuDispatcher(CApp::kCmdAbout, r.Main());
    r.Click(CWnd_Main::kCancel);
  });
  r.Then([&r, &aboutShown] {
    auto* about = dynamic_cast<CWnd_About*>(r.ui.GetWindowClient(r.ui.GetActiveWindow()));
    ASSERT_TRUE(about);
    aboutShown = about->IsModal() && about->GetParent() == r.Main();
    r.ui.PostKey(klpKeyDown, klpVKEscape, 27);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
  EXPECT_TRUE(aboutShown);
}

TEST(StatusTips, TheTableByWindowControlTypeAndState) {
  const struct {
    const char* control;
    const char* window;
    u8 state, type;
    const char* text;
  } cases[] = {
      {"MAIN_SHOW", "main", 3, 5,
       "Click the button to turn ON (show) the selected hidden pieces. NO selection - ALL hidden pieces will be "
       "shown."},
      {"Main_Show", "Main", 2, 5,
       "Click the button to turn ON (show) the selected hidden knives. NO selection - ALL hidden knives will be "
       "shown."},
      {"Main_FXBevel", "Main", 4, 5,
       "Bevel effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the effect."},
      {"Main_FXBevel", "Main", 2, 5, " The Main window of Kelvanos Tessarette 3.0."},  // not a Layout-mode name
      {"Main_AddKnives", "Main", 2, 5,
       "To add extra knife, select any two knots (except neighboring) and then, click the button."},
      {"Main_Ruler", "Main", 3, 5, "Click the button for menu"},
      {"", "Main", 2, 128, " The Main window of Kelvanos Tessarette 3.0."},
      {"Cutter_Help", "Cutter", 0, 5, "Click for Help, On-line User Guide, About, etc."},
      {"FXbevel_Help", "effect", 0, 5, "Click for Help, On-line User Guide, About, etc."},
      {"Anything", "Effect", 0, 3, "Use the controls located in this window and adjust the \nparameters of the effect."},
      {"Nothing", "Export", 0, 5,
       "The Export (Puzzle Mode) window. Use the controls located in this \nwindow for exporting puzzle pieces."},
      {"Nothing", "ExportLM", 0, 5,
       "The Export (Layout Mode) window. Use the controls located in \nthis window for exporting knives."},
      {"Main_Cancel", "NoSuchWindow", 3, 5, "\nReady..."},
  };
  for (const auto& c : cases)
    EXPECT_STREQ(CApp::GetStatusTip(c.control, c.window, c.state, c.type), c.text) << c.control << " " << c.window;
  // The channel dialog speaks of knives in state 1, of pieces otherwise.
  EXPECT_NE(std::string(CApp::GetStatusTip("ChannelList_SelNew", "ChannelsList", 1, 6)).find("knives"),
            std::string::npos);
  EXPECT_NE(std::string(CApp::GetStatusTip("ChannelList_SelNew", "ChannelsList", 0, 6)).find("pieces"),
            std::string::npos);
}

// The preview's tips name the keys as this platform's keyboard has them
// (Ctrl and Alt, never the Command and Option of another), and say what a
// Ctrl-click does and how a lasso is drawn.
TEST(StatusTips, ThePreviewTipsNameThisPlatformsKeys) {
  for (u8 state : {2, 3, 4}) {
    const std::string tip = CApp::GetStatusTip("Zone_Preview", "Main", state, 255);
    SCOPED_TRACE(tip);
    for (const char* word : {"Command", "Option", "Cmd", "Opt"}) EXPECT_EQ(tip.find(word), std::string::npos);
    EXPECT_NE(tip.find("Ctrl-click toggles"), std::string::npos);
    EXPECT_NE(tip.find("Shift"), std::string::npos);
    EXPECT_EQ(tip.find("lasso") != std::string::npos, state != 2);
    EXPECT_EQ(tip.find("Alt") != std::string::npos, state != 2);
  }
}

TEST(MessageBox, ShowsOnlyItsButtonsAndAnswersByThem) {
  const struct {
    u8 buttons;          // the main window's kinds: 2 Yes and No, else OK alone
    const char* press;   // the button pressed
    i32 answer;
    std::vector<const char*> shown;
  } cases[] = {
      {2, "MessageBox_YESl", 1, {"MessageBox_YESl", "MessageBox_NO"}},
      {2, "MessageBox_NO", 0, {"MessageBox_YESl", "MessageBox_NO"}},
      {0, "MessageBox_OKr", 1, {"MessageBox_OKr"}},
  };
  for (const auto& c : cases) {
    PluginRun r;
    r.Document(klpModeRGB, 40, 30);
    i32 answer = -5;
    std::vector<std::string> enabled;
    r.Then([&r, &c, &answer] {
      answer = r.Main()->AskMessageBox("Pieces Layout Has Changed", "Do you want to reset effects?", c.buttons, 3);
      r.Click(CWnd_Main::kCancel);
    });
    r.Then([&r, &c, &enabled] {
      auto* box = dynamic_cast<CWnd_MessageBox*>(r.ui.GetWindowClient(r.ui.GetActiveWindow()));
      ASSERT_TRUE(box);
      // Its picture, kept in the build folder for a person to look at.
      if (c.buttons == 2) {
        EXPECT_TRUE(r.ui.SavePNG(box->GetWindowHandle(), std::string(KLF_BINARY_DIR) + "/messagebox.png"));
      }
      for (u32 i = 0; i < box->GetControlCount(); ++i)
        if (box->GetControl(i)->GetType() == klCtrlButton && box->GetControl(i)->IsEnabled())
          enabled.push_back(box->GetControl(i)->GetName().GetStr());
      r.Click(*box, Named(*box, c.press));
    });
    r.Dialog();
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(enabled, std::vector<std::string>(c.shown.begin(), c.shown.end()));
  }
}

// The window manager's close (Alt+F4) and Escape: Cancel for the OK/Cancel
// box, OK for a box with OK alone, refused by a Yes/No question until a
// button answers. Return and keypad Enter press the default button (the
// left one, else the only one); space answers nothing. Each box is a modal
// dialog of the main window, named by its caption, with the keys from the
// start.
TEST(MessageBox, TheCloseAndTheKeysAnswerAsItsButtons) {
  const struct {
    u8 buttons;       // 1 OK and Cancel, 0 OK alone, 2 Yes and No
    u8 vk, ch;        // a key, or none for the close
    i32 answer;       // -1: the box stays (its first button answers 1 then)
  } cases[] = {{1, 0, 0, 0},         {0, 0, 0, 1},         {2, 0, 0, -1},          {1, 0x24, 13, 1},
               {2, 0x24, 13, 1},     {0, 0x4C, 3, 1},      {2, 0x4C, 3, 1},        {1, klpVKEscape, 27, 0},
               {0, klpVKEscape, 27, 1}, {2, klpVKEscape, 27, -1}, {1, klpVKSpace, ' ', -1}, {0, klpVKSpace, ' ', -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.buttons) + " " + std::to_string(c.vk));
    PluginRun r;
    r.Document(klpModeRGB, 40, 30);
    i32 answer = -5;
    r.Then([&r, &c, &answer] {
      answer = r.Main()->AskMessageBox("Too Many Layers", "Export more than 100 layers?", c.buttons, 4);
      r.Click(CWnd_Main::kCancel);
    });
    r.Then([&r, &c] {
      auto* box = dynamic_cast<CWnd_MessageBox*>(r.ui.GetWindowClient(r.ui.GetActiveWindow()));
      ASSERT_TRUE(box);
      EXPECT_TRUE(r.ui.IsWindowModal(box->GetWindowHandle()));
      EXPECT_EQ(box->GetParent(), r.Main());
      EXPECT_EQ(r.ui.GetWindowTitle(box->GetWindowHandle()), "Kelvanos Tessarette");
      if (c.vk) {
        r.ui.PostKey(klpKeyDown, c.vk, c.ch);
        r.ui.PostKey(klpKeyUp, c.vk, c.ch);
      } else {
        r.ui.PostClose(box->GetWindowHandle());
      }
      r.ui.Pump();
      EXPECT_EQ(box->GetWindowHandle() != 0, c.answer < 0);
      const char* first = c.buttons == 0 ? "MessageBox_OKr" : c.buttons == 1 ? "MessageBox_OKl" : "MessageBox_YESl";
      if (box->GetWindowHandle()) r.Click(*box, Named(*box, first));
    });
    r.Dialog();
    EXPECT_EQ(answer, c.answer < 0 ? 1 : c.answer);
  }
}

TEST(MessageBox, TextsCentredButNeverLeftOfThreePixels) {
  EXPECT_EQ(CWnd_MessageBox::CentredTextOrigin(100, 12, 300, 20).x, 100);
  EXPECT_EQ(CWnd_MessageBox::CentredTextOrigin(100, 12, 300, 20).y, 4);
  EXPECT_EQ(CWnd_MessageBox::CentredTextOrigin(500, 12, 300, 20).x, 3);  // wider than its control
  EXPECT_EQ(CWnd_MessageBox::CentredTextOrigin(0, 0, 300, 20).x, 3);
  EXPECT_EQ(CWnd_MessageBox::CentredTextOrigin(0, 0, 300, 20).y, 0);
}

TEST(HelpMenu, TheHelpDocumentIsBuiltBesideThePlugin) {
  const std::vector<u8> pdf = klftest::ReadFileBytes(KLF_HELP_DOCUMENT);
  ASSERT_GT(pdf.size(), 1000u);
  EXPECT_EQ(std::string(pdf.begin(), pdf.begin() + 5), "%PDF-");
  EXPECT_EQ(std::string(KLF_HELP_DOCUMENT).substr(std::string(KLF_HELP_DOCUMENT).rfind('/') + 1), CApp::kHelpDocument);
}

TEST(Accelerators, TheMainWindowsCommandsZeroToFortyFiveHaveOneKeyEach) {
  PluginRun r;
  r.Document(klpModeRGB, 40, 30);
  std::vector<int> seen(46, 0);
  u32 count = 0;
  r.Then([&] {
    const u8* table = r.App()->GetAccelerators(count);
    for (u32 i = 0; i < count; ++i) {
      const u16 command = static_cast<u16>(table[108 * i + 6] | table[108 * i + 7] << 8);
      if (command < seen.size()) ++seen[command];
    }
    // Command-A is select all (2), Command-Z undo (3).
    EXPECT_EQ(r.App()->GetAcceleratorCmd('a', 0, 0, 0, 1), 2);
    EXPECT_EQ(r.App()->GetAcceleratorCmd('Z', 0, 0, 0, 1), 3);
    EXPECT_EQ(r.App()->GetAcceleratorCmd('Z', 0, 0, 1, 1), 4);
    r.Click(CWnd_Main::kCancel);
  });
  r.Dialog();
  EXPECT_EQ(count, 46u);
  EXPECT_EQ(seen, std::vector<int>(46, 1));
  // The host heard of the dialog's window events while it ran.
  EXPECT_GT(r.host.EventCalls(), 0);
}
