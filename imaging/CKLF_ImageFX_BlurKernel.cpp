// The sampled small-sigma kernel on lines of bytes, rows or columns of a
// plane, with the bytes of the double-precision lane path.
//
// The byte written is the truncated quotient D of taps summed in double in
// a fixed order. D differs from the real weighted mean R by under 1e-12,
// so trunc(D) = trunc(R) unless R lies that close to an integer. R is first
// estimated in single precision (error below 1.9e-4, see kNear); wherever
// the estimate lies within kNear of an integer (flat and evenly sloped
// stretches, about 0.2 % of noisy ones) the group of eight is looked at
// again: flat taps take the byte the double sum gives for their value (a
// table made by that sum), others are summed again in double, in the fixed
// order, and that quotient is written.
#include <emmintrin.h>

#include <cstring>

#include "CKLF_ImageFX.h"
#include "KLF_Parallel.h"

// Vectors pass between always-inlined helpers only, never across a call.
#pragma GCC diagnostic ignored "-Wpsabi"

// Everything below runs inside the task built for the chosen vector width,
// lambdas included.
#define KLF_FORCE inline __attribute__((always_inline))
#define KLF_INLINE __attribute__((always_inline))

namespace {

typedef f32 F8 __attribute__((vector_size(32), aligned(4), may_alias));
typedef i32 I8 __attribute__((vector_size(32)));
typedef f64 D4 __attribute__((vector_size(32)));
typedef f32 F4 __attribute__((vector_size(16)));

// Each term of the single-precision estimate passes at most 11 roundings
// (its product and its chain's adds, with 19 taps a side; a pair of taps
// adds exactly) and its weight one more: |estimate - R| <= 12 * 2^-24 * 255
// < 1.9e-4, and D lies within 1e-12 of R. The margin keeps five times that.
constexpr f32 kNear = 1.0f / 1024.0f;

// Strip of columns a task filters down the plane, and lines a row task takes.
constexpr u32 kStrip = 256;
constexpr u32 kRowsPerTask = 16;
constexpr u32 kAhead = 8;  // rows read ahead down a strip
constexpr u32 kMaxTaps = 10;

struct Weights {
  u32 n;         // taps each side, centre included
  f64 w[20];     // the kernel, centre first
  f64 whole;     // their sum over both sides, in the lane path's order
  f32 v[20];     // w / whole in single precision
  F8 v8[20];     // the same, eight across
  u8 flat[256];  // the byte of an interior sample whose taps all hold p
  u8 borderFlag;
  f64 border;
};

inline u8 ToByte(f64 v) {
  v = v > 0.0 ? v : 0.0;
  v = v < 255.0 ? v : 255.0;
  return static_cast<u8>(static_cast<i32>(v));
}

// One sample anywhere on a line of m, taps at(j) summed as the lane path
// sums them: forward taps, then backward ones; past an end the border
// value, or the walk stops there.
template <class At>
KLF_FORCE u8 ExactSample(const Weights& k, At at, i64 i, i64 m) {
  f64 sum = 0.0, ws = 0.0;
  for (u32 t = 0; t < k.n; ++t) {
    if (i + t < m) {
      sum += k.w[t] * at(i + t);
    } else if (k.borderFlag) {
      sum += k.w[t] * k.border;
    } else {
      break;
    }
    ws += k.w[t];
  }
  for (u32 t = 1; t < k.n; ++t) {
    if (i >= t) {
      sum += k.w[t] * at(i - t);
    } else if (k.borderFlag) {
      sum += k.w[t] * k.border;
    } else {
      break;
    }
    ws += k.w[t];
  }
  return ToByte(sum / ws);
}

Weights WeightsOf(const CKLF_ImageFX::STRUCT_Blur_VectorData& rec) {
  Weights k;
  k.n = rec.kernelLength;
  k.whole = 0.0;
  for (u32 i = 0; i < k.n; ++i) k.w[i] = rec.kernel[i];
  for (u32 i = 0; i < k.n; ++i) k.whole += k.w[i];
  for (u32 i = 1; i < k.n; ++i) k.whole += k.w[i];
  for (u32 i = 0; i < k.n; ++i) k.v[i] = static_cast<f32>(k.w[i] / k.whole);
  for (u32 i = 0; i < k.n; ++i)
    for (u32 c = 0; c < 8; ++c) k.v8[i][c] = k.v[i];
  k.borderFlag = rec.borderFlag;
  k.border = rec.borderValue;
  for (u32 p = 0; p < 256; ++p)
    k.flat[p] = ExactSample(
        k, [p](i64) { return static_cast<f64>(p); }, k.n, 2 * k.n);
  return k;
}

KLF_FORCE D4 Low(F8 x) {
  const F4 h = {x[0], x[1], x[2], x[3]};
  return __builtin_convertvector(h, D4);
}
KLF_FORCE D4 High(F8 x) {
  const F4 h = {x[4], x[5], x[6], x[7]};
  return __builtin_convertvector(h, D4);
}

KLF_FORCE void QuotientToBytes(D4 s, f64 whole, u8* out) {
  const D4 zero = {0.0, 0.0, 0.0, 0.0}, top = {255.0, 255.0, 255.0, 255.0};
  D4 q = s / whole;
  q = q > zero ? q : zero;
  q = q < top ? q : top;
  for (u32 c = 0; c < 4; ++c) out[c] = static_cast<u8>(static_cast<i32>(q[c]));
}

// The eight samples of tap(t) (t samples on; negative: back) summed in
// double in the fixed order, as bytes into out.
template <u32 N, class Tap>
KLF_FORCE void ExactEight(const Weights& k, Tap tap, u8* out) {
  D4 lo = {0.0, 0.0, 0.0, 0.0}, hi = lo;
  for (u32 t = 0; t < N; ++t) {
    const F8 x = tap(static_cast<i32>(t));
    lo += k.w[t] * Low(x);
    hi += k.w[t] * High(x);
  }
  for (u32 t = 1; t < N; ++t) {
    const F8 x = tap(-static_cast<i32>(t));
    lo += k.w[t] * Low(x);
    hi += k.w[t] * High(x);
  }
  QuotientToBytes(lo, k.whole, out);
  QuotientToBytes(hi, k.whole, out + 4);
}

// Eight samples of which some estimates came near an integer: those whose
// taps all hold one value (flat stretches, the usual case) take its byte
// from the table; if any other came near, all eight are summed exactly.
template <u32 N, class Tap>
KLF_FORCE void Near(const Weights& k, Tap tap, u8* out) {
  const F8 centre = tap(0);
  I8 same = centre == centre;
  for (u32 t = 1; t < N; ++t) same &= (tap(static_cast<i32>(t)) == centre) & (tap(-static_cast<i32>(t)) == centre);
  u8 all = 1;
  for (u32 c = 0; c < 8; ++c) all &= same[c] != 0;
  if (!all) return ExactEight<N>(k, tap, out);
  for (u32 c = 0; c < 8; ++c) out[c] = k.flat[static_cast<u32>(centre[c])];
}

// U groups of eight neighbouring interior samples into out: tap(t, u) gives
// group u's values t samples on. N taps a side, known when built. Groups
// whose estimate comes near an integer are summed again exactly.
template <u32 N, u32 U, class Tap>
KLF_FORCE void Samples(const Weights& k, Tap tap, u8* out) {
  // Two chains of sums a group, so that the adds overlap.
  F8 even[U], odd[U];
  for (u32 u = 0; u < U; ++u) even[u] = k.v8[0] * tap(0, u), odd[u] = F8{};
  for (u32 t = 1; t < N; ++t) {
    const F8 v = k.v8[t];
    for (u32 u = 0; u < U; ++u) {
      const F8 term = v * (tap(static_cast<i32>(t), u) + tap(-static_cast<i32>(t), u));
      if (t & 1)
        odd[u] += term;
      else
        even[u] += term;
    }
  }
  __m128i words[U], nearAny = _mm_setzero_si128(), nears[U];
  for (u32 u = 0; u < U; ++u) {
    const F8 acc = even[u] + odd[u];
    const I8 whole = __builtin_convertvector(acc, I8);
    const F8 frac = acc - __builtin_convertvector(whole, F8);
    const I8 near = (frac < kNear) | (frac > 1.0f - kNear);
    __m128i lo, hi, nlo, nhi;
    std::memcpy(&lo, &whole, 16);
    std::memcpy(&hi, reinterpret_cast<const u8*>(&whole) + 16, 16);
    std::memcpy(&nlo, &near, 16);
    std::memcpy(&nhi, reinterpret_cast<const u8*>(&near) + 16, 16);
    words[u] = _mm_packs_epi32(lo, hi);
    nears[u] = _mm_or_si128(nlo, nhi);
    nearAny = _mm_or_si128(nearAny, nears[u]);
  }
  for (u32 u = 0; u + 1 < U; u += 2)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * u), _mm_packus_epi16(words[u], words[u + 1]));
  if (U & 1)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8 * (U - 1)), _mm_packus_epi16(words[U - 1], words[U - 1]));
  if (__builtin_expect(_mm_movemask_epi8(nearAny) == 0, 1)) return;
  for (u32 u = 0; u < U; ++u)
    if (_mm_movemask_epi8(nears[u]))
      Near<N>(
          k, [&](i32 t) KLF_INLINE { return tap(t, u); }, out + 8 * u);
}

