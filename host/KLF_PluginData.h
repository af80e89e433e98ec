// The facts about the host's document gathered at Start, read by the
// windows, the dialogs and the engine, and one entry of the document-layer
// table. Plain values; filled by CKLF_8BFPluginVirtual.
#pragma once

#include "KLF_Types.h"

struct kltPLUGINDATA_s {
  u8 colorKind;             // 0 grayscale, 1 RGB, 2 CMYK
  u8 bits;                  // bits per channel: 8
  u8 planes;                // colour planes, plus 1 with transparency
  u8 editableTransparency;  // the transparency plane may be written
  u8 transparency;          // the last plane is the transparency
  u8 hostMask;              // the host supplies a selection mask (plane 255)
  u8 selection;             // a selection limits the filter
  kltRECT_s filterRect;     // in the filtered image's coordinates
  kltSIZE_s wholeSize;      // the whole document
  kltSIZE_s imageSize;      // the image the host gives
  kltPOS origin;            // the filtered image in the whole document
  f64 resolutionH;          // pixels per inch
  f64 resolutionV;
  u8 rulerUnits;            // 0..4
  u8 channelNamesGiven;
  u16 channelCount;
  u8 foreColor[4];          // in the document's colour space
  u8 backColor[4];
  u8* iccProfile;           // the adapter's copy, or null
  u32 iccProfileSize;
  u8 layerAccess;           // document layers can be read
  kltRECT_s filterArea;     // the filter rectangle in whole-document coordinates
  u16 threads;              // threads the host lends; 0 the machine's
};

struct kltLAYERINFO_s {
  i32 layerId;       // -1 for the merged document
  kltRECT_s bounds;  // non-transparent content; all -32000 when empty
  char name[100];    // "--COMPOSITE--" for the merged document
};
