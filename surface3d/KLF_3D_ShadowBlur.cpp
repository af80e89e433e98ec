// Shadow-map blurs: a constant separable Gaussian, a blur whose radius
// follows the distance to the occluder, and the second class's blur through
// the framework's Gaussian, on planes of w x h bytes.
//
// Every kernel stops where its byte weights reach 0 and at the plane's far
// edge: taps beyond either add nothing to a sum, so the results are those
// of the full reach, and the tables hold no more than the plane can use.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "CKLF_3D_Surface2.h"
#include "CKLF_ImageFX.h"
#include "KLF_3D_Numeric.h"

namespace {

// Weights of offsets 0..n-1 of a line kernel, n the reach cut as above.
struct LineKernel {
  CKLF_Mem table;
  u32 n = 0;
  // Room for any kernel of the plane, so that later kernels never fail.
  u8 Reserve(u32 maxOffset) { return table.alloc(maxOffset + 1) != nullptr; }
  u8 Make(f32 sigma, u32 maxOffset) {
    const u32 r = std::min(CKLF_3D_SurfaceBase::int_BlurReach(sigma), maxOffset);
    if (table.GetSize() < static_cast<u64>(r) + 1 && !table.alloc(r + 1)) return 0;
    u8* w = table.GetPtr();
    for (n = 0; n <= r; ++n) {
      w[n] = CKLF_3D_SurfaceBase::int_BlurWeight(sigma, n * n);
      if (!w[n]) break;
    }
    return 1;
  }
  const u8* W() const { return table.GetPtr(); }
};

// The square kernel's weights by squared distance, 0 past the table. The
// table reaches the square's corners (2 reach^2): where the plane cuts the
// reach, weights there need not have fallen to 0.
struct SquareKernel {
  LineKernel line;
  CKLF_Mem table;
  u32 reach = 0;  // offsets -reach..reach a side
  u64 n = 0;      // squared distances in the table
  u8 Make(f32 sigma, u32 maxOffset) {
    if (!line.Make(sigma, maxOffset)) return 0;
    reach = line.n ? line.n - 1 : 0;
    const u64 cap = 2 * static_cast<u64>(reach) * reach + 1;
    if (!klFits32(cap) || (table.GetSize() < cap && !table.alloc(static_cast<u32>(cap)))) return 0;
    u8* w = table.GetPtr();
    for (n = 0; n < cap; ++n) {
      w[n] = CKLF_3D_SurfaceBase::int_BlurWeight(sigma, static_cast<u32>(n));
      if (!w[n]) break;
    }
    return 1;
  }
  u8 At(u64 d2) const { return d2 < n ? table.GetPtr()[d2] : 0; }
};

// The varying blur's kernels, remade only when the radius changes: texels
// that a spread reaches take the spreading texel's radius.
template <class K>
struct KernelCache {
  K k;
  f32 sigma = -1.0f;
  u8 For(f32 s, u32 maxOffset) {
    if (s == sigma) return 1;
    sigma = -1.0f;
    if (!k.Make(s, maxOffset)) return 0;
    sigma = s;
    return 1;
  }
};

// Weighted mean, darkness and strength of one spreading texel: D = 255 - M
// (0 without weight), S = (D (255 - c)) >> 8.
inline u32 Strength(u64 sum, u64 weights, u8 c) {
  if (!weights) return 0;
  const u64 m = std::min<u64>(sum / weights, 255);
  return (static_cast<u32>(255 - m) * (255u - c)) >> 8;
}

// A spread of strength s at weight wt into texel p: it darkens to
// 255 - ((s wt) >> 8) and marks p with the spreading radius.
inline void Spread(u8* work, f32* dist, size_t p, u32 s, u32 wt, f32 sigma) {
  const u32 cand = 255 - ((s * wt) >> 8);
  if (cand >= work[p]) return;
  work[p] = static_cast<u8>(cand);
  if (dist && dist[p] == 0.0f) dist[p] = sigma;
}

// One pass of the constant blur: n taps of w at step `step` around each of
// `count` samples per line, `lines` lines `pitch` apart.
void ConstPass(const u8* src, u8* dst, u32 count, u32 lines, size_t step, size_t pitch, const u8* w, u32 n) {
  for (u32 l = 0; l < lines; ++l) {
    const u8* s = src + l * pitch;
    u8* d = dst + l * pitch;
    for (u32 i = 0; i < count; ++i) {
      u64 sum = static_cast<u64>(w[0]) * s[i * step], ws = w[0];
      for (u32 k = 1; k < n; ++k) {
        if (i >= k) sum += static_cast<u64>(w[k]) * s[(i - k) * step], ws += w[k];
        if (i + k < count) sum += static_cast<u64>(w[k]) * s[(i + k) * step], ws += w[k];
      }
      d[i * step] = ws ? static_cast<u8>(sum / ws) : s[i * step];
    }
  }
}

}  // namespace

