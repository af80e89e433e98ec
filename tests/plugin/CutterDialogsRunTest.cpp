// The Cutter's dialogs as a user reaches them in the plug-in's dialog: the
// Cutter's buttons open the preset manager, the shape name dialog and the
// auto layout dialog over it; what they do reaches the Cutter, the main
// window's layout and the presets file in the plug-in's folder.
#include <cstring>
#include <functional>
#include <string>

#include "CDefaultShapeSet.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlList.h"
#include "CShapeSetFile.h"
#include "CWnd_AutoLayout.h"
#include "CWnd_PresetsManager.h"
#include "CWnd_ShapeName.h"
#include "PluginRunSupport.h"

using namespace plugintest;

namespace {

typedef CWnd_Cutter C;
typedef CWnd_PresetsManager P;
const u8 kVKDown = 0x7D, kVKReturn = 0x24;

// The window that has the keys (a modal dialog while it runs), as W.
template <class W>
W* Active(PluginRun& r) {
  return dynamic_cast<W*>(r.ui.GetWindowClient(r.ui.GetActiveWindow()));
}

void Key(PluginRun& r, u8 vk, u8 ch = 0) {
  r.ui.PostKey(klpKeyDown, vk, ch);
  r.ui.PostKey(klpKeyUp, vk, ch);
  r.ui.Pump();
}

void Press(PluginRun& r, CKLF_Window& w, CKLF_Control* c) {
  r.Click(w, c);
  r.ui.Pump();
}

std::string Line(CKLF_CtrlList* list, u32 i) {
  CKLF_String text;
  list->GetItem(i, &text, nullptr, nullptr);
  return text.GetStr();
}

// The main window's first vertical knife's points (H by node).
std::vector<f32> KnifeH(PluginRun& r) {
  const CLayoutModel::KNIFESTRUCT* k = r.Main()->Editor().model.NthKnife(0);
  return k ? std::vector<f32>(k->pointH, k->pointH + k->pointCount) : std::vector<f32>();
}

}  // namespace

