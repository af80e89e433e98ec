// The shape name, auto layout and custom mutation dialogs on the headless
// platform, opened over a stand-in for the Cutter's window as the Cutter
// opens them, and driven as a user drives them.
#include <gtest/gtest.h>

#include <memory>

#include "CKLF_CtrlStaticImage.h"
#include "CWnd_AutoLayout.h"
#include "CWnd_CustomMutations.h"
#include "CWnd_ShapeName.h"
#include "CutterDialogsTestUtil.h"

namespace {

using cutdlg::CutterDialogTest;
const u8 kVKReturn = 0x24, kVKEnter = 0x4C, kVKEscape = 0x35, kVKTab = 0x30;

std::string Position() { return std::to_string(cutdlg::kX) + "," + std::to_string(cutdlg::kY); }

}  // namespace

// OK follows the text: enabled only while more than white space is in it;
// the name comes back as typed. Cancel, close and Escape leave the name
// and store no position. Return, keypad Enter and Escape answer at once
// also from the field being typed into.
TEST_F(CutterDialogTest, ShapeNameNeedsSomethingInIt) {
  typedef CWnd_ShapeName N;
  CKLF_String name;
  Then([&] {
    N* n = Top<N>();
    ASSERT_NE(n, nullptr);
    EXPECT_FALSE(n->GetCtrl(N::kOk)->IsEnabled());
    Type(n->GetCtrl(N::kName), "   ");
    EXPECT_FALSE(n->GetCtrl(N::kOk)->IsEnabled());
    Key(kVKReturn);  // OK is off: the typing ends, nothing more
    EXPECT_EQ(Top<N>(), n);
    Type(n->GetCtrl(N::kName), "  Wavy knob ");
    EXPECT_TRUE(n->GetCtrl(N::kOk)->IsEnabled());
    Key(kVKEnter);  // from the field being typed into: one press
  });
  ASSERT_EQ(N::AskName(&cutterWindow, "Cutter", &main, name), 1);
  EXPECT_STREQ(name.GetStr(), "  Wavy knob ");
  EXPECT_EQ(main.asked, std::vector<std::string>({"Shape Name>Cutter"}));
  EXPECT_EQ(main.stored, std::vector<std::string>({"Shape Name>Cutter " + Position()}));

  ASSERT_FALSE((name = "Knob").IsError());
  for (int road = 0; road < 3; ++road) {
    Then([&, road] {
      N* n = Top<N>();
      ASSERT_NE(n, nullptr);
      EXPECT_TRUE(n->GetCtrl(N::kOk)->IsEnabled());
      Type(n->GetCtrl(N::kName), "Other");
      if (road == 0) Press(n->GetCtrl(N::kCancel));
      if (road == 1) PressOnCaption(n, N::kCloseX);
      if (road == 2) Key(kVKEscape);  // from the field being typed into: one press
    });
    EXPECT_EQ(N::AskName(&cutterWindow, "Pres Mng", &main, name), 0) << road;
    EXPECT_STREQ(name.GetStr(), "Knob");
    EXPECT_EQ(Top<N>(), nullptr);
  }
  EXPECT_EQ(main.stored.size(), 1u);
  // The help menu: the main window's items, its choice run there.
  ui.AnswerMenu(0);
  Then([&] {
    PressOnCaption(Top<N>(), N::kHelp);
    Press(Top<N>()->GetCtrl(N::kCancel));
  });
  EXPECT_EQ(N::AskName(&cutterWindow, "Cutter", &main, name), 0);
  EXPECT_EQ(main.helps, std::vector<u16>({cutdlg::kHelpCommand}));
}

