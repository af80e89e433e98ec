#include "CFXEffectRecords.h"

#include <cstring>

namespace {

typedef CTessarette::SPLITEDCELL Cell;

template <class R>
u8* Bytes(R* record) {
  return reinterpret_cast<u8*>(record);
}

kltFPOS Centre(const Cell& c) {
  return {(c.rect.left + c.rect.right) * 0.5, (c.rect.top + c.rect.bottom) * 0.5};
}

}  // namespace

CFXEffectRecords::CFXEffectRecords(u8 effect)
    : m_effect(effect), m_size(RecordSize(effect)), m_engine(nullptr), m_box{0, 0, 0, 0}, m_valid(0) {
  std::memset(m_value1, 0, sizeof m_value1);
  std::memset(m_value2, 0, sizeof m_value2);
}

CFXEffectRecords::~CFXEffectRecords() {}

u32 CFXEffectRecords::RecordSize(u8 effect) {
  static const u32 kSizes[10] = {sizeof(CTessarette::SFX_BLUR),         sizeof(CTessarette::SFX_BEVEL),
                                 sizeof(CTessarette::SFX_HSL),          sizeof(CTessarette::SFX_COLOROVERLAY),
                                 sizeof(CTessarette::SFX_BC),           sizeof(CTessarette::SFX_MBLUR),
                                 sizeof(CTessarette::SFX_OPACITY),      0,
                                 sizeof(CTessarette::SFX_STROKE),       sizeof(CTessarette::SFX_IMAGEOVERLAY)};
  return effect < 10 ? kSizes[effect] : 0;
}

u8* CFXEffectRecords::PieceRecord(Cell& c, u8 effect, u32 copy) {
  if (copy > CTessarette::FX_BACKUP) return nullptr;
  switch (effect) {
    case 0: return Bytes(&c.blur[copy]);
    case 1: return Bytes(&c.bevel[copy]);
    case 2: return Bytes(&c.hsl[copy]);
    case 3: return Bytes(&c.colorOverlay[copy]);
    case 4: return Bytes(&c.bc[copy]);
    case 5: return Bytes(&c.mblur[copy]);
    case 6: return Bytes(&c.opacity[copy]);
    case 8: return Bytes(&c.stroke[copy]);
    case 9: return Bytes(&c.imageOverlay[copy]);
    default: return nullptr;
  }
}

const u8* CFXEffectRecords::DefaultRecord(const CTessarette& e, u8 effect) {
  switch (effect) {
    case 0: return reinterpret_cast<const u8*>(&e.m_defBlur);
    case 1: return reinterpret_cast<const u8*>(&e.m_defBevel);
    case 2: return reinterpret_cast<const u8*>(&e.m_defHsl);
    case 3: return reinterpret_cast<const u8*>(&e.m_defColorOverlay);
    case 4: return reinterpret_cast<const u8*>(&e.m_defBc);
    case 5: return reinterpret_cast<const u8*>(&e.m_defMblur);
    case 6: return reinterpret_cast<const u8*>(&e.m_defOpacity);
    case 8: return reinterpret_cast<const u8*>(&e.m_defStroke);
    case 9: return reinterpret_cast<const u8*>(&e.m_defImageOverlay);
    default: return nullptr;
  }
}

u8* CFXEffectRecords::i_Piece(u32 i, u32 copy) { return PieceRecord(*m_engine->GetPiece(m_pieces[i]), m_effect, copy); }

u8 CFXEffectRecords::PreparePieces(CTessarette& engine) {
  m_pieces.Empty();
  m_valid = 0;
  m_engine = &engine;
  if (!m_size) return Fail(klErrBadArg);
  const u32 n = engine.GetPieceCount();
  if (n == 0) return 0;
  m_box = {1000000.0, 1000000.0, -1000000.0, -1000000.0};
  for (int pass = 0; pass < 2 && m_pieces.GetSize() == 0; ++pass)
    for (u32 i = 0; i < n; ++i) {
      Cell& c = *engine.GetPiece(i);
      if (pass == 0 && !c.selected) continue;
      if (m_pieces.Add(i) < 0) return FailFrom(m_pieces, klErrNoMemory);
      u8* current = PieceRecord(c, m_effect, CTessarette::FX_RENDERED);
      std::memcpy(PieceRecord(c, m_effect, CTessarette::FX_BACKUP), current, m_size);
      std::memcpy(PieceRecord(c, m_effect, CTessarette::FX_WORKING), current, m_size);
      const kltFPOS p = Centre(c);
      if (p.x < m_box.minX) m_box.minX = p.x;
      if (p.y < m_box.minY) m_box.minY = p.y;
      if (p.x > m_box.maxX) m_box.maxX = p.x;
      if (p.y > m_box.maxY) m_box.maxY = p.y;
    }
  if (!m_results.alloc(m_pieces.GetSize() * m_size)) return FailFrom(m_results, klErrNoMemory);
  return 1;
}

