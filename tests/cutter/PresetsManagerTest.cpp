// The preset manager on the headless platform, opened over a stand-in for
// the Cutter's window on the library as a user finds it: seeded with the
// default set, browsed with the mouse and the keys, edited, saved.
#include <gtest/gtest.h>

#include <cstring>

#include "CDefaultShapeSet.h"
#include "CKLF_CtrlList.h"
#include "CKLF_CtrlScrollBar.h"
#include "CKnifeShapeFile.h"
#include "CShapeSetFile.h"
#include "CWnd_PresetsManager.h"
#include "CWnd_ShapeName.h"
#include "CutterDialogsTestUtil.h"

namespace {

using cutdlg::CutterDialogTest;
typedef CWnd_PresetsManager W;

const u32 R = CShapeSetFile::kRecordSize;
const u8 kVKDown = 0x7D, kVKReturn = 0x24, kVKEscape = 0x35, kVKDelete = 0x75;

class PresetsManagerTest : public CutterDialogTest {
 protected:
  i32 Run() { return W::Open(&cutterWindow, &cutter, &main, &files); }
  W* Manager() { return Top<W>(); }
  CKLF_CtrlList* List() { return static_cast<CKLF_CtrlList*>(Manager()->GetCtrl(W::kList)); }
  std::string Line(u32 i) {
    CKLF_String text;
    List()->GetItem(i, &text, nullptr, nullptr);
    return text.GetStr();
  }
  std::string Selection() {
    std::string s;
    for (u32 i = 0; i < List()->GetItemsCount(); ++i) {
      u8 on = 0;
      List()->GetItem(i, nullptr, &on, nullptr);
      if (on) s += (s.empty() ? "" : ",") + std::to_string(i);
    }
    return s;
  }
  // Pixels of the knives (dark grey) inside cell k of the current view.
  u32 KnifePixels(u32 k) {
    const kltRECT_s r = Manager()->GetPreview().CellRect(k);
    u32 n = 0;
    for (i32 y = r.top; y < r.bottom; ++y)
      for (i32 x = r.left; x < r.right; ++x) n += (Pixel(Manager(), x, y) >> 16) < 0x90;
    return n;
  }
  std::string Label(W::CONTROL c) {
    return static_cast<CKLF_CtrlStaticText*>(Manager()->GetCtrl(c))->GetText().GetStr();
  }
  void ClickCell(u32 k, u32 mods = 0) {
    const kltRECT_s r = Manager()->GetPreview().CellRect(k);
    Click(r.left + 3, r.top + 3, mods);
  }
  // The presets file as library records named by the letters of names.
  void Library(const std::string& names) {
    std::vector<u8> b(names.size() * R);
    CCutterServices::SPLINE_STRUCT s = {};
    s.nodeCount = 1;
    for (size_t k = 0; k < names.size(); ++k) {
      s.nodes[0] = {-0.25, 0.1 * static_cast<f64>(k)};
      s.S[0] = 0.5;
      CShapeSetFile::PutRecord(b.data() + k * R, std::string(1, names[k]).c_str(), s);
    }
    files.files[CPresetsLibrary::kFileName] = b;
  }

  cuttest::Files files;
};

}  // namespace

