#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>

#include "CTessaretteRecordCodec.h"
#include "PuzzleTestUtil.h"

using puzzletest::Puzzle;
using puzzletest::Records;
typedef CTessarette::SFX_ONEPIECE Record;
typedef CPuzzleModel M;

namespace {

void SetList(CKLF_DWordArray& list, u32 n) {
  list.Empty();
  for (u32 i = 0; i < n; ++i) list.Add(i);
}

}  // namespace

// Which stored byte, changed in the working record, makes a piece render:
// with every effect on, the compared fields; with every effect off, the on
// bytes alone. Hue/saturation counts on RGB documents only.
TEST(PuzzleEffects, NeedsRenderTable) {
  std::set<int> fields = {85, 86, 87, 56, 57, 58, 60, 61, 62, 63, 46, 47, 49, 50, 51, 44, 45, 0,  1,  2,  82, 83,
                          84, 64, 65, 66, 68, 69, 70, 4,  20, 22, 23, 24, 29, 31, 32, 33, 38, 40, 41, 42};
  for (int b = 8; b < 20; ++b) fields.insert(b);
  const std::set<int> hsl = {76, 78, 79, 80, 81}, ons = {0, 4, 44, 46, 56, 64, 82, 85, 87};
  for (u8 kind : {1, 0}) {
    Puzzle p(2, 1, {1, 0}, 16, 16, kind);
    for (u8 on : {1, 0}) {
      Record base;
      p.engine.GetDefaultRecord(base);
      base.bc.enabled = base.bevel.enabled = base.blur.enabled = base.colorOverlay.enabled = on;
      base.imageOverlay.enabled = base.stroke.enabled = base.hsl.enabled = base.mblur.enabled = on;
      base.opacity.enabled = base.invert = on;
      u8 bytes[92] = {};
      CTessaretteRecordCodec::Encode(base, bytes);
      for (int b = 0; b < 88; ++b) {
        p.engine.RecordToPiece(base, 0, 0, 0);
        p.engine.RenderPiece(0);
        u8 changed[92];
        std::memcpy(changed, bytes, 92);
        changed[b] ^= 1;
        Record r;
        CTessaretteRecordCodec::Decode(changed, 92, r);
        p.engine.RecordToPiece(r, 0, 0, 0);
        const bool want = (on ? fields.count(b) : ons.count(b)) || (kind == 1 && (on ? hsl.count(b) : b == 76));
        EXPECT_EQ(p.model.i_pmop_CheckPieceFXUpdates(0), want ? 1 : 0) << "byte " << b << " on " << int(on);
      }
    }
  }
}

// Toggling, explicit switching, copy, paste and reset: only the pieces that
// change are rendered, and the result always shows every piece as it is.
TEST(PuzzleEffects, SwitchCopyPasteReset) {
  Puzzle p(3, 2);
  puzzletest::Model& m = p.model;
  m.pmop_PasteAdjustments(M::kSelection);  // nothing copied yet
  m.pmop_CopyAdjustments(M::kSelection);   // nothing selected
  EXPECT_EQ(m.clipboardEmpty, 1);
  m.contextPiece = 1;
  m.pmfx_SwitchFX(M::kBlur, 1, 1);
  m.contextPiece = M::kSelection;
  m.pmop_Sel_SetSelectionToPiece(0, 1, 0, 0);
  m.pmop_Sel_SetSelectionToPiece(1, 1, 0, 0);
  struct Step {
    u8 effect, explicitValue, value;
    int renders;
    u8 blurOn;  // on pieces 0 and 1 afterwards
  } steps[] = {{M::kBlur, 0, 0, 1, 0}, {M::kBlur, 0, 0, 2, 1}, {M::kBlur, 1, 1, 0, 1}, {M::kInvert, 0, 0, 2, 1}};
  for (const Step& s : steps) {
    m.menuEffectMask = M::kMaskUnknown;
    p.model.renders = 0;
    m.pmfx_SwitchFX(s.effect, s.explicitValue, s.value);
    EXPECT_EQ(p.model.renders, s.renders);
    EXPECT_EQ(p.Piece(0).blur[0].enabled + p.Piece(1).blur[0].enabled, 2 * s.blurOn);
    EXPECT_EQ(p.port.checks["Main_FXBlur"], s.blurOn);
  }
  ASSERT_TRUE(p.Consistent());
  // Piece 0 (blur, invert) onto piece 2 (stroke): all ten effects replaced.
  m.contextPiece = 2;
  m.pmfx_SwitchFX(M::kStroke, 1, 1);
  m.pmop_CopyAdjustments(M::kSelection);
  m.pmop_PasteAdjustments(2);
  EXPECT_EQ(p.Piece(2).stroke[0].enabled, 0);
  EXPECT_EQ(p.Piece(2).blur[0].enabled + p.Piece(2).invert[0], 2);
  // Reset with nothing selected: every piece, the hidden one shown and
  // rendered although its effects were the defaults.
  m.pmop_Sel_DeselectAllPieces(0);
  m.pmop_ShowHidePiece(5, 0, 0);
  p.model.renders = 0;
  m.pmop_ResetAdjustments();
  EXPECT_EQ(p.model.renders, 4);  // pieces 0, 1, 2 and the hidden 5
  EXPECT_EQ(p.Piece(5).visible, 1);
  EXPECT_EQ(m.i_pmfx_GetFXOnSelection(M::kSelection), M::kBitShown | 1u << M::kBevel);
  EXPECT_TRUE(p.Consistent());
}

