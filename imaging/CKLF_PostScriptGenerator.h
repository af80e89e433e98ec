// Vector text for knife paths: Encapsulated PostScript or Illustrator-style
// PostScript. Each path is a start point and cubic spans (two control
// points a span, as CKLF_2DMath::CalcBezierPointSpline gives them) or
// straight lines. Paths are stroked 1 unit wide (round caps and joins).
// Image y grows downwards: the drawing is turned over and moved so that
// the box of its marks (the curves' own extremes plus half the width)
// starts at the page's origin, "0 0 w h", at the scale given, so a plain
// PostScript reader shows it on the page.
//
// Cost: the paths are held as numbers (56 bytes a span) until the text is
// made, a few dozen bytes of text a span. Limits: 32-bit sizes.
#pragma once

#include "CKLF_Mem.h"
#include "CKLF_String.h"

class CKLF_PostScriptGenerator : public CKLF_FrameWork {
 public:
  CKLF_PostScriptGenerator();
  ~CKLF_PostScriptGenerator() override;

  // Empties the text and the bounding box; resets the error.
  void Clean();

  // n points; controls holds 2 (n - 1) points (C1, C2 of each span) or is
  // null for straight lines. 0 with error 1 for a null point list or n < 2,
  // error 17 when the text cannot grow.
  [[nodiscard]] u8 EPS_AddPath(const kltFPOS* points, const kltFPOS* controls, u32 n);
  [[nodiscard]] u8 AI_AddPath(const kltFPOS* points, const kltFPOS* controls, u32 n);

  // The whole document (header with bounding box, the paths, trailer).
  // 0 with error 1 for a null string, the string's error when it fails.
  [[nodiscard]] u8 EPS_GetData(CKLF_String* out);
  [[nodiscard]] u8 AI_GetData(CKLF_String* out);

 private:
  [[nodiscard]] u8 i_AddPath(const kltFPOS* points, const kltFPOS* controls, u32 n);
  [[nodiscard]] bool i_Record(const f64* values, u32 count);
  [[nodiscard]] bool i_PutPaths(CKLF_String& text, bool ai, f64 dx, f64 top) const;
  void i_Extend(kltFPOS p);
  void i_ExtendCurve(kltFPOS p0, kltFPOS c1, kltFPOS c2, kltFPOS p3);
  [[nodiscard]] u8 i_Finish(CKLF_String* out, bool ai);

  CKLF_Mem m_path;  // kind, then points, for every element of every path
  u32 m_used;       // values recorded
  f64 m_minX, m_minY, m_maxX, m_maxY;
};
