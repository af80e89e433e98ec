#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "HostTestSupport.h"
#include "KLF_PluginEntry.h"

namespace {

struct Fill {
  CPluginMain plugin;
  int16_t result = 0;
  u8 Run(CKLP_FilterHost& host) {
    plugin.SetHostPointers(&host.Record(), nullptr, &result);
    return plugin.FillPluginData();
  }
  const kltPLUGINDATA_s& Data() { return *plugin.GetPluginDataPtr(); }
};

TEST(PluginData, EveryFilterCaseGivesItsFlags) {
  // case: transparency, selection, editable
  const int expect[8][3] = {{0, 0, 0}, {0, 0, 0}, {0, 1, 0}, {1, 1, 1}, {1, 0, 1}, {1, 1, 1}, {1, 0, 0}, {1, 1, 0}};
  const int16_t modes[3] = {klpModeGray, klpModeRGB, klpModeCMYK};
  for (int m = 0; m < 3; ++m) {
    for (int16_t c = 1; c <= 7; ++c) {
      CKLP_FilterHost host;
      host.SetDocument(modes[m], 10, 10, true);
      host.ForceFilterCase(c);
      Fill f;
      ASSERT_TRUE(f.Run(host)) << c;
      EXPECT_EQ(f.Data().colorKind, m);
      EXPECT_EQ(f.Data().bits, 8);
      EXPECT_EQ(f.Data().transparency, expect[c][0]) << c;
      EXPECT_EQ(f.Data().selection, expect[c][1]) << c;
      EXPECT_EQ(f.Data().editableTransparency, expect[c][2]) << c;
      int colour = m == 0 ? 1 : m == 1 ? 3 : 4;
      EXPECT_EQ(f.Data().planes, colour + expect[c][0]) << c;
    }
  }
  // A gray document with case 4: two planes, editable transparency.
  CKLP_FilterHost host;
  host.SetDocument(klpModeGray, 10, 10, true);
  Fill f;
  ASSERT_TRUE(f.Run(host));
  EXPECT_EQ(host.Record().filterCase, klpCaseEditableTransparencyNoSelection);
  EXPECT_EQ(f.Data().planes, 2);
  EXPECT_EQ(f.Data().editableTransparency, 1);
}

TEST(PluginData, HostWithoutCasesAndOtherHosts) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 10, 10, false);
  std::vector<uint8_t> mask(100, 0);
  mask[55] = 200;
  ASSERT_TRUE(host.SetSelection(mask));
  host.ForceFilterCase(0);
  Fill f;
  ASSERT_TRUE(f.Run(host));
  EXPECT_EQ(f.Data().transparency, 0);
  EXPECT_EQ(f.Data().selection, 1);  // from haveMask
  EXPECT_EQ(f.Data().hostMask, 1);
  EXPECT_EQ(f.Data().planes, 3);

  // A host that is not the reference one reports transparency in the
  // mask fields; a flat case with them gains the plane.
  CKLP_FilterHost other;
  other.SetDocument(klpModeRGB, 10, 10, false);
  other.SetHostSignature(KLP_FOURCC('G', 'I', 'M', 'P'));
  other.ForceFilterCase(1);
  other.SetTransparencyMaskFields(1, 1);
  Fill g;
  ASSERT_TRUE(g.Run(other));
  EXPECT_EQ(g.Data().transparency, 1);
  EXPECT_EQ(g.Data().editableTransparency, 1);
  EXPECT_EQ(g.Data().planes, 4);

  // Writable transparency alone, without a plane to write, is ignored.
  CKLP_FilterHost third;
  third.SetDocument(klpModeRGB, 10, 10, false);
  third.SetHostSignature(KLP_FOURCC('G', 'I', 'M', 'P'));
  third.ForceFilterCase(1);
  third.SetTransparencyMaskFields(0, 1);
  Fill h;
  ASSERT_TRUE(h.Run(third));
  EXPECT_EQ(h.Data().transparency, 0);
  EXPECT_EQ(h.Data().editableTransparency, 0);
  EXPECT_EQ(h.Data().planes, 3);

  // The reference host's own fields are not second-guessed.
  CKLP_FilterHost ref;
  ref.SetDocument(klpModeRGB, 10, 10, false);
  ref.ForceFilterCase(1);
  ref.SetTransparencyMaskFields(1, 1);
  Fill k;
  ASSERT_TRUE(k.Run(ref));
  EXPECT_EQ(k.Data().transparency, 0);
}

