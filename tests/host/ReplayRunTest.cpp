// The replay through the entry: a settings block in "last.data" beside the
// plug-in, the engine's cut and rendering, and the writers' results in the
// in-memory host's planes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "CKLF_Image.h"
#include "CTessaretteRecordCodec.h"
#include "HostTestSupport.h"
#include "KLF_PluginEntry.h"
#include "support/SettingsBytes.h"
#include "support/TestSupport.h"

namespace {

using hosttest::Bytes;
using hosttest::Planes;
using Piece = CTessarette::SFX_ONEPIECE;
const u32 kRec = CTessaretteRecordCodec::kSize;

// A settings block of an even grid (V vertical, H horizontal lines) whose
// knives are all the default knob, every third flipped, anti-aliased;
// Puzzle mode carries the records.
Bytes Block(u32 V, u32 H, bool puzzle, u8 thin, const Bytes& records = Bytes()) {
  klftest::BlockDesc d;
  d.H = H;
  d.V = V;
  d.puzzle = puzzle;
  d.thin = thin;
  d.knife = klftest::KnobKnife();
  d.vary = [](u32, u32 i, klftest::KnifeDesc& k) { k.flags = i % 3 == 1; };
  d.recordBytes = records;
  return klftest::Block(d);
}

void Init(CTessarette& e, const Bytes& block) {
  CKLF_Mem mem(static_cast<u32>(block.size()));
  std::memcpy(mem.GetPtr(), block.data(), block.size());
  u8 layout;
  u32 count;
  const u8* rec;
  EXPECT_EQ(e.InitFromLastSettingsBinary(&mem, layout, count, rec), 1);
}

// The knife mask the engine draws for a block over w x h.
Bytes KnifeMask(const Bytes& block, i32 w, i32 h) {
  CTessarette e;
  Init(e, block);
  Bytes mask(static_cast<size_t>(w) * h);
  EXPECT_EQ(e.DrawSplitting(w, h, mask.data(), static_cast<u32>(w), 0, 100), 1);
  return mask;
}

// Records with every effect off, one for each piece of the cut the replay
// makes of an opaque w x h document, in the pieces' order.
Bytes PlainRecords(const Bytes& block, i32 w, i32 h, u8 planes) {
  CTessarette e;
  Init(e, block);
  std::vector<Bytes> data(planes, Bytes(static_cast<size_t>(w) * h, 0));
  u8* p[4];
  for (u8 i = 0; i < planes; ++i) p[i] = data[i].data();
  Bytes alpha(static_cast<size_t>(w) * h, 255);
  EXPECT_EQ(e.SplitCells(w, h, alpha.data(), static_cast<u32>(w), p, static_cast<u32>(w), planes, 0, 100, 0), 1);
  Bytes out(kRec * e.GetPieceCount(), 0);
  for (u32 i = 0; i < e.GetPieceCount(); ++i) {
    Piece r;
    EXPECT_EQ(e.PieceToRecord(i, r), 1);
    r.bevel.enabled = 0;
    CTessaretteRecordCodec::Encode(r, &out[kRec * i]);
  }
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Each stored record decoded, changed and encoded again.
Bytes Edit(Bytes records, const std::function<void(Piece&)>& change) {
  for (size_t i = 0; i < records.size(); i += kRec) {
    Piece r;
    EXPECT_EQ(CTessaretteRecordCodec::Decode(&records[i], kRec, r), 1);
    change(r);
    CTessaretteRecordCodec::Encode(r, &records[i]);
  }
  return records;
}

class ReplayRun : public ::testing::Test {
 protected:
  void SetUp() override { KLF_SetPluginFolderOverride(dir.Path().c_str()); }
  void TearDown() override {
    ASSERT_EQ(host.Call(PluginMain, klpSelectorFinish), 0);
    KLF_SetPluginFolderOverride(nullptr);
  }
  void Store(const Bytes& block) { ASSERT_TRUE(klftest::WriteFileBytes(dir.File("last.data"), block)); }
  // Runs the replay on `before` and returns the planes it leaves.
  std::vector<Bytes> Replay(const std::vector<Bytes>& before, KLP_PluginMainProc entry = PluginMain,
                            int16_t expect = klpResNoErr) {
    hosttest::SetPlanes(host, before);
    EXPECT_EQ(host.RunFilter(entry, false), expect);
    return Planes(host);
  }
  void UseObject(CPluginMain& plugin) {
    hosttest::ObjectEntry::target = &plugin;
    ASSERT_EQ(hosttest::ObjectEntry::folder.SetPath(dir.Path().c_str()), klpNoErr);
  }

  klftest::TempDir dir;
  CKLT_FilterHost host;
  std::mt19937 rng{3};
};

}  // namespace

TEST_F(ReplayRun, LayoutModeDrawsTheKnives) {
  const i32 w = 90, h = 60;
  const Bytes block = Block(2, 1, false, 0);
  const Bytes mask = KnifeMask(block, w, h);
  ASSERT_GT(std::count(mask.begin(), mask.end(), 255), 200);
  Store(block);
  // Editable transparency: the knives are the transparency, the colours the
  // foreground. Else the knives in the foreground over the background, a
  // locked transparency left alone.
  const struct {
    int16_t mode;
    bool transparency, locked;
    u8 fore[4], back[4];
  } rows[] = {{klpModeGray, false, false, {20, 0, 0, 0}, {230, 0, 0, 0}},
              {klpModeRGB, true, false, {200, 10, 30, 0}, {1, 2, 3, 0}},
              {klpModeCMYK, true, true, {0, 255, 255, 0}, {10, 20, 30, 40}}};
  for (const auto& row : rows) {
    hosttest::RandomDocument(host, row.mode, w, h, row.transparency, rng);
    const int colours = host.ColourPlanes();
    if (row.transparency) host.Plane(colours).assign(mask.size(), 255);  // opaque: nothing to trim
    host.LockTransparency(row.locked);
    host.SetColours(row.fore, row.back);
    const std::vector<Bytes> out = Replay(Planes(host));
    const bool editable = row.transparency && !row.locked;
    for (int c = 0; c < colours; ++c)
      for (size_t i = 0; i < mask.size(); ++i)
        ASSERT_EQ(out[c][i], editable ? row.fore[c] : (row.fore[c] * mask[i] + (255 - mask[i]) * row.back[c]) / 255)
            << row.mode << " " << c << " " << i;
    if (row.transparency) {
      EXPECT_EQ(out[colours], editable ? mask : Bytes(mask.size(), 255)) << row.mode;
    }
  }
}

TEST_F(ReplayRun, PuzzleModeWithoutEffectsGivesTheDocumentBack) {
  const i32 w = 96, h = 64;
  const Bytes layout = Block(3, 2, true, 1);
  const Bytes plain = PlainRecords(layout, w, h, 3);
  ASSERT_GE(plain.size() / kRec, 12u);
  hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
  const std::vector<Bytes> before = Planes(host);
  Store(Block(3, 2, true, 1, plain));
  EXPECT_EQ(Replay(before), before);

  // Records in another order are matched by row and column: a later record
  // of the same cell wins, rows or columns of 100 and more are ignored.
  const u8 colour[8] = {0, 10, 200, 30, 0, 0, 0, 0};
  auto overlay = [&](Piece& r) {
    r.colorOverlay.enabled = 1;
    r.colorOverlay.opacity = 255;
    std::memcpy(r.colorOverlay.color, colour, 8);
  };
  const Bytes first = Edit(Bytes(plain.begin(), plain.begin() + kRec), overlay);
  const Bytes far = Edit(first, [](Piece& r) { r.row = 150; });
  Bytes reversed;
  for (size_t i = plain.size(); i > 0; i -= kRec) reversed = Cat({reversed, Bytes(&plain[i - kRec], &plain[i - 1] + 1)});
  Store(Block(3, 2, true, 1, Cat({first, reversed, far})));
  EXPECT_EQ(Replay(before), before);
  Store(Block(3, 2, true, 1, Cat({reversed, first})));
  std::vector<Bytes> out = Replay(before);
  size_t painted = 0;
  for (size_t i = 0; i < out[0].size(); ++i) painted += out[0][i] == 10 && out[1][i] == 200 && out[2][i] == 30;
  EXPECT_GT(painted, static_cast<size_t>(w * h / 40));

  // A thick knife is a piece of its own whose anti-aliased inner pixels may
  // stay partly covered; everything off the knives comes back.
  const Bytes thick = Block(3, 2, true, 0);
  Store(Block(3, 2, true, 0, PlainRecords(thick, w, h, 3)));
  const Bytes mask = KnifeMask(thick, w, h);
  out = Replay(before);
  for (int c = 0; c < 3; ++c)
    for (size_t i = 0; i < mask.size(); ++i) ASSERT_TRUE(mask[i] || out[c][i] == before[c][i]) << i;

  // With editable transparency the transparency comes back too (the alpha
  // is limited by the document's own transparency).
  hosttest::RandomDocument(host, klpModeGray, w, h, true, rng);
  for (size_t i = 0; i < host.Plane(1).size(); ++i) host.Plane(1)[i] = i % 97 == 0 ? 0 : (i % 5 == 0 ? 120 : 255);
  Store(Block(2, 2, true, 1, PlainRecords(Block(2, 2, true, 1), w, h, 1)));
  const std::vector<Bytes> gray = Planes(host);
  EXPECT_EQ(Replay(gray), gray);
}

TEST_F(ReplayRun, ImageOverlaysReadDocumentLayers) {
  // Every piece inverted, then overlaid at full opacity with an opaque
  // layer: the puzzle is that layer. After the invert the overlay lands in
  // the engine's work image, whose rows have the widest piece's stride.
  const i32 w = 96, h = 64;
  const Bytes records = Edit(PlainRecords(Block(3, 2, true, 1), w, h, 3), [](Piece& r) {
    r.imageOverlay.enabled = 1;
    r.imageOverlay.opacity = 255;
    r.imageOverlay.sourceMode = 1;
    r.imageOverlay.layerId = 12;
    r.invert = 1;
  });
  Store(Block(3, 2, true, 1, records));
  hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
  const std::vector<Bytes> before = Planes(host);
  CKLT_FilterHost::Layer paper;
  paper.id = 12;
  paper.bounds = {0, 0, w, h};
  for (int c = 0; c < 3; ++c) {
    paper.planes.emplace_back(static_cast<size_t>(w) * h);
    for (i32 i = 0; i < w * h; ++i) paper.planes[c][i] = static_cast<u8>((i % w) * 3 + (i / w) * 5 + c * 40);
  }
  host.AddLayer(paper);
  host.SetMergedComposite(before, Bytes());
  EXPECT_EQ(Replay(before), paper.planes);
  // A layer that is not there leaves the pieces inverted only.
  Store(Block(3, 2, true, 1, Edit(records, [](Piece& r) { r.imageOverlay.layerId = 99; })));
  std::vector<Bytes> out = Replay(before);
  for (int i = 0; i < w * h * 3; ++i) ASSERT_EQ(out[i % 3][i / 3], 255 - before[i % 3][i / 3]) << i;
}

TEST_F(ReplayRun, DefaultEffectsAndRepeatedRuns) {
  Store(Block(2, 1, true, 1));  // Puzzle mode, no records: default bevel
  hosttest::RandomDocument(host, klpModeRGB, 80, 50, false, rng);
  const std::vector<Bytes> before = Planes(host);
  const std::vector<Bytes> first = Replay(before);
  EXPECT_NE(first, before);
  // Again in the same loaded plug-in, after a Layout-mode replay, and on a
  // fresh plug-in object: the same result.
  EXPECT_EQ(Replay(before), first);
  Store(Block(2, 1, false, 1));
  Replay(before);
  Store(Block(2, 1, true, 1));
  EXPECT_EQ(Replay(before), first);
  CPluginMain fresh;
  UseObject(fresh);
  EXPECT_EQ(Replay(before, hosttest::ObjectEntry::Entry), first);
}

TEST_F(ReplayRun, FailuresLeaveTheDocument) {
  hosttest::RandomDocument(host, klpModeRGB, 64, 48, false, rng);
  const std::vector<Bytes> before = Planes(host);
  // Cancel during the cut.
  Store(Block(3, 3, true, 1));
  for (int64_t polls : {0, 1, 5, 20}) {
    host.CancelAfterPolls(polls);
    EXPECT_EQ(Replay(before, PluginMain, klpResUserCanceled), before) << polls;
  }
  host.CancelAfterPolls(-1);
  // A block the engine refuses (101 lines); a piece count past the block.
  Bytes past = Block(1, 1, true, 1);
  past.back() = 1;
  for (const Bytes& b : {Block(0, 101, false, 1), past}) {
    Store(b);
    EXPECT_EQ(Replay(before, PluginMain, klpResUserCanceled), before);
  }

  // A filter rectangle wider than the engine handles: bad parameters.
  CKLT_FilterHost wide;
  ASSERT_TRUE(wide.SetDocument(klpModeGray, 70000, 2, false));
  const Bytes plane = wide.Plane(0);
  for (bool puzzle : {false, true}) {
    Store(Block(1, 0, puzzle, 1));
    EXPECT_EQ(wide.RunFilter(PluginMain, false), klpResBadParameters) << puzzle;
    EXPECT_EQ(wide.Plane(0), plane);
  }
  ASSERT_EQ(wide.Call(PluginMain, klpSelectorFinish), 0);
}

namespace {

// Runs the writer of the user interface's RGBA result in place of the
// replay.
class UIWriter : public CPluginMain {
 public:
  CKLF_Image image;
  u8 i_ReplaySettings(CKLF_Mem&) override { return Apply_SplittingUI(&image); }
};

}  // namespace

TEST_F(ReplayRun, WriterOfTheComposedImage) {
  const i32 w = 30, h = 20;
  UIWriter plugin;
  UseObject(plugin);
  Store(Bytes(16, 0));
  ASSERT_EQ(plugin.image.Create(w, h, 2), 1);
  u8* p[5];
  u32 stride;
  ASSERT_EQ(plugin.image.GetImageChannels(p, stride), 4);
  for (int c = 0; c < 4; ++c)
    for (i32 i = 0; i < w * h; ++i) p[c][i] = static_cast<u8>(rng());
  const Bytes alpha(p[3], p[3] + w * h), red(p[0], p[0] + w * h);

  // Editable transparency: the four planes as they are.
  hosttest::RandomDocument(host, klpModeRGB, w, h, true, rng);
  std::vector<Bytes> out = Replay(Planes(host), hosttest::ObjectEntry::Entry);
  EXPECT_EQ(out[0], red);
  EXPECT_EQ(out[3], alpha);
  // Opaque: laid over the background colour.
  hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
  const u8 fore[4] = {0, 0, 0, 0}, back[4] = {255, 128, 0, 0};
  host.SetColours(fore, back);
  out = Replay(Planes(host), hosttest::ObjectEntry::Entry);
  for (i32 i = 0; i < w * h; ++i) ASSERT_EQ(out[0][i], (alpha[i] * red[i] + (255 - alpha[i]) * 255) / 255);
  // Only for RGB documents.
  hosttest::RandomDocument(host, klpModeGray, w, h, false, rng);
  const std::vector<Bytes> gray = Planes(host);
  EXPECT_EQ(Replay(gray, hosttest::ObjectEntry::Entry, klpResUserCanceled), gray);
  ASSERT_EQ(host.Call(hosttest::ObjectEntry::Entry, klpSelectorFinish), 0);
}

// The replay on one thread and on several gives the same planes: the cut
// with each knife, the default bevel, the bands moved and blended side by
// side. An opaque document without a selection (no alpha made for the thin
// knives) gives what a selection of the whole document gives.
TEST_F(ReplayRun, ThreadCountsGiveTheBytesOfOneThread) {
  const i32 w = 700, h = 420;
  hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
  for (size_t i = 0; i < host.Plane(0).size(); ++i)
    for (int c = 0; c < 3; ++c) host.Plane(c)[i] = static_cast<u8>(i % w / 3 + i / w / 2 + c * 50 + rng() % 8);
  const std::vector<Bytes> before = Planes(host);
  const struct {
    u8 thin, aa;
  } knives[] = {{1, 1}, {1, 0}, {0, 1}, {0, 0}};
  for (const auto& k : knives) {
    SCOPED_TRACE(testing::Message() << "thin " << int(k.thin) << " anti-aliased " << int(k.aa));
    klftest::BlockDesc d;
    d.H = 3;
    d.V = 4;
    d.puzzle = 1;
    d.thin = k.thin;
    d.aa = k.aa;
    d.knife = klftest::KnobKnife();
    Store(klftest::Block(d));
    std::vector<Bytes> out[3];
    for (int run = 0; run < 3; ++run) {
      host.SetThreads(run == 0 ? 1 : 4);
      ASSERT_TRUE(host.SetSelection(run == 2 ? Bytes(static_cast<size_t>(w) * h, 255) : Bytes()));
      out[run] = Replay(before);
    }
    ASSERT_NE(out[0], before);
    ASSERT_EQ(out[0], out[1]);
    ASSERT_EQ(out[0], out[2]);
  }
}
