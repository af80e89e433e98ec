// Puzzle-mode undo: one level over the pieces' effects, selection and
// visibility. The store holds native records, two a piece: the saved state
// first, then the pre-saved one.
#include <cstring>

#include "CPuzzleModel.h"
#include "CTessaretteRecordCodec.h"

namespace {

typedef CTessarette::SFX_ONEPIECE Record;

const char kRendering[] = "Rendering is in progress:";

// The same effects, selected and visible bytes: compared in the stored
// form, field by field (row and column are not part of the state).
bool SameState(const Record& a, const Record& b) {
  u8 x[CTessaretteRecordCodec::kSize] = {}, y[CTessaretteRecordCodec::kSize] = {};
  CTessaretteRecordCodec::Encode(a, x);
  CTessaretteRecordCodec::Encode(b, y);
  return std::memcmp(x, y, 90) == 0;
}

}  // namespace

u64 CPuzzleModel::i_UndoBytes() const { return 2ull * i_Count() * sizeof(Record); }

u8 CPuzzleModel::i_GrowUndo() {
  const u64 bytes = i_UndoBytes();
  if (m_undoMem.GetSize() >= bytes) return 1;
  if (!klFits32(bytes)) return Fail(klErrNoMemory);
  return m_undoMem.Zalloc(static_cast<u32>(bytes)) ? 1 : FailFrom(m_undoMem, klErrNoMemory);
}

void CPuzzleModel::unpm_PreSave() {
  const u32 n = i_Count();
  if (m_undoMem.GetSize() < i_UndoBytes()) {
    m_undoEmpty = 1;
    return;
  }
  Record* pre = reinterpret_cast<Record*>(m_undoMem.GetPtr()) + n;
  for (u32 i = 0; i < n; ++i) m_engine.PieceToRecord(i, pre[i]);
  m_preSaveAnchor = pieceAnchor;
}

void CPuzzleModel::unpm_SaveState(u8 compare) {
  const u32 n = i_Count();
  if (m_undoMem.GetSize() < i_UndoBytes()) {
    m_undoEmpty = 1;
    return;
  }
  Record* saved = reinterpret_cast<Record*>(m_undoMem.GetPtr());
  if (compare) {
    bool changed = false;
    for (u32 i = 0; i < n && !changed; ++i) {
      Record now;
      m_engine.PieceToRecord(i, now);
      changed = !SameState(now, saved[n + i]);
    }
    if (!changed) return;
  }
  std::memcpy(static_cast<void*>(saved), saved + n, static_cast<size_t>(n) * sizeof(Record));
  m_undoAnchor = m_preSaveAnchor;
  m_undoEmpty = 0;
}

// Swaps one piece's saved state with its present one and renders it when
// needed; area grows by what must be recombined. 0 when the render failed.
u8 CPuzzleModel::i_RestorePiece(u32 index, kltRECT_s& area, u8& selectionChanged) {
  Record& saved = reinterpret_cast<Record*>(m_undoMem.GetPtr())[index];
  const Record wanted = saved;
  m_engine.PieceToRecord(index, saved);
  m_engine.RecordToPiece(wanted, index, 0, 0);
  CTessarette::SPLITEDCELL& c = *m_engine.GetPiece(index);
  const u8 viewChanged = wanted.visible != c.visible;
  c.visible = wanted.visible;
  if (wanted.selected != c.selected) {
    pmop_Sel_SetSelectionToPiece(static_cast<i32>(index), wanted.selected, wanted.selected ? 0 : 1, 0);
    selectionChanged = 1;
  }
  const u8 render = i_pmop_CheckPieceFXUpdates(static_cast<i32>(index));
  if (render && !i_RenderPiece(index)) return 0;
  if (render || viewChanged) i_GrowUnion(area, c.rect);
  return 1;
}

u8 CPuzzleModel::unpm_Restore() {
  const u32 n = i_Count();
  if (m_undoEmpty || n == 0 || m_undoMem.GetSize() < static_cast<u64>(n) * sizeof(Record)) return 1;
  Progress progress(m_port, kRendering);
  progress.Report(0);
  kltRECT_s area = klNullRect;
  u8 selectionChanged = 0, ok = 1;
  for (u32 i = 0; i < n && ok; ++i) {
    progress.Report(static_cast<u32>(70ull * i / n));
    ok = i_RestorePiece(i, area, selectionChanged);
  }
  if (ok) {
    const i32 anchor = m_undoAnchor;
    m_undoAnchor = pieceAnchor;
    pieceAnchor = anchor;
  }
  // A restore that stopped half way cannot be undone or redone.
  m_undoEmpty = ok ? 0 : 1;
  if (!klIsNullRect(area)) {
    progress.Report(70);
    static_cast<void>(i_Recombine(area, 1, 70, 100));  // one that fails is done again later
    OnCommonFXChanged();
  } else if (selectionChanged) {
    m_port.RedrawPreview(1);
    OnCommonFXChanged();
  }
  progress.Report(100);
  return ok ? 1 : FailFrom(m_engine, klErrNoMemory);
}
