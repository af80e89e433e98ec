// The main window as the Cutter calls it back. The main window implements
// it; the Cutter reaches the main window only through it (the main window
// never includes the Cutter's folder). Defaults do nothing and answer
// "nothing there", which is what a Cutter without a main window gets.
#pragma once

#include "CKLF_String.h"

class CKLF_Image;
class CKLF_PlatformPopupMenu;
class CKLF_Storage;
class CKLF_Window;
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

  // Rows and columns count cells (inner lines + 1), 1..100; kKeepCount
  // keeps a count. The grid is split evenly again and the Cutter's shape
  // re-applied.
  static constexpr u32 kKeepCount = 0xFFFFFFFF;
  virtual void OnCutterUpdateRowsCols(u32 rows, u32 columns) { (void)rows, (void)columns; }
  // The lines of those counts shown while a slider is dragged; the grid
  // itself is not changed.
  virtual void OnCutterUpdateRowsCols_ShowLines(u32 rows, u32 columns) { (void)rows, (void)columns; }
  // The count that keeps the document's cells near square for the other
  // count (1..100). Without a document: the same count, as on a square one.
  virtual u32 icGetIdealColumnsForRows(u32 rows) { return rows == 0 ? 1 : (rows > 100 ? 100 : rows); }
  virtual u32 icGetIdealRowsForColumns(u32 columns) { return columns == 0 ? 1 : (columns > 100 ? 100 : columns); }
  // Thickness (with the razor-cut flag) and knob size of the selected
  // knives, or of all when none is selected; each with an undo point.
  virtual void OnCutterUpdateKnifeThickness(u32 thickness, u8 thin) { (void)thickness, (void)thin; }
  virtual void OnCutterUpdateKnifeSize(u32 size) { (void)size; }
  // Triangle and hexagon layouts; the main window then sets the Cutter's
  // row and column fields through ExtSetRows and ExtSetColumns.
  virtual void AutoLayout_Triangles(u32 rows, u32 perRow, u8 regular) { (void)rows, (void)perRow, (void)regular; }
  virtual void AutoLayout_Hexagons(u32 rows, u32 columns, u8 regular) { (void)rows, (void)columns, (void)regular; }

  // Layout-mode undo point and the settings block of the layout and pieces.
  virtual void uncm_SaveState(u32 mode, u32 sub) { (void)mode, (void)sub; }
  // 0 only when memory ran out; without a layout, an empty block.
  virtual u8 settings_SaveCurLayoutAndCellSettingsToMem(CKLF_Mem* block, u32& length) {
    (void)block;
    length = 0;
    return 1;
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

  // ---- The plug-in object's and the application object's services, which
  // the Cutter reaches through the main window.
  // The configuration store ("plugin.conf"); null when it is not open.
  virtual CKLF_Storage* GetConfStore() { return nullptr; }
  // A window's position under "Windows Positions" in at (klNullSize:
  // centred, also when none is stored or the store is not open); 0 when
  // memory ran out reading it. Storing one: nothing when the store is not
  // open.
  [[nodiscard]] virtual u8 GetWindowPosition(const char* name, const char* parent, kltSIZE_s& at) {
    (void)name, (void)parent;
    at = klNullSize;
    return 1;
  }
  virtual void PutWindowPosition(const char* name, const char* parent, kltPOS position) {
    (void)name, (void)parent, (void)position;
  }
  // The status tip of a control name (empty with type 128: the group's
  // default; zones with type 255) within a group ("Cutter").
  virtual void GetStatusTip(const char* control, const char* group, u8 enabled, u8 type, CKLF_String& tip) {
    (void)control, (void)group, (void)enabled, (void)type;
    tip.Clear();
  }
  // The Help pop-up menu's items, and running one of its commands (1 when
  // the command was a help command and ran).
  virtual void FillHelpMenu(CKLF_PlatformPopupMenu* menu, u8 flag) { (void)menu, (void)flag; }
  virtual u8 HelpMenuDispatcher(u16 command, CKLF_Window* window) {
    (void)command, (void)window;
    return 0;
  }
};
