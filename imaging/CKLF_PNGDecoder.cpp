#include "CKLF_PNGDecoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "CKLF_Mem.h"
#include "CKLF_PNGEncoder.h"
#include "KLF_BigEndian.h"
#include "KLF_Parallel.h"
#include "KLF_WaitPoint.h"

namespace {

inline u8 PaethByte(i32 a, i32 b, i32 c) {
  const i32 pa = b > c ? b - c : c - b, pb = a > c ? a - c : c - a;
  const i32 s = a + b - c - c, pc = s < 0 ? -s : s;
  return static_cast<u8>(pa <= pb && pa <= pc ? a : (pb <= pc ? b : c));
}

// One row of whole pixels of B bytes filtered with filter f back in place;
// up is the row above as unfiltered (zeros for the first row). The pixel
// to the left (and the one above it) stay in registers. 0 for an unknown
// filter.
template <u32 B>
u8 UnfilterPixels(u8 f, u8* r, const u8* up, u32 n) {
  u8 a[B], c[B];
  switch (f) {
    case 0:
      return 1;
    case 1:
      for (u32 k = 0; k < B; ++k) a[k] = r[k];
      for (u32 i = B; i < n; i += B)
        for (u32 k = 0; k < B; ++k) a[k] = r[i + k] = static_cast<u8>(r[i + k] + a[k]);
      return 1;
    case 2:
      for (u32 i = 0; i < n; ++i) r[i] = static_cast<u8>(r[i] + up[i]);
      return 1;
    case 3:
      for (u32 k = 0; k < B; ++k) a[k] = r[k] = static_cast<u8>(r[k] + (up[k] >> 1));
      for (u32 i = B; i < n; i += B)
        for (u32 k = 0; k < B; ++k) a[k] = r[i + k] = static_cast<u8>(r[i + k] + ((a[k] + up[i + k]) >> 1));
      return 1;
    case 4:
      for (u32 k = 0; k < B; ++k) a[k] = r[k] = static_cast<u8>(r[k] + up[k]), c[k] = up[k];
      for (u32 i = B; i < n; i += B)
        for (u32 k = 0; k < B; ++k) {
          const u8 b = up[i + k];
          a[k] = r[i + k] = static_cast<u8>(r[i + k] + PaethByte(a[k], b, c[k]));
          c[k] = b;
        }
      return 1;
    default:
      return 0;
  }
}

u8 UnfilterRow(u8 f, u8* r, const u8* up, u32 n, u32 bpp) {
  switch (bpp) {
    case 1: return UnfilterPixels<1>(f, r, up, n);
    case 2: return UnfilterPixels<2>(f, r, up, n);
    case 3: return UnfilterPixels<3>(f, r, up, n);
    default: return UnfilterPixels<4>(f, r, up, n);
  }
}

// Where the stream's bands would start: just past each sync flush (an
// empty stored block, 00 00 FF FF) in from..end, searched side by side.
u8 SyncPoints(const u8* z, u32 from, u32 end, u32 threads, CKLF_Mem& out, u32& count) {
  const u32 parts = threads * 4, span = (end - from + parts - 1) / parts;
  CKLF_Mem found[4 * KLF_Parallel::kMaxThreads];
  u32 counts[4 * KLF_Parallel::kMaxThreads] = {};
  std::atomic<u8> failed{0};
  KLF_Parallel::ForEach(threads, parts, [&](u32 part, u32) noexcept {
    const u32 a = from + part * span, b = a + span < end ? a + span : end;
    for (u32 p = a; p < b; ++p) {
      const u8* q = static_cast<const u8*>(std::memchr(z + p, 0xFF, b - p));
      if (!q) break;
      p = static_cast<u32>(q - z);
      if (p < from + 3 || q[-1] != 0xFF || q[-2] != 0 || q[-3] != 0) continue;
      if ((counts[part] + 1u) * 4u > found[part].GetSize() && !found[part].Resize(counts[part] ? 8 * counts[part] : 64)) {
        failed.store(1);
        return;
      }
      reinterpret_cast<u32*>(found[part].GetPtr())[counts[part]++] = p + 1;
    }
  });
  count = 0;
  for (u32 part = 0; part < parts; ++part) count += counts[part];
  if (failed.load() || (count && !out.alloc(4 * count))) return 0;
  u32* o = reinterpret_cast<u32*>(out.GetPtr());
  for (u32 part = 0; part < parts; ++part)
    for (u32 i = 0; i < counts[part]; ++i) *o++ = reinterpret_cast<const u32*>(found[part].GetPtr())[i];
  return 1;
}

// What zlib says of a stream's header, in the order it looks; null when
// sound.
const char* ZlibHeaderFault(const u8* s) {
  if ((s[0] * 256u + s[1]) % 31) return "incorrect header check";
  if ((s[0] & 0x0F) != 8) return "unknown compression method";
  if ((s[0] >> 4) > 7) return "invalid window size";
  return s[1] & 0x20 ? "missing LZ dictionary" : nullptr;
}

const char kIDAT[] = "IDAT: ";
// Bands inflated ahead of those handed out, a thread's and two more, at
// most 32 (8 MiB of rows).
const u32 kMaxSlots = 32;
// zlib's inflate state and its largest window, with room to spare.
const u32 kInflaterBytes = 64u << 10;

}  // namespace

