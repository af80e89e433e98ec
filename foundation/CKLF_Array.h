// Growable arrays of fixed-size elements in one memory block. Storage grows
// to 10 slots beyond the one needed, or by half its capacity when that is
// more (so n additions cost O(n) copies); element access checks
// the index against the capacity, and slots beyond the count read as zero.
// Sorting is an exchange sort (O(n^2), not stable) through the virtual
// CompareElements, which subclasses override to order their elements.
//
// CKLF_StringArray owns heap strings, each paired with a 32-bit value (the
// string's user value), and searches them linearly or by bisection.
#pragma once

#include <cstring>
#include <type_traits>

#include "CKLF_String.h"

// True when index i (of any integer type) lies in 0..limit-1.
template <typename I>
inline bool klIndexBelow(I i, u32 limit) {
  if constexpr (std::is_signed<I>::value) {
    if (i < 0) return false;
  }
  return static_cast<u64>(i) < limit;
}

class CKLF_Array : public CKLF_FrameWork {
 public:
  CKLF_Array();
  ~CKLF_Array() override;

  CKLF_Array(const CKLF_Array&) = delete;
  CKLF_Array& operator=(const CKLF_Array&) = delete;

  u32 GetSize() const { return m_count; }
  u32 GetCapacity() const { return m_capacity; }
  u8 GetElementSize() const { return m_elementSize; }
  // Resizes the storage to n slots (new slots zero). Shrinking below the
  // count drops the elements beyond n.
  [[nodiscard]] u8 SetArraySize(u32 n);
  [[nodiscard]] u8 Compact();
  virtual void Empty();
  u8 SortElements(u8 ascending);  // always 1
  // Negative when a orders before b, 0 when equal, positive after. The base
  // never reorders: it answers 1 only for the very same slot.
  virtual i32 CompareElements(const void* a, const void* b);

 protected:
  explicit CKLF_Array(u8 elementSize);

  // 1 when slot i exists or could be made; 0 with error 17.
  [[nodiscard]] u8 i_GrowFor(u32 i);
  [[nodiscard]] i32 i_Add(const void* element);
  [[nodiscard]] u8 i_InsertAt(u32 i, const void* element);
  [[nodiscard]] u8 i_SetAt(u32 i, const void* element);
  void i_DeleteAt(u32 i);
  [[nodiscard]] u8 i_GetAt(u32 i, void* out) const;
  u8* i_Slot(u32 i) const { return m_storage.GetPtr() + static_cast<size_t>(i) * m_elementSize; }
  // Called before slots from..count-1 are dropped by a shrink or Empty.
  virtual void i_ReleaseSlots(u32 from) { (void)from; }

  u32 m_capacity;
  u32 m_count;
  u8 m_elementSize;
  CKLF_Mem m_storage;
};

// Arrays of plain values; T is the element type (at most 255 bytes).
template <typename T>
class CKLF_TypedArray : public CKLF_Array {
  static_assert(sizeof(T) <= 255, "an element size is 8 bits");

 public:
  CKLF_TypedArray() : CKLF_Array(static_cast<u8>(sizeof(T))), m_outside() {}

  [[nodiscard]] i32 Add(T v) { return i_Add(&v); }
  [[nodiscard]] u8 InsertAt(u32 i, T v) { return i_InsertAt(i, &v); }
  [[nodiscard]] u8 SetAt(u32 i, T v) { return i_SetAt(i, &v); }
  void DeleteAt(u32 i) { i_DeleteAt(i); }
  [[nodiscard]] u8 GetAt(u32 i, T& v) const { return i_GetAt(i, &v); }

  template <typename I, typename = std::enable_if_t<std::is_integral<I>::value>>
  T operator[](I i) const {
    T v{};
    if (!klIndexBelow(i, m_capacity)) return v;
    std::memcpy(&v, i_Slot(static_cast<u32>(i)), sizeof(T));
    return v;
  }
  // The element itself, to read or write. It does not grow the array
  // (SetAt does): beyond the capacity it is a slot of no element that
  // reads as 0 and forgets what is written to it.
  template <typename I, typename = std::enable_if_t<std::is_integral<I>::value>>
  T& operator[](I i) {
    if (!klIndexBelow(i, m_capacity)) {
      m_outside = T{};
      return m_outside;
    }
    return *reinterpret_cast<T*>(i_Slot(static_cast<u32>(i)));
  }

  i32 CompareElements(const void* a, const void* b) override {
    T x, y;
    std::memcpy(&x, a, sizeof(T));
    std::memcpy(&y, b, sizeof(T));
    return x < y ? -1 : (y < x ? 1 : 0);
  }

 private:
  T m_outside;
};

class CKLF_ByteArray : public CKLF_TypedArray<u8> {};
class CKLF_SByteArray : public CKLF_TypedArray<i8> {};
class CKLF_WordArray : public CKLF_TypedArray<u16> {};
class CKLF_SWordArray : public CKLF_TypedArray<i16> {};
class CKLF_DWordArray : public CKLF_TypedArray<u32> {};
class CKLF_SDWordArray : public CKLF_TypedArray<i32> {};
class CKLF_FloatArray : public CKLF_TypedArray<f32> {};

// Pointers that the array does not own; sorting keeps their order.
class CKLF_PtrArray : public CKLF_TypedArray<void*> {
 public:
  i32 CompareElements(const void*, const void*) override { return 0; }
};

class CKLF_StringArray : public CKLF_Array {
 public:
  CKLF_StringArray();
  ~CKLF_StringArray() override;

  // Each stores a new heap copy of s whose user value is value.
  [[nodiscard]] i32 Add(const CKLF_String& s, u32 value);
  [[nodiscard]] u8 InsertAt(u32 i, const CKLF_String& s, u32 value);
  [[nodiscard]] u8 SetAt(u32 i, const CKLF_String& s, u32 value);
  void DeleteAt(u32 i);
  // out becomes a copy of slot i (text and value), or "" when empty.
  [[nodiscard]] u8 GetAt(u32 i, CKLF_String& out) const;
  // The string in slot i without a copy, or null.
  CKLF_String* GetPtrAt(u32 i) const;

  template <typename I, typename = std::enable_if_t<std::is_integral<I>::value>>
  CKLF_String operator[](I i) const {
    // A copy that fails is returned failed (IsError), as strings pass on.
    CKLF_String out;
    if (klIndexBelow(i, m_capacity)) (void)GetAt(static_cast<u32>(i), out);
    return out;
  }

  // First index whose text equals key, or -1.
  i32 LSearch(const CKLF_String& key, u8 caseSensitive);
  // Lower-bound bisection over an ascending array: the index of a string
  // equal to key, or -1.
  i32 BSearch(const CKLF_String& key, u8 caseSensitive);
  // Where key would be inserted to keep the array ascending (after equal
  // strings).
  u32 UpperBound(const CKLF_String& key, u8 caseSensitive);

  void Empty() override;
  i32 CompareElements(const void* a, const void* b) override;

 protected:
  void i_ReleaseSlots(u32 from) override;

 private:
  [[nodiscard]] CKLF_String* i_Make(const CKLF_String& s, u32 value);
};
