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

// The value of plane p of a picture record at (x, y), window coordinates.
u8 At(const std::vector<u8>& rec, int p, int x, int y) {
  const int l = rec[0] << 8 | rec[1], t = rec[2] << 8 | rec[3], r = rec[4] << 8 | rec[5], b = rec[6] << 8 | rec[7];
  const size_t plane = static_cast<size_t>(r - l) * (b - t);
  return rec[8 + p * plane + static_cast<size_t>(y - t) * (r - l) + (x - l)];
}

// Builds text and opens the built file.
class Built {
 public:
  explicit Built(const std::string& text) {
    EXPECT_EQ(Build(text, m_dir.File("b.kls4")), "") << text;
    EXPECT_EQ(m_store.Open(CKLF_String(m_dir.File("b.kls4").c_str()), 1), 1);
  }
  std::vector<u8> operator[](const std::string& key) { return Record(m_store, key); }
  bool Has(const std::string& key) { return m_store.GetRecType(key.c_str()) != CKLF_Storage::klRecMissing; }

 private:
  klftest::TempDir m_dir;
  CKLF_Storage m_store;
};

// Fixed texts are drawn with the label font.
class UIBuilderText : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(KLT_ThemeSetLabelFont(std::string(kFonts) + "/DejaVuSans.ttf")); }
  void TearDown() override { KLT_ThemeDone(); }
};

}  // namespace

// A control in the caption strip takes its own clicks: the caption
// pictures and the drag area leave its rectangle out, and the background
// carries the caption under it, so its corners do not show the window's
// face.
TEST(UIBuilder, CaptionControlsAreCutOut) {
  Built b("window W \"T\"\n  size 100 120\n  button W_X\n    rect 60 4 80 22\n    label \"x\"\n"
          "  checkbox W_C\n    rect 10 10 30 30\n    label \"c\"\n  button W_B\n    rect 10 60 50 80\n");
  for (const char* key : {"UIResources>Windows>W>Caption_Active", "UIResources>Windows>W>Caption_Inactive"}) {
    const std::vector<u8> caption = b[key];
    EXPECT_EQ(At(caption, 3, 70, 10), 0) << key;
    EXPECT_EQ(At(caption, 3, 20, 20), 0) << key;  // not a button, but on the caption all the same
    EXPECT_EQ(At(caption, 3, 45, 10), 255) << key;
  }
  const std::vector<u8> drag = b["UIResources>Windows>W>Drag_Area"];
  EXPECT_EQ(At(drag, 0, 70, 10), 0);
  EXPECT_GT(At(drag, 0, 45, 10), 128);
  // Under the close box the background is the caption's: the same colour
  // as the active caption beside it, not the face below the caption.
  const std::vector<u8> bg = b["UIResources>Windows>W>Background"];
  const std::vector<u8> active = b["UIResources>Windows>W>Caption_Active"];
  for (int p = 0; p < 3; ++p) {
    EXPECT_NEAR(At(bg, p, 61, 12), At(active, p, 58, 12), 2) << p;
    EXPECT_NE(At(bg, p, 61, 12), At(bg, p, 61, 50)) << p;
  }
}

