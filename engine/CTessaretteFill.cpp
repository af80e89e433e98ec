#include "CTessaretteFill.h"

#include <cstring>

namespace {

// One-bit rows hold the leftmost point in the high bit of the first byte.
// Words are read big-endian so that bit 63 is the leftmost point of the word.
inline u64 LoadWord(const u8* p) {
  u64 w;
  std::memcpy(&w, p, 8);
  return __builtin_bswap64(w);
}

inline void StoreWord(u8* p, u64 w) {
  w = __builtin_bswap64(w);
  std::memcpy(p, &w, 8);
}

// Bits of positions first..last (0..63, left to right) of a word.
inline u64 SpanMask(i32 first, i32 last) {
  u64 hi = ~0ull >> first;                               // positions >= first
  u64 lo = last >= 63 ? ~0ull : ~(~0ull >> (last + 1));  // positions <= last
  return hi & lo;
}


// High bit of every byte of v that is 0, exactly.
inline u64 ZeroBytes(u64 v) {
  const u64 lo = 0x7F7F7F7F7F7F7F7Full;
  return ~(((v & lo) + lo) | v | lo);
}

// 1 when one of the 8 bytes at p is 0.
inline bool HasZeroByte(const u8* p) {
  u64 v;
  std::memcpy(&v, p, 8);
  return ZeroBytes(v) != 0;
}

// 1 when one of the 8 bytes at p is 255.
inline bool HasByte255(const u8* p) {
  u64 v;
  std::memcpy(&v, p, 8);
  return ZeroBytes(~v) != 0;
}

// 1 when one of the 8 bytes at p lies in 1..254.
inline bool HasEdgeByte(const u8* p) {
  u64 v;
  std::memcpy(&v, p, 8);
  return (ZeroBytes(v) | ZeroBytes(~v)) != 0x8080808080808080ull;
}

inline u8 AddSixteen(u8 v, i32 times) {
  if (v == 255) return 255;
  i32 s = v + 16 * times;
  return static_cast<u8>(s > 255 ? 255 : s);
}

}  // namespace

CTessaretteFill::CTessaretteFill()
    : m_minX(0),
      m_minY(0),
      m_maxX(0),
      m_maxY(0),
      m_mode(MODE_8BIT_THIN),
      m_knife(nullptr),
      m_knifeStride(0),
      m_work(nullptr),
      m_imageW(0),
      m_imageH(0),
      m_scanW(0),
      m_scanH(0),
      m_stackCount(0),
      m_stackCapacity(0),
      m_seedLimit(1u << 28),
      m_pushFailed(0),
      m_recording(0),
      m_runCount(0),
      m_runCapacity(0) {
  ResetBounds();
}

u32 CTessaretteFill::BitRowBytes(i32 imageWidth) {
  u64 bits = 4ull * static_cast<u64>(imageWidth);
  return static_cast<u32>((bits + 63) / 64 * 8);
}

void CTessaretteFill::Setup(Mode mode, u8* knife, u32 knifeStride, u8* work, i32 imageWidth,
                            i32 imageHeight) {
  m_mode = mode;
  m_knife = knife;
  m_knifeStride = knifeStride;
  m_work = work;
  m_imageW = imageWidth;
  m_imageH = imageHeight;
  m_scanW = mode == MODE_BIT4 ? 4 * imageWidth : imageWidth;
  m_scanH = mode == MODE_BIT4 ? 4 * imageHeight : imageHeight;
  ResetBounds();
}

void CTessaretteFill::SealPadding() {
  if (m_mode != MODE_BIT4) return;
  i32 total = static_cast<i32>(m_knifeStride * 8);
  for (i32 y = 0; y < m_scanH; y++) {
    u8* row = m_knife + static_cast<size_t>(y) * m_knifeStride;
    if (m_scanW < total) i_SetBits(row, m_scanW, total - 1);
  }
}

