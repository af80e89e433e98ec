#include <gtest/gtest.h>

#include <random>

#include "CKLP_HeadlessUI.h"
#include "CKLT_FilterHost.h"

namespace {

using Records = std::vector<CKLT_FilterHost::DescRecord>;

TEST(FilterHostDescriptor, BytesRoundTripAndDamageIsRefused) {
  Records in(3);
  in[0] = {KLP_FOURCC('k', 'l', 'a', 'S'), KLP_TYPE_INTEGER, -5, ""};
  in[1] = {KLP_FOURCC('k', 'l', 'e', '0'), KLP_TYPE_TEXT, 0, std::string("AAA\0zz", 6)};
  in[2] = {7, KLP_TYPE_TEXT, 0, ""};
  const std::vector<uint8_t> bytes = CKLT_FilterHost::EncodeDescriptor(in);
  Records out;
  ASSERT_TRUE(CKLT_FilterHost::DecodeDescriptor(bytes.data(), bytes.size(), out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].integer, -5);
  EXPECT_EQ(out[1].text, in[1].text);
  EXPECT_EQ(out[2].key, 7u);
  // Every cut and every wrong length is refused, never read past the end.
  for (size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(CKLT_FilterHost::DecodeDescriptor(bytes.data(), n, out)) << n;
  std::vector<std::vector<uint8_t>> bad(3, bytes);
  bad[0].push_back(0);
  bad[1][12 + 4 + 4 + 3] = 5;  // integer record with length 5
  bad[2][11] = 200;            // count beyond the records
  for (const auto& b : bad) EXPECT_FALSE(CKLT_FilterHost::DecodeDescriptor(b.data(), b.size(), out));
}

// The host serves interleaved plane ranges and takes outData back before
// it serves the next request; requests outside the image or its planes are
// refused.
TEST(FilterHostBands, ServesRangesAndCommitsBeforeTheNextRequest) {
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeRGB, 5, 4, true));
  std::mt19937 rng(2);
  for (int p = 0; p < 4; ++p)
    for (auto& v : host.Plane(p)) v = static_cast<uint8_t>(rng());
  KLP_FilterRecord& r = host.Record();
  auto advance = [&](KLP_Rect32 in, int16_t inLo, int16_t inHi, KLP_Rect32 out, int16_t outLo, int16_t outHi) {
    r.inRect = in;
    r.inLoPlane = inLo;
    r.inHiPlane = inHi;
    r.outRect = out;
    r.outLoPlane = outLo;
    r.outHiPlane = outHi;
    return r.advanceState(r.hostContext);
  };
  const KLP_Rect32 none = {0, 0, 0, 0};
  ASSERT_EQ(advance({1, 1, 4, 3}, 0, 3, none, 0, 0), 0);
  ASSERT_EQ(r.inRowBytes, 12);
  const uint8_t* in = static_cast<const uint8_t*>(r.inData);
  for (int i = 0; i < 24; ++i) ASSERT_EQ(in[i], host.Plane(i % 4)[(i / 12 + 1) * 5 + i % 12 / 4 + 1]) << i;
  ASSERT_EQ(advance(none, 0, 0, {0, 0, 5, 1}, 1, 2), 0);
  uint8_t* out = static_cast<uint8_t*>(r.outData);
  for (int i = 0; i < 10; ++i) out[i] = static_cast<uint8_t>(100 + i);
  EXPECT_NE(host.Plane(1)[0], 100);  // not yet taken
  ASSERT_EQ(advance(none, 0, 0, none, 0, 0), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(host.Plane(1 + i % 2)[i / 2], 100 + i) << i;
  EXPECT_NE(advance({0, 0, 6, 1}, 0, 0, none, 0, 0), 0);
  EXPECT_NE(advance({0, 0, 1, 1}, 4, 4, none, 0, 0), 0);
  EXPECT_NE(advance({0, 0, 1, 1}, 2, 1, none, 0, 0), 0);
}

TEST(FilterHostCases, CaseFollowsTheDocument) {
  // transparency, locked, selection -> case
  const int rows[][4] = {{0, 0, 0, 1}, {0, 0, 1, 2}, {1, 0, 0, 4}, {1, 0, 1, 5}, {1, 1, 0, 6}, {1, 1, 1, 7}};
  for (auto& row : rows) {
    CKLT_FilterHost host;
    ASSERT_TRUE(host.SetDocument(klpModeGray, 3, 3, row[0]));
    host.LockTransparency(row[1]);
    // An empty selection or one of the wrong size is none.
    EXPECT_FALSE(host.SetSelection(std::vector<uint8_t>(9, 0)) || host.SetSelection(std::vector<uint8_t>(8, 1)));
    EXPECT_EQ(row[2] != 0, row[2] && host.SetSelection(std::vector<uint8_t>(9, 1)));
    EXPECT_EQ(std::vector<int>({host.Record().filterCase, host.Record().planes, host.Record().haveMask}),
              std::vector<int>({row[3], 1 + row[0], row[2]}));
  }
}

TEST(FilterHostColours, ConversionsAgreeWithThePlanes) {
  // RGB to CMYK (255 is no ink) and back; other spaces are refused.
  const int16_t rgb[4] = {200, 100, 50, 0};
  int16_t cmyk[4], back[4];
  ASSERT_TRUE(CKLT_FilterHost::ConvertColour(klpSpaceRGB, rgb, klpSpaceCMYK, cmyk));
  EXPECT_EQ(cmyk[3], 200);  // no black ink where red is brightest
  ASSERT_TRUE(CKLT_FilterHost::ConvertColour(klpSpaceCMYK, cmyk, klpSpaceRGB, back));
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(back[c], rgb[c], 1);
  EXPECT_FALSE(CKLT_FilterHost::ConvertColour(klpSpaceLab, rgb, klpSpaceRGB, back));
}

TEST(FilterHostLayers, HeldAtTheirOwnBoundsReadAsTheDocument) {
  // A 4 x 2 layer reaching off the left edge, with transparency, and an
  // opaque 2 x 1 one in the corner: outside its bounds a layer is clear.
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeGray, 6, 4, false));
  CKLT_FilterHost::Layer a, b;
  a.rect = {-1, 1, 3, 3};
  a.planes = {{1, 2, 3, 4, 5, 6, 7, 8}};
  a.transparency = {9, 9, 9, 9, 9, 9, 9, 0};
  b.rect = {4, 3, 6, 4};
  b.planes = {{50, 60}};
  host.AddLayer(a);
  host.AddLayer(b);
  KLP_FilterRecord& r = host.Record();
  const void* suite = nullptr;
  ASSERT_EQ(r.basicSuite->acquireSuite(r.hostContext, KLP_CHANNELPORTS_SUITE, 2, &suite), 0);
  void* context = r.hostContext;
  auto read = [&](const KLP_ChannelDesc* d) {
    std::vector<uint8_t> out(24, 77);
    const KLP_PixelMemoryDesc m = {out.data(), 6, 1, 8};
    const KLP_Rect32 whole = {0, 0, 6, 4};
    EXPECT_EQ(static_cast<const KLP_ChannelPortsSuite*>(suite)->readPixelsFromLevel(context, d->port, 0, &whole, &m),
              0);
    return out;
  };
  const KLP_LayerDesc* la = r.documentInfo->layers;
  typedef std::vector<uint8_t> B;
  EXPECT_EQ(read(la->compositeChannels), (B{0, 0, 0, 0, 0, 0, 2, 3, 4, 0, 0, 0, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(read(la->transparency), (B{0, 0, 0, 0, 0, 0, 9, 9, 9, 0, 0, 0, 9, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(read(la->next->transparency),
            (B{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255}));
  EXPECT_EQ(read(la->next->compositeChannels)[23], 60);

  // A layer lent as the document, and the document as the merged
  // composite, read the document's planes; the lent layer has no alpha port
  // without transparency.
  CKLT_FilterHost lent;
  ASSERT_TRUE(lent.SetDocument(klpModeGray, 6, 4, false));
  for (size_t i = 0; i < 24; ++i) lent.Plane(0)[i] = static_cast<uint8_t>(i + 100);
  CKLT_FilterHost::Layer doc;
  doc.rect = {0, 0, 6, 4};
  doc.document = true;
  lent.AddLayer(doc);
  lent.SetMergedIsDocument();
  KLP_FilterRecord& r2 = lent.Record();
  ASSERT_EQ(r2.basicSuite->acquireSuite(r2.hostContext, KLP_CHANNELPORTS_SUITE, 2, &suite), 0);
  context = r2.hostContext;
  EXPECT_EQ(read(r2.documentInfo->layers->compositeChannels), lent.Plane(0));
  EXPECT_EQ(read(r2.documentInfo->mergedCompositeChannels), lent.Plane(0));
  EXPECT_EQ(r2.documentInfo->layers->transparency, nullptr);

  // The same for a colour document with transparency and a layer of its
  // own beside: every channel of each list stays readable (the lists are
  // links between descriptors that must not move while they are made).
  CKLT_FilterHost rgb;
  ASSERT_TRUE(rgb.SetDocument(klpModeRGB, 6, 4, true));
  for (int p = 0; p < 4; ++p)
    for (size_t i = 0; i < 24; ++i) rgb.Plane(p)[i] = static_cast<uint8_t>(40 * p + i);
  rgb.AddLayer(doc);
  CKLT_FilterHost::Layer spot;
  spot.rect = {1, 1, 3, 2};
  spot.planes = {{1, 2}, {3, 4}, {5, 6}};
  spot.transparency = {7, 8};
  rgb.AddLayer(spot);
  rgb.SetMergedIsDocument();
  KLP_FilterRecord& r3 = rgb.Record();
  ASSERT_EQ(r3.basicSuite->acquireSuite(r3.hostContext, KLP_CHANNELPORTS_SUITE, 2, &suite), 0);
  context = r3.hostContext;
  const KLP_ChannelDesc* lists[] = {r3.documentInfo->layers->compositeChannels,
                                    r3.documentInfo->mergedCompositeChannels};
  for (const KLP_ChannelDesc* d : lists) {
    int p = 0;
    for (; d && p < 3; d = d->next, ++p) EXPECT_EQ(read(d), rgb.Plane(p)) << p;
    EXPECT_EQ(p, 3);
  }
  EXPECT_EQ(read(r3.documentInfo->layers->transparency), rgb.Plane(3));
  EXPECT_EQ(read(r3.documentInfo->layers->next->transparency)[7], 7);
}

TEST(FilterHostCallbacks, NothingUnwindsIntoThePlugin) {
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeGray, 2, 2, false));
  host.SetProgressSink([](int32_t, int32_t) { throw std::bad_alloc(); });
  KLP_FilterRecord& r = host.Record();
  r.progressProc(r.hostContext, 1, 2);  // no exception comes out
  EXPECT_EQ(host.ProgressCalls().size(), 1u);
}

}  // namespace

namespace {

// A choose request as the plug-in makes it: RGB in and out, no prompt.
int16_t Choose(CKLT_FilterHost& host, const int16_t start[3], int16_t out[3]) {
  KLP_ColorServicesInfo info = {};
  info.selector = klpColorChoose;
  info.sourceSpace = klpSpaceRGB;
  info.resultSpace = klpSpaceRGB;
  for (int i = 0; i < 3; ++i) info.colorComponents[i] = start[i];
  KLP_FilterRecord& r = host.Record();
  const int16_t result = r.colorServices(r.hostContext, &info);
  for (int i = 0; i < 3; ++i) out[i] = info.colorComponents[i];
  return result;
}

}  // namespace

TEST(FilterHostColours, ChooserAnswersWhenNothingIsScripted) {
  CKLP_HeadlessUI ui;
  KLP_WindowDesc desc;
  desc.bounds = {10, 10, 110, 110};
  struct : CKLP_WindowClient {
    int32_t OnPlatformEvent(const KLP_Event&) override { return 0; }
  } client;
  const KLP_WindowID w = ui.CreateWindow(desc, &client);
  ui.ShowWindow(w, true);
  ui.SelectWindow(w);
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeRGB, 4, 4, false));
  const int16_t start[3] = {10, 20, 30};
  int16_t got[3];
  // No chooser: cancelled, as before.
  EXPECT_EQ(Choose(host, start, got), klpResUserCanceled);
  int asked = 0;
  host.SetColourChooser([&]() -> CKLP_UIPlatform* { return ++asked, &ui; });
  // The chooser starts at the request's colour and gives its choice back.
  std::vector<uint16_t> seen;
  ui.SetColourAnswerer([&](uint16_t rgb[3]) {
    seen.assign(rgb, rgb + 3);
    rgb[0] = 0xFFFF, rgb[1] = 0x8080, rgb[2] = 0x0101;
    return true;
  });
  ASSERT_EQ(Choose(host, start, got), klpResNoErr);
  EXPECT_EQ(seen, (std::vector<uint16_t>{10 * 257, 20 * 257, 30 * 257}));
  EXPECT_EQ(got[0] * 1000000 + got[1] * 1000 + got[2], 255128001);
  EXPECT_EQ(ui.Log().colourParents.back(), w);  // over the front window
  // A cancelled chooser changes nothing.
  ui.SetColourAnswerer([](uint16_t*) { return false; });
  EXPECT_EQ(Choose(host, start, got), klpResUserCanceled);
  EXPECT_EQ(asked, 2);
  // A scripted answer wins over the chooser, a scripted cancel too.
  host.SetPickedColour(true, 1, 2, 3);
  ASSERT_EQ(Choose(host, start, got), klpResNoErr);
  EXPECT_EQ(got[0] * 100 + got[1] * 10 + got[2], 123);
  host.SetPickedColour(false, 0, 0, 0);
  EXPECT_EQ(Choose(host, start, got), klpResUserCanceled);
  EXPECT_EQ(asked, 2);
}
