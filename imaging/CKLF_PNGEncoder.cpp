#include "CKLF_PNGEncoder.h"

#include <zlib.h>

#include <atomic>
#include <cstring>
#include <new>

#include "CKLF_Mem.h"
#include "KLF_Parallel.h"
#include "KLF_WaitPoint.h"

namespace {

const u32 kBandBytes = 1u << 18;
const u32 kMaxThreads = 64;

inline u8 Paeth(i32 a, i32 b, i32 c) {
  const i32 p = a + b - c;
  const i32 pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
  return static_cast<u8>(pa <= pb && pa <= pc ? a : (pb <= pc ? b : c));
}

// The per-row choice: the filter whose bytes, taken as signed values, have
// the smallest sum of magnitudes; the first of equal sums wins.
inline u32 Magnitude(i32 v) {
  const i32 d = v & 255;
  return static_cast<u32>(d < 128 ? d : 256 - d);
}

// Sum of the filtered bytes as signed values: the usual per-row choice.
// A row holds at most 4 x 65535 bytes of at most 128 each: 32 bits hold it.
u64 Cost(const u8* f, u32 n) {
  u32 s = 0;
  for (u32 i = 0; i < n; ++i) s += f[i] < 128 ? f[i] : 256u - f[i];
  return s;
}

// Eight bytes a step, widened to 16-bit lanes (one SSE2 register).
typedef u8 Bytes8 __attribute__((vector_size(8)));
typedef i16 Lanes16 __attribute__((vector_size(16)));
typedef u16 Sums16 __attribute__((vector_size(16)));
const u32 kStep = 8;

inline Lanes16 Load16(const u8* p) {
  Bytes8 b;
  std::memcpy(&b, p, kStep);
  return __builtin_convertvector(b, Lanes16);
}

inline Lanes16 Abs16(Lanes16 v) { return v < 0 ? -v : v; }

inline Sums16 Magnitude16(Lanes16 v) {
  const Lanes16 d = v & 255;
  return reinterpret_cast<Sums16>(d < 128 ? d : 256 - d);
}

inline u64 AddLanes(Sums16 s) {
  u64 t = 0;
  for (u32 i = 0; i < kStep; ++i) t += s[i];
  return t;
}

// The five sums in one pass over the row; up is the row above (zeros for
// the first row). The lane sums are emptied before they can overflow (at
// most 128 a byte).
void FilterSums(const u8* row, const u8* up, u32 n, u32 bpp, u64 sums[5]) {
  for (u32 f = 0; f < 5; ++f) sums[f] = 0;
  const u32 head = bpp < n ? bpp : n;
  for (u32 i = 0; i < head; ++i) {
    const i32 x = row[i], b = up[i];
    sums[0] += Magnitude(x);
    sums[1] += Magnitude(x);
    sums[2] += Magnitude(x - b);
    sums[3] += Magnitude(x - (b >> 1));
    sums[4] += Magnitude(x - b);  // a = c = 0: the prediction is b
  }
  u32 i = head;
  while (i + kStep <= n) {
    Sums16 s[5] = {};
    for (u32 steps = 0; steps < 256 && i + kStep <= n; ++steps, i += kStep) {
      const Lanes16 x = Load16(row + i), a = Load16(row + i - bpp), b = Load16(up + i), c = Load16(up + i - bpp);
      const Lanes16 pa = Abs16(b - c), pb = Abs16(a - c), pc = Abs16(a + b - c - c);
      const Lanes16 pred = ((pa <= pb) & (pa <= pc)) ? a : (pb <= pc ? b : c);
      s[0] += Magnitude16(x);
      s[1] += Magnitude16(x - a);
      s[2] += Magnitude16(x - b);
      s[3] += Magnitude16(x - ((a + b) >> 1));
      s[4] += Magnitude16(x - pred);
    }
    for (u32 f = 0; f < 5; ++f) sums[f] += AddLanes(s[f]);
  }
  for (; i < n; ++i) {
    const i32 x = row[i], a = row[i - bpp], b = up[i], c = up[i - bpp];
    sums[0] += Magnitude(x);
    sums[1] += Magnitude(x - a);
    sums[2] += Magnitude(x - b);
    sums[3] += Magnitude(x - ((a + b) >> 1));
    sums[4] += Magnitude(x - Paeth(a, b, c));
  }
}

// count pixels of the planes (each at its first pixel), channels
// interleaved, into dst.
void InterleavePixels(const u8* const* src, u32 channels, u32 count, u8* __restrict dst) {
  if (channels == 4) {
    const u8 *__restrict r = src[0], *__restrict g = src[1], *__restrict b = src[2], *__restrict a = src[3];
    for (u32 x = 0; x < count; ++x) dst[4 * x] = r[x], dst[4 * x + 1] = g[x], dst[4 * x + 2] = b[x], dst[4 * x + 3] = a[x];
    return;
  }
  for (u32 c = 0; c < channels; ++c) {
    const u8* __restrict p = src[c];
    for (u32 x = 0; x < count; ++x) dst[x * channels + c] = p[x];
  }
}

// One band's work: its rows filtered, then deflated. Owned per worker
// (deflate state, row buffers) or per band slot (the output).
struct Worker {
  z_stream z;
  u8 ready = 0;
  CKLF_Mem rows;  // two interleaved rows, then zeros or the filter candidates
};

// Bytes of a band in order: zeros zero bytes, then literal bytes of the
// band's literal data.
struct Span {
  u32 zeros;
  u32 literal;
};

const u8 kNoRoom = 2;

struct Slot {
  CKLF_Mem raw;  // filtered rows of the band (with spans: their literal bytes)
  CKLF_Mem out;  // its deflate stream
  u32 outSize = 0;
  uLong adler = 1;
  u32 rawSize = 0;  // the band's bytes
  u8 failed = 0;    // 1 when deflate could not, kNoRoom when memory ran out
  CKLF_Mem spans;   // Span records, when the band is held as spans
  u32 spanCount = 0;
  CKLF_Mem full;    // the spans drawn out, for a stream that needs them
};

}  // namespace

