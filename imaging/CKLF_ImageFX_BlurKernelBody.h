// The sampled small-sigma kernel on lines of bytes, rows or columns of a
// plane, with the bytes of the double-precision lane path. Included once
// for each instruction set, inside a namespace of its own (KLF_KERNEL_ISA):
// the including file's compiler options choose the instructions.
//
// The byte written is the truncated quotient D of taps summed in double in
// a fixed order. D differs from the real weighted mean R by under 1e-12,
// so trunc(D) = trunc(R) unless R lies that close to an integer. R is first
// estimated in single precision (error below 1.6e-4, see kNear); wherever
// the estimate lies within kNear of an integer (flat and evenly sloped
// stretches, about 0.05 % of noisy ones) the group of eight is looked at
// again: flat taps take the byte the double sum gives for their value (a
// table made by that sum), taps whose differences from the integer decide
// the side of R take the byte of that side, and if any other remains, the
// group is summed again in double, in the fixed order, and that quotient
// is written.
#include <immintrin.h>

#include <cstring>
#include <type_traits>

#include "CKLF_ImageFX_BlurKernel.h"

// Vectors pass between always-inlined helpers only, never across a call.
#pragma GCC diagnostic ignored "-Wpsabi"

#define KLF_FORCE inline __attribute__((always_inline))
#define KLF_INLINE __attribute__((always_inline))

