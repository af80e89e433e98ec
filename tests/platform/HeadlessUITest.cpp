// The headless UI platform: virtual clock, loops that stall instead of
// hanging, the grab, modal input, scripted answers and saved pixels.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "CKLP_HeadlessUI.h"
#include "support/TestSupport.h"

namespace {

struct Client : CKLP_WindowClient {
  std::string name;
  std::vector<std::string>* seen = nullptr;
  int32_t OnPlatformEvent(const KLP_Event& e) override {
    const bool wheel = e.eventClass == klpClassMouse && e.kind == klpMouseWheel;
    seen->push_back(name + " " + std::to_string(e.eventClass) + "." + std::to_string(e.kind) +
                    (wheel ? " " + std::to_string(e.wheelDelta) : ""));
    return 0;
  }
};

KLP_WindowDesc Desc(KLP_Rect r, uint8_t layer = klpLayerDocument) {
  KLP_WindowDesc s;
  s.bounds = r;
  s.layer = layer;
  return s;
}

std::string Join(std::vector<std::string>& v) {
  std::string out;
  for (const std::string& s : v) out += (out.empty() ? "" : ", ") + s;
  v.clear();
  return out;
}

}  // namespace

TEST(HeadlessUI, TimersCatchUpInOrderAndIdleLoopsStall) {
  CKLP_HeadlessUI ui;
  std::vector<std::string> ticks;
  ui.AddTimer(10, [&] { ticks.push_back("a" + std::to_string(ui.GetTickMs())); });
  const KLP_TimerID b = ui.AddTimer(25, [&] { ticks.push_back("b" + std::to_string(ui.GetTickMs())); });
  EXPECT_EQ(ui.AddTimer(0, [] {}), 0u);
  ui.AdvanceClock(50);
  EXPECT_EQ(Join(ticks), "a10, a20, b25, a30, a40, a50, b50");
  ui.RemoveTimer(b);
  // A loop runs its script, then stops with a stall rather than wait.
  ui.Script([&] { ui.AdvanceClock(10); });
  EXPECT_EQ(ui.RunLoop(0), klpLoopStalled);
  EXPECT_EQ(Join(ticks), "a60");
  ui.Script([&] {
    ui.Script([&] { ui.QuitLoop(0); });  // ends the outer loop first: the inner one goes on
    ui.Script([&] { ui.QuitLoop(7); });
    EXPECT_EQ(ui.RunLoop(7), klpLoopQuit);
  });
  EXPECT_EQ(ui.RunLoop(0), klpLoopQuit);
  EXPECT_EQ(ui.Log().stalls, 1u);
  EXPECT_EQ(ui.GetLoopDepth(), 0u);
}

// A tick that advances the clock itself (a long operation that pumps
// events and timers) leaves it where it got to.
TEST(HeadlessUI, NestedAdvanceNeverRewindsTheClock) {
  CKLP_HeadlessUI ui;
  std::vector<std::string> ticks;
  bool nested = false;
  ui.AddTimer(10, [&] {
    ticks.push_back("a" + std::to_string(ui.GetTickMs()));
    if (!nested) nested = true, ui.AdvanceClock(30);
  });
  ui.AdvanceClock(15);
  EXPECT_EQ(ui.GetTickMs(), 40u);
  EXPECT_EQ(Join(ticks), "a10, a20, a30, a40");
  ui.AdvanceClock(10);
  EXPECT_EQ(Join(ticks), "a50");
}

