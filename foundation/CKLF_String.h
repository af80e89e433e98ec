// Owned NUL-terminated byte string with printf-style formatting, slicing,
// trimming and search. Case operations know ASCII letters only.
//
// Compare() has the framework's own sign: +1 when this string sorts BEFORE
// the other (the opposite of strcmp); the operators and the sorted searches
// of the arrays follow that sign. The buffer holds at least 20 bytes and
// never shrinks on its own (Compact() shrinks it).
//
// Assignment, construction and += report a failure in the error code alone
// (IsError), which the caller reads. A string that failed passes its
// failure on: a copy of it, or a string it is appended to, fails with its
// code.
#pragma once

#include "CKLF_Mem.h"

class CKLF_String : public CKLF_FrameWork {
 public:
  CKLF_String();
  CKLF_String(const char* s);  // NOLINT: implicit by design, as C strings mix freely
  CKLF_String(char* s);        // NOLINT
  CKLF_String(const CKLF_String& other);
  ~CKLF_String() override;

  [[nodiscard]] CKLF_String& operator=(const char* s);
  [[nodiscard]] CKLF_String& operator=(const CKLF_String& other);
  CKLF_String& operator=(char c);
  // The empty text, in the buffer the string has (nothing to fail), and no
  // error.
  void Clear();

  // Access.
  // Never null: a string whose buffer could not be had reads as "".
  char* GetStr() const {
    u8* p = m_buffer.GetPtr();
    return p ? reinterpret_cast<char*>(p) : s_empty;
  }
  operator char*() const { return GetStr(); }
  u32 GetLength() const { return m_length; }
  CKLF_Mem& GetMem() { return m_buffer; }
  char operator[](u32 i) const { return i < m_length ? GetStr()[i] : 0; }
  char operator[](int i) const { return i >= 0 ? (*this)[static_cast<u32>(i)] : 0; }
  u32 GetUserValue() const { return m_userValue; }
  void SetUserValue(u32 v) { m_userValue = v; }
  [[nodiscard]] u8 Compact();
  static char HEXDigit(u32 n);
  // UTF-8: the bytes of the character that starts s (size bytes, at least
  // 1), its code point in codePoint when given. A valid sequence (not
  // overlong, no surrogate, at most U+10FFFF) is one character; any other
  // byte is one of its own, its value the code point (Latin-1).
  static u32 CharBytes(const char* s, u32 size, u32* codePoint = nullptr);
  // The bytes of the first whole characters of s (size bytes) that fit in
  // most: a cut never splits a sequence.
  static u32 WholeCharacters(const char* s, u32 size, u32 most);

  // Building; the pointer results are the buffer, or 0 on failure (error 17).
  [[nodiscard]] char* Append(const CKLF_String& s, u32 grow);
  [[nodiscard]] char* Append(const char* s);
  [[nodiscard]] char* Append(char c);
  [[nodiscard]] CKLF_String& operator+=(const CKLF_String& s);
  [[nodiscard]] CKLF_String& operator+=(const char* s);
  [[nodiscard]] CKLF_String& operator+=(char c);
  [[nodiscard]] char* Space(u32 n);
  [[nodiscard]] char* InsertAt(u32 pos, const CKLF_String& s);
  [[nodiscard]] char* InsertAt(u32 pos, char c);
  [[nodiscard]] char* InsertAt(u32 pos, const char* s);
  char* DeleteFrom(u32 start, u32 count);
  void Reverse();
  void MakeUpper();
  void MakeLower();
  void TrimLeft();
  void TrimRight();
  void TrimBoth();
  // Bytes of m up to its first NUL, at most max when max is not 0.
  [[nodiscard]] char* SetFromMem(CKLF_Mem& m, u32 max);
  [[nodiscard]] char* BufferHEX(const void* p, u32 n);
  [[nodiscard]] char* BufferHEX(CKLF_Mem& m, u32 n);
  [[nodiscard]] char* Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  // Slicing: a new string; a failure of the new string is copied here too.
  CKLF_String Left(u32 n);
  CKLF_String Right(u32 n);
  // fromLeft 0: start counts from the end (the slice ends start characters
  // before the end).
  CKLF_String Mid(u32 start, u32 count, u8 fromLeft);

  // +1 when this string sorts first, -1 when after, 0 when equal.
  i32 Compare(const CKLF_String& other);
  i32 Compare(const char* s);
  i32 Compare(char c);
  i32 CompareNoCase(const CKLF_String& other);
  i32 CompareNoCase(const char* s);
  i32 CompareNoCase(char c);

  // Index of the needle at or after start, or -1. Backward (forward 0)
  // searches the reversed string and returns the position counted from the
  // end: start skips the last start characters.
  i32 Find(const CKLF_String& needle, i32 start, u8 forward);
  i32 Find(char c, i32 start, u8 forward);
  i32 Find(const char* needle, i32 start, u8 forward);

 private:
  [[nodiscard]] u8 i_Assign(const char* s, u32 len);
  [[nodiscard]] u8 i_Grow(u32 need, u32 grow);
  i32 i_Compare(const char* s, u32 len, bool noCase);

  static char s_empty[1];

  u32 m_userValue;
  CKLF_Mem m_buffer;
  u32 m_length;
};

CKLF_String operator+(const CKLF_String& a, const CKLF_String& b);
CKLF_String operator+(const CKLF_String& a, const char* b);
CKLF_String operator+(const char* a, const CKLF_String& b);
CKLF_String operator+(const CKLF_String& a, char b);
CKLF_String operator+(char a, const CKLF_String& b);

// Operators compare through Compare(): a < b when a.Compare(b) > 0.
bool operator==(const CKLF_String& a, const CKLF_String& b);
bool operator!=(const CKLF_String& a, const CKLF_String& b);
bool operator<(const CKLF_String& a, const CKLF_String& b);
bool operator<=(const CKLF_String& a, const CKLF_String& b);
bool operator>(const CKLF_String& a, const CKLF_String& b);
bool operator>=(const CKLF_String& a, const CKLF_String& b);
bool operator==(const CKLF_String& a, const char* b);
bool operator!=(const CKLF_String& a, const char* b);
bool operator==(const char* a, const CKLF_String& b);
bool operator!=(const char* a, const CKLF_String& b);
bool operator<(const CKLF_String& a, const char* b);
bool operator<=(const CKLF_String& a, const char* b);
bool operator>(const CKLF_String& a, const char* b);
bool operator>=(const CKLF_String& a, const char* b);
bool operator<(const char* a, const CKLF_String& b);
bool operator<=(const char* a, const CKLF_String& b);
bool operator>(const char* a, const CKLF_String& b);
bool operator>=(const char* a, const CKLF_String& b);
bool operator==(const CKLF_String& a, char b);
bool operator!=(const CKLF_String& a, char b);
bool operator<(const CKLF_String& a, char b);
bool operator<=(const CKLF_String& a, char b);
bool operator>(const CKLF_String& a, char b);
bool operator>=(const CKLF_String& a, char b);
bool operator==(char a, const CKLF_String& b);
bool operator!=(char a, const CKLF_String& b);
bool operator<(char a, const CKLF_String& b);
bool operator<=(char a, const CKLF_String& b);
bool operator>(char a, const CKLF_String& b);
bool operator>=(char a, const CKLF_String& b);

// Splits a storage key at its last ">": "A>B>C" gives "A>B" and "C"; a key
// without ">" gives "" and the whole key. Returns 1; 0 when memory ran out
// (or key is a string that failed), the code in parent and name.
[[nodiscard]] u8 SplitPath(CKLF_String key, CKLF_String& parent, CKLF_String& name);