CKLF_PNGEncoder::Settings CKLF_PNGEncoder::DefaultSettings() { return Settings{6, kStrategyRLE, kFilterAdaptive}; }

u32 CKLF_PNGEncoder::BandRows(u32 rowBytes) {
  const u32 n = kBandBytes / (rowBytes ? rowBytes : 1);
  return n ? n : 1;
}

u8 CKLF_PNGEncoder::ChooseFilter(const u8* row, const u8* up, u32 rowBytes, u32 bpp) {
  u64 sums[5];
  FilterSums(row, up, rowBytes, bpp, sums);
  u8 best = 0;
  for (u8 f = 1; f < 5; ++f)
    if (sums[f] < sums[best]) best = f;
  return best;
}


namespace {

// o[i] = x[i] minus the Paeth prediction from a[i] (left), b[i] (above)
// and c[i] (above left), for i < n. The rows never overlap the output.
void PaethTail(const u8* __restrict x, const u8* __restrict a, const u8* __restrict b, const u8* __restrict c,
               u8* __restrict o, u32 n) {
  for (u32 i = 0; i < n; ++i) {
    const i16 ai = a[i], bi = b[i], ci = c[i];
    const i16 pa = static_cast<i16>(bi > ci ? bi - ci : ci - bi), pb = static_cast<i16>(ai > ci ? ai - ci : ci - ai);
    const i16 s = static_cast<i16>(ai + bi - 2 * ci), pc = static_cast<i16>(s > 0 ? s : -s);
    const i16 predicted = pa <= pb && pa <= pc ? ai : (pb <= pc ? bi : ci);
    o[i] = static_cast<u8>(x[i] - predicted);
  }
}

}  // namespace

// The first bpp bytes have no left neighbour (0); a missing row above is
// zeros: Up is then None, and Paeth always predicts the left byte (Sub).
// The loops past the first pixel carry no test, so they vectorise.
void CKLF_PNGEncoder::FilterRow(u8 filter, const u8* row, const u8* prev, u32 n, u32 bpp, u8* out) {
  out[0] = filter;
  u8* o = out + 1;
  const u32 head = bpp < n ? bpp : n;
  if (!prev && filter == kFilterUp) filter = kFilterNone;
  if (!prev && filter == kFilterPaeth) filter = kFilterSub;
  switch (filter) {
    case kFilterSub:
      std::memcpy(o, row, head);
      for (u32 i = head; i < n; ++i) o[i] = static_cast<u8>(row[i] - row[i - bpp]);
      break;
    case kFilterUp:
      for (u32 i = 0; i < n; ++i) o[i] = static_cast<u8>(row[i] - prev[i]);
      break;
    case kFilterAverage:
      for (u32 i = 0; i < head; ++i) o[i] = static_cast<u8>(row[i] - (prev ? prev[i] >> 1 : 0));
      if (prev) {
        for (u32 i = head; i < n; ++i) o[i] = static_cast<u8>(row[i] - ((row[i - bpp] + prev[i]) >> 1));
      } else {
        for (u32 i = head; i < n; ++i) o[i] = static_cast<u8>(row[i] - (row[i - bpp] >> 1));
      }
      break;
    case kFilterPaeth:
      // The first pixel: a and c are 0, so the byte above is predicted.
      for (u32 i = 0; i < head; ++i) o[i] = static_cast<u8>(row[i] - prev[i]);
      PaethTail(row + head, row, prev + head, prev, o + head, n - head);
      break;
    default:
      std::memcpy(o, row, n);
      break;
  }
}

