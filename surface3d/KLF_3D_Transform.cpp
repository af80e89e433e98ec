// Transforms of the surface mesh: in place, on the vertex array only.
#include <algorithm>
#include <cmath>

#include "CKLF_3D_SurfaceBase.h"

void CKLF_3D_SurfaceBase::Rotate(f32 a, f32 b, f32 c, klt3D_VERTEX p) {
  const f64 ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
  const f64 cc = std::cos(c), sc = std::sin(c);
  for (u32 i = 0; i < m_vertexCount; ++i) {
    klt3D_VERTEX& v = m_vertices[i];
    const f32 dx = v.x - p.x, dy = v.y - p.y, dz = v.z - p.z;
    // Each step rounds to single precision before the next.
    const f32 x1 = static_cast<f32>(dx * cc + dy * sc);
    const f32 y1 = static_cast<f32>(-dx * sc + dy * cc);
    const f32 y2 = static_cast<f32>(y1 * ca + dz * sa);
    const f32 z2 = static_cast<f32>(-y1 * sa + dz * ca);
    const f32 x3 = static_cast<f32>(x1 * cb - z2 * sb);
    const f32 z3 = static_cast<f32>(x1 * sb + z2 * cb);
    v = klt3D_VERTEX{p.x + x3, p.y + y2, p.z + z3};
  }
}

void CKLF_3D_SurfaceBase::Rotate(klt3D_VECTOR d, klt3D_VERTEX p) {
  const f32 len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  if (!(len > 0.0f) || !std::isfinite(len)) return;
  const f32 nx = d.x / len, ny = d.y / len, nz = d.z / len;
  if (nx == 0.0f && ny == 0.0f) {
    if (nz > 0.0f) return;
    // Straight down -z: half a turn about the x axis, the limit of the
    // general turn as the axis settles on x.
    for (u32 i = 0; i < m_vertexCount; ++i) {
      klt3D_VERTEX& v = m_vertices[i];
      v = klt3D_VERTEX{v.x, p.y - (v.y - p.y), p.z - (v.z - p.z)};
    }
    return;
  }
  // The turn by -acos(nz) about the unit axis (B, C, 0).
  const f64 l = std::sqrt(static_cast<f64>(nx) * nx + static_cast<f64>(ny) * ny);
  const f64 B = ny / l, C = nx / l, c = nz;
  const f64 s = std::sin(std::acos(std::clamp(c, -1.0, 1.0))), t = 1.0 - c;
  const f64 m[3][3] = {{t * B * B + c, t * B * C, -s * C}, {t * B * C, t * C * C + c, s * B}, {s * C, -s * B, c}};
  for (u32 i = 0; i < m_vertexCount; ++i) {
    klt3D_VERTEX& v = m_vertices[i];
    const f64 dx = static_cast<f64>(v.x) - p.x, dy = static_cast<f64>(v.y) - p.y, dz = static_cast<f64>(v.z) - p.z;
    v.x = static_cast<f32>(p.x + m[0][0] * dx + m[0][1] * dy + m[0][2] * dz);
    v.y = static_cast<f32>(p.y + m[1][0] * dx + m[1][1] * dy + m[1][2] * dz);
    v.z = static_cast<f32>(p.z + m[2][0] * dx + m[2][1] * dy + m[2][2] * dz);
  }
}

void CKLF_3D_SurfaceBase::Offset(f32 dx, f32 dy, f32 dz) {
  for (u32 i = 0; i < m_vertexCount; ++i) {
    m_vertices[i].x += dx;
    m_vertices[i].y += dy;
    m_vertices[i].z += dz;
  }
}

