#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CKLF_Storage.h"
#include "CKLT_UIBuilder.h"
#include "KLT_UITheme.h"
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

namespace {

// A record of the built file, decompressed: the rectangle header, then the
// planes.
std::vector<u8> Record(CKLF_Storage& store, const std::string& key) {
  CKLF_Mem packed, raw;
  EXPECT_EQ(store.GetRec(key.c_str(), packed), 1) << key;
  CKLF_ZipBlock zip;
  zip.SetMode(0);
  zip.SetSourceBlock(packed);
  zip.SetDestBlock(&raw);
  EXPECT_EQ(zip.Process(), 1) << key;
  return std::vector<u8>(raw.GetPtr(), raw.GetPtr() + raw.GetSize());
}

// The value of plane p at picture point (x, y) of a record w pixels wide.
u8 At(const std::vector<u8>& r, int w, int h, int p, int x, int y) {
  return r[8 + static_cast<size_t>(p) * w * h + static_cast<size_t>(y) * w + x];
}

}  // namespace

// A button in the caption strip takes its own clicks: the caption pictures
// and the drag area leave its rectangle out. The sample picture is a piece
// over transparency, the frame an outline.
TEST(UIBuilder, CaptionButtonsAndSampleArt) {
  klftest::TempDir dir;
  const std::string path = dir.File("c.kls4");
  ASSERT_EQ(Build("window W \"T\"\n  size 100 120\n  button W_X\n    rect 60 4 80 22\n    label \"x\"\n"
                  "  image W_S\n    rect 0 30 80 110\n    art sample\n  image W_F\n    rect 0 30 80 110\n    art frame\n",
                  path),
            "");
  CKLF_Storage store;
  ASSERT_EQ(store.Open(CKLF_String(path.c_str()), 1), 1);
  const std::vector<u8> caption = Record(store, "UIResources>Windows>W>Caption_Active");
  EXPECT_EQ(At(caption, 100, 26, 3, 70, 10), 0);
  EXPECT_EQ(At(caption, 100, 26, 3, 20, 10), 255);
  const std::vector<u8> drag = Record(store, "UIResources>Windows>W>Drag_Area");
  EXPECT_EQ(At(drag, 100, 26, 0, 70, 10), 0);
  EXPECT_GT(At(drag, 100, 26, 0, 20, 10), 128);
  const std::vector<u8> sample = Record(store, "UIResources>Static Images>W_S>Normal");
  EXPECT_EQ(At(sample, 80, 80, 3, 0, 0), 0);
  EXPECT_EQ(At(sample, 80, 80, 3, 40, 45), 255);
  const std::vector<u8> frame = Record(store, "UIResources>Static Images>W_F>Normal");
  EXPECT_GT(At(frame, 80, 80, 3, 1, 40), 128);
  EXPECT_EQ(At(frame, 80, 80, 3, 40, 40), 0);
  EXPECT_EQ(Build("window W\n  size 40 40\n  image I\n    rect 0 0 9 9\n    art blob\n", dir.File("d.kls4"))
                .rfind("t.klui:3: an image's art is", 0),
            0u);
}

namespace {

// The points of a slider record: x, y a point.
std::vector<std::pair<int, int>> Points(CKLF_Storage& store, const std::string& slider) {
  CKLF_Mem coors;
  EXPECT_EQ(store.GetRec(("UIResources>Sliders>" + slider + ">Data_Coors").c_str(), coors), 1);
  std::vector<std::pair<int, int>> out;
  const u8* c = coors.GetPtr();
  for (u32 i = 0; i + 5 <= coors.GetSize(); i += 5) out.push_back({c[i] << 8 | c[i + 1], c[i + 2] << 8 | c[i + 3]});
  return out;
}

}  // namespace

