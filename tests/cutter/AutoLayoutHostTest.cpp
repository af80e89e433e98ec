// The auto layout dialog's OK against the host program's --triangles and
// --hexagons: the same counts lay the same layout, settings block for
// settings block.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "CKLF_ImagePNG.h"
#include "CSettingsBlock.h"
#include "CWnd_AutoLayout.h"
#include "CutterDialogsTestUtil.h"

namespace {

const i32 kW = 300, kH = 200;

class AutoLayoutHostTest : public cutdlg::CutterDialogTest {
 protected:
  AutoLayoutHostTest() : CutterDialogTest(kW, kH) {}

  // The block the host program saves for its default layout of a kW x kH
  // picture shaped by the options, without the document's magic.
  std::vector<u8> Host(const std::string& options) {
    const std::string in = dir.File("in.png"), doc = dir.File("s.klpd");
    std::vector<u8> grey(static_cast<size_t>(kW) * kH, 128);
    CKLF_ImagePNG png;
    CKLF_ImagePNG::PNGWRITE_PARAMS p{};
    p.width = kW;
    p.height = kH;
    p.stride = kW;
    p.mode = CKLF_ImagePNG::kWriteGrey;
    p.planes[0] = grey.data();
    {
      CKLF_StdFile out(in.c_str(), 2);
      EXPECT_EQ(png.Create(out), 1);
      EXPECT_EQ(png.WritePNG(&p), 1);
    }
    const std::string cmd = std::string(KLF_HOST_PROGRAM) + " -q --plugin " + KLF_PLUGIN_LIBRARY + " " + options +
                            " --knob-size 100 --save-settings " + doc + " " + in + " -o " + dir.File("out.png") +
                            " > /dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
    std::vector<u8> bytes = klftest::ReadFileBytes(doc);
    EXPECT_GT(bytes.size(), CSettingsBlock::kMagicSize) << cmd;
    if (bytes.size() <= CSettingsBlock::kMagicSize) return {};
    return std::vector<u8>(bytes.begin() + CSettingsBlock::kMagicSize, bytes.end());
  }

  // The dialog's OK with the counts typed and the shape and flag chosen; the
  // layout's block as the host program leaves it, every knife unselected.
  std::vector<u8> Dialog(u8 hexagons, u32 rows, u32 columns, u8 regular) {
    typedef CWnd_AutoLayout A;
    main.e.model.settings_LoadDefaults();
    Then([&] {
      A* a = Top<A>();
      ASSERT_NE(a, nullptr);
      Press(a->GetCtrl(hexagons ? A::kHex : A::kTri));
      Type(a->GetCtrl(A::kRowsEdit), std::to_string(rows));
      Type(a->GetCtrl(A::kColsEdit), std::to_string(columns));
      if (a->GetCtrl(A::kRegular)->GetCheck() != regular) Press(a->GetCtrl(A::kRegular));
      Press(a->GetCtrl(A::kOk));
    });
    EXPECT_EQ(CWnd_AutoLayout::Open(&cutterWindow, &main), 1);
    main.e.selection.op_SetSelToAllKnives(0, 0, 1, 1, 1);
    return main.Block();
  }

  klftest::TempDir dir;
};

}  // namespace

TEST_F(AutoLayoutHostTest, OkLaysWhatTheHostProgramLays) {
  const struct {
    u8 hexagons;
    u32 rows, columns;
    u8 regular;
  } cases[] = {{0, 3, 4, 0}, {0, 5, 9, 1}, {1, 4, 3, 0}, {1, 6, 5, 1}};
  for (const auto& c : cases) {
    const std::string options = std::string(c.hexagons ? "--hexagons " : "--triangles ") + std::to_string(c.rows) +
                                "x" + std::to_string(c.columns) + (c.regular ? " --regular" : "");
    const std::vector<u8> dialog = Dialog(c.hexagons, c.rows, c.columns, c.regular);
    EXPECT_GT(main.e.model.xKnifeCount, 0u) << options;
    EXPECT_EQ(dialog, Host(options)) << options;
  }
}
