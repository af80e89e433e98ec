// The application object: accelerators from the store, alerts, clipboard.
#include <gtest/gtest.h>

#include "ui/UITestUtil.h"

namespace {

// Two 108-byte entries and 34 trailing bytes: Command-Q gives 7, Control-Z
// gives 265 (little-endian 9, 1).
std::vector<u8> Accelerators() {
  std::vector<u8> t(250, 0);
  const u8 q[] = {1, 0, 0, 1, 'Q', 0, 7, 0};
  const u8 z[] = {1, 0, 0, 0, 'Z', 0, 9, 1};
  std::copy(q, q + 8, t.begin());
  std::copy(z, z + 8, t.begin() + 108);
  t[216 + 4] = 'W';  // a partial entry is never read
  return t;
}

}  // namespace

TEST_F(UIToolkitTest, AcceleratorTableAndItsSearch) {
  st.Put("UIResources>Accelerators", Pack(Accelerators()));
  Open();
  u32 count = 0;
  ASSERT_NE(app.GetAccelerators(count), nullptr);
  EXPECT_EQ(count, 2u);
  struct Case {
    u8 key, control, option, shift, command;
    u16 want;
  } cases[] = {
      {'q', 0, 0, 0, 1, 7},     {'Q', 0, 0, 0, 1, 7},     {'q', 1, 0, 0, 1, 65535}, {'q', 0, 0, 1, 1, 65535},
      {'q', 0, 1, 0, 1, 65535}, {'z', 1, 0, 0, 0, 265},   {'z', 0, 0, 0, 1, 65535}, {'W', 0, 0, 0, 0, 65535},
  };
  for (const Case& c : cases)
    EXPECT_EQ(app.GetAcceleratorCmd(c.key, c.control, c.option, c.shift, c.command), c.want) << c.key;
  // A store that fails to open leaves no store and no table behind.
  EXPECT_EQ(app.InitStorgaeResource((st.Path() + ".missing").c_str(), 0), 0);
  EXPECT_EQ(app.GetStorage(), nullptr);
  EXPECT_EQ(app.GetAccelerators(count), nullptr);
  EXPECT_EQ(count, 0u);
}

// A store without accelerators opens without a table; one whose
// accelerators cannot be read does not open, and says why.
TEST_F(UIToolkitTest, AcceleratorsAbsentOrDamaged) {
  for (const bool damaged : {false, true}) {
    Store store;
    if (damaged) store.Put("UIResources>Accelerators", {1, 2, 3});
    ASSERT_EQ(store.s.Close(), 1);
    EXPECT_EQ(app.InitStorgaeResource(store.Path().c_str(), 0), damaged ? 0 : 1);
    EXPECT_EQ(app.GetError(), damaged ? klErrZipMalformed : klErrNone);
    EXPECT_EQ(app.GetStorage() == nullptr, damaged);
    u32 count = 1;
    EXPECT_EQ(app.GetAccelerators(count), nullptr);
  }
}

TEST_F(UIToolkitTest, CommandQReachesTheWindowOnceThenTheKey) {
  st.Put("UIResources>Accelerators", Pack(Accelerators()));
  Open();
  Window();
  ui.PostKey(klpKeyDown, 0x0C, 'q', klpCmdKey);
  ui.PostKey(klpKeyRepeat, 0x0C, 'q', klpCmdKey);
  ui.PostKey(klpKeyUp, 0x0C, 'q', klpCmdKey);
  ui.PostKey(klpKeyDown, 0x0C, 'q', klpCmdKey | klpControlKey);
  ui.Pump();
  EXPECT_EQ(log.Take(), "msg 0x150 7 -, char 17, char 17, keyup 17, char 17");
}

TEST_F(UIToolkitTest, ServicesGoThroughThePlatform) {
  Open();
  const std::string longText(300, 'x');
  app.PlatformMessageBox(longText.c_str(), "Error!", nullptr);
  app.PlatformMessageBox("ten chars!", "Error!", nullptr);
  ASSERT_EQ(ui.Log().alerts.size(), 2u);
  EXPECT_EQ(ui.Log().alerts[0].second, std::string(250, 'x'));
  EXPECT_EQ(ui.Log().alerts[1].second, "ten chars!");
  EXPECT_EQ(ui.Log().alerts[1].first, "Error!");
  CKLF_String got;
  EXPECT_EQ(app.Clipboard_GetText(got), 0);
  EXPECT_EQ(app.Clipboard_SetText("12.5"), 1);
  EXPECT_EQ(app.Clipboard_IsTextDataAvailable(), 1);
  ASSERT_EQ(app.Clipboard_GetText(got), 1);
  EXPECT_STREQ(got.GetStr(), "12.5");
  EXPECT_FAILS(app, app.InitStorgaeResource(u8{0}), klErrNoResources);  // no resources on this platform
}

TEST_F(UIToolkitTest, AlertsSitOverTheirWindowElseTheFrontOne) {
  Open();
  CKLT_RecordingWindow* back = Window(100, 100);
  CKLT_RecordingWindow* front = Window(400, 100);
  const KLP_WindowID backId = back->GetWindowHandle(), frontId = front->GetWindowHandle();
  back->Show();
  front->Show();
  ui.Pump();
  app.PlatformMessageBox("over back", "Error!", back);
  app.PlatformMessageBox("Cannot show URL.", "Error!", nullptr);
  back->Close();
  front->Close();
  app.PlatformMessageBox("no window", "Error!", nullptr);
  const std::vector<KLP_WindowID> want = {backId, frontId, 0};
  EXPECT_EQ(ui.Log().alertParents, want);
}
