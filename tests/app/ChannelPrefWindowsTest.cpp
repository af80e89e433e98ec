// The channel selection and preferences dialogs as a user works them. The
// channel dialog lists a served PSD's channels, shows the chosen one over
// the preview, and each way it combines a channel with the selection
// (New, Add, Subtract, Intersect, inverted or not) selects the pieces of a
// real cut that the channel marks. The preferences dialog edits every
// record, takes colours from the host's colour picker and keeps nothing
// when cancelled.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlList.h"
#include "CKLT_FilterHost.h"
#include "CMainDialogs.h"
#include "CPluginChannelSource.h"
#include "CWnd_ChannelList.h"
#include "CWnd_Pref.h"
#include "DialogTestUtil.h"
#include "tools/AlphaChannelsPsd.h"

namespace {

typedef CWnd_ChannelList C;
typedef CWnd_Pref P;
typedef CChannelListModel L;

class ChannelWindowTest : public dlgtest::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    ASSERT_TRUE(cut.ok);
    KLP_FileRef folder;
    ASSERT_EQ(folder.SetPath(cut.dir.Path().c_str()), klpNoErr);
    cut.plugin.SetPluginFolder(folder);
    ASSERT_EQ(cut.plugin.ConfStorage_Open("plugin.conf"), 1);
    port.plugin = &cut.plugin;
  }
  // A click on line k of the channel list.
  void ChooseLine(C& w, u32 k) {
    const kltRECT_s r = w.GetCtrl(C::kList)->GetRenderRect();
    Click(w, r.left + 30, r.top + 2 + 16 * static_cast<i32>(k) + 8);
  }
  std::vector<std::string> Lines(C& w) {
    auto* list = static_cast<CKLF_CtrlList*>(w.GetCtrl(C::kList));
    std::vector<std::string> out;
    for (u32 i = 0; i < list->GetItemsCount(); ++i) {
      CKLF_String t;
      list->GetItem(i, &t, nullptr, nullptr);
      out.push_back(t.GetStr());
    }
    return out;
  }
  // A window pixel's red, green and blue.
  std::vector<int> Pixel(CKLF_Window& w, i32 x, i32 y) {
    u8 rgb[3] = {};
    EXPECT_TRUE(ui.GetPixel(w.GetWindowHandle(), x, y, rgb));
    return {rgb[0], rgb[1], rgb[2]};
  }
  alphapsd::ServedCut cut;
};

}  // namespace

// The served document's channels are listed by their names; the chosen
// one shows black over the preview where it selects (where it is dark, or
// light when inverted); only New may be chosen with nothing selected; the tips
// speak of knives or pieces; OK stores the window's place, Cancel does not.
TEST_F(ChannelWindowTest, ListPreviewModesAndTips) {
  CPluginChannelSource source(cut.plugin);
  C w(port, source);
  w.knives = 1;
  ASSERT_EQ(w.CreateFromResource(C::kName, 50, 40, &main, 1), 1);
  w.RenderRect(klNullRect);
  w.SetFocus();
  ui.Pump();
  EXPECT_EQ(Lines(w), std::vector<std::string>({"Red", "Green", "Blue", "Layer Transparency", "Left", "Top"}));
  EXPECT_EQ(static_cast<CKLF_CtrlList*>(w.GetCtrl(C::kList))->GetSelectedItem(), 0);
  EXPECT_EQ(std::vector<int>({w.GetCtrl(C::kSelNew)->GetCheck(), w.GetCtrl(C::kSelNew)->IsEnabled(),
                              w.GetCtrl(C::kSelAdd)->IsEnabled(), w.GetCtrl(C::kSelSub)->IsEnabled(),
                              w.GetCtrl(C::kSelInter)->IsEnabled()}),
            std::vector<int>({1, 1, 0, 0, 0}));
  ChooseLine(w, 4);  // "Left": dark (selecting) on the left 14 of 60 columns
  for (i32 i = 0; i < alphapsd::kW * alphapsd::kH; ++i) ASSERT_EQ(w.GetModel().Map()[i], alphapsd::Left(i)) << i;
  const kltRECT_s r = w.GetPreviewRect();
  const i32 y = (r.top + r.bottom) / 2, left = r.left + 5, right = r.right - 5;
  // What selects shows clear; the rest is covered black (as composing
  // rounds it).
  EXPECT_EQ(Pixel(w, left, y), std::vector<int>({150, 150, 150}));
  EXPECT_LT(Pixel(w, right, y)[1], 4);
  Press(w, C::kInvert);
  EXPECT_EQ(w.GetModel().invert, 1);
  EXPECT_LT(Pixel(w, left, y)[1], 4);
  EXPECT_EQ(Pixel(w, right, y), std::vector<int>({150, 150, 150}));
  // The tips: the preview's zone, the controls, for knives (state 1).
  Hover(w, (r.left + r.right) / 2, y);
  EXPECT_EQ(Status(w, C::kStatus), "ChannelsList/Zone_Preview/1/255");
  Hover(w, Box(w, C::kSelNew).x, Box(w, C::kSelNew).y);
  EXPECT_EQ(Status(w, C::kStatus), "ChannelsList/ChannelList_SelNew/1/6");
  Hover(w, 5, 330);
  EXPECT_EQ(Status(w, C::kStatus), "ChannelsList//1/128");
  // Return is OK: the place is stored under "ChannelList", "MAIN".
  EXPECT_EQ(cut.plugin.WindowPosFromConf("ChannelList", "MAIN", klNullSize, 1).horizontal, -32000);
  InLoop([&] { Key(0x24, 13); });
  EXPECT_EQ(w.DoModal(), 1);
  EXPECT_EQ(cut.plugin.WindowPosFromConf("ChannelList", "MAIN", klNullSize, 1).horizontal, 50);
}

