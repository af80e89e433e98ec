#include <gtest/gtest.h>

#include <random>

#include "CKLP_FilterHost.h"

namespace {

using Records = std::vector<CKLP_FilterHost::DescRecord>;

TEST(FilterHostDescriptor, BytesRoundTripAndDamageIsRefused) {
  Records in(3);
  in[0].key = KLP_FOURCC('k', 'l', 'a', 'S');
  in[0].type = KLP_TYPE_INTEGER;
  in[0].integer = -5;
  in[1].key = KLP_FOURCC('k', 'l', 'e', '0');
  in[1].type = KLP_TYPE_TEXT;
  in[1].text = std::string("AAA\0zz", 6);
  in[2].key = 7;
  in[2].type = KLP_TYPE_TEXT;
  std::vector<uint8_t> bytes = CKLP_FilterHost::EncodeDescriptor(in);
  Records out;
  ASSERT_TRUE(CKLP_FilterHost::DecodeDescriptor(bytes.data(), bytes.size(), out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].integer, -5);
  EXPECT_EQ(out[1].text, in[1].text);
  EXPECT_EQ(out[2].text, "");
  // Every cut and every wrong length is refused, never read past the end.
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_FALSE(CKLP_FilterHost::DecodeDescriptor(bytes.data(), n, out)) << n;
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(CKLP_FilterHost::DecodeDescriptor(longer.data(), longer.size(), out));
  std::vector<uint8_t> bad = bytes;
  bad[12 + 4 + 4 + 3] = 5;  // integer record with length 5
  EXPECT_FALSE(CKLP_FilterHost::DecodeDescriptor(bad.data(), bad.size(), out));
  bad = bytes;
  bad[11] = 200;  // count beyond the records
  EXPECT_FALSE(CKLP_FilterHost::DecodeDescriptor(bad.data(), bad.size(), out));
}

// The host serves interleaved plane ranges and takes outData back before
// it serves the next request.
TEST(FilterHostBands, ServesRangesAndCommitsBeforeTheNextRequest) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 5, 4, true);
  std::mt19937 rng(2);
  for (int p = 0; p < 4; ++p)
    for (auto& v : host.Plane(p)) v = static_cast<uint8_t>(rng());
  KLP_FilterRecord& r = host.Record();
  r.inRect = {1, 1, 4, 3};
  r.inLoPlane = 0;
  r.inHiPlane = 3;
  ASSERT_EQ(r.advanceState(r.hostContext), 0);
  ASSERT_EQ(r.inRowBytes, 12);
  const uint8_t* in = static_cast<const uint8_t*>(r.inData);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      for (int p = 0; p < 4; ++p) ASSERT_EQ(in[y * 12 + x * 4 + p], host.Plane(p)[(y + 1) * 5 + x + 1]);
    }
  }

  r.inRect = {0, 0, 0, 0};
  r.outRect = {0, 0, 5, 1};
  r.outLoPlane = 1;
  r.outHiPlane = 2;
  ASSERT_EQ(r.advanceState(r.hostContext), 0);
  uint8_t* out = static_cast<uint8_t*>(r.outData);
  for (int i = 0; i < 10; ++i) out[i] = static_cast<uint8_t>(100 + i);
  EXPECT_NE(host.Plane(1)[0], 100);  // not yet taken
  r.outRect = {0, 0, 0, 0};
  ASSERT_EQ(r.advanceState(r.hostContext), 0);  // takes the band back
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(host.Plane(1)[x], 100 + 2 * x);
    EXPECT_EQ(host.Plane(2)[x], 101 + 2 * x);
  }
  // Requests outside the image or the planes are refused.
  r.inRect = {0, 0, 6, 1};
  r.inLoPlane = r.inHiPlane = 0;
  EXPECT_NE(r.advanceState(r.hostContext), 0);
  r.inRect = {0, 0, 1, 1};
  r.inLoPlane = r.inHiPlane = 4;
  EXPECT_NE(r.advanceState(r.hostContext), 0);
  r.inLoPlane = 2;
  r.inHiPlane = 1;
  EXPECT_NE(r.advanceState(r.hostContext), 0);
}

TEST(FilterHostCases, CaseFollowsTheDocument) {
  struct {
    bool transparency, locked, selection;
    int16_t expected;
  } rows[] = {{false, false, false, 1}, {false, false, true, 2}, {true, false, false, 4},
              {true, false, true, 5},   {true, true, false, 6},  {true, true, true, 7}};
  for (auto& row : rows) {
    CKLP_FilterHost host;
    host.SetDocument(klpModeGray, 3, 3, row.transparency);
    host.LockTransparency(row.locked);
    if (row.selection) {
      ASSERT_TRUE(host.SetSelection(std::vector<uint8_t>(9, 1)));
    }
    EXPECT_EQ(host.Record().filterCase, row.expected);
    EXPECT_EQ(host.Record().planes, row.transparency ? 2 : 1);
    EXPECT_EQ(host.Record().haveMask, row.selection ? 1 : 0);
  }
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 3, 3, false);
  EXPECT_FALSE(host.SetSelection(std::vector<uint8_t>(9, 0)));  // nothing selected
  EXPECT_FALSE(host.SetSelection(std::vector<uint8_t>(8, 1)));  // wrong size
}

TEST(FilterHostColours, ConversionsAgreeWithThePlanes) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeCMYK, 2, 2, false);
  KLP_FilterRecord& r = host.Record();
  KLP_ColorServicesInfo info = {};
  info.selector = klpColorConvert;
  info.sourceSpace = klpSpaceRGB;
  info.resultSpace = klpSpaceCMYK;
  info.colorComponents[0] = 200;
  info.colorComponents[1] = 100;
  info.colorComponents[2] = 50;
  ASSERT_EQ(r.colorServices(r.hostContext, &info), 0);
  EXPECT_EQ(info.colorComponents[3], 200);  // no black ink where red is brightest
  info.sourceSpace = klpSpaceCMYK;
  info.resultSpace = klpSpaceRGB;
  ASSERT_EQ(r.colorServices(r.hostContext, &info), 0);
  EXPECT_NEAR(info.colorComponents[0], 200, 1);
  EXPECT_NEAR(info.colorComponents[1], 100, 1);
  EXPECT_NEAR(info.colorComponents[2], 50, 1);
  info.selector = klpColorChoose;
  EXPECT_EQ(r.colorServices(r.hostContext, &info), klpResUserCanceled);
  host.SetPickedColour(true, 1, 2, 3);
  info.resultSpace = klpSpaceRGB;
  ASSERT_EQ(r.colorServices(r.hostContext, &info), 0);
  EXPECT_EQ(info.colorComponents[2], 3);
  info.selector = klpColorConvert;
  info.sourceSpace = klpSpaceLab;
  EXPECT_NE(r.colorServices(r.hostContext, &info), 0);
}

}  // namespace
