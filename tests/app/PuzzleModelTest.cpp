#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>

#include "PuzzleTestUtil.h"

using puzzletest::Bytes;
using puzzletest::Puzzle;
typedef CPuzzleModel M;

// Which stored byte, changed in the working record, makes a piece render:
// with every effect on, the compared fields; with every effect off, the on
// bytes alone. Hue/saturation counts on RGB documents only.
TEST(PuzzleEffects, NeedsRenderTable) {
  std::set<int> fields = {85, 86, 87, 56, 57, 58, 60, 61, 62, 63, 46, 47, 49, 50, 51, 44, 45, 0,  1,  2,  82, 83,
                          84, 64, 65, 66, 68, 69, 70, 4,  20, 22, 23, 24, 29, 31, 32, 33, 38, 40, 41, 42};
  for (int b = 8; b < 20; ++b) fields.insert(b);
  const std::set<int> hsl = {76, 78, 79, 80, 81}, ons = {0, 4, 44, 46, 56, 64, 82, 85, 87};
  for (u8 kind : {1, 0}) {
    Puzzle p(2, 1, 16, 16, kind);
    for (u8 on : {1, 0}) {
      CTessarette::SFX_ONEPIECE base, r;
      p.engine.GetDefaultRecord(base);
      base.bc.enabled = base.bevel.enabled = base.blur.enabled = base.colorOverlay.enabled = on;
      base.imageOverlay.enabled = base.stroke.enabled = base.hsl.enabled = base.mblur.enabled = on;
      base.opacity.enabled = base.invert = on;
      for (int b = 0; b < 88; ++b) {
        p.engine.RecordToPiece(base, 0, 0, 0);
        ASSERT_TRUE(p.engine.RenderPiece(0));
        u8 bytes[92] = {};
        CTessaretteRecordCodec::Encode(base, bytes);
        bytes[b] ^= 1;
        ASSERT_TRUE(CTessaretteRecordCodec::Decode(bytes, 92, r));
        p.engine.RecordToPiece(r, 0, 0, 0);
        const bool want = (on ? fields.count(b) : ons.count(b)) || (kind == 1 && (on ? hsl.count(b) : b == 76));
        EXPECT_EQ(p.model.i_pmop_CheckPieceFXUpdates(0), want ? 1 : 0) << "byte " << b << " on " << int(on);
      }
    }
  }
}

// Toggling, explicit switching, copy, paste and reset render only the
// pieces that change, and the result shows every piece as it is.
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
  // Toggle off (piece 1 has it), on, on again explicitly, toggle invert.
  const u8 steps[][5] = {{M::kBlur, 0, 0, 1, 0}, {M::kBlur, 0, 0, 2, 1}, {M::kBlur, 1, 1, 0, 1}, {M::kInvert, 0, 0, 2, 1}};
  for (const u8* s : steps) {
    m.menuEffectMask = M::kMaskUnknown;
    m.renders = 0;
    m.pmfx_SwitchFX(s[0], s[1], s[2]);
    EXPECT_EQ(m.renders, s[3]);
    EXPECT_EQ(p.Piece(0).blur[0].enabled + p.Piece(1).blur[0].enabled, 2 * s[4]);
    EXPECT_EQ(p.port.checks["Main_FXBlur"], s[4]);
  }
  // Piece 0 (blur, invert) onto piece 2 (stroke): all ten effects replaced.
  m.contextPiece = 2;
  m.pmfx_SwitchFX(M::kStroke, 1, 1);
  m.pmop_CopyAdjustments(M::kSelection);
  m.pmop_PasteAdjustments(2);
  EXPECT_EQ(p.Piece(2).stroke[0].enabled * 10 + p.Piece(2).blur[0].enabled + p.Piece(2).invert[0], 2);
  // Reset with nothing selected: the hidden piece is shown and rendered
  // although its effects were the defaults.
  m.pmop_Sel_DeselectAllPieces(0);
  m.pmop_ShowHidePiece(5, 0, 0);
  m.renders = 0;
  m.pmop_ResetAdjustments();
  EXPECT_EQ(m.renders, 4);  // pieces 0, 1, 2 and 5
  EXPECT_EQ(m.i_pmfx_GetFXOnSelection(M::kSelection), M::kBitShown | 1u << M::kBevel);
  EXPECT_TRUE(p.Consistent());
}

