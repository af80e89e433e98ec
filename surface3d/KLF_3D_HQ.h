// Private to the HQ renderers: the scan-line record, the fragments, the
// frame's settings, and the triangle fill and span templates that every
// renderer builds from its normal, mapping and lighting policies.
#pragma once

#include <algorithm>
#include <cmath>

#include "CKLF_3D_SurfaceBase.h"
#include "KLF_3D_Numeric.h"

const u32 klHQNone = 0xFFFFFFFFu;  // ends a fragment list

// One fragment of a sample: depth, the next fragment of the sample, plane
// values (0 alpha, 1 to 4 colour).
struct KLF_3D_HQFragment {
  f32 depth;
  u32 next;
  u8 v[8];
};

struct CKLF_3D_SurfaceBase::HQ_RENDERER_DATA {
  u8 planes;
  u8 frontFacing;
  u8 bump;  // the chosen side bumps
  // The span: row, ends (samples), depth, perspective weight, texture
  // coordinates (weighted in perspective spans) and vertex normals.
  i32 y, xs, xe;
  f32 zs, ze;
  f64 ws, we;
  f64 us, vs, ue, ve;
  f32 nxs, nxe, nys, nye, nzs, nze;
  // The triangle: texture planes of its side (0 = texture alpha), solid
  // colour, face normal, bump planes.
  const u8* tex[5];
  u8 solid[4];
  u8 solidFlag;
  u32 texStride, texW, texH;
  klt3D_VECTOR face;
  const u8* bumpFront;
  const u8* bumpBack;
  u32 bumpStride;
  f32 bumpFrontK, bumpBackK;
  // The tile: heads by sample, samples holding more than one fragment,
  // the fragment pool.
  u32* heads;
  u8* stacked;
  u32 headRow, tileH;
  kltRECT_s tile;  // samples
  CKLF_Mem* pool;
  KLF_3D_HQFragment* frags;
  u32 used, capacity;
  // The pixel being lit.
  klt3D_VECTOR n;
  size_t texel;     // v x texture stride + u
  size_t mapTexel;  // v x texture width + u: shadow maps' rows are the width
  const void* light;
  f32 k;      // light level factor; below 0: light with the lights
  u16 error;  // the pool could not grow
  // What the lighting last made of a normal on a side; the render's lights
  // stay as they are, so the same normal lights the same way.
  klt3D_VECTOR litN;
  u8 litFront, litValid;
  f32 lit[4];
};

// True when the lighting of the record's normal and side is in the cache.
inline bool klHQCached(const CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r) {
  return r.litValid && r.litFront == r.frontFacing && r.litN.x == r.n.x && r.litN.y == r.n.y && r.litN.z == r.n.z;
}
inline void klHQCache(CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r, const f32* lit, int n) {
  r.litN = r.n, r.litFront = r.frontFacing, r.litValid = 1;
  std::copy(lit, lit + n, r.lit);
}

// A triangle as the frame hands it to a fill: vertices in samples (z the
// depth), perspective weights, mapping, vertex normals, the bump flag and
// its box cut to the tile.
struct KLF_3D_HQTriangle {
  klt3D_VERTEX p[3];
  f64 w[3];
  klt2D_VERTEX t[3];
  klt3D_VECTOR n[3];
  u8 bump;
  kltRECT_s clip;
};

struct KLF_3D_HQFrame {
  typedef CKLF_3D_SurfaceBase::HQ_RENDERER_DATA Record;
  u8 s, count;
  const CKLF_3D_SurfaceBase::HQ_DESTINATION* dst;
  CKLF_3D_SurfaceBase::HQ_TEXTURE tex;
  CKLF_3D_SurfaceBase::HQ_BUMP bump;
  kltRECT_s clip;
  u32 tileBase;    // samples a tile side: tiles are tileBase / s pixels
  u8 progress;     // report and poll the progress object
  u8 hqComposite;  // RenderHQ's composite of the merge
  u8 perspective;  // 1 single precision, 2 double
  klt3D_VERTEX eye;
  u8 centre;
  u8 phong;  // vertex normals to the fill
  const void* light;
  f32 k;
  void (*fill)(CKLF_3D_SurfaceBase* self, Record& r, const KLF_3D_HQTriangle& t);
  // The perspective set-up, made by the frame: eye distance, centre,
  // nearest depth.
  f64 eyeDistance, cx, cy, zmin;
};

