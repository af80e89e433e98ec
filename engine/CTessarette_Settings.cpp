// Rebuilding the engine's grid, knots and knives from a settings block, for
// a replay without the main window.
#include <cmath>
#include <cstring>

#include "CTessarette.h"
#include "KLF_BigEndian.h"

namespace {

const u32 kRecordSize = 92;
const u32 kMaxPoints = 64;


bool Bounded(f32 v) { return std::isfinite(v) && std::fabs(v) <= CTessarette::kCoordLimit; }

// One knife record; k null checks only.
bool ReadKnife(KLF_BEReader& r, CTessarette::KNIFESTRUCT_RENDERER* k) {
  if (!r.Has(5)) return false;
  u8 flags = r.U8();
  u32 P = r.U16();
  u32 knob = r.U8();
  u32 thickness = r.U8();
  // The knife holds 64 points.
  if (P > kMaxPoints || !r.Has(12ull * P)) return false;
  u64 start = r.pos;
  for (u32 j = 0; j < 3 * P; ++j)
    if (!std::isfinite(r.F32())) return false;
  if (!k) return true;

  r.pos = start;
  const u8 flipH = flags & 1 ? 1 : 0, flipU = flags & 2 ? 1 : 0, hidden = flags & 4 ? 1 : 0;
  std::memset(k, 0, sizeof(*k));
  k->thickness = thickness;
  f32 stored[3][kMaxPoints] = {};
  for (int a = 0; a < 3; ++a)
    for (u32 j = 0; j < P; ++j) stored[a][j] = r.F32();
  f64 u[kMaxPoints], h[kMaxPoints], s[kMaxPoints];
  CTessarette::EffectiveKnifePoints(stored[0], stored[1], stored[2], P, flipH, flipU, knob, u, h, s);
  for (u32 j = 0; j < P; ++j) {
    k->position[j] = static_cast<f32>(u[j]);
    k->offset[j] = static_cast<f32>(h[j]);
    k->smoothness[j] = static_cast<f32>(s[j]);
  }
  k->count = hidden ? -1 : static_cast<i32>(P);
  return true;
}

// Walks the block; without commit it only checks, with commit (after the
// checks passed) it rebuilds the engine's layout.
bool ReadBlock(CTessarette& e, const u8* d, u32 length, bool commit, u8& layout, u32& count, const u8*& records) {
  if (!d || length < 10) return false;
  KLF_BEReader r = {d, length, 2};
  u32 H = r.U16(), V = r.U16(), E = r.U32();
  // More lines than the grid holds would leave the rest of the block read
  // at wrong offsets.
  if (H > CTessarette::kMaxSplitters || V > CTessarette::kMaxSplitters || E > CTessarette::kMaxExtraKnives)
    return false;
  if (!r.Has(4ull * (H + V))) return false;
  if (commit && !e.Init(V + 1, H + 1, E)) return false;
  f32* pos[2] = {e.m_hPos, e.m_vPos};
  u32 n[2] = {H, V};
  for (int a = 0; a < 2; ++a)
    for (u32 i = 0; i < n[a]; ++i) {
      f32 v = r.F32();
      if (!Bounded(v)) return false;
      if (commit) pos[a][i] = v;
    }

  const u32 K = (V + 2) * (H + 2);
  if (!r.Has(4) || r.U32() != K || !r.Has(8ull * K)) return false;
  for (u32 i = 0; i < K; ++i) {
    f32 dx = r.F32(), dy = r.F32();
    if (!Bounded(dx) || !Bounded(dy)) return false;
    if (commit) {
      e.m_knots[i].dx = dx;
      e.m_knots[i].dy = dy;
    }
  }

  // Both lists run row by row, as the engine stores them.
  const u32 vc = V * (H + 1), hc = (V + 1) * H;
  if (!r.Has(4) || r.U32() != vc) return false;
  for (u32 i = 0; i < vc; ++i)
    if (!ReadKnife(r, commit ? &e.m_vKnives[i] : nullptr)) return false;
  if (!r.Has(4) || r.U32() != hc) return false;
  for (u32 i = 0; i < hc; ++i)
    if (!ReadKnife(r, commit ? &e.m_hKnives[i] : nullptr)) return false;

  if (!r.Has(4) || r.U32() != E) return false;
  for (u32 i = 0; i < E; ++i) {
    if (!ReadKnife(r, commit ? &e.m_xKnives[i].knife : nullptr) || !r.Has(8)) return false;
    u32 a = r.U32(), b = r.U32();
    if (a >= K || b >= K) return false;
    if (commit) {
      e.m_xKnives[i].firstKnot = a;
      e.m_xKnives[i].secondKnot = b;
    }
  }

  if (!r.Has(2)) return false;
  u8 thin = r.U8(), aa = r.U8();
  u32 N = 0;
  const u8* first = nullptr;
  if (d[0] == 1) {
    if (!r.Has(4)) return false;
    N = r.U32();
    if (!r.Has(static_cast<u64>(N) * kRecordSize)) return false;
    first = N ? d + r.pos : nullptr;
  }
  if (commit) {
    e.m_thinKnife = thin == 1 ? 1 : 0;
    e.m_antiAlias = aa == 1 ? 1 : 0;
    layout = d[1] == 0 ? 1 : 0;
    count = N;
    records = first;
  }
  return true;
}

}  // namespace

u8 CTessarette::InitFromLastSettingsBinary(const CKLF_Mem* block, u8& layout, u32& count, const u8*& records) {
  count = 0;
  records = nullptr;
  layout = 0;
  const u8* d = block ? block->GetPtr() : nullptr;
  u32 length = block ? block->GetSize() : 0;
  // The whole block is checked before the layout is touched.
  if (!ReadBlock(*this, d, length, false, layout, count, records)) return Fail(klErrNotFormat);
  if (!ReadBlock(*this, d, length, true, layout, count, records)) {
    if (!GetError()) SetError(klErrNotFormat);
    count = 0;
    records = nullptr;
    return 0;
  }
  ResetError();
  return 1;
}
