// What the puzzle engine needs of the document's layers for the image
// overlay effect: a table of layers with the bounds of their content, and a
// reader of a layer's pixels. The plug-in shell implements it over the host;
// tests implement it over plain buffers. The engine never owns it.
#pragma once

#include "KLF_Types.h"

class CTessaretteLayerSource {
 public:
  struct LAYERINFO {
    i32 id;            // the host's layer id; -1 the merged document
    kltRECT_s bounds;  // non-transparent content, whole-document coordinates;
                       // all -32000 when empty
  };

  virtual ~CTessaretteLayerSource() {}

  // Builds the layer table with bounds clipped to area (whole-document
  // coordinates); with force 0 a table already built is reused. 0 when the
  // document has no table.
  [[nodiscard]] virtual u8 FillLayerTable(kltRECT_s area, u8 force) = 0;
  virtual u32 GetLayerCount() = 0;
  [[nodiscard]] virtual u8 GetLayerInfo(u32 index, LAYERINFO& info) = 0;

  // Reads layer id over rect (whole-document coordinates, width x height)
  // into planeCount planes of the given stride: the colour planes converted
  // to the document's kind, then the layer's transparency (255 where it has
  // none). 0 on failure.
  [[nodiscard]] virtual u8 ReadLayer(i32 id, u8** planes, u32 stride, i32 width, i32 height, u8 planeCount,
                                     kltRECT_s rect) = 0;
  // Why the last FillLayerTable or ReadLayer failed: 17 when memory ran
  // out (the render then fails); any other code, or 0, a layer that cannot
  // be read as asked (the overlay stays clear).
  virtual u16 GetLastError() const { return 0; }
};
