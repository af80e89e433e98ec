// Keyed-storage images carry an MD5 digest of everything after their
// 24-byte head (bytes 8 to 23), which almost every mutation breaks: the
// targets of formats built on the storage read each input as it is and
// once more with the digest made right, so mutations reach the records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "CKLF_MD5Block.h"

template <class Check>
void KLF_FuzzAsIsAndSigned(const uint8_t* data, size_t size, Check check) {
  check(data, static_cast<u32>(size));
  if (size < 25) return;
  std::vector<u8> fixed(data, data + size);
  CKLF_MD5Block md5;
  md5.Update(fixed.data() + 24, static_cast<u32>(size - 24));
  md5.Final(fixed.data() + 8);
  check(fixed.data(), static_cast<u32>(size));
}
