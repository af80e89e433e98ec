// The plug-in's dialog run on the headless platform: the plug-in linked
// into the test and assembled as the shared library assembles itself (the
// real Cutter and effect windows), its folder a temporary one holding the
// built UI resource file, a document in the in-memory filter host, and
// scripted steps that press the windows' buttons.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "CApp.h"
#include "CCutterSession.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLF_Storage.h"
#include "CKLP_HeadlessUI.h"
#include "CKLT_FilterHost.h"
#include "CTessarette.h"
#include "CWnd_Cutter.h"
#include "KLF_BigEndian.h"
#include "KLF_PluginAssembly.h"
#include "KLF_PluginEntry.h"
#include "support/TestSupport.h"

namespace plugintest {

typedef std::vector<uint8_t> Bytes;

// A Cutter whose window cannot be made, for the runs that must meet one.
struct RefusingCutter : CCutterServices {
  static inline int alive = 0, refused = 0;
  RefusingCutter() { ++alive; }
  ~RefusingCutter() override { --alive; }
  u8 CreateCutterWindow(kltSIZE_s, CKLF_Window*) override { return ++refused, 0; }
  void opSetShapeFromData(SPLINE_STRUCT*, u8) override {}
  i32 ExtSetRows(u16) override { return 0; }
  i32 ExtSetColumns(u16) override { return 0; }
  void NotifiedByMain_NewThickness(u16, u8, u8) override {}
  void NotifiedByMain_NewKnobSize(u16, u8) override {}
  void SetInitialStatesToControls() override {}
  void settings_SaveWindowPosition() override {}
  u8 settings_SaveLastKnife() override { return 1; }
  static CCutterServices* New() { return new RefusingCutter(); }
};

// One dialog or replay run of the plug-in on a document.
struct PluginRun {
  klftest::TempDir dir;
  CKLP_HeadlessUI ui;
  CKLT_FilterHost host;

  // Without cutter, the runs meet no Cutter at all.
  explicit PluginRun(bool resources = true, bool cutter = true) {
    if (resources) {
      EXPECT_TRUE(klftest::WriteFileBytes(dir.File(CApp::kResourceFile), klftest::ReadFileBytes(KLF_UI_RESOURCE_FILE)));
    }
    KLF_SetPluginFolderOverride(dir.Path().c_str());
    KLP_SetUI(&ui);
    KLF_AssemblePlugin();
    if (!cutter) CCutterServices::SetFactory(nullptr);
  }
  ~PluginRun() {
    KLF_AssemblePlugin();
    KLP_SetUI(nullptr);
    KLF_SetPluginFolderOverride(nullptr);
  }

  // A document of the mode whose planes are a smooth picture with a little
  // noise (so pieces differ), w x h.
  void Document(int16_t mode, int32_t w, int32_t h, bool transparency = false, uint32_t seed = 5) {
    std::mt19937 rng(seed);
    ASSERT_TRUE(host.SetDocument(mode, w, h, transparency));
    for (int p = 0; p < host.PlaneCount(); ++p)
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
          host.Plane(p)[static_cast<size_t>(y) * w + x] =
              static_cast<uint8_t>((x * (p + 3) + y * (5 - p) + static_cast<int>(rng() % 7)) & 255);
  }
  // A layer of the document of one colour and alpha over content (document
  // coordinates); the layer being filtered when document is set (its
  // pixels are the document's planes).
  void Layer(int32_t id, const char* name, KLP_Rect32 content, kltRGBA8 colour, bool document = false) {
    CKLT_FilterHost::Layer l;
    l.id = id;
    l.name = name;
    l.rect = l.bounds = content;
    l.document = document;
    if (!document) {
      const size_t n = static_cast<size_t>(content.right - content.left) * (content.bottom - content.top);
      l.planes = {Bytes(n, colour.red), Bytes(n, colour.green), Bytes(n, colour.blue)};
      l.transparency.assign(n, colour.alpha);
    }
    host.AddLayer(std::move(l));
  }
  std::vector<Bytes> Planes() const {
    std::vector<Bytes> out;
    for (int i = 0; i < host.PlaneCount(); ++i) out.push_back(host.Plane(i));
    return out;
  }
  void SetPlanes(const std::vector<Bytes>& p) {
    for (int i = 0; i < host.PlaneCount(); ++i) host.Plane(i) = p[static_cast<size_t>(i)];
  }