// Through the opener: each mode, inverted or not, with "Left" or "Top",
// selects the pieces of the real cut that the channel marks, combined with
// the selection as the mode says; Cancel selects nothing.
TEST_F(ChannelWindowTest, EachOperationSelectsTheMarkedPieces) {
  const struct {
    u32 radio;
    u32 line;
    u8 invert;
  } steps[] = {{C::kSelNew, 5, 0},      {C::kSelAdd, 4, 0},  {C::kSelSub, 5, 0},
               {C::kSelInter, 4, 0},    {C::kSelNew, 4, 1},  {C::kSelInter, 5, 1}};
  std::vector<bool> want(20, false);
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "radio " << s.radio << " line " << s.line << " invert " << int(s.invert));
    const u8 any = std::count(want.begin(), want.end(), true) > 0;
    InLoop([&] {
      C* d = Running<C>();
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(d->GetCtrl(C::kSelAdd)->IsEnabled(), any);
      ChooseLine(*d, s.line);
      Press(*d, s.radio);
      if (s.invert) Press(*d, C::kInvert);
      Press(*d, C::kOk);
    });
    CKLF_Mem map;
    CLayoutView::CHANNELMAP choice = {};
    ASSERT_EQ(CMainDialogs::DoChannelDialog(port, nullptr, any, 0, map, choice), 1);
    EXPECT_EQ(choice.mode, s.radio - C::kSelNew);
    EXPECT_EQ(choice.invert, s.invert);
    EXPECT_EQ(std::vector<u32>({choice.width, choice.height, choice.stride}),
              std::vector<u32>({alphapsd::kW, alphapsd::kH, alphapsd::kW}));
    cut.model->pmop_LoadSelection(choice.mode, choice.invert, choice.map, 0);
    want = cut.Expected(want, choice.mode, s.line, s.invert);
    EXPECT_EQ(cut.Selected(), want);
    EXPECT_GT(std::count(want.begin(), want.end(), true), 0);
  }
  InLoop([&] {
    ChooseLine(*Running<C>(), 4);
    Press(*Running<C>(), C::kCancel);
  });
  CKLF_Mem map;
  CLayoutView::CHANNELMAP choice = {};
  EXPECT_EQ(CMainDialogs::DoChannelDialog(port, nullptr, 1, 0, map, choice), 0);
  EXPECT_EQ(choice.map, nullptr);
}

namespace {

class PrefWindowTest : public dlgtest::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    ASSERT_TRUE(host.SetDocument(klpModeRGB, 48, 32, false));
    plugin.SetHostPointers(&host.Record(), nullptr, &result);
  }
  // The centre of a picture (the sample or a swatch).
  kltPOS At(P& w, u32 picture) {
    const kltRECT_s r = w.GetPictureRect(static_cast<P::PICTURE>(picture));
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  void ClickSwatch(P& w, CPreferences::Swatch s, bool chosen, u8 r, u8 g, u8 b) {
    host.SetPickedColour(chosen, r, g, b);
    const kltPOS p = At(w, P::kSwatch0 + s);
    Click(w, p.x, p.y);
  }
  // Clicks into the opacity line, types text over it and leaves it.
  void Type(P& w, const std::string& text) {
    Press(w, P::kDisOpacity);
    for (char ch : text) Key(klpVKNone, static_cast<u8>(ch));
    Key(0x30, '\t');
  }
  std::string Opacity(P& w) { return static_cast<CKLF_CtrlEditLine*>(w.GetCtrl(P::kDisOpacity))->GetText().GetStr(); }
  std::vector<int> Pixel(P& w, i32 x, i32 y) {
    u8 rgb[3] = {};
    EXPECT_TRUE(ui.GetPixel(w.GetWindowHandle(), x, y, rgb));
    return {rgb[0], rgb[1], rgb[2]};
  }
  CKLT_FilterHost host;
  int16_t result = 0;
};

