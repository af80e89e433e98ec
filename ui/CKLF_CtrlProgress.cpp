#include "CKLF_CtrlProgress.h"

#include <algorithm>
#include <cmath>

CKLF_CtrlProgress::CKLF_CtrlProgress() : m_renderRect(klNullRect), m_min(0), m_max(100), m_value(50) {
  m_type = klCtrlProgress;
}

CKLF_CtrlProgress::~CKLF_CtrlProgress() { RemoveLayer(m_layer); }

u8 CKLF_CtrlProgress::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  if (!CKLF_Control::Init(window, id, name, storage)) return 0;
  const CKLF_String folder = CKLF_String(KLF_ControlFolder(klCtrlProgress)) + name;
  CKLF_UIResources res = Resources();
  if (!m_normal.Load(res, folder + ">Normal") || !m_ramp.Load(res, folder + ">Data"))
    return FailLookup(res, klErrUIResource);
  m_renderRect = m_normal.GetRect();
  if (!m_layer.Create(m_renderRect, 2)) return FailFrom(m_layer, klErrNoMemory);
  if (!AddLayer(m_layer)) return 0;
  m_created = 1;
  m_value = 50;
  Draw();
  return 1;
}

u32 CKLF_CtrlProgress::i_Fraction(double scale) const {
  if (m_max == m_min) return 0;
  const double f = (m_value - m_min) / (m_max - m_min) * scale;
  return f > 0 ? static_cast<u32>(std::min(f, scale)) : 0;  // NaN and below 0 give 0
}

void CKLF_CtrlProgress::Draw() {
  if (!m_created) return;
  m_normal.CopyTo(m_layer);
  const u32 level = i_Fraction(255);
  const kltRECT_s l = m_layer.GetRect(), r = m_ramp.GetRect();
  const i32 w = l.right - l.left, rw = r.right - r.left;
  u8* alpha = m_layer.GetMemObj()->GetPtr() + 3ull * w * (l.bottom - l.top);
  for (i32 y = std::max(l.top, r.top); y < std::min(l.bottom, r.bottom); ++y)
    for (i32 x = std::max(l.left, r.left); x < std::min(l.right, r.right); ++x)
      if (level < m_ramp.GetData()[(y - r.top) * rw + (x - r.left)]) alpha[(y - l.top) * w + (x - l.left)] = 0;
  Redraw();
}

void CKLF_CtrlProgress::Redraw() {
  if (m_created) RenderAndUpdate(m_renderRect);
}

void CKLF_CtrlProgress::SetValue(double value) {
  m_value = value;
  Draw();
  u32 percent = i_Fraction(100);
  SendMessage(klMsgValueSet, &percent);
}
