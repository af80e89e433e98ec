#include <gtest/gtest.h>

#include <random>

#include "HostTestSupport.h"

namespace {

struct Adapter {
  CPluginMain plugin;
  int16_t result = 0;
  explicit Adapter(CKLP_FilterHost& host) { plugin.SetHostPointers(&host.Record(), nullptr, &result); }
};

// Reads of random rectangles with tiny memory limits give exactly the
// document's bytes; writes of random bytes land exactly there and nowhere
// else; no request is larger than maxSpace.
TEST(PlaneTransfer, BandsReproduceTheDocumentExactly) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 60; ++round) {
    CKLP_FilterHost host;
    int32_t w = 1 + rng() % 70, h = 1 + rng() % 50;
    int16_t mode = round % 3 == 0 ? klpModeGray : round % 3 == 1 ? klpModeRGB : klpModeCMYK;
    hosttest::RandomDocument(host, mode, w, h, round % 2 == 0, rng);
    kltRECT_s r;
    r.left = rng() % w;
    r.top = rng() % h;
    r.right = r.left + 1 + rng() % (w - r.left);
    r.bottom = r.top + 1 + rng() % (h - r.top);
    int32_t rw = r.right - r.left, rh = r.bottom - r.top;
    int32_t maxSpace = rw * (1 + rng() % 4) + static_cast<int32_t>(rng() % rw);
    host.SetMaxSpace(maxSpace);
    host.SetStrictSpace(true);
    Adapter a(host);
    int plane = rng() % host.PlaneCount();
    u32 stride = rw + rng() % 5;
    std::vector<uint8_t> buf(stride * rh, 0xEE);
    ASSERT_TRUE(a.plugin.HostGetChanel(static_cast<u8>(plane), r, buf.data(), stride));
    for (int32_t y = 0; y < rh; ++y)
      for (int32_t x = 0; x < rw; ++x)
        ASSERT_EQ(buf[y * stride + x], host.Plane(plane)[(r.top + y) * w + r.left + x]);
    int64_t band = std::min<int64_t>(rh, maxSpace / rw);
    EXPECT_EQ(host.AdvanceCalls(), (rh + band - 1) / band);
    EXPECT_LE(host.LargestRequest(), maxSpace);

    // Write back random bytes.
    std::vector<std::vector<uint8_t>> expect;
    for (int p = 0; p < host.PlaneCount(); ++p) expect.push_back(host.Plane(p));
    for (auto& v : buf) v = static_cast<uint8_t>(rng());
    ASSERT_TRUE(a.plugin.HostPutChanel(static_cast<u8>(plane), r, buf.data(), stride));
    host.CommitPending();
    for (int32_t y = 0; y < rh; ++y)
      for (int32_t x = 0; x < rw; ++x) expect[plane][(r.top + y) * w + r.left + x] = buf[y * stride + x];
    for (int p = 0; p < host.PlaneCount(); ++p) ASSERT_EQ(host.Plane(p), expect[p]) << round << " plane " << p;
    // And a fill.
    ASSERT_TRUE(a.plugin.HostPutChanel(static_cast<u8>(plane), r, static_cast<u8>(77)));
    host.CommitPending();
    for (int32_t y = 0; y < rh; ++y)
      for (int32_t x = 0; x < rw; ++x) expect[plane][(r.top + y) * w + r.left + x] = 77;
    for (int p = 0; p < host.PlaneCount(); ++p) ASSERT_EQ(host.Plane(p), expect[p]);
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(host.Record().inRect.right, 0);
    EXPECT_EQ(host.Record().outRect.right, 0);
  }
}

TEST(PlaneTransfer, BandHeightFollowsMaxSpace) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 300, 10, false);
  host.SetMaxSpace(1000);
  Adapter a(host);
  std::vector<uint8_t> buf(300 * 10);
  ASSERT_TRUE(a.plugin.HostGetChanel(1, kltRECT_s{0, 0, 300, 10}, buf.data(), 300));
  EXPECT_EQ(host.AdvanceCalls(), 4);  // 3 + 3 + 3 + 1 rows
  EXPECT_EQ(host.LargestRequest(), 900);

  // Narrower than a row: no band possible.
  host.ClearObservations();
  host.SetMaxSpace(299);
  host.ResetRun();
  Adapter b(host);
  EXPECT_FALSE(b.plugin.HostGetChanel(0, kltRECT_s{0, 0, 300, 10}, buf.data(), 300));
  EXPECT_EQ(b.result, klpResBadParameters);
  EXPECT_EQ(host.AdvanceCalls(), 0);
  host.SetMaxSpace(0);
  host.ResetRun();
  Adapter c(host);
  EXPECT_FALSE(c.plugin.HostPutChanel(0, kltRECT_s{0, 0, 300, 10}, static_cast<u8>(1)));
  EXPECT_EQ(c.result, klpResBadParameters);
}

