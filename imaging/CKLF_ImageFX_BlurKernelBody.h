// The sampled small-sigma kernel on lines of bytes, rows or columns of a
// plane, with the bytes of the double-precision lane path. Included once
// for each instruction set, inside a namespace of its own (KLF_KERNEL_ISA):
// the including file's compiler options choose the instructions.
//
// The byte written is the truncated quotient D of taps summed in double in
// a fixed order. D differs from the real weighted mean R by under 1e-12,
// so trunc(D) = trunc(R) unless R lies that close to an integer. R is first
// estimated in single precision (see kNear for its error). Samples whose
// taps all hold one value (found from runs of equal neighbours) take the
// byte the double sum gives for that value, from a table. Others whose
// estimate lies within kNear of an integer (evenly sloped stretches, steps
// at outer taps; about 0.05 % of noisy samples) are listed and decided once
// the line is done: their differences from the integer tell the side of R,
// or, where they cannot, they are summed again in double in the fixed
// order. Rows whose samples repeat the row above take its bytes.
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
// 1e-12 of R. kNear keeps a margin above that. Fused, the bound is
// 10 * 2^-17 + 2^-24 * 255 < 9.2e-5, and half the margin suffices: fewer
// samples of smooth pictures (a step at an outer tap) come near.
#ifdef __FMA__
constexpr f32 kNear = 1.0f / 8192.0f;
#else
constexpr f32 kNear = 1.0f / 4096.0f;
#endif

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

// acc + v * p for one lane, as MulAdd does for eight.
KLF_FORCE f32 MulAdd1(f32 v, f32 p, f32 acc) {
#ifdef __FMA__
  return __builtin_fmaf(v, p, acc);
#else
  return acc + v * p;
#endif
}

// Bits of an eight-lane mask, lane c at bit c.
KLF_FORCE u32 LaneBits(I8 mask) {
#ifdef __AVX2__
  return static_cast<u32>(_mm256_movemask_ps(reinterpret_cast<__m256>(mask)));
#else
  __m128 lo, hi;
  std::memcpy(&lo, &mask, 16);
  std::memcpy(&hi, reinterpret_cast<const u8*>(&mask) + 16, 16);
  return static_cast<u32>(_mm_movemask_ps(lo) | _mm_movemask_ps(hi) << 4);
#endif
}

// Byte work on 32 bytes at once: whole registers with AVX2, halves
// without (wider vectors would be split element by element there).
#ifdef __AVX2__
typedef __m256i Bytes;
constexpr u32 kBytesWide = 32;
KLF_FORCE Bytes LoadBytes(const u8* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
KLF_FORCE void StoreBytes(u8* p, Bytes x) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x); }
KLF_FORCE Bytes Same(Bytes a, Bytes b) { return _mm256_cmpeq_epi8(a, b); }
KLF_FORCE Bytes Fill(u8 v) { return _mm256_set1_epi8(static_cast<char>(v)); }
KLF_FORCE Bytes Max(Bytes a, Bytes b) { return _mm256_max_epu8(a, b); }
KLF_FORCE Bytes Min(Bytes a, Bytes b) { return _mm256_min_epu8(a, b); }
KLF_FORCE Bytes And(Bytes a, Bytes b) { return _mm256_and_si256(a, b); }
KLF_FORCE Bytes Sub(Bytes a, Bytes b) { return _mm256_sub_epi8(a, b); }
KLF_FORCE u32 Bits(Bytes mask) { return static_cast<u32>(_mm256_movemask_epi8(mask)); }
#else
typedef __m128i Bytes;
constexpr u32 kBytesWide = 16;
KLF_FORCE Bytes LoadBytes(const u8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
KLF_FORCE void StoreBytes(u8* p, Bytes x) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x); }
KLF_FORCE Bytes Same(Bytes a, Bytes b) { return _mm_cmpeq_epi8(a, b); }
KLF_FORCE Bytes Fill(u8 v) { return _mm_set1_epi8(static_cast<char>(v)); }
KLF_FORCE Bytes Max(Bytes a, Bytes b) { return _mm_max_epu8(a, b); }
KLF_FORCE Bytes Min(Bytes a, Bytes b) { return _mm_min_epu8(a, b); }
KLF_FORCE Bytes And(Bytes a, Bytes b) { return _mm_and_si128(a, b); }
KLF_FORCE Bytes Sub(Bytes a, Bytes b) { return _mm_sub_epi8(a, b); }
KLF_FORCE u32 Bits(Bytes mask) { return static_cast<u32>(_mm_movemask_epi8(mask)); }
#endif

