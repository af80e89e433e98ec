// What an effect window stands in, for the tests: the real Puzzle-mode
// model over a real cut as its main window (a stand-in port answers for the
// window: the plug-in object, the current piece, the checker colours, a
// recording main window that takes the accelerators), a plug-in object with
// its configuration store in a temporary folder, and the toolkit on the
// headless platform over the built UI resource file.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "CFXWindowFactory.h"
#include "CHostLayerSource.h"
#include "CKLF_App.h"
#include "CKLT_FilterHost.h"
#include "CKLP_HeadlessUI.h"
#include "CPluginMain.h"
#include "CWndFX_Base.h"
#include "app/PuzzleTestUtil.h"
#include "support/TestSupport.h"
#include "ui/UITestWindow.h"

namespace fxtest {

typedef std::vector<u8> Bytes;
typedef CTessarette T;
// The effects of the windows, and a piece's three copies of a record.
enum : u8 { kBlur = 0, kBevel = 1, kHSL = 2, kCovr = 3, kBC = 4, kMBlur = 5, kOpacity = 6, kStroke = 8, kIovr = 9 };
enum : u32 { R = T::FX_RENDERED, W = T::FX_WORKING, B = T::FX_BACKUP };

// A random source that answers from a script, then 0.
struct ScriptedRandom {
  static std::deque<int>& Draws() {
    static std::deque<int> draws;
    return draws;
  }
  static int Next() {
    std::deque<int>& d = Draws();
    if (d.empty()) return 0;
    const int v = d.front();
    d.pop_front();
    return v;
  }
};

// The model's opener of an effect's window; 0 when it did not open.
inline u8 OpenEffect(CPuzzleModel& m, u8 effect) {
  switch (effect) {
    case kBlur: return m.pmfx_DoBlur();
    case kBevel: return m.pmfx_DoBevel();
    case kHSL: return m.pmfx_DoHSL();
    case kCovr: return m.pmfx_DoColorOverlay();
    case kBC: return m.pmfx_DoBrightContrast();
    case kMBlur: return m.pmfx_DoMotionBlur();
    case kOpacity: return m.pmfx_DoOpacity();
    case kStroke: return m.pmfx_DoStroke();
    case kIovr: return m.pmfx_DoImageOverlay();
    default: return 0;
  }
}

// A layer of a host document whose planes cover its content rectangle
// (in document coordinates), of one colour and alpha.
struct TestLayer {
  int32_t id;
  std::string name;
  KLP_Rect32 content;
  kltRGBA8 colour;
};

inline void AddLayer(CKLT_FilterHost& host, const TestLayer& l) {
  CKLT_FilterHost::Layer hl;
  hl.id = l.id;
  hl.name = l.name;
  hl.rect = hl.bounds = l.content;
  const size_t n = static_cast<size_t>(l.content.right - l.content.left) * (l.content.bottom - l.content.top);
  hl.planes = {Bytes(n, l.colour.red), Bytes(n, l.colour.green), Bytes(n, l.colour.blue)};
  hl.transparency.assign(n, l.colour.alpha);
  host.AddLayer(std::move(hl));
}

// A cut of columns x rows cells of 16 pixels in Puzzle mode, every piece
// rendered, and the plug-in object its effect windows read.
struct Scene {
  klftest::TempDir dir;
  CPluginMain plugin;
  puzzletest::Puzzle puzzle;
  u8 kind;
  // The host the plug-in object may serve from: its colour picker and the
  // document's layers (the test's), over a document of the cut's size.
  CKLT_FilterHost host;
  int16_t result = 0;
  CHostLayerSource layers;

