// The main job end to end: the host program hands the plug-in a layout (the
// default one, a grid of its own, or a settings file) and the plug-in cuts,
// renders and writes the puzzle back, or draws the knives alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "CKLT_FilterHost.h"
#include "CKLT_HostRunner.h"
#include "CKLT_SettingsSource.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"
#include "MutatedSettings.h"
#include "ProgramRun.h"
#include "SettingsAtLimits.h"
#include "support/SettingsBytes.h"
#include "support/TestSupport.h"

namespace {

using namespace hostprogram;
typedef std::vector<uint8_t> Bytes;

Outcome Host(const std::string& args) {
  return RunProgram(std::string("-q --plugin ") + KLF_PLUGIN_LIBRARY + " " + args);
}

const int32_t kW = 72, kH = 48;

// Smooth colours with some grain, so that effects show; the alpha leaves
// the first 6 columns transparent.
CKLT_HostDocument Document(int16_t mode, bool alpha, uint32_t seed) {
  std::mt19937 rng(seed);
  std::function<uint8_t(int32_t)> a;
  if (alpha) a = [&](int32_t i) { return static_cast<uint8_t>(i % kW < 6 ? 0 : 128 + rng() % 128); };
  return OneLayer(
      mode, kW, kH,
      [&](int c, int32_t i) { return static_cast<uint8_t>((i % kW) * 2 + (i / kW) * (c + 1) + rng() % 16); }, a);
}

// A round selection with a soft edge.
CKLT_HostDocument Selection() {
  return OneLayer(klpModeGray, kW, kH, [](int, int32_t i) {
    double d = std::hypot((i % kW - 36) / 30.0, (i / kW - 24) / 18.0);
    return static_cast<uint8_t>(d < 0.9 ? 255 : d < 1.0 ? (1.0 - d) * 2550 : 0);
  });
}

}  // namespace

TEST(ReplayProgram, PuzzleOverEachModeTransparencyAndSelection) {
  klftest::TempDir dir;
  Write(Selection(), dir.File("sel.png"));
  const Bytes sel = Selection().layers[0].planes[0];
  const struct {
    int16_t mode;
    bool alpha, selection;
    const char* options;
  } rows[] = {
      {klpModeRGB, true, false, ""}, {klpModeGray, true, true, "--lock-transparency "}, {klpModeCMYK, false, true, ""}};
  uint32_t seed = 1;
  for (const auto& k : rows) {
    SCOPED_TRACE(std::to_string(k.mode) + " " + k.options);
    const CKLT_HostDocument doc = Document(k.mode, k.alpha, ++seed);
    const std::string ext = k.mode == klpModeCMYK ? ".psd" : ".png";
    Write(doc, dir.File("in" + ext));
    const std::string selection = k.selection ? "--selection " + dir.File("sel.png") + " " : "";
    Outcome r = Host("--grid 3x2 " + std::string(k.options) + selection + dir.File("in" + ext) + " -o " +
                     dir.File("out" + ext));
    ASSERT_EQ(r.code, 0) << r.out;
    const auto& before = doc.layers[0];
    const CKLT_HostDocument back = Read(dir.File("out" + ext));
    ASSERT_EQ(back.mode, k.mode);
    const auto& after = back.layers[0];
    ASSERT_EQ(after.planes.size(), before.planes.size());
    size_t changedInside = 0;
    for (size_t c = 0; c < before.planes.size(); ++c)
      for (int32_t i = 0; i < kW * kH; ++i) {
        // The file keeps no colour where nothing is visible.
        if (k.alpha && before.alpha[i] == 0) continue;
        if (k.selection && sel[i] == 0) {
          ASSERT_EQ(after.planes[c][i], before.planes[c][i]) << i;
        } else {
          changedInside += after.planes[c][i] != before.planes[c][i];
        }
      }
    EXPECT_GT(changedInside, static_cast<size_t>(kW * kH / 10));  // the bevel of every piece shows
    // Nothing appears where the layer was transparent.
    for (int32_t i = 0; k.alpha && i < kW * kH; ++i) ASSERT_TRUE(before.alpha[i] || !after.alpha[i]) << i;
    if (k.alpha && std::strlen(k.options)) {
      EXPECT_EQ(after.alpha, before.alpha);  // locked
    }
  }
}

