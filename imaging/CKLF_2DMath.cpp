#include "CKLF_2DMath.h"

#include <cmath>
#include <cstring>

namespace {

struct Vec {
  f64 x, y;
};

inline f64 Len(f64 x, f64 y) { return std::sqrt(x * x + y * y); }

// Point of a Bezier curve of degree deg (2 or 3) in Bernstein form.
Vec Bezier(const Vec* c, int deg, f64 t) {
  const f64 u = 1.0 - t;
  Vec p;
  if (deg == 2) {
    const f64 b0 = u * u, b1 = 2.0 * t * u, b2 = t * t;
    p.x = b0 * c[0].x + b1 * c[1].x + b2 * c[2].x;
    p.y = b0 * c[0].y + b1 * c[1].y + b2 * c[2].y;
  } else {
    const f64 b0 = u * u * u, b1 = 3.0 * t * u * u, b2 = 3.0 * t * t * u, b3 = t * t * t;
    p.x = b0 * c[0].x + b1 * c[1].x + b2 * c[2].x + b3 * c[3].x;
    p.y = b0 * c[0].y + b1 * c[1].y + b2 * c[2].y + b3 * c[3].y;
  }
  return p;
}

// Incoming control point of the span that starts at knot k (prev = the
// knot before it).
Vec ControlIn(const CKLF_2DMath::KLSPLINEPOINT& prev, const CKLF_2DMath::KLSPLINEPOINT& k,
              const CKLF_2DMath::KLSPLINEPOINT& next) {
  const f64 s = k.smoothness;
  const f64 lb = Len(prev.x - k.x, prev.y - k.y);
  const f64 r = lb == 0.0 ? 0.0 : Len(next.x - k.x, next.y - k.y) / lb;
  const f64 ax = k.x + s * (next.x - k.x), ay = k.y + s * (next.y - k.y);
  const f64 bx = k.x - r * s * (prev.x - k.x), by = k.y - r * s * (prev.y - k.y);
  return Vec{(ax + bx) / 2.0, (ay + by) / 2.0};
}

// Outgoing control point of the span that ends at knot k (prev = the span's
// start, next = the knot after k).
Vec ControlOut(const CKLF_2DMath::KLSPLINEPOINT& prev, const CKLF_2DMath::KLSPLINEPOINT& k,
               const CKLF_2DMath::KLSPLINEPOINT& next) {
  const f64 s = k.smoothness;
  const f64 la = Len(next.x - k.x, next.y - k.y);
  const f64 r = la == 0.0 ? 0.0 : Len(k.x - prev.x, k.y - prev.y) / la;
  const f64 ax = k.x - s * (k.x - prev.x), ay = k.y - s * (k.y - prev.y);
  const f64 bx = k.x - r * s * (next.x - k.x), by = k.y - r * s * (next.y - k.y);
  return Vec{(ax + bx) / 2.0, (ay + by) / 2.0};
}

// Both blocks stay below 2^32 bytes: 16 bytes a point, 8 bytes a seed.
const u32 kMaxSplinePoints = 1u << 28;
const u32 kStackStart = 512;
const u32 kMaxStack = 1u << 28;

}  // namespace

CKLF_2DMath::CKLF_2DMath() : m_test(nullptr), m_fill(nullptr), m_stackCapacity(0) {}

CKLF_2DMath::~CKLF_2DMath() {}

// ---- segments ----

u8 CKLF_2DMath::IntersectLineSegments(KLLINESEGMENT a, KLLINESEGMENT b) {
  return IntersectLineSegments_RetPoint(a, b, nullptr, nullptr);
}

