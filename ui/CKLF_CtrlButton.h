// The push controls, drawn wholly from state pictures of the UI store and
// hit-tested against a mask (">Data"): the button (type 5,
// "UIResources>Buttons>" + name) sends 0x110 on a click, can repeat while
// held (periodic mode: after 500 ms, every 50 ms) or report its press at
// once (menu mode). The check box and the radio button derive from it.
//
// Click data: a pointer to the u32 modifier bits of the mouse event; a
// repeat tick carries the modifiers held at that moment.
#pragma once

#include "CKLF_Control.h"
#include "CKLF_CtrlPicture.h"

// One state of a push control: the pictures it tries in order and whether
// a fallback is drawn at the disabled opacity.
struct KLF_BUTTONSTATE {
  u8 state;
  i8 chain[3];
  u8 disabled;
};

// The pictures of a kind of push control and how its states show them.
struct KLF_BUTTONKIND {
  u8 type;
  const char* const* keys;  // sub-keys, in picture order
  u8 pictures;
  const KLF_BUTTONSTATE* states;
  u8 stateCount;
  u8 defaultState;  // the first state, and the look of any unknown state
  i8 required[2];   // pictures that must exist (-1 = none)
};

class CKLF_CtrlButton : public CKLF_Control {
 public:
  CKLF_CtrlButton();
  ~CKLF_CtrlButton() override;

  [[nodiscard]] u8 Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) override;
  void Enable(u8 on) override;
  void Redraw() override;
  kltRECT_s GetRenderRect() override { return m_renderRect; }
  void OnTimer(u16 kind) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  // Inside the mask.
  u8 PtAboveControl(i16 x, i16 y) override;

  // Shows a state's picture (the kind's state numbers); the same state
  // again only sets the opacity.
  void SetState(u8 state);
  u8 GetState() const { return m_state; }
  void SetPeriodicMode(u8 on) { m_periodic = on; }
  u8 GetPeriodicMode() const { return m_periodic; }
  void SetMenuMode(u8 on) { m_menu = on; }
  u8 GetMenuMode() const { return m_menu; }

 protected:
  enum : u8 { klLookNormal, klLookHighlighted, klLookPressed, klLookPressedOut, klLookDisabled };
  static constexpr u8 kMaxPictures = 10;

  explicit CKLF_CtrlButton(const KLF_BUTTONKIND* kind);
  // The kind's state for a look.
  virtual u8 i_StateOf(u8 look);
  // Whether the mouse over the control highlights it.
  virtual u8 i_Hovers() { return 1; }
  // A press released over the control.
  virtual void i_Clicked(u8 mods);
  // The look for the mouse at (x, y), the hover check started or stopped.
  void i_Track(i16 x, i16 y);
  void i_Look(u8 look) { SetState(i_StateOf(look)); }
  void i_TrackMouse();
  const CKLF_CtrlPicture* i_Pick(u8 state, u8& dimmed) const;

  const KLF_BUTTONKIND* m_kind;
  CKLF_CtrlPicture m_pictures[kMaxPictures];
  CKLF_Mem m_maskMem;
  const u8* m_mask;
  kltRECT_s m_maskRect;
  CKLF_Layer m_layer;
  kltRECT_s m_renderRect;
  u8 m_state;
  u8 m_pressed;
  u8 m_periodic;
  u8 m_menu;
};
