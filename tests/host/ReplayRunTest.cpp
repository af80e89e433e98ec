// The replay through the entry: a settings block in "last.data" beside the
// plug-in, the engine's cut and rendering, and the writers' results in the
// in-memory host's planes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "CKLF_Image.h"
#include "CTessaretteRecordCodec.h"
#include "HostTestSupport.h"
#include "KLF_PluginEntry.h"
#include "support/TestSupport.h"

namespace {

typedef std::vector<u8> Bytes;

void Be16(Bytes& b, u32 v) {
  b.push_back(static_cast<u8>(v >> 8));
  b.push_back(static_cast<u8>(v));
}
void Be32(Bytes& b, u32 v) {
  Be16(b, v >> 16);
  Be16(b, v & 0xFFFF);
}
void BeF(Bytes& b, f32 f) {
  u32 v;
  std::memcpy(&v, &f, 4);
  Be32(b, v);
}

// A settings block of an even grid (V vertical, H horizontal lines) whose
// knives are all the default knob; Puzzle mode carries the records.
Bytes Block(u32 V, u32 H, bool puzzle, u8 thin, u8 aa, const Bytes& records = Bytes()) {
  const f32 u[5] = {0.434f, 0.3515f, 0.5f, 0.6485f, 0.566f};
  const f32 h[5] = {0.0f, -0.165f, -0.297f, -0.165f, 0.0f};
  Bytes b = {static_cast<u8>(puzzle), static_cast<u8>(puzzle)};
  Be16(b, H);
  Be16(b, V);
  Be32(b, 0);
  for (u32 i = 0; i < H; ++i) BeF(b, (i + 1.0f) / (H + 1.0f));
  for (u32 i = 0; i < V; ++i) BeF(b, (i + 1.0f) / (V + 1.0f));
  Be32(b, (V + 2) * (H + 2));
  b.resize(b.size() + 8 * (V + 2) * (H + 2), 0);
  const u32 lists[2] = {V * (H + 1), (V + 1) * H};
  for (u32 n : lists) {
    Be32(b, n);
    for (u32 i = 0; i < n; ++i) {
      b.push_back(static_cast<u8>(i % 3 == 1 ? 1 : 0));  // every third knife flipped
      Be16(b, 5);
      b.push_back(100);
      b.push_back(3);
      for (f32 v : u) BeF(b, v);
      for (f32 v : h) BeF(b, v);
      for (int j = 0; j < 5; ++j) BeF(b, 0.5f);
    }
  }
  Be32(b, 0);
  b.push_back(thin);
  b.push_back(aa);
  if (puzzle) {
    Be32(b, static_cast<u32>(records.size() / 92));
    b.insert(b.end(), records.begin(), records.end());
  }
  return b;
}

class ReplayRun : public ::testing::Test {
 protected:
  void SetUp() override { KLF_SetPluginFolderOverride(dir.Path().c_str()); }
  void TearDown() override {
    host.Call(PluginMain, klpSelectorFinish);
    KLF_SetPluginFolderOverride(nullptr);
  }
  void Store(const Bytes& block) { ASSERT_TRUE(klftest::WriteFileBytes(dir.File("last.data"), block)); }
  std::vector<Bytes> Planes() const {
    std::vector<Bytes> p;
    for (int i = 0; i < host.PlaneCount(); ++i) p.push_back(host.Plane(i));
    return p;
  }
  void SetPlanes(const std::vector<Bytes>& p) {
    for (int i = 0; i < host.PlaneCount(); ++i) host.Plane(i) = p[static_cast<size_t>(i)];
  }
  // The knife mask the engine draws for a block over w x h.
  static Bytes KnifeMask(const Bytes& block, i32 w, i32 h) {
    CTessarette e;
    CKLF_Mem mem(static_cast<u32>(block.size()));
    std::memcpy(mem.GetPtr(), block.data(), block.size());
    u8 layout;
    u32 count;
    const u8* rec;
    EXPECT_EQ(e.InitFromLastSettingsBinary(&mem, layout, count, rec), 1);
    Bytes mask(static_cast<size_t>(w) * h);
    EXPECT_EQ(e.DrawSplitting(w, h, mask.data(), static_cast<u32>(w), 0, 100), 1);
    return mask;
  }
  // Records with every effect off, one for each piece of the cut the
  // replay makes of an opaque w x h document, in the pieces' order.
  static Bytes PlainRecords(const Bytes& block, i32 w, i32 h, u8 planes) {
    CTessarette e;
    CKLF_Mem mem(static_cast<u32>(block.size()));
    std::memcpy(mem.GetPtr(), block.data(), block.size());
    u8 layout;
    u32 count;
    const u8* rec;
    EXPECT_EQ(e.InitFromLastSettingsBinary(&mem, layout, count, rec), 1);
    std::vector<Bytes> data(planes, Bytes(static_cast<size_t>(w) * h, 0));
    u8* p[4];
    for (u8 i = 0; i < planes; ++i) p[i] = data[i].data();
    Bytes alpha(static_cast<size_t>(w) * h, 255);
    EXPECT_EQ(e.SplitCells(w, h, alpha.data(), static_cast<u32>(w), p, static_cast<u32>(w), planes, 0, 100, 0), 1);
    Bytes out(92 * e.GetPieceCount(), 0);
    for (u32 i = 0; i < e.GetPieceCount(); ++i) {
      CTessarette::SFX_ONEPIECE r;
      EXPECT_EQ(e.PieceToRecord(i, r), 1);
      r.bevel.enabled = 0;
      CTessaretteRecordCodec::Encode(r, &out[92 * i]);
    }
    return out;
  }

