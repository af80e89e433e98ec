// The fragment method of the second class's shadow maps: the mesh drawn
// from the light into per-pixel fragment lists, tile by tile; each list
// sorted by depth and turned into the light that reaches each fragment;
// each texel takes the level of the fragment at its own depth.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "CKLF_3D_Surface2.h"
#include "KLF_3D_Raster.h"
#include "KLF_3D_Shadow.h"

namespace {

typedef CKLF_3D_Surface2::SHADOW_FRAGMENT Frag;
typedef CKLF_3D_Surface2::SHADOWRENDERER_DATA ShadowSpan;

const u32 kTile = 400;             // light-space pixels a tile side
const u32 kCells = kTile * kTile;  // fragments a block
const u32 kBlocks = 499;           // block 0 holds the heads
const u16 kEmpty = 0xFFFF;         // level of an empty head
const i32 kMaxExtent = 65533;      // light-space pixels a side, less two

Frag* Block(const ShadowSpan& d, u32 b) { return reinterpret_cast<Frag*>(d.blocks[b].GetPtr()); }

// The next free fragment; null when the pool is spent or a block cannot be
// had (error 17 in d).
Frag* NewFragment(ShadowSpan& d) {
  const u32 last = d.blockCount - 1;
  if (d.used[last] < kCells) return Block(d, last) + d.used[last]++;
  if (d.blockCount >= kBlocks) return nullptr;
  CKLF_Mem& m = d.blocks[d.blockCount];
  if (m.GetSize() < kCells * sizeof(Frag) && !m.alloc(kCells * static_cast<u32>(sizeof(Frag)))) {
    d.error = klErrNoMemory;
    return nullptr;
  }
  d.used[d.blockCount++] = 1;
  return Block(d, d.blockCount - 1);
}

void ResetHeads(ShadowSpan& d) {
  Frag* h = Block(d, 0);
  for (u32 i = 0; i < kCells; ++i) h[i] = Frag{0.0f, nullptr, kEmpty, 0, 0};
  for (u32 b = 1; b < kBlocks; ++b) d.used[b] = 0;
  d.used[0] = kCells;
  d.blockCount = 2;
}

// Sorts one list by depth (exchange sort; the cells keep their links) and
// gives each fragment the light that reaches it; a fragment left in full
// shadow ends the list.
void ResolveList(Frag* head) {
  for (Frag* i = head; i; i = i->next)
    for (Frag* j = i->next; j; j = j->next)
      if (i->z > j->z) {
        std::swap(i->z, j->z);
        std::swap(i->level, j->level);
        std::swap(i->u, j->u);
        std::swap(i->v, j->v);
      }
  u32 a = head->level;
  head->level = 255;
  for (Frag* f = head->next; f; f = f->next) {
    const u32 opacity = f->level;
    f->level = static_cast<u16>(255 - a);
    if (!f->level) {
      f->next = nullptr;
      break;
    }
    a = 255 - (255 - a) * (255 - opacity) / 255;
  }
}

// The fragment of a list nearest to depth z (the first of equals).
const Frag* Nearest(const Frag* head, f32 z) {
  const Frag* best = nullptr;
  f32 bestD = 1e6f;
  for (const Frag* f = head; f; f = f->next) {
    const f32 dz = std::fabs(f->z - z);
    if (dz < bestD) best = f, bestD = dz;
  }
  return best;
}

}  // namespace

