// The Cutter's cutting run: the layout goes to the engine, the working
// image is cut into pieces, and the effects the pieces had before (or a
// loaded document's) are carried over to the new pieces: by index when
// the grid kept its pieces, else by row and column.
#include <cstring>

#include "CCutterModel.h"
#include "CCutterProgress.h"
#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"

namespace {

// Rows and columns of the carry-over table: the engine numbers cells from
// 1 and allows 101 of them each way.
const u32 kCells = CTessarette::kMaxSplitters + 2;
const u32 kNone = 0xFFFFFFFF;

}  // namespace

void CCutterModel::DoStopCutting() {
  cutting = 0;
  m_window->CuttingState(0);
}

u8 CCutterModel::i_DoCuttingSetFXByRC(u8* destination, const u8* records, u32 count, u32 row, u32 column,
                                      CKLF_Mem& table) {
  const u32 size = kCells * kCells * 4;
  if (table.GetSize() < size) {
    if (!table.alloc(size)) return 0;
    std::memset(table.GetPtr(), kNone, size);
    u32* cell = reinterpret_cast<u32*>(table.GetPtr());
    for (u32 k = 0; k < count; ++k) {
      CTessarette::SFX_ONEPIECE rec;
      if (!CTessaretteRecordCodec::Decode(records + static_cast<size_t>(k) * kPieceRecordSize, kPieceRecordSize, rec))
        continue;
      if (rec.row < kCells && rec.column < kCells) cell[rec.row * kCells + rec.column] = k;
    }
  }
  if (row >= kCells || column >= kCells) return 0;
  const u32 k = reinterpret_cast<const u32*>(table.GetPtr())[row * kCells + column];
  if (k == kNone) return 0;
  std::memcpy(destination, records + static_cast<size_t>(k) * kPieceRecordSize, kPieceRecordSize);
  return 1;
}

// The record of piece i into its working effects: by index when the
// layout kept its pieces, else by cell. byCell is cleared (after the alert)
// when the table cannot be had: later pieces are not looked up again.
u8 CCutterModel::i_CarryOver(CTessarette& engine, const u8* records, u32 count, u8 changed, u8& byCell,
                             CKLF_Mem& table) {
  const u32 n = engine.GetPieceCount();
  for (u32 i = 0; i < n; ++i) {
    u8 raw[kPieceRecordSize];
    if (!changed) {
      if (i >= count) break;
      std::memcpy(raw, records + static_cast<size_t>(i) * kPieceRecordSize, kPieceRecordSize);
    } else {
      if (!byCell) break;
      const CTessarette::SPLITEDCELL* piece = engine.GetPiece(i);
      if (!i_DoCuttingSetFXByRC(raw, records, count, piece->row, piece->column, table)) {
        if (table.GetSize() == 0) {
          byCell = 0;
          m_window->Alert("Memory allocation problem...", "Error!");
        }
        continue;
      }
    }
    CTessarette::SFX_ONEPIECE rec;
    if (CTessaretteRecordCodec::Decode(raw, kPieceRecordSize, rec)) engine.RecordToPiece(rec, i, 1, 0);
  }
  return byCell;
}

// The pieces differ from the records in count, or in a row or column.
u8 CCutterModel::i_LayoutChanged(const CTessarette& engine, const u8* records, u32 count) const {
  const u32 n = engine.GetPieceCount();
  if (count != n) return 1;
  for (u32 i = 0; i < n; ++i) {
    CTessarette::SFX_ONEPIECE rec;
    // A record that does not decode cannot be the piece's.
    if (!CTessaretteRecordCodec::Decode(records + static_cast<size_t>(i) * kPieceRecordSize, kPieceRecordSize, rec) ||
        engine.GetPiece(i)->column != rec.column || engine.GetPiece(i)->row != rec.row)
      return 1;
  }
  return 0;
}

u8 CCutterModel::DoCutting() {
  abortCut = 0;
  cutting = 1;
  m_window->CuttingState(1);
  m_window->CuttingProgress(0);
  m_window->ProcessEvents();
  CTessarette* engine = m_main->GetEngine();
  CKLF_Image* image = m_main->GetWorkingImage();
  u8* planes[5];
  u32 stride = 0, alphaStride = 0;
  if (!engine || !image || !image->GetImageChannels(planes, stride) || !m_main->engine_PutLayoutToPuzzleEngine()) {
    DoStopCutting();
    return Fail(klErrBadArg);
  }
  u8* alpha = m_main->GetCompositeAlpha(alphaStride);
  CKLF_Progress* before = engine->GetProgress();
  CCutterProgress progress(this);
  engine->SetProgress(&progress);
  auto stop = [&]() -> u8 {
    engine->SetProgress(before);
    DoStopCutting();
    return FailFrom(*engine, klErrBadArg);
  };
  progress.Progress(5, nullptr);
  if (progress.IsCanceled()) return stop();
  // From here the old pieces are gone: Cancel can no longer bring them back.
  closingRestores = 0;
  engine->FreeSpliting();
  if (!engine->SplitCells(image->GetImageWidth(), image->GetImageHeight(), alpha, alphaStride, planes, stride, 3, 5,
                          80, 0))
    return stop();
  progress.Progress(80, nullptr);

  // A loaded document's records win over those of the pieces at opening.
  const u8 document = documentRecords && documentRecordCount;
  const u8* records = document ? documentRecords : pendingRecords;
  const u32 count = document ? documentRecordCount : pendingRecordCount;
  u8 changed = 0;
  if (records && count) {
    changed = i_LayoutChanged(*engine, records, count);
    u8 byCell = m_blockLimit >= kCells * kCells * 4ull;
    if (changed && !byCell) m_window->Alert("Memory allocation problem...", "Error!");
    CKLF_Mem table;
    i_CarryOver(*engine, records, count, changed, byCell, table);
  }
  // The pieces side by side on the engine's threads; the progress object
  // pumps the windows' events between the calling thread's pieces.
  if (!engine->RenderAllPieces(80, 100)) return stop();
  progress.Progress(100, nullptr);
  m_window->ProcessEvents();
  engine->SetProgress(before);
  cutting = 0;
  m_window->CuttingState(0);
  m_main->SetCutDone(1);
  if (changed) cutCountDiffers = 1;
  return 1;
}
