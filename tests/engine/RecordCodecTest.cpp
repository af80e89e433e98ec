#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"

namespace {

typedef CTessarette::SFX_ONEPIECE Rec;

Rec Distinct() {
  Rec r;
  std::memset(&r, 0, sizeof(r));
  r.bc = {1, -7, 42};
  r.bevel.enabled = 1;
  r.bevel.light[0] = 1.5f;   // 0x3FC00000
  r.bevel.light[1] = -2.0f;  // 0xC0000000
  r.bevel.light[2] = 0.25f;  // 0x3E800000
  r.bevel.highlightOpacity = 0x11;
  for (int i = 0; i < 8; i++) r.bevel.highlightColor[i] = static_cast<u8>(0x20 + i);
  r.bevel.shadowOpacity = 0x12;
  for (int i = 0; i < 8; i++) r.bevel.shadowColor[i] = static_cast<u8>(0x30 + i);
  r.bevel.size = 150;
  r.bevel.depth = 0x0123;
  r.bevel.soften = 19;
  r.blur = {1, 77};
  r.colorOverlay.enabled = 1;
  r.colorOverlay.opacity = 0x44;
  for (int i = 0; i < 8; i++) r.colorOverlay.color[i] = static_cast<u8>(0x50 + i);
  r.imageOverlay = {1, 0x66, 1, 0x01020304};
  r.stroke.enabled = 1;
  r.stroke.opacity = 0x77;
  r.stroke.size = 99;
  for (int i = 0; i < 8; i++) r.stroke.color[i] = static_cast<u8>(0x80 + i);
  r.hsl = {1, -180, -100, 100};
  r.mblur = {1, -90, 100};
  r.opacity = {1, 0x99};
  r.invert = 1;
  r.selected = 1;
  r.visible = 0;
  r.row = 0xAB;
  r.column = 0xCD;
  return r;
}

void ExpectEqual(const Rec& a, const Rec& b) {
  std::vector<u8> ea(92, 0), eb(92, 0);
  CTessaretteRecordCodec::Encode(a, ea.data());
  CTessaretteRecordCodec::Encode(b, eb.data());
  EXPECT_EQ(ea, eb);
}

}  // namespace

TEST(TessaretteRecordCodec, FieldsAtTheirOffsetsBigEndian) {
  std::vector<u8> b(92, 0xEE);
  CTessaretteRecordCodec::Encode(Distinct(), b.data());
  const std::vector<u8> expect = {
      1, 0xF9, 42, 0xEE,                                    // brightness/contrast, reserved
      1, 0, 0, 0, 0x3F, 0xC0, 0, 0, 0xC0, 0, 0, 0, 0x3E, 0x80, 0, 0,  // bevel head, light
      0x11, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27,  // highlight
      0x12, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,  // shadow
      150, 0, 0x01, 0x23, 19, 0,                            // size, depth, soften
      1, 77,                                                // blur at 44
      1, 0x44, 0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57,  // colour overlay at 46
      1, 0x66, 1, 0, 0x01, 0x02, 0x03, 0x04,                // image overlay at 56
      1, 0x77, 99, 0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,  // stroke at 64
      0xEE,                                                 // reserved at 75
      1, 0, 0xFF, 0x4C, 0x9C, 100,                          // hue/saturation at 76
      1, 0xA6, 100,                                         // motion blur at 82
      1, 0x99,                                              // opacity at 85
      1, 1, 0, 0xAB, 0xCD};                                 // invert, selected, visible, row, column
  ASSERT_EQ(expect.size(), 92u);
  EXPECT_EQ(b, expect);

  Rec back;
  ASSERT_EQ(CTessaretteRecordCodec::Decode(b.data(), 92, back), 1);
  ExpectEqual(back, Distinct());
  EXPECT_EQ(back.imageOverlay.layerId, 0x01020304);
  EXPECT_EQ(back.hsl.hue, -180);
  EXPECT_EQ(back.bevel.light[1], -2.0f);
}

