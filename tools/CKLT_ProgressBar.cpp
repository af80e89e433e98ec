#include "CKLT_ProgressBar.h"

void CKLT_ProgressBar::SetOutput(FILE* out, bool terminal) {
  m_out = out;
  m_terminal = terminal;
  m_shown = -1;
}

void CKLT_ProgressBar::Show(int32_t done, int32_t total) {
  if (!m_out || total <= 0) return;
  int pct = static_cast<int>(static_cast<int64_t>(done) * 100 / total);
  pct = pct < 0 ? 0 : pct > 100 ? 100 : pct;
  if (!m_terminal) {
    if (pct / 25 == 0 || pct / 25 * 25 <= m_shown) return;
    m_shown = pct / 25 * 25;
    std::fprintf(m_out, "tessarette-host: %d%%\n", pct);
    std::fflush(m_out);
    return;
  }
  if (pct <= m_shown) return;
  m_shown = pct;
  char bar[41];
  const int fill = pct * 40 / 100;
  for (int i = 0; i < 40; ++i) bar[i] = i < fill ? '#' : '.';
  bar[40] = 0;
  std::fprintf(m_out, "\r[%s] %3d%%", bar, pct);
  std::fflush(m_out);
}

void CKLT_ProgressBar::End() {
  if (m_out && m_terminal && m_shown >= 0) std::fprintf(m_out, "\n");
  m_shown = -1;
}
