// The texel walk of shadow maps and background shadows: every target
// triangle is walked in texel space, row by row, and each sample asks the
// occluders in front of it (in light space, after turning the mesh so the
// light runs along +z) how much light they let through.
//
// Samples sit at integer texel-space points: rows y_a <= r < y_b of each
// part of the triangle, columns x_left <= c < x_right, so triangles that
// share an edge sample it once and a texel fully covered gets all its
// 2^s x 2^s samples.
#include <algorithm>
#include <cmath>

#include "KLF_3D_Numeric.h"
#include "KLF_3D_Shadow.h"

namespace {

const u32 kNone = 0xFFFFFFFFu;
const u32 kLargeCells = 64;  // triangles over more cells are searched always

typedef CKLF_3D_SurfaceBase::TRIMESH Tri;

inline klt3D_VERTEX Lerp(const klt3D_VERTEX& a, const klt3D_VERTEX& b, f32 f) {
  return klt3D_VERTEX{a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z)};
}

inline bool Finite(const KLF_3D_TriangleIndex::Box& b) {
  return std::isfinite(b.x0) && std::isfinite(b.y0) && std::isfinite(b.x1) && std::isfinite(b.y1);
}

inline bool TriangleOf(const CKLF_3D_SurfaceBase& m, u32 j, const klt3D_VERTEX** p) {
  const Tri* t = m.GetTriMesh(j);
  for (int k = 0; k < 3; ++k)
    if (!(p[k] = m.GetVertex(t->v[k]))) return false;
  return true;
}

// The columns of a row over which a candidate's light-space box may hold
// the sample point.
struct ColumnSpan {
  i64 c0, c1;
  u32 j;
};

// Scratch of the walk, one entry per occluder triangle.
struct WalkLists {
  u32* row;     // candidates of the row, triangle order
  u32* active;  // spans over the current column, by triangle
  ColumnSpan* spans;
};

// Walks target triangles and darkens the job's plane.
class TexelWalker {
 public:
  TexelWalker(KLF_3D_TexelShadowJob& job, const CKLF_3D_SurfaceBase& occ, const klt2D_VERTEX* occMap,
              const KLF_3D_TriangleIndex& index, const WalkLists& lists)
      : m_job(job), m_occ(occ), m_map(occMap), m_index(index), m_l(lists) {}

  void Triangle(const klt2D_VERTEX* tex, const klt3D_VERTEX* const* lit, const u32* cand, u32 n) const;

 private:
  void Row(i64 r, f32 xl, const klt3D_VERTEX& pl, f32 xr, const klt3D_VERTEX& pr, const u32* cand, u32 n) const;
  u32 Spans(f32 xl, const klt3D_VERTEX& pl, f32 xr, const klt3D_VERTEX& pr, i64 cLo, i64 cHi, u32 n) const;
  u32 Sample(const klt3D_VERTEX& p, u32 n, f64& wsum, f64& osum) const;

  KLF_3D_TexelShadowJob& m_job;
  const CKLF_3D_SurfaceBase& m_occ;
  const klt2D_VERTEX* m_map;
  const KLF_3D_TriangleIndex& m_index;
  WalkLists m_l;
};

// A sample lies in a triangle only inside its box; the margin covers the
// rounding of the point test.
inline f32 Margin(f32 v) { return 1e-4f * (1.0f + std::fabs(v)); }

// Light level 0..255 reaching light-space point p through the n active
// spans' triangles; soft modes gather opacity-weighted occluder distances.
u32 TexelWalker::Sample(const klt3D_VERTEX& p, u32 n, f64& wsum, f64& osum) const {
  const f32 limit = p.z - 0.01f, mx = Margin(p.x), my = Margin(p.y);
  u32 level = 255;
  for (u32 k = 0; k < n; ++k) {
    const u32 j = m_l.spans[m_l.active[k]].j;
    const KLF_3D_TriangleIndex::Box& b = m_index.BoxOf(j);
    if (p.x < b.x0 - mx || p.x > b.x1 + mx || p.y < b.y0 - my || p.y > b.y1 + my) continue;
    const klt3D_VERTEX* v[3] = {};
    TriangleOf(m_occ, j, v);
    const Tri& t = *m_occ.GetTriMesh(j);
    const klt3D_VERTEX a[3] = {{m_map[t.v[0]].x, m_map[t.v[0]].y, 0.0f},
                               {m_map[t.v[1]].x, m_map[t.v[1]].y, 0.0f},
                               {m_map[t.v[2]].x, m_map[t.v[2]].y, 0.0f}};
    CKLF_3D_SurfaceBase::SHADOW_MAP_ZVAL z;
    if (!CKLF_3D_SurfaceBase::int_ShadowMapTriangleCalc(&z, p.x, p.y, v[0], v[1], v[2], a, a + 1, a + 2)) continue;
    if (!(z.z < limit)) continue;
    const i64 col = std::clamp<i64>(klTruncSat<i64>(z.a), 0, m_job.opW - 1);
    const i64 row = std::clamp<i64>(klTruncSat<i64>(z.b), 0, m_job.opH - 1);
    const u32 op = m_job.opacity[static_cast<size_t>(row) * m_job.opStride + static_cast<size_t>(col)];
    if (m_job.dist) {
      wsum += static_cast<f64>(op) * (limit - z.z);
      osum += op;
    }
    if (op == 255) return 0;
    if (op == 0) continue;
    level = ((255 - op) * level) >> 8;
    if (!level) return 0;
  }
  return level;
}

