#include "CKLF_StrokeDiscs.h"

#include <cstring>

#include "CKLF_ImageFX.h"

namespace {

inline u64 Align8(u64 n) { return (n + 7) & ~7ull; }

inline u8 DiscValue(const u8* m0, const u8* m1, u32 i, u32 a) {
  const i32 o = m0[i], n = m1[i];
  return static_cast<u8>(o - (static_cast<i32>(a) * (o - n)) / 255);
}

// Runs of equal non-zero values in one matrix row; writes them when out is
// given; returns their count.
u32 RowRuns(const u8* m0, const u8* m1, u32 d, u32 r, u32 a, CKLF_StrokeDiscs::Run* out) {
  u32 n = 0;
  u32 c = 0;
  while (c < d) {
    const u8 v = DiscValue(m0, m1, r * d + c, a);
    u32 e = c + 1;
    while (e < d && DiscValue(m0, m1, r * d + e, a) == v) ++e;
    if (v != 0) {
      if (out) out[n] = {static_cast<i16>(c), static_cast<i16>(e - 1), v};
      ++n;
    }
    c = e;
  }
  return n;
}

}  // namespace

const u8* CKLF_StrokeDiscs::Use(u8 width) {
  if (width < 2) return Fail(klErrBadArg, nullptr);
  Slot* slot = nullptr;
  for (Slot& s : m_slots)
    if (s.width == width) slot = &s;
  if (!slot) {
    slot = &m_slots[0];
    for (Slot& s : m_slots)
      if (s.lastUse < slot->lastUse) slot = &s;
    slot->Forget();
    m_current = nullptr;
    const u32 d = 2u * width + 1, dd = d * d, ds = d - 2;
    // The inner disc is made in the space after the two, later the runs'.
    const u32 bytes = 2 * dd + ds * ds;
    if (slot->block.GetSize() < bytes && !slot->block.alloc(bytes)) return FailFrom(slot->block, klErrNoMemory, nullptr);
    u8* mm = slot->block.GetPtr();
    u8* small = mm + 2 * dd;
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, mm, width);
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, small, width - 1);
    std::memset(mm + dd, 0, dd);
    for (u32 r = 0; r < ds; ++r) std::memcpy(mm + dd + (r + 1) * d + 1, small + r * ds, ds);
    slot->used = static_cast<u32>(Align8(2ull * dd));
    slot->width = width;
  }
  slot->lastUse = ++m_clock;
  m_current = slot;
  i_Trim();
  return slot->block.GetPtr();
}

u8 CKLF_StrokeDiscs::MakeRuns(u8 alpha) {
  Slot* s = m_current;
  if (!s) return Fail(klErrEmpty);
  if (s->tables[alpha]) return 1;
  const u32 d = 2u * s->width + 1;
  u64 count = 0;
  for (u32 r = 0; r < d; ++r) count += RowRuns(s->block.GetPtr(), s->block.GetPtr() + d * d, d, r, alpha, nullptr);
  const u64 at = s->used, end = at + Align8(d * sizeof(Row) + count * sizeof(Run));
  if (end > s->block.GetSize()) {
    const u64 grown = end > 2ull * s->block.GetSize() ? end : 2ull * s->block.GetSize();
    if (!klFits32(grown)) return Fail(klErrNoMemory);
    if (!s->block.Resize(static_cast<u32>(grown))) return FailFrom(s->block, klErrNoMemory);
    i_Trim();
  }
  const u8* m0 = s->block.GetPtr();
  Row* rows = reinterpret_cast<Row*>(s->block.GetPtr() + at);
  Run* runs = reinterpret_cast<Run*>(rows + d);
  u32 fill = 0;
  for (u32 r = 0; r < d; ++r) {
    rows[r] = {fill, RowRuns(m0, m0 + d * d, d, r, alpha, runs + fill)};
    fill += rows[r].count;
  }
  s->used = static_cast<u32>(end);
  s->tables[alpha] = static_cast<u32>(at);
  return 1;
}

const CKLF_StrokeDiscs::Row* CKLF_StrokeDiscs::Rows(u8 alpha) const {
  return reinterpret_cast<const Row*>(m_current->block.GetPtr() + m_current->tables[alpha]);
}

const CKLF_StrokeDiscs::Run* CKLF_StrokeDiscs::Runs(u8 alpha) const {
  return reinterpret_cast<const Run*>(Rows(alpha) + 2u * m_current->width + 1);
}

u64 CKLF_StrokeDiscs::Bytes() const {
  u64 kept = 0;
  for (const Slot& s : m_slots) kept += s.block.GetSize();
  return kept;
}

void CKLF_StrokeDiscs::Slot::Forget() {
  width = 0;
  lastUse = 0;
  std::memset(tables, 0, sizeof tables);
}

void CKLF_StrokeDiscs::i_Trim() {
  while (Bytes() > kMaxBytes) {
    Slot* oldest = nullptr;
    for (Slot& s : m_slots)
      if (&s != m_current && s.block.GetSize() && (!oldest || s.lastUse < oldest->lastUse)) oldest = &s;
    if (!oldest) return;
    oldest->Forget();
    oldest->block.free();
  }
}
