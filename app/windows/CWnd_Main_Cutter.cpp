// Layout mode and the Cutter: opening it (counts, thickness, knob size,
// anti-aliasing and the pieces' records handed over), what the Cutter
// calls back on the main window, and the way back to Puzzle mode when it
// closes. The Cutter is reached only through CCutterServices.
#include <cstring>

#include "CCutterServices.h"
#include "CExportWriters.h"
#include "CPluginMain.h"
#include "CTessaretteRecordCodec.h"
#include "CWnd_Main.h"

namespace {

const char kCutterFailed[] = "Cannot open the Cutter window.";

}  // namespace

// The records of the current pieces for the Cutter's next cut: as
// rendered, visible, row and column; the selected and reserved bytes 0.
static u8 PieceRecords(const CTessarette& engine, CKLF_Mem& out, u32& count) {
  count = engine.GetPieceCount();
  const u64 bytes = static_cast<u64>(count) * CTessaretteRecordCodec::kSize;
  if (!klFits32(bytes) || !out.Zalloc(static_cast<u32>(bytes))) return 0;
  for (u32 i = 0; i < count; ++i) {
    CTessarette::SFX_ONEPIECE rec;
    if (!engine.PieceToRecord(i, rec)) return 0;
    rec.selected = 0;
    CTessaretteRecordCodec::Encode(rec, out.GetPtr() + static_cast<u64>(i) * CTessaretteRecordCodec::kSize);
  }
  return 1;
}

// A Cutter that fails is said in an alert (held while this window is
// being made).
void CWnd_Main::DoCutterWindow() { (void)i_OpenCutter(); }

u8 CWnd_Main::i_OpenCutter() {
  m_cutterFailed = 0;
  m_editor.model.SetCutter(nullptr);
  delete m_cutter;
  m_cutter = CCutterServices::New();
  if (!m_cutter) {
    // No Cutter in this build: Layout mode opens without it.
    i_EnterLayoutMode();
    return 1;
  }
  CCutterServices& c = *m_cutter;
  c.mainWindow = this;
  m_editor.model.TellCutterLayout(c);
  u8 kept = 1;
  if (GetEngine()->GetPieceCount() > 0) {
    CKLF_Mem records;
    u32 count = 0;
    kept = PieceRecords(*GetEngine(), records, count) && c.SetPendingRecords(records.GetPtr(), count);
  } else {
    kept = c.SetPendingRecords(m_settings.pendingRecords, m_settings.pendingRecordCount);
  }
  if (!kept) {
    // Without memory for the pieces' records the run ends out of memory.
    if (!m_making) {
      m_failedResult = CPluginMain::klResMemFull;
      localClose();
    }
    return Fail(klErrNoMemory);
  }
  const kltSIZE_s at = m_plugin->WindowPosFromConf("Cutter", "Main", klNullSize, 1);
  const u8 placed = m_plugin->GetError() != klErrNoMemory;
  if (!placed || !c.CreateCutterWindow(at, this)) {
    // A Cutter without its window would take calls its controls cannot
    // answer: it goes, and the window stays as it was. Out of memory is
    // the host's to say while this window is being made.
    const auto* failed = dynamic_cast<const CKLF_ErrorManager*>(m_cutter);
    const u16 code = !placed                          ? static_cast<u16>(klErrNoMemory)
                     : failed && failed->GetError() ? failed->GetError()
                                                    : static_cast<u16>(klErrWindowCreate);
    delete m_cutter;
    m_cutter = nullptr;
    m_cutterFailed = 1;
    if (!m_making || code != klErrNoMemory) Alert(kCutterFailed, kErrorTitle);
    return Fail(code);
  }
  m_editor.model.SetCutter(m_cutter);
  i_EnterLayoutMode();
  // Shown over this window once it is shown, when it is being made.
  if (!m_making) c.ShowCutterWindow();
  return 1;
}

void CWnd_Main::i_EnterLayoutMode() {
  m_editor.model.knotRandomAmount = 0;
  m_preview.SetWashedOut(1);
  m_knivesLayer.SetVisible(1);
  m_movingKnivesLayer.Set(kltRGBA8{255, 0, 0, 0}, 15);
  m_movingKnivesLayer.SetVisible(1);
  m_knotHandlesLayer.SetVisible(1);
  m_editor.undo.uncm_MarkEmpty();
  m_puzzle.layoutMode = 1;
  m_puzzle.OnChangeMode();
  m_preview.SetMaskChannel(nullptr, 0);
  m_puzzle.showPieceExtras = 0;
  OnChangeExtrasState();
  if (!i_SetPreviewImage(&m_sourceImage) && m_preview.GetError() == klErrNoMemory) Alert(kMemoryProblem, kErrorTitle);
  // The full redraw's message redraws the overlays and the split rulers.
  m_preview.DoRedraw(1, 0);
}

