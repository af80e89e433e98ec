#include "CSettingsBlockWalker.h"

#include <cmath>

#include "CTessarette.h"
#include "KLF_BigEndian.h"

namespace {

typedef CSettingsBlockWalker Walker;
typedef KLF_BEReader Reader;

const u32 kKnifeHead = 5;
const u32 kOldKnifeHead = 3;  // no knob size, no thickness
const u32 kHead = 10;         // flags, H, V, E
const u32 kOldHead = 6;       // two unread bytes, H, V
const u32 kOldTail = 5;       // thickness, knob size, anti-aliasing

f32 Clamp(f32 v, f32 lo, f32 hi) { return v < lo ? lo : (v > hi ? hi : v); }

bool Bounded(f32 v) { return std::isfinite(v) && std::fabs(v) <= CTessarette::kCoordLimit; }

// One knife record, every float checked finite; k gets it clamped.
bool ReadKnife(Reader& r, bool old, Walker::Knife& k) {
  if (!r.Has(old ? kOldKnifeHead : kKnifeHead)) return false;
  k.flags = r.U8();
  k.pointCount = r.U16();
  k.knobSize = old ? 0 : r.U8();
  k.thickness = old ? 0 : r.U8();
  const u32 P = k.pointCount;
  if (P > Walker::kMaxPoints || !r.Has(12ull * P)) return false;
  f32* arrays[3] = {k.position, k.offset, k.smoothness};
  const f32 limit[3] = {1.0f, 3.0f, 2.0f};
  const f32 low[3] = {0.0f, -3.0f, -2.0f};
  for (int a = 0; a < 3; ++a)
    for (u32 j = 0; j < P; ++j) {
      f32 v = r.F32();
      if (!std::isfinite(v)) return false;
      arrays[a][j] = Clamp(v, low[a], limit[a]);
    }
  return true;
}

// The walk: checks alone when feed is null, else the sink hears every
// field. rules gives the reader's limits either way.
class Walk {
 public:
  Walk(const u8* d, u32 length, bool old, const Walker::Sink& rules, Walker::Sink* feed)
      : m_d(d), m_length(length), m_old(old), m_rules(rules), m_feed(feed), m_r{d, length, 2} {}

  Walker::Result Run() {
    if (!m_d || m_length < (m_old ? kOldHead : kHead)) return Walker::kRefused;
    m_H = m_r.U16();
    m_V = m_r.U16();
    m_E = m_old ? 0 : m_r.U32();
    // A larger count than the grid holds would read the rest of the block
    // at wrong offsets.
    if (m_H > Walker::kMaxLines || m_V > Walker::kMaxLines || m_E > m_rules.MaxExtraKnives())
      return Walker::kRefused;
    if (!m_r.Has(4ull * (m_H + m_V))) return Walker::kRefused;
    if (m_feed && !m_feed->Begin(m_H, m_V, m_E)) return Walker::kStopped;
    if (!Lines(1, m_H) || !Lines(0, m_V) || !Knots() || !GridKnives()) return Walker::kRefused;
    if (m_old) return OldTail();
    Walker::Result res = Extras();
    return res == Walker::kRead ? Tail() : res;
  }

 private:
  bool Lines(u8 horizontal, u32 n) {
    for (u32 i = 0; i < n; ++i) {
      f32 v = m_r.F32();
      if (!Bounded(v)) return false;
      if (m_feed) m_feed->Line(horizontal, i, v);
    }
    return true;
  }

  bool Knots() {
    m_K = (m_V + 2) * (m_H + 2);
    if (!m_r.Has(4) || m_r.U32() != m_K || !m_r.Has(8ull * m_K)) return false;
    for (u32 i = 0; i < m_K; ++i) {
      f32 dx = m_r.F32(), dy = m_r.F32();
      if (!Bounded(dx) || !Bounded(dy)) return false;
      if (m_feed) m_feed->Knot(i, dx, dy);
    }
    return true;
  }

  // Vertical then horizontal, each list row by row as the grid holds it.
  bool GridKnives() {
    const u32 counts[2] = {m_V * (m_H + 1), (m_V + 1) * m_H};
    for (u8 horizontal = 0; horizontal < 2; ++horizontal) {
      if (!m_r.Has(4) || m_r.U32() != counts[horizontal]) return false;
      for (u32 i = 0; i < counts[horizontal]; ++i) {
        if (!ReadKnife(m_r, m_old, m_knife)) return false;
        if (m_feed) m_feed->GridKnife(horizontal, i, m_knife);
      }
    }
    return true;
  }

  Walker::Result Extras() {
    if (!m_r.Has(4) || m_r.U32() != m_E) return Walker::kRefused;
    if (m_feed && !m_feed->BeginExtras(m_E)) return Walker::kStopped;
    for (u32 i = 0; i < m_E; ++i) {
      if (!ReadKnife(m_r, false, m_knife) || !m_r.Has(8)) return Walker::kRefused;
      u32 a = m_r.U32(), b = m_r.U32();
      if (a >= m_K || b >= m_K) return Walker::kRefused;
      if (m_feed) m_feed->ExtraKnife(i, m_knife, a, b);
    }
    return Walker::kRead;
  }

  Walker::Result Tail() {
    if (!m_r.Has(2)) return Walker::kRefused;
    u8 thin = m_r.U8(), aa = m_r.U8();
    if (m_feed) m_feed->Flags(thin, aa);
    if (m_d[0] != 1) return Walker::kRead;
    // The piece section: how far it must fit is the reader's rule.
    const bool must = m_rules.RecordsMustFit() != 0;
    if (!m_r.Has(4)) return must ? Walker::kRefused : Walker::kRead;
    u32 N = m_r.U32();
    if (!m_r.Has(static_cast<u64>(N) * Walker::kRecordSize)) return must ? Walker::kRefused : Walker::kRead;
    if (m_feed) m_feed->Records(N ? m_d + m_r.pos : nullptr, N);
    return Walker::kRead;
  }

  Walker::Result OldTail() {
    if (!m_r.Has(kOldTail)) return Walker::kRefused;
    u16 T = m_r.U16(), S = m_r.U16();
    u8 aa = m_r.U8();
    if (m_feed) m_feed->OldTail(T, S, aa);
    return Walker::kRead;
  }

  const u8* m_d;
  u32 m_length;
  bool m_old;
  const Walker::Sink& m_rules;
  Walker::Sink* m_feed;
  Reader m_r;
  u32 m_H = 0, m_V = 0, m_E = 0, m_K = 0;
  Walker::Knife m_knife;
};

}  // namespace

u8 CSettingsBlockWalker::Check(const u8* data, u32 length, u8 old, const Sink& sink) {
  return Walk(data, length, old != 0, sink, nullptr).Run() == kRead ? 1 : 0;
}

CSettingsBlockWalker::Result CSettingsBlockWalker::Read(const u8* data, u32 length, u8 old, Sink& sink) {
  if (!Check(data, length, old, sink)) return kRefused;
  return Walk(data, length, old != 0, sink, &sink).Run();
}
