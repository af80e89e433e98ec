// The random source of the layout operations (knot offsets, random
// selection and flips, clone mutation). The operations fix the order of
// their draws; the source decides the numbers. Without one they draw from
// the C library's rand().
#pragma once

#include "KLF_Types.h"

class CLayoutRandom {
 public:
  virtual ~CLayoutRandom() {}
  // 0..2147483647.
  virtual u32 Rand() = 0;
};

// A seeded source that gives the same numbers on every machine (a 64-bit
// linear congruential generator, its upper 31 bits).
class CLayoutSeededRandom : public CLayoutRandom {
 public:
  explicit CLayoutSeededRandom(u64 seed) : m_state(seed) {}
  u32 Rand() override {
    m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<u32>(m_state >> 33);
  }

 private:
  u64 m_state;
};
