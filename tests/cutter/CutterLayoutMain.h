// A stand-in for the main window as the Cutter sees it, working on the real
// layout model: the layout editor (whose Cutter is the one opened beside
// it), the engine, the working image, the settings block for the Cutter's
// reset, the status tips and window positions recorded. Used by the Cutter
// window's tests, its real-display program and its benchmarks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "CCutterMainPort.h"
#include "CCutterServices.h"
#include "CKLF_Image.h"
#include "CKLF_Storage.h"
#include "CLayoutEditor.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"

struct CCutterLayoutMain : CCutterMainPort {
  // The document (RGB) the layout lies over; the default layout for it.
  ~CCutterLayoutMain() override { CloseCutter(); }

  // Layout mode as the main window opens it: the counts, the knife values
  // and the records of the engine's pieces handed over, the window made
  // through the registered factory and shown, the Layout-mode undo marked
  // empty. The Cutter, or null when it could not be made.
  CCutterServices* OpenCutter(kltSIZE_s position, CKLF_Window* parent) {
    CloseCutter();
    cutter = CCutterServices::New();
    if (!cutter) return nullptr;
    cutter->mainWindow = this;
    e.model.SetCutter(cutter);
    e.model.TellCutterLayout(*cutter);
    std::vector<u8> records(92u * engine.GetPieceCount());
    for (u32 i = 0; i < engine.GetPieceCount(); ++i) {
      CTessarette::SFX_ONEPIECE r;
      engine.PieceToRecord(i, r);
      CTessaretteRecordCodec::Encode(r, records.data() + 92u * i);
    }
    if (!cutter->SetPendingRecords(records.data(), engine.GetPieceCount()) ||
        !cutter->CreateCutterWindow(position, parent)) {
      CloseCutter();
      return nullptr;
    }
    cutter->ShowCutterWindow();
    e.undo.uncm_MarkEmpty();
    return cutter;
  }
  void CloseCutter() {
    e.model.SetCutter(nullptr);
    delete cutter;
    cutter = nullptr;
  }

  u8 SetImage(const CKLF_Image& source) {
    if (!image.Create(source.GetImageWidth(), source.GetImageHeight(), 1)) return 0;
    if (!image.GetMemObj()->Copy(source.GetMemObj(), 0, image.GetMemObj()->GetSize())) return 0;
    e.model.SetImageSize(image.GetImageWidth(), image.GetImageHeight());
    return e.model.settings_LoadDefaults();
  }
  void OnCutterUpdateShape(f32 s, f32 h, f32 u, u8 refill, u8 undo) override {
    e.shapes.OnCutterUpdateShape(s, h, u, refill, undo);
  }
  void OnCutterUpdateShape_FlipH(f32 s, f32 h, f32 u) override { e.shapes.OnCutterUpdateShape_FlipH(s, h, u); }
  void OnCutterUpdateShape_FlipU(f32 s, f32 h, f32 u) override { e.shapes.OnCutterUpdateShape_FlipU(s, h, u); }
  void OnCutterUpdateAntiAliasing(u8 on) override { e.shapes.OnCutterUpdateAntiAliasing(on); }
  void OnCutterUpdateRowsCols(u32 r, u32 c) override { e.grid.OnCutterUpdateRowsCols(r, c); }
  void OnCutterUpdateRowsCols_ShowLines(u32 r, u32 c) override { lines.push_back({r, c}); }
  u32 icGetIdealColumnsForRows(u32 r) override { return e.model.icGetIdealColumnsForRows(r); }
  u32 icGetIdealRowsForColumns(u32 c) override { return e.model.icGetIdealRowsForColumns(c); }
  void OnCutterUpdateKnifeThickness(u32 t, u8 thin) override { e.shapes.OnCutterUpdateKnifeThickness(t, thin); }
  void OnCutterUpdateKnifeSize(u32 s) override { e.shapes.OnCutterUpdateKnifeSize(s); }
  void uncm_SaveState(u32 kind, u32 sub) override { e.undo.uncm_SaveState(kind, sub); }
  u8 settings_SaveCurLayoutAndCellSettingsToMem(CKLF_Mem* block, u32& length) override {
    CSettingsBlock codec;
    return codec.Write(e.model, 0, nullptr, 0, block, length);
  }
  u8 settings_LoadCurLayoutAndCellSettingsFromMem(const u8* data, u32 length, u8) override {
    CSettingsBlock codec;
    const u8* records = nullptr;
    u32 count = 0;
    return codec.Read(e.model, data, length, &records, count);
  }
  void GetLayoutState(u16& v, u16& h, u8& razor, u8& aa) override {
    v = e.model.verticalLineCount;
    h = e.model.horizontalLineCount;
    razor = e.model.thinKnives;
    aa = e.model.antiAliasing;
  }
  u8 engine_PutLayoutToPuzzleEngine() override { return e.model.engine_PutLayoutToPuzzleEngine(engine); }
  CTessarette* GetEngine() override { return &engine; }
  CKLF_Image* GetWorkingImage() override { return &image; }
  void SetCutDone(u8 done) override { cutDone = done; }
  void OnCutterClose() override {
    ++closes;
    if (onClose) onClose();
  }
  CKLF_Storage* GetConfStore() override { return confOpen ? &conf : nullptr; }
  void PutWindowPosition(const char* name, const char* parent, kltPOS p) override {
    positions.push_back(std::string(name) + ">" + parent + " " + std::to_string(p.x) + "," + std::to_string(p.y));
  }
  void GetStatusTip(const char* control, const char* group, u8 enabled, u8 type, CKLF_String& tip) override {
    (void)tip.Format("%s/%s %u %u", group, control, enabled, type);  // a failure stays in tip
  }

  CCutterServices* cutter = nullptr;
  CLayoutEditor e;
  CTessarette engine;
  CKLF_Image image;
  CKLF_Storage conf;  // the caller opens it
  u8 confOpen = 0;
  u8 cutDone = 0;
  int closes = 0;
  std::vector<std::pair<u32, u32>> lines;
  std::vector<std::string> positions;
  std::function<void()> onClose;
};