// Work buffers of one worker.
struct Scratch {
  f32* line;  // a row as floats
  f64* rec;   // the row after zero-alpha recovery
  f32* ring;  // 2n - 1 rows of a strip
};

// Rows g0..g1-1, each a line of m bytes at step 1.
template <u32 N>
KLF_FORCE void RowsBody(const Weights& k, const CKLF_ImageFX::Lines& in, const CKLF_ImageFX::Lines& out,
                        const CKLF_ImageFX::Lines* alpha, u32 g0, u32 g1, u32 m, Scratch s) {
  const u32 n = N;
  f32* f = s.line;
  for (u32 g = g0; g < g1; ++g) {
    const u8* src = static_cast<const u8*>(in.base) + static_cast<i64>(g) * in.lineStep;
    const u8* a = alpha ? static_cast<const u8*>(alpha->base) + static_cast<i64>(g) * alpha->lineStep : nullptr;
    if (a && std::memchr(a, 0, m)) {
      CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(src, s.rec, m, a);
      for (u32 i = 0; i < m; ++i) f[i] = static_cast<u8>(s.rec[i]);
    } else {
      for (u32 i = 0; i < m; ++i) f[i] = src[i];
    }
    u8* dst = static_cast<u8*>(out.base) + static_cast<i64>(g) * out.lineStep;
    auto at = [f](i64 j) KLF_INLINE { return static_cast<f64>(f[j]); };
    const u32 lo = n - 1, hi = m - (n - 1);
    for (u32 i = 0; i < lo; ++i) dst[i] = ExactSample(k, at, i, m);
    u32 i = lo;
    for (; i + 32 <= hi; i += 32)
      Samples<N, 4>(
          k, [&](i32 t, u32 u) KLF_INLINE { return *reinterpret_cast<const F8*>(f + i + 8 * u + t); }, dst + i);
    for (; i + 8 <= hi; i += 8)
      Samples<N, 1>(
          k, [&](i32 t, u32) KLF_INLINE { return *reinterpret_cast<const F8*>(f + i + t); }, dst + i);
    for (; i < m; ++i) dst[i] = ExactSample(k, at, i, m);
  }
}