// Opened on no presets file: the default set, drawn in the small cells; a
// click selects a cell and marks it; the keys move the selection and the
// page follows it; the big view shows two cells with their names.
TEST_F(PresetsManagerTest, BrowsingTheDefaultSet) {
  CKLF_Mem defaults;
  u32 count = 0;
  ASSERT_EQ(CDefaultShapeSet::MakeRecords(defaults, count), 1);
  Then([&] {
    W* w = Manager();
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(List()->GetItemsCount(), count);
    EXPECT_EQ(Line(0), "Classic Knob");
    EXPECT_EQ(Selection(), "");
    for (W::CONTROL c : {W::kSaveSet, W::kDelShape, W::kRenShape, W::kToCutter, W::kToCutterClose})
      EXPECT_FALSE(w->GetCtrl(c)->IsEnabled()) << c;
    // Every cell of the first page holds a knife; a card away from it none.
    for (u32 k = 0; k < 8; ++k) EXPECT_GT(KnifePixels(k), 40u) << k;
    const kltRECT_s c1 = w->GetPreview().CellRect(1);
    EXPECT_EQ(Pixel(w, c1.left + 2, c1.top + 2), 0xC4C4CAu);

    ClickCell(1);
    EXPECT_EQ(Selection(), "1");
    EXPECT_TRUE(w->GetCtrl(W::kRenShape)->IsEnabled() && w->GetCtrl(W::kDelShape)->IsEnabled());
    const kltRECT_s sel = w->GetPreview().SelectionRect(1);
    EXPECT_EQ(Pixel(w, sel.left, sel.top + 20), 0x99C0E5u);  // the blue frame
    EXPECT_EQ(Pixel(w, c1.left + 2, c1.top + 2), 0xEEFEFFu);  // the light card
    // Command adds a cell; two selected disable rename and send.
    ClickCell(3, klpCmdKey);
    EXPECT_EQ(Selection(), "1,3");
    EXPECT_FALSE(w->GetCtrl(W::kRenShape)->IsEnabled() || w->GetCtrl(W::kToCutter)->IsEnabled());
    EXPECT_TRUE(w->GetCtrl(W::kSaveSet)->IsEnabled());

    // The keys walk the list; past the page the page follows.
    ClickCell(6);
    Key(kVKDown);
    EXPECT_EQ(Selection(), "7");
    EXPECT_EQ(w->GetPreview().GetFirst(), 0u);
    Key(kVKDown);
    EXPECT_EQ(Selection(), "8");
    EXPECT_EQ(w->GetPreview().GetFirst(), 8u);
    Key(kVKDown);
    EXPECT_EQ(Selection(), "9");
    EXPECT_EQ(w->GetPreview().GetFirst(), 8u);
    // The bar stops at the last whole page.
    EXPECT_EQ(static_cast<CKLF_CtrlScrollBar*>(w->GetCtrl(W::kHBar))->GetPosition(), count - 8);
    // Four records on the page, the straight knife last: the cells after
    // them stay empty.
    EXPECT_GT(KnifePixels(3), 40u);
    EXPECT_EQ(KnifePixels(4), 0u);

    // The big view: two cells and their names; the selection is on the
    // page, which stays.
    Press(w->GetCtrl(W::kLico));
    EXPECT_EQ(w->GetPreview().PageSize(), 2u);
    EXPECT_EQ(w->GetPreview().GetFirst(), 8u);
    EXPECT_EQ(Label(W::kBigName1), Line(8));
    EXPECT_EQ(Label(W::kBigName2), Line(9));
    // A bar value past the library shows the last record first.
    u32 far = 40;
    w->OnCtrlMessage(klMsgValueSet, w->GetCtrl(W::kHBar)->GetControlID(), "", klCtrlScrollBar, &far);
    EXPECT_EQ(w->GetPreview().GetFirst(), count - 1);
    EXPECT_EQ(Label(W::kBigName2), "");
    EXPECT_GT(KnifePixels(0), 40u);
    EXPECT_EQ(KnifePixels(1), 0u);
    // Back to small cells: the first selected record comes onto the page.
    Press(w->GetCtrl(W::kSico));
    EXPECT_EQ(w->GetPreview().GetFirst(), 9u);
  });
  Then([&] { Press(Manager()->GetCtrl(W::kDone)); });
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Top<W>(), nullptr);
}

// Rename through the name dialog (by the key R), sort, select all, invert
// and delete; closing writes the library, which reads back as it was left.
TEST_F(PresetsManagerTest, EditingTheLibrary) {
  Library("dbCa");
  const std::string longName = std::string(63, 'q') + "b";
  Then([&] {
    ClickCell(1);
    Key(klpVKLetters['R' - 'A'], 'r');  // runs the name dialog's steps below
    EXPECT_EQ(Line(1), longName);
    EXPECT_EQ(std::string(Manager()->GetLibrary().GetName(1)), longName);
    ClickCell(2);
    Press(Manager()->GetCtrl(W::kRenShape));  // renamed to "a" + 62 'q' ... cancelled
    EXPECT_EQ(Line(2), "C");
    Press(Manager()->GetCtrl(W::kSort));
    EXPECT_EQ(Line(0) + Line(1) + Line(2), "Cad");
    EXPECT_EQ(Line(3), longName);
    EXPECT_EQ(Selection(), "0");  // the selection travels with its record
  });
  Then([&] {  // the name dialog of the rename: the name, then a longer one
    auto* n = Top<CWnd_ShapeName>();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(Text(n->GetCtrl(CWnd_ShapeName::kName)), "b");
    Type(n->GetCtrl(CWnd_ShapeName::kName), longName);
    Press(n->GetCtrl(CWnd_ShapeName::kOk));
  });
  Then([&] {  // the second rename is cancelled
    auto* n = Top<CWnd_ShapeName>();
    ASSERT_NE(n, nullptr);
    Type(n->GetCtrl(CWnd_ShapeName::kName), "zz");
    Press(n->GetCtrl(CWnd_ShapeName::kCancel));
  });
  Then([&] {
    W* w = Manager();
    w->OnCtrlMessage(klMsgAccelerator, W::kCmdSelectAll, nullptr, 0, nullptr);
    EXPECT_EQ(Selection(), "0,1,2,3");
    ClickCell(1, klpCmdKey);
    w->OnCtrlMessage(klMsgAccelerator, W::kCmdInvertSelection, nullptr, 0, nullptr);
    EXPECT_EQ(Selection(), "1");
    ClickCell(3, klpCmdKey);
    Key(kVKDelete);
    EXPECT_EQ(Line(0) + Line(1), "Cd");
    EXPECT_EQ(Selection(), "");
    EXPECT_FALSE(w->GetCtrl(W::kDelShape)->IsEnabled() || w->GetCtrl(W::kSaveSet)->IsEnabled());
    EXPECT_EQ(files.writes, 0);  // nothing written before closing
  });
  Then([&] { Key(kVKEscape); });
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(files.files[CPresetsLibrary::kFileName].size(), 2 * R);
  const u8* data = files.files[CPresetsLibrary::kFileName].data();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data)) + reinterpret_cast<const char*>(data + R), "Cd");
  EXPECT_EQ(main.stored, std::vector<std::string>({"Shape Name>Pres Mng " + std::to_string(cutdlg::kX) + "," +
                                                       std::to_string(cutdlg::kY),
                                                   "Pres Mng>Cutter " + std::to_string(cutdlg::kX) + "," +
                                                       std::to_string(cutdlg::kY)}));
}

