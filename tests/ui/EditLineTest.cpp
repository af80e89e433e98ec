// The edit line on the headless platform, through clicks and keys: focus
// and selection, numeric stepping and its formats, Escape and undo, the
// clipboard, word moves and scrolling.
#include <gtest/gtest.h>

#include "CKLF_CtrlEditLine.h"
#include "ui/UITestUtil.h"

class EditLineTest : public UIToolkitTest {
 protected:
  // "E" over (10, 10, 110, 30): 14 characters of the box font fit, the
  // k-th boundary at x = 11 + 7k.
  void SetUp() override {
    UIToolkitTest::SetUp();
    st.Rect("UIResources>Edits>E", {10, 10, 110, 30});
    st.Folder("UIResources>Edits>NoRect");
    for (const char* n : {"F", "G", "H"}) st.Folder(std::string("UIResources>Edits>") + n);
    st.Rect("UIResources>Edits>F", {10, 40, 110, 60});
    st.Rect("UIResources>Edits>G", {10, 70, 60, 90});
    st.Rect("UIResources>Edits>H", {120, 10, 190, 30});
    OpenBoxFont(font);
    UIToolkitTest::Open();
    w = Window();
    edit = Real<CKLF_CtrlEditLine>(w, "E", klCtrlEditLine);
    ASSERT_NE(edit, nullptr);
    edit->SetFont(&font);
  }
  // Window-local points; keys by virtual key or character.
  void Click(i32 x, u32 mods = 0) {
    ui.PostClick(100 + x, 120, mods);
    ui.Pump();
  }
  void Key(u8 vk, u32 mods = 0, u8 ch = 0) {
    ui.PostKey(klpKeyDown, vk, ch, mods);
    ui.Pump();
  }
  void Char(char c, u32 mods = 0) { Key(klpVKNone, mods, static_cast<u8>(c)); }
  void Focused(const char* text) {
    edit->SetText(text, 0);
    Click(12);
    log.Take();
  }
  std::string Selection() {
    i32 a = 0, b = 0;
    edit->GetSelection(&a, &b, nullptr);
    return std::to_string(a) + ".." + std::to_string(b);
  }
  CKLF_Font font;
  CKLT_RecordingWindow* w = nullptr;
  CKLF_CtrlEditLine* edit = nullptr;
};

enum : u8 { kUp = 0x7E, kDown = 0x7D, kLeft = 0x7B, kRight = 0x7C, kBack = 0x33, kReturn = 0x24, kEsc = 0x35,
            kDel = 0x75, kEnd = 0x77, kHome = 0x73, kTab = 0x30 };

TEST_F(EditLineTest, AFocusingClickSelectsAllTheNextPlacesTheCaret) {
  edit->SetText("hello world", 0);
  const u32 unfocused = Pixel(w, 17, 12);
  Click(40);
  EXPECT_EQ(Selection(), "0..11");
  const u32 selected = Pixel(w, 17, 12);  // between two glyphs
  EXPECT_NE(selected, unfocused);
  Click(32);  // boundary 3
  EXPECT_EQ(Selection(), "-1..-1");
  EXPECT_EQ(edit->GetCaretPos(), 3);
  const u32 caret = Pixel(w, 31, 20), off = Pixel(w, 40, 20);
  EXPECT_NE(caret, off);  // the caret column is inverted...
  ui.AdvanceClock(500);
  EXPECT_EQ(Pixel(w, 31, 20), off);  // ...and blinks
  Click(32);
  EXPECT_EQ(Selection(), "0..5");  // double click: the word
  Click(32);
  EXPECT_EQ(Selection(), "0..11");  // triple click: all
  ui.AdvanceClock(1000);
  Click(25);
  Click(60, klpShiftKey);  // from boundary 2 to 7
  EXPECT_EQ(Selection(), "2..7");
  ui.AdvanceClock(1000);
  for (u16 kind : {klpMouseDown, klpMouseDragged, klpMouseUp})  // a drag from boundary 7 to 1
    ui.PostMouse(kind, kind == klpMouseDown ? 160 : 118, 120);
  ui.Pump();
  EXPECT_EQ(Selection(), "1..7");
  EXPECT_EQ(log.Take("msg"), "");
}