// Of 32 bytes at a and at b, a bit each where they are equal.
KLF_FORCE u32 EqualBits(const u8* a, const u8* b) {
  u32 bits = 0;
  for (u32 c = 0; c < 32; c += kBytesWide) bits |= Bits(Same(LoadBytes(a + c), LoadBytes(b + c))) << c;
  return bits;
}

// Of 32 counts at p, a bit each where it is at least least.
KLF_FORCE u32 AtLeastBits(const u8* p, u8 least) {
  u32 bits = 0;
  for (u32 c = 0; c < 32; c += kBytesWide) {
    const Bytes x = LoadBytes(p + c);
    bits |= Bits(Same(Max(x, Fill(least)), x)) << c;
  }
  return bits;
}

// Counts at runs grow by one (up to top) where a and b are equal, 32 of
// them, and start again at 0 where they are not.
KLF_FORCE void CountRuns(u8* runs, const u8* a, const u8* b, u8 top) {
  for (u32 c = 0; c < 32; c += kBytesWide) {
    const Bytes r = LoadBytes(runs + c), below = Same(Min(r, Fill(static_cast<u8>(top - 1))), r);
    StoreBytes(runs + c, And(Sub(r, below), Same(LoadBytes(a + c), LoadBytes(b + c))));
  }
}

// Samples whose estimate came near an integer p and whose taps are not
// all one value, listed while a line is filtered and decided once it is
// done: a tight loop over many keeps its branches predictable.
struct NearList {
  u32* at;   // sample's place on the line
  f32* acc;  // its estimate
  u32 n;
};

// Places, as 32-bit integers, of the lanes set in an 8-bit mask, packed to
// the front.
struct Packs {
  u64 at[256];
  constexpr Packs() : at() {
    for (u32 m = 0; m < 256; ++m) {
      u32 n = 0;
      for (u32 c = 0; c < 8; ++c)
        if (m >> c & 1) at[m] |= static_cast<u64>(c) << (8 * n++);
    }
  }
};
constexpr Packs kPacks;

// Lanes of near (at base + c for lane c) onto the list; it has room for
// eight more than it holds.
KLF_FORCE void ListNear(const F8* acc, u32 near, u32 base, NearList& l) {
#ifdef __AVX2__
  // Counted apart from the list: its stores could change it otherwise.
  u32 n = l.n;
  for (u32 u = 0; near; ++u, near >>= 8) {
    const u32 m = near & 255;
    const __m256i lanes = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<i64>(kPacks.at[m])));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(l.at + n),
                        _mm256_add_epi32(lanes, _mm256_set1_epi32(static_cast<i32>(base + 8 * u))));
    _mm256_storeu_ps(l.acc + n, _mm256_permutevar8x32_ps(reinterpret_cast<__m256>(acc[u]), lanes));
    n += static_cast<u32>(__builtin_popcount(m));
  }
  l.n = n;
#else
  for (; near; near &= near - 1) {
    const u32 c = static_cast<u32>(__builtin_ctz(near));
    l.at[l.n] = base + c;
    l.acc[l.n++] = acc[c / 8][c % 8];
  }
#endif
}

// Dev sums v_t e_t and Mag v_t |e_t| in single precision, with e_0 = s_0 - p
// and e_t = s_t + s_-t - 2p small exact integers: R - p = sum_t (w_t / W)
// e_t, W the real sum of the weights. Each v_t errs by 2^-24 (plus 2^-48)
// of w_t / W, and N products and their sums by at most N 2^-24 of Mag, so
// with N <= 10: |Dev - (R - p)| <= 12.1 2^-24 Mag < 2^-19 Mag (an
// underflow errs below 2^-100). Where |Dev| > 2^-19 Mag + 2^-30, R lies
// over 1e-12 from p on Dev's side, D on the same side, and the byte is p or
// p - 1. The others (symmetric windows give R = p) are summed again in the
// fixed order, and that quotient is the byte.
constexpr f32 kDevErr = 1.0f / 524288.0f;
constexpr f32 kDevFloor = 1.0f / 1073741824.0f;

