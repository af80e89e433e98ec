#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CKLF_Storage.h"
#include "CKLT_UIBuilder.h"
#include "CKLF_ZipBlock.h"
#include "support/TestSupport.h"

namespace {

const char* const kFonts = KLF_FONT_DIR;

// Builds text into a file; the message of the first problem, "" when built.
std::string Build(const std::string& text, const std::string& path) {
  CKLT_UIDescription desc;
  if (!desc.Parse(text, "t.klui")) return desc.Error();
  CKLT_UIResourceFile file;
  CKLT_UIBuilder builder(file, kFonts);
  if (!builder.Build(desc)) return builder.Error();
  return file.Write(path) ? "" : file.Error();
}

}  // namespace

// Every problem names its file and line, and nothing is written.
TEST(UIBuilder, BadDescriptionsAreRefusedWithTheirLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"window W\n\tsize 40 40\n", "t.klui:2: tabs"},
      {"  window W\n", "t.klui:1: a top-level"},
      {"window W\n    size 40 40\n  caption 0\n", "t.klui:3: indentation"},
      {"window W \"open\n", "t.klui:1: unterminated"},
      {"window W\n  size 40 40 ;\n", "t.klui:2: unexpected"},
      {"frame W\n", "t.klui:1: unknown statement"},
      {"window W\n", "t.klui:1: window W needs a size"},
      {"window W\n  size 40 x\n", "t.klui:2: 'size': 'x'"},
      {"window W\n  size 40 40\n  knob K\n", "t.klui:3: unknown window part"},
      {"window W\n  size 40 40\n  button B\n", "t.klui:3: 'button B' needs a rect"},
      {"window W\n  size 40 40\n  button B\n    rect 0 0 50 10\n", "t.klui:4: the rectangle leaves"},
      {"window W\n  size 40 40\n  button B\n    rect 5 5 5 10\n", "t.klui:4: the rectangle is empty"},
      {"window W\n  size 40 40\n  button B\n    rect 0 0 9 9\n    group 1\n", "t.klui:5: 'group' has no meaning"},
      {"window W\n  size 40 40\n  radio R\n    rect 0 0 9 9\n", "t.klui:3: a radio button needs a group"},
      {"window W\n  size 40 40\n  slider S\n    rect 0 0 39 20\n    value 10 5\n", "t.klui:5: 'value': '10'"},
      {"window W\n  size 40 40\n  slider S\n    rect 0 0 39 39\n    path dial\n    points 2\n",
       "t.klui:3: a dial needs"},
      {"window W\n  size 80 80\n  scrollbar S\n    rect 0 0 16 40\n    arrows\n", "t.klui:3: the bar is too short"},
      {"string A \"x\"\nstring A \"y\"\n", "t.klui:2: the key \"UIResources>Strings>A\" is defined twice"},
      {"accelerator cmd+hyper+Q 1\n", "t.klui:1: unknown modifier 'hyper'"},
      {"accelerator cmd+F13 1\n", "t.klui:1: 'F13' is not an accelerator key"},
      {"font F NoSuchFace.ttf 12\n", "t.klui:1: " KLF_FONT_DIR "/NoSuchFace.ttf: cannot open"},
      {"font F DejaVuSans.ttf 12 100 90\n", "t.klui:1: 'font': '90'"},
      // Names become parts of store keys, which ">" joins.
      {"string \"\" \"x\"\n", "t.klui:1: 'string' needs a name"},
      {"string \"a>b\" \"x\"\n", "t.klui:1: the name \"a>b\" holds '>'"},
      {"font \"\" DejaVuSans.ttf 12\n", "t.klui:1: 'font' needs a name"},
      {"rect \"R>S\" 0 0 1 1\n", "t.klui:1: the name \"R>S\""},
      {"window \"W>X\"\n  size 40 40\n", "t.klui:1: the name \"W>X\""},
      {"window W\n  size 40 40\n  button \"B>C\"\n    rect 0 0 9 9\n", "t.klui:3: the name \"B>C\""},
      {"window W\n  size 40 40\n  string \"\" \"x\"\n", "t.klui:3: 'string' needs a name"},
  };
  klftest::TempDir dir;
  const std::string path = dir.File("out.kls4");
  for (const auto& c : cases) {
    EXPECT_EQ(Build(c.text, path).rfind(c.message, 0), 0u) << c.text << " -> " << Build(c.text, path);
    EXPECT_TRUE(klftest::ReadFileBytes(path).empty()) << c.text;
  }
  // A zero byte no record holds, and a name too long for a key part.
  const std::pair<std::string, std::string> more[] = {
      {std::string("string A \"x\0y\"\n", 15), "t.klui:1: a string cannot hold a zero byte"},
      {std::string("window W\n  size 40 40\n  text \"T\0\"\n", 34), "t.klui:3: a string cannot hold a zero byte"},
      {"rect " + std::string(256, 'n') + " 0 0 1 1\n", "t.klui:1: the name \"nnnnnnnnnnnnnnnnnnnn...\" is longer"},
  };
  for (const auto& c : more) {
    EXPECT_EQ(Build(c.first, path).rfind(c.second, 0), 0u) << Build(c.first, path);
    EXPECT_TRUE(klftest::ReadFileBytes(path).empty());
  }
  EXPECT_EQ(Build("rect " + std::string(255, 'n') + " 0 0 1 1\n", path), "");
}

