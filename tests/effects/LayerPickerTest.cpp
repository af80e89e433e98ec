// The document layer picker and the image overlay window that opens it,
// over a served document of 48 x 32 with layers that do and do not cover
// the pieces: the list's order and marks, filtering, the chosen layer and
// OK, the thumbnail and its blinking marker, and the image overlay's
// source menu, picker road, area and at-once updates.
#include <gtest/gtest.h>

#include <cstring>

#include "CWndFX_ImageOverlay.h"
#include "CWnd_LayersList.h"
#include "effects/FXTestUtil.h"

namespace {

using namespace fxtest;

class LayerPicker : public FXWindowTest {
 protected:
  // Layers (host order): "back" (id 1) covers the document, "left" (2) its
  // left 20 columns, "corner" (3) 8 x 7 at the bottom right; the merged
  // document is opaque grey.
  void NewScene(u32 columns = 3, u32 rows = 2) {
    scene = std::make_unique<Scene>(columns, rows);
    scene->puzzle.port.mainWindow = mainWindow.get();
    const i32 w = static_cast<i32>(columns * 16), h = static_cast<i32>(rows * 16);
    AddLayer(scene->host, {1, "back", {0, 0, w, h}, {0, 200, 0, 255}});
    AddLayer(scene->host, {2, "left", {0, 0, 20, h}, {250, 10, 10, 255}});
    AddLayer(scene->host, {3, "corner", {w - 8, h - 7, w, h}, {0, 0, 250, 255}});
    const size_t n = static_cast<size_t>(w) * h;
    scene->host.SetMergedComposite({Bytes(n, 90), Bytes(n, 90), Bytes(n, 90)}, {});
    scene->Serve();
  }
  // A picker over the scene, created (0 when it was not).
  u8 Create(CWnd_LayersList& p, kltRECT_s target, i32 preselect, u8 filtered) {
    p.SetOwner(&Model());
    p.SetPlugin(&scene->plugin);
    p.SetTarget(target);
    p.SetChosenId(preselect);
    p.SetShowFiltered(filtered);
    if (!p.CreateFromResource("Layers", -32000, -32000, mainWindow.get(), 1)) return 0;
    p.Show();  // as its modal loop does, to be clicked before it runs
    p.SetFocus();
    return 1;
  }
  static std::vector<std::string> Rows(CWnd_LayersList& p) {
    std::vector<std::string> out;
    for (u32 i = 0; i < p.List()->GetItemsCount(); ++i) {
      CKLF_String t;
      p.List()->GetItem(i, &t, nullptr, nullptr);
      out.push_back(t.GetStr());
    }
    return out;
  }
  static void Select(CWnd_LayersList& p, u32 row) { p.List()->SelectItems(row, row, 1, 0, 1, 1, 1); }
  void ClickIn(CKLF_Window& w, const char* name, u8 type) {
    for (u32 i = 0; i < w.GetControlCount(); ++i) {
      CKLF_Control* c = w.GetControl(i);
      if (c->GetName() != name || c->GetType() != type) continue;
      const kltRECT_s r = c->GetRenderRect(), wr = w.GetWindowRect();
      ui.PostClick(wr.left + (r.left + r.right) / 2, wr.top + (r.top + r.bottom) / 2);
      ui.Pump();
      return;
    }
    ADD_FAILURE() << name;
  }
  kltRGBA8 Thumb(CWnd_LayersList& p, u16 x, u16 y) { return p.ThumbnailLayer().GetPixel(x, y); }
};

// Rows last entry first with their marks; the filter keeps the covering
// ones; the chosen layer follows the selection while it covers the target,
// and OK with it.
TEST_F(LayerPicker, RowsFilterAndTheChosenLayer) {
  NewScene();
  CWnd_LayersList p;
  ASSERT_EQ(Create(p, {24, 4, 40, 20}, CFXLayerList::kNone, 0), 1);
  EXPECT_EQ(Rows(p), (std::vector<std::string>{"+\t| --COMPOSITE--", " \t| corner", " \t| left", "+\t| back"}));
  EXPECT_EQ(p.List()->GetSelectedItem(), 0);
  EXPECT_EQ(p.GetChosenId(), -1);
  EXPECT_TRUE(p.OkButton()->IsEnabled());
  Select(p, 3);
  EXPECT_EQ(p.GetChosenId(), 1);
  EXPECT_EQ(Thumb(p, 80, 80).green, (255 * 200) >> 8);  // the back's part under the target
  Select(p, 2);                                         // "left" does not reach the target
  EXPECT_EQ(p.GetChosenId(), CFXLayerList::kNone);
  EXPECT_FALSE(p.OkButton()->IsEnabled());
  ClickIn(p, "Layers_ShowFiltered", klCtrlRadioButton);
  EXPECT_EQ(p.GetShowFiltered(), 1);
  EXPECT_EQ(Rows(p), (std::vector<std::string>{"+\t| --COMPOSITE--", "+\t| back"}));
  EXPECT_EQ(p.GetChosenId(), -1);  // "left" is gone: row 0
  Select(p, 1);
  ui.Script([&] { ClickIn(p, "Layers_Ok", klCtrlButton); });
  EXPECT_EQ(p.DoModal(), 1);
  EXPECT_EQ(p.GetChosenId(), 1);
  EXPECT_NE(scene->plugin.WindowPosFromConf("Layers", "IOVR", klNullSize, 1).horizontal, -32000);
}

// A preselected layer is selected when it is shown; else row 0, whose
// layer becomes the chosen one when it covers the target.
TEST_F(LayerPicker, Preselection) {
  NewScene();
  CWnd_LayersList shown, hidden;
  ASSERT_EQ(Create(shown, {24, 4, 40, 20}, 1, 1), 1);
  EXPECT_EQ(shown.List()->GetSelectedItem(), 1);
  EXPECT_EQ(shown.GetChosenId(), 1);
  ASSERT_EQ(Create(hidden, {24, 4, 40, 20}, 2, 1), 1);  // "left" is filtered out
  EXPECT_EQ(hidden.List()->GetSelectedItem(), 0);
  EXPECT_EQ(hidden.GetChosenId(), -1);
  // Cancel stores nothing.
  ui.Script([&] { ClickIn(hidden, "Layers_Cancel", klCtrlButton); });
  EXPECT_EQ(hidden.DoModal(), 0);
  EXPECT_EQ(scene->plugin.WindowPosFromConf("Layers", "IOVR", klNullSize, 1).horizontal, -32000);
}

// No layer covers a target larger than the document: filtered, the list is
// empty, so OK hands back no layer (not the caller's), is disabled, and
// the thumbnail is black; Return still takes the OK road.
TEST_F(LayerPicker, NothingToChoose) {
  NewScene();
  CWnd_LayersList p;
  ASSERT_EQ(Create(p, {0, 0, 100, 100}, 1, 1), 1);
  EXPECT_EQ(p.List()->GetItemsCount(), 0u);
  EXPECT_EQ(p.GetChosenId(), CFXLayerList::kNone);
  EXPECT_FALSE(p.OkButton()->IsEnabled());
  const kltRGBA8 black = Thumb(p, 5, 5);
  EXPECT_TRUE(black.red == 0 && black.green == 0 && black.blue == 0 && black.alpha == 255);
  ui.Script([&] { Key(0x24); });
  EXPECT_EQ(p.DoModal(), 1);
  EXPECT_EQ(p.GetChosenId(), CFXLayerList::kNone);
  // Without a plug-in object there is nothing to list.
  CWnd_LayersList none;
  none.SetOwner(&Model());
  EXPECT_EQ(none.CreateFromResource("Layers", -32000, -32000, mainWindow.get(), 1), 0);
}

// A layer that does not cover the target shows whole, centred on the
// frame pattern, with a marker where the target lies, blinking while OK is
// disabled; a layer off the target shows a red veil.
TEST_F(LayerPicker, ThumbnailAndMarker) {
  NewScene();
  scene->puzzle.port.frame[0] = scene->puzzle.port.frame[1] = {7, 8, 9, 255};
  CWnd_LayersList p;
  ASSERT_EQ(Create(p, {4, 4, 30, 28}, CFXLayerList::kNone, 0), 1);
  Select(p, 1);  // "corner": 8 x 7, off the target
  const kltRECT_s v = p.GetPreviewRect();
  const u16 pw = static_cast<u16>(v.right - v.left), ph = static_cast<u16>(v.bottom - v.top);
  const kltRGBA8 veil = p.MarkerLayer().GetPixel(pw / 2, ph / 2);
  EXPECT_TRUE(veil.red == 255 && veil.alpha == 128);
  Select(p, 2);  // "left": 20 x 32, tall, the target inside
  const CFXLayerList::THUMB& t = p.Model().GetThumb();
  EXPECT_EQ(t.h, ph);
  EXPECT_EQ(t.w, 20 * pw / 32);
  const kltRGBA8 side = Thumb(p, 1, static_cast<u16>(ph / 2)), body = Thumb(p, static_cast<u16>(pw / 2), 3);
  EXPECT_TRUE(side.red == 7 && side.green == 8 && side.blue == 9);
  EXPECT_EQ(body.red, (250 * 255) >> 8);
  // The target (4..30, 4..28) on the layer's 20 x 32, each way at its scale.
  const kltRGBA8 in = p.MarkerLayer().GetPixel(static_cast<u16>(t.x0 + t.w * 10 / 20), static_cast<u16>(t.h * 16 / 32));
  const kltRGBA8 out =
      p.MarkerLayer().GetPixel(static_cast<u16>(t.x0 + t.w * 18 / 20), static_cast<u16>(t.h * 30 / 32));
  EXPECT_TRUE(in.red == 255 && in.blue == 0 && in.alpha == 255);
  EXPECT_EQ(out.alpha, 0);
  const u8 first = p.MarkerLayer().GetOpacity();
  ui.AdvanceClock(500);
  EXPECT_EQ(p.MarkerLayer().GetOpacity(), 255 - first);
  ui.AdvanceClock(500);
  EXPECT_EQ(p.MarkerLayer().GetOpacity(), first);
  Select(p, 3);  // "back" covers: no marker, no blinking
  ui.AdvanceClock(500);
  EXPECT_EQ(p.MarkerLayer().GetOpacity(), first);
  EXPECT_EQ(p.MarkerLayer().GetPixel(static_cast<u16>(pw / 2), static_cast<u16>(ph / 2)).alpha, 0);
}

// ---------------------------------------------------------------------------
// The image overlay window

class ImageOverlay : public LayerPicker {
 protected:
  CWndFX_ImageOverlay* Overlay() { return dynamic_cast<CWndFX_ImageOverlay*>(Window()); }
  T::SFX_IMAGEOVERLAY& Value(u8 which) {
    return *reinterpret_cast<T::SFX_IMAGEOVERLAY*>(Window()->Records().GetValue(which));
  }
  std::string SourceText() {
    return Find<CKLF_CtrlStaticText>("FXiovr_CurrentImage", klCtrlStaticText)->GetText().GetStr();
  }
};

// The menu's automatic source, and a layer chosen in the picker with OK
// for both values, which the pieces then show; the filter is kept.
TEST_F(ImageOverlay, SourceMenuAndThePickerRoad) {
  NewScene();
  ASSERT_NE(Reopen(kIovr), nullptr);
  EXPECT_EQ(SourceText(), "From Auto-Selected Layers");
  EXPECT_EQ(Overlay()->GetPiecesArea().right, 48);
  ui.AnswerMenu(1);
  ui.Script([&] {
    CWnd_LayersList* p = Overlay()->RunningPicker();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Model().GetTarget().bottom, 32);
    ClickIn(*p, "Layers_ShowAll", klCtrlRadioButton);
    Select(*p, 3);  // "back"
    ClickIn(*p, "Layers_Ok", klCtrlButton);
  });
  ClickButton("_ChooseImage");
  const std::vector<KLP_MenuItem>& menu = ui.Log().menus.back();
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_EQ(menu[0].text, "From Document Layer (Auto)");
  EXPECT_TRUE(menu[0].checked);
  EXPECT_EQ(menu[1].text, "From Document Layer...");
  EXPECT_EQ(Overlay()->RunningPicker(), nullptr);
  for (u8 k = 0; k < 2; ++k) {
    EXPECT_EQ(Value(k).sourceMode, 1);
    EXPECT_EQ(Value(k).layerId, 1);
  }
  EXPECT_EQ(SourceText(), "From Manually Selected Layer");
  u8 filtered = 9;
  EXPECT_TRUE(scene->plugin.ConfStorage_GetStorage()->GetRec("DocLayers Settings>ShowFiltered", filtered));
  EXPECT_EQ(filtered, 0);
  Enter(Edit("_Opacity"), "100");
  ClickButton("_Ok");
  for (u32 i = 0; i < scene->Count(); ++i) {
    const T::SFX_IMAGEOVERLAY& o = scene->Piece(i).imageOverlay[R];
    EXPECT_TRUE(o.enabled == 1 && o.sourceMode == 1 && o.layerId == 1 && o.opacity == 255);
  }
  // The pieces show the layer (their bevels aside, away from their edges).
  const CKLF_Image& img = Model().resultImage;
  const u8* px = img.GetMemObj()->GetPtr();
  const u32 n = img.GetImageWidth() * img.GetImageHeight(), at = 24 * img.GetImageWidth() + 24;
  EXPECT_NEAR(px[n + at], 200, 8);
  EXPECT_NEAR(px[at], 0, 8);
  EXPECT_NEAR(px[2 * n + at], 0, 8);
  EXPECT_TRUE(scene->puzzle.Consistent());
}

