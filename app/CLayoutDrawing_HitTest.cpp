// The hit tests of the layout drawing: knives under a point.
#include "CKLF_Array.h"
#include "CLayoutDrawing.h"

u8 CLayoutDrawing::i_spl_XYInKnife(const KNIFESTRUCT* k, i32 x, i32 y) {
  if (!k || !k->polyline || k->polylineCount < 2) return 0;
  f64 reach = m.thinKnives ? 0.0 : i_Width(*k) * 0.5;
  if (reach < kMinReach) reach = kMinReach;
  const f64 px = x, py = y, r2 = reach * reach;
  if (px < k->polylineMin.x - reach || px > k->polylineMax.x + reach || py < k->polylineMin.y - reach ||
      py > k->polylineMax.y + reach)
    return 0;
  const kltFPOS* pts = reinterpret_cast<const kltFPOS*>(k->polyline->GetPtr());
  const u32 n = k->polylineCount;
  for (u32 i = 0; i < n; ++i) {
    const f64 dx = pts[i].x - px, dy = pts[i].y - py;
    if (dx * dx + dy * dy <= r2) return 1;
  }
  for (u32 i = 0; i + 1 < n; ++i) {
    const kltFPOS a = pts[i], b = pts[i + 1];
    // Segments whose box (grown by the reach) misses the point.
    if ((px < a.x - reach && px < b.x - reach) || (px > a.x + reach && px > b.x + reach) ||
        (py < a.y - reach && py < b.y - reach) || (py > a.y + reach && py > b.y + reach))
      continue;
    f64 dist, t;
    if (math.PointToLineDistance(a.x, a.y, b.x, b.y, px, py, dist, t) && dist <= reach) return 1;
  }
  return 0;
}

u8 CLayoutDrawing::spl_GetKnifeByXY(i32 x, i32 y, CKLF_DWordArray* ids) {
  if (!ids) return 0;
  ids->Empty();
  ResetError();
  u8 listed = 1;
  for (u32 i = 0; i < m.vKnifeCount; ++i)
    if (i_spl_XYInKnife(&m.vKnives[i], x, y)) listed = listed && ids->Add(i) >= 0;
  for (u32 i = 0; i < m.hKnifeCount; ++i)
    if (i_spl_XYInKnife(&m.hKnives[i], x, y)) listed = listed && ids->Add(CLayoutModel::kHorizontalIdBase + i) >= 0;
  for (u32 i = 0; i < m.xKnifeCount; ++i)
    if (i_spl_XYInKnife(&m.xKnives[i], x, y)) listed = listed && ids->Add(CLayoutModel::kExtraIdBase + i) >= 0;
  if (!listed) {
    ids->Empty();
    return FailFrom(*ids, klErrNoMemory);
  }
  return ids->GetSize() > 0 ? 1 : 0;
}

f64 CLayoutDrawing::RulerOffsetToPosition(u8 vertical, i32 offset) const {
  const f64 size = vertical ? AreaWidth() : AreaHeight();
  if (size <= 0) return -1.0;
  return (static_cast<i16>(offset) + static_cast<f64>(vertical ? originX : originY)) / size;
}