TEST_F(EditLineTest, NumericFieldsStepAndRefuseOtherCharacters) {
  struct Case {
    const char* text;
    u8 negatives, floating;
    double step;
    u8 vk;  // 0: the wheel down one notch
    u32 mods;
    char typed;
    const char* want;  // "" when nothing may be sent
  } cases[] = {
      {"7", 0, 0, 0, 0, klpShiftKey, 0, "0"},
      {"7", 1, 0, 0, 0, klpShiftKey, 0, "-3"},
      {"1.2", 1, 1, 0, kUp, 0, 0, "1.3"},
      {"1.2", 1, 1, 0.05, kUp, 0, 0, "1.25"},
      {"1.2", 1, 1, 1.0, kUp, 0, 0, "2"},
      {"5", 1, 0, 0, kDown, klpShiftKey, 0, "-5"},
      {"99999999999", 1, 0, 0, kUp, 0, 0, "2147483647"},
      {"12", 1, 0, 0, kUp, 0, 'a', ""},
      {"12", 0, 1, 0, kUp, 0, '-', ""},
  };
  for (const Case& c : cases) {
    edit->SetOptions(1, c.negatives, c.floating, 0, 0, 0);
    if (c.step != 0) edit->SetWheelStepValue(c.step);
    Focused(c.text);
    if (c.typed) Char(c.typed);
    else if (c.vk) Key(c.vk, c.mods);
    else {
      ui.PostWheel(140, 120, -1, c.mods);
      ui.Pump();
    }
    const std::string want = *c.want ? std::string("msg 0x120 0 E =") + c.want : "";
    EXPECT_EQ(log.Take("msg"), want) << c.text;
    EXPECT_STREQ(edit->GetText().GetStr(), *c.want ? c.want : c.text);
    Key(kReturn);
  }
}

TEST_F(EditLineTest, EscapeRestoresUndoSwapsAndTheClipboardFilters) {
  Focused("abc");
  Char('x');
  Char('y');
  EXPECT_EQ(log.Take("msg"), "msg 0x120 0 E =x, msg 0x120 0 E =xy");
  Key(kEsc);
  EXPECT_STREQ(edit->GetText().GetStr(), "abc");
  EXPECT_EQ(log.Take("msg"), "");
  EXPECT_EQ(edit->GetFocus(), 0);
  Focused("abc");
  Key(kEnd);
  Key(kBack);
  Key(kBack);
  Char('z', klpCmdKey);
  Char('z', klpCmdKey);
  EXPECT_EQ(log.Take("msg"), "msg 0x120 0 E =ab, msg 0x120 0 E =a, msg 0x120 0 E =abc, msg 0x120 0 E =a");
  Focused("one two");
  Char('c', klpCmdKey);
  Char('x', klpCmdKey);
  std::string clip;
  ui.GetClipboardText(clip);
  EXPECT_EQ(clip, "one two");
  ui.SetClipboardText("a\nb\x01" "c\xE9");  // typing refuses all but a, b and c
  Char('v', klpCmdKey);
  EXPECT_EQ(log.Take("msg"), "msg 0x120 0 E =, msg 0x120 0 E =abc");
  EXPECT_EQ(Selection(), "0..3");
  edit->SetOptions(0, 1, 0, 1, 0, 0);  // read-only
  Char('v', klpCmdKey);
  Char('x', klpCmdKey);
  Key(kBack);
  Char('q');
  EXPECT_EQ(ui.Log().beeps, 1u);
  EXPECT_STREQ(edit->GetText().GetStr(), "abc");
  EXPECT_EQ(log.Take("msg"), "");
}

// Return and Escape end the editing in the line; asked to, the line then
// lets them on to the window (whose own Return and Escape so act on the
// first press), else it keeps them. The window's first line that takes
// keys can be given the focus.
TEST_F(EditLineTest, EndKeysReachTheWindowWhenAsked) {
  Focused("12");
  Char('3');
  Key(kReturn);
  EXPECT_EQ(edit->GetFocus(), 0);
  EXPECT_EQ(log.Take("key"), "");
  edit->SetEndKeysToWindow(1);
  Focused("12");
  Char('3');
  Key(kReturn);
  EXPECT_EQ(edit->GetFocus(), 0);
  EXPECT_STREQ(edit->GetText().GetStr(), "3");
  EXPECT_EQ(log.Take("key"), "key 6 0");
  Focused("12");
  Char('4');
  Key(kEsc);
  EXPECT_STREQ(edit->GetText().GetStr(), "12");
  EXPECT_EQ(log.Take("key"), "key 7 0");
  Key(kTab);  // no line has the focus: Tab goes to the window alone
  EXPECT_EQ(log.Take("key"), "key 11 0");
  EXPECT_EQ(w->FocusFirstEditLine(), 1);
  EXPECT_EQ(edit->GetFocus(), 1);
}

