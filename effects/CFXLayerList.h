// What the document layer picker shows, without its window: the rows of
// the host's layer table (last entry first, so the merged document leads),
// which layers are acceptable (their content covers the whole target, the
// pieces' area in document coordinates), and the thumbnail of a layer: its
// size and place in the preview, its pixels read from the host, composed
// over the main window's frame and transparency patterns, and the marker
// that shows where the target lies on a layer that does not cover it.
//
// Cost: a thumbnail reads one source row a destination row through the
// host (PS_GetScaledLayerRGB) and composes preview-sized planes once.
// Limits: the preview's 16-bit sizes.
#pragma once

#include "CKLF_Array.h"
#include "CKLF_Image.h"
#include "CKLF_String.h"

class CKLF_8BFPluginVirtual;
struct kltLAYERINFO_s;

class CFXLayerList : public CKLF_FrameWork {
 public:
  // No layer chosen, and no layer to preselect.
  static constexpr i32 kNone = -2;

  // Where the thumbnail lies in the preview: (x0, y0), w x h pixels.
  struct THUMB {
    i32 x0;
    i32 y0;
    i32 w;
    i32 h;
  };

  CFXLayerList();
  ~CFXLayerList() override;
  CFXLayerList(const CFXLayerList&) = delete;
  CFXLayerList& operator=(const CFXLayerList&) = delete;

  void SetTarget(kltRECT_s target) { m_target = target; }
  kltRECT_s GetTarget() const { return m_target; }

  // Whether content bounds cover the whole target (empty bounds never do).
  static u8 Covers(kltRECT_s bounds, kltRECT_s target);
  // Whether the table's entry covers the target; 0 past the table.
  u8 IsAcceptable(const CKLF_8BFPluginVirtual& table, u32 index) const;

  // The rows of the table, last entry first, those that are not acceptable
  // left out when filtered. The row showing the layer preselect, or -1.
  i32 Build(const CKLF_8BFPluginVirtual& table, u8 filtered, i32 preselect);
  u32 GetRowCount() const { return m_rows.GetSize(); }
  // The table index of a row (its user value in the list).
  u32 RowIndex(u32 row) const { return m_rows[row]; }
  // "+\t| name" for an acceptable layer, " \t| name" else.
  // 0 without memory for the text.
  [[nodiscard]] static u8 RowText(const kltLAYERINFO_s& entry, u8 acceptable, CKLF_String& out);

  // The thumbnail of an area in a preview of pw x ph: its sides scaled by
  // the larger side of the area (width x pw / m, height x ph / m) and
  // centred. 0 when the area is empty or a side comes out 0 (a layer too
  // thin to show).
  static u8 Geometry(kltRECT_s area, u32 pw, u32 ph, THUMB& t);
  // Reads the entry's pixels for a preview of pw x ph: the target when the
  // layer is acceptable, else the layer's whole bounds as the host gives
  // them. 0 when the layer is not found or cannot be read, its area or its
  // thumbnail is empty.
  u8 ReadThumbnail(CKLF_8BFPluginVirtual& host, u32 index, u32 pw, u32 ph);
  const THUMB& GetThumb() const { return m_thumb; }
  kltRECT_s GetArea() const { return m_area; }
  CKLF_Image& Pixels() { return m_pixels; }

  // The preview image (RGBA, the preview's size): the frame pattern
  // everywhere, the transparency pattern under the thumbnail (each a 4 x 4
  // checker of its two colours; a solid colour is given twice), then the
  // read pixels over it by their alpha (dst (255 - a) + a src, >> 8).
  u8 Compose(CKLF_Image& preview, const kltRGBA8 frame[2], const kltRGBA8 transparency[2]);
  // The target on the thumbnail of the whole layer, at the thumbnail's own
  // scale each way (at least 2 pixels a side), and the marker grown by one
  // pixel, both clipped to the preview. 0 when the target lies off it.
  static u8 Marker(const THUMB& t, kltRECT_s area, kltRECT_s target, u32 pw, u32 ph, kltRECT_s& marker,
                   kltRECT_s& border);

 private:
  kltRECT_s m_target;
  CKLF_DWordArray m_rows;
  THUMB m_thumb;
  kltRECT_s m_area;
  CKLF_Image m_pixels;
};
