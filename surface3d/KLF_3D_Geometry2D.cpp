// Plane geometry of the shadow code: segment, point and triangle tests in
// light space and the depth of an occluder at a probed point. Single
// precision throughout, as the shadow walks feed them.
//
// An edge meets the horizontal through y when one end lies above y and
// the other does not, and its x there is always reckoned from its lower
// end: two triangles that share an edge then agree on which of them holds
// a point on it, so light does not leak between them, and a point that a
// triangle holds always finds its two crossings.
#include <utility>

#include "CKLF_3D_SurfaceBase.h"

namespace {

inline bool Crosses(f32 ay, f32 by, f32 y) { return (ay > y) != (by > y); }

// Where edge a-b crosses the horizontal through y, as a fraction from its
// lower end lo.
inline f32 Fraction(const klt2D_VERTEX& lo, const klt2D_VERTEX& hi, f32 y) { return (y - lo.y) / (hi.y - lo.y); }

}  // namespace

u8 CKLF_3D_SurfaceBase::geom2D_TestLineSegIntersection(const klt2D_VERTEX* a, const klt2D_VERTEX* b) {
  const f32 ax = a[1].x - a[0].x, ay = a[1].y - a[0].y, bx = b[1].x - b[0].x, by = b[1].y - b[0].y;
  const f32 ox = a[0].x - b[0].x, oy = a[0].y - b[0].y;
  const f32 den = by * ax - bx * ay;
  const f32 na = bx * oy - by * ox;
  if (den == 0.0f) return na == 0.0f ? 3 : 0;
  const f32 nb = ax * oy - ay * ox;
  const f64 ua = static_cast<f64>(na) / den, ub = static_cast<f64>(nb) / den;
  return ua >= 0.0 && ua <= 1.0 && ub >= 0.0 && ub <= 1.0 ? 1 : 0;
}

u8 CKLF_3D_SurfaceBase::geom2D_TestPointInTriange(const klt2D_VERTEX* t, klt2D_VERTEX p) {
  u8 inside = 0;
  for (int i = 0, j = 2; i < 3; j = i++) {
    if (!Crosses(t[i].y, t[j].y, p.y)) continue;
    const klt2D_VERTEX &lo = t[i].y < t[j].y ? t[i] : t[j], &hi = t[i].y < t[j].y ? t[j] : t[i];
    if (p.x < lo.x + (hi.x - lo.x) * Fraction(lo, hi, p.y)) inside ^= 1;
  }
  return inside;
}

u8 CKLF_3D_SurfaceBase::geom2D_TestTriangeTriangleIntersection(const klt2D_VERTEX* a, const klt2D_VERTEX* b) {
  for (int k = 0; k < 3; ++k)
    for (int m = 0; m < 3; ++m) {
      const klt2D_VERTEX ea[2] = {a[k], a[(k + 1) % 3]}, eb[2] = {b[m], b[(m + 1) % 3]};
      if (geom2D_TestLineSegIntersection(ea, eb)) return 1;
    }
  return geom2D_TestPointInTriange(a, b[0]) || geom2D_TestPointInTriange(b, a[0]) ? 1 : 0;
}

u8 CKLF_3D_SurfaceBase::int_ShadowMapTriangleCalc(SHADOW_MAP_ZVAL* out, f32 x, f32 y, const klt3D_VERTEX* p0,
                                                  const klt3D_VERTEX* p1, const klt3D_VERTEX* p2,
                                                  const klt3D_VERTEX* a0, const klt3D_VERTEX* a1,
                                                  const klt3D_VERTEX* a2) {
  const klt2D_VERTEX tri[3] = {{p0->x, p0->y}, {p1->x, p1->y}, {p2->x, p2->y}};
  if (!geom2D_TestPointInTriange(tri, klt2D_VERTEX{x, y})) return 0;
  const klt3D_VERTEX* p[3] = {p0, p1, p2};
  const klt3D_VERTEX* at[3] = {a0, a1, a2};
  // Where the horizontal through y crosses the edges: x, z, attributes.
  f32 cross[2][5];
  int n = 0;
  const int edges[3][2] = {{0, 1}, {0, 2}, {1, 2}};
  for (int e = 0; e < 3 && n < 2; ++e) {
    int i = edges[e][0], j = edges[e][1];
    if (!Crosses(p[i]->y, p[j]->y, y)) continue;
    if (p[j]->y < p[i]->y) std::swap(i, j);
    const klt3D_VERTEX &a = *p[i], &b = *p[j], &ta = *at[i], &tb = *at[j];
    const f32 t = Fraction(tri[i], tri[j], y);
    const f32 v[5] = {a.x + t * (b.x - a.x), a.z + t * (b.z - a.z), ta.x + t * (tb.x - ta.x), ta.y + t * (tb.y - ta.y),
                      ta.z + t * (tb.z - ta.z)};
    for (int k = 0; k < 5; ++k) cross[n][k] = v[k];
    ++n;
  }
  if (n < 2) return 0;
  const f32 s = (x - cross[0][0]) / (cross[1][0] - cross[0][0]);
  out->z = cross[0][1] + s * (cross[1][1] - cross[0][1]);
  out->a = cross[0][2] + s * (cross[1][2] - cross[0][2]);
  out->b = cross[0][3] + s * (cross[1][3] - cross[0][3]);
  out->c = cross[0][4] + s * (cross[1][4] - cross[0][4]);
  return 1;
}