u8 CKLF_2DMath::IntersectLineSegments_RetPoint(KLLINESEGMENT a, KLLINESEGMENT b, u8* collinear,
                                                kltFPOS* point) {
  const f64 d = (b.y2 - b.y1) * (a.x2 - a.x1) - (b.x2 - b.x1) * (a.y2 - a.y1);
  const f64 na = (b.x2 - b.x1) * (a.y1 - b.y1) - (b.y2 - b.y1) * (a.x1 - b.x1);
  const f64 nb = (a.x2 - a.x1) * (a.y1 - b.y1) - (a.y2 - a.y1) * (a.x1 - b.x1);
  if (collinear) *collinear = 0;
  if (d == 0.0) {
    if (na != 0.0) return 0;
    if (collinear) *collinear = 1;
    return 1;
  }
  const f64 ua = na / d, ub = nb / d;
  if (!(ua >= 0.0 && ua <= 1.0 && ub >= 0.0 && ub <= 1.0)) return 0;
  if (point) {
    point->x = a.x1 + ua * (a.x2 - a.x1);
    point->y = a.y1 + ua * (a.y2 - a.y1);
  }
  return 1;
}

u8 CKLF_2DMath::PointToLineDistance(f64 x1, f64 y1, f64 x2, f64 y2, f64 px, f64 py, f64& dist, f64& t) {
  const f64 dx = x2 - x1, dy = y2 - y1;
  const f64 l2 = dx * dx + dy * dy;
  if (l2 == 0.0) {
    dist = 0.0;
    t = 0.0;
    return 0;
  }
  t = ((px - x1) * dx + (py - y1) * dy) / l2;
  dist = Len(x1 + t * dx - px, y1 + t * dy - py);
  return t >= 0.0 && t <= 1.0 ? 1 : 0;
}

u8 CKLF_2DMath::PointToLineDistance(kltFPOS a, kltFPOS b, kltFPOS p, f64& dist, f64& t) {
  return PointToLineDistance(a.x, a.y, b.x, b.y, p.x, p.y, dist, t);
}

// ---- knife frame ----

u8 CKLF_2DMath::Coors2HU(kltFPOS a, kltFPOS b, kltFPOS p, f64& H, f64& U) {
  const f64 dx = b.x - a.x, dy = b.y - a.y;
  const f64 l2 = dx * dx + dy * dy;
  if (l2 == 0.0) return 0;
  U = ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2;
  // Projection on the normal (-dy, dx), whose length is the base length.
  H = ((p.x - a.x) * -dy + (p.y - a.y) * dx) / l2;
  return 1;
}

u8 CKLF_2DMath::HU2Coors(kltFPOS a, kltFPOS b, f64 H, f64 U, kltFPOS& p) {
  const f64 dx = b.x - a.x, dy = b.y - a.y;
  if (dx == 0.0 && dy == 0.0) return 0;
  p.x = a.x + U * dx + H * -dy;
  p.y = a.y + U * dy + H * dx;
  return 1;
}

// ---- knife splines ----

