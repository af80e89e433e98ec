// Puzzle mode without a window: the main window's state over the engine's
// piece array and every operation the user runs on the pieces.
//  - Effects: the effect on-mask of pieces, switching one effect, copying,
//    pasting and resetting whole effect sets, the rule of which working
//    record changes need a render, the re-render of changed pieces and the
//    recombination of their union into the result image, the effect
//    windows' opening and the effect mode they lock the window in.
//  - Selection: the pieces' selected bytes kept in step with the selection
//    map (one byte a pixel of the filter area, 255 under selected pieces),
//    by click, block, rectangle, polygon, at random, by visibility or from
//    a channel map; showing, hiding and reversing the visibility of pieces.
//  - One level of undo over the pieces' effects, selection and visibility,
//    held as native records (a second undo redoes).
//  - Leaving Layout mode when the Cutter closes, and the control states of
//    each mode.
// The window routes its events here and implements CMainWindowPort. The
// preview-coordinate forms of the rectangle and lasso selection and the
// drag outline are the window's: they convert to image points and call the
// operations here.
//
// Pieces are indices of the engine's piece array; -1 (kSelection) stands
// for the selected pieces, or every piece when none is selected.
//
// Cost: the result image is 4 bytes and the selection map 1 byte a pixel of
// the filter area; the undo store two records a piece. A re-render renders
// only the pieces whose working records differ from their rendered ones in
// a field that changes their image, and recombines only the union of their
// rectangles, the pieces rendered side by side on the engine's threads.
// Selection tests intersect rectangles first and stop at a piece's first
// qualifying pixel. Limits: the engine's (99999 pieces).
#pragma once

#include "CEffectWindowServices.h"
#include "CKLF_Array.h"
#include "CKLF_Image.h"
#include "CMainWindowPort.h"
#include "CTessarette.h"

class CCutterServices;

class CPuzzleModel : public CKLF_FrameWork, public CEffectWindowServices::Owner {
 public:
  static constexpr i32 kSelection = -1;
  // The cached on-mask is not known.
  static constexpr u16 kMaskUnknown = 65535;
  // Effect indices, also the bits of the on-mask.
  enum : u8 {
    kBlur = 0,
    kBevel = 1,
    kHSL = 2,
    kColorOverlay = 3,
    kBC = 4,
    kMotionBlur = 5,
    kOpacity = 6,
    kInvert = 7,
    kStroke = 8,
    kImageOverlay = 9,
    kEffectCount = 10
  };
  static constexpr u16 kBitHidden = 1u << 14;  // a counted piece is hidden
  static constexpr u16 kBitShown = 1u << 15;  // a counted piece is shown
  // Modifier bits of a click.
  enum : u8 { kModOption = 1, kModShift = 2, kModCommand = 8 };
  // Channel map modes.
  enum : u8 { kMapNew = 0, kMapAdd = 1, kMapSubtract = 2, kMapIntersect = 3 };

  CPuzzleModel(CTessarette& engine, CMainWindowPort& port);
  ~CPuzzleModel() override;

  CPuzzleModel(const CPuzzleModel&) = delete;
  CPuzzleModel& operator=(const CPuzzleModel&) = delete;

  // The filter area the pieces were cut from: its composite alpha
  // (selection times transparency, width x height, row stride = width; null
  // is opaque) and whether image overlays may read the document's layers.
  void SetDocument(const u8* compositeAlpha, u32 width, u32 height, u8 layerAccess);
  // The document as an RGBA image of the same size (the caller's): where no
  // shown piece lies, the result image shows its colours, as the replay
  // composes over the document's own planes. Null leaves them as they were.
  void SetSourceImage(CKLF_Image* source) { m_source = source; }
  u32 GetWidth() const { return m_width; }
  u32 GetHeight() const { return m_height; }
  CTessarette& GetEngine() const override { return m_engine; }

  // ---- Mode switch
  // The Cutter has closed: Puzzle mode with the new cut (result image,
  // selection map and undo store sized, every piece recombined, on a
  // changed piece layout the question whether to reset the effects) or
  // with the pieces from before. A failed allocation closes the window.
  void OnCutterClose(const CCutterServices* cutter);
  // Applies the control states of the current mode; 1.
  u8 OnChangeMode();

