// The Cutter window on the headless platform beside the real layout model:
// opening Layout mode, shaping the knife with the mouse and seeing the
// knives follow, the grid controls, undo and redo, the cut with its abort
// and Puzzle mode, the menus, the files and the status line.
#include <cmath>

#include "CKLF_2DMath.h"
#include "CKLF_CtrlProgress.h"
#include "CKLF_CtrlStaticText.h"
#include "CKnifeShapeFile.h"
#include "CTessaretteRecordCodec.h"
#include "CutterWindowTestUtil.h"

using namespace cutwin;

namespace {

// Every knife of the layout holds the Cutter's nodes; with amounts, each
// point lies within the mutation's reach of its node.
void ExpectKnivesFollow(const CLayoutModel& lm, const CCutterModel& m, f32 mutS = 0, f32 mutH = 0, f32 mutU = 0) {
  ASSERT_GT(lm.TotalKnifeCount(), 0u);
  for (u32 i = 0; i < lm.TotalKnifeCount(); ++i) {
    const CLayoutModel::KNIFESTRUCT* k = lm.NthKnife(i);
    ASSERT_EQ(k->pointCount, m.nodeCount) << "knife " << i;
    for (u32 j = 0; j < m.nodeCount; ++j) {
      EXPECT_NEAR(k->pointH[j], static_cast<f32>(m.nodes[j].H), mutH * mutH / 2 + 1e-6) << i << "," << j;
      EXPECT_NEAR(k->pointU[j], static_cast<f32>(m.nodes[j].U), mutU * mutU / 2 + 1e-6) << i << "," << j;
      EXPECT_NEAR(k->pointS[j], static_cast<f32>(m.nodeS[j]), mutS * mutS + 1e-6) << i << "," << j;
    }
  }
}

f64 Angle(f64 x, f64 y, f64 cx, f64 cy) { return std::atan2(y - cy, x - cx) * 180 / M_PI; }

}  // namespace

TEST_F(CutterWindowTest, OpensLayoutModeWithTheMainWindowsValues) {
  main.e.shapes.OnCutterUpdateKnifeThickness(7, 0);
  main.e.undo.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubGrid);
  Open();
  // The counts (a 3:2 image lays 3 x 2 cells), the knife values, the mode;
  // without pieces the window can be left only by a cut.
  EXPECT_EQ(Text(W::kRowsEdit) + " " + Text(W::kColumnsEdit) + " " + Text(W::kThickEdit) + " " + Text(W::kKnobEdit),
            "2 3 7 100");
  EXPECT_EQ(Value(W::kRowsSlider) * 1000 + Value(W::kColumnsSlider), 2003u);
  EXPECT_EQ(static_cast<CKLF_CtrlStaticText*>(w->GetCtrl(W::kCloneDisp))->GetText(), "Cloning WITHOUT mutation");
  EXPECT_EQ(w->GetCtrl(W::kThickSlider)->IsEnabled(), 1);
  EXPECT_EQ(w->GetCtrl(W::kCancel)->IsEnabled() + w->GetCtrl(W::kCloseX)->IsEnabled(), 0);
  EXPECT_EQ(w->GetCtrl(W::kZoom1)->GetCheck(), 1);
  EXPECT_EQ(main.e.undo.IsEmpty(), 1);
  for (W::CONTROL dialog : {W::kPresets, W::kAddToPM, W::kAutoLayout}) EXPECT_EQ(w->GetCtrl(dialog)->IsEnabled(), 1);
  Key(klpVKEscape, 27);
  Press(W::kCancel);
  EXPECT_EQ(main.closes, 0);
  // The default knife is drawn in orange over the dark preview: the row of
  // U = 0.2 crosses it once, near the base line.
  ASSERT_TRUE(ui.SavePNG(w->GetWindowHandle(), KLF_BINARY_DIR "/cutter-headless.png"));
  const kltRECT_s pr = w->GetPreviewRect();
  std::vector<i32> orange;
  for (i32 x = pr.left; x < pr.right; ++x) {
    u8 rgb[3];
    ASSERT_TRUE(ui.GetPixel(w->GetWindowHandle(), x, pr.top + 12 + 72, rgb));
    if (rgb[0] > 150 && rgb[0] > 2 * rgb[2] && rgb[1] > rgb[2]) orange.push_back(x - pr.left);
  }
  ASSERT_FALSE(orange.empty());
  EXPECT_LE(orange.back() - orange.front(), 3);
  EXPECT_NEAR(orange.front(), 130, 30);
}

