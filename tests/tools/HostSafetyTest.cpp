// The host program on bad input and failing disks: it refuses with a
// clear reason and the right exit code before the filter runs, never
// crashes or throws, never leaves a broken or half-written file, and keeps
// its memory within a budget.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "CKLT_HostRunner.h"
#include "ProgramRun.h"
#include "support/TestSupport.h"

namespace {

using namespace hostprogram;
namespace fs = std::filesystem;

const std::string kTestPlugin = std::string("--plugin ") + KLF_TEST_PLUGIN_LIBRARY + " -q ";
const std::string kCrashers = std::string(KLF_TEST_DATA_DIR) + "/";

CKLT_HostDocument Noise(int16_t mode, int32_t w, int32_t h, uint32_t seed) {
  std::mt19937 rng(seed);
  return OneLayer(mode, w, h, [&](int, int32_t) { return static_cast<uint8_t>(rng()); });
}

TEST(HostSafety, RefusesBeforeTheFilterRunsAndSaysWhy) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  fs::create_directory(d + "sub");
  Write(Noise(klpModeRGB, 23, 17, 1), d + "in.png");
  Write(Noise(klpModeCMYK, 8, 8, 2), d + "c.psd");
  WriteZipPsd(Noise(klpModeGray, 8, 8, 3), d + "zip.psd", true);
  klftest::WriteFileBytes(d + "notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
  klftest::WriteFileBytes(d + "cut.klpd", {'K', 'L', 'T', 'S', '3', '0', 1, 0, 0});
  const std::string in = " " + d + "in.png", out = " -o " + d + "out.png";
  const struct {
    std::string args;
    int code;
    const char* says;
  } rows[] = {
      {d + "sub" + out, CKLT_HostRunner::kExitFiles, "is a folder"},
      {"--settings " + d + "sub" + in + out, CKLT_HostRunner::kExitFiles, "is a folder"},
      {"--script " + d + "sub" + in + out, CKLT_HostRunner::kExitFiles, "is a folder"},
      {"--selection " + d + "sub" + in + out, CKLT_HostRunner::kExitFiles, "is a folder"},
      {d + "missing.png" + out, CKLT_HostRunner::kExitFiles, "No such file or directory"},
      {in + " -o " + d + "nofolder/out.png", CKLT_HostRunner::kExitFiles, "No such file or directory"},
      {in + " -o " + d + "out.jpg", CKLT_HostRunner::kExitFiles, "must be a .png or .psd"},
      {d + "c.psd" + out, CKLT_HostRunner::kExitFiles, "write the CMYK document as .psd"},
      {"--settings " + d + "notes.txt" + in + out, CKLT_HostRunner::kExitFiles, "not a settings file"},
      {"--settings " + d + "in.png" + in + out, CKLT_HostRunner::kExitFiles, "not a settings file"},
      {"--settings " + d + "cut.klpd" + in + out, CKLT_HostRunner::kExitFiles, "damaged settings document"},
      {d + "zip.psd" + out, CKLT_HostRunner::kExitFiles, "-compress RLE"},
      {kCrashers + "imaging/crashers/png_width_70000.png" + out, CKLT_HostRunner::kExitFiles,
       "at most 65535 pixels a side"},
      {"--memory-budget 100G " + kCrashers + "imaging/crashers/psd_canvas_65535_one_pixel_layer.psd" + out,
       CKLT_HostRunner::kExitFiles, "cannot be read"},
      {kCrashers + "imaging/crashers/psd_canvas_65535_one_pixel_layer.psd" + out, CKLT_HostRunner::kExitMemory,
       "(see --memory-budget)"},
      {"--memory-budget 1G " + kCrashers + "tools/crashers/png_1bit_20000x20000.png" + out,
       CKLT_HostRunner::kExitMemory, "more than the memory budget of 1.0 GiB"},
      {"--max-space 10" + in + out, CKLT_HostRunner::kExitMemory, "too little memory"},
  };
  const size_t files = FileCount(d);
  for (const auto& row : rows) {
    Outcome o = RunProgram(kTestPlugin + row.args);
    EXPECT_EQ(o.code, row.code) << row.args << "\n" << o.out;
    EXPECT_TRUE(Has(o, row.says)) << row.args << "\n" << o.out;
    EXPECT_EQ(FileCount(d), files) << row.args;  // nothing written, nothing left behind
  }
}

TEST(HostSafety, AFailedWriteKeepsTheOldFile) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  Write(Noise(klpModeRGB, 300, 200, 4), d + "in.png");  // noise: a PNG of about 180 KB
  Write(Noise(klpModeRGB, 4, 4, 5), d + "out.png");
  const std::vector<uint8_t> old = klftest::ReadFileBytes(d + "out.png");
  for (const char* name : {"out.png", "new.psd"}) {
    Outcome o = RunProgram(kTestPlugin + d + "in.png -o " + d + name, "ulimit -f 64;");
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitFiles) << o.out;
    EXPECT_TRUE(Has(o, "File too large")) << o.out;
  }
  EXPECT_EQ(klftest::ReadFileBytes(d + "out.png"), old);
  EXPECT_FALSE(fs::exists(d + "new.psd"));
  EXPECT_EQ(FileCount(d), 2u) << "no temporary file is left";

  // The output may be the input, also through a link: the file is replaced
  // whole and the link stays a link.
  fs::create_symlink(d + "in.png", d + "link.png");
  CKLT_HostDocument expect = Read(d + "in.png");
  for (auto& p : expect.layers[0].planes)
    for (auto& v : p) v ^= 255;
  Outcome o = RunProgram(kTestPlugin + d + "in.png -o " + d + "link.png");
  ASSERT_EQ(o.code, 0) << o.out;
  EXPECT_TRUE(fs::is_symlink(d + "link.png"));
  EXPECT_EQ(Read(d + "in.png").layers[0].planes, expect.layers[0].planes);
}

