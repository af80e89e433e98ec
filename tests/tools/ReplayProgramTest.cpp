// The main job end to end: the host program hands the plug-in a layout (the
// default one, a grid of its own, or a settings file) and the plug-in cuts,
// renders and writes the puzzle back, or draws the knives alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <random>

#include "CKLT_HostDocument.h"
#include "CKLT_HostRunner.h"
#include "ProgramRun.h"
#include "CKLT_SettingsSource.h"
#include "CTessarette.h"
#include "support/TestSupport.h"

namespace {

using hostprogram::Outcome;

Outcome Host(const std::string& args) {
  return hostprogram::RunProgram(std::string("-q --plugin ") + KLF_PLUGIN_LIBRARY + " " + args);
}

const int32_t kW = 72, kH = 48;

// Smooth colours with some grain, so that effects show.
CKLT_HostDocument Document(int16_t mode, bool alpha, uint32_t seed) {
  std::mt19937 rng(seed);
  CKLT_HostDocument doc;
  doc.mode = mode;
  doc.width = kW;
  doc.height = kH;
  CKLT_HostDocument::Layer l;
  l.name = "Picture";
  l.width = kW;
  l.height = kH;
  for (int c = 0; c < doc.ColourPlanes(); ++c) {
    std::vector<uint8_t> p(kW * kH);
    for (int32_t i = 0; i < kW * kH; ++i)
      p[i] = static_cast<uint8_t>((i % kW) * 2 + (i / kW) * (c + 1) + rng() % 16);
    l.planes.push_back(p);
  }
  if (alpha) {
    l.alpha.resize(kW * kH);
    for (int32_t i = 0; i < kW * kH; ++i) l.alpha[i] = static_cast<uint8_t>(i % kW < 6 ? 0 : 128 + rng() % 128);
  }
  doc.layers.push_back(l);
  return doc;
}

// A round selection with a soft edge.
CKLT_HostDocument Selection() {
  CKLT_HostDocument sel;
  sel.mode = klpModeGray;
  sel.width = kW;
  sel.height = kH;
  CKLT_HostDocument::Layer l;
  l.name = "sel";
  l.width = kW;
  l.height = kH;
  l.planes.assign(1, std::vector<uint8_t>(kW * kH, 0));
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x) {
      double d = std::hypot((x - 36) / 30.0, (y - 24) / 18.0);
      l.planes[0][y * kW + x] = d < 0.9 ? 255 : d < 1.0 ? static_cast<uint8_t>((1.0 - d) * 2550) : 0;
    }
  sel.layers.push_back(l);
  return sel;
}

std::string Ext(int16_t mode) { return mode == klpModeCMYK ? ".psd" : ".png"; }

CKLT_HostDocument Read(const std::string& path) {
  CKLT_HostDocument d;
  std::string error;
  EXPECT_TRUE(d.Read(path, error)) << error;
  return d;
}

// The knife mask the engine draws for a default layout of columns x rows.
std::vector<uint8_t> KnifeMask(int columns, int rows) {
  std::vector<uint8_t> block;
  std::string error;
  EXPECT_TRUE(CKLT_SettingsSource::DefaultBlock(kW, kH, columns, rows, true, block, error)) << error;
  CKLF_Mem mem(static_cast<u32>(block.size()));
  std::memcpy(mem.GetPtr(), block.data(), block.size());
  CTessarette e;
  u8 layout;
  u32 count;
  const u8* rec;
  EXPECT_EQ(e.InitFromLastSettingsBinary(&mem, layout, count, rec), 1);
  std::vector<uint8_t> mask(kW * kH);
  EXPECT_EQ(e.DrawSplitting(kW, kH, mask.data(), kW, 0, 100), 1);
  return mask;
}

}  // namespace