TEST_F(CutterWindowTest, KnivesFollowTheShapeAndUndoRedo) {
  Open();
  ExpectKnivesFollow(main.e.model, *m);
  // A press on an empty spot deselects; a node dragged alone.
  Click(30, 400);
  // The node's centre lands where the pointer left it (preview pixel x is
  // H = (130 - x) / 359 on this preview).
  const kltPOS tip = NodeAt(2);
  const f64 h0 = m->nodes[2].H, moved = (130.0 - (tip.x - w->GetPreviewRect().left - 40)) / 359;
  Drag(tip.x, tip.y, tip.x - 40, tip.y + 10);
  EXPECT_NEAR(m->nodes[2].H, moved, 1e-9);
  EXPECT_EQ(m->nodes[0].H, 0.0);
  ExpectKnivesFollow(main.e.model, *m);
  // Undo and redo through the buttons: the shape and the knives go back
  // and forth.
  Press(W::kUndo);
  EXPECT_EQ(m->nodes[2].H, h0);
  ExpectKnivesFollow(main.e.model, *m);
  Press(W::kRedo);
  EXPECT_NEAR(m->nodes[2].H, moved, 1e-9);
  ExpectKnivesFollow(main.e.model, *m);
  EXPECT_EQ(w->GetCtrl(W::kRedo)->IsEnabled(), 0);

  // A small knife, all selected, scaled with Shift from the bottom-right
  // handle: the box keeps its proportions.
  CCutterServices::SPLINE_STRUCT s = {};
  s.nodeCount = 3;
  const f64 hu[3][2] = {{0.06, 0.4}, {-0.03, 0.5}, {0.06, 0.62}};
  for (u32 j = 0; j < 3; ++j) s.nodes[j] = {hu[j][0], hu[j][1]}, s.S[j] = 0.5;
  cutter->opSetShapeFromData(&s, 1);
  ExpectKnivesFollow(main.e.model, *m);
  auto box = [&](f64& bw, f64& bh) {
    f64 l = 1e9, t = 1e9, r = -1e9, b = -1e9;
    for (u32 j = 0; j < 3; ++j) {
      const f64 x = 130 - m->nodes[j].H * 359, y = 12.5 + m->nodes[j].U * 359;
      l = std::fmin(l, x), r = std::fmax(r, x), t = std::fmin(t, y), b = std::fmax(b, y);
    }
    bw = r - l, bh = b - t;
  };
  f64 w0, h0b, w1, h1;
  box(w0, h0b);
  kltRECT_s handle;
  ASSERT_EQ(m->GetHandle(4, handle), 1);
  const i32 hx = w->GetPreviewRect().left + (handle.left + handle.right) / 2;
  const i32 hy = w->GetPreviewRect().top + (handle.top + handle.bottom) / 2;
  Drag(hx, hy, hx + 10, hy + 60, klpShiftKey);
  box(w1, h1);
  EXPECT_GT(h1, h0b * 1.5);
  EXPECT_NEAR(w1 / h1, w0 / h0b, 0.05);
  ExpectKnivesFollow(main.e.model, *m);

  // Rotated with Command and Shift: the turn is a whole multiple of 15
  // degrees about the box centre.
  kltRECT_s sel = {1 << 20, 1 << 20, -(1 << 20), -(1 << 20)};
  std::vector<kltPOS> before;
  for (u32 j = 0; j < 3; ++j) {
    const kltRECT_s r = m->GetNodeRect(j);
    before.push_back({r.left + 3, r.top + 3});
    sel = {std::min(sel.left, r.left + 3), std::min(sel.top, r.top + 3), std::max(sel.right, r.left + 3),
           std::max(sel.bottom, r.top + 3)};
  }
  ASSERT_EQ(m->GetHandle(0, handle), 1);
  const i32 rx = w->GetPreviewRect().left + handle.left + 2, ry = w->GetPreviewRect().top + handle.top + 2;
  const f64 cx = (sel.left + sel.right) / 2.0, cy = (sel.top + sel.bottom) / 2.0;
  Drag(rx, ry, rx + 70, ry - 10, klpCmdKey | klpShiftKey);
  const f64 x = 130 - m->nodes[0].H * 359, y = 12.5 + m->nodes[0].U * 359;
  const f64 turn = Angle(x, y, cx, cy) - Angle(before[0].x, before[0].y, cx, cy);
  const f64 steps = turn / 15;
  EXPECT_NEAR(steps, std::round(steps), 1e-6) << turn;
  EXPECT_NE(std::round(steps), 0.0);
  ExpectKnivesFollow(main.e.model, *m);
}