// Rows and columns within each shape's limits, the typed text kept while
// typing and clamped on leaving the line; OK stores the four values and
// lays the layout on the main window, whose counts reach the Cutter.
TEST_F(CutterDialogTest, AutoLayoutLimitsAndOk) {
  typedef CWnd_AutoLayout A;
  Then([&] {
    A* a = Top<A>();
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->GetCtrl(A::kTri)->GetCheck());
    EXPECT_FALSE(a->GetCtrl(A::kHex)->GetCheck() || a->GetCtrl(A::kRegular)->GetCheck());
    EXPECT_EQ(Text(a->GetCtrl(A::kRowsEdit)) + " " + Text(a->GetCtrl(A::kColsEdit)), "2 2");
    auto visible = [&](A::CONTROL p) {
      return static_cast<CKLF_CtrlStaticImage*>(a->GetCtrl(p))->GetControlLayer()->GetVisible();
    };
    EXPECT_TRUE(visible(A::kTriPicture) && !visible(A::kHexPicture));
    EXPECT_EQ(a->GetStatusFade().GetPending(), "AutoLayout/ 1 128");

    // 150 rows typed: 98, the slider at its end, the text as typed until
    // the line is left.
    Type(a->GetCtrl(A::kRowsEdit), "150");
    EXPECT_EQ(a->GetValues().rows, 98u);
    EXPECT_EQ(Value(a->GetCtrl(A::kRowsSlider)), 98u);
    EXPECT_EQ(Text(a->GetCtrl(A::kRowsEdit)), "150");
    Key(kVKTab);
    Press(a->GetCtrl(A::kRegular));
    EXPECT_EQ(Text(a->GetCtrl(A::kRowsEdit)), "98");
    Type(a->GetCtrl(A::kColsEdit), "0");
    EXPECT_EQ(a->GetValues().columns, 1u);
    Type(a->GetCtrl(A::kColsEdit), "60");
    // Hexagons: 97 rows and 48 columns at most, the picture changes.
    Press(a->GetCtrl(A::kHex));
    EXPECT_EQ(Text(a->GetCtrl(A::kRowsEdit)) + " " + Text(a->GetCtrl(A::kColsEdit)), "97 48");
    EXPECT_TRUE(visible(A::kHexPicture) && !visible(A::kTriPicture));
    // The sliders span each shape's whole range.
    const kltPOS end = SliderPoint("AutoLayout_Cols", 97), start = SliderPoint("AutoLayout_Cols", 0);
    Mouse(klpMouseDown, start.x, start.y);
    Mouse(klpMouseDragged, end.x, end.y);
    Mouse(klpMouseUp, end.x, end.y);
    EXPECT_EQ(Text(a->GetCtrl(A::kColsEdit)), "48");
    Mouse(klpMouseDown, end.x, end.y);
    Mouse(klpMouseDragged, start.x - 20, start.y);
    Mouse(klpMouseUp, start.x - 20, start.y);
    EXPECT_EQ(Text(a->GetCtrl(A::kColsEdit)), "1");
    Type(a->GetCtrl(A::kColsEdit), "7");
    Press(a->GetCtrl(A::kOk));
  });
  ASSERT_EQ(CWnd_AutoLayout::Open(&cutterWindow, &main), 1);
  EXPECT_EQ(main.layouts, std::vector<std::string>({"hexagons 97x7 regular"}));
  EXPECT_EQ(main.stored, std::vector<std::string>({"AutoLayout>Cutter " + Position()}));
  u32 rows = 0, cols = 0;
  u8 shape = 0, regular = 0;
  EXPECT_TRUE(main.conf.GetRec("Auto Layout Settings>Rows", rows) && main.conf.GetRec("Auto Layout Settings>Cols", cols));
  EXPECT_TRUE(main.conf.GetRec("Auto Layout Settings>Shape", shape) &&
              main.conf.GetRec("Auto Layout Settings>Regular", regular));
  EXPECT_EQ(std::vector<u32>({rows, cols, shape, regular}), std::vector<u32>({97, 7, 1, 1}));
  EXPECT_EQ(cutter.columns, main.e.model.verticalLineCount + 1);
  EXPECT_EQ(cutter.rows, main.e.model.horizontalLineCount + 1);
  EXPECT_GT(main.e.model.xKnifeCount, 0u);

  // Reopened: the stored values; triangles take 98 rows and 97 columns.
  Then([&] {
    A* a = Top<A>();
    EXPECT_TRUE(a->GetCtrl(A::kHex)->GetCheck() && a->GetCtrl(A::kRegular)->GetCheck());
    Press(a->GetCtrl(A::kTri));
    Type(a->GetCtrl(A::kRowsEdit), "500");
    Type(a->GetCtrl(A::kColsEdit), "500");
    Click(8, 270);  // off the line
    EXPECT_EQ(Text(a->GetCtrl(A::kRowsEdit)) + " " + Text(a->GetCtrl(A::kColsEdit)), "98 97");
    Press(a->GetCtrl(A::kCancel));
  });
  EXPECT_EQ(CWnd_AutoLayout::Open(&cutterWindow, &main), 0);
  EXPECT_EQ(main.layouts.size(), 1u);
  EXPECT_TRUE(main.conf.GetRec("Auto Layout Settings>Rows", rows) && rows == 97);
}