void CWnd_Main::OnCutterClose() {
  if (!m_cutter) return;
  for (CKLF_Layer* l : {&m_knivesLayer, &m_movingKnivesLayer, &m_knotHandlesLayer}) l->SetVisible(0);
  m_preview.SetWashedOut(0);
  m_editor.model.SetCutter(nullptr);
  // Puzzle mode, with the preview redrawn (and the split rulers with it).
  m_puzzle.OnCutterClose(m_cutter);
}

// ---------------------------------------------------------------------------
// What the Cutter calls

void CWnd_Main::OnCutterUpdateShape(f32 mutS, f32 mutH, f32 mutU, u8 refill, u8 undo) {
  m_editor.shapes.OnCutterUpdateShape(mutS, mutH, mutU, refill, undo);
}

void CWnd_Main::OnCutterUpdateShape_FlipH(f32 mutS, f32 mutH, f32 mutU) {
  m_editor.shapes.OnCutterUpdateShape_FlipH(mutS, mutH, mutU);
}

void CWnd_Main::OnCutterUpdateShape_FlipU(f32 mutS, f32 mutH, f32 mutU) {
  m_editor.shapes.OnCutterUpdateShape_FlipU(mutS, mutH, mutU);
}

void CWnd_Main::OnCutterUpdateAntiAliasing(u8 on) { m_editor.shapes.OnCutterUpdateAntiAliasing(on); }

void CWnd_Main::OnCutterUpdateRowsCols(u32 rows, u32 columns) { m_editor.grid.OnCutterUpdateRowsCols(rows, columns); }

// The lines of the counts over the layout, the split rulers cleared, while
// a slider moves; the next full redraw shows the layout again.
void CWnd_Main::OnCutterUpdateRowsCols_ShowLines(u32 rows, u32 columns) {
  m_editor.drawing.OnCutterUpdateRowsCols_ShowLines(rows, columns);
  i_RedrawPreviewRect();
  i_ShowSplitRulers();
}

void CWnd_Main::OnCutterUpdateKnifeThickness(u32 thickness, u8 thin) {
  m_editor.shapes.OnCutterUpdateKnifeThickness(thickness, thin);
}

void CWnd_Main::OnCutterUpdateKnifeSize(u32 size) { m_editor.shapes.OnCutterUpdateKnifeSize(size); }

// A layout that cannot be laid was told by the memory alert and left the
// layout as it was.
void CWnd_Main::AutoLayout_Triangles(u32 rows, u32 perRow, u8 regular) {
  static_cast<void>(m_editor.autoLayout.AutoLayout_Triangles(rows, perRow, regular));
}

void CWnd_Main::AutoLayout_Hexagons(u32 rows, u32 columns, u8 regular) {
  static_cast<void>(m_editor.autoLayout.AutoLayout_Hexagons(rows, columns, regular));
}

void CWnd_Main::uncm_SaveState(u32 mode, u32 sub) { m_editor.undo.uncm_SaveState(mode, sub); }

u8 CWnd_Main::settings_SaveCurLayoutAndCellSettingsToMem(CKLF_Mem* block, u32& length) {
  return m_settings.settings_SaveCurLayoutAndCellSettingsToMem(block, length);
}

u8 CWnd_Main::settings_LoadCurLayoutAndCellSettingsFromMem(const u8* data, u32 length, u8 redraw) {
  const u8* records = nullptr;
  u32 count = 0;
  return m_settings.settings_LoadCurLayoutAndCellSettingsFromMem(data, length, &records, count, redraw);
}

void CWnd_Main::GetLayoutState(u16& verticalLines, u16& horizontalLines, u8& razorCut, u8& antiAliasing) {
  verticalLines = m_editor.model.verticalLineCount;
  horizontalLines = m_editor.model.horizontalLineCount;
  razorCut = m_editor.model.thinKnives;
  antiAliasing = m_editor.model.antiAliasing;
}

u8 CWnd_Main::engine_PutLayoutToPuzzleEngine() { return m_editor.model.engine_PutLayoutToPuzzleEngine(*GetEngine()); }

CTessarette* CWnd_Main::GetEngine() { return &m_plugin->GetEngine(); }

u8* CWnd_Main::GetCompositeAlpha(u32& stride) {
  i32 w = 0, h = 0;
  const u8* alpha = m_plugin->GetCompositeAlpha(w, h);
  stride = alpha ? static_cast<u32>(w) : 0;
  return const_cast<u8*>(alpha);
}

void CWnd_Main::SetCutDone(u8 done) {
  if (m_cutter) m_cutter->cutMade = done;
}

CKLF_Storage* CWnd_Main::GetConfStore() { return m_plugin->ConfStorage_GetStorage(); }

void CWnd_Main::PutWindowPosition(const char* name, const char* parent, kltPOS position) {
  if (!m_plugin->PutWindowPosToConf(name, parent, position)) i_TellStoreFailure(m_plugin->GetError());
}

// A window's place or a setting the configuration store could not keep.
void CWnd_Main::i_TellStoreFailure(u16 error) {
  Alert(error == klErrNoMemory ? kMemoryProblem : CExportWriters::kCannotWrite, kErrorTitle);
}