void CKLF_3D_Surface2::int_DrawYLine_ShadowMapping(SHADOWRENDERER_DATA* d) {
  i32 x0 = d->x0, x1 = d->x1;
  f32 z0 = d->z0, z1 = d->z1, u0 = d->u0, u1 = d->u1, v0 = d->v0, v1 = d->v1;
  if (x0 == x1) return;
  if (x0 > x1) std::swap(x0, x1), std::swap(z0, z1), std::swap(u0, u1), std::swap(v0, v1);
  if (d->y < d->top || d->y >= d->bottom || x0 >= d->right || x1 < d->left) return;
  const i32 xs = std::max(x0, d->left), xe = std::min(x1, d->right);
  const f32 len = static_cast<f32>(static_cast<i64>(x1) - x0), lead = static_cast<f32>(static_cast<i64>(xs) - x0);
  const f32 dz = (z1 - z0) / len, du = (u1 - u0) / len, dv = (v1 - v0) / len;
  f32 z = z0 + dz * lead, u = u0 + du * lead, v = v0 + dv * lead;
  Frag* row = d->heads + static_cast<size_t>(d->y - d->top) * d->headStride - d->left;
  for (i32 x = xs; x < xe; ++x, z += dz, u += du, v += dv) {
    const i64 tu = klTruncSat<i64>(u), tv = klTruncSat<i64>(v);
    if (tu < 0 || tv < 0 || tu >= d->opW || tv >= d->opH) continue;
    const u16 a = d->opacity[static_cast<size_t>(tv) * d->opW + static_cast<size_t>(tu)];
    const u32 fu = static_cast<u32>(tu), fv = static_cast<u32>(tv);
    Frag& head = row[x];
    if (head.level == kEmpty) {
      head = Frag{z, nullptr, a, fu, fv};
      continue;
    }
    bool same = false;  // this surface point is in the list already
    for (const Frag* f = &head; f && !same; f = f->next)
      same = std::fabs(f->z - z) < 20.0f && std::max(f->u, fu) - std::min(f->u, fu) <= 3 &&
             std::max(f->v, fv) - std::min(f->v, fv) <= 3;
    if (same) continue;
    Frag* n = NewFragment(*d);
    if (!n) return;  // the rest of the row is dropped
    *n = Frag{z, head.next, a, fu, fv};
    head.next = n;
  }
}

namespace {

// What one tile of the fragment method works with.
struct FragmentTiles {
  CKLF_3D_SurfaceBase* lit;  // the mesh turned and shifted into light space
  const CKLF_3D_SurfaceBase* mesh;
  u8* map;
  u32 w, h;
  u32* list;  // the tile's triangles
  u32 listed;
};

bool Corners(const CKLF_3D_SurfaceBase& m, u32 t, const klt3D_VERTEX** p) {
  const CKLF_3D_SurfaceBase::TRIMESH* tri = m.GetTriMesh(t);
  for (int k = 0; k < 3; ++k)
    if (!(p[k] = m.GetVertex(tri->v[k]))) return false;
  return true;
}

// Step of the texels of one tile: each texel of the tile's triangles whose
// light-space pixel lies in the tile takes the level of its fragment.
void WriteTexels(const FragmentTiles& t, const ShadowSpan& d) {
  const kltRECT_s rows = {0, 0, 0, static_cast<i32>(std::min<u32>(t.h, 0x7FFFFFFF))};
  for (u32 k = 0; k < t.listed; ++k) {
    const CKLF_3D_SurfaceBase::TRIMESH& tri = *t.mesh->GetTriMesh(t.list[k]);
    KLF_3D_ScreenVertex s[3];
    for (int c = 0; c < 3; ++c) {
      const klt2D_VERTEX& m = *t.mesh->GetMapping(tri.v[c]);
      const klt3D_VERTEX& p = *t.lit->GetVertex(tri.v[c]);
      s[c] = KLF_3D_ScreenVertex{klScreenCoord(m.x, 0), klScreenCoord(m.y, 0), p.z, p.x, p.y};
    }
    klScanTriangle<true>(s, rows, [&](i32 v, const KLF_3D_ScreenVertex& l, const KLF_3D_ScreenVertex& r) {
      if (l.x >= static_cast<i64>(t.w)) return;
      const i32 xs = std::max(l.x, 0), xe = static_cast<i32>(std::min<i64>(r.x, t.w));
      const f32 len = static_cast<f32>(static_cast<i64>(r.x) - l.x), lead = static_cast<f32>(xs - l.x);
      const f32 dz = (r.z - l.z) / len, dx = (r.u - l.u) / len, dy = (r.v - l.v) / len;
      f32 z = l.z + dz * lead, x = l.u + dx * lead, y = l.v + dy * lead;
      for (i32 u = xs; u < xe; ++u, z += dz, x += dx, y += dy) {
        const i64 px = klTruncSat<i64>(x), py = klTruncSat<i64>(y);
        if (px < d.left || px >= d.right || py < d.top || py >= d.bottom) continue;
        const Frag& head = d.heads[static_cast<size_t>(py - d.top) * d.headStride + static_cast<size_t>(px - d.left)];
        if (head.level == kEmpty) continue;
        if (const Frag* f = Nearest(&head, z)) t.map[static_cast<size_t>(v) * t.w + u] = static_cast<u8>(f->level);
      }
    });
  }
}

}  // namespace

