#include "CSettingsBlock.h"

#include <cmath>
#include <cstring>

#include "CLayoutModel.h"
#include "CTessarette.h"
#include "KLF_BigEndian.h"
#include "CTessaretteRecordCodec.h"

const char CSettingsBlock::kMagic[kMagicSize + 1] = "KLTS30";
const char CSettingsBlock::kOldMagic[kMagicSize + 1] = "KLTS20";

void klPlatformFLOATtoMac(f32 value, u8* out) { KLF_PutBEF32(out, value); }

f32 klPlatformMacToFLOAT(const u8* in) { return KLF_GetBEF32(in); }

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;
typedef KLF_BEReader Reader;
typedef KLF_BEWriter Writer;

const u32 kKnifeHead = 5;
const u32 kOldKnifeHead = 3;



f32 Clamp(f32 v, f32 lo, f32 hi) { return v < lo ? lo : (v > hi ? hi : v); }

bool Bounded(f32 v) { return std::isfinite(v) && std::fabs(v) <= CTessarette::kCoordLimit; }

// Reads count positions (f32) into out (null: check only).
bool ReadPositions(Reader& r, u32 count, f32* out) {
  for (u32 i = 0; i < count; ++i) {
    f32 v = r.F32();
    if (!Bounded(v)) return false;
    if (out) out[i] = v;
  }
  return true;
}

// One knife record: the head (5 bytes, or 3 in the older block) and its
// three float arrays. k null: check only.
bool ReadKnife(Reader& r, Knife* k, bool old) {
  if (!r.Has(old ? kOldKnifeHead : kKnifeHead)) return false;
  u8 flags = r.U8();
  u32 P = r.U16();
  u8 knob = 0, thick = 0;
  if (!old) {
    knob = r.U8();
    thick = r.U8();
  }
  if (P > CLayoutModel::kMaxPoints) return false;
  if (!r.Has(12ull * P)) return false;
  u64 start = r.pos;
  for (u32 j = 0; j < 3 * P; ++j)
    if (!std::isfinite(r.F32())) return false;
  if (!k) return true;

  r.pos = start;
  std::memset(static_cast<void*>(k), 0, sizeof(Knife));
  k->flipH = flags & 1 ? 1 : 0;
  k->flipU = flags & 2 ? 1 : 0;
  k->hidden = flags & 4 ? 1 : 0;
  k->selected = flags & 8 ? 1 : 0;
  k->pointCount = P;
  k->knobSize = knob;
  k->thickness = thick;
  for (u32 j = 0; j < P; ++j) k->pointU[j] = Clamp(r.F32(), 0.0f, 1.0f);
  for (u32 j = 0; j < P; ++j) k->pointH[j] = Clamp(r.F32(), -3.0f, 3.0f);
  for (u32 j = 0; j < P; ++j) k->pointS[j] = Clamp(r.F32(), -2.0f, 2.0f);
  CLayoutModel::UpdateCentre(*k);
  k->span = 0;
  return true;
}

enum WalkResult { kWalkBad, kWalkOk, kWalkNoMemory };

