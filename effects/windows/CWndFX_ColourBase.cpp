#include "CWndFX_ColourBase.h"

#include "CFXValues.h"

CWndFX_ColourBase::CWndFX_ColourBase(const char* name, u8 effect, u8 colourOffset)
    : CWndFX_Base(name, effect),
      m_colour(ResName("_AColor"), ResName("_Color1"), ResName("_Color2"), colourOffset),
      m_offset(colourOffset) {}

CWndFX_ColourBase::~CWndFX_ColourBase() {}

u8 CWndFX_ColourBase::OnCreateControls() {
  return m_colour.AddControls(*this) && CWndFX_Base::OnCreateControls() && m_colour.AddLayers(*this) ? 1 : 0;
}

u32 CWndFX_ColourBase::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (!IsCreated()) return 0;
  return CWndFX_Base::OnCtrlMessage(msg, id, name, type, data) || m_colour.OnMessage(id, type) ? 1 : 0;
}

u8 CWndFX_ColourBase::OnLMouseDown(i16 x, i16 y, u8) { return IsCreated() ? m_colour.OnMouseDown(x, y) : 0; }

void CWndFX_ColourBase::PreviewColour(const u8* record, u8 rgb[3]) const {
  CFXValues::RenderColour(record + m_offset, GetColorKind(), rgb);
}
