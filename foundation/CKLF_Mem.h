// Owned heap block: a byte count and a pointer. Either both describe a live
// block or the size is 0 and the pointer null. The block never grows by
// itself; strings and arrays decide their own growth. Sizes are 32-bit:
// a request whose byte count does not fit fails with error 17.
#pragma once

#include "CKLF_ErrorManager.h"

class CKLF_Mem : public CKLF_FrameWork {
 public:
  CKLF_Mem();
  explicit CKLF_Mem(u32 n);
  explicit CKLF_Mem(CKLF_Mem* other);
  ~CKLF_Mem() override;

  CKLF_Mem(const CKLF_Mem&) = delete;
  CKLF_Mem& operator=(const CKLF_Mem&) = delete;

  // Frees the current block and allocates n bytes (contents undefined).
  // alloc(0) leaves the block empty and returns null without an error.
  [[nodiscard]] u8* alloc(u32 n);
  [[nodiscard]] u8* allocByte(u32 n) { return alloc(n); }
  [[nodiscard]] u8* allocWord(u32 n);
  [[nodiscard]] u8* allocDWord(u32 n);
  // As alloc, zero-filled.
  [[nodiscard]] u8* Zalloc(u32 n);
  [[nodiscard]] u8* ZallocByte(u32 n) { return Zalloc(n); }
  [[nodiscard]] u8* ZallocWord(u32 n);
  [[nodiscard]] u8* ZallocDWord(u32 n);
  // At least n bytes: a smaller block grows, keeping its first bytes and
  // the memory it has touched (the rest undefined); a large enough one is
  // left as it is. On failure (error 17) the old block stays.
  [[nodiscard]] u8* Grow(u32 n);
  void free();

  u32 GetSize() const { return m_size; }
  u8* GetPtr() const { return m_ptr; }
  u8* GetPtr(u32* size) const {
    if (size) *size = m_size;
    return m_ptr;
  }

  // Fills: 1 on success, 0 with error 2 when the block is empty. Each width
  // has its own overload; pass the value with its width spelled out.
  [[nodiscard]] u8 Set(u8 v);
  [[nodiscard]] u8 Set(u8 v, u32 offset, u32 count);
  [[nodiscard]] u8 Set(u16 v);
  [[nodiscard]] u8 Set(u32 v);
  void Set(int) = delete;
  [[nodiscard]] u8 Zero() { return Set(static_cast<u8>(0)); }

  // Bounded copies; a count of 0 (first two forms) means as much as fits.
  // Return the bytes copied; 0 with error 2 when this block is empty or an
  // offset lies beyond its block.
  [[nodiscard]] u32 Copy(CKLF_Mem* src, u32 srcOffset, u32 count);
  [[nodiscard]] u32 Copy(u32 destOffset, CKLF_Mem* src, u32 srcOffset, u32 count);
  [[nodiscard]] u32 Copy(u32 destOffset, const void* src, u32 count);

  // Keeps min(old, n) bytes, zero-fills the rest; n = 0 empties the block.
  // On failure (error 17) the old block stays.
  [[nodiscard]] u8 Resize(u32 n);

  // A new heap copy that the caller deletes; null with error 17.
  [[nodiscard]] CKLF_Mem* Clone();

 private:
  [[nodiscard]] u8* i_Allocate(u64 n, bool zero);

  u32 m_size;
  u8* m_ptr;
};
