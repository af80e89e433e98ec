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

// A zlib header of deflate without a preset dictionary, its check sound.
u8 PlainZlibHeader(const u8* s, u32 size) {
  return size >= 10 && (s[0] & 0x0F) == 8 && (s[0] >> 4) <= 7 && !(s[1] & 0x20) && (s[0] * 256u + s[1]) % 31 == 0;
}

const char kIDAT[] = "IDAT: ";
// Deflate yields at most 1032 bytes a byte (see CKLF_ImagePNG).
const u64 kMaxInflateRatio = 1032;
// What zlib fills at a time while the stream is searched for its damage.
const u32 kScanBytes = 64u << 10;
const u8 kLastFilter = 4;

}  // namespace

// The stream, its rows and how far they are.
struct CKLF_PNGDecoder::Shape {
  const u8* stream;
  u32 size, bpp, n, height, bandRows, bands;
  u8* raw;                // the inflated rows, then a row of zeros
  std::atomic<u8>* done;  // a band's: every row unfiltered in place
  u8 started;             // Start was called, with this code
  u16 startError;
  u64 RowBytes() const { return static_cast<u64>(n) + 1; }
  u64 RawBytes() const { return RowBytes() * height; }
  u32 RowsOf(u32 b) const { return height - b * bandRows < bandRows ? height - b * bandRows : bandRows; }
  u8* Row(u64 y) const { return raw + RowBytes() * y; }
  const u8* Zeros() const { return raw + RawBytes(); }
  // Rows from..to-1 of band b in place, the row above from given: 0 at
  // an unknown filter.
  u8 Unfilter(u32 b, u32 from, u32 to, const u8* up) const {
    for (u8* r = Row(static_cast<u64>(b) * bandRows + from); from < to; ++from, r += RowBytes()) {
      if (!UnfilterRow(r[0], r + 1, up, n, bpp)) return 0;
      up = r + 1;
    }
    return 1;
  }
  // Every row's filter one the reader knows.
  u8 FiltersKnown() const {
    for (u32 y = 0; y < height; ++y)
      if (Row(y)[0] > kLastFilter) return 0;
    return 1;
  }
  u8 UnfilterBand(u32 b) const {
    return Unfilter(b, 0, RowsOf(b), b ? Row(static_cast<u64>(b) * bandRows - 1) + 1 : Zeros());
  }
};

// The stream's independent bands (found at the sync flushes) inflated side
// by side straight into their rows, each with its Adler-32; meanwhile the
// bands inflated are unfiltered in order, by whichever thread finds the
// turn free. A thread that finds it taken leaves its band to the holder,
// who looks again once it lets go. The thread that inflates the last band
// proves the stream sound and starts the rows going out (the planes made)
// while the unfiltering goes on up to then. Nothing waits.
struct CKLF_PNGDecoder::BandInflating : KLF_ParallelJob {
  Shape* s;
  const u32* starts;  // bands 1..
  u32* adler;
  std::atomic<u8>* inflated;  // a band's: 1 inflated, 2 not
  CKLF_PNGDecoder::Start start;
  void* user;
  std::atomic<u8> failed{0}, turn{0}, chainBroken{0}, started{0};
  std::atomic<u32> unfiltered{0}, inflating{0};  // bands unfiltered; bands not inflated yet
  libdeflate_decompressor* inflaters[KLF_Parallel::kMaxThreads] = {};
  CKLF_Mem scratch[KLF_Parallel::kMaxThreads];