std::vector<int> Values(const CPreferences& p) {
  std::vector<int> v = {p.onLoadZoom, p.delKnifeOpacity, p.alphaSolid, p.extAlphaSolid};
  for (const kltRGBA8& c : {p.alphaColor1, p.alphaColor2, p.alphaColorSolid, p.extAlphaColor1, p.extAlphaColor2,
                            p.extAlphaColorSolid})
    v.insert(v.end(), {c.red, c.green, c.blue, c.alpha});
  return v;
}

}  // namespace

// Every record changed in the dialog comes back from OK and round-trips
// through the configuration store.
TEST_F(PrefWindowTest, EachRecordRoundTrips) {
  CPreferences prefs = CPreferences::Defaults();
  prefs.delKnifeOpacity = 50;
  InLoop([&] {
    P* d = Running<P>();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Opacity(*d), "20");
    EXPECT_EQ(std::vector<int>({d->GetCtrl(P::kTCB)->GetCheck(), d->GetCtrl(P::kTSolid)->GetCheck(),
                                d->GetCtrl(P::kFCB)->GetCheck(), d->GetCtrl(P::kFitOnLoad)->GetCheck()}),
              std::vector<int>({1, 0, 1, 1}));
    for (u8 s = 0; s < CPreferences::kSwatches; ++s)
      ClickSwatch(*d, static_cast<CPreferences::Swatch>(s), true, static_cast<u8>(10 + s), static_cast<u8>(20 + s),
                  static_cast<u8>(30 + s));
    Press(*d, P::kFitOnLoad);
    Type(*d, "30");
    Press(*d, P::kOk);
  });
  ASSERT_EQ(CMainDialogs::DoPrefDialog(port, prefs), 1);
  CPreferences want = CPreferences::Defaults();
  want.onLoadZoom = 0;
  want.delKnifeOpacity = 76;  // 30 per cent
  want.alphaSolid = want.extAlphaSolid = 1;  // the solid swatches were chosen last
  for (u8 s = 0; s < CPreferences::kSwatches; ++s)
    want.SwatchColour(static_cast<CPreferences::Swatch>(s)) = {static_cast<u8>(10 + s), static_cast<u8>(20 + s),
                                                               static_cast<u8>(30 + s), 255};
  EXPECT_EQ(Values(prefs), Values(want));
  CPreferences stored;
  ASSERT_EQ(CPreferences::Read(Conf(), stored), 1);
  EXPECT_EQ(Values(stored), Values(want));
  // The checkerboards once more: the radio buttons switch back.
  InLoop([&] {
    P* d = Running<P>();
    EXPECT_EQ(Opacity(*d), "30");
    Press(*d, P::kTCB);
    Press(*d, P::kFCB);
    Key(0x24, 13);  // Return is OK
  });
  ASSERT_EQ(CMainDialogs::DoPrefDialog(port, prefs), 1);
  want.alphaSolid = want.extAlphaSolid = 0;
  ASSERT_EQ(CPreferences::Read(Conf(), stored), 1);
  EXPECT_EQ(Values(stored), Values(want));
}

