// Reads untrusted bytes as a shape set file, alone and as a preset
// library loads it in place of a library or after it. A set it takes
// gives sound library records (at most 64 nodes, numbers within their
// ranges); a refused set leaves the library and its file as they were.
#include <cmath>
#include <cstring>
#include <vector>

#include "CPresetsLibrary.h"
#include "CShapeSetFile.h"
#include "FuzzDigest.h"

namespace {

const u32 R = CShapeSetFile::kRecordSize;

// The presets file in memory, starting with two records.
struct Files : CCutterFilesPort {
  std::vector<u8> bytes;
  i32 ReadWhole(const char*, CKLF_Mem& block) override {
    block.free();
    if (!bytes.empty() &&
        !(block.alloc(static_cast<u32>(bytes.size())) && block.Copy(0, bytes.data(), static_cast<u32>(bytes.size()))))
      return 0;
    return 1;
  }
  u8 WriteWhole(const char*, const u8* data, u32 size) override {
    bytes.assign(data, data + size);
    return 1;
  }
};

void CheckRecord(const u8* rec) {
  if (rec[64] > 64 || rec[63] != 0 || !CShapeSetFile::RecordIsSound(rec)) __builtin_trap();
  for (u32 i = 0; i < rec[64]; ++i)
    if (std::fabs(CShapeSetFile::RecordH(rec, i)) > 3 || !(CShapeSetFile::RecordU(rec, i) >= 0) ||
        CShapeSetFile::RecordU(rec, i) > 1 || !(CShapeSetFile::RecordS(rec, i) >= 0) || CShapeSetFile::RecordS(rec, i) > 1)
      __builtin_trap();
}

void Check(const u8* data, u32 size);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  KLF_FuzzAsIsAndSigned(data, size, Check);
  return 0;
}

namespace {

void Check(const u8* data, u32 size) {
  CShapeSetFile set;
  CKLF_Mem records;
  u32 count = 0;
  const u8 took = set.Read(data, size, records, count);
  if (took) {
    if (static_cast<u64>(count) * R != records.GetSize()) __builtin_trap();
    for (u32 k = 0; k < count; ++k) CheckRecord(records.GetPtr() + static_cast<size_t>(k) * R);
  } else if (count != 0 || records.GetSize() != 0) {
    __builtin_trap();
  }

  for (u8 replace = 0; replace < 2; ++replace) {
    Files files;
    CShapeSetFile::SHAPE shape = {};
    files.bytes.assign(2 * R, 0);
    CShapeSetFile::PutRecord(files.bytes.data(), "one", shape);
    CShapeSetFile::PutRecord(files.bytes.data() + R, "two", shape);
    CPresetsLibrary lib(&files, nullptr);
    lib.Open(nullptr);
    const std::vector<u8> before = files.bytes;
    const u8 loaded = lib.sub_opLoadSetFromMemBlock(data, size, replace);
    if (loaded != took) __builtin_trap();
    const u32 want = !took || count == 0 ? 2 : (replace ? count : 2 + count);
    if (lib.GetCount() != want || ((!took || count == 0) && files.bytes != before)) __builtin_trap();
  }
}

}  // namespace