u8 CKLF_2DMath::CalcPointSpline(const KLSPLINEPOINT* knots, u32 n, f64 step, CKLF_Mem* points, u32& count,
                                CKLF_Mem* spans) {
  if (!knots || n < 3 || !points || !(step > 0.0) || !std::isfinite(step)) return Fail(klErrBadArg);
  // Samples per span; NaN or tiny lengths give the minimum of 3.
  u64 capacity = 2ull * (n - 1);
  for (u32 i = 0; i + 1 < n; ++i) {
    const f64 m = std::trunc(3.0 * Len(knots[i + 1].x - knots[i].x, knots[i + 1].y - knots[i].y) / step);
    if (m >= static_cast<f64>(kMaxSplinePoints)) return Fail(klErrNoMemory);
    capacity += m > 3.0 ? static_cast<u64>(m) : 3u;
    if (capacity >= kMaxSplinePoints) return Fail(klErrNoMemory);
  }
  const u32 cap = static_cast<u32>(capacity);
  if (points->GetSize() < cap * 16u && !points->alloc(cap * 16u)) return FailFrom(*points, klErrNoMemory);
  if (spans && spans->GetSize() < cap * 4u && !spans->alloc(cap * 4u)) return FailFrom(*spans, klErrNoMemory);
  u8* out = points->GetPtr();
  u8* spanOut = spans ? spans->GetPtr() : nullptr;
  u32 made = 0;
  auto store = [&](f64 x, f64 y, u32 span) {
    if (made >= cap) return;
    const kltFPOS p = {x, y};
    std::memcpy(out + made * 16u, &p, 16);
    if (spanOut) std::memcpy(spanOut + made * 4u, &span, 4);
    ++made;
  };

  for (u32 i = 0; i + 1 < n; ++i) {
    const KLSPLINEPOINT& k0 = knots[i];
    const KLSPLINEPOINT& k1 = knots[i + 1];
    Vec c[4];
    int nc = 0;
    c[nc++] = Vec{k0.x, k0.y};
    if (i > 0) c[nc++] = ControlIn(knots[i - 1], k0, k1);
    if (i + 2 < n) c[nc++] = ControlOut(k0, k1, knots[i + 2]);
    c[nc++] = Vec{k1.x, k1.y};
    const f64 mm = std::trunc(3.0 * Len(k1.x - k0.x, k1.y - k0.y) / step);
    const u32 m = mm > 3.0 ? static_cast<u32>(mm) : 3u;
    const f64 dt = 1.0 / m;
    for (f64 t = 0.0; t < 1.0; t += dt) {
      const Vec p = Bezier(c, nc - 1, t);
      store(p.x, p.y, i);
    }
  }
  store(knots[n - 1].x, knots[n - 1].y, n - 2);
  count = made;
  return 1;
}

u8 CKLF_2DMath::CalcBezierPointSpline(const KLSPLINEPOINT* knots, u32 n, CKLF_Mem* points, u32& count) {
  if (!knots || n < 2 || !points) return Fail(klErrBadArg);
  const u64 bytes = 2ull * (n - 1) * 16u;
  if (!klFits32(bytes)) return Fail(klErrNoMemory);
  if (points->GetSize() < bytes && !points->alloc(static_cast<u32>(bytes))) return FailFrom(*points, klErrNoMemory);
  kltFPOS* out = reinterpret_cast<kltFPOS*>(points->GetPtr());
  for (u32 i = 0; i + 1 < n; ++i) {
    // Before the first knot and after the last stands the knot itself.
    const KLSPLINEPOINT& prev = i > 0 ? knots[i - 1] : knots[0];
    const KLSPLINEPOINT& next = i + 2 < n ? knots[i + 2] : knots[n - 1];
    const Vec c1 = ControlIn(prev, knots[i], knots[i + 1]);
    const Vec c2 = ControlOut(knots[i], knots[i + 1], next);
    out[2 * i] = kltFPOS{c1.x, c1.y};
    out[2 * i + 1] = kltFPOS{c2.x, c2.y};
  }
  count = 2 * (n - 1);
  return 1;
}

// ---- seed fill ----

u8 CKLF_2DMath::i_GrowStack() {
  const u32 want = m_stackCapacity == 0 ? kStackStart : m_stackCapacity * 2u;
  if (want > kMaxStack) return Fail(klErrNoMemory);
  if (!m_stackBlock.Resize(want * static_cast<u32>(sizeof(kltPOS)))) return FailFrom(m_stackBlock, klErrNoMemory);
  m_stackCapacity = want;
  return 1;
}

namespace {
struct CallbackScanner {
  CKLF_2DMath::TestProc test;
  CKLF_2DMath::FillProc fill;
  void* user;
  u32 Test(i32 x, i32 y) const { return test(x, y, user); }
  void Fill(i32 x, i32 y, i32 count) const { fill(x, y, count, user); }
};
}  // namespace

u8 CKLF_2DMath::FillBounds(void* user, kltPOS seed) {
  if (!m_test || !m_fill) return 1;
  CallbackScanner s = {m_test, m_fill, user};
  return FillBoundsWith(s, seed);
}
