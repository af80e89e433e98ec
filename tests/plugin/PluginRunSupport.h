// The plug-in's dialog run on the headless platform: the plug-in linked
// into the test and assembled as the shared library assembles itself, its
// folder a temporary one holding the built UI resource file, a document in
// the in-memory filter host, and scripted steps that press the window's
// buttons. A small Cutter of the tests' own stands in for the Cutter
// window: it opens as a plain window and can cut as the Cutter does (the
// layout to the engine, the pieces cut and rendered, then closed).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "CApp.h"
#include "CCutterServices.h"
#include "CKLP_HeadlessUI.h"
#include "CKLT_FilterHost.h"
#include "CTessarette.h"
#include "KLF_PluginAssembly.h"
#include "KLF_PluginEntry.h"
#include "support/TestSupport.h"

namespace plugintest {

typedef std::vector<uint8_t> Bytes;

// What the tests' Cutters did, for every test to read.
struct CutterLog {
  int alive = 0;
  int made = 0;
  int windowsRefused = 0;
  u16 rows = 0, columns = 0, thickness = 0, knob = 0;
  u8 thicknessMixed = 0, knobMixed = 0, thin = 0, antiAliasing = 0;
  u32 records = 0;
  Bytes firstRecord;
  int lastKnivesSaved = 0;
  int positionsSaved = 0;
  bool refuseWindow = false;  // the next Cutters cannot make their window
};
inline CutterLog g_cutters;

class TestCutter : public CCutterServices, public CKLF_Window {
 public:
  TestCutter() {
    ++g_cutters.alive;
    ++g_cutters.made;
  }
  ~TestCutter() override { --g_cutters.alive; }

  u8 CreateCutterWindow(kltSIZE_s, CKLF_Window* parent) override {
    CutterLog& l = g_cutters;
    l.rows = rows, l.columns = columns, l.antiAliasing = antiAliasing, l.records = pendingRecordCount;
    l.firstRecord.assign(pendingRecords, pendingRecords + (pendingRecordCount ? kPieceRecordSize : 0));
    if (l.refuseWindow) {
      ++l.windowsRefused;
      return 0;
    }
    return Create("Cutter", 20, 20, 160, 90, 1, parent, 0, 1);
  }
  void opSetShapeFromData(SPLINE_STRUCT*, u8) override {}
  i32 ExtSetRows(u16 r) override { return rows = BringInto1to100(r), 0; }
  i32 ExtSetColumns(u16 c) override { return columns = BringInto1to100(c), 0; }
  void NotifiedByMain_NewThickness(u16 t, u8 mixed, u8 thin) override {
    thickness = BringInto1to100(t);
    g_cutters.thickness = thickness, g_cutters.thicknessMixed = mixed, g_cutters.thin = thin;
  }
  void NotifiedByMain_NewKnobSize(u16 size, u8 mixed) override {
    knobSize = CapAt100(size);
    g_cutters.knob = knobSize, g_cutters.knobMixed = mixed;
  }
  void SetInitialStatesToControls() override {}
  void settings_SaveWindowPosition() override { ++g_cutters.positionsSaved; }
  u8 settings_SaveLastKnife() override { return ++g_cutters.lastKnivesSaved, 1; }

  // The Cutter's cut as the main window sees it: the layout handed over,
  // the working image cut, every piece rendered; then the Cutter closes.
  u8 CutAndClose() {
    CTessarette* e = mainWindow->GetEngine();
    CKLF_Image* image = mainWindow->GetWorkingImage();
    u8* planes[5];
    u32 stride = 0, alphaStride = 0;
    if (!e || !image || !image->GetImageChannels(planes, stride) || !mainWindow->engine_PutLayoutToPuzzleEngine())
      return 0;
    e->FreeSpliting();
    u8* alpha = mainWindow->GetCompositeAlpha(alphaStride);
    if (!e->SplitCells(image->GetImageWidth(), image->GetImageHeight(), alpha, alphaStride, planes, stride, 3, 0, 80, 0))
      return 0;
    for (u32 i = 0; i < e->GetPieceCount(); ++i)
      if (!e->RenderPiece(i)) return 0;
    mainWindow->SetCutDone(1);
    Close();
    mainWindow->OnCutterClose();
    return 1;
  }
};

inline CCutterServices* NewTestCutter() { return new TestCutter(); }

// One dialog or replay run of the plug-in on a document.
struct PluginRun {
  klftest::TempDir dir;
  CKLP_HeadlessUI ui;
  CKLT_FilterHost host;

