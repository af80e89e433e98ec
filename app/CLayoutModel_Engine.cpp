// The layout handed to the puzzle engine for cutting and applying.
#include "CLayoutModel.h"
#include "CTessarette.h"

namespace {

// A hidden knife does not cut; the rest of its record stays as sized.
void PutKnife(const CLayoutModel::KNIFESTRUCT& k, CTessarette::KNIFESTRUCT_RENDERER& out) {
  if (k.hidden) {
    out.count = -1;
    return;
  }
  f64 u[CLayoutModel::kMaxPoints], h[CLayoutModel::kMaxPoints], s[CLayoutModel::kMaxPoints];
  u32 n = CLayoutModel::GetEffectivePoints(k, u, h, s);
  out.thickness = k.thickness;
  out.count = static_cast<i32>(n);
  for (u32 j = 0; j < n; ++j) {
    out.position[j] = static_cast<f32>(u[j]);
    out.offset[j] = static_cast<f32>(h[j]);
    out.smoothness[j] = static_cast<f32>(s[j]);
  }
}

}  // namespace

u8 CLayoutModel::engine_PutLayoutToPuzzleEngine(CTessarette& e) {
  if (!e.Init(verticalLineCount + 1u, horizontalLineCount + 1u, xKnifeCount))
    return FailFrom(e, klErrNoMemory);
  for (u32 i = 0; i < verticalLineCount; ++i) e.m_vPos[i] = verticalLines[i];
  for (u32 i = 0; i < horizontalLineCount; ++i) e.m_hPos[i] = horizontalLines[i];
  if (e.m_knotCount != knotCount) return Fail(klErrBadArg);
  for (u32 i = 0; i < knotCount; ++i) {
    e.m_knots[i].dx = knots[i].dx;
    e.m_knots[i].dy = knots[i].dy;
  }
  if (e.m_hKnifeCount != hKnifeCount || e.m_vKnifeCount != vKnifeCount || e.m_xKnifeCount != xKnifeCount)
    return Fail(klErrBadArg);
  for (u32 i = 0; i < hKnifeCount; ++i) PutKnife(hKnives[i], e.m_hKnives[i]);
  for (u32 i = 0; i < vKnifeCount; ++i) PutKnife(vKnives[i], e.m_vKnives[i]);
  for (u32 i = 0; i < xKnifeCount; ++i) {
    PutKnife(xKnives[i], e.m_xKnives[i].knife);
    if (xKnives[i].hidden) continue;
    e.m_xKnives[i].firstKnot = xKnives[i].knotA;
    e.m_xKnives[i].secondKnot = xKnives[i].knotB;
  }
  e.m_thinKnife = thinKnives ? 1 : 0;
  e.m_antiAlias = antiAliasing ? 1 : 0;
  ResetError();
  return 1;
}