// A request during a re-render (events are pumped before each batch of
// pieces, one piece a batch on one thread, and by the progress while
// recombining) restarts it, and a piece rendered before the restart is
// recombined too. A piece that fails to render stops the loop; what was
// rendered is recombined all the same.
TEST(PuzzleEffects, RerenderRestartsAndRecombinesWhatWasRendered) {
  for (int trigger : {2, 3, 0}) {
    Puzzle p(3, 2);
    p.engine.SetThreads(1);
    puzzletest::Model& m = p.model;
    CKLF_DWordArray list;
    ASSERT_GE(list.Add(0), 0);
    ASSERT_GE(list.Add(1), 0);
    m.effectWindowOpen = 1;
    int pumps = 0;
    p.port.pump = [&] {
      if (++pumps != trigger) return;
      p.Piece(1).bevel[1].depth = 9;
      EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 1) + m.IsRerenderBusy(), 2);
    };
    p.Piece(0).bevel[1].size = p.Piece(1).bevel[1].size = 4;
    m.failAt = trigger == 0 ? 2 : 0;
    EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 1), trigger == 0 ? 0 : 1);
    EXPECT_EQ(m.renders, trigger == 3 ? 3 : 2) << trigger;
    EXPECT_TRUE(p.ResultMatches()) << trigger;
    m.failAt = 0;
    EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 1) - m.IsRerenderBusy(), 1);
    EXPECT_TRUE(p.Consistent());
  }
}

// A re-render that fails for memory tells the user; before the result is
// applied what it left is rendered, or, failing again, told again and the
// apply refused.
TEST(PuzzleEffects, ApplyCompletesWhatAFailedRerenderLeft) {
  for (const bool failsAgain : {false, true}) {
    Puzzle p(3, 2);
    p.engine.SetThreads(1);
    puzzletest::Model& m = p.model;
    CKLF_DWordArray list;
    for (u32 i = 0; i < 3; ++i) ASSERT_GE(list.Add(i), 0);
    for (u32 i = 0; i < 3; ++i) p.Piece(i).bevel[1].size = 4;
    m.failAt = m.renders + 2;
    EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 1), 0);
    EXPECT_EQ(p.port.alerts, std::vector<std::string>({"Memory allocation problem..."}));
    EXPECT_FALSE(p.Consistent());
    m.failAt = failsAgain ? m.renders + 1 : 0;
    EXPECT_EQ(m.pmop_CompleteResult(), failsAgain ? 0 : 1);
    EXPECT_EQ(p.port.alerts.size(), failsAgain ? 2u : 1u);
    EXPECT_EQ(p.Consistent(), !failsAgain);
  }
}

// A stopped re-render ends before its next piece and recombines nothing,
// or, stopped while recombining, ends the recombination; the next one
// recombines what it rendered, also a piece rendered back to what the
// picture showed before the last finished render. Asked while nothing
// renders, a stop does nothing.
TEST(PuzzleEffects, StoppedRerenderLeavesItsAreaToTheNext) {
  Puzzle p(3, 2);
  p.engine.SetThreads(1);
  puzzletest::Model& m = p.model;
  CKLF_DWordArray list;
  for (u32 i = 0; i < p.engine.GetPieceCount(); ++i) ASSERT_GE(list.Add(i), 0);
  m.effectWindowOpen = 1;
  m.StopRerender();
  const u16 size = p.Piece(0).bevel[1].size;
  p.Piece(0).bevel[1].size = 4;
  ASSERT_EQ(m.pmop_RerenderPieces(&list, 1, 1), 1);
  ASSERT_EQ(m.renders, 1);
  ASSERT_TRUE(p.Consistent());
  // Piece 0 back as it was, piece 1 changed; stopped after piece 0.
  p.Piece(0).bevel[1].size = size;
  p.Piece(1).bevel[1].size = 4;
  int pumps = 0;
  p.port.pump = [&] {
    if (++pumps == 2) m.StopRerender();
  };
  m.renders = 0;
  EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 1), 1);
  EXPECT_EQ(m.renders, 1);
  EXPECT_EQ(m.IsRerenderBusy(), 0);
  EXPECT_FALSE(p.ResultMatches());  // piece 0 shows its size 4 yet
  p.port.pump = nullptr;
  p.Piece(1).bevel[1].size = p.Piece(1).bevel[0].size;  // as Cancel puts it back
  m.renders = 0;
  EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 0), 1);
  EXPECT_EQ(m.renders, 0);
  EXPECT_TRUE(p.Consistent());
  // Stopped while the rendered pieces are recombined: the recombination
  // ends there (no more of its pumps, the picture not yet right).
  for (u32 i = 0; i < list.GetSize(); ++i) p.Piece(i).bevel[1].size = 5;
  int asked = 0, after = 0;
  p.port.pump = [&] {
    if (asked) ++after;
    if (asked || m.renders < static_cast<int>(list.GetSize())) return;
    asked = 1;
    m.StopRerender();
  };
  EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 1), 1);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(after, 0);
  EXPECT_FALSE(p.ResultMatches());
  p.port.pump = nullptr;
  m.renders = 0;
  EXPECT_EQ(m.pmop_RerenderPieces(&list, 1, 1), 1);
  EXPECT_EQ(m.renders, 0);
  EXPECT_TRUE(p.Consistent());
}

