// The host program end to end: the program is run as a user runs it, on
// small files, with the real plug-in and with a small plug-in of the
// tests' own that XORs the planes through the real adapter.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "CKLT_FilterHost.h"
#include "CKLT_HostOptions.h"
#include "CKLT_HostRunner.h"
#include "ProgramRun.h"
#include "support/TestSupport.h"

namespace {

using namespace hostprogram;

const std::string kTestPlugin = std::string("--plugin ") + KLF_TEST_PLUGIN_LIBRARY + " ";
// The test's plug-in opens no window: any display name lets a dialog run.
const char kSomeDisplay[] = "DISPLAY=:plugin-opens-no-window";

CKLT_HostDocument MakeDocument(int16_t mode, bool alpha, uint32_t seed) {
  std::mt19937 rng(seed);
  std::function<uint8_t(int32_t)> a;
  if (alpha) a = [&](int32_t) { return static_cast<uint8_t>(rng() | 1); };
  return OneLayer(
      mode, 23, 17, [&](int, int32_t) { return static_cast<uint8_t>(rng()); }, a);
}

bool InRect(size_t i) { return i % 23 >= 5 && i % 23 < 16 && i / 23 >= 4 && i / 23 < 12; }

// A selection of x 5..15, y 4..11 with one hole (a pixel at 100 < 128).
CKLT_HostDocument MakeSelection() {
  return OneLayer(klpModeGray, 23, 17, [](int, int32_t i) {
    return uint8_t(i == 6 * 23 + 7 ? 100 : InRect(i) ? 255 : 0);
  });
}

// What the test plug-in does to the document: XOR where the selection is
// above 127, editable transparency made opaque in the selection's
// rectangle; the host lets the result through the selection only.
void Expect(CKLT_HostDocument& doc, bool selection, bool editable, uint8_t value) {
  CKLT_HostDocument::Layer& l = doc.layers[0];
  const std::vector<uint8_t> mask = MakeSelection().layers[0].planes[0];
  for (size_t i = 0; i < mask.size(); ++i) {
    for (auto& p : l.planes)
      if (!selection || mask[i] > 127) p[i] ^= value;
    uint32_t m = selection ? mask[i] : 255;
    if (editable && (!selection || InRect(i))) l.alpha[i] = uint8_t((l.alpha[i] * (255 - m) + 255 * m + 127) / 255);
  }
}

TEST(HostProgram, EachModeTransparencyCaseAndSelection) {
  klftest::TempDir dir;
  Write(MakeSelection(), dir.File("sel.png"));
  enum { kOpaque, kEditable, kLocked };
  const struct {
    int16_t mode;
    int kind;
    bool selection;
    const char* ext;
    const char* options;
  } rows[] = {
      {klpModeGray, kOpaque, false, ".png", ""},
      {klpModeRGB, kEditable, true, ".psd", "--max-space 23 "},  // one row a band
      {klpModeCMYK, kLocked, true, ".psd", "--lock-transparency "},
      {klpModeRGB, kOpaque, true, ".png", "--no-filter-case "},  // a host without cases still gives the selection
  };
  uint32_t seed = 1;
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.mode) + " " + row.options);
    CKLT_HostDocument doc = MakeDocument(row.mode, row.kind != kOpaque, seed++);
    const std::string in = dir.File(std::string("in") + row.ext), out = dir.File(std::string("out") + row.ext);
    Write(doc, in);
    std::string args = kTestPlugin + "-q " + row.options + in + " -o " + out;
    if (row.selection) args += " --selection " + dir.File("sel.png");
    Outcome o = RunProgram(args);
    ASSERT_EQ(o.code, 0) << o.out;
    CKLT_HostDocument back = Read(out);
    ASSERT_EQ(back.mode, row.mode);
    Expect(doc, row.selection, row.kind == kEditable, 255);
    EXPECT_EQ(back.layers[0].planes, doc.layers[0].planes);
    EXPECT_EQ(back.layers[0].alpha, doc.layers[0].alpha);
  }
}

