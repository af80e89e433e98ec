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
      {"window W\n  size 40 40\n  label 4 4\n", "t.klui:3: 'label'"},
      {"window W\n  size 40 40\n  label 4 40 \"Rows\"\n", "t.klui:3: 'label': '40'"},
      {"window W\n  size 40 40\n  image I\n    rect 0 0 9 9\n    label \"x\"\n", "t.klui:3: only a cover"},
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

// A label is painted on the window's background; a cover image is a veil
// (its normal picture not clear), where a plain one is; a bar's trough is
// the window's unless the bar is bare.
TEST(UIBuilder, LabelsAndCoversArePainted) {
  ASSERT_TRUE(KLT_ThemeSetLabelFont(std::string(kFonts) + "/DejaVuSans.ttf"));
  klftest::TempDir dir;
  auto record = [&](const std::string& text, const char* key) {
    const std::string path = dir.File("l.kls4");
    EXPECT_EQ(Build(text, path), "");
    CKLF_Storage store;
    CKLF_Mem packed;
    EXPECT_EQ(store.Open(CKLF_String(path.c_str()), 1), 1);
    EXPECT_EQ(store.GetRec(key, packed), 1) << key;
    return std::vector<u8>(packed.GetPtr(), packed.GetPtr() + packed.GetSize());
  };
  const std::string window = "window W\n  size 80 40\n  caption 0\n";
  EXPECT_NE(record(window, "UIResources>Windows>W>Background"),
            record(window + "  label 4 10 \"Rows\"\n", "UIResources>Windows>W>Background"));
  const char* image = "UIResources>Static Images>I>Normal";
  EXPECT_NE(record(window + "  image I\n    rect 0 0 80 40\n", image),
            record(window + "  image I\n    rect 0 0 80 40\n    art cover\n    label \"Cutting\"\n", image));
  // A bare bar leaves its trough off the window.
  const std::string bar = window + "  progress P\n    rect 4 4 60 12\n";
  EXPECT_NE(record(bar, "UIResources>Windows>W>Background"), record(window, "UIResources>Windows>W>Background"));
  EXPECT_EQ(record(bar + "    bare\n", "UIResources>Windows>W>Background"),
            record(window, "UIResources>Windows>W>Background"));
  KLT_ThemeDone();
}
