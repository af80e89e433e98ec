// Gaussian and motion blur: the recursive Gaussian (Young / van Vliet), the
// sampled kernel for small sigma, zero-alpha recovery, and the passes.
#include <cmath>
#include <cstring>

#include "CKLF_ImageFX.h"
#include "KLF_Parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Lines filtered side by side; each lane runs exactly the arithmetic of the
// single-line filter, so the results are the same bit for bit.
constexpr u32 kLanes = 16;
constexpr f64 kPi = 3.14159265358979323846;

// Four doubles of a row of lanes; unaligned loads are allowed. Eight lanes
// in 16 bits, in 32 bits and as doubles, on the way from bytes to doubles.
typedef f64 LaneQuad __attribute__((vector_size(32), aligned(8), may_alias));
typedef f64 LaneOcta __attribute__((vector_size(64)));
typedef i32 LaneInts8 __attribute__((vector_size(32)));
typedef i16 LaneShorts8 __attribute__((vector_size(16)));

// Truncates a filtered value to a byte; values outside 0..255 (and NaN)
// are clamped. Branch-free so that lane loops vectorise.
inline u8 ToByte(f64 v) {
  v = v > 0.0 ? v : 0.0;
  v = v < 255.0 ? v : 255.0;
  return static_cast<u8>(static_cast<i32>(v));
}

inline f64 Clamp255(f64 v) {
  v = v > 0.0 ? v : 0.0;
  return v < 255.0 ? v : 255.0;
}

// Padding of the recursive filter, or 0 when it does not fit 32-bit sizes.
inline u8 PadFor(f64 sigma, u64& pad) {
  if (!(sigma >= 0.0) || !(sigma < 5.0e8)) return 0;
  pad = static_cast<u64>(7.0 * sigma);
  return 1;
}

// The lane loops are inlined into each build of their caller, so that the
// caller's wider-vector build (chosen at run time) runs them in wider units;
// the operations and their order stay those of the scalar filter (and
// -ffp-contract=off keeps them uncontracted).
#define KLF_LANES inline __attribute__((always_inline))

KLF_LANES void KernelLanes(const CKLF_ImageFX::STRUCT_Blur_VectorData& r, const f64* __restrict in, f64* __restrict out,
                 u64 m) {
  constexpr u32 K = kLanes;
  const u32 n = r.kernelLength;
  const f64* w = r.kernel;
  const f64 bc = static_cast<f64>(r.borderValue);
  f64 sum[K];
  // Samples whose taps all lie inside, lo..hi-1: the same sums in the same
  // order over the same weight sum, without a test a tap.
  const u64 lo = n - 1, hi = m >= n ? m - (n - 1) : 0;
  f64 whole = 0.0;
  for (u32 k = 0; k < n; ++k) whole += w[k];
  for (u32 k = 1; k < n; ++k) whole += w[k];
  // Four vectors of four lanes held in registers over every tap (no
  // lambda: it would not take the caller's vector build).
  typedef f64 Quad __attribute__((vector_size(32), aligned(8), may_alias));
  static_assert(K == 16, "four quads a sample");
  const Quad whole4 = {whole, whole, whole, whole};
  for (u64 i = 0; i < m; ++i) {
    for (; i >= lo && i < hi; ++i) {
      const Quad* v = reinterpret_cast<const Quad*>(in + i * K);
      Quad s0 = {}, s1 = {}, s2 = {}, s3 = {};
      for (u32 k = 0; k < n; ++k) {
        const Quad wk = {w[k], w[k], w[k], w[k]};
        const Quad* x = v + 4 * k;
        s0 += wk * x[0];
        s1 += wk * x[1];
        s2 += wk * x[2];
        s3 += wk * x[3];
      }
      for (u32 k = 1; k < n; ++k) {
        const Quad wk = {w[k], w[k], w[k], w[k]};
        const Quad* x = v - 4 * static_cast<i64>(k);
        s0 += wk * x[0];
        s1 += wk * x[1];
        s2 += wk * x[2];
        s3 += wk * x[3];
      }
      Quad* o = reinterpret_cast<Quad*>(out + i * K);
      o[0] = s0 / whole4;
      o[1] = s1 / whole4;
      o[2] = s2 / whole4;
      o[3] = s3 / whole4;
    }
    if (i >= m) break;
    for (u32 c = 0; c < K; ++c) sum[c] = 0.0;
    f64 ws = 0.0;
    // Tap k at sample j; past an end the border constant, or the walk stops.
    auto tap = [&](u32 k, bool inside, u64 j) -> bool {
      if (inside) {
        const f64* v = in + j * K;
        for (u32 c = 0; c < K; ++c) sum[c] += w[k] * v[c];
      } else if (r.borderFlag) {
        for (u32 c = 0; c < K; ++c) sum[c] += w[k] * bc;
      } else {
        return false;
      }
      ws += w[k];
      return true;
    };
    for (u32 k = 0; k < n && tap(k, i + k < m, i + k); ++k) {
    }
    for (u32 k = 1; k < n && tap(k, i >= k, i - k); ++k) {
    }
    f64* o = out + i * K;
    for (u32 c = 0; c < K; ++c) o[c] = sum[c] / ws;
  }
}

// The 16 bytes at s as four quads of lanes.
KLF_LANES void BytesToQuads(const u8* s, LaneQuad& q0, LaneQuad& q1, LaneQuad& q2, LaneQuad& q3) {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), zero = _mm_setzero_si128();
  const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
  // Eight values a conversion: four at a time the compiler splits each
  // into halves (two conversions and two shuffles in wider builds).
  const LaneOcta a = __builtin_convertvector(__builtin_convertvector(reinterpret_cast<LaneShorts8>(lo), LaneInts8),
                                             LaneOcta);
  const LaneOcta b = __builtin_convertvector(__builtin_convertvector(reinterpret_cast<LaneShorts8>(hi), LaneInts8),
                                             LaneOcta);
  q0 = __builtin_shufflevector(a, a, 0, 1, 2, 3);
  q1 = __builtin_shufflevector(a, a, 4, 5, 6, 7);
  q2 = __builtin_shufflevector(b, b, 0, 1, 2, 3);
  q3 = __builtin_shufflevector(b, b, 4, 5, 6, 7);
#else
  q0 = LaneQuad{f64(s[0]), f64(s[1]), f64(s[2]), f64(s[3])};
  q1 = LaneQuad{f64(s[4]), f64(s[5]), f64(s[6]), f64(s[7])};
  q2 = LaneQuad{f64(s[8]), f64(s[9]), f64(s[10]), f64(s[11])};
  q3 = LaneQuad{f64(s[12]), f64(s[13]), f64(s[14]), f64(s[15])};
#endif
}

// A 16 x 16 block of bytes (rows of `stride` bytes at `from`) transposed
// into `to` (rows of `toStride`), for the first `rows` rows of the result.
// Four rounds of interleaving halves: each rotates the bits of (row, column)
// by one, so four give the transpose.
inline __attribute__((always_inline)) void Transpose16(const u8* from, i64 stride, u8* to, i64 toStride, u32 rows) {
#if defined(__SSE2__)
  __m128i r[16], t[16];
  for (u32 c = 0; c < 16; ++c) r[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + c * stride));
  for (u32 round = 0; round < 4; ++round) {
    for (u32 q = 0; q < 8; ++q) {
      t[2 * q] = _mm_unpacklo_epi8(r[q], r[q + 8]);
      t[2 * q + 1] = _mm_unpackhi_epi8(r[q], r[q + 8]);
    }
    for (u32 c = 0; c < 16; ++c) r[c] = t[c];
  }
  for (u32 c = 0; c < rows; ++c) _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c * toStride), r[c]);
#else
  for (u32 c = 0; c < rows; ++c)
    for (u32 i = 0; i < 16; ++i) to[c * toStride + i] = from[i * stride + c];
#endif
}

