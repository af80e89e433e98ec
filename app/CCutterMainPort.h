// The main window as the Cutter calls it back. The main window implements
// it; the Cutter reaches the main window only through it (the main window
// never includes the Cutter's folder). Defaults do nothing and answer
// "nothing there", which is what a Cutter without a main window gets.
#pragma once

#include "CKLF_Mem.h"

class CKLF_Image;
class CTessarette;

class CCutterMainPort {
 public:
  virtual ~CCutterMainPort() {}

  // The knives follow the Cutter's shape with the three mutation amounts.
  virtual void OnCutterUpdateShape(f32 mutS, f32 mutH, f32 mutU, u8 refill, u8 undo) {
    (void)mutS, (void)mutH, (void)mutU, (void)refill, (void)undo;
  }
  virtual void OnCutterUpdateShape_FlipH(f32 mutS, f32 mutH, f32 mutU) { (void)mutS, (void)mutH, (void)mutU; }
  virtual void OnCutterUpdateShape_FlipU(f32 mutS, f32 mutH, f32 mutU) { (void)mutS, (void)mutH, (void)mutU; }
  virtual void OnCutterUpdateAntiAliasing(u8 on) { (void)on; }

  // Layout-mode undo point and the settings block of the layout and pieces.
  virtual void uncm_SaveState(u32 mode, u32 sub) { (void)mode, (void)sub; }
  virtual u8 settings_SaveCurLayoutAndCellSettingsToMem(CKLF_Mem* block, u32& length) {
    (void)block;
    length = 0;
    return 0;
  }
  virtual u8 settings_LoadCurLayoutAndCellSettingsFromMem(const u8* data, u32 length, u8 redraw) {
    (void)data, (void)length, (void)redraw;
    return 0;
  }
  // Inner line counts and the knife flags the Cutter mirrors.
  virtual void GetLayoutState(u16& verticalLines, u16& horizontalLines, u8& razorCut, u8& antiAliasing) {
    verticalLines = horizontalLines = 0;
    razorCut = antiAliasing = 1;
  }

  // The cut: the layout handed to the engine, the engine, the working image
  // (three colour planes) and the composite alpha (null when none).
  virtual u8 engine_PutLayoutToPuzzleEngine() { return 0; }
  virtual CTessarette* GetEngine() { return nullptr; }
  virtual CKLF_Image* GetWorkingImage() { return nullptr; }
  virtual u8* GetCompositeAlpha(u32& stride) {
    stride = 0;
    return nullptr;
  }
  virtual void SetCutDone(u8 done) { (void)done; }
  // The Cutter closed: reads its cut-made and layout-changed flags.
  virtual void OnCutterClose() {}
};