// One stream decoded band by band, a task a band: the band waits for its
// slot, inflates (in order behind the band before when the stream is one),
// is unfiltered in order by whichever thread finds it next in line, and is
// handed out by its own task, which then frees the slot. A task waits only
// for lower ones, which are all handed out before it: no wait is for ever.
struct CKLF_PNGDecoder::Job : KLF_ParallelJob {
  // A band's state: not inflated yet, inflated, or what its inflating met.
  enum : u8 { kWaiting = 0, kInflated, kBadStream, kShortStream, kNotBand, kUnusualEnd, kNoMemory };
  // How the unfiltering ended.
  enum : u8 { kRunning = 0, kAllRows, kStopped };

  CKLF_PNGDecoder::Start start;
  CKLF_PNGDecoder::Rows rows;
  CKLF_PNGDecoder::Poll poll;
  void* user;
  const u8* stream;
  u32 size;
  const u32* starts;  // bands 1.. of a stream of independent bands; null: one stream
  u32 n, bpp, height, bandRows, bands, slots;
  u64 slotBytes;
  CKLF_Mem mem;
  u8* slotMem;
  u8* edges;  // zeros, then the last unfiltered row of the bands before, by parity
  u32* adler;         // each band's
  const char** why;   // the inflater's reason for a band it refused
  std::atomic<u8>* state;
  std::atomic<u32>* slotBand;  // a slot's: the band that takes it next
  z_stream z;
  u8 zReady = 0, zEnded = 0;
  // zlib's state and window, made here on the calling thread: a thread
  // that continues the stream allocates nothing.
  alignas(16) u8 zMem[kInflaterBytes];
  u32 zUsed = 0;
  static voidpf ZAlloc(voidpf job, uInt items, uInt size);
  static void ZFree(voidpf, voidpf) {}
  std::atomic<u32> inOrder{0};  // one stream: the bands inflated
  std::atomic<u8> broken{0};    // one stream: a band could not be inflated
  std::atomic<u32> unfiltered{0};
  std::atomic<u8> draining{0}, stop{0};
  // Left by the unfiltering.
  u8 ended = kRunning, endState = kInflated, badFilter = 0;
  const char* endWhy = nullptr;
  u16 startError = 0;
  libdeflate_decompressor* inflaters[KLF_Parallel::kMaxThreads] = {};
  CKLF_Mem scratch[KLF_Parallel::kMaxThreads];
  KLF_WaitPoint slotFreed, inflatedInOrder, unfilteredPoint;  // places: slots, bands, bands

  ~Job() {
    for (libdeflate_decompressor* d : inflaters) libdeflate_free_decompressor(d);
    if (zReady) inflateEnd(&z);
  }
  u32 RowsOf(u32 b) const { return height - b * bandRows < bandRows ? height - b * bandRows : bandRows; }
  u64 BytesOf(u32 b) const { return static_cast<u64>(RowsOf(b)) * (n + 1); }
  u8* Slot(u32 b) const { return slotMem + static_cast<u64>(b % slots) * slotBytes; }
  u8 Stopped() const { return stop.load(std::memory_order_acquire); }

  u8 Setup(u32 threads);
  void RunTask(u32 b, u32 worker) override;
  u8 Poll(u32 done) override { return !poll || poll(user, done * bandRows < height ? done * bandRows : height); }
  u8 InflateBand(u32 b, u32 worker);
  u8 InflateInOrder(u32 b);
  u8 InflateNext(u32 b);
  u8 EndOfStream();
  void Drain();
  u8 Unfilter(u32 u);
  void End(u8 st, u32 u);
};