  // Records the run finds in its configuration store when it starts.
  void Store(const std::function<void(CKLF_Storage&)>& write) {
    CKLF_Storage conf;
    ASSERT_EQ(conf.Open(CKLF_String(dir.File("plugin.conf").c_str()), 2), 1);
    write(conf);
    ASSERT_EQ(conf.Close(), 1);
  }

  int16_t Dialog() { return host.RunFilter(PluginMain, true); }
  int16_t Replay() { return host.RunFilter(PluginMain, false); }
  // The planes a replay of the stored block writes over the document
  // before (the planes are left so).
  std::vector<Bytes> ReplayOver(const std::vector<Bytes>& before) {
    SetPlanes(before);
    EXPECT_EQ(Replay(), klpResNoErr);
    return Planes();
  }
  // After a run that applied: the planes it wrote, which must differ from
  // before and which the replay of the block it stored writes again from
  // before.
  std::vector<Bytes> ExpectReplayed(const std::vector<Bytes>& before) {
    const std::vector<Bytes> applied = Planes();
    EXPECT_NE(applied, before);
    EXPECT_EQ(ReplayOver(before), applied);
    return applied;
  }
  int16_t About() { return host.Call(PluginMain, klpSelectorAbout); }

  // The application's windows while it runs.
  static CApp* App() { return static_cast<CApp*>(m_App); }
  static CWnd_Main* Main() { return App() ? &App()->GetMainWindow() : nullptr; }
  static CCutterSession* Cutter() { return Main() ? dynamic_cast<CCutterSession*>(Main()->GetCutter()) : nullptr; }
  static CWnd_Cutter* CutterWindow() { return Cutter() ? Cutter()->GetWindow() : nullptr; }

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
  void Click(CWnd_Cutter::CONTROL c) { Click(*CutterWindow(), CutterWindow()->GetCtrl(c)); }
  // "Cutter_Cut" pressed, and the cut run to its end (the Cutter then
  // closes and the main window is in Puzzle mode).
  void Cut() {
    ASSERT_TRUE(CutterWindow());
    Click(CWnd_Cutter::kCut);
    ui.Pump();
  }
  // Clicks into an edit line of a window, types over its text and leaves
  // it with Tab.
  void Type(CKLF_Window& w, CKLF_Control* edit, const std::string& text) {
    Click(w, edit);
    ui.Pump();
    for (char ch : text) {
      ui.PostKey(klpKeyDown, klpVKNone, static_cast<u8>(ch));
      ui.PostKey(klpKeyUp, klpVKNone, static_cast<u8>(ch));
    }
    ui.PostKey(klpKeyDown, 0x30, '\t');
    ui.PostKey(klpKeyUp, 0x30, '\t');
    ui.Pump();
  }
  // The mouse over the middle of a control of a window.
  void Hover(CKLF_Window& w, CKLF_Control* c) {
    ASSERT_TRUE(c);
    const kltRECT_s wr = w.GetWindowRect(), r = c->GetRenderRect();
    ui.PostMouse(klpMouseMoved, wr.left + (r.left + r.right) / 2, wr.top + (r.top + r.bottom) / 2);
  }
  void Hover(CWnd_Main::Control c) { Hover(*Main(), Main()->GetNamedControl(c)); }
  // A mouse event at a point of the main window with the platform's
  // modifier bits (klpCmdKey ...), which stay held until the next event.
  void MouseAt(uint16_t kind, i32 x, i32 y, uint32_t mods = 0, uint8_t button = 1) {
    const kltRECT_s wr = Main()->GetWindowRect();
    ui.SelectWindow(Main()->GetWindowHandle());
    ui.PostMouse(kind, wr.left + x, wr.top + y, button, mods);
    ui.Pump();
  }
  // A press, moves in steps and a release, from a to b (window points).
  void DragIn(i32 ax, i32 ay, i32 bx, i32 by, uint32_t mods = 0, int steps = 4) {
    MouseAt(klpMouseDown, ax, ay, mods);
    for (int i = 1; i <= steps; ++i)
      MouseAt(klpMouseDragged, ax + (bx - ax) * i / steps, ay + (by - ay) * i / steps, mods);
    MouseAt(klpMouseUp, bx, by, mods);
  }
  // A key pressed and released on the main window.
  void Key(uint8_t virtualKey, uint8_t charCode, uint32_t mods = 0) {
    ui.SelectWindow(Main()->GetWindowHandle());
    ui.PostKey(klpKeyDown, virtualKey, charCode, mods);
    ui.PostKey(klpKeyUp, virtualKey, charCode, mods);
    ui.Pump();
  }
  // "last.data" as the run left it.
  Bytes LastData() const { return klftest::ReadFileBytes(dir.File("last.data")); }
  // Whether the configuration store holds a record (after the run).
  bool Stored(const char* key) const {
    CKLF_Storage conf;
    return conf.Open(CKLF_String(dir.File("plugin.conf").c_str()), 1) &&
           conf.GetRecType(key) != CKLF_Storage::klRecMissing;
  }
};

// A window's first control of that resource name and type.
template <class T = CKLF_Control>
T* Named(CKLF_Window& w, const char* name, u8 type) {
  for (u32 i = 0; i < w.GetControlCount(); ++i)
    if (w.GetControl(i)->GetName() == name && w.GetControl(i)->GetType() == type) return static_cast<T*>(w.GetControl(i));
  return nullptr;
}

// Point k of a window's slider (the resources lay each of its points),
// global.
inline KLP_Point SliderPoint(CKLF_Window& w, const char* name, u32 k) {
  CKLF_Mem coors;
  EXPECT_EQ(m_App->GetStorage()->GetRec(CKLF_String("UIResources>Sliders>") + name + ">Data_Coors", coors), 1);
  const kltRECT_s r = w.GetWindowRect();
  if (coors.GetSize() < 5 * (k + 1)) return {0, 0};
  return {r.left + KLF_GetBE16(coors.GetPtr() + 5 * k), r.top + KLF_GetBE16(coors.GetPtr() + 5 * k + 2)};
}

// The main window's opener of an effect's window (by effect index); 0 for
// invert, which has none.
inline u8 OpenEffect(CWnd_Main& w, u8 effect) {
  static u8 (CWnd_Main::*const kOpeners[10])() = {
      &CWnd_Main::pmfx_DoBlur,         &CWnd_Main::pmfx_DoBevel,          &CWnd_Main::pmfx_DoHSL,
      &CWnd_Main::pmfx_DoColorOverlay, &CWnd_Main::pmfx_DoBrightContrast, &CWnd_Main::pmfx_DoMotionBlur,
      &CWnd_Main::pmfx_DoOpacity,      nullptr,                           &CWnd_Main::pmfx_DoStroke,
      &CWnd_Main::pmfx_DoImageOverlay};
  return effect < 10 && kOpeners[effect] ? (w.*kOpeners[effect])() : 0;
}

// Every tip a window's status line may show (each control's, in every
// state of the window, its zones' and its own) lies inside the line.
inline void ExpectTipsFit(CKLF_Window& w, CKLF_CtrlStaticText* status, const char* group, std::vector<u8> states,
                          std::vector<const char*> zones) {
  ASSERT_TRUE(status);
  const CKLF_String keep = status->GetText();
  auto fits = [&](const char* name, u8 state, u8 type) {
    status->SetText(CApp::GetStatusTip(name, group, state, type));
    EXPECT_TRUE(status->TextFits()) << group << " " << name << ": " << status->GetShownText().GetStr();
  };
  for (u8 state : states) {
    for (u32 i = 0; i < w.GetControlCount(); ++i)
      fits(w.GetControl(i)->GetName().GetStr(), state, w.GetControl(i)->GetType());
    for (const char* zone : zones) fits(zone, state, 255);
    fits("", state, 128);
  }
  status->SetText(keep.GetStr());
}

}  // namespace plugintest
