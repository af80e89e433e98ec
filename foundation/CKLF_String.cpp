#include "CKLF_String.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
const u32 kMinBuffer = 20;

inline char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
}  // namespace

char CKLF_String::s_empty[1] = {0};

CKLF_String::CKLF_String() : m_userValue(0), m_length(0) {
  if (!m_buffer.Zalloc(kMinBuffer)) SetError(m_buffer.GetError());
}

// A construction or assignment that fails leaves the string empty with
// the code (IsError), which the caller reads.
CKLF_String::CKLF_String(const char* s) : m_userValue(0), m_length(0) {
  (void)i_Assign(s, s ? static_cast<u32>(std::strlen(s)) : 0);
}

CKLF_String::CKLF_String(char* s) : CKLF_String(static_cast<const char*>(s)) {}

CKLF_String::CKLF_String(const CKLF_String& other) : CKLF_FrameWork(), m_userValue(0), m_length(0) {
  (void)(*this = other);
}

CKLF_String::~CKLF_String() {}

u8 CKLF_String::i_Assign(const char* s, u32 len) {
  ResetError();
  u32 size = len + 1 > kMinBuffer ? len + 1 : kMinBuffer;
  // s may point into our own buffer: build the new block before freeing.
  CKLF_Mem fresh;
  if (!fresh.Zalloc(size)) {
    m_length = 0;
    if (m_buffer.GetPtr()) m_buffer.GetPtr()[0] = 0;
    return FailFrom(fresh, klErrNoMemory);
  }
  if (len) std::memcpy(fresh.GetPtr(), s, len);
  m_buffer.free();
  if (!m_buffer.Zalloc(size)) {
    m_length = 0;
    return FailFrom(m_buffer, klErrNoMemory);
  }
  std::memcpy(m_buffer.GetPtr(), fresh.GetPtr(), size);
  m_length = len;
  return 1;
}

CKLF_String& CKLF_String::operator=(const char* s) {
  (void)i_Assign(s, s ? static_cast<u32>(std::strlen(s)) : 0);
  return *this;
}

// A copy of a string that failed fails with it: an emptied text is not
// taken for the one asked for.
CKLF_String& CKLF_String::operator=(const CKLF_String& other) {
  if (this == &other) return *this;
  ResetError();
  if (other.IsError()) {
    m_length = 0;
    if (m_buffer.GetPtr()) m_buffer.GetPtr()[0] = 0;
    SetError(other.GetError());
    return *this;
  }
  u32 size = other.m_buffer.GetSize();
  if (size < other.m_length + 1) size = other.m_length + 1;
  if (!m_buffer.Zalloc(size)) {
    m_length = 0;
    FailFrom(m_buffer, klErrNoMemory);
    return *this;
  }
  if (other.m_buffer.GetPtr()) std::memcpy(m_buffer.GetPtr(), other.m_buffer.GetPtr(), other.m_buffer.GetSize());
  m_length = other.m_length;
  m_userValue = other.m_userValue;
  return *this;
}

CKLF_String& CKLF_String::operator=(char c) {
  char one[2] = {c, 0};
  (void)i_Assign(one, c ? 1 : 0);
  return *this;
}

void CKLF_String::Clear() {
  m_length = 0;
  if (m_buffer.GetPtr()) m_buffer.GetPtr()[0] = 0;
  ResetError();
}

u8 CKLF_String::Compact() {
  if (!m_buffer.Resize(m_length + 1)) return FailFrom(m_buffer, klErrNoMemory);
  return 1;
}

char CKLF_String::HEXDigit(u32 n) { return n < 16 ? "0123456789ABCDEF"[n] : '0'; }