// The art kinds, and the marks drawn over an image in window coordinates.
TEST_F(UIBuilderText, ImageArtAndMarks) {
  Built b("window W \"T\"\n  size 100 120\n"
          "  image W_S\n    rect 0 30 80 110\n    art sample\n"
          "  image W_F\n    rect 0 30 80 110\n    art frame\n"
          "  image W_P\n    rect 0 30 80 110\n"
          "  image W_C\n    rect 0 26 100 120\n    art cover \"Cutting\"\n    field 10 100 90 110\n"
          "  image W_V\n    rect 0 26 100 120\n    art cover\n"
          "  image W_M\n    rect 0 30 100 48\n    badge 4 32 96 46 \"MODE\" orange\n"
          "    label 50 40 \"On\" align centre\n");
  const std::vector<u8> sample = b["UIResources>Static Images>W_S>Normal"];
  EXPECT_EQ(At(sample, 3, 0, 30), 0);
  EXPECT_EQ(At(sample, 3, 40, 75), 255);
  const std::vector<u8> frame = b["UIResources>Static Images>W_F>Normal"];
  EXPECT_GT(At(frame, 3, 1, 70), 128);
  EXPECT_EQ(At(frame, 3, 40, 70), 0);
  // A cover is a veil, where a plain image is clear; its heading and its
  // field are drawn on it.
  EXPECT_EQ(At(b["UIResources>Static Images>W_P>Normal"], 3, 5, 40), 0);
  const std::vector<u8> cover = b["UIResources>Static Images>W_C>Normal"];
  EXPECT_GT(At(cover, 3, 5, 40), 128);
  EXPECT_NE(cover, b["UIResources>Static Images>W_V>Normal"]);
  EXPECT_EQ(At(cover, 3, 50, 105), 255);
  // The badge and the label lie on the image.
  const std::vector<u8> marked = b["UIResources>Static Images>W_M>Normal"];
  EXPECT_EQ(At(marked, 3, 60, 39), 255);
  EXPECT_EQ(At(marked, 3, 2, 31), 0);
  EXPECT_EQ(Build("window W\n  size 40 40\n  image I\n    rect 0 0 9 9\n    art blob\n", klftest::TempDir().File("d"))
                .rfind("t.klui:3: an image's art is", 0),
            0u);
}

// Labels are painted on the window's background, each tone its own; a
// bar's or an edit line's trough is the window's unless the control is bare.
TEST_F(UIBuilderText, LabelsAndBareControls) {
  const std::string window = "window W\n  size 80 40\n  caption 0\n";
  auto background = [](const std::string& text) { return Built(text)["UIResources>Windows>W>Background"]; };
  const std::vector<u8> plain = background(window);
  EXPECT_NE(plain, background(window + "  label 4 18 \"Rows\"\n"));
  EXPECT_NE(background(window + "  label 4 18 \"Rows\" tone muted\n"), background(window + "  label 4 18 \"Rows\"\n"));
  EXPECT_NE(background(window + "  label 4 18 \"Rows\" tone muted\n"),
            background(window + "  label 4 18 \"Rows\" tone soft\n"));
  // Right-aligned at x, the text ends there: nothing is drawn to its right.
  const std::vector<u8> right = background(window + "  label 40 18 \"Rows\" align right size 14\n");
  for (int x = 42; x < 80; ++x) EXPECT_EQ(At(right, 0, x, 18), At(plain, 0, x, 18)) << x;
  EXPECT_NE(right, plain);
  for (const char* control : {"  progress P\n    rect 4 4 60 12\n", "  edit E\n    rect 4 4 60 12\n"}) {
    EXPECT_NE(background(window + control), plain) << control;
    EXPECT_EQ(background(window + control + "    bare\n"), plain) << control;
  }
}

TEST(UIBuilder, HelpLinksAreOneText) {
  Built b("help \"Home\" \"https://example.org/\"\nhelp ---\nhelp \"Mail\" \"mailto:a@example.org\"\n");
  const std::vector<u8> help = b["InfoM"];
  EXPECT_EQ(std::string(help.begin(), help.end()), "{|Home|}{|https://example.org/|}{|---|}{|Mail|}{|mailto:a@example.org|}");
}

// Fading controls, and navigators, have no disabled pictures; the others do.
TEST(UIBuilder, FadingControlsHaveNoDisabledPictures) {
  Built b("window W\n  size 120 80\n"
          "  button X\n    rect 96 4 116 20\n    label \"x\"\n"
          "  button F\n    rect 10 50 60 70\n    fade\n"
          "  checkbox C\n    rect 70 50 90 70\n    fade\n"
          "  radio R\n    rect 90 50 110 70\n    group 1\n    fade\n"
          "  slider S\n    rect 0 30 120 48\n    fade\n"
          "  image N\n    rect 0 30 50 48\n    art navigator\n"
          "  image P\n    rect 60 30 110 48\n    art piece\n");
  EXPECT_TRUE(b.Has("UIResources>Buttons>X>Disabled"));
  EXPECT_FALSE(b.Has("UIResources>Buttons>F>Disabled"));
  EXPECT_TRUE(b.Has("UIResources>Buttons>F>Normal"));
  EXPECT_FALSE(b.Has("UIResources>Check Boxes>C>Disabled On"));
  EXPECT_TRUE(b.Has("UIResources>Check Boxes>C>Normal On"));
  EXPECT_FALSE(b.Has("UIResources>Radio Buttons>R>Disabled Off"));
  EXPECT_FALSE(b.Has("UIResources>Sliders>S>Background_Disabled"));
  EXPECT_TRUE(b.Has("UIResources>Sliders>S>Background_Normal"));
  EXPECT_FALSE(b.Has("UIResources>Static Images>N>Disabled"));
  EXPECT_TRUE(b.Has("UIResources>Static Images>P>Disabled"));
}

