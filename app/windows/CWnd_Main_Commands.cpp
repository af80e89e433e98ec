// The main window's single entry for commands: accelerators, pop-up menu
// choices and the messages of its controls. Each vocabulary is one table
// from the command to its guard and, for each mode, its undo bracket and
// operation; a command that reuses another (a menu item that runs an
// accelerator, an accelerator that presses a button) calls the entry again
// and so takes that command's guard too. The help items are the
// application's own.
#include <cstring>

#include "CApp.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CPluginMain.h"
#include "CWnd_Main.h"

namespace {

typedef CWnd_Main W;

// An operation that always answers 1, and one that answers its value.
#define DO(...) [](W & w, u16 msg, void* data) -> u32 { (void)w, (void)msg, (void)data; __VA_ARGS__; return 1; }
#define RESULT(...) [](W & w, u16 msg, void* data) -> u32 { (void)w, (void)msg, (void)data; return __VA_ARGS__; }

const W::ACTION kNothing = {W::kUndoNone, nullptr};

// The effects' buttons and switches in the window's order: the accelerator
// a plain click runs, the engine's effect index the switch turns, and what
// besides an effect window refuses the switch.
const struct {
  u16 accelerator;
  u8 effect;
  u8 guard;
} kEffectControls[W::kEffectCount] = {{24, 1, 0}, {27, 2, 0}, {31, 4, 0},
                                      {26, 0, 0}, {30, 5, 0}, {25, 6, 0},
                                      {29, 3, 0}, {45, 9, W::kGuardOtherMode | W::kGuardLayers},
                                      {44, 8, W::kGuardOtherMode}};

const W::COMMANDROW* Find(const W::COMMANDROW* rows, u32 count, u32 code) {
  for (u32 i = 0; i < count; ++i)
    if (rows[i].code == code) return &rows[i];
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Accelerators 0 to 45; 0, 5, 6, 7, 9 and 28 are not the main window's.

const W::COMMANDROW CWnd_Main::kAcceleratorRows[] = {
    {1, 0, {kUndoNone, DO(w.cmop_Extras(!w.m_editor.model.showKnots, 1))},
     {kUndoNone, DO(w.m_puzzle.pmop_Extras(!w.m_puzzle.showPieceExtras, 1))}},
    {2, kGuardFX, {kUndoKnives, DO(w.m_editor.selection.op_SetSelToAllKnives(1, 1, 1, 1, 1))},
     {kUndoPieces, DO(w.m_puzzle.pmop_Sel_SelectAllPieces(1))}},
    {3, kGuardFX, {kUndoNone, DO(w.m_editor.undo.uncm_Restore())}, {kUndoNone, DO(w.m_puzzle.unpm_Restore())}},
    {4, kGuardFX, {kUndoNone, DO(w.m_editor.undo.uncm_Restore())}, {kUndoNone, DO(w.m_puzzle.unpm_Restore())}},
    {8, 0, {kUndoNone, RESULT(w.RunAccelerator(1))}, {kUndoNone, RESULT(w.RunAccelerator(1))}},
    {10, kGuardFX, {kUndoKnives, DO(w.m_editor.selection.op_InvertSelToAllKnives(1))},
     {kUndoPieces, DO(w.m_puzzle.pmop_Sel_InvertPiecesSelection(1))}},
    {11, kGuardFX, {kUndoKnives, DO(w.m_editor.selection.op_SetSelToAllKnives(0, 1, 1, 1, 1))},
     {kUndoPieces, DO(w.m_puzzle.pmop_Sel_DeselectAllPieces(1))}},
    {12, 0, {kUndoNone, RESULT(w.i_SetZoom(4))}, {kUndoNone, RESULT(w.i_SetZoom(4))}},
    {13, 0, {kUndoNone, RESULT(w.i_SetZoom(w.i_FitZoom()))}, {kUndoNone, RESULT(w.i_SetZoom(w.i_FitZoom()))}},
    {14, 0, {kUndoNone, RESULT(w.i_SetZoom(w.m_zoomSlider->GetValue() + 1))},
     {kUndoNone, RESULT(w.i_SetZoom(w.m_zoomSlider->GetValue() + 1))}},
    {15, 0, {kUndoNone, RESULT(w.RunAccelerator(14))}, {kUndoNone, RESULT(w.RunAccelerator(14))}},
    {16, 0, {kUndoNone, RESULT(w.i_SetZoom(static_cast<i32>(w.m_zoomSlider->GetValue()) - 1))},
     {kUndoNone, RESULT(w.i_SetZoom(static_cast<i32>(w.m_zoomSlider->GetValue()) - 1))}},
    {17, 0, {kUndoNone, RESULT(w.RunAccelerator(16))}, {kUndoNone, RESULT(w.RunAccelerator(16))}},
    {18, 0, {kUndoNone, RESULT(w.RunMenuCommand(98))}, kNothing},
    {19, 0, {kUndoNone, RESULT(w.RunMenuCommand(99))}, kNothing},
    {20, 0, {kUndoNone, RESULT(w.RunMenuCommand(100))}, kNothing},
    {21, 0, {kUndoNone, RESULT(w.RunMenuCommand(101))}, kNothing},
    {22, 0, {kUndoNone, RESULT(w.RunMenuCommand(102))}, kNothing},
    {23, 0, {kUndoNone, RESULT(w.RunMenuCommand(103))}, kNothing},
    {24, kGuardFX, kNothing, {kUndoNone, DO(w.pmfx_DoBevel())}},
    {25, kGuardFX, kNothing, {kUndoNone, DO(w.pmfx_DoOpacity())}},
    {26, kGuardFX, kNothing, {kUndoNone, DO(w.pmfx_DoBlur())}},
    {27, kGuardFX, kNothing, {kUndoNone, DO(w.pmfx_DoHSL())}},
    {29, kGuardFX, kNothing, {kUndoNone, DO(w.pmfx_DoColorOverlay())}},
    {30, kGuardFX, kNothing, {kUndoNone, DO(w.pmfx_DoMotionBlur())}},
    {31, kGuardFX, kNothing, {kUndoNone, DO(w.pmfx_DoBrightContrast())}},
    {32, 0, {kUndoNone, RESULT(w.RunMenuCommand(84))}, {kUndoNone, RESULT(w.RunMenuCommand(84))}},
    {33, 0, {kUndoNone, RESULT(w.RunMenuCommand(88))}, {kUndoNone, RESULT(w.RunMenuCommand(88))}},
    {34, 0, {kUndoNone, RESULT(w.RunMenuCommand(89))}, {kUndoNone, RESULT(w.RunMenuCommand(89))}},
    {35, kGuardFX,
     {kUndoKnives, DO(w.m_editor.selection.op_SetSelToAllKnives(0, 0, 1, 1, 0);
                      w.m_editor.selection.op_SetSelToAllKnives(1, 1, 0, 0, 1))},
     kNothing},
    {36, 0, {kUndoNone, DO(w.DoPreviewMenu(klNullPOS))}, {kUndoNone, DO(w.DoPreviewMenu(klNullPOS))}},
    {37, kGuardFX, {kUndoKnives, DO(w.m_editor.selection.op_SelRandom(1, 1))},
     {kUndoPieces, DO(w.m_puzzle.pmop_Sel_RandomSelection(1, 1))}},
    {38, kGuardFX, {kUndoKnives, DO(w.m_editor.selection.op_SelRandom(0, 1))},
     {kUndoPieces, DO(w.m_puzzle.pmop_Sel_RandomSelection(0, 1))}},
    {39, kGuardFX, kNothing,
     {kUndoPieces, DO(if (w.i_HasSplitter()) w.m_puzzle.pmop_Sel_SetSelectionToPiece(0, 1, 0, 1))}},
    {40, kGuardFX, kNothing,
     {kUndoPieces, DO(if (w.i_HasSplitter()) w.m_puzzle.pmop_Sel_SetSelectionToPiece(0, 0, 1, 1))}},
    {41, kGuardFX, {kUndoNone, RESULT(w.RunMenuCommand(110))}, {kUndoNone, RESULT(w.RunMenuCommand(110))}},
    {42, kGuardFX, {kUndoNone, RESULT(w.RunMenuCommand(111))}, {kUndoNone, RESULT(w.RunMenuCommand(111))}},
    {43, kGuardFXQuiet, kNothing,
     {kUndoNone, RESULT((w.m_puzzle.menuEffectMask = w.m_puzzle.i_pmfx_GetFXOnSelection(CPuzzleModel::kSelection),
                         w.m_puzzle.contextPiece = CPuzzleModel::kSelection, w.RunMenuCommand(130)))}},
    {44, kGuardFX, kNothing, {kUndoNone, DO(w.pmfx_DoStroke())}},
    {45, kGuardFX | kGuardLayers, kNothing, {kUndoNone, DO(w.pmfx_DoImageOverlay())}},
};

// ---------------------------------------------------------------------------
// Menu commands: the button menus, the context menus and the units menu.

#define LAYOUT_FLIP(code, op, h, u) \
  {code, 0, {kUndoKnives, DO(w.m_editor.selection.op(h, u, 1, 1))}, kNothing}
#define CONTEXT_KNIVES(code, ...) {code, 0, {kUndoKnives, DO(__VA_ARGS__)}, kNothing}
#define CONTEXT_PIECE(code, undo, ...) {code, 0, kNothing, {undo, DO(__VA_ARGS__)}}
#define SWITCH(code, guard, effect) {code, guard, kNothing, {kUndoPieces, RESULT(w.i_SwitchFX(effect, 0, 1))}}
#define SAME(code, guard, ...) {code, guard, {kUndoNone, RESULT(__VA_ARGS__)}, {kUndoNone, RESULT(__VA_ARGS__)}}

const W::COMMANDROW CWnd_Main::kMenuRows[] = {
    SAME(16, 0, w.i_SetUnits(1)),
    SAME(17, 0, w.i_SetUnits(2)),
    SAME(18, 0, w.i_SetUnits(3)),
    SAME(19, 0, w.i_SetUnits(4)),
    SAME(20, 0, w.i_SetUnits(5)),
    SAME(32, 0, w.RunAccelerator(2)),
    SAME(33, 0, w.RunAccelerator(11)),
    SAME(34, 0, w.RunAccelerator(10)),
    {35, kGuardFX, {kUndoKnives, DO(w.m_editor.selection.op_SetSelToHiddenOrShownKnives(1, 1))},
     {kUndoPieces, DO(w.m_puzzle.pmop_Sel_AllHidenOrShown(1, 1))}},
    {36, kGuardFX, {kUndoKnives, DO(w.m_editor.selection.op_SetSelToHiddenOrShownKnives(0, 1))},
     {kUndoPieces, DO(w.m_puzzle.pmop_Sel_AllHidenOrShown(0, 1))}},
    {37, kGuardFX,
     {kUndoKnives, DO(w.m_editor.selection.op_SetSelToAllKnives(0, 0, 0, 1, 1);
                      w.m_editor.selection.op_SetSelToAllKnives(1, 1, 1, 0, 0))},
     kNothing},
    {38, kGuardFX,
     {kUndoKnives, DO(w.m_editor.selection.op_SetSelToAllKnives(0, 0, 1, 0, 1);
                      w.m_editor.selection.op_SetSelToAllKnives(1, 1, 0, 1, 0))},
     kNothing},
    SAME(39, 0, w.RunAccelerator(35)),
    {40, kGuardFX, {kUndoKnives, DO(w.m_editor.selection.op_LoadSelection())},
     {kUndoPieces, DO(w.pmop_LoadSelection(1))}},
    SAME(41, 0, w.RunAccelerator(37)),
    SAME(42, 0, w.RunAccelerator(38)),
    SAME(43, 0, w.RunAccelerator(39)),
    SAME(44, 0, w.RunAccelerator(40)),
    SAME(47, 0, w.RunAccelerator(1)),
    SAME(48, 0, w.RunAccelerator(12)),
    SAME(49, 0, w.RunAccelerator(13)),
    SAME(50, 0, w.RunAccelerator(14)),
    SAME(51, 0, w.RunAccelerator(16)),
    // The split rulers' menus exist in Layout mode only.
    {64, 0, {kUndoNone, DO(w.m_editor.grid.op_ArrangeSplitingHandles(w.m_context.handleOrientation, 1))}, kNothing},
    {65, 0,
     {kUndoNone,
      DO(w.m_editor.grid.op_CenterSplitingHandle(w.m_context.handleOrientation, w.m_context.handleIndex, 1))},
     kNothing},
    {66, 0,
     {kUndoNone, DO(w.InsertLineAt(w.m_context.handleOrientation == 0, static_cast<i16>(w.m_context.handleClickPos.x),
                                   static_cast<i16>(w.m_context.handleClickPos.y)))},
     kNothing},
    {67, 0, {kUndoNone, DO(w.DeleteLine(w.m_context.handleOrientation == 0, w.m_context.handleIndex))}, kNothing},
    CONTEXT_KNIVES(68, w.m_editor.selection.op_AddRemoveRowColumnToSelection(w.m_context.handleIndex,
                                                                             w.m_context.handleOrientation, 1, 1)),
    CONTEXT_KNIVES(69, w.m_editor.selection.op_AddRemoveRowColumnToSelection(w.m_context.handleIndex,
                                                                             w.m_context.handleOrientation, 0, 1)),
    // The same undo as the accelerator, refused too while an effect window
    // is open: it would take back what the open window was made for.
    SAME(80, 0, w.RunAccelerator(3)),
    {81, 0, {kUndoNone, DO(w.DoPrefDialog())}, {kUndoNone, DO(w.DoPrefDialog())}},
    {84, kGuardFX, {kUndoNone, DO(w.m_settings.OnSaveDocument())}, {kUndoNone, DO(w.m_settings.OnSaveDocument())}},
    SAME(85, 0, w.ClickButton(kCancel)),
    SAME(86, 0, w.ClickButton(kApply)),
    SAME(87, 0, w.ClickButton(kApply)),
    {88, kGuardFX, {kUndoNone, DO(w.m_settings.OnLoadDocument())}, {kUndoNone, DO(w.m_settings.OnLoadDocument())}},
    SAME(89, kGuardFXQuiet, w.i_DoExport()),
    // Layout mode does not begin under an open effect window.
    {90, kGuardFX, kNothing, {kUndoNone, DO(w.DoCutterWindow())}},
    SAME(96, kGuardFX, w.ClickButton(kShow)),
    SAME(97, kGuardFX, w.ClickButton(kHide)),
    SAME(144, kGuardFX, w.ClickButton(kRevShowHide)),
    LAYOUT_FLIP(98, op_Flip, 1, 0),
    LAYOUT_FLIP(99, op_Flip, 0, 1),
    LAYOUT_FLIP(100, op_Flip, 1, 1),
    LAYOUT_FLIP(101, op_RandFlip, 1, 0),
    LAYOUT_FLIP(102, op_RandFlip, 0, 1),
    LAYOUT_FLIP(103, op_RandFlip, 1, 1),
    LAYOUT_FLIP(104, op_Interleaved, 1, 0),
    LAYOUT_FLIP(105, op_Interleaved, 0, 1),
    LAYOUT_FLIP(106, op_Interleaved, 1, 1),
    LAYOUT_FLIP(107, op_NonInterleaved, 1, 0),
    LAYOUT_FLIP(108, op_NonInterleaved, 0, 1),
    LAYOUT_FLIP(109, op_NonInterleaved, 1, 1),
    {110, kGuardFX, {kUndoNone, DO(w.m_editor.knives.op_CopyKnife(0xFFFFFFFFu, 1, 0))},
     {kUndoNone, DO(w.m_puzzle.pmop_CopyAdjustments(CPuzzleModel::kSelection))}},
    {111, kGuardFX, {kUndoPaste, DO(w.m_editor.knives.op_PasteKnife(nullptr))},
     {kUndoPieces, DO(w.m_puzzle.pmop_PasteAdjustments(CPuzzleModel::kSelection))}},
    SAME(112, 0, w.RunAccelerator(24)),
    SAME(113, 0, w.RunAccelerator(26)),
    SAME(114, 0, w.RunAccelerator(30)),
    SAME(115, 0, w.RunAccelerator(25)),
    SAME(116, 0, w.RunAccelerator(27)),
    SAME(117, 0, w.RunAccelerator(31)),
    SAME(118, 0, w.RunAccelerator(29)),
    SWITCH(119, kGuardFX, CPuzzleModel::kBevel),
    SWITCH(120, kGuardFX, CPuzzleModel::kBlur),
    SWITCH(121, kGuardFX, CPuzzleModel::kMotionBlur),
    SWITCH(122, kGuardFX, CPuzzleModel::kOpacity),
    SWITCH(123, kGuardFX, CPuzzleModel::kHSL),
    SWITCH(124, kGuardFX, CPuzzleModel::kBC),
    SWITCH(125, kGuardFX, CPuzzleModel::kColorOverlay),
    SAME(126, 0, w.RunAccelerator(44)),
    SWITCH(127, kGuardFX | kGuardOtherMode, CPuzzleModel::kStroke),
    SAME(128, 0, w.RunAccelerator(45)),
    SWITCH(129, kGuardFX | kGuardOtherMode | kGuardLayers, CPuzzleModel::kImageOverlay),
    SWITCH(130, kGuardFX | kGuardOtherMode, CPuzzleModel::kInvert),
    {143, kGuardFX, kNothing, {kUndoPieces, DO(w.m_puzzle.pmop_ResetAdjustments())}},
    // The knife and knot context menu (Layout mode).
    CONTEXT_KNIVES(256, w.m_editor.selection.op_SetSelToKnives(1, 0, 0, &w.m_context.knives, 1, 1, 1)),
    CONTEXT_KNIVES(257, w.m_editor.selection.op_SetSelToKnives(1, 0, 0, &w.m_context.knives, 1, 0, 1)),
    CONTEXT_KNIVES(258, w.m_editor.selection.op_SetSelToKnives(1, 1, 0, &w.m_context.knives, 1, 0, 1)),
    CONTEXT_KNIVES(259, w.m_editor.selection.op_SetSelToKnives(1, 1, 1, &w.m_context.knives, 1, 0, 1)),
    CONTEXT_KNIVES(260, w.m_editor.selection.op_SetSelToKnives(1, 1, 0, &w.m_context.knives, 1, 0, 0);
                   w.m_editor.selection.op_SetSelToKnives(1, 1, 1, &w.m_context.knives, 1, 0, 1)),
    CONTEXT_KNIVES(261, w.m_editor.selection.op_ShowHideListOfKnives(1, &w.m_context.knives, 1)),
    CONTEXT_KNIVES(262, w.m_editor.selection.op_ShowHideListOfKnives(0, &w.m_context.knives, 1)),
    {263, 0, {kUndoKnots, RESULT(w.i_ResetKnot(w.m_context.knot))}, kNothing},
    {264, 0, {kUndoNone, RESULT(w.i_CopyContextKnife())}, kNothing},
    {265, 0, {kUndoPaste, DO(w.m_editor.knives.op_PasteKnife(&w.m_context.knives))}, kNothing},
    {266, kGuardFX | kGuardOtherMode, {kUndoDelExtra, DO(w.m_editor.knives.op_DelAuxKnives(0, &w.m_context.knives, 0, 1))},
     kNothing},
    // The piece context menu (Puzzle mode).
    CONTEXT_PIECE(272, kUndoPieces, w.m_puzzle.pmop_Sel_SetSelectionToPiece(w.m_puzzle.contextPiece, 1, 0, 1)),
    CONTEXT_PIECE(273, kUndoPieces, w.m_puzzle.pmop_Sel_SetSelectionToPiece(w.m_puzzle.contextPiece, 0, 1, 1)),
    CONTEXT_PIECE(274, kUndoPieces, w.m_puzzle.pmop_ShowHidePiece(w.m_puzzle.contextPiece, 1, 1)),
    CONTEXT_PIECE(275, kUndoPieces, w.m_puzzle.pmop_ShowHidePiece(w.m_puzzle.contextPiece, 0, 1)),
    CONTEXT_PIECE(276, kUndoNone, w.m_puzzle.pmop_CopyAdjustments(w.m_puzzle.contextPiece)),
    CONTEXT_PIECE(277, kUndoPieces, w.m_puzzle.pmop_PasteAdjustments(w.m_puzzle.contextPiece)),
    {3936, kGuardFX | kGuardOtherMode, {kUndoNone, RESULT(w.ClickButton(kAddKnives))}, kNothing},
    {3937, kGuardFX | kGuardOtherMode, {kUndoNone, RESULT(w.ClickButton(kDelKnives))}, kNothing},
    {3938, 0, {kUndoNone, DO(w.m_editor.knives.op_EqualizeKnobs(1, 1))}, kNothing},
};

// ---------------------------------------------------------------------------
// Controls by name (the effects' buttons and switches follow below).

const W::COMMANDROW CWnd_Main::kControlRows[] = {
    {kCancel, kGuardFX, {kUndoNone, DO(w.localClose())}, {kUndoNone, DO(w.localClose())}},
    {kCloseX, kGuardFX, {kUndoNone, DO(w.localClose())}, {kUndoNone, DO(w.localClose())}},
    {kApply, kGuardFX, {kUndoNone, DO(w.applied = 1; w.localClose())}, {kUndoNone, DO(w.applied = 1; w.localClose())}},
    {kApplyLM, kGuardFX, {kUndoNone, DO(w.applied = 1; w.localClose())},
     {kUndoNone, DO(w.applied = 1; w.localClose())}},
    SAME(kHelp, 0, w.i_OnHelpButton()),
    SAME(kMain, 0, w.i_OnButtonMenu(kMain)),
    SAME(kSelect, 0, w.i_OnButtonMenu(kSelect)),
    SAME(kAdjust, 0, w.i_OnButtonMenu(kAdjust)),
    {kRuler, 0, {kUndoNone, DO(w.DoPreviewMenu(klNullPOS))}, {kUndoNone, DO(w.DoPreviewMenu(klNullPOS))}},
    {kShowExtras, 0, {kUndoNone, DO(w.cmop_Extras(1, 1))}, {kUndoNone, DO(w.m_puzzle.pmop_Extras(1, 1))}},
    {kHideExtras, 0, {kUndoNone, DO(w.cmop_Extras(0, 1))}, {kUndoNone, DO(w.m_puzzle.pmop_Extras(0, 1))}},
    {kRelayout, kGuardFX, {kUndoNone, DO(w.DoCutterWindow())}, {kUndoNone, DO(w.DoCutterWindow())}},
    {kShow, kGuardFXQuiet, {kUndoKnives, DO(w.m_editor.selection.op_ShowHideSelectedKnives(1, 1))},
     {kUndoPieces, DO(w.m_puzzle.pmop_ShowHideSelectedPieces(1, 1))}},
    {kHide, kGuardFXQuiet, {kUndoKnives, DO(w.m_editor.selection.op_ShowHideSelectedKnives(0, 1))},
     {kUndoPieces, DO(w.m_puzzle.pmop_ShowHideSelectedPieces(0, 1))}},
    {kRevShowHide, kGuardFXQuiet, {kUndoKnives, DO(w.m_editor.selection.op_ReverseShownHidden(1))},
     {kUndoPieces, DO(w.m_puzzle.pmop_ReverseShownHidden(1))}},
    {kRndKnotsButton, 0, {kUndoNone, DO(w.OnUpdateKnotRandomize(w.m_puzzle.randomKnotsAmount))},
     {kUndoNone, DO(w.OnUpdateKnotRandomize(w.m_puzzle.randomKnotsAmount))}},
    {kResetKnots, 0, {kUndoNone, DO(static_cast<CKLF_CtrlSlider*>(w.GetNamedControl(kRndKnotsSlider))->SetValue(0, 1))},
     {kUndoNone, DO(static_cast<CKLF_CtrlSlider*>(w.GetNamedControl(kRndKnotsSlider))->SetValue(0, 1))}},
    SAME(kExport, kGuardFX, w.RunMenuCommand(89)),
    {kAddKnives, kGuardOtherMode, {kUndoAddExtra, DO(w.m_editor.knives.op_AddAuxKnifeToSelectedKnots(1))}, kNothing},
    {kDelKnives, kGuardOtherMode, {kUndoDelExtra, DO(w.m_editor.knives.op_DelAuxKnives(1, nullptr, 0, 1))}, kNothing},
    SAME(kZoom, 0, w.i_OnZoomSlider(msg, data)),
    {kRndKnotsSlider, 0,
     {kUndoNone, DO(if ((msg == klMsgValueSet || msg == klMsgValueDragging) && data)
                        w.OnSldrRandomKnots(*static_cast<const u32*>(data), msg == klMsgValueDragging))},
     {kUndoNone, DO(if ((msg == klMsgValueSet || msg == klMsgValueDragging) && data)
                        w.OnSldrRandomKnots(*static_cast<const u32*>(data), msg == klMsgValueDragging))}},
    {kRndKnotsEdit, 0,
     {kUndoNone, DO(if (msg == klMsgEditChanged && data) w.OnEditRandomKnots(static_cast<const CKLF_String*>(data)))},
     {kUndoNone, DO(if (msg == klMsgEditChanged && data) w.OnEditRandomKnots(static_cast<const CKLF_String*>(data)))}},
};

#undef LAYOUT_FLIP
#undef CONTEXT_KNIVES
#undef CONTEXT_PIECE
#undef SWITCH
#undef SAME

const u32 CWnd_Main::kAcceleratorRowCount = sizeof(kAcceleratorRows) / sizeof(kAcceleratorRows[0]);
const u32 CWnd_Main::kMenuRowCount = sizeof(kMenuRows) / sizeof(kMenuRows[0]);
const u32 CWnd_Main::kControlRowCount = sizeof(kControlRows) / sizeof(kControlRows[0]);

const W::COMMANDROW* CWnd_Main::GetCommandTable(VOCABULARY v, u32& count) {
  count = v == kAcceleratorTable ? kAcceleratorRowCount : v == kMenuTable ? kMenuRowCount : kControlRowCount;
  return v == kAcceleratorTable ? kAcceleratorRows : v == kMenuTable ? kMenuRows : kControlRows;
}

// ---------------------------------------------------------------------------
// Dispatch

u32 CWnd_Main::OnCtrlMessage(u16 msg, u32 id, const char*, u8 type, void* data) {
  if (type == klCtrlPreview) return i_OnPreviewMessage(msg, data);
  // Nothing else runs while pieces render (the render pumps events).
  if (m_puzzle.IsRerenderBusy()) return 0;
  if (msg == klMsgAccelerator && id <= 45) {
    const COMMANDROW* row = Find(kAcceleratorRows, kAcceleratorRowCount, id);
    return row ? i_Run(*row, msg, data) : 1;
  }
  if (type == 255) {
    if (msg != klMsgMenu) return 1;
    const u16 command = data ? *static_cast<const u16*>(data) : 0;
    CApp* app = static_cast<CApp*>(m_App);
    if (app && app->HelpMenuDispatcher(command, this)) return 1;
    const COMMANDROW* row = Find(kMenuRows, kMenuRowCount, command);
    return row ? i_Run(*row, msg, nullptr) : 1;
  }
  if (type != klCtrlButton && type != klCtrlCheckBox && type != klCtrlSlider && type != klCtrlEditLine) return 1;
  for (u32 e = 0; e < kEffectCount; ++e) {
    if (type == klCtrlButton && m_fxButtons[e] >= 0 && static_cast<u32>(m_fxButtons[e]) == id)
      return i_OnEffectControl(e, 0);
    if (type == klCtrlCheckBox && m_fxSwitches[e] >= 0 && static_cast<u32>(m_fxSwitches[e]) == id)
      return i_OnEffectControl(e, 1);
  }
  for (u32 i = 0; i < kControlRowCount; ++i) {
    const i32 c = m_ids[kControlRows[i].code];
    if (c >= 0 && static_cast<u32>(c) == id && GetControl(id)->GetType() == type)
      return i_Run(kControlRows[i], msg, data);
  }
  return 1;
}

u32 CWnd_Main::i_Run(const COMMANDROW& row, u16 msg, void* data) {
  const u8 fx = m_puzzle.effectWindowOpen;
  if ((row.guard & kGuardFX) && fx) return 0;
  if ((row.guard & kGuardFXQuiet) && fx) return 1;
  const ACTION& a = m_puzzle.layoutMode ? row.layout : row.puzzle;
  if (!a.run) return row.guard & kGuardOtherMode ? 0 : 1;
  if ((row.guard & kGuardLayers) && !m_plugin->GetEngineLayerAccess()) return 0;
  i_PreUndo(a.undo);
  const u32 result = a.run(*this, msg, data);
  i_PostUndo(a.undo);
  return result;
}

void CWnd_Main::i_PreUndo(u8 undo) {
  CLayoutUndo& u = m_editor.undo;
  switch (undo) {
    case kUndoKnives: u.uncm_PreSave(CLayoutUndo::kFlags); break;
    case kUndoKnots: u.uncm_PreSave(CLayoutUndo::kKnots); break;
    case kUndoPieces: m_puzzle.unpm_PreSave(); break;
    case kUndoPaste: u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubPaste); break;
    case kUndoAddExtra: u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubAddExtra); break;
    case kUndoDelExtra: u.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubDelExtra); break;
    default: break;
  }
}