// A swatch opens the colour picker: a chosen colour fills the swatch and
// the sample and switches its group's radio button; a cancelled picker
// changes nothing; the opacity line holds its values to 10..50 per cent.
TEST_F(PrefWindowTest, SwatchesOpacityAndTips) {
  CPreferences prefs = CPreferences::Defaults();
  prefs.extAlphaColor2 = {90, 91, 92, 255};
  P w(port, prefs);
  ASSERT_EQ(w.CreateFromResource(P::kName, 30, 30, &main, 1), 1);
  w.RenderRect(klNullRect);
  w.SetFocus();
  ui.Pump();
  const kltRECT_s sample = w.GetPictureRect(P::kSample);
  ClickSwatch(w, CPreferences::kTSolid, true, 10, 20, 30);
  EXPECT_EQ(w.GetValues().alphaSolid, 1);
  EXPECT_EQ(std::vector<int>({w.GetCtrl(P::kTCB)->GetCheck(), w.GetCtrl(P::kTSolid)->GetCheck()}),
            std::vector<int>({0, 1}));
  EXPECT_EQ(Pixel(w, At(w, P::kSwatch0 + CPreferences::kTSolid).x, At(w, P::kSwatch0 + CPreferences::kTSolid).y),
            std::vector<int>({10, 20, 30}));
  // Inside the sample the transparency is solid now; its margin is not
  // (its first cell takes the second colour).
  EXPECT_EQ(Pixel(w, sample.left + 30, sample.top + 30), std::vector<int>({10, 20, 30}));
  EXPECT_EQ(Pixel(w, sample.left + 3, sample.top + 3), std::vector<int>({90, 91, 92}));
  const std::vector<int> before = Values(w.GetValues());
  ClickSwatch(w, CPreferences::kFSolid, false, 1, 2, 3);
  EXPECT_EQ(Values(w.GetValues()), before);
  EXPECT_EQ(w.GetCtrl(P::kFSolid)->GetCheck(), 0);
  // The opacity line.
  Type(w, "5");
  EXPECT_EQ(w.GetValues().delKnifeOpacity, 25);
  EXPECT_EQ(Opacity(w), "10");
  Type(w, "80");
  EXPECT_EQ(w.GetValues().delKnifeOpacity, 127);
  EXPECT_EQ(Opacity(w), "50");
  // The tips of the zones and the controls.
  Hover(w, At(w, P::kSwatch0 + CPreferences::kTCB2).x, At(w, P::kSwatch0 + CPreferences::kTCB2).y);
  EXPECT_EQ(Status(w, P::kStatus), "Preferences/Zone_SwatchT/1/255");
  Hover(w, At(w, P::kSwatch0 + CPreferences::kFSolid).x, At(w, P::kSwatch0 + CPreferences::kFSolid).y);
  EXPECT_EQ(Status(w, P::kStatus), "Preferences/Zone_SwatchFS/1/255");
  Hover(w, At(w, P::kSample).x, At(w, P::kSample).y);
  EXPECT_EQ(Status(w, P::kStatus), "Preferences/Zone_Preview/1/255");
  Hover(w, Centre(w, P::kOk).x, Centre(w, P::kOk).y);
  EXPECT_EQ(Status(w, P::kStatus), "Preferences/Pref_Ok/1/5");
}

// Cancel after changing colours, choices and the opacity leaves the
// values and the configuration store as they were; so does Escape.
TEST_F(PrefWindowTest, CancelChangesNothing) {
  CPreferences prefs = CPreferences::Defaults();
  prefs.delKnifeOpacity = 127;
  const std::vector<int> before = Values(prefs);
  for (u32 end : {P::kCancel, P::kCloseX, P::kControlCount}) {
    InLoop([&] {
      P* d = Running<P>();
      EXPECT_EQ(Opacity(*d), "50");
      ClickSwatch(*d, CPreferences::kFCB1, true, 1, 2, 3);
      Press(*d, P::kTSolid);
      Type(*d, "12");
      if (end == P::kControlCount)
        Key(klpVKEscape, 27);
      else
        Press(*d, end);
    });
    EXPECT_EQ(CMainDialogs::DoPrefDialog(port, prefs), 0);
    EXPECT_EQ(Values(prefs), before);
    EXPECT_EQ(Conf()->GetRecType("Preferences"), CKLF_Storage::klRecMissing);
  }
}

// Without the host's colour services the platform's colour chooser opens
// (scripted here); no answer is a cancel, one without memory to show is
// told.
typedef dlgtest::DialogTest PrefChooserTest;
TEST_F(PrefChooserTest, PlatformColourChooserWithoutHostServices) {
  // The fixture's plug-in object has no host.
  P w(port, CPreferences::Defaults());
  ASSERT_EQ(w.CreateFromResource(P::kName, 30, 30, &main, 1), 1);
  w.RenderRect(klNullRect);
  w.SetFocus();
  const kltRECT_s s = w.GetPictureRect(static_cast<P::PICTURE>(P::kSwatch0 + CPreferences::kFSolid));
  ui.AnswerColor(0, 32896, 65535);
  Click(w, (s.left + s.right) / 2, (s.top + s.bottom) / 2);
  const kltRGBA8 c = w.GetValues().extAlphaColorSolid;
  EXPECT_EQ(std::vector<int>({c.red, c.green, c.blue, c.alpha}), std::vector<int>({0, 128, 255, 255}));
  EXPECT_EQ(w.GetCtrl(P::kFSolid)->GetCheck(), 1);
  EXPECT_EQ(ui.Log().colourTitles.size(), 1u);
  const std::vector<int> before = Values(w.GetValues());
  Click(w, (s.left + s.right) / 2, (s.top + s.bottom) / 2);
  EXPECT_EQ(ui.Log().colourTitles.size(), 2u);
  EXPECT_TRUE(port.alerts.empty());
  ui.FailColor();
  Click(w, (s.left + s.right) / 2, (s.top + s.bottom) / 2);
  EXPECT_EQ(port.alerts, std::vector<std::string>({"Memory allocation problem..."}));
  EXPECT_EQ(Values(w.GetValues()), before);
}
