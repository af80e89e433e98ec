// The plug-in's main window, the hub of the dialog: the document in a
// zoomable preview with rulers, split rulers, scroll bars and a navigator,
// the tools of Layout mode (the knives) and of Puzzle mode (the pieces'
// effects), the info and status lines, and the ending of the run by Apply
// or Cancel. It is thin over the models: the layout editor, the puzzle
// model and the settings persistence do the work; the window routes its
// events to them and implements their ports (redraws, controls, progress,
// alerts, the Cutter's and the effect windows' call-backs). It reaches the
// Cutter only through CCutterServices and the effect windows only through
// CEffectWindowServices, both made by the factories the plug-in's assembly
// registers.
//
// After the run the shell reads applied, layoutMode and the result image.
//
// Cost: the source image (4 bytes a pixel of the filter rectangle) and, in
// Puzzle mode, the result image and selection map; three overlay layers of
// the preview's size. Limits: the images hold 16-bit sizes, so a filter
// rectangle above 65535 pixels a side is refused at creation.
#pragma once

#include <vector>

#include "CCutterMainPort.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlPreview.h"
#include "CKLF_CtrlSlider.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLF_StatusFade.h"
#include "CKLF_Window.h"
#include "CLayoutEditor.h"
#include "CLayoutView.h"
#include "CMainProgress.h"
#include "CMainWindowPort.h"
#include "CPreferences.h"
#include "CPuzzleModel.h"
#include "CSettingsPersistence.h"

class CCutterServices;
class CPluginMain;
struct kltPLUGINDATA_s;

