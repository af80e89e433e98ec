// The main window worked by scripted mouse and keys on the headless
// platform (virtual clock): knots and split lines dragged and undone,
// lines inserted from a ruler, knives clicked with the modifier keys,
// copied and pasted from their menu, flipped from the keyboard; in Puzzle
// mode pieces picked by click, rectangle and lasso on a real cut, hidden,
// shown and undone; Escape ending drags; the cursors and context menus.
#include <algorithm>
#include <cmath>

#include "PluginRunSupport.h"

using namespace plugintest;

namespace {

typedef CWnd_Main W;

// The Cutter's cut: the main window goes to Puzzle mode.
void CutNow(PluginRun& r) {
  r.Cut();
  ASSERT_EQ(r.Main()->IsLayoutMode(), 0);
}

// A 640 x 420 document: three columns and two rows, shown 1:1 and centred;
// the Cutter moved beside the main window, as a person would.
void WithWindow(PluginRun& r, std::function<void(W&)> step) {
  r.Document(klpModeRGB, 640, 420);
  r.ui.SetScreens({{0, 0, 3200, 1400}});
  r.Then([&r, step] {
    ASSERT_TRUE(r.Main());
    ASSERT_TRUE(r.CutterWindow());
    r.CutterWindow()->MoveWindow(static_cast<i16>(r.Main()->GetWindowRect().right + 20), 40);
    step(*r.Main());
    if (r.Main()->GetWindowHandle()) r.Main()->localClose();
  });
  r.Dialog();
}

// Window points of the layout: a knot, a point of a knife a share of the
// way along its grid segment, an image point.
kltPOS KnotAt(W& w, u32 id) {
  const CLayoutModel::KNOT& k = w.Editor().model.knots[id];
  return {w.GetPreviewRect().left + static_cast<i32>(k.x + 0.5), w.GetPreviewRect().top + static_cast<i32>(k.y + 0.5)};
}
kltPOS OnKnife(W& w, const CLayoutModel::KNIFESTRUCT& k, f64 t) {
  const kltFPOS* p = reinterpret_cast<const kltFPOS*>(k.polyline->GetPtr());
  const kltFPOS at = p[static_cast<u32>((k.polylineCount - 1) * t)];
  return {w.GetPreviewRect().left + static_cast<i32>(at.x + 0.5), w.GetPreviewRect().top + static_cast<i32>(at.y + 0.5)};
}
kltPOS ImageAt(W& w, i32 x, i32 y) {
  const kltPOS o = w.Preview().GetOffset();
  return {w.GetPreviewRect().left + x - o.x, w.GetPreviewRect().top + y - o.y};
}

u32 Selected(W& w) {
  u32 n = 0;
  for (u32 i = 0; i < w.Editor().model.TotalKnifeCount(); ++i) n += w.Editor().model.NthKnife(i)->selected;
  return n;
}
std::vector<u32> SelectedPieces(W& w) {
  std::vector<u32> out;
  for (u32 i = 0; i < w.GetEngine()->GetPieceCount(); ++i)
    if (w.GetEngine()->GetPiece(i)->selected) out.push_back(i);
  return out;
}

// The index of a command in the menu the window would show.
i32 IndexOf(const W::MENULIST& m, u16 command) {
  for (u32 i = 0; i < m.count; ++i)
    if (m.items[i].command == command) return static_cast<i32>(i);
  return -1;
}

}  // namespace

TEST(MainMouse, AKnotFollowsTheMouseStopsAtItsNeighboursAndIsUndone) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    CLayoutModel& m = w.Editor().model;
    const u32 knot = m.knotColumns + 1;  // column 1, row 1
    const kltPOS at = KnotAt(w, knot);
    r.DragIn(at.x, at.y, at.x + 50, at.y - 30);
    EXPECT_NEAR(m.knots[knot].x + w.GetPreviewRect().left, at.x + 50, 1.5);
    EXPECT_NEAR(m.knots[knot].y + w.GetPreviewRect().top, at.y - 30, 1.5);
    EXPECT_GT(m.knots[knot].dx, 0.0f);
    EXPECT_LT(m.knots[knot].dy, 0.0f);
    EXPECT_FALSE(w.IsKnotDragging());
    for (u32 i = 0; i < m.TotalKnifeCount(); ++i) EXPECT_EQ(m.NthKnife(i)->moving, 0);
    w.RunAccelerator(3);
    EXPECT_EQ(m.knots[knot].dx, 0.0f);
    EXPECT_EQ(m.knots[knot].dy, 0.0f);
    // Far past the next line and row: the knot stops on them.
    r.DragIn(at.x, at.y, at.x + 600, at.y + 400);
    EXPECT_EQ(m.knots[knot].dx, 1.0f);
    EXPECT_EQ(m.knots[knot].dy, 1.0f);
    // Command on the knot puts it back.
    const kltPOS moved = KnotAt(w, knot);
    r.MouseAt(klpMouseDown, moved.x, moved.y, klpCmdKey);
    r.MouseAt(klpMouseUp, moved.x, moved.y, klpCmdKey);
    EXPECT_EQ(m.knots[knot].dx, 0.0f);
  });
}

