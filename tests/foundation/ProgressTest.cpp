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

TEST(SubProgress, MapsIntoTheMastersRange) {
  Recorder master;
  CKLF_SubProgress sub;
  sub.SetMasterProgress(&master, 20, 60);
  int tag = 0;
  sub.Progress(0, &tag);
  sub.Progress(50, &tag);
  sub.Progress(100, &tag);
  EXPECT_EQ(master.seen, (std::vector<int>{20, 40, 60}));
  EXPECT_EQ(master.lastData, &tag);

  // Out-of-range bounds are clamped; start above end runs backwards.
  master.seen.clear();
  sub.SetMasterProgress(&master, 150, -5);
  sub.Progress(0, nullptr);
  sub.Progress(100, nullptr);
  sub.Progress(33, nullptr);
  EXPECT_EQ(master.seen, (std::vector<int>{100, 0, 67}));

  // Nested sub-progresses compose.
  master.seen.clear();
  CKLF_SubProgress outer;
  outer.SetMasterProgress(&master, 50, 100);
  CKLF_SubProgress inner;
  inner.SetMasterProgress(&outer, 0, 50);
  inner.Progress(100, nullptr);
  EXPECT_EQ(master.seen, (std::vector<int>{75}));
}

TEST(SubProgress, CancelComesFromTheMaster) {
  CKLF_SubProgress lonely;
  lonely.Cancel();
  EXPECT_EQ(lonely.IsCanceled(), 0);  // no master: never cancels
  EXPECT_EQ(lonely.Progress(50, nullptr), 0);

  CKLF_Progress master;
  CKLF_SubProgress sub;
  sub.SetMasterProgress(&master, 0, 100);
  EXPECT_EQ(sub.IsCanceled(), 0);
  master.Cancel();
  EXPECT_EQ(sub.IsCanceled(), 1);
  master.Reset();
  EXPECT_EQ(sub.IsCanceled(), 0);
}