// A knife shape file imported under the name given; the selected shapes
// saved as a set, then loaded after the library and in its place.
TEST_F(PresetsManagerTest, ImportingShapesAndSets) {
  Library("ab");
  klftest::TempDir dir;
  CCutterServices::SPLINE_STRUCT knob = {};
  knob.nodeCount = 2;
  knob.nodes[0] = {-0.5, 0.25};
  knob.nodes[1] = {0.25, 0.75};
  knob.S[1] = 1;
  cutter.opSetShapeFromData(&knob, 0);
  {
    CKLF_StdFile k(dir.File("k.klph").c_str(), 4);
    ASSERT_EQ(cutter.opSaveShapeToFile(&k), 1);
  }
  ui.AnswerFile({true, dir.File("k.klph")});
  ui.AnswerFile({true, dir.File("s.klpk")});
  ui.AnswerFile({true, dir.File("s.klpk")});
  ui.AnswerFile({true, dir.File("s.klpk")});
  ui.AnswerFile({false, ""});
  Then([&] {
    Press(Manager()->GetCtrl(W::kLoadShape));
    ASSERT_EQ(List()->GetItemsCount(), 3u);
    EXPECT_EQ(Line(2), "Knob");
    const u8* rec = Manager()->GetLibrary().GetRecord(2);
    EXPECT_EQ(CShapeSetFile::RecordNodeCount(rec), 2u);
    EXPECT_EQ(CShapeSetFile::RecordH(rec, 0), -0.5f);
    EXPECT_EQ(CShapeSetFile::RecordS(rec, 1), 1.0f);
    EXPECT_EQ(files.files[CPresetsLibrary::kFileName].size(), 3 * R);  // written at once

    ClickCell(1);
    ClickCell(2, klpCmdKey);
    Press(Manager()->GetCtrl(W::kSaveSet));
    Press(Manager()->GetCtrl(W::kLoadSet));
    EXPECT_EQ(Line(3) + Line(4), "bKnob");
    EXPECT_EQ(Selection(), "");
    Press(Manager()->GetCtrl(W::kReplaceSet));
    EXPECT_EQ(List()->GetItemsCount(), 2u);
    Press(Manager()->GetCtrl(W::kReplaceSet));  // cancelled
    EXPECT_EQ(List()->GetItemsCount(), 2u);
  });
  Then([&] {  // the import's name dialog starts from "New Shape"
    auto* n = Top<CWnd_ShapeName>();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(Text(n->GetCtrl(CWnd_ShapeName::kName)), "New Shape");
    EXPECT_TRUE(n->GetCtrl(CWnd_ShapeName::kOk)->IsEnabled());
    Type(n->GetCtrl(CWnd_ShapeName::kName), "Knob");
    Press(n->GetCtrl(CWnd_ShapeName::kOk));
  });
  Then([&] { PressOnCaption(Manager(), W::kCloseX); });
  EXPECT_EQ(Run(), 0);
  const auto& q = ui.Log().questions;
  ASSERT_EQ(q.size(), 5u);
  EXPECT_EQ(q[0].title, "Load Knife Shape...");
  EXPECT_TRUE(q[1].save);
  EXPECT_EQ(q[1].title + "|" + q[1].proposedName, "Save Set As...|Untitled.klpk");
  EXPECT_EQ(q[2].title, "Append Set...");
  EXPECT_EQ(q[3].title, "Replace Set...");
  EXPECT_EQ(files.files[CPresetsLibrary::kFileName].size(), 2 * R);
  EXPECT_TRUE(ui.Log().alerts.empty());
}

