// The discs of the inside stroke, kept per width. For a stroke of width w
// (2 to 255): the outer disc (radius w) and the inner one (radius w - 1,
// centred) as (2w + 1)^2 byte matrices, and for each alpha value an edge
// pixel has, the disc it stamps (outer - alpha x (outer - inner) / 255) as
// matrix rows of equal-value runs, made when first asked for. A renderer
// strokes many pieces at one width, or at a few when an effect is spread
// over pieces: the last kSlots widths are kept, the one used longest ago
// making room for a new one, and dropped while the widths kept take more
// than kMaxBytes (the current one is always kept).
//
// Cost: a width's matrices take about 8 w^2 steps to make, an alpha
// value's runs 4 w^2. Memory: 2 (2w + 1)^2 bytes a width and, at width
// 100, about 11 KB an alpha value (3 MB when all 256 occur); kMaxBytes in
// all, or the current width's alone when it takes more. Not shared between
// threads: each effect object keeps its own.
#pragma once

#include "CKLF_Mem.h"

class CKLF_StrokeDiscs : public CKLF_FrameWork {
 public:
  static constexpr u32 kSlots = 8;
  static constexpr u64 kMaxBytes = 4u << 20;
  // A run of one value over matrix columns c0..c1, and a row's runs.
  struct Run {
    i16 c0;
    i16 c1;
    u8 v;
  };
  struct Row {
    u32 first;
    u32 count;
  };

  CKLF_StrokeDiscs() {}
  CKLF_StrokeDiscs(const CKLF_StrokeDiscs&) = delete;
  CKLF_StrokeDiscs& operator=(const CKLF_StrokeDiscs&) = delete;

  // Makes width the current one; its outer then its inner matrix. Null
  // with error 1 below width 2, 17 without memory.
  [[nodiscard]] const u8* Use(u8 width);
  // The current width's runs for one alpha value, made when missing; 0
  // with error 17 without memory. Making runs may move every width's
  // tables: take Rows and Runs after the last MakeRuns.
  [[nodiscard]] u8 MakeRuns(u8 alpha);
  // The current width's 2w + 1 rows for an alpha value made, and the runs
  // they index.
  const Row* Rows(u8 alpha) const;
  const Run* Runs(u8 alpha) const;
  // The bytes the kept widths hold.
  u64 Bytes() const;

 private:
  struct Slot {
    CKLF_Mem block;  // the two matrices, then the runs of each alpha made
    u32 used = 0;
    u8 width = 0;  // 0: empty
    u64 lastUse = 0;
    u32 tables[256] = {};  // offset of each alpha's rows in block, 0: none
    void Forget();
  };
  // Drops the widths used longest ago, but the current one, while the
  // kept ones hold more than kMaxBytes.
  void i_Trim();
  Slot m_slots[kSlots];
  Slot* m_current = nullptr;
  u64 m_clock = 0;
};
