// The host program end to end: the program is run as a user runs it, on
// small files, with the real plug-in and with a small plug-in of the
// tests' own that XORs the planes through the real adapter.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "CKLT_HostDocument.h"
#include "CKLT_HostRunner.h"
#include "ProgramRun.h"
#include "support/TestSupport.h"

namespace {

using hostprogram::Outcome;
using hostprogram::RunProgram;

std::string TestPlugin() { return std::string("--plugin ") + KLF_TEST_PLUGIN_LIBRARY; }

CKLT_HostDocument MakeDocument(int16_t mode, bool alpha, uint32_t seed) {
  std::mt19937 rng(seed);
  CKLT_HostDocument doc;
  doc.mode = mode;
  doc.width = 23;
  doc.height = 17;
  CKLT_HostDocument::Layer l;
  l.name = "Layer 1";
  l.width = 23;
  l.height = 17;
  for (int c = 0; c < doc.ColourPlanes(); ++c) {
    std::vector<uint8_t> p(23 * 17);
    for (auto& v : p) v = static_cast<uint8_t>(rng());
    l.planes.push_back(p);
  }
  if (alpha) {
    l.alpha.resize(23 * 17);
    for (auto& v : l.alpha) v = static_cast<uint8_t>(rng() | 1);
  }
  doc.layers.push_back(l);
  return doc;
}

// A selection of x 5..15, y 4..11 with one hole (a pixel at 100 < 128).
CKLT_HostDocument MakeSelection() {
  CKLT_HostDocument sel;
  sel.mode = klpModeGray;
  sel.width = 23;
  sel.height = 17;
  CKLT_HostDocument::Layer l;
  l.name = "sel";
  l.width = 23;
  l.height = 17;
  l.planes.assign(1, std::vector<uint8_t>(23 * 17, 0));
  for (int y = 4; y < 12; ++y)
    for (int x = 5; x < 16; ++x) l.planes[0][y * 23 + x] = 255;
  l.planes[0][6 * 23 + 7] = 100;
  sel.layers.push_back(l);
  return sel;
}

// What the test plug-in does to the document.
void Expect(CKLT_HostDocument& doc, bool selection, bool editable, uint8_t value) {
  CKLT_HostDocument::Layer& l = doc.layers[0];
  std::vector<uint8_t> mask = MakeSelection().layers[0].planes[0];
  for (size_t i = 0; i < mask.size(); ++i) {
    bool in = selection ? mask[i] > 127 : true;
    bool inRect = selection ? (static_cast<int>(i % 23) >= 5 && static_cast<int>(i % 23) < 16 && i / 23 >= 4 &&
                               i / 23 < 12)
                            : true;
    for (auto& p : l.planes)
      if (in) p[i] ^= value;
    // The host lets the result through the selection only.
    uint32_t m = selection ? mask[i] : 255;
    if (editable && inRect) l.alpha[i] = static_cast<uint8_t>((l.alpha[i] * (255 - m) + 255 * m + 127) / 255);
  }
}

TEST(HostProgram, EveryModeAndFilterCase) {
  klftest::TempDir dir;
  std::string selPath = dir.File("sel.png");
  std::string error;
  ASSERT_TRUE(MakeSelection().Write(selPath, error)) << error;
  uint32_t seed = 1;
  for (int16_t mode : {int16_t(klpModeGray), int16_t(klpModeRGB), int16_t(klpModeCMYK)}) {
    // opaque, editable transparency, locked transparency; each with and without a selection
    for (int kind = 0; kind < 3; ++kind) {
      for (bool selection : {false, true}) {
        CKLT_HostDocument doc = MakeDocument(mode, kind != 0, seed++);
        std::string in = dir.File("in.psd"), out = dir.File("out.psd");
        std::filesystem::remove(out);
        ASSERT_TRUE(doc.Write(in, error)) << error;
        std::string args = TestPlugin() + " -q " + in + " -o " + out;
        if (selection) args += " --selection " + selPath;
        if (kind == 2) args += " --lock-transparency";
        if (mode == klpModeRGB && selection) args += " --max-space 23";  // one row a band
        Outcome o = RunProgram(args);
        ASSERT_EQ(o.code, 0) << o.out << " mode " << mode << " kind " << kind;
        CKLT_HostDocument back;
        ASSERT_TRUE(back.Read(out, error)) << error;
        ASSERT_EQ(back.mode, mode);
        Expect(doc, selection, kind == 1, 255);
        EXPECT_EQ(back.layers[0].planes, doc.layers[0].planes) << "mode " << mode << " kind " << kind;
        if (kind != 0) {
          EXPECT_EQ(back.layers[0].alpha, doc.layers[0].alpha) << "mode " << mode << " kind " << kind;
        }
      }
    }
  }
}

TEST(HostProgram, PngInAndOut) {
  klftest::TempDir dir;
  std::string error;
  CKLT_HostDocument doc = MakeDocument(klpModeRGB, false, 77);
  ASSERT_TRUE(doc.Write(dir.File("in.png"), error));
  Outcome o = RunProgram(TestPlugin() + " " + dir.File("in.png") + " -o " + dir.File("out.png"));
  ASSERT_EQ(o.code, 0) << o.out;
  EXPECT_NE(o.out.find("100%"), std::string::npos);  // the progress bar
  EXPECT_NE(o.out.find("done"), std::string::npos);
  CKLT_HostDocument back;
  ASSERT_TRUE(back.Read(dir.File("out.png"), error));
  Expect(doc, false, false, 255);
  EXPECT_EQ(back.layers[0].planes, doc.layers[0].planes);
  // Converted to gray on the way in.
  o = RunProgram(TestPlugin() + " -q --mode gray " + dir.File("in.png") + " -o " + dir.File("g.png"));
  ASSERT_EQ(o.code, 0) << o.out;
  ASSERT_TRUE(back.Read(dir.File("g.png"), error));
  EXPECT_EQ(back.mode, klpModeGray);
  // A host without filter cases still gives the selection.
  ASSERT_TRUE(MakeSelection().Write(dir.File("sel.png"), error));
  o = RunProgram(TestPlugin() + " -q --no-filter-case --selection " + dir.File("sel.png") + " " +
                 dir.File("in.png") + " -o " + dir.File("n.png"));
  ASSERT_EQ(o.code, 0) << o.out;
  ASSERT_TRUE(back.Read(dir.File("n.png"), error));
  CKLT_HostDocument again = MakeDocument(klpModeRGB, false, 77);
  Expect(again, true, false, 255);
  EXPECT_EQ(back.layers[0].planes, again.layers[0].planes);
}

TEST(HostProgram, CancelAfterPollsLeavesNoOutput) {
  klftest::TempDir dir;
  std::string error;
  ASSERT_TRUE(MakeDocument(klpModeRGB, false, 3).Write(dir.File("in.png"), error));
  Outcome o = RunProgram(TestPlugin() + " -q --cancel-after 1 " + dir.File("in.png") + " -o " + dir.File("out.png"));
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitCancelled) << o.out;
  EXPECT_NE(o.out.find("-128"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.png")));
  o = RunProgram(TestPlugin() + " -q --cancel-after 3 " + dir.File("in.png") + " -o " + dir.File("out.png"));
  EXPECT_EQ(o.code, 0) << o.out;  // three planes, three polls
}

TEST(HostProgram, ProgressIsPlainLinesOffATerminal) {
  // The program's output is a pipe here: no redrawn bar, a line a quarter.
  klftest::TempDir dir;
  std::string error;
  ASSERT_TRUE(MakeDocument(klpModeRGB, false, 4).Write(dir.File("in.png"), error));
  Outcome o = RunProgram(dir.File("in.png") + " -o " + dir.File("out.png"));
  ASSERT_EQ(o.code, 0) << o.out;
  EXPECT_EQ(o.out.find('\r'), std::string::npos) << o.out;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = o.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(o.out.substr(at, end - at));
  ASSERT_EQ(lines.size(), 5u) << o.out;
  for (size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(lines[i].rfind("tessarette-host: ", 0), 0u) << lines[i];
    int pct = std::atoi(lines[i].c_str() + 17);
    EXPECT_GE(pct, 25 * static_cast<int>(i + 1)) << lines[i];
    EXPECT_LT(pct, 25 * static_cast<int>(i + 2)) << lines[i];
    EXPECT_EQ(lines[i].back(), '%');
  }
  EXPECT_EQ(lines[4], "tessarette-host: done: wrote " + dir.File("out.png"));
  o = RunProgram("-q " + dir.File("in.png") + " -o " + dir.File("out.png"));
  EXPECT_EQ(o.out, "tessarette-host: done: wrote " + dir.File("out.png") + "\n");
}

TEST(HostProgram, ScriptFileRecordsAndPlays) {
  klftest::TempDir dir;
  std::string error;
  CKLT_HostDocument doc = MakeDocument(klpModeGray, false, 5);
  ASSERT_TRUE(doc.Write(dir.File("in.psd"), error));
  std::string script = dir.File("action.desc");
  Outcome o = RunProgram(TestPlugin() + " -q --dialog --script " + script + " " + dir.File("in.psd") + " -o " +
                         dir.File("a.psd"));
  ASSERT_EQ(o.code, 0) << o.out;
  ASSERT_TRUE(std::filesystem::exists(script));
  // Played back without the dialog: the recorded value again.
  o = RunProgram(TestPlugin() + " -q --script " + script + " " + dir.File("in.psd") + " -o " + dir.File("b.psd"));
  ASSERT_EQ(o.code, 0) << o.out;
  CKLT_HostDocument a, b;
  ASSERT_TRUE(a.Read(dir.File("a.psd"), error));
  ASSERT_TRUE(b.Read(dir.File("b.psd"), error));
  Expect(doc, false, false, 0x0F);
  EXPECT_EQ(a.layers[0].planes, doc.layers[0].planes);
  EXPECT_EQ(b.layers[0].planes, doc.layers[0].planes);
  // A damaged descriptor file is refused before the plug-in runs.
  klftest::WriteFileBytes(script, {1, 2, 3});
  o = RunProgram(TestPlugin() + " -q --script " + script + " " + dir.File("in.psd"));
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitFiles) << o.out;
}

TEST(HostProgram, TheRealPluginLoadsFromItsOwnFolder) {
  klftest::TempDir dir;
  std::string lib = dir.File("libtessarette_plugin.so");
  std::filesystem::copy_file(KLF_PLUGIN_LIBRARY, lib);
  std::string error;
  ASSERT_TRUE(MakeDocument(klpModeRGB, true, 8).Write(dir.File("in.png"), error));
  // A replay handed no settings, with none stored: cancelled, nothing written.
  Outcome o = RunProgram("--plugin " + lib + " --last " + dir.File("in.png") + " -o " + dir.File("out.png"));
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitCancelled) << o.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.png")));
  // The plug-in opened its configuration store beside itself.
  std::vector<uint8_t> conf = klftest::ReadFileBytes(dir.File("plugin.conf"));
  ASSERT_GE(conf.size(), 8u);
  EXPECT_EQ(std::string(conf.begin(), conf.begin() + 8), "KLCPSv40");
  o = RunProgram("--plugin " + lib + " --dialog " + dir.File("in.png"));
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitCancelled);
  EXPECT_NE(o.out.find("dialog is not available yet"), std::string::npos) << o.out;
  o = RunProgram("--plugin " + lib + " --about");
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitCancelled);
  EXPECT_NE(o.out.find("dialog is not available yet"), std::string::npos) << o.out;
  o = RunProgram("--plugin " + dir.File("missing.so") + " " + dir.File("in.png"));
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitFiles);
}