  ~BandInflating() {
    for (libdeflate_decompressor* d : inflaters) libdeflate_free_decompressor(d);
  }
  void RunTask(u32 b, u32 worker) override {
    const u8 st = failed.load(std::memory_order_relaxed) ? u8(kDamaged) : Band(b, worker);
    inflated[b].store(st == kSound ? 1 : 2);
    u8 none = 0;
    if (st != kSound) failed.compare_exchange_strong(none, st);
    else Drain();
    if (inflating.fetch_sub(1, std::memory_order_acq_rel) == 1 && !failed.load()) Prove();
  }
  u8 Band(u32 b, u32 worker);
  // Every band inflated: the Adler-32s combine to the stream's.
  u8 Sound() const {
    uLong whole = 1;
    for (u32 b = 0; b < s->bands; ++b)
      whole = adler32_combine(whole, adler[b], static_cast<z_off_t>(s->RowBytes() * s->RowsOf(b)));
    return whole == KLF_GetBE32(s->stream + s->size - 4);
  }
  void Prove() {
    if (!Sound() || !s->FiltersKnown()) return;  // told once the job has ended
    s->startError = start(user);
    s->started = 1;
    started.store(1);  // the rest is unfiltered as the rows go out
  }
  u8 Next() const {
    const u32 u = unfiltered.load(std::memory_order_acquire);
    return u < s->bands && !chainBroken.load() && !started.load() && inflated[u].load() == 1;
  }
  void Drain() {
    while (Next()) {
      u8 idle = 0;
      if (!turn.compare_exchange_strong(idle, 1)) return;
      for (u32 u = unfiltered.load(); Next(); unfiltered.store(++u, std::memory_order_release)) {
        if (!s->UnfilterBand(u)) chainBroken.store(1);  // the damage is told once all have inflated
        else s->done[u].store(1, std::memory_order_release);
      }
      turn.store(0);
    }
  }
};

// A band not last ends on a block boundary on a whole byte (a sync flush),
// the last with the stream's final block. libdeflate wants a final block:
// a band not last is copied into scratch with an empty final stored block
// after it, which only a band ending so leads to. Its bytes must all be
// used and make its rows exactly.
u8 CKLF_PNGDecoder::BandInflating::Band(u32 b, u32 worker) {
  static const u8 kFinal[5] = {0x01, 0x00, 0x00, 0xFF, 0xFF};
  libdeflate_decompressor*& d = inflaters[worker];
  if (!d && !(d = libdeflate_alloc_decompressor())) return kNoMemory;
  const u32 in = b ? starts[b - 1] : 2, end = b + 1 < s->bands ? starts[b] : s->size - 4;
  if (end < in) return kDamaged;
  const u8* data = s->stream + in;
  size_t length = end - in;
  if (b + 1 < s->bands) {
    CKLF_Mem& copy = scratch[worker];
    if (copy.GetSize() < length + sizeof(kFinal) && !copy.alloc(static_cast<u32>(length + 2 * sizeof(kFinal))))
      return kNoMemory;
    std::memcpy(copy.GetPtr(), data, length);
    std::memcpy(copy.GetPtr() + length, kFinal, sizeof(kFinal));
    data = copy.GetPtr();
    length += sizeof(kFinal);
  }
  u8* out = s->Row(static_cast<u64>(b) * s->bandRows);
  const size_t bytes = static_cast<size_t>(s->RowBytes() * s->RowsOf(b));
  size_t used = 0, made = 0;
  if (libdeflate_deflate_decompress_ex(d, data, length, out, bytes, &used, &made) != LIBDEFLATE_SUCCESS ||
      used != length || made != bytes)
    return kDamaged;
  adler[b] = libdeflate_adler32(1, out, bytes);
  return kSound;
}

// The bands not unfiltered yet unfiltered in place, in order from the
// first of them, by the first task to find the turn free, and every band
// handed out by its own task once unfiltered. A task waits only for the
// holder of the turn, who works without waiting.
struct CKLF_PNGDecoder::Unfiltering : KLF_ParallelJob {
  const Shape* s;
  CKLF_PNGDecoder::Rows rows;
  CKLF_PNGDecoder::Poll poll;
  void* user;
  std::atomic<u8> turn{0};
  KLF_WaitPoint unfiltered;  // places: bands

  void RunTask(u32 b, u32) override {
    u8 idle = 0;
    if (!s->done[b].load(std::memory_order_acquire) && turn.compare_exchange_strong(idle, 1)) Chain();
    unfiltered.Wait(b, [this, b] { return s->done[b].load(std::memory_order_acquire) != 0; });
    rows(user, s->Row(static_cast<u64>(b) * s->bandRows) + 1, s->n + 1, b * s->bandRows, s->RowsOf(b));
  }
  // Every band not unfiltered yet: those unfiltered while the stream
  // inflated come first.
  void Chain() {
    for (u32 u = 0; u < s->bands; ++u) {
      if (s->done[u].load(std::memory_order_acquire)) continue;
      (void)s->UnfilterBand(u);  // every filter is known
      s->done[u].store(1, std::memory_order_release);
      unfiltered.Changed(u);
    }
  }
  u8 Poll(u32 bands) override {
    return !poll || poll(user, bands * s->bandRows < s->height ? bands * s->bandRows : s->height);
  }
};