// A shape sent to the Cutter becomes its shape, and the knives of the
// layout follow it; a double click sends too, Option and Return send and
// close.
TEST_F(PresetsManagerTest, SendingShapesToTheCutter) {
  Library("");
  CKLF_Mem defaults;
  u32 count = 0;
  ASSERT_EQ(CDefaultShapeSet::MakeRecords(defaults, count), 1);
  files.files[CPresetsLibrary::kFileName].assign(defaults.GetPtr(), defaults.GetPtr() + defaults.GetSize());
  const std::vector<u8> before = main.Block();
  Then([&] {
    ClickCell(7);  // "Dovetail": four nodes
    Press(Manager()->GetCtrl(W::kToCutter));
    const u8* rec = defaults.GetPtr() + 7 * R;
    ASSERT_EQ(cutter.nodeCount, CShapeSetFile::RecordNodeCount(rec));
    for (u32 i = 0; i < cutter.nodeCount; ++i) {
      EXPECT_EQ(cutter.nodes[i].H, static_cast<f64>(CShapeSetFile::RecordH(rec, i)));
      EXPECT_EQ(cutter.nodes[i].U, static_cast<f64>(CShapeSetFile::RecordU(rec, i)));
      EXPECT_EQ(cutter.nodeS[i], static_cast<f64>(CShapeSetFile::RecordS(rec, i)));
    }
    EXPECT_EQ(main.shapeCalls, 1);
    EXPECT_NE(main.Block(), before);
    const u32 point = main.e.model.vKnives[0].pointCount;
    EXPECT_EQ(point, 4u);

    const kltRECT_s c = Manager()->GetPreview().CellRect(2);
    DoubleClick(c.left + 5, c.top + 5);  // "Small Knob", five nodes
    EXPECT_EQ(cutter.nodeCount, 5);
    EXPECT_EQ(main.shapeCalls, 2);
    ClickCell(5);
    ui.SetModifiers(klpOptionKey);
    Key(kVKReturn, 0, klpOptionKey);
  });
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(main.shapeCalls, 3);
  EXPECT_EQ(cutter.nodeCount, CShapeSetFile::RecordNodeCount(defaults.GetPtr() + 5 * R));
  EXPECT_EQ(Top<W>(), nullptr);
  EXPECT_EQ(files.writes, 1);
}

// A presets file that cannot be read is said so and never written over,
// whatever the way out; a window that cannot be made touches no file.
TEST_F(PresetsManagerTest, AnUnreadablePresetsFileStays) {
  Library("ab");
  files.unreadable[CPresetsLibrary::kFileName] = 1;
  Then([&] {
    EXPECT_EQ(List()->GetItemsCount(), 0u);
    Press(Manager()->GetCtrl(W::kDone));
  });
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(ui.Log().alerts.size(), 1u);
  EXPECT_EQ(ui.Log().alerts[0], std::make_pair(std::string("Error!"), std::string("Error reading data file...")));
  EXPECT_EQ(files.writes, 0);

  // The loop left without the dialog closing itself (the platform closed
  // the window): the library is written all the same.
  files.unreadable.clear();
  Then([&] { ui.DestroyWindow(Manager()->GetWindowHandle()); });
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(files.writes, 1);

  CKLF_App bare;
  m_App = &bare;
  EXPECT_EQ(Run(), -1);
  m_App = &app;
  EXPECT_EQ(files.writes, 1);
  EXPECT_EQ(Top<CKLF_Window>(), nullptr);
}

// The Cutter's "Add to Presets": a name asked under "Cutter", the Cutter's
// shape appended to the presets file; cancelled, nothing.
TEST_F(PresetsManagerTest, AddingTheCuttersShape) {
  Library("a");
  Then([&] {
    auto* n = Top<CWnd_ShapeName>();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(Text(n->GetCtrl(CWnd_ShapeName::kName)), "");
    EXPECT_FALSE(n->GetCtrl(CWnd_ShapeName::kOk)->IsEnabled());
    Type(n->GetCtrl(CWnd_ShapeName::kName), "Mine");
    Press(n->GetCtrl(CWnd_ShapeName::kOk));
  });
  EXPECT_EQ(W::AddCutterShape(&cutterWindow, &cutter, &main, &files), 1);
  ASSERT_EQ(files.files[CPresetsLibrary::kFileName].size(), 2 * R);
  const u8* rec = files.files[CPresetsLibrary::kFileName].data() + R;
  EXPECT_STREQ(reinterpret_cast<const char*>(rec), "Mine");
  EXPECT_EQ(CShapeSetFile::RecordNodeCount(rec), cutter.nodeCount);
  EXPECT_EQ(main.asked.back(), "Shape Name>Cutter");
  Then([&] { Press(Top<CWnd_ShapeName>()->GetCtrl(CWnd_ShapeName::kCancel)); });
  EXPECT_EQ(W::AddCutterShape(&cutterWindow, &cutter, &main, &files), 0);
  EXPECT_EQ(files.writes, 1);
}