TEST(HostProgram, CommandLine) {
  Outcome o = RunProgram("--help");
  EXPECT_EQ(o.code, 0);
  EXPECT_NE(o.out.find("Usage: tessarette-host"), std::string::npos);
  EXPECT_NE(o.out.find("--cancel-after"), std::string::npos);
  EXPECT_EQ(RunProgram("").code, CKLT_HostRunner::kExitUsage);
  EXPECT_EQ(RunProgram("--frobnicate x.png").code, CKLT_HostRunner::kExitUsage);
  EXPECT_EQ(RunProgram("--mode lab x.png").code, CKLT_HostRunner::kExitUsage);
  EXPECT_EQ(RunProgram("--fg 12345 x.png").code, CKLT_HostRunner::kExitUsage);
  EXPECT_EQ(RunProgram("a.png b.png").code, CKLT_HostRunner::kExitUsage);
  EXPECT_EQ(RunProgram("/nonexistent/x.png").code, CKLT_HostRunner::kExitFiles);
  klftest::TempDir dir;
  std::string error;
  ASSERT_TRUE(MakeDocument(klpModeRGB, false, 1).Write(dir.File("in.png"), error));
  EXPECT_EQ(RunProgram(TestPlugin() + " --layer 3 " + dir.File("in.png")).code, CKLT_HostRunner::kExitUsage);
  EXPECT_EQ(RunProgram(TestPlugin() + " -q " + dir.File("in.png") + " -o " + dir.File("out.jpg")).code,
            CKLT_HostRunner::kExitFiles);
  ASSERT_TRUE(MakeDocument(klpModeCMYK, false, 1).Write(dir.File("c.psd"), error));
  EXPECT_EQ(RunProgram(TestPlugin() + " -q " + dir.File("c.psd") + " -o " + dir.File("c.png")).code,
            CKLT_HostRunner::kExitFiles);
}

TEST(HostProgram, ResultCodesMapToExitCodes) {
  EXPECT_EQ(CKLT_HostRunner::ExitCodeFor(0), 0);
  EXPECT_EQ(CKLT_HostRunner::ExitCodeFor(-128), 1);
  EXPECT_EQ(CKLT_HostRunner::ExitCodeFor(-108), 2);
  EXPECT_EQ(CKLT_HostRunner::ExitCodeFor(-30100), 3);
  EXPECT_EQ(CKLT_HostRunner::ExitCodeFor(-30101), 4);
  EXPECT_EQ(CKLT_HostRunner::ExitCodeFor(-1), 5);
  EXPECT_NE(CKLT_HostRunner::MessageFor(-30101).find("-30101"), std::string::npos);
}

}  // namespace
