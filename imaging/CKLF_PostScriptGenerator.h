// Vector text for knife paths: Encapsulated PostScript or Illustrator-style
// PostScript. Each path is a start point and cubic spans (two control
// points a span, as CKLF_2DMath::CalcBezierPointSpline gives them) or
// straight lines. Paths are stroked 1 unit wide (round caps and joins); the
// bounding box written is that of the marks: the curves' own extremes plus
// half the width. Image y grows downwards, so y is written negated.
//
// Cost: a few dozen bytes of text a span. Limits: use one flavour (EPS or
// AI) between two Clean calls, as both add to the same text.
#pragma once

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
  u8 EPS_AddPath(const kltFPOS* points, const kltFPOS* controls, u32 n);
  u8 AI_AddPath(const kltFPOS* points, const kltFPOS* controls, u32 n);

  // The whole document (header with bounding box, the paths, trailer).
  // 0 with error 1 for a null string, the string's error when it fails.
  u8 EPS_GetData(CKLF_String* out);
  u8 AI_GetData(CKLF_String* out);

 private:
  u8 i_AddPath(const kltFPOS* points, const kltFPOS* controls, u32 n, bool ai);
  bool i_Put(const CKLF_String& s);
  void i_Extend(kltFPOS p);
  void i_ExtendCurve(kltFPOS p0, kltFPOS c1, kltFPOS c2, kltFPOS p3);
  u8 i_Finish(CKLF_String* out, bool ai);

  CKLF_String m_text;
  f64 m_minX, m_minY, m_maxX, m_maxY;
};