TEST_F(CutterWindowTest, CloneModesThroughTheMenu) {
  Open();
  // Low mutation: every point within reach of its node, not all on it.
  ui.AnswerMenu(4);
  Press(W::kClone);
  ASSERT_EQ(m->cloneMode, 2u);
  EXPECT_EQ(ui.Log().menus.back()[4].text, "Clone With Low Mutation");
  EXPECT_TRUE(ui.Log().menus.back()[0].checked == false && ui.Log().menus.back()[2].checked);
  EXPECT_EQ(ui.Log().menus.back()[9].text, "Clone With Custom Mutation...");
  EXPECT_FALSE(ui.Log().menus.back()[9].disabled);
  ExpectKnivesFollow(main.e.model, *m, 0.2f, 0.1f, 0.1f);
  u32 moved = 0;
  for (u32 i = 0; i < main.e.model.TotalKnifeCount(); ++i)
    moved += main.e.model.NthKnife(i)->pointH[2] != static_cast<f32>(m->nodes[2].H);
  EXPECT_GT(moved, 0u);
  EXPECT_EQ(static_cast<CKLF_CtrlStaticText*>(w->GetCtrl(W::kCloneDisp))->GetText(), "Cloning with LOW mutation");
  // No cloning stops every notification, flips included.
  ui.AnswerMenu(0);
  Press(W::kClone);
  const CLayoutModel::KNIFESTRUCT k = *main.e.model.NthKnife(0);
  Press(W::kFlipH);
  Press(W::kFlipU);
  EXPECT_EQ(main.e.model.NthKnife(0)->pointH[2], k.pointH[2]);
  EXPECT_EQ(w->GetCtrl(W::kReClone)->IsEnabled(), 0);
  // Without mutation again: the flipped shape reaches every knife.
  ui.AnswerMenu(2);
  Press(W::kClone);
  ExpectKnivesFollow(main.e.model, *m);
  // The custom entry asks its amounts in the dialog, from the stored ones:
  // Escape keeps the mode, OK switches to them and clones with them.
  ASSERT_TRUE(main.conf.AddFolder("Custom Mutations Settings"));
  ASSERT_TRUE(main.conf.SetRecord("Custom Mutations Settings>MutS", 0.3));
  ASSERT_TRUE(main.conf.SetRecord("Custom Mutations Settings>MutU", 0.25));
  ASSERT_TRUE(main.conf.SetRecord("Custom Mutations Settings>MutH", 0.1));
  for (const u8 key : {u8{klpVKEscape}, u8{0x24}}) {
    ui.AnswerMenu(9);
    ui.Script([&, key] { Key(key, key == klpVKEscape ? 27 : '\r'); });
    Press(W::kClone);
    EXPECT_EQ(m->cloneMode, key == klpVKEscape ? 1u : 6u);
  }
  EXPECT_FLOAT_EQ(m->mutS, 0.3f);
  EXPECT_FLOAT_EQ(m->mutU, 0.25f);
  EXPECT_FLOAT_EQ(m->mutH, 0.1f);
  EXPECT_EQ(static_cast<CKLF_CtrlStaticText*>(w->GetCtrl(W::kCloneDisp))->GetText(), "Cloning with CUSTOM mutation");
  ExpectKnivesFollow(main.e.model, *m, 0.3f, 0.1f, 0.25f);
}

