// A window whose stored position cannot be read for want of memory is not
// opened, and the user is told; one with no position stored opens centred.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "CMainDialogs.h"
#include "DialogTestUtil.h"

namespace {

// An effect window that records where it was asked to open.
struct PlacedWindow : CEffectWindowServices {
  std::vector<std::string>* made;
  explicit PlacedWindow(std::vector<std::string>* m) : made(m) {}
  u8 CreateEffectWindow(const char* name, kltSIZE_s at) override {
    made->push_back(std::string(name) + " " + std::to_string(at.horizontal) + "," + std::to_string(at.vertical));
    return 1;
  }
  void ShowEffectWindow() override {}
};

typedef dlgtest::DialogTest WindowPositionMemory;

TEST_F(WindowPositionMemory, NotOpenedWithoutMemoryForThePosition) {
  puzzletest::Puzzle puzzle(3, 2);
  puzzletest::FakePort& owner = puzzle.port;
  owner.plugin = &plugin;
  owner.mainWindow = &main;
  std::vector<std::string> made;
  owner.newWindow = [&](u8) { return new PlacedWindow(&made); };
  CLayoutModel layout;
  layout.SetImageSize(48, 32);
  CKLF_Mem map;
  CLayoutView::CHANNELMAP choice = {};
  // Each opener with the position it asks for: 1 when it says the window
  // was not opened (an effect window: for want of memory).
  typedef CMainDialogs D;
  const std::pair<const char*, std::function<u8()>> cases[] = {
      {"Export>Main", [&] { return D::DoExportDialog(owner, puzzle.engine).outcome == D::kNotOpened; }},
      {"ExportLM>Main", [&] { return D::DoExportLMDialog(owner, layout).outcome == D::kNotOpened; }},
      {"ChannelList>MAIN", [&] { return D::DoChannelDialog(owner, nullptr, 1, 0, map, choice) == 0; }},
      {"FXbevel>MAIN",
       [&] {
         return !puzzle.model.pmfx_DoBevel() && puzzle.model.GetError() == klErrNoMemory &&
                !puzzle.model.effectWindowOpen;
       }},
  };
  owner.positionNoMemory = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    owner.positionsAsked.clear();
    owner.alerts.clear();
    const u32 loops = ui.Log().stalls;
    EXPECT_EQ(c.second(), 1);
    EXPECT_EQ(owner.positionsAsked, std::vector<std::string>({c.first}));
    EXPECT_EQ(owner.alerts, std::vector<std::string>({"Memory allocation problem..."}));
    EXPECT_EQ(ui.Log().stalls, loops);  // no modal loop ran
  }
  // Nothing stored: the effect window opens centred.
  owner.positionNoMemory = 0;
  ASSERT_EQ(puzzle.model.pmfx_DoBevel(), 1);
  EXPECT_EQ(made, std::vector<std::string>({"FXbevel -32000,-32000"}));
}

}  // namespace