// A frame of 800 / s pixel tiles that reports progress.
inline KLF_3D_HQFrame klHQFrame(u8 s, u8 count, const CKLF_3D_SurfaceBase::HQ_DESTINATION& dst,
                                const CKLF_3D_SurfaceBase::HQ_TEXTURE& tex, const CKLF_3D_SurfaceBase::HQ_BUMP& bump,
                                kltRECT_s clip) {
  KLF_3D_HQFrame f = {};
  f.s = s, f.count = count, f.dst = &dst, f.tex = tex, f.bump = bump, f.clip = clip;
  f.tileBase = 800, f.progress = 1;
  return f;
}

// The triangle a named fill is given, without weights or normals.
inline KLF_3D_HQTriangle klHQTriangle(const klt3D_VERTEX (&p)[3], const klt2D_VERTEX (&t)[3], u8 bump, kltRECT_s clip) {
  KLF_3D_HQTriangle tri = {};
  for (int k = 0; k < 3; ++k) tri.p[k] = p[k], tri.t[k] = t[k], tri.w[k] = 1.0;
  tri.bump = bump, tri.clip = clip;
  return tri;
}

// Progress through the tiles: a report every fifth triangle.
struct KLF_3D_HQProgress {
  u8 counter;
  f64 p, step;
};

// Grows the pool by one tile of samples; false with r.error set.
bool klHQGrowPool(CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r);

inline klt3D_VECTOR klHQUnit(f32 x, f32 y, f32 z) {
  const f32 len = std::sqrt(x * x + y * y + z * z);
  if (!(len > 0.0f)) return klt3D_VECTOR{0.0f, 0.0f, 0.0f};
  return klt3D_VECTOR{x / len, y / len, z / len};
}

// A base colour lit to a level: up to 1 a fraction of it, above 1 the
// rest of the way to 255 by (L - 1) / L; truncated, within 0..255.
inline u8 klHQConvert(u8 c, f32 level) {
  const f32 x = level <= 1.0f ? c * level : c + (255 - c) * (level - 1.0f) / level;
  return klTruncSat<u8>(x);
}
// The second class rounds.
inline u8 klHQConvertRounded(u8 c, f32 level) {
  const f32 x = level <= 1.0f ? c * level : c + (255 - c) * (level - 1.0f) / level;
  if (x > 254.5f) return 255;
  if (!(x > 0.0f)) return 0;
  const u8 t = klTruncSat<u8>(x);
  return x - t > 0.5f ? static_cast<u8>(t + 1) : t;
}

// The next free fragment's plane values: the texel's alpha and each colour
// plane's base colour (solid or texture) lit to its level.
template <u8 (*kConvert)(u8, f32)>
inline void klHQWrite(CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r, const f32* level) {
  KLF_3D_HQFragment& f = r.frags[r.used];
  f.v[0] = r.tex[0][r.texel];
  for (u8 i = 0; i + 1 < r.planes; ++i)
    f.v[i + 1] = kConvert(r.solidFlag ? r.solid[i] : r.tex[i + 1][r.texel], level[i]);
}

// A light's share under its shadow map: 1 - (255 - t) x strength / 25500.
inline f32 klHQShadow(const u8* map, u8 active, size_t texel, f32 strength) {
  return active && map ? 1.0f - static_cast<f32>(255 - map[texel]) * strength / 25500.0f : 1.0f;
}

// ---- mapping policies: the texel of each pixel ----

