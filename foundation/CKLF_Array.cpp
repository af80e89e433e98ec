#include "CKLF_Array.h"

#include <new>

namespace {
// Ten slots beyond the one needed, or half the capacity more when that is
// larger: small arrays grow ten at a time, large ones by half, so filling
// one costs what its elements cost.
const u32 kGrowStep = 10;
}

CKLF_Array::CKLF_Array() : m_capacity(0), m_count(0), m_elementSize(1) {}

CKLF_Array::CKLF_Array(u8 elementSize) : m_capacity(0), m_count(0), m_elementSize(elementSize) {}

CKLF_Array::~CKLF_Array() {}

u8 CKLF_Array::SetArraySize(u32 n) {
  u64 bytes = static_cast<u64>(n) * m_elementSize;
  if (!klFits32(bytes)) return Fail(klErrNoMemory);
  if (n < m_count) i_ReleaseSlots(n);
  u8 ok = m_storage.Resize(static_cast<u32>(bytes));
  SetError(m_storage.GetError());
  if (ok) {
    m_capacity = n;
    if (m_count > n) m_count = n;
  }
  return ok;
}

u8 CKLF_Array::Compact() { return SetArraySize(m_count); }

void CKLF_Array::Empty() {
  i_ReleaseSlots(0);
  m_storage.free();
  m_capacity = 0;
  m_count = 0;
}

i32 CKLF_Array::CompareElements(const void* a, const void* b) { return a == b ? 1 : 0; }

u8 CKLF_Array::SortElements(u8 ascending) {
  if (m_count < 2) return 1;
  u8 swap[255];  // the largest element an 8-bit size allows
  for (u32 i = 0; i + 1 < m_count; ++i) {
    for (u32 j = i + 1; j < m_count; ++j) {
      i32 c = CompareElements(i_Slot(i), i_Slot(j));
      if (ascending ? c > 0 : c < 0) {
        std::memcpy(swap, i_Slot(i), m_elementSize);
        std::memcpy(i_Slot(i), i_Slot(j), m_elementSize);
        std::memcpy(i_Slot(j), swap, m_elementSize);
      }
    }
  }
  return 1;
}

// Makes slot i exist. A larger step that does not fit falls back to the
// least one.
u8 CKLF_Array::i_GrowFor(u32 i) {
  if (i < m_capacity) return 1;
  const u64 least = static_cast<u64>(i) + kGrowStep;
  if (least > 0xFFFFFFFFull) return Fail(klErrNoMemory);
  const u64 half = static_cast<u64>(m_capacity) + m_capacity / 2;
  if (half > least && half <= 0xFFFFFFFFull && klFits32(half * m_elementSize) &&
      SetArraySize(static_cast<u32>(half)))
    return 1;
  return SetArraySize(static_cast<u32>(least));
}

i32 CKLF_Array::i_Add(const void* element) {
  if (!i_GrowFor(m_count)) return -1;
  std::memcpy(i_Slot(m_count), element, m_elementSize);
  return static_cast<i32>(m_count++);
}

u8 CKLF_Array::i_SetAt(u32 i, const void* element) {
  if (!i_GrowFor(i)) return 0;
  std::memcpy(i_Slot(i), element, m_elementSize);
  if (i >= m_count) m_count = i + 1;
  return 1;
}

u8 CKLF_Array::i_InsertAt(u32 i, const void* element) {
  if (i >= m_count) return i_SetAt(i, element);
  if (!i_GrowFor(m_count)) return 0;
  std::memmove(i_Slot(i + 1), i_Slot(i), static_cast<size_t>(m_count - i) * m_elementSize);
  std::memcpy(i_Slot(i), element, m_elementSize);
  ++m_count;
  return 1;
}

void CKLF_Array::i_DeleteAt(u32 i) {
  if (i >= m_count) return;
  std::memmove(i_Slot(i), i_Slot(i + 1), static_cast<size_t>(m_count - i - 1) * m_elementSize);
  --m_count;
  // The vacated slot must not keep a copy of the last element.
  std::memset(i_Slot(m_count), 0, m_elementSize);
}

u8 CKLF_Array::i_GetAt(u32 i, void* out) const {
  if (i >= m_capacity) return 0;
  std::memcpy(out, i_Slot(i), m_elementSize);
  return 1;
}

// ---- string array ----

CKLF_StringArray::CKLF_StringArray() : CKLF_Array(static_cast<u8>(sizeof(CKLF_String*))) {}

CKLF_StringArray::~CKLF_StringArray() { Empty(); }

