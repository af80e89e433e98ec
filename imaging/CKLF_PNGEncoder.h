// The image data of a PNG file (the zlib stream of its IDAT chunks) made
// from 8-bit planes: rows interleaved, filtered and deflated in bands of
// rows. Each band is an independent raw deflate stream ended by a sync
// flush (the last by the final block), so bands compress side by side on
// several threads and join into one ordinary zlib stream whose Adler-32 is
// combined from theirs. The band size depends on the row size only, so the
// bytes do not depend on the thread count.
//
// Cost: each thread holds one deflate state and one band (about 256 KiB raw
// and its compressed form); a few bands per thread wait to be written in
// order. Limits: 1 to 4 channels, rows up to 4 x 65535 bytes.
//
// A placed image (EncodePlaced) is a canvas of one background pixel with
// the planes' rectangle at some place on it, never drawn out: its rows are
// filtered as Encode filters that canvas, but only where they differ from
// the background; bands of background rows alone are deflated once and
// repeated; with the run-length strategy the rows' runs of zeros go into
// fixed-code blocks of their own between zlib's blocks of the rest (with
// another strategy the rows are drawn out and the stream is Encode's, byte
// for byte). The cost follows the placed rectangle's rows, not the canvas.
#pragma once

#include "CKLF_ErrorManager.h"
#include "KLF_Types.h"

class CKLF_PNGEncoder : public CKLF_FrameWork {
 public:
  enum { kFilterNone = 0, kFilterSub = 1, kFilterUp = 2, kFilterAverage = 3, kFilterPaeth = 4, kFilterAdaptive = 5 };
  enum { kStrategyDefault = 0, kStrategyFiltered = 1, kStrategyRLE = 2 };

  struct Settings {
    u8 level;     // zlib level 0..9
    u8 strategy;  // kStrategy...
    u8 filter;    // kFilter...: one filter for every row, or the per-row choice
  };
  // The default: level 6 with the run-length strategy and the per-row
  // filter choice (chosen by measurement on photographs).
  static Settings DefaultSettings();

  // Receives the stream in order, one piece a call: 1 to go on, 0 to stop.
  typedef u8 (*Sink)(void* user, const u8* data, u32 size);
  // Asked on the calling thread between bands with the rows done: 0 stops.
  typedef u8 (*Poll)(void* user, u32 rowsDone);

  // planes[c] + y * stride + x is sample x of row y in channel c. threads 0
  // is the machine's. 1, or 0 with error 1 (arguments), 17 (memory), 65
  // (deflate) or none when the sink or the poll stopped.
  [[nodiscard]] u8 Encode(const u8* const* planes, u32 channels, u32 width, u32 height, u32 stride, const Settings& s,
                          u32 threads, Sink sink, Poll poll, void* user);

  // The planes (width x height) at (x, y) on a canvas of canvasWidth x
  // canvasHeight filled with background (channels bytes); what lies off
  // the canvas is left out. Results and errors as Encode.
  struct Placement {
    u32 canvasWidth;
    u32 canvasHeight;
    i32 x;
    i32 y;
    const u8* background;
  };
  [[nodiscard]] u8 EncodePlaced(const u8* const* planes, u32 channels, u32 width, u32 height, u32 stride,
                                const Placement& at, const Settings& s, u32 threads, Sink sink, Poll poll, void* user);

  // Rows of one band for rows of rowBytes bytes (filter byte included).
  static u32 BandRows(u32 rowBytes);
  // Filters one interleaved row (bpp bytes a pixel) into out: the filter
  // byte, then rowBytes bytes. prev is the row above (null: the first).
  static void FilterRow(u8 filter, const u8* row, const u8* prev, u32 rowBytes, u32 bpp, u8* out);
  // The per-row choice of kFilterAdaptive for one interleaved row: the
  // filter whose bytes, as signed values, have the smallest sum of
  // magnitudes (the first of equal sums). up is the row above, zeros for
  // the first row. One pass over the row for all five.
  static u8 ChooseFilter(const u8* row, const u8* up, u32 rowBytes, u32 bpp);
};
