#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "CChannelListModel.h"
#include "CKLF_Image.h"
#include "CKLF_Storage.h"
#include "CPreferences.h"
#include "PuzzleTestUtil.h"
#include "support/TestSupport.h"

namespace {

std::vector<int> Flags(const CPreferences& p) {
  return {p.onLoadZoom, p.delKnifeOpacity, p.alphaSolid, p.extAlphaSolid};
}

std::vector<int> Colours(const CPreferences& p) {
  std::vector<int> out;
  for (const kltRGBA8& c : {p.alphaColor1, p.alphaColor2, p.alphaColorSolid, p.extAlphaColor1, p.extAlphaColor2,
                            p.extAlphaColorSolid})
    out.insert(out.end(), {c.red, c.green, c.blue, c.alpha});
  return out;
}

std::string Text(u8 value) {
  CKLF_String s;
  EXPECT_TRUE(CPreferences::OpacityText(value, s));
  return s.GetStr();
}

std::string Leave(const char* typed) {
  CKLF_String s;
  EXPECT_TRUE(CPreferences::OpacityTextOnLeave(typed, s));
  return s.GetStr();
}

// A document of planes the test fills; names when given.
struct FakeSource : CChannelListModel::Source {
  FACTS facts = {1, 4, 1, 1, 0, 6, 4};
  std::vector<std::string> names;
  std::vector<std::vector<u8>> planes;  // by plane number; 255: the mask
  std::vector<int> reads;
  bool refuse = false;
  FACTS Facts() const override { return facts; }
  u32 NameCount() const override { return static_cast<u32>(names.size()); }
  const char* Name(u32 i) const override { return names[i].c_str(); }
  u8 ReadPlane(u8 plane, u8* map, u32) override { return Read(plane, map); }
  u8 ReadChannel(u8 channel, u8* map, u32) override { return Read(1000 + channel, map); }
  u8 Read(int which, u8* map) {
    reads.push_back(which);
    if (refuse) return 0;
    for (u32 i = 0; i < 24; ++i) map[i] = static_cast<u8>(which * 7 + i);
    return 1;
  }
};

std::vector<std::string> Items(const CChannelListModel& m) {
  std::vector<std::string> out;
  for (u32 i = 0; i < m.Count(); ++i) out.push_back(std::string(m.Item(i)) + "=" + std::to_string(m.Value(i)));
  return out;
}

}  // namespace

// Each record round-trips through the store; missing ones give the
// defaults; colours are 4-byte records in R, G, B, A order.
TEST(Preferences, RecordsRoundTrip) {
  klftest::TempDir dir;
  CKLF_Storage conf;
  ASSERT_EQ(conf.Open(dir.File("plugin.conf").c_str(), 2), 1);
  CPreferences d, r, unread;
  ASSERT_EQ(CPreferences::Read(&conf, d), 1);
  EXPECT_EQ(Flags(d), std::vector<int>({1, 70, 0, 0}));
  EXPECT_EQ(Colours(d), std::vector<int>({255, 255, 255, 255, 192, 192, 192, 255, 255, 255, 255, 255, 204, 204, 204,
                                          255, 200, 200, 200, 255, 200, 200, 200, 255}));
  CPreferences p = d;
  p.onLoadZoom = 0, p.delKnifeOpacity = 127, p.alphaSolid = 1, p.extAlphaSolid = 1;
  for (int s = 0; s < CPreferences::kSwatches; ++s)
    p.SwatchColour(static_cast<CPreferences::Swatch>(s)) = {static_cast<u8>(s), static_cast<u8>(10 + s),
                                                            static_cast<u8>(20 + s), static_cast<u8>(30 + s)};
  ASSERT_EQ(p.Write(&conf), 1);
  const std::vector<u8> padding(16384, 7);  // records beyond a read buffer
  ASSERT_EQ(conf.SetRecord("Padding", padding.data(), static_cast<u32>(padding.size())), 1);
  ASSERT_EQ(conf.Close(), 1);
  CKLF_Storage again;
  ASSERT_EQ(again.Open(dir.File("plugin.conf").c_str(), 1), 1);
  ASSERT_EQ(CPreferences::Read(&again, r), 1);
  EXPECT_EQ(Flags(r), Flags(p));
  EXPECT_EQ(Colours(r), Colours(p));
  u8 rgba[4];
  u32 n = 4;
  ASSERT_TRUE(again.GetRec("Preferences>ExtAlphaColor2", rgba, n));
  EXPECT_EQ(std::vector<int>(rgba, rgba + 4), std::vector<int>({4, 14, 24, 34}));
  ASSERT_EQ(CPreferences::Read(nullptr, r), 1);
  EXPECT_EQ(Flags(r), Flags(d));
  // A store that cannot be read (its file cut short under it) fails.
  CKLF_Storage cut;
  ASSERT_EQ(cut.Open(dir.File("plugin.conf").c_str(), 1), 1);
  ASSERT_EQ(truncate(dir.File("plugin.conf").c_str(), 40), 0);
  EXPECT_EQ(CPreferences::Read(&cut, unread), 0);
}

