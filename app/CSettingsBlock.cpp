#include "CSettingsBlock.h"

#include <cstring>

#include "CLayoutModel.h"
#include "CSettingsBlockWalker.h"
#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"
#include "KLF_BigEndian.h"

const char CSettingsBlock::kMagic[kMagicSize + 1] = "KLTS30";
const char CSettingsBlock::kOldMagic[kMagicSize + 1] = "KLTS20";

void klPlatformFLOATtoMac(f32 value, u8* out) { KLF_PutBEF32(out, value); }

f32 klPlatformMacToFLOAT(const u8* in) { return KLF_GetBEF32(in); }

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;
typedef KLF_BEWriter Writer;
typedef CSettingsBlockWalker Walker;
static_assert(Walker::kMaxLines <= CLayoutModel::kMaxLines && Walker::kMaxPoints <= CLayoutModel::kMaxPoints,
              "what the walker takes fits the model's arrays");

// Reads into a layout model with the main window's rules: the model's own
// extra-knife limit, a piece section that does not fit dropped, positions
// unchanged and the knob size kept for the drawing. m null: limits only.
class ModelSink : public Walker::Sink {
 public:
  explicit ModelSink(CLayoutModel* m) : m_m(m) {}

  u32 MaxExtraKnives() const override { return CLayoutModel::kMaxExtraKnives; }
  u8 RecordsMustFit() const override { return 0; }

  u8 Begin(u32 H, u32 V, u32 E) override {
    // The extra knives' room first: a stop leaves the layout as it was.
    if (!m_m->spl_InitAuxKnivesMem(E) ||
        !m_m->spl_SplitEvenParts(static_cast<u16>(V + 1), static_cast<u16>(H + 1), 0, 1))
      return 0;
    m_m->spl_CleanKnives();
    m_m->xKnifeCount = 0;
    return 1;
  }
  void Line(u8 horizontal, u32 index, f32 position) override {
    (horizontal ? m_m->horizontalLines : m_m->verticalLines)[index] = position;
  }
  void Knot(u32 index, f32 dx, f32 dy) override {
    m_m->knots[index].dx = dx;
    m_m->knots[index].dy = dy;
  }
  void GridKnife(u8 horizontal, u32 index, const Walker::Knife& knife) override {
    PutKnife(knife, horizontal ? m_m->hKnives[index] : m_m->vKnives[index]);
  }
  u8 BeginExtras(u32 count) override { return m_m->spl_InitAuxKnivesMem(count); }
  void ExtraKnife(u32 index, const Walker::Knife& knife, u32 knotA, u32 knotB) override {
    CLayoutModel::AUXKNIFESTRUCT& x = m_m->xKnives[index];
    std::memset(static_cast<void*>(&x), 0, sizeof(x));
    PutKnife(knife, x);
    x.knotA = knotA;
    x.knotB = knotB;
    m_m->xKnifeCount = index + 1;
  }
  void Flags(u8 thin, u8 antiAliasing) override {
    m_m->thinKnives = thin == 1 ? 1 : 0;
    m_m->antiAliasing = antiAliasing == 1 ? 1 : 0;
    m_m->spl_OnKnifeSelChanged();
  }
  void OldTail(u16 thickness, u16 knobSize, u8 antiAliasing) override {
    Knife* lists[2] = {m_m->vKnives, m_m->hKnives};
    const u32 counts[2] = {m_m->vKnifeCount, m_m->hKnifeCount};
    for (int l = 0; l < 2; ++l)
      for (u32 i = 0; i < counts[l]; ++i) {
        lists[l][i].knobSize = knobSize;
        lists[l][i].thickness = thickness;
      }
    m_m->thinKnives = thickness == 0 ? 1 : 0;
    m_m->antiAliasing = antiAliasing == 1 ? 1 : 0;
    m_m->spl_OnKnifeSelChanged();
  }
  void Records(const u8* first, u32 n) override {
    if (n == 0) return;
    firstRecord = first;
    recordCount = n;
  }

  const u8* firstRecord = nullptr;
  u32 recordCount = 0;

 private:
  static void PutKnife(const Walker::Knife& in, Knife& k) {
    std::memset(static_cast<void*>(&k), 0, sizeof(Knife));
    k.flipH = in.flags & 1 ? 1 : 0;
    k.flipU = in.flags & 2 ? 1 : 0;
    k.hidden = in.flags & 4 ? 1 : 0;
    k.selected = in.flags & 8 ? 1 : 0;
    k.pointCount = in.pointCount;
    k.knobSize = in.knobSize;
    k.thickness = in.thickness;
    std::memcpy(k.pointU, in.position, sizeof(f32) * in.pointCount);
    std::memcpy(k.pointH, in.offset, sizeof(f32) * in.pointCount);
    std::memcpy(k.pointS, in.smoothness, sizeof(f32) * in.pointCount);
    CLayoutModel::UpdateCentre(k);
    k.span = 0;
  }

  CLayoutModel* m_m;
};

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
  return Walker::Check(data, length, old, ModelSink(nullptr));
}

namespace {

u8 ReadInto(CKLF_FrameWork& self, CLayoutModel& m, const u8* data, u32 length, bool old, const u8** records,
            u32& count, u8* usedDefaults) {
  count = 0;
  if (records) *records = nullptr;
  if (usedDefaults) *usedDefaults = 0;
  ModelSink sink(&m);
  Walker::Result res = Walker::Read(data, length, old ? 1 : 0, sink);
  if (res == Walker::kRead) {
    if (records) {
      *records = sink.firstRecord;
      count = sink.recordCount;
    }
    self.ResetError();
    return 1;
  }
  // The sink stops only when the grid or the extra knives cannot be laid
  // (memory); a refused block gives the defaults.
  if (res == Walker::kRefused) {
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
