// One state picture of a control: an image record of the UI store kept
// decoded, with its rectangle in window coordinates. Controls copy it into
// their layers and hit-test against its rectangle.
#pragma once

#include "CKLF_UIResources.h"

class CKLF_CtrlPicture {
 public:
  CKLF_CtrlPicture() : m_rect{0, 0, 0, 0}, m_data(nullptr) {}

  // Reads the record under key; 0 and absent when it is missing or
  // malformed (or outside the reader's bounds), or when memory ran out
  // (res keeps the code).
  [[nodiscard]] u8 Load(CKLF_UIResources& res, const CKLF_String& key);
  // The same for a picture that may be missing: 1 loaded or absent
  // (IsPresent tells), 0 when memory ran out.
  [[nodiscard]] u8 LoadOptional(CKLF_UIResources& res, const CKLF_String& key) {
    return Load(res, key) || res.GetError() != klErrNoMemory;
  }
  void Free();

  u8 IsPresent() const { return m_data ? 1 : 0; }
  const u8* GetData() const { return m_data; }
  u8* GetData() { return m_data; }
  kltRECT_s GetRect() const { return m_rect; }
  i32 GetWidth() const { return m_rect.right - m_rect.left; }
  i32 GetHeight() const { return m_rect.bottom - m_rect.top; }
  // Inside the rectangle (right and bottom exclusive); never when absent.
  u8 Contains(i32 x, i32 y) const;
  // Copies the picture into an RGBA layer at its place relative to origin
  // (the window point the layer's corner stands for; its position by
  // default), the rest of the layer cleared; an absent picture clears the
  // whole layer.
  void CopyTo(CKLF_Layer& layer, kltPOS origin) const;
  void CopyTo(CKLF_Layer& layer) const { CopyTo(layer, layer.GetPos()); }

 private:
  kltRECT_s m_rect;
  CKLF_Mem m_mem;
  u8* m_data;
};

// The state pictures of a control (or of one part of it) in the states 1
// normal, 2 highlighted, 4 pressed and 8 disabled, read from prefix +
// "Normal", "Highlighted", "Pressed", "Disabled": highlighted falls back to
// normal, pressed to highlighted then normal, disabled to normal dimmed.
class CKLF_StatePictures {
 public:
  // The pictures present of the four states; 0 when memory ran out.
  [[nodiscard]] u8 Load(CKLF_UIResources& res, const CKLF_String& prefix);
  u8 HasAny() const;
  // The union of the present pictures' rectangles; null when none.
  kltRECT_s GetUnion() const;
  // The picture a state shows (null when none) and whether it is dimmed.
  const CKLF_CtrlPicture* Pick(u8 state, u8& dimmed) const;
  CKLF_CtrlPicture* Pick(u8 state, u8& dimmed) {
    return const_cast<CKLF_CtrlPicture*>(static_cast<const CKLF_StatePictures*>(this)->Pick(state, dimmed));
  }
  const CKLF_CtrlPicture& Get(u8 index) const { return m_pictures[index]; }

 private:
  CKLF_CtrlPicture m_pictures[4];
};

// The smallest rectangle holding both; a null rectangle holds nothing.
kltRECT_s KLF_UnionRect(kltRECT_s a, kltRECT_s b);
