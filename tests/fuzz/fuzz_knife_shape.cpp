// Reads untrusted bytes as a knife shape file (the keyed-storage form 2.0
// or the 53-byte form 1.2). A shape it takes has at most 64 nodes, every
// value a number within its range, and writes back to a 2.0 file that
// reads to the same shape; a refused one leaves the shape untouched and
// names its alert.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "CKnifeShapeFile.h"
#include "FuzzDigest.h"

namespace {

bool SameShape(const CKnifeShapeFile::SHAPE& a, const CKnifeShapeFile::SHAPE& b) {
  if (a.nodeCount != b.nodeCount) return false;
  for (u32 i = 0; i < a.nodeCount; ++i)
    if (a.nodes[i].H != b.nodes[i].H || a.nodes[i].U != b.nodes[i].U || a.S[i] != b.S[i]) return false;
  return true;
}

void Check(const u8* data, u32 size);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  KLF_FuzzAsIsAndSigned(data, size, Check);
  return 0;
}

namespace {

void Check(const u8* data, u32 size) {
  CKnifeShapeFile reader;
  CKnifeShapeFile::SHAPE shape, untouched;
  std::memset(&shape, 0x5A, sizeof(shape));
  std::memcpy(&untouched, &shape, sizeof(shape));
  if (!reader.Read(data, size, shape)) {
    if (std::memcmp(&shape, &untouched, sizeof(shape)) != 0 || !*reader.GetAlert()) __builtin_trap();
    return;
  }
  if (shape.nodeCount > 64) __builtin_trap();
  for (u32 i = 0; i < shape.nodeCount; ++i)
    if (!(std::fabs(shape.nodes[i].H) <= 3) || !(shape.nodes[i].U >= 0 && shape.nodes[i].U <= 1) ||
        !(shape.S[i] >= 0 && shape.S[i] <= 1))
      __builtin_trap();

  static int fd = memfd_create("fuzz_knife_shape", 0);
  char path[64];
  std::snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
  if (fd < 0 || ftruncate(fd, 0) != 0) return;
  CKLF_StdFile out(path, 4);
  CKnifeShapeFile writer;
  if (!writer.Write(&out, shape)) __builtin_trap();
  CKLF_StdFile in(path, 1);
  CKnifeShapeFile::SHAPE back;
  std::memset(&back, 0, sizeof(back));
  if (!reader.Read(&in, back) || !SameShape(shape, back)) __builtin_trap();
}

}  // namespace