TEST(HeadlessUI, GrabModalInputAndActivation) {
  CKLP_HeadlessUI ui;
  std::vector<std::string> seen;
  Client a, b;
  a.name = "a", b.name = "b", a.seen = b.seen = &seen;
  const KLP_WindowID wa = ui.CreateWindow(Desc({0, 0, 100, 100}), &a);
  const KLP_WindowID wb = ui.CreateWindow(Desc({200, 0, 300, 100}, klpLayerModal), &b);
  ui.ShowWindow(wa, true);
  ui.ShowWindow(wb, true);
  ui.Pump();
  EXPECT_EQ(Join(seen), "a 3.2, b 3.2");
  // The press's window keeps the mouse until the release.
  ui.PostMouse(klpMouseDown, 50, 50);
  ui.PostMouse(klpMouseDragged, 250, 50);
  ui.PostMouse(klpMouseUp, 250, 50);
  ui.Pump();
  EXPECT_EQ(Join(seen), "a 1.1, a 1.6, a 1.2, a 3.5");  // the unhandled press activated a
  EXPECT_EQ(ui.GetActiveWindow(), wa);
  // A wheel over no window is not queued and leaves a queued one as it was.
  ui.PostWheel(50, 50, 3);
  ui.PostWheel(150, 50, -7);
  ui.Pump();
  EXPECT_EQ(Join(seen), "a 1.10 3");
  EXPECT_EQ(ui.GetInputWindows(), (std::vector<KLP_WindowID>{wb, wa}));  // modal group in front
  // While b runs a modal loop, a gets no input but still its window events.
  ui.Script([&] {
    EXPECT_EQ(ui.GetInputWindows(), std::vector<KLP_WindowID>{wb});
    ui.PostClick(50, 50);
    ui.PostClick(250, 50);
  });
  ui.Script([&] { ui.QuitLoop(wb); });
  EXPECT_EQ(ui.RunLoop(wb), klpLoopQuit);
  EXPECT_EQ(Join(seen), "b 1.1, b 1.2, a 3.6, b 3.5");
  ui.ShowWindow(wa, false);
  EXPECT_EQ(ui.GetInputWindows(), std::vector<KLP_WindowID>{wb});  // hidden windows take nothing
  ui.ShowWindow(wa, true);
  EXPECT_EQ(ui.WindowAt({250, 50}), wb);
  const uint8_t holed[] = {0x7F, 0xFF, 0xFF, 0xFF};  // 4 rows of 16 bits: (0, 0) outside
  std::vector<uint8_t> shape(13 * 100, 0xFF);
  std::memcpy(shape.data(), holed, 1);
  ASSERT_TRUE(ui.SetWindowShape(wb, shape.data(), 13));
  EXPECT_EQ(ui.WindowAt({200, 0}), 0u);
  EXPECT_EQ(ui.WindowAt({201, 0}), wb);
  ui.DestroyWindow(wb);
  EXPECT_EQ(Join(seen), "b 3.1005");
}

// A move asked from a press whose release already waits behind it would
// follow the pointer until the next click: it starts only while the left
// button's press lasts.
TEST(HeadlessUI, MovesStartOnlyWhileTheirPressLasts) {
  CKLP_HeadlessUI ui;
  struct Mover : CKLP_WindowClient {
    CKLP_HeadlessUI* ui = nullptr;
    int32_t OnPlatformEvent(const KLP_Event& e) override {
      if (e.eventClass == klpClassMouse && e.kind == klpMouseDown) ui->DragWindow(e.window, e.where);
      return 1;
    }
  } a, b;
  a.ui = b.ui = &ui;
  const KLP_WindowID wa = ui.CreateWindow(Desc({0, 0, 100, 100}), &a);
  ui.ShowWindow(ui.CreateWindow(Desc({200, 0, 300, 100}), &b), true);
  ui.ShowWindow(wa, true);
  ui.PostClick(50, 50);
  ui.Pump();
  EXPECT_EQ(ui.Log().drags, 0u);
  // Held: a release of the other button, or of another window, ends nothing.
  ui.PostMouse(klpMouseDown, 50, 50);
  ui.PostMouse(klpMouseUp, 50, 50, 2);
  ui.Pump();
  EXPECT_EQ(ui.Log().drags, 1u);
  ui.PostMouse(klpMouseUp, 50, 50);
  ui.PostMouse(klpMouseDown, 250, 50);
  ui.Pump();
  EXPECT_EQ(ui.Log().drags, 2u);
}

