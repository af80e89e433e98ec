// The export from the shell and the document channels the host serves:
// the host program exports the pieces and knives of the run it replays;
// a PSD's alpha channels and its layer's transparency reach the plug-in
// through the channel reads, and select pieces of a real cut in every
// way the channel selection combines them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>

#include "AlphaChannelsPsd.h"
#include "CChannelListModel.h"
#include "CKLF_ImagePNG.h"
#include "CKLF_ImagePSD.h"
#include "CKLP_ReplaceFile.h"
#include "CKLT_FilterHost.h"
#include "CKLT_HostRunner.h"
#include "CKLT_SettingsSource.h"
#include "CPluginChannelSource.h"
#include "CPluginMain.h"
#include "CTessaretteRecordCodec.h"
#include "ProgramRun.h"
#include "app/PuzzleTestUtil.h"
#include "imaging/IccTestUtil.h"
#include "support/AbandonedTemporaries.h"
#include "support/SettingsBytes.h"
#include "support/TestSupport.h"

namespace {

using namespace hostprogram;
using namespace alphapsd;

const std::string kTestPlugin = std::string("--plugin ") + KLF_TEST_PLUGIN_LIBRARY + " -q ";

Bytes Plane(const CKLF_Mem* m) { return m ? Bytes(m->GetPtr(), m->GetPtr() + m->GetSize()) : Bytes(); }

// The exported pieces' files (named "p_...") of a folder, in order.
std::vector<std::string> PieceFiles(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().rfind("p_", 0) == 0) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

// The host program serves the PSD's alpha channels and the transparency
// under their names: the test plug-in reads each by its number.
TEST(HostChannels, AlphaChannelsReachThePlugin) {
  klftest::TempDir dir;
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("in.psd"), AlphaChannelsPsd()));
  const CKLT_HostDocument doc = Read(dir.File("in.psd"));
  ASSERT_EQ(doc.channels.size(), 2u);
  EXPECT_EQ(doc.channels[0].name, "Left");
  EXPECT_EQ(doc.channels[1].name, "Top");
  for (int channel : {3, 4, 5}) {
    SCOPED_TRACE(channel);
    const Outcome o = RunProgram(kTestPlugin + "'" + dir.File("in.psd") + "' -o '" + dir.File("out.psd") + "'",
                                 "KLT_TEST_PLUGIN_CHANNEL=" + std::to_string(channel));
    ASSERT_EQ(o.code, 0) << o.out;
    EXPECT_TRUE(Has(o, "channels: [Red] [Green] [Blue] [Layer Transparency] [Left] [Top]")) << o.out;
    const CKLT_HostDocument out = Read(dir.File("out.psd"));
    for (int32_t i = 0; i < kW * kH; ++i)
      ASSERT_EQ(out.layers[0].planes[0][i], channel == 3 ? Transparency(i) : channel == 4 ? Left(i) : Top(i)) << i;
  }
}