u32 CKLF_3D_SurfaceBase::int_BlurReach(f32 sigma) { return klTruncSat<u32>(3.32 * sigma + 1.0); }

u8 CKLF_3D_SurfaceBase::int_BlurWeight(f32 sigma, u32 d2) {
  const f32 twoSigma2 = sigma * sigma + sigma * sigma;
  return klTruncSat<u8>(255.0 * std::exp(-static_cast<f64>(d2) / twoSigma2));
}

u8 CKLF_3D_SurfaceBase::int_Blur_Const(u8* plane, u32 w, u32 h, f32 sigma) {
  if (!(sigma >= 0.5f) || !w || !h) return 1;
  if (!plane) return Fail(klErrBadArg);
  LineKernel k;
  CKLF_Mem work;
  if (!klFits32(static_cast<u64>(w) * h) || !k.Make(sigma, std::max(w, h) - 1) || !work.alloc(w * h))
    return Fail(klErrNoMemory);
  // Columns into the work plane, then rows back.
  ConstPass(plane, work.GetPtr(), h, w, w, 1, k.W(), k.n);
  ConstPass(work.GetPtr(), plane, w, h, 1, w, k.W(), k.n);
  return 1;
}

namespace {

// Square kernel: every shadowed texel in row order spreads into `work`.
u8 SpreadSquare(u8* plane, u8* work, u32 w, u32 h, f32* dist) {
  KernelCache<SquareKernel> kc;
  for (u32 y = 0; y < h; ++y)
    for (u32 x = 0; x < w; ++x) {
      const f32 sigma = dist[static_cast<size_t>(y) * w + x];
      if (!(sigma > 0.0f)) continue;
      if (!kc.For(sigma, std::max(w, h) - 1)) return 0;
      const SquareKernel& k = kc.k;
      const u32 x0 = x > k.reach ? x - k.reach : 0, x1 = std::min<u64>(w - 1, static_cast<u64>(x) + k.reach);
      const u32 y0 = y > k.reach ? y - k.reach : 0, y1 = std::min<u64>(h - 1, static_cast<u64>(y) + k.reach);
      u64 sum = 0, ws = 0;
      for (u32 v = y0; v <= y1; ++v)
        for (u32 u = x0; u <= x1; ++u) {
          const i64 dx = static_cast<i64>(u) - x, dy = static_cast<i64>(v) - y;
          const u8 wt = k.At(static_cast<u64>(dx * dx + dy * dy));
          sum += static_cast<u64>(wt) * plane[static_cast<size_t>(v) * w + u];
          ws += wt;
        }
      const u32 s = Strength(sum, ws, plane[static_cast<size_t>(y) * w + x]);
      if (!s) continue;
      for (u32 v = y0; v <= y1; ++v)
        for (u32 u = x0; u <= x1; ++u) {
          const i64 dx = static_cast<i64>(u) - x, dy = static_cast<i64>(v) - y;
          const u8 wt = k.At(static_cast<u64>(dx * dx + dy * dy));
          if (wt) Spread(work, dist, static_cast<size_t>(v) * w + u, s, wt, sigma);
        }
    }
  return 1;
}

// One separable pass: every shadowed texel in row order takes its mean
// from `src` along its line (rows: step 1, columns: step w) and spreads
// into `dst`; markDist lets the spread mark the texels it reaches.
void SpreadLines(const u8* src, u8* dst, u32 w, u32 h, f32* dist, bool alongRows, bool markDist,
                 KernelCache<LineKernel>& kc) {
  const size_t step = alongRows ? 1 : w;
  const u32 len = alongRows ? w : h;
  for (u32 y = 0; y < h; ++y)
    for (u32 x = 0; x < w; ++x) {
      const size_t p = static_cast<size_t>(y) * w + x;
      const f32 sigma = dist[p];
      if (!(sigma > 0.0f)) continue;
      kc.For(sigma, std::max(w, h) - 1);  // within the reserved table
      const u8* wt = kc.k.W();
      const u32 n = kc.k.n, i = alongRows ? x : y;
      const size_t line = p - i * step;
      u64 sum = 0, ws = 0;
      for (u32 k = 0; k < n; ++k) {
        if (i >= k) sum += static_cast<u64>(wt[k]) * src[line + (i - k) * step], ws += wt[k];
        if (k && i + k < len) sum += static_cast<u64>(wt[k]) * src[line + (i + k) * step], ws += wt[k];
      }
      const u32 s = Strength(sum, ws, src[p]);
      if (!s) continue;
      f32* mark = markDist ? dist : nullptr;
      for (u32 k = 0; k < n; ++k) {
        if (i >= k) Spread(dst, mark, line + (i - k) * step, s, wt[k], sigma);
        if (k && i + k < len) Spread(dst, mark, line + (i + k) * step, s, wt[k], sigma);
      }
    }
}

}  // namespace