TEST(HostProgram, CancelLeavesNoOutputAndRecordsNothing) {
  klftest::TempDir dir;
  Write(MakeDocument(klpModeRGB, false, 3), dir.File("in.png"));
  const std::string args = " --script " + dir.File("s.desc") + " " + dir.File("in.png") + " -o " + dir.File("out.png");
  Outcome o = RunProgram(kTestPlugin + "-q --dialog --cancel-after 1" + args, kSomeDisplay);
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitCancelled) << o.out;
  EXPECT_TRUE(Has(o, "-128"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.png")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("s.desc")));
  EXPECT_EQ(RunProgram(kTestPlugin + "-q --cancel-after 3" + args).code, 0);  // three planes, three polls
}

TEST(HostProgram, ProgressIsPlainLinesOffATerminal) {
  // The program's output is a pipe here: no redrawn bar, a line a quarter.
  klftest::TempDir dir;
  Write(MakeDocument(klpModeRGB, false, 4), dir.File("in.png"));
  const std::string args = dir.File("in.png") + " -o " + dir.File("out.png");
  const std::string done = "tessarette-host: done: wrote " + dir.File("out.png") + "\n";
  Outcome o = RunProgram(args);
  ASSERT_EQ(o.code, 0) << o.out;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = o.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(o.out.substr(at, end - at + 1));
  ASSERT_EQ(lines.size(), 5u) << o.out;
  for (size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(lines[i].rfind("tessarette-host: ", 0), 0u) << lines[i];
    EXPECT_EQ(std::atoi(lines[i].c_str() + 17) / 25, static_cast<int>(i + 1)) << lines[i];
    EXPECT_EQ(lines[i].substr(lines[i].size() - 2), "%\n");
  }
  EXPECT_EQ(lines[4], done);
  EXPECT_EQ(RunProgram("-q " + args).out, done);
}

TEST(HostProgram, ScriptFileRecordsAndPlays) {
  klftest::TempDir dir;
  CKLT_HostDocument doc = MakeDocument(klpModeGray, false, 5);
  const std::string in = " " + dir.File("in.psd"), script = " --script " + dir.File("action.desc");
  Write(doc, dir.File("in.psd"));
  // The dialog run records its value; played back without the dialog.
  ASSERT_EQ(RunProgram(kTestPlugin + "-q --dialog" + script + in + " -o " + dir.File("a.psd"), kSomeDisplay).code, 0);
  ASSERT_EQ(RunProgram(kTestPlugin + "-q" + script + in + " -o " + dir.File("b.psd")).code, 0);
  Expect(doc, false, false, 0x0F);
  EXPECT_EQ(Read(dir.File("a.psd")).layers[0].planes, doc.layers[0].planes);
  EXPECT_EQ(Read(dir.File("b.psd")).layers[0].planes, doc.layers[0].planes);
}

TEST(HostProgram, RefusalsNameTheOptionsGivenAndTheirRanges) {
  klftest::TempDir dir;
  const std::string in = " " + dir.File("in.png") + " -o " + dir.File("out.png");
  const struct {
    std::string args;
    const char* says;
  } rows[] = {
      {"--settings a.klpd --knob-size 50" + in, "--knob-size is for the default layout: --settings carries its own"},
      {"--settings a.klpd --grid 2x2 --seed 4" + in, "--grid and --seed are for the default layout"},
      {"--last --thickness 3" + in, "--last hands no settings: it does not go with --thickness"},
      {"--dialog --last --settings a.klpd" + in,
       "--dialog and --last hand no settings: they do not go with --settings"},
      {"--knob-size 0" + in, "bad --knob-size 0 (1..100)"},
      {"--random-knots 101" + in, "bad --random-knots 101 (0..100)"},
      {"--hexagons 98x2" + in, "bad --hexagons 98x2 (rows x columns, 1..97 x 1..48)"},
      {"--flip sideways" + in, "bad --flip sideways (random or alternate)"},
      {"--fg 12345" + in, "bad --fg 12345 (RRGGBB, six hex digits)"},
      {"--memory-budget 0" + in, "bad --memory-budget 0 (bytes above 0"},
      {"--bg ffffff" + in, "--bg colours the ground behind the knives in --layout-mode"},
      {"--fg ffffff --bg 000000" + in, "--fg colours the knives and --bg the ground behind them"},
      {"--memory-budget '7 '" + in, "bad --memory-budget 7  (bytes above 0"},
      {"--memory-budget '7M '" + in, "bad --memory-budget 7M  (bytes above 0"},
      {"--export-pieces p.psd --export-what X" + in, "bad --export-what X (merged, selected or all)"},
      {"--export-pieces p.psd --export-naming long" + in, "bad --export-naming long (simple or extended)"},
      {"--export-knives k.eps --export-knives-what some" + in, "bad --export-knives-what some (selected or all)"},
      {"--save-settings ''" + in, "--save-settings needs a file name: the one given is empty"},
      {"--script ''" + in, "--script needs a file name: the one given is empty"},
      {"--export-pieces ''" + in, "--export-pieces needs a file name"},
      {"--settings '' --grid 2x2" + in, "--settings needs a file name"},
  };
  for (const auto& row : rows) {
    Outcome o = RunProgram(row.args);
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitUsage) << row.args;
    EXPECT_TRUE(Has(o, row.says)) << row.args << "\n" << o.out;
    const size_t see = o.out.find("(see --help)");
    EXPECT_TRUE(see != std::string::npos && o.out.find("(see --help)", see + 1) == std::string::npos) << o.out;
  }
  // A budget is told as given: 1M is 1 MiB.
  Write(OneLayer(klpModeRGB, 300, 200, [](int, int32_t i) { return uint8_t(i); }), dir.File("in.png"));
  Outcome o = RunProgram(kTestPlugin + "--memory-budget 1M" + in);
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitMemory) << o.out;
  EXPECT_TRUE(Has(o, "the memory budget of 1 MiB")) << o.out;
}