// Accelerator entries: 108 bytes each, the command little-endian.
TEST(UIBuilder, AcceleratorTableLayout) {
  klftest::TempDir dir;
  ASSERT_EQ(Build("accelerator cmd+shift+Z 258\naccelerator ctrl+option+F2 7\naccelerator . 9\n", dir.File("a.kls4")), "");
  CKLF_Storage store;
  ASSERT_EQ(store.Open(CKLF_String(dir.File("a.kls4").c_str()), 1), 1);
  CKLF_Mem packed;
  ASSERT_EQ(store.GetRec("UIResources>Accelerators", packed), 1);
  CKLF_ZipBlock zip;
  zip.SetMode(0);
  zip.SetSourceBlock(packed);
  CKLF_Mem table;
  zip.SetDestBlock(&table);
  ASSERT_EQ(zip.Process(), 1);
  ASSERT_EQ(table.GetSize(), 3u * 108);
  const u8* e = table.GetPtr();
  EXPECT_EQ(std::vector<u8>(e, e + 8), (std::vector<u8>{1, 0, 1, 1, 'Z', 0, 2, 1}));
  EXPECT_EQ(std::vector<u8>(e + 108, e + 116), (std::vector<u8>{1, 1, 0, 0, 221, 0, 7, 0}));
  EXPECT_EQ(std::vector<u8>(e + 216, e + 224), (std::vector<u8>{0, 0, 0, 0, '.', 0, 9, 0}));
}

// Cards lie where the window's cell rectangles are computed to be: kCellGap
// from the sides and apart, the bottom margin kept free; the layout samples
// draw lines of their own kind.
TEST(UIBuilder, CellCardsAndLayoutSamples) {
  klftest::TempDir dir;
  const std::string path = dir.File("c.kls4");
  auto picture = [&](const std::string& art) {
    const std::string text = "window W\n  size 120 80\n  caption 0\n  image I\n    rect 10 10 110 70\n    art " + art + "\n";
    EXPECT_EQ(Build(text, path), "") << art;
    CKLF_Storage store;
    CKLF_Mem packed, image;
    EXPECT_EQ(store.Open(CKLF_String(path.c_str()), 1), 1);
    EXPECT_EQ(store.GetRec("UIResources>Static Images>I>Normal", packed), 1);
    CKLF_ZipBlock zip;
    zip.SetMode(0);
    zip.SetSourceBlock(packed);
    zip.SetDestBlock(&image);
    EXPECT_EQ(zip.Process(), 1);
    return std::vector<u8>(image.GetPtr(), image.GetPtr() + image.GetSize());
  };
  // 100 x 60 picture, planes after an 8-byte rectangle.
  auto at = [](const std::vector<u8>& p, int x, int y, int plane) { return p[8 + plane * 6000 + y * 100 + x]; };
  // Two cards of (100 - 24) / 2 = 38 x (60 - 8 - 12) = 40 at x 8 and 54, y 8.
  const std::vector<u8> cells = picture("cells 2 1 12");
  ASSERT_EQ(cells.size(), 8u + 4 * 6000);
  for (const int x : {8, 45, 54, 91}) {
    EXPECT_EQ(at(cells, x, 8, 3), 255) << x;
    EXPECT_EQ(at(cells, x, 47, 3), 255) << x;
    EXPECT_EQ(at(cells, x, 20, 0), 0xC4) << x;
  }
  for (const auto& p : std::vector<std::pair<int, int>>{{50, 20}, {3, 20}, {96, 20}, {20, 3}, {20, 54}})
    EXPECT_EQ(at(cells, p.first, p.second, 3), 0) << p.first << "," << p.second;

  const std::vector<u8> triangles = picture("triangles"), hexagons = picture("hexagons");
  EXPECT_NE(triangles, hexagons);
  EXPECT_NE(triangles, picture("plain"));
  for (const char* bad : {"cells 0 1", "cells 2", "cells 2 1 61", "squares"})
    EXPECT_NE(Build(std::string("window W\n  size 120 80\n  image I\n    rect 10 10 110 70\n    art ") + bad + "\n", path),
              "")
        << bad;
}