// Without memory to read the picker's position the picker does not open:
// the user is told, and the source stays as it was.
TEST_F(ImageOverlay, NoPickerWithoutMemoryForItsPosition) {
  NewScene();
  ASSERT_NE(Reopen(kIovr), nullptr);
  scene->puzzle.port.positionNoMemory = 1;
  const u32 loops = ui.Log().stalls;
  std::vector<std::pair<std::string, std::string>> alerts = ui.Log().alerts;
  alerts.emplace_back("Error!", "Memory allocation problem...");
  ui.AnswerMenu(1);
  ClickButton("_ChooseImage");
  EXPECT_EQ(ui.Log().stalls, loops);  // no modal loop ran
  EXPECT_EQ(ui.Log().alerts, alerts);
  EXPECT_EQ(Value(0).sourceMode, 0);
}

// Cancel in the picker changes nothing, not even the stored filter; the
// automatic choice keeps the layer id, so the picker then preselects none.
TEST_F(ImageOverlay, CancelAndTheAutomaticChoice) {
  NewScene();
  for (u32 i = 0; i < scene->Count(); ++i) scene->Piece(i).imageOverlay[R] = {1, 255, 1, 0, 1};
  ASSERT_NE(Reopen(kIovr), nullptr);
  i32 preselected = 99;
  ui.AnswerMenu(1);
  ui.Script([&] {
    CWnd_LayersList* p = Overlay()->RunningPicker();
    ASSERT_NE(p, nullptr);
    preselected = p->GetChosenId();
    Select(*p, 0);
    Key(klpVKEscape);
  });
  ClickButton("_ChooseImage");
  EXPECT_EQ(preselected, 1);  // value 1's layer, manual
  EXPECT_EQ(Value(0).layerId, 1);
  EXPECT_EQ(Value(0).sourceMode, 1);
  u8 filtered = 0;
  EXPECT_FALSE(scene->plugin.ConfStorage_GetStorage()->GetRec("DocLayers Settings>ShowFiltered", filtered));
  EXPECT_TRUE(ui.Log().menus.back()[1].checked);

  ui.AnswerMenu(0);
  ClickButton("_ChooseImage");
  EXPECT_EQ(Value(0).sourceMode, 0);
  EXPECT_EQ(Value(1).sourceMode, 0);
  EXPECT_EQ(Value(0).layerId, 1);
  EXPECT_EQ(SourceText(), "From Auto-Selected Layers");
  ui.AnswerMenu(1);
  ui.Script([&] {
    preselected = Overlay()->RunningPicker()->GetChosenId();
    Key(klpVKEscape);
  });
  ClickButton("_ChooseImage");
  EXPECT_EQ(preselected, -1);  // none preselected: row 0, the merged document
}

