#include <gtest/gtest.h>

#include <random>

#include "CKLT_HostDocument.h"
#include "support/TestSupport.h"

namespace {

typedef std::vector<uint8_t> Bytes;

CKLT_HostDocument::Layer RandomLayer(std::mt19937& rng, int colours, int32_t x, int32_t y, int32_t w, int32_t h,
                                     bool alpha) {
  CKLT_HostDocument::Layer l;
  l.name = "layer " + std::to_string(x);
  l.left = x;
  l.top = y;
  l.width = w;
  l.height = h;
  for (int c = 0; c < colours + alpha; ++c) l.planes.push_back(klftest::RandomBytes(rng, static_cast<size_t>(w) * h));
  if (alpha) {
    l.alpha = l.planes.back();
    l.planes.pop_back();
  }
  return l;
}

CKLT_HostDocument Doc(int16_t mode, int32_t w, int32_t h) {
  CKLT_HostDocument doc;
  doc.mode = mode;
  doc.width = w;
  doc.height = h;
  return doc;
}

TEST(HostDocument, LayeredPsdRoundTripInEveryMode) {
  klftest::TempDir dir;
  std::mt19937 rng(9);
  for (int16_t mode : {int16_t(klpModeGray), int16_t(klpModeRGB), int16_t(klpModeCMYK)}) {
    CKLT_HostDocument doc = Doc(mode, 31, 17);
    doc.layers.push_back(RandomLayer(rng, doc.ColourPlanes(), 0, 0, 31, 17, false));
    doc.layers.push_back(RandomLayer(rng, doc.ColourPlanes(), 4, 3, 10, 9, true));
    doc.layers.back().opacity = 128;
    doc.layers.back().visible = false;
    std::string error;
    ASSERT_TRUE(doc.Write(dir.File("d.psd"), error)) << error;
    CKLT_HostDocument back;
    ASSERT_TRUE(back.Read(dir.File("d.psd"), error)) << error;
    EXPECT_EQ(back.mode, mode);
    EXPECT_EQ(back.width, 31);
    ASSERT_EQ(back.layers.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      const auto &a = back.layers[i], &b = doc.layers[i];
      const Bytes alpha = b.alpha.empty() ? Bytes(b.planes[0].size(), 255) : b.alpha;  // opaque is stored
      EXPECT_EQ(std::make_tuple(a.name, a.left, a.top, a.width, a.planes, a.alpha, a.opacity, a.visible),
                std::make_tuple(b.name, b.left, b.top, b.width, b.planes, alpha, b.opacity, b.visible))
          << mode << " layer " << i;
    }
  }
}

TEST(HostDocument, PngKeepsPixelsAndRefusesDamage) {
  klftest::TempDir dir;
  std::mt19937 rng(10);
  std::string error;
  for (int16_t mode : {int16_t(klpModeGray), int16_t(klpModeRGB)}) {
    for (bool alpha : {false, true}) {
      CKLT_HostDocument doc = Doc(mode, 13, 7);
      doc.layers.push_back(RandomLayer(rng, doc.ColourPlanes(), 0, 0, 13, 7, alpha));
      for (auto& v : doc.layers[0].alpha) v = static_cast<uint8_t>(v | 1);
      ASSERT_TRUE(doc.Write(dir.File("d.png"), error)) << error;
      CKLT_HostDocument back;
      ASSERT_TRUE(back.Read(dir.File("d.png"), error)) << error;
      EXPECT_EQ(back.mode, mode);
      ASSERT_EQ(back.layers.size(), 1u);
      EXPECT_EQ(back.layers[0].alpha, doc.layers[0].alpha);  // empty when opaque
      if (!alpha) {
        EXPECT_EQ(back.layers[0].planes, doc.layers[0].planes);
      }
    }
  }
  // Damaged files are refused (CMYK and other extensions: the program's tests).
  klftest::WriteFileBytes(dir.File("junk.png"), {1, 2, 3});
  klftest::WriteFileBytes(dir.File("cut.png"), {0x89, 'P', 'N', 'G', 13, 10});
  CKLT_HostDocument back;
  EXPECT_FALSE(back.Read(dir.File("junk.png"), error));
  EXPECT_FALSE(back.Read(dir.File("cut.png"), error));
}

TEST(HostDocument, CanvasFlattenAndConversion) {
  std::mt19937 rng(11);
  CKLT_HostDocument doc = Doc(klpModeRGB, 8, 6);
  doc.layers.push_back(RandomLayer(rng, 3, -2, 1, 5, 3, false));
  std::vector<Bytes> planes;
  Bytes alpha;
  doc.LayerToCanvas(doc.layers[0], planes, alpha);
  EXPECT_TRUE(doc.LayerHasTransparency(doc.layers[0]));
  EXPECT_EQ(Bytes(alpha.begin() + 8, alpha.begin() + 12), (Bytes{255, 255, 255, 0}));
  EXPECT_EQ(alpha[0], 0);
  EXPECT_EQ(planes[1][2 * 8 + 1], doc.layers[0].planes[1][1 * 5 + 3]);
  // An opaque layer over everything hides what lies below; at opacity 0
  // it is not there.
  doc.layers.push_back(RandomLayer(rng, 3, 0, 0, 8, 6, false));
  EXPECT_FALSE(doc.LayerHasTransparency(doc.layers[1]));
  doc.Flatten(planes, alpha);
  EXPECT_EQ(planes[2], doc.layers[1].planes[2]);
  EXPECT_EQ(alpha, Bytes(48, 255));
  doc.layers[1].opacity = 0;
  doc.Flatten(planes, alpha);
  EXPECT_EQ(alpha[0], 0);
  ASSERT_TRUE(doc.ConvertTo(klpModeGray));
  EXPECT_EQ(doc.layers[0].planes.size(), 1u);
  ASSERT_TRUE(doc.ConvertTo(klpModeCMYK));
  EXPECT_EQ(doc.layers[1].planes.size(), 4u);
  EXPECT_FALSE(doc.ConvertTo(klpModeLab));
}

}  // namespace