// The column range of each of the row's n candidates, sorted by first
// column; the sample point runs linearly from pl at xl to pr at xr.
u32 TexelWalker::Spans(f32 xl, const klt3D_VERTEX& pl, f32 xr, const klt3D_VERTEX& pr, i64 cLo, i64 cHi, u32 n) const {
  const f64 run = static_cast<f64>(pr.x) - pl.x, len = static_cast<f64>(xr) - xl;
  u32 spans = 0;
  for (u32 k = 0; k < n; ++k) {
    const KLF_3D_TriangleIndex::Box& b = m_index.BoxOf(m_l.row[k]);
    i64 c0 = cLo, c1 = cHi - 1;
    if (run != 0.0) {
      f64 ca = xl + (b.x0 - Margin(b.x0) - pl.x) / run * len, cb = xl + (b.x1 + Margin(b.x1) - pl.x) / run * len;
      if (ca > cb) std::swap(ca, cb);
      c0 = std::max(c0, klTruncSat<i64>(std::floor(ca)) - 1), c1 = std::min(c1, klTruncSat<i64>(std::ceil(cb)) + 1);
    } else if (pl.x < b.x0 - Margin(b.x0) || pl.x > b.x1 + Margin(b.x1)) {
      continue;
    }
    if (c0 <= c1) m_l.spans[spans++] = ColumnSpan{c0, c1, m_l.row[k]};
  }
  std::sort(m_l.spans, m_l.spans + spans, [](const ColumnSpan& a, const ColumnSpan& b) { return a.c0 < b.c0; });
  return spans;
}

void TexelWalker::Row(i64 r, f32 xl, const klt3D_VERTEX& pl, f32 xr, const klt3D_VERTEX& pr, const u32* cand,
                      u32 n) const {
  // Only candidates whose light-space rows meet the row's, ends included:
  // a row along an occluder's top edge lies in it.
  const f32 ylo = std::min(pl.y, pr.y), yhi = std::max(pl.y, pr.y);
  u32 kept = 0;
  for (u32 k = 0; k < n; ++k) {
    const KLF_3D_TriangleIndex::Box& b = m_index.BoxOf(cand[k]);
    if (b.y0 - Margin(b.y0) <= yhi && b.y1 + Margin(b.y1) >= ylo) m_l.row[kept++] = cand[k];
  }
  if (!kept) return;  // nothing in front: the samples stay lit
  const KLF_3D_TexelShadowJob& j = m_job;
  const i64 cLo = std::max<i64>(klTruncSat<i64>(xl) - 1, 0);
  const i64 cHi = std::min<i64>(klTruncSat<i64>(xr) + 1, static_cast<i64>(j.w) << j.shift);
  const u32 spans = Spans(xl, pl, xr, pr, cLo, cHi, kept);
  const size_t line = static_cast<size_t>(r >> j.shift);
  u32 next = 0, active = 0;
  for (i64 c = cLo; c < cHi; ++c) {
    // The spans over this column, kept in triangle order.
    u32 live = 0;
    for (u32 k = 0; k < active; ++k)
      if (m_l.spans[m_l.active[k]].c1 >= c) m_l.active[live++] = m_l.active[k];
    active = live;
    for (; next < spans && m_l.spans[next].c0 <= c; ++next) {
      if (m_l.spans[next].c1 < c) continue;
      u32* at = std::lower_bound(m_l.active, m_l.active + active, m_l.spans[next].j,
                                 [this](u32 a, u32 t) { return m_l.spans[a].j < t; });
      std::copy_backward(at, m_l.active + active, m_l.active + active + 1);
      *at = next;
      ++active;
    }
    const f32 cf = static_cast<f32>(c);
    if (!active || !(xl <= cf && cf < xr)) continue;
    f64 wsum = 0.0, osum = 0.0;
    const u32 level = Sample(Lerp(pl, pr, (cf - xl) / (xr - xl)), active, wsum, osum);
    const size_t col = static_cast<size_t>(c >> j.shift);
    u8& texel = j.plane[line * j.stride + col];
    const u32 loss = (255 - level) >> (2 * j.shift);
    texel = static_cast<u8>(texel > loss ? texel - loss : 0);
    if (j.dist && osum > 0.0) j.dist[line * j.w + col] += static_cast<f32>(wsum / osum);
  }
}

