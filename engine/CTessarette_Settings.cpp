// Rebuilding the engine's grid, knots and knives from a settings block, for
// a replay without the main window. The engine's rules: every mismatch
// fails (no fall-back), a hidden knife becomes count -1, the knob size is
// applied to the points here, and a short piece section fails the read.
#include <cstring>

#include "CSettingsBlockWalker.h"
#include "CTessarette.h"

namespace {

typedef CSettingsBlockWalker Walker;
static_assert(Walker::kMaxLines <= CTessarette::kMaxSplitters && Walker::kMaxPoints <= 64,
              "what the walker takes fits the engine's arrays");

// The stored points turn into the engine's through the same function as the
// layout's hand-over, so a replay cuts what the dialog's apply cut.
void PutKnife(const Walker::Knife& in, CTessarette::KNIFESTRUCT_RENDERER& k) {
  const u32 P = in.pointCount;
  std::memset(&k, 0, sizeof(k));
  k.thickness = in.thickness;
  f64 u[Walker::kMaxPoints], h[Walker::kMaxPoints], s[Walker::kMaxPoints];
  CTessarette::EffectiveKnifePoints(in.position, in.offset, in.smoothness, P, in.flags & 1 ? 1 : 0,
                                    in.flags & 2 ? 1 : 0, in.knobSize, u, h, s);
  for (u32 j = 0; j < P; ++j) {
    k.position[j] = static_cast<f32>(u[j]);
    k.offset[j] = static_cast<f32>(h[j]);
    k.smoothness[j] = static_cast<f32>(s[j]);
  }
  k.count = in.flags & 4 ? -1 : static_cast<i32>(P);
}

class EngineSink : public Walker::Sink {
 public:
  explicit EngineSink(CTessarette& e) : m_e(e) {}

  u32 MaxExtraKnives() const override { return CTessarette::kMaxExtraKnives; }
  u8 RecordsMustFit() const override { return 1; }

  u8 Begin(u32 H, u32 V, u32 E) override { return m_e.Init(V + 1, H + 1, E); }
  void Line(u8 horizontal, u32 index, f32 position) override {
    (horizontal ? m_e.m_hPos : m_e.m_vPos)[index] = position;
  }
  void Knot(u32 index, f32 dx, f32 dy) override {
    m_e.m_knots[index].dx = dx;
    m_e.m_knots[index].dy = dy;
  }
  void GridKnife(u8 horizontal, u32 index, const Walker::Knife& knife) override {
    PutKnife(knife, horizontal ? m_e.m_hKnives[index] : m_e.m_vKnives[index]);
  }
  u8 BeginExtras(u32) override { return 1; }  // Init sized the list
  void ExtraKnife(u32 index, const Walker::Knife& knife, u32 knotA, u32 knotB) override {
    PutKnife(knife, m_e.m_xKnives[index].knife);
    m_e.m_xKnives[index].firstKnot = knotA;
    m_e.m_xKnives[index].secondKnot = knotB;
  }
  void Flags(u8 thin, u8 antiAliasing) override {
    m_e.m_thinKnife = thin == 1 ? 1 : 0;
    m_e.m_antiAlias = antiAliasing == 1 ? 1 : 0;
  }
  void OldTail(u16, u16, u8) override {}  // the replay reads the current form only
  void Records(const u8* first, u32 n) override {
    firstRecord = first;
    recordCount = n;
  }

  const u8* firstRecord = nullptr;
  u32 recordCount = 0;

 private:
  CTessarette& m_e;
};

}  // namespace

u8 CTessarette::InitFromLastSettingsBinary(const CKLF_Mem* block, u8& layout, u32& count, const u8*& records) {
  count = 0;
  records = nullptr;
  layout = 0;
  const u8* d = block ? block->GetPtr() : nullptr;
  u32 length = block ? block->GetSize() : 0;
  EngineSink sink(*this);
  // The whole block is checked before the layout is touched.
  Walker::Result res = Walker::Read(d, length, 0, sink);
  if (res == Walker::kRefused) return Fail(klErrNotFormat);
  if (res == Walker::kStopped) {
    if (!GetError()) SetError(klErrNotFormat);
    return 0;
  }
  layout = d[1] == 0 ? 1 : 0;
  count = sink.recordCount;
  records = sink.firstRecord;
  ResetError();
  return 1;
}