// A dial may start and step where told (degrees counterclockwise from the
// right, the last point not on the first); a straight track's points may be
// placed at a share of its length, those between spread evenly.
TEST(UIBuilder, SliderPointsOnDialsAndPlacedTracks) {
  klftest::TempDir dir;
  const std::string path = dir.File("s.kls4");
  ASSERT_EQ(Build("window W\n  size 230 120\n"
                  "  slider D\n    rect 0 0 76 76\n    points 360\n    values 0 359\n    path dial 0 1\n"
                  "  slider T\n    rect 0 80 217 100\n    points 301\n    values 0 999\n    value 100 100\n"
                  "    place 100 500\n",
                  path),
            "");
  CKLF_Storage store;
  ASSERT_EQ(store.Open(CKLF_String(path.c_str()), 1), 1);
  const auto d = Points(store, "D");
  ASSERT_EQ(d.size(), 360u);
  // Centre (38, 38), radius 30.
  EXPECT_EQ(d[0], std::make_pair(68, 38));
  EXPECT_EQ(d[90], std::make_pair(38, 8));
  EXPECT_EQ(d[180], std::make_pair(8, 38));
  EXPECT_EQ(d[270], std::make_pair(38, 68));
  EXPECT_NE(d[359], d[0]);
  const auto t = Points(store, "T");
  ASSERT_EQ(t.size(), 301u);
  EXPECT_EQ(t[0].first, 8);
  EXPECT_EQ(t[100].first, 108);  // half way along 200 pixels
  EXPECT_EQ(t[300].first, 208);
  EXPECT_EQ(t[50].first, 58);
  EXPECT_EQ(t[200].first, 158);
  const struct {
    const char* text;
    const char* message;
  } bad[] = {
      {"window W\n  size 99 99\n  slider S\n    rect 0 0 90 90\n    path dial 0 0\n", "t.klui:5: a dial's step"},
      {"window W\n  size 99 99\n  slider S\n    rect 0 0 90 90\n    path dial 0\n", "t.klui:5:"},
      {"window W\n  size 99 99\n  slider S\n    rect 0 0 90 90\n    path line 3\n", "t.klui:5: a slider's path"},
      {"window W\n  size 99 99\n  slider S\n    rect 0 0 90 20\n    points 9\n    place 4 500\n    place 5 400\n",
       "t.klui:3: placed points"},
      {"window W\n  size 99 99\n  slider S\n    rect 0 0 90 90\n    path dial\n    place 1 500\n",
       "t.klui:6: a dial's points cannot be placed"},
  };
  for (const auto& c : bad) EXPECT_EQ(Build(c.text, dir.File("b.kls4")).rfind(c.message, 0), 0u) << Build(c.text, dir.File("b.kls4"));
}

// The round well of a light, the knob, the swatch and the overlay picture;
// a title a caption button would cover starts at the left.
TEST(UIBuilder, DiscsKnobsSwatchesAndTitles) {
  klftest::TempDir dir;
  const std::string path = dir.File("k.kls4");
  ASSERT_TRUE(KLT_ThemeSetLabelFont(std::string(kFonts) + "/DejaVuSans.ttf"));
  ASSERT_EQ(Build("window W \"A Long Title\"\n  size 120 140\n  button W_H\n    rect 50 4 70 22\n    label \"?\"\n"
                  "  disc 10 30 70 90\n"
                  "  image W_K\n    rect 80 30 100 50\n    art thumb\n  image W_S\n    rect 80 60 110 80\n    art swatch\n"
                  "  image W_O\n    rect 0 90 50 140\n    art overlay\n",
                  path),
            "");
  CKLF_Storage store;
  ASSERT_EQ(store.Open(CKLF_String(path.c_str()), 1), 1);
  const std::vector<u8> bg = Record(store, "UIResources>Windows>W>Background");
  // The disc: centre (41, 61), radius 31.5; lighter towards its centre,
  // darker than the window at its rim.
  EXPECT_LT(At(bg, 120, 140, 0, 63, 83), At(bg, 120, 140, 0, 5, 100));
  EXPECT_GT(At(bg, 120, 140, 0, 36, 56), At(bg, 120, 140, 0, 63, 83));
  const std::vector<u8> knob = Record(store, "UIResources>Static Images>W_K>Normal");
  EXPECT_EQ(At(knob, 20, 20, 3, 10, 10), 255);
  EXPECT_EQ(At(knob, 20, 20, 3, 0, 0), 0);
  const std::vector<u8> swatch = Record(store, "UIResources>Static Images>W_S>Normal");
  EXPECT_EQ(At(swatch, 30, 20, 3, 0, 10), 255);
  const std::vector<u8> overlay = Record(store, "UIResources>Static Images>W_O>Normal");
  EXPECT_EQ(At(overlay, 50, 50, 3, 0, 0), 0);
  EXPECT_EQ(At(overlay, 50, 50, 3, 24, 27), 255);
  // Centred, the title (about 75 pixels) would start at 23 and run under
  // the button: it starts at 12 instead.
  const std::vector<u8> caption = Record(store, "UIResources>Windows>W>Caption_Active");
  int bright = 0;
  for (int x = 12; x < 20; ++x)
    for (int y = 6; y < 20; ++y) bright += At(caption, 120, 26, 0, x, y) > 150 ? 1 : 0;
  EXPECT_GT(bright, 5);
  KLT_ThemeDone();
}