  klftest::TempDir dir;
  CKLP_FilterHost host;
};

}  // namespace

TEST_F(ReplayRun, LayoutModeDrawsTheKnives) {
  std::mt19937 rng(3);
  const i32 w = 90, h = 60;
  const Bytes block = Block(2, 1, false, 0, 1);
  const Bytes mask = KnifeMask(block, w, h);
  ASSERT_GT(std::count(mask.begin(), mask.end(), 255), 200);
  Store(block);

  // Gray, opaque: the knives in the foreground gray over the background.
  hosttest::RandomDocument(host, klpModeGray, w, h, false, rng);
  const u8 fore[4] = {20, 0, 0, 0}, back[4] = {230, 0, 0, 0};
  host.SetColours(fore, back);
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  for (size_t i = 0; i < mask.size(); ++i)
    ASSERT_EQ(host.Plane(0)[i], (20 * mask[i] + (255 - mask[i]) * 230) / 255) << i;

  // RGB with editable transparency: the knives are the transparency, the
  // colours the foreground.
  hosttest::RandomDocument(host, klpModeRGB, w, h, true, rng);
  host.Plane(3).assign(static_cast<size_t>(w) * h, 255);
  const u8 red[4] = {200, 10, 30, 0};
  host.SetColours(red, back);
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  EXPECT_EQ(host.Plane(3), mask);
  EXPECT_EQ(host.Plane(0), Bytes(mask.size(), 200));
  EXPECT_EQ(host.Plane(2), Bytes(mask.size(), 30));

  // CMYK with locked transparency: colours over the background, the
  // transparency left alone.
  hosttest::RandomDocument(host, klpModeCMYK, w, h, true, rng);
  host.Plane(4).assign(static_cast<size_t>(w) * h, 255);
  host.LockTransparency(true);
  const u8 cf[4] = {0, 255, 255, 0}, cb[4] = {10, 20, 30, 40};
  host.SetColours(cf, cb);
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  for (int c = 0; c < 4; ++c)
    for (size_t i = 0; i < mask.size(); i += 7)
      ASSERT_EQ(host.Plane(c)[i], (cf[c] * mask[i] + (255 - mask[i]) * cb[c]) / 255);
  EXPECT_EQ(host.Plane(4), Bytes(mask.size(), 255));
}