u8 CKLF_3D_Surface2::i_FragmentShadow(const klt3D_VECTOR& turn, const u8* opacity, u32 w, u32 h, u8* map, f64 start,
                                      f64 span) {
  CKLF_3D_SurfaceBase lit;
  if (!lit.Create(this)) return FailFrom(lit, klErrNoMemory);
  if (!i_ProgressStep(start + 3 * span) || !i_ProgressStep(start + 4 * span)) return Fail(klErrNone);
  lit.Rotate(turn, klt3D_VERTEX{0.0f, 0.0f, 0.0f});
  if (!i_ProgressStep(start + 5 * span)) return Fail(klErrNone);
  CKLF_Mem blocks[kBlocks], listMem;
  const u32 n = m_triCount;
  if (!blocks[0].alloc(kCells * static_cast<u32>(sizeof(Frag))) ||
      !blocks[1].alloc(kCells * static_cast<u32>(sizeof(Frag))) || (n && !listMem.alloc(4 * n)))
    return Fail(klErrNoMemory);
  ShadowSpan d = {};
  d.blocks = blocks;
  d.heads = Block(d, 0);
  d.headStride = d.headRows = kTile;
  d.opacity = opacity;
  d.opW = w;
  d.opH = h;
  FragmentTiles t = {&lit, this, map, w, h, reinterpret_cast<u32*>(listMem.GetPtr()), 0};
  // Light space from (1, 1) on.
  const CKLF_3D_SurfaceBase::OBJECT_BOUNDS b = lit.GetObjectBounds();
  const f32 sx = static_cast<f32>(1.0 - b.minX), sy = static_cast<f32>(1.0 - b.minY);
  for (u32 i = 0; i < lit.GetVertexCount(); ++i) lit.GetVertex(i)->x += sx, lit.GetVertex(i)->y += sy;
  const i32 X = std::clamp(klTruncSat<i32>(b.maxX + sx), 0, kMaxExtent);
  const i32 Y = std::clamp(klTruncSat<i32>(b.maxY + sy), 0, kMaxExtent);
  if (!i_ProgressStep(start + 6 * span)) return Fail(klErrNone);
  const f64 total = std::max<f64>(1.0, static_cast<f64>((X + 1) / kTile + 1) * ((Y + 1) / kTile + 1) * n);
  f64 k = 6.0;
  u32 counter = 0;
  for (i32 ty = 0; ty <= Y + 1; ty += kTile)
    for (i32 tx = 0; tx <= X + 1; tx += kTile) {
      ResetHeads(d);
      d.left = tx, d.top = ty, d.right = std::min<i32>(tx + kTile, X + 2), d.bottom = std::min<i32>(ty + kTile, Y + 2);
      t.listed = 0;
      for (u32 i = 0; i < n; ++i) {
        k += 89.0 / total;
        if (++counter % 5 == 0 && !i_ProgressStep(start + k * span)) return Fail(klErrNone);
        if (!i_DrawShadowTriangle(lit, i, d)) continue;
        if (d.error) return Fail(d.error);
        t.list[t.listed++] = i;
      }
      if (!t.listed) continue;
      for (u32 c = 0; c < kCells; ++c)
        if (d.heads[c].level != kEmpty) ResolveList(d.heads + c);
      WriteTexels(t, d);
    }
  return i_ProgressStep(start + 95 * span) ? 1 : Fail(klErrNone);
}