// The slots, the rows at the edges and the bands' states in one block.
u8 CKLF_PNGDecoder::Job::Setup(u32 threads) {
  slots = threads + 2 < kMaxSlots ? threads + 2 : kMaxSlots;
  if (slots > bands) slots = bands;
  slotBytes = static_cast<u64>(bandRows) * (n + 1);
  const u64 whyBytes = sizeof(const char*) * static_cast<u64>(bands), countBytes = 4ull * (bands + slots);
  const u64 head = (whyBytes + countBytes + bands + 63) & ~63ull;
  const u64 total = head + slots * slotBytes + 3ull * n;
  if (!klFits32(total) || !mem.alloc(static_cast<u32>(total))) return 0;
  u8* p = mem.GetPtr();
  why = reinterpret_cast<const char**>(p);
  adler = reinterpret_cast<u32*>(p + whyBytes);
  slotBand = reinterpret_cast<std::atomic<u32>*>(adler + bands);
  state = reinterpret_cast<std::atomic<u8>*>(p + whyBytes + countBytes);
  slotMem = p + head;
  edges = slotMem + slots * slotBytes;
  std::memset(edges, 0, n);
  for (u32 b = 0; b < bands; ++b) why[b] = nullptr, new (state + b) std::atomic<u8>(kWaiting);
  for (u32 s = 0; s < slots; ++s) new (slotBand + s) std::atomic<u32>(s);
  if (starts) return 1;
  std::memset(&z, 0, sizeof(z));
  z.next_in = const_cast<u8*>(stream) + (size < 2 ? size : 2);
  z.avail_in = size < 2 ? 0 : size - 2;
  z.zalloc = ZAlloc;
  z.zfree = ZFree;
  z.opaque = this;
  zReady = inflateInit2(&z, -15) == Z_OK;
  return zReady;
}

voidpf CKLF_PNGDecoder::Job::ZAlloc(voidpf job, uInt items, uInt size) {
  Job* self = static_cast<Job*>(job);
  const u64 n = (static_cast<u64>(items) * size + 15) & ~15ull;
  if (n > kInflaterBytes - self->zUsed) return Z_NULL;
  self->zUsed += static_cast<u32>(n);
  return self->zMem + self->zUsed - n;
}

void CKLF_PNGDecoder::Job::RunTask(u32 b, u32 worker) {
  const u32 s = b % slots;
  slotFreed.Wait(s, [this, b, s] { return slotBand[s].load(std::memory_order_acquire) == b || Stopped(); });
  if (Stopped()) return;
  state[b].store(starts ? InflateBand(b, worker) : InflateInOrder(b));
  Drain();
  unfilteredPoint.Wait(b, [this, b] { return unfiltered.load(std::memory_order_acquire) > b || Stopped(); });
  if (unfiltered.load(std::memory_order_acquire) <= b) return;
  rows(user, Slot(b) + 1, n + 1, b * bandRows, RowsOf(b));
  slotBand[s].store(b + slots, std::memory_order_release);
  slotFreed.Changed(s);
}

// An independent band inflated into its slot: all of its data used, ending
// on a block boundary on a whole byte (not the last block), or with the
// stream's end when last. libdeflate wants a final block: a band not last
// is copied into scratch with an empty final stored block after it, which
// only a band ending so on a whole byte leads to.
u8 CKLF_PNGDecoder::Job::InflateBand(u32 b, u32 worker) {
  static const u8 kFinal[5] = {0x01, 0x00, 0x00, 0xFF, 0xFF};
  libdeflate_decompressor*& d = inflaters[worker];
  if (!d) d = libdeflate_alloc_decompressor();
  const u32 in = b ? starts[b - 1] : 2, end = b + 1 < bands ? starts[b] : size - 4;
  if (!d) return kNoMemory;
  if (end < in) return kNotBand;
  const u8* data = stream + in;
  size_t length = end - in;
  if (b + 1 < bands) {
    CKLF_Mem& copy = scratch[worker];
    if (copy.GetSize() < length + sizeof(kFinal) && !copy.alloc(static_cast<u32>(length + 2 * sizeof(kFinal))))
      return kNoMemory;
    std::memcpy(copy.GetPtr(), data, length);
    std::memcpy(copy.GetPtr() + length, kFinal, sizeof(kFinal));
    data = copy.GetPtr();
    length += sizeof(kFinal);
  }
  size_t used = 0, made = 0;
  const u64 bytes = BytesOf(b);
  if (libdeflate_deflate_decompress_ex(d, data, length, Slot(b), static_cast<size_t>(bytes), &used, &made) !=
          LIBDEFLATE_SUCCESS ||
      used != length || made != bytes)
    return kNotBand;
  adler[b] = libdeflate_adler32(1, Slot(b), static_cast<size_t>(bytes));
  return kInflated;
}