u32 CKLF_String::CharBytes(const char* s, u32 size, u32* codePoint) {
  const u8* b = reinterpret_cast<const u8*>(s);
  const u8 lead = b[0];
  // The sequence's length and the lowest value it may code.
  const u32 k = lead >= 0xC2 && lead <= 0xDF   ? 2
                : lead >= 0xE0 && lead <= 0xEF ? 3
                : lead >= 0xF0 && lead <= 0xF4 ? 4
                                               : 1;
  const u32 lowest = k == 2 ? 0x80 : k == 3 ? 0x800 : 0x10000;
  u32 cp = k == 1 ? lead : lead & (0x7Fu >> k);
  bool whole = k > 1 && k <= size;
  for (u32 j = 1; whole && j < k; ++j) {
    whole = (b[j] & 0xC0) == 0x80;
    cp = (cp << 6) | (b[j] & 0x3Fu);
  }
  if (k > 1 && (!whole || cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) {
    if (codePoint) *codePoint = lead;
    return 1;
  }
  if (codePoint) *codePoint = cp;
  return k;
}

u32 CKLF_String::WholeCharacters(const char* s, u32 size, u32 most) {
  u32 n = 0;
  while (n < size) {
    const u32 k = CharBytes(s + n, size - n);
    if (n + k > most) break;
    n += k;
  }
  return n;
}

u8 CKLF_String::i_Grow(u32 need, u32 grow) {
  u32 size = m_buffer.GetSize();
  if (size >= need) return 1;
  u64 by = need - size;
  if (by < kMinBuffer) by = kMinBuffer;
  if (by < grow) by = grow;
  if (!klFits32(size + by) || !m_buffer.Resize(static_cast<u32>(size + by))) return FailFrom(m_buffer, klErrNoMemory);
  return 1;
}

char* CKLF_String::Append(const CKLF_String& s, u32 grow) {
  if (s.IsError()) return FailFrom(s, klErrNoMemory, nullptr);
  u32 add = s.m_length;
  u64 need = static_cast<u64>(m_length) + add + 1;
  if (!klFits32(need)) return Fail(klErrNoMemory, nullptr);
  // Appending a string to itself: keep the text apart before the buffer moves.
  CKLF_String selfCopy;
  const CKLF_String* src = &s;
  if (&s == this) {
    if ((selfCopy = s).IsError()) return FailFrom(selfCopy, klErrNoMemory, nullptr);
    src = &selfCopy;
  }
  if (!i_Grow(static_cast<u32>(need), grow)) return nullptr;
  std::memcpy(GetStr() + m_length, src->GetStr(), add);
  m_length += add;
  GetStr()[m_length] = 0;
  return GetStr();
}

char* CKLF_String::Append(const char* s) {
  CKLF_String tmp(s);
  if (tmp.IsError()) return FailFrom(tmp, klErrNoMemory, nullptr);
  return Append(tmp, 0);
}

char* CKLF_String::Append(char c) {
  CKLF_String tmp;
  tmp = c;
  if (tmp.IsError()) return FailFrom(tmp, klErrNoMemory, nullptr);
  return Append(tmp, 0);
}

// A failure stays in the error code, which the caller reads.
CKLF_String& CKLF_String::operator+=(const CKLF_String& s) {
  (void)Append(s, 0);
  return *this;
}
CKLF_String& CKLF_String::operator+=(const char* s) {
  (void)Append(s);
  return *this;
}
CKLF_String& CKLF_String::operator+=(char c) {
  (void)Append(c);
  return *this;
}

char* CKLF_String::Space(u32 n) {
  if (!klFits32(static_cast<u64>(n) + 1)) return Fail(klErrNoMemory, nullptr);
  if (!i_Grow(n + 1, 0)) return nullptr;
  std::memset(m_buffer.GetPtr(), ' ', m_buffer.GetSize());
  GetStr()[n] = 0;
  m_length = n;
  return GetStr();
}

char* CKLF_String::InsertAt(u32 pos, const CKLF_String& s) {
  u32 keep = pos < m_length ? pos : m_length;
  u64 total = static_cast<u64>(s.m_length) + (pos > m_length ? pos : m_length);
  if (!klFits32(total + 1)) return Fail(klErrNoMemory, nullptr);
  CKLF_String tmp;
  if (!tmp.Space(static_cast<u32>(total))) return FailFrom(tmp, klErrNoMemory, nullptr);
  char* d = tmp.GetStr();
  std::memcpy(d, GetStr(), keep);
  std::memcpy(d + pos, s.GetStr(), s.m_length);
  if (keep < m_length) std::memcpy(d + pos + s.m_length, GetStr() + keep, m_length - keep);
  if (!m_buffer.Resize(tmp.m_buffer.GetSize())) return FailFrom(m_buffer, klErrNoMemory, nullptr);
  std::memcpy(m_buffer.GetPtr(), tmp.m_buffer.GetPtr(), tmp.m_buffer.GetSize());
  m_length = tmp.m_length;
  return GetStr();
}

char* CKLF_String::InsertAt(u32 pos, char c) {
  CKLF_String tmp;
  tmp = c;
  if (tmp.IsError()) return FailFrom(tmp, klErrNoMemory, nullptr);
  return InsertAt(pos, tmp);
}

char* CKLF_String::InsertAt(u32 pos, const char* s) {
  CKLF_String tmp(s);
  if (tmp.IsError()) return FailFrom(tmp, klErrNoMemory, nullptr);
  return InsertAt(pos, tmp);
}

char* CKLF_String::DeleteFrom(u32 start, u32 count) {
  if (count == 0 || start >= m_length) return GetStr();
  u32 n = m_length - start;
  if (count < n) n = count;
  char* p = GetStr();
  std::memmove(p + start, p + start + n, m_length - start - n + 1);
  m_length -= n;
  return p;
}

void CKLF_String::Reverse() {
  char* p = GetStr();
  for (u32 i = 0, j = m_length; i + 1 < j; ++i, --j) {
    char t = p[i];
    p[i] = p[j - 1];
    p[j - 1] = t;
  }
}

void CKLF_String::MakeUpper() {
  char* p = GetStr();
  for (u32 i = 0; i < m_length; ++i)
    if (p[i] >= 'a' && p[i] <= 'z') p[i] = static_cast<char>(p[i] - 32);
  ResetError();
}

void CKLF_String::MakeLower() {
  char* p = GetStr();
  for (u32 i = 0; i < m_length; ++i)
    if (p[i] >= 'A' && p[i] <= 'Z') p[i] = static_cast<char>(p[i] + 32);
  ResetError();
}

void CKLF_String::TrimLeft() {
  u32 n = 0;
  while (n < m_length && GetStr()[n] == ' ') ++n;
  DeleteFrom(0, n);
}

void CKLF_String::TrimRight() {
  while (m_length > 0 && GetStr()[m_length - 1] == ' ') GetStr()[--m_length] = 0;
}

void CKLF_String::TrimBoth() {
  TrimLeft();
  TrimRight();
}

char* CKLF_String::SetFromMem(CKLF_Mem& m, u32 max) {
  const char* p = reinterpret_cast<const char*>(m.GetPtr());
  u32 n = 0;
  u32 limit = m.GetSize();
  if (max != 0 && max < limit) limit = max;
  while (n < limit && p[n] != 0) ++n;
  if (!i_Assign(p, n)) return nullptr;
  return GetStr();
}

char* CKLF_String::BufferHEX(const void* p, u32 n) {
  u64 len = 2ull * n;
  if (!klFits32(len + 1)) return Fail(klErrNoMemory, nullptr);
  CKLF_String tmp;
  if (!tmp.Space(static_cast<u32>(len))) return FailFrom(tmp, klErrNoMemory, nullptr);
  const u8* b = static_cast<const u8*>(p);
  char* d = tmp.GetStr();
  for (u32 i = 0; i < n; ++i) {
    d[2 * i] = HEXDigit(b[i] >> 4);
    d[2 * i + 1] = HEXDigit(b[i] & 15);
  }
  // The text only: the user value is not ours to touch.
  return i_Assign(tmp.GetStr(), static_cast<u32>(len)) ? GetStr() : nullptr;
}

char* CKLF_String::BufferHEX(CKLF_Mem& m, u32 n) {
  u32 count = m.GetSize();
  if (n != 0 && n < count) count = n;
  return BufferHEX(m.GetPtr(), count);
}

char* CKLF_String::Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return Fail(klErrBadArg, nullptr);
  }
  // Format into a block of its own: an argument may point into this string.
  CKLF_Mem out;
  if (!out.alloc(static_cast<u32>(n) + 1)) {
    va_end(again);
    return FailFrom(out, klErrNoMemory, nullptr);
  }
  std::vsnprintf(reinterpret_cast<char*>(out.GetPtr()), static_cast<size_t>(n) + 1, fmt, again);
  va_end(again);
  if (!Space(static_cast<u32>(n))) return nullptr;
  std::memcpy(GetStr(), out.GetPtr(), static_cast<size_t>(n) + 1);
  m_length = static_cast<u32>(n);
  return GetStr();
}