// The opacity line: what it shows and what typing stores.
TEST(Preferences, OpacityEditLine) {
  EXPECT_EQ(Text(50), "20");
  EXPECT_EQ(Text(127), "50");
  EXPECT_EQ(Text(25), "10");
  EXPECT_EQ(CPreferences::OpacityFromText("5"), 25);
  EXPECT_EQ(Leave("5"), "10");
  EXPECT_EQ(CPreferences::OpacityFromText("80"), 127);
  EXPECT_EQ(Leave("80"), "50");
  EXPECT_EQ(CPreferences::OpacityFromText("30"), 76);
  EXPECT_EQ(Leave("30"), "30");
  EXPECT_EQ(CPreferences::OpacityFromText(""), 25);
  // What is shown stores a value that shows the same.
  for (int v = 25; v <= 127; ++v) EXPECT_EQ(Text(CPreferences::OpacityFromText(Text(static_cast<u8>(v)).c_str())), Text(static_cast<u8>(v))) << v;
}

// A colour chosen for a swatch switches its group to the swatch's kind;
// the preview and the sample take the colours the choices make.
TEST(Preferences, SwatchesAndSample) {
  CPreferences p = CPreferences::Defaults();
  p.ChooseSwatchColour(CPreferences::kTSolid, {1, 2, 3, 255});
  EXPECT_EQ(std::vector<int>({p.alphaSolid, p.extAlphaSolid}), std::vector<int>({1, 0}));
  kltRGBA8 a, b;
  p.CheckerColours(a, b);
  EXPECT_EQ(std::vector<int>({a.red, b.green}), std::vector<int>({1, 2}));
  p.ChooseSwatchColour(CPreferences::kFCB2, {9, 9, 9, 255});
  EXPECT_EQ(p.extAlphaSolid, 0);
  p.ChooseSwatchColour(CPreferences::kTCB1, {7, 7, 7, 255});
  EXPECT_EQ(p.alphaSolid, 0);
  CKLF_Image sample;
  ASSERT_EQ(sample.Create(60, 50, 2), 1);
  ASSERT_EQ(p.DrawSample(sample), 1);
  const u8* red = sample.GetMemObj()->GetPtr();
  // Each checkerboard's first cell takes the second colour.
  EXPECT_EQ(red[0], p.extAlphaColor2.red);
  EXPECT_EQ(red[8], p.extAlphaColor1.red);
  EXPECT_EQ(red[22 * 60 + 22], p.alphaColor2.red);
  EXPECT_EQ(red[22 * 60 + 30], p.alphaColor1.red);
  EXPECT_EQ(red[22 * 60 + 59], p.extAlphaColor1.red);  // the last column stays outside
  EXPECT_EQ(red[28 * 60 + 22], p.extAlphaColor1.red);  // and so do the last 22 rows
}

// The list by what the host gives, and the map read for each item.
TEST(ChannelList, ListAndMaps) {
  FakeSource src;
  CChannelListModel m(src);
  ASSERT_EQ(m.Open(), 1);
  EXPECT_EQ(Items(m), std::vector<std::string>({"- Current Selection=-1", "Red=0", "Green=1", "Blue=2",
                                                "Layer Transparency=3"}));
  // The current selection without a host mask: all 255, nothing read.
  ASSERT_EQ(m.Select(0), 1);
  EXPECT_EQ(std::vector<u8>(m.Map(), m.Map() + 24), std::vector<u8>(24, 255));
  EXPECT_TRUE(src.reads.empty());
  ASSERT_EQ(m.Select(4), 1);
  EXPECT_EQ(m.Map()[5], 3 * 7 + 5);
  // A refused read leaves the map as it was.
  src.refuse = true;
  EXPECT_EQ(m.Select(2), 0);
  EXPECT_EQ(m.Map()[5], 3 * 7 + 5);
  EXPECT_FAILS(m, m.Select(5), klErrBadArg);
  src.refuse = false;
  src.facts.hostMask = 1;
  ASSERT_EQ(m.Open(), 1);
  ASSERT_EQ(m.Select(0), 1);
  EXPECT_EQ(src.reads.back(), 255);
  // Named channels: read by their numbers; a grey document without a
  // selection or names lists its one channel.
  src.names = {"Red", "Green", "Blue", "Spot"};
  ASSERT_EQ(m.Open(), 1);
  EXPECT_EQ(Items(m).back(), "Spot=3");
  ASSERT_EQ(m.Select(4), 1);
  EXPECT_EQ(src.reads.back(), 1003);
  src.names.clear();
  src.facts = {0, 1, 0, 0, 0, 6, 4};
  ASSERT_EQ(m.Open(), 1);
  EXPECT_EQ(Items(m), std::vector<std::string>({"Gray=0"}));
  // Only New without a selection to combine with.
  EXPECT_EQ(std::vector<int>({m.IsModeEnabled(0), m.IsModeEnabled(1), m.IsModeEnabled(3)}), std::vector<int>({1, 0, 0}));
  m.combineAllowed = 1;
  EXPECT_EQ(m.IsModeEnabled(2), 1);
}