u8 CKLF_3D_Surface2::i_DrawShadowTriangle(const CKLF_3D_SurfaceBase& lit, u32 i, SHADOWRENDERER_DATA& d) {
  const klt3D_VERTEX* p[3];
  if (!Corners(lit, i, p)) return 0;
  if (std::min({p[0]->x, p[1]->x, p[2]->x}) - 1.0f >= d.right ||
      std::max({p[0]->x, p[1]->x, p[2]->x}) + 1.0f < d.left ||
      std::min({p[0]->y, p[1]->y, p[2]->y}) - 1.0f >= d.bottom || std::max({p[0]->y, p[1]->y, p[2]->y}) + 1.0f < d.top)
    return 0;
  const TRIMESH& tri = m_triangles[i];
  KLF_3D_ScreenVertex s[3];
  for (int c = 0; c < 3; ++c)
    s[c] = KLF_3D_ScreenVertex{klScreenCoord(p[c]->x, 0), klScreenCoord(p[c]->y, 0), p[c]->z, m_mapping[tri.v[c]].x,
                               m_mapping[tri.v[c]].y};
  const kltRECT_s tile = {d.left, d.top, d.right, d.bottom};
  klScanTriangle<true>(s, tile, [&](i32 y, const KLF_3D_ScreenVertex& a, const KLF_3D_ScreenVertex& e) {
    d.y = y, d.x0 = a.x, d.x1 = e.x, d.z0 = a.z, d.z1 = e.z, d.u0 = a.u, d.v0 = a.v, d.u1 = e.u, d.v1 = e.v;
    if (!d.error) int_DrawYLine_ShadowMapping(&d);
  });
  return 1;
}

u8 CKLF_3D_Surface2::int_GenerateInternalLightShadowMap_v2(INTERNAL_LIGHT_SOURCE* l, const u8* opacity, u32 stride,
                                                           u32 w, u32 h, f32 blur, f64 start, f64 end) {
  const u64 size = static_cast<u64>(w) * h;
  if (!l || !opacity || !w || !h || stride != w || !l->MapFor(size) || !i_MappingReady()) return Fail(klErrBadArg);
  const klt3D_VECTOR& lv = l->lightingVector;
  const f32 len = std::sqrt(lv.x * lv.x + lv.y * lv.y + lv.z * lv.z);
  if (!(len > 0.0f) || !std::isfinite(len)) return Fail(klErrBadArg);
  const f64 span = (end - start) / 100.0;
  if (!i_ProgressStep(start)) return Fail(klErrNone);
  u8* map = l->MapFor(size);
  std::memset(map, 255, size);
  const f32 radius = std::max(1.0f, blur * l->source.shadowValue2);
  if (!i_ProgressStep(start + span)) return Fail(klErrNone);
  // The copy and the fragments are gone before the blur.
  if (!i_FragmentShadow(klShadowTurn(lv), opacity, w, h, map, start, span)) return 0;
  if (!i_ProgressStep(start + 96 * span)) return Fail(klErrNone);
  if (!int_Blur_Const_v2(map, w, h, radius)) return 0;
  return i_ProgressStep(end) ? 1 : Fail(klErrNone);
}

u8 CKLF_3D_Surface2::Light_GenerateAllInnerShadowMaps(const u8* opacity, u32 stride, u32 w, u32 h, f32 blur) {
  if (!i_ProgressStep(0.0)) return Fail(klErrNone);
  u32 casting = 0;
  for (u32 i = 0; i < Light_Count(); ++i) casting += Light_GetRecord(i)->source.castsShadow != 0;
  if (!casting) return i_ProgressStep(100.0) ? 1 : Fail(klErrNone);
  if (!i_ProgressStep(1.0)) return Fail(klErrNone);
  const f64 step = 99.0 / casting;
  f64 p = 1.0;
  for (u32 i = 0; i < Light_Count(); ++i) {
    INTERNAL_LIGHT_SOURCE* l = Light_GetRecord(i);
    if (!l->source.castsShadow) continue;
    if (!i_ProgressStep(p)) return Fail(klErrNone);
    if (!i_ResizeShadowMap(l, w, h)) {
      l->shadowMem.free();
      l->shadowMap = nullptr;
      return 0;
    }
    const f64 p2 = p + step / 4, p3 = p2 + 3 * step / 4;
    if (!i_ProgressStep(p2)) return Fail(klErrNone);
    if (!int_GenerateInternalLightShadowMap_v2(l, opacity, stride, w, h, blur, p2, p3)) return 0;
    if (!i_ProgressStep(p3)) return Fail(klErrNone);
    p = p3;
  }
  return 1;
}