// Samples i..i+15 of kLanes lines of bytes, each sample next to the next,
// into block: row b holds sample i + b of every lane.
KLF_LANES void GatherBlock(const void* const* lanePtr, u64 i, u8* block) {
  static_assert(kLanes == 16, "blocks of 16 x 16 bytes");
  u8 rows[16 * 16];
  for (u32 c = 0; c < kLanes; ++c) std::memcpy(rows + 16 * c, static_cast<const u8*>(lanePtr[c]) + i, 16);
  Transpose16(rows, 16, block, 16, 16);
}

// Samples i..end-1 of kLanes lines of bytes, each sample next to the next,
// into lanes (row j of target holds sample i + j).
KLF_LANES void RowsToLanes(const void* const* lanePtr, u64 i, u64 end, f64* target) {
  constexpr u32 K = kLanes;
  u8 block[16 * 16];
  for (; i + 16 <= end; i += 16, target += 16 * K) {
    GatherBlock(lanePtr, i, block);
    for (u32 b = 0; b < 16; ++b) {
      LaneQuad* t = reinterpret_cast<LaneQuad*>(target + b * K);
      BytesToQuads(block + 16 * b, t[0], t[1], t[2], t[3]);
    }
  }
  for (; i < end; ++i, target += K)
    for (u32 c = 0; c < K; ++c) target[c] = static_cast<const u8*>(lanePtr[c])[i];
}

// Where the samples of kLanes lines are read from: each lane's own line,
// or, for neighbouring byte lines, kLanes bytes side by side a sample.
struct LaneSource {
  const void* lanePtr[kLanes];
  i64 laneStep[kLanes];
  const u8* side;  // non-null: lane c of sample i at side[i * sideStep + c]
  i64 sideStep;
  u8 isFloat, unitSteps;
};

// The source of lanes g..g+valid-1 of in; lanes past the last line repeat
// it. Lines that hold fully transparent pixels go through the zero-alpha
// recovery against alpha first, into scratch.
void SourceLanes(const CKLF_ImageFX::Lines& in, const CKLF_ImageFX::Lines* alpha, u32 g, u32 valid, u32 lineCount,
                 u32 length, u8* scratch, f64* recLine, LaneSource& src) {
  constexpr u32 K = kLanes;
  const u64 m = length;
  const void** lanePtr = src.lanePtr;
  i64* laneStep = src.laneStep;
  u8 contiguous = !in.isFloat && in.lineStep == 1 && valid == K;
  for (u32 c = 0; c < K; ++c) {
    const i64 line = static_cast<i64>(c < valid ? g + c : lineCount - 1);
    lanePtr[c] = in.isFloat ? static_cast<const void*>(static_cast<const f32*>(in.base) + line * in.lineStep)
                            : static_cast<const void*>(static_cast<const u8*>(in.base) + line * in.lineStep);
    laneStep[c] = in.step;
    // Recovery only changes lines that hold fully transparent pixels.
    if (!alpha || !alpha->zeroLines[line]) continue;
    const u8* a = static_cast<const u8*>(alpha->base) + line * alpha->lineStep;
    const u8* s = static_cast<const u8*>(lanePtr[c]);
    u8* line8 = scratch + c * m;
    u8* alpha8 = scratch + K * m;
    for (u64 i = 0; i < m; ++i) {
      line8[i] = s[static_cast<i64>(i) * in.step];
      alpha8[i] = a[static_cast<i64>(i) * alpha->step];
    }
    CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(line8, recLine, length, alpha8);
    for (u64 i = 0; i < m; ++i) line8[i] = static_cast<u8>(recLine[i]);
    lanePtr[c] = line8;
    laneStep[c] = 1;
    contiguous = 0;
  }

  src.isFloat = in.isFloat;
  src.unitSteps = !in.isFloat;
  for (u32 c = 0; c < K; ++c) src.unitSteps &= laneStep[c] == 1;
  src.side = contiguous ? static_cast<const u8*>(in.base) + static_cast<i64>(g) : nullptr;
  src.sideStep = in.step;
}

// Samples i..end-1 of the lanes as rows of kLanes floats into target (row
// j holds sample i + j).
KLF_LANES void LoadRange(const LaneSource& src, u64 i, u64 end, f64* target) {
  constexpr u32 K = kLanes;
  if (src.side) {
    for (; i < end; ++i, target += K) {
      LaneQuad* t = reinterpret_cast<LaneQuad*>(target);
      BytesToQuads(src.side + static_cast<i64>(i) * src.sideStep, t[0], t[1], t[2], t[3]);
    }
  } else if (src.unitSteps) {
    RowsToLanes(src.lanePtr, i, end, target);
  } else if (src.isFloat) {
    for (; i < end; ++i, target += K)
      for (u32 c = 0; c < K; ++c)
        target[c] = static_cast<const f32*>(src.lanePtr[c])[static_cast<i64>(i) * src.laneStep[c]];
  } else {
    for (; i < end; ++i, target += K)
      for (u32 c = 0; c < K; ++c)
        target[c] = static_cast<const u8*>(src.lanePtr[c])[static_cast<i64>(i) * src.laneStep[c]];
  }
}

void LoadLanes(const CKLF_ImageFX::Lines& in, const CKLF_ImageFX::Lines* alpha, u32 g, u32 valid, u32 lineCount,
               u32 length, f64* target, u8* scratch, f64* recLine) {
  LaneSource src;
  SourceLanes(in, alpha, g, valid, lineCount, length, scratch, recLine, src);
  LoadRange(src, 0, length, target);
}