namespace {

// Where a band's filtered rows come from.
struct BandSource {
  u32 channels, width, height, bandRows, bands;
  CKLF_PNGEncoder::Settings s;
  virtual ~BandSource() {}
  // The filtered rows of band b into slot.raw, their Adler-32 into
  // slot.adler.
  virtual void FilterBand(u32 b, Worker& w, Slot& slot) const = 0;
  // Deflates the band's rows into slot.out (flush: Z_SYNC_FLUSH, or
  // Z_FINISH for the last band); slot.failed when it could not.
  virtual void Compress(Slot& slot, z_stream& z, int flush) const;
  // Whether band b holds the same filtered rows as every other such band.
  virtual bool Repeated(u32 b) const {
    (void)b;
    return false;
  }
  u32 RowBytes() const { return channels * width + 1; }
  void Rows(u32 b, u32& y0, u32& y1) const {
    y0 = b * bandRows;
    y1 = y0 + bandRows < height ? y0 + bandRows : height;
  }
};

// Planes of the image's own size.
struct PlainSource : BandSource {
  const u8* const* planes;
  u32 stride;

  // Row y of the image, channels interleaved, into dst.
  void Interleave(u32 y, u8* dst) const {
    const u64 off = static_cast<u64>(y) * stride;
    const u8* rows[4] = {};
    for (u32 c = 0; c < channels; ++c) rows[c] = planes[c] + off;
    InterleavePixels(rows, channels, width, dst);
  }

  void FilterBand(u32 b, Worker& w, Slot& slot) const override {
    const u32 n = channels * width;
    u32 y0, y1;
    Rows(b, y0, y1);
    u8* prev = w.rows.GetPtr();
    u8* cur = prev + n;
    const u8* zeros = cur + n;
    if (y0 > 0) Interleave(y0 - 1, prev);
    u8* out = slot.raw.GetPtr();
    for (u32 y = y0; y < y1; ++y, out += n + 1) {
      Interleave(y, cur);
      const u8* above = y > 0 ? prev : nullptr;
      const u8 filter = s.filter != CKLF_PNGEncoder::kFilterAdaptive
                            ? s.filter
                            : CKLF_PNGEncoder::ChooseFilter(cur, above ? above : zeros, n, channels);
      CKLF_PNGEncoder::FilterRow(filter, cur, above, n, channels, out);
      u8* swap = prev;
      prev = cur;
      cur = swap;
    }
    slot.rawSize = (y1 - y0) * (n + 1);
    slot.adler = adler32(1, slot.raw.GetPtr(), slot.rawSize);
  }
};

// The Adler-32 of n zero bytes after adler.
uLong AfterZeros(uLong adler, u32 n) {
  return adler32_combine(adler, ((static_cast<uLong>(n) % 65521u) << 16) | 1u, static_cast<z_off_t>(n));
}

void Deflate(const u8* data, u32 size, Slot& slot, z_stream& z, int flush) {
  deflateReset(&z);
  z.next_in = const_cast<u8*>(data);
  z.avail_in = size;
  z.next_out = slot.out.GetPtr();
  z.avail_out = static_cast<uInt>(slot.out.GetSize());
  const int r = deflate(&z, flush);
  slot.failed = (flush == Z_FINISH ? r != Z_STREAM_END : r != Z_OK) || z.avail_in != 0;
  slot.outSize = static_cast<u32>(slot.out.GetSize()) - z.avail_out;
}

void BandSource::Compress(Slot& slot, z_stream& z, int flush) const {
  Deflate(slot.raw.GetPtr(), slot.rawSize, slot, z, flush);
}

// Bits of fixed-code deflate blocks handed to zlib's bit stream.
struct FixedBits {
  z_stream* z;
  u32 acc = 0, count = 0;
  bool ok = true;