TEST(MainMouse, AKnotClickedWithoutMovingIsSelectedAndEscapeEndsADragUnchanged) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    CLayoutModel& m = w.Editor().model;
    const u32 knot = m.knotColumns + 1;
    const kltPOS at = KnotAt(w, knot);
    r.MouseAt(klpMouseDown, at.x, at.y);
    r.MouseAt(klpMouseUp, at.x, at.y);
    ASSERT_EQ(m.selectedKnotCount, 1);
    EXPECT_EQ(m.selectedKnots[0], knot);
    EXPECT_EQ(w.Editor().undo.IsEmpty(), 1);  // nothing moved: no undo point
    r.MouseAt(klpMouseDown, at.x, at.y);
    r.MouseAt(klpMouseDragged, at.x + 40, at.y + 20);
    ASSERT_TRUE(w.IsKnotDragging());
    r.Key(klpVKEscape, 27);
    EXPECT_FALSE(w.IsKnotDragging());
    r.MouseAt(klpMouseUp, at.x + 40, at.y + 20);
    EXPECT_EQ(m.knots[knot].dx, 0.0f);
    EXPECT_EQ(m.knots[knot].dy, 0.0f);
    EXPECT_EQ(m.selectedKnotCount, 1);
    EXPECT_EQ(w.Editor().undo.IsEmpty(), 1);
    // Escape with nothing dragged drops the chosen knot.
    r.Key(klpVKEscape, 27);
    EXPECT_EQ(m.selectedKnotCount, 0);
  });
}

TEST(MainMouse, AKnotDragRedrawsOnlyWhatMovedAndShowsWhatAFullRedrawShows) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    const CLayoutModel& m = w.Editor().model;
    const kltPOS at = KnotAt(w, m.knotColumns + 2);
    r.MouseAt(klpMouseDown, at.x, at.y);
    r.MouseAt(klpMouseDragged, at.x - 20, at.y + 15);
    r.MouseAt(klpMouseDragged, at.x - 25, at.y + 25);
    const kltRECT_s v = w.GetPreviewRect();
    const u64 area = w.GetLastKnotRenderArea();
    EXPECT_GT(area, 0u);
    EXPECT_LT(area, static_cast<u64>(v.right - v.left) * (v.bottom - v.top) / 3);
    std::vector<u8> partial, full;
    auto read = [&](std::vector<u8>& out) {
      out.clear();
      u8 rgb[3];
      for (i32 y = v.top; y < v.bottom; ++y)
        for (i32 x = v.left; x < v.right; ++x) {
          ASSERT_TRUE(r.ui.GetPixel(w.GetWindowHandle(), x, y, rgb));
          out.insert(out.end(), rgb, rgb + 3);
        }
    };
    read(partial);
    w.RenderRect(v);
    w.UpdateRect(v);
    read(full);
    EXPECT_TRUE(partial == full);
    r.MouseAt(klpMouseUp, at.x - 25, at.y + 25);
  });
}

