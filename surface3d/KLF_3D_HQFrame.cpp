// The frame of the HQ renderers: argument checks, tiles of samples with
// their fragment lists, the depth-sorted merge, the box-filter resolve and
// progress; and the simple renderer that shades by the face normal alone.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "KLF_3D_HQ.h"

namespace {

typedef CKLF_3D_SurfaceBase::HQ_RENDERER_DATA Record;

// Samples a side within this reach keep sample coordinates in 32 bits.
const u64 kMaxSamples = 1u << 30;

bool SideOK(const CKLF_3D_SurfaceBase::HQ_SIDE& side, u8 count) {
  if (side.solid) return side.colour != nullptr;
  for (u8 p = 1; p < count; ++p)
    if (!side.planes[p - 1]) return false;
  return true;
}

bool ArgsOK(const KLF_3D_HQFrame& f) {
  if (!f.s || f.count < 1 || f.count > 5 || !f.dst) return false;
  const CKLF_3D_SurfaceBase::HQ_DESTINATION& d = *f.dst;
  if (!d.alpha || d.stride < d.width || static_cast<u64>(d.width) * f.s > kMaxSamples ||
      static_cast<u64>(d.height) * f.s > kMaxSamples)
    return false;
  for (u8 p = 1; p < f.count; ++p)
    if (!d.colour[p - 1]) return false;
  const CKLF_3D_SurfaceBase::HQ_TEXTURE& t = f.tex;
  if (!t.alpha || t.stride < t.width || !SideOK(t.front, f.count) || !SideOK(t.back, f.count)) return false;
  const CKLF_3D_SurfaceBase::HQ_BUMP& b = f.bump;
  const bool bumps = (b.front && b.frontStrength != 0.0f) || (b.back && b.backStrength != 0.0f);
  return !bumps || b.stride >= t.width;
}

u8* DestPlane(const KLF_3D_HQFrame& f, u8 p) { return p ? f.dst->colour[p - 1] : f.dst->alpha; }

// Front to back composite of every sample's list into its head.
void Merge(Record& r, u8 count, bool hqComposite) {
  KLF_3D_HQFragment* f = r.frags;
  for (u32 cell = 0; cell < r.headRow * r.tileH; ++cell) {
    if (!r.stacked[cell]) continue;
    const u32 head = r.heads[cell];
    u8 acc[5] = {};
    bool first = true;
    for (;;) {
      u32 pick = klHQNone;
      f32 best = 1e9f;
      for (u32 i = head; i != klHQNone; i = f[i].next)
        if (f[i].depth < best) best = f[i].depth, pick = i;
      if (pick == klHQNone) break;
      const u8* c = f[pick].v;
      const u32 a = acc[0], b = c[0];
      if (first) {
        std::copy(c, c + count, acc);
        first = false;
      } else if (hqComposite) {
        for (u8 p = 1; p < count; ++p) acc[p] = static_cast<u8>((acc[p] * a + c[p] * (255 - a)) >> 8);
        acc[0] = static_cast<u8>(255 - (((255 - a) * (255 - b)) >> 8));
      } else {
        const u32 den = 255 * (a + b) - a * b;
        for (u8 p = 1; p < count && den; ++p)
          acc[p] = static_cast<u8>((255 * (a * acc[p] + b * c[p]) - a * b * c[p]) / den);
        acc[0] = static_cast<u8>(std::min<u32>(255, a + b - a * b / 255));
      }
      f[pick].depth = 2e9f;
      if (acc[0] == 255) break;
    }
    std::copy(acc, acc + count, f[head].v);
  }
}

// Each destination pixel of the tile from its s x s samples: alpha the
// mean over all of them, colour the mean over those covered.
void Resolve(const Record& r, const KLF_3D_HQFrame& f, const kltRECT_s& px) {
  const u32 s = f.s;
  for (i32 y = px.top; y < px.bottom; ++y)
    for (i32 x = px.left; x < px.right; ++x) {
      u32 sum[5] = {}, covered = 0;
      for (u32 j = 0; j < s; ++j) {
        const u32* h =
            r.heads + (static_cast<size_t>(y - px.top) * s + j) * r.headRow + static_cast<size_t>(x - px.left) * s;
        for (u32 i = 0; i < s; ++i) {
          if (h[i] == klHQNone) continue;
          ++covered;
          for (u8 p = 0; p < f.count; ++p) sum[p] += r.frags[h[i]].v[p];
        }
      }
      const size_t at = static_cast<size_t>(y) * f.dst->stride + static_cast<size_t>(x);
      DestPlane(f, 0)[at] = static_cast<u8>(sum[0] / (s * s));
      for (u8 p = 1; p < f.count && covered; ++p) DestPlane(f, p)[at] = static_cast<u8>(sum[p] / covered);
    }
}

// The vertex seen from the eye: shrunk towards the centre with depth, its
// depth z' / (d + z') and its perspective weight.
void SeenFromEye(const KLF_3D_HQFrame& f, klt3D_VERTEX& v, f64& w) {
  if (f.perspective == 1) {
    const f32 d = static_cast<f32>(f.eyeDistance), z = v.z - static_cast<f32>(f.zmin) + 1.0f, s = d / (d + z);
    const f32 cx = static_cast<f32>(f.cx), cy = static_cast<f32>(f.cy);
    v = klt3D_VERTEX{cx + s * (v.x - cx), cy + s * (v.y - cy), z / (d + z)};
    w = s / (z + 10000.0f);
    return;
  }
  const f64 z = static_cast<f64>(v.z) - f.zmin + 1.0, s = f.eyeDistance / (f.eyeDistance + z);
  v = klt3D_VERTEX{static_cast<f32>(f.cx + s * (v.x - f.cx)), static_cast<f32>(f.cy + s * (v.y - f.cy)),
                   static_cast<f32>(z / (f.eyeDistance + z))};
  w = s / (z + 1000000.0);
}

}  // namespace