TEST(ReplayProgram, LayoutModeDrawsTheKnivesOverTheBackground) {
  klftest::TempDir dir;
  Write(Document(klpModeGray, false, 5), dir.File("g.png"));
  Outcome r =
      Host("--layout-mode --grid 4x3 --fg 000000 --bg ffffff " + dir.File("g.png") + " -o " + dir.File("o.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  const Bytes out = Read(dir.File("o.png")).layers[0].planes[0];
  const auto white = std::count(out.begin(), out.end(), 255);
  EXPECT_GT(white, kW * kH / 2);  // the picture (all below 210) is gone, the knives drawn
  EXPECT_LT(white, kW * kH - 100);
}

TEST(ReplayProgram, SettingsFilesScriptsAndRepeatedRuns) {
  klftest::TempDir dir;
  Write(Document(klpModeRGB, false, 9), dir.File("in.png"));
  const std::string in = dir.File("in.png");
  auto planes = [&](const std::string& name) { return Read(dir.File(name)).layers[0].planes; };

  // The layout handed over is saved; replaying the saved document, or its
  // block alone, gives the same puzzle; so does a recorded script played.
  const std::string script = dir.File("action.desc");
  Outcome r = Host("--grid 5x3 --script " + script + " --save-settings " + dir.File("a.klpd") + " " + in + " -o " +
                   dir.File("a.png"));
  ASSERT_EQ(r.code, 0) << r.out;
  const Bytes saved = klftest::ReadFileBytes(dir.File("a.klpd"));
  ASSERT_GT(saved.size(), 6u);
  EXPECT_EQ(std::string(saved.begin(), saved.begin() + 6), "KLTS30");
  klftest::WriteFileBytes(dir.File("last.data"), Bytes(saved.begin() + 6, saved.end()));
  const auto a = planes("a.png");
  for (const std::string& args : {"--settings " + dir.File("a.klpd"), "--settings " + dir.File("last.data"),
                                  "--script " + script + " --save-settings " + dir.File("c.klpd")}) {
    r = Host(args + " " + in + " -o " + dir.File("b.png"));
    ASSERT_EQ(r.code, 0) << args << r.out;
    EXPECT_EQ(planes("b.png"), a) << args;
  }
  EXPECT_EQ(klftest::ReadFileBytes(dir.File("c.klpd")), saved) << "a played script's settings are saved too";
  // The default grid differs from 5 x 3.
  ASSERT_EQ(Host(in + " -o " + dir.File("d.png")).code, 0);
  EXPECT_NE(planes("d.png"), a);

  // The plug-in's own "last.data" when none is handed over: with none
  // stored, cancelled and nothing written. Its configuration store beside
  // it is made anew over a damaged one.
  std::filesystem::create_directory(dir.File("plugin"));
  std::filesystem::copy_file(KLF_PLUGIN_LIBRARY, dir.File("plugin/libtessarette_plugin.so"));
  klftest::WriteFileBytes(dir.File("plugin/plugin.conf"), {1, 2, 3});
  const std::string args = "-q --plugin " + dir.File("plugin/libtessarette_plugin.so") + " --last " + in + " -o ";
  EXPECT_EQ(RunProgram(args + dir.File("f.png")).code, CKLT_HostRunner::kExitCancelled);
  EXPECT_FALSE(std::filesystem::exists(dir.File("f.png")));
  const Bytes conf = klftest::ReadFileBytes(dir.File("plugin/plugin.conf"));
  EXPECT_EQ(std::string(conf.begin(), conf.begin() + std::min<size_t>(8, conf.size())), "KLCPSv40");
  std::filesystem::copy_file(dir.File("last.data"), dir.File("plugin/last.data"));
  EXPECT_EQ(RunProgram(args + dir.File("g.png")).code, 0);
  EXPECT_EQ(planes("g.png"), a);
}

TEST(ReplayProgram, OlderDocumentsAndBrokenSettings) {
  klftest::TempDir dir;
  Write(Document(klpModeGray, false, 12), dir.File("in.png"));
  const std::string in = " " + dir.File("in.png") + " -o " + dir.File("out.png");

  // A "KLTS20" document of one vertical line: one knife (flags, no points),
  // no horizontal knife, thickness 3, knob size 100, anti-aliasing on.
  Bytes old = {'K', 'L', 'T', 'S', '2', '0', 0, 0, 0, 0, 0, 1, 0x3F, 0, 0, 0, 0, 0, 0, 6};
  old.resize(old.size() + 6 * 8, 0);
  for (uint8_t b : {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 100, 1}) old.push_back(b);
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("old.klpd"), old));
  Outcome r = Host("--settings " + dir.File("old.klpd") + in);
  ASSERT_EQ(r.code, 0) << r.out;
  old[9] = 7;  // seven lines that are not there: refused by the host program
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("old2.klpd"), old));
  r = Host("--settings " + dir.File("old2.klpd") + in);
  EXPECT_EQ(r.code, CKLT_HostRunner::kExitFiles) << r.out;
  EXPECT_EQ(Host("--settings " + dir.File("missing.klpd") + in).code, CKLT_HostRunner::kExitFiles);

  // A damaged block is a bad settings file, refused before the run.
  std::filesystem::remove(dir.File("out.png"));
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("bad.data"), {1, 1, 0, 200, 0, 0, 0, 0, 0, 0, 1, 2, 3}));
  r = Host("--settings " + dir.File("bad.data") + in);
  EXPECT_EQ(r.code, CKLT_HostRunner::kExitFiles);
  EXPECT_TRUE(Has(r, "is not a settings file")) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.png")));
}