CKLF_3D_SurfaceBase::OBJECT_BOUNDS CKLF_3D_SurfaceBase::GetObjectBounds() const {
  OBJECT_BOUNDS b = {1e9, 1e9, -1e9, -1e9};
  for (u32 i = 0; i < m_vertexCount; ++i) {
    b.minX = std::min<f64>(b.minX, m_vertices[i].x);
    b.minY = std::min<f64>(b.minY, m_vertices[i].y);
    b.maxX = std::max<f64>(b.maxX, m_vertices[i].x);
    b.maxY = std::max<f64>(b.maxY, m_vertices[i].y);
  }
  if (b.minX <= b.maxX && b.minY <= b.maxY) return b;
  return OBJECT_BOUNDS{-1e10, -1e10, -1e10, -1e10};
}

void CKLF_3D_SurfaceBase::OffsetByCenterXY(f32 cx, f32 cy) {
  if (!m_vertexCount) return;
  const OBJECT_BOUNDS b = GetObjectBounds();
  const f32 dx = static_cast<f32>(cx - (b.maxX - b.minX) / 2 - b.minX);
  const f32 dy = static_cast<f32>(cy - (b.maxY - b.minY) / 2 - b.minY);
  Offset(dx, dy, 0.0f);
}

void CKLF_3D_SurfaceBase::OffsetWithCorrectionXY(f32 dx, f32 dy, f32 left, f32 top, f32 right, f32 bottom, f32* outDX,
                                                 f32* outDY) {
  if (outDX) *outDX = dx;
  if (outDY) *outDY = dy;
  Offset(dx, dy, 0.0f);
  f32 minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
  for (u32 i = 0; i < m_vertexCount; ++i) {
    minX = std::min(minX, m_vertices[i].x);
    minY = std::min(minY, m_vertices[i].y);
    maxX = std::max(maxX, m_vertices[i].x);
    maxY = std::max(maxY, m_vertices[i].y);
  }
  // Sticking out on both sides of one axis: no correction.
  if ((minX < left && maxX > right) || (minY < top && maxY > bottom)) return;
  const f32 cx = minX < left ? left - minX : maxX > right ? right - maxX : 0.0f;
  const f32 cy = minY < top ? top - minY : maxY > bottom ? bottom - maxY : 0.0f;
  if (cx != 0.0f || cy != 0.0f) Offset(cx, cy, 0.0f);
  if (outDX) *outDX += cx;
  if (outDY) *outDY += cy;
}

void CKLF_3D_SurfaceBase::Zoom(f32 sx, f32 sy, f32 sz, klt3D_VERTEX p) {
  for (u32 i = 0; i < m_vertexCount; ++i) {
    klt3D_VERTEX& v = m_vertices[i];
    v = klt3D_VERTEX{p.x + sx * (v.x - p.x), p.y + sy * (v.y - p.y), p.z + sz * (v.z - p.z)};
  }
}

void CKLF_3D_SurfaceBase::PerspectiveZ(f32 d, klt3D_VERTEX p) {
  if (d == 0.0f) return;
  for (u32 i = 0; i < m_vertexCount; ++i) {
    klt3D_VERTEX& v = m_vertices[i];
    const f32 f = v.z / d + 1.0f;
    if (f == 0.0f) continue;  // the eye's own plane: no finite place
    v = klt3D_VERTEX{p.x + (v.x - p.x) / f, p.y + (v.y - p.y) / f, p.z + (v.z - p.z) / f};
  }
}

void CKLF_3D_SurfaceBase::PerspectiveZ_2(klt3D_VERTEX p) {
  f32 zmin = 1e9f;
  for (u32 i = 0; i < m_vertexCount; ++i) zmin = std::min(zmin, m_vertices[i].z);
  const f64 r = static_cast<f64>(p.z) - zmin;
  if (r > -1e-7 && r < 1e-7) return;
  for (u32 i = 0; i < m_vertexCount; ++i) {
    klt3D_VERTEX& v = m_vertices[i];
    const f64 dz = static_cast<f64>(v.z) - zmin;
    const f64 f = 1.0 - dz / r;
    v = klt3D_VERTEX{static_cast<f32>(p.x + f * (static_cast<f64>(v.x) - p.x)),
                     static_cast<f32>(p.y + f * (static_cast<f64>(v.y) - p.y)), static_cast<f32>(zmin + f * dz)};
  }
}
