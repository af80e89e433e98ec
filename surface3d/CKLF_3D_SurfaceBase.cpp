#include "CKLF_3D_SurfaceBase.h"

#include <cmath>
#include <cstring>
#include <new>

#include "KLF_BigEndian.h"

namespace {

const u32 kVertexBytes = 15;    // three (mantissa, exponent) pairs
const u32 kTriangleBytes = 13;  // three indices, flags

// 10^e for the record's decimal exponents.
const f64* PowersOfTen() {
  static const struct Table {
    f64 p[256];
    Table() {
      for (int e = 0; e < 256; ++e) p[e] = std::pow(10.0, e);
    }
  } table;
  return table.p;
}

f32 ReadCoordinate(KLF_BEReader& r) {
  const i32 mantissa = static_cast<i32>(r.U32());
  const u8 exponent = r.U8();
  return static_cast<f32>(static_cast<f64>(mantissa) / PowersOfTen()[exponent]);
}

klt3D_VECTOR Unit(f32 x, f32 y, f32 z) {
  const f32 len = std::sqrt(x * x + y * y + z * z);
  if (!(len > 0.0f) || !std::isfinite(len)) return klt3D_VECTOR{0.0f, 0.0f, 0.0f};
  return klt3D_VECTOR{x / len, y / len, z / len};
}

}  // namespace

CKLF_3D_SurfaceBase::CKLF_3D_SurfaceBase()
    : m_progress(nullptr),
      m_vertices(nullptr),
      m_vertexCount(0),
      m_vertexNormals(nullptr),
      m_mapping(nullptr),
      m_triangles(nullptr),
      m_triCount(0),
      m_zBuffer(nullptr),
      m_zWidth(0),
      m_zHeight(0),
      m_matShading(0),
      m_cosPower(1.0f) {}

CKLF_3D_SurfaceBase::~CKLF_3D_SurfaceBase() { Light_KillAll(); }

// ---- mesh ----

u8 CKLF_3D_SurfaceBase::i_GrowBlock(CKLF_Mem& block, u64 bytes) {
  if (!klFits32(bytes)) return Fail(klErrNoMemory);
  if (block.GetSize() >= bytes) return 1;
  if (!block.Resize(static_cast<u32>(bytes))) return FailFrom(block, klErrNoMemory);
  return 1;
}

void CKLF_3D_SurfaceBase::i_RefreshPointers() {
  m_vertices = reinterpret_cast<klt3D_VERTEX*>(m_vertexMem.GetPtr());
  m_triangles = reinterpret_cast<TRIMESH*>(m_triMem.GetPtr());
  m_vertexNormals = reinterpret_cast<klt3D_VECTOR*>(m_normalMem.GetPtr());
  m_mapping = reinterpret_cast<klt2D_VERTEX*>(m_mappingMem.GetPtr());
  m_zBuffer = reinterpret_cast<ZBUFFER_ELEMENT*>(m_zMem.GetPtr());
}

u8 CKLF_3D_SurfaceBase::Create(u32 vertices, u32 triangles) {
  // Both blocks grow before anything else changes, so a failure leaves the
  // counts consistent with the contents.
  if (!i_GrowBlock(m_vertexMem, static_cast<u64>(vertices) * sizeof(klt3D_VERTEX)) ||
      !i_GrowBlock(m_triMem, static_cast<u64>(triangles) * sizeof(TRIMESH))) {
    i_RefreshPointers();
    return 0;
  }
  i_RefreshPointers();
  if (vertices > m_vertexCount)
    std::memset(m_vertices + m_vertexCount, 0, (vertices - m_vertexCount) * sizeof(klt3D_VERTEX));
  if (triangles > m_triCount) std::memset(m_triangles + m_triCount, 0, (triangles - m_triCount) * sizeof(TRIMESH));
  m_vertexCount = vertices;
  m_triCount = triangles;
  return 1;
}