TEST_F(CutterWindowTest, RowsAndColumnsReachTheMainWindowsGrid) {
  Open();
  // Typed counts act on leaving the field, the link or not.
  Press(W::kLinkRC);
  ASSERT_EQ(m->linkRC, 1);
  Type(W::kRowsEdit, "5");
  EXPECT_EQ(main.e.model.horizontalLineCount * 100 + main.e.model.verticalLineCount, 402);
  Type(W::kColumnsEdit, "150");
  EXPECT_EQ(Text(W::kColumnsEdit), "100");
  EXPECT_EQ(main.e.model.verticalLineCount, 99);
  ExpectKnivesFollow(main.e.model, *m);
  // A dragged slider previews lines with the linked count and sets the
  // grid on release.
  // Points 4, 9, 19 and 29 of the slider hold rows 5, 10, 20 and 30.
  const kltPOS p5 = SliderPoint("Cutter_Rows", 4), p10 = SliderPoint("Cutter_Rows", 9);
  const kltPOS p20 = SliderPoint("Cutter_Rows", 19), p30 = SliderPoint("Cutter_Rows", 29);
  main.lines.clear();
  Drag(p5.x, p5.y, p20.x, p20.y);
  const u32 rows = Value(W::kRowsSlider);
  EXPECT_EQ(rows, 20u);
  ASSERT_FALSE(main.lines.empty());
  EXPECT_EQ(main.lines.back(), (std::pair<u32, u32>{rows, main.e.model.icGetIdealColumnsForRows(rows)}));
  EXPECT_EQ(main.e.model.horizontalLineCount + 1u, rows);
  EXPECT_EQ(main.e.model.verticalLineCount + 1u, main.e.model.icGetIdealColumnsForRows(rows));
  EXPECT_EQ(Value(W::kColumnsSlider), main.e.model.verticalLineCount + 1u);
  EXPECT_EQ(Text(W::kColumnsEdit), std::to_string(main.e.model.verticalLineCount + 1));
  // Unlinked, the columns stay unless Shift is held.
  Press(W::kLinkRC);
  Drag(p20.x, p20.y, p10.x, p10.y);
  EXPECT_EQ(main.e.model.verticalLineCount + 1u, main.e.model.icGetIdealColumnsForRows(rows));
  const u32 columns = main.e.model.verticalLineCount;
  Drag(p10.x, p10.y, p30.x, p30.y, klpShiftKey);
  EXPECT_NE(main.e.model.verticalLineCount, columns);
  EXPECT_EQ(main.e.model.verticalLineCount + 1u, main.e.model.icGetIdealColumnsForRows(Value(W::kRowsSlider)));
  // Razor cut off enables the thickness; a typed thickness reaches the knives.
  Press(W::kRazorCut);
  EXPECT_EQ(m->razorCut * 10 + w->GetCtrl(W::kThickEdit)->IsEnabled(), 1);
  Type(W::kThickEdit, "9");
  EXPECT_EQ(main.e.model.NthKnife(0)->thickness, 9u);
}

// Tab commits the field and the characters typed next go into the
// following one: rows, then columns; Shift+Tab goes back.
TEST_F(CutterWindowTest, TabCommitsAFieldAndTypingGoesOnInTheNext) {
  Open();
  Press(W::kRowsEdit);
  Key(klpVKNone, '5');
  Key(0x30, '\t');
  EXPECT_EQ(main.e.model.horizontalLineCount, 4u);
  Key(klpVKNone, '6');
  Key(0x30, '\t');
  EXPECT_EQ(Text(W::kColumnsEdit), "6");
  EXPECT_EQ(main.e.model.verticalLineCount, 5u);
  Key(0x30, '\t', klpShiftKey);
  Key(0x30, '\t', klpShiftKey);
  EXPECT_EQ(w->GetCtrl(W::kRowsEdit)->GetFocus(), 1);
  Key(klpVKNone, '2');
  Key(0x24, '\r');
  EXPECT_EQ(main.e.model.horizontalLineCount, 1u);
}