// Columns x0..x0+w-1 of a plane of m rows (lines side by side at step 1),
// through a ring of the last 2n - 1 rows, so that out may be in.
template <u32 N>
KLF_FORCE void StripBody(const Weights& k, const CKLF_ImageFX::Lines& in, const CKLF_ImageFX::Lines& out, u32 x0, u32 w,
                         u32 m, Scratch s) {
  const u32 n = N, R = 2 * n - 1, S = (w + 31) & ~31u;
  auto row = [&](u32 y) KLF_INLINE { return s.ring + static_cast<u64>(y % R) * S; };
  auto emit = [&](u32 y) KLF_INLINE {
    u8* dst = static_cast<u8*>(out.base) + static_cast<i64>(y) * out.step + x0;
    if (y < n - 1 || y + n - 1 >= m) {
      for (u32 c = 0; c < w; ++c)
        dst[c] = ExactSample(
            k, [&](i64 j) KLF_INLINE { return static_cast<f64>(row(static_cast<u32>(j))[c]); }, y, m);
      return;
    }
    const f32* rows[40];
    for (u32 t = 0; t < R; ++t) rows[t] = row(y + t - (n - 1));
    const f32* const* mid = rows + (n - 1);
    u8 tail[32];
    for (u32 c = 0; c < S; c += 32) {
      u8* o = c + 32 <= w ? dst + c : tail;
      Samples<N, 4>(
          k, [&](i32 t, u32 u) KLF_INLINE { return *reinterpret_cast<const F8*>(mid[t] + c + 8 * u); }, o);
      if (o == tail) std::memcpy(dst + c, tail, w - c);
    }
  };
  for (u32 y = 0; y < m; ++y) {
    const u8* src = static_cast<const u8*>(in.base) + static_cast<i64>(y) * in.step + x0;
    // Rows further down are far apart: ask for them early.
    if (y + kAhead < m)
      for (u32 c = 0; c < w; c += 64) __builtin_prefetch(src + kAhead * in.step + c);
    f32* r = row(y);
    for (u32 c = 0; c < w; ++c) r[c] = src[c];
    for (u32 c = w; c < S; ++c) r[c] = 0.0f;
    if (y >= n - 1) emit(y - (n - 1));
  }
  for (u32 y = m - (n - 1); y < m; ++y) emit(y);
}

struct Job {
  Weights k;
  CKLF_ImageFX::Lines in, out;
  const CKLF_ImageFX::Lines* alpha;
  u32 lineCount, length, strip;
  u8 rows;
};

