// The knife export: the selected or all shown knives of the layout as one
// EPS or Illustrator-style PostScript file, each knife the very path the
// engine cuts along (its smooth spans as cubic Bezier curves), placed in
// the document and measured in points at the document's resolution
// (across and down). The
// file is written beside its target and renamed into place.
//
// Cost: a few dozen bytes of text a span; the knots are laid out once in
// an engine of the layout. Limits: the layout's.
#pragma once

#include "CExportLMDialogModel.h"
#include "CKLF_Mem.h"

class CLayoutModel;
class CTessarette;

class CExportKnives : public CKLF_FrameWork {
 public:
  struct DOCUMENT {
    i32 originX;  // the layout's area (the filter area) in the document
    i32 originY;
    f64 resolution;  // dots per inch across; 0 writes pixels as points
    f64 verticalResolution;  // down; 0: as across
  };

  explicit CExportKnives(CLayoutModel& layout) : m_layout(layout), m_doc{0, 0, 0.0, 0.0}, m_exported(0) {}

  void SetDocument(const DOCUMENT& doc) { m_doc = doc; }

  // Writes the knives the settings choose (hidden knives never) to path.
  // 1, or 0 with error 2 (no knife to write), 1 (no path), 17, or a file
  // error with Reason().
  u8 ExportKnives(const CExportLMDialogModel::SETTINGS& settings, const char* path);
  u32 Exported() const { return m_exported; }
  // The file written last (empty when none).
  const char* Written() const { return m_written.GetStr(); }
  const char* Reason() const { return m_reason.GetStr(); }

  // The path of knife index (in the layout's list order) in image pixels
  // of an area of width x height: n points into points and, for a shaped
  // knife, the 2 (n - 1) cubic control points into controls (count 0 for
  // a straight knife). n is 0 for a knife between knots the grid lacks.
  static u8 KnifePath(const CTessarette& engine, u32 index, i32 width, i32 height, CKLF_Mem& points,
                      CKLF_Mem& controls, u32& n, u32& controlCount);

 private:
  CLayoutModel& m_layout;
  DOCUMENT m_doc;
  u32 m_exported;
  CKLF_String m_written;
  CKLF_String m_reason;
};