// A request during a re-render (events are pumped before each piece and by
// the progress while recombining) restarts it; a piece rendered before the
// restart is recombined too. A piece that fails to render stops the loop,
// and what was rendered is recombined all the same.
TEST(PuzzleEffects, RerenderRestartsAndRecombinesWhatWasRendered) {
  for (int trigger : {2, 3, 0}) {
    Puzzle p(3, 2);
    puzzletest::Model& m = p.model;
    CKLF_DWordArray list;
    SetList(list, 2);
    m.effectWindowOpen = 1;
    int pumps = 0;
    p.port.pump = [&] {
      if (++pumps != trigger) return;
      p.Piece(1).bevel[1].depth = 9;
      EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 1), 1);
      EXPECT_EQ(m.IsRerenderBusy(), 1);
    };
    p.Piece(0).bevel[1].size = p.Piece(1).bevel[1].size = 4;
    m.failAt = trigger == 0 ? 2 : 0;
    EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 1), trigger == 0 ? 0 : 1);
    EXPECT_EQ(m.renders, trigger == 3 ? 3 : 2) << trigger;
    EXPECT_EQ(m.IsRerenderBusy(), 0);
    EXPECT_TRUE(p.ResultMatches()) << trigger;
    m.failAt = 0;
    EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 1), 1);
    EXPECT_TRUE(p.Consistent());
  }
}

// Undo swaps the pieces' effects, visibility and selection back, and a
// second undo redoes; an action that changes nothing keeps the undo; a new
// cut empties it; an undo that fails half way cannot be repeated.
TEST(PuzzleUndo, UndoRedo) {
  Puzzle p(3, 2);
  puzzletest::Model& m = p.model;
  EXPECT_EQ(m.IsUndoEmpty(), 1);
  const std::vector<u8> before = Records(p.engine);
  m.unpm_PreSave();
  m.pmfx_SwitchFX(M::kBevel, 1, 0);
  m.pmop_ShowHidePiece(2, 0, 0);
  m.pmop_Sel_SetSelectionToPiece(1, 1, 0, 0);
  m.unpm_SaveState(1);
  const std::vector<u8> after = Records(p.engine);
  m.unpm_PreSave();
  m.unpm_SaveState(1);
  for (const std::vector<u8>* want : {&before, &after, &before}) {
    EXPECT_EQ(m.unpm_Restore(), 1);
    EXPECT_EQ(Records(p.engine), *want);
    EXPECT_TRUE(p.Consistent());
    EXPECT_TRUE(p.MapMatches());
  }
  m.failAt = m.renders + 2;
  EXPECT_EQ(m.unpm_Restore(), 0);
  EXPECT_EQ(m.IsUndoEmpty(), 1);
  EXPECT_TRUE(p.ResultMatches());
  const int renders = m.renders;
  EXPECT_EQ(m.unpm_Restore(), 1);
  EXPECT_EQ(m.renders, renders);
  m.unpm_PreSave();
  m.pmfx_SwitchFX(M::kBlur, 1, 1);
  m.unpm_SaveState(0);
  p.model.OnCutterClose(&p.cutter);
  EXPECT_EQ(m.IsUndoEmpty(), 1);
}