TEST_F(ReplayRun, PuzzleModeWithoutEffectsGivesTheDocumentBack) {
  std::mt19937 rng(5);
  const i32 w = 96, h = 64;
  for (u8 thin : {0, 1}) {
    const Bytes layout = Block(3, 2, true, thin, 1);
    const Bytes records = PlainRecords(layout, w, h, 3);
    ASSERT_GE(records.size() / 92, 12u);
    Store(Block(3, 2, true, thin, 1, records));
    hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
    const std::vector<Bytes> before = Planes();
    ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
    if (thin) {
      EXPECT_EQ(Planes(), before);
    } else {
      // A thick knife is a piece of its own whose anti-aliased inner
      // pixels may stay partly covered: those are laid over the background.
      // Everything off the knives comes back.
      const Bytes mask = KnifeMask(layout, w, h);
      for (int c = 0; c < 3; ++c)
        for (size_t i = 0; i < mask.size(); ++i)
          if (!mask[i]) {
            ASSERT_EQ(host.Plane(c)[i], before[static_cast<size_t>(c)][i]) << i;
          }
    }

    // The same records in another order are matched by row and column;
    // records for rows or columns of 100 and more are ignored.
    if (thin) {
      std::vector<Bytes> shuffled;
      for (size_t i = 0; i < records.size(); i += 92)
        shuffled.emplace_back(records.begin() + static_cast<long>(i), records.begin() + static_cast<long>(i) + 92);
      std::reverse(shuffled.begin(), shuffled.end());
      CTessarette::SFX_ONEPIECE far;
      ASSERT_EQ(CTessaretteRecordCodec::Decode(shuffled[0].data(), 92, far), 1);
      far.row = 150;
      far.colorOverlay.enabled = 1;
      far.colorOverlay.opacity = 255;
      Bytes farBytes(92, 0);
      CTessaretteRecordCodec::Encode(far, farBytes.data());
      shuffled.push_back(farBytes);
      Bytes joined;
      for (auto& r : shuffled) joined.insert(joined.end(), r.begin(), r.end());
      Store(Block(3, 2, true, thin, 1, joined));
      SetPlanes(before);
      ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
      EXPECT_EQ(Planes(), before);
    }
  }

  // With editable transparency the colours and the transparency come back
  // too (the alpha is limited by the document's own transparency).
  const Bytes layout = Block(2, 2, true, 1, 1);
  hosttest::RandomDocument(host, klpModeGray, w, h, true, rng);
  for (size_t i = 0; i < host.Plane(1).size(); ++i) host.Plane(1)[i] = i % 97 == 0 ? 0 : (i % 5 == 0 ? 120 : 255);
  Store(Block(2, 2, true, 1, 1, PlainRecords(layout, w, h, 1)));
  const std::vector<Bytes> before = Planes();
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  EXPECT_EQ(Planes(), before);
}

TEST_F(ReplayRun, ALaterRecordOfTheSameCellWins) {
  std::mt19937 rng(23);
  const i32 w = 96, h = 64;
  const Bytes layout = Block(3, 2, true, 1, 1);
  const Bytes plain = PlainRecords(layout, w, h, 3);
  CTessarette::SFX_ONEPIECE first;
  ASSERT_EQ(CTessaretteRecordCodec::Decode(plain.data(), 92, first), 1);
  first.colorOverlay.enabled = 1;
  first.colorOverlay.opacity = 255;
  const u8 colour[8] = {0, 10, 200, 30, 0, 0, 0, 0};
  std::memcpy(first.colorOverlay.color, colour, 8);
  Bytes overlay(92, 0);
  CTessaretteRecordCodec::Encode(first, overlay.data());
  hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
  const std::vector<Bytes> before = Planes();

  // Every piece's own record, then the first cell again with an overlay.
  Bytes records = plain;
  records.insert(records.end(), overlay.begin(), overlay.end());
  Store(Block(3, 2, true, 1, 1, records));
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  size_t painted = 0;
  for (size_t i = 0; i < host.Plane(0).size(); ++i)
    painted += host.Plane(0)[i] == 10 && host.Plane(1)[i] == 200 && host.Plane(2)[i] == 30;
  EXPECT_GT(painted, static_cast<size_t>(w * h / 40));

  // The overlay first, the plain record after it: the plain one wins.
  records = overlay;
  records.insert(records.end(), plain.begin(), plain.end());
  Store(Block(3, 2, true, 1, 1, records));
  SetPlanes(before);
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  EXPECT_EQ(Planes(), before);
}