// The listed samples, decided; line(t) is where tap t of the sample at x
// lies: line(t)[x]. Bytes written may alias anything, so what the loops
// read is held apart first.
template <u32 N, class Line>
KLF_FORCE void DecideNear(const Weights& k, Line line, NearList& l, u8* dst) {
  u32* at = l.at;
  const f32* acc = l.acc;
  const u32 n = l.n;
  l.n = 0;
  const f32* lines[2 * kMaxTaps];
  f32 v[kMaxTaps];
  f64 w[kMaxTaps];
  for (u32 t = 0; t < N; ++t) {
    lines[N - 1 + t] = line(static_cast<i32>(t));
    lines[N - 1 - t] = line(-static_cast<i32>(t));
    v[t] = k.v[t];
    w[t] = k.w[t];
  }
  const f32* const* mid = lines + (N - 1);
  const f64 whole = k.whole;
  u32 open = 0, j = 0;
  auto decide = [&](u32 x, f32 p, f32 dev, f32 mag) KLF_INLINE {
    const i32 q = static_cast<i32>(p) - (dev < 0.0f);
    dst[x] = static_cast<u8>(q < 0 ? 0 : q);
    at[open] = x;
    open += !(__builtin_fabsf(dev) > mag * kDevErr + kDevFloor);
  };
#ifdef __AVX2__
  __m256 v8[kMaxTaps];
  for (u32 t = 0; t < N; ++t) v8[t] = _mm256_set1_ps(v[t]);
  const __m256 noSign = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  for (; j + 8 <= n; j += 8) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + j));
    const __m256 p = _mm256_round_ps(_mm256_loadu_ps(acc + j), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m256 twice = _mm256_add_ps(p, p);
    const __m256 e = _mm256_sub_ps(_mm256_i32gather_ps(mid[0], x, 4), p);
    __m256 dev = _mm256_mul_ps(v8[0], e), mag = _mm256_mul_ps(v8[0], _mm256_and_ps(e, noSign));
    for (u32 t = 1; t < N; ++t) {
      const i32 s = static_cast<i32>(t);
      const __m256 d = _mm256_sub_ps(
          _mm256_add_ps(_mm256_i32gather_ps(mid[s], x, 4), _mm256_i32gather_ps(mid[-s], x, 4)), twice);
      dev = _mm256_fmadd_ps(v8[t], d, dev);
      mag = _mm256_fmadd_ps(v8[t], _mm256_and_ps(d, noSign), mag);
    }
    alignas(32) f32 ps[8], devs[8], mags[8];
    alignas(32) u32 xs[8];
    _mm256_store_ps(ps, p);
    _mm256_store_ps(devs, dev);
    _mm256_store_ps(mags, mag);
    _mm256_store_si256(reinterpret_cast<__m256i*>(xs), x);
    for (u32 c = 0; c < 8; ++c) decide(xs[c], ps[c], devs[c], mags[c]);
  }
#endif
  for (; j < n; ++j) {
    const u32 x = at[j];
    const f32 p = static_cast<f32>(static_cast<i32>(acc[j] + 0.5f)), twice = p + p;
    const f32 e = mid[0][x] - p;
    f32 dev = v[0] * e, mag = v[0] * __builtin_fabsf(e);
    for (u32 t = 1; t < N; ++t) {
      const i32 s = static_cast<i32>(t);
      const f32 d = (mid[s][x] + mid[-s][x]) - twice;
      dev = MulAdd1(v[t], d, dev);
      mag = MulAdd1(v[t], __builtin_fabsf(d), mag);
    }
    decide(x, p, dev, mag);
  }
  // ExactSample's sums for an interior sample, with N known when built
  // (through ExactSample, its checks at the ends cost 5 % on photographs).
  for (j = 0; j < open; ++j) {
    const u32 x = at[j];
    f64 sum = 0.0;
    for (u32 t = 0; t < N; ++t) sum += w[t] * static_cast<f64>(mid[t][x]);
    for (u32 t = 1; t < N; ++t) sum += w[t] * static_cast<f64>(mid[-static_cast<i32>(t)][x]);
    dst[x] = ToByte(sum / whole);
  }
}

