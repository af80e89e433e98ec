#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "HostTestSupport.h"
#include "KLF_PluginEntry.h"
#include "support/TestSupport.h"

namespace {

using Bound = hosttest::Bound<>;

std::vector<int> Flags(const kltPLUGINDATA_s& d) {
  return {d.transparency, d.selection, d.editableTransparency, d.planes};
}

TEST(PluginData, FilterCasesGiveTheirFlags) {
  // transparency, selection, editable for cases 1..7
  const int expect[8][3] = {{0, 0, 0}, {0, 0, 0}, {0, 1, 0}, {1, 1, 1}, {1, 0, 1}, {1, 1, 1}, {1, 0, 0}, {1, 1, 0}};
  const int16_t modes[3] = {klpModeGray, klpModeRGB, klpModeCMYK};
  const int colours[3] = {1, 3, 4};
  for (int m = 0; m < 3; ++m)
    for (int16_t c = 1; c <= 7; ++c) {
      CKLT_FilterHost host;
      ASSERT_TRUE(host.SetDocument(modes[m], 10, 10, true));
      host.ForceFilterCase(c);
      Bound b(host);
      ASSERT_TRUE(b.plugin.FillPluginData()) << c;
      EXPECT_EQ(b.plugin.GetPluginDataPtr()->colorKind, m);
      const int* e = expect[c];
      EXPECT_EQ(Flags(*b.plugin.GetPluginDataPtr()), (std::vector<int>{e[0], e[1], e[2], colours[m] + e[0]}))
          << m << " case " << c;
    }

  // No case given: the selection from haveMask. A host that is not the
  // reference one reports transparency in the mask fields instead.
  const struct {
    uint32_t sig;
    int16_t filterCase, inMask, outMask;
    bool selection;
    std::vector<int> flags;
  } rows[] = {
      {KLP_SIG_8BIM, 0, 0, 0, true, {0, 1, 0, 3}},
      {KLP_FOURCC('G', 'I', 'M', 'P'), 1, 1, 1, false, {1, 0, 1, 4}},
      {KLP_FOURCC('G', 'I', 'M', 'P'), 1, 0, 1, false, {0, 0, 0, 3}},  // writable without a plane
      {KLP_SIG_8BIM, 1, 1, 1, false, {0, 0, 0, 3}},                    // its own fields are believed
  };
  for (const auto& row : rows) {
    CKLT_FilterHost host;
    ASSERT_TRUE(host.SetDocument(klpModeRGB, 10, 10, false));
    hosttest::Bytes mask(100, 0);
    mask[55] = 200;
    if (row.selection) {
      ASSERT_TRUE(host.SetSelection(mask));
    }
    host.ForceFilterCase(row.filterCase);
    host.SetHostSignature(row.sig);
    host.SetTransparencyMaskFields(row.inMask, row.outMask);
    Bound b(host);
    ASSERT_TRUE(b.plugin.FillPluginData());
    EXPECT_EQ(Flags(*b.plugin.GetPluginDataPtr()), row.flags) << row.filterCase << " " << row.inMask;
    EXPECT_EQ(b.plugin.GetPluginDataPtr()->hostMask, row.selection ? 1 : 0);
  }
}

TEST(PluginData, FilterAreaPlacesTheRectangleInTheDocument) {
  const struct {
    KLP_Rect32 rect;
    int32_t whole, x, y;  // the document around the 100 x 80 image (0: none given)
    std::vector<int> area;  // empty: bad parameters
  } rows[] = {
      {{20, 30, 60, 50}, 400, 7, 11, {27, 41, 67, 61}},
      {{20, 30, 60, 50}, 0, 0, 0, {20, 30, 60, 50}},
      {{INT32_MAX - 2, 0, INT32_MAX, 2}, 100, 0, 0, {INT32_MAX - 2, 0, INT32_MAX, 2}},  // at the edge
      // Sizes and places in the document that no 32-bit field holds.
      {{INT32_MIN, 0, INT32_MAX, 1}, 100, 0, 0, {}},
      {{0, INT32_MIN, 1, INT32_MAX}, 100, 0, 0, {}},
      {{INT32_MAX, 0, INT32_MIN, 1}, 100, 0, 0, {}},
      {{INT32_MAX - 2, 0, INT32_MAX, 2}, 100, 5, 0, {}},
      {{INT32_MAX - 4, 0, INT32_MAX - 2, 2}, 100, 3, 0, {}},
  };
  for (const auto& row : rows) {
    CKLT_FilterHost host;
    ASSERT_TRUE(host.SetDocument(klpModeRGB, 100, 80, false));
    host.SetFilterRect(row.rect);
    host.SetPlacement(row.whole, row.whole, row.x, row.y);
    if (!row.whole) host.Record().wholeSize = {0, 0};  // the image is the document
    Bound b(host);
    const kltPLUGINDATA_s& d = *b.plugin.GetPluginDataPtr();
    ASSERT_EQ(b.plugin.FillPluginData(), !row.area.empty()) << row.rect.left;
    if (row.area.empty()) {
      EXPECT_EQ(b.plugin.GetError(), klErrBadArg);
      EXPECT_EQ(host.Call(PluginMain, klpSelectorStart), klpResBadParameters);
      continue;
    }
    EXPECT_EQ(std::vector<int>({d.filterArea.left, d.filterArea.top, d.filterArea.right, d.filterArea.bottom}),
              row.area);
    EXPECT_EQ(d.wholeSize.horizontal, row.whole ? row.whole : 100);
    EXPECT_EQ(d.imageSize.vertical, 80);
  }
}

TEST(PluginData, ResolutionRulerUnitsChannelNamesAndProfile) {
  CKLT_FilterHost host;
  ASSERT_TRUE(host.SetDocument(klpModeCMYK, 4, 4, false));
  host.SetResolution(0, 150.5);
  Bound b(host);
  const kltPLUGINDATA_s& d = *b.plugin.GetPluginDataPtr();
  // The host's units to ours (-1: the host does not answer).
  const int units[][2] = {{0, 0}, {1, 1}, {3, 3}, {4, 0}, {6, 4}, {7, 0}, {-1, 0}};
  for (auto& u : units) {
    host.SetRulerUnits(u[0]);
    ASSERT_TRUE(b.Fill(host));
    EXPECT_EQ(d.rulerUnits, u[1]) << u[0];
  }
  EXPECT_DOUBLE_EQ(d.resolutionH, 150.5);  // one resolution stands for both

  // Names from the host, or numbered; the profile copied, its size field
  // not believed beyond the handle; every handle given back.
  std::mt19937 rng(5);
  const hosttest::Bytes icc = klftest::RandomBytes(rng, 3000);
  host.SetICCProfile(icc);
  for (bool answer : {true, false}) {
    host.SetChannelNames({"Red", "Green", "Blue", "Spot"}, answer);
    ASSERT_TRUE(b.Fill(host));
    host.Record().iCCprofileSize = 100000;
    b.Bind(host);
    ASSERT_TRUE(b.plugin.FillPluginData());
    ASSERT_EQ(b.plugin.GetChannelNames().GetSize(), 4u);
    EXPECT_STREQ(b.plugin.GetChannelNames()[3].GetStr(), answer ? "Spot" : "Channel 4");
    EXPECT_EQ(hosttest::Bytes(d.iccProfile, d.iccProfile + d.iccProfileSize), icc);
    EXPECT_EQ(host.LiveHandles() + host.LockedHandles(), 0);
  }
  // Without absolute indexing no names; without property callbacks no units.
  host.GetServices().supportsAbsolute = false;
  host.SetRulerUnits(2);
  ASSERT_TRUE(b.Fill(host));
  EXPECT_EQ(d.channelNamesGiven * 10 + d.rulerUnits, 2);
  host.GetServices().propertyProcs = false;
  ASSERT_TRUE(b.Fill(host));
  EXPECT_EQ(d.rulerUnits, 0);
}

}  // namespace