  // ---- Effects
  // Bits 0-9: the effect is on in some counted piece's rendered record;
  // kBitHidden, kBitShown. piece -1 counts the selection (all pieces when
  // none is selected); 0 without pieces or for a piece out of range.
  u16 i_pmfx_GetFXOnSelection(i32 piece) const;
  // Sets the ON/OFF switches and the Show and Hide buttons (Puzzle mode
  // without an effect window).
  void OnCommonFXChanged();
  void OnPMSelChanged() { OnCommonFXChanged(); }
  void OnPMFXChanged() { OnCommonFXChanged(); }
  // One effect on the pieces of contextPiece: set to value, or with
  // explicitValue 0 toggled against the cached on-mask (any piece with the
  // effect on turns it off for all).
  void pmfx_SwitchFX(u8 effect, u8 explicitValue, u8 value);
  void pmop_CopyAdjustments(i32 piece);
  void pmop_PasteAdjustments(i32 piece);
  // Default effects on the selected pieces (all when none is selected);
  // hidden ones are shown again.
  void pmop_ResetAdjustments();
  // 1 when the piece's working records differ from its rendered ones in a
  // field that changes its image.
  u8 i_pmop_CheckPieceFXUpdates(i32 piece) const;
  // Renders the listed pieces that need it and recombines their union. A
  // request that comes while a render runs (events are pumped between
  // batches of one piece a thread while an effect window is open and live
  // is set) restarts the running one on the list as it then stands;
  // StopRerender ends it there. 0 when a piece failed to render; what was
  // rendered before is recombined all the same, and the user told when
  // memory ran out; what was left undone waits for the next re-render.
  u8 pmop_RerenderPieces(CKLF_DWordArray* pieces, u8 redraw, u8 live) override;
  // Before the result image is applied: what a failed or stopped re-render
  // left undone, done. 0 (after the alert) when it fails again.
  [[nodiscard]] u8 pmop_CompleteResult();
  // Recombines every piece within rect (klNullRect: the whole area) into
  // the result image; progress over from..to.
  u8 pmop_DoRerenderRect(kltRECT_s rect, u8 redraw, u8 from, u8 to);
  u8 IsRerenderBusy() const override { return m_busy; }
  void StopRerender() override {
    if (m_busy) m_stop = 1;
  }
  void EnterFXMode();
  void ExitFXMode() override;
  // What an effect window reads of the main window, asked of the window.
  CPluginMain* GetPluginObject() override { return m_port.GetPluginObject(); }
  u32 GetCurrentPiece() override { return m_port.GetCurrentPiece(); }
  void GetTransparencyColors(kltRGBA8& first, kltRGBA8& second) override {
    m_port.GetTransparencyColors(first, second);
  }
  void GetFrameColors(kltRGBA8& first, kltRGBA8& second) override { m_port.GetFrameColors(first, second); }
  CKLF_Window* GetMainWindow() override { return m_port.GetMainWindow(); }
  u8 GetWindowPosition(const char* name, const char* parent, kltSIZE_s& at) override {
    return m_port.GetWindowPosition(name, parent, at);
  }
  void GetStatusTip(const char* name, const char* group, u8 enabled, u8 type, CKLF_String& tip) override {
    m_port.GetStatusTip(name, group, enabled, type, tip);
  }
  void FillHelpMenu(CKLF_PlatformPopupMenu* menu) override { m_port.FillHelpMenu(menu); }
  u8 HelpMenuDispatcher(u16 command, CKLF_Window* window) override {
    return m_port.HelpMenuDispatcher(command, window);
  }
  // The nine effect windows; 0 when the window could not be created (and
  // for hue/saturation on a document that is not RGB).
  u8 pmfx_DoBlur() { return i_OpenEffectWindow(kBlur); }
  u8 pmfx_DoBevel() { return i_OpenEffectWindow(kBevel); }
  u8 pmfx_DoHSL() { return i_OpenEffectWindow(kHSL); }
  u8 pmfx_DoColorOverlay() { return i_OpenEffectWindow(kColorOverlay); }
  u8 pmfx_DoBrightContrast() { return i_OpenEffectWindow(kBC); }
  u8 pmfx_DoMotionBlur() { return i_OpenEffectWindow(kMotionBlur); }
  u8 pmfx_DoOpacity() { return i_OpenEffectWindow(kOpacity); }
  u8 pmfx_DoStroke() { return i_OpenEffectWindow(kStroke); }
  u8 pmfx_DoImageOverlay() { return i_OpenEffectWindow(kImageOverlay); }