// A document whose count of piece records, or whose length, no longer
// fits what it holds: refused as damaged (exit 10), or replayed when the
// plug-in takes it; never a cancel.
TEST(ReplayProgram, DamagedSettingsAreSaidNeverACancel) {
  klftest::TempDir dir;
  Write(Document(klpModeRGB, false, 21), dir.File("in.png"));
  const std::string in = " " + dir.File("in.png") + " -o " + dir.File("out.png");
  Outcome r = Host("--grid 3x2 --save-settings " + dir.File("plain.klpd") + in);
  ASSERT_EQ(r.code, 0) << r.out;
  // One with two piece records, saved as the program saves.
  Bytes block;
  std::string error;
  ASSERT_TRUE(CKLT_SettingsSource::DefaultBlock(kW, kH, 3, 2, false, block, error)) << error;
  block.resize(block.size() - 4);
  klftest::Be32(block, 2);
  CTessarette defaults;
  for (u8 column : {1, 2}) {
    CTessarette::SFX_ONEPIECE rec;
    defaults.GetDefaultRecord(rec);
    rec.selected = rec.visible = 1, rec.row = 1, rec.column = column;
    u8 bytes[92];
    CTessaretteRecordCodec::Encode(rec, bytes);
    block.insert(block.end(), bytes, bytes + 92);
  }
  ASSERT_TRUE(CKLT_SettingsSource::WriteDocument(dir.File("records.klpd"), block, error)) << error;

  std::vector<Bytes> damaged;
  for (const char* name : {"plain.klpd", "records.klpd"}) {
    const Bytes doc = klftest::ReadFileBytes(dir.File(name));
    const size_t countAt = doc.size() - 4 - (name[0] == 'r' ? 2 * 92 : 0);
    for (size_t length = CSettingsBlock::kMagicSize + 1; length < doc.size(); ++length)
      damaged.emplace_back(doc.begin(), doc.begin() + static_cast<std::ptrdiff_t>(length));
    for (u32 count : {0u, 1u, 2u, 3u, 7u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      Bytes d = doc;
      klftest::Put32(d, countAt, count);
      if (d != doc) damaged.push_back(d);
    }
  }
  size_t firstCheckPassed = 0, taken = 0;
  for (size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string path = dir.File("damaged.klpd");
    ASSERT_TRUE(klftest::WriteFileBytes(path, damaged[i]));
    Bytes read;
    const bool ok = CKLT_SettingsSource::ReadFile(path, kW, kH, read, error);
    EXPECT_TRUE(ok || error.find("is a damaged settings document") != std::string::npos) << error;
    const Bytes& d = damaged[i];
    if (!CSettingsBlock::IsValid(d.data() + CSettingsBlock::kMagicSize,
                                 static_cast<u32>(d.size() - CSettingsBlock::kMagicSize), 0))
      continue;
    // The first check passed: the program says what the plug-in would do.
    ++firstCheckPassed;
    taken += ok;
    std::filesystem::remove(dir.File("out.png"));
    r = Host("--settings " + path + in);
    EXPECT_EQ(r.code, ok ? 0 : CKLT_HostRunner::kExitFiles) << r.out;
    EXPECT_TRUE(ok || Has(r, path + " is a damaged settings document")) << r.out;
    EXPECT_EQ(std::filesystem::exists(dir.File("out.png")), ok);
  }
  EXPECT_GT(firstCheckPassed - taken, 10u) << "damaged documents that pass the first check";

  // The same block, damaged, in a played script and as the plug-in's
  // "last.data".
  Bytes cut(block.begin(), block.end() - 50);
  CKLT_FilterHost host;
  ASSERT_TRUE(CKLT_SettingsSource::Record(host, cut, error)) << error;
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("cut.desc"), CKLT_FilterHost::EncodeDescriptor(host.Descriptor())));
  r = Host("--script " + dir.File("cut.desc") + in);
  EXPECT_EQ(r.code, CKLT_HostRunner::kExitFiles) << r.out;
  EXPECT_TRUE(Has(r, dir.File("cut.desc") + " holds a damaged settings block")) << r.out;
  std::filesystem::create_directory(dir.File("plug"));
  std::filesystem::copy_file(KLF_PLUGIN_LIBRARY, dir.File("plug/p.so"));
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("plug/last.data"), cut));
  const std::string last = " -q --plugin " + dir.File("plug/p.so") + " --last" + in;
  r = RunProgram(last);
  EXPECT_EQ(r.code, CKLT_HostRunner::kExitFiles) << r.out;
  EXPECT_TRUE(Has(r, "--last: " + dir.File("plug/last.data") + " is a damaged settings block")) << r.out;
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("plug/last.data"), block));
  r = RunProgram(last);
  EXPECT_EQ(r.code, 0) << r.out;
  // A played script comes before "last.data".
  r = RunProgram(last + " --script " + dir.File("cut.desc"));
  EXPECT_EQ(r.code, CKLT_HostRunner::kExitFiles) << r.out;
  EXPECT_TRUE(Has(r, dir.File("cut.desc") + " holds a damaged settings block")) << r.out;
}