TEST_F(EditLineTest, KeysMoveByCharactersAndWordsAndScroll) {
  Focused("one two  three");
  struct Step {
    u8 vk;
    u32 mods;
    i32 caret;
    const char* selection;
  } steps[] = {
      {kRight, klpOptionKey, 3, "-1..-1"},  // the first click left the whole text selected: cleared
      {kRight, klpOptionKey, 7, "-1..-1"},
      {kRight, klpOptionKey | klpShiftKey, 14, "7..14"},
      {kLeft, klpShiftKey, 13, "7..13"},
      {kLeft, klpOptionKey, 9, "-1..-1"},
      {kLeft, klpOptionKey, 4, "-1..-1"},
      {kLeft, klpControlKey, 0, "-1..-1"},
      {kRight, klpControlKey, 14, "-1..-1"},
      {kHome, klpShiftKey, 0, "0..14"},
  };
  for (const Step& s : steps) {
    Key(s.vk, s.mods);
    EXPECT_EQ(edit->GetCaretPos(), s.caret) << s.caret;
    EXPECT_EQ(Selection(), s.selection) << s.caret;
  }
  Key(kRight);  // caret 1
  Key(kDel, klpOptionKey);
  EXPECT_STREQ(edit->GetText().GetStr(), "o two  three");
  Key(kHome);
  Key(kBack);  // nothing to delete, yet reported
  EXPECT_EQ(log.Take("msg"), "msg 0x120 0 E =o two  three, msg 0x120 0 E =o two  three");
  Focused("abcdefghijklmnopqrstuvwxyz");
  Key(kEnd);
  EXPECT_EQ(edit->GetFirstVisible(), 12);  // 14 characters fit
  Key(kHome);
  EXPECT_EQ(edit->GetFirstVisible(), 0);
}

TEST_F(EditLineTest, SelectionsAreClampedAndOrdered) {
  struct Case {
    const char* text;
    i32 start, end;
    const char* want;
  } cases[] = {{"", 0, 5, "-1..-1"}, {"abc", 5, 1, "1..3"}, {"abc", 2, 2, "-1..-1"}, {"abc", -1, 2, "-1..-1"}};
  for (const Case& c : cases) {
    edit->SetText(c.text, 0);
    edit->SetSelection(c.start, c.end);
    EXPECT_EQ(Selection(), c.want) << c.text << c.start;
    EXPECT_EQ(edit->GetFirstVisible(), 0);
  }
  EXPECT_FAILS_WITH(*w, w->AddControl("NoRect", klCtrlEditLine), -1, klErrUIResource);
}

// Tab commits the line and gives the focus to the window's next edit line
// that takes keys (Shift+Tab the previous one, wrapping around; read-only,
// disabled and filtered lines are passed over), so the characters typed
// after it land there; a line alone keeps the focus, whatever its options.
TEST_F(EditLineTest, TabMovesTheFocusToTheNextEditLine) {
  auto* f = Real<CKLF_CtrlEditLine>(w, "F", klCtrlEditLine);
  auto* g = Real<CKLF_CtrlEditLine>(w, "G", klCtrlEditLine);
  auto* h = Real<CKLF_CtrlEditLine>(w, "H", klCtrlEditLine);
  ASSERT_TRUE(f && g && h);
  for (CKLF_CtrlEditLine* e : {f, g, h}) e->SetFont(&font);
  g->SetOptions(0, 1, 0, 1, 0, 0);  // read-only
  h->Enable(0);
  edit->SetText("", 0);
  f->SetText("old", 0);
  Click(12);
  for (char c : {'1', '2'}) Char(c);
  log.Take();
  Key(kTab);
  EXPECT_EQ(log.Take("msg"), "");  // the change was sent as it was typed
  EXPECT_EQ(std::vector<int>({edit->GetFocus(), f->GetFocus()}), std::vector<int>({0, 1}));
  EXPECT_EQ(Selection(), "-1..-1");
  i32 a = 0, b = 0;
  f->GetSelection(&a, &b, nullptr);
  EXPECT_EQ(std::vector<i32>({a, b}), std::vector<i32>({0, 3}));  // the whole text, to type over
  for (char c : {'3', '4'}) Char(c);
  EXPECT_STREQ(edit->GetText().GetStr(), "12");
  EXPECT_STREQ(f->GetText().GetStr(), "34");
  // Forward from F passes over G and H and wraps to E; back from E wraps to F.
  Key(kTab);
  EXPECT_EQ(edit->GetFocus(), 1);
  Key(kTab, klpShiftKey);
  EXPECT_EQ(f->GetFocus(), 1);
  Key(kTab, klpShiftKey);
  Char('5');
  EXPECT_STREQ(edit->GetText().GetStr(), "5");
  // An empty line reached by Tab shows its caret at once.
  f->SetText("", 0);
  const u32 off = Pixel(w, 40, 50);
  Key(kTab);
  EXPECT_NE(Pixel(w, 11, 50), off);
  // Alone, a line whose Tab ends editing gets the focus back, all selected.
  edit->SetOptions(0, 1, 0, 0, 0, 1);
  w->FilterControl(1, f->GetControlID());
  Click(12);
  ui.AdvanceClock(1000);
  Click(12);
  EXPECT_EQ(Selection(), "-1..-1");
  Key(kTab);
  EXPECT_EQ(edit->GetFocus(), 1);
  EXPECT_EQ(Selection(), "0..1");
  Char('6');
  EXPECT_STREQ(edit->GetText().GetStr(), "6");
}
