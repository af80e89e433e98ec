#include "CKLF_CtrlStaticText.h"

#include <cstring>
#include <string>

CKLF_CtrlStaticText::CKLF_CtrlStaticText()
    : m_renderRect(klNullRect), m_state(255), m_flow(0), m_offX(0), m_offY(0), m_lineHeight(15) {
  m_type = klCtrlStaticText;
}

CKLF_CtrlStaticText::~CKLF_CtrlStaticText() { RemoveLayer(m_layer); }

u8 CKLF_CtrlStaticText::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  if (!CKLF_Control::Init(window, id, name, storage)) return 0;
  CKLF_UIResources res = Resources();
  if (!m_pictures.Load(res, CKLF_String(KLF_ControlFolder(klCtrlStaticText)) + name + ">"))
    return FailFrom(res, klErrNoMemory);
  m_renderRect = m_pictures.GetUnion();
  if (klIsNullRect(m_renderRect)) return 1;
  const kltRECT_s& r = m_renderRect;
  if (!m_layer.Create(static_cast<i16>(r.left), static_cast<i16>(r.top), 1, static_cast<u16>(r.right - r.left),
                      static_cast<u16>(r.bottom - r.top)))
    return FailFrom(m_layer, klErrNoMemory);
  if (!AddLayer(m_layer)) return 0;
  m_created = 1;
  SetState(1);
  return 1;
}

// The glyphs replace the alpha plane; without a font nothing shows. A
// text that could not be had or drawn shows nothing and is noted.
void CKLF_CtrlStaticText::i_DrawText() {
  i_Flow();
  if (m_text.IsError() || m_shown.IsError()) NoteFailure(klErrNoMemory);
  if (!m_layer.SetText(m_shown, kltRGBA8{0, 0, 0, 0}, m_lineHeight, m_offX, m_offY)) {
    if (m_layer.GetError() == klErrNoMemory) NoteFailure(klErrNoMemory);
    m_layer.Set(kltRGBA8{0, 0, 0, 0}, 8);
  }
}

u8 CKLF_CtrlStaticText::TextFits() {
  CKLF_Font* font = m_layer.GetFont();
  u32 w = 0, h = 0;
  if (!font || !font->GetTextSize(m_shown, m_lineHeight, w, h)) return 0;
  const kltRECT_s r = m_layer.GetRect();
  return static_cast<i64>(w) + m_offX <= r.right - r.left && static_cast<i64>(h) + m_offY <= r.bottom - r.top ? 1 : 0;
}

void CKLF_CtrlStaticText::SetFlow(u8 on) {
  m_flow = on ? 1 : 0;
  if (m_created) i_DrawText();
}

// Words are taken greedily: a line grows while it fits. Without memory
// the text shown fails (IsError), and nothing shows.
void CKLF_CtrlStaticText::i_Flow() {
  CKLF_Font* font = m_layer.GetFont();
  const char* s = m_text.GetStr();
  if (!m_flow || !font || std::strchr(s, '\t')) {
    (void)(m_shown = m_text);
    return;
  }
  const kltRECT_s r = m_layer.GetRect();
  const i64 room = static_cast<i64>(r.right) - r.left - m_offX;
  u8 failed = 0;
  auto fits = [&](const std::string& line) {
    const CKLF_String text(line.c_str());
    u32 w = 0, h = 0;
    if (text.IsError()) return failed = 1, false;
    return font->GetTextSize(text, m_lineHeight, w, h) && static_cast<i64>(w) <= room;
  };
  std::string line, shown;
  while (*s == ' ') line += *s++;
  u8 empty = 1;  // no word on the line yet
  while (*s) {
    if (*s == ' ' || *s == '\n') {
      ++s;
      continue;
    }
    const char* end = s;
    while (*end && *end != ' ' && *end != '\n') ++end;
    const std::string word(s, end);
    s = end;
    const std::string longer = empty ? line + word : line + " " + word;
    if (empty || fits(longer)) {
      line = longer;
      empty = 0;
      continue;
    }
    shown += line + "\n";
    line = word;
  }
  shown += line;
  if (failed) {
    m_shown.Clear();
    m_shown.SetError(klErrNoMemory);
    return;
  }
  (void)(m_shown = shown.c_str());
}

void CKLF_CtrlStaticText::SetState(u8 state) {
  if (!m_created || (state != 1 && state != 8)) return;
  u8 dimmed = 0;
  const CKLF_CtrlPicture* pic = m_pictures.Pick(state, dimmed);
  if (!ShowPicture(m_layer, pic, dimmed, state == m_state)) return;
  m_state = state;
  i_DrawText();
  Redraw();
}

void CKLF_CtrlStaticText::Enable(u8 on) {
  CKLF_Control::Enable(on);
  SetState(on ? 1 : 8);
}

void CKLF_CtrlStaticText::Redraw() {
  if (m_created) RenderAndUpdate(m_layer.GetRect());
}

void CKLF_CtrlStaticText::SetFont(CKLF_Font* font) {
  if (!m_created) return;
  // The text is drawn again below, where a failure clears the layer.
  (void)m_layer.SetFont(font);
  i_DrawText();
}

void CKLF_CtrlStaticText::SetText(const char* text, i16 offX, i16 offY, u16 lineHeight) {
  if (!text) return;
  m_offX = offX;
  m_offY = offY;
  m_lineHeight = lineHeight;
  SetText(text);
}

// Without memory for it the text fails (IsError) and nothing shows.
void CKLF_CtrlStaticText::SetText(const char* text) {
  if (!text) return;
  (void)(m_text = text);
  if (m_created) i_DrawText();
}

void CKLF_CtrlStaticText::SetOpacity(u8 opacity) {
  m_layer.SetOpacity(opacity);
  Redraw();
}