void TexelWalker::Triangle(const klt2D_VERTEX* tex, const klt3D_VERTEX* const* lit, const u32* cand, u32 n) const {
  int o[3] = {0, 1, 2};  // by texel-space y, ties in order
  if (tex[o[1]].y < tex[o[0]].y) std::swap(o[0], o[1]);
  if (tex[o[2]].y < tex[o[1]].y) std::swap(o[1], o[2]);
  if (tex[o[1]].y < tex[o[0]].y) std::swap(o[0], o[1]);
  const klt2D_VERTEX &T = tex[o[0]], &B = tex[o[2]];
  const i64 rows = static_cast<i64>(m_job.h) << m_job.shift;
  for (int part = 0; part < 2; ++part) {
    const int a = o[part], b = o[part + 1];
    const f32 ya = tex[a].y, yb = tex[b].y;
    if (!(ya < yb)) continue;
    const i64 rHi = std::min<i64>(klTruncSat<i64>(yb) + 1, rows);
    for (i64 r = std::max<i64>(klTruncSat<i64>(ya) - 1, 0); r < rHi; ++r) {
      const f32 rf = static_cast<f32>(r);
      if (!(ya <= rf && rf < yb)) continue;
      const f32 fl = (rf - T.y) / (B.y - T.y), fs = (rf - ya) / (yb - ya);
      const f32 xLong = T.x + fl * (B.x - T.x), xShort = tex[a].x + fs * (tex[b].x - tex[a].x);
      const klt3D_VERTEX pLong = Lerp(*lit[o[0]], *lit[o[2]], fl), pShort = Lerp(*lit[a], *lit[b], fs);
      if (xShort <= xLong)
        Row(r, xShort, pShort, xLong, pLong, cand, n);
      else
        Row(r, xLong, pLong, xShort, pShort, cand, n);
    }
  }
}

}  // namespace

// ---- index ----

bool KLF_3D_TriangleIndex::CellRange(const Box& b, u32& cx0, u32& cy0, u32& cx1, u32& cy1) const {
  if (!Finite(b)) return false;
  const i64 g = m_grid - 1;
  cx0 = static_cast<u32>(std::clamp<i64>(klTruncSat<i64>(std::floor((b.x0 - m_x0) / m_cellW)), 0, g));
  cx1 = static_cast<u32>(std::clamp<i64>(klTruncSat<i64>(std::floor((b.x1 - m_x0) / m_cellW)), 0, g));
  cy0 = static_cast<u32>(std::clamp<i64>(klTruncSat<i64>(std::floor((b.y0 - m_y0) / m_cellH)), 0, g));
  cy1 = static_cast<u32>(std::clamp<i64>(klTruncSat<i64>(std::floor((b.y1 - m_y0) / m_cellH)), 0, g));
  return true;
}