class CWnd_Main : public CKLF_Window,
                  public CMainWindowPort,
                  public CLayoutView,
                  public CCutterMainPort {
 public:
  // The controls the window keeps by resource name and type, in the order
  // they are added.
  enum Control : u32 {
    kInfo, kStatus, kRulerTop, kRulerLeft, kRulerCoverTop, kRulerCoverLeft, kModeL, kModeP,
    kShow, kHide, kRevShowHide, kShowExtras, kHideExtras, kApply, kApplyLM, kCancel, kExport, kRelayout, kHelp,
    kCloseX, kMain, kSelect, kAdjust, kRuler, kAddKnives, kDelKnives, kResetKnots, kRndKnotsButton,
    kZoom, kRndKnotsSlider, kRndKnotsEdit,
    kScrollVBottom, kScrollVTop, kScrollV, kScrollHRight, kScrollHLeft, kScrollH, kNavigator,
    kControlCount
  };
  static constexpr u32 kEffectCount = 9;
  static constexpr u16 kTimerId = 1;
  static constexpr u32 kTimerMs = 30;

  // The plug-in object: its configuration store, its document and the
  // engine whose pieces Puzzle mode edits.
  explicit CWnd_Main(CPluginMain& plugin);
  ~CWnd_Main() override;

  CPluginMain* GetPlugin() const { return m_plugin; }

  // ---- Window
  void Close() override;
  // Makes the window's content and opens the Cutter, both hidden
  // (ShowMade shows them); 0 with the code (a Cutter that cannot be made
  // gives its own).
  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  void OnTimer(u16 id) override;
  u8 OnRMouseDown(i16, i16, u8) override { return 0; }
  u8 OnRMouseUp(i16, i16, u8) override { return 0; }
  u8 OnAboveControl(u32 id) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  void OnCtrlLostFocus(u32 id) override;

  // ---- Mouse and keys over the preview and the split rulers
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  u8 OnContextMenu(i16 x, i16 y, u8 mods) override;
  u8 OnKeyDown(u8 key, u8 mods) override;
  u8 OnKeyChar(u8 key, u8 mods) override;
  u8 OnSetCursor(i16 x, i16 y) override;

  // ---- Commands. Every accelerator, menu command and control message
  // goes through one table a vocabulary: a row names the command, its
  // guard, and for each mode its undo bracket and operation (none: the
  // command does nothing in that mode).
  enum VOCABULARY : u8 { kAcceleratorTable, kMenuTable, kControlTable };
  enum GUARD : u8 {
    kGuardFX = 1,         // refused (0) while an effect window is open
    kGuardFXQuiet = 2,    // nothing (1) while an effect window is open
    kGuardOtherMode = 4,  // refused (0), not passed (1), in the mode without an operation
    kGuardLayers = 8      // refused (0) when the engine may not read the document's layers
  };
  enum UNDO : u8 {
    kUndoNone,
    kUndoKnives,    // the knife flags: pre-save, the operation, the commit
    kUndoPieces,    // the pieces' records: pre-save, the operation, the commit
    kUndoKnots,     // the knot offsets: pre-save, the operation, the commit
    kUndoPaste,     // a global point before pasting a knife
    kUndoAddExtra,  // a global point before adding an extra knife
    kUndoDelExtra   // a global point before deleting extra knives
  };
  typedef u32 (*OPERATION)(CWnd_Main& w, u16 msg, void* data);
  struct ACTION {
    u8 undo;
    OPERATION run;
  };
  struct COMMANDROW {
    u32 code;  // the accelerator, the menu command or the Control
    u8 guard;
    ACTION layout;
    ACTION puzzle;
  };
  static const COMMANDROW* GetCommandTable(VOCABULARY v, u32& count);
  // The window's own ways into the tables, as the user's keys and menus.
  u32 RunAccelerator(u16 command) { return OnCtrlMessage(klMsgAccelerator, command, "", 255, nullptr); }
  u32 RunMenuCommand(u16 command) { return OnCtrlMessage(klMsgMenu, 0, "", 255, &command); }
  u32 ClickButton(Control c);

  // ---- Menus, built as item lists before they are shown.
  struct MENUITEM {
    const char* text;  // "--" for a separator
    u16 command;       // 65535 for a separator
    u8 mods;           // the shortcut shown: klModCommand, klModShift, klModOption
    const char* key;   // its key, "" for none
    u8 enabled;
    u8 marked;
  };
  struct MENULIST {
    static constexpr u32 kMax = 48;
    MENUITEM items[kMax];
    u32 count = 0;
    kltPOS at = {0, 0};  // window position of the menu
    void Add(const char* text, u16 command, u8 enabled = 1, u8 marked = 0, u8 mods = 0, const char* key = "");
    void Separator() { Add("--", 65535); }
    // The item of a command, or null.
    const MENUITEM* Find(u16 command) const;
  };
  // The menu of "Main_Main", "Main_Select" or "Main_Adjust" for the
  // current state (it records what the menu acts on, as showing it does).
  void BuildButtonMenu(Control button, MENULIST& out);
  // The preview's menu: at a window point, of the knives, knot or piece
  // there (setting the context they are chosen for), else the general one.
  void BuildPreviewMenu(kltPOS pos, MENULIST& out);
  void BuildMeasurementMenu(kltPOS pos, MENULIST& out);
  // The menu of a split ruler (left: the left one) at a window point; 0
  // when none opens there.
  u8 BuildSplitRulerMenu(u8 left, i16 x, i16 y, MENULIST& out);
  void DoPreviewMenu(kltPOS pos);
  void DoMesurementMenu(kltPOS pos);
  // Pops a built menu up; the choice comes back as a menu command.
  void ShowMenu(const MENULIST& menu);

  // ---- Layout mode's window side
  // Knot handles shown or hidden (Layout mode, no knot dragged).
  void cmop_Extras(u8 show, u8 redraw);
  // The random-knots controls and the amount applied to the knots.
  void OnSldrRandomKnots(u32 value, u8 dragging);
  void OnEditRandomKnots(const CKLF_String* text);
  void OnEditRandomKnotsLF();
  void OnUpdateKnotRandomize(f32 amount);
  // A split line inserted at a window point or deleted, each after a
  // global undo point; 0 (no point, nothing changed) when refused.
  u8 InsertLineAt(u8 column, i16 x, i16 y);
  u8 DeleteLine(u8 column, u16 line);
  // 1 when a line may be inserted at the window point: inside the
  // preview across the ruler and at a free position strictly inside the
  // image.
  u8 TestAllowRCInsertion(u8 column, i16 x, i16 y);

  // ---- Puzzle mode's window side: the drag outline and the selections
  // in preview coordinates.
  void i_pmop_PrepareSelLayer();
  void i_pmop_RedrawDragSelection(i16 x, i16 y);
  // rect: preview-local, right and bottom exclusive.
  void pmop_Sel_SelectRectLocal(kltRECT_s rect, u8 add, u8 remove, u8 redraw);
  // points: window points, x x 65536 + (y & 0xFFFF).
  void pmop_Sel_SelectFreeRgnLocal(const CKLF_DWordArray* points, u8 add, u8 remove, u8 redraw);

  // ---- What the mouse and the menus left for the commands.
  struct CONTEXT {
    CKLF_DWordArray knives;  // the knives a knife menu acts on
    u32 knot = 0xFFFFFFFFu;  // the knot a knot menu acts on
    u16 handleIndex = 0;     // the line of a split ruler's handle
    u8 handleOrientation = 0;  // 0 the top ruler (vertical lines), 1 the left
    kltPOS handleClickPos = {0, 0};
  };
  CONTEXT& Context() { return m_context; }
  // The drags in progress.
  u8 IsLineDragging() const { return m_drag.lineDrag; }
  u8 IsKnotDragging() const { return m_drag.knotDrag; }
  u8 IsDragSelecting() const { return m_drag.dragSelecting; }
  const CKLF_DWordArray& GetLassoPoints() const { return m_lassoPoints; }
  // The pixels the last move of a knot drag rendered.
  u64 GetLastKnotRenderArea() const { return m_drag.knotRenderArea; }

  // ---- Creation
  u8 GetSourceDataInRGBA();
  u8 SetSourceToNavigator();
  // Opens the Cutter and so enters Layout mode.
  void DoCutterWindow() override;

  // ---- Apply and close
  // 1 when the layout reached the engine; the settings are stored anyway.
  u8 OnApply();
  // The end of Apply and Cancel.
  void localClose();

  // ---- Dialogs (CWnd_Main_Dialogs.cpp): the exports of the pieces (Puzzle
  // mode) and of the knives (Layout mode), the selection of pieces from a
  // channel, and the preferences, which the window then shows. The
  // selection of knives from a channel asks AskChannelMap.
  void DoExportDialog();
  void DoExportLMDialog();
  void pmop_LoadSelection(u8 redraw);
  void DoPrefDialog();

  // ---- Info and status lines
  void UpdateInfoPanel(kltPOS pos, u8 imageSize);
  // The measures of a split line being dragged (vertical: a column line).
  void ShowLineInfo(u8 vertical, u16 line);
  void UpdateStatus(const char* text);
  void UpdateStatusProgress(const char* text, u8 percent);

  // ---- What the shell reads after the run.
  u8 IsApplied() const { return applied; }
  u8 IsLayoutMode() const { return m_puzzle.layoutMode; }
  CKLF_Image* GetResultImage() { return &m_puzzle.resultImage; }
  // Empties the two full-size display images (source and result).
  void FreeDisplayImages();

  // ---- The models and parts a test or the run may look at.
  CLayoutEditor& Editor() { return m_editor; }
  CPuzzleModel& Puzzle() { return m_puzzle; }
  CCutterServices* GetCutter() const { return m_cutter; }
  CKLF_CtrlPreview& Preview() { return m_preview; }
  CKLF_Control* GetNamedControl(Control c) const;
  CKLF_Control* GetEffectControl(u32 effect, u8 type) const;
  CKLF_Image& GetSourceImage() { return m_sourceImage; }
  const CKLF_String& GetStatusText() const { return m_fade.GetPending(); }
  u8 GetStatusFade() const { return m_fade.GetState(); }
  u8 GetZoom() const { return m_zoom; }
  u8 GetInfoUnits() const { return m_infoUnits; }
  void SetInfoUnits(u8 units) { m_infoUnits = units; }
  kltRECT_s GetPreviewRect() const { return m_previewRect; }
  u8 IsCreated() const { return m_created; }
  // Shows the window OnCreate made whole, then the Cutter it opened over
  // it, then the alert asked while it was being made, if any.
  void ShowMade();
  // The alert asked while the window was being made, held until the window
  // is shown or what was made is gone (texts of the window's own, which
  // live as long); false when none was asked.
  bool HeldAlert(const char*& text, const char*& title) const {
    text = m_heldText, title = m_heldTitle;
    return m_heldText != nullptr;
  }

  // ---- CMainWindowPort
  void RedrawPreview(u8 navigator) override;
  void SetPreviewMask(const u8* map, u32 rowLength) override;
  void SetPreviewData() override;
  void RedrawLayout() override;
  void SetControlState(const CModeControls::CONTROLSTATE& state) override;
  void SetControlCheck(const char* name, u8 on) override;
  void OnChangeExtrasState() override;
  void OnModeChanged(u8 layoutMode) override;
  CKLF_Progress* BeginProgress(const char* caption) override;
  void EndProgress() override;
  void PumpEvents() override;
  void Alert(const char* text, const char* title) override;
  i32 AskMessageBox(const char* header, const char* text, u8 buttons, u8 icon) override;
  void CloseWindow() override { localClose(); }
  u8 GetWindowPosition(const char* name, const char* parent, kltSIZE_s& at) override;
  CEffectWindowServices* NewEffectWindow(u8 effect) override;
  u8 AskSaveFile(const FILEQUESTION& q, WriterProc writer, void* data) override;
  u8 AskOpenFile(const FILEQUESTION& q, CKLF_String& path) override;
  void RecordLayoutUndoPoint() override;
  u8 ReadScriptParameters(CKLF_Mem& block, u16& error) override;
  u8 WriteScriptParameters(const u8* data, u32 size, u16& error) override;
  u8 ReadPluginFile(CKLF_Mem& block, const char* name, u16& error) override;
  u8 WritePluginFile(const u8* data, u32 size, const char* name, u16& error) override;
  // What an open effect window reads (through the Puzzle-mode model, its
  // owner) and the Cutter asks: the tips and Help menu are the
  // application's.
  CPluginMain* GetPluginObject() override { return m_plugin; }
  u32 GetCurrentPiece() override { return static_cast<u32>(m_pieceUnderMouse); }
  void GetTransparencyColors(kltRGBA8& first, kltRGBA8& second) override;
  void GetFrameColors(kltRGBA8& first, kltRGBA8& second) override;
  CKLF_Window* GetMainWindow() override { return this; }
  void GetStatusTip(const char* name, const char* group, u8 enabled, u8 type, CKLF_String& tip) override;
  void FillHelpMenu(CKLF_PlatformPopupMenu* menu) override;
  void FillHelpMenu(CKLF_PlatformPopupMenu* menu, u8 flag) override;
  u8 HelpMenuDispatcher(u16 command, CKLF_Window* window) override;

  // ---- CLayoutView
  void RedrawSplitting() override;
  void RedrawRulers() override;
  void StatusProgress(i32 percent) override;
  void OnKnifeSelectionChanged() override;
  void OnKnotSelectionChanged() override;
  void ShowKnotRandomAmount(u32 percent) override;
  // The channel selection dialog for knives.
  u8 AskChannelMap(u8 anyKnifeSelected, CHANNELMAP& choice) override;

  // ---- CCutterMainPort (what the Cutter calls back)
  void OnCutterUpdateShape(f32 mutS, f32 mutH, f32 mutU, u8 refill, u8 undo) override;
  void OnCutterUpdateShape_FlipH(f32 mutS, f32 mutH, f32 mutU) override;
  void OnCutterUpdateShape_FlipU(f32 mutS, f32 mutH, f32 mutU) override;
  void OnCutterUpdateAntiAliasing(u8 on) override;
  void OnCutterUpdateRowsCols(u32 rows, u32 columns) override;
  void OnCutterUpdateRowsCols_ShowLines(u32 rows, u32 columns) override;
  u32 icGetIdealColumnsForRows(u32 rows) override { return m_editor.model.icGetIdealColumnsForRows(rows); }
  u32 icGetIdealRowsForColumns(u32 columns) override { return m_editor.model.icGetIdealRowsForColumns(columns); }
  void OnCutterUpdateKnifeThickness(u32 thickness, u8 thin) override;
  void OnCutterUpdateKnifeSize(u32 size) override;
  void AutoLayout_Triangles(u32 rows, u32 perRow, u8 regular) override;
  void AutoLayout_Hexagons(u32 rows, u32 columns, u8 regular) override;
  void uncm_SaveState(u32 mode, u32 sub) override;
  u8 settings_SaveCurLayoutAndCellSettingsToMem(CKLF_Mem* block, u32& length) override;
  u8 settings_LoadCurLayoutAndCellSettingsFromMem(const u8* data, u32 length, u8 redraw) override;
  void GetLayoutState(u16& verticalLines, u16& horizontalLines, u8& razorCut, u8& antiAliasing) override;
  u8 engine_PutLayoutToPuzzleEngine() override;
  CTessarette* GetEngine() override;
  CKLF_Image* GetWorkingImage() override { return &m_sourceImage; }
  u8* GetCompositeAlpha(u32& stride) override;
  void SetCutDone(u8 done) override;
  void OnCutterClose() override;
  CKLF_Storage* GetConfStore() override;
  void PutWindowPosition(const char* name, const char* parent, kltPOS position) override;

  // ---- Effect windows (Puzzle mode): the open window is replaced by the
  // new one; 0 when it could not be opened (hue/saturation: on an RGB
  // document only).
  u8 pmfx_DoBlur() { return m_puzzle.pmfx_DoBlur(); }
  u8 pmfx_DoBrightContrast() { return m_puzzle.pmfx_DoBrightContrast(); }
  u8 pmfx_DoOpacity() { return m_puzzle.pmfx_DoOpacity(); }
  u8 pmfx_DoBevel() { return m_puzzle.pmfx_DoBevel(); }
  u8 pmfx_DoHSL() { return m_puzzle.pmfx_DoHSL(); }
  u8 pmfx_DoColorOverlay() { return m_puzzle.pmfx_DoColorOverlay(); }
  u8 pmfx_DoMotionBlur() { return m_puzzle.pmfx_DoMotionBlur(); }
  u8 pmfx_DoStroke() { return m_puzzle.pmfx_DoStroke(); }
  u8 pmfx_DoImageOverlay() { return m_puzzle.pmfx_DoImageOverlay(); }

  // The preferences (the configuration store's "Preferences" records).
  const CPreferences& GetPreferences() const { return m_prefs; }

  // The first zoom index: 4 (1:1) without fitting, else 4 - k for the
  // smallest k in 0..4 at which the image shifted right by k fits the
  // preview (0 when none does).
  static u8 StartZoom(u32 imageWidth, u32 imageHeight, u32 viewWidth, u32 viewHeight, u8 fit);

 private:
  // The drags of the mouse (line, knot, piece selection).
  struct DRAG {
    u8 lineDrag = 0;
    u8 lineDragRow = 0;      // 0 a vertical line (top ruler), 1 horizontal
    u16 lineDragHandle = 0;  // the handle in its ruler's table
    u16 lineDragLine = 0;    // the handle's line
    i16 lineDragGrab = 0;    // mouse minus handle along the ruler at the press
    f32 lineStart = 0;       // the line's position at the press
    u8 knotDrag = 0;
    u32 knotDragId = 0;
    kltPOS knotDragGrab = {0, 0};
    u8 knotMoved = 0;
    f32 knotStart[2] = {0, 0};  // the knot's offsets at the press
    u64 knotRenderArea = 0;
    u8 piecePressed = 0;
    kltPOS piecePressPos = {0, 0};
    u8 dragSelecting = 0;
    u8 dragRectMode = 0;     // 1 rectangle, 0 lasso
    kltRECT_s outline = klNullRect;  // the outline's last bounds, preview-local
  };

  // The tables (CWnd_Main_Commands.cpp).
  static const COMMANDROW kAcceleratorRows[];
  static const COMMANDROW kMenuRows[];
  static const COMMANDROW kControlRows[];
  static const u32 kAcceleratorRowCount, kMenuRowCount, kControlRowCount;
  u32 i_Run(const COMMANDROW& row, u16 msg, void* data);
  void i_PreUndo(u8 undo);
  void i_PostUndo(u8 undo);
  u32 i_OnEffectControl(u32 effect, u8 checkBox);
  u32 i_OnHelpButton();
  u32 i_OnButtonMenu(Control c);
  u32 i_OnZoomSlider(u16 msg, void* data);
  u32 i_OnPreviewMessage(u16 msg, void* data);
  u32 i_SetZoom(i32 value);
  u8 i_FitZoom();
  u32 i_SetUnits(u8 units);
  u32 i_CopyContextKnife();
  u32 i_ResetKnot(u32 knot);
  u32 i_SwitchFX(u8 effect, u8 explicitValue, u8 value);
  // Pieces exist and piece 0 is the splitter (the knives are not thin).
  u8 i_HasSplitter() const;
  // The export of the mode: the knives in Layout mode, else the pieces.
  u32 i_DoExport();

  // Menus (CWnd_Main_Menus.cpp).
  // 0 none, 1 some, 2 all of the knives (Layout) or pieces are selected.
  u8 i_SelectionState() const;
  void i_MainMenu(MENULIST& out);
  void i_SelectMenu(MENULIST& out);
  void i_AdjustMenu(MENULIST& out);
  void i_EffectItems(u16 mask, MENULIST& out);
  u8 i_KnifeItems(kltPOS local, MENULIST& out);
  u8 i_PieceItems(kltPOS pos, MENULIST& out);
  void i_GeneralItems(MENULIST& out);
  kltPOS i_MenuPlace(Control c) const;

  // Mouse (CWnd_Main_Mouse.cpp).
  // The handle of a split ruler under a window point: its index, or -1.
  i32 i_HandleAt(u8 left, i16 x, i16 y) const;
  u8 i_InRect(kltRECT_s r, i16 x, i16 y) const { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }
  u8 i_InPreview(i16 x, i16 y) const { return i_InRect(m_previewRect, x, y); }
  u8 i_RulerPress(u8 left, u32 handle, i16 x, i16 y, u8 mods);
  u8 i_KnotPress(i16 x, i16 y, u8 mods);
  u8 i_KnifePress(i16 x, i16 y, u8 mods);
  void i_PuzzlePress(i16 x, i16 y, u8 mods);
  void i_ZoneTip(i16 x, i16 y);
  i32 i_PuzzleCursor(i16 x, i16 y);
  i32 i_LayoutCursor(i16 x, i16 y, u8 keys);

  // Drags (CWnd_Main_Drag.cpp).
  void i_StartLineDrag(u8 left, u32 handle, i16 x, i16 y);
  void i_MoveLine(i16 x, i16 y);
  void i_EndLineDrag();
  void i_StartKnotDrag(u32 knot, i16 x, i16 y, kltRECT_s handle);
  void i_MoveKnot(i16 x, i16 y);
  void i_EndKnotDrag();
  // The knives that move with a knot, their moving flags set.
  [[nodiscard]] u8 i_MarkMovingKnives(u32 knot);
  void i_TellStoreFailure(u16 error);
  kltRECT_s i_KnifeBox(u32 id);
  // Escape: the dragged line or knot back where it was, no undo point.
  void i_CancelLayoutDrag();
  // The overlay layers shown as the last layout redraw left them.
  void i_ShowOverlays();
  void i_StartDragSelection(u8 rectangle, i16 x, i16 y);
  void i_EndDragSelection(i16 x, i16 y, u8 option);
  void i_CancelDragSelection();
  void i_RenderPreviewPart(kltRECT_s local);

  // Creation steps.
  [[nodiscard]] u8 i_Make();
  // Opens the Cutter into Layout mode; 0 with the Cutter's code.
  [[nodiscard]] u8 i_OpenCutter();
  [[nodiscard]] u8 i_ReadRects();
  u8 i_AddFonts();
  u8 i_AddControls();
  // 0 without memory for the text controls' tabs.
  [[nodiscard]] u8 i_SetUpControls();
  u8 i_AddSplitRulers();
  u8 i_CheckDocumentSize();
  u8 i_BindPreview();
  u8 i_AddOverlayLayers();
  void i_StartRandomKnots();
  // Layout mode's window side once the Cutter is open (or absent).
  void i_EnterLayoutMode();
  // The layers and rulers the layout drawing fills, and its view.
  void i_BindDrawing();
  // The preview bound to an image with the window's scroll bars, rulers
  // and navigator; 0 when it refused.
  u8 i_SetPreviewImage(CKLF_Image* image);
  void i_RedrawPreviewRect();
  // The preview's checker and margin colours from the preferences.
  void i_ShowPreferenceColours();
  // Renders and shows the two split rulers as their layers hold them.
  void i_ShowSplitRulers();
  void i_ShowModeImages();
  // The status line's text set at once at full opacity.
  void i_SetStatusNow(const char* text, u8 opacity);
  // The piece part of the info line, the piece under pos refreshed.
  CKLF_String i_PieceInfo(kltPOS pos);
  void i_MouseCheck();
  void i_Fade();
  i32 i_ControlId(Control c) const { return m_ids[c]; }

  // Links and outcome.
  CPluginMain* m_plugin;
  CCutterServices* m_cutter;
  u8 applied;
  u8 m_created;
  i16 m_failedResult;  // a host result other than cancel for a failed apply

  // Fonts and controls.
  i32 m_smallFont;
  i32 m_infoFont;
  i32 m_editFont;
  i32 m_ids[kControlCount];
  i32 m_fxButtons[kEffectCount];
  i32 m_fxSwitches[kEffectCount];
  CKLF_CtrlStaticText* m_info;
  CKLF_CtrlStaticText* m_status;
  CKLF_CtrlSlider* m_zoomSlider;
  CKLF_CtrlEditLine* m_rndKnotsEdit;
  u8 m_cutterFailed;  // the last Cutter could not be created
  u8 m_making;        // OnCreate runs: alerts are held
  const char* m_heldText;
  const char* m_heldTitle;

  // Preview.
  CKLF_CtrlPreview m_preview;
  i32 m_previewId;
  kltRECT_s m_previewRect;

  // Overlay layers of the preview (knives, selected or moving knives,
  // knot handles) and the two split rulers, with their indices.
  CKLF_Layer m_knivesLayer;
  CKLF_Layer m_movingKnivesLayer;
  CKLF_Layer m_knotHandlesLayer;
  i32 m_overlayIndex[3];
  CKLF_Layer m_splitRulers[2];  // top (vertical lines), left
  i32 m_splitRulerIndex[2];
  kltRECT_s m_splitRulerRect[2];

  // View state.
  u8 m_zoom;
  kltPOS m_viewOffset;
  i32 m_pieceUnderMouse;
  kltPOS m_lastMouseImagePos;
  u8 m_infoUnits;
  kltPOS m_infoPos;
  CKLF_StatusFade m_fade;  // the status line's text being shown or coming
  u8 m_tick;
  kltPOS m_lastMouse;
  u8 m_mouseSeen;

  CPreferences m_prefs;
  CKLF_Mem m_channelMap;  // the last map the channel dialog chose

  // Images.
  kltPLUGINDATA_s* m_pluginData;
  CKLF_Image m_sourceImage;

  // Commands and the mouse.
  CONTEXT m_context;
  DRAG m_drag;
  CKLF_DWordArray m_lassoPoints;
  CKLF_DWordArray m_movingKnives;
  std::vector<kltRECT_s> m_movingBoxes;  // their places before a move
  CKLF_DWordArray m_hits;  // the knives under a click
  CKLF_ImageDrawing m_outlineDraw;
  i32 m_zone;  // the zone whose tip shows, -1 none
  u8 m_zoneState;

  // Models.
  CLayoutEditor m_editor;
  CPuzzleModel m_puzzle;
  CSettingsPersistence m_settings;
  CMainProgress m_progress;
  u32 m_progressDepth;
};
