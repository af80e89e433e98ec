// One picture of a window: an RGB or RGBA image placed at (x, y) on the
// canvas, with an opacity, a visible flag, an optional clip rectangle and a
// name. The layer set asks it for one canvas row at a time (GetLine), which
// points into the layer's planes and copies nothing.
#pragma once

#include "CKLF_Image.h"
#include "CKLF_String.h"

// The part of one canvas row a layer covers. The plane pointers address the
// span's first pixel; alpha is null for an RGB layer. start and end are
// columns relative to the x asked for (end exclusive).
struct KLF_LINESPAN {
  u8 empty;
  u8* red;
  u8* green;
  u8* blue;
  u8* alpha;
  u16 start;
  u16 end;
  u8 opacity;
};

class CKLF_Layer : public CKLF_Image {
 public:
  CKLF_Layer();
  ~CKLF_Layer() override;

  // Mode 1 RGB or 2 RGBA; contents undefined. Errors as CKLF_Image::Create
  // (a zero area fails without a code).
  [[nodiscard]] u8 Create(i16 x, i16 y, u16 w, u16 h, u8 mode);
  // A copy of source in mode (0 = the source's).
  [[nodiscard]] u8 Create(i16 x, i16 y, CKLF_Image* source, u8 mode);
  // Placed at the rectangle's top-left, sized to its extent; error 1 when
  // the rectangle is inverted, too large or off the 16-bit positions.
  [[nodiscard]] u8 Create(kltRECT_s rect, u8 mode);

  void SetPos(i16 x, i16 y) {
    m_x = x;
    m_y = y;
  }
  kltPOS GetPos() const { return {m_x, m_y}; }
  // (x, y, x + width, y + height).
  kltRECT_s GetRect() const;
  void SetOpacity(u8 opacity) { m_opacity = opacity; }
  u8 GetOpacity() const { return m_opacity; }
  void SetVisible(u8 visible) { m_visible = visible; }
  u8 GetVisible() const { return m_visible; }
  // klNullRect removes the clip.
  void SetClipRect(kltRECT_s clip);
  kltRECT_s GetClipRect() const { return m_clip; }
  // 0 without memory for the name.
  [[nodiscard]] u8 SetName(const CKLF_String& name) { return !(m_name = name).IsError(); }
  CKLF_String& GetName() { return m_name; }

  // The span of canvas row y between columns x and x + width: empty unless
  // the row crosses the layer (and its clip), the layer is visible and its
  // opacity is not 0.
  KLF_LINESPAN GetLine(i32 x, i32 y, u16 width);

 private:
  i16 m_x;
  i16 m_y;
  u8 m_opacity;
  u8 m_visible;
  kltRECT_s m_clip;
  u8 m_clipSet;
  CKLF_String m_name;
};