// U groups of eight neighbouring interior samples into out, the first at
// base on its line: tap(t, u) gives group u's values t samples on. N taps a
// side, known when built. Lanes set in flat have all their taps equal;
// lanes set in valid are written; those whose estimate comes near an
// integer go on the list.
template <u32 N, u32 U, class Tap>
KLF_FORCE void Samples(const Weights& k, Tap tap, u32 flat, u32 valid, u32 base, NearList& list, u8* out) {
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
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    __m256i bytes = _mm256_permutevar8x32_epi32(
        _mm256_packus_epi16(_mm256_packs_epi32(whole[0], whole[1]), _mm256_packs_epi32(whole[2], whole[3])), order);
    if (flat) {
      // The centres' values p, then p - 1 where the table's bit says so.
      __m256i c[U];
      for (u32 u = 0; u < U; ++u) c[u] = _mm256_cvttps_epi32(reinterpret_cast<__m256>(tap(0, u)));
      const __m256i p = _mm256_permutevar8x32_epi32(
          _mm256_packus_epi16(_mm256_packs_epi32(c[0], c[1]), _mm256_packs_epi32(c[2], c[3])), order);
      const __m256i lowFive = _mm256_set1_epi8(31), bitOf = _mm256_setr_epi8(
                                                        1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2,
                                                        4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
      const __m256i at8 = _mm256_and_si256(_mm256_srli_epi16(p, 3), lowFive);
      const __m256i lo = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(k.flatDown)));
      const __m256i hi =
          _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(k.flatDown + 16)));
      const __m256i held = _mm256_blendv_epi8(_mm256_shuffle_epi8(lo, at8), _mm256_shuffle_epi8(hi, at8),
                                              _mm256_slli_epi16(at8, 3));
      const __m256i bit = _mm256_shuffle_epi8(bitOf, _mm256_and_si256(p, _mm256_set1_epi8(7)));
      const __m256i down = _mm256_cmpeq_epi8(_mm256_and_si256(held, bit), bit);
      // flat's 32 bits as 32 byte masks.
      const __m256i spread = _mm256_shuffle_epi8(
          _mm256_set1_epi32(static_cast<i32>(flat)),
          _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
      const __m256i lanes = _mm256_cmpeq_epi8(_mm256_and_si256(spread, bitOf), bitOf);
      bytes = _mm256_blendv_epi8(bytes, _mm256_add_epi8(p, down), lanes);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
    const __m256 anyNear = _mm256_cmp_ps(closest, margin, _CMP_LT_OQ);
    if (__builtin_expect(_mm256_testz_ps(anyNear, anyNear), 1)) return;
    u32 near = 0;
    for (u32 u = 0; u < U; ++u)
      near |= static_cast<u32>(_mm256_movemask_ps(_mm256_cmp_ps(dist[u], margin, _CMP_LT_OQ))) << (8 * u);
    return ListNear(acc, near & ~flat & valid, base, list);
  }
#endif
  __m128i words[U];
  u32 near = 0;
  for (u32 u = 0; u < U; ++u) {
    const I8 whole = __builtin_convertvector(acc[u], I8);
    const F8 frac = acc[u] - __builtin_convertvector(whole, F8);
    near |= LaneBits((frac < kNear) | (frac > 1.0f - kNear)) << (8 * u);
    __m128i lo, hi;
    std::memcpy(&lo, &whole, 16);
    std::memcpy(&hi, reinterpret_cast<const u8*>(&whole) + 16, 16);
    words[u] = _mm_packs_epi32(lo, hi);
  }
  for (u32 u = 0; u + 1 < U; u += 2)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * u), _mm_packus_epi16(words[u], words[u + 1]));
  if (U & 1)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8 * (U - 1)), _mm_packus_epi16(words[U - 1], words[U - 1]));
  for (u32 f = flat; f; f &= f - 1) {
    const u32 c = static_cast<u32>(__builtin_ctz(f));
    out[c] = k.flat[static_cast<u8>(static_cast<i32>(tap(0, c / 8)[c % 8]))];
  }
  ListNear(acc, near & ~flat & valid, base, list);
}

// Runs of equal samples: bit j of the bytes at eq says line value j equals
// value j + 1. Of the 8U lanes from i, those whose taps all hold one value.
// Such a lane (flat stretches, common in smooth and dark areas) has R = p
// exactly, and its byte is the table's: p or p - 1 (D lies within 1e-12 of
// p), so a bit per value tells which.
template <u32 N, u32 U>
KLF_FORCE u32 FlatLanes(const u8* eq, u32 i) {
  constexpr u32 L = 2 * N - 2;  // equal neighbours a flat window holds
  const u32 b = i - (N - 1);
  u64 r;
  std::memcpy(&r, eq + b / 8, 8);
  r >>= b % 8;
  // r & r >> 1 & ... & r >> (L - 1), by doubling.
  u32 have = 1;
  while (2 * have <= L) {
    r &= r >> have;
    have *= 2;
  }
  if (have < L) r &= r >> (L - have);
  return static_cast<u32>(r) & (U == 4 ? 0xffffffffu : 0xffu);
}

