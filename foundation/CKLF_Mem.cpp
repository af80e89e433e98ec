#include "CKLF_Mem.h"

#include <cstdlib>
#include <cstring>
#include <new>

CKLF_Mem::CKLF_Mem() : m_size(0), m_ptr(nullptr) {}

// A failed allocation leaves the block empty with the code, which the
// caller reads.
CKLF_Mem::CKLF_Mem(u32 n) : m_size(0), m_ptr(nullptr) { (void)alloc(n); }

CKLF_Mem::CKLF_Mem(CKLF_Mem* other) : m_size(0), m_ptr(nullptr) {
  if (other && other->GetSize() > 0 && alloc(other->GetSize())) std::memcpy(m_ptr, other->m_ptr, m_size);
}

CKLF_Mem::~CKLF_Mem() { free(); }

u8* CKLF_Mem::i_Allocate(u64 n, bool zero) {
  free();
  if (n == 0) return nullptr;
  if (!klFits32(n)) return Fail(klErrNoMemory, nullptr);
  u8* p = static_cast<u8*>(zero ? std::calloc(static_cast<size_t>(n), 1) : std::malloc(static_cast<size_t>(n)));
  if (!p) return Fail(klErrNoMemory, nullptr);
  m_ptr = p;
  m_size = static_cast<u32>(n);
  return p;
}

u8* CKLF_Mem::alloc(u32 n) { return i_Allocate(n, false); }
u8* CKLF_Mem::allocWord(u32 n) { return i_Allocate(2ull * n, false); }
u8* CKLF_Mem::allocDWord(u32 n) { return i_Allocate(4ull * n, false); }
u8* CKLF_Mem::Zalloc(u32 n) { return i_Allocate(n, true); }
u8* CKLF_Mem::ZallocWord(u32 n) { return i_Allocate(2ull * n, true); }
u8* CKLF_Mem::ZallocDWord(u32 n) { return i_Allocate(4ull * n, true); }

u8* CKLF_Mem::Grow(u32 n) {
  ResetError();
  if (n <= m_size) return m_ptr;
  u8* p = static_cast<u8*>(std::realloc(m_ptr, n));
  if (!p) return Fail(klErrNoMemory, nullptr);
  m_ptr = p;
  m_size = n;
  return p;
}

void CKLF_Mem::free() {
  std::free(m_ptr);
  m_ptr = nullptr;
  m_size = 0;
}

u8 CKLF_Mem::Set(u8 v) {
  if (!m_ptr) return Fail(klErrEmpty);
  std::memset(m_ptr, v, m_size);
  ResetError();
  return 1;
}

u8 CKLF_Mem::Set(u8 v, u32 offset, u32 count) {
  if (!m_ptr || offset >= m_size) return Fail(klErrEmpty);
  u32 n = m_size - offset;
  if (count < n) n = count;
  std::memset(m_ptr + offset, v, n);
  ResetError();
  return 1;
}

u8 CKLF_Mem::Set(u16 v) {
  if (!m_ptr) return Fail(klErrEmpty);
  for (u32 i = 0; i + 2 <= m_size; i += 2) std::memcpy(m_ptr + i, &v, 2);
  ResetError();
  return 1;
}

u8 CKLF_Mem::Set(u32 v) {
  if (!m_ptr) return Fail(klErrEmpty);
  for (u32 i = 0; i + 4 <= m_size; i += 4) std::memcpy(m_ptr + i, &v, 4);
  ResetError();
  return 1;
}

u32 CKLF_Mem::Copy(CKLF_Mem* src, u32 srcOffset, u32 count) {
  return Copy(0, src, srcOffset, count);
}

u32 CKLF_Mem::Copy(u32 destOffset, CKLF_Mem* src, u32 srcOffset, u32 count) {
  if (!m_ptr || destOffset > m_size || !src || srcOffset > src->GetSize()) return Fail(klErrEmpty);
  u32 n = src->GetSize() - srcOffset;
  if (m_size - destOffset < n) n = m_size - destOffset;
  if (count != 0 && n > count) n = count;
  if (n > 0) std::memmove(m_ptr + destOffset, src->GetPtr() + srcOffset, n);
  ResetError();
  return n;
}

u32 CKLF_Mem::Copy(u32 destOffset, const void* src, u32 count) {
  if (!m_ptr || destOffset > m_size) return Fail(klErrEmpty);
  u32 n = m_size - destOffset;
  if (count < n) n = count;
  if (n > 0 && src) std::memmove(m_ptr + destOffset, src, n);
  ResetError();
  return src ? n : 0;
}

u8 CKLF_Mem::Resize(u32 n) {
  ResetError();
  if (n == m_size) return 1;
  if (n == 0) {
    free();
    return 1;
  }
  u8* p = static_cast<u8*>(std::calloc(n, 1));
  if (!p) return Fail(klErrNoMemory);
  if (m_ptr) std::memcpy(p, m_ptr, m_size < n ? m_size : n);
  std::free(m_ptr);
  m_ptr = p;
  m_size = n;
  return 1;
}

CKLF_Mem* CKLF_Mem::Clone() {
  CKLF_Mem* copy = new (std::nothrow) CKLF_Mem(this);
  if (!copy || copy->GetSize() != m_size) {
    delete copy;
    return Fail(klErrNoMemory, nullptr);
  }
  ResetError();
  return copy;
}
