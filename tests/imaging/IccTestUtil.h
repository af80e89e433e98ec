// A small ICC profile that libpng accepts: the 128-byte header of a
// display profile in the given colour space ("RGB ", "GRAY", "CMYK") over
// the XYZ connection space with a D50 illuminant, and one text tag (libpng
// refuses a profile of the header alone). The seed fills the profile id,
// so profiles can be told apart.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace icctest {

inline std::vector<uint8_t> Profile(const char space[4], uint8_t seed) {
  std::vector<uint8_t> p(160, 0);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  put(0, 160);
  put(8, 0x02100000);
  std::memcpy(&p[12], "mntr", 4);
  std::memcpy(&p[16], space, 4);
  std::memcpy(&p[20], "XYZ ", 4);
  std::memcpy(&p[36], "acsp", 4);
  put(68, 0x0000F6D6);
  put(72, 0x00010000);
  put(76, 0x0000D32D);
  for (int i = 0; i < 16; ++i) p[84 + i] = static_cast<uint8_t>(seed + i);
  put(128, 1);
  std::memcpy(&p[132], "cprt", 4);
  put(136, 144);
  put(140, 16);
  std::memcpy(&p[144], "text", 4);
  std::memcpy(&p[152], "test", 4);
  return p;
}

}  // namespace icctest