CKLF_PNGDecoder::CKLF_PNGDecoder() { m_damage[0] = 0; }

// The stream inflated again by zlib, in order, through a small buffer:
// the first damage of its first rows as libpng meets it, a bad filter
// before the inflater's fault further on. When they are all, the rest is
// inflated to the stream's end, as libpng does once the rows are read: a
// failed check, more image data than the rows or no end (a missing
// checksum or final block) are damage too.
CKLF_PNGDecoder::Found CKLF_PNGDecoder::i_FirstDamage(const Shape& s, u32 rows) {
  CKLF_Mem buf;
  z_stream z;
  std::memset(&z, 0, sizeof(z));
  if (!buf.alloc(kScanBytes) || inflateInit(&z) != Z_OK) return kNoMemory;
  z.next_in = const_cast<u8*>(s.stream);
  z.avail_in = s.size;
  const u64 want = s.RowBytes() * rows;
  u64 done = 0;
  int r = Z_OK;
  while (done < want && r == Z_OK) {
    const u32 room = want - done < kScanBytes ? static_cast<u32>(want - done) : kScanBytes;
    z.next_out = buf.GetPtr();
    z.avail_out = room;
    r = inflate(&z, Z_NO_FLUSH);
    const u64 made = room - z.avail_out;
    for (u64 f = (done + s.n) / s.RowBytes() * s.RowBytes(); f < done + made; f += s.RowBytes())
      if (buf.GetPtr()[f - done] > kLastFilter) r = Z_VERSION_ERROR;  // not zlib's: a filter
    done += made;
  }
  u8 more = 0;  // image data past the last row
  while (done == s.RawBytes() && r == Z_OK) {
    z.next_out = buf.GetPtr();
    z.avail_out = kScanBytes;
    r = inflate(&z, Z_NO_FLUSH);
    if (z.avail_out < kScanBytes) more = 1;
  }
  const char* msg = z.msg;
  const uInt left = z.avail_in;
  inflateEnd(&z);
  if (r == Z_VERSION_ERROR) return std::snprintf(m_damage, sizeof(m_damage), "bad adaptive filter value"), kDamaged;
  if (r == Z_MEM_ERROR) return kNoMemory;
  if (r == Z_DATA_ERROR || r == Z_NEED_DICT) {
    std::snprintf(m_damage, sizeof(m_damage), "%s%s", kIDAT,
                  r == Z_NEED_DICT ? "missing LZ dictionary" : msg ? msg : "damaged stream");
    return kDamaged;
  }
  if (done < want) return std::snprintf(m_damage, sizeof(m_damage), "Not enough image data"), kDamaged;
  if (rows < s.height) return kSound;
  if (r != Z_STREAM_END) return std::snprintf(m_damage, sizeof(m_damage), "Not enough image data"), kDamaged;
  if (more) return std::snprintf(m_damage, sizeof(m_damage), "%sToo much image data", kIDAT), kDamaged;
  return left == 0 ? kSound : kUnusualEnd;
}

// A stream in the encoder's bands inflated band by band: 1 when every band
// made its rows and the Adler-32s combine to the stream's; 0 otherwise,
// with error 17 when memory ran out.
u8 CKLF_PNGDecoder::i_InflateBands(Shape& s, u32 threads, Start start, void* user) {
  CKLF_Mem points, sums;
  u32 count = 0;
  if (!SyncPoints(s.stream, 2, s.size - 4, threads, points, count) || !sums.alloc(5 * s.bands))
    return Fail(klErrNoMemory);
  if (count != s.bands - 1) return 0;
  BandInflating* job = new (std::nothrow) BandInflating();
  if (!job) return Fail(klErrNoMemory);
  job->s = &s;
  job->starts = reinterpret_cast<const u32*>(points.GetPtr());
  job->adler = reinterpret_cast<u32*>(sums.GetPtr());
  job->inflated = reinterpret_cast<std::atomic<u8>*>(job->adler + s.bands);
  for (u32 b = 0; b < s.bands; ++b) new (job->inflated + b) std::atomic<u8>(0);
  job->start = start, job->user = user;
  job->inflating.store(s.bands);
  (void)KLF_Parallel::Run(threads, s.bands, *job);  // the job's state tells how it ended
  // Once started, the stream may be gone.
  const u8 failed = job->failed.load(), sound = !failed && job->inflating.load() == 0 && (s.started || job->Sound());
  delete job;
  if (failed == kNoMemory) return Fail(klErrNoMemory);
  return sound;
}