struct KLF_3D_HQAffine {
  f32 u, v, du, dv;
  KLF_3D_HQAffine(const CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r, i64 len, i64 lead) {
    const f32 us = static_cast<f32>(r.us), vs = static_cast<f32>(r.vs);
    du = (static_cast<f32>(r.ue) - us) / static_cast<f32>(len);
    dv = (static_cast<f32>(r.ve) - vs) / static_cast<f32>(len);
    u = us + du * static_cast<f32>(lead);
    v = vs + dv * static_cast<f32>(lead);
  }
  void Next() { u += du, v += dv; }
  i64 U() const { return klTruncSat<i64>(u); }
  i64 V() const { return klTruncSat<i64>(v); }
};

// u w, v w and w interpolated in R, the texel at (u w) / w, (v w) / w.
template <class R>
struct KLF_3D_HQPerspective {
  R u, v, w, du, dv, dw;
  KLF_3D_HQPerspective(const CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r, i64 len, i64 lead) {
    const R n = static_cast<R>(len), m = static_cast<R>(lead);
    const R us = static_cast<R>(r.us), vs = static_cast<R>(r.vs), ws = static_cast<R>(r.ws);
    du = (static_cast<R>(r.ue) - us) / n, dv = (static_cast<R>(r.ve) - vs) / n, dw = (static_cast<R>(r.we) - ws) / n;
    u = us + du * m, v = vs + dv * m, w = ws + dw * m;
  }
  void Next() { u += du, v += dv, w += dw; }
  i64 U() const { return klTruncSat<i64>(u / w); }
  i64 V() const { return klTruncSat<i64>(v / w); }
};

// ---- normal policies: the shading normal of each pixel ----

struct KLF_3D_HQFaceNormal {
  KLF_3D_HQFaceNormal(const CKLF_3D_SurfaceBase::HQ_RENDERER_DATA&, i64, i64) {}
  void Next() {}
  void Set(CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r, i64, i64) const { r.n = r.face; }
};

// The face normal tilted by the height map's differences around the texel
// (the texture's border keeps the face normal); kDeadZone ignores
// differences of 1 and shortens the others by 1.
template <bool kDeadZone>
struct KLF_3D_HQBumpNormal {
  KLF_3D_HQBumpNormal(const CKLF_3D_SurfaceBase::HQ_RENDERER_DATA&, i64, i64) {}
  void Next() {}
  static f32 Tilt(i32 g, f32 k) {
    if (!kDeadZone) return k * static_cast<f32>(g);
    return g > 1 ? k * static_cast<f32>(g - 1) : g < -1 ? k * static_cast<f32>(g + 1) : 0.0f;
  }
  void Set(CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r, i64 u, i64 v) const {
    const u8* b = r.frontFacing ? r.bumpFront : r.bumpBack;
    const f32 k = r.frontFacing ? r.bumpFrontK : r.bumpBackK;
    r.n = r.face;
    if (!b || u <= 0 || v <= 0 || u >= static_cast<i64>(r.texW) - 1 || v >= static_cast<i64>(r.texH) - 1) return;
    const size_t o = static_cast<size_t>(v) * r.bumpStride + static_cast<size_t>(u);
    const f32 tx = Tilt(b[o + 1] - b[o - 1], k), ty = Tilt(b[o + r.bumpStride] - b[o - r.bumpStride], k);
    if (tx != 0.0f || ty != 0.0f) r.n = klHQUnit(r.face.x + tx, r.face.y + ty, r.face.z);  // flat: as it is
  }
};

