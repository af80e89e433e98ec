// The main window's commands for the real-display tests, on the plug-in
// linked in and assembled as the shared library assembles itself:
//   klt_maincommands --points PICTURE PLUGIN_FOLDER   runs the dialog on the
//       headless platform and prints, in window coordinates, the places the
//       test presses: "knot A X Y to X Y" and "knot B X Y to X Y" (two inner
//       knots of the picture's first layout and points past their
//       neighbouring lines), "apply X Y", "button NAME X Y" for the four
//       menu buttons and Cancel, "knife X Y" (a point of the first knife), "splitter
//       X Y" (the top split ruler between its handles) and "units X Y" (the
//       top ruler); then cancels.
//   klt_maincommands --expect PICTURE PLUGIN_FOLDER   the same dialog with
//       the edit the drags make given to the layout model directly (knot
//       A one line right and one row down, knot B one line left), applied:
//       the plug-in stores the settings block in PLUGIN_FOLDER's
//       "last.data" for a replay.
//   klt_maincommands --puzzle PICTURE PLUGIN_FOLDER   the dialog on the
//       display; a stand-in for the Cutter cuts the first layout at once, so
//       the main window is in Puzzle mode, then "ready at X,Y" is printed
//       with the same "button" lines and "piece X Y"; the run ends when the
//       window closes.
//   klt_maincommands --fxpoints PICTURE PLUGIN_FOLDER   the dialog on the
//       headless platform: prints the Cutter's controls ("cutter NAME/TYPE
//       X Y", window coordinates), presses its "Cutter_Cut", prints the
//       rectangle the test drags over the preview ("drag X Y to X Y") and
//       the main window's controls ("main ..."), opens the blur window from
//       "Main_FXBlur" and prints its controls ("blur ..."), then the colour
//       overlay's window from "Main_FXCOver" ("overlay window NAME", then
//       "overlay ..."), then the preferences' controls and swatches
//       ("pref ..."); then cancels.
//   klt_maincommands --fxexpect PICTURE PLUGIN_FOLDER RADIUS1 RADIUS2   the
//       same cut, the pieces of the same rectangle selected through the
//       model, their blur records set to the radius spread to the right
//       from RADIUS1 to RADIUS2 (printed: "radii R ...", -1 for a piece
//       without blur), the pieces rendered and the dialog applied: the
//       plug-in stores its block in PLUGIN_FOLDER's "last.data".
//   klt_maincommands --enlarge PICTURE FACTOR OUT   writes the picture with
//       each pixel made FACTOR x FACTOR (a large document whose renders
//       take a while) as OUT.
// Exit codes: 0 done, 1 the picture or the run failed, 2 bad command line.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "CApp.h"
#include "CCutterServices.h"
#include "CCutterSession.h"
#include "CKLP_HeadlessUI.h"
#include "CKLT_FilterHost.h"
#include "CKLT_HostDocument.h"
#include "CWnd_Cutter.h"
#include "KLF_BigEndian.h"
#include "KLF_PluginAssembly.h"
#include "KLF_PluginEntry.h"
#include "plugin/SpreadExpectation.h"

