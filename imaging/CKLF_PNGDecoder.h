// The image data of a PNG file (the zlib stream of its IDAT chunks, joined)
// made back into rows of whole bytes: inflated, unfiltered and handed out
// band by band (CKLF_PNGEncoder::BandRows rows each), never the whole image
// at once. A stream of that encoder's independent bands inflates side by
// side; any other stream inflates in order, one band after the other, while
// bands already inflated are unfiltered and handed out on other threads.
// Nothing is handed out before the first band has inflated and unfiltered;
// damage is found at the first band that holds it, and the rows handed out
// do not depend on the thread count.
//
// Cost: a few bands a thread (about 256 KiB raw each), an inflater a thread
// and two rows. Limits: rows up to 4 x 65535 bytes of 1 to 4 bytes a pixel.
#pragma once

#include "CKLF_ErrorManager.h"
#include "KLF_Types.h"

class CKLF_PNGDecoder : public CKLF_FrameWork {
 public:
  // Called once, on any thread, when the first band has decoded and before
  // any row is handed out: 0 to go on, else the error code that ends the
  // decode.
  typedef u16 (*Start)(void* user);
  // Rows first..first+count-1 unfiltered, stride bytes apart: each row once,
  // bands side by side on any thread.
  typedef void (*Rows)(void* user, const u8* rows, u32 stride, u32 first, u32 count);
  // Asked on the calling thread between bands with the rows done: 0 stops.
  typedef u8 (*Poll)(void* user, u32 rowsDone);

  CKLF_PNGDecoder();

  // Decodes the zlib stream of size bytes at stream into height rows of
  // width pixels of bpp bytes (threads 0 is the machine's): 1, or 0 with
  // error 49 and the reason in GetDamage(), 49 without one when every row
  // decoded but the stream ends otherwise than a plain one does (more image
  // data, bytes after it, no end: left to a stricter reader), 1 for bad
  // arguments, 17 for memory, Start's code, or none when Poll stopped.
  u8 Decode(const u8* stream, u32 size, u32 bpp, u32 width, u32 height, u32 threads, Start start, Rows rows,
            Poll poll, void* user);
  // The damage met, in libpng's words ("bad adaptive filter value", "Not
  // enough image data", or "IDAT: " and the inflater's); empty when none.
  const char* GetDamage() const { return m_damage; }

 private:
  struct Job;
  u8 i_Run(Job& job, u32 threads);

  char m_damage[96];
};