// Walks a block. m null: checks only, nothing written. With a model the
// block has passed the checks and is read into it.
WalkResult Walk(const u8* data, u32 length, bool old, CLayoutModel* m, const u8** records, u32* count) {
  if (!data || length <= (old ? 5u : 9u)) return kWalkBad;
  Reader r = {data, length, 2};
  u32 H = r.U16();
  u32 V = r.U16();
  u32 E = 0;
  if (!old) E = r.U32();
  // The grid holds 100 lines a direction; a larger count would read the
  // rest of the block at wrong offsets.
  if (H > CLayoutModel::kMaxLines || V > CLayoutModel::kMaxLines) return kWalkBad;
  if (E > CLayoutModel::kMaxExtraKnives) return kWalkBad;
  if (!r.Has(4ull * (H + V))) return kWalkBad;

  if (m) {
    if (!m->spl_SplitEvenParts(static_cast<u16>(V + 1), static_cast<u16>(H + 1), 0, 1)) return kWalkNoMemory;
    m->spl_CleanKnives();
    m->xKnifeCount = 0;
  }
  if (!ReadPositions(r, H, m ? m->horizontalLines : nullptr)) return kWalkBad;
  if (!ReadPositions(r, V, m ? m->verticalLines : nullptr)) return kWalkBad;

  u32 K = (V + 2) * (H + 2);
  if (!r.Has(4) || r.U32() != K || !r.Has(8ull * K)) return kWalkBad;
  for (u32 i = 0; i < K; ++i) {
    f32 dx = r.F32(), dy = r.F32();
    if (!Bounded(dx) || !Bounded(dy)) return kWalkBad;
    if (m) {
      m->knots[i].dx = dx;
      m->knots[i].dy = dy;
    }
  }

  const u32 lists[2] = {V * (H + 1), (V + 1) * H};
  for (int l = 0; l < 2; ++l) {
    if (!r.Has(4) || r.U32() != lists[l]) return kWalkBad;
    Knife* list = m ? (l == 0 ? m->vKnives : m->hKnives) : nullptr;
    for (u32 i = 0; i < lists[l]; ++i)
      if (!ReadKnife(r, list ? &list[i] : nullptr, old)) return kWalkBad;
  }

  if (old) {
    if (!r.Has(5)) return kWalkBad;
    u32 T = r.U16();
    u32 S = r.U16();
    u8 aa = r.U8();
    if (m) {
      for (u32 i = 0; i < m->vKnifeCount; ++i) {
        m->vKnives[i].knobSize = S;
        m->vKnives[i].thickness = T;
      }
      for (u32 i = 0; i < m->hKnifeCount; ++i) {
        m->hKnives[i].knobSize = S;
        m->hKnives[i].thickness = T;
      }
      m->thinKnives = T == 0 ? 1 : 0;
      m->antiAliasing = aa == 1 ? 1 : 0;
      m->spl_OnKnifeSelChanged();
    }
    return kWalkOk;
  }

  if (!r.Has(4) || r.U32() != E) return kWalkBad;
  if (m && !m->spl_InitAuxKnivesMem(E)) return kWalkBad;
  for (u32 i = 0; i < E; ++i) {
    CLayoutModel::AUXKNIFESTRUCT* x = m ? &m->xKnives[i] : nullptr;
    if (x) std::memset(static_cast<void*>(x), 0, sizeof(*x));
    if (!ReadKnife(r, x, false)) return kWalkBad;
    if (!r.Has(8)) return kWalkBad;
    u32 a = r.U32(), b = r.U32();
    if (a >= K || b >= K) return kWalkBad;
    if (x) {
      x->knotA = a;
      x->knotB = b;
      m->xKnifeCount = i + 1;
    }
  }

  if (!r.Has(2)) return kWalkBad;
  u8 thin = r.U8();
  u8 aa = r.U8();
  if (m) {
    m->thinKnives = thin == 1 ? 1 : 0;
    m->antiAliasing = aa == 1 ? 1 : 0;
    m->spl_OnKnifeSelChanged();
    if (data[0] == 1 && r.Has(4)) {
      u32 N = r.U32();
      if (N > 0 && r.Has(static_cast<u64>(N) * CSettingsBlock::kRecordSize)) {
        *records = data + r.pos;
        *count = N;
      }
    }
  }
  return kWalkOk;
}

void WriteKnife(Writer& w, const Knife& k) {
  u32 P = k.pointCount > CLayoutModel::kMaxPoints ? CLayoutModel::kMaxPoints : k.pointCount;
  w.U8(static_cast<u8>((k.flipH ? 1 : 0) | (k.flipU ? 2 : 0) | (k.hidden ? 4 : 0) | (k.selected ? 8 : 0)));
  w.U16(static_cast<u16>(P));
  w.U8(static_cast<u8>(k.knobSize));
  w.U8(static_cast<u8>(k.thickness));
  for (u32 j = 0; j < P; ++j) w.F32(k.pointU[j]);
  for (u32 j = 0; j < P; ++j) w.F32(k.pointH[j]);
  for (u32 j = 0; j < P; ++j) w.F32(k.pointS[j]);
}

}  // namespace

u64 CSettingsBlock::UpperBound(const CLayoutModel& m, u8 puzzle, u32 recordCount) {
  u64 b = 4ull * (m.horizontalLineCount + m.verticalLineCount) + 8ull * m.knotCount +
          773ull * (static_cast<u64>(m.vKnifeCount) + m.hKnifeCount) + 781ull * m.xKnifeCount;
  return b + (puzzle ? 54ull + static_cast<u64>(kRecordSize) * recordCount : 50ull);
}

namespace {

u8 WriteAt(CKLF_FrameWork& self, const CLayoutModel& m, u8 puzzle, const u8* records, u32 recordCount,
           CKLF_Mem* block, u32 offset, u32& length) {
  length = 0;
  if (!block || (puzzle && recordCount > 0 && !records)) return self.Fail(klErrBadArg);
  u64 need = offset + CSettingsBlock::UpperBound(m, puzzle, recordCount);
  if (!klFits32(need)) return self.Fail(klErrNoMemory);
  if (block->GetSize() < need && !block->Resize(static_cast<u32>(need))) return self.FailFrom(*block, klErrNoMemory);
  Writer w = {block->GetPtr(), offset};
  u8 flag = puzzle ? 1 : 0;
  w.U8(flag);
  w.U8(flag);
  w.U16(m.horizontalLineCount);
  w.U16(m.verticalLineCount);
  w.U32(m.xKnifeCount);
  for (u32 i = 0; i < m.horizontalLineCount; ++i) w.F32(m.horizontalLines[i]);
  for (u32 i = 0; i < m.verticalLineCount; ++i) w.F32(m.verticalLines[i]);
  w.U32(m.knotCount);
  for (u32 i = 0; i < m.knotCount; ++i) {
    w.F32(m.knots[i].dx);
    w.F32(m.knots[i].dy);
  }
  w.U32(m.vKnifeCount);
  for (u32 i = 0; i < m.vKnifeCount; ++i) WriteKnife(w, m.vKnives[i]);
  w.U32(m.hKnifeCount);
  for (u32 i = 0; i < m.hKnifeCount; ++i) WriteKnife(w, m.hKnives[i]);
  w.U32(m.xKnifeCount);
  for (u32 i = 0; i < m.xKnifeCount; ++i) {
    WriteKnife(w, m.xKnives[i]);
    w.U32(m.xKnives[i].knotA);
    w.U32(m.xKnives[i].knotB);
  }
  w.U8(m.thinKnives ? 1 : 0);
  w.U8(m.antiAliasing ? 1 : 0);
  if (puzzle) {
    w.U32(recordCount);
    if (recordCount > 0) {
      std::memcpy(w.d + w.pos, records, static_cast<size_t>(recordCount) * CSettingsBlock::kRecordSize);
      w.pos += static_cast<u64>(recordCount) * CSettingsBlock::kRecordSize;
    }
  }
  length = static_cast<u32>(w.pos - offset);
  self.ResetError();
  return 1;
}

}  // namespace