// Vertex normals interpolated along the span, made unit per pixel.
struct KLF_3D_HQPhongNormal {
  f32 x, y, z, dx, dy, dz;
  KLF_3D_HQPhongNormal(const CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r, i64 len, i64 lead) {
    const f32 n = static_cast<f32>(len), m = static_cast<f32>(lead);
    dx = (r.nxe - r.nxs) / n, dy = (r.nye - r.nys) / n, dz = (r.nze - r.nzs) / n;
    x = r.nxs + dx * m, y = r.nys + dy * m, z = r.nzs + dz * m;
  }
  void Next() { x += dx, y += dy, z += dz; }
  void Set(CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r, i64, i64) const { r.n = klHQUnit(x, y, z); }
};

// ---- the span ----

// Pixels xs..xe-1 of row y inside the tile: each maps to a texel; a texel
// outside the texture or transparent makes no fragment; otherwise the
// normal policy sets the shading normal, light(r) fills the next free
// fragment's plane values and the fragment joins its sample's list. A run
// of pixels on one texel copies the run's first fragment.
template <class Normal, class Map, class Light>
void klHQSpan(CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r, Light light) {
  if (r.xs == r.xe) return;
  if (r.xs > r.xe) {
    std::swap(r.xs, r.xe), std::swap(r.zs, r.ze), std::swap(r.ws, r.we), std::swap(r.us, r.ue);
    std::swap(r.vs, r.ve), std::swap(r.nxs, r.nxe), std::swap(r.nys, r.nye), std::swap(r.nzs, r.nze);
  }
  if (r.y < r.tile.top || r.y >= r.tile.bottom) return;
  const i32 x0 = std::max(r.xs, r.tile.left), x1 = std::min(r.xe, r.tile.right);
  if (x0 >= x1) return;
  const i64 len = static_cast<i64>(r.xe) - r.xs, lead = static_cast<i64>(x0) - r.xs;
  const f32 dz = (r.ze - r.zs) / static_cast<f32>(len);
  f32 z = r.zs + dz * static_cast<f32>(lead);
  Map map(r, len, lead);
  Normal normal(r, len, lead);
  const size_t row = static_cast<size_t>(r.y - r.tile.top) * r.headRow;
  i64 lastU = -1000000, lastV = -1000000;
  u32 last = klHQNone;
  for (i32 x = x0; x < x1; ++x, z += dz, map.Next(), normal.Next()) {
    const i64 u = map.U(), v = map.V();
    if (u != lastU || v != lastV) {
      lastU = u, lastV = v, last = klHQNone;
      if (u < 0 || v < 0 || u >= r.texW || v >= r.texH) continue;
      r.texel = static_cast<size_t>(v) * r.texStride + static_cast<size_t>(u);
      if (!r.tex[0][r.texel]) continue;
      r.mapTexel = static_cast<size_t>(v) * r.texW + static_cast<size_t>(u);
      normal.Set(r, u, v);
      light(r);
      r.frags[r.used].depth = z;
    } else if (last != klHQNone) {
      r.frags[r.used] = r.frags[last];
    } else {
      continue;
    }
    const size_t cell = row + static_cast<size_t>(x - r.tile.left);
    u32& head = r.heads[cell];
    if (head != klHQNone) r.stacked[cell] = 1;
    r.frags[r.used].next = head;
    head = last = r.used;
    if (++r.used == r.capacity && !klHQGrowPool(r)) return;
  }
}

// ---- the fill ----

// Values of a vertex carried to the span ends: R is the precision of the
// texture coordinates and weights.
template <class R>
struct KLF_3D_HQVertex {
  i32 x, y;
  f32 z;
  R u, v, w;
  f32 n[3];
};

