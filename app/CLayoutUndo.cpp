#include "CLayoutUndo.h"

#include <cstring>

#include "CCutterServices.h"
#include "CLayoutModel.h"
#include "CLayoutView.h"
#include "CSettingsBlock.h"

CLayoutUndo::CLayoutUndo(CLayoutModel& model)
    : m(model),
      undoSlot(0),
      undoLength(0),
      preLength(0),
      preKind(0),
      undoEmpty(1),
      storedKind(0),
      storedSub(0),
      undoNoMerge(0),
      preRandomAmount(0),
      storedRandomAmount(0),
      preAnchor(CLayoutModel::kNoAnchor),
      storedAnchor(CLayoutModel::kNoAnchor),
      preAnchorVertical(0),
      storedAnchorVertical(0),
      preAnchorExtra(0),
      storedAnchorExtra(0) {}

CLayoutUndo::~CLayoutUndo() {}

u64 CLayoutUndo::i_PartSize(u32 kind) const {
  switch (kind) {
    case kLines:
      return 4ull * (m.horizontalLineCount + m.verticalLineCount);
    case kKnots:
      return 8ull * m.knotCount;
    case kFlags:
      return 4ull * m.TotalKnifeCount();
    default:
      return 0;
  }
}

void CLayoutUndo::i_PartRead(u32 kind, u8* out) const {
  if (kind == kLines) {
    std::memcpy(out, m.horizontalLines, 4u * m.horizontalLineCount);
    std::memcpy(out + 4u * m.horizontalLineCount, m.verticalLines, 4u * m.verticalLineCount);
  } else if (kind == kKnots) {
    f32* f = reinterpret_cast<f32*>(out);
    for (u32 i = 0; i < m.knotCount; ++i) {
      f[2 * i] = m.knots[i].dx;
      f[2 * i + 1] = m.knots[i].dy;
    }
  } else {
    const u32 n = m.TotalKnifeCount();
    for (u32 i = 0; i < n; ++i) {
      const CLayoutModel::KNIFESTRUCT* k = m.NthKnife(i);
      u8* b = out + 4ull * i;
      b[0] = k->flipH, b[1] = k->flipU, b[2] = k->selected, b[3] = k->hidden;
    }
  }
}

void CLayoutUndo::i_PartWrite(u32 kind, const u8* in) {
  if (kind == kLines) {
    std::memcpy(m.horizontalLines, in, 4u * m.horizontalLineCount);
    std::memcpy(m.verticalLines, in + 4u * m.horizontalLineCount, 4u * m.verticalLineCount);
  } else if (kind == kKnots) {
    const f32* f = reinterpret_cast<const f32*>(in);
    for (u32 i = 0; i < m.knotCount; ++i) {
      m.knots[i].dx = f[2 * i];
      m.knots[i].dy = f[2 * i + 1];
    }
  } else {
    const u32 n = m.TotalKnifeCount();
    for (u32 i = 0; i < n; ++i) {
      CLayoutModel::KNIFESTRUCT* k = m.NthKnife(i);
      const u8* b = in + 4ull * i;
      k->flipH = b[0], k->flipU = b[1], k->selected = b[2], k->hidden = b[3];
    }
  }
}

u8 CLayoutUndo::uncm_PreSave(u32 kind) {
  if (kind < kLines || kind > kFlags) return 1;
  preKind = 0;
  const u64 need = i_PartSize(kind);
  if (!m.GrowBlock(i_Pre(), need)) {
    m.AlertNoMemory();
    return FailFrom(i_Pre(), klErrNoMemory);
  }
  i_PartRead(kind, i_Pre().GetPtr());
  preLength = static_cast<u32>(need);
  preKind = static_cast<u8>(kind);
  preRandomAmount = m.knotRandomAmount;
  preAnchor = m.anchorIndex;
  preAnchorVertical = m.anchorVertical;
  preAnchorExtra = m.anchorExtra;
  return 1;
}

u8 CLayoutUndo::i_WriteBlock(CKLF_Mem& block, u32& length) {
  // Sized first within the model's limit, so that the writer never grows it.
  if (!m.GrowBlock(block, CSettingsBlock::UpperBound(m, 0, 0))) return FailFrom(block, klErrNoMemory);
  CSettingsBlock codec;
  if (!codec.Write(m, 0, nullptr, 0, &block, length)) return FailFrom(codec, klErrNoMemory);
  return 1;
}