  static u32 Reversed(u32 code, u32 bits) {
    u32 r = 0;
    for (u32 i = 0; i < bits; ++i) r |= ((code >> i) & 1u) << (bits - 1 - i);
    return r;
  }
  void Put(u32 value, u32 bits) {
    acc |= value << count;
    count += bits;
    while (count >= 16) {
      ok = ok && deflatePrime(z, 16, static_cast<int>(acc & 0xFFFF)) == Z_OK;
      acc >>= 16;
      count -= 16;
    }
  }
  void Flush() {
    if (count) ok = ok && deflatePrime(z, static_cast<int>(count), static_cast<int>(acc)) == Z_OK;
    acc = count = 0;
  }
  void Literal(u8 v) {
    if (v < 144)
      Put(Reversed(0x30u + v, 8), 8);
    else
      Put(Reversed(0x190u + v - 144u, 9), 9);
  }
  // A copy of length 3..258 at distance 1.
  void Copy(u32 length) {
    static const u16 kBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const u8 kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    u32 i = 28;
    while (kBase[i] > length) --i;
    const u32 symbol = 257 + i;
    if (symbol < 280)
      Put(Reversed(symbol - 256, 7), 7);
    else
      Put(Reversed(0xC0u + symbol - 280, 8), 8);
    Put(length - kBase[i], kExtra[i]);
    Put(0, 5);  // distance 1
  }
  // n zero bytes; previous tells whether the byte before them is a zero.
  void Zeros(u32 n, bool previous) {
    if (n && !previous) Literal(0), --n;
    while (n >= 258) Copy(258), n -= 258;
    if (n >= 3) Copy(n), n = 0;
    while (n--) Literal(0);
  }
};

// Literal runs this short go into the fixed-code blocks with the zeros.
const u32 kShortLiteral = 64;

// A band held as spans, with distance-1 copies only (the run-length
// strategy): zlib deflates the long literal runs, each as blocks of its
// own; the zeros and short literals between them go into fixed-code blocks
// inserted between zlib's. zlib is told the byte before each of its runs,
// the only one its copies can reach back to.
void DeflateSpans(Slot& slot, z_stream& z, int flush) {
  deflateReset(&z);
  z.next_out = slot.out.GetPtr();
  z.avail_out = static_cast<uInt>(slot.out.GetSize());
  FixedBits bits{&z};
  const Span* spans = reinterpret_cast<const Span*>(slot.spans.GetPtr());
  const u8* lit = slot.raw.GetPtr();
  bool open = false, fixedSinceZlib = false;
  int previous = -1;  // the last byte of the stream, -1 before the first
  bool ok = true;
  auto close = [&]() {
    if (!open) return;
    bits.Put(0, 7);  // end of block
    bits.Flush();
    open = false;
  };
  auto begin = [&]() {
    if (open) return;
    bits.Put(2, 3);  // not last, fixed codes
    open = fixedSinceZlib = true;
  };
  for (u32 i = 0; ok && i < slot.spanCount; ++i) {
    const Span sp = spans[i];
    if (sp.zeros) {
      begin();
      bits.Zeros(sp.zeros, previous == 0);
      previous = 0;
    }
    if (!sp.literal) continue;
    if (sp.literal <= kShortLiteral) {
      begin();
      for (u32 k = 0; k < sp.literal; ++k) bits.Literal(lit[k]);
    } else {
      close();
      if (fixedSinceZlib && previous >= 0) {
        const u8 before = static_cast<u8>(previous);
        ok = deflateSetDictionary(&z, &before, 1) == Z_OK;
      }
      fixedSinceZlib = false;
      z.next_in = const_cast<u8*>(lit);
      z.avail_in = sp.literal;
      ok = ok && deflate(&z, Z_BLOCK) == Z_OK && z.avail_in == 0;
    }
    previous = lit[sp.literal - 1];
    lit += sp.literal;
  }
  close();
  z.avail_in = 0;
  const int r = ok && bits.ok ? deflate(&z, flush) : Z_STREAM_ERROR;
  slot.failed = flush == Z_FINISH ? r != Z_STREAM_END : r != Z_OK;
  slot.outSize = static_cast<u32>(slot.out.GetSize()) - z.avail_out;
}

// A placed image on a canvas of one background pixel. Outside the window
// of columns where a row or the row above differs from the background
// (the placed columns and the one after them) every filter gives the same
// bytes pixel after pixel: those of a background pixel after a background
// pixel ("steady"), or at column 0 those of a first background pixel.
struct PlacedSource : BandSource {
  const u8* const* planes;  // at the placed rectangle's first pixel on the canvas
  u32 stride;
  u32 px0, py0, px1, py1;  // the placed rectangle on the canvas, clipped
  u8 bg[4];
  u8 first[2][5][4];   // [row above][filter][channel]
  u8 steady[2][5][4];
  u64 firstCost[2][5], steadyCost[2][5];

  void Prepare() {
    u8 row[8], above[8], out[9];
    for (u32 k = 0; k < 8; ++k) row[k] = above[k] = bg[k % channels];
    for (u32 a = 0; a < 2; ++a)
      for (u8 f = 0; f < 5; ++f) {
        CKLF_PNGEncoder::FilterRow(f, row, a ? above : nullptr, 2 * channels, channels, out);
        std::memcpy(first[a][f], out + 1, channels);
        std::memcpy(steady[a][f], out + 1 + channels, channels);
        firstCost[a][f] = Cost(first[a][f], channels);
        steadyCost[a][f] = Cost(steady[a][f], channels);
      }
  }

