#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CKLT_HostOptions.h"
#include "CKLT_SettingsSource.h"
#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "ProgramRun.h"
#include "support/TestSupport.h"

namespace {

typedef std::vector<uint32_t> Values;

bool Parse(const std::string& line, CKLT_HostOptions& o) {
  std::istringstream in(line + " in.png -o out.png");
  std::vector<std::string> args;
  for (std::string a; in >> a;) args.push_back(a);
  std::string error;
  return CKLT_HostOptions::Parse(args, o, error) == 0;
}

// The default layout of a 300 x 200 document shaped by the command line,
// read back into m.
std::vector<uint8_t> Shaped(const std::string& line, CLayoutModel& m, int columns = 6, int rows = 4) {
  CKLT_HostOptions o;
  EXPECT_TRUE(Parse(line, o)) << line;
  std::vector<uint8_t> block;
  std::string error;
  EXPECT_TRUE(CKLT_SettingsSource::DefaultBlock(300, 200, columns, rows, false, block, error, &o.shape)) << error;
  CSettingsBlock codec;
  const u8* records = nullptr;
  u32 count = 0;
  u8 defaults = 1;
  EXPECT_EQ(codec.Read(m, block.data(), static_cast<u32>(block.size()), &records, count, &defaults) + defaults, 1);
  return block;
}

}  // namespace

TEST(LayoutShaper, ShapedLayoutsFromTheCommandLine) {
  for (const char* r : {"--triangles 0x3", "--hexagons 98x2", "--flip sideways", "--random-knots 101", "--knob-size 0",
                        "--seed -1", "--regular", "--grid 2x2 --hexagons 2x2", "--last --seed 3", "--thickness",
                        "--triangles 2x2 --flip alternate"}) {
    CKLT_HostOptions o;
    EXPECT_FALSE(Parse(r, o)) << r;
  }
  // The same command gives the same layout; another seed another one.
  const std::string line = "--random-knots 40 --flip random --knob-size 80 --thickness 5";
  CLayoutModel m, other;
  const std::vector<uint8_t> a = Shaped(line, m);
  EXPECT_EQ(Shaped(line, other), a);
  EXPECT_NE(Shaped(line + " --seed 2", other), a);
  u32 flipped = 0, moved = 0;
  for (u32 i = 0; i < m.TotalKnifeCount(); ++i) {
    const CLayoutModel::KNIFESTRUCT& k = *m.NthKnife(i);
    flipped += k.flipH;
    EXPECT_EQ(Values({k.knobSize, k.thickness, k.pointCount, k.selected}), Values({80, 5, 5, 0}));
  }
  for (u32 i = 0; i < m.knotCount; ++i) moved += m.knots[i].dx != 0 && std::fabs(m.knots[i].dx) <= 0.4f;
  EXPECT_TRUE(flipped > 5 && flipped + 5 < m.TotalKnifeCount()) << flipped;
  EXPECT_EQ(Values({moved, m.thinKnives}), Values({m.knotCount, 0}));

  // Triangles: shaped extra knives over hidden grid knives, some flipped.
  Shaped("--triangles 3x4 --flip random", m, 0, 0);
  u32 extraFlips = 0;
  for (u32 i = 0; i < m.xKnifeCount; ++i) extraFlips += m.xKnives[i].flipH;
  EXPECT_EQ(Values({m.verticalLineCount, m.horizontalLineCount, m.vKnives[0].hidden, m.xKnives[0].pointCount}),
            Values({4, 2, 1, 5}));
  EXPECT_TRUE(extraFlips > 0 && extraFlips < m.xKnifeCount);
}

// The README's examples of the default layout, run on the bundled sample
// picture (3:2) and on pictures of a square and a portrait photograph's
// sizes: each does what its comment says on all three. One that does not
// speak of slivers cuts as many pieces as cells; one that speaks of
// margins gets the margin note, and no other does.
TEST(LayoutShaper, TheReadmeExamplesDoWhatTheySay) {
  const std::string root = std::string(KLF_TEST_DATA_DIR) + "/..";
  std::ifstream readme(root + "/README.md");
  ASSERT_TRUE(readme.good());
  klftest::TempDir dir;
  std::vector<std::string> pictures = {root + "/tools/sample/lake.png"};
  for (const std::array<int32_t, 2> size : {std::array<int32_t, 2>{512, 512}, {300, 451}}) {
    pictures.push_back(dir.File(std::to_string(size[0]) + "x" + std::to_string(size[1]) + ".png"));
    hostprogram::Write(
        hostprogram::OneLayer(klpModeRGB, size[0], size[1], [](int c, int32_t i) { return uint8_t(i >> c); }),
        pictures.back());
  }
  int run = 0;
  for (std::string line; std::getline(readme, line);) {
    // "$H OPTIONS photo.EXT -o OUT  # comment", on one line, of a default layout.
    const size_t photo = line.find("photo.");
    if (line.rfind("$H ", 0) != 0 || photo == std::string::npos || line[photo - 1] != ' ' ||
        line.find('\\') != std::string::npos)
      continue;
    bool replay = false;
    for (const char* other : {"--settings", "--selection", "--dialog", "--last", "--export", "--save-settings"})
      replay |= line.find(other) != std::string::npos;
    if (replay) continue;
    const size_t hash = line.find('#');
    const std::string options = line.substr(3, photo - 3);
    const std::string comment = hash == std::string::npos ? "" : line.substr(hash);
    ++run;
    for (const std::string& picture : pictures) {
      SCOPED_TRACE(line + "\non " + picture);
      const hostprogram::Outcome o = hostprogram::RunProgram(std::string("-q --plugin ") + KLF_PLUGIN_LIBRARY + " " +
                                                             options + " " + picture + " -o " + dir.File("out.png"));
      EXPECT_EQ(o.code, 0) << o.out;
      if (comment.find("slivers") == std::string::npos) {
        EXPECT_EQ(o.out.find("the cut gave"), std::string::npos) << o.out;
      }
      const bool margins = o.out.find("whole") != std::string::npos && o.out.find("margins") != std::string::npos;
      EXPECT_EQ(margins, comment.find("margins") != std::string::npos) << o.out;
    }
  }
  EXPECT_GE(run, 6) << "the examples of the default layout were not found";
}