TEST(HostProgram, TheDialogAndAboutNeedADisplay) {
  // Refused before anything is read or loaded, with their own exit code.
  klftest::TempDir dir;
  Write(MakeDocument(klpModeRGB, true, 8), dir.File("in.png"));
  const std::string real = std::string("--plugin ") + KLF_PLUGIN_LIBRARY + " ";
  const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY";
  Outcome o = RunProgram(real + "--dialog " + dir.File("in.png") + " -o " + dir.File("out.png"), noDisplay);
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitNoDisplay);
  EXPECT_TRUE(Has(o, "--dialog opens the plug-in's window, which needs a display")) << o.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.png")));
  o = RunProgram(real + "--about", noDisplay);
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitNoDisplay);
  EXPECT_TRUE(Has(o, "--about opens the plug-in's window")) << o.out;
}

TEST(HostProgram, CommandLine) {
  Outcome o = RunProgram("--help");
  EXPECT_EQ(o.code, 0);
  std::string help;  // as one line: the text is wrapped to the terminal
  for (char c : o.out)
    if (c != ' ' && c != '\n') help += c;
  for (const char* says : {"Usage:tessarette-host", "65535pixelsaside", "withnothingstoredtherunis"})
    EXPECT_NE(help.find(says), std::string::npos) << says;
  klftest::TempDir dir;
  Write(MakeDocument(klpModeRGB, false, 1), dir.File("in.png"));
  const std::string in = " " + dir.File("in.png") + " -o " + dir.File("out.png");
  klftest::WriteFileBytes(dir.File("played.desc"), CKLT_FilterHost::EncodeDescriptor({}));
  // Options that cannot act together are refused, none silently dropped.
  const std::string rows[] = {
      "",
      dir.File("in.png"),  // no -o
      "--frobnicate" + in,
      "--mode lab" + in,
      "--fg 12345" + in,
      in + in,
      "--grid 0x3" + in,
      "--grid 3" + in,
      "--grid 102x2" + in,
      "--memory-budget 0" + in,
      "--last --grid 2x2" + in,
      "--last --layout-mode" + in,
      "--last --save-settings a.klpd" + in,
      "--dialog --settings a.klpd" + in,
      "--settings a.klpd --grid 2x2" + in,
      "--about" + in,
      kTestPlugin + "--layer 3" + in,
      kTestPlugin + "--grid 2x2 --script " + dir.File("played.desc") + in,
      kTestPlugin + "--layout-mode --script " + dir.File("played.desc") + in,
      // Options that would change nothing.
      "--triangles 2x2 --hexagons 2x2" + in,
      "--fg 102030" + in,
      "--bg 102030 --grid 3x2" + in,
      "--png-level 3 " + dir.File("in.png") + " -o " + dir.File("out.psd"),
      "--png-filter up " + dir.File("in.png") + " -o " + dir.File("out.PSD"),
      "--seed 3" + in,
      "--seed 3 --random-knots 0" + in,
      "--png-level 1" + in,  // the run-length strategy gives the same bytes at 1..9
      "--png-level 9 --png-strategy rle" + in,
      "--export-pieces " + dir.File("p.psd") + " --export-cropped" + in,
      "--export-pieces " + dir.File("p.png") + " --export-hidden" + in,
      "--export-pieces " + dir.File("p.png") + " --export-what merged --export-naming simple" + in,
      "--export-pieces " + dir.File("p.psd") + " --export-what merged --export-without-bevel" + in,
      "--export-pieces " + dir.File("p.png") + " --export-what all --export-no-composite" + in,
      "--export-knives " + dir.File("k.eps") + " --export-what all" + in,
      "--export-pieces " + dir.File("p.psd") + " --export-knives-what all" + in,
      "-- " + dir.File("in.png") + " " + dir.File("in.png") + " -o " + dir.File("out.png"),
  };
  for (const std::string& args : rows) {
    o = RunProgram(args);
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitUsage) << args << "\n" << o.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.png")));
  // What can act is taken: the colours with --layout-mode, the seed with
  // something random, PNG options with a PNG; and so is an option given at
  // its stated default.
  for (const char* args : {"--layout-mode --fg 102030 --bg 405060", "--seed 3 --flip random",
                           "--seed 3 --random-knots 5", "--png-level 1 --png-strategy default", "--png-level 0",
                           "--png-level 6", "--png-level 6 --png-strategy rle", "--seed 1", "--threads 04"}) {
    o = RunProgram(kTestPlugin + "-q " + std::string(args) + in);
    EXPECT_EQ(o.code, 0) << args << "\n" << o.out;
  }
  // "--" ends the options: an input whose name starts with "-".
  const std::string here = "cd '" + dir.Path() + "' &&";
  std::filesystem::copy_file(dir.File("in.png"), dir.File("-in.png"));
  o = RunProgram(kTestPlugin + "-q -o out.png -- -in.png", here);
  EXPECT_EQ(o.code, 0) << o.out;
  EXPECT_TRUE(std::filesystem::exists(dir.File("out.png")));
  o = RunProgram(kTestPlugin + "-q -o out2.png -in.png", here);
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitUsage);
  EXPECT_TRUE(Has(o, "unknown option -in.png")) << o.out;
  // A plug-in named without a slash is the file of that name here.
  const std::string plugin = KLF_TEST_PLUGIN_LIBRARY;
  std::filesystem::copy_file(plugin, dir.File("plug.so"));
  o = RunProgram("--plugin plug.so -q -o out3.png -- -in.png", here);
  EXPECT_EQ(o.code, 0) << o.out;
  const int16_t results[] = {0, -128, -108, -30100, -30101, -1};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(CKLT_HostRunner::ExitCodeFor(results[i]), i) << results[i];
}

// The plug-in runs on the thread that runs the program, never on the
// helper that counts the pieces beside it; which of the two takes which
// task is a race, so the run is made many times in this process (its
// first thread is the one that runs the tests).
TEST(HostProgram, ThePluginRunsOnTheCallingThread) {
  klftest::TempDir dir;
  Write(MakeDocument(klpModeRGB, false, 5), dir.File("in.png"));
  ASSERT_EQ(setenv("KLT_TEST_PLUGIN_MAIN_THREAD", "1", 1), 0);
  for (int run = 0; run < 60; ++run) {
    CKLT_HostOptions options;
    std::string message;
    ASSERT_EQ(CKLT_HostOptions::Parse({"--plugin", KLF_TEST_PLUGIN_LIBRARY, "-q", "--threads", "2", "--grid", "2x2",
                                       dir.File("in.png"), "-o", dir.File("out.png")},
                                      options, message),
              0)
        << message;
    CKLT_HostRunner runner;
    FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    const int code = runner.Run(options, err, message);
    std::fclose(err);
    ASSERT_EQ(code, CKLT_HostRunner::kExitOk) << "run " << run << ": " << message;
  }
  unsetenv("KLT_TEST_PLUGIN_MAIN_THREAD");
}

}  // namespace
