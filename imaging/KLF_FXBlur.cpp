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

u8 CKLF_ImageFX::i_GrowBlurLines(const STRUCT_Blur_VectorData& rec, u32 length) {
  u64 pad = 0;
  if (!rec.smallSigma && !PadFor(rec.sigma, pad)) return Fail(klErrNoMemory);
  const u64 m = length;
  return i_Grow(m_lineBuffer, m * kLanes * sizeof(f64) + m * sizeof(f64) + (kLanes + 1) * m) &&
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
  if (!kernel && !PadFor(rec.sigma, pad)) return Fail(klErrNoMemory);
  const u64 m = length;
  const u64 N = m + pad;
  const u64 lead = pad / 2;
  if (!i_GrowBlurLines(rec, length)) return 0;
  // Line buffer: kernel input lanes, one recovered line, then K recovered
  // (or gathered) byte lines.
  f64* lanesIn = reinterpret_cast<f64*>(m_lineBuffer.GetPtr());
  f64* recLine = lanesIn + m * K;
  u8* scratch = reinterpret_cast<u8*>(recLine + m);
  f64* padded = reinterpret_cast<f64*>(m_padBuffer.GetPtr());
  f64* target = kernel ? lanesIn : padded + lead * K;
  const f64* result = identity ? lanesIn : (kernel ? padded : padded + lead * K);
  // The recursive filter's output is clamped to 0..255; the kernel's is not.
  const u8 clampOut = !kernel;

  const void* lanePtr[K];
  i64 laneStep[K];
  for (u32 g = 0; g < lineCount; g += K) {
    const u32 valid = lineCount - g < K ? lineCount - g : K;
    // Lanes past the last line repeat it and are not stored.
    u8 contiguous = !in.isFloat && in.lineStep == 1 && valid == K;
    // Which lanes hold fully transparent pixels; adjacent columns are
    // scanned together, row by row.
    u8 clear[K] = {0};
    if (alpha && alpha->step != 1 && alpha->lineStep == 1 && valid == K) {
      const u8* a = static_cast<const u8*>(alpha->base) + static_cast<i64>(g);
      for (u64 i = 0; i < m; ++i) {
        const u8* row = a + static_cast<i64>(i) * alpha->step;
        for (u32 c = 0; c < K; ++c) clear[c] |= row[c] == 0;
      }
    } else if (alpha) {
      for (u32 c = 0; c < K; ++c) {
        const i64 line = static_cast<i64>(c < valid ? g + c : lineCount - 1);
        const u8* a = static_cast<const u8*>(alpha->base) + line * alpha->lineStep;
        if (alpha->step == 1) {
          clear[c] = std::memchr(a, 0, m) != nullptr;
        } else {
          for (u64 i = 0; i < m && !clear[c]; ++i) clear[c] = a[static_cast<i64>(i) * alpha->step] == 0;
        }
      }
    }
    for (u32 c = 0; c < K; ++c) {
      const i64 line = static_cast<i64>(c < valid ? g + c : lineCount - 1);
      lanePtr[c] = in.isFloat ? static_cast<const void*>(static_cast<const f32*>(in.base) + line * in.lineStep)
                              : static_cast<const void*>(static_cast<const u8*>(in.base) + line * in.lineStep);
      laneStep[c] = in.step;
      // Recovery only changes lines that hold fully transparent pixels.
      if (!alpha || !clear[c]) continue;
      const u8* a = static_cast<const u8*>(alpha->base) + line * alpha->lineStep;
      const u8* s = static_cast<const u8*>(lanePtr[c]);
      u8* line8 = scratch + c * m;
      u8* alpha8 = scratch + K * m;
      for (u64 i = 0; i < m; ++i) {
        line8[i] = s[static_cast<i64>(i) * in.step];
        alpha8[i] = a[static_cast<i64>(i) * alpha->step];
      }
      Blur_ZeroAlphaRecoveryData(line8, recLine, length, alpha8);
      for (u64 i = 0; i < m; ++i) line8[i] = static_cast<u8>(recLine[i]);
      lanePtr[c] = line8;
      laneStep[c] = 1;
      contiguous = 0;
    }

    if (contiguous) {
      const u8* base = static_cast<const u8*>(in.base) + static_cast<i64>(g);
      for (u64 i = 0; i < m; ++i) {
        const u8* src = base + static_cast<i64>(i) * in.step;
        f64* t = target + i * K;
        for (u32 c = 0; c < K; ++c) t[c] = src[c];
      }
    } else if (in.isFloat) {
      for (u64 i = 0; i < m; ++i) {
        f64* t = target + i * K;
        for (u32 c = 0; c < K; ++c) t[c] = static_cast<const f32*>(lanePtr[c])[static_cast<i64>(i) * laneStep[c]];
      }
    } else {
      for (u64 i = 0; i < m; ++i) {
        f64* t = target + i * K;
        for (u32 c = 0; c < K; ++c) t[c] = static_cast<const u8*>(lanePtr[c])[static_cast<i64>(i) * laneStep[c]];
      }
    }

    if (!identity) {
      if (kernel) {
        KernelLanes(rec, lanesIn, padded, m);
      } else {
        const f64* firstRow = target;
        const f64* lastRow = target + (m - 1) * K;
        for (u64 n = 0; n < lead; ++n)
          for (u32 c = 0; c < K; ++c) padded[n * K + c] = rec.borderFlag ? rec.borderValue : firstRow[c];
        for (u64 n = lead + m; n < N; ++n)
          for (u32 c = 0; c < K; ++c) padded[n * K + c] = rec.borderFlag ? rec.borderValue : lastRow[c];
        RecursiveLanes(rec, padded, N);
      }
    }

    // Store.
    if (!out.isFloat && out.lineStep == 1 && valid == K) {
      u8* base = static_cast<u8*>(out.base) + static_cast<i64>(g);
      for (u64 i = 0; i < m; ++i) {
        u8* d = base + static_cast<i64>(i) * out.step;
        const f64* r = result + i * K;
        for (u32 c = 0; c < K; ++c) d[c] = ToByte(r[c]);
      }
    } else if (out.isFloat) {
      f32* base = static_cast<f32*>(out.base) + static_cast<i64>(g) * out.lineStep;
      for (u64 i = 0; i < m; ++i) {
        f32* d = base + static_cast<i64>(i) * out.step;
        const f64* r = result + i * K;
        for (u32 c = 0; c < valid; ++c) d[c * out.lineStep] = static_cast<f32>(clampOut ? Clamp255(r[c]) : r[c]);
      }
    } else {
      u8* base = static_cast<u8*>(out.base) + static_cast<i64>(g) * out.lineStep;
      u8 bytes[K];
      for (u64 i = 0; i < m; ++i) {
        u8* d = base + static_cast<i64>(i) * out.step;
        const f64* r = result + i * K;
        for (u32 c = 0; c < K; ++c) bytes[c] = ToByte(r[c]);
        for (u32 c = 0; c < valid; ++c) d[c * out.lineStep] = bytes[c];
      }
    }
  }
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
  // Gathered values and alpha: one line, or K lines of a batch.
  u8* bytes = i_Grow(m_motionBytes, 2ull * K * L);
  if (!off || !frac || !line || !bytes || !i_Grow(m_padBuffer, (L + pad + 3) * K * sizeof(f64))) return 0;
  for (u32 i = 0; i < L; ++i) {
    const f64 ti = t * static_cast<f64>(i);
    off[i] = static_cast<i32>(ti);
    frac[i] = static_cast<f32>(ti - off[i]);
  }
  const u32 M = static_cast<u32>(off[L - 1]);
  u32* runEnd = reinterpret_cast<u32*>(off + L);
  for (u32 i = L; i-- > 0;) runEnd[i] = (i + 1 < L && off[i + 1] == off[i]) ? runEnd[i + 1] : i + 1;
  const u8 last = static_cast<u8>(m_src.count - 1);
  const u64 sLen = alongX ? 1 : m_src.stride, sCross = alongX ? m_src.stride : 1;
  const u64 dLen = alongX ? 1 : m_dst.stride, dCross = alongX ? m_dst.stride : 1;
  const u64 lead = pad / 2;
  const f64 B = rec.B, b1 = rec.b1, b2 = rec.b2, b3 = rec.b3;
  const f64 s0 = B + b1 + b2 + b3, s1 = b1 + b2 + b3, s2 = b2 + b3;

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

    // Gathers line k (run first..first+n-1) into v as floats. Along a run
    // of equal offsets the pixels follow each other on the length axis.
    auto gather = [&](u32 k, u32 first, u32 n, f64* v) {
      u8 anyClear = 0;
      for (u32 i = first, q = 0; i < first + n;) {
        const u32 j = runEnd[i] < first + n ? runEnd[i] : first + n;
        const u32 c0 = k - static_cast<u32>(off[i]);
        const u64 o = i * sLen + (mirrored ? C - 1 - c0 : c0) * sCross;
        const u8* sp = src + o;
        for (u32 t = 0; t < j - i; ++t) bytes[q + t] = sp[t * sLen];
        if (recover) {
          const u8* ap = srcA + o;
          for (u32 t = 0; t < j - i; ++t) {
            bytes[L + q + t] = ap[t * sLen];
            anyClear |= ap[t * sLen] == 0;
          }
        }
        q += j - i;
        i = j;
      }
      if (anyClear) {
        Blur_ZeroAlphaRecoveryData(bytes, v, n, bytes + L);
      } else {
        for (u32 q = 0; q < n; ++q) v[q] = bytes[q];
      }
    };
    // Writes line k back, mixing into the previous line by the shear.
    auto writeBack = [&](u32 k, u32 first, u32 n, const f64* v) {
      for (u32 i = first; i < first + n;) {
        const u32 j = runEnd[i] < first + n ? runEnd[i] : first + n;
        const u32 c0 = k - static_cast<u32>(off[i]);
        const u32 c = mirrored ? C - 1 - c0 : c0;
        const f64* vv = v + (i - first);
        u8* own = dst + i * dLen + c * dCross;
        if (c0 > 0) {
          u8* nb = dst + i * dLen + (mirrored ? c + 1 : c - 1) * dCross;
          const f32* fr = frac + i;
          for (u32 t = 0; t < j - i; ++t) {
            const f32 keep = (1.0f - fr[t]) * static_cast<f32>(nb[t * dLen]);
            nb[t * dLen] = ToByte(static_cast<f64>(fr[t]) * vv[t] + static_cast<f64>(keep));
          }
        }
        for (u32 t = 0; t < j - i; ++t) own[t * dLen] = ToByte(vv[t]);
        i = j;
      }
    };

    // Lines are taken K at a time. Filtering reads only the source, so the
    // lines of a batch are filtered side by side and then written back one
    // after the other in increasing k, as if done one by one.
    u32 first = 0, end = 0;
    u32 k = 0;
    u32 bk[K], bFirst[K], bLen[K];
    while (k < M + C) {
      u32 nb = 0;
      for (; k < M + C && nb < K; ++k) {
        while (end < L && static_cast<u32>(off[end]) <= k) ++end;
        while (first < end && static_cast<u32>(off[first]) + C <= k) ++first;
        if (first == end) continue;
        bk[nb] = k;
        bFirst[nb] = first;
        bLen[nb] = end - first;
        ++nb;
      }
      if (nb == 0) continue;
      u64 nMin = ~0ull, nMax = 0;
      for (u32 c = 0; c < nb; ++c) {
        nMin = bLen[c] < nMin ? bLen[c] : nMin;
        nMax = bLen[c] > nMax ? bLen[c] : nMax;
      }
      if (rec.smallSigma || nb < K / 2 || nMin + pad < 4 || bk[nb - 1] - bk[0] != nb - 1) {
        // Kernel path, short batches and tiny lines: one line at a time.
        for (u32 c = 0; c < nb; ++c) {
          gather(bk[c], bFirst[c], bLen[c], line);
          rec.length = bLen[c];
          rec.vector = line;
          if (!Blur_BlurVector(&rec)) return 0;
          writeBack(bk[c], bFirst[c], bLen[c], line);
        }
        continue;
      }
      // The batch holds consecutive lines k0..k0+nb-1. At length position i
      // they cover adjacent pixels across the lines (lane c at cross
      // coordinate k0 + c - off[i]), so both the gather and the write-back
      // walk strips of neighbouring pixels along the length axis.
      const i64 k0 = bk[0];
      const i64 crossStep = mirrored ? -static_cast<i64>(sCross) : static_cast<i64>(sCross);
      const i64 dCrossStep = mirrored ? -static_cast<i64>(dCross) : static_cast<i64>(dCross);
      const u32 iMin = bFirst[0], iMax = bFirst[nb - 1] + bLen[nb - 1];
      auto laneRange = [&](u32 i, i64& cLo, i64& cHi) {
        const i64 o = off[i];
        cLo = o - k0 > 0 ? o - k0 : 0;
        cHi = o - k0 + C < static_cast<i64>(nb) ? o - k0 + C : static_cast<i64>(nb);
      };
      u8* vals = bytes;
      u8* alph = bytes + static_cast<u64>(K) * L;
      u8 clear[K] = {0};
      for (u32 i = iMin; i < iMax; ++i) {
        i64 cLo, cHi;
        laneRange(i, cLo, cHi);
        if (cLo >= cHi) continue;
        const i64 c0 = k0 + cLo - off[i];
        const i64 o = static_cast<i64>(i * sLen) + (mirrored ? C - 1 - c0 : c0) * static_cast<i64>(sCross);
        const u8* sp = src + o;
        for (i64 c = cLo; c < cHi; ++c) vals[c * L + (i - bFirst[c])] = sp[(c - cLo) * crossStep];
        if (recover) {
          const u8* ap = srcA + o;
          for (i64 c = cLo; c < cHi; ++c) {
            const u8 a = ap[(c - cLo) * crossStep];
            alph[c * L + (i - bFirst[c])] = a;
            clear[c] |= a == 0;
          }
        }
      }
      // Padded lanes, each N_c = n_c + pad rows long, the same lead for all;
      // unused lanes repeat the last line. Three zero rows close the block.
      f64* x = reinterpret_cast<f64*>(m_padBuffer.GetPtr());
      const u64 NMax = nMax + pad;
      u64 Nl[K];
      for (u32 c = 0; c < K; ++c) {
        const u32 sc = c < nb ? c : nb - 1;
        const u32 n = bLen[sc];
        Nl[c] = n + pad;
        if (clear[sc]) {
          Blur_ZeroAlphaRecoveryData(vals + sc * L, line, n, alph + sc * L);
          for (u32 q = 0; q < n; ++q) x[(lead + q) * K + c] = line[q];
        } else {
          const u8* vs = vals + sc * L;
          for (u32 q = 0; q < n; ++q) x[(lead + q) * K + c] = vs[q];
        }
        const f64 firstV = x[lead * K + c], lastV = x[(lead + n - 1) * K + c];
        for (u64 r = 0; r < lead; ++r) x[r * K + c] = firstV;
        for (u64 r = lead + n; r < Nl[c]; ++r) x[r * K + c] = lastV;
        for (u64 r = Nl[c]; r < NMax + 3; ++r) x[r * K + c] = 0.0;
      }
      // Causal pass: every lane starts at row 0.
      for (u32 c = 0; c < K; ++c) x[c] = s0 * x[c];
      for (u32 c = 0; c < K; ++c) x[K + c] = B * x[K + c] + s1 * x[c];
      for (u32 c = 0; c < K; ++c) x[2 * K + c] = B * x[2 * K + c] + b1 * x[K + c] + s2 * x[c];
      for (u64 n = 3; n < NMax; ++n) {
        f64* o = x + n * K;
        const f64* p1 = o - K;
        const f64* p2 = o - 2 * K;
        const f64* p3 = o - 3 * K;
        for (u32 c = 0; c < K; ++c) o[c] = B * o[c] + b1 * p1[c] + b2 * p2[c] + b3 * p3[c];
      }
      // Anti-causal pass: near the ends each lane takes its own start terms
      // (beyond its end all weights are 0, adding only zeros), below the
      // shortest lane's end the common recursion.
      const u64 NMin = nMin + pad;
      const u64 common = NMin - 3;  // rows below this are common to all lanes
      f64 cB[K], c1[K], c2[K], c3[K];
      for (u64 n = NMax; n-- > common;) {
        for (u32 c = 0; c < K; ++c) {
          const i64 ph = static_cast<i64>(Nl[c]) - 1 - static_cast<i64>(n);
          cB[c] = ph < 0 ? 0.0 : (ph == 0 ? s0 : B);
          c1[c] = ph < 1 ? 0.0 : (ph == 1 ? s1 : b1);
          c2[c] = ph < 2 ? 0.0 : (ph == 2 ? s2 : b2);
          c3[c] = ph < 3 ? 0.0 : b3;
        }
        f64* o = x + n * K;
        for (u32 c = 0; c < K; ++c) o[c] = cB[c] * o[c] + c1[c] * o[K + c] + c2[c] * o[2 * K + c] + c3[c] * o[3 * K + c];
      }
      for (u64 n = common; n-- > 0;) {
        f64* o = x + n * K;
        for (u32 c = 0; c < K; ++c) o[c] = B * o[c] + b1 * o[K + c] + b2 * o[2 * K + c] + b3 * o[3 * K + c];
      }
      // Write back strip by strip, lanes in increasing k: each pixel still
      // gets its own line's value first and the next line's mix after. The
      // mix of lane c reads lane c - 1's fresh value, so both come from
      // registers; only the first lane's neighbour is read from memory.
      f64 v[K];
      u8 ownB[K];
      for (u32 i = iMin; i < iMax; ++i) {
        i64 cLo, cHi;
        laneRange(i, cLo, cHi);
        if (cLo >= cHi) continue;
        const i64 c0 = k0 + cLo - off[i];
        u8* own = dst + static_cast<i64>(i * dLen) + (mirrored ? C - 1 - c0 : c0) * static_cast<i64>(dCross);
        const f32 f = frac[i];
        const f64 fd = f;
        const f32 g = 1.0f - f;
        for (i64 c = cLo; c < cHi; ++c) {
          v[c] = Clamp255(x[(lead + (i - bFirst[c])) * K + c]);
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
  }
  return 1;
}
