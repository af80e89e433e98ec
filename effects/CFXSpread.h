// The spread of an effect's parameters over the listed pieces ("Auto
// Adjustments"): each piece gets its own position t in 0..1 between value 1
// (t = 0) and value 2 (t = 1), from where its centre lies along one of eight
// directions across the box of the pieces' centres, or at random; every
// spread field is interpolated, rounded (add 0.5, truncate toward zero) and
// clamped to its range. A field with an "A" box of its own is spread only
// while that box is checked, else the piece keeps its own earlier value;
// fields the window does not spread take value 1's.
//
// Records are handled as bytes: every effect record starts with its enabled
// byte, and a field is an offset, an integer width and a range. Cost: one
// projection (or one draw of the random source) a piece and one pass over
// the fields; nothing allocates.
#pragma once

#include <cstdlib>

#include "CKLF_2DMath.h"

// The random spread divides by this bound, as the C library's rand() gives it.
static_assert(RAND_MAX == 2147483647, "the random spread expects rand() to reach 2147483647");

class CFXSpread {
 public:
  // Direction codes, also the order of the spread buttons' codes: 0 none
  // checked (random).
  enum : u8 {
    kRandom = 0,
    kTopLeft = 1,
    kTop = 2,
    kTopRight = 3,
    kRight = 4,
    kBottomRight = 5,
    kBottom = 6,
    kBottomLeft = 7,
    kLeft = 8
  };
  // The integer widths of a field.
  enum : u8 { kU8, kI8, kU16, kI16 };

  // One field of an effect record.
  struct FIELD {
    u8 offset;
    u8 type;
    i32 low;   // the range, both ends included
    i32 high;
  };
  // A field as the window's controls have it: with an "A" box of its own
  // (spread only while checked) or without one (spread whenever the spread
  // is on).
  struct FIELDSTATE {
    FIELD field;
    u8 hasBox;
    u8 checked;
  };
  // Smallest and largest x and y of the listed pieces' centres.
  struct CENTREBOX {
    f64 minX;
    f64 minY;
    f64 maxX;
    f64 maxY;
  };
  typedef int (*RandomProc)();

  // The direction of the first checked button when they are tested in the
  // order top, top-left, left, bottom-left, bottom, bottom-right, right,
  // top-right; kRandom when none is checked.
  static u8 GetAAMode(const u8 checkedInTestOrder[8]);

  // Where value 1 (a) and value 2 (b) lie for a direction across the box;
  // 0 for kRandom and unknown codes.
  static u8 Segment(u8 direction, const CENTREBOX& box, kltFPOS& a, kltFPOS& b);
  // The projection of p on a..b, clamped to 0..1; 0 when a equals b (every
  // centre then lies at value 1).
  static f64 DirectionT(CKLF_2DMath& math, kltFPOS a, kltFPOS b, kltFPOS p);
  // A draw of the C library's rand() as t: r / 2147483646, at most 1.
  static f64 RandomT(int r);

  // first + t (second - first) + 0.5, truncated toward zero.
  static i32 Interpolate(i32 first, i32 second, f64 t);
  // v + 0.5, truncated toward zero (2.5 gives 3, -1.4 gives 0, -1.6 gives -1).
  static i32 RoundHalfUp(f64 v);
  static i32 Clamp(i32 v, i32 low, i32 high) { return v < low ? low : (v > high ? high : v); }

  // A field of a record, read or written at its width.
  static i32 GetField(const u8* record, const FIELD& f);
  static void SetField(u8* record, const FIELD& f, i32 v);

  // One piece's result: value 1 with the enabled byte 1; each field that
  // has no box, or whose box is checked, interpolated at t and clamped;
  // each field whose box is unchecked taken from the piece's backup.
  static void BuildResult(const u8* value1, const u8* value2, const u8* backup, u32 size, const FIELDSTATE* fields,
                          u32 count, f64 t, u8* out);
  // The record the sample preview shows: the record being edited, with
  // every boxed field whose box is unchecked taken from the defaults while
  // the spread is on.
  static void BuildPreview(const u8* edited, const u8* defaults, u32 size, const FIELDSTATE* fields, u32 count,
                           u8 spreadOn, u8* out);
};