// On several threads the pieces are rendered in batches of one piece a
// thread, with events pumped between batches, and the result is the one
// thread's, byte for byte.
TEST(PuzzleEffects, RerenderBatchesMatchOneThread) {
  Bytes results[2];
  for (u32 threads : {1u, 3u}) {
    Puzzle p(4, 3);
    p.engine.SetThreads(threads);
    CKLF_DWordArray list;
    for (u32 i = 0; i < p.engine.GetPieceCount(); ++i) {
      ASSERT_GE(list.Add(i), 0);
      p.Piece(i).blur[1] = {1, static_cast<u8>(i % 4)};
      p.Piece(i).bevel[1].depth = static_cast<u16>(100 + 10 * i);
    }
    p.model.effectWindowOpen = 1;
    // The pieces rendered when events are pumped (the recombination's
    // progress pumps too, once every piece is rendered).
    std::vector<int> seen, want;
    p.port.pump = [&] {
      if (p.model.renders < static_cast<int>(list.GetSize())) seen.push_back(p.model.renders);
    };
    for (u32 k = 0; k < list.GetSize(); k += threads) want.push_back(static_cast<int>(k));
    EXPECT_EQ(p.model.pmop_RerenderPieces(&list, 1, 1), 1);
    EXPECT_EQ(seen, want);
    EXPECT_EQ(p.model.renders, static_cast<int>(list.GetSize()));
    EXPECT_TRUE(p.Consistent());
    const CKLF_Mem* img = p.model.resultImage.GetMemObj();
    results[threads > 1].assign(img->GetPtr(), img->GetPtr() + img->GetSize());
  }
  EXPECT_EQ(results[0], results[1]);
}

// Where no shown piece lies the result image shows the document's colours,
// as the replay composes over the document, whatever the image held
// before: a new image's bytes, or the render of a piece since hidden.
TEST(PuzzleEffects, UncoveredPixelsShowTheDocument) {
  Puzzle p(3, 2);
  const size_t area = static_cast<size_t>(p.doc.w) * p.doc.h;
  u8* result = p.model.resultImage.GetMemObj()->GetPtr();
  // The uncovered pixels, 0 when one of them shows anything else.
  auto uncoveredShowTheDocument = [&] {
    size_t uncovered = 0;
    for (size_t i = 0; i < area; ++i) {
      if (result[3 * area + i]) continue;
      ++uncovered;
      for (size_t c = 0; c < 3; ++c)
        if (result[c * area + i] != p.doc.planes[c][i]) return size_t{0};
    }
    return uncovered;
  };
  std::fill_n(result, 3 * area, u8{77});
  ASSERT_EQ(p.model.pmop_DoRerenderRect(klNullRect, 0, 0, 100), 1);
  EXPECT_GE(uncoveredShowTheDocument(), 9u);  // the transparent corner at least
  EXPECT_TRUE(p.ResultMatches());
  const size_t before = uncoveredShowTheDocument();
  p.Piece(0).blur[1] = {1, 3};
  CKLF_DWordArray list;
  ASSERT_GE(list.Add(0), 0);
  p.model.effectWindowOpen = 1;
  ASSERT_EQ(p.model.pmop_RerenderPieces(&list, 1, 1), 1);
  p.model.effectWindowOpen = 0;
  p.model.pmop_ShowHidePiece(0, 0, 0);
  EXPECT_GT(uncoveredShowTheDocument(), before);
  EXPECT_TRUE(p.ResultMatches());
}

