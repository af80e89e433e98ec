#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>

#include "HostTestSupport.h"

namespace {

using hosttest::Bytes;
using Bound = hosttest::Bound<>;

// Reads of random rectangles with tiny memory limits give exactly the
// document's bytes; writes and fills land exactly there and nowhere else;
// no request is larger than maxSpace.
TEST(PlaneTransfer, BandsReproduceTheDocumentExactly) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    CKLT_FilterHost host;
    int32_t w = 1 + rng() % 70, h = 1 + rng() % 50;
    hosttest::RandomDocument(host, round % 3 == 0 ? klpModeGray : round % 3 == 1 ? klpModeRGB : klpModeCMYK, w, h,
                             round % 2 == 0, rng);
    kltRECT_s r;
    r.left = rng() % w;
    r.top = rng() % h;
    r.right = r.left + 1 + rng() % (w - r.left);
    r.bottom = r.top + 1 + rng() % (h - r.top);
    int32_t rw = r.right - r.left, rh = r.bottom - r.top;
    int32_t maxSpace = rw * (1 + rng() % 4) + static_cast<int32_t>(rng() % rw);
    host.SetMaxSpace(maxSpace);
    host.SetStrictSpace(true);
    Bound a(host);
    const u8 plane = static_cast<u8>(rng() % host.PlaneCount());
    const u32 stride = rw + rng() % 5;
    Bytes buf(stride * rh, 0xEE);
    ASSERT_TRUE(a.plugin.HostGetChanel(plane, r, buf.data(), stride));
    for (int32_t y = 0; y < rh; ++y)
      for (int32_t x = 0; x < rw; ++x)
        ASSERT_EQ(buf[y * stride + x], host.Plane(plane)[(r.top + y) * w + r.left + x]);
    int64_t band = std::min<int64_t>(rh, maxSpace / rw);
    EXPECT_EQ(host.AdvanceCalls(), (rh + band - 1) / band);
    EXPECT_LE(host.LargestRequest(), maxSpace);

    // A write of random bytes, then a fill, land there and nowhere else.
    std::vector<Bytes> expect = hosttest::Planes(host);
    for (auto& v : buf) v = static_cast<uint8_t>(rng());
    for (int fill = 0; fill < 2; ++fill) {
      ASSERT_TRUE(fill ? a.plugin.HostPutChanel(plane, r, static_cast<u8>(77))
                       : a.plugin.HostPutChanel(plane, r, buf.data(), stride));
      host.CommitPending();
      for (int32_t y = 0; y < rh; ++y)
        for (int32_t x = 0; x < rw; ++x) expect[plane][(r.top + y) * w + r.left + x] = fill ? 77 : buf[y * stride + x];
      ASSERT_EQ(hosttest::Planes(host), expect) << round;
    }
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(host.Record().inRect.right, 0);
    EXPECT_EQ(host.Record().outRect.right, 0);
  }
}

TEST(PlaneTransfer, MaskPlaneAndAbsoluteReads) {
  CKLT_FilterHost host;
  std::mt19937 rng(3);
  hosttest::RandomDocument(host, klpModeRGB, 20, 20, true, rng);
  Bytes mask(400);
  for (auto& v : mask) v = static_cast<uint8_t>(rng() | 1);
  ASSERT_TRUE(host.SetSelection(mask));
  Bound a(host);
  const kltRECT_s all = {0, 0, 20, 20};
  Bytes buf(400);
  ASSERT_TRUE(a.plugin.HostGetChanel(255, all, buf.data(), 20));
  EXPECT_EQ(buf, mask);
  // Absolute numbering reaches the same planes here and raises wantsAbsolute.
  ASSERT_TRUE(a.plugin.HostGetAlphaChanel(3, all, buf.data(), 20));
  EXPECT_EQ(buf, host.Plane(3));
  EXPECT_EQ(host.Record().wantsAbsolute, 1);
  ASSERT_TRUE(a.plugin.HostGetChanel(2, all, buf.data(), 20));
  EXPECT_EQ(host.Record().wantsAbsolute, 0);
  // Writing the mask plane is refused.
  EXPECT_FALSE(a.plugin.HostPutChanel(255, all, buf.data(), 20));
  EXPECT_EQ(a.plugin.GetError(), klErrBadArg);
  host.GetServices().supportsAbsolute = false;
  host.ResetRun();
  a.Bind(host);
  EXPECT_FALSE(a.plugin.HostGetAlphaChanel(0, all, buf.data(), 20));
  EXPECT_EQ(a.plugin.GetError(), klErrBadArg);
}

