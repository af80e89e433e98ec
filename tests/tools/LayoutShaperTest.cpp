#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "CKLT_HostRunner.h"
#include "CKLT_SettingsSource.h"
#include "CLayoutModel.h"
#include "CSettingsBlock.h"

namespace {

typedef std::vector<uint32_t> Values;

bool Parse(const std::string& line, CKLT_HostRunner::Options& o) {
  std::vector<std::string> args;
  for (size_t at = 0, next; at < line.size(); at = next + 1) {
    next = line.find(' ', at);
    if (next == std::string::npos) next = line.size();
    args.push_back(line.substr(at, next - at));
  }
  std::string error;
  return CKLT_HostRunner::ParseArgs(args, o, error) == 0;
}

std::vector<uint8_t> Block(const std::string& line, int columns = 6, int rows = 4) {
  CKLT_HostRunner::Options o;
  EXPECT_TRUE(Parse(line + " in.png", o)) << line;
  std::vector<uint8_t> block;
  std::string error;
  EXPECT_TRUE(CKLT_SettingsSource::DefaultBlock(300, 200, columns, rows, false, block, error, &o.shape)) << error;
  return block;
}

void Read(const std::vector<uint8_t>& block, CLayoutModel& m) {
  CSettingsBlock codec;
  const u8* records = nullptr;
  u32 count = 0;
  u8 defaults = 1;
  ASSERT_EQ(codec.Read(m, block.data(), static_cast<u32>(block.size()), &records, count, &defaults), 1);
  ASSERT_EQ(defaults, 0);
}

}  // namespace

TEST(LayoutShaper, ShapedLayoutsFromTheCommandLine) {
  const char* refused[] = {"--triangles 0x3", "--hexagons 98x2", "--flip sideways", "--random-knots 101",
                           "--knob-size 0",   "--seed -1",       "--regular",       "--grid 2x2 --hexagons 2x2",
                           "--last --seed 3", "--thickness", "--triangles 2x2 --flip alternate"};
  for (const char* r : refused) {
    CKLT_HostRunner::Options o;
    EXPECT_FALSE(Parse(std::string(r) + " in.png", o)) << r;
  }
  // The same command gives the same layout; another seed another one.
  const std::string line = "--random-knots 40 --flip random --knob-size 80 --thickness 5";
  const std::vector<uint8_t> a = Block(line);
  EXPECT_EQ(Block(line), a);
  EXPECT_NE(Block(line + " --seed 2"), a);
  EXPECT_EQ(Block("--seed 1"), Block(""));

  CLayoutModel m;
  Read(a, m);
  u32 flipped = 0, moved = 0;
  for (u32 i = 0; i < m.vKnifeCount + m.hKnifeCount; ++i) {
    const CLayoutModel::KNIFESTRUCT& k = *m.NthKnife(i);
    flipped += k.flipH;
    EXPECT_EQ(Values({k.knobSize, k.thickness, k.pointCount, k.selected}), Values({80, 5, 5, 0}));
  }
  for (u32 i = 0; i < m.knotCount; ++i) {
    moved += m.knots[i].dx != 0;
    EXPECT_LE(std::fabs(m.knots[i].dx), 0.4f);
  }
  EXPECT_GT(flipped, 5u);
  EXPECT_LT(flipped, m.vKnifeCount + m.hKnifeCount - 5);
  EXPECT_EQ(moved, m.knotCount);
  EXPECT_EQ(m.thinKnives, 0);

  // Triangles: shaped extra knives over hidden grid knives, some flipped.
  CLayoutModel t;
  Read(Block("--triangles 3x4 --flip random", 0, 0), t);
  EXPECT_EQ(Values({t.verticalLineCount, t.horizontalLineCount, t.vKnives[0].hidden, t.xKnives[0].pointCount}),
            Values({4, 2, 1, 5}));
  u32 extraFlips = 0;
  for (u32 i = 0; i < t.xKnifeCount; ++i) extraFlips += t.xKnives[i].flipH;
  EXPECT_TRUE(extraFlips > 0 && extraFlips < t.xKnifeCount);
}