u8 KLF_3D_TriangleIndex::Build(const CKLF_3D_SurfaceBase& mesh) {
  m_mesh = &mesh;
  const u32 n = mesh.GetTriMeshCount();
  if (!n) return 1;
  if (!klFits32(static_cast<u64>(n) * sizeof(Box)) || !m_boxMem.alloc(n * static_cast<u32>(sizeof(Box))) ||
      !m_stampMem.Zalloc(n * 4u) || !m_largeMem.alloc(n * 4u))
    return Fail(klErrNoMemory);
  m_box = reinterpret_cast<Box*>(m_boxMem.GetPtr());
  f32 gx0 = INFINITY, gy0 = INFINITY, gx1 = -INFINITY, gy1 = -INFINITY;
  for (u32 j = 0; j < n; ++j) {
    const klt3D_VERTEX* p[3];
    Box& b = m_box[j];
    if (!TriangleOf(mesh, j, p)) {
      b = Box{NAN, NAN, NAN, NAN, NAN};  // names a missing vertex: never a candidate
      continue;
    }
    b = Box{std::min({p[0]->x, p[1]->x, p[2]->x}), std::min({p[0]->y, p[1]->y, p[2]->y}),
            std::max({p[0]->x, p[1]->x, p[2]->x}), std::max({p[0]->y, p[1]->y, p[2]->y}),
            std::min({p[0]->z, p[1]->z, p[2]->z})};
    if (!Finite(b)) continue;
    gx0 = std::min(gx0, b.x0), gy0 = std::min(gy0, b.y0), gx1 = std::max(gx1, b.x1), gy1 = std::max(gy1, b.y1);
  }
  m_grid = static_cast<u32>(std::clamp(std::ceil(std::sqrt(static_cast<f64>(n))), 1.0, 1024.0));
  m_x0 = gx0, m_y0 = gy0;
  m_cellW = gx1 > gx0 ? (gx1 - gx0) / m_grid : 1.0f;
  m_cellH = gy1 > gy0 ? (gy1 - gy0) / m_grid : 1.0f;
  if (!(m_cellW > 0.0f) || !std::isfinite(m_cellW)) m_cellW = 1.0f;
  if (!(m_cellH > 0.0f) || !std::isfinite(m_cellH)) m_cellH = 1.0f;
  // Cell lists laid out by counting first.
  const u32 cells = m_grid * m_grid;
  if (!m_cellMem.Zalloc((cells + 1) * 4u)) return Fail(klErrNoMemory);
  u32* start = reinterpret_cast<u32*>(m_cellMem.GetPtr());
  u32* large = reinterpret_cast<u32*>(m_largeMem.GetPtr());
  u64 entries = 0;
  m_largeCount = 0;
  for (int pass = 0; pass < 2; ++pass) {
    u32* list = reinterpret_cast<u32*>(m_entryMem.GetPtr());
    for (u32 j = 0; j < n; ++j) {
      u32 cx0, cy0, cx1, cy1;
      const bool gridded = CellRange(m_box[j], cx0, cy0, cx1, cy1);
      if (!gridded || static_cast<u64>(cx1 - cx0 + 1) * (cy1 - cy0 + 1) > kLargeCells) {
        if (pass == 0 && !std::isnan(m_box[j].z0)) large[m_largeCount++] = j;
        continue;
      }
      for (u32 cy = cy0; cy <= cy1; ++cy)
        for (u32 cx = cx0; cx <= cx1; ++cx) {
          if (pass == 0)
            ++start[cy * m_grid + cx + 1], ++entries;
          else
            list[start[cy * m_grid + cx]++] = j;
        }
    }
    if (pass == 0) {
      for (u32 c = 0; c < cells; ++c) start[c + 1] += start[c];
      if (entries && (!klFits32(entries * 4) || !m_entryMem.alloc(static_cast<u32>(entries * 4))))
        return Fail(klErrNoMemory);
    }
  }
  for (u32 c = cells; c > 0; --c) start[c] = start[c - 1];  // the fill moved every start one list on
  start[0] = 0;
  return 1;
}

