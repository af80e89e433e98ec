// The status line of the effect windows and of the layer picker: the
// static text control the status fade (CFXStatusFade) works on, and the
// tips the owner's application object gives for the window's controls.
#pragma once

#include "CEffectWindowServices.h"
#include "CFXStatusFade.h"
#include "CKLF_CtrlStaticText.h"

class CFXStatusLine : public CFXStatusFade::Port {
 public:
  CFXStatusLine() : m_text(nullptr) {}

  // The line's control: the font, an empty text 3 pixels in, lines of 12.
  void Attach(CKLF_CtrlStaticText* text, CKLF_Font* font);
  // The owner's tip for a control of a group (the control's name, enabled
  // state and type), or the group's own (an empty name, 1, type 128) for
  // none; empty without an owner.
  static void ControlTip(CEffectWindowServices::Owner* owner, const char* group, const CKLF_Control* c,
                         CKLF_String& tip);

  void SetStatusOpacity(u8 opacity) override;
  void SetStatusText(const CKLF_String& text) override;

 private:
  CKLF_CtrlStaticText* m_text;
};