  bool Inside(u32 y) const { return y >= py0 && y < py1; }
  // Columns xa..xb-1 of row y, interleaved, into dst.
  void Interleave(u32 y, u32 xa, u32 xb, u8* dst) const {
    for (u32 x = xa; x < xb; ++x)
      for (u32 c = 0; c < channels; ++c) *dst++ = bg[c];
    if (!Inside(y) || xb <= px0 || xa >= px1) return;
    const u32 a = xa > px0 ? xa : px0, e = xb < px1 ? xb : px1;
    const u64 off = static_cast<u64>(y - py0) * stride + (a - px0);
    const u8* rows[4] = {};
    for (u32 c = 0; c < channels; ++c) rows[c] = planes[c] + off;
    InterleavePixels(rows, channels, e - a, dst - static_cast<size_t>(xb - xa) * channels + static_cast<size_t>(a - xa) * channels);
  }

  // Row y filtered: the window's bytes by every filter in turn, the
  // costs of the rest counted from the steady bytes. The row goes to the
  // slot as spans (its steady zeros counted, not written) and adler goes
  // on over it.
  void FilterRowAt(u32 y, Worker& w, Slot& slot, u32& literal, uLong& adler) const {
    const u32 n = channels * width, hasAbove = y > 0;
    const bool window = Inside(y) || (hasAbove && Inside(y - 1));
    const u32 wa = window ? px0 : 0, wb = window ? (px1 + 1 < width ? px1 + 1 : width) : 0;
    // The window with one pixel of left context, the row above, the
    // candidates: all within the worker's rows.
    const u32 ctx = wa > 0 ? 1 : 0, wn = (wb - wa + ctx) * channels;
    u8* cur = w.rows.GetPtr();
    u8* above = cur + wn;
    u8* trial = above + wn;  // five candidates of wn + 1 bytes
    if (wb > wa) {
      Interleave(y, wa - ctx, wb, cur);
      if (hasAbove) Interleave(y - 1, wa - ctx, wb, above);
    }
    const u32 skip = ctx * channels, outside = width - (wb - wa), firstOut = wb == 0 || wa > 0 ? 1 : 0;
    u8 best = s.filter;
    if (s.filter == CKLF_PNGEncoder::kFilterAdaptive) {
      u64 least = ~0ull;
      for (u8 f = 0; f < 5; ++f) {
        u8* t = trial + static_cast<size_t>(f) * (wn + 1);
        if (wb > wa) CKLF_PNGEncoder::FilterRow(f, cur, hasAbove ? above : nullptr, wn, channels, t);
        const u64 cost = Cost(t + 1 + skip, wn - skip) + (firstOut ? firstCost[hasAbove][f] : 0) +
                         steadyCost[hasAbove][f] * (outside - firstOut);
        if (cost < least) least = cost, best = f;
      }
    } else if (wb > wa) {
      CKLF_PNGEncoder::FilterRow(best, cur, hasAbove ? above : nullptr, wn, channels, trial);
    }
    const u8* chosen = trial + (s.filter == CKLF_PNGEncoder::kFilterAdaptive ? static_cast<size_t>(best) * (wn + 1) : 0);
    u8* out = slot.raw.GetPtr() + literal;
    Span* spans = reinterpret_cast<Span*>(slot.spans.GetPtr()) + slot.spanCount;
    const u8* st = steady[hasAbove][best];
    static const u8 kZeros[4] = {};
    if (std::memcmp(st, kZeros, channels) != 0) {
      // Steady bytes that are not zeros: the whole row drawn out.
      out[0] = best;
      for (u32 x = 0; x < width; ++x) std::memcpy(out + 1 + static_cast<size_t>(x) * channels, st, channels);
      if (firstOut) std::memcpy(out + 1, first[hasAbove][best], channels);
      if (wb > wa) std::memcpy(out + 1 + static_cast<size_t>(wa) * channels, chosen + 1 + skip, wn - skip);
      adler = adler32(adler, out, n + 1);
      spans[0] = {0, n + 1};
      slot.spanCount += 1;
      literal += n + 1;
      return;
    }
    // The filter byte and the first pixel, the zeros before the window,
    // the window, the zeros after it.
    const u32 lead = 1 + (firstOut ? channels : 0), before = wb > wa ? 1 + wa * channels : n + 1;
    const u32 after = wb > wa ? 1 + wb * channels : n + 1;
    out[0] = best;
    if (firstOut) std::memcpy(out + 1, first[hasAbove][best], channels);
    if (wb > wa) std::memcpy(out + lead, chosen + 1 + skip, wn - skip);
    adler = adler32(adler, out, lead);
    adler = AfterZeros(adler, before - lead);
    adler = adler32(adler, out + lead, after - before);
    adler = AfterZeros(adler, n + 1 - after);
    spans[0] = {0, lead};
    spans[1] = {before - lead, after - before};
    spans[2] = {n + 1 - after, 0};
    slot.spanCount += 3;
    literal += lead + after - before;
  }

