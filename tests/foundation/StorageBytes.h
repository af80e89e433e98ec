// Hand-built container bytes for the storage tests and the fuzz seeds.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "CKLF_ZipBlock.h"
#include "KLF_Types.h"

namespace klftest {

inline void PutBE(std::vector<u8>& v, u64 x, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) v.push_back(static_cast<u8>(x >> (8 * i)));
}

inline u32 GetBE32(const std::vector<u8>& v, size_t at) {
  return (u32(v[at]) << 24) | (u32(v[at + 1]) << 16) | (u32(v[at + 2]) << 8) | v[at + 3];
}

// Records written exactly as given, with the head's count and last id
// computed unless overridden.
struct RawStore {
  std::vector<u8> records;
  u32 count = 0;
  u32 lastId = 0;

  // Returns the record's offset in the container.
  u32 Add(u8 type, u32 parent, u32 id, const std::string& name, const std::vector<u8>& value) {
    u32 offset = 32 + static_cast<u32>(records.size());
    PutBE(records, 11 + name.size() + value.size(), 4);
    records.push_back(type);
    PutBE(records, parent, 4);
    PutBE(records, id, 4);
    PutBE(records, name.size(), 2);
    records.insert(records.end(), name.begin(), name.end());
    records.insert(records.end(), value.begin(), value.end());
    ++count;
    lastId = std::max(lastId, id);
    return offset;
  }
  static std::vector<u8> U32(u32 x) {
    std::vector<u8> v;
    PutBE(v, x, 4);
    return v;
  }
  static std::vector<u8> Str(const std::string& s) {
    std::vector<u8> v = U32(static_cast<u32>(s.size() + 1));
    v.insert(v.end(), s.c_str(), s.c_str() + s.size() + 1);
    return v;
  }

  std::vector<u8> Bytes() const { return Bytes(count, lastId); }
  std::vector<u8> Bytes(u32 cnt, u32 last) const {
    std::vector<u8> out = {'K', 'L', 'C', 'P', 'S', 'v', '4', '0'};
    out.resize(24, 0);  // digest left zero
    PutBE(out, cnt, 4);
    PutBE(out, last, 4);
    out.insert(out.end(), records.begin(), records.end());
    const char* m = "KLCPSv40";
    out.insert(out.end(), m, m + 8);
    return out;
  }

  // The read-mostly variant: records, the packed index, its size, magic.
  std::vector<u8> Accelerated(std::vector<std::pair<std::string, u32>> index, bool sort = true) const {
    if (sort) std::sort(index.begin(), index.end());
    std::vector<u8> ix;
    for (auto& e : index) {
      PutBE(ix, e.first.size(), 2);
      ix.insert(ix.end(), e.first.begin(), e.first.end());
      PutBE(ix, e.second, 4);
    }
    CKLF_ZipBlock z;
    z.SetSourceBlock(ix.data(), static_cast<u32>(ix.size()));
    EXPECT_TRUE(z.Process());
    std::vector<u8> out = Bytes();
    out.resize(out.size() - 8);
    out[7] = 'S';
    out.insert(out.end(), z.GetDestBlock()->GetPtr(), z.GetDestBlock()->GetPtr() + z.GetDestBlock()->GetSize());
    PutBE(out, z.GetDestBlock()->GetSize(), 4);
    const char* m = "KLCPSv40";
    out.insert(out.end(), m, m + 8);
    return out;
  }
};

}  // namespace klftest
