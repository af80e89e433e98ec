// The preferences of the main window and of its preferences dialog,
// without a window: how the preview shows transparency and the area
// outside the image (two checker colours or one solid colour each),
// whether it fits the image when a run starts, and the opacity of hidden
// knives; their ten records in the configuration store
// ("Preferences>..."), the opacity edit line's text and the value typed
// in it, the swatches and the dialog's sample picture.
//
// Cost: constant, but the sample, which fills its picture once or twice.
#pragma once

#include "CKLF_String.h"

class CKLF_Image;
class CKLF_Storage;

struct CPreferences {
  // The six swatches of the dialog, in its order.
  enum Swatch : u8 { kTCB1 = 0, kTCB2, kTSolid, kFCB1, kFCB2, kFSolid, kSwatches };

  u8 onLoadZoom;
  u8 delKnifeOpacity;  // 0..255; the dialog keeps it within 25..127
  u8 alphaSolid;
  u8 extAlphaSolid;
  kltRGBA8 alphaColor1;
  kltRGBA8 alphaColor2;
  kltRGBA8 alphaColorSolid;
  kltRGBA8 extAlphaColor1;
  kltRGBA8 extAlphaColor2;
  kltRGBA8 extAlphaColorSolid;

  static const char* const kFolder;  // "Preferences"

  // The main window's values before any record was stored (the dialog
  // always opens with the main window's values).
  static CPreferences Defaults();
  // The defaults, then every record that exists and has its type and size
  // (a null store: the defaults).
  // 0 when memory runs out or the store cannot be read (out as read so far),
  // with the cause in error when given (17, else the store's code).
  [[nodiscard]] static u8 Read(CKLF_Storage* store, CPreferences& out, u16* error = nullptr);
  // The folder and the ten records in their order; 0 with the store's
  // error kept there.
  [[nodiscard]] u8 Write(CKLF_Storage* store) const;

  // The opacity edit line: the stored value in per cent as it is shown
  // (50 shows "20"), the value typed text stores (below 10 stores 25,
  // above 49 stores 127), and the text the line gets when it loses the
  // focus (the number held to 10..50).
  [[nodiscard]] static u8 OpacityText(u8 value, CKLF_String& out);
  static u8 OpacityFromText(const char* text);
  [[nodiscard]] static u8 OpacityTextOnLeave(const char* text, CKLF_String& out);

  // The colour a swatch shows and edits.
  kltRGBA8& SwatchColour(Swatch s);
  // A colour chosen for a swatch: stored, and its group (transparency or
  // outside) shows a checkerboard or the solid colour as the swatch does.
  void ChooseSwatchColour(Swatch s, kltRGBA8 colour);
  // The preview's colours: transparency checker and outside margin (the
  // solid colour twice when solid).
  void CheckerColours(kltRGBA8& a, kltRGBA8& b) const;
  void MarginColours(kltRGBA8& a, kltRGBA8& b) const;
  // The dialog's sample: the outside checkerboard of 8 x 8 cells over the
  // whole picture, the transparency one inside it from (22, 22) to
  // (width - 1, height - 22).
  u8 DrawSample(CKLF_Image& sample) const;
};