// ToByte of a sample's kLanes values, four at a time.
KLF_LANES void LanesToBytes(const f64* r, u8* bytes) {
  typedef f64 Quad __attribute__((vector_size(32), aligned(8), may_alias));
  typedef i32 Ints __attribute__((vector_size(16)));
  static_assert(kLanes == 16, "four quads a sample");
  const Quad top = {255.0, 255.0, 255.0, 255.0};
  Ints t[4];
#if defined(__SSE2__)
  // Only values above 255 are cut here: the conversion gives below-zero
  // values and NaN (as the lowest integer) a negative integer, and the
  // saturating packs take those to 0 and keep 0..255 as they are.
  for (u32 q = 0; q < 4; ++q) {
    Quad v = reinterpret_cast<const Quad*>(r)[q];
    v = top < v ? top : v;
    t[q] = __builtin_convertvector(v, Ints);
  }
  const __m128i lo = _mm_packs_epi32(reinterpret_cast<__m128i>(t[0]), reinterpret_cast<__m128i>(t[1]));
  const __m128i hi = _mm_packs_epi32(reinterpret_cast<__m128i>(t[2]), reinterpret_cast<__m128i>(t[3]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(lo, hi));
#else
  const Quad zero = {0.0, 0.0, 0.0, 0.0};
  for (u32 q = 0; q < 4; ++q) {
    Quad v = reinterpret_cast<const Quad*>(r)[q];
    v = v > zero ? v : zero;
    v = v < top ? v : top;
    t[q] = __builtin_convertvector(v, Ints);
  }
  for (u32 q = 0; q < 4; ++q)
    for (u32 c = 0; c < 4; ++c) bytes[4 * q + c] = static_cast<u8>(t[q][c]);
#endif
}

// Samples i..m-1 of lanes 0..valid-1 of result (rows of kLanes floats,
// row i for sample i) into lines g.. of out.
KLF_LANES void StoreRange(const CKLF_ImageFX::Lines& out, u32 g, u32 valid, u64 i, u64 m, const f64* result,
                          u8 clampOut) {
  constexpr u32 K = kLanes;
  if (!out.isFloat && out.lineStep == 1 && valid == K) {
    u8* base = static_cast<u8*>(out.base) + static_cast<i64>(g);
    for (; i < m; ++i) LanesToBytes(result + i * K, base + static_cast<i64>(i) * out.step);
  } else if (!out.isFloat && out.step == 1) {
    // Rows: bytes of 16 samples gathered, then transposed into the lines.
    u8* base = static_cast<u8*>(out.base) + static_cast<i64>(g) * out.lineStep;
    u8 block[16 * 16];
    for (; i + 16 <= m; i += 16) {
      for (u32 b = 0; b < 16; ++b) LanesToBytes(result + (i + b) * K, block + 16 * b);
      Transpose16(block, 16, base + i, out.lineStep, valid);
    }
    for (; i < m; ++i) {
      LanesToBytes(result + i * K, block);
      for (u32 c = 0; c < valid; ++c) base[c * out.lineStep + static_cast<i64>(i)] = block[c];
    }
  } else if (out.isFloat) {
    f32* base = static_cast<f32*>(out.base) + static_cast<i64>(g) * out.lineStep;
    for (; i < m; ++i) {
      f32* d = base + static_cast<i64>(i) * out.step;
      const f64* r = result + i * K;
      for (u32 c = 0; c < valid; ++c) d[c * out.lineStep] = static_cast<f32>(clampOut ? Clamp255(r[c]) : r[c]);
    }
  } else {
    u8* base = static_cast<u8*>(out.base) + static_cast<i64>(g) * out.lineStep;
    u8 bytes[K];
    for (; i < m; ++i) {
      u8* d = base + static_cast<i64>(i) * out.step;
      LanesToBytes(result + i * K, bytes);
      for (u32 c = 0; c < valid; ++c) d[c * out.lineStep] = bytes[c];
    }
  }
}

KLF_LANES void StoreLanes(const CKLF_ImageFX::Lines& out, u32 g, u32 valid, u64 m, const f64* result, u8 clampOut) {
  StoreRange(out, g, valid, 0, m, result, clampOut);
}

// Hides where a pointer points, so that the compiler reloads the older rows
// instead of carrying them over in registers: that would spill the previous
// row, which the recursion's chain waits on.
#define KLF_OPAQUE(p) __asm__("" : "+r"(p))

// Lines that the loops fetch ahead, one a row: rows lines from p on, step
// bytes apart. Fetched in one burst they would stall on the misses in
// flight; spread over the rows they overlap the arithmetic.
struct Ahead {
  const u8* p;
  i64 step;
  u64 rows;
  void Fetch(u64 t, int write) const {
    if (t >= rows) return;
    if (write)
      __builtin_prefetch(p + static_cast<i64>(t) * step, 1);
    else
      __builtin_prefetch(p + static_cast<i64>(t) * step);
  }
};

// The causal pass of the recursive filter over rows a..b-1 of x (rows of
// kLanes), rows before a done. With kBytes the input of row a + j comes
// from the kLanes bytes at in + j * inStep instead of from x, converted
// next to the recursion's arithmetic, which mostly waits on its chain. The
// previous row is held in registers: the chain then waits on arithmetic
// only, not on a store and a reload; the older rows are read back from
// memory.
template <bool kBytes>
KLF_LANES void CausalRows(const CKLF_ImageFX::STRUCT_Blur_VectorData& r, f64* __restrict x, u64 a, u64 b,
                          const u8* in, i64 inStep, const Ahead& ahead = Ahead{nullptr, 0, 0}) {
  const f64 B = r.B, b1 = r.b1, b2 = r.b2, b3 = r.b3;
  constexpr u32 K = kLanes;
  static_assert(K == 16, "four quads a row");
  const f64 s0 = B + b1 + b2 + b3, s1 = b1 + b2 + b3, s2 = b2 + b3;
  for (; a < b && a < 3; ++a) {
    f64* o = x + a * K;
    if constexpr (kBytes) {
      for (u32 c = 0; c < K; ++c) o[c] = in[c];
      in += inStep;
    }
    for (u32 c = 0; c < K; ++c)
      o[c] = a == 0 ? s0 * o[c] : (a == 1 ? B * o[c] + s1 * x[c] : B * o[c] + b1 * x[K + c] + s2 * x[c]);
  }
  if (a >= b) return;
  const LaneQuad vB = {B, B, B, B}, v1 = {b1, b1, b1, b1}, v2 = {b2, b2, b2, b2}, v3 = {b3, b3, b3, b3};
  const LaneQuad* prev = reinterpret_cast<const LaneQuad*>(x + (a - 1) * K);
  LaneQuad p0 = prev[0], p1 = prev[1], p2 = prev[2], p3 = prev[3];
  for (u64 n = a; n < b; ++n) {
    LaneQuad* o = reinterpret_cast<LaneQuad*>(x + n * K);
    KLF_OPAQUE(o);
    ahead.Fetch(n - a, 0);
    LaneQuad i0, i1, i2, i3;
    if constexpr (kBytes) {
      BytesToQuads(in, i0, i1, i2, i3);
      in += inStep;
    } else {
      i0 = o[0], i1 = o[1], i2 = o[2], i3 = o[3];
    }
    const LaneQuad* q2 = o - 8;
    const LaneQuad* q3 = o - 12;
    p0 = vB * i0 + v1 * p0 + v2 * q2[0] + v3 * q3[0];
    p1 = vB * i1 + v1 * p1 + v2 * q2[1] + v3 * q3[1];
    p2 = vB * i2 + v1 * p2 + v2 * q2[2] + v3 * q3[2];
    p3 = vB * i3 + v1 * p3 + v2 * q2[3] + v3 * q3[3];
    o[0] = p0;
    o[1] = p1;
    o[2] = p2;
    o[3] = p3;
  }
}

// The anti-causal pass over rows b-1 down to a of the N rows of x, rows
// from b on done; the last three rows start it with their own terms. With
// kBytes row a + j also goes out as kLanes bytes to out + j * outStep.
template <bool kBytes>
KLF_LANES void AntiCausalRows(const CKLF_ImageFX::STRUCT_Blur_VectorData& r, f64* __restrict x, u64 N, u64 a,
                              u64 b, u8* out, i64 outStep, const Ahead& ahead = Ahead{nullptr, 0, 0}) {
  const f64 B = r.B, b1 = r.b1, b2 = r.b2, b3 = r.b3;
  constexpr u32 K = kLanes;
  const f64 s0 = B + b1 + b2 + b3, s1 = b1 + b2 + b3, s2 = b2 + b3;
  for (; b > a && b + 3 > N; --b) {
    f64* o = x + (b - 1) * K;
    const f64* e = x + (N - 1) * K;
    for (u32 c = 0; c < K; ++c)
      o[c] = b == N ? s0 * o[c] : (b + 1 == N ? B * o[c] + s1 * e[c] : B * o[c] + b1 * o[K + c] + s2 * e[c]);
    if constexpr (kBytes) LanesToBytes(o, out + static_cast<i64>(b - 1 - a) * outStep);
  }
  if (b <= a) return;
  // A row goes out kLag rows after it is done, so that its conversion does
  // not wait on the chain (and crowd out the rows ahead).
  constexpr u64 kLag = 6;
  const u64 top = b;
  const LaneQuad vB = {B, B, B, B}, v1 = {b1, b1, b1, b1}, v2 = {b2, b2, b2, b2}, v3 = {b3, b3, b3, b3};
  const LaneQuad* next = reinterpret_cast<const LaneQuad*>(x + b * K);
  LaneQuad p0 = next[0], p1 = next[1], p2 = next[2], p3 = next[3];
  for (u64 n = b; n-- > a;) {
    LaneQuad* o = reinterpret_cast<LaneQuad*>(x + n * K);
    KLF_OPAQUE(o);
    ahead.Fetch(top - 1 - n, 1);
    const LaneQuad* q2 = o + 8;
    const LaneQuad* q3 = o + 12;
    p0 = vB * o[0] + v1 * p0 + v2 * q2[0] + v3 * q3[0];
    p1 = vB * o[1] + v1 * p1 + v2 * q2[1] + v3 * q3[1];
    p2 = vB * o[2] + v1 * p2 + v2 * q2[2] + v3 * q3[2];
    p3 = vB * o[3] + v1 * p3 + v2 * q2[3] + v3 * q3[3];
    o[0] = p0;
    o[1] = p1;
    o[2] = p2;
    o[3] = p3;
    if constexpr (kBytes)
      if (n + kLag < top) LanesToBytes(x + (n + kLag) * K, out + static_cast<i64>(n + kLag - a) * outStep);
  }
  if constexpr (kBytes)
    for (u64 n = a; n < a + kLag && n < top; ++n) LanesToBytes(x + n * K, out + static_cast<i64>(n - a) * outStep);
}

// The recursive filter over kLanes lines side by side (row n holds sample n
// of every lane), in place, lane c laneLen[c] rows long: the rows past a
// lane's end and three rows past N must be zero, which the lane's own end
// terms weigh by 0.
KLF_LANES void RecursiveLanes(const CKLF_ImageFX::STRUCT_Blur_VectorData& r, f64* __restrict x, u64 N,
                              const u64* laneLen) {
  const f64 B = r.B, b1 = r.b1, b2 = r.b2, b3 = r.b3;
  const f64 s0 = B + b1 + b2 + b3;
  const f64 s1 = b1 + b2 + b3;
  const f64 s2 = b2 + b3;
  constexpr u32 K = kLanes;
  CausalRows<false>(r, x, 0, N, nullptr, 0);
  // The anti-causal pass: each lane's last three rows start the recursion
  // with their own terms; the rows below the shortest lane's share it.
  u64 shortest = N;
  for (u32 c = 0; c < K; ++c) shortest = laneLen[c] < shortest ? laneLen[c] : shortest;
  const u64 common = shortest >= 3 ? shortest - 3 : 0;
  f64 cB[K], c1[K], c2[K], c3[K];
  for (u64 n = N; n-- > common;) {
    for (u32 c = 0; c < K; ++c) {
      const i64 ph = static_cast<i64>(laneLen[c]) - 1 - static_cast<i64>(n);
      cB[c] = ph < 0 ? 0.0 : (ph == 0 ? s0 : B);
      c1[c] = ph < 1 ? 0.0 : (ph == 1 ? s1 : b1);
      c2[c] = ph < 2 ? 0.0 : (ph == 2 ? s2 : b2);
      c3[c] = ph < 3 ? 0.0 : b3;
    }
    f64* o = x + n * K;
    for (u32 c = 0; c < K; ++c) o[c] = cB[c] * o[c] + c1[c] * o[K + c] + c2[c] * o[2 * K + c] + c3[c] * o[3 * K + c];
  }
  AntiCausalRows<false>(r, x, N, 0, common, nullptr, 0);
}

// The angled motion blur's lines: position i on the length axis (L long)
// is shifted across the cross axis (C wide) by off[i]; line k holds the
// pixels with cross coordinate c0 = k - off[i] in 0..C-1, mirrored across
// when the angle lies beyond 90 degrees.
struct Shear {
  u32 L, C;
  u8 mirrored;
  const i32* off;
  const f32* frac;    // weight of the next line in each pixel
  const u32* runEnd;  // end of the run of equal offsets from each position
  u64 Offset(u32 i, u32 c0, u64 lenStep, u64 crossStep) const {
    return i * lenStep + static_cast<u64>(mirrored ? C - 1 - c0 : c0) * crossStep;
  }
};

// Up to kLanes lines k, each a run of positions first..first+len-1.
struct LineBatch {
  u32 count;
  u32 k[kLanes], first[kLanes], len[kLanes];
  u32 Shortest() const {
    u32 n = len[0];
    for (u32 c = 1; c < count; ++c) n = len[c] < n ? len[c] : n;
    return n;
  }
  u32 Longest() const {
    u32 n = len[0];
    for (u32 c = 1; c < count; ++c) n = len[c] > n ? len[c] : n;
    return n;
  }
};

// One plane of the angled pass: gathers lines from the source (with their
// alpha for the zero-alpha recovery) and writes them back mixed by the
// shear. bytes holds kLanes lines of values, then kLanes lines of alpha.
struct ShearPlane {
  Shear sh;
  const u8* src;
  const u8* srcA;  // null: no recovery
  u8* dst;
  u64 sLen, sCross, dLen, dCross;
  u8* bytes;

  // Line k into v as floats. Along a run of equal offsets the pixels
  // follow each other on the length axis.
  void GatherLine(u32 k, u32 first, u32 n, f64* v) const {
    const u32 L = sh.L;
    u8 anyClear = 0;
    for (u32 i = first, q = 0; i < first + n;) {
      const u32 j = sh.runEnd[i] < first + n ? sh.runEnd[i] : first + n;
      const u64 o = sh.Offset(i, k - static_cast<u32>(sh.off[i]), sLen, sCross);
      for (u32 r = 0; r < j - i; ++r) bytes[q + r] = src[o + r * sLen];
      if (srcA) {
        for (u32 r = 0; r < j - i; ++r) {
          bytes[L + q + r] = srcA[o + r * sLen];
          anyClear |= srcA[o + r * sLen] == 0;
        }
      }
      q += j - i;
      i = j;
    }
    if (anyClear) {
      CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(bytes, v, n, bytes + L);
    } else {
      for (u32 q = 0; q < n; ++q) v[q] = bytes[q];
    }
  }

  // Writes line k: every pixel takes its line's value, and the pixel of
  // the previous line beside it takes the mix frac x value + (1 - frac) x
  // its own (single precision).
  void WriteLine(u32 k, u32 first, u32 n, const f64* v) const {
    for (u32 i = first; i < first + n;) {
      const u32 j = sh.runEnd[i] < first + n ? sh.runEnd[i] : first + n;
      const u32 c0 = k - static_cast<u32>(sh.off[i]);
      const f64* vv = v + (i - first);
      u8* own = dst + sh.Offset(i, c0, dLen, dCross);
      if (c0 > 0) {
        u8* nb = sh.mirrored ? own + dCross : own - dCross;
        const f32* fr = sh.frac + i;
        for (u32 r = 0; r < j - i; ++r) {
          const f32 keep = (1.0f - fr[r]) * static_cast<f32>(nb[r * dLen]);
          nb[r * dLen] = ToByte(static_cast<f64>(fr[r]) * vv[r] + static_cast<f64>(keep));
        }
      }
      for (u32 r = 0; r < j - i; ++r) own[r * dLen] = ToByte(vv[r]);
      i = j;
    }
  }

  // The lanes of batch lines k0..k0+count-1 at length position i cover
  // neighbouring pixels across: lane c at cross coordinate k0 + c - off[i].
  // cLo..cHi-1 are the lanes that have position i.
  void LaneRange(const LineBatch& b, u32 i, i64& cLo, i64& cHi) const {
    const i64 o = sh.off[i], k0 = b.k[0];
    cLo = o - k0 > 0 ? o - k0 : 0;
    cHi = o - k0 + sh.C < static_cast<i64>(b.count) ? o - k0 + sh.C : static_cast<i64>(b.count);
  }

  // Gathers consecutive lines into padded lanes of x (rows of kLanes), all
  // with the same lead; lanes past the batch repeat its last line. Lane
  // lengths (line + pad) go to laneLen; the rows after each lane and three
  // more past the longest are zero, as RecursiveLanes needs.
  void GatherBatch(const LineBatch& b, u64 pad, f64* line, f64* x, u64* laneLen) const {
    constexpr u32 K = kLanes;
    const u32 L = sh.L;
    const i64 crossStep = sh.mirrored ? -static_cast<i64>(sCross) : static_cast<i64>(sCross);
    u8* vals = bytes;
    u8* alph = bytes + static_cast<u64>(K) * L;
    u8 clear[K] = {0};
    for (u32 i = b.first[0]; i < b.first[b.count - 1] + b.len[b.count - 1]; ++i) {
      i64 cLo, cHi;
      LaneRange(b, i, cLo, cHi);
      if (cLo >= cHi) continue;
      const u64 o = sh.Offset(i, static_cast<u32>(b.k[0] + cLo - sh.off[i]), sLen, sCross);
      for (i64 c = cLo; c < cHi; ++c) vals[c * L + (i - b.first[c])] = src[static_cast<i64>(o) + (c - cLo) * crossStep];
      if (!srcA) continue;
      for (i64 c = cLo; c < cHi; ++c) {
        const u8 a = srcA[static_cast<i64>(o) + (c - cLo) * crossStep];
        alph[c * L + (i - b.first[c])] = a;
        clear[c] |= a == 0;
      }
    }
    const u64 lead = pad / 2, rows = b.Longest() + pad + 3;
    for (u32 c = 0; c < K; ++c) {
      const u32 sc = c < b.count ? c : b.count - 1;
      const u32 n = b.len[sc];
      laneLen[c] = n + pad;
      if (clear[sc]) {
        CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(vals + sc * L, line, n, alph + sc * L);
        for (u32 q = 0; q < n; ++q) x[(lead + q) * K + c] = line[q];
      } else {
        for (u32 q = 0; q < n; ++q) x[(lead + q) * K + c] = vals[sc * L + q];
      }
      const f64 firstV = x[lead * K + c], lastV = x[(lead + n - 1) * K + c];
      for (u64 r = 0; r < lead; ++r) x[r * K + c] = firstV;
      for (u64 r = lead + n; r < laneLen[c]; ++r) x[r * K + c] = lastV;
      for (u64 r = laneLen[c]; r < rows; ++r) x[r * K + c] = 0.0;
    }
  }

  // Writes the filtered lanes back strip by strip, lanes in increasing k,
  // as WriteLine would one line after the other. The mix of lane c reads
  // lane c - 1's fresh value, so only the first lane's neighbour is read
  // from memory.
  void WriteBatch(const LineBatch& b, const f64* x, u64 lead) const {
    constexpr u32 K = kLanes;
    const i64 dCrossStep = sh.mirrored ? -static_cast<i64>(dCross) : static_cast<i64>(dCross);
    f64 v[K];
    u8 ownB[K];
    for (u32 i = b.first[0]; i < b.first[b.count - 1] + b.len[b.count - 1]; ++i) {
      i64 cLo, cHi;
      LaneRange(b, i, cLo, cHi);
      if (cLo >= cHi) continue;
      const i64 c0 = b.k[0] + cLo - sh.off[i];
      u8* own = dst + sh.Offset(i, static_cast<u32>(c0), dLen, dCross);
      const f32 f = sh.frac[i];
      const f64 fd = f;
      const f32 g = 1.0f - f;
      for (i64 c = cLo; c < cHi; ++c) {
        v[c] = Clamp255(x[(lead + (i - b.first[c])) * K + c]);
        ownB[c] = static_cast<u8>(static_cast<i32>(v[c]));
      }
      if (c0 > 0) {
        u8* nbp = own - dCrossStep;
        *nbp = ToByte(fd * v[cLo] + static_cast<f64>(g * static_cast<f32>(*nbp)));
      }
      u8* px = own;
      for (i64 c = cLo + 1; c < cHi; ++c, px += dCrossStep)
        *px = ToByte(fd * v[c] + static_cast<f64>(g * static_cast<f32>(ownB[c - 1])));
      *px = ownB[cHi - 1];
    }
  }
};

// Lines are taken kLanes at a time. Filtering reads only the source, so
// consecutive lines are filtered side by side and then written back one
// after the other in increasing k, as if done one by one; the kernel path,
// short batches and tiny lines go one line at a time.
// (The plane comes by value: a local copy that the byte stores cannot alias.)
u8 MotionAngledPlane(CKLF_ImageFX& fx, CKLF_ImageFX::STRUCT_Blur_VectorData& rec, const ShearPlane plane, u64 pad,
                     f64* line) {
  const Shear& sh = plane.sh;
  const u32 L = sh.L, lines = static_cast<u32>(sh.off[L - 1]) + sh.C;
  u64 laneLen[kLanes];
  u32 first = 0, end = 0, k = 0;
  while (k < lines) {
    LineBatch b;
    b.count = 0;
    for (; k < lines && b.count < kLanes; ++k) {
      while (end < L && static_cast<u32>(sh.off[end]) <= k) ++end;
      while (first < end && static_cast<u32>(sh.off[first]) + sh.C <= k) ++first;
      if (first == end) continue;
      b.k[b.count] = k;
      b.first[b.count] = first;
      b.len[b.count] = end - first;
      ++b.count;
    }
    if (b.count == 0) continue;
    if (rec.smallSigma || b.count < kLanes / 2 || b.Shortest() + pad < 4 || b.k[b.count - 1] - b.k[0] != b.count - 1) {
      for (u32 c = 0; c < b.count; ++c) {
        plane.GatherLine(b.k[c], b.first[c], b.len[c], line);
        rec.length = b.len[c];
        rec.vector = line;
        if (!fx.Blur_BlurVector(&rec)) return 0;
        plane.WriteLine(b.k[c], b.first[c], b.len[c], line);
      }
      continue;
    }
    f64* x = reinterpret_cast<f64*>(rec.padBuffer->GetPtr());  // grown by the caller
    plane.GatherBatch(b, pad, line, x, laneLen);
    RecursiveLanes(rec, x, b.Longest() + pad, laneLen);
    plane.WriteBatch(b, x, pad / 2);
  }
  return 1;
}

// Samples converted between bytes and lanes at a time: whole 16 x 16
// blocks, fetched ahead by as many when the lanes' bytes lie side by side
// (each row of lanes is then a line of its own, far from the next).
constexpr u64 kChunk = 64;

// The recursive filter over a group of lanes. Whole blocks of 16 samples of
// byte lines are converted as the causal pass reaches them and converted
// back as the anti-causal pass leaves them, so the padded lanes are written
// once and read once; other samples go through the lanes a range at a
// time. The anti-causal pass stops at the first sample: the lead rows before
// it are never output.
KLF_LANES void RecursiveGroup(const CKLF_ImageFX::STRUCT_Blur_VectorData& rec, const LaneSource& src,
                              const CKLF_ImageFX::Lines& out, u32 g, u32 valid, u64 m, u64 pad, f64* padded) {
  constexpr u32 K = kLanes;
  const u64 N = m + pad, lead = pad / 2;
  f64* samples = padded + lead * K;
  const u8 rowsIn = !src.side && src.unitSteps;
  const u64 full = src.side || rowsIn ? m / 16 * 16 : 0;
  const u8 sideOut = !out.isFloat && out.lineStep == 1 && valid == K;
  const u8 rowsOut = !sideOut && !out.isFloat && out.step == 1;
  u8* outBase = static_cast<u8*>(out.base) + static_cast<i64>(g) * (sideOut ? 1 : out.lineStep);
  alignas(16) u8 stage[kChunk * 16];

  // The padding repeats the first and last samples as loaded.
  f64 first[K], last[K];
  LoadRange(src, 0, 1, first);
  LoadRange(src, m - 1, m, last);
  for (u64 n = 0; n < lead; ++n)
    for (u32 c = 0; c < K; ++c) padded[n * K + c] = rec.borderFlag ? rec.borderValue : first[c];
  for (u64 n = lead + m; n < N; ++n)
    for (u32 c = 0; c < K; ++c) padded[n * K + c] = rec.borderFlag ? rec.borderValue : last[c];

  CausalRows<false>(rec, padded, 0, lead, nullptr, 0);
  for (u64 i = 0; i < full; i += kChunk) {
    const u64 n = full - i < kChunk ? full - i : kChunk;
    if (rowsIn) {
      for (u64 j = 0; j < n; j += 16) GatherBlock(src.lanePtr, i + j, stage + 16 * j);
      CausalRows<true>(rec, padded, lead + i, lead + i + n, stage, 16);
      continue;
    }
    const u64 next = i + kChunk < m ? m - (i + kChunk) : 0;
    const Ahead ahead = {src.side + static_cast<i64>(i + (next ? kChunk : 0)) * src.sideStep, src.sideStep,
                         next < n ? next : n};
    CausalRows<true>(rec, padded, lead + i, lead + i + n, src.side + static_cast<i64>(i) * src.sideStep, src.sideStep,
                     ahead);
  }
  LoadRange(src, full, m, samples + full * K);
  CausalRows<false>(rec, padded, lead + full, N, nullptr, 0);

  AntiCausalRows<false>(rec, padded, N, lead + full, N, nullptr, 0);
  StoreRange(out, g, valid, full, m, samples, 1);
  for (u64 i = full / kChunk * kChunk, stop = full; stop > 0; stop = i, i -= kChunk) {
    if (i == stop) continue;
    if (sideOut) {
      // The next chunk's rows, last first, are about to be written.
      const Ahead ahead = {outBase + static_cast<i64>(i > 0 ? i - 1 : 0) * out.step, -out.step,
                           i < kChunk ? i : kChunk};
      AntiCausalRows<true>(rec, padded, N, lead + i, lead + stop, outBase + static_cast<i64>(i) * out.step, out.step,
                           ahead);
    } else if (rowsOut) {
      AntiCausalRows<true>(rec, padded, N, lead + i, lead + stop, stage, 16);
      for (u64 j = 0; j < stop - i; j += 16) Transpose16(stage + 16 * j, 16, outBase + i + j, out.lineStep, valid);
    } else {
      AntiCausalRows<false>(rec, padded, N, lead + i, lead + stop, nullptr, 0);
      StoreRange(out, g, valid, i, stop, samples, 1);
    }
  }
}

// Lines g..g+K-1 (those that exist) from in to out through one worker's
// buffers: the kernel input lanes (followed by one recovered line and K byte
// lines) and the padded lanes of the recursive filter.
KLF_LANES void BlurGroupBody(const CKLF_ImageFX::STRUCT_Blur_VectorData& rec, const CKLF_ImageFX::Lines& in,
                             const CKLF_ImageFX::Lines& out, const CKLF_ImageFX::Lines* alpha, u32 g, u32 lineCount,
                             u32 length, u64 pad, f64* lanesIn, f64* padded) {
  constexpr u32 K = kLanes;
  const u8 kernel = rec.smallSigma;
  const u8 identity = kernel && !(rec.sigma >= 0.1);
  const u64 m = length;
  f64* recLine = lanesIn + m * K;
  u8* scratch = reinterpret_cast<u8*>(recLine + m);
  const u32 valid = lineCount - g < K ? lineCount - g : K;
  if (!kernel) {
    LaneSource src;
    SourceLanes(in, alpha, g, valid, lineCount, length, scratch, recLine, src);
    RecursiveGroup(rec, src, out, g, valid, m, pad, padded);
    return;
  }
  LoadLanes(in, alpha, g, valid, lineCount, length, lanesIn, scratch, recLine);
  if (!identity) KernelLanes(rec, lanesIn, padded, m);
  // The kernel's output is not clamped.
  StoreLanes(out, g, valid, m, identity ? lanesIn : padded, 0);
}

// The body built for AVX2 and for the baseline, chosen once at run time (no
// ifunc: its resolver would run before a sanitizer's runtime is up).
typedef void (*BlurGroupFn)(const CKLF_ImageFX::STRUCT_Blur_VectorData&, const CKLF_ImageFX::Lines&,
                            const CKLF_ImageFX::Lines&, const CKLF_ImageFX::Lines*, u32, u32, u32, u64, f64*, f64*);
__attribute__((target("avx2"))) void BlurGroupAvx2(const CKLF_ImageFX::STRUCT_Blur_VectorData& rec,
                                                   const CKLF_ImageFX::Lines& in, const CKLF_ImageFX::Lines& out,
                                                   const CKLF_ImageFX::Lines* alpha, u32 g, u32 lineCount,
                                                   u32 length, u64 pad, f64* lanesIn, f64* padded) {
  BlurGroupBody(rec, in, out, alpha, g, lineCount, length, pad, lanesIn, padded);
}
void BlurGroupBase(const CKLF_ImageFX::STRUCT_Blur_VectorData& rec, const CKLF_ImageFX::Lines& in,
                   const CKLF_ImageFX::Lines& out, const CKLF_ImageFX::Lines* alpha, u32 g, u32 lineCount, u32 length,
                   u64 pad, f64* lanesIn, f64* padded) {
  BlurGroupBody(rec, in, out, alpha, g, lineCount, length, pad, lanesIn, padded);
}
BlurGroupFn BlurGroupFor() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? BlurGroupAvx2 : BlurGroupBase;
}
const BlurGroupFn BlurGroup = BlurGroupFor();

}  // namespace

