// The blur's line passes on 16 lines side by side: the recursive filter
// and the sampled kernel over groups of lanes, and the moves between bytes
// and lanes. Included once for each build (KLF_LANES_ISA names its
// namespace; KLF_LANES_PLAIN leaves the SSE2 intrinsics out), inside the
// imaging library only; the including file includes the intrinsics' headers.
#include <cstring>

#include "CKLF_ImageFX.h"

#if defined(__SSE2__) && !defined(KLF_LANES_PLAIN)
#define KLF_LANES_SSE2 1
#else
#define KLF_LANES_SSE2 0
#endif

// Inside the including file only, as the inliner wants it.
namespace klf_lanes {
namespace KLF_LANES_ISA {
namespace {

// Lines filtered side by side; each lane runs exactly the arithmetic of the
// single-line filter, so the results are the same bit for bit.
constexpr u32 kLanes = 16;

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

// The lane loops are inlined into each build of their caller, so that the
// caller's wider-vector build (chosen at run time) runs them in wider units;
// the operations and their order stay those of the scalar filter (and
// -ffp-contract=off keeps them uncontracted).
#ifndef KLF_LANES
#define KLF_LANES inline __attribute__((always_inline))
#endif

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
#if KLF_LANES_SSE2
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
#if KLF_LANES_SSE2
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
#if KLF_LANES_SSE2
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

}  // namespace
}  // namespace KLF_LANES_ISA
}  // namespace klf_lanes

#undef KLF_LANES_SSE2
