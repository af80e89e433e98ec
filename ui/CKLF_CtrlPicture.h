// One state picture of a control: an image record of the UI store kept
// decoded, with its rectangle in window coordinates. Controls copy it into
// their layers and hit-test against its rectangle.
#pragma once

#include "CKLF_UIResources.h"

class CKLF_CtrlPicture {
 public:
  CKLF_CtrlPicture() : m_rect{0, 0, 0, 0}, m_data(nullptr) {}

  // Reads the record under key; 0 and absent when it is missing or malformed.
  u8 Load(CKLF_Storage* store, const CKLF_String& key);
  void Free();

  u8 IsPresent() const { return m_data ? 1 : 0; }
  const u8* GetData() const { return m_data; }
  kltRECT_s GetRect() const { return m_rect; }
  i32 GetWidth() const { return m_rect.right - m_rect.left; }
  i32 GetHeight() const { return m_rect.bottom - m_rect.top; }
  // Inside the rectangle (right and bottom exclusive); never when absent.
  u8 Contains(i32 x, i32 y) const;
  // Copies the picture into an RGBA layer at its place relative to the
  // layer's position, the rest of the layer cleared; an absent picture
  // clears the whole layer.
  void CopyTo(CKLF_Layer& layer) const;

 private:
  kltRECT_s m_rect;
  CKLF_Mem m_mem;
  u8* m_data;
};

// The smallest rectangle holding both; a null rectangle holds nothing.
kltRECT_s KLF_UnionRect(kltRECT_s a, kltRECT_s b);
