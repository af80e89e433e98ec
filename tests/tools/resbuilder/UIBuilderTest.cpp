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
  };
  klftest::TempDir dir;
  for (const auto& c : cases) {
    const std::string path = dir.File("out.kls4");
    EXPECT_EQ(Build(c.text, path).rfind(c.message, 0), 0u) << c.text << " -> " << Build(c.text, path);
    EXPECT_TRUE(klftest::ReadFileBytes(path).empty()) << c.text;
  }
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

// The decompressed bytes of a packed record.
std::vector<u8> Unpacked(CKLF_Storage& store, const char* key) {
  CKLF_Mem packed, out;
  if (!store.GetRec(key, packed)) return {};
  CKLF_ZipBlock zip;
  zip.SetMode(0);
  zip.SetSourceBlock(packed);
  zip.SetDestBlock(&out);
  if (!zip.Process()) return {};
  return std::vector<u8>(out.GetPtr(), out.GetPtr() + out.GetSize());
}

// The alpha of a pixel of an image record (window coordinates).
u8 AlphaAt(const std::vector<u8>& rec, int x, int y) {
  const int l = rec[0] << 8 | rec[1], t = rec[2] << 8 | rec[3], r = rec[4] << 8 | rec[5], b = rec[6] << 8 | rec[7];
  const size_t plane = static_cast<size_t>(r - l) * (b - t);
  return rec[8 + 3 * plane + static_cast<size_t>(y - t) * (r - l) + (x - l)];
}

}  // namespace

TEST(UIBuilder, HelpLinksCaptionHolesAndFadingControls) {
  klftest::TempDir dir;
  const std::string text =
      "help \"Home\" \"https://example.org/\"\n"
      "help ---\n"
      "help \"Mail\" \"mailto:a@example.org\"\n"
      "window W \"Title\"\n"
      "  size 120 80\n"
      "  caption 24\n"
      "  label 10 40 \"fixed\" tone soft size 11\n"
      "  button X\n"
      "    rect 96 4 116 20\n"
      "    label \"x\"\n"
      "  button F\n"
      "    rect 10 50 60 70\n"
      "    fade\n"
      "  checkbox C\n"
      "    rect 70 50 90 70\n"
      "    fade\n"
      "  image M\n"
      "    rect 0 30 120 48\n"
      "    badge 4 32 116 46 \"MODE\" orange\n";
  ASSERT_EQ(Build(text, dir.File("h.kls4")), "");
  CKLF_Storage store;
  ASSERT_EQ(store.Open(CKLF_String(dir.File("h.kls4").c_str()), 1), 1);
  const std::vector<u8> help = Unpacked(store, "InfoM");
  EXPECT_EQ(std::string(help.begin(), help.end()), "{|Home|}{|https://example.org/|}{|---|}{|Mail|}{|mailto:a@example.org|}");
  // The close button on the caption: the caption is see-through there and
  // does not drag, and it does elsewhere.
  const std::vector<u8> caption = Unpacked(store, "UIResources>Windows>W>Caption_Active");
  const std::vector<u8> drag = Unpacked(store, "UIResources>Windows>W>Drag_Area");
  ASSERT_FALSE(caption.empty());
  ASSERT_FALSE(drag.empty());
  EXPECT_EQ(AlphaAt(caption, 100, 10), 0);
  EXPECT_EQ(AlphaAt(caption, 50, 10), 255);
  EXPECT_EQ(drag[8 + 10 * 120 + 100], 0);
  EXPECT_GT(drag[8 + 10 * 120 + 50], 128);
  // Fading controls have no disabled pictures; the others do.
  EXPECT_NE(store.GetRecType("UIResources>Buttons>X>Disabled"), CKLF_Storage::klRecMissing);
  EXPECT_EQ(store.GetRecType("UIResources>Buttons>F>Disabled"), CKLF_Storage::klRecMissing);
  EXPECT_EQ(store.GetRecType("UIResources>Check Boxes>C>Disabled On"), CKLF_Storage::klRecMissing);
  EXPECT_NE(store.GetRecType("UIResources>Check Boxes>C>Normal On"), CKLF_Storage::klRecMissing);
  // The badge is drawn into the image.
  EXPECT_EQ(AlphaAt(Unpacked(store, "UIResources>Static Images>M>Normal"), 60, 39), 255);
}

TEST(UIBuilder, HelpAndLabelStatementsAreChecked) {
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
      {"window W\n  size 40 40\n  label 1 2 \"t\" colour red\n", "t.klui:3: a label takes"},
      {"window W\n  size 40 40\n  image I\n    rect 0 0 9 9\n    badge 0 0 9 9 \"t\" green\n", "t.klui:5: a badge"},
  };
  klftest::TempDir dir;
  for (const auto& c : cases) EXPECT_EQ(Build(c.text, dir.File("x.kls4")).rfind(c.message, 0), 0u) << c.text << " -> " << Build(c.text, dir.File("x.kls4"));
}