  Scene(u32 columns, u32 rows, u8 colorKind = 1)
      : puzzle(columns, rows, static_cast<i32>(columns * 16), static_cast<i32>(rows * 16), colorKind),
        kind(colorKind) {
    EXPECT_TRUE(host.SetDocument(klpModeRGB, static_cast<int32_t>(columns * 16), static_cast<int32_t>(rows * 16), false));
    Setup();
  }
  // The layout of a settings block over a document of w x h.
  Scene(const Bytes& block, i32 w, i32 h) : puzzle(block, w, h), kind(1) {
    EXPECT_TRUE(host.SetDocument(klpModeRGB, w, h, false));
    Setup();
  }
  void Setup() {
    KLP_FileRef folder;
    ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
    plugin.SetPluginFolder(folder);
    EXPECT_EQ(plugin.ConfStorage_Open("plugin.conf"), 1);
    plugin.GetPluginDataPtr()->colorKind = kind;
    puzzle.port.plugin = &plugin;
    puzzle.port.newWindow = CFXWindowFactory::New;
  }
  // The plug-in object bound to the host as at Start (the colour kind
  // kept), and the document's layers handed to the engine's image overlays.
  void Serve() {
    plugin.SetHostPointers(&host.Record(), nullptr, &result);
    EXPECT_EQ(plugin.FillPluginData(), 1);
    kltPLUGINDATA_s& pd = *plugin.GetPluginDataPtr();
    pd.colorKind = kind;
    layers.SetPlugin(&plugin);
    puzzle.engine.SetDocument({kind, pd.filterArea, pd.layerAccess, &layers});
  }
  CTessarette& Engine() { return puzzle.engine; }
  CTessarette::SPLITEDCELL& Piece(u32 i) { return puzzle.Piece(i); }
  u32 Count() const { return puzzle.engine.GetPieceCount(); }
  // The piece at the centre of cell k (by rows).
  u32 At(i32 k, i32 columns) { return static_cast<u32>(puzzle.AtCell(k, columns)); }
};

// One copy of one effect record of every piece, as bytes.
inline Bytes Copies(CTessarette& e, u8 effect, u32 copy) {
  const u32 size = CFXEffectRecords::RecordSize(effect);
  Bytes out;
  for (u32 i = 0; i < e.GetPieceCount(); ++i) {
    const u8* r = CFXEffectRecords::PieceRecord(*e.GetPiece(i), effect, copy);
    out.insert(out.end(), r, r + size);
  }
  return out;
}

// The toolkit on the headless platform with the built resources, and a
// scene whose main window opens effect windows.
class FXWindowTest : public ::testing::Test {
 protected:
  CKLP_HeadlessUI ui;
  CKLF_App app;
  UITestLog mainLog;
  std::unique_ptr<CKLT_RecordingWindow> mainWindow;
  std::unique_ptr<Scene> scene;

  void SetUp() override {
    KLP_SetUI(&ui);
    m_App = &app;
    ASSERT_EQ(app.InitStorgaeResource(KLF_UI_RESOURCE_FILE, 1), 1);
    mainWindow = std::make_unique<CKLT_RecordingWindow>();
    mainWindow->log = &mainLog;
    ASSERT_EQ(mainWindow->Create("Main", 0, 0, 640, 480, 1, nullptr, 0, 0), 1);
  }
  void TearDown() override {
    scene.reset();
    mainWindow.reset();
    m_App = nullptr;
    KLP_SetUI(nullptr);
  }
  // A new scene; its main window's effect window for an effect index, opened
  // by the model and made active; null when it could not be opened.
  CWndFX_Base* Open(u8 effect, u32 columns = 3, u32 rows = 2, u8 colorKind = 1) {
    scene = std::make_unique<Scene>(columns, rows, colorKind);
    scene->puzzle.port.mainWindow = mainWindow.get();
    return Reopen(effect);
  }
  CWndFX_Base* Reopen(u8 effect) {
    CPuzzleModel& m = scene->puzzle.model;
    CWndFX_Base* w = OpenEffect(m, effect) ? dynamic_cast<CWndFX_Base*>(m.effectWindow) : nullptr;
    if (!w) return nullptr;
    w->SetFocus();
    ui.Pump();
    return w;
  }
  CWndFX_Base* Window() { return scene ? dynamic_cast<CWndFX_Base*>(scene->puzzle.model.effectWindow) : nullptr; }
  puzzletest::Model& Model() { return scene->puzzle.model; }

