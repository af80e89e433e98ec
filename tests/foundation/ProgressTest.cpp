#include <gtest/gtest.h>

#include <vector>

#include "CKLF_Progress.h"

namespace {
class Recorder : public CKLF_Progress {
 public:
  i32 Progress(u8 percent, void* data) override {
    seen.push_back(percent);
    lastData = data;
    return 0;
  }
  std::vector<int> seen;
  void* lastData = nullptr;
};
}  // namespace

TEST(SubProgress, MapsIntoTheMastersRangeAndAsksItForCancel) {
  Recorder master;
  CKLF_SubProgress sub, outer, inner;
  int tag = 0;
  sub.SetMasterProgress(&master, 20, 60);
  for (u8 p : {0, 50, 100}) sub.Progress(p, &tag);
  EXPECT_EQ(master.lastData, &tag);
  // Out-of-range bounds are clamped; start above end runs backwards.
  sub.SetMasterProgress(&master, 150, -5);
  for (u8 p : {0, 100, 33}) sub.Progress(p, nullptr);
  // Nested sub-progresses compose.
  outer.SetMasterProgress(&master, 50, 100);
  inner.SetMasterProgress(&outer, 0, 50);
  inner.Progress(100, nullptr);
  EXPECT_EQ(master.seen, (std::vector<int>{20, 40, 60, 100, 0, 67, 75}));

  CKLF_SubProgress lonely;
  lonely.Cancel();
  EXPECT_EQ(lonely.IsCanceled(), 0);  // no master: never cancels
  EXPECT_EQ(inner.IsCanceled(), 0);
  master.Cancel();
  EXPECT_EQ(inner.IsCanceled(), 1);
  master.Reset();
  EXPECT_EQ(inner.IsCanceled(), 0);
}