// The Cutter opens with the rows field focused: digits typed at once set
// the rows, and one Return commits them and presses Cut. Fields passed
// through untouched lay nothing out anew (a moved knot stays). Escape from
// a field closes the window, as from anywhere.
TEST_F(CutterWindowTest, RowsFocusedAtOpeningAndReturnCuts) {
  Open();
  EXPECT_EQ(w->GetCtrl(W::kRowsEdit)->GetFocus(), 1);
  CLayoutModel& layout = main.e.model;
  const u32 knot = layout.knotColumns + 1;
  layout.knots[knot].dx = 0.25f;
  Key(0x30, '\t');
  Key(0x30, '\t');
  EXPECT_EQ(w->GetCtrl(W::kRowsEdit)->GetFocus(), 0);
  EXPECT_EQ(layout.knots[knot].dx, 0.25f);
  Key(0x30, '\t', klpShiftKey);
  Key(0x30, '\t', klpShiftKey);
  ASSERT_EQ(w->GetCtrl(W::kRowsEdit)->GetFocus(), 1);
  Key(klpVKNone, '5');
  Key(0x24, '\r');
  EXPECT_EQ(layout.horizontalLineCount, 4u);
  EXPECT_EQ(main.cutDone, 1);
  EXPECT_EQ(main.closes, 1);
  EXPECT_FALSE(w->IsVisible());
  Open();
  EXPECT_EQ(w->GetCtrl(W::kRowsEdit)->GetFocus(), 1);
  const u32 pieces = main.engine.GetPieceCount();
  Key(klpVKEscape, 27);
  EXPECT_EQ(main.closes, 2);
  EXPECT_EQ(m->cutMade, 0);
  EXPECT_EQ(main.engine.GetPieceCount(), pieces);
}