TEST(HostSafety, HostileDocumentsStayWithinMemory) {
  klftest::TempDir dir;
  // 2000 layers of one pixel over a 2048 x 2048 canvas: kept at their own
  // sizes, well within a small budget, and all written back.
  const std::string psd = kCrashers + "imaging/crashers/psd_2000_layers_on_2048_canvas.psd";
  Outcome o = RunProgram(kTestPlugin + "--memory-budget 256M " + psd + " -o " + dir.File("out.psd"));
  ASSERT_EQ(o.code, 0) << o.out;
  EXPECT_EQ(Read(dir.File("out.psd")).layers.size(), 2000u);
  // A 65535 x 65535 layer whose channels carry nothing has no pixels: no
  // plane is made for it, and with nothing to filter the run says why.
  o = RunProgram(std::string("-q --plugin ") + KLF_PLUGIN_LIBRARY + " --memory-budget 64M " + kCrashers +
                 "imaging/crashers/psd_layer_65535_empty_channels.psd -o " + dir.File("e.psd"));
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitCancelled) << o.out;
  EXPECT_TRUE(Has(o, "carries no pixels") && Has(o, "has no pixels on the canvas, so there was nothing to filter"))
      << o.out;
}

TEST(HostSafety, AllocationFailureIsOutOfMemory) {
  // A plug-in whose allocation throws: the program ends as out of memory.
  klftest::TempDir dir;
  Write(Noise(klpModeGray, 4, 4, 6), dir.File("in.png"));
  Outcome o = RunProgram(kTestPlugin + dir.File("in.png") + " -o " + dir.File("out.png"), "KLT_TEST_PLUGIN_THROW=1");
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitMemory) << o.out;
  EXPECT_TRUE(Has(o, "out of memory")) << o.out;
  EXPECT_FALSE(fs::exists(dir.File("out.png")));
}

}  // namespace