TEST_F(ReplayRun, ImageOverlaysReadDocumentLayers) {
  // Every piece inverted, then overlaid at full opacity with an opaque
  // layer: the puzzle is that layer. After the invert the overlay lands in
  // the engine's work image, whose rows have the widest piece's stride.
  const i32 w = 96, h = 64;
  const Bytes layout = Block(3, 2, true, 1, 1);
  Bytes records = PlainRecords(layout, w, h, 3);
  for (size_t i = 0; i < records.size(); i += 92) {
    CTessarette::SFX_ONEPIECE r;
    ASSERT_EQ(CTessaretteRecordCodec::Decode(&records[i], 92, r), 1);
    r.imageOverlay.enabled = 1;
    r.imageOverlay.opacity = 255;
    r.imageOverlay.sourceMode = 1;
    r.imageOverlay.layerId = 12;
    r.invert = 1;
    CTessaretteRecordCodec::Encode(r, &records[i]);
  }
  Store(Block(3, 2, true, 1, 1, records));
  std::mt19937 rng(17);
  hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
  CKLP_FilterHost::Layer paper;
  paper.id = 12;
  paper.name = "paper";
  paper.bounds = {0, 0, w, h};
  for (int c = 0; c < 3; ++c) {
    paper.planes.emplace_back(static_cast<size_t>(w) * h);
    for (i32 i = 0; i < w * h; ++i) paper.planes[c][i] = static_cast<u8>((i % w) * 3 + (i / w) * 5 + c * 40);
  }
  host.AddLayer(paper);
  host.SetMergedComposite(Planes(), Bytes());
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(host.Plane(c), paper.planes[c]) << c;

  // A layer that is not there leaves the pieces inverted only.
  for (size_t i = 0; i < records.size(); i += 92) {
    CTessarette::SFX_ONEPIECE r;
    ASSERT_EQ(CTessaretteRecordCodec::Decode(&records[i], 92, r), 1);
    r.imageOverlay.layerId = 99;
    CTessaretteRecordCodec::Encode(r, &records[i]);
  }
  Store(Block(3, 2, true, 1, 1, records));
  hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
  std::vector<Bytes> inverted = Planes();
  for (auto& p : inverted)
    for (auto& v : p) v = static_cast<u8>(255 - v);
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  EXPECT_EQ(Planes(), inverted);
}

TEST_F(ReplayRun, DefaultEffectsAndRepeatedRuns) {
  std::mt19937 rng(9);
  const i32 w = 80, h = 50;
  Store(Block(2, 1, true, 1, 1));  // Puzzle mode, no records: default bevel
  hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
  const std::vector<Bytes> before = Planes();
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  const std::vector<Bytes> first = Planes();
  EXPECT_NE(first, before);

  // A second replay in the same loaded plug-in gives the same result, and
  // so does a run on a fresh plug-in object.
  SetPlanes(before);
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  EXPECT_EQ(Planes(), first);
  CPluginMain fresh;
  hosttest::ObjectEntry::target = &fresh;
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  hosttest::ObjectEntry::folder = folder;
  SetPlanes(before);
  ASSERT_EQ(host.RunFilter(hosttest::ObjectEntry::Entry, false), klpResNoErr);
  EXPECT_EQ(Planes(), first);

  // A Layout-mode replay after the puzzle, then the puzzle again.
  Store(Block(2, 1, false, 1, 1));
  SetPlanes(before);
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  Store(Block(2, 1, true, 1, 1));
  SetPlanes(before);
  ASSERT_EQ(host.RunFilter(PluginMain, false), klpResNoErr);
  EXPECT_EQ(Planes(), first);
}

