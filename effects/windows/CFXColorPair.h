// The colour of an effect record as value 1 and value 2 show it: two
// swatches (a static image with a rectangle of the same name, on which a
// layer shows the colour) and an "A" box that takes the colour's eight
// bytes into the spread, byte by byte. A click on an enabled swatch opens
// the host's colour picker on that value's colour; the mode follows the
// swatch whether the user picks a colour or cancels.
//
// While the spread is off, swatch 1 alone is shown and enabled; while it is
// on, both are when the "A" box is checked and neither when not. Disabled
// swatch images show at opacity 50. Cost: a redraw fills two small layers.
#pragma once

#include "CFXSpread.h"
#include "CKLF_CtrlCheckBox.h"
#include "CKLF_CtrlStaticImage.h"
#include "CKLF_Layer.h"
#include "CKLF_String.h"

class CWndFX_Base;

class CFXColorPair {
 public:
  // The names of the "A" box and the two swatches, and the offset of the
  // colour in the effect record.
  CFXColorPair(const CKLF_String& box, const CKLF_String& swatch1, const CKLF_String& swatch2, u8 offset);
  ~CFXColorPair();
  CFXColorPair(const CFXColorPair&) = delete;
  CFXColorPair& operator=(const CFXColorPair&) = delete;

  // The "A" box and the two swatch images; then the swatches' layers on
  // their rectangles. 0 when a resource is missing.
  u8 AddControls(CWndFX_Base& w);
  u8 AddLayers(CWndFX_Base& w);

  // The "A" box's message; 1 when it was its.
  u8 OnMessage(u32 id, u8 type);
  // A press at a window point: 1 when it was on an enabled swatch.
  u8 OnMouseDown(i16 x, i16 y);
  // The swatches after the spread was switched on or off.
  void EnableSpread(u8 on);
  // The swatches' layers from value 1's and value 2's colours.
  void Redraw();
  // The colour's eight bytes as fields of the spread; their count.
  u32 Fields(CFXSpread::FIELDSTATE* out, u32 room) const;

  // The host's colour picker on an eight-byte colour record of the window's
  // values, starting from the colour its swatch shows: 1 when the user
  // chose a colour (all eight bytes are then the picker's), 0 when
  // cancelled or there is no picker.
  static u8 Pick(CWndFX_Base& w, u8* colour);
  // A swatch layer filled with a colour as the document shows it, opaque,
  // and put on screen.
  static void Fill(CWndFX_Base& w, CKLF_Layer& layer, kltRECT_s rect, const u8* colour);

  CKLF_CtrlCheckBox* Box() const { return m_box; }
  CKLF_CtrlStaticImage* Swatch(u8 which) const { return m_swatch[which ? 1 : 0]; }
  CKLF_Layer& SwatchLayer(u8 which) { return m_layer[which ? 1 : 0]; }
  kltRECT_s SwatchRect(u8 which) const { return m_rect[which ? 1 : 0]; }

 private:
  void i_OnBox(u8 checked);
  void i_ShowEnabled();

  CWndFX_Base* m_window;
  CKLF_String m_boxName;
  CKLF_String m_names[2];
  u8 m_offset;
  CKLF_CtrlCheckBox* m_box;
  u32 m_boxId;
  CKLF_CtrlStaticImage* m_swatch[2];
  kltRECT_s m_rect[2];
  CKLF_Layer m_layer[2];
};
