#include "CWnd_MessageBox.h"

#include "CKLF_CtrlStaticText.h"

namespace {

// Resource names, in the order of the button ids.
const char* const kButtonNames[] = {"MessageBox_OKl", "MessageBox_OKr", "MessageBox_YESl",
                                    "MessageBox_YESr", "MessageBox_CANCEL", "MessageBox_NO"};
const u16 kLineHeight = 12;

}  // namespace

CWnd_MessageBox::CWnd_MessageBox() : m_listFont(-1), m_messageFont(-1), m_text(-1), m_header(-1), m_left(0), m_right(4) {
  for (i32& b : m_buttons) b = -1;
}

CWnd_MessageBox::~CWnd_MessageBox() {}

u8 CWnd_MessageBox::Init(const char* header, const char* body, u8 leftButton, u8 rightButton) {
  m_left = leftButton;
  m_right = rightButton;
  return !(m_head = header ? header : "").IsError() && !(m_body = body ? body : "").IsError();
}

kltPOS CWnd_MessageBox::CentredTextOrigin(u16 textWidth, u16 textHeight, i32 w, i32 h) {
  if (textWidth == 0 || textHeight == 0) return {3, 0};
  const i32 x = (w - textWidth) >> 1, y = (h - textHeight) >> 1;
  return {x > 3 ? x : 3, y};
}

u8 CWnd_MessageBox::OnCreate(CKLF_LayerSet*, u16, u16) {
  m_messageFont = AddFont("Message Font");
  m_listFont = AddFont("List Font");
  if (m_messageFont < 0 || m_listFont < 0) return 0;
  for (u32 i = 0; i < kButtons; ++i) {
    m_buttons[i] = AddControl(kButtonNames[i], klCtrlButton);
    if (m_buttons[i] < 0) return 0;
    CKLF_Control* b = GetControl(static_cast<u32>(m_buttons[i]));
    b->SetDisabledOpacity(0);
    b->Enable(0);
  }
  const i32 left = m_left == kOK ? m_buttons[kOKl] : m_left == kYes ? m_buttons[kYESl] : -1;
  const i32 right = m_right == kOK    ? m_buttons[kOKr]
                    : m_right == kYes ? m_buttons[kYESr]
                    : m_right == kNo  ? m_buttons[kNO]
                    : m_right == kCancel ? m_buttons[kCANCEL]
                                         : -1;
  for (i32 id : {left, right})
    if (id >= 0) GetControl(static_cast<u32>(id))->Enable(1);
  m_text = AddControl("MessageBox_Text", klCtrlStaticText);
  m_header = AddControl("MessageBox_TextHDR", klCtrlStaticText);
  if (m_text < 0 || m_header < 0) return 0;
  return i_PlaceText(m_header, m_messageFont, m_head) && i_PlaceText(m_text, m_listFont, m_body)
             ? 1
             : 0;
}

u8 CWnd_MessageBox::i_PlaceText(i32 control, i32 font, const CKLF_String& text) {
  auto* c = static_cast<CKLF_CtrlStaticText*>(GetControl(static_cast<u32>(control)));
  CKLF_Font* f = GetFont(static_cast<u32>(font));
  if (!c || !f) return 0;
  c->SetFont(f);
  const kltRECT_s r = c->GetRenderRect();
  u32 w = 0, h = 0;
  const u8 measured = f->GetTextSize(text, kLineHeight, w, h);
  const kltPOS at = measured ? CentredTextOrigin(static_cast<u16>(w > 65535 ? 65535 : w),
                                                 static_cast<u16>(h > 65535 ? 65535 : h), r.right - r.left,
                                                 r.bottom - r.top)
                             : kltPOS{3, 0};
  c->SetText(text.GetStr(), static_cast<i16>(at.x), static_cast<i16>(at.y), kLineHeight);
  return 1;
}

u32 CWnd_MessageBox::OnCtrlMessage(u16, u32 id, const char*, u8 type, void*) {
  if (type != klCtrlButton) return 0;
  for (u32 i = 0; i < kButtons; ++i) {
    if (static_cast<u32>(m_buttons[i]) != id || m_buttons[i] < 0) continue;
    EndModal(i == kCANCEL || i == kNO ? 0 : 1);
    return 1;
  }
  return 0;
}

u8 CWnd_MessageBox::OnKeyDown(u8 key, u8) {
  if (key == klKeyEscape) {
    OnCloseRequest();
    return 1;
  }
  if (key != klKeyReturn) return 0;
  const u8 button = m_left == kOK || m_left == kYes ? m_left : m_right;
  if (button >= kOK && button <= kCancel) EndModal(button == kOK || button == kYes ? 1 : 0);
  return 1;
}

void CWnd_MessageBox::OnCloseRequest() {
  if (m_right == kCancel) EndModal(0);
  else if (m_right == kOK && m_left != kOK && m_left != kYes) EndModal(1);
}