TEST_F(CutterWindowTest, CutAbortAndPuzzleMode) {
  // A first cut: without pieces it closes the Cutter into Puzzle mode.
  Open();
  Press(W::kCut);
  ASSERT_EQ(main.closes, 1);
  ASSERT_EQ(main.engine.GetPieceCount(), 6u);
  EXPECT_EQ(main.cutDone, 1);
  EXPECT_FALSE(w->IsVisible());
  EXPECT_EQ(main.positions, std::vector<std::string>{"Cutter>Main 300,200"});
  // Each piece's effect marks its cell.
  for (u32 i = 0; i < 6; ++i) {
    CTessarette::SFX_ONEPIECE r;
    main.engine.PieceToRecord(i, r);
    r.hsl.hue = static_cast<i16>(10 * r.row + r.column);
    main.engine.RecordToPiece(r, i, 1, 0);
  }
  ASSERT_EQ(main.engine.RenderAllPieces(0, 100), 1);
  Open();
  EXPECT_EQ(w->GetCtrl(W::kCancel)->IsEnabled(), 1);

  // Escape right after Cut stops before the old pieces go: they are as
  // they were and Cancel still closes.
  Type(W::kColumnsEdit, "4");
  PressThenKey(W::kCut, klpVKEscape, 27);
  ASSERT_EQ(m->cutMade + m->cutting, 0);
  EXPECT_EQ(main.engine.GetPieceCount(), 6u);
  EXPECT_EQ(w->GetCtrl(W::kCancel)->IsEnabled(), 1);
  EXPECT_EQ(w->GetCtrl(W::kCover)->IsEnabled() + w->GetCtrl(W::kAbort)->IsEnabled(), 0);

  // Aborted half way (the abort button pressed when the bar shows 50): the
  // Cutter stays, Cancel is gone, no cut counts and the mode stays.
  auto* bar = static_cast<CKLF_CtrlProgress*>(w->GetCtrl(W::kProgress));
  const kltPOS abort = Centre(W::kAbort), flip = Centre(W::kFlipH);
  std::vector<int> seen;
  ui.onTake = [&] {
    if (!m->cutting || (!seen.empty() && seen.back() == bar->GetValue())) return;
    seen.push_back(static_cast<int>(bar->GetValue()));
    EXPECT_TRUE(bar->IsVisible());
    // Clicks elsewhere while cutting are not taken.
    if (seen.size() == 2) ui.PostClick(kX + flip.x, kY + flip.y);
    if (bar->GetValue() != 50) return;
    ui.PostClick(kX + abort.x, kY + abort.y);
    EXPECT_TRUE(ui.SavePNG(w->GetWindowHandle(), KLF_BINARY_DIR "/cutter-cutting-headless.png"));
  };
  const f64 h2 = m->nodes[2].H;
  Press(W::kCut);
  EXPECT_EQ(m->nodes[2].H, h2);
  ui.onTake = nullptr;
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 50);
  EXPECT_GT(seen.size(), 3u);
  EXPECT_EQ(m->cutMade * 100 + m->cutting * 10 + m->closingRestores, 0);
  EXPECT_EQ(main.closes, 1);
  EXPECT_EQ(w->GetCtrl(W::kCancel)->IsEnabled() + w->GetCtrl(W::kCloseX)->IsEnabled(), 0);
  EXPECT_FALSE(bar->IsVisible());
  Press(W::kCancel);
  Key(klpVKEscape, 27);
  EXPECT_EQ(main.closes, 1);

  // Cut to the end: Puzzle mode, with the effects of the cells that were
  // there carried over by row and column; the new column has the defaults.
  Press(W::kCut);
  ASSERT_EQ(main.closes, 2);
  ASSERT_EQ(main.engine.GetPieceCount(), 8u);
  EXPECT_EQ(m->cutCountDiffers, 1);
  for (u32 i = 0; i < 8; ++i) {
    const CTessarette::SPLITEDCELL* c = main.engine.GetPiece(i);
    CTessarette::SFX_ONEPIECE r;
    main.engine.PieceToRecord(i, r);
    EXPECT_EQ(r.hsl.hue, c->column <= 3 ? static_cast<i16>(10 * c->row + c->column) : 0) << c->row << "," << c->column;
  }
}

TEST_F(CutterWindowTest, KnifeShapeFilesThroughTheirDialogs) {
  Open();
  klftest::TempDir d;
  const std::string path = d.File("knob.klph");
  // "Save as Kelvanos Knife Shape 2.0..." asks where, with the knife filter.
  ui.AnswerMenu(0);
  ui.AnswerFile({true, path});
  Press(W::kSave);
  const KLP_FileQuestion& q = ui.Log().questions.back();
  EXPECT_TRUE(q.save);
  EXPECT_EQ(q.title + " | " + q.proposedName, "Save Knife Shape As... | Untitled.klph");
  CKLF_StdFile f;
  ASSERT_EQ(f.Open(CKLF_String(path.c_str()), 1), 1);
  CCutterServices::SPLINE_STRUCT saved = {};
  CKnifeShapeFile reader;
  ASSERT_EQ(reader.Read(&f, saved), 1);
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(saved.nodeCount, 5);
  EXPECT_EQ(saved.nodes[2].H, m->nodes[2].H);

  // Flipped, then loaded back: the saved shape, every node selected, the
  // knives told.
  Click(30, 400);
  Press(W::kFlipH);
  ASSERT_GT(m->nodes[2].H, 0);
  ui.AnswerFile({true, path});
  Press(W::kLoad);
  EXPECT_EQ(ui.Log().questions.back().title, "Load Knife Shape...");
  EXPECT_FALSE(ui.Log().questions.back().save);
  EXPECT_EQ(m->nodes[2].H, saved.nodes[2].H);
  EXPECT_EQ(m->GetSelectedNodesCount(), 5u);
  ExpectKnivesFollow(main.e.model, *m);
  // A file that is no knife shape is refused with its alert; a cancelled
  // question does nothing.
  ASSERT_TRUE(klftest::WriteFileBytes(d.File("junk.klph"), std::vector<u8>(40, 7)));
  ui.AnswerFile({true, d.File("junk.klph")});
  Press(W::kLoad);
  ASSERT_FALSE(ui.Log().alerts.empty());
  EXPECT_EQ(ui.Log().alerts.back(), (std::pair<std::string, std::string>{"Error!", "Unknow file format or file corrupt..."}));
  Press(W::kLoad);
  EXPECT_EQ(m->nodes[2].H, saved.nodes[2].H);
}