u8 CLayoutUndo::uncm_SaveState(u32 kind, u32 sub) {
  if (kind == kGlobal) {
    if (!undoEmpty && storedKind == kGlobal && !undoNoMerge && sub == storedSub) return 1;
    // Written into the spare store: the old point stays when this fails.
    u32 length = 0;
    preKind = 0;
    if (!i_WriteBlock(i_Pre(), length)) {
      m.AlertNoMemory();
      return 0;
    }
    i_Swap();
    undoLength = length;
    storedKind = kGlobal;
    storedSub = sub;
    undoNoMerge = 0;
    undoEmpty = 0;
    return 1;
  }
  if (kind > kFlags || preKind != kind) return 1;
  // Counts changed since the pre-save: the snapshot no longer fits.
  const u64 need = i_PartSize(kind);
  if (need != preLength || need == 0) return 1;
  CKLF_Mem now;
  if (!m.GrowBlock(now, need)) {
    m.AlertNoMemory();
    return FailFrom(now, klErrNoMemory);
  }
  i_PartRead(kind, now.GetPtr());
  if (std::memcmp(now.GetPtr(), i_Pre().GetPtr(), static_cast<size_t>(need)) == 0) return 1;
  i_Swap();
  preKind = 0;
  undoLength = preLength;
  storedKind = kind;
  storedSub = kSubNone;
  undoEmpty = 0;
  undoNoMerge = 1;
  storedRandomAmount = preRandomAmount;
  storedAnchor = preAnchor;
  storedAnchorVertical = preAnchorVertical;
  storedAnchorExtra = preAnchorExtra;
  return 1;
}

void CLayoutUndo::i_TellCutter() {
  CCutterServices* c = m.cutter;
  if (!c) return;
  c->columns = static_cast<u16>(m.verticalLineCount + 1);
  c->rows = static_cast<u16>(m.horizontalLineCount + 1);
  u8 mixed = 0;
  const u32 th = m.spl_DoGetKnifeThickness(1, mixed);
  c->NotifiedByMain_NewThickness(static_cast<u16>(th > 0xFFFF ? 0xFFFF : th), mixed, m.thinKnives);
  const u32 size = m.spl_DoGetKnobSize(1, mixed);
  c->NotifiedByMain_NewKnobSize(static_cast<u16>(size > 0xFFFF ? 0xFFFF : size), mixed);
  c->antiAliasing = m.antiAliasing;
  c->SetInitialStatesToControls();
}

u8 CLayoutUndo::i_RestoreGlobal() {
  u32 length = 0;
  if (!i_WriteBlock(i_Pre(), length)) {
    m.AlertNoMemory();
    return 0;
  }
  preKind = 0;
  CSettingsBlock codec;
  const u8* records = nullptr;
  u32 count = 0;
  if (!codec.Read(m, i_Undo().GetPtr(), undoLength, &records, count)) {
    m.AlertNoMemory();
    return FailFrom(codec, klErrNoMemory);
  }
  i_TellCutter();
  i_Swap();
  undoLength = length;
  undoNoMerge = 1;
  if (m.view) {
    m.view->RedrawRulers();
    m.view->RedrawSplitting();
    m.view->OnKnotSelectionChanged();
  }
  return 1;
}

u8 CLayoutUndo::uncm_Restore() {
  if (undoEmpty) return 0;
  if (storedKind == kGlobal) return i_RestoreGlobal();
  const u32 kind = storedKind;
  // A point saved for other counts is not forced onto this layout.
  if (i_PartSize(kind) != undoLength) return Fail(klErrBadArg);
  f32 amount = storedRandomAmount < 0 ? 0.0f : (storedRandomAmount > 1 ? 1.0f : storedRandomAmount);
  const u32 anchor = storedAnchor;
  const u8 anchorVertical = storedAnchorVertical, anchorExtra = storedAnchorExtra;
  if (!uncm_PreSave(kind)) return 0;
  i_PartWrite(kind, i_Undo().GetPtr());
  if (kind == kKnots) m.knotRandomAmount = amount;
  if (kind == kFlags) {
    m.anchorIndex = anchor;
    m.anchorVertical = anchorVertical;
    m.anchorExtra = anchorExtra;
    m.spl_OnKnifeSelChanged();
  }
  const u8 ok = uncm_SaveState(kind, kSubNone);
  if (m.view) {
    m.view->RedrawRulers();
    m.view->RedrawSplitting();
    if (kind == kKnots) {
      const u32 percent = static_cast<u32>(amount * 100.0f + 0.5f);
      m.view->ShowKnotRandomAmount(percent > 100 ? 100 : percent);
    }
  }
  return ok;
}
