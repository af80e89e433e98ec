// The knife shape as vector art for other programs: the smooth path from
// the start knot through the nodes to the end knot, the curve the Cutter
// and the engine draw (their end spans are quadratic, written as cubic),
// over a vertical base line of 200 units (U downward, positive H to the
// left), written as Encapsulated PostScript or as Illustrator-style
// PostScript with the marks' bounding box.
//
// Cost: a few dozen bytes of text a node. Limits: 64 nodes.
#pragma once

#include "CCutterServices.h"
#include "CKLF_StdFile.h"
#include "CKLF_String.h"

class CKnifeShapeVector : public CKLF_FrameWork {
 public:
  typedef CCutterServices::SPLINE_STRUCT SHAPE;
  static constexpr f64 kBaseLength = 200;

  // The document text; 0 with the generator's error.
  u8 Make(const SHAPE& shape, u8 ai, CKLF_String& out);
  // The document written whole on the caller's open file; 0 with error 33
  // when a byte could not be written.
  u8 Write(CKLF_StdFile* file, const SHAPE& shape, u8 ai);
};
