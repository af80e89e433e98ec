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

#include "CCutterMainPort.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlPreview.h"
#include "CKLF_CtrlSlider.h"
#include "CKLF_CtrlStaticText.h"
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
  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  void OnTimer(u16 id) override;
  u8 OnRMouseDown(i16, i16, u8) override { return 0; }
  u8 OnRMouseUp(i16, i16, u8) override { return 0; }
  u8 OnAboveControl(u32 id) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;

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
  const CKLF_String& GetStatusText() const { return m_statusText; }
  u8 GetStatusFade() const { return m_statusFade; }
  u8 GetZoom() const { return m_zoom; }
  u8 GetInfoUnits() const { return m_infoUnits; }
  void SetInfoUnits(u8 units) { m_infoUnits = units; }
  kltRECT_s GetPreviewRect() const { return m_previewRect; }
  u8 IsCreated() const { return m_created; }

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
  kltSIZE_s GetWindowPosition(const char* name, const char* parent) override;
  CEffectWindowServices* NewEffectWindow(u8 effect) override;
  void RecordLayoutUndoPoint() override;
  u8 ReadScriptParameters(CKLF_Mem& block) override;
  u8 WriteScriptParameters(const u8* data, u32 size) override;
  u8 ReadPluginFile(CKLF_Mem& block, const char* name) override;
  u8 WritePluginFile(const u8* data, u32 size, const char* name) override;
  // What an open effect window reads (through the Puzzle-mode model, its
  // owner) and the Cutter asks: the tips and Help menu are the
  // application's.
  CPluginMain* GetPluginObject() override { return m_plugin; }
  u32 GetCurrentPiece() override { return static_cast<u32>(m_pieceUnderMouse); }
  void GetTransparencyColors(kltRGBA8& first, kltRGBA8& second) override;
  CKLF_Window* GetMainWindow() override { return this; }
  void GetStatusTip(const char* name, const char* group, u8 enabled, u8 type, CKLF_String& tip) override;
  void FillHelpMenu(CKLF_PlatformPopupMenu* menu) override;
  void FillHelpMenu(CKLF_PlatformPopupMenu* menu, u8 flag) override;
  u8 HelpMenuDispatcher(u16 command, CKLF_Window* window) override;

  // ---- CLayoutView
  void RedrawSplitting() override;
  void RedrawRulers() override;
  void StatusProgress(i32 percent) override;

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
  // new one; 0 when it could not be opened. The bevel, hue/saturation,
  // colour overlay, motion blur, stroke and image overlay windows are
  // seams: they come with their own issue, and until then their openers
  // open nothing and answer 0.
  u8 pmfx_DoBlur() { return m_puzzle.pmfx_DoBlur(); }
  u8 pmfx_DoBrightContrast() { return m_puzzle.pmfx_DoBrightContrast(); }
  u8 pmfx_DoOpacity() { return m_puzzle.pmfx_DoOpacity(); }
  u8 pmfx_DoBevel() { return 0; }
  u8 pmfx_DoHSL() { return 0; }
  u8 pmfx_DoColorOverlay() { return 0; }
  u8 pmfx_DoMotionBlur() { return 0; }
  u8 pmfx_DoStroke() { return 0; }
  u8 pmfx_DoImageOverlay() { return 0; }

  // The preferences (the configuration store's "Preferences" records).
  const CPreferences& GetPreferences() const { return m_prefs; }

  // The first zoom index: 4 (1:1) without fitting, else 4 - k for the
  // smallest k in 0..4 at which the image shifted right by k fits the
  // preview (0 when none does).
  static u8 StartZoom(u32 imageWidth, u32 imageHeight, u32 viewWidth, u32 viewHeight, u8 fit);

 private:
  // One command of the window: a control by name and type, answered by a
  // member function. The table is the one place where controls and
  // commands meet their operations.
  struct COMMAND {
    Control control;
    u32 (CWnd_Main::*handler)(u16 msg, void* data);
  };
  static const COMMAND kCommands[];
  u32 i_OnApplyButton(u16 msg, void* data);
  u32 i_OnCancelButton(u16 msg, void* data);
  u32 i_OnHelpButton(u16 msg, void* data);
  u32 i_OnZoomSlider(u16 msg, void* data);
  u32 i_OnPreviewMessage(u16 msg, void* data);

  // Creation steps.
  u8 i_ReadRects();
  u8 i_AddFonts();
  u8 i_AddControls();
  void i_SetUpControls();
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
  CKLF_String m_statusText;
  u8 m_statusFade;
  u8 m_tick;
  kltPOS m_lastMouse;
  u8 m_mouseSeen;

  CPreferences m_prefs;

  // Images.
  kltPLUGINDATA_s* m_pluginData;
  CKLF_Image m_sourceImage;

  // Models.
  CLayoutEditor m_editor;
  CPuzzleModel m_puzzle;
  CSettingsPersistence m_settings;
  CMainProgress m_progress;
  u32 m_progressDepth;
};