TEST(MainMouse, ASplitLineFollowsItsHandleKeepsItsGapAndIsUndone) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    CLayoutModel& m = w.Editor().model;
    const CLayoutDrawing& d = w.Editor().drawing;
    const kltRECT_s v = w.GetPreviewRect();
    const f32 first = m.verticalLines[0], second = m.verticalLines[1];
    const i32 hx = v.left + d.markers[0][0].position;
    r.DragIn(hx, 84, v.left + 100, 84);
    EXPECT_NEAR(m.verticalLines[0] * 640 + w.Preview().GetOffset().x * -1.0, 100, 1.0);
    EXPECT_FALSE(w.IsLineDragging());
    w.RunAccelerator(3);
    EXPECT_EQ(m.verticalLines[0], first);
    // Past its neighbour it stops 3 image pixels short; to the far left at 0.
    r.DragIn(hx, 84, v.right - 2, 84);
    EXPECT_NEAR(m.verticalLines[0], second - 3.0f / 640, 1e-6);
    r.DragIn(v.left + d.markers[0][0].position, 84, v.left - 30, 84);
    EXPECT_EQ(m.verticalLines[0], 0.0f);
    // Escape puts a dragged line back.
    const f32 before = m.verticalLines[1];
    const i32 h2 = v.left + d.markers[0][1].position;
    r.MouseAt(klpMouseDown, h2, 84);
    r.MouseAt(klpMouseDragged, h2 + 30, 84);
    EXPECT_NE(m.verticalLines[1], before);
    r.Key(klpVKEscape, 27);
    r.MouseAt(klpMouseUp, h2 + 30, 84);
    EXPECT_EQ(m.verticalLines[1], before);
  });
}

TEST(MainMouse, RulersInsertSelectAndDeleteLines) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    CLayoutModel& m = w.Editor().model;
    const CLayoutDrawing& d = w.Editor().drawing;
    const kltRECT_s v = w.GetPreviewRect();
    const u16 lines = m.verticalLineCount;
    // Command-Shift on the top ruler's body inserts a column line there.
    r.MouseAt(klpMouseDown, v.left + 150, 88, klpCmdKey | klpShiftKey);
    r.MouseAt(klpMouseUp, v.left + 150, 88, klpCmdKey | klpShiftKey);
    ASSERT_EQ(m.verticalLineCount, lines + 1);
    EXPECT_NEAR(m.verticalLines[0] * 640 - w.Preview().GetOffset().x, 150, 1.0);
    // On a line's own pixel, or outside the image, nothing goes in.
    const Bytes none;
    const u32 alerts = static_cast<u32>(r.ui.Log().alerts.size());
    r.MouseAt(klpMouseDown, v.left + 150, 88, klpCmdKey | klpShiftKey);
    r.MouseAt(klpMouseUp, v.left + 150, 88, klpCmdKey | klpShiftKey);
    r.MouseAt(klpMouseDown, v.left + 2, 88, klpCmdKey | klpShiftKey);
    r.MouseAt(klpMouseUp, v.left + 2, 88, klpCmdKey | klpShiftKey);
    EXPECT_EQ(m.verticalLineCount, lines + 1);
    EXPECT_EQ(r.ui.Log().alerts.size(), alerts);
    w.RunAccelerator(3);
    EXPECT_EQ(m.verticalLineCount, lines);  // one undo takes the one insert back
    w.RunAccelerator(3);
    // Shift on a handle selects its line's knives; Option takes them off.
    const i32 hx = v.left + d.markers[0][0].position;
    r.MouseAt(klpMouseDown, hx, 84, klpShiftKey);
    r.MouseAt(klpMouseUp, hx, 84, klpShiftKey);
    EXPECT_EQ(Selected(w), m.horizontalLineCount + 1u);
    r.MouseAt(klpMouseDown, hx, 84, klpOptionKey);
    r.MouseAt(klpMouseUp, hx, 84, klpOptionKey);
    EXPECT_EQ(Selected(w), 0u);
    // Command-Option deletes the line.
    r.MouseAt(klpMouseDown, hx, 84, klpCmdKey | klpOptionKey);
    r.MouseAt(klpMouseUp, hx, 84, klpCmdKey | klpOptionKey);
    EXPECT_EQ(m.verticalLineCount, lines);
  });
}

