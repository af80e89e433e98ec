// Gaussian and motion blur: the recursive Gaussian (Young / van Vliet), the
// sampled kernel for small sigma, zero-alpha recovery, and the passes.
#include <cmath>
#include <cstring>

#include "CKLF_ImageFX.h"

namespace {

// Lines filtered side by side; each lane runs exactly the arithmetic of the
// single-line filter, so the results are the same bit for bit.
constexpr u32 kLanes = 16;
constexpr f64 kPi = 3.14159265358979323846;

inline u8 ToByte(f64 v) {
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<u8>(v);
}

inline f64 Clamp255(f64 v) {
  if (v < 0.0) return 0.0;
  if (v >= 255.0) return 255.0;
  return v;
}

// Padding of the recursive filter, or 0 when it does not fit 32-bit sizes.
inline u8 PadFor(f64 sigma, u64& pad) {
  if (!(sigma >= 0.0) || !(sigma < 5.0e8)) return 0;
  pad = static_cast<u64>(7.0 * sigma);
  return 1;
}

void RecursiveLanes(const CKLF_ImageFX::STRUCT_Blur_VectorData& r, f64* __restrict x, u64 N) {
  const f64 B = r.B, b1 = r.b1, b2 = r.b2, b3 = r.b3;
  const f64 s0 = B + b1 + b2 + b3;
  const f64 s1 = b1 + b2 + b3;
  const f64 s2 = b2 + b3;
  constexpr u32 K = kLanes;
  if (N >= 1)
    for (u32 c = 0; c < K; ++c) x[c] = s0 * x[c];
  if (N >= 2)
    for (u32 c = 0; c < K; ++c) x[K + c] = B * x[K + c] + s1 * x[c];
  if (N >= 3)
    for (u32 c = 0; c < K; ++c) x[2 * K + c] = B * x[2 * K + c] + b1 * x[K + c] + s2 * x[c];
  for (u64 n = 3; n < N; ++n) {
    f64* __restrict o = x + n * K;
    const f64* p1 = o - K;
    const f64* p2 = o - 2 * K;
    const f64* p3 = o - 3 * K;
    for (u32 c = 0; c < K; ++c) o[c] = B * o[c] + b1 * p1[c] + b2 * p2[c] + b3 * p3[c];
  }
  if (N >= 1) {
    f64* e = x + (N - 1) * K;
    for (u32 c = 0; c < K; ++c) e[c] = s0 * e[c];
  }
  if (N >= 2) {
    f64* e = x + (N - 2) * K;
    for (u32 c = 0; c < K; ++c) e[c] = B * e[c] + s1 * e[K + c];
  }
  if (N >= 3) {
    f64* e = x + (N - 3) * K;
    for (u32 c = 0; c < K; ++c) e[c] = B * e[c] + b1 * e[K + c] + s2 * e[2 * K + c];
  }
  if (N >= 4) {
    for (u64 n = N - 4;; --n) {
      f64* __restrict o = x + n * K;
      const f64* q1 = o + K;
      const f64* q2 = o + 2 * K;
      const f64* q3 = o + 3 * K;
      for (u32 c = 0; c < K; ++c) o[c] = B * o[c] + b1 * q1[c] + b2 * q2[c] + b3 * q3[c];
      if (n == 0) break;
    }
  }
}

void KernelLanes(const CKLF_ImageFX::STRUCT_Blur_VectorData& r, const f64* __restrict in, f64* __restrict out,
                 u64 m) {
  constexpr u32 K = kLanes;
  const u32 n = r.kernelLength;
  const f64* w = r.kernel;
  const f64 bc = static_cast<f64>(r.borderValue);
  f64 sum[K];
  for (u64 i = 0; i < m; ++i) {
    for (u32 c = 0; c < K; ++c) sum[c] = 0.0;
    f64 ws = 0.0;
    for (u32 k = 0; k < n; ++k) {
      const u64 j = i + k;
      if (j < m) {
        const f64* v = in + j * K;
        for (u32 c = 0; c < K; ++c) sum[c] += w[k] * v[c];
      } else if (r.borderFlag) {
        for (u32 c = 0; c < K; ++c) sum[c] += w[k] * bc;
      } else {
        break;
      }
      ws += w[k];
    }
    for (u32 k = 1; k < n; ++k) {
      if (i >= k) {
        const f64* v = in + (i - k) * K;
        for (u32 c = 0; c < K; ++c) sum[c] += w[k] * v[c];
      } else if (r.borderFlag) {
        for (u32 c = 0; c < K; ++c) sum[c] += w[k] * bc;
      } else {
        break;
      }
      ws += w[k];
    }
    f64* o = out + i * K;
    for (u32 c = 0; c < K; ++c) o[c] = sum[c] / ws;
  }
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
  if (!rec) {
    SetError(klErrBadArg);
    return 0;
  }
  if (rec->smallSigma) return Blur_BlurVectorHQ(rec);
  const u64 m = rec->length;
  if (m == 0) return 1;
  u64 pad;
  if (!rec->vector || !rec->padBuffer || !PadFor(rec->sigma, pad)) {
    SetError(rec->vector && rec->padBuffer ? klErrNoMemory : klErrBadArg);
    return 0;
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
  if (!rec) {
    SetError(klErrBadArg);
    return 0;
  }
  const u64 m = rec->length;
  if (m == 0 || !(rec->sigma >= 0.1)) return 1;
  if (!rec->vector || !rec->padBuffer) {
    SetError(klErrBadArg);
    return 0;
  }
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

u8 CKLF_ImageFX::i_GrowBlurLines(const STRUCT_Blur_VectorData& rec, u32 length) {
  u64 pad = 0;
  if (!rec.smallSigma && !PadFor(rec.sigma, pad)) {
    SetError(klErrNoMemory);
    return 0;
  }
  const u64 m = length;
  return i_Grow(m_lineBuffer, m * kLanes * sizeof(f64) + m * sizeof(f64) + 2 * m) &&
                 i_Grow(m_padBuffer, (m + pad) * kLanes * sizeof(f64))
             ? 1
             : 0;
}

u8 CKLF_ImageFX::i_BlurLines(const STRUCT_Blur_VectorData& rec, const Lines& in, const Lines& out,
                             const Lines* alpha, u32 lineCount, u32 length) {
  if (lineCount == 0 || length == 0) return 1;
  constexpr u32 K = kLanes;
  const u8 kernel = rec.smallSigma;
  const u8 identity = kernel && !(rec.sigma >= 0.1);
  u64 pad = 0;
  if (!kernel && !PadFor(rec.sigma, pad)) {
    SetError(klErrNoMemory);
    return 0;
  }
  const u64 m = length;
  const u64 N = m + pad;
  const u64 lead = pad / 2;
  if (!i_GrowBlurLines(rec, length)) return 0;
  // Line buffer: kernel input lanes, one recovered line, gathered bytes.
  f64* lanesIn = reinterpret_cast<f64*>(m_lineBuffer.GetPtr());
  f64* recLine = lanesIn + m * K;
  u8* gather = reinterpret_cast<u8*>(recLine + m);
  f64* padded = reinterpret_cast<f64*>(m_padBuffer.GetPtr());
  f64* target = kernel ? lanesIn : padded + lead * K;
  const f64* result = identity ? lanesIn : (kernel ? padded : padded + lead * K);

  for (u32 g = 0; g < lineCount; g += K) {
    // Load: lanes past the last line repeat it and are not stored.
    if (!alpha && !in.isFloat && in.lineStep == 1 && g + K <= lineCount) {
      const u8* base = static_cast<const u8*>(in.base) + static_cast<i64>(g);
      for (u64 i = 0; i < m; ++i) {
        const u8* s = base + static_cast<i64>(i) * in.step;
        f64* t = target + i * K;
        for (u32 c = 0; c < K; ++c) t[c] = s[c];
      }
    } else {
      for (u32 c = 0; c < K; ++c) {
        const u32 line = g + c < lineCount ? g + c : lineCount - 1;
        if (alpha) {
          const u8* s = static_cast<const u8*>(in.base) + static_cast<i64>(line) * in.lineStep;
          const u8* a = static_cast<const u8*>(alpha->base) + static_cast<i64>(line) * alpha->lineStep;
          for (u64 i = 0; i < m; ++i) {
            gather[i] = s[static_cast<i64>(i) * in.step];
            gather[m + i] = a[static_cast<i64>(i) * alpha->step];
          }
          Blur_ZeroAlphaRecoveryData(gather, recLine, length, gather + m);
          for (u64 i = 0; i < m; ++i) target[i * K + c] = recLine[i];
        } else if (in.isFloat) {
          const f32* s = static_cast<const f32*>(in.base) + static_cast<i64>(line) * in.lineStep;
          for (u64 i = 0; i < m; ++i) target[i * K + c] = s[static_cast<i64>(i) * in.step];
        } else {
          const u8* s = static_cast<const u8*>(in.base) + static_cast<i64>(line) * in.lineStep;
          for (u64 i = 0; i < m; ++i) target[i * K + c] = s[static_cast<i64>(i) * in.step];
        }
      }
    }

    if (!identity) {
      if (kernel) {
        KernelLanes(rec, lanesIn, padded, m);
      } else {
        for (u32 c = 0; c < K; ++c) {
          const f64 first = rec.borderFlag ? rec.borderValue : target[c];
          const f64 last = rec.borderFlag ? rec.borderValue : target[(m - 1) * K + c];
          for (u64 n = 0; n < lead; ++n) padded[n * K + c] = first;
          for (u64 n = lead + m; n < N; ++n) padded[n * K + c] = last;
        }
        RecursiveLanes(rec, padded, N);
        for (u64 i = 0; i < m * K; ++i) padded[lead * K + i] = Clamp255(padded[lead * K + i]);
      }
    }

    // Store.
    const u32 valid = lineCount - g < K ? lineCount - g : K;
    if (!out.isFloat && out.lineStep == 1 && valid == K) {
      u8* base = static_cast<u8*>(out.base) + static_cast<i64>(g);
      for (u64 i = 0; i < m; ++i) {
        u8* d = base + static_cast<i64>(i) * out.step;
        const f64* s = result + i * K;
        for (u32 c = 0; c < K; ++c) d[c] = ToByte(s[c]);
      }
    } else {
      for (u32 c = 0; c < valid; ++c) {
        const i64 line = static_cast<i64>(g + c);
        if (out.isFloat) {
          f32* d = static_cast<f32*>(out.base) + line * out.lineStep;
          for (u64 i = 0; i < m; ++i) d[static_cast<i64>(i) * out.step] = static_cast<f32>(result[i * K + c]);
        } else {
          u8* d = static_cast<u8*>(out.base) + line * out.lineStep;
          for (u64 i = 0; i < m; ++i) d[static_cast<i64>(i) * out.step] = ToByte(result[i * K + c]);
        }
      }
    }
  }
  return 1;
}

u8 CKLF_ImageFX::GaussianBlur(f64 radius, u8 blurAlpha, u8 zeroAlphaRecovery) {
  if (!i_CheckPair()) return 0;
  if (!std::isfinite(radius)) {
    SetError(klErrBadArg);
    return 0;
  }
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
  for (u8 p = 0; p < m_src.count; ++p) {
    const u8 isAlpha = m_src.hasAlpha && p == last;
    if (isAlpha && !blurAlpha) {
      i_CopyPlane(p);
      break;
    }
    const Lines srcRows = {0, m_src.planes[p], 1, m_src.stride};
    const Lines dstRows = {0, m_dst.planes[p], 1, m_dst.stride};
    const Lines alphaRows = {0, m_src.planes[last], 1, m_src.stride};
    const Lines dstCols = {0, m_dst.planes[p], m_dst.stride, 1};
    const u8 recover = zeroAlphaRecovery && m_src.hasAlpha && !isAlpha;
    if (!i_BlurLines(rec, srcRows, dstRows, recover ? &alphaRows : nullptr, h, w)) return 0;
    if (!i_BlurLines(rec, dstCols, dstCols, nullptr, w, h)) return 0;
  }
  return 1;
}

u8 CKLF_ImageFX::MotionBlur(f64 angle, f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery) {
  if (!i_CheckPair()) return 0;
  if (!std::isfinite(angle) || !std::isfinite(distance)) {
    SetError(klErrBadArg);
    return 0;
  }
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
    return i_MotionAngle(angle, distance, blurAlpha, zeroAlphaRecovery);

  const u8 horizontal = angle < 0.1 || angle > 179.9;
  STRUCT_Blur_VectorData rec;
  Blur_PrepareBlurData(distance, &rec, &m_padBuffer, 0, 0);
  const u32 w = m_src.width, h = m_src.height;
  const u8 last = static_cast<u8>(m_src.count - 1);
  for (u8 p = 0; p < m_src.count; ++p) {
    const u8 isAlpha = m_src.hasAlpha && p == last;
    if (isAlpha && !blurAlpha) {
      i_CopyPlane(p);
      break;
    }
    const u8 recover = zeroAlphaRecovery && m_src.hasAlpha && !isAlpha;
    u8 ok;
    if (horizontal) {
      const Lines s = {0, m_src.planes[p], 1, m_src.stride};
      const Lines d = {0, m_dst.planes[p], 1, m_dst.stride};
      const Lines a = {0, m_src.planes[last], 1, m_src.stride};
      ok = i_BlurLines(rec, s, d, recover ? &a : nullptr, h, w);
    } else {
      const Lines s = {0, m_src.planes[p], m_src.stride, 1};
      const Lines d = {0, m_dst.planes[p], m_dst.stride, 1};
      const Lines a = {0, m_src.planes[last], m_src.stride, 1};
      ok = i_BlurLines(rec, s, d, recover ? &a : nullptr, w, h);
    }
    if (!ok) return 0;
  }
  return 1;
}

u8 CKLF_ImageFX::i_MotionAngle(f64 angle, f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery) {
  const u8 mirrored = angle > 90.0;
  if (mirrored) angle = 180.0 - angle;
  const u8 alongX = angle <= 45.0;
  const u32 L = alongX ? m_src.width : m_src.height;
  const u32 C = alongX ? m_src.height : m_src.width;
  if (L == 0 || C == 0) return 1;
  const f64 t = alongX ? std::tan(angle * kPi / 180.0) : std::tan((90.0 - angle) * kPi / 180.0);

  STRUCT_Blur_VectorData rec;
  Blur_PrepareBlurData(distance, &rec, &m_padBuffer, 0, 0);
  u64 pad = 0;
  if (!rec.smallSigma && !PadFor(distance, pad)) {
    SetError(klErrNoMemory);
    return 0;
  }
  i32* off = reinterpret_cast<i32*>(i_Grow(m_shearOffset, static_cast<u64>(L) * sizeof(i32)));
  f32* frac = reinterpret_cast<f32*>(i_Grow(m_shearFrac, static_cast<u64>(L) * sizeof(f32)));
  f64* line = reinterpret_cast<f64*>(i_Grow(m_motionLine, static_cast<u64>(L) * sizeof(f64)));
  u8* bytes = i_Grow(m_motionBytes, 2ull * L);
  if (!off || !frac || !line || !bytes || !i_Grow(m_padBuffer, (L + pad) * sizeof(f64))) return 0;
  for (u32 i = 0; i < L; ++i) {
    const f64 ti = t * static_cast<f64>(i);
    off[i] = static_cast<i32>(ti);
    frac[i] = static_cast<f32>(ti - off[i]);
  }
  const u32 M = static_cast<u32>(off[L - 1]);
  const u8 last = static_cast<u8>(m_src.count - 1);
  const u64 sLen = alongX ? 1 : m_src.stride, sCross = alongX ? m_src.stride : 1;
  const u64 dLen = alongX ? 1 : m_dst.stride, dCross = alongX ? m_dst.stride : 1;

  for (u8 p = 0; p < m_src.count; ++p) {
    const u8 isAlpha = m_src.hasAlpha && p == last;
    if (isAlpha && !blurAlpha) {
      i_CopyPlane(p);
      break;
    }
    const u8 recover = zeroAlphaRecovery && m_src.hasAlpha && !isAlpha;
    const u8* src = m_src.planes[p];
    const u8* srcA = m_src.planes[last];
    u8* dst = m_dst.planes[p];
    u32 first = 0, end = 0;
    for (u32 k = 0; k < M + C; ++k) {
      while (end < L && static_cast<u32>(off[end]) <= k) ++end;
      while (first < end && static_cast<u32>(off[first]) + C <= k) ++first;
      if (first == end) continue;
      const u32 n = end - first;
      for (u32 q = 0; q < n; ++q) {
        const u32 i = first + q;
        const u32 c0 = k - static_cast<u32>(off[i]);
        const u32 c = mirrored ? C - 1 - c0 : c0;
        const u64 o = i * sLen + c * sCross;
        bytes[q] = src[o];
        if (recover) bytes[L + q] = srcA[o];
      }
      if (recover) {
        Blur_ZeroAlphaRecoveryData(bytes, line, n, bytes + L);
      } else {
        for (u32 q = 0; q < n; ++q) line[q] = bytes[q];
      }
      rec.length = n;
      rec.vector = line;
      if (!Blur_BlurVector(&rec)) return 0;
      for (u32 q = 0; q < n; ++q) {
        const u32 i = first + q;
        const u32 c0 = k - static_cast<u32>(off[i]);
        const u32 c = mirrored ? C - 1 - c0 : c0;
        const f64 v = line[q];
        if (c0 > 0) {
          const u32 cn = mirrored ? c + 1 : c - 1;
          u8* nb = dst + i * dLen + cn * dCross;
          const f32 f = frac[i];
          const f32 keep = (1.0f - f) * static_cast<f32>(*nb);
          *nb = ToByte(static_cast<f64>(f) * v + static_cast<f64>(keep));
        }
        dst[i * dLen + c * dCross] = ToByte(v);
      }
    }
  }
  return 1;
}