CKLF_String* CKLF_StringArray::GetPtrAt(u32 i) const {
  if (i >= m_count) return nullptr;
  CKLF_String* s;
  std::memcpy(&s, i_Slot(i), sizeof(s));
  return s;
}

CKLF_String* CKLF_StringArray::i_Make(const CKLF_String& s, u32 value) {
  CKLF_String* copy = new (std::nothrow) CKLF_String(s);
  if (!copy || copy->IsError()) {
    delete copy;
    return Fail(klErrNoMemory, nullptr);
  }
  copy->SetUserValue(value);
  return copy;
}

i32 CKLF_StringArray::Add(const CKLF_String& s, u32 value) {
  CKLF_String* copy = i_Make(s, value);
  if (!copy) return -1;
  i32 r = i_Add(&copy);
  if (r < 0) delete copy;
  return r;
}

u8 CKLF_StringArray::InsertAt(u32 i, const CKLF_String& s, u32 value) {
  if (i >= m_count) return SetAt(i, s, value);
  CKLF_String* copy = i_Make(s, value);
  if (!copy) return 0;
  if (!i_InsertAt(i, &copy)) {
    delete copy;
    return 0;
  }
  return 1;
}

u8 CKLF_StringArray::SetAt(u32 i, const CKLF_String& s, u32 value) {
  CKLF_String* copy = i_Make(s, value);
  if (!copy) return 0;
  CKLF_String* old = GetPtrAt(i);
  if (!i_SetAt(i, &copy)) {
    delete copy;
    return 0;
  }
  delete old;
  return 1;
}

void CKLF_StringArray::DeleteAt(u32 i) {
  if (i >= m_count) return;
  delete GetPtrAt(i);
  i_DeleteAt(i);
}

// A copy that fails leaves its code in out.
u8 CKLF_StringArray::GetAt(u32 i, CKLF_String& out) const {
  CKLF_String* s = GetPtrAt(i);
  if (s) return !(out = *s).IsError();
  out.SetUserValue(0);
  return !(out = "").IsError();
}

i32 CKLF_StringArray::LSearch(const CKLF_String& key, u8 caseSensitive) {
  ResetError();
  for (u32 i = 0; i < m_count; ++i) {
    CKLF_String* s = GetPtrAt(i);
    if (!s) continue;
    if ((caseSensitive ? s->Compare(key) : s->CompareNoCase(key)) == 0) return static_cast<i32>(i);
  }
  return -1;
}

i32 CKLF_StringArray::BSearch(const CKLF_String& key, u8 caseSensitive) {
  i64 lo = 0;
  i64 hi = static_cast<i64>(m_count) - 1;
  while (lo < hi) {
    i64 mid = (lo + hi) / 2;
    CKLF_String* s = GetPtrAt(static_cast<u32>(mid));
    if (!s) return -1;
    i32 c = caseSensitive ? s->Compare(key) : s->CompareNoCase(key);
    if (c == 1)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (hi < lo) return -1;
  CKLF_String* s = GetPtrAt(static_cast<u32>(lo));
  if (!s) return -1;
  return (caseSensitive ? s->Compare(key) : s->CompareNoCase(key)) == 0 ? static_cast<i32>(lo) : -1;
}

u32 CKLF_StringArray::UpperBound(const CKLF_String& key, u8 caseSensitive) {
  u32 lo = 0;
  u32 hi = m_count;
  while (lo < hi) {
    u32 mid = lo + (hi - lo) / 2;
    CKLF_String* s = GetPtrAt(mid);
    CKLF_String empty;
    CKLF_String& text = s ? *s : empty;
    // Slot sorts before or equals the key: the insertion point lies after it.
    if ((caseSensitive ? text.Compare(key) : text.CompareNoCase(key)) >= 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

void CKLF_StringArray::Empty() { CKLF_Array::Empty(); }

void CKLF_StringArray::i_ReleaseSlots(u32 from) {
  for (u32 i = from; i < m_count; ++i) {
    CKLF_String* s = GetPtrAt(i);
    delete s;
    std::memset(i_Slot(i), 0, m_elementSize);
  }
}

i32 CKLF_StringArray::CompareElements(const void* a, const void* b) {
  CKLF_String* x;
  CKLF_String* y;
  std::memcpy(&x, a, sizeof(x));
  std::memcpy(&y, b, sizeof(y));
  CKLF_String empty;
  CKLF_String& sx = x ? *x : empty;
  CKLF_String& sy = y ? *y : empty;
  return sy.Compare(sx);
}