// Clicks with and without modifiers, starting from the cells 0 and 1 (top
// row, left to right) selected; anchors and selections by cell.
TEST(PuzzleSelection, ClickWithModifiers) {
  struct Case {
    u8 mods;
    i32 cell, anchor;
    std::vector<u8> selected;
    i32 anchorAfter;
  } cases[] = {
      {0, 2, 0, {0, 0, 1, 0, 0, 0}, 2},                             // it alone
      {0, -1, 0, {0, 0, 0, 0, 0, 0}, -1},                           // nothing under the mouse
      {M::kModCommand, 1, 0, {1, 0, 0, 0, 0, 0}, 0},                // toggled off
      {M::kModCommand, 4, 0, {1, 1, 0, 0, 1, 0}, 4},                // toggled on
      {M::kModOption, 4, 0, {1, 1, 0, 0, 0, 0}, 0},                 // a drag may follow
      {M::kModShift, 4, -1, {1, 1, 0, 0, 1, 0}, 4},                 // no anchor: added
      {M::kModShift, 5, 0, {1, 1, 1, 1, 1, 1}, 5},                  // block from the anchor
      {M::kModShift | M::kModOption, 3, 0, {0, 1, 0, 0, 0, 0}, 3},  // block removed
      {M::kModShift | M::kModCommand, 4, 0, {1, 1, 0, 0, 0, 0}, 0},
  };
  Puzzle p(3, 2);
  i32 piece[6];  // the piece at each cell's centre
  for (i32 k = 0; k < 6; ++k) piece[k] = p.model.GetPieceByXY({k % 3 * 16 + 8, k / 3 * 16 + 8});
  auto pieceOf = [&](i32 cell) { return cell < 0 ? -1 : piece[cell]; };
  for (const auto& c : cases) {
    p.model.pmop_Sel_DeselectAllPieces(0);
    p.model.pmop_Sel_SetSelectionToPiece(piece[0], 1, 0, 0);
    p.model.pmop_Sel_SetSelectionToPiece(piece[1], 1, 0, 0);
    p.model.pieceAnchor = pieceOf(c.anchor);
    p.model.OnPieceClick(p.PointIn(pieceOf(c.cell)), c.mods);
    for (i32 k = 0; k < 6; ++k) EXPECT_EQ(p.Piece(piece[k]).selected, c.selected[k]) << int(c.mods) << " " << k;
    EXPECT_EQ(p.model.pieceAnchor, pieceOf(c.anchorAfter));
    EXPECT_TRUE(p.MapMatches());
  }
  EXPECT_EQ(p.model.IsUndoEmpty(), 0);
}

// Block, rectangle and polygon selection against the pixels themselves.
TEST(PuzzleSelection, BlockRectangleAndPolygonAgainstPixels) {
  Puzzle p(4, 3, {1, 0}, 64, 48);
  const u32 n = p.engine.GetPieceCount();
  auto inside = [&](u32 i, auto in) {
    u32 count = 0;
    const auto& c = p.Piece(i);
    for (i32 y = c.rect.top; y < c.rect.bottom; ++y)
      for (i32 x = c.rect.left; x < c.rect.right; ++x)
        count += p.model.GetPieceByXY({x, y}) == static_cast<i32>(i) && in(x, y);
    return count;
  };
  std::mt19937 rng(3);
  for (int round = 0; round < 30; ++round) {
    p.model.pmop_Sel_DeselectAllPieces(0);
    std::vector<u8> want(n);
    const int kind = round % 3;
    if (kind == 0) {
      const i32 a = rng() % n, b = rng() % n;
      const kltRECT_s ra = p.model.i_pmop_GetPieceRealRect(a), rb = p.model.i_pmop_GetPieceRealRect(b);
      const kltRECT_s box = {std::min(ra.left, rb.left), std::min(ra.top, rb.top), std::max(ra.right, rb.right),
                             std::max(ra.bottom, rb.bottom)};
      for (u32 i = 0; i < n; ++i)
        want[i] = 2 * inside(i, [&](i32 x, i32 y) {
                    return x >= box.left && x < box.right && y >= box.top && y < box.bottom;
                  }) > p.Piece(i).pixelCount;
      p.model.pmop_Sel_PieceBlockSelection(1, 0, a, b, 0);
    } else if (kind == 1) {
      const kltRECT_s r = {i32(rng() % 80) - 8, i32(rng() % 60) - 8, i32(rng() % 80) - 8, i32(rng() % 60) - 8};
      for (u32 i = 0; i < n; ++i)
        want[i] = inside(i, [&](i32 x, i32 y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }) > 0;
      p.model.pmop_Sel_SelectRect(r, 1, 0, 0);
    } else {
      const u32 count = 3 + rng() % 6;
      std::vector<i32> xs(count), ys(count);
      for (u32 k = 0; k < count; ++k) {
        xs[k] = i32(rng() % 90) - 12;
        ys[k] = i32(rng() % 70) - 12;
      }
      for (u32 i = 0; i < n; ++i)
        want[i] = inside(i, [&](i32 x, i32 y) { return M::i_pmop_PtInRgn(x, y, xs.data(), ys.data(), count); }) > 0;
      p.model.pmop_Sel_SelectFreeRgn(xs.data(), ys.data(), count, 1, 0, 0);
    }
    EXPECT_EQ(p.Selected(), want) << round;
    EXPECT_TRUE(p.MapMatches());
  }
  // A lasso around a whole piece rectangle, and one around no pixel.
  const kltRECT_s r = p.Piece(5).rect;
  const i32 xs[] = {r.left - 1, r.right, r.right, r.left - 1}, ys[] = {r.top - 1, r.top - 1, r.bottom, r.bottom};
  p.model.pmop_Sel_DeselectAllPieces(0);
  p.model.pmop_Sel_SelectFreeRgn(xs, ys, 4, 1, 0, 0);
  EXPECT_EQ(p.Piece(5).selected, 1);
  const i32 fx[] = {-9, -3, -9}, fy[] = {-9, -9, -3};
  p.model.pmop_Sel_SelectFreeRgn(fx, fy, 3, 0, 1, 0);
  EXPECT_EQ(p.Piece(5).selected, 1);
}