typedef void (*TaskFn)(const Job&, u32, Scratch);

template <u32 N>
KLF_FORCE void TaskOf(const Job& j, u32 task, Scratch s) {
  if (j.rows) {
    const u32 g0 = task * kRowsPerTask, g1 = g0 + kRowsPerTask < j.lineCount ? g0 + kRowsPerTask : j.lineCount;
    RowsBody<N>(j.k, j.in, j.out, j.alpha, g0, g1, j.length, s);
  } else {
    const u32 x0 = task * j.strip, w = x0 + j.strip < j.lineCount ? j.strip : j.lineCount - x0;
    StripBody<N>(j.k, j.in, j.out, x0, w, j.length, s);
  }
}

// Kernels below sigma 1.5 run 2 to 10 taps a side; each length gets its own
// unrolled body (longer ones keep the lane path).
template <u32 N>
KLF_FORCE void TaskUpTo(const Job& j, u32 task, Scratch s) {
  if constexpr (N >= 2) {
    if (j.k.n == N) return TaskOf<N>(j, task, s);
    TaskUpTo<N - 1>(j, task, s);
  }
}

// Built for AVX2 and for the baseline, chosen once at run time.
__attribute__((target("avx2"))) void TaskAvx2(const Job& j, u32 task, Scratch s) { TaskUpTo<kMaxTaps>(j, task, s); }
void TaskBase(const Job& j, u32 task, Scratch s) { TaskUpTo<kMaxTaps>(j, task, s); }
TaskFn TaskFor() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? TaskAvx2 : TaskBase;
}
const TaskFn Task = TaskFor();

u64 CacheLines(u64 bytes) { return (bytes + 63) & ~u64(63); }

// A worker's buffers for lines up to length long: a row and its recovery,
// or the ring of a strip.
u64 WorkerBytes(u32 n, u32 length) {
  const u64 row = CacheLines(length * sizeof(f32)) + CacheLines(length * sizeof(f64));
  const u64 ring = (2ull * n - 1) * kStrip * sizeof(f32);
  return CacheLines(row > ring ? row : ring);
}

}  // namespace

u8 CKLF_ImageFX::i_KernelLinesFit(const STRUCT_Blur_VectorData& rec, const Lines& in, const Lines& out,
                                  const Lines* alpha, u32 length) {
  if (!rec.smallSigma || !(rec.sigma >= 0.1) || in.isFloat || out.isFloat) return 0;
  if (rec.kernelLength < 2 || rec.kernelLength > kMaxTaps || length < 2u * rec.kernelLength - 1) return 0;
  const u8 rows = in.step == 1 && out.step == 1 && (!alpha || alpha->step == 1);
  const u8 columns = in.lineStep == 1 && out.lineStep == 1 && !alpha;
  return rows || columns;
}

u8 CKLF_ImageFX::i_GrowKernelLines(const STRUCT_Blur_VectorData& rec, u32 length) {
  if (!rec.smallSigma) return 1;
  const u64 workers = KLF_Parallel::Resolve(m_threads);
  return i_Grow(m_kernelBuffer, workers * WorkerBytes(rec.kernelLength, length)) ? 1 : 0;
}

u8 CKLF_ImageFX::i_KernelLines(const STRUCT_Blur_VectorData& rec, const Lines& in, const Lines& out, const Lines* alpha,
                               u32 lineCount, u32 length) {
  if (!i_GrowKernelLines(rec, length)) return 0;
  Job j = {WeightsOf(rec), in, out, alpha, lineCount, length, kStrip, 0};
  j.rows = in.step == 1 && out.step == 1 && (!alpha || alpha->step == 1);
  // Narrow planes are cut into narrower strips so that every thread works.
  const u32 workers = KLF_Parallel::Resolve(m_threads);
  if (!j.rows) {
    const u32 want = (lineCount + 2 * workers - 1) / (2 * workers);
    j.strip = want >= kStrip ? kStrip : (want < 32 ? 32 : (want + 7) & ~7u);
  }
  const u32 tasks = j.rows ? (lineCount + kRowsPerTask - 1) / kRowsPerTask : (lineCount + j.strip - 1) / j.strip;
  u8* base = m_kernelBuffer.GetPtr();
  const u64 each = WorkerBytes(rec.kernelLength, length);
  const u64 lineBytes = CacheLines(length * sizeof(f32));
  KLF_Parallel::For(m_threads, tasks, [&](u32 task, u32 worker) {
    u8* mine = base + worker * each;
    const Scratch s = {reinterpret_cast<f32*>(mine), reinterpret_cast<f64*>(mine + lineBytes),
                       reinterpret_cast<f32*>(mine)};
    Task(j, task, s);
  });
  return 1;
}