  void FilterBand(u32 b, Worker& w, Slot& slot) const override {
    u32 y0, y1;
    Rows(b, y0, y1);
    uLong adler = 1;
    u32 literal = 0;
    slot.spanCount = 0;
    if (slot.spans.GetSize() < 3ull * bandRows * sizeof(Span) &&
        !slot.spans.alloc(static_cast<u32>(3ull * bandRows * sizeof(Span))))
      slot.failed = kNoRoom;
    for (u32 y = y0; y < y1 && !slot.failed; ++y) FilterRowAt(y, w, slot, literal, adler);
    slot.rawSize = (y1 - y0) * RowBytes();
    slot.adler = adler;
  }

  void Compress(Slot& slot, z_stream& z, int flush) const override {
    if (slot.failed) return;
    if (s.strategy == CKLF_PNGEncoder::kStrategyRLE && s.level > 0) return DeflateSpans(slot, z, flush);
    // Copies may reach anywhere in the window: the rows drawn out.
    if (slot.full.GetSize() < slot.rawSize && !slot.full.alloc(slot.rawSize)) {
      slot.failed = kNoRoom;
      return;
    }
    const Span* spans = reinterpret_cast<const Span*>(slot.spans.GetPtr());
    const u8* lit = slot.raw.GetPtr();
    u8* out = slot.full.GetPtr();
    for (u32 i = 0; i < slot.spanCount; ++i) {
      std::memset(out, 0, spans[i].zeros);
      out += spans[i].zeros;
      std::memcpy(out, lit, spans[i].literal);
      out += spans[i].literal;
      lit += spans[i].literal;
    }
    Deflate(slot.full.GetPtr(), slot.rawSize, slot, z, flush);
  }

  // A band of background rows below a background row, not the last: the
  // same filtered bytes wherever it lies.
  bool Repeated(u32 b) const override {
    u32 y0, y1;
    Rows(b, y0, y1);
    return y0 > 0 && b + 1 < bands && (y1 <= py0 || y0 > py1 || py0 >= py1);
  }
};

// Bands handed out in order, each filtered and deflated into its place in
// a ring of a few bands a worker; whichever thread finishes the next band
// to go out hands every finished band from there to the sink, in order, so
// no thread waits for a write or for the slowest band of a batch. A band
// waits only for its place, freed when the band a ring earlier is out.
struct Job : KLF_ParallelJob {
  const BandSource* src = nullptr;
  Worker* workers = nullptr;
  Slot* slots = nullptr;
  Slot* repeated = nullptr;
  std::atomic<u8>* finished = nullptr;  // a place's band is ready to go out
  u32 ring = 1;
  CKLF_PNGEncoder::Sink sink = nullptr;
  CKLF_PNGEncoder::Poll poll = nullptr;
  void* user = nullptr;
  uLong adler = 1;  // of the bands out so far; the sending thread's only
  std::atomic<u32> sent{0};
  std::atomic<u8> sending{0}, stopped{0}, failed{0};
  KLF_WaitPoint wait;  // for a place in the ring; the places are bands

  // Filters and deflates band b into slot with the worker's stream.
  void Band(u32 b, Worker& w, Slot& slot) const {
    slot.failed = 0;
    src->FilterBand(b, w, slot);
    src->Compress(slot, w.z, b + 1 == src->bands ? Z_FINISH : Z_SYNC_FLUSH);
  }

  void RunTask(u32 b, u32 worker) override {
    wait.Wait(b, [this, b] {
      return b < sent.load(std::memory_order_acquire) + ring || stopped.load(std::memory_order_acquire);
    });
    if (stopped.load(std::memory_order_acquire)) return;
    if (!src->Repeated(b)) Band(b, workers[worker], slots[b % ring]);
    finished[b % ring].store(1);
    Send();
  }

