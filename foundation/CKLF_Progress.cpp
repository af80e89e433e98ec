#include "CKLF_Progress.h"

namespace {
f64 Clamp100(i32 v) { return v < 0 ? 0.0 : (v > 100 ? 100.0 : static_cast<f64>(v)); }
}  // namespace

void CKLF_SubProgress::SetMasterProgress(CKLF_Progress* master, i32 start, i32 end) {
  m_master = master;
  m_start = Clamp100(start);
  m_end = Clamp100(end);
}

i32 CKLF_SubProgress::Progress(u8 percent, void* data) {
  if (!m_master) return 0;
  f64 v = m_start + (m_end - m_start) * percent / 100.0;
  u8 p = v > 100.0 ? 100 : (v <= 0.0 ? 0 : static_cast<u8>(v));
  return m_master->Progress(p, data);
}
