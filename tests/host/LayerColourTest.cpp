#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "CKLF_Image.h"
#include "HostTestSupport.h"

namespace {

// A 20 x 10 document with two layers: "ink" (RGB, transparency with
// content at x 3..7, y 2..5) and "paper" (opaque, covering everything).
struct LayeredHost {
  CKLP_FilterHost host;
  CPluginMain plugin;
  int16_t result = 0;
  explicit LayeredHost(int colours = 3) {
    host.SetDocument(colours == 3 ? klpModeRGB : colours == 4 ? klpModeCMYK : klpModeGray, 20, 10, true);
    CKLP_FilterHost::Layer ink;
    ink.id = 11;
    ink.name = "ink";
    ink.bounds = {0, 0, 20, 10};
    for (int c = 0; c < colours; ++c) {
      std::vector<uint8_t> p(200);
      for (int i = 0; i < 200; ++i) p[i] = static_cast<uint8_t>(i * (c + 1));
      ink.planes.push_back(p);
    }
    ink.transparency.assign(200, 0);
    for (int y = 2; y <= 5; ++y)
      for (int x = 3; x <= 7; ++x) ink.transparency[y * 20 + x] = static_cast<uint8_t>(10 + x);
    host.AddLayer(ink);
    CKLP_FilterHost::Layer paper;
    paper.id = 12;
    paper.name = "paper with a name longer than the table keeps, which goes on and on for more than ninety-nine bytes";
    paper.bounds = {0, 0, 20, 10};
    paper.planes.assign(colours, std::vector<uint8_t>(200, 240));
    host.AddLayer(paper);
    CKLP_FilterHost::Layer text;
    text.id = 13;
    text.name = "text";
    text.pixelBased = false;
    text.bounds = {0, 0, 20, 10};
    text.planes.assign(colours, std::vector<uint8_t>(200, 1));
    host.AddLayer(text);
    std::vector<uint8_t> mergedT(200, 0);
    mergedT[9 * 20 + 19] = 1;
    host.SetMergedComposite(std::vector<std::vector<uint8_t>>(colours, std::vector<uint8_t>(200, 7)), mergedT);
    plugin.SetHostPointers(&host.Record(), nullptr, &result);
  }
};

TEST(Layers, TableTrimsToVisibleContent) {
  LayeredHost h;
  ASSERT_TRUE(h.plugin.FillPluginData());
  EXPECT_EQ(h.plugin.GetPluginDataPtr()->layerAccess, 1);
  ASSERT_TRUE(h.plugin.PS_FillRealLayerBounds(klNullRect, 0));
  ASSERT_EQ(h.plugin.GetLayerCount(), 3u);  // two pixel layers and the merged document
  const kltLAYERINFO_s* ink = h.plugin.GetLayerInfo(0);
  EXPECT_EQ(ink->layerId, 11);
  EXPECT_STREQ(ink->name, "ink");
  EXPECT_EQ(ink->bounds.left, 3);
  EXPECT_EQ(ink->bounds.top, 2);
  EXPECT_EQ(ink->bounds.right, 8);
  EXPECT_EQ(ink->bounds.bottom, 6);
  const kltLAYERINFO_s* paper = h.plugin.GetLayerInfo(1);
  EXPECT_EQ(paper->bounds.right, 20);  // no transparency: the channel's bounds
  EXPECT_EQ(std::strlen(paper->name), 99u);
  const kltLAYERINFO_s* merged = h.plugin.GetLayerInfo(2);
  EXPECT_EQ(merged->layerId, -1);
  EXPECT_STREQ(merged->name, "--COMPOSITE--");
  EXPECT_EQ(merged->bounds.left, 19);
  EXPECT_EQ(merged->bounds.top, 9);
  EXPECT_EQ(h.plugin.GetLayerInfo(3), nullptr);

  // Kept until forced; a rectangle cuts the bounds, an empty cut is null.
  ASSERT_TRUE(h.plugin.PS_FillRealLayerBounds(kltRECT_s{0, 0, 5, 4}, 0));
  EXPECT_EQ(h.plugin.GetLayerInfo(0)->bounds.right, 8);
  ASSERT_TRUE(h.plugin.PS_FillRealLayerBounds(kltRECT_s{0, 0, 5, 4}, 1));
  EXPECT_EQ(h.plugin.GetLayerInfo(0)->bounds.right, 5);
  EXPECT_EQ(h.plugin.GetLayerInfo(0)->bounds.bottom, 4);
  EXPECT_TRUE(klIsNullRect(h.plugin.GetLayerInfo(2)->bounds));

  // A fully transparent layer has no bounds.
  h.host.Layers()[0].transparency.assign(200, 0);
  h.host.ResetRun();
  h.plugin.SetHostPointers(&h.host.Record(), nullptr, &h.result);
  ASSERT_TRUE(h.plugin.FillPluginData());
  ASSERT_TRUE(h.plugin.PS_FillRealLayerBounds(klNullRect, 1));
  EXPECT_TRUE(klIsNullRect(h.plugin.GetLayerInfo(0)->bounds));
}

TEST(Layers, ReadsWithAndWithoutConversion) {
  LayeredHost h;
  ASSERT_TRUE(h.plugin.FillPluginData());
  kltRECT_s r = {2, 1, 9, 7};
  std::vector<std::vector<u8>> buf(5, std::vector<u8>(42, 0));
  u8* planes[5] = {buf[0].data(), buf[1].data(), buf[2].data(), buf[3].data(), buf[4].data()};
  ASSERT_TRUE(h.plugin.PS_GetLayer(11, planes, 7, 6, 4, r));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 7; ++x) {
      int i = (y + 1) * 20 + x + 2;
      ASSERT_EQ(buf[1][y * 7 + x], static_cast<u8>(i * 2));
      ASSERT_EQ(buf[3][y * 7 + x], h.host.Layers()[0].transparency[i]);
    }
  ASSERT_TRUE(h.plugin.PS_GetLayer(12, planes, 7, 6, 4, r));
  EXPECT_EQ(buf[3], std::vector<u8>(42, 255));  // opaque layer
  EXPECT_FALSE(h.plugin.PS_GetLayer(11, planes, 7, 6, 3, r));  // wrong plane count
  EXPECT_FALSE(h.plugin.PS_GetLayer(11, planes, 6, 6, 4, r));  // rectangle not width x height
  EXPECT_FALSE(h.plugin.PS_GetLayer(99, planes, 7, 6, 4, r));  // no such layer
  EXPECT_FALSE(h.plugin.PS_GetLayer(11, planes, 7, 6, 4, kltRECT_s{15, 5, 22, 11}));  // outside
  EXPECT_TRUE(klIsNullRect(h.plugin.PS_GetLayerBounds(99)));
  EXPECT_EQ(h.plugin.PS_GetLayerBounds(-1).right, 20);

