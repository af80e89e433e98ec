#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"

namespace {

typedef CTessarette::SFX_ONEPIECE Rec;

std::vector<u8> Encoded(const Rec& r) {
  std::vector<u8> b(92, 0);
  CTessaretteRecordCodec::Encode(r, b.data());
  return b;
}

// Every field a value of its own, so that a field at a wrong offset shows.
Rec Distinct() {
  Rec r;
  std::memset(&r, 0, sizeof(r));
  r.bc = {1, -7, 42};
  r.bevel = {1, {}, {1.5f, -2.0f, 0.25f}, 0x11, {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27},
             0x12, {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37}, 150, 0, 0x0123, 19, 0};
  r.blur = {1, 77};
  r.colorOverlay = {1, 0x44, {0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57}};
  r.imageOverlay = {1, 0x66, 1, 0, 0x01020304};
  r.stroke = {1, 0x77, 99, {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87}};
  r.hsl = {1, 0, -180, -100, 100};
  r.mblur = {1, -90, 100};
  r.opacity = {1, 0x99};
  r.invert = 1;
  r.selected = 1;
  r.row = 0xAB;
  r.column = 0xCD;
  return r;
}

}  // namespace

TEST(TessaretteRecordCodec, FieldsAtTheirOffsetsBigEndian) {
  std::vector<u8> b(92, 0xEE);
  CTessaretteRecordCodec::Encode(Distinct(), b.data());
  const std::vector<u8> expect = {
      1, 0xF9, 42, 0xEE,                                              // brightness/contrast, reserved
      1, 0, 0, 0, 0x3F, 0xC0, 0, 0, 0xC0, 0, 0, 0, 0x3E, 0x80, 0, 0,  // bevel head, light 1.5, -2, 0.25
      0x11, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27,           // highlight
      0x12, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,           // shadow
      150, 0, 0x01, 0x23, 19, 0,                                      // size, depth, soften
      1, 77,                                                          // blur at 44
      1, 0x44, 0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57,        // colour overlay at 46
      1, 0x66, 1, 0, 0x01, 0x02, 0x03, 0x04,                          // image overlay at 56
      1, 0x77, 99, 0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,    // stroke at 64
      0xEE,                                                           // reserved at 75
      1, 0, 0xFF, 0x4C, 0x9C, 100,                                    // hue/saturation at 76
      1, 0xA6, 100,                                                   // motion blur at 82
      1, 0x99,                                                        // opacity at 85
      1, 1, 0, 0xAB, 0xCD};  // invert, selected, visible, row, column
  ASSERT_EQ(expect.size(), 92u);
  EXPECT_EQ(b, expect);

  Rec back;
  ASSERT_EQ(CTessaretteRecordCodec::Decode(b.data(), 92, back), 1);
  EXPECT_EQ(Encoded(back), Encoded(Distinct()));
  EXPECT_EQ(back.imageOverlay.layerId, 0x01020304);
  EXPECT_EQ(back.hsl.hue, -180);
  EXPECT_EQ(back.bevel.light[1], -2.0f);
}

// Any 92 bytes decode to a record that survives storing and reading again.
TEST(TessaretteRecordCodec, RoundTripOfRandomRecords) {
  std::mt19937 rng(9);
  for (int t = 0; t < 200; t++) {
    std::vector<u8> b(92);
    for (u8& v : b) v = static_cast<u8>(rng() % 4 ? rng() % 8 : rng());  // small values hit the ranges
    Rec r, back;
    ASSERT_EQ(CTessaretteRecordCodec::Decode(b.data(), 92, r), 1);
    const std::vector<u8> once = Encoded(r);
    ASSERT_EQ(CTessaretteRecordCodec::Decode(once.data(), 92, back), 1);
    ASSERT_EQ(Encoded(back), once) << "trial " << t;
  }
}

// Stored values outside what the effects accept are brought into range, so
// no effect refuses a decoded record.
TEST(TessaretteRecordCodec, DecodeClampsToEffectRanges) {
  struct Case {
    u32 offset;
    u8 stored, expect;
  };
  const Case cases[] = {{1, 0x80, 0x9C},   // brightness -128 -> -100
                        {2, 127, 100},     // contrast
                        {38, 250, 200},    // bevel size
                        {42, 200, 20},     // soften
                        {45, 255, 100},    // blur radius
                        {58, 7, 1},        // image overlay source mode
                        {66, 255, 100},    // stroke size
                        {80, 0x80, 0x9C},  // saturation -128 -> -100
                        {83, 0x81, 0xA6},  // motion blur angle -127 -> -90
                        {84, 200, 100},    // motion blur radius
                        {87, 9, 1}};       // invert flag
  for (const Case& k : cases) {
    std::vector<u8> b = Encoded(Distinct());
    b[k.offset] = k.stored;
    Rec r;
    ASSERT_EQ(CTessaretteRecordCodec::Decode(b.data(), 92, r), 1);
    EXPECT_EQ(Encoded(r)[k.offset], k.expect) << "offset " << k.offset;
  }
  std::vector<u8> b = Encoded(Distinct());
  b[40] = 0xFF;                // depth 0xFF23
  b[78] = 0x7F, b[79] = 0xFF;  // hue 32767
  Rec r;
  ASSERT_EQ(CTessaretteRecordCodec::Decode(b.data(), 92, r), 1);
  EXPECT_EQ(r.bevel.depth, 999);
  EXPECT_EQ(r.hsl.hue, 180);

  // A light that is not a direction becomes the default one.
  f32 def[3];
  CTessarette::DefaultLight(def);
  for (u32 bits : {0x7FC00000u, 0u}) {  // a NaN x, then all three zero
    b = Encoded(Distinct());
    b[8] = static_cast<u8>(bits >> 24), b[9] = static_cast<u8>(bits >> 16);
    if (!bits) std::memset(b.data() + 8, 0, 12);
    ASSERT_EQ(CTessaretteRecordCodec::Decode(b.data(), 92, r), 1);
    EXPECT_EQ(std::vector<f32>(r.bevel.light, r.bevel.light + 3), std::vector<f32>(def, def + 3));
  }
  EXPECT_EQ(CTessaretteRecordCodec::Decode(b.data(), 91, r), 0);
  EXPECT_EQ(CTessaretteRecordCodec::Decode(nullptr, 92, r), 0);
}
