#include "CExportKnives.h"

#include <cerrno>
#include <string>
#include <vector>

#include "CExportRun.h"
#include "CKLF_2DMath.h"
#include "CKLF_PostScriptGenerator.h"
#include "CKLP_ReplaceFile.h"
#include "CLayoutModel.h"
#include "CTessarette.h"

namespace {

kltFPOS Lerp(kltFPOS a, kltFPOS b, f64 t) { return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)}; }

}  // namespace

u8 CExportKnives::KnifePath(const CTessarette& engine, u32 index, i32 width, i32 height, CKLF_Mem& points,
                           CKLF_Mem& controls, u32& n, u32& controlCount) {
  n = controlCount = 0;
  const CTessarette::KNIFESTRUCT_RENDERER* knife = nullptr;
  kltFPOS a, b;
  engine.i_KnifeAt(index, width, height, knife, a, b);
  if (!knife || knife->count < 0) return 1;
  const u32 inner = knife->count > 64 ? 64u : static_cast<u32>(knife->count);
  if (!points.alloc((inner + 2) * static_cast<u32>(sizeof(kltFPOS)))) return 0;
  kltFPOS* p = reinterpret_cast<kltFPOS*>(points.GetPtr());
  CKLF_2DMath math;
  CKLF_2DMath::KLSPLINEPOINT knots[66] = {};
  knots[0] = {a.x, a.y, 0.0f, 0};
  for (u32 i = 0; i < inner; ++i) {
    kltFPOS q = a;  // a knife of no length has its knots at its end, as the cut lays it
    if (!math.HU2Coors(a, b, knife->offset[i], knife->position[i], q)) q = a;
    knots[i + 1] = {q.x, q.y, knife->smoothness[i], 0};
  }
  knots[inner + 1] = {b.x, b.y, 0.0f, 0};
  n = inner + 2;
  for (u32 i = 0; i < n; ++i) p[i] = {knots[i].x, knots[i].y};
  if (inner == 0) return 1;
  if (!math.CalcBezierPointSpline(knots, n, &controls, controlCount)) return 0;
  // The cut samples its first and last spans as quadratic curves through
  // the inner control point: the same curves as cubics.
  kltFPOS* c = reinterpret_cast<kltFPOS*>(controls.GetPtr());
  const kltFPOS q0 = c[1], q1 = c[2 * (n - 2)];
  c[0] = Lerp(p[0], q0, 2.0 / 3.0);
  c[1] = Lerp(p[1], q0, 2.0 / 3.0);
  c[2 * (n - 2)] = Lerp(p[n - 2], q1, 2.0 / 3.0);
  c[2 * (n - 2) + 1] = Lerp(p[n - 1], q1, 2.0 / 3.0);
  return 1;
}

u8 CExportKnives::ExportKnives(const CExportLMDialogModel::SETTINGS& s, const char* path) {
  ResetError();
  m_exported = 0;
  m_written.Clear();
  m_reason.Clear();
  if (!path || !*path) return Fail(klErrBadArg);
  CTessarette engine;
  if (!m_layout.engine_PutLayoutToPuzzleEngine(engine)) return FailFrom(m_layout, klErrNoMemory);
  const i32 w = static_cast<i32>(m_layout.imageWidth), h = static_cast<i32>(m_layout.imageHeight);
  const f64 down = m_doc.verticalResolution > 0 ? m_doc.verticalResolution : m_doc.resolution;
  const f64 scaleX = m_doc.resolution > 0 ? 72.0 / m_doc.resolution : 1.0, scaleY = down > 0 ? 72.0 / down : 1.0;
  CKLF_PostScriptGenerator ps;
  CKLF_Mem points, controls;
  for (u32 i = 0; i < m_layout.TotalKnifeCount(); ++i) {
    const CLayoutModel::KNIFESTRUCT& k = *m_layout.NthKnife(i);
    if (k.hidden || (s.what == CExportLMDialogModel::kSelected && !k.selected)) continue;
    u32 n = 0, nc = 0;
    if (!KnifePath(engine, i, w, h, points, controls, n, nc)) return Fail(klErrNoMemory);
    if (n < 2) continue;
    kltFPOS* p = reinterpret_cast<kltFPOS*>(points.GetPtr());
    kltFPOS* c = nc ? reinterpret_cast<kltFPOS*>(controls.GetPtr()) : nullptr;
    auto place = [&](kltFPOS& q) { q = {(q.x + m_doc.originX) * scaleX, (q.y + m_doc.originY) * scaleY}; };
    for (u32 j = 0; j < n; ++j) place(p[j]);
    for (u32 j = 0; j < nc; ++j) place(c[j]);
    const u8 added = s.to == CExportLMDialogModel::kToAI ? ps.AI_AddPath(p, c, n) : ps.EPS_AddPath(p, c, n);
    if (!added) return FailFrom(ps, klErrNoMemory);
    ++m_exported;
  }
  if (m_exported == 0) return Fail(klErrEmpty);
  CKLF_String text;
  if (!(s.to == CExportLMDialogModel::kToAI ? ps.AI_GetData(&text) : ps.EPS_GetData(&text)))
    return FailFrom(ps, klErrNoMemory);
  CKLF_String target;
  std::string reason;
  u8 written = 0;
  try {
    // Named before it is placed: once placed, nothing is left to fail.
    if (!CExportRun::SafePath(path, target) || (m_written = target).IsError())
      return m_written.Clear(), Fail(klErrNoMemory);
    const u8* bytes = reinterpret_cast<const u8*>(text.GetStr());
    written = CKLP_ReplaceFile::WriteAll(target.GetStr(), std::vector<u8>(bytes, bytes + text.GetLength()), reason);
    if (!written && errno == ENOMEM) return m_written.Clear(), Fail(klErrNoMemory);
  } catch (...) {  // an allocation of the name or of the bytes' copy
    return m_written.Clear(), Fail(klErrNoMemory);
  }
  if (!written) {
    m_written.Clear();
    return Fail((m_reason = reason.c_str()).IsError() ? klErrNoMemory : klErrFileWrite);
  }
  return 1;
}
