#include "CExportPiecesIDS.h"

#include <cstring>

#include "CTessarette.h"

i32 CExportPiecesIDS::CompareElements(const void* a, const void* b) {
  u32 ia = 0, ib = 0;
  std::memcpy(&ia, a, 4);
  std::memcpy(&ib, b, 4);
  const CTessarette::SPLITEDCELL* pa = m_engine ? m_engine->GetPiece(ia) : nullptr;
  const CTessarette::SPLITEDCELL* pb = m_engine ? m_engine->GetPiece(ib) : nullptr;
  if (!pa || !pb) return 0;
  if (pa->row != pb->row) return pa->row < pb->row ? -1 : 1;
  if (pa->column != pb->column) return pa->column < pb->column ? -1 : 1;
  return 0;
}