TEST(MainMouse, KnivesAreClickedWithTheModifierKeys) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    CLayoutModel& m = w.Editor().model;
    // Vertical knife 0 (line 0, band 0) and vertical knife 3 (line 1, band 1).
    const kltPOS k0 = OnKnife(w, m.vKnives[0], 0.2), k3 = OnKnife(w, m.vKnives[3], 0.85);
    r.MouseAt(klpMouseDown, k0.x, k0.y);
    r.MouseAt(klpMouseUp, k0.x, k0.y);
    EXPECT_EQ(m.vKnives[0].selected, 1);
    EXPECT_EQ(Selected(w), 1u);
    // Shift: the block from the anchor to this knife.
    r.MouseAt(klpMouseDown, k3.x, k3.y, klpShiftKey);
    r.MouseAt(klpMouseUp, k3.x, k3.y, klpShiftKey);
    EXPECT_EQ(Selected(w), 5u);  // four vertical knives and the horizontal one between them
    EXPECT_EQ(m.hKnives[1].selected, 1);
    // Command toggles one; Command-Shift flips it.
    r.MouseAt(klpMouseDown, k0.x, k0.y, klpCmdKey);
    r.MouseAt(klpMouseUp, k0.x, k0.y, klpCmdKey);
    EXPECT_EQ(m.vKnives[0].selected, 0);
    r.MouseAt(klpMouseDown, k0.x, k0.y, klpCmdKey | klpShiftKey);
    r.MouseAt(klpMouseUp, k0.x, k0.y, klpCmdKey | klpShiftKey);
    EXPECT_EQ(m.vKnives[0].flipH, 1);
    w.RunAccelerator(3);
    EXPECT_EQ(m.vKnives[0].flipH, 0);
    // A plain click beside every knife deselects all.
    const kltPOS empty = ImageAt(w, 40, 40);
    r.MouseAt(klpMouseDown, empty.x, empty.y);
    r.MouseAt(klpMouseUp, empty.x, empty.y);
    EXPECT_EQ(Selected(w), 0u);
    // Command-F flips the considered knives (all of them now).
    r.Key(klpVKLetters['F' - 'A'], 'f', klpCmdKey);
    for (u32 i = 0; i < m.TotalKnifeCount(); ++i) EXPECT_EQ(m.NthKnife(i)->flipH, 1);
  });
}

TEST(MainMouse, AKnifeIsCopiedAndPastedFromItsMenu) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    CLayoutModel& m = w.Editor().model;
    m.vKnives[0].knobSize = 55;
    const kltPOS k0 = OnKnife(w, m.vKnives[0], 0.2), k3 = OnKnife(w, m.vKnives[3], 0.85);
    W::MENULIST menu;
    w.BuildPreviewMenu(k0, menu);
    ASSERT_GE(IndexOf(menu, 264), 0);
    EXPECT_EQ(menu.Find(264)->enabled, 1);
    EXPECT_EQ(menu.Find(265)->enabled, 0);
    EXPECT_EQ(menu.Find(266)->enabled, 0);  // not an extra knife
    r.ui.AnswerMenu(IndexOf(menu, 264));
    r.MouseAt(klpMouseDown, k0.x, k0.y, 0, 2);
    r.MouseAt(klpMouseUp, k0.x, k0.y, 0, 2);
    w.BuildPreviewMenu(k3, menu);
    r.ui.AnswerMenu(IndexOf(menu, 265));
    r.MouseAt(klpMouseDown, k3.x, k3.y, 0, 2);
    r.MouseAt(klpMouseUp, k3.x, k3.y, 0, 2);
    EXPECT_EQ(m.vKnives[3].knobSize, 55u);
    EXPECT_EQ(m.vKnives[2].knobSize, 100u);
    ASSERT_EQ(r.ui.Log().menus.size(), 2u);
    EXPECT_EQ(r.ui.Log().menus[1][static_cast<size_t>(IndexOf(menu, 265))].text, "Paste Knife");
  });
}

TEST(MainMouse, ContextMenusOfKnotsRulersAndEmptyPlaces) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    CLayoutModel& m = w.Editor().model;
    const kltRECT_s v = w.GetPreviewRect();
    W::MENULIST menu;
    // Knives crossing at a knot: their items, a separator, the knot's reset
    // (disabled on its grid crossing); two knives cannot be copied.
    const u32 knot = m.knotColumns + 1;
    w.BuildPreviewMenu(KnotAt(w, knot), menu);
    const i32 reset = IndexOf(menu, 263);
    ASSERT_GT(reset, 0);
    EXPECT_EQ(menu.items[reset - 1].command, 65535);
    EXPECT_EQ(menu.Find(263)->enabled, 0);
    EXPECT_EQ(menu.Find(264)->enabled, 0);
    EXPECT_EQ(w.Context().knot, knot);
    m.knots[knot].dx = 0.25f;
    w.BuildPreviewMenu(KnotAt(w, knot), menu);
    EXPECT_EQ(menu.Find(263)->enabled, 1);
    r.ui.AnswerMenu(reset);
    const kltPOS at = KnotAt(w, knot);
    r.MouseAt(klpMouseDown, at.x, at.y, 0, 2);
    EXPECT_EQ(m.knots[knot].dx, 0.0f);
    // An empty place: the general menu in the knives' words.
    const kltPOS empty = ImageAt(w, 40, 40);
    w.BuildPreviewMenu(empty, menu);
    ASSERT_TRUE(menu.Find(32));
    EXPECT_STREQ(menu.Find(32)->text, "Select All Knives");
    EXPECT_FALSE(menu.Find(256));
    // The top split ruler between handles: "Insert" while fewer than 99
    // lines exist.
    for (u16 columns : {99, 100}) {
      ASSERT_EQ(m.spl_SplitEvenParts(columns, 2, 1, 1), 1);
      w.RedrawRulers();
      const f64 step = 640.0 / columns;
      const i16 x = static_cast<i16>(v.left - w.Preview().GetOffset().x + step * 10.5);
      ASSERT_TRUE(w.BuildSplitRulerMenu(0, x, 88, menu));
      EXPECT_EQ(menu.Find(66)->enabled, columns == 99) << columns - 1 << " lines";
    }
    // Over the rulers: the units.
    r.MouseAt(klpMouseDown, v.left + 100, 70, 0, 2);
    ASSERT_FALSE(r.ui.Log().menus.empty());
    EXPECT_EQ(r.ui.Log().menus.back()[0].text, "Pixels");
  });
}