void CKLF_ImageFX::Blur_PrepareBlurData(f64 sigma, STRUCT_Blur_VectorData* rec, CKLF_Mem* padBuffer, u8 borderFlag,
                                        u8 borderValue) {
  if (!rec) return;
  f64 q;
  if (sigma >= 2.5)
    q = 0.98711 * sigma - 0.9633;
  else
    q = 3.97156 - 4.14554 * std::sqrt(1.0 - 0.26891 * sigma);
  const f64 q2 = q * q;
  const f64 q3 = q2 * q;
  const f64 b0 = 1.57825 + 2.44413 * q + 1.4281 * q2 + 0.422205 * q3;
  const f64 b1 = 2.44413 * q + 2.85619 * q2 + 1.26661 * q3;
  const f64 b2 = -(1.4281 * q2 + 1.26661 * q3);
  const f64 b3 = 0.422205 * q3;
  rec->b1 = b1 / b0;
  rec->b2 = b2 / b0;
  rec->b3 = b3 / b0;
  rec->B = 1.0 - (b1 + b2 + b3) / b0;
  rec->sigma = sigma;
  rec->padBuffer = padBuffer;
  rec->borderFlag = borderFlag;
  rec->borderValue = borderValue;
  rec->smallSigma = 0;
  rec->kernelLength = 0;
  std::memset(rec->kernel, 0, sizeof(rec->kernel));
  if (sigma < 1.5) {
    const f64 s = sigma < 0.1 ? 0.1 : 1.5 * sigma + 0.1;
    const i32 n = static_cast<i32>(3.8 * s) + 2;
    if (n < 20) {
      rec->smallSigma = 1;
      rec->kernelLength = static_cast<u16>(n);
      for (i32 i = 0; i < n; ++i) rec->kernel[i] = 1000.0 * std::exp(-static_cast<f64>(i * i) / (2.0 * s * s));
    }
  }
}