TEST(ReplayProgram, PuzzleInEveryModeWithAndWithoutSelection) {
  klftest::TempDir dir;
  std::string error;
  ASSERT_TRUE(Selection().Write(dir.File("sel.png"), error)) << error;
  const std::vector<uint8_t> sel = Selection().layers[0].planes[0];
  uint32_t seed = 1;
  struct Case {
    int16_t mode;
    bool alpha;
  };
  for (Case k : {Case{klpModeRGB, false}, Case{klpModeRGB, true}, Case{klpModeGray, false}, Case{klpModeGray, true},
                 Case{klpModeCMYK, false}}) {
    for (bool selection : {false, true}) {
      SCOPED_TRACE(std::to_string(k.mode) + (k.alpha ? " alpha" : "") + (selection ? " selection" : ""));
      CKLT_HostDocument doc = Document(k.mode, k.alpha, ++seed);
      std::string in = dir.File("in" + Ext(k.mode)), out = dir.File("out" + Ext(k.mode));
      ASSERT_TRUE(doc.Write(in, error)) << error;
      std::filesystem::remove(out);
      Outcome r = Host("--grid 3x2 " + std::string(selection ? "--selection " + dir.File("sel.png") + " " : "") + in +
                   " -o " + out);
      ASSERT_EQ(r.code, 0) << r.out;
      CKLT_HostDocument back = Read(out);
      ASSERT_EQ(back.width, kW);
      ASSERT_EQ(back.mode, k.mode);
      const auto& before = doc.layers[0];
      const auto& after = back.layers[0];
      ASSERT_EQ(after.planes.size(), before.planes.size());
      size_t changedInside = 0;
      for (size_t c = 0; c < before.planes.size(); ++c)
        for (int32_t i = 0; i < kW * kH; ++i) {
          bool outside = selection && sel[i] == 0;
          // The file keeps no colour where nothing is visible.
          bool hidden = k.alpha && before.alpha[i] == 0;
          if (outside && !hidden) {
            ASSERT_EQ(after.planes[c][i], before.planes[c][i]) << i;
          } else if (!outside && !hidden) {
            changedInside += after.planes[c][i] != before.planes[c][i];
          }
        }
      // The bevel of every piece shows.
      EXPECT_GT(changedInside, static_cast<size_t>(kW * kH / 10));
      if (k.alpha) {
        ASSERT_EQ(after.alpha.size(), before.alpha.size());
        // Nothing appears where the layer was transparent.
        for (int32_t i = 0; i < kW * kH; ++i) {
          if (before.alpha[i] == 0) {
            ASSERT_EQ(after.alpha[i], 0) << i;
          }
        }
      }
    }
  }
}

