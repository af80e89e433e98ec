// The free regions of the one-bit knife mask of the cut, found side by side.
// Runs (the maximal free stretches of a scan row, pinholes closed as
// CTessaretteFill::ClosePinholes closes them) are found and joined with the
// runs they touch in the row above, band by band of rows on the threads;
// the bands are then joined at their borders. A region is numbered by its
// first run in scan order, the order in which the row scan of the cut
// meets its seeds, and Trace gives its runs in the order
// CTessaretteFill::SeedFill records them from that seed, with its bounds.
//
// Trace of different regions may run at once (each marks only its own
// runs); each region is traced once per Find. FindBytes does the same on
// an 8-bit mask, whose regions can then be labelled and looked up by point
// (Trace's bounds are the four-times mask's).
#pragma once

#include "CKLF_Mem.h"
#include "CTessaretteFill.h"
#include "KLF_Types.h"

class CTessaretteRuns {
 public:
  typedef CTessaretteFill::Run Run;

  CTessaretteRuns() : m_scanW(0), m_scanH(0), m_runCount(0), m_regionCount(0) {}

  // Asked on the calling thread once a scan row, in order, as the runs of
  // the rows are counted; 1 stops the search.
  typedef u8 (*StopProc)(void* user, i32 row);
  enum { kNoMemory = 0, kFound = 1, kStopped = 2 };
  // knife: the one-bit mask, rows of stride bytes with their padding bits
  // set; it is only read.
  [[nodiscard]] u8 Find(const u8* knife, u32 stride, i32 scanW, i32 scanH, u32 threads, StopProc stop, void* user);
  // The same on an 8-bit mask whose free points are 0 and whose pinholes
  // are closed already.
  [[nodiscard]] u8 FindBytes(const u8* knife, u32 stride, i32 scanW, i32 scanH, u32 threads, StopProc stop, void* user);
  u32 GetRegionCount() const { return m_regionCount; }
  u32 GetRunCount() const { return m_runCount; }

  // Region i's runs in fill order into runs (grown; count of them) and its
  // bounds in image pixels (maximum exclusive), as the recording fill keeps
  // them. stack is scratch. 0 when more than seedLimit seeds would pend or
  // a block cannot grow.
  [[nodiscard]] u8 Trace(u32 region, u32 seedLimit, CKLF_Mem& stack, CKLF_Mem& runs, u32& count, kltRECT_s& bounds);

  // After a search: each run's region. 0 when memory fails.
  [[nodiscard]] u8 Label();
  // Once labelled: the lowest region among the free points around (x, y)
  // (its eight neighbours), or kNoRegion.
  enum : u32 { kNoRegion = 0xFFFFFFFFu };
  u32 LowestRegionAround(i32 x, i32 y) const;

  void Release();

 private:
  // scan(knife, stride, scanW, scanH, y, emit) gives a row's runs,
  // countRow(knife, stride, scanW, scanH, y) their number.
  template <class Scan, class Count>
  [[nodiscard]] u8 i_FindRuns(const u8* knife, u32 stride, i32 scanW, i32 scanH, u32 threads, StopProc stop, void* user,
                              Scan&& scan, Count&& countRow);
  u32 i_Find(u32 i);
  void i_Join(u32 a, u32 b);
  // Joins the runs of row y with those of row y - 1 they touch.
  void i_JoinRows(i32 y);

  i32 m_scanW, m_scanH;
  u32 m_runCount, m_regionCount;
  CKLF_Mem m_rowStart;  // u32 a row + 1: the first run of each row
  CKLF_Mem m_runs;      // Run a run, in scan order
  CKLF_Mem m_parent;    // u32 a run: a run of the same region, smaller or itself
  CKLF_Mem m_filled;    // u8 a run: traced
  CKLF_Mem m_regions;   // u32 a region: its first run
  CKLF_Mem m_label;     // u32 a run: its region (once labelled)
};
