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
  m_window->CuttingState(0);
  cutting = 0;
}

u8 CCutterModel::i_DoCuttingSetFXByRC(u8* destination, const u8* records, u32 count, u32 row, u32 column,
                                      CKLF_Mem& table) {
  const u32 size = kCells * kCells * 4;
  if (table.GetSize() < size) {
    if (!table.alloc(size)) return 0;
    table.Set(kNone);
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

u8 CCutterModel::i_CarryOver(CTessarette& engine, const u8* records, u32 count, u8 changed, u32 i,
                             CKLF_Mem& table) {
  u8 raw[kPieceRecordSize];
  if (!changed) {
    if (i >= count) return 0;
    std::memcpy(raw, records + static_cast<size_t>(i) * kPieceRecordSize, kPieceRecordSize);
  } else {
    const CTessarette::SPLITEDCELL* piece = engine.GetPiece(i);
    if (!piece || !i_DoCuttingSetFXByRC(raw, records, count, piece->row, piece->column, table)) return 0;
  }
  CTessarette::SFX_ONEPIECE rec;
  return CTessaretteRecordCodec::Decode(raw, kPieceRecordSize, rec) && engine.RecordToPiece(rec, i, 1, 0);
}

u8 CCutterModel::DoCutting() {
  closingRestores = 0;
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
  CCutterProgress progress(this);
  engine->SetProgress(&progress);
  progress.Progress(5, nullptr);
  engine->FreeSpliting();
  auto stop = [&]() -> u8 {
    engine->SetProgress(nullptr);
    DoStopCutting();
    return FailFrom(*engine, klErrBadArg);
  };
  if (!engine->SplitCells(image->GetImageWidth(), image->GetImageHeight(), alpha, alphaStride, planes, stride, 3, 5,
                          80, 0))
    return stop();
  progress.Progress(80, nullptr);

  // A loaded document's records win over those of the pieces at opening.
  const u8* records = documentRecords && documentRecordCount ? documentRecords : pendingRecords;
  const u32 count = documentRecords && documentRecordCount ? documentRecordCount : pendingRecordCount;
  const u32 n = engine->GetPieceCount();
  u8 changed = 0;
  if (records && count) {
    changed = count != n;
    for (u32 i = 0; !changed && i < n; ++i) {
      CTessarette::SFX_ONEPIECE rec;
      CTessaretteRecordCodec::Decode(records + static_cast<size_t>(i) * kPieceRecordSize, kPieceRecordSize, rec);
      changed = engine->GetPiece(i)->column != rec.column || engine->GetPiece(i)->row != rec.row;
    }
  }
  CKLF_Mem table;
  i32 last = 80;
  for (u32 i = 0; i < n; ++i) {
    const i32 p = static_cast<i32>(80 + i * 20.0 / n);
    if (p != last) {
      progress.Progress(static_cast<u8>(p), nullptr);
      m_window->ProcessEvents();
      last = p;
      if (abortCut) return stop();
    }
    if (records && count) i_CarryOver(*engine, records, count, changed, i, table);
    if (!engine->RenderPiece(i)) return stop();
  }
  progress.Progress(100, nullptr);
  m_window->ProcessEvents();
  engine->SetProgress(nullptr);
  m_window->CuttingState(0);
  cutting = 0;
  m_main->SetCutDone(1);
  if (changed) cutCountDiffers = 1;
  return 1;
}