// Whether 32 + more bytes from a and b are equal; more is at most 32.
KLF_FORCE bool SameWindow(const u8* a, const u8* b, u32 more) {
  return (EqualBits(a, b) & EqualBits(a + more, b + more)) == ~0u;
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
  NearList list = {s.nearAt, s.nearAcc, 0};
  for (u32 g = g0; g < g1; ++g) {
    const u8* src = static_cast<const u8*>(in.base) + static_cast<i64>(g) * in.lineStep;
    const u8* a = alpha ? static_cast<const u8*>(alpha->base) + static_cast<i64>(g) * alpha->lineStep : nullptr;
    if (a && alpha->zeroLines[g]) {
      CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(src, s.rec, m, a);
      for (u32 i = 0; i < m; ++i) f[i] = static_cast<u8>(s.rec[i]);
    } else {
      for (u32 i = 0; i < m; ++i) f[i] = src[i];
    }
    // Equal neighbours, a bit each, for the flat windows: from the bytes
    // where the row was not recovered, 32 at a time.
    u32 q = 0;
    if (!(a && alpha->zeroLines[g]))
      for (; q + 33 <= m; q += 32) {
        const u32 bits = EqualBits(src + q, src + q + 1);
        std::memcpy(s.eq + q / 8, &bits, 4);
      }
    for (; q < m; q += 8)
      s.eq[q / 8] = static_cast<u8>(
          LaneBits(*reinterpret_cast<const F8*>(f + q) == *reinterpret_cast<const F8*>(f + q + 1)));
    std::memset(s.eq + (m + 7) / 8, 0, 9);
    u8* dst = static_cast<u8*>(out.base) + static_cast<i64>(g) * out.lineStep;
    auto at = [f](i64 j) KLF_INLINE { return static_cast<f64>(f[j]); };
    for (u32 e = 0; e < 2 * ends; ++e)
      ExactEightEnd<N>(
          end[e], [&](i32 t) KLF_INLINE { return *reinterpret_cast<const F8*>(f + end[e].at + t); },
          dst + end[e].at);
    if (!ends)
      for (u32 i = 0; i < lo; ++i) dst[i] = ExactSample(k, at, i, m);
    u32 i = lo;
    // Smooth pictures repeat rows: 32 samples whose taps hold the same bytes
    // as on the row above take the bytes that row got. That row is this
    // task's, done, and neither row recovered nor written over its source.
    const u8* above = g > g0 && in.base != out.base && !(a && (alpha->zeroLines[g] || alpha->zeroLines[g - 1]))
                          ? src - in.lineStep
                          : nullptr;
    for (; i + 32 <= hi; i += 32) {
      if (above && SameWindow(src + i - (n - 1), above + i - (n - 1), 2 * (n - 1))) {
        std::memcpy(dst + i, dst - out.lineStep + i, 32);
        continue;
      }
      Samples<N, 4>(
          k, [&](i32 t, u32 u) KLF_INLINE { return *reinterpret_cast<const F8*>(f + i + 8 * u + t); },
          FlatLanes<N, 4>(s.eq, i), ~0u, i, list, dst + i);
    }
    for (; i + 8 <= hi; i += 8)
      Samples<N, 1>(
          k, [&](i32 t, u32) KLF_INLINE { return *reinterpret_cast<const F8*>(f + i + t); },
          FlatLanes<N, 1>(s.eq, i), ~0u, i, list, dst + i);
    DecideNear<N>(
        k, [f](i32 t) KLF_INLINE { return f + t; }, list, dst);
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
  // Per column, the rows read so far that equal the row above, in a run
  // (at most 2n - 2: a window is flat once its rows all are).
  const u8 flatRun = static_cast<u8>(2 * n - 2);
  NearList list = {s.nearAt, s.nearAcc, 0};
  std::memset(s.runs, 0, S);
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
          k, [&](i32 t, u32 u) KLF_INLINE { return *reinterpret_cast<const F8*>(mid[t] + c + 8 * u); },
          AtLeastBits(s.runs + c, flatRun), c + 32 <= w ? ~0u : (1u << (w - c)) - 1, c, list, o);
      if (o == tail) std::memcpy(dst + c, tail, w - c);
    }
    DecideNear<N>(
        k, [mid](i32 t) KLF_INLINE { return mid[t]; }, list, dst);
  };
  for (u32 y = 0; y < m; ++y) {
    const u8* src = static_cast<const u8*>(in.base) + static_cast<i64>(y) * in.step + x0;
    // Rows further down are far apart: ask for them early.
    if (y + kAhead < m)
      for (u32 c = 0; c < w; c += 64) __builtin_prefetch(src + kAhead * in.step + c);
    f32* r = row(y);
    for (u32 c = 0; c < w; ++c) r[c] = src[c];
    for (u32 c = w; c < S; ++c) r[c] = 0.0f;
    // The row above is still unwritten: rows are written n - 1 behind.
    if (y > 0) {
      const u8* up = src - in.step;
      u32 c = 0;
      for (; c + 32 <= w; c += 32) CountRuns(s.runs + c, src + c, up + c, flatRun);
      for (; c < w; ++c) s.runs[c] = src[c] != up[c] ? 0 : static_cast<u8>(s.runs[c] + (s.runs[c] < flatRun));
    }
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