u8 CKLF_ImageFX::Blur_BlurVector(STRUCT_Blur_VectorData* rec) {
  if (!rec) return Fail(klErrBadArg);
  if (rec->smallSigma) return Blur_BlurVectorHQ(rec);
  const u64 m = rec->length;
  if (m == 0) return 1;
  u64 pad;
  if (!rec->vector || !rec->padBuffer || !PadFor(rec->sigma, pad)) {
    return Fail(rec->vector && rec->padBuffer ? klErrNoMemory : klErrBadArg);
  }
  const u64 N = m + pad;
  const u64 lead = pad / 2;
  f64* x = reinterpret_cast<f64*>(i_Grow(*rec->padBuffer, N * sizeof(f64)));
  if (!x) return 0;
  f64* v = rec->vector;
  const f64 first = rec->borderFlag ? rec->borderValue : v[0];
  const f64 last = rec->borderFlag ? rec->borderValue : v[m - 1];
  for (u64 n = 0; n < lead; ++n) x[n] = first;
  for (u64 i = 0; i < m; ++i) x[lead + i] = v[i];
  for (u64 n = lead + m; n < N; ++n) x[n] = last;

  const f64 B = rec->B, b1 = rec->b1, b2 = rec->b2, b3 = rec->b3;
  if (N >= 1) x[0] = (B + b1 + b2 + b3) * x[0];
  if (N >= 2) x[1] = B * x[1] + (b1 + b2 + b3) * x[0];
  if (N >= 3) x[2] = B * x[2] + b1 * x[1] + (b2 + b3) * x[0];
  for (u64 n = 3; n < N; ++n) x[n] = B * x[n] + b1 * x[n - 1] + b2 * x[n - 2] + b3 * x[n - 3];
  if (N >= 1) x[N - 1] = (B + b1 + b2 + b3) * x[N - 1];
  if (N >= 2) x[N - 2] = B * x[N - 2] + (b1 + b2 + b3) * x[N - 1];
  if (N >= 3) x[N - 3] = B * x[N - 3] + b1 * x[N - 2] + (b2 + b3) * x[N - 1];
  if (N >= 4)
    for (u64 n = N - 4;; --n) {
      x[n] = B * x[n] + b1 * x[n + 1] + b2 * x[n + 2] + b3 * x[n + 3];
      if (n == 0) break;
    }
  for (u64 i = 0; i < m; ++i) v[i] = Clamp255(x[lead + i]);
  return 1;
}