TEST(UIBuilder, HelpLabelsAndMarksAreChecked) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"help \"only a title\"\n", "t.klui:1: 'help'"},
      {"help \"a {| b\" \"https://x/\"\n", "t.klui:1: '{|' and '|}'"},
      {"help --- \"https://x/\"\n", "t.klui:1: a help item cannot be titled"},
      {"help \"\" \"https://x/\"\n", "t.klui:1: a help item's title"},
      {"window W\n  size 40 40\n  label 1 2\n", "t.klui:3: a label is"},
      {"window W\n  size 40 40\n  label 1 2 \"t\" tone loud\n", "t.klui:3: a label's tone"},
      {"window W\n  size 40 40\n  label 1 2 \"t\" align up\n", "t.klui:3: a label aligns"},
      {"window W\n  size 40 40\n  label 1 2 \"t\" colour red\n", "t.klui:3: a label takes"},
      {"window W\n  size 40 40\n  image I\n    rect 0 0 9 9\n    badge 0 0 9 9 \"t\" green\n", "t.klui:5: a badge"},
      {"window W\n  size 40 40\n  image I\n    rect 0 0 9 9\n    label \"x\"\n", "t.klui:5: a label is"},
      {"window W\n  size 40 40\n  image I\n    rect 0 0 9 9\n    field 0 0 9\n", "t.klui:5: 'field'"},
      {"window W\n  size 40 40\n  image I\n    rect 0 0 9 9\n    art piece \"x\"\n", "t.klui:5: 'art' takes"},
      {"window W\n  size 40 40\n  text T\n    rect 0 0 9 9\n    bare\n", "t.klui:5: 'bare' has no meaning"},
  };
  klftest::TempDir dir;
  for (const auto& c : cases)
    EXPECT_EQ(Build(c.text, dir.File("x.kls4")).rfind(c.message, 0), 0u)
        << c.text << " -> " << Build(c.text, dir.File("x.kls4"));
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

// The value of plane p at picture point (x, y) of a record w x h pixels.
u8 AtPic(const std::vector<u8>& r, int w, int h, int p, int x, int y) {
  return r[8 + static_cast<size_t>(p) * w * h + static_cast<size_t>(y) * w + x];
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
  EXPECT_LT(AtPic(bg, 120, 140, 0, 63, 83), AtPic(bg, 120, 140, 0, 5, 100));
  EXPECT_GT(AtPic(bg, 120, 140, 0, 36, 56), AtPic(bg, 120, 140, 0, 63, 83));
  const std::vector<u8> knob = Record(store, "UIResources>Static Images>W_K>Normal");
  EXPECT_EQ(AtPic(knob, 20, 20, 3, 10, 10), 255);
  EXPECT_EQ(AtPic(knob, 20, 20, 3, 0, 0), 0);
  const std::vector<u8> swatch = Record(store, "UIResources>Static Images>W_S>Normal");
  EXPECT_EQ(AtPic(swatch, 30, 20, 3, 0, 10), 255);
  const std::vector<u8> overlay = Record(store, "UIResources>Static Images>W_O>Normal");
  EXPECT_EQ(AtPic(overlay, 50, 50, 3, 0, 0), 0);
  EXPECT_EQ(AtPic(overlay, 50, 50, 3, 24, 27), 255);
  // Centred, the title (about 75 pixels) would start at 23 and run under
  // the button: it starts at 12 instead.
  const std::vector<u8> caption = Record(store, "UIResources>Windows>W>Caption_Active");
  int bright = 0;
  for (int x = 12; x < 20; ++x)
    for (int y = 6; y < 20; ++y) bright += AtPic(caption, 120, 26, 0, x, y) > 150 ? 1 : 0;
  EXPECT_GT(bright, 5);
  KLT_ThemeDone();
}