TEST(PluginData, UnsupportedModesAndCasesFailWith48) {
  for (int mode : {int(klpModeBitmap), int(klpModeIndexed), int(klpModeHSL), int(klpModeLab), 99}) {
    CKLP_FilterHost host;
    host.SetDocument(static_cast<int16_t>(mode), 4, 4, false);
    Fill f;
    EXPECT_FALSE(f.Run(host));
    EXPECT_EQ(f.plugin.GetError(), klErrUnsupported);
  }
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 4, 4, false);
  host.ForceFilterCase(8);
  Fill f;
  EXPECT_FALSE(f.Run(host));
  EXPECT_EQ(f.plugin.GetError(), klErrUnsupported);
  CPluginMain none;
  EXPECT_FALSE(none.FillPluginData());
  EXPECT_EQ(none.GetError(), klErrBadArg);
}

TEST(PluginData, RectanglesBeyond32BitsAreBadParameters) {
  // Sizes and places in the document that no 32-bit field holds.
  const KLP_Rect32 rects[] = {{INT32_MIN, 0, INT32_MAX, 1}, {0, INT32_MIN, 1, INT32_MAX}, {INT32_MAX, 0, INT32_MIN, 1}};
  for (const KLP_Rect32& r : rects) {
    CKLP_FilterHost host;
    host.SetDocument(klpModeRGB, 4, 4, false);
    host.SetFilterRect(r);
    Fill f;
    EXPECT_FALSE(f.Run(host));
    EXPECT_EQ(f.plugin.GetError(), klErrBadArg);
    EXPECT_EQ(host.Call(PluginMain, klpSelectorStart), klpResBadParameters);
  }
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 4, 4, false);
  host.SetFilterRect({INT32_MAX - 2, 0, INT32_MAX, 2});
  host.SetPlacement(100, 100, 5, 0);
  Fill f;
  EXPECT_FALSE(f.Run(host));
  EXPECT_EQ(f.plugin.GetError(), klErrBadArg);
  // At the edge but inside: accepted.
  host.SetPlacement(0, 0, 0, 0);
  host.ResetRun();
  Fill g;
  ASSERT_TRUE(g.Run(host));
  EXPECT_EQ(g.Data().filterArea.right, INT32_MAX);
}

TEST(PluginData, ResolutionColoursAndRulerUnits) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeCMYK, 4, 4, false);
  host.SetResolution(0, 150.5);
  const uint8_t fore[4] = {1, 2, 3, 4}, back[4] = {9, 8, 7, 6};
  host.SetColours(fore, back);
  host.SetRulerUnits(6);
  Fill f;
  ASSERT_TRUE(f.Run(host));
  EXPECT_DOUBLE_EQ(f.Data().resolutionH, 150.5);
  EXPECT_DOUBLE_EQ(f.Data().resolutionV, 150.5);
  EXPECT_EQ(0, std::memcmp(f.Data().foreColor, fore, 4));
  EXPECT_EQ(0, std::memcmp(f.Data().backColor, back, 4));
  EXPECT_EQ(f.Data().rulerUnits, 4);

  const int units[][2] = {{0, 0}, {1, 1}, {3, 3}, {4, 0}, {5, 0}, {7, 0}, {-1, 0}};
  for (auto& u : units) {
    host.SetRulerUnits(u[0]);
    host.SetResolution(96, 0);
    host.ResetRun();
    Fill g;
    ASSERT_TRUE(g.Run(host));
    EXPECT_EQ(g.Data().rulerUnits, u[1]) << u[0];
    EXPECT_DOUBLE_EQ(g.Data().resolutionV, 96);
  }
  host.GetServices().propertyProcs = false;
  host.SetRulerUnits(2);
  host.ResetRun();
  Fill h;
  ASSERT_TRUE(h.Run(host));
  EXPECT_EQ(h.Data().rulerUnits, 0);
  EXPECT_EQ(h.Data().channelNamesGiven, 0);
}