u8 CKLF_ImageFX::Blur_BlurVectorHQ(STRUCT_Blur_VectorData* rec) {
  if (!rec) return Fail(klErrBadArg);
  const u64 m = rec->length;
  if (m == 0 || !(rec->sigma >= 0.1)) return 1;
  if (!rec->vector || !rec->padBuffer) return Fail(klErrBadArg);
  f64* out = reinterpret_cast<f64*>(i_Grow(*rec->padBuffer, m * sizeof(f64)));
  if (!out) return 0;
  const f64* v = rec->vector;
  const f64* w = rec->kernel;
  const u32 n = rec->kernelLength;
  const f64 bc = static_cast<f64>(rec->borderValue);
  for (u64 i = 0; i < m; ++i) {
    f64 sum = 0.0, ws = 0.0;
    for (u32 k = 0; k < n; ++k) {
      if (i + k < m) {
        sum += w[k] * v[i + k];
      } else if (rec->borderFlag) {
        sum += w[k] * bc;
      } else {
        break;
      }
      ws += w[k];
    }
    for (u32 k = 1; k < n; ++k) {
      if (i >= k) {
        sum += w[k] * v[i - k];
      } else if (rec->borderFlag) {
        sum += w[k] * bc;
      } else {
        break;
      }
      ws += w[k];
    }
    out[i] = sum / ws;
  }
  std::memcpy(rec->vector, out, m * sizeof(f64));
  return 1;
}

void CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(const u8* values, f64* out, u32 length, const u8* alpha) {
  u32 first = 0;
  while (first < length && alpha[first] == 0) ++first;
  if (first == length) {
    for (u32 i = 0; i < length; ++i) out[i] = 128.0;
    return;
  }
  for (u32 i = 0; i < first; ++i) out[i] = values[first];
  u32 i = first;
  while (i < length) {
    if (alpha[i] != 0) {
      out[i] = values[i];
      ++i;
      continue;
    }
    const u32 j = i;
    while (i < length && alpha[i] == 0) ++i;
    const f64 left = out[j - 1];
    if (i == length) {
      for (u32 q = j; q < length; ++q) out[q] = left;
    } else {
      const u32 mid = j + (i - j) / 2;
      for (u32 q = j; q < mid; ++q) out[q] = left;
      for (u32 q = mid; q < i; ++q) out[q] = values[i];
    }
  }
}

namespace {

// Bytes of one worker's line buffer and pad buffer for lines of length m,
// whole cache lines so that every worker's floats stay aligned.
u64 CacheLines(u64 bytes) { return (bytes + 63) & ~u64(63); }
u64 LineBytes(u64 m) { return CacheLines(m * kLanes * sizeof(f64) + m * sizeof(f64) + (kLanes + 1) * m); }
u64 PadBytes(u64 m, u64 pad) { return CacheLines((m + pad) * kLanes * sizeof(f64)); }

// Line groups of one task: 64 neighbouring lines, so that workers filtering
// columns side by side do not write the same cache lines.
const u32 kGroupsPerTask = 4;

}  // namespace

u8 CKLF_ImageFX::i_GrowBlurLines(const STRUCT_Blur_VectorData& rec, u32 length) {
  u64 pad = 0;
  if (!rec.smallSigma && !PadFor(rec.sigma, pad)) return Fail(klErrNoMemory);
  const u64 workers = KLF_Parallel::Resolve(m_threads);
  return i_Grow(m_lineBuffer, workers * LineBytes(length)) && i_Grow(m_padBuffer, workers * PadBytes(length, pad)) &&
                 i_GrowKernelLines(rec, length)
             ? 1
             : 0;
}

u8 CKLF_ImageFX::i_BlurLines(const STRUCT_Blur_VectorData& rec, const Lines& in, const Lines& out,
                             const Lines* alpha, u32 lineCount, u32 length) {
  if (lineCount == 0 || length == 0) return 1;
  if (i_KernelLinesFit(rec, in, out, alpha, length)) return i_KernelLines(rec, in, out, alpha, lineCount, length);
  u64 pad = 0;
  if (!rec.smallSigma && !PadFor(rec.sigma, pad)) return Fail(klErrNoMemory);
  if (!i_GrowBlurLines(rec, length)) return 0;
  const u32 groups = (lineCount + kLanes - 1) / kLanes;
  const u32 tasks = (groups + kGroupsPerTask - 1) / kGroupsPerTask;
  u8* lineBase = m_lineBuffer.GetPtr();
  u8* padBase = m_padBuffer.GetPtr();
  const u64 lineBytes = LineBytes(length), padBytes = PadBytes(length, pad);
  KLF_Parallel::For(m_threads, tasks, [&](u32 task, u32 worker) {
    f64* lanesIn = reinterpret_cast<f64*>(lineBase + worker * lineBytes);
    f64* padded = reinterpret_cast<f64*>(padBase + worker * padBytes);
    const u32 last = (task + 1) * kGroupsPerTask < groups ? (task + 1) * kGroupsPerTask : groups;
    for (u32 g = task * kGroupsPerTask; g < last; ++g)
      BlurGroup(rec, in, out, alpha, g * kLanes, lineCount, length, pad, lanesIn, padded);
  });
  return 1;
}

// Whether plane p of a blur is blurred: the alpha plane left unblurred is
// copied here (it is the last plane) and answers 0. recover tells whether
// the plane's lines go through the zero-alpha recovery.
u8 CKLF_ImageFX::i_BlurPlane(u8 p, u8 blurAlpha, u8 zeroAlphaRecovery, u8& recover) {
  const u8 isAlpha = m_src.hasAlpha && p == m_src.count - 1;
  if (isAlpha && !blurAlpha) {
    i_CopyPlane(p);
    return 0;
  }
  recover = zeroAlphaRecovery && m_src.hasAlpha && !isAlpha;
  return 1;
}

u8 CKLF_ImageFX::i_MarkZeroLines(Lines& alpha, u32 lineCount, u32 length) {
  u8* marks = i_Grow(m_zeroLines, lineCount);
  if (!marks) return 0;
  const u8* base = static_cast<const u8*>(alpha.base);
  const u32 band = 256, bands = (lineCount + band - 1) / band;
  KLF_Parallel::For(m_threads, bands, [&](u32 b, u32) {
    const u32 g0 = b * band, g1 = g0 + band < lineCount ? g0 + band : lineCount;
    if (alpha.step == 1) {
      for (u32 g = g0; g < g1; ++g)
        marks[g] = std::memchr(base + static_cast<i64>(g) * alpha.lineStep, 0, length) != nullptr;
    } else if (alpha.lineStep == 1) {
      // Lines side by side: a band of them scanned a row at a time.
      std::memset(marks + g0, 0, g1 - g0);
      for (u32 i = 0; i < length; ++i) {
        const u8* row = base + static_cast<i64>(i) * alpha.step;
        for (u32 g = g0; g < g1; ++g) marks[g] |= row[g] == 0;
      }
    } else {
      for (u32 g = g0; g < g1; ++g) {
        const u8* a = base + static_cast<i64>(g) * alpha.lineStep;
        u8 zero = 0;
        for (u32 i = 0; i < length && !zero; ++i) zero = a[static_cast<i64>(i) * alpha.step] == 0;
        marks[g] = zero;
      }
    }
  });
  alpha.zeroLines = marks;
  return 1;
}