// A cut that gives no piece, or more than the plug-in takes, is a refusal
// of the settings for this picture: bad parameters, nothing written; a
// cancel stays a cancel.
TEST(ReplayProgram, SettingsThatCutNoPieceOrTooManyAreRefused) {
  klftest::TempDir dir;
  std::string error;
  ASSERT_TRUE(CKLT_SettingsSource::WriteDocument(dir.File("limits.klpd"), SettingsAtLimits(1), error)) << error;
  const auto grain = [](int c, int32_t i) { return static_cast<uint8_t>(i * (c + 1)); };
  Write(OneLayer(klpModeRGB, 32, 24, grain), dir.File("small.png"));
  Write(OneLayer(klpModeRGB, 1000, 750, grain), dir.File("large.png"));
  const std::string settings = "--settings " + dir.File("limits.klpd") + " ";
  const std::string out = " -o " + dir.File("out.png");
  // Counted after the plug-in, or while it runs; a 100 x 100 grid alone
  // covers the picture too.
  for (const std::string& run : {"--threads 4 " + settings, std::string("--threads 1 --grid 101x101 ")}) {
    const Outcome o = Host(run + dir.File("small.png") + out);
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitBadParameters) << run << "\n" << o.out;
    EXPECT_TRUE(Has(o, "the settings cut no piece from the filtered area (32 x 24 pixels)")) << o.out;
  }
  // The plug-in refuses a cut past its 99999 pieces with a cancel (-128),
  // as the test plug-in does here at once.
  const std::string test = std::string("-q --threads 1 --plugin ") + KLF_TEST_PLUGIN_LIBRARY + " ";
  const std::string refuse = "KLT_TEST_PLUGIN_RESULT=-128";
  Outcome o = RunProgram(test + settings + dir.File("large.png") + out, refuse);
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitBadParameters) << o.out;
  EXPECT_TRUE(Has(o, "the settings cut more than 99999 pieces from the filtered area (1000 x 750 pixels)")) << o.out;
  // A cancel of a cut the plug-in takes stays one.
  o = RunProgram(test + "--grid 3x2 " + dir.File("small.png") + out, refuse);
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitCancelled) << o.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.png")));
}