namespace klf_kernel {
namespace KLF_KERNEL_ISA {

typedef i32 I8 __attribute__((vector_size(32)));
typedef f64 D4 __attribute__((vector_size(32)));
typedef f32 F4 __attribute__((vector_size(16)));

// The estimate's sums stay below 256, where a rounding errs by at most
// 2^-17. With 10 taps a side it takes at most 19 roundings (10 products
// and 9 adds; 10 with fused multiply-adds; a pair of taps adds exactly),
// and each weight in single precision errs by 2^-24 of itself:
// |estimate - R| <= 19 * 2^-17 + 2^-24 * 255 < 1.6e-4, and D lies within
// 1e-12 of R. kNear keeps a margin above that.
constexpr f32 kNear = 1.0f / 4096.0f;

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

KLF_FORCE D4 Low(F8 x) {
  const F4 h = {x[0], x[1], x[2], x[3]};
  return __builtin_convertvector(h, D4);
}
KLF_FORCE D4 High(F8 x) {
  const F4 h = {x[4], x[5], x[6], x[7]};
  return __builtin_convertvector(h, D4);
}

template <class Whole>
KLF_FORCE void QuotientToBytes(D4 s, Whole whole, u8* out) {
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

// Eight samples whose taps run past an end of their lines alike (a row of
// a strip near the plane's top or bottom): ExactSample's sums and order,
// four lanes at a time.
template <u32 N, class Tap>
KLF_FORCE void ExactEightAt(const Weights& k, Tap tap, i64 i, i64 m, u8* out) {
  const D4 border = {k.border, k.border, k.border, k.border};
  D4 lo = {0.0, 0.0, 0.0, 0.0}, hi = lo;
  f64 ws = 0.0;
  // Tap t at offset, inside the line or not; 0 where the walk stops.
  auto add = [&](u32 t, i32 offset, bool inside) KLF_INLINE {
    if (inside) {
      const F8 x = tap(offset);
      lo += k.w[t] * Low(x);
      hi += k.w[t] * High(x);
    } else if (k.borderFlag) {
      lo += k.w[t] * border;
      hi += k.w[t] * border;
    } else {
      return false;
    }
    ws += k.w[t];
    return true;
  };
  for (u32 t = 0; t < N && add(t, static_cast<i32>(t), i + t < m); ++t) {
  }
  for (u32 t = 1; t < N && add(t, -static_cast<i32>(t), i >= t); ++t) {
  }
  QuotientToBytes(lo, ws, out);
  QuotientToBytes(hi, ws, out + 4);
}

// Weights of eight neighbouring samples near an end of a line of m, per
// lane and tap: 0 for a tap past the end when the walk stops there (it then
// adds nothing to either sum, so the sums are exactly ExactSample's).
struct EndWeights {
  u32 at;  // first of the eight
  D4 forward[kMaxTaps][2], backward[kMaxTaps][2];
};

inline void EndWeightsOf(const Weights& k, u32 at, u32 m, EndWeights& e) {
  e.at = at;
  for (u32 t = 0; t < k.n; ++t)
    for (u32 c = 0; c < 8; ++c) {
      const u32 p = at + c;
      e.forward[t][c / 4][c % 4] = p + t < m || k.borderFlag ? k.w[t] : 0.0;
      e.backward[t][c / 4][c % 4] = p >= t || k.borderFlag ? k.w[t] : 0.0;
    }
}

// The eight samples of e, tap(t) reading past the ends the border value
// (or 0 where the walk stops), summed as ExactSample sums.
template <u32 N, class Tap>
KLF_FORCE void ExactEightEnd(const EndWeights& e, Tap tap, u8* out) {
  D4 lo = {0.0, 0.0, 0.0, 0.0}, hi = lo, wlo = lo, whi = lo;
  for (u32 t = 0; t < N; ++t) {
    const F8 x = tap(static_cast<i32>(t));
    lo += e.forward[t][0] * Low(x);
    hi += e.forward[t][1] * High(x);
    wlo += e.forward[t][0];
    whi += e.forward[t][1];
  }
  for (u32 t = 1; t < N; ++t) {
    const F8 x = tap(-static_cast<i32>(t));
    lo += e.backward[t][0] * Low(x);
    hi += e.backward[t][1] * High(x);
    wlo += e.backward[t][0];
    whi += e.backward[t][1];
  }
  QuotientToBytes(lo, wlo, out);
  QuotientToBytes(hi, whi, out + 4);
}

// Calls f(t) for t = T..N-1, each t known when built.
template <u32 T, u32 N, class F>
KLF_FORCE void Unroll(F f) {
  if constexpr (T < N) {
    f(std::integral_constant<u32, T>{});
    Unroll<T + 1, N>(f);
  }
}

// acc + v * p, in one rounding where the build has fused multiply-adds.
KLF_FORCE F8 MulAdd(F8 v, F8 p, F8 acc) {
#ifdef __FMA__
  return reinterpret_cast<F8>(_mm256_fmadd_ps(reinterpret_cast<__m256>(v), reinterpret_cast<__m256>(p),
                                              reinterpret_cast<__m256>(acc)));
#else
  return acc + v * p;
#endif
}

// Near-flat windows (a step of one reaching only the outer taps) put R a
// hair beside an integer p, closer than the estimate can tell. R - p is
// then summed again, from the differences: R - p = sum_t (w_t / W) e_t,
// e_0 = s_0 - p and e_t = s_t + s_-t - 2p small exact integers, W the real
// sum of the weights. Dev sums v_t e_t, Mag sums v_t |e_t|, both in single
// precision; each v_t errs by 2^-24 (plus 2^-48) of w_t / W, and N products
// and their sums by at most N 2^-24 of Mag, so with N <= 10:
// |Dev - (R - p)| <= 12.1 2^-24 Mag < 2^-19 Mag (an underflow errs below
// 2^-100). Where |Dev| > 2^-19 Mag + 2^-30, R lies over 1e-12 from p on
// Dev's side, D on the same side, and its byte is p or p - 1. Flat and
// symmetric windows give Dev = Mag = 0 and keep the exact sums.
constexpr f32 kDevErr = 1.0f / 524288.0f;
constexpr f32 kDevFloor = 1.0f / 1073741824.0f;

KLF_FORCE F8 Abs(F8 x) {
  const I8 noSign = {0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff,
                     0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff};
  return reinterpret_cast<F8>(reinterpret_cast<I8>(x) & noSign);
}

KLF_FORCE bool Any(I8 mask) {
#ifdef __AVX2__
  return !_mm256_testz_si256(reinterpret_cast<__m256i>(mask), reinterpret_cast<__m256i>(mask));
#else
  __m128i lo, hi;
  std::memcpy(&lo, &mask, 16);
  std::memcpy(&hi, reinterpret_cast<const u8*>(&mask) + 16, 16);
  return _mm_movemask_epi8(_mm_or_si128(lo, hi)) != 0;
#endif
}

// Eight samples of which some estimates (acc) came near an integer: those
// whose taps all hold one value (flat stretches, the usual case) take its
// byte from the table, those the difference sum decides take p or p - 1;
// if any other came near, all eight are summed exactly.
template <u32 N, class Tap>
KLF_FORCE void Near(const Weights& k, Tap tap, F8 acc, u8* out) {
  const F8 centre = tap(0), half = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  const I8 whole = __builtin_convertvector(acc + half, I8);
  const F8 p = __builtin_convertvector(whole, F8);
  // The differences are exact integers: their bits are all clear where
  // every tap holds p.
  F8 d = centre - p;
  I8 bits = reinterpret_cast<I8>(d);
  F8 dev = k.v8[0] * d, mag = k.v8[0] * Abs(d);
  for (u32 t = 1; t < N; ++t) {
    const F8 a = tap(static_cast<i32>(t)) - p, b = tap(-static_cast<i32>(t)) - p;
    bits |= reinterpret_cast<I8>(a) | reinterpret_cast<I8>(b);
    d = a + b;
    dev = MulAdd(k.v8[t], d, dev);
    mag = MulAdd(k.v8[t], Abs(d), mag);
  }
  const I8 same = bits == 0;
  const F8 err = {kDevErr, kDevErr, kDevErr, kDevErr, kDevErr, kDevErr, kDevErr, kDevErr};
  const F8 floor = {kDevFloor, kDevFloor, kDevFloor, kDevFloor, kDevFloor, kDevFloor, kDevFloor, kDevFloor};
  const F8 nearBy = {kNear, kNear, kNear, kNear, kNear, kNear, kNear, kNear};
  const I8 decided = Abs(dev) > mag * err + floor;
  const I8 open = (Abs(acc - p) < nearBy) & ~same & ~decided;
  const F8 zero = {};
  if (Any(open)) return ExactEight<N>(k, tap, out);
  const I8 value = __builtin_convertvector(centre, I8);
  I8 flat;
#ifdef __AVX2__
  flat = reinterpret_cast<I8>(_mm256_i32gather_epi32(k.flatWide, reinterpret_cast<__m256i>(value), 4));
#else
  for (u32 c = 0; c < 8; ++c) flat[c] = k.flatWide[value[c] & 255];
#endif
  const I8 byte = same ? flat : decided ? whole + (dev < zero) : __builtin_convertvector(acc, I8);
  __m128i lo, hi;
  std::memcpy(&lo, &byte, 16);
  std::memcpy(&hi, reinterpret_cast<const u8*>(&byte) + 16, 16);
  const __m128i words = _mm_packs_epi32(lo, hi);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

// Groups of eight whose estimate came near an integer, by near's lanes.
template <u32 N, u32 U, class Tap>
KLF_FORCE void NearGroups(const Weights& k, Tap tap, const F8* acc, const u8* near, u8* out) {
  for (u32 u = 0; u < U; ++u)
    if (near[u])
      Near<N>(
          k, [&](i32 t) KLF_INLINE { return tap(t, u); }, acc[u], out + 8 * u);
}

// U groups of eight neighbouring interior samples into out: tap(t, u) gives
// group u's values t samples on. N taps a side, known when built. Groups
// whose estimate comes near an integer are summed again exactly.
template <u32 N, u32 U, class Tap>
KLF_FORCE void Samples(const Weights& k, Tap tap, u8* out) {
  // One chain of sums a group: the groups overlap one another, and fewer
  // operations beat shorter chains here.
  F8 acc[U];
  for (u32 u = 0; u < U; ++u) acc[u] = k.v8[0] * tap(0, u);
  Unroll<1, N>([&](auto tc) KLF_INLINE {
    constexpr u32 t = decltype(tc)::value;
    const F8 v = k.v8[t];
    for (u32 u = 0; u < U; ++u) {
      const F8 p = tap(static_cast<i32>(t), u) + tap(-static_cast<i32>(t), u);
      acc[u] = MulAdd(v, p, acc[u]);
    }
  });
  u8 near[U];
#ifdef __AVX2__
  if constexpr (U == 4) {
    // Whole parts packed to 32 bytes at once (the packs work per half). A
    // sum lies within kNear of an integer when its distance to the nearest
    // one (exact in single precision) is below kNear; the closest of the 32
    // tells whether any does.
    __m256i whole[U];
    __m256 dist[U];
    const __m256 noSign = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff)), margin = _mm256_set1_ps(kNear);
    for (u32 u = 0; u < U; ++u) {
      const __m256 a = reinterpret_cast<__m256>(acc[u]);
      whole[u] = _mm256_cvttps_epi32(a);
      const __m256 nearest = _mm256_round_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
      dist[u] = _mm256_and_ps(_mm256_sub_ps(a, nearest), noSign);
    }
    const __m256 closest = _mm256_min_ps(_mm256_min_ps(dist[0], dist[1]), _mm256_min_ps(dist[2], dist[3]));
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(whole[0], whole[1]),
                                              _mm256_packs_epi32(whole[2], whole[3]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
    const __m256 anyNear = _mm256_cmp_ps(closest, margin, _CMP_LT_OQ);
    if (__builtin_expect(_mm256_testz_ps(anyNear, anyNear), 1)) return;
    for (u32 u = 0; u < U; ++u) near[u] = _mm256_movemask_ps(_mm256_cmp_ps(dist[u], margin, _CMP_LT_OQ)) != 0;
    return NearGroups<N, U>(k, tap, acc, near, out);
  }
#endif
  __m128i words[U], nearAny = _mm_setzero_si128(), nears[U];
  for (u32 u = 0; u < U; ++u) {
    const I8 whole = __builtin_convertvector(acc[u], I8);
    const F8 frac = acc[u] - __builtin_convertvector(whole, F8);
    const I8 isNear = (frac < kNear) | (frac > 1.0f - kNear);
    __m128i lo, hi, nlo, nhi;
    std::memcpy(&lo, &whole, 16);
    std::memcpy(&hi, reinterpret_cast<const u8*>(&whole) + 16, 16);
    std::memcpy(&nlo, &isNear, 16);
    std::memcpy(&nhi, reinterpret_cast<const u8*>(&isNear) + 16, 16);
    words[u] = _mm_packs_epi32(lo, hi);
    nears[u] = _mm_or_si128(nlo, nhi);
    nearAny = _mm_or_si128(nearAny, nears[u]);
  }
  for (u32 u = 0; u + 1 < U; u += 2)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * u), _mm_packus_epi16(words[u], words[u + 1]));
  if (U & 1)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8 * (U - 1)), _mm_packus_epi16(words[U - 1], words[U - 1]));
  if (__builtin_expect(_mm_movemask_epi8(nearAny) == 0, 1)) return;
  for (u32 u = 0; u < U; ++u) near[u] = _mm_movemask_epi8(nears[u]) != 0;
  NearGroups<N, U>(k, tap, acc, near, out);
}