TEST(MainMouse, PiecesArePickedByClickRectangleAndLassoThenHiddenAndShown) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    CPuzzleModel& p = w.Puzzle();
    const i32 a = p.GetPieceByXY({100, 100}), b = p.GetPieceByXY({320, 40}), c = p.GetPieceByXY({540, 100});
    ASSERT_TRUE(a >= 0 && b >= 0 && c >= 0 && a != b && b != c);
    const kltPOS pa = ImageAt(w, 100, 100), pc = ImageAt(w, 540, 100);
    r.MouseAt(klpMouseDown, pa.x, pa.y);
    r.MouseAt(klpMouseUp, pa.x, pa.y);
    EXPECT_EQ(SelectedPieces(w), std::vector<u32>{static_cast<u32>(a)});
    // Shift: the block from the anchor, here the top row.
    r.MouseAt(klpMouseDown, pc.x, pc.y, klpShiftKey);
    r.MouseAt(klpMouseUp, pc.x, pc.y, klpShiftKey);
    EXPECT_EQ(SelectedPieces(w).size(), 3u);
    // A rectangle over two pieces of the top row selects exactly them.
    r.MouseAt(klpMouseDown, pa.x, pa.y);
    r.MouseAt(klpMouseUp, pa.x, pa.y);
    w.RunAccelerator(11);
    const kltPOS r0 = ImageAt(w, 20, 20), r1 = ImageAt(w, 300, 60);
    r.DragIn(r0.x, r0.y, r1.x, r1.y);
    EXPECT_EQ(SelectedPieces(w), (std::vector<u32>{static_cast<u32>(std::min(a, b)), static_cast<u32>(std::max(a, b))}));
    EXPECT_FALSE(w.IsDragSelecting());
    // With Option held the rectangle takes its pieces off.
    const kltPOS q0 = ImageAt(w, 250, 20), q1 = ImageAt(w, 300, 30);
    r.DragIn(q0.x, q0.y, q1.x, q1.y, klpOptionKey);
    EXPECT_EQ(SelectedPieces(w), std::vector<u32>{static_cast<u32>(a)});
    w.RunAccelerator(3);
    EXPECT_EQ(SelectedPieces(w).size(), 2u);
    // A lasso (Command-Shift) along the bottom row.
    w.RunAccelerator(11);
    const kltPOS l0 = ImageAt(w, 20, 330), l1 = ImageAt(w, 620, 330), l2 = ImageAt(w, 620, 400);
    r.MouseAt(klpMouseDown, l0.x, l0.y, klpCmdKey | klpShiftKey);
    r.MouseAt(klpMouseDragged, l1.x, l1.y, klpCmdKey | klpShiftKey);
    ASSERT_TRUE(w.IsDragSelecting());
    r.MouseAt(klpMouseDragged, l2.x, l2.y, klpCmdKey | klpShiftKey);
    EXPECT_EQ(w.GetLassoPoints().GetSize(), 3u);
    r.MouseAt(klpMouseUp, l2.x, l2.y, klpCmdKey | klpShiftKey);
    const std::vector<u32> bottom = SelectedPieces(w);
    ASSERT_EQ(bottom.size(), 3u);
    for (u32 i : bottom) EXPECT_GT(w.GetEngine()->GetPiece(i)->rect.bottom, 400);
    // Delete hides them, Backspace shows them, undo hides them again.
    r.Key(0x75, 0);
    for (u32 i : bottom) EXPECT_EQ(w.GetEngine()->GetPiece(i)->visible, 0);
    r.Key(0x33, 8);
    for (u32 i : bottom) EXPECT_EQ(w.GetEngine()->GetPiece(i)->visible, 1);
    w.RunAccelerator(3);
    for (u32 i : bottom) EXPECT_EQ(w.GetEngine()->GetPiece(i)->visible, 0);
  });
}