// The preview: the map stretched by nearest neighbours, uncovered (0)
// where a pixel selects and covered (255) elsewhere.
TEST(ChannelList, PreviewAlpha) {
  FakeSource src;
  CChannelListModel m(src);
  ASSERT_EQ(m.Open(), 1);
  ASSERT_EQ(m.Select(1), 1);  // "Red": map[i] = i, all below 128
  std::vector<u8> alpha(12 * 8 + 3, 7);
  ASSERT_EQ(m.PreviewAlpha(alpha.data(), 12, 12, 8), 1);
  EXPECT_EQ(alpha[0], 0);
  EXPECT_EQ(alpha[11], 0);
  EXPECT_EQ(alpha[7 * 12 + 11], 0);
  m.invert = 1;
  ASSERT_EQ(m.PreviewAlpha(alpha.data(), 12, 12, 8), 1);
  EXPECT_EQ(alpha[7 * 12 + 11], 255);
  EXPECT_EQ(alpha[12 * 8], 7);  // past the rows: untouched
}

namespace {

// A colour document whose red plane is the given map.
struct MapSource : CChannelListModel::Source {
  std::vector<u8> map;
  u32 w = 0, h = 0;
  FACTS Facts() const override { return {1, 3, 0, 0, 0, w, h}; }
  u32 NameCount() const override { return 0; }
  const char* Name(u32) const override { return ""; }
  u8 ReadPlane(u8 plane, u8* out, u32) override {
    if (plane != 0) return 0;
    std::copy(map.begin(), map.end(), out);
    return 1;
  }
  u8 ReadChannel(u8, u8*, u32) override { return 0; }
};

}  // namespace

// What the preview shows as selected (uncovered) is what OK selects: on
// random maps of blocks around the threshold, a piece is selected by the
// map exactly when some pixel of it is uncovered in the preview, with
// invert and without.
TEST(ChannelList, PreviewShowsSelectedExactlyThePixelsThatSelectPieces) {
  puzzletest::Puzzle p(3, 2);
  const u32 w = 48, h = 32, n = p.engine.GetPieceCount();
  MapSource src;
  src.w = w, src.h = h;
  CChannelListModel m(src);
  std::mt19937 rng(11);
  const u8 values[] = {0, 60, 127, 128, 129, 200, 255};
  u32 selected = 0, unselected = 0;
  for (int round = 0; round < 24; ++round) {
    const u8 invert = round & 1;
    // A background value and a few 8 x 8 blocks of other values.
    src.map.assign(static_cast<size_t>(w) * h, values[rng() % 7]);
    for (int b = 0; b < 3; ++b) {
      const u32 bx = rng() % (w / 8) * 8, by = rng() % (h / 8) * 8;
      const u8 v = values[rng() % 7];
      for (u32 y = by; y < by + 8; ++y) std::fill_n(&src.map[y * w + bx], 8, v);
    }
    ASSERT_EQ(m.Open(), 1);
    ASSERT_EQ(m.Select(0), 1);
    m.invert = invert;
    std::vector<u8> alpha(static_cast<size_t>(w) * h);
    ASSERT_EQ(m.PreviewAlpha(alpha.data(), w, static_cast<u16>(w), static_cast<u16>(h)), 1);
    p.model.pmop_LoadSelection(CChannelListModel::kNew, invert, m.Map(), 0);
    const std::vector<u8> got = p.Selected();
    for (u32 i = 0; i < n; ++i) {
      // The piece's pixels: the selection map with it alone selected.
      p.model.pmop_Sel_SetSelectionToPiece(static_cast<i32>(i), 0, 0, 0);
      bool shown = false;
      for (size_t k = 0; k < alpha.size(); ++k) shown = shown || (p.model.selectionMap[k] && alpha[k] < 128);
      EXPECT_EQ(shown, got[i] != 0) << "round " << round << " piece " << i;
      (got[i] ? selected : unselected) += 1;
    }
  }
  EXPECT_GT(selected, 10u);
  EXPECT_GT(unselected, 10u);
}