// (A host without advanceState, or one that refuses a plane: see the
// replay's result rules.)
TEST(PlaneTransfer, RefusedRequestsSetTheirResults) {
  Bytes buf(300 * 10, 5);
  const struct {
    const char* what;
    int32_t maxSpace;
    u8 plane;
    kltRECT_s rect;
    u8* buffer;
    u32 stride;
    int16_t result;
  } rows[] = {
      {"outside the image", 1 << 20, 0, {5, 5, 15, 15}, buf.data(), 10, klpResUserCanceled},
      {"no mask to give", 1 << 20, 255, {0, 0, 10, 10}, buf.data(), 10, klpResBadParameters},
      {"narrower than a row", 299, 0, {0, 0, 300, 10}, buf.data(), 300, klpResBadParameters},
      {"no space for a fill", 0, 0, {0, 0, 10, 10}, nullptr, 0, klpResBadParameters},
      {"empty rectangle", 1 << 20, 0, {5, 5, 5, 15}, buf.data(), 10, 0},
      {"short rows", 1 << 20, 0, {0, 0, 10, 10}, buf.data(), 9, 0},
      {"no buffer", 1 << 20, 0, {0, 0, 10, 10}, nullptr, 10, 0},
  };
  for (const auto& row : rows) {
    CKLT_FilterHost host;
    ASSERT_TRUE(host.SetDocument(klpModeGray, 300, 10, false));
    host.SetMaxSpace(row.maxSpace);
    Bound a(host);
    EXPECT_FALSE(row.stride ? a.plugin.HostGetChanel(row.plane, row.rect, row.buffer, row.stride)
                            : a.plugin.HostPutChanel(row.plane, row.rect, static_cast<u8>(1)))
        << row.what;
    host.CommitPending();
    EXPECT_EQ(a.result, row.result) << row.what;
    EXPECT_EQ(host.Plane(0), Bytes(3000, 0)) << row.what;
  }
  CPluginMain none;
  EXPECT_FALSE(none.HostGetChanel(0, kltRECT_s{0, 0, 1, 1}, buf.data(), 1));
  EXPECT_EQ(none.GetError(), klErrBadArg);
}

TEST(PlaneTransfer, ProgressAndAbortGoToTheHost) {
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeRGB, 4, 4, false));
  host.CancelAfterPolls(1);
  Bound a(host);
  CHostProgress& progress = a.plugin.GetHostProgress();
  progress.Progress(55, nullptr);
  EXPECT_EQ(host.ProgressCalls(), (std::vector<std::pair<int32_t, int32_t>>{{55, 100}}));
  EXPECT_EQ(progress.IsCanceled(), 0);
  EXPECT_EQ(progress.IsCanceled(), 1);
  // Without the services, or without a plug-in object: nothing, no crash.
  host.GetServices().progress = host.GetServices().abort = false;
  host.ResetRun();
  a.Bind(host);
  EXPECT_EQ(a.plugin.HostProgress(100, 3) + a.plugin.HostCancel(), 0);
  CHostProgress orphan;
  orphan.Progress(10, nullptr);
  EXPECT_EQ(orphan.IsCanceled(), 0);
}

}  // namespace

// Bands of wide rectangles are moved in parts side by side: reads and
// writes give the bytes of one thread, and rows made into the host's bands
// (numbered from the rectangle's top) are each made once and land there.
TEST(PlaneTransfer, WideBandsMovedSideBySideAndRowsMadeInPlace) {
  const int32_t w = 2000, h = 700;
  const kltRECT_s r = {3, 5, 1999, 698};
  const int32_t rw = r.right - r.left, rh = r.bottom - r.top;
  std::vector<Bytes> result[2];
  for (int run = 0; run < 2; ++run) {
    std::mt19937 rng(8);
    CKLT_FilterHost host;
    hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
    host.SetMaxSpace(1 << 20);
    host.SetThreads(run == 0 ? 1 : 4);
    Bound a(host);
    ASSERT_TRUE(a.Fill(host));
    const u32 stride = rw + 3;
    Bytes buf(static_cast<size_t>(stride) * rh);
    ASSERT_TRUE(a.plugin.HostGetChanel(1, r, buf.data(), stride));
    for (int32_t y = 0; y < rh; ++y)
      ASSERT_EQ(0, std::memcmp(&buf[static_cast<size_t>(y) * stride], &host.Plane(1)[(r.top + y) * w + r.left], rw));
    for (auto& v : buf) v = static_cast<uint8_t>(v * 7 + 1);
    ASSERT_TRUE(a.plugin.HostPutChanel(0, r, buf.data(), stride));
    struct Maker {
      int32_t width;
      std::vector<std::atomic<int>> made;
      static void Rows(void* user, u32 row, u32 rows, u8* dst, i64 dstRowBytes) {
        Maker& m = *static_cast<Maker*>(user);
        for (u32 y = row; y < row + rows; ++y, dst += dstRowBytes) {
          ++m.made[y];
          for (int32_t x = 0; x < m.width; ++x) dst[x] = static_cast<u8>(y * 3 + x);
        }
      }
    } maker{rw, std::vector<std::atomic<int>>(rh)};
    ASSERT_TRUE(a.plugin.HostPutChanelRows(2, r, Maker::Rows, &maker));
    host.CommitPending();
    EXPECT_GT(host.AdvanceCalls(), 3);
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) {
        ASSERT_EQ(host.Plane(2)[y * w + x], static_cast<u8>((y - r.top) * 3 + x - r.left)) << x << " " << y;
        ASSERT_EQ(host.Plane(0)[y * w + x], buf[(y - r.top) * stride + x - r.left]) << x << " " << y;
      }
    for (int32_t y = 0; y < rh; ++y) ASSERT_EQ(maker.made[y].load(), 1) << y;
    result[run] = hosttest::Planes(host);
    EXPECT_FALSE(a.plugin.HostPutChanelRows(2, r, nullptr, nullptr));
  }
  EXPECT_EQ(result[0], result[1]);
}
