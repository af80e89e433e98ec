#include "CKnifeShapeVector.h"

#include "CKLF_2DMath.h"
#include "CKLF_PostScriptGenerator.h"

namespace {

// The cubic controls of the quadratic span a-q-b (q taken by value: it may
// be one of the outputs).
void RaiseQuadratic(kltFPOS a, kltFPOS q, kltFPOS b, kltFPOS& c1, kltFPOS& c2) {
  c1 = {a.x + 2.0 / 3.0 * (q.x - a.x), a.y + 2.0 / 3.0 * (q.y - a.y)};
  c2 = {b.x + 2.0 / 3.0 * (q.x - b.x), b.y + 2.0 / 3.0 * (q.y - b.y)};
}

}  // namespace

u8 CKnifeShapeVector::Make(const SHAPE& shape, u8 ai, CKLF_String& out) {
  const u32 n = shape.nodeCount > CCutterServices::kMaxNodes ? CCutterServices::kMaxNodes : shape.nodeCount;
  const kltFPOS p0 = {0, 0}, p1 = {0, kBaseLength};
  CKLF_2DMath math;
  CKLF_2DMath::KLSPLINEPOINT knots[CCutterServices::kMaxNodes + 2];
  kltFPOS points[CCutterServices::kMaxNodes + 2];
  knots[0] = {p0.x, p0.y, 0.0f, 0};
  for (u32 i = 0; i < n; ++i) {
    kltFPOS p = {0, 0};
    math.HU2Coors(p0, p1, shape.nodes[i].H, shape.nodes[i].U, p);
    knots[i + 1] = {p.x, p.y, static_cast<f32>(shape.S[i]), 0};
  }
  knots[n + 1] = {p1.x, p1.y, 0.0f, 0};
  for (u32 i = 0; i < n + 2; ++i) points[i] = {knots[i].x, knots[i].y};
  // Without nodes the knife is the straight base line.
  CKLF_Mem controls;
  u32 count = 0;
  if (n > 0 && !math.CalcBezierPointSpline(knots, n + 2, &controls, count)) return FailFrom(math, klErrBadArg);
  kltFPOS* c = n > 0 ? reinterpret_cast<kltFPOS*>(controls.GetPtr()) : nullptr;
  // The knives are drawn with quadratic end spans: raised to cubic here.
  if (n > 0) {
    RaiseQuadratic(points[0], c[1], points[1], c[0], c[1]);
    RaiseQuadratic(points[n], c[2 * n], points[n + 1], c[2 * n], c[2 * n + 1]);
  }
  CKLF_PostScriptGenerator ps;
  const u8 ok = ai ? ps.AI_AddPath(points, c, n + 2) && ps.AI_GetData(&out)
                   : ps.EPS_AddPath(points, c, n + 2) && ps.EPS_GetData(&out);
  return ok ? 1 : FailFrom(ps, klErrBadArg);
}

u8 CKnifeShapeVector::Write(CKLF_StdFile* file, const SHAPE& shape, u8 ai) {
  CKLF_String text;
  if (!Make(shape, ai, text)) return 0;
  if (!file || file->Write(text.GetStr(), text.GetLength()) != static_cast<i32>(text.GetLength()))
    return Fail(klErrFileWrite);
  return 1;
}
