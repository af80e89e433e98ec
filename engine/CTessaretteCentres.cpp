#include "CTessaretteCentres.h"

#include <cmath>

u8 CTessaretteCentres::Build(const kltFPOS* centres, u32 count) {
  m_centres = centres;
  m_count = 0;
  if (!centres || count == 0) return 1;
  f64 x0 = centres[0].x, y0 = centres[0].y, x1 = x0, y1 = y0;
  for (u32 i = 1; i < count; ++i) {
    x0 = std::fmin(x0, centres[i].x), x1 = std::fmax(x1, centres[i].x);
    y0 = std::fmin(y0, centres[i].y), y1 = std::fmax(y1, centres[i].y);
  }
  const f64 side = std::ceil(std::sqrt(static_cast<f64>(count)));
  const f64 extent = std::fmax(x1 - x0, y1 - y0);
  m_size = extent > 0 ? extent / side : 1.0;
  m_x0 = x0, m_y0 = y0;
  m_cols = static_cast<i32>((x1 - x0) / m_size) + 1;
  m_rows = static_cast<i32>((y1 - y0) / m_size) + 1;
  const u64 buckets = static_cast<u64>(m_cols) * static_cast<u64>(m_rows);
  if (!klFits32((buckets + 1) * 4) || !m_start.alloc(static_cast<u32>((buckets + 1) * 4)) ||
      !m_order.alloc(count * 4u))
    return 0;
  u32* start = reinterpret_cast<u32*>(m_start.GetPtr());
  u32* order = reinterpret_cast<u32*>(m_order.GetPtr());
  for (u64 b = 0; b <= buckets; ++b) start[b] = 0;
  auto bucket = [&](u32 i) {
    return static_cast<u64>(i_Cell(centres[i].y, m_y0, m_rows)) * m_cols + i_Cell(centres[i].x, m_x0, m_cols);
  };
  for (u32 i = 0; i < count; ++i) start[bucket(i) + 1]++;
  for (u64 b = 0; b < buckets; ++b) start[b + 1] += start[b];
  // Centres in increasing index within a bucket; start[b] ends as the
  // bucket's end, so the counts are taken back afterwards.
  for (u32 i = 0; i < count; ++i) order[start[bucket(i)]++] = i;
  for (u64 b = buckets; b > 0; --b) start[b] = start[b - 1];
  start[0] = 0;
  m_count = count;
  return 1;
}

i32 CTessaretteCentres::i_Cell(f64 v, f64 origin, i32 cells) const {
  const f64 c = std::floor((v - origin) / m_size);
  return c < 0 ? 0 : (c >= cells ? cells - 1 : static_cast<i32>(c));
}

i64 CTessaretteCentres::Nearest(f64 x, f64 y) const {
  if (m_count == 0) return -1;
  const u32* start = reinterpret_cast<const u32*>(m_start.GetPtr());
  const u32* order = reinterpret_cast<const u32*>(m_order.GetPtr());
  const i32 qx = i_Cell(x, m_x0, m_cols), qy = i_Cell(y, m_y0, m_rows);
  f64 best = 0;
  i64 found = -1;
  for (i32 k = 0;; ++k) {
    if (k > 0 && found >= 0) {
      // Centres of ring k lie outside the box of the rings inside it.
      const f64 left = x - (m_x0 + (qx - k + 1) * m_size), right = m_x0 + (qx + k) * m_size - x;
      const f64 top = y - (m_y0 + (qy - k + 1) * m_size), bottom = m_y0 + (qy + k) * m_size - y;
      const f64 lb = std::fmin(std::fmin(left, right), std::fmin(top, bottom)) * (1.0 - 1e-9);
      if (lb > 0 && lb * lb > best) return found;
    }
    const i32 ya = qy - k < 0 ? 0 : qy - k, yb = qy + k >= m_rows ? m_rows - 1 : qy + k;
    const i32 xa = qx - k < 0 ? 0 : qx - k, xb = qx + k >= m_cols ? m_cols - 1 : qx + k;
    for (i32 by = ya; by <= yb; ++by)
      for (i32 bx = xa; bx <= xb; ++bx) {
        if (by != qy - k && by != qy + k && bx != qx - k && bx != qx + k) continue;  // inner rings: done
        const u64 b = static_cast<u64>(by) * m_cols + bx;
        for (u32 j = start[b]; j < start[b + 1]; ++j) {
          const u32 i = order[j];
          const f64 dx = m_centres[i].x - x, dy = m_centres[i].y - y;
          const f64 d = dx * dx + dy * dy;
          if (found < 0 || d < best || (d == best && i < found)) best = d, found = i;
        }
      }
    if (qx - k <= 0 && qy - k <= 0 && qx + k >= m_cols - 1 && qy + k >= m_rows - 1) return found;
  }
}