namespace {

typedef CWnd_Main W;

CWnd_Main& Main() { return static_cast<CApp*>(m_App)->GetMainWindow(); }

kltPOS Centre(W::Control c) {
  const kltRECT_s r = Main().GetNamedControl(c)->GetRenderRect();
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

kltPOS Knot(u32 id) {
  const CLayoutModel::KNOT& k = Main().Editor().model.knots[id];
  const kltRECT_s v = Main().GetPreviewRect();
  return {v.left + static_cast<i32>(k.x + 0.5), v.top + static_cast<i32>(k.y + 0.5)};
}

// The two knots the test drags: the first two inner ones of row 1.
u32 KnotA() { return Main().Editor().model.knotColumns + 1; }
u32 KnotB() { return Main().Editor().model.knotColumns + 2; }

void PrintButtons(kltPOS origin) {
  const struct {
    const char* name;
    W::Control c;
  } buttons[] = {{"Main", W::kMain}, {"Select", W::kSelect}, {"Adjust", W::kAdjust}, {"Help", W::kHelp},
                 {"Cancel", W::kCancel}};
  for (const auto& b : buttons) {
    const kltPOS p = Centre(b.c);
    std::printf("button %s %d %d\n", b.name, origin.x + p.x, origin.y + p.y);
  }
}

void PrintPoints() {
  const kltRECT_s v = Main().GetPreviewRect();
  const kltPOS a = Knot(KnotA()), b = Knot(KnotB());
  std::printf("knot A %d %d to %d %d\n", a.x, a.y, v.right - 3, v.bottom - 3);
  std::printf("knot B %d %d to %d %d\n", b.x, b.y, v.left + 3, b.y);
  const kltPOS apply = Centre(W::kApplyLM);
  std::printf("apply %d %d\n", apply.x, apply.y);
  PrintButtons({0, 0});
  const CLayoutModel::KNIFESTRUCT& k = Main().Editor().model.vKnives[0];
  const kltFPOS* p = reinterpret_cast<const kltFPOS*>(k.polyline->GetPtr());
  const kltFPOS at = p[(k.polylineCount - 1) / 5];
  std::printf("knife %d %d\n", v.left + static_cast<i32>(at.x + 0.5), v.top + static_cast<i32>(at.y + 0.5));
  std::printf("splitter %d %d\n", v.left + (a.x - v.left) / 2, v.top - 2);
  const kltPOS units = Centre(W::kRulerTop);
  std::printf("units %d %d\n", units.x, units.y);
}

// The edit the real-display test makes with the mouse, given to the model.
void Edit() {
  CLayoutModel& m = Main().Editor().model;
  m.knots[KnotA()].dx = 1.0f;
  m.knots[KnotA()].dy = 1.0f;
  m.knots[KnotB()].dx = -1.0f;
  Main().RedrawLayout();
}

// A stand-in for the Cutter: a small plain window that cuts the layout as
// the Cutter does a moment after it opens, then closes.
class StandIn : public CCutterServices, public CKLF_Window {
 public:
  u8 CreateCutterWindow(kltSIZE_s, CKLF_Window* parent) override {
    return Create("Cutter", 1180, 900, 80, 60, 1, parent, 0, 1) && SetTimer(400, 1);
  }
  void ShowCutterWindow() override { Show(); }
  void opSetShapeFromData(SPLINE_STRUCT*, u8) override {}
  i32 ExtSetRows(u16 r) override { return rows = BringInto1to100(r), 0; }
  i32 ExtSetColumns(u16 c) override { return columns = BringInto1to100(c), 0; }
  void NotifiedByMain_NewThickness(u16 t, u8, u8) override { thickness = BringInto1to100(t); }
  void NotifiedByMain_NewKnobSize(u16 s, u8) override { knobSize = CapAt100(s); }
  void SetInitialStatesToControls() override {}
  void settings_SaveWindowPosition() override {}
  u8 settings_SaveLastKnife() override { return 1; }
  void OnTimer(u16 id) override {
    if (id != 1) return;
    KillTimer(1);
    CTessarette* e = mainWindow->GetEngine();
    CKLF_Image* image = mainWindow->GetWorkingImage();
    u8* planes[5];
    u32 stride = 0, alphaStride = 0;
    if (!image->GetImageChannels(planes, stride) || !mainWindow->engine_PutLayoutToPuzzleEngine()) return;
    e->FreeSpliting();
    u8* alpha = mainWindow->GetCompositeAlpha(alphaStride);
    if (!e->SplitCells(image->GetImageWidth(), image->GetImageHeight(), alpha, alphaStride, planes, stride, 3, 0, 80, 0))
      return;
    for (u32 i = 0; i < e->GetPieceCount(); ++i)
      if (!e->RenderPiece(i)) return;
    mainWindow->SetCutDone(1);
    Close();
    mainWindow->OnCutterClose();
    const kltRECT_s w = Main().GetWindowRect(), v = Main().GetPreviewRect();
    std::printf("ready at %d,%d\n", w.left, w.top);
    PrintButtons({w.left, w.top});
    const kltPOS piece = {w.left + (v.left + v.right) / 2 - 40, w.top + (v.top + v.bottom) / 2 - 40};
    std::printf("piece %d %d\n", piece.x, piece.y);
    std::fflush(stdout);
  }
};

CCutterServices* NewStandIn() { return new StandIn(); }

// ---- The blur spread over a rectangle of pieces (--fxpoints, --fxexpect)

// Each control's centre, window coordinates; for a slider, which shows no
// rectangle, each of its points ("PREFIX NAME/1 K X Y").
void PrintControls(const char* prefix, CKLF_Window& w) {
  for (u32 i = 0; i < w.GetControlCount(); ++i) {
    CKLF_Control* c = w.GetControl(i);
    const char* name = c->GetName().GetStr();
    CKLF_Mem coors;
    if (c->GetType() == klCtrlSlider &&
        m_App->GetStorage()->GetRec(CKLF_String("UIResources>Sliders>") + name + ">Data_Coors", coors) == 1) {
      for (u32 k = 0; 5 * (k + 1) <= coors.GetSize(); ++k)
        std::printf("%s %s/%u %u %d %d\n", prefix, name, c->GetType(), k, KLF_GetBE16(coors.GetPtr() + 5 * k),
                    KLF_GetBE16(coors.GetPtr() + 5 * k + 2));
      continue;
    }
    const kltRECT_s r = c->GetRenderRect();
    std::printf("%s %s/%u %d %d\n", prefix, name, c->GetType(), (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }
}

CKLF_Control* Named(CKLF_Window& w, const char* name, u8 type) {
  for (u32 i = 0; i < w.GetControlCount(); ++i)
    if (std::strcmp(w.GetControl(i)->GetName().GetStr(), name) == 0 && w.GetControl(i)->GetType() == type)
      return w.GetControl(i);
  return nullptr;
}

void ClickOn(CKLP_HeadlessUI& ui, CKLF_Window& w, CKLF_Control* c) {
  const kltRECT_s wr = w.GetWindowRect(), r = c->GetRenderRect();
  ui.SelectWindow(w.GetWindowHandle());
  ui.PostClick(wr.left + (r.left + r.right) / 2, wr.top + (r.top + r.bottom) / 2);
  ui.Pump();
}

CWnd_Cutter* CutterWindow() {
  auto* session = dynamic_cast<CCutterSession*>(Main().GetCutter());
  return session ? session->GetWindow() : nullptr;
}

// "Cutter_Cut" pressed: the Cutter cuts and closes into Puzzle mode.
bool Cut(CKLP_HeadlessUI& ui) {
  CWnd_Cutter* cutter = CutterWindow();
  if (!cutter || !cutter->GetCtrl(CWnd_Cutter::kCut)) return false;
  ClickOn(ui, *cutter, cutter->GetCtrl(CWnd_Cutter::kCut));
  return !Main().IsLayoutMode() && Main().GetEngine()->GetPieceCount() > 1;
}

// The window point of an image point in the preview.
kltPOS ImageToWindow(i32 x, i32 y) {
  const kltPOS o = Main().Preview().GetOffset();
  const i32 z = Main().Preview().GetZoom() - 4;
  auto scale = [z](i32 v) { return z >= 0 ? v << z : v >> -z; };
  const kltRECT_s v = Main().GetPreviewRect();
  return {v.left + scale(x) - o.x, v.top + scale(y) - o.y};
}

// The rectangle the test drags: across the top of the picture, clear of
// the knobs of the pieces below the first row.
void SelectionDrag(kltPOS& from, kltPOS& to) {
  const i32 w = static_cast<i32>(Main().Puzzle().GetWidth()), h = static_cast<i32>(Main().Puzzle().GetHeight());
  from = ImageToWindow(w * 12 / 100, h * 6 / 100);
  to = ImageToWindow(w * 88 / 100, h * 22 / 100);
}

// The preferences dialog, opened as "Preferences..." does: its controls
// and its swatches' rectangles ("pref NAME/rect X Y"), then cancelled.
bool PrintPrefPoints(CKLP_HeadlessUI& ui) {
  bool seen = false;
  ui.Script([&ui, &seen] {
    auto* w = dynamic_cast<CKLF_Window*>(ui.GetWindowClient(ui.GetActiveWindow()));
    if (!w || std::strcmp(w->GetName().GetStr(), "Pref") != 0) return;
    PrintControls("pref", *w);
    for (const char* name : {"Pref_TCB1", "Pref_TCB2", "Pref_TSolid", "Pref_FCB1", "Pref_FCB2", "Pref_FSolid"}) {
      kltRECT_s r;
      if (w->GetResourceRect(name, r)) std::printf("pref %s/rect %d %d\n", name, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    seen = true;
    w->EndModal(0);
  });
  Main().DoPrefDialog();
  return seen;
}

bool PrintBlurPoints(CKLP_HeadlessUI& ui) {
  CWnd_Cutter* cutter = CutterWindow();
  if (!cutter) return false;
  PrintControls("cutter", *cutter);
  if (!Cut(ui)) return false;
  kltPOS a, b;
  SelectionDrag(a, b);
  std::printf("drag %d %d to %d %d\n", a.x, a.y, b.x, b.y);
  PrintControls("main", Main());
  CKLF_Control* opener = Named(Main(), "Main_FXBlur", klCtrlButton);
  if (!opener) return false;
  ClickOn(ui, Main(), opener);
  auto* fx = dynamic_cast<CKLF_Window*>(Main().Puzzle().effectWindow);
  if (!fx || std::strcmp(fx->GetName().GetStr(), "FXblur") != 0) return false;
  PrintControls("blur", *fx);
  fx->Close();
  // The colour overlay's window, opened the same way.
  CKLF_Control* overlay = Named(Main(), "Main_FXCOver", klCtrlButton);
  if (!overlay) return false;
  ClickOn(ui, Main(), overlay);
  fx = dynamic_cast<CKLF_Window*>(Main().Puzzle().effectWindow);
  if (!fx || !fx->GetWindowHandle()) return false;
  std::printf("overlay window %s\n", fx->GetName().GetStr());
  PrintControls("overlay", *fx);
  fx->Close();
  if (!PrintPrefPoints(ui)) return false;
  Main().localClose();
  return true;
}

// What the real-display test does with the mouse and keys, given to the
// models: the dragged rectangle's pieces selected, the spread's radii
// written and rendered, then "Apply".
bool ApplyBlurSpread(CKLP_HeadlessUI& ui, i32 first, i32 second) {
  if (!Cut(ui)) return false;
  kltPOS a, b;
  SelectionDrag(a, b);
  const kltRECT_s v = Main().GetPreviewRect();
  // The drag's rectangle holds the release point.
  Main().pmop_Sel_SelectRectLocal({a.x - v.left, a.y - v.top, b.x + 1 - v.left, b.y + 1 - v.top}, 1, 0, 1);
  CTessarette& e = *Main().GetEngine();
  const std::vector<int> radii = spreadexpect::BlurRadii(e, CFXSpread::kRight, first, second);
  CKLF_DWordArray changed;
  if (!spreadexpect::SetBlurRecords(e, radii, changed) || changed.GetSize() == 0 || !Main().Puzzle().pmop_RerenderPieces(&changed, 1, 0)) return false;
  std::printf("radii");
  for (int r : radii) std::printf(" %d", r);
  std::printf("\n");
  return Main().ClickButton(W::kApply) == 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: klt_maincommands --points|--expect|--puzzle|--fxpoints PICTURE PLUGIN_FOLDER\n"
               "       klt_maincommands --fxexpect PICTURE PLUGIN_FOLDER RADIUS1 RADIUS2\n"
               "       klt_maincommands --enlarge PICTURE FACTOR OUT\n");
  return 2;
}

// The document's one layer with each pixel made factor x factor.
bool Enlarge(CKLT_HostDocument& doc, int factor) {
  CKLT_HostDocument::Layer& l = doc.layers[0];
  if (factor < 1 || factor > 8 || static_cast<int64_t>(l.width) * factor > 30000 ||
      static_cast<int64_t>(l.height) * factor > 30000)
    return false;
  const int32_t w = l.width * factor, h = l.height * factor;
  for (std::vector<uint8_t>& plane : l.planes) {
    std::vector<uint8_t> big(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        big[static_cast<size_t>(y) * w + x] = plane[static_cast<size_t>(y / factor) * l.width + x / factor];
    plane.swap(big);
  }
  doc.width = l.width = w;
  doc.height = l.height = h;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string mode = argv[1];
  const bool fxExpect = mode == "--fxexpect", enlarge = mode == "--enlarge";
  if (argc != (fxExpect ? 6 : enlarge ? 5 : 4)) return Usage();
  if (mode != "--points" && mode != "--expect" && mode != "--puzzle" && mode != "--fxpoints" && !fxExpect && !enlarge)
    return Usage();
  const i32 first = fxExpect ? std::atoi(argv[4]) : 0, second = fxExpect ? std::atoi(argv[5]) : 0;
  CKLT_HostDocument doc;
  std::string error;
  if (doc.ReadFile(argv[2], uint64_t(1) << 32, error) != CKLT_HostDocument::kOk || doc.layers.size() != 1 ||
      !doc.LayerCoversCanvas(doc.layers[0]) || !doc.layers[0].alpha.empty()) {
    std::fprintf(stderr, "klt_maincommands: %s: %s\n", argv[2], error.empty() ? "not one opaque layer" : error.c_str());
    return 1;
  }
  if (enlarge) {
    if (!Enlarge(doc, std::atoi(argv[3])) || !doc.Write(argv[4], error)) {
      std::fprintf(stderr, "klt_maincommands: %s: %s\n", argv[4], error.empty() ? "bad factor" : error.c_str());
      return 1;
    }
    return 0;
  }
  CKLT_FilterHost host;
  if (!host.SetDocument(doc.mode, doc.width, doc.height, false, false)) {
    std::fprintf(stderr, "%s: the document cannot be served\n", "klt_maincommands");
    return 1;
  }
  for (int c = 0; c < doc.ColourPlanes(); ++c) host.Plane(c) = doc.layers[0].planes[static_cast<size_t>(c)];
  host.SetResolution(doc.resolution, doc.ResolutionDown());
  char folder[PATH_MAX];
  if (!realpath(argv[3], folder)) {
    std::fprintf(stderr, "klt_maincommands: no folder %s\n", argv[3]);
    return 1;
  }
  CKLP_HeadlessUI headless;
  std::unique_ptr<CKLP_UIPlatform> display;
  if (mode == "--puzzle") {
    display.reset(KLP_OpenDisplayUI());
    if (!display) {
      std::fprintf(stderr, "klt_maincommands: no display\n");
      return 1;
    }
    KLP_SetUI(display.get());
  } else {
    // The display backend puts one scroll arrow at each end.
    headless.SetScrollArrowStyle(1);
    KLP_SetUI(&headless);
  }
  KLF_SetPluginFolderOverride(folder);
  KLF_AssemblePlugin();
  if (mode == "--puzzle") CCutterServices::SetFactory(NewStandIn);
  bool done = mode == "--puzzle";
  headless.Script([&] {
    if (!m_App) return;
    if (mode == "--points") {
      PrintPoints();
      Main().localClose();
    } else if (mode == "--fxpoints") {
      done = PrintBlurPoints(headless);
    } else if (fxExpect) {
      done = ApplyBlurSpread(headless, first, second);
    } else {
      Edit();
      done = Main().ClickButton(W::kApplyLM) == 1;
    }
    if (!done && Main().GetWindowHandle()) Main().localClose();
  });
  const int16_t result = host.RunFilter(PluginMain, true);
  CCutterServices::SetFactory(nullptr);
  KLP_SetUI(nullptr);
  const int16_t expected = mode == "--expect" || fxExpect ? klpResNoErr : klpResUserCanceled;
  if ((mode != "--points" && !done) || result != expected) {
    std::fprintf(stderr, "klt_maincommands: the dialog ended with %d\n", result);
    return 1;
  }
  return 0;
}
