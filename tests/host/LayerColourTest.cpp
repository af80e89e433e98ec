#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "CKLF_Image.h"
#include "CKLP_HeadlessUI.h"
#include "HostTestSupport.h"
#include "support/TestSupport.h"

namespace {

using hosttest::Bytes;
typedef std::vector<int> Ints;

Ints Corners(const kltRECT_s& r) { return {r.left, r.top, r.right, r.bottom}; }

// A 20 x 10 document with layers "ink" (id 11: planes i * (c + 1), content
// at x 3..7, y 2..5), "paper" (12: opaque, a name over 99 bytes) and a text
// layer (13, not pixel-based); the merged document shows one pixel.
struct LayeredHost {
  CKLT_FilterHost host;
  hosttest::Bound<> b{host};
  CPluginMain& p = b.plugin;
  explicit LayeredHost(int colours = 3) {
    EXPECT_TRUE(host.SetDocument(colours == 3 ? klpModeRGB : colours == 4 ? klpModeCMYK : klpModeGray, 20, 10, true));
    CKLT_FilterHost::Layer ink, paper, text;
    ink.planes.assign(colours, Bytes(200));
    for (int c = 0; c < colours; ++c)
      for (int i = 0; i < 200; ++i) ink.planes[c][i] = static_cast<uint8_t>(i * (c + 1));
    for (int i = 0; i < 60; ++i) ink.name += "\xC3\xA9";  // 120 bytes, two a character
    ink.transparency.assign(200, 0);
    for (int i = 0; i < 200; ++i)
      if (i % 20 >= 3 && i % 20 <= 7 && i / 20 >= 2 && i / 20 <= 5) ink.transparency[i] = static_cast<uint8_t>(i);
    paper.name = std::string(120, 'p');
    paper.planes.assign(colours, Bytes(200, 240));
    text.pixelBased = false;
    text.planes = paper.planes;
    int32_t id = 11;
    for (CKLT_FilterHost::Layer* l : {&ink, &paper, &text}) {
      l->id = id++;
      l->bounds = {0, 0, 20, 10};
      host.AddLayer(*l);
    }
    Bytes mergedT(200, 0);
    mergedT[199] = 1;
    host.SetMergedComposite(std::vector<Bytes>(colours, Bytes(200, 7)), mergedT);
    EXPECT_TRUE(b.Fill(host));
  }
};

TEST(Layers, TableTrimsToVisibleContent) {
  LayeredHost h;
  EXPECT_EQ(h.p.GetPluginDataPtr()->layerAccess, 1);
  ASSERT_TRUE(h.p.PS_FillRealLayerBounds(klNullRect, 0));
  ASSERT_EQ(h.p.GetLayerCount(), 3u);  // two pixel layers and the merged document
  EXPECT_EQ(Corners(h.p.GetLayerInfo(0)->bounds), (Ints{3, 2, 8, 6}));
  EXPECT_EQ(Corners(h.p.GetLayerInfo(1)->bounds), (Ints{0, 0, 20, 10}));  // opaque: the channel's bounds
  EXPECT_EQ(std::strlen(h.p.GetLayerInfo(1)->name), 99u);
  EXPECT_EQ(std::strlen(h.p.GetLayerInfo(0)->name), 98u) << "cut between characters";
  EXPECT_EQ(h.p.GetLayerInfo(2)->layerId, -1);
  EXPECT_STREQ(h.p.GetLayerInfo(2)->name, "--COMPOSITE--");
  EXPECT_EQ(Corners(h.p.GetLayerInfo(2)->bounds), (Ints{19, 9, 20, 10}));
  // Kept until forced; a rectangle cuts the bounds, an empty cut is null.
  ASSERT_TRUE(h.p.PS_FillRealLayerBounds(kltRECT_s{0, 0, 5, 4}, 0));
  EXPECT_EQ(h.p.GetLayerInfo(0)->bounds.right, 8);
  ASSERT_TRUE(h.p.PS_FillRealLayerBounds(kltRECT_s{0, 0, 5, 4}, 1));
  EXPECT_EQ(Corners(h.p.GetLayerInfo(0)->bounds), (Ints{3, 2, 5, 4}));
  EXPECT_TRUE(klIsNullRect(h.p.GetLayerInfo(2)->bounds));
  // A fully transparent layer has no bounds.
  h.host.Layers()[0].transparency.assign(200, 0);
  ASSERT_TRUE(h.b.Fill(h.host));
  ASSERT_TRUE(h.p.PS_FillRealLayerBounds(klNullRect, 1));
  EXPECT_TRUE(klIsNullRect(h.p.GetLayerInfo(0)->bounds));
  // The suite is given back when the plug-in object lets go of the host.
  EXPECT_EQ(h.host.AcquiredSuites(), 1);
  h.p.SetHostPointers(nullptr, nullptr, nullptr);
  EXPECT_EQ(h.host.AcquiredSuites(), 0);
  // No suite, or an older document info: no layers.
  h.host.GetServices().basicSuite = false;
  ASSERT_TRUE(h.b.Fill(h.host));
  EXPECT_FALSE(h.p.PS_FillRealLayerBounds(klNullRect, 1));
  LayeredHost old;
  old.host.SetDocumentInfoVersion(1);
  ASSERT_TRUE(old.b.Fill(old.host));
  EXPECT_EQ(old.p.GetPluginDataPtr()->layerAccess, 0);
}

TEST(Layers, ReadsConvertedAndScaled) {
  LayeredHost h, gray(1), cmyk(4);
  const kltRECT_s r = {2, 1, 9, 7};
  std::vector<Bytes> buf(4, Bytes(42, 0));
  u8* planes[4] = {buf[0].data(), buf[1].data(), buf[2].data(), buf[3].data()};
  ASSERT_TRUE(h.p.PS_GetLayer(11, planes, 7, 6, 4, r));
  for (int i = 0; i < 42; ++i) {
    int j = (i / 7 + 1) * 20 + i % 7 + 2;
    ASSERT_EQ(buf[1][i], static_cast<u8>(j * 2));
    ASSERT_EQ(buf[3][i], h.host.Layers()[0].transparency[j]);
  }
  ASSERT_TRUE(h.p.PS_GetLayer(12, planes, 7, 6, 4, r));
  EXPECT_EQ(buf[3], Bytes(42, 255));                                  // opaque layer
  EXPECT_FALSE(h.p.PS_GetLayer(11, planes, 7, 6, 3, r));              // wrong plane count
  EXPECT_FALSE(h.p.PS_GetLayer(11, planes, 6, 6, 4, r));              // not width x height
  EXPECT_FALSE(h.p.PS_GetLayer(99, planes, 7, 6, 4, r));              // no such layer
  EXPECT_FALSE(h.p.PS_GetLayer(11, planes, 7, 6, 4, {15, 5, 22, 11}));  // outside
  ASSERT_TRUE(gray.p.PS_GetLayerWithColorConversionIfNeeded(11, planes, 7, 6, 4, r));
  EXPECT_EQ(buf[0][0], 22);
  EXPECT_TRUE(buf[0] == buf[1] && buf[0] == buf[2]);
  ASSERT_TRUE(cmyk.p.PS_GetLayerWithColorConversionIfNeeded(11, planes, 7, 6, 4, r));
  const int k = static_cast<u8>(22 * 4);  // the top-left of r
  EXPECT_EQ(buf[2][0], (static_cast<u8>(22 * 3) * k) >> 8);
  EXPECT_EQ(buf[3][0], 0);  // then the transparency

  // Scaled: every second pixel of every second row.
  CKLF_Image img, rgb;
  ASSERT_TRUE(img.Create(10, 5, 2) && rgb.Create(4, 4, 1));
  ASSERT_TRUE(h.p.PS_GetScaledLayerRGB(11, &img, kltRECT_s{0, 0, 20, 10}));
  for (u16 i = 0; i < 50; ++i) {
    kltRGBA8 px = img.GetPixel(i % 10, i / 10);
    int j = (i / 10) * 40 + (i % 10) * 2;
    ASSERT_EQ(Ints({px.red, px.blue, px.alpha}),
              Ints({static_cast<u8>(j), static_cast<u8>(j * 3), h.host.Layers()[0].transparency[j]}));
  }
  EXPECT_FALSE(h.p.PS_GetScaledLayerRGB(11, &rgb, kltRECT_s{0, 0, 20, 10}));  // not RGBA
  EXPECT_FALSE(h.p.PS_GetScaledLayerRGB(11, &img, kltRECT_s{0, 0, 0, 10}));
  // A source row too long for memory fails, it does not throw.
  EXPECT_FALSE(h.p.PS_GetScaledLayerRGB(11, &img, kltRECT_s{-2000000000, 0, 2000000000, 10}));
  EXPECT_EQ(h.p.GetError(), klErrNoMemory);
  ASSERT_TRUE(cmyk.p.PS_GetScaledLayerRGB(11, &img, kltRECT_s{2, 1, 12, 6}));
  EXPECT_EQ(img.GetPixel(0, 0).green, (static_cast<u8>(22 * 2) * k) >> 8);
  EXPECT_EQ(img.GetPixel(0, 0).alpha, 0);
}

TEST(Colours, HostConversionsAndTheInternalFallback) {
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeGray, 2, 2, false));
  const uint8_t fore[4] = {90, 0, 0, 0}, back[4] = {200, 0, 0, 0};
  host.SetColours(fore, back);
  hosttest::Bound<> b(host);
  CPluginMain& p = b.plugin;
  ASSERT_TRUE(p.FillPluginData());
  kltRGBA8 c;
  ASSERT_TRUE(p.GetForeColor_RGB(c));
  EXPECT_EQ(Ints({c.red, c.green, c.blue, c.alpha}), Ints({90, 90, 90, 255}));
  // The host's gray and CMYK (255 is no ink) fill the line; the picker
  // refills the whole line, or cancels.
  u8 line[8] = {0, 30, 60, 90, 0, 0, 0, 0};
  p.Fill8ByteColorLineFromRGB(line);
  EXPECT_EQ(Ints({line[0], line[7]}), Ints({(30 * 299 + 60 * 587 + 90 * 114 + 500) / 1000, 90}));
  EXPECT_FALSE(p.SelectColor_ALL(line));
  host.SetPickedColour(true, 255, 0, 0);
  ASSERT_TRUE(p.SelectColor_ALL(line));
  EXPECT_EQ(Ints({line[0], line[1], line[2]}), Ints({(255 * 299 + 500) / 1000, 255, 0}));
  // The host's chooser without memory to show: memory full, error 17.
  CKLP_HeadlessUI chooser;
  chooser.FailColor();
  host.ForgetPickedColour();
  host.SetColourChooser([&]() -> CKLP_UIPlatform* { return &chooser; });
  EXPECT_FAILS(p, p.SelectColor_ALL(line), klErrNoMemory);
  EXPECT_EQ(line[1], 255);
  host.SetColourChooser(nullptr);

  // Without colour services: the formulas, and no picker.
  host.GetServices().colorServices = false;
  ASSERT_TRUE(b.Fill(host));
  EXPECT_FALSE(p.GetForeColor_RGB(c));
  u8 line2[8] = {0, 30, 60, 91, 0, 0, 0, 0};
  p.Fill8ByteColorLineFromRGB(line2);
  EXPECT_EQ(Bytes(line2, line2 + 8), (Bytes{60, 30, 60, 91, 225, 195, 164, 0}));
  EXPECT_FALSE(p.SelectColor_RGB(c));

  // The internal array conversion of gray, and of CMYK in place.
  std::mt19937 rng(1);
  std::vector<Bytes> src(4), dst(3, Bytes(50));
  for (auto& pl : src) pl = klftest::RandomBytes(rng, 50);
  u8* s[4] = {src[0].data(), src[1].data(), src[2].data(), src[3].data()};
  u8* d[3] = {dst[0].data(), dst[1].data(), dst[2].data()};
  ASSERT_TRUE(p.ConvertArrayToRGB_Internal(s, d, 50));
  EXPECT_EQ(dst[2], src[0]);
  EXPECT_FALSE(p.ConvertArrayToRGB(s, d, 50));  // needs colour services
  ASSERT_TRUE(host.SetDocument(klpModeCMYK, 2, 2, false));
  ASSERT_TRUE(b.Fill(host));
  const std::vector<Bytes> cmyk = src;
  ASSERT_TRUE(p.ConvertArrayToRGB_Internal(s, s, 50));
  for (int i = 0; i < 150; ++i) ASSERT_EQ(src[i % 3][i / 3], (cmyk[i % 3][i / 3] * cmyk[3][i / 3]) >> 8) << i;
}

}  // namespace
