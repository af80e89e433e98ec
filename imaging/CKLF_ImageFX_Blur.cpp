// Gaussian and motion blur: the recursive Gaussian (Young / van Vliet), the
// sampled kernel for small sigma, zero-alpha recovery, and the passes.
#include <cmath>
#include <cstring>

#include "CKLF_ImageFX.h"
#include "CKLF_ImageFX_BlurIsa.h"
#include "KLF_Parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

#define KLF_LANES_ISA plain
#define KLF_LANES_PLAIN
#include "CKLF_ImageFX_BlurLanesBody.h"
#undef KLF_LANES_PLAIN
#undef KLF_LANES_ISA
#define KLF_LANES_ISA sse
#include "CKLF_ImageFX_BlurLanesBody.h"
#undef KLF_LANES_ISA

namespace {

using namespace klf_lanes::sse;

constexpr f64 kPi = 3.14159265358979323846;

// Flush-to-zero and denormals-are-zero on the calling thread while it
// lives, the thread's own mode put back after. After an edge into a long
// flat run (black sky, flat areas of an upscaled photo) the recursive
// filter's state decays through subnormal numbers, which cost a hundred
// cycles an operation. The bytes stay the same: a subnormal added to a sum
// of 2^-969 or more lies below half its last place and is rounded away in
// either mode, so the modes can differ only while every term of a sum is
// tiny (far below 2^-900), and such values truncate to byte 0 in both;
// once a sample of 1 or more comes, the tiny terms round away and the
// states agree again. Only for lines of bytes: single-precision results
// near 2^-126 would flush.
class FlushSubnormals {
 public:
#if defined(__SSE2__)
  FlushSubnormals() : m_saved(_mm_getcsr()) { _mm_setcsr(m_saved | kFlush); }
  ~FlushSubnormals() { _mm_setcsr(m_saved); }
#endif
  FlushSubnormals(const FlushSubnormals&) = delete;
  FlushSubnormals& operator=(const FlushSubnormals&) = delete;

 private:
#if defined(__SSE2__)
  static constexpr u32 kFlush = 0x8040;  // FTZ, DAZ
  u32 m_saved;
#endif
};

// Padding of the recursive filter, or 0 when it does not fit 32-bit sizes.
inline u8 PadFor(f64 sigma, u64& pad) {
  if (!(sigma >= 0.0) || !(sigma < 5.0e8)) return 0;
  pad = static_cast<u64>(7.0 * sigma);
  return 1;
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

// The lane passes built three times: plain, with SSE2 intrinsics, and the
// latter for AVX2 (a target attribute on its caller); chosen per call (no
// ifunc: its resolver would run before a sanitizer's runtime is up).
typedef void (*BlurGroupFn)(const CKLF_ImageFX::STRUCT_Blur_VectorData&, const CKLF_ImageFX::Lines&,
                            const CKLF_ImageFX::Lines&, const CKLF_ImageFX::Lines*, u32, u32, u32, u64, f64*, f64*);
__attribute__((target("avx2"))) void BlurGroupAvx2(const CKLF_ImageFX::STRUCT_Blur_VectorData& rec,
                                                   const CKLF_ImageFX::Lines& in, const CKLF_ImageFX::Lines& out,
                                                   const CKLF_ImageFX::Lines* alpha, u32 g, u32 lineCount,
                                                   u32 length, u64 pad, f64* lanesIn, f64* padded) {
  klf_lanes::sse::BlurGroupBody(rec, in, out, alpha, g, lineCount, length, pad, lanesIn, padded);
}
void BlurGroupSse(const CKLF_ImageFX::STRUCT_Blur_VectorData& rec, const CKLF_ImageFX::Lines& in,
                  const CKLF_ImageFX::Lines& out, const CKLF_ImageFX::Lines* alpha, u32 g, u32 lineCount, u32 length,
                  u64 pad, f64* lanesIn, f64* padded) {
  klf_lanes::sse::BlurGroupBody(rec, in, out, alpha, g, lineCount, length, pad, lanesIn, padded);
}
void BlurGroupPlain(const CKLF_ImageFX::STRUCT_Blur_VectorData& rec, const CKLF_ImageFX::Lines& in,
                    const CKLF_ImageFX::Lines& out, const CKLF_ImageFX::Lines* alpha, u32 g, u32 lineCount,
                    u32 length, u64 pad, f64* lanesIn, f64* padded) {
  klf_lanes::plain::BlurGroupBody(rec, in, out, alpha, g, lineCount, length, pad, lanesIn, padded);
}
BlurGroupFn BlurGroupFor(KLF_BlurIsa isa) {
  return isa == klBlurAvx2 ? BlurGroupAvx2 : isa == klBlurSse ? BlurGroupSse : BlurGroupPlain;
}

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
  const BlurGroupFn group = BlurGroupFor(KLF_BlurIsaInUse());
  const u8 bytes = !in.isFloat && !out.isFloat;
  KLF_Parallel::ForEach(m_threads, tasks, [&](u32 task, u32 worker) noexcept {
    f64* lanesIn = reinterpret_cast<f64*>(lineBase + worker * lineBytes);
    f64* padded = reinterpret_cast<f64*>(padBase + worker * padBytes);
    const u32 last = (task + 1) * kGroupsPerTask < groups ? (task + 1) * kGroupsPerTask : groups;
    auto run = [&] {
      for (u32 g = task * kGroupsPerTask; g < last; ++g)
        group(rec, in, out, alpha, g * kLanes, lineCount, length, pad, lanesIn, padded);
    };
    if (!bytes) return run();
    const FlushSubnormals flush;
    run();
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
  KLF_Parallel::ForEach(m_threads, bands, [&](u32 b, u32) noexcept {
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
  const FlushSubnormals flush;
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