  // ---- Selection and visibility ("redraw": the overlay shown, the
  // preview redrawn, the switches refreshed)
  // The first piece whose mask covers the image point, or -1.
  i32 GetPieceByXY(kltPOS p) const;
  void pmop_Sel_SelectAllPieces(u8 redraw);
  void pmop_Sel_DeselectAllPieces(u8 redraw);
  // One piece: with neither add nor remove it alone becomes selected.
  void pmop_Sel_SetSelectionToPiece(i32 piece, u8 add, u8 remove, u8 redraw);
  void pmop_Sel_SelectSplitter(u8 add, u8 redraw);
  void pmop_Sel_InvertPiecesSelection(u8 redraw);
  // N / 20 (at least 1) random pieces selected (select 1) or deselected.
  void pmop_Sel_RandomSelection(u8 select, u8 redraw);
  // Pieces with more than half their pixels in the box of pieces a and b.
  void pmop_Sel_PieceBlockSelection(u8 add, u8 remove, i32 a, i32 b, u8 redraw);
  // Pieces with a pixel inside the rectangle (image coordinates).
  void pmop_Sel_SelectRect(kltRECT_s rect, u8 add, u8 remove, u8 redraw);
  // Pieces with a pixel inside the polygon (image coordinates, even-odd).
  void pmop_Sel_SelectFreeRgn(const i32* xs, const i32* ys, u32 count, u8 add, u8 remove, u8 redraw);
  void pmop_Sel_AllHidenOrShown(u8 hidden, u8 redraw);
  // Selection from a channel map of the filter area's size: a piece
  // matches when a pixel under it is below 128 (255 minus it with invert).
  void pmop_LoadSelection(u8 mode, u8 invert, const u8* map, u8 redraw);
  // The Puzzle-mode click over the preview at an image point, with the
  // modifiers, each change bracketed by the undo.
  void OnPieceClick(kltPOS image, u8 mods);
  void pmop_ShowHidePiece(i32 piece, u8 visible, u8 redraw);
  void pmop_ShowHideSelectedPieces(u8 visible, u8 redraw);
  void pmop_ReverseShownHidden(u8 redraw);
  // Shows or hides the selection overlay.
  void pmop_Extras(u8 show, u8 redraw);
  // The tight rectangle of the piece's mask; (1000000, 1000000, -1000000,
  // -1000000) for an empty mask, klNullRect for a piece out of range.
  kltRECT_s i_pmop_GetPieceRealRect(i32 piece) const;
  // Even-odd point in polygon, integer arithmetic.
  static u8 i_pmop_PtInRgn(i32 x, i32 y, const i32* xs, const i32* ys, u32 count);
  // 1 when a polygon edge crosses the rectangle's border.
  static u8 i_pmop_RectRgnIntersection(kltRECT_s r, const i32* xs, const i32* ys, u32 count);
  u8 i_pmop_CheckPieceByMap(i32 piece, const u8* map, u32 width, u32 height, u8 threshold, u8 invert) const;

  // ---- Undo
  void unpm_PreSave();
  // Commits the pre-saved state; with compare 1 only when it differs.
  void unpm_SaveState(u8 compare);
  // Swaps the saved state with the present one; 0 when a piece failed to
  // render (the undo is then emptied).
  u8 unpm_Restore();
  u8 IsUndoEmpty() const { return m_undoEmpty; }

  // ---- State the window reads and the dispatcher sets
  u8 layoutMode = 0;
  u8 effectWindowOpen = 0;
  f32 randomKnotsAmount = 0;  // Layout mode's random-knots button
  CEffectWindowServices* effectWindow = nullptr;  // owned; kept after it closed
  CKLF_Image resultImage;               // RGBA, the filter area's size
  u8* selectionMap = nullptr;  // null before the first cut
  i32 pieceAnchor = -1;
  u8 showPieceExtras = 1;
  u16 menuEffectMask = kMaskUnknown;
  i32 contextPiece = kSelection;
  CTessarette::SFX_ONEPIECE clipboard{};  // the effects part
  u8 clipboardEmpty = 1;