u8 CSettingsBlock::Write(const CLayoutModel& m, u8 puzzle, const u8* records, u32 recordCount, CKLF_Mem* block,
                         u32& length) {
  return WriteAt(*this, m, puzzle, records, recordCount, block, 0, length);
}

u8 CSettingsBlock::WritePuzzle(const CLayoutModel& m, const CTessarette& engine, CKLF_Mem* block, u32& length) {
  length = 0;
  u32 n = engine.GetPieceCount();
  CKLF_Mem records;
  u64 bytes = static_cast<u64>(n) * kRecordSize;
  if (!klFits32(bytes)) return Fail(klErrNoMemory);
  // Zeroed: the two bytes the codec leaves alone are written as 0.
  if (n > 0 && !records.Zalloc(static_cast<u32>(bytes))) return FailFrom(records, klErrNoMemory);
  for (u32 i = 0; i < n; ++i) {
    CTessarette::SFX_ONEPIECE rec;
    if (!engine.PieceToRecord(i, rec)) return Fail(klErrBadArg);
    CTessaretteRecordCodec::Encode(rec, records.GetPtr() + static_cast<u64>(i) * kRecordSize);
  }
  return Write(m, 1, records.GetPtr(), n, block, length);
}

u8 CSettingsBlock::IsValid(const u8* data, u32 length, u8 old) {
  return Walk(data, length, old != 0, nullptr, nullptr, nullptr) == kWalkOk ? 1 : 0;
}

namespace {

u8 ReadInto(CKLF_FrameWork& self, CLayoutModel& m, const u8* data, u32 length, bool old, const u8** records,
            u32& count, u8* usedDefaults) {
  const u8* rec = nullptr;
  count = 0;
  if (records) *records = nullptr;
  if (usedDefaults) *usedDefaults = 0;
  WalkResult res = kWalkBad;
  if (Walk(data, length, old, nullptr, nullptr, nullptr) == kWalkOk)
    res = Walk(data, length, old, &m, &rec, &count);
  if (res == kWalkOk) {
    if (records) *records = rec;
    else count = 0;
    self.ResetError();
    return 1;
  }
  count = 0;
  if (res == kWalkBad) {
    if (usedDefaults) *usedDefaults = 1;
    if (m.settings_LoadDefaults()) {
      self.ResetError();
      return 1;
    }
  }
  return self.FailFrom(m, klErrNoMemory);
}

}  // namespace

u8 CSettingsBlock::Read(CLayoutModel& m, const u8* data, u32 length, const u8** records, u32& count,
                        u8* usedDefaults) {
  return ReadInto(*this, m, data, length, false, records, count, usedDefaults);
}

u8 CSettingsBlock::ReadOld(CLayoutModel& m, const u8* data, u32 length, u8* usedDefaults) {
  u32 count = 0;
  return ReadInto(*this, m, data, length, true, nullptr, count, usedDefaults);
}

u8 CSettingsBlock::WriteDocument(const CLayoutModel& m, u8 puzzle, const u8* records, u32 recordCount,
                                 CKLF_Mem* out, u32& length) {
  u32 body = 0;
  length = 0;
  if (!WriteAt(*this, m, puzzle, records, recordCount, out, kMagicSize, body)) return 0;
  std::memcpy(out->GetPtr(), kMagic, kMagicSize);
  length = body + kMagicSize;
  return 1;
}

u8 CSettingsBlock::ReadDocument(CLayoutModel& m, const u8* data, u32 length, const u8** records, u32& count,
                                u8* usedDefaults) {
  count = 0;
  if (records) *records = nullptr;
  if (!data || length <= 9) return Fail(klErrNotFormat);
  if (std::memcmp(data, kMagic, kMagicSize) == 0)
    return Read(m, data + kMagicSize, length - kMagicSize, records, count, usedDefaults);
  if (std::memcmp(data, kOldMagic, kMagicSize) == 0)
    return ReadOld(m, data + kMagicSize, length - kMagicSize, usedDefaults);
  return Fail(klErrNotFormat);
}
