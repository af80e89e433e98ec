// What the effect windows leave in the pieces is what a replay renders:
// over a two-layer PSD served as a host serves it, pieces given a bevel
// with the light moved on the disc and an image overlay from the second
// layer (chosen in the picker) are applied as the user interface applies
// them, and the plug-in's replay of the stored block, without its user
// interface, writes the same pixels.
#include <gtest/gtest.h>

#include "CKLT_SettingsSource.h"
#include "CWndFX_Bevel.h"
#include "CWndFX_ImageOverlay.h"
#include "CWnd_LayersList.h"
#include "effects/FXTestUtil.h"
#include "effects/display/KLT_FXReplay.h"

namespace {

using namespace fxtest;

class ReplayAgrees : public FXWindowTest {};

TEST_F(ReplayAgrees, BevelAndImageOverlayFromASecondPSDLayer) {
  const i32 w = 64, h = 32;
  std::string error;
  Bytes layout;
  ASSERT_TRUE(CKLT_SettingsSource::DefaultBlock(w, h, 4, 2, false, layout, error)) << error;
  scene = std::make_unique<Scene>(layout, w, h);
  scene->puzzle.port.mainWindow = mainWindow.get();
  const std::string psd = scene->dir.File("two.psd");
  ASSERT_TRUE(klt_fxreplay::WritePSD(psd, w, h, scene->puzzle.doc.planes, scene->puzzle.alpha, error)) << error;
  ASSERT_TRUE(klt_fxreplay::ServePSD(psd, scene->host, error)) << error;
  scene->Serve();

  // The light dragged up to the disc's top left.
  auto* bevel = dynamic_cast<CWndFX_Bevel*>(Reopen(kBevel));
  ASSERT_NE(bevel, nullptr);
  const CFXLight::DISC d = bevel->Disc();
  const KLP_Point from = Global(static_cast<i32>(d.cx), static_cast<i32>(d.cy));
  const KLP_Point to = Global(static_cast<i32>(d.cx - 20), static_cast<i32>(d.cy - 25));
  ui.PostMouse(klpMouseDown, from.x, from.y);
  ui.PostMouse(klpMouseDragged, (from.x + to.x) / 2, (from.y + to.y) / 2);
  ui.PostMouse(klpMouseDragged, to.x, to.y);
  ui.PostMouse(klpMouseUp, to.x, to.y);
  ui.Pump();
  Enter(Edit("_Size"), "4");
  ClickButton("_Ok");
  ASSERT_LT(scene->Piece(0).bevel[R].light[0], -0.3f);

  // The image overlay from the "Pattern" layer at 70 %.
  auto* overlay = dynamic_cast<CWndFX_ImageOverlay*>(Reopen(kIovr));
  ASSERT_NE(overlay, nullptr);
  ui.AnswerMenu(1);
  ui.Script([&] {
    CWnd_LayersList* p = overlay->RunningPicker();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->List()->GetItemsCount(), 3u);  // the merged document, "Pattern", "Photo"
    p->List()->SelectItems(1, 1, 1, 0, 1, 1, 1);
    EXPECT_EQ(p->GetChosenId(), 2);
    Key(0x24);
  });
  ClickButton("_ChooseImage");
  Enter(Edit("_Opacity"), "70");
  ClickButton("_Ok");
  ASSERT_EQ(scene->Piece(0).imageOverlay[R].layerId, 2);
  ASSERT_TRUE(scene->puzzle.Consistent());

  // Applied as the user interface applies an RGB document's result.
  CKLF_Image shown;
  ASSERT_TRUE(shown.Create(&Model().resultImage));
  ASSERT_EQ(scene->plugin.Apply_SplittingUI(&shown), 1);
  scene->host.CommitPending();
  // Replayed from the stored block over the same document.
  Bytes block;
  ASSERT_TRUE(klt_fxreplay::BlockWithRecords(layout, w, h, scene->Engine(), block));
  CKLT_FilterHost replay;
  ASSERT_TRUE(klt_fxreplay::ServePSD(psd, replay, error)) << error;
  ASSERT_EQ(klt_fxreplay::Replay(replay, block, scene->dir.Path()), 0);
  // The same alpha, and the same colours wherever a pixel shows (the two
  // roads keep what they like under full transparency).
  ASSERT_EQ(replay.Plane(3), scene->host.Plane(3));
  size_t visible = 0, differing = 0;
  for (size_t i = 0; i < replay.Plane(3).size(); ++i) {
    if (!replay.Plane(3)[i]) continue;
    ++visible;
    for (int p = 0; p < 3; ++p) differing += replay.Plane(p)[i] != scene->host.Plane(p)[i] ? 1 : 0;
  }
  EXPECT_GT(visible, 2000u);
  EXPECT_EQ(differing, 0u);
  // The overlay and the bevel are there: not the photo's pixels.
  EXPECT_NE(replay.Plane(1), scene->puzzle.doc.planes[1]);
}

}  // namespace