  LayeredHost gray(1);
  ASSERT_TRUE(gray.plugin.FillPluginData());
  ASSERT_TRUE(gray.plugin.PS_GetLayerWithColorConversionIfNeeded(11, planes, 7, 6, 4, r));
  EXPECT_EQ(buf[0], buf[1]);
  EXPECT_EQ(buf[0], buf[2]);
  EXPECT_EQ(buf[0][0], static_cast<u8>(22));

  LayeredHost cmyk(4);
  ASSERT_TRUE(cmyk.plugin.FillPluginData());
  ASSERT_TRUE(cmyk.plugin.PS_GetLayerWithColorConversionIfNeeded(11, planes, 7, 6, 4, r));
  int i = 1 * 20 + 2;  // top-left of r
  u8 k = static_cast<u8>(i * 4);
  EXPECT_EQ(buf[0][0], static_cast<u8>((static_cast<u8>(i) * k) >> 8));
  EXPECT_EQ(buf[2][0], static_cast<u8>((static_cast<u8>(i * 3) * k) >> 8));
  EXPECT_EQ(buf[3][0], 0);  // then the transparency
}

TEST(Layers, NoSuiteNoLayers) {
  LayeredHost h;
  h.host.GetServices().basicSuite = false;
  h.host.ResetRun();
  h.plugin.SetHostPointers(&h.host.Record(), nullptr, &h.result);
  ASSERT_TRUE(h.plugin.FillPluginData());
  EXPECT_EQ(h.plugin.GetPluginDataPtr()->layerAccess, 0);
  EXPECT_FALSE(h.plugin.PS_FillRealLayerBounds(klNullRect, 1));
  LayeredHost old;
  old.host.SetDocumentInfoVersion(1);
  old.host.ResetRun();
  old.plugin.SetHostPointers(&old.host.Record(), nullptr, &old.result);
  ASSERT_TRUE(old.plugin.FillPluginData());
  EXPECT_EQ(old.plugin.GetPluginDataPtr()->layerAccess, 0);
  // The suite is given back when the plug-in object lets go of the host.
  LayeredHost back;
  ASSERT_TRUE(back.plugin.FillPluginData());
  EXPECT_EQ(back.host.AcquiredSuites(), 1);
  back.plugin.SetHostPointers(nullptr, nullptr, nullptr);
  EXPECT_EQ(back.host.AcquiredSuites(), 0);
}