 protected:
  // Renders pieces through the engine, side by side on its threads.
  virtual u8 i_RenderPieces(const u32* pieces, u32 count);
  u8 i_RenderPiece(u32 index) { return i_RenderPieces(&index, 1); }

 private:
  // The main progress of one operation: begun with its caption, reported
  // once per whole per cent, the status line restored when it goes.
  class Progress {
   public:
    Progress(CMainWindowPort& port, const char* caption);
    ~Progress();
    void Report(u32 percent);
    CKLF_Progress* Get() const { return m_progress; }

   private:
    CMainWindowPort& m_port;
    CKLF_Progress* m_progress;
    i32 m_last;
  };

  // The engine's progress while a re-render recombines: the window's, and
  // a stop asked meanwhile ends the recombination.
  class StoppableProgress : public CKLF_Progress {
   public:
    StoppableProgress(CKLF_Progress* outer, const u8& stop) : m_outer(outer), m_stop(stop) {}
    i32 Progress(u8 percent, void* data) override { return m_outer ? m_outer->Progress(percent, data) : 0; }
    u8 IsCanceled() override {
      const u8 cancelled = m_outer && m_outer->IsCanceled();
      return cancelled || m_stop ? 1 : 0;
    }

   private:
    CKLF_Progress* m_outer;
    const u8& m_stop;
  };

  static void i_GrowUnion(kltRECT_s& area, kltRECT_s r);
  u32 i_Count() const { return m_engine.GetPieceCount(); }
  u8 i_Valid(i32 piece) const { return piece >= 0 && static_cast<u32>(piece) < i_Count(); }
  u32 i_FirstSelectable() const { return m_engine.HasSplitterPiece() ? 1 : 0; }
  // The targets of an operation (see kSelection); 0 when there are none.
  [[nodiscard]] u8 i_Targets(i32 piece, CKLF_DWordArray& out) const;
  // Tells the user memory ran out for a list, which is emptied; 0.
  u8 i_NoMemoryForList(CKLF_DWordArray& list) const;
  void i_DestroyEffectWindow();
  u8 i_OpenEffectWindow(u8 effect);
  void i_SelectionRedraw();
  void i_PaintPiece(u32 index, u8 value);
  void i_RecombineChanged(kltRECT_s area, u8 redraw);
  // Recombines area (klNullRect: all); what could not be waits for the next
  // re-render.
  [[nodiscard]] u8 i_Recombine(kltRECT_s area, u8 redraw, u8 from, u8 to);
  u8 i_PieceTouchesRect(u32 index, kltRECT_s r) const;
  u8 i_PieceTouchesPolygon(u32 index, kltRECT_s box, const i32* xs, const i32* ys, u32 count) const;
  enum RenderPass { kPassDone, kPassRestart, kPassStopped, kPassFailed };
  RenderPass i_RenderList(CKLF_DWordArray* list, u8 live, kltRECT_s& area, Progress& progress);
  u8 i_EnterPuzzle(u8 cut);
  u64 i_UndoBytes() const;
  u8 i_GrowUndo();
  u8 i_RestorePiece(u32 index, kltRECT_s& area, u8& selectionChanged);
  // The colour planes inside rect (klNullRect: all) from the source image.
  void i_ShowSourceIn(kltRECT_s rect, u8* const planes[], u32 stride);

  CTessarette& m_engine;
  CMainWindowPort& m_port;
  const u8* m_alpha = nullptr;
  CKLF_Image* m_source = nullptr;
  u32 m_width = 0;
  u32 m_height = 0;
  u8 m_layerAccess = 0;
  CKLF_Mem m_mapMem;

  u8 m_busy = 0;
  u8 m_restart = 0;
  u8 m_stop = 0;
  // What a stopped or failed recombination left for the next re-render.
  kltRECT_s m_unrecombined = klNullRect;

  // Undo: the saved records, then the pre-saved ones; one of each a piece.
  CKLF_Mem m_undoMem;
  u8 m_undoEmpty = 1;
  i32 m_undoAnchor = -1;
  i32 m_preSaveAnchor = -1;
};