// The knife as EPS and as AI: Ghostscript reads both and measures the box
// the header declares; the box holds the knife the preview draws.
TEST_F(CutterWindowTest, ExportsOpenInGhostscriptWithTheKnifesBox) {
  Open();
  klftest::TempDir d;
  // The knife over a 200-unit base line, sampled as the preview samples it.
  CKLF_2DMath math;
  CKLF_2DMath::KLSPLINEPOINT knots[7] = {{0, 0, 0, 0}};
  for (u32 j = 0; j < 5; ++j)
    knots[j + 1] = {-m->nodes[j].H * 200, m->nodes[j].U * 200, static_cast<f32>(m->nodeS[j]), 0};
  knots[6] = {0, 200, 0, 0};
  CKLF_Mem samples;
  u32 count = 0;
  ASSERT_EQ(math.CalcPointSpline(knots, 7, 0.25, &samples, count), 1);
  klftest::PSBox drawn = {1e9, 1e9, -1e9, -1e9};
  for (u32 i = 0; i < count; ++i) {
    const kltFPOS p = reinterpret_cast<const kltFPOS*>(samples.GetPtr())[i];
    drawn = {std::fmin(drawn.l, p.x), std::fmin(drawn.b, -p.y), std::fmax(drawn.r, p.x), std::fmax(drawn.t, -p.y)};
  }
  for (u8 ai = 0; ai < 2; ++ai) {
    const std::string path = d.File(ai ? "knife.ai" : "knife.eps");
    ui.AnswerMenu(ai ? 3 : 2);
    ui.AnswerFile({true, path});
    Press(W::kSave);
    EXPECT_EQ(ui.Log().questions.back().proposedName, ai ? "Untitled.ai" : "Untitled.eps");
    const std::vector<u8> bytes = klftest::ReadFileBytes(path);
    const std::string doc(bytes.begin(), bytes.end());
    ASSERT_EQ(doc.rfind(ai ? "%!PS-Adobe-3.0\n" : "%!PS-Adobe-3.0 EPSF-3.0", 0), 0u) << doc.substr(0, 40);
    const klftest::PSBox header = klftest::HeaderBox(doc);
    // Marks reach half the stroke past the path the preview samples; the
    // drawing is moved to the page's origin.
    klftest::ExpectBox(header, {0, 0, drawn.r - drawn.l + 1, drawn.t - drawn.b + 1}, 0.05, "header");
    if (std::system("gs --version > /dev/null 2>&1") != 0) continue;
    klftest::PSBox measured;
    ASSERT_TRUE(klftest::GhostscriptBox(path, measured)) << doc;
    klftest::ExpectBox(measured, header, 0.05, ai ? "AI by Ghostscript" : "EPS by Ghostscript");
  }
}