// Undo swaps the pieces' effects, visibility and selection back and a
// second undo redoes; an action that changes nothing keeps the undo; an
// undo that fails half way cannot be repeated; a new cut empties it.
TEST(PuzzleUndo, UndoRedo) {
  Puzzle p(3, 2);
  puzzletest::Model& m = p.model;
  const Bytes before = puzzletest::Records(p.engine);
  m.pieceAnchor = 4;
  m.unpm_PreSave();
  m.pmfx_SwitchFX(M::kBevel, 1, 0);
  m.pmop_ShowHidePiece(2, 0, 0);
  m.pmop_Sel_SetSelectionToPiece(1, 1, 0, 0);
  m.pieceAnchor = 1;
  m.unpm_SaveState(1);
  const Bytes after = puzzletest::Records(p.engine);
  m.unpm_PreSave();
  m.unpm_SaveState(1);
  for (const Bytes* want : {&before, &after, &before}) {
    EXPECT_EQ(m.unpm_Restore(), 1);
    EXPECT_EQ(puzzletest::Records(p.engine), *want);
    EXPECT_EQ(m.pieceAnchor, want == &before ? 4 : 1);
    EXPECT_TRUE(p.Consistent() && p.MapMatches());
  }
  m.failAt = m.renders + 2;
  EXPECT_EQ(m.unpm_Restore(), 0);
  EXPECT_EQ(m.IsUndoEmpty(), 1);
  EXPECT_TRUE(p.ResultMatches());
  m.unpm_PreSave();
  m.pmfx_SwitchFX(M::kBlur, 1, 1);
  m.unpm_SaveState(0);
  m.OnCutterClose(&p.cutter);
  EXPECT_EQ(m.IsUndoEmpty(), 1);
}

// Clicks with and without modifiers from cells 0 and 1 selected (a 3 x 2
// grid); cells by rows, -1 nothing under the mouse.
TEST(PuzzleSelection, ClickWithModifiers) {
  const u8 S = M::kModShift, O = M::kModOption, C = M::kModCommand;
  const struct {
    u8 mods;
    i32 cell, anchor;
    Bytes selected;
    i32 anchorAfter;
  } cases[] = {{0, 2, 0, {0, 0, 1, 0, 0, 0}, 2},      {0, -1, 0, {0, 0, 0, 0, 0, 0}, -1},
               {C, 1, 0, {1, 0, 0, 0, 0, 0}, 0},      {C, 4, 0, {1, 1, 0, 0, 1, 0}, 4},
               {O, 4, 0, {1, 1, 0, 0, 0, 0}, 0},      {S, 4, -1, {1, 1, 0, 0, 1, 0}, 4},
               {S, 5, 0, {1, 1, 1, 1, 1, 1}, 5},      {S | O, 3, 0, {0, 1, 0, 0, 0, 0}, 3},
               {S | C, 4, 0, {1, 1, 0, 0, 0, 0}, 0}};
  Puzzle p(3, 2);
  auto piece = [&](i32 cell) { return cell < 0 ? -1 : p.AtCell(cell); };
  for (const auto& c : cases) {
    p.model.pmop_Sel_DeselectAllPieces(0);
    p.model.pmop_Sel_SetSelectionToPiece(piece(0), 1, 0, 0);
    p.model.pmop_Sel_SetSelectionToPiece(piece(1), 1, 0, 0);
    p.model.pieceAnchor = piece(c.anchor);
    p.model.OnPieceClick(c.cell < 0 ? kltPOS{0, 0} : kltPOS{c.cell % 3 * 16 + 8, c.cell / 3 * 16 + 8}, c.mods);
    for (i32 k = 0; k < 6; ++k) EXPECT_EQ(p.Piece(piece(k)).selected, c.selected[k]) << int(c.mods) << " " << k;
    EXPECT_EQ(p.model.pieceAnchor, piece(c.anchorAfter));
    EXPECT_TRUE(p.MapMatches());
  }
  EXPECT_EQ(p.model.IsUndoEmpty(), 0);
}