bool klHQGrowPool(Record& r) {
  const u64 capacity = static_cast<u64>(r.capacity) + static_cast<u64>(r.headRow) * r.tileH;
  const u64 bytes = capacity * sizeof(KLF_3D_HQFragment);
  if (capacity >= klHQNone || !klFits32(bytes) || !r.pool->Resize(static_cast<u32>(bytes))) {
    r.error = r.pool->GetError() ? r.pool->GetError() : static_cast<u16>(klErrNoMemory);
    return false;
  }
  r.frags = reinterpret_cast<KLF_3D_HQFragment*>(r.pool->GetPtr());
  r.capacity = static_cast<u32>(capacity);
  return true;
}

// One tile: every triangle that touches it into the fragment lists, then
// merge and resolve. 0 on a cancel (error 0) or a pool failure.
u8 CKLF_3D_SurfaceBase::i_RenderHQTile(const KLF_3D_HQFrame& f, HQ_RENDERER_DATA& r, const kltRECT_s& px,
                                       KLF_3D_HQProgress& prog) {
  std::fill(r.heads, r.heads + static_cast<size_t>(r.headRow) * r.tileH, klHQNone);
  std::fill(r.stacked, r.stacked + static_cast<size_t>(r.headRow) * r.tileH, 0);
  r.used = 0;
  const i32 s = f.s;
  r.tile = kltRECT_s{px.left * s, px.top * s, px.right * s, px.bottom * s};
  KLF_3D_HQTriangle tri;
  for (u32 t = 0; t < m_triCount; ++t) {
    if (f.progress && m_progress) {
      if (++prog.counter > 4) {
        if (!i_ProgressStep(prog.p)) return Fail(klErrNone);
        prog.counter = 0;
      }
      prog.p += prog.step;
    }
    if (!i_HQTriangle(f, r, t, tri)) continue;
    f.fill(this, r, tri);
    if (r.error) return Fail(r.error);
  }
  Merge(r, f.count, f.hqComposite != 0);
  Resolve(r, f, px);
  return 1;
}

