// Piece ids (indices of the engine's piece array) that sort by the
// pieces' grid row, then column: the order in which pieces are exported.
// The main window knows it as CWnd_Main::CExportPiecesIDS.
//
// Cost: a comparison reads two pieces; sorting n ids is the array's sort.
// Limits: ids beyond the engine's pieces compare as equal to everything.
#pragma once

#include "CKLF_Array.h"

class CTessarette;

class CExportPiecesIDS : public CKLF_DWordArray {
 public:
  explicit CExportPiecesIDS(const CTessarette* engine) : m_engine(engine) {}
  ~CExportPiecesIDS() override {}

  void Empty() override { CKLF_DWordArray::Empty(); }
  // -1 when the first piece lies in an earlier row (or the same row and an
  // earlier column), 1 when later, 0 when both are equal.
  i32 CompareElements(const void* a, const void* b) override;

 private:
  const CTessarette* m_engine;
};