// Block (more than half inside the box of two pieces), rectangle and
// polygon selection against the pixels themselves.
TEST(PuzzleSelection, BlockRectangleAndPolygonAgainstPixels) {
  Puzzle p(4, 3, 64, 48);
  const u32 n = p.engine.GetPieceCount();
  std::mt19937 rng(3);
  for (int round = 0; round < 30; ++round) {
    p.model.pmop_Sel_DeselectAllPieces(0);
    std::vector<i32> xs(3 + rng() % 6), ys(xs.size());
    for (size_t k = 0; k < xs.size(); ++k) xs[k] = i32(rng() % 90) - 12, ys[k] = i32(rng() % 70) - 12;
    // The block's box: the pixels of pieces a and b.
    const i32 a = rng() % n, b = rng() % n;
    kltRECT_s r = {xs[0], ys[0], xs[1], ys[1]};
    if (round % 3 == 0) {
      r = {1000, 1000, -1, -1};
      for (i32 y = 0; y < p.doc.h; ++y)
        for (i32 x = 0; x < p.doc.w; ++x)
          if (p.model.GetPieceByXY({x, y}) == a || p.model.GetPieceByXY({x, y}) == b)
            r = {std::min(r.left, x), std::min(r.top, y), std::max(r.right, x + 1), std::max(r.bottom, y + 1)};
    }
    auto in = [&](i32 x, i32 y) {
      return round % 3 == 2 ? M::i_pmop_PtInRgn(x, y, xs.data(), ys.data(), u32(xs.size())) != 0
                            : x >= r.left && x < r.right && y >= r.top && y < r.bottom;
    };
    std::vector<u32> hits(n);
    for (i32 y = 0; y < p.doc.h; ++y)
      for (i32 x = 0; x < p.doc.w; ++x)
        if (p.model.GetPieceByXY({x, y}) >= 0 && in(x, y)) ++hits[p.model.GetPieceByXY({x, y})];
    // A piece partly in the block's box counts as exactly half inside: it stays out.
    for (u32 i = 0; i < n && round % 3 == 0; ++i)
      if (hits[i] && hits[i] < p.Piece(i).pixelCount) {
        p.Piece(i).pixelCount = 2 * hits[i];
        break;
      }
    Bytes want(n);
    for (u32 i = 0; i < n; ++i) want[i] = round % 3 ? hits[i] > 0 : 2 * hits[i] > p.Piece(i).pixelCount;
    if (round % 3 == 0) p.model.pmop_Sel_PieceBlockSelection(1, 0, a, b, 0);
    if (round % 3 == 1) p.model.pmop_Sel_SelectRect(r, 1, 0, 0);
    if (round % 3 == 2) p.model.pmop_Sel_SelectFreeRgn(xs.data(), ys.data(), u32(xs.size()), 1, 0, 0);
    EXPECT_EQ(p.Selected(), want) << round;
    EXPECT_TRUE(p.MapMatches());
  }
}