// Triangle t as the fill takes it, and its side in the record; false when
// it misses the tile.
bool CKLF_3D_SurfaceBase::i_HQTriangle(const KLF_3D_HQFrame& f, HQ_RENDERER_DATA& r, u32 t,
                                       KLF_3D_HQTriangle& tri) const {
  const TRIMESH& m = m_triangles[t];
  const klt3D_VERTEX* p[3];
  if (!i_TriVertices(m, p[0], p[1], p[2])) return false;
  f32 x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (int k = 0; k < 3; ++k) {
    klt3D_VERTEX v = *p[k];
    tri.w[k] = 1.0;
    if (f.perspective) SeenFromEye(f, v, tri.w[k]);
    tri.p[k] = klt3D_VERTEX{v.x * f.s, v.y * f.s, v.z};
    x0 = std::min(x0, tri.p[k].x), y0 = std::min(y0, tri.p[k].y);
    x1 = std::max(x1, tri.p[k].x), y1 = std::max(y1, tri.p[k].y);
    tri.t[k] = m_mapping[m.v[k]];
    tri.n[k] = f.phong ? m_vertexNormals[m.v[k]] : klt3D_VECTOR{0.0f, 0.0f, 0.0f};
  }
  const kltRECT_s& tile = r.tile;
  tri.clip =
      kltRECT_s{std::max(klTruncSat<i32>(x0 - 1.0f), tile.left), std::max(klTruncSat<i32>(y0 - 1.0f), tile.top),
                std::min(klTruncSat<i32>(x1 + 1.0f), tile.right), std::min(klTruncSat<i32>(y1 + 1.0f), tile.bottom)};
  if (tri.clip.left >= tri.clip.right || tri.clip.top >= tri.clip.bottom) return false;
  r.face = GetMeshNormal(p[0], p[1], p[2], m.flags);
  r.frontFacing = r.face.z > 0.0f;
  const HQ_SIDE& side = r.frontFacing ? f.tex.front : f.tex.back;
  r.solidFlag = side.solid;
  r.tex[0] = f.tex.alpha;
  for (u8 c = 1; c < f.count; ++c) {
    if (side.solid)
      r.solid[c - 1] = side.colour[c - 1];
    else
      r.tex[c] = side.planes[c - 1];
  }
  const u8* bump = r.frontFacing ? f.bump.front : f.bump.back;
  const f32 strength = r.frontFacing ? f.bump.frontStrength : f.bump.backStrength;
  r.bump = tri.bump = bump && strength != 0.0f;
  return true;
}

u8 CKLF_3D_SurfaceBase::i_HQCheck(const KLF_3D_HQFrame& f) {
  return ArgsOK(f) && i_MappingReady() ? 1 : Fail(klErrBadArg);
}

