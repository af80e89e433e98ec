#include "CKLF_CtrlStaticImage.h"

#include "CKLF_Window.h"

CKLF_CtrlStaticImage::CKLF_CtrlStaticImage() : m_renderRect(klNullRect), m_state(255) { m_type = klCtrlStaticImage; }

CKLF_CtrlStaticImage::~CKLF_CtrlStaticImage() { RemoveLayer(m_layer); }

u8 CKLF_CtrlStaticImage::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  if (!CKLF_Control::Init(window, id, name, storage)) return 0;
  CKLF_UIResources res = Resources();
  if (!m_pictures.Load(res, CKLF_String(KLF_ControlFolder(klCtrlStaticImage)) + name + ">"))
    return FailFrom(res, klErrNoMemory);
  m_renderRect = m_pictures.GetUnion();
  // Without pictures there is nothing to show, which is no failure.
  if (klIsNullRect(m_renderRect)) return 1;
  if (!m_layer.Create(m_renderRect, 2)) return FailFrom(m_layer, klErrNoMemory);
  if (!AddLayer(m_layer)) return 0;
  m_created = 1;
  SetState(1, 0);
  return 1;
}

u8 CKLF_CtrlStaticImage::SetState(u8 state, u8 force) {
  if (state != 1 && state != 8) return Fail(klErrBadArg);
  if (!m_created) return 1;
  u8 dimmed = 0;
  const CKLF_CtrlPicture* pic = m_pictures.Pick(state, dimmed);
  if (!ShowPicture(m_layer, pic, dimmed, state == m_state && !force)) return 1;
  m_state = state;
  Redraw();
  return 1;
}

void CKLF_CtrlStaticImage::Enable(u8 on) {
  CKLF_Control::Enable(on);
  SetState(on ? 1 : 8, 0);
}

void CKLF_CtrlStaticImage::Redraw() {
  if (m_created) RenderAndUpdate(m_layer.GetRect());
}

void CKLF_CtrlStaticImage::SetOpacity(u8 opacity) {
  m_layer.SetOpacity(opacity);
  Redraw();
}

u8* CKLF_CtrlStaticImage::GetStateMemPtr(u8 state, kltRECT_s* rect) {
  if (!m_created || (state != 1 && state != 8)) return nullptr;
  u8 dimmed = 0;
  CKLF_CtrlPicture* pic = m_pictures.Pick(state, dimmed);
  if (pic && rect) *rect = pic->GetRect();
  return pic ? pic->GetData() : nullptr;
}

u8 CKLF_CtrlStaticImage::PtAboveControl(i16 x, i16 y) {
  if (!m_created || (m_state != 1 && m_state != 8)) return 0;
  u8 dimmed = 0;
  const CKLF_CtrlPicture* pic = m_pictures.Pick(m_state, dimmed);
  return pic && pic->Contains(x, y);
}

u32 CKLF_CtrlStaticImage::i_Forward(u16 msg, i32 x, i32 y, const i32* delta) {
  if (!IsForwardingToFocusMaster() || !GetFocusMaster()) return 0;
  i32 data[3] = {x, y, delta ? *delta : 0};
  return SendMessage(msg, data);
}

u8 CKLF_CtrlStaticImage::OnMouseMove(i16 x, i16 y, u8) { return i_Forward(klMsgImageMove, x, y, nullptr) ? 1 : 0; }

u8 CKLF_CtrlStaticImage::OnLMouseDown(i16 x, i16 y, u8) { return i_Forward(klMsgImageDown, x, y, nullptr) ? 1 : 0; }

u8 CKLF_CtrlStaticImage::OnLMouseUp(i16 x, i16 y, u8) { return i_Forward(klMsgImageUp, x, y, nullptr) ? 1 : 0; }

u8 CKLF_CtrlStaticImage::OnMouseWheel(i16 x, i16 y, u8, i16 delta) {
  const i32 d = delta;
  return i_Forward(klMsgImageWheel, x, y, &d) ? 1 : 0;
}
