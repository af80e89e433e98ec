// Private to the shadow code: the texel walk that shadow maps and
// background shadows share, and the light-space index of the occluders.
#pragma once

#include "CKLF_3D_SurfaceBase.h"

// One texel-walk shadow: the plane it darkens and where its samples go.
struct KLF_3D_TexelShadowJob {
  u8* plane;  // light level, 255 = lit; w x h at stride
  u32 stride, w, h;
  u8 shift;   // 2^shift samples a texel side
  f32* dist;  // soft modes: occluder distance per texel (w x h), else null
  // The background quad whose texels are walked; null: the mesh's own
  // triangles, each shadowed by the others.
  const CKLF_3D_SurfaceBase* quad;
  const u8* opacity;  // occluder opacity over the mapping space
  u32 opStride, opW, opH;
  // Asked after each walked triangle with the walked count; false cancels.
  bool (*afterTriangle)(void* ctx, u32 walked, u32 total);
  void* ctx;
  u8 cancelled;
};

// The turn that carries direction d onto +z.
klt3D_VECTOR klShadowTurn(const klt3D_VECTOR& d);

// A job darkening plane (w x h at stride) behind occluders of the given
// opacity plane, one sample a texel, no distances, the mesh's own texels.
inline KLF_3D_TexelShadowJob klTexelShadowJob(u8* plane, u32 stride, u32 w, u32 h, const u8* opacity, u32 opStride,
                                              u32 opW, u32 opH) {
  KLF_3D_TexelShadowJob job = {};
  job.plane = plane, job.stride = stride, job.w = w, job.h = h;
  job.opacity = opacity, job.opStride = opStride, job.opW = opW, job.opH = opH;
  return job;
}

// The occluders' light-space boxes on a grid, so that a target meets only
// the triangles near it. Candidates come out in triangle order and are
// exactly the triangles the full search would keep that can cover a point
// of the target: a triangle whose box misses the target's cannot.
class KLF_3D_TriangleIndex : public CKLF_FrameWork {
 public:
  struct Box {
    f32 x0, y0, x1, y1, z0;
  };

  // Error 17 when the tables cannot be had.
  u8 Build(const CKLF_3D_SurfaceBase& mesh);
  // Triangles other than `exclude` whose nearest corner is not behind the
  // target's farthest and whose light-space shadow meets the target's, in
  // triangle order, into out (room for the triangle count).
  u32 Candidates(const klt3D_VERTEX* const* p, u32 exclude, u32* out);
  const Box& BoxOf(u32 j) const { return m_box[j]; }

 private:
  const CKLF_3D_SurfaceBase* m_mesh = nullptr;
  CKLF_Mem m_boxMem, m_cellMem, m_entryMem, m_largeMem, m_stampMem;
  Box* m_box = nullptr;
  u32 m_grid = 1;  // cells a side
  f32 m_x0 = 0, m_y0 = 0, m_cellW = 1, m_cellH = 1;
  u32 m_largeCount = 0;
  u32 m_query = 0;
  bool CellRange(const Box& b, u32& cx0, u32& cy0, u32& cx1, u32& cy1) const;
};