// The whole stream into the rows, its end and Adler-32 checked: 1, or 0
// (error 17 when memory ran out). Bands already unfiltered are marked.
u8 CKLF_PNGDecoder::i_Inflate(Shape& s, u32 threads, Start start, void* user) {
  const u64 bytes = s.RawBytes() + s.n, flags = (bytes + 7) & ~7ull;
  if (!m_raw.alloc(static_cast<u32>(flags + s.bands))) return Fail(klErrNoMemory);
  s.raw = m_raw.GetPtr();
  s.done = reinterpret_cast<std::atomic<u8>*>(s.raw + flags);
  for (u32 b = 0; b < s.bands; ++b) new (s.done + b) std::atomic<u8>(0);
  std::memset(s.raw + s.RawBytes(), 0, s.n);
  if (s.bands > 1 && PlainZlibHeader(s.stream, s.size)) {
    if (i_InflateBands(s, threads, start, user)) return 1;
    if (GetError() || s.started) return 0;
    for (u32 b = 0; b < s.bands; ++b) s.done[b].store(0);
  }
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  if (!d) return Fail(klErrNoMemory);
  size_t used = 0, made = 0;
  const libdeflate_result r =
      libdeflate_zlib_decompress_ex(d, s.stream, s.size, s.raw, static_cast<size_t>(s.RawBytes()), &used, &made);
  libdeflate_free_decompressor(d);
  return r == LIBDEFLATE_SUCCESS && used == s.size && made == s.RawBytes();
}

u8 CKLF_PNGDecoder::i_Refuse(Found found) {
  if (found == kNoMemory) return Fail(klErrNoMemory);
  if (found == kSound) m_damage[0] = 0;  // zlib takes what libdeflate did not: a stricter reader's
  return Fail(klErrNotFormat);
}

// Every row's filter known, the rows started (unless the inflating did),
// unfiltered and handed out.
u8 CKLF_PNGDecoder::i_Deliver(const Shape& s, u32 threads, Start start, Rows rows, Poll poll, void* user) {
  if (!s.started && !s.FiltersKnown()) {
    std::snprintf(m_damage, sizeof(m_damage), "bad adaptive filter value");
    return Fail(klErrNotFormat);
  }
  if (const u16 code = s.started ? s.startError : start(user)) return Fail(code);
  Unfiltering* job = new (std::nothrow) Unfiltering();
  if (!job) return Fail(klErrNoMemory);
  job->s = &s;
  job->rows = rows, job->poll = poll, job->user = user;
  const u8 ran = KLF_Parallel::Run(threads, s.bands, *job);
  delete job;
  return ran;
}

u8 CKLF_PNGDecoder::Decode(const u8* stream, u32 size, u32 bpp, u32 width, u32 height, u32 threads, Start start,
                           Rows rows, Poll poll, void* user) {
  ResetError();
  m_damage[0] = 0;
  if (!stream || !start || !rows || bpp < 1 || bpp > 4 || width == 0 || width > 65535 || height == 0 ||
      height > 65535)
    return Fail(klErrBadArg);
  Shape s = {stream, size, bpp, bpp * width, height, 0, 0, nullptr, nullptr, 0, 0};
  s.bandRows = CKLF_PNGEncoder::BandRows(s.n + 1);
  s.bands = (height + s.bandRows - 1) / s.bandRows;
  threads = KLF_Parallel::Resolve(threads);
  if (poll && !poll(user, 0)) return 0;
  // Damage in the first rows costs nothing of the image's size, nor does
  // a stream too short to hold it.
  const Found early = i_FirstDamage(s, s.RowsOf(0));
  if (early != kSound) return i_Refuse(early);
  if (s.RawBytes() > kMaxInflateRatio * size) return i_Refuse(i_FirstDamage(s, height));
  if (!klFits32(s.RawBytes() + s.n + 8 + s.bands)) return Fail(klErrNotFormat);
  if (!i_Inflate(s, threads, start, user)) {
    m_raw.free();
    if (s.started && s.startError) return Fail(s.startError);
    return GetError() ? 0 : i_Refuse(i_FirstDamage(s, height));
  }
  const u8 ok = i_Deliver(s, threads, start, rows, poll, user);
  m_raw.free();
  return ok;
}
