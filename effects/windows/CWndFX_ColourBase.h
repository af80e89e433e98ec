// The base of the effect windows whose record holds a colour of both
// values (colour overlay, stroke): the colour pair's swatches and "A" box
// beside the window's parameter sets, its part of the spread, and the
// colour the sample preview renders with.
#pragma once

#include "CFXColorPair.h"
#include "CWndFX_Base.h"

class CWndFX_ColourBase : public CWndFX_Base {
 public:
  // colourOffset: the eight colour bytes' place in the effect record.
  CWndFX_ColourBase(const char* name, u8 effect, u8 colourOffset);
  ~CWndFX_ColourBase() override;

  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  // A press on an enabled swatch opens the colour picker.
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  CFXColorPair& Colours() { return m_colour; }

 protected:
  u8 OnCreateControls() override;
  void OnInitValues() override { m_colour.Redraw(); }
  u32 AddSpreadFields(CFXSpread::FIELDSTATE* out, u32 room) override { return m_colour.Fields(out, room); }
  void OnEnableSpread(u8 on) override { m_colour.EnableSpread(on); }
  // The preview record's colour as the renderer takes it.
  void PreviewColour(const u8* record, u8 rgb[3]) const;

 private:
  CFXColorPair m_colour;
  u8 m_offset;
};