// One edge walked row by row: x by integer stepping raised by 1 where the
// running real x lies more than half a sample beyond it, the other values
// by real increments per row.
template <class R, bool kPersp, bool kPhong>
struct KLF_3D_HQEdge {
  typedef KLF_3D_HQVertex<R> V;
  i64 xa, ya, dx, dy;
  f64 fx, fdx;
  f32 z, dz, n[3], dn[3];
  R u, du, v, dv, w, dw;
  KLF_3D_HQEdge(const V& a, const V& b, i32 first)
      : xa(a.x), ya(a.y), dx(static_cast<i64>(b.x) - a.x), dy(static_cast<i64>(b.y) - a.y) {
    const i64 k = first - ya;
    fdx = static_cast<f64>(dx) / static_cast<f64>(dy);
    fx = static_cast<f64>(xa) + fdx * static_cast<f64>(k);
    dz = (b.z - a.z) / static_cast<f32>(dy), z = a.z + dz * static_cast<f32>(k);
    du = (b.u - a.u) / static_cast<R>(dy), u = a.u + du * static_cast<R>(k);
    dv = (b.v - a.v) / static_cast<R>(dy), v = a.v + dv * static_cast<R>(k);
    if (kPersp) dw = (b.w - a.w) / static_cast<R>(dy), w = a.w + dw * static_cast<R>(k);
    for (int c = 0; kPhong && c < 3; ++c)
      dn[c] = (b.n[c] - a.n[c]) / static_cast<f32>(dy), n[c] = a.n[c] + dn[c] * static_cast<f32>(k);
  }
  i32 X(i32 y) const {
    const i64 xi = xa + dx * (y - ya) / dy;
    return static_cast<i32>(fx - static_cast<f64>(xi) > 0.5 ? xi + 1 : xi);
  }
  void Next() {
    fx += fdx, z += dz, u += du, v += dv;
    if (kPersp) w += dw;
    for (int c = 0; kPhong && c < 3; ++c) n[c] += dn[c];
  }
};

// The triangle's rows inside its clip, the short edge giving each span's
// start and the long edge its end; span(r) draws each row.
template <class R, bool kPersp, bool kPhong, class Span>
void klHQFill(CKLF_3D_SurfaceBase::HQ_RENDERER_DATA& r, const KLF_3D_HQTriangle& t, Span span) {
  typedef KLF_3D_HQVertex<R> V;
  typedef KLF_3D_HQEdge<R, kPersp, kPhong> Edge;
  V p[3];
  for (int k = 0; k < 3; ++k) {
    V& q = p[k];
    q.x = klScreenCoord(t.p[k].x, 0), q.y = klScreenCoord(t.p[k].y, 0), q.z = t.p[k].z;
    const R w = kPersp && t.w[k] != 0.0 ? static_cast<R>(t.w[k]) : static_cast<R>(1);
    q.u = static_cast<R>(t.t[k].x), q.v = static_cast<R>(t.t[k].y), q.w = w;
    if (kPersp) q.u *= w, q.v *= w;
    q.n[0] = t.n[k].x, q.n[1] = t.n[k].y, q.n[2] = t.n[k].z;
  }
  if (p[1].y < p[0].y) std::swap(p[0], p[1]);
  if (p[2].y < p[1].y) std::swap(p[1], p[2]);
  if (p[1].y < p[0].y) std::swap(p[0], p[1]);
  auto part = [&](const V& a, const V& b, i32 from, i32 to) {
    if (from >= to) return;
    Edge e(a, b, from), l(p[0], p[2], from);
    for (i32 y = from; y < to && !r.error; ++y, e.Next(), l.Next()) {
      r.y = y, r.xs = e.X(y), r.xe = l.X(y), r.zs = e.z, r.ze = l.z;
      r.us = e.u, r.vs = e.v, r.ue = l.u, r.ve = l.v;
      if (kPersp) r.ws = e.w, r.we = l.w;
      if (kPhong) r.nxs = e.n[0], r.nys = e.n[1], r.nzs = e.n[2], r.nxe = l.n[0], r.nye = l.n[1], r.nze = l.n[2];
      span(r);
    }
  };
  if (p[1].y > p[0].y) part(p[0], p[1], std::max(p[0].y, t.clip.top), std::min(p[1].y, t.clip.bottom));
  if (p[2].y > p[1].y) part(p[1], p[2], std::max(p[1].y, t.clip.top), std::min(p[2].y, t.clip.bottom));
}
