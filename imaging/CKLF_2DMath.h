// Plane geometry of the knives: segment intersection, point-to-segment
// distance, the knife frame (H across a base segment in base lengths, U
// along it) and back, sampling a knife's smooth path through its knots into
// a polyline, and a scan-line seed fill.
//
// Cost: CalcPointSpline is linear in the samples it makes (about
// 3 x path length / step). The seed fill touches each pixel of the region
// and of its border a small constant number of times, works on runs, and
// keeps its seed stack between calls (grown, never shrunk). FillBoundsWith
// inlines the caller's tests; FillBounds calls the two callbacks.
// Limits: CalcPointSpline makes fewer than 2^28 points (error 17 beyond);
// the seed stack holds at most 2^28 seeds (error 17 beyond).
#pragma once

#include "CKLF_Mem.h"

class CKLF_2DMath : public CKLF_FrameWork {
 public:
  struct KLLINESEGMENT {
    f64 x1, y1;  // start
    f64 x2, y2;  // end
  };
  // One knot of a knife path; 24 bytes in the caller's array.
  struct KLSPLINEPOINT {
    f64 x;
    f64 y;
    f32 smoothness;  // 0 .. 1
    u32 reserved;    // not read
  };

  // Nonzero when (x, y) is a boundary or already filled.
  typedef u32 (*TestProc)(i32 x, i32 y, void* user);
  // Fills count pixels of row y from x to the right.
  typedef void (*FillProc)(i32 x, i32 y, i32 count, void* user);

  CKLF_2DMath();
  ~CKLF_2DMath() override;

  CKLF_2DMath(const CKLF_2DMath&) = delete;
  CKLF_2DMath& operator=(const CKLF_2DMath&) = delete;

  // ---- segments ----

  // 1 when the segments meet (ends included). Parallel segments meet only
  // when they lie on one line, whether or not they overlap.
  u8 IntersectLineSegments(KLLINESEGMENT a, KLLINESEGMENT b);
  // As above; collinear (may be null) is 1 for segments on one line, else
  // 0; point (may be null) receives the meeting point when there is one
  // and is left untouched for collinear segments.
  u8 IntersectLineSegments_RetPoint(KLLINESEGMENT a, KLLINESEGMENT b, u8* collinear, kltFPOS* point);

  // Distance from P to its foot on line A->B and the foot's parameter t
  // (0 at A, 1 at B, not clamped); 1 when 0 <= t <= 1. A = B: dist 0, t 0,
  // result 0.
  u8 PointToLineDistance(f64 x1, f64 y1, f64 x2, f64 y2, f64 px, f64 py, f64& dist, f64& t);
  u8 PointToLineDistance(kltFPOS a, kltFPOS b, kltFPOS p, f64& dist, f64& t);

  // ---- knife frame ----

  // U = ((P - A) . (B - A)) / |B - A|^2; H = the signed distance of P from
  // the line in lengths of A->B, positive on the side of the normal
  // (-(B.y - A.y), B.x - A.x): left of a downward base. 0 and outputs
  // untouched when A = B.
  u8 Coors2HU(kltFPOS a, kltFPOS b, kltFPOS p, f64& H, f64& U);
  // P = A + U (B - A) + H (-(B.y - A.y), B.x - A.x); 0 when A = B.
  u8 HU2Coors(kltFPOS a, kltFPOS b, f64 H, f64 U, kltFPOS& p);

  // ---- knife splines ----

  // Samples the smooth path through n >= 3 knots into points (kltFPOS,
  // grown to the capacity, never shrunk) and, when spans is given, each
  // point's span index (u32; span k joins knot k and k + 1). count = the
  // points made; the last one is the last knot. Error 1 for null knots,
  // n < 3, null points or a step that is not a positive number; the
  // block's error when it cannot grow.
  [[nodiscard]] u8 CalcPointSpline(const KLSPLINEPOINT* knots, u32 n, f64 step, CKLF_Mem* points, u32& count,
                                   CKLF_Mem* spans = nullptr);
  // Only the inner control points: C1 and C2 of every span, 2 (n - 1)
  // kltFPOS points. Error 1 for null knots, n < 2 or null points.
  [[nodiscard]] u8 CalcBezierPointSpline(const KLSPLINEPOINT* knots, u32 n, CKLF_Mem* points, u32& count);

  // ---- seed fill ----

  void SetFillCallbacks(TestProc test, FillProc fill) {
    m_test = test;
    m_fill = fill;
  }
  TestProc GetTestCallback() const { return m_test; }
  FillProc GetFillCallback() const { return m_fill; }

  // Fills the region of seed through the callbacks (runs left and right of
  // each seed, one seed per open stretch of the rows above and below, last
  // in first out). The test must report filled pixels as boundary and every
  // pixel outside the caller's area as boundary. Returns 1 (also when a
  // callback is missing or the seed is boundary: nothing to do); 0 with
  // error 17 when the seed stack cannot grow (the region is then only
  // partly filled).
  [[nodiscard]] u8 FillBounds(void* user, kltPOS seed);

  // The same fill with the tests inlined: s.Test(x, y) and
  // s.Fill(x, y, count) as above. Calls Fill with the same runs in the same
  // order as FillBounds.
  template <class Scanner>
  [[nodiscard]] u8 FillBoundsWith(Scanner& s, kltPOS seed);

 private:
  [[nodiscard]] u8 i_GrowStack();

  TestProc m_test;
  FillProc m_fill;
  CKLF_Mem m_stackBlock;  // seeds as kltPOS
  u32 m_stackCapacity;
};

template <class Scanner>
u8 CKLF_2DMath::FillBoundsWith(Scanner& s, kltPOS seed) {
  if (s.Test(seed.x, seed.y)) return 1;
  u32 top = 0;
  if (m_stackCapacity == 0 && !i_GrowStack()) return 0;
  kltPOS* stack = reinterpret_cast<kltPOS*>(m_stackBlock.GetPtr());
  stack[top++] = seed;
  while (top > 0) {
    const kltPOS p = stack[--top];
    if (s.Test(p.x, p.y)) continue;
    i32 l = p.x, r = p.x;
    while (l > INT32_MIN && !s.Test(l - 1, p.y)) --l;
    while (r < INT32_MAX && !s.Test(r + 1, p.y)) ++r;
    const i64 run = static_cast<i64>(r) - l + 1;
    s.Fill(l, p.y, run > INT32_MAX ? INT32_MAX : static_cast<i32>(run));
    for (int side = 0; side < 2; ++side) {
      if (side == 0 ? p.y == INT32_MIN : p.y == INT32_MAX) continue;
      const i32 y = side == 0 ? p.y - 1 : p.y + 1;
      bool open = false;
      for (i32 x = r;; --x) {
        if (!s.Test(x, y)) {
          if (!open) {
            if (top == m_stackCapacity) {
              if (!i_GrowStack()) return 0;
              stack = reinterpret_cast<kltPOS*>(m_stackBlock.GetPtr());
            }
            stack[top++] = kltPOS{x, y};
            open = true;
          }
        } else {
          open = false;
        }
        if (x == l) break;
      }
    }
  }
  return 1;
}
