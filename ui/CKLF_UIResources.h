// Readers of the UI resource store's records, for windows and controls:
// strings, rectangles, image and mask records, fonts. Keys:
//   "UIResources>Strings>" + name                       string
//   "UIResources>Rects>" + name + ">Rect Left" ... ">Rect Bottom"   u16 each
//   "UIResources>Fonts>" + name                         font ("KLF2")
//   "UIResources>Windows>" + window + ">Background", ">Caption_Active",
//     ">Caption_Inactive" (images), ">Drag_Area" (mask)
//   "UIResources>Buttons>" + control, ... (one folder per control kind)
// Image and mask records are compressed blocks holding left, top, right,
// bottom (big-endian u16), then four planes of W x H bytes (red, green,
// blue, alpha) for an image, or W x H bytes for a mask (above 128 =
// inside). A record is checked once when read; one that does not hold what
// its header promises, or whose rectangle leaves the bounds the reader is
// given (a control's window), is treated as absent.
#pragma once

#include "CKLF_Font.h"
#include "CKLF_Layer.h"

// Folder prefixes of the ten control kinds that have resources, by control
// type (1 slider ... 10 list; 12, the ruler, reads the static images); null
// for other types.
const char* KLF_ControlFolder(u8 type);

class CKLF_UIResources : public CKLF_FrameWork {
 public:
  // The store may be null (not open): every reader then fails with error 2.
  // With bounds, every rectangle an image, mask or rectangle record gives
  // must lie inside them, else the record is malformed (192): a control's
  // records are read within its window, so none can ask for layers larger
  // than the window.
  explicit CKLF_UIResources(CKLF_Storage* store, kltRECT_s bounds = klNullRect) : m_store(store), m_bounds(bounds) {}

  CKLF_Storage* GetStorage() const { return m_store; }

  // "UIResources>Strings>" + name; 0 when missing.
  [[nodiscard]] u8 GetResourceString(const char* name, CKLF_String& out);
  // "UIResources>Rects>" + name: reads ">Rect Bottom", ">Rect Left",
  // ">Rect Right", ">Rect Top" in that order, storing each one found; 0 at
  // the first missing one.
  [[nodiscard]] u8 GetResourceRect(const char* name, kltRECT_s& out);
  // The same four records under any folder key (edit lines, lists, scroll
  // bars keep their rectangles so); error 192 at the first missing one, or
  // when the rectangle leaves the bounds; 17 when memory ran out.
  [[nodiscard]] u8 GetRectRecords(const CKLF_String& folder, kltRECT_s& out);

  // Reads and decompresses the record into out, fills rect from its header
  // and returns the pixel data (8 bytes in). Null with error 192 when the
  // record is missing or malformed: not a compressed block, shorter than 8
  // bytes, right < left or bottom < top, outside the bounds, or not
  // exactly 8 + 4 W H bytes.
  [[nodiscard]] u8* LoadImageData(const CKLF_String& key, kltRECT_s* rect, CKLF_Mem* out);
  // The same for a mask record, which needs at least 8 + W H bytes.
  [[nodiscard]] u8* LoadMaskData(const CKLF_String& key, kltRECT_s* rect, CKLF_Mem* out);

  // Opens "UIResources>Fonts>" + name into font. Errors: 2 no store, 1 the
  // record is not a byte block, 17 no memory to look, else the font's.
  [[nodiscard]] u8 OpenFont(const CKLF_String& name, CKLF_Font& font);

  // Copies the planes of image-record data into an RGBA layer at (x, y):
  // whole when the layer has the record's size and x = y = 0, else row by
  // row, the rows being the least of (layer height - y), (record height -
  // firstRow) and rowCount, each cut at the layer's width. With firstRow
  // and rowCount both 0 the layer is cleared first and every row copied.
  static void SetDataToImage(CKLF_Layer* layer, i16 x, i16 y, const u8* data, kltRECT_s rect, i16 firstRow,
                             i16 rowCount);

 private:
  [[nodiscard]] u8* i_LoadRecord(const CKLF_String& key, kltRECT_s* rect, CKLF_Mem* out, u8 planes, u8 exact);
  u8 i_Inside(kltRECT_s r) const;

  CKLF_Storage* m_store;
  kltRECT_s m_bounds;  // null: unbounded
};