// Each way the channel selection combines a map with the selection picks
// the pieces of a real cut that the map marks: New, Add, Subtract and
// Intersect, inverted or not, with the maps read from the served PSD.
TEST(HostChannels, ChannelMapsSelectPiecesOfARealCut) {
  ServedCut cut;
  ASSERT_TRUE(cut.ok);
  CPluginMain& plugin = cut.plugin;
  CTessarette& engine = cut.Engine();

  CPluginChannelSource src(plugin);
  CChannelListModel list(src);
  ASSERT_EQ(list.Open(), 1);
  std::vector<std::string> items;
  for (u32 i = 0; i < list.Count(); ++i) items.push_back(list.Item(i));
  ASSERT_EQ(items, std::vector<std::string>({"Red", "Green", "Blue", "Layer Transparency", "Left", "Top"}));
  ASSERT_EQ(list.Select(3), 1);
  for (int32_t i = 0; i < kW * kH; ++i) ASSERT_EQ(list.Map()[i], Transparency(i));
  // Alpha channels are read, never written; one of another size is refused.
  const kltRECT_s all = {0, 0, kW, kH};
  Bytes buf(kW * kH);
  EXPECT_EQ(plugin.HostPutChanel(4, all, buf.data(), kW), 0);
  EXPECT_FALSE(cut.host.AddAlphaChannel(Bytes(5)));

  const struct {
    u8 mode;
    u32 item;
    u8 invert;
  } steps[] = {{CChannelListModel::kNew, 5, 0},       {CChannelListModel::kAdd, 4, 0},
               {CChannelListModel::kSubtract, 5, 0},  {CChannelListModel::kIntersect, 4, 0},
               {CChannelListModel::kNew, 4, 1},       {CChannelListModel::kIntersect, 5, 1}};
  std::vector<bool> want(20, false);
  std::set<std::vector<bool>> seen;
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "mode " << int(s.mode) << " item " << s.item << " invert " << int(s.invert));
    list.combineAllowed = std::count(want.begin(), want.end(), true) > 0;
    ASSERT_TRUE(list.IsModeEnabled(s.mode));
    ASSERT_EQ(list.Select(s.item), 1);
    list.mode = s.mode;
    list.invert = s.invert;
    cut.model->pmop_LoadSelection(list.mode, list.invert, list.Map(), 0);
    want = cut.Expected(want, s.mode, s.item, s.invert);
    for (u32 i = 0; i < 20; ++i) ASSERT_EQ(engine.GetPiece(i)->selected != 0, want[i]) << "piece " << i;
    EXPECT_GT(std::count(want.begin(), want.end(), true), 0);
    seen.insert(want);
  }
  // The steps reach several selections, not one over and over.
  EXPECT_GE(seen.size(), 4u);
}

