// The relief renderer as a user runs it: its help, pictures of every
// format the project reads, and a reason for every refusal.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <random>
#include <string>

#include "ProgramRun.h"
#include "imaging/JpegTestUtil.h"
#include "support/TestSupport.h"

namespace {

using hostprogram::Outcome;

Outcome Render(const std::string& args) {
  Outcome o;
  FILE* p = popen((std::string(KLF_SURFACE_RENDER) + " " + args + " 2>&1").c_str(), "r");
  if (!p) return o;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof(buf), p)) > 0;) o.out.append(buf, n);
  const int status = pclose(p);
  o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

}  // namespace

TEST(SurfaceRender, HelpPicturesAndReasons) {
  Outcome o = Render("--help");
  EXPECT_EQ(o.code, 0);
  for (const char* says : {"Usage: surface_render", "--photo FILE", "PNG, PSD or JPEG", "--samples N", "Exit codes"})
    EXPECT_TRUE(hostprogram::Has(o, says)) << says;

  klftest::TempDir dir;
  std::mt19937 rng(31);
  const std::vector<uint8_t> jpeg = jpegtest::Encode(40, 30, JCS_RGB, 3, false, rng);
  klftest::WriteFileBytes(dir.File("photo.jpg"), jpeg);
  hostprogram::Write(hostprogram::OneLayer(klpModeCMYK, 40, 30, [](int c, int32_t i) { return uint8_t(i * c); }),
                     dir.File("photo.psd"));
  for (const char* photo : {"photo.jpg", "photo.psd"}) {
    o = Render("--photo " + dir.File(photo) + " --mode flat --step 4 --size 64x48 -o " + dir.File("out.png"));
    ASSERT_EQ(o.code, 0) << photo << "\n" << o.out;
    const CKLT_HostDocument back = hostprogram::Read(dir.File("out.png"));
    EXPECT_EQ(std::make_pair(back.width, back.height), std::make_pair(64, 48)) << photo;
  }

  klftest::WriteFileBytes(dir.File("cut.jpg"), std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
  const std::string out = " -o " + dir.File("r.png");
  const struct {
    std::string args;
    int code;
    const char* says;
  } rows[] = {
      {"--tilt abc" + out, 2, "bad --tilt abc (-360..360)"},
      {"--tilt 12x" + out, 2, "bad --tilt 12x"},
      {"--step 0" + out, 2, "bad --step 0 (1..1000)"},
      {"--step 2.5" + out, 2, "bad --step 2.5"},
      {"--size 640" + out, 2, "bad --size 640 (WxH"},
      {"--light 1,2" + out, 2, "bad --light 1,2 (X,Y,Z"},
      {"--mode shiny" + out, 2, "draft, flat, grid, hq or hq2"},
      {"--samples" + out, 2, "bad --samples -o"},
      {"--photo " + dir.File("photo.jpg"), 2, "no output file"},
      {"--frobnicate 1" + out, 2, "unknown option --frobnicate"},
      {"--photo " + dir.File("cut.jpg") + out, 1, "the JPEG file is damaged"},
      {"--photo " + dir.File("none.png") + out, 1, "No such file or directory"},
      {"--photo " + dir.File("photo.jpg") + " --step 40" + out, 1, "too small for a mesh of --step 40"},
      {"--photo " + dir.File("photo.jpg") + " -o " + dir.File("no/r.png"), 1, "cannot write"},
  };
  for (const auto& row : rows) {
    o = Render(row.args);
    EXPECT_EQ(o.code, row.code) << row.args << "\n" << o.out;
    EXPECT_TRUE(hostprogram::Has(o, "surface_render: ") && hostprogram::Has(o, row.says)) << row.args << "\n" << o.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("r.png")));
}