// One stream: band b inflates once the band before has.
u8 CKLF_PNGDecoder::Job::InflateInOrder(u32 b) {
  inflatedInOrder.Wait(b, [this, b] {
    return inOrder.load(std::memory_order_acquire) == b || broken.load(std::memory_order_acquire) || Stopped();
  });
  // Behind a band that failed this one is never looked at.
  const u8 st = inOrder.load(std::memory_order_acquire) == b ? InflateNext(b) : u8(kBadStream);
  if (st == kInflated) inOrder.store(b + 1, std::memory_order_release);
  else broken.store(1, std::memory_order_release);
  inflatedInOrder.Changed(b + 1);
  return st;
}

// The deflate data inflates raw: the Adler-32 is checked as the independent
// bands' is, faster than zlib checks it.
u8 CKLF_PNGDecoder::Job::InflateNext(u32 b) {
  if (b == 0 && (size < 2 || (why[0] = ZlibHeaderFault(stream)) != nullptr))
    return size < 2 ? kShortStream : kBadStream;
  const u64 bytes = BytesOf(b);
  z.next_out = Slot(b);
  z.avail_out = static_cast<uInt>(bytes);
  int r = zEnded ? Z_STREAM_END : Z_OK;
  while (r == Z_OK && z.avail_out) r = inflate(&z, Z_NO_FLUSH);
  zEnded = r == Z_STREAM_END;
  if (!z.avail_out) {
    adler[b] = libdeflate_adler32(1, Slot(b), static_cast<size_t>(bytes));
    return b + 1 == bands ? EndOfStream() : u8(kInflated);
  }
  if (r == Z_OK || r == Z_STREAM_END || r == Z_BUF_ERROR) return kShortStream;
  if (r == Z_MEM_ERROR) return kNoMemory;
  why[b] = z.msg ? z.msg : "damaged stream";
  return kBadStream;
}

// After the last row: the deflate data must end there, and the image data
// with its Adler-32. More image data, bytes after the end or an end
// missing are what a stricter reader judges.
u8 CKLF_PNGDecoder::Job::EndOfStream() {
  u8 extra = 0;
  int r = zEnded ? Z_STREAM_END : Z_OK;
  while (r == Z_OK) {
    z.next_out = &extra;
    z.avail_out = 1;
    r = inflate(&z, Z_NO_FLUSH);
    if (!z.avail_out) return kUnusualEnd;
  }
  zEnded = r == Z_STREAM_END;
  if (zEnded) return z.avail_in == 4 ? kInflated : kUnusualEnd;
  if (r == Z_DATA_ERROR) {
    why[bands - 1] = z.msg ? z.msg : "damaged stream";
    return kBadStream;
  }
  return r == Z_MEM_ERROR ? kNoMemory : kUnusualEnd;
}

// Unfilters the bands next in line that have inflated, taking the turn
// when no other thread has it. One that finds the turn taken leaves its
// band to the holder, who looks again once it lets go.
void CKLF_PNGDecoder::Job::Drain() {
  for (;;) {
    u8 idle = 0;
    if (!draining.compare_exchange_strong(idle, 1)) return;
    for (u32 u = unfiltered.load(std::memory_order_relaxed); u < bands && !Stopped(); ++u) {
      const u8 st = state[u].load();
      if (st == kWaiting) break;
      if (st != kInflated) {
        End(st, u);
        break;
      }
      if (!Unfilter(u)) break;
      if (u + 1 == bands) ended = kAllRows;
      unfiltered.store(u + 1, std::memory_order_release);
      unfilteredPoint.Changed(u);
    }
    draining.store(0);
    const u32 u = unfiltered.load();
    if (u >= bands || Stopped() || state[u].load() == kWaiting) return;
  }
}