  // A control of the open window by resource name and type.
  template <class C = CKLF_Control>
  C* Find(const std::string& name, u8 type) {
    CWndFX_Base* w = Window();
    for (u32 i = 0; w && i < w->GetControlCount(); ++i)
      if (w->GetControl(i)->GetName() == name.c_str() && w->GetControl(i)->GetType() == type)
        return static_cast<C*>(w->GetControl(i));
    return nullptr;
  }
  // A window point in global coordinates.
  KLP_Point Global(i32 x, i32 y) {
    const kltRECT_s r = Window()->GetWindowRect();
    return {r.left + x, r.top + y};
  }
  void Click(CKLF_Control* c) {
    ASSERT_NE(c, nullptr);
    const kltRECT_s r = c->GetRenderRect();
    const KLP_Point p = Global((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ui.PostClick(p.x, p.y);
    ui.Pump();
  }
  // The open window's controls by the suffix of their name.
  CKLF_CtrlEditLine* Edit(const char* suffix) { return Find<CKLF_CtrlEditLine>(Name(suffix), klCtrlEditLine); }
  CKLF_CtrlSlider* Slider(const char* suffix) { return Find<CKLF_CtrlSlider>(Name(suffix), klCtrlSlider); }
  CKLF_CtrlCheckBox* Box(const char* suffix) { return Find<CKLF_CtrlCheckBox>(Name(suffix), klCtrlCheckBox); }
  CKLF_CtrlButton* Button(const char* suffix) { return Find<CKLF_CtrlButton>(Name(suffix), klCtrlButton); }
  CKLF_CtrlRadioButton* Radio(const char* suffix) {
    return Find<CKLF_CtrlRadioButton>(Name(suffix), klCtrlRadioButton);
  }
  static std::string Text(CKLF_CtrlEditLine* e) { return e ? e->GetText().GetStr() : "<none>"; }
  void ClickButton(const char* suffix) { Click(Find(Name(suffix), klCtrlButton)); }
  void ClickBox(const char* suffix) { Click(Find(Name(suffix), klCtrlCheckBox)); }
  std::string Name(const char* suffix) { return std::string(Window()->ResName(suffix).GetStr()); }
  // Keys of a text into the active window: digits and the minus sign.
  void Type(const std::string& text) {
    for (char ch : text) {
      const u8 vk = ch == '-' ? 0x1B : klpVKDigits[ch - '0'];
      ui.PostKey(klpKeyDown, vk, static_cast<u8>(ch));
      ui.PostKey(klpKeyUp, vk, static_cast<u8>(ch));
    }
    ui.Pump();
  }
  void Key(u8 virtualKey) {
    ui.PostKey(klpKeyDown, virtualKey, 0);
    ui.PostKey(klpKeyUp, virtualKey, 0);
    ui.Pump();
  }
  // A text typed into an edit line over what it held, then Tab, which
  // commits it and leaves the window open (Return would close it as OK).
  void Enter(CKLF_Control* edit, const std::string& text) {
    Click(edit);
    Type(text);
    Key(kVKTab);
  }
  static constexpr u8 kVKTab = 0x30, kVKReturn = 0x24;
  // Drags a slider from point a to point b through the points between.
  void Drag(CKLF_CtrlSlider* s, u32 from, u32 to) {
    const KLP_Point a = SliderPoint(s, from);
    ui.PostMouse(klpMouseDown, a.x, a.y);
    const i32 step = from < to ? 1 : -1;
    for (u32 v = from; v != to; v = static_cast<u32>(static_cast<i32>(v) + step)) {
      const KLP_Point p = SliderPoint(s, v);
      ui.PostMouse(klpMouseDragged, p.x, p.y);
    }
    const KLP_Point b = SliderPoint(s, to);
    ui.PostMouse(klpMouseDragged, b.x, b.y);
    ui.PostMouse(klpMouseUp, b.x, b.y);
    ui.Pump();
  }
  // The global point of a slider's point of index i (on a straight track,
  // as the resource builder lays them: 8 pixels in from the left end).
  KLP_Point SliderPoint(CKLF_CtrlSlider* s, u32 i) {
    const kltRECT_s r = ResourceRect("UIResources>Sliders>" + std::string(s->GetName().GetStr()) + ">Background_Normal");
    const f64 t = static_cast<f64>(i) / (s->GetPointCount() - 1);
    return Global(static_cast<i32>(std::lround(r.left + 8 + t * (r.right - r.left - 17))), (r.top + r.bottom) / 2);
  }
  // The rectangle of an image record of the resources.
  kltRECT_s ResourceRect(const std::string& key) {
    CKLF_UIResources res(app.GetStorage());
    CKLF_Mem mem;
    kltRECT_s r = {0, 0, 0, 0};
    EXPECT_NE(res.LoadImageData(key.c_str(), &r, &mem), nullptr) << key;
    return r;
  }
  // The sample picture under the preview, run through an effect of our own.
  template <class Fx>
  std::vector<u8> Expected(Fx effect) {
    kltRECT_s pr;
    const u8* pixels = Window()->SampleImage()->GetStateMemPtr(1, &pr);
    CKLF_Image src, dst;
    const u16 w = static_cast<u16>(pr.right - pr.left), h = static_cast<u16>(pr.bottom - pr.top);
    EXPECT_EQ(src.Create(w, h, 2), 1);
    EXPECT_EQ(dst.Create(w, h, 2), 1);
    std::memcpy(src.GetMemObj()->GetPtr(), pixels, 4u * w * h);
    CKLF_ImageFX fx;
    EXPECT_TRUE(fx.SetSource(&src));
    EXPECT_TRUE(fx.SetDestination(&dst));
    effect(fx);
    const u8* d = dst.GetMemObj()->GetPtr();
    return std::vector<u8>(d, d + 4u * w * h);
  }
  // The result layer equals the image (the sample and the preview share
  // their rectangle in these windows).
  bool ResultIs(const std::vector<u8>& img) {
    CKLF_Layer& l = Window()->ResultLayer();
    const u32 n = 4u * l.GetImageWidth() * l.GetImageHeight();
    return img.size() == n && std::memcmp(l.GetMemObj()->GetPtr(), img.data(), n) == 0;
  }
  u32 Pixel(i32 x, i32 y) {
    u8 rgb[3] = {};
    EXPECT_TRUE(ui.GetPixel(Window()->GetWindowHandle(), x, y, rgb));
    return static_cast<u32>(rgb[0]) << 16 | rgb[1] << 8 | rgb[2];
  }
};

}  // namespace fxtest