TEST_F(CutterWindowTest, StatusMenusKeysAndAccelerators) {
  Open();
  // The tip of the control under the mouse fades in on the status line.
  const kltPOS cut = Centre(W::kCut);
  Mouse(klpMouseMoved, cut.x, cut.y);
  ui.AdvanceClock(600);
  auto* status = static_cast<CKLF_CtrlStaticText*>(w->GetCtrl(W::kStatus));
  EXPECT_EQ(status->GetText(), "Cutter/Cutter_Cut 1 5");
  EXPECT_EQ(status->GetOpacity(), 255);
  Mouse(klpMouseMoved, 100, 100);
  ui.AdvanceClock(600);
  EXPECT_EQ(status->GetText(), "Cutter/Zone_Preview 1 255");

  // The shape's context menu on a right click, with its states; its choice
  // runs (Delete the selected nodes).
  ui.AnswerMenu(17);
  ui.PostMouse(klpMouseDown, kX + 100, kY + 100, 2);
  ui.PostMouse(klpMouseUp, kX + 100, kY + 100, 2);
  ui.Pump();
  const std::vector<KLP_MenuItem>& menu = ui.Log().menus.back();
  ASSERT_EQ(menu.size(), 21u);
  EXPECT_EQ(menu[0].text + "," + menu[3].text + "," + menu[17].text, "Undo,Select All,Delete");
  EXPECT_TRUE(menu[0].disabled && menu[3].disabled && !menu[17].disabled && menu[19].checked);
  EXPECT_TRUE(menu[4].shortcutCommand && menu[4].shortcutKey == 'D');
  EXPECT_EQ(m->nodeCount, 0);
  for (u32 i = 0; i < main.e.model.TotalKnifeCount(); ++i) EXPECT_EQ(main.e.model.NthKnife(i)->pointCount, 0u);
  // Undo through the keys' command, Delete by key.
  w->OnCtrlMessage(klMsgAccelerator, 2, nullptr, 0, nullptr);
  Press(W::kUndo);
  ASSERT_EQ(m->nodeCount, 5);
  w->OnCtrlMessage(klMsgAccelerator, 11, nullptr, 0, nullptr);
  EXPECT_EQ(m->GetSelectedNodesCount(), 0u);
  w->OnCtrlMessage(klMsgAccelerator, 2, nullptr, 0, nullptr);
  Key(0x75, 0);
  EXPECT_EQ(m->nodeCount, 0);
  // Command 36 opens the menu at the preview's corner; commands the Cutter
  // does not take reach the main window unchanged.
  w->OnCtrlMessage(klMsgAccelerator, 36, nullptr, 0, nullptr);
  EXPECT_EQ(ui.Log().menuPoints.back().x, kX + w->GetPreviewRect().left);
  w->OnCtrlMessage(klMsgAccelerator, 12, nullptr, 0, nullptr);
  EXPECT_EQ(parent.messages, std::vector<u32>{klMsgAccelerator * 1000 + 12});
  // The help menu comes from the main window: none there, no menu.
  const size_t menus = ui.Log().menus.size();
  Press(W::kHelp);
  EXPECT_EQ(ui.Log().menus.size(), menus);
  // Zoom 1x4: a quarter of the base line.
  Press(W::kZoom4);
  EXPECT_EQ(m->zoom, 2);
  EXPECT_NEAR(m->GetP1().y - m->GetP0().y, (384 - 25) / 4.0, 1e-9);
}

// A window that cannot be made leaves no window behind and says why.
TEST_F(CutterWindowTest, CreationFailureLeavesNoWindow) {
  klftest::TempDir d;
  CKLF_Storage empty;
  ASSERT_EQ(empty.Open(d.File("r.kls4").c_str(), 2), 1);
  ASSERT_EQ(empty.AddFolder("UIResources"), 1);
  ASSERT_EQ(empty.Close(), 1);
  ASSERT_EQ(app.InitStorgaeResource(d.File("r.kls4").c_str(), 1), 1);
  CCutterServices* c = CCutterServices::New();
  c->mainWindow = &main;
  EXPECT_EQ(c->CreateCutterWindow(klNullSize, &parent), 0);
  EXPECT_EQ(static_cast<CCutterSession*>(c)->GetWindow(), nullptr);
  EXPECT_EQ(static_cast<CCutterSession*>(c)->GetError(), klErrUIResource);
  c->ShowCutterWindow();
  delete c;
}