void CFXEffectRecords::InitValues(u32 currentPiece) {
  if (!m_engine || m_pieces.GetSize() == 0) return;
  // The current piece's backup is only taken when it is listed; another
  // piece's would be stale, and OK would hand it to every listed piece.
  u32 from = m_pieces[0];
  for (u32 i = 0; i < m_pieces.GetSize(); ++i)
    if (m_pieces[i] == currentPiece) from = currentPiece;
  std::memcpy(m_value1, PieceRecord(*m_engine->GetPiece(from), m_effect, CTessarette::FX_BACKUP), m_size);
  std::memcpy(m_value2, DefaultRecord(*m_engine, m_effect), m_size);
}

void CFXEffectRecords::GetPreview(u8 mode, const SPREAD& spread, u8* out) const {
  CFXSpread::BuildPreview(GetValue(mode), m_engine ? DefaultRecord(*m_engine, m_effect) : GetValue(mode), m_size,
                          spread.fields, spread.fieldCount, spread.on, out);
}

f64 CFXEffectRecords::i_T(u32 i, u8 directed, kltFPOS a, kltFPOS b, CFXSpread::RandomProc random) {
  if (directed) return CFXSpread::DirectionT(m_math, a, b, Centre(*m_engine->GetPiece(m_pieces[i])));
  return CFXSpread::RandomT(random ? random() : std::rand());
}

void CFXEffectRecords::Regenerate(const SPREAD& spread) {
  const u32 n = m_pieces.GetSize();
  if (!m_engine || n == 0 || m_results.GetSize() < n * m_size) return;
  u8* out = m_results.GetPtr();
  if (!spread.on) {
    m_value1[0] = 1;
    for (u32 i = 0; i < n; ++i) std::memcpy(out + i * m_size, m_value1, m_size);
    m_valid = 1;
    return;
  }
  kltFPOS a = {0, 0}, b = {0, 0};
  const u8 directed = CFXSpread::Segment(spread.direction, m_box, a, b);
  for (u32 i = 0; i < n; ++i)
    CFXSpread::BuildResult(m_value1, m_value2, i_Piece(i, CTessarette::FX_BACKUP), m_size, spread.fields,
                           spread.fieldCount, i_T(i, directed, a, b, spread.random), out + i * m_size);
  m_valid = 1;
}

const u8* CFXEffectRecords::GetResult(u32 i) const {
  return i < m_pieces.GetSize() && m_results.GetSize() >= (i + 1) * m_size ? m_results.GetPtr() + i * m_size
                                                                           : nullptr;
}

void CFXEffectRecords::i_WorkingFrom(u8 results) {
  for (u32 i = 0; i < m_pieces.GetSize(); ++i) {
    const u8* from = results ? GetResult(i) : i_Piece(i, CTessarette::FX_BACKUP);
    if (from) std::memcpy(i_Piece(i, CTessarette::FX_WORKING), from, m_size);
  }
}

u8 CFXEffectRecords::UpdateMainWindow(CEffectWindowServices::Owner& owner, u8 mainPreviewOn, u8 force,
                                      const SPREAD& spread) {
  if (!m_valid) Regenerate(spread);
  i_WorkingFrom(mainPreviewOn || force);
  return owner.pmop_RerenderPieces(&m_pieces, 1, 1);
}

u8 CFXEffectRecords::Confirm(CEffectWindowServices::Owner& owner, const SPREAD& spread) {
  if (!m_valid) Regenerate(spread);
  i_WorkingFrom(1);
  return owner.pmop_RerenderPieces(&m_pieces, 1, 1);
}

u8 CFXEffectRecords::Restore(CEffectWindowServices::Owner& owner) {
  i_WorkingFrom(0);
  return owner.pmop_RerenderPieces(&m_pieces, 1, 1);
}