// Settings beyond the scripting descriptor (their compressed block over
// 325000 bytes): --settings replays them, a block or a document, as the
// plug-in replays its own "last.data", through a copy of it in a folder no
// run leaves behind; a run that would record them in a script says it
// cannot: refused before the run, or after the dialog's output is written.
// --last records nothing either.
TEST(ReplayProgram, SettingsBeyondTheDescriptor) {
  klftest::TempDir dir;
  const Bytes big = MutatedSettings(20, 20, 64, false);
  ASSERT_EQ(CKLT_SettingsSource::FitsDescriptor(big), CKLT_SettingsSource::kTooLarge);
  std::string error;
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("big.data"), big));
  ASSERT_TRUE(CKLT_SettingsSource::WriteDocument(dir.File("big.klpd"), big, error)) << error;
  const auto smooth = [](int c, int32_t i) { return uint8_t(i % 240 + i / 240 * c); };
  Write(OneLayer(klpModeRGB, 240, 160, smooth), dir.File("in.png"));
  for (const char* folder : {"real", "test", "tmp"}) std::filesystem::create_directory(dir.File(folder));
  std::filesystem::copy_file(KLF_PLUGIN_LIBRARY, dir.File("real/p.so"));
  std::filesystem::copy_file(KLF_TEST_PLUGIN_LIBRARY, dir.File("test/t.so"));
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("real/last.data"), big));
  const std::string plugin = "--plugin " + std::string(KLF_PLUGIN_LIBRARY) + " --settings ";
  const std::string real = plugin + dir.File("big.data");
  const std::string own = "--plugin " + dir.File("real/p.so") + " --last", script = " --script " + dir.File("s");
  const std::string dialog = "--plugin " + dir.File("test/t.so") + " --dialog" + script;
  const std::string store = "DISPLAY=:none KLT_TEST_PLUGIN_FOLDER=" + dir.File("test") + " KLT_TEST_PLUGIN_STORE=";
  const struct {
    std::string args, env, says;
    int code;
    bool output, recorded;
  } rows[] = {
      {real, "", "done", 0, true, false},
      {plugin + dir.File("big.klpd"), "", "done", 0, true, false},
      {own, "", "done", 0, true, false},
      {real + " --export-knives " + dir.File("k.eps"), "", "knives to " + dir.File("k.eps"), 0, true, false},
      {real + script, "",
       "cannot record --script " + dir.File("s") + ": " + CKLT_SettingsSource::TooLargeReason(big.size()),
       CKLT_HostRunner::kExitFiles, false, false},
      {dialog, store + "400000", "cannot record the run in --script " + dir.File("s") + ": " +
       CKLT_SettingsSource::TooLargeReason(400000) + "; --last or --settings " + dir.File("test/last.data") +
       " replays them; " + dir.File("s") + " is not written", CKLT_HostRunner::kExitFiles, true, false},
      {dialog, store + "1000", "done", 0, true, true},
      {own + script, "", "--script " + dir.File("s") + ", which holds no settings", CKLT_HostRunner::kExitUsage, false,
       false},
  };
  std::vector<Bytes> first;
  for (const auto& row : rows) {
    std::filesystem::remove(dir.File("out.png"));
    std::filesystem::remove(dir.File("s"));
    const Outcome o = RunProgram("-q " + row.args + " " + dir.File("in.png") + " -o " + dir.File("out.png"),
                                 "TMPDIR=" + dir.File("tmp") + " " + row.env);
    EXPECT_EQ(o.code, row.code) << o.out;
    EXPECT_TRUE(Has(o, row.says)) << o.out;
    EXPECT_EQ(std::filesystem::exists(dir.File("out.png")), row.output) << row.args;
    EXPECT_EQ(std::filesystem::exists(dir.File("s")), row.recorded) << row.args;
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("tmp")));
    // The block's replays, however handed, are one puzzle.
    if (row.env.empty() && row.output && first.empty()) first = Read(dir.File("out.png")).layers[0].planes;
    EXPECT_TRUE(!row.env.empty() || !row.output || Read(dir.File("out.png")).layers[0].planes == first) << row.args;
  }
}

