// The bevel, hue/saturation, colour overlay, motion blur, stroke and image
// overlay windows on the road every effect window shares, over a real cut:
// OK gives every listed piece value 1 with the edit and the effect on,
// Cancel brings back every record byte for byte, Reset reloads value 1
// from the current piece.
#include <gtest/gtest.h>

#include <functional>

#include "effects/FXTestUtil.h"

namespace {

using namespace fxtest;

struct Case {
  u8 effect;
  const char* edit;  // the suffix of the edit line typed into
  const char* typed;
  // Gives piece i's rendered record values of its own.
  std::function<void(u8* record, u32 i)> vary;
  // Value 1 as the typed text leaves it.
  std::function<void(u8* record)> edited;
};

const Case kCases[] = {
    {kBevel, "_Depth", "17",
     [](u8* r, u32 i) {
       auto& b = *reinterpret_cast<T::SFX_BEVEL*>(r);
       b.size = static_cast<u8>(3 + i), b.depth = static_cast<u16>(400 + i), b.soften = static_cast<u8>(i);
       b.highlightColor[2] = static_cast<u8>(10 * i);
     },
     [](u8* r) { reinterpret_cast<T::SFX_BEVEL*>(r)->depth = 17; }},
    {kHSL, "_S", "-40",
     [](u8* r, u32 i) {
       auto& h = *reinterpret_cast<T::SFX_HSL*>(r);
       h.hue = static_cast<i16>(-100 + 30 * static_cast<i32>(i)), h.lightness = static_cast<i8>(i);
     },
     [](u8* r) { reinterpret_cast<T::SFX_HSL*>(r)->saturation = -40; }},
    {kCovr, "_Opacity", "40",
     [](u8* r, u32 i) {
       auto& c = *reinterpret_cast<T::SFX_COLOROVERLAY*>(r);
       c.opacity = 255, c.color[0] = static_cast<u8>(i), c.color[2] = static_cast<u8>(200 - i);
     },
     [](u8* r) { reinterpret_cast<T::SFX_COLOROVERLAY*>(r)->opacity = 102; }},
    {kMBlur, "_Radius", "12",
     [](u8* r, u32 i) { reinterpret_cast<T::SFX_MBLUR*>(r)->angle = static_cast<i8>(-80 + 20 * static_cast<i32>(i)); },
     [](u8* r) { reinterpret_cast<T::SFX_MBLUR*>(r)->radius = 12; }},
    {kStroke, "_Size", "7",
     [](u8* r, u32 i) {
       auto& s = *reinterpret_cast<T::SFX_STROKE*>(r);
       s.opacity = 255, s.size = static_cast<u8>(i), s.color[5] = static_cast<u8>(i);
     },
     [](u8* r) { reinterpret_cast<T::SFX_STROKE*>(r)->size = 7; }},
    {kIovr, "_Opacity", "60",
     [](u8* r, u32 i) {
       auto& o = *reinterpret_cast<T::SFX_IMAGEOVERLAY*>(r);
       o.opacity = 255, o.sourceMode = static_cast<u8>(i % 2), o.layerId = static_cast<i32>(i) - 1;
     },
     [](u8* r) { reinterpret_cast<T::SFX_IMAGEOVERLAY*>(r)->opacity = 153; }},
};

class EffectWindowRecords : public FXWindowTest {
 protected:
  // A scene whose pieces hold records of their own (rendered and working),
  // the effect off.
  void Vary(const Case& c) {
    scene = std::make_unique<Scene>(3, 2);
    scene->puzzle.port.mainWindow = mainWindow.get();
    for (u32 i = 0; i < scene->Count(); ++i) {
      u8* rendered = CFXEffectRecords::PieceRecord(scene->Piece(i), c.effect, R);
      c.vary(rendered, i);
      rendered[0] = 0;
      std::memcpy(CFXEffectRecords::PieceRecord(scene->Piece(i), c.effect, W), rendered,
                  CFXEffectRecords::RecordSize(c.effect));
    }
  }
  // Every piece's rendered record equals rec.
  ::testing::AssertionResult AllAre(const Case& c, const Bytes& rec) {
    Bytes all;
    for (u32 i = 0; i < scene->Count(); ++i) all.insert(all.end(), rec.begin(), rec.end());
    if (Copies(scene->Engine(), c.effect, R) == all) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "effect " << int(c.effect);
  }
  Bytes Record(const Case& c, u32 piece, u32 copy) {
    const u8* r = CFXEffectRecords::PieceRecord(scene->Piece(piece), c.effect, copy);
    return Bytes(r, r + CFXEffectRecords::RecordSize(c.effect));
  }
};

TEST_F(EffectWindowRecords, OkGivesEveryPieceValueOneWithTheEdit) {
  for (const Case& c : kCases) {
    Vary(c);
    Bytes expected = Record(c, 0, R);  // no current piece: the first listed gives value 1
    c.edited(expected.data());
    expected[0] = 1;
    ASSERT_NE(Reopen(c.effect), nullptr) << int(c.effect);
    Enter(Edit(c.edit), c.typed);
    ClickButton("_Ok");
    EXPECT_TRUE(AllAre(c, expected));
    EXPECT_TRUE(scene->puzzle.Consistent()) << int(c.effect);
    EXPECT_EQ(Model().effectWindowOpen, 0);
  }
}

TEST_F(EffectWindowRecords, CancelRestoresEveryRecordByteForByte) {
  for (const Case& c : kCases) {
    Vary(c);
    const Bytes before = puzzletest::Records(scene->Engine());
    ASSERT_NE(Reopen(c.effect), nullptr) << int(c.effect);
    Enter(Edit(c.edit), c.typed);
    ui.AdvanceClock(110);  // the pieces show the edit
    EXPECT_NE(puzzletest::Records(scene->Engine()), before) << int(c.effect);
    ClickButton("_Cancel");
    EXPECT_EQ(puzzletest::Records(scene->Engine()), before) << int(c.effect);
    EXPECT_TRUE(scene->puzzle.Consistent()) << int(c.effect);
  }
}

TEST_F(EffectWindowRecords, ResetReloadsValueOneFromTheCurrentPiece) {
  for (const Case& c : kCases) {
    Vary(c);
    const u32 current = scene->At(4, 3);
    scene->puzzle.port.currentPiece = current;
    Bytes expected = Record(c, current, R);
    expected[0] = 1;
    ASSERT_NE(Reopen(c.effect), nullptr) << int(c.effect);
    Enter(Edit(c.edit), c.typed);
    ClickButton("_Reset");
    ClickButton("_Ok");
    EXPECT_TRUE(AllAre(c, expected));
  }
}

}  // namespace