// Rows g0..g1-1, each a line of m bytes at step 1. The row's floats keep
// kPad values before and after it: the border value, or 0 where the walk
// stops at the ends.
constexpr u32 kPad = 16;

template <u32 N>
KLF_FORCE void RowsBody(const Weights& k, const CKLF_ImageFX::Lines& in, const CKLF_ImageFX::Lines& out,
                        const CKLF_ImageFX::Lines* alpha, u32 g0, u32 g1, u32 m, Scratch s) {
  const u32 n = N;
  f32* f = s.line + kPad;
  const f32 pad = k.borderFlag ? static_cast<f32>(k.border) : 0.0f;
  for (u32 j = 0; j < kPad; ++j) f[-1 - static_cast<i32>(j)] = f[m + j] = pad;
  // Lines of 32 and more: the ends in groups of eight (two a side when the
  // kernel reaches past eight samples), the rest between them.
  const u32 ends = m >= 32 ? (n - 1 + 7) / 8 : 0;
  EndWeights end[4];
  for (u32 e = 0; e < ends; ++e) {
    EndWeightsOf(k, 8 * e, m, end[2 * e]);
    EndWeightsOf(k, m - 8 * (e + 1), m, end[2 * e + 1]);
  }
  const u32 lo = ends ? 8 * ends : n - 1, hi = ends ? m - 8 * ends : m - (n - 1);
  for (u32 g = g0; g < g1; ++g) {
    const u8* src = static_cast<const u8*>(in.base) + static_cast<i64>(g) * in.lineStep;
    const u8* a = alpha ? static_cast<const u8*>(alpha->base) + static_cast<i64>(g) * alpha->lineStep : nullptr;
    if (a && alpha->zeroLines[g]) {
      CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(src, s.rec, m, a);
      for (u32 i = 0; i < m; ++i) f[i] = static_cast<u8>(s.rec[i]);
    } else {
      for (u32 i = 0; i < m; ++i) f[i] = src[i];
    }
    u8* dst = static_cast<u8*>(out.base) + static_cast<i64>(g) * out.lineStep;
    auto at = [f](i64 j) KLF_INLINE { return static_cast<f64>(f[j]); };
    for (u32 e = 0; e < 2 * ends; ++e)
      ExactEightEnd<N>(
          end[e], [&](i32 t) KLF_INLINE { return *reinterpret_cast<const F8*>(f + end[e].at + t); },
          dst + end[e].at);
    if (!ends)
      for (u32 i = 0; i < lo; ++i) dst[i] = ExactSample(k, at, i, m);
    u32 i = lo;
    for (; i + 32 <= hi; i += 32)
      Samples<N, 4>(
          k, [&](i32 t, u32 u) KLF_INLINE { return *reinterpret_cast<const F8*>(f + i + 8 * u + t); }, dst + i);
    for (; i + 8 <= hi; i += 8)
      Samples<N, 1>(
          k, [&](i32 t, u32) KLF_INLINE { return *reinterpret_cast<const F8*>(f + i + t); }, dst + i);
    // Between the end groups, or up to the line's end without them.
    for (; i < (ends ? hi : m); ++i) dst[i] = ExactSample(k, at, i, m);
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
      u8 tail[8];
      for (u32 c = 0; c < w; c += 8) {
        u8* o = c + 8 <= w ? dst + c : tail;
        ExactEightAt<N>(
            k, [&](i32 t) KLF_INLINE { return *reinterpret_cast<const F8*>(row(y + t) + c); }, y, m, o);
        if (o == tail) std::memcpy(dst + c, tail, w - c);
      }
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

}  // namespace KLF_KERNEL_ISA
}  // namespace klf_kernel