TEST(PlaneTransfer, MaskPlaneAndAbsoluteReads) {
  CKLP_FilterHost host;
  std::mt19937 rng(3);
  hosttest::RandomDocument(host, klpModeRGB, 20, 20, true, rng);
  std::vector<uint8_t> mask(400);
  for (auto& v : mask) v = static_cast<uint8_t>(rng() | 1);
  ASSERT_TRUE(host.SetSelection(mask));
  Adapter a(host);
  std::vector<uint8_t> buf(400);
  ASSERT_TRUE(a.plugin.HostGetChanel(255, kltRECT_s{0, 0, 20, 20}, buf.data(), 20));
  EXPECT_EQ(buf, mask);
  // Absolute numbering reaches the same planes here and raises wantsAbsolute.
  ASSERT_TRUE(a.plugin.HostGetAlphaChanel(3, kltRECT_s{0, 0, 20, 20}, buf.data(), 20));
  EXPECT_EQ(buf, host.Plane(3));
  EXPECT_EQ(host.Record().wantsAbsolute, 1);
  ASSERT_TRUE(a.plugin.HostGetChanel(2, kltRECT_s{0, 0, 20, 20}, buf.data(), 20));
  EXPECT_EQ(host.Record().wantsAbsolute, 0);
  // Writing the mask plane is refused.
  EXPECT_FALSE(a.plugin.HostPutChanel(255, kltRECT_s{0, 0, 20, 20}, buf.data(), 20));
  EXPECT_EQ(a.plugin.GetError(), klErrBadArg);

  host.GetServices().supportsAbsolute = false;
  host.ResetRun();
  Adapter b(host);
  EXPECT_FALSE(b.plugin.HostGetAlphaChanel(0, kltRECT_s{0, 0, 20, 20}, buf.data(), 20));
  EXPECT_EQ(b.plugin.GetError(), klErrBadArg);
}

TEST(PlaneTransfer, HostFailuresSetTheirResults) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeGray, 10, 10, true);
  host.LockTransparency(true);
  std::vector<uint8_t> buf(100, 5);
  {
    Adapter a(host);
    // Locked transparency: the host refuses the request.
    EXPECT_FALSE(a.plugin.HostPutChanel(1, kltRECT_s{0, 0, 10, 10}, buf.data(), 10));
    EXPECT_EQ(a.result, klpResUserCanceled);
    EXPECT_EQ(host.Plane(1), std::vector<uint8_t>(100, 255));
    // A rectangle outside the image.
    EXPECT_FALSE(a.plugin.HostGetChanel(0, kltRECT_s{5, 5, 15, 15}, buf.data(), 10));
    EXPECT_EQ(a.result, klpResUserCanceled);
    // Empty rectangles and short buffers.
    EXPECT_FALSE(a.plugin.HostGetChanel(0, kltRECT_s{5, 5, 5, 15}, buf.data(), 10));
    EXPECT_FALSE(a.plugin.HostGetChanel(0, kltRECT_s{0, 0, 10, 10}, buf.data(), 9));
    EXPECT_FALSE(a.plugin.HostGetChanel(0, kltRECT_s{0, 0, 10, 10}, nullptr, 10));
    // No mask to give: the host leaves maskData null.
    EXPECT_FALSE(a.plugin.HostGetChanel(255, kltRECT_s{0, 0, 10, 10}, buf.data(), 10));
    EXPECT_EQ(a.result, klpResBadParameters);
  }
  host.GetServices().advanceState = false;
  host.ResetRun();
  Adapter b(host);
  EXPECT_FALSE(b.plugin.HostGetChanel(0, kltRECT_s{0, 0, 10, 10}, buf.data(), 10));
  EXPECT_EQ(b.result, klpResBadParameters);
  EXPECT_FALSE(b.plugin.HostDoIt());
  CPluginMain none;
  EXPECT_FALSE(none.HostGetChanel(0, kltRECT_s{0, 0, 1, 1}, buf.data(), 1));
  EXPECT_EQ(none.GetError(), klErrBadArg);
}

TEST(PlaneTransfer, ProgressAndAbortGoToTheHost) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 4, 4, false);
  host.CancelAfterPolls(2);
  CPluginMain plugin;
  int16_t result = 0;
  plugin.SetHostPointers(&host.Record(), nullptr, &result);
  CHostProgress& progress = plugin.GetHostProgress();
  progress.Progress(40, nullptr);
  progress.Progress(55, nullptr);
  EXPECT_EQ(progress.GetLastPercent(), 55);
  ASSERT_EQ(host.ProgressCalls().size(), 2u);
  EXPECT_EQ(host.ProgressCalls()[1], std::make_pair(55, 100));
  EXPECT_EQ(progress.IsCanceled(), 0);
  EXPECT_EQ(progress.IsCanceled(), 0);
  EXPECT_EQ(progress.IsCanceled(), 1);
  EXPECT_EQ(host.AbortPolls(), 3);

  host.GetServices().progress = false;
  host.GetServices().abort = false;
  host.ResetRun();
  plugin.SetHostPointers(&host.Record(), nullptr, &result);
  EXPECT_EQ(plugin.HostProgress(100, 3), 0);
  EXPECT_EQ(plugin.HostCancel(), 0);
  CHostProgress orphan;
  orphan.Progress(10, nullptr);
  EXPECT_EQ(orphan.IsCanceled(), 0);
}

}  // namespace