// Band u's rows in place; the first band, once unfiltered, starts the rows
// going out.
u8 CKLF_PNGDecoder::Job::Unfilter(u32 u) {
  u8* r = Slot(u);
  const u8* up = u ? edges + static_cast<u64>(n) * (1 + ((u - 1) & 1)) : edges;
  for (u32 i = 0; i < RowsOf(u); ++i, r += n + 1) {
    if (!UnfilterRow(r[0], r + 1, up, n, bpp)) {
      badFilter = 1;
      End(kInflated, u);
      return 0;
    }
    up = r + 1;
  }
  std::memcpy(edges + static_cast<u64>(n) * (1 + (u & 1)), up, n);
  if (u == 0 && (startError = start(user)) != 0) {
    End(kInflated, u);
    return 0;
  }
  return 1;
}

void CKLF_PNGDecoder::Job::End(u8 st, u32 u) {
  ended = kStopped;
  endState = st;
  endWhy = why[u];
  stop.store(1, std::memory_order_release);
  Fail(klErrNotFormat);  // no further task is handed out
  slotFreed.ChangedEverywhere();
  inflatedInOrder.ChangedEverywhere();
  unfilteredPoint.ChangedEverywhere();
}

CKLF_PNGDecoder::CKLF_PNGDecoder() { m_damage[0] = 0; }

u8 CKLF_PNGDecoder::Decode(const u8* stream, u32 size, u32 bpp, u32 width, u32 height, u32 threads, Start start,
                           Rows rows, Poll poll, void* user) {
  ResetError();
  m_damage[0] = 0;
  if (!stream || !start || !rows || bpp < 1 || bpp > 4 || width == 0 || width > 65535 || height == 0 ||
      height > 65535)
    return Fail(klErrBadArg);
  const u32 n = bpp * width, bandRows = CKLF_PNGEncoder::BandRows(n + 1);
  threads = KLF_Parallel::Resolve(threads);
  // Bands only where the stream's sync flushes fall one between each two.
  CKLF_Mem points;
  u32 count = 0;
  const u32 bands = (height + bandRows - 1) / bandRows;
  const u8 banded = bands > 1 && size >= 10 && !ZlibHeaderFault(stream) &&
                    SyncPoints(stream, 2, size - 4, threads, points, count) && count == bands - 1;
  for (u32 pass = banded ? 0 : 1; pass < 2; ++pass) {
    ResetError();
    Job* job = new (std::nothrow) Job();
    if (!job) return Fail(klErrNoMemory);
    job->start = start, job->rows = rows, job->poll = poll, job->user = user;
    job->stream = stream, job->size = size;
    job->starts = pass == 0 ? reinterpret_cast<const u32*>(points.GetPtr()) : nullptr;
    job->n = n, job->bpp = bpp, job->height = height, job->bandRows = bandRows, job->bands = bands;
    const u8 ran = job->Setup(threads) ? i_Run(*job, threads) : Fail(klErrNoMemory);
    const u8 again = !ran && job->endState == Job::kNotBand;
    delete job;
    if (!again) return ran;
  }
  return 0;
}

// The job run and its end told: 1, or 0 with the code and the damage.
u8 CKLF_PNGDecoder::i_Run(Job& job, u32 threads) {
  // How the job ended is told by its state, whatever the run returns.
  (void)KLF_Parallel::Run(threads, job.bands, job);
  if (job.ended == Job::kAllRows) {
    uLong whole = 1;
    for (u32 b = 0; b < job.bands; ++b)
      whole = adler32_combine(whole, job.adler[b], static_cast<z_off_t>(job.BytesOf(b)));
    if (whole == KLF_GetBE32(job.stream + job.size - 4)) return 1;
    std::snprintf(m_damage, sizeof(m_damage), "%sincorrect data check", kIDAT);
    return Fail(klErrNotFormat);
  }
  if (job.ended == Job::kRunning) return 0;  // stopped by the poll
  if (job.startError) return Fail(job.startError);
  if (job.badFilter) std::snprintf(m_damage, sizeof(m_damage), "bad adaptive filter value");
  switch (job.endState) {
    case Job::kBadStream:
      std::snprintf(m_damage, sizeof(m_damage), "%s%s", kIDAT, job.endWhy ? job.endWhy : "damaged stream");
      break;
    case Job::kShortStream:
      std::snprintf(m_damage, sizeof(m_damage), "Not enough image data");
      break;
    case Job::kNoMemory:
      return Fail(klErrNoMemory);
    default:
      break;
  }
  return Fail(klErrNotFormat);
}