u8 CKLF_3D_SurfaceBase::i_RenderHQ(const KLF_3D_HQFrame& frame) {
  if (!i_HQCheck(frame)) return 0;
  if (frame.phong && !PrepareVertexNormalsArray()) return 0;
  KLF_3D_HQFrame f = frame;
  if (f.perspective) i_HQPerspectiveSetUp(f);
  if (f.progress && !i_ProgressStep(0.0)) return Fail(klErrNone);
  const u32 T = f.tileBase / f.s, S = T * f.s;
  const HQ_DESTINATION& d = *f.dst;
  const i32 w = static_cast<i32>(d.width), h = static_cast<i32>(d.height);
  const kltRECT_s c = klIsNullRect(f.clip) ? kltRECT_s{0, 0, w, h}
                                           : kltRECT_s{std::max(f.clip.left, 0), std::max(f.clip.top, 0),
                                                       std::min(f.clip.right, w), std::min(f.clip.bottom, h)};
  if (c.left >= c.right || c.top >= c.bottom) return Fail(klErrBadArg);
  CKLF_Mem heads, stacked, pool;
  const u32 cells = S * S;
  if (!heads.alloc(cells * 4) || !stacked.alloc(cells) ||
      !pool.alloc(2 * cells * static_cast<u32>(sizeof(KLF_3D_HQFragment))))
    return Fail(klErrNoMemory);
  if (f.progress && !i_ProgressStep(2.0)) return Fail(klErrNone);
  HQ_RENDERER_DATA r = {};
  r.planes = f.count;
  r.texStride = f.tex.stride, r.texW = f.tex.width, r.texH = f.tex.height;
  r.bumpFront = f.bump.front, r.bumpBack = f.bump.back, r.bumpStride = f.bump.stride;
  r.bumpFrontK = f.bump.frontStrength, r.bumpBackK = f.bump.backStrength;
  r.heads = reinterpret_cast<u32*>(heads.GetPtr());
  r.stacked = stacked.GetPtr();
  r.headRow = r.tileH = S;
  r.pool = &pool;
  r.frags = reinterpret_cast<KLF_3D_HQFragment*>(pool.GetPtr());
  r.capacity = 2 * cells;
  r.light = f.light;
  r.k = f.k;
  const u64 tiles = ((c.right - c.left + T - 1) / T) * static_cast<u64>((c.bottom - c.top + T - 1) / T);
  KLF_3D_HQProgress prog = {0, 2.0, 98.0 / std::max<f64>(1.0, static_cast<f64>(tiles) * m_triCount)};
  for (i32 ty = c.top; ty < c.bottom; ty += T)
    for (i32 tx = c.left; tx < c.right; tx += T) {
      const kltRECT_s px = {tx, ty, std::min<i32>(tx + T, c.right), std::min<i32>(ty + T, c.bottom)};
      if (!i_RenderHQTile(f, r, px, prog)) return 0;
    }
  return 1;
}

void CKLF_3D_SurfaceBase::i_HQPerspectiveSetUp(KLF_3D_HQFrame& f) const {
  f.eyeDistance = f.eye.z > 0.0f ? f.eye.z : 1.0;
  f32 x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f, zmin = 1e9f;
  for (u32 i = 0; i < m_vertexCount; ++i) {
    const klt3D_VERTEX& v = m_vertices[i];
    x0 = std::min(x0, v.x), y0 = std::min(y0, v.y), x1 = std::max(x1, v.x), y1 = std::max(y1, v.y);
    zmin = std::min(zmin, v.z);
  }
  f.cx = f.centre ? (static_cast<f64>(x0) + x1) / 2 : f.eye.x;
  f.cy = f.centre ? (static_cast<f64>(y0) + y1) / 2 : f.eye.y;
  f.zmin = zmin;
}

// ---- the simple renderer ----

void CKLF_3D_SurfaceBase::int_ApplyLight_HQMapping_Opt_Simple(HQ_RENDERER_DATA* r) const {
  const f32 z = r->frontFacing ? r->n.z : -r->n.z, l = z >= 0.0f ? 1.0f - r->k * (1.0f - z) : 0.0f;
  const f32 level[4] = {l, l, l, l};
  klHQWrite<klHQConvert>(*r, level);
}

void CKLF_3D_SurfaceBase::int_DrawYLine_HQMapping_Opt_Simple(HQ_RENDERER_DATA* r) const {
  klHQSpan<KLF_3D_HQFaceNormal, KLF_3D_HQAffine>(
      *r, [this](HQ_RENDERER_DATA& d) { int_ApplyLight_HQMapping_Opt_Simple(&d); });
}

u8 CKLF_3D_SurfaceBase::RenderHQ_Simple(f32 level, u8 s, u8 count, const HQ_DESTINATION& dst, const HQ_TEXTURE& tex,
                                        kltRECT_s clip) {
  KLF_3D_HQFrame f = {};
  f.s = s, f.count = count, f.dst = &dst, f.tex = tex, f.clip = clip;
  f.tileBase = 800, f.progress = 1, f.k = level / 100.0f;
  f.fill = [](CKLF_3D_SurfaceBase* self, HQ_RENDERER_DATA& r, const KLF_3D_HQTriangle& t) {
    klHQFill<f32, false, false>(r, t, [self](HQ_RENDERER_DATA& d) { self->int_DrawYLine_HQMapping_Opt_Simple(&d); });
  };
  return i_RenderHQ(f);
}