  // The finished bands in order from the next one out, by one thread at a
  // time; a band finished while another thread sent is seen once it lets go.
  void Send() {
    while (!sending.exchange(1)) {
      u32 next = sent.load(std::memory_order_relaxed);
      while (next < src->bands && finished[next % ring].load() && !stopped.load()) {
        finished[next % ring].store(0);
        const Slot& slot = src->Repeated(next) ? *repeated : slots[next % ring];
        if (slot.failed) failed.store(slot.failed);
        if (slot.failed || !sink(user, slot.out.GetPtr(), slot.outSize)) {
          Stop();
          break;
        }
        adler = adler32_combine(adler, slot.adler, static_cast<z_off_t>(slot.rawSize));
        sent.store(++next, std::memory_order_release);
        wait.Changed(next - 1 + ring);  // the band that may take the freed place
      }
      sending.store(0);
      if (stopped.load() || next >= src->bands || !finished[next % ring].load()) return;
    }
  }

  void Stop() {
    stopped.store(1);
    wait.ChangedEverywhere();
  }

  // A stop also drops the bands handed out already.
  u8 Poll(u32) override {
    const u32 rows = sent.load() * src->bandRows;
    if (!stopped.load() && poll && !poll(user, rows < src->height ? rows : src->height)) Stop();
    return !stopped.load();
  }
};

int StrategyOf(u8 s) { return s == CKLF_PNGEncoder::kStrategyRLE ? Z_RLE : s == 1 ? Z_FILTERED : Z_DEFAULT_STRATEGY; }

// The zlib header for a 32 KiB window at this level and strategy.
void ZlibHeader(u8 level, int strategy, u8 out[2]) {
  const u32 flags = level < 2 || strategy >= Z_HUFFMAN_ONLY ? 0 : (level < 6 ? 1 : (level == 6 ? 2 : 3));
  u32 h = (0x78u << 8) | (flags << 6);
  h += 31 - h % 31;
  out[0] = static_cast<u8>(h >> 8);
  out[1] = static_cast<u8>(h);
}

// The workers' deflate states and rows, the band slots of one wave and
// the repeated band.
struct Buffers {
  Worker* w = nullptr;
  Slot* slots = nullptr;
  Slot repeated;
  u32 workers = 0, wave = 0;
  u8 Make(u32 nWorkers, u32 nWave, u32 rowBytes, u32 bandRows, const CKLF_PNGEncoder::Settings& s, u8 withRepeated) {
    w = new (std::nothrow) Worker[nWorkers];
    slots = new (std::nothrow) Slot[nWave];
    if (!w || !slots) return 0;
    workers = nWorkers;
    wave = nWave;
    const u64 raw = static_cast<u64>(bandRows) * rowBytes;
    const u64 bound = deflateBound(nullptr, static_cast<uLong>(raw)) + 64;
    for (u32 i = 0; i < workers; ++i) {
      std::memset(&w[i].z, 0, sizeof(z_stream));
      if (deflateInit2(&w[i].z, s.level, Z_DEFLATED, -15, 8, StrategyOf(s.strategy)) != Z_OK) return 0;
      w[i].ready = 1;
      if (!w[i].rows.Zalloc(static_cast<u32>(7ull * rowBytes))) return 0;
    }
    for (u32 i = 0; i < wave; ++i)
      if (!slots[i].raw.alloc(static_cast<u32>(raw)) || !slots[i].out.alloc(static_cast<u32>(bound))) return 0;
    return !withRepeated || (repeated.raw.alloc(static_cast<u32>(raw)) && repeated.out.alloc(static_cast<u32>(bound)));
  }
  ~Buffers() {
    for (u32 i = 0; w && i < workers; ++i)
      if (w[i].ready) deflateEnd(&w[i].z);
    delete[] w;
    delete[] slots;
  }
};

// The header, every band in order (side by side in waves) and the
// Adler-32. 0 with the encoder's error, or none when the sink or the poll
// stopped.
u8 Drive(CKLF_PNGEncoder& enc, const BandSource& src, u32 threads, CKLF_PNGEncoder::Sink sink,
         CKLF_PNGEncoder::Poll poll, void* user) {
  u32 workers = KLF_Parallel::Resolve(threads);
  if (workers > kMaxThreads) workers = kMaxThreads;
  if (workers > src.bands) workers = src.bands;
  u32 repeatedBand = src.bands;
  for (u32 b = 0; b < src.bands && repeatedBand == src.bands; ++b)
    if (src.Repeated(b)) repeatedBand = b;
  // A ring of a few bands a worker keeps the threads busy while bands go out.
  Buffers buf;
  if (!buf.Make(workers, workers * 3 < src.bands ? workers * 3 : src.bands, src.RowBytes(), src.bandRows, src.s,
                repeatedBand < src.bands))
    return enc.Fail(klErrNoMemory);
  CKLF_Mem flags;
  if (!flags.alloc(buf.wave)) return enc.Fail(klErrNoMemory);
  Job job;
  job.src = &src;
  job.workers = buf.w;
  job.slots = buf.slots;
  job.repeated = &buf.repeated;
  job.ring = buf.wave;
  job.sink = sink;
  job.poll = poll;
  job.user = user;
  job.finished = reinterpret_cast<std::atomic<u8>*>(flags.GetPtr());
  for (u32 i = 0; i < buf.wave; ++i) new (job.finished + i) std::atomic<u8>(0);
  if (repeatedBand < src.bands) {
    job.Band(repeatedBand, buf.w[0], buf.repeated);
    if (buf.repeated.failed) return enc.Fail(buf.repeated.failed == kNoRoom ? klErrNoMemory : klErrZipCompress);
  }
  u8 head[2];
  ZlibHeader(src.s.level, StrategyOf(src.s.strategy), head);
  if (!sink(user, head, 2)) return 0;
  const u8 ran = KLF_Parallel::Run(workers, src.bands, job);
  if (const u8 failed = job.failed.load()) return enc.Fail(failed == kNoRoom ? klErrNoMemory : klErrZipCompress);
  if (!ran || job.stopped.load() || job.sent.load() != src.bands) return 0;
  const uLong adler = job.adler;
  const u8 tail[4] = {static_cast<u8>(adler >> 24), static_cast<u8>(adler >> 16), static_cast<u8>(adler >> 8),
                      static_cast<u8>(adler)};
  return sink(user, tail, 4);
}

u8 BadSettings(const CKLF_PNGEncoder::Settings& s) {
  return s.level > 9 || s.strategy > CKLF_PNGEncoder::kStrategyRLE || s.filter > CKLF_PNGEncoder::kFilterAdaptive;
}

void Shape(BandSource& src, u32 channels, u32 width, u32 height, const CKLF_PNGEncoder::Settings& s) {
  src.channels = channels;
  src.width = width;
  src.height = height;
  src.s = s;
  src.bandRows = CKLF_PNGEncoder::BandRows(src.RowBytes());
  src.bands = (height + src.bandRows - 1) / src.bandRows;
}

}  // namespace