void CTessaretteFill::ResetBounds() {
  m_minX = 1000000;
  m_minY = 1000000;
  m_maxX = -1000000;
  m_maxY = -1000000;
}

void CTessaretteFill::i_Extend(i32 x0, i32 y0, i32 x1, i32 y1) {
  if (x0 < m_minX) m_minX = x0;
  if (y0 < m_minY) m_minY = y0;
  if (x1 > m_maxX) m_maxX = x1;
  if (y1 > m_maxY) m_maxY = y1;
}

u8 CTessaretteFill::i_Bit(i32 x, i32 y) const {
  const u8* row = m_knife + static_cast<size_t>(y) * m_knifeStride;
  return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

void CTessaretteFill::i_SetBits(u8* row, i32 x0, i32 x1) {
  for (i32 k = x0 >> 6; k <= (x1 >> 6); k++) {
    i32 first = k == (x0 >> 6) ? (x0 & 63) : 0;
    i32 last = k == (x1 >> 6) ? (x1 & 63) : 63;
    u8* p = row + 8 * static_cast<size_t>(k);
    StoreWord(p, LoadWord(p) | SpanMask(first, last));
  }
}

u32 CTessaretteFill::Test(i32 x, i32 y) const {
  if (x < 0 || y < 0 || x >= m_scanW || y >= m_scanH) return 1;
  if (m_mode == MODE_BIT4) return i_Bit(x, y);
  return m_knife[static_cast<size_t>(y) * m_knifeStride + x] != 0 ? 1 : 0;
}

u8 CTessaretteFill::i_ClipRun(i32& x, i32 y, i32& count) const {
  if (y < 0 || y >= m_scanH) return 0;
  if (x < 0) {
    count += x;
    x = 0;
  }
  if (x + count > m_scanW) count = m_scanW - x;
  return count > 0;
}

void CTessaretteFill::FillLineReference(i32 x, i32 y, i32 count) {
  if (!i_ClipRun(x, y, count)) return;
  const u32 ws = static_cast<u32>(m_imageW);

  if (m_mode == MODE_BIT4) {
    for (i32 i = x; i < x + count; i++) {
      for (i32 d = -1; d <= 1; d += 2) {
        i32 ny = y + d;
        if (ny < 0 || ny >= m_scanH || !i_Bit(i, ny)) continue;
        u8& p = m_work[static_cast<size_t>(ny / 4) * ws + i / 4];
        if (p == 0) p = 16;
      }
    }
    i32 xa = x > 0 ? x - 1 : 0;
    i32 xb = x + count < m_scanW ? x + count : m_scanW - 1;
    u8* row = m_knife + static_cast<size_t>(y) * m_knifeStride;
    for (i32 i = xa; i <= xb; i++) {
      row[i >> 3] |= static_cast<u8>(0x80 >> (i & 7));
      u8& p = m_work[static_cast<size_t>(y / 4) * ws + i / 4];
      p = p > 239 ? 255 : static_cast<u8>(p + 16);
    }
    i32 ya = y > 0 ? y - 1 : 0;
    i32 yb = y + 1 < m_scanH ? y + 1 : m_scanH - 1;
    i_Extend(xa / 4, ya / 4, xb / 4, yb / 4);
    return;
  }

  u8* krow = m_knife + static_cast<size_t>(y) * m_knifeStride;
  u8* wrow = m_work + static_cast<size_t>(y) * ws;
  const u8 mark = m_mode == MODE_8BIT_AA ? 255 : 1;
  for (i32 i = x; i < x + count; i++) {
    krow[i] = mark;
    wrow[i] = 255;
  }
  i_Extend(x, y, x + count - 1, y);
  if (m_mode == MODE_8BIT_THICK) return;

  // Knife points touching the run: the rows above and below from one left
  // of the run to one right of it, and the points just left and right.
  auto touch = [&](i32 tx, i32 ty) {
    if (tx < 0 || ty < 0 || tx >= m_scanW || ty >= m_scanH) return;
    u8& k = m_knife[static_cast<size_t>(ty) * m_knifeStride + tx];
    u8& w = m_work[static_cast<size_t>(ty) * ws + tx];
    if (m_mode == MODE_8BIT_THIN) {
      if (k != 255) return;
      k = 254;
      w = 255;
    } else {
      if (k == 0 || k == 255) return;
      w = static_cast<u8>(255 - k);
    }
    i_Extend(tx, ty, tx, ty);
  };
  for (i32 i = x - 1; i <= x + count; i++) touch(i, y - 1);
  for (i32 i = x - 1; i <= x + count; i++) touch(i, y + 1);
  touch(x - 1, y);
  touch(x + count, y);
}

void CTessaretteFill::FillLine(i32 x, i32 y, i32 count) {
  if (!i_ClipRun(x, y, count)) return;
  const u32 ws = static_cast<u32>(m_imageW);

  if (m_mode != MODE_BIT4) {
    u8* krow = m_knife + static_cast<size_t>(y) * m_knifeStride;
    u8* wrow = m_work + static_cast<size_t>(y) * ws;
    std::memset(krow + x, m_mode == MODE_8BIT_AA ? 255 : 1, static_cast<size_t>(count));
    std::memset(wrow + x, 255, static_cast<size_t>(count));
    i32 x0 = x, x1 = x + count - 1, y0 = y, y1 = y;
    if (m_mode != MODE_8BIT_THICK) {
      i32 a = x > 0 ? x - 1 : 0;
      i32 b = x + count < m_scanW ? x + count : m_scanW - 1;
      const bool thin = m_mode == MODE_8BIT_THIN;
      for (i32 d = -1; d <= 1; d++) {
        i32 ty = y + d;
        if (ty < 0 || ty >= m_scanH) continue;
        u8* k = m_knife + static_cast<size_t>(ty) * m_knifeStride;
        u8* w = m_work + static_cast<size_t>(ty) * ws;
        // On the run's own row only its two ends can touch.
        i32 step = d == 0 ? (b - a > 0 ? b - a : 1) : 1;
        for (i32 i = a; i <= b; i += step) {
          // Eight bytes at a time while none of them can be touched.
          if (d != 0) {
            while (i + 7 <= b && !(thin ? HasByte255(k + i) : HasEdgeByte(k + i))) i += 8;
            if (i > b) break;
          }
          u8 v = k[i];
          if (thin) {
            if (v != 255) continue;
            k[i] = 254;
            w[i] = 255;
          } else {
            if (v == 0 || v == 255) continue;
            w[i] = static_cast<u8>(255 - v);
          }
          if (i < x0) x0 = i;
          if (i > x1) x1 = i;
          if (ty < y0) y0 = ty;
          if (ty > y1) y1 = ty;
        }
      }
    }
    i_Extend(x0, y0, x1, y1);
    return;
  }

  // One-bit mask: points whose neighbour above or below is set mark the
  // image pixel they fall in with 16 when it is still empty; nibbles of a
  // word are the image pixels.
  const i32 last = x + count - 1;
  for (i32 d = -1; d <= 1; d += 2) {
    i32 ny = y + d;
    if (ny < 0 || ny >= m_scanH) continue;
    const u8* row = m_knife + static_cast<size_t>(ny) * m_knifeStride;
    u8* wrow = m_work + static_cast<size_t>(ny / 4) * ws;
    for (i32 k = x >> 6; k <= (last >> 6); k++) {
      i32 first = k == (x >> 6) ? (x & 63) : 0;
      i32 lastb = k == (last >> 6) ? (last & 63) : 63;
      u64 m = LoadWord(row + 8 * static_cast<size_t>(k)) & SpanMask(first, lastb);
      if (!m) continue;
      u64 n = (m | (m >> 1) | (m >> 2) | (m >> 3)) & 0x1111111111111111ull;
      // Inside a region the pixels under set neighbours are already painted;
      // skip the word when none of its 16 pixels is still empty.
      if (16 * k + 16 <= m_imageW && !HasZeroByte(wrow + 16 * k) && !HasZeroByte(wrow + 16 * k + 8)) continue;
      while (n) {
        i32 b = __builtin_ctzll(n);
        n &= n - 1;
        u8& p = wrow[16 * k + (15 - b / 4)];
        if (p == 0) p = 16;
      }
    }
  }

  i32 xa = x > 0 ? x - 1 : 0;
  i32 xb = x + count < m_scanW ? x + count : m_scanW - 1;
  i_SetBits(m_knife + static_cast<size_t>(y) * m_knifeStride, xa, xb);
  u8* wrow = m_work + static_cast<size_t>(y / 4) * ws;
  i32 pa = xa / 4, pb = xb / 4;
  if (pa == pb) {
    wrow[pa] = AddSixteen(wrow[pa], xb - xa + 1);
  } else {
    wrow[pa] = AddSixteen(wrow[pa], 4 * pa + 4 - xa);
    for (i32 p = pa + 1; p < pb; p++) wrow[p] = AddSixteen(wrow[p], 4);
    wrow[pb] = AddSixteen(wrow[pb], xb - 4 * pb + 1);
  }
  i32 ya = y > 0 ? y - 1 : 0;
  i32 yb = y + 1 < m_scanH ? y + 1 : m_scanH - 1;
  i_Extend(pa, ya / 4, pb, yb / 4);
}

// ---- Searches on one row. Positions outside 0..scanW-1 count as knife.

// The largest position in limit..x that is free, or limit - 1.
i32 CTessaretteFill::i_PrevFree(i32 y, i32 x, i32 limit) const {
  if (m_mode != MODE_BIT4) {
    const u8* row = m_knife + static_cast<size_t>(y) * m_knifeStride;
    while (x >= limit && row[x] != 0) x--;
    return x;
  }
  const u8* row = m_knife + static_cast<size_t>(y) * m_knifeStride;
  while (x >= limit) {
    i32 k = x >> 6;
    u64 m = ~LoadWord(row + 8 * static_cast<size_t>(k)) & SpanMask(0, x & 63);
    if (m) {
      i32 pos = 64 * k + 63 - __builtin_ctzll(m);
      return pos >= limit ? pos : limit - 1;
    }
    x = 64 * k - 1;
  }
  return limit - 1;
}

// The largest position in limit..x that is knife, or limit - 1.
i32 CTessaretteFill::i_PrevKnife(i32 y, i32 x, i32 limit) const {
  if (m_mode != MODE_BIT4) {
    const u8* row = m_knife + static_cast<size_t>(y) * m_knifeStride;
    while (x >= limit && row[x] == 0) x--;
    return x;
  }
  const u8* row = m_knife + static_cast<size_t>(y) * m_knifeStride;
  while (x >= limit) {
    i32 k = x >> 6;
    u64 m = LoadWord(row + 8 * static_cast<size_t>(k)) & SpanMask(0, x & 63);
    if (m) {
      i32 pos = 64 * k + 63 - __builtin_ctzll(m);
      return pos >= limit ? pos : limit - 1;
    }
    x = 64 * k - 1;
  }
  return limit - 1;
}

// The largest knife position at or left of x (-1 when none: the edge).
i32 CTessaretteFill::i_PrevKnifeLeft(i32 y, i32 x) const { return i_PrevKnife(y, x, 0); }

// The smallest knife position at or right of x (scanW when none).
i32 CTessaretteFill::i_NextKnife(i32 y, i32 x) const {
  const u8* row = m_knife + static_cast<size_t>(y) * m_knifeStride;
  if (m_mode != MODE_BIT4) {
    while (x < m_scanW && row[x] == 0) x++;
    return x;
  }
  // Padding bits are set, so the search ends inside the row's words.
  const i32 words = static_cast<i32>(m_knifeStride / 8);
  while (x < m_scanW) {
    i32 k = x >> 6;
    if (k >= words) return m_scanW;
    u64 m = LoadWord(row + 8 * static_cast<size_t>(k)) & SpanMask(x & 63, 63);
    if (m) {
      i32 pos = 64 * k + 63 - (63 - __builtin_clzll(m));
      return pos < m_scanW ? pos : m_scanW;
    }
    x = 64 * (k + 1);
  }
  return m_scanW;
}

i32 CTessaretteFill::FindFree(i32 y, i32 x) const {
  if (y < 0 || y >= m_scanH || x >= m_scanW) return -1;
  if (x < 0) x = 0;
  const u8* row = m_knife + static_cast<size_t>(y) * m_knifeStride;
  if (m_mode != MODE_BIT4) {
    const void* p = std::memchr(row + x, 0, static_cast<size_t>(m_scanW - x));
    return p ? static_cast<i32>(static_cast<const u8*>(p) - row) : -1;
  }
  while (x < m_scanW) {
    i32 k = x >> 6;
    u64 m = ~LoadWord(row + 8 * static_cast<size_t>(k)) & SpanMask(x & 63, 63);
    if (m) {
      i32 pos = 64 * k + __builtin_clzll(m);
      return pos < m_scanW ? pos : -1;
    }
    x = 64 * (k + 1);
  }
  return -1;
}

// ---- Seed fill

u8 CTessaretteFill::i_Push(i32 x, i32 y) {
  if (m_stackCount >= m_seedLimit) {
    m_pushFailed = 1;
    return 0;
  }
  if (m_stackCount == m_stackCapacity) {
    u64 cap = m_stackCapacity ? 2ull * m_stackCapacity : 512;
    if (cap > m_seedLimit) cap = m_seedLimit;
    if (!klFits32(cap * 8) || !m_stackBlock.Resize(static_cast<u32>(cap * 8))) {
      m_pushFailed = 1;
      return 0;
    }
    m_stackCapacity = static_cast<u32>(cap);
  }
  i32* s = reinterpret_cast<i32*>(m_stackBlock.GetPtr()) + 2 * static_cast<size_t>(m_stackCount);
  s[0] = x;
  s[1] = y;
  m_stackCount++;
  return 1;
}

// Pushes the rightmost point of every free stretch of row y inside
// left..right, scanning from right to left.
void CTessaretteFill::i_PushStretches(i32 y, i32 left, i32 right) {
  if (y < 0 || y >= m_scanH) return;
  i32 x = right;
  while (x >= left) {
    i32 f = i_PrevFree(y, x, left);
    if (f < left) return;
    if (!i_Push(f, y)) return;
    x = i_PrevKnife(y, f, left);
  }
}

u8 CTessaretteFill::SeedFill(i32 x, i32 y) {
  if (Test(x, y)) return 1;
  m_stackCount = 0;
  m_pushFailed = 0;
  if (!i_Push(x, y)) return 0;
  while (m_stackCount > 0) {
    m_stackCount--;
    const i32* s = reinterpret_cast<const i32*>(m_stackBlock.GetPtr()) + 2 * static_cast<size_t>(m_stackCount);
    i32 sx = s[0], sy = s[1];
    if (Test(sx, sy)) continue;
    i32 left = i_PrevKnifeLeft(sy, sx) + 1;
    i32 right = i_NextKnife(sy, sx) - 1;
    if (!m_recording) {
      FillLine(left, sy, right - left + 1);
    } else if (!i_RecordRun(left, sy, right - left + 1)) {
      return 0;
    }
    i_PushStretches(sy - 1, left, right);
    i_PushStretches(sy + 1, left, right);
    // A push that failed ends the fill, as the point-wise fill does.
    if (m_pushFailed) return 0;
  }
  return 1;
}

// ---- Pinholes

void CTessaretteFill::ClosePinholes(i32 y) {
  if (y < 0 || y >= m_scanH) return;
  u8* row = m_knife + static_cast<size_t>(y) * m_knifeStride;
  const u8* up = y > 0 ? row - m_knifeStride : nullptr;
  const u8* down = y + 1 < m_scanH ? row + m_knifeStride : nullptr;

  if (m_mode != MODE_BIT4) {
    const i32 w = m_scanW;
    for (i32 x = 0; x < w; x++) {
      if (row[x] != 0) continue;
      if (x > 0 && row[x - 1] == 0) continue;
      if (x + 1 < w && row[x + 1] == 0) continue;
      if (up && up[x] == 0) continue;
      if (down && down[x] == 0) continue;
      if (m_mode != MODE_8BIT_AA) {
        row[x] = 255;
        continue;
      }
      i32 sum = 0, n = 0;
      if (x > 0) sum += row[x - 1], n++;
      if (x + 1 < w) sum += row[x + 1], n++;
      if (up) sum += up[x], n++;
      if (down) sum += down[x], n++;
      row[x] = static_cast<u8>(n ? sum / n : 255);
    }
    return;
  }

  const i32 words = static_cast<i32>(m_knifeStride / 8);
  u64 prev = ~0ull;  // left of the row counts as knife
  u64 cur = LoadWord(row);
  for (i32 k = 0; k < words; k++) {
    u64 next = k + 1 < words ? LoadWord(row + 8 * static_cast<size_t>(k + 1)) : ~0ull;
    u64 left = (cur >> 1) | (prev << 63);
    u64 right = (cur << 1) | (next >> 63);
    u64 u = up ? LoadWord(up + 8 * static_cast<size_t>(k)) : ~0ull;
    u64 d = down ? LoadWord(down + 8 * static_cast<size_t>(k)) : ~0ull;
    u64 pin = ~cur & left & right & u & d;
    if (pin) StoreWord(row + 8 * static_cast<size_t>(k), cur | pin);
    prev = cur;
    cur = next;
  }
}

// ---- Recorded runs

u8 CTessaretteFill::i_RecordRun(i32 x, i32 y, i32 count) {
  if (!i_ClipRun(x, y, count)) return 1;
  if (m_runCount == m_runCapacity) {
    const u64 cap = m_runCapacity ? 2ull * m_runCapacity : 4096;
    if (cap > 0x7FFFFFFF || !klFits32(cap * sizeof(Run)) || !m_runBlock.Resize(static_cast<u32>(cap * sizeof(Run))))
      return 0;
    m_runCapacity = static_cast<u32>(cap);
  }
  reinterpret_cast<Run*>(m_runBlock.GetPtr())[m_runCount++] = Run{x, y, count};
  // Filled, as FillLine marks it (the points beside the run are knife).
  const i32 xa = x > 0 ? x - 1 : 0;
  const i32 xb = x + count < m_scanW ? x + count : m_scanW - 1;
  i_SetBits(m_knife + static_cast<size_t>(y) * m_knifeStride, xa, xb);
  const i32 ya = y > 0 ? y - 1 : 0;
  const i32 yb = y + 1 < m_scanH ? y + 1 : m_scanH - 1;
  i_Extend(xa / 4, ya / 4, xb / 4, yb / 4);
  return 1;
}

namespace {

// Bit i of a row of the region's scan box: bit i & 63 of word i >> 6.
inline void SetSpan(u64* row, i32 a, i32 b) {
  for (i32 k = a >> 6; k <= (b >> 6); k++) {
    const i32 first = k == (a >> 6) ? (a & 63) : 0, last = k == (b >> 6) ? (b & 63) : 63;
    const u64 hi = last == 63 ? ~0ull : (1ull << (last + 1)) - 1;
    row[k] |= hi & ~((1ull << first) - 1);
  }
}

}  // namespace

u8 CTessaretteFill::GrowScratch(CKLF_Mem& scratch, u64 need) {
  if (scratch.GetSize() >= need) return 1;
  if (!klFits32(need)) return 0;
  const u64 roomy = need + need / 2;
  return scratch.Grow(static_cast<u32>(klFits32(roomy) ? roomy : need)) != nullptr;
}

u8 CTessaretteFill::PaintRuns(const Run* runs, u32 count, i32 scanW, i32 scanH, const kltRECT_s& r, u8* mask,
                              u32 stride, CKLF_Mem& scratch) {
  const i32 w = r.right - r.left, h = r.bottom - r.top;
  const i32 sx0 = 4 * r.left, sy0 = 4 * r.top, words = (4 * w + 63) / 64;
  const u64 rowWords = static_cast<u64>(words), planeWords = rowWords * 4 * static_cast<u64>(h);
  if (!GrowScratch(scratch, planeWords * 16)) return 0;
  // Two bit planes over the scan box: the region's points, and those filled.
  u64* mine = reinterpret_cast<u64*>(scratch.GetPtr());
  u64* done = mine + planeWords;
  std::memset(mine, 0, planeWords * 16);
  for (i32 y = 0; y < h; y++) std::memset(mask + static_cast<size_t>(y) * stride, 0, static_cast<size_t>(w));
  for (u32 i = 0; i < count; i++)
    SetSpan(mine + (runs[i].y - sy0) * rowWords, runs[i].x - sx0, runs[i].x - sx0 + runs[i].count - 1);
  for (u32 i = 0; i < count; i++) {
    const i32 x = runs[i].x - sx0, y = runs[i].y, last = x + runs[i].count - 1;
    // Set neighbours above and below mark the pixel they fall in with 16
    // when it is still empty; a nibble of a word is one image pixel.
    for (i32 d = -1; d <= 1; d += 2) {
      const i32 ny = y + d;
      if (ny < 0 || ny >= scanH) continue;
      const u64* m = mine + (ny - sy0) * rowWords;
      const u64* f = done + (ny - sy0) * rowWords;
      u8* mrow = mask + static_cast<size_t>(ny / 4 - r.top) * stride;
      for (i32 k = x >> 6; k <= (last >> 6); k++) {
        const i32 first = k == (x >> 6) ? (x & 63) : 0, lastb = k == (last >> 6) ? (last & 63) : 63;
        const u64 span = (lastb == 63 ? ~0ull : (1ull << (lastb + 1)) - 1) & ~((1ull << first) - 1);
        u64 set = (~m[k] | f[k]) & span;
        if (!set) continue;
        // Pixels under filled rows are painted already: skip a word whose
        // 16 pixels are none of them empty.
        if (16 * k + 16 <= w && !HasZeroByte(mrow + 16 * k) && !HasZeroByte(mrow + 16 * k + 8)) continue;
        set = (set | (set >> 1) | (set >> 2) | (set >> 3)) & 0x1111111111111111ull;
        while (set) {
          u8& p = mrow[16 * k + __builtin_ctzll(set) / 4];
          set &= set - 1;
          if (p == 0) p = 16;
        }
      }
    }
    SetSpan(done + (y - sy0) * rowWords, x, last);
    // 16 for every point from one left of the run to one right of it.
    const i32 xa = runs[i].x > 0 ? runs[i].x - 1 : 0;
    const i32 xb = runs[i].x + runs[i].count < scanW ? runs[i].x + runs[i].count : scanW - 1;
    u8* row = mask + static_cast<size_t>(y / 4 - r.top) * stride - r.left;
    const i32 pa = xa / 4, pb = xb / 4;
    if (pa == pb) {
      row[pa] = AddSixteen(row[pa], xb - xa + 1);
      continue;
    }
    row[pa] = AddSixteen(row[pa], 4 * pa + 4 - xa);
    for (i32 p = pa + 1; p < pb; p++) row[p] = static_cast<u8>(row[p] > 191 ? 255 : row[p] + 64);
    row[pb] = AddSixteen(row[pb], xb - 4 * pb + 1);
  }
  return 1;
}