// Stored values past the limits open clamped, and a stored shape that is
// neither triangles nor hexagons opens as triangles, so OK lays triangles.
TEST_F(CutterDialogTest, AutoLayoutFromOddStoredValues) {
  typedef CWnd_AutoLayout A;
  ASSERT_TRUE(main.conf.AddFolder("Auto Layout Settings"));
  ASSERT_TRUE(main.conf.SetRecord("Auto Layout Settings>Rows", u32{500}));
  ASSERT_TRUE(main.conf.SetRecord("Auto Layout Settings>Shape", u8{9}));
  Then([&] {
    A* a = Top<A>();
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->GetCtrl(A::kTri)->GetCheck());
    EXPECT_EQ(Text(a->GetCtrl(A::kRowsEdit)), "98");
    Key(kVKReturn);
  });
  ASSERT_EQ(CWnd_AutoLayout::Open(&cutterWindow, &main), 1);
  EXPECT_EQ(main.layouts, std::vector<std::string>({"triangles 98x2"}));
  u8 shape = 9;
  EXPECT_TRUE(main.conf.GetRec("Auto Layout Settings>Shape", shape) && shape == 0);

  // Without a store the defaults stand and nothing is stored; Escape.
  main.confOpen = 0;
  Then([&] {
    EXPECT_EQ(Text(Top<A>()->GetCtrl(A::kRowsEdit)), "2");
    Key(kVKEscape);
  });
  EXPECT_EQ(CWnd_AutoLayout::Open(&cutterWindow, &main), 0);
  EXPECT_EQ(Top<A>(), nullptr);
}

// The three amounts in per cent: typed values within 0..100, a slider moved
// with Shift moving the other two; OK stores them and hands them back.
TEST_F(CutterDialogTest, CustomMutationAmounts) {
  typedef CWnd_CustomMutations C;
  f32 s = -1, u = -1, h = -1;
  Then([&] {
    C* c = Top<C>();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(Text(c->GetCtrl(C::kEditS)) + Text(c->GetCtrl(C::kEditU)) + Text(c->GetCtrl(C::kEditH)), "000");
    Press(c->GetCtrl(C::kOk));
  });
  ASSERT_EQ(C::Open(&cutterWindow, &main, s, u, h), 1);
  EXPECT_EQ(std::vector<f32>({s, u, h}), std::vector<f32>({0, 0, 0}));
  EXPECT_EQ(main.stored, std::vector<std::string>({"CMuts>Cutter " + Position()}));

  ASSERT_TRUE(main.conf.SetRecord("Custom Mutations Settings>MutS", 0.35));
  ASSERT_TRUE(main.conf.SetRecord("Custom Mutations Settings>MutH", 7.0));
  Then([&] {
    C* c = Top<C>();
    EXPECT_EQ(Text(c->GetCtrl(C::kEditS)) + " " + Text(c->GetCtrl(C::kEditH)), "35 100");
    Type(c->GetCtrl(C::kEditU), "250");
    EXPECT_EQ(Value(c->GetCtrl(C::kSliderU)), 100u);
    EXPECT_EQ(Text(c->GetCtrl(C::kEditU)), "250");
    Key(kVKTab);
    Click(8, 290);  // off the line, which loses the focus
    EXPECT_EQ(Text(c->GetCtrl(C::kEditU)), "100");
    EXPECT_EQ(c->GetValues().amount[1], 1.0f);
    Press(c->GetCtrl(C::kEditU));
    Key(0x33);  // the line cleared
    EXPECT_EQ(Text(c->GetCtrl(C::kEditU)), "");
    EXPECT_EQ(c->GetValues().amount[1], 0.0f);
    Type(c->GetCtrl(C::kEditS), "35");
    Key(kVKReturn);
    Key(kVKReturn);
  });
  ASSERT_EQ(C::Open(&cutterWindow, &main, s, u, h), 1);
  EXPECT_EQ(std::vector<f32>({s, u, h}), std::vector<f32>({0.35f, 0, 1}));
  f64 stored = 0;
  EXPECT_TRUE(main.conf.GetRec("Custom Mutations Settings>MutS", stored) && stored == static_cast<f64>(0.35f));

  // Dragging U to 40 with Shift held: all three at 40; Cancel keeps what
  // was stored and hands nothing back.
  Then([&] {
    C* c = Top<C>();
    const kltPOS from = SliderPoint("CMuts_MutU", 0), to = SliderPoint("CMuts_MutU", 40);
    ui.SetModifiers(klpShiftKey);
    Mouse(klpMouseDown, from.x, from.y, klpShiftKey);
    Mouse(klpMouseDragged, to.x, to.y, klpShiftKey);
    Mouse(klpMouseUp, to.x, to.y, klpShiftKey);
    ui.SetModifiers(0);
    EXPECT_EQ(Text(c->GetCtrl(C::kEditS)) + Text(c->GetCtrl(C::kEditU)) + Text(c->GetCtrl(C::kEditH)), "404040");
    EXPECT_EQ(Value(c->GetCtrl(C::kSliderS)) + Value(c->GetCtrl(C::kSliderH)), 80u);
    EXPECT_EQ(std::vector<f32>(c->GetValues().amount, c->GetValues().amount + 3), std::vector<f32>({0.4f, 0.4f, 0.4f}));
    Press(c->GetCtrl(C::kCancel));
  });
  s = u = h = -1;
  EXPECT_EQ(C::Open(&cutterWindow, &main, s, u, h), 0);
  EXPECT_EQ(std::vector<f32>({s, u, h}), std::vector<f32>({-1, -1, -1}));
  EXPECT_TRUE(main.conf.GetRec("Custom Mutations Settings>MutS", stored) && stored == static_cast<f64>(0.35f));
}