void CWnd_Main::i_PostUndo(u8 undo) {
  switch (undo) {
    case kUndoKnives: m_editor.undo.uncm_SaveState(CLayoutUndo::kFlags, CLayoutUndo::kSubNone); break;
    case kUndoKnots: m_editor.undo.uncm_SaveState(CLayoutUndo::kKnots, CLayoutUndo::kSubNone); break;
    case kUndoPieces: m_puzzle.unpm_SaveState(1); break;
    default: break;
  }
}

u32 CWnd_Main::ClickButton(Control c) {
  return m_ids[c] >= 0 ? OnCtrlMessage(0, static_cast<u32>(m_ids[c]), "", klCtrlButton, nullptr) : 0;
}

// A plain click on an effect's button opens its window; with Shift it
// flips the effect's switch, whose own message then turns the effect on the
// selected pieces. The switch sets the effect on the selection.
u32 CWnd_Main::i_OnEffectControl(u32 e, u8 checkBox) {
  if (!checkBox) {
    if (!(GetKeysStatus() & klModShift)) return RunAccelerator(kEffectControls[e].accelerator);
    CKLF_Control* box = GetEffectControl(e, klCtrlCheckBox);
    box->SetCheck(box->GetCheck() ? 0 : 1, 1);
    return 1;
  }
  u32 effect = e;
  const COMMANDROW row = {e, static_cast<u8>(kGuardFX | kEffectControls[e].guard), kNothing,
                          {kUndoPieces, [](W& w, u16, void* data) -> u32 {
                             const u32 i = *static_cast<const u32*>(data);
                             w.m_puzzle.menuEffectMask = CPuzzleModel::kMaskUnknown;
                             w.m_puzzle.contextPiece = CPuzzleModel::kSelection;
                             w.m_puzzle.pmfx_SwitchFX(kEffectControls[i].effect, 1, w.GetEffectControl(i, klCtrlCheckBox)->GetCheck());
                             return 1;
                           }}};
  return i_Run(row, klMsgClick, &effect);
}