TEST(TessaretteRecordCodec, RoundTripOfRandomRecordsInRange) {
  std::mt19937 rng(9);
  auto u = [&](int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1)); };
  for (int t = 0; t < 500; t++) {
    Rec r;
    std::memset(&r, 0, sizeof(r));
    r.bc = {static_cast<u8>(u(0, 1)), static_cast<i8>(u(-100, 100)), static_cast<i8>(u(-100, 100))};
    r.bevel.enabled = static_cast<u8>(u(0, 1));
    for (f32& l : r.bevel.light) l = static_cast<f32>(u(-1000, 1000)) / 997.0f;
    r.bevel.light[2] = 0.5f;
    r.bevel.highlightOpacity = static_cast<u8>(u(0, 255));
    r.bevel.size = static_cast<u8>(u(0, 200));
    r.bevel.depth = static_cast<u16>(u(0, 999));
    r.bevel.soften = static_cast<u8>(u(0, 20));
    for (u8& c : r.bevel.shadowColor) c = static_cast<u8>(rng());
    r.blur = {static_cast<u8>(u(0, 1)), static_cast<u8>(u(0, 100))};
    r.imageOverlay = {1, static_cast<u8>(rng()), static_cast<u8>(u(0, 1)), static_cast<i32>(rng())};
    r.stroke.size = static_cast<u8>(u(0, 100));
    r.hsl = {1, static_cast<i16>(u(-180, 180)), static_cast<i8>(u(-100, 100)), static_cast<i8>(u(-100, 100))};
    r.mblur = {1, static_cast<i8>(u(-90, 90)), static_cast<u8>(u(0, 100))};
    r.opacity = {static_cast<u8>(u(0, 1)), static_cast<u8>(rng())};
    r.row = static_cast<u8>(rng());
    r.column = static_cast<u8>(rng());
    std::vector<u8> b(92);
    CTessaretteRecordCodec::Encode(r, b.data());
    Rec back;
    ASSERT_EQ(CTessaretteRecordCodec::Decode(b.data(), 92, back), 1);
    ExpectEqual(back, r);
  }
}

// Stored values outside what the effects accept are brought into range, so
// no effect refuses a decoded record.
TEST(TessaretteRecordCodec, DecodeClampsToEffectRanges) {
  std::vector<u8> b(92, 0);
  CTessaretteRecordCodec::Encode(Distinct(), b.data());
  b[1] = 0x80;             // brightness -128
  b[2] = 127;              // contrast
  b[38] = 250;             // bevel size
  b[40] = 0xFF;            // depth 0xFF23
  b[42] = 200;             // soften
  b[45] = 255;             // blur radius
  b[66] = 255;             // stroke size
  b[78] = 0x7F, b[79] = 0xFF;  // hue 32767
  b[80] = 0x80;            // saturation -128
  b[83] = 0x81;            // motion blur angle -127
  b[84] = 200;             // motion blur radius
  b[58] = 7;               // source mode
  b[87] = 9;               // invert flag
  Rec r;
  ASSERT_EQ(CTessaretteRecordCodec::Decode(b.data(), 92, r), 1);
  EXPECT_EQ(r.bc.brightness, -100);
  EXPECT_EQ(r.bc.contrast, 100);
  EXPECT_EQ(r.bevel.size, 200);
  EXPECT_EQ(r.bevel.depth, 999);
  EXPECT_EQ(r.bevel.soften, 20);
  EXPECT_EQ(r.blur.radius, 100);
  EXPECT_EQ(r.stroke.size, 100);
  EXPECT_EQ(r.hsl.hue, 180);
  EXPECT_EQ(r.hsl.saturation, -100);
  EXPECT_EQ(r.mblur.angle, -90);
  EXPECT_EQ(r.mblur.radius, 100);
  EXPECT_EQ(r.imageOverlay.sourceMode, 1);
  EXPECT_EQ(r.invert, 1);

  // A light that is not a direction becomes the default one.
  const f32 nan = std::numeric_limits<f32>::quiet_NaN();
  u32 bits;
  std::memcpy(&bits, &nan, 4);
  b[8] = static_cast<u8>(bits >> 24), b[9] = static_cast<u8>(bits >> 16);
  b[10] = static_cast<u8>(bits >> 8), b[11] = static_cast<u8>(bits);
  ASSERT_EQ(CTessaretteRecordCodec::Decode(b.data(), 92, r), 1);
  f32 def[3];
  CTessarette::DefaultLight(def);
  EXPECT_EQ(r.bevel.light[0], def[0]);
  EXPECT_EQ(r.bevel.light[2], def[2]);
  std::memset(b.data() + 8, 0, 12);
  ASSERT_EQ(CTessaretteRecordCodec::Decode(b.data(), 92, r), 1);
  EXPECT_EQ(r.bevel.light[1], def[1]);

  EXPECT_EQ(CTessaretteRecordCodec::Decode(b.data(), 91, r), 0);
  EXPECT_EQ(CTessaretteRecordCodec::Decode(nullptr, 92, r), 0);
}