u32 KLF_3D_TriangleIndex::Candidates(const klt3D_VERTEX* const* p, u32 exclude, u32* out) {
  if (!m_box) return 0;
  Box q = {std::min({p[0]->x, p[1]->x, p[2]->x}), std::min({p[0]->y, p[1]->y, p[2]->y}),
           std::max({p[0]->x, p[1]->x, p[2]->x}), std::max({p[0]->y, p[1]->y, p[2]->y}), 0.0f};
  if (!Finite(q)) return 0;
  const f32 zmax = std::max({p[0]->z, p[1]->z, p[2]->z});
  // A sample lies on the target up to rounding: a margin keeps every
  // triangle that may hold one.
  const f32 m = 1e-4f * (1.0f + std::max({std::fabs(q.x0), std::fabs(q.x1), std::fabs(q.y0), std::fabs(q.y1)}));
  q.x0 -= m, q.y0 -= m, q.x1 += m, q.y1 += m;
  u32* stamp = reinterpret_cast<u32*>(m_stampMem.GetPtr());
  if (++m_query == 0) {  // stamps wrapped: start them again
    std::fill(stamp, stamp + m_mesh->GetTriMeshCount(), 0u);
    m_query = 1;
  }
  u32 n = 0;
  auto take = [&](u32 j) {
    if (stamp[j] == m_query) return;
    stamp[j] = m_query;
    const Box& b = m_box[j];
    if (j != exclude && b.z0 <= zmax && b.x0 <= q.x1 && b.x1 >= q.x0 && b.y0 <= q.y1 && b.y1 >= q.y0) out[n++] = j;
  };
  u32 cx0, cy0, cx1, cy1;
  CellRange(q, cx0, cy0, cx1, cy1);
  const u32* start = reinterpret_cast<const u32*>(m_cellMem.GetPtr());
  const u32* list = reinterpret_cast<const u32*>(m_entryMem.GetPtr());
  for (u32 cy = cy0; cy <= cy1; ++cy)
    for (u32 cx = cx0; cx <= cx1; ++cx)
      for (u32 e = start[cy * m_grid + cx]; e < start[cy * m_grid + cx + 1]; ++e) take(list[e]);
  const u32* large = reinterpret_cast<const u32*>(m_largeMem.GetPtr());
  for (u32 e = 0; e < m_largeCount; ++e) take(large[e]);
  // The exact meeting test, then triangle order.
  const klt2D_VERTEX t[3] = {{p[0]->x, p[0]->y}, {p[1]->x, p[1]->y}, {p[2]->x, p[2]->y}};
  u32 kept = 0;
  for (u32 k = 0; k < n; ++k) {
    const klt3D_VERTEX* v[3] = {};
    TriangleOf(*m_mesh, out[k], v);
    const klt2D_VERTEX o[3] = {{v[0]->x, v[0]->y}, {v[1]->x, v[1]->y}, {v[2]->x, v[2]->y}};
    if (CKLF_3D_SurfaceBase::geom2D_TestTriangeTriangleIntersection(t, o)) out[kept++] = out[k];
  }
  std::sort(out, out + kept);
  return kept;
}

// ---- the walk over a mesh ----

u8 CKLF_3D_SurfaceBase::i_TexelShadow(klt3D_VECTOR turn, KLF_3D_TexelShadowJob& job) {
  job.cancelled = 0;
  CKLF_3D_SurfaceBase occ, quad;
  if (!occ.Create(this)) return FailFrom(occ, klErrNoMemory);
  occ.Rotate(turn, klt3D_VERTEX{0.0f, 0.0f, 0.0f});
  const CKLF_3D_SurfaceBase* target = this;  // its mapping gives the texels
  const CKLF_3D_SurfaceBase* targetLit = &occ;
  if (job.quad) {
    if (!quad.Create(job.quad)) return FailFrom(quad, klErrNoMemory);
    quad.Rotate(turn, klt3D_VERTEX{0.0f, 0.0f, 0.0f});
    target = job.quad;
    targetLit = &quad;
  }
  KLF_3D_TriangleIndex index;
  CKLF_Mem lists;
  const u64 n = occ.GetTriMeshCount(), bytes = n * (3 * 4 + sizeof(ColumnSpan));
  if (!index.Build(occ)) return FailFrom(index, klErrNoMemory);
  if (n && (!klFits32(bytes) || !lists.alloc(static_cast<u32>(bytes)))) return FailFrom(lists, klErrNoMemory);
  ColumnSpan* spans = reinterpret_cast<ColumnSpan*>(lists.GetPtr());  // first: 8-byte aligned
  u32* cand = reinterpret_cast<u32*>(spans + n);
  const WalkLists l = {cand + n, cand + 2 * n, spans};
  const TexelWalker walker(job, occ, m_mapping, index, l);
  const f32 scale = static_cast<f32>(1u << job.shift);
  const u32 targets = target->GetTriMeshCount();
  for (u32 i = 0; i < targets; ++i) {
    const klt3D_VERTEX* lit[3];
    if (TriangleOf(*targetLit, i, lit)) {
      const Tri& t = *target->GetTriMesh(i);
      klt2D_VERTEX tex[3];
      for (int k = 0; k < 3; ++k) {
        const klt2D_VERTEX& m = *target->GetMapping(t.v[k]);
        tex[k] = klt2D_VERTEX{scale * m.x, scale * m.y};
      }
      const u32 c = index.Candidates(lit, job.quad ? kNone : i, cand);
      if (c) walker.Triangle(tex, lit, cand, c);
    }
    if (job.afterTriangle && !job.afterTriangle(job.ctx, i + 1, targets)) {
      job.cancelled = 1;
      return Fail(klErrNone);
    }
  }
  return 1;
}

bool CKLF_3D_SurfaceBase::i_ProgressStep(f64 percent) {
  if (!m_progress) return true;
  if (m_progress->IsCanceled()) return false;
  m_progress->Progress(klTruncSat<u8>(percent), m_progress->GetUserDataPtr());
  return true;
}