// The host program exports the pieces of the run it replays (a layered
// PSD, PNG files) and its knives, beside the run's own output; the
// settings' selection chooses the pieces; the PNG files hold the PSD's
// layers.
TEST(HostExport, PiecesAndKnivesFromTheShell) {
  klftest::TempDir dir;
  std::mt19937 rng(9);
  Write(OneLayer(klpModeRGB, 90, 60, [&](int, int32_t) { return static_cast<uint8_t>(rng()); }), dir.File("in.png"));
  // A 3 x 2 layout whose records select the pieces of row 1, columns 1 and 3.
  Bytes block;
  std::string error;
  ASSERT_TRUE(CKLT_SettingsSource::DefaultBlock(90, 60, 3, 2, false, block, error)) << error;
  block.resize(block.size() - 4);
  klftest::Be32(block, 2);
  CTessarette defaults;
  for (u8 column : {1, 3}) {
    CTessarette::SFX_ONEPIECE r;
    defaults.GetDefaultRecord(r);
    r.selected = r.visible = 1, r.row = 1, r.column = column;
    u8 bytes[92] = {};  // the codec leaves its two reserved bytes alone
    CTessaretteRecordCodec::Encode(r, bytes);
    block.insert(block.end(), bytes, bytes + 92);
  }
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("sel.data"), block));

  const std::string in = " '" + dir.File("in.png") + "' -o '" + dir.File("out.png") + "' ";
  Outcome o = RunProgram("-q --settings '" + dir.File("sel.data") + "'" + in + "--export-pieces '" +
                         dir.File("p.psd") + "' --export-knives '" + dir.File("k.eps") + "'");
  ASSERT_EQ(o.code, 0) << o.out;
  EXPECT_TRUE(Has(o, "exported the pieces to " + dir.File("p.psd"))) << o.out;
  EXPECT_TRUE(Has(o, "exported 7 knives to " + dir.File("k.eps"))) << o.out;
  Bytes psd = klftest::ReadFileBytes(dir.File("p.psd"));
  CKLF_ImagePSD reader;
  ASSERT_EQ(reader.LParseByPtr(psd.data(), static_cast<u32>(psd.size())), 1);
  ASSERT_EQ(reader.GetLayersCount(), 3u);  // the composite of the others, then the two selected
  std::vector<std::string> names;
  std::vector<CKLF_ImagePSD::PSDLayerInfoExt_s> layers(3);
  for (u32 i = 0; i < 3; ++i) {
    ASSERT_TRUE(reader.GetLayerInfo(i, layers[i]));
    names.push_back(layers[i].name);
  }
  EXPECT_EQ(names, std::vector<std::string>(
                       {"Composite", "L1 - Piece: 1 (R: 1 / C: 1)", "L2 - Piece: 3 (R: 1 / C: 3)"}));

  // All pieces as PNG files of their own rectangles, simply named.
  o = RunProgram("-q --settings '" + dir.File("sel.data") + "'" + in + "--export-pieces '" + dir.File("p.png") +
                 "' --export-what all --export-naming simple --export-cropped");
  ASSERT_EQ(o.code, 0) << o.out;
  for (u32 k = 1; k <= 6; ++k) {
    char name[16];
    std::snprintf(name, sizeof(name), "p_%04u.png", k);
    ASSERT_TRUE(std::filesystem::exists(dir.File(name))) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("p_0007.png")));
  // The first selected piece's file holds its PSD layer.
  const Bytes file = klftest::ReadFileBytes(dir.File("p_0001.png"));
  CKLF_ImagePNG png;
  ASSERT_EQ(png.ParseImageByPtr(file.data(), static_cast<u32>(file.size())), 1);
  u16 w = 0, h = 0;
  ASSERT_TRUE(png.GetMainImageSize(w, h));
  ASSERT_EQ(std::vector<i32>({w, h}), std::vector<i32>({layers[1].width, layers[1].height}));
  for (int c = -1; c < 3; ++c)
    EXPECT_EQ(Plane(png.GetImageDataMem(c)), Plane(layers[1].planes[c + 1])) << c;

  if (std::system("gs --version > /dev/null 2>&1") == 0) {
    // The knives of the document (90 x 60 at 72 dpi), the stroke's half
    // width around them, from the page's origin.
    FILE* gs = popen(("gs -dSAFER -q -dNOPAUSE -dBATCH -sDEVICE=bbox -c '0 100 translate' -f '" + dir.File("k.eps") +
                      "' 2>&1").c_str(),
                     "r");
    ASSERT_NE(gs, nullptr);
    char line[256];
    double l = 0, b = 0, r = 0, t = 0;
    int found = 0;
    while (std::fgets(line, sizeof(line), gs))
      found += std::sscanf(line, "%%%%HiResBoundingBox: %lf %lf %lf %lf", &l, &b, &r, &t) == 4;
    EXPECT_EQ(pclose(gs), 0);
    ASSERT_EQ(found, 1);
    EXPECT_NEAR(l, 0.0, 0.05);
    EXPECT_NEAR(b - 100, 0.0, 0.05);
    EXPECT_LE(r, 91.05);
    EXPECT_LE(t - 100, 61.05);
    EXPECT_GT(r - l, 80.0);
  }
}

// What the export cannot do is refused before anything is read or run.
TEST(HostExport, RefusalsComeFirst) {
  klftest::TempDir dir;
  Write(OneLayer(klpModeRGB, 30, 20, [](int, int32_t i) { return static_cast<uint8_t>(i); }), dir.File("in.png"));
  const std::string in = " '" + dir.File("in.png") + "' -o '" + dir.File("out.png") + "' ";
  const struct {
    std::string args;
    int code;
    const char* says;
  } cases[] = {
      {"--export-naming simple", 64, "go with --export-pieces"},
      {"--export-pieces '" + dir.File("p.tif") + "'", 64, "makes a .psd file or .png files"},
      {"--export-knives '" + dir.File("k.svg") + "'", 64, "makes an .eps or .ai file"},
      {"--dialog --export-pieces '" + dir.File("p.psd") + "'", 64, "replay no layout"},
      {"--export-pieces '" + dir.File("none/p.psd") + "'", 10, "cannot write"},
      {"--export-what most --export-pieces '" + dir.File("p.psd") + "'", 64, "bad --export-what most"},
  };
  for (const auto& c : cases) {
    const Outcome o = RunProgram("-q" + in + c.args);
    EXPECT_EQ(o.code, c.code) << c.args << "\n" << o.out;
    EXPECT_TRUE(Has(o, c.says)) << c.args << "\n" << o.out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.png"))) << c.args;
  }
  // A grey document has no pieces to export as RGB layers: the run stops
  // before the plug-in writes anything, naming the conversion that would.
  Write(OneLayer(klpModeGray, 30, 20, [](int, int32_t i) { return static_cast<uint8_t>(i); }), dir.File("g.png"));
  const Outcome o = RunProgram("-q '" + dir.File("g.png") + "' -o '" + dir.File("out.png") + "' --export-pieces '" +
                               dir.File("p.psd") + "'");
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitUsage) << o.out;
  EXPECT_TRUE(Has(o, "only RGB documents are exported as pieces; this one is grey (convert it with --mode rgb)"))
      << o.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("p.psd")));
  // The host's abort stops the export's cut as it stops a run.
  const Outcome c = RunProgram("-q --cancel-after 2 --grid 3x2" + in + "--export-pieces '" + dir.File("p.psd") + "'");
  EXPECT_EQ(c.code, 1) << c.out;
  EXPECT_TRUE(Has(c, "cancelled (-128)")) << c.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("p.psd")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.png")));
}

