// What an effect window edits, without the window, over a real cut with
// the Puzzle-mode model as its main window: the listed pieces and their
// backups, value 1, the spread over the pieces, and the roads of OK,
// Cancel and the main-window updates to the pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>

#include "effects/FXTestUtil.h"

namespace {

using namespace fxtest;

const CFXSpread::FIELDSTATE kRadius = {{offsetof(T::SFX_BLUR, radius), CFXSpread::kU8, 0, 100}, 0, 0};

CFXEffectRecords::SPREAD Spread(u8 on, u8 direction, const CFXSpread::FIELDSTATE* f, u32 n,
                                CFXSpread::RandomProc random = nullptr) {
  return {on, direction, f, n, random};
}

// Gives every piece its own rendered blur radius (as a render would).
void SetRadii(Scene& s) {
  for (u32 i = 0; i < s.Count(); ++i) {
    T::SFX_BLUR& r = s.Piece(i).blur[R];
    r = {static_cast<u8>(i % 2), static_cast<u8>(10 + 7 * i)};
    s.Piece(i).blur[W] = r;
  }
}

u8 Radius(const CFXEffectRecords& r, u32 i) { return reinterpret_cast<const T::SFX_BLUR*>(r.GetResult(i))->radius; }

TEST(EffectRecords, ListsTheSelectedPiecesElseEveryPiece) {
  Scene s(3, 2);
  SetRadii(s);
  const u32 a = s.At(4, 3), b = s.At(1, 3);
  s.Piece(a).selected = s.Piece(b).selected = 1;
  s.Piece(a).blur[W].radius = 99;  // a working record the window starts over
  CFXEffectRecords rec(kBlur);
  ASSERT_EQ(rec.PreparePieces(s.Engine()), 1);
  ASSERT_EQ(rec.GetPieceCount(), 2u);
  EXPECT_EQ((*rec.GetPieces())[0], std::min(a, b));  // engine order
  EXPECT_EQ((*rec.GetPieces())[1], std::max(a, b));
  for (u32 i : {a, b}) {
    EXPECT_EQ(s.Piece(i).blur[B].radius, s.Piece(i).blur[R].radius);
    EXPECT_EQ(s.Piece(i).blur[W].radius, s.Piece(i).blur[R].radius);
  }
  // The box of the two centres: cells (1, 0) and (1, 1) of 16 pixels, give
  // or take the knives' share of the cell borders.
  const CFXSpread::CENTREBOX& box = rec.GetCentreBox();
  EXPECT_NEAR(box.minX, 24, 4);
  EXPECT_NEAR(box.maxX, 24, 4);
  EXPECT_NEAR(box.minY, 8, 4);
  EXPECT_NEAR(box.maxY, 24, 4);

  s.Piece(a).selected = s.Piece(b).selected = 0;
  ASSERT_EQ(rec.PreparePieces(s.Engine()), 1);
  EXPECT_EQ(rec.GetPieceCount(), s.Count());
  EXPECT_EQ(Copies(s.Engine(), kBlur, B), Copies(s.Engine(), kBlur, R));

  s.Engine().FreeSpliting();
  EXPECT_EQ(rec.PreparePieces(s.Engine()), 0);
  EXPECT_EQ(rec.GetPieceCount(), 0u);
  CFXEffectRecords invert(7);
  EXPECT_FAILS(invert, invert.PreparePieces(s.Engine()), klErrBadArg);
}

// The current piece gives value 1 only when it is listed: an unlisted one's
// backup is stale, and OK would give it to every listed piece.
TEST(EffectRecords, ValueOneComesFromTheCurrentPieceOnlyWhenListed) {
  Scene s(3, 2);
  SetRadii(s);
  const u32 first = s.At(0, 3), listed = s.At(5, 3), other = s.At(2, 3);
  s.Piece(first).selected = s.Piece(listed).selected = 1;
  s.Piece(other).blur[B] = {1, 77};  // left from an earlier window
  CFXEffectRecords rec(kBlur);
  ASSERT_EQ(rec.PreparePieces(s.Engine()), 1);
  rec.InitValues(other);
  EXPECT_EQ(rec.GetValue(0)[1], s.Piece(first).blur[R].radius);
  rec.InitValues(listed);
  EXPECT_EQ(rec.GetValue(0)[1], s.Piece(listed).blur[R].radius);
  rec.InitValues(0xFFFFFFFFu);  // none
  EXPECT_EQ(rec.GetValue(0)[1], s.Piece(first).blur[R].radius);
  // Value 2 is the engine's default.
  EXPECT_EQ(std::memcmp(rec.GetValue(1), &s.Engine().m_defBlur, sizeof(T::SFX_BLUR)), 0);

  rec.InitValues(other);
  ASSERT_EQ(rec.Confirm(s.puzzle.model, Spread(0, 0, &kRadius, 1)), 1);
  for (u32 i : {first, listed}) EXPECT_EQ(s.Piece(i).blur[R].radius, s.Piece(first).blur[B].radius) << i;
  EXPECT_NE(s.Piece(other).blur[R].radius, 77);
}

// Each piece's value follows its centre's place across the box of the
// centres: the side directions by x or y alone, the corners along the
// diagonal; the centres at a side of the box get value 1 or value 2.
TEST(EffectRecords, DirectionsSpreadByTheCentres) {
  Scene s(4, 3);
  CFXEffectRecords rec(kBlur);
  ASSERT_EQ(rec.PreparePieces(s.Engine()), 1);
  rec.GetValue(0)[1] = 0;
  rec.GetValue(1)[1] = 100;
  const CFXSpread::CENTREBOX box = rec.GetCentreBox();
  struct Case {
    u8 d;
    f64 ax, ay, bx, by;  // where value 1 and value 2 lie
  } const cases[] = {{CFXSpread::kRight, box.minX, 0, box.maxX, 0},
                     {CFXSpread::kTop, 0, box.maxY, 0, box.minY},
                     {CFXSpread::kTopLeft, box.maxX, box.maxY, box.minX, box.minY},
                     {CFXSpread::kBottomLeft, box.maxX, box.minY, box.minX, box.maxY}};
  for (const Case& c : cases) {
    rec.Regenerate(Spread(1, c.d, &kRadius, 1));
    int lowest = 255, highest = -1;
    for (u32 i = 0; i < rec.GetPieceCount(); ++i) {
      const kltRECT_s r = s.Piece((*rec.GetPieces())[i]).rect;
      const f64 px = (r.left + r.right) / 2.0 - c.ax, py = (r.top + r.bottom) / 2.0 - c.ay;
      const f64 dx = c.bx - c.ax, dy = c.by - c.ay;
      const f64 t = std::min(1.0, std::max(0.0, (px * dx + py * dy) / (dx * dx + dy * dy)));
      EXPECT_EQ(Radius(rec, i), static_cast<int>(100 * t + 0.5)) << int(c.d) << " piece " << i;
      EXPECT_EQ(rec.GetResult(i)[0], 1);
      lowest = std::min<int>(lowest, Radius(rec, i));
      highest = std::max<int>(highest, Radius(rec, i));
    }
    // A side direction has pieces at both of its sides; a corner of the
    // box need not be any piece's centre.
    if (c.d == CFXSpread::kRight || c.d == CFXSpread::kTop) {
      EXPECT_EQ(lowest, 0) << int(c.d);
      EXPECT_EQ(highest, 100) << int(c.d);
    }
  }
}

TEST(EffectRecords, RandomSpreadDrawsEveryTime) {
  Scene s(2, 1);
  CFXEffectRecords rec(kBlur);
  ASSERT_EQ(rec.PreparePieces(s.Engine()), 1);
  ASSERT_EQ(rec.GetPieceCount(), 2u);
  rec.GetValue(0)[1] = 10;
  rec.GetValue(1)[1] = 90;
  fxtest::ScriptedRandom::Draws() = {0, 2147483646, 1073741823, 536870911};
  rec.Regenerate(Spread(1, CFXSpread::kRandom, &kRadius, 1, fxtest::ScriptedRandom::Next));
  EXPECT_EQ(Radius(rec, 0), 10);
  EXPECT_EQ(Radius(rec, 1), 90);
  rec.Regenerate(Spread(1, CFXSpread::kRandom, &kRadius, 1, fxtest::ScriptedRandom::Next));
  EXPECT_EQ(Radius(rec, 0), 50);
  EXPECT_EQ(Radius(rec, 1), 30);
  EXPECT_TRUE(fxtest::ScriptedRandom::Draws().empty());
}

TEST(EffectRecords, UncheckedBoxKeepsEachPiecesOwnValue) {
  Scene s(3, 1);
  for (u32 i = 0; i < s.Count(); ++i) s.Piece(i).bc[R] = {0, static_cast<i8>(i * 5), static_cast<i8>(-10 - static_cast<i32>(i))};
  CFXEffectRecords rec(kBC);
  ASSERT_EQ(rec.PreparePieces(s.Engine()), 1);
  T::SFX_BC v1 = {0, -100, 20}, v2 = {0, 100, 60};
  std::memcpy(rec.GetValue(0), &v1, sizeof v1);
  std::memcpy(rec.GetValue(1), &v2, sizeof v2);
  const CFXSpread::FIELDSTATE f[2] = {{{offsetof(T::SFX_BC, brightness), CFXSpread::kI8, -100, 100}, 1, 1},
                                      {{offsetof(T::SFX_BC, contrast), CFXSpread::kI8, -100, 100}, 1, 0}};
  rec.Regenerate(Spread(1, CFXSpread::kRight, f, 2));
  for (u32 i = 0; i < rec.GetPieceCount(); ++i) {
    const T::SFX_BC* r = reinterpret_cast<const T::SFX_BC*>(rec.GetResult(i));
    EXPECT_EQ(r->enabled, 1);
    EXPECT_EQ(r->contrast, s.Piece((*rec.GetPieces())[i]).bc[R].contrast) << i;
  }
  // The preview shows the edited brightness with the default contrast.
  T::SFX_BC shown;
  rec.GetPreview(0, Spread(1, CFXSpread::kRight, f, 2), reinterpret_cast<u8*>(&shown));
  EXPECT_EQ(shown.brightness, -100);
  EXPECT_EQ(shown.contrast, s.Engine().m_defBc.contrast);
  rec.GetPreview(1, Spread(0, 0, f, 2), reinterpret_cast<u8*>(&shown));
  EXPECT_EQ(shown.contrast, 60);
  // Off, every result is value 1 with the effect on.
  rec.Regenerate(Spread(0, CFXSpread::kRight, f, 2));
  v1.enabled = 1;
  for (u32 i = 0; i < rec.GetPieceCount(); ++i) EXPECT_EQ(std::memcmp(rec.GetResult(i), &v1, sizeof v1), 0);
  EXPECT_EQ(rec.GetValue(0)[0], 1);
}

// OK leaves the pieces rendered with the results; Cancel brings back what
// they had when the window opened, byte for byte, after any updates.
TEST(EffectRecords, ConfirmAndRestoreReachThePieces) {
  Scene s(3, 2);
  SetRadii(s);
  const Bytes before = puzzletest::Records(s.Engine());
  CFXEffectRecords rec(kBlur);
  ASSERT_EQ(rec.PreparePieces(s.Engine()), 1);
  rec.InitValues(0);
  rec.GetValue(0)[1] = 3;
  rec.GetValue(1)[1] = 40;
  const auto spread = Spread(1, CFXSpread::kBottom, &kRadius, 1);
  EXPECT_EQ(rec.UpdateMainWindow(s.puzzle.model, 1, 0, spread), 1);
  EXPECT_TRUE(s.puzzle.Consistent());
  rec.GetValue(0)[1] = 9;
  rec.Regenerate(spread);
  EXPECT_EQ(rec.UpdateMainWindow(s.puzzle.model, 1, 0, spread), 1);
  EXPECT_EQ(rec.Restore(s.puzzle.model), 1);
  EXPECT_EQ(puzzletest::Records(s.Engine()), before);
  EXPECT_TRUE(s.puzzle.Consistent());

  ASSERT_EQ(rec.PreparePieces(s.Engine()), 1);
  rec.InitValues(0);
  rec.GetValue(0)[1] = 12;
  rec.GetValue(1)[1] = 12;
  EXPECT_EQ(rec.Confirm(s.puzzle.model, spread), 1);
  EXPECT_TRUE(s.puzzle.Consistent());
  for (u32 i = 0; i < s.Count(); ++i) {
    EXPECT_EQ(s.Piece(i).blur[R].enabled, 1);
    EXPECT_EQ(s.Piece(i).blur[R].radius, 12);
  }
}

}  // namespace
