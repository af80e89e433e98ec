// The window-free parts of the bevel, motion blur and layer picker
// windows: the light's conversions between disc, vector and angles (with
// hostile vectors), the direction dials' fold, the depth bar's two halves,
// and the layer list over a served document (rows, acceptance, thumbnail
// geometry, composition and marker).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "CFXLayerList.h"
#include "CFXLight.h"
#include "CFXValues.h"
#include "CKLT_FilterHost.h"
#include "CPluginMain.h"
#include "effects/FXTestUtil.h"

namespace {

using fxtest::Bytes;

const kltRECT_s kZone = {316, 58, 436, 178};  // a disc of radius 61.5 about (377, 119)

f64 Length(klt3D_VECTOR v) { return std::sqrt(f64{v.x} * v.x + f64{v.y} * v.y + f64{v.z} * v.z); }

TEST(Light, DiscCentreAndExamples) {
  const CFXLight::DISC d = CFXLight::DiscOf(kZone);
  EXPECT_DOUBLE_EQ(d.cx, 377);
  EXPECT_DOUBLE_EQ(d.cy, 119);
  EXPECT_DOUBLE_EQ(d.r, 61.5);
  // The centre is the light straight above: angle 0, altitude 90.
  const klt3D_VECTOR up = CFXLight::FromPoint(d, d.cx, d.cy);
  EXPECT_EQ(up.x, 0.0f);
  EXPECT_EQ(up.y, 0.0f);
  EXPECT_EQ(up.z, 1.0f);
  i32 angle = -1, altitude = -1;
  CFXLight::ToAngles(up, angle, altitude);
  EXPECT_EQ(angle, 0);
  EXPECT_EQ(altitude, 90);
  // Angle 90 at altitude 45: half way up, straight up on the disc.
  const klt3D_VECTOR v = CFXLight::FromAngles(90, 45);
  EXPECT_NEAR(v.x, 0, 1e-6);
  EXPECT_NEAR(v.y, 0.70710678, 1e-6);
  EXPECT_NEAR(v.z, 0.70710678, 1e-6);
  const kltPOS p = CFXLight::ToPoint(d, v);
  EXPECT_EQ(p.x, 377);
  EXPECT_NEAR(p.y, 119 - 61.5 / 2, 1);
  // Angles count counterclockwise from the right, y upward.
  const klt3D_VECTOR left = CFXLight::FromAngles(180, 0);
  EXPECT_NEAR(left.x, -1, 1e-6);
  EXPECT_NEAR(left.z, 0, 1e-6);
  CFXLight::ToAngles(CFXLight::FromAngles(300, 20), angle, altitude);
  EXPECT_NEAR(angle, 300, 1);
  EXPECT_NEAR(altitude, 20, 1);
}

// Whole degrees stored as a light of floats come back as they were:
// truncation alone would give angle 89 for 90 and altitude 44 for 45.
TEST(Light, WholeDegreesComeBackWhole) {
  for (i32 altitude = 0; altitude < 90; ++altitude)
    for (i32 angle = 0; angle < 360; ++angle) {
      i32 an = -1, al = -1;
      CFXLight::ToAngles(CFXLight::FromAngles(angle, altitude), an, al);
      ASSERT_EQ(an, angle) << angle << " " << altitude;
      ASSERT_EQ(al, altitude) << angle << " " << altitude;
    }
}

TEST(Light, PressesBeyondTheRimAndRoundTrips) {
  const CFXLight::DISC d = CFXLight::DiscOf(kZone);
  // Beyond the disc: the light at R - 1 in the press's direction, low on the horizon.
  const klt3D_VECTOR far = CFXLight::FromPoint(d, d.cx + 64, d.cy);
  EXPECT_GT(far.x, 0.99f);
  EXPECT_NEAR(far.z, (1 / d.r) / std::sqrt((1 - 1 / d.r) * (1 - 1 / d.r) + 1 / (d.r * d.r)), 1e-6);
  EXPECT_NEAR(Length(far), 1, 1e-6);
  i32 angle = 0, altitude = 0;
  CFXLight::ToAngles(far, angle, altitude);
  EXPECT_EQ(angle, 0);
  EXPECT_LE(altitude, 1);
  // Disc to vector to disc, and to angles and back, over the disc.
  for (i32 y = 60; y < 180; y += 7)
    for (i32 x = 318; x < 438; x += 7) {
      const f64 dx = x - d.cx, dy = y - d.cy;
      if (std::sqrt(dx * dx + dy * dy) > d.r - 1) continue;
      const klt3D_VECTOR v = CFXLight::FromPoint(d, x, y);
      EXPECT_NEAR(Length(v), 1, 1e-6);
      const kltPOS back = CFXLight::ToPoint(d, v);
      EXPECT_LE(std::abs(back.x - x), 1) << x << "," << y;
      EXPECT_LE(std::abs(back.y - y), 1) << x << "," << y;
      CFXLight::ToAngles(v, angle, altitude);
      const kltPOS viaAngles = CFXLight::ToPoint(d, CFXLight::FromAngles(angle, altitude));
      EXPECT_LE(std::hypot(viaAngles.x - x, viaAngles.y - y), 3.5) << x << "," << y;
    }
}

// Lights read from a document are not trusted: zero and non-finite vectors
// are the light straight above; a light from below the image lies on the
// rim; any vector gives a point within the disc and angles in range.
TEST(Light, HostileVectors) {
  const CFXLight::DISC d = CFXLight::DiscOf(kZone);
  const f32 nan = std::numeric_limits<f32>::quiet_NaN(), inf = std::numeric_limits<f32>::infinity();
  const klt3D_VECTOR broken[] = {{0, 0, 0}, {nan, 0, 1}, {0, inf, 0}, {-inf, 0, 0}, {nan, nan, nan}};
  for (const klt3D_VECTOR& v : broken) {
    EXPECT_FALSE(CFXLight::IsSane(v));
    const klt3D_VECTOR s = CFXLight::Sane(v);
    EXPECT_TRUE(s.x == 0 && s.y == 0 && s.z == 1);
    const kltPOS p = CFXLight::ToPoint(d, v);
    EXPECT_EQ(p.x, 377);
    EXPECT_EQ(p.y, 119);
  }
  const klt3D_VECTOR odd[] = {{0, 0.7071f, -0.7071f}, {0, 0, -1},      {3e38f, -3e38f, 3e38f},
                              {1e-30f, 0, 0},         {0.5f, 0.5f, 5}, {-2, 1, 1.0001f}};
  for (const klt3D_VECTOR& v : odd) {
    EXPECT_TRUE(CFXLight::IsSane(v));
    const kltPOS p = CFXLight::ToPoint(d, v);
    EXPECT_LE(std::hypot(p.x - d.cx, p.y - d.cy), d.r + 1) << v.x << " " << v.y << " " << v.z;
    i32 angle = -1, altitude = -1;
    CFXLight::ToAngles(v, angle, altitude);
    EXPECT_TRUE(angle >= 0 && angle <= 360) << angle;
    EXPECT_TRUE(altitude >= 0 && altitude <= 90) << altitude;
  }
  // From below: on the rim, at the horizon; an unnormalised vector by its direction.
  i32 angle = 0, altitude = 0;
  CFXLight::ToAngles({0, 0.7071f, -0.7071f}, angle, altitude);
  EXPECT_EQ(angle, 90);
  EXPECT_EQ(altitude, 0);
  EXPECT_EQ(CFXLight::ToPoint(d, {0, 0.7071f, -0.7071f}).y, static_cast<i32>(119 - 61.5));
  CFXLight::ToAngles({0.5f, 0.5f, 5}, angle, altitude);
  EXPECT_NEAR(angle, 45, 1);
  EXPECT_EQ(altitude, 81);  // atan(5 / 0.7071): 81.95 degrees
}

TEST(Values, DirectionsFoldIntoAngles) {
  const std::pair<u32, i32> folds[] = {{0, 0},   {45, 45},  {90, 90},   {91, -89},  {135, -45},
                                       {180, 0}, {270, 90}, {271, -89}, {300, -60}, {359, -1}};
  for (const auto& f : folds) EXPECT_EQ(CFXValues::FoldDirection(f.first), f.second) << f.first;
  EXPECT_EQ(CFXValues::UnfoldAngle(-90), 270u);
  EXPECT_EQ(CFXValues::UnfoldAngle(-45), 315u);
  EXPECT_EQ(CFXValues::UnfoldAngle(0), 0u);
  EXPECT_EQ(CFXValues::UnfoldAngle(90), 90u);
  // Every angle comes back from its dial value; -90 comes back as 90, the same direction.
  for (i32 a = -89; a <= 90; ++a) EXPECT_EQ(CFXValues::FoldDirection(CFXValues::UnfoldAngle(a)), a);
  EXPECT_EQ(CFXValues::FoldDirection(CFXValues::UnfoldAngle(-90)), 90);
}

TEST(Values, DepthBarInTwoHalves) {
  const u32 w = 261;
  u32 from = 0, to = 0;
  ASSERT_TRUE(CFXValues::DepthRangeColumns(100, 100, w, from, to));
  EXPECT_EQ(from, (100 * w - 100) / 200);
  EXPECT_EQ(to, from + 1);
  ASSERT_TRUE(CFXValues::DepthRangeColumns(550, 3, w, from, to));
  EXPECT_EQ(from, 3 * (w - 1) / 200);
  EXPECT_EQ(to, (100 * w - 100) / 200 + (w - 1) * 225 / 899 + 1);
  ASSERT_TRUE(CFXValues::DepthRangeColumns(999, 0, w, from, to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, (100 * w - 100) / 200 + (w - 1) * 449 / 899 + 1);  // (999 - 100) / 2 truncates
  EXPECT_GE(to, w - 2);
  EXPECT_FALSE(CFXValues::DepthRangeColumns(5, 6, 0, from, to));
  // The colour a renderer takes: red, green and blue, or grey three times.
  const u8 colour[8] = {85, 255, 10, 20, 1, 2, 3, 4};
  u8 rgb[3];
  CFXValues::RenderColour(colour, 1, rgb);
  EXPECT_EQ(Bytes(rgb, rgb + 3), (Bytes{255, 10, 20}));
  CFXValues::RenderColour(colour, 0, rgb);
  EXPECT_EQ(Bytes(rgb, rgb + 3), (Bytes{85, 85, 85}));
}

// ---------------------------------------------------------------------------
// The layer list over a served document of 200 x 80

struct Served {
  CKLT_FilterHost host;
  CPluginMain plugin;
  int16_t result = 0;
  CFXLayerList list;

  // Layers (host order): "sky" covers the document, "pond" a part of it,
  // "thin" a strip 1 pixel high, "tower" 10 x 60, "empty" nothing; the
  // merged document is the sky.
  Served() {
    EXPECT_TRUE(host.SetDocument(klpModeRGB, 200, 80, false));
    fxtest::AddLayer(host, {5, "sky", {0, 0, 200, 80}, {20, 40, 200, 255}});
    fxtest::AddLayer(host, {6, "pond", {10, 10, 60, 50}, {0, 128, 64, 128}});
    fxtest::AddLayer(host, {7, "thin", {0, 30, 200, 31}, {9, 9, 9, 255}});
    fxtest::AddLayer(host, {8, "tower", {80, 10, 90, 70}, {250, 0, 0, 255}});
    fxtest::AddLayer(host, {9, "empty", {0, 0, 200, 80}, {1, 1, 1, 0}});
    host.SetMergedComposite({Bytes(16000, 20), Bytes(16000, 40), Bytes(16000, 200)}, {});
    plugin.SetHostPointers(&host.Record(), nullptr, &result);
    EXPECT_EQ(plugin.FillPluginData(), 1);
    EXPECT_EQ(plugin.PS_FillRealLayerBounds(plugin.GetPluginDataPtr()->filterArea, 1), 1);
  }
  std::vector<std::string> Rows() {
    std::vector<std::string> out;
    for (u32 r = 0; r < list.GetRowCount(); ++r) {
      CKLF_String text;
      const u32 i = list.RowIndex(r);
      EXPECT_TRUE(CFXLayerList::RowText(*plugin.GetLayerInfo(i), list.IsAcceptable(plugin, i), text));
      out.push_back(text.GetStr());
    }
    return out;
  }
};

// Acceptance is exact covering; the rows of a filtered list, last entry
// first, say where the preselected layer is (the window shows the rest).
TEST(LayerList, AcceptanceAndRows) {
  Served s;
  ASSERT_EQ(s.plugin.GetLayerCount(), 6u);
  s.list.SetTarget({12, 12, 40, 40});
  EXPECT_EQ(s.list.Build(s.plugin, 1, 6), 1);  // the pond, second of the covering rows
  EXPECT_EQ(s.Rows(), (std::vector<std::string>{"+\t| --COMPOSITE--", "+\t| pond", "+\t| sky"}));
  EXPECT_EQ(s.list.Build(s.plugin, 1, 8), -1);  // the tower is filtered out
  EXPECT_TRUE(CFXLayerList::Covers({10, 10, 60, 50}, {10, 10, 60, 50}));
  const kltRECT_s shorter[] = {{11, 10, 60, 50}, {10, 11, 60, 50}, {10, 10, 59, 50}, {10, 10, 60, 49}};
  for (const kltRECT_s& b : shorter) EXPECT_FALSE(CFXLayerList::Covers(b, {10, 10, 60, 50}));
  EXPECT_FALSE(s.list.IsAcceptable(s.plugin, 6));
  // A name that fills its buffer without an end still makes a row.
  kltLAYERINFO_s e = {1, {0, 0, 1, 1}, {}};
  std::fill(e.name, e.name + sizeof e.name, 'n');
  CKLF_String text;
  ASSERT_TRUE(CFXLayerList::RowText(e, 1, text));
  EXPECT_EQ(text.GetLength(), 4u + sizeof e.name);
}

TEST(LayerList, ThumbnailSizesAndComposition) {
  Served s;
  CFXLayerList::THUMB t;
  ASSERT_TRUE(CFXLayerList::Geometry({0, 0, 200, 50}, 160, 160, t));  // wide
  EXPECT_EQ(t.w, 160);
  EXPECT_EQ(t.h, 40);
  EXPECT_EQ(t.x0, 0);
  EXPECT_EQ(t.y0, 60);
  ASSERT_TRUE(CFXLayerList::Geometry({5, 5, 15, 65}, 160, 160, t));  // tall
  EXPECT_EQ(t.w, 26);
  EXPECT_EQ(t.h, 160);
  EXPECT_EQ(t.x0, 67);
  EXPECT_EQ(t.y0, 0);
  // A side that comes out 0 cannot be shown: a failure, not an empty read.
  EXPECT_FALSE(CFXLayerList::Geometry({0, 0, 1000, 1}, 160, 160, t));
  EXPECT_FALSE(CFXLayerList::Geometry(klNullRect, 160, 160, t));
  s.list.SetTarget({12, 12, 40, 40});
  EXPECT_FALSE(s.list.ReadThumbnail(s.plugin, 2, 160, 160));  // "thin": 200 x 1

  // The half-transparent pond over the target, composed over the patterns.
  ASSERT_TRUE(s.list.ReadThumbnail(s.plugin, 1, 160, 160));
  EXPECT_EQ(s.list.GetThumb().w, 160);
  EXPECT_EQ(s.list.GetArea().left, 12);
  CKLF_Image preview;
  ASSERT_TRUE(preview.Create(160, 160, 2));
  const kltRGBA8 frame[2] = {{1, 2, 3, 255}, {1, 2, 3, 255}}, alpha[2] = {{200, 200, 200, 255}, {200, 200, 200, 255}};
  ASSERT_TRUE(s.list.Compose(preview, frame, alpha));
  const kltRGBA8 in = preview.GetPixel(80, 80);
  EXPECT_EQ(in.red, (200 * 127 + 128 * 0) >> 8);
  EXPECT_EQ(in.green, (200 * 127 + 128 * 128) >> 8);
  EXPECT_EQ(in.blue, (200 * 127 + 128 * 64) >> 8);
  // The tower is not acceptable: its whole bounds, framed, tall.
  ASSERT_TRUE(s.list.ReadThumbnail(s.plugin, 3, 160, 160));
  EXPECT_EQ(s.list.GetArea().top, 10);
  EXPECT_EQ(s.list.GetThumb().w, 26);
  ASSERT_TRUE(s.list.Compose(preview, frame, alpha));
  const kltRGBA8 out = preview.GetPixel(10, 80), tower = preview.GetPixel(80, 80);
  EXPECT_EQ((std::vector<int>{out.red, out.green, out.blue}), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(tower.red, (200 * 0 + 255 * 250) >> 8);
}

// The target on the thumbnail of a whole layer, each way at its own scale
// (they differ in a preview that is not square).
TEST(LayerList, MarkerUsesEachSidesScale) {
  // An area of 100 x 50 shown 160 x 50 in a preview of 160 x 100.
  CFXLayerList::THUMB t;
  ASSERT_TRUE(CFXLayerList::Geometry({0, 0, 100, 50}, 160, 100, t));
  ASSERT_EQ(t.h, 50);
  ASSERT_EQ(t.y0, 25);
  kltRECT_s m, b;
  ASSERT_TRUE(CFXLayerList::Marker(t, {0, 0, 100, 50}, {50, 25, 60, 50}, 160, 100, m, b));
  EXPECT_EQ(m.left, 80);
  EXPECT_EQ(m.top, 50);  // half way down the thumbnail
  EXPECT_EQ(m.right, 96);
  EXPECT_EQ(m.bottom, 75);  // its bottom
  EXPECT_EQ(b.left, 79);
  EXPECT_EQ(b.bottom, 76);
  // Tiny targets show 2 pixels a side; off the preview, nothing.
  ASSERT_TRUE(CFXLayerList::Marker(t, {0, 0, 100, 50}, {0, 0, 1, 1}, 160, 100, m, b));
  EXPECT_EQ(m.right - m.left, 2);
  EXPECT_EQ(m.bottom - m.top, 2);
  EXPECT_EQ(b.left, 0);  // the frame is clipped to the preview
  EXPECT_FALSE(CFXLayerList::Marker(t, {0, 0, 100, 50}, {900, 900, 950, 950}, 160, 100, m, b));
  EXPECT_FALSE(CFXLayerList::Marker(t, {0, 0, 100, 50}, {-2147483647, 0, -2147483000, 5}, 160, 100, m, b));
}

}  // namespace