TEST_F(ReplayRun, FailuresLeaveTheDocument) {
  std::mt19937 rng(11);
  hosttest::RandomDocument(host, klpModeRGB, 64, 48, false, rng);
  const std::vector<Bytes> before = Planes();

  // Cancel during the cut.
  Store(Block(3, 3, true, 1, 1));
  for (int64_t polls : {0, 1, 5, 20}) {
    host.CancelAfterPolls(polls);
    EXPECT_EQ(host.RunFilter(PluginMain, false), klpResUserCanceled) << polls;
    EXPECT_EQ(Planes(), before) << polls;
  }
  host.CancelAfterPolls(-1);

  // A block the engine refuses: 101 lines.
  Store(Block(0, 101, false, 1, 1));
  EXPECT_EQ(host.RunFilter(PluginMain, false), klpResUserCanceled);
  EXPECT_EQ(Planes(), before);
  // A piece count that runs past the block.
  Bytes b = Block(1, 1, true, 1, 1);
  b[b.size() - 1] = 1;
  Store(b);
  EXPECT_EQ(host.RunFilter(PluginMain, false), klpResUserCanceled);
  EXPECT_EQ(Planes(), before);

  // A filter rectangle wider than the engine handles: bad parameters.
  CKLP_FilterHost wide;
  wide.SetDocument(klpModeGray, 70000, 2, false);
  Bytes plane = wide.Plane(0);
  for (bool puzzle : {false, true}) {
    Store(Block(1, 0, puzzle, 1, 1));
    EXPECT_EQ(wide.RunFilter(PluginMain, false), klpResBadParameters) << puzzle;
    EXPECT_EQ(wide.Plane(0), plane);
  }
  wide.Call(PluginMain, klpSelectorFinish);
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
  std::mt19937 rng(13);
  const i32 w = 30, h = 20;
  UIWriter plugin;
  hosttest::ObjectEntry::target = &plugin;
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  hosttest::ObjectEntry::folder = folder;
  Store(Bytes(16, 0));
  ASSERT_EQ(plugin.image.Create(w, h, 2), 1);
  u8* p[5];
  u32 stride;
  ASSERT_EQ(plugin.image.GetImageChannels(p, stride), 4);
  for (int c = 0; c < 4; ++c)
    for (i32 i = 0; i < w * h; ++i) p[c][i] = static_cast<u8>(rng());
  Bytes alpha(p[3], p[3] + w * h), red(p[0], p[0] + w * h);

  // Opaque RGB: laid over the background colour.
  hosttest::RandomDocument(host, klpModeRGB, w, h, false, rng);
  const u8 fore[4] = {0, 0, 0, 0}, back[4] = {255, 128, 0, 0};
  host.SetColours(fore, back);
  ASSERT_EQ(host.RunFilter(hosttest::ObjectEntry::Entry, false), klpResNoErr);
  for (i32 i = 0; i < w * h; ++i) ASSERT_EQ(host.Plane(0)[i], (alpha[i] * red[i] + (255 - alpha[i]) * 255) / 255);

  // Editable transparency: the four planes as they are.
  ASSERT_EQ(plugin.image.GetImageChannels(p, stride), 4);
  std::memcpy(p[0], red.data(), red.size());
  hosttest::RandomDocument(host, klpModeRGB, w, h, true, rng);
  host.Plane(3).assign(static_cast<size_t>(w) * h, 255);
  ASSERT_EQ(host.RunFilter(hosttest::ObjectEntry::Entry, false), klpResNoErr);
  EXPECT_EQ(host.Plane(0), red);
  EXPECT_EQ(host.Plane(3), alpha);

  // Only for RGB documents.
  hosttest::RandomDocument(host, klpModeGray, w, h, false, rng);
  Bytes gray = host.Plane(0);
  EXPECT_EQ(host.RunFilter(hosttest::ObjectEntry::Entry, false), klpResUserCanceled);
  EXPECT_EQ(host.Plane(0), gray);
  host.Call(hosttest::ObjectEntry::Entry, klpSelectorFinish);
}