CKLF_String CKLF_String::Left(u32 n) {
  if (n > m_length) n = m_length;
  CKLF_String r;
  if (!r.i_Assign(GetStr(), n)) SetError(r.GetError());
  return r;
}

CKLF_String CKLF_String::Right(u32 n) {
  if (n > m_length) n = m_length;
  CKLF_String r;
  if (!r.i_Assign(GetStr() + (m_length - n), n)) SetError(r.GetError());
  return r;
}

CKLF_String CKLF_String::Mid(u32 start, u32 count, u8 fromLeft) {
  CKLF_String r;
  if (start > m_length) start = m_length;
  u32 n = m_length - start;
  if (count < n) n = count;
  u32 from = fromLeft ? start : m_length - start - n;
  if (!r.i_Assign(GetStr() + from, n)) SetError(r.GetError());
  return r;
}

i32 CKLF_String::i_Compare(const char* s, u32 len, bool noCase) {
  ResetError();
  const u8* a = reinterpret_cast<const u8*>(GetStr());
  const u8* b = reinterpret_cast<const u8*>(s);
  u32 n = m_length < len ? m_length : len;
  for (u32 i = 0; i < n; ++i) {
    u8 x = a[i];
    u8 y = b[i];
    if (x == y) continue;
    if (noCase) {
      x = static_cast<u8>(UpperAscii(static_cast<char>(x)));
      y = static_cast<u8>(UpperAscii(static_cast<char>(y)));
      if (x == y) continue;
    }
    return x < y ? 1 : -1;
  }
  if (m_length == len) return 0;
  return m_length < len ? 1 : -1;
}