u8 CKLF_3D_SurfaceBase::Create(const u8* record, u64 length) {
  if (!record) return Fail(klErrBadArg);
  KLF_BEReader r = {record, length, 0};
  if (!r.Has(8)) return Fail(klErrNotFormat);
  const u32 v = r.U32();
  const u32 t = r.U32();
  if (!r.Has(static_cast<u64>(v) * kVertexBytes + static_cast<u64>(t) * kTriangleBytes)) return Fail(klErrNotFormat);
  const u8* tri = record + 8 + static_cast<u64>(v) * kVertexBytes;
  for (u64 i = 0; i < t; ++i) {
    for (int k = 0; k < 3; ++k)
      if (KLF_GetBE32(tri + i * kTriangleBytes + 4 * k) >= v) return Fail(klErrNotFormat);
    // GetMeshVertex answers 255 for a triangle it cannot give.
    if (tri[i * kTriangleBytes + 12] == 255) return Fail(klErrNotFormat);
  }
  if (!Create(v, t)) return 0;
  for (u32 i = 0; i < v; ++i) {
    m_vertices[i].x = ReadCoordinate(r);
    m_vertices[i].y = ReadCoordinate(r);
    m_vertices[i].z = ReadCoordinate(r);
  }
  for (u32 i = 0; i < t; ++i) {
    for (int k = 0; k < 3; ++k) m_triangles[i].v[k] = r.U32();
    m_triangles[i].flags = r.U8();
  }
  return 1;
}

u8 CKLF_3D_SurfaceBase::Create(const CKLF_3D_SurfaceBase* other) {
  if (!other) return Fail(klErrBadArg);
  if (other == this) return 1;
  if (!Create(other->m_vertexCount, other->m_triCount)) return 0;
  if (m_vertexCount) std::memcpy(m_vertices, other->m_vertices, m_vertexCount * sizeof(klt3D_VERTEX));
  if (m_triCount) std::memcpy(m_triangles, other->m_triangles, m_triCount * sizeof(TRIMESH));
  return 1;
}

bool CKLF_3D_SurfaceBase::i_TriVertices(const TRIMESH& t, const klt3D_VERTEX*& p0, const klt3D_VERTEX*& p1,
                                        const klt3D_VERTEX*& p2) const {
  if (t.v[0] >= m_vertexCount || t.v[1] >= m_vertexCount || t.v[2] >= m_vertexCount) return false;
  p0 = m_vertices + t.v[0];
  p1 = m_vertices + t.v[1];
  p2 = m_vertices + t.v[2];
  return true;
}

u8 CKLF_3D_SurfaceBase::GetMeshVertex(u32 i, klt3D_VERTEX& p0, klt3D_VERTEX& p1, klt3D_VERTEX& p2) const {
  const klt3D_VERTEX *a, *b, *c;
  if (i >= m_triCount || !i_TriVertices(m_triangles[i], a, b, c)) return 255;
  p0 = *a;
  p1 = *b;
  p2 = *c;
  return m_triangles[i].flags;
}