// ---------------------------------------------------------------------------
// Operations of the tables

u32 CWnd_Main::i_OnHelpButton() {
  CApp* app = static_cast<CApp*>(m_App);
  CKLF_PlatformPopupMenu menu;
  if (!app || !menu.Create()) return 1;
  app->FillHelpMenu(&menu, 1);
  const kltPOS at = i_MenuPlace(kHelp);
  menu.DoPopup(this, static_cast<i16>(at.x), static_cast<i16>(at.y), 0);
  return 1;
}

u32 CWnd_Main::i_OnButtonMenu(Control c) {
  MENULIST menu;
  BuildButtonMenu(c, menu);
  ShowMenu(menu);
  return 1;
}

u32 CWnd_Main::i_OnZoomSlider(u16 msg, void* data) {
  if (!data || (msg != klMsgValueSet && msg != klMsgValueDragging)) return 1;
  const u32 value = *static_cast<const u32*>(data);
  m_zoom = static_cast<u8>(value > 8 ? 8 : value);
  const u8 full = msg == klMsgValueDragging ? 0 : 1;
  m_preview.SetZoom(m_zoom, -1, -1, full, full);
  return 1;
}

u32 CWnd_Main::i_SetZoom(i32 value) {
  if (value < 0 || value > 8) return 1;
  m_zoomSlider->SetValue(static_cast<u32>(value), 1);
  return 1;
}