u8 CKLF_PNGEncoder::Encode(const u8* const* planes, u32 channels, u32 width, u32 height, u32 stride,
                           const Settings& s, u32 threads, Sink sink, Poll poll, void* user) {
  ResetError();
  if (!planes || channels < 1 || channels > 4 || width == 0 || width > 65535 || height == 0 || stride < width ||
      BadSettings(s) || !sink)
    return Fail(klErrBadArg);
  for (u32 c = 0; c < channels; ++c)
    if (!planes[c]) return Fail(klErrBadArg);
  PlainSource src;
  Shape(src, channels, width, height, s);
  src.planes = planes;
  src.stride = stride;
  return Drive(*this, src, threads, sink, poll, user);
}

u8 CKLF_PNGEncoder::EncodePlaced(const u8* const* planes, u32 channels, u32 width, u32 height, u32 stride,
                                 const Placement& at, const Settings& s, u32 threads, Sink sink, Poll poll,
                                 void* user) {
  ResetError();
  if (!planes || channels < 1 || channels > 4 || at.canvasWidth == 0 || at.canvasWidth > 65535 ||
      at.canvasHeight == 0 || at.canvasHeight > 65535 || width > 65535 || height > 65535 || stride < width ||
      !at.background || BadSettings(s) || !sink)
    return Fail(klErrBadArg);
  for (u32 c = 0; c < channels; ++c)
    if (!planes[c]) return Fail(klErrBadArg);
  PlacedSource src;
  Shape(src, channels, at.canvasWidth, at.canvasHeight, s);
  std::memcpy(src.bg, at.background, channels);
  src.Prepare();
  // The rectangle clipped to the canvas (64-bit: any place is allowed).
  const i64 x0 = at.x > 0 ? at.x : 0, y0 = at.y > 0 ? at.y : 0;
  i64 x1 = static_cast<i64>(at.x) + width, y1 = static_cast<i64>(at.y) + height;
  if (x1 > at.canvasWidth) x1 = at.canvasWidth;
  if (y1 > at.canvasHeight) y1 = at.canvasHeight;
  const bool empty = x0 >= x1 || y0 >= y1;
  src.px0 = empty ? 0 : static_cast<u32>(x0);
  src.py0 = empty ? 0 : static_cast<u32>(y0);
  src.px1 = empty ? 0 : static_cast<u32>(x1);
  src.py1 = empty ? 0 : static_cast<u32>(y1);
  src.stride = stride;
  const u64 skipX = static_cast<u64>(x0 - at.x), skipY = static_cast<u64>(y0 - at.y);
  const u8* shifted[4] = {};
  for (u32 c = 0; c < channels && !empty; ++c) shifted[c] = planes[c] + skipY * stride + skipX;
  src.planes = shifted;
  return Drive(*this, src, threads, sink, poll, user);
}