klt3D_VECTOR CKLF_3D_SurfaceBase::GetMeshNormal(const klt3D_VERTEX* p0, const klt3D_VERTEX* p1, const klt3D_VERTEX* p2,
                                                u8 flags) {
  klt3D_VECTOR a = {p0->x - p1->x, p0->y - p1->y, p0->z - p1->z};
  if (flags & 4) a = {p1->x - p0->x, p1->y - p0->y, p1->z - p0->z};
  klt3D_VECTOR b = {p2->x - p1->x, p2->y - p1->y, p2->z - p1->z};
  if (flags & 2) b = {p1->x - p2->x, p1->y - p2->y, p1->z - p2->z};
  if (flags & 1) std::swap(a, b);
  return Unit(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

klt3D_VECTOR CKLF_3D_SurfaceBase::GetMeshNormal(u32 i) const {
  const klt3D_VERTEX *a, *b, *c;
  if (i >= m_triCount || !i_TriVertices(m_triangles[i], a, b, c)) return klt3D_VECTOR{0.0f, 0.0f, 0.0f};
  return GetMeshNormal(a, b, c, m_triangles[i].flags);
}

u8 CKLF_3D_SurfaceBase::PrepareVertexNormalsArray() {
  const u64 bytes = static_cast<u64>(m_vertexCount) * sizeof(klt3D_VECTOR);
  if (!klFits32(bytes)) return Fail(klErrNoMemory);
  if (m_normalMem.GetSize() < bytes && !m_normalMem.Zalloc(static_cast<u32>(bytes))) {
    i_RefreshPointers();
    return FailFrom(m_normalMem, klErrNoMemory);
  }
  i_RefreshPointers();
  // Per vertex: the sum in double and the count, in triangle order.
  struct Sum {
    f64 x, y, z;
    u32 n;
  };
  CKLF_Mem work;
  const u64 sumBytes = static_cast<u64>(m_vertexCount) * sizeof(Sum);
  if (!klFits32(sumBytes)) return Fail(klErrNoMemory);
  if (m_vertexCount && !work.Zalloc(static_cast<u32>(sumBytes))) return FailFrom(work, klErrNoMemory);
  Sum* sums = reinterpret_cast<Sum*>(work.GetPtr());
  for (u32 t = 0; t < m_triCount; ++t) {
    const TRIMESH& tri = m_triangles[t];
    const klt3D_VERTEX *a, *b, *c;
    if (!i_TriVertices(tri, a, b, c)) continue;
    const klt3D_VECTOR n = GetMeshNormal(a, b, c, tri.flags);
    for (int k = 0; k < 3; ++k) {
      const u32 v = tri.v[k];
      if ((k > 0 && v == tri.v[0]) || (k > 1 && v == tri.v[1])) continue;  // once per triangle
      sums[v].x += n.x;
      sums[v].y += n.y;
      sums[v].z += n.z;
      ++sums[v].n;
    }
  }
  for (u32 v = 0; v < m_vertexCount; ++v) {
    if (!sums[v].n) continue;
    const f64 n = sums[v].n;
    const f32 x = static_cast<f32>(sums[v].x / n), y = static_cast<f32>(sums[v].y / n),
              z = static_cast<f32>(sums[v].z / n);
    m_vertexNormals[v] = (x == 0.0f && y == 0.0f && z == 0.0f) ? klt3D_VECTOR{x, y, z} : Unit(x, y, z);
  }
  return 1;
}

const klt3D_VECTOR* CKLF_3D_SurfaceBase::GetVertexNormal(u32 i) const {
  if (i >= m_vertexCount || m_normalMem.GetSize() / sizeof(klt3D_VECTOR) < m_vertexCount) return nullptr;
  return m_vertexNormals + i;
}

u8 CKLF_3D_SurfaceBase::RecreateMappingArrayFromCurrentValues() {
  const u64 bytes = static_cast<u64>(m_vertexCount) * sizeof(klt2D_VERTEX);
  if (!klFits32(bytes)) return Fail(klErrNoMemory);
  const u8 ok = m_mappingMem.Resize(static_cast<u32>(bytes));
  i_RefreshPointers();
  if (!ok) return FailFrom(m_mappingMem, klErrNoMemory);
  for (u32 i = 0; i < m_vertexCount; ++i) m_mapping[i] = klt2D_VERTEX{m_vertices[i].x, m_vertices[i].y};
  return 1;
}

bool CKLF_3D_SurfaceBase::i_MappingReady() const {
  return m_mappingMem.GetSize() / sizeof(klt2D_VERTEX) >= m_vertexCount;
}

const klt2D_VERTEX* CKLF_3D_SurfaceBase::GetMapping(u32 i) const {
  return i < m_vertexCount && i_MappingReady() ? m_mapping + i : nullptr;
}

u8 CKLF_3D_SurfaceBase::RecreateZBuffer(u16 w, u16 h) {
  const u64 n = static_cast<u64>(w) * h;
  const u8 ok = i_GrowBlock(m_zMem, n * sizeof(ZBUFFER_ELEMENT));
  i_RefreshPointers();
  if (!ok) return 0;
  m_zWidth = w;
  m_zHeight = h;
  for (u64 i = 0; i < n; ++i) m_zBuffer[i].owner = -1;
  return 1;
}

void CKLF_3D_SurfaceBase::SetMatShading(i16 s) {
  m_matShading = s;
  m_cosPower = static_cast<f32>(s > 0 ? std::pow(2.0, s / 20.0) : s < 0 ? std::pow(2.0, s / 50.0) : 1.0);
}

// ---- lights ----

CKLF_3D_SurfaceBase::LIGHT_BASE* CKLF_3D_SurfaceBase::i_Light(u32 i) const {
  return i < m_lights.GetSize() ? static_cast<LIGHT_BASE*>(m_lights[i]) : nullptr;
}

i32 CKLF_3D_SurfaceBase::int_Light_GetIDByName(const char* name) const {
  if (!name) return -1;
  for (u32 i = 0; i < m_lights.GetSize(); ++i)
    if (std::strncmp(i_Light(i)->name, name, sizeof(LIGHT_BASE::name)) == 0) return static_cast<i32>(i);
  return -1;
}

CKLF_3D_SurfaceBase::LIGHT_BASE* CKLF_3D_SurfaceBase::i_LightByName(const char* name) const {
  const i32 i = int_Light_GetIDByName(name);
  return i < 0 ? nullptr : i_Light(static_cast<u32>(i));
}

u8 CKLF_3D_SurfaceBase::i_AddLight(LIGHT_BASE* rec, const char* name) {
  if (!rec) return Fail(klErrNoMemory);
  if (!name) {
    delete rec;
    return Fail(klErrBadArg);
  }
  std::strncpy(rec->name, name, sizeof(rec->name) - 1);
  if (m_lights.Add(rec) < 0) {
    delete rec;
    return FailFrom(m_lights, klErrNoMemory);
  }
  return 1;
}

u8 CKLF_3D_SurfaceBase::Light_GetName(u32 i, char* buf, u32 len) const {
  const LIGHT_BASE* rec = i_Light(i);
  if (!rec || (len && !buf)) return 0;
  if (!len) return 1;
  std::strncpy(buf, rec->name, len);
  buf[len - 1] = 0;
  return 1;
}

u8 CKLF_3D_SurfaceBase::Light_Delete(const char* name) {
  const i32 i = int_Light_GetIDByName(name);
  if (i < 0) return 0;
  delete i_Light(static_cast<u32>(i));
  m_lights.DeleteAt(static_cast<u32>(i));
  return 1;
}

u8 CKLF_3D_SurfaceBase::Light_KillAll() {
  for (u32 i = 0; i < m_lights.GetSize(); ++i) delete i_Light(i);
  m_lights.Empty();
  return 1;
}

u8* CKLF_3D_SurfaceBase::Light_GetShadowMap(const char* name) const {
  const LIGHT_BASE* rec = i_LightByName(name);
  return rec ? rec->shadowMap : nullptr;
}

u8 CKLF_3D_SurfaceBase::i_ResizeShadowMap(LIGHT_BASE* rec, u32 w, u32 h) {
  const u64 bytes = static_cast<u64>(w) * h;
  if (!klFits32(bytes)) return Fail(klErrNoMemory);
  if (!rec->shadowMem.Resize(static_cast<u32>(bytes))) return FailFrom(rec->shadowMem, klErrNoMemory);
  rec->shadowMap = rec->shadowMem.GetPtr();
  return 1;
}

bool CKLF_3D_SurfaceBase::i_UsableDirection(const klt3D_VECTOR& d) {
  const f64 len2 = static_cast<f64>(d.x) * d.x + static_cast<f64>(d.y) * d.y + static_cast<f64>(d.z) * d.z;
  return len2 > 0.0 && std::isfinite(len2);
}