TEST(MainMouse, SmallMovesStartNoDragSelectionAndEscapeEndsOne) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    w.RunAccelerator(11);
    const kltPOS at = ImageAt(w, 100, 100);
    r.MouseAt(klpMouseDown, at.x, at.y);
    r.MouseAt(klpMouseDragged, at.x + 5, at.y - 5);
    EXPECT_FALSE(w.IsDragSelecting());
    u8 before[3], after[3], corner[3], cornerNow[3];
    const kltPOS far = ImageAt(w, 500, 350);
    ASSERT_TRUE(r.ui.GetPixel(w.GetWindowHandle(), far.x, far.y, before));
    ASSERT_TRUE(r.ui.GetPixel(w.GetWindowHandle(), at.x + 200, at.y + 40, corner));
    r.MouseAt(klpMouseDragged, at.x + 200, at.y + 40);
    ASSERT_TRUE(w.IsDragSelecting());
    // A full redraw of the preview under the drag keeps the outline alone.
    w.Preview().DoRedraw(1, 0);
    ASSERT_TRUE(r.ui.GetPixel(w.GetWindowHandle(), far.x, far.y, after));
    EXPECT_TRUE(std::equal(before, before + 3, after));
    // The frame's corner shows the picture there in two levels, inverted.
    ASSERT_TRUE(r.ui.GetPixel(w.GetWindowHandle(), at.x + 200, at.y + 40, cornerNow));
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(cornerNow[c], corner[c] < 128 ? 255 : 0, 2);
    w.RunAccelerator(11);
    r.Key(klpVKEscape, 27);
    EXPECT_FALSE(w.IsDragSelecting());
    r.MouseAt(klpMouseUp, at.x + 200, at.y + 40);
    EXPECT_TRUE(SelectedPieces(w).empty());
  });
}

TEST(MainMouse, CursorsTellWhatAPressWouldDo) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    const kltRECT_s v = w.GetPreviewRect();
    const i32 hx = v.left + w.Editor().drawing.markers[0][0].position;
    r.MouseAt(klpMouseMoved, hx, 84);
    EXPECT_EQ(r.ui.Log().cursor, 138);
    r.MouseAt(klpMouseMoved, hx, 84, klpCmdKey | klpOptionKey);
    EXPECT_EQ(r.ui.Log().cursor, 141);
    r.MouseAt(klpMouseMoved, hx + 40, 88, klpCmdKey | klpShiftKey);
    EXPECT_EQ(r.ui.Log().cursor, 140);
    // The zone's tip: the top split ruler holds the column lines.
    EXPECT_NE(std::string(w.GetStatusText().GetStr()).find("columns"), std::string::npos);
    r.MouseAt(klpMouseMoved, 28, v.top + w.Editor().drawing.markers[1][0].position);
    EXPECT_EQ(r.ui.Log().cursor, 139);
    const kltPOS inside = ImageAt(w, 100, 100);
    r.MouseAt(klpMouseMoved, inside.x, inside.y);
    EXPECT_EQ(r.ui.Log().cursor, 136);
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    w.Puzzle().pmop_ShowHidePiece(w.Puzzle().GetPieceByXY({100, 100}), 0, 1);
    r.MouseAt(klpMouseMoved, inside.x, inside.y);
    EXPECT_EQ(r.ui.Log().cursor, 137);
    r.MouseAt(klpMouseMoved, v.left + 5, v.top + 5);  // beside the image
    EXPECT_EQ(r.ui.Log().cursor, 135);
    r.ui.PostKey(klpKeyDown, klpVKSpace, ' ');
    r.MouseAt(klpMouseMoved, inside.x, inside.y);
    EXPECT_EQ(r.ui.Log().cursor, 131);  // the whole image shows: no scroll bar
    r.ui.PostKey(klpKeyUp, klpVKSpace, ' ');
    r.ui.Pump();
  });
}
