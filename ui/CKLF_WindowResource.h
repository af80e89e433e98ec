// The pictures a window is made of, read from the UI store under
// "UIResources>Windows>" + name: the background (required; its alpha gives
// the window's outline), the active and inactive captions (the inactive one
// only with an active one), the drag-area mask and the caption's title (a
// string, optional). The window is as large
// as the background's right and bottom plus its left and top, at most
// klMaxWindowSide a side (what a screen can show: a larger one is a damaged
// record, whose layers would take gigabytes), and every picture keeps the
// place its record gives, inside the window. No platform is needed: the
// window builds its layers and its platform shape from this.
#pragma once

#include "CKLF_UIResources.h"

class CKLF_WindowResource : public CKLF_FrameWork {
 public:
  enum : u16 { klMaxWindowSide = 4096 };

  CKLF_WindowResource();
  ~CKLF_WindowResource() override;

  // Error 2 without a store, 192 when the background is missing or
  // malformed (or a present caption is, or lies outside the window), or
  // makes a window wider or taller than klMaxWindowSide, else the layers'
  // errors. A drag area outside the window is no drag area.
  [[nodiscard]] u8 Load(CKLF_Storage* store, const CKLF_String& name);

  u16 GetWidth() const { return m_width; }
  u16 GetHeight() const { return m_height; }
  // RGBA layers at their places in the window.
  CKLF_Layer& GetBackground() { return m_background; }
  CKLF_Layer& GetCaptionActive() { return m_captionActive; }
  CKLF_Layer& GetCaptionInactive() { return m_captionInactive; }
  u8 HasActiveCaption() const { return m_hasActive; }
  u8 HasInactiveCaption() const { return m_hasInactive; }
  u8 HasDragArea() const { return m_dragMask != nullptr; }
  // The title the caption shows; empty when the store gives none.
  const CKLF_String& GetTitle() const { return m_title; }
  kltRECT_s GetDragRect() const { return m_dragRect; }

  // The outline as one bit a pixel over the whole window (most significant
  // bit first, rows of width / 8 + 1 bytes): set where the background's
  // alpha exceeds 128, at the background's place.
  [[nodiscard]] u8 MakeShape(CKLF_Mem& bits, u32& rowBytes);
  // Inside the drag-area mask (a byte above 128 at the window point).
  u8 PtInDragArea(i32 x, i32 y) const;

 private:
  [[nodiscard]] u8 i_LoadPicture(CKLF_UIResources& res, const CKLF_String& key, CKLF_Layer& layer);
  [[nodiscard]] u8 i_LoadCaptions(CKLF_Storage* store, const CKLF_String& base, CKLF_UIResources& res);

  CKLF_Layer m_background;
  CKLF_Layer m_captionActive;
  CKLF_Layer m_captionInactive;
  u8 m_hasActive;
  u8 m_hasInactive;
  u16 m_width;
  u16 m_height;
  CKLF_Mem m_dragBlock;
  const u8* m_dragMask;
  kltRECT_s m_dragRect;
  CKLF_String m_title;
};