i32 CKLF_String::Compare(const CKLF_String& other) { return i_Compare(other.GetStr(), other.m_length, false); }
i32 CKLF_String::Compare(const char* s) { return i_Compare(s ? s : "", s ? static_cast<u32>(std::strlen(s)) : 0, false); }
i32 CKLF_String::Compare(char c) { return i_Compare(&c, c ? 1 : 0, false); }
i32 CKLF_String::CompareNoCase(const CKLF_String& other) { return i_Compare(other.GetStr(), other.m_length, true); }
i32 CKLF_String::CompareNoCase(const char* s) {
  return i_Compare(s ? s : "", s ? static_cast<u32>(std::strlen(s)) : 0, true);
}
i32 CKLF_String::CompareNoCase(char c) { return i_Compare(&c, c ? 1 : 0, true); }

i32 CKLF_String::Find(const CKLF_String& needle, i32 start, u8 forward) {
  if (start < 0 || static_cast<u32>(start) >= m_length) return -1;
  if (forward) {
    const char* hit = std::strstr(GetStr() + start, needle.GetStr());
    return hit ? static_cast<i32>(hit - GetStr()) : -1;
  }
  CKLF_String hay(*this);
  CKLF_String rev(needle);
  if (hay.IsError() || rev.IsError()) return Fail(klErrNoMemory, -1);
  hay.Reverse();
  rev.Reverse();
  const char* hit = std::strstr(hay.GetStr() + start, rev.GetStr());
  return hit ? static_cast<i32>(hit - hay.GetStr()) : -1;
}

i32 CKLF_String::Find(char c, i32 start, u8 forward) {
  CKLF_String tmp;
  tmp = c;
  if (tmp.IsError()) return FailFrom(tmp, klErrNoMemory, -1);
  return Find(tmp, start, forward);
}

i32 CKLF_String::Find(const char* needle, i32 start, u8 forward) {
  CKLF_String tmp(needle);
  if (tmp.IsError()) return FailFrom(tmp, klErrNoMemory, -1);
  return Find(tmp, start, forward);
}

// A sum that fails carries the code (IsError), which the caller reads.
CKLF_String operator+(const CKLF_String& a, const CKLF_String& b) {
  CKLF_String r(a);
  if (!r.IsError()) (void)(r += b);
  return r;
}
CKLF_String operator+(const CKLF_String& a, const char* b) {
  CKLF_String r(a);
  if (!r.IsError()) (void)(r += b);
  return r;
}
CKLF_String operator+(const char* a, const CKLF_String& b) {
  CKLF_String r(a);
  if (!r.IsError()) (void)(r += b);
  return r;
}
CKLF_String operator+(const CKLF_String& a, char b) {
  CKLF_String r(a);
  if (!r.IsError()) (void)(r += b);
  return r;
}
CKLF_String operator+(char a, const CKLF_String& b) {
  CKLF_String r;
  r = a;
  if (!r.IsError()) (void)(r += b);
  return r;
}