TEST(HeadlessUI, ScriptedAnswersPixelsAndPNG) {
  CKLP_HeadlessUI ui;
  std::vector<std::string> seen;
  Client a;
  a.name = "a", a.seen = &seen;
  const KLP_WindowID w = ui.CreateWindow(Desc({10, 10, 14, 12}), &a);
  std::vector<KLP_MenuItem> items(3);
  items[1].separator = true;
  ui.AnswerMenu(2);
  ui.AnswerMenu(1);
  EXPECT_EQ(ui.PopupMenu(w, items, {5, 5}), 2);
  EXPECT_EQ(ui.PopupMenu(w, items, {5, 5}), -1);  // a separator is no choice
  EXPECT_EQ(ui.PopupMenu(w, items, {5, 5}), -1);  // dismissed
  EXPECT_EQ(ui.Log().menus.size(), 3u);
  ui.AnswerFile({true, "/tmp/x.klph"});
  KLP_FileQuestion q;
  q.save = true;
  EXPECT_EQ(ui.AskFile(q).path, "/tmp/x.klph");
  EXPECT_FALSE(ui.AskFile(q).chosen);
  EXPECT_EQ(ui.Log().questions.size(), 2u);
  // Bytes 0, R, G, B from a source rectangle to a window point.
  std::vector<uint8_t> src(8 * 4, 0);
  src[5 * 4 + 1] = 200;
  ui.DrawPixels(w, src.data(), 16, {1, 1, 3, 2}, {2, 1});
  uint8_t rgb[3];
  ASSERT_TRUE(ui.GetPixel(w, 2, 1, rgb));
  EXPECT_EQ(rgb[0], 200);
  EXPECT_FALSE(ui.GetPixel(w, 4, 0, rgb));
  const uint8_t shape[] = {0x70, 0xF0};  // (0, 0) outside
  ASSERT_TRUE(ui.SetWindowShape(w, shape, 1));
  klftest::TempDir dir;
  ASSERT_TRUE(ui.SavePNG(w, dir.File("w.png")));
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&img, dir.File("w.png").c_str()));
  img.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> back(PNG_IMAGE_SIZE(img));
  ASSERT_TRUE(png_image_finish_read(&img, nullptr, back.data(), 0, nullptr));
  EXPECT_EQ(img.width * 100 + img.height, 402u);
  EXPECT_EQ(back[3], 0);
  EXPECT_EQ(back[(1 * 4 + 2) * 4], 200);
  EXPECT_EQ(back[(1 * 4 + 2) * 4 + 3], 255);
}

// Once the scripted answers are used up an answerer answers (a random
// user), seeing what is asked; a menu answer is still checked.
TEST(HeadlessUI, AnswerersFollowTheScriptedAnswers) {
  CKLP_HeadlessUI ui;
  std::vector<KLP_MenuItem> items(3);
  items[2].disabled = true;
  size_t offered = 0;
  int32_t next = 1;
  ui.SetMenuAnswerer([&](const std::vector<KLP_MenuItem>& m) { return offered = m.size(), next; });
  ui.AnswerMenu(0);
  EXPECT_EQ(ui.PopupMenu(0, items, {0, 0}), 0);
  EXPECT_EQ(offered, 0u);
  EXPECT_EQ(ui.PopupMenu(0, items, {0, 0}), 1);
  EXPECT_EQ(offered, 3u);
  next = 2;
  EXPECT_EQ(ui.PopupMenu(0, items, {0, 0}), -1);  // disabled
  next = 7;
  EXPECT_EQ(ui.PopupMenu(0, items, {0, 0}), -1);
  ui.SetFileAnswerer([](const KLP_FileQuestion& q) { return KLP_FileAnswer{q.save, "/tmp/" + q.proposedName}; });
  KLP_FileQuestion q;
  q.proposedName = "a.klph";
  EXPECT_FALSE(ui.AskFile(q).chosen);
  q.save = true;
  EXPECT_EQ(ui.AskFile(q).path, "/tmp/a.klph");
  uint16_t rgb[3] = {1, 2, 3};
  EXPECT_EQ(ui.PickColor(0, "c", rgb), KLP_Picked::kCancelled);
  bool pick = false;
  ui.SetColourAnswerer([&](uint16_t c[3]) {
    if (pick) c[0] = c[1] = c[2] = 9;
    return pick;
  });
  EXPECT_EQ(ui.PickColor(0, "c", rgb), KLP_Picked::kCancelled);
  EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 6);
  pick = true;
  ui.AnswerColor(4, 5, 6);
  EXPECT_EQ(ui.PickColor(0, "c", rgb), KLP_Picked::kChosen);
  EXPECT_EQ(rgb[2], 6);
  EXPECT_EQ(ui.PickColor(0, "c", rgb), KLP_Picked::kChosen);
  EXPECT_EQ(rgb[2], 9);
}