// The largest zoom at which the whole image fits the preview.
u8 CWnd_Main::i_FitZoom() {
  const u64 w = m_sourceImage.GetImageWidth(), h = m_sourceImage.GetImageHeight();
  const u64 vw = static_cast<u64>(m_previewRect.right - m_previewRect.left);
  const u64 vh = static_cast<u64>(m_previewRect.bottom - m_previewRect.top);
  for (u8 v = 8; v >= 1; --v) {
    const u64 sw = v >= 4 ? w << (v - 4) : w >> (4 - v), sh = v >= 4 ? h << (v - 4) : h >> (4 - v);
    if (sw <= vw && sh <= vh) return v;
  }
  return 0;
}

u32 CWnd_Main::i_SetUnits(u8 units) {
  // Lengths need the document's resolution.
  if (units >= 2 && units <= 4 && !(m_pluginData && m_pluginData->resolutionH > 0)) return 1;
  m_infoUnits = units;
  m_preview.SetRulerUnit(units);
  UpdateInfoPanel(klNullPOS, 1);
  m_preview.DoRedraw(1, 0);
  return 1;
}

u32 CWnd_Main::i_CopyContextKnife() {
  if (m_context.knives.GetSize() == 0) return 1;
  const u32 id = m_context.knives[0];
  if (id >= CLayoutModel::kExtraIdBase)
    m_editor.knives.op_CopyKnife(id - CLayoutModel::kExtraIdBase, 0, 1);
  else if (id >= CLayoutModel::kHorizontalIdBase)
    m_editor.knives.op_CopyKnife(id - CLayoutModel::kHorizontalIdBase, 0, 0);
  else
    m_editor.knives.op_CopyKnife(id, 1, 0);
  return 1;
}