// The area is the union of the listed (selected) pieces; a released slider
// updates the main window at once; the preview lays the second picture over
// the sample at the mode's opacity.
TEST_F(ImageOverlay, AreaUpdatesAndPreview) {
  NewScene();
  const u32 a = scene->At(0, 3), b = scene->At(4, 3);
  scene->Piece(a).selected = scene->Piece(b).selected = 1;
  ASSERT_NE(Reopen(kIovr), nullptr);
  const kltRECT_s ra = scene->Piece(a).rect, rb = scene->Piece(b).rect, area = Overlay()->GetPiecesArea();
  EXPECT_EQ(area.left, std::min(ra.left, rb.left));
  EXPECT_EQ(area.bottom, std::max(ra.bottom, rb.bottom));
  ui.AdvanceClock(100);
  Model().renders = 0;
  Slider("_Opacity")->SetValue(30, 1);
  EXPECT_EQ(Model().renders, 2);  // at once
  EXPECT_EQ(scene->Piece(a).imageOverlay[R].opacity, 76);
  EXPECT_FALSE(Window()->ResultLayer().GetVisible());
  CKLF_CtrlStaticImage* second = Find<CKLF_CtrlStaticImage>("FXiovr_Object2", klCtrlStaticImage);
  EXPECT_EQ(second->GetControlLayer()->GetOpacity(), 76);
  EXPECT_EQ(Window()->SampleImage()->GetControlLayer()->GetOpacity(), 255);
  ClickBox("_AAdjust");
  Slider("_Opacity2")->SetValue(90, 1);
  EXPECT_EQ(second->GetControlLayer()->GetOpacity(), 229);
}

}  // namespace