// Random picks, channel maps, inverting and the hidden-or-shown selection;
// visibility recombines the union of what changed.
TEST(PuzzleSelection, RandomMapsAndVisibility) {
  struct Grid {
    u32 columns, rows;
    i32 w, h;
    u32 picks;
  } grids[] = {{19, 1, 380, 20, 1}, {10, 10, 200, 200, 5}};
  for (const Grid& g : grids) {
    Puzzle p(g.columns, g.rows, {1, 0}, g.w, g.h);
    const u32 n = p.engine.GetPieceCount();
    ASSERT_EQ(n, g.columns * g.rows);
    auto count = [&] {
      const std::vector<u8> s = p.Selected();
      return static_cast<u32>(std::count(s.begin(), s.end(), 1));
    };
    std::srand(5);
    p.model.pmop_Sel_RandomSelection(1, 1);
    EXPECT_EQ(count(), g.picks);
    p.model.pmop_Sel_InvertPiecesSelection(0);
    p.model.pmop_Sel_RandomSelection(0, 0);
    EXPECT_EQ(count(), n - 2 * g.picks);
    EXPECT_TRUE(p.MapMatches());
    p.model.pmop_Sel_SelectAllPieces(0);
    p.model.pmop_Sel_SetSelectionToPiece(3, 0, 1, 0);
    p.model.pmop_Sel_RandomSelection(1, 0);  // one candidate left: taken
    EXPECT_EQ(count(), n);
  }
  // Cells 0, 1, 3, 4 reach into the left half (below 128), cells 1, 2, 4,
  // 5 into the right (inverted below 128).
  Puzzle p(3, 2);
  i32 piece[6];
  for (i32 k = 0; k < 6; ++k) piece[k] = p.model.GetPieceByXY({k % 3 * 16 + 8, k / 3 * 16 + 8});
  std::vector<u8> map(48 * 32, 255);
  for (i32 y = 0; y < 32; ++y)
    for (i32 x = 0; x < 24; ++x) map[y * 48 + x] = 0;
  const std::vector<u8> want[2][4] = {
      {{1, 1, 0, 1, 1, 0}, {1, 1, 0, 1, 1, 0}, {0, 0, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0}},
      {{0, 1, 1, 0, 1, 1}, {1, 1, 1, 0, 1, 1}, {1, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}}};
  for (u8 invert : {0, 1})
    for (u8 mode = 0; mode < 4; ++mode) {
      p.model.pmop_Sel_DeselectAllPieces(0);
      p.model.pmop_Sel_SetSelectionToPiece(piece[0], 1, 0, 0);
      p.model.pmop_Sel_SetSelectionToPiece(piece[1], 1, 0, 0);
      p.model.pmop_LoadSelection(mode, invert, map.data(), 1);
      for (i32 k = 0; k < 6; ++k) EXPECT_EQ(p.Piece(piece[k]).selected, want[invert][mode][k]) << int(mode) << int(invert);
      EXPECT_TRUE(p.MapMatches());
    }
  // Hide with nothing selected hides every piece; then show the selected
  // one and reverse piece 2: each recombines what changed.
  p.model.pmop_Sel_DeselectAllPieces(0);
  p.model.pmop_ShowHideSelectedPieces(0, 1);
  EXPECT_EQ(p.model.i_pmfx_GetFXOnSelection(M::kSelection) & (M::kBitHidden | M::kBitShown), M::kBitHidden);
  EXPECT_EQ(p.port.controls["Main_Show/5"].enabled, 1);
  EXPECT_EQ(p.port.controls["Main_Hide/5"].enabled, 0);
  EXPECT_TRUE(p.Consistent());
  p.model.pmop_Sel_SetSelectionToPiece(1, 1, 0, 0);
  p.model.pmop_ShowHideSelectedPieces(1, 1);
  p.model.pmop_ShowHidePiece(2, 1, 1);
  p.model.pmop_Sel_AllHidenOrShown(1, 0);
  EXPECT_EQ(p.Selected(), std::vector<u8>({1, 0, 0, 1, 1, 1}));
  p.model.pmop_ReverseShownHidden(0);
  EXPECT_EQ(p.model.i_pmfx_GetFXOnSelection(M::kSelection) & M::kBitHidden, 0);
  EXPECT_TRUE(p.Consistent());
  p.model.pmop_Sel_InvertPiecesSelection(0);
  p.model.pmop_Sel_InvertPiecesSelection(0);
  p.model.pmop_Sel_SelectAllPieces(0);
  EXPECT_EQ(p.model.selectionMap[0], 0);  // transparent
  EXPECT_TRUE(p.MapMatches());
}