u8 CKLF_ImageFX::GaussianBlur(f64 radius, u8 blurAlpha, u8 zeroAlphaRecovery) {
  if (!i_CheckPair()) return 0;
  if (!std::isfinite(radius)) return Fail(klErrBadArg);
  if (radius < 0.1) {
    i_CopyAll();
    return 1;
  }
  STRUCT_Blur_VectorData rec;
  Blur_PrepareBlurData(radius, &rec, &m_padBuffer, 0, 0);
  const u32 w = m_src.width, h = m_src.height;
  // Grow every buffer before the first byte is written.
  if (!i_GrowBlurLines(rec, w > h ? w : h)) return 0;
  const u8 last = static_cast<u8>(m_src.count - 1);
  Lines alphaRows = {0, m_src.planes[last], 1, m_src.stride};
  if (zeroAlphaRecovery && m_src.hasAlpha && last > 0 && !i_MarkZeroLines(alphaRows, h, w)) return 0;
  u8 recover = 0;
  for (u8 p = 0; p < m_src.count && i_BlurPlane(p, blurAlpha, zeroAlphaRecovery, recover); ++p) {
    const Lines srcRows = {0, m_src.planes[p], 1, m_src.stride};
    const Lines dstRows = {0, m_dst.planes[p], 1, m_dst.stride};
    const Lines dstCols = {0, m_dst.planes[p], m_dst.stride, 1};
    if (!i_BlurLines(rec, srcRows, dstRows, recover ? &alphaRows : nullptr, h, w)) return 0;
    if (!i_BlurLines(rec, dstCols, dstCols, nullptr, w, h)) return 0;
  }
  return 1;
}

u8 CKLF_ImageFX::MotionBlur(f64 angle, f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery) {
  if (!i_CheckPair()) return 0;
  if (!std::isfinite(angle) || !std::isfinite(distance)) return Fail(klErrBadArg);
  if (distance < 0.1) {
    i_CopyAll();
    return 1;
  }
  // Far-out angles are reduced first; fmod is exact, as is each single
  // subtraction of 180 below, so the fold gives the same value either way.
  if (std::fabs(angle) > 1.0e7) angle = std::fmod(angle, 180.0);
  while (angle > 180.0) angle -= 180.0;
  while (angle < 0.0) angle += 180.0;

  if (angle >= 0.1 && angle <= 179.9 && !(angle > 89.9 && angle < 90.1))
    return Blur_Motion_DoAngle(angle, distance, blurAlpha, zeroAlphaRecovery);

  if (angle < 0.1 || angle > 179.9) return Blur_Motion_DoHorizontal(distance, blurAlpha, zeroAlphaRecovery);
  return Blur_Motion_DoVertical(distance, blurAlpha, zeroAlphaRecovery);
}

u8 CKLF_ImageFX::Blur_Motion_DoHorizontal(f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery) {
  return i_MotionStraight(1, distance, blurAlpha, zeroAlphaRecovery);
}

u8 CKLF_ImageFX::Blur_Motion_DoVertical(f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery) {
  return i_MotionStraight(0, distance, blurAlpha, zeroAlphaRecovery);
}

u8 CKLF_ImageFX::i_MotionStraight(u8 horizontal, f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery) {
  STRUCT_Blur_VectorData rec;
  Blur_PrepareBlurData(distance, &rec, &m_padBuffer, 0, 0);
  const u32 w = m_src.width, h = m_src.height;
  const u8 last = static_cast<u8>(m_src.count - 1);
  Lines a = {0, m_src.planes[last], horizontal ? 1 : m_src.stride, horizontal ? m_src.stride : 1};
  const u32 lines = horizontal ? h : w, length = horizontal ? w : h;
  if (zeroAlphaRecovery && m_src.hasAlpha && last > 0 && !i_MarkZeroLines(a, lines, length)) return 0;
  u8 recover = 0;
  for (u8 p = 0; p < m_src.count && i_BlurPlane(p, blurAlpha, zeroAlphaRecovery, recover); ++p) {
    u8 ok;
    if (horizontal) {
      const Lines s = {0, m_src.planes[p], 1, m_src.stride};
      const Lines d = {0, m_dst.planes[p], 1, m_dst.stride};
      ok = i_BlurLines(rec, s, d, recover ? &a : nullptr, lines, length);
    } else {
      const Lines s = {0, m_src.planes[p], m_src.stride, 1};
      const Lines d = {0, m_dst.planes[p], m_dst.stride, 1};
      ok = i_BlurLines(rec, s, d, recover ? &a : nullptr, lines, length);
    }
    if (!ok) return 0;
  }
  return 1;
}

u8 CKLF_ImageFX::Blur_Motion_DoAngle(f64 angle, f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery) {
  const u8 mirrored = angle > 90.0;
  if (mirrored) angle = 180.0 - angle;
  const u8 alongX = angle <= 45.0;
  const u32 L = alongX ? m_src.width : m_src.height;
  const u32 C = alongX ? m_src.height : m_src.width;
  if (L == 0 || C == 0) return 1;
  // tan(45 degrees) computes to just below 1, which would move every pixel
  // onto the next diagonal: 45 degrees is the exact diagonal.
  const f64 t = angle == 45.0 ? 1.0
                : alongX      ? std::tan(angle * kPi / 180.0)
                              : std::tan((90.0 - angle) * kPi / 180.0);

  STRUCT_Blur_VectorData rec;
  Blur_PrepareBlurData(distance, &rec, &m_padBuffer, 0, 0);
  u64 pad = 0;
  if (!rec.smallSigma && !PadFor(distance, pad)) return Fail(klErrNoMemory);
  constexpr u32 K = kLanes;
  // Offsets, then for each position the end of its run of equal offsets.
  i32* off = reinterpret_cast<i32*>(i_Grow(m_shearOffset, 2ull * L * sizeof(i32)));
  f32* frac = reinterpret_cast<f32*>(i_Grow(m_shearFrac, static_cast<u64>(L) * sizeof(f32)));
  f64* line = reinterpret_cast<f64*>(i_Grow(m_motionLine, static_cast<u64>(L) * K * sizeof(f64)));
  u8* bytes = i_Grow(m_motionBytes, 2ull * K * L);
  if (!off || !frac || !line || !bytes || !i_Grow(m_padBuffer, (L + pad + 3) * K * sizeof(f64))) return 0;
  for (u32 i = 0; i < L; ++i) {
    const f64 ti = t * static_cast<f64>(i);
    off[i] = static_cast<i32>(ti);
    frac[i] = static_cast<f32>(ti - off[i]);
  }
  u32* runEnd = reinterpret_cast<u32*>(off + L);
  for (u32 i = L; i-- > 0;) runEnd[i] = (i + 1 < L && off[i + 1] == off[i]) ? runEnd[i + 1] : i + 1;
  const Shear sh = {L, C, mirrored, off, frac, runEnd};

  const u8 last = static_cast<u8>(m_src.count - 1);
  u8 recover = 0;
  for (u8 p = 0; p < m_src.count && i_BlurPlane(p, blurAlpha, zeroAlphaRecovery, recover); ++p) {
    const ShearPlane plane = {sh,
                              m_src.planes[p],
                              recover ? m_src.planes[last] : nullptr,
                              m_dst.planes[p],
                              alongX ? 1u : m_src.stride,
                              alongX ? m_src.stride : 1u,
                              alongX ? 1u : m_dst.stride,
                              alongX ? m_dst.stride : 1u,
                              bytes};
    if (!MotionAngledPlane(*this, rec, plane, pad, line)) return 0;
  }
  return 1;
}
