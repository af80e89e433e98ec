#include "CKLF_PNGEncoder.h"

#include <zlib.h>

#include <cstring>
#include <new>

#include "CKLF_Mem.h"
#include "KLF_Parallel.h"

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
      const Lanes16 pred = (pa <= pb) & (pa <= pc) ? a : (pb <= pc ? b : c);
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

// One band's work: its rows filtered, then deflated. Owned per worker
// (deflate state, row buffers) or per band slot (the output).
struct Worker {
  z_stream z;
  u8 ready = 0;
  CKLF_Mem rows;  // two interleaved rows, then a row of zeros
};

struct Slot {
  CKLF_Mem raw;  // filtered rows of the band
  CKLF_Mem out;  // its deflate stream
  u32 outSize = 0;
  uLong adler = 1;
  u32 rawSize = 0;
  u8 failed = 0;
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

// The first bpp bytes have no left neighbour; the first row no row above.
void CKLF_PNGEncoder::FilterRow(u8 filter, const u8* row, const u8* prev, u32 n, u32 bpp, u8* out) {
  out[0] = filter;
  u8* o = out + 1;
  const u32 head = bpp < n ? bpp : n;
  switch (filter) {
    case kFilterSub:
      for (u32 i = 0; i < head; ++i) o[i] = row[i];
      for (u32 i = head; i < n; ++i) o[i] = static_cast<u8>(row[i] - row[i - bpp]);
      break;
    case kFilterUp:
      if (!prev) {
        std::memcpy(o, row, n);
        break;
      }
      for (u32 i = 0; i < n; ++i) o[i] = static_cast<u8>(row[i] - prev[i]);
      break;
    case kFilterAverage:
      if (!prev) {
        for (u32 i = 0; i < head; ++i) o[i] = row[i];
        for (u32 i = head; i < n; ++i) o[i] = static_cast<u8>(row[i] - (row[i - bpp] >> 1));
        break;
      }
      for (u32 i = 0; i < head; ++i) o[i] = static_cast<u8>(row[i] - (prev[i] >> 1));
      for (u32 i = head; i < n; ++i) o[i] = static_cast<u8>(row[i] - ((row[i - bpp] + prev[i]) >> 1));
      break;
    case kFilterPaeth:
      // Without a row above the prediction is the left byte; without a
      // left byte it is the byte above.
      if (!prev) {
        for (u32 i = 0; i < head; ++i) o[i] = row[i];
        for (u32 i = head; i < n; ++i) o[i] = static_cast<u8>(row[i] - row[i - bpp]);
        break;
      }
      for (u32 i = 0; i < head; ++i) o[i] = static_cast<u8>(row[i] - prev[i]);
      for (u32 i = head; i < n; ++i) o[i] = static_cast<u8>(row[i] - Paeth(row[i - bpp], prev[i], prev[i - bpp]));
      break;
    default:
      std::memcpy(o, row, n);
      break;
  }
}

namespace {

struct Job : KLF_ParallelJob {
  const u8* const* planes;
  u32 channels, width, height, stride, bandRows, bands, first;
  CKLF_PNGEncoder::Settings s;
  Worker* workers;
  Slot* slots;

  // Row y of the image, channels interleaved, into dst.
  void Interleave(u32 y, u8* dst) const {
    const u64 off = static_cast<u64>(y) * stride;
    for (u32 c = 0; c < channels; ++c) {
      const u8* src = planes[c] + off;
      u8* d = dst + c;
      for (u32 x = 0; x < width; ++x, d += channels) *d = src[x];
    }
  }

  // The filtered rows of band b into slot.raw.
  void FilterBand(u32 b, Worker& w, Slot& slot) const {
    const u32 n = channels * width, y0 = b * bandRows;
    const u32 y1 = y0 + bandRows < height ? y0 + bandRows : height;
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
  }