// Leaving Layout mode: after a cut with a new piece count the user is asked
// whether to reset the effects; without a cut the pieces and the selection
// stay; without pieces the window closes. Effect windows lock the mode.
TEST(PuzzleMode, CutterCloseAndEffectWindows) {
  Puzzle p(3, 2);
  puzzletest::Model& m = p.model;
  m.contextPiece = 3;
  m.pmfx_SwitchFX(M::kBlur, 1, 1);
  m.pmop_Sel_SetSelectionToPiece(3, 1, 0, 0);
  p.cutter.cutCountDiffers = 1;
  for (i32 answer : {0, 1}) {
    p.port.answer = answer;
    m.OnCutterClose(&p.cutter);
    EXPECT_EQ(p.Piece(3).blur[0].enabled, answer ? 0 : 1);
    EXPECT_EQ(m.IsUndoEmpty(), answer ? 0 : 1);
  }
  EXPECT_EQ(p.port.questions, 2);
  m.pmop_Sel_DeselectAllPieces(0);
  m.pmop_Sel_SetSelectionToPiece(4, 1, 0, 0);
  p.cutter.cutMade = 0;
  m.OnCutterClose(&p.cutter);
  EXPECT_EQ(p.Piece(4).selected, 1);
  EXPECT_TRUE(p.MapMatches());
  EXPECT_EQ(p.port.closed, 0);

  struct Window : CEffectWindowServices {
    u8 create = 1;
    int* alive;
    explicit Window(int* a) : alive(a) { ++*alive; }
    ~Window() override { --*alive; }
    u8 CreateEffectWindow(const char*, kltSIZE_s) override { return create; }
    void ShowEffectWindow() override {}
  };
  int alive = 0;
  u8 create = 0;
  p.port.newWindow = [&](u8) {
    Window* w = new Window(&alive);
    w->create = create;
    return w;
  };
  EXPECT_EQ(m.pmfx_DoBevel(), 0);  // not created: no effect mode
  EXPECT_EQ(alive + m.effectWindowOpen, 0);
  create = 1;
  ASSERT_EQ(m.pmfx_DoBevel(), 1);
  EXPECT_EQ(m.effectWindowOpen, 1);
  EXPECT_EQ(p.port.controls["Main_Apply/5"].enabled + p.port.controls["Main_FXBevel/7"].enabled, 0);
  // The window edits the selected piece and closes by Cancel.
  p.Piece(4).bevel[1].size = 7;
  CKLF_DWordArray list;
  list.Add(4);
  m.effectWindow->mainWindow->pmop_RerenderPieces(&list, 1, 1);
  m.effectWindow->mainWindow->ExitFXMode();
  EXPECT_EQ(m.effectWindowOpen, 0);
  EXPECT_EQ(p.port.controls["Main_FXBevel/7"].enabled, 1);
  EXPECT_EQ(alive, 1);
  m.unpm_Restore();
  EXPECT_EQ(p.Piece(4).bevel[0].size, 2);
  m.pmfx_SwitchFX(M::kStroke, 1, 1);  // a switch discards the closed window
  EXPECT_EQ(alive, 0);

  Puzzle gray(2, 1, {1, 0}, 16, 16, 0);
  gray.port.newWindow = p.port.newWindow;
  EXPECT_EQ(gray.model.pmfx_DoHSL(), 0);
  EXPECT_EQ(alive, 0);
  Puzzle none(1, 1);
  none.engine.FreeSpliting();
  none.cutter.cutMade = 0;
  none.model.OnCutterClose(&none.cutter);
  EXPECT_EQ(none.port.closed, 1);
}
