// The list on the headless platform: mouse and key selection in both
// modes, scrolling into view, its scroll bar and wheel, and its pictures.
#include <gtest/gtest.h>

#include "CKLF_CtrlList.h"
#include "CKLF_CtrlScrollBar.h"
#include "ui/UITestUtil.h"

class ListTest : public UIToolkitTest {
 protected:
  // "L" over (10, 10, 110, 60) with lines 10 high and no margins: 6 visible
  // lines, line k at y = 10 + 10k. Backgrounds: normal grey, selected red;
  // foregrounds: white, selected yellow. "B" is its bar beside it.
  void SetUp() override {
    UIToolkitTest::SetUp();
    const std::string f = "UIResources>Lists>L";
    st.Put(f + ">Background_Normal", Pack(Picture(10, 10, 110, 60, {40, 40, 40, 255})));
    st.Put(f + ">Background_Selected", Pack(Picture(10, 10, 110, 60, {200, 0, 0, 255})));
    st.Put(f + ">Foreground_Normal", Pack(Picture(10, 10, 110, 60, {255, 255, 255, 255})));
    st.Put(f + ">Foreground_Selected", Pack(Picture(10, 10, 110, 60, {255, 255, 0, 255})));
    st.Rect(f, {10, 10, 110, 60});
    st.Rect("UIResources>Lists>NoSelected", {10, 10, 110, 60});
    st.Value("UIResources>Scroll Bars>B>Is Vertical", u8{1});
    st.Put("UIResources>Scroll Bars>B>Thumb_Data", Pack(Picture(110, 10, 126, 13, {255, 255, 255, 255})));
    st.Rect("UIResources>Scroll Bars>B", {110, 10, 126, 60});
    OpenBoxFont(font);
    UIToolkitTest::Open();
    w = Window();
    bar = Real<CKLF_CtrlScrollBar>(w, "B", klCtrlScrollBar);
    list = Real<CKLF_CtrlList>(w, "L", klCtrlList);
    ASSERT_TRUE(bar && list);
    list->SetFont(&font);
  }
  void Fill(u8 multiple, u32 count) {
    list->SetOptions(multiple, 1, 10, 0, 0, 0);
    for (u32 i = 0; i < count; ++i)
      ASSERT_GE(list->AddItem(("item " + std::to_string(i)).c_str(), 0, nullptr, i + 1 < count), 0);
    log.Take();
  }
  void ClickLine(u32 line, u32 mods = 0) {
    ui.PostClick(120, 115 + 10 * static_cast<i32>(line), mods);
    ui.Pump();
  }
  void Key(u8 vk, u32 mods = 0) {
    ui.PostKey(klpKeyDown, vk, 0, mods);
    ui.Pump();
  }
  std::string Selected() {
    std::string s;
    for (u32 i = 0; i < list->GetItemsCount(); ++i) {
      u8 on = 0;
      list->GetItem(i, nullptr, &on, nullptr);
      if (on) s += std::to_string(i);
    }
    return s;
  }
  CKLF_Font font;
  CKLT_RecordingWindow* w = nullptr;
  CKLF_CtrlScrollBar* bar = nullptr;
  CKLF_CtrlList* list = nullptr;
};

TEST_F(ListTest, ClicksSelectInBothModes) {
  struct Case {
    u8 multiple;
    i32 current;  // clicked first, without modifiers (-1: none)
    u32 line;
    u32 mods;
    const char* selected;
    i32 currentAfter;
  } cases[] = {
      {0, 1, 3, klpCmdKey, "3", 3},
      {1, 4, 1, klpShiftKey, "1234", 4},  // ranges keep the current item
      {1, 1, 4, klpShiftKey, "1234", 1},
      {1, 1, 3, klpCmdKey, "13", 3},
      {1, 1, 1, klpCmdKey, "", 1},  // Command flips
      {1, 1, 3, klpCmdKey | klpShiftKey, "123", 1},
      {0, 1, 4, 0, "", 1},  // below the items: nothing, still reported
  };
  for (const Case& c : cases) {
    list->RemoveAllItems(1, 0);
    Fill(c.multiple, 4 + c.multiple * 2);
    if (c.current >= 0) ClickLine(static_cast<u32>(c.current));
    ui.AdvanceClock(1000);
    ClickLine(c.line, c.mods);
    EXPECT_EQ(Selected(), c.selected) << c.line;
    EXPECT_EQ(list->GetCurrentItem(), c.currentAfter) << c.line;
    EXPECT_EQ(log.Take("msg"), "msg 0x160 1 L, msg 0x160 1 L") << c.line;
  }
}

