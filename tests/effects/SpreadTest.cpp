// The spread of values over pieces and the parameter conversions, without
// pieces: directions, t, rounding, the "A"-box merge, opacity percents and
// the range bar's columns.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "CFXSpread.h"
#include "CFXValues.h"
#include "CTessarette.h"

namespace {

typedef CTessarette::SFX_BC BC;
const CFXSpread::FIELD kBright = {offsetof(BC, brightness), CFXSpread::kI8, -100, 100};
const CFXSpread::FIELD kContrast = {offsetof(BC, contrast), CFXSpread::kI8, -100, 100};

const u8* B(const BC& r) { return reinterpret_cast<const u8*>(&r); }

TEST(Spread, DirectionIsTheFirstCheckedButtonInTestOrder) {
  // Test order: top, top-left, left, bottom-left, bottom, bottom-right, right, top-right.
  const u8 codes[8] = {2, 1, 8, 7, 6, 5, 4, 3};
  for (int k = 0; k < 8; ++k) {
    u8 checked[8] = {};
    checked[k] = 1;
    EXPECT_EQ(CFXSpread::GetAAMode(checked), codes[k]) << k;
    // A later button does not override an earlier one.
    for (int later = k + 1; later < 8; ++later) {
      checked[later] = 1;
      EXPECT_EQ(CFXSpread::GetAAMode(checked), codes[k]) << k << " " << later;
      checked[later] = 0;
    }
  }
  const u8 none[8] = {};
  EXPECT_EQ(CFXSpread::GetAAMode(none), CFXSpread::kRandom);
}

TEST(Spread, EachDirectionPutsValueOneAndTwoAtTheBoxSides) {
  // Centres of a 3 x 3 grid of 20-pixel cells.
  const CFXSpread::CENTREBOX box = {10, 10, 50, 50};
  CKLF_2DMath math;
  struct Case {
    u8 d;
    kltFPOS atValue2, atValue1, middle;
  } const cases[] = {
      {CFXSpread::kTopLeft, {10, 10}, {50, 50}, {30, 30}},     {CFXSpread::kTop, {30, 10}, {10, 50}, {50, 30}},
      {CFXSpread::kTopRight, {50, 10}, {10, 50}, {30, 30}},    {CFXSpread::kRight, {50, 30}, {10, 10}, {30, 50}},
      {CFXSpread::kBottomRight, {50, 50}, {10, 10}, {30, 30}}, {CFXSpread::kBottom, {10, 50}, {50, 10}, {30, 30}},
      {CFXSpread::kBottomLeft, {10, 50}, {50, 10}, {30, 30}},  {CFXSpread::kLeft, {10, 30}, {50, 50}, {30, 10}}};
  for (const Case& c : cases) {
    kltFPOS a, b;
    ASSERT_TRUE(CFXSpread::Segment(c.d, box, a, b)) << int(c.d);
    EXPECT_DOUBLE_EQ(CFXSpread::DirectionT(math, a, b, c.atValue2), 1.0) << int(c.d);
    EXPECT_DOUBLE_EQ(CFXSpread::DirectionT(math, a, b, c.atValue1), 0.0) << int(c.d);
    EXPECT_DOUBLE_EQ(CFXSpread::DirectionT(math, a, b, c.middle), 0.5) << int(c.d);
  }
  kltFPOS a, b;
  EXPECT_FALSE(CFXSpread::Segment(CFXSpread::kRandom, box, a, b));
  // "Top": the same y gives the same t whatever the x, a quarter up gives 0.25.
  CFXSpread::Segment(CFXSpread::kTop, box, a, b);
  EXPECT_DOUBLE_EQ(CFXSpread::DirectionT(math, a, b, {-400, 40}), 0.25);
  EXPECT_DOUBLE_EQ(CFXSpread::DirectionT(math, a, b, {900, 40}), 0.25);
  // Off the segment's ends t is clamped.
  EXPECT_DOUBLE_EQ(CFXSpread::DirectionT(math, a, b, {0, -90}), 1.0);
  EXPECT_DOUBLE_EQ(CFXSpread::DirectionT(math, a, b, {0, 90}), 0.0);
}

TEST(Spread, ZeroLengthSegmentGivesValueOne) {
  // One row of pieces spread top to bottom: every centre has y = 20.
  const CFXSpread::CENTREBOX row = {10, 20, 90, 20};
  CKLF_2DMath math;
  for (u8 d : {CFXSpread::kTop, CFXSpread::kBottom}) {
    kltFPOS a, b;
    CFXSpread::Segment(d, row, a, b);
    for (f64 x : {10.0, 50.0, 90.0}) EXPECT_EQ(CFXSpread::DirectionT(math, a, b, {x, 20}), 0.0);
  }
  // All centres at one point, in a corner direction.
  const CFXSpread::CENTREBOX point = {7, 7, 7, 7};
  kltFPOS a, b;
  CFXSpread::Segment(CFXSpread::kBottomRight, point, a, b);
  EXPECT_EQ(CFXSpread::DirectionT(math, a, b, {7, 7}), 0.0);
}

TEST(Spread, RandomDrawsAreScaledAndCapped) {
  EXPECT_EQ(CFXSpread::RandomT(0), 0.0);
  EXPECT_DOUBLE_EQ(CFXSpread::RandomT(1073741823), 1073741823 / 2147483646.0);
  EXPECT_EQ(CFXSpread::RandomT(2147483646), 1.0);
  EXPECT_EQ(CFXSpread::RandomT(2147483647), 1.0);  // the largest draw is capped
}

TEST(Spread, RoundingAddsAHalfAndTruncatesTowardZero) {
  EXPECT_EQ(CFXSpread::RoundHalfUp(2.5), 3);
  EXPECT_EQ(CFXSpread::RoundHalfUp(-1.4), 0);
  EXPECT_EQ(CFXSpread::RoundHalfUp(-1.6), -1);
  EXPECT_EQ(CFXSpread::RoundHalfUp(-2.5), -2);
  EXPECT_EQ(CFXSpread::RoundHalfUp(0.49), 0);
  // -100 .. 100 at t = 0.5 gives 0, at t = 0.493 -1.4 + 0.5 truncates to 0.
  EXPECT_EQ(CFXSpread::Interpolate(-100, 100, 0.5), 0);
  EXPECT_EQ(CFXSpread::Interpolate(-100, 100, 0.493), 0);
  EXPECT_EQ(CFXSpread::Interpolate(0, 100, 0.333), 33);
  EXPECT_EQ(CFXSpread::Interpolate(0, 255, 1.0), 255);
  // Values far outside any field saturate rather than overflow.
  EXPECT_EQ(CFXSpread::RoundHalfUp(1e12), 2147483647);
  EXPECT_EQ(CFXSpread::RoundHalfUp(-1e12), -2147483647);
}

TEST(Spread, FieldsReadAndWriteAtTheirWidth) {
  u8 rec[6] = {};
  const CFXSpread::FIELD i8f = {1, CFXSpread::kI8, -100, 100}, u16f = {2, CFXSpread::kU16, 0, 999},
                         i16f = {4, CFXSpread::kI16, -180, 180};
  CFXSpread::SetField(rec, i8f, -37);
  CFXSpread::SetField(rec, u16f, 999);
  CFXSpread::SetField(rec, i16f, -180);
  EXPECT_EQ(CFXSpread::GetField(rec, i8f), -37);
  EXPECT_EQ(CFXSpread::GetField(rec, u16f), 999);
  EXPECT_EQ(CFXSpread::GetField(rec, i16f), -180);
  EXPECT_EQ(rec[0], 0);  // the neighbours are untouched
  rec[1] = 200;
  EXPECT_EQ(CFXSpread::GetField(rec, {1, CFXSpread::kU8, 0, 255}), 200);
}

// The result starts from value 1; a boxed field whose box is unchecked keeps
// the piece's backup, every other spread field is interpolated and clamped;
// the effect is on.
TEST(Spread, ResultMergesTheBackupFieldByField) {
  const BC v1 = {0, -100, 40}, v2 = {0, 100, -60}, backup = {0, 17, -23};
  BC out;
  CFXSpread::FIELDSTATE fields[2] = {{kBright, 1, 1}, {kContrast, 1, 0}};
  CFXSpread::BuildResult(B(v1), B(v2), B(backup), sizeof(BC), fields, 2, 0.75, reinterpret_cast<u8*>(&out));
  EXPECT_EQ(out.enabled, 1);
  EXPECT_EQ(out.brightness, 50);
  EXPECT_EQ(out.contrast, -23);
  fields[0].checked = 0;
  fields[1].checked = 1;
  CFXSpread::BuildResult(B(v1), B(v2), B(backup), sizeof(BC), fields, 2, 0.75, reinterpret_cast<u8*>(&out));
  EXPECT_EQ(out.brightness, 17);
  EXPECT_EQ(out.contrast, -34);  // 40 - 75 + 0.5 truncated toward zero
  // Fields without a box are always spread; fields not listed keep value 1.
  CFXSpread::FIELDSTATE bright = {kBright, 0, 0};
  CFXSpread::BuildResult(B(v1), B(v2), B(backup), sizeof(BC), &bright, 1, 1.0, reinterpret_cast<u8*>(&out));
  EXPECT_EQ(out.brightness, 100);
  EXPECT_EQ(out.contrast, 40);
  // A range narrower than the values is kept.
  CFXSpread::FIELDSTATE narrow = {{offsetof(BC, brightness), CFXSpread::kI8, -10, 10}, 0, 0};
  CFXSpread::BuildResult(B(v1), B(v2), B(backup), sizeof(BC), &narrow, 1, 0.0, reinterpret_cast<u8*>(&out));
  EXPECT_EQ(out.brightness, -10);
}

TEST(Spread, PreviewTakesTheDefaultForUncheckedBoxesWhileSpreadOn) {
  const BC edited = {0, 55, -44}, defaults = {0, 3, 4};
  BC out;
  CFXSpread::FIELDSTATE fields[2] = {{kBright, 1, 1}, {kContrast, 1, 0}};
  CFXSpread::BuildPreview(B(edited), B(defaults), sizeof(BC), fields, 2, 1, reinterpret_cast<u8*>(&out));
  EXPECT_EQ(out.brightness, 55);
  EXPECT_EQ(out.contrast, 4);
  CFXSpread::BuildPreview(B(edited), B(defaults), sizeof(BC), fields, 2, 0, reinterpret_cast<u8*>(&out));
  EXPECT_EQ(out.contrast, -44);
  // A field without a box shows the edited value.
  CFXSpread::FIELDSTATE bare = {kContrast, 0, 0};
  CFXSpread::BuildPreview(B(edited), B(defaults), sizeof(BC), &bare, 1, 1, reinterpret_cast<u8*>(&out));
  EXPECT_EQ(out.contrast, -44);
}

TEST(FXValues, OpacityPercentConversions) {
  EXPECT_EQ(CFXValues::OpacityToPercent(255), 100u);
  EXPECT_EQ(CFXValues::PercentToOpacity(100), 255);
  EXPECT_EQ(CFXValues::OpacityToPercent(128), 50u);
  EXPECT_EQ(CFXValues::PercentToOpacity(50), 127);
  EXPECT_EQ(CFXValues::OpacityToPercent(191), 75u);
  EXPECT_EQ(CFXValues::PercentToOpacity(75), 191);
  EXPECT_EQ(CFXValues::OpacityToPercent(2), 1u);
  EXPECT_EQ(CFXValues::OpacityToPercent(1), 0u);
  EXPECT_EQ(CFXValues::PercentToOpacity(1), 2);
  EXPECT_EQ(CFXValues::PercentToOpacity(0), 0);
  EXPECT_EQ(CFXValues::PercentToOpacity(250), 255);
  // Every percent survives the round trip through its byte.
  for (u32 p = 0; p <= 100; ++p) EXPECT_EQ(CFXValues::OpacityToPercent(CFXValues::PercentToOpacity(p)), p) << p;
}

TEST(FXValues, TypedNumbersAreClamped) {
  EXPECT_EQ(CFXValues::ParseClamped("150", 0, 100), 100);
  EXPECT_EQ(CFXValues::ParseClamped("-7", 0, 100), 0);
  EXPECT_EQ(CFXValues::ParseClamped("-", -100, 100), 0);
  EXPECT_EQ(CFXValues::ParseClamped("abc", 0, 100), 0);
  EXPECT_EQ(CFXValues::ParseClamped("42px", 0, 100), 42);
  EXPECT_EQ(CFXValues::ParseClamped("", -100, 100), 0);
  EXPECT_EQ(CFXValues::ParseClamped("99999999999999999999", -100, 100), 100);
  EXPECT_EQ(CFXValues::ParseClamped("-99999999999999999999", -100, 100), -100);
}

TEST(FXValues, RangeBarColumnsStayOnTheBar) {
  u32 from = 0, to = 0;
  // 0..200 over a 261-pixel bar: (260 lo / 200) .. (260 hi / 200 + 1).
  ASSERT_TRUE(CFXValues::RangeColumns(150, 50, 200, 261, from, to));
  EXPECT_EQ(from, 65u);
  EXPECT_EQ(to, 196u);
  ASSERT_TRUE(CFXValues::RangeColumns(0, 200, 200, 261, from, to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 261u);
  // Equal values mark one column.
  ASSERT_TRUE(CFXValues::RangeColumns(100, 100, 100, 11, from, to));
  EXPECT_EQ(to - from, 1u);
  // A zero-width bar marks nothing (its width minus one would wrap).
  EXPECT_FALSE(CFXValues::RangeColumns(0, 100, 100, 0, from, to));
  EXPECT_EQ(to, 0u);
  // Slider values beyond the span stay on the bar.
  ASSERT_TRUE(CFXValues::RangeColumns(50, 300, 100, 20, from, to));
  EXPECT_EQ(from, 9u);
  EXPECT_EQ(to, 20u);
  EXPECT_FALSE(CFXValues::RangeColumns(400, 300, 100, 20, from, to));
  EXPECT_FALSE(CFXValues::RangeColumns(0, 5, 0, 20, from, to));
}

}  // namespace