namespace {
// Compare() resets the error code only; the operators take const strings.
inline i32 Cmp(const CKLF_String& a, const CKLF_String& b) { return const_cast<CKLF_String&>(a).Compare(b); }
inline i32 Cmp(const CKLF_String& a, const char* b) { return const_cast<CKLF_String&>(a).Compare(b); }
inline i32 Cmp(const CKLF_String& a, char b) { return const_cast<CKLF_String&>(a).Compare(b); }
}  // namespace

bool operator==(const CKLF_String& a, const CKLF_String& b) { return Cmp(a, b) == 0; }
bool operator!=(const CKLF_String& a, const CKLF_String& b) { return Cmp(a, b) != 0; }
bool operator<(const CKLF_String& a, const CKLF_String& b) { return Cmp(a, b) > 0; }
bool operator<=(const CKLF_String& a, const CKLF_String& b) { return Cmp(a, b) >= 0; }
bool operator>(const CKLF_String& a, const CKLF_String& b) { return Cmp(a, b) < 0; }
bool operator>=(const CKLF_String& a, const CKLF_String& b) { return Cmp(a, b) <= 0; }

bool operator==(const CKLF_String& a, const char* b) { return Cmp(a, b) == 0; }
bool operator!=(const CKLF_String& a, const char* b) { return Cmp(a, b) != 0; }
bool operator==(const char* a, const CKLF_String& b) { return Cmp(b, a) == 0; }
bool operator!=(const char* a, const CKLF_String& b) { return Cmp(b, a) != 0; }
bool operator<(const CKLF_String& a, const char* b) { return Cmp(a, b) > 0; }
bool operator<=(const CKLF_String& a, const char* b) { return Cmp(a, b) >= 0; }
bool operator>(const CKLF_String& a, const char* b) { return Cmp(a, b) < 0; }
bool operator>=(const CKLF_String& a, const char* b) { return Cmp(a, b) <= 0; }
bool operator<(const char* a, const CKLF_String& b) { return b > a; }
bool operator<=(const char* a, const CKLF_String& b) { return b >= a; }
bool operator>(const char* a, const CKLF_String& b) { return b < a; }
bool operator>=(const char* a, const CKLF_String& b) { return b <= a; }

bool operator==(const CKLF_String& a, char b) { return Cmp(a, b) == 0; }
bool operator!=(const CKLF_String& a, char b) { return Cmp(a, b) != 0; }
bool operator<(const CKLF_String& a, char b) { return Cmp(a, b) > 0; }
bool operator<=(const CKLF_String& a, char b) { return Cmp(a, b) >= 0; }
bool operator>(const CKLF_String& a, char b) { return Cmp(a, b) < 0; }
bool operator>=(const CKLF_String& a, char b) { return Cmp(a, b) <= 0; }
bool operator==(char a, const CKLF_String& b) { return b == a; }
bool operator!=(char a, const CKLF_String& b) { return b != a; }
bool operator<(char a, const CKLF_String& b) { return b > a; }
bool operator<=(char a, const CKLF_String& b) { return b >= a; }
bool operator>(char a, const CKLF_String& b) { return b < a; }
bool operator>=(char a, const CKLF_String& b) { return b <= a; }

u8 SplitPath(CKLF_String key, CKLF_String& parent, CKLF_String& name) {
  const char* gt = key.IsError() ? nullptr : std::strrchr(key.GetStr(), '>');
  const u32 i = gt ? static_cast<u32>(gt - key.GetStr()) : 0;
  if (gt ? !(parent = key.Left(i)).IsError() && !(name = key.Right(key.GetLength() - i - 1)).IsError()
         : !(parent = "").IsError() && !(name = key).IsError())
    return 1;
  const u16 error = parent.IsError() ? parent.GetError() : name.GetError();
  parent.SetError(error);
  name.SetError(error);
  return 0;
}