TEST(ReplayProgram, LayoutModeOverTransparencyAndOverTheBackground) {
  klftest::TempDir dir;
  std::string error;
  const std::vector<uint8_t> mask = KnifeMask(4, 3);
  ASSERT_GT(mask.size() - static_cast<size_t>(std::count(mask.begin(), mask.end(), 0)), 100u);

  // Editable transparency: the knives are the layer's transparency, in the
  // foreground colour.
  CKLT_HostDocument doc = Document(klpModeRGB, false, 5);
  doc.layers[0].alpha.assign(kW * kH, 200);
  ASSERT_TRUE(doc.Write(dir.File("t.png"), error));
  Outcome r = Host("--layout-mode --grid 4x3 --fg 102030 " + dir.File("t.png") + " -o " + dir.File("t-out.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  CKLT_HostDocument back = Read(dir.File("t-out.png"));
  EXPECT_EQ(back.layers[0].alpha, mask);
  for (int32_t i = 0; i < kW * kH; ++i)
    if (mask[i]) {
      ASSERT_EQ(back.layers[0].planes[0][i], 0x10);
      ASSERT_EQ(back.layers[0].planes[2][i], 0x30);
    }

  // Opaque gray: the knives in the foreground over the background colour.
  CKLT_HostDocument gray = Document(klpModeGray, false, 6);
  ASSERT_TRUE(gray.Write(dir.File("g.png"), error));
  r = Host("--layout-mode --grid 4x3 --fg 000000 --bg ffffff " + dir.File("g.png") + " -o " + dir.File("g-out.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  back = Read(dir.File("g-out.png"));
  for (int32_t i = 0; i < kW * kH; ++i) ASSERT_EQ(back.layers[0].planes[0][i], (255 - mask[i]) * 255 / 255) << i;

  // Locked transparency: over the background, the transparency kept.
  r = Host("--layout-mode --grid 4x3 --lock-transparency --fg 000000 --bg ffffff " + dir.File("t.png") + " -o " +
           dir.File("l-out.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  back = Read(dir.File("l-out.png"));
  EXPECT_EQ(back.layers[0].alpha, std::vector<uint8_t>(kW * kH, 200));
  EXPECT_EQ(back.layers[0].planes[1][kW * kH / 2 + 3], 255 - mask[kW * kH / 2 + 3]);
}

TEST(ReplayProgram, SettingsFilesScriptsAndRepeatedRuns) {
  klftest::TempDir dir;
  std::string error;
  ASSERT_TRUE(Document(klpModeRGB, false, 9).Write(dir.File("in.png"), error));
  const std::string in = dir.File("in.png");

  // The layout handed over is saved; replaying the saved document, or its
  // block alone, gives the same puzzle.
  Outcome r = Host("--grid 5x3 --save-settings " + dir.File("a.klpd") + " " + in + " -o " + dir.File("a.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  std::vector<uint8_t> docBytes = klftest::ReadFileBytes(dir.File("a.klpd"));
  ASSERT_GT(docBytes.size(), 6u);
  EXPECT_EQ(std::string(docBytes.begin(), docBytes.begin() + 6), "KLTS30");
  r = Host("--settings " + dir.File("a.klpd") + " " + in + " -o " + dir.File("b.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  klftest::WriteFileBytes(dir.File("last.data"), std::vector<uint8_t>(docBytes.begin() + 6, docBytes.end()));
  r = Host("--settings " + dir.File("last.data") + " " + in + " -o " + dir.File("c.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  const auto a = Read(dir.File("a.png")).layers[0].planes;
  EXPECT_EQ(Read(dir.File("b.png")).layers[0].planes, a);
  EXPECT_EQ(Read(dir.File("c.png")).layers[0].planes, a);
  // The default grid differs from 5 x 3.
  r = Host(in + " -o " + dir.File("d.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(Read(dir.File("d.png")).layers[0].planes, a);

  // Recorded in a script, played back: the same puzzle twice.
  const std::string script = dir.File("action.desc");
  r = Host("--grid 5x3 --script " + script + " " + in + " -o " + dir.File("e.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  r = Host("--script " + script + " " + in + " -o " + dir.File("f.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(Read(dir.File("e.png")).layers[0].planes, a);
  EXPECT_EQ(Read(dir.File("f.png")).layers[0].planes, a);

  // The plug-in's own "last.data" when none is handed over.
  std::filesystem::create_directory(dir.File("plugin"));
  std::string lib = dir.File("plugin/libtessarette_plugin.so");
  std::filesystem::copy_file(KLF_PLUGIN_LIBRARY, lib);
  const std::string args = "-q --plugin " + lib + " --last " + in + " -o " + dir.File("g.png");
  EXPECT_NE(hostprogram::RunProgram(args).code, 0);  // nothing stored yet
  std::filesystem::copy_file(dir.File("last.data"), dir.File("plugin/last.data"));
  EXPECT_EQ(hostprogram::RunProgram(args).code, 0);
  EXPECT_EQ(Read(dir.File("g.png")).layers[0].planes, a);
}

TEST(ReplayProgram, OlderDocumentsAndBrokenSettings) {
  klftest::TempDir dir;
  std::string error;
  ASSERT_TRUE(Document(klpModeGray, false, 12).Write(dir.File("in.png"), error));
  const std::string in = dir.File("in.png");

  // A "KLTS20" document of one vertical line with a straight knife.
  std::vector<uint8_t> old = {'K', 'L', 'T', 'S', '2', '0', 0, 0, 0, 0, 0, 1, 0x3F, 0, 0, 0, 0, 0, 0, 6};
  old.resize(old.size() + 6 * 8, 0);
  // One vertical knife (flags, no points), no horizontal knife, thickness
  // 3, knob size 100, anti-aliasing on.
  for (uint8_t b : {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 100, 1}) old.push_back(b);
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("old.klpd"), old));
  Outcome r = Host("--settings " + dir.File("old.klpd") + " " + in + " -o " + dir.File("o.png"));
  ASSERT_EQ(r.code, 0) << r.out;

  // A damaged block: the plug-in refuses it and writes nothing.
  std::vector<uint8_t> bad = {1, 1, 0, 200, 0, 0, 0, 0, 0, 0, 1, 2, 3};
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("bad.data"), bad));
  r = Host("--settings " + dir.File("bad.data") + " " + in + " -o " + dir.File("bad.png"));
  EXPECT_EQ(r.code, CKLT_HostRunner::kExitCancelled) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("bad.png")));
  old[9] = 7;  // seven lines that are not there: refused by the host program
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("old2.klpd"), old));
  r = Host("--settings " + dir.File("old2.klpd") + " " + in + " -o " + dir.File("o2.png"));
  EXPECT_EQ(r.code, CKLT_HostRunner::kExitFiles) << r.out;

  // Cancel during the cut: -128, nothing written.
  for (int polls : {2, 10}) {
    r = Host("--grid 6x4 --cancel-after " + std::to_string(polls) + " " + in + " -o " + dir.File("x.png"));
    EXPECT_EQ(r.code, CKLT_HostRunner::kExitCancelled) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.png")));
  }

  // Command lines that make no sense.
  for (const char* args : {"--grid 0x3", "--grid 3", "--grid 102x2", "--last --grid 2x2", "--last --layout-mode",
                           "--settings a.klpd --grid 2x2"}) {
    r = Host(std::string(args) + " " + in);
    EXPECT_EQ(r.code, CKLT_HostRunner::kExitUsage) << args << r.out;
  }
  r = Host("--settings " + dir.File("missing.klpd") + " " + in);
  EXPECT_EQ(r.code, CKLT_HostRunner::kExitFiles) << r.out;
}