// "Cutter_Presets": the default set in the manager; a cell clicked, the
// next shape taken with the keys and sent to the Cutter, which becomes it
// and clones it onto the main window's knives; closing writes the library
// to the plug-in's folder.
TEST(CutterDialogsRun, APresetFromTheManagerBecomesTheKnives) {
  PluginRun r;
  r.Document(klpModeRGB, 160, 120);
  CKLF_Mem defaults;
  u32 count = 0;
  ASSERT_EQ(CDefaultShapeSet::MakeRecords(defaults, count), 1);
  ASSERT_GT(count, 3u);
  r.Then([&r, &defaults] {
    ASSERT_TRUE(r.CutterWindow());
    const std::vector<f32> before = KnifeH(r);
    std::string sent;
    r.Then([&r, &sent] {
      P* pm = Active<P>(r);
      ASSERT_TRUE(pm);
      auto* list = static_cast<CKLF_CtrlList*>(pm->GetCtrl(P::kList));
      const kltRECT_s cell = pm->GetPreview().CellRect(1);
      r.ClickAt(*pm, cell.left + 3, cell.top + 3);
      r.ui.Pump();
      Key(r, kVKDown);
      ASSERT_EQ(list->GetSelectedItem(), 2);
      sent = Line(list, 2);
      EXPECT_TRUE(pm->GetCtrl(P::kToCutterClose)->IsEnabled());
      Press(r, *pm, pm->GetCtrl(P::kToCutterClose));
    });
    r.Click(C::kPresets);
    r.ui.Pump();
    EXPECT_EQ(Active<P>(r), nullptr);
    // The Cutter holds the third default shape, and the knives follow it.
    const u8* rec = defaults.GetPtr() + 2 * CShapeSetFile::kRecordSize;
    char name[CShapeSetFile::kNameSize];
    CShapeSetFile::GetRecordName(rec, name);
    EXPECT_EQ(sent, name);
    const CCutterModel& m = r.CutterWindow()->GetModel();
    ASSERT_EQ(m.nodeCount, CShapeSetFile::RecordNodeCount(rec));
    for (u32 i = 0; i < m.nodeCount; ++i) EXPECT_EQ(static_cast<f32>(m.nodes[i].H), CShapeSetFile::RecordH(rec, i));
    const std::vector<f32> after = KnifeH(r);
    EXPECT_NE(after, before);
    ASSERT_EQ(after.size(), m.nodeCount);
    for (u32 i = 0; i < m.nodeCount; ++i) EXPECT_EQ(after[i], static_cast<f32>(m.nodes[i].H));
    r.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
  EXPECT_EQ(klftest::ReadFileBytes(r.dir.File("ckss.data")).empty(), false);
}

// "Cutter_AddToPM": a name asked over the Cutter; the Cutter's shape joins
// the presets file under it, and the manager lists it last. Added before
// any presets file exists, it follows the default set.
TEST(CutterDialogsRun, TheCuttersShapeAddedToThePresets) {
  PluginRun r;
  r.Document(klpModeRGB, 160, 120);
  CKLF_Mem defaults;
  u32 count = 0;
  ASSERT_EQ(CDefaultShapeSet::MakeRecords(defaults, count), 1);
  r.Then([&r, count] {
    r.Then([&r] {
      auto* n = Active<CWnd_ShapeName>(r);
      ASSERT_TRUE(n);
      EXPECT_FALSE(n->GetCtrl(CWnd_ShapeName::kOk)->IsEnabled());
      r.Type(*n, n->GetCtrl(CWnd_ShapeName::kName), "My knob");
      EXPECT_TRUE(n->GetCtrl(CWnd_ShapeName::kOk)->IsEnabled());
      Key(r, kVKReturn, '\r');  // the typing ends
      Key(r, kVKReturn, '\r');  // OK
    });
    r.Click(C::kAddToPM);
    r.ui.Pump();
    for (auto& a : r.ui.Log().alerts) ADD_FAILURE() << a.first << ": " << a.second;
    EXPECT_TRUE(r.CutterWindow()->GetCtrl(C::kAddToPM)->IsEnabled());
    std::string last;
    u32 nodes = 0;
    r.Then([&r, &last, &nodes, count] {
      P* pm = Active<P>(r);
      ASSERT_TRUE(pm);
      const CPresetsLibrary& lib = pm->GetLibrary();
      ASSERT_EQ(lib.GetCount(), count + 1);
      EXPECT_STREQ(lib.GetName(0), "Classic Knob");
      last = Line(static_cast<CKLF_CtrlList*>(pm->GetCtrl(P::kList)), lib.GetCount() - 1);
      nodes = CShapeSetFile::RecordNodeCount(lib.GetRecord(lib.GetCount() - 1));
      Press(r, *pm, pm->GetCtrl(P::kDone));
    });
    r.Click(C::kPresets);
    r.ui.Pump();
    EXPECT_EQ(last, "My knob");
    EXPECT_EQ(nodes, r.CutterWindow()->GetModel().nodeCount);
    r.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
}

// "Cutter_AutoLayout": counts typed in the dialog, OK; the main window lays
// triangles, the Cutter's row and column fields follow its grid, and the
// values are kept for the next time.
TEST(CutterDialogsRun, AnAutoLayoutFromTheCutterSetsItsCounts) {
  PluginRun r;
  r.Document(klpModeRGB, 160, 120);
  r.Then([&r] {
    const CLayoutModel& m = r.Main()->Editor().model;
    EXPECT_EQ(m.xKnifeCount, 0u);
    r.Then([&r] {
      auto* a = Active<CWnd_AutoLayout>(r);
      ASSERT_TRUE(a);
      r.Type(*a, a->GetCtrl(CWnd_AutoLayout::kRowsEdit), "4");
      r.Type(*a, a->GetCtrl(CWnd_AutoLayout::kColsEdit), "5");
      Press(r, *a, a->GetCtrl(CWnd_AutoLayout::kOk));
    });
    r.Click(C::kAutoLayout);
    r.ui.Pump();
    EXPECT_GT(m.xKnifeCount, 0u);
    auto text = [](C::CONTROL c) {
      return std::string(static_cast<CKLF_CtrlEditLine*>(PluginRun::CutterWindow()->GetCtrl(c))->GetText().GetStr());
    };
    EXPECT_EQ(text(C::kRowsEdit), std::to_string(m.horizontalLineCount + 1));
    EXPECT_EQ(text(C::kColumnsEdit), std::to_string(m.verticalLineCount + 1));
    EXPECT_EQ(r.CutterWindow()->GetModel().rows, m.horizontalLineCount + 1);
    r.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
  CKLF_Storage conf;
  ASSERT_EQ(conf.Open(CKLF_String(r.dir.File("plugin.conf").c_str()), 1), 1);
  u32 rows = 0, cols = 0;
  EXPECT_EQ(conf.GetRec("Auto Layout Settings>Rows", rows), 1);
  EXPECT_EQ(conf.GetRec("Auto Layout Settings>Cols", cols), 1);
  EXPECT_EQ(rows * 100 + cols, 405u);
}

// The Cutter and the dialogs with fields open with their first field
// focused, also after the window behind had the keys for a moment (as a
// window manager hands them while windows map): digits typed at once land
// there, and one Return ends the typing and acts.
TEST(CutterDialogsRun, DigitsTypedAtOpeningReachTheFirstField) {
  const struct {
    const char* field;
    void (*open)();
  } kOpenings[] = {{"Cutter_Rows", nullptr},
                   {"AutoLayout_Rows", [] { PluginRun::CutterWindow()->DoAutoLayoutWindow(); }},
                   {"CMuts_MutS", [] { PluginRun::CutterWindow()->SetCustomMutationsMode(); }},
                   {"Pref_DisOpacity", [] { PluginRun::Main()->DoPrefDialog(); }}};
  for (const auto& o : kOpenings) {
    PluginRun r;
    r.Document(klpModeRGB, 160, 120);
    std::string typed;
    const std::function<void()> type = [&] {
      CKLF_Window* w = Active<CKLF_Window>(r);
      ASSERT_TRUE(w);
      for (CKLF_Window* active : {w->GetParent(), w}) r.ui.SelectWindow(active->GetWindowHandle()), r.ui.Pump();
      Key(r, klpVKNone, '1'), Key(r, klpVKNone, '2');
      typed = Named<CKLF_CtrlEditLine>(*w, o.field, klCtrlEditLine)->GetText().GetStr();
      Key(r, kVKReturn, '\r');
      if (Active<CKLF_Window>(r) == w && w->IsVisible()) typed += " still open", Key(r, klpVKEscape, 27);
    };
    r.Then([&] {
      if (o.open) r.Then(type), o.open();
      else type();
      r.Click(CWnd_Main::kCancel);
    });
    EXPECT_EQ(r.Dialog(), klpResUserCanceled);
    EXPECT_EQ(typed, "12") << o.field;
  }
}