// Puts a knot back on its grid crossing (the caller brackets the undo).
u32 CWnd_Main::i_ResetKnot(u32 knot) {
  CLayoutModel& m = m_editor.model;
  if (knot >= m.knotCount) return 1;
  m.knots[knot].dx = m.knots[knot].dy = 0;
  RedrawSplitting();
  return 1;
}

u32 CWnd_Main::i_SwitchFX(u8 effect, u8 explicitValue, u8 value) {
  m_puzzle.pmfx_SwitchFX(effect, explicitValue, value);
  return 1;
}

u8 CWnd_Main::i_HasSplitter() const {
  const CTessarette& e = m_plugin->GetEngine();
  return e.GetPieceCount() > 0 && e.HasSplitterPiece() ? 1 : 0;
}

u32 CWnd_Main::i_DoExport() {
  if (m_puzzle.layoutMode)
    DoExportLMDialog();
  else
    DoExportDialog();
  return 1;
}

// ---------------------------------------------------------------------------
// The preview's messages

u32 CWnd_Main::i_OnPreviewMessage(u16 msg, void* data) {
  if (!data) return 1;
  switch (msg) {
    case klMsgPreviewZoom:
      m_zoom = *static_cast<const u8*>(data);
      m_zoomSlider->SetValue(m_zoom, 0);
      m_lastMouseImagePos = klNullPOS;
      return 1;
    case klMsgPreviewMouse:
      UpdateInfoPanel(*static_cast<const kltPOS*>(data), 0);
      return 1;
    case klMsgPreviewRedrawn:
    case klMsgPreviewRedrawn2:
      m_viewOffset = *static_cast<const kltPOS*>(data);
      m_lastMouseImagePos = klNullPOS;
      i_BindDrawing();
      if (msg == klMsgPreviewRedrawn) {
        // Knives left undrawn for want of memory fail a window being made.
        if (!m_editor.drawing.DoRedrawOverlay() && m_editor.drawing.GetError() == klErrNoMemory)
          NoteFailure(klErrNoMemory);
        i_ShowOverlays();
      } else {
        m_editor.drawing.spl_DoRedrawHVSplitRulers();
      }
      i_ShowSplitRulers();
      // The outline is drawn again over the new picture.
      if (msg == klMsgPreviewRedrawn && m_drag.dragSelecting) {
        const kltPOS mouse = GetMousePos();
        i_pmop_PrepareSelLayer();
        i_pmop_RedrawDragSelection(static_cast<i16>(mouse.x), static_cast<i16>(mouse.y));
      }
      return 1;
    default:
      return 1;
  }
}
