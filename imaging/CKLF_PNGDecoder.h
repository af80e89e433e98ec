// The image data of a PNG file (the zlib stream of its IDAT chunks, joined)
// made back into rows of whole bytes. The whole stream is inflated at once
// by libdeflate (a stream of CKLF_PNGEncoder's independent bands, band by
// band side by side, unfiltered in order as they come) and checked whole
// (its Adler-32, every row's filter) before any row is handed out; then the
// rows left are unfiltered in place, in order, and handed out band by band
// (CKLF_PNGEncoder::BandRows rows each) side by side as they are done.
// Damage is found in the first rows before anything of the image's size is
// allocated, anywhere else before anything is handed out; its reason is
// told as libpng tells it, found by inflating the stream again with zlib.
// The rows handed out do not depend on the thread count.
//
// Cost: the inflated image (a byte a row more than the rows handed out;
// at most 1032 bytes a byte of the stream, else the stream is refused
// before it is allocated) and an inflater a thread. Limits: rows up to 4 x
// 65535 bytes of 1 to 4 bytes a pixel, the inflated image below 4 GiB.
#pragma once

#include "CKLF_ErrorManager.h"
#include "CKLF_Mem.h"
#include "KLF_Types.h"

class CKLF_PNGDecoder : public CKLF_FrameWork {
 public:
  // Called once, on any thread, when the whole stream has inflated and
  // proved sound, before any row is handed out; the stream is not read
  // after it. 0 to go on, else the error code that ends the decode.
  typedef u16 (*Start)(void* user);
  // Rows first..first+count-1 unfiltered, stride bytes apart: each row once,
  // bands side by side on any thread.
  typedef void (*Rows)(void* user, const u8* rows, u32 stride, u32 first, u32 count);
  // Asked on the calling thread before the stream inflates and between
  // bands with the rows done: 0 stops.
  typedef u8 (*Poll)(void* user, u32 rowsDone);

  CKLF_PNGDecoder();

  // Decodes the zlib stream of size bytes at stream into height rows of
  // width pixels of bpp bytes (threads 0 is the machine's): 1, or 0 with
  // error 49 and the reason in GetDamage() (a failed check, more image data
  // than the rows, no end), 49 without one when the stream is sound but
  // bytes follow its end or the image is too large to inflate whole: left
  // to a stricter reader; 1 for bad arguments, 17 for memory, Start's code,
  // or none when Poll stopped.
  u8 Decode(const u8* stream, u32 size, u32 bpp, u32 width, u32 height, u32 threads, Start start, Rows rows,
            Poll poll, void* user);
  // The damage met, in libpng's words ("bad adaptive filter value", "Not
  // enough image data", "IDAT: Too much image data", or "IDAT: " and the
  // inflater's, as "IDAT: incorrect data check"); empty when none.
  const char* GetDamage() const { return m_damage; }

 private:
  struct Shape;
  struct BandInflating;
  struct Unfiltering;
  enum Found : u8 { kSound, kDamaged, kUnusualEnd, kNoMemory };
  Found i_FirstDamage(const Shape& s, u32 rows);
  u8 i_Inflate(Shape& s, u32 threads, Start start, void* user);
  u8 i_InflateBands(Shape& s, u32 threads, Start start, void* user);
  u8 i_Refuse(Found found);
  u8 i_Deliver(const Shape& s, u32 threads, Start start, Rows rows, Poll poll, void* user);

  CKLF_Mem m_raw;  // the inflated rows (filter bytes first), a row of zeros, the bands' flags
  char m_damage[96];
};