  explicit PluginRun(bool resources = true, bool cutter = true) {
    if (resources) {
      EXPECT_TRUE(klftest::WriteFileBytes(dir.File(CApp::kResourceFile), klftest::ReadFileBytes(KLF_UI_RESOURCE_FILE)));
    }
    KLF_SetPluginFolderOverride(dir.Path().c_str());
    KLP_SetUI(&ui);
    KLF_AssemblePlugin();
    g_cutters = CutterLog();
    CCutterServices::SetFactory(cutter ? NewTestCutter : nullptr);
  }
  ~PluginRun() {
    CCutterServices::SetFactory(nullptr);
    KLP_SetUI(nullptr);
    KLF_SetPluginFolderOverride(nullptr);
  }

  // A document of the mode whose planes are a smooth picture with a little
  // noise (so pieces differ), w x h.
  void Document(int16_t mode, int32_t w, int32_t h, bool transparency = false, uint32_t seed = 5) {
    std::mt19937 rng(seed);
    host.SetDocument(mode, w, h, transparency);
    for (int p = 0; p < host.PlaneCount(); ++p)
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
          host.Plane(p)[static_cast<size_t>(y) * w + x] =
              static_cast<uint8_t>((x * (p + 3) + y * (5 - p) + static_cast<int>(rng() % 7)) & 255);
  }
  std::vector<Bytes> Planes() const {
    std::vector<Bytes> out;
    for (int i = 0; i < host.PlaneCount(); ++i) out.push_back(host.Plane(i));
    return out;
  }
  void SetPlanes(const std::vector<Bytes>& p) {
    for (int i = 0; i < host.PlaneCount(); ++i) host.Plane(i) = p[static_cast<size_t>(i)];
  }

  int16_t Dialog() { return host.RunFilter(PluginMain, true); }
  int16_t Replay() { return host.RunFilter(PluginMain, false); }
  int16_t About() { return host.Call(PluginMain, klpSelectorAbout); }

  // The application's windows while it runs.
  static CApp* App() { return static_cast<CApp*>(m_App); }
  static CWnd_Main* Main() { return App() ? &App()->GetMainWindow() : nullptr; }
  static TestCutter* Cutter() { return Main() ? dynamic_cast<TestCutter*>(Main()->GetCutter()) : nullptr; }

  // A step the run's loop takes when it has nothing else to do.
  void Then(std::function<void()> step) { ui.Script(std::move(step)); }
  // A click at a point of a window, made active first.
  void ClickAt(CKLF_Window& w, i32 x, i32 y) {
    ui.SelectWindow(w.GetWindowHandle());
    const kltRECT_s wr = w.GetWindowRect();
    ui.PostClick(wr.left + x, wr.top + y);
  }
  // A click on the middle of a control of a window.
  void Click(CKLF_Window& w, CKLF_Control* c) {
    ASSERT_TRUE(c);
    const kltRECT_s r = c->GetRenderRect();
    ClickAt(w, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }
  void Click(CWnd_Main::Control c) { Click(*Main(), Main()->GetNamedControl(c)); }
  // The mouse over a control of the main window.
  void Hover(CWnd_Main::Control c) {
    const kltRECT_s wr = Main()->GetWindowRect(), r = Main()->GetNamedControl(c)->GetRenderRect();
    ui.PostMouse(klpMouseMoved, wr.left + (r.left + r.right) / 2, wr.top + (r.top + r.bottom) / 2);
  }
  // "last.data" as the run left it.
  Bytes LastData() const { return klftest::ReadFileBytes(dir.File("last.data")); }
};

}  // namespace plugintest