TEST(ReplayProgram, TheInstalledProgramFindsItsPlugin) {
  klftest::TempDir dir;
  const std::string prefix = dir.File("prefix");
  ASSERT_EQ(std::system((std::string(KLF_CMAKE_COMMAND) + " --install " + KLF_BINARY_DIR + " --prefix " + prefix +
                         " > /dev/null")
                            .c_str()),
            0);
  EXPECT_TRUE(std::filesystem::is_symlink(prefix + "/bin/tessarette-host"));
  Write(Document(klpModeRGB, false, 14), dir.File("in.png"));
  const int status = std::system(("env -u TESSARETTE_PLUGIN " + prefix + "/bin/tessarette-host -q " +
                                  dir.File("in.png") + " -o " + dir.File("out.png") + " > /dev/null 2>&1")
                                     .c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(std::filesystem::exists(dir.File("out.png")));
  // The relief renderer comes along, with its sample picture beside it.
  EXPECT_TRUE(std::filesystem::is_symlink(prefix + "/bin/surface_render"));
  EXPECT_EQ(std::system((prefix + "/bin/surface_render --mode grid --size 80x60 -o " + dir.File("relief.png") +
                         " > /dev/null 2>&1")
                            .c_str()),
            0);
  EXPECT_TRUE(std::filesystem::exists(dir.File("relief.png")));
}

TEST(ReplayProgram, CrossingKnivesAndUnusedColoursAreSaid) {
  klftest::TempDir dir;
  Write(OneLayer(klpModeRGB, 300, 200, [](int c, int32_t i) { return uint8_t(i * (c + 1)); }), dir.File("in.png"));
  const std::string in = dir.File("in.png") + " -o " + dir.File("out.png");
  // Cells four and a half times as tall as wide: the full knobs cross,
  // and the puzzle is still written, as laid.
  Outcome r = Host("--grid 2x6 --save-settings " + dir.File("tall.klpd") + " " + in);
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(Has(r, "where the layout has 12 cells: knives that cross")) << r.out;
  EXPECT_TRUE(Has(r, "lower --knob-size")) << r.out;
  EXPECT_FALSE(Has(r, "--random-knots")) << r.out;
  // Counted before the write on one thread, beside it on more: the same note.
  for (const char* threads : {"--threads 1 ", "--threads 3 "}) {
    const Outcome t = Host(std::string(threads) + "--grid 2x6 " + in);
    EXPECT_TRUE(Has(t, "the cut gave 46 pieces where the layout has 12 cells")) << threads << t.out;
  }
  r = Host("--grid 8x5 --random-knots 40 --seed 3 " + in);
  EXPECT_TRUE(Has(r, "lower --random-knots (to 10 at most)")) << r.out;
  r = Host("--settings " + dir.File("tall.klpd") + " " + in);
  EXPECT_TRUE(Has(r, "where the layout has 12 cells") && Has(r, "the settings' knives are kept as they are")) << r.out;
  for (const char* clean : {"--grid 3x2", "--hexagons 2x3 --regular", "--grid 3x2 --thickness 6"}) {
    r = Host(std::string(clean) + " " + in);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_FALSE(Has(r, "note:")) << clean << "\n" << r.out;
  }

  // Colours that the settings leave unused: the knives' colour in a
  // puzzle, the background over a layer whose transparency may change.
  r = Host("--settings " + dir.File("tall.klpd") + " --fg 102030 " + in);
  EXPECT_TRUE(Has(r, "note: --fg colours the knives of Layout mode")) << r.out;
  Write(Document(klpModeRGB, true, 20), dir.File("alpha.png"));
  r = Host("--layout-mode --bg 102030 " + dir.File("alpha.png") + " -o " + dir.File("out.png"));
  EXPECT_TRUE(Has(r, "note: --bg is not used")) << r.out;
  r = Host("--layout-mode --bg 102030 --lock-transparency " + dir.File("alpha.png") + " -o " + dir.File("out.png"));
  EXPECT_FALSE(Has(r, "note:")) << r.out;
}
