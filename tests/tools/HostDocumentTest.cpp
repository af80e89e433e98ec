#include <gtest/gtest.h>

#include <random>

#include "CKLT_HostDocument.h"
#include "support/TestSupport.h"

namespace {

CKLT_HostDocument::Layer RandomLayer(std::mt19937& rng, int colours, int32_t x, int32_t y, int32_t w, int32_t h,
                                     bool alpha, const char* name) {
  CKLT_HostDocument::Layer l;
  l.name = name;
  l.left = x;
  l.top = y;
  l.width = w;
  l.height = h;
  for (int c = 0; c < colours; ++c) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h);
    for (auto& v : p) v = static_cast<uint8_t>(rng());
    l.planes.push_back(p);
  }
  if (alpha) {
    l.alpha.resize(static_cast<size_t>(w) * h);
    for (auto& v : l.alpha) v = static_cast<uint8_t>(rng());
  }
  return l;
}

TEST(HostDocument, LayeredPsdRoundTripInEveryMode) {
  klftest::TempDir dir;
  std::mt19937 rng(9);
  for (int16_t mode : {int16_t(klpModeGray), int16_t(klpModeRGB), int16_t(klpModeCMYK)}) {
    CKLT_HostDocument doc;
    doc.mode = mode;
    doc.width = 31;
    doc.height = 17;
    doc.resolution = 150;
    doc.layers.push_back(RandomLayer(rng, doc.ColourPlanes(), 0, 0, 31, 17, false, "Background"));
    doc.layers.push_back(RandomLayer(rng, doc.ColourPlanes(), 4, 3, 10, 9, true, "top"));
    doc.layers.back().opacity = 128;
    doc.layers.back().visible = false;
    std::string error;
    ASSERT_TRUE(doc.WritePSD(dir.File("d.psd"), error)) << error;
    CKLT_HostDocument back;
    ASSERT_TRUE(back.Read(dir.File("d.psd"), error)) << error;
    EXPECT_EQ(back.mode, mode);
    EXPECT_EQ(back.width, 31);
    ASSERT_EQ(back.layers.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(back.layers[i].name, doc.layers[i].name);
      EXPECT_EQ(back.layers[i].left, doc.layers[i].left);
      EXPECT_EQ(back.layers[i].width, doc.layers[i].width);
      EXPECT_EQ(back.layers[i].planes, doc.layers[i].planes);
    }
    EXPECT_EQ(back.layers[1].alpha, doc.layers[1].alpha);
    EXPECT_EQ(back.layers[1].opacity, 128);
    EXPECT_FALSE(back.layers[1].visible);
  }
}

TEST(HostDocument, PngKeepsPixelsAndRefusesCmyk) {
  klftest::TempDir dir;
  std::mt19937 rng(10);
  for (int16_t mode : {int16_t(klpModeGray), int16_t(klpModeRGB)}) {
    for (bool alpha : {false, true}) {
      CKLT_HostDocument doc;
      doc.mode = mode;
      doc.width = 13;
      doc.height = 7;
      doc.layers.push_back(RandomLayer(rng, doc.ColourPlanes(), 0, 0, 13, 7, alpha, "Layer 1"));
      for (auto& v : doc.layers[0].alpha) v = static_cast<uint8_t>(v | 1);
      std::string error;
      ASSERT_TRUE(doc.WritePNG(dir.File("d.png"), error)) << error;
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
  CKLT_HostDocument cmyk;
  cmyk.mode = klpModeCMYK;
  cmyk.width = cmyk.height = 2;
  cmyk.layers.push_back(RandomLayer(rng, 4, 0, 0, 2, 2, false, "x"));
  std::string error;
  EXPECT_FALSE(cmyk.Write(dir.File("c.png"), error));
  EXPECT_NE(error.find("CMYK"), std::string::npos);
  EXPECT_FALSE(cmyk.Write(dir.File("c.jpg"), error));
  klftest::WriteFileBytes(dir.File("junk.png"), {1, 2, 3});
  EXPECT_FALSE(cmyk.Read(dir.File("junk.png"), error));
  klftest::WriteFileBytes(dir.File("cut.png"), {0x89, 'P', 'N', 'G', 13, 10});
  EXPECT_FALSE(cmyk.Read(dir.File("cut.png"), error));
}

TEST(HostDocument, CanvasFlattenAndConversion) {
  std::mt19937 rng(11);
  CKLT_HostDocument doc;
  doc.mode = klpModeRGB;
  doc.width = 8;
  doc.height = 6;
  doc.layers.push_back(RandomLayer(rng, 3, -2, 1, 5, 3, false, "a"));
  std::vector<std::vector<uint8_t>> planes;
  std::vector<uint8_t> alpha;
  doc.LayerToCanvas(doc.layers[0], planes, alpha);
  EXPECT_TRUE(doc.LayerHasTransparency(doc.layers[0]));
  EXPECT_EQ(alpha[1 * 8 + 0], 255);
  EXPECT_EQ(alpha[1 * 8 + 3], 0);
  EXPECT_EQ(alpha[0], 0);
  EXPECT_EQ(planes[1][2 * 8 + 1], doc.layers[0].planes[1][1 * 5 + 3]);
  // An opaque layer over everything hides what lies below.
  doc.layers.push_back(RandomLayer(rng, 3, 0, 0, 8, 6, false, "b"));
  EXPECT_FALSE(doc.LayerHasTransparency(doc.layers[1]));
  doc.Flatten(planes, alpha);
  EXPECT_EQ(planes[2], doc.layers[1].planes[2]);
  EXPECT_EQ(alpha, std::vector<uint8_t>(48, 255));
  // Half opacity over it mixes.
  doc.layers[1].opacity = 0;
  doc.Flatten(planes, alpha);
  EXPECT_EQ(alpha[0], 0);
  ASSERT_TRUE(doc.ConvertTo(klpModeGray));
  EXPECT_EQ(doc.ColourPlanes(), 1);
  EXPECT_EQ(doc.layers[0].planes.size(), 1u);
  ASSERT_TRUE(doc.ConvertTo(klpModeCMYK));
  EXPECT_EQ(doc.layers[1].planes.size(), 4u);
  EXPECT_FALSE(doc.ConvertTo(klpModeLab));
}

}  // namespace