// A dialog that cannot be made (no UI resources) ends at once, stores
// nothing, builds nothing and leaves no window behind.
TEST_F(CutterDialogTest, DialogsThatCannotBeMade) {
  CKLF_App bare;
  m_App = &bare;
  CKLF_String name("x");
  f32 s = 0, u = 0, h = 0;
  EXPECT_EQ(CWnd_ShapeName::AskName(&cutterWindow, "Cutter", &main, name), 0);
  EXPECT_EQ(CWnd_AutoLayout::Open(&cutterWindow, &main), 0);
  EXPECT_EQ(CWnd_CustomMutations::Open(&cutterWindow, &main, s, u, h), 0);
  m_App = &app;
  EXPECT_EQ(Top<CKLF_Window>(), nullptr);
  EXPECT_TRUE(main.layouts.empty() && main.stored.empty());
  EXPECT_EQ(main.conf.GetRecType("Auto Layout Settings"), CKLF_Storage::klRecMissing);
}

// A dialog whose position cannot be read for want of memory is not made:
// the user is told and its run ends at once out of memory.
TEST_F(CutterDialogTest, DialogsWithoutMemoryForTheirPosition) {
  main.positionNoMemory = 1;
  const std::pair<const char*, std::function<CCutterDialog*()>> cases[] = {
      {"ShapeName", [&] { return new CWnd_ShapeName(&main, "Cutter", "x"); }},
      {"AutoLayout", [&] { return new CWnd_AutoLayout(&main, CAutoLayoutSettings()); }},
      {"CMuts", [&] { return new CWnd_CustomMutations(&main, CCustomMutationsSettings()); }}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::unique_ptr<CCutterDialog> dialog(c.second());
    auto alerts = ui.Log().alerts;
    alerts.emplace_back("Error!", "Memory allocation problem...");
    EXPECT_EQ(dialog->Run(c.first, &cutterWindow), -1);
    EXPECT_EQ(dialog->GetError(), klErrNoMemory);
    EXPECT_EQ(dialog->GetWindowHandle(), 0u);
    EXPECT_EQ(ui.Log().alerts, alerts);
  }
  EXPECT_EQ(main.asked, std::vector<std::string>({"Shape Name>Cutter", "AutoLayout>Cutter", "CMuts>Cutter"}));
}
