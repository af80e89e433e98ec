// A text control (type 3) from "UIResources>Static Texts>" + name: its
// normal or disabled picture is the paint and the glyphs of the text cut it
// out (the picture's colours under the glyph coverage); the disabled state
// without its picture shows the normal one at the disabled opacity. Nothing
// shows until a font is set. SetText and SetFont redraw the text layer; the
// window shows it at the next Redraw. A flowing text (a status line's tips)
// is laid out again to the control's width; measuring it costs a pass over
// the text a word.
#pragma once

#include "CKLF_Control.h"
#include "CKLF_CtrlPicture.h"
#include "CKLF_TextLayer.h"

class CKLF_CtrlStaticText : public CKLF_Control {
 public:
  CKLF_CtrlStaticText();
  ~CKLF_CtrlStaticText() override;

  [[nodiscard]] u8 Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) override;
  void Enable(u8 on) override;
  void Redraw() override;
  kltRECT_s GetRenderRect() override { return m_created ? m_layer.GetRect() : klNullRect; }

  // 1 normal or 8 disabled.
  void SetState(u8 state);
  void SetFont(CKLF_Font* font);
  // A null text changes nothing.
  void SetText(const char* text, i16 offX, i16 offY, u16 lineHeight);
  void SetText(const char* text);
  const CKLF_String& GetText() const { return m_text; }
  // Flowing: the text's line feeds become spaces and its lines break
  // between words so that none is wider than the control beyond the x
  // offset (a longer word keeps a line of its own); leading blanks stay. A
  // text with tabs keeps its lines. Off by default.
  void SetFlow(u8 on);
  // The text as it is drawn: the one given, or its flowed lines; and
  // whether all of it lies inside the control (0 without a font).
  const CKLF_String& GetShownText() const { return m_shown; }
  u8 TextFits();
  void RemoveAllTabs() { m_layer.RemoveAllTabs(); }
  [[nodiscard]] u8 AddTab(u16 x) { return m_layer.AddTab(x); }
  u32 GetTabsCount() const { return m_layer.GetTabsCount(); }
  void SetOpacity(u8 opacity);
  u8 GetOpacity() const { return m_layer.GetOpacity(); }
  CKLF_TextLayer* GetTextLayer() { return &m_layer; }

 private:
  void i_DrawText();
  void i_Flow();

  CKLF_StatePictures m_pictures;  // normal and disabled
  CKLF_TextLayer m_layer;
  kltRECT_s m_renderRect;
  u8 m_state;
  CKLF_String m_text;
  CKLF_String m_shown;
  u8 m_flow;
  i16 m_offX;
  i16 m_offY;
  u16 m_lineHeight;
};
