#include <gtest/gtest.h>

#include <random>

#include "CKLP_FilterHost.h"

namespace {

using Records = std::vector<CKLP_FilterHost::DescRecord>;

TEST(FilterHostDescriptor, BytesRoundTripAndDamageIsRefused) {
  Records in(3);
  in[0] = {KLP_FOURCC('k', 'l', 'a', 'S'), KLP_TYPE_INTEGER, -5, ""};
  in[1] = {KLP_FOURCC('k', 'l', 'e', '0'), KLP_TYPE_TEXT, 0, std::string("AAA\0zz", 6)};
  in[2] = {7, KLP_TYPE_TEXT, 0, ""};
  const std::vector<uint8_t> bytes = CKLP_FilterHost::EncodeDescriptor(in);
  Records out;
  ASSERT_TRUE(CKLP_FilterHost::DecodeDescriptor(bytes.data(), bytes.size(), out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].integer, -5);
  EXPECT_EQ(out[1].text, in[1].text);
  EXPECT_EQ(out[2].key, 7u);
  // Every cut and every wrong length is refused, never read past the end.
  for (size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(CKLP_FilterHost::DecodeDescriptor(bytes.data(), n, out)) << n;
  std::vector<std::vector<uint8_t>> bad(3, bytes);
  bad[0].push_back(0);
  bad[1][12 + 4 + 4 + 3] = 5;  // integer record with length 5
  bad[2][11] = 200;            // count beyond the records
  for (const auto& b : bad) EXPECT_FALSE(CKLP_FilterHost::DecodeDescriptor(b.data(), b.size(), out));
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
  for (int i = 0; i < 24; ++i) ASSERT_EQ(in[i], host.Plane(i % 4)[(i / 12 + 1) * 5 + i % 12 / 4 + 1]) << i;

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
  for (int i = 0; i < 10; ++i) EXPECT_EQ(host.Plane(1 + i % 2)[i / 2], 100 + i) << i;
  // Requests outside the image or the planes are refused.
  const struct {
    KLP_Rect32 rect;
    int16_t lo, hi;
  } refused[] = {{{0, 0, 6, 1}, 0, 0}, {{0, 0, 1, 1}, 4, 4}, {{0, 0, 1, 1}, 2, 1}};
  for (const auto& q : refused) {
    r.inRect = q.rect;
    r.inLoPlane = q.lo;
    r.inHiPlane = q.hi;
    EXPECT_NE(r.advanceState(r.hostContext), 0) << q.lo << " " << q.hi;
  }
}

TEST(FilterHostCases, CaseFollowsTheDocument) {
  // transparency, locked, selection -> case
  const int rows[][4] = {{0, 0, 0, 1}, {0, 0, 1, 2}, {1, 0, 0, 4}, {1, 0, 1, 5}, {1, 1, 0, 6}, {1, 1, 1, 7}};
  for (auto& row : rows) {
    CKLP_FilterHost host;
    host.SetDocument(klpModeGray, 3, 3, row[0]);
    host.LockTransparency(row[1]);
    if (row[2]) host.SetSelection(std::vector<uint8_t>(9, 1));
    EXPECT_EQ(host.Record().filterCase, row[3]);
    EXPECT_EQ(host.Record().planes, 1 + row[0]);
    EXPECT_EQ(host.Record().haveMask, row[2]);
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
  info.sourceSpace = klpSpaceLab;
  EXPECT_NE(r.colorServices(r.hostContext, &info), 0);
  // The picker: cancelled until a colour is chosen.
  info.selector = klpColorChoose;
  EXPECT_EQ(r.colorServices(r.hostContext, &info), klpResUserCanceled);
  host.SetPickedColour(true, 1, 2, 3);
  ASSERT_EQ(r.colorServices(r.hostContext, &info), 0);
  EXPECT_EQ(info.colorComponents[2], 3);
}

}  // namespace
