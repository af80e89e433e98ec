// The cut's nearest cell centre: centres sorted into square buckets over
// their bounding box and searched ring by ring around the query, which
// gives the answer of a scan of every centre (the first of equal
// distances) at a cost that does not grow with the centre count.
//
// Cost: 8 bytes a centre and about one bucket a centre; a query visits the
// buckets within the nearest centre's distance. Limits: up to 2^31 centres.
#pragma once

#include "CKLF_Mem.h"
#include "KLF_Types.h"

class CTessaretteCentres {
 public:
  // Indexes count centres (kept by the caller). 0 when memory fails.
  [[nodiscard]] u8 Build(const kltFPOS* centres, u32 count);
  // The index of the nearest centre to (x, y) by squared distance, the
  // lowest index among equals; -1 without centres.
  i64 Nearest(f64 x, f64 y) const;

 private:
  i32 i_Cell(f64 v, f64 origin, i32 cells) const;

  const kltFPOS* m_centres = nullptr;
  u32 m_count = 0;
  f64 m_x0 = 0, m_y0 = 0, m_size = 1;
  i32 m_cols = 0, m_rows = 0;
  CKLF_Mem m_start;  // u32 per bucket + 1: where its centres begin in m_order
  CKLF_Mem m_order;  // centre indices by bucket, increasing within one
};
