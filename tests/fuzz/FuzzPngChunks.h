// PNG chunks carry a CRC of their type and data, which almost every
// mutation breaks. A target that includes this header (in its one source
// file) gets a mutator that recomputes every chunk's CRC after libFuzzer's
// change, so mutated sizes and data get past libpng's check to the
// readers' own refusals.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int) {
  size = LLVMFuzzerMutate(data, size, maxSize);
  for (size_t p = 8; p + 12 <= size;) {
    const uint32_t length = static_cast<uint32_t>(data[p]) << 24 | data[p + 1] << 16 | data[p + 2] << 8 | data[p + 3];
    if (length > size - p - 12) break;
    const uLong crc = crc32(0, data + p + 4, static_cast<uInt>(length + 4));
    for (int i = 0; i < 4; ++i) data[p + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    p += 12 + length;
  }
  return size;
}