// Random picks (N / 20, at least one, at most the candidates), channel
// maps in the four modes, and visibility recombining what changed.
TEST(PuzzleSelection, RandomMapsAndVisibility) {
  for (u32 side : {1, 10}) {
    Puzzle p(side == 1 ? 19 : 10, side, side == 1 ? 380 : 200, side == 1 ? 20 : 200);
    const u32 n = p.engine.GetPieceCount(), picks = side == 1 ? 1 : 5;
    auto count = [&] {
      const Bytes s = p.Selected();
      return static_cast<u32>(s.size() - std::count(s.begin(), s.end(), 0));
    };
    std::srand(5);
    p.model.pmop_Sel_RandomSelection(1, 1);
    p.model.pmop_Sel_InvertPiecesSelection(0);
    p.model.pmop_Sel_RandomSelection(0, 0);
    EXPECT_EQ(count(), n - 2 * picks);
    p.model.pmop_Sel_SelectAllPieces(0);
    p.model.pmop_Sel_SetSelectionToPiece(3, 0, 1, 0);
    p.model.pmop_Sel_RandomSelection(1, 0);
    EXPECT_EQ(count(), n);
    EXPECT_TRUE(p.MapMatches());
  }
  // Cells 0, 1, 3, 4 reach into the left half (0), cells 1, 2, 4, 5 into
  // the right (255, below 128 inverted).
  Puzzle p(3, 2);
  Bytes map(48 * 32, 255);
  for (i32 y = 0; y < 32; ++y) std::fill_n(&map[y * 48], 24, 0);
  const Bytes want[2][4] = {{{1, 1, 0, 1, 1, 0}, {1, 1, 0, 1, 1, 0}, {0, 0, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0}},
                            {{0, 1, 1, 0, 1, 1}, {1, 1, 1, 0, 1, 1}, {1, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}}};
  for (u8 invert : {0, 1})
    for (u8 mode = 0; mode < 4; ++mode) {
      p.model.pmop_Sel_DeselectAllPieces(0);
      p.model.pmop_Sel_SetSelectionToPiece(p.AtCell(0), 1, 0, 0);
      p.model.pmop_Sel_SetSelectionToPiece(p.AtCell(1), 1, 0, 0);
      p.model.pmop_LoadSelection(mode, invert, map.data(), 1);
      for (i32 k = 0; k < 6; ++k) EXPECT_EQ(p.Piece(p.AtCell(k)).selected, want[invert][mode][k]) << int(mode);
    }
  // Hide with nothing selected hides every piece; show two again; select
  // the hidden ones and reverse them.
  p.model.pmop_Sel_DeselectAllPieces(0);
  p.model.pmop_ShowHideSelectedPieces(0, 1);
  EXPECT_EQ(p.port.controls["Main_Show/5"].enabled * 10 + p.port.controls["Main_Hide/5"].enabled, 10);
  EXPECT_TRUE(p.Consistent());
  p.model.pmop_Sel_SetSelectionToPiece(1, 1, 0, 0);
  p.model.pmop_ShowHideSelectedPieces(1, 1);
  p.model.pmop_ShowHidePiece(2, 1, 1);
  p.model.pmop_Sel_AllHidenOrShown(1, 0);
  EXPECT_EQ(p.Selected(), Bytes({1, 0, 0, 1, 1, 1}));
  p.model.pmop_ReverseShownHidden(0);
  EXPECT_EQ(p.model.i_pmfx_GetFXOnSelection(M::kSelection) & M::kBitHidden, 0);
  EXPECT_TRUE(p.Consistent());
}

// Leaving Layout mode: after a cut with a new piece count the user is asked
// whether to reset the effects; without a cut the pieces and the selection
// stay; without pieces the window closes. An effect window locks the mode
// until it exits, which commits an undo point.
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
    EXPECT_EQ(p.Piece(3).blur[0].enabled * 10 + m.IsUndoEmpty(), answer ? 0 : 11);
  }
  m.pmop_Sel_SetSelectionToPiece(4, 0, 0, 0);
  p.cutter.cutMade = 0;
  m.OnCutterClose(&p.cutter);
  EXPECT_EQ(p.Piece(4).selected * 10 + p.port.questions, 12);
  EXPECT_TRUE(p.MapMatches());

  struct Window : CEffectWindowServices {
    u8 create;
    int* alive;
    Window(u8 c, int* a) : create(c), alive(a) { ++*alive; }
    ~Window() override { --*alive; }
    u8 CreateEffectWindow(const char*, kltSIZE_s) override { return create; }
    void ShowEffectWindow() override {}
  };
  int alive = 0;
  u8 create = 0;
  p.port.newWindow = [&](u8) { return new Window(create, &alive); };
  EXPECT_EQ(m.pmfx_DoBevel() + alive + m.effectWindowOpen, 0);  // not created: discarded
  create = 1;
  ASSERT_EQ(m.pmfx_DoBevel(), 1);
  EXPECT_EQ(p.port.controls["Main_Apply/5"].enabled + p.port.controls["Main_FXBevel/7"].enabled, 0);
  // The window edits the selected piece, then exits.
  p.Piece(4).bevel[1].size = 7;
  CKLF_DWordArray list;
  ASSERT_GE(list.Add(4), 0);
  m.effectWindow->mainWindow->pmop_RerenderPieces(&list, 1, 1);
  m.effectWindow->mainWindow->ExitFXMode();
  EXPECT_EQ(p.port.controls["Main_FXBevel/7"].enabled + alive, 2);
  m.unpm_Restore();
  EXPECT_EQ(p.Piece(4).bevel[0].size, 2);
  m.pmfx_SwitchFX(M::kStroke, 1, 1);  // discards the closed window
  EXPECT_EQ(alive, 0);

  Puzzle gray(2, 1, 16, 16, 0);
  EXPECT_EQ(gray.model.pmfx_DoHSL(), 0);
  gray.engine.FreeSpliting();
  gray.cutter.cutMade = 0;
  gray.model.OnCutterClose(&gray.cutter);
  EXPECT_EQ(gray.port.closed, 1);
}