TEST(PluginData, ChannelNamesFromTheHostOrNumbered) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 4, 4, false);
  host.SetChannelNames({"Red", "Green", "Blue", "Spot"}, true);
  Fill f;
  ASSERT_TRUE(f.Run(host));
  EXPECT_EQ(f.Data().channelNamesGiven, 1);
  EXPECT_EQ(f.Data().channelCount, 4);
  CKLF_StringArray& names = f.plugin.GetChannelNames();
  ASSERT_EQ(names.GetSize(), 4u);
  EXPECT_STREQ(names[0].GetStr(), "Red");
  EXPECT_STREQ(names[3].GetStr(), "Spot");
  EXPECT_EQ(host.LiveHandles(), 0);  // every name handle was disposed
  EXPECT_EQ(host.LockedHandles(), 0);

  host.SetChannelNames({"a", "b", "c"}, false);
  host.ResetRun();
  Fill g;
  ASSERT_TRUE(g.Run(host));
  ASSERT_EQ(g.plugin.GetChannelNames().GetSize(), 3u);
  EXPECT_STREQ(g.plugin.GetChannelNames()[0].GetStr(), "Channel 1");
  EXPECT_STREQ(g.plugin.GetChannelNames()[2].GetStr(), "Channel 3");

  // Without absolute channel indexing no names are asked for.
  host.GetServices().supportsAbsolute = false;
  host.ResetRun();
  Fill h;
  ASSERT_TRUE(h.Run(host));
  EXPECT_EQ(h.Data().channelNamesGiven, 0);
  EXPECT_EQ(h.plugin.GetChannelNames().GetSize(), 0u);
}

TEST(PluginData, IccProfileIsCopied) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 4, 4, false);
  std::vector<uint8_t> icc(3000);
  for (size_t i = 0; i < icc.size(); ++i) icc[i] = static_cast<uint8_t>(i * 7);
  host.SetICCProfile(icc);
  Fill f;
  ASSERT_TRUE(f.Run(host));
  ASSERT_EQ(f.Data().iccProfileSize, icc.size());
  ASSERT_NE(f.Data().iccProfile, nullptr);
  EXPECT_EQ(0, std::memcmp(f.Data().iccProfile, icc.data(), icc.size()));
  EXPECT_EQ(host.LockedHandles(), 0);

  // A size field larger than the handle is not believed.
  host.Record().iCCprofileSize = 100000;
  Fill g;
  ASSERT_TRUE(g.Run(host));
  EXPECT_EQ(g.Data().iccProfileSize, icc.size());
}

TEST(PluginData, FilterAreaKeepsTheSelectionsPlaceInTheDocument) {
  CKLP_FilterHost host;
  host.SetDocument(klpModeRGB, 100, 80, false);
  std::vector<uint8_t> mask(100 * 80, 0);
  for (int y = 30; y < 50; ++y)
    for (int x = 20; x < 60; ++x) mask[y * 100 + x] = 255;
  ASSERT_TRUE(host.SetSelection(mask));
  host.SetPlacement(400, 300, 7, 11);
  Fill f;
  ASSERT_TRUE(f.Run(host));
  const kltPLUGINDATA_s& d = f.Data();
  EXPECT_EQ(d.filterRect.left, 20);
  EXPECT_EQ(d.filterRect.top, 30);
  EXPECT_EQ(d.filterRect.right, 60);
  EXPECT_EQ(d.filterRect.bottom, 50);
  EXPECT_EQ(d.wholeSize.horizontal, 400);
  EXPECT_EQ(d.imageSize.horizontal, 100);
  EXPECT_EQ(d.origin.x, 7);
  EXPECT_EQ(d.origin.y, 11);
  // The same pixels the plane reads see, placed in the document.
  EXPECT_EQ(d.filterArea.left, 27);
  EXPECT_EQ(d.filterArea.top, 41);
  EXPECT_EQ(d.filterArea.right, 67);
  EXPECT_EQ(d.filterArea.bottom, 61);

  // A host that gives no document size: the image is the document.
  host.SetPlacement(0, 0, 0, 0);
  host.ResetRun();
  host.Record().wholeSize = {0, 0};
  Fill g;
  ASSERT_TRUE(g.Run(host));
  EXPECT_EQ(g.Data().wholeSize.horizontal, 100);
  EXPECT_EQ(g.Data().wholeSize.vertical, 80);
  EXPECT_EQ(g.Data().filterArea.left, 20);
  EXPECT_EQ(g.Data().filterArea.bottom, 50);
}

}  // namespace