TEST_F(ListTest, KeysSelectAndScrollIntoView) {
  Fill(1, 20);
  struct Step {
    u8 vk;
    u32 mods;
    const char* selected;
    u32 firstVisible;
  } steps[] = {
      {0x7E, 0, "0", 0},  // Up without a current item: item 0
      {0x7E, 0, "0", 0},  // and at the top it stays
      {0x7D, klpShiftKey, "01", 0},
      {0x77, 0, "19", 15},  // End: the last whole line
      {0x7D, 0, "19", 15},
      {0x73, klpShiftKey, "012345678910111213141516171819", 0},  // Shift+Home walks down to 0
  };
  ClickLine(0);
  list->RemoveSelection(1, 0);
  list->SelectItems(0xFFFFFFFFu, 0xFFFFFFFFu, 1, 0, 1, 1, 0);  // past the list: nothing visited
  EXPECT_EQ(list->GetCurrentItem(), 0);
  list->RemoveAllItems(0, 0);
  Fill(1, 20);
  ClickLine(0);
  list->RemoveSelection(1, 0);
  log.Take();
  for (const Step& s : steps) {
    Key(s.vk, s.mods);
    EXPECT_EQ(Selected(), s.selected) << int(s.vk);
    EXPECT_EQ(list->GetFirstVisible(), s.firstVisible) << int(s.vk);
    EXPECT_EQ(bar->GetPosition(), s.firstVisible) << int(s.vk);
  }
  EXPECT_EQ(log.Take("msg"), "msg 0x160 1 L, msg 0x160 1 L, msg 0x160 1 L, msg 0x160 1 L, msg 0x160 1 L, "
                             "msg 0x160 1 L");
  list->SelectItems(5, 5, 1, 0, 1, 1, 0);  // on the last, partial line: one line on
  EXPECT_EQ(list->GetFirstVisible(), 1u);
  list->Enable(0);  // a disabled list gives up the keys
  Key(0x7D);
  EXPECT_EQ(Selected(), "5");
  EXPECT_EQ(log.Take("msg"), "");
}

TEST_F(ListTest, TheWheelAndTheBarMoveTheLines) {
  Fill(0, 20);
  u32 total = 0, visible = 0;
  bar->GetInfo(total, visible);
  EXPECT_EQ(total, 20u);
  EXPECT_EQ(visible, 5u);
  ui.PostWheel(140, 130, -3);  // down three notches
  ui.Pump();
  EXPECT_EQ(list->GetFirstVisible(), 3u);
  bar->SetPosition(100);
  EXPECT_EQ(list->GetFirstVisible(), 15u);
  EXPECT_EQ(log.Take("msg"), "");  // the bar reports to the list alone
  // Line 0 on screen is item 15; select it and look.
  ClickLine(0);
  EXPECT_EQ(Selected(), "15");
  EXPECT_EQ(Pixel(w, 105, 15), 0xC80101u);  // the selected row's background
  EXPECT_EQ(Pixel(w, 105, 25), 0x282828u);
  EXPECT_EQ(Pixel(w, 12, 12), 0xF3C801u);  // a glyph (coverage 200) in the selected colour
  EXPECT_EQ(Pixel(w, 12, 22), 0xD0D0D0u);
  list->Enable(0);  // no disabled pictures: normal, dimmed
  EXPECT_EQ(Pixel(w, 105, 25), 0x141B22u);
  EXPECT_FAILS_WITH(*w, w->AddControl("NoSelected", klCtrlList), -1, klErrUIResource);
}