// The pieces of an Adobe-RGB-like photo keep its colour profile and its
// resolution across and down, as the puzzle output does (a PSD of pieces
// too).
TEST(HostExport, PNGPiecesKeepTheProfileAndResolution) {
  klftest::TempDir dir;
  std::mt19937 rng(4);
  CKLT_HostDocument doc = OneLayer(klpModeRGB, 90, 60, [&](int, int32_t) { return static_cast<uint8_t>(rng()); });
  doc.icc = icctest::Profile("RGB ", 90);
  doc.resolution = 300.0, doc.verticalResolution = 150.0;
  Write(doc, dir.File("in.png"));
  for (const char* cropped : {"", " --export-cropped"}) {
    SCOPED_TRACE(cropped);
    const Outcome o = RunProgram("-q --grid 3x2 '" + dir.File("in.png") + "' -o '" + dir.File("out.png") +
                                 "' --export-what all --export-pieces '" + dir.File("p.png") + "'" + cropped);
    ASSERT_EQ(o.code, 0) << o.out;
    const std::vector<std::string> files = PieceFiles(dir.Path());
    ASSERT_EQ(files.size(), 6u);
    for (const std::string& file : files) {
      const Bytes bytes = klftest::ReadFileBytes(file);
      CKLF_ImagePNG png;
      ASSERT_EQ(png.ParseImageByPtr(bytes.data(), static_cast<u32>(bytes.size())), 1) << file;
      EXPECT_EQ(Plane(&png.GetICCProfile()), doc.icc) << file;
      EXPECT_NEAR(png.GetResolution(), 300.0, 0.01) << file;
      EXPECT_NEAR(png.GetVerticalResolution(), 150.0, 0.01) << file;
    }
  }
  ASSERT_EQ(RunProgram("-q '" + dir.File("in.png") + "' -o '" + dir.File("out.png") + "' --export-pieces '" +
                       dir.File("p.psd") + "'").code, 0);
  EXPECT_EQ(Read(dir.File("p.psd")).verticalResolution, 150.0);
}