u8 CKLF_3D_SurfaceBase::int_Blur_Perspective(u8 separable, u8* plane, u32 w, u32 h, f32 nearR, f32 farR, f32* dist) {
  if (!w || !h) return 1;
  if (!plane || !dist) return Fail(klErrBadArg);
  const size_t n = static_cast<size_t>(w) * h;
  f32 lo = 1e6f, hi = -1e6f;
  for (size_t i = 0; i < n; ++i)
    if (dist[i] > 0.0f) lo = std::min(lo, dist[i]), hi = std::max(hi, dist[i]);
  if (!(lo < hi) || !(farR > nearR)) return int_Blur_Const(plane, w, h, farR);
  CKLF_Mem work;
  KernelCache<LineKernel> lines;
  if (!klFits32(n) || !work.alloc(static_cast<u32>(n)) || (separable && !lines.k.Reserve(std::max(w, h) - 1)))
    return Fail(klErrNoMemory);
  for (size_t i = 0; i < n; ++i)
    if (dist[i] > 0.0f) dist[i] = (dist[i] - lo) / (hi - lo) * (farR - nearR) + nearR;
  u8* wp = work.GetPtr();
  std::memset(wp, 255, n);
  if (!separable) {
    if (!SpreadSquare(plane, wp, w, h, dist)) return Fail(klErrNoMemory);
    std::memcpy(plane, wp, n);
    return 1;
  }
  SpreadLines(plane, wp, w, h, dist, true, true, lines);
  std::memset(plane, 255, n);
  SpreadLines(wp, plane, w, h, dist, false, false, lines);
  return 1;
}

u8 CKLF_3D_Surface2::int_Blur_Const_v2(u8* plane, u32 w, u32 h, f32 sigma) {
  if (!w || !h) return 1;
  if (!plane || w > 0xFFFF || h > 0xFFFF) return Fail(klErrBadArg);
  CKLF_Mem out;
  if (!out.alloc(w * h)) return FailFrom(out, klErrNoMemory);
  u8* src[1] = {plane};
  u8* dst[1] = {out.GetPtr()};
  CKLF_ImageFX fx;
  if (!fx.SetSource(src, w, 1, 0, static_cast<u16>(w), static_cast<u16>(h)) ||
      !fx.SetDestination(dst, w, 1, 0, static_cast<u16>(w), static_cast<u16>(h)))
    return FailFrom(fx, klErrBadArg);
  if (!fx.GaussianBlur(sigma, 0, 0)) return FailFrom(fx, klErrNoMemory);
  std::memcpy(plane, out.GetPtr(), static_cast<size_t>(w) * h);
  return 1;
}