  void RunTask(u32 index, u32 worker) override {
    const u32 b = first + index;
    Worker& w = workers[worker];
    Slot& slot = slots[index];
    FilterBand(b, w, slot);
    slot.adler = adler32(1, slot.raw.GetPtr(), slot.rawSize);
    deflateReset(&w.z);
    w.z.next_in = slot.raw.GetPtr();
    w.z.avail_in = slot.rawSize;
    w.z.next_out = slot.out.GetPtr();
    w.z.avail_out = static_cast<uInt>(slot.out.GetSize());
    const int flush = b + 1 == bands ? Z_FINISH : Z_SYNC_FLUSH;
    const int r = deflate(&w.z, flush);
    slot.failed = (flush == Z_FINISH ? r != Z_STREAM_END : r != Z_OK) || w.z.avail_in != 0;
    slot.outSize = static_cast<u32>(slot.out.GetSize()) - w.z.avail_out;
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

// The workers' deflate states and rows, and the band slots of one wave.
struct Buffers {
  Worker* w = nullptr;
  Slot* slots = nullptr;
  u32 workers = 0, wave = 0;
  u8 Make(u32 nWorkers, u32 nWave, u32 rowBytes, u32 bandRows, const CKLF_PNGEncoder::Settings& s) {
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
      if (!w[i].rows.Zalloc(static_cast<u32>(3ull * rowBytes))) return 0;
    }
    for (u32 i = 0; i < wave; ++i)
      if (!slots[i].raw.alloc(static_cast<u32>(raw)) || !slots[i].out.alloc(static_cast<u32>(bound))) return 0;
    return 1;
  }
  ~Buffers() {
    for (u32 i = 0; w && i < workers; ++i)
      if (w[i].ready) deflateEnd(&w[i].z);
    delete[] w;
    delete[] slots;
  }
};

}  // namespace

u8 CKLF_PNGEncoder::Encode(const u8* const* planes, u32 channels, u32 width, u32 height, u32 stride,
                           const Settings& s, u32 threads, Sink sink, Poll poll, void* user) {
  ResetError();
  if (!planes || channels < 1 || channels > 4 || width == 0 || width > 65535 || height == 0 || stride < width ||
      s.level > 9 || s.strategy > kStrategyRLE || s.filter > kFilterAdaptive || !sink)
    return Fail(klErrBadArg);
  for (u32 c = 0; c < channels; ++c)
    if (!planes[c]) return Fail(klErrBadArg);
  const u32 rowBytes = channels * width + 1, bandRows = BandRows(rowBytes);
  const u32 bands = (height + bandRows - 1) / bandRows;
  u32 workers = KLF_Parallel::Resolve(threads);
  if (workers > kMaxThreads) workers = kMaxThreads;
  if (workers > bands) workers = bands;
  // A few bands a worker between writes keep the threads busy.
  Buffers buf;
  if (!buf.Make(workers, workers * 3 < bands ? workers * 3 : bands, rowBytes, bandRows, s)) return Fail(klErrNoMemory);
  Worker* w = buf.w;
  Slot* slots = buf.slots;
  const u32 wave = buf.wave;

  u8 head[2];
  ZlibHeader(s.level, StrategyOf(s.strategy), head);
  if (!sink(user, head, 2)) return 0;
  Job job;
  job.planes = planes;
  job.channels = channels;
  job.width = width;
  job.height = height;
  job.stride = stride;
  job.bandRows = bandRows;
  job.bands = bands;
  job.s = s;
  job.workers = w;
  job.slots = slots;
  uLong adler = 1;
  for (u32 first = 0; first < bands; first += wave) {
    const u32 count = bands - first < wave ? bands - first : wave;
    job.first = first;
    KLF_Parallel::Run(workers, count, job);
    for (u32 i = 0; i < count; ++i) {
      if (slots[i].failed) return Fail(klErrZipCompress);
      adler = adler32_combine(adler, slots[i].adler, static_cast<z_off_t>(slots[i].rawSize));
      if (!sink(user, slots[i].out.GetPtr(), slots[i].outSize)) return 0;
    }
    const u32 done = first + count < bands ? (first + count) * bandRows : height;
    if (poll && !poll(user, done)) return 0;
  }
  const u8 tail[4] = {static_cast<u8>(adler >> 24), static_cast<u8>(adler >> 16), static_cast<u8>(adler >> 8),
                      static_cast<u8>(adler)};
  return sink(user, tail, 4);
}