TEST(Colours, HostConversionsAndTheInternalFallback) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeGray, 2, 2, false);
  const uint8_t fore[4] = {90, 0, 0, 0}, back[4] = {200, 0, 0, 0};
  host.SetColours(fore, back);
  CPluginMain p;
  int16_t r = 0;
  p.SetHostPointers(&host.Record(), nullptr, &r);
  ASSERT_TRUE(p.FillPluginData());
  kltRGBA8 c;
  ASSERT_TRUE(p.GetForeColor_RGB(c));
  EXPECT_EQ(c.red, 90);
  EXPECT_EQ(c.blue, 90);
  EXPECT_EQ(c.alpha, 255);
  ASSERT_TRUE(p.GetBgColor_RGB(c));
  EXPECT_EQ(c.green, 200);

  u8 line[8] = {0, 30, 60, 90, 0, 0, 0, 0};
  p.Fill8ByteColorLineFromRGB(line);
  EXPECT_EQ(line[0], (30 * 299 + 60 * 587 + 90 * 114 + 500) / 1000);  // the host's gray
  EXPECT_EQ(line[7], 90);  // the host's CMYK (255 is no ink)

  // The picker: cancelled, then a choice refills the whole line.
  EXPECT_FALSE(p.SelectColor_ALL(line));
  host.SetPickedColour(true, 255, 0, 0);
  ASSERT_TRUE(p.SelectColor_ALL(line));
  EXPECT_EQ(line[1], 255);
  EXPECT_EQ(line[2], 0);
  EXPECT_EQ(line[0], (255 * 299 + 500) / 1000);

  // Without colour services: the formulas, and no picker.
  host.GetServices().colorServices = false;
  host.ResetRun();
  p.SetHostPointers(&host.Record(), nullptr, &r);
  ASSERT_TRUE(p.FillPluginData());
  EXPECT_FALSE(p.GetForeColor_RGB(c));
  u8 line2[8] = {0, 30, 60, 91, 0, 0, 0, 0};
  p.Fill8ByteColorLineFromRGB(line2);
  EXPECT_EQ(line2[0], 60);
  EXPECT_EQ(line2[4], 225);
  EXPECT_EQ(line2[6], 164);
  EXPECT_EQ(line2[7], 0);
  EXPECT_FALSE(p.SelectColor_RGB(c));

  // The internal array conversion of each kind.
  std::mt19937 rng(1);
  std::vector<std::vector<u8>> src(4, std::vector<u8>(50)), dst(3, std::vector<u8>(50));
  for (auto& pl : src)
    for (auto& v : pl) v = static_cast<u8>(rng());
  u8* s[4] = {src[0].data(), src[1].data(), src[2].data(), src[3].data()};
  u8* d[3] = {dst[0].data(), dst[1].data(), dst[2].data()};
  ASSERT_TRUE(p.ConvertArrayToRGB_Internal(s, d, 50));  // gray
  EXPECT_EQ(dst[2], src[0]);
  EXPECT_FALSE(p.ConvertArrayToRGB(s, d, 50));  // needs colour services
  CKLP_FilterHost cmyk;
  cmyk.SetDocument(klpModeCMYK, 2, 2, false);
  CPluginMain q;
  q.SetHostPointers(&cmyk.Record(), nullptr, &r);
  ASSERT_TRUE(q.FillPluginData());
  ASSERT_TRUE(q.ConvertArrayToRGB_Internal(s, d, 50));
  for (int i = 0; i < 50; ++i) ASSERT_EQ(dst[1][i], (src[1][i] * src[3][i]) >> 8);
  ASSERT_TRUE(q.ConvertArrayToRGB(s, d, 50));  // the host's conversion agrees here
  for (int i = 0; i < 50; ++i) ASSERT_EQ(dst[0][i], src[0][i] * src[3][i] / 255);
}

}  // namespace

namespace {

TEST(Layers, ScaledIntoAnRGBAImage) {
  LayeredHost h;
  ASSERT_TRUE(h.plugin.FillPluginData());
  CKLF_Image img;
  ASSERT_TRUE(img.Create(10, 5, 2));
  ASSERT_TRUE(h.plugin.PS_GetScaledLayerRGB(11, &img, kltRECT_s{0, 0, 20, 10}));
  // Every second pixel of every second row.
  for (u16 y = 0; y < 5; ++y)
    for (u16 x = 0; x < 10; ++x) {
      kltRGBA8 p = img.GetPixel(x, y);
      int i = (2 * y) * 20 + 2 * x;
      ASSERT_EQ(p.red, static_cast<u8>(i));
      ASSERT_EQ(p.blue, static_cast<u8>(i * 3));
      ASSERT_EQ(p.alpha, h.host.Layers()[0].transparency[i]);
    }
  ASSERT_TRUE(h.plugin.PS_GetScaledLayerRGB(12, &img, kltRECT_s{0, 0, 20, 10}));
  EXPECT_EQ(img.GetPixel(3, 3).alpha, 255);  // opaque layer
  CKLF_Image rgb;
  ASSERT_TRUE(rgb.Create(4, 4, 1));
  EXPECT_FALSE(h.plugin.PS_GetScaledLayerRGB(11, &rgb, kltRECT_s{0, 0, 20, 10}));
  EXPECT_FALSE(h.plugin.PS_GetScaledLayerRGB(11, &img, kltRECT_s{0, 0, 0, 10}));
  EXPECT_FALSE(h.plugin.PS_GetScaledLayerRGB(11, nullptr, kltRECT_s{0, 0, 20, 10}));

  LayeredHost cmyk(4);
  ASSERT_TRUE(cmyk.plugin.FillPluginData());
  ASSERT_TRUE(cmyk.plugin.PS_GetScaledLayerRGB(11, &img, kltRECT_s{2, 1, 12, 6}));
  int i = 1 * 20 + 2;
  EXPECT_EQ(img.GetPixel(0, 0).green, static_cast<u8>((static_cast<u8>(i * 2) * static_cast<u8>(i * 4)) >> 8));
}

}  // namespace