namespace {

// Every entry of a folder with a hash of its bytes.
std::vector<std::pair<std::string, size_t>> Listing(const std::string& dir) {
  std::vector<std::pair<std::string, size_t>> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const Bytes b = klftest::ReadFileBytes(e.path().string());
    out.emplace_back(e.path().filename().string(), std::hash<std::string>()(std::string(b.begin(), b.end())));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Names of the temporaries a writer that was killed while writing targets
// left in dir.
std::set<std::string> Abandoned(const std::string& dir, const std::vector<std::string>& targets) {
  const std::vector<std::string> made = klftest::AbandonedTemporaries(dir, targets);
  return {made.begin(), made.end()};
}

}  // namespace

// A PNG export into a folder of an earlier export's files: a read-only
// piece file refuses it before anything is written, even for the
// superuser; then the abandoned temporaries of every name the export's
// path makes are removed (other layouts and namings too), the earlier
// files it does not replace are kept and counted in a note, and files of
// other names stay.
TEST(HostExport, PNGPiecesIntoAFolderOfEarlierFiles) {
  klftest::TempDir dir;
  std::mt19937 rng(5);
  Write(OneLayer(klpModeRGB, 90, 60, [&](int, int32_t) { return static_cast<uint8_t>(rng()); }), dir.File("in.png"));
  const std::string run = "-q --threads 2 '" + dir.File("in.png") + "' -o '" + dir.File("out.png") +
                          "' --export-what all --export-pieces '" + dir.File("p.png") + "' --grid ";
  ASSERT_EQ(RunProgram(run + "2x2").code, 0);
  ASSERT_EQ(PieceFiles(dir.Path()).size(), 4u);
  const std::set<std::string> stale =
      Abandoned(dir.Path(), {"p_0001.png", "p_0007.png", "p.png", "p_Composite.png", "p_F0009-Piece9_R3_C3.png",
                             "p_F0002-Piece2_R1_C2.png"});
  ASSERT_EQ(stale.size(), 6u);
  const std::set<std::string> others = Abandoned(dir.Path(), {"q_0001.png", "p_0001_x.png", "pp.png"});
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File(".p_0001.png.tsr-tmp.999999.backup"), {1}));

  const std::string kept = dir.File("p_F0002-Piece2_R1_C2.png");
  ASSERT_EQ(chmod(kept.c_str(), 0444), 0);
  const auto before = Listing(dir.Path());
  Outcome o = RunProgram(run + "3x2");
  EXPECT_EQ(o.code, 10) << o.out;
  EXPECT_TRUE(Has(o, "cannot write " + kept + ": the file is read-only")) << o.out;
  EXPECT_EQ(Listing(dir.Path()), before);

  ASSERT_EQ(chmod(kept.c_str(), 0644), 0);
  o = RunProgram(run + "3x2");
  ASSERT_EQ(o.code, 0) << o.out;
  EXPECT_TRUE(Has(o, "note: " + dir.Path() + " still holds 2 files named as pieces of " + dir.File("p.png"))) << o.out;
  std::set<std::string> hidden;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    if (e.path().filename().string()[0] == '.') hidden.insert(e.path().filename().string());
  std::set<std::string> want = others;
  want.insert(".p_0001.png.tsr-tmp.999999.backup");
  EXPECT_EQ(hidden, want);
  EXPECT_EQ(PieceFiles(dir.Path()).size(), 8u) << "6 new, 2 of the earlier 4 kept";
  for (const char* earlier : {"p_F0003-Piece3_R2_C1.png", "p_F0004-Piece4_R2_C2.png"})
    EXPECT_TRUE(std::filesystem::exists(dir.File(earlier))) << earlier;
}

// The note of an earlier export's files counts none of the run's own: its
// input, its output, or a link to them under a piece's name, though each
// is named as a piece of the export; and one file is one.
TEST(HostExport, EarlierFilesLeaveOutTheRunsOwn) {
  klftest::TempDir dir;
  std::mt19937 rng(9);
  Write(OneLayer(klpModeRGB, 60, 40, [&](int, int32_t) { return static_cast<uint8_t>(rng()); }), dir.File("p.png"));
  ASSERT_EQ(link(dir.File("p.png").c_str(), dir.File("p_0009.png").c_str()), 0);
  const std::string run = "-q '" + dir.File("p.png") + "' -o '" + dir.File("p_Composite.png") +
                          "' --export-what all --export-pieces '" + dir.File("p.png") + "' --grid 2x2";
  for (int i = 0; i < 2; ++i) {  // the second with the output there
    const Outcome o = RunProgram(run);
    ASSERT_EQ(o.code, 0) << o.out;
    EXPECT_FALSE(Has(o, "still holds")) << o.out;
  }
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("p_0001.png"), {1}));
  const Outcome o = RunProgram(run);
  ASSERT_EQ(o.code, 0) << o.out;
  EXPECT_TRUE(Has(o, "note: " + dir.Path() + " still holds 1 file named as pieces of " + dir.File("p.png") +
                         " that this export did not write (an earlier export's); it is left as it was"))
      << o.out;
}
