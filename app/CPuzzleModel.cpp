// The Puzzle-mode state, the mode switch and the helpers the effect,
// selection and undo parts share.
#include "CPuzzleModel.h"

#include <cstring>

#include "CCutterServices.h"

namespace {

const char kMsgMemory[] = "Memory allocation problem...";
const char kMsgTitle[] = "Error!";

}  // namespace

CPuzzleModel::CPuzzleModel(CTessarette& engine, CMainWindowPort& port) : m_engine(engine), m_port(port) {}

CPuzzleModel::~CPuzzleModel() { i_DestroyEffectWindow(); }

void CPuzzleModel::SetDocument(const u8* compositeAlpha, u32 width, u32 height, u8 layerAccess) {
  m_alpha = compositeAlpha;
  m_width = width;
  m_height = height;
  m_layerAccess = layerAccess ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Shared helpers

CPuzzleModel::Progress::Progress(CMainWindowPort& port, const char* caption)
    : m_port(port), m_progress(port.BeginProgress(caption)), m_last(-1) {}

CPuzzleModel::Progress::~Progress() { m_port.EndProgress(); }

void CPuzzleModel::Progress::Report(u32 percent) {
  if (percent > 100) percent = 100;
  if (static_cast<i32>(percent) == m_last) return;
  m_last = static_cast<i32>(percent);
  if (m_progress) m_progress->Progress(static_cast<u8>(percent), nullptr);
}

void CPuzzleModel::i_GrowUnion(kltRECT_s& area, kltRECT_s r) {
  if (!klIsNullRect(area)) {
    if (area.left < r.left) r.left = area.left;
    if (area.top < r.top) r.top = area.top;
    if (area.right > r.right) r.right = area.right;
    if (area.bottom > r.bottom) r.bottom = area.bottom;
  }
  area = r.left < r.right && r.top < r.bottom ? r : klNullRect;
}

// Without memory for the list the user is told and nothing is a target.
u8 CPuzzleModel::i_Targets(i32 piece, CKLF_DWordArray& out) const {
  out.Empty();
  const u32 n = i_Count();
  if (n == 0) return 0;
  if (piece != kSelection) {
    if (!i_Valid(piece)) return 0;
    if (out.Add(static_cast<u32>(piece)) < 0) return i_NoMemoryForList(out);
    return 1;
  }
  for (int pass = 0; pass < 2 && out.GetSize() == 0; ++pass) {
    if (!out.SetArraySize(n)) return i_NoMemoryForList(out);
    for (u32 i = 0; i < n; ++i)
      if ((pass == 1 || m_engine.GetPiece(i)->selected) && out.Add(i) < 0) return i_NoMemoryForList(out);
  }
  return 1;
}

u8 CPuzzleModel::i_NoMemoryForList(CKLF_DWordArray& list) const {
  list.Empty();
  m_port.Alert(kMsgMemory, kMsgTitle);
  return 0;
}

void CPuzzleModel::i_DestroyEffectWindow() {
  delete effectWindow;
  effectWindow = nullptr;
}

u8 CPuzzleModel::i_RenderPieces(const u32* pieces, u32 count) { return m_engine.RenderPieces(pieces, count); }

// ---------------------------------------------------------------------------
// Mode switch

u8 CPuzzleModel::OnChangeMode() {
  CModeControls::CONTROLSTATE states[CModeControls::kCount];
  CModeControls::GetStates(layoutMode, effectWindowOpen, m_layerAccess, randomKnotsAmount, states);
  for (const CModeControls::CONTROLSTATE& s : states) m_port.SetControlState(s);
  if (!layoutMode) OnCommonFXChanged();
  m_port.OnModeChanged(layoutMode);
  return 1;
}

void CPuzzleModel::OnCutterClose(const CCutterServices* cutter) {
  if (!cutter) return;
  layoutMode = 0;
  OnChangeMode();
  if (!i_EnterPuzzle(cutter->cutMade)) {
    m_port.CloseWindow();
    return;
  }
  if (cutter->cutMade && cutter->cutCountDiffers) {
    m_port.RedrawPreview(1);
    if (m_port.AskMessageBox("Pieces Layout Has Changed", "Do you want to reset effects?", 2, 3) == 1) {
      unpm_PreSave();
      pmop_ResetAdjustments();
      unpm_SaveState(1);
    }
  }
  m_port.RedrawPreview(0);
}

// Result image, selection map and undo store for the pieces, after a cut
// (new, recombined) or without one (kept). 0 when the window must close.
u8 CPuzzleModel::i_EnterPuzzle(u8 cut) {
  const u64 area = static_cast<u64>(m_width) * m_height;
  const u8 sized = resultImage.GetImageMode() == 2 && resultImage.GetImageWidth() == m_width &&
                   resultImage.GetImageHeight() == m_height;
  if (area == 0 || m_width > 0xFFFF || m_height > 0xFFFF) return Fail(klErrBadArg);
  if (!cut) {
    if (!sized || i_Count() == 0) return Fail(klErrEmpty);
    if (!selectionMap || m_mapMem.GetSize() < area) {
      m_port.Alert(kMsgMemory, kMsgTitle);
      return Fail(klErrNoMemory);
    }
  } else {
    if (!sized && !resultImage.Create(static_cast<u16>(m_width), static_cast<u16>(m_height), 2))
      return FailFrom(resultImage, klErrNoMemory);
    if (m_mapMem.GetSize() < area ? !m_mapMem.Zalloc(static_cast<u32>(area)) : !m_mapMem.Zero()) {
      selectionMap = nullptr;
      m_port.Alert(kMsgMemory, kMsgTitle);
      return FailFrom(m_mapMem, klErrNoMemory);
    }
    selectionMap = m_mapMem.GetPtr();
    static_cast<void>(i_Recombine(klNullRect, 0, 0, 100));  // one that fails is done on Apply
  }
  pieceAnchor = -1;
  m_port.SetPreviewMask(selectionMap, m_width);
  showPieceExtras = 1;
  m_port.OnChangeExtrasState();
  m_port.SetPreviewData();
  if (cut || m_undoMem.GetSize() < i_UndoBytes()) {
    m_undoEmpty = 1;
    if (!i_GrowUndo()) {
      m_port.Alert(kMsgMemory, kMsgTitle);
      return 0;
    }
  }
  return 1;
}
